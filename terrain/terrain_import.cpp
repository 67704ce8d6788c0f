// Heights taken from a heightmap: onto the current grid, or as a new grid of their own. The
// grids are prepared without the device (KrTerrainGrid.h), then installed.
#include "KrTerrain.h"
#include "KrTerrainGrid.h"

namespace {

bool Fail(std::string* error, const char* reason) {
    if (error)
        *error = reason;
    return false;
}

} // namespace

// Every height changes at once, so the normals are worked out anew from the whole grid
// rather than left to the per-frame pass: that pass only reaches listed triangles and keeps
// part of each old normal, so culled parts would show the old surface's light for long.
bool KrTerrain::ReplaceHeights(const float* heights, std::string* error) {
    if (!vertices || info.numVertices <= 0)
        return Fail(error, "높이를 바꿀 지형이 없습니다.");
    KrTerrainGrid grid;
    return PrepareGridWithHeights(info, vertices, heights, &grid, {}, error) &&
           InstallGrid(grid, error);
}

bool KrTerrain::CreateFromHeights(int32_t width, int32_t depth, float spacingX, float spacingY,
                                  float spacingZ, const float* heights, std::string* error) {
    if (!device)
        return Fail(error, "지형을 담을 그래픽 장치가 없습니다.");
    KrTerrainGrid grid;
    return PrepareGridFromHeights(width, depth, spacingX, spacingY, spacingZ, heights, &grid, {},
                                  error) &&
           InstallGrid(grid, error);
}

bool KrTerrain::CopyGridWithHeights(const KrTerrain& like, const float* heights,
                                    std::string* error) {
    if (!device)
        return Fail(error, "지형을 담을 그래픽 장치가 없습니다.");
    if (!like.vertices || like.info.numVertices <= 0)
        return Fail(error, "높이를 바꿀 지형이 없습니다.");
    KrTerrainGrid grid;
    return PrepareGridWithHeights(like.info, like.vertices, heights, &grid, {}, error) &&
           InstallGrid(grid, error);
}
