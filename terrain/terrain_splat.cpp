// Texture splatting: the loaded textures, the layers with their alpha maps, and painting
// coverage into an alpha map around the pick point.
#include "KrEditHistory.h"
#include "KrTerrain.h"
#include "d3dx9.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

void DeleteEntry(KrTextureEntry* entry) {
    if (entry && entry->texture)
        entry->texture->Release();
    delete entry;
}

bool IsIndexOf(int32_t index, size_t size) {
    return index >= 0 && static_cast<size_t>(index) < size;
}

// A coverage value a is stored as the byte a in all four channels.
constexpr uint32_t Coverage(uint32_t a) {
    return a * 0x01010101u;
}

} // namespace

bool KrTerrain::AddTexture(const wchar_t* path, std::string* error) {
    if (!device || !path) {
        if (error)
            *error = device ? "파일 이름이 없습니다" : "텍스처를 올릴 장치가 없습니다";
        return false;
    }
    auto* entry = new KrTextureEntry();
    if (FAILED(D3DXCreateTextureFromFileW(device, path, &entry->texture)) || !entry->texture) {
        if (error) {
            const char* reason = D3DXGetLastTextureError();
            *error = reason && *reason ? reason : "이미지를 불러오지 못했습니다";
        }
        DeleteEntry(entry);
        return false;
    }
    textures.push_back(entry);
    baseTexture = static_cast<int32_t>(textures.size()) - 1;
    return true;
}

// Layers and the base keep showing the texture they showed: indexes after the removed one
// move down with their texture, and a layer that used the removed texture is marked -1 and
// no longer drawn.
bool KrTerrain::RemoveTexture(int32_t index) {
    if (!IsIndexOf(index, textures.size()))
        return false;
    const bool baseWasValid = IsIndexOf(baseTexture, textures.size());
    DeleteEntry(textures[static_cast<size_t>(index)]);
    textures.erase(textures.begin() + index);
    if (history)
        history->TextureRemoved(*this, index);

    for (KrSplatLayer& layer : splatLayers) {
        if (layer.textureIndex == index)
            layer.textureIndex = -1;
        else if (layer.textureIndex > index)
            --layer.textureIndex;
    }

    const int32_t size = static_cast<int32_t>(textures.size());
    if (!baseWasValid)
        baseTexture = -1;
    else if (baseTexture > index || baseTexture >= size)
        // Follows its texture; a removed last base falls back to the new last texture
        // (-1 when none is left). A removed base elsewhere leaves the next texture as base.
        --baseTexture;
    return true;
}

// The layer goes again when its alpha map cannot be made, so the two lists stay paired.
bool KrTerrain::AddSplatLayer(int32_t textureIndex) {
    if (!IsIndexOf(textureIndex, textures.size()))
        return false;
    splatLayers.push_back(KrSplatLayer{1.0f, textureIndex});
    if (!AddAlphaMap()) {
        splatLayers.pop_back();
        return false;
    }
    return true;
}

bool KrTerrain::AddAlphaMap() {
    if (!device)
        return false;
    IDirect3DTexture9* texture = nullptr;
    if (FAILED(device->CreateTexture(ALPHA_MAP_SIZE, ALPHA_MAP_SIZE, 1, 0, D3DFMT_A8R8G8B8,
                                     D3DPOOL_MANAGED, &texture, nullptr)) ||
        !texture)
        return false;

    D3DLOCKED_RECT locked{};
    if (FAILED(texture->LockRect(0, &locked, nullptr, 0))) {
        texture->Release();
        return false;
    }
    auto* row = static_cast<uint8_t*>(locked.pBits);
    for (int32_t y = 0; y < ALPHA_MAP_SIZE; ++y, row += locked.Pitch)
        std::memset(row, 0, ALPHA_MAP_SIZE * 4);
    if (FAILED(texture->UnlockRect(0))) {
        texture->Release();
        return false;
    }

    auto* entry = new KrTextureEntry();
    entry->texture = texture;
    alphaMaps.push_back(entry);
    return true;
}

bool KrTerrain::RemoveAlphaMap(int32_t index) {
    if (!IsIndexOf(index, alphaMaps.size()))
        return false;
    DeleteEntry(alphaMaps[static_cast<size_t>(index)]);
    alphaMaps.erase(alphaMaps.begin() + index);
    return true;
}

bool KrTerrain::RemoveSplatLayer(int32_t index) {
    if (!IsIndexOf(index, splatLayers.size()))
        return false;
    splatLayers.erase(splatLayers.begin() + index);
    RemoveAlphaMap(index);
    selectedLayer = -1;
    return true;
}

bool KrTerrain::SwapSplatLayers(int32_t a, int32_t b) {
    const size_t count = std::min(splatLayers.size(), alphaMaps.size());
    if (!IsIndexOf(a, count) || !IsIndexOf(b, count))
        return false;
    std::swap(splatLayers[static_cast<size_t>(a)], splatLayers[static_cast<size_t>(b)]);
    std::swap(alphaMaps[static_cast<size_t>(a)], alphaMaps[static_cast<size_t>(b)]);
    return true;
}

// One paint step. Only the brush's bounding rectangle is locked, so the device uploads just
// those texels.
bool KrTerrain::PaintSplat(KrPickRay* pick, int32_t layer) {
    if (!pickHit || !pick || !IsIndexOf(layer, alphaMaps.size()))
        return false;
    KrTextureEntry* entry = alphaMaps[static_cast<size_t>(layer)];
    if (!entry || !entry->texture || info.worldWidth <= 0 || info.worldDepth <= 0)
        return false;

    const float w = static_cast<float>(info.worldWidth);
    const float d = static_cast<float>(info.worldDepth);
    const float outer = static_cast<float>(bigRadius);
    const float inner = splatInnerRadius;
    const float s = w * (1.0f / static_cast<float>(ALPHA_MAP_SIZE));
    const float r = outer / s;

    const float u = (w * 0.5f + pick->hitPoint.x) / w;
    const float v = 1.0f - (d * 0.5f + pick->hitPoint.z) / d;
    const float centreX = static_cast<float>(ALPHA_MAP_SIZE) * u + 0.0004f * w;
    const float centreY = static_cast<float>(ALPHA_MAP_SIZE) * v + 0.0004f * d;
    // Keeps the conversions below defined whatever the pick record holds.
    constexpr float kFar = 1.0e8f;
    if (!(std::fabs(centreX) < kFar) || !(std::fabs(centreY) < kFar) || !(std::fabs(r) < kFar))
        return false;
    const int32_t cx = static_cast<int32_t>(centreX);
    const int32_t cy = static_cast<int32_t>(centreY);
    splatCentreX = cx;
    splatCentreY = cy;

    constexpr float kLast = static_cast<float>(ALPHA_MAP_SIZE - 1);
    const auto span = [r](int32_t c, int32_t* lo, int32_t* hi) {
        const float first = std::max(0.0f, static_cast<float>(c) - r);
        const float last = static_cast<float>(c) + r;
        if (first > kLast || last < 0.0f)
            return false;
        *lo = static_cast<int32_t>(first);
        *hi = last < static_cast<float>(ALPHA_MAP_SIZE) ? static_cast<int32_t>(last)
                                                        : ALPHA_MAP_SIZE - 1;
        return *lo <= *hi;
    };
    int32_t x0, x1, y0, y1;
    if (!span(cx, &x0, &x1) || !span(cy, &y0, &y1))
        return true; // the brush lies wholly off the map: nothing to write

    if (history)
        history->CaptureTexels(*this, entry, x0, y0, x1, y1);
    const RECT rect{x0, y0, x1 + 1, y1 + 1};
    D3DLOCKED_RECT locked{};
    if (FAILED(entry->texture->LockRect(0, &locked, &rect, 0)))
        return false;

    const float centreXs = static_cast<float>(cx) * s;
    const float centreYs = static_cast<float>(cy) * s;
    const float band = outer - inner;
    auto* rowBytes = static_cast<uint8_t*>(locked.pBits);
    for (int32_t y = y0; y <= y1; ++y, rowBytes += locked.Pitch) {
        uint8_t* texel = rowBytes;
        const float dy = static_cast<float>(y) * s - centreYs;
        for (int32_t x = x0; x <= x1; ++x, texel += 4) {
            const float dx = static_cast<float>(x) * s - centreXs;
            const float dist = std::sqrt(dx * dx + dy * dy);
            if (paintMode == 0) {
                if (dist <= outer)
                    std::memset(texel, 0, 4);
                continue;
            }
            uint32_t value;
            if (dist <= inner) {
                value = 0xFFFFFFFFu;
            } else if (dist <= outer) {
                const float t = (band - (dist - inner)) / band;
                value = Coverage(static_cast<uint32_t>(t * 4278190080.0f) >> 24);
            } else {
                continue;
            }
            uint32_t old;
            std::memcpy(&old, texel, 4);
            if (value > old)
                std::memcpy(texel, &value, 4);
        }
    }
    return SUCCEEDED(entry->texture->UnlockRect(0));
}
