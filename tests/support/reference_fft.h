// Plain transcriptions of the transform and of one conversion block, loop for
// loop as the algorithm is written down: the references the fast code must
// match bit for bit.
#pragma once

#include <cstdint>

#include "audio/block_transform.h"

namespace okrelt_test {

// The transform: bit-reversal permutation, butterfly stages with the
// half-angle twiddle recurrence, 1/n scaling forward. Always returns 0.
int reference_fft(int16_t direction, int m, double* re, double* im);

// One block of the converter step by step (fill, forward transform, peak,
// the halves of the spectrum swapped in sky order, cleared upper half,
// inverse transform, quantisation) on arrays of SPECTRUM_SIZE doubles; out
// receives SPECTRUM_SIZE bytes. levels, order and peak as in transform_block;
// the steps take no help from a team, and aside is run before them. Returns
// the factor.
int32_t reference_convert_block(const int8_t* in_phase, const int8_t* quadrature, const double* levels,
                                okrelt::SoundOrder order, double* re, double* im, okrelt::RunningPeak* peak,
                                uint8_t* out, okrelt::Team*, okrelt::BlockAside aside);

}  // namespace okrelt_test
