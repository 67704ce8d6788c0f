// Heights taken from a heightmap: onto the current grid, or as a new grid of their own.
#include "KrTerrain.h"
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

} // namespace

// Every height changes at once, so the normals are worked out anew from the whole grid
// rather than left to the per-frame pass: that pass only reaches listed triangles and keeps
// part of each old normal, so culled parts would show the old surface's light for long.
// The quadtree is rebuilt because its bounding spheres follow the heights.
bool KrTerrain::ReplaceHeights(const float* heights, std::string* error) {
    if (!vertices || info.numVertices <= 0)
        return Fail(error, "높이를 바꿀 지형이 없습니다.");
    const size_t count = static_cast<size_t>(info.numVertices);
    if (!heights || !AllFinite(heights, count))
        return Fail(error, "유한한 수가 아닌 높이가 있습니다.");
    for (size_t i = 0; i < count; ++i)
        vertices[i].y = heights[i];
    ComputeGridNormals(info, vertices);
    MarkVerticesChanged(0, info.numVertices - 1);
    ApplyQuadTreeRule();
    return true;
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
    KrTerrainInfo grid{};
    grid.InitInfo(width, depth, spacingX, spacingY, spacingZ);
    const size_t count = static_cast<size_t>(grid.numVertices);
    if (!heights || !AllFinite(heights, count))
        return Fail(error, "유한한 수가 아닌 높이가 있습니다.");

    std::unique_ptr<KrTerrainVertex[]> array(new (std::nothrow) KrTerrainVertex[count]);
    if (!array)
        return Fail(error, "이 크기의 지형을 담을 메모리가 부족합니다.");
    LayOutGridRows(grid, 0, depth, array.get());
    for (size_t i = 0; i < count; ++i)
        array[i].y = heights[i];

    if (!brushOutlineBuffer &&
        FAILED(device->CreateVertexBuffer(kBrushOutlinePoints * 12, 0, D3DFVF_XYZ, D3DPOOL_DEFAULT,
                                          &brushOutlineBuffer, nullptr)))
        return Fail(error, "그래픽 장치가 브러시 윤곽 버퍼를 만들지 못했습니다.");
    return AdoptGrid(grid, std::move(array), error);
}

bool KrTerrain::CopyGridWithHeights(const KrTerrain& like, const float* heights,
                                    std::string* error) {
    if (!device)
        return Fail(error, "지형을 담을 그래픽 장치가 없습니다.");
    if (!like.vertices || like.info.numVertices <= 0)
        return Fail(error, "높이를 바꿀 지형이 없습니다.");
    const size_t count = static_cast<size_t>(like.info.numVertices);
    if (!heights || !AllFinite(heights, count))
        return Fail(error, "유한한 수가 아닌 높이가 있습니다.");
    std::unique_ptr<KrTerrainVertex[]> array(new (std::nothrow) KrTerrainVertex[count]);
    if (!array)
        return Fail(error, "이 크기의 지형을 담을 메모리가 부족합니다.");
    std::copy(like.vertices, like.vertices + count, array.get());
    for (size_t i = 0; i < count; ++i)
        array[i].y = heights[i];
    ComputeGridNormals(like.info, array.get());
    return AdoptGrid(like.info, std::move(array), error);
}
