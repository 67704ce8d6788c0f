// The terrain point under the pick ray, and the two grid queries the tools use.
#include "KrTerrain.h"

#include <cmath>
#include <cstdint>
#include <limits>

#if defined(__SSE2__)
#include "triangle_edges4.h"

#include <emmintrin.h>
#endif

namespace {

D3DXVECTOR3 Cross(const D3DXVECTOR3& a, const D3DXVECTOR3& b) {
    return D3DXVECTOR3(a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x);
}

float Dot(const D3DXVECTOR3& a, const D3DXVECTOR3& b) {
    return a.x * b.x + a.y * b.y + a.z * b.z;
}

// Far off-grid or non-finite coordinates would make the float-to-int conversion undefined;
// they saturate instead and stay off the grid.
int64_t FloorToIndex(float f) {
    constexpr float kLimit = 2147483648.0f; // 2^31
    if (!(f > -kLimit))
        return std::numeric_limits<int32_t>::min();
    if (!(f < kLimit))
        return std::numeric_limits<int32_t>::max();
    return static_cast<int64_t>(std::floor(f));
}

#if defined(__SSE2__)

// IntersectTriangle for the four triangles at tri, with its operations in its order so that
// every lane rounds as the scalar test does. Lane i of the result is set where triangle i is
// hit, its distance in t[i].
int IntersectTriangles4(const KrPickRay& ray, const KrTerrainVertex* v, const int32_t* tri,
                        float t[4]) {
    // Lambdas, not pointers: an intrinsic has no address without optimisation.
    const auto mul = [](__m128 a, __m128 b) { return _mm_mul_ps(a, b); };
    const auto sub = [](__m128 a, __m128 b) { return _mm_sub_ps(a, b); };
    const auto dot = [](__m128 ax, __m128 ay, __m128 az, __m128 bx, __m128 by, __m128 bz) {
        return _mm_add_ps(_mm_add_ps(_mm_mul_ps(ax, bx), _mm_mul_ps(ay, by)), _mm_mul_ps(az, bz));
    };
    const TriangleEdges4 tri4 = GatherTriangleEdges4(v, tri);
    const __m128 x0 = tri4.x0, y0 = tri4.y0, z0 = tri4.z0;
    const __m128 e1x = tri4.e1x, e1y = tri4.e1y, e1z = tri4.e1z;
    const __m128 e2x = tri4.e2x, e2y = tri4.e2y, e2z = tri4.e2z;
    const __m128 dx = _mm_set1_ps(ray.direction.x), dy = _mm_set1_ps(ray.direction.y),
                 dz = _mm_set1_ps(ray.direction.z);
    const __m128 px = sub(mul(dy, e2z), mul(dz, e2y));
    const __m128 py = sub(mul(dz, e2x), mul(dx, e2z));
    const __m128 pz = sub(mul(dx, e2y), mul(dy, e2x));
    const __m128 det = dot(e1x, e1y, e1z, px, py, pz);
    const __m128 inv = _mm_div_ps(_mm_set1_ps(1.0f), det);
    const __m128 sx = sub(_mm_set1_ps(ray.origin.x), x0);
    const __m128 sy = sub(_mm_set1_ps(ray.origin.y), y0);
    const __m128 sz = sub(_mm_set1_ps(ray.origin.z), z0);
    const __m128 u = mul(dot(sx, sy, sz, px, py, pz), inv);
    const __m128 qx = sub(mul(sy, e1z), mul(sz, e1y));
    const __m128 qy = sub(mul(sz, e1x), mul(sx, e1z));
    const __m128 qz = sub(mul(sx, e1y), mul(sy, e1x));
    const __m128 w = mul(dot(dx, dy, dz, qx, qy, qz), inv);
    const __m128 distance = mul(dot(e2x, e2y, e2z, qx, qy, qz), inv);

    const __m128 zero = _mm_setzero_ps(), one = _mm_set1_ps(1.0f);
    const __m128 flat = _mm_and_ps(_mm_cmpgt_ps(det, _mm_set1_ps(-0.0001f)),
                                   _mm_cmplt_ps(det, _mm_set1_ps(0.0001f)));
    __m128 miss = _mm_or_ps(flat, _mm_or_ps(_mm_cmplt_ps(u, zero), _mm_cmpgt_ps(u, one)));
    miss = _mm_or_ps(miss, _mm_or_ps(_mm_cmplt_ps(w, zero), _mm_cmpgt_ps(_mm_add_ps(u, w), one)));
    miss = _mm_or_ps(miss, _mm_cmplt_ps(distance, zero));
    _mm_storeu_ps(t, distance);
    return ~_mm_movemask_ps(miss) & 0xF;
}

#endif

} // namespace

bool KrTerrain::IntersectTriangle(KrPickRay* ray, const D3DXVECTOR3& v0, const D3DXVECTOR3& v1,
                                  const D3DXVECTOR3& v2) {
    const D3DXVECTOR3 e1 = v1 - v0;
    const D3DXVECTOR3 e2 = v2 - v0;
    const D3DXVECTOR3 p = Cross(ray->direction, e2);
    const float det = Dot(e1, p);
    // Both faces hit: the terrain can be picked from below.
    if (det > -0.0001f && det < 0.0001f)
        return false;
    const float inv = 1.0f / det;
    const D3DXVECTOR3 s = ray->origin - v0;
    const float u = Dot(s, p) * inv;
    if (u < 0.0f || u > 1.0f)
        return false;
    const D3DXVECTOR3 q = Cross(s, e1);
    const float v = Dot(ray->direction, q) * inv;
    if (v < 0.0f || u + v > 1.0f)
        return false;
    const float t = Dot(e2, q) * inv;
    ray->distance = t;
    if (t < 0.0f)
        return false;
    ray->hitPoint = ray->origin + ray->direction * t;
    return true;
}

bool KrTerrain::PickTerrain(const int32_t* triangles) {
    pickHit = false;
    if (!pickRay || !vertices || !triangles)
        return false;

    // The search runs on a copy so that a frame without a hit leaves the record as it was:
    // the previous point, finite, and the tools idle because pickHit stays false.
    KrPickRay ray = *pickRay;
    float best = static_cast<float>(info.worldDepth);
    D3DXVECTOR3 point;
    bool hit = false;
    const auto position = [this](int32_t i) {
        return D3DXVECTOR3(vertices[i].x, vertices[i].y, vertices[i].z);
    };
    int32_t t = 0;
#if defined(__SSE2__)
    for (; t + 4 <= visibleTriangleCount; t += 4) {
        float distance[4];
        const int hits = IntersectTriangles4(ray, vertices, triangles + 3 * t, distance);
        for (int i = 0; hits && i < 4; ++i) {
            if ((hits >> i & 1) && distance[i] < best) {
                best = distance[i];
                point = ray.origin + ray.direction * distance[i];
                hit = true;
            }
        }
    }
#endif
    for (; t < visibleTriangleCount; ++t) {
        const int32_t* tri = triangles + 3 * t;
        if (IntersectTriangle(&ray, position(tri[0]), position(tri[1]), position(tri[2])) &&
            ray.distance < best) {
            best = ray.distance;
            point = ray.hitPoint;
            hit = true;
        }
    }
    if (hit) {
        // The listed triangles may be a coarser level of detail than the grid.
        point.y = GetHeight(point.x, point.z);
        pickRay->distance = best;
        pickRay->hitPoint = point;
    }
    pickHit = hit;
    return hit;
}

void KrTerrain::WorldToCell(float x, float z, int32_t* column, int32_t* row) const {
    const float halfWidth = static_cast<float>(info.worldWidth) * 0.5f;
    const float halfDepth = static_cast<float>(info.worldDepth) * 0.5f;
    *column = static_cast<int32_t>(FloorToIndex((x + halfWidth) / info.cellSpacingX));
    *row = static_cast<int32_t>(FloorToIndex((halfDepth - z) / info.cellSpacingZ));
}

float KrTerrain::GetHeight(float x, float z) const {
    if (!vertices)
        return 0.0f;
    const float fx = (x + static_cast<float>(info.worldWidth) * 0.5f) / info.cellSpacingX;
    const float fz = (static_cast<float>(info.worldDepth) * 0.5f - z) / info.cellSpacingZ;
    if (!std::isfinite(fx) || !std::isfinite(fz))
        return 0.0f; // nowhere near the grid
    const int64_t c = FloorToIndex(fx);
    const int64_t r = FloorToIndex(fz);
    const float dx = fx - std::floor(fx);
    const float dz = fz - std::floor(fz);

    const auto height = [this](int64_t row, int64_t column) {
        if (column < 0 || column > info.cellsPerRow || row < 0 || row > info.cellsPerCol)
            return 0.0f;
        return vertices[row * info.vertsPerRow + column].y;
    };
    const float hA = height(r, c);
    const float hB = height(r, c + 1);
    const float hC = height(r + 1, c);
    const float hD = height(r + 1, c + 1);

    // The same B–C diagonal split as the grid's triangles.
    if (dz < 1.0f - dx)
        return hA + dx * (hB - hA) + dz * (hC - hA);
    return hD + (1.0f - dx) * (hC - hD) + (1.0f - dz) * (hB - hD);
}
