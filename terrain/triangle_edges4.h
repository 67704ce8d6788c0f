// The first corner and the two edges from it of four listed triangles, one per SSE lane, with
// the scalar code's subtractions: the normal pass and the pick both start from these.
#pragma once

#if defined(__SSE2__)
#include "KrTerrain.h"

#include <emmintrin.h>

struct TriangleEdges4 {
    __m128 x0, y0, z0;    // corner 0
    __m128 e1x, e1y, e1z; // corner 1 − corner 0
    __m128 e2x, e2y, e2z; // corner 2 − corner 0
};

inline TriangleEdges4 GatherTriangleEdges4(const KrTerrainVertex* v, const int32_t* tri) {
    const auto gather = [&](int corner, float KrTerrainVertex::*field) {
        return _mm_setr_ps(v[tri[corner]].*field, v[tri[3 + corner]].*field,
                           v[tri[6 + corner]].*field, v[tri[9 + corner]].*field);
    };
    TriangleEdges4 t;
    t.x0 = gather(0, &KrTerrainVertex::x);
    t.y0 = gather(0, &KrTerrainVertex::y);
    t.z0 = gather(0, &KrTerrainVertex::z);
    t.e1x = _mm_sub_ps(gather(1, &KrTerrainVertex::x), t.x0);
    t.e1y = _mm_sub_ps(gather(1, &KrTerrainVertex::y), t.y0);
    t.e1z = _mm_sub_ps(gather(1, &KrTerrainVertex::z), t.z0);
    t.e2x = _mm_sub_ps(gather(2, &KrTerrainVertex::x), t.x0);
    t.e2y = _mm_sub_ps(gather(2, &KrTerrainVertex::y), t.y0);
    t.e2z = _mm_sub_ps(gather(2, &KrTerrainVertex::z), t.z0);
    return t;
}
#endif
