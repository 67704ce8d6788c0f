// Making a grid ready without the device: the flat layout that Create asks for, and the
// quadtree and work array that every grid needs.
#include "KrTerrainGrid.h"
#include "d3dx9.h"
#include "grid_layout.h"

#include <algorithm>
#include <cmath>
#include <new>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

const char* const kPreparationCancelled = "취소되었습니다";

namespace {

bool Fail(std::string* error, const std::string& reason) {
    if (error)
        *error = reason;
    return false;
}

std::string SizeRefused() {
    return "지형은 한 변에 2에서 " + std::to_string(kMaxTerrainSide) +
           "개의 정점과 0보다 큰 셀 간격이 있어야 합니다";
}

constexpr const char* kNoMemory = "이 크기의 격자를 담을 메모리가 부족합니다";

// Rows laid out between two looks at the cancel flag: about 8 MB of records at 4097 wide.
constexpr int32_t kRowsPerStep = 64;

// One row of the flat grid. The normal is the position (x, 0, z) normalised as
// D3DXVec3Normalize does it: with y = 0 its length is sqrt(x·x + z·z), and 0 / len is +0.
// Four columns at a time, as the SSE unit's square root and division round like the
// scalar ones.
void LayOutRow(KrTerrainVertex* out, const float* xs, const float* us, int32_t w, float z, float v,
               float* nxs, float* nzs) {
    const float zz = z * z;
    int32_t j = 0;
#if defined(__SSE2__)
    const __m128 zv = _mm_set1_ps(z), zzv = _mm_set1_ps(zz), zero = _mm_setzero_ps();
    for (; j + 4 <= w; j += 4) {
        const __m128 x = _mm_loadu_ps(xs + j);
        const __m128 len = _mm_sqrt_ps(_mm_add_ps(_mm_mul_ps(x, x), zzv));
        const __m128 none = _mm_cmpeq_ps(len, zero);
        _mm_storeu_ps(nxs + j, _mm_andnot_ps(none, _mm_div_ps(x, len)));
        _mm_storeu_ps(nzs + j, _mm_andnot_ps(none, _mm_div_ps(zv, len)));
    }
#endif
    for (; j < w; ++j) {
        D3DXVECTOR3 normal(xs[j], 0.0f, z);
        D3DXVec3Normalize(&normal, &normal);
        nxs[j] = normal.x;
        nzs[j] = normal.z;
    }
    for (j = 0; j < w; ++j)
        out[j] = KrTerrainVertex{xs[j], 0.0f, z, nxs[j], 0.0f, nzs[j], us[j], v};
}

// The flat layout alone, its rows reported from `from` to `to`; the tables are the caller's.
bool LayOutFlatGrid(const KrTerrainInfo& info, KrTerrainGrid* grid, const KrProgress& progress,
                    float from, float to, std::string* error) {
    *grid = KrTerrainGrid{};
    const int32_t w = info.vertsPerRow;
    const int32_t d = info.vertsPerCol;
    if (w < 2 || d < 2 || w > kMaxTerrainSide || d > kMaxTerrainSide)
        return Fail(error, SizeRefused());

    const size_t count = static_cast<size_t>(w) * static_cast<size_t>(d);
    std::unique_ptr<KrTerrainVertex[]> array(new (std::nothrow) KrTerrainVertex[count]);
    if (!array)
        return Fail(error, kNoMemory);
    // Row and column terms, as the straightforward layout computes them for each vertex.
    std::vector<float> xs(static_cast<size_t>(w)), us(xs.size()), nxs(xs.size()), nzs(xs.size());
    const float halfW = static_cast<float>(w) * 0.5f;
    const float halfD = static_cast<float>(d) * 0.5f;
    for (int32_t j = 0; j < w; ++j) {
        xs[j] = (static_cast<float>(j) - halfW) * info.cellSpacingX;
        us[j] = static_cast<float>(j) / static_cast<float>(w - 1);
    }
    for (int32_t i = 0; i < d; ++i) {
        if (i % kRowsPerStep == 0) {
            if (progress.Cancelled())
                return Fail(error, kPreparationCancelled);
            progress.Report(from + (to - from) * static_cast<float>(i) / static_cast<float>(d));
        }
        const float z = -(static_cast<float>(i) - halfD) * info.cellSpacingZ;
        const float v = static_cast<float>(i) / static_cast<float>(d - 1);
        LayOutRow(array.get() + static_cast<size_t>(i) * static_cast<size_t>(w), xs.data(),
                  us.data(), w, z, v, nxs.data(), nzs.data());
    }
    grid->info = info;
    grid->vertices = std::move(array);
    return true;
}

bool AllFinite(const float* heights, size_t count) {
    for (size_t i = 0; i < count; ++i)
        if (!std::isfinite(heights[i]))
            return false;
    return true;
}

constexpr const char* kNotFinite = "유한한 수가 아닌 높이가 있습니다.";

} // namespace

bool QuadTreeFits(int32_t width, int32_t depth) {
    const auto powerOfTwo = [](int32_t n) { return n >= 2 && (n & (n - 1)) == 0; };
    return powerOfTwo(width - 1) && powerOfTwo(depth - 1);
}

bool PrepareGrid(int32_t width, int32_t depth, int32_t cellSpacing, KrTerrainGrid* grid,
                 const KrProgress& progress, std::string* error) {
    const float s = static_cast<float>(cellSpacing);
    if (!IsValidTerrainSize(width, depth, s)) {
        *grid = KrTerrainGrid{};
        return Fail(error, SizeRefused());
    }
    KrTerrainInfo info{};
    info.InitInfo(width, depth, s, s, s);
    return PrepareGrid(info, grid, progress, error);
}

bool PrepareGrid(const KrTerrainInfo& info, KrTerrainGrid* grid, const KrProgress& progress,
                 std::string* error) {
    constexpr float kLayoutShare = 0.6f;
    KrTerrainGrid made;
    if (!LayOutFlatGrid(info, &made, progress, 0.0f, kLayoutShare, error) ||
        !PrepareGridTables(&made, progress, kLayoutShare, 1.0f, error)) {
        *grid = KrTerrainGrid{};
        return false;
    }
    *grid = std::move(made);
    return true;
}

bool PrepareGridWithHeights(const KrTerrainInfo& info, const KrTerrainVertex* like,
                            const float* heights, KrTerrainGrid* grid, const KrProgress& progress,
                            std::string* error) {
    *grid = KrTerrainGrid{};
    const size_t count = static_cast<size_t>(info.numVertices);
    if (!like || info.numVertices <= 0)
        return Fail(error, "높이를 바꿀 지형이 없습니다.");
    if (!heights || !AllFinite(heights, count))
        return Fail(error, kNotFinite);
    KrTerrainGrid made;
    made.info = info;
    made.vertices.reset(new (std::nothrow) KrTerrainVertex[count]);
    if (!made.vertices)
        return Fail(error, "이 크기의 지형을 담을 메모리가 부족합니다.");
    progress.Report(0.0f);
    std::copy(like, like + count, made.vertices.get());
    for (size_t i = 0; i < count; ++i)
        made.vertices[i].y = heights[i];
    if (progress.Cancelled())
        return Fail(error, kPreparationCancelled);
    progress.Report(0.2f);
    ComputeGridNormals(info, made.vertices.get());
    if (!PrepareGridTables(&made, progress, 0.6f, 1.0f, error))
        return false;
    *grid = std::move(made);
    return true;
}

bool PrepareGridFromHeights(int32_t width, int32_t depth, float spacingX, float spacingY,
                            float spacingZ, const float* heights, KrTerrainGrid* grid,
                            const KrProgress& progress, std::string* error) {
    *grid = KrTerrainGrid{};
    const bool spacingsValid = std::isfinite(spacingY) && spacingY > 0.0f &&
                               IsValidTerrainSize(width, depth, spacingX) &&
                               IsValidTerrainSize(width, depth, spacingZ) &&
                               WorldSizeFits(width, depth, spacingX, spacingZ);
    if (!spacingsValid)
        return Fail(error, "이 크기와 간격으로는 지형을 만들 수 없습니다.");
    KrTerrainInfo info{};
    info.InitInfo(width, depth, spacingX, spacingY, spacingZ);
    const size_t count = static_cast<size_t>(info.numVertices);
    if (!heights || !AllFinite(heights, count))
        return Fail(error, kNotFinite);

    // Laid out as Create lays it out; the tables are made for the heights.
    KrTerrainGrid made;
    if (!LayOutFlatGrid(info, &made, progress, 0.0f, 0.5f, error))
        return false;
    for (size_t i = 0; i < count; ++i)
        made.vertices[i].y = heights[i];
    if (!PrepareGridTables(&made, progress, 0.5f, 1.0f, error))
        return false;
    *grid = std::move(made);
    return true;
}

bool PrepareGridTables(KrTerrainGrid* grid, const KrProgress& progress, float from, float to,
                       std::string* error) {
    const KrTerrainInfo& info = grid->info;
    const auto count = static_cast<size_t>(info.numVertices);
    if (progress.Cancelled())
        return Fail(error, kPreparationCancelled);
    grid->normalUses.reset(new (std::nothrow) uint8_t[count]());
    if (!grid->normalUses)
        return Fail(error, kNoMemory);
    grid->quadTree.reset();
    if (QuadTreeFits(info.vertsPerRow, info.vertsPerCol)) {
        // The tree itself is small; its tables are what may not fit.
        auto tree = std::make_unique<KrQuadTree>(info.vertsPerRow, info.vertsPerCol);
        if (!tree->Build(grid->vertices.get()))
            return Fail(error, kNoMemory);
        progress.Report(from + (to - from) * 0.5f);
        if (progress.Cancelled())
            return Fail(error, kPreparationCancelled);
        tree->LinkNeighbours(grid->vertices.get());
        grid->quadTree = std::move(tree);
    }
    progress.Report(to);
    return true;
}
