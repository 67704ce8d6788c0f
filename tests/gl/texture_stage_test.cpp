#include "gl_fixture.h"

namespace {

using GlStageTest = GlDeviceTest;

TEST_F(GlStageTest, StagesModulateAndCascade) {
    const uint32_t quarters[2][2] = {{kRed, kGreen}, {kBlue, kWhite}};
    device->SetTexture(0, Texture(2, 2, [&](UINT x, UINT y, UINT) { return quarters[y][x]; }));
    // The default stage 0: texture × vertex colour (128 of 255).
    Draw();
    EXPECT_TRUE(Near(AtUv(0.25f, 0.25f), 0x800000u, 1) && Near(AtUv(0.75f, 0.25f), 0x008000u, 1));
    EXPECT_TRUE(Near(AtUv(0.25f, 0.75f), 0x000080u, 1));
    // A disabled stage 0 ends the cascade: stage 1 is not applied either.
    device->SetTexture(1, Texture(1, 1, [](UINT, UINT, UINT) { return kBlack; }));
    device->SetTextureStageState(1, D3DTSS_COLOROP, D3DTOP_MODULATE);
    device->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_DISABLE);
    Draw();
    EXPECT_EQ(AtUv(0.75f, 0.75f), 0xFF808080u);
    // A stage without a texture reads white, leaving the vertex colour.
    device->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_MODULATE);
    device->SetTextureStageState(1, D3DTSS_COLOROP, D3DTOP_DISABLE);
    device->SetTexture(0, nullptr);
    Draw();
    EXPECT_EQ(AtUv(0.25f, 0.25f), 0xFF808080u);
}

TEST_F(GlStageTest, TextureTransformRepeatsAddressingClampsAndLinearMipsMix) {
    device->SetTexture(
        0, Texture(2, 2, [](UINT x, UINT y, UINT) { return (x + y) % 2 == 0 ? kWhite : kBlack; }));
    device->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_SELECTARG1);
    D3DXMATRIX four;
    device->SetTransform(D3DTS_TEXTURE0, D3DXMatrixScaling(&four, 4.0f, 4.0f, 1.0f));
    // The matrix alone changes nothing until the stage's flags ask for it.
    Draw();
    EXPECT_TRUE(AtUv(0.3f, 0.2f) == kWhite && AtUv(0.7f, 0.2f) == kBlack);
    device->SetTextureStageState(0, D3DTSS_TEXTURETRANSFORMFLAGS, D3DTTFF_COUNT2);
    Draw();
    for (int cell = 0; cell < 8; ++cell) // the top row and the right column
        EXPECT_TRUE(AtUv((cell + 0.5f) / 8, 0.5f / 8) == (cell % 2 ? kBlack : kWhite) &&
                    AtUv(7.5f / 8, (cell + 0.5f) / 8) == (cell % 2 ? kWhite : kBlack))
            << cell;
    // Clamped, everything past the first repeat shows the edge texels.
    Sampler(0, D3DSAMP_ADDRESSU, D3DTADDRESS_CLAMP, D3DSAMP_ADDRESSV);
    Draw();
    EXPECT_TRUE(AtUv(0.05f, 0.05f) == kWhite && AtUv(0.6f, 0.9f) == kWhite);
    EXPECT_TRUE(AtUv(0.6f, 0.05f) == kBlack && AtUv(0.05f, 0.6f) == kBlack);

    // 64 texels on 64 / 2^2.5 pixels: the linear mip filter mixes levels 2 (blue) and 3
    // (yellow).
    const uint32_t levels[7] = {kRed, kGreen, kBlue, 0xFFFFFF00u, kRed, kRed, kRed};
    device->SetTexture(0, Texture(
                              64, 64, [&](UINT, UINT, UINT l) { return levels[l]; }, 0));
    device->SetTextureStageState(0, D3DTSS_TEXTURETRANSFORMFLAGS, D3DTTFF_DISABLE);
    Sampler(0, D3DSAMP_MINFILTER, D3DTEXF_LINEAR, D3DSAMP_MIPFILTER);
    const float side = 64 / std::pow(2.0f, 2.5f);
    Draw(side / kBackWidth, side / kBackHeight);
    EXPECT_TRUE(Near(At(kBackWidth / 2, kBackHeight / 2), 0x808080u, 24));
}

TEST_F(GlStageTest, RectLocksUploadOnlyTheRectangle) {
    IDirect3DTexture9* map = Texture(64, 64, [](UINT, UINT, UINT) { return kBlack; });
    const uint64_t before = device->Stats().textureBytesUploaded;
    const RECT r{8, 16, 24, 20}, outside{60, 0, 70, 10};
    D3DLOCKED_RECT locked;
    EXPECT_EQ(map->LockRect(0, &locked, &outside, 0), D3DERR_INVALIDCALL);
    ASSERT_EQ(map->LockRect(0, &locked, &r, 0), D3D_OK);
    EXPECT_EQ(locked.Pitch, 256);
    for (int y = 0; y < 4; ++y)
        std::fill_n(static_cast<uint32_t*>(locked.pBits) + y * locked.Pitch / 4, 16, kRed);
    ASSERT_EQ(map->UnlockRect(0), D3D_OK);
    EXPECT_EQ(device->Stats().textureBytesUploaded - before, 16u * 4u * 4u);
    // The rectangle lands where it was locked, and the texels around it keep their values:
    // the texel centres on each side of its edges.
    device->SetTexture(0, map);
    device->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_SELECTARG1);
    Draw();
    auto at = [&](float x, float y) { return AtUv((x + 0.5f) / 64, (y + 0.5f) / 64); };
    EXPECT_TRUE(at(8, 16) == kRed && at(23, 19) == kRed);
    EXPECT_TRUE(at(7, 16) == kBlack && at(24, 19) == kBlack);
    EXPECT_TRUE(at(8, 15) == kBlack && at(23, 20) == kBlack);
}

// The terrain's layer pass over its base pass: stage 0 takes the alpha map's coverage, stage 1
// the layer texture and squares the alpha, blended with source alpha.
TEST_F(GlStageTest, LayerPassBlendsAsLayerTimesDiffuseTimesACubedOverThePrevious) {
    const uint32_t base = 0xFFC87828u, layer = 0xFF28C8F0u, diffuse = 0xFFCCCCCCu;
    const int coverage[4] = {0, 64, 160, 255};
    device->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_SRCALPHA);
    device->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_INVSRCALPHA);
    Frame();
    device->SetTexture(0, Texture(4, 4, [&](UINT, UINT, UINT) { return base; }));
    Quad(-0.5f, -0.5f, 0.5f, 0.5f, diffuse);
    device->SetRenderState(D3DRS_ALPHABLENDENABLE, TRUE);
    device->SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_MODULATE);
    device->SetTextureStageState(0, D3DTSS_ALPHAARG1, D3DTA_TEXTURE);
    device->SetTextureStageState(1, D3DTSS_COLOROP, D3DTOP_MODULATE);
    device->SetTextureStageState(1, D3DTSS_ALPHAOP, D3DTOP_MODULATE);
    device->SetTextureStageState(1, D3DTSS_ALPHAARG1, D3DTA_CURRENT);
    device->SetTextureStageState(1, D3DTSS_TEXCOORDINDEX, 0);
    Sampler(0, D3DSAMP_ADDRESSU, D3DTADDRESS_CLAMP, D3DSAMP_ADDRESSV);
    device->SetTexture(0, Texture(64, 16, [&](UINT x, UINT, UINT) {
                           const uint32_t a = static_cast<uint32_t>(coverage[x / 16]);
                           return a << 24 | a << 16 | a << 8 | a;
                       }));
    device->SetTexture(1, Texture(8, 8, [&](UINT, UINT, UINT) { return layer; }));
    Quad(-0.5f, -0.5f, 0.5f, 0.5f, diffuse);
    Pixels();

    const double d = Channel(diffuse, 0) / 255.0;
    for (int band = 0; band < 4; ++band) {
        const double a = coverage[band] / 255.0;
        uint32_t want = 0;
        for (int c = 0; c < 3; ++c) {
            const double previous = std::round(Channel(base, c) * d);
            want |=
                uint32_t(std::lround(Channel(layer, c) * d * a * a * a + previous * (1 - a * a)))
                << 8 * c;
        }
        EXPECT_TRUE(Near(AtUv((band * 16 + 8) / 64.0f, 0.5f), want, 3)) << "band " << band;
    }
}

} // namespace
