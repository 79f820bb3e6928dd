// The search's drift grid and its paths: the columns the Taylor tree sums
// along, and the direct path sums it is checked against.
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <vector>

#include "audio/fft.h"
#include "search/taylor_tree.h"

namespace okrelt {

namespace {

// out[f] = a[f] + b[(f + shift) mod bins], shift in 0 .. bins - 1: two runs
// the compiler vectorises.
void add_shifted(const float* a, const float* b, int shift, int bins, float* out) {
    const int split = bins - shift;
    for (int f = 0; f < split; ++f) out[f] = a[f] + b[f + shift];
    for (int f = split; f < bins; ++f) out[f] = a[f] + b[f - split];
}

}  // namespace

long tree_offset(int d, int r, int size) {
    long offset = 0;
    while (size > 1) {
        const int half = size / 2;
        const int j = d >> 1;
        if (r >= half) {
            offset += j + (d & 1);
            r -= half;
        }
        d = j;
        size = half;
    }
    return offset;
}

int padded_rows_of(int rows) { return 1 << log2_of(rows); }

double drift_step_hz_s(const PowerSpectrogram& spectrogram) {
    return spectrogram.bin_hz / ((padded_rows_of(spectrogram.rows) - 1) * spectrogram.row_seconds);
}

int path_column(int start_bin, int drift_index, int row, int bins, int padded_rows) {
    const int per_block = padded_rows - 1;
    const long magnitude = std::labs(drift_index);
    const long block = magnitude / per_block;
    const long offset = block * row + tree_offset(static_cast<int>(magnitude % per_block), row, padded_rows);
    return wrapped(start_bin + (drift_index < 0 ? -offset : offset), bins);
}

std::vector<float> brute_force_best_snr(const PowerSpectrogram& spectrogram, const SearchOptions& options,
                                        const NoiseStatistics& noise) {
    const int bins = spectrogram.bins;
    const double step_bins = 1.0 / (padded_rows_of(spectrogram.rows) - 1);   // bins a row per drift step
    const int max_index = static_cast<int>(std::floor(options.max_drift_hz_s / drift_step_hz_s(spectrogram) + 1e-9));
    std::vector<float> best(static_cast<size_t>(bins), -std::numeric_limits<float>::infinity());
    std::vector<float> sums(static_cast<size_t>(bins));
    for (int d = -max_index; d <= max_index; ++d) {
        std::fill(sums.begin(), sums.end(), 0.0f);
        for (int r = 0; r < spectrogram.rows; ++r) {
            const long shift = static_cast<long>(std::floor(d * step_bins * r + 0.5));
            add_shifted(sums.data(), spectrogram.row(r), wrapped(shift, bins), bins, sums.data());
        }
        for (size_t f = 0; f < best.size(); ++f) best[f] = std::max(best[f], sums[f]);
    }
    for (float& b : best) b = static_cast<float>((b - noise.median) / noise.deviation);
    return best;
}

}  // namespace okrelt
