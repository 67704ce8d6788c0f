#include "gl_fixture.h"

namespace {

// The renderer's default light and material.
D3DLIGHT9 DefaultLight() {
    D3DLIGHT9 l{};
    l.Type = D3DLIGHT_POINT;
    l.Diffuse = {1, 1, 1, 1};
    l.Specular = {0.5f, 0.5f, 0.5f, 1};
    l.Ambient = {0.1f, 0.1f, 0.1f, 1};
    l.Position = {0, 25000, -25000};
    l.Direction = {0, -0.7071f, 0.7071f};
    l.Range = 50000;
    l.Attenuation0 = 0.85f;
    return l;
}

D3DMATERIAL9 DefaultMaterial() {
    D3DMATERIAL9 m{};
    m.Diffuse = m.Ambient = m.Specular = {1, 1, 1, 1};
    m.Power = 8;
    return m;
}

double Clamp01(double v) {
    return v < 0 ? 0 : v > 1 ? 1 : v;
}

// Direct3D 9's fixed-function vertex lighting for one light, worked in world space (the view
// is a rotation and translation, so lengths and angles are the same), with the stage output
// (no texture: the diffuse colour) plus the specular colour.
Rgb Reference(const D3DLIGHT9& l, const D3DMATERIAL9& m, D3DXVECTOR3 p, D3DXVECTOR3 n,
              D3DXVECTOR3 eye, bool specularOn, double texel = 1.0) {
    auto dot = [](const double a[3], const double b[3]) {
        return a[0] * b[0] + a[1] * b[1] + a[2] * b[2];
    };
    auto unit = [&](double v[3]) {
        double len = std::sqrt(dot(v, v));
        for (int i = 0; i < 3; ++i)
            v[i] /= len;
    };
    const double N[3] = {n.x, n.y, n.z};
    double L[3], atten = 1;
    bool lit = true;
    if (l.Type == D3DLIGHT_DIRECTIONAL) {
        L[0] = -l.Direction.x;
        L[1] = -l.Direction.y;
        L[2] = -l.Direction.z;
        unit(L);
    } else {
        L[0] = l.Position.x - p.x;
        L[1] = l.Position.y - p.y;
        L[2] = l.Position.z - p.z;
        const double d = std::sqrt(dot(L, L));
        lit = d <= l.Range;
        unit(L);
        atten = 1 / (l.Attenuation0 + l.Attenuation1 * d + l.Attenuation2 * d * d);
    }
    double V[3] = {eye.x - p.x, eye.y - p.y, eye.z - p.z};
    unit(V);
    double H[3] = {L[0] + V[0], L[1] + V[1], L[2] + V[2]};
    unit(H);
    const double nl = dot(N, L), nh = dot(N, H);
    const float* la = &l.Ambient.r;
    const float* ld = &l.Diffuse.r;
    const float* ls = &l.Specular.r;
    int out[3];
    for (int c = 0; c < 3; ++c) {
        const double ambient = lit ? la[c] * atten : 0;
        const double diffuse = lit && nl > 0 ? ld[c] * nl * atten : 0;
        const double spec =
            lit && nl > 0 && nh > 0 && specularOn ? ls[c] * std::pow(nh, m.Power) * atten : 0;
        const double colour = texel * Clamp01((&m.Emissive.r)[c] + (&m.Ambient.r)[c] * ambient +
                                              (&m.Diffuse.r)[c] * diffuse);
        out[c] = static_cast<int>(
            std::lround(255 * Clamp01(colour + Clamp01((&m.Specular.r)[c] * spec))));
    }
    return {out[0], out[1], out[2]};
}

class GlLightingTest : public GlDeviceTest {
protected:
    // Draws the flat 2000 × 2000 grid seen from 1500 above and compares every visible vertex's
    // pixel with the formula; returns how many vertices were compared.
    int Compare(const D3DLIGHT9& light, const D3DMATERIAL9& material, bool specular,
                double texel = 1.0, int tolerance = 3) {
        device->SetLight(0, &light);
        device->LightEnable(0, TRUE);
        device->SetRenderState(D3DRS_LIGHTING, TRUE);
        device->SetRenderState(D3DRS_SPECULARENABLE, specular);
        device->SetMaterial(&material);
        Frame();
        DrawGrid();
        Pixels();
        int compared = 0;
        for (const KrTerrainVertex& v : gridVertices) {
            int x = 0, y = 0;
            D3DXVECTOR3 p(v.x, v.y, v.z);
            if (!Project(p, &x, &y))
                continue;
            if (light.Type != D3DLIGHT_DIRECTIONAL) {
                // Gouraud shading blurs a vertex next to the range's edge.
                D3DXVECTOR3 d = D3DXVECTOR3(light.Position) - p;
                if (std::fabs(D3DXVec3Length(&d) - light.Range) < 150)
                    continue;
            }
            Rgb want = Reference(light, material, p, {0, 1, 0}, eye, specular, texel);
            EXPECT_TRUE(Near(At(x, y), want, tolerance)) << "vertex " << v.x << ", " << v.z;
            ++compared;
        }
        return compared;
    }

    void SetUp() override {
        GlDeviceTest::SetUp();
        if (!device)
            return;
        FlatGrid(20, 100.0f);
        Camera(eye, {0, 0, 0}, {0, 0, 1});
    }

    D3DXVECTOR3 eye{0, 1500, 0};
};

TEST_F(GlLightingTest, DefaultPointLightMatchesTheFixedFunctionFormula) {
    const D3DLIGHT9 light = DefaultLight();
    D3DMATERIAL9 material = DefaultMaterial();
    EXPECT_GT(Compare(light, material, true), 150);
    // Without specular the diffuse and ambient terms are below saturation.
    Compare(light, material, false);
    int x = 0, y = 0;
    ASSERT_TRUE(Project({0, 0, 0}, &x, &y));
    EXPECT_LT(ToRgb(At(x, y)).r, 250);
    EXPECT_GT(ToRgb(At(x, y)).r, 230);
    // A darker diffuse material shows the highlight's shape (local viewer, Blinn-Phong),
    // strongest toward the light's reflection at −z.
    material.Diffuse = {0.3f, 0.3f, 0.3f, 1};
    Compare(light, material, true);
    int top = 0, bottom = 0;
    ASSERT_TRUE(Project({0, 0, 500}, &x, &top));
    ASSERT_TRUE(Project({0, 0, -500}, &x, &bottom));
    EXPECT_LT(ToRgb(At(x, top)).g + 40, ToRgb(At(x, bottom)).g);
    // The highlight is added after the texture stages: a dark texture darkens the diffuse
    // colour but not the highlight.
    IDirect3DTexture9* grey = Texture(2, 2, [](UINT, UINT, UINT) { return 0xFF666666u; });
    device->SetTexture(0, grey);
    Compare(light, material, true, 0x66 / 255.0);
    device->SetTexture(0, nullptr);
    // Coloured light and material channels stay apart.
    D3DLIGHT9 tinted = light;
    tinted.Diffuse = {1.0f, 0.5f, 0.0f, 1};
    tinted.Ambient = {0.0f, 0.2f, 0.4f, 1};
    material.Diffuse = {0.5f, 1.0f, 1.0f, 1};
    material.Emissive = {0.0f, 0.0f, 0.1f, 0};
    Compare(tinted, material, false);
}

TEST_F(GlLightingTest, DirectionalLightAndRangeWithAttenuation) {
    D3DLIGHT9 directional = DefaultLight();
    directional.Type = D3DLIGHT_DIRECTIONAL;
    D3DMATERIAL9 material = DefaultMaterial();
    material.Diffuse = {0.5f, 0.5f, 0.5f, 1};
    EXPECT_GT(Compare(directional, material, true), 150);

    // A near light with a linear falloff; the outer vertices lie beyond its range and stay
    // black, ambient included.
    D3DLIGHT9 near = DefaultLight();
    near.Position = {0, 300, 0};
    near.Range = 500;
    near.Attenuation0 = 0;
    near.Attenuation1 = 0.004f;
    Compare(near, DefaultMaterial(), false);
    int x = 0, y = 0;
    ASSERT_TRUE(Project({900, 0, 0}, &x, &y));
    EXPECT_EQ(At(x, y), 0xFF000000u);
    ASSERT_TRUE(Project({200, 0, 0}, &x, &y));
    EXPECT_GT(ToRgb(At(x, y)).r, 150);
    near.Attenuation1 = 0;
    near.Attenuation2 = 0.00001f;
    Compare(near, DefaultMaterial(), true);
}

TEST_F(GlLightingTest, DegenerateLightsNeverPutNanOnScreen) {
    // All three attenuation factors zero (the light page's slider at 0): the light saturates,
    // also in a channel without ambient light.
    D3DLIGHT9 light = DefaultLight();
    light.Attenuation0 = 0;
    light.Ambient.g = 0;
    device->SetLight(0, &light);
    device->LightEnable(0, TRUE);
    D3DMATERIAL9 material = DefaultMaterial();
    device->SetMaterial(&material);
    Frame();
    DrawGrid();
    Pixels();
    const size_t covered = CountNot(kBlue);
    EXPECT_GT(covered, 500000u);
    size_t white = 0;
    for (uint32_t p : pixels)
        white += p == 0xFFFFFFFFu;
    EXPECT_EQ(white, covered);

    // A directional light placed at the origin has no direction: ambient only.
    light.Type = D3DLIGHT_DIRECTIONAL;
    const float nan = std::nanf("");
    light.Direction = {nan, nan, nan};
    device->SetLight(0, &light);
    Frame();
    DrawGrid();
    Pixels();
    int x = 0, y = 0;
    ASSERT_TRUE(Project({0, 0, 0}, &x, &y));
    EXPECT_TRUE(Near(At(x, y), {26, 0, 26}, 1));
    ASSERT_TRUE(Project({-800, 0, 400}, &x, &y));
    EXPECT_TRUE(Near(At(x, y), {26, 0, 26}, 1));

    // A point light at a non-finite position lights nothing; a disabled light neither.
    light.Type = D3DLIGHT_POINT;
    light.Position = {nan, 0, 0};
    device->SetLight(0, &light);
    Frame();
    DrawGrid();
    Pixels();
    EXPECT_EQ(At(x, y), 0xFF000000u);
    light = DefaultLight();
    device->SetLight(0, &light);
    device->LightEnable(0, FALSE);
    Frame();
    DrawGrid();
    Pixels();
    EXPECT_EQ(At(x, y), 0xFF000000u);
}

} // namespace
