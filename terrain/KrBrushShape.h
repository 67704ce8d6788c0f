// The sculpting brush's modes and shapes beyond the two squares, and the round brush's
// falloff.
#pragma once

#include <cstdint>
#include <limits>

// Values of KrTerrain::brushMode. 1 to 3 keep the two squares' meaning when the shape is
// square.
enum KrBrushMode : int32_t {
    kBrushModeNone = 0,
    kBrushModeRaise = 1,
    kBrushModeLower = 2,
    kBrushModeFlat = 3,
    kBrushModeSmooth = 4,
    kBrushModeSetHeight = 5,
    kBrushModeNoise = 6,
};

// Values of KrTerrain::brushShape.
enum KrBrushShape : int32_t {
    kBrushShapeSquare = 0, // the big and the small square of grid vertices
    kBrushShapeRound = 1,  // full inside the inner circle, easing to nothing at the outer one
};

// The one bound on heights that every brush writes, the two squares included: finite
// heights keep the normals and the saved file finite, whatever a stroke starts from.
constexpr float kMaxToolHeight = std::numeric_limits<float>::max();

// The round brush's weight at a distance from its centre: 1 up to the inner radius, 0 from
// the outer radius on, and a smoothstep between (monotone, with no kink at either circle).
// With equal radii the edge is hard.
float RoundBrushWeight(float distance, float inner, float outer);

// RoundBrushWeight for count vertices of one grid row, given each vertex's squared distance
// along x (dx2) and the row's squared distance along z. The same arithmetic as the scalar
// form, four at a time.
void RoundBrushWeights(const float* dx2, float dz2, float inner, float outer, float* out,
                       int32_t count);
