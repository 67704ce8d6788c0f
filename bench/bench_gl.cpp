// One editor frame on the OpenGL device: the per-frame update, the terrain's passes, the
// brush outline and the present, finished on the GPU (Mesa's llvmpipe where there is none).
#include "KrRenderer.h"
#include "KrTerrain.h"
#include "KrTerrainGrid.h"
#include "gl_device.h"
#include "gl_egl_surface.h"

#include <benchmark/benchmark.h>
#include <epoxy/gl.h>

#include <algorithm>
#include <memory>
#include <string>

#include <sys/resource.h>

namespace {

constexpr D3DCOLOR kSky = 0xFF0000FFu;

double ProcessCpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const auto seconds = [](const timeval& t) { return double(t.tv_sec) + t.tv_usec * 1e-6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

const wchar_t* const kLayerImages[] = {
    VELDMARK_SOURCE_DIR L"/tests/data/images/grass.jpg",
    VELDMARK_SOURCE_DIR L"/tests/data/images/rock-progressive.jpg",
    VELDMARK_SOURCE_DIR L"/tests/data/images/sand-37x23.bmp",
    VELDMARK_SOURCE_DIR L"/tests/data/images/palette.png",
};

// The editor's 3D view at its first size.
std::unique_ptr<EglSurfacelessWindow> gWindow;
std::string gWindowError;

KrRenderer* Renderer() {
    KrRenderer* r = KrRenderer::GetInstance();
    if (!gWindow) {
        gWindow = EglSurfacelessWindow::Create(1024, 768, &gWindowError);
        if (!gWindow)
            return nullptr;
        RegisterGlDevice();
        if (FAILED(r->Create(gWindow.get())) || !dynamic_cast<GlDevice*>(r->device)) {
            gWindowError = std::string("no GL device: ") + GlDeviceLastError();
            gWindow.reset();
            return nullptr;
        }
    }
    return r;
}

// Frames of the editor's start pose over a side × side grid with `layers` splatting layers,
// each painted over a disc under the view so that its pass covers pixels, in the fill mode
// `fill` (3 solid, 2 wireframe).
void BM_GlFrame(benchmark::State& state) {
    KrRenderer* r = Renderer();
    if (!r) {
        state.SkipWithError(("no EGL window: " + gWindowError).c_str());
        return;
    }
    const int side = static_cast<int>(state.range(0));
    const int layers = static_cast<int>(state.range(1));
    const int fill = static_cast<int>(state.range(2));
    IDirect3DDevice9* device = r->device;
    r->camera.Reset();
    r->UpdateView();

    KrTerrain terrain;
    terrain.device = device;
    if (!terrain.Create(side, side, 10)) {
        state.SkipWithError("terrain not made");
        return;
    }
    KrPickRay pick;
    pick.ComputePickRay(device, gWindow.get(), 512, 600);
    terrain.pickRay = &pick;
    terrain.lodThreshold = 5;
    terrain.Update(); // picks the point that the layers are painted around

    for (int i = 0; i < layers; ++i) {
        std::string error;
        if (!terrain.AddTexture(kLayerImages[i], &error) || !terrain.AddSplatLayer(i)) {
            state.SkipWithError(("layer not made: " + error).c_str());
            return;
        }
        terrain.selectedLayer = i;
        terrain.bigRadius = 150 + 50 * i;
        terrain.PaintSplat(&pick, 0);
    }
    if (layers > 0)
        terrain.baseTexture = 0;
    terrain.fillMode = fill;

    auto* gl = dynamic_cast<GlDevice*>(device);
    const uint64_t uploadedBefore = gl->Stats().indexBytesUploaded;
    const uint64_t callsBefore = gl->Stats().stateCalls;

    const double cpuBefore = ProcessCpuSeconds();
    for (auto _ : state) {
        terrain.Update();
        device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, kSky, 1.0f, 0);
        device->BeginScene();
        terrain.Render();
        r->ApplyMaterial();
        device->EndScene();
        device->Present(nullptr, nullptr, nullptr, nullptr);
        glFinish();
    }
    const double frames = double(std::max<int64_t>(state.iterations(), 1));
    // All threads, llvmpipe's included: the work a frame costs, whatever else runs here.
    state.counters["cpu_ms"] = (ProcessCpuSeconds() - cpuBefore) * 1000 / frames;
    state.counters["triangles"] = terrain.visibleTriangleCount;
    // The GL device's buffers (system copies and GL storage) per terrain vertex.
    state.counters["state_calls"] = double(gl->Stats().stateCalls - callsBefore) / frames;
    state.counters["buffer_B/vertex"] =
        double(gl->Stats().bufferBytesHeld) / double(terrain.info.numVertices);
    // What a frame sent of the index buffer, against what its draws read.
    state.counters["index_B"] = double(gl->Stats().indexBytesUploaded - uploadedBefore) / frames;
    state.counters["drawn_B"] = double(terrain.visibleTriangleCount) * 12;
    state.counters["fps"] =
        benchmark::Counter(double(state.iterations()), benchmark::Counter::kIsRate);
}

// Putting a prepared grid in place on the interface thread (filling the vertex buffer) on the
// GL device, wall time with the GL work finished: into the buffers of a terrain of the same
// size (same 1) or into new ones (same 0). Also what a terrain holds per vertex there: its
// own heap bytes (master array, work arrays, quadtree) beside the device's buffers.
void BM_GlInstallGrid(benchmark::State& state) {
    KrRenderer* r = Renderer();
    if (!r) {
        state.SkipWithError(("no EGL window: " + gWindowError).c_str());
        return;
    }
    const int side = static_cast<int>(state.range(0));
    const bool same = state.range(1) == 1;
    auto* gl = dynamic_cast<GlDevice*>(r->device);
    r->camera.Reset();
    r->UpdateView();
    KrTerrain terrain;
    terrain.device = r->device;
    terrain.lodThreshold = 5; // the map page's start-up level of detail
    if (!terrain.Create(same ? side : 9, same ? side : 9, 10)) {
        state.SkipWithError("terrain not made");
        return;
    }
    for (auto _ : state) {
        state.PauseTiming();
        KrTerrainGrid grid;
        if (!PrepareGrid(side, side, 10, &grid))
            state.SkipWithError("prepare failed");
        auto fresh = std::make_unique<KrTerrain>();
        fresh->device = r->device;
        KrTerrain& target = same ? terrain : *fresh;
        glFinish();
        state.ResumeTiming();
        if (!target.InstallGrid(grid))
            state.SkipWithError("install failed");
        glFinish();
        state.PauseTiming();
        grid = KrTerrainGrid{};
        fresh.reset();
        glFinish();
        state.ResumeTiming();
    }
    state.SetBytesProcessed(state.iterations() * int64_t(side) * side * 32);
    if (!same)
        return;
    // A few frames from the start pose, so the index storage holds what they drew.
    for (int i = 0; i < 3; ++i) {
        terrain.Update();
        terrain.Render();
    }
    glFinish();
    const double n = double(terrain.info.numVertices);
    state.counters["buffer_B/vertex"] = double(gl->Stats().bufferBytesHeld) / n;
    state.counters["terrain_B/vertex"] = double(terrain.HeldBytes()) / n;
    state.counters["total_B/vertex"] =
        (double(gl->Stats().bufferBytesHeld) + double(terrain.HeldBytes())) / n;
}

BENCHMARK(BM_GlInstallGrid)
    ->ArgsProduct({{129, 1025, 2049, 4097}, {0, 1}})
    ->ArgNames({"side", "same"})
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3)
    ->UseRealTime();

BENCHMARK(BM_GlFrame)
    ->ArgsProduct({{129, 257, 513}, {0, 4}, {3, 2}})
    ->ArgNames({"side", "layers", "fill"})
    ->Unit(benchmark::kMillisecond)
    ->MinTime(1.0)
    ->UseRealTime();

} // namespace

BENCHMARK_MAIN();
