#include "terrain_fixture.h"

#include <numeric>
#include <random>

namespace {

int CountTiles(const KrQuadTree& tree, KrQuadTile tile) {
    int count = 1;
    for (int q = 0; tree.Subdivide(tile) && q < 4; ++q)
        count += CountTiles(tree, tree.Child(tile, q));
    return count;
}

std::array<int32_t, 4> CornersOf(const KrQuadTree& tree, KrQuadTile tile) {
    std::array<int32_t, 4> c;
    tree.Corners(tile, c.data());
    return c;
}

// The area seen from above, positive when the triangle faces up (clockwise from above).
double UpArea(const KrTerrainVertex* v, const Triangle& t) {
    const KrTerrainVertex &a = v[t[0]], &b = v[t[1]], &c = v[t[2]];
    return 0.5 * ((b.z - a.z) * (c.x - a.x) - (b.x - a.x) * (c.z - a.z));
}

// A drawn vertex lying strictly inside an edge of another drawn triangle (a T-junction),
// found on the flat grid's lattice. Returns the offending vertex or -1.
int32_t FindTJunction(const std::vector<Triangle>& list, int32_t w, int32_t vertexCount) {
    std::vector<char> used(static_cast<size_t>(vertexCount), 0);
    for (const Triangle& t : list)
        for (int32_t i : t)
            used[i] = 1;
    for (const Triangle& t : list) {
        for (int k = 0; k < 3; ++k) {
            const int32_t a = t[k], b = t[(k + 1) % 3];
            const int32_t dr = b / w - a / w, dc = b % w - a % w;
            const int32_t g = std::gcd(std::abs(dr), std::abs(dc));
            for (int32_t s = 1; s < g; ++s) {
                const int32_t p = a + (dr / g * s) * w + dc / g * s;
                if (used[p])
                    return p;
            }
        }
    }
    return -1;
}

TEST(QuadTree, ThreeByThreeShapeAndBothLevels) {
    MemoryTerrain m(3, 3);
    KrQuadTree* root = m.terrain.quadTree;
    const KrQuadTree& tree = *root;
    const KrQuadTile top = tree.Root();
    ASSERT_EQ(CountTiles(tree, top), 5);
    EXPECT_EQ(CornersOf(tree, top), (std::array<int32_t, 4>{0, 2, 6, 8}));
    EXPECT_EQ(tree.Centre(top), 4);
    EXPECT_NEAR(tree.Radius(top), 0.5f * std::sqrt(800.0f), 1e-4f);
    const std::array<int32_t, 4> leaves[4] = {
        {0, 1, 3, 4}, {1, 2, 4, 5}, {3, 4, 6, 7}, {4, 5, 7, 8}};
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(CornersOf(tree, tree.Child(top, i)), leaves[i]);
    EXPECT_EQ(tree.Centre(tree.Child(top, 0)), 2); // the average, not a vertex of the cell

    const KrFrustum f = EverythingFrustum(D3DXVECTOR3(0, 100, 0));
    // Coarse: the root whole, always exactly two triangles as it has no neighbours.
    EXPECT_EQ(Generate(root, m.terrain, f, 1.0), (std::vector<Triangle>{{0, 2, 6}, {6, 2, 8}}));
    // Finest: the four cells in child order.
    const std::vector<Triangle> fine = {{0, 1, 3}, {3, 1, 4}, {1, 2, 4}, {4, 2, 5},
                                        {3, 4, 6}, {6, 4, 7}, {4, 5, 7}, {7, 5, 8}};
    EXPECT_EQ(Generate(root, m.terrain, f, 0.0), fine);
}

TEST(QuadTree, ThirtyThreeSquareNeighbourLinks) {
    MemoryTerrain m(33, 33);
    KrQuadTree* root = m.terrain.quadTree;
    const KrQuadTree& tree = *root;
    const auto child = [&](KrQuadTile t, int i) { return tree.Child(t, i); };
    const auto links = [&](KrQuadTile t) {
        return std::array{tree.Neighbour(t, EdgeUp), tree.Neighbour(t, EdgeDown),
                          tree.Neighbour(t, EdgeLeft), tree.Neighbour(t, EdgeRight)};
    };
    const KrQuadTile none, q[4] = {child(tree.Root(), 0), child(tree.Root(), 1),
                                   child(tree.Root(), 2), child(tree.Root(), 3)};
    using Links = std::array<KrQuadTile, 4>; // up, down, left, right; borders have none
    EXPECT_EQ(links(q[0]), (Links{none, q[2], none, q[1]}));
    EXPECT_EQ(links(q[3]), (Links{q[1], none, q[2], none}));
    // Across parents.
    EXPECT_EQ(tree.Neighbour(child(q[0], 1), EdgeRight), child(q[1], 0));
    EXPECT_EQ(tree.Neighbour(child(q[2], 1), EdgeUp), child(q[0], 3));
    // Also none on the left border, where TL − g is the previous row's end.
    EXPECT_EQ(tree.Neighbour(child(q[2], 0), EdgeLeft), none);
    EXPECT_EQ(tree.Neighbour(child(q[2], 0), EdgeUp), child(q[0], 2));

    // A frame that culls below a tile drawn whole leaves no marks that hide it later.
    KrFrustum f = EverythingFrustum(D3DXVECTOR3(0, 5000, 0));
    f.planes[PlaneLeft] = KrPlane{-1, 0, 0, 0}; // only x > 0 inside
    EXPECT_EQ(Generate(root, m.terrain, f, 1.0).size(), 2u);
    f = EverythingFrustum(D3DXVECTOR3(0, 0, 0));
    EXPECT_EQ(Generate(root, m.terrain, f, 0.0).size(), 2048u);
}

TEST(QuadTree, FanSplitsTheSideTowardAFinerNeighbour) {
    MemoryTerrain m(9, 9);
    KrQuadTree* root = m.terrain.quadTree;
    // Levels at lodFactor 0.1: root 5 (split), top-left 3 (split), the rest 5 to 8 (whole).
    const KrFrustum f = EverythingFrustum(D3DXVECTOR3(-25, 0, 60));
    EXPECT_EQ(root->LodLevel(root->Root(), &f.centre, m.terrain.vertices, 0.1), 5);
    const std::vector<Triangle> list = Generate(root, m.terrain, f, 0.1);
    // Top-left's children 4 × 2, top-right fan 5, bottom-left fan 5, bottom-right 2.
    ASSERT_EQ(list.size(), 20u);
    // Bottom-left tile: centre 56, corners 36, 40, 72, 76; the up side through 38.
    const std::vector<Triangle> fan = {
        {56, 36, 38}, {56, 38, 40}, {56, 76, 72}, {56, 72, 36}, {56, 40, 76}};
    EXPECT_EQ(std::vector<Triangle>(list.begin() + 13, list.begin() + 18), fan);
    EXPECT_EQ(FindTJunction(list, 9, 81), -1);
    for (const Triangle& t : list)
        EXPECT_GT(UpArea(m.terrain.vertices, t), 0);

    // 300 from the root's centre (-5, 0, 5): at least level 1, else the product truncated.
    const D3DXVECTOR3 eye(-5, 300, 5), lost(NAN, 0, 0);
    EXPECT_EQ(root->LodLevel(root->Root(), &eye, m.terrain.vertices, 0.0), 1);
    EXPECT_EQ(root->LodLevel(root->Root(), &eye, m.terrain.vertices, 0.0099), 2);
    EXPECT_EQ(root->LodLevel(root->Root(), &lost, m.terrain.vertices, 0.05), 1);
}

// The finest level covers the grid once, also where the sides differ and tiles stop at one
// column or one row: one triangle pair per tile, never past the index buffer.
TEST(QuadTree, FinestLevelCoversTheGridOnce) {
    for (const auto& [w, d] : {std::pair{33, 33}, {65, 33}, {33, 65}}) {
        MemoryTerrain m(w, d);
        EXPECT_EQ(CountTiles(*m.terrain.quadTree, m.terrain.quadTree->Root()), 1365);
        const KrFrustum f = EverythingFrustum(D3DXVECTOR3(0, 0, 0));
        const std::vector<Triangle> list = Generate(m.terrain.quadTree, m.terrain, f, 0.0);
        EXPECT_EQ(list.size(), 2048u);
        double area = 0;
        for (const Triangle& t : list)
            area += UpArea(m.terrain.vertices, t);
        EXPECT_DOUBLE_EQ(area, 100.0 * (w - 1) * (d - 1)) << w << "x" << d;
    }
}

// Random camera poses over square and oblong grids at every level-of-detail trackbar
// value the map page offers up to 30.
TEST(QuadTree, ListsStayInBoundsFaceUpAndHaveNoCracks) {
    std::mt19937 random(20240607);
    std::uniform_real_distribution<float> unit(0.0f, 1.0f);
    for (auto [w, d, crackFree] :
         {std::tuple{33, 33, true}, {65, 65, true}, {33, 65, false}, {65, 33, false}}) {
        MemoryTerrain m(w, d);
        KrTerrain& t = m.terrain;
        ASSERT_TRUE(t.quadTreeEnabled);
        const float extent = 10.0f * static_cast<float>(std::max(w, d));
        int nonEmpty = 0;
        for (int trackbar = 0; trackbar <= 30; ++trackbar) {
            t.lodThreshold = static_cast<float>(trackbar);
            for (int pose = 0; pose < 24; ++pose) {
                const D3DXVECTOR3 eye((unit(random) - 0.5f) * 1.5f * extent, 5 + 600 * unit(random),
                                      (unit(random) - 0.5f) * 1.5f * extent);
                const float yaw = 6.2831853f * unit(random);
                const float pitch = -1.5f + 1.8f * unit(random);
                const D3DXVECTOR3 dir(std::cos(pitch) * std::sin(yaw), std::sin(pitch),
                                      std::cos(pitch) * std::cos(yaw));
                ASSERT_TRUE(t.UpdateTerrain(CullView(eye, eye + dir * 100.0f), CullProjection()));
                SCOPED_TRACE(testing::Message()
                             << w << "x" << d << " trackbar " << trackbar << " pose " << pose);
                ASSERT_LE(t.visibleTriangleCount, t.info.numTriangles);
                const std::vector<Triangle> list = m.Listed();
                for (const Triangle& tri : list) {
                    for (int32_t i : tri)
                        ASSERT_TRUE(i >= 0 && i < t.info.numVertices) << i;
                    ASSERT_GT(UpArea(t.vertices, tri), 0);
                }
                ASSERT_TRUE(!crackFree || FindTJunction(list, w, t.info.numVertices) == -1);
                nonEmpty += !list.empty();
            }
        }
        EXPECT_GT(nonEmpty, 31 * 24 / 3) << "too few poses see the terrain";
    }
}

} // namespace
