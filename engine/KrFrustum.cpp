#include "KrFrustum.h"

#include "KrMath.h"

#include <cmath>

namespace {

// The clip-volume corners, near plane at z = 0 and far plane at z = 1.
constexpr float kClipCorners[8][3] = {
    {-1, -1, 0}, {1, -1, 0}, {1, -1, 1}, {-1, -1, 1}, {-1, 1, 0}, {1, 1, 0}, {1, 1, 1}, {-1, 1, 1},
};

// Corner triples per plane, in the plane order; these orders make every normal point out.
constexpr int kPlaneCorners[6][3] = {
    {4, 6, 7}, {0, 2, 1}, {0, 5, 4}, {2, 7, 6}, {0, 7, 3}, {1, 6, 5},
};

float Distance(const KrPlane& p, float x, float y, float z) {
    return p.a * x + p.b * y + p.c * z + p.d;
}

} // namespace

D3DXVECTOR3 TransformCoord(const D3DXVECTOR3& p, const D3DXMATRIX& m) {
    const float w = p.x * m._14 + p.y * m._24 + p.z * m._34 + m._44;
    return D3DXVECTOR3((p.x * m._11 + p.y * m._21 + p.z * m._31 + m._41) / w,
                       (p.x * m._12 + p.y * m._22 + p.z * m._32 + m._42) / w,
                       (p.x * m._13 + p.y * m._23 + p.z * m._33 + m._43) / w);
}

KrPlane PlaneFromPoints(const D3DXVECTOR3& p0, const D3DXVECTOR3& p1, const D3DXVECTOR3& p2) {
    const D3DXVECTOR3 u = p2 - p0;
    const D3DXVECTOR3 v = p1 - p0;
    D3DXVECTOR3 n(u.y * v.z - u.z * v.y, u.z * v.x - u.x * v.z, u.x * v.y - u.y * v.x);
    Vec3Normalize(&n, &n);
    return KrPlane{n.x, n.y, n.z, -(n.x * p0.x + n.y * p0.y + n.z * p0.z)};
}

// The inverse lives on the stack, so builds of different frusta cannot disturb each other.
void BuildFrustum(KrFrustum* frustum, const D3DXMATRIX* view, const D3DXMATRIX* projection) {
    D3DXMATRIX viewProjection;
    MatrixMultiply(&viewProjection, view, projection);
    D3DXMATRIX inverse;
    MatrixInverse4(&inverse, &viewProjection);

    for (int i = 0; i < 8; ++i) {
        const D3DXVECTOR3 clip(kClipCorners[i][0], kClipCorners[i][1], kClipCorners[i][2]);
        frustum->corners[i] = TransformCoord(clip, inverse);
    }
    frustum->centre = (frustum->corners[0] + frustum->corners[5]) * 0.5f;
    for (int i = 0; i < 6; ++i) {
        const int* c = kPlaneCorners[i];
        frustum->planes[i] =
            PlaneFromPoints(frustum->corners[c[0]], frustum->corners[c[1]], frustum->corners[c[2]]);
    }
}

// Written as "not below zero means outside" so that a non-finite distance is outside.
bool ContainsPoint(const KrFrustum* frustum, const D3DXVECTOR3* point) {
    for (const KrPlane& plane : frustum->planes) {
        if (!(Distance(plane, point->x, point->y, point->z) < 0.0f))
            return false;
    }
    return true;
}

int ClassifySphere(const KrFrustum* frustum, const KrSphere* sphere) {
    for (const KrPlane& plane : frustum->planes) {
        const float length = std::sqrt(plane.a * plane.a + plane.b * plane.b + plane.c * plane.c);
        if (std::fabs(Distance(plane, sphere->x, sphere->y, sphere->z)) / length < sphere->radius)
            return 1;
    }
    for (const KrPlane& plane : frustum->planes) {
        if (!(Distance(plane, sphere->x, sphere->y, sphere->z) < 0.0f))
            return 0;
    }
    return 2;
}
