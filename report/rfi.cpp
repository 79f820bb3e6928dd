#include "report/rfi.h"

#include <cmath>
#include <cstdio>

namespace okrelt {

double peak_magnitude = 0.0;

namespace {

// The squared magnitude and hypot may disagree in the last bits, so every bin
// whose square lies this close below the largest square is settled by hypot.
constexpr double NEAR_TIE = 1.0e-9;

}  // namespace

int32_t measure_block_peak(const double* re, const double* im) { return measure_bins_peak(re, im, BLOCK_SAMPLES); }

int32_t measure_bins_peak(const double* re, const double* im, int count) {
    double largest_square = 0.0;
    for (int k = 0; k < count; ++k) {
        const double square = re[k] * re[k] + im[k] * im[k];
        largest_square = square > largest_square ? square : largest_square;
    }
    return measure_bins_peak_with(re, im, count, largest_square);
}

int32_t measure_bins_peak_with(const double* re, const double* im, int count, double largest_square) {
    // A square is cheap where hypot is not: hypot and the square root of the
    // square agree to a few units in the last place, so only bins within
    // NEAR_TIE of the largest square can decide the maximum, and if even that
    // bin stays below the peak, no bin can raise it.
    const double peak_square = (peak_magnitude / PEAK_SCALE) * (peak_magnitude / PEAK_SCALE);
    if (largest_square * (1.0 + NEAR_TIE) < peak_square) return static_cast<int32_t>(peak_magnitude);
    const double threshold = largest_square * (1.0 - NEAR_TIE);
    for (int k = 0; k < count; ++k) {
        if (re[k] * re[k] + im[k] * im[k] < threshold) continue;
        const double magnitude = std::hypot(PEAK_SCALE * re[k], PEAK_SCALE * im[k]);
        if (peak_magnitude < magnitude) peak_magnitude = magnitude;
    }
    return static_cast<int32_t>(peak_magnitude);
}

const char* rfi_grade(int32_t rfi_factor) {
    if (rfi_factor < GRADE_NAH) return "Nope";
    if (rfi_factor < GRADE_MAYBE) return "Nah";
    if (rfi_factor < GRADE_YEP) return "Maybe";
    if (rfi_factor < GRADE_WHOA) return "YEP";
    return "WHOA";
}

void print_rfi_report(int32_t rfi_factor) {
    std::printf("--RFI Factor-------\n**");
    std::printf("%s", rfi_grade(rfi_factor));
    std::printf("**  (%d)\n", rfi_factor);
    std::printf("-------------------\n");
    std::printf("The RFI factor is provided for entertainment\n");
    std::printf("purposes only. No guarantees are given for the\n");
    std::printf("Correctness and accuracy of it. The SETI@home\n");
    std::printf("client is the best program for analyzing WU's,\n\n");
    std::printf("IN NO CASE WHATSOEVER SHALL YOU DELETE A WORKUNIT\n");
    std::printf("JUST BECAUSE THE RFI FACTOR IS HIGH!\n\n");
}

}  // namespace okrelt
