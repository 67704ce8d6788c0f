// The state machine of a Direct3D 9 device: every render, texture-stage and sampler state,
// transform, light and material keeps its value until set again. Shared by the memory
// device and the OpenGL device so both start from Direct3D 9's defaults.
#pragma once

#include "d3d9.h"

constexpr UINT kMaxLights = 8;
constexpr UINT kMaxSamplers = 16;
constexpr UINT kTransformSlots = 512;

struct DeviceState {
    DWORD renderStates[kRenderStateCount] = {};
    DWORD stageStates[kMaxTextureStages][kTextureStageStateCount] = {};
    DWORD samplerStates[kMaxSamplers][kSamplerStateCount] = {};
    D3DMATRIX transforms[kTransformSlots] = {};
    D3DLIGHT9 lights[kMaxLights] = {};
    BOOL lightEnabled[kMaxLights] = {};
    D3DMATERIAL9 material = {};
    D3DVIEWPORT9 viewport = {};
    IDirect3DVertexBuffer9* streamSource = nullptr; // not referenced, as the state only
    UINT streamOffset = 0;
    UINT streamStride = 0;
    DWORD fvf = 0;
    IDirect3DIndexBuffer9* indices = nullptr;
    IDirect3DBaseTexture9* textures[kMaxTextureStages] = {};

    // Direct3D 9's defaults; the depth test starts on when the device has a depth buffer.
    void Reset(bool depthBuffer, UINT backBufferWidth, UINT backBufferHeight);

    bool SetRenderState(D3DRENDERSTATETYPE state, DWORD value);
    bool GetRenderState(D3DRENDERSTATETYPE state, DWORD* value) const;
    bool SetStageState(DWORD stage, D3DTEXTURESTAGESTATETYPE type, DWORD value);
    bool GetStageState(DWORD stage, D3DTEXTURESTAGESTATETYPE type, DWORD* value) const;
    bool SetSamplerState(DWORD sampler, D3DSAMPLERSTATETYPE type, DWORD value);
    bool GetSamplerState(DWORD sampler, D3DSAMPLERSTATETYPE type, DWORD* value) const;
    bool SetTransform(D3DTRANSFORMSTATETYPE state, const D3DMATRIX* matrix);
    bool GetTransform(D3DTRANSFORMSTATETYPE state, D3DMATRIX* matrix) const;
    bool SetLight(DWORD index, const D3DLIGHT9* light);
    bool GetLight(DWORD index, D3DLIGHT9* light) const;
    bool LightEnable(DWORD index, BOOL enable);
    bool GetLightEnable(DWORD index, BOOL* enable) const;

    DWORD Rs(D3DRENDERSTATETYPE s) const { return renderStates[s]; }
    DWORD Tss(DWORD stage, D3DTEXTURESTAGESTATETYPE t) const { return stageStates[stage][t]; }
    DWORD Samp(DWORD sampler, D3DSAMPLERSTATETYPE t) const { return samplerStates[sampler][t]; }
    const D3DMATRIX& Transform(D3DTRANSFORMSTATETYPE s) const { return transforms[s]; }
};

D3DMATRIX IdentityMatrix();

// Bytes per vertex of a flexible vertex format (position, normal, diffuse, one texture set).
UINT FvfStride(DWORD fvf);
