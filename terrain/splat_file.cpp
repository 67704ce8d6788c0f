#include "splat_file.h"

#include "KrTerrain.h"
#include "safe_file.h"

#include <bit>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <new>
#include <zlib.h>

static_assert(std::endian::native == std::endian::little,
              "numbers are copied to and from the file as they are in memory");

namespace {

namespace fs = std::filesystem;

constexpr uint8_t kMagic[8] = {'V', 'M', 'S', 'P', 'L', 'A', 'T', 0x1A};
constexpr size_t kTexels = static_cast<size_t>(ALPHA_MAP_SIZE) * ALPHA_MAP_SIZE;
// Magic to layer count, and the closing CRC.
constexpr size_t kHeaderBytes = 8 + 4 + 8 + 4 + 4 + 4 + 4 + 4;
constexpr size_t kLayerHeaderBytes = 4 + 4 + 1 + 4;

const char* const kDamaged = "파일이 잘렸거나 손상되었습니다.";

bool Fail(std::string* error, std::string reason) {
    if (error)
        *error = std::move(reason);
    return false;
}

class Writer {
public:
    explicit Writer(std::vector<uint8_t>& out) : out_(out) {}
    template <class T> void Put(T value) { Bytes(&value, sizeof value); }
    void Bytes(const void* data, size_t size) {
        const auto* p = static_cast<const uint8_t*>(data);
        out_.insert(out_.end(), p, p + size);
    }

private:
    std::vector<uint8_t>& out_;
};

class Reader {
public:
    Reader(const uint8_t* data, size_t size) : data_(data), size_(size) {}
    template <class T> bool Get(T* value) { return Bytes(value, sizeof *value); }
    bool Bytes(void* out, size_t size) {
        if (size > size_ - pos_)
            return false;
        std::memcpy(out, data_ + pos_, size);
        pos_ += size;
        return true;
    }
    const uint8_t* Take(size_t size) {
        if (size > size_ - pos_)
            return nullptr;
        pos_ += size;
        return data_ + pos_ - size;
    }
    size_t Left() const { return size_ - pos_; }

private:
    const uint8_t* data_;
    size_t size_;
    size_t pos_ = 0;
};

// Alpha maps painted by the brush hold four equal bytes per texel, so one byte a texel
// keeps them exactly; anything else is kept as it is.
bool CoverageOnly(const std::vector<uint32_t>& texels) {
    for (uint32_t t : texels)
        if (t != (t & 0xFFu) * 0x01010101u)
            return false;
    return true;
}

bool IndexOrNone(int32_t index, size_t count) {
    return index >= -1 && (index < 0 || static_cast<size_t>(index) < count);
}

} // namespace

uint64_t MaxSplatFileBytes() {
    return kHeaderBytes + uint64_t{kMaxSplatTextures} * (4 + kMaxSplatPathBytes) +
           uint64_t{kMaxSplatLayers} * (kLayerHeaderBytes + compressBound(kTexels * 4));
}

bool EncodeSplatFile(const SplatFileData& data, std::vector<uint8_t>* out, std::string* error) {
    if (data.texturePaths.size() > kMaxSplatTextures || data.layers.size() > kMaxSplatLayers)
        return Fail(error, "텍스쳐나 레이어가 너무 많아 저장할 수 없습니다.");
    std::vector<uint8_t> bytes;
    try {
        Writer w(bytes);
        w.Bytes(kMagic, sizeof kMagic);
        w.Put(kSplatFileVersion);
        w.Put(data.mvdBytes);
        w.Put(data.mvdCrc);
        w.Put(data.baseMappingScale);
        w.Put(data.baseTexture);
        w.Put(static_cast<uint32_t>(data.texturePaths.size()));
        w.Put(static_cast<uint32_t>(data.layers.size()));
        for (const std::string& path : data.texturePaths) {
            if (path.size() > kMaxSplatPathBytes)
                return Fail(error, "텍스쳐 경로가 너무 깁니다: " + path);
            w.Put(static_cast<uint32_t>(path.size()));
            w.Bytes(path.data(), path.size());
        }
        std::vector<uint8_t> coverage, packed;
        for (const SplatLayerData& layer : data.layers) {
            if (layer.texels.size() != kTexels)
                return Fail(error, "알파맵의 크기가 맞지 않습니다.");
            const bool one = CoverageOnly(layer.texels);
            const uint8_t* raw = reinterpret_cast<const uint8_t*>(layer.texels.data());
            size_t rawBytes = kTexels * 4;
            if (one) {
                coverage.resize(kTexels);
                for (size_t i = 0; i < kTexels; ++i)
                    coverage[i] = static_cast<uint8_t>(layer.texels[i]);
                raw = coverage.data();
                rawBytes = kTexels;
            }
            uLongf packedBytes = compressBound(rawBytes);
            packed.resize(packedBytes);
            if (compress2(packed.data(), &packedBytes, raw, rawBytes, Z_DEFAULT_COMPRESSION) !=
                Z_OK)
                return Fail(error, "알파맵을 압축하지 못했습니다.");
            w.Put(layer.mappingScale);
            w.Put(layer.textureIndex);
            w.Put(static_cast<uint8_t>(one ? 1 : 4));
            w.Put(static_cast<uint32_t>(packedBytes));
            w.Bytes(packed.data(), packedBytes);
        }
        w.Put(static_cast<uint32_t>(crc32_z(0, bytes.data(), bytes.size())));
    } catch (const std::bad_alloc&) {
        return Fail(error, "텍스쳐 칠하기를 저장할 메모리가 부족합니다.");
    }
    *out = std::move(bytes);
    return true;
}

bool DecodeSplatFile(const uint8_t* bytes, size_t size, SplatFileData* out, std::string* error) {
    if (size < sizeof kMagic || std::memcmp(bytes, kMagic, sizeof kMagic) != 0)
        return Fail(error, "Veldmark의 텍스쳐 칠하기 파일이 아닙니다.");
    uint32_t version = 0;
    if (size < sizeof kMagic + 4)
        return Fail(error, kDamaged);
    std::memcpy(&version, bytes + sizeof kMagic, 4);
    if (version > kSplatFileVersion)
        return Fail(error, "더 새로운 Veldmark가 만든 파일입니다 (형식 버전 " +
                               std::to_string(version) + ").");
    if (version != kSplatFileVersion || size < kHeaderBytes + 4)
        return Fail(error, kDamaged);
    uint32_t storedCrc = 0;
    std::memcpy(&storedCrc, bytes + size - 4, 4);
    if (storedCrc != static_cast<uint32_t>(crc32_z(0, bytes, size - 4)))
        return Fail(error, kDamaged);

    SplatFileData data;
    Reader r(bytes + sizeof kMagic + 4, size - sizeof kMagic - 4 - 4);
    uint32_t textureCount = 0, layerCount = 0;
    if (!r.Get(&data.mvdBytes) || !r.Get(&data.mvdCrc) || !r.Get(&data.baseMappingScale) ||
        !r.Get(&data.baseTexture) || !r.Get(&textureCount) || !r.Get(&layerCount) ||
        textureCount > kMaxSplatTextures || layerCount > kMaxSplatLayers ||
        !std::isfinite(data.baseMappingScale) || !IndexOrNone(data.baseTexture, textureCount))
        return Fail(error, kDamaged);

    try {
        for (uint32_t i = 0; i < textureCount; ++i) {
            uint32_t length = 0;
            if (!r.Get(&length) || length > kMaxSplatPathBytes)
                return Fail(error, kDamaged);
            const uint8_t* text = r.Take(length);
            if (!text || std::memchr(text, 0, length))
                return Fail(error, kDamaged);
            data.texturePaths.emplace_back(reinterpret_cast<const char*>(text), length);
        }
        std::vector<uint8_t> coverage;
        for (uint32_t i = 0; i < layerCount; ++i) {
            SplatLayerData layer;
            uint8_t channels = 0;
            uint32_t packedBytes = 0;
            if (!r.Get(&layer.mappingScale) || !r.Get(&layer.textureIndex) || !r.Get(&channels) ||
                !r.Get(&packedBytes) || !std::isfinite(layer.mappingScale) ||
                !IndexOrNone(layer.textureIndex, textureCount) || (channels != 1 && channels != 4))
                return Fail(error, kDamaged);
            const uint8_t* packed = r.Take(packedBytes);
            if (!packed)
                return Fail(error, kDamaged);
            layer.texels.resize(kTexels);
            uint8_t* target = reinterpret_cast<uint8_t*>(layer.texels.data());
            if (channels == 1) {
                coverage.resize(kTexels);
                target = coverage.data();
            }
            uLongf unpacked = kTexels * channels;
            uLong consumed = packedBytes;
            // The stream must fill the map exactly and end where its record ends.
            if (uncompress2(target, &unpacked, packed, &consumed) != Z_OK ||
                unpacked != kTexels * channels || consumed != packedBytes)
                return Fail(error, kDamaged);
            if (channels == 1)
                for (size_t t = 0; t < kTexels; ++t)
                    layer.texels[t] = coverage[t] * 0x01010101u;
            data.layers.push_back(std::move(layer));
        }
    } catch (const std::bad_alloc&) {
        return Fail(error, "텍스쳐 칠하기를 읽을 메모리가 부족합니다.");
    }
    if (r.Left() != 0)
        return Fail(error, kDamaged);
    *out = std::move(data);
    return true;
}

// Saves replace the file a link names and keep the link, so the painting goes beside that
// file, where it is found whichever name the terrain is opened by.
std::string SplatPathFor(const std::string& mapVertexDataPath) {
    return fs::path(FileLinkTarget(mapVertexDataPath)).replace_extension(".vmsplat").string();
}

namespace {

// Absolute, with the links of the part that exists resolved, so that ".." between the two
// paths names the folder it names on disk.
fs::path RealPath(const std::string& path) {
    std::error_code ec;
    fs::path absolute = fs::absolute(path, ec);
    if (ec)
        return fs::path(path).lexically_normal();
    fs::path real = fs::weakly_canonical(absolute, ec);
    return ec ? absolute.lexically_normal() : real;
}

} // namespace

std::string StoredTexturePath(const std::string& texture, const std::string& folder) {
    if (texture.empty())
        return texture;
    const fs::path real = RealPath(texture);
    const fs::path relative = real.lexically_relative(RealPath(folder));
    return relative.empty() ? real.string() : relative.generic_string();
}

std::string ResolveTexturePath(const std::string& stored, const std::string& folder) {
    if (stored.empty())
        return stored;
    const fs::path path(stored);
    if (path.is_absolute())
        return stored;
    return (RealPath(folder) / path).lexically_normal().string();
}
