// A Direct3D 9 device that keeps buffers and textures in system memory and records every
// call, so headless tests can read back states, transforms and draws. It also stands in
// for the real device on windows that offer no GL surface.
#pragma once

#include "device_state.h"

#include <memory>
#include <vector>

// A buffer's bytes, zero until written. The storage comes from calloc, which for large
// buffers maps fresh pages that the system only provides once they are written: a buffer
// that frames fill only the start of (a terrain's index buffer) holds little more.
class DeviceBytes {
public:
    // Empty when the memory could not be had.
    explicit DeviceBytes(size_t size = 0);
    DeviceBytes(const DeviceBytes& other);
    DeviceBytes& operator=(const DeviceBytes& other);
    ~DeviceBytes();

    uint8_t* data() { return bytes_; }
    const uint8_t* data() const { return bytes_; }
    size_t size() const { return size_; }
    uint8_t& operator[](size_t i) { return bytes_[i]; }
    uint8_t operator[](size_t i) const { return bytes_[i]; }
    bool operator==(const DeviceBytes& other) const;

private:
    uint8_t* bytes_ = nullptr;
    size_t size_ = 0;
};

// Reference counting shared by the memory objects.
template <class Interface> class RefCounted : public Interface {
public:
    ULONG AddRef() override { return ++refs_; }
    ULONG Release() override {
        ULONG left = --refs_;
        if (left == 0)
            delete this;
        return left;
    }
    ULONG RefCount() const { return refs_; }

private:
    ULONG refs_ = 1;
};

// Switches that make the next device calls fail, for testing failure paths. A count of
// calls to let through first can be set with the *After fields (-1: fail from now on).
struct DeviceFailures {
    bool createVertexBuffer = false;
    bool createIndexBuffer = false;
    bool createTexture = false;
    bool lockBuffer = false;
    bool lockRect = false;
    bool unlockRect = false;
    int createVertexBufferAfter = -1; // succeed this many more times, then fail
    int createTextureAfter = -1;

    bool Trip(bool& flag, int& after);
};

class MemoryVertexBuffer : public RefCounted<IDirect3DVertexBuffer9> {
public:
    MemoryVertexBuffer(UINT length, DWORD usage, DWORD fvf, D3DPOOL pool,
                       std::shared_ptr<DeviceFailures> failures);
    HRESULT Lock(UINT offset, UINT size, void** data, DWORD flags) override;
    HRESULT Unlock() override;
    HRESULT GetDesc(D3DVERTEXBUFFER_DESC* desc) override;

    DeviceBytes data;
    D3DVERTEXBUFFER_DESC desc{};
    bool locked = false;
    int lockCount = 0;
    UINT lastLockOffset = 0, lastLockSize = 0;

private:
    std::shared_ptr<DeviceFailures> failures_;
};

class MemoryIndexBuffer : public RefCounted<IDirect3DIndexBuffer9> {
public:
    MemoryIndexBuffer(UINT length, DWORD usage, D3DFORMAT format, D3DPOOL pool,
                      std::shared_ptr<DeviceFailures> failures);
    HRESULT Lock(UINT offset, UINT size, void** data, DWORD flags) override;
    HRESULT Unlock() override;
    HRESULT GetDesc(D3DINDEXBUFFER_DESC* desc) override;

    DeviceBytes data;
    D3DINDEXBUFFER_DESC desc{};
    bool locked = false;
    int lockCount = 0;
    UINT lastLockOffset = 0, lastLockSize = 0;

private:
    std::shared_ptr<DeviceFailures> failures_;
};

class MemoryTexture : public RefCounted<IDirect3DTexture9> {
public:
    // levels 0 makes the whole mip chain down to 1 × 1.
    MemoryTexture(UINT width, UINT height, UINT levels, DWORD usage, D3DFORMAT format, D3DPOOL pool,
                  std::shared_ptr<DeviceFailures> failures);
    DWORD GetLevelCount() override { return static_cast<DWORD>(levels.size()); }
    HRESULT GetLevelDesc(UINT level, D3DSURFACE_DESC* desc) override;
    HRESULT LockRect(UINT level, D3DLOCKED_RECT* locked, const RECT* rect, DWORD flags) override;
    HRESULT UnlockRect(UINT level) override;

    struct Level {
        UINT width, height;
        INT pitch;
        std::vector<uint8_t> bits;
        bool locked = false;
        RECT lastLock{};
    };
    uint32_t Texel(UINT level, UINT x, UINT y) const;

    std::vector<Level> levels;
    D3DFORMAT format;
    D3DPOOL pool;
    DWORD usage;

private:
    std::shared_ptr<DeviceFailures> failures_;
};

enum class DeviceOp {
    Clear,
    BeginScene,
    EndScene,
    Present,
    SetRenderState,
    SetTextureStageState,
    SetSamplerState,
    SetTransform,
    SetLight,
    LightEnable,
    SetMaterial,
    SetViewport,
    SetStreamSource,
    SetFVF,
    SetIndices,
    SetTexture,
    DrawPrimitive,
    DrawIndexedPrimitive,
    CreateVertexBuffer,
    CreateIndexBuffer,
    CreateTexture,
};

// One recorded call. args holds the call's integer arguments in order; object the buffer or
// texture argument; the draws also note the states that decide what they draw.
struct DeviceCall {
    DeviceOp op;
    DWORD args[6];
    const void* object;
    D3DMATRIX matrix;             // SetTransform
    D3DMATERIAL9 material;        // SetMaterial, and the material in force at a draw
    DWORD fillMode;               // draws
    DWORD alphaBlend;             // draws
    DWORD fvf;                    // draws
    const void* stream;           // draws
    const void* stageTextures[2]; // draws
};

class MemoryDevice : public RefCounted<IDirect3DDevice9> {
public:
    explicit MemoryDevice(const D3DPRESENT_PARAMETERS* params = nullptr);

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

    // The calls of the given kind, in order.
    std::vector<DeviceCall> Calls(DeviceOp op) const;
    void ClearLog() { log.clear(); }

    DeviceState state;
    std::vector<DeviceCall> log;
    bool recording = true;
    bool inScene = false;
    int presents = 0;
    D3DCOLOR lastClearColour = 0;
    D3DPRESENT_PARAMETERS params{};
    std::shared_ptr<DeviceFailures> failures = std::make_shared<DeviceFailures>();

private:
    DeviceCall& Record(DeviceOp op, std::initializer_list<DWORD> args,
                       const void* object = nullptr);
    DeviceCall scratch_{};
};
