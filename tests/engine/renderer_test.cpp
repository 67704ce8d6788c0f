#include "KrRenderer.h"
#include "engine/expect.h"
#include "memory_device.h"

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

TEST_F(RendererTest, CreateSetsTheFixedBackBufferAndDeviceStateInOrderAndDestroyReleasesIt) {
    EXPECT_EQ(KrRenderer::GetInstance(), r);
    FixedSizeWindow window(640, 480);
    ASSERT_EQ(r->Create(&window), S_OK);
    auto* device = dynamic_cast<MemoryDevice*>(r->device);
    ASSERT_NE(device, nullptr); // a window without a GL surface gets the memory device
    const auto& s = device->state;
    EXPECT_TRUE(device->params.BackBufferWidth == 1280 && device->params.BackBufferHeight == 768);
    const D3DVIEWPORT9& vp = s.viewport;
    EXPECT_TRUE(vp.X == 0 && vp.Width == 1280 && vp.Height == 768 && vp.MaxZ == 1.0f);

    D3DXMATRIX projection;
    D3DXMatrixPerspectiveFovLH(&projection, kPi / 4, 1280.0f / 768.0f, 10, 100000);
    ExpectMatrix(s.Transform(D3DTS_PROJECTION), projection);
    ExpectMatrix(r->cullProjection, *D3DXMatrixPerspectiveFovLH(&projection, 1.5f, 1, 10, 100000));
    EXPECT_TRUE(s.Rs(D3DRS_SRCBLEND) == D3DBLEND_SRCALPHA &&
                s.Rs(D3DRS_DESTBLEND) == D3DBLEND_INVSRCALPHA);
    EXPECT_TRUE(s.Rs(D3DRS_LIGHTING) && s.Rs(D3DRS_SPECULARENABLE) && s.lightEnabled[0]);

    // The light goes to the device before the material, the transforms and the viewport.
    std::vector<DeviceOp> order;
    for (const DeviceCall& call : device->log)
        if (call.op != DeviceOp::SetRenderState)
            order.push_back(call.op);
    EXPECT_EQ(order, (std::vector<DeviceOp>{DeviceOp::SetLight, DeviceOp::LightEnable,
                                            DeviceOp::SetMaterial, DeviceOp::SetTransform,
                                            DeviceOp::SetTransform, DeviceOp::SetViewport}));

    device->AddRef();
    KrRenderer::DestroyInstance();
    EXPECT_EQ(device->Release(), 0u);
    EXPECT_EQ(KrRenderer::GetInstance()->device, nullptr);
}

TEST_F(RendererTest, LightDirectionFollowsItsPositionAndTheOriginShinesDown) {
    r->SetDefaultLight();
    const D3DLIGHT9& l = r->light;
    ExpectVec(D3DXVECTOR3(l.Direction), 0, -0.7071f, 0.7071f, 1e-4f);
    r->SetLightPosition(300, 0, 400);
    ExpectVec(D3DXVECTOR3(l.Direction), -0.6f, 0, -0.8f, 1e-6f);
    r->SetLightPosition(0, 0, 0);
    ExpectVec(D3DXVECTOR3(l.Direction), 0, -1, 0, 0);
    r->SetLightPosition(1e-30f, 0, 0); // too small to normalise
    ExpectVec(D3DXVECTOR3(l.Direction), 0, -1, 0, 0);
}

TEST_F(RendererTest, WithoutADeviceTheViewIsStillKept) {
    SurfaceWindow window;
    EXPECT_EQ(r->Create(&window), E_FAIL);
    EXPECT_TRUE(r->device == nullptr && r->deviceWindow == nullptr);
    // The map page's camera reset and the terrain's culling projection still work.
    r->camera.SetPosition(D3DXVECTOR3(5, 80, -3));
    r->UpdateView();
    ExpectVec(Apply({5, 81, -3}, r->viewMatrix), 0, 1, 0);
    r->SetupProjection();
    EXPECT_NE(r->cullProjection._11, 0.0f);
    // A later window with no GL surface still gets a device.
    FixedSizeWindow plain(100, 100);
    EXPECT_EQ(r->Create(&plain), S_OK);
    EXPECT_NE(r->device, nullptr);
}

} // namespace
