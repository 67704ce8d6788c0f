// The process-wide render device context: the device, the one light, the camera and the
// view and projection matrices.
#pragma once

#include "KrCamera.h"
#include "d3d9.h"

class KrRenderer {
public:
    static KrRenderer* GetInstance();
    // Destroys the instance (the 3D view does this when it goes); the next GetInstance
    // makes a new one.
    static void DestroyInstance();

    HRESULT Create(HWND window);
    void Initialize();
    void SetDefaultLight();
    void SetLightPosition(float x, float y, float z);
    void ApplyMaterial();
    void UpdateView();
    void SetupProjection();

    IDirect3D9* d3d = nullptr;
    IDirect3DDevice9* device = nullptr;
    HWND deviceWindow = nullptr;
    D3DLIGHT9 light{};
    D3DXMATRIX viewMatrix;
    D3DXMATRIX cullProjection;
    KrCamera camera;
    int32_t backBufferWidth = 0;
    int32_t backBufferHeight = 0;

private:
    KrRenderer() = default;
    ~KrRenderer();
    static KrRenderer* instance_;
};
