// Grids prepared away from the terrain, on another thread, and put in place afterwards.
#include "KrTerrainGrid.h"
#include "terrain_fixture.h"

#include <atomic>
#include <thread>
#include <tuple>

namespace {

Vertices Of(const KrTerrainGrid& g) {
    return Vertices(g.vertices.get(), g.vertices.get() + g.info.numVertices);
}

// A file of a 129 × 33 grid with heights.
std::string SavedGrid(const TempDir& dir) {
    MemoryTerrain source(129, 33, 7);
    for (int32_t i = 0; i < source.terrain.info.numVertices; ++i)
        source.terrain.vertices[i].y = float(i % 17) - 8;
    const std::string path = dir.Path("source.mvd");
    EXPECT_TRUE(source.terrain.SaveMapVertexData(path.c_str()));
    return path;
}

TEST(PreparedGrid, MadeOnAWorkerWhileFramesGoOnThenInstalled) {
    TempDir dir;
    const std::string path = SavedGrid(dir);
    MemoryTerrain m(65, 65);
    KrTerrain& t = m.terrain;
    const Vertices before = m.Master();
    const KrTerrainVertex* previous = t.vertices;

    KrTerrainGrid grid;
    std::vector<float> fractions;
    std::string error;
    bool prepared = false;
    std::thread worker([&] {
        const KrProgress progress{[&](float f) { fractions.push_back(f); }};
        prepared = PrepareMapVertexData(path.c_str(), &grid, progress, &error);
    });
    // The terrain keeps drawing its own grid meanwhile.
    for (int frame = 0; frame < 20; ++frame) {
        const D3DXVECTOR3 eye(float(frame) * 10, 300, -200);
        ASSERT_TRUE(t.UpdateTerrain(CullView(eye, D3DXVECTOR3(0, 0, 0)), CullProjection()));
        EXPECT_GT(t.visibleTriangleCount, 0);
    }
    worker.join();
    ASSERT_TRUE(prepared) << error;
    ASSERT_FALSE(fractions.empty());
    EXPECT_TRUE(std::is_sorted(fractions.begin(), fractions.end()));
    EXPECT_EQ(fractions.back(), 1.0f);
    EXPECT_EQ(t.info.numVertices, 65 * 65);

    ASSERT_TRUE(t.InstallGrid(grid, &error)) << error;
    MemoryTerrain loaded(9, 9);
    ASSERT_TRUE(loaded.terrain.LoadMapVertexData(path.c_str(), &error)) << error;
    EXPECT_EQ(std::memcmp(&t.info, &loaded.terrain.info, sizeof t.info), 0);
    EXPECT_TRUE(m.Holds(loaded.Master()));
    EXPECT_EQ(t.visibleTriangleCount, 0);
    ASSERT_NE(t.quadTree, nullptr);
    EXPECT_EQ(t.quadTree->LeafLevel(), 5);
    // The previous grid comes back, to be freed by whoever installed.
    EXPECT_EQ(grid.info.numVertices, 65 * 65);
    EXPECT_EQ(grid.vertices.get(), previous);
    EXPECT_EQ(grid.quadTree->LeafLevel(), 6);
    EXPECT_EQ(grid.vertices[200].x, before[200].x);
}

TEST(PreparedGrid, CancelStopsBothKindsAndLeavesNothing) {
    TempDir dir;
    const std::string path = SavedGrid(dir);
    for (bool load : {false, true}) {
        std::atomic<bool> cancel{false};
        int reports = 0;
        const KrProgress progress{[&](float) { cancel = ++reports == 2; }, &cancel};
        KrTerrainGrid grid;
        std::string error;
        EXPECT_FALSE(load ? PrepareMapVertexData(path.c_str(), &grid, progress, &error)
                          : PrepareGrid(257, 257, 10, &grid, progress, &error));
        EXPECT_EQ(error, kPreparationCancelled) << load;
        EXPECT_EQ(reports, 2) << "stopped at the next look at the flag";
        EXPECT_TRUE(!grid.vertices && !grid.quadTree && !grid.normalUses);
    }
    // Refusals say why, before any work.
    KrTerrainGrid grid;
    std::string error;
    EXPECT_FALSE(PrepareGrid(4098, 3, 10, &grid, {}, &error));
    EXPECT_NE(error.find("4097"), std::string::npos) << error;
    EXPECT_FALSE(PrepareMapVertexData(dir.Path("none.mvd").c_str(), &grid, {}, &error));
    EXPECT_NE(error.find("그런 파일이나 폴더가 없습니다"), std::string::npos) << error;
}

TEST(PreparedGrid, InstallFailuresLeaveTerrainAndGridAsTheyWere) {
    MemoryTerrain m(33, 33);
    KrTerrain& t = m.terrain;
    t.vertices[5].y = 3; // in the master array only, as an edit before its upload
    const auto terrain = [&] {
        return std::tuple(t.vertices, t.vertexBuffer, t.indexBuffer, t.quadTree, t.info.numVertices,
                          m.VertexBuffer()->data);
    };
    const auto before = terrain();
    KrTerrainGrid grid;
    ASSERT_TRUE(PrepareGrid(17, 9, 4, &grid));
    const KrTerrainVertex* prepared = grid.vertices.get();
    DeviceFailures& f = *m.device->failures;
    for (bool DeviceFailures::*flag :
         {&DeviceFailures::createIndexBuffer, &DeviceFailures::createVertexBuffer,
          &DeviceFailures::lockBuffer}) {
        std::string error;
        f.*flag = true;
        EXPECT_FALSE(t.InstallGrid(grid, &error));
        f.*flag = false;
        EXPECT_FALSE(error.empty());
        EXPECT_TRUE(terrain() == before) << error;
        EXPECT_EQ(grid.vertices.get(), prepared);
        EXPECT_EQ(grid.info.numVertices, 17 * 9);
    }
    KrTerrainGrid empty;
    EXPECT_FALSE(t.InstallGrid(empty));
    EXPECT_TRUE(terrain() == before);
    ASSERT_TRUE(t.InstallGrid(grid));
    EXPECT_EQ(t.vertices, prepared);
    EXPECT_EQ(m.VertexBuffer()->data.size(), 17u * 9 * 32);

    // A terrain that never had a grid gets the brush outline with its first.
    MemoryTerrain fresh;
    ASSERT_TRUE(PrepareGrid(9, 9, 10, &grid));
    fresh.device->failures->createVertexBuffer = true;
    EXPECT_FALSE(fresh.terrain.InstallGrid(grid));
    EXPECT_TRUE(!fresh.terrain.brushOutlineBuffer && !fresh.terrain.vertices);
    fresh.device->failures->createVertexBuffer = false;
    ASSERT_TRUE(fresh.terrain.InstallGrid(grid));
    EXPECT_NE(fresh.terrain.brushOutlineBuffer, nullptr);
    EXPECT_EQ(fresh.device->Calls(DeviceOp::CreateVertexBuffer).size(),
              3u); // failed, outline, grid
}

// A grid of the size already there goes into the same buffers: no second vertex array on
// the device while the old one is still held.
TEST(PreparedGrid, SameSizeReusesTheBuffers) {
    MemoryTerrain m(33, 33);
    KrTerrain& t = m.terrain;
    IDirect3DVertexBuffer9* vertexBuffer = t.vertexBuffer;
    IDirect3DIndexBuffer9* indexBuffer = t.indexBuffer;
    KrTerrainGrid grid;
    ASSERT_TRUE(PrepareGrid(33, 33, 3, &grid));
    const Vertices want = Of(grid);

    m.device->failures->lockBuffer = true; // the one device call left to fail
    EXPECT_FALSE(t.InstallGrid(grid));
    m.device->failures->lockBuffer = false;
    EXPECT_TRUE(m.Holds(m.Master())) << "the buffer keeps the grid in place";

    m.device->ClearLog();
    m.device->failures->createVertexBuffer = m.device->failures->createIndexBuffer = true;
    ASSERT_TRUE(t.InstallGrid(grid));
    EXPECT_TRUE(m.device->log.empty());
    EXPECT_EQ(std::tuple(t.vertexBuffer, t.indexBuffer), std::tuple(vertexBuffer, indexBuffer));
    EXPECT_TRUE(m.Holds(want));
    EXPECT_EQ(t.info.cellSpacingX, 3.0f);
}

} // namespace
