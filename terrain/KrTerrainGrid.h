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
    // The same flag, with this progress's fractions mapped onto from..to: for one part of a
    // longer piece of work.
    KrProgress Part(float from, float to) const {
        KrProgress part{nullptr, cancel};
        if (report)
            part.report = [whole = report, from, to](float f) { whole(from + (to - from) * f); };
        return part;
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

// A copy of like's grid (description, positions across, texture coordinates) with these
// heights, the normals of the surface they make, and its tables: what importing heights onto
// a grid of that size makes. Heights must be finite.
bool PrepareGridWithHeights(const KrTerrainInfo& info, const KrTerrainVertex* like,
                            const float* heights, KrTerrainGrid* grid,
                            const KrProgress& progress = {}, std::string* error = nullptr);
// A new flat grid, laid out as Create lays it out, with these heights: what importing heights
// of another size makes.
bool PrepareGridFromHeights(int32_t width, int32_t depth, float spacingX, float spacingY,
                            float spacingZ, const float* heights, KrTerrainGrid* grid,
                            const KrProgress& progress = {}, std::string* error = nullptr);

// The quadtree size rule: W − 1 and D − 1 both powers of two of at least 2.
bool QuadTreeFits(int32_t width, int32_t depth);
// The grid's quadtree, when the size rule asks for one, and the normal pass's work array;
// the progress runs from `from` to `to`.
bool PrepareGridTables(KrTerrainGrid* grid, const KrProgress& progress, float from, float to,
                       std::string* error);
