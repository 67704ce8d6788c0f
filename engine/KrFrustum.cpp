// Placeholder until the frustum lands.
#include "KrFrustum.h"

void BuildFrustum(KrFrustum*, const D3DXMATRIX*, const D3DXMATRIX*) {}
bool ContainsPoint(const KrFrustum*, const D3DXVECTOR3*) {
    return false;
}
int ClassifySphere(const KrFrustum*, const KrSphere*) {
    return 0;
}
KrPlane PlaneFromPoints(const D3DXVECTOR3&, const D3DXVECTOR3&, const D3DXVECTOR3&) {
    return {};
}
D3DXVECTOR3 TransformCoord(const D3DXVECTOR3& p, const D3DXMATRIX&) {
    return p;
}
