// The edit history's cost: tool steps and editing frames with the history recording beside
// the same without it, the bytes a stroke's step holds beside what the stroke changed, and
// undoing a large stroke on the largest grid.
#include "KrAutoPaint.h"
#include "KrBrushShape.h"
#include "KrEditHistory.h"
#include "KrRenderer.h"
#include "KrTerrain.h"
#include "memory_device.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <memory>
#include <vector>

namespace {

FixedSizeWindow window(1280, 768);

// The machine is shared: the fastest of several repetitions is the steadiest figure.
double Fastest(const std::vector<double>& v) {
    return v.empty() ? 0.0 : *std::min_element(v.begin(), v.end());
}

KrRenderer* Renderer() {
    KrRenderer* r = KrRenderer::GetInstance();
    if (!r->device)
        r->Create(&window);
    return r;
}

// A terrain in a slot with a history attached (or none), seen from the camera's start pose,
// the pick ray through a point below the window's centre.
struct Rig {
    Rig(int side, int spacing, bool recording) {
        KrRenderer* r = Renderer();
        terrain = new KrTerrain();
        terrain->device = r->device;
        terrain->Create(side, side, spacing);
        terrain->pickRay = &pick;
        terrain->lodThreshold = 5;
        r->camera.Reset();
        r->UpdateView();
        pick.ComputePickRay(r->device, &window, 640, 600);
        if (recording)
            history.Attach(&terrain);
        for (int i = 0; i < 60; ++i)
            terrain->Update(); // settle the normals
    }
    ~Rig() {
        history.Detach();
        terrain->device = nullptr;
        delete terrain;
    }
    KrTerrain* terrain;
    KrPickRay pick;
    KrEditHistory history;
};

// One brush step at a point that moves along the ground as a drag does, so each step meets
// rows the stroke has not touched yet.
void BM_BrushStepRecorded(benchmark::State& state) {
    const bool recording = state.range(2) != 0;
    Rig rig(1025, 10, recording);
    KrTerrain& t = *rig.terrain;
    t.bigRadius = int(state.range(0));
    t.smallRadius = int(state.range(1));
    t.strength = 0.01f;
    t.brushMode = 1;
    t.pickHit = true;
    if (recording)
        rig.history.BeginStroke("높이 브러시");
    int64_t step = 0;
    for (auto _ : state) {
        // Across the grid and back, a cell every other step.
        const float x = float(step++ % 1600) * 5.0f - 4000.0f;
        rig.pick.hitPoint = D3DXVECTOR3(x, 0, float(step / 1600 % 8) * 600.0f - 2400.0f);
        t.ApplyHeightBrush();
    }
    if (recording)
        rig.history.EndStroke();
}

// One paint step, moving likewise.
void BM_PaintStepRecorded(benchmark::State& state) {
    const bool recording = state.range(2) != 0;
    Rig rig(129, 10, recording);
    KrTerrain& t = *rig.terrain;
    IDirect3DTexture9* texture = nullptr;
    t.device->CreateTexture(64, 64, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &texture, nullptr);
    t.textures.push_back(new KrTextureEntry(texture));
    t.AddSplatLayer(0);
    t.selectedLayer = 0;
    t.bigRadius = int(state.range(0));
    t.splatInnerRadius = float(state.range(1)) * 0.5f;
    t.pickHit = true;
    if (recording)
        rig.history.BeginStroke("텍스쳐 칠하기");
    int64_t step = 0;
    for (auto _ : state) {
        const float x = float(step++ % 256) * 5.0f - 640.0f;
        rig.pick.hitPoint = D3DXVECTOR3(x, 0, float(step / 256 % 8) * 150.0f - 600.0f);
        t.paintMode = int32_t(step / 2048 % 2); // draw, then erase what was drawn
        t.PaintSplat(&rig.pick, 0);
    }
    if (recording)
        rig.history.EndStroke();
}

// Whole editing frames (pick, brush, normals, upload) while the pointer sweeps the view.
void BM_EditingFrameRecorded(benchmark::State& state) {
    const bool recording = state.range(1) != 0;
    Rig rig(int(state.range(0)), 10, recording);
    KrTerrain& t = *rig.terrain;
    KrRenderer* r = Renderer();
    t.bigRadius = 25;
    t.smallRadius = 20;
    t.strength = 0.01f;
    t.brushMode = 1;
    t.editing = true;
    if (recording)
        rig.history.BeginStroke("높이 브러시");
    int64_t frame = 0;
    for (auto _ : state) {
        const int x = 340 + int(frame++ % 600);
        rig.pick.ComputePickRay(r->device, &window, x, 600);
        t.Update();
    }
    t.editing = false;
    if (recording)
        rig.history.EndStroke();
}

// A drag of 60 frames across the view: the bytes its step holds, and the bytes the stroke
// changed (32 for each vertex record and 4 for each texel that differs afterwards).
void BM_StrokeStepBytes(benchmark::State& state) {
    const int tool = int(state.range(0));
    Rig rig(129, 10, true);
    KrTerrain& t = *rig.terrain;
    KrRenderer* r = Renderer();
    if (tool == 1) {
        IDirect3DTexture9* texture = nullptr;
        t.device->CreateTexture(64, 64, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &texture, nullptr);
        t.textures.push_back(new KrTextureEntry(texture));
        rig.history.AddSplatLayer(0, "레이어 추가");
        t.selectedLayer = 0;
    }
    t.activeTool = tool;
    t.brushMode = 1;
    t.bigRadius = int(state.range(1));
    t.smallRadius = int(state.range(2));
    t.splatInnerRadius = 0.5f * float(t.smallRadius);
    double held = 0, changed = 0;
    for (auto _ : state) {
        state.PauseTiming();
        const std::vector<KrTerrainVertex> before(t.vertices, t.vertices + t.info.numVertices);
        std::vector<uint32_t> texels;
        auto* map = tool == 1 ? static_cast<MemoryTexture*>(t.alphaMaps[0]->texture) : nullptr;
        if (map)
            texels.assign(reinterpret_cast<const uint32_t*>(map->levels[0].bits.data()),
                          reinterpret_cast<const uint32_t*>(map->levels[0].bits.data()) +
                              ALPHA_MAP_SIZE * ALPHA_MAP_SIZE);
        state.ResumeTiming();
        rig.history.BeginStroke("stroke");
        t.editing = true;
        for (int f = 0; f < 60; ++f) {
            rig.pick.ComputePickRay(r->device, &window, 400 + 8 * f, 560);
            t.Update();
        }
        t.editing = false;
        t.Update();
        rig.history.EndStroke();
        state.PauseTiming();
        held = double(rig.history.StepBytes(rig.history.Position() - 1));
        changed = 0;
        for (int32_t i = 0; i < t.info.numVertices; ++i)
            changed += std::memcmp(&before[size_t(i)], &t.vertices[i], 32) != 0 ? 32 : 0;
        for (size_t i = 0; map && i < texels.size(); ++i)
            changed += std::memcmp(&texels[i], map->levels[0].bits.data() + 4 * i, 4) != 0 ? 4 : 0;
        rig.history.Undo();
        state.ResumeTiming();
    }
    state.counters["step_B"] = held;
    state.counters["changed_B"] = changed;
    state.counters["ratio"] = changed > 0 ? held / changed : 0;
}

// The largest grid, 4097 × 4097 with spacing 1, made once and kept in a slot a history can
// attach to.
KrTerrain*& LargestTerrain() {
    static KrTerrain* terrain = [] {
        auto* t = new KrTerrain();
        t->device = Renderer()->device;
        t->Create(4097, 4097, 1);
        return t;
    }();
    return terrain;
}

// Relief around the grid's middle, the same for every run, so that every mode has the same
// work to do whatever ran before it.
void ResetRelief(KrTerrain& t) {
    const int32_t w = t.info.vertsPerRow, middle = w / 2;
    for (int32_t row = middle - 560; row <= middle + 560; ++row) {
        const int32_t first = row * w + middle - 660, last = row * w + middle + 660;
        for (int32_t i = first; i <= last; ++i) {
            KrTerrainVertex& v = t.vertices[i];
            v.y = 40.0f * std::sin(v.x * 0.013f) * std::cos(v.z * 0.011f) +
                  3.0f * std::sin(v.x * 0.7f + v.z * 0.3f);
        }
        t.MarkVerticesChanged(first, last);
    }
}

// A sculpting step of each mode and shape at the largest radii (500 and 250) on the largest
// grid, in a drag that moves half a cell a step, so every row meets a vertex the stroke has
// not kept yet: with the history recording the stroke beside the same without it. The
// stroke's first step, which keeps the whole footprint, is timed apart (first_ms).
void BM_SculptStepRecorded(benchmark::State& state) {
    KrTerrain*& slot = LargestTerrain();
    KrTerrain& t = *slot;
    if (!t.vertices) {
        state.SkipWithError("the 4097 x 4097 terrain could not be made");
        return;
    }
    ResetRelief(t);
    const int32_t mode = int32_t(state.range(0));
    const bool recording = state.range(2) != 0;
    KrEditHistory history;
    if (recording)
        history.Attach(&slot);
    KrPickRay pick{};
    t.pickRay = &pick;
    t.pickHit = true;
    t.bigRadius = 500;
    t.smallRadius = 250;
    t.brushShape = int32_t(state.range(1));
    int64_t step = 0;
    const auto apply = [&] {
        if (mode == kBrushModeRaise || mode == kBrushModeLower)
            t.brushMode = step % 2 ? kBrushModeLower : kBrushModeRaise;
        else
            t.brushMode = mode;
        t.strength = mode == kBrushModeNoise && step % 2 ? -0.1f : 0.1f;
        // Across 200 cells and back.
        const int64_t at = step % 800;
        pick.hitPoint = D3DXVECTOR3(0.5f * float(at < 400 ? at : 800 - at) - 100.0f, 0, -2.5f);
        ++step;
        t.ApplyHeightBrush();
    };
    if (recording)
        history.BeginStroke("높이 브러시");
    t.BeginStroke();
    const auto start = std::chrono::steady_clock::now();
    apply();
    const std::chrono::duration<double, std::milli> first =
        std::chrono::steady_clock::now() - start;
    for (auto _ : state)
        apply();
    state.counters["first_ms"] = first.count();
    if (recording) {
        state.counters["held_MB"] = double(history.HeldBytes()) / (1 << 20);
        history.EndStroke();
    }
    t.strength = 0.1f;
    state.SetItemsProcessed(state.iterations() * 1001 * 1001);
}

// Auto painting a layer on a 129 × 129 grid with the history recording it as one step (the
// whole map kept, and compared afterwards) beside the same without it. Two rules take turns,
// so every click changes the map.
void BM_AutoPaintRecorded(benchmark::State& state) {
    const bool recording = state.range(0) != 0;
    Rig rig(129, 10, recording);
    KrTerrain& t = *rig.terrain;
    for (int32_t i = 0; i < t.info.numVertices; ++i)
        t.vertices[i].y =
            200.0f * std::sin(t.vertices[i].x * 0.01f) * std::cos(t.vertices[i].z * 0.013f);
    IDirect3DTexture9* texture = nullptr;
    t.device->CreateTexture(64, 64, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &texture, nullptr);
    t.textures.push_back(new KrTextureEntry(texture));
    t.AddSplatLayer(0);
    KrAutoPaintRule rules[2];
    rules[0].slopeMax = 20;
    rules[1].slopeMin = 20;
    rules[1].slopeMax = 90;
    int64_t click = 0;
    for (auto _ : state) {
        if (recording)
            rig.history.BeginStroke("자동 칠하기");
        t.AutoPaintLayer(0, rules[click++ % 2]);
        if (recording && !rig.history.EndStroke())
            state.SkipWithError("no step");
    }
    if (recording)
        state.counters["step_B"] = double(rig.history.StepBytes(0));
}

// Undo of a stroke with radii 500 and 250 on a 4097 × 4097 grid, after the frames that
// follow it have settled; redo (not timed) between undos.
void BM_UndoLargeStroke(benchmark::State& state) {
    Rig rig(4097, int(state.range(0)), true);
    KrTerrain& t = *rig.terrain;
    t.bigRadius = 500;
    t.smallRadius = 250;
    t.brushMode = 1;
    rig.history.BeginStroke("높이 브러시");
    t.editing = true;
    for (int f = 0; f < 4; ++f)
        t.Update();
    t.editing = false;
    rig.history.EndStroke();
    for (int f = 0; f < 30; ++f)
        t.Update();
    for (auto _ : state) {
        if (!rig.history.Undo())
            state.SkipWithError("nothing to undo");
        state.PauseTiming();
        rig.history.Redo();
        state.ResumeTiming();
    }
    state.counters["step_B"] = double(rig.history.StepBytes(0));
}

// What a new terrain's step counts for the 4097 × 4097 grid it keeps, and whether the
// default bound keeps it.
void BM_KeptGridBytes(benchmark::State& state) {
    Rig rig(4097, 10, true);
    const double vertices = double(rig.terrain->info.numVertices);
    for (auto _ : state) {
        auto fresh = std::make_unique<KrTerrain>();
        fresh->device = rig.terrain->device;
        fresh->Create(129, 129, 10);
        rig.history.ReplaceTerrain(std::move(fresh), "새 지형");
        state.PauseTiming();
        state.counters["kept_MiB"] = double(rig.history.StepBytes(0)) / double(1 << 20);
        state.counters["kept_B_per_vertex"] = double(rig.history.StepBytes(0)) / vertices;
        state.counters["steps_kept"] = double(rig.history.StepCount());
        state.ResumeTiming();
    }
}

BENCHMARK(BM_BrushStepRecorded)
    ->ComputeStatistics("min", Fastest)
    ->ArgsProduct({{25}, {20}, {0, 1}})
    ->Args({100, 50, 0})
    ->Args({100, 50, 1})
    ->ArgNames({"big", "small", "history"})
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_PaintStepRecorded)
    ->ComputeStatistics("min", Fastest)
    ->Args({150, 75, 0})
    ->Args({150, 75, 1})
    ->Args({100, 0, 0})
    ->Args({100, 0, 1})
    ->ArgNames({"radius", "small", "history"})
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_EditingFrameRecorded)
    ->ComputeStatistics("min", Fastest)
    ->ArgsProduct({{129, 1025}, {0, 1}})
    ->ArgNames({"side", "history"})
    ->Unit(benchmark::kMicrosecond);
// Brush at the map page's start-up radii and the constructor's; paint at the texture
// page's start-up radii.
BENCHMARK(BM_StrokeStepBytes)
    ->Args({0, 25, 20})
    ->Args({0, 100, 50})
    ->Args({1, 150, 75})
    ->ArgNames({"tool", "big", "small"})
    ->Iterations(3)
    ->Unit(benchmark::kMillisecond);
// Without and with the history side by side, so that both meet the same load on a shared
// machine (--benchmark_enable_random_interleaving mixes them further).
BENCHMARK(BM_SculptStepRecorded)
    ->ComputeStatistics("min", Fastest)
    ->Apply([](benchmark::internal::Benchmark* b) {
        for (int shape : {kBrushShapeSquare, kBrushShapeRound})
            for (int mode : {kBrushModeRaise, kBrushModeFlat, kBrushModeSmooth, kBrushModeSetHeight,
                             kBrushModeNoise})
                for (int recording : {0, 1})
                    b->Args({mode, shape, recording});
    })
    ->ArgNames({"mode", "shape", "history"})
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_AutoPaintRecorded)
    ->ComputeStatistics("min", Fastest)
    ->Arg(0)
    ->Arg(1)
    ->ArgName("history")
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_KeptGridBytes)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_UndoLargeStroke)
    ->Arg(10)
    ->Arg(1)
    ->ArgName("spacing")
    ->Iterations(5)
    ->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
