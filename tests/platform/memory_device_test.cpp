#include "memory_device.h"
#include "win32.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

TEST(MemoryDevice, StartsWithDirect3DDefaults) {
    MemoryDevice device;
    DWORD value = 0;
    device.GetRenderState(D3DRS_LIGHTING, &value);
    EXPECT_EQ(value, static_cast<DWORD>(TRUE));
    device.GetRenderState(D3DRS_CULLMODE, &value);
    EXPECT_EQ(value, static_cast<DWORD>(D3DCULL_CCW));
    device.GetRenderState(D3DRS_FILLMODE, &value);
    EXPECT_EQ(value, static_cast<DWORD>(D3DFILL_SOLID));
    device.GetTextureStageState(0, D3DTSS_COLOROP, &value);
    EXPECT_EQ(value, static_cast<DWORD>(D3DTOP_MODULATE));
    device.GetTextureStageState(1, D3DTSS_COLOROP, &value);
    EXPECT_EQ(value, static_cast<DWORD>(D3DTOP_DISABLE));
    device.GetSamplerState(0, D3DSAMP_ADDRESSU, &value);
    EXPECT_EQ(value, static_cast<DWORD>(D3DTADDRESS_WRAP));
    D3DMATRIX m;
    device.GetTransform(D3DTS_PROJECTION, &m);
    EXPECT_EQ(m._11, 1);
    EXPECT_EQ(m._12, 0);
}

TEST(MemoryDevice, KeepsStatesAndRecordsCalls) {
    MemoryDevice device;
    device.SetRenderState(D3DRS_FILLMODE, D3DFILL_WIREFRAME);
    D3DMATRIX view = IdentityMatrix();
    view._42 = -80;
    device.SetTransform(D3DTS_VIEW, &view);
    D3DMATRIX back;
    device.GetTransform(D3DTS_VIEW, &back);
    EXPECT_EQ(back._42, -80);
    ASSERT_EQ(device.Calls(DeviceOp::SetRenderState).size(), 1u);
    EXPECT_EQ(device.Calls(DeviceOp::SetRenderState)[0].args[0],
              static_cast<DWORD>(D3DRS_FILLMODE));
    EXPECT_EQ(device.Calls(DeviceOp::SetTransform)[0].matrix._42, -80);
    // Out-of-range states are refused rather than written past the tables.
    EXPECT_EQ(device.SetRenderState(static_cast<D3DRENDERSTATETYPE>(9999), 1), D3DERR_INVALIDCALL);
    EXPECT_EQ(device.SetTextureStageState(99, D3DTSS_COLOROP, 1), D3DERR_INVALIDCALL);
}

TEST(MemoryDevice, BuffersLockFromAnOffsetAndReportFailures) {
    MemoryDevice device;
    IDirect3DVertexBuffer9* vb = nullptr;
    ASSERT_EQ(device.CreateVertexBuffer(64, 0, D3DFVF_XYZ, D3DPOOL_DEFAULT, &vb, nullptr), D3D_OK);
    void* data = nullptr;
    ASSERT_EQ(vb->Lock(16, 0, &data, 0), D3D_OK);
    std::memset(data, 0xAB, 48);
    vb->Unlock();
    auto* memory = static_cast<MemoryVertexBuffer*>(vb);
    EXPECT_EQ(memory->data[15], 0);
    EXPECT_EQ(memory->data[16], 0xAB);
    EXPECT_EQ(memory->data[63], 0xAB);
    EXPECT_NE(vb->Lock(60, 8, &data, 0), D3D_OK); // past the end
    device.failures->lockBuffer = true;
    EXPECT_NE(vb->Lock(0, 0, &data, 0), D3D_OK);
    vb->Release();

    device.failures->createVertexBufferAfter = 1;
    EXPECT_EQ(device.CreateVertexBuffer(4, 0, 0, D3DPOOL_DEFAULT, &vb, nullptr), D3D_OK);
    vb->Release();
    EXPECT_NE(device.CreateVertexBuffer(4, 0, 0, D3DPOOL_DEFAULT, &vb, nullptr), D3D_OK);
    EXPECT_EQ(vb, nullptr);
}

TEST(MemoryDevice, TextureRectLocksPointAtTheRectangle) {
    MemoryDevice device;
    IDirect3DTexture9* texture = nullptr;
    ASSERT_EQ(device.CreateTexture(8, 4, 0, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &texture, nullptr),
              D3D_OK);
    EXPECT_EQ(texture->GetLevelCount(), 4u); // 8x4, 4x2, 2x1, 1x1
    D3DLOCKED_RECT locked;
    RECT rect{2, 1, 4, 3};
    ASSERT_EQ(texture->LockRect(0, &locked, &rect, 0), D3D_OK);
    EXPECT_EQ(locked.Pitch, 32);
    static_cast<uint32_t*>(locked.pBits)[0] = 0x11223344;
    texture->UnlockRect(0);
    EXPECT_EQ(static_cast<MemoryTexture*>(texture)->Texel(0, 2, 1), 0x11223344u);
    RECT outside{6, 0, 9, 1};
    EXPECT_NE(texture->LockRect(0, &locked, &outside, 0), D3D_OK);
    texture->Release();
}

TEST(Direct3D9, CreatesAMemoryDeviceOnAWindowWithoutGl) {
    EXPECT_EQ(Direct3DCreate9(31), nullptr);
    IDirect3D9* d3d = Direct3DCreate9(D3D_SDK_VERSION);
    ASSERT_NE(d3d, nullptr);
    FixedSizeWindow window(640, 480);
    D3DPRESENT_PARAMETERS params{};
    params.BackBufferWidth = 1280;
    params.BackBufferHeight = 768;
    params.EnableAutoDepthStencil = TRUE;
    IDirect3DDevice9* device = nullptr;
    ASSERT_EQ(d3d->CreateDevice(0, D3DDEVTYPE_HAL, &window, D3DCREATE_SOFTWARE_VERTEXPROCESSING,
                                &params, &device),
              D3D_OK);
    D3DVIEWPORT9 viewport;
    device->GetViewport(&viewport);
    EXPECT_EQ(viewport.Width, 1280u);
    EXPECT_EQ(viewport.Height, 768u);
    device->Release();
    d3d->Release();

    RECT r;
    EXPECT_EQ(GetClientRect(&window, &r), TRUE);
    EXPECT_EQ(r.right, 640);
    EXPECT_EQ(GetClientRect(nullptr, &r), FALSE);
}

} // namespace
