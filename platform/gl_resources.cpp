#include "gl_resources.h"

#include <epoxy/gl.h>

#include <algorithm>
#include <cstring>
#include <type_traits>

bool GlLink::MakeCurrent() {
    if (!alive || !surface || !surface->MakeCurrent())
        return false;
    if (!deadBuffers.empty()) {
        glDeleteBuffers(static_cast<GLsizei>(deadBuffers.size()), deadBuffers.data());
        deadBuffers.clear();
    }
    if (!deadTextures.empty()) {
        glDeleteTextures(static_cast<GLsizei>(deadTextures.size()), deadTextures.data());
        deadTextures.clear();
    }
    return true;
}

unsigned CreateGlBufferObject(GlLink& link, UINT size) {
    if (!link.MakeCurrent())
        return 0;
    GLuint name = 0;
    glGenBuffers(1, &name);
    // The generic copy target keeps uploads clear of the vertex array's element binding.
    glBindBuffer(GL_COPY_WRITE_BUFFER, name);
    std::vector<uint8_t> zeros(size, 0);
    glBufferData(GL_COPY_WRITE_BUFFER, size, zeros.data(), GL_DYNAMIC_DRAW);
    glBindBuffer(GL_COPY_WRITE_BUFFER, 0);
    if (glGetError() != GL_NO_ERROR) {
        glDeleteBuffers(1, &name);
        return 0;
    }
    return name;
}

template <class Interface, class Desc>
HRESULT GlBuffer<Interface, Desc>::Lock(UINT offset, UINT size, void** data, DWORD flags) {
    if (!data)
        return D3DERR_INVALIDCALL;
    *data = nullptr;
    if (locked_ || offset > desc_.Size)
        return D3DERR_INVALIDCALL;
    if (size == 0)
        size = desc_.Size - offset;
    if (size > desc_.Size - offset)
        return D3DERR_INVALIDCALL;
    locked_ = true;
    lockOffset_ = offset;
    lockSize_ = size;
    lockFlags_ = flags;
    *data = data_.data() + offset;
    return D3D_OK;
}

template <class Interface, class Desc> HRESULT GlBuffer<Interface, Desc>::Unlock() {
    if (!locked_)
        return D3DERR_INVALIDCALL;
    locked_ = false;
    if ((lockFlags_ & D3DLOCK_READONLY) || lockSize_ == 0 || !link_->MakeCurrent())
        return D3D_OK;
    glBindBuffer(GL_COPY_WRITE_BUFFER, name_);
    glBufferSubData(GL_COPY_WRITE_BUFFER, lockOffset_, lockSize_, data_.data() + lockOffset_);
    glBindBuffer(GL_COPY_WRITE_BUFFER, 0);
    link_->stats.bufferBytesUploaded += lockSize_;
    if constexpr (std::is_same_v<Interface, IDirect3DIndexBuffer9>)
        link_->stats.indexBytesUploaded += lockSize_;
    return D3D_OK;
}

template class GlBuffer<IDirect3DVertexBuffer9, D3DVERTEXBUFFER_DESC>;
template class GlBuffer<IDirect3DIndexBuffer9, D3DINDEXBUFFER_DESC>;

GlTexture* GlTexture::Create(std::shared_ptr<GlLink> link, UINT width, UINT height, UINT levels,
                             DWORD usage, D3DFORMAT format, D3DPOOL pool) {
    if (!link->MakeCurrent())
        return nullptr;
    GLint maxSide = 0;
    glGetIntegerv(GL_MAX_TEXTURE_SIZE, &maxSide);
    if (width == 0 || height == 0 || width > static_cast<UINT>(maxSide) ||
        height > static_cast<UINT>(maxSide))
        return nullptr;
    GLuint name = 0;
    glGenTextures(1, &name);
    auto* texture = new GlTexture(link, name);
    texture->format_ = format;
    texture->pool_ = pool;
    texture->usage_ = usage;
    UINT w = width, h = height;
    for (UINT i = 0; levels == 0 || i < levels; ++i) {
        Level l;
        l.width = w;
        l.height = h;
        l.bits.assign(static_cast<size_t>(w) * h * 4, 0);
        texture->levels_.push_back(std::move(l));
        if (w == 1 && h == 1)
            break;
        w = std::max<UINT>(1, w / 2);
        h = std::max<UINT>(1, h / 2);
    }
    // Texture unit 0 is rebound before every draw, so borrowing it here is harmless.
    glActiveTexture(GL_TEXTURE0);
    glBindTexture(GL_TEXTURE_2D, name);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 4);
    glPixelStorei(GL_UNPACK_ROW_LENGTH, 0);
    for (size_t i = 0; i < texture->levels_.size(); ++i) {
        const Level& l = texture->levels_[i];
        glTexImage2D(GL_TEXTURE_2D, static_cast<GLint>(i), GL_RGBA8, static_cast<GLsizei>(l.width),
                     static_cast<GLsizei>(l.height), 0, GL_BGRA, GL_UNSIGNED_INT_8_8_8_8_REV,
                     l.bits.data());
    }
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_BASE_LEVEL, 0);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAX_LEVEL,
                    static_cast<GLint>(texture->levels_.size()) - 1);
    if (format == D3DFMT_X8R8G8B8)
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_SWIZZLE_A, GL_ONE);
    glBindTexture(GL_TEXTURE_2D, 0);
    if (glGetError() != GL_NO_ERROR) {
        texture->Release();
        return nullptr;
    }
    return texture;
}

GlTexture::~GlTexture() {
    if (link_->alive && name_)
        link_->deadTextures.push_back(name_);
}

HRESULT GlTexture::GetLevelDesc(UINT level, D3DSURFACE_DESC* desc) {
    if (!desc || level >= levels_.size())
        return D3DERR_INVALIDCALL;
    *desc = D3DSURFACE_DESC{format_, usage_, pool_, levels_[level].width, levels_[level].height};
    return D3D_OK;
}

HRESULT GlTexture::LockRect(UINT level, D3DLOCKED_RECT* locked, const RECT* rect, DWORD flags) {
    if (!locked || level >= levels_.size())
        return D3DERR_INVALIDCALL;
    Level& l = levels_[level];
    if (l.locked)
        return D3DERR_INVALIDCALL;
    RECT r = rect ? *rect : RECT{0, 0, static_cast<LONG>(l.width), static_cast<LONG>(l.height)};
    if (r.left < 0 || r.top < 0 || r.right > static_cast<LONG>(l.width) ||
        r.bottom > static_cast<LONG>(l.height) || r.left >= r.right || r.top >= r.bottom)
        return D3DERR_INVALIDCALL;
    l.locked = true;
    l.lock = r;
    l.lockFlags = flags;
    locked->Pitch = static_cast<INT>(l.width * 4);
    locked->pBits = l.bits.data() + (static_cast<size_t>(r.top) * l.width + r.left) * 4;
    return D3D_OK;
}

HRESULT GlTexture::UnlockRect(UINT level) {
    if (level >= levels_.size() || !levels_[level].locked)
        return D3DERR_INVALIDCALL;
    Level& l = levels_[level];
    l.locked = false;
    if ((l.lockFlags & D3DLOCK_READONLY) || !link_->MakeCurrent())
        return D3D_OK;
    const RECT& r = l.lock;
    const GLsizei w = r.right - r.left, h = r.bottom - r.top;
    glActiveTexture(GL_TEXTURE0);
    glBindTexture(GL_TEXTURE_2D, name_);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 4);
    glPixelStorei(GL_UNPACK_ROW_LENGTH, static_cast<GLint>(l.width));
    glTexSubImage2D(GL_TEXTURE_2D, static_cast<GLint>(level), r.left, r.top, w, h, GL_BGRA,
                    GL_UNSIGNED_INT_8_8_8_8_REV,
                    l.bits.data() + (static_cast<size_t>(r.top) * l.width + r.left) * 4);
    glPixelStorei(GL_UNPACK_ROW_LENGTH, 0);
    glBindTexture(GL_TEXTURE_2D, 0);
    link_->stats.textureBytesUploaded += static_cast<uint64_t>(w) * h * 4;
    return D3D_OK;
}
