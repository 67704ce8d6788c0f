// A GL device on an EGL surfaceless window for the pixel tests, with small scene helpers.
// Tests skip when this machine can make no EGL display.
#pragma once

#include "KrTerrain.h"
#include "d3dx9.h"
#include "gl_device.h"
#include "gl_egl_surface.h"

#include <epoxy/gl.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

constexpr UINT kBackWidth = 1280;
constexpr UINT kBackHeight = 768;
constexpr D3DCOLOR kBlue = 0xFF0000FFu;

struct Rgb {
    int r, g, b;
};

inline Rgb ToRgb(uint32_t argb) {
    return {static_cast<int>((argb >> 16) & 0xFF), static_cast<int>((argb >> 8) & 0xFF),
            static_cast<int>(argb & 0xFF)};
}

inline ::testing::AssertionResult Near(uint32_t argb, Rgb want, int tolerance) {
    Rgb got = ToRgb(argb);
    if (std::abs(got.r - want.r) <= tolerance && std::abs(got.g - want.g) <= tolerance &&
        std::abs(got.b - want.b) <= tolerance)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure()
           << "got (" << got.r << ", " << got.g << ", " << got.b << ") want (" << want.r << ", "
           << want.g << ", " << want.b << ")";
}

// Left-handed look-at, as the camera builds its view.
inline D3DXMATRIX LookAt(D3DXVECTOR3 eye, D3DXVECTOR3 at, D3DXVECTOR3 up) {
    D3DXVECTOR3 z, x, y, t;
    t = at - eye;
    D3DXVec3Normalize(&z, &t);
    D3DXVec3Cross(&t, &up, &z);
    D3DXVec3Normalize(&x, &t);
    D3DXVec3Cross(&y, &z, &x);
    return D3DXMATRIX(x.x, y.x, z.x, 0, x.y, y.y, z.y, 0, x.z, y.z, z.z, 0, -D3DXVec3Dot(&x, &eye),
                      -D3DXVec3Dot(&y, &eye), -D3DXVec3Dot(&z, &eye), 1);
}

// A vertex with a colour, for screen-space quads (identity transforms: positions are
// normalised device coordinates).
struct ColourVertex {
    float x, y, z;
    D3DCOLOR colour;
    float u, v;
};
constexpr DWORD kColourFvf = D3DFVF_XYZ | D3DFVF_DIFFUSE | D3DFVF_TEX1;

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
        pp.SwapEffect = D3DSWAPEFFECT_DISCARD;
        pp.Windowed = TRUE;
        pp.EnableAutoDepthStencil = TRUE;
        pp.AutoDepthStencilFormat = D3DFMT_D16;
        pp.PresentationInterval = D3DPRESENT_INTERVAL_IMMEDIATE;
        IDirect3DDevice9* made = nullptr;
        ASSERT_EQ(d3d->CreateDevice(D3DADAPTER_DEFAULT, D3DDEVTYPE_HAL, window.get(),
                                    D3DCREATE_SOFTWARE_VERTEXPROCESSING, &pp, &made),
                  D3D_OK)
            << GlDeviceLastError();
        device = dynamic_cast<GlDevice*>(made);
        ASSERT_NE(device, nullptr);
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

    template <class T> T* Own(T* object) {
        owned.push_back(object);
        return object;
    }

    template <class V> IDirect3DVertexBuffer9* VertexBuffer(const std::vector<V>& vertices) {
        IDirect3DVertexBuffer9* vb = nullptr;
        const UINT bytes = static_cast<UINT>(vertices.size() * sizeof(V));
        EXPECT_EQ(device->CreateVertexBuffer(bytes, 0, 0, D3DPOOL_DEFAULT, &vb, nullptr), D3D_OK);
        void* data = nullptr;
        EXPECT_EQ(vb->Lock(0, bytes, &data, 0), D3D_OK);
        std::memcpy(data, vertices.data(), bytes);
        vb->Unlock();
        return Own(vb);
    }

    IDirect3DIndexBuffer9* IndexBuffer(const std::vector<uint32_t>& indices) {
        IDirect3DIndexBuffer9* ib = nullptr;
        const UINT bytes = static_cast<UINT>(indices.size() * 4);
        EXPECT_EQ(
            device->CreateIndexBuffer(bytes, 0, D3DFMT_INDEX32, D3DPOOL_DEFAULT, &ib, nullptr),
            D3D_OK);
        void* data = nullptr;
        EXPECT_EQ(ib->Lock(0, 0, &data, 0), D3D_OK);
        std::memcpy(data, indices.data(), bytes);
        ib->Unlock();
        return Own(ib);
    }

    // A managed one-level texture with texel(x, y) as A8R8G8B8.
    template <class F> IDirect3DTexture9* Texture(UINT w, UINT h, F texel, UINT levels = 1) {
        IDirect3DTexture9* texture = nullptr;
        EXPECT_EQ(device->CreateTexture(w, h, levels, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &texture,
                                        nullptr),
                  D3D_OK);
        for (UINT level = 0; level < texture->GetLevelCount(); ++level) {
            D3DSURFACE_DESC desc;
            texture->GetLevelDesc(level, &desc);
            D3DLOCKED_RECT locked;
            EXPECT_EQ(texture->LockRect(level, &locked, nullptr, 0), D3D_OK);
            for (UINT y = 0; y < desc.Height; ++y)
                for (UINT x = 0; x < desc.Width; ++x)
                    reinterpret_cast<uint32_t*>(static_cast<uint8_t*>(locked.pBits) +
                                                y * locked.Pitch)[x] = texel(x, y, level);
            texture->UnlockRect(level);
        }
        return Own(texture);
    }

    // A flat grid on y = 0 of side cells × spacing, centred on the origin, row 0 at +z, its
    // triangles clockwise seen from above (as the terrain lists them).
    void FlatGrid(int cells, float spacing) {
        const int side = cells + 1;
        const float half = cells * spacing * 0.5f;
        std::vector<KrTerrainVertex> vertices;
        for (int r = 0; r < side; ++r)
            for (int c = 0; c < side; ++c)
                vertices.push_back({-half + c * spacing, 0.0f, half - r * spacing, 0.0f, 1.0f, 0.0f,
                                    static_cast<float>(c) / cells, static_cast<float>(r) / cells});
        std::vector<uint32_t> indices;
        for (int r = 0; r < cells; ++r)
            for (int c = 0; c < cells; ++c) {
                const uint32_t tl = r * side + c, tr = tl + 1, bl = tl + side, br = bl + 1;
                indices.insert(indices.end(), {tl, tr, bl, tr, br, bl});
            }
        gridVertices = vertices;
        gridTriangles = static_cast<UINT>(indices.size() / 3);
        gridVb = VertexBuffer(vertices);
        gridIb = IndexBuffer(indices);
    }

    void DrawGrid() {
        device->SetStreamSource(0, gridVb, 0, sizeof(KrTerrainVertex));
        device->SetFVF(kTerrainFvf);
        device->SetIndices(gridIb);
        EXPECT_EQ(device->DrawIndexedPrimitive(D3DPT_TRIANGLELIST, 0, 0,
                                               static_cast<UINT>(gridVertices.size()), 0,
                                               gridTriangles),
                  D3D_OK);
    }

    // The program's camera set-up: π/4 perspective at the back buffer's aspect.
    void Camera(D3DXVECTOR3 eye, D3DXVECTOR3 at, D3DXVECTOR3 up) {
        view = LookAt(eye, at, up);
        D3DXMatrixPerspectiveFovLH(&projection, 3.14159265f / 4, 1280.0f / 768.0f, 10.0f,
                                   100000.0f);
        device->SetTransform(D3DTS_VIEW, &view);
        device->SetTransform(D3DTS_PROJECTION, &projection);
    }

    // Where a world point lands in the back buffer (Direct3D pixel centres are integers).
    bool Project(D3DXVECTOR3 p, int* x, int* y) const {
        D3DXMATRIX m = view * projection;
        float cx = p.x * m._11 + p.y * m._21 + p.z * m._31 + m._41;
        float cy = p.x * m._12 + p.y * m._22 + p.z * m._32 + m._42;
        float cw = p.x * m._14 + p.y * m._24 + p.z * m._34 + m._44;
        if (cw <= 0)
            return false;
        *x = static_cast<int>(std::lround((cx / cw + 1) * 0.5f * kBackWidth));
        *y = static_cast<int>(std::lround((1 - cy / cw) * 0.5f * kBackHeight));
        return *x >= 2 && *y >= 2 && *x < static_cast<int>(kBackWidth) - 2 &&
               *y < static_cast<int>(kBackHeight) - 2;
    }

    void Frame(D3DCOLOR clear = kBlue) {
        ASSERT_EQ(device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, clear, 1.0f, 0),
                  D3D_OK);
    }

    const std::vector<uint32_t>& Pixels() {
        pixels.clear();
        EXPECT_TRUE(ReadBackBuffer(device, &pixels));
        return pixels;
    }
    uint32_t At(int x, int y) const { return pixels.at(static_cast<size_t>(y) * kBackWidth + x); }
    size_t CountNot(uint32_t argb) const {
        size_t n = 0;
        for (uint32_t p : pixels)
            n += p != argb;
        return n;
    }

    // A screen-space quad from (x0, y0) to (x1, y1) in device coordinates, clockwise on screen,
    // u running right and v down.
    void Quad(float x0, float y0, float x1, float y1, D3DCOLOR colour, float z = 0.5f) {
        std::vector<ColourVertex> v = {{x0, y1, z, colour, 0, 0}, {x1, y1, z, colour, 1, 0},
                                       {x0, y0, z, colour, 0, 1}, {x1, y1, z, colour, 1, 0},
                                       {x1, y0, z, colour, 1, 1}, {x0, y0, z, colour, 0, 1}};
        device->SetStreamSource(0, VertexBuffer(v), 0, sizeof(ColourVertex));
        device->SetFVF(kColourFvf);
        EXPECT_EQ(device->DrawPrimitive(D3DPT_TRIANGLELIST, 0, 2), D3D_OK);
    }
    // The back-buffer pixel at device coordinates (x, y).
    static int PixelX(float x) { return static_cast<int>((x + 1) * 0.5f * kBackWidth); }
    static int PixelY(float y) { return static_cast<int>((1 - y) * 0.5f * kBackHeight); }

    std::unique_ptr<EglSurfacelessWindow> window;
    IDirect3D9* d3d = nullptr;
    GlDevice* device = nullptr;
    std::vector<IUnknown*> owned;
    std::vector<uint32_t> pixels;
    std::vector<KrTerrainVertex> gridVertices;
    IDirect3DVertexBuffer9* gridVb = nullptr;
    IDirect3DIndexBuffer9* gridIb = nullptr;
    UINT gridTriangles = 0;
    D3DXMATRIX view, projection;
};
