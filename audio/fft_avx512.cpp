// The transform on AVX-512 (eight doubles a vector), built with -mavx512f; chosen at run time.
#include <cstdint>

#include "audio/fft.h"
#include "audio/fft_internal.h"
#include "common/block_sizes.h"
#include "report/rfi.h"

#if defined(__x86_64__)
#include <immintrin.h>

namespace okrelt {
namespace {

#define OKRELT_USE_AVX512
#include "audio/fft_x86_ops.h"
using WideOps = Avx512Ops;
#include "audio/fft_kernels.inc"

}  // namespace

// Reading the samples and writing the sound bytes use AVX2 instructions.
const FftKernels* avx512_kernels() {
    return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx2") ? &kernels : nullptr;
}

}  // namespace okrelt
#else
namespace okrelt {
const FftKernels* avx512_kernels() { return nullptr; }
}  // namespace okrelt
#endif
