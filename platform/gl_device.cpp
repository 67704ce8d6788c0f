#include "gl_device.h"

#include "d3dx9.h"
#include "gl_reference_program.h"

#include <epoxy/gl.h>

#include <algorithm>
#include <cstring>
#include <new>

namespace {

thread_local std::string lastCreateError;

GLenum BlendFactor(DWORD b) {
    switch (b) {
    case D3DBLEND_ZERO:
        return GL_ZERO;
    case D3DBLEND_SRCCOLOR:
        return GL_SRC_COLOR;
    case D3DBLEND_INVSRCCOLOR:
        return GL_ONE_MINUS_SRC_COLOR;
    case D3DBLEND_SRCALPHA:
        return GL_SRC_ALPHA;
    case D3DBLEND_INVSRCALPHA:
        return GL_ONE_MINUS_SRC_ALPHA;
    case D3DBLEND_DESTALPHA:
        return GL_DST_ALPHA;
    case D3DBLEND_INVDESTALPHA:
        return GL_ONE_MINUS_DST_ALPHA;
    case D3DBLEND_DESTCOLOR:
        return GL_DST_COLOR;
    case D3DBLEND_INVDESTCOLOR:
        return GL_ONE_MINUS_DST_COLOR;
    default:
        return GL_ONE;
    }
}

GLenum BlendEquation(DWORD op) {
    switch (op) {
    case 2:
        return GL_FUNC_SUBTRACT;
    case 3:
        return GL_FUNC_REVERSE_SUBTRACT;
    case 4:
        return GL_MIN;
    case 5:
        return GL_MAX;
    default:
        return GL_FUNC_ADD;
    }
}

GLenum CompareFunc(DWORD f) {
    switch (f) {
    case D3DCMP_NEVER:
        return GL_NEVER;
    case D3DCMP_LESS:
        return GL_LESS;
    case D3DCMP_EQUAL:
        return GL_EQUAL;
    case D3DCMP_GREATER:
        return GL_GREATER;
    case D3DCMP_NOTEQUAL:
        return GL_NOTEQUAL;
    case D3DCMP_GREATEREQUAL:
        return GL_GEQUAL;
    case D3DCMP_ALWAYS:
        return GL_ALWAYS;
    default:
        return GL_LEQUAL;
    }
}

GLint Address(DWORD a) {
    switch (a) {
    case D3DTADDRESS_MIRROR:
        return GL_MIRRORED_REPEAT;
    case D3DTADDRESS_CLAMP:
        return GL_CLAMP_TO_EDGE;
    case D3DTADDRESS_BORDER:
        return GL_CLAMP_TO_BORDER;
    case D3DTADDRESS_WRAP:
        return GL_REPEAT;
    default:
        return GL_CLAMP_TO_EDGE;
    }
}

// GL primitive and vertex count of a Direct3D draw; false for an unknown type.
bool Primitive(D3DPRIMITIVETYPE type, UINT count, GLenum* mode, uint64_t* vertices) {
    switch (type) {
    case D3DPT_POINTLIST:
        *mode = GL_POINTS;
        *vertices = count;
        return true;
    case D3DPT_LINELIST:
        *mode = GL_LINES;
        *vertices = uint64_t{count} * 2;
        return true;
    case D3DPT_LINESTRIP:
        *mode = GL_LINE_STRIP;
        *vertices = uint64_t{count} + 1;
        return true;
    case D3DPT_TRIANGLELIST:
        *mode = GL_TRIANGLES;
        *vertices = uint64_t{count} * 3;
        return true;
    case D3DPT_TRIANGLESTRIP:
        *mode = GL_TRIANGLE_STRIP;
        *vertices = uint64_t{count} + 2;
        return true;
    case D3DPT_TRIANGLEFAN:
        *mode = GL_TRIANGLE_FAN;
        *vertices = uint64_t{count} + 2;
        return true;
    }
    return false;
}

D3DMATRIX HalfPixelShift(const D3DVIEWPORT9& vp) {
    // Direct3D 9 samples pixels at integer screen positions, OpenGL half a pixel further on:
    // moving the geometry by half a pixel makes both cover the same pixels.
    D3DMATRIX m = IdentityMatrix();
    m._41 = 1.0f / static_cast<float>(std::max<DWORD>(vp.Width, 1));
    m._42 = -1.0f / static_cast<float>(std::max<DWORD>(vp.Height, 1));
    return m;
}

// Stands for a value the context may hold but the device does not know.
constexpr unsigned kUnknown = ~0u;

} // namespace

GlDevice::GlDevice(GlSurface* surface, const D3DPRESENT_PARAMETERS& params, UINT width, UINT height)
    : link_(std::make_shared<GlLink>()), params_(params), width_(width), height_(height),
      depthBuffer_(params.EnableAutoDepthStencil != FALSE),
      referenceProgram_(new GlReferenceProgram) {
    link_->surface = surface;
    state.Reset(depthBuffer_, width_, height_);
    Forget();
}

void GlDevice::Forget() {
    applied_ = Applied{};
    for (auto& sampler : samplerApplied_)
        std::fill(std::begin(sampler), std::end(sampler), ~DWORD{0});
}

GlDevice* GlDevice::Create(HWND window, const D3DPRESENT_PARAMETERS& params, std::string* error) {
    std::string scratch;
    std::string& why = error ? *error : scratch;
    GlSurface* surface = window ? window->Surface() : nullptr;
    if (!surface) {
        why = "the window has no OpenGL surface";
        return nullptr;
    }
    // A zero back-buffer size takes the window's, as a windowed Direct3D device does.
    UINT width = params.BackBufferWidth, height = params.BackBufferHeight;
    RECT client{};
    GetClientRect(window, &client);
    if (width == 0)
        width = static_cast<UINT>(std::max<LONG>(client.right - client.left, 1));
    if (height == 0)
        height = static_cast<UINT>(std::max<LONG>(client.bottom - client.top, 1));
    auto* device = new GlDevice(surface, params, width, height);
    if (!device->Init(&why)) {
        device->Release();
        return nullptr;
    }
    return device;
}

bool GlDevice::Init(std::string* error) {
    if (!link_->MakeCurrent()) {
        *error = "the OpenGL context cannot be made current";
        return false;
    }
    if (!epoxy_is_desktop_gl() || epoxy_gl_version() < 33) {
        *error =
            "OpenGL 3.3 core is not available (version " + std::to_string(epoxy_gl_version()) + ")";
        return false;
    }
    GLint maxSide = 0;
    glGetIntegerv(GL_MAX_RENDERBUFFER_SIZE, &maxSide);
    if (width_ > static_cast<UINT>(maxSide) || height_ > static_cast<UINT>(maxSide)) {
        *error = "the back buffer is larger than OpenGL allows";
        return false;
    }
    glGenFramebuffers(1, &framebuffer_);
    glBindFramebuffer(GL_FRAMEBUFFER, framebuffer_);
    glGenRenderbuffers(1, &colour_);
    glBindRenderbuffer(GL_RENDERBUFFER, colour_);
    glRenderbufferStorage(GL_RENDERBUFFER, GL_RGBA8, static_cast<GLsizei>(width_),
                          static_cast<GLsizei>(height_));
    glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_RENDERBUFFER, colour_);
    if (depthBuffer_) {
        // Deeper than the D16 the program asks for: never worse, and every driver has it.
        glGenRenderbuffers(1, &depth_);
        glBindRenderbuffer(GL_RENDERBUFFER, depth_);
        glRenderbufferStorage(GL_RENDERBUFFER, GL_DEPTH_COMPONENT24, static_cast<GLsizei>(width_),
                              static_cast<GLsizei>(height_));
        glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_DEPTH_ATTACHMENT, GL_RENDERBUFFER, depth_);
    }
    glBindRenderbuffer(GL_RENDERBUFFER, 0);
    if (glCheckFramebufferStatus(GL_FRAMEBUFFER) != GL_FRAMEBUFFER_COMPLETE) {
        *error = "the back buffer framebuffer is not complete";
        return false;
    }
    glViewport(0, 0, static_cast<GLsizei>(width_), static_cast<GLsizei>(height_));
    glDisable(GL_SCISSOR_TEST);
    glClearColor(0, 0, 0, 1);
    glClearDepth(1.0);
    glClear(GL_COLOR_BUFFER_BIT | (depthBuffer_ ? GL_DEPTH_BUFFER_BIT : 0));

    glGenVertexArrays(1, &vertexArray_);
    // Stages without a texture read opaque white, so a missing texture leaves the lit colour.
    glGenTextures(1, &white_);
    glActiveTexture(GL_TEXTURE0);
    glBindTexture(GL_TEXTURE_2D, white_);
    const uint32_t white = 0xFFFFFFFFu;
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, 1, 1, 0, GL_BGRA, GL_UNSIGNED_INT_8_8_8_8_REV, &white);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAX_LEVEL, 0);
    glBindTexture(GL_TEXTURE_2D, 0);
    glGenSamplers(2, samplers_);
    if (!referenceProgram_->Build(error))
        return false;
    if (glGetError() != GL_NO_ERROR) {
        *error = "OpenGL refused to set up the device";
        return false;
    }
    return true;
}

GlDevice::~GlDevice() {
    // Held references go first so their GL names are deleted below with the device's own.
    if (state.streamSource)
        state.streamSource->Release();
    if (state.indices)
        state.indices->Release();
    for (auto*& texture : state.textures)
        if (texture)
            texture->Release();
    if (link_->MakeCurrent()) {
        programs_.Destroy();
        referenceProgram_->Destroy();
        glDeleteSamplers(2, samplers_);
        glDeleteTextures(1, &white_);
        glDeleteVertexArrays(1, &vertexArray_);
        glDeleteRenderbuffers(1, &colour_);
        glDeleteRenderbuffers(1, &depth_);
        glDeleteFramebuffers(1, &framebuffer_);
    }
    link_->alive = false;
}

bool GlDevice::BindTarget() {
    if (!link_->MakeCurrent())
        return false;
    glBindFramebuffer(GL_FRAMEBUFFER, framebuffer_);
    applied_.targetBound = true;
    return true;
}

HRESULT GlDevice::Clear(DWORD count, const D3DRECT* rects, DWORD flags, D3DCOLOR colour, float z,
                        DWORD) {
    if ((count > 0 && !rects) || (flags & D3DCLEAR_STENCIL) ||
        ((flags & D3DCLEAR_ZBUFFER) && !depthBuffer_))
        return D3DERR_INVALIDCALL;
    GLbitfield mask = ((flags & D3DCLEAR_TARGET) ? GL_COLOR_BUFFER_BIT : 0) |
                      ((flags & D3DCLEAR_ZBUFFER) ? GL_DEPTH_BUFFER_BIT : 0);
    if (!mask)
        return D3D_OK;
    if (!BindTarget())
        return D3DERR_INVALIDCALL;
    glColorMask(GL_TRUE, GL_TRUE, GL_TRUE, GL_TRUE);
    glDepthMask(GL_TRUE);
    applied_.depthWrite = 1;
    glClearColor(((colour >> 16) & 0xFF) / 255.0f, ((colour >> 8) & 0xFF) / 255.0f,
                 (colour & 0xFF) / 255.0f, ((colour >> 24) & 0xFF) / 255.0f);
    glClearDepth(std::clamp(z, 0.0f, 1.0f));
    glEnable(GL_SCISSOR_TEST);
    // Direct3D clears only within the viewport, and there only the given rectangles.
    const D3DVIEWPORT9& vp = state.viewport;
    const D3DRECT whole{static_cast<LONG>(vp.X), static_cast<LONG>(vp.Y),
                        static_cast<LONG>(vp.X + vp.Width), static_cast<LONG>(vp.Y + vp.Height)};
    for (DWORD i = 0; i < std::max<DWORD>(count, 1); ++i) {
        D3DRECT r = whole;
        if (count > 0) {
            r.x1 = std::max(r.x1, rects[i].x1);
            r.y1 = std::max(r.y1, rects[i].y1);
            r.x2 = std::min(r.x2, rects[i].x2);
            r.y2 = std::min(r.y2, rects[i].y2);
        }
        if (r.x1 >= r.x2 || r.y1 >= r.y2)
            continue;
        glScissor(r.x1, static_cast<GLint>(height_) - r.y2, r.x2 - r.x1, r.y2 - r.y1);
        glClear(mask);
    }
    glDisable(GL_SCISSOR_TEST);
    return D3D_OK;
}

HRESULT GlDevice::BeginScene() {
    if (inScene_)
        return D3DERR_INVALIDCALL;
    inScene_ = true;
    return D3D_OK;
}

HRESULT GlDevice::EndScene() {
    if (!inScene_)
        return D3DERR_INVALIDCALL;
    inScene_ = false;
    if (link_->MakeCurrent())
        glFlush();
    return D3D_OK;
}

HRESULT GlDevice::Present(const RECT* source, const RECT* dest, HWND, const RGNDATA*) {
    // Always presents to the device's own surface: another window's surface has another
    // context, which cannot read this back buffer.
    if (!BindTarget())
        return D3DERR_INVALIDCALL;
    GlSurface* surface = link_->surface;
    const LONG bw = static_cast<LONG>(width_), bh = static_cast<LONG>(height_);
    RECT src = source ? *source : RECT{0, 0, bw, bh};
    src.left = std::clamp<LONG>(src.left, 0, bw);
    src.right = std::clamp<LONG>(src.right, 0, bw);
    src.top = std::clamp<LONG>(src.top, 0, bh);
    src.bottom = std::clamp<LONG>(src.bottom, 0, bh);
    const LONG sh = surface->PixelHeight();
    RECT dst = dest ? *dest : RECT{0, 0, surface->PixelWidth(), sh};
    if (src.left < src.right && src.top < src.bottom && dst.left < dst.right &&
        dst.top < dst.bottom) {
        glBindFramebuffer(GL_READ_FRAMEBUFFER, framebuffer_);
        glBindFramebuffer(GL_DRAW_FRAMEBUFFER, surface->DefaultFramebuffer());
        glDisable(GL_SCISSOR_TEST);
        glColorMask(GL_TRUE, GL_TRUE, GL_TRUE, GL_TRUE);
        glBlitFramebuffer(src.left, bh - src.bottom, src.right, bh - src.top, dst.left,
                          sh - dst.bottom, dst.right, sh - dst.top, GL_COLOR_BUFFER_BIT, GL_LINEAR);
        glBindFramebuffer(GL_FRAMEBUFFER, framebuffer_);
    }
    surface->SwapBuffers();
    applied_.targetBound = false; // whatever the window system does when it swaps
    return D3D_OK;
}

bool GlDevice::ReadBack(std::vector<uint32_t>* argb) {
    if (!argb || !BindTarget())
        return false;
    std::vector<uint32_t> rows(static_cast<size_t>(width_) * height_);
    glBindFramebuffer(GL_READ_FRAMEBUFFER, framebuffer_);
    glReadBuffer(GL_COLOR_ATTACHMENT0);
    glPixelStorei(GL_PACK_ALIGNMENT, 4);
    glPixelStorei(GL_PACK_ROW_LENGTH, 0);
    glReadPixels(0, 0, static_cast<GLsizei>(width_), static_cast<GLsizei>(height_), GL_BGRA,
                 GL_UNSIGNED_INT_8_8_8_8_REV, rows.data());
    argb->resize(rows.size());
    for (UINT y = 0; y < height_; ++y) // GL keeps the bottom row first
        std::memcpy(argb->data() + static_cast<size_t>(y) * width_,
                    rows.data() + static_cast<size_t>(height_ - 1 - y) * width_, width_ * 4);
    return glGetError() == GL_NO_ERROR;
}

HRESULT GlDevice::SetRenderState(D3DRENDERSTATETYPE s, DWORD value) {
    return state.SetRenderState(s, value) ? D3D_OK : D3DERR_INVALIDCALL;
}

HRESULT GlDevice::GetRenderState(D3DRENDERSTATETYPE s, DWORD* value) {
    return state.GetRenderState(s, value) ? D3D_OK : D3DERR_INVALIDCALL;
}

HRESULT GlDevice::SetTextureStageState(DWORD stage, D3DTEXTURESTAGESTATETYPE type, DWORD value) {
    return state.SetStageState(stage, type, value) ? D3D_OK : D3DERR_INVALIDCALL;
}

HRESULT GlDevice::GetTextureStageState(DWORD stage, D3DTEXTURESTAGESTATETYPE type, DWORD* value) {
    return state.GetStageState(stage, type, value) ? D3D_OK : D3DERR_INVALIDCALL;
}

HRESULT GlDevice::SetSamplerState(DWORD sampler, D3DSAMPLERSTATETYPE type, DWORD value) {
    return state.SetSamplerState(sampler, type, value) ? D3D_OK : D3DERR_INVALIDCALL;
}

HRESULT GlDevice::GetSamplerState(DWORD sampler, D3DSAMPLERSTATETYPE type, DWORD* value) {
    return state.GetSamplerState(sampler, type, value) ? D3D_OK : D3DERR_INVALIDCALL;
}

HRESULT GlDevice::SetTransform(D3DTRANSFORMSTATETYPE s, const D3DMATRIX* matrix) {
    return state.SetTransform(s, matrix) ? D3D_OK : D3DERR_INVALIDCALL;
}

HRESULT GlDevice::GetTransform(D3DTRANSFORMSTATETYPE s, D3DMATRIX* matrix) {
    return state.GetTransform(s, matrix) ? D3D_OK : D3DERR_INVALIDCALL;
}

HRESULT GlDevice::SetLight(DWORD index, const D3DLIGHT9* light) {
    return state.SetLight(index, light) ? D3D_OK : D3DERR_INVALIDCALL;
}

HRESULT GlDevice::GetLight(DWORD index, D3DLIGHT9* light) {
    return state.GetLight(index, light) ? D3D_OK : D3DERR_INVALIDCALL;
}

HRESULT GlDevice::LightEnable(DWORD index, BOOL enable) {
    return state.LightEnable(index, enable) ? D3D_OK : D3DERR_INVALIDCALL;
}

HRESULT GlDevice::GetLightEnable(DWORD index, BOOL* enable) {
    return state.GetLightEnable(index, enable) ? D3D_OK : D3DERR_INVALIDCALL;
}

HRESULT GlDevice::SetMaterial(const D3DMATERIAL9* material) {
    if (!material)
        return D3DERR_INVALIDCALL;
    state.material = *material;
    return D3D_OK;
}

HRESULT GlDevice::GetMaterial(D3DMATERIAL9* material) {
    if (!material)
        return D3DERR_INVALIDCALL;
    *material = state.material;
    return D3D_OK;
}

HRESULT GlDevice::SetViewport(const D3DVIEWPORT9* vp) {
    if (!vp || vp->Width == 0 || vp->Height == 0 || uint64_t{vp->X} + vp->Width > width_ ||
        uint64_t{vp->Y} + vp->Height > height_ || !(vp->MinZ >= 0.0f && vp->MinZ <= 1.0f) ||
        !(vp->MaxZ >= 0.0f && vp->MaxZ <= 1.0f))
        return D3DERR_INVALIDCALL;
    state.viewport = *vp;
    return D3D_OK;
}

HRESULT GlDevice::GetViewport(D3DVIEWPORT9* vp) {
    if (!vp)
        return D3DERR_INVALIDCALL;
    *vp = state.viewport;
    return D3D_OK;
}

// The device holds a reference to what is bound, as Direct3D does, so a buffer or texture
// released by its owner while still set never leaves a dangling binding.
template <class T> static void Hold(T*& slot, T* object) {
    if (object)
        object->AddRef();
    if (slot)
        slot->Release();
    slot = object;
}

HRESULT GlDevice::SetStreamSource(UINT stream, IDirect3DVertexBuffer9* buffer, UINT offset,
                                  UINT stride) {
    auto* gl = dynamic_cast<GlVertexBuffer*>(buffer);
    if (stream != 0 || (buffer && (!gl || gl->Link() != link_.get())))
        return D3DERR_INVALIDCALL;
    Hold(state.streamSource, buffer);
    state.streamOffset = offset;
    state.streamStride = stride;
    return D3D_OK;
}

HRESULT GlDevice::SetFVF(DWORD fvf) {
    state.fvf = fvf;
    return D3D_OK;
}

HRESULT GlDevice::SetIndices(IDirect3DIndexBuffer9* indices) {
    auto* gl = dynamic_cast<GlIndexBuffer*>(indices);
    if (indices && (!gl || gl->Link() != link_.get()))
        return D3DERR_INVALIDCALL;
    Hold(state.indices, indices);
    return D3D_OK;
}

HRESULT GlDevice::SetTexture(DWORD stage, IDirect3DBaseTexture9* texture) {
    auto* gl = dynamic_cast<GlTexture*>(texture);
    if (stage >= kMaxTextureStages || (texture && (!gl || gl->Link() != link_.get())))
        return D3DERR_INVALIDCALL;
    Hold(state.textures[stage], texture);
    return D3D_OK;
}

void GlDevice::ApplySampler(DWORD stage) {
    const DWORD* s = state.samplerStates[stage];
    DWORD* applied = samplerApplied_[stage];
    if (std::equal(s, s + kSamplerStateCount, applied))
        return;
    std::copy(s, s + kSamplerStateCount, applied);
    const GLuint sampler = samplers_[stage];
    glSamplerParameteri(sampler, GL_TEXTURE_WRAP_S, Address(s[D3DSAMP_ADDRESSU]));
    glSamplerParameteri(sampler, GL_TEXTURE_WRAP_T, Address(s[D3DSAMP_ADDRESSV]));
    const DWORD border = s[D3DSAMP_BORDERCOLOR];
    const float colour[4] = {((border >> 16) & 0xFF) / 255.0f, ((border >> 8) & 0xFF) / 255.0f,
                             (border & 0xFF) / 255.0f, ((border >> 24) & 0xFF) / 255.0f};
    glSamplerParameterfv(sampler, GL_TEXTURE_BORDER_COLOR, colour);
    const bool magLinear = s[D3DSAMP_MAGFILTER] >= D3DTEXF_LINEAR;
    const bool minLinear = s[D3DSAMP_MINFILTER] >= D3DTEXF_LINEAR;
    GLint minFilter;
    switch (s[D3DSAMP_MIPFILTER]) {
    case D3DTEXF_POINT:
        minFilter = minLinear ? GL_LINEAR_MIPMAP_NEAREST : GL_NEAREST_MIPMAP_NEAREST;
        break;
    case D3DTEXF_LINEAR:
    case D3DTEXF_ANISOTROPIC:
        minFilter = minLinear ? GL_LINEAR_MIPMAP_LINEAR : GL_NEAREST_MIPMAP_LINEAR;
        break;
    default: // no mipmapping: level 0 only
        minFilter = minLinear ? GL_LINEAR : GL_NEAREST;
        break;
    }
    glSamplerParameteri(sampler, GL_TEXTURE_MIN_FILTER, minFilter);
    glSamplerParameteri(sampler, GL_TEXTURE_MAG_FILTER, magLinear ? GL_LINEAR : GL_NEAREST);
    link_->stats.stateCalls += 5;
}

// Each piece of state is sent only when it differs from what the context holds; `calls`
// counts what was sent.
void GlDevice::ApplyFixedState(const D3DVIEWPORT9& vp) {
    Applied& a = applied_;
    uint64_t& calls = link_->stats.stateCalls;
    if (!a.known) {
        // State that no draw changes: set once, and again after anything unknown.
        glBindVertexArray(vertexArray_);
        for (GLuint unit = 0; unit < 2; ++unit)
            glBindSampler(unit, samplers_[unit]);
        glDisable(GL_SCISSOR_TEST);
        glColorMask(GL_TRUE, GL_TRUE, GL_TRUE, GL_TRUE);
        glCullFace(GL_BACK);
        glLineWidth(1.0f);
        calls += 7;
        a.known = true;
    }
    if (!a.targetBound) {
        glBindFramebuffer(GL_FRAMEBUFFER, framebuffer_);
        a.targetBound = true;
        ++calls;
    }
    const int viewport[4] = {static_cast<int>(vp.X), static_cast<int>(height_ - vp.Y - vp.Height),
                             static_cast<int>(vp.Width), static_cast<int>(vp.Height)};
    if (!std::equal(viewport, viewport + 4, a.viewport)) {
        glViewport(viewport[0], viewport[1], viewport[2], viewport[3]);
        std::copy(viewport, viewport + 4, a.viewport);
        ++calls;
    }
    if (a.depthRange[0] != vp.MinZ || a.depthRange[1] != vp.MaxZ) {
        glDepthRange(vp.MinZ, vp.MaxZ);
        a.depthRange[0] = vp.MinZ;
        a.depthRange[1] = vp.MaxZ;
        ++calls;
    }

    // Direct3D names the winding to cull as seen on screen; GL names the front face.
    DWORD cull = state.Rs(D3DRS_CULLMODE);
    if (cull != D3DCULL_NONE && cull != D3DCULL_CW)
        cull = D3DCULL_CCW;
    if (cull != a.cull) {
        if (cull == D3DCULL_NONE) {
            glDisable(GL_CULL_FACE);
        } else {
            if (a.cull == D3DCULL_NONE || a.cull == kUnknown) {
                glEnable(GL_CULL_FACE);
                ++calls;
            }
            glFrontFace(cull == D3DCULL_CW ? GL_CCW : GL_CW);
        }
        a.cull = cull;
        ++calls;
    }
    DWORD fill = state.Rs(D3DRS_FILLMODE);
    if (fill != D3DFILL_POINT && fill != D3DFILL_WIREFRAME)
        fill = D3DFILL_SOLID;
    if (fill != a.fill) {
        glPolygonMode(GL_FRONT_AND_BACK, fill == D3DFILL_POINT       ? GL_POINT
                                         : fill == D3DFILL_WIREFRAME ? GL_LINE
                                                                     : GL_FILL);
        a.fill = fill;
        ++calls;
    }
    float pointSize;
    const DWORD pointBits = state.Rs(D3DRS_POINTSIZE);
    std::memcpy(&pointSize, &pointBits, 4);
    if (!(pointSize >= 1.0f && pointSize <= 64.0f))
        pointSize = 1.0f;
    if (pointSize != a.pointSize) {
        glPointSize(pointSize);
        a.pointSize = pointSize;
        ++calls;
    }

    const DWORD depthTest = depthBuffer_ && state.Rs(D3DRS_ZENABLE) != D3DZB_FALSE;
    if (depthTest != a.depthTest) {
        if (depthTest)
            glEnable(GL_DEPTH_TEST);
        else
            glDisable(GL_DEPTH_TEST);
        a.depthTest = depthTest;
        ++calls;
    }
    if (depthTest) {
        const DWORD func = CompareFunc(state.Rs(D3DRS_ZFUNC));
        if (func != a.depthFunc) {
            glDepthFunc(func);
            a.depthFunc = func;
            ++calls;
        }
        const DWORD write = state.Rs(D3DRS_ZWRITEENABLE) ? 1 : 0;
        if (write != a.depthWrite) {
            glDepthMask(write ? GL_TRUE : GL_FALSE);
            a.depthWrite = write;
            ++calls;
        }
    }
    const DWORD blend = state.Rs(D3DRS_ALPHABLENDENABLE) ? 1 : 0;
    if (blend != a.blend) {
        if (blend)
            glEnable(GL_BLEND);
        else
            glDisable(GL_BLEND);
        a.blend = blend;
        ++calls;
    }
    if (blend) {
        const DWORD source = BlendFactor(state.Rs(D3DRS_SRCBLEND)),
                    dest = BlendFactor(state.Rs(D3DRS_DESTBLEND)),
                    equation = BlendEquation(state.Rs(D3DRS_BLENDOP));
        if (source != a.blendSource || dest != a.blendDest) {
            glBlendFunc(source, dest);
            a.blendSource = source;
            a.blendDest = dest;
            ++calls;
        }
        if (equation != a.blendEquation) {
            glBlendEquation(equation);
            a.blendEquation = equation;
            ++calls;
        }
    }
}

void GlDevice::ApplyProgram(const D3DVIEWPORT9& vp) {
    // The projection carries the half-pixel shift; the state itself keeps the caller's.
    DeviceState& s = state;
    const D3DMATRIX projection = s.transforms[D3DTS_PROJECTION];
    D3DXMATRIX shifted = D3DXMATRIX(projection) * D3DXMATRIX(HalfPixelShift(vp));
    s.transforms[D3DTS_PROJECTION] = shifted;
    GlProgram* program = nullptr;
    if (!reference_) {
        DescribeDraw(s, s.fvf, &key_, &uniforms_);
        std::string error;
        const uint64_t builds = programs_.Builds();
        program = programs_.Get(key_, &error);
        if (programs_.Builds() != builds) // building binds the new program, or may reuse a name
            applied_.program = kUnknown;
    }
    if (!program) {
        // The reference program draws what no program of its own could be built for. It
        // samples both stages.
        key_.sampled = 3;
        referenceProgram_->Apply(s, s.fvf);
        s.transforms[D3DTS_PROJECTION] = projection;
        applied_.program = referenceProgram_->Name();
        link_->stats.stateCalls += 33; // the program and all its uniforms
        link_->stats.uniformCalls += 32;
        return;
    }
    s.transforms[D3DTS_PROJECTION] = projection;
    if (program->Name() != applied_.program) {
        glUseProgram(program->Name());
        applied_.program = program->Name();
        ++link_->stats.stateCalls;
    }
    const int sent = program->Send(uniforms_);
    link_->stats.stateCalls += sent;
    link_->stats.uniformCalls += sent;
}

void GlDevice::ApplyTextures() {
    for (DWORD stage = 0; stage < 2; ++stage) {
        // A stage the program does not read keeps whatever is bound.
        if (!(key_.sampled & (1u << stage)))
            continue;
        auto* texture = static_cast<GlTexture*>(state.textures[stage]);
        const unsigned name = texture ? texture->Name() : white_;
        if (name != applied_.textures[stage]) {
            glActiveTexture(GL_TEXTURE0 + stage);
            glBindTexture(GL_TEXTURE_2D, name);
            applied_.textures[stage] = name;
            link_->stats.stateCalls += 2;
        }
        ApplySampler(stage);
    }
}

void GlDevice::ApplyVertexLayout(unsigned buffer) {
    const DWORD fvf = state.fvf;
    const UINT stride = state.streamStride ? state.streamStride : FvfStride(fvf);
    Applied& a = applied_;
    if (buffer == a.vertexBuffer && stride == a.stride && state.streamOffset == a.offset &&
        fvf == a.fvf)
        return;
    a.vertexBuffer = buffer;
    a.stride = stride;
    a.offset = state.streamOffset;
    a.fvf = fvf;
    link_->stats.stateCalls += 9;
    glBindBuffer(GL_ARRAY_BUFFER, buffer);
    const auto glStride = static_cast<GLsizei>(stride);
    uintptr_t at = state.streamOffset;
    glEnableVertexAttribArray(0);
    glVertexAttribPointer(0, 3, GL_FLOAT, GL_FALSE, glStride, reinterpret_cast<void*>(at));
    at += 12;
    if (fvf & D3DFVF_NORMAL) {
        glEnableVertexAttribArray(1);
        glVertexAttribPointer(1, 3, GL_FLOAT, GL_FALSE, glStride, reinterpret_cast<void*>(at));
        at += 12;
    } else {
        glDisableVertexAttribArray(1);
        glVertexAttrib3f(1, 0.0f, 0.0f, 0.0f);
    }
    if (fvf & D3DFVF_DIFFUSE) {
        glEnableVertexAttribArray(2);
        glVertexAttribPointer(2, GL_BGRA, GL_UNSIGNED_BYTE, GL_TRUE, glStride,
                              reinterpret_cast<void*>(at));
        at += 4;
    } else {
        glDisableVertexAttribArray(2);
        glVertexAttrib4f(2, 1.0f, 1.0f, 1.0f, 1.0f);
    }
    if (fvf & D3DFVF_TEX1) {
        glEnableVertexAttribArray(3);
        glVertexAttribPointer(3, 2, GL_FLOAT, GL_FALSE, glStride, reinterpret_cast<void*>(at));
    } else {
        glDisableVertexAttribArray(3);
        glVertexAttrib2f(3, 0.0f, 0.0f);
    }
}

bool GlDevice::PrepareDraw() {
    auto* vb = static_cast<GlVertexBuffer*>(state.streamSource);
    // A mapped buffer cannot be drawn from.
    if (!vb || vb->Locked() || (state.fvf & 0x00E) != D3DFVF_XYZ || !link_->MakeCurrent())
        return false;
    if (reference_) {
        Forget();
    } else if (applied_.deletions != link_->deletions) {
        // A name bound before may now be another object's.
        applied_.textures[0] = applied_.textures[1] = kUnknown;
        applied_.vertexBuffer = applied_.elementBuffer = kUnknown;
    }
    applied_.deletions = link_->deletions;
    const D3DVIEWPORT9& vp = state.viewport;
    ApplyFixedState(vp);
    ApplyProgram(vp);
    ApplyTextures();
    ApplyVertexLayout(vb->Name());
    return true;
}

HRESULT GlDevice::DrawPrimitive(D3DPRIMITIVETYPE type, UINT startVertex, UINT primitiveCount) {
    GLenum mode;
    uint64_t vertices;
    if (!Primitive(type, primitiveCount, &mode, &vertices))
        return D3DERR_INVALIDCALL;
    if (primitiveCount == 0)
        return D3D_OK;
    auto* vb = static_cast<GlVertexBuffer*>(state.streamSource);
    const uint64_t stride = state.streamStride ? state.streamStride : FvfStride(state.fvf);
    // Never let GL read past the buffer.
    if (!vb || uint64_t{state.streamOffset} + (uint64_t{startVertex} + vertices - 1) * stride +
                       FvfStride(state.fvf) >
                   vb->Size())
        return D3DERR_INVALIDCALL;
    if (!PrepareDraw())
        return D3DERR_INVALIDCALL;
    glDrawArrays(mode, static_cast<GLint>(startVertex), static_cast<GLsizei>(vertices));
    ++link_->stats.draws;
    return D3D_OK;
}

HRESULT GlDevice::DrawIndexedPrimitive(D3DPRIMITIVETYPE type, INT baseVertex, UINT, UINT,
                                       UINT startIndex, UINT primitiveCount) {
    GLenum mode;
    uint64_t count;
    if (!Primitive(type, primitiveCount, &mode, &count))
        return D3DERR_INVALIDCALL;
    if (primitiveCount == 0)
        return D3D_OK;
    auto* ib = static_cast<GlIndexBuffer*>(state.indices);
    if (!ib)
        return D3DERR_INVALIDCALL;
    const bool wide = ib->Description().Format == D3DFMT_INDEX32;
    const uint64_t indexSize = wide ? 4 : 2;
    const uint64_t first = uint64_t{startIndex} * indexSize, end = first + count * indexSize;
    if (end > ib->Size() || !PrepareDraw())
        return D3DERR_INVALIDCALL;
    // Only the indices this draw reads go to GL.
    if (!ib->Prepare(static_cast<UINT>(first), static_cast<UINT>(end)))
        return D3DERR_OUTOFVIDEOMEMORY;
    if (ib->Name() != applied_.elementBuffer) {
        glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, ib->Name());
        applied_.elementBuffer = ib->Name();
        ++link_->stats.stateCalls;
    }
    glDrawElementsBaseVertex(
        mode, static_cast<GLsizei>(count), wide ? GL_UNSIGNED_INT : GL_UNSIGNED_SHORT,
        reinterpret_cast<void*>(uintptr_t{startIndex} * indexSize), baseVertex);
    ++link_->stats.draws;
    return D3D_OK;
}

HRESULT GlDevice::CreateVertexBuffer(UINT length, DWORD usage, DWORD fvf, D3DPOOL pool,
                                     IDirect3DVertexBuffer9** buffer, HANDLE*) {
    if (!buffer)
        return D3DERR_INVALIDCALL;
    *buffer = nullptr;
    if (length == 0)
        return D3DERR_INVALIDCALL;
    try {
        *buffer = GlVertexBuffer::Create(
            link_, D3DVERTEXBUFFER_DESC{D3DFMT_UNKNOWN, usage, pool, length, fvf});
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    return *buffer ? D3D_OK : D3DERR_OUTOFVIDEOMEMORY;
}

HRESULT GlDevice::CreateIndexBuffer(UINT length, DWORD usage, D3DFORMAT format, D3DPOOL pool,
                                    IDirect3DIndexBuffer9** buffer, HANDLE*) {
    if (!buffer)
        return D3DERR_INVALIDCALL;
    *buffer = nullptr;
    if (length == 0 || (format != D3DFMT_INDEX16 && format != D3DFMT_INDEX32))
        return D3DERR_INVALIDCALL;
    try {
        *buffer = GlIndexBuffer::Create(link_, D3DINDEXBUFFER_DESC{format, usage, pool, length});
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    return *buffer ? D3D_OK : E_OUTOFMEMORY;
}

HRESULT GlDevice::CreateTexture(UINT width, UINT height, UINT levels, DWORD usage, D3DFORMAT format,
                                D3DPOOL pool, IDirect3DTexture9** texture, HANDLE*) {
    if (!texture)
        return D3DERR_INVALIDCALL;
    *texture = nullptr;
    if (width == 0 || height == 0 || (format != D3DFMT_A8R8G8B8 && format != D3DFMT_X8R8G8B8))
        return D3DERR_INVALIDCALL;
    try {
        *texture = GlTexture::Create(link_, width, height, levels, usage, format, pool);
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    return *texture ? D3D_OK : D3DERR_OUTOFVIDEOMEMORY;
}

IDirect3DDevice9* CreateGlDevice(HWND window, const D3DPRESENT_PARAMETERS& params) {
    lastCreateError.clear();
    return GlDevice::Create(window, params, &lastCreateError);
}

void RegisterGlDevice() {
    SetGlDeviceFactory(&CreateGlDevice);
}

const char* GlDeviceLastError() {
    return lastCreateError.c_str();
}

bool ReadBackBuffer(IDirect3DDevice9* device, std::vector<uint32_t>* argb, UINT* width,
                    UINT* height) {
    auto* gl = dynamic_cast<GlDevice*>(device);
    if (!gl || !gl->ReadBack(argb))
        return false;
    if (width)
        *width = gl->BackBufferWidth();
    if (height)
        *height = gl->BackBufferHeight();
    return true;
}
