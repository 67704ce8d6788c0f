#include "KrQuadTree.h"

#include "KrTerrain.h"

#include <cmath>
#include <cstdint>

namespace {

D3DXVECTOR3 Position(const KrTerrainVertex* vertices, int32_t index) {
    const KrTerrainVertex& v = vertices[index];
    return D3DXVECTOR3(v.x, v.y, v.z);
}

float Length(const D3DXVECTOR3& v) {
    return std::sqrt(v.x * v.x + v.y * v.y + v.z * v.z);
}

float PlaneDistance(const KrPlane& p, const D3DXVECTOR3& v) {
    return p.a * v.x + p.b * v.y + p.c * v.z + p.d;
}

// The lengths ClassifySphere divides by, the same expression.
void PlaneLengths(const KrFrustum* frustum, float out[6]) {
    for (int i = 0; i < 6; ++i) {
        const KrPlane& p = frustum->planes[i];
        out[i] = std::sqrt(p.a * p.a + p.b * p.b + p.c * p.c);
    }
}

// The index pass under way, for the split answers kept in the tiles.
uint32_t gIndexPass = 0;

void NextIndexPass() {
    if (++gIndexPass == 0)
        gIndexPass = 1; // 0 marks a tile never asked
}

int32_t* PutTriangle(int32_t* out, int32_t a, int32_t b, int32_t c) {
    out[0] = a;
    out[1] = b;
    out[2] = c;
    return out + 3;
}

} // namespace

KrQuadTree::KrQuadTree(int32_t w, int32_t d) : rowStride_(w) {
    corners[CornerTL] = 0;
    corners[CornerTR] = w - 1;
    corners[CornerBL] = (d - 1) * w;
    corners[CornerBR] = w * d - 1;
    centre = (corners[CornerTL] + corners[CornerTR] + corners[CornerBL] + corners[CornerBR]) / 4;
}

KrQuadTree::~KrQuadTree() {
    for (KrQuadTree*& child : children) {
        delete child;
        child = nullptr;
    }
}

bool KrQuadTree::Subdivide() {
    const int32_t tl = corners[CornerTL], tr = corners[CornerTR];
    const int32_t bl = corners[CornerBL], br = corners[CornerBR];
    const int32_t t = (tl + tr) / 2, b = (bl + br) / 2, l = (tl + bl) / 2, r = (tr + br) / 2;
    const int32_t m = (tl + tr + bl + br) / 4;
    // One cell wide, or one row tall (only on grids wider than deep): a leaf.
    if (tr - tl <= 1 || bl - tl <= rowStride_)
        return false;

    const int32_t quads[4][4] = {{tl, t, l, m}, {t, tr, m, r}, {l, m, bl, b}, {m, r, b, br}};
    for (int i = 0; i < 4; ++i) {
        KrQuadTree* child = new KrQuadTree();
        child->rowStride_ = rowStride_;
        for (int k = 0; k < 4; ++k)
            child->corners[k] = quads[i][k];
        child->centre = (quads[i][0] + quads[i][1] + quads[i][2] + quads[i][3]) / 4;
        children[i] = child;
    }
    return true;
}

// Leaves get the half diagonal too: with radius 0 a cell would be culled as soon as the
// one point standing for it left the frustum, and holes opened at the view's edges.
bool KrQuadTree::Build(const KrTerrainVertex* vertices) {
    radius = 0.5f *
             Length(Position(vertices, corners[CornerTL]) - Position(vertices, corners[CornerBR]));
    boundingSphere.radius = radius;
    if (Subdivide()) {
        for (KrQuadTree* child : children)
            child->Build(vertices);
    }
    return true;
}

int32_t KrQuadTree::NeighbourCorners(int direction, int32_t w, int32_t vertexCount,
                                     int32_t out[4]) const {
    const int32_t tl = corners[CornerTL], tr = corners[CornerTR];
    const int32_t bl = corners[CornerBL], br = corners[CornerBR];
    const int32_t g = tr - tl;
    switch (direction) {
    case EdgeUp:
        out[0] = tl - g * w, out[1] = tr - g * w, out[2] = tl, out[3] = tr;
        break;
    case EdgeDown:
        out[0] = bl, out[1] = br, out[2] = bl + g * w, out[3] = br + g * w;
        break;
    case EdgeLeft:
        out[0] = tl - g, out[1] = tl, out[2] = bl - g, out[3] = bl;
        break;
    case EdgeRight:
        out[0] = tr, out[1] = tr + g, out[2] = br, out[3] = br + g;
        break;
    default:
        return -1;
    }
    const int32_t c = (out[0] + out[1] + out[2] + out[3]) / 4;
    if (c < 0 || c > w * w - 1 || c >= vertexCount)
        return -1;
    return c;
}

KrQuadTree* KrQuadTree::FindNode(KrQuadTree* root, const KrTerrainVertex* vertices,
                                 const int32_t sought[4]) {
    const int32_t index = (sought[0] + sought[1] + sought[2] + sought[3]) / 4;
    if (index < 0 || index > root->corners[CornerBR])
        return nullptr;
    const D3DXVECTOR3 p = Position(vertices, index);

    KrQuadTree* node = root;
    for (;;) {
        if (node->corners[0] == sought[0] && node->corners[1] == sought[1] &&
            node->corners[2] == sought[2] && node->corners[3] == sought[3])
            return node;
        if (!node->children[0])
            return nullptr;
        KrQuadTree* next = nullptr;
        for (KrQuadTree* child : node->children) {
            const KrTerrainVertex& tl = vertices[child->corners[CornerTL]];
            const KrTerrainVertex& br = vertices[child->corners[CornerBR]];
            if (tl.x <= p.x && p.x <= br.x && br.z <= p.z && p.z <= tl.z) {
                next = child;
                break;
            }
        }
        if (!next)
            return nullptr;
        node = next;
    }
}

void KrQuadTree::LinkNeighbours(KrQuadTree* root, const KrTerrainVertex* vertices, int32_t w) {
    const int32_t vertexCount = root->corners[CornerBR] + 1;
    for (int direction = 0; direction < 4; ++direction) {
        int32_t candidate[4];
        neighbours[direction] = nullptr;
        if (NeighbourCorners(direction, w, vertexCount, candidate) != -1)
            neighbours[direction] = FindNode(root, vertices, candidate);
    }
    if (children[0]) {
        for (KrQuadTree* child : children)
            child->LinkNeighbours(root, vertices, w);
    }
}

int32_t KrQuadTree::LodLevel(const D3DXVECTOR3* eye, const KrTerrainVertex* vertices,
                             double lodFactor) const {
    const float d = Length(*eye - Position(vertices, centre));
    const double level = static_cast<double>(d) * lodFactor;
    // Also catches a non-finite distance, which a degenerate frustum gives.
    if (!(level >= 2.0))
        return 1;
    if (level >= 2147483647.0)
        return INT32_MAX;
    return static_cast<int32_t>(level);
}

int KrQuadTree::IsInFrustum(const KrFrustum* frustum, const KrTerrainVertex* vertices) {
    float lengths[6];
    PlaneLengths(frustum, lengths);
    return Classify(frustum, lengths, vertices);
}

// ClassifySphere's tests, in its order, on lengths worked out beforehand.
int KrQuadTree::Classify(const KrFrustum* frustum, const float planeLengths[6],
                         const KrTerrainVertex* vertices) {
    D3DXVECTOR3 c;
    if (children[0]) {
        c = Position(vertices, centre);
    } else {
        // A cell has no centre vertex (the average index lies elsewhere on the grid): use
        // the midpoint of its corners.
        for (int32_t corner : corners)
            c += Position(vertices, corner);
        c = c * 0.25f;
    }
    boundingSphere.x = c.x;
    boundingSphere.y = c.y;
    boundingSphere.z = c.z;
    bool crossing = false;
    for (int i = 0; i < 6 && !crossing; ++i)
        crossing = std::fabs(PlaneDistance(frustum->planes[i], c)) / planeLengths[i] <
                   boundingSphere.radius;
    if (!crossing) {
        for (const KrPlane& plane : frustum->planes) {
            if (!(PlaneDistance(plane, c) < 0.0f))
                return 0;
        }
    }

    int inside = 0;
    for (int corner : {CornerBR, CornerBL, CornerTR, CornerTL}) {
        const D3DXVECTOR3 p = Position(vertices, corners[corner]);
        if (ContainsPoint(frustum, &p))
            ++inside;
    }
    return inside == 4 ? 2 : 1;
}

void KrQuadTree::FrustumCull(const KrTerrainVertex* vertices, const KrFrustum* frustum) {
    float lengths[6];
    PlaneLengths(frustum, lengths);
    Cull(vertices, frustum, lengths);
}

void KrQuadTree::Cull(const KrTerrainVertex* vertices, const KrFrustum* frustum,
                      const float planeLengths[6]) {
    const int r = Classify(frustum, planeLengths, vertices);
    culled = r == 0;
    wholeInside_ = r == 2;
    if (r == 1 && children[0]) {
        for (KrQuadTree* child : children)
            child->Cull(vertices, frustum, planeLengths);
    }
}

int32_t KrQuadTree::GenerateIndices(int32_t count, int32_t* indices,
                                    const KrTerrainVertex* vertices, const KrFrustum* frustum,
                                    double lodFactor) {
    NextIndexPass();
    return Generate(count, indices, vertices, frustum, lodFactor, false);
}

bool KrQuadTree::Splits(const D3DXVECTOR3* eye, const KrTerrainVertex* vertices, double lodFactor) {
    if (splitPass_ != gIndexPass) {
        splitPass_ = gIndexPass;
        splits_ = children[0] && Size() > LodLevel(eye, vertices, lodFactor);
    }
    return splits_;
}

int32_t KrQuadTree::Generate(int32_t count, int32_t* indices, const KrTerrainVertex* vertices,
                             const KrFrustum* frustum, double lodFactor, bool ancestorInside) {
    // Under a tile that was wholly inside, a mark can only be left from an earlier frame.
    if (culled) {
        culled = false;
        if (!ancestorInside)
            return count;
    }
    const D3DXVECTOR3* eye = &frustum->centre;
    if (Splits(eye, vertices, lodFactor)) {
        const bool inside = ancestorInside || wholeInside_;
        for (KrQuadTree* child : children)
            count = child->Generate(count, indices, vertices, frustum, lodFactor, inside);
        return count;
    }

    return Emit(count, indices, vertices, eye, lodFactor);
}

int32_t KrQuadTree::CullAndGenerateIndices(int32_t count, int32_t* indices,
                                           const KrTerrainVertex* vertices,
                                           const KrFrustum* frustum, double lodFactor) {
    NextIndexPass();
    float lengths[6];
    PlaneLengths(frustum, lengths);
    return CullGenerate(count, indices, vertices, frustum, lengths, lodFactor, false);
}

// Reached with inside false only when every ancestor was partly inside, which is exactly
// when the cull pass would have classified this tile: the same answer, asked only here.
int32_t KrQuadTree::CullGenerate(int32_t count, int32_t* indices, const KrTerrainVertex* vertices,
                                 const KrFrustum* frustum, const float planeLengths[6],
                                 double lodFactor, bool inside) {
    culled = false;
    if (!inside) {
        const int r = Classify(frustum, planeLengths, vertices);
        wholeInside_ = r == 2;
        if (r == 0)
            return count;
        inside = r == 2;
    }
    const D3DXVECTOR3* eye = &frustum->centre;
    if (Splits(eye, vertices, lodFactor)) {
        for (KrQuadTree* child : children)
            count = child->CullGenerate(count, indices, vertices, frustum, planeLengths, lodFactor,
                                        inside);
        return count;
    }
    return Emit(count, indices, vertices, eye, lodFactor);
}

int32_t KrQuadTree::Emit(int32_t count, int32_t* indices, const KrTerrainVertex* vertices,
                         const D3DXVECTOR3* eye, double lodFactor) {
    const auto finer = [&](KrQuadTree* n) { return n && n->Splits(eye, vertices, lodFactor); };
    const bool up = finer(neighbours[EdgeUp]), down = finer(neighbours[EdgeDown]);
    const bool left = finer(neighbours[EdgeLeft]), right = finer(neighbours[EdgeRight]);
    const int32_t tl = corners[CornerTL], tr = corners[CornerTR];
    const int32_t bl = corners[CornerBL], br = corners[CornerBR];
    int32_t* const start = indices + 3 * static_cast<int64_t>(count);
    int32_t* out = start;

    if (!up && !down && !left && !right) {
        out = PutTriangle(out, tl, tr, bl);
        out = PutTriangle(out, bl, tr, br);
        return count + 2;
    }
    // One side at a time, split through its midpoint toward a finer neighbour.
    const int32_t c = centre;
    const auto side = [&](bool split, int32_t from, int32_t to) {
        if (split) {
            const int32_t mid = (from + to) / 2;
            out = PutTriangle(out, c, from, mid);
            out = PutTriangle(out, c, mid, to);
        } else {
            out = PutTriangle(out, c, from, to);
        }
    };
    side(up, tl, tr);
    side(down, br, bl);
    side(left, bl, tl);
    side(right, tr, br);
    return count + static_cast<int32_t>((out - start) / 3);
}
