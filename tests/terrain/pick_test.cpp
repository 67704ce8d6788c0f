#include "terrain_fixture.h"

namespace {

struct Pick : ::testing::Test {
    void SetUp() override { m.terrain.pickRay = &pick; }
    bool Cast(D3DXVECTOR3 origin, D3DXVECTOR3 direction) {
        pick.origin = origin;
        pick.direction = direction;
        m.terrain.visibleTriangleCount = static_cast<int32_t>(list.size());
        return m.terrain.PickTerrain(list.front().data());
    }
    MemoryTerrain m{129, 129};
    KrPickRay pick{};
    std::vector<Triangle> list = FullGrid(129, 129);
};

TEST_F(Pick, AboveBelowParallelClosestAndTheDepthLimit) {
    ASSERT_TRUE(Cast({0.1f, 100, 0.1f}, {0, -1, 0}));
    EXPECT_TRUE(m.terrain.pickHit);
    EXPECT_NEAR(pick.hitPoint.x, 0.1f, 1e-5);
    EXPECT_NEAR(pick.hitPoint.z, 0.1f, 1e-5);
    EXPECT_TRUE(Cast({-200, -50, 300}, {0, 1, 0})); // no back-face rejection
    EXPECT_NEAR(pick.distance, 50, 1e-4);

    // Misses keep the last point and clear pickHit.
    const D3DXVECTOR3 last = pick.hitPoint;
    EXPECT_FALSE(Cast({-700, 0, 0}, {1, 0, 0}));        // parallel: det = 0
    EXPECT_FALSE(Cast({0, 100, 0}, {0, 1, 0}));         // behind the origin
    EXPECT_FALSE(Cast({0.1f, 1290, 0.1f}, {0, -1, 0})); // t = world depth
    EXPECT_FALSE(m.terrain.pickHit);
    EXPECT_EQ(pick.hitPoint, last);
    EXPECT_TRUE(Cast({0.1f, 1289.5f, 0.1f}, {0, -1, 0}));
    EXPECT_TRUE(Cast({0.1f, 2000, 0.1f}, {0, -2, 0})); // the limit is on t, not length

    for (int r = 0; r < 129; ++r) // a ridge at column 70, x = 55
        m.terrain.vertices[r * 129 + 70].y = 40;
    ASSERT_TRUE(Cast({-300, 10, 0.5f}, {1, 0, 0}));
    EXPECT_NEAR(pick.hitPoint.x, 47.5f, 1e-3); // the near slope, not the far one
    EXPECT_NEAR(pick.hitPoint.y, 10, 1e-3);

    // The same triangle twice (a tie) and an unlisted cell.
    const int a = 64 * 129 + 64;
    list = {{a, a + 1, a + 129}, {a, a + 1, a + 129}};
    EXPECT_TRUE(Cast({-2, 50, 3}, {0, -1, 0}));
    EXPECT_NEAR(pick.distance, 50, 1e-4);
    EXPECT_FALSE(Cast({200, 50, 200}, {0, -1, 0}));

    list = {{0, 128, 128 * 129}};  // one coarse triangle over the whole corner
    m.terrain.vertices[130].y = 8; // x = -635, z = 635
    ASSERT_TRUE(Cast({-635, 100, 635}, {0, -1, 0}));
    EXPECT_NEAR(pick.hitPoint.y, 8, 1e-4);
}

TEST(IntersectTriangle, AbsoluteDeterminantThresholdAndEdges) {
    KrPickRay ray{};
    ray.direction = D3DXVECTOR3(0, -1, 0);
    const auto hit = [&](D3DXVECTOR3 o, D3DXVECTOR3 v1, D3DXVECTOR3 v2) {
        ray.origin = o;
        return KrTerrain::IntersectTriangle(&ray, D3DXVECTOR3(0, 0, 0), v1, v2);
    };
    // det = |v1.x × v2.z| here: exactly 0.0001 passes, just under does not, however wide.
    EXPECT_TRUE(hit({0.25f, 1, -0.00002f}, {1, 0, 0}, {0, 0, -0.0001f}));
    EXPECT_NEAR(ray.distance, 1, 1e-3);
    EXPECT_FALSE(hit({0.25f, 1, -0.00002f}, {1, 0, 0}, {0, 0, -0.0000999f}));
    EXPECT_FALSE(hit({500, 1, -0.00000002f}, {1000, 0, 0}, {0, 0, -0.00000009f}));
    EXPECT_TRUE(hit({1, 0, 0}, {1, 0, 0}, {0, 0, -1})); // a corner, at t = 0
    EXPECT_EQ(ray.distance, 0);
    EXPECT_FALSE(hit({1.001f, 5, 0}, {1, 0, 0}, {0, 0, -1}));
}

TEST_F(Pick, GetHeightOnBothTrianglesAndOffTheGrid) {
    KrTerrainVertex* v = m.terrain.vertices;
    // Cell (64, 64) spans x -5..5, z 5..-5: A 4, B 8, C 2, D 20.
    const int a = 64 * 129 + 64;
    v[a].y = 4, v[a + 1].y = 8, v[a + 129].y = 2, v[a + 130].y = 20;
    EXPECT_EQ(m.terrain.GetHeight(5, -5), 20);
    EXPECT_NEAR(m.terrain.GetHeight(0, 0), 5, 1e-5); // mid-diagonal: mean of B and C
    EXPECT_NEAR(m.terrain.GetHeight(-3, 2), 4 + 0.2f * 4 + 0.3f * -2, 1e-4);
    EXPECT_NEAR(m.terrain.GetHeight(2, -1), 20 + 0.3f * -18 + 0.4f * -12, 1e-4);

    v[128 * 129 + 128].y = 10; // (635, -635): the corners beyond count as 0
    EXPECT_NEAR(m.terrain.GetHeight(640, -635), 5, 1e-5);
    EXPECT_NEAR(m.terrain.GetHeight(635, -640), 5, 1e-5);
    EXPECT_EQ(m.terrain.GetHeight(-1e30f, 1e30f), 0);
}

} // namespace
