#include "KrFrustum.h"
#include "KrMath.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

// The terrain's culling frustum for a camera at the origin looking along +z.
KrFrustum ExampleFrustum() {
    D3DXMATRIX view;
    MatrixIdentity(&view);
    view._43 = 200.0f;
    D3DXMATRIX projection;
    D3DXMatrixPerspectiveFovLH(&projection, 1.5f, 1.0f, 10.0f, 100000.0f);
    KrFrustum f;
    BuildFrustum(&f, &view, &projection);
    return f;
}

void ExpectPlane(const KrPlane& p, float a, float b, float c, float d, float tolerance) {
    EXPECT_NEAR(p.a, a, 1e-4f);
    EXPECT_NEAR(p.b, b, 1e-4f);
    EXPECT_NEAR(p.c, c, 1e-4f);
    EXPECT_NEAR(p.d, d, tolerance);
}

bool Contains(const KrFrustum& f, float x, float y, float z) {
    const D3DXVECTOR3 p(x, y, z);
    return ContainsPoint(&f, &p);
}

int Classify(const KrFrustum& f, float x, float y, float z, float r) {
    const KrSphere s{x, y, z, r};
    return ClassifySphere(&f, &s);
}

TEST(Frustum, PlanesAndCentreOfTheCullingFrustum) {
    const KrFrustum f = ExampleFrustum();
    ExpectPlane(f.planes[PlaneNear], 0, 0, -1, -190, 0.05f);
    // Single precision leaves the far corners within 0.1 % of the exact value.
    ExpectPlane(f.planes[PlaneFar], 0, 0, 1, -99800, 100.0f);
    ExpectPlane(f.planes[PlaneLeft], -0.7317f, 0, -0.6816f, -136.33f, 0.05f);
    ExpectPlane(f.planes[PlaneRight], 0.7317f, 0, -0.6816f, -136.33f, 0.05f);
    ExpectPlane(f.planes[PlaneTop], 0, 0.7317f, -0.6816f, -136.33f, 0.05f);
    ExpectPlane(f.planes[PlaneBottom], 0, -0.7317f, -0.6816f, -136.33f, 0.05f);
    EXPECT_NEAR(f.centre.x, 0, 1e-3f);
    EXPECT_NEAR(f.centre.y, 0, 1e-3f);
    EXPECT_NEAR(f.centre.z, -190, 1e-2f);
    // Corner 0 is near bottom left, corner 6 far top right.
    EXPECT_LT(f.corners[0].x, 0);
    EXPECT_LT(f.corners[0].y, 0);
    EXPECT_NEAR(f.corners[0].z, -190, 1e-2f);
    EXPECT_GT(f.corners[6].x, 0);
    EXPECT_GT(f.corners[6].y, 0);
    EXPECT_NEAR(f.corners[6].z, 99800, 100.0f);
    for (const KrPlane& p : f.planes)
        EXPECT_NEAR(p.a * p.a + p.b * p.b + p.c * p.c, 1.0f, 1e-5f);
}

TEST(Frustum, PointsInsideOnAndOutside) {
    const KrFrustum f = ExampleFrustum();
    EXPECT_TRUE(Contains(f, 0, 0, 500));
    EXPECT_TRUE(Contains(f, 0, 0, -100)); // behind the eye, in front of the moved apex
    EXPECT_FALSE(Contains(f, 0, 0, -195));
    EXPECT_FALSE(Contains(f, 0, 0, -190)); // on the near plane
    EXPECT_FALSE(Contains(f, 0, 0, 100000));
    EXPECT_TRUE(Contains(f, 600, 0, 500));   // inside the wide side planes
    EXPECT_FALSE(Contains(f, 800, 0, 500));  // beyond the right plane
    EXPECT_FALSE(Contains(f, 0, -800, 500)); // below the bottom plane
    EXPECT_FALSE(Contains(f, NAN, 0, 500));
}

TEST(Frustum, SpheresInsideCrossingAndOutside) {
    const KrFrustum f = ExampleFrustum();
    EXPECT_EQ(Classify(f, 0, 0, 500, 1), 2);
    EXPECT_EQ(Classify(f, 0, 0, -188, 10), 1);
    EXPECT_EQ(Classify(f, 0, 0, -195, 1), 0);
    EXPECT_EQ(Classify(f, 5000, 0, 500, 100), 0);
    // Far outside, but crossing the extension of the left plane behind the apex.
    EXPECT_EQ(Classify(f, 931.5f, 0, -1200, 50), 1);
}

TEST(Frustum, FollowsATurnedView) {
    // Camera at (0, 50, 0) looking along +x: the view is the inverse of its world matrix.
    const D3DXMATRIX view(0, 0, 1, 0, 0, 1, 0, 0, -1, 0, 0, 0, 0, -50, 0, 1);
    D3DXMATRIX projection;
    D3DXMatrixPerspectiveFovLH(&projection, 1.5f, 1.0f, 10.0f, 100000.0f);
    KrFrustum f;
    BuildFrustum(&f, &view, &projection);
    EXPECT_TRUE(Contains(f, 500, 50, 0));
    EXPECT_FALSE(Contains(f, 0, 50, 500));
    EXPECT_FALSE(Contains(f, -500, 50, 0));
    EXPECT_NEAR(f.centre.x, 10, 1e-3f);
    EXPECT_NEAR(f.centre.y, 50, 1e-3f);
    ExpectPlane(f.planes[PlaneNear], -1, 0, 0, 10, 0.01f);
}

TEST(Frustum, SingularMatricesContainNothing) {
    const D3DXMATRIX zero;
    KrFrustum f;
    BuildFrustum(&f, &zero, &zero);
    EXPECT_FALSE(Contains(f, 0, 0, 0));
    EXPECT_FALSE(Contains(f, 0, 0, 500));
}

TEST(Frustum, PlaneAndTransformHelpers) {
    // (P2 − P0) × (P1 − P0): +z then +x gives +y.
    const KrPlane p =
        PlaneFromPoints(D3DXVECTOR3(0, 5, 0), D3DXVECTOR3(1, 5, 0), D3DXVECTOR3(0, 5, 1));
    ExpectPlane(p, 0, 1, 0, -5, 1e-5f);

    D3DXMATRIX m;
    MatrixIdentity(&m);
    m._41 = 3;
    m._44 = 2; // w = 2 divides every component
    const D3DXVECTOR3 t = TransformCoord(D3DXVECTOR3(1, 2, 4), m);
    EXPECT_FLOAT_EQ(t.x, 2);
    EXPECT_FLOAT_EQ(t.y, 1);
    EXPECT_FLOAT_EQ(t.z, 2);
}

} // namespace
