// D3DXCreateTextureFromFileW: .bmp, .jpg and .png through stb_image into an A8R8G8B8 texture
// with a box-filtered mip chain, made through the device so any device can take it.
#include "d3dx9.h"
#include "paths.h"
#include "safe_file.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "stb_config.h"
#include <stb_image.h>

namespace {

thread_local std::string lastError;

// A decoded image of up to 16384 on a side (stb_config.h) and 64 Mi texels in all (256 MiB
// of texels): anything larger is a corrupt header or not worth the memory.
constexpr long kMaxFileBytes = 512L << 20;
constexpr int64_t kMaxSide = STBI_MAX_DIMENSIONS;
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

// What the headers say about an image before anything is decoded.
struct ImageCheck {
    enum Result { Ok, Truncated, BadHuffmanTable, Malformed } result = Malformed;
    int64_t width = 0, height = 0;
};

bool IsFrameMarker(uint8_t m) {
    return m >= 0xC0 && m <= 0xCF && m != 0xC4 && m != 0xC8 && m != 0xCC;
}

// stb_image pads data that ends early with zeros and then succeeds, so a cut-off download
// would load as a half-black texture, and a JPEG with no scans at all as a flat grey one.
// Each check walks the format's own structure: a JPEG must reach its end marker after
// scans that bring every coefficient of every component to full precision, each scan
// with data of its own.
ImageCheck CheckJpeg(const uint8_t* d, size_t n) {
    ImageCheck check;
    bool frame = false, progressive = false;
    int components = 0;
    uint8_t ids[4] = {};
    // Per component and coefficient, the lowest successive-approximation bit reached so
    // far; 16 is none, 0 full precision. Sequential scans bring all of them to 0 at once.
    uint8_t precision[4][64];
    std::memset(precision, 16, sizeof precision);

    size_t p = 2;
    while (p + 1 < n) {
        if (d[p] != 0xFF)
            return check; // Malformed
        const uint8_t marker = d[p + 1];
        if (marker == 0xFF) { // fill byte
            ++p;
            continue;
        }
        p += 2;
        if (marker == 0xD9) { // end of image
            bool covered = frame;
            for (int c = 0; c < components; ++c)
                for (int k = 0; k < 64; ++k)
                    covered = covered && precision[c][k] == 0;
            check.result = !frame    ? ImageCheck::Malformed
                           : covered ? ImageCheck::Ok
                                     : ImageCheck::Truncated;
            return check;
        }
        if (marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7))
            continue;
        if (p + 2 > n)
            break;
        const size_t length = (d[p] << 8) | d[p + 1];
        if (length < 2 || length > n - p)
            break;
        const uint8_t* seg = d + p;
        if (marker == 0xC4 && !HuffmanTablesFit(seg, length)) {
            check.result = ImageCheck::BadHuffmanTable;
            return check;
        }
        if (IsFrameMarker(marker) && !frame) {
            if (length < 8)
                return check;
            frame = true;
            progressive = marker == 0xC2 || marker == 0xC6 || marker == 0xCA || marker == 0xCE;
            check.height = (seg[3] << 8) | seg[4];
            check.width = (seg[5] << 8) | seg[6];
            components = std::min<int>(seg[7], 4);
            if (length < 8 + 3 * static_cast<size_t>(components))
                return check;
            for (int c = 0; c < components; ++c)
                ids[c] = seg[8 + 3 * c];
        }
        p += length;
        if (marker != 0xDA)
            continue;

        // A scan: its header, then entropy-coded data up to the next marker (0xFF is
        // followed by 0 for a stuffed byte, or by a restart marker).
        const size_t dataStart = p;
        while (p + 1 < n &&
               !(d[p] == 0xFF && d[p + 1] != 0 && (d[p + 1] < 0xD0 || d[p + 1] > 0xD7)))
            ++p;
        if (p + 1 >= n)
            break; // the data runs to the end of the file
        const size_t count = length >= 3 ? seg[2] : 0;
        if (!frame || p == dataStart || length < 6 + 2 * count)
            continue; // no picture data: coverage stays short and the end says truncated
        const uint8_t ss = seg[3 + 2 * count], se = seg[4 + 2 * count];
        const uint8_t al = seg[5 + 2 * count] & 0x0F;
        for (size_t i = 0; i < count; ++i)
            for (int c = 0; c < components; ++c) {
                if (ids[c] != seg[3 + 2 * i])
                    continue;
                const int first = progressive ? std::min<int>(ss, 63) : 0;
                const int last = progressive ? std::min<int>(se, 63) : 63;
                for (int k = first; k <= last; ++k)
                    precision[c][k] = std::min<uint8_t>(precision[c][k], progressive ? al : 0);
            }
    }
    check.result = ImageCheck::Truncated;
    return check;
}

// A PNG must start with its header chunk, hold picture data and reach its end chunk.
ImageCheck CheckPng(const uint8_t* d, size_t n) {
    ImageCheck check;
    if (n < 33 || std::memcmp(d + 12, "IHDR", 4) != 0)
        return check;
    check.width = Be32(d + 16);
    check.height = Be32(d + 20);
    bool pictureData = false;
    size_t p = 8;
    check.result = ImageCheck::Truncated;
    while (n >= 12 && p <= n - 12) {
        const uint32_t length = Be32(d + p);
        if (length > n - p - 12)
            return check;
        if (std::memcmp(d + p + 4, "IDAT", 4) == 0)
            pictureData |= length > 0;
        if (std::memcmp(d + p + 4, "IEND", 4) == 0) {
            if (pictureData)
                check.result = ImageCheck::Ok;
            return check;
        }
        p += 12 + static_cast<size_t>(length);
    }
    return check;
}

ImageCheck CheckBmp(const uint8_t* d, size_t n) {
    ImageCheck check;
    if (n < 30)
        return check;
    const uint64_t offset = Le32(d + 10);
    const uint32_t header = Le32(d + 14);
    uint32_t bits, compression = 0;
    if (header == 12) {
        check.width = d[18] | (d[19] << 8);
        check.height = d[20] | (d[21] << 8);
        bits = d[24] | (d[25] << 8);
    } else {
        if (n < 34)
            return check;
        check.width = static_cast<int32_t>(Le32(d + 18));
        check.height = static_cast<int32_t>(Le32(d + 22));
        bits = d[28] | (d[29] << 8);
        compression = Le32(d + 30);
    }
    const int64_t rows = check.height < 0 ? -check.height : check.height;
    check.height = rows; // negative heights only mean top-down rows
    check.result = ImageCheck::Ok;
    // Other compressions have no fixed size; the decoder refuses what it cannot read.
    if (compression != 0 && compression != 3 && compression != 6)
        return check;
    if (check.width <= 0 || rows == 0 || bits == 0 || bits > 32)
        return check; // malformed: left to the decoder to refuse
    const uint64_t row = (static_cast<uint64_t>(check.width) * bits + 31) / 32 * 4;
    if (offset + row * static_cast<uint64_t>(rows) > n)
        check.result = ImageCheck::Truncated;
    return check;
}

// stb_image's reasons, for the user: the ones that mean the data ran out, and the rest
// as they are.
std::string DecoderFailure(const char* reason) {
    const std::string r = reason ? reason : "";
    if (r == "not enough pixels" || r == "outofdata" || r == "read past buffer" ||
        r == "unexpected end")
        return "이미지 데이터가 중간에 끝납니다 (잘린 파일)";
    if (r == "outofmem")
        return "이미지를 풀 메모리가 부족합니다";
    return "이미지가 손상되어 읽을 수 없습니다 (" + r + ")";
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
        *reason = "런 길이 BMP의 헤더가 올바르지 않습니다";
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
        *reason = "이미지 데이터가 중간에 끝납니다 (잘린 파일)";
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
    const int fd = OpenRegularFile(path.c_str(), reason);
    if (fd < 0)
        return false;
    struct stat st {};
    bool ok = ::fstat(fd, &st) == 0;
    if (!ok) {
        *reason = "파일을 읽을 수 없습니다: " + SystemErrorText(errno);
    } else if (st.st_size == 0) {
        *reason = "파일이 비어 있습니다";
        ok = false;
    } else if (st.st_size > kMaxFileBytes) {
        *reason = "텍스처로 쓰기에는 파일이 너무 큽니다 (" + std::to_string(st.st_size) +
                  "바이트, 최대 " + std::to_string(kMaxFileBytes) + "바이트)";
        ok = false;
    } else {
        bytes->resize(static_cast<size_t>(st.st_size));
        size_t done = 0;
        while (ok && done < bytes->size()) {
            const ssize_t n = ::read(fd, bytes->data() + done, bytes->size() - done);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0) {
                *reason = n < 0 ? "파일을 읽을 수 없습니다: " + SystemErrorText(errno)
                                : std::string("파일이 읽는 도중에 짧아졌습니다");
                ok = false;
            } else {
                done += static_cast<size_t>(n);
            }
        }
    }
    ::close(fd);
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
        lastError = "장치, 경로 또는 텍스처가 주어지지 않았습니다";
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
    ImageCheck check;
    if (n >= 3 && d[0] == 0xFF && d[1] == 0xD8 && d[2] == 0xFF)
        check = CheckJpeg(d, n);
    else if (n >= 8 && std::memcmp(d, "\x89PNG\r\n\x1a\n", 8) == 0)
        check = CheckPng(d, n);
    else if (n >= 2 && d[0] == 'B' && d[1] == 'M')
        check = CheckBmp(d, n);
    else
        return Fail(name, "BMP, JPEG, PNG 이미지가 아닙니다");
    if (check.result == ImageCheck::BadHuffmanTable)
        return Fail(name, "JPEG 파일이 손상되었습니다 (허프만 표가 맞지 않습니다)");
    if (check.result == ImageCheck::Truncated)
        return Fail(name, "이미지 데이터가 중간에 끝납니다 (잘린 파일)");
    // The size is refused from the header, before the decoder spends time and memory on it.
    if (check.width > 0 && check.height > 0 &&
        (check.width > kMaxSide || check.height > kMaxSide ||
         static_cast<uint64_t>(check.width) * static_cast<uint64_t>(check.height) > kMaxTexels))
        return Fail(name, "이미지가 너무 큽니다: " + std::to_string(check.width) + " × " +
                              std::to_string(check.height) + " (한 변 " + std::to_string(kMaxSide) +
                              ", 모두 " + std::to_string(kMaxTexels) + " 텍셀까지 읽습니다)");

    int width = 0, height = 0, channels = 0;
    stbi_uc* rgba = stbi_load_from_memory(d, static_cast<int>(n), &width, &height, &channels, 4);
    if (!rgba)
        return Fail(name, DecoderFailure(stbi_failure_reason()));
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
        lastError = name + ": 장치가 " + std::to_string(w) + " × " + std::to_string(h) +
                    " 텍스처를 만들지 못했습니다";
        return FAILED(hr) ? hr : E_FAIL;
    }
    UINT lw = w, lh = h;
    std::vector<uint32_t> next;
    for (UINT l = 0; l < made->GetLevelCount(); ++l) {
        D3DSURFACE_DESC desc{};
        if (FAILED(made->GetLevelDesc(l, &desc))) {
            made->Release();
            return Fail(name, "텍스처 단계의 크기를 읽지 못했습니다");
        }
        if (l > 0) {
            BoxFilter(level, lw, lh, &next, desc.Width, desc.Height);
            level.swap(next);
        }
        lw = desc.Width;
        lh = desc.Height;
        if (!WriteLevel(made, l, level, lw, lh)) {
            made->Release();
            lastError = name + ": 텍스처에 쓰지 못했습니다";
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
