#include "KrMath.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

void ExpectNear(const D3DXMATRIX& a, const D3DXMATRIX& b, float tolerance) {
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 4; ++c)
            EXPECT_NEAR(a(r, c), b(r, c), tolerance) << r << "," << c;
}

D3DXMATRIX Sample() {
    return D3DXMATRIX(2, 1, 0, 0, 0, 3, 1, 0, 1, 0, 4, 0, 5, -2, 7, 1);
}

TEST(KrMath, MultiplyAppliesTheLeftMatrixFirst) {
    D3DXMATRIX t, r, tr;
    D3DXMatrixTranslation(&t, 10, 0, 0);
    MatrixRotationY(&r, 3.14159265f / 2);
    MatrixMultiply(&tr, &t, &r);
    D3DXVECTOR3 origin(0, 0, 0), out;
    D3DXVec3TransformCoord(&out, &origin, &tr);
    EXPECT_NEAR(out.x, 0, 1e-5);
    EXPECT_NEAR(out.z, -10, 1e-5);

    // In place: out aliases an input.
    D3DXMATRIX a = Sample(), b = Sample(), expected;
    MatrixMultiply(&expected, &a, &b);
    MatrixMultiply(&a, &a, &b);
    ExpectNear(a, expected, 0);
}

TEST(KrMath, ElementaryRotationsUseTheLeftHandedTables) {
    const float c = std::cos(0.4f), s = std::sin(0.4f);
    D3DXMATRIX x, y, z;
    MatrixRotationX(&x, 0.4f);
    MatrixRotationY(&y, 0.4f);
    MatrixRotationZ(&z, 0.4f);
    EXPECT_FLOAT_EQ(x._23, s);
    EXPECT_FLOAT_EQ(x._32, -s);
    EXPECT_FLOAT_EQ(y._13, -s);
    EXPECT_FLOAT_EQ(y._31, s);
    EXPECT_FLOAT_EQ(z._12, s);
    EXPECT_FLOAT_EQ(z._21, -s);
    EXPECT_FLOAT_EQ(z._11, c);
}

TEST(KrMath, AxisRotationIsNotNormalised) {
    D3DXVECTOR3 unit(0, 0, 1), doubled(0, 0, 2);
    D3DXMATRIX a, b, z;
    MatrixRotationAxis(&a, &unit, 0.6f);
    MatrixRotationZ(&z, 0.6f);
    ExpectNear(a, z, 1e-6f);
    MatrixRotationAxis(&b, &doubled, 0.6f);
    EXPECT_NEAR(b._33, 4 * (1 - std::cos(0.6f)) + std::cos(0.6f), 1e-6);
    EXPECT_NEAR(b._12, 2 * std::sin(0.6f), 1e-6);
}

TEST(KrMath, InverseByCofactorsMatchesTheUtilityInverse) {
    D3DXMATRIX m = Sample(), mine, theirs, product, identity;
    MatrixInverse4(&mine, &m);
    ASSERT_NE(D3DXMatrixInverse(&theirs, nullptr, &m), nullptr);
    ExpectNear(mine, theirs, 1e-5f);
    MatrixMultiply(&product, &m, &mine);
    MatrixIdentity(&identity);
    ExpectNear(product, identity, 1e-5f);

    // A singular matrix is not detected: the result is not finite.
    D3DXMATRIX zero, out;
    MatrixInverse4(&out, &zero);
    EXPECT_FALSE(std::isfinite(out._11));
    EXPECT_EQ(D3DXMatrixInverse(&out, nullptr, &zero), nullptr);
}

TEST(KrMath, NormaliseDiffersOnTheZeroVector) {
    D3DXVECTOR3 v(3, 0, 4), out;
    Vec3Normalize(&out, &v);
    EXPECT_FLOAT_EQ(out.x, 0.6f);
    EXPECT_FLOAT_EQ(out.z, 0.8f);
    D3DXVECTOR3 zero;
    Vec3Normalize(&out, &zero);
    EXPECT_FALSE(std::isfinite(out.x));
    D3DXVec3Normalize(&out, &zero);
    EXPECT_EQ(out, D3DXVECTOR3(0, 0, 0));
    EXPECT_EQ(SqrtF(2.0f), static_cast<float>(std::sqrt(2.0)));
}

TEST(KrMath, PerspectiveFovLHMapsNearToZeroAndFarToOne) {
    D3DXMATRIX p;
    D3DXMatrixPerspectiveFovLH(&p, 3.14159265f / 4, 1280.0f / 768.0f, 10, 100000);
    D3DXVECTOR3 nearPoint(0, 0, 10), farPoint(0, 0, 100000), out;
    D3DXVec3TransformCoord(&out, &nearPoint, &p);
    EXPECT_NEAR(out.z, 0, 1e-6);
    D3DXVec3TransformCoord(&out, &farPoint, &p);
    EXPECT_NEAR(out.z, 1, 1e-5);
    EXPECT_NEAR(p._22, 1 / std::tan(3.14159265f / 8), 1e-5);
    EXPECT_NEAR(p._11, p._22 * 768.0f / 1280.0f, 1e-5);
    EXPECT_EQ(p._34, 1);
}

} // namespace
