// The per-frame update, the tools and the file, on the memory device, each beside the
// floor: a plain copy of the same vertex array.
#include "KrRenderer.h"
#include "KrTerrain.h"
#include "memory_device.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace {

constexpr float kHalfPi = 1.5707963f;

FixedSizeWindow window(1280, 768);

KrRenderer* Renderer() {
    KrRenderer* r = KrRenderer::GetInstance();
    if (!r->device)
        r->Create(&window);
    return r;
}

enum Pose { StartPose, WholeTerrainPose };

struct Scene {
    explicit Scene(int side, Pose pose, float lod) {
        KrRenderer* r = Renderer();
        terrain.device = r->device;
        terrain.Create(side, side, 10);
        terrain.pickRay = &pick;
        terrain.lodThreshold = lod;
        r->camera.Reset();
        if (pose == WholeTerrainPose) {
            // High above the centre, looking straight down, with the whole grid in the
            // culling frustum.
            r->camera.SetPosition(D3DXVECTOR3(0, side * 10.0f * 0.75f + 400.0f, 0));
            r->camera.RotateX(kHalfPi, 0);
        }
        r->UpdateView();
        pick.ComputePickRay(r->device, &window, 640, 384);
        // A few frames first so the normals have settled as they would in use.
        for (int i = 0; i < 3; ++i)
            terrain.Update();
    }
    ~Scene() { terrain.device = nullptr; }
    KrTerrain terrain;
    KrPickRay pick;
};

void SetBytes(benchmark::State& state, const KrTerrain& t) {
    state.SetBytesProcessed(state.iterations() * int64_t(t.info.numVertices) * 32);
    state.counters["triangles"] = t.visibleTriangleCount;
}

void BM_CopyFloor(benchmark::State& state) {
    const size_t bytes = size_t(state.range(0)) * size_t(state.range(0)) * 32;
    std::vector<uint8_t> from(bytes, 1), to(bytes);
    for (auto _ : state) {
        std::memcpy(to.data(), from.data(), bytes);
        benchmark::DoNotOptimize(to.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * int64_t(bytes));
}

void BM_Update(benchmark::State& state) {
    Scene scene(int(state.range(0)), Pose(state.range(1)), float(state.range(2)));
    for (auto _ : state)
        scene.terrain.Update();
    SetBytes(state, scene.terrain);
}

void BM_UpdateWhileEditing(benchmark::State& state) {
    Scene scene(int(state.range(0)), StartPose, 5);
    scene.terrain.editing = true;
    scene.terrain.strength = 0.01f;
    for (auto _ : state)
        scene.terrain.Update();
    SetBytes(state, scene.terrain);
}

void BM_BrushStep(benchmark::State& state) {
    Scene scene(129, StartPose, 5);
    KrTerrain& t = scene.terrain;
    t.bigRadius = int(state.range(0));
    t.smallRadius = int(state.range(1));
    t.strength = 0.01f;
    t.pickHit = true;
    scene.pick.hitPoint = D3DXVECTOR3(5, 0, 5);
    for (auto _ : state)
        t.ApplyHeightBrush();
}

void BM_PaintStep(benchmark::State& state) {
    Scene scene(129, StartPose, 5);
    KrTerrain& t = scene.terrain;
    IDirect3DTexture9* texture = nullptr;
    t.device->CreateTexture(64, 64, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &texture, nullptr);
    t.textures.push_back(new KrTextureEntry{texture});
    t.AddSplatLayer(0);
    t.selectedLayer = 0;
    t.bigRadius = int(state.range(0));
    t.splatInnerRadius = float(state.range(1));
    t.pickHit = true;
    scene.pick.hitPoint = D3DXVECTOR3(5, 0, 5);
    for (auto _ : state) {
        // Alternate draw and erase so every step writes.
        t.paintMode ^= 1;
        t.PaintSplat(&scene.pick, 0);
    }
}

std::string FilePath() {
    return "/tmp/veldmark-bench-" + std::to_string(getpid()) + ".mvd";
}

void BM_Save(benchmark::State& state) {
    Scene scene(int(state.range(0)), StartPose, 5);
    const std::string path = FilePath();
    for (auto _ : state)
        if (!scene.terrain.SaveMapVertexData(path.c_str()))
            state.SkipWithError("save failed");
    std::remove(path.c_str());
    SetBytes(state, scene.terrain);
}

void BM_Load(benchmark::State& state) {
    Scene scene(int(state.range(0)), StartPose, 5);
    const std::string path = FilePath();
    scene.terrain.SaveMapVertexData(path.c_str());
    for (auto _ : state)
        if (!scene.terrain.LoadMapVertexData(path.c_str()))
            state.SkipWithError("load failed");
    std::remove(path.c_str());
    SetBytes(state, scene.terrain);
}

// 520 has no quadtree: the per-triangle path.
const std::vector<int64_t> kSides = {129, 257, 513, 1025, 520};

BENCHMARK(BM_CopyFloor)->ArgsProduct({kSides})->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Update)
    ->ArgsProduct({kSides, {StartPose, WholeTerrainPose}, {0, 5}})
    ->ArgNames({"side", "pose", "lod"})
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_UpdateWhileEditing)->ArgsProduct({kSides})->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_BrushStep)
    ->Args({100, 50})
    ->Args({500, 250})
    ->ArgNames({"big", "small"})
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_PaintStep)
    ->Args({100, 0})
    ->Args({500, 125})
    ->ArgNames({"radius", "inner"})
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Save)->Arg(1025)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Load)->Arg(1025)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
