// The flat grid as a new terrain lays it out, and normals worked out from a grid's heights:
// plain array work that needs no device, shared by the terrain and the converter.
#pragma once

#include "KrTerrain.h"
#include "d3dx9.h"

// Writes rows [firstRow, endRow) of the flat grid that info describes into vertices, the
// whole array (record row × W + column): heights 0, normals pointing away from the grid's
// centre, texture coordinates 0 to 1 across the grid.
void LayOutGridRows(const KrTerrainInfo& info, int32_t firstRow, int32_t endRow,
                    KrTerrainVertex* vertices);

// Gives every vertex the normalised sum of the unit face normals of the grid's triangles
// that use it: the normals the per-frame pass converges on when every triangle is listed.
void ComputeGridNormals(const KrTerrainInfo& info, KrTerrainVertex* vertices);

// The unit normal of the triangle v0 v1 v2, worked out in double: for positions so far out
// (heights near the float limit) that the edges, the cross product or its length overflow a
// float. Zero for a degenerate triangle.
D3DXVECTOR3 WideFaceNormal(const KrTerrainVertex& v0, const KrTerrainVertex& v1,
                           const KrTerrainVertex& v2);
