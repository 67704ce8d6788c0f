// A grid made ready away from the interface thread: the vertex array, the quadtree and the
// normal pass's work array, everything a terrain holds but its device buffers. Preparing one
// calls no device and touches no terrain, so it can run on a worker thread while frames go
// on; KrTerrain::InstallGrid then makes the buffers and swaps it in on the interface thread.
#pragma once

#include "KrQuadTree.h"
#include "KrTerrain.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

// How a preparation reports. report, if set, is called on the preparing thread now and then
// with the fraction done (0 to 1, rising); a set cancel flag makes the preparation stop soon
// and return false.
struct KrProgress {
    std::function<void(float)> report;
    const std::atomic<bool>* cancel = nullptr;

    bool Cancelled() const { return cancel && cancel->load(std::memory_order_relaxed); }
    void Report(float fraction) const {
        if (report)
            report(fraction);
    }
};

struct KrTerrainGrid {
    KrTerrainInfo info{};
    std::unique_ptr<KrTerrainVertex[]> vertices;
    std::unique_ptr<KrQuadTree> quadTree;  // null where the quadtree size rule fails
    std::unique_ptr<uint8_t[]> normalUses; // numVertices zeroes
};

// What a preparation says when its cancel flag stopped it.
extern const char* const kPreparationCancelled;

// The flat grid that Create lays out. False, with the reason in *error, for a size that
// cannot make a grid, when memory runs out, or when cancelled; *grid is then empty.
bool PrepareGrid(int32_t width, int32_t depth, int32_t cellSpacing, KrTerrainGrid* grid,
                 const KrProgress& progress = {}, std::string* error = nullptr);
// The same for a description already worked out, whose spacings may differ per axis.
bool PrepareGrid(const KrTerrainInfo& info, KrTerrainGrid* grid, const KrProgress& progress = {},
                 std::string* error = nullptr);
// A MapVertexData file, read and checked as LoadMapVertexData reads it.
bool PrepareMapVertexData(const char* path, KrTerrainGrid* grid, const KrProgress& progress = {},
                          std::string* error = nullptr);

// The quadtree size rule: W − 1 and D − 1 both powers of two of at least 2.
bool QuadTreeFits(int32_t width, int32_t depth);
// The grid's quadtree, when the size rule asks for one, and the normal pass's work array;
// the progress runs from `from` to `to`.
bool PrepareGridTables(KrTerrainGrid* grid, const KrProgress& progress, float from, float to,
                       std::string* error);
