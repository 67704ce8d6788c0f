// Square tiles over the vertex grid, down to single cells: frustum culling and
// crack-free level of detail for grids whose sides are one more than a power of two.
#pragma once

#include "KrFrustum.h"

#include <cstddef>
#include <cstdint>
#include <memory>

struct KrTerrainVertex;

enum KrQuadEdge { EdgeUp = 0, EdgeDown = 1, EdgeLeft = 2, EdgeRight = 3 };
enum KrQuadCorner { CornerTL = 0, CornerTR = 1, CornerBL = 2, CornerBR = 3 };

// A tile of the tree: its level (0 is the whole grid; each level halves the tiles' sides)
// and its column and row among that level's 2^level × 2^level tiles. The default is no tile.
struct KrQuadTile {
    int32_t level = -1;
    int32_t column = 0;
    int32_t row = 0;

    explicit operator bool() const { return level >= 0; }
    bool operator==(const KrQuadTile&) const = default;
};

// Tiles are not objects: their corners follow from their level and place. Per tile the tree
// keeps 8 bytes, what cannot be worked out again: the bounding radius, the cull marks, the
// neighbour links and the index pass's split answer. That is under 11 bytes a vertex.
class KrQuadTree {
public:
    // The tree over a W × D grid (W − 1 and D − 1 powers of two); Build gives it its radii.
    KrQuadTree(int32_t w, int32_t d);
    ~KrQuadTree();

    KrQuadTree(const KrQuadTree&) = delete;
    KrQuadTree& operator=(const KrQuadTree&) = delete;

    // Makes the tree's tables and works out every tile's radius from the positions as they
    // are now; later height edits do not change them. False when memory ran out.
    bool Build(const KrTerrainVertex* vertices);
    // Links each tile that splits to the same-size tiles beside it that FindNode finds.
    // Leaves get no links: no tile is finer than a leaf, so the index pass never needs them.
    void LinkNeighbours(const KrTerrainVertex* vertices);
    void FrustumCull(const KrTerrainVertex* vertices, const KrFrustum* frustum);
    // Writes this frame's triangles at indices + 3 × triangleCount; returns the new count,
    // never more than the grid's 2 × (W − 1) × (D − 1).
    int32_t GenerateIndices(int32_t triangleCount, int32_t* indices,
                            const KrTerrainVertex* vertices, const KrFrustum* frustum,
                            double lodFactor);

    // The cull and index passes in one walk, listing the same triangles as FrustumCull then
    // GenerateIndices; tiles below the level-of-detail cut, whose marks the index pass
    // would not read, are not classified. Their marks stay as an earlier frame left them.
    int32_t CullAndGenerateIndices(int32_t triangleCount, int32_t* indices,
                                   const KrTerrainVertex* vertices, const KrFrustum* frustum,
                                   double lodFactor);

    // The tree's shape and what it keeps per tile.
    KrQuadTile Root() const { return KrQuadTile{0, 0, 0}; }
    int32_t LeafLevel() const { return leafLevel_; }
    // Whether the tile splits into four: every tile above the leaf level does.
    bool Subdivide(KrQuadTile tile) const { return tile.level < leafLevel_; }
    // Quarter in KrQuadCorner order.
    KrQuadTile Child(KrQuadTile tile, int quarter) const;
    // The linked tile in that direction, or no tile.
    KrQuadTile Neighbour(KrQuadTile tile, int direction) const;
    void Corners(KrQuadTile tile, int32_t out[4]) const;
    // The corners' average: the centre vertex of a tile that splits.
    int32_t Centre(KrQuadTile tile) const;
    float Radius(KrQuadTile tile) const;
    bool Culled(KrQuadTile tile) const;
    // What the tree holds: itself and its per-tile table.
    size_t HeldBytes() const { return sizeof(*this) + size_t(tileCount_) * sizeof(TileState); }

    // The corners of the same-size tile next to this one go to out; returns their centre
    // index, or −1 when that lies off the grid.
    int32_t NeighbourCorners(KrQuadTile tile, int direction, int32_t out[4]) const;
    // The search from the root by the position of the corners' centre vertex: the tile with
    // these corners if the search meets it, else no tile.
    KrQuadTile FindNode(const KrTerrainVertex* vertices, const int32_t corners[4]) const;
    int32_t LodLevel(KrQuadTile tile, const D3DXVECTOR3* eye, const KrTerrainVertex* vertices,
                     double lodFactor) const;
    // 0 outside, 1 partly inside, 2 wholly inside.
    int IsInFrustum(KrQuadTile tile, const KrFrustum* frustum,
                    const KrTerrainVertex* vertices) const;

private:
    static constexpr int kMaxLevels = 31;

    // Everything kept of a tile. state holds the marks in its low byte and, above them, the
    // index pass that last worked out the split answer among the marks.
    struct TileState {
        float radius;
        uint32_t state;
    };

    // Per level: where its tiles start in tiles_, and a tile's width in columns and height
    // in rows times W.
    struct Level {
        int32_t start, across, down;
    };
    // A tile with what the walks need of it at hand.
    struct Tile {
        int32_t level, column, row;
        int32_t index; // into tiles_
        int32_t tl;    // the top-left corner's vertex
    };

    Tile At(int32_t level, int32_t column, int32_t row) const;
    Tile At(KrQuadTile tile) const { return At(tile.level, tile.column, tile.row); }
    Tile ChildOf(const Tile& tile, int quarter) const;
    // The same-level tile beside this one, whether or not it is linked; false at the border.
    bool Beside(const Tile& tile, int direction, Tile* out) const;
    void CornersOf(const Tile& tile, int32_t out[4]) const;
    int32_t CentreOf(const Tile& tile) const { return CentreOf(tile.level, tile.tl); }
    int32_t CentreOf(int32_t level, int32_t tl) const;
    int32_t LodLevelOf(int32_t centre, const D3DXVECTOR3* eye, const KrTerrainVertex* vertices,
                       double lodFactor) const;

    // What one cull or index pass works with.
    struct Pass {
        const KrTerrainVertex* vertices;
        const KrFrustum* frustum;
        float planeLengths[6]; // the planes' normals' lengths
        double lodFactor;
        int32_t* indices;
    };
    Pass StartPass(const KrTerrainVertex* vertices, const KrFrustum* frustum, int32_t* indices,
                   double lodFactor) const;

    void Cull(const Pass& pass, const Tile& tile);
    int32_t Generate(const Pass& pass, const Tile& tile, int32_t count, bool ancestorInside);
    int32_t CullGenerate(const Pass& pass, const Tile& tile, int32_t count, bool inside);
    // The triangles of a tile drawn whole, split toward finer neighbours.
    int32_t Emit(const Pass& pass, const Tile& tile, int32_t count);
    // IsInFrustum.
    int Classify(const Pass& pass, const Tile& tile) const;
    // Whether the index pass splits this tile. A tile is asked again by each neighbour, so
    // the answer is kept for the pass that worked it out.
    bool Splits(const Pass& pass, int32_t level, int32_t index, int32_t tl);
    bool WorkOutSplits(const Pass& pass, int32_t level, int32_t index, int32_t tl);
    void NextIndexPass();

    // Whether the vertices lie on a grid whose x grows with the column alone and whose z
    // falls with the row alone. The search from the root then always finds a linked tile.
    bool OnRegularLayout(const KrTerrainVertex* vertices) const;
    // Whether FindNode, searching for this tile, would come down to it.
    bool SearchReaches(const Tile& tile, const KrTerrainVertex* vertices) const;

    int32_t w_, d_;
    int32_t leafLevel_ = 0;
    int32_t tileCount_ = 0; // all levels, the leaves last
    Level levels_[kMaxLevels + 1] = {};
    std::unique_ptr<TileState[]> tiles_;
    uint32_t indexPass_ = 0; // counts from 1 up to kPassLimit
};
