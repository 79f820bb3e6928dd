// The strongest peaks of a work unit's 65536-point block spectra, the first
// being the RFI factor's own.
#pragma once

#include <cstdint>
#include <vector>

#include "workunit/reader.h"

namespace okrelt {

constexpr int PEAK_NEIGHBOURHOOD_BINS = 256;   // of a block spectrum: one peak per block within this
constexpr double PEAK_MIN_MAGNITUDE = 1.0;     // weaker bins (0 on the RFI factor's scale) are no peaks

// One peak of a block spectrum. bin is the transform's (0 .. BLOCK_SAMPLES - 1,
// the upper half being negative frequencies); magnitude is on the RFI
// factor's scale.
struct BlockPeak {
    int32_t block = 0;
    int32_t bin = 0;
    double magnitude = 0.0;
};

// Up to `wanted` strongest bins of the block spectra, strongest first, at most
// one per block and PEAK_NEIGHBOURHOOD_BINS, none below PEAK_MIN_MAGNITUDE
// but the first. The first is exactly the bin whose magnitude okrelt reports
// as the RFI factor (a running peak of its own, raised as okrelt raises it).
// Empty if there is no whole block.
std::vector<BlockPeak> find_block_peaks(const SampleStreams& streams, int wanted);

}  // namespace okrelt
