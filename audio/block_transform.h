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
#include "common/sample_levels.h"

namespace okrelt {

// Where a block's spectrum goes in its sound. Bin order, the sound file's
// own, puts bin k at k: the sub-band's upper half plays from 0 Hz up and its
// lower half above it. Sky order puts bin k at k + BLOCK_SAMPLES / 2 modulo
// BLOCK_SAMPLES, so that pitch rises with sky frequency: the sub-band's lowest
// frequency at 0 Hz, its centre at a quarter of the sound rate.
enum SoundOrder { SOUND_BIN_ORDER = 0, SOUND_SKY_ORDER = 1 };

// Transforms one block of samples with re/im as working arrays of
// SPECTRUM_SIZE doubles each (64-byte aligned). levels is null when every
// stored byte is its sample's value, else a table of LEVEL_TABLE_SIZE values
// that the stored codes index. Leaves the real parts of the inverse transform
// of the spectrum placed in order in re[0..SPECTRUM_SIZE); im is left as
// scratch. Raises the running peak and returns the RFI factor so far, whatever
// the order.
int32_t transform_block(const int8_t* in_phase, const int8_t* quadrature, const double* levels, SoundOrder order,
                        double* re, double* im);

// The same on a chosen code path, which must be available.
int32_t transform_block_using(FftIsa isa, const int8_t* in_phase, const int8_t* quadrature, const double* levels,
                              SoundOrder order, double* re, double* im);

}  // namespace okrelt
