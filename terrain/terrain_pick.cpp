// Placeholder until picking lands.
#include "KrTerrain.h"

bool KrTerrain::PickTerrain(const int32_t*) {
    return pickHit = false;
}
bool KrTerrain::IntersectTriangle(KrPickRay*, const D3DXVECTOR3&, const D3DXVECTOR3&,
                                  const D3DXVECTOR3&) {
    return false;
}
void KrTerrain::WorldToCell(float, float, int32_t* column, int32_t* row) const {
    *column = *row = 0;
}
float KrTerrain::GetHeight(float, float) const {
    return 0;
}
