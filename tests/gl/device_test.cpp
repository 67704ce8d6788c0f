#include "gl_fixture.h"

namespace {

TEST_F(GlDeviceTest, ClearsWholeOrInRectanglesAndPresentScalesToTheWindow) {
    Frame(kGreen);
    const D3DRECT left{0, 0, 640, 768}, corner{0, 0, 10, 5};
    device->Clear(1, &left, D3DCLEAR_TARGET, kRed, 1.0f, 0);
    device->Clear(1, &corner, D3DCLEAR_TARGET, 0xFF123456u, 1.0f, 0);
    Pixels();
    EXPECT_EQ(At(9, 4), 0xFF123456u);
    EXPECT_TRUE(At(10, 4) == kRed && At(9, 5) == kRed && At(639, 700) == kRed);
    EXPECT_TRUE(At(640, 0) == kGreen && At(1279, 767) == kGreen);

    // The 1280 × 768 buffer lands scaled on the 320 × 192 window, upright.
    ASSERT_EQ(device->Present(nullptr, nullptr, nullptr, nullptr), D3D_OK);
    std::vector<uint32_t> shown;
    ASSERT_TRUE(window->ReadPixels(&shown) && shown.size() == 320u * 192u);
    EXPECT_TRUE(shown[100 * 320 + 50] == kRed && shown[100 * 320 + 270] == kGreen);
    EXPECT_EQ(shown[191 * 320 + 319], kGreen);
    EXPECT_TRUE(Near(shown[0], 0x123456u, 60)); // the corner, blurred by scaling
}

TEST_F(GlDeviceTest, TerrainIsCulledFromBelowAndFillModesDrawEdgesOrVertices) {
    FlatGrid(10, 100.0f);
    Camera(1500);
    ShotGrid();
    EXPECT_TRUE(AtWorld({0, 0, 0}) == kWhite && AtWorld({-450, 0, 450}) == kWhite);
    const size_t solid = CountNot(kBlue);
    EXPECT_GT(solid, 200000u);

    // From below the same triangles run counter-clockwise on screen; culling clockwise instead
    // hides the top.
    const std::tuple<float, DWORD, size_t> culling[] = {
        {-1500, D3DCULL_CCW, 0}, {-1500, D3DCULL_NONE, solid}, {1500, D3DCULL_CW, 0}};
    for (auto [height, cull, covered] : culling) {
        device->SetRenderState(D3DRS_CULLMODE, cull);
        Camera(height);
        ShotGrid();
        EXPECT_EQ(CountNot(kBlue), covered) << height << " cull " << cull;
    }
    device->SetRenderState(D3DRS_CULLMODE, D3DCULL_CCW);

    device->SetRenderState(D3DRS_FILLMODE, D3DFILL_WIREFRAME);
    ShotGrid();
    EXPECT_TRUE(CountNot(kBlue) > 5000u && CountNot(kBlue) < solid / 4);
    // On a row edge, a column edge and a diagonal; not inside the triangles.
    for (D3DXVECTOR3 p : {D3DXVECTOR3(50, 0, 0), {0, 0, -250}, {50, 0, -50}})
        EXPECT_TRUE(NearWorld(p, kWhite)) << p.x << ", " << p.z;
    EXPECT_TRUE(AtWorld({25, 0, -75}) == kBlue && AtWorld({-75, 0, 25}) == kBlue);

    device->SetRenderState(D3DRS_FILLMODE, D3DFILL_POINT);
    ShotGrid();
    EXPECT_TRUE(CountNot(kBlue) > 60u && CountNot(kBlue) < 300u) << CountNot(kBlue);
    EXPECT_TRUE(NearWorld({0, 0, 0}, kWhite) && NearWorld({-300, 0, 200}, kWhite));
    EXPECT_FALSE(NearWorld({50, 0, 0}, kWhite));
}

TEST_F(GlDeviceTest, DepthRunsZeroToOneAndNearerGeometryWins) {
    Frame();
    // Identity transforms: z is the depth itself. The near quad first, then the far one.
    Quad(-0.5f, -0.5f, 0.5f, 0.5f, kRed, 0.25f);
    Quad(-0.75f, -0.75f, 0.25f, 0.25f, kGreen, 0.75f);
    Pixels();
    EXPECT_TRUE(AtNdc(0, 0) == kRed && AtNdc(-0.6f, -0.6f) == kGreen);
    // Depth below 0 lies in front of the near plane and is clipped, as in Direct3D.
    Frame();
    Quad(-0.5f, -0.5f, 0.5f, 0.5f, kRed, -0.1f);
    Quad(-0.25f, -0.25f, 0.25f, 0.25f, kGreen, 0.1f);
    Pixels();
    EXPECT_TRUE(AtNdc(0, 0) == kGreen && AtNdc(-0.4f, -0.4f) == kBlue);
}

TEST_F(GlDeviceTest, LineListsWithoutNormalsShowTheEmissiveColour) {
    // The brush outline's situation: the default light with specular, vertices without
    // normals, a material with only an emissive colour.
    const D3DLIGHT9 light = DefaultLight();
    device->SetRenderState(D3DRS_LIGHTING, TRUE);
    device->SetLight(0, &light);
    device->LightEnable(0, TRUE);
    device->SetRenderState(D3DRS_SPECULARENABLE, TRUE);
    const D3DMATERIAL9 m{{}, {}, {}, {1.0f, 0.0f, 1.0f, 1.0f}, 0};
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
    EXPECT_EQ(first + CountNot(0xFFFF00FFu), pixels.size()); // every line pixel is magenta
    EXPECT_FALSE(NearWorld({-250, 0, 0}, 0xFFFF00FFu));      // middle of segment (1, 2)
    ASSERT_EQ(device->DrawPrimitive(D3DPT_LINELIST, 1, 3), D3D_OK);
    Pixels();
    EXPECT_GT(CountNot(kBlue), first + 100);
    EXPECT_TRUE(NearWorld({-250, 0, 0}, 0xFFFF00FFu));
    // A draw reaching past the buffer is refused, not read out of bounds.
    EXPECT_EQ(device->DrawPrimitive(D3DPT_LINELIST, 1, 4), D3DERR_INVALIDCALL);
}

TEST_F(GlDeviceTest, UnlockUploadsTheLockedRangeAndTheDeviceHoldsWhatIsBound) {
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
    EXPECT_EQ(vb->Lock(half, 2 * half, &data, 0), D3DERR_INVALIDCALL);
    EXPECT_EQ(drawn(vb), std::pair(kRed, kGreen));
    // A lock hands out what the buffer holds, and a buffer cannot be drawn while locked.
    ASSERT_EQ(vb->Lock(0, 0, &data, D3DLOCK_READONLY), D3D_OK);
    const auto* held = static_cast<const ColourVertex*>(data);
    EXPECT_TRUE(held[5].colour == kRed && held[6].colour == kGreen && held[10].x == 0.9f);
    EXPECT_EQ(device->DrawPrimitive(D3DPT_TRIANGLELIST, 0, 4), D3DERR_INVALIDCALL);
    ASSERT_EQ(vb->Unlock(), D3D_OK);
    EXPECT_EQ(device->Stats().bufferBytesUploaded - before, half);

    // The device holds what is bound: the owner's release does not free it under the draw.
    IDirect3DVertexBuffer9* temporary = VertexBuffer(v);
    owned.pop_back();
    device->SetStreamSource(0, temporary, 0, sizeof(ColourVertex));
    EXPECT_EQ(temporary->Release(), 1u);
    EXPECT_EQ(drawn(temporary), std::pair(kRed, kRed));
    device->SetStreamSource(0, nullptr, 0, 0); // the last reference goes here
}

TEST_F(GlDeviceTest, IndexedDrawsSendOnlyTheIndicesTheyRead) {
    // Left quad red, right quad green; 12 more indices that no draw reads.
    std::vector<ColourVertex> v;
    AppendQuad(&v, -0.9f, -0.5f, -0.1f, 0.5f, kRed);
    AppendQuad(&v, 0.1f, -0.5f, 0.9f, 0.5f, kGreen);
    device->SetStreamSource(0, VertexBuffer(v), 0, sizeof(ColourVertex));
    device->SetFVF(kColourFvf);
    std::vector<uint16_t> indices(24, 0);
    for (uint16_t i = 0; i < 12; ++i)
        indices[i] = i;
    IDirect3DIndexBuffer9* ib = nullptr;
    ASSERT_EQ(device->CreateIndexBuffer(48, 0, D3DFMT_INDEX16, D3DPOOL_DEFAULT, &ib, nullptr),
              D3D_OK);
    device->SetIndices(Fill(ib, indices));
    uint64_t before = device->Stats().indexBytesUploaded;
    const auto sent = [&] {
        const uint64_t now = device->Stats().indexBytesUploaded, bytes = now - before;
        before = now;
        return bytes;
    };
    auto draw = [&](UINT start, UINT triangles) {
        Frame();
        EXPECT_EQ(device->DrawIndexedPrimitive(D3DPT_TRIANGLELIST, 0, 0, 12, start, triangles),
                  D3D_OK);
        Pixels();
        return std::pair{AtNdc(-0.5f, 0), AtNdc(0.5f, 0)};
    };
    EXPECT_EQ(sent(), 0u); // nothing until a draw reads it
    EXPECT_EQ(draw(6, 2), std::pair(kBlue, kGreen));
    EXPECT_EQ(sent(), 12u);
    EXPECT_EQ(draw(0, 4), std::pair(kRed, kGreen));
    EXPECT_EQ(sent(), 12u); // the left half only: the right one is there
    draw(0, 4);
    EXPECT_EQ(sent(), 0u);

    // Rewriting the left quad's indices as the right quad's sends them again when drawn.
    void* data = nullptr;
    ASSERT_EQ(ib->Lock(0, 12, &data, 0), D3D_OK);
    for (uint16_t i = 0; i < 6; ++i)
        static_cast<uint16_t*>(data)[i] = uint16_t(i + 6);
    ASSERT_EQ(ib->Unlock(), D3D_OK);
    EXPECT_EQ(draw(6, 2), std::pair(kBlue, kGreen));
    EXPECT_EQ(sent(), 0u);
    EXPECT_EQ(draw(0, 2), std::pair(kBlue, kGreen));
    EXPECT_EQ(sent(), 12u);

    // The terrain relists its whole buffer every frame; a frame sends only the visible part,
    // once for all its passes.
    KrTerrain terrain;
    terrain.device = device;
    ASSERT_TRUE(terrain.Create(129, 129, 10));
    terrain.lodThreshold = 5; // the map page's default
    const D3DXMATRIX view(1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, -80, 0, 1);
    D3DXMATRIX cull;
    D3DXMatrixPerspectiveFovLH(&cull, 1.5f, 1.0f, 10, 100000);
    device->SetTransform(D3DTS_VIEW, &view);
    for (int frame = 0; frame < 3; ++frame) {
        sent();
        ASSERT_TRUE(terrain.UpdateTerrain(view, cull));
        Frame();
        terrain.Render();
        const uint64_t drawn = uint64_t(terrain.visibleTriangleCount) * 12;
        EXPECT_TRUE(drawn > 0 && drawn < uint64_t(terrain.info.numTriangles) * 12 / 4);
        EXPECT_EQ(sent(), drawn) << "frame " << frame;
    }
}

} // namespace
