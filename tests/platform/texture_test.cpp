#include "d3dx9.h"
#include "memory_device.h"
#include "paths.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

const fs::path kImages = fs::path(VELDMARK_TEST_DATA) / "images";

std::vector<char> ReadBytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void WriteBytes(const fs::path& path, const std::vector<char>& bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

struct TempDir {
    TempDir() {
        path = fs::temp_directory_path() / ("veldmark-texture-" + std::to_string(::getpid()));
        fs::create_directories(path);
    }
    ~TempDir() { fs::remove_all(path); }
    fs::path path;
};

HRESULT Load(MemoryDevice* device, const fs::path& path, MemoryTexture** out) {
    IDirect3DTexture9* texture = nullptr;
    HRESULT hr = D3DXCreateTextureFromFileW(device, Utf8ToWide(path.string()).c_str(), &texture);
    *out = static_cast<MemoryTexture*>(texture);
    return hr;
}

int Channel(uint32_t texel, int c) {
    return static_cast<int>((texel >> (8 * c)) & 0xFF);
}

bool Near(uint32_t a, uint32_t b, int tolerance) {
    for (int c = 0; c < 4; ++c)
        if (std::abs(Channel(a, c) - Channel(b, c)) > tolerance)
            return false;
    return true;
}

struct Texel {
    UINT x, y;
    uint32_t argb;
};

struct ImageCase {
    const char* file;
    UINT width, height, levels;
    int tolerance; // JPEG decoders differ slightly in their inverse transforms
    std::vector<Texel> texels;
};

TEST(TextureLoad, EveryImageKindLoadsWithItsSizeTexelsAndMipChain) {
    // Reference texels as ImageMagick decodes them (16-bit samples reduced to 8).
    const std::vector<ImageCase> cases = {
        {"grass.jpg",
         256,
         256,
         9,
         8,
         {{0, 0, 0xFF048302u}, {128, 128, 0xFF056E07u}, {85, 64, 0xFF148207u}}},
        {"rock-progressive.jpg",
         256,
         256,
         9,
         8,
         {{0, 0, 0xFF7E7E7Eu}, {128, 128, 0xFF555555u}, {255, 255, 0xFF363636u}}},
        {"sand-37x23.bmp",
         37,
         23,
         6,
         0,
         {{0, 0, 0xFFE5DB89u}, {36, 0, 0xFFE6DD8Au}, {18, 11, 0xFFD2E88Bu}, {36, 22, 0xFFABCE7Fu}}},
        {"palette8.bmp",
         64,
         64,
         7,
         0,
         {{0, 0, 0xFFE91906u}, {63, 0, 0xFFE80906u}, {63, 63, 0xFFFDFD02u}}},
        {"snow-16bit.png",
         32,
         32,
         6,
         1,
         {{0, 0, 0xFFF7FDFFu}, {31, 0, 0xFFFFFAD4u}, {31, 31, 0xFFADFFFFu}}},
        {"grey-gradient.png",
         128,
         128,
         8,
         1,
         {{0, 0, 0xFFFFFFFFu}, {64, 64, 0xFF7E7E7Eu}, {127, 127, 0xFF000000u}}},
        {"alpha-disc.png", 64, 64, 7, 0, {{32, 32, 0x80FF0000u}, {21, 16, 0x80FF0000u}}},
        {"palette.png",
         100,
         60,
         7,
         0,
         {{0, 0, 0xFFF18F0Bu}, {50, 30, 0xFFB14E0Eu}, {99, 59, 0xFF763B21u}}},
        {"interlaced.png",
         40,
         24,
         6,
         1,
         {{0, 0, 0xFF7D0777u}, {39, 0, 0xFF960D88u}, {20, 12, 0xFF9F3E92u}, {13, 6, 0xFF852D95u}}},
        {"checker-nonsquare.png",
         800,
         400,
         10,
         0,
         {{0, 0, 0xFF999999u}, {799, 0, 0xFF666666u}, {400, 200, 0xFF666666u}}},
    };
    for (const ImageCase& c : cases) {
        SCOPED_TRACE(c.file);
        MemoryDevice device;
        MemoryTexture* texture = nullptr;
        ASSERT_EQ(Load(&device, kImages / c.file, &texture), D3D_OK) << D3DXGetLastTextureError();
        ASSERT_NE(texture, nullptr);
        auto create = device.Calls(DeviceOp::CreateTexture);
        ASSERT_EQ(create.size(), 1u);
        EXPECT_EQ(create[0].args[2], 0u); // the full chain
        EXPECT_EQ(create[0].args[4], static_cast<DWORD>(D3DFMT_A8R8G8B8));
        EXPECT_EQ(create[0].args[5], static_cast<DWORD>(D3DPOOL_MANAGED));
        EXPECT_EQ(texture->levels[0].width, c.width);
        EXPECT_EQ(texture->levels[0].height, c.height);
        EXPECT_EQ(texture->GetLevelCount(), c.levels);
        EXPECT_EQ(texture->levels.back().width, 1u);
        EXPECT_EQ(texture->levels.back().height, 1u);
        for (const Texel& t : c.texels)
            EXPECT_TRUE(Near(texture->Texel(0, t.x, t.y), t.argb, c.tolerance))
                << t.x << "," << t.y << ": " << std::hex << texture->Texel(0, t.x, t.y)
                << " expected " << t.argb;
        for (const auto& level : texture->levels)
            EXPECT_FALSE(level.locked);
        texture->Release();
    }
}

TEST(TextureLoad, SmallerLevelsAverageTheTexelsTheyCover) {
    MemoryDevice device;
    MemoryTexture* texture = nullptr;
    ASSERT_EQ(Load(&device, kImages / "sand-37x23.bmp", &texture), D3D_OK);
    // 37 x 23 → 18 x 11: texel (5, 3) covers columns 10..11 and rows 6..7 of level 0; the
    // last column of level 1 also takes the odd column 36.
    for (int c = 0; c < 4; ++c) {
        int sum = 0;
        for (UINT y = 6; y < 8; ++y)
            for (UINT x = 10; x < 12; ++x)
                sum += Channel(texture->Texel(0, x, y), c);
        EXPECT_EQ(Channel(texture->Texel(1, 5, 3), c), (sum + 2) / 4);
        int edge = 0;
        for (UINT y = 0; y < 2; ++y)
            for (UINT x = 34; x < 37; ++x)
                edge += Channel(texture->Texel(0, x, y), c);
        EXPECT_EQ(Channel(texture->Texel(1, 17, 0), c), (edge + 3) / 6);
    }
    EXPECT_EQ(texture->levels[1].width, 18u);
    EXPECT_EQ(texture->levels[1].height, 11u);
    texture->Release();

    // A transparent disc keeps transparent corners and a half-transparent middle all the
    // way down, and the single last texel mixes both.
    ASSERT_EQ(Load(&device, kImages / "alpha-disc.png", &texture), D3D_OK);
    EXPECT_EQ(Channel(texture->Texel(3, 0, 0), 3), 0);
    EXPECT_EQ(Channel(texture->Texel(3, 4, 4), 3), 0x80);
    int last = Channel(texture->Texel(6, 0, 0), 3);
    EXPECT_GT(last, 0);
    EXPECT_LT(last, 0x80);
    texture->Release();
}

TEST(TextureLoad, BrokenMissingAndAbsurdFilesFailCleanly) {
    TempDir temp;
    std::vector<fs::path> bad = {kImages / "truncated.jpg", kImages / "garbage.png",
                                 kImages / "empty.bmp", kImages / "no-such-file.png", kImages};
    // Every real kind cut in half, or cut just before its last bytes.
    for (const char* file : {"grass.jpg", "rock-progressive.jpg", "sand-37x23.bmp", "palette8.bmp",
                             "snow-16bit.png", "interlaced.png", "palette.png"}) {
        std::vector<char> bytes = ReadBytes(kImages / file);
        ASSERT_GT(bytes.size(), 16u);
        bad.push_back(temp.path / (std::string("half-") + file));
        WriteBytes(bad.back(), std::vector<char>(bytes.begin(), bytes.begin() + bytes.size() / 2));
        bad.push_back(temp.path / (std::string("short-") + file));
        WriteBytes(bad.back(), std::vector<char>(bytes.begin(), bytes.end() - 4));
    }
    // Headers that claim absurd sizes.
    std::vector<char> png = ReadBytes(kImages / "palette.png");
    for (uint32_t side : {100000u, 16000u, 0u}) {
        std::vector<char> patched = png;
        for (int i = 0; i < 4; ++i) {
            patched[16 + i] = static_cast<char>(side >> (24 - 8 * i)); // IHDR width
            patched[20 + i] = static_cast<char>(side >> (24 - 8 * i)); // IHDR height
        }
        bad.push_back(temp.path / ("huge-" + std::to_string(side) + ".png"));
        WriteBytes(bad.back(), patched);
    }
    std::vector<char> bmp = ReadBytes(kImages / "palette8.bmp");
    bmp[22] = bmp[23] = bmp[24] = static_cast<char>(0xFF);
    bmp[25] = 0x7F; // height 2^31 - 1
    bad.push_back(temp.path / "tall.bmp");
    WriteBytes(bad.back(), bmp);
    bad.push_back(temp.path / "text.jpg");
    WriteBytes(bad.back(), {'h', 'e', 'l', 'l', 'o'});

    for (const fs::path& path : bad) {
        SCOPED_TRACE(path.string());
        MemoryDevice device;
        MemoryTexture* texture = reinterpret_cast<MemoryTexture*>(&device); // must be cleared
        HRESULT hr = Load(&device, path, &texture);
        EXPECT_TRUE(FAILED(hr));
        EXPECT_EQ(texture, nullptr);
        std::string error = D3DXGetLastTextureError();
        EXPECT_NE(error.find(path.filename().string()), std::string::npos) << error;
        EXPECT_TRUE(device.Calls(DeviceOp::CreateTexture).empty());
    }
    EXPECT_EQ(D3DXCreateTextureFromFileW(nullptr, L"x.png", nullptr), D3DERR_INVALIDCALL);
}

// A 5 x 3 RLE4 image with a run, an absolute run, a delta and the end code; rows bottom-up.
std::vector<char> Rle4Bitmap(bool complete) {
    std::vector<uint8_t> data = {5, 0x12, 0, 0, 0, 5, 0x31, 0x23, 0x10, 0, 0, 0, 0, 2, 2, 0};
    if (complete)
        data.insert(data.end(), {3, 0x33, 0, 1});
    std::vector<uint8_t> b = {'B', 'M'};
    auto u32 = [&](uint32_t v) {
        for (int i = 0; i < 4; ++i)
            b.push_back(static_cast<uint8_t>(v >> (8 * i)));
    };
    u32(118 + static_cast<uint32_t>(data.size()));
    u32(0);
    u32(118);
    u32(40);
    u32(5);
    u32(3);
    b.insert(b.end(), {1, 0, 4, 0});
    u32(2); // BI_RLE4
    u32(static_cast<uint32_t>(data.size()));
    u32(0);
    u32(0);
    u32(16);
    u32(0);
    const uint32_t palette[16] = {0x000000, 0xFF0000, 0x00FF00, 0x0000FF};
    for (uint32_t rgb : palette)
        u32(rgb);
    b.insert(b.end(), data.begin(), data.end());
    return {b.begin(), b.end()};
}

TEST(TextureLoad, RunLengthBitmapsExpand) {
    TempDir temp;
    WriteBytes(temp.path / "rle4.bmp", Rle4Bitmap(true));
    WriteBytes(temp.path / "rle4-cut.bmp", Rle4Bitmap(false));
    MemoryDevice device;
    MemoryTexture* texture = nullptr;
    ASSERT_EQ(Load(&device, temp.path / "rle4.bmp", &texture), D3D_OK) << D3DXGetLastTextureError();
    const uint32_t k = 0xFF000000u, r = 0xFFFF0000u, g = 0xFF00FF00u, b = 0xFF0000FFu;
    const uint32_t expected[3][5] = {{k, k, b, b, b}, {b, r, g, b, r}, {r, g, r, g, r}};
    for (UINT y = 0; y < 3; ++y)
        for (UINT x = 0; x < 5; ++x)
            EXPECT_EQ(texture->Texel(0, x, y), expected[y][x]) << x << "," << y;
    texture->Release();
    EXPECT_TRUE(FAILED(Load(&device, temp.path / "rle4-cut.bmp", &texture)));
    EXPECT_NE(std::string(D3DXGetLastTextureError()).find("truncated"), std::string::npos);
}

TEST(TextureLoad, KoreanNamesLoadAndDeviceFailuresAreReported) {
    TempDir temp;
    fs::path korean = temp.path / "잔디 텍스처.jpg";
    WriteBytes(korean, ReadBytes(kImages / "grass.jpg"));
    MemoryDevice device;
    MemoryTexture* texture = nullptr;
    ASSERT_EQ(Load(&device, korean, &texture), D3D_OK) << D3DXGetLastTextureError();
    EXPECT_EQ(texture->levels[0].width, 256u);
    texture->Release();
    EXPECT_STREQ(D3DXGetLastTextureError(), "");

    device.failures->createTexture = true;
    EXPECT_TRUE(FAILED(Load(&device, kImages / "palette.png", &texture)));
    EXPECT_EQ(texture, nullptr);
    EXPECT_NE(std::string(D3DXGetLastTextureError()).find("100 x 60"), std::string::npos);
    device.failures->createTexture = false;
    device.failures->lockRect = true;
    EXPECT_TRUE(FAILED(Load(&device, kImages / "palette.png", &texture)));
    EXPECT_EQ(texture, nullptr);
}

} // namespace
