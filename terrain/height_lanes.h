// Per-vertex arithmetic on the heights of one grid row, written once for a single float and
// for four floats side by side (SSE), so that the sculpting tools' loops run four vertices at
// a time and their last few vertices round exactly as the others.
//
// An operation is a generic lambda op(y, c) that returns the new height of column c from its
// old height y, using Lanes<T>::Load for per-column inputs and the helpers below; T is float
// or F4.
#pragma once

#include "KrTerrain.h"

#include <cmath>
#include <cstddef>
#include <cstdint>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

inline float Min(float a, float b) {
    return a < b ? a : b;
}
inline float Max(float a, float b) {
    return a > b ? a : b;
}
inline float Abs(float a) {
    return std::fabs(a);
}
inline float Select(bool take, float a, float b) {
    return take ? a : b;
}

#if defined(__SSE2__)

// Four floats. Min and Max are minps and maxps, which answer as a < b ? a : b and
// a > b ? a : b do, so both forms agree even on NaN.
struct F4 {
    __m128 v;
};
struct M4 {
    __m128 v; // all bits set in the lanes where a comparison held
};

inline F4 operator+(F4 a, F4 b) {
    return {_mm_add_ps(a.v, b.v)};
}
inline F4 operator-(F4 a, F4 b) {
    return {_mm_sub_ps(a.v, b.v)};
}
inline F4 operator*(F4 a, F4 b) {
    return {_mm_mul_ps(a.v, b.v)};
}
inline F4 Min(F4 a, F4 b) {
    return {_mm_min_ps(a.v, b.v)};
}
inline F4 Max(F4 a, F4 b) {
    return {_mm_max_ps(a.v, b.v)};
}
inline F4 Abs(F4 a) {
    return {_mm_andnot_ps(_mm_set1_ps(-0.0f), a.v)};
}
inline M4 operator<=(F4 a, F4 b) {
    return {_mm_cmple_ps(a.v, b.v)};
}
inline M4 operator>(F4 a, F4 b) {
    return {_mm_cmpgt_ps(a.v, b.v)};
}
inline M4 operator&&(M4 a, M4 b) {
    return {_mm_and_ps(a.v, b.v)};
}
inline F4 Select(M4 take, F4 a, F4 b) {
    return {_mm_or_ps(_mm_and_ps(take.v, a.v), _mm_andnot_ps(take.v, b.v))};
}

#endif

template <class T> struct Lanes;
template <> struct Lanes<float> {
    static float Load(const float* p) { return *p; }
    static float Splat(float f) { return f; }
};
#if defined(__SSE2__)
template <> struct Lanes<F4> {
    static F4 Load(const float* p) { return {_mm_loadu_ps(p)}; }
    static F4 Splat(float f) { return {_mm_set1_ps(f)}; }
};
#endif

// Asks for the cache lines of the four vertices `ahead` records past v, the row a loop
// will work on next: by the time it gets there they have arrived, where the hardware's
// own prefetching would stop at every page the row crosses. 0 asks for nothing.
inline void Prefetch(const KrTerrainVertex* v, ptrdiff_t ahead) {
    if (ahead != 0) {
        __builtin_prefetch(v + ahead, 1, 3);
        __builtin_prefetch(v + ahead + 2, 1, 3);
    }
}

// line[c].y = op(line[c].y, c) for columns first to last; ahead as for Prefetch.
template <class Op>
void ForEachHeight(KrTerrainVertex* line, int32_t first, int32_t last, ptrdiff_t ahead, Op op) {
    int32_t c = first;
#if defined(__SSE2__)
    for (; c + 3 <= last; c += 4) {
        KrTerrainVertex* v = line + c;
        Prefetch(v, ahead);
        const F4 y = op(F4{_mm_setr_ps(v[0].y, v[1].y, v[2].y, v[3].y)}, c);
        v[0].y = _mm_cvtss_f32(y.v);
        v[1].y = _mm_cvtss_f32(_mm_shuffle_ps(y.v, y.v, 1));
        v[2].y = _mm_cvtss_f32(_mm_movehl_ps(y.v, y.v));
        v[3].y = _mm_cvtss_f32(_mm_shuffle_ps(y.v, y.v, 3));
    }
#endif
    for (; c <= last; ++c)
        line[c].y = op(line[c].y, c);
}

// line[c].y = op(lanes, c) for columns first to last, for operations that have the old
// heights at hand already; lanes is a float or an F4, the type op is to return.
template <class Op>
void SetEachHeight(KrTerrainVertex* line, int32_t first, int32_t last, ptrdiff_t ahead, Op op) {
    int32_t c = first;
#if defined(__SSE2__)
    for (; c + 3 <= last; c += 4) {
        KrTerrainVertex* v = line + c;
        Prefetch(v, ahead);
        const F4 y = op(F4{}, c);
        v[0].y = _mm_cvtss_f32(y.v);
        v[1].y = _mm_cvtss_f32(_mm_shuffle_ps(y.v, y.v, 1));
        v[2].y = _mm_cvtss_f32(_mm_movehl_ps(y.v, y.v));
        v[3].y = _mm_cvtss_f32(_mm_shuffle_ps(y.v, y.v, 3));
    }
#endif
    for (; c <= last; ++c)
        line[c].y = op(0.0f, c);
}

// out[c] = op(lanes, c) for columns first to last, as SetEachHeight.
template <class Op> void ForEachColumn(float* out, int32_t first, int32_t last, Op op) {
    int32_t c = first;
#if defined(__SSE2__)
    for (; c + 3 <= last; c += 4)
        _mm_storeu_ps(out + c, op(F4{}, c).v);
#endif
    for (; c <= last; ++c)
        out[c] = op(0.0f, c);
}

// Copies the heights of columns first to last to out[first..last]; ahead as for Prefetch.
inline void CopyHeights(const KrTerrainVertex* line, int32_t first, int32_t last, ptrdiff_t ahead,
                        float* out) {
    int32_t c = first;
#if defined(__SSE2__)
    for (; c + 3 <= last; c += 4) {
        const KrTerrainVertex* v = line + c;
        Prefetch(v, ahead);
        _mm_storeu_ps(out + c, _mm_setr_ps(v[0].y, v[1].y, v[2].y, v[3].y));
    }
#endif
    for (; c <= last; ++c)
        out[c] = line[c].y;
}
