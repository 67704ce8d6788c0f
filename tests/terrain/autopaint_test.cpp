// Auto painting a layer by slope and height.
#include "KrAutoPaint.h"
#include "terrain_fixture.h"

#include <cfloat>
#include <functional>

namespace {

KrAutoPaintRule Rule(float slopeMin, float slopeMax, float slopeSoft, float heightMin,
                     float heightMax, float heightSoft) {
    return KrAutoPaintRule{slopeMin, slopeMax, slopeSoft, heightMin, heightMax, heightSoft};
}

TEST(AutoPaintCoverage, RangesSoftEdgesAndTheirProduct) {
    const KrAutoPaintRule r = Rule(10, 30, 10, 0, 100, 20);
    struct Case {
        float slope, height, want;
    } cases[] = {
        {10, 0, 1},       {30, 100, 1},    {20, 50, 1},  // inside, bounds included
        {35, 50, 0.5f},   {5, 50, 0.5f},                 // half way across a slope edge
        {20, 110, 0.5f},  {20, -10, 0.5f},               // and a height edge
        {35, 110, 0.25f},                                // both: the product
        {40, 50, 0},      {0, 50, 0},      {20, 120, 0}, // past the soft edges
        {NAN, 50, 0},     {20, NAN, 0},    {20, INFINITY, 0}, {20, -INFINITY, 0},
    };
    for (const Case& c : cases)
        EXPECT_FLOAT_EQ(AutoPaintCoverage(c.slope, c.height, r), c.want)
            << c.slope << " " << c.height;
    // Monotone across an edge, the same upside down, hard without softness.
    float previous = 1;
    for (float s = 30; s <= 40; s += 0.5f) {
        const float w = AutoPaintCoverage(s, 50, r);
        EXPECT_LE(w, previous);
        previous = w;
    }
    EXPECT_EQ(AutoPaintCoverage(35, 50, Rule(30, 10, 10, 100, 0, 20)), 0.5f);
    EXPECT_EQ(AutoPaintCoverage(30.01f, 50, Rule(10, 30, 0, 0, 100, 0)), 0.0f);
    EXPECT_EQ(AutoPaintCoverage(30, 100, Rule(10, 30, 0, 0, 100, 0)), 1.0f);
}

// 129 × 129 with spacing 10 and one layer; vertex (r, c) at x = (c − 64.5) × 10,
// z = (64.5 − r) × 10. Texel (x, y) samples grid column x / 8 and row y / 8.
struct AutoPaint : MemoryTerrain {
    AutoPaint() : MemoryTerrain(129, 129) {
        AddTexture();
        EXPECT_TRUE(terrain.AddSplatLayer(0));
        EXPECT_TRUE(terrain.AddSplatLayer(0));
    }
    void Heights(const std::function<float(float x, float z)>& h) {
        for (int i = 0; i < terrain.info.numVertices; ++i)
            terrain.vertices[i].y = h(terrain.vertices[i].x, terrain.vertices[i].z);
    }
    MemoryTexture* Map(size_t layer) const {
        return static_cast<MemoryTexture*>(terrain.alphaMaps.at(layer)->texture);
    }
    int Cover(int x, int y, size_t layer = 0) const {
        const uint32_t v = Map(layer)->Texel(0, x, y);
        EXPECT_EQ(v, (v & 0xFFu) * 0x01010101u);
        return static_cast<int>(v & 0xFFu);
    }
    // Every texel holds one coverage in all four bytes, within [lo, hi].
    bool All(int lo, int hi, size_t layer = 0) const {
        const MemoryTexture::Level& l = Map(layer)->levels[0];
        for (int y = 0; y < ALPHA_MAP_SIZE; ++y) {
            const uint8_t* row = l.bits.data() + y * l.pitch;
            for (int x = 0; x < 4 * ALPHA_MAP_SIZE; x += 4)
                if (row[x] < lo || row[x] > hi || row[x + 1] != row[x] || row[x + 2] != row[x] ||
                    row[x + 3] != row[x])
                    return false;
        }
        return true;
    }
};

TEST(AutoPaintLayer, FlatAndTiltedGroundGetTheirSlopeAndHeight) {
    AutoPaint m;
    m.Heights([](float, float) { return 50.0f; });
    ASSERT_TRUE(m.terrain.AutoPaintLayer(0, Rule(0, 10, 0, 0, 100, 0)));
    EXPECT_TRUE(m.All(255, 255));
    EXPECT_TRUE(m.All(0, 0, 1)); // only the layer asked for
    ASSERT_TRUE(m.terrain.AutoPaintLayer(0, Rule(20, 40, 5, 0, 100, 0)));
    EXPECT_TRUE(m.All(0, 0));
    ASSERT_TRUE(m.terrain.AutoPaintLayer(0, Rule(0, 10, 0, 60, 100, 20)));
    EXPECT_TRUE(m.All(128, 128)); // 10 of a 20 soft edge

    // A plane rising 30 degrees towards +x, on either side of the height band.
    const float rise = std::tan(30.0f / 57.29577951f);
    m.Heights([&](float x, float) { return 1000.0f + x * rise; });
    ASSERT_TRUE(m.terrain.AutoPaintLayer(0, Rule(25, 35, 0, 0, 2000, 0)));
    EXPECT_TRUE(m.All(255, 255));
    ASSERT_TRUE(m.terrain.AutoPaintLayer(0, Rule(0, 20, 20, 0, 2000, 0)));
    EXPECT_TRUE(m.All(127, 129));
    ASSERT_TRUE(m.terrain.AutoPaintLayer(0, Rule(0, 29, 0, 0, 2000, 0)));
    EXPECT_TRUE(m.All(0, 0));
}

// Row 0 of the map lies at the +z edge and column 0 at the −x edge, as for painting.
TEST(AutoPaintLayer, HeightBandsFollowTheMapsOrientation) {
    AutoPaint m;
    m.Heights([](float, float z) { return z; }); // 645 at row 0, 45 degrees everywhere
    ASSERT_TRUE(m.terrain.AutoPaintLayer(0, Rule(0, 90, 0, 500, 700, 0)));
    // Texel row y samples height 645 − 1.25 y: rows 0 to 116 lie in the band.
    for (int x : {0, 500, 1023}) {
        EXPECT_EQ(m.Cover(x, 0), 255);
        EXPECT_EQ(m.Cover(x, 116), 255);
        EXPECT_EQ(m.Cover(x, 117), 0);
        EXPECT_EQ(m.Cover(x, 1023), 0);
    }
    m.Heights([](float x, float) { return x; }); // −645 at column 0
    ASSERT_TRUE(m.terrain.AutoPaintLayer(1, Rule(44, 46, 0, -700, -500, 0)));
    for (int y : {0, 700}) {
        EXPECT_EQ(m.Cover(0, y, 1), 255);
        EXPECT_EQ(m.Cover(116, y, 1), 255);
        EXPECT_EQ(m.Cover(117, y, 1), 0);
    }

    // Cliffs on the +x half only: steep texels there, none on the flat half.
    m.Heights([](float x, float) { return x > 0 ? 2 * x : 0.0f; });
    ASSERT_TRUE(m.terrain.AutoPaintLayer(0, Rule(45, 90, 5, -1e6f, 1e6f, 0)));
    for (int y : {10, 512, 1000}) {
        EXPECT_EQ(m.Cover(100, y), 0);
        EXPECT_EQ(m.Cover(490, y), 0);
        EXPECT_EQ(m.Cover(540, y), 255);
        EXPECT_EQ(m.Cover(1000, y), 255);
    }
}

TEST(AutoPaintLayer, RefusalsLeaveTheMapAndBrushPaintingAddsToIt) {
    AutoPaint m;
    EXPECT_FALSE(m.terrain.AutoPaintLayer(-1, KrAutoPaintRule{}));
    EXPECT_FALSE(m.terrain.AutoPaintLayer(2, KrAutoPaintRule{}));
    m.device->failures->lockRect = true;
    EXPECT_FALSE(m.terrain.AutoPaintLayer(0, KrAutoPaintRule{}));
    m.device->failures->lockRect = false;
    EXPECT_TRUE(m.All(0, 0));

    // Heights no rule can place paint nothing.
    m.Heights([](float x, float) { return x < 0 ? NAN : INFINITY; });
    ASSERT_TRUE(m.terrain.AutoPaintLayer(0, Rule(0, 90, 10, -FLT_MAX, FLT_MAX, 10)));
    EXPECT_TRUE(m.All(0, 0));

    // The brush then draws over it.
    m.Heights([](float, float) { return 0.0f; });
    ASSERT_TRUE(m.terrain.AutoPaintLayer(0, Rule(0, 10, 0, 50, 100, 0)));
    KrPickRay ray{};
    ray.hitPoint = D3DXVECTOR3(0, 0, 0);
    m.terrain.pickHit = true;
    ASSERT_TRUE(m.terrain.PaintSplat(&ray, 0));
    EXPECT_EQ(m.Cover(512, 512), 255);
    EXPECT_EQ(m.Cover(10, 10), 0);
}

} // namespace
