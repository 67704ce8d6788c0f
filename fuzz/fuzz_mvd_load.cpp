// Any byte string given to the file load either loads a consistent grid or leaves the
// terrain exactly as it was. A loaded grid then runs a frame over its vertex data, which
// the file sets freely (positions included): quadtree culling and level of detail, picking,
// the brush and the normals.
#include "KrCamera.h"
#include "KrTerrain.h"
#include "fuzz_input_file.h"
#include "memory_device.h"

#include <cstdlib>
#include <cstring>

namespace {

// One frame from above the grid's middle, looking down at it, with the brush held.
void RunFrame(KrTerrain& terrain) {
    KrCamera camera;
    camera.SetPosition(D3DXVECTOR3(0, 400, 0));
    camera.RotateX(1.2f, 0);
    D3DXMATRIX view, projection;
    camera.GetViewMatrix(&view);
    view._43 += 200.0f;
    D3DXMatrixPerspectiveFovLH(&projection, 1.5f, 1280.0f / 768.0f, 10.0f, 100000.0f);
    KrPickRay ray;
    ray.origin = D3DXVECTOR3(3, 300, 2);
    ray.direction = D3DXVECTOR3(0.1f, -1, 0.2f);
    terrain.pickRay = &ray;
    terrain.lodThreshold = 5;
    terrain.editing = true;
    terrain.brushMode = 1;
    for (int frame = 0; frame < 2; ++frame) {
        if (!terrain.UpdateTerrain(view, projection))
            std::abort();
        if (terrain.visibleTriangleCount < 0 ||
            terrain.visibleTriangleCount > terrain.info.numTriangles)
            std::abort();
    }
    terrain.pickRay = nullptr;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (!WriteFuzzInput(data, size))
        return 0;
    auto* device = new MemoryDevice();
    {
        KrTerrain terrain;
        terrain.device = device;
        if (!terrain.Create(5, 5, 10))
            std::abort();
        const KrTerrainInfo before = terrain.info;
        std::string error;
        if (terrain.LoadMapVertexData(FuzzInputPath().c_str(), &error)) {
            const size_t expected = 20 + 32 * static_cast<size_t>(terrain.info.numVertices);
            if (expected != size || std::memcmp(terrain.vertices, data + 20, size - 20) != 0)
                std::abort();
            RunFrame(terrain);
        } else if (error.empty() || std::memcmp(&before, &terrain.info, sizeof before) != 0) {
            std::abort();
        }
        terrain.device = nullptr;
    }
    device->Release();
    return 0;
}
