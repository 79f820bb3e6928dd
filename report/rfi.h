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

// Where a running peak was last raised: the block (its RunningPeak's block
// then) and the bin of that block's spectrum (0 .. BLOCK_SAMPLES - 1).
// -1 before any.
struct PeakPlace {
    int32_t block = -1;
    int32_t bin = -1;
};

// The running peak over the blocks of one unit, owned by whoever converts
// it and handed to every measurement: a fresh one is a new unit's factor,
// so units converted side by side keep their own.
struct RunningPeak {
    double magnitude = 0.0;   // the largest bin magnitude measured so far; only grows
    PeakPlace place;          // where magnitude was last raised
    int32_t block = -1;       // the block whose bins are measured now, for place
};

// The RFI factor of a running peak: its magnitude truncated toward zero.
int32_t peak_factor(const RunningPeak& peak);

// How a block's bins are laid out in the arrays measured.
enum class BinOrder { NATURAL, BIT_REVERSED };   // bit-reversed: bin k at rev16(k)

// Raises *peak to the largest hypot(PEAK_SCALE re[k], PEAK_SCALE im[k]) of
// the BLOCK_SAMPLES bins of a block, noting the lowest bin that has it, in
// whatever order they lie; returns peak_factor(*peak).
int32_t measure_block_peak(RunningPeak* peak, const double* re, const double* im, BinOrder order = BinOrder::NATURAL);

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
// exceed beyond (a running peak's magnitude). Touches no running peak: bins may be
// measured on one thread and raised on another (raise_peak), in any order
// once joined by stronger_peak.
BinsPeak find_bins_peak(const double* re, const double* im, int count, double largest_square, int32_t first,
                        BinOrder order, double beyond);

// Raises *peak to found, if larger, in peak->block; returns peak_factor(*peak).
int32_t raise_peak(RunningPeak* peak, const BinsPeak& found);

// The grading word of a factor: "Nope", "Nah", "Maybe", "YEP" or "WHOA".
const char* rfi_grade(int32_t rfi_factor);

// Prints the verdict box with the factor and the disclaimer.
void print_rfi_report(int32_t rfi_factor);

}  // namespace okrelt
