// Placeholder until texture splatting lands.
#include "KrTerrain.h"

bool KrTerrain::AddTexture(const wchar_t*, std::string*) {
    return false;
}
bool KrTerrain::RemoveTexture(int32_t) {
    return false;
}
bool KrTerrain::AddSplatLayer(int32_t) {
    return false;
}
bool KrTerrain::AddAlphaMap() {
    return false;
}
bool KrTerrain::RemoveAlphaMap(int32_t) {
    return false;
}
bool KrTerrain::RemoveSplatLayer(int32_t) {
    return false;
}
bool KrTerrain::SwapSplatLayers(int32_t, int32_t) {
    return false;
}
bool KrTerrain::PaintSplat(KrPickRay*, int32_t) {
    return false;
}
