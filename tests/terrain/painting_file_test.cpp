// The painting saved beside the MapVertexData file (.vmsplat) and restored with it.
#include "safe_file.h"
#include "splat_file.h"
#include "terrain_fixture.h"

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <sys/stat.h>
#include <tuple>
#include <unistd.h>

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

const Bytes& TexelsOf(const KrTextureEntry* entry) {
    return static_cast<MemoryTexture*>(entry->texture)->levels[0].bits;
}

// Fills an alpha map through the device. Coverage maps hold four equal bytes a texel, as the
// brush paints them; other maps hold anything.
void Paint(KrTextureEntry* map, bool coverageOnly, uint32_t seed) {
    D3DLOCKED_RECT locked{};
    ASSERT_EQ(map->texture->LockRect(0, &locked, nullptr, 0), D3D_OK);
    for (int y = 0; y < ALPHA_MAP_SIZE; ++y) {
        auto* row = reinterpret_cast<uint32_t*>(static_cast<uint8_t*>(locked.pBits) +
                                                size_t(y) * locked.Pitch);
        for (int x = 0; x < ALPHA_MAP_SIZE; ++x) {
            const uint32_t v = (uint32_t(x) * 2654435761u) ^ (uint32_t(y) * 40503u) ^ seed;
            row[x] = coverageOnly ? ((v >> 5) & 0xFF) * 0x01010101u : v;
        }
    }
    ASSERT_EQ(map->texture->UnlockRect(0), D3D_OK);
}

struct PaintingFile : ::testing::Test {
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "veldmark-splat-XXXXXX").string();
        root = mkdtemp(pattern.data());
        fs::create_directories(root / "maps");
        fs::create_directories(root / "textures");
        for (const char* name : {"grass.jpg", "alpha-disc.png"})
            fs::copy_file(fs::path(VELDMARK_TEST_DATA) / "images" / name, root / "textures" / name);
        mvd = (root / "maps" / "valley.mvd").string();
        splat = (root / "maps" / "valley.vmsplat").string();
    }
    void TearDown() override { fs::remove_all(root); }

    // Two textures, the second the base, and three layers: two on the first texture (one
    // painted as the brush paints, one blank), one on the second with arbitrary texels.
    void MakePainting(KrTerrain& t) {
        for (const char* name : {"grass.jpg", "alpha-disc.png"})
            ASSERT_TRUE(t.AddTexture((root / "textures" / name).wstring().c_str(), &error))
                << error;
        t.baseMappingScale = 7;
        for (int32_t texture : {0, 0, 1})
            ASSERT_TRUE(t.AddSplatLayer(texture));
        t.splatLayers[0].mappingScale = 3;
        t.splatLayers[2].mappingScale = 250;
        Paint(t.alphaMaps[0], true, 11);
        Paint(t.alphaMaps[2], false, 12);
        t.selectedLayer = 2;
    }
    void SaveBoth(const KrTerrain& t) {
        ASSERT_TRUE(t.SaveMapVertexData(mvd.c_str(), &error)) << error;
        ASSERT_TRUE(t.SavePainting(mvd.c_str(), &error)) << error;
    }
    // The painting as pointers and values, to check that a refused file changed nothing.
    static auto State(const KrTerrain& t) {
        std::vector<std::tuple<float, int32_t>> layers;
        for (const KrSplatLayer& l : t.splatLayers)
            layers.emplace_back(l.mappingScale, l.textureIndex);
        return std::tuple(t.textures, t.alphaMaps, layers, t.baseTexture, t.baseMappingScale,
                          t.selectedLayer);
    }

    fs::path root;
    std::string mvd, splat, error;
    MemoryTerrain saved{33, 17, 4};
};

TEST_F(PaintingFile, RoundTripsEveryTexelAndFollowsTheFolder) {
    MakePainting(saved.terrain);
    saved.terrain.vertices[40].y = 12.5f;
    SaveBoth(saved.terrain);
    const Bytes file = Read(splat);
    EXPECT_EQ(std::string(file.begin(), file.begin() + 7), "VMSPLAT");

    // The whole project moves: the paths are stored relative to the file's folder.
    const fs::path moved = root.string() + "-moved";
    fs::rename(root, moved);
    root = moved;
    const std::string movedMvd = (root / "maps" / "valley.mvd").string();

    MemoryTerrain loaded(9, 9);
    loaded.AddTexture(); // a painting of its own, replaced whole
    ASSERT_TRUE(loaded.terrain.AddSplatLayer(0));
    ASSERT_TRUE(loaded.terrain.LoadMapVertexData(movedMvd.c_str(), &error)) << error;
    const KrTerrain::PaintingLoad result = loaded.terrain.LoadPainting(movedMvd.c_str());
    ASSERT_EQ(result.status, KrTerrain::PaintingLoad::Restored) << result.error;
    EXPECT_TRUE(result.missing.empty());

    const KrTerrain& a = saved.terrain;
    const KrTerrain& b = loaded.terrain;
    ASSERT_EQ(b.textures.size(), 2u);
    EXPECT_EQ(b.textures[0]->source, (root / "textures" / "grass.jpg").string());
    for (size_t i = 0; i < 2; ++i) {
        ASSERT_NE(b.textures[i]->texture, nullptr);
        EXPECT_EQ(TexelsOf(b.textures[i]), TexelsOf(a.textures[i])) << i;
    }
    EXPECT_EQ(b.baseTexture, 1);
    EXPECT_EQ(b.baseMappingScale, 7.0f);
    ASSERT_EQ(b.splatLayers.size(), 3u);
    ASSERT_EQ(b.alphaMaps.size(), 3u);
    for (size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(b.splatLayers[i].mappingScale, a.splatLayers[i].mappingScale) << i;
        EXPECT_EQ(b.splatLayers[i].textureIndex, a.splatLayers[i].textureIndex) << i;
        EXPECT_TRUE(TexelsOf(b.alphaMaps[i]) == TexelsOf(a.alphaMaps[i])) << "layer " << i;
    }
    EXPECT_EQ(b.selectedLayer, 2) << "the last layer is painted, as after registering it";

    // Saved again from the restored terrain, the file comes out the same.
    ASSERT_TRUE(b.SavePainting(movedMvd.c_str(), &error)) << error;
    EXPECT_EQ(Read(root / "maps" / "valley.vmsplat"), file);
}

TEST_F(PaintingFile, MissingTexturesKeepTheirPlaceAndTheirLayersCoverage) {
    MakePainting(saved.terrain);
    SaveBoth(saved.terrain);
    fs::remove(root / "textures" / "grass.jpg");
    Write(root / "textures" / "alpha-disc.png", Bytes(100, 7)); // there, but unreadable

    MemoryTerrain loaded(9, 9);
    ASSERT_TRUE(loaded.terrain.LoadMapVertexData(mvd.c_str(), &error)) << error;
    const KrTerrain::PaintingLoad result = loaded.terrain.LoadPainting(mvd.c_str());
    ASSERT_EQ(result.status, KrTerrain::PaintingLoad::Restored);
    ASSERT_EQ(result.missing.size(), 2u);
    EXPECT_EQ(result.missing[0].rfind("grass.jpg", 0), 0u) << result.missing[0];
    EXPECT_EQ(result.missing[1].rfind("alpha-disc.png", 0), 0u) << result.missing[1];
    KrTerrain& t = loaded.terrain;
    ASSERT_EQ(t.textures.size(), 2u);
    EXPECT_EQ(t.textures[0]->texture, nullptr);
    EXPECT_EQ(t.splatLayers[2].textureIndex, 1);
    EXPECT_TRUE(TexelsOf(t.alphaMaps[2]) == TexelsOf(saved.terrain.alphaMaps[2]));

    // Layers whose texture is not there are not drawn; the base pass goes without its
    // texture, so the terrain shows its lit colour.
    loaded.device->ClearLog();
    t.Render();
    EXPECT_EQ(loaded.device->Calls(DeviceOp::DrawIndexedPrimitive).size(), 1u);
    const auto set = loaded.device->Calls(DeviceOp::SetTexture);
    ASSERT_EQ(set.size(), 1u);
    EXPECT_EQ(set[0].object, nullptr);

    // Saved again, the missing textures keep their paths, so they draw once they are back.
    ASSERT_TRUE(t.SavePainting(mvd.c_str(), &error)) << error;
    fs::copy_file(fs::path(VELDMARK_TEST_DATA) / "images" / "grass.jpg",
                  root / "textures" / "grass.jpg");
    MemoryTerrain again(9, 9);
    ASSERT_TRUE(again.terrain.LoadMapVertexData(mvd.c_str(), &error));
    EXPECT_EQ(again.terrain.LoadPainting(mvd.c_str()).missing.size(), 1u);
    EXPECT_NE(again.terrain.textures[0]->texture, nullptr);
    again.device->ClearLog();
    again.terrain.Render();
    EXPECT_EQ(again.device->Calls(DeviceOp::DrawIndexedPrimitive).size(), 3u); // base + 2
}

TEST_F(PaintingFile, RefusedFilesLeaveThePaintingUntouched) {
    MakePainting(saved.terrain);
    SaveBoth(saved.terrain);
    const Bytes good = Read(splat);

    MemoryTerrain loaded(9, 9);
    loaded.AddTexture();
    ASSERT_TRUE(loaded.terrain.AddSplatLayer(0));
    loaded.terrain.selectedLayer = 0;
    ASSERT_TRUE(loaded.terrain.LoadMapVertexData(mvd.c_str(), &error));
    const auto before = State(loaded.terrain);
    const Bytes before0 = TexelsOf(loaded.terrain.alphaMaps[0]);

    const auto refused = [&](const Bytes& file, const std::string& why) {
        Write(splat, file);
        const KrTerrain::PaintingLoad r = loaded.terrain.LoadPainting(mvd.c_str());
        EXPECT_EQ(r.status, KrTerrain::PaintingLoad::Refused) << why;
        EXPECT_FALSE(r.error.empty()) << why;
        EXPECT_TRUE(State(loaded.terrain) == before) << why;
        EXPECT_EQ(TexelsOf(loaded.terrain.alphaMaps[0]), before0) << why;
        return r.error;
    };
    Bytes flipped = good;
    flipped[good.size() / 2] ^= 0x10;
    const std::string damaged = refused(flipped, "a flipped bit");
    for (size_t keep :
         {size_t{0}, size_t{7}, size_t{12}, size_t{45}, good.size() / 3, good.size() - 1})
        EXPECT_EQ(refused(Bytes(good.begin(), good.begin() + keep), "cut"),
                  keep < 8 ? refused({}, "empty") : damaged)
            << keep << " bytes";
    Bytes longer = good;
    longer.push_back(0);
    refused(longer, "trailing byte");
    const std::string foreign =
        refused(Read(fs::path(VELDMARK_TEST_DATA) / "images" / "grass.jpg"), "a JPEG");
    Bytes newer = good;
    newer[8] = 2;
    const std::string version = refused(newer, "a newer version");
    EXPECT_NE(foreign, damaged);
    EXPECT_NE(version, damaged);
    EXPECT_NE(version.find('2'), std::string::npos);

    // The heights were saved again on their own (a crash between the two renames): the
    // painting no longer belongs to them.
    Write(splat, good);
    saved.terrain.vertices[3].y += 1;
    ASSERT_TRUE(saved.terrain.SaveMapVertexData(mvd.c_str(), &error));
    ASSERT_TRUE(loaded.terrain.LoadMapVertexData(mvd.c_str(), &error));
    const std::string mismatch = refused(good, "a painting of other heights");
    EXPECT_NE(mismatch, damaged);

    // A directory in its place, and an alpha map the device cannot make part way.
    saved.terrain.vertices[3].y -= 1;
    ASSERT_TRUE(saved.terrain.SaveMapVertexData(mvd.c_str(), &error));
    ASSERT_TRUE(loaded.terrain.LoadMapVertexData(mvd.c_str(), &error));
    loaded.device->failures->createTextureAfter = 1;
    refused(good, "the device fails on the second alpha map");
    loaded.device->failures->createTexture = false;
    fs::remove(splat);
    fs::create_directory(splat);
    EXPECT_EQ(loaded.terrain.LoadPainting(mvd.c_str()).status, KrTerrain::PaintingLoad::Refused);
    fs::remove(splat);
    // A named pipe in its place is refused at once (the alarm ends a test that would hang).
    ASSERT_EQ(::mkfifo(splat.c_str(), 0600), 0);
    ::alarm(20);
    const KrTerrain::PaintingLoad pipe = loaded.terrain.LoadPainting(mvd.c_str());
    ::alarm(0);
    EXPECT_EQ(pipe.status, KrTerrain::PaintingLoad::Refused);
    EXPECT_EQ(pipe.error, "일반 파일이 아닙니다");
    fs::remove(splat);
    EXPECT_EQ(loaded.terrain.LoadPainting(mvd.c_str()).status, KrTerrain::PaintingLoad::NoFile);
    EXPECT_TRUE(State(loaded.terrain) == before);
}

int gWritesLeft = 0;
ssize_t FailingWriter(int fd, const void* data, size_t bytes) {
    if (gWritesLeft-- > 0)
        return ::write(fd, data, bytes);
    errno = ENOSPC;
    return -1;
}

TEST_F(PaintingFile, SavesReplaceOrRemoveOnlyWhenTheyCan) {
    MakePainting(saved.terrain);
    SaveBoth(saved.terrain);
    const Bytes old = Read(splat);
    const size_t entries = std::distance(fs::directory_iterator(root / "maps"), {});

    saved.terrain.splatLayers[0].mappingScale = 9;
    gWritesLeft = 0;
    SetFileWriteFunction(FailingWriter);
    EXPECT_FALSE(saved.terrain.SavePainting(mvd.c_str(), &error));
    SetFileWriteFunction(nullptr);
    EXPECT_NE(error.find("장치에 남은 공간이 없습니다"), std::string::npos) << error;
    EXPECT_EQ(Read(splat), old);
    EXPECT_EQ(size_t(std::distance(fs::directory_iterator(root / "maps"), {})), entries);

    // The painting is emptied: the file left from before goes.
    KrTerrain& t = saved.terrain;
    while (!t.splatLayers.empty())
        t.RemoveSplatLayer(0);
    EXPECT_TRUE(t.SavePainting(mvd.c_str(), &error));
    EXPECT_TRUE(fs::exists(splat)); // textures remain
    while (!t.textures.empty())
        t.RemoveTexture(0);
    EXPECT_TRUE(t.SavePainting(mvd.c_str(), &error)) << error;
    EXPECT_FALSE(fs::exists(splat));
    EXPECT_TRUE(t.SavePainting(mvd.c_str(), &error)) << "nothing to remove is no failure";
    EXPECT_TRUE(fs::exists(mvd));
}

// A terrain saved through a link is written to the file the link names; its painting goes
// beside that file and is found whichever of the two names is opened.
TEST_F(PaintingFile, ThePaintingOfATerrainSavedThroughALinkLiesBesideTheTarget) {
    const fs::path link = root / "link.mvd";
    fs::create_symlink(mvd, link);
    MakePainting(saved.terrain);
    ASSERT_TRUE(saved.terrain.SaveMapVertexData(link.c_str(), &error)) << error;
    ASSERT_TRUE(saved.terrain.SavePainting(link.c_str(), &error)) << error;
    EXPECT_TRUE(fs::is_symlink(link));
    EXPECT_TRUE(fs::exists(splat));
    EXPECT_FALSE(fs::exists(root / "link.vmsplat"));

    for (const std::string& name : {link.string(), mvd}) {
        MemoryTerrain loaded(9, 9);
        ASSERT_TRUE(loaded.terrain.LoadMapVertexData(name.c_str(), &error)) << error;
        const KrTerrain::PaintingLoad result = loaded.terrain.LoadPainting(name.c_str());
        EXPECT_EQ(result.status, KrTerrain::PaintingLoad::Restored) << name << result.error;
        EXPECT_TRUE(result.missing.empty()) << name;
    }
    // Emptied and saved through the link, the painting beside the target goes.
    while (!saved.terrain.textures.empty())
        saved.terrain.RemoveTexture(0);
    while (!saved.terrain.splatLayers.empty())
        saved.terrain.RemoveSplatLayer(0);
    ASSERT_TRUE(saved.terrain.SavePainting(link.c_str(), &error)) << error;
    EXPECT_FALSE(fs::exists(splat));
}

TEST(SplatFileFormat, PathsAndLayersOutsideTheirListsAreRefused) {
    SplatFileData data;
    data.texturePaths = {"a.png", "../b/c.jpg", "/abs/d.bmp"};
    data.baseTexture = 2;
    data.layers.resize(1);
    data.layers[0].textureIndex = -1;
    data.layers[0].texels.assign(size_t{ALPHA_MAP_SIZE} * ALPHA_MAP_SIZE, 0);
    Bytes bytes;
    std::string error;
    ASSERT_TRUE(EncodeSplatFile(data, &bytes, &error)) << error;
    EXPECT_LT(bytes.size(), 8192u); // a blank map takes bytes, not megabytes
    SplatFileData back;
    ASSERT_TRUE(DecodeSplatFile(bytes.data(), bytes.size(), &back, &error)) << error;
    EXPECT_EQ(back.texturePaths, data.texturePaths);
    EXPECT_EQ(back.layers[0].textureIndex, -1);

    for (int32_t bad : {3, -2}) {
        data.baseTexture = bad;
        ASSERT_TRUE(EncodeSplatFile(data, &bytes, &error));
        EXPECT_FALSE(DecodeSplatFile(bytes.data(), bytes.size(), &back, &error)) << bad;
    }
    data.baseTexture = 0;
    data.layers[0].textureIndex = 3;
    ASSERT_TRUE(EncodeSplatFile(data, &bytes, &error));
    EXPECT_FALSE(DecodeSplatFile(bytes.data(), bytes.size(), &back, &error));

    EXPECT_EQ(SplatPathFor("/x/산맥.mvd"), "/x/산맥.vmsplat");
    EXPECT_EQ(SplatPathFor("plain"), "plain.vmsplat");
    EXPECT_EQ(StoredTexturePath("/p/tex/a.png", "/p/maps"), "../tex/a.png");
    EXPECT_EQ(ResolveTexturePath("../tex/a.png", "/p/maps"), "/p/tex/a.png");
    EXPECT_EQ(ResolveTexturePath("/abs/a.png", "/p/maps"), "/abs/a.png");
}

} // namespace
