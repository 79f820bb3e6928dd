// Radix-2 complex FFT: decimation in time on separate real and imaginary
// arrays of doubles, with twiddles from the half-angle recurrence. Every
// instruction set below gives the same bits as the butterflies written out
// one by one: only the order in which independent butterflies run differs.
#pragma once

#include <cstdint>

namespace okrelt {

constexpr int16_t FFT_FORWARD = 1;    // any other direction is the inverse
constexpr int16_t FFT_INVERSE = -1;
constexpr int FFT_MAX_LOG2 = 17;      // twiddles are tabulated up to 2^17 points

// Code paths of the transform, slowest first.
enum class FftIsa { GENERIC, SSE2, AVX2, AVX512 };
constexpr FftIsa FFT_ISAS[] = {FftIsa::GENERIC, FftIsa::SSE2, FftIsa::AVX2, FftIsa::AVX512};

// Transforms re/im (n = 2^m entries each, 0 <= m <= FFT_MAX_LOG2) in place,
// natural order in and out. Forward (direction 1): X[k] = 1/n sum x[t]
// e^(-2 pi i k t / n); any other direction: x[t] = sum X[k] e^(+2 pi i k t / n),
// unscaled. Larger m leaves the arrays untouched. Always returns 0.
int fft(int16_t direction, int m, double* re, double* im);

// The forward transform without its final permutation, for callers that
// only look at the bins: bin k is left at index rev_m(k) (its m bits in
// reverse order), with the same bits fft() gives it. Always returns 0.
int fft_forward_bit_reversed(int m, double* re, double* im);

// value with its low `bits` bits in reverse order: where
// fft_forward_bit_reversed leaves bin value, and the other way round.
inline long reversed_bits(long value, int bits) {
    long reversed = 0;
    for (int b = 0; b < bits; ++b) reversed |= ((value >> b) & 1L) << (bits - 1 - b);
    return reversed;
}

// The exponent of the smallest power of two not below n (n >= 1).
inline int log2_of(long n) {
    int m = 0;
    while ((1L << m) < n) ++m;
    return m;
}

// The same on a chosen code path, which must be available.
int fft_using(FftIsa isa, int16_t direction, int m, double* re, double* im);

// True if this build and this processor can run the path.
bool fft_isa_available(FftIsa isa);

// The fastest available path; fft() uses it.
FftIsa fft_best_isa();

// "generic", "sse2", "avx2" or "avx512".
const char* fft_isa_name(FftIsa isa);

}  // namespace okrelt
