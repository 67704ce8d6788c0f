// Square tiles over the vertex grid, down to single cells: frustum culling and
// crack-free level of detail for grids whose sides are one more than a power of two.
#pragma once

#include "KrFrustum.h"

#include <cstdint>

struct KrTerrainVertex;

enum KrQuadEdge { EdgeUp = 0, EdgeDown = 1, EdgeLeft = 2, EdgeRight = 3 };
enum KrQuadCorner { CornerTL = 0, CornerTR = 1, CornerBL = 2, CornerBR = 3 };

class KrQuadTree {
public:
    // The root over a W × D grid.
    KrQuadTree(int32_t w, int32_t d);
    virtual ~KrQuadTree();

    KrQuadTree(const KrQuadTree&) = delete;
    KrQuadTree& operator=(const KrQuadTree&) = delete;

    bool Build(const KrTerrainVertex* vertices);
    void LinkNeighbours(KrQuadTree* root, const KrTerrainVertex* vertices, int32_t w);
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

    bool Subdivide();
    // The same-size tile next to this one: its corners go to out, its centre index is
    // returned, or −1 when that centre lies off a grid of vertexCount vertices.
    int32_t NeighbourCorners(int direction, int32_t w, int32_t vertexCount, int32_t out[4]) const;
    KrQuadTree* FindNode(KrQuadTree* root, const KrTerrainVertex* vertices,
                         const int32_t corners[4]);
    int32_t LodLevel(const D3DXVECTOR3* eye, const KrTerrainVertex* vertices,
                     double lodFactor) const;
    // 0 outside, 1 partly inside, 2 wholly inside.
    int IsInFrustum(const KrFrustum* frustum, const KrTerrainVertex* vertices);

    KrQuadTree* neighbours[4] = {};
    KrQuadTree* children[4] = {};
    int32_t centre = 0;
    int32_t corners[4] = {};
    float radius = 0;
    KrSphere boundingSphere{0, 0, 0, 0};
    bool culled = false;

private:
    KrQuadTree() = default;
    int32_t Size() const { return corners[CornerTR] - corners[CornerTL]; }
    int32_t Generate(int32_t count, int32_t* indices, const KrTerrainVertex* vertices,
                     const KrFrustum* frustum, double lodFactor, bool ancestorInside);
    int32_t CullGenerate(int32_t count, int32_t* indices, const KrTerrainVertex* vertices,
                         const KrFrustum* frustum, const float planeLengths[6], double lodFactor,
                         bool inside);
    // The triangles of a tile drawn whole, split toward finer neighbours.
    int32_t Emit(int32_t count, int32_t* indices, const KrTerrainVertex* vertices,
                 const D3DXVECTOR3* eye, double lodFactor);
    // IsInFrustum and the cull pass with the planes' lengths worked out once per frame.
    int Classify(const KrFrustum* frustum, const float planeLengths[6],
                 const KrTerrainVertex* vertices);
    void Cull(const KrTerrainVertex* vertices, const KrFrustum* frustum,
              const float planeLengths[6]);
    // Whether the index pass splits this tile. A tile is asked again by each neighbour,
    // so the answer is kept for the pass that worked it out.
    bool Splits(const D3DXVECTOR3* eye, const KrTerrainVertex* vertices, double lodFactor);

    // Set by the cull pass with culled: this tile was wholly inside. The marks below such
    // a tile were not refreshed this frame, so the index pass ignores them.
    bool wholeInside_ = false;
    // W, so that Subdivide can tell a tile one row tall: on grids wider than deep the tiles
    // reach one row before one column, and splitting them further made tiles that overlapped
    // and overran the index buffer.
    int32_t rowStride_ = 0;
    uint32_t splitPass_ = 0; // the index pass that set splits_; passes count from 1
    bool splits_ = false;
};
