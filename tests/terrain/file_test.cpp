#include "safe_file.h"
#include "terrain_fixture.h"

#include <cerrno>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <limits>
#include <string>
#include <sys/stat.h>
#include <tuple>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

struct MvdFile : ::testing::Test {
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "veldmark-mvd-XXXXXX").string();
        dir = mkdtemp(pattern.data());
    }
    void TearDown() override { fs::remove_all(dir); }
    std::string Path(const std::string& name) const { return (dir / name).string(); }
    size_t Entries() const { return std::distance(fs::directory_iterator(dir), {}); }
    static Bytes Read(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        return Bytes(std::istreambuf_iterator<char>(in), {});
    }
    static void Write(const std::string& path, const Bytes& b) {
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char*>(b.data()), b.size());
    }
    template <class T> static Bytes With(Bytes b, size_t offset, T value) {
        std::memcpy(b.data() + offset, &value, sizeof value);
        return b;
    }
    // A file of this layout made without the terrain, records of running numbers.
    static Bytes Make(int32_t w, int32_t d) {
        Bytes b = With(With(Bytes(20 + 32 * size_t(w) * d), 0, w), 4, d);
        for (size_t i = 0; i < 3 + size_t(w) * d * 8; ++i)
            b = With(std::move(b), 8 + 4 * i, i < 3 ? 10.0f : float(i) * 0.25f - 3.0f);
        return b;
    }
    fs::path dir;
    MemoryTerrain m;
    std::string error;
};

TEST_F(MvdFile, SaveAndRoundTripByteForByte) {
    ASSERT_TRUE(m.terrain.Create(129, 129, 10));
    const std::string path = Path("default.mvd");
    ASSERT_TRUE(m.terrain.SaveMapVertexData(path.c_str(), &error)) << error;
    Bytes b = Read(path);
    ASSERT_EQ(b.size(), 532532u);
    const uint8_t header[20] = {0x81, 0,    0, 0, 0x81, 0,    0, 0, 0,    0,
                                0x20, 0x41, 0, 0, 0x20, 0x41, 0, 0, 0x20, 0x41};
    EXPECT_TRUE(std::equal(header, header + 20, b.begin())); // 129, 129, 10.0f × 3
    EXPECT_EQ(std::memcmp(b.data() + 20, m.terrain.vertices, 532512), 0);
    EXPECT_EQ(Entries(), 1u); // no temporary left behind

    // Into a terrain of another size, through a Korean path, and back out unchanged.
    ASSERT_TRUE(m.terrain.Create(33, 17, 4));
    for (int i = 0; i < 33 * 17; ++i)
        m.terrain.vertices[i].y = float(i % 13) - 6;
    fs::create_directory(dir / "지형");
    const std::string korean = Path("지형/산맥 높이.mvd");
    ASSERT_TRUE(m.terrain.SaveMapVertexData(korean.c_str(), &error)) << error;
    b = Read(korean);
    MemoryTerrain other(9, 9);
    ASSERT_TRUE(other.terrain.LoadMapVertexData(korean.c_str(), &error)) << error;
    EXPECT_EQ(std::memcmp(&other.terrain.info, &m.terrain.info, sizeof m.terrain.info), 0);
    EXPECT_EQ(std::memcmp(other.terrain.vertices, b.data() + 20, b.size() - 20), 0);
    EXPECT_EQ(std::memcmp(other.BufferVertices(), b.data() + 20, b.size() - 20), 0);
    EXPECT_EQ(other.IndexBuffer()->data.size(), 2u * 32 * 16 * 12);
    ASSERT_TRUE(other.terrain.SaveMapVertexData(path.c_str(), &error));
    EXPECT_EQ(Read(path), b);
}

TEST_F(MvdFile, ForeignFilesLoadUnchanged) {
    ASSERT_TRUE(m.terrain.Create(33, 33, 10));
    // Written by hand: positions off the header's 2.5 × 4 grid, odd normals.
    const std::string hand = std::string(VELDMARK_TEST_DATA) + "/mvd/hand3x3-offgrid.mvd";
    ASSERT_TRUE(m.terrain.LoadMapVertexData(hand.c_str(), &error)) << error;
    EXPECT_EQ(std::memcmp(m.terrain.vertices, Read(hand).data() + 20, 9 * 32), 0);
    EXPECT_EQ(m.terrain.info.worldWidth, 7);
    EXPECT_EQ(m.terrain.GetHeight(-3.5f, 6), m.terrain.vertices[0].y); // header grid, stored y
    for (auto [w, d, tree] : {std::tuple{20, 20, false}, std::tuple{65, 33, true}}) {
        Write(Path("g.mvd"), Make(w, d));
        ASSERT_TRUE(m.terrain.LoadMapVertexData(Path("g.mvd").c_str(), &error)) << error;
        EXPECT_EQ(m.terrain.quadTree != nullptr, tree) << w << "x" << d;
        EXPECT_EQ(std::memcmp(m.terrain.vertices, Make(w, d).data() + 20, 32 * w * d), 0);
    }
}

TEST_F(MvdFile, BadFilesAndDeviceFailuresLeaveTheTerrainUntouched) {
    ASSERT_TRUE(m.terrain.Create(17, 17, 10));
    m.terrain.vertices[3].y = 5;
    const KrTerrainInfo info = m.terrain.info;
    const Vertices array = m.Master();
    const auto state = [&] { // the upload without the raised vertex
        return std::tuple(m.terrain.vertices, m.terrain.vertexBuffer, m.terrain.indexBuffer,
                          m.terrain.quadTree, m.VertexBuffer()->data);
    };
    const auto before = state();
    const auto untouched = [&](const std::string& what) {
        EXPECT_FALSE(error.empty()) << what;
        EXPECT_EQ(std::memcmp(&info, &m.terrain.info, sizeof info), 0) << what;
        EXPECT_TRUE(state() == before) << what;
        EXPECT_EQ(std::memcmp(array.data(), m.terrain.vertices, 289 * 32), 0) << what;
        error.clear();
    };
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const Bytes good = Make(5, 4);
    Bytes trailing = good;
    trailing.push_back(0);
    m.device->ClearLog();
    for (const Bytes& b :
         {Bytes{}, Bytes(good.begin(), good.begin() + 19), Bytes(good.begin(), good.end() - 1),
          trailing, With(good, 0, 1), With(good, 4, -5), With(good, 0, kMaxTerrainSide + 1),
          With(good, 4, std::numeric_limits<int32_t>::max()), With(With(good, 0, 4097), 4, 4097),
          With(good, 8, nan), With(good, 12, 0.0f), With(good, 8, 1e30f), With(good, 16, 1e30f),
          With(good, 16, -std::numeric_limits<float>::infinity()), With(good, 20 + 32 * 7 + 4, nan),
          With(good, 20 + 32 * 19 + 28, std::numeric_limits<float>::infinity())}) {
        Write(Path("bad.mvd"), b);
        EXPECT_FALSE(m.terrain.LoadMapVertexData(Path("bad.mvd").c_str(), &error));
        untouched(std::to_string(b.size()) + " bytes");
    }
    // A named pipe is refused at once instead of waiting for a writer (the alarm ends a
    // test that would hang).
    ASSERT_EQ(::mkfifo(Path("pipe.mvd").c_str(), 0600), 0);
    ::alarm(20);
    for (auto [path, reason] : {std::pair{Path("pipe.mvd"), "일반 파일이 아닙니다"},
                                std::pair{dir.string(), "폴더입니다"},
                                std::pair{Path("missing.mvd"), "그런 파일이나 폴더가 없습니다"},
                                std::pair{std::string(), "파일 이름이 없습니다"}}) {
        EXPECT_FALSE(m.terrain.LoadMapVertexData(path.c_str(), &error));
        EXPECT_EQ(error, reason);
        untouched(path);
    }
    ::alarm(0);
    EXPECT_TRUE(m.device->log.empty()); // refused before any device call

    Write(Path("good.mvd"), good);
    DeviceFailures& f = *m.device->failures;
    for (bool DeviceFailures::*flag :
         {&DeviceFailures::createVertexBuffer, &DeviceFailures::lockBuffer,
          &DeviceFailures::createIndexBuffer}) {
        f.*flag = true;
        EXPECT_FALSE(m.terrain.LoadMapVertexData(Path("good.mvd").c_str(), &error));
        f.*flag = false;
        untouched(error);
    }
    EXPECT_TRUE(m.terrain.LoadMapVertexData(Path("good.mvd").c_str()));
}

// Fails with a full disk once the allowed writes are used up.
int gWritesLeft = 0;
ssize_t FailingWriter(int fd, const void* data, size_t bytes) {
    if (gWritesLeft-- > 0)
        return ::write(fd, data, bytes);
    errno = ENOSPC;
    return -1;
}

TEST_F(MvdFile, AFailedSaveLeavesTheExistingFileAsItWasAndSaysWhy) {
    ASSERT_TRUE(m.terrain.Create(33, 33, 10));
    const std::string path = Path("keep.mvd");
    const Bytes old = Make(3, 3);
    Write(path, old);
    for (int allowed : {0, 1}) { // the header, the vertex array
        gWritesLeft = allowed;
        SetFileWriteFunction(FailingWriter);
        EXPECT_FALSE(m.terrain.SaveMapVertexData(path.c_str(), &error));
        SetFileWriteFunction(nullptr);
        EXPECT_NE(error.find("장치에 남은 공간이 없습니다"), std::string::npos) << error;
        EXPECT_EQ(Read(path), old);
        EXPECT_EQ(Entries(), 1u);
    }
    fs::create_directory(dir / "taken.mvd");
    for (auto [target, reason] :
         {std::pair{Path("taken.mvd"), "같은 이름의 폴더가 있습니다"},
          std::pair{Path("no/such/folder.mvd"), "그런 파일이나 폴더가 없습니다"}}) {
        EXPECT_FALSE(m.terrain.SaveMapVertexData(target.c_str(), &error));
        EXPECT_NE(error.find(reason), std::string::npos) << error;
    }
    EXPECT_TRUE(fs::is_directory(dir / "taken.mvd"));
    EXPECT_EQ(Entries(), 2u);
    EXPECT_FALSE(MemoryTerrain().terrain.SaveMapVertexData(path.c_str(), &error)); // no grid
    EXPECT_EQ(Read(path), old);
}

// Finite heights far beyond any real terrain make cross products and lengths overflow a
// float; the normals must stay finite, so what is saved loads again.
TEST_F(MvdFile, HugeHeightsGiveFiniteNormalsAndTheSavedFileLoadsAgain) {
    Bytes b = Make(9, 9);
    for (int i = 0; i < 81; ++i) {
        const float y = (i * 7) % 3 == 0 ? 3e38f : (i % 2 ? -3e38f : 1e20f);
        b = With(std::move(b), 20 + 32 * i + 4, y);
    }
    Write(Path("huge.mvd"), b);
    ASSERT_TRUE(m.terrain.LoadMapVertexData(Path("huge.mvd").c_str(), &error)) << error;
    // Lists of 128, 127 and 126 faces: four at a time, with none, three and two left over.
    const std::vector<Triangle> list = FullGrid(9, 9);
    for (int frame = 0; frame < 3; ++frame) {
        m.terrain.visibleTriangleCount = int32_t(list.size()) - frame;
        ASSERT_TRUE(m.terrain.UpdateNormals(list[frame].data()));
    }
    for (int i = 0; i < 81; ++i) {
        const KrTerrainVertex& v = m.terrain.vertices[i];
        ASSERT_TRUE(std::isfinite(v.nx) && std::isfinite(v.ny) && std::isfinite(v.nz)) << i;
        // Every vertex has a face, and so a unit normal.
        EXPECT_NEAR(std::sqrt(v.nx * v.nx + v.ny * v.ny + v.nz * v.nz), 1.0f, 1e-5f) << i;
    }
    ASSERT_TRUE(m.terrain.SaveMapVertexData(Path("again.mvd").c_str(), &error)) << error;
    MemoryTerrain other(5, 5);
    ASSERT_TRUE(other.terrain.LoadMapVertexData(Path("again.mvd").c_str(), &error)) << error;
    EXPECT_EQ(std::memcmp(other.terrain.vertices, m.terrain.vertices, 81 * 32), 0);
}

} // namespace
