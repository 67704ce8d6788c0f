// veldmark-convert run as the user runs it: exit status, messages and files.
#include "heightmap.h"
#include "terrain/terrain_fixture.h"

#include <filesystem>
#include <fstream>
#include <random>
#include <sys/stat.h>
#include <sys/wait.h>

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

Bytes Read(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}
void Write(const fs::path& path, const Bytes& b) {
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(b.data()), b.size());
}
std::string Text(const fs::path& path) {
    const Bytes b = Read(path);
    return std::string(b.begin(), b.end());
}

struct Convert : ::testing::Test {
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "veldmark-convert-XXXXXX").string();
        dir = mkdtemp(pattern.data());
    }
    void TearDown() override { fs::remove_all(dir); }

    // Runs the converter in dir with these arguments; its output goes to out and err.
    int Run(const std::string& args) {
        const std::string command =
            "cd '" + dir.string() + "' && '" VELDMARK_CONVERT "' " + args + " >out.txt 2>err.txt";
        const int status = std::system(command.c_str());
        out = Text(dir / "out.txt");
        err = Text(dir / "err.txt");
        fs::remove(dir / "out.txt");
        fs::remove(dir / "err.txt");
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    size_t Entries() const { return std::distance(fs::directory_iterator(dir), {}); }
    std::string Path(const std::string& name) const { return (dir / name).string(); }
    static int Lines(const std::string& text) {
        return static_cast<int>(std::count(text.begin(), text.end(), '\n'));
    }
    // A terrain of this size with random heights, saved as name.
    Vertices SaveTerrain(const std::string& name, int32_t w, int32_t d, int32_t spacing) {
        MemoryTerrain m(w, d, spacing);
        std::mt19937 random(w * 31 + d);
        std::uniform_real_distribution<float> height(-50.0f, 400.0f);
        for (int32_t i = 0; i < w * d; ++i)
            m.terrain.vertices[i].y = height(random);
        std::string error;
        EXPECT_TRUE(m.terrain.SaveMapVertexData(Path(name).c_str(), &error)) << error;
        return m.Master();
    }
    Vertices LoadTerrain(const std::string& name) {
        MemoryTerrain m(3, 3);
        std::string error;
        EXPECT_TRUE(m.terrain.LoadMapVertexData(Path(name).c_str(), &error)) << error;
        return m.Master();
    }

    fs::path dir;
    std::string out, err;
};

TEST_F(Convert, WrongUsageExitsTwoBadInputOneWithOneLine) {
    for (const char* args :
         {"", "a.mvd", "a.png b.mvd c.mvd", "--info", "--info a.mvd b.mvd", "a.png b.mvd --bogus",
          "a.png b.mvd --range 1", "a.png b.mvd --range 1 x", "a.png b.mvd --spacing 0",
          "a.png b.mvd --spacing -3", "a.r16 b.mvd --size 5", "a.r16 b.mvd --size 0x4",
          "a.tif b.mvd", "a.png b.txt"}) {
        EXPECT_EQ(Run(args), 2) << args;
        EXPECT_NE(err.find("veldmark-convert --info"), std::string::npos) << args; // the usage
        EXPECT_TRUE(out.empty()) << args;
    }

    Write(dir / "odd.r16", Bytes(2 * 6));
    Write(dir / "tiny.r16", Bytes(2 * 1 * 3));
    Write(dir / "broken.png", Bytes(40, 0x89));
    fs::copy_file(fs::path(VELDMARK_TEST_DATA) / "images" / "palette.png", dir / "colour.png");
    // Named pipes are refused rather than waited on (the test would hang otherwise).
    for (const char* pipe : {"pipe.r16", "pipe.mvd"})
        ASSERT_EQ(::mkfifo(Path(pipe).c_str(), 0600), 0);
    for (const char* args :
         {"missing.png b.mvd", "odd.r16 b.mvd", "tiny.r16 b.mvd --size 1x3", "broken.png b.mvd",
          "colour.png b.mvd", "--info colour.png", "pipe.r16 b.mvd", "--info pipe.mvd"}) {
        EXPECT_EQ(Run(args), 1) << args;
        EXPECT_EQ(Lines(err), 1) << args << ": " << err;
        EXPECT_EQ(err.rfind("veldmark-convert: ", 0), 0u) << err;
    }
    EXPECT_EQ(Run("odd.r16 b.mvd"), 1);
    EXPECT_NE(err.find("--size"), std::string::npos) << err;
    EXPECT_EQ(Run("odd.r16 b.mvd --size 3x2"), 0) << err;
    EXPECT_FALSE(fs::exists(dir / "missing.png"));
}

TEST_F(Convert, AFlatImageBecomesTheGridANewTerrainHas) {
    Write(dir / "flat.r16", Bytes(2 * 129 * 129, 0));
    ASSERT_EQ(Run("flat.r16 flat.mvd --range 0 1"), 0) << err;
    MemoryTerrain made(129, 129, 10);
    std::string error;
    ASSERT_TRUE(made.terrain.SaveMapVertexData(Path("made.mvd").c_str(), &error));
    EXPECT_EQ(Read(dir / "flat.mvd"), Read(dir / "made.mvd"));

    // Heights on the layout, with the spacing asked for.
    Bytes codes(2 * 4 * 3, 0);
    codes[0] = codes[1] = 0xFF; // the -x, +z corner at the top of the range
    Write(dir / "corner.r16", codes);
    ASSERT_EQ(Run("corner.r16 corner.mvd --size 4x3 --spacing 2.5 --range -10 30"), 0) << err;
    EXPECT_EQ(out, "범위: -10 30\n");
    const Vertices v = LoadTerrain("corner.mvd");
    ASSERT_EQ(v.size(), 12u);
    EXPECT_EQ(v[0].y, 30.0f);
    EXPECT_EQ(v[0].x, -5.0f);
    EXPECT_EQ(v[0].z, 3.75f);
    EXPECT_EQ(v[11].y, -10.0f);
    EXPECT_EQ(v[1].x - v[0].x, 2.5f);
}

TEST_F(Convert, RoundTripsThroughEveryFormatAndTellsTheRange) {
    const Vertices original = SaveTerrain("hills.mvd", 65, 33, 10);
    float low = original[0].y, high = original[0].y;
    for (const KrTerrainVertex& v : original) {
        low = std::min(low, v.y);
        high = std::max(high, v.y);
    }
    const float slack = (high - low) / 65535.0f / 2.0f + 1e-4f;

    ASSERT_EQ(Run("hills.mvd hills.png"), 0) << err;
    EXPECT_NE(out.find("범위: "), std::string::npos);
    ASSERT_EQ(Run("hills.png back.mvd"), 0) << err; // the range recorded in the PNG
    const Vertices fromPng = LoadTerrain("back.mvd");
    for (size_t i = 0; i < original.size(); ++i)
        ASSERT_NEAR(fromPng[i].y, original[i].y, slack) << i;

    ASSERT_EQ(Run("hills.mvd hills.r16 --range -100 500"), 0) << err;
    ASSERT_EQ(Run("hills.r16 back16.mvd --size 65x33 --range -100 500"), 0) << err;
    const Vertices fromRaw = LoadTerrain("back16.mvd");
    for (size_t i = 0; i < original.size(); ++i)
        ASSERT_NEAR(fromRaw[i].y, original[i].y, 600.0f / 65535.0f / 2.0f + 1e-4f) << i;

    ASSERT_EQ(Run("hills.mvd hills.r32"), 0) << err;
    EXPECT_TRUE(out.empty()); // heights as they are: no range
    ASSERT_EQ(Run("hills.r32 back32.mvd --size 65x33"), 0) << err;
    const Vertices fromFloats = LoadTerrain("back32.mvd");
    for (size_t i = 0; i < original.size(); ++i)
        ASSERT_EQ(std::memcmp(&fromFloats[i].y, &original[i].y, 4), 0) << i;

    // An image to another image keeps its codes.
    ASSERT_EQ(Run("hills.png again.r16"), 0) << err;
    HeightmapImage png, raw;
    std::string error;
    const Bytes pngBytes = Read(dir / "hills.png"), rawBytes = Read(dir / "again.r16");
    ASSERT_TRUE(DecodeHeightmap(HeightmapFormat::Png, pngBytes.data(), pngBytes.size(), 0, 0, &png,
                                &error));
    ASSERT_TRUE(DecodeHeightmap(HeightmapFormat::Raw16, rawBytes.data(), rawBytes.size(), 65, 33,
                                &raw, &error));
    EXPECT_EQ(png.codes, raw.codes);
}

TEST_F(Convert, InfoTellsSizeSpacingAndHeights) {
    MemoryTerrain m(9, 5, 3);
    m.terrain.vertices[7].y = -2.5f;
    m.terrain.vertices[30].y = 41.25f;
    std::string error;
    ASSERT_TRUE(m.terrain.SaveMapVertexData(Path("small.mvd").c_str(), &error));
    ASSERT_EQ(Run("--info small.mvd"), 0) << err;
    EXPECT_EQ(out, "크기: 9 × 5\n간격: 3 3 3\n최저 높이: -2.5\n최고 높이: 41.25\n");
    EXPECT_TRUE(err.empty());
    ASSERT_EQ(Run("small.mvd small.png --range -10 50"), 0) << err;
    ASSERT_EQ(Run("--info small.png"), 0) << err;
    EXPECT_NE(out.find("크기: 9 × 5\n"), std::string::npos) << out;
    EXPECT_NE(out.find("-10 50 (파일에 기록된 범위)"), std::string::npos) << out;
}

TEST_F(Convert, NeverLeavesAPartialOutput) {
    SaveTerrain("hills.mvd", 17, 17, 10);
    Write(dir / "keep.mvd", Bytes{1, 2, 3});
    Write(dir / "bad.png", Bytes(100, 0));
    const size_t before = Entries();
    EXPECT_EQ(Run("bad.png keep.mvd"), 1);
    EXPECT_EQ(Run("hills.mvd no/such/folder.png"), 1);
    fs::create_directory(dir / "taken.png");
    EXPECT_EQ(Run("hills.mvd taken.png"), 1);
    EXPECT_EQ(Read(dir / "keep.mvd"), (Bytes{1, 2, 3}));
    EXPECT_EQ(Entries(), before + 1); // the folder made above, and no temporary file
    // Replacing a file with a good conversion leaves nothing else behind either.
    EXPECT_EQ(Run("hills.mvd keep.mvd"), 0) << err;
    EXPECT_EQ(Read(dir / "keep.mvd"), Read(dir / "hills.mvd"));
    EXPECT_EQ(Entries(), before + 1);
}

} // namespace
