// The per-frame update's faster paths against straightforward versions of the same steps:
// every frame must list the same triangles and leave the same bits in the vertex array, and
// the vertex buffer must always hold the whole array.
#include "terrain_fixture.h"

#include <random>

namespace {

D3DXVECTOR3 At(const KrTerrainVertex* v, int32_t i) {
    return D3DXVECTOR3(v[i].x, v[i].y, v[i].z);
}

// Faces added in list order, then each listing of a vertex normalised again.
void ReferenceNormals(Vertices& v, const std::vector<Triangle>& list) {
    for (const Triangle& t : list) {
        const D3DXVECTOR3 p0 = At(v.data(), t[0]), e1 = At(v.data(), t[1]) - p0,
                          e2 = At(v.data(), t[2]) - p0;
        D3DXVECTOR3 face;
        D3DXVec3Normalize(&face, D3DXVec3Cross(&face, &e1, &e2));
        for (int32_t i : t)
            v[i].nx += face.x, v[i].ny += face.y, v[i].nz += face.z;
    }
    for (const Triangle& t : list) {
        for (int32_t i : t) {
            D3DXVECTOR3 n(v[i].nx, v[i].ny, v[i].nz);
            D3DXVec3Normalize(&n, &n);
            v[i].nx = n.x, v[i].ny = n.y, v[i].nz = n.z;
        }
    }
}

// The quadtree walk in one recursion from the engine's sphere and point tests; without a
// tree, every triangle with a vertex inside, each vertex tested on its own.
struct Reference {
    const Vertices& v;
    const KrFrustum& f;
    double lod;
    std::vector<Triangle> out;

    std::vector<Triangle> List(const KrTerrain& t) {
        if (t.quadTree)
            Walk(t.quadTree, false);
        else
            for (const Triangle& tri : FullGrid(t.info.vertsPerRow, t.info.vertsPerCol))
                if (std::any_of(tri.begin(), tri.end(), [&](int32_t i) { return In(i); }))
                    out.push_back(tri);
        return out;
    }
    bool In(int32_t i) const {
        const D3DXVECTOR3 p = At(v.data(), i);
        return ContainsPoint(&f, &p);
    }
    bool Splits(const KrQuadTree* n) const {
        return n && n->children[0] &&
               n->corners[CornerTR] - n->corners[CornerTL] > n->LodLevel(&f.centre, v.data(), lod);
    }
    int Classify(const KrQuadTree* n) const {
        D3DXVECTOR3 c;
        if (n->children[0]) {
            c = At(v.data(), n->centre);
        } else {
            for (int32_t corner : n->corners)
                c += At(v.data(), corner) * 0.25f;
        }
        const KrSphere sphere{c.x, c.y, c.z, n->boundingSphere.radius};
        if (ClassifySphere(&f, &sphere) == 0)
            return 0;
        return std::all_of(n->corners, n->corners + 4, [&](int32_t i) { return In(i); }) ? 2 : 1;
    }
    void Walk(const KrQuadTree* n, bool inside) {
        const int r = inside ? 2 : Classify(n);
        if (r == 0)
            return;
        if (Splits(n)) {
            for (const KrQuadTree* child : n->children)
                Walk(child, r == 2);
            return;
        }
        const int32_t tl = n->corners[0], tr = n->corners[1], bl = n->corners[2],
                      br = n->corners[3], c = n->centre;
        const int32_t sides[4][3] = {
            {tl, tr, EdgeUp}, {br, bl, EdgeDown}, {bl, tl, EdgeLeft}, {tr, br, EdgeRight}};
        if (std::none_of(sides, sides + 4, [&](auto& s) { return Splits(n->neighbours[s[2]]); })) {
            out.insert(out.end(), {{tl, tr, bl}, {bl, tr, br}});
            return;
        }
        for (const auto& [from, to, edge] : sides) {
            if (Splits(n->neighbours[edge]))
                out.insert(out.end(), {{c, from, (from + to) / 2}, {c, (from + to) / 2, to}});
            else
                out.push_back({c, from, to});
        }
    }
};

TEST(PerfEquivalence, RandomFramesMatchTheStraightforwardSteps) {
    std::mt19937 rng(20240611);
    const auto uniform = [&](float lo, float hi) {
        return std::uniform_real_distribution<float>(lo, hi)(rng);
    };
    const auto chance = [&](float p) { return uniform(0, 1) < p; };
    int edits = 0, listed = 0;
    const int32_t grids[][3] = {{33, 33, 10}, {65, 65, 3},  {129, 129, 10},
                                {65, 17, 10}, {34, 34, 10}, {50, 20, 7}};
    for (auto [w, d, spacing] : grids) {
        MemoryTerrain m(w, d, spacing);
        KrTerrain& t = m.terrain;
        KrPickRay ray{};
        t.pickRay = &ray;
        Vertices ref = m.Master();
        const int32_t n = t.info.numVertices;
        const float halfW = t.info.worldWidth * 0.5f, halfD = t.info.worldDepth * 0.5f;
        for (int frame = 0; frame < 100; ++frame) {
            SCOPED_TRACE(testing::Message() << w << " x " << d << " frame " << frame);
            // Heights written from outside now and then, announced as the header asks.
            if (chance(0.3f)) {
                const int32_t first = std::uniform_int_distribution<int32_t>(0, n - 1)(rng);
                const int32_t last = std::min(first + int32_t(uniform(0, 300)), n - 1);
                for (int32_t i = first; i <= last; ++i)
                    ref[i].y = t.vertices[i].y = uniform(-80, 80);
                t.MarkVerticesChanged(first, last);
            }
            // Mostly near enough for the pick, which reaches one world depth.
            const float height = chance(0.7f) ? uniform(10, halfD) : uniform(20, 1500);
            const float reach = chance(0.7f) ? 0.5f : 1.5f;
            const D3DXVECTOR3 eye(uniform(-reach, reach) * halfW, height,
                                  uniform(-reach, reach) * halfD);
            const D3DXVECTOR3 target(uniform(-halfW, halfW), 0, uniform(-halfD, halfD));
            ray.origin = eye;
            D3DXVec3Normalize(&ray.direction, &(ray.direction = target - eye));
            t.lodThreshold = std::vector<float>{0, 1, 5, 5, 20, 50}[rng() % 6];
            t.editing = chance(0.5f);
            t.activeTool = chance(0.8f) ? 0 : 2;
            t.brushMode = static_cast<int32_t>(rng() % 4);
            t.bigRadius = static_cast<int32_t>(uniform(0, 120));
            t.smallRadius = static_cast<int32_t>(uniform(0, 60));

            const D3DXMATRIX view = CullView(eye, chance(0.1f) ? eye + (eye - target) : target);
            const D3DXMATRIX projection = CullProjection();
            KrFrustum f;
            BuildFrustum(&f, &view, &projection);
            const double lod = static_cast<double>(t.lodThreshold) * 0.001;
            const std::vector<Triangle> want = Reference{ref, f, lod, {}}.List(t);
            ASSERT_TRUE(t.UpdateTerrain(view, projection));
            ASSERT_EQ(m.Listed(), want);
            // The brush's amounts are checked on their own; here its rows must reach the
            // buffer and its heights the normals.
            bool edited = false;
            for (int32_t i = 0; i < n; ++i) {
                edited |= ref[i].y != t.vertices[i].y;
                ref[i].y = t.vertices[i].y;
            }
            edits += edited;
            listed += !want.empty();
            ReferenceNormals(ref, want);
            ASSERT_TRUE(m.Holds(ref));
            // The separate cull and index passes list the same triangles, whatever marks
            // the one-walk pass left behind.
            if (t.quadTree) {
                ASSERT_EQ(Generate(t.quadTree, t, f, lod), (Reference{ref, f, lod, {}}.List(t)));
            }
        }
    }
    // The random poses did list triangles and the brush did edit.
    EXPECT_GT(listed, 400);
    EXPECT_GT(edits, 60);
}

TEST(PerfEquivalence, UploadsOnlyWhatChangedAndRetriesAFailedLock) {
    MemoryTerrain m(129, 129);
    KrTerrain& t = m.terrain;
    MemoryVertexBuffer* buffer = m.VertexBuffer();
    const auto change = [&](int32_t i, float y) {
        t.vertices[i].y = y;
        t.MarkVerticesChanged(i, i);
    };
    const int locks = buffer->lockCount;
    ASSERT_TRUE(t.UpdateNormals(nullptr)); // nothing changed: no lock at all
    EXPECT_EQ(buffer->lockCount, locks);

    change(5, 1); // two changes far apart go up as two small runs
    change(129 * 128 + 7, 2);
    ASSERT_TRUE(t.UpdateNormals(nullptr));
    EXPECT_EQ(buffer->lockCount, locks + 2);
    EXPECT_EQ(buffer->lastLockOffset, (129u * 128 + 7) * 32);
    EXPECT_EQ(buffer->lastLockSize, 32u);
    EXPECT_TRUE(m.Holds(m.Master()));

    change(300, 3); // a failed lock keeps the change for the next frame
    m.device->failures->lockBuffer = true;
    EXPECT_FALSE(t.UpdateNormals(nullptr));
    m.device->failures->lockBuffer = false;
    ASSERT_TRUE(t.UpdateNormals(nullptr));
    EXPECT_EQ(m.BufferVertices()[300].y, 3.0f);

    t.MarkVerticesChanged(-10, -1); // marks outside the grid are ignored
    t.MarkVerticesChanged(129 * 129, 129 * 129 + 5);
    const int before = buffer->lockCount;
    ASSERT_TRUE(t.UpdateNormals(nullptr));
    EXPECT_EQ(buffer->lockCount, before);
}

// The pick, four triangles at a time, against IntersectTriangle called on each in turn: the
// same hit, distance and point to the bit, over rays from all sides and odd triangles.
TEST(PerfEquivalence, PickMatchesTheTriangleByTriangleTest) {
    std::mt19937 rng(99);
    const auto uniform = [&](float lo, float hi) {
        return std::uniform_real_distribution<float>(lo, hi)(rng);
    };
    int hits = 0;
    for (int round = 0; round < 400; ++round) {
        MemoryTerrain m(9, 9);
        KrTerrain& t = m.terrain;
        const float roughness = std::vector<float>{0, 1, 40, 1e4f}[rng() % 4];
        for (int32_t i = 0; i < t.info.numVertices; ++i)
            t.vertices[i].y = uniform(-1, 1) * roughness;
        // Full grids, and lists with repeated and degenerate triangles, of every length mod 4.
        std::vector<Triangle> list = FullGrid(9, 9);
        if (rng() % 2) {
            list.resize(rng() % 30);
            for (Triangle& tri : list)
                for (int32_t& i : tri)
                    i = static_cast<int32_t>(rng() % (rng() % 3 ? 81 : 3));
        }
        KrPickRay ray{};
        ray.origin = D3DXVECTOR3(uniform(-60, 60), uniform(-30, 90), uniform(-60, 60));
        ray.direction =
            D3DXVECTOR3(uniform(-40, 40), uniform(-5, 5), uniform(-40, 40)) - ray.origin;
        if (rng() % 2)
            D3DXVec3Normalize(&ray.direction, &ray.direction);
        ray.distance = -7;
        ray.hitPoint = D3DXVECTOR3(1, 2, 3);
        KrPickRay want = ray, probe = ray;
        t.pickRay = &ray;
        t.visibleTriangleCount = static_cast<int32_t>(list.size());
        const bool hit = t.PickTerrain(list.empty() ? nullptr : list.front().data());

        float best = static_cast<float>(t.info.worldDepth);
        bool wantHit = false;
        for (const Triangle& tri : list) {
            if (KrTerrain::IntersectTriangle(&probe, At(t.vertices, tri[0]), At(t.vertices, tri[1]),
                                             At(t.vertices, tri[2])) &&
                probe.distance < best) {
                best = probe.distance;
                want.hitPoint = probe.hitPoint;
                wantHit = true;
            }
        }
        if (wantHit) {
            want.distance = best;
            want.hitPoint.y = t.GetHeight(want.hitPoint.x, want.hitPoint.z);
        }
        ASSERT_EQ(hit, wantHit) << "round " << round;
        ASSERT_EQ(t.pickHit, wantHit);
        ASSERT_EQ(std::memcmp(&ray, &want, sizeof ray), 0) << "round " << round;
        hits += hit;
    }
    EXPECT_GT(hits, 100);
}

} // namespace
