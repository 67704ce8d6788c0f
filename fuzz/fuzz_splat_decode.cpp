// Any byte string given to the painting file's decoder is either refused with a reason or
// decoded into lists that encode back to the same bytes. The closing CRC is made to match
// first, so the inputs reach the structure behind it.
#include "splat_file.h"

#include <cstdlib>
#include <cstring>
#include <vector>
#include <zlib.h>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<uint8_t> bytes(data, data + size);
    if (size >= 4) {
        const auto crc = static_cast<uint32_t>(crc32_z(0, bytes.data(), size - 4));
        std::memcpy(bytes.data() + size - 4, &crc, 4);
    }
    SplatFileData decoded;
    std::string error;
    if (!DecodeSplatFile(bytes.data(), bytes.size(), &decoded, &error)) {
        if (error.empty())
            std::abort();
        return 0;
    }
    std::vector<uint8_t> again;
    SplatFileData back;
    if (!EncodeSplatFile(decoded, &again, &error) ||
        !DecodeSplatFile(again.data(), again.size(), &back, &error) ||
        back.texturePaths != decoded.texturePaths || back.layers.size() != decoded.layers.size())
        std::abort();
    for (size_t i = 0; i < back.layers.size(); ++i)
        if (back.layers[i].texels != decoded.layers[i].texels)
            std::abort();
    return 0;
}
