// The per-frame rebuild of the visible triangle list, and the work that shares it while the
// index buffer is locked: picking, the active tool and the normals.
#include "KrQuadTree.h"
#include "KrRenderer.h"
#include "KrTerrain.h"

void KrTerrain::Update() {
    KrRenderer* renderer = KrRenderer::GetInstance();
    D3DXMATRIX view = renderer->viewMatrix;
    // Culling looks from 200 units behind the eye, so terrain just beside and below the
    // camera stays in the list.
    view._43 += 200.0f;
    UpdateTerrain(view, renderer->cullProjection);
}

bool KrTerrain::UpdateTerrain(D3DXMATRIX view, D3DXMATRIX projection) {
    BuildFrustum(&frustum, &view, &projection);
    visibleTriangleCount = 0;
    pickHit = false;
    // A terrain whose creation was refused or never ran has nothing to list.
    if (!indexBuffer || !vertices)
        return false;

    void* locked = nullptr;
    if (FAILED(indexBuffer->Lock(0, static_cast<UINT>(info.numTriangles) * 12, &locked, 0)))
        return false;
    auto* triangles = static_cast<int32_t*>(locked);

    if (quadTreeEnabled && quadTree) {
        visibleTriangleCount = quadTree->CullAndGenerateIndices(
            0, triangles, vertices, &frustum, static_cast<double>(lodThreshold) * 0.001);
    } else {
        BuildFullIndexList(triangles);
    }

    if (pickRay)
        PickTerrain(triangles);

    // Only at a point picked this frame: a ray that misses leaves the old point behind.
    if (editing && pickHit) {
        if (activeTool == 0)
            ApplyHeightBrush();
        else if (activeTool == 1 && pickRay)
            PaintSplat(pickRay, selectedLayer);
    }

    UpdateNormals(triangles);
    indexBuffer->Unlock();
    return true;
}

bool KrTerrain::BuildFullIndexList(int32_t* triangles) {
    const int32_t w = info.vertsPerRow;
    const auto inside = [this](int32_t i) {
        const D3DXVECTOR3 p(vertices[i].x, vertices[i].y, vertices[i].z);
        return ContainsPoint(&frustum, &p);
    };
    int32_t* out = triangles + 3 * static_cast<int64_t>(visibleTriangleCount);
    for (int32_t r = 0; r < info.cellsPerCol; ++r) {
        // A cell's left corners are the right corners of the cell before it: each vertex of
        // the row pair is tested once.
        bool ia = inside(r * w), ic = inside((r + 1) * w);
        for (int32_t c = 0; c < info.cellsPerRow; ++c) {
            const int32_t a = r * w + c, b = a + 1;
            const int32_t cc = (r + 1) * w + c, d = cc + 1;
            const bool ib = inside(b), id = inside(d);
            if (ia || ib || ic) {
                out[0] = a, out[1] = b, out[2] = cc;
                out += 3;
                ++visibleTriangleCount;
            }
            if (ic || ib || id) {
                out[0] = cc, out[1] = b, out[2] = d;
                out += 3;
                ++visibleTriangleCount;
            }
            ia = ib;
            ic = id;
        }
    }
    return true;
}
