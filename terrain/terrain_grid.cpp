// The grid itself: its description, putting a prepared grid in place and the lifetime of
// the buffers.
#include "KrQuadTree.h"
#include "KrTerrain.h"
#include "KrTerrainGrid.h"

#include <cmath>
#include <cstring>
#include <utility>

namespace {

bool Fail(std::string* error, const char* reason) {
    if (error)
        *error = reason;
    return false;
}

template <class T> void ReleaseAndClear(T*& object) {
    if (object) {
        object->Release();
        object = nullptr;
    }
}

} // namespace

bool WorldSizeFits(int32_t width, int32_t depth, float spacingX, float spacingZ) {
    constexpr float kIntLimit = 2147483648.0f; // 2^31
    return static_cast<float>(width) * spacingX < kIntLimit &&
           static_cast<float>(depth) * spacingZ < kIntLimit;
}

bool IsValidTerrainSize(int32_t width, int32_t depth, float spacing) {
    return width >= 2 && depth >= 2 && width <= kMaxTerrainSide && depth <= kMaxTerrainSide &&
           std::isfinite(spacing) && spacing > 0.0f &&
           WorldSizeFits(width, depth, spacing, spacing);
}

void KrTerrainInfo::InitInfo(int32_t w, int32_t d, float sx, float sy, float sz) {
    cellSpacingX = sx;
    cellSpacingY = sy;
    cellSpacingZ = sz;
    vertsPerRow = w;
    vertsPerCol = d;
    cellsPerRow = w - 1;
    cellsPerCol = d - 1;
    worldWidth = static_cast<int32_t>(static_cast<float>(w) * sx);
    worldDepth = static_cast<int32_t>(static_cast<float>(d) * sz);
    numTriangles = 2 * (d - 1) * (w - 1);
    numVertices = w * d;
}

KrTerrain::KrTerrain() = default;

KrTerrain::~KrTerrain() {
    device = nullptr;
    pickRay = nullptr;
    ReleaseSplatting();
    ReleaseAndClear(brushOutlineBuffer);
    ReleaseAndClear(vertexBuffer);
    ReleaseAndClear(indexBuffer);
    delete[] vertices;
    vertices = nullptr;
    delete quadTree;
    quadTree = nullptr;
}

void KrTerrain::ReleaseSplatting() {
    for (auto* list : {&textures, &alphaMaps}) {
        for (KrTextureEntry* entry : *list) {
            if (entry)
                ReleaseAndClear(entry->texture);
            delete entry;
        }
        list->clear();
    }
    splatLayers.clear();
}

// A size that cannot make a grid is refused before anything changes, so the terrain keeps
// what it had (or stays empty and draws nothing). A device failure part way leaves the
// previous grid in place too, since every buffer is made before the old one goes.
bool KrTerrain::Create(int32_t width, int32_t depth, int32_t cellSpacing) {
    if (!device || !IsValidTerrainSize(width, depth, static_cast<float>(cellSpacing)))
        return false;
    KrTerrainGrid grid;
    if (!PrepareGrid(width, depth, cellSpacing, &grid) || !Install(grid, Buffers::Grid, nullptr))
        return false;

    if (!brushOutlineBuffer &&
        FAILED(device->CreateVertexBuffer(kBrushOutlinePoints * 12, 0, D3DFVF_XYZ, D3DPOOL_DEFAULT,
                                          &brushOutlineBuffer, nullptr)))
        return false;
    return true;
}

// Lays out the grid that info describes, with a new vertex buffer; the index buffer is
// Create's to make.
bool KrTerrain::BuildVertices() {
    if (!device)
        return false;
    KrTerrainGrid grid;
    return PrepareGrid(info, &grid) && Install(grid, Buffers::Vertices, nullptr);
}

// A terrain that never had a grid gets its brush outline here too, before anything else,
// so that a failure still leaves it as it was.
bool KrTerrain::InstallGrid(KrTerrainGrid& grid, std::string* error) {
    if (!device)
        return Fail(error, "지형을 올릴 그래픽 장치가 없습니다");
    if (!brushOutlineBuffer &&
        FAILED(device->CreateVertexBuffer(kBrushOutlinePoints * 12, 0, D3DFVF_XYZ, D3DPOOL_DEFAULT,
                                          &brushOutlineBuffer, nullptr)))
        return Fail(error, "그래픽 장치가 브러시 외곽선을 만들지 못했습니다");
    return Install(grid, Buffers::Grid, error);
}

bool KrTerrain::Install(KrTerrainGrid& grid, Buffers buffers, std::string* error) {
    if (!device)
        return Fail(error, "지형을 올릴 그래픽 장치가 없습니다");
    if (!grid.vertices || !grid.normalUses || grid.info.numVertices <= 0)
        return Fail(error, "올릴 격자가 없습니다");
    const bool withIndices = buffers == Buffers::Grid;
    const KrTerrainInfo& next = grid.info;
    const UINT vertexBytes = static_cast<UINT>(next.numVertices) * sizeof(KrTerrainVertex);

    // A grid of the same size goes into the buffers already there: a frame's index list is
    // written whole before it is drawn, and the vertex buffer is overwritten last, once
    // nothing else can fail.
    const UINT indexBytes = static_cast<UINT>(next.numTriangles) * 12;
    D3DINDEXBUFFER_DESC indexDesc{};
    D3DVERTEXBUFFER_DESC vertexDesc{};
    const bool sameIndices =
        indexBuffer && SUCCEEDED(indexBuffer->GetDesc(&indexDesc)) && indexDesc.Size == indexBytes;
    const bool sameVertices = vertexBuffer && SUCCEEDED(vertexBuffer->GetDesc(&vertexDesc)) &&
                              vertexDesc.Size == vertexBytes;
    IDirect3DIndexBuffer9* newIndices = nullptr;
    if (withIndices && !sameIndices &&
        FAILED(device->CreateIndexBuffer(indexBytes, 0, D3DFMT_INDEX32, D3DPOOL_DEFAULT,
                                         &newIndices, nullptr)))
        return Fail(error, "그래픽 장치가 격자의 인덱스 버퍼를 만들지 못했습니다");
    IDirect3DVertexBuffer9* target = sameVertices ? vertexBuffer : nullptr;
    if (!target && FAILED(device->CreateVertexBuffer(vertexBytes, 0, kTerrainFvf, D3DPOOL_DEFAULT,
                                                     &target, nullptr))) {
        ReleaseAndClear(newIndices);
        return Fail(error, "그래픽 장치가 격자의 정점 버퍼를 만들지 못했습니다");
    }
    void* locked = nullptr;
    if (FAILED(target->Lock(0, vertexBytes, &locked, 0))) {
        if (target != vertexBuffer)
            target->Release();
        ReleaseAndClear(newIndices);
        return Fail(error, "그래픽 장치가 정점 버퍼를 채우지 못했습니다");
    }
    std::memcpy(locked, grid.vertices.get(), vertexBytes);
    target->Unlock();

    if (newIndices) {
        ReleaseAndClear(indexBuffer);
        indexBuffer = newIndices;
    }
    if (target != vertexBuffer) {
        ReleaseAndClear(vertexBuffer);
        vertexBuffer = target;
    }
    // The previous grid's arrays go back in `grid`, to be freed wherever the caller likes.
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
    // The last frame's list and hit belong to the old grid.
    visibleTriangleCount = 0;
    pickHit = false;
    return true;
}
