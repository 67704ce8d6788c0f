// What the edit history needs of a terrain: exchanging grids and paintings, keeping a grid
// aside without its device buffers, and handing over the settings that are not terrain data.
#include "KrQuadTree.h"
#include "KrTerrain.h"
#include "KrTerrainGrid.h"

#include <cstring>
#include <utility>

namespace {

template <class T> void ReleaseAndClear(T*& object) {
    if (object) {
        object->Release();
        object = nullptr;
    }
}

size_t TextureBytes(const KrTextureEntry* entry) {
    D3DSURFACE_DESC desc{};
    if (!entry || !entry->texture || FAILED(entry->texture->GetLevelDesc(0, &desc)))
        return sizeof(KrTextureEntry);
    // Four bytes a texel; mipmaps add up to a third more.
    const size_t level0 = size_t(desc.Width) * desc.Height * 4;
    return sizeof(KrTextureEntry) + (entry->texture->GetLevelCount() > 1 ? level0 * 4 / 3 : level0);
}

} // namespace

void KrTerrain::SwapGrid(KrTerrain& other) {
    std::swap(info, other.info);
    std::swap(vertices, other.vertices);
    std::swap(vertexBuffer, other.vertexBuffer);
    std::swap(indexBuffer, other.indexBuffer);
    std::swap(quadTree, other.quadTree);
    std::swap(quadTreeEnabled, other.quadTreeEnabled);
    // All zeroes between frames, but sized by the grid.
    std::swap(normalUses_, other.normalUses_);
    for (KrTerrain* t : {this, &other}) {
        t->visibleTriangleCount = 0; // the last list named the other grid's vertices
        t->pickHit = false;
        t->ResetVertexTracking();
    }
}

void KrTerrain::SwapPainting(KrTerrain& other) {
    std::swap(textures, other.textures);
    std::swap(alphaMaps, other.alphaMaps);
    std::swap(baseMappingScale, other.baseMappingScale);
    std::swap(baseTexture, other.baseTexture);
    std::swap(splatLayers, other.splatLayers);
    std::swap(selectedLayer, other.selectedLayer);
}

void KrTerrain::SwapGridBuffers(KrTerrain& other) {
    std::swap(vertexBuffer, other.vertexBuffer);
    std::swap(indexBuffer, other.indexBuffer);
}

void KrTerrain::TakeGridArrays(KrTerrainGrid& grid) {
    ReleaseGridBuffers();
    std::swap(info, grid.info);
    KrTerrainVertex* previous = vertices;
    vertices = grid.vertices.release();
    grid.vertices.reset(previous);
    KrQuadTree* previousTree = quadTree;
    quadTree = grid.quadTree.release();
    grid.quadTree.reset(previousTree);
    std::swap(normalUses_, grid.normalUses);
    quadTreeEnabled = quadTree != nullptr;
    ResetVertexTracking();
}

void KrTerrain::ReleaseGridBuffers() {
    ReleaseAndClear(vertexBuffer);
    ReleaseAndClear(indexBuffer);
    visibleTriangleCount = 0;
    pickHit = false;
    ResetVertexTracking();
}

bool KrTerrain::RestoreGridBuffers() {
    if (vertexBuffer && indexBuffer)
        return true;
    if (!device || !vertices)
        return false;
    const UINT vertexBytes = static_cast<UINT>(info.numVertices) * sizeof(KrTerrainVertex);
    IDirect3DVertexBuffer9* newVertices = nullptr;
    if (FAILED(device->CreateVertexBuffer(vertexBytes, 0, kTerrainFvf, D3DPOOL_DEFAULT,
                                          &newVertices, nullptr)))
        return false;
    void* locked = nullptr;
    if (FAILED(newVertices->Lock(0, vertexBytes, &locked, 0))) {
        newVertices->Release();
        return false;
    }
    std::memcpy(locked, vertices, vertexBytes);
    newVertices->Unlock();
    IDirect3DIndexBuffer9* newIndices = nullptr;
    if (FAILED(device->CreateIndexBuffer(static_cast<UINT>(info.numTriangles) * 12, 0,
                                         D3DFMT_INDEX32, D3DPOOL_DEFAULT, &newIndices, nullptr))) {
        newVertices->Release();
        return false;
    }
    ReleaseAndClear(vertexBuffer);
    ReleaseAndClear(indexBuffer);
    vertexBuffer = newVertices;
    indexBuffer = newIndices;
    visibleTriangleCount = 0;
    pickHit = false;
    ResetVertexTracking();
    return true;
}

bool KrTerrain::FlushVertexUploads() {
    return vertices && vertexBuffer && UploadChangedVertices();
}

void KrTerrain::TakeSettingsFrom(const KrTerrain& other) {
    device = other.device;
    pickRay = other.pickRay;
    fillMode = other.fillMode;
    activeTool = other.activeTool;
    brushMode = other.brushMode;
    brushShape = other.brushShape;
    noiseSeed = other.noiseSeed;
    paintMode = other.paintMode;
    bigRadius = other.bigRadius;
    smallRadius = other.smallRadius;
    splatInnerRadius = other.splatInnerRadius;
    strength = other.strength;
    lodThreshold = other.lodThreshold;
    editing = false;
}

size_t KrTerrain::HeldBytes() const {
    size_t bytes = sizeof(KrTerrain);
    if (vertices)
        bytes += size_t(info.numVertices) * sizeof(KrTerrainVertex);
    if (normalUses_)
        bytes += size_t(info.numVertices);
    if (changedRows_)
        bytes += size_t(info.vertsPerCol) * sizeof(IndexRange);
    bytes += normalsBeforeCapacity_ * sizeof(NormalBefore) +
             normalCrowdCapacity_ * sizeof(CrowdedVertex);
    if (quadTree)
        bytes += quadTree->HeldBytes();
    for (const KrTextureEntry* entry : textures)
        bytes += TextureBytes(entry);
    for (const KrTextureEntry* entry : alphaMaps)
        bytes += TextureBytes(entry);
    return bytes;
}
