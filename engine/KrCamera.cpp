// Placeholder until the camera lands.
#include "KrCamera.h"

KrCamera::KrCamera() {
    position = D3DXVECTOR3(0, 0, 3);
}
KrCamera::~KrCamera() = default;
void KrCamera::Reset() {}
void KrCamera::Walk(float) {}
void KrCamera::Strafe(float) {}
void KrCamera::Fly(float) {}
void KrCamera::RotateZ(float, int) {}
void KrCamera::RotateX(float, int) {}
void KrCamera::RotateY(float, int) {}
void KrCamera::GetViewMatrix(D3DXMATRIX* out) {
    D3DXMatrixIdentity(out);
}
KrPickRayPart KrPickRay::ComputePickRay(IDirect3DDevice9*, HWND, int, int) {
    return {distance, origin, direction};
}
