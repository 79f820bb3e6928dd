// Inside the transform: the twiddle tables shared by every code path, and the
// entry points each instruction-set file provides.
#pragma once

#include <cstdint>

#include "audio/block_transform.h"
#include "audio/fft.h"
#include "common/block_sizes.h"
#include "common/sample_levels.h"

namespace okrelt {

constexpr int TWIDDLE_STAGES = FFT_MAX_LOG2;            // stages 0..16: half-widths 1..65536
static_assert(TWIDDLE_STAGES == SPECTRUM_LOG2, "the tables cover the converter's inverse transform, no more");
constexpr long TWIDDLE_ENTRIES = 1L << TWIDDLE_STAGES;  // stage s occupies [2^s, 2^(s+1))

// The step factors of every stage, advanced by the recurrence exactly as the
// stage loop does it, computed by the build and kept in read-only data.
struct TwiddleTables {
    // Inverse direction, stage s, butterfly j at [2^s + j].
    alignas(64) double inverse_re[TWIDDLE_ENTRIES];
    alignas(64) double inverse_im[TWIDDLE_ENTRIES];
    // Forward direction, stage s, at [2^s + rev_s(j)]: the order in which the
    // blocks of a stage meet their twiddles when the data stays in natural order.
    alignas(64) double forward_re[TWIDDLE_ENTRIES];
    alignas(64) double forward_im[TWIDDLE_ENTRIES];
};

// The tables: the build's, carried in read-only data (fft_tables.cpp), or in
// a program that links fft_tables_computed.cpp instead, computed on first use.
// Not inline: every instruction-set file calls the same baseline code.
const TwiddleTables* twiddle_tables();

// Fills tables with the recurrence of twiddle_recurrence.h, as the build does.
void compute_twiddle_tables(TwiddleTables* tables);

// Where the first forward pass of a block takes its points from: the stored
// sample values themselves, the levels their codes stand for, or re/im.
enum SampleSource { SAMPLES_AS_VALUES, SAMPLES_AS_LEVELS, FROM_ARRAYS };

// What one instruction-set file provides.
struct FftKernels {
    // The transform as fft() specifies it, for 0 <= m <= FFT_MAX_LOG2.
    void (*transform)(int16_t direction, int m, double* re, double* im);
    // The forward transform with bin k left at rev_m(k), as fft.h says.
    void (*forward_bit_reversed)(int m, double* re, double* im);
    // The fused block of block_transform.h; returns the RFI factor so far.
    int32_t (*fused_block)(const int8_t* in_phase, const int8_t* quadrature, const double* levels, SoundOrder order,
                           double* re, double* im, BlockBytes* bytes);
};

const FftKernels* generic_kernels();
const FftKernels* sse2_kernels();    // nullptr where the build has no SSE2 file
const FftKernels* avx2_kernels();
const FftKernels* avx512_kernels();

}  // namespace okrelt
