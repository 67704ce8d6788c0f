// Placeholder until drawing lands.
#include "KrTerrain.h"

void KrTerrain::Render() {}
