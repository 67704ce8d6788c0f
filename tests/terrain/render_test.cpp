#include "d3dx9.h"
#include "terrain_fixture.h"

#include <tuple>

namespace {

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

// Stage states, then sampler states, as {unit, state, value}.
struct State {
    DWORD unit, type, value;
};
void ExpectStates(const DeviceState& s, std::initializer_list<State> stages,
                  std::initializer_list<State> samplers = {}) {
    for (auto [unit, type, value] : stages)
        EXPECT_EQ(s.stageStates[unit][type], value) << "stage " << unit << " " << type;
    for (auto [unit, type, value] : samplers)
        EXPECT_EQ(s.samplerStates[unit][type], value) << "sampler " << unit << " " << type;
}

bool IsScaling(const D3DMATRIX& m, float s) {
    D3DXMATRIX scale;
    D3DXMatrixScaling(&scale, s, s, 1);
    return std::equal(&m.m[0][0], &m.m[0][0] + 16, &scale.m[0][0]);
}

struct RenderTerrain : MemoryTerrain {
    RenderTerrain() : MemoryTerrain(17, 17) { terrain.visibleTriangleCount = 100; }
    // Renders a frame, answering the log positions of its indexed draws.
    std::vector<size_t> Frame() {
        device->ClearLog();
        terrain.Render();
        std::vector<size_t> out;
        for (size_t i = 0; i < device->log.size(); ++i)
            if (device->log[i].op == DeviceOp::DrawIndexedPrimitive)
                out.push_back(i);
        return out;
    }
};

TEST(TerrainRender, SolidFrameWithOneLayer) {
    RenderTerrain m;
    KrTerrain& t = m.terrain;
    IDirect3DTexture9* layerTexture = m.AddTexture();
    IDirect3DTexture9* baseTexture = m.AddTexture();
    t.baseTexture = 1;
    t.baseMappingScale = 2.0f;
    ASSERT_TRUE(t.AddSplatLayer(0));
    t.splatLayers[0].mappingScale = 4.0f;
    const std::vector<size_t> draws = m.Frame();
    ASSERT_EQ(draws.size(), 2u);
    for (size_t at : draws) {
        const DeviceCall& c = m.device->log[at];
        const DWORD expected[6] = {D3DPT_TRIANGLELIST, 0, 0, 289, 0, 100};
        EXPECT_TRUE(std::equal(expected, expected + 6, c.args));
        EXPECT_EQ(std::tuple(c.fillMode, c.stream, c.fvf),
                  std::tuple(DWORD(D3DFILL_SOLID), (const void*)t.vertexBuffer, 0x112u));
    }

    const DeviceCall& base = m.device->log[draws[0]];
    EXPECT_EQ(base.stageTextures[0], baseTexture);
    EXPECT_EQ(base.alphaBlend, DWORD(FALSE));
    const DeviceState b = StateBefore(*m.device, draws[0]);
    ExpectStates(b,
                 {{0, D3DTSS_COLOROP, D3DTOP_MODULATE},
                  {0, D3DTSS_COLORARG1, D3DTA_TEXTURE},
                  {0, D3DTSS_TEXTURETRANSFORMFLAGS, D3DTTFF_COUNT2}},
                 {{0, D3DSAMP_ADDRESSU, D3DTADDRESS_WRAP},
                  {0, D3DSAMP_ADDRESSV, D3DTADDRESS_WRAP},
                  {0, D3DSAMP_MIPFILTER, D3DTEXF_LINEAR}});
    EXPECT_TRUE(IsScaling(b.Transform(D3DTS_TEXTURE0), 2));

    const DeviceCall& layer = m.device->log[draws[1]];
    EXPECT_EQ(layer.alphaBlend, DWORD(TRUE));
    EXPECT_EQ(layer.stageTextures[0], t.alphaMaps[0]->texture);
    EXPECT_EQ(layer.stageTextures[1], layerTexture);
    const DeviceState l = StateBefore(*m.device, draws[1]);
    ExpectStates(l,
                 {{0, D3DTSS_COLOROP, D3DTOP_MODULATE},
                  {0, D3DTSS_ALPHAOP, D3DTOP_MODULATE},
                  {0, D3DTSS_ALPHAARG1, D3DTA_TEXTURE},
                  {0, D3DTSS_TEXTURETRANSFORMFLAGS, D3DTTFF_DISABLE},
                  {1, D3DTSS_COLOROP, D3DTOP_MODULATE},
                  {1, D3DTSS_COLORARG1, D3DTA_TEXTURE},
                  {1, D3DTSS_ALPHAOP, D3DTOP_MODULATE},
                  {1, D3DTSS_ALPHAARG1, D3DTA_CURRENT},
                  {1, D3DTSS_TEXTURETRANSFORMFLAGS, D3DTTFF_COUNT2},
                  {1, D3DTSS_TEXCOORDINDEX, 0}},
                 {{0, D3DSAMP_ADDRESSU, D3DTADDRESS_CLAMP},
                  {0, D3DSAMP_ADDRESSV, D3DTADDRESS_CLAMP},
                  {1, D3DSAMP_ADDRESSU, D3DTADDRESS_WRAP},
                  {1, D3DSAMP_ADDRESSV, D3DTADDRESS_WRAP},
                  {1, D3DSAMP_MAGFILTER, D3DTEXF_LINEAR},
                  {1, D3DSAMP_MINFILTER, D3DTEXF_LINEAR},
                  {1, D3DSAMP_MIPFILTER, D3DTEXF_LINEAR}});
    EXPECT_TRUE(IsScaling(l.Transform(D3DTS_TEXTURE0), 4));
    EXPECT_TRUE(IsScaling(l.Transform(D3DTS_TEXTURE1), 4));

    // Left behind: both stages off, blending off, the layer's transforms.
    const DeviceState& after = m.device->state;
    ExpectStates(after, {{0, D3DTSS_COLOROP, D3DTOP_DISABLE},
                         {0, D3DTSS_ALPHAOP, D3DTOP_DISABLE},
                         {1, D3DTSS_COLOROP, D3DTOP_DISABLE},
                         {1, D3DTSS_ALPHAOP, D3DTOP_DISABLE},
                         {1, D3DTSS_TEXTURETRANSFORMFLAGS, D3DTTFF_DISABLE}});
    EXPECT_EQ(after.Rs(D3DRS_ALPHABLENDENABLE), DWORD(FALSE));
    EXPECT_EQ(after.Rs(D3DRS_FILLMODE), DWORD(D3DFILL_SOLID));
    EXPECT_TRUE(IsScaling(after.Transform(D3DTS_TEXTURE1), 4));
}

TEST(TerrainRender, WireframeAndPointsDrawOnlyTheBasePass) {
    for (int32_t mode : {D3DFILL_WIREFRAME, D3DFILL_POINT}) {
        RenderTerrain m;
        m.AddTexture();
        ASSERT_TRUE(m.terrain.AddSplatLayer(0));
        m.terrain.fillMode = mode;
        const std::vector<size_t> draws = m.Frame();
        ASSERT_EQ(draws.size(), 1u);
        EXPECT_EQ(m.device->log[draws[0]].fillMode, DWORD(mode));
        EXPECT_EQ(m.device->log[draws[0]].alphaBlend, DWORD(FALSE));
        EXPECT_TRUE(m.device->Calls(DeviceOp::SetTransform).empty());
        EXPECT_EQ(m.device->state.Tss(0, D3DTSS_TEXTURETRANSFORMFLAGS), D3DTTFF_COUNT2);
        for (const DeviceCall& c : m.device->Calls(DeviceOp::SetRenderState))
            EXPECT_NE(c.args[0], DWORD(D3DRS_ALPHABLENDENABLE));
    }
}

TEST(TerrainRender, BrushOutlineOnlyWithAHit) {
    RenderTerrain m;
    KrTerrain& t = m.terrain;
    KrPickRay ray;
    t.pickRay = &ray;
    t.pickHit = false;
    m.Frame();
    EXPECT_TRUE(m.device->Calls(DeviceOp::DrawPrimitive).empty());
    EXPECT_EQ(m.device->state.streamSource, t.vertexBuffer);

    t.pickHit = true;
    m.Frame();
    const auto lines = m.device->Calls(DeviceOp::DrawPrimitive);
    ASSERT_EQ(lines.size(), 4u);
    const DWORD ranges[4][2] = {{0, 180}, {1, 179}, {360, 180}, {361, 179}};
    for (size_t i = 0; i < 4; ++i) {
        const DeviceCall& c = lines[i];
        EXPECT_EQ(std::tuple(c.args[0], c.args[1], c.args[2], c.fvf),
                  std::tuple(DWORD(D3DPT_LINELIST), ranges[i][0], ranges[i][1], DWORD(D3DFVF_XYZ)));
        EXPECT_TRUE(c.stream == t.brushOutlineBuffer && c.stageTextures[0] == nullptr);
        const D3DCOLORVALUE e = c.material.Emissive;
        EXPECT_EQ(std::tuple(e.r, e.g, e.b, c.material.Diffuse.r),
                  std::tuple(1.0f, i < 2 ? 0.0f : 0.2f, i < 2 ? 1.0f : 0.2f, 0.0f));
    }
    const D3DMATERIAL9& last = m.device->state.material;
    EXPECT_EQ(std::tuple(last.Diffuse.g, last.Specular.b, last.Power, last.Emissive.g),
              std::tuple(1.0f, 1.0f, 8.0f, 0.2f));
}

// Without buffers nothing is drawn; layers without a texture of their own or without an
// alpha map, and a base index past the list, draw nothing of theirs and never reach outside
// the lists.
TEST(TerrainRender, NothingWithoutBuffersAndBrokenLayersAreSkipped) {
    MemoryTerrain none;
    none.terrain.Render();
    EXPECT_FALSE(none.terrain.Create(1, 1, 10));
    none.terrain.Render();
    EXPECT_TRUE(none.device->log.empty());

    RenderTerrain m;
    KrTerrain& t = m.terrain;
    IDirect3DTexture9* kept = m.AddTexture();
    ASSERT_TRUE(t.AddSplatLayer(0));
    ASSERT_TRUE(t.AddSplatLayer(0));
    t.splatLayers[0].textureIndex = -1;
    t.splatLayers.push_back(KrSplatLayer{1.0f, 0}); // no alpha map of its own
    t.splatLayers.push_back(KrSplatLayer{1.0f, 7});
    t.baseTexture = 3;
    const std::vector<size_t> draws = m.Frame();
    EXPECT_EQ(m.device->Calls(DeviceOp::SetTexture).size(), 2u); // the one drawn layer
    ASSERT_EQ(draws.size(), 2u);
    EXPECT_EQ(m.device->log[draws[1]].stageTextures[0], t.alphaMaps[1]->texture);
    EXPECT_EQ(m.device->log[draws[1]].stageTextures[1], kept);
}

} // namespace
