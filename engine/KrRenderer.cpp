#include "KrRenderer.h"

#include "KrMath.h"

#include <cmath>

namespace {

constexpr float kPi = 3.14159265358979f;
constexpr int32_t kBackBufferWidth = 1280;
constexpr int32_t kBackBufferHeight = 768;

template <class T> void ReleaseAndClear(T*& object) {
    if (object) {
        object->Release();
        object = nullptr;
    }
}

} // namespace

KrRenderer* KrRenderer::instance_ = nullptr;

KrRenderer* KrRenderer::GetInstance() {
    if (!instance_)
        instance_ = new KrRenderer();
    return instance_;
}

void KrRenderer::DestroyInstance() {
    delete instance_;
    instance_ = nullptr;
}

KrRenderer::~KrRenderer() {
    ReleaseAndClear(device);
    ReleaseAndClear(d3d);
}

HRESULT KrRenderer::Create(HWND window) {
    backBufferWidth = kBackBufferWidth;
    backBufferHeight = kBackBufferHeight;
    // A second Create replaces the objects of the first rather than leaking them.
    ReleaseAndClear(device);
    ReleaseAndClear(d3d);

    d3d = Direct3DCreate9(D3D_SDK_VERSION);
    if (!d3d)
        return E_FAIL;

    D3DPRESENT_PARAMETERS params{};
    params.BackBufferWidth = kBackBufferWidth;
    params.BackBufferHeight = kBackBufferHeight;
    params.BackBufferFormat = D3DFMT_UNKNOWN;
    params.SwapEffect = D3DSWAPEFFECT_DISCARD;
    params.Windowed = TRUE;
    params.EnableAutoDepthStencil = TRUE;
    params.AutoDepthStencilFormat = D3DFMT_D16;
    params.PresentationInterval = D3DPRESENT_INTERVAL_IMMEDIATE;
    if (FAILED(d3d->CreateDevice(D3DADAPTER_DEFAULT, D3DDEVTYPE_HAL, window,
                                 D3DCREATE_SOFTWARE_VERTEXPROCESSING, &params, &device))) {
        device = nullptr;
        return E_FAIL;
    }
    deviceWindow = window;
    Initialize();
    return S_OK;
}

void KrRenderer::Initialize() {
    camera.mode = Flight;
    camera.SetPosition(D3DXVECTOR3(0, 0, 0));
    SetDefaultLight();
    if (device) {
        device->SetLight(0, &light);
        device->LightEnable(0, TRUE);
        device->SetRenderState(D3DRS_LIGHTING, TRUE);
        device->SetRenderState(D3DRS_SPECULARENABLE, TRUE);
    }
    ApplyMaterial();
    UpdateView();
    SetupProjection();
    if (!device)
        return;
    const D3DVIEWPORT9 viewport{
        0,    0,   static_cast<DWORD>(backBufferWidth), static_cast<DWORD>(backBufferHeight),
        0.0f, 1.0f};
    device->SetViewport(&viewport);
    device->SetRenderState(D3DRS_CULLMODE, D3DCULL_CCW);
    device->SetRenderState(D3DRS_ZENABLE, D3DZB_TRUE);
    device->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_SRCALPHA);
    device->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_INVSRCALPHA);
}

void KrRenderer::SetDefaultLight() {
    light = D3DLIGHT9{};
    light.Type = D3DLIGHT_POINT;
    light.Diffuse = {1.0f, 1.0f, 1.0f, 1.0f};
    light.Specular = {0.5f, 0.5f, 0.5f, 1.0f};
    light.Ambient = {0.1f, 0.1f, 0.1f, 1.0f};
    SetLightPosition(0.0f, 25000.0f, -25000.0f);
    light.Range = 50000.0f;
    light.Attenuation0 = 0.85f;
}

void KrRenderer::SetLightPosition(float x, float y, float z) {
    light.Position = {x, y, z};
    D3DXVECTOR3 direction(x, y, z);
    Vec3Normalize(&direction, &direction);
    // A light at the origin (or too close to it to normalise) would light every pixel with
    // non-finite values; it shines straight down instead.
    if (!std::isfinite(direction.x) || !std::isfinite(direction.y) || !std::isfinite(direction.z))
        direction = D3DXVECTOR3(0.0f, 1.0f, 0.0f);
    light.Direction = -direction;
}

void KrRenderer::ApplyMaterial() {
    if (!device)
        return;
    D3DMATERIAL9 material{};
    material.Diffuse = {1.0f, 1.0f, 1.0f, 1.0f};
    material.Ambient = {1.0f, 1.0f, 1.0f, 1.0f};
    material.Specular = {1.0f, 1.0f, 1.0f, 1.0f};
    material.Emissive = {0.0f, 0.0f, 0.0f, 0.0f};
    material.Power = 8.0f;
    device->SetMaterial(&material);
}

// Without a device the view matrix is still kept, so the terrain's culling follows the
// camera and the camera reset of the map page works.
void KrRenderer::UpdateView() {
    camera.GetViewMatrix(&viewMatrix);
    if (device)
        device->SetTransform(D3DTS_VIEW, &viewMatrix);
}

void KrRenderer::SetupProjection() {
    if (device) {
        D3DXMATRIX projection;
        D3DXMatrixPerspectiveFovLH(&projection, kPi / 4.0f,
                                   static_cast<float>(backBufferWidth) /
                                       static_cast<float>(backBufferHeight),
                                   10.0f, 100000.0f);
        device->SetTransform(D3DTS_PROJECTION, &projection);
    }
    D3DXMatrixPerspectiveFovLH(&cullProjection, 1.5f, 1.0f, 10.0f, 100000.0f);
}
