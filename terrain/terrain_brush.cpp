// Placeholder until the height brush lands.
#include "KrTerrain.h"

void KrTerrain::ApplyHeightBrush() {}
bool KrTerrain::UpdateBrushOutline(KrPickRay*) {
    return false;
}
