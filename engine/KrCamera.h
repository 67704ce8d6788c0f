// The editor's one viewpoint, and the world-space ray under a point of the 3D view.
#pragma once

#include "KrNode.h"
#include "win32.h"

enum KrCameraMode : int32_t { Ground = 0, Flight = 1 };

class KrCamera : public KrNode {
public:
    KrCamera();
    ~KrCamera() override;

    void Reset();
    void Walk(float d);
    void Strafe(float d);
    void Fly(float d);
    // Roll, pitch and yaw about the camera's own axes; the space selector is ignored.
    void RotateZ(float theta, int space) override;
    void RotateX(float theta, int space) override;
    void RotateY(float theta, int space) override;
    // Re-orthonormalises the axes and writes the view matrix.
    void GetViewMatrix(D3DXMATRIX* out);

    KrCameraMode mode = Flight;
    D3DXVECTOR3 right{1, 0, 0};
    D3DXVECTOR3 up{0, 1, 0};
    D3DXVECTOR3 look{0, 0, 1};
};

// distance and hitPoint are written by the terrain's picking, origin and direction by
// ComputePickRay.
struct KrPickRayPart {
    float distance;
    D3DXVECTOR3 origin;
    D3DXVECTOR3 direction;
};

struct KrPickRay {
    float distance = 0;
    D3DXVECTOR3 origin;
    D3DXVECTOR3 direction;
    D3DXVECTOR3 hitPoint;

    // Fills origin and direction for the client-area point (x, y) from the device's
    // projection and view transforms.
    KrPickRayPart ComputePickRay(IDirect3DDevice9* device, HWND window, int x, int y);
};
static_assert(sizeof(KrPickRay) == 10 * sizeof(float));
