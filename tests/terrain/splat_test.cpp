#include "terrain_fixture.h"

#include <tuple>

namespace {

// 129 × 129 with spacing 10, one texture, one layer selected, a hit at the centre.
struct SplatTerrain : MemoryTerrain {
    SplatTerrain() : MemoryTerrain(129, 129) {
        AddTexture();
        EXPECT_TRUE(terrain.AddSplatLayer(0));
        terrain.selectedLayer = 0;
        terrain.pickRay = &ray;
        terrain.pickHit = true;
    }
    MemoryTexture* Map(size_t layer = 0) const {
        return static_cast<MemoryTexture*>(terrain.alphaMaps.at(layer)->texture);
    }
    // The coverage of a texel, checking that all four bytes carry it.
    int Cover(int x, int y, size_t layer = 0) const {
        const uint32_t v = Map(layer)->Texel(0, x, y);
        EXPECT_EQ(v, (v & 0xFFu) * 0x01010101u) << x << "," << y;
        return static_cast<int>(v & 0xFFu);
    }
    std::vector<int> Covers(std::initializer_list<std::pair<int, int>> texels) const {
        std::vector<int> out;
        for (auto [x, y] : texels)
            out.push_back(Cover(x, y));
        return out;
    }
    void SetCover(int x, int y, uint32_t a) {
        MemoryTexture::Level& l = Map()->levels[0];
        const uint32_t v = a * 0x01010101u;
        std::memcpy(l.bits.data() + y * l.pitch + 4 * x, &v, 4);
    }
    bool Paint(float x, float z) {
        ray.hitPoint = D3DXVECTOR3(x, 0, z);
        return terrain.PaintSplat(&ray, terrain.selectedLayer);
    }
    // The last locked rectangle of the alpha map and the painted centre texel.
    auto Lock() const {
        const RECT r = Map()->levels[0].lastLock;
        return std::tuple(r.left, r.top, r.right, r.bottom);
    }
    auto Centre() const { return std::pair(terrain.splatCentreX, terrain.splatCentreY); }
    KrPickRay ray;
};

TEST(SplatPaint, RadiusHundredAtTheCentreAndRefusals) {
    SplatTerrain m;
    m.terrain.pickHit = false; // a miss never paints at a stale point
    EXPECT_FALSE(m.Paint(0, 0));
    m.terrain.pickHit = true;
    EXPECT_FALSE(m.terrain.PaintSplat(&m.ray, -1)); // no layer selected
    EXPECT_FALSE(m.terrain.PaintSplat(&m.ray, 1));
    m.device->failures->lockRect = true;
    EXPECT_FALSE(m.Paint(0, 0));
    m.device->failures->lockRect = false;
    EXPECT_EQ(m.Cover(512, 512), 0);

    m.SetCover(552, 300, 1); // outside the brush rectangle
    m.SetCover(552, 512, 200);
    ASSERT_TRUE(m.Paint(0, 0));
    EXPECT_EQ(m.Centre(), std::pair(512, 512));
    EXPECT_EQ(m.Map()->Texel(0, 512, 512), 0xFFFFFFFFu);
    EXPECT_EQ(m.Covers({{513, 512}, {512, 552}, {591, 512}, {432, 512}, {552, 512}, {552, 300}}),
              (std::vector{251, 126, 1, 0, 200, 1})); // never lowered
    EXPECT_EQ(m.Lock(), std::tuple(432, 432, 592, 592));
    // A second step does not add up.
    const std::vector<uint8_t> before = m.Map()->levels[0].bits;
    ASSERT_TRUE(m.Paint(0, 0));
    EXPECT_TRUE(m.Map()->levels[0].bits == before);
}

TEST(SplatPaint, InnerRadiusAndErase) {
    SplatTerrain m;
    m.terrain.bigRadius = 150;
    m.terrain.splatInnerRadius = 37.5f;
    m.SetCover(631, 512, 7);
    ASSERT_TRUE(m.Paint(0, 0));
    EXPECT_EQ(m.Covers({{541, 512}, {542, 512}, {631, 512}}), (std::vector{255, 254, 7}));

    // Erase clears everything within R, the inner radius playing no part.
    const int beyond = m.Cover(593, 512);
    EXPECT_GT(beyond, 0);
    m.terrain.bigRadius = 100;
    m.terrain.paintMode = 0;
    m.SetCover(591, 591, 50); // in the rectangle but beyond R
    ASSERT_TRUE(m.Paint(0, 0));
    EXPECT_EQ(m.Covers({{512, 512}, {591, 512}, {591, 591}, {593, 512}}),
              (std::vector{0, 0, 50, beyond}));
}

TEST(SplatPaint, EdgesOfTheMap) {
    SplatTerrain m;
    ASSERT_TRUE(m.Paint(-645, 645)); // top-left corner: a quarter disc
    EXPECT_EQ(m.Centre(), std::pair(0, 0));
    EXPECT_EQ(m.Covers({{0, 0}, {79, 0}, {0, 79}}), (std::vector{255, 1, 1}));
    EXPECT_EQ(m.Lock(), std::tuple(0, 0, 80, 80));

    // At the +x edge the centre lands a cell short of the map's last column.
    ASSERT_TRUE(m.Paint(635, 0));
    EXPECT_EQ(m.Centre(), std::pair(1016, 512));
    EXPECT_EQ(m.Cover(1016, 512), 255);
    EXPECT_LT(m.Cover(1023, 512), 255);
    EXPECT_EQ(std::get<2>(m.Lock()), 1024);

    // The small offsets tip a centre just short of a texel onto it.
    ASSERT_TRUE(m.Paint(112, -112));
    EXPECT_EQ(m.Centre(), std::pair(601, 601));

    // The texel size comes from the width alone, so on a half-depth terrain the brush
    // spans as many rows as columns.
    ASSERT_TRUE(m.terrain.Create(129, 65, 10));
    m.terrain.pickHit = true; // a new grid starts without a hit
    ASSERT_TRUE(m.Paint(0, 0));
    EXPECT_EQ(m.Lock(), std::tuple(432, 432, 592, 592));
}

TEST(SplatLayers, AddRemoveAndSwap) {
    SplatTerrain m;
    KrTerrain& t = m.terrain;
    const DWORD expected[6] = {1024, 1024, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED};
    EXPECT_TRUE(
        std::equal(expected, expected + 6, m.device->Calls(DeviceOp::CreateTexture)[1].args));
    m.AddTexture();
    EXPECT_FALSE(t.AddSplatLayer(2)); // past the textures
    ASSERT_TRUE(t.AddSplatLayer(1));
    ASSERT_TRUE(t.AddSplatLayer(0));

    // A layer whose alpha map cannot be made is taken back.
    for (bool DeviceFailures::*flag : {&DeviceFailures::createTexture, &DeviceFailures::lockRect}) {
        (*m.device->failures).*flag = true;
        EXPECT_FALSE(t.AddSplatLayer(0));
        (*m.device->failures).*flag = false;
        EXPECT_TRUE(t.splatLayers.size() == 3 && t.alphaMaps.size() == 3);
    }

    // Swapping exchanges textures and coverage; painting follows the index.
    ASSERT_TRUE(m.Paint(0, 0));
    IDirect3DTexture9* painted = t.alphaMaps[0]->texture;
    ASSERT_TRUE(t.SwapSplatLayers(0, 1));
    EXPECT_EQ(std::tuple(t.splatLayers[0].textureIndex, t.splatLayers[1].textureIndex,
                         t.alphaMaps[1]->texture),
              std::tuple(1, 0, painted));
    EXPECT_EQ(m.Cover(512, 512, 1), 255);
    ASSERT_TRUE(m.Paint(-645, 645));
    EXPECT_EQ(m.Cover(0, 0, 0), 255);
    EXPECT_FALSE(t.SwapSplatLayers(0, 3));

    t.selectedLayer = 2;
    EXPECT_FALSE(t.RemoveSplatLayer(3));
    ASSERT_TRUE(t.RemoveSplatLayer(0));
    EXPECT_EQ(t.selectedLayer, -1);
    ASSERT_EQ(t.alphaMaps.size(), 2u);
    EXPECT_EQ(t.alphaMaps[0]->texture, painted);
}

// Removing a texture keeps every other layer and the base on the texture it showed.
TEST(SplatTextures, RemovalKeepsOthersOnTheirTextures) {
    SplatTerrain m;
    KrTerrain& t = m.terrain;
    IDirect3DTexture9* t0 = t.textures[0]->texture;
    m.AddTexture();
    IDirect3DTexture9* t2 = m.AddTexture();
    ASSERT_TRUE(t.AddSplatLayer(1));
    ASSERT_TRUE(t.AddSplatLayer(2));
    t.baseTexture = 2;
    const auto indices = [&] {
        return std::tuple(t.baseTexture, t.splatLayers[0].textureIndex,
                          t.splatLayers[1].textureIndex, t.splatLayers[2].textureIndex);
    };

    EXPECT_FALSE(t.RemoveTexture(3));
    ASSERT_TRUE(t.RemoveTexture(1));
    EXPECT_EQ(indices(), std::tuple(1, 0, -1, 1));
    t.visibleTriangleCount = 10;
    m.device->ClearLog();
    t.Render();
    const auto draws = m.device->Calls(DeviceOp::DrawIndexedPrimitive);
    ASSERT_EQ(draws.size(), 3u); // the base and the two layers that kept a texture
    EXPECT_EQ(std::tuple(draws[0].stageTextures[0], draws[1].stageTextures[1],
                         draws[2].stageTextures[1], draws[2].stageTextures[0]),
              std::tuple(t2, t0, t2, t.alphaMaps[2]->texture));

    // The base on the last texture falls back to the new last; none left gives -1.
    ASSERT_TRUE(t.RemoveTexture(1));
    EXPECT_EQ(indices(), std::tuple(0, 0, -1, -1));
    ASSERT_TRUE(t.RemoveTexture(0));
    EXPECT_EQ(indices(), std::tuple(-1, -1, -1, -1));
    EXPECT_FALSE(t.AddSplatLayer(0));
}

} // namespace
