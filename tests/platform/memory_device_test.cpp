#include "memory_device.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

TEST(MemoryDevice, StartsWithDirect3DDefaultsAndRefusesStatesOutsideItsTables) {
    MemoryDevice device;
    const DeviceState& s = device.state;
    EXPECT_TRUE(s.Rs(D3DRS_LIGHTING) && s.Rs(D3DRS_CULLMODE) == D3DCULL_CCW &&
                s.Rs(D3DRS_FILLMODE) == D3DFILL_SOLID);
    EXPECT_TRUE(s.Tss(0, D3DTSS_COLOROP) == D3DTOP_MODULATE &&
                s.Tss(1, D3DTSS_COLOROP) == D3DTOP_DISABLE);
    EXPECT_EQ(s.Samp(0, D3DSAMP_ADDRESSU), static_cast<DWORD>(D3DTADDRESS_WRAP));
    EXPECT_EQ(device.SetRenderState(static_cast<D3DRENDERSTATETYPE>(9999), 1), D3DERR_INVALIDCALL);
    EXPECT_EQ(device.SetTextureStageState(99, D3DTSS_COLOROP, 1), D3DERR_INVALIDCALL);
}

TEST(MemoryDevice, LocksStartAtTheirOffsetOrRectangle) {
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
    vb->Release();

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

} // namespace
