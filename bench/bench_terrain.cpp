// The per-frame update, the tools and the file, on the memory device, each beside the
// floor: a plain copy of the same vertex array.
#include "KrAutoPaint.h"
#include "KrBrushShape.h"
#include "KrEditHistory.h"
#include "KrRenderer.h"
#include "KrTerrain.h"
#include "KrTerrainGrid.h"
#include "heap_meter.h"
#include "memory_device.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <malloc.h>
#include <memory>
#include <string>
#include <sys/mman.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr float kHalfPi = 1.5707963f;

FixedSizeWindow window(1280, 768);

// Large blocks always come fresh from the system, as they do in a new editor process: left
// to itself the allocator raises its threshold after a large free and then hands out memory
// already faulted in, which made a floor 8 times faster after some benchmarks than after
// others.
const int kFixedMmapThreshold = mallopt(M_MMAP_THRESHOLD, 1 << 20);

KrRenderer* Renderer() {
    KrRenderer* r = KrRenderer::GetInstance();
    if (!r->device)
        r->Create(&window);
    return r;
}

enum Pose { StartPose, WholeTerrainPose };

// The vertex buffer's uploads, read from the memory device's lock records.
struct UploadCounter {
    explicit UploadCounter(const KrTerrain& t)
        : buffer(static_cast<MemoryVertexBuffer*>(t.vertexBuffer)), locks(buffer->lockCount) {}
    // Call after each frame: adds what that frame uploaded.
    void Frame() {
        if (buffer->lockCount != locks) {
            bytes += buffer->lastLockSize;
            locks = buffer->lockCount;
        }
    }
    MemoryVertexBuffer* buffer;
    int locks;
    int64_t bytes = 0;
};

struct Scene {
    Scene(int side, Pose pose, float lod) : pose(pose) {
        KrRenderer* r = Renderer();
        terrain.device = r->device;
        terrain.Create(side, side, 10);
        terrain.pickRay = &pick;
        terrain.lodThreshold = lod;
        r->camera.Reset();
        if (pose == WholeTerrainPose) {
            // High above the centre, looking straight down, with the whole grid in the
            // culling frustum (BM_Update's triangle counts at lod 0 show all 2 (W - 1)^2).
            r->camera.SetPosition(D3DXVECTOR3(0, side * 10.0f * 0.75f + 400.0f, 0));
            r->camera.RotateX(kHalfPi, 0);
        }
        Aim();
        Settle();
    }
    ~Scene() { terrain.device = nullptr; }

    // The view and a pick ray through a point below the window's centre, which meets the
    // ground from both poses, as a pointer over the terrain would.
    void Aim() {
        KrRenderer* r = Renderer();
        r->UpdateView();
        pick.ComputePickRay(r->device, &window, 640, 600);
    }

    // Frames until the normals stop changing (as they do after a while with nothing
    // edited), or a time limit for the big lists at lod 0.
    void Settle() {
        UploadCounter uploads(terrain);
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(3);
        for (int i = 0; i < 400 && std::chrono::steady_clock::now() < until; ++i) {
            const int64_t before = uploads.bytes;
            terrain.Update();
            uploads.Frame();
            if (i > 2 && uploads.bytes == before)
                break;
        }
    }

    Pose pose;
    KrTerrain terrain;
    KrPickRay pick;
};

void Report(benchmark::State& state, const KrTerrain& t, const UploadCounter& uploads) {
    state.SetBytesProcessed(state.iterations() * int64_t(t.info.numVertices) * 32);
    state.counters["triangles"] = t.visibleTriangleCount;
    state.counters["hit"] = t.pickHit;
    state.counters["upload_B"] =
        benchmark::Counter(double(uploads.bytes), benchmark::Counter::kAvgIterations);
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

// Frames with nothing edited and the camera still.
void BM_Update(benchmark::State& state) {
    Scene scene(int(state.range(0)), Pose(state.range(1)), float(state.range(2)));
    UploadCounter uploads(scene.terrain);
    for (auto _ : state) {
        scene.terrain.Update();
        uploads.Frame();
    }
    Report(state, scene.terrain, uploads);
}

// Frames with the camera walking back and forth along its view, nothing edited: the list,
// the pick and the normals change every frame.
void BM_UpdateMoving(benchmark::State& state) {
    Scene scene(int(state.range(0)), Pose(state.range(1)), 5);
    KrCamera& camera = Renderer()->camera;
    UploadCounter uploads(scene.terrain);
    int64_t frame = 0;
    for (auto _ : state) {
        camera.Walk(frame++ % 200 < 100 ? 2.0f : -2.0f);
        scene.Aim();
        scene.terrain.Update();
        uploads.Frame();
    }
    Report(state, scene.terrain, uploads);
}

// Frames with the height brush held down at the pick point, raising and lowering in turn so
// that the surface stays where the pointer meets it.
void BM_UpdateWhileEditing(benchmark::State& state) {
    Scene scene(int(state.range(0)), Pose(state.range(1)), 5);
    KrTerrain& t = scene.terrain;
    t.editing = true;
    t.activeTool = 0;
    t.strength = 0.01f;
    UploadCounter uploads(t);
    int64_t frame = 0, hits = 0;
    for (auto _ : state) {
        t.brushMode = frame++ % 2 ? 2 : 1;
        t.Update();
        hits += t.pickHit;
        uploads.Frame();
    }
    if (hits == 0)
        state.SkipWithError("no hit: the ground is beyond the pick's reach of one world depth");
    else if (uploads.bytes == 0)
        state.SkipWithError("the brush edited nothing");
    Report(state, t, uploads);
}

float HeightSum(const KrTerrain& t) {
    float sum = 0;
    for (int32_t i = 0; i < t.info.numVertices; ++i)
        sum += std::fabs(t.vertices[i].y);
    return sum;
}

// One height brush step at a picked point, raising and lowering in turn.
void BM_BrushStep(benchmark::State& state) {
    Scene scene(129, StartPose, 5);
    KrTerrain& t = scene.terrain;
    t.bigRadius = int(state.range(0));
    t.smallRadius = int(state.range(1));
    t.strength = 0.01f;
    t.pickHit = true;
    scene.pick.hitPoint = D3DXVECTOR3(5, 0, 5);
    int64_t step = 0;
    float written = 0;
    for (auto _ : state) {
        t.brushMode = step++ % 2 ? 2 : 1;
        t.ApplyHeightBrush();
        if (step == 1) {
            state.PauseTiming();
            written = HeightSum(t);
            state.ResumeTiming();
        }
    }
    if (!(written > 0))
        state.SkipWithError("the brush wrote nothing");
}

// One paint step into a layer's alpha map, drawing and erasing in turn so each step writes.
void BM_PaintStep(benchmark::State& state) {
    Scene scene(129, StartPose, 5);
    KrTerrain& t = scene.terrain;
    IDirect3DTexture9* texture = nullptr;
    t.device->CreateTexture(64, 64, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &texture, nullptr);
    t.textures.push_back(new KrTextureEntry{texture, {}});
    t.AddSplatLayer(0);
    t.selectedLayer = 0;
    t.bigRadius = int(state.range(0));
    t.splatInnerRadius = float(state.range(1)) * 0.5f;
    t.pickHit = true;
    scene.pick.hitPoint = D3DXVECTOR3(5, 0, 5);
    auto* map = static_cast<MemoryTexture*>(t.alphaMaps[0]->texture);
    t.paintMode = 1;
    t.PaintSplat(&scene.pick, 0);
    if (map->Texel(0, UINT(t.splatCentreX), UINT(t.splatCentreY)) == 0)
        state.SkipWithError("painting wrote nothing");
    for (auto _ : state) {
        t.paintMode ^= 1;
        t.PaintSplat(&scene.pick, 0);
    }
}

// The largest grid the editor makes, 4097 × 4097 with spacing 1, made once for every
// benchmark that needs it (half a gigabyte of vertices), with some relief so that each mode
// has work to do.
KrTerrain& LargestTerrain() {
    static KrTerrain* terrain = [] {
        auto* t = new KrTerrain();
        t->device = Renderer()->device;
        if (!t->Create(4097, 4097, 1))
            return t;
        for (int32_t i = 0; i < t->info.numVertices; ++i) {
            KrTerrainVertex& v = t->vertices[i];
            v.y = 40.0f * std::sin(v.x * 0.013f) * std::cos(v.z * 0.011f) +
                  3.0f * std::sin(v.x * 0.7f + v.z * 0.3f);
        }
        t->MarkVerticesChanged(0, t->info.numVertices - 1);
        return t;
    }();
    return *terrain;
}

// One sculpting step at the largest radii (500 and 250) on the largest grid: every mode
// in both shapes. Raise and lower take turns, as do two noise seeds with opposite strokes,
// so the heights stay put.
void BM_SculptStep(benchmark::State& state) {
    KrTerrain& t = LargestTerrain();
    if (!t.vertices) {
        state.SkipWithError("the 4097 x 4097 terrain could not be made");
        return;
    }
    KrPickRay pick{};
    pick.hitPoint = D3DXVECTOR3(3.5f, 0, -2.5f);
    t.pickRay = &pick;
    t.pickHit = true;
    t.bigRadius = 500;
    t.smallRadius = 250;
    t.strength = 0.1f;
    t.brushShape = int32_t(state.range(1));
    const int32_t mode = int32_t(state.range(0));
    t.BeginStroke();
    int64_t step = 0;
    for (auto _ : state) {
        if (mode == kBrushModeRaise || mode == kBrushModeLower)
            t.brushMode = step % 2 ? kBrushModeLower : kBrushModeRaise;
        else
            t.brushMode = mode;
        t.strength = mode == kBrushModeNoise && step % 2 ? -0.1f : 0.1f;
        ++step;
        t.ApplyHeightBrush();
    }
    t.strength = 0.1f;
    state.SetItemsProcessed(state.iterations() * 1001 * 1001);
}

// The floor under every figure of BM_SculptStep: one pass adding a constant to the heights
// of the same 1001 × 1001 vertices, the least any step at that radius has to read and
// write (the round brush touches about π/4 of them).
void BM_SculptFloor(benchmark::State& state) {
    KrTerrain& t = LargestTerrain();
    if (!t.vertices) {
        state.SkipWithError("the 4097 x 4097 terrain could not be made");
        return;
    }
    int32_t column, row;
    t.WorldToCell(3.5f - 500.0f, -2.5f + 500.0f, &column, &row);
    float step = 0.01f;
    for (auto _ : state) {
        for (int32_t r = row; r <= row + 1000; ++r) {
            KrTerrainVertex* line = t.vertices + static_cast<size_t>(r) * t.info.vertsPerRow;
            for (int32_t c = column; c <= column + 1000; ++c)
                line[c].y += step;
        }
        step = -step;
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * 1001 * 1001);
}

// A noise step where no noise has been made yet: a new seed every step, so each one works
// out all of its noise, as the first step at a new place does.
void BM_SculptNoiseFirstStep(benchmark::State& state) {
    KrTerrain& t = LargestTerrain();
    if (!t.vertices) {
        state.SkipWithError("the 4097 x 4097 terrain could not be made");
        return;
    }
    KrPickRay pick{};
    pick.hitPoint = D3DXVECTOR3(3.5f, 0, -2.5f);
    t.pickRay = &pick;
    t.pickHit = true;
    t.bigRadius = 500;
    t.smallRadius = 250;
    t.brushShape = int32_t(state.range(0));
    t.brushMode = kBrushModeNoise;
    int64_t step = 0;
    for (auto _ : state) {
        t.noiseSeed = uint32_t(100 + step);
        t.strength = step++ % 2 ? -0.1f : 0.1f;
        t.ApplyHeightBrush();
    }
    t.strength = 0.1f;
    t.noiseSeed = 1;
}

// Auto painting a layer's whole alpha map on grids of several sizes.
void BM_AutoPaint(benchmark::State& state) {
    const int side = int(state.range(0));
    std::unique_ptr<Scene> scene;
    KrTerrain* t = nullptr;
    if (side == 4097) {
        t = &LargestTerrain();
    } else {
        scene = std::make_unique<Scene>(side, StartPose, 5);
        t = &scene->terrain;
        for (int32_t i = 0; i < t->info.numVertices; ++i)
            t->vertices[i].y =
                200.0f * std::sin(t->vertices[i].x * 0.01f) * std::cos(t->vertices[i].z * 0.013f);
    }
    if (t->alphaMaps.empty()) {
        IDirect3DTexture9* texture = nullptr;
        t->device->CreateTexture(64, 64, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &texture, nullptr);
        t->textures.push_back(new KrTextureEntry{texture});
        t->AddSplatLayer(0);
    }
    KrAutoPaintRule rule;
    rule.slopeMin = 0;
    rule.slopeMax = 20;
    rule.slopeSoftness = 10;
    rule.heightMin = -50;
    rule.heightMax = 120;
    rule.heightSoftness = 30;
    for (auto _ : state)
        if (!t->AutoPaintLayer(0, rule))
            state.SkipWithError("auto paint failed");
    state.SetItemsProcessed(state.iterations() * ALPHA_MAP_SIZE * ALPHA_MAP_SIZE);
}

std::string FilePath() {
    return "/tmp/veldmark-bench-" + std::to_string(getpid()) + ".mvd";
}

void BM_Save(benchmark::State& state) {
    Scene scene(int(state.range(0)), StartPose, 5);
    const std::string path = FilePath();
    UploadCounter uploads(scene.terrain);
    for (auto _ : state)
        if (!scene.terrain.SaveMapVertexData(path.c_str()))
            state.SkipWithError("save failed");
    std::remove(path.c_str());
    Report(state, scene.terrain, uploads);
}

// 520 has no quadtree: the per-triangle path.
const std::vector<int64_t> kSides = {129, 257, 513, 1025, 520};

BENCHMARK(BM_CopyFloor)->ArgsProduct({kSides})->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Update)
    ->ArgsProduct({kSides, {StartPose, WholeTerrainPose}, {0, 5}})
    ->ArgNames({"side", "pose", "lod"})
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_UpdateMoving)
    ->ArgsProduct({kSides, {StartPose, WholeTerrainPose}})
    ->ArgNames({"side", "pose"})
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_UpdateWhileEditing)
    ->ArgsProduct({kSides, {StartPose, WholeTerrainPose}})
    ->ArgNames({"side", "pose"})
    ->Unit(benchmark::kMicrosecond);
// The constructor's radii, the map page's start-up radii, and the largest.
BENCHMARK(BM_BrushStep)
    ->Args({100, 50})
    ->Args({25, 20})
    ->Args({500, 250})
    ->ArgNames({"big", "small"})
    ->Unit(benchmark::kMicrosecond);
// The constructor's radius, the texture page's start-up radii (smoothness 150, strength 75)
// and the largest; the inner radius is half the second argument.
BENCHMARK(BM_PaintStep)
    ->Args({100, 0})
    ->Args({150, 75})
    ->Args({500, 250})
    ->ArgNames({"radius", "small"})
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_SculptFloor)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_SculptStep)
    ->ArgsProduct({{kBrushModeRaise, kBrushModeFlat, kBrushModeSmooth, kBrushModeSetHeight,
                    kBrushModeNoise},
                   {kBrushShapeSquare, kBrushShapeRound}})
    ->ArgNames({"mode", "shape"})
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_SculptNoiseFirstStep)
    ->Arg(kBrushShapeSquare)
    ->Arg(kBrushShapeRound)
    ->ArgName("shape")
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_AutoPaint)->Arg(129)->Arg(1025)->Arg(4097)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Save)->Arg(1025)->Unit(benchmark::kMillisecond);

// Creating and loading big grids. The floors: a new vertex array written once, and the
// file read once into new memory.
const std::vector<int64_t> kBigSides = {1025, 2049, 4097};

// Fresh pages from the system, as a new grid's arrays are at first: recycled heap memory
// would make the floor depend on what earlier benchmarks left behind.
struct FreshPages {
    explicit FreshPages(size_t bytes)
        : bytes(bytes),
          data(mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0)) {}
    ~FreshPages() { munmap(data, bytes); }
    size_t bytes;
    void* data;
};

void BM_CreateFloor(benchmark::State& state) {
    const size_t n = size_t(state.range(0)) * size_t(state.range(0));
    for (auto _ : state) {
        auto* pages = new FreshPages(n * sizeof(KrTerrainVertex));
        auto* array = static_cast<KrTerrainVertex*>(pages->data);
        for (size_t i = 0; i < n; ++i)
            array[i] = KrTerrainVertex{float(i), 0, 1, 0, 1, 0, 0.5f, 0.5f};
        benchmark::DoNotOptimize(array);
        benchmark::ClobberMemory();
        state.PauseTiming();
        delete pages;
        state.ResumeTiming();
    }
    state.SetBytesProcessed(state.iterations() * int64_t(n) * 32);
}

// A new terrain object each time, as the new terrain dialog makes; the old one goes outside
// the timing.
void BM_Create(benchmark::State& state) {
    const int side = int(state.range(0));
    for (auto _ : state) {
        state.PauseTiming();
        auto terrain = std::make_unique<KrTerrain>();
        terrain->device = Renderer()->device;
        state.ResumeTiming();
        if (!terrain->Create(side, side, 10))
            state.SkipWithError("create failed");
        state.PauseTiming();
        terrain.reset();
        state.ResumeTiming();
    }
    state.SetBytesProcessed(state.iterations() * int64_t(side) * side * 32);
}

// A saved, settled terrain of this side in a file; removed at exit.
struct SavedTerrain {
    // offGrid moves every vertex a little along x and z, as a file from elsewhere may.
    explicit SavedTerrain(int side, bool offGrid = false)
        : path(FilePath() + "-" + std::to_string(side)) {
        Scene scene(side, StartPose, 5);
        for (int32_t i = 0; offGrid && i < scene.terrain.info.numVertices; ++i) {
            scene.terrain.vertices[i].x += float(i * 7919 % 13 - 6) * 0.4f;
            scene.terrain.vertices[i].z += float(i * 104729 % 11 - 5) * 0.4f;
        }
        saved = scene.terrain.SaveMapVertexData(path.c_str());
    }
    ~SavedTerrain() { std::remove(path.c_str()); }
    std::string path;
    bool saved = false;
};

void BM_LoadFloor(benchmark::State& state) {
    const SavedTerrain file(int(state.range(0)));
    size_t bytes = 0;
    for (auto _ : state) {
        FILE* f = std::fopen(file.path.c_str(), "rb");
        std::fseek(f, 0, SEEK_END);
        bytes = size_t(std::ftell(f));
        std::rewind(f);
        auto* pages = new FreshPages(bytes);
        if (std::fread(pages->data, 1, bytes, f) != bytes)
            state.SkipWithError("read failed");
        std::fclose(f);
        benchmark::DoNotOptimize(pages->data);
        state.PauseTiming();
        delete pages;
        state.ResumeTiming();
    }
    state.SetBytesProcessed(state.iterations() * int64_t(bytes));
}

// Loading over a terrain of the same size, as reopening a file does.
void BM_Load(benchmark::State& state) {
    const SavedTerrain file(int(state.range(0)));
    Scene scene(int(state.range(0)), StartPose, 5);
    for (auto _ : state)
        if (!file.saved || !scene.terrain.LoadMapVertexData(file.path.c_str()))
            state.SkipWithError("load failed");
    state.SetBytesProcessed(state.iterations() * int64_t(scene.terrain.info.numVertices) * 32);
}

// The same for a file whose vertices lie off the grid, whose links the search decides.
void BM_LoadOffGrid(benchmark::State& state) {
    const SavedTerrain file(int(state.range(0)), true);
    Scene scene(int(state.range(0)), StartPose, 5);
    for (auto _ : state)
        if (!file.saved || !scene.terrain.LoadMapVertexData(file.path.c_str()))
            state.SkipWithError("load failed");
    state.SetBytesProcessed(state.iterations() * int64_t(scene.terrain.info.numVertices) * 32);
}

// What the terrain holds on the memory device once created and settled (heap bytes, and the
// process's resident growth), and the peaks while a file of the same size loads over it.
void BM_Memory(benchmark::State& state) {
    const int side = int(state.range(0));
    const double n = double(side) * side;
    for (auto _ : state) {
        malloc_trim(0);
        const int64_t heap0 = heap_meter::Live(), resident0 = heap_meter::Resident();
        Scene scene(side, StartPose, 5);
        const int64_t held = heap_meter::Live() - heap0;
        const int64_t resident = heap_meter::Resident() - resident0;
        const std::string path = FilePath();
        scene.terrain.SaveMapVertexData(path.c_str());
        heap_meter::ResetPeak();
        heap_meter::ResetResidentPeak();
        if (!scene.terrain.LoadMapVertexData(path.c_str()))
            state.SkipWithError("load failed");
        const int64_t peak = heap_meter::Peak() - heap0;
        const int64_t residentPeak = heap_meter::ResidentPeak() - resident0;
        std::remove(path.c_str());
        state.counters["held_B_per_vertex"] = double(held) / n;
        state.counters["resident_B_per_vertex"] = double(resident) / n;
        state.counters["load_peak_x"] = double(peak) / double(held);
        state.counters["load_resident_peak_x"] = double(residentPeak) / double(resident);
        state.counters["load_peak_MiB"] = double(peak) / (1 << 20);
    }
}

// A load as the editor makes it with its history attached: the file prepared, then (kind 0,
// as it was) installed in a terrain of its own whose grid is swapped in as one step, or (kind
// 1, as the editor loads now) installed in the terrain itself as one step, into the buffers
// there. Both steps keep the old grid. The peak over the terrain held before (heap and
// resident), and what terrain and step hold after, per vertex.
void BM_MemoryHistoryLoad(benchmark::State& state) {
    const int side = int(state.range(0));
    const bool inPlace = state.range(1) == 1;
    const double n = double(side) * side;
    for (auto _ : state) {
        malloc_trim(0);
        const int64_t heap0 = heap_meter::Live(), resident0 = heap_meter::Resident();
        Scene scene(side, StartPose, 5);
        KrTerrain* slot = &scene.terrain;
        KrEditHistory history;
        history.Attach(&slot);
        const int64_t held = heap_meter::Live() - heap0;
        const int64_t resident = heap_meter::Resident() - resident0;
        const std::string path = FilePath();
        scene.terrain.SaveMapVertexData(path.c_str());
        heap_meter::ResetPeak();
        heap_meter::ResetResidentPeak();
        KrTerrainGrid grid;
        if (!PrepareMapVertexData(path.c_str(), &grid))
            state.SkipWithError("load failed");
        if (inPlace) {
            if (!history.InstallGrid(KrStepKind::LoadGrid, grid, nullptr, "load"))
                state.SkipWithError("install failed");
        } else {
            auto loaded = std::make_unique<KrTerrain>();
            loaded->device = scene.terrain.device;
            if (!loaded->InstallGrid(grid))
                state.SkipWithError("install failed");
            history.ReplaceGrid(std::move(loaded), "load");
        }
        const int64_t peak = heap_meter::Peak() - heap0;
        const int64_t residentPeak = heap_meter::ResidentPeak() - resident0;
        std::remove(path.c_str());
        state.counters["held_B_per_vertex"] = double(held) / n;
        state.counters["after_B_per_vertex"] = double(heap_meter::Live() - heap0) / n;
        state.counters["load_peak_x"] = double(peak) / double(held);
        state.counters["load_resident_peak_x"] = double(residentPeak) / double(resident);
        state.counters["load_peak_MiB"] = double(peak) / (1 << 20);
        history.Detach();
    }
}

// Putting a prepared grid in place on the interface thread: into a terrain of the same size,
// whose buffers take it (same 1), or into a terrain of its own with new buffers (same 0).
void BM_InstallGrid(benchmark::State& state) {
    const int side = int(state.range(0));
    const bool same = state.range(1) == 1;
    Scene scene(same ? side : 9, StartPose, 5);
    for (auto _ : state) {
        state.PauseTiming();
        KrTerrainGrid grid;
        if (!PrepareGrid(side, side, 10, &grid))
            state.SkipWithError("prepare failed");
        auto fresh = std::make_unique<KrTerrain>();
        fresh->device = scene.terrain.device;
        KrTerrain& target = same ? scene.terrain : *fresh;
        state.ResumeTiming();
        if (!target.InstallGrid(grid))
            state.SkipWithError("install failed");
        state.PauseTiming();
        grid = KrTerrainGrid{};
        fresh.reset();
        state.ResumeTiming();
    }
    state.SetBytesProcessed(state.iterations() * int64_t(side) * side * 32);
}

// What giving a save's worker a copy of the master array would cost, instead of leaving the
// array alone while it writes: a new array written once from the terrain's.
void BM_CopyForSave(benchmark::State& state) {
    const int side = int(state.range(0));
    Scene scene(side, StartPose, 5);
    const size_t n = size_t(scene.terrain.info.numVertices);
    for (auto _ : state) {
        std::unique_ptr<KrTerrainVertex[]> copy(new KrTerrainVertex[n]);
        std::memcpy(copy.get(), scene.terrain.vertices, n * sizeof(KrTerrainVertex));
        benchmark::DoNotOptimize(copy.get());
        benchmark::ClobberMemory();
        state.PauseTiming();
        copy.reset();
        state.ResumeTiming();
    }
    state.SetBytesProcessed(state.iterations() * int64_t(n) * 32);
}

double Milliseconds(const std::chrono::steady_clock::time_point& since) {
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - since)
        .count();
}

// The first frame after a create (kind 0) or a load of a settled file (kind 1), against a
// settled frame of the same grid and pose. The time reported is the difference.
void BM_FirstFrame(benchmark::State& state) {
    const int side = int(state.range(0));
    const bool load = state.range(1) == 1;
    Scene scene(side, StartPose, 5);
    const std::string path = FilePath();
    if (load)
        scene.terrain.SaveMapVertexData(path.c_str());
    double settled = 1e30;
    for (int i = 0; i < 5; ++i) {
        const auto start = std::chrono::steady_clock::now();
        scene.terrain.Update();
        settled = std::min(settled, Milliseconds(start));
    }
    for (auto _ : state) {
        const bool made = load ? scene.terrain.LoadMapVertexData(path.c_str())
                               : scene.terrain.Create(side, side, 10);
        if (!made)
            state.SkipWithError("create or load failed");
        const auto start = std::chrono::steady_clock::now();
        scene.terrain.Update();
        const double first = Milliseconds(start);
        state.SetIterationTime((first - settled) * 1e-3);
        state.counters["first_ms"] = first;
        state.counters["settled_ms"] = settled;
    }
    std::remove(path.c_str());
}

BENCHMARK(BM_CreateFloor)->ArgsProduct({kBigSides})->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Create)->ArgsProduct({kBigSides})->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LoadFloor)->ArgsProduct({kBigSides})->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Load)->ArgsProduct({kBigSides})->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LoadOffGrid)->Arg(1025)->Arg(4097)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Memory)->ArgsProduct({{129, 1025, 2049, 4097}})->Iterations(1);
BENCHMARK(BM_MemoryHistoryLoad)
    ->ArgsProduct({{1025, 4097}, {0, 1}})
    ->ArgNames({"side", "in_place"})
    ->Iterations(1);
BENCHMARK(BM_InstallGrid)
    ->ArgsProduct({kBigSides, {0, 1}})
    ->ArgNames({"side", "same"})
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CopyForSave)->Arg(1025)->Arg(4097)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FirstFrame)
    ->ArgsProduct({kBigSides, {0, 1}})
    ->ArgNames({"side", "load"})
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
