// One shader program for every state: per-vertex lighting in view space, two texture stages,
// specular added after the stages, every state a uniform written before each draw. The device
// draws with it where a program written for the draw's states cannot be built, and tests
// compare those programs' pictures with its own.
#pragma once

#include "device_state.h"

#include <string>

class GlReferenceProgram {
public:
    // Compiles and links in the current context; false (and the log in *error) on failure.
    bool Build(std::string* error);
    void Destroy();
    unsigned Name() const { return program_; }
    // Makes the program current and writes every uniform for a draw with this vertex format.
    void Apply(const DeviceState& state, DWORD fvf);

private:
    unsigned program_ = 0;
    struct Locations {
        int worldView, projection, normalMatrix;
        int lighting, normalize, localViewer, specularEnable, globalAmbient;
        int matDiffuse, matAmbient, matSpecular, matEmissive, matPower, matFromVertex;
        int lightCount, lightDirectional, lightPosition, lightToward, lightDiffuse, lightSpecular,
            lightAmbient, lightRange, lightAttenuation;
        int texMatrix, texTransform, texSource;
        int texture0, texture1, colourStage, alphaStage, specularAdd;
        int alphaTest, alphaFunc, alphaRef;
    } loc_{};
};
