// Placeholder until the MapVertexData file lands.
#include "KrTerrain.h"

bool KrTerrain::SaveMapVertexData(const char*, std::string* error) const {
    if (error)
        *error = "not available yet";
    return false;
}
bool KrTerrain::LoadMapVertexData(const char*, std::string* error) {
    if (error)
        *error = "not available yet";
    return false;
}
