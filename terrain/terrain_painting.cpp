// The painting saved beside the MapVertexData file and restored with it.
#include "KrTerrain.h"
#include "d3dx9.h"
#include "mvd_file.h"
#include "painting_file.h"
#include "paths.h"
#include "safe_file.h"
#include "splat_file.h"

#include <cstring>
#include <filesystem>

namespace {

std::string FolderOf(const std::string& path) {
    const std::filesystem::path folder = std::filesystem::path(path).parent_path();
    return folder.empty() ? std::string(".") : folder.string();
}

std::string FileNameOf(const std::string& path) {
    const std::string name = std::filesystem::path(path).filename().string();
    return name.empty() ? path : name;
}

bool ReadAlphaMap(IDirect3DTexture9* texture, std::vector<uint32_t>* texels) {
    D3DLOCKED_RECT locked{};
    if (!texture || FAILED(texture->LockRect(0, &locked, nullptr, D3DLOCK_READONLY)))
        return false;
    texels->resize(static_cast<size_t>(ALPHA_MAP_SIZE) * ALPHA_MAP_SIZE);
    const auto* row = static_cast<const uint8_t*>(locked.pBits);
    for (int32_t y = 0; y < ALPHA_MAP_SIZE; ++y, row += locked.Pitch)
        std::memcpy(texels->data() + static_cast<size_t>(y) * ALPHA_MAP_SIZE, row,
                    ALPHA_MAP_SIZE * 4);
    return SUCCEEDED(texture->UnlockRect(0));
}

IDirect3DTexture9* MakeAlphaMap(IDirect3DDevice9* device, const std::vector<uint32_t>& texels) {
    IDirect3DTexture9* texture = nullptr;
    if (FAILED(device->CreateTexture(ALPHA_MAP_SIZE, ALPHA_MAP_SIZE, 1, 0, D3DFMT_A8R8G8B8,
                                     D3DPOOL_MANAGED, &texture, nullptr)) ||
        !texture)
        return nullptr;
    D3DLOCKED_RECT locked{};
    if (FAILED(texture->LockRect(0, &locked, nullptr, 0))) {
        texture->Release();
        return nullptr;
    }
    auto* row = static_cast<uint8_t*>(locked.pBits);
    for (int32_t y = 0; y < ALPHA_MAP_SIZE; ++y, row += locked.Pitch)
        std::memcpy(row, texels.data() + static_cast<size_t>(y) * ALPHA_MAP_SIZE,
                    ALPHA_MAP_SIZE * 4);
    if (FAILED(texture->UnlockRect(0))) {
        texture->Release();
        return nullptr;
    }
    return texture;
}

void DeleteEntries(std::vector<KrTextureEntry*>& entries) {
    for (KrTextureEntry* entry : entries) {
        if (entry && entry->texture)
            entry->texture->Release();
        delete entry;
    }
    entries.clear();
}

} // namespace

bool KrTerrain::SavePainting(const char* mapVertexDataPath, std::string* error) const {
    KrPaintingWrite painting;
    return CollectPainting(mapVertexDataPath, &painting, error) &&
           WritePaintingFile(painting, info, vertices, error);
}

bool KrTerrain::CollectPainting(const char* mapVertexDataPath, KrPaintingWrite* out,
                                std::string* error) const {
    *out = KrPaintingWrite{};
    out->path = SplatPathFor(mapVertexDataPath ? mapVertexDataPath : "");
    if (textures.empty() && splatLayers.empty()) {
        out->remove = true;
        return true;
    }
    if (!vertices) {
        if (error)
            *error = "저장할 지형이 없습니다.";
        return false;
    }

    SplatFileData& data = out->data;
    data.baseMappingScale = baseMappingScale;
    // Anything but a texture's index means no base texture.
    const bool baseValid = baseTexture >= 0 && static_cast<size_t>(baseTexture) < textures.size();
    data.baseTexture = baseValid ? baseTexture : -1;
    const std::string folder = FolderOf(out->path);
    for (const KrTextureEntry* entry : textures)
        data.texturePaths.push_back(StoredTexturePath(entry ? entry->source : "", folder));
    const size_t layers = std::min(splatLayers.size(), alphaMaps.size());
    data.layers.resize(layers);
    for (size_t i = 0; i < layers; ++i) {
        SplatLayerData& layer = data.layers[i];
        layer.mappingScale = splatLayers[i].mappingScale;
        const int32_t index = splatLayers[i].textureIndex;
        layer.textureIndex =
            index >= 0 && static_cast<size_t>(index) < textures.size() ? index : -1;
        if (!ReadAlphaMap(alphaMaps[i] ? alphaMaps[i]->texture : nullptr, &layer.texels)) {
            if (error)
                *error = "그래픽 장치에서 " + std::to_string(i + 1) + "번 레이어의 알파맵을 " +
                         "읽지 못했습니다.";
            return false;
        }
    }
    return true;
}

bool WritePaintingFile(KrPaintingWrite& painting, const KrTerrainInfo& info,
                       const KrTerrainVertex* vertices, std::string* error) {
    if (painting.remove)
        return RemoveFileIfPresent(painting.path.c_str(), error);
    if (!vertices) {
        if (error)
            *error = "저장할 지형이 없습니다.";
        return false;
    }
    painting.data.mvdBytes = MapVertexDataBytes(info);
    painting.data.mvdCrc = MapVertexDataCrc(info, vertices);
    std::vector<uint8_t> bytes;
    if (!EncodeSplatFile(painting.data, &bytes, error))
        return false;
    return WriteFileAtomically(painting.path.c_str(), bytes.data(), bytes.size(), error);
}

KrPaintingRead ReadPaintingFile(const char* mapVertexDataPath, const KrTerrainInfo& info,
                                const KrTerrainVertex* vertices) {
    KrPaintingRead read;
    read.path = SplatPathFor(mapVertexDataPath ? mapVertexDataPath : "");
    const auto refuse = [&read](std::string reason) {
        read.status = KrTerrain::PaintingLoad::Refused;
        read.error = std::move(reason);
        read.data = SplatFileData{};
        return std::move(read);
    };

    std::vector<uint8_t> bytes;
    bool missing = false;
    std::string error;
    if (!ReadRegularFile(read.path.c_str(), MaxSplatFileBytes(), &bytes, &error, &missing)) {
        if (missing)
            return read;
        return refuse(error);
    }
    if (!DecodeSplatFile(bytes.data(), bytes.size(), &read.data, &error))
        return refuse(error);
    bytes = {};
    if (!vertices || read.data.mvdBytes != MapVertexDataBytes(info) ||
        read.data.mvdCrc != MapVertexDataCrc(info, vertices))
        return refuse(
            "이 파일은 옆의 .mvd 파일과 함께 저장된 것이 아닙니다 (.mvd가 따로 바뀌었거나 "
            "저장이 도중에 끊겼습니다).");
    read.status = KrTerrain::PaintingLoad::Restored;
    return read;
}

// Checked whole, and every alpha map made on the device, before the terrain's painting is
// touched; textures that do not load keep their place as empty entries, so the layers that
// use them keep their index and their coverage.
KrTerrain::PaintingLoad KrTerrain::LoadPainting(const char* mapVertexDataPath) {
    KrPaintingRead read = ReadPaintingFile(mapVertexDataPath, info, vertices);
    return ApplyPainting(read);
}

KrTerrain::PaintingLoad KrTerrain::ApplyPainting(const KrPaintingRead& read) {
    PaintingLoad result;
    const auto refuse = [&result](std::string reason) {
        result.status = PaintingLoad::Refused;
        result.error = std::move(reason);
        return result;
    };
    if (read.status != PaintingLoad::Restored) {
        result.status = read.status;
        result.error = read.error;
        return result;
    }
    const SplatFileData& data = read.data;
    if (!device)
        return refuse("텍스쳐를 올릴 그래픽 장치가 없습니다.");

    std::vector<KrTextureEntry*> maps;
    for (const SplatLayerData& layer : data.layers) {
        IDirect3DTexture9* texture = MakeAlphaMap(device, layer.texels);
        if (!texture) {
            DeleteEntries(maps);
            return refuse("그래픽 장치가 알파맵을 만들지 못했습니다.");
        }
        maps.push_back(new KrTextureEntry{texture, {}});
    }

    const std::string folder = FolderOf(read.path);
    std::vector<KrTextureEntry*> loaded;
    for (const std::string& stored : data.texturePaths) {
        auto* entry = new KrTextureEntry{nullptr, ResolveTexturePath(stored, folder)};
        const std::string shown = entry->source.empty() ? "(이름 없음)" : entry->source;
        if (entry->source.empty()) {
            result.missing.push_back(shown + ": 경로가 없습니다");
        } else if (FAILED(D3DXCreateTextureFromFileW(device, Utf8ToWide(entry->source).c_str(),
                                                     &entry->texture)) ||
                   !entry->texture) {
            entry->texture = nullptr;
            std::string reason = D3DXGetLastTextureError();
            // The loader's reasons may start with the path, which is named already.
            if (reason.rfind(shown + ": ", 0) == 0)
                reason.erase(0, shown.size() + 2);
            result.missing.push_back(FileNameOf(shown) + " (" + shown +
                                     "): " + (reason.empty() ? "읽을 수 없습니다" : reason));
        }
        loaded.push_back(entry);
    }

    ReleaseSplatting();
    textures = std::move(loaded);
    alphaMaps = std::move(maps);
    for (const SplatLayerData& layer : data.layers)
        splatLayers.push_back(KrSplatLayer{layer.mappingScale, layer.textureIndex});
    baseTexture = data.baseTexture;
    baseMappingScale = data.baseMappingScale;
    // The last layer is the one painted, as after registering it.
    selectedLayer = static_cast<int32_t>(splatLayers.size()) - 1;
    result.status = PaintingLoad::Restored;
    return result;
}

bool KrTerrain::ReadCoverage(int32_t layer, std::vector<uint8_t>* coverage) const {
    if (layer < 0 || static_cast<size_t>(layer) >= alphaMaps.size() || !alphaMaps[layer])
        return false;
    std::vector<uint32_t> texels;
    if (!ReadAlphaMap(alphaMaps[static_cast<size_t>(layer)]->texture, &texels))
        return false;
    coverage->resize(texels.size());
    for (size_t i = 0; i < texels.size(); ++i)
        (*coverage)[i] = static_cast<uint8_t>(texels[i] >> 24);
    return true;
}
