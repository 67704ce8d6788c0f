// The sculpting tools beside the two squares: the round brush, smoothing, set height and
// noise.
#include "KrBrushShape.h"
#include "KrNoise.h"
#include "terrain_fixture.h"

#include <cfloat>
#include <functional>
#include <random>

namespace {

// A 129 × 129 grid with spacing 10; vertex (64, 65) sits at (5, 5).
struct Sculpt : ::testing::Test {
    void SetUp() override {
        t.pickRay = &pick;
        t.pickHit = true;
        t.bigRadius = 100;
        t.smallRadius = 50;
        t.strength = 0.1f;
    }
    float& Y(int row, int column) { return t.vertices[row * t.info.vertsPerRow + column].y; }
    void Step(int mode, int shape, float x = 5, float z = 5) {
        t.brushMode = mode;
        t.brushShape = shape;
        pick.hitPoint = D3DXVECTOR3(x, t.GetHeight(x, z), z);
        t.ApplyHeightBrush();
    }
    // Distance in world units from vertex (row, column) to (5, 5).
    static float Distance(int row, int column) {
        return 10.0f * std::hypot(float(row - 64), float(column - 65));
    }
    void Fill(const std::function<float(int, int)>& height) {
        for (int r = 0; r < 129; ++r)
            for (int c = 0; c < 129; ++c)
                Y(r, c) = height(r, c);
    }
    MemoryTerrain m{129, 129};
    KrTerrain& t = m.terrain;
    KrPickRay pick{};
};

TEST(RoundBrushWeight, FullInsideNoneOutsideMonotoneBetween) {
    EXPECT_EQ(RoundBrushWeight(0, 50, 100), 1.0f);
    EXPECT_EQ(RoundBrushWeight(50, 50, 100), 1.0f);
    EXPECT_EQ(RoundBrushWeight(100, 50, 100), 0.0f);
    EXPECT_EQ(RoundBrushWeight(1e30f, 50, 100), 0.0f);
    EXPECT_FLOAT_EQ(RoundBrushWeight(75, 50, 100), 0.5f);
    float previous = 1.0f;
    for (float d = 50; d <= 100; d += 0.25f) {
        const float w = RoundBrushWeight(d, 50, 100);
        EXPECT_LE(w, previous) << d;
        EXPECT_LT(previous - w, 0.01f) << d; // no step anywhere
        previous = w;
    }
    // Equal radii make a hard edge; a zero radius edits only the centre.
    EXPECT_EQ(RoundBrushWeight(30, 30, 30), 1.0f);
    EXPECT_EQ(RoundBrushWeight(30.001f, 30, 30), 0.0f);
    EXPECT_EQ(RoundBrushWeight(0, 0, 0), 1.0f);

    // The row form, four at a time, rounds as the scalar form does.
    std::mt19937 random(7);
    std::uniform_real_distribution<float> any(0, 300);
    std::vector<float> dx2(37), out(37);
    for (int trial = 0; trial < 50; ++trial) {
        const float inner = any(random) * 0.5f, outer = inner + any(random) * 0.5f;
        const float dz = any(random) * 0.5f;
        for (float& v : dx2)
            v = any(random) * any(random);
        RoundBrushWeights(dx2.data(), dz * dz, inner, outer, out.data(), 37);
        for (int i = 0; i < 37; ++i)
            ASSERT_EQ(out[i], RoundBrushWeight(std::sqrt(dx2[i] + dz * dz), inner, outer)) << i;
    }
}

TEST_F(Sculpt, RoundRaiseIsSymmetricAndEditsOnlyInsideTheBigCircle) {
    Step(kBrushModeRaise, kBrushShapeRound);
    std::vector<std::pair<float, float>> ring; // distance, rise
    for (int r = 0; r < 129; ++r)
        for (int c = 0; c < 129; ++c) {
            const float d = Distance(r, c), rise = Y(r, c);
            if (d > 50 && d < 100) {
                ring.emplace_back(d, rise);
            } else {
                // strength × 15 inside, as the small square; nothing outside
                ASSERT_EQ(rise, d <= 50 ? 1.5f : 0.0f) << r << "," << c;
            }
            // Mirrored across the centre's row, column and diagonal.
            const int mr = 128 - r, mc = 130 - c, tr = 64 + (c - 65), tc = 65 + (r - 64);
            if (mr >= 0 && mr < 129 && mc >= 0 && mc < 129 && tr >= 0 && tr < 129 && tc >= 0 &&
                tc < 129) {
                ASSERT_EQ(rise, Y(mr, c));
                ASSERT_EQ(rise, Y(r, mc));
                ASSERT_EQ(rise, Y(tr, tc));
            }
        }
    std::sort(ring.begin(), ring.end());
    ASSERT_GT(ring.size(), 100u);
    for (size_t i = 1; i < ring.size(); ++i)
        ASSERT_LE(ring[i].second, ring[i - 1].second) << ring[i].first;
    EXPECT_GT(ring.front().second, 1.4f);
    EXPECT_LT(ring.back().second, 0.01f);

    // Lower takes the same off again, flatten on its own pulls the inner disc to zero.
    Step(kBrushModeLower, kBrushShapeRound);
    EXPECT_TRUE(std::all_of(t.vertices, t.vertices + 129 * 129,
                            [](const KrTerrainVertex& v) { return v.y == 0.0f; }));
    Fill([](int, int) { return 8.0f; });
    Step(kBrushModeFlat, kBrushShapeRound);
    EXPECT_EQ(Y(64, 65), 0.0f);
    EXPECT_EQ(Y(64, 70), 0.0f); // 50 away
    EXPECT_GT(Y(64, 72), 0.0f); // 70 away
    EXPECT_LT(Y(64, 72), 8.0f);
    EXPECT_EQ(Y(64, 75), 8.0f); // 100 away
}

// The round brush's radii come from the two circles whichever is larger, and the brush
// clips at the grid's edges and stops when the pick is far off.
TEST_F(Sculpt, RoundRadiiEdgesAndMisses) {
    t.bigRadius = 30;
    t.smallRadius = 60; // the small circle drawn outside the big one
    Step(kBrushModeRaise, kBrushShapeRound);
    EXPECT_EQ(Y(64, 68), 1.5f); // 30 away
    EXPECT_GT(Y(64, 70), 0.0f); // 50 away
    EXPECT_EQ(Y(64, 71), 0.0f); // 60 away
    Fill([](int, int) { return 0.0f; });

    t.bigRadius = 500;
    Step(kBrushModeRaise, kBrushShapeRound, -640, 640); // the corner vertex (0, 0)
    EXPECT_EQ(Y(0, 0), 1.5f);
    EXPECT_EQ(Y(128, 128), 0.0f);
    const Vertices before = m.Master();
    Step(kBrushModeRaise, kBrushShapeRound, 1e9f, -1e9f);
    Step(kBrushModeSmooth, kBrushShapeRound, NAN, 0);
    t.pickHit = false;
    Step(kBrushModeRaise, kBrushShapeRound);
    t.pickHit = true;
    t.brushShape = 2; // no such shape
    t.brushMode = kBrushModeRaise;
    t.ApplyHeightBrush();
    EXPECT_EQ(std::memcmp(before.data(), t.vertices, before.size() * sizeof(KrTerrainVertex)), 0);
}

// Straightforward smoothing: every new height from a full copy of the old ones.
Vertices SmoothedCopy(const KrTerrain& t, const std::vector<float>& weights, float rate) {
    const int w = t.info.vertsPerRow, d = t.info.vertsPerCol;
    const Vertices old(t.vertices, t.vertices + t.info.numVertices);
    Vertices out = old;
    const auto y = [&](int r, int c) {
        return old[std::clamp(r, 0, d - 1) * w + std::clamp(c, 0, w - 1)].y;
    };
    const auto across = [&](int r, int c) {
        return (0.5f * y(r, c - 1) + 0.5f * y(r, c + 1)) * 0.5f + 0.5f * y(r, c);
    };
    for (int r = 0; r < d; ++r)
        for (int c = 0; c < w; ++c) {
            const float weight = weights[r * w + c];
            if (weight == 0.0f)
                continue;
            const float mean =
                (0.5f * across(r - 1, c) + 0.5f * across(r + 1, c)) * 0.5f + 0.5f * across(r, c);
            const float here = y(r, c), tt = rate * weight;
            const float moved = here + (tt + tt) * (0.5f * mean - 0.5f * here);
            out[r * w + c].y =
                std::min(std::max(moved, std::min(here, mean)), std::max(here, mean));
        }
    return out;
}

TEST_F(Sculpt, SmoothingMatchesTheStraightforwardStepsInBothShapes) {
    std::mt19937 random(3);
    std::uniform_real_distribution<float> rough(-20, 20);
    Fill([&](int, int) { return rough(random); });
    for (int shape : {kBrushShapeSquare, kBrushShapeRound})
        for (float at : {5.0f, -630.0f, 633.0f}) { // the middle and two corners
            t.bigRadius = 60;
            t.smallRadius = 25;
            std::vector<float> weights(129 * 129, 0.0f);
            for (int r = 0; r < 129; ++r)
                for (int c = 0; c < 129; ++c) {
                    if (shape == kBrushShapeRound) {
                        // The distance as the brush takes it, in grid steps from the pick.
                        const float dx = (float(c) - (at / 10 + 64.5f)) * 10;
                        const float dz = (float(r) - (64.5f - at / 10)) * 10;
                        weights[r * 129 + c] =
                            RoundBrushWeight(std::sqrt(dx * dx + dz * dz), 25, 60);
                    } else {
                        const auto inside = [&](float radius) {
                            int c0, c1, r0, r1, unused;
                            t.WorldToCell(at - radius, at, &c0, &unused);
                            t.WorldToCell(at + radius, at, &c1, &unused);
                            t.WorldToCell(at, at + radius, &unused, &r0);
                            t.WorldToCell(at, at - radius, &unused, &r1);
                            return c >= c0 && c <= c1 && r >= r0 && r <= r1;
                        };
                        weights[r * 129 + c] = inside(25) ? 1.0f : inside(60) ? 0.25f : 0.0f;
                    }
                }
            const Vertices want = SmoothedCopy(t, weights, 0.2f);
            Step(kBrushModeSmooth, shape, at, at);
            ASSERT_EQ(std::memcmp(want.data(), t.vertices, want.size() * sizeof want[0]), 0)
                << shape << " at " << at;
        }
}

TEST_F(Sculpt, SmoothingLowersASpikeAndRoughnessAndKeepsFlatGround) {
    t.strength = 0.5f; // the whole way to the mean each step
    Fill([](int, int) { return 1.1f; });
    const Vertices flat = m.Master();
    Step(kBrushModeSmooth, kBrushShapeRound);
    Step(kBrushModeSmooth, kBrushShapeSquare);
    EXPECT_EQ(std::memcmp(flat.data(), t.vertices, flat.size() * sizeof flat[0]), 0);

    Y(64, 65) = 101.1f;
    const auto neighbourMean = [&] { return (Y(63, 65) + Y(65, 65) + Y(64, 64) + Y(64, 66)) / 4; };
    float spike = Y(64, 65);
    for (int i = 0; i < 30; ++i) {
        Step(kBrushModeSmooth, kBrushShapeRound);
        // Lower each step, never below its neighbours, nothing outside the first range.
        EXPECT_LT(Y(64, 65), spike);
        EXPECT_GE(Y(64, 65), neighbourMean());
        spike = Y(64, 65);
        for (int r = 0; r < 129; ++r)
            for (int c = 0; c < 129; ++c) {
                ASSERT_GE(Y(r, c), 1.1f);
                ASSERT_LE(Y(r, c), spike);
            }
    }
    EXPECT_LT(spike, 5.0f);
    // Ground the brush never reached is exactly as it was, to the bit.
    EXPECT_EQ(Y(64, 80), 1.1f);
    EXPECT_EQ(Y(10, 10), 1.1f);

    // Rough ground gets smoother with every step, and converges.
    std::mt19937 random(11);
    std::uniform_real_distribution<float> rough(-5, 5);
    Fill([&](int, int) { return 50 + rough(random); });
    const auto roughness = [&] {
        double sum = 0;
        for (int r = 60; r <= 68; ++r)
            for (int c = 61; c <= 69; ++c) {
                const float mean = (Y(r - 1, c) + Y(r + 1, c) + Y(r, c - 1) + Y(r, c + 1)) / 4;
                sum += (Y(r, c) - mean) * (Y(r, c) - mean);
            }
        return sum;
    };
    t.strength = 0.1f;
    const double initial = roughness();
    double before = initial;
    for (int i = 0; i < 20; ++i) {
        Step(kBrushModeSmooth, kBrushShapeRound);
        const double after = roughness();
        EXPECT_LT(after, before) << i;
        before = after;
    }
    EXPECT_LT(before, 0.05 * initial);
}

TEST_F(Sculpt, SetHeightReachesTheHeightPickedWhereTheStrokeBegan) {
    Fill([](int r, int c) { return float(r + c); }); // height 129 at (5, 5)
    t.BeginStroke();
    Step(kBrushModeSetHeight, kBrushShapeRound);
    EXPECT_EQ(t.setHeightTarget, 129.0f);
    // The stroke moves on; its target stays.
    for (int i = 0; i < 60; ++i)
        Step(kBrushModeSetHeight, kBrushShapeRound, 5 + i % 3, 5);
    EXPECT_EQ(t.setHeightTarget, 129.0f);
    for (int r = 0; r < 129; ++r)
        for (int c = 0; c < 129; ++c) {
            const float want = Distance(r, c) <= 48 ? 129.0f : float(r + c);
            if (Distance(r, c) <= 48 || Distance(r, c) >= 103) {
                ASSERT_EQ(Y(r, c), want) << r << "," << c;
            }
        }
    // Never past the target: between old and target in the falloff.
    EXPECT_GT(Y(64, 73), 129.0f);
    EXPECT_LT(Y(64, 73), 137.0f);

    // A new stroke picks again; the square shape reaches the target in its small square.
    Fill([](int, int) { return -3.0f; });
    Y(64, 65) = 40;
    Y(64, 66) = 40;
    Y(65, 65) = 40;
    Y(65, 66) = 40;
    t.BeginStroke();
    t.bigRadius = 25;
    t.smallRadius = 20;
    for (int i = 0; i < 80; ++i)
        Step(kBrushModeSetHeight, kBrushShapeSquare, 10, 0);
    EXPECT_EQ(t.setHeightTarget, 40.0f);
    EXPECT_EQ(Y(63, 64), 40.0f);
    EXPECT_EQ(Y(63, 67), 40.0f);
    EXPECT_GT(Y(67, 67), 30.0f); // the big square alone, a quarter as fast
    EXPECT_LT(Y(67, 67), 40.0f);
    EXPECT_EQ(Y(62, 62), -3.0f);
}

TEST(SculptNoise, SmoothBoundedSeededAndTheSameInEveryForm) {
    KrNoiseRows rows;
    KrNoiseField field;
    std::vector<float> out(300);
    float low = 1, high = -1;
    for (uint32_t seed : {1u, 99u}) {
        for (int row = 0; row < 200; ++row) {
            const int first = row * 7 % 40, last = first + 250;
            rows.Row(row, first, last, seed, out.data());
            const float* kept = field.Row(row, first, last, 300, 200, seed);
            for (int c = first; c <= last; ++c) {
                const float n = SculptNoise(c, row, seed);
                ASSERT_EQ(out[c - first], n) << row << "," << c;
                ASSERT_EQ(kept[c], n) << row << "," << c;
                ASSERT_LE(std::fabs(n), 1.0f);
                // Smooth: neighbours differ by little.
                ASSERT_LT(std::fabs(SculptNoise(c + 1, row, seed) - n), 0.25f);
                ASSERT_LT(std::fabs(SculptNoise(c, row + 1, seed) - n), 0.25f);
                low = std::min(low, n);
                high = std::max(high, n);
            }
        }
    }
    EXPECT_LT(low, -0.4f); // it does vary
    EXPECT_GT(high, 0.4f);
    int differ = 0;
    for (int c = 0; c < 500; ++c)
        differ += SculptNoise(c, 17, 1) != SculptNoise(c, 17, 2);
    EXPECT_GT(differ, 400);
    // A kept field follows a new seed and a new grid size.
    EXPECT_EQ(field.Row(5, 0, 10, 300, 200, 2)[3], SculptNoise(3, 5, 2));
    EXPECT_EQ(field.Row(5, 0, 10, 65, 33, 2)[3], SculptNoise(3, 5, 2));
}

TEST_F(Sculpt, NoiseRepeatsForTheSameSeedAndStroke) {
    const auto stroke = [](KrTerrain& terrain, uint32_t seed) {
        terrain.noiseSeed = seed;
        terrain.brushMode = kBrushModeNoise;
        terrain.brushShape = kBrushShapeRound;
        for (int i = 0; i < 10; ++i) {
            terrain.pickRay->hitPoint = D3DXVECTOR3(5.0f + 7 * i, 0, 5.0f - 3 * i);
            terrain.ApplyHeightBrush();
        }
    };
    stroke(t, 5);
    MemoryTerrain again(129, 129), other(129, 129);
    for (MemoryTerrain* o : {&again, &other}) {
        o->terrain.pickRay = &pick;
        o->terrain.pickHit = true;
        o->terrain.bigRadius = 100;
        o->terrain.smallRadius = 50;
    }
    stroke(again.terrain, 5);
    stroke(other.terrain, 6);
    EXPECT_EQ(std::memcmp(again.terrain.vertices, t.vertices, 129 * 129 * 32), 0);
    EXPECT_NE(std::memcmp(other.terrain.vertices, t.vertices, 129 * 129 * 32), 0);

    // One step adds strength × 15 × the noise where the brush is full.
    Fill([](int, int) { return 0.0f; });
    t.noiseSeed = 8;
    Step(kBrushModeNoise, kBrushShapeRound);
    EXPECT_EQ(Y(64, 65), 1.5f * SculptNoise(65, 64, 8));
    EXPECT_EQ(Y(60, 63), 1.5f * SculptNoise(63, 60, 8));
    EXPECT_EQ(Y(64, 76), 0.0f);
}

// Heights at the ends of the float range stay finite whatever a tool does with them: a
// checkerboard of both ends, and the top end around the pick (the target of set height)
// in a sea of the bottom one.
TEST_F(Sculpt, HugeHeightsStayFinite) {
    t.strength = 0.5f;
    const std::function<float(int, int)> fills[] = {
        [](int r, int c) { return (r + c) % 2 ? FLT_MAX : -FLT_MAX; },
        [](int r, int c) { return Distance(r, c) < 30 ? FLT_MAX : -FLT_MAX; }};
    for (const auto& fill : fills)
        for (int mode = kBrushModeRaise; mode <= kBrushModeNoise; ++mode)
            for (int shape : {kBrushShapeSquare, kBrushShapeRound}) {
                Fill(fill);
                t.BeginStroke();
                for (int i = 0; i < 3; ++i)
                    Step(mode, shape);
                for (int i = 0; i < 129 * 129; ++i)
                    ASSERT_TRUE(std::isfinite(t.vertices[i].y)) << mode << " " << shape << " " << i;
            }
}

// Through the per-frame update, picking a point straight below, on grids with and without a
// quadtree and of uneven sides: each tool edits around the pick and the device gets it.
TEST(SculptUpdate, EveryToolThroughTheFrameOnEveryGrid) {
    for (auto [w, d] :
         {std::pair(129, 129), std::pair(130, 100), std::pair(33, 65), std::pair(65, 33)}) {
        for (int mode = kBrushModeRaise; mode <= kBrushModeNoise; ++mode) {
            MemoryTerrain m(w, d);
            KrTerrain& t = m.terrain;
            for (int i = 0; i < t.info.numVertices; ++i)
                t.vertices[i].y = float(i % 7);
            KrPickRay ray{};
            ray.origin = D3DXVECTOR3(0.5f, 100, 0.5f);
            ray.direction = D3DXVECTOR3(0, -1, 0);
            t.pickRay = &ray;
            t.brushMode = mode;
            t.brushShape = kBrushShapeRound;
            t.bigRadius = 40;
            t.smallRadius = 20;
            const D3DXMATRIX view = CullView(D3DXVECTOR3(0, 2000, -10), D3DXVECTOR3(0, 0, 0));
            ASSERT_TRUE(t.UpdateTerrain(view, CullProjection()));
            const Vertices before = m.Master();
            t.BeginStroke();
            t.editing = true;
            ASSERT_TRUE(t.UpdateTerrain(view, CullProjection()));
            ASSERT_TRUE(t.pickHit);
            const Vertices after = m.Master();
            EXPECT_TRUE(m.Holds(after)) << w << "x" << d << " mode " << mode;
            int changed = 0;
            for (int i = 0; i < t.info.numVertices; ++i)
                if (after[i].y != before[i].y) {
                    ++changed;
                    EXPECT_LT(std::hypot(after[i].x, after[i].z), 41.0f) << i;
                }
            EXPECT_GT(changed, 0) << w << "x" << d << " mode " << mode;
        }
    }
}

} // namespace
