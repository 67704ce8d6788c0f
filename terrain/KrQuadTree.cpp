#include "KrQuadTree.h"

#include "KrTerrain.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <new>

namespace {

// Per-tile marks.
constexpr uint8_t kCulled = 1;      // set by the cull pass, consumed by the index pass
constexpr uint8_t kWholeInside = 2; // set with kCulled: the marks below were not refreshed
constexpr uint8_t kSplits = 4;      // the index pass's answer, valid for splitPass_'s pass
constexpr uint8_t kReached = 8;     // only while linking
constexpr uint8_t kLinks = 0xF0;    // one bit per direction
constexpr uint8_t LinkBit(int direction) {
    return static_cast<uint8_t>(0x10 << direction);
}

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

// The tiles of the levels above this one: level k starts there in the per-tile tables.
int64_t FirstOfLevel(int32_t level) {
    return ((int64_t{1} << (2 * level)) - 1) / 3;
}

int32_t* PutTriangle(int32_t* out, int32_t a, int32_t b, int32_t c) {
    out[0] = a;
    out[1] = b;
    out[2] = c;
    return out + 3;
}

// Whether the search from the root takes this child: the box between its top-left and
// bottom-right corners holds the point, bounds included.
bool BoxHolds(const KrTerrainVertex* vertices, int32_t tl, int32_t br, const D3DXVECTOR3& p) {
    const KrTerrainVertex& a = vertices[tl];
    const KrTerrainVertex& b = vertices[br];
    return a.x <= p.x && p.x <= b.x && b.z <= p.z && p.z <= a.z;
}

} // namespace

KrQuadTree::KrQuadTree(int32_t w, int32_t d) : w_(w), d_(d) {
    // A tile splits while it is more than one cell wide and one row tall; on grids wider
    // than deep the tiles reach one row before one column.
    while (leafLevel_ + 1 < kMaxLevels && ((w - 1) >> leafLevel_) > 1 &&
           ((d - 1) >> leafLevel_) > 1)
        ++leafLevel_;
    for (int32_t k = 0; k <= leafLevel_; ++k) {
        tileWidth_[k] = (w - 1) >> k;
        tileHeightW_[k] = ((d - 1) >> k) * w;
    }
    tileCount_ = static_cast<int32_t>(FirstOfLevel(leafLevel_ + 1));
    splitterCount_ = static_cast<int32_t>(FirstOfLevel(leafLevel_));
}

KrQuadTree::~KrQuadTree() = default;

KrQuadTree::Tile KrQuadTree::At(int32_t level, int32_t column, int32_t row) const {
    Tile t;
    t.level = level;
    t.column = column;
    t.row = row;
    t.index = static_cast<int32_t>(FirstOfLevel(level)) + (row << level) + column;
    const int32_t tl = row * tileHeightW_[level] + column * tileWidth_[level];
    t.corners[CornerTL] = tl;
    t.corners[CornerTR] = tl + tileWidth_[level];
    t.corners[CornerBL] = tl + tileHeightW_[level];
    t.corners[CornerBR] = tl + tileHeightW_[level] + tileWidth_[level];
    return t;
}

KrQuadTree::Tile KrQuadTree::ChildOf(const Tile& tile, int quarter) const {
    return At(tile.level + 1, 2 * tile.column + (quarter & 1), 2 * tile.row + (quarter >> 1));
}

bool KrQuadTree::Beside(const Tile& tile, int direction, Tile* out) const {
    const int32_t last = (1 << tile.level) - 1;
    int32_t column = tile.column, row = tile.row;
    switch (direction) {
    case EdgeUp:
        --row;
        break;
    case EdgeDown:
        ++row;
        break;
    case EdgeLeft:
        --column;
        break;
    case EdgeRight:
        ++column;
        break;
    default:
        return false;
    }
    if (column < 0 || row < 0 || column > last || row > last)
        return false;
    *out = At(tile.level, column, row);
    return true;
}

bool KrQuadTree::Linked(const Tile& tile, int direction) const {
    return marks_ && (marks_[tile.index] & LinkBit(direction));
}

int32_t KrQuadTree::CentreOf(const Tile& tile) {
    const int32_t* c = tile.corners;
    return (c[CornerTL] + c[CornerTR] + c[CornerBL] + c[CornerBR]) / 4;
}

KrQuadTile KrQuadTree::Child(KrQuadTile tile, int quarter) const {
    if (!Subdivide(tile) || quarter < 0 || quarter > 3)
        return KrQuadTile{};
    return KrQuadTile{tile.level + 1, 2 * tile.column + (quarter & 1),
                      2 * tile.row + (quarter >> 1)};
}

KrQuadTile KrQuadTree::Neighbour(KrQuadTile tile, int direction) const {
    const Tile t = At(tile);
    Tile beside;
    if (!Linked(t, direction) || !Beside(t, direction, &beside))
        return KrQuadTile{};
    return KrQuadTile{beside.level, beside.column, beside.row};
}

void KrQuadTree::Corners(KrQuadTile tile, int32_t out[4]) const {
    const Tile t = At(tile);
    for (int k = 0; k < 4; ++k)
        out[k] = t.corners[k];
}

int32_t KrQuadTree::Centre(KrQuadTile tile) const {
    return CentreOf(At(tile));
}

float KrQuadTree::Radius(KrQuadTile tile) const {
    return radius_ ? radius_[At(tile).index] : 0.0f;
}

bool KrQuadTree::Culled(KrQuadTile tile) const {
    return marks_ && (marks_[At(tile).index] & kCulled);
}

// Leaves get the half diagonal too: with radius 0 a cell would be culled as soon as the
// one point standing for it left the frustum, and holes opened at the view's edges.
bool KrQuadTree::Build(const KrTerrainVertex* vertices) {
    const auto count = static_cast<size_t>(tileCount_);
    radius_.reset(new (std::nothrow) float[count]);
    marks_.reset(new (std::nothrow) uint8_t[count]());
    splitPass_.reset(new (std::nothrow) uint32_t[static_cast<size_t>(splitterCount_)]());
    if (!radius_ || !marks_ || (splitterCount_ > 0 && !splitPass_)) {
        radius_.reset();
        marks_.reset();
        splitPass_.reset();
        return false;
    }
    for (int32_t level = 0; level <= leafLevel_; ++level) {
        const int32_t side = 1 << level;
        const int32_t across = tileWidth_[level], down = tileHeightW_[level];
        float* radius = radius_.get() + FirstOfLevel(level);
        for (int32_t row = 0; row < side; ++row) {
            int32_t tl = row * down;
            for (int32_t column = 0; column < side; ++column, tl += across)
                *radius++ =
                    0.5f * Length(Position(vertices, tl) - Position(vertices, tl + down + across));
        }
    }
    return true;
}

bool KrQuadTree::OnRegularLayout(const KrTerrainVertex* vertices) const {
    for (int32_t c = 0; c + 1 < w_; ++c)
        if (!(vertices[c].x < vertices[c + 1].x))
            return false;
    for (int32_t r = 0; r + 1 < d_; ++r)
        if (!(vertices[r * w_].z > vertices[(r + 1) * w_].z))
            return false;
    for (int32_t r = 0; r < d_; ++r) {
        const KrTerrainVertex* row = vertices + static_cast<int64_t>(r) * w_;
        const float z = row[0].z;
        bool same = true;
        for (int32_t c = 0; c < w_; ++c)
            same &= (row[c].x == vertices[c].x) & (row[c].z == z);
        if (!same)
            return false;
    }
    return true;
}

// FindNode's steps from the root toward this tile, each taking the first child whose box
// holds the point searched for.
bool KrQuadTree::SearchReaches(const Tile& tile, const KrTerrainVertex* vertices) const {
    const D3DXVECTOR3 p = Position(vertices, CentreOf(tile));
    for (int32_t level = 0; level < tile.level; ++level) {
        const int32_t shift = tile.level - level - 1;
        const Tile parent = At(level, tile.column >> (shift + 1), tile.row >> (shift + 1));
        const int toward = ((tile.row >> shift) & 1) * 2 + ((tile.column >> shift) & 1);
        for (int quarter = 0; quarter <= toward; ++quarter) {
            const Tile child = ChildOf(parent, quarter);
            const bool holds =
                BoxHolds(vertices, child.corners[CornerTL], child.corners[CornerBR], p);
            if (holds != (quarter == toward))
                return false;
        }
    }
    return true;
}

// On a regular layout a tile's centre lies strictly inside it, and so strictly inside one
// child box on each level above it: the search finds every tile. Elsewhere each tile that
// could be linked is searched for once.
void KrQuadTree::LinkNeighbours(const KrTerrainVertex* vertices) {
    if (!marks_)
        return;
    const bool regular = OnRegularLayout(vertices);
    if (!regular) {
        for (int32_t level = 0; level < leafLevel_; ++level) {
            const int32_t side = 1 << level;
            for (int32_t row = 0; row < side; ++row)
                for (int32_t column = 0; column < side; ++column) {
                    const Tile t = At(level, column, row);
                    const bool reached = SearchReaches(t, vertices);
                    marks_[t.index] = static_cast<uint8_t>(reached ? marks_[t.index] | kReached
                                                                   : marks_[t.index] & ~kReached);
                }
        }
    }
    // NeighbourCorners' candidate is the tile beside this one wherever that exists and has
    // the same corners: always to the left and right; up and down only where tiles are
    // square, since the candidates there are as many rows tall as the tile is wide. On a
    // border the candidate wraps into another row, where no tile starts. Beside tiles'
    // corners are even steps apart, so their centres are exact.
    const int64_t w = w_, limit = std::min(w * w - 1, w * d_ - 1);
    for (int32_t level = 0; level < leafLevel_; ++level) {
        const int32_t side = 1 << level, last = side - 1;
        const int64_t g = tileWidth_[level], down = tileHeightW_[level];
        const bool square = g * w == down;
        const int64_t toCentre = g / 2 + down / 2;
        const int32_t steps[4] = {-side, side, -1, 1}; // to the tile beside, in the tables
        uint8_t* marks = marks_.get() + FirstOfLevel(level);
        for (int32_t row = 0; row < side; ++row) {
            for (int32_t column = 0; column < side; ++column, ++marks) {
                const int64_t tl = row * down + column * g;
                const bool beside[4] = {square && row > 0, square && row<last, column> 0,
                                        column < last};
                const int64_t centres[4] = {tl - down + toCentre, tl + down + toCentre,
                                            tl - g + toCentre, tl + g + toCentre};
                uint8_t links = 0;
                for (int direction = 0; direction < 4; ++direction) {
                    if (!beside[direction] || centres[direction] > limit)
                        continue;
                    if (regular || (marks[steps[direction]] & kReached))
                        links |= LinkBit(direction);
                }
                *marks = static_cast<uint8_t>((*marks & ~kLinks) | links);
            }
        }
    }
    if (!regular) {
        for (int32_t i = 0; i < splitterCount_; ++i)
            marks_[i] &= static_cast<uint8_t>(~kReached);
    }
}

int32_t KrQuadTree::NeighbourCorners(KrQuadTile tile, int direction, int32_t out[4]) const {
    const Tile t = At(tile);
    const int32_t tl = t.corners[CornerTL], tr = t.corners[CornerTR];
    const int32_t bl = t.corners[CornerBL], br = t.corners[CornerBR];
    const int32_t g = tr - tl;
    const int32_t w = w_;
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
    // W × W − 1 as well as the vertex count: on grids deeper than wide this drops links
    // below row W, as the first design did.
    const int64_t c = (int64_t{out[0]} + out[1] + out[2] + out[3]) / 4;
    if (c < 0 || c > int64_t{w} * w - 1 || c >= int64_t{w_} * d_)
        return -1;
    return static_cast<int32_t>(c);
}

KrQuadTile KrQuadTree::FindNode(const KrTerrainVertex* vertices, const int32_t sought[4]) const {
    const int64_t index = (int64_t{sought[0]} + sought[1] + sought[2] + sought[3]) / 4;
    if (index < 0 || index >= int64_t{w_} * d_)
        return KrQuadTile{};
    const D3DXVECTOR3 p = Position(vertices, static_cast<int32_t>(index));

    Tile t = At(0, 0, 0);
    for (;;) {
        if (t.corners[0] == sought[0] && t.corners[1] == sought[1] && t.corners[2] == sought[2] &&
            t.corners[3] == sought[3])
            return KrQuadTile{t.level, t.column, t.row};
        if (t.level == leafLevel_)
            return KrQuadTile{};
        int quarter = 0;
        while (quarter < 4 && !BoxHolds(vertices, ChildOf(t, quarter).corners[CornerTL],
                                        ChildOf(t, quarter).corners[CornerBR], p))
            ++quarter;
        if (quarter == 4)
            return KrQuadTile{};
        t = ChildOf(t, quarter);
    }
}

int32_t KrQuadTree::LodLevel(KrQuadTile tile, const D3DXVECTOR3* eye,
                             const KrTerrainVertex* vertices, double lodFactor) const {
    return LodLevelOf(At(tile), eye, vertices, lodFactor);
}

int32_t KrQuadTree::LodLevelOf(const Tile& tile, const D3DXVECTOR3* eye,
                               const KrTerrainVertex* vertices, double lodFactor) const {
    const float d = Length(*eye - Position(vertices, CentreOf(tile)));
    const double level = static_cast<double>(d) * lodFactor;
    // Also catches a non-finite distance, which a degenerate frustum gives.
    if (!(level >= 2.0))
        return 1;
    if (level >= 2147483647.0)
        return INT32_MAX;
    return static_cast<int32_t>(level);
}

int KrQuadTree::IsInFrustum(KrQuadTile tile, const KrFrustum* frustum,
                            const KrTerrainVertex* vertices) const {
    float lengths[6];
    PlaneLengths(frustum, lengths);
    return Classify(At(tile), frustum, lengths, vertices);
}

// ClassifySphere's tests, in its order, on lengths worked out beforehand.
int KrQuadTree::Classify(const Tile& tile, const KrFrustum* frustum, const float planeLengths[6],
                         const KrTerrainVertex* vertices) const {
    D3DXVECTOR3 c;
    if (tile.level < leafLevel_) {
        c = Position(vertices, CentreOf(tile));
    } else {
        // A cell has no centre vertex (the average index lies elsewhere on the grid): use
        // the midpoint of its corners.
        for (int32_t corner : tile.corners)
            c += Position(vertices, corner);
        c = c * 0.25f;
    }
    const float radius = radius_[tile.index];
    bool crossing = false;
    for (int i = 0; i < 6 && !crossing; ++i)
        crossing = std::fabs(PlaneDistance(frustum->planes[i], c)) / planeLengths[i] < radius;
    if (!crossing) {
        for (const KrPlane& plane : frustum->planes) {
            if (!(PlaneDistance(plane, c) < 0.0f))
                return 0;
        }
    }

    int inside = 0;
    for (int corner : {CornerBR, CornerBL, CornerTR, CornerTL}) {
        const D3DXVECTOR3 p = Position(vertices, tile.corners[corner]);
        if (ContainsPoint(frustum, &p))
            ++inside;
    }
    return inside == 4 ? 2 : 1;
}

void KrQuadTree::FrustumCull(const KrTerrainVertex* vertices, const KrFrustum* frustum) {
    if (!marks_)
        return;
    float lengths[6];
    PlaneLengths(frustum, lengths);
    Cull(At(0, 0, 0), vertices, frustum, lengths);
}

void KrQuadTree::Cull(const Tile& tile, const KrTerrainVertex* vertices, const KrFrustum* frustum,
                      const float planeLengths[6]) {
    const int r = Classify(tile, frustum, planeLengths, vertices);
    uint8_t& marks = marks_[tile.index];
    marks = static_cast<uint8_t>((marks & ~(kCulled | kWholeInside)) | (r == 0 ? kCulled : 0) |
                                 (r == 2 ? kWholeInside : 0));
    if (r == 1 && tile.level < leafLevel_) {
        for (int quarter = 0; quarter < 4; ++quarter)
            Cull(ChildOf(tile, quarter), vertices, frustum, planeLengths);
    }
}

void KrQuadTree::NextIndexPass() {
    if (++indexPass_ == 0)
        indexPass_ = 1; // 0 marks a tile never asked
}

int32_t KrQuadTree::GenerateIndices(int32_t count, int32_t* indices,
                                    const KrTerrainVertex* vertices, const KrFrustum* frustum,
                                    double lodFactor) {
    if (!marks_)
        return count;
    NextIndexPass();
    return Generate(At(0, 0, 0), count, indices, vertices, frustum, lodFactor, false);
}

bool KrQuadTree::Splits(const Tile& tile, const D3DXVECTOR3* eye, const KrTerrainVertex* vertices,
                        double lodFactor) {
    if (tile.level >= leafLevel_)
        return false;
    uint8_t& marks = marks_[tile.index];
    uint32_t& pass = splitPass_[tile.index];
    if (pass != indexPass_) {
        pass = indexPass_;
        const bool splits = tile.corners[CornerTR] - tile.corners[CornerTL] >
                            LodLevelOf(tile, eye, vertices, lodFactor);
        marks = static_cast<uint8_t>(splits ? marks | kSplits : marks & ~kSplits);
    }
    return marks & kSplits;
}

int32_t KrQuadTree::Generate(const Tile& tile, int32_t count, int32_t* indices,
                             const KrTerrainVertex* vertices, const KrFrustum* frustum,
                             double lodFactor, bool ancestorInside) {
    uint8_t& marks = marks_[tile.index];
    // Under a tile that was wholly inside, a mark can only be left from an earlier frame.
    if (marks & kCulled) {
        marks &= static_cast<uint8_t>(~kCulled);
        if (!ancestorInside)
            return count;
    }
    const D3DXVECTOR3* eye = &frustum->centre;
    if (Splits(tile, eye, vertices, lodFactor)) {
        const bool inside = ancestorInside || (marks & kWholeInside);
        for (int quarter = 0; quarter < 4; ++quarter)
            count = Generate(ChildOf(tile, quarter), count, indices, vertices, frustum, lodFactor,
                             inside);
        return count;
    }
    return Emit(tile, count, indices, vertices, eye, lodFactor);
}

int32_t KrQuadTree::CullAndGenerateIndices(int32_t count, int32_t* indices,
                                           const KrTerrainVertex* vertices,
                                           const KrFrustum* frustum, double lodFactor) {
    if (!marks_)
        return count;
    NextIndexPass();
    float lengths[6];
    PlaneLengths(frustum, lengths);
    return CullGenerate(At(0, 0, 0), count, indices, vertices, frustum, lengths, lodFactor, false);
}

// Reached with inside false only when every ancestor was partly inside, which is exactly
// when the cull pass would have classified this tile: the same answer, asked only here.
int32_t KrQuadTree::CullGenerate(const Tile& tile, int32_t count, int32_t* indices,
                                 const KrTerrainVertex* vertices, const KrFrustum* frustum,
                                 const float planeLengths[6], double lodFactor, bool inside) {
    uint8_t& marks = marks_[tile.index];
    marks &= static_cast<uint8_t>(~kCulled);
    if (!inside) {
        const int r = Classify(tile, frustum, planeLengths, vertices);
        marks = static_cast<uint8_t>(r == 2 ? marks | kWholeInside : marks & ~kWholeInside);
        if (r == 0)
            return count;
        inside = r == 2;
    }
    const D3DXVECTOR3* eye = &frustum->centre;
    if (Splits(tile, eye, vertices, lodFactor)) {
        for (int quarter = 0; quarter < 4; ++quarter)
            count = CullGenerate(ChildOf(tile, quarter), count, indices, vertices, frustum,
                                 planeLengths, lodFactor, inside);
        return count;
    }
    return Emit(tile, count, indices, vertices, eye, lodFactor);
}

int32_t KrQuadTree::Emit(const Tile& tile, int32_t count, int32_t* indices,
                         const KrTerrainVertex* vertices, const D3DXVECTOR3* eye,
                         double lodFactor) {
    bool finer[4] = {};
    for (int direction = 0; direction < 4; ++direction) {
        Tile beside;
        finer[direction] = Linked(tile, direction) && Beside(tile, direction, &beside) &&
                           Splits(beside, eye, vertices, lodFactor);
    }
    const int32_t tl = tile.corners[CornerTL], tr = tile.corners[CornerTR];
    const int32_t bl = tile.corners[CornerBL], br = tile.corners[CornerBR];
    int32_t* const start = indices + 3 * static_cast<int64_t>(count);
    int32_t* out = start;

    if (!finer[EdgeUp] && !finer[EdgeDown] && !finer[EdgeLeft] && !finer[EdgeRight]) {
        out = PutTriangle(out, tl, tr, bl);
        out = PutTriangle(out, bl, tr, br);
        return count + 2;
    }
    // One side at a time, split through its midpoint toward a finer neighbour.
    const int32_t c = CentreOf(tile);
    const auto side = [&](bool split, int32_t from, int32_t to) {
        if (split) {
            const int32_t mid = (from + to) / 2;
            out = PutTriangle(out, c, from, mid);
            out = PutTriangle(out, c, mid, to);
        } else {
            out = PutTriangle(out, c, from, to);
        }
    };
    side(finer[EdgeUp], tl, tr);
    side(finer[EdgeDown], br, bl);
    side(finer[EdgeLeft], bl, tl);
    side(finer[EdgeRight], tr, br);
    return count + static_cast<int32_t>((out - start) / 3);
}
