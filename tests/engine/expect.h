// Comparisons shared by the engine tests.
#pragma once

#include "d3dx9.h"

#include <gtest/gtest.h>

constexpr float kPi = 3.14159265358979f;

inline void ExpectVec(const D3DXVECTOR3& v, float x, float y, float z, float eps = 1e-5f) {
    EXPECT_NEAR(v.x, x, eps);
    EXPECT_NEAR(v.y, y, eps);
    EXPECT_NEAR(v.z, z, eps);
}

inline void ExpectMatrix(const D3DMATRIX& a, const D3DMATRIX& b, float eps = 1e-5f) {
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 4; ++c)
            EXPECT_NEAR(a.m[r][c], b.m[r][c], eps) << r << "," << c;
}

inline D3DXVECTOR3 Apply(D3DXVECTOR3 v, const D3DXMATRIX& m) {
    D3DXVECTOR3 out;
    D3DXVec3TransformCoord(&out, &v, &m);
    return out;
}
