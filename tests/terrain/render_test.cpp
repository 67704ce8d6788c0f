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
        if (c.op == DeviceOp::SetTextureStageState)
            s.SetStageState(c.args[0], static_cast<D3DTEXTURESTAGESTATETYPE>(c.args[1]), c.args[2]);
        else if (c.op == DeviceOp::SetTransform)
            s.SetTransform(static_cast<D3DTRANSFORMSTATETYPE>(c.args[0]), &c.matrix);
    }
    return s;
}

// The stage states that change what a pass shows, for stages 0 and 1.
std::vector<DWORD> Stages(const DeviceState& s) {
    const D3DTEXTURESTAGESTATETYPE ops[] = {D3DTSS_COLOROP, D3DTSS_ALPHAOP, D3DTSS_ALPHAARG1,
                                            D3DTSS_TEXCOORDINDEX, D3DTSS_TEXTURETRANSFORMFLAGS};
    std::vector<DWORD> out;
    for (DWORD stage : {0, 1})
        for (D3DTEXTURESTAGESTATETYPE type : ops)
            out.push_back(s.Tss(stage, type));
    return out;
}

// The u and v scales of a texture transform.
std::pair<float, float> Scale(const D3DMATRIX& m) {
    return {m._11, m._22};
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

TEST(TerrainRender, SolidFrameWithOneLayerThenWireframe) {
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
    const DWORD on = D3DTOP_MODULATE, off = D3DTOP_DISABLE;

    const DeviceCall& base = m.device->log[draws[0]];
    EXPECT_EQ(base.stageTextures[0], baseTexture);
    EXPECT_EQ(base.alphaBlend, DWORD(FALSE));
    const DeviceState b = StateBefore(*m.device, draws[0]);
    EXPECT_EQ(b.Tss(0, D3DTSS_TEXTURETRANSFORMFLAGS), DWORD(D3DTTFF_COUNT2));
    EXPECT_EQ(Scale(b.Transform(D3DTS_TEXTURE0)), std::pair(2.f, 2.f));

    // The layer: alpha map on stage 0 untransformed, the texture on stage 1 on the same
    // coordinates, repeated; alpha from both, blended.
    const DeviceCall& layer = m.device->log[draws[1]];
    EXPECT_EQ(layer.alphaBlend, DWORD(TRUE));
    EXPECT_EQ(layer.stageTextures[0], t.alphaMaps[0]->texture);
    EXPECT_EQ(layer.stageTextures[1], layerTexture);
    const DeviceState l = StateBefore(*m.device, draws[1]);
    EXPECT_EQ(Stages(l), (std::vector<DWORD>{on, on, D3DTA_TEXTURE, 0, D3DTTFF_DISABLE, on, on,
                                             D3DTA_CURRENT, 0, D3DTTFF_COUNT2}));
    EXPECT_EQ(Scale(l.Transform(D3DTS_TEXTURE1)), std::pair(4.f, 4.f));

    // Left behind: both stages off, blending off, the layer's transforms.
    const DeviceState& after = m.device->state;
    EXPECT_EQ(Stages(after), (std::vector<DWORD>{off, off, D3DTA_TEXTURE, 0, D3DTTFF_DISABLE, off,
                                                 off, D3DTA_CURRENT, 0, D3DTTFF_DISABLE}));
    EXPECT_EQ(after.Rs(D3DRS_ALPHABLENDENABLE), DWORD(FALSE));
    EXPECT_EQ(Scale(after.Transform(D3DTS_TEXTURE1)), std::pair(4.f, 4.f));

    // Wireframe: the base pass alone, untransformed.
    t.fillMode = D3DFILL_WIREFRAME;
    const std::vector<size_t> wire = m.Frame();
    ASSERT_EQ(wire.size(), 1u);
    const DeviceCall& w = m.device->log[wire[0]];
    EXPECT_EQ(std::pair(w.fillMode, w.alphaBlend),
              std::pair(DWORD(D3DFILL_WIREFRAME), DWORD(FALSE)));
    EXPECT_TRUE(m.device->Calls(DeviceOp::SetTransform).empty());
}

TEST(TerrainRender, BrushOutlineOnlyWithAHit) {
    RenderTerrain m;
    KrTerrain& t = m.terrain;
    KrPickRay ray;
    t.pickRay = &ray;
    t.pickHit = false;
    m.Frame();
    EXPECT_TRUE(m.device->Calls(DeviceOp::DrawPrimitive).empty());

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

// Layers without a texture or an alpha map of their own, and a base index past the list,
// draw nothing of theirs and never reach outside the lists.
TEST(TerrainRender, BrokenLayersAreSkipped) {
    RenderTerrain m;
    KrTerrain& t = m.terrain;
    m.AddTexture();
    ASSERT_TRUE(t.AddSplatLayer(0));
    ASSERT_TRUE(t.AddSplatLayer(0));
    t.splatLayers[1].textureIndex = 7;              // past the textures
    t.splatLayers.push_back(KrSplatLayer{1.0f, 0}); // no alpha map of its own
    t.baseTexture = 3;
    const std::vector<size_t> draws = m.Frame();
    EXPECT_EQ(m.device->Calls(DeviceOp::SetTexture).size(), 2u); // the one drawn layer
    EXPECT_EQ(draws.size(), 2u);
}

} // namespace
