// The light page: style, colours, position, range, attenuation and reset.
#include "pages_fixture.h"

#include <cmath>

using namespace res;

class LightPageTest : public PagesTest {
protected:
    void SetUp() override {
        PagesTest::SetUp();
        if (HasFatalFailure())
            return;
        ASSERT_NE(Device(), nullptr);
        SelectTab(2);
    }

    CTerrainLightControl* Page() { return tabs->lightPage; }
    const D3DLIGHT9& Light() { return KrRenderer::GetInstance()->light; }
    D3DLIGHT9 DeviceLight() {
        D3DLIGHT9 light{};
        Device()->GetLight(0, &light);
        return light;
    }
    bool LightingOn() {
        DWORD lighting = 0, specular = 0;
        BOOL enabled = FALSE;
        Device()->GetRenderState(D3DRS_LIGHTING, &lighting);
        Device()->GetRenderState(D3DRS_SPECULARENABLE, &specular);
        Device()->GetLightEnable(0, &enabled);
        EXPECT_EQ(lighting != 0, enabled != 0);
        EXPECT_EQ(specular != 0, enabled != 0);
        return enabled != 0;
    }
    int Position(int id) { return Item<CTrackBar>(Page(), id)->value(); }

    void ExpectDefaults() {
        const int colours[][2] = {
            {IDC_LIGHT_AMBIENT_R, 10},  {IDC_LIGHT_AMBIENT_G, 10},  {IDC_LIGHT_AMBIENT_B, 10},
            {IDC_LIGHT_DIFFUSE_R, 100}, {IDC_LIGHT_DIFFUSE_G, 100}, {IDC_LIGHT_DIFFUSE_B, 100},
            {IDC_LIGHT_SPECULAR_R, 50}, {IDC_LIGHT_SPECULAR_G, 50}, {IDC_LIGHT_SPECULAR_B, 50},
            {IDC_LIGHT_X, 0},           {IDC_LIGHT_Y, 25000},       {IDC_LIGHT_Z, -25000},
            {IDC_LIGHT_RANGE, 50000},   {IDC_LIGHT_ATTEN, 85},
        };
        for (auto [id, value] : colours)
            EXPECT_EQ(Position(id), value) << "trackbar " << id;
        EXPECT_EQ(Text(Page(), IDC_LIGHT_AMBIENT_R_EDIT), "10");
        EXPECT_EQ(Text(Page(), IDC_LIGHT_DIFFUSE_B_EDIT), "100");
        EXPECT_EQ(Text(Page(), IDC_LIGHT_SPECULAR_G_EDIT), "50");
    }
};

TEST_F(LightPageTest, StartsAtTheDefaultLight) {
    EXPECT_TRUE(Item<QAbstractButton>(Page(), IDC_LIGHT_POINT)->isChecked());
    ExpectDefaults();
    // Painted once shown: the boxes show the positions and the light is unchanged.
    EXPECT_EQ(Text(Page(), IDC_LIGHT_Y_EDIT), "25000");
    EXPECT_EQ(Text(Page(), IDC_LIGHT_Z_EDIT), "-25000");
    EXPECT_EQ(Text(Page(), IDC_LIGHT_RANGE_EDIT), "50000");
    EXPECT_EQ(Text(Page(), IDC_LIGHT_ATTEN_EDIT), "85");
    EXPECT_FLOAT_EQ(Light().Ambient.r, 0.1f);
    EXPECT_FLOAT_EQ(Light().Attenuation0, 0.85f);
    EXPECT_FLOAT_EQ(Light().Range, 50000.0f);
    EXPECT_FLOAT_EQ(DeviceLight().Diffuse.g, 1.0f);
}

TEST_F(LightPageTest, ColourPositionRangeAndAttenuationReachTheDevice) {
    SetTrackbar(Page(), IDC_LIGHT_AMBIENT_G, 37);
    EXPECT_EQ(Text(Page(), IDC_LIGHT_AMBIENT_G_EDIT), "37");
    for (const D3DLIGHT9& light : {Light(), DeviceLight()}) {
        EXPECT_FLOAT_EQ(light.Ambient.r, 0.10f);
        EXPECT_FLOAT_EQ(light.Ambient.g, 0.37f);
        EXPECT_FLOAT_EQ(light.Ambient.b, 0.10f);
        EXPECT_FLOAT_EQ(light.Ambient.a, 1.0f);
        EXPECT_FLOAT_EQ(light.Diffuse.g, 1.0f); // the other colours keep theirs
    }
    SetTrackbar(Page(), IDC_LIGHT_SPECULAR_B, 5);
    EXPECT_FLOAT_EQ(DeviceLight().Specular.b, 0.05f);
    EXPECT_FLOAT_EQ(DeviceLight().Specular.r, 0.5f);

    SetTrackbar(Page(), IDC_LIGHT_Y, 0);
    SetTrackbar(Page(), IDC_LIGHT_Z, 0);
    SetTrackbar(Page(), IDC_LIGHT_X, -50000);
    EXPECT_EQ(Text(Page(), IDC_LIGHT_X_EDIT), "-50000");
    const D3DLIGHT9 light = DeviceLight();
    EXPECT_FLOAT_EQ(light.Position.x, -50000.0f);
    EXPECT_FLOAT_EQ(light.Position.y, 0.0f);
    EXPECT_FLOAT_EQ(light.Position.z, 0.0f);
    EXPECT_NEAR(light.Direction.x, 1.0f, 1e-6);
    EXPECT_NEAR(light.Direction.y, 0.0f, 1e-6);
    EXPECT_NEAR(light.Direction.z, 0.0f, 1e-6);

    SetTrackbar(Page(), IDC_LIGHT_RANGE, 100000);
    EXPECT_FLOAT_EQ(DeviceLight().Range, 100000.0f);
    EXPECT_EQ(Text(Page(), IDC_LIGHT_RANGE_EDIT), "100000");
    SetTrackbar(Page(), IDC_LIGHT_ATTEN, 0);
    EXPECT_EQ(DeviceLight().Attenuation0, 0.0f);
    EXPECT_EQ(Text(Page(), IDC_LIGHT_ATTEN_EDIT), "0");

    // Every repaint writes the light again from the trackbars.
    KrRenderer::GetInstance()->light.Ambient.g = 0.9f;
    Repaint(Item<CTrackBar>(Page(), IDC_LIGHT_AMBIENT_B));
    EXPECT_FLOAT_EQ(DeviceLight().Ambient.g, 0.37f);
}

TEST_F(LightPageTest, LightingOffAndOnAgain) {
    ASSERT_TRUE(LightingOn());
    Click(Page(), IDC_LIGHT_OFF);
    EXPECT_FALSE(LightingOn());
    EXPECT_EQ(Light().Type, D3DLIGHT_POINT);

    // Colours still change the light, but it stays off.
    SetTrackbar(Page(), IDC_LIGHT_DIFFUSE_R, 20);
    EXPECT_FLOAT_EQ(DeviceLight().Diffuse.r, 0.2f);
    EXPECT_FALSE(LightingOn());

    Click(Page(), IDC_LIGHT_DIRECTIONAL);
    EXPECT_TRUE(LightingOn());
    EXPECT_EQ(DeviceLight().Type, D3DLIGHT_DIRECTIONAL);
    Click(Page(), IDC_LIGHT_OFF);
    Click(Page(), IDC_LIGHT_POINT);
    EXPECT_TRUE(LightingOn());
    EXPECT_EQ(DeviceLight().Type, D3DLIGHT_POINT);
}

TEST_F(LightPageTest, ResetBringsBackTheDefaults) {
    SetTrackbar(Page(), IDC_LIGHT_AMBIENT_R, 70);
    SetTrackbar(Page(), IDC_LIGHT_DIFFUSE_G, 3);
    SetTrackbar(Page(), IDC_LIGHT_SPECULAR_B, 99);
    SetTrackbar(Page(), IDC_LIGHT_X, 12345);
    SetTrackbar(Page(), IDC_LIGHT_Z, 40000);
    SetTrackbar(Page(), IDC_LIGHT_RANGE, 10);
    SetTrackbar(Page(), IDC_LIGHT_ATTEN, 0);
    Click(Page(), IDC_LIGHT_DIRECTIONAL);
    Click(Page(), IDC_LIGHT_OFF);

    Click(Page(), IDC_LIGHT_RESET);
    ExpectDefaults();
    QApplication::processEvents();
    const D3DLIGHT9 light = DeviceLight();
    EXPECT_EQ(light.Type, D3DLIGHT_POINT);
    EXPECT_FLOAT_EQ(light.Ambient.r, 0.1f);
    EXPECT_FLOAT_EQ(light.Diffuse.g, 1.0f);
    EXPECT_FLOAT_EQ(light.Position.x, 0.0f);
    EXPECT_FLOAT_EQ(light.Position.z, -25000.0f);
    EXPECT_FLOAT_EQ(light.Range, 50000.0f);
    EXPECT_FLOAT_EQ(light.Attenuation0, 0.85f);
    // The switches are left alone: still off, the radio as clicked.
    EXPECT_FALSE(LightingOn());
    EXPECT_TRUE(Item<QAbstractButton>(Page(), IDC_LIGHT_OFF)->isChecked());
}
