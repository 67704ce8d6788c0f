#include "device_state.h"

#include <cstring>

D3DMATRIX IdentityMatrix() {
    D3DMATRIX m{};
    m._11 = m._22 = m._33 = m._44 = 1.0f;
    return m;
}

UINT FvfStride(DWORD fvf) {
    UINT stride = 0;
    if (fvf & D3DFVF_XYZ)
        stride += 12;
    if (fvf & D3DFVF_NORMAL)
        stride += 12;
    if (fvf & D3DFVF_DIFFUSE)
        stride += 4;
    if (fvf & D3DFVF_TEX1)
        stride += 8;
    return stride;
}

void DeviceState::Reset(bool depthBuffer, UINT backBufferWidth, UINT backBufferHeight) {
    *this = DeviceState{};
    float one = 1.0f;
    DWORD oneBits;
    std::memcpy(&oneBits, &one, 4);

    DWORD* rs = renderStates;
    rs[D3DRS_ZENABLE] = depthBuffer ? D3DZB_TRUE : D3DZB_FALSE;
    rs[D3DRS_FILLMODE] = D3DFILL_SOLID;
    rs[D3DRS_SHADEMODE] = D3DSHADE_GOURAUD;
    rs[D3DRS_ZWRITEENABLE] = TRUE;
    rs[D3DRS_LASTPIXEL] = TRUE;
    rs[D3DRS_SRCBLEND] = D3DBLEND_ONE;
    rs[D3DRS_DESTBLEND] = D3DBLEND_ZERO;
    rs[D3DRS_CULLMODE] = D3DCULL_CCW;
    rs[D3DRS_ZFUNC] = D3DCMP_LESSEQUAL;
    rs[D3DRS_ALPHAFUNC] = D3DCMP_ALWAYS;
    rs[D3DRS_LIGHTING] = TRUE;
    rs[D3DRS_COLORVERTEX] = TRUE;
    rs[D3DRS_LOCALVIEWER] = TRUE;
    rs[D3DRS_DIFFUSEMATERIALSOURCE] = D3DMCS_COLOR1;
    rs[D3DRS_SPECULARMATERIALSOURCE] = D3DMCS_COLOR2;
    rs[D3DRS_AMBIENTMATERIALSOURCE] = D3DMCS_MATERIAL;
    rs[D3DRS_EMISSIVEMATERIALSOURCE] = D3DMCS_MATERIAL;
    rs[D3DRS_POINTSIZE] = oneBits;
    rs[D3DRS_BLENDOP] = 1; // D3DBLENDOP_ADD

    for (DWORD s = 0; s < kMaxTextureStages; ++s) {
        DWORD* t = stageStates[s];
        t[D3DTSS_COLOROP] = s == 0 ? D3DTOP_MODULATE : D3DTOP_DISABLE;
        t[D3DTSS_COLORARG1] = D3DTA_TEXTURE;
        t[D3DTSS_COLORARG2] = D3DTA_CURRENT;
        t[D3DTSS_ALPHAOP] = s == 0 ? D3DTOP_SELECTARG1 : D3DTOP_DISABLE;
        t[D3DTSS_ALPHAARG1] = D3DTA_TEXTURE;
        t[D3DTSS_ALPHAARG2] = D3DTA_CURRENT;
        t[D3DTSS_TEXCOORDINDEX] = s;
        t[D3DTSS_TEXTURETRANSFORMFLAGS] = D3DTTFF_DISABLE;
    }
    for (DWORD s = 0; s < kMaxSamplers; ++s) {
        DWORD* t = samplerStates[s];
        t[D3DSAMP_ADDRESSU] = D3DTADDRESS_WRAP;
        t[D3DSAMP_ADDRESSV] = D3DTADDRESS_WRAP;
        t[D3DSAMP_ADDRESSW] = D3DTADDRESS_WRAP;
        t[D3DSAMP_MAGFILTER] = D3DTEXF_POINT;
        t[D3DSAMP_MINFILTER] = D3DTEXF_POINT;
        t[D3DSAMP_MIPFILTER] = D3DTEXF_NONE;
    }
    const D3DMATRIX identity = IdentityMatrix();
    for (auto& m : transforms)
        m = identity;
    for (auto& l : lights) {
        l.Type = D3DLIGHT_DIRECTIONAL;
        l.Diffuse = {1, 1, 1, 0};
        l.Direction = {0, 0, 1};
    }
    viewport = D3DVIEWPORT9{0, 0, backBufferWidth, backBufferHeight, 0.0f, 1.0f};
}

bool DeviceState::SetRenderState(D3DRENDERSTATETYPE state, DWORD value) {
    if (state >= kRenderStateCount)
        return false;
    renderStates[state] = value;
    return true;
}

bool DeviceState::GetRenderState(D3DRENDERSTATETYPE state, DWORD* value) const {
    if (state >= kRenderStateCount || !value)
        return false;
    *value = renderStates[state];
    return true;
}

bool DeviceState::SetStageState(DWORD stage, D3DTEXTURESTAGESTATETYPE type, DWORD value) {
    if (stage >= kMaxTextureStages || type >= kTextureStageStateCount)
        return false;
    stageStates[stage][type] = value;
    return true;
}

bool DeviceState::GetStageState(DWORD stage, D3DTEXTURESTAGESTATETYPE type, DWORD* value) const {
    if (stage >= kMaxTextureStages || type >= kTextureStageStateCount || !value)
        return false;
    *value = stageStates[stage][type];
    return true;
}

bool DeviceState::SetSamplerState(DWORD sampler, D3DSAMPLERSTATETYPE type, DWORD value) {
    if (sampler >= kMaxSamplers || type >= kSamplerStateCount)
        return false;
    samplerStates[sampler][type] = value;
    return true;
}

bool DeviceState::GetSamplerState(DWORD sampler, D3DSAMPLERSTATETYPE type, DWORD* value) const {
    if (sampler >= kMaxSamplers || type >= kSamplerStateCount || !value)
        return false;
    *value = samplerStates[sampler][type];
    return true;
}

bool DeviceState::SetTransform(D3DTRANSFORMSTATETYPE state, const D3DMATRIX* matrix) {
    if (state >= kTransformSlots || !matrix)
        return false;
    transforms[state] = *matrix;
    return true;
}

bool DeviceState::GetTransform(D3DTRANSFORMSTATETYPE state, D3DMATRIX* matrix) const {
    if (state >= kTransformSlots || !matrix)
        return false;
    *matrix = transforms[state];
    return true;
}

bool DeviceState::SetLight(DWORD index, const D3DLIGHT9* light) {
    if (index >= kMaxLights || !light)
        return false;
    lights[index] = *light;
    return true;
}

bool DeviceState::GetLight(DWORD index, D3DLIGHT9* light) const {
    if (index >= kMaxLights || !light)
        return false;
    *light = lights[index];
    return true;
}

bool DeviceState::LightEnable(DWORD index, BOOL enable) {
    if (index >= kMaxLights)
        return false;
    lightEnabled[index] = enable ? TRUE : FALSE;
    return true;
}

bool DeviceState::GetLightEnable(DWORD index, BOOL* enable) const {
    if (index >= kMaxLights || !enable)
        return false;
    *enable = lightEnabled[index];
    return true;
}
