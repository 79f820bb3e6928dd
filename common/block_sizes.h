// The conversion's block sizes, shared by the converter, the transform's
// fused block and the RFI peak search.
#pragma once

#include <cstdint>

namespace okrelt {

constexpr int BLOCK_LOG2 = 16;
constexpr int32_t BLOCK_SAMPLES = int32_t{1} << BLOCK_LOG2;   // decoded samples (and bins) per block
constexpr int SPECTRUM_LOG2 = BLOCK_LOG2 + 1;
constexpr int32_t SPECTRUM_SIZE = int32_t{1} << SPECTRUM_LOG2; // inverse-transform points and bytes per block

}  // namespace okrelt
