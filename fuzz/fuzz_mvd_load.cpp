// Any byte string given to the file load either loads a consistent grid or leaves the
// terrain exactly as it was.
#include "KrTerrain.h"
#include "fuzz_input_file.h"
#include "memory_device.h"

#include <cstdlib>
#include <cstring>

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
        } else if (error.empty() || std::memcmp(&before, &terrain.info, sizeof before) != 0) {
            std::abort();
        }
        terrain.device = nullptr;
    }
    device->Release();
    return 0;
}
