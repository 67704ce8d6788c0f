// veldmark-convert: heightmaps and MapVertexData files from one format to another, and what
// a file holds. A thin shell over the terrain's own file code; no window, no device.
#include "KrTerrain.h"
#include "grid_layout.h"
#include "heightmap.h"
#include "mvd_file.h"
#include "safe_file.h"
#include "splat_file.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <optional>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace {

constexpr int kBadInput = 1;
constexpr int kUsage = 2;
constexpr float kDefaultSpacing = 10.0f;
// A 4097 × 4097 RAW 32 file, with room for a PNG that compresses badly.
constexpr uint64_t kMaxImageBytes = 512ull << 20;

const char* const kUsageText =
    "사용법: veldmark-convert 입력 출력 [--range 최저 최고] [--spacing 간격] [--size 가로x세로]\n"
    "        veldmark-convert --info 파일 [--range 최저 최고] [--size 가로x세로]\n"
    "형식은 확장자로 정합니다: .mvd, .png (16비트 회색조), .r16 / .raw (16비트 RAW), .r32 "
    "(32비트 실수 RAW).\n"
    "--range   이미지의 가장 낮은 코드와 가장 높은 코드가 나타내는 높이 (읽을 때), 또는\n"
    "          코드 0과 65535에 옮길 높이 (.mvd를 이미지로 쓸 때)\n"
    "--spacing 이미지로 만드는 .mvd 격자의 칸 간격 (기본값 10)\n"
    "--size    정사각형이 아닌 RAW 파일의 크기\n";

struct Options {
    bool info = false;
    std::vector<std::string> files;
    std::optional<HeightRange> range;
    std::optional<float> spacing;
    int32_t width = 0, depth = 0;
};

template <class T> bool ParseNumber(const std::string& text, T* value) {
    const char* end = text.data() + text.size();
    const auto [stop, ec] = std::from_chars(text.data(), end, *value);
    return ec == std::errc() && stop == end;
}

bool ParseFloat(const std::string& text, float* value) {
    return ParseNumber(text, value) && std::isfinite(*value);
}

bool ParseSize(const std::string& text, int32_t* width, int32_t* depth) {
    const size_t x = text.find_first_of("xX");
    return x != std::string::npos && ParseNumber(text.substr(0, x), width) &&
           ParseNumber(text.substr(x + 1), depth) && *width > 0 && *depth > 0;
}

bool ParseArguments(int argc, char** argv, Options* o, std::string* problem) {
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const auto value = [&](int n) {
            if (i + n >= argc) {
                *problem = arg + " 뒤에 값이 " + std::to_string(n) + "개 있어야 합니다.";
                return false;
            }
            return true;
        };
        if (arg == "--info") {
            o->info = true;
        } else if (arg == "--range") {
            HeightRange r;
            if (!value(2))
                return false;
            if (!ParseFloat(argv[i + 1], &r.low) || !ParseFloat(argv[i + 2], &r.high)) {
                *problem = "--range의 값은 유한한 수 두 개여야 합니다.";
                return false;
            }
            o->range = r;
            i += 2;
        } else if (arg == "--spacing") {
            float s = 0;
            if (!value(1))
                return false;
            if (!ParseFloat(argv[i + 1], &s) || s <= 0.0f) {
                *problem = "--spacing의 값은 0보다 큰 수여야 합니다.";
                return false;
            }
            o->spacing = s;
            ++i;
        } else if (arg == "--size") {
            if (!value(1))
                return false;
            if (!ParseSize(argv[i + 1], &o->width, &o->depth)) {
                *problem = "--size의 값은 가로x세로 꼴이어야 합니다 (예: 513x257).";
                return false;
            }
            ++i;
        } else if (arg.size() > 1 && arg[0] == '-' && arg != "-") {
            *problem = "모르는 옵션입니다: " + arg;
            return false;
        } else {
            o->files.push_back(arg);
        }
    }
    const size_t wanted = o->info ? 1 : 2;
    if (o->files.size() != wanted) {
        *problem = o->info ? "--info에는 파일 하나를 주어야 합니다."
                           : "입력 파일과 출력 파일을 주어야 합니다.";
        return false;
    }
    for (const std::string& file : o->files) {
        if (HeightmapFormatOf(file) == HeightmapFormat::Unknown) {
            *problem = "확장자로 형식을 알 수 없습니다: " + file;
            return false;
        }
    }
    return true;
}

std::string Number(float value) {
    char buffer[32];
    const auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, value);
    return ec == std::errc() ? std::string(buffer, end) : std::string("?");
}

// A grid read from any of the formats: its heights, and for a MapVertexData file the
// whole vertex data.
struct Grid {
    int32_t width = 0, depth = 0;
    std::vector<float> heights;
    MapVertexData mvd;     // vertices set only when read from a MapVertexData file
    HeightmapImage image;  // bits set only when read from an image
    HeightRange codeRange; // what the image's codes were read as
    const char* rangeSource = "";
};

bool ReadGrid(const std::string& path, const Options& o, Grid* grid, std::string* error) {
    const HeightmapFormat format = HeightmapFormatOf(path);
    if (format == HeightmapFormat::MapVertexData) {
        if (!ReadMapVertexData(path.c_str(), &grid->mvd, error))
            return false;
        grid->width = grid->mvd.info.vertsPerRow;
        grid->depth = grid->mvd.info.vertsPerCol;
        grid->heights.resize(static_cast<size_t>(grid->mvd.info.numVertices));
        for (size_t i = 0; i < grid->heights.size(); ++i)
            grid->heights[i] = grid->mvd.vertices[i].y;
        return true;
    }
    std::vector<uint8_t> bytes;
    if (!ReadRegularFile(path.c_str(), kMaxImageBytes, &bytes, error))
        return false;
    if (!DecodeHeightmap(format, bytes.data(), bytes.size(), o.width, o.depth, &grid->image,
                         error)) {
        if (format != HeightmapFormat::Png && o.width == 0)
            *error += " (--size 가로x세로로 크기를 줄 수 있습니다)";
        return false;
    }
    grid->width = grid->image.width;
    grid->depth = grid->image.depth;
    if (grid->image.bits != 32) {
        grid->codeRange = o.range                ? *o.range
                          : grid->image.hasRange ? grid->image.range
                                                 : kDefaultHeightRange;
        grid->rangeSource = o.range                ? "--range"
                            : grid->image.hasRange ? "파일에 기록된 범위"
                                                   : "기본값";
    }
    grid->heights = HeightsOf(grid->image, grid->codeRange);
    return true;
}

int Fail(const std::string& reason) {
    std::fprintf(stderr, "veldmark-convert: %s\n", reason.c_str());
    return kBadInput;
}

int Info(const Options& o) {
    Grid grid;
    std::string error;
    if (!ReadGrid(o.files[0], o, &grid, &error))
        return Fail(o.files[0] + ": " + error);
    const HeightRange r = HeightRangeOf(grid.heights.data(), grid.heights.size());
    std::printf("크기: %d × %d\n", grid.width, grid.depth);
    if (grid.mvd.vertices) {
        const KrTerrainInfo& info = grid.mvd.info;
        std::printf("간격: %s %s %s\n", Number(info.cellSpacingX).c_str(),
                    Number(info.cellSpacingY).c_str(), Number(info.cellSpacingZ).c_str());
    } else {
        std::printf("형식: %d비트%s\n", grid.image.bits, grid.image.bits == 32 ? " 실수" : " 코드");
        if (grid.image.bits != 32)
            std::printf("코드 범위: %s %s (%s)\n", Number(grid.codeRange.low).c_str(),
                        Number(grid.codeRange.high).c_str(), grid.rangeSource);
    }
    std::printf("최저 높이: %s\n최고 높이: %s\n", Number(r.low).c_str(), Number(r.high).c_str());
    return 0;
}

int Convert(const Options& o) {
    const std::string& in = o.files[0];
    const std::string& out = o.files[1];
    Grid grid;
    std::string error;
    if (!ReadGrid(in, o, &grid, &error))
        return Fail(in + ": " + error);

    const HeightmapFormat format = HeightmapFormatOf(out);
    if (format == HeightmapFormat::MapVertexData) {
        const KrTerrainVertex* vertices = grid.mvd.vertices.get();
        KrTerrainInfo info = grid.mvd.info;
        std::unique_ptr<KrTerrainVertex[]> made;
        if (!vertices) {
            const float s = o.spacing.value_or(kDefaultSpacing);
            if (!IsValidTerrainSize(grid.width, grid.depth, s))
                return Fail("간격 " + Number(s) + "으로는 " + std::to_string(grid.width) + " × " +
                            std::to_string(grid.depth) + " 격자가 너무 큽니다.");
            info.InitInfo(grid.width, grid.depth, s, s, s);
            made.reset(new KrTerrainVertex[static_cast<size_t>(info.numVertices)]);
            LayOutGridRows(info, 0, info.vertsPerCol, made.get());
            for (size_t i = 0; i < grid.heights.size(); ++i)
                made[i].y = grid.heights[i];
            vertices = made.get();
        }
        if (!WriteMapVertexData(out.c_str(), info, vertices, &error))
            return Fail(out + ": " + error);
        if (grid.image.bits == 16 || grid.image.bits == 8)
            std::printf("범위: %s %s\n", Number(grid.codeRange.low).c_str(),
                        Number(grid.codeRange.high).c_str());
        struct stat st {};
        const std::string painting = SplatPathFor(out);
        if (::stat(painting.c_str(), &st) == 0)
            std::fprintf(stderr,
                         "veldmark-convert: 참고: %s 은(는) 전의 %s 와 함께 저장된 텍스쳐 "
                         "칠하기라서 편집기가 적용하지 않습니다.\n",
                         painting.c_str(), out.c_str());
        return 0;
    }

    // Codes keep the range they were read with, so an image converted to another image
    // keeps its codes; heights from a MapVertexData file or floats take their own range.
    HeightRange range = o.range.value_or(HeightRangeOf(grid.heights.data(), grid.heights.size()));
    if (!o.range && (grid.image.bits == 8 || grid.image.bits == 16))
        range = grid.codeRange;
    std::vector<uint8_t> bytes;
    size_t clipped = 0;
    if (!EncodeHeightmap(format, grid.width, grid.depth, grid.heights.data(), range, &bytes,
                         &clipped, &error))
        return Fail(out + ": " + error);
    if (!WriteFileAtomically(out.c_str(), bytes.data(), bytes.size(), &error))
        return Fail(out + ": " + error);
    if (format != HeightmapFormat::Raw32) {
        std::printf("범위: %s %s\n", Number(range.low).c_str(), Number(range.high).c_str());
        if (clipped)
            std::printf("범위 밖이라 잘린 높이: %zu개\n", clipped);
    }
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    Options options;
    std::string problem;
    if (!ParseArguments(argc, argv, &options, &problem)) {
        std::fprintf(stderr, "veldmark-convert: %s\n%s", problem.c_str(), kUsageText);
        return kUsage;
    }
    try {
        return options.info ? Info(options) : Convert(options);
    } catch (const std::bad_alloc&) {
        return Fail("메모리가 부족합니다.");
    }
}
