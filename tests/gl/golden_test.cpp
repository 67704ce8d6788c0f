// The programs written for each state combination, with only changed state sent, must draw
// exactly what the one program for every state draws with everything sent before each draw.
#include "gl_fixture.h"

#include <array>
#include <cstdio>
#include <functional>

namespace {

D3DXMATRIX LookAt(D3DXVECTOR3 eye, D3DXVECTOR3 at) {
    D3DXVECTOR3 z = at - eye, x, y, up(0, 1, 0);
    D3DXVec3Normalize(&z, &z);
    D3DXVec3Cross(&x, &up, &z);
    D3DXVec3Normalize(&x, &x);
    D3DXVec3Cross(&y, &z, &x);
    return D3DXMATRIX(x.x, y.x, z.x, 0, x.y, y.y, z.y, 0, x.z, y.z, z.z, 0, -D3DXVec3Dot(&x, &eye),
                      -D3DXVec3Dot(&y, &eye), -D3DXVec3Dot(&z, &eye), 1);
}

D3DLIGHT9 NearLight(D3DLIGHTTYPE type) {
    D3DLIGHT9 l = DefaultLight();
    l.Type = type;
    l.Position = {300, 500, -200};
    l.Direction = {-0.3f, -0.8f, 0.5f};
    l.Range = 1400;
    l.Attenuation0 = 0.4f;
    l.Attenuation1 = 0.0008f;
    l.Specular = {0.9f, 0.8f, 0.6f, 1};
    return l;
}

class GlGoldenTest : public GlDeviceTest {
protected:
    // Draws the scene with the reference pipeline and then with the device's own, and says
    // where the two back buffers differ. A scene must show something unless it may be empty.
    ::testing::AssertionResult Same(const std::function<void()>& scene, bool mayBeEmpty = false) {
        device->SetReferencePipeline(true);
        scene();
        Pixels();
        const std::vector<uint32_t> reference = pixels;
        device->SetReferencePipeline(false);
        scene();
        Pixels();
        size_t differ = 0, first = 0;
        for (size_t i = 0; i < pixels.size(); ++i)
            if (pixels[i] != reference[i] && differ++ == 0)
                first = i;
        if (!mayBeEmpty && CountNot(kBlue) == 0)
            return ::testing::AssertionFailure() << "the scene shows nothing";
        if (differ == 0)
            return ::testing::AssertionSuccess();
        char colours[64];
        std::snprintf(colours, sizeof colours, "%08X against %08X", pixels[first],
                      reference[first]);
        return ::testing::AssertionFailure()
               << differ << " pixels differ, first at (" << first % kBackWidth << ", "
               << first / kBackWidth << "): " << colours;
    }
};

// The editor's frames over a sculpted, painted terrain, through every fill mode, layer count,
// light, specular setting, alpha test, texture scale and culling direction. Layers are drawn
// in solid mode only.
TEST_F(GlGoldenTest, TerrainFramesMatchTheReferencePipeline) {
    KrTerrain terrain;
    terrain.device = device;
    ASSERT_TRUE(terrain.Create(65, 65, 20));
    for (int32_t i = 0; i < terrain.info.numVertices; ++i) {
        KrTerrainVertex& v = terrain.vertices[i];
        v.y = 120 * std::sin(v.x / 170) * std::cos(v.z / 230) + 60 * std::sin((v.x + v.z) / 90);
    }
    terrain.MarkVerticesChanged(0, terrain.info.numVertices - 1);

    const D3DXMATRIX view = LookAt({-400, 700, -800}, {0, 0, 0});
    D3DXMATRIX projection, cull;
    D3DXMatrixPerspectiveFovLH(&projection, 3.14159265f / 4, 1280.0f / 768.0f, 10, 100000);
    D3DXMatrixPerspectiveFovLH(&cull, 1.5f, 1.0f, 10, 100000);
    device->SetTransform(D3DTS_VIEW, &view);
    device->SetTransform(D3DTS_PROJECTION, &projection);
    KrPickRay pick;
    pick.ComputePickRay(device, window.get(), 170, 100);
    terrain.pickRay = &pick;
    terrain.bigRadius = 160;
    terrain.smallRadius = 70;
    for (int i = 0; i < 4; ++i) // normals settle over a few frames
        terrain.UpdateTerrain(view, cull);
    ASSERT_TRUE(terrain.pickHit);

    const char* images[] = {"grass.jpg", "rock-progressive.jpg", "sand-37x23.bmp", "palette.png"};
    for (int i = 0; i < 4; ++i) {
        const std::string path = std::string(VELDMARK_TEST_DATA "/images/") + images[i];
        ASSERT_TRUE(terrain.AddTexture(std::wstring(path.begin(), path.end()).c_str()));
        ASSERT_TRUE(terrain.AddSplatLayer(i));
        terrain.splatLayers[i].mappingScale = 1.0f + 2.5f * i;
        terrain.bigRadius = 250 + 90 * i;
        terrain.splatInnerRadius = 40.0f * i;
        pick.hitPoint = D3DXVECTOR3(-300.0f + 200 * i, 0, 150.0f - 120 * i);
        ASSERT_TRUE(terrain.PaintSplat(&pick, i));
    }
    terrain.bigRadius = 160;
    terrain.UpdateTerrain(view, cull);
    const auto layers = terrain.splatLayers;
    const auto maps = terrain.alphaMaps;

    const D3DMATERIAL9 material{{0.8f, 0.75f, 0.7f, 1}, {1, 1, 1, 1}, {1, 1, 1, 1}, {}, 12};
    device->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_SRCALPHA);
    device->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_INVSRCALPHA);
    const D3DLIGHTTYPE lights[] = {D3DLIGHT_POINT, D3DLIGHT_DIRECTIONAL};
    int config = 0;
    for (DWORD fill : {D3DFILL_SOLID, D3DFILL_WIREFRAME, D3DFILL_POINT})
        for (size_t layerCount : {0, 1, 4})
            for (int light = 0; light < 5 && (layerCount == 4 || fill == D3DFILL_SOLID);
                 ++light, ++config) {
                // 0 off, 1 point, 2 directional, 3 point without and 4 directional without
                // highlights; the rest turns with the configuration's number.
                const bool lit = light > 0, specular = light == 1 || light == 2;
                const D3DLIGHT9 near = NearLight(lights[(light - 1 + 2) % 2]);
                device->SetLight(0, &near);
                device->LightEnable(0, lit);
                device->SetRenderState(D3DRS_LIGHTING, lit);
                device->SetRenderState(D3DRS_SPECULARENABLE, specular);
                device->SetRenderState(D3DRS_CULLMODE, config % 3 == 2 ? D3DCULL_CW : D3DCULL_CCW);
                device->SetRenderState(D3DRS_ALPHATESTENABLE, config % 4 == 1);
                device->SetRenderState(D3DRS_ALPHAFUNC, D3DCMP_GREATER);
                device->SetRenderState(D3DRS_ALPHAREF, 0x50);
                terrain.fillMode = static_cast<int32_t>(fill);
                terrain.baseMappingScale = config % 2 ? 6.5f : 1.0f;
                terrain.baseTexture = config % 5 == 3 ? -1 : config % 4;
                terrain.splatLayers.assign(layers.begin(), layers.begin() + layerCount);
                terrain.alphaMaps.assign(maps.begin(), maps.begin() + layerCount);
                EXPECT_TRUE(Same([&] {
                    Frame();
                    device->SetMaterial(&material);
                    terrain.Render();
                })) << "fill "
                    << fill << ", " << layerCount << " layers, light " << light
                    << ", configuration " << config;
            }
    terrain.splatLayers = layers;
    terrain.alphaMaps = maps;
    device->SetRenderState(D3DRS_ALPHATESTENABLE, FALSE);
    // One program for each combination in use, built once.
    EXPECT_LE(device->ProgramsKept(), GlProgramCache::kCapacity);
}

// Stage operations, arguments and alpha tests the terrain never sets, vertex colours as
// material colours, several lights at once and a scaled world, one after another so that each
// draw starts from what the last one left.
TEST_F(GlGoldenTest, StatesTheTerrainNeverSetsMatchTheReferencePipeline) {
    struct Vertex {
        float x, y, z, nx, ny, nz;
        D3DCOLOR colour;
        float u, v;
    };
    constexpr DWORD kFvf = D3DFVF_XYZ | D3DFVF_NORMAL | D3DFVF_DIFFUSE | D3DFVF_TEX1;
    constexpr DWORD kComplement = 0x10, kReplicate = 0x20;
    std::vector<Vertex> vertices;
    const int cells = 24;
    for (int r = 0; r < cells; ++r)
        for (int c = 0; c < cells; ++c)
            for (int corner : {0, 1, 2, 1, 3, 2}) {
                const int x = c + (corner & 1), z = r + (corner >> 1);
                const float fx = x - cells / 2.0f, fz = cells / 2.0f - z;
                const float y = 30 * std::sin(fx * 0.7f) * std::cos(fz * 0.5f);
                D3DXVECTOR3 n(-std::cos(fx * 0.7f), 1.5f, std::sin(fz * 0.5f));
                const D3DCOLOR colour = uint32_t((x * 37 + z * 11) & 0xFF) << 24 |
                                        uint32_t(x * 10) << 16 | uint32_t(z * 10) << 8 |
                                        uint32_t((x * z) & 0xFF);
                vertices.push_back(
                    {fx * 60, y, fz * 60, n.x, n.y, n.z, colour, x / 6.0f, z / 6.0f});
            }
    IDirect3DVertexBuffer9* vb = VertexBuffer(vertices);
    device->SetTexture(0, Texture(
                              16, 16,
                              [](UINT x, UINT y, UINT l) {
                                  return uint32_t((x * 16 + l * 40) & 0xFF) << 24 |
                                         uint32_t(y * 15) << 16 | uint32_t(x * 15) << 8 | 0x40u;
                              },
                              0));
    device->SetTexture(
        1, Texture(8, 8, [](UINT x, UINT y, UINT) { return (x + y) % 2 ? 0x80FFC040u : kWhite; }));
    for (DWORD s = 0; s < 2; ++s) {
        Sampler(s, D3DSAMP_MINFILTER, D3DTEXF_LINEAR, D3DSAMP_MAGFILTER);
        device->SetSamplerState(s, D3DSAMP_MIPFILTER, D3DTEXF_LINEAR);
    }
    const D3DXMATRIX view = LookAt({200, 900, -1000}, {0, 0, 0});
    D3DXMATRIX projection, scale;
    D3DXMatrixPerspectiveFovLH(&projection, 3.14159265f / 4, 1280.0f / 768.0f, 10, 100000);
    device->SetTransform(D3DTS_VIEW, &view);
    device->SetTransform(D3DTS_PROJECTION, &projection);
    device->SetTransform(D3DTS_TEXTURE1, D3DXMatrixScaling(&scale, 3.0f, 2.0f, 1.0f));
    D3DLIGHT9 lights[4] = {NearLight(D3DLIGHT_POINT), NearLight(D3DLIGHT_DIRECTIONAL),
                           NearLight(D3DLIGHT_SPOT), NearLight(D3DLIGHT_POINT)};
    lights[2].Position = {-500, 200, 300};
    lights[2].Diffuse = {0.2f, 0.4f, 1.0f, 1};
    lights[3].Position = {5000, 0, 0}; // out of range
    lights[0].Attenuation0 = lights[0].Attenuation1 = 0;
    const D3DMATERIAL9 material{
        {0.6f, 0.7f, 0.8f, 0.5f}, {0.3f, 0.3f, 0.3f, 1}, {1, 1, 1, 1}, {0.05f, 0, 0.1f, 0}, 20};
    device->SetMaterial(&material);
    device->SetStreamSource(0, vb, 0, sizeof(Vertex));
    device->SetFVF(kFvf);

    using Stage = std::array<DWORD, 6>; // colour op, arg 1, arg 2, alpha op, arg 1, arg 2
    auto stage = [&](DWORD s, const Stage& v) {
        const D3DTEXTURESTAGESTATETYPE types[6] = {D3DTSS_COLOROP,   D3DTSS_COLORARG1,
                                                   D3DTSS_COLORARG2, D3DTSS_ALPHAOP,
                                                   D3DTSS_ALPHAARG1, D3DTSS_ALPHAARG2};
        for (int i = 0; i < 6; ++i)
            device->SetTextureStageState(s, types[i], v[i]);
    };
    auto lighting = [&](bool on, bool specular, int count) {
        device->SetRenderState(D3DRS_LIGHTING, on);
        device->SetRenderState(D3DRS_SPECULARENABLE, specular);
        for (int i = 0; i < 4; ++i) {
            device->SetLight(i, &lights[i]);
            device->LightEnable(i, i < count);
        }
    };
    const std::pair<const char*, std::function<void()>> steps[] = {
        {"lit, texture times diffuse",
         [&] {
             lighting(true, true, 1);
             stage(0, {D3DTOP_MODULATE, D3DTA_TEXTURE, D3DTA_DIFFUSE, D3DTOP_SELECTARG1,
                       D3DTA_TEXTURE, D3DTA_CURRENT});
         }},
        {"select argument 2, second stage modulating 2x",
         [&] {
             stage(0, {D3DTOP_SELECTARG2, D3DTA_TEXTURE, D3DTA_DIFFUSE, D3DTOP_SELECTARG2,
                       D3DTA_TEXTURE, D3DTA_DIFFUSE});
             stage(1, {D3DTOP_MODULATE2X, D3DTA_TEXTURE, D3DTA_CURRENT, D3DTOP_MODULATE,
                       D3DTA_TEXTURE, D3DTA_CURRENT});
         }},
        {"4x, add, complement and replicate",
         [&] {
             stage(0, {D3DTOP_ADD, D3DTA_TEXTURE | kComplement, D3DTA_SPECULAR, D3DTOP_ADD,
                       D3DTA_TEXTURE | kReplicate, D3DTA_DIFFUSE | kComplement});
             stage(1, {D3DTOP_MODULATE4X, D3DTA_TEXTURE | kReplicate, D3DTA_CURRENT, D3DTOP_DISABLE,
                       D3DTA_TEXTURE, D3DTA_CURRENT});
         }},
        {"texture factor and an operation read as modulate",
         [&] {
             stage(0, {8, D3DTA_TFACTOR, D3DTA_DIFFUSE, D3DTOP_MODULATE2X, D3DTA_TFACTOR,
                       D3DTA_SPECULAR | kReplicate});
             stage(1, {D3DTOP_SELECTARG1, D3DTA_TEXTURE | kComplement | kReplicate, D3DTA_CURRENT,
                       D3DTOP_SELECTARG1, D3DTA_CURRENT, D3DTA_CURRENT});
         }},
        {"second stage from coordinate set 1, transformed",
         [&] {
             stage(0, {D3DTOP_MODULATE, D3DTA_TEXTURE, D3DTA_DIFFUSE, D3DTOP_MODULATE,
                       D3DTA_TEXTURE, D3DTA_DIFFUSE});
             stage(1, {D3DTOP_ADD, D3DTA_TEXTURE, D3DTA_CURRENT, D3DTOP_MODULATE, D3DTA_TEXTURE,
                       D3DTA_CURRENT});
             device->SetTextureStageState(1, D3DTSS_TEXCOORDINDEX, 1);
             device->SetTextureStageState(1, D3DTSS_TEXTURETRANSFORMFLAGS, D3DTTFF_COUNT2);
         }},
        {"second stage transformed, first disabled",
         [&] {
             device->SetTextureStageState(1, D3DTSS_TEXCOORDINDEX, 0);
             device->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_DISABLE);
         }},
        {"both transformed",
         [&] {
             device->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_MODULATE);
             device->SetTextureStageState(0, D3DTSS_TEXTURETRANSFORMFLAGS, D3DTTFF_COUNT2);
             device->SetTransform(D3DTS_TEXTURE0, D3DXMatrixScaling(&scale, 0.5f, 4.0f, 1.0f));
         }},
        {"vertex colours as material colours, three lights, local viewer off",
         [&] {
             lighting(true, true, 4);
             device->SetRenderState(D3DRS_COLORVERTEX, TRUE);
             device->SetRenderState(D3DRS_AMBIENTMATERIALSOURCE, D3DMCS_COLOR1);
             device->SetRenderState(D3DRS_EMISSIVEMATERIALSOURCE, D3DMCS_COLOR1);
             device->SetRenderState(D3DRS_SPECULARMATERIALSOURCE, D3DMCS_COLOR1);
             device->SetRenderState(D3DRS_LOCALVIEWER, FALSE);
             device->SetRenderState(D3DRS_AMBIENT, 0xFF203040u);
         }},
        {"normalised normals under a scaled world",
         [&] {
             device->SetRenderState(D3DRS_NORMALIZENORMALS, TRUE);
             device->SetRenderState(D3DRS_LOCALVIEWER, TRUE);
             device->SetTransform(D3DTS_WORLD, D3DXMatrixScaling(&scale, 1.2f, 2.0f, 0.8f));
         }},
        {"lights off, highlights on, vertex colour",
         [&] {
             lighting(false, true, 1);
             device->SetTextureStageState(1, D3DTSS_COLOROP, D3DTOP_DISABLE);
         }},
        {"lit with no light enabled",
         [&] {
             lighting(true, false, 0);
             device->SetRenderState(D3DRS_DIFFUSEMATERIALSOURCE, D3DMCS_MATERIAL);
         }},
        {"blended and alpha tested",
         [&] {
             lighting(true, true, 2);
             device->SetRenderState(D3DRS_ALPHABLENDENABLE, TRUE);
             device->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_SRCALPHA);
             device->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_INVSRCALPHA);
             device->SetRenderState(D3DRS_ALPHATESTENABLE, TRUE);
             device->SetRenderState(D3DRS_ALPHAREF, 0x60);
         }},
    };
    for (const auto& [name, change] : steps) {
        change();
        EXPECT_TRUE(Same([&] {
            Frame();
            device->DrawPrimitive(D3DPT_TRIANGLELIST, 0, UINT(vertices.size() / 3));
        })) << name;
    }
    // Every alpha function, against a reference that the texture and the vertex alpha cross.
    for (DWORD func = D3DCMP_NEVER; func <= D3DCMP_ALWAYS; ++func) {
        device->SetRenderState(D3DRS_ALPHAFUNC, func);
        EXPECT_TRUE(Same(
            [&] {
                Frame();
                device->DrawPrimitive(D3DPT_TRIANGLELIST, 0, UINT(vertices.size() / 3));
            },
            func == D3DCMP_NEVER))
            << "alpha function " << func;
    }
    // Stages without textures read white.
    device->SetRenderState(D3DRS_ALPHATESTENABLE, FALSE);
    stage(0, {D3DTOP_MODULATE, D3DTA_TEXTURE | kComplement, D3DTA_DIFFUSE, D3DTOP_MODULATE,
              D3DTA_TEXTURE | kReplicate, D3DTA_DIFFUSE});
    stage(1, {D3DTOP_ADD, D3DTA_TEXTURE, D3DTA_CURRENT, D3DTOP_SELECTARG2, D3DTA_TEXTURE,
              D3DTA_CURRENT});
    device->SetTexture(0, nullptr);
    device->SetTexture(1, nullptr);
    EXPECT_TRUE(Same([&] {
        Frame();
        device->DrawPrimitive(D3DPT_TRIANGLELIST, 0, UINT(vertices.size() / 3));
    }));
}

} // namespace
