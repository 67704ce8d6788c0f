// Heightmaps in and out: the formats, the ranges, the orientation and the terrain's import.
#include "grid_layout.h"
#include "heightmap.h"
#include "mvd_file.h"
#include "terrain_fixture.h"

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>

namespace {

using Bytes = std::vector<uint8_t>;

Bytes ReadData(const char* name) {
    std::ifstream in(std::string(VELDMARK_TEST_DATA) + "/images/" + name, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

std::vector<float> RandomHeights(size_t count, float low, float high, unsigned seed) {
    std::mt19937 random(seed);
    std::uniform_real_distribution<float> height(low, high);
    std::vector<float> h(count);
    for (float& v : h)
        v = height(random);
    return h;
}

bool Decode(HeightmapFormat format, const Bytes& b, HeightmapImage* image, std::string* error,
            int32_t w = 0, int32_t d = 0) {
    return DecodeHeightmap(format, b.data(), b.size(), w, d, image, error);
}

TEST(Heightmap, RoundTripsInEveryFormat) {
    const int32_t w = 37, d = 23;
    std::vector<float> heights = RandomHeights(size_t(w) * d, -120.0f, 830.0f, 3);
    heights[5] = -200.0f;
    heights[9] = 900.25f;
    const HeightRange own = HeightRangeOf(heights.data(), heights.size());
    EXPECT_EQ(own.low, -200.0f);
    EXPECT_EQ(own.high, 900.25f);
    // Half a code step, and the single-precision rounding of the result.
    const float halfStep = (own.high - own.low) / 65535.0f / 2.0f;
    const float slack = halfStep + std::nextafter(own.high, 2000.0f) - own.high;

    for (HeightmapFormat format : {HeightmapFormat::Png, HeightmapFormat::Raw16}) {
        Bytes bytes;
        size_t clipped = 99;
        std::string error;
        ASSERT_TRUE(EncodeHeightmap(format, w, d, heights.data(), own, &bytes, &clipped, &error))
            << error;
        EXPECT_EQ(clipped, 0u);
        HeightmapImage image;
        ASSERT_TRUE(Decode(format, bytes, &image, &error, w, d)) << error;
        EXPECT_EQ(image.bits, 16);
        EXPECT_EQ(image.width, w);
        EXPECT_EQ(image.depth, d);
        // The PNG carries its range; RAW has none and is read with the one given.
        EXPECT_EQ(image.hasRange, format == HeightmapFormat::Png);
        if (image.hasRange) {
            EXPECT_EQ(image.range.low, own.low);
            EXPECT_EQ(image.range.high, own.high);
        }
        EXPECT_EQ(*std::min_element(image.codes.begin(), image.codes.end()), 0);
        EXPECT_EQ(*std::max_element(image.codes.begin(), image.codes.end()), 65535);
        const std::vector<float> back = HeightsOf(image, own);
        for (size_t i = 0; i < heights.size(); ++i)
            ASSERT_LE(std::fabs(back[i] - heights[i]), slack) << i;
    }

    Bytes bytes;
    std::string error;
    ASSERT_TRUE(
        EncodeHeightmap(HeightmapFormat::Raw32, w, d, heights.data(), {}, &bytes, nullptr, &error));
    ASSERT_EQ(bytes.size(), heights.size() * 4);
    HeightmapImage image;
    ASSERT_TRUE(Decode(HeightmapFormat::Raw32, bytes, &image, &error, w, d)) << error;
    EXPECT_EQ(std::memcmp(HeightsOf(image, {}).data(), heights.data(), bytes.size()), 0);
}

TEST(Heightmap, TypedRangesClipAndFlatTerrainsExport) {
    const std::vector<float> heights = {-5, 0, 5, 10, 20, 30};
    Bytes bytes;
    size_t clipped = 0;
    std::string error;
    ASSERT_TRUE(EncodeHeightmap(HeightmapFormat::Raw16, 3, 2, heights.data(), {0, 10}, &bytes,
                                &clipped, &error));
    EXPECT_EQ(clipped, 3u);
    std::vector<uint16_t> codes(6);
    std::memcpy(codes.data(), bytes.data(), 12);
    EXPECT_EQ(codes, std::vector<uint16_t>({0, 0, 32768, 65535, 65535, 65535}));

    const std::vector<float> flat(6, 4.5f);
    ASSERT_TRUE(EncodeHeightmap(HeightmapFormat::Png, 3, 2, flat.data(), {4.5f, 4.5f}, &bytes,
                                &clipped, &error));
    EXPECT_EQ(clipped, 0u);
    HeightmapImage image;
    ASSERT_TRUE(Decode(HeightmapFormat::Png, bytes, &image, &error));
    EXPECT_EQ(HeightsOf(image, image.range), flat);
}

TEST(Heightmap, EightBitGreyReadsAs256LevelsAndColourIsRefused) {
    const Bytes pixels = {0, 51, 255, 102, 204, 153};
    Bytes png;
    std::string error;
    ASSERT_TRUE(EncodeGreyPng8(3, 2, pixels.data(), &png, &error)) << error;
    HeightmapImage image;
    ASSERT_TRUE(Decode(HeightmapFormat::Png, png, &image, &error)) << error;
    EXPECT_EQ(image.bits, 8);
    EXPECT_EQ(image.MaxCode(), 255u);
    EXPECT_FALSE(image.hasRange);
    EXPECT_EQ(HeightsOf(image, {0, 100}), std::vector<float>({0, 20, 100, 40, 80, 60}));

    // A 16-bit greyscale file from another program reads too.
    ASSERT_TRUE(Decode(HeightmapFormat::Png, ReadData("grey-gradient.png"), &image, &error))
        << error;
    EXPECT_EQ(image.bits, 16);
    EXPECT_EQ(image.width, 128);

    // Grey of fewer bits reads as 8 bits, its levels spread over 0 to 255.
    ASSERT_TRUE(Decode(HeightmapFormat::Png, ReadData("checker-nonsquare.png"), &image, &error))
        << error;
    EXPECT_EQ(image.bits, 8);
    EXPECT_EQ(image.width, 800);
    EXPECT_EQ(image.depth, 400);
    for (uint16_t code : image.codes)
        ASSERT_EQ(code % 17, 0) << code;

    for (const char* colour : {"palette.png", "snow-16bit.png", "interlaced.png"}) {
        EXPECT_FALSE(Decode(HeightmapFormat::Png, ReadData(colour), &image, &error)) << colour;
        EXPECT_NE(error.find("회색조"), std::string::npos) << colour << ": " << error;
    }
}

TEST(Heightmap, BrokenFilesAndSizesOutOfRangeAreRefused) {
    std::string error;
    HeightmapImage image;
    Bytes png;
    const std::vector<float> line(4098 * 2, 1.0f);
    // Sizes outside 2 to 4097 a side are neither written nor read.
    for (auto [w, d] : {std::pair{1, 5}, std::pair{4098, 2}})
        EXPECT_FALSE(EncodeHeightmap(HeightmapFormat::Png, w, d, line.data(), {0, 1}, &png, nullptr,
                                     &error));
    const Bytes wide(4098 * 2, 9);
    ASSERT_TRUE(EncodeGreyPng8(4098, 2, wide.data(), &png, &error));
    EXPECT_FALSE(Decode(HeightmapFormat::Png, png, &image, &error));
    EXPECT_NE(error.find("4098"), std::string::npos) << error;
    ASSERT_TRUE(EncodeGreyPng8(1, 3, wide.data(), &png, &error));
    EXPECT_FALSE(Decode(HeightmapFormat::Png, png, &image, &error));
    EXPECT_FALSE(Decode(HeightmapFormat::Raw16, Bytes(2 * 1 * 4097), &image, &error, 1, 4097));

    // A PNG cut anywhere, even after its picture, is refused; so is one bit flipped.
    ASSERT_TRUE(EncodeGreyPng8(3, 2, wide.data(), &png, &error));
    for (size_t keep : {size_t{0}, size_t{8}, size_t{40}, png.size() - 13, png.size() - 1})
        EXPECT_FALSE(
            Decode(HeightmapFormat::Png, Bytes(png.begin(), png.begin() + keep), &image, &error))
            << keep;
    Bytes flipped = png;
    flipped[png.size() - 20] ^= 1;
    EXPECT_FALSE(Decode(HeightmapFormat::Png, flipped, &image, &error));

    // RAW: a square from the size, or the size given; nothing else.
    EXPECT_EQ(SquareRawSide(2 * 513 * 513, 2), 513);
    EXPECT_EQ(SquareRawSide(4 * 4097 * 4097, 4), 4097);
    EXPECT_EQ(SquareRawSide(2 * 513 * 512, 2), 0);
    EXPECT_EQ(SquareRawSide(7, 2), 0);
    EXPECT_FALSE(Decode(HeightmapFormat::Raw16, Bytes(2 * 6), &image, &error));
    EXPECT_NE(error.find("정사각형"), std::string::npos);
    EXPECT_TRUE(Decode(HeightmapFormat::Raw16, Bytes(2 * 6), &image, &error, 3, 2));
    EXPECT_FALSE(Decode(HeightmapFormat::Raw16, Bytes(2 * 6), &image, &error, 2, 2));
    EXPECT_FALSE(Decode(HeightmapFormat::Raw16, Bytes(2 * 9 + 1), &image, &error));
    Bytes nan(4 * 4, 0);
    nan[14] = 0xC0, nan[15] = 0x7F; // the fourth float is a NaN
    EXPECT_FALSE(Decode(HeightmapFormat::Raw32, nan, &image, &error));

    EXPECT_EQ(HeightmapFormatOf("/a/b.PNG"), HeightmapFormat::Png);
    EXPECT_EQ(HeightmapFormatOf("x.raw"), HeightmapFormat::Raw16);
    EXPECT_EQ(HeightmapFormatOf("x.R32"), HeightmapFormat::Raw32);
    EXPECT_EQ(HeightmapFormatOf("x.tif"), HeightmapFormat::Unknown);
}

TEST(Heightmap, ImageRowZeroIsThePlusZEdgeAndColumnZeroTheMinusXEdge) {
    // A 4 × 3 image whose first pixel is the only high one.
    std::vector<uint8_t> pixels(12, 0);
    pixels[0] = 255;
    Bytes png;
    std::string error;
    ASSERT_TRUE(EncodeGreyPng8(4, 3, pixels.data(), &png, &error));
    HeightmapImage image;
    ASSERT_TRUE(Decode(HeightmapFormat::Png, png, &image, &error));
    MemoryTerrain m;
    const std::vector<float> heights = HeightsOf(image, {0, 50});
    ASSERT_TRUE(m.terrain.CreateFromHeights(4, 3, 10, 10, 10, heights.data(), &error)) << error;
    const KrTerrainVertex& corner = m.terrain.vertices[0];
    EXPECT_EQ(corner.y, 50.0f);
    EXPECT_LT(corner.x, 0.0f); // the -x edge
    EXPECT_GT(corner.z, 0.0f); // the +z edge
    EXPECT_EQ(corner.u, 0.0f);
    EXPECT_EQ(corner.v, 0.0f);
    EXPECT_EQ(m.terrain.GetHeight(corner.x, corner.z), 50.0f);

    // And out again: the raised corner comes back as the image's first pixel.
    std::vector<float> out(12);
    for (size_t i = 0; i < 12; ++i)
        out[i] = m.terrain.vertices[i].y;
    ASSERT_TRUE(
        EncodeHeightmap(HeightmapFormat::Png, 4, 3, out.data(), {0, 50}, &png, nullptr, &error));
    ASSERT_TRUE(Decode(HeightmapFormat::Png, png, &image, &error));
    EXPECT_EQ(image.codes[0], 65535);
    EXPECT_EQ(std::count(image.codes.begin(), image.codes.end(), 0), 11);
}

TEST(HeightImport, ReplacingHeightsGivesTheNewSurfacesNormalsAndUploadsThem) {
    MemoryTerrain m(33, 33, 10);
    KrTerrain& t = m.terrain;
    KrQuadTree* oldTree = t.quadTree;
    IDirect3DVertexBuffer9* buffer = t.vertexBuffer;
    const std::vector<float> heights = RandomHeights(33 * 33, -40, 90, 5);
    std::string error;
    ASSERT_TRUE(t.ReplaceHeights(heights.data(), &error)) << error;
    EXPECT_EQ(t.vertexBuffer, buffer); // the same grid, not a new one
    EXPECT_NE(t.quadTree, oldTree);    // its spheres follow the heights

    Vertices expected(t.vertices, t.vertices + 33 * 33);
    LayOutGridRows(t.info, 0, 33, expected.data());
    for (size_t i = 0; i < expected.size(); ++i)
        expected[i].y = heights[i];
    ComputeGridNormals(t.info, expected.data());
    EXPECT_EQ(std::memcmp(expected.data(), t.vertices, expected.size() * 32), 0);
    // A vertex inside a slope leans away from it: the normals are the new surface's.
    const KrTerrainVertex& v = t.vertices[16 * 33 + 16];
    EXPECT_NEAR(std::sqrt(v.nx * v.nx + v.ny * v.ny + v.nz * v.nz), 1.0f, 1e-6f);
    EXPECT_GT(v.ny, 0.0f);

    // The next frame uploads them, through the same pass as a brush stroke.
    t.UpdateTerrain(LookAt({0, 2000, 0}, {0, 0, 1}), CullProjection());
    EXPECT_TRUE(m.Holds(m.Master()));

    // Non-finite heights change nothing.
    std::vector<float> bad = heights;
    bad[100] = std::nanf("");
    const Vertices before = m.Master();
    EXPECT_FALSE(t.ReplaceHeights(bad.data(), &error));
    EXPECT_FALSE(error.empty());
    EXPECT_TRUE(m.Holds(before));
}

// A RAW 32 file may hold finite heights near the float limit; the import must still give
// finite normals, so the terrain it makes saves and loads again.
TEST(HeightImport, HugeFiniteHeightsGiveFiniteNormalsAndTheTerrainSavesAndLoads) {
    std::vector<float> heights(9 * 9);
    for (size_t i = 0; i < heights.size(); ++i)
        heights[i] = i % 3 == 0 ? 3e38f : (i % 2 ? -3e38f : 1e20f);
    MemoryTerrain same(9, 9);
    std::string error;
    ASSERT_TRUE(same.terrain.ReplaceHeights(heights.data(), &error)) << error;
    // Near-vertical faces may cancel at a vertex (a zero normal), but none is infinite or NaN.
    for (int i = 0; i < 81; ++i) {
        const KrTerrainVertex& v = same.terrain.vertices[i];
        ASSERT_TRUE(std::isfinite(v.nx) && std::isfinite(v.ny) && std::isfinite(v.nz)) << i;
    }
    std::string folder = (std::filesystem::temp_directory_path() / "veldmark-huge-XXXXXX").string();
    ASSERT_NE(::mkdtemp(folder.data()), nullptr);
    const std::string path = folder + "/huge.mvd";
    ASSERT_TRUE(same.terrain.SaveMapVertexData(path.c_str(), &error)) << error;
    MapVertexData back;
    EXPECT_TRUE(ReadMapVertexData(path.c_str(), &back, &error)) << error;
    std::filesystem::remove_all(folder);
}

TEST(HeightImport, ANewGridIsLaidOutAsANewTerrainAndFailuresKeepTheOld) {
    MemoryTerrain made(20, 11, 4);
    MemoryTerrain imported(5, 5);
    const std::vector<float> heights = RandomHeights(20 * 11, 0, 10, 9);
    std::string error;
    ASSERT_TRUE(imported.terrain.CreateFromHeights(20, 11, 4, 4, 4, heights.data(), &error))
        << error;
    EXPECT_EQ(std::memcmp(&made.terrain.info, &imported.terrain.info, sizeof(KrTerrainInfo)), 0);
    for (size_t i = 0; i < heights.size(); ++i) {
        KrTerrainVertex v = made.terrain.vertices[i];
        v.y = heights[i];
        ASSERT_EQ(std::memcmp(&v, &imported.terrain.vertices[i], 32), 0) << i;
    }
    EXPECT_TRUE(imported.Holds(imported.Master()));
    EXPECT_NE(imported.terrain.brushOutlineBuffer, nullptr);

    // A size or spacing that cannot make a grid, or a device that cannot hold it, leaves
    // the terrain as it was.
    const Vertices before = imported.Master();
    const std::vector<float> big(4098 * 2, 0.0f);
    EXPECT_FALSE(imported.terrain.CreateFromHeights(4098, 2, 1, 1, 1, big.data(), &error));
    EXPECT_FALSE(imported.terrain.CreateFromHeights(2, 2, 0, 1, 1, big.data(), &error));
    EXPECT_FALSE(imported.terrain.CreateFromHeights(2, 2, 1, 1, 1e30f, big.data(), &error));
    imported.device->failures->createIndexBuffer = true;
    EXPECT_FALSE(imported.terrain.CreateFromHeights(2, 2, 1, 1, 1, big.data(), &error));
    EXPECT_EQ(imported.terrain.info.vertsPerRow, 20);
    EXPECT_TRUE(imported.Holds(before));
}

} // namespace
