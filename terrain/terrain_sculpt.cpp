// The sculpting tools beside the two squares: the round soft brush, and the smooth, set
// height and noise modes in either shape.
//
// A step works row by row over the brush's footprint: the row's run of columns and a weight
// per column (the round falloff, or 1 in the small square and 1/4 in the rest of the big
// one, the two squares' 15 : 5 + 15 proportion), then one pass over the run that reads and
// writes only the heights. Every row passes BeginRowEdit just before it is written.
#include "KrBrushShape.h"
#include "KrEditHistory.h"
#include "KrTerrain.h"
#include "height_lanes.h"

#include <algorithm>
#include <cmath>

namespace {

// Weight of the part of the big square outside the small one, for modes without a square
// meaning of their own.
constexpr float kOuterSquareWeight = 0.25f;
// Raise, lower and noise move a full-weight vertex by strength × 15 a step, as the small
// square does.
constexpr float kStepPerStrength = 15.0f;
// Smoothing and set height close this part of the gap per step and unit of strength, so the
// strength slider's 0.01 to 0.5 runs from 2 % to all of it.
constexpr float kRatePerStrength = 2.0f;

template <class T> T ClampHeight(T y) {
    using L = Lanes<T>;
    return Min(Max(y, L::Splat(-kMaxToolHeight)), L::Splat(kMaxToolHeight));
}

// y moved the part t (0 to 1) of the way to target, never past it, and finite for any
// finite y and target: halves keep the difference from overflowing, and the result is
// held between the two.
template <class T> T Toward(T y, T target, T t) {
    using L = Lanes<T>;
    const T half = L::Splat(0.5f);
    const T moved = y + (t + t) * (half * target - half * y);
    return Min(Max(moved, Min(y, target)), Max(y, target));
}

// [ceil(lo), floor(hi)] within [0, last], or false when that is empty; safe for any floats.
bool GridSpan(float lo, float hi, int32_t last, int32_t* first, int32_t* end) {
    lo = std::ceil(lo);
    hi = std::floor(hi);
    if (!(lo <= hi) || lo > static_cast<float>(last) || hi < 0.0f)
        return false;
    *first = static_cast<int32_t>(std::max(lo, 0.0f));
    *end = static_cast<int32_t>(std::min(hi, static_cast<float>(last)));
    return *first <= *end;
}

struct Run {
    int32_t first = 0, last = -1;
    bool Empty() const { return first > last; }
};

// Which vertices a step touches, and how strongly.
struct Footprint {
    bool round = false;
    int32_t firstRow = 0, lastRow = -1;
    int32_t firstColumn = 0, lastColumn = -1;

    // Round: the pick point in fractional grid coordinates, the spacings and the radii.
    float centreColumn = 0, centreRow = 0, sx = 1, sz = 1, inner = 0, outer = 0;
    // Square: both squares clipped to the grid (either may be empty).
    Run bigColumns, bigRows, smallColumns, smallRows;

    Run Columns(int32_t row) const {
        if (row < firstRow || row > lastRow)
            return {};
        if (!round) {
            Run run;
            for (const auto& [rows, columns] :
                 {std::pair(bigRows, bigColumns), std::pair(smallRows, smallColumns)})
                if (row >= rows.first && row <= rows.last && !columns.Empty()) {
                    run.first = run.Empty() ? columns.first : std::min(run.first, columns.first);
                    run.last = std::max(run.last, columns.last);
                }
            return run;
        }
        const float dz = (static_cast<float>(row) - centreRow) * sz;
        const float room = outer * outer - dz * dz;
        Run run;
        if (!(room > 0.0f) ||
            !GridSpan(centreColumn - std::sqrt(room) / sx, centreColumn + std::sqrt(room) / sx,
                      lastColumn, &run.first, &run.last))
            return {};
        run.first = std::max(run.first, firstColumn);
        return run;
    }

    // Weights of run's columns into out[first..last] (indexed by column). dx2 holds each
    // column's squared distance along x from the centre.
    void Weights(int32_t row, Run run, const float* dx2, float* out) const {
        if (round) {
            const float dz = (static_cast<float>(row) - centreRow) * sz;
            RoundBrushWeights(dx2 + run.first, dz * dz, inner, outer, out + run.first,
                              run.last - run.first + 1);
            return;
        }
        const bool inSmall = row >= smallRows.first && row <= smallRows.last;
        for (int32_t c = run.first; c <= run.last; ++c)
            out[c] = inSmall && c >= smallColumns.first && c <= smallColumns.last
                         ? 1.0f
                         : kOuterSquareWeight;
    }
};

} // namespace

void KrTerrain::BeginStroke() {
    strokeStarting_ = true;
}

void KrTerrain::BeginRowEdit(int32_t row, int32_t firstColumn, int32_t lastColumn) {
    const int32_t start = row * info.vertsPerRow;
    // The whole run as it is before any of it is written, as the two squares keep theirs.
    if (history)
        history->CaptureVertices(*this, start + firstColumn, start + lastColumn);
    MarkVerticesChanged(start + firstColumn, start + lastColumn);
}

void KrTerrain::ApplySculptBrush() {
    const int32_t mode = brushMode;
    if (mode < kBrushModeRaise || mode > kBrushModeNoise)
        return;
    if (brushShape != kBrushShapeSquare && brushShape != kBrushShapeRound)
        return;
    const int32_t w = info.vertsPerRow;
    const float sx = info.cellSpacingX, sz = info.cellSpacingZ;
    if (w < 2 || info.vertsPerCol < 2 || !(sx > 0.0f) || !(sz > 0.0f))
        return;
    const D3DXVECTOR3 p = pickRay->hitPoint;
    if (strokeStarting_) {
        setHeightTarget = std::isnan(p.y) ? 0.0f : ClampHeight(p.y);
        strokeStarting_ = false;
    }

    Footprint f;
    f.round = brushShape == kBrushShapeRound;
    if (f.round) {
        f.inner = static_cast<float>(std::max(std::min(smallRadius, bigRadius), 0));
        f.outer = static_cast<float>(std::max(std::max(smallRadius, bigRadius), 0));
        f.sx = sx;
        f.sz = sz;
        f.centreColumn = p.x / sx + static_cast<float>(w) * 0.5f;
        f.centreRow = static_cast<float>(info.vertsPerCol) * 0.5f - p.z / sz;
        f.firstColumn = 0;
        f.lastColumn = info.cellsPerRow;
        if (!GridSpan(f.centreRow - f.outer / sz, f.centreRow + f.outer / sz, info.cellsPerCol,
                      &f.firstRow, &f.lastRow) ||
            !GridSpan(f.centreColumn - f.outer / sx, f.centreColumn + f.outer / sx,
                      info.cellsPerRow, &f.firstColumn, &f.lastColumn))
            return;
    } else {
        // The squares of the specified brush, found the same way.
        const auto square = [&](int32_t radius, Run* columns, Run* rows) {
            const float r = static_cast<float>(radius);
            int32_t unused;
            WorldToCell(p.x - r, p.z, &columns->first, &unused);
            WorldToCell(p.x + r, p.z, &columns->last, &unused);
            WorldToCell(p.x, p.z + r, &unused, &rows->first);
            WorldToCell(p.x, p.z - r, &unused, &rows->last);
            columns->first = std::max(columns->first, 0);
            rows->first = std::max(rows->first, 0);
            columns->last = std::min(columns->last, info.cellsPerRow);
            rows->last = std::min(rows->last, info.cellsPerCol);
            if (columns->Empty() || rows->Empty())
                *columns = *rows = Run{};
        };
        square(bigRadius, &f.bigColumns, &f.bigRows);
        square(smallRadius, &f.smallColumns, &f.smallRows);
        // The squares share their centre, so the one with the larger radius holds the other.
        const bool bigOuter = bigRadius >= smallRadius;
        const Run& rows = bigOuter ? f.bigRows : f.smallRows;
        const Run& columns = bigOuter ? f.bigColumns : f.smallColumns;
        if (rows.Empty())
            return;
        f.firstRow = rows.first;
        f.lastRow = rows.last;
        f.firstColumn = columns.first;
        f.lastColumn = columns.last;
    }

    // Row buffers, indexed by column: squared x distances, weights, and for
    // smoothing three rows of blurred heights and three of heights as loaded, these with a
    // column of border on each side.
    const size_t stride = static_cast<size_t>(w) + 2;
    if (sculptRows_.size() < 8 * stride)
        sculptRows_.resize(8 * stride);
    float* dx2 = sculptRows_.data();
    float* weight = dx2 + stride;
    float* blurred[3] = {weight + stride, weight + 2 * stride, weight + 3 * stride};
    // raws[slot][c + 1] is column c
    float* raws[3] = {weight + 4 * stride, weight + 5 * stride, weight + 6 * stride};

    if (f.round)
        for (int32_t c = f.firstColumn; c <= f.lastColumn; ++c) {
            const float dx = (static_cast<float>(c) - f.centreColumn) * sx;
            dx2[c] = dx * dx;
        }

    const float s = std::isfinite(strength) ? strength : 0.0f;
    const float rate = std::min(std::max(s * kRatePerStrength, 0.0f), 1.0f);
    const float step = s * kStepPerStrength;

    // Smoothing: each row blurred 1-2-1 across (border columns repeated), for the columns
    // that it or its neighbours above and below edit. Rows are loaded one ahead of the row
    // being written, so the blur only ever sees heights from before this step. The load
    // goes in pieces, and `then` runs after each with the columns whose blur is ready: the
    // row above is written there while the next piece is still on its way from memory.
    const auto slot = [](int32_t row) { return static_cast<size_t>(((row % 3) + 3) % 3); };
    const auto loadBlurred = [&](int32_t row, auto&& then) {
        Run need;
        for (int32_t r = row - 1; r <= row + 1; ++r) {
            const Run run = f.Columns(r);
            if (run.Empty())
                continue;
            need.first = need.Empty() ? run.first : std::min(need.first, run.first);
            need.last = std::max(need.last, run.last);
        }
        if (need.Empty())
            return;
        const int32_t source = std::min(std::max(row, 0), info.cellsPerCol);
        const KrTerrainVertex* line = vertices + static_cast<size_t>(source) * w;
        const ptrdiff_t next = source < std::min(f.lastRow + 1, info.cellsPerCol) ? w : 0;
        float* raw = raws[slot(row)];
        float* out = blurred[slot(row)];
        raw[0] = line[0].y; // column -1 repeats column 0
        raw[w + 1] = line[w - 1].y;
        constexpr int32_t kPiece = 64;
        const int32_t to = std::min(need.last + 1, w - 1);
        int32_t copied = std::max(need.first - 1, 0) - 1;
        for (int32_t a = need.first; a <= need.last; a += kPiece) {
            const int32_t b = std::min(a + kPiece - 1, need.last);
            CopyHeights(line, copied + 1, std::min(b + 1, to), next, raw + 1);
            copied = std::min(b + 1, to);
            ForEachColumn(out, a, b, [&](auto lanes, int32_t c) {
                using L = Lanes<decltype(lanes)>;
                const auto half = L::Splat(0.5f);
                return (half * L::Load(raw + c) + half * L::Load(raw + c + 2)) * half +
                       half * L::Load(raw + c + 1);
            });
            then(a, b);
        }
    };
    const auto nothing = [](int32_t, int32_t) {};
    if (mode == kBrushModeSmooth) {
        loadBlurred(f.firstRow - 1, nothing);
        loadBlurred(f.firstRow, nothing);
    }

    const float target = setHeightTarget;
    const float snap = std::max(std::fabs(target), 1.0f) * 0x1p-20f;
    for (int32_t row = f.firstRow; row <= f.lastRow; ++row) {
        const Run run = f.Columns(row);
        KrTerrainVertex* line = vertices + static_cast<size_t>(row) * w;
        if (!run.Empty()) {
            f.Weights(row, run, dx2, weight);
            BeginRowEdit(row, run.first, run.last);
        }
        if (mode == kBrushModeSmooth) {
            const float* above = blurred[slot(row - 1)];
            const float* here = blurred[slot(row)];
            const float* below = blurred[slot(row + 1)];
            // This row's heights as loaded, which nothing has written since.
            const float* old = raws[slot(row)] + 1;
            loadBlurred(row + 1, [&](int32_t a, int32_t b) {
                a = std::max(a, run.first);
                b = std::min(b, run.last);
                SetEachHeight(line, a, b, 0, [&](auto lanes, int32_t c) {
                    using L = Lanes<decltype(lanes)>;
                    const auto half = L::Splat(0.5f);
                    const auto y = L::Load(old + c);
                    const auto mean =
                        (half * L::Load(above + c) + half * L::Load(below + c)) * half +
                        half * L::Load(here + c);
                    return Toward(y, mean, L::Splat(rate) * L::Load(weight + c));
                });
            });
            continue;
        }
        if (run.Empty())
            continue;
        // The next row is fetched while this one is worked on.
        const ptrdiff_t ahead = row < f.lastRow ? w : 0;

        switch (mode) {
        case kBrushModeRaise:
        case kBrushModeLower: {
            const float k = mode == kBrushModeRaise ? step : -step;
            ForEachHeight(line, run.first, run.last, ahead, [&](auto y, int32_t c) {
                using L = Lanes<decltype(y)>;
                return ClampHeight(y + L::Splat(k) * L::Load(weight + c));
            });
            break;
        }
        case kBrushModeFlat:
            ForEachHeight(line, run.first, run.last, ahead, [&](auto y, int32_t c) {
                using L = Lanes<decltype(y)>;
                return ClampHeight(y - L::Load(weight + c) * y);
            });
            break;
        case kBrushModeSetHeight:
            ForEachHeight(line, run.first, run.last, ahead, [&](auto y, int32_t c) {
                using L = Lanes<decltype(y)>;
                const auto t = L::Splat(rate) * L::Load(weight + c);
                const auto to = L::Splat(target);
                const auto moved = Toward(y, to, t);
                // Rounding would leave the last step a unit short of the target for good.
                return Select(t > L::Splat(0.0f) && Abs(moved - to) <= L::Splat(snap), to, moved);
            });
            break;
        case kBrushModeNoise: {
            const float* noise =
                noise_.Row(row, run.first, run.last, w, info.vertsPerCol, noiseSeed);
            ForEachHeight(line, run.first, run.last, ahead, [&](auto y, int32_t c) {
                using L = Lanes<decltype(y)>;
                return ClampHeight(y + L::Splat(step) * L::Load(weight + c) * L::Load(noise + c));
            });
            break;
        }
        default:
            break;
        }
    }
}
