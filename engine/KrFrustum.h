// The view frustum rebuilt every frame for culling, and its containment tests.
#pragma once

#include "d3dx9.h"

// a·x + b·y + c·z + d < 0 on the inner side; (a, b, c) points out of the frustum.
struct KrPlane {
    float a = 0, b = 0, c = 0, d = 0;
};

struct KrSphere {
    float x, y, z, radius;
};

struct KrFrustum {
    D3DXVECTOR3 corners[8];
    // top, bottom, near, far, left, right
    KrPlane planes[6];
    // Centre of the near rectangle; level-of-detail distances are measured from it.
    D3DXVECTOR3 centre;
};

enum KrFrustumPlane { PlaneTop, PlaneBottom, PlaneNear, PlaneFar, PlaneLeft, PlaneRight };

void BuildFrustum(KrFrustum* frustum, const D3DXMATRIX* view, const D3DXMATRIX* projection);
bool ContainsPoint(const KrFrustum* frustum, const D3DXVECTOR3* point);
// 0 outside, 1 crossing a plane (or its infinite extension), 2 inside.
int ClassifySphere(const KrFrustum* frustum, const KrSphere* sphere);
KrPlane PlaneFromPoints(const D3DXVECTOR3& p0, const D3DXVECTOR3& p1, const D3DXVECTOR3& p2);
D3DXVECTOR3 TransformCoord(const D3DXVECTOR3& point, const D3DXMATRIX& matrix);
