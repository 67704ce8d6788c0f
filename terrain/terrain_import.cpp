// Heights taken from a heightmap: onto the current grid, or as a new grid of their own.
#include "KrTerrain.h"
#include "KrTerrainGrid.h"
#include "grid_layout.h"

#include <algorithm>
#include <cmath>
#include <memory>
#include <new>

namespace {

bool Fail(std::string* error, const char* reason) {
    if (error)
        *error = reason;
    return false;
}

bool AllFinite(const float* heights, size_t count) {
    for (size_t i = 0; i < count; ++i)
        if (!std::isfinite(heights[i]))
            return false;
    return true;
}

// A copy of like's grid with these heights and the normals of the surface they make, and
// its tables: the quadtree's bounding spheres follow the heights.
bool PrepareWithHeights(const KrTerrainInfo& info, const KrTerrainVertex* like,
                        const float* heights, KrTerrainGrid* grid, std::string* error) {
    const size_t count = static_cast<size_t>(info.numVertices);
    if (!heights || !AllFinite(heights, count))
        return Fail(error, "유한한 수가 아닌 높이가 있습니다.");
    KrTerrainGrid made;
    made.info = info;
    made.vertices.reset(new (std::nothrow) KrTerrainVertex[count]);
    if (!made.vertices)
        return Fail(error, "이 크기의 지형을 담을 메모리가 부족합니다.");
    std::copy(like, like + count, made.vertices.get());
    for (size_t i = 0; i < count; ++i)
        made.vertices[i].y = heights[i];
    ComputeGridNormals(info, made.vertices.get());
    if (!PrepareGridTables(&made, {}, 0.0f, 1.0f, error))
        return false;
    *grid = std::move(made);
    return true;
}

} // namespace

// Every height changes at once, so the normals are worked out anew from the whole grid
// rather than left to the per-frame pass: that pass only reaches listed triangles and keeps
// part of each old normal, so culled parts would show the old surface's light for long.
bool KrTerrain::ReplaceHeights(const float* heights, std::string* error) {
    if (!vertices || info.numVertices <= 0)
        return Fail(error, "높이를 바꿀 지형이 없습니다.");
    KrTerrainGrid grid;
    return PrepareWithHeights(info, vertices, heights, &grid, error) && InstallGrid(grid, error);
}

bool KrTerrain::CreateFromHeights(int32_t width, int32_t depth, float spacingX, float spacingY,
                                  float spacingZ, const float* heights, std::string* error) {
    if (!device)
        return Fail(error, "지형을 담을 그래픽 장치가 없습니다.");
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
        return Fail(error, "유한한 수가 아닌 높이가 있습니다.");

    // Laid out as Create lays it out; the tables are made again for the heights.
    KrTerrainGrid grid;
    if (!PrepareGrid(info, &grid, {}, error))
        return false;
    for (size_t i = 0; i < count; ++i)
        grid.vertices[i].y = heights[i];
    return PrepareGridTables(&grid, {}, 0.0f, 1.0f, error) && InstallGrid(grid, error);
}

bool KrTerrain::CopyGridWithHeights(const KrTerrain& like, const float* heights,
                                    std::string* error) {
    if (!device)
        return Fail(error, "지형을 담을 그래픽 장치가 없습니다.");
    if (!like.vertices || like.info.numVertices <= 0)
        return Fail(error, "높이를 바꿀 지형이 없습니다.");
    KrTerrainGrid grid;
    return PrepareWithHeights(like.info, like.vertices, heights, &grid, error) &&
           InstallGrid(grid, error);
}
