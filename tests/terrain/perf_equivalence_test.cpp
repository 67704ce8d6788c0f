// The per-frame update's faster paths against straightforward versions of the same steps:
// every frame must list the same triangles and leave the same bits in the vertex array, and
// the vertex buffer must always hold the whole array.
#include "KrQuadTree.h"
#include "terrain_fixture.h"
#include "view_helpers.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <vector>

namespace {

using Vertices = std::vector<KrTerrainVertex>;

D3DXVECTOR3 At(const Vertices& v, int32_t i) {
    return D3DXVECTOR3(v[i].x, v[i].y, v[i].z);
}

// Faces added in list order, then each listing of a vertex normalised again.
void ReferenceNormals(Vertices& v, const std::vector<Triangle>& list) {
    for (const Triangle& t : list) {
        const D3DXVECTOR3 p0 = At(v, t[0]), e1 = At(v, t[1]) - p0, e2 = At(v, t[2]) - p0;
        D3DXVECTOR3 face(e1.y * e2.z - e1.z * e2.y, e1.z * e2.x - e1.x * e2.z,
                         e1.x * e2.y - e1.y * e2.x);
        D3DXVec3Normalize(&face, &face);
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

void ReferenceBrush(const KrTerrain& t, Vertices& v, const D3DXVECTOR3& p) {
    const float sign = t.brushMode == 1 ? 1.0f : t.brushMode == 2 ? -1.0f : 0.0f;
    for (auto [radius, factor] : {std::pair{t.bigRadius, 5.0f}, {t.smallRadius, 15.0f}}) {
        const float r = static_cast<float>(radius);
        int32_t c0, c1, r0, r1, unused;
        t.WorldToCell(p.x - r, p.z, &c0, &unused);
        t.WorldToCell(p.x + r, p.z, &c1, &unused);
        t.WorldToCell(p.x, p.z + r, &unused, &r0);
        t.WorldToCell(p.x, p.z - r, &unused, &r1);
        for (int32_t row = std::max(r0, 0); row <= std::min(r1, t.info.cellsPerCol); ++row)
            for (int32_t c = std::max(c0, 0); c <= std::min(c1, t.info.cellsPerRow); ++c) {
                float& y = v[static_cast<size_t>(row * t.info.vertsPerRow + c)].y;
                y = t.brushMode == 3 ? 0.0f : y + t.strength * sign * factor;
            }
    }
}

// Every triangle with a vertex inside, each vertex tested on its own.
std::vector<Triangle> ReferenceFullList(const KrTerrain& t, const Vertices& v, const KrFrustum& f) {
    const auto in = [&](int32_t i) {
        const D3DXVECTOR3 p = At(v, i);
        return ContainsPoint(&f, &p);
    };
    std::vector<Triangle> out;
    for (const Triangle& tri : FullGrid(t.info.vertsPerRow, t.info.vertsPerCol))
        if (in(tri[0]) || in(tri[1]) || in(tri[2]))
            out.push_back(tri);
    return out;
}

// The quadtree walk in one recursion from the engine's sphere and point tests.
struct ReferenceQuadTree {
    const Vertices& v;
    const KrFrustum& f;
    double lod;
    std::vector<Triangle> out;

    bool Splits(const KrQuadTree* n) const {
        return n && n->children[0] &&
               n->corners[CornerTR] - n->corners[CornerTL] > n->LodLevel(&f.centre, v.data(), lod);
    }
    int Classify(const KrQuadTree* n) const {
        D3DXVECTOR3 c;
        if (n->children[0]) {
            c = At(v, n->centre);
        } else {
            for (int32_t corner : n->corners)
                c += At(v, corner);
            c = c * 0.25f;
        }
        const KrSphere sphere{c.x, c.y, c.z, n->boundingSphere.radius};
        if (ClassifySphere(&f, &sphere) == 0)
            return 0;
        int inside = 0;
        for (int32_t corner : n->corners) {
            const D3DXVECTOR3 p = At(v, corner);
            inside += ContainsPoint(&f, &p);
        }
        return inside == 4 ? 2 : 1;
    }
    void Walk(const KrQuadTree* n, bool inside) {
        if (!inside) {
            const int r = Classify(n);
            if (r == 0)
                return;
            inside = r == 2;
        }
        if (Splits(n)) {
            for (const KrQuadTree* child : n->children)
                Walk(child, inside);
            return;
        }
        const int32_t tl = n->corners[0], tr = n->corners[1], bl = n->corners[2],
                      br = n->corners[3];
        const bool split[4] = {Splits(n->neighbours[EdgeUp]), Splits(n->neighbours[EdgeDown]),
                               Splits(n->neighbours[EdgeLeft]), Splits(n->neighbours[EdgeRight])};
        if (!split[0] && !split[1] && !split[2] && !split[3]) {
            out.push_back({tl, tr, bl});
            out.push_back({bl, tr, br});
            return;
        }
        const int32_t sides[4][2] = {{tl, tr}, {br, bl}, {bl, tl}, {tr, br}};
        for (int s = 0; s < 4; ++s) {
            const int32_t from = sides[s][0], to = sides[s][1], mid = (from + to) / 2;
            if (split[s]) {
                out.push_back({n->centre, from, mid});
                out.push_back({n->centre, mid, to});
            } else {
                out.push_back({n->centre, from, to});
            }
        }
    }
};

std::vector<Triangle> Listed(const MemoryTerrain& m) {
    const auto* raw = reinterpret_cast<const int32_t*>(m.IndexBuffer()->data.data());
    std::vector<Triangle> out(static_cast<size_t>(m.terrain.visibleTriangleCount));
    for (size_t i = 0; i < out.size(); ++i)
        out[i] = {raw[3 * i], raw[3 * i + 1], raw[3 * i + 2]};
    return out;
}

bool SameBits(const Vertices& a, const KrTerrainVertex* b) {
    return std::memcmp(a.data(), b, a.size() * sizeof(KrTerrainVertex)) == 0;
}

TEST(PerfEquivalence, RandomFramesMatchTheStraightforwardSteps) {
    struct Grid {
        int32_t w, d, spacing;
    } grids[] = {{33, 33, 10}, {65, 65, 3},  {129, 129, 10},
                 {65, 17, 10}, {34, 34, 10}, {50, 20, 7}};
    std::mt19937 rng(20240611);
    const auto uniform = [&](float lo, float hi) {
        return std::uniform_real_distribution<float>(lo, hi)(rng);
    };
    const auto chance = [&](float p) { return uniform(0, 1) < p; };
    int edits = 0, listed = 0;
    for (const Grid& g : grids) {
        MemoryTerrain m;
        KrTerrain& t = m.terrain;
        ASSERT_TRUE(t.Create(g.w, g.d, g.spacing));
        KrPickRay ray{};
        t.pickRay = &ray;
        Vertices ref(t.vertices, t.vertices + t.info.numVertices);
        const float halfW = t.info.worldWidth * 0.5f, halfD = t.info.worldDepth * 0.5f;
        for (int frame = 0; frame < 100; ++frame) {
            SCOPED_TRACE(testing::Message() << g.w << " x " << g.d << " frame " << frame);
            // Heights written from outside now and then, announced as the header asks.
            if (chance(0.3f)) {
                const int32_t first =
                    std::uniform_int_distribution<int32_t>(0, t.info.numVertices - 1)(rng);
                const int32_t last =
                    std::min(first + int32_t(uniform(0, 300)), t.info.numVertices - 1);
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
            ray.direction = target - eye;
            D3DXVec3Normalize(&ray.direction, &ray.direction);
            t.lodThreshold = std::vector<float>{0, 1, 5, 5, 20, 50}[rng() % 6];
            t.editing = chance(0.5f);
            t.activeTool = chance(0.8f) ? 0 : 2;
            t.brushMode = static_cast<int32_t>(rng() % 4);
            t.strength = uniform(0.01f, 2.0f);
            t.bigRadius = static_cast<int32_t>(uniform(0, 120));
            t.smallRadius = static_cast<int32_t>(uniform(0, 60));

            D3DXMATRIX view = LookAt(eye, chance(0.1f) ? eye + (eye - target) : target);
            view._43 += 200.0f;
            const D3DXMATRIX projection = CullProjection();
            KrFrustum f;
            BuildFrustum(&f, &view, &projection);
            const double lod = static_cast<double>(t.lodThreshold) * 0.001;
            std::vector<Triangle> want;
            if (t.quadTreeEnabled) {
                ReferenceQuadTree walk{ref, f, lod, {}};
                walk.Walk(t.quadTree, false);
                want = std::move(walk.out);
            } else {
                want = ReferenceFullList(t, ref, f);
            }

            ASSERT_TRUE(t.UpdateTerrain(view, projection));
            ASSERT_EQ(Listed(m), want);
            if (t.editing && t.pickHit && t.activeTool == 0) {
                ReferenceBrush(t, ref, ray.hitPoint);
                edits += t.brushMode != 0;
            }
            listed += !want.empty();
            ReferenceNormals(ref, want);
            ASSERT_TRUE(SameBits(ref, t.vertices));
            ASSERT_TRUE(SameBits(ref, m.BufferVertices()));

            // The separate cull and index passes list the same triangles, whatever marks
            // the one-walk pass left behind.
            if (t.quadTreeEnabled) {
                std::vector<int32_t> indices(static_cast<size_t>(t.info.numTriangles) * 3);
                t.quadTree->FrustumCull(t.vertices, &f);
                const int32_t n =
                    t.quadTree->GenerateIndices(0, indices.data(), t.vertices, &f, lod);
                ReferenceQuadTree walk{ref, f, lod, {}};
                walk.Walk(t.quadTree, false);
                std::vector<Triangle> separate(static_cast<size_t>(n));
                for (size_t i = 0; i < separate.size(); ++i)
                    separate[i] = {indices[3 * i], indices[3 * i + 1], indices[3 * i + 2]};
                ASSERT_EQ(separate, walk.out);
            }
        }
    }
    // The random poses did list triangles and the brush did edit.
    EXPECT_GT(listed, 400);
    EXPECT_GT(edits, 60);
}

// Lists the per-frame update never makes, over values far from a terrain's: repeated and
// degenerate triangles, zero, huge and tiny coordinates, a zero normal.
TEST(PerfEquivalence, NormalsOfOddListsAndValues) {
    std::mt19937 rng(7);
    const float scales[] = {0.0f, 1e-30f, 1e-3f, 1.0f, 1e4f, 1e30f};
    for (int round = 0; round < 200; ++round) {
        MemoryTerrain m;
        KrTerrain& t = m.terrain;
        ASSERT_TRUE(t.Create(9, 9, 10));
        for (int32_t i = 0; i < t.info.numVertices; ++i) {
            float* fields = &t.vertices[i].x;
            for (int k = 0; k < 6; ++k)
                fields[k] = std::uniform_real_distribution<float>(-1, 1)(rng) * scales[rng() % 6];
        }
        t.MarkVerticesChanged(0, t.info.numVertices - 1);
        std::vector<Triangle> list(rng() % 40);
        for (Triangle& tri : list)
            for (int32_t& i : tri)
                i = static_cast<int32_t>(rng() % (rng() % 2 ? 4 : 81)); // often repeated
        Vertices ref(t.vertices, t.vertices + t.info.numVertices);
        t.visibleTriangleCount = static_cast<int32_t>(list.size());
        ASSERT_TRUE(t.UpdateNormals(list.empty() ? nullptr : list.front().data()));
        ReferenceNormals(ref, list);
        ASSERT_TRUE(SameBits(ref, t.vertices)) << "round " << round;
        ASSERT_TRUE(SameBits(ref, m.BufferVertices())) << "round " << round;
    }
}

TEST(PerfEquivalence, UploadsOnlyWhatChangedAndRetriesAFailedLock) {
    MemoryTerrain m;
    KrTerrain& t = m.terrain;
    ASSERT_TRUE(t.Create(129, 129, 10));
    MemoryVertexBuffer* buffer = m.VertexBuffer();
    t.visibleTriangleCount = 0;

    // Nothing changed: no lock at all.
    const int locks = buffer->lockCount;
    ASSERT_TRUE(t.UpdateNormals(nullptr));
    EXPECT_EQ(buffer->lockCount, locks);

    // Two changes far apart go up as two small runs.
    t.vertices[5].y = 1;
    t.vertices[129 * 128 + 7].y = 2;
    t.MarkVerticesChanged(5, 5);
    t.MarkVerticesChanged(129 * 128 + 7, 129 * 128 + 7);
    ASSERT_TRUE(t.UpdateNormals(nullptr));
    EXPECT_EQ(buffer->lockCount, locks + 2);
    EXPECT_EQ(buffer->lastLockOffset, (129u * 128 + 7) * 32);
    EXPECT_EQ(buffer->lastLockSize, 32u);
    EXPECT_EQ(std::memcmp(m.BufferVertices(), t.vertices, 129 * 129 * 32), 0);

    // A failed lock keeps the change for the next frame.
    t.vertices[300].y = 3;
    t.MarkVerticesChanged(300, 300);
    m.device->failures->lockBuffer = true;
    EXPECT_FALSE(t.UpdateNormals(nullptr));
    m.device->failures->lockBuffer = false;
    ASSERT_TRUE(t.UpdateNormals(nullptr));
    EXPECT_EQ(m.BufferVertices()[300].y, 3.0f);

    // Marks outside the grid are ignored.
    t.MarkVerticesChanged(-10, -1);
    t.MarkVerticesChanged(129 * 129, 129 * 129 + 5);
    const int before = buffer->lockCount;
    ASSERT_TRUE(t.UpdateNormals(nullptr));
    EXPECT_EQ(buffer->lockCount, before);
}

} // namespace

// The pick, four triangles at a time, against IntersectTriangle called on each in turn: the
// same hit, distance and point to the bit, over rays from all sides and odd triangles.
TEST(PerfEquivalence, PickMatchesTheTriangleByTriangleTest) {
    std::mt19937 rng(99);
    const auto uniform = [&](float lo, float hi) {
        return std::uniform_real_distribution<float>(lo, hi)(rng);
    };
    int hits = 0;
    for (int round = 0; round < 400; ++round) {
        MemoryTerrain m;
        KrTerrain& t = m.terrain;
        ASSERT_TRUE(t.Create(9, 9, 10));
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
        const D3DXVECTOR3 target(uniform(-40, 40), uniform(-5, 5), uniform(-40, 40));
        ray.direction = target - ray.origin;
        if (rng() % 2)
            D3DXVec3Normalize(&ray.direction, &ray.direction);
        ray.distance = -7;
        ray.hitPoint = D3DXVECTOR3(1, 2, 3);
        KrPickRay want = ray;

        t.pickRay = &ray;
        t.visibleTriangleCount = static_cast<int32_t>(list.size());
        const bool hit = t.PickTerrain(list.empty() ? nullptr : list.front().data());

        float best = static_cast<float>(t.info.worldDepth);
        bool wantHit = false;
        D3DXVECTOR3 point;
        KrPickRay probe = want;
        for (const Triangle& tri : list) {
            const auto at = [&](int32_t i) {
                return D3DXVECTOR3(t.vertices[i].x, t.vertices[i].y, t.vertices[i].z);
            };
            if (KrTerrain::IntersectTriangle(&probe, at(tri[0]), at(tri[1]), at(tri[2])) &&
                probe.distance < best) {
                best = probe.distance;
                point = probe.hitPoint;
                wantHit = true;
            }
        }
        if (wantHit) {
            want.distance = best;
            want.hitPoint = D3DXVECTOR3(point.x, t.GetHeight(point.x, point.z), point.z);
        }
        ASSERT_EQ(hit, wantHit) << "round " << round;
        ASSERT_EQ(t.pickHit, wantHit);
        ASSERT_EQ(std::memcmp(&ray, &want, sizeof ray), 0) << "round " << round;
        hits += hit;
    }
    EXPECT_GT(hits, 100);
}
