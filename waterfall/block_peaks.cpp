#include "waterfall/block_peaks.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <vector>

#include "audio/fft.h"
#include "common/block_sizes.h"
#include "common/sample_levels.h"
#include "report/rfi.h"

namespace okrelt {

namespace {

constexpr int CANDIDATES_PER_PEAK = 64;   // strongest bins looked at per wanted peak and block

// True if bins a and b of a block spectrum lie within the neighbourhood,
// counting across the wrap from the most positive to the most negative.
bool near_bins(long a, long b) {
    const long distance = std::labs(a - b);
    return std::min(distance, BLOCK_SAMPLES - distance) <= PEAK_NEIGHBOURHOOD_BINS;
}

double magnitude_of(double re, double im) { return std::hypot(PEAK_SCALE * re, PEAK_SCALE * im); }

// Working space for add_block_candidates, kept from block to block, and the
// bin at each position of a block spectrum left in bit-reversed order.
struct CandidateScratch {
    std::vector<double> square = std::vector<double>(BLOCK_SAMPLES);
    std::vector<int32_t> order;
    std::vector<int32_t> bin_at = std::vector<int32_t>(BLOCK_SAMPLES);
    CandidateScratch() {
        for (size_t position = 0; position < bin_at.size(); ++position) {
            bin_at[position] = static_cast<int32_t>(reversed_bits(static_cast<long>(position), BLOCK_LOG2));
        }
    }
};

// The block's candidates: its strongest bins by squared magnitude, each
// farther than the neighbourhood from every stronger one taken. re and im
// hold the block's spectrum in bit-reversed order.
void add_block_candidates(const std::vector<double>& re, const std::vector<double>& im, int32_t block, int wanted,
                          CandidateScratch* scratch, std::vector<BlockPeak>* peaks) {
    std::vector<double>& square = scratch->square;
    std::vector<int32_t>& order = scratch->order;
    for (size_t k = 0; k < re.size(); ++k) square[k] = re[k] * re[k] + im[k] * im[k];
    // The shortlist: the strongest positions, kept in a heap whose top is
    // the weakest of them, so that most positions cost one comparison.
    const size_t wanted_positions = std::min(square.size(), static_cast<size_t>(wanted) * CANDIDATES_PER_PEAK);
    const auto weaker_on_top = [&square](int32_t a, int32_t b) {
        return square[static_cast<size_t>(a)] > square[static_cast<size_t>(b)];
    };
    order.clear();
    for (size_t k = 0; k < square.size(); ++k) {
        const int32_t position = static_cast<int32_t>(k);
        if (order.size() < wanted_positions) {
            order.push_back(position);
            std::push_heap(order.begin(), order.end(), weaker_on_top);
        } else if (square[k] > square[static_cast<size_t>(order.front())]) {
            std::pop_heap(order.begin(), order.end(), weaker_on_top);
            order.back() = position;
            std::push_heap(order.begin(), order.end(), weaker_on_top);
        }
    }
    std::sort(order.begin(), order.end(), weaker_on_top);
    std::vector<int32_t> taken;
    for (size_t i = 0; i < order.size() && taken.size() < static_cast<size_t>(wanted); ++i) {
        const size_t position = static_cast<size_t>(order[i]);
        const double magnitude = magnitude_of(re[position], im[position]);
        if (magnitude < PEAK_MIN_MAGNITUDE) break;   // the rest are weaker still
        const int32_t bin = scratch->bin_at[position];
        if (std::any_of(taken.begin(), taken.end(), [bin](int32_t other) { return near_bins(bin, other); })) continue;
        taken.push_back(bin);
        peaks->push_back({block, bin, magnitude});
    }
}

}  // namespace

std::vector<BlockPeak> find_block_peaks(const SampleStreams& streams, int wanted) {
    std::vector<double> re(BLOCK_SAMPLES);
    std::vector<double> im(BLOCK_SAMPLES);
    std::vector<BlockPeak> candidates;
    CandidateScratch scratch;
    RunningPeak running;
    for (int32_t block = 0; block < streams.count / BLOCK_SAMPLES; ++block) {
        const long first = static_cast<long>(block) * BLOCK_SAMPLES;
        for (size_t j = 0; j < re.size(); ++j) {
            const long k = first + static_cast<long>(j);
            re[j] = stored_value(streams.in_phase[k], streams.levels);
            im[j] = stored_value(streams.quadrature[k], streams.levels);
        }
        // The same forward transform as the converter's, so the same bins and
        // the same running peak, which notes the block and bin it rises at.
        (void)fft_forward_bit_reversed(BLOCK_LOG2, re.data(), im.data());
        running.block = block;
        (void)measure_block_peak(&running, re.data(), im.data(), BinOrder::BIT_REVERSED);
        add_block_candidates(re, im, block, wanted, &scratch, &candidates);
    }
    std::vector<BlockPeak> peaks;
    if (running.place.block < 0) return peaks;
    const BlockPeak best{running.place.block, running.place.bin, running.magnitude};
    peaks.push_back(best);
    std::stable_sort(candidates.begin(), candidates.end(),
                     [](const BlockPeak& a, const BlockPeak& b) { return a.magnitude > b.magnitude; });
    for (const BlockPeak& peak : candidates) {
        if (static_cast<int>(peaks.size()) >= wanted) break;
        if (peak.block == best.block && near_bins(peak.bin, best.bin)) continue;
        peaks.push_back(peak);
    }
    return peaks;
}

}  // namespace okrelt
