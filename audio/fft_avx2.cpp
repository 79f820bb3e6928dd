// The transform on AVX2 (four doubles a vector), built with -mavx2 and without FMA; chosen at run time.
#include <cstdint>

#include "audio/fft.h"
#include "audio/fft_internal.h"
#include "common/block_sizes.h"
#include "report/rfi.h"

#if defined(__x86_64__)
#include <immintrin.h>

namespace okrelt {
namespace {

#define OKRELT_USE_AVX2
#include "audio/fft_x86_ops.h"
using WideOps = Avx2Ops;
#include "audio/fft_kernels.inc"

}  // namespace

const FftKernels* avx2_kernels() { return __builtin_cpu_supports("avx2") ? &kernels : nullptr; }

}  // namespace okrelt
#else
namespace okrelt {
const FftKernels* avx2_kernels() { return nullptr; }
}  // namespace okrelt
#endif
