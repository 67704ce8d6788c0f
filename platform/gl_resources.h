// The OpenGL device's buffers and textures. A vertex buffer lives in its GL buffer alone:
// Lock maps the locked range, so the buffer costs no system memory of its own. An index buffer
// keeps a system-memory copy that Lock hands out, and each draw sends only the indices it reads
// that the GL buffer does not hold yet: the terrain rewrites its whole list every frame but
// draws only the visible part. Textures keep their system copy (the managed pool) and Unlock
// sends the locked rectangle.
#pragma once

#include "d3d9.h"
#include "memory_device.h" // RefCounted

#include <cstdint>
#include <cstdlib>
#include <memory>
#include <vector>

// What the device sent to OpenGL and holds, for tests and benchmarks.
struct GlDeviceStats {
    uint64_t bufferBytesUploaded = 0; // vertex and index buffers
    uint64_t indexBytesUploaded = 0;  // of which index buffers
    uint64_t textureBytesUploaded = 0;
    uint64_t draws = 0;
    uint64_t stateCalls = 0;      // GL calls that set pipeline state for draws, uniforms included
    uint64_t uniformCalls = 0;    // of which uniforms
    uint64_t bufferBytesHeld = 0; // system copies and GL storage of vertex and index buffers
};

// What a device shares with the objects it made. Releasing an object never touches GL: its
// names wait here until the device next has its context current, so a release after the
// window has gone (or from a destructor at exit) is safe.
struct GlLink {
    GlSurface* surface = nullptr;
    bool alive = true; // false once the device is gone: buffers then fail to lock
    std::vector<unsigned> deadBuffers;
    std::vector<unsigned> deadTextures;
    GlDeviceStats stats;
    // Counts deletions of GL names, so that the device knows when a name it bound may have
    // gone and come back as another object.
    uint64_t deletions = 0;

    // Makes the context current and deletes the names that waited for it.
    bool MakeCurrent();
};

class GlVertexBuffer : public RefCounted<IDirect3DVertexBuffer9> {
public:
    // Null when GL cannot make the buffer. Its first contents are undefined, as in Direct3D.
    static GlVertexBuffer* Create(std::shared_ptr<GlLink> link, const D3DVERTEXBUFFER_DESC& desc);
    ~GlVertexBuffer() override;
    // Maps the range of the GL buffer: the memory holds the buffer's contents, and what is
    // written there is the buffer's once unlocked. Fails while the device has no context.
    HRESULT Lock(UINT offset, UINT size, void** data, DWORD flags) override;
    HRESULT Unlock() override;
    HRESULT GetDesc(D3DVERTEXBUFFER_DESC* desc) override;

    unsigned Name() const { return name_; }
    UINT Size() const { return desc_.Size; }
    bool Locked() const { return locked_; }
    const GlLink* Link() const { return link_.get(); }

private:
    GlVertexBuffer(std::shared_ptr<GlLink> link, unsigned name, const D3DVERTEXBUFFER_DESC& desc)
        : desc_(desc), link_(std::move(link)), name_(name) {}

    D3DVERTEXBUFFER_DESC desc_;
    std::shared_ptr<GlLink> link_;
    unsigned name_;
    bool locked_ = false;
    bool mapped_ = false;
    DWORD lockFlags_ = 0;
    UINT lockSize_ = 0;
};

class GlIndexBuffer : public RefCounted<IDirect3DIndexBuffer9> {
public:
    // Null when GL cannot name the buffer or the system copy cannot be had.
    static GlIndexBuffer* Create(std::shared_ptr<GlLink> link, const D3DINDEXBUFFER_DESC& desc);
    ~GlIndexBuffer() override;
    HRESULT Lock(UINT offset, UINT size, void** data, DWORD flags) override;
    HRESULT Unlock() override;
    HRESULT GetDesc(D3DINDEXBUFFER_DESC* desc) override;

    // Makes the GL buffer hold bytes [first, end) as the system copy has them, sending only
    // what it does not hold yet; false when GL cannot grow it. The context must be current.
    bool Prepare(UINT first, UINT end);

    unsigned Name() const { return name_; }
    UINT Size() const { return desc_.Size; }
    bool Locked() const { return locked_; }
    const D3DINDEXBUFFER_DESC& Description() const { return desc_; }
    const GlLink* Link() const { return link_.get(); }
    UINT StorageBytes() const { return storage_; }

private:
    struct Free {
        void operator()(uint8_t* p) const { std::free(p); }
    };
    GlIndexBuffer(std::shared_ptr<GlLink> link, unsigned name, const D3DINDEXBUFFER_DESC& desc,
                  uint8_t* data)
        : desc_(desc), data_(data), link_(std::move(link)), name_(name) {}
    void Send(UINT first, UINT end);

    D3DINDEXBUFFER_DESC desc_;
    // Zeroed pages from the system, touched only where indices are written.
    std::unique_ptr<uint8_t[], Free> data_;
    std::shared_ptr<GlLink> link_;
    unsigned name_;
    UINT storage_ = 0;                   // bytes of GL storage, grown as draws reach further
    UINT validFirst_ = 0, validEnd_ = 0; // the bytes the GL buffer holds as the copy has them
    bool locked_ = false;
    UINT lockOffset_ = 0, lockSize_ = 0;
    DWORD lockFlags_ = 0;
};

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
