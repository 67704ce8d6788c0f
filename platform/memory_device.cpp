#include "memory_device.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>

DeviceBytes::DeviceBytes(size_t size)
    : bytes_(static_cast<uint8_t*>(std::calloc(size ? size : 1, 1))), size_(bytes_ ? size : 0) {}

DeviceBytes::DeviceBytes(const DeviceBytes& other) : DeviceBytes(other.size_) {
    if (size_ != other.size_)
        throw std::bad_alloc();
    std::memcpy(bytes_, other.bytes_, size_);
}

DeviceBytes& DeviceBytes::operator=(const DeviceBytes& other) {
    if (this != &other) {
        DeviceBytes copy(other);
        std::swap(bytes_, copy.bytes_);
        std::swap(size_, copy.size_);
    }
    return *this;
}

DeviceBytes::~DeviceBytes() {
    std::free(bytes_);
}

bool DeviceBytes::operator==(const DeviceBytes& other) const {
    return size_ == other.size_ && std::memcmp(bytes_, other.bytes_, size_) == 0;
}

bool DeviceFailures::Trip(bool& flag, int& after) {
    if (after > 0) {
        --after;
        return false;
    }
    if (after == 0) {
        after = -1;
        flag = true;
    }
    return flag;
}

namespace {
bool TripPlain(bool flag) {
    return flag;
}

HRESULT LockRange(DeviceBytes& data, bool& locked, int& count, UINT& lastOffset, UINT& lastSize,
                  bool fail, UINT offset, UINT size, void** out) {
    if (!out || fail || locked)
        return D3DERR_INVALIDCALL;
    if (size == 0)
        size = static_cast<UINT>(data.size()) - std::min<UINT>(offset, data.size());
    if (offset > data.size() || size > data.size() - offset)
        return D3DERR_INVALIDCALL;
    *out = data.data() + offset;
    locked = true;
    ++count;
    lastOffset = offset;
    lastSize = size;
    return D3D_OK;
}
} // namespace

MemoryVertexBuffer::MemoryVertexBuffer(UINT length, DWORD usage, DWORD fvf, D3DPOOL pool,
                                       std::shared_ptr<DeviceFailures> failures)
    : data(length), failures_(std::move(failures)) {
    desc = D3DVERTEXBUFFER_DESC{D3DFMT_UNKNOWN, usage, pool, length, fvf};
}

HRESULT MemoryVertexBuffer::Lock(UINT offset, UINT size, void** out, DWORD) {
    return LockRange(data, locked, lockCount, lastLockOffset, lastLockSize,
                     TripPlain(failures_->lockBuffer), offset, size, out);
}

HRESULT MemoryVertexBuffer::Unlock() {
    if (!locked)
        return D3DERR_INVALIDCALL;
    locked = false;
    return D3D_OK;
}

HRESULT MemoryVertexBuffer::GetDesc(D3DVERTEXBUFFER_DESC* out) {
    if (!out)
        return D3DERR_INVALIDCALL;
    *out = desc;
    return D3D_OK;
}

MemoryIndexBuffer::MemoryIndexBuffer(UINT length, DWORD usage, D3DFORMAT format, D3DPOOL pool,
                                     std::shared_ptr<DeviceFailures> failures)
    : data(length), failures_(std::move(failures)) {
    desc = D3DINDEXBUFFER_DESC{format, usage, pool, length};
}

HRESULT MemoryIndexBuffer::Lock(UINT offset, UINT size, void** out, DWORD) {
    return LockRange(data, locked, lockCount, lastLockOffset, lastLockSize,
                     TripPlain(failures_->lockBuffer), offset, size, out);
}

HRESULT MemoryIndexBuffer::Unlock() {
    if (!locked)
        return D3DERR_INVALIDCALL;
    locked = false;
    return D3D_OK;
}

HRESULT MemoryIndexBuffer::GetDesc(D3DINDEXBUFFER_DESC* out) {
    if (!out)
        return D3DERR_INVALIDCALL;
    *out = desc;
    return D3D_OK;
}

MemoryTexture::MemoryTexture(UINT width, UINT height, UINT levelCount, DWORD usage_,
                             D3DFORMAT format_, D3DPOOL pool_,
                             std::shared_ptr<DeviceFailures> failures)
    : format(format_), pool(pool_), usage(usage_), failures_(std::move(failures)) {
    UINT w = width, h = height;
    for (UINT i = 0; levelCount == 0 || i < levelCount; ++i) {
        Level l;
        l.width = w;
        l.height = h;
        l.pitch = static_cast<INT>(w * 4);
        l.bits.assign(static_cast<size_t>(w) * h * 4, 0);
        levels.push_back(std::move(l));
        if (w == 1 && h == 1)
            break;
        w = std::max<UINT>(1, w / 2);
        h = std::max<UINT>(1, h / 2);
    }
}

HRESULT MemoryTexture::GetLevelDesc(UINT level, D3DSURFACE_DESC* desc) {
    if (!desc || level >= levels.size())
        return D3DERR_INVALIDCALL;
    *desc = D3DSURFACE_DESC{format, usage, pool, levels[level].width, levels[level].height};
    return D3D_OK;
}

HRESULT MemoryTexture::LockRect(UINT level, D3DLOCKED_RECT* out, const RECT* rect, DWORD) {
    if (!out || level >= levels.size() || failures_->lockRect)
        return D3DERR_INVALIDCALL;
    Level& l = levels[level];
    if (l.locked)
        return D3DERR_INVALIDCALL;
    RECT r = rect ? *rect : RECT{0, 0, static_cast<LONG>(l.width), static_cast<LONG>(l.height)};
    if (r.left < 0 || r.top < 0 || r.right > static_cast<LONG>(l.width) ||
        r.bottom > static_cast<LONG>(l.height) || r.left >= r.right || r.top >= r.bottom)
        return D3DERR_INVALIDCALL;
    l.locked = true;
    l.lastLock = r;
    out->Pitch = l.pitch;
    out->pBits = l.bits.data() + static_cast<size_t>(r.top) * l.pitch + 4 * r.left;
    return D3D_OK;
}

HRESULT MemoryTexture::UnlockRect(UINT level) {
    if (level >= levels.size() || !levels[level].locked)
        return D3DERR_INVALIDCALL;
    levels[level].locked = false;
    return failures_->unlockRect ? D3DERR_INVALIDCALL : D3D_OK;
}

uint32_t MemoryTexture::Texel(UINT level, UINT x, UINT y) const {
    const Level& l = levels.at(level);
    uint32_t v;
    std::memcpy(&v, l.bits.data() + static_cast<size_t>(y) * l.pitch + 4 * x, 4);
    return v;
}

MemoryDevice::MemoryDevice(const D3DPRESENT_PARAMETERS* p) {
    if (p)
        params = *p;
    else {
        params.BackBufferWidth = 1280;
        params.BackBufferHeight = 768;
        params.EnableAutoDepthStencil = TRUE;
    }
    state.Reset(params.EnableAutoDepthStencil != FALSE, params.BackBufferWidth,
                params.BackBufferHeight);
}

DeviceCall& MemoryDevice::Record(DeviceOp op, std::initializer_list<DWORD> args,
                                 const void* object) {
    DeviceCall& c = recording ? log.emplace_back() : scratch_;
    c = DeviceCall{};
    c.op = op;
    std::copy(args.begin(), args.end(), c.args);
    c.object = object;
    return c;
}

std::vector<DeviceCall> MemoryDevice::Calls(DeviceOp op) const {
    std::vector<DeviceCall> out;
    for (const auto& c : log)
        if (c.op == op)
            out.push_back(c);
    return out;
}

HRESULT MemoryDevice::Clear(DWORD count, const D3DRECT*, DWORD flags, D3DCOLOR colour, float z,
                            DWORD stencil) {
    DWORD zBits;
    std::memcpy(&zBits, &z, 4);
    Record(DeviceOp::Clear, {count, flags, colour, zBits, stencil});
    lastClearColour = colour;
    return D3D_OK;
}

HRESULT MemoryDevice::BeginScene() {
    if (inScene)
        return D3DERR_INVALIDCALL;
    inScene = true;
    Record(DeviceOp::BeginScene, {});
    return D3D_OK;
}

HRESULT MemoryDevice::EndScene() {
    if (!inScene)
        return D3DERR_INVALIDCALL;
    inScene = false;
    Record(DeviceOp::EndScene, {});
    return D3D_OK;
}

HRESULT MemoryDevice::Present(const RECT*, const RECT*, HWND window, const RGNDATA*) {
    Record(DeviceOp::Present, {}, window);
    ++presents;
    return D3D_OK;
}

HRESULT MemoryDevice::SetRenderState(D3DRENDERSTATETYPE s, DWORD value) {
    Record(DeviceOp::SetRenderState, {s, value});
    return state.SetRenderState(s, value) ? D3D_OK : D3DERR_INVALIDCALL;
}

HRESULT MemoryDevice::GetRenderState(D3DRENDERSTATETYPE s, DWORD* value) {
    return state.GetRenderState(s, value) ? D3D_OK : D3DERR_INVALIDCALL;
}

HRESULT MemoryDevice::SetTextureStageState(DWORD stage, D3DTEXTURESTAGESTATETYPE type,
                                           DWORD value) {
    Record(DeviceOp::SetTextureStageState, {stage, type, value});
    return state.SetStageState(stage, type, value) ? D3D_OK : D3DERR_INVALIDCALL;
}

HRESULT MemoryDevice::GetTextureStageState(DWORD stage, D3DTEXTURESTAGESTATETYPE type,
                                           DWORD* value) {
    return state.GetStageState(stage, type, value) ? D3D_OK : D3DERR_INVALIDCALL;
}

HRESULT MemoryDevice::SetSamplerState(DWORD sampler, D3DSAMPLERSTATETYPE type, DWORD value) {
    Record(DeviceOp::SetSamplerState, {sampler, type, value});
    return state.SetSamplerState(sampler, type, value) ? D3D_OK : D3DERR_INVALIDCALL;
}

HRESULT MemoryDevice::GetSamplerState(DWORD sampler, D3DSAMPLERSTATETYPE type, DWORD* value) {
    return state.GetSamplerState(sampler, type, value) ? D3D_OK : D3DERR_INVALIDCALL;
}

HRESULT MemoryDevice::SetTransform(D3DTRANSFORMSTATETYPE s, const D3DMATRIX* matrix) {
    DeviceCall& c = Record(DeviceOp::SetTransform, {s});
    if (matrix)
        c.matrix = *matrix;
    return state.SetTransform(s, matrix) ? D3D_OK : D3DERR_INVALIDCALL;
}

HRESULT MemoryDevice::GetTransform(D3DTRANSFORMSTATETYPE s, D3DMATRIX* matrix) {
    return state.GetTransform(s, matrix) ? D3D_OK : D3DERR_INVALIDCALL;
}

HRESULT MemoryDevice::SetLight(DWORD index, const D3DLIGHT9* light) {
    Record(DeviceOp::SetLight, {index});
    return state.SetLight(index, light) ? D3D_OK : D3DERR_INVALIDCALL;
}

HRESULT MemoryDevice::GetLight(DWORD index, D3DLIGHT9* light) {
    return state.GetLight(index, light) ? D3D_OK : D3DERR_INVALIDCALL;
}

HRESULT MemoryDevice::LightEnable(DWORD index, BOOL enable) {
    Record(DeviceOp::LightEnable, {index, static_cast<DWORD>(enable)});
    return state.LightEnable(index, enable) ? D3D_OK : D3DERR_INVALIDCALL;
}

HRESULT MemoryDevice::GetLightEnable(DWORD index, BOOL* enable) {
    return state.GetLightEnable(index, enable) ? D3D_OK : D3DERR_INVALIDCALL;
}

HRESULT MemoryDevice::SetMaterial(const D3DMATERIAL9* material) {
    if (!material)
        return D3DERR_INVALIDCALL;
    Record(DeviceOp::SetMaterial, {}).material = *material;
    state.material = *material;
    return D3D_OK;
}

HRESULT MemoryDevice::GetMaterial(D3DMATERIAL9* material) {
    if (!material)
        return D3DERR_INVALIDCALL;
    *material = state.material;
    return D3D_OK;
}

HRESULT MemoryDevice::SetViewport(const D3DVIEWPORT9* viewport) {
    if (!viewport)
        return D3DERR_INVALIDCALL;
    Record(DeviceOp::SetViewport, {viewport->X, viewport->Y, viewport->Width, viewport->Height});
    state.viewport = *viewport;
    return D3D_OK;
}

HRESULT MemoryDevice::GetViewport(D3DVIEWPORT9* viewport) {
    if (!viewport)
        return D3DERR_INVALIDCALL;
    *viewport = state.viewport;
    return D3D_OK;
}

HRESULT MemoryDevice::SetStreamSource(UINT stream, IDirect3DVertexBuffer9* buffer, UINT offset,
                                      UINT stride) {
    Record(DeviceOp::SetStreamSource, {stream, offset, stride}, buffer);
    if (stream != 0)
        return D3DERR_INVALIDCALL;
    state.streamSource = buffer;
    state.streamOffset = offset;
    state.streamStride = stride;
    return D3D_OK;
}

HRESULT MemoryDevice::SetFVF(DWORD fvf) {
    Record(DeviceOp::SetFVF, {fvf});
    state.fvf = fvf;
    return D3D_OK;
}

HRESULT MemoryDevice::SetIndices(IDirect3DIndexBuffer9* indices) {
    Record(DeviceOp::SetIndices, {}, indices);
    state.indices = indices;
    return D3D_OK;
}

HRESULT MemoryDevice::SetTexture(DWORD stage, IDirect3DBaseTexture9* texture) {
    Record(DeviceOp::SetTexture, {stage}, texture);
    if (stage >= kMaxTextureStages)
        return D3DERR_INVALIDCALL;
    state.textures[stage] = texture;
    return D3D_OK;
}

namespace {
void NoteDrawState(DeviceCall& c, const DeviceState& s) {
    c.material = s.material;
    c.fillMode = s.Rs(D3DRS_FILLMODE);
    c.alphaBlend = s.Rs(D3DRS_ALPHABLENDENABLE);
    c.fvf = s.fvf;
    c.stream = s.streamSource;
    c.stageTextures[0] = s.textures[0];
    c.stageTextures[1] = s.textures[1];
}
} // namespace

HRESULT MemoryDevice::DrawPrimitive(D3DPRIMITIVETYPE type, UINT startVertex, UINT primitiveCount) {
    NoteDrawState(Record(DeviceOp::DrawPrimitive, {type, startVertex, primitiveCount}), state);
    return D3D_OK;
}

HRESULT MemoryDevice::DrawIndexedPrimitive(D3DPRIMITIVETYPE type, INT baseVertex, UINT minIndex,
                                           UINT numVertices, UINT startIndex, UINT primitiveCount) {
    NoteDrawState(
        Record(DeviceOp::DrawIndexedPrimitive, {type, static_cast<DWORD>(baseVertex), minIndex,
                                                numVertices, startIndex, primitiveCount}),
        state);
    return D3D_OK;
}

HRESULT MemoryDevice::CreateVertexBuffer(UINT length, DWORD usage, DWORD fvf, D3DPOOL pool,
                                         IDirect3DVertexBuffer9** buffer, HANDLE*) {
    Record(DeviceOp::CreateVertexBuffer, {length, usage, fvf, pool});
    if (!buffer)
        return D3DERR_INVALIDCALL;
    *buffer = nullptr;
    if (length == 0 ||
        failures->Trip(failures->createVertexBuffer, failures->createVertexBufferAfter))
        return D3DERR_OUTOFVIDEOMEMORY;
    auto* made = new MemoryVertexBuffer(length, usage, fvf, pool, failures);
    if (made->data.size() != length) {
        made->Release();
        return D3DERR_OUTOFVIDEOMEMORY;
    }
    *buffer = made;
    return D3D_OK;
}

HRESULT MemoryDevice::CreateIndexBuffer(UINT length, DWORD usage, D3DFORMAT format, D3DPOOL pool,
                                        IDirect3DIndexBuffer9** buffer, HANDLE*) {
    Record(DeviceOp::CreateIndexBuffer, {length, usage, format, pool});
    if (!buffer)
        return D3DERR_INVALIDCALL;
    *buffer = nullptr;
    if (length == 0 || failures->createIndexBuffer)
        return D3DERR_OUTOFVIDEOMEMORY;
    auto* made = new MemoryIndexBuffer(length, usage, format, pool, failures);
    if (made->data.size() != length) {
        made->Release();
        return D3DERR_OUTOFVIDEOMEMORY;
    }
    *buffer = made;
    return D3D_OK;
}

HRESULT MemoryDevice::CreateTexture(UINT width, UINT height, UINT levels, DWORD usage,
                                    D3DFORMAT format, D3DPOOL pool, IDirect3DTexture9** texture,
                                    HANDLE*) {
    Record(DeviceOp::CreateTexture, {width, height, levels, usage, format, pool});
    if (!texture)
        return D3DERR_INVALIDCALL;
    *texture = nullptr;
    if (width == 0 || height == 0 || format != D3DFMT_A8R8G8B8)
        return D3DERR_INVALIDCALL;
    if (failures->Trip(failures->createTexture, failures->createTextureAfter))
        return D3DERR_OUTOFVIDEOMEMORY;
    *texture = new MemoryTexture(width, height, levels, usage, format, pool, failures);
    return D3D_OK;
}
