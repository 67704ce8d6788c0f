// The painting file (.vmsplat) saved beside a MapVertexData file: the texture list, the base
// texture and its mapping scale, and every splatting layer with its alpha map. Bytes in,
// bytes out; no device.
//
// Layout, all numbers little-endian:
//   8  magic "VMSPLAT" 0x1A
//   4  uint32 format version (1)
//   8  uint64 byte size of the .mvd it was saved with
//   4  uint32 CRC-32 of that .mvd's bytes
//   4  float  base mapping scale
//   4  int32  base texture (-1: none)
//   4  uint32 texture count T (at most kMaxSplatTextures)
//   4  uint32 layer count L (at most kMaxSplatLayers)
//   T  textures: uint32 byte length, then the UTF-8 path, relative to the file's folder
//      ('/' between names) or absolute where no relative path exists
//   L  layers: float mapping scale, int32 texture index (-1: none), uint8 bytes per texel
//      (1: one coverage byte standing for all four channels; 4: the A8R8G8B8 texel), uint32
//      compressed size, then the 1024 × 1024 texels, row 0 (the +z edge) first, as one zlib
//      stream
//   4  uint32 CRC-32 of every byte before it
#pragma once

#include <cstdint>
#include <string>
#include <vector>

constexpr uint32_t kSplatFileVersion = 1;
constexpr uint32_t kMaxSplatTextures = 4096;
constexpr uint32_t kMaxSplatLayers = 256; // a GiB of alpha maps
constexpr uint32_t kMaxSplatPathBytes = 4096;

struct SplatLayerData {
    float mappingScale = 1.0f;
    int32_t textureIndex = -1;
    std::vector<uint32_t> texels; // ALPHA_MAP_SIZE² A8R8G8B8 values, row by row
};

struct SplatFileData {
    uint64_t mvdBytes = 0;
    uint32_t mvdCrc = 0;
    float baseMappingScale = 1.0f;
    int32_t baseTexture = -1;
    std::vector<std::string> texturePaths; // as stored
    std::vector<SplatLayerData> layers;
};

bool EncodeSplatFile(const SplatFileData& data, std::vector<uint8_t>* out, std::string* error);
// Refuses anything that is not a whole, undamaged painting file of a version it knows,
// with a reason that says which.
bool DecodeSplatFile(const uint8_t* bytes, size_t size, SplatFileData* out, std::string* error);
// The most bytes a painting file can take, for reading one whole.
uint64_t MaxSplatFileBytes();

// NAME.vmsplat for NAME.mvd (any extension is replaced; none is added to), beside the file
// the path names once the links of its last part are followed.
std::string SplatPathFor(const std::string& mapVertexDataPath);
// A texture's path as stored in a painting file in folder, and back.
std::string StoredTexturePath(const std::string& texture, const std::string& folder);
std::string ResolveTexturePath(const std::string& stored, const std::string& folder);
