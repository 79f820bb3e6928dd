// The de-Doppler search's benchmark, in process:
//
//   okrelt-search-bench [UNIT]          the Taylor tree against direct path sums
//                                       over the same grid, medians of runs
//   okrelt-search-bench --windows [N]   rectangular against Hann window: N
//                                       injected drifting tones each (default 40)
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <random>
#include <string>
#include <vector>

#include "common/background.h"
#include "common/team.h"
#include "search/search.h"
#include "workunit/reader.h"
#include "workunit/writer.h"

namespace {

constexpr int TREE_RUNS = 9;
constexpr int DIRECT_RUNS = 3;
constexpr int DEFAULT_TRIALS = 40;
constexpr int32_t TRIAL_SAMPLES = 1048576;
constexpr double QUANTISED_AMPLITUDE = 0.7978845608;   // sqrt(2 / pi)

double seconds_since(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// Processor time of the whole process (every thread), seconds.
double processor_seconds() { return static_cast<double>(std::clock()) / CLOCKS_PER_SEC; }

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

int time_tree_and_direct(const char* path) {
    okrelt::SampleStreams streams;
    okrelt::WorkUnitInfo info;
    if (okrelt::load_work_unit(path, &streams, &info) != 0) return 1;
    const okrelt::SearchOptions options;
    // As the programs search: with a second thread where there is a processor for it.
    const okrelt::TeamPtr team = okrelt::usable_processors() > 1 ? okrelt::start_team() : nullptr;
    std::vector<double> spectrogram_times;
    okrelt::PowerSpectrogram spectrogram;
    // The search as the programs run it, then with every start bin's best
    // over every drift made too, as the direct sums make it.
    okrelt::SearchOptions every_best = options;
    every_best.best_snr_of_each_bin = true;
    std::vector<double> tree_times[2];
    std::vector<double> tree_processor[2];
    okrelt::SearchResult result;
    for (int run = 0; run < TREE_RUNS; ++run) {
        const auto start = std::chrono::steady_clock::now();
        if (okrelt::make_power_spectrogram(streams, info, options.fft_size, options.window, &spectrogram, team.get()) !=
            0) {
            return 1;
        }
        spectrogram_times.push_back(seconds_since(start));
        for (int mode = 0; mode < 2; ++mode) {
            const auto searched = std::chrono::steady_clock::now();
            const double processor = processor_seconds();
            if (okrelt::search_spectrogram(spectrogram, mode == 0 ? options : every_best, &result, team.get()) != 0) {
                return 1;
            }
            tree_times[mode].push_back(seconds_since(searched));
            tree_processor[mode].push_back(processor_seconds() - processor);
        }
    }
    std::vector<double> direct_times;
    std::vector<double> direct_processor;
    std::vector<float> direct;
    for (int run = 0; run < DIRECT_RUNS; ++run) {
        const auto start = std::chrono::steady_clock::now();
        const double processor = processor_seconds();
        direct = okrelt::brute_force_best_snr(spectrogram, options, result.noise);
        direct_times.push_back(seconds_since(start));
        direct_processor.push_back(processor_seconds() - processor);
    }
    double worst = 0.0;
    for (size_t f = 0; f < direct.size(); ++f) {
        worst = std::max(worst, std::fabs(static_cast<double>(result.best_snr[f] - direct[f])));
    }
    const double brute = median(direct_times);
    std::printf("%d x %d spectrogram, %d drifts: spectrogram %.1f ms; direct path sums %.1f ms (medians of %d and %d "
                "runs)\n",
                spectrogram.bins, spectrogram.rows, 2 * result.max_drift_index + 1, 1e3 * median(spectrogram_times),
                1e3 * brute, TREE_RUNS, DIRECT_RUNS);
    for (int mode = 0; mode < 2; ++mode) {
        const double tree = median(tree_times[mode]);
        std::printf("%s: %.1f ms, %.1f times faster; processor time (all threads) %.1f ms against %.1f ms, %.1f "
                    "times less\n",
                    mode == 0 ? "Tree search (with hits)" : "The same, every start bin's best made", 1e3 * tree,
                    brute / tree, 1e3 * median(tree_processor[mode]), 1e3 * median(direct_processor),
                    median(direct_processor) / median(tree_processor[mode]));
    }
    std::printf("Best SNR of a start bin, tree against direct: largest difference %.2f; %zu hits\n", worst,
                result.hits.size());
    return 0;
}

// Streams over the samples' own bytes.
okrelt::SampleStreams streams_of(okrelt::SampleVectors* samples) {
    okrelt::SampleStreams streams;
    streams.in_phase = samples->in_phase.data();
    streams.quadrature = samples->quadrature.data();
    streams.count = static_cast<int32_t>(samples->in_phase.size());
    streams.capacity = streams.count;
    return streams;
}

// For each window: how many injected tones are found (within 2 bins and 2
// drift steps) and their mean SNR, for weak tones of random frequency and
// drift (up to 8 Hz/s either way) and for steady ones between bins.
int compare_windows(int trials) {
    const okrelt::WorkUnitInfo info;
    std::mt19937_64 random(1);
    std::uniform_real_distribution<double> frequency(-4000.0, 4000.0);
    std::uniform_real_distribution<double> drift(-8.0, 8.0);
    std::uniform_real_distribution<double> fraction(0.0, 1.0);
    for (bool drifting : {true, false}) {
        for (double amplitude : {0.025, 0.035}) {
            int found[2] = {0, 0};
            double snr[2] = {0.0, 0.0};
            for (int trial = 0; trial < trials; ++trial) {
                const double bin_hz = info.subband_rate / okrelt::SEARCH_DEFAULT_FFT;
                const double hz = drifting ? frequency(random) : (std::floor(frequency(random) / bin_hz) + fraction(random)) * bin_hz;
                const double rate = drifting ? drift(random) : 0.0;
                okrelt::SampleVectors samples = okrelt::make_drifting_tone_samples(
                    TRIAL_SAMPLES, random(), hz / info.subband_rate, rate / (info.subband_rate * info.subband_rate),
                    amplitude / QUANTISED_AMPLITUDE, 2);
                const okrelt::SampleStreams streams = streams_of(&samples);
                for (int w = 0; w < 2; ++w) {
                    okrelt::SearchOptions options;
                    options.window = w == 0 ? okrelt::SearchWindow::RECTANGULAR : okrelt::SearchWindow::HANN;
                    okrelt::SearchResult result;
                    if (okrelt::search_work_unit(streams, info, options, &result) != 0) return 1;
                    for (const okrelt::Hit& hit : result.hits) {
                        if (std::fabs(hit.offset_hz - hz) <= 2.0 * result.bin_hz &&
                            std::fabs(hit.drift_hz_s - rate) <= 2.0 * result.drift_step_hz_s) {
                            ++found[w];
                            snr[w] += hit.snr;
                            break;
                        }
                    }
                }
            }
            std::printf("%s tones of amplitude %.3f: rectangular finds %d of %d (mean SNR %.1f), Hann %d (%.1f)\n",
                        drifting ? "drifting" : "steady, between bins,", amplitude, found[0], trials,
                        found[0] > 0 ? snr[0] / found[0] : 0.0, found[1], found[1] > 0 ? snr[1] / found[1] : 0.0);
        }
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc >= 2 && std::strcmp(argv[1], "--windows") == 0) {
        return compare_windows(argc >= 3 ? std::max(1, std::atoi(argv[2])) : DEFAULT_TRIALS);
    }
    return time_tree_and_direct(argc >= 2 ? argv[1] : okrelt::WORK_UNIT_FILE_NAME);
}
