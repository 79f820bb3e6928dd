#include "waterfall/waterfall.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

#include "audio/fft.h"
#include "common/block_sizes.h"
#include "report/rfi.h"

namespace okrelt {

namespace {

constexpr double TWO_PI = 6.283185307179586476925286766559;
constexpr int CANDIDATES_PER_PEAK = 64;
constexpr double HZ_PER_MHZ = 1.0e6;   // strongest bins looked at per wanted peak and block

// The transform's input value of sample k of one stream.
double value_of(const SampleStreams& streams, const int8_t* stream, long k) {
    return streams.levels == nullptr ? stream[k] : streams.levels[stream[k] & LEVEL_INDEX_MASK];
}

int log2_of(long n) {
    int m = 0;
    while ((1L << m) < n) ++m;
    return m;
}

// True if bins a and b of a block spectrum lie within the neighbourhood,
// counting across the wrap from the most positive to the most negative.
bool near_bins(long a, long b) {
    const long distance = std::labs(a - b);
    return std::min(distance, BLOCK_SAMPLES - distance) <= PEAK_NEIGHBOURHOOD_BINS;
}

double magnitude_of(double re, double im) { return std::hypot(PEAK_SCALE * re, PEAK_SCALE * im); }

// Working space for add_block_candidates, kept from block to block.
struct CandidateScratch {
    std::vector<double> square = std::vector<double>(static_cast<size_t>(BLOCK_SAMPLES));
    std::vector<int32_t> order = std::vector<int32_t>(static_cast<size_t>(BLOCK_SAMPLES));
};

// The block's candidates: its strongest bins by squared magnitude, each
// farther than the neighbourhood from every stronger one taken.
void add_block_candidates(const std::vector<double>& re, const std::vector<double>& im, int32_t block, int wanted,
                          CandidateScratch* scratch, std::vector<BlockPeak>* peaks) {
    std::vector<double>& square = scratch->square;
    std::vector<int32_t>& order = scratch->order;
    for (size_t k = 0; k < re.size(); ++k) square[k] = re[k] * re[k] + im[k] * im[k];
    for (size_t k = 0; k < order.size(); ++k) order[k] = static_cast<int32_t>(k);
    const size_t shortlist = std::min(order.size(), static_cast<size_t>(wanted) * CANDIDATES_PER_PEAK);
    const auto stronger = [&square](int32_t a, int32_t b) { return square[a] > square[b]; };
    std::partial_sort(order.begin(), order.begin() + static_cast<long>(shortlist), order.end(), stronger);
    std::vector<int32_t> taken;
    for (size_t i = 0; i < shortlist && taken.size() < static_cast<size_t>(wanted); ++i) {
        const int32_t bin = order[i];
        if (std::any_of(taken.begin(), taken.end(), [bin](int32_t other) { return near_bins(bin, other); })) continue;
        taken.push_back(bin);
        peaks->push_back({block, bin, magnitude_of(re[bin], im[bin])});
    }
}

}  // namespace

bool valid_waterfall_fft(long fft_size) {
    return fft_size >= WATERFALL_MIN_FFT && fft_size <= WATERFALL_MAX_FFT && (fft_size & (fft_size - 1)) == 0;
}

Spectrogram make_spectrogram(const SampleStreams& streams, int fft_size, int max_columns, int max_rows) {
    Spectrogram spectrogram;
    spectrogram.fft_size = fft_size;
    spectrogram.transforms = streams.count / fft_size;
    spectrogram.columns = std::min(fft_size, max_columns);
    spectrogram.rows = std::min(spectrogram.transforms, max_rows);
    spectrogram.power.assign(static_cast<size_t>(spectrogram.rows) * static_cast<size_t>(spectrogram.columns), 0.0f);
    const int m = log2_of(fft_size);
    std::vector<double> window(static_cast<size_t>(fft_size));
    for (int j = 0; j < fft_size; ++j) window[j] = 0.5 - 0.5 * std::cos(TWO_PI * j / fft_size);
    // Bin k's column, negative frequencies (the upper half of the bins) first.
    std::vector<int> column_of(static_cast<size_t>(fft_size));
    for (long k = 0; k < fft_size; ++k) column_of[k] = static_cast<int>((k + fft_size / 2) % fft_size * spectrogram.columns / fft_size);
    std::vector<double> re(static_cast<size_t>(fft_size));
    std::vector<double> im(static_cast<size_t>(fft_size));
    for (int transform = 0; transform < spectrogram.transforms; ++transform) {
        const long first = static_cast<long>(transform) * fft_size;
        for (int j = 0; j < fft_size; ++j) {
            re[j] = window[j] * value_of(streams, streams.in_phase.get(), first + j);
            im[j] = window[j] * value_of(streams, streams.quadrature.get(), first + j);
        }
        (void)fft(FFT_FORWARD, m, re.data(), im.data());
        const long row = static_cast<long>(transform) * spectrogram.rows / spectrogram.transforms;
        float* cells = &spectrogram.power[static_cast<size_t>(row) * static_cast<size_t>(spectrogram.columns)];
        for (int k = 0; k < fft_size; ++k) {
            float& cell = cells[column_of[k]];
            cell = std::max(cell, static_cast<float>(re[k] * re[k] + im[k] * im[k]));
        }
    }
    return spectrogram;
}

std::vector<BlockPeak> find_block_peaks(const SampleStreams& streams, int wanted) {
    std::vector<double> re(static_cast<size_t>(BLOCK_SAMPLES));
    std::vector<double> im(static_cast<size_t>(BLOCK_SAMPLES));
    std::vector<BlockPeak> candidates;
    CandidateScratch scratch;
    BlockPeak best;
    bool found = false;
    for (int32_t block = 0; block < streams.count / BLOCK_SAMPLES; ++block) {
        const long first = static_cast<long>(block) * BLOCK_SAMPLES;
        for (long j = 0; j < BLOCK_SAMPLES; ++j) {
            re[j] = value_of(streams, streams.in_phase.get(), first + j);
            im[j] = value_of(streams, streams.quadrature.get(), first + j);
        }
        // The same forward transform as the converter's, so the same bins and
        // the same running peak.
        (void)fft(FFT_FORWARD, BLOCK_LOG2, re.data(), im.data());
        const double before = peak_magnitude;
        (void)measure_block_peak(re.data(), im.data());
        if (peak_magnitude > before || !found) {
            for (int32_t k = 0; k < BLOCK_SAMPLES; ++k) {
                if (magnitude_of(re[k], im[k]) == peak_magnitude) {
                    best = {block, k, peak_magnitude};
                    found = true;
                    break;
                }
            }
        }
        add_block_candidates(re, im, block, wanted, &scratch, &candidates);
    }
    std::vector<BlockPeak> peaks;
    if (!found) return peaks;
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

double bin_frequency_hz(long bin, long fft_size, double subband_rate) {
    const long signed_bin = bin < fft_size / 2 ? bin : bin - fft_size;
    return static_cast<double>(signed_bin) * subband_rate / static_cast<double>(fft_size);
}

void print_peak_table(const std::vector<BlockPeak>& peaks, const WorkUnitInfo& info) {
    const double hz_per_bin = info.subband_rate / BLOCK_SAMPLES;
    std::printf("Strongest peaks of the %d-point block spectra (at most one per block and %.0f Hz):\n",
                BLOCK_SAMPLES, PEAK_NEIGHBOURHOOD_BINS * hz_per_bin);
    std::printf("%5s %6s %9s %12s %14s %10s\n", "rank", "block", "time s", "offset Hz", "sky MHz", "magnitude");
    int rank = 0;
    for (const BlockPeak& peak : peaks) {
        const double offset = bin_frequency_hz(peak.bin, BLOCK_SAMPLES, info.subband_rate);
        const double time = static_cast<double>(peak.block) * BLOCK_SAMPLES / info.subband_rate;
        char sky[32] = "-";
        if (info.center_known) std::snprintf(sky, sizeof sky, "%.7f", (info.center_hz + offset) / HZ_PER_MHZ);
        const int32_t factor = static_cast<int32_t>(peak.magnitude);
        std::printf("%5d %6d %9.3f %12.3f %14s %10d %s\n", ++rank, peak.block, time, offset, sky, factor,
                    rfi_grade(factor));
    }
}

}  // namespace okrelt
