// The noise brush's noise: smooth, seeded gradient noise over the grid's vertices.
//
// Three octaves of gradient noise on square lattices of 32, 16 and 8 cells, with weights
// 4/7, 2/7 and 1/7, each scaled by sqrt(2) so that the sum stays within [-1, 1]. A lattice
// corner's gradient is one of 16 directions, chosen by hashing the corner, the octave and
// the seed. The value at a vertex depends only on its column, its row and the seed: the same
// world position always gets the same noise, whatever the brush or the time.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

constexpr int kNoiseOctaves = 3;

// The noise at one vertex, with the row evaluator's arithmetic in the same order, so the two
// agree bit for bit.
float SculptNoise(int32_t column, int32_t row, uint32_t seed);

// Noise for runs of one row at a time. Lattice gradients are kept between calls, so rows
// taken in order hash each lattice corner only once per octave; the buffers only grow.
class KrNoiseRows {
public:
    // Writes the noise of columns first to last (first >= 0) of row (>= 0) to out.
    void Row(int32_t row, int32_t first, int32_t last, uint32_t seed, float* out);

private:
    struct Lattice {
        int32_t latticeRow = -1;
        int32_t firstCell = 0, lastCell = -1;
        uint32_t seed = 0;
        // Gradients of the lattice rows above and below the vertex row, per lattice column.
        std::vector<float> gx0, gz0, gx1, gz1;
    };
    Lattice lattices_[kNoiseOctaves];
};

// The noise of every vertex of a grid, worked out the first time a piece of a row is asked
// for and kept (one float a vertex, made on first use): a stroke keeps going over the same
// vertices, and reading a kept value costs far less than three octaves.
class KrNoiseField {
public:
    // The noise of row's columns first to last, at [first..last] of the returned pointer's
    // row (index by column). width and depth are the grid's vertex counts.
    const float* Row(int32_t row, int32_t first, int32_t last, int32_t width, int32_t depth,
                     uint32_t seed);

private:
    static constexpr int kBlockShift = 6; // 64 columns are made at a time
    int32_t width_ = 0, depth_ = 0, blocksPerRow_ = 0;
    uint32_t seed_ = 0;
    std::unique_ptr<float[]> values_;  // width × depth, or null when it could not be made
    std::unique_ptr<uint8_t[]> ready_; // per row and block of columns
    std::vector<float> scratch_;       // a row's noise when there is no field to keep it in
    KrNoiseRows rows_;
};
