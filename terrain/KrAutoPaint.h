// Painting a splatting layer by the terrain's slope and height.
#pragma once

// Where a layer covers the terrain: slopes from slopeMin to slopeMax degrees and heights from
// heightMin to heightMax get full coverage, which eases to none over slopeSoftness degrees
// and heightSoftness units outside each bound. A range given upside down is read the
// right way round; a softness of 0 or less gives a hard edge.
struct KrAutoPaintRule {
    float slopeMin = 0.0f;
    float slopeMax = 30.0f;
    float slopeSoftness = 5.0f;
    float heightMin = -1000.0f;
    float heightMax = 1000.0f;
    float heightSoftness = 10.0f;
};

// Coverage from 0 to 1 for one slope (degrees, 0 flat to 90 vertical) and height: the
// product of the two ranges' coverage, each 1 inside its range and a smoothstep to 0
// across its soft edges.
float AutoPaintCoverage(float slopeDegrees, float height, const KrAutoPaintRule& rule);
