#include "audio/fft.h"

#include "audio/block_transform.h"
#include "audio/fft_internal.h"

namespace okrelt {

namespace {

const FftKernels* kernels_of(FftIsa isa) {
    switch (isa) {
        case FftIsa::GENERIC: return generic_kernels();
        case FftIsa::SSE2: return sse2_kernels();
        case FftIsa::AVX2: return avx2_kernels();
        case FftIsa::AVX512: return avx512_kernels();
        default: return nullptr;
    }
}

const FftKernels* best_kernels() {
    static const FftKernels* const best = kernels_of(fft_best_isa());
    return best;
}

}  // namespace

bool fft_isa_available(FftIsa isa) { return kernels_of(isa) != nullptr; }

FftIsa fft_best_isa() {
    FftIsa best = FftIsa::GENERIC;
    for (const FftIsa isa : FFT_ISAS) {
        if (fft_isa_available(isa)) best = isa;
    }
    return best;
}

const char* fft_isa_name(FftIsa isa) {
    switch (isa) {
        case FftIsa::GENERIC: return "generic";
        case FftIsa::SSE2: return "sse2";
        case FftIsa::AVX2: return "avx2";
        case FftIsa::AVX512: return "avx512";
    }
    return "none";
}

int fft(int16_t direction, int m, double* re, double* im) {
    best_kernels()->transform(direction, m, re, im);
    return 0;
}

int fft_forward_bit_reversed(int m, double* re, double* im) {
    best_kernels()->forward_bit_reversed(m, re, im);
    return 0;
}

int fft_using(FftIsa isa, int16_t direction, int m, double* re, double* im) {
    kernels_of(isa)->transform(direction, m, re, im);
    return 0;
}

bool scaled_values_fit(double lowest, double highest, int zero) {
    return lowest > -zero - 1.0 && highest < BYTE_VALUES - zero;
}

int32_t transform_block(const int8_t* in_phase, const int8_t* quadrature, const double* levels, SoundOrder order,
                        double* re, double* im, RunningPeak* peak, BlockBytes* bytes, Team* team,
                        BlockAside aside) {
    return run_block(best_kernels(), in_phase, quadrature, levels, order, re, im, peak, bytes, team, aside);
}

int32_t transform_block_using(FftIsa isa, const int8_t* in_phase, const int8_t* quadrature, const double* levels,
                              SoundOrder order, double* re, double* im, RunningPeak* peak, BlockBytes* bytes,
                              Team* team, BlockAside aside) {
    return run_block(kernels_of(isa), in_phase, quadrature, levels, order, re, im, peak, bytes, team, aside);
}

}  // namespace okrelt
