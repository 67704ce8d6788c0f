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

// An editing terrain whose pick ray points straight down at the centre.
struct Editing : MemoryTerrain {
    explicit Editing(int32_t side) : MemoryTerrain(side, side) {
        ray.origin = D3DXVECTOR3(0, 100, 0);
        ray.direction = D3DXVECTOR3(0, -1, 0);
        terrain.pickRay = &ray;
        terrain.editing = true;
        terrain.brushMode = 1;
    }
    KrPickRay ray;
};

// Nothing listed, so nothing picked: the brush does not act at an earlier frame's point.
TEST(TerrainUpdate, LookingAwayListsNothingAndChangesNothing) {
    for (int side : {33, 34}) {
        Editing m(side);
        const Vertices before = m.Master();
        m.terrain.pickHit = true;
        ASSERT_TRUE(Frame(m.terrain, D3DXVECTOR3(0, 50, -2000), D3DXVECTOR3(0, 50, -3000)));
        EXPECT_EQ(m.terrain.visibleTriangleCount, 0) << side;
        EXPECT_FALSE(m.terrain.pickHit);
        EXPECT_FALSE(m.IndexBuffer()->locked);
        EXPECT_TRUE(m.Holds(before));
    }
}

// Without a quadtree in cell order; through it at the trackbar's 0, in tile order.
TEST(TerrainUpdate, FullGridInView) {
    MemoryTerrain m(34, 34), tree(33, 33);
    ASSERT_TRUE(Frame(m.terrain));
    EXPECT_EQ(m.terrain.visibleTriangleCount, 2178);
    EXPECT_EQ(m.Listed(), FullGrid(34, 34));
    tree.terrain.lodThreshold = 0.0f;
    ASSERT_TRUE(Frame(tree.terrain));
    EXPECT_NE(tree.Listed(), FullGrid(33, 33));
    EXPECT_EQ(Sorted(tree.Listed()), Sorted(FullGrid(33, 33)));
}

TEST(TerrainUpdate, NothingToListOrDrawWithoutBuffersOrALock) {
    MemoryTerrain none; // never created, or refused
    KrPickRay ray;
    none.terrain.pickRay = &ray;
    none.terrain.editing = true;
    none.terrain.visibleTriangleCount = 5;
    EXPECT_FALSE(none.terrain.Create(1, 1, 10));
    EXPECT_FALSE(Frame(none.terrain));
    EXPECT_EQ(none.terrain.visibleTriangleCount, 0);
    none.terrain.Render(); // nor drawn
    EXPECT_TRUE(none.device->log.empty());

    MemoryTerrain m(34, 34);
    m.terrain.pickHit = true; // and without a pick record, no hit
    ASSERT_TRUE(Frame(m.terrain));
    EXPECT_FALSE(m.terrain.pickHit);
    m.device->failures->lockBuffer = true;
    EXPECT_FALSE(Frame(m.terrain));
    EXPECT_EQ(m.terrain.visibleTriangleCount, 0);
    m.device->failures->lockBuffer = false;
    EXPECT_TRUE(Frame(m.terrain)); // the next frame tries again
    EXPECT_EQ(m.terrain.visibleTriangleCount, 2178);
}

// Update culls from 200 behind the renderer's camera, and allocates nothing per frame.
TEST(TerrainUpdate, AllocatesNothingPerFrame) {
    const D3DXVECTOR3 eye(30, 300, -400);
    KrRenderer* r = KrRenderer::GetInstance();
    r->viewMatrix = LookAt(eye, kCentre);
    r->cullProjection = CullProjection();
    KrFrustum f;
    const D3DXMATRIX view = CullView(eye, kCentre);
    BuildFrustum(&f, &view, &r->cullProjection);
    for (int side : {129, 34}) {
        const long beforeCreate = allocations.load();
        Editing m(side);
        KrTerrain& t = m.terrain;
        ASSERT_GT(allocations.load(), beforeCreate); // the counter sees this program's news
        t.lodThreshold = 5.0f;
        // The sculpting tools make their row buffers and noise field on first use.
        const auto everyBrush = [&t] {
            for (int shape : {0, 1})
                for (int mode = 1; mode <= 6; ++mode) {
                    t.brushShape = shape;
                    t.brushMode = mode;
                    t.Update();
                }
        };
        everyBrush();
        const long before = allocations.load();
        for (int tool : {0, 1, 2}) {
            t.activeTool = tool;
            t.Update();
            t.Update();
        }
        t.activeTool = 0;
        everyBrush();
        EXPECT_EQ(allocations.load() - before, 0) << side;
        EXPECT_EQ(std::memcmp(&t.frustum, &f, sizeof f), 0);
        EXPECT_GT(t.visibleTriangleCount, 0);
        EXPECT_TRUE(t.pickHit);
    }
    KrRenderer::DestroyInstance();
}

} // namespace
