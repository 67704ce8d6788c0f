#include "gl_fixture.h"
#include "memory_device.h"

namespace {

TEST_F(GlDeviceTest, ClearFillsTheBackBufferAndPresentScalesItToTheWindow) {
    Frame(kBlue);
    const auto& all = Pixels();
    ASSERT_EQ(all.size(), size_t{kBackWidth} * kBackHeight);
    EXPECT_EQ(CountNot(kBlue), 0u);

    // Rectangles clear only themselves: left half red, right half green.
    D3DRECT left{0, 0, 640, 768}, right{640, 0, 1280, 768};
    device->Clear(1, &left, D3DCLEAR_TARGET, 0xFFFF0000u, 1.0f, 0);
    device->Clear(1, &right, D3DCLEAR_TARGET, 0xFF00FF00u, 1.0f, 0);
    D3DRECT corner{0, 0, 10, 5};
    device->Clear(1, &corner, D3DCLEAR_TARGET, 0xFF123456u, 1.0f, 0);
    Pixels();
    EXPECT_EQ(At(9, 4), 0xFF123456u);
    EXPECT_EQ(At(10, 4), 0xFFFF0000u);
    EXPECT_EQ(At(9, 5), 0xFFFF0000u);
    EXPECT_EQ(At(639, 700), 0xFFFF0000u);
    EXPECT_EQ(At(640, 700), 0xFF00FF00u);

    // The 1280 × 768 buffer lands scaled on the 320 × 192 window, upright.
    ASSERT_EQ(device->Present(nullptr, nullptr, nullptr, nullptr), D3D_OK);
    EXPECT_EQ(window->Swaps(), 1);
    std::vector<uint32_t> shown;
    ASSERT_TRUE(window->ReadPixels(&shown));
    ASSERT_EQ(shown.size(), 320u * 192u);
    EXPECT_EQ(shown[100 * 320 + 50], 0xFFFF0000u);
    EXPECT_EQ(shown[100 * 320 + 270], 0xFF00FF00u);
    EXPECT_EQ(shown[191 * 320 + 319], 0xFF00FF00u);
    EXPECT_TRUE(Near(shown[0], {0x12, 0x34, 0x56}, 60)); // the corner, blurred by scaling

    // A clear outside the viewport leaves the pixels alone.
    D3DVIEWPORT9 vp{100, 100, 200, 100, 0, 1};
    ASSERT_EQ(device->SetViewport(&vp), D3D_OK);
    device->Clear(0, nullptr, D3DCLEAR_TARGET, 0xFFFFFFFFu, 1.0f, 0);
    Pixels();
    EXPECT_EQ(At(99, 150), 0xFFFF0000u);
    EXPECT_EQ(At(100, 150), 0xFFFFFFFFu);
    EXPECT_EQ(At(299, 199), 0xFFFFFFFFu);
    EXPECT_EQ(At(300, 199), 0xFFFF0000u);
    D3DVIEWPORT9 outside{1200, 0, 200, 100, 0, 1};
    EXPECT_EQ(device->SetViewport(&outside), D3DERR_INVALIDCALL);
}

TEST_F(GlDeviceTest, CreateDeviceGivesTheGlDeviceOnlyToWindowsWithASurface) {
    FixedSizeWindow plain(640, 480);
    D3DPRESENT_PARAMETERS pp{};
    pp.BackBufferWidth = 1280;
    pp.BackBufferHeight = 768;
    IDirect3DDevice9* other = nullptr;
    ASSERT_EQ(d3d->CreateDevice(0, D3DDEVTYPE_HAL, &plain, 0, &pp, &other), D3D_OK);
    EXPECT_EQ(dynamic_cast<GlDevice*>(other), nullptr);
    EXPECT_NE(dynamic_cast<MemoryDevice*>(other), nullptr);
    std::vector<uint32_t> none;
    EXPECT_FALSE(ReadBackBuffer(other, &none));
    other->Release();
    EXPECT_EQ(CreateGlDevice(&plain, pp), nullptr);
    EXPECT_STRNE(GlDeviceLastError(), "");

    UINT w = 0, h = 0;
    EXPECT_TRUE(ReadBackBuffer(device, &none, &w, &h));
    EXPECT_EQ(w, kBackWidth);
    EXPECT_EQ(h, kBackHeight);
    D3DVIEWPORT9 vp;
    device->GetViewport(&vp);
    EXPECT_EQ(vp.Width, kBackWidth);
    EXPECT_EQ(vp.Height, kBackHeight);
}

TEST_F(GlDeviceTest, TerrainIsSeenFromAboveAndCulledFromBelow) {
    FlatGrid(10, 100.0f);
    device->SetRenderState(D3DRS_LIGHTING, FALSE);
    Camera({0, 1500, 0}, {0, 0, 0}, {0, 0, 1});
    Frame();
    DrawGrid();
    Pixels();
    int x = 0, y = 0;
    ASSERT_TRUE(Project({0, 0, 0}, &x, &y));
    EXPECT_EQ(At(x, y), 0xFFFFFFFFu); // lighting off: white
    ASSERT_TRUE(Project({-450, 0, 450}, &x, &y));
    EXPECT_EQ(At(x, y), 0xFFFFFFFFu);
    const size_t above = CountNot(kBlue);
    EXPECT_GT(above, 200000u);

    // From below the same triangles run counter-clockwise on screen and are culled.
    Camera({0, -1500, 0}, {0, 0, 0}, {0, 0, 1});
    Frame();
    DrawGrid();
    Pixels();
    EXPECT_EQ(CountNot(kBlue), 0u);
    device->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
    DrawGrid();
    Pixels();
    EXPECT_EQ(CountNot(kBlue), above);

    // Culling clockwise instead hides the top.
    device->SetRenderState(D3DRS_CULLMODE, D3DCULL_CW);
    Camera({0, 1500, 0}, {0, 0, 0}, {0, 0, 1});
    Frame();
    DrawGrid();
    Pixels();
    EXPECT_EQ(CountNot(kBlue), 0u);
}

TEST_F(GlDeviceTest, WireframeDrawsTheEdgesAndPointModeTheVertices) {
    FlatGrid(10, 100.0f);
    device->SetRenderState(D3DRS_LIGHTING, FALSE);
    Camera({0, 1500, 0}, {0, 0, 0}, {0, 0, 1});
    Frame();
    DrawGrid();
    Pixels();
    const size_t solid = CountNot(kBlue);

    auto litNear = [this](D3DXVECTOR3 p) {
        int x = 0, y = 0;
        EXPECT_TRUE(Project(p, &x, &y));
        for (int dy = -1; dy <= 1; ++dy)
            for (int dx = -1; dx <= 1; ++dx)
                if (At(x + dx, y + dy) == 0xFFFFFFFFu)
                    return true;
        return false;
    };
    auto at = [this](D3DXVECTOR3 p) {
        int x = 0, y = 0;
        EXPECT_TRUE(Project(p, &x, &y));
        return At(x, y);
    };

    device->SetRenderState(D3DRS_FILLMODE, D3DFILL_WIREFRAME);
    Frame();
    DrawGrid();
    Pixels();
    const size_t wire = CountNot(kBlue);
    EXPECT_GT(wire, 5000u);
    EXPECT_LT(wire, solid / 4);
    EXPECT_TRUE(litNear({50, 0, 0}));   // on a row edge
    EXPECT_TRUE(litNear({0, 0, -250})); // on a column edge
    EXPECT_TRUE(litNear({50, 0, -50})); // on a diagonal
    EXPECT_EQ(at({25, 0, -75}), kBlue); // inside a triangle
    EXPECT_EQ(at({-75, 0, 25}), kBlue);

    device->SetRenderState(D3DRS_FILLMODE, D3DFILL_POINT);
    Frame();
    DrawGrid();
    Pixels();
    const size_t points = CountNot(kBlue);
    EXPECT_GT(points, 60u);
    EXPECT_LT(points, 300u);
    EXPECT_TRUE(litNear({0, 0, 0}));
    EXPECT_TRUE(litNear({-300, 0, 200}));
    EXPECT_FALSE(litNear({50, 0, 0}));
}

TEST_F(GlDeviceTest, DepthRunsZeroToOneAndNearerGeometryWins) {
    device->SetRenderState(D3DRS_LIGHTING, FALSE);
    device->SetRenderState(D3DRS_ZENABLE, D3DZB_TRUE);
    Frame();
    // Identity transforms: z is the depth itself. The near quad first, then the far one.
    Quad(-0.5f, -0.5f, 0.5f, 0.5f, 0xFFFF0000u, 0.25f);
    Quad(-0.75f, -0.75f, 0.25f, 0.25f, 0xFF00FF00u, 0.75f);
    Pixels();
    EXPECT_EQ(At(PixelX(0), PixelY(0)), 0xFFFF0000u);
    EXPECT_EQ(At(PixelX(-0.6f), PixelY(-0.6f)), 0xFF00FF00u);

    // Depth below 0 lies in front of the near plane and is clipped, as in Direct3D; depth
    // 0.1 is drawn.
    Frame();
    Quad(-0.5f, -0.5f, 0.5f, 0.5f, 0xFFFF0000u, -0.1f);
    Pixels();
    EXPECT_EQ(CountNot(kBlue), 0u);
    Quad(-0.5f, -0.5f, 0.5f, 0.5f, 0xFFFF0000u, 0.1f);
    Pixels();
    EXPECT_EQ(At(PixelX(0), PixelY(0)), 0xFFFF0000u);

    // With the depth test off, the later quad wins whatever its depth.
    device->SetRenderState(D3DRS_ZENABLE, D3DZB_FALSE);
    Quad(-0.25f, -0.25f, 0.25f, 0.25f, 0xFF00FF00u, 0.9f);
    Pixels();
    EXPECT_EQ(At(PixelX(0), PixelY(0)), 0xFF00FF00u);
}

TEST_F(GlDeviceTest, LineListsWithoutNormalsShowTheEmissiveColour) {
    // The brush outline's situation: lighting and specular on with the default light, vertices
    // without normals, a material with only an emissive colour.
    D3DLIGHT9 light{};
    light.Type = D3DLIGHT_POINT;
    light.Diffuse = {1, 1, 1, 1};
    light.Specular = {0.5f, 0.5f, 0.5f, 1};
    light.Ambient = {0.1f, 0.1f, 0.1f, 1};
    light.Position = {0, 25000, -25000};
    light.Range = 50000;
    light.Attenuation0 = 0.85f;
    device->SetLight(0, &light);
    device->LightEnable(0, TRUE);
    device->SetRenderState(D3DRS_SPECULARENABLE, TRUE);
    D3DMATERIAL9 m{};
    m.Emissive = {1.0f, 0.0f, 1.0f, 1.0f};
    device->SetMaterial(&m);
    Camera({0, 1500, 0}, {0, 0, 0}, {0, 0, 1});
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
    for (uint32_t p : pixels)
        ASSERT_TRUE(p == kBlue || p == 0xFFFF00FFu) << std::hex << p;
    ASSERT_EQ(device->DrawPrimitive(D3DPT_LINELIST, 1, 3), D3D_OK);
    Pixels();
    EXPECT_GT(CountNot(kBlue), first + 100);
    int x = 0, y = 0;
    ASSERT_TRUE(Project({-250, 0, 0}, &x, &y)); // middle of segment (1, 2)
    bool hit = false;
    for (int dy = -1; dy <= 1; ++dy)
        for (int dx = -1; dx <= 1; ++dx)
            hit |= At(x + dx, y + dy) == 0xFFFF00FFu;
    EXPECT_TRUE(hit);
    // A draw reaching past the buffer is refused, not read out of bounds.
    EXPECT_EQ(device->DrawPrimitive(D3DPT_LINELIST, 1, 4), D3DERR_INVALIDCALL);
}

TEST_F(GlDeviceTest, UnlockUploadsTheLockedRangeAndBindingsKeepObjectsAlive) {
    device->SetRenderState(D3DRS_LIGHTING, FALSE);
    // Two quads in one buffer; the second one's colour is changed through a partial lock.
    std::vector<ColourVertex> v;
    auto quad = [&v](float x0, float x1, D3DCOLOR c) {
        const float y0 = -0.5f, y1 = 0.5f;
        v.insert(v.end(), {{x0, y1, 0.5f, c, 0, 0},
                           {x1, y1, 0.5f, c, 1, 0},
                           {x0, y0, 0.5f, c, 0, 1},
                           {x1, y1, 0.5f, c, 1, 0},
                           {x1, y0, 0.5f, c, 1, 1},
                           {x0, y0, 0.5f, c, 0, 1}});
    };
    quad(-0.9f, -0.1f, 0xFFFF0000u);
    quad(0.1f, 0.9f, 0xFFFF0000u);
    IDirect3DVertexBuffer9* vb = VertexBuffer(v);
    const uint64_t before = device->Stats().bufferBytesUploaded;
    void* data = nullptr;
    const UINT half = 6 * sizeof(ColourVertex);
    ASSERT_EQ(vb->Lock(half, half, &data, 0), D3D_OK);
    auto* second = static_cast<ColourVertex*>(data);
    for (int i = 0; i < 6; ++i)
        second[i].colour = 0xFF00FF00u;
    ASSERT_EQ(vb->Unlock(), D3D_OK);
    EXPECT_EQ(device->Stats().bufferBytesUploaded - before, half);
    EXPECT_EQ(vb->Unlock(), D3DERR_INVALIDCALL);
    EXPECT_EQ(vb->Lock(half, 2 * half, &data, 0), D3DERR_INVALIDCALL);
    device->SetStreamSource(0, vb, 0, sizeof(ColourVertex));
    device->SetFVF(kColourFvf);
    Frame();
    ASSERT_EQ(device->DrawPrimitive(D3DPT_TRIANGLELIST, 0, 4), D3D_OK);
    Pixels();
    EXPECT_EQ(At(PixelX(-0.5f), PixelY(0)), 0xFFFF0000u);
    EXPECT_EQ(At(PixelX(0.5f), PixelY(0)), 0xFF00FF00u);

    // The device holds what is bound: the owner's release does not free it under the draw.
    IDirect3DVertexBuffer9* temporary = nullptr;
    ASSERT_EQ(device->CreateVertexBuffer(static_cast<UINT>(v.size() * sizeof(ColourVertex)), 0,
                                         kColourFvf, D3DPOOL_DEFAULT, &temporary, nullptr),
              D3D_OK);
    ASSERT_EQ(temporary->Lock(0, 0, &data, 0), D3D_OK);
    std::memcpy(data, v.data(), v.size() * sizeof(ColourVertex));
    temporary->Unlock();
    device->SetStreamSource(0, temporary, 0, sizeof(ColourVertex));
    EXPECT_EQ(temporary->Release(), 1u);
    Frame();
    ASSERT_EQ(device->DrawPrimitive(D3DPT_TRIANGLELIST, 0, 4), D3D_OK);
    Pixels();
    EXPECT_EQ(At(PixelX(-0.5f), PixelY(0)), 0xFFFF0000u);
    EXPECT_EQ(At(PixelX(0.5f), PixelY(0)), 0xFFFF0000u);
    device->SetStreamSource(0, nullptr, 0, 0); // the last reference goes here

    // Objects of another device are refused.
    MemoryDevice memory;
    IDirect3DTexture9* foreign = nullptr;
    memory.CreateTexture(4, 4, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &foreign, nullptr);
    EXPECT_EQ(device->SetTexture(0, foreign), D3DERR_INVALIDCALL);
    foreign->Release();
}

TEST_F(GlDeviceTest, ObjectsMayOutliveTheDevice) {
    IDirect3DTexture9* texture = nullptr;
    ASSERT_EQ(
        device->CreateTexture(8, 8, 0, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &texture, nullptr),
        D3D_OK);
    EXPECT_EQ(texture->GetLevelCount(), 4u);
    device->SetTexture(0, texture);
    device->Release();
    device = nullptr;
    // Still usable as memory, and released without the device.
    D3DLOCKED_RECT locked;
    ASSERT_EQ(texture->LockRect(0, &locked, nullptr, 0), D3D_OK);
    static_cast<uint32_t*>(locked.pBits)[0] = 0xFFFFFFFFu;
    EXPECT_EQ(texture->UnlockRect(0), D3D_OK);
    EXPECT_EQ(texture->Release(), 0u);
}

} // namespace
