#include "gl_fixture.h"
#include "gl_program.h"

namespace {

// GL calls for state, and of those for uniforms.
using Calls = std::pair<uint64_t, uint64_t>;

TEST_F(GlDeviceTest, RepeatedDrawsSendNothingAndAChangeSendsOnlyItself) {
    FlatGrid(10, 100.0f);
    Camera(1500);
    D3DLIGHT9 light = DefaultLight();
    device->SetRenderState(D3DRS_LIGHTING, TRUE);
    device->SetRenderState(D3DRS_SPECULARENABLE, TRUE);
    device->SetLight(0, &light);
    device->LightEnable(0, TRUE);
    ShotGrid();
    const std::vector<uint32_t> first = pixels;

    GlDeviceStats was = device->Stats();
    const auto since = [&] {
        const GlDeviceStats now = device->Stats();
        const Calls calls{now.stateCalls - was.stateCalls, now.uniformCalls - was.uniformCalls};
        was = now;
        return calls;
    };
    const uint64_t built = device->ProgramsBuilt();
    ShotGrid();
    EXPECT_EQ(since(), Calls(0, 0));
    EXPECT_EQ(pixels, first);

    light.Position.x += 100; // the light's place in view space, nothing else
    device->SetLight(0, &light);
    ShotGrid();
    EXPECT_EQ(since(), Calls(1, 1));
    device->SetRenderState(D3DRS_ALPHABLENDENABLE, TRUE); // switched, then its factors
    ShotGrid();
    EXPECT_EQ(since(), Calls(3, 0));
    device->SetRenderState(D3DRS_ALPHABLENDENABLE, FALSE);
    ShotGrid();
    EXPECT_EQ(since(), Calls(1, 0));
    EXPECT_EQ(device->ProgramsBuilt(), built);

    // Another combination makes a program once; coming back to the first sends nothing to it
    // but the switch.
    device->SetRenderState(D3DRS_SPECULARENABLE, FALSE);
    ShotGrid();
    EXPECT_EQ(device->ProgramsBuilt(), built + 1);
    since();
    device->SetRenderState(D3DRS_SPECULARENABLE, TRUE);
    ShotGrid();
    EXPECT_EQ(since(), Calls(1, 0));
}

TEST_F(GlDeviceTest, ProgramsAreKeptUpToTheCapacityAndHaveNoStateBranches) {
    ASSERT_TRUE(window->Surface()->MakeCurrent());
    GlProgramCache cache(3);
    std::vector<GlProgramKey> keys(5);
    for (size_t i = 0; i < keys.size(); ++i) {
        keys[i].stages = 1;
        keys[i].colourOp[0] = D3DTOP_MODULATE;
        keys[i].colourArg[0][0] = D3DTA_TEXTURE;
        keys[i].colourArg[0][1] = D3DTA_DIFFUSE;
        keys[i].alphaOp[0] = D3DTOP_DISABLE;
        keys[i].sampled = 1;
        keys[i].alphaFunc = uint8_t(D3DCMP_NEVER + i);
    }
    std::string error;
    for (const GlProgramKey& key : keys)
        ASSERT_NE(cache.Get(key, &error), nullptr) << error;
    EXPECT_EQ(cache.Size(), 3u);
    EXPECT_EQ(cache.Builds(), 5u);
    EXPECT_TRUE(cache.Get(keys[2], &error)->Key() == keys[2]);
    EXPECT_EQ(cache.Builds(), 5u);
    // Key 3 is now the one used longest ago.
    cache.Get(keys[0], &error);
    cache.Get(keys[4], &error);
    cache.Get(keys[2], &error);
    EXPECT_EQ(cache.Builds(), 6u);
    cache.Get(keys[3], &error);
    EXPECT_EQ(cache.Builds(), 7u);
    cache.Destroy();

    // The pixel program decides nothing from uniforms but the alpha test's reference.
    for (const GlProgramKey& key : keys) {
        const std::string fragment = FragmentSource(key);
        EXPECT_EQ(fragment.find("uniform int"), std::string::npos);
        EXPECT_EQ(fragment.find("uniform bool"), std::string::npos);
        EXPECT_EQ(fragment.find("for ("), std::string::npos);
    }
}

} // namespace
