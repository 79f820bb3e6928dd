// The transform in plain C++, for any processor.
#include <cstdint>

#include "audio/fft.h"
#include "audio/fft_internal.h"
#include "report/rfi.h"

namespace okrelt {
namespace {

#define WideOps ScalarOps
#define MidOps ScalarOps
#define NarrowOps ScalarOps
#include "audio/fft_kernels.inc"
#undef WideOps
#undef MidOps
#undef NarrowOps

}  // namespace

const FftKernels* generic_kernels() { return &kernels; }

}  // namespace okrelt
