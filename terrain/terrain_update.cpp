// Placeholder until the per-frame update lands.
#include "KrTerrain.h"

void KrTerrain::Update() {}
bool KrTerrain::UpdateTerrain(D3DXMATRIX, D3DXMATRIX) {
    return true;
}
bool KrTerrain::BuildFullIndexList(int32_t*) {
    return true;
}
