// Programs that stand in for Direct3D 9's fixed-function pipeline, each written for one
// combination of the states that decide what is computed (lighting, the lights' types, the
// stage operations and arguments, specular, the alpha test), so that no pixel branches on a
// state that cannot change within a draw. Values that may change between draws of the same
// combination (matrices, colours, light positions, the alpha reference) stay uniforms, and a
// program sends only those that differ from what it last received.
#pragma once

#include "device_state.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

constexpr int kShaderLights = 8;

// What a draw's program computes. Fields that cannot matter for the draw are zero, so that
// combinations giving the same program share it.
struct GlProgramKey {
    uint8_t lighting = 0;
    uint8_t lightCount = 0;
    uint8_t directional = 0;  // bit i: light i (in enabled order) is directional
    uint8_t normalize = 0;    // D3DRS_NORMALIZENORMALS
    uint8_t localViewer = 0;  // only where specular highlights are computed
    uint8_t specular = 0;     // D3DRS_SPECULARENABLE: highlights computed and added
    uint8_t fromVertex = 0;   // bits 0-3: diffuse, ambient, specular, emissive from the vertex
    uint8_t stages = 0;       // stages the cascade runs (a disabled colour operation ends it)
    uint8_t colourOp[2] = {}; // canonical operations: 1 disable (alpha only), 2, 3, 4, 5, 6, 7
    uint8_t colourArg[2][2] = {};
    uint8_t alphaOp[2] = {};
    uint8_t alphaArg[2][2] = {}; // canonical arguments: source 0..4 | complement | replicate
    uint8_t sampled = 0;         // bit s: stage s reads its texture
    uint8_t texTransform = 0;    // bit s: stage s transforms its coordinates
    uint8_t texFromVertex = 0;   // bit s: stage s reads the vertex's coordinates (else zero)
    uint8_t alphaFunc = 0;       // 0 no test, else the D3DCMP function 1..7

    bool operator==(const GlProgramKey&) const = default;
};

// Every uniform a program may read, as the device state gives them for a draw.
struct GlUniforms {
    float worldView[16];
    float projection[16];
    float normalMatrix[9];
    float globalAmbient[3];
    float matDiffuse[4], matAmbient[4], matSpecular[4], matEmissive[4];
    float matPower;
    float lightPosition[kShaderLights][3]; // view space
    float lightToward[kShaderLights][3];   // view space, unit or zero
    float lightDiffuse[kShaderLights][3];
    float lightSpecular[kShaderLights][3];
    float lightAmbient[kShaderLights][3];
    float lightRange[kShaderLights];
    float lightAttenuation[kShaderLights][3];
    float texMatrix[2][16];
    float alphaRef;
};

// The program key and uniforms of a draw with this vertex format; the state's projection is
// used as it stands (the device passes it with its half-pixel shift).
void DescribeDraw(const DeviceState& state, DWORD fvf, GlProgramKey* key, GlUniforms* uniforms);

// The GLSL of the program for a key, vertex and fragment stage.
std::string VertexSource(const GlProgramKey& key);
std::string FragmentSource(const GlProgramKey& key);

class GlProgram {
public:
    // Compiles and links in the current context; null (and the log in *error) on failure.
    static std::unique_ptr<GlProgram> Build(const GlProgramKey& key, std::string* error);
    ~GlProgram();
    GlProgram(const GlProgram&) = delete;
    GlProgram& operator=(const GlProgram&) = delete;

    unsigned Name() const { return program_; }
    const GlProgramKey& Key() const { return key_; }
    // Sends the uniforms that differ from those this program last received (all of them the
    // first time, or after Forget); the program must be current. Returns the calls made.
    int Send(const GlUniforms& uniforms);
    void Forget() { sentAny_ = false; }

private:
    enum class Kind : uint8_t { Mat4, Mat3, Vec3, Vec4, Float };
    struct Slot {
        int location;
        Kind kind;
        uint8_t count;
        uint16_t offset; // in floats from the start of GlUniforms
    };
    explicit GlProgram(const GlProgramKey& key) : key_(key) {}

    GlProgramKey key_;
    unsigned program_ = 0;
    std::vector<Slot> slots_;
    GlUniforms sent_{};
    bool sentAny_ = false;
};

// The programs built so far, at most a capacity of them; the one used longest ago makes room.
// A combination that cannot be built is remembered as such, so it is not tried every draw.
class GlProgramCache {
public:
    static constexpr size_t kCapacity = 32;
    explicit GlProgramCache(size_t capacity = kCapacity) : capacity_(capacity) {}

    // The program for the key, built on first use; null when it cannot be built (*error
    // says why the first time). Call with the context current.
    GlProgram* Get(const GlProgramKey& key, std::string* error);
    // Deletes every program; call with the context current.
    void Destroy();
    size_t Size() const { return entries_.size(); }
    uint64_t Builds() const { return builds_; }

private:
    struct Entry {
        GlProgramKey key;
        std::unique_ptr<GlProgram> program; // null: the build failed
        uint64_t lastUse;
    };
    size_t capacity_;
    std::vector<Entry> entries_;
    size_t last_ = 0;
    uint64_t clock_ = 0;
    uint64_t builds_ = 0;
};
