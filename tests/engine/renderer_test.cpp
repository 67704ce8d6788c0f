#include "KrRenderer.h"
#include "memory_device.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

// A window that claims a GL surface while no GL device is offered: CreateDevice fails.
class SurfaceWindow : public FixedSizeWindow {
public:
    SurfaceWindow() : FixedSizeWindow(640, 480) {}
    GlSurface* Surface() override { return reinterpret_cast<GlSurface*>(this); }
};

struct RendererTest : ::testing::Test {
    void TearDown() override { KrRenderer::DestroyInstance(); }
};

void ExpectMatrix(const D3DMATRIX& a, const D3DMATRIX& b) {
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 4; ++c)
            EXPECT_FLOAT_EQ(a.m[r][c], b.m[r][c]) << r << "," << c;
}

TEST_F(RendererTest, InstanceLivesUntilDestroyed) {
    KrRenderer* first = KrRenderer::GetInstance();
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(KrRenderer::GetInstance(), first);
    EXPECT_EQ(first->device, nullptr);
    EXPECT_EQ(first->d3d, nullptr);
    first->light.Range = 7;

    // Destruction releases the device and the Direct3D object it created.
    FixedSizeWindow window(800, 600);
    ASSERT_EQ(first->Create(&window), S_OK);
    IDirect3DDevice9* device = first->device;
    ASSERT_NE(device, nullptr);
    device->AddRef();
    KrRenderer::DestroyInstance();
    EXPECT_EQ(device->Release(), 0u);

    KrRenderer* second = KrRenderer::GetInstance();
    EXPECT_EQ(second->device, nullptr);
    EXPECT_EQ(second->light.Range, 0.0f);
}

TEST_F(RendererTest, CreateSetsTheFixedBackBufferAndDeviceState) {
    KrRenderer* r = KrRenderer::GetInstance();
    FixedSizeWindow window(640, 480);
    ASSERT_EQ(r->Create(&window), S_OK);
    EXPECT_EQ(r->deviceWindow, &window);
    EXPECT_EQ(r->backBufferWidth, 1280);
    EXPECT_EQ(r->backBufferHeight, 768);
    auto* device = static_cast<MemoryDevice*>(r->device);
    EXPECT_EQ(device->params.BackBufferWidth, 1280u);
    EXPECT_EQ(device->params.BackBufferHeight, 768u);
    EXPECT_EQ(device->params.AutoDepthStencilFormat, D3DFMT_D16);
    EXPECT_EQ(device->params.PresentationInterval, D3DPRESENT_INTERVAL_IMMEDIATE);
    EXPECT_EQ(device->params.hDeviceWindow, nullptr);

    const D3DVIEWPORT9& vp = device->state.viewport;
    EXPECT_EQ(vp.X, 0u);
    EXPECT_EQ(vp.Width, 1280u);
    EXPECT_EQ(vp.Height, 768u);
    EXPECT_EQ(vp.MaxZ, 1.0f);

    D3DXMATRIX projection;
    D3DXMatrixPerspectiveFovLH(&projection, 3.14159265f / 4, 1280.0f / 768.0f, 10, 100000);
    ExpectMatrix(device->state.Transform(D3DTS_PROJECTION), projection);
    D3DXMatrixPerspectiveFovLH(&projection, 1.5f, 1.0f, 10, 100000);
    ExpectMatrix(r->cullProjection, projection);
    ExpectMatrix(device->state.Transform(D3DTS_VIEW), r->viewMatrix);
    EXPECT_EQ(r->camera.mode, Flight);

    EXPECT_EQ(device->state.Rs(D3DRS_CULLMODE), static_cast<DWORD>(D3DCULL_CCW));
    EXPECT_EQ(device->state.Rs(D3DRS_ZENABLE), static_cast<DWORD>(D3DZB_TRUE));
    EXPECT_EQ(device->state.Rs(D3DRS_SRCBLEND), static_cast<DWORD>(D3DBLEND_SRCALPHA));
    EXPECT_EQ(device->state.Rs(D3DRS_DESTBLEND), static_cast<DWORD>(D3DBLEND_INVSRCALPHA));
    EXPECT_EQ(device->state.Rs(D3DRS_LIGHTING), static_cast<DWORD>(TRUE));
    EXPECT_EQ(device->state.Rs(D3DRS_SPECULARENABLE), static_cast<DWORD>(TRUE));
    EXPECT_TRUE(device->state.lightEnabled[0]);
    EXPECT_EQ(device->state.lights[0].Range, 50000.0f);
    EXPECT_EQ(device->state.material.Power, 8.0f);
    EXPECT_EQ(device->state.material.Diffuse.g, 1.0f);
    EXPECT_EQ(device->state.material.Emissive.a, 0.0f);

    // The light goes to the device before the material, the transforms and the viewport.
    std::vector<DeviceOp> order;
    for (const DeviceCall& call : device->log) {
        if (call.op != DeviceOp::SetRenderState)
            order.push_back(call.op);
    }
    const std::vector<DeviceOp> expected = {DeviceOp::SetLight,     DeviceOp::LightEnable,
                                            DeviceOp::SetMaterial,  DeviceOp::SetTransform,
                                            DeviceOp::SetTransform, DeviceOp::SetViewport};
    EXPECT_EQ(order, expected);
}

TEST_F(RendererTest, DefaultLightAndItsPosition) {
    KrRenderer* r = KrRenderer::GetInstance();
    r->light.Falloff = 3;
    r->SetDefaultLight();
    const D3DLIGHT9& l = r->light;
    EXPECT_EQ(l.Type, D3DLIGHT_POINT);
    EXPECT_EQ(l.Diffuse.r, 1.0f);
    EXPECT_EQ(l.Specular.g, 0.5f);
    EXPECT_EQ(l.Ambient.b, 0.1f);
    EXPECT_EQ(l.Ambient.a, 1.0f);
    EXPECT_EQ(l.Position.y, 25000.0f);
    EXPECT_EQ(l.Position.z, -25000.0f);
    EXPECT_NEAR(l.Direction.x, 0, 1e-6f);
    EXPECT_NEAR(l.Direction.y, -0.7071f, 1e-4f);
    EXPECT_NEAR(l.Direction.z, 0.7071f, 1e-4f);
    EXPECT_EQ(l.Range, 50000.0f);
    EXPECT_EQ(l.Attenuation0, 0.85f);
    EXPECT_EQ(l.Falloff, 0.0f);
    EXPECT_EQ(l.Attenuation1, 0.0f);

    r->SetLightPosition(300, 0, 400);
    EXPECT_EQ(l.Position.x, 300.0f);
    EXPECT_NEAR(l.Direction.x, -0.6f, 1e-6f);
    EXPECT_NEAR(l.Direction.z, -0.8f, 1e-6f);

    // At the origin the light shines straight down instead of with non-finite values.
    r->SetLightPosition(0, 0, 0);
    EXPECT_EQ(l.Direction.x, 0.0f);
    EXPECT_EQ(l.Direction.y, -1.0f);
    EXPECT_EQ(l.Direction.z, 0.0f);
    r->SetLightPosition(1e-30f, 0, 0); // too small to normalise
    EXPECT_TRUE(std::isfinite(l.Direction.x));
    EXPECT_EQ(l.Direction.y, -1.0f);
}

TEST_F(RendererTest, WithoutADeviceNothingBreaks) {
    KrRenderer* r = KrRenderer::GetInstance();
    SurfaceWindow window;
    EXPECT_EQ(r->Create(&window), E_FAIL);
    EXPECT_EQ(r->device, nullptr);
    EXPECT_EQ(r->deviceWindow, nullptr);

    // The map page's camera reset and the frame's material still work.
    r->camera.SetPosition(D3DXVECTOR3(5, 80, -3));
    r->UpdateView();
    D3DXMATRIX expected;
    r->camera.GetViewMatrix(&expected);
    ExpectMatrix(r->viewMatrix, expected);
    r->ApplyMaterial();
    r->SetupProjection();
    EXPECT_NE(r->cullProjection._11, 0.0f);

    // A later Create on a usable window succeeds.
    FixedSizeWindow plain(100, 100);
    EXPECT_EQ(r->Create(&plain), S_OK);
    EXPECT_NE(r->device, nullptr);
}

} // namespace
