// Placeholder until the quadtree lands: the tree is built but culls and lists nothing.
#include "KrQuadTree.h"

KrQuadTree::KrQuadTree(int32_t w, int32_t d) {
    corners[CornerTL] = 0;
    corners[CornerTR] = w - 1;
    corners[CornerBL] = (d - 1) * w;
    corners[CornerBR] = w * d - 1;
    centre = (corners[0] + corners[1] + corners[2] + corners[3]) / 4;
}

KrQuadTree::~KrQuadTree() {
    for (KrQuadTree* child : children)
        delete child;
}

bool KrQuadTree::Build(const KrTerrainVertex*) {
    return true;
}
void KrQuadTree::LinkNeighbours(KrQuadTree*, const KrTerrainVertex*, int32_t) {}
void KrQuadTree::FrustumCull(const KrTerrainVertex*, const KrFrustum*) {}
int32_t KrQuadTree::GenerateIndices(int32_t count, int32_t*, const KrTerrainVertex*,
                                    const KrFrustum*, double) {
    return count;
}
bool KrQuadTree::Subdivide() {
    return false;
}
int32_t KrQuadTree::NeighbourCorners(int, int32_t, int32_t[4]) const {
    return -1;
}
KrQuadTree* KrQuadTree::FindNode(KrQuadTree*, const KrTerrainVertex*, const int32_t[4]) {
    return nullptr;
}
int32_t KrQuadTree::LodLevel(const D3DXVECTOR3*, const KrTerrainVertex*, double) const {
    return 0;
}
int KrQuadTree::IsInFrustum(const KrFrustum*, const KrTerrainVertex*) {
    return 0;
}
