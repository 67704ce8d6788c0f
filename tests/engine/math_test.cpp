#include "KrMath.h"
#include "engine/expect.h"

#include <cmath>

namespace {

const D3DXMATRIX kSample(2, 1, 0, 0, 0, 3, 1, 0, 1, 0, 4, 0, 5, -2, 7, 1);

TEST(KrMath, MultiplyMayWriteOverAnInput) {
    D3DXMATRIX a = kSample, expected;
    MatrixMultiply(&expected, &kSample, &kSample);
    MatrixMultiply(&a, &a, &kSample);
    ExpectMatrix(a, expected, 0);
}

TEST(KrMath, RotationsAreLeftHandedAndTheAxisIsNotNormalised) {
    const float c = std::cos(0.4f), s = std::sin(0.4f);
    D3DXMATRIX x, y, z, axis;
    MatrixRotationX(&x, 0.4f);
    MatrixRotationY(&y, 0.4f);
    MatrixRotationZ(&z, 0.4f);
    ExpectVec(Apply({0, 1, 0}, x), 0, c, s);
    ExpectVec(Apply({0, 0, 1}, y), s, 0, c);
    ExpectVec(Apply({1, 0, 0}, z), c, s, 0);

    const D3DXVECTOR3 unit(0, 0, 1), doubled(0, 0, 2);
    MatrixRotationAxis(&axis, &unit, 0.4f);
    ExpectMatrix(axis, z, 1e-6f);
    MatrixRotationAxis(&axis, &doubled, 0.4f);
    EXPECT_NEAR(axis._33, 4 * (1 - c) + c, 1e-6);
    EXPECT_NEAR(axis._12, 2 * s, 1e-6);
}

TEST(KrMath, CofactorInverseMatchesTheUtilityAndIsNotFiniteWhenSingular) {
    D3DXMATRIX mine, theirs, zero, out;
    MatrixInverse4(&mine, &kSample);
    ASSERT_NE(D3DXMatrixInverse(&theirs, nullptr, &kSample), nullptr);
    ExpectMatrix(mine, theirs);
    MatrixInverse4(&out, &zero);
    EXPECT_FALSE(std::isfinite(out._11));
    EXPECT_EQ(D3DXMatrixInverse(&out, nullptr, &zero), nullptr);
}

TEST(KrMath, NormaliseGivesZeroForZeroOnlyInTheUtility) {
    D3DXVECTOR3 v(3, 0, 4), zero, out;
    Vec3Normalize(&out, &v);
    ExpectVec(out, 0.6f, 0, 0.8f, 1e-7f);
    Vec3Normalize(&out, &zero);
    EXPECT_FALSE(std::isfinite(out.x));
    D3DXVec3Normalize(&out, &zero);
    EXPECT_EQ(out, D3DXVECTOR3(0, 0, 0));
}

TEST(KrMath, PerspectiveFovLHMapsNearToZeroAndFarToOne) {
    D3DXMATRIX p;
    D3DXMatrixPerspectiveFovLH(&p, kPi / 4, 1280.0f / 768.0f, 10, 100000);
    EXPECT_NEAR(Apply({0, 0, 10}, p).z, 0, 1e-6);
    EXPECT_NEAR(Apply({0, 0, 100000}, p).z, 1, 1e-5);
    EXPECT_EQ(p._34, 1); // w is the view depth; the pick ray's test checks the fields of view
}

} // namespace
