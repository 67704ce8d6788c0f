#include "KrRenderer.h"
#include "engine/expect.h"
#include "memory_device.h"

#include <cmath>
#include <cstring>

namespace {

// A window that claims a GL surface while no GL device is offered: CreateDevice fails.
class SurfaceWindow : public FixedSizeWindow {
public:
    SurfaceWindow() : FixedSizeWindow(640, 480) {}
    GlSurface* Surface() override { return reinterpret_cast<GlSurface*>(this); }
};

struct RendererTest : ::testing::Test {
    void TearDown() override { KrRenderer::DestroyInstance(); }
    KrRenderer* r = KrRenderer::GetInstance();
};

TEST_F(RendererTest, InstanceLivesUntilDestroyedAndReleasesItsDevice) {
    EXPECT_EQ(KrRenderer::GetInstance(), r);
    EXPECT_EQ(r->device, nullptr);
    FixedSizeWindow window(800, 600);
    ASSERT_EQ(r->Create(&window), S_OK);
    IDirect3DDevice9* device = r->device;
    device->AddRef();
    KrRenderer::DestroyInstance();
    EXPECT_EQ(device->Release(), 0u);
    r = KrRenderer::GetInstance();
    EXPECT_EQ(r->device, nullptr);
    EXPECT_EQ(r->light.Range, 0.0f);
}

TEST_F(RendererTest, CreateSetsTheFixedBackBufferAndDeviceStateInOrder) {
    FixedSizeWindow window(640, 480);
    ASSERT_EQ(r->Create(&window), S_OK);
    EXPECT_EQ(r->deviceWindow, &window);
    auto* device = static_cast<MemoryDevice*>(r->device);
    const auto& s = device->state;
    const D3DPRESENT_PARAMETERS& pp = device->params;
    EXPECT_TRUE(pp.BackBufferWidth == 1280 && pp.BackBufferHeight == 768);
    EXPECT_TRUE(pp.AutoDepthStencilFormat == D3DFMT_D16 &&
                pp.PresentationInterval == D3DPRESENT_INTERVAL_IMMEDIATE);
    const D3DVIEWPORT9& vp = s.viewport;
    EXPECT_TRUE(vp.X == 0 && vp.Width == 1280 && vp.Height == 768 && vp.MaxZ == 1.0f);

    D3DXMATRIX projection;
    D3DXMatrixPerspectiveFovLH(&projection, kPi / 4, 1280.0f / 768.0f, 10, 100000);
    ExpectMatrix(s.Transform(D3DTS_PROJECTION), projection);
    ExpectMatrix(r->cullProjection, *D3DXMatrixPerspectiveFovLH(&projection, 1.5f, 1, 10, 100000));
    ExpectMatrix(s.Transform(D3DTS_VIEW), r->viewMatrix);
    EXPECT_TRUE(s.Rs(D3DRS_CULLMODE) == D3DCULL_CCW && s.Rs(D3DRS_ZENABLE) == D3DZB_TRUE);
    EXPECT_TRUE(s.Rs(D3DRS_SRCBLEND) == D3DBLEND_SRCALPHA &&
                s.Rs(D3DRS_DESTBLEND) == D3DBLEND_INVSRCALPHA);
    EXPECT_TRUE(s.Rs(D3DRS_LIGHTING) && s.Rs(D3DRS_SPECULARENABLE) && s.lightEnabled[0]);
    EXPECT_EQ(std::memcmp(&s.lights[0], &r->light, sizeof(D3DLIGHT9)), 0);
    const D3DMATERIAL9& m = s.material;
    EXPECT_TRUE(m.Power == 8 && m.Diffuse.g == 1 && m.Specular.b == 1 && m.Emissive.a == 0);

    // The light goes to the device before the material, the transforms and the viewport.
    std::vector<DeviceOp> order;
    for (const DeviceCall& call : device->log)
        if (call.op != DeviceOp::SetRenderState)
            order.push_back(call.op);
    EXPECT_EQ(order, (std::vector<DeviceOp>{DeviceOp::SetLight, DeviceOp::LightEnable,
                                            DeviceOp::SetMaterial, DeviceOp::SetTransform,
                                            DeviceOp::SetTransform, DeviceOp::SetViewport}));
}

TEST_F(RendererTest, DefaultLightAndItsPositionWithTheOriginShiningDown) {
    r->light.Falloff = 3;
    r->SetDefaultLight();
    const D3DLIGHT9& l = r->light;
    EXPECT_EQ(l.Type, D3DLIGHT_POINT);
    EXPECT_TRUE(l.Diffuse.r == 1 && l.Specular.g == 0.5f && l.Ambient.b == 0.1f &&
                l.Ambient.a == 1);
    ExpectVec(D3DXVECTOR3(l.Position), 0, 25000, -25000, 0);
    ExpectVec(D3DXVECTOR3(l.Direction), 0, -0.7071f, 0.7071f, 1e-4f);
    EXPECT_TRUE(l.Range == 50000 && l.Attenuation0 == 0.85f && l.Falloff == 0);

    r->SetLightPosition(300, 0, 400);
    ExpectVec(D3DXVECTOR3(l.Direction), -0.6f, 0, -0.8f, 1e-6f);
    r->SetLightPosition(0, 0, 0);
    ExpectVec(D3DXVECTOR3(l.Direction), 0, -1, 0, 0);
    r->SetLightPosition(1e-30f, 0, 0); // too small to normalise
    EXPECT_TRUE(std::isfinite(l.Direction.x));
    EXPECT_EQ(l.Direction.y, -1.0f);
}

TEST_F(RendererTest, WithoutADeviceTheViewIsStillKept) {
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

    FixedSizeWindow plain(100, 100);
    EXPECT_EQ(r->Create(&plain), S_OK);
    EXPECT_NE(r->device, nullptr);
}

} // namespace
