// Long work on a thread of its own, as the editor runs it: grids and painting files prepared
// while frames go on, cancelled at any point, and saves written from there, failing or not.
#include "KrTerrainGrid.h"
#include "mvd_file.h"
#include "painting_file.h"
#include "safe_file.h"
#include "terrain_fixture.h"

#include <atomic>
#include <cerrno>
#include <cmath>
#include <random>
#include <thread>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

Bytes Read(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

size_t Entries(const fs::path& dir) {
    return size_t(std::distance(fs::directory_iterator(dir), {}));
}

// A layer painted through the device, a texture, a base and scales.
void Paint(MemoryTerrain& m) {
    KrTerrain& t = m.terrain;
    m.AddTexture();
    ASSERT_TRUE(t.AddSplatLayer(0));
    D3DLOCKED_RECT locked{};
    ASSERT_EQ(t.alphaMaps[0]->texture->LockRect(0, &locked, nullptr, 0), D3D_OK);
    for (int y = 0; y < ALPHA_MAP_SIZE; ++y)
        static_cast<uint8_t*>(locked.pBits)[size_t(y) * locked.Pitch + 4 * size_t(y) + 3] = 0xC0;
    t.alphaMaps[0]->texture->UnlockRect(0);
    t.splatLayers[0].mappingScale = 5;
    t.baseMappingScale = 3;
}

void Sculpt(KrTerrain& t, float phase) {
    for (int32_t i = 0; i < t.info.numVertices; ++i)
        t.vertices[i].y = 25.0f * std::sin(phase + 0.05f * float(i % 97)) + float(i % 7);
    t.MarkVerticesChanged(0, t.info.numVertices - 1);
}

// Frame i of a camera that circles the terrain.
void Frame(KrTerrain& t, int i) {
    const D3DXVECTOR3 eye(300.0f * std::cos(0.3f * float(i)), 250,
                          300.0f * std::sin(0.3f * float(i)));
    ASSERT_TRUE(t.UpdateTerrain(CullView(eye, D3DXVECTOR3(0, 0, 0)), CullProjection()));
}

// Everything a frame leaves behind, to compare two terrains bit for bit.
::testing::AssertionResult Same(const MemoryTerrain& a, const MemoryTerrain& b) {
    const KrTerrain &s = a.terrain, &t = b.terrain;
    if (std::memcmp(&s.info, &t.info, sizeof s.info) != 0)
        return ::testing::AssertionFailure() << "grid description";
    const size_t bytes = size_t(s.info.numVertices) * sizeof(KrTerrainVertex);
    if (std::memcmp(s.vertices, t.vertices, bytes) != 0)
        return ::testing::AssertionFailure() << "master array";
    if (a.VertexBuffer()->data != b.VertexBuffer()->data)
        return ::testing::AssertionFailure() << "vertex buffer";
    if (a.Listed() != b.Listed() || s.pickHit != t.pickHit)
        return ::testing::AssertionFailure() << "triangle list";
    return ::testing::AssertionSuccess();
}

// The editor's four preparations, run as its worker runs them.
enum class Kind { Load, Flat, WithHeights, FromHeights };

struct Prepared {
    KrTerrainGrid grid;
    KrPaintingRead painting;
    bool done = false;
    std::string error;
};

class Preparations {
public:
    Preparations() {
        MemoryTerrain source(129, 65, 6);
        Sculpt(source.terrain, 1.0f);
        Paint(source);
        path = dir.Path("source.mvd");
        std::string error;
        EXPECT_TRUE(source.terrain.SaveMapVertexData(path.c_str(), &error)) << error;
        EXPECT_TRUE(source.terrain.SavePainting(path.c_str(), &error)) << error;
        heights.resize(size_t(33 * 33));
        for (size_t i = 0; i < heights.size(); ++i)
            heights[i] = float(i % 11) * 1.5f - 4;
    }

    // like: the grid whose heights an import on the same grid replaces.
    void Run(Kind kind, const KrTerrain& like, const KrProgress& progress, Prepared* out) const {
        switch (kind) {
        case Kind::Load:
            out->done =
                PrepareMapVertexData(path.c_str(), &out->grid, progress.Part(0, 0.9f), &out->error);
            if (out->done)
                out->painting =
                    ReadPaintingFile(path.c_str(), out->grid.info, out->grid.vertices.get());
            break;
        case Kind::Flat:
            out->done = PrepareGrid(257, 129, 4, &out->grid, progress, &out->error);
            break;
        case Kind::WithHeights:
            out->done = PrepareGridWithHeights(like.info, like.vertices, likeHeights.data(),
                                               &out->grid, progress, &out->error);
            break;
        case Kind::FromHeights:
            out->done = PrepareGridFromHeights(33, 33, 4, 4, 4, heights.data(), &out->grid,
                                               progress, &out->error);
            break;
        }
    }

    TempDir dir;
    std::string path;
    std::vector<float> heights, likeHeights;
};

bool Empty(const KrTerrainGrid& g) {
    return !g.vertices && !g.quadTree && !g.normalUses;
}

bool SameGrid(const KrTerrainGrid& a, const KrTerrainGrid& b) {
    return std::memcmp(&a.info, &b.info, sizeof a.info) == 0 && a.vertices && b.vertices &&
           std::memcmp(a.vertices.get(), b.vertices.get(),
                       size_t(a.info.numVertices) * sizeof(KrTerrainVertex)) == 0 &&
           (a.quadTree != nullptr) == (b.quadTree != nullptr);
}

} // namespace

// Cancelled at every kind of point, from the work's own reports and from outside at random
// times, a preparation leaves no grid and the terrain that went on drawing beside it is
// exactly what the same frames make of its twin; one that ends first is the whole result.
TEST(WorkerThread, CancelledAnywhereLeavesTheTerrainAsFramesLeaveIt) {
    Preparations work;
    std::mt19937 rng(15);
    for (Kind kind : {Kind::Load, Kind::Flat, Kind::WithHeights, Kind::FromHeights}) {
        SCOPED_TRACE(int(kind));
        MemoryTerrain a(65, 65), b(65, 65);
        Sculpt(a.terrain, 0.5f);
        Sculpt(b.terrain, 0.5f);
        a.device->recording = false; // thousands of frames
        work.likeHeights.assign(size_t(65 * 65), 7.25f);
        // An import on the same grid reads the terrain that frames draw: those frames only
        // render meanwhile, as the editor's do.
        const bool reads = kind == Kind::WithHeights;

        int reports = 0;
        Prepared whole;
        work.Run(kind, a.terrain, KrProgress{[&](float) { ++reports; }}, &whole);
        ASSERT_TRUE(whole.done) << whole.error;
        if (kind == Kind::Load) {
            ASSERT_EQ(whole.painting.status, KrTerrain::PaintingLoad::Restored)
                << whole.painting.error;
        }

        int frames = 0;
        for (int attempt = 0; attempt < 16; ++attempt) {
            SCOPED_TRACE(attempt);
            std::atomic<bool> cancel{false};
            // Half the attempts stop at a report of their own, half when the frames say so.
            const bool atReport = attempt % 2 == 0;
            const int stopAt = 1 + int(rng() % unsigned(reports));
            const int framesFirst = int(rng() % 4);
            int seen = 0;
            std::atomic<bool> finished{false};
            Prepared out;
            std::thread worker([&] {
                const KrProgress progress{[&](float) {
                                              if (atReport && ++seen == stopAt)
                                                  cancel = true;
                                          },
                                          &cancel};
                work.Run(kind, a.terrain, progress, &out);
                finished = true;
            });
            for (int f = 0; !finished || f < framesFirst; ++f) {
                if (!atReport && f == framesFirst)
                    cancel = true;
                if (reads) {
                    a.terrain.Render();
                } else {
                    Frame(a.terrain, frames++);
                }
                std::this_thread::yield();
            }
            worker.join();
            if (out.done) {
                EXPECT_TRUE(SameGrid(out.grid, whole.grid)) << "finished before the cancel";
                EXPECT_FALSE(atReport && stopAt < reports) << "went on past a cancel";
            } else {
                EXPECT_EQ(out.error, kPreparationCancelled);
                EXPECT_TRUE(Empty(out.grid));
                EXPECT_EQ(out.painting.status, KrTerrain::PaintingLoad::NoFile);
            }
        }
        for (int f = 0; f < frames; ++f)
            Frame(b.terrain, f);
        if (reads)
            b.terrain.Render();
        EXPECT_TRUE(Same(a, b));
    }
}

namespace {

int gWritesLeft = 0;
ssize_t FailingWriter(int fd, const void* data, size_t bytes) {
    if (gWritesLeft-- > 0)
        return ::write(fd, data, bytes);
    errno = ENOSPC;
    return -1;
}

// A save as the editor's worker writes it: the painting gathered here, both files written on
// a thread of its own while this one renders frames. Whether the heights and the painting
// were written.
std::pair<bool, bool> SaveOnAWorker(MemoryTerrain& m, const std::string& path, std::string* error) {
    KrTerrain& t = m.terrain;
    KrPaintingWrite painting;
    if (!t.CollectPainting(path.c_str(), &painting, error))
        return {false, false};
    bool heights = false, paint = false;
    std::atomic<bool> finished{false};
    std::thread worker([&] {
        heights = WriteMapVertexData(path.c_str(), t.info, t.vertices, KrProgress{}, error);
        paint = heights && WritePaintingFile(painting, t.info, t.vertices, error);
        finished = true;
    });
    while (!finished)
        t.Render();
    worker.join();
    return {heights, paint};
}

} // namespace

// Written from another thread, both files are the ones a save here writes; a write that fails
// there keeps the files that were there (and the heights' file, when only the painting's
// write fails, is the new one, as a save here leaves it).
TEST(WorkerThread, SavesWrittenThereMatchAndFailuresKeepTheOldFiles) {
    TempDir dir;
    MemoryTerrain m(65, 65, 8);
    Sculpt(m.terrain, 2.0f);
    Paint(m);
    const std::string here = dir.Path("here.mvd"), there = dir.Path("there.mvd");
    std::string error;
    ASSERT_TRUE(m.terrain.SaveMapVertexData(here.c_str(), &error)) << error;
    ASSERT_TRUE(m.terrain.SavePainting(here.c_str(), &error)) << error;
    ASSERT_EQ(SaveOnAWorker(m, there, &error), std::pair(true, true)) << error;
    EXPECT_EQ(Read(there), Read(here));
    EXPECT_EQ(Read(dir.Path("there.vmsplat")), Read(dir.Path("here.vmsplat")));

    const Bytes oldHeights = Read(there), oldPainting = Read(dir.Path("there.vmsplat"));
    const size_t entries = Entries(dir.dir);
    m.terrain.vertices[100].y += 1;
    m.terrain.baseMappingScale = 4;
    // The header, the vertices and the painting are one write each at this size.
    for (int writes : {0, 1, 2}) {
        SCOPED_TRACE(writes);
        gWritesLeft = writes;
        SetFileWriteFunction(FailingWriter);
        error.clear();
        const auto [heights, painting] = SaveOnAWorker(m, there, &error);
        SetFileWriteFunction(nullptr);
        EXPECT_EQ(heights, writes == 2);
        EXPECT_FALSE(painting);
        EXPECT_NE(error.find("장치에 남은 공간이 없습니다"), std::string::npos) << error;
        if (writes < 2) {
            EXPECT_EQ(Read(there), oldHeights);
        }
        EXPECT_EQ(Read(dir.Path("there.vmsplat")), oldPainting);
        EXPECT_EQ(Entries(dir.dir), entries) << "no file left behind";
    }
    // The heights' file then no longer matches the painting beside it: a load refuses it.
    const KrPaintingRead read = ReadPaintingFile(there.c_str(), m.terrain.info, m.terrain.vertices);
    EXPECT_EQ(read.status, KrTerrain::PaintingLoad::Refused);
}
