// The engine's own matrix and vector routines. Row vectors multiply on the left (p·M),
// translation sits in the fourth row, axes are left-handed and A·B applies A first.
#pragma once

#include "d3dx9.h"

// out = A·B; out may be A or B.
void MatrixMultiply(D3DXMATRIX* out, const D3DXMATRIX* a, const D3DXMATRIX* b);
void MatrixCopy(D3DXMATRIX* dst, const D3DXMATRIX* src);
void MatrixIdentity(D3DXMATRIX* out);
void MatrixRotationX(D3DXMATRIX* out, float theta);
void MatrixRotationY(D3DXMATRIX* out, float theta);
void MatrixRotationZ(D3DXMATRIX* out, float theta);
// Rotation about an axis taken as given, not normalised.
void MatrixRotationAxis(D3DXMATRIX* out, const D3DXVECTOR3* axis, float theta);
// Rx(ax)·Ry(ay)·Rz(az).
void MatrixRotationXYZ(D3DXMATRIX* out, float ax, float ay, float az);
// The adjugate over the determinant, with no test for a singular matrix.
void MatrixInverse4(D3DXMATRIX* out, const D3DXMATRIX* m);
// A zero vector gives non-finite components.
void Vec3Normalize(D3DXVECTOR3* out, const D3DXVECTOR3* v);
float SqrtF(float x);
