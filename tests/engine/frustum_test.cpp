#include "KrFrustum.h"
#include "engine/expect.h"

#include <cmath>

namespace {

KrFrustum Build(const D3DXMATRIX& view) {
    D3DXMATRIX projection;
    D3DXMatrixPerspectiveFovLH(&projection, 1.5f, 1.0f, 10.0f, 100000.0f);
    KrFrustum f;
    BuildFrustum(&f, &view, &projection);
    return f;
}

// The terrain's culling frustum: a camera at the origin looking along +z, moved 200 back.
KrFrustum Example() {
    D3DXMATRIX view;
    return Build(*D3DXMatrixTranslation(&view, 0, 0, 200));
}

void ExpectPlane(const KrPlane& p, float a, float b, float c, float d, float dTolerance) {
    ExpectVec({p.a, p.b, p.c}, a, b, c, 1e-4f);
    EXPECT_NEAR(p.d, d, dTolerance);
}

bool Contains(const KrFrustum& f, D3DXVECTOR3 p) {
    return ContainsPoint(&f, &p);
}

TEST(Frustum, PlanesAndCentreOfTheExample) {
    const KrFrustum f = Example();
    const float s = 0.7317f, c = -0.6816f, d = -136.33f;
    ExpectPlane(f.planes[PlaneTop], 0, s, c, d, 0.05f);
    ExpectPlane(f.planes[PlaneBottom], 0, -s, c, d, 0.05f);
    ExpectPlane(f.planes[PlaneNear], 0, 0, -1, -190, 0.05f);
    // Single precision leaves the far corners within 0.1 % of the exact value.
    ExpectPlane(f.planes[PlaneFar], 0, 0, 1, -99800, 100.0f);
    ExpectPlane(f.planes[PlaneLeft], -s, 0, c, d, 0.05f);
    ExpectPlane(f.planes[PlaneRight], s, 0, c, d, 0.05f);
    ExpectVec(f.centre, 0, 0, -190, 1e-2f);
}

TEST(Frustum, PointsAndSpheresInsideCrossingAndOutside) {
    const KrFrustum f = Example();
    for (D3DXVECTOR3 p : {D3DXVECTOR3(0, 0, 500), {0, 0, -100}, {600, 0, 500}})
        EXPECT_TRUE(Contains(f, p)) << p.x << ", " << p.y << ", " << p.z;
    // On and before the near plane, at the far one, beyond a side, not a number.
    const D3DXVECTOR3 outside[] = {{0, 0, -190},  {0, 0, -195},   {0, 0, 100000},
                                   {800, 0, 500}, {0, -800, 500}, {NAN, 0, 500}};
    for (D3DXVECTOR3 p : outside)
        EXPECT_FALSE(Contains(f, p)) << p.x << ", " << p.y << ", " << p.z;
    const KrSphere inside{0, 0, 500, 1}, crossingNear{0, 0, -188, 10}, beforeNear{0, 0, -195, 1},
        aside{5000, 0, 500, 100}, behindApex{931.5f, 0, -1200, 50};
    EXPECT_EQ(ClassifySphere(&f, &inside), 2);
    EXPECT_EQ(ClassifySphere(&f, &crossingNear), 1);
    EXPECT_TRUE(ClassifySphere(&f, &beforeNear) == 0 && ClassifySphere(&f, &aside) == 0);
    // Far outside, but crossing the left plane's extension behind the apex.
    EXPECT_EQ(ClassifySphere(&f, &behindApex), 1);

    // Camera at (0, 50, 0) looking along +x.
    const KrFrustum turned = Build(D3DXMATRIX(0, 0, 1, 0, 0, 1, 0, 0, -1, 0, 0, 0, 0, -50, 0, 1));
    EXPECT_TRUE(Contains(turned, {500, 50, 0}));
    EXPECT_FALSE(Contains(turned, {0, 50, 500}) || Contains(turned, {-500, 50, 0}));
    ExpectVec(turned.centre, 10, 50, 0, 1e-3f);
}

} // namespace
