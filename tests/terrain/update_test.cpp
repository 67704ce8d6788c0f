#include "KrQuadTree.h"
#include "KrRenderer.h"
#include "terrain_fixture.h"
#include "view_helpers.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cstdlib>
#include <new>
#include <vector>

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

std::vector<Triangle> Listed(const MemoryTerrain& m) {
    const auto* raw = reinterpret_cast<const int32_t*>(m.IndexBuffer()->data.data());
    std::vector<Triangle> out(static_cast<size_t>(m.terrain.visibleTriangleCount));
    for (size_t i = 0; i < out.size(); ++i)
        out[i] = {raw[3 * i], raw[3 * i + 1], raw[3 * i + 2]};
    return out;
}

// Views as Update builds them: the camera's view moved 200 back.
bool UpdateFrom(KrTerrain& t, const D3DXVECTOR3& eye, const D3DXVECTOR3& target) {
    D3DXMATRIX view = LookAt(eye, target);
    view._43 += 200.0f;
    return t.UpdateTerrain(view, CullProjection());
}

const D3DXVECTOR3 kHigh(0, 800, -10);
const D3DXVECTOR3 kCentre(0, 0, 0);

TEST(TerrainUpdate, LookingAwayListsNothingAndChangesNoNormal) {
    for (int side : {33, 34}) {
        MemoryTerrain m;
        ASSERT_TRUE(m.terrain.Create(side, side, 10));
        KrPickRay ray;
        ray.origin = D3DXVECTOR3(0, 100, 0);
        ray.direction = D3DXVECTOR3(0, -1, 0);
        m.terrain.pickRay = &ray;
        m.terrain.editing = true;
        m.terrain.brushMode = 1;
        const std::vector<KrTerrainVertex> before(m.terrain.vertices,
                                                  m.terrain.vertices + m.terrain.info.numVertices);
        ASSERT_TRUE(UpdateFrom(m.terrain, D3DXVECTOR3(0, 50, -2000), D3DXVECTOR3(0, 50, -3000)));
        EXPECT_EQ(m.terrain.visibleTriangleCount, 0) << side;
        EXPECT_FALSE(m.terrain.pickHit);
        EXPECT_FALSE(m.IndexBuffer()->locked);
        EXPECT_TRUE(std::equal(before.begin(), before.end(), m.terrain.vertices,
                               [](const KrTerrainVertex& a, const KrTerrainVertex& b) {
                                   return a.y == b.y && a.nx == b.nx && a.ny == b.ny;
                               }));
    }
}

TEST(TerrainUpdate, FullGridInViewInCellOrder) {
    MemoryTerrain m;
    ASSERT_TRUE(m.terrain.Create(34, 34, 10));
    ASSERT_FALSE(m.terrain.quadTreeEnabled);
    ASSERT_TRUE(UpdateFrom(m.terrain, kHigh, kCentre));
    EXPECT_EQ(m.terrain.visibleTriangleCount, 2178);
    EXPECT_EQ(Listed(m), FullGrid(34, 34));
    EXPECT_EQ(m.IndexBuffer()->lastLockOffset, 0u);
    EXPECT_EQ(m.IndexBuffer()->lastLockSize, 2178u * 12);
    // The normals of the listed triangles went up and into the vertex buffer.
    EXPECT_GT(m.terrain.vertices[0].ny, 0.5f);
    EXPECT_EQ(m.BufferVertices()[0].ny, m.terrain.vertices[0].ny);
}

TEST(TerrainUpdate, QuadTreeAtFinestDetailListsTheFullGrid) {
    MemoryTerrain m;
    ASSERT_TRUE(m.terrain.Create(33, 33, 10));
    m.terrain.lodThreshold = 0.0f; // the trackbar at 0
    ASSERT_TRUE(UpdateFrom(m.terrain, kHigh, kCentre));
    std::vector<Triangle> listed = Listed(m), full = FullGrid(33, 33);
    EXPECT_EQ(listed.size(), 2048u);
    EXPECT_NE(listed, full); // tile order, not cell order
    std::sort(listed.begin(), listed.end());
    std::sort(full.begin(), full.end());
    EXPECT_EQ(listed, full);

    // The trackbar value is scaled by 0.001 on its way to the quadtree.
    m.terrain.lodThreshold = 20.0f;
    ASSERT_TRUE(UpdateFrom(m.terrain, kHigh, kCentre));
    std::vector<int32_t> direct(static_cast<size_t>(m.terrain.info.numTriangles) * 3);
    m.terrain.quadTree->FrustumCull(m.terrain.vertices, &m.terrain.frustum);
    const int32_t n = m.terrain.quadTree->GenerateIndices(0, direct.data(), m.terrain.vertices,
                                                          &m.terrain.frustum, 0.02);
    EXPECT_EQ(m.terrain.visibleTriangleCount, n);
    EXPECT_LT(n, 2048);
    EXPECT_GT(n, 2);
}

TEST(TerrainUpdate, UpdateCullsFromBehindTheRendererCamera) {
    MemoryTerrain m;
    ASSERT_TRUE(m.terrain.Create(34, 34, 10));
    KrRenderer* r = KrRenderer::GetInstance();
    // Row 0 lies at z = 170; the eye is 100 units in front of its middle vertex, looking on.
    const D3DXVECTOR3 eye(0, 0, 270);
    r->viewMatrix = LookAt(eye, D3DXVECTOR3(0, 0, 1000));
    r->cullProjection = CullProjection();
    m.terrain.Update();
    EXPECT_NEAR(m.terrain.frustum.centre.z, 80, 1e-3f); // 190 behind the eye
    const std::vector<Triangle> listed = Listed(m);
    EXPECT_FALSE(listed.empty());
    EXPECT_TRUE(std::any_of(listed.begin(), listed.end(), [](const Triangle& t) {
        return std::find(t.begin(), t.end(), 17) != t.end();
    }));
    for (const Triangle& t : listed)
        EXPECT_LT(t[0], 12 * 34); // nothing from the far rows
    KrRenderer::DestroyInstance();
}

TEST(TerrainUpdate, ToolsRunOnlyAtAPointPickedThisFrame) {
    MemoryTerrain m;
    KrTerrain& t = m.terrain;
    ASSERT_TRUE(t.Create(33, 33, 10));
    KrPickRay ray;
    ray.origin = D3DXVECTOR3(12, 100, -7);
    ray.direction = D3DXVECTOR3(0, -1, 0);
    t.pickRay = &ray;
    ASSERT_TRUE(UpdateFrom(t, kHigh, kCentre));
    EXPECT_TRUE(t.pickHit);
    EXPECT_NEAR(ray.hitPoint.x, 12, 1e-3f);

    // A ray that misses: every tool idles, nothing is edited at the old point.
    ray.origin = D3DXVECTOR3(5000, 100, 0);
    t.editing = true;
    for (int tool : {0, 1, 2}) {
        for (int mode : {1, 2, 3}) {
            t.activeTool = tool;
            t.brushMode = mode;
            ASSERT_TRUE(UpdateFrom(t, kHigh, kCentre));
            EXPECT_FALSE(t.pickHit);
            for (int32_t i = 0; i < t.info.numVertices; ++i)
                ASSERT_EQ(t.vertices[i].y, 0.0f) << "tool " << tool << " mode " << mode;
        }
    }
    // Without a pick record nothing is picked either.
    t.pickRay = nullptr;
    ASSERT_TRUE(UpdateFrom(t, kHigh, kCentre));
    EXPECT_FALSE(t.pickHit);
}

TEST(TerrainUpdate, NothingToListWithoutBuffersOrALock) {
    {
        MemoryTerrain m; // never created
        KrPickRay ray;
        m.terrain.pickRay = &ray;
        m.terrain.editing = true;
        m.terrain.visibleTriangleCount = 5;
        EXPECT_FALSE(UpdateFrom(m.terrain, kHigh, kCentre));
        EXPECT_EQ(m.terrain.visibleTriangleCount, 0);
        m.terrain.Update();
        EXPECT_EQ(m.terrain.visibleTriangleCount, 0);
        EXPECT_FALSE(m.terrain.Create(1, 1, 10)); // refused: still nothing
        EXPECT_FALSE(UpdateFrom(m.terrain, kHigh, kCentre));
        EXPECT_EQ(m.terrain.visibleTriangleCount, 0);
    }
    {
        MemoryTerrain m;
        ASSERT_TRUE(m.terrain.Create(34, 34, 10));
        m.device->failures->lockBuffer = true;
        EXPECT_FALSE(UpdateFrom(m.terrain, kHigh, kCentre));
        EXPECT_EQ(m.terrain.visibleTriangleCount, 0);
        m.device->failures->lockBuffer = false;
        EXPECT_TRUE(UpdateFrom(m.terrain, kHigh, kCentre)); // the next frame tries again
        EXPECT_EQ(m.terrain.visibleTriangleCount, 2178);
    }
    KrRenderer::DestroyInstance();
}

TEST(TerrainUpdate, AllocatesNothingPerFrame) {
    KrRenderer* r = KrRenderer::GetInstance();
    r->viewMatrix = LookAt(D3DXVECTOR3(30, 300, -400), kCentre);
    r->cullProjection = CullProjection();
    for (int side : {129, 34}) {
        MemoryTerrain m;
        KrTerrain& t = m.terrain;
        const long beforeCreate = allocations.load();
        ASSERT_TRUE(t.Create(side, side, 10));
        ASSERT_GT(allocations.load(), beforeCreate); // the counter sees this program's news
        KrPickRay ray;
        ray.origin = D3DXVECTOR3(0, 100, 0);
        ray.direction = D3DXVECTOR3(0, -1, 0);
        t.pickRay = &ray;
        t.editing = true;
        t.brushMode = 1;
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
