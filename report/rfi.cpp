#include "report/rfi.h"

#include <cmath>
#include <cstdio>

#include "common/messages.h"

namespace okrelt {

namespace {

// The squared magnitude and hypot may disagree in the last bits, so every bin
// whose square lies this close below the largest square is settled by hypot.
constexpr double NEAR_TIE = 1.0e-9;

// The bin at a position of a block spectrum left in bit-reversed order.
int32_t reversed_bin(int32_t position) {
    int32_t bin = 0;
    for (int b = 0; b < BLOCK_LOG2; ++b) bin |= ((position >> b) & 1) << (BLOCK_LOG2 - 1 - b);
    return bin;
}

}  // namespace

int32_t peak_factor(const RunningPeak& peak) { return static_cast<int32_t>(peak.magnitude); }

int32_t measure_block_peak(RunningPeak* peak, const double* re, const double* im, BinOrder order) {
    double largest_square = 0.0;
    for (int k = 0; k < BLOCK_SAMPLES; ++k) {
        const double square = re[k] * re[k] + im[k] * im[k];
        largest_square = square > largest_square ? square : largest_square;
    }
    return raise_peak(peak, find_bins_peak(re, im, BLOCK_SAMPLES, largest_square, 0, order, peak->magnitude));
}

BinsPeak find_bins_peak(const double* re, const double* im, int count, double largest_square, int32_t first,
                        BinOrder order, double beyond) {
    // A square is cheap where hypot is not: hypot and the square root of the
    // square agree to a few units in the last place, so only bins within
    // NEAR_TIE of the largest square can decide the maximum, and if even that
    // bin stays below beyond, none can exceed it.
    BinsPeak found;
    const double beyond_square = (beyond / PEAK_SCALE) * (beyond / PEAK_SCALE);
    if (largest_square * (1.0 + NEAR_TIE) < beyond_square) return found;
    const double threshold = largest_square * (1.0 - NEAR_TIE);
    for (int k = 0; k < count; ++k) {
        if (re[k] * re[k] + im[k] * im[k] < threshold) continue;
        const double magnitude = std::hypot(PEAK_SCALE * re[k], PEAK_SCALE * im[k]);
        const int32_t position = first + k;
        found = stronger_peak(found, {magnitude, order == BinOrder::BIT_REVERSED ? reversed_bin(position) : position});
    }
    return found;
}

BinsPeak stronger_peak(const BinsPeak& a, const BinsPeak& b) {
    if (a.bin < 0) return b;
    if (b.bin < 0) return a;
    if (a.magnitude != b.magnitude) return a.magnitude > b.magnitude ? a : b;
    return a.bin < b.bin ? a : b;
}

int32_t raise_peak(RunningPeak* peak, const BinsPeak& found) {
    if (found.bin >= 0 && peak->magnitude < found.magnitude) {
        peak->magnitude = found.magnitude;
        peak->place = {peak->block, found.bin};
    }
    return peak_factor(*peak);
}

const char* rfi_grade(int32_t rfi_factor) {
    if (rfi_factor < GRADE_NAH) return "Nope";
    if (rfi_factor < GRADE_MAYBE) return "Nah";
    if (rfi_factor < GRADE_YEP) return "Maybe";
    if (rfi_factor < GRADE_WHOA) return "YEP";
    return "WHOA";
}

void print_rfi_report(int32_t rfi_factor) {
    tell(MessageKind::NOTE, "--RFI Factor-------\n**");
    tell(MessageKind::NOTE, "%s", rfi_grade(rfi_factor));
    tell(MessageKind::NOTE, "**  (%d)\n", rfi_factor);
    tell(MessageKind::NOTE, "-------------------\n");
    tell(MessageKind::NOTE, "The RFI factor is provided for entertainment\n");
    tell(MessageKind::NOTE, "purposes only. No guarantees are given for the\n");
    tell(MessageKind::NOTE, "Correctness and accuracy of it. The SETI@home\n");
    tell(MessageKind::NOTE, "client is the best program for analyzing WU's,\n\n");
    tell(MessageKind::NOTE, "IN NO CASE WHATSOEVER SHALL YOU DELETE A WORKUNIT\n");
    tell(MessageKind::NOTE, "JUST BECAUSE THE RFI FACTOR IS HIGH!\n\n");
}

}  // namespace okrelt
