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
    int32_t GenerateIndices(int32_t triangleCount, int32_t* indices,
                            const KrTerrainVertex* vertices, const KrFrustum* frustum,
                            double lodFactor);

    bool Subdivide();
    int32_t NeighbourCorners(int direction, int32_t w, int32_t corners[4]) const;
    KrQuadTree* FindNode(KrQuadTree* root, const KrTerrainVertex* vertices,
                         const int32_t corners[4]);
    int32_t LodLevel(const D3DXVECTOR3* eye, const KrTerrainVertex* vertices,
                     double lodFactor) const;
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
};
