// Auto painting: a layer's whole alpha map set from the terrain's slope and height.
//
// Texel (x, y) samples the terrain at texture coordinates (x / 1024, y / 1024), the point the
// painter's texel stands for: grid column x × (W − 1) / 1024 and row y × (D − 1) / 1024.
// Height and slope there are bilinear between the four vertices around the point, the
// slope from each vertex's gradient by central differences (one-sided at the border). So
// the coverage is smooth across cell edges, where the drawn triangles' own slopes would
// leave creases along every diagonal.
#include "KrAutoPaint.h"
#include "KrEditHistory.h"
#include "KrTerrain.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <utility>
#include <vector>

namespace {

constexpr float kDegreesPerRadian = 57.29577951f;

float RangeCoverage(float x, float lo, float hi, float softness) {
    if (lo > hi)
        std::swap(lo, hi);
    if (std::isnan(x))
        return 0.0f;
    if (x >= lo && x <= hi)
        return 1.0f;
    if (!(softness > 0.0f))
        return 0.0f;
    const float outside = x < lo ? lo - x : x - hi;
    if (!(outside < softness))
        return 0.0f;
    const float t = 1.0f - outside / softness;
    return t * t * (3.0f - 2.0f * t);
}

// One grid row's heights and the two components of each vertex's gradient.
struct GridRow {
    int32_t row = -1;
    std::vector<float> h, gx, gz;
};

} // namespace

float AutoPaintCoverage(float slopeDegrees, float height, const KrAutoPaintRule& rule) {
    const float byHeight =
        RangeCoverage(height, rule.heightMin, rule.heightMax, rule.heightSoftness);
    if (byHeight == 0.0f)
        return 0.0f;
    return byHeight * RangeCoverage(slopeDegrees, rule.slopeMin, rule.slopeMax, rule.slopeSoftness);
}

void KrTerrain::BeginAlphaMapEdit(int32_t layer, const RECT& texels) {
    if (history && layer >= 0 && static_cast<size_t>(layer) < alphaMaps.size())
        history->CaptureTexels(*this, alphaMaps[static_cast<size_t>(layer)], texels.left,
                               texels.top, texels.right - 1, texels.bottom - 1);
}

bool KrTerrain::AutoPaintLayer(int32_t layer, const KrAutoPaintRule& rule) {
    if (layer < 0 || static_cast<size_t>(layer) >= alphaMaps.size() || !vertices)
        return false;
    KrTextureEntry* entry = alphaMaps[static_cast<size_t>(layer)];
    const int32_t w = info.vertsPerRow, d = info.vertsPerCol;
    if (!entry || !entry->texture || w < 2 || d < 2)
        return false;

    // Where each texel column falls between two grid columns.
    constexpr int32_t n = ALPHA_MAP_SIZE;
    std::vector<int32_t> column(n);
    std::vector<float> across(n);
    for (int32_t x = 0; x < n; ++x) {
        const float f = static_cast<float>(x) * static_cast<float>(w - 1) / static_cast<float>(n);
        column[x] = std::min(static_cast<int32_t>(f), w - 2);
        across[x] = f - static_cast<float>(column[x]);
    }

    const auto height = [&](int32_t r, int32_t c) {
        return vertices[static_cast<size_t>(r) * w + c].y;
    };
    GridRow rows[2];
    // Grid row r, keeping the row `keep` that the same texel row needs too.
    const auto load = [&](int32_t r, int32_t keep) -> const GridRow& {
        for (GridRow& g : rows)
            if (g.row == r)
                return g;
        GridRow& g = rows[0].row == keep ? rows[1] : rows[0];
        g.row = r;
        g.h.resize(static_cast<size_t>(w));
        g.gx.resize(static_cast<size_t>(w));
        g.gz.resize(static_cast<size_t>(w));
        const int32_t up = std::max(r - 1, 0), down = std::min(r + 1, d - 1);
        const float dzScale = static_cast<float>(down - up) * info.cellSpacingZ;
        for (int32_t c = 0; c < w; ++c) {
            const int32_t left = std::max(c - 1, 0), right = std::min(c + 1, w - 1);
            g.h[c] = height(r, c);
            g.gx[c] = (height(r, right) - height(r, left)) /
                      (static_cast<float>(right - left) * info.cellSpacingX);
            g.gz[c] = (height(down, c) - height(up, c)) / dzScale;
        }
        return g;
    };

    BeginAlphaMapEdit(layer, RECT{0, 0, n, n});
    D3DLOCKED_RECT locked{};
    if (FAILED(entry->texture->LockRect(0, &locked, nullptr, 0)))
        return false;
    auto* bytes = static_cast<uint8_t*>(locked.pBits);
    for (int32_t y = 0; y < n; ++y, bytes += locked.Pitch) {
        const float f = static_cast<float>(y) * static_cast<float>(d - 1) / static_cast<float>(n);
        const int32_t r = std::min(static_cast<int32_t>(f), d - 2);
        const float down = f - static_cast<float>(r);
        const GridRow& top = load(r, r + 1);
        const GridRow& bottom = load(r + 1, r);
        auto* texel = reinterpret_cast<uint32_t*>(bytes);
        for (int32_t x = 0; x < n; ++x) {
            const int32_t c = column[x];
            const float a = across[x];
            const auto mix = [&](const std::vector<float>& t, const std::vector<float>& b) {
                const float upper = t[c] + a * (t[c + 1] - t[c]);
                const float lower = b[c] + a * (b[c + 1] - b[c]);
                return upper + down * (lower - upper);
            };
            const float h = mix(top.h, bottom.h);
            const float gx = mix(top.gx, bottom.gx), gz = mix(top.gz, bottom.gz);
            const float slope = std::atan(std::sqrt(gx * gx + gz * gz)) * kDegreesPerRadian;
            const float coverage = AutoPaintCoverage(slope, h, rule);
            const uint32_t value = static_cast<uint32_t>(coverage * 255.0f + 0.5f);
            texel[x] = value * 0x01010101u;
        }
    }
    return SUCCEEDED(entry->texture->UnlockRect(0));
}
