#include "gl_fixture.h"

namespace {

class GlStageTest : public GlDeviceTest {
protected:
    void SetUp() override {
        GlDeviceTest::SetUp();
        if (device)
            device->SetRenderState(D3DRS_LIGHTING, FALSE);
    }
    void Stage(DWORD stage, DWORD op, DWORD arg1 = D3DTA_TEXTURE) {
        device->SetTextureStageState(stage, D3DTSS_COLOROP, op);
        device->SetTextureStageState(stage, D3DTSS_COLORARG1, arg1);
    }
    // Draws the centre quad; the pixel at texture coordinate (u, v) of that quad.
    void Draw(D3DCOLOR colour = 0xFF808080u) {
        Frame();
        Quad(-0.5f, -0.5f, 0.5f, 0.5f, colour);
        Pixels();
    }
    uint32_t AtUv(float u, float v) const { return AtNdc(-0.5f + u, 0.5f - v); }
    void Sampler(DWORD sampler, D3DSAMPLERSTATETYPE type, DWORD value, DWORD type2 = 0) {
        device->SetSamplerState(sampler, type, value);
        if (type2)
            device->SetSamplerState(sampler, D3DSAMPLERSTATETYPE(type2), value);
    }
};

TEST_F(GlStageTest, StagesModulateSelectAndCascade) {
    const uint32_t quarters[2][2] = {{kRed, kGreen}, {kBlue, kWhite}};
    device->SetTexture(0, Texture(2, 2, [&](UINT x, UINT y, UINT) { return quarters[y][x]; }));
    // The default stage 0: texture × vertex colour (128 of 255).
    Draw();
    EXPECT_TRUE(Near(AtUv(0.25f, 0.25f), 0x800000u, 1));
    EXPECT_TRUE(Near(AtUv(0.75f, 0.25f), 0x008000u, 1));
    EXPECT_TRUE(Near(AtUv(0.25f, 0.75f), 0x000080u, 1));
    EXPECT_TRUE(Near(AtUv(0.75f, 0.75f), 0x808080u, 1));
    Stage(0, D3DTOP_SELECTARG1);
    Draw();
    EXPECT_EQ(AtUv(0.25f, 0.75f), kBlue);
    Stage(0, D3DTOP_SELECTARG2);
    Draw();
    EXPECT_EQ(AtUv(0.25f, 0.75f), 0xFF808080u);
    Stage(0, D3DTOP_SELECTARG1, D3DTA_DIFFUSE);
    Draw(0xFF402010u);
    EXPECT_EQ(AtUv(0.75f, 0.25f), 0xFF402010u);

    // Stage 1 works on stage 0's result: red × cyan is black, white × cyan is cyan.
    device->SetTexture(1, Texture(1, 1, [](UINT, UINT, UINT) { return 0xFF00FFFFu; }));
    Stage(0, D3DTOP_SELECTARG1);
    Stage(1, D3DTOP_MODULATE);
    Draw();
    EXPECT_TRUE(AtUv(0.25f, 0.25f) == kBlack && AtUv(0.75f, 0.25f) == kGreen);
    EXPECT_EQ(AtUv(0.75f, 0.75f), 0xFF00FFFFu);
    // A disabled stage 0 ends the cascade: stage 1 is not applied either.
    Stage(0, D3DTOP_DISABLE);
    Draw();
    EXPECT_TRUE(AtUv(0.25f, 0.25f) == 0xFF808080u && AtUv(0.75f, 0.75f) == 0xFF808080u);
    // A stage without a texture reads white, leaving the vertex colour.
    Stage(0, D3DTOP_MODULATE);
    Stage(1, D3DTOP_DISABLE);
    device->SetTexture(0, nullptr);
    Draw();
    EXPECT_EQ(AtUv(0.25f, 0.25f), 0xFF808080u);
}

TEST_F(GlStageTest, TextureTransformRepeatsTheTextureAndAddressingWrapsOrClamps) {
    device->SetTexture(
        0, Texture(2, 2, [](UINT x, UINT y, UINT) { return (x + y) % 2 == 0 ? kWhite : kBlack; }));
    Stage(0, D3DTOP_SELECTARG1);
    D3DXMATRIX four;
    device->SetTransform(D3DTS_TEXTURE0, D3DXMatrixScaling(&four, 4.0f, 4.0f, 1.0f));
    // The matrix alone changes nothing until the stage's flags ask for it.
    Draw();
    EXPECT_TRUE(AtUv(0.3f, 0.2f) == kWhite && AtUv(0.7f, 0.2f) == kBlack);
    device->SetTextureStageState(0, D3DTSS_TEXTURETRANSFORMFLAGS, D3DTTFF_COUNT2);
    Draw();
    for (int cy = 0; cy < 8; ++cy)
        for (int cx = 0; cx < 8; ++cx)
            EXPECT_EQ(AtUv((cx + 0.5f) / 8, (cy + 0.5f) / 8), (cx + cy) % 2 ? kBlack : kWhite)
                << "cell " << cx << ", " << cy;

    // Clamped, everything past the first repeat shows the edge texels.
    Sampler(0, D3DSAMP_ADDRESSU, D3DTADDRESS_CLAMP, D3DSAMP_ADDRESSV);
    Draw();
    EXPECT_TRUE(AtUv(0.05f, 0.05f) == kWhite && AtUv(0.6f, 0.9f) == kWhite);
    EXPECT_TRUE(AtUv(0.6f, 0.05f) == kBlack && AtUv(0.05f, 0.6f) == kBlack);

    // A 2-D coordinate is transformed as (u, v, 1, 0): the translation sits in the third row,
    // and the fourth row has no effect.
    Sampler(0, D3DSAMP_ADDRESSU, D3DTADDRESS_WRAP, D3DSAMP_ADDRESSV);
    for (auto [row, expected] : {std::pair{2, kBlack}, std::pair{3, kWhite}}) {
        D3DXMATRIX shift;
        D3DXMatrixIdentity(&shift)->m[row][0] = 0.5f;
        device->SetTransform(D3DTS_TEXTURE0, &shift);
        Draw();
        EXPECT_EQ(AtUv(0.25f, 0.25f), expected) << "row " << row;
    }
}

TEST_F(GlStageTest, MipFilterPicksTheLevelForTheMinification) {
    const uint32_t levels[7] = {kRed, kGreen, kBlue, 0xFFFFFF00u, 0xFF00FFFFu, 0xFFFF00FFu, kWhite};
    IDirect3DTexture9* texture = Texture(
        64, 64, [&](UINT, UINT, UINT l) { return levels[l]; }, 0);
    ASSERT_EQ(texture->GetLevelCount(), 7u);
    device->SetTexture(0, texture);
    Stage(0, D3DTOP_SELECTARG1);
    auto drawSide = [&](float side) {
        Frame();
        Quad(-side / kBackWidth, -side / kBackHeight, side / kBackWidth, side / kBackHeight,
             kWhite);
        Pixels();
        return At(kBackWidth / 2, kBackHeight / 2);
    };
    EXPECT_EQ(drawSide(8), kRed); // no mip filter: level 0 only
    Sampler(0, D3DSAMP_MIPFILTER, D3DTEXF_POINT);
    EXPECT_EQ(drawSide(8), 0xFFFFFF00u); // 64 texels on 8 pixels: level 3
    EXPECT_EQ(drawSide(32), kGreen);
    // Between levels 2 (blue) and 3 (yellow) the linear mip filter mixes them.
    Sampler(0, D3DSAMP_MINFILTER, D3DTEXF_LINEAR, D3DSAMP_MIPFILTER);
    EXPECT_TRUE(Near(drawSide(64 / std::pow(2.0f, 2.5f)), 0x808080u, 24));
}

TEST_F(GlStageTest, RectLocksUploadOnlyTheRectangle) {
    IDirect3DTexture9* big = Texture(1024, 1024, [](UINT, UINT, UINT) { return kBlack; });
    const uint64_t before = device->Stats().textureBytesUploaded;
    const RECT brush{100, 200, 110, 230}, outside{1000, 0, 1100, 10};
    D3DLOCKED_RECT locked;
    ASSERT_EQ(big->LockRect(0, &locked, &brush, 0), D3D_OK);
    EXPECT_EQ(locked.Pitch, 4096);
    ASSERT_EQ(big->UnlockRect(0), D3D_OK);
    EXPECT_EQ(device->Stats().textureBytesUploaded - before, 10u * 30u * 4u);
    EXPECT_EQ(big->UnlockRect(0), D3DERR_INVALIDCALL);
    EXPECT_EQ(big->LockRect(0, &locked, &outside, 0), D3DERR_INVALIDCALL);

    // The rectangle lands where it was locked, and the texels around it keep their values.
    IDirect3DTexture9* map = Texture(64, 64, [](UINT, UINT, UINT) { return kBlack; });
    const RECT r{8, 16, 24, 20};
    ASSERT_EQ(map->LockRect(0, &locked, &r, 0), D3D_OK);
    for (int y = 0; y < 4; ++y)
        std::fill_n(static_cast<uint32_t*>(locked.pBits) + y * locked.Pitch / 4, 16, kRed);
    ASSERT_EQ(map->UnlockRect(0), D3D_OK);
    device->SetTexture(0, map);
    Stage(0, D3DTOP_SELECTARG1);
    // One texel per pixel: the quad spans screen positions −0.5 to 63.5, so each pixel centre
    // samples a texel centre.
    Frame();
    Quad(-0.5f / 640 - 1, 1 - 63.5f / 384, 63.5f / 640 - 1, 1 + 0.5f / 384, kWhite);
    Pixels();
    for (int y = 0; y < 64; ++y)
        for (int x = 0; x < 64; ++x)
            ASSERT_EQ(At(x, y), x >= 8 && x < 24 && y >= 16 && y < 20 ? kRed : kBlack)
                << x << ", " << y;
}

// The terrain's layer pass over its base pass: stage 0 takes the alpha map's coverage, stage 1
// the layer texture and squares the alpha, blended with source alpha.
TEST_F(GlStageTest, LayerPassBlendsAsLayerTimesDiffuseTimesACubedOverThePrevious) {
    FlatGrid(20, 100.0f);
    Camera(1500);
    D3DLIGHT9 sun{};
    sun.Type = D3DLIGHT_DIRECTIONAL;
    sun.Diffuse = {0.8f, 0.8f, 0.8f, 1};
    sun.Direction = {0, -1, 0};
    device->SetLight(0, &sun);
    device->LightEnable(0, TRUE);
    device->SetRenderState(D3DRS_LIGHTING, TRUE);
    const D3DMATERIAL9 material = DefaultMaterial();
    device->SetMaterial(&material);
    device->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_SRCALPHA);
    device->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_INVSRCALPHA);
    const uint32_t base = 0xFFC87828u, layer = 0xFF28C8F0u;
    const int coverage[4] = {0, 64, 160, 255};

    Frame();
    device->SetTexture(0, Texture(4, 4, [&](UINT, UINT, UINT) { return base; }));
    DrawGrid();
    device->SetRenderState(D3DRS_ALPHABLENDENABLE, TRUE);
    device->SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_MODULATE);
    device->SetTextureStageState(0, D3DTSS_ALPHAARG1, D3DTA_TEXTURE);
    Stage(1, D3DTOP_MODULATE);
    device->SetTextureStageState(1, D3DTSS_ALPHAOP, D3DTOP_MODULATE);
    device->SetTextureStageState(1, D3DTSS_ALPHAARG1, D3DTA_CURRENT);
    device->SetTextureStageState(1, D3DTSS_TEXCOORDINDEX, 0);
    Sampler(0, D3DSAMP_ADDRESSU, D3DTADDRESS_CLAMP, D3DSAMP_ADDRESSV);
    device->SetTexture(0, Texture(64, 16, [&](UINT x, UINT, UINT) {
                           const uint32_t a = static_cast<uint32_t>(coverage[x / 16]);
                           return a << 24 | a << 16 | a << 8 | a;
                       }));
    device->SetTexture(1, Texture(8, 8, [&](UINT, UINT, UINT) { return layer; }));
    DrawGrid();
    Pixels();

    const double d = 0.8;
    for (int band = 0; band < 4; ++band) {
        const double a = coverage[band] / 255.0;
        uint32_t want = 0;
        for (int c = 0; c < 3; ++c) {
            const double previous = std::round(Channel(base, c) * d);
            want |=
                uint32_t(std::lround(Channel(layer, c) * d * a * a * a + previous * (1 - a * a)))
                << 8 * c;
        }
        EXPECT_TRUE(Near(AtWorld({-1000 + 2000 * (band * 16 + 8) / 64.0f, 0, 0}), want, 3))
            << "band " << band;
    }
}

} // namespace
