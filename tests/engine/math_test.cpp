#include "KrMath.h"
#include "engine/expect.h"

#include <cmath>

namespace {

TEST(KrMath, MultiplyMayWriteOverAnInputAndTheCofactorInverseMatchesTheUtility) {
    const D3DXMATRIX sample(2, 1, 0, 0, 0, 3, 1, 0, 1, 0, 4, 0, 5, -2, 7, 1);
    D3DXMATRIX a = sample, expected, mine, theirs, zero;
    MatrixMultiply(&expected, &sample, &sample);
    MatrixMultiply(&a, &a, &sample);
    ExpectMatrix(a, expected, 0);
    MatrixInverse4(&mine, &sample);
    ASSERT_NE(D3DXMatrixInverse(&theirs, nullptr, &sample), nullptr);
    ExpectMatrix(mine, theirs);
    // Singular: not finite in the engine's own, refused by the utility.
    MatrixInverse4(&mine, &zero);
    EXPECT_FALSE(std::isfinite(mine._11));
    EXPECT_EQ(D3DXMatrixInverse(&theirs, nullptr, &zero), nullptr);
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
    const D3DXVECTOR3 doubled(0, 0, 2);
    MatrixRotationAxis(&axis, &doubled, 0.4f);
    EXPECT_NEAR(axis._33, 4 * (1 - c) + c, 1e-6);
    EXPECT_NEAR(axis._12, 2 * s, 1e-6);
}

TEST(KrMath, NormaliseGivesZeroForZeroOnlyInTheUtility) {
    D3DXVECTOR3 zero, out;
    Vec3Normalize(&out, &zero);
    EXPECT_FALSE(std::isfinite(out.x));
    D3DXVec3Normalize(&out, &zero);
    EXPECT_EQ(out, D3DXVECTOR3(0, 0, 0));
}

} // namespace
