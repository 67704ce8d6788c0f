// The per-frame normal pass and the vertex upload that follows it.
//
// The pass gives every listed vertex the face normals of its triangles, added in list order,
// and then normalises it once per listing, as walking the list twice does. The work here is
// arranged to be cheaper and to give the same bits: each vertex is finished once, repeated
// normalisation stops as soon as it can no longer change the vector, four faces or vertices
// go through the SSE unit side by side (its square root and division round exactly as the
// scalar ones do), and only the range of vertices that changed is copied to the device.
#include "KrEditHistory.h"
#include "KrTerrain.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <new>

#if defined(__SSE2__)
#include "triangle_edges4.h"

#include <emmintrin.h>
#endif

namespace {

// D3DXVec3Normalize's arithmetic, one step. Returns false once further steps cannot change
// the vector: a length of exactly 1 divides to itself, and zero stays zero.
bool NormalizeStep(float& x, float& y, float& z) {
    const float len = std::sqrt(x * x + y * y + z * z);
    if (len == 0.0f) {
        x = y = z = 0.0f;
        return false;
    }
    if (len == 1.0f)
        return false;
    x /= len;
    y /= len;
    z /= len;
    return true;
}

bool SameBits(float a, float b) {
    return std::bit_cast<uint32_t>(a) == std::bit_cast<uint32_t>(b);
}

struct Face {
    float x, y, z;
};

// Positions far beyond any real terrain (heights near the float limit) overflow the edges,
// the cross product or its length, which would give a face a non-finite normal. Such a
// face is worked out again in double, where none of these can overflow, and rounded back
// to a unit normal. Ordinary faces never come here and keep their bits.
Face WideFaceNormal(const KrTerrainVertex* vertices, const int32_t* tri) {
    const KrTerrainVertex& v0 = vertices[tri[0]];
    const KrTerrainVertex& v1 = vertices[tri[1]];
    const KrTerrainVertex& v2 = vertices[tri[2]];
    const double e1x = double(v1.x) - v0.x, e1y = double(v1.y) - v0.y, e1z = double(v1.z) - v0.z;
    const double e2x = double(v2.x) - v0.x, e2y = double(v2.y) - v0.y, e2z = double(v2.z) - v0.z;
    const double x = e1y * e2z - e1z * e2y, y = e1z * e2x - e1x * e2z, z = e1x * e2y - e1y * e2x;
    const double len = std::sqrt(x * x + y * y + z * z);
    if (!(len > 0.0) || !std::isfinite(len))
        return Face{0.0f, 0.0f, 0.0f}; // a degenerate face, as in the float pass
    return Face{static_cast<float>(x / len), static_cast<float>(y / len),
                static_cast<float>(z / len)};
}

Face FaceNormal(const KrTerrainVertex* vertices, const int32_t* tri) {
    const KrTerrainVertex& v0 = vertices[tri[0]];
    const KrTerrainVertex& v1 = vertices[tri[1]];
    const KrTerrainVertex& v2 = vertices[tri[2]];
    const float e1x = v1.x - v0.x, e1y = v1.y - v0.y, e1z = v1.z - v0.z;
    const float e2x = v2.x - v0.x, e2y = v2.y - v0.y, e2z = v2.z - v0.z;
    Face f{e1y * e2z - e1z * e2y, e1z * e2x - e1x * e2z, e1x * e2y - e1y * e2x};
    // The same sum NormalizeStep takes the root of.
    if (!std::isfinite(f.x * f.x + f.y * f.y + f.z * f.z))
        return WideFaceNormal(vertices, tri);
    NormalizeStep(f.x, f.y, f.z);
    return f;
}

#if defined(__SSE2__)

__m128 Select(__m128 mask, __m128 a, __m128 b) {
    return _mm_or_ps(_mm_and_ps(mask, a), _mm_andnot_ps(mask, b));
}

__m128 Length(__m128 x, __m128 y, __m128 z) {
    return _mm_sqrt_ps(
        _mm_add_ps(_mm_add_ps(_mm_mul_ps(x, x), _mm_mul_ps(y, y)), _mm_mul_ps(z, z)));
}

// FaceNormal for the four triangles at tri.
void FaceNormals4(const KrTerrainVertex* v, const int32_t* tri, Face out[4]) {
    const TriangleEdges4 t = GatherTriangleEdges4(v, tri);
    const __m128 e1x = t.e1x, e1y = t.e1y, e1z = t.e1z, e2x = t.e2x, e2y = t.e2y, e2z = t.e2z;
    const __m128 fx = _mm_sub_ps(_mm_mul_ps(e1y, e2z), _mm_mul_ps(e1z, e2y));
    const __m128 fy = _mm_sub_ps(_mm_mul_ps(e1z, e2x), _mm_mul_ps(e1x, e2z));
    const __m128 fz = _mm_sub_ps(_mm_mul_ps(e1x, e2y), _mm_mul_ps(e1y, e2x));
    const __m128 len = Length(fx, fy, fz);
    // x / 1 is x, so only a zero length needs a lane of its own.
    const __m128 zero = _mm_cmpeq_ps(len, _mm_setzero_ps());
    alignas(16) float x[4], y[4], z[4];
    _mm_store_ps(x, _mm_andnot_ps(zero, _mm_div_ps(fx, len)));
    _mm_store_ps(y, _mm_andnot_ps(zero, _mm_div_ps(fy, len)));
    _mm_store_ps(z, _mm_andnot_ps(zero, _mm_div_ps(fz, len)));
    for (int i = 0; i < 4; ++i)
        out[i] = Face{x[i], y[i], z[i]};
    // A length that is infinite or NaN marks a face that overflowed.
    const int finite = _mm_movemask_ps(_mm_cmplt_ps(len, _mm_set1_ps(INFINITY)));
    if (finite != 0xF)
        for (int i = 0; i < 4; ++i)
            if (!(finite & (1 << i)))
                out[i] = WideFaceNormal(v, tri + 3 * i);
}

// Normalises lane i uses[i] times, each lane stopping where NormalizeStep would.
void NormalizeRepeated4(float x[4], float y[4], float z[4], const int32_t uses[4]) {
    __m128 vx = _mm_loadu_ps(x), vy = _mm_loadu_ps(y), vz = _mm_loadu_ps(z);
    __m128i left = _mm_loadu_si128(reinterpret_cast<const __m128i*>(uses));
    __m128 active = _mm_castsi128_ps(_mm_cmpgt_epi32(left, _mm_setzero_si128()));
    const __m128 one = _mm_set1_ps(1.0f);
    while (_mm_movemask_ps(active)) {
        const __m128 len = Length(vx, vy, vz);
        const __m128 isZero = _mm_cmpeq_ps(len, _mm_setzero_ps());
        const __m128 divide = _mm_andnot_ps(_mm_or_ps(isZero, _mm_cmpeq_ps(len, one)), active);
        const __m128 clear = _mm_and_ps(active, isZero);
        vx = _mm_andnot_ps(clear, Select(divide, _mm_div_ps(vx, len), vx));
        vy = _mm_andnot_ps(clear, Select(divide, _mm_div_ps(vy, len), vy));
        vz = _mm_andnot_ps(clear, Select(divide, _mm_div_ps(vz, len), vz));
        // A divided lane has one step fewer left (the mask is -1 there).
        left = _mm_add_epi32(left, _mm_castps_si128(divide));
        active = _mm_and_ps(divide, _mm_castsi128_ps(_mm_cmpgt_epi32(left, _mm_setzero_si128())));
    }
    _mm_storeu_ps(x, vx);
    _mm_storeu_ps(y, vy);
    _mm_storeu_ps(z, vz);
}

#else

void FaceNormals4(const KrTerrainVertex* v, const int32_t* tri, Face out[4]) {
    for (int i = 0; i < 4; ++i)
        out[i] = FaceNormal(v, tri + 3 * i);
}

void NormalizeRepeated4(float x[4], float y[4], float z[4], const int32_t uses[4]) {
    for (int i = 0; i < 4; ++i)
        for (int32_t n = uses[i]; n > 0 && NormalizeStep(x[i], y[i], z[i]); --n) {
        }
}

#endif

} // namespace

namespace {

// Clean vertices between two changed runs that are copied along rather than starting a
// new lock: 32 KiB costs less than another lock and upload call.
constexpr int32_t kJoinGap = 1024;

void Widen(int32_t& first, int32_t& last, int32_t from, int32_t to) {
    first = std::min(first, from);
    last = std::max(last, to);
}

} // namespace

void KrTerrain::MarkVerticesChanged(int32_t first, int32_t last) {
    first = std::max(first, 0);
    last = std::min(last, info.numVertices - 1);
    if (first > last)
        return;
    Widen(changed_.first, changed_.last, first, last);
    if (!changedRows_)
        return;
    const int32_t w = info.vertsPerRow;
    for (int32_t row = first / w, end = last / w; row <= end; ++row) {
        IndexRange& r = changedRows_[row];
        Widen(r.first, r.last, std::max(first, row * w), std::min(last, row * w + w - 1));
    }
}

void KrTerrain::MarkVertex(int32_t index) {
    Widen(changed_.first, changed_.last, index, index);
    if (changedRows_) {
        IndexRange& r = changedRows_[index / info.vertsPerRow];
        Widen(r.first, r.last, index, index);
    }
}

void KrTerrain::ResetVertexTracking() {
    changed_ = IndexRange{INT32_MAX, -1};
    // Sized by the lists of the grid before; the new grid's lists size them again.
    normalsBefore_.reset();
    normalsBeforeCapacity_ = 0;
    normalCrowd_.reset();
    normalCrowdCapacity_ = 0;
    changedRows_.reset(new (std::nothrow) IndexRange[static_cast<size_t>(info.vertsPerCol)]);
    if (changedRows_)
        std::fill_n(changedRows_.get(), info.vertsPerCol, IndexRange{INT32_MAX, -1});
}

bool KrTerrain::UploadChangedVertices() {
    if (changed_.first > changed_.last)
        return true; // the device already holds every vertex
    const auto upload = [this](int32_t first, int32_t last) {
        const UINT offset = static_cast<UINT>(first) * sizeof(KrTerrainVertex);
        const UINT bytes = static_cast<UINT>(last - first + 1) * sizeof(KrTerrainVertex);
        void* locked = nullptr;
        if (FAILED(vertexBuffer->Lock(offset, bytes, &locked, 0)))
            return false;
        std::memcpy(locked, vertices + first, bytes);
        vertexBuffer->Unlock();
        return true;
    };
    if (!changedRows_) {
        if (!upload(changed_.first, changed_.last))
            return false; // still marked for the next frame
        changed_ = IndexRange{INT32_MAX, -1};
        return true;
    }

    // Runs of changed rows, each copied once its end is known. Rows are cleared only once
    // their run is on the device, so a failed lock leaves the rest for the next frame.
    const int32_t w = info.vertsPerRow;
    const int32_t lastRow = changed_.last / w;
    int32_t runRow = -1, runFirst = 0, runLast = -1;
    for (int32_t row = changed_.first / w; row <= lastRow + 1; ++row) {
        const IndexRange r = row <= lastRow ? changedRows_[row] : IndexRange{INT32_MAX, -1};
        const bool clean = r.first > r.last;
        if (runRow >= 0 && (row > lastRow || (!clean && r.first - runLast - 1 > kJoinGap))) {
            if (!upload(runFirst, runLast)) {
                changed_.first = runFirst;
                return false;
            }
            for (int32_t done = runRow; done < row; ++done)
                changedRows_[done] = IndexRange{INT32_MAX, -1};
            runRow = -1;
        }
        if (clean)
            continue;
        if (runRow < 0) {
            runRow = row;
            runFirst = r.first;
        }
        runLast = r.last;
    }
    changed_ = IndexRange{INT32_MAX, -1};
    return true;
}

// The work arrays for a list of count triangles: they grow only when a longer list comes.
bool KrTerrain::ReserveNormalWork(int64_t count) {
    const auto vertexCount = static_cast<size_t>(info.numVertices);
    if (!normalUses_) {
        normalUses_.reset(new (std::nothrow) uint8_t[vertexCount]());
        if (!normalUses_)
            return false;
    }
    const size_t listed = std::min(vertexCount, static_cast<size_t>(3 * count));
    if (normalsBeforeCapacity_ < listed) {
        normalsBefore_.reset(new (std::nothrow) NormalBefore[listed]);
        normalsBeforeCapacity_ = normalsBefore_ ? listed : 0;
        if (!normalsBefore_)
            return false;
    }
    // Each vertex listed more than 255 times takes 255 listings of its own.
    const size_t crowded = static_cast<size_t>(3 * count / 256) + 1;
    if (normalCrowdCapacity_ < crowded) {
        normalCrowd_.reset(new (std::nothrow) CrowdedVertex[crowded]);
        normalCrowdCapacity_ = normalCrowd_ ? crowded : 0;
        if (!normalCrowd_)
            return false;
    }
    return true;
}

bool KrTerrain::UpdateNormals(const int32_t* triangles) {
    if (!vertices || !vertexBuffer)
        return false;
    const int64_t count = visibleTriangleCount > 0 ? visibleTriangleCount : 0;
    if (!ReserveNormalWork(count))
        return false; // nothing changed; the next frame tries again
    uint8_t* uses = normalUses_.get();
    NormalBefore* before = normalsBefore_.get();
    CrowdedVertex* crowd = normalCrowd_.get();
    size_t firstListings = 0, crowded = 0;

    // Faces, added to their vertices in list order; a vertex's first listing keeps its old
    // normal to compare with at the end.
    const auto add = [&](const int32_t* tri, const Face& f) {
        for (int k = 0; k < 3; ++k) {
            const int32_t index = tri[k];
            KrTerrainVertex& v = vertices[index];
            uint8_t& u = uses[index];
            if (u == 0)
                before[firstListings++] = NormalBefore{v.nx, v.ny, v.nz};
            if (u < 255) {
                ++u;
            } else {
                size_t c = 0;
                while (c < crowded && crowd[c].index != index)
                    ++c;
                if (c == crowded)
                    crowd[crowded++] = CrowdedVertex{index, 255};
                ++crowd[c].uses;
            }
            v.nx += f.x;
            v.ny += f.y;
            v.nz += f.z;
        }
    };
    int64_t t = 0;
    for (; t + 4 <= count; t += 4) {
        Face faces[4];
        FaceNormals4(vertices, triangles + 3 * t, faces);
        for (int i = 0; i < 4; ++i)
            add(triangles + 3 * (t + i), faces[i]);
    }
    for (; t < count; ++t)
        add(triangles + 3 * t, FaceNormal(vertices, triangles + 3 * t));

    // Each vertex once, at its first listing (the order the old normals were kept in), four
    // at a time.
    int32_t batch[4], batchUses[4];
    const NormalBefore* batchBefore[4];
    int filled = 0;
    size_t firstListing = 0;
    const auto flush = [&] {
        alignas(16) float x[4] = {1, 1, 1, 1}, y[4] = {}, z[4] = {};
        int32_t lanes[4] = {0, 0, 0, 0};
        for (int i = 0; i < filled; ++i) {
            const KrTerrainVertex& v = vertices[batch[i]];
            x[i] = v.nx, y[i] = v.ny, z[i] = v.nz;
            lanes[i] = batchUses[i];
        }
        NormalizeRepeated4(x, y, z, lanes);
        for (int i = 0; i < filled; ++i) {
            const int32_t index = batch[i];
            KrTerrainVertex& v = vertices[index];
            v.nx = x[i], v.ny = y[i], v.nz = z[i];
            const NormalBefore& old = *batchBefore[i];
            if (!SameBits(x[i], old.nx) || !SameBits(y[i], old.ny) || !SameBits(z[i], old.nz)) {
                if (history)
                    history->CaptureNormal(*this, index, old.nx, old.ny, old.nz);
                MarkVertex(index);
            }
        }
        filled = 0;
    };
    for (int64_t i = 0; i < 3 * count; ++i) {
        const int32_t index = triangles[i];
        uint8_t& u = uses[index];
        if (u == 0)
            continue;
        int32_t n = u;
        for (size_t c = 0; n == 255 && c < crowded; ++c)
            if (crowd[c].index == index)
                n = crowd[c].uses;
        batch[filled] = index;
        batchUses[filled] = n;
        batchBefore[filled] = &before[firstListing++];
        u = 0;
        if (++filled == 4)
            flush();
    }
    if (filled)
        flush();

    return UploadChangedVertices();
}
