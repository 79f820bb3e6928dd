// Interference report: the running spectral peak over all blocks of a work
// unit and the verdict box that prints it as the RFI factor.
#pragma once

#include <cstdint>

#include "common/block_sizes.h"

namespace okrelt {

constexpr double PEAK_SCALE = BLOCK_SAMPLES;   // undoes the forward transform's 1/n
constexpr int32_t GRADE_NAH = 1500;        // lowest factor of each word but "Nope"
constexpr int32_t GRADE_MAYBE = 2000;
constexpr int32_t GRADE_YEP = 2500;
constexpr int32_t GRADE_WHOA = 3000;

// Where the running peak was last raised: the block (as set by
// start_peak_block) and the bin of that block's spectrum (0 .. BLOCK_SAMPLES - 1).
// -1 before any.
struct PeakPlace {
    int32_t block = -1;
    int32_t bin = -1;
};

// The running peak: the largest bin magnitude this thread has measured since
// reset_peak; starts at 0.0, only grows. Each thread has its own, so that
// units converted side by side keep their own factors.
double peak_magnitude();

// Where this thread's running peak was last raised.
PeakPlace peak_place();

// How a block's bins are laid out in the arrays measured.
enum BinOrder { BINS_NATURAL, BINS_BIT_REVERSED };   // bit-reversed: bin k at rev16(k)

// Sets the running peak to 0.0 and its place to none: a new unit's factor.
void reset_peak();

// The block whose bins are measured from now on, for peak_place.
void start_peak_block(int32_t block);

// Raises the running peak to the largest hypot(PEAK_SCALE re[k], PEAK_SCALE im[k])
// of the BLOCK_SAMPLES bins of a block, noting the lowest bin that has it,
// in whatever order they lie; returns the running peak truncated toward zero.
int32_t measure_block_peak(const double* re, const double* im, BinOrder order = BINS_NATURAL);

// The same over count entries starting at position first of the block: a
// block may be measured part by part.
int32_t measure_bins_peak(const double* re, const double* im, int count, int32_t first = 0,
                          BinOrder order = BINS_NATURAL);

// The largest magnitude among some bins of a block and the lowest bin that
// has it, as a scan from bin 0 up finds it; magnitude 0.0 and bin -1 for none.
struct BinsPeak {
    double magnitude = 0.0;
    int32_t bin = -1;
};

// Of two peaks of one block, the larger, or of equal ones the lower bin's.
BinsPeak stronger_peak(const BinsPeak& a, const BinsPeak& b);

// The peak of count bins from position first of a block, for a caller that
// already knows their largest re[k]^2 + im[k]^2: only bins close enough to it
// to decide the maximum are looked at, and none if even the largest cannot
// exceed beyond (a running peak). Touches no running peak: bins may be
// measured on one thread and raised on another (raise_peak), in any order
// once joined by stronger_peak.
BinsPeak find_bins_peak(const double* re, const double* im, int count, double largest_square, int32_t first,
                        BinOrder order, double beyond);

// Raises this thread's running peak to found, if larger, in the block set by
// start_peak_block; returns the running peak truncated toward zero.
int32_t raise_peak(const BinsPeak& found);

// The grading word of a factor: "Nope", "Nah", "Maybe", "YEP" or "WHOA".
const char* rfi_grade(int32_t rfi_factor);

// Prints the verdict box with the factor and the disclaimer.
void print_rfi_report(int32_t rfi_factor);

}  // namespace okrelt
