#include "gl_fixture.h"

namespace {

// Direct3D 9's fixed-function vertex lighting for one light on a vertex with normal (0, 1, 0),
// seen from (0, 1500, 0), worked in world space (the view only rotates and moves, keeping
// lengths and angles): the stage output (texel × diffuse colour) plus the specular colour.
uint32_t Reference(const D3DLIGHT9& l, const D3DMATERIAL9& m, D3DXVECTOR3 p, bool specularOn,
                   double texel) {
    const bool directional = l.Type == D3DLIGHT_DIRECTIONAL;
    D3DXVECTOR3 L = directional ? -D3DXVECTOR3(l.Direction) : D3DXVECTOR3(l.Position) - p;
    const double d = D3DXVec3Length(&L);
    const bool lit = directional || d <= l.Range;
    const double atten =
        directional ? 1 : 1 / (l.Attenuation0 + l.Attenuation1 * d + l.Attenuation2 * d * d);
    D3DXVECTOR3 V = D3DXVECTOR3(0, 1500, 0) - p, H;
    D3DXVec3Normalize(&L, &L);
    D3DXVec3Normalize(&V, &V);
    H = L + V;
    D3DXVec3Normalize(&H, &H);
    const double nl = L.y, nh = H.y;
    const float *la = &l.Ambient.r, *ld = &l.Diffuse.r, *ls = &l.Specular.r;
    const float *me = &m.Emissive.r, *ma = &m.Ambient.r, *md = &m.Diffuse.r, *ms = &m.Specular.r;
    auto clamp01 = [](double v) { return std::clamp(v, 0.0, 1.0); };
    uint32_t out = 0;
    for (int c = 0; c < 3; ++c) { // red, green, blue
        const double diffuse = nl > 0 ? md[c] * ld[c] * nl : 0;
        const double colour = me[c] + (lit ? atten * (ma[c] * la[c] + diffuse) : 0);
        const bool shines = lit && nl > 0 && nh > 0 && specularOn;
        const double highlight = shines ? ms[c] * ls[c] * std::pow(nh, m.Power) * atten : 0;
        out |= uint32_t(std::lround(255 * clamp01(texel * clamp01(colour) + clamp01(highlight))))
               << (16 - 8 * c);
    }
    return out;
}

class GlLightingTest : public GlDeviceTest {
protected:
    void SetUp() override {
        GlDeviceTest::SetUp();
        if (!device)
            return;
        FlatGrid(20, 100.0f);
        Camera(1500);
        device->LightEnable(0, TRUE);
        device->SetRenderState(D3DRS_LIGHTING, TRUE);
    }

    // Draws the flat 2000 × 2000 grid and compares every visible vertex's pixel with the
    // formula; returns how many vertices were compared.
    int Compare(const D3DLIGHT9& light, const D3DMATERIAL9& material, bool specular,
                double texel = 1.0) {
        Draw(light, material, specular);
        int compared = 0;
        for (const KrTerrainVertex& v : gridVertices) {
            const D3DXVECTOR3 p(v.x, v.y, v.z), d = D3DXVECTOR3(light.Position) - p;
            // Gouraud shading blurs a vertex next to the range's edge.
            const bool nearEdge = std::fabs(D3DXVec3Length(&d) - light.Range) < 150;
            if (Project(p).first < 0 || (light.Type != D3DLIGHT_DIRECTIONAL && nearEdge))
                continue;
            EXPECT_TRUE(Near(AtWorld(p), Reference(light, material, p, specular, texel), 3))
                << "vertex " << v.x << ", " << v.z;
            ++compared;
        }
        return compared;
    }
    void Draw(const D3DLIGHT9& light, const D3DMATERIAL9& material, bool specular = true) {
        device->SetLight(0, &light);
        device->SetRenderState(D3DRS_SPECULARENABLE, specular);
        device->SetMaterial(&material);
        ShotGrid();
    }
};

TEST_F(GlLightingTest, DefaultPointLightMatchesTheFixedFunctionFormula) {
    const D3DLIGHT9 light = DefaultLight();
    D3DMATERIAL9 material = kWhiteMaterial;
    EXPECT_GT(Compare(light, material, true), 150);
    // Coloured light and material channels stay apart. A darker material shows the highlight
    // (local viewer, Blinn-Phong), added after the texture stages: a dark texture darkens only
    // the rest.
    D3DLIGHT9 tinted = light;
    tinted.Diffuse = {1.0f, 0.5f, 0.0f, 1};
    tinted.Ambient = {0.0f, 0.2f, 0.4f, 1};
    material.Diffuse = {0.15f, 0.3f, 0.3f, 1};
    material.Emissive = {0.0f, 0.0f, 0.1f, 0};
    device->SetTexture(0, Texture(2, 2, [](UINT, UINT, UINT) { return 0xFF666666u; }));
    Compare(tinted, material, true, 0x66 / 255.0);
    Compare(tinted, material, false, 0x66 / 255.0);
}

TEST_F(GlLightingTest, DirectionalLightRangeAndAttenuation) {
    D3DLIGHT9 directional = DefaultLight();
    directional.Type = D3DLIGHT_DIRECTIONAL;
    D3DMATERIAL9 grey = kWhiteMaterial;
    grey.Diffuse = {0.5f, 0.5f, 0.5f, 1};
    EXPECT_GT(Compare(directional, grey, true), 150);

    // A near light with linear and quadratic falloff; the outer vertices lie beyond its range
    // and stay black, ambient included.
    D3DLIGHT9 near = DefaultLight();
    near.Position = {0, 300, 0};
    near.Range = 500;
    near.Attenuation0 = 0;
    near.Attenuation1 = 0.002f;
    near.Attenuation2 = 0.000005f;
    Compare(near, kWhiteMaterial, true);

    // All three factors zero (the light page's slider at 0) saturate the light, also in a
    // channel without ambient light, and never give a NaN. A disabled light lights nothing.
    D3DLIGHT9 zero = DefaultLight();
    zero.Attenuation0 = 0;
    zero.Ambient.g = 0;
    Draw(zero, kWhiteMaterial);
    const size_t white = size_t(std::count(pixels.begin(), pixels.end(), kWhite));
    EXPECT_TRUE(white > 500000u && white == CountNot(kBlue)) << white;
    device->LightEnable(0, FALSE);
    Draw(zero, kWhiteMaterial);
    EXPECT_EQ(AtWorld({-800, 0, 400}), kBlack);
}

} // namespace
