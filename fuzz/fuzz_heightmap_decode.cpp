// Any byte string read as a heightmap (the first byte picks PNG, RAW 16 or RAW 32) is either
// refused with a reason or gives a grid of the size the terrain takes, whose heights encode
// and decode again.
#include "KrTerrain.h"
#include "heightmap.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0)
        return 0;
    static const HeightmapFormat formats[] = {HeightmapFormat::Png, HeightmapFormat::Raw16,
                                              HeightmapFormat::Raw32};
    const HeightmapFormat format = formats[data[0] % 3];
    HeightmapImage image;
    std::string error;
    if (!DecodeHeightmap(format, data + 1, size - 1, 0, 0, &image, &error)) {
        if (error.empty())
            std::abort();
        return 0;
    }
    if (image.width < 2 || image.depth < 2 || image.width > kMaxTerrainSide ||
        image.depth > kMaxTerrainSide)
        std::abort();
    const std::vector<float> heights =
        HeightsOf(image, image.hasRange ? image.range : kDefaultHeightRange);
    if (heights.size() != static_cast<size_t>(image.width) * static_cast<size_t>(image.depth))
        std::abort();
    std::vector<uint8_t> png;
    HeightmapImage back;
    if (!EncodeHeightmap(HeightmapFormat::Png, image.width, image.depth, heights.data(),
                         HeightRangeOf(heights.data(), heights.size()), &png, nullptr, &error) ||
        !DecodeHeightmap(HeightmapFormat::Png, png.data(), png.size(), 0, 0, &back, &error) ||
        back.width != image.width || back.depth != image.depth)
        std::abort();
    return 0;
}
