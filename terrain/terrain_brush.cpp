// The height brush: two nested squares of grid vertices around the pick point, and the
// outline of the two circles drawn on the surface.
#include "KrBrushShape.h"
#include "KrEditHistory.h"
#include "KrTerrain.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>

namespace {

constexpr int kCirclePoints = kBrushOutlinePoints / 2;

struct OutlinePoint {
    float x, y, z;
};

} // namespace

void KrTerrain::ApplyHeightBrush() {
    if (!pickHit || !pickRay || !vertices)
        return;
    if (brushShape != kBrushShapeSquare || brushMode > kBrushModeFlat) {
        ApplySculptBrush();
        return;
    }
    float sign = 0.0f;
    switch (brushMode) {
    case 1:
        sign = 1.0f;
        break;
    case 2:
        sign = -1.0f;
        break;
    case 3:
        break;
    default:
        return;
    }
    const bool flat = brushMode == 3;
    const D3DXVECTOR3 p = pickRay->hitPoint;

    const auto square = [&](int32_t radius, float factor) {
        const float r = static_cast<float>(radius);
        int32_t c0, c1, r0, r1, unused;
        WorldToCell(p.x - r, p.z, &c0, &unused);
        WorldToCell(p.x + r, p.z, &c1, &unused);
        WorldToCell(p.x, p.z + r, &unused, &r0); // rows grow toward -z
        WorldToCell(p.x, p.z - r, &unused, &r1);
        // Only the part on the grid can change, so the loops cover just that part.
        c0 = std::max(c0, 0);
        r0 = std::max(r0, 0);
        c1 = std::min(c1, info.cellsPerRow);
        r1 = std::min(r1, info.cellsPerCol);
        const float step = strength * sign * factor;
        for (int32_t row = r0; row <= r1; ++row) {
            KrTerrainVertex* line = vertices + static_cast<size_t>(row) * info.vertsPerRow;
            const int32_t rowStart = row * info.vertsPerRow;
            bool changed = false;
            for (int32_t column = c0; column <= c1; ++column) {
                const float before = line[column].y;
                float after = flat ? 0.0f : before + step;
                // No stroke drives a height to infinity: the normals and the saved file
                // need finite positions.
                if (!std::isfinite(after))
                    after = std::isnan(after) ? before : std::copysign(kMaxToolHeight, after);
                if (!changed && std::bit_cast<uint32_t>(before) != std::bit_cast<uint32_t>(after)) {
                    changed = true;
                    // The rest of the row, before any of it is written.
                    if (history)
                        history->CaptureVertices(*this, rowStart + column, rowStart + c1);
                }
                line[column].y = after;
            }
            // Rows whose heights all kept their bits need no upload.
            if (changed)
                MarkVerticesChanged(rowStart + c0, rowStart + c1);
        }
    };
    square(bigRadius, 5.0f);
    square(smallRadius, 15.0f);
}

bool KrTerrain::UpdateBrushOutline(KrPickRay* pick) {
    // No circles at a point the ray no longer touches.
    if (!pickHit || !pick || !brushOutlineBuffer)
        return false;
    void* locked = nullptr;
    if (FAILED(brushOutlineBuffer->Lock(0, kBrushOutlinePoints * sizeof(OutlinePoint), &locked, 0)))
        return false;
    auto* out = static_cast<OutlinePoint*>(locked);
    const D3DXVECTOR3 p = pick->hitPoint;
    const auto circle = [&](int32_t radius, OutlinePoint* points) {
        const float r = static_cast<float>(radius);
        for (int k = 0; k < kCirclePoints; ++k) {
            // 3.14, not pi: the circle stops about one step short of closing.
            const float a = static_cast<float>(k) * 3.14f / 180.0f;
            const float x = std::sin(a) * r + p.x;
            const float z = std::cos(a) * r + p.z;
            points[k] = OutlinePoint{x, GetHeight(x, z) + 1.0f, z};
        }
    };
    circle(bigRadius, out);
    circle(smallRadius, out + kCirclePoints);
    brushOutlineBuffer->Unlock();
    return true;
}
