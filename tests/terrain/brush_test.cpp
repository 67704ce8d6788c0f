#include "terrain_fixture.h"

#include <cfloat>

namespace {

bool In(int v, int lo, int hi) {
    return v >= lo && v <= hi;
}

struct Brush : ::testing::Test {
    void SetUp() override {
        m.terrain.pickRay = &pick;
        m.terrain.pickHit = true;
        m.terrain.bigRadius = 25;
        m.terrain.smallRadius = 20;
    }
    void Step(int mode, float x, float z) {
        m.terrain.brushMode = mode;
        pick.hitPoint = D3DXVECTOR3(x, 123, z);
        m.terrain.ApplyHeightBrush();
    }
    // Heights `both` on rows and columns [innerLo, innerHi], `big` on the rest of [lo, hi],
    // 0 elsewhere.
    void ExpectSquares(int lo, int hi, int innerLo, int innerHi, float big, float both) {
        int wrong = 0;
        for (int r = 0; r < 129; ++r)
            for (int c = 0; c < 129; ++c) {
                float want = In(r, innerLo, innerHi) && In(c, innerLo, innerHi) ? both
                             : In(r, lo, hi) && In(c, lo, hi)                   ? big
                                                                                : 0.0f;
                wrong += m.terrain.vertices[r * 129 + c].y != want;
            }
        EXPECT_EQ(wrong, 0);
    }
    MemoryTerrain m{129, 129};
    KrPickRay pick{};
};

TEST_F(Brush, RaiseLowerFlatAndNone) {
    Step(1, 0, 0);
    ExpectSquares(62, 67, 62, 66, 0.5f, 2.0f);
    Step(1, 0, 0);
    for (int mode : {0, 7, -1}) // none, and values no mode has
        Step(mode, 0, 0);
    ExpectSquares(62, 67, 62, 66, 1.0f, 4.0f);
    for (int i = 0; i < 5; ++i) // no floor
        Step(2, 0, 0);
    ExpectSquares(62, 67, 62, 66, -1.5f, -6.0f);
    m.terrain.vertices[61 * 129 + 61].y = 3;
    Step(3, 0, 0);
    EXPECT_EQ(m.terrain.vertices[61 * 129 + 61].y, 3);
    m.terrain.vertices[61 * 129 + 61].y = 0;
    ExpectSquares(62, 67, 62, 66, 0, 0);
}

// However strong the step, heights stop at the largest float on either side.
TEST_F(Brush, NoStepDrivesAHeightToInfinity) {
    m.terrain.strength = 1e37f;
    for (int i = 0; i < 4; ++i)
        Step(1, 0, 0);
    EXPECT_EQ(m.terrain.vertices[64 * 129 + 64].y, FLT_MAX);
    EXPECT_FLOAT_EQ(m.terrain.vertices[67 * 129 + 67].y, 2e38f); // the big square only
    for (int i = 0; i < 12; ++i)
        Step(2, 0, 0);
    EXPECT_EQ(m.terrain.vertices[64 * 129 + 64].y, -FLT_MAX);
    EXPECT_EQ(m.terrain.vertices[67 * 129 + 67].y, -FLT_MAX);
}

TEST_F(Brush, RadiiCornersAndMisses) {
    m.terrain.bigRadius = 10; // the small square may be the larger one
    m.terrain.smallRadius = 30;
    Step(1, 0, 0);
    ExpectSquares(61, 67, 63, 65, 1.5f, 2.0f);
    Step(3, 0, 0);
    m.terrain.bigRadius = m.terrain.smallRadius = 0; // still the vertex of the cell
    Step(1, 0, 0);
    ExpectSquares(64, 64, 64, 64, 0, 2.0f);
    Step(3, 0, 0);

    m.terrain.bigRadius = 25;
    m.terrain.smallRadius = 20;
    Step(1, -640, 640); // clipped at vertex (0, 0)
    ExpectSquares(0, 3, 0, 2, 0.5f, 2.0f);
    Step(3, -640, 640);
    Step(1, 630, -630); // past the last column: no wrap into the next row
    ExpectSquares(125, 128, 125, 128, 2.0f, 2.0f);
    m.terrain.bigRadius = 100000;
    Step(1, 1e9f, -1e9f);
    m.terrain.pickHit = false;
    Step(1, 630, -630);
    ExpectSquares(125, 128, 125, 128, 2.0f, 2.0f);
    EXPECT_FALSE(m.terrain.UpdateBrushOutline(&pick));
}

TEST_F(Brush, OutlineFollowsTheSurface) {
    for (int i = 0; i < 129 * 129; ++i) // y = x / 10, which GetHeight follows exactly
        m.terrain.vertices[i].y = m.terrain.vertices[i].x * 0.1f;
    pick.hitPoint = D3DXVECTOR3(10, 0, -20);
    ASSERT_TRUE(m.terrain.UpdateBrushOutline(&pick));
    auto* buffer = static_cast<MemoryVertexBuffer*>(m.terrain.brushOutlineBuffer);
    EXPECT_EQ(buffer->lastLockSize, 8640u);
    const auto* p = reinterpret_cast<const D3DXVECTOR3*>(buffer->data.data());
    const auto expect = [&](int k, float x, float z) {
        EXPECT_NEAR(p[k].x, x, 1e-3) << k;
        EXPECT_NEAR(p[k].y, x * 0.1f + 1, 1e-3) << k;
        EXPECT_NEAR(p[k].z, z, 1e-3) << k;
    };
    expect(0, 10, 5);
    expect(90, 35, -20 + 25 * std::cos(1.57f)); // 3.14, not pi: z is 0.02 off
    expect(360, 10, 0);
    m.device->failures->lockBuffer = true;
    EXPECT_FALSE(m.terrain.UpdateBrushOutline(&pick));
}

} // namespace
