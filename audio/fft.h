// Radix-2 complex FFT: in place, iterative, decimation in time, on separate
// real and imaginary arrays of doubles.
#pragma once

#include <cstdint>

namespace okrelt {

constexpr int16_t FFT_FORWARD = 1;    // any other direction is the inverse
constexpr int16_t FFT_INVERSE = -1;

// Transforms re/im (n = 2^m entries each) in place, natural order in and out.
// Forward (direction 1): X[k] = 1/n sum x[t] e^(-2 pi i k t / n); any other
// direction: x[t] = sum X[k] e^(+2 pi i k t / n), unscaled. Always returns 0.
int fft(int16_t direction, int m, double* re, double* im);

}  // namespace okrelt
