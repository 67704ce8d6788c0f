#include "memory_device.h"
#include "win32.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

TEST(MemoryDevice, StartsWithDirect3DDefaultsAndKeepsAndRecordsStates) {
    MemoryDevice device;
    const DeviceState& s = device.state;
    EXPECT_TRUE(s.Rs(D3DRS_LIGHTING) && s.Rs(D3DRS_CULLMODE) == D3DCULL_CCW &&
                s.Rs(D3DRS_FILLMODE) == D3DFILL_SOLID);
    EXPECT_TRUE(s.Tss(0, D3DTSS_COLOROP) == D3DTOP_MODULATE &&
                s.Tss(1, D3DTSS_COLOROP) == D3DTOP_DISABLE);
    EXPECT_EQ(s.Samp(0, D3DSAMP_ADDRESSU), static_cast<DWORD>(D3DTADDRESS_WRAP));
    EXPECT_TRUE(s.Transform(D3DTS_PROJECTION)._11 == 1 && s.Transform(D3DTS_PROJECTION)._12 == 0);

    D3DMATRIX view = IdentityMatrix(), back;
    view._42 = -80;
    device.SetTransform(D3DTS_VIEW, &view);
    device.GetTransform(D3DTS_VIEW, &back);
    EXPECT_EQ(back._42, -80);
    EXPECT_EQ(device.Calls(DeviceOp::SetTransform).at(0).matrix._42, -80);
    // Out-of-range states are refused rather than written past the tables.
    EXPECT_EQ(device.SetRenderState(static_cast<D3DRENDERSTATETYPE>(9999), 1), D3DERR_INVALIDCALL);
    EXPECT_EQ(device.SetTextureStageState(99, D3DTSS_COLOROP, 1), D3DERR_INVALIDCALL);
}

TEST(MemoryDevice, LocksStartAtTheirOffsetOrRectangleAndFailuresAreReported) {
    MemoryDevice device;
    IDirect3DVertexBuffer9* vb = nullptr;
    ASSERT_EQ(device.CreateVertexBuffer(64, 0, D3DFVF_XYZ, D3DPOOL_DEFAULT, &vb, nullptr), D3D_OK);
    void* data = nullptr;
    ASSERT_EQ(vb->Lock(16, 0, &data, 0), D3D_OK);
    std::memset(data, 0xAB, 48);
    vb->Unlock();
    const auto& bytes = static_cast<MemoryVertexBuffer*>(vb)->data;
    EXPECT_TRUE(bytes[15] == 0 && bytes[16] == 0xAB && bytes[63] == 0xAB);
    EXPECT_NE(vb->Lock(60, 8, &data, 0), D3D_OK); // past the end
    device.failures->lockBuffer = true;
    EXPECT_NE(vb->Lock(0, 0, &data, 0), D3D_OK);
    vb->Release();
    device.failures->createVertexBufferAfter = 1;
    EXPECT_EQ(device.CreateVertexBuffer(4, 0, 0, D3DPOOL_DEFAULT, &vb, nullptr), D3D_OK);
    vb->Release();
    EXPECT_NE(device.CreateVertexBuffer(4, 0, 0, D3DPOOL_DEFAULT, &vb, nullptr), D3D_OK);
    EXPECT_EQ(vb, nullptr);

    IDirect3DTexture9* texture = nullptr;
    ASSERT_EQ(device.CreateTexture(8, 4, 0, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &texture, nullptr),
              D3D_OK);
    EXPECT_EQ(texture->GetLevelCount(), 4u); // 8x4, 4x2, 2x1, 1x1
    D3DLOCKED_RECT locked;
    RECT rect{2, 1, 4, 3}, outside{6, 0, 9, 1};
    ASSERT_EQ(texture->LockRect(0, &locked, &rect, 0), D3D_OK);
    EXPECT_EQ(locked.Pitch, 32);
    static_cast<uint32_t*>(locked.pBits)[0] = 0x11223344;
    texture->UnlockRect(0);
    EXPECT_EQ(static_cast<MemoryTexture*>(texture)->Texel(0, 2, 1), 0x11223344u);
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
    IDirect3DDevice9* device = nullptr;
    ASSERT_EQ(d3d->CreateDevice(0, D3DDEVTYPE_HAL, &window, 0, &params, &device), D3D_OK);
    D3DVIEWPORT9 viewport;
    device->GetViewport(&viewport);
    EXPECT_TRUE(viewport.Width == 1280 && viewport.Height == 768);
    device->Release();
    d3d->Release();

    RECT r;
    EXPECT_EQ(GetClientRect(&window, &r), TRUE);
    EXPECT_EQ(r.right, 640);
    EXPECT_EQ(GetClientRect(nullptr, &r), FALSE);
}

} // namespace
