// The terrain's faster paths against straightforward versions of the same steps: the grid
// layout, the quadtree's radii and links, and every frame's triangle list, vertex bits and
// vertex buffer, on created grids and on files whose vertices lie off the regular grid.
#include "KrTerrainGrid.h"
#include "terrain_fixture.h"

#include <memory>
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

// The flat grid one vertex at a time.
Vertices ReferenceLayout(int32_t w, int32_t d, float sx, float sz) {
    Vertices out(static_cast<size_t>(w) * d);
    for (int32_t i = 0; i < d; ++i) {
        for (int32_t j = 0; j < w; ++j) {
            KrTerrainVertex& v = out[static_cast<size_t>(i) * w + j];
            v.x = (static_cast<float>(j) - static_cast<float>(w) * 0.5f) * sx;
            v.y = 0;
            v.z = -(static_cast<float>(i) - static_cast<float>(d) * 0.5f) * sz;
            D3DXVECTOR3 n(v.x, 0, v.z);
            D3DXVec3Normalize(&n, &n);
            v.nx = n.x, v.ny = n.y, v.nz = n.z;
            v.u = static_cast<float>(j) / static_cast<float>(w - 1);
            v.v = static_cast<float>(i) / static_cast<float>(d - 1);
        }
    }
    return out;
}

// The quadtree the straightforward way: an object per tile, made by halving corners, and
// every link found by searching down from the root by position.
struct RefNode {
    RefNode(std::array<int32_t, 4> c, KrQuadTile t) : tile(t) {
        std::copy(c.begin(), c.end(), corners);
    }
    int32_t corners[4];
    float radius = 0;
    KrQuadTile tile;
    std::unique_ptr<RefNode> children[4];
    const RefNode* neighbours[4] = {};
    int32_t Centre() const { return (corners[0] + corners[1] + corners[2] + corners[3]) / 4; }
    int32_t Size() const { return corners[1] - corners[0]; }
};

struct RefTree {
    RefTree(const Vertices& v, int32_t w, int32_t d) : v(v), w(w), n(w * d) {
        root = std::make_unique<RefNode>(std::array{0, w - 1, (d - 1) * w, w * d - 1},
                                         KrQuadTile{0, 0, 0});
        Build(root.get());
        Link(root.get());
    }
    void Build(RefNode* node) {
        const int32_t* c = node->corners;
        const D3DXVECTOR3 diagonal = At(v.data(), c[0]) - At(v.data(), c[3]);
        node->radius = 0.5f * D3DXVec3Length(&diagonal);
        if (c[1] - c[0] <= 1 || c[2] - c[0] <= w)
            return;
        const int32_t t = (c[0] + c[1]) / 2, b = (c[2] + c[3]) / 2, l = (c[0] + c[2]) / 2,
                      r = (c[1] + c[3]) / 2, m = node->Centre();
        const std::array<int32_t, 4> quads[4] = {
            {c[0], t, l, m}, {t, c[1], m, r}, {l, m, c[2], b}, {m, r, b, c[3]}};
        for (int q = 0; q < 4; ++q) {
            const KrQuadTile& p = node->tile;
            node->children[q] = std::make_unique<RefNode>(
                quads[q], KrQuadTile{p.level + 1, 2 * p.column + (q & 1), 2 * p.row + (q >> 1)});
            Build(node->children[q].get());
        }
    }
    const RefNode* Find(const int32_t sought[4]) const {
        const int32_t index = (sought[0] + sought[1] + sought[2] + sought[3]) / 4;
        if (index < 0 || index >= n)
            return nullptr;
        const D3DXVECTOR3 p = At(v.data(), index);
        const RefNode* node = root.get();
        while (!std::equal(sought, sought + 4, node->corners)) {
            const RefNode* next = nullptr;
            for (int q = 0; q < 4 && node->children[0] && !next; ++q) {
                const KrTerrainVertex& tl = v[node->children[q]->corners[0]];
                const KrTerrainVertex& br = v[node->children[q]->corners[3]];
                if (tl.x <= p.x && p.x <= br.x && br.z <= p.z && p.z <= tl.z)
                    next = node->children[q].get();
            }
            if (!next)
                return nullptr;
            node = next;
        }
        return node;
    }
    void Link(RefNode* node) {
        const int32_t* c = node->corners;
        const int32_t g = node->Size();
        const int32_t candidates[4][4] = {{c[0] - g * w, c[1] - g * w, c[0], c[1]},
                                          {c[2], c[3], c[2] + g * w, c[3] + g * w},
                                          {c[0] - g, c[0], c[2] - g, c[2]},
                                          {c[1], c[1] + g, c[3], c[3] + g}};
        for (int e = 0; e < 4; ++e) {
            const int32_t* k = candidates[e];
            const int32_t centre = (k[0] + k[1] + k[2] + k[3]) / 4;
            if (centre >= 0 && centre <= w * w - 1 && centre < n)
                node->neighbours[e] = Find(k);
        }
        for (auto& child : node->children)
            if (child)
                Link(child.get());
    }
    const Vertices& v;
    int32_t w, n;
    std::unique_ptr<RefNode> root;
};

// The tree under test holds the reference's radii bit for bit, and the reference's links
// wherever they can change a triangle: a leaf's neighbours are leaves, which never split.
void ExpectSameTree(const KrQuadTree& tree, const RefNode* node, int* links) {
    const KrQuadTile t = node->tile;
    int32_t corners[4];
    tree.Corners(t, corners);
    ASSERT_TRUE(std::equal(corners, corners + 4, node->corners));
    ASSERT_EQ(std::bit_cast<uint32_t>(tree.Radius(t)), std::bit_cast<uint32_t>(node->radius));
    ASSERT_EQ(tree.Subdivide(t), node->children[0] != nullptr);
    for (int e = 0; e < 4; ++e) {
        const RefNode* want = node->neighbours[e];
        if (!node->children[0]) {
            ASSERT_TRUE(!want || !want->children[0]);
            continue;
        }
        ASSERT_EQ(tree.Neighbour(t, e), want ? want->tile : KrQuadTile{})
            << "level " << t.level << " column " << t.column << " row " << t.row << " edge " << e;
        *links += want != nullptr;
    }
    for (int q = 0; node->children[0] && q < 4; ++q)
        ExpectSameTree(tree, node->children[q].get(), links);
}

// The per-frame walk of the reference tree from the engine's sphere and point tests; without
// a tree, every triangle with a vertex inside, each vertex tested on its own.
struct Reference {
    const Vertices& v;
    const KrFrustum& f;
    double lod;
    std::vector<Triangle> out;

    std::vector<Triangle> List(const KrTerrain& t, const RefTree* tree) {
        if (tree)
            Walk(tree->root.get(), false);
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
    int32_t Level(const RefNode* n) const {
        const D3DXVECTOR3 toCentre = f.centre - At(v.data(), n->Centre());
        const float d = D3DXVec3Length(&toCentre);
        const double level = static_cast<double>(d) * lod;
        return level >= 2.0 ? static_cast<int32_t>(std::min(level, 2147483647.0)) : 1;
    }
    bool Splits(const RefNode* n) const { return n && n->children[0] && n->Size() > Level(n); }
    int Classify(const RefNode* n) const {
        D3DXVECTOR3 c;
        if (n->children[0]) {
            c = At(v.data(), n->Centre());
        } else {
            for (int32_t corner : n->corners)
                c += At(v.data(), corner);
            c = c * 0.25f;
        }
        const KrSphere sphere{c.x, c.y, c.z, n->radius};
        if (ClassifySphere(&f, &sphere) == 0)
            return 0;
        return std::all_of(n->corners, n->corners + 4, [&](int32_t i) { return In(i); }) ? 2 : 1;
    }
    void Walk(const RefNode* n, bool inside) {
        const int r = inside ? 2 : Classify(n);
        if (r == 0)
            return;
        if (Splits(n)) {
            for (const auto& child : n->children)
                Walk(child.get(), r == 2);
            return;
        }
        const int32_t tl = n->corners[0], tr = n->corners[1], bl = n->corners[2],
                      br = n->corners[3], c = n->Centre();
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

// Ways of moving a grid's vertices off the regular layout, as a hand-made file may.
enum class Layout { Created, Jittered, UnevenButRegular, Mirrored, TiedColumns, Sheared };

Vertices Moved(Vertices v, int32_t w, int32_t d, Layout layout, std::mt19937& rng) {
    const auto uniform = [&](float lo, float hi) {
        return std::uniform_real_distribution<float>(lo, hi)(rng);
    };
    std::vector<float> xs(w), zs(d);
    xs[0] = uniform(-500, 0), zs[0] = uniform(0, 500);
    for (int32_t c = 1; c < w; ++c)
        xs[c] = xs[c - 1] + uniform(0.5f, 20);
    for (int32_t r = 1; r < d; ++r)
        zs[r] = zs[r - 1] - uniform(0.5f, 20);
    for (int32_t r = 0; r < d; ++r) {
        for (int32_t c = 0; c < w; ++c) {
            KrTerrainVertex& p = v[static_cast<size_t>(r) * w + c];
            p.y = uniform(-50, 50);
            switch (layout) {
            case Layout::Created:
                break;
            case Layout::Jittered: // boxes overlap their neighbours'
                p.x += uniform(-6, 6), p.z += uniform(-6, 6);
                break;
            case Layout::UnevenButRegular:
                p.x = xs[c], p.z = zs[r];
                break;
            case Layout::Mirrored:
                p.x = -p.x;
                break;
            case Layout::TiedColumns: // equal x in neighbouring columns
                p.x = static_cast<float>(c / 2 * 2) * 10;
                break;
            case Layout::Sheared:
                p.x += static_cast<float>(r) * 0.7f;
                break;
            }
        }
    }
    return v;
}

TEST(PerfEquivalence, FlatLayoutMatchesVertexByVertex) {
    const int32_t grids[][3] = {{2, 2, 1},     {3, 3, 10},        {4, 4, 10},
                                {9, 5, 7},     {130, 7, 3},       {129, 129, 10},
                                {33, 4096, 1}, {3, 2, 600000000}, {1025, 6, 1000}};
    for (auto [w, d, s] : grids) {
        KrTerrainGrid grid;
        ASSERT_TRUE(PrepareGrid(w, d, s, &grid)) << w << " x " << d;
        const Vertices want = ReferenceLayout(w, d, float(s), float(s));
        EXPECT_EQ(std::memcmp(grid.vertices.get(), want.data(), want.size() * 32), 0)
            << w << " x " << d << " spacing " << s;
    }
    // BuildVertices lays out what info says, whose spacings may differ.
    MemoryTerrain m(5, 5);
    m.terrain.info.InitInfo(65, 6, 2.5f, 1, 0.3f);
    ASSERT_TRUE(m.terrain.BuildVertices());
    EXPECT_TRUE(m.Holds(ReferenceLayout(65, 6, 2.5f, 0.3f)));
    EXPECT_EQ(m.terrain.quadTree, nullptr);
}

TEST(PerfEquivalence, TreeRadiiAndLinksMatchTheSearch) {
    std::mt19937 rng(515);
    int links = 0;
    const std::vector<Layout> all = {Layout::Created,          Layout::Jittered,
                                     Layout::UnevenButRegular, Layout::Mirrored,
                                     Layout::TiedColumns,      Layout::Sheared};
    const std::vector<Layout> two = {Layout::Created, Layout::Jittered};
    for (auto [w, d] : {std::pair{3, 3}, {33, 33}, {257, 257}, {65, 17}, {17, 65}, {129, 33}}) {
        const Vertices flat = ReferenceLayout(w, d, 10, 10);
        for (Layout layout : w* d > 20000 ? two : all) {
            SCOPED_TRACE(testing::Message() << w << " x " << d << " layout " << int(layout));
            const Vertices v = Moved(flat, w, d, layout, rng);
            KrQuadTree tree(w, d);
            ASSERT_TRUE(tree.Build(v.data()));
            tree.LinkNeighbours(v.data());
            const RefTree ref(v, w, d);
            ExpectSameTree(tree, ref.root.get(), &links);
            // FindNode is the reference's search.
            int32_t corners[4];
            tree.Corners(tree.Child(tree.Root(), 3), corners);
            const RefNode* found = ref.Find(corners);
            EXPECT_EQ(tree.FindNode(v.data(), corners), found ? found->tile : KrQuadTile{});
        }
    }
    EXPECT_GT(links, 40000); // most tiles are linked on most layouts
}

TEST(PerfEquivalence, RandomFramesMatchTheStraightforwardSteps) {
    std::mt19937 rng(20240611);
    const auto uniform = [&](float lo, float hi) {
        return std::uniform_real_distribution<float>(lo, hi)(rng);
    };
    const auto chance = [&](float p) { return uniform(0, 1) < p; };
    int edits = 0, listed = 0;
    struct Case {
        int32_t w, d, spacing;
        Layout layout;
    };
    const Case cases[] = {
        {33, 33, 10, Layout::Created},     {65, 65, 3, Layout::Created},
        {129, 129, 10, Layout::Created},   {65, 17, 10, Layout::Created},
        {34, 34, 10, Layout::Created},     {50, 20, 7, Layout::Created},
        {65, 65, 10, Layout::Jittered},    {33, 33, 10, Layout::Sheared},
        {65, 33, 10, Layout::TiedColumns}, {17, 65, 10, Layout::Jittered},
        {33, 33, 10, Layout::Mirrored},    {65, 65, 10, Layout::UnevenButRegular}};
    TempDir dir;
    for (const Case& c : cases) {
        MemoryTerrain m(c.w, c.d, c.spacing);
        KrTerrain& t = m.terrain;
        if (c.layout != Layout::Created) {
            const std::string path = dir.Path("moved.mvd");
            WriteMvd(path, t.info, Moved(m.Master(), c.w, c.d, c.layout, rng));
            std::string error;
            ASSERT_TRUE(t.LoadMapVertexData(path.c_str(), &error)) << error;
        }
        KrPickRay ray{};
        t.pickRay = &ray;
        Vertices ref = m.Master();
        std::unique_ptr<RefTree> tree;
        if (t.quadTree)
            tree = std::make_unique<RefTree>(ref, c.w, c.d);
        const int32_t n = t.info.numVertices;
        const float halfW = t.info.worldWidth * 0.5f, halfD = t.info.worldDepth * 0.5f;
        for (int frame = 0; frame < 100; ++frame) {
            SCOPED_TRACE(testing::Message() << c.w << " x " << c.d << " layout " << int(c.layout)
                                            << " frame " << frame);
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
            const std::vector<Triangle> want = Reference{ref, f, lod, {}}.List(t, tree.get());
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
                ASSERT_EQ(Generate(t.quadTree, t, f, lod),
                          (Reference{ref, f, lod, {}}.List(t, tree.get())));
            }
        }
    }
    // The random poses did list triangles and the brush did edit.
    EXPECT_GT(listed, 800);
    EXPECT_GT(edits, 120);
}

// A list that names a vertex more often than the normal pass counts in its byte.
TEST(PerfEquivalence, NormalsOfVerticesListedHundredsOfTimes) {
    MemoryTerrain m(9, 9);
    KrTerrain& t = m.terrain;
    for (int32_t i = 0; i < t.info.numVertices; ++i)
        t.vertices[i].y = float(i % 7) * 3 - float(i % 3) * 5;
    t.MarkVerticesChanged(0, t.info.numVertices - 1);
    std::vector<Triangle> list;
    for (int k = 0; k < 700; ++k)
        list.push_back(k % 3 ? Triangle{0, 1, 9} : Triangle{10, 1, 9 + k % 5});
    Vertices ref = m.Master();
    for (int frame = 0; frame < 3; ++frame) {
        t.visibleTriangleCount = static_cast<int32_t>(list.size());
        ASSERT_TRUE(t.UpdateNormals(list.front().data()));
        ReferenceNormals(ref, list);
        ASSERT_TRUE(m.Holds(ref)) << "frame " << frame;
    }
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
