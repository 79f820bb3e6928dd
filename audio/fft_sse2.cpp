// The transform on SSE2, which every x86-64 processor has.
#include <cstdint>

#include "audio/fft.h"
#include "audio/fft_internal.h"
#include "common/block_sizes.h"
#include "report/rfi.h"

#if defined(__x86_64__)
#include <immintrin.h>

namespace okrelt {
namespace {

#define OKRELT_USE_SSE2
#include "audio/fft_x86_ops.h"
using WideOps = Sse2Ops;
#include "audio/fft_kernels.inc"

}  // namespace

const FftKernels* sse2_kernels() { return &kernels; }

}  // namespace okrelt
#else
namespace okrelt {
const FftKernels* sse2_kernels() { return nullptr; }
}  // namespace okrelt
#endif
