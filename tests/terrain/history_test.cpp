// The edit history: undo and redo bit for bit (master array, vertex buffer, alpha maps,
// layer list) through random sequences with frames run in between, the bound, and redo
// dropped by a new edit.
#include "KrAutoPaint.h"
#include "KrBrushShape.h"
#include "KrEditHistory.h"
#include "KrTerrainGrid.h"
#include "terrain_fixture.h"

#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <limits>
#include <map>
#include <random>
#include <string>
#include <tuple>

namespace {

// An alpha map's texels by their hash (FNV-1a over the bytes): snapshots stay small.
uint64_t MapTexels(const KrTextureEntry* entry) {
    const auto& bits = static_cast<const MemoryTexture*>(entry->texture)->levels[0].bits;
    uint64_t h = 1469598103934665603ull;
    const auto* words = reinterpret_cast<const uint64_t*>(bits.data());
    for (size_t i = 0; i < bits.size() / 8; ++i)
        h = (h ^ words[i]) * 1099511628211ull;
    return h;
}

// Everything undo and redo must bring back.
struct Snapshot {
    const KrTerrain* object;
    int32_t w, d;
    Vertices vertices;
    std::vector<const KrTextureEntry*> maps;
    std::vector<uint64_t> texels;
    std::vector<std::pair<float, int32_t>> layers;
    int32_t selected;
    std::vector<const KrTextureEntry*> textures;
    int32_t base;
    float baseScale;
};

// A terrain in a slot (as the view holds it), a history on it, a pick ray aimed straight
// down, and files of other sizes to load.
class HistoryRig {
public:
    HistoryRig() {
        terrain = NewTerrain(65, 65, 10).release();
        history.Attach(&terrain);
        ray.direction = D3DXVECTOR3(0, -1, 0);
        const std::pair<int, int> sizes[] = {{33, 33}, {20, 17}};
        for (auto [w, d] : sizes) {
            auto t = NewTerrain(w, d, 7);
            for (int32_t i = 0; i < t->info.numVertices; ++i)
                t->vertices[i].y = float(i % 13) - 4.0f;
            files.push_back("/tmp/veldmark-history-" + std::to_string(getpid()) + "-" +
                            std::to_string(w) + ".mvd");
            EXPECT_TRUE(t->SaveMapVertexData(files.back().c_str()));
        }
    }
    ~HistoryRig() {
        history.Detach();
        delete terrain;
        for (const std::string& f : files)
            std::remove(f.c_str());
        device->Release();
    }

    std::unique_ptr<KrTerrain> NewTerrain(int32_t w, int32_t d, int32_t spacing) {
        auto t = std::make_unique<KrTerrain>();
        t->device = device;
        EXPECT_TRUE(t->Create(w, d, spacing));
        t->pickRay = &ray;
        return t;
    }
    // A load: the file read and prepared without the device, then either installed in the
    // terrain itself as one step (inPlace, as the editor loads) or in a terrain of its own
    // whose grid the history swaps in. With painting, also a painting of its own, as a
    // painting file beside it would bring: a texture, a layer on it with a painted stripe, a
    // base and its scale.
    void Load(size_t file, bool painting = false, bool inPlace = false) {
        KrTerrainGrid grid;
        ASSERT_TRUE(PrepareMapVertexData(files[file].c_str(), &grid));
        auto fresh = std::make_unique<KrTerrain>();
        fresh->device = device;
        if (!inPlace) {
            ASSERT_TRUE(fresh->InstallGrid(grid));
        }
        if (painting) {
            fresh->textures.push_back(new KrTextureEntry{NewTexture(), "p"});
            ASSERT_TRUE(fresh->AddSplatLayer(0));
            auto& bits = static_cast<MemoryTexture*>(fresh->alphaMaps[0]->texture)->levels[0].bits;
            for (size_t x = 0; x < ALPHA_MAP_SIZE; ++x)
                bits[4 * (ALPHA_MAP_SIZE * (300 + file) + x) + 3] = uint8_t(x);
            fresh->splatLayers[0].mappingScale = 6.0f + float(file);
            fresh->baseTexture = 0;
            fresh->baseMappingScale = 2.5f;
            fresh->selectedLayer = 0;
        }
        if (inPlace) {
            std::string error;
            ASSERT_TRUE(history.InstallGrid(KrStepKind::LoadGrid, grid,
                                            painting ? std::move(fresh) : nullptr, "불러오기",
                                            &error))
                << error;
        } else {
            history.ReplaceGrid(std::move(fresh), "불러오기", painting);
        }
    }
    // One frame seen from eye, with the pick ray over (x, z).
    void Frame(const D3DXVECTOR3& eye, float x = 0, float z = 0) {
        // Above the ground but within the pick's reach of one world depth.
        float top = 0;
        for (int32_t i = 0; i < terrain->info.numVertices; ++i)
            top = std::max(top, terrain->vertices[i].y);
        ray.origin = D3DXVECTOR3(x, std::min(top + 20, 0.9f * float(terrain->info.worldDepth)), z);
        terrain->UpdateTerrain(CullView(eye, D3DXVECTOR3(eye.x, 0, eye.z + 400)), CullProjection());
    }
    // A drag over frames: the tool acts at each point. The brush keeps its shape.
    bool Stroke(int tool, int mode, std::vector<D3DXVECTOR3> points, const D3DXVECTOR3& eye) {
        history.BeginStroke(tool == 0 ? "높이 브러시" : "텍스쳐 칠하기");
        terrain->BeginStroke(); // as the view starts both at the button's press
        terrain->activeTool = tool;
        (tool == 0 ? terrain->brushMode : terrain->paintMode) = mode;
        terrain->editing = true;
        for (const D3DXVECTOR3& p : points)
            Frame(eye, p.x, p.z);
        terrain->editing = false;
        Frame(eye);
        return history.EndStroke();
    }
    // Auto painting of a layer as the document records it: false when it made no step.
    bool AutoPaint(int32_t layer, const KrAutoPaintRule& rule) {
        history.BeginStroke("자동 칠하기");
        terrain->AutoPaintLayer(layer, rule);
        return history.EndStroke();
    }
    IDirect3DTexture9* NewTexture() {
        IDirect3DTexture9* texture = nullptr;
        device->CreateTexture(4, 4, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &texture, nullptr);
        return texture;
    }
    void AddTexture() { terrain->textures.push_back(new KrTextureEntry{NewTexture(), "t"}); }

    Snapshot Take() const {
        Snapshot s{terrain,
                   terrain->info.vertsPerRow,
                   terrain->info.vertsPerCol,
                   Vertices(terrain->vertices, terrain->vertices + terrain->info.numVertices),
                   {},
                   {},
                   {},
                   terrain->selectedLayer,
                   {terrain->textures.begin(), terrain->textures.end()},
                   terrain->baseTexture,
                   terrain->baseMappingScale};
        for (const KrTextureEntry* e : terrain->alphaMaps) {
            s.maps.push_back(e);
            s.texels.push_back(MapTexels(e));
        }
        for (const KrSplatLayer& l : terrain->splatLayers)
            s.layers.emplace_back(l.mappingScale, l.textureIndex);
        return s;
    }
    // Whether the terrain, its vertex buffer included, is exactly the snapshot.
    ::testing::AssertionResult Matches(const Snapshot& s) const {
        const Snapshot now = Take();
        const size_t bytes = s.vertices.size() * sizeof(KrTerrainVertex);
        const auto* buffer = static_cast<MemoryVertexBuffer*>(terrain->vertexBuffer);
        if (now.object != s.object || now.w != s.w || now.d != s.d)
            return ::testing::AssertionFailure() << "another terrain or grid";
        if (std::memcmp(now.vertices.data(), s.vertices.data(), bytes) != 0)
            return ::testing::AssertionFailure() << "master array differs";
        if (buffer->data.size() != bytes ||
            std::memcmp(buffer->data.data(), s.vertices.data(), bytes) != 0)
            return ::testing::AssertionFailure() << "vertex buffer differs";
        if (now.maps != s.maps || now.texels != s.texels)
            return ::testing::AssertionFailure() << "alpha maps differ";
        // The selected layer is the page's choice; it only has to name a layer or none.
        if (now.layers != s.layers || now.selected < -1 ||
            now.selected >= int32_t(now.layers.size()))
            return ::testing::AssertionFailure() << "layer list differs";
        if (now.textures != s.textures || now.base != s.base ||
            std::memcmp(&now.baseScale, &s.baseScale, sizeof(float)) != 0)
            return ::testing::AssertionFailure() << "textures or base differ";
        return ::testing::AssertionSuccess();
    }

    MemoryDevice* device = new MemoryDevice();
    KrTerrain* terrain = nullptr;
    KrEditHistory history;
    KrPickRay ray;
    std::vector<std::string> files;
};

const D3DXVECTOR3 kOverview(0, 900, -300);
const D3DXVECTOR3 kAway(0, 50, 3000); // the terrain lies behind it

} // namespace

// Random edits (every brush mode in both shapes, painting, auto painting, whole terrains and
// layers), undos and redos with frames between them from cameras that show ground whose
// normals are still settling. Every position must come back exactly as it was last left.
TEST(EditHistory, RandomSequencesUndoAndRedoBitForBit) {
    const D3DXVECTOR3 eyes[] = {kOverview, D3DXVECTOR3(200, 120, -100), D3DXVECTOR3(-250, 60, 150),
                                kAway};
    int layerUndos = 0;    // removed layers put back or taken out again, over all seeds
    int paintingLoads = 0; // loads that brought a painting, over all seeds
    std::map<std::pair<int, int>, int> sculpted; // strokes that made a step, by shape and mode
    int autoPaints = 0;
    for (unsigned seed : {1u, 2u, 3u, 4u}) {
        SCOPED_TRACE(seed);
        HistoryRig rig;
        KrEditHistory& h = rig.history;
        rig.AddTexture();
        rig.AddTexture();
        std::mt19937 rng(seed);
        const auto pick = [&](int n) { return int(rng() % unsigned(n)); };
        const auto point = [&] {
            const float half = float(rig.terrain->info.worldWidth) * 0.5f;
            std::uniform_real_distribution<float> across(-half, half);
            return D3DXVECTOR3(across(rng), 0, across(rng));
        };
        // states[p]: the state at position p when it was last left.
        std::vector<Snapshot> states{rig.Take()};
        const auto leave = [&] { states[h.Position()] = rig.Take(); };
        // After an action that may have made a step: the redoable states go with it.
        const auto made = [&](bool step, size_t from) {
            if (!step) {
                ASSERT_EQ(h.Position(), from);
                return;
            }
            states.resize(from + 1);
            states.push_back(rig.Take());
            ASSERT_EQ(h.Position(), from + 1);
            ASSERT_EQ(h.StepCount(), from + 1);
        };
        const auto move = [&](bool undo) {
            if (!(undo ? h.CanUndo() : h.CanRedo()))
                return;
            leave();
            ASSERT_TRUE(undo ? h.Undo() : h.Redo());
            ASSERT_TRUE(rig.Matches(states[h.Position()]));
        };
        int strokes = 0;
        for (int action = 0; action < 150; ++action) {
            SCOPED_TRACE(action);
            for (int f = pick(4); f > 0; --f)
                rig.Frame(eyes[pick(4)]);
            const size_t at = h.Position();
            KrTerrain& t = *rig.terrain;
            const int32_t layers = int32_t(t.splatLayers.size());
            const int kind = pick(14);
            if (kind == 13) {
                leave();
                KrAutoPaintRule rule;
                rule.slopeMin = float(pick(30));
                rule.slopeMax = rule.slopeMin + float(pick(40));
                rule.slopeSoftness = float(pick(10));
                rule.heightMin = float(pick(40)) - 20.0f;
                rule.heightMax = rule.heightMin + float(pick(30));
                rule.heightSoftness = float(pick(10));
                const bool step = rig.AutoPaint(int32_t(pick(layers + 1)) - 1, rule);
                autoPaints += step;
                made(step, at);
            } else if (kind < 5) {
                const int tool = pick(2);
                t.selectedLayer = int32_t(pick(layers + 1)) - 1;
                t.bigRadius = 20 + pick(120);
                t.smallRadius = pick(60);
                t.splatInnerRadius = float(pick(30));
                std::vector<D3DXVECTOR3> points{point()};
                for (int i = pick(5); i > 0; --i)
                    points.push_back(points.back() + D3DXVECTOR3(float(pick(181)) - 90, 0, 40));
                const int mode = tool == 0 ? 1 + pick(6) : 1 - pick(4) / 3;
                t.brushShape = pick(2);
                t.strength = 0.05f * float(1 + pick(6));
                // Mostly from above, where every point can be picked.
                const D3DXVECTOR3 eye = eyes[pick(4) / 3];
                if (kind == 4) {
                    // The tools run with no stroke open: part of this position's state.
                    t.activeTool = tool;
                    (tool == 0 ? t.brushMode : t.paintMode) = mode;
                    t.editing = true;
                    for (const D3DXVECTOR3& p : points)
                        rig.Frame(eye, p.x, p.z);
                    t.editing = false;
                    continue;
                }
                leave();
                const bool step = rig.Stroke(tool, mode, points, eye);
                strokes += step;
                if (step && tool == 0)
                    ++sculpted[{t.brushShape, mode}];
                made(step, at);
            } else if (kind == 5) {
                leave();
                if (pick(3) == 0) {
                    const int32_t side = pick(2) ? 33 : 40;
                    h.ReplaceTerrain(rig.NewTerrain(side, side + pick(9), 9), "새 지형");
                    rig.AddTexture();
                } else {
                    const bool painting = pick(2) == 0;
                    paintingLoads += painting;
                    rig.Load(size_t(pick(2)), painting, action % 2 == 0);
                }
                made(true, at);
            } else if (kind < 8) {
                leave();
                bool step = false;
                const int choice = pick(4);
                if (layers == 0 || (choice == 0 && layers < 3)) {
                    step = h.AddSplatLayer(int32_t(pick(int(t.textures.size()))), "레이어 추가");
                    if (step) {
                        // Told apart by their scales, so a layer put back out of place shows.
                        t.splatLayers.back().mappingScale = float(action);
                        t.selectedLayer = int32_t(t.splatLayers.size()) - 1;
                    }
                } else if (choice < 3) {
                    step = h.RemoveSplatLayer(int32_t(pick(layers)), "레이어 제거");
                } else if (layers > 1) {
                    const int32_t a = int32_t(pick(layers - 1));
                    step = h.SwapSplatLayers(a, a + 1, "레이어 순서");
                }
                made(step, at);
            } else {
                const KrStepInfo* next = kind < 11 ? h.UndoStep() : h.RedoStep();
                layerUndos += next && next->kind == KrStepKind::RemoveLayer;
                move(kind < 11);
            }
            if (HasFatalFailure())
                return;
        }
        EXPECT_GT(strokes, 10);
        // All the way back and forward again, with frames between.
        while (h.CanUndo()) {
            rig.Frame(eyes[pick(3)]);
            move(true);
        }
        while (h.CanRedo()) {
            rig.Frame(eyes[pick(3)]);
            move(false);
        }
    }
    EXPECT_GT(layerUndos, 5);
    EXPECT_GT(paintingLoads, 3);
    for (int shape : {kBrushShapeSquare, kBrushShapeRound})
        for (int mode = kBrushModeRaise; mode <= kBrushModeNoise; ++mode)
            EXPECT_GT((sculpted[{shape, mode}]), 0) << "shape " << shape << ", mode " << mode;
    EXPECT_GT(autoPaints, 3);
}

// A sculpting stroke keeps the rows it wrote, not the grid, and changes the file. Auto
// painting is one step of painting: it keeps the whole map as it was, undo and redo put back
// every texel, and it changes the painting saved beside the file.
TEST(EditHistory, AutoPaintAndSculptingSteps) {
    HistoryRig rig;
    KrEditHistory& h = rig.history;
    KrTerrain& t = *rig.terrain;
    rig.AddTexture();
    ASSERT_TRUE(h.AddSplatLayer(0, "레이어 추가"));
    t.selectedLayer = 0;
    ASSERT_TRUE(rig.Stroke(1, 1, {D3DXVECTOR3(0, 0, 0)}, kOverview));
    // Each mode in each shape straight to the brush, without the frames whose normal pass
    // would add records of its own.
    t.bigRadius = 60;
    t.smallRadius = 20;
    t.strength = 0.5f;
    t.pickHit = true;
    const size_t gridBytes = size_t(t.info.numVertices) * sizeof(KrTerrainVertex);
    std::vector<Snapshot> states;
    for (int shape : {kBrushShapeSquare, kBrushShapeRound})
        for (int mode = kBrushModeRaise; mode <= kBrushModeNoise; ++mode) {
            SCOPED_TRACE(testing::Message() << "shape " << shape << ", mode " << mode);
            const Snapshot was = rig.Take();
            rig.ray.hitPoint = D3DXVECTOR3(-100.0f + 7.0f * float(mode), 3, 50);
            h.BeginStroke("높이 브러시");
            t.BeginStroke();
            t.brushShape = shape;
            t.brushMode = mode;
            t.ApplyHeightBrush();
            const bool step = h.EndStroke();
            size_t changed = 0;
            for (int32_t i = 0; i < t.info.numVertices; ++i)
                changed += was.vertices[size_t(i)].y != t.vertices[i].y;
            ASSERT_EQ(step, changed > 0);
            if (!step)
                continue;
            states.push_back(was);
            EXPECT_TRUE(h.UndoStep()->changesFile);
            const size_t bytes = h.StepBytes(h.Position() - 1);
            EXPECT_GE(bytes, changed * sizeof(KrTerrainVertex));
            EXPECT_LT(bytes, gridBytes / 8);
        }
    EXPECT_GE(states.size(), 10u);
    const Snapshot last = rig.Take();
    for (size_t n = states.size(); n > 0; --n) {
        ASSERT_TRUE(h.Undo());
        EXPECT_TRUE(rig.Matches(states[n - 1])) << n;
    }
    for (size_t n = states.size(); n > 0; --n)
        ASSERT_TRUE(h.Redo());
    EXPECT_TRUE(rig.Matches(last));
    rig.Frame(kOverview);

    const uint64_t sculpted = h.StateId();
    const Snapshot before = rig.Take();
    KrAutoPaintRule rule;
    rule.slopeMin = 2;
    rule.slopeMax = 20;
    rule.heightMin = -5;
    rule.heightMax = 5;
    ASSERT_TRUE(rig.AutoPaint(0, rule));
    EXPECT_EQ(h.UndoStep()->name, "자동 칠하기");
    EXPECT_EQ(h.UndoStep()->kind, KrStepKind::Stroke);
    EXPECT_TRUE(h.UndoStep()->changesFile);
    EXPECT_TRUE(h.FileChangedSince(sculpted));
    const size_t mapBytes = size_t(ALPHA_MAP_SIZE) * ALPHA_MAP_SIZE * 4;
    EXPECT_GE(h.StepBytes(h.Position() - 1), mapBytes);
    EXPECT_LT(h.StepBytes(h.Position() - 1), mapBytes + mapBytes / 32);
    const Snapshot after = rig.Take();
    ASSERT_NE(after.texels, before.texels);
    ASSERT_TRUE(h.Undo());
    EXPECT_TRUE(rig.Matches(before));
    ASSERT_TRUE(h.Redo());
    EXPECT_TRUE(rig.Matches(after));

    // The same rule again, or a layer that is not there, changes nothing and makes no step.
    const size_t steps = h.StepCount();
    EXPECT_FALSE(rig.AutoPaint(0, rule));
    EXPECT_FALSE(rig.AutoPaint(1, rule));
    EXPECT_EQ(h.StepCount(), steps);
}

// Tools run with editing set but no stroke open, as code other than the view may do: their
// changes belong to the position and come back with it, beside the steps on either side.
TEST(EditHistory, EditsOutsideAStrokeComeBackWithTheirPosition) {
    HistoryRig rig;
    KrEditHistory& h = rig.history;
    KrTerrain& t = *rig.terrain;
    rig.AddTexture();
    std::vector<Snapshot> states(4);
    const auto leave = [&] { states[h.Position()] = rig.Take(); };
    const auto move = [&](bool undo) {
        leave();
        ASSERT_TRUE(undo ? h.Undo() : h.Redo());
        EXPECT_TRUE(rig.Matches(states[h.Position()])) << "at " << h.Position();
    };
    leave();
    ASSERT_TRUE(h.AddSplatLayer(0, "레이어 추가"));
    t.selectedLayer = 0;
    t.brushMode = 1;
    for (float x : {-100.0f, 100.0f}) {
        leave();
        ASSERT_TRUE(rig.Stroke(1, 1, {D3DXVECTOR3(x, 0, 0)}, kOverview));
    }
    move(true);
    // Position 2, between a step to undo and one to redo: paint across both strokes' rows
    // and raise the ground.
    t.editing = true;
    for (int tool : {1, 0}) {
        t.activeTool = tool;
        for (float x : {-40.0f, 40.0f, 160.0f})
            rig.Frame(kOverview, x, 10);
    }
    t.editing = false;
    move(false);
    rig.Frame(kOverview);
    move(true);
    move(true);
    rig.Frame(kOverview);
    move(false);
    move(false);
}

// A load keeps the other grid but not the layers, which stay with the object: texels painted
// outside a stroke on either side of it come back with their position too.
TEST(EditHistory, PaintingOutsideAStrokeBesideALoadComesBackWithItsPosition) {
    HistoryRig rig;
    KrEditHistory& h = rig.history;
    KrTerrain& t = *rig.terrain;
    rig.AddTexture();
    std::vector<Snapshot> states(3);
    const auto leave = [&] { states[h.Position()] = rig.Take(); };
    const auto move = [&](bool undo) {
        leave();
        ASSERT_TRUE(undo ? h.Undo() : h.Redo());
        EXPECT_TRUE(rig.Matches(states[h.Position()])) << "at " << h.Position();
    };
    const auto paint = [&](float x) {
        t.activeTool = 1;
        t.editing = true;
        rig.Frame(kOverview, x, 10);
        t.editing = false;
    };
    leave();
    ASSERT_TRUE(h.AddSplatLayer(0, "레이어 추가"));
    t.selectedLayer = 0;
    leave();
    rig.Load(0);
    paint(-60);
    move(true);
    paint(-20); // rows shared with the first dab
    paint(90);
    move(false);
    move(true);
    move(true);
    move(false);
    move(false);
}

// Layer steps put back the list, the maps and the selected layer; a layer a step keeps
// follows its texture when textures before it are removed.
TEST(EditHistory, LayerStepsPutBackTheListAndTheSelection) {
    HistoryRig rig;
    KrEditHistory& h = rig.history;
    KrTerrain& t = *rig.terrain;
    for (int i = 0; i < 3; ++i)
        rig.AddTexture();
    for (int32_t texture : {0, 1, 2})
        ASSERT_TRUE(h.AddSplatLayer(texture, "레이어 추가"));
    const std::vector<KrTextureEntry*> maps = t.alphaMaps;
    t.selectedLayer = 1;
    ASSERT_TRUE(h.RemoveSplatLayer(1, "레이어 제거"));
    EXPECT_EQ(t.selectedLayer, -1);
    ASSERT_TRUE(h.SwapSplatLayers(0, 1, "레이어 순서"));
    t.selectedLayer = 0;
    EXPECT_FALSE(h.SwapSplatLayers(1, 2, "레이어 순서"));
    EXPECT_EQ(h.StepCount(), 5u);

    // Texture 0 goes: the kept layer on texture 1 now names index 0.
    ASSERT_TRUE(t.RemoveTexture(0));
    ASSERT_TRUE(h.Undo());
    EXPECT_EQ(t.alphaMaps, std::vector<KrTextureEntry*>({maps[0], maps[2]}));
    ASSERT_TRUE(h.Undo());
    EXPECT_EQ(t.alphaMaps, maps);
    EXPECT_EQ(t.splatLayers[0].textureIndex, -1);
    EXPECT_EQ(t.splatLayers[1].textureIndex, 0);
    EXPECT_EQ(t.splatLayers[2].textureIndex, 1);
    EXPECT_EQ(t.selectedLayer, 1);
    ASSERT_TRUE(h.Undo());
    EXPECT_EQ(t.alphaMaps, std::vector<KrTextureEntry*>({maps[0], maps[1]}));
    EXPECT_EQ(t.selectedLayer, -1) << "as before the add";
    ASSERT_TRUE(h.Redo());
    ASSERT_TRUE(h.Redo());
    ASSERT_TRUE(h.Redo());
    EXPECT_EQ(t.alphaMaps, std::vector<KrTextureEntry*>({maps[2], maps[0]}));
    EXPECT_EQ(t.selectedLayer, 0);
}

// Steps that changed nothing are not made; a new edit after an undo drops what could have
// been redone; every step, paint and layers included, changes what is saved.
TEST(EditHistory, EmptyStrokesRedoDroppingAndFileChanges) {
    HistoryRig rig;
    KrEditHistory& h = rig.history;
    rig.AddTexture();
    const uint64_t start = h.StateId();
    EXPECT_FALSE(rig.Stroke(0, 0, {D3DXVECTOR3(0, 0, 0)}, kOverview)) << "brush mode none";
    EXPECT_FALSE(rig.Stroke(0, 1, {D3DXVECTOR3(0, 0, 0)}, kAway)) << "nothing picked";
    EXPECT_FALSE(rig.Stroke(1, 1, {D3DXVECTOR3(0, 0, 0)}, kOverview)) << "no layer to paint";
    EXPECT_EQ(h.StepCount(), 0u);
    EXPECT_FALSE(h.CanUndo());

    ASSERT_TRUE(rig.Stroke(0, 1, {D3DXVECTOR3(0, 0, 0)}, kOverview));
    const uint64_t raised = h.StateId();
    ASSERT_TRUE(h.AddSplatLayer(0, "레이어 추가"));
    const uint64_t layered = h.StateId();
    rig.terrain->selectedLayer = 0;
    ASSERT_TRUE(rig.Stroke(1, 1, {D3DXVECTOR3(0, 0, 0)}, kOverview));
    EXPECT_EQ(h.UndoStep()->name, "텍스쳐 칠하기");
    EXPECT_TRUE(h.FileChangedSince(start));
    // The painting is saved beside the heights: paint and layer steps change the files too.
    EXPECT_TRUE(h.FileChangedSince(layered)) << "painted since";
    const uint64_t painted = h.StateId();
    ASSERT_TRUE(h.Undo());
    EXPECT_FALSE(h.FileChangedSince(layered));
    ASSERT_TRUE(h.Undo());
    EXPECT_EQ(h.RedoStep()->name, "레이어 추가");
    EXPECT_TRUE(h.FileChangedSince(layered)) << "a layer fewer";
    EXPECT_TRUE(h.FileChangedSince(painted));
    EXPECT_FALSE(h.FileChangedSince(raised));
    ASSERT_TRUE(h.Undo());
    EXPECT_FALSE(h.FileChangedSince(start));
    ASSERT_TRUE(h.Redo());

    // An empty stroke keeps the redo steps; a real one drops them.
    EXPECT_FALSE(rig.Stroke(0, 0, {D3DXVECTOR3(0, 0, 0)}, kOverview));
    EXPECT_EQ(h.StepCount(), 3u);
    ASSERT_TRUE(rig.Stroke(0, 2, {D3DXVECTOR3(50, 0, 0)}, kOverview));
    EXPECT_EQ(h.StepCount(), 2u);
    EXPECT_FALSE(h.CanRedo());
    EXPECT_EQ(h.Position(), 2u);
    EXPECT_TRUE(h.FileChangedSince(raised));
    EXPECT_TRUE(h.FileChangedSince(12345)) << "an unknown state";
}

// Over the bound the oldest steps go; a stroke larger than the whole bound leaves no step
// and no history, but its edit stays.
TEST(EditHistory, BoundDropsTheOldestSteps) {
    HistoryRig rig;
    KrEditHistory& h = rig.history;
    std::vector<Snapshot> states{rig.Take()};
    for (int i = 0; i < 6; ++i) {
        ASSERT_TRUE(rig.Stroke(0, 1, {D3DXVECTOR3(-200.0f + 80.0f * i, 0, 0)}, kOverview));
        states.push_back(rig.Take());
    }
    const size_t one = h.StepBytes(5);
    ASSERT_GT(one, 0u);
    h.SetByteLimit(3 * one + one / 2);
    EXPECT_LE(h.HeldBytes(), h.ByteLimit());
    const size_t kept = h.StepCount();
    EXPECT_GE(kept, 2u);
    EXPECT_LE(kept, 3u);
    for (size_t n = 6; n > 6 - kept; --n) {
        ASSERT_TRUE(h.Undo());
        EXPECT_TRUE(rig.Matches(states[n - 1]));
    }
    EXPECT_FALSE(h.CanUndo()) << "the oldest steps are gone";
    ASSERT_TRUE(rig.Stroke(0, 1, {D3DXVECTOR3(0, 0, 200)}, kOverview)) << "drops the redo steps";
    EXPECT_EQ(h.StepCount(), 1u);

    h.SetByteLimit(one / 4);
    const Snapshot before = rig.Take();
    const uint64_t saved = h.StateId();
    EXPECT_FALSE(rig.Stroke(0, 1, {D3DXVECTOR3(0, 0, -200)}, kOverview));
    EXPECT_EQ(h.StepCount(), 0u);
    EXPECT_FALSE(rig.Matches(before)) << "the edit itself is made";
    EXPECT_TRUE(h.FileChangedSince(saved)) << "no way back to the saved state";
}

// A new terrain keeps the old object whole and a load keeps the old grid; undo brings them
// back with the present settings, and the layers survive a load.
TEST(EditHistory, WholeTerrainStepsKeepTheOldObjectOrGrid) {
    HistoryRig rig;
    KrEditHistory& h = rig.history;
    KrTerrain* first = rig.terrain;
    rig.AddTexture();
    ASSERT_TRUE(h.AddSplatLayer(0, "레이어 추가"));
    h.ReplaceTerrain(rig.NewTerrain(33, 33, 5), "새 지형");
    KrTerrain* second = rig.terrain;
    EXPECT_NE(second, first);
    EXPECT_EQ(first->history, nullptr);
    EXPECT_EQ(first->vertexBuffer, nullptr) << "a kept terrain holds no device buffers";
    EXPECT_EQ(h.UndoStep()->name, "새 지형");
    EXPECT_TRUE(h.UndoStep()->changesFile);
    second->brushMode = 3;
    second->bigRadius = 77;
    second->fillMode = D3DFILL_WIREFRAME;

    ASSERT_TRUE(h.Undo());
    EXPECT_EQ(rig.terrain, first);
    EXPECT_EQ(first->history, &h);
    EXPECT_EQ(first->brushMode, 3) << "settings are no part of a step";
    EXPECT_EQ(first->bigRadius, 77);
    EXPECT_EQ(first->fillMode, D3DFILL_WIREFRAME);
    EXPECT_EQ(first->pickRay, &rig.ray);
    EXPECT_EQ(first->splatLayers.size(), 1u);
    ASSERT_TRUE(h.Redo());
    EXPECT_EQ(rig.terrain, second);
    EXPECT_TRUE(second->splatLayers.empty());

    ASSERT_TRUE(h.Undo());
    rig.Load(1);
    EXPECT_EQ(rig.terrain, first) << "a load keeps the object";
    EXPECT_EQ(first->info.vertsPerRow, 20);
    EXPECT_EQ(first->splatLayers.size(), 1u);
    EXPECT_FALSE(h.CanRedo());
    rig.Frame(kOverview);
    ASSERT_TRUE(h.Undo());
    EXPECT_EQ(first->info.vertsPerRow, 65);
    EXPECT_EQ(first->quadTreeEnabled, 1);
    EXPECT_EQ(first->splatLayers.size(), 1u);
    ASSERT_TRUE(h.Redo());
    EXPECT_EQ(first->info.vertsPerCol, 17);
    EXPECT_EQ(first->quadTreeEnabled, 0);
}

// A load that brings a painting keeps the one before it: undo puts back heights and painting
// (textures, base, scales, layers, alpha maps) bit for bit, redo the loaded ones. Layers kept
// for the painting before do not follow textures removed from the loaded one.
TEST(EditHistory, LoadWithPaintingKeepsThePaintingBeforeIt) {
    HistoryRig rig;
    KrEditHistory& h = rig.history;
    KrTerrain& t = *rig.terrain;
    for (int i = 0; i < 3; ++i)
        rig.AddTexture();
    ASSERT_TRUE(h.AddSplatLayer(1, "레이어 추가"));
    ASSERT_TRUE(h.AddSplatLayer(2, "레이어 추가"));
    t.selectedLayer = 0;
    ASSERT_TRUE(rig.Stroke(1, 1, {D3DXVECTOR3(0, 0, 0)}, kOverview));
    t.baseTexture = 2;
    t.baseMappingScale = 12.0f;
    t.splatLayers[1].mappingScale = 9.0f;
    ASSERT_TRUE(h.RemoveSplatLayer(0, "레이어 제거")); // kept: the layer on texture 1
    t.selectedLayer = 0;
    rig.Frame(kOverview);
    const Snapshot before = rig.Take();

    rig.Load(0, true);
    EXPECT_EQ(rig.terrain, &t) << "a load keeps the object";
    EXPECT_EQ(h.UndoStep()->name, "불러오기");
    EXPECT_EQ(t.info.vertsPerRow, 33);
    ASSERT_EQ(t.textures.size(), 1u);
    EXPECT_EQ(t.alphaMaps.size(), 1u);
    EXPECT_EQ(t.baseMappingScale, 2.5f);
    EXPECT_EQ(t.selectedLayer, 0);
    rig.Frame(kOverview);
    rig.AddTexture();
    ASSERT_TRUE(t.RemoveTexture(0)); // the loaded layer loses its texture
    EXPECT_EQ(t.splatLayers[0].textureIndex, -1);
    const Snapshot loaded = rig.Take();

    ASSERT_TRUE(h.Undo());
    EXPECT_TRUE(rig.Matches(before));
    EXPECT_EQ(t.selectedLayer, 0);
    rig.Frame(kOverview); // normals settle on: the position is left as it is now
    const Snapshot left = rig.Take();
    ASSERT_TRUE(h.Redo());
    EXPECT_TRUE(rig.Matches(loaded));
    ASSERT_TRUE(h.Undo());
    EXPECT_TRUE(rig.Matches(left));
    ASSERT_TRUE(h.Undo());
    ASSERT_EQ(t.splatLayers.size(), 2u);
    EXPECT_EQ(t.splatLayers[0].textureIndex, 1) << "named in the list it came from";

    // A painting that does not come with the load stays, in the step too.
    ASSERT_TRUE(h.Redo());
    const Snapshot kept = rig.Take();
    rig.Load(1);
    EXPECT_EQ(t.info.vertsPerRow, 20);
    EXPECT_EQ(std::vector<const KrTextureEntry*>(t.alphaMaps.begin(), t.alphaMaps.end()),
              kept.maps);
    // Texels painted there outside a stroke belong to that position, though the step keeps
    // only grids.
    t.activeTool = 1;
    t.paintMode = 1;
    t.selectedLayer = 0;
    t.editing = true;
    for (float x : {-30.0f, 0.0f, 30.0f})
        rig.Frame(kOverview, x, 0);
    t.editing = false;
    const Snapshot painted = rig.Take();
    ASSERT_NE(painted.texels, kept.texels);
    ASSERT_TRUE(h.Undo());
    EXPECT_TRUE(rig.Matches(kept));
    ASSERT_TRUE(h.Redo());
    EXPECT_TRUE(rig.Matches(painted));
}

// Heights taken in on the same grid are one step that keeps the grid before: undo and redo
// bring back every vertex record and the vertex buffer, and the new heights come out as
// replacing them in place gives them.
TEST(EditHistory, ReplacedHeightsAreOneStepBitForBit) {
    HistoryRig rig;
    KrEditHistory& h = rig.history;
    KrTerrain& t = *rig.terrain;
    const Snapshot flat = rig.Take();
    ASSERT_TRUE(rig.Stroke(0, 1, {D3DXVECTOR3(0, 0, 0)}, kOverview));
    rig.Frame(kOverview);
    const Snapshot before = rig.Take();
    std::vector<float> heights(size_t(t.info.numVertices));
    for (size_t i = 0; i < heights.size(); ++i)
        heights[i] = 40.0f * std::sin(0.37f * float(i % 65)) + 0.5f * float(i / 65);
    auto inPlace = rig.NewTerrain(65, 65, 10);
    std::copy(t.vertices, t.vertices + t.info.numVertices, inPlace->vertices);
    ASSERT_TRUE(inPlace->ReplaceHeights(heights.data()));

    auto regridded = std::make_unique<KrTerrain>();
    regridded->device = rig.device;
    ASSERT_TRUE(regridded->CopyGridWithHeights(t, heights.data()));
    h.ReplaceHeights(std::move(regridded), "높이맵 가져오기");
    EXPECT_EQ(rig.terrain, &t);
    EXPECT_EQ(h.UndoStep()->kind, KrStepKind::ReplaceHeights);
    EXPECT_TRUE(h.UndoStep()->changesFile);
    EXPECT_EQ(h.StepCount(), 2u);
    Snapshot expected = before;
    expected.vertices.assign(inPlace->vertices, inPlace->vertices + inPlace->info.numVertices);
    EXPECT_TRUE(rig.Matches(expected));
    EXPECT_EQ(t.quadTreeEnabled, 1);

    rig.Frame(kOverview);
    const Snapshot after = rig.Take();
    ASSERT_TRUE(h.Undo());
    EXPECT_TRUE(rig.Matches(before));
    rig.Frame(D3DXVECTOR3(200, 120, -100));
    ASSERT_TRUE(h.Redo());
    EXPECT_TRUE(rig.Matches(after));
    ASSERT_TRUE(h.Undo());
    ASSERT_TRUE(h.Undo());
    EXPECT_TRUE(rig.Matches(flat)) << "the stroke before undoes as ever";

    auto wrong = std::make_unique<KrTerrain>();
    wrong->device = rig.device;
    heights[7] = std::numeric_limits<float>::infinity();
    EXPECT_FALSE(wrong->CopyGridWithHeights(t, heights.data()));
}

// A grid prepared without the device goes into the terrain itself: loads (with and without a
// painting) and heights taken in make the same steps, bit for bit, as grids swapped in from a
// terrain of their own, but a grid of the size there is written into the buffers there. A
// refusal of the device leaves the terrain and the history as they were.
TEST(EditHistory, GridsInstalledInPlaceAreTheSameStepsInTheSameBuffers) {
    HistoryRig swapped, installed;
    const std::string same = "/tmp/veldmark-history-" + std::to_string(getpid()) + "-65.mvd";
    {
        auto t = swapped.NewTerrain(65, 65, 10);
        for (int32_t i = 0; i < t->info.numVertices; ++i)
            t->vertices[i].y = float(i % 29) * 0.75f;
        ASSERT_TRUE(t->SaveMapVertexData(same.c_str()));
        swapped.files.push_back(same);
    }
    installed.files.push_back(same);
    for (HistoryRig* rig : {&swapped, &installed}) {
        rig->AddTexture();
        ASSERT_TRUE(rig->history.AddSplatLayer(0, "레이어 추가"));
        ASSERT_TRUE(rig->Stroke(0, 1, {D3DXVECTOR3(0, 0, 0)}, kOverview));
        rig->terrain->selectedLayer = 0;
        ASSERT_TRUE(rig->Stroke(1, 1, {D3DXVECTOR3(40, 0, 0)}, kOverview));
    }
    const auto alike = [&]() -> ::testing::AssertionResult {
        const Snapshot a = swapped.Take(), b = installed.Take();
        const KrTerrain &s = *swapped.terrain, &t = *installed.terrain;
        const auto* sb = static_cast<MemoryVertexBuffer*>(s.vertexBuffer);
        const auto* tb = static_cast<MemoryVertexBuffer*>(t.vertexBuffer);
        if (a.w != b.w || a.d != b.d ||
            std::memcmp(a.vertices.data(), b.vertices.data(), a.vertices.size() * 32) != 0)
            return ::testing::AssertionFailure() << "grids differ";
        if (sb->data != tb->data)
            return ::testing::AssertionFailure() << "vertex buffers differ";
        if (a.texels != b.texels || a.layers != b.layers || a.selected != b.selected ||
            a.base != b.base || a.baseScale != b.baseScale ||
            a.textures.size() != b.textures.size())
            return ::testing::AssertionFailure() << "paintings differ";
        if (swapped.history.Position() != installed.history.Position() ||
            swapped.history.StepCount() != installed.history.StepCount())
            return ::testing::AssertionFailure() << "histories differ";
        return ::testing::AssertionSuccess();
    };
    const auto both = [&](auto action) {
        action(swapped, false);
        action(installed, true);
    };
    ASSERT_TRUE(alike());

    KrTerrain& t = *installed.terrain;
    const auto buffers = [&] {
        return std::tuple(t.vertexBuffer, t.indexBuffer,
                          installed.device->Calls(DeviceOp::CreateVertexBuffer).size(),
                          installed.device->Calls(DeviceOp::CreateIndexBuffer).size());
    };
    const auto before = buffers();
    both([](HistoryRig& rig, bool inPlace) { rig.Load(2, false, inPlace); });
    EXPECT_EQ(buffers(), before) << "the same size goes into the buffers there";
    EXPECT_EQ(installed.terrain, &t);
    EXPECT_EQ(installed.history.UndoStep()->kind, KrStepKind::LoadGrid);
    ASSERT_TRUE(alike());
    both([](HistoryRig& rig, bool) { rig.Frame(kOverview); });
    both([](HistoryRig& rig, bool inPlace) { rig.Load(0, true, inPlace); });
    EXPECT_EQ(t.info.vertsPerRow, 33);
    ASSERT_TRUE(alike());
    both([](HistoryRig& rig, bool) { rig.Frame(D3DXVECTOR3(200, 120, -100)); });

    // Heights taken in on the same grid.
    std::vector<float> heights(33 * 33);
    for (size_t i = 0; i < heights.size(); ++i)
        heights[i] = 10.0f * std::cos(0.2f * float(i));
    both([&](HistoryRig& rig, bool inPlace) {
        if (inPlace) {
            KrTerrainGrid grid;
            ASSERT_TRUE(PrepareGridWithHeights(rig.terrain->info, rig.terrain->vertices,
                                               heights.data(), &grid));
            ASSERT_TRUE(rig.history.InstallGrid(KrStepKind::ReplaceHeights, grid, nullptr,
                                                "높이맵 가져오기"));
        } else {
            auto regridded = std::make_unique<KrTerrain>();
            regridded->device = rig.device;
            ASSERT_TRUE(regridded->CopyGridWithHeights(*rig.terrain, heights.data()));
            rig.history.ReplaceHeights(std::move(regridded), "높이맵 가져오기");
        }
    });
    ASSERT_TRUE(alike());

    for (int i = 0; i < 5; ++i) {
        both([](HistoryRig& rig, bool) {
            rig.Frame(kOverview);
            ASSERT_TRUE(rig.history.Undo());
        });
        ASSERT_TRUE(alike()) << "undo " << i;
    }
    for (int i = 0; i < 5; ++i) {
        both([](HistoryRig& rig, bool) {
            ASSERT_TRUE(rig.history.Redo());
            rig.Frame(kAway);
        });
        ASSERT_TRUE(alike()) << "redo " << i;
    }

    // The device refuses: nothing changes, and the grid is still the caller's.
    const Snapshot now = installed.Take();
    const size_t steps = installed.history.StepCount();
    ASSERT_EQ(t.info.vertsPerRow, 33);
    using Failure = std::pair<bool DeviceFailures::*, size_t>; // and the file: 33² or 65²
    for (auto [flag, file] :
         {Failure{&DeviceFailures::lockBuffer, 0}, Failure{&DeviceFailures::lockBuffer, 2},
          Failure{&DeviceFailures::createVertexBuffer, 2}}) {
        {
            KrTerrainGrid grid;
            ASSERT_TRUE(PrepareMapVertexData(installed.files[file].c_str(), &grid));
            const KrTerrainVertex* prepared = grid.vertices.get();
            std::string error;
            (*installed.device->failures).*flag = true;
            EXPECT_FALSE(installed.history.InstallGrid(KrStepKind::LoadGrid, grid, nullptr,
                                                       "불러오기", &error));
            (*installed.device->failures).*flag = false;
            EXPECT_FALSE(error.empty());
            EXPECT_EQ(grid.vertices.get(), prepared);
            EXPECT_TRUE(installed.Matches(now));
            EXPECT_EQ(installed.history.StepCount(), steps);
            EXPECT_TRUE(installed.history.CanUndo());
        }
    }
}

// A kept grid counts what it holds: the master array, the normal pass's counts and the
// quadtree's table (under 11 bytes a vertex), so that the bound keeps what it can. A grid
// swapped in brings its own counts: a load larger than the grid before runs its frames
// exactly as a terrain that loaded the file itself.
TEST(EditHistory, GridStepsKeepAndBringTheWholeGrid) {
    HistoryRig rig;
    KrEditHistory& h = rig.history;
    KrTerrain* first = rig.terrain;
    const auto n = size_t(first->info.numVertices);
    ASSERT_NE(first->quadTree, nullptr);
    EXPECT_LE(first->quadTree->HeldBytes(), 11 * n);
    h.ReplaceTerrain(rig.NewTerrain(9, 9, 5), "새 지형");
    const size_t kept = h.StepBytes(0);
    EXPECT_GE(kept, n * (sizeof(KrTerrainVertex) + 1) + first->quadTree->HeldBytes());
    EXPECT_LE(kept, n * (sizeof(KrTerrainVertex) + 1 + 11) + sizeof(KrTerrain) + 4096);

    rig.Load(0);
    auto direct = rig.NewTerrain(2, 2, 1);
    ASSERT_TRUE(direct->LoadMapVertexData(rig.files[0].c_str()));
    const D3DXMATRIX view = CullView(kOverview, D3DXVECTOR3(0, 0, 400));
    for (int frame = 0; frame < 3; ++frame) {
        ASSERT_TRUE(rig.terrain->UpdateTerrain(view, CullProjection()));
        ASSERT_TRUE(direct->UpdateTerrain(view, CullProjection()));
    }
    ASSERT_EQ(rig.terrain->info.numVertices, 33 * 33);
    EXPECT_EQ(std::memcmp(rig.terrain->vertices, direct->vertices, 33 * 33 * 32), 0);
}
