#include "d3dx9.h"
#include "memory_device.h"
#include "paths.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace {

namespace fs = std::filesystem;

const fs::path kImages = fs::path(VELDMARK_TEST_DATA) / "images";

std::vector<char> ReadBytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void WriteBytes(const fs::path& path, const std::vector<char>& bytes) {
    std::ofstream(path, std::ios::binary).write(bytes.data(), std::streamsize(bytes.size()));
}

int Channel(uint32_t texel, int c) {
    return static_cast<int>((texel >> (8 * c)) & 0xFF);
}

class TextureLoad : public ::testing::Test {
protected:
    void SetUp() override { fs::create_directories(temp); }
    void TearDown() override {
        if (texture)
            texture->Release();
        fs::remove_all(temp);
    }
    HRESULT Load(const fs::path& path) {
        if (texture)
            texture->Release();
        auto* const stale = reinterpret_cast<IDirect3DTexture9*>(this);
        IDirect3DTexture9* made = stale; // the loader must overwrite it, on failure too
        HRESULT hr = D3DXCreateTextureFromFileW(&device, Utf8ToWide(path.string()).c_str(), &made);
        EXPECT_NE(made, stale);
        texture = made == stale ? nullptr : static_cast<MemoryTexture*>(made);
        return hr;
    }
    uint32_t Texel(UINT level, UINT x, UINT y) const { return texture->Texel(level, x, y); }

    const fs::path temp =
        fs::temp_directory_path() / ("veldmark-texture-" + std::to_string(getpid()));
    MemoryDevice device;
    MemoryTexture* texture = nullptr;
};

TEST_F(TextureLoad, EveryImageKindLoadsWithItsSizeTexelsAndMipChain) {
    // Texels (x, y, argb) as ImageMagick decodes them, 16-bit samples reduced to 8; JPEG
    // decoders differ slightly in their inverse transforms.
    const fs::path korean = temp / "잔디 텍스처.jpg";
    fs::copy_file(kImages / "grass.jpg", korean);
    const struct {
        fs::path file;
        UINT width, height, levels;
        int tolerance;
        UINT x, y;
        uint32_t argb;
    } cases[] = {
        {"grass.jpg", 256, 256, 9, 8, 85, 64, 0xFF148207u},
        {korean, 256, 256, 9, 8, 0, 0, 0xFF048302u},
        {"rock-progressive.jpg", 256, 256, 9, 8, 255, 255, 0xFF363636u},
        {"sand-37x23.bmp", 37, 23, 6, 0, 36, 0, 0xFFE6DD8Au},
        {"palette8.bmp", 64, 64, 7, 0, 0, 0, 0xFFE91906u},
        {"snow-16bit.png", 32, 32, 6, 1, 31, 0, 0xFFFFFAD4u},
        {"grey-gradient.png", 128, 128, 8, 1, 64, 64, 0xFF7E7E7Eu},
        {"alpha-disc.png", 64, 64, 7, 0, 32, 32, 0x80FF0000u},
        {"palette.png", 100, 60, 7, 0, 99, 59, 0xFF763B21u},
        {"interlaced.png", 40, 24, 6, 1, 13, 6, 0xFF852D95u}, // from a late pass
        {"checker-nonsquare.png", 800, 400, 10, 0, 799, 0, 0xFF666666u},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file.string());
        device.ClearLog();
        ASSERT_EQ(Load(kImages / c.file), D3D_OK) << D3DXGetLastTextureError();
        EXPECT_STREQ(D3DXGetLastTextureError(), "");
        const auto create = device.Calls(DeviceOp::CreateTexture);
        ASSERT_EQ(create.size(), 1u);
        EXPECT_TRUE(create[0].args[2] == 0 && create[0].args[4] == D3DFMT_A8R8G8B8 &&
                    create[0].args[5] == D3DPOOL_MANAGED); // the full chain
        EXPECT_TRUE(texture->levels[0].width == c.width && texture->levels[0].height == c.height);
        EXPECT_EQ(texture->GetLevelCount(), c.levels);
        EXPECT_TRUE(texture->levels.back().width == 1 && texture->levels.back().height == 1);
        for (int ch = 0; ch < 4; ++ch)
            EXPECT_NEAR(Channel(Texel(0, c.x, c.y), ch), Channel(c.argb, ch), c.tolerance);
        for (const auto& level : texture->levels)
            EXPECT_FALSE(level.locked);
    }
}

TEST_F(TextureLoad, SmallerLevelsAverageTheTexelsTheyCover) {
    ASSERT_EQ(Load(kImages / "sand-37x23.bmp"), D3D_OK);
    EXPECT_TRUE(texture->levels[1].width == 18 && texture->levels[1].height == 11);
    // Level 1 texel (5, 3) covers columns 10..11 and rows 6..7; the last column also takes
    // the odd column 36.
    for (int c = 0; c < 4; ++c) {
        int inner = 0, edge = 0;
        for (UINT y = 0; y < 2; ++y) {
            for (UINT x = 0; x < 2; ++x)
                inner += Channel(Texel(0, 10 + x, 6 + y), c);
            for (UINT x = 34; x < 37; ++x)
                edge += Channel(Texel(0, x, y), c);
        }
        EXPECT_EQ(Channel(Texel(1, 5, 3), c), (inner + 2) / 4);
        EXPECT_EQ(Channel(Texel(1, 17, 0), c), (edge + 3) / 6);
    }
    // A half-transparent disc keeps its transparent corners down the chain; the single last
    // texel mixes both.
    ASSERT_EQ(Load(kImages / "alpha-disc.png"), D3D_OK);
    EXPECT_EQ(Channel(Texel(3, 0, 0), 3), 0);
    const int last = Channel(Texel(6, 0, 0), 3);
    EXPECT_TRUE(last > 0 && last < 0x80) << last;
}

TEST_F(TextureLoad, BrokenMissingAndAbsurdFilesAndDeviceFailuresFailCleanly) {
    std::vector<fs::path> bad = {kImages};
    for (const char* file : {"truncated.jpg", "huffman-overflow.jpg", "huffman-bad-code.jpg",
                             "garbage.png", "empty.bmp", "no-such-file.png"})
        bad.push_back(kImages / file);
    auto write = [&](const std::string& name, const std::vector<char>& bytes) {
        bad.push_back(temp / name);
        WriteBytes(bad.back(), bytes);
    };
    // Every real kind cut in half, or cut just before its last bytes.
    for (const char* file : {"grass.jpg", "rock-progressive.jpg", "sand-37x23.bmp", "palette8.bmp",
                             "snow-16bit.png", "interlaced.png", "palette.png"}) {
        const std::vector<char> bytes = ReadBytes(kImages / file);
        write(std::string("half-") + file, {bytes.begin(), bytes.begin() + bytes.size() / 2});
        write(std::string("short-") + file, {bytes.begin(), bytes.end() - 4});
    }
    // Headers that claim absurd sizes.
    for (uint32_t side : {100000u, 16000u, 0u}) {
        std::vector<char> png = ReadBytes(kImages / "palette.png");
        for (int i = 0; i < 4; ++i)
            png[16 + i] = png[20 + i] = static_cast<char>(side >> (24 - 8 * i)); // IHDR w, h
        write("huge-" + std::to_string(side) + ".png", png);
    }
    std::vector<char> bmp = ReadBytes(kImages / "palette8.bmp");
    bmp[22] = bmp[23] = bmp[24] = static_cast<char>(0xFF);
    bmp[25] = 0x7F; // height 2^31 - 1
    write("tall.bmp", bmp);
    write("text.jpg", {'h', 'e', 'l', 'l', 'o'});
    // Huffman tables whose code-length counts name more than the 256 symbols a table holds
    // (above, one met after a scan, which only the decoder finds; and a code that maps past
    // its table): the decoder would write or read past its tables.
    std::vector<char> jpeg = ReadBytes(kImages / "grass.jpg");
    const char dht[] = {char(0xFF), char(0xC4)};
    const auto table = std::search(jpeg.begin() + 2, jpeg.end(), dht, dht + 2);
    ASSERT_LT(table + 21, jpeg.end());
    table[19] = table[20] = char(0xFF); // the 15- and 16-bit counts
    write("overfull-huffman.jpg", jpeg);

    // Each refused with its reason: what is not a file, images that end before their
    // picture is complete although every marker or chunk is in place, and valid images
    // too large to load.
    const std::string truncated = "이미지 데이터가 중간에 끝납니다 (잘린 파일)";
    std::vector<std::pair<fs::path, std::string>> reasons = {
        {kImages, "폴더입니다"},
        {temp / "pipe.png", "일반 파일이 아닙니다"},
        {kImages / "header-only-progressive.jpg", truncated},
    };
    ASSERT_EQ(::mkfifo(reasons[1].first.c_str(), 0600), 0);
    const std::vector<char> rock = ReadBytes(kImages / "rock-progressive.jpg");
    const auto lastScan = std::find_end(rock.begin(), rock.end(), dht, dht + 2);
    std::vector<char> early(rock.begin(), lastScan); // the last refinement scan left out
    early.insert(early.end(), {char(0xFF), char(0xD9)});
    write("no-last-scan.jpg", early);
    reasons.push_back({bad.back(), truncated});
    std::vector<char> noData = ReadBytes(kImages / "palette.png");
    const char idat[] = {'I', 'D', 'A', 'T'};
    const auto chunk = std::search(noData.begin(), noData.end(), idat, idat + 4) - 4;
    const auto iend = std::search(noData.begin(), noData.end(), "IEND", "IEND" + 4) - 4;
    noData.erase(chunk, iend); // header and palette, then the end chunk
    write("no-data.png", noData);
    reasons.push_back({bad.back(), truncated});
    reasons.push_back({temp / "huge-100000.png", "100000 × 100000 (한 변 16384, 모두 67108864"});
    std::vector<char> wide = ReadBytes(kImages / "palette.png");
    for (int i = 0; i < 4; ++i)
        wide[16 + i] = wide[20 + i] = static_cast<char>(10000u >> (24 - 8 * i));
    write("wide.png", wide); // each side fits, the texel count does not
    reasons.push_back({bad.back(), "이미지가 너무 큽니다: 10000 × 10000"});
    for (const auto& [path, reason] : reasons) {
        if (std::find(bad.begin(), bad.end(), path) == bad.end())
            bad.push_back(path);
    }

    for (const fs::path& path : bad) {
        SCOPED_TRACE(path.string());
        EXPECT_TRUE(FAILED(Load(path)));
        EXPECT_EQ(texture, nullptr);
        const std::string error = D3DXGetLastTextureError();
        EXPECT_NE(error.find(path.filename().string()), std::string::npos) << error;
        EXPECT_TRUE(device.Calls(DeviceOp::CreateTexture).empty());
        for (const auto& [refused, reason] : reasons) {
            if (refused == path) {
                EXPECT_NE(error.find(reason), std::string::npos) << error;
            }
        }
    }
    EXPECT_EQ(D3DXCreateTextureFromFileW(nullptr, L"x.png", nullptr), D3DERR_INVALIDCALL);

    // A device that cannot make or lock the texture.
    for (bool DeviceFailures::*flag : {&DeviceFailures::createTexture, &DeviceFailures::lockRect}) {
        (*device.failures).*flag = true;
        EXPECT_TRUE(FAILED(Load(kImages / "palette.png")) && texture == nullptr);
        (*device.failures).*flag = false;
    }
}

// A 5 x 3 RLE4 image with a run, an absolute run, a delta and the end code; rows bottom-up.
std::vector<char> Rle4Bitmap(bool complete) {
    std::vector<char> data = {5, 0x12, 0, 0, 0, 5, 0x31, 0x23, 0x10, 0, 0, 0, 0, 2, 2, 0};
    if (complete)
        data.insert(data.end(), {3, 0x33, 0, 1});
    std::vector<char> b = {'B', 'M'};
    auto u32 = [&](uint32_t v) {
        for (int i = 0; i < 4; ++i)
            b.push_back(static_cast<char>(v >> (8 * i)));
    };
    const auto size = static_cast<uint32_t>(data.size());
    for (uint32_t v :
         {118 + size, 0u, 118u, 40u, 5u, 3u, 0x00040001u /* planes, bits */, 2u /* BI_RLE4 */, size,
          0u, 0u, 16u, 0u, 0x000000u /* the palette */, 0xFF0000u, 0x00FF00u, 0x0000FFu})
        u32(v);
    b.resize(118);
    b.insert(b.end(), data.begin(), data.end());
    return b;
}

TEST_F(TextureLoad, RunLengthBitmapsExpandAndACutOneFails) {
    WriteBytes(temp / "rle4.bmp", Rle4Bitmap(true));
    WriteBytes(temp / "rle4-cut.bmp", Rle4Bitmap(false));
    ASSERT_EQ(Load(temp / "rle4.bmp"), D3D_OK) << D3DXGetLastTextureError();
    const uint32_t k = 0xFF000000u, r = 0xFFFF0000u, g = 0xFF00FF00u, b = 0xFF0000FFu;
    const uint32_t expected[3][5] = {{k, k, b, b, b}, {b, r, g, b, r}, {r, g, r, g, r}};
    for (UINT y = 0; y < 3; ++y)
        for (UINT x = 0; x < 5; ++x)
            EXPECT_EQ(Texel(0, x, y), expected[y][x]) << x << "," << y;
    EXPECT_TRUE(FAILED(Load(temp / "rle4-cut.bmp")));
    EXPECT_NE(std::string(D3DXGetLastTextureError()).find("잘린 파일"), std::string::npos);
}

} // namespace
