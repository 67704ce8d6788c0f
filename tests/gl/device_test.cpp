#include "gl_fixture.h"
#include "memory_device.h"

namespace {

TEST_F(GlDeviceTest, ClearsWholeOrInRectanglesAndPresentScalesToTheWindow) {
    Frame(kBlue);
    ASSERT_EQ(Pixels().size(), size_t{kBackWidth} * kBackHeight);
    EXPECT_EQ(CountNot(kBlue), 0u);
    const D3DRECT left{0, 0, 640, 768}, right{640, 0, 1280, 768}, corner{0, 0, 10, 5};
    device->Clear(1, &left, D3DCLEAR_TARGET, kRed, 1.0f, 0);
    device->Clear(1, &right, D3DCLEAR_TARGET, kGreen, 1.0f, 0);
    device->Clear(1, &corner, D3DCLEAR_TARGET, 0xFF123456u, 1.0f, 0);
    Pixels();
    EXPECT_EQ(At(9, 4), 0xFF123456u);
    EXPECT_TRUE(At(10, 4) == kRed && At(9, 5) == kRed && At(639, 700) == kRed);
    EXPECT_EQ(At(640, 700), kGreen);

    // The 1280 × 768 buffer lands scaled on the 320 × 192 window, upright.
    ASSERT_EQ(device->Present(nullptr, nullptr, nullptr, nullptr), D3D_OK);
    EXPECT_EQ(window->Swaps(), 1);
    std::vector<uint32_t> shown;
    ASSERT_TRUE(window->ReadPixels(&shown));
    ASSERT_EQ(shown.size(), 320u * 192u);
    EXPECT_TRUE(shown[100 * 320 + 50] == kRed && shown[100 * 320 + 270] == kGreen);
    EXPECT_EQ(shown[191 * 320 + 319], kGreen);
    EXPECT_TRUE(Near(shown[0], 0x123456u, 60)); // the corner, blurred by scaling

    // A clear leaves the pixels outside the viewport alone.
    const D3DVIEWPORT9 vp{100, 100, 200, 100, 0, 1}, outside{1200, 0, 200, 100, 0, 1};
    ASSERT_EQ(device->SetViewport(&vp), D3D_OK);
    device->Clear(0, nullptr, D3DCLEAR_TARGET, kWhite, 1.0f, 0);
    Pixels();
    EXPECT_TRUE(At(100, 150) == kWhite && At(299, 199) == kWhite);
    EXPECT_TRUE(At(99, 150) == kRed && At(300, 199) == kRed);
    EXPECT_EQ(device->SetViewport(&outside), D3DERR_INVALIDCALL);
}

TEST_F(GlDeviceTest, CreateDeviceGivesTheGlDeviceOnlyToWindowsWithASurface) {
    FixedSizeWindow plain(640, 480);
    D3DPRESENT_PARAMETERS pp{};
    pp.BackBufferWidth = 1280;
    pp.BackBufferHeight = 768;
    IDirect3DDevice9* other = nullptr;
    ASSERT_EQ(d3d->CreateDevice(0, D3DDEVTYPE_HAL, &plain, 0, &pp, &other), D3D_OK);
    EXPECT_NE(dynamic_cast<MemoryDevice*>(other), nullptr);
    other->Release();
    EXPECT_EQ(CreateGlDevice(&plain, pp), nullptr);
    EXPECT_STRNE(GlDeviceLastError(), "");
}

TEST_F(GlDeviceTest, TerrainIsCulledFromBelowAndFillModesDrawEdgesOrVertices) {
    FlatGrid(10, 100.0f);
    device->SetRenderState(D3DRS_LIGHTING, FALSE);
    Camera(1500);
    ShotGrid();
    EXPECT_TRUE(AtWorld({0, 0, 0}) == kWhite && AtWorld({-450, 0, 450}) == kWhite);
    const size_t solid = CountNot(kBlue);
    EXPECT_GT(solid, 200000u);

    // From below the same triangles run counter-clockwise on screen; culling clockwise instead
    // hides the top.
    const struct {
        float height;
        DWORD cull;
        size_t covered;
    } culling[] = {{-1500, D3DCULL_CCW, 0}, {-1500, D3DCULL_NONE, solid}, {1500, D3DCULL_CW, 0}};
    for (const auto& c : culling) {
        device->SetRenderState(D3DRS_CULLMODE, c.cull);
        Camera(c.height);
        ShotGrid();
        EXPECT_EQ(CountNot(kBlue), c.covered) << c.height << " cull " << c.cull;
    }
    device->SetRenderState(D3DRS_CULLMODE, D3DCULL_CCW);

    device->SetRenderState(D3DRS_FILLMODE, D3DFILL_WIREFRAME);
    ShotGrid();
    EXPECT_GT(CountNot(kBlue), 5000u);
    EXPECT_LT(CountNot(kBlue), solid / 4);
    // On a row edge, a column edge and a diagonal; not inside the triangles.
    for (D3DXVECTOR3 p : {D3DXVECTOR3(50, 0, 0), {0, 0, -250}, {50, 0, -50}})
        EXPECT_TRUE(NearWorld(p, kWhite)) << p.x << ", " << p.z;
    EXPECT_TRUE(AtWorld({25, 0, -75}) == kBlue && AtWorld({-75, 0, 25}) == kBlue);

    device->SetRenderState(D3DRS_FILLMODE, D3DFILL_POINT);
    ShotGrid();
    EXPECT_GT(CountNot(kBlue), 60u);
    EXPECT_LT(CountNot(kBlue), 300u);
    EXPECT_TRUE(NearWorld({0, 0, 0}, kWhite) && NearWorld({-300, 0, 200}, kWhite));
    EXPECT_FALSE(NearWorld({50, 0, 0}, kWhite));
}

TEST_F(GlDeviceTest, DepthRunsZeroToOneAndNearerGeometryWins) {
    device->SetRenderState(D3DRS_LIGHTING, FALSE);
    Frame();
    // Identity transforms: z is the depth itself. The near quad first, then the far one.
    Quad(-0.5f, -0.5f, 0.5f, 0.5f, kRed, 0.25f);
    Quad(-0.75f, -0.75f, 0.25f, 0.25f, kGreen, 0.75f);
    Pixels();
    EXPECT_TRUE(AtNdc(0, 0) == kRed && AtNdc(-0.6f, -0.6f) == kGreen);
    // Depth below 0 lies in front of the near plane and is clipped, as in Direct3D.
    Frame();
    Quad(-0.5f, -0.5f, 0.5f, 0.5f, kRed, -0.1f);
    Pixels();
    EXPECT_EQ(CountNot(kBlue), 0u);
    Quad(-0.5f, -0.5f, 0.5f, 0.5f, kRed, 0.1f);
    Pixels();
    EXPECT_EQ(AtNdc(0, 0), kRed);
    // With the depth test off, the later quad wins whatever its depth.
    device->SetRenderState(D3DRS_ZENABLE, D3DZB_FALSE);
    Quad(-0.25f, -0.25f, 0.25f, 0.25f, kGreen, 0.9f);
    Pixels();
    EXPECT_EQ(AtNdc(0, 0), kGreen);
}

TEST_F(GlDeviceTest, LineListsWithoutNormalsShowTheEmissiveColour) {
    // The brush outline's situation: the default light with specular, vertices without
    // normals, a material with only an emissive colour.
    const D3DLIGHT9 light = DefaultLight();
    device->SetLight(0, &light);
    device->LightEnable(0, TRUE);
    device->SetRenderState(D3DRS_SPECULARENABLE, TRUE);
    D3DMATERIAL9 m{};
    m.Emissive = {1.0f, 0.0f, 1.0f, 1.0f};
    device->SetMaterial(&m);
    Camera(1500);
    std::vector<D3DVECTOR> points;
    for (int i = 0; i < 8; ++i)
        points.push_back({-400.0f + 100 * i, 0.0f, (i % 2) ? 100.0f : -100.0f});
    device->SetStreamSource(0, VertexBuffer(points), 0, 12);
    device->SetFVF(D3DFVF_XYZ);
    Frame();
    // Segments (0,1), (2,3), (4,5), (6,7); then from vertex 1: (1,2), (3,4), (5,6).
    ASSERT_EQ(device->DrawPrimitive(D3DPT_LINELIST, 0, 4), D3D_OK);
    Pixels();
    const size_t first = CountNot(kBlue);
    EXPECT_GT(first, 100u);
    EXPECT_EQ(size_t(std::count(pixels.begin(), pixels.end(), 0xFFFF00FFu)), first);
    EXPECT_FALSE(NearWorld({-250, 0, 0}, 0xFFFF00FFu)); // middle of segment (1, 2)
    ASSERT_EQ(device->DrawPrimitive(D3DPT_LINELIST, 1, 3), D3D_OK);
    Pixels();
    EXPECT_GT(CountNot(kBlue), first + 100);
    EXPECT_TRUE(NearWorld({-250, 0, 0}, 0xFFFF00FFu));
    // A draw reaching past the buffer is refused, not read out of bounds.
    EXPECT_EQ(device->DrawPrimitive(D3DPT_LINELIST, 1, 4), D3DERR_INVALIDCALL);
}

TEST_F(GlDeviceTest, UnlockUploadsTheLockedRangeAndObjectsOutliveTheirOwnersAndTheDevice) {
    device->SetRenderState(D3DRS_LIGHTING, FALSE);
    device->SetFVF(kColourFvf);
    std::vector<ColourVertex> v;
    AppendQuad(&v, -0.9f, -0.5f, -0.1f, 0.5f, kRed);
    AppendQuad(&v, 0.1f, -0.5f, 0.9f, 0.5f, kRed);
    auto drawn = [&](IDirect3DVertexBuffer9* vb) {
        device->SetStreamSource(0, vb, 0, sizeof(ColourVertex));
        Frame();
        EXPECT_EQ(device->DrawPrimitive(D3DPT_TRIANGLELIST, 0, 4), D3D_OK);
        Pixels();
        return std::pair{AtNdc(-0.5f, 0), AtNdc(0.5f, 0)};
    };
    // The second quad turns green through a lock of its half only.
    IDirect3DVertexBuffer9* vb = VertexBuffer(v);
    const uint64_t before = device->Stats().bufferBytesUploaded;
    void* data = nullptr;
    const UINT half = 6 * sizeof(ColourVertex);
    ASSERT_EQ(vb->Lock(half, half, &data, 0), D3D_OK);
    for (int i = 0; i < 6; ++i)
        static_cast<ColourVertex*>(data)[i].colour = kGreen;
    ASSERT_EQ(vb->Unlock(), D3D_OK);
    EXPECT_EQ(device->Stats().bufferBytesUploaded - before, half);
    EXPECT_EQ(vb->Unlock(), D3DERR_INVALIDCALL);
    EXPECT_EQ(vb->Lock(half, 2 * half, &data, 0), D3DERR_INVALIDCALL);
    EXPECT_EQ(drawn(vb), std::pair(kRed, kGreen));

    // The device holds what is bound: the owner's release does not free it under the draw.
    IDirect3DVertexBuffer9* temporary = VertexBuffer(v);
    owned.pop_back();
    device->SetStreamSource(0, temporary, 0, sizeof(ColourVertex));
    EXPECT_EQ(temporary->Release(), 1u);
    EXPECT_EQ(drawn(temporary), std::pair(kRed, kRed));
    device->SetStreamSource(0, nullptr, 0, 0); // the last reference goes here

    MemoryDevice memory; // objects of another device are refused
    IDirect3DTexture9* foreign = nullptr;
    memory.CreateTexture(4, 4, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &foreign, nullptr);
    EXPECT_EQ(device->SetTexture(0, foreign), D3DERR_INVALIDCALL);
    foreign->Release();

    // Objects may outlive the device: still usable as memory, and released without it.
    IDirect3DTexture9* texture = Texture(
        8, 8, [](UINT, UINT, UINT) { return kWhite; }, 0);
    owned.pop_back();
    EXPECT_EQ(texture->GetLevelCount(), 4u);
    device->SetTexture(0, texture);
    device->Release();
    device = nullptr;
    D3DLOCKED_RECT locked;
    ASSERT_EQ(texture->LockRect(0, &locked, nullptr, 0), D3D_OK);
    EXPECT_EQ(texture->UnlockRect(0), D3D_OK);
    EXPECT_EQ(texture->Release(), 0u);
}

} // namespace
