#include "heightmap.h"

#include "KrTerrain.h"

#include <algorithm>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <new>
#include <png.h>

static_assert(std::endian::native == std::endian::little,
              "RAW samples are copied as they are in memory");

namespace {

constexpr const char* kRangeKeyword = "Veldmark height range";

bool Fail(std::string* error, std::string reason) {
    if (error)
        *error = std::move(reason);
    return false;
}

bool SideFits(int64_t side) {
    return side >= 2 && side <= kMaxTerrainSide;
}

std::string SizeProblem(int64_t width, int64_t depth) {
    return "높이맵의 크기 " + std::to_string(width) + " × " + std::to_string(depth) +
           "은(는) 쓸 수 없습니다. 가로와 세로가 2에서 " + std::to_string(kMaxTerrainSide) +
           " 사이여야 합니다.";
}

// libpng reports errors by longjmp. Every step that can fail runs in a function of its own
// that sets the jump point and makes or destroys no C++ object, so a jump skips nothing; the
// memory those steps fill is allocated by the caller beforehand.
struct PngInput {
    const uint8_t* data;
    size_t size;
    size_t pos;
};

struct PngOutput {
    std::vector<uint8_t>* bytes;
};

struct PngMessage {
    char text[200];
};

void OnPngError(png_structp png, png_const_charp message) {
    auto* m = static_cast<PngMessage*>(png_get_error_ptr(png));
    std::snprintf(m->text, sizeof m->text, "%s", message ? message : "");
    png_longjmp(png, 1);
}

void OnPngWarning(png_structp, png_const_charp) {}

void ReadPngBytes(png_structp png, png_bytep out, png_size_t count) {
    auto* in = static_cast<PngInput*>(png_get_io_ptr(png));
    if (count > in->size - in->pos)
        png_error(png, "파일이 이미지보다 먼저 끝납니다");
    std::memcpy(out, in->data + in->pos, count);
    in->pos += count;
}

void WritePngBytes(png_structp png, png_bytep data, png_size_t count) {
    auto* out = static_cast<PngOutput*>(png_get_io_ptr(png));
    bool stored = true;
    try {
        out->bytes->insert(out->bytes->end(), data, data + count);
    } catch (const std::bad_alloc&) {
        stored = false;
    }
    if (!stored)
        png_error(png, "메모리가 부족합니다");
}

void FlushPng(png_structp) {}

bool PngReadHeader(png_structp png, png_infop info, png_uint_32* width, png_uint_32* height,
                   int* bitDepth, int* colourType) {
    if (setjmp(png_jmpbuf(png)))
        return false;
    png_read_info(png, info);
    png_get_IHDR(png, info, width, height, bitDepth, colourType, nullptr, nullptr, nullptr);
    return true;
}

// Grey of 1, 2 or 4 bits becomes 8 bits, an alpha channel is dropped, 16-bit samples come
// out in the machine's order.
bool PngSetGrey(png_structp png, png_infop info, int bitDepth, int colourType) {
    if (setjmp(png_jmpbuf(png)))
        return false;
    if (bitDepth < 8)
        png_set_expand_gray_1_2_4_to_8(png);
    if (colourType & PNG_COLOR_MASK_ALPHA)
        png_set_strip_alpha(png);
    if (bitDepth == 16)
        png_set_swap(png);
    png_set_interlace_handling(png);
    png_read_update_info(png, info);
    return true;
}

// Reads to the end of the file, so a file cut after the picture is refused too and text
// chunks after it are seen.
bool PngReadRows(png_structp png, png_infop info, png_bytepp rows) {
    if (setjmp(png_jmpbuf(png)))
        return false;
    png_read_image(png, rows);
    png_read_end(png, info);
    return true;
}

bool PngWriteGrey(png_structp png, png_infop info, png_uint_32 width, png_uint_32 height,
                  int bitDepth, png_bytepp rows, png_textp text, int textCount) {
    if (setjmp(png_jmpbuf(png)))
        return false;
    png_set_IHDR(png, info, width, height, bitDepth, PNG_COLOR_TYPE_GRAY, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    if (textCount > 0)
        png_set_text(png, info, text, textCount);
    png_write_info(png, info);
    if (bitDepth == 16)
        png_set_swap(png);
    png_write_image(png, rows);
    png_write_end(png, info);
    return true;
}

bool ParseRange(const char* text, HeightRange* range) {
    const char* end = text + std::strlen(text);
    const char* p = text;
    float values[2];
    for (float& value : values) {
        while (p < end && *p == ' ')
            ++p;
        const auto [next, ec] = std::from_chars(p, end, value);
        if (ec != std::errc() || !std::isfinite(value))
            return false;
        p = next;
    }
    range->low = values[0];
    range->high = values[1];
    return true;
}

std::string FloatText(float value) {
    char buffer[32];
    const auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, value);
    return ec == std::errc() ? std::string(buffer, end) : std::string("0");
}

const char* ColourName(int colourType) {
    switch (colourType) {
    case PNG_COLOR_TYPE_PALETTE:
        return "팔레트 색상";
    case PNG_COLOR_TYPE_RGB:
        return "RGB 색상";
    case PNG_COLOR_TYPE_RGB_ALPHA:
        return "RGBA 색상";
    default:
        return "색상";
    }
}

bool DecodePng(const uint8_t* data, size_t size, HeightmapImage* out, std::string* error) {
    PngMessage message{};
    png_structp png =
        png_create_read_struct(PNG_LIBPNG_VER_STRING, &message, OnPngError, OnPngWarning);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    if (!info) {
        png_destroy_read_struct(&png, nullptr, nullptr);
        return Fail(error, "PNG를 읽을 준비를 하지 못했습니다.");
    }
    struct Cleanup {
        png_structp* png;
        png_infop* info;
        ~Cleanup() { png_destroy_read_struct(png, info, nullptr); }
    } cleanup{&png, &info};
    PngInput input{data, size, 0};
    png_set_read_fn(png, &input, ReadPngBytes);
    const auto failed = [&](const char* what) {
        return Fail(error, std::string(what) + " (" + message.text + ")");
    };

    png_uint_32 width = 0, height = 0;
    int bitDepth = 0, colourType = 0;
    if (!PngReadHeader(png, info, &width, &height, &bitDepth, &colourType))
        return failed("PNG 파일이 아니거나 손상되었습니다.");
    if (colourType & PNG_COLOR_MASK_COLOR)
        return Fail(error, std::string("이 PNG는 ") + ColourName(colourType) +
                               " 이미지입니다. 높이맵은 회색조(흑백) PNG여야 합니다.");
    if (!SideFits(width) || !SideFits(height))
        return Fail(error, SizeProblem(width, height));
    if (!PngSetGrey(png, info, bitDepth, colourType))
        return failed("PNG를 읽을 수 없습니다.");
    const size_t sampleBytes = bitDepth == 16 ? 2 : 1;
    if (png_get_rowbytes(png, info) != width * sampleBytes)
        return Fail(error, "이 PNG의 형식은 읽을 수 없습니다.");

    HeightmapImage image;
    std::vector<uint8_t> pixels;
    std::vector<png_bytep> rows;
    try {
        pixels.resize(static_cast<size_t>(width) * height * sampleBytes);
        rows.resize(height);
        image.codes.resize(static_cast<size_t>(width) * height);
    } catch (const std::bad_alloc&) {
        return Fail(error, "높이맵을 읽을 메모리가 부족합니다.");
    }
    for (png_uint_32 y = 0; y < height; ++y)
        rows[y] = pixels.data() + static_cast<size_t>(y) * width * sampleBytes;
    if (!PngReadRows(png, info, rows.data()))
        return failed("PNG가 잘렸거나 손상되었습니다.");

    if (sampleBytes == 2)
        std::memcpy(image.codes.data(), pixels.data(), pixels.size());
    else
        std::copy(pixels.begin(), pixels.end(), image.codes.begin());
    image.width = static_cast<int32_t>(width);
    image.depth = static_cast<int32_t>(height);
    image.bits = bitDepth == 16 ? 16 : 8;
    png_textp text = nullptr;
    int textCount = 0;
    png_get_text(png, info, &text, &textCount);
    for (int i = 0; i < textCount; ++i) {
        if (text[i].key && text[i].text && std::strcmp(text[i].key, kRangeKeyword) == 0)
            image.hasRange = ParseRange(text[i].text, &image.range);
    }
    *out = std::move(image);
    return true;
}

bool EncodePng(int32_t width, int32_t height, int bitDepth, const void* samples,
               const HeightRange* range, std::vector<uint8_t>* out, std::string* error) {
    PngMessage message{};
    png_structp png =
        png_create_write_struct(PNG_LIBPNG_VER_STRING, &message, OnPngError, OnPngWarning);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    if (!info) {
        png_destroy_write_struct(&png, nullptr);
        return Fail(error, "PNG를 쓸 준비를 하지 못했습니다.");
    }
    struct Cleanup {
        png_structp* png;
        png_infop* info;
        ~Cleanup() { png_destroy_write_struct(png, info); }
    } cleanup{&png, &info};

    const size_t rowBytes = static_cast<size_t>(width) * (bitDepth == 16 ? 2 : 1);
    std::vector<uint8_t> bytes;
    std::vector<png_bytep> rows;
    try {
        bytes.reserve(rowBytes * static_cast<size_t>(height) / 2 + 1024);
        rows.resize(static_cast<size_t>(height));
    } catch (const std::bad_alloc&) {
        return Fail(error, "PNG를 쓸 메모리가 부족합니다.");
    }
    // libpng takes non-const rows but only reads them when writing.
    auto* base = static_cast<png_bytep>(const_cast<void*>(samples));
    for (int32_t y = 0; y < height; ++y)
        rows[static_cast<size_t>(y)] = base + static_cast<size_t>(y) * rowBytes;

    char software[] = "Software", veldmark[] = "Veldmark";
    char rangeKey[sizeof "Veldmark height range"];
    std::strcpy(rangeKey, kRangeKeyword);
    std::string rangeText = range ? FloatText(range->low) + " " + FloatText(range->high) : "";
    png_text text[2]{};
    text[0].compression = PNG_TEXT_COMPRESSION_NONE;
    text[0].key = software;
    text[0].text = veldmark;
    text[1].compression = PNG_TEXT_COMPRESSION_NONE;
    text[1].key = rangeKey;
    text[1].text = rangeText.data();

    PngOutput output{&bytes};
    png_set_write_fn(png, &output, WritePngBytes, FlushPng);
    if (!PngWriteGrey(png, info, static_cast<png_uint_32>(width), static_cast<png_uint_32>(height),
                      bitDepth, rows.data(), text, range ? 2 : 1))
        return Fail(error, std::string("PNG를 만들지 못했습니다 (") + message.text + ")");
    *out = std::move(bytes);
    return true;
}

std::vector<uint16_t> Codes(const float* heights, size_t count, HeightRange range,
                            size_t* clipped) {
    std::vector<uint16_t> codes(count);
    const double low = range.low;
    const double span = static_cast<double>(range.high) - low;
    size_t outside = 0;
    for (size_t i = 0; i < count; ++i) {
        if (span == 0.0) {
            outside += heights[i] != range.low;
            codes[i] = 0;
            continue;
        }
        const double t = (static_cast<double>(heights[i]) - low) / span * 65535.0;
        if (!(t >= 0.0)) {
            ++outside;
            codes[i] = 0;
        } else if (t > 65535.0) {
            ++outside;
            codes[i] = 65535;
        } else {
            codes[i] = static_cast<uint16_t>(std::lround(t));
        }
    }
    if (clipped)
        *clipped = outside;
    return codes;
}

} // namespace

HeightmapFormat HeightmapFormatOf(const std::string& path) {
    std::string ext = std::filesystem::path(path).extension().string();
    std::transform(ext.begin(), ext.end(), ext.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (ext == ".png")
        return HeightmapFormat::Png;
    if (ext == ".r16" || ext == ".raw")
        return HeightmapFormat::Raw16;
    if (ext == ".r32")
        return HeightmapFormat::Raw32;
    if (ext == ".mvd")
        return HeightmapFormat::MapVertexData;
    return HeightmapFormat::Unknown;
}

int32_t SquareRawSide(uint64_t fileBytes, int bytesPerSample) {
    if (bytesPerSample <= 0 || fileBytes % static_cast<uint64_t>(bytesPerSample) != 0)
        return 0;
    const uint64_t samples = fileBytes / static_cast<uint64_t>(bytesPerSample);
    auto side = static_cast<uint64_t>(std::sqrt(static_cast<double>(samples)));
    while (side * side > samples)
        --side;
    while ((side + 1) * (side + 1) <= samples)
        ++side;
    if (side * side != samples || side > static_cast<uint64_t>(INT32_MAX))
        return 0;
    return static_cast<int32_t>(side);
}

bool DecodeHeightmap(HeightmapFormat format, const uint8_t* data, size_t size, int32_t width,
                     int32_t depth, HeightmapImage* out, std::string* error) {
    if (format == HeightmapFormat::Png)
        return DecodePng(data, size, out, error);
    if (format != HeightmapFormat::Raw16 && format != HeightmapFormat::Raw32)
        return Fail(error, "높이맵으로 읽을 수 없는 형식입니다 (.png, .r16, .raw, .r32).");

    const int sampleBytes = format == HeightmapFormat::Raw16 ? 2 : 4;
    if (width == 0 && depth == 0) {
        width = depth = SquareRawSide(size, sampleBytes);
        if (width == 0)
            return Fail(error, "RAW 파일의 크기(" + std::to_string(size) +
                                   "바이트)가 정사각형 격자에 맞지 않습니다. 가로와 세로 "
                                   "크기를 알려 주어야 합니다.");
    }
    if (!SideFits(width) || !SideFits(depth))
        return Fail(error, SizeProblem(width, depth));
    const uint64_t expected =
        static_cast<uint64_t>(width) * static_cast<uint64_t>(depth) * sampleBytes;
    if (size != expected)
        return Fail(error, "RAW 파일은 " + std::to_string(size) + "바이트인데, " +
                               std::to_string(width) + " × " + std::to_string(depth) +
                               " 높이맵은 " + std::to_string(expected) + "바이트입니다.");

    HeightmapImage image;
    image.width = width;
    image.depth = depth;
    image.bits = sampleBytes * 8;
    const size_t count = static_cast<size_t>(width) * static_cast<size_t>(depth);
    try {
        if (sampleBytes == 2) {
            image.codes.resize(count);
            std::memcpy(image.codes.data(), data, size);
        } else {
            image.heights.resize(count);
            std::memcpy(image.heights.data(), data, size);
        }
    } catch (const std::bad_alloc&) {
        return Fail(error, "높이맵을 읽을 메모리가 부족합니다.");
    }
    for (size_t i = 0; i < image.heights.size(); ++i)
        if (!std::isfinite(image.heights[i]))
            return Fail(error, std::to_string(i % static_cast<size_t>(width)) + "열 " +
                                   std::to_string(i / static_cast<size_t>(width)) +
                                   "행의 높이가 유한한 수가 아닙니다.");
    *out = std::move(image);
    return true;
}

std::vector<float> HeightsOf(const HeightmapImage& image, HeightRange range) {
    if (image.bits == 32)
        return image.heights;
    std::vector<float> heights(image.codes.size());
    const double low = range.low;
    const double span = static_cast<double>(range.high) - low;
    const double maxCode = image.MaxCode();
    for (size_t i = 0; i < heights.size(); ++i)
        heights[i] = static_cast<float>(low + span * (image.codes[i] / maxCode));
    return heights;
}

HeightRange HeightRangeOf(const float* heights, size_t count) {
    if (count == 0)
        return {};
    const auto [lowest, highest] = std::minmax_element(heights, heights + count);
    return HeightRange{*lowest, *highest};
}

bool EncodeHeightmap(HeightmapFormat format, int32_t width, int32_t depth, const float* heights,
                     HeightRange range, std::vector<uint8_t>* out, size_t* clipped,
                     std::string* error) {
    if (clipped)
        *clipped = 0;
    if (!SideFits(width) || !SideFits(depth))
        return Fail(error, SizeProblem(width, depth));
    const size_t count = static_cast<size_t>(width) * static_cast<size_t>(depth);
    if (format != HeightmapFormat::Raw32 &&
        (!std::isfinite(range.low) || !std::isfinite(range.high)))
        return Fail(error, "높이 범위는 유한한 수여야 합니다.");
    try {
        switch (format) {
        case HeightmapFormat::Raw32: {
            const auto* bytes = reinterpret_cast<const uint8_t*>(heights);
            out->assign(bytes, bytes + count * 4);
            return true;
        }
        case HeightmapFormat::Raw16: {
            const std::vector<uint16_t> codes = Codes(heights, count, range, clipped);
            const auto* bytes = reinterpret_cast<const uint8_t*>(codes.data());
            out->assign(bytes, bytes + count * 2);
            return true;
        }
        case HeightmapFormat::Png: {
            const std::vector<uint16_t> codes = Codes(heights, count, range, clipped);
            return EncodePng(width, depth, 16, codes.data(), &range, out, error);
        }
        default:
            return Fail(error, "높이맵으로 쓸 수 없는 형식입니다 (.png, .r16, .raw, .r32).");
        }
    } catch (const std::bad_alloc&) {
        return Fail(error, "높이맵을 만들 메모리가 부족합니다.");
    }
}

bool EncodeGreyPng8(int32_t width, int32_t height, const uint8_t* pixels, std::vector<uint8_t>* out,
                    std::string* error) {
    if (width <= 0 || height <= 0)
        return Fail(error, "빈 이미지는 쓸 수 없습니다.");
    return EncodePng(width, height, 8, pixels, nullptr, out, error);
}
