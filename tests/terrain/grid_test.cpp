#include "KrQuadTree.h"
#include "terrain_fixture.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace {

TEST(TerrainInfo, DerivesCountsAndTruncatedWorldSize) {
    KrTerrainInfo info;
    info.InitInfo(129, 65, 10.0f, 2.0f, 2.5f);
    EXPECT_EQ(info.cellsPerRow, 128);
    EXPECT_EQ(info.cellsPerCol, 64);
    EXPECT_EQ(info.numVertices, 129 * 65);
    EXPECT_EQ(info.numTriangles, 2 * 128 * 64);
    EXPECT_EQ(info.worldWidth, 1290); // W, not W - 1, times the spacing
    EXPECT_EQ(info.worldDepth, 162);  // 162.5 truncated
    EXPECT_EQ(info.cellSpacingY, 2.0f);
}

TEST(TerrainGrid, ConstructorValues) {
    KrTerrain t;
    EXPECT_EQ(t.fillMode, 3);
    EXPECT_EQ(t.vertexBuffer, nullptr);
    EXPECT_EQ(t.baseMappingScale, 1.0f);
    EXPECT_EQ(t.baseTexture, 0);
    EXPECT_EQ(t.selectedLayer, -1);
    EXPECT_EQ(t.quadTreeEnabled, 0);
    EXPECT_FALSE(t.editing);
    EXPECT_EQ(t.paintMode, 1);
    EXPECT_EQ(t.bigRadius, 100);
    EXPECT_EQ(t.smallRadius, 50);
    EXPECT_EQ(t.strength, 0.1f);
    EXPECT_EQ(t.lodThreshold, 0.001f);
    EXPECT_EQ(t.frustum.planes[3].d, 0.0f);
    EXPECT_EQ(t.name, "Entity");
}

TEST(TerrainGrid, DefaultGridLayoutAndBuffers) {
    MemoryTerrain m;
    ASSERT_TRUE(m.terrain.Create(129, 129, 10));
    const KrTerrain& t = m.terrain;
    EXPECT_EQ(t.info.numVertices, 16641);
    EXPECT_EQ(t.info.numTriangles, 32768);
    EXPECT_EQ(t.info.worldWidth, 1290);
    EXPECT_EQ(m.VertexBuffer()->data.size(), 532512u);
    EXPECT_EQ(m.VertexBuffer()->desc.FVF, 0x112u);
    EXPECT_EQ(m.IndexBuffer()->data.size(), 393216u);
    EXPECT_EQ(m.IndexBuffer()->desc.Format, D3DFMT_INDEX32);
    auto* outline = static_cast<MemoryVertexBuffer*>(t.brushOutlineBuffer);
    ASSERT_NE(outline, nullptr);
    EXPECT_EQ(outline->data.size(), 8640u);
    EXPECT_EQ(outline->desc.FVF, static_cast<DWORD>(D3DFVF_XYZ));

    const KrTerrainVertex& first = t.vertices[0];
    EXPECT_EQ(first.x, -645);
    EXPECT_EQ(first.z, 645);
    EXPECT_EQ(first.u, 0);
    EXPECT_EQ(first.v, 0);
    const KrTerrainVertex& last = t.vertices[128 * 129 + 128];
    EXPECT_EQ(last.x, 635);
    EXPECT_EQ(last.z, -635);
    EXPECT_EQ(last.u, 1);
    EXPECT_EQ(last.v, 1);
    // The row index runs along -z, the column along +x.
    EXPECT_EQ(t.vertices[129].z, 635);
    EXPECT_EQ(t.vertices[1].x, -635);
    // Normals start as the horizontal direction away from the centre.
    EXPECT_NEAR(first.nx, -0.7071068f, 1e-6);
    EXPECT_NEAR(first.nz, 0.7071068f, 1e-6);
    EXPECT_EQ(first.ny, 0);
    EXPECT_EQ(std::memcmp(m.BufferVertices(), t.vertices, 532512), 0);
}

TEST(TerrainGrid, EvenGridsGiveTheOriginVertexAZeroNormal) {
    MemoryTerrain m;
    ASSERT_TRUE(m.terrain.Create(4, 4, 10));
    const KrTerrainVertex& centre = m.terrain.vertices[2 * 4 + 2];
    EXPECT_EQ(centre.x, 0);
    EXPECT_EQ(centre.z, 0);
    EXPECT_EQ(centre.nx, 0);
    EXPECT_EQ(centre.nz, 0);
}

TEST(TerrainGrid, QuadTreeSizeRule) {
    struct Case {
        int w, d;
        bool enabled;
    };
    for (Case c : {Case{3, 3, true}, Case{5, 5, true}, Case{9, 9, true}, Case{17, 17, true},
                   Case{33, 33, true}, Case{65, 65, true}, Case{257, 257, true}, Case{33, 65, true},
                   Case{2, 2, false}, Case{11, 11, false}, Case{34, 34, false}, Case{40, 40, false},
                   Case{100, 100, false}, Case{33, 34, false}}) {
        MemoryTerrain m;
        ASSERT_TRUE(m.terrain.Create(c.w, c.d, 10)) << c.w << "x" << c.d;
        EXPECT_EQ(m.terrain.quadTreeEnabled != 0, c.enabled) << c.w << "x" << c.d;
        EXPECT_EQ(m.terrain.quadTree != nullptr, c.enabled) << c.w << "x" << c.d;
        if (c.enabled) {
            EXPECT_EQ(m.terrain.quadTree->corners[CornerTR], c.w - 1);
            EXPECT_EQ(m.terrain.quadTree->corners[CornerBR], c.w * c.d - 1);
        }
    }
}

TEST(TerrainGrid, SizesThatCannotMakeAGridAreRefusedWithoutTouchingTheDevice) {
    MemoryTerrain m;
    m.device->ClearLog();
    for (auto [w, d, s] : std::vector<std::tuple<int, int, int>>{{1, 10, 10},
                                                                 {10, 1, 10},
                                                                 {0, 0, 10},
                                                                 {-5, 10, 10},
                                                                 {10, 10, 0},
                                                                 {10, 10, -3},
                                                                 {kMaxTerrainSide + 1, 10, 10},
                                                                 {10, kMaxTerrainSide + 1, 10}}) {
        EXPECT_FALSE(m.terrain.Create(w, d, s)) << w << "x" << d << "x" << s;
    }
    EXPECT_TRUE(m.device->log.empty());
    EXPECT_EQ(m.terrain.vertexBuffer, nullptr);
    EXPECT_EQ(m.terrain.vertices, nullptr);

    // An existing terrain keeps its grid.
    ASSERT_TRUE(m.terrain.Create(9, 9, 10));
    EXPECT_FALSE(m.terrain.Create(1, 9, 10));
    EXPECT_EQ(m.terrain.info.vertsPerRow, 9);
    EXPECT_EQ(m.VertexBuffer()->data.size(), 81u * 32);
    EXPECT_TRUE(IsValidTerrainSize(2, kMaxTerrainSide, 1.0f));
}

TEST(TerrainGrid, ADeviceFailureKeepsThePreviousGridWhole) {
    MemoryTerrain m;
    ASSERT_TRUE(m.terrain.Create(9, 9, 10));
    IDirect3DVertexBuffer9* oldBuffer = m.terrain.vertexBuffer;
    KrTerrainVertex* oldVertices = m.terrain.vertices;

    m.device->failures->createVertexBuffer = true;
    EXPECT_FALSE(m.terrain.Create(17, 17, 10));
    EXPECT_EQ(m.terrain.info.vertsPerRow, 9);
    EXPECT_EQ(m.terrain.vertexBuffer, oldBuffer);
    EXPECT_EQ(m.terrain.vertices, oldVertices);
    EXPECT_EQ(m.IndexBuffer()->data.size(), 128u * 12);

    m.device->failures->createVertexBuffer = false;
    m.device->failures->createIndexBuffer = true;
    EXPECT_FALSE(m.terrain.Create(17, 17, 10));
    EXPECT_EQ(m.terrain.info.numVertices, 81);
    EXPECT_EQ(m.terrain.vertices, oldVertices);
}

TEST(TerrainGrid, ReCreatingReusesTheOutlineBuffer) {
    MemoryTerrain m;
    ASSERT_TRUE(m.terrain.Create(9, 9, 10));
    IDirect3DVertexBuffer9* outline = m.terrain.brushOutlineBuffer;
    ASSERT_TRUE(m.terrain.Create(33, 17, 5));
    EXPECT_EQ(m.terrain.brushOutlineBuffer, outline);
    EXPECT_EQ(m.terrain.info.numVertices, 33 * 17);
    EXPECT_EQ(m.VertexBuffer()->data.size(), 33u * 17 * 32);
}

// The full grid's triangles, cell by cell, as the per-frame update lists them.
std::vector<int32_t> FullGrid(int w, int d) {
    std::vector<int32_t> list;
    for (int r = 0; r < d - 1; ++r)
        for (int c = 0; c < w - 1; ++c) {
            int a = r * w + c, b = a + 1, cc = (r + 1) * w + c, dd = cc + 1;
            list.insert(list.end(), {a, b, cc, cc, b, dd});
        }
    return list;
}

TEST(TerrainGrid, NormalsKeepTheOldNormalWithWeightOne) {
    MemoryTerrain m;
    ASSERT_TRUE(m.terrain.Create(129, 129, 10));
    std::vector<int32_t> list = FullGrid(129, 129);
    EXPECT_EQ(list[0], 0);
    EXPECT_EQ(list[2], 129);
    EXPECT_EQ(list[3], 129);
    EXPECT_EQ(list[5], 130);
    m.terrain.visibleTriangleCount = static_cast<int32_t>(list.size() / 3);

    ASSERT_TRUE(m.terrain.UpdateNormals(list.data()));
    // Corner 0 belongs to one triangle: normalise((-0.7071, 0, 0.7071) + (0, 1, 0)).
    const KrTerrainVertex& corner = m.terrain.vertices[0];
    EXPECT_NEAR(corner.nx, -0.5f, 1e-5);
    EXPECT_NEAR(corner.ny, 0.7071068f, 1e-5);
    EXPECT_NEAR(corner.nz, 0.5f, 1e-5);
    // An inner vertex belongs to six: normalise(old + 6 up).
    const KrTerrainVertex& inner = m.terrain.vertices[10 * 129 + 10];
    const float h = std::sqrt(inner.nx * inner.nx + inner.nz * inner.nz);
    EXPECT_NEAR(inner.ny / h, 6.0f, 1e-3);
    EXPECT_EQ(std::memcmp(m.BufferVertices(), m.terrain.vertices, 532512), 0);

    for (int i = 0; i < 30; ++i)
        m.terrain.UpdateNormals(list.data());
    EXPECT_NEAR(m.terrain.vertices[0].ny, 1.0f, 1e-3);
}

TEST(TerrainGrid, NormalsChangeOnlyForListedTriangles) {
    MemoryTerrain m;
    ASSERT_TRUE(m.terrain.Create(9, 9, 10));
    std::vector<int32_t> list = {0, 1, 9};
    m.terrain.visibleTriangleCount = 1;
    const KrTerrainVertex before = m.terrain.vertices[40];
    ASSERT_TRUE(m.terrain.UpdateNormals(list.data()));
    EXPECT_EQ(std::memcmp(&before, &m.terrain.vertices[40], sizeof before), 0);
    EXPECT_GT(m.terrain.vertices[1].ny, 0);

    m.device->failures->lockBuffer = true;
    EXPECT_FALSE(m.terrain.UpdateNormals(list.data()));
}

TEST(TerrainGrid, DestructorReleasesItsBuffersButNotTheDevice) {
    auto* device = new MemoryDevice();
    device->AddRef();
    MemoryVertexBuffer* vb;
    {
        KrTerrain t;
        t.device = device;
        ASSERT_TRUE(t.Create(9, 9, 10));
        vb = static_cast<MemoryVertexBuffer*>(t.vertexBuffer);
        vb->AddRef();
        EXPECT_EQ(vb->RefCount(), 2u);
    }
    EXPECT_EQ(vb->RefCount(), 1u);
    vb->Release();
    EXPECT_EQ(device->RefCount(), 2u);
    device->Release();
    device->Release();
}

} // namespace
