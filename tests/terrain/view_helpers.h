// Camera views, culling frusta and the grid's own triangle list for the culling tests.
#pragma once

#include "KrFrustum.h"
#include "KrMath.h"

#include <array>
#include <cmath>
#include <cstdint>
#include <vector>

// The view matrix of a camera at eye looking at target (left-handed, y up).
inline D3DXMATRIX LookAt(const D3DXVECTOR3& eye, const D3DXVECTOR3& target) {
    const auto cross = [](const D3DXVECTOR3& a, const D3DXVECTOR3& b) {
        return D3DXVECTOR3(a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x);
    };
    const auto dot = [](const D3DXVECTOR3& a, const D3DXVECTOR3& b) {
        return a.x * b.x + a.y * b.y + a.z * b.z;
    };
    D3DXVECTOR3 look = target - eye;
    Vec3Normalize(&look, &look);
    // Straight down has no horizontal heading: take +z as up on screen.
    D3DXVECTOR3 worldUp(0, 1, 0);
    if (std::fabs(look.y) > 0.9999f)
        worldUp = D3DXVECTOR3(0, 0, 1);
    D3DXVECTOR3 right = cross(worldUp, look);
    Vec3Normalize(&right, &right);
    const D3DXVECTOR3 up = cross(look, right);
    return D3DXMATRIX(right.x, up.x, look.x, 0, right.y, up.y, look.y, 0, right.z, up.z, look.z, 0,
                      -dot(eye, right), -dot(eye, up), -dot(eye, look), 1);
}

inline D3DXMATRIX CullProjection() {
    D3DXMATRIX p;
    D3DXMatrixPerspectiveFovLH(&p, 1.5f, 1.0f, 10.0f, 100000.0f);
    return p;
}

// The frustum the terrain culls with for this camera: its view moved 200 units back.
inline KrFrustum CullFrustum(const D3DXVECTOR3& eye, const D3DXVECTOR3& target) {
    D3DXMATRIX view = LookAt(eye, target);
    view._43 += 200.0f;
    const D3DXMATRIX projection = CullProjection();
    KrFrustum f;
    BuildFrustum(&f, &view, &projection);
    return f;
}

// A frustum that holds every point, its level-of-detail centre at eye.
inline KrFrustum EverythingFrustum(const D3DXVECTOR3& eye) {
    KrFrustum f;
    for (KrPlane& p : f.planes)
        p = KrPlane{1, 0, 0, -1e9f};
    f.centre = eye;
    return f;
}

using Triangle = std::array<int32_t, 3>;

// Every cell's (A, B, C) and (C, B, D), rows outer and columns inner.
inline std::vector<Triangle> FullGrid(int32_t w, int32_t d) {
    std::vector<Triangle> out;
    for (int32_t r = 0; r + 1 < d; ++r) {
        for (int32_t c = 0; c + 1 < w; ++c) {
            const int32_t a = r * w + c;
            out.push_back({a, a + 1, a + w});
            out.push_back({a + w, a + 1, a + w + 1});
        }
    }
    return out;
}
