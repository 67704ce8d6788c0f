// Drawing the terrain: the base pass, one blended pass per splatting layer and the two
// brush outline circles.
#include "KrTerrain.h"
#include "d3dx9.h"

namespace {

IDirect3DTexture9* EntryTexture(const KrTextureEntry* entry) {
    return entry ? entry->texture : nullptr;
}

void SetStage(IDirect3DDevice9* device, DWORD stage, D3DTEXTURESTAGESTATETYPE type, DWORD value) {
    device->SetTextureStageState(stage, type, value);
}

void SetLinearFilter(IDirect3DDevice9* device, DWORD sampler) {
    device->SetSamplerState(sampler, D3DSAMP_MAGFILTER, D3DTEXF_LINEAR);
    device->SetSamplerState(sampler, D3DSAMP_MINFILTER, D3DTEXF_LINEAR);
    device->SetSamplerState(sampler, D3DSAMP_MIPFILTER, D3DTEXF_LINEAR);
}

void SetAddress(IDirect3DDevice9* device, DWORD sampler, DWORD mode) {
    device->SetSamplerState(sampler, D3DSAMP_ADDRESSU, mode);
    device->SetSamplerState(sampler, D3DSAMP_ADDRESSV, mode);
}

} // namespace

// The terrain's device is the render context's device, stored by the view before Create.
// Without it or without the grid's buffers (Create refused or never run) there is nothing
// to draw.
void KrTerrain::Render() {
    if (!device || !vertexBuffer || !indexBuffer)
        return;

    const bool solid = fillMode == D3DFILL_SOLID;
    const UINT vertexCount = static_cast<UINT>(info.numVertices);
    const UINT triangleCount =
        visibleTriangleCount > 0 ? static_cast<UINT>(visibleTriangleCount) : 0;

    device->SetRenderState(D3DRS_FILLMODE, static_cast<DWORD>(fillMode));
    device->SetStreamSource(0, vertexBuffer, 0, sizeof(KrTerrainVertex));
    device->SetFVF(kTerrainFvf);
    device->SetIndices(indexBuffer);

    if (baseTexture >= 0 && static_cast<size_t>(baseTexture) < textures.size()) {
        device->SetTexture(0, EntryTexture(textures[static_cast<size_t>(baseTexture)]));
        SetStage(device, 0, D3DTSS_COLOROP, D3DTOP_MODULATE);
        SetStage(device, 0, D3DTSS_COLORARG1, D3DTA_TEXTURE);
        SetLinearFilter(device, 0);
        SetStage(device, 0, D3DTSS_TEXTURETRANSFORMFLAGS, D3DTTFF_COUNT2);
        SetStage(device, 0, D3DTSS_TEXCOORDINDEX, 0);
        SetAddress(device, 0, D3DTADDRESS_WRAP);
        if (solid) {
            D3DXMATRIX scale;
            D3DXMatrixScaling(&scale, baseMappingScale, baseMappingScale, 1.0f);
            device->SetTransform(D3DTS_TEXTURE0, &scale);
        }
    }

    device->DrawIndexedPrimitive(D3DPT_TRIANGLELIST, 0, 0, vertexCount, 0, triangleCount);

    if (solid) {
        SetStage(device, 0, D3DTSS_TEXTURETRANSFORMFLAGS, D3DTTFF_DISABLE);
        device->SetRenderState(D3DRS_ALPHABLENDENABLE, TRUE);
        SetStage(device, 0, D3DTSS_ALPHAOP, D3DTOP_MODULATE);
        SetStage(device, 0, D3DTSS_ALPHAARG1, D3DTA_TEXTURE);
        SetStage(device, 1, D3DTSS_COLOROP, D3DTOP_MODULATE);
        SetStage(device, 1, D3DTSS_COLORARG1, D3DTA_TEXTURE);
        SetStage(device, 1, D3DTSS_ALPHAOP, D3DTOP_MODULATE);
        SetStage(device, 1, D3DTSS_ALPHAARG1, D3DTA_CURRENT);
        SetLinearFilter(device, 1);
        SetStage(device, 0, D3DTSS_TEXTURETRANSFORMFLAGS, D3DTTFF_DISABLE);
        SetStage(device, 1, D3DTSS_TEXTURETRANSFORMFLAGS, D3DTTFF_COUNT2);
        SetStage(device, 1, D3DTSS_TEXCOORDINDEX, 0);
        SetAddress(device, 0, D3DTADDRESS_CLAMP);
        SetAddress(device, 1, D3DTADDRESS_WRAP);

        for (size_t i = 0; i < splatLayers.size(); ++i) {
            // A layer whose texture was removed (index -1) or that lost its alpha map is
            // left out rather than drawn with some other texture or coverage.
            const KrSplatLayer& layer = splatLayers[i];
            if (i >= alphaMaps.size() || layer.textureIndex < 0 ||
                static_cast<size_t>(layer.textureIndex) >= textures.size())
                continue;
            IDirect3DTexture9* coverage = EntryTexture(alphaMaps[i]);
            IDirect3DTexture9* texture =
                EntryTexture(textures[static_cast<size_t>(layer.textureIndex)]);
            if (!coverage || !texture)
                continue;

            D3DXMATRIX scale;
            D3DXMatrixScaling(&scale, layer.mappingScale, layer.mappingScale, 1.0f);
            device->SetTransform(D3DTS_TEXTURE0, &scale);
            device->SetTransform(D3DTS_TEXTURE1, &scale);
            device->SetTexture(0, coverage);
            device->SetTexture(1, texture);
            device->DrawIndexedPrimitive(D3DPT_TRIANGLELIST, 0, 0, vertexCount, 0, triangleCount);
        }

        SetStage(device, 1, D3DTSS_TEXTURETRANSFORMFLAGS, D3DTTFF_DISABLE);
        SetStage(device, 0, D3DTSS_COLOROP, D3DTOP_DISABLE);
        SetStage(device, 0, D3DTSS_ALPHAOP, D3DTOP_DISABLE);
        SetStage(device, 1, D3DTSS_COLOROP, D3DTOP_DISABLE);
        SetStage(device, 1, D3DTSS_ALPHAOP, D3DTOP_DISABLE);
        device->SetRenderState(D3DRS_ALPHABLENDENABLE, FALSE);
    }

    // UpdateBrushOutline answers false when this frame's ray hit nothing, so the circles
    // never stay behind at a stale point.
    if (!pickRay || !brushOutlineBuffer || !UpdateBrushOutline(pickRay))
        return;

    device->SetStreamSource(0, brushOutlineBuffer, 0, 12);
    device->SetFVF(D3DFVF_XYZ);
    device->SetTexture(0, nullptr);

    D3DMATERIAL9 material{};
    material.Emissive = {1.0f, 0.0f, 1.0f, 1.0f};
    device->SetMaterial(&material);
    device->DrawPrimitive(D3DPT_LINELIST, 0, 180);
    device->DrawPrimitive(D3DPT_LINELIST, 1, 179);

    material.Emissive = {1.0f, 0.2f, 0.2f, 1.0f};
    device->SetMaterial(&material);
    device->DrawPrimitive(D3DPT_LINELIST, 360, 180);
    device->DrawPrimitive(D3DPT_LINELIST, 361, 179);

    material.Diffuse = {1.0f, 1.0f, 1.0f, 1.0f};
    material.Ambient = {1.0f, 1.0f, 1.0f, 1.0f};
    material.Specular = {1.0f, 1.0f, 1.0f, 1.0f};
    material.Power = 8.0f;
    device->SetMaterial(&material);
}
