#include "KrRenderer.h"
#include "terrain_fixture.h"

#include <atomic>
#include <cstdlib>
#include <new>

// Counts every allocation of this test program; only the allocation test reads the count.
namespace {
std::atomic<long> allocations{0};
}

void* operator new(std::size_t size) {
    allocations.fetch_add(1, std::memory_order_relaxed);
    if (void* p = std::malloc(size ? size : 1))
        return p;
    throw std::bad_alloc();
}
// Kept out of line: inlined into a delete expression, the free would look mismatched to
// the compiler's new/delete checks.
[[gnu::noinline]] void operator delete(void* p) noexcept {
    std::free(p);
}
[[gnu::noinline]] void operator delete(void* p, std::size_t) noexcept {
    std::free(p);
}

namespace {

const D3DXVECTOR3 kHigh(0, 800, -10);
const D3DXVECTOR3 kCentre(0, 0, 0);

bool Frame(KrTerrain& t, const D3DXVECTOR3& eye = kHigh, const D3DXVECTOR3& target = kCentre) {
    return t.UpdateTerrain(CullView(eye, target), CullProjection());
}

// An editing terrain whose pick ray points straight down at (x, z).
struct Editing : MemoryTerrain {
    Editing(int32_t side, float x = 0, float z = 0) : MemoryTerrain(side, side) {
        ray.origin = D3DXVECTOR3(x, 100, z);
        ray.direction = D3DXVECTOR3(0, -1, 0);
        terrain.pickRay = &ray;
        terrain.editing = true;
        terrain.brushMode = 1;
    }
    KrPickRay ray;
};

TEST(TerrainUpdate, LookingAwayListsNothingAndChangesNoNormal) {
    for (int side : {33, 34}) {
        Editing m(side);
        const Vertices before = m.Master();
        ASSERT_TRUE(Frame(m.terrain, D3DXVECTOR3(0, 50, -2000), D3DXVECTOR3(0, 50, -3000)));
        EXPECT_EQ(m.terrain.visibleTriangleCount, 0) << side;
        EXPECT_FALSE(m.terrain.pickHit);
        EXPECT_FALSE(m.IndexBuffer()->locked);
        EXPECT_TRUE(m.Holds(before));
    }
}

TEST(TerrainUpdate, FullGridInViewInCellOrder) {
    MemoryTerrain m(34, 34);
    ASSERT_FALSE(m.terrain.quadTreeEnabled);
    ASSERT_TRUE(Frame(m.terrain));
    EXPECT_EQ(m.terrain.visibleTriangleCount, 2178);
    EXPECT_EQ(m.Listed(), FullGrid(34, 34));
    EXPECT_EQ(m.IndexBuffer()->lastLockOffset, 0u);
    EXPECT_EQ(m.IndexBuffer()->lastLockSize, 2178u * 12);
    // The normals of the listed triangles went up and into the vertex buffer.
    EXPECT_GT(m.terrain.vertices[0].ny, 0.5f);
    EXPECT_EQ(m.BufferVertices()[0].ny, m.terrain.vertices[0].ny);
}

TEST(TerrainUpdate, QuadTreeAtFinestDetailListsTheFullGrid) {
    MemoryTerrain m(33, 33);
    m.terrain.lodThreshold = 0.0f; // the trackbar at 0
    ASSERT_TRUE(Frame(m.terrain));
    EXPECT_EQ(m.terrain.visibleTriangleCount, 2048);
    EXPECT_NE(m.Listed(), FullGrid(33, 33)); // tile order, not cell order
    EXPECT_EQ(Sorted(m.Listed()), Sorted(FullGrid(33, 33)));
}

TEST(TerrainUpdate, UpdateCullsFromBehindTheRendererCamera) {
    MemoryTerrain m(34, 34);
    KrRenderer* r = KrRenderer::GetInstance();
    // Row 0 lies at z = 170; the eye is 100 units in front of its middle vertex, looking on.
    const D3DXVECTOR3 eye(0, 0, 270);
    r->viewMatrix = LookAt(eye, D3DXVECTOR3(0, 0, 1000));
    r->cullProjection = CullProjection();
    m.terrain.Update();
    EXPECT_NEAR(m.terrain.frustum.centre.z, 80, 1e-3f); // 190 behind the eye
    const std::vector<Triangle> listed = m.Listed();
    EXPECT_FALSE(listed.empty());
    EXPECT_TRUE(std::any_of(listed.begin(), listed.end(), [](const Triangle& t) {
        return std::find(t.begin(), t.end(), 17) != t.end();
    }));
    for (const Triangle& t : listed)
        EXPECT_LT(t[0], 12 * 34); // nothing from the far rows
    KrRenderer::DestroyInstance();
}

TEST(TerrainUpdate, ToolsRunOnlyAtAPointPickedThisFrame) {
    Editing m(33, 12, -7);
    KrTerrain& t = m.terrain;
    t.editing = false;
    ASSERT_TRUE(Frame(t));
    EXPECT_TRUE(t.pickHit);
    EXPECT_NEAR(m.ray.hitPoint.x, 12, 1e-3f);

    // A ray that misses: every tool idles, nothing is edited at the old point.
    m.ray.origin = D3DXVECTOR3(5000, 100, 0);
    t.editing = true;
    for (int tool : {0, 1, 2}) {
        for (int mode : {1, 2, 3}) {
            t.activeTool = tool;
            t.brushMode = mode;
            ASSERT_TRUE(Frame(t));
            EXPECT_FALSE(t.pickHit);
            for (int32_t i = 0; i < t.info.numVertices; ++i)
                ASSERT_EQ(t.vertices[i].y, 0.0f) << "tool " << tool << " mode " << mode;
        }
    }
    // Without a pick record nothing is picked either.
    t.pickRay = nullptr;
    ASSERT_TRUE(Frame(t));
    EXPECT_FALSE(t.pickHit);
}

TEST(TerrainUpdate, NothingToListWithoutBuffersOrALock) {
    {
        MemoryTerrain m; // never created
        KrPickRay ray;
        m.terrain.pickRay = &ray;
        m.terrain.editing = true;
        m.terrain.visibleTriangleCount = 5;
        EXPECT_FALSE(Frame(m.terrain));
        EXPECT_EQ(m.terrain.visibleTriangleCount, 0);
        EXPECT_FALSE(m.terrain.Create(1, 1, 10)); // refused: still nothing
        m.terrain.Update();
        EXPECT_EQ(m.terrain.visibleTriangleCount, 0);
    }
    {
        MemoryTerrain m(34, 34);
        m.device->failures->lockBuffer = true;
        EXPECT_FALSE(Frame(m.terrain));
        EXPECT_EQ(m.terrain.visibleTriangleCount, 0);
        m.device->failures->lockBuffer = false;
        EXPECT_TRUE(Frame(m.terrain)); // the next frame tries again
        EXPECT_EQ(m.terrain.visibleTriangleCount, 2178);
    }
    KrRenderer::DestroyInstance();
}

TEST(TerrainUpdate, AllocatesNothingPerFrame) {
    KrRenderer* r = KrRenderer::GetInstance();
    r->viewMatrix = LookAt(D3DXVECTOR3(30, 300, -400), kCentre);
    r->cullProjection = CullProjection();
    for (int side : {129, 34}) {
        const long beforeCreate = allocations.load();
        Editing m(side);
        KrTerrain& t = m.terrain;
        ASSERT_GT(allocations.load(), beforeCreate); // the counter sees this program's news
        t.lodThreshold = 5.0f;
        t.Update();
        const long before = allocations.load();
        for (int tool : {0, 1, 2}) {
            t.activeTool = tool;
            t.Update();
            t.Update();
        }
        EXPECT_EQ(allocations.load() - before, 0) << side;
        EXPECT_GT(t.visibleTriangleCount, 0);
        EXPECT_TRUE(t.pickHit);
    }
    KrRenderer::DestroyInstance();
}

} // namespace
