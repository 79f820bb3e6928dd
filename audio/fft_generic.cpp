// The transform in plain C++, for any processor.
#include <cstdint>

#include "audio/fft.h"
#include "audio/fft_internal.h"
#include "common/block_sizes.h"
#include "report/rfi.h"

namespace okrelt {
namespace {

#define WideOps ScalarOps
#include "audio/fft_kernels.inc"
#undef WideOps

}  // namespace

const FftKernels* generic_kernels() { return &kernels; }

}  // namespace okrelt
