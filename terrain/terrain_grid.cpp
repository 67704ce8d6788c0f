// The grid itself: its description, a flat layout, the normals and the lifetime of the
// buffers.
#include "KrQuadTree.h"
#include "KrTerrain.h"
#include "grid_layout.h"

#include <cmath>
#include <cstring>
#include <utility>

namespace {

bool IsPowerOfTwoAtLeast2(int32_t n) {
    return n >= 2 && (n & (n - 1)) == 0;
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
    const float s = static_cast<float>(cellSpacing);
    if (!device || !IsValidTerrainSize(width, depth, s))
        return false;

    const KrTerrainInfo previous = info;
    info.InitInfo(width, depth, s, s, s);

    IDirect3DIndexBuffer9* newIndices = nullptr;
    if (FAILED(device->CreateIndexBuffer(static_cast<UINT>(info.numTriangles) * 12, 0,
                                         D3DFMT_INDEX32, D3DPOOL_DEFAULT, &newIndices, nullptr))) {
        info = previous;
        return false;
    }
    if (!BuildVertices()) {
        newIndices->Release();
        info = previous;
        return false;
    }
    ReleaseAndClear(indexBuffer);
    indexBuffer = newIndices;
    visibleTriangleCount = 0;

    if (!brushOutlineBuffer &&
        FAILED(device->CreateVertexBuffer(kBrushOutlinePoints * 12, 0, D3DFVF_XYZ, D3DPOOL_DEFAULT,
                                          &brushOutlineBuffer, nullptr)))
        return false;
    return true;
}

bool KrTerrain::BuildVertices() {
    if (!device)
        return false;
    const int32_t d = info.vertsPerCol;
    const UINT bytes = static_cast<UINT>(info.numVertices) * sizeof(KrTerrainVertex);

    IDirect3DVertexBuffer9* buffer = nullptr;
    if (FAILED(
            device->CreateVertexBuffer(bytes, 0, kTerrainFvf, D3DPOOL_DEFAULT, &buffer, nullptr)))
        return false;
    void* locked = nullptr;
    if (FAILED(buffer->Lock(0, bytes, &locked, 0))) {
        buffer->Release();
        return false;
    }

    auto* array = new KrTerrainVertex[static_cast<size_t>(info.numVertices)];
    LayOutGridRows(info, 0, d, array);
    std::memcpy(locked, array, bytes);
    buffer->Unlock();

    ReleaseAndClear(vertexBuffer);
    vertexBuffer = buffer;
    delete[] vertices;
    vertices = array;
    ResetVertexTracking();
    ApplyQuadTreeRule();
    return true;
}

void KrTerrain::ApplyQuadTreeRule() {
    quadTreeEnabled =
        IsPowerOfTwoAtLeast2(info.vertsPerRow - 1) && IsPowerOfTwoAtLeast2(info.vertsPerCol - 1);
    delete quadTree;
    quadTree = nullptr;
    if (!quadTreeEnabled)
        return;
    quadTree = new KrQuadTree(info.vertsPerRow, info.vertsPerCol);
    quadTree->Build(vertices);
    quadTree->LinkNeighbours(quadTree, vertices, quadTree->corners[CornerTR] + 1);
}

// Every device buffer is made before anything of the old grid goes, so a failure leaves the
// terrain as it was.
bool KrTerrain::AdoptGrid(const KrTerrainInfo& grid, std::unique_ptr<KrTerrainVertex[]> array,
                          std::string* error) {
    const auto fail = [error](const char* reason) {
        if (error)
            *error = reason;
        return false;
    };
    if (!device)
        return fail("지형을 올릴 그래픽 장치가 없습니다");
    const UINT vertexBytes = static_cast<UINT>(grid.numVertices) * sizeof(KrTerrainVertex);
    IDirect3DVertexBuffer9* newVertices = nullptr;
    if (FAILED(device->CreateVertexBuffer(vertexBytes, 0, kTerrainFvf, D3DPOOL_DEFAULT,
                                          &newVertices, nullptr)))
        return fail("그래픽 장치가 격자의 정점 버퍼를 만들지 못했습니다");
    void* locked = nullptr;
    if (FAILED(newVertices->Lock(0, vertexBytes, &locked, 0))) {
        newVertices->Release();
        return fail("그래픽 장치가 정점 버퍼를 채우지 못했습니다");
    }
    std::memcpy(locked, array.get(), vertexBytes);
    newVertices->Unlock();

    IDirect3DIndexBuffer9* newIndices = nullptr;
    if (FAILED(device->CreateIndexBuffer(static_cast<UINT>(grid.numTriangles) * 12, 0,
                                         D3DFMT_INDEX32, D3DPOOL_DEFAULT, &newIndices, nullptr))) {
        newVertices->Release();
        return fail("그래픽 장치가 격자의 인덱스 버퍼를 만들지 못했습니다");
    }

    info = grid;
    ReleaseAndClear(vertexBuffer);
    vertexBuffer = newVertices;
    delete[] vertices;
    vertices = array.release();
    ResetVertexTracking();
    ApplyQuadTreeRule();
    ReleaseAndClear(indexBuffer);
    indexBuffer = newIndices;
    // The last frame's list and hit belong to the old grid.
    visibleTriangleCount = 0;
    pickHit = false;
    return true;
}
