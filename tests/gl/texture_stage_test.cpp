#include "gl_fixture.h"

namespace {

constexpr uint32_t kRed = 0xFFFF0000u, kGreen = 0xFF00FF00u, kBlueTexel = 0xFF0000FFu,
                   kWhite = 0xFFFFFFFFu, kBlack = 0xFF000000u;

class GlStageTest : public GlDeviceTest {
protected:
    void SetUp() override {
        GlDeviceTest::SetUp();
        if (device)
            device->SetRenderState(D3DRS_LIGHTING, FALSE);
    }
    void Stage(DWORD stage, DWORD op, DWORD arg1 = D3DTA_TEXTURE, DWORD arg2 = D3DTA_CURRENT) {
        device->SetTextureStageState(stage, D3DTSS_COLOROP, op);
        device->SetTextureStageState(stage, D3DTSS_COLORARG1, arg1);
        device->SetTextureStageState(stage, D3DTSS_COLORARG2, arg2);
    }
    // The centre quad, and the pixel at its texture coordinate (u, v).
    void Draw(D3DCOLOR colour = 0xFF808080u) {
        Frame();
        Quad(-0.5f, -0.5f, 0.5f, 0.5f, colour);
        Pixels();
    }
    uint32_t AtUv(float u, float v) const { return At(PixelX(-0.5f + u), PixelY(0.5f - v)); }
};

TEST_F(GlStageTest, StagesModulateSelectAndCascade) {
    IDirect3DTexture9* quarters = Texture(2, 2, [](UINT x, UINT y, UINT) {
        const uint32_t t[2][2] = {{kRed, kGreen}, {kBlueTexel, kWhite}};
        return t[y][x];
    });
    device->SetTexture(0, quarters);
    // The default stage 0: texture × vertex colour (128 of 255).
    Draw();
    EXPECT_TRUE(Near(AtUv(0.25f, 0.25f), {128, 0, 0}, 1));
    EXPECT_TRUE(Near(AtUv(0.75f, 0.25f), {0, 128, 0}, 1));
    EXPECT_TRUE(Near(AtUv(0.25f, 0.75f), {0, 0, 128}, 1));
    EXPECT_TRUE(Near(AtUv(0.75f, 0.75f), {128, 128, 128}, 1));

    Stage(0, D3DTOP_SELECTARG1);
    Draw();
    EXPECT_EQ(AtUv(0.25f, 0.75f), kBlueTexel);
    Stage(0, D3DTOP_SELECTARG2);
    Draw();
    EXPECT_EQ(AtUv(0.25f, 0.75f), 0xFF808080u);
    Stage(0, D3DTOP_SELECTARG1, D3DTA_DIFFUSE);
    Draw(0xFF402010u);
    EXPECT_EQ(AtUv(0.75f, 0.25f), 0xFF402010u);

    // Stage 1 works on stage 0's result: red × cyan is black, white × cyan is cyan.
    IDirect3DTexture9* cyan = Texture(1, 1, [](UINT, UINT, UINT) { return 0xFF00FFFFu; });
    device->SetTexture(1, cyan);
    Stage(0, D3DTOP_SELECTARG1);
    Stage(1, D3DTOP_MODULATE);
    Draw();
    EXPECT_EQ(AtUv(0.25f, 0.25f), kBlack);
    EXPECT_EQ(AtUv(0.75f, 0.75f), 0xFF00FFFFu);
    EXPECT_EQ(AtUv(0.75f, 0.25f), kGreen);

    // A disabled stage 0 ends the cascade: stage 1 is not applied either.
    Stage(0, D3DTOP_DISABLE);
    Draw();
    EXPECT_EQ(AtUv(0.25f, 0.25f), 0xFF808080u);
    EXPECT_EQ(AtUv(0.75f, 0.75f), 0xFF808080u);

    // A stage without a texture reads white, leaving the vertex colour.
    Stage(0, D3DTOP_MODULATE);
    Stage(1, D3DTOP_DISABLE);
    device->SetTexture(0, nullptr);
    Draw();
    EXPECT_EQ(AtUv(0.25f, 0.25f), 0xFF808080u);
}

TEST_F(GlStageTest, TextureTransformRepeatsTheTextureAndAddressingWrapsOrClamps) {
    IDirect3DTexture9* checker =
        Texture(2, 2, [](UINT x, UINT y, UINT) { return (x + y) % 2 == 0 ? kWhite : kBlack; });
    device->SetTexture(0, checker);
    Stage(0, D3DTOP_SELECTARG1);
    D3DXMATRIX four;
    D3DXMatrixScaling(&four, 4.0f, 4.0f, 1.0f);
    device->SetTransform(D3DTS_TEXTURE0, &four);

    // The matrix alone changes nothing until the stage's flags ask for it.
    Draw();
    EXPECT_EQ(AtUv(0.3f, 0.2f), kWhite);
    EXPECT_EQ(AtUv(0.7f, 0.2f), kBlack);

    device->SetTextureStageState(0, D3DTSS_TEXTURETRANSFORMFLAGS, D3DTTFF_COUNT2);
    Draw();
    for (int cy = 0; cy < 8; ++cy)
        for (int cx = 0; cx < 8; ++cx)
            EXPECT_EQ(AtUv((cx + 0.5f) / 8, (cy + 0.5f) / 8), (cx + cy) % 2 == 0 ? kWhite : kBlack)
                << "cell " << cx << ", " << cy;

    // Clamped, everything past the first repeat shows the edge texels.
    device->SetSamplerState(0, D3DSAMP_ADDRESSU, D3DTADDRESS_CLAMP);
    device->SetSamplerState(0, D3DSAMP_ADDRESSV, D3DTADDRESS_CLAMP);
    Draw();
    EXPECT_EQ(AtUv(0.05f, 0.05f), kWhite);
    EXPECT_EQ(AtUv(0.6f, 0.05f), kBlack); // column 1, row 0
    EXPECT_EQ(AtUv(0.6f, 0.9f), kWhite);  // column 1, row 1
    EXPECT_EQ(AtUv(0.05f, 0.6f), kBlack); // column 0, row 1

    // A 2-D coordinate is transformed as (u, v, 1, 0): the translation sits in the third row,
    // and the fourth row has no effect.
    device->SetSamplerState(0, D3DSAMP_ADDRESSU, D3DTADDRESS_WRAP);
    device->SetSamplerState(0, D3DSAMP_ADDRESSV, D3DTADDRESS_WRAP);
    D3DXMATRIX shift;
    D3DXMatrixIdentity(&shift);
    shift._31 = 0.5f;
    device->SetTransform(D3DTS_TEXTURE0, &shift);
    Draw();
    EXPECT_EQ(AtUv(0.25f, 0.25f), kBlack);
    D3DXMatrixIdentity(&shift);
    shift._41 = 0.5f;
    device->SetTransform(D3DTS_TEXTURE0, &shift);
    Draw();
    EXPECT_EQ(AtUv(0.25f, 0.25f), kWhite);
}

TEST_F(GlStageTest, MipFilterPicksTheLevelForTheMinification) {
    const uint32_t levels[7] = {kRed,        kGreen,      kBlueTexel, 0xFFFFFF00u,
                                0xFF00FFFFu, 0xFFFF00FFu, kWhite};
    IDirect3DTexture9* texture = Texture(
        64, 64, [&](UINT, UINT, UINT level) { return levels[level]; }, 0);
    ASSERT_EQ(texture->GetLevelCount(), 7u);
    device->SetTexture(0, texture);
    Stage(0, D3DTOP_SELECTARG1);
    auto drawSide = [&](float pixels) {
        Frame();
        Quad(-pixels / kBackWidth, -pixels / kBackHeight, pixels / kBackWidth, pixels / kBackHeight,
             kWhite);
        Pixels();
        return At(kBackWidth / 2, kBackHeight / 2);
    };
    EXPECT_EQ(drawSide(8), kRed); // no mip filter: level 0 only
    device->SetSamplerState(0, D3DSAMP_MIPFILTER, D3DTEXF_POINT);
    EXPECT_EQ(drawSide(8), 0xFFFFFF00u); // 64 texels on 8 pixels: level 3
    EXPECT_EQ(drawSide(32), kGreen);
    // Between levels 2 (blue) and 3 (yellow) the linear mip filter mixes them.
    device->SetSamplerState(0, D3DSAMP_MINFILTER, D3DTEXF_LINEAR);
    device->SetSamplerState(0, D3DSAMP_MIPFILTER, D3DTEXF_LINEAR);
    EXPECT_TRUE(Near(drawSide(64 / std::pow(2.0f, 2.5f)), {128, 128, 128}, 24));
}

TEST_F(GlStageTest, RectLocksUploadOnlyTheRectangle) {
    IDirect3DTexture9* big = nullptr;
    ASSERT_EQ(
        device->CreateTexture(1024, 1024, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &big, nullptr),
        D3D_OK);
    Own(big);
    const uint64_t before = device->Stats().textureBytesUploaded;
    RECT brush{100, 200, 110, 230};
    D3DLOCKED_RECT locked;
    ASSERT_EQ(big->LockRect(0, &locked, &brush, 0), D3D_OK);
    EXPECT_EQ(locked.Pitch, 4096);
    static_cast<uint32_t*>(locked.pBits)[0] = kWhite;
    ASSERT_EQ(big->UnlockRect(0), D3D_OK);
    EXPECT_EQ(device->Stats().textureBytesUploaded - before, 10u * 30u * 4u);
    EXPECT_EQ(big->UnlockRect(0), D3DERR_INVALIDCALL);
    RECT outside{1000, 0, 1100, 10};
    EXPECT_EQ(big->LockRect(0, &locked, &outside, 0), D3DERR_INVALIDCALL);

    // The rectangle lands where it was locked, and the texels around it keep their values.
    IDirect3DTexture9* map = Texture(64, 64, [](UINT, UINT, UINT) { return kBlack; });
    RECT r{8, 16, 24, 20};
    ASSERT_EQ(map->LockRect(0, &locked, &r, 0), D3D_OK);
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 16; ++x)
            reinterpret_cast<uint32_t*>(static_cast<uint8_t*>(locked.pBits) + y * locked.Pitch)[x] =
                kRed;
    ASSERT_EQ(map->UnlockRect(0), D3D_OK);
    device->SetTexture(0, map);
    Stage(0, D3DTOP_SELECTARG1);
    // One texel per pixel: the quad spans screen positions −0.5 to 63.5, so each pixel centre
    // samples a texel centre.
    Frame();
    const float x0 = -0.5f / 640 - 1, x1 = 63.5f / 640 - 1;
    const float y1 = 1 + 0.5f / 384, y0 = 1 - 63.5f / 384;
    Quad(x0, y0, x1, y1, kWhite);
    Pixels();
    for (int y = 0; y < 64; ++y)
        for (int x = 0; x < 64; ++x) {
            const bool inside = x >= 8 && x < 24 && y >= 16 && y < 20;
            ASSERT_EQ(At(x, y), inside ? kRed : kBlack) << x << ", " << y;
        }
}

// The terrain's layer pass: stage 0 takes the alpha map (untransformed, clamped), stage 1 the
// layer texture (transformed, wrapped), blended with source alpha over the base pass.
TEST_F(GlStageTest, LayerPassBlendsAsLayerTimesDiffuseTimesACubedOverThePrevious) {
    FlatGrid(20, 100.0f);
    Camera({0, 1500, 0}, {0, 0, 0}, {0, 0, 1});
    D3DLIGHT9 sun{};
    sun.Type = D3DLIGHT_DIRECTIONAL;
    sun.Diffuse = {0.8f, 0.8f, 0.8f, 1};
    sun.Direction = {0, -1, 0};
    device->SetLight(0, &sun);
    device->LightEnable(0, TRUE);
    device->SetRenderState(D3DRS_LIGHTING, TRUE);
    D3DMATERIAL9 material{};
    material.Diffuse = material.Ambient = material.Specular = {1, 1, 1, 1};
    material.Power = 8;
    device->SetMaterial(&material);
    device->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_SRCALPHA);
    device->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_INVSRCALPHA);

    const uint32_t base = 0xFFC87828u, layer = 0xFF28C8F0u;
    const int coverage[4] = {0, 64, 160, 255};
    IDirect3DTexture9* baseTexture = Texture(4, 4, [&](UINT, UINT, UINT) { return base; });
    IDirect3DTexture9* layerTexture = Texture(8, 8, [&](UINT, UINT, UINT) { return layer; });
    IDirect3DTexture9* alphaMap = Texture(64, 16, [&](UINT x, UINT, UINT) {
        const uint32_t a = static_cast<uint32_t>(coverage[x / 16]);
        return a << 24 | a << 16 | a << 8 | a;
    });
    D3DXMATRIX one;
    D3DXMatrixScaling(&one, 1.0f, 1.0f, 1.0f);

    Frame();
    // Base pass.
    device->SetTexture(0, baseTexture);
    device->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_MODULATE);
    device->SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_TEXTURE);
    for (D3DSAMPLERSTATETYPE f : {D3DSAMP_MAGFILTER, D3DSAMP_MINFILTER, D3DSAMP_MIPFILTER})
        device->SetSamplerState(0, f, D3DTEXF_LINEAR);
    device->SetTextureStageState(0, D3DTSS_TEXTURETRANSFORMFLAGS, D3DTTFF_COUNT2);
    device->SetTextureStageState(0, D3DTSS_TEXCOORDINDEX, 0);
    device->SetSamplerState(0, D3DSAMP_ADDRESSU, D3DTADDRESS_WRAP);
    device->SetSamplerState(0, D3DSAMP_ADDRESSV, D3DTADDRESS_WRAP);
    device->SetTransform(D3DTS_TEXTURE0, &one);
    DrawGrid();
    // Layer pass.
    device->SetTextureStageState(0, D3DTSS_TEXTURETRANSFORMFLAGS, D3DTTFF_DISABLE);
    device->SetRenderState(D3DRS_ALPHABLENDENABLE, TRUE);
    device->SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_MODULATE);
    device->SetTextureStageState(0, D3DTSS_ALPHAARG1, D3DTA_TEXTURE);
    device->SetTextureStageState(1, D3DTSS_COLOROP, D3DTOP_MODULATE);
    device->SetTextureStageState(1, D3DTSS_COLORARG1, D3DTA_TEXTURE);
    device->SetTextureStageState(1, D3DTSS_ALPHAOP, D3DTOP_MODULATE);
    device->SetTextureStageState(1, D3DTSS_ALPHAARG1, D3DTA_CURRENT);
    for (D3DSAMPLERSTATETYPE f : {D3DSAMP_MAGFILTER, D3DSAMP_MINFILTER, D3DSAMP_MIPFILTER})
        device->SetSamplerState(1, f, D3DTEXF_LINEAR);
    device->SetTextureStageState(0, D3DTSS_TEXTURETRANSFORMFLAGS, D3DTTFF_DISABLE);
    device->SetTextureStageState(1, D3DTSS_TEXTURETRANSFORMFLAGS, D3DTTFF_COUNT2);
    device->SetTextureStageState(1, D3DTSS_TEXCOORDINDEX, 0);
    device->SetSamplerState(0, D3DSAMP_ADDRESSU, D3DTADDRESS_CLAMP);
    device->SetSamplerState(0, D3DSAMP_ADDRESSV, D3DTADDRESS_CLAMP);
    device->SetSamplerState(1, D3DSAMP_ADDRESSU, D3DTADDRESS_WRAP);
    device->SetSamplerState(1, D3DSAMP_ADDRESSV, D3DTADDRESS_WRAP);
    device->SetTransform(D3DTS_TEXTURE0, &one);
    device->SetTransform(D3DTS_TEXTURE1, &one);
    device->SetTexture(0, alphaMap);
    device->SetTexture(1, layerTexture);
    DrawGrid();
    Pixels();

    const double d = 0.8;
    const Rgb b = ToRgb(base), l = ToRgb(layer);
    for (int band = 0; band < 4; ++band) {
        SCOPED_TRACE(band);
        const double a = coverage[band] / 255.0;
        auto blend = [&](int layerChannel, int baseChannel) {
            const double previous = std::round(baseChannel * d);
            return static_cast<int>(
                std::lround(layerChannel * d * a * a * a + previous * (1 - a * a)));
        };
        int x = 0, y = 0;
        ASSERT_TRUE(Project({-1000 + 2000 * (band * 16 + 8) / 64.0f, 0, 0}, &x, &y));
        EXPECT_TRUE(Near(At(x, y), {blend(l.r, b.r), blend(l.g, b.g), blend(l.b, b.b)}, 3));
    }
}

} // namespace
