#include "KrNoise.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <new>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

constexpr int kShifts[kNoiseOctaves] = {5, 4, 3}; // lattices of 32, 16 and 8 cells
// 4/7, 2/7 and 1/7 of sqrt(2), the largest magnitude one octave can reach.
constexpr float kAmplitudes[kNoiseOctaves] = {0.80812204f, 0.40406102f, 0.20203051f};

// Sixteen unit gradients, k × 22.5 degrees.
constexpr float kGradX[16] = {
    1.0f,  0.92387953f,  0.70710678f,  0.38268343f,  0.0f, -0.38268343f, -0.70710678f, -0.92387953f,
    -1.0f, -0.92387953f, -0.70710678f, -0.38268343f, 0.0f, 0.38268343f,  0.70710678f,  0.92387953f};
constexpr float kGradZ[16] = {0.0f,  0.38268343f,  0.70710678f,  0.92387953f,
                              1.0f,  0.92387953f,  0.70710678f,  0.38268343f,
                              0.0f,  -0.38268343f, -0.70710678f, -0.92387953f,
                              -1.0f, -0.92387953f, -0.70710678f, -0.38268343f};

// Position within a lattice cell of j cells out of 2^shift, and its quintic fade.
struct CellTables {
    std::array<float, 32> fraction{}, fade{};
};

constexpr CellTables MakeTables(int shift) {
    CellTables t;
    const int period = 1 << shift;
    for (int j = 0; j < period; ++j) {
        const float f = static_cast<float>(j) / static_cast<float>(period);
        t.fraction[j] = f;
        t.fade[j] = f * f * f * (f * (f * 6.0f - 15.0f) + 10.0f);
    }
    return t;
}

constexpr CellTables kTables[kNoiseOctaves] = {MakeTables(kShifts[0]), MakeTables(kShifts[1]),
                                               MakeTables(kShifts[2])};

uint32_t Mix(uint32_t h) {
    h ^= h >> 16;
    h *= 0x7FEB352Du;
    h ^= h >> 15;
    h *= 0x846CA68Bu;
    h ^= h >> 16;
    return h;
}

int GradientIndex(int32_t ix, int32_t iz, uint32_t seed, int octave) {
    uint32_t h = Mix(seed + 0x9E3779B9u * static_cast<uint32_t>(octave + 1));
    h = Mix(h ^ static_cast<uint32_t>(ix) * 0x85EBCA6Bu);
    h = Mix(h ^ static_cast<uint32_t>(iz) * 0xC2B2AE35u);
    return static_cast<int>(h & 15u);
}

// Within one lattice cell and one vertex row the noise is (l0 + l1·x) + u·(m0 + m1·x), with
// x the position across the cell and u its fade.
struct CellCoefficients {
    float l0, l1, m0, m1;
};

// Gradients at the cell's corners: 00 and 10 on the lattice row above, 01 and 11 below.
CellCoefficients Coefficients(float g00x, float g00z, float g10x, float g10z, float g01x,
                              float g01z, float g11x, float g11z, float fz, float v,
                              float amplitude) {
    const float a = (1.0f - v) * amplitude, b = v * amplitude;
    const float fz1 = fz - 1.0f;
    return CellCoefficients{a * (g00z * fz) + b * (g01z * fz1), a * g00x + b * g01x,
                            a * ((g10z - g00z) * fz - g10x) + b * ((g11z - g01z) * fz1 - g11x),
                            a * (g10x - g00x) + b * (g11x - g01x)};
}

float Evaluate(const CellCoefficients& k, float x, float u) {
    return (k.l0 + k.l1 * x) + u * (k.m0 + k.m1 * x);
}

} // namespace

float SculptNoise(int32_t column, int32_t row, uint32_t seed) {
    float value = 0.0f;
    for (int o = 0; o < kNoiseOctaves; ++o) {
        const int shift = kShifts[o];
        const int32_t mask = (1 << shift) - 1;
        const int32_t ix = column >> shift, iz = row >> shift;
        const float fz = kTables[o].fraction[row & mask];
        const float v = kTables[o].fade[row & mask];
        const auto gx = [&](int32_t x, int32_t z) { return kGradX[GradientIndex(x, z, seed, o)]; };
        const auto gz = [&](int32_t x, int32_t z) { return kGradZ[GradientIndex(x, z, seed, o)]; };
        const CellCoefficients k = Coefficients(
            gx(ix, iz), gz(ix, iz), gx(ix + 1, iz), gz(ix + 1, iz), gx(ix, iz + 1), gz(ix, iz + 1),
            gx(ix + 1, iz + 1), gz(ix + 1, iz + 1), fz, v, kAmplitudes[o]);
        value += Evaluate(k, kTables[o].fraction[column & mask], kTables[o].fade[column & mask]);
    }
    return value;
}

void KrNoiseRows::Row(int32_t row, int32_t first, int32_t last, uint32_t seed, float* out) {
    if (last < first)
        return;
    std::fill(out, out + (last - first + 1), 0.0f);
    for (int o = 0; o < kNoiseOctaves; ++o) {
        const int shift = kShifts[o];
        const int32_t mask = (1 << shift) - 1;
        const int32_t iz = row >> shift;
        const int32_t firstCell = first >> shift, lastCell = last >> shift;

        // The gradients of the two lattice rows, over the cells this run needs.
        Lattice& lat = lattices_[o];
        const bool sameRow = lat.latticeRow == iz && lat.seed == seed;
        if (!sameRow || firstCell < lat.firstCell || lastCell > lat.lastCell) {
            const int32_t from = sameRow ? std::min(firstCell, lat.firstCell) : firstCell;
            const int32_t to = sameRow ? std::max(lastCell, lat.lastCell) : lastCell;
            const size_t n = static_cast<size_t>(to - from) + 2;
            for (auto* g : {&lat.gx0, &lat.gz0, &lat.gx1, &lat.gz1})
                if (g->size() < n)
                    g->resize(n);
            for (size_t i = 0; i < n; ++i) {
                const int32_t ix = from + static_cast<int32_t>(i);
                const int above = GradientIndex(ix, iz, seed, o);
                const int below = GradientIndex(ix, iz + 1, seed, o);
                lat.gx0[i] = kGradX[above];
                lat.gz0[i] = kGradZ[above];
                lat.gx1[i] = kGradX[below];
                lat.gz1[i] = kGradZ[below];
            }
            lat.latticeRow = iz;
            lat.seed = seed;
            lat.firstCell = from;
            lat.lastCell = to;
        }

        const float fz = kTables[o].fraction[row & mask];
        const float v = kTables[o].fade[row & mask];
        const float* fraction = kTables[o].fraction.data();
        const float* fade = kTables[o].fade.data();
        for (int32_t cell = firstCell; cell <= lastCell; ++cell) {
            const size_t i = static_cast<size_t>(cell - lat.firstCell);
            const CellCoefficients k =
                Coefficients(lat.gx0[i], lat.gz0[i], lat.gx0[i + 1], lat.gz0[i + 1], lat.gx1[i],
                             lat.gz1[i], lat.gx1[i + 1], lat.gz1[i + 1], fz, v, kAmplitudes[o]);
            const int32_t c0 = std::max(first, cell << shift);
            const int32_t c1 = std::min(last, (cell << shift) + mask);
            float* dst = out + (c0 - first);
            const int32_t j0 = c0 & mask, count = c1 - c0 + 1;
            int32_t j = 0;
#if defined(__SSE2__)
            const __m128 l0 = _mm_set1_ps(k.l0), l1 = _mm_set1_ps(k.l1);
            const __m128 m0 = _mm_set1_ps(k.m0), m1 = _mm_set1_ps(k.m1);
            for (; j + 4 <= count; j += 4) {
                const __m128 x = _mm_loadu_ps(fraction + j0 + j);
                const __m128 u = _mm_loadu_ps(fade + j0 + j);
                const __m128 n = _mm_add_ps(_mm_add_ps(l0, _mm_mul_ps(l1, x)),
                                            _mm_mul_ps(u, _mm_add_ps(m0, _mm_mul_ps(m1, x))));
                _mm_storeu_ps(dst + j, _mm_add_ps(_mm_loadu_ps(dst + j), n));
            }
#endif
            for (; j < count; ++j)
                dst[j] += Evaluate(k, fraction[j0 + j], fade[j0 + j]);
        }
    }
}

const float* KrNoiseField::Row(int32_t row, int32_t first, int32_t last, int32_t width,
                               int32_t depth, uint32_t seed) {
    // A new grid size makes a new field (once: a field that could not be made is not asked
    // for again until the size changes); a new seed forgets what was made.
    if (width != width_ || depth != depth_) {
        const size_t count = static_cast<size_t>(width) * static_cast<size_t>(depth);
        blocksPerRow_ = ((width - 1) >> kBlockShift) + 1;
        const size_t blocks = static_cast<size_t>(blocksPerRow_) * static_cast<size_t>(depth);
        ready_.reset();
        values_.reset(); // before the new one is made, so the two never coexist
        values_.reset(new (std::nothrow) float[count]);
        ready_.reset(values_ ? new (std::nothrow) uint8_t[blocks]() : nullptr);
        if (!ready_)
            values_.reset();
        width_ = width;
        depth_ = depth;
        seed_ = seed;
    } else if (seed != seed_) {
        if (ready_)
            std::memset(ready_.get(), 0, static_cast<size_t>(blocksPerRow_) * depth);
        seed_ = seed;
    }
    if (!values_ || !ready_) {
        if (scratch_.size() < static_cast<size_t>(width))
            scratch_.resize(static_cast<size_t>(width));
        rows_.Row(row, first, last, seed, scratch_.data() + first);
        return scratch_.data();
    }

    float* values = values_.get() + static_cast<size_t>(row) * static_cast<size_t>(width);
    uint8_t* ready = ready_.get() + static_cast<size_t>(row) * static_cast<size_t>(blocksPerRow_);
    // Runs of blocks not made yet, each in one go.
    const int32_t lastBlock = last >> kBlockShift;
    for (int32_t block = first >> kBlockShift; block <= lastBlock;) {
        if (ready[block]) {
            ++block;
            continue;
        }
        int32_t end = block;
        while (end + 1 <= lastBlock && !ready[end + 1])
            ++end;
        const int32_t from = block << kBlockShift;
        const int32_t to = std::min(((end + 1) << kBlockShift) - 1, width - 1);
        rows_.Row(row, from, to, seed, values + from);
        std::memset(ready + block, 1, static_cast<size_t>(end - block + 1));
        block = end + 1;
    }
    return values;
}
