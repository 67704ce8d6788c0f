#include "KrCamera.h"
#include "engine/expect.h"
#include "memory_device.h"

#include <cmath>

namespace {

TEST(Camera, ResetWalkRollYawPitchAndTheViewMatrixRepairingDriftedAxes) {
    KrCamera c;
    c.look = D3DXVECTOR3(2, 0, 0);
    c.Reset();
    D3DXMATRIX view, lifted;
    c.GetViewMatrix(&view);
    ExpectMatrix(view, *D3DXMatrixTranslation(&lifted, 0, -80, 0), 0);
    c.Walk(10);
    ExpectVec(c.position, 0, 80, 10);
    c.mode = Ground; // moves stay on the plane, the height too
    c.look = D3DXVECTOR3(0, 0.6f, 0.8f);
    c.Walk(10);
    c.Fly(5);
    ExpectVec(c.position, 0, 85, 18);
    c.Reset();
    EXPECT_EQ(c.mode, Ground);
    c.RotateZ(kPi / 2, 0); // no roll on the ground
    ExpectVec(c.right, 1, 0, 0);
    c.mode = Flight;
    c.RotateZ(kPi / 2, 0);
    ExpectVec(c.right, 0, 1, 0);
    ExpectVec(c.up, -1, 0, 0);

    for (KrCameraMode mode : {Ground, Flight}) {
        c.Reset();
        c.mode = mode;
        c.RotateY(kPi / 2, 0);
        ExpectVec(c.right, 0, 0, -1);
        ExpectVec(c.look, 1, 0, 0);
        c.Reset();
        c.RotateX(0.3f, 0);
        ExpectVec(c.up, 0, std::cos(0.3f), std::sin(0.3f));
        ExpectVec(c.look, 0, -std::sin(0.3f), std::cos(0.3f));
        c.RotateY(0.7f, 0); // about the world's y: right stays level after a pitch
        EXPECT_NEAR(c.right.y, 0, 1e-6);
    }

    // The view matrix rebuilds drifted axes around the look direction.
    c.look = c.look * 3.0f;
    c.up = D3DXVECTOR3(0.1f, 0.5f, 0.2f);
    c.SetPosition(12, 34, -56);
    c.GetViewMatrix(&view);
    EXPECT_NEAR(D3DXVec3Length(&c.up), 1, 1e-5);
    D3DXVECTOR3 cross;
    D3DXVec3Cross(&cross, &c.right, &c.up); // left-handed, so up is square to look too
    ExpectVec(cross, c.look.x, c.look.y, c.look.z);
    ExpectVec(Apply(c.position, view), 0, 0, 0, 1e-4f);
    ExpectVec(Apply(c.position + c.look * 50.0f, view), 0, 0, 50, 1e-4f);
}

TEST(PickRay, FollowsTheRenderersProjectionAndKeepsTheRecordForAWindowOfNoSize) {
    MemoryDevice device;
    D3DXMATRIX projection, view;
    D3DXMatrixPerspectiveFovLH(&projection, kPi / 4, 1280.0f / 768.0f, 10.0f, 100000.0f);
    device.SetTransform(D3DTS_PROJECTION, &projection);
    EXPECT_NEAR(Apply({0, 0, 10}, projection).z, 0, 1e-6); // near and far depth: 0 and 1
    EXPECT_NEAR(Apply({0, 0, 100000}, projection).z, 1, 1e-5);
    KrCamera camera;
    camera.Reset();
    camera.GetViewMatrix(&view);
    device.SetTransform(D3DTS_VIEW, &view);
    FixedSizeWindow window(1280, 768);
    KrPickRay pick{};
    pick.ComputePickRay(&device, &window, 640, 384);
    ExpectVec(pick.origin, 0, 80, 0);
    ExpectVec(pick.direction, 0, 0, 1);
    // The top-left corner lies on the frustum's edges, at depth 1 along the view axis.
    const float t = std::tan(kPi / 8);
    pick.ComputePickRay(&device, &window, 0, 0);
    ExpectVec(pick.direction, -t * 1280 / 768, t, 1);
    camera.RotateY(kPi / 2, 0);
    camera.GetViewMatrix(&view);
    device.SetTransform(D3DTS_VIEW, &view);
    pick.ComputePickRay(&device, &window, 640, 0);
    ExpectVec(pick.direction, 1, t, 0);

    const KrPickRay before = pick;
    for (auto [w, h] : {std::pair{0, 768}, std::pair{1280, 0}}) {
        window.Resize(w, h);
        pick.ComputePickRay(&device, &window, 0, 0);
        EXPECT_TRUE(pick.direction == before.direction && pick.origin == before.origin);
    }
}

} // namespace
