// The one shader program that stands in for Direct3D 9's fixed-function pipeline: per-vertex
// lighting in view space, two texture stages, specular added after the stages. Every state it
// reads is a uniform, set from the device state before each draw.
#pragma once

#include "device_state.h"

#include <string>

class GlProgram {
public:
    // Compiles and links in the current context; false (and the log in *error) on failure.
    bool Build(std::string* error);
    void Destroy();
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
