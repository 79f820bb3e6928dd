// The converter's work on one block, fused: fill, forward transform on
// BLOCK_SAMPLES points, RFI peak, spectrum placed in the lower half of
// SPECTRUM_SIZE points, inverse transform. Bit for bit the result of those
// steps one by one, but without any bit-reversal permutation: the forward
// butterflies leave bin k at position rev16(k), which is exactly the inverse
// transform's bit-reversed input with the cleared upper half's zeros
// interleaved (rev17(k) = 2 rev16(k) for k < 65536).
#pragma once

#include <cstdint>

#include "audio/fft.h"
#include "common/block_sizes.h"
#include "common/sample_levels.h"
#include "common/team.h"
#include "report/rfi.h"

namespace okrelt {

// Where a block's spectrum goes in its sound. Bin order, the sound file's
// own, puts bin k at k: the sub-band's upper half plays from 0 Hz up and its
// lower half above it. Sky order puts bin k at k + BLOCK_SAMPLES / 2 modulo
// BLOCK_SAMPLES, so that pitch rises with sky frequency: the sub-band's lowest
// frequency at 0 Hz, its centre at a quarter of the sound rate.
enum class SoundOrder { BIN, SKY };

constexpr int BYTE_VALUES = 256;   // an 8-bit sample's values

// The inverse transform's points lie in rows of SPECTRUM_ROW_POINTS, each
// SPECTRUM_ROW_STRIDE doubles after the one before. Its last stages join
// the rows column by column; unpadded, the 16 rows' points of a column
// would all fall in one cache set (the rows are 64 KiB apart), padded they
// start 8 cache sets apart.
constexpr int32_t SPECTRUM_ROW_POINTS = 8192;
constexpr int32_t SPECTRUM_ROW_STRIDE = SPECTRUM_ROW_POINTS + 64;
constexpr int32_t SPECTRUM_ROWS = SPECTRUM_SIZE / SPECTRUM_ROW_POINTS;
constexpr int32_t WORKING_POINTS = SPECTRUM_ROWS * SPECTRUM_ROW_STRIDE;   // re's and im's length

// Where point l (0 .. SPECTRUM_SIZE - 1) of the inverse transform lies in re and im.
constexpr int32_t working_place(int32_t l) {
    return l / SPECTRUM_ROW_POINTS * SPECTRUM_ROW_STRIDE + l % SPECTRUM_ROW_POINTS;
}

// A block's sound bytes, which transform_block writes as it finishes the
// real parts where its code path can: out[l] = trunc(gain re[l]) + zero.
struct BlockBytes {
    uint8_t* out = nullptr;   // SPECTRUM_SIZE bytes
    double gain = 0.0;
    int zero = 0;
    bool written = false;     // set when out holds a byte for every point
    bool fits = true;         // cleared when a value lies outside 0..BYTE_VALUES-1: out then means nothing
};

// Whether every scaled value y from lowest to highest makes a byte:
// trunc(y) + zero lies in 0 .. BYTE_VALUES - 1 exactly when
// -zero - 1 < y < BYTE_VALUES - zero.
bool scaled_values_fit(double lowest, double highest, int zero);

// A team (common/team.h) may take a share of every block's transform: the
// block's work is cut into tasks (columns of the first forward stages,
// parts, columns of the last inverse stages) that both threads claim in
// turn. The bytes written and the RFI factor stay the same.

// Work of the caller's own, such as writing out the block before, that it
// does on its thread while a team's second thread makes a start on the
// block; alone, it does it before the block. run null: none.
struct BlockAside {
    void (*run)(void* context) = nullptr;
    void* context = nullptr;
};

// Transforms one block of samples with re/im as working arrays of
// WORKING_POINTS doubles each (64-byte aligned). levels is null when every
// stored byte is its sample's value, else a table of LEVEL_TABLE_SIZE values
// that the stored codes index. Leaves the real part of point l of the
// inverse transform of the spectrum placed in order in re[working_place(l)];
// im is left as scratch. Raises *peak (in peak->block) by the block's bins
// and returns peak_factor(*peak), whatever the order. With bytes, may also write the block's sound bytes (see BlockBytes).
// With a team, its second thread does part of the work; one team serves one
// caller at a time. aside is run once, on the caller's thread.
int32_t transform_block(const int8_t* in_phase, const int8_t* quadrature, const double* levels, SoundOrder order,
                        double* re, double* im, RunningPeak* peak, BlockBytes* bytes = nullptr,
                        Team* team = nullptr, BlockAside aside = {});

// The same on a chosen code path, which must be available.
int32_t transform_block_using(FftIsa isa, const int8_t* in_phase, const int8_t* quadrature, const double* levels,
                              SoundOrder order, double* re, double* im, RunningPeak* peak,
                              BlockBytes* bytes = nullptr, Team* team = nullptr, BlockAside aside = {});

}  // namespace okrelt
