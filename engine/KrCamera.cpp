#include "KrCamera.h"

#include "KrMath.h"

#include <cmath>

namespace {

// v·M on the upper-left 3×3 part, every component from the vector before the turn.
D3DXVECTOR3 Turn(const D3DXVECTOR3& v, const D3DXMATRIX& m) {
    return D3DXVECTOR3(v.x * m._11 + v.y * m._21 + v.z * m._31,
                       v.x * m._12 + v.y * m._22 + v.z * m._32,
                       v.x * m._13 + v.y * m._23 + v.z * m._33);
}

D3DXVECTOR3 Cross(const D3DXVECTOR3& a, const D3DXVECTOR3& b) {
    return D3DXVECTOR3(a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x);
}

float Dot(const D3DXVECTOR3& a, const D3DXVECTOR3& b) {
    return a.x * b.x + a.y * b.y + a.z * b.z;
}

bool IsFinite(const D3DXVECTOR3& v) {
    return std::isfinite(v.x) && std::isfinite(v.y) && std::isfinite(v.z);
}

} // namespace

KrCamera::KrCamera() {
    position = D3DXVECTOR3(0, 0, 3);
}

KrCamera::~KrCamera() = default;

void KrCamera::Reset() {
    position = D3DXVECTOR3(0, 80, 0);
    right = D3DXVECTOR3(1, 0, 0);
    up = D3DXVECTOR3(0, 1, 0);
    look = D3DXVECTOR3(0, 0, 1);
}

void KrCamera::Walk(float d) {
    if (mode == Ground) {
        position.x += look.x * d;
        position.z += look.z * d;
    } else if (mode == Flight) {
        position += look * d;
    }
}

void KrCamera::Strafe(float d) {
    if (mode == Ground) {
        position.x += right.x * d;
        position.z += right.z * d;
    } else if (mode == Flight) {
        position += right * d;
    }
}

void KrCamera::Fly(float d) {
    if (mode == Ground)
        position.y += d;
    else if (mode == Flight)
        position += up * d;
}

void KrCamera::RotateZ(float theta, int) {
    // A ground camera cannot roll.
    if (mode != Flight)
        return;
    D3DXMATRIX m;
    MatrixRotationAxis(&m, &look, theta);
    right = Turn(right, m);
    up = Turn(up, m);
}

void KrCamera::RotateX(float theta, int) {
    if (mode != Ground && mode != Flight)
        return;
    D3DXMATRIX m;
    MatrixRotationAxis(&m, &right, theta);
    up = Turn(up, m);
    look = Turn(look, m);
}

void KrCamera::RotateY(float theta, int) {
    D3DXMATRIX m;
    if (mode == Ground) {
        MatrixRotationY(&m, theta);
    } else if (mode == Flight) {
        const D3DXVECTOR3 worldUp(0, 1, 0);
        MatrixRotationAxis(&m, &worldUp, theta);
    } else {
        return;
    }
    right = Turn(right, m);
    look = Turn(look, m);
}

void KrCamera::GetViewMatrix(D3DXMATRIX* out) {
    // Turns accumulate rounding; rebuild an orthonormal frame from look before use.
    Vec3Normalize(&look, &look);
    const D3DXVECTOR3 newUp = Cross(look, right);
    Vec3Normalize(&up, &newUp);
    const D3DXVECTOR3 newRight = Cross(up, look);
    Vec3Normalize(&right, &newRight);

    *out = D3DXMATRIX(right.x, up.x, look.x, 0, //
                      right.y, up.y, look.y, 0, //
                      right.z, up.z, look.z, 0, //
                      -Dot(position, right), -Dot(position, up), -Dot(position, look), 1);
}

KrPickRayPart KrPickRay::ComputePickRay(IDirect3DDevice9* device, HWND window, int x, int y) {
    D3DXMATRIX projection;
    D3DXMATRIX view;
    RECT r{};
    // A window of no size, a transform that cannot be read or a view that cannot be
    // inverted would fill the record with infinities or NaNs that picking then carries
    // into the brush; the previous ray is kept instead.
    if (device && SUCCEEDED(device->GetTransform(D3DTS_PROJECTION, &projection)) &&
        GetClientRect(window, &r) && r.right > r.left && r.bottom > r.top) {
        const float vx = ((2.0f * static_cast<float>(x - r.left) / static_cast<float>(r.right)) -
                          1.0f - projection._31) /
                         projection._11;
        const float vy =
            (-((2.0f * static_cast<float>(y - r.top) / static_cast<float>(r.bottom)) - 1.0f) -
             projection._32) /
            projection._22;

        D3DXMATRIX inverse;
        if (SUCCEEDED(device->GetTransform(D3DTS_VIEW, &view)) &&
            D3DXMatrixInverse(&inverse, nullptr, &view)) {
            const D3DXVECTOR3 newDirection(vx * inverse._11 + vy * inverse._21 + inverse._31,
                                           vx * inverse._12 + vy * inverse._22 + inverse._32,
                                           vx * inverse._13 + vy * inverse._23 + inverse._33);
            const D3DXVECTOR3 newOrigin(inverse._41, inverse._42, inverse._43);
            if (IsFinite(newDirection) && IsFinite(newOrigin)) {
                direction = newDirection;
                origin = newOrigin;
            }
        }
    }
    return {distance, origin, direction};
}
