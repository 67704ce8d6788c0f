// A GL device on an EGL surfaceless window for the pixel tests, with small scene helpers.
// Tests skip when this machine can make no EGL display.
#pragma once

#include "KrRenderer.h"
#include "KrTerrain.h"
#include "d3dx9.h"
#include "gl_device.h"
#include "gl_egl_surface.h"

#include <epoxy/gl.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

constexpr UINT kBackWidth = 1280;
constexpr UINT kBackHeight = 768;
constexpr uint32_t kBlue = 0xFF0000FFu, kRed = 0xFFFF0000u, kGreen = 0xFF00FF00u,
                   kWhite = 0xFFFFFFFFu, kBlack = 0xFF000000u;

// Channel 0, 1, 2 of an A8R8G8B8 word: blue, green, red.
inline int Channel(uint32_t argb, int c) {
    return int(argb >> (8 * c) & 0xFF);
}

inline ::testing::AssertionResult Near(uint32_t got, uint32_t want, int tolerance) {
    for (int c = 0; c < 3; ++c)
        if (std::abs(Channel(got, c) - Channel(want, c)) > tolerance)
            return ::testing::AssertionFailure() << std::hex << "got " << got << ", want " << want;
    return ::testing::AssertionSuccess();
}

// The renderer's own default light, and the material it applies.
inline D3DLIGHT9 DefaultLight() {
    KrRenderer::GetInstance()->SetDefaultLight();
    const D3DLIGHT9 light = KrRenderer::GetInstance()->light;
    KrRenderer::DestroyInstance();
    return light;
}

constexpr D3DMATERIAL9 kWhiteMaterial{{1, 1, 1, 1}, {1, 1, 1, 1}, {1, 1, 1, 1}, {}, 8};

// Screen-space quads: with identity transforms positions are device coordinates.
struct ColourVertex {
    float x, y, z;
    D3DCOLOR colour;
    float u, v;
};
constexpr DWORD kColourFvf = D3DFVF_XYZ | D3DFVF_DIFFUSE | D3DFVF_TEX1;

// A quad from (x0, y0) to (x1, y1) in device coordinates, clockwise on screen, u running right
// and v down.
inline void AppendQuad(std::vector<ColourVertex>* v, float x0, float y0, float x1, float y1,
                       D3DCOLOR c, float z = 0.5f) {
    for (int corner : {0, 1, 2, 1, 3, 2}) // top left, top right, bottom left, bottom right
        v->push_back({corner & 1 ? x1 : x0, corner & 2 ? y0 : y1, z, c, float(corner & 1),
                      float(corner >> 1)});
}

class GlDeviceTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string error;
        window = EglSurfacelessWindow::Create(320, 192, &error);
        if (!window)
            GTEST_SKIP() << "no EGL surfaceless display here: " << error;
        RegisterGlDevice();
        d3d = Direct3DCreate9(D3D_SDK_VERSION);
        ASSERT_NE(d3d, nullptr);
        D3DPRESENT_PARAMETERS pp{};
        pp.BackBufferWidth = kBackWidth;
        pp.BackBufferHeight = kBackHeight;
        pp.EnableAutoDepthStencil = TRUE;
        IDirect3DDevice9* made = nullptr;
        ASSERT_EQ(d3d->CreateDevice(0, D3DDEVTYPE_HAL, window.get(), 0, &pp, &made), D3D_OK)
            << GlDeviceLastError();
        device = dynamic_cast<GlDevice*>(made);
        ASSERT_NE(device, nullptr);
        device->SetRenderState(D3DRS_LIGHTING, FALSE); // the tests that light say so
    }

    void TearDown() override {
        for (IUnknown* object : owned)
            object->Release();
        if (device) {
            window->Surface()->MakeCurrent();
            EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
            device->Release();
        }
        if (d3d)
            d3d->Release();
    }

    template <class B, class T> B* Fill(B* buffer, const std::vector<T>& items) {
        void* data = nullptr;
        EXPECT_EQ(buffer->Lock(0, 0, &data, 0), D3D_OK);
        std::memcpy(data, items.data(), items.size() * sizeof(T));
        buffer->Unlock();
        owned.push_back(buffer);
        return buffer;
    }
    template <class V> IDirect3DVertexBuffer9* VertexBuffer(const std::vector<V>& vertices) {
        IDirect3DVertexBuffer9* vb = nullptr;
        device->CreateVertexBuffer(UINT(vertices.size() * sizeof(V)), 0, 0, D3DPOOL_DEFAULT, &vb,
                                   nullptr);
        return Fill(vb, vertices);
    }

    // A managed A8R8G8B8 texture with texel(x, y, level) on every level.
    template <class F> IDirect3DTexture9* Texture(UINT w, UINT h, F texel, UINT levels = 1) {
        IDirect3DTexture9* texture = nullptr;
        EXPECT_EQ(device->CreateTexture(w, h, levels, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &texture,
                                        nullptr),
                  D3D_OK);
        for (UINT level = 0; level < texture->GetLevelCount(); ++level) {
            D3DLOCKED_RECT locked;
            EXPECT_EQ(texture->LockRect(level, &locked, nullptr, 0), D3D_OK);
            for (UINT y = 0; y < std::max(h >> level, 1u); ++y)
                for (UINT x = 0; x < std::max(w >> level, 1u); ++x)
                    static_cast<uint32_t*>(locked.pBits)[y * locked.Pitch / 4 + x] =
                        texel(x, y, level);
            texture->UnlockRect(level);
        }
        owned.push_back(texture);
        return texture;
    }

    // A flat grid on y = 0 of side cells × spacing, centred on the origin, row 0 at +z, its
    // triangles clockwise seen from above (as the terrain lists them).
    void FlatGrid(int cells, float spacing) {
        const int side = cells + 1;
        const float half = cells * spacing * 0.5f;
        gridVertices.clear();
        std::vector<uint32_t> indices;
        for (int r = 0; r < side; ++r)
            for (int c = 0; c < side; ++c) {
                gridVertices.push_back({-half + c * spacing, 0, half - r * spacing, 0, 1, 0,
                                        float(c) / cells, float(r) / cells});
                const uint32_t tl = r * side + c, tr = tl + 1, bl = tl + side, br = bl + 1;
                if (r < cells && c < cells)
                    indices.insert(indices.end(), {tl, tr, bl, tr, br, bl});
            }
        gridTriangles = static_cast<UINT>(indices.size() / 3);
        gridVb = VertexBuffer(gridVertices);
        device->CreateIndexBuffer(UINT(indices.size() * 4), 0, D3DFMT_INDEX32, D3DPOOL_DEFAULT,
                                  &gridIb, nullptr);
        Fill(gridIb, indices);
    }

    // Clears, draws the grid and reads the pixels back.
    void ShotGrid() {
        Frame();
        device->SetStreamSource(0, gridVb, 0, sizeof(KrTerrainVertex));
        device->SetFVF(kTerrainFvf);
        device->SetIndices(gridIb);
        EXPECT_EQ(device->DrawIndexedPrimitive(D3DPT_TRIANGLELIST, 0, 0,
                                               static_cast<UINT>(gridVertices.size()), 0,
                                               gridTriangles),
                  D3D_OK);
        Pixels();
    }

    // The program's π/4 projection, looking straight down from (0, height, 0), or up when the
    // height is negative, +z at the top of the screen.
    void Camera(float height) {
        const float s = height > 0 ? 1.0f : -1.0f;
        const D3DXMATRIX view(s, 0, 0, 0, 0, 0, -s, 0, 0, 1, 0, 0, 0, 0, std::fabs(height), 1);
        D3DXMATRIX projection;
        D3DXMatrixPerspectiveFovLH(&projection, 3.14159265f / 4, 1280.0f / 768.0f, 10, 100000);
        device->SetTransform(D3DTS_VIEW, &view);
        device->SetTransform(D3DTS_PROJECTION, &projection);
    }

    // The back-buffer pixel of a point on the ground seen from Camera(1500) (Direct3D pixel
    // centres are integers), or (-1, -1) off the screen.
    static std::pair<int, int> Project(D3DXVECTOR3 p) {
        const float perUnit = kBackHeight / 2 / (1500 * std::tan(3.14159265f / 8));
        const int x = int(std::lround(kBackWidth / 2 + p.x * perUnit));
        const int y = int(std::lround(kBackHeight / 2 - p.z * perUnit));
        if (x < 2 || y < 2 || x >= int(kBackWidth) - 2 || y >= int(kBackHeight) - 2)
            return {-1, -1};
        return {x, y};
    }
    uint32_t AtWorld(D3DXVECTOR3 p) const {
        const auto [x, y] = Project(p);
        EXPECT_GE(x, 0) << "off screen";
        return x < 0 ? 0 : At(x, y);
    }
    // Whether the pixel of p or one next to it has the colour (lines and points are thin).
    bool NearWorld(D3DXVECTOR3 p, uint32_t argb) const {
        const auto [x, y] = Project(p);
        for (int dy = -1; dy <= 1; ++dy)
            for (int dx = -1; dx <= 1; ++dx)
                if (x >= 0 && At(x + dx, y + dy) == argb)
                    return true;
        return false;
    }

    void Frame(D3DCOLOR clear = kBlue) {
        ASSERT_EQ(device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, clear, 1.0f, 0),
                  D3D_OK);
    }
    void Pixels() {
        pixels.clear();
        EXPECT_TRUE(ReadBackBuffer(device, &pixels));
    }
    uint32_t At(int x, int y) const { return pixels.at(static_cast<size_t>(y) * kBackWidth + x); }
    size_t CountNot(uint32_t argb) const {
        return pixels.size() - std::count(pixels.begin(), pixels.end(), argb);
    }

    void Quad(float x0, float y0, float x1, float y1, D3DCOLOR colour, float z = 0.5f) {
        std::vector<ColourVertex> v;
        AppendQuad(&v, x0, y0, x1, y1, colour, z);
        device->SetStreamSource(0, VertexBuffer(v), 0, sizeof(ColourVertex));
        device->SetFVF(kColourFvf);
        EXPECT_EQ(device->DrawPrimitive(D3DPT_TRIANGLELIST, 0, 2), D3D_OK);
    }
    // The back-buffer pixel at device coordinates (x, y).
    uint32_t AtNdc(float x, float y) const {
        return At(int((x + 1) * 0.5f * kBackWidth), int((1 - y) * 0.5f * kBackHeight));
    }
    // Draws a grey quad at the centre, half a screen across by default.
    void Draw(float halfWidth = 0.5f, float halfHeight = 0.5f) {
        Frame();
        Quad(-halfWidth, -halfHeight, halfWidth, halfHeight, 0xFF808080u);
        Pixels();
    }
    // The pixel at texture coordinate (u, v) of the default quad.
    uint32_t AtUv(float u, float v) const { return AtNdc(-0.5f + u, 0.5f - v); }

    void Sampler(DWORD sampler, D3DSAMPLERSTATETYPE type, DWORD value, DWORD type2) {
        device->SetSamplerState(sampler, type, value);
        device->SetSamplerState(sampler, D3DSAMPLERSTATETYPE(type2), value);
    }

    std::unique_ptr<EglSurfacelessWindow> window;
    IDirect3D9* d3d = nullptr;
    GlDevice* device = nullptr;
    std::vector<IUnknown*> owned;
    std::vector<uint32_t> pixels;
    std::vector<KrTerrainVertex> gridVertices;
    IDirect3DVertexBuffer9* gridVb = nullptr;
    IDirect3DIndexBuffer9* gridIb = nullptr;
    UINT gridTriangles = 0;
};
