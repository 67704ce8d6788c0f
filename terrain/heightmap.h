// Heightmaps as other tools trade them: greyscale PNG, RAW 16-bit and RAW 32-bit float,
// little-endian. Image row 0 is grid row 0 (the +z edge) and column 0 the -x edge, as the
// texture coordinates and alpha maps run. Bytes and arrays in and out; no device, no files.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

enum class HeightmapFormat { Unknown, Png, Raw16, Raw32, MapVertexData };

// By the file name's extension, case-insensitive: .png, .r16 and .raw, .r32, .mvd.
HeightmapFormat HeightmapFormatOf(const std::string& path);

// The heights that the lowest and the highest code stand for.
struct HeightRange {
    float low = 0.0f;
    float high = 0.0f;
};

// Used where a file records no range of its own.
constexpr HeightRange kDefaultHeightRange{0.0f, 1000.0f};

struct HeightmapImage {
    int32_t width = 0;
    int32_t depth = 0;
    int bits = 0;                // 8 or 16: codes; 32: heights
    std::vector<uint16_t> codes; // 8 and 16 bits, row by row
    std::vector<float> heights;  // 32 bits
    bool hasRange = false;       // a range our own export recorded in the PNG
    HeightRange range;
    // How many levels the codes can take: 255 or 65535.
    uint32_t MaxCode() const { return bits == 8 ? 255u : 65535u; }
};

// The side of a square RAW file of this size, or 0 where no square fits.
int32_t SquareRawSide(uint64_t fileBytes, int bytesPerSample);

// Decodes a heightmap. RAW files take the given size, or with 0 × 0 a square from the file's
// size. Refuses colour PNGs, sizes outside 2 to kMaxTerrainSide a side, non-finite floats
// and anything damaged or cut short, with the reason in *error.
bool DecodeHeightmap(HeightmapFormat format, const uint8_t* data, size_t size, int32_t width,
                     int32_t depth, HeightmapImage* out, std::string* error);

// The heights an image stands for: codes mapped linearly onto range, floats as they are.
std::vector<float> HeightsOf(const HeightmapImage& image, HeightRange range);

// The lowest and highest of count heights.
HeightRange HeightRangeOf(const float* heights, size_t count);

// A W × D heightmap of these heights (row by row). PNG and RAW 16 map range linearly onto
// codes 0 to 65535, rounding to the nearest code and clipping heights outside range (counted
// in *clipped); PNG records range in a text chunk. RAW 32 writes the heights as they are.
bool EncodeHeightmap(HeightmapFormat format, int32_t width, int32_t depth, const float* heights,
                     HeightRange range, std::vector<uint8_t>* out, size_t* clipped,
                     std::string* error);

// An 8-bit greyscale PNG of these pixels (row by row), as splat maps are traded.
bool EncodeGreyPng8(int32_t width, int32_t height, const uint8_t* pixels, std::vector<uint8_t>* out,
                    std::string* error);
