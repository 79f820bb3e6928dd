// The transform in plain C++, for any processor.
#include <cstdint>

#include "audio/fft.h"
#include "audio/fft_internal.h"
#include "common/block_sizes.h"
#include "report/rfi.h"

namespace okrelt {
namespace {

struct ScalarOps;   // one double a lane, defined with the kernels
using WideOps = ScalarOps;
#include "audio/fft_kernels.inc"

}  // namespace

const FftKernels* generic_kernels() { return &kernels; }

}  // namespace okrelt
