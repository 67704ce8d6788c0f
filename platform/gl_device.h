// GlDevice: the Direct3D 9 device of the engine on OpenGL 3.3 core. It draws into a fixed-size
// back buffer (a framebuffer object) on whatever GL surface the window offers and emulates the
// fixed-function pipeline the engine relies on; Present scales the back buffer to the window.
// Each draw runs a program written for its states and sends only the GL state that differs
// from what the context already holds.
#pragma once

#include "d3d9.h"
#include "device_state.h"
#include "gl_program.h"
#include "gl_resources.h"
#include "memory_device.h" // RefCounted

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class GlReferenceProgram;

class GlDevice final : public RefCounted<IDirect3DDevice9> {
public:
    // Null when the window has no surface or OpenGL 3.3 core cannot be used on it; *error
    // then says why.
    static GlDevice* Create(HWND window, const D3DPRESENT_PARAMETERS& params,
                            std::string* error = nullptr);
    ~GlDevice() override;

    HRESULT Clear(DWORD count, const D3DRECT* rects, DWORD flags, D3DCOLOR colour, float z,
                  DWORD stencil) override;
    HRESULT BeginScene() override;
    HRESULT EndScene() override;
    HRESULT Present(const RECT* source, const RECT* dest, HWND window,
                    const RGNDATA* dirty) override;
    HRESULT SetRenderState(D3DRENDERSTATETYPE state, DWORD value) override;
    HRESULT GetRenderState(D3DRENDERSTATETYPE state, DWORD* value) override;
    HRESULT SetTextureStageState(DWORD stage, D3DTEXTURESTAGESTATETYPE type, DWORD value) override;
    HRESULT GetTextureStageState(DWORD stage, D3DTEXTURESTAGESTATETYPE type, DWORD* value) override;
    HRESULT SetSamplerState(DWORD sampler, D3DSAMPLERSTATETYPE type, DWORD value) override;
    HRESULT GetSamplerState(DWORD sampler, D3DSAMPLERSTATETYPE type, DWORD* value) override;
    HRESULT SetTransform(D3DTRANSFORMSTATETYPE state, const D3DMATRIX* matrix) override;
    HRESULT GetTransform(D3DTRANSFORMSTATETYPE state, D3DMATRIX* matrix) override;
    HRESULT SetLight(DWORD index, const D3DLIGHT9* light) override;
    HRESULT GetLight(DWORD index, D3DLIGHT9* light) override;
    HRESULT LightEnable(DWORD index, BOOL enable) override;
    HRESULT GetLightEnable(DWORD index, BOOL* enable) override;
    HRESULT SetMaterial(const D3DMATERIAL9* material) override;
    HRESULT GetMaterial(D3DMATERIAL9* material) override;
    HRESULT SetViewport(const D3DVIEWPORT9* viewport) override;
    HRESULT GetViewport(D3DVIEWPORT9* viewport) override;
    HRESULT SetStreamSource(UINT stream, IDirect3DVertexBuffer9* buffer, UINT offset,
                            UINT stride) override;
    HRESULT SetFVF(DWORD fvf) override;
    HRESULT SetIndices(IDirect3DIndexBuffer9* indices) override;
    HRESULT SetTexture(DWORD stage, IDirect3DBaseTexture9* texture) override;
    HRESULT DrawPrimitive(D3DPRIMITIVETYPE type, UINT startVertex, UINT primitiveCount) override;
    HRESULT DrawIndexedPrimitive(D3DPRIMITIVETYPE type, INT baseVertex, UINT minIndex,
                                 UINT numVertices, UINT startIndex, UINT primitiveCount) override;
    HRESULT CreateVertexBuffer(UINT length, DWORD usage, DWORD fvf, D3DPOOL pool,
                               IDirect3DVertexBuffer9** buffer, HANDLE* shared) override;
    HRESULT CreateIndexBuffer(UINT length, DWORD usage, D3DFORMAT format, D3DPOOL pool,
                              IDirect3DIndexBuffer9** buffer, HANDLE* shared) override;
    HRESULT CreateTexture(UINT width, UINT height, UINT levels, DWORD usage, D3DFORMAT format,
                          D3DPOOL pool, IDirect3DTexture9** texture, HANDLE* shared) override;

    // The back buffer's pixels as A8R8G8B8 words, top row first.
    bool ReadBack(std::vector<uint32_t>* argb);
    UINT BackBufferWidth() const { return width_; }
    UINT BackBufferHeight() const { return height_; }
    const GlDeviceStats& Stats() const { return link_->stats; }
    // Programs built for state combinations so far, and how many are kept now.
    uint64_t ProgramsBuilt() const { return programs_.Builds(); }
    size_t ProgramsKept() const { return programs_.Size(); }
    // Draws with the one program for every state, sending every state and uniform before each
    // draw, as the device first did: the pictures the fast path must reproduce.
    void SetReferencePipeline(bool on) { reference_ = on; }

    DeviceState state; // read-only for callers: set states through the device

private:
    GlDevice(GlSurface* surface, const D3DPRESENT_PARAMETERS& params, UINT width, UINT height);
    bool Init(std::string* error);
    bool BindTarget();
    // Sets the GL pipeline from the device state for a draw; false when nothing can be drawn.
    bool PrepareDraw();
    void ApplyFixedState(const D3DVIEWPORT9& vp);
    void ApplyProgram(const D3DVIEWPORT9& vp);
    void ApplyTextures();
    void ApplySampler(DWORD stage);
    void ApplyVertexLayout(unsigned buffer);

    // What the context holds of the state the draws set, as last sent; ~0 (or a float no
    // state takes) where it is unknown, so that the next draw sends it.
    struct Applied {
        bool known = false; // the state no draw changes, set once
        bool targetBound = false;
        int viewport[4] = {-1, -1, -1, -1};
        float depthRange[2] = {-1, -1};
        DWORD cull = ~0u, fill = ~0u;
        float pointSize = -1;
        DWORD depthTest = ~0u, depthWrite = ~0u, depthFunc = ~0u;
        DWORD blend = ~0u, blendSource = ~0u, blendDest = ~0u, blendEquation = ~0u;
        unsigned program = ~0u;
        unsigned textures[2] = {~0u, ~0u};
        unsigned vertexBuffer = ~0u, elementBuffer = ~0u;
        UINT stride = ~0u, offset = ~0u;
        DWORD fvf = ~0u;
        uint64_t deletions = 0; // the link's count when the names above were bound
    };
    void Forget();

    std::shared_ptr<GlLink> link_;
    D3DPRESENT_PARAMETERS params_;
    UINT width_, height_;
    bool depthBuffer_;
    bool inScene_ = false;
    bool reference_ = false;
    unsigned framebuffer_ = 0, colour_ = 0, depth_ = 0, vertexArray_ = 0, white_ = 0;
    unsigned samplers_[2] = {};
    DWORD samplerApplied_[2][kSamplerStateCount] = {};
    Applied applied_;
    GlProgramKey key_;
    GlUniforms uniforms_{};
    GlProgramCache programs_;
    std::unique_ptr<GlReferenceProgram> referenceProgram_;
};

// The factory behind IDirect3D9::CreateDevice for windows with a GL surface.
IDirect3DDevice9* CreateGlDevice(HWND window, const D3DPRESENT_PARAMETERS& params);
// Offers CreateGlDevice through SetGlDeviceFactory; call once at start-up.
void RegisterGlDevice();
// Why the last CreateGlDevice on this thread returned null.
const char* GlDeviceLastError();
// Copies a GL device's back buffer as A8R8G8B8 words, top row first; false for any other
// device. width and height (if given) receive the back buffer's size.
bool ReadBackBuffer(IDirect3DDevice9* device, std::vector<uint32_t>* argb, UINT* width = nullptr,
                    UINT* height = nullptr);
