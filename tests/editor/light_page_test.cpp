// The light page: style, colours, position, range, attenuation and reset.
#include "editor_fixture.h"

#include <QFocusEvent>
#include <QLineEdit>

#include <tuple>

using namespace res;

class LightPageTest : public PagesTest {
protected:
    LightPageTest() : PagesTest(2) {}

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
    void ExpectDefaults() {
        const int positions[][2] = {{IDC_LIGHT_AMBIENT_G, 10},  {IDC_LIGHT_DIFFUSE_G, 100},
                                    {IDC_LIGHT_SPECULAR_G, 50}, {IDC_LIGHT_X, 0},
                                    {IDC_LIGHT_Y, 25000},       {IDC_LIGHT_Z, -25000},
                                    {IDC_LIGHT_RANGE, 50000},   {IDC_LIGHT_ATTEN, 85}};
        for (auto [id, value] : positions)
            EXPECT_EQ(Item<CTrackBar>(id)->value(), value) << "trackbar " << id;
        EXPECT_EQ(Text(IDC_LIGHT_SPECULAR_G_EDIT), "50");
        EXPECT_EQ(Text(IDC_LIGHT_Z_EDIT), "-25000");
        const D3DLIGHT9 light = DeviceLight();
        EXPECT_EQ(light.Type, D3DLIGHT_POINT);
        EXPECT_FLOAT_EQ(light.Ambient.g, 0.1f);
        EXPECT_FLOAT_EQ(light.Diffuse.g, 1.0f);
        EXPECT_FLOAT_EQ(light.Specular.g, 0.5f);
        EXPECT_FLOAT_EQ(light.Position.z, -25000.0f);
        EXPECT_FLOAT_EQ(light.Range, 50000.0f);
        EXPECT_FLOAT_EQ(light.Attenuation0, 0.85f);
    }
};

TEST_F(LightPageTest, TrackbarsAndStylesReachTheDeviceAndResetRestoresThem) {
    EXPECT_TRUE(Item<QAbstractButton>(IDC_LIGHT_POINT)->isChecked());
    ExpectDefaults();
    ASSERT_TRUE(LightingOn());
    SetTrackbar(IDC_LIGHT_AMBIENT_G, 37);
    EXPECT_EQ(Text(IDC_LIGHT_AMBIENT_G_EDIT), "37");
    D3DLIGHT9 light = DeviceLight();
    EXPECT_FLOAT_EQ(light.Ambient.g, 0.37f);
    EXPECT_FLOAT_EQ(light.Ambient.r, 0.10f);
    EXPECT_FLOAT_EQ(light.Ambient.a, 1.0f);

    SetTrackbar(IDC_LIGHT_Y, 0);
    SetTrackbar(IDC_LIGHT_Z, 0);
    SetTrackbar(IDC_LIGHT_X, -50000);
    SetTrackbar(IDC_LIGHT_RANGE, 100000);
    SetTrackbar(IDC_LIGHT_ATTEN, 0);
    EXPECT_EQ(Text(IDC_LIGHT_X_EDIT), "-50000");
    light = DeviceLight();
    EXPECT_FLOAT_EQ(light.Position.x, -50000.0f);
    EXPECT_FLOAT_EQ(light.Position.y, 0.0f);
    EXPECT_FLOAT_EQ(light.Position.z, 0.0f);
    EXPECT_NEAR(light.Direction.x, 1.0f, 1e-6); // towards the origin
    EXPECT_NEAR(light.Direction.y, 0.0f, 1e-6);
    EXPECT_FLOAT_EQ(light.Range, 100000.0f);
    EXPECT_EQ(light.Attenuation0, 0.0f);
    // Every repaint writes the light again from the trackbars.
    KrRenderer::GetInstance()->light.Ambient.g = 0.9f;
    Repaint(Item<CTrackBar>(IDC_LIGHT_AMBIENT_B));
    EXPECT_FLOAT_EQ(DeviceLight().Ambient.g, 0.37f);

    Click(IDC_LIGHT_DIRECTIONAL);
    EXPECT_TRUE(LightingOn());
    EXPECT_EQ(DeviceLight().Type, D3DLIGHT_DIRECTIONAL);
    Click(IDC_LIGHT_OFF);
    EXPECT_FALSE(LightingOn());
    // Trackbars still change the light, but it stays off.
    SetTrackbar(IDC_LIGHT_DIFFUSE_G, 3);
    SetTrackbar(IDC_LIGHT_SPECULAR_G, 7);
    EXPECT_FLOAT_EQ(DeviceLight().Diffuse.g, 0.03f);
    EXPECT_FALSE(LightingOn());

    // Reset brings back the values and the point style, but leaves the switches alone.
    Click(IDC_LIGHT_RESET);
    QApplication::processEvents();
    ExpectDefaults();
    EXPECT_FALSE(LightingOn());
    EXPECT_TRUE(Item<QAbstractButton>(IDC_LIGHT_OFF)->isChecked());
    Click(IDC_LIGHT_POINT);
    EXPECT_TRUE(LightingOn());
}

// A value typed into a box and confirmed with Enter moves the trackbar and reaches the
// device at once; a value outside the trackbar's range, text, or leaving the box without
// Enter puts back the value in effect.
TEST_F(LightPageTest, EnterInAValueBoxAppliesAValidValue) {
    const auto enter = [&](int edit, const QString& text, bool confirm = true) {
        auto* box = Item<QLineEdit>(edit);
        box->setFocus();
        box->setText(text); // as typed: nothing reaches the trackbar before Enter
        if (confirm) {
            QTest::keyClick(box, Qt::Key_Return);
        } else {
            QFocusEvent out(QEvent::FocusOut, Qt::TabFocusReason);
            QApplication::sendEvent(box, &out);
        }
        return box->text();
    };
    EXPECT_EQ(enter(IDC_LIGHT_AMBIENT_G_EDIT, " 37 "), "37");
    EXPECT_EQ(Item<CTrackBar>(IDC_LIGHT_AMBIENT_G)->value(), 37);
    EXPECT_FLOAT_EQ(DeviceLight().Ambient.g, 0.37f);
    EXPECT_EQ(enter(IDC_LIGHT_X_EDIT, "-50000"), "-50000");
    EXPECT_FLOAT_EQ(DeviceLight().Position.x, -50000.0f);
    EXPECT_EQ(enter(IDC_LIGHT_ATTEN_EDIT, "0"), "0");
    EXPECT_EQ(DeviceLight().Attenuation0, 0.0f);

    for (auto [edit, text, confirm] : {std::tuple{IDC_LIGHT_AMBIENT_G_EDIT, "101", true},
                                       std::tuple{IDC_LIGHT_AMBIENT_G_EDIT, "0.5", true},
                                       std::tuple{IDC_LIGHT_AMBIENT_G_EDIT, "밝게", true},
                                       std::tuple{IDC_LIGHT_AMBIENT_G_EDIT, "80", false},
                                       std::tuple{IDC_LIGHT_X_EDIT, "50001", true}}) {
        SCOPED_TRACE(text);
        const int trackbar = edit == IDC_LIGHT_X_EDIT ? IDC_LIGHT_X : IDC_LIGHT_AMBIENT_G;
        const int before = Item<CTrackBar>(trackbar)->value();
        EXPECT_EQ(enter(edit, QString::fromUtf8(text), confirm), QString::number(before));
        EXPECT_EQ(Item<CTrackBar>(trackbar)->value(), before);
    }
    EXPECT_FLOAT_EQ(DeviceLight().Ambient.g, 0.37f);
    EXPECT_FLOAT_EQ(DeviceLight().Position.x, -50000.0f);
}
