#include "terrain_fixture.h"

#include <tuple>

namespace {

TEST(TerrainGrid, DefaultGridLayoutAndBuffers) {
    MemoryTerrain m(129, 129);
    const KrTerrain& t = m.terrain;
    EXPECT_EQ(std::tuple(t.info.numVertices, t.info.numTriangles, t.info.worldWidth),
              std::tuple(16641, 32768, 1290)); // W, not W - 1, times the spacing
    EXPECT_EQ(m.VertexBuffer()->data.size(), 532512u);
    EXPECT_EQ(m.IndexBuffer()->data.size(), 393216u);
    EXPECT_EQ(m.IndexBuffer()->desc.Format, D3DFMT_INDEX32);

    const KrTerrainVertex &first = t.vertices[0], &last = t.vertices[16640];
    EXPECT_EQ(std::tie(first.x, first.z, first.u, first.v, last.x, last.z, last.u, last.v),
              std::tuple(-645.f, 645.f, 0.f, 0.f, 635.f, -635.f, 1.f, 1.f));
    EXPECT_EQ(t.vertices[129].z, 635); // rows run along -z, columns along +x
    EXPECT_EQ(t.vertices[1].x, -635);
    EXPECT_EQ(std::memcmp(m.BufferVertices(), t.vertices, 532512), 0);

    KrTerrainInfo info;
    info.InitInfo(129, 65, 10.0f, 2.0f, 2.5f);
    EXPECT_EQ(std::tuple(info.cellsPerCol, info.numTriangles, info.worldDepth, info.cellSpacingY),
              std::tuple(64, 2 * 128 * 64, 162, 2.0f)); // 162.5 truncated

    MemoryTerrain even(4, 4); // the origin vertex gets a zero normal, not NaN
    EXPECT_TRUE(even.terrain.vertices[10].nx == 0 && even.terrain.vertices[10].nz == 0);
}

TEST(TerrainGrid, QuadTreeSizeRule) {
    const int32_t sizes[][3] = {{3, 3, 1},   {257, 257, 1}, {33, 65, 1}, {2, 2, 0},
                                {11, 11, 0}, {34, 34, 0},   {33, 34, 0}};
    for (auto [w, d, enabled] : sizes) {
        MemoryTerrain m(w, d);
        EXPECT_EQ(m.terrain.quadTreeEnabled, enabled) << w << "x" << d;
        EXPECT_EQ(m.terrain.quadTree != nullptr, enabled != 0) << w << "x" << d;
    }
}

TEST(TerrainGrid, RefusedSizesAndDeviceFailuresKeepThePreviousGrid) {
    MemoryTerrain m;
    const int32_t max = kMaxTerrainSide, big = max + 1;
    // Sides below 2 or past the limit, spacings of 0 or less, worlds past the int32 fields.
    const int32_t sizes[][3] = {{1, 10, 10},   {10, 1, 10},       {-5, 10, 10},
                                {10, 10, 0},   {10, 10, -3},      {big, 10, 10},
                                {10, big, 10}, {max, 10, 600000}, {10, max, 600000}};
    for (auto [w, d, s] : sizes)
        EXPECT_FALSE(m.terrain.Create(w, d, s)) << w << "x" << d << "x" << s;
    EXPECT_TRUE(m.device->log.empty());
    EXPECT_TRUE(m.terrain.vertexBuffer == nullptr && m.terrain.vertices == nullptr);
    EXPECT_TRUE(IsValidTerrainSize(2, max, 1.0f) && IsValidTerrainSize(max, max, 524000.0f));

    ASSERT_TRUE(m.terrain.Create(9, 9, 10));
    const auto grid = [&] {
        return std::tuple(m.terrain.info.numVertices, m.terrain.vertexBuffer, m.terrain.indexBuffer,
                          m.terrain.vertices);
    };
    const auto before = grid();
    IDirect3DVertexBuffer9* outline = m.terrain.brushOutlineBuffer;
    EXPECT_FALSE(m.terrain.Create(1, 9, 10));
    for (bool DeviceFailures::*flag :
         {&DeviceFailures::createVertexBuffer, &DeviceFailures::createIndexBuffer}) {
        (*m.device->failures).*flag = true;
        EXPECT_FALSE(m.terrain.Create(17, 17, 10));
        (*m.device->failures).*flag = false;
        EXPECT_TRUE(grid() == before);
    }
    ASSERT_TRUE(m.terrain.Create(33, 17, 5)); // a new grid keeps the outline buffer
    EXPECT_EQ(m.terrain.brushOutlineBuffer, outline);
    EXPECT_EQ(m.VertexBuffer()->data.size(), 33u * 17 * 32);
}

// The normals start as the horizontal direction away from the centre, and each update adds
// the old normal to the listed faces with weight one.
TEST(TerrainGrid, NormalsAddTheOldNormalWithWeightOneOverListedTriangles) {
    MemoryTerrain m(129, 129);
    const std::vector<Triangle> list = FullGrid(129, 129);
    m.terrain.visibleTriangleCount = static_cast<int32_t>(list.size());
    ASSERT_TRUE(m.terrain.UpdateNormals(list.front().data()));
    // Corner 0 belongs to one triangle: normalise((-0.7071, 0, 0.7071) + (0, 1, 0)).
    const KrTerrainVertex& corner = m.terrain.vertices[0];
    EXPECT_LT(std::hypot(corner.nx + 0.5f, corner.ny - 0.7071068f, corner.nz - 0.5f), 1e-5);
    // An inner vertex belongs to six: normalise(old + 6 up).
    const KrTerrainVertex& inner = m.terrain.vertices[10 * 129 + 10];
    EXPECT_NEAR(inner.ny / std::hypot(inner.nx, inner.nz), 6.0f, 1e-3);
    for (int i = 0; i < 30; ++i)
        m.terrain.UpdateNormals(list.front().data());
    EXPECT_NEAR(m.terrain.vertices[0].ny, 1.0f, 1e-3);
}

} // namespace
