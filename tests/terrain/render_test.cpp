#include "d3dx9.h"
#include "terrain_fixture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

namespace {

IDirect3DTexture9* AddPlainTexture(KrTerrain& t) {
    IDirect3DTexture9* texture = nullptr;
    t.device->CreateTexture(4, 4, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &texture, nullptr);
    t.textures.push_back(new KrTextureEntry{texture});
    return texture;
}

// The device's state just before log entry `end`, replayed from the defaults.
DeviceState StateBefore(const MemoryDevice& device, size_t end) {
    DeviceState s;
    s.Reset(true, 1280, 768);
    for (size_t i = 0; i < end; ++i) {
        const DeviceCall& c = device.log[i];
        if (c.op == DeviceOp::SetRenderState)
            s.SetRenderState(static_cast<D3DRENDERSTATETYPE>(c.args[0]), c.args[1]);
        else if (c.op == DeviceOp::SetTextureStageState)
            s.SetStageState(c.args[0], static_cast<D3DTEXTURESTAGESTATETYPE>(c.args[1]), c.args[2]);
        else if (c.op == DeviceOp::SetSamplerState)
            s.SetSamplerState(c.args[0], static_cast<D3DSAMPLERSTATETYPE>(c.args[1]), c.args[2]);
        else if (c.op == DeviceOp::SetTransform)
            s.SetTransform(static_cast<D3DTRANSFORMSTATETYPE>(c.args[0]), &c.matrix);
    }
    return s;
}

struct Expected {
    DWORD unit, type, value;
};
void ExpectStages(const DeviceState& s, std::initializer_list<Expected> list) {
    for (const Expected& e : list)
        EXPECT_EQ(s.stageStates[e.unit][e.type], e.value) << "stage " << e.unit << " " << e.type;
}
void ExpectSamplers(const DeviceState& s, std::initializer_list<Expected> list) {
    for (const Expected& e : list)
        EXPECT_EQ(s.samplerStates[e.unit][e.type], e.value)
            << "sampler " << e.unit << " " << e.type;
}
bool SameMatrix(const D3DMATRIX& a, const D3DMATRIX& b) {
    return std::equal(&a.m[0][0], &a.m[0][0] + 16, &b.m[0][0]);
}

std::vector<size_t> IndexedDraws(const MemoryDevice& device) {
    std::vector<size_t> out;
    for (size_t i = 0; i < device.log.size(); ++i)
        if (device.log[i].op == DeviceOp::DrawIndexedPrimitive)
            out.push_back(i);
    return out;
}

struct RenderTerrain : MemoryTerrain {
    RenderTerrain() {
        EXPECT_TRUE(terrain.Create(17, 17, 10));
        terrain.visibleTriangleCount = 100;
    }
};

TEST(TerrainRender, SolidFrameWithOneLayer) {
    RenderTerrain m;
    KrTerrain& t = m.terrain;
    IDirect3DTexture9* layerTexture = AddPlainTexture(t);
    IDirect3DTexture9* baseTexture = AddPlainTexture(t);
    t.baseTexture = 1;
    t.baseMappingScale = 2.0f;
    ASSERT_TRUE(t.AddSplatLayer(0));
    t.splatLayers[0].mappingScale = 4.0f;
    m.device->ClearLog();
    t.Render();

    const std::vector<size_t> draws = IndexedDraws(*m.device);
    ASSERT_EQ(draws.size(), 2u);
    for (size_t at : draws) {
        const DeviceCall& c = m.device->log[at];
        const DWORD expected[6] = {D3DPT_TRIANGLELIST, 0, 0, 289, 0, 100};
        EXPECT_TRUE(std::equal(expected, expected + 6, c.args));
        EXPECT_EQ(c.fillMode, static_cast<DWORD>(D3DFILL_SOLID));
        EXPECT_EQ(c.stream, t.vertexBuffer);
        EXPECT_EQ(c.fvf, 0x112u);
    }
    D3DXMATRIX twice, fourTimes;
    D3DXMatrixScaling(&twice, 2, 2, 1);
    D3DXMatrixScaling(&fourTimes, 4, 4, 1);

    const DeviceCall& base = m.device->log[draws[0]];
    EXPECT_EQ(base.stageTextures[0], baseTexture);
    EXPECT_EQ(base.alphaBlend, static_cast<DWORD>(FALSE));
    const DeviceState b = StateBefore(*m.device, draws[0]);
    ExpectStages(b, {{0, D3DTSS_COLOROP, D3DTOP_MODULATE},
                     {0, D3DTSS_COLORARG1, D3DTA_TEXTURE},
                     {0, D3DTSS_TEXTURETRANSFORMFLAGS, D3DTTFF_COUNT2}});
    ExpectSamplers(b, {{0, D3DSAMP_ADDRESSU, D3DTADDRESS_WRAP},
                       {0, D3DSAMP_ADDRESSV, D3DTADDRESS_WRAP},
                       {0, D3DSAMP_MIPFILTER, D3DTEXF_LINEAR}});
    EXPECT_TRUE(SameMatrix(b.Transform(D3DTS_TEXTURE0), twice));

    const DeviceCall& layer = m.device->log[draws[1]];
    EXPECT_EQ(layer.alphaBlend, static_cast<DWORD>(TRUE));
    EXPECT_EQ(layer.stageTextures[0], t.alphaMaps[0]->texture);
    EXPECT_EQ(layer.stageTextures[1], layerTexture);
    const DeviceState l = StateBefore(*m.device, draws[1]);
    ExpectStages(l, {{0, D3DTSS_COLOROP, D3DTOP_MODULATE},
                     {0, D3DTSS_ALPHAOP, D3DTOP_MODULATE},
                     {0, D3DTSS_ALPHAARG1, D3DTA_TEXTURE},
                     {0, D3DTSS_TEXTURETRANSFORMFLAGS, D3DTTFF_DISABLE},
                     {1, D3DTSS_COLOROP, D3DTOP_MODULATE},
                     {1, D3DTSS_COLORARG1, D3DTA_TEXTURE},
                     {1, D3DTSS_ALPHAOP, D3DTOP_MODULATE},
                     {1, D3DTSS_ALPHAARG1, D3DTA_CURRENT},
                     {1, D3DTSS_TEXTURETRANSFORMFLAGS, D3DTTFF_COUNT2},
                     {1, D3DTSS_TEXCOORDINDEX, 0}});
    ExpectSamplers(l, {{0, D3DSAMP_ADDRESSU, D3DTADDRESS_CLAMP},
                       {0, D3DSAMP_ADDRESSV, D3DTADDRESS_CLAMP},
                       {1, D3DSAMP_ADDRESSU, D3DTADDRESS_WRAP},
                       {1, D3DSAMP_ADDRESSV, D3DTADDRESS_WRAP},
                       {1, D3DSAMP_MAGFILTER, D3DTEXF_LINEAR},
                       {1, D3DSAMP_MINFILTER, D3DTEXF_LINEAR},
                       {1, D3DSAMP_MIPFILTER, D3DTEXF_LINEAR}});
    EXPECT_TRUE(SameMatrix(l.Transform(D3DTS_TEXTURE0), fourTimes));
    EXPECT_TRUE(SameMatrix(l.Transform(D3DTS_TEXTURE1), fourTimes));

    // Left behind: both stages off, blending off, the layer's transforms.
    const DeviceState& after = m.device->state;
    ExpectStages(after, {{0, D3DTSS_COLOROP, D3DTOP_DISABLE},
                         {0, D3DTSS_ALPHAOP, D3DTOP_DISABLE},
                         {1, D3DTSS_COLOROP, D3DTOP_DISABLE},
                         {1, D3DTSS_ALPHAOP, D3DTOP_DISABLE},
                         {1, D3DTSS_TEXTURETRANSFORMFLAGS, D3DTTFF_DISABLE}});
    EXPECT_EQ(after.Rs(D3DRS_ALPHABLENDENABLE), static_cast<DWORD>(FALSE));
    EXPECT_EQ(after.Rs(D3DRS_FILLMODE), static_cast<DWORD>(D3DFILL_SOLID));
    EXPECT_TRUE(SameMatrix(after.Transform(D3DTS_TEXTURE1), fourTimes));
}

TEST(TerrainRender, WireframeAndPointsDrawOnlyTheBasePass) {
    for (int32_t mode : {D3DFILL_WIREFRAME, D3DFILL_POINT}) {
        RenderTerrain m;
        KrTerrain& t = m.terrain;
        AddPlainTexture(t);
        ASSERT_TRUE(t.AddSplatLayer(0));
        t.fillMode = mode;
        m.device->ClearLog();
        t.Render();
        const auto draws = m.device->Calls(DeviceOp::DrawIndexedPrimitive);
        ASSERT_EQ(draws.size(), 1u);
        EXPECT_EQ(draws[0].fillMode, static_cast<DWORD>(mode));
        EXPECT_EQ(draws[0].alphaBlend, static_cast<DWORD>(FALSE));
        EXPECT_TRUE(m.device->Calls(DeviceOp::SetTransform).empty());
        EXPECT_EQ(m.device->state.Tss(0, D3DTSS_TEXTURETRANSFORMFLAGS), D3DTTFF_COUNT2);
        for (const DeviceCall& c : m.device->Calls(DeviceOp::SetRenderState))
            EXPECT_NE(c.args[0], static_cast<DWORD>(D3DRS_ALPHABLENDENABLE));
    }
}

TEST(TerrainRender, BrushOutlineOnlyWithAHit) {
    RenderTerrain m;
    KrTerrain& t = m.terrain;
    KrPickRay ray;
    t.pickRay = &ray;
    t.pickHit = false;
    m.device->ClearLog();
    t.Render();
    EXPECT_TRUE(m.device->Calls(DeviceOp::DrawPrimitive).empty());
    EXPECT_EQ(m.device->state.streamSource, t.vertexBuffer);

    t.pickHit = true;
    if (!t.UpdateBrushOutline(&ray))
        GTEST_SKIP() << "the height brush outline is not built yet";
    m.device->ClearLog();
    t.Render();
    const auto lines = m.device->Calls(DeviceOp::DrawPrimitive);
    ASSERT_EQ(lines.size(), 4u);
    const DWORD ranges[4][2] = {{0, 180}, {1, 179}, {360, 180}, {361, 179}};
    for (size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(lines[i].args[0], static_cast<DWORD>(D3DPT_LINELIST));
        EXPECT_EQ(lines[i].args[1], ranges[i][0]);
        EXPECT_EQ(lines[i].args[2], ranges[i][1]);
        EXPECT_EQ(lines[i].stream, t.brushOutlineBuffer);
        EXPECT_EQ(lines[i].fvf, static_cast<DWORD>(D3DFVF_XYZ));
        EXPECT_EQ(lines[i].stageTextures[0], nullptr);
        const D3DCOLORVALUE e = lines[i].material.Emissive;
        EXPECT_EQ(e.r, 1.0f);
        EXPECT_EQ(e.g, i < 2 ? 0.0f : 0.2f);
        EXPECT_EQ(e.b, i < 2 ? 1.0f : 0.2f);
        EXPECT_EQ(lines[i].material.Diffuse.r, 0.0f);
    }
    const D3DMATERIAL9& last = m.device->state.material;
    EXPECT_EQ(last.Diffuse.g, 1.0f);
    EXPECT_EQ(last.Specular.b, 1.0f);
    EXPECT_EQ(last.Power, 8.0f);
    EXPECT_EQ(last.Emissive.g, 0.2f);
}

TEST(TerrainRender, NothingWithoutBuffers) {
    MemoryTerrain never;
    never.terrain.Render();
    MemoryTerrain refused;
    EXPECT_FALSE(refused.terrain.Create(1, 1, 10));
    refused.device->ClearLog();
    refused.terrain.Render();
    EXPECT_TRUE(never.device->log.empty());
    EXPECT_TRUE(refused.device->log.empty());
}

// Layers without a texture of their own or without an alpha map, and a base index past
// the list, draw nothing of theirs and never reach outside the lists.
TEST(TerrainRender, BrokenLayersAreSkipped) {
    RenderTerrain m;
    KrTerrain& t = m.terrain;
    IDirect3DTexture9* kept = AddPlainTexture(t);
    ASSERT_TRUE(t.AddSplatLayer(0));
    ASSERT_TRUE(t.AddSplatLayer(0));
    t.splatLayers[0].textureIndex = -1;
    t.splatLayers.push_back(KrSplatLayer{1.0f, 0}); // no alpha map of its own
    t.splatLayers.push_back(KrSplatLayer{1.0f, 7});
    t.baseTexture = 3;
    m.device->ClearLog();
    t.Render();
    EXPECT_EQ(m.device->Calls(DeviceOp::SetTexture).size(), 2u); // the one drawn layer
    const auto draws = m.device->Calls(DeviceOp::DrawIndexedPrimitive);
    ASSERT_EQ(draws.size(), 2u);
    EXPECT_EQ(draws[1].stageTextures[0], t.alphaMaps[1]->texture);
    EXPECT_EQ(draws[1].stageTextures[1], kept);
}

} // namespace
