#include "CTerrainLightControl.h"

#include "DialogTemplate.h"
#include "KrRenderer.h"

#include <QAbstractButton>
#include <QLineEdit>

using namespace res;

namespace {

// A colour trackbar, its value box and the three trackbars of its colour.
struct ColourTrackbar {
    int id, edit, red, green, blue;
    D3DCOLORVALUE D3DLIGHT9::*colour;
    float D3DCOLORVALUE::*channel;
};
constexpr ColourTrackbar kColours[] = {
    {IDC_LIGHT_AMBIENT_R, IDC_LIGHT_AMBIENT_R_EDIT, IDC_LIGHT_AMBIENT_R, IDC_LIGHT_AMBIENT_G,
     IDC_LIGHT_AMBIENT_B, &D3DLIGHT9::Ambient, &D3DCOLORVALUE::r},
    {IDC_LIGHT_AMBIENT_G, IDC_LIGHT_AMBIENT_G_EDIT, IDC_LIGHT_AMBIENT_R, IDC_LIGHT_AMBIENT_G,
     IDC_LIGHT_AMBIENT_B, &D3DLIGHT9::Ambient, &D3DCOLORVALUE::g},
    {IDC_LIGHT_AMBIENT_B, IDC_LIGHT_AMBIENT_B_EDIT, IDC_LIGHT_AMBIENT_R, IDC_LIGHT_AMBIENT_G,
     IDC_LIGHT_AMBIENT_B, &D3DLIGHT9::Ambient, &D3DCOLORVALUE::b},
    {IDC_LIGHT_DIFFUSE_R, IDC_LIGHT_DIFFUSE_R_EDIT, IDC_LIGHT_DIFFUSE_R, IDC_LIGHT_DIFFUSE_G,
     IDC_LIGHT_DIFFUSE_B, &D3DLIGHT9::Diffuse, &D3DCOLORVALUE::r},
    {IDC_LIGHT_DIFFUSE_G, IDC_LIGHT_DIFFUSE_G_EDIT, IDC_LIGHT_DIFFUSE_R, IDC_LIGHT_DIFFUSE_G,
     IDC_LIGHT_DIFFUSE_B, &D3DLIGHT9::Diffuse, &D3DCOLORVALUE::g},
    {IDC_LIGHT_DIFFUSE_B, IDC_LIGHT_DIFFUSE_B_EDIT, IDC_LIGHT_DIFFUSE_R, IDC_LIGHT_DIFFUSE_G,
     IDC_LIGHT_DIFFUSE_B, &D3DLIGHT9::Diffuse, &D3DCOLORVALUE::b},
    {IDC_LIGHT_SPECULAR_R, IDC_LIGHT_SPECULAR_R_EDIT, IDC_LIGHT_SPECULAR_R, IDC_LIGHT_SPECULAR_G,
     IDC_LIGHT_SPECULAR_B, &D3DLIGHT9::Specular, &D3DCOLORVALUE::r},
    {IDC_LIGHT_SPECULAR_G, IDC_LIGHT_SPECULAR_G_EDIT, IDC_LIGHT_SPECULAR_R, IDC_LIGHT_SPECULAR_G,
     IDC_LIGHT_SPECULAR_B, &D3DLIGHT9::Specular, &D3DCOLORVALUE::g},
    {IDC_LIGHT_SPECULAR_B, IDC_LIGHT_SPECULAR_B_EDIT, IDC_LIGHT_SPECULAR_R, IDC_LIGHT_SPECULAR_G,
     IDC_LIGHT_SPECULAR_B, &D3DLIGHT9::Specular, &D3DCOLORVALUE::b},
};

struct PositionTrackbar {
    int id, edit;
};
constexpr PositionTrackbar kPositions[] = {
    {IDC_LIGHT_X, IDC_LIGHT_X_EDIT},
    {IDC_LIGHT_Y, IDC_LIGHT_Y_EDIT},
    {IDC_LIGHT_Z, IDC_LIGHT_Z_EDIT},
};

void ApplyLight() {
    KrRenderer* renderer = KrRenderer::GetInstance();
    if (renderer->device)
        renderer->device->SetLight(0, &renderer->light);
}

// Lighting and specular highlights on or off, with light 0.
void EnableLighting(bool on) {
    IDirect3DDevice9* device = KrRenderer::GetInstance()->device;
    if (!device)
        return;
    device->LightEnable(0, on ? TRUE : FALSE);
    device->SetRenderState(D3DRS_LIGHTING, on ? TRUE : FALSE);
    device->SetRenderState(D3DRS_SPECULARENABLE, on ? TRUE : FALSE);
}

} // namespace

CTerrainLightControl::CTerrainLightControl(QWidget* parent) : QWidget(parent) {
    BuildDialog(kDialogLightControl, this);

    const auto button = [this](int id, void (CTerrainLightControl::*handler)()) {
        connect(DlgItem<QAbstractButton>(this, id), &QAbstractButton::clicked, this, handler);
    };
    button(IDC_LIGHT_POINT, &CTerrainLightControl::OnPointLight);
    button(IDC_LIGHT_DIRECTIONAL, &CTerrainLightControl::OnDirectionalLight);
    button(IDC_LIGHT_OFF, &CTerrainLightControl::OnLightOff);
    button(IDC_LIGHT_RESET, &CTerrainLightControl::OnReset);

    for (const ColourTrackbar& c : kColours)
        connect(DlgItem<CTrackBar>(this, c.id), &CTrackBar::customDraw, this,
                [this, id = c.id](int position) { OnColourDraw(id, position); });
    for (const PositionTrackbar& p : kPositions)
        connect(DlgItem<CTrackBar>(this, p.id), &CTrackBar::customDraw, this,
                [this, id = p.id](int position) { OnPositionDraw(id, position); });
    connect(DlgItem<CTrackBar>(this, IDC_LIGHT_RANGE), &CTrackBar::customDraw, this,
            &CTerrainLightControl::OnRangeDraw);
    connect(DlgItem<CTrackBar>(this, IDC_LIGHT_ATTEN), &CTrackBar::customDraw, this,
            &CTerrainLightControl::OnAttenuationDraw);
    for (const ColourTrackbar& c : kColours)
        BindValueBox(DlgItem<QLineEdit>(this, c.edit), DlgItem<CTrackBar>(this, c.id));
    for (const PositionTrackbar& p : kPositions)
        BindValueBox(DlgItem<QLineEdit>(this, p.edit), DlgItem<CTrackBar>(this, p.id));
    BindValueBox(DlgItem<QLineEdit>(this, IDC_LIGHT_RANGE_EDIT),
                 DlgItem<CTrackBar>(this, IDC_LIGHT_RANGE));
    BindValueBox(DlgItem<QLineEdit>(this, IDC_LIGHT_ATTEN_EDIT),
                 DlgItem<CTrackBar>(this, IDC_LIGHT_ATTEN));

    OnInitDialog();
}

CTerrainLightControl::~CTerrainLightControl() = default;

void CTerrainLightControl::OnInitDialog() {
    // The renderer's light starts as a point light with lighting and highlights on.
    DlgItem<QAbstractButton>(this, IDC_LIGHT_POINT)->setChecked(true);
    for (const ColourTrackbar& c : kColours)
        DlgItem<CTrackBar>(this, c.id)->setRange(0, 100);
    for (const PositionTrackbar& p : kPositions)
        DlgItem<CTrackBar>(this, p.id)->setRange(-50000, 50000);
    DlgItem<CTrackBar>(this, IDC_LIGHT_RANGE)->setRange(0, 100000);
    DlgItem<CTrackBar>(this, IDC_LIGHT_ATTEN)->setRange(0, 100);
    for (const PositionTrackbar& p : kPositions)
        SetDlgItemInt(this, p.edit, DlgItem<CTrackBar>(this, p.id)->value());
    SetDlgItemInt(this, IDC_LIGHT_RANGE_EDIT, DlgItem<CTrackBar>(this, IDC_LIGHT_RANGE)->value());
    SetDlgItemInt(this, IDC_LIGHT_ATTEN_EDIT, DlgItem<CTrackBar>(this, IDC_LIGHT_ATTEN)->value());
    MoveTrackbarsToLight();
}

void CTerrainLightControl::MoveTrackbarsToLight() {
    const D3DLIGHT9 light = KrRenderer::GetInstance()->light;
    const auto move = [this](int id, float value) {
        DlgItem<CTrackBar>(this, id)->setValue(static_cast<int>(value));
    };
    move(IDC_LIGHT_RANGE, light.Range);
    move(IDC_LIGHT_ATTEN, light.Attenuation0 * 100.0f);
    move(IDC_LIGHT_X, light.Position.x);
    move(IDC_LIGHT_Y, light.Position.y);
    move(IDC_LIGHT_Z, light.Position.z);
    for (const ColourTrackbar& c : kColours)
        move(c.id, (light.*c.colour).*c.channel * 100.0f);
    for (const ColourTrackbar& c : kColours)
        SetDlgItemInt(this, c.edit, DlgItem<CTrackBar>(this, c.id)->value());
}

void CTerrainLightControl::OnLightStyle(int type) {
    KrRenderer::GetInstance()->light.Type = static_cast<D3DLIGHTTYPE>(type);
    ApplyLight();
    EnableLighting(true);
}

void CTerrainLightControl::OnPointLight() {
    OnLightStyle(D3DLIGHT_POINT);
}

void CTerrainLightControl::OnDirectionalLight() {
    OnLightStyle(D3DLIGHT_DIRECTIONAL);
}

void CTerrainLightControl::OnLightOff() {
    // The light keeps its type, so the style buttons bring it back as it was.
    EnableLighting(false);
}

void CTerrainLightControl::OnReset() {
    // The radios and the lighting switches stay as they are: a light switched off stays
    // off until a style is clicked.
    KrRenderer::GetInstance()->SetDefaultLight();
    MoveTrackbarsToLight();
    ApplyLight();
}

void CTerrainLightControl::OnColourDraw(int trackbar, int position) {
    for (const ColourTrackbar& c : kColours) {
        if (c.id != trackbar)
            continue;
        SetDlgItemInt(this, c.edit, position);
        const auto channel = [this](int id) {
            return static_cast<float>(DlgItem<CTrackBar>(this, id)->value()) / 100.0f;
        };
        KrRenderer::GetInstance()->light.*c.colour =
            D3DCOLORVALUE{channel(c.red), channel(c.green), channel(c.blue), 1.0f};
        ApplyLight();
        return;
    }
}

void CTerrainLightControl::OnPositionDraw(int trackbar, int position) {
    for (const PositionTrackbar& p : kPositions)
        if (p.id == trackbar)
            SetDlgItemInt(this, p.edit, position);
    const auto axis = [this](int id) {
        return static_cast<float>(DlgItem<CTrackBar>(this, id)->value());
    };
    KrRenderer::GetInstance()->SetLightPosition(axis(IDC_LIGHT_X), axis(IDC_LIGHT_Y),
                                                axis(IDC_LIGHT_Z));
    ApplyLight();
}

void CTerrainLightControl::OnRangeDraw(int position) {
    SetDlgItemInt(this, IDC_LIGHT_RANGE_EDIT, position);
    KrRenderer::GetInstance()->light.Range = static_cast<float>(position);
    ApplyLight();
}

void CTerrainLightControl::OnAttenuationDraw(int position) {
    SetDlgItemInt(this, IDC_LIGHT_ATTEN_EDIT, position);
    KrRenderer::GetInstance()->light.Attenuation0 = static_cast<float>(position) / 100.0f;
    ApplyLight();
}
