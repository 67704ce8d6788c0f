// D3DXCreateTextureFromFileW: .bmp, .jpg and .png through stb_image into an A8R8G8B8 texture
// with a box-filtered mip chain, made through the device so any device can take it.
#include "d3dx9.h"
#include "paths.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "stb_config.h"
#include <stb_image.h>

namespace {

thread_local std::string lastError;

// A decoded image of up to 16384 on a side and 64 Mi texels in all (256 MiB of texels):
// anything larger is a corrupt header or not worth the memory.
constexpr long kMaxFileBytes = 512L << 20;
constexpr uint64_t kMaxTexels = uint64_t{1} << 26;

uint32_t Le32(const uint8_t* p) {
    return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
}
uint32_t Be32(const uint8_t* p) {
    return (static_cast<uint32_t>(p[0]) << 24) | (p[1] << 16) | (p[2] << 8) | p[3];
}

// A Huffman table segment: each table is its class and id, 16 code-length counts and that
// many symbols. The decoder builds its code tables without checking that the counts fit in
// the 256 symbols a table can hold, and writes past them when they do not.
bool HuffmanTablesFit(const uint8_t* d, size_t length) {
    size_t q = 2;
    while (q < length) {
        if (length - q < 17)
            return false;
        size_t symbols = 0;
        for (int i = 1; i <= 16; ++i)
            symbols += d[q + i];
        if (symbols > 256 || length - q - 17 < symbols)
            return false;
        q += 17 + symbols;
    }
    return true;
}

// stb_image pads a file that ends early with zeros and then succeeds, so a cut-off download
// would load as a half-black texture. Each check walks the format's own structure to its end.
bool JpegComplete(const uint8_t* d, size_t n, bool* badTable) {
    size_t p = 2;
    while (p + 1 < n) {
        if (d[p] != 0xFF)
            return false;
        uint8_t marker = d[p + 1];
        if (marker == 0xFF) { // fill byte
            ++p;
            continue;
        }
        p += 2;
        if (marker == 0xD9) // end of image
            return true;
        if (marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7))
            continue;
        if (p + 2 > n)
            return false;
        size_t length = (d[p] << 8) | d[p + 1];
        if (length < 2 || length > n - p)
            return false;
        if (marker == 0xC4 && !HuffmanTablesFit(d + p, length)) {
            *badTable = true;
            return false;
        }
        p += length;
        if (marker == 0xDA) {
            // Entropy-coded data: 0xFF is followed by 0 (stuffing) or a restart marker.
            while (p + 1 < n &&
                   !(d[p] == 0xFF && d[p + 1] != 0 && (d[p + 1] < 0xD0 || d[p + 1] > 0xD7)))
                ++p;
        }
    }
    return false;
}

bool PngComplete(const uint8_t* d, size_t n) {
    size_t p = 8;
    while (n >= 12 && p <= n - 12) {
        uint32_t length = Be32(d + p);
        if (length > n - p - 12)
            return false;
        if (std::memcmp(d + p + 4, "IEND", 4) == 0)
            return true;
        p += 12 + static_cast<size_t>(length);
    }
    return false;
}

bool BmpComplete(const uint8_t* d, size_t n) {
    if (n < 30)
        return false;
    uint64_t offset = Le32(d + 10);
    uint32_t header = Le32(d + 14);
    int64_t width, height;
    uint32_t bits, compression = 0;
    if (header == 12) {
        width = d[18] | (d[19] << 8);
        height = d[20] | (d[21] << 8);
        bits = d[24] | (d[25] << 8);
    } else {
        if (n < 34)
            return false;
        width = static_cast<int32_t>(Le32(d + 18));
        height = static_cast<int32_t>(Le32(d + 22));
        bits = d[28] | (d[29] << 8);
        compression = Le32(d + 30);
    }
    // Run-length data has no fixed size; stb_image refuses it anyway.
    if (compression != 0 && compression != 3 && compression != 6)
        return true;
    if (width <= 0 || height == 0 || bits == 0 || bits > 32)
        return true; // malformed: left to the decoder to refuse
    uint64_t row = (static_cast<uint64_t>(width) * bits + 31) / 32 * 4;
    uint64_t rows = static_cast<uint64_t>(height < 0 ? -height : height);
    return offset + row * rows <= n;
}

void Put32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<uint8_t>(v >> (8 * i));
}

// stb_image reads no run-length BMPs, yet paint programs write 8-bit palette images that way.
// Expands RLE8 and RLE4 into the same file with uncompressed 8-bit rows; false when the
// runs end before the end-of-bitmap code or the last row.
bool ExpandRleBmp(std::vector<uint8_t>* bytes, std::string* reason) {
    const std::vector<uint8_t>& in = *bytes;
    const uint64_t offset = Le32(in.data() + 10);
    const uint32_t header = Le32(in.data() + 14);
    const int64_t width = static_cast<int32_t>(Le32(in.data() + 18));
    const int64_t height = static_cast<int32_t>(Le32(in.data() + 22));
    const bool four = Le32(in.data() + 30) == 2;
    if (header < 40 || width <= 0 || height <= 0 || offset < 14 + header || offset > in.size() ||
        static_cast<uint64_t>(width) * static_cast<uint64_t>(height) > kMaxTexels) {
        *reason = "the run-length BMP header is not valid";
        return false;
    }
    const size_t w = static_cast<size_t>(width), h = static_cast<size_t>(height);
    const size_t pitch = (w + 3) & ~size_t{3};
    std::vector<uint8_t> out(in.begin(), in.begin() + static_cast<long>(offset));
    out.resize(offset + pitch * h, 0);
    uint8_t* pixels = out.data() + offset;
    size_t x = 0, y = 0, p = offset;
    auto put = [&](uint8_t index) {
        if (x < w && y < h)
            pixels[y * pitch + x] = index; // both keep rows bottom-up
        ++x;
    };
    bool ended = false;
    while (!ended && y < h) {
        if (p + 2 > in.size())
            break;
        uint8_t count = in[p], value = in[p + 1];
        p += 2;
        if (count > 0) {
            for (int i = 0; i < count; ++i)
                put(four ? ((i & 1) ? value & 0x0F : value >> 4) : value);
        } else if (value == 0) {
            x = 0;
            ++y;
        } else if (value == 1) {
            ended = true;
        } else if (value == 2) {
            if (p + 2 > in.size())
                break;
            x += in[p];
            y += in[p + 1];
            p += 2;
        } else {
            size_t bytesUsed = four ? (value + 1) / 2 : value;
            if (p + bytesUsed > in.size())
                break;
            for (int i = 0; i < value; ++i)
                put(four ? ((i & 1) ? in[p + i / 2] & 0x0F : in[p + i / 2] >> 4) : in[p + i]);
            p += (bytesUsed + 1) & ~size_t{1}; // runs keep 16-bit alignment
        }
    }
    if (!ended && y < h) {
        *reason = "the image data ends early (truncated file)";
        return false;
    }
    out[28] = 8;
    out[29] = 0;
    Put32(out.data() + 30, 0);
    Put32(out.data() + 34, static_cast<uint32_t>(pitch * h));
    Put32(out.data() + 2, static_cast<uint32_t>(out.size()));
    bytes->swap(out);
    return true;
}

HRESULT Fail(const std::string& path, const std::string& reason) {
    lastError = path + ": " + reason;
    return D3DXERR_INVALIDDATA;
}

bool ReadWholeFile(const std::string& path, std::vector<uint8_t>* bytes, std::string* reason) {
    FILE* file = std::fopen(path.c_str(), "rb");
    if (!file) {
        *reason = std::string("cannot open the file (") + std::strerror(errno) + ")";
        return false;
    }
    bool ok = std::fseek(file, 0, SEEK_END) == 0;
    long size = ok ? std::ftell(file) : -1;
    ok = ok && size >= 0 && std::fseek(file, 0, SEEK_SET) == 0;
    if (!ok) {
        *reason = "cannot read the file";
    } else if (size == 0) {
        *reason = "the file is empty";
        ok = false;
    } else if (size > kMaxFileBytes) {
        *reason = "the file is too large for a texture";
        ok = false;
    } else {
        bytes->resize(static_cast<size_t>(size));
        if (std::fread(bytes->data(), 1, bytes->size(), file) != bytes->size()) {
            *reason = "cannot read the file";
            ok = false;
        }
    }
    std::fclose(file);
    return ok;
}

// Each texel of a smaller level is the mean of the source texels its footprint covers, so odd
// sizes lose no row or column.
void BoxFilter(const std::vector<uint32_t>& src, UINT sw, UINT sh, std::vector<uint32_t>* dst,
               UINT dw, UINT dh) {
    dst->resize(static_cast<size_t>(dw) * dh);
    for (UINT y = 0; y < dh; ++y) {
        UINT y0 = static_cast<UINT>(uint64_t{y} * sh / dh);
        UINT y1 = std::max(y0 + 1, static_cast<UINT>(uint64_t{y + 1} * sh / dh));
        for (UINT x = 0; x < dw; ++x) {
            UINT x0 = static_cast<UINT>(uint64_t{x} * sw / dw);
            UINT x1 = std::max(x0 + 1, static_cast<UINT>(uint64_t{x + 1} * sw / dw));
            uint32_t sum[4] = {};
            for (UINT sy = y0; sy < y1; ++sy)
                for (UINT sx = x0; sx < x1; ++sx) {
                    uint32_t t = src[static_cast<size_t>(sy) * sw + sx];
                    for (int c = 0; c < 4; ++c)
                        sum[c] += (t >> (8 * c)) & 0xFF;
                }
            uint32_t count = (y1 - y0) * (x1 - x0);
            uint32_t out = 0;
            for (int c = 0; c < 4; ++c)
                out |= ((sum[c] + count / 2) / count) << (8 * c);
            (*dst)[static_cast<size_t>(y) * dw + x] = out;
        }
    }
}

bool WriteLevel(IDirect3DTexture9* texture, UINT level, const std::vector<uint32_t>& texels,
                UINT width, UINT height) {
    D3DLOCKED_RECT locked;
    if (FAILED(texture->LockRect(level, &locked, nullptr, 0)))
        return false;
    auto* row = static_cast<uint8_t*>(locked.pBits);
    for (UINT y = 0; y < height; ++y, row += locked.Pitch)
        std::memcpy(row, texels.data() + static_cast<size_t>(y) * width, size_t{width} * 4);
    return SUCCEEDED(texture->UnlockRect(level));
}

} // namespace

HRESULT D3DXCreateTextureFromFileW(IDirect3DDevice9* device, const wchar_t* path,
                                   IDirect3DTexture9** texture) {
    if (texture)
        *texture = nullptr;
    if (!device || !path || !texture) {
        lastError = "no device, path or texture given";
        return D3DERR_INVALIDCALL;
    }
    const std::string name = WideToUtf8(path);
    std::vector<uint8_t> bytes;
    std::string reason;
    if (!ReadWholeFile(name, &bytes, &reason))
        return Fail(name, reason);

    if (bytes.size() >= 34 && bytes[0] == 'B' && bytes[1] == 'M') {
        uint32_t compression = Le32(bytes.data() + 30);
        if ((compression == 1 || compression == 2) && !ExpandRleBmp(&bytes, &reason))
            return Fail(name, reason);
    }
    const uint8_t* d = bytes.data();
    const size_t n = bytes.size();
    bool complete;
    bool badTable = false;
    if (n >= 3 && d[0] == 0xFF && d[1] == 0xD8 && d[2] == 0xFF)
        complete = JpegComplete(d, n, &badTable);
    else if (n >= 8 && std::memcmp(d, "\x89PNG\r\n\x1a\n", 8) == 0)
        complete = PngComplete(d, n);
    else if (n >= 2 && d[0] == 'B' && d[1] == 'M')
        complete = BmpComplete(d, n);
    else
        return Fail(name, "not a BMP, JPEG or PNG image");
    if (badTable)
        return Fail(name, "the JPEG file is corrupt (a Huffman table does not fit)");
    if (!complete)
        return Fail(name, "the image data ends early (truncated file)");

    int width = 0, height = 0, channels = 0;
    if (!stbi_info_from_memory(d, static_cast<int>(n), &width, &height, &channels))
        return Fail(name,
                    std::string("cannot read the image header (") + stbi_failure_reason() + ")");
    if (width <= 0 || height <= 0 ||
        static_cast<uint64_t>(width) * static_cast<uint64_t>(height) > kMaxTexels)
        return Fail(name, "the image is too large (" + std::to_string(width) + " x " +
                              std::to_string(height) + ")");
    stbi_uc* rgba = stbi_load_from_memory(d, static_cast<int>(n), &width, &height, &channels, 4);
    if (!rgba)
        return Fail(name, std::string("cannot decode the image (") + stbi_failure_reason() + ")");
    const UINT w = static_cast<UINT>(width), h = static_cast<UINT>(height);
    std::vector<uint32_t> level(static_cast<size_t>(w) * h);
    for (size_t i = 0; i < level.size(); ++i) {
        const stbi_uc* p = rgba + 4 * i;
        level[i] = (static_cast<uint32_t>(p[3]) << 24) | (p[0] << 16) | (p[1] << 8) | p[2];
    }
    stbi_image_free(rgba);

    IDirect3DTexture9* made = nullptr;
    HRESULT hr =
        device->CreateTexture(w, h, 0, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &made, nullptr);
    if (FAILED(hr) || !made) {
        lastError = name + ": the device cannot make a " + std::to_string(w) + " x " +
                    std::to_string(h) + " texture";
        return FAILED(hr) ? hr : E_FAIL;
    }
    UINT lw = w, lh = h;
    std::vector<uint32_t> next;
    for (UINT l = 0; l < made->GetLevelCount(); ++l) {
        D3DSURFACE_DESC desc{};
        if (FAILED(made->GetLevelDesc(l, &desc))) {
            made->Release();
            return Fail(name, "cannot read the texture's level size");
        }
        if (l > 0) {
            BoxFilter(level, lw, lh, &next, desc.Width, desc.Height);
            level.swap(next);
        }
        lw = desc.Width;
        lh = desc.Height;
        if (!WriteLevel(made, l, level, lw, lh)) {
            made->Release();
            lastError = name + ": cannot write the texture";
            return E_FAIL;
        }
    }
    lastError.clear();
    *texture = made;
    return D3D_OK;
}

const char* D3DXGetLastTextureError() {
    return lastError.c_str();
}
