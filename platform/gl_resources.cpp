#include "gl_resources.h"

#include <epoxy/gl.h>

#include <algorithm>
#include <cstring>

bool GlLink::MakeCurrent() {
    if (!alive || !surface || !surface->MakeCurrent())
        return false;
    if (!deadBuffers.empty()) {
        glDeleteBuffers(static_cast<GLsizei>(deadBuffers.size()), deadBuffers.data());
        deadBuffers.clear();
        ++deletions;
    }
    if (!deadTextures.empty()) {
        glDeleteTextures(static_cast<GLsizei>(deadTextures.size()), deadTextures.data());
        deadTextures.clear();
        ++deletions;
    }
    return true;
}

namespace {

// Textures are filled on a unit that draws never use, so the draws' bindings stay as the
// device left them.
constexpr GLenum kUploadUnit = GL_TEXTURE2;

// Buffers are filled through the generic copy target, which keeps uploads clear of the
// vertex array's element binding and of the draw's array binding.
unsigned NewBufferName(GlLink& link) {
    if (!link.MakeCurrent())
        return 0;
    GLuint name = 0;
    glGenBuffers(1, &name);
    return name;
}

// Whether GL took the last calls; clears the error either way.
bool Succeeded() {
    return glGetError() == GL_NO_ERROR;
}

bool RangeOk(UINT offset, UINT* size, UINT total) {
    if (offset > total)
        return false;
    if (*size == 0)
        *size = total - offset;
    return *size <= total - offset;
}

} // namespace

GlVertexBuffer* GlVertexBuffer::Create(std::shared_ptr<GlLink> link,
                                       const D3DVERTEXBUFFER_DESC& desc) {
    const unsigned name = NewBufferName(*link);
    if (!name)
        return nullptr;
    glBindBuffer(GL_COPY_WRITE_BUFFER, name);
    glBufferData(GL_COPY_WRITE_BUFFER, desc.Size, nullptr, GL_DYNAMIC_DRAW);
    glBindBuffer(GL_COPY_WRITE_BUFFER, 0);
    if (!Succeeded()) {
        glDeleteBuffers(1, &name);
        return nullptr;
    }
    link->stats.bufferBytesHeld += desc.Size;
    return new GlVertexBuffer(std::move(link), name, desc);
}

GlVertexBuffer::~GlVertexBuffer() {
    if (link_->alive && name_)
        link_->deadBuffers.push_back(name_);
    link_->stats.bufferBytesHeld -= desc_.Size;
}

HRESULT GlVertexBuffer::GetDesc(D3DVERTEXBUFFER_DESC* desc) {
    if (!desc)
        return D3DERR_INVALIDCALL;
    *desc = desc_;
    return D3D_OK;
}

HRESULT GlVertexBuffer::Lock(UINT offset, UINT size, void** data, DWORD flags) {
    if (!data)
        return D3DERR_INVALIDCALL;
    *data = nullptr;
    if (locked_ || !RangeOk(offset, &size, desc_.Size))
        return D3DERR_INVALIDCALL;
    if (size == 0) {
        // Nothing to map: any pointer will do, as nothing may be written through it.
        static uint8_t nothing;
        *data = &nothing;
    } else {
        if (!link_->MakeCurrent())
            return D3DERR_INVALIDCALL;
        GLbitfield access = GL_MAP_READ_BIT | GL_MAP_WRITE_BIT;
        if (flags & D3DLOCK_READONLY)
            access = GL_MAP_READ_BIT;
        else if (flags & D3DLOCK_DISCARD)
            access = GL_MAP_WRITE_BIT | GL_MAP_INVALIDATE_RANGE_BIT;
        glBindBuffer(GL_COPY_WRITE_BUFFER, name_);
        *data = glMapBufferRange(GL_COPY_WRITE_BUFFER, offset, size, access);
        glBindBuffer(GL_COPY_WRITE_BUFFER, 0);
        if (!*data || !Succeeded()) {
            *data = nullptr;
            return D3DERR_INVALIDCALL;
        }
    }
    locked_ = true;
    mapped_ = size > 0;
    lockFlags_ = flags;
    lockSize_ = size;
    return D3D_OK;
}

HRESULT GlVertexBuffer::Unlock() {
    if (!locked_)
        return D3DERR_INVALIDCALL;
    locked_ = false;
    if (!mapped_)
        return D3D_OK;
    mapped_ = false;
    if (!link_->MakeCurrent())
        return D3DERR_INVALIDCALL;
    glBindBuffer(GL_COPY_WRITE_BUFFER, name_);
    const bool kept = glUnmapBuffer(GL_COPY_WRITE_BUFFER) == GL_TRUE;
    glBindBuffer(GL_COPY_WRITE_BUFFER, 0);
    if (!(lockFlags_ & D3DLOCK_READONLY))
        link_->stats.bufferBytesUploaded += lockSize_;
    return kept ? D3D_OK : D3DERR_INVALIDCALL;
}

GlIndexBuffer* GlIndexBuffer::Create(std::shared_ptr<GlLink> link,
                                     const D3DINDEXBUFFER_DESC& desc) {
    auto* data = static_cast<uint8_t*>(std::calloc(desc.Size, 1));
    if (!data)
        return nullptr;
    const unsigned name = NewBufferName(*link);
    if (!name) {
        std::free(data);
        return nullptr;
    }
    link->stats.bufferBytesHeld += desc.Size;
    return new GlIndexBuffer(std::move(link), name, desc, data);
}

GlIndexBuffer::~GlIndexBuffer() {
    if (link_->alive && name_)
        link_->deadBuffers.push_back(name_);
    link_->stats.bufferBytesHeld -= uint64_t{desc_.Size} + storage_;
}

HRESULT GlIndexBuffer::GetDesc(D3DINDEXBUFFER_DESC* desc) {
    if (!desc)
        return D3DERR_INVALIDCALL;
    *desc = desc_;
    return D3D_OK;
}

HRESULT GlIndexBuffer::Lock(UINT offset, UINT size, void** data, DWORD flags) {
    if (!data)
        return D3DERR_INVALIDCALL;
    *data = nullptr;
    if (locked_ || !RangeOk(offset, &size, desc_.Size))
        return D3DERR_INVALIDCALL;
    locked_ = true;
    lockOffset_ = offset;
    lockSize_ = size;
    lockFlags_ = flags;
    *data = data_.get() + offset;
    return D3D_OK;
}

HRESULT GlIndexBuffer::Unlock() {
    if (!locked_)
        return D3DERR_INVALIDCALL;
    locked_ = false;
    if ((lockFlags_ & D3DLOCK_READONLY) || lockSize_ == 0)
        return D3D_OK;
    // The GL buffer no longer holds what was locked. One range stays valid; when the lock
    // falls inside it, the larger side is kept.
    const UINT first = lockOffset_, end = lockOffset_ + lockSize_;
    if (end <= validFirst_ || first >= validEnd_)
        return D3D_OK;
    if (first <= validFirst_)
        validFirst_ = std::min(end, validEnd_);
    else if (end >= validEnd_)
        validEnd_ = first;
    else if (first - validFirst_ >= validEnd_ - end)
        validEnd_ = first;
    else
        validFirst_ = end;
    if (validFirst_ >= validEnd_)
        validFirst_ = validEnd_ = 0;
    return D3D_OK;
}

void GlIndexBuffer::Send(UINT first, UINT end) {
    glBufferSubData(GL_COPY_WRITE_BUFFER, first, end - first, data_.get() + first);
    link_->stats.bufferBytesUploaded += end - first;
    link_->stats.indexBytesUploaded += end - first;
}

bool GlIndexBuffer::Prepare(UINT first, UINT end) {
    if (first >= end || (first >= validFirst_ && end <= validEnd_))
        return true;
    glBindBuffer(GL_COPY_WRITE_BUFFER, name_);
    if (end > storage_) {
        // Grown by doubling, so that a view reaching further each frame reallocates rarely;
        // new storage holds nothing yet.
        const UINT grown = static_cast<UINT>(
            std::min<uint64_t>(std::max<uint64_t>(end, uint64_t{storage_} * 2), desc_.Size));
        glBufferData(GL_COPY_WRITE_BUFFER, grown, nullptr, GL_DYNAMIC_DRAW);
        if (!Succeeded()) {
            glBindBuffer(GL_COPY_WRITE_BUFFER, 0);
            storage_ = 0;
            validFirst_ = validEnd_ = 0;
            return false;
        }
        link_->stats.bufferBytesHeld += grown - storage_;
        storage_ = grown;
        validFirst_ = validEnd_ = 0;
    }
    if (validFirst_ < validEnd_ && first <= validEnd_ && end >= validFirst_) {
        // Overlapping or touching: send the parts on either side and join them.
        if (first < validFirst_)
            Send(first, validFirst_);
        if (end > validEnd_)
            Send(validEnd_, end);
        validFirst_ = std::min(first, validFirst_);
        validEnd_ = std::max(end, validEnd_);
    } else {
        Send(first, end);
        validFirst_ = first;
        validEnd_ = end;
    }
    glBindBuffer(GL_COPY_WRITE_BUFFER, 0);
    return true;
}

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
    glActiveTexture(kUploadUnit);
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
    glActiveTexture(kUploadUnit);
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
