#include "KrBrushShape.h"

#include <algorithm>
#include <cmath>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

// 1 / (outer - inner), or 0 for a hard edge, so no lane ever multiplies by infinity.
float InverseBand(float inner, float outer) {
    return outer > inner ? 1.0f / (outer - inner) : 0.0f;
}

float Smoothstep(float distance, float inner, float outer, float inverseBand) {
    if (distance <= inner)
        return 1.0f;
    if (distance >= outer)
        return 0.0f;
    const float t = std::min(std::max((outer - distance) * inverseBand, 0.0f), 1.0f);
    return t * t * (3.0f - 2.0f * t);
}

} // namespace

float RoundBrushWeight(float distance, float inner, float outer) {
    return Smoothstep(distance, inner, outer, InverseBand(inner, outer));
}

void RoundBrushWeights(const float* dx2, float dz2, float inner, float outer, float* out,
                       int32_t count) {
    const float inverseBand = InverseBand(inner, outer);
    int32_t i = 0;
#if defined(__SSE2__)
    const __m128 vdz2 = _mm_set1_ps(dz2), vin = _mm_set1_ps(inner), vout = _mm_set1_ps(outer);
    const __m128 vinv = _mm_set1_ps(inverseBand), zero = _mm_setzero_ps();
    const __m128 one = _mm_set1_ps(1.0f), two = _mm_set1_ps(2.0f), three = _mm_set1_ps(3.0f);
    for (; i + 4 <= count; i += 4) {
        const __m128 d = _mm_sqrt_ps(_mm_add_ps(_mm_loadu_ps(dx2 + i), vdz2));
        __m128 t = _mm_mul_ps(_mm_sub_ps(vout, d), vinv);
        t = _mm_min_ps(_mm_max_ps(t, zero), one);
        __m128 w = _mm_mul_ps(_mm_mul_ps(t, t), _mm_sub_ps(three, _mm_mul_ps(two, t)));
        w = _mm_andnot_ps(_mm_cmpge_ps(d, vout), w);
        const __m128 full = _mm_cmple_ps(d, vin);
        w = _mm_or_ps(_mm_and_ps(full, one), _mm_andnot_ps(full, w));
        _mm_storeu_ps(out + i, w);
    }
#endif
    for (; i < count; ++i)
        out[i] = Smoothstep(std::sqrt(dx2[i] + dz2), inner, outer, inverseBand);
}
