#include "grid_layout.h"

#include "d3dx9.h"

#include <cmath>
#include <cstring>

void LayOutGridRows(const KrTerrainInfo& info, int32_t firstRow, int32_t endRow,
                    KrTerrainVertex* vertices) {
    const int32_t w = info.vertsPerRow;
    const int32_t d = info.vertsPerCol;
    const float halfW = static_cast<float>(w) * 0.5f;
    const float halfD = static_cast<float>(d) * 0.5f;
    for (int32_t i = firstRow; i < endRow; ++i) {
        KrTerrainVertex* row = vertices + static_cast<size_t>(i) * static_cast<size_t>(w);
        for (int32_t j = 0; j < w; ++j) {
            KrTerrainVertex& v = row[j];
            v.x = (static_cast<float>(j) - halfW) * info.cellSpacingX;
            v.y = 0.0f;
            v.z = -(static_cast<float>(i) - halfD) * info.cellSpacingZ;
            D3DXVECTOR3 normal(v.x, 0.0f, v.z);
            D3DXVec3Normalize(&normal, &normal);
            v.nx = normal.x;
            v.ny = normal.y;
            v.nz = normal.z;
            v.u = static_cast<float>(j) / static_cast<float>(w - 1);
            v.v = static_cast<float>(i) / static_cast<float>(d - 1);
        }
    }
}

namespace {

D3DXVECTOR3 Position(const KrTerrainVertex& v) {
    return D3DXVECTOR3(v.x, v.y, v.z);
}

void AddFace(KrTerrainVertex* vertices, int32_t i0, int32_t i1, int32_t i2) {
    const D3DXVECTOR3 p0 = Position(vertices[i0]);
    const D3DXVECTOR3 e1 = Position(vertices[i1]) - p0;
    const D3DXVECTOR3 e2 = Position(vertices[i2]) - p0;
    D3DXVECTOR3 f(e1.y * e2.z - e1.z * e2.y, e1.z * e2.x - e1.x * e2.z, e1.x * e2.y - e1.y * e2.x);
    if (std::isfinite(f.x * f.x + f.y * f.y + f.z * f.z))
        D3DXVec3Normalize(&f, &f);
    else
        f = WideFaceNormal(vertices[i0], vertices[i1], vertices[i2]);
    for (int32_t index : {i0, i1, i2}) {
        vertices[index].nx += f.x;
        vertices[index].ny += f.y;
        vertices[index].nz += f.z;
    }
}

} // namespace

D3DXVECTOR3 WideFaceNormal(const KrTerrainVertex& v0, const KrTerrainVertex& v1,
                           const KrTerrainVertex& v2) {
    const double e1x = double(v1.x) - v0.x, e1y = double(v1.y) - v0.y, e1z = double(v1.z) - v0.z;
    const double e2x = double(v2.x) - v0.x, e2y = double(v2.y) - v0.y, e2z = double(v2.z) - v0.z;
    const double x = e1y * e2z - e1z * e2y, y = e1z * e2x - e1x * e2z, z = e1x * e2y - e1y * e2x;
    const double len = std::sqrt(x * x + y * y + z * z);
    if (!(len > 0.0) || !std::isfinite(len))
        return D3DXVECTOR3(0.0f, 0.0f, 0.0f);
    return D3DXVECTOR3(static_cast<float>(x / len), static_cast<float>(y / len),
                       static_cast<float>(z / len));
}

// The faces are added cell by cell, rows outer, as the full triangle list names them.
void ComputeGridNormals(const KrTerrainInfo& info, KrTerrainVertex* vertices) {
    const int32_t w = info.vertsPerRow;
    const size_t count = static_cast<size_t>(info.numVertices);
    for (size_t i = 0; i < count; ++i)
        vertices[i].nx = vertices[i].ny = vertices[i].nz = 0.0f;
    for (int32_t r = 0; r < info.cellsPerCol; ++r) {
        for (int32_t c = 0; c < info.cellsPerRow; ++c) {
            const int32_t a = r * w + c, b = a + 1, cc = a + w, d = cc + 1;
            AddFace(vertices, a, b, cc);
            AddFace(vertices, cc, b, d);
        }
    }
    for (size_t i = 0; i < count; ++i) {
        D3DXVECTOR3 n(vertices[i].nx, vertices[i].ny, vertices[i].nz);
        D3DXVec3Normalize(&n, &n);
        vertices[i].nx = n.x;
        vertices[i].ny = n.y;
        vertices[i].nz = n.z;
    }
}
