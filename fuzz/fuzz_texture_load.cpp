// Any byte string given to the texture loader either makes a texture or fails cleanly.
#include "d3dx9.h"
#include "fuzz_input_file.h"
#include "memory_device.h"
#include "paths.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (!WriteFuzzInput(data, size))
        return 0;
    static const std::wstring path = Utf8ToWide(FuzzInputPath());
    auto* device = new MemoryDevice();
    IDirect3DTexture9* texture = nullptr;
    if (SUCCEEDED(D3DXCreateTextureFromFileW(device, path.c_str(), &texture))) {
        if (!texture || texture->GetLevelCount() == 0)
            std::abort();
        texture->Release();
    } else if (texture) {
        std::abort();
    }
    device->Release();
    return 0;
}
