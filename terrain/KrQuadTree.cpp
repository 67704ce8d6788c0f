#include "KrQuadTree.h"

#include "KrTerrain.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <new>

namespace {

// The marks in the low byte of a tile's state.
constexpr uint32_t kCulled = 1;      // set by the cull pass, consumed by the index pass
constexpr uint32_t kWholeInside = 2; // set with kCulled: the marks below were not refreshed
constexpr uint32_t kSplits = 4;      // the index pass's answer, for the pass above the marks
constexpr uint32_t kReached = 8;     // only while linking
constexpr uint32_t kLinks = 0xF0;    // one bit per direction
constexpr uint32_t kMarks = 0xFF;
constexpr uint32_t LinkBit(int direction) {
    return 0x10u << direction;
}
// Index passes count up to this and then start again at 1, after every tile's pass is reset.
constexpr uint32_t kPassLimit = 0xFFFFFFu;

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
    int64_t start = 0;
    for (int32_t k = 0; k <= leafLevel_; ++k) {
        levels_[k] = Level{static_cast<int32_t>(start), (w - 1) >> k, ((d - 1) >> k) * w};
        start += int64_t{1} << (2 * k);
    }
    levels_[leafLevel_ + 1].start = static_cast<int32_t>(start);
    tileCount_ = static_cast<int32_t>(start);
}

KrQuadTree::~KrQuadTree() = default;

KrQuadTree::Tile KrQuadTree::At(int32_t level, int32_t column, int32_t row) const {
    const Level& l = levels_[level];
    return Tile{level, column, row, l.start + (row << level) + column,
                row * l.down + column * l.across};
}

inline KrQuadTree::Tile KrQuadTree::ChildOf(const Tile& tile, int quarter) const {
    const int32_t level = tile.level + 1;
    const Level& l = levels_[level];
    const int32_t right = quarter & 1, lower = quarter >> 1;
    const int32_t column = 2 * tile.column + right, row = 2 * tile.row + lower;
    return Tile{level, column, row, l.start + (row << level) + column,
                tile.tl + right * l.across + lower * l.down};
}

inline bool KrQuadTree::Beside(const Tile& tile, int direction, Tile* out) const {
    const int32_t side = 1 << tile.level;
    const Level& l = levels_[tile.level];
    *out = tile;
    switch (direction) {
    case EdgeUp:
        out->row -= 1, out->index -= side, out->tl -= l.down;
        return tile.row > 0;
    case EdgeDown:
        out->row += 1, out->index += side, out->tl += l.down;
        return tile.row < side - 1;
    case EdgeLeft:
        out->column -= 1, out->index -= 1, out->tl -= l.across;
        return tile.column > 0;
    case EdgeRight:
        out->column += 1, out->index += 1, out->tl += l.across;
        return tile.column < side - 1;
    default:
        return false;
    }
}

inline void KrQuadTree::CornersOf(const Tile& tile, int32_t out[4]) const {
    const Level& l = levels_[tile.level];
    out[CornerTL] = tile.tl;
    out[CornerTR] = tile.tl + l.across;
    out[CornerBL] = tile.tl + l.down;
    out[CornerBR] = tile.tl + l.down + l.across;
}

// The corners' average, (TL + TR + BL + BR) / 4; every term is at least 0.
inline int32_t KrQuadTree::CentreOf(int32_t level, int32_t tl) const {
    const Level& l = levels_[level];
    return (4 * tl + 2 * l.across + 2 * l.down) >> 2;
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
    if (!tiles_ || !(tiles_[t.index].state & LinkBit(direction)) || !Beside(t, direction, &beside))
        return KrQuadTile{};
    return KrQuadTile{beside.level, beside.column, beside.row};
}

void KrQuadTree::Corners(KrQuadTile tile, int32_t out[4]) const {
    CornersOf(At(tile), out);
}

int32_t KrQuadTree::Centre(KrQuadTile tile) const {
    return CentreOf(At(tile));
}

float KrQuadTree::Radius(KrQuadTile tile) const {
    return tiles_ ? tiles_[At(tile).index].radius : 0.0f;
}

bool KrQuadTree::Culled(KrQuadTile tile) const {
    return tiles_ && (tiles_[At(tile).index].state & kCulled);
}

// Leaves get the half diagonal too: with radius 0 a cell would be culled as soon as the
// one point standing for it left the frustum, and holes opened at the view's edges.
bool KrQuadTree::Build(const KrTerrainVertex* vertices) {
    tiles_.reset(new (std::nothrow) TileState[static_cast<size_t>(tileCount_)]);
    if (!tiles_)
        return false;
    indexPass_ = 0;
    TileState* tile = tiles_.get();
    for (int32_t level = 0; level <= leafLevel_; ++level) {
        const int32_t side = 1 << level;
        const int32_t across = levels_[level].across, down = levels_[level].down;
        for (int32_t row = 0; row < side; ++row) {
            int32_t tl = row * down;
            for (int32_t column = 0; column < side; ++column, tl += across, ++tile)
                *tile = TileState{
                    0.5f * Length(Position(vertices, tl) - Position(vertices, tl + down + across)),
                    0};
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
    int32_t tl = 0; // of the tile on the way down, from the root
    for (int32_t level = 1; level <= tile.level; ++level) {
        const Level& l = levels_[level];
        const int32_t shift = tile.level - level;
        const int toward = ((tile.row >> shift) & 1) * 2 + ((tile.column >> shift) & 1);
        for (int quarter = 0; quarter <= toward; ++quarter) {
            const int32_t child = tl + (quarter & 1) * l.across + (quarter >> 1) * l.down;
            if (BoxHolds(vertices, child, child + l.down + l.across, p) != (quarter == toward))
                return false;
        }
        tl += (toward & 1) * l.across + (toward >> 1) * l.down;
    }
    return true;
}

// On a regular layout a tile's centre lies strictly inside it, and so strictly inside one
// child box on each level above it: the search finds every tile. Elsewhere each tile that
// could be linked is searched for once.
void KrQuadTree::LinkNeighbours(const KrTerrainVertex* vertices) {
    if (!tiles_)
        return;
    const bool regular = OnRegularLayout(vertices);
    if (!regular) {
        for (int32_t level = 0; level < leafLevel_; ++level) {
            const int32_t side = 1 << level;
            for (int32_t row = 0; row < side; ++row)
                for (int32_t column = 0; column < side; ++column) {
                    const Tile t = At(level, column, row);
                    uint32_t& state = tiles_[t.index].state;
                    state = SearchReaches(t, vertices) ? state | kReached : state & ~kReached;
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
        const int64_t g = levels_[level].across, down = levels_[level].down;
        const bool square = g * w == down;
        const int64_t toCentre = g / 2 + down / 2;
        const int32_t steps[4] = {-side, side, -1, 1}; // to the tile beside, in tiles_
        TileState* tile = tiles_.get() + levels_[level].start;
        for (int32_t row = 0; row < side; ++row) {
            for (int32_t column = 0; column < side; ++column, ++tile) {
                const int64_t tl = row * down + column * g;
                const bool beside[4] = {square && row > 0, square && row<last, column> 0,
                                        column < last};
                const int64_t centres[4] = {tl - down + toCentre, tl + down + toCentre,
                                            tl - g + toCentre, tl + g + toCentre};
                uint32_t links = 0;
                for (int direction = 0; direction < 4; ++direction) {
                    if (!beside[direction] || centres[direction] > limit)
                        continue;
                    if (regular || (tile[steps[direction]].state & kReached))
                        links |= LinkBit(direction);
                }
                tile->state = (tile->state & ~kLinks) | links;
            }
        }
    }
    if (!regular) {
        for (int32_t i = 0; i < levels_[leafLevel_].start; ++i)
            tiles_[i].state &= ~kReached;
    }
}

int32_t KrQuadTree::NeighbourCorners(KrQuadTile tile, int direction, int32_t out[4]) const {
    int32_t corners[4];
    CornersOf(At(tile), corners);
    const int32_t tl = corners[CornerTL], tr = corners[CornerTR];
    const int32_t bl = corners[CornerBL], br = corners[CornerBR];
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
    // W × W − 1 as well as the vertex count: on grids deeper than wide the tiles below row W
    // stay unlinked, as they always have, and the lists depend on that.
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
        int32_t corners[4];
        CornersOf(t, corners);
        if (std::equal(corners, corners + 4, sought))
            return KrQuadTile{t.level, t.column, t.row};
        if (t.level == leafLevel_)
            return KrQuadTile{};
        int quarter = 0;
        for (; quarter < 4; ++quarter) {
            CornersOf(ChildOf(t, quarter), corners);
            if (BoxHolds(vertices, corners[CornerTL], corners[CornerBR], p))
                break;
        }
        if (quarter == 4)
            return KrQuadTile{};
        t = ChildOf(t, quarter);
    }
}

int32_t KrQuadTree::LodLevel(KrQuadTile tile, const D3DXVECTOR3* eye,
                             const KrTerrainVertex* vertices, double lodFactor) const {
    return LodLevelOf(Centre(tile), eye, vertices, lodFactor);
}

int32_t KrQuadTree::LodLevelOf(int32_t centre, const D3DXVECTOR3* eye,
                               const KrTerrainVertex* vertices, double lodFactor) const {
    const float d = Length(*eye - Position(vertices, centre));
    const double level = static_cast<double>(d) * lodFactor;
    // Also catches a non-finite distance, which a degenerate frustum gives.
    if (!(level >= 2.0))
        return 1;
    if (level >= 2147483647.0)
        return INT32_MAX;
    return static_cast<int32_t>(level);
}

KrQuadTree::Pass KrQuadTree::StartPass(const KrTerrainVertex* vertices, const KrFrustum* frustum,
                                       int32_t* indices, double lodFactor) const {
    Pass pass{vertices, frustum, {}, lodFactor, indices};
    // The lengths ClassifySphere divides by, the same expression, once per pass.
    for (int i = 0; i < 6; ++i) {
        const KrPlane& p = frustum->planes[i];
        pass.planeLengths[i] = std::sqrt(p.a * p.a + p.b * p.b + p.c * p.c);
    }
    return pass;
}

int KrQuadTree::IsInFrustum(KrQuadTile tile, const KrFrustum* frustum,
                            const KrTerrainVertex* vertices) const {
    return Classify(StartPass(vertices, frustum, nullptr, 0), At(tile));
}

// ClassifySphere's tests, in its order, on lengths worked out beforehand.
int KrQuadTree::Classify(const Pass& pass, const Tile& tile) const {
    const KrTerrainVertex* vertices = pass.vertices;
    int32_t corners[4];
    CornersOf(tile, corners);
    D3DXVECTOR3 c;
    if (tile.level < leafLevel_) {
        c = Position(vertices, CentreOf(tile));
    } else {
        // A cell has no centre vertex (the average index lies elsewhere on the grid): use
        // the midpoint of its corners.
        for (int32_t corner : corners)
            c += Position(vertices, corner);
        c = c * 0.25f;
    }
    const float radius = tiles_[tile.index].radius;
    const KrPlane* planes = pass.frustum->planes;
    bool crossing = false;
    for (int i = 0; i < 6 && !crossing; ++i)
        crossing = std::fabs(PlaneDistance(planes[i], c)) / pass.planeLengths[i] < radius;
    if (!crossing) {
        for (int i = 0; i < 6; ++i) {
            if (!(PlaneDistance(planes[i], c) < 0.0f))
                return 0;
        }
    }

    int inside = 0;
    for (int corner : {CornerBR, CornerBL, CornerTR, CornerTL}) {
        const D3DXVECTOR3 p = Position(vertices, corners[corner]);
        if (ContainsPoint(pass.frustum, &p))
            ++inside;
    }
    return inside == 4 ? 2 : 1;
}

void KrQuadTree::FrustumCull(const KrTerrainVertex* vertices, const KrFrustum* frustum) {
    if (tiles_)
        Cull(StartPass(vertices, frustum, nullptr, 0), At(0, 0, 0));
}

void KrQuadTree::Cull(const Pass& pass, const Tile& tile) {
    const int r = Classify(pass, tile);
    uint32_t& state = tiles_[tile.index].state;
    state =
        (state & ~(kCulled | kWholeInside)) | (r == 0 ? kCulled : 0) | (r == 2 ? kWholeInside : 0);
    if (r == 1 && tile.level < leafLevel_) {
        for (int quarter = 0; quarter < 4; ++quarter)
            Cull(pass, ChildOf(tile, quarter));
    }
}

void KrQuadTree::NextIndexPass() {
    if (++indexPass_ <= kPassLimit)
        return;
    // Passes this far back could be mistaken for new ones: forget them all.
    for (int32_t i = 0; i < tileCount_; ++i)
        tiles_[i].state &= kMarks;
    indexPass_ = 1; // 0 marks a tile never asked
}

// The answer kept for this pass is read here, inline in both walks; only the first asking in
// a pass works it out.
inline bool KrQuadTree::Splits(const Pass& pass, int32_t level, int32_t index, int32_t tl) {
    if (level >= leafLevel_)
        return false;
    const uint32_t state = tiles_[index].state;
    if (state >> 8 == indexPass_)
        return state & kSplits;
    return WorkOutSplits(pass, level, index, tl);
}

bool KrQuadTree::WorkOutSplits(const Pass& pass, int32_t level, int32_t index, int32_t tl) {
    uint32_t& state = tiles_[index].state;
    const bool splits =
        levels_[level].across >
        LodLevelOf(CentreOf(level, tl), &pass.frustum->centre, pass.vertices, pass.lodFactor);
    state = indexPass_ << 8 | (state & kMarks & ~kSplits) | (splits ? kSplits : 0);
    return splits;
}

int32_t KrQuadTree::GenerateIndices(int32_t count, int32_t* indices,
                                    const KrTerrainVertex* vertices, const KrFrustum* frustum,
                                    double lodFactor) {
    if (!tiles_)
        return count;
    NextIndexPass();
    return Generate(StartPass(vertices, frustum, indices, lodFactor), At(0, 0, 0), count, false);
}

int32_t KrQuadTree::Generate(const Pass& pass, const Tile& tile, int32_t count,
                             bool ancestorInside) {
    uint32_t& state = tiles_[tile.index].state;
    // Under a tile that was wholly inside, a mark can only be left from an earlier frame.
    if (state & kCulled) {
        state &= ~kCulled;
        if (!ancestorInside)
            return count;
    }
    if (Splits(pass, tile.level, tile.index, tile.tl)) {
        const bool inside = ancestorInside || (state & kWholeInside);
        for (int quarter = 0; quarter < 4; ++quarter)
            count = Generate(pass, ChildOf(tile, quarter), count, inside);
        return count;
    }
    return Emit(pass, tile, count);
}

int32_t KrQuadTree::CullAndGenerateIndices(int32_t count, int32_t* indices,
                                           const KrTerrainVertex* vertices,
                                           const KrFrustum* frustum, double lodFactor) {
    if (!tiles_)
        return count;
    NextIndexPass();
    return CullGenerate(StartPass(vertices, frustum, indices, lodFactor), At(0, 0, 0), count,
                        false);
}

// Reached with inside false only when every ancestor was partly inside, which is exactly
// when the cull pass would have classified this tile: the same answer, asked only here.
int32_t KrQuadTree::CullGenerate(const Pass& pass, const Tile& tile, int32_t count, bool inside) {
    uint32_t& state = tiles_[tile.index].state;
    state &= ~kCulled;
    if (!inside) {
        const int r = Classify(pass, tile);
        state = r == 2 ? state | kWholeInside : state & ~kWholeInside;
        if (r == 0)
            return count;
        inside = r == 2;
    }
    if (Splits(pass, tile.level, tile.index, tile.tl)) {
        for (int quarter = 0; quarter < 4; ++quarter)
            count = CullGenerate(pass, ChildOf(tile, quarter), count, inside);
        return count;
    }
    return Emit(pass, tile, count);
}

int32_t KrQuadTree::Emit(const Pass& pass, const Tile& tile, int32_t count) {
    // Only tiles beside this one are linked, and a leaf has no links: its neighbours are
    // leaves, never finer.
    bool finer[4] = {};
    const uint32_t links = tiles_[tile.index].state & kLinks;
    if (links) {
        const Level& l = levels_[tile.level];
        const int32_t side = 1 << tile.level;
        const int32_t steps[4][2] = {
            {-side, -l.down}, {side, l.down}, {-1, -l.across}, {1, l.across}};
        for (int direction = 0; direction < 4; ++direction)
            finer[direction] = (links & LinkBit(direction)) &&
                               Splits(pass, tile.level, tile.index + steps[direction][0],
                                      tile.tl + steps[direction][1]);
    }
    int32_t corners[4];
    CornersOf(tile, corners);
    const int32_t tl = corners[CornerTL], tr = corners[CornerTR];
    const int32_t bl = corners[CornerBL], br = corners[CornerBR];
    int32_t* const start = pass.indices + 3 * static_cast<int64_t>(count);
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
