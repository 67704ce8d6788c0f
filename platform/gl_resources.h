// The OpenGL device's buffers and textures: each keeps a system-memory copy that Lock hands
// out, and Unlock sends only the locked part to the GL object.
#pragma once

#include "d3d9.h"
#include "memory_device.h" // RefCounted

#include <cstdint>
#include <memory>
#include <vector>

// Byte counts of what unlocks sent to OpenGL, for tests and benchmarks.
struct GlDeviceStats {
    uint64_t bufferBytesUploaded = 0; // vertex and index buffers
    uint64_t indexBytesUploaded = 0;  // of which index buffers
    uint64_t textureBytesUploaded = 0;
    uint64_t draws = 0;
};

// What a device shares with the objects it made. Releasing an object never touches GL: its
// names wait here until the device next has its context current, so a release after the
// window has gone (or from a destructor at exit) is safe.
struct GlLink {
    GlSurface* surface = nullptr;
    bool alive = true; // false once the device is gone: objects keep only their memory copy
    std::vector<unsigned> deadBuffers;
    std::vector<unsigned> deadTextures;
    GlDeviceStats stats;

    // Makes the context current and deletes the names that waited for it.
    bool MakeCurrent();
};

template <class Interface, class Desc> class GlBuffer : public RefCounted<Interface> {
public:
    GlBuffer(std::shared_ptr<GlLink> link, unsigned name, const Desc& desc)
        : desc_(desc), data_(desc.Size), link_(std::move(link)), name_(name) {}
    ~GlBuffer() override {
        if (link_->alive && name_)
            link_->deadBuffers.push_back(name_);
    }
    HRESULT Lock(UINT offset, UINT size, void** data, DWORD flags) override;
    HRESULT Unlock() override;
    HRESULT GetDesc(Desc* desc) override {
        if (!desc)
            return D3DERR_INVALIDCALL;
        *desc = desc_;
        return D3D_OK;
    }

    unsigned Name() const { return name_; }
    UINT Size() const { return desc_.Size; }
    const Desc& Description() const { return desc_; }
    const GlLink* Link() const { return link_.get(); }
    const std::vector<uint8_t>& Data() const { return data_; }

private:
    Desc desc_;
    std::vector<uint8_t> data_;
    std::shared_ptr<GlLink> link_;
    unsigned name_;
    bool locked_ = false;
    UINT lockOffset_ = 0, lockSize_ = 0;
    DWORD lockFlags_ = 0;
};

using GlVertexBuffer = GlBuffer<IDirect3DVertexBuffer9, D3DVERTEXBUFFER_DESC>;
using GlIndexBuffer = GlBuffer<IDirect3DIndexBuffer9, D3DINDEXBUFFER_DESC>;

class GlTexture : public RefCounted<IDirect3DTexture9> {
public:
    // Makes the GL texture with every level cleared to zero; null when GL refuses it.
    static GlTexture* Create(std::shared_ptr<GlLink> link, UINT width, UINT height, UINT levels,
                             DWORD usage, D3DFORMAT format, D3DPOOL pool);
    ~GlTexture() override;

    DWORD GetLevelCount() override { return static_cast<DWORD>(levels_.size()); }
    HRESULT GetLevelDesc(UINT level, D3DSURFACE_DESC* desc) override;
    HRESULT LockRect(UINT level, D3DLOCKED_RECT* locked, const RECT* rect, DWORD flags) override;
    HRESULT UnlockRect(UINT level) override;

    unsigned Name() const { return name_; }
    const GlLink* Link() const { return link_.get(); }

private:
    struct Level {
        UINT width, height;
        std::vector<uint8_t> bits; // rows of width × 4 bytes, B G R A
        bool locked = false;
        RECT lock{};
        DWORD lockFlags = 0;
    };
    GlTexture(std::shared_ptr<GlLink> link, unsigned name) : link_(std::move(link)), name_(name) {}

    std::vector<Level> levels_;
    D3DFORMAT format_ = D3DFMT_A8R8G8B8;
    D3DPOOL pool_ = D3DPOOL_MANAGED;
    DWORD usage_ = 0;
    std::shared_ptr<GlLink> link_;
    unsigned name_;
};

// Creates the GL buffer object behind a vertex or index buffer (0 when GL fails).
unsigned CreateGlBufferObject(GlLink& link, UINT size);
