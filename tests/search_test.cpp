// The de-Doppler search: the Taylor tree against direct path sums, injected
// drifting tones found where and as fast as they drift, noise and the
// unit's constant and silence making no hits, crossing signals kept apart,
// the sensitivity checked by injection, and the hit file's layout.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <limits>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "common/messages.h"
#include "common/team.h"
#include "search/correction.h"
#include "search/row_sums.h"
#include "search/search.h"
#include "tests/support/test_support.h"
#include "tests/support/work_units.h"
#include "workunit/reader.h"

namespace {

using okrelt_test::TempDir;

constexpr double RATE = 9765.625;
constexpr int32_t SHORT_UNIT = 262144;   // with 2048-point transforms: 128 rows of 0.21 s, 4.77 Hz bins
constexpr int SHORT_FFT = 2048;
constexpr double QUANTISED_AMPLITUDE = 0.7978845608;   // sqrt(2 / pi): a weak tone's amplitude after 1-bit sampling

struct Tone {
    double hz;           // at the first sample, from the centre
    double drift_hz_s;
    double amplitude;    // relative to the noise's parts
};

// Noise with tones, quantised as a unit of `bits` stores them.
okrelt::SampleVectors tone_samples(int32_t count, uint64_t seed, const std::vector<Tone>& tones, int bits) {
    okrelt::SampleVectors samples;
    samples.in_phase.resize(static_cast<size_t>(count));
    samples.quadrature.resize(static_cast<size_t>(count));
    std::mt19937_64 random(seed);
    std::normal_distribution<double> noise(0.0, 1.0);
    for (int32_t k = 0; k < count; ++k) {
        const double t = k / RATE;
        double re = noise(random);
        double im = noise(random);
        for (const Tone& tone : tones) {
            const double phase = 2.0 * M_PI * std::fmod(tone.hz * t + 0.5 * tone.drift_hz_s * t * t, 1.0);
            re += tone.amplitude * std::cos(phase);
            im += tone.amplitude * std::sin(phase);
        }
        const auto code = [bits](double v) -> int8_t {
            if (bits == 2) return v >= 0.0 ? 1 : -1;
            return v < -1.0 ? -2 : v < 0.0 ? -1 : v < 1.0 ? 1 : 2;
        };
        samples.in_phase[static_cast<size_t>(k)] = code(re);
        samples.quadrature[static_cast<size_t>(k)] = code(im);
    }
    return samples;
}

// A unit of samples searched, its reader's messages kept out of the log.
struct Searched {
    int status = 1;
    okrelt::WorkUnitInfo info;
    okrelt::SearchResult result;
};

Searched search(const okrelt::SampleVectors& samples, const okrelt::SearchOptions& options, int bits = 2,
                int dropped_groups = 0) {
    TempDir dir;
    okrelt::WriterOptions writer;
    writer.later_format = true;
    writer.bits_per_sample = bits;
    writer.dropped_groups = dropped_groups;
    okrelt_test::write_work_unit_file(dir.file("unit.wu"), samples, writer);
    std::vector<okrelt::KeptMessage> kept;
    okrelt::MessageSink sink = okrelt::keeping_sink(&kept);
    const okrelt::ScopedMessageSink quiet(&sink);
    okrelt::SampleStreams streams;
    Searched s;
    if (okrelt::load_work_unit(dir.file("unit.wu").c_str(), &streams, &s.info) != 0) return s;
    s.status = okrelt::search_work_unit(streams, s.info, options, &s.result);
    return s;
}

okrelt::SearchOptions short_options() {
    okrelt::SearchOptions options;
    options.fft_size = SHORT_FFT;
    return options;
}

// The hit nearest a tone's start, or null.
const okrelt::Hit* hit_near(const okrelt::SearchResult& result, double hz) {
    const okrelt::Hit* nearest = nullptr;
    for (const okrelt::Hit& hit : result.hits) {
        if (nearest == nullptr || std::fabs(hit.offset_hz - hz) < std::fabs(nearest->offset_hz - hz)) nearest = &hit;
    }
    return nearest;
}

// A spectrogram of exponential noise (mean 1) with straight lines of power added.
okrelt::PowerSpectrogram synthetic_spectrogram(int bins, int rows, uint64_t seed) {
    okrelt::PowerSpectrogram s;
    EXPECT_EQ(okrelt::allocate_spectrogram(bins, rows, &s), 0);
    s.bin_hz = RATE / bins;
    s.row_seconds = bins / RATE;
    s.tone_gain = 2.0 / bins;
    std::mt19937_64 random(seed);
    std::exponential_distribution<float> noise(1.0f);
    std::generate(s.power, s.power + s.cells(), [&] { return noise(random); });
    const double slopes[] = {0.0, 0.37, -0.8, 1.6, -2.3};   // bins a row
    for (size_t line = 0; line < 5; ++line) {
        const int start = static_cast<int>(line + 1) * bins / 6;
        for (int r = 0; r < rows; ++r) {
            // A bin-centred tone's lobe, as a Hann window gives it.
            const long column = std::lround(start + slopes[line] * r);
            for (long c = column - 1; c <= column + 1; ++c) s.row(r)[((c % bins) + bins) % bins] += c == column ? 2.0f : 1.0f;
        }
    }
    return s;
}

TEST(SearchTree, AgreesWithDirectPathSums) {
    // 100 rows (padded to 128) and 128 rows; drifts up to about 2.6 bins a
    // row: three blocks of the tree each way. 256 bins: the tree of the whole
    // band; 2048: in stripes.
    for (const int rows : {100, 128}) {
      for (const int bins : {256, 2048}) {
        const okrelt::PowerSpectrogram s = synthetic_spectrogram(bins, rows, 7u + static_cast<uint64_t>(rows));
        okrelt::SearchOptions options;
        options.best_snr_of_each_bin = true;
        options.max_drift_hz_s = 2.6 * s.bin_hz / s.row_seconds;
        okrelt::SearchResult tree;
        ASSERT_EQ(okrelt::search_spectrogram(s, options, &tree), 0);
        ASSERT_GT(tree.max_drift_index, 2 * 127);
        const std::vector<float> direct = okrelt::brute_force_best_snr(s, options, tree.noise);
        ASSERT_EQ(tree.best_snr.size(), direct.size());
        double worst = 0.0;
        for (size_t f = 0; f < direct.size(); ++f) {
            const double off = std::fabs(static_cast<double>(tree.best_snr[f] - direct[f]));
            worst = std::max(worst, off - 0.1 * std::fabs(static_cast<double>(direct[f])));
        }
        // The tree's paths leave the straight line by one bin at most, on about
        // a quarter of the rows: each start bin's best agrees within 10 % and
        // 3 (noise deviations), a line's own within 20 %.
        EXPECT_LT(worst, 3.0) << rows << " rows, " << bins << " bins";
        for (int line = 0; line < 5; ++line) {
            const size_t start = static_cast<size_t>((line + 1) * bins / 6);
            EXPECT_GT(direct[start], 15.0f) << rows << " rows, line " << line;
            EXPECT_GT(tree.best_snr[start], 0.8f * direct[start]) << rows << " rows, line " << line;
        }
      }
    }
}

// 2048 bins (in stripes) by 100 rows (padded to 128) of whole numbers from
// 0 to top, which add up exactly in any order.
constexpr int WHOLE_BINS = 2048;
constexpr int WHOLE_ROWS = 100;

okrelt::PowerSpectrogram whole_number_spectrogram(uint64_t seed, int top) {
    okrelt::PowerSpectrogram s = synthetic_spectrogram(WHOLE_BINS, WHOLE_ROWS, seed);
    std::mt19937_64 random(seed);
    std::uniform_int_distribution<int> level(0, top);
    std::generate(s.power, s.power + s.cells(), [&] { return static_cast<float>(level(random)); });
    return s;
}

// The sum along path_column's cells of a path of such a spectrogram.
float path_sum(const okrelt::PowerSpectrogram& s, int start, int drift_index) {
    float sum = 0.0f;
    for (int r = 0; r < WHOLE_ROWS; ++r) sum += s.row(r)[okrelt::path_column(start, drift_index, r, WHOLE_BINS, 128)];
    return sum;
}

// The same sums for every start bin at once (the same additions in the same order), into out.
void path_sums(const okrelt::PowerSpectrogram& s, int drift_index, float* out) {
    std::fill(out, out + WHOLE_BINS, 0.0f);
    for (int r = 0; r < WHOLE_ROWS; ++r) {
        const int shift = okrelt::path_column(0, drift_index, r, WHOLE_BINS, 128);
        const float* row = s.row(r);
        for (int f = 0; f < WHOLE_BINS - shift; ++f) out[f] += row[f + shift];
        for (int f = WHOLE_BINS - shift; f < WHOLE_BINS; ++f) out[f] += row[f + shift - WHOLE_BINS];
    }
}

TEST(SearchTree, SumsExactlyTheCellsOfItsPaths) {
    // Each start bin's best must be that of the sums along path_column's
    // cells to the bit; drifts both ways, two blocks.
    constexpr int BINS = WHOLE_BINS;
    const okrelt::PowerSpectrogram s = whole_number_spectrogram(11, 7);
    okrelt::SearchOptions options;
    options.best_snr_of_each_bin = true;
    options.max_drift_hz_s = 1.2 * s.bin_hz / s.row_seconds;
    okrelt::SearchResult tree;
    ASSERT_EQ(okrelt::search_spectrogram(s, options, &tree), 0);
    ASSERT_GT(tree.max_drift_index, 127);
    for (int start = 0; start < BINS; start += 7) {
        float best = -1.0f;
        for (int d = -tree.max_drift_index; d <= tree.max_drift_index; ++d) {
            best = std::max(best, path_sum(s, start, d));
        }
        const float snr = static_cast<float>((best - tree.noise.median) / tree.noise.deviation);
        ASSERT_EQ(tree.best_snr[static_cast<size_t>(start)], snr) << start;
    }
}

// Every local maximum over the threshold is counted, across the stripes'
// edges, the blocks' and those of the groups of blocks made together (the
// tree keeps only the pieces of its sums that the count may look at):
// against the maxima of the sums along path_column's cells, exact for small
// whole numbers, at a threshold low enough for thousands of them, ties
// included.
TEST(SearchTree, CountsEveryLocalMaximumOfItsSums) {
    constexpr int BINS = WHOLE_BINS;
    // At SNR 2, noise alone. At 6 and 8, with lines of power along a few
    // paths: most rows cannot reach the threshold and are left unmade (at 8,
    // most rows below the top too), and every maximum of the lines' must
    // still be found.
    for (const double snr : {2.0, 6.0, 8.0}) {
        okrelt::PowerSpectrogram s = whole_number_spectrogram(13, 3);
        if (snr > 2.0) {
            // Some start at a stripe's edges, where the paths leave it first.
            for (const auto& [start, drift] : {std::pair{100, 37}, {700, -400}, {1300, 900}, {1900, -1000}, {511, 60},
                                               {512, -60}, {1023, 5}, {1536, -5}}) {
                for (int r = 0; r < WHOLE_ROWS; ++r) s.row(r)[okrelt::path_column(start, drift, r, BINS, 128)] += 2.0f;
            }
        }
        okrelt::SearchOptions options;
        options.max_drift_hz_s = 8.3 * s.bin_hz / s.row_seconds;   // blocks 0 .. 8 each way: three groups
        options.snr_threshold = snr;
        okrelt::SearchResult tree;
        ASSERT_EQ(okrelt::search_spectrogram(s, options, &tree), 0);
        ASSERT_EQ(tree.max_drift_index / 127, 8);
        const int drifts = 2 * tree.max_drift_index + 1;
        std::vector<float> sums(static_cast<size_t>(drifts) * BINS);
        const auto at = [&](int row, int f) {
            return sums[static_cast<size_t>(row) * BINS + static_cast<size_t>((f + BINS) % BINS)];
        };
        for (int row = 0; row < drifts; ++row) path_sums(s, row - tree.max_drift_index, &sums[static_cast<size_t>(row) * BINS]);
        const float threshold = static_cast<float>(tree.noise.median + options.snr_threshold * tree.noise.deviation);
        int maxima = 0;
        for (int row = 0; row < drifts; ++row) {
            for (int f = 0; f < BINS; ++f) {
                const float v = at(row, f);
                bool maximum = v >= threshold && v > at(row, f - 1) && v >= at(row, f + 1);
                for (int c = f - 1; c <= f + 1; ++c) {
                    if (row > 0) maximum = maximum && v > at(row - 1, c);
                    if (row + 1 < drifts) maximum = maximum && v >= at(row + 1, c);
                }
                maxima += maximum;
            }
        }
        EXPECT_GT(maxima, snr > 2.0 ? 10 : 300) << snr;
        EXPECT_EQ(tree.candidates, maxima) << snr;
    }
}

// A team's second thread may claim any rows of the spectrogram and any
// stripes of the tree: the cells, every start bin's best and the hits are
// the same bits as one thread's, whichever it claims.
TEST(SearchTree, ATeamGivesOneThreadsBits) {
    const okrelt::TeamPtr team = okrelt::start_team();
    ASSERT_TRUE(team);
    okrelt::SampleVectors samples = tone_samples(SHORT_UNIT, 3, {{700.0, 1.3, 0.1}}, 2);
    okrelt::SampleStreams streams;
    streams.in_phase = samples.in_phase.data();
    streams.quadrature = samples.quadrature.data();
    streams.count = SHORT_UNIT;
    streams.capacity = SHORT_UNIT;
    okrelt::SearchOptions options = short_options();
    options.snr_threshold = 4.0;
    okrelt::PowerSpectrogram alone;
    ASSERT_EQ(okrelt::make_power_spectrogram(streams, okrelt::WorkUnitInfo{}, SHORT_FFT, options.window, &alone), 0);
    for (int turn = 0; turn < 4; ++turn) {
        // Every start bin's best in odd turns, only the sums that can matter in even ones.
        options.best_snr_of_each_bin = turn % 2 == 1;
        okrelt::SearchResult single;
        ASSERT_EQ(okrelt::search_spectrogram(alone, options, &single), 0);
        ASSERT_GT(single.hits.size(), 1u);
        ASSERT_EQ(single.best_snr.empty(), turn % 2 == 0);
        okrelt::PowerSpectrogram shared;
        ASSERT_EQ(okrelt::make_power_spectrogram(streams, okrelt::WorkUnitInfo{}, SHORT_FFT, options.window, &shared,
                                                 team.get()),
                  0);
        ASSERT_EQ(std::memcmp(shared.power, alone.power, alone.cells() * sizeof(float)), 0) << "turn " << turn;
        okrelt::SearchResult together;
        ASSERT_EQ(okrelt::search_spectrogram(alone, options, &together, team.get()), 0);
        EXPECT_EQ(together.best_snr, single.best_snr) << "turn " << turn;
        EXPECT_EQ(together.candidates, single.candidates);
        ASSERT_EQ(together.hits.size(), single.hits.size());
        for (size_t h = 0; h < single.hits.size(); ++h) {
            EXPECT_EQ(together.hits[h].start_bin, single.hits[h].start_bin);
            EXPECT_EQ(together.hits[h].drift_index, single.hits[h].drift_index);
            EXPECT_EQ(together.hits[h].snr, single.hits[h].snr);
        }
    }
}

TEST(SearchTree, WideRowPassesGiveThePlainLoopsBits) {
    // Every length up to three AVX-512 vectors and a bit, so that each tail is run;
    // the maxima on ties, rows with and without a sum at the threshold,
    // each row's largest, and two levels at once into two rows or one.
    std::mt19937_64 random(5);
    std::exponential_distribution<float> noise(1.0f);
    std::vector<float> a(64);
    std::vector<float> b(64);
    std::generate(a.begin(), a.end(), [&] { return noise(random); });
    std::generate(b.begin(), b.end(), [&] { return noise(random); });
    for (size_t f = 0; f < a.size(); f += 5) b[f] = a[f];
    const std::pair<okrelt::AddRows, okrelt::RaiseBest> paths[] = {
        {okrelt::avx2_add_rows(), okrelt::avx2_raise_best()}, {okrelt::avx512_add_rows(), okrelt::avx512_raise_best()}};
    const okrelt::Largest largest_paths[] = {okrelt::avx2_largest(), okrelt::avx512_largest()};
    const okrelt::AddQuarterRows quarter_paths[] = {okrelt::add_quarter_rows, okrelt::avx2_add_quarter_rows(),
                                                    okrelt::avx512_add_quarter_rows()};
    for (int n = 0; n <= 56; ++n) {
        for (const okrelt::AddQuarterRows add_quarters : quarter_paths) {
            if (add_quarters == nullptr) continue;
            for (const int second : {1, 0}) {
                const okrelt::QuarterRows rows{a.data(), b.data() + 1, {a.data() + 2, a.data() + 2 + second},
                                               {b.data() + 4, b.data() + 4 + second}};
                std::vector<float> out(128, -1.0f);
                float* const targets[2] = {out.data(), out.data() + 64 * second};
                add_quarters(rows, targets, n);
                for (int k = 0; k < 2; ++k) {
                    for (int f = 0; f < 64; ++f) {
                        const size_t i = static_cast<size_t>(f);
                        const size_t shift = static_cast<size_t>(k * second);
                        const float want = f < n ? (a[i] + b[i + 1]) + (a[i + 2 + shift] + b[i + 4 + shift]) : -1.0f;
                        ASSERT_EQ(targets[k][f], want) << n << " " << f;
                    }
                }
            }
        }
        // The largest, in any lane or tail; minus infinity for none.
        const float top = n == 0 ? -std::numeric_limits<float>::infinity() : *std::max_element(a.begin(), a.begin() + n);
        EXPECT_EQ(okrelt::largest(a.data(), n), top) << n;
        for (const okrelt::Largest wide_largest : largest_paths) {
            if (wide_largest != nullptr) {
                EXPECT_EQ(wide_largest(a.data(), n), top) << n;
            }
        }
        std::vector<float> sum(64, -1.0f);
        okrelt::add_rows(a.data(), b.data(), sum.data(), n);
        for (int f = 0; f < 64; ++f) {
            const size_t i = static_cast<size_t>(f);
            ASSERT_EQ(sum[i], f < n ? a[i] + b[i] : -1.0f) << n << " " << f;
        }
        for (const auto& [wide_add, wide_raise] : paths) {
            if (wide_add == nullptr) continue;
            std::vector<float> wide(64, -1.0f);
            wide_add(a.data(), b.data(), wide.data(), n);
            EXPECT_EQ(wide, sum) << n;
        }
        for (float threshold : {1e9f, a[static_cast<size_t>(n) / 2]}) {
            std::vector<float> best(b);
            const bool above = okrelt::raise_best(a.data(), best.data(), n, threshold);
            bool expected_above = false;
            for (int f = 0; f < n; ++f) {
                const size_t i = static_cast<size_t>(f);
                EXPECT_EQ(best[i], std::max(b[i], a[i])) << n << " " << f;
                expected_above = expected_above || a[i] >= threshold;
            }
            EXPECT_EQ(above, expected_above) << n;
            for (const auto& [wide_add, wide_raise] : paths) {
                if (wide_raise == nullptr) continue;
                std::vector<float> wide(b);
                EXPECT_EQ(wide_raise(a.data(), wide.data(), n, threshold), above) << n;
                EXPECT_EQ(wide, best) << n;
            }
        }
    }
}

TEST(SearchTree, PaddedRowsDoNotBiasTheSums) {
    // 20 rows (padded to 32) of power 1 but for row 0's, which sets each start
    // bin apart: every path of every drift from bin f sums 19 + row 0's cell.
    okrelt::PowerSpectrogram s = synthetic_spectrogram(256, 20, 1);
    std::fill(s.power, s.power + s.cells(), 1.0f);
    for (int f = 0; f < 256; ++f) s.row(0)[f] = 1.0f + 0.5f * static_cast<float>(f % 3);
    okrelt::SearchOptions options;
    options.max_drift_hz_s = 2.5 * s.bin_hz / s.row_seconds;   // three blocks each way
    options.best_snr_of_each_bin = true;
    okrelt::SearchResult result;
    ASSERT_EQ(okrelt::search_spectrogram(s, options, &result), 0);
    EXPECT_DOUBLE_EQ(result.noise.median, 20.5);
    ASSERT_GT(result.noise.deviation, 0.0);
    for (size_t f = 0; f < 256; ++f) {
        const double best = result.best_snr[f] * result.noise.deviation + result.noise.median;
        EXPECT_NEAR(best, 20.0 + 0.5 * static_cast<double>(f % 3), 1e-4) << f;
    }
}

TEST(SearchNoise, MedianAndTrimmedDeviationOfTheColumnSums) {
    // Two rows whose columns sum to 0 .. 255, shuffled: the median averages
    // the middle two, and the deviation is that of sums 12 .. 243 (the 5 to
    // 95 % range).
    okrelt::PowerSpectrogram s;
    ASSERT_EQ(okrelt::allocate_spectrogram(256, 2, &s), 0);
    std::vector<float> sums(256);
    for (size_t f = 0; f < sums.size(); ++f) sums[f] = static_cast<float>(f);
    std::shuffle(sums.begin(), sums.end(), std::mt19937_64(11));
    for (int f = 0; f < 256; ++f) {
        s.row(0)[f] = 0.25f * sums[static_cast<size_t>(f)];
        s.row(1)[f] = 0.75f * sums[static_cast<size_t>(f)];
    }
    const okrelt::NoiseStatistics noise = okrelt::noise_statistics(s);
    EXPECT_DOUBLE_EQ(noise.median, 127.5);
    EXPECT_DOUBLE_EQ(noise.deviation, std::sqrt((232.0 * 232.0 - 1.0) / 12.0));
    EXPECT_DOUBLE_EQ(noise.cell_mean, 127.5 / 2);
}

TEST(SearchNoise, ColumnSumsAreTheSameBitsOnEveryPath) {
    // Cells of magnitudes far apart, so that another order of additions
    // would round otherwise; widths that leave every kind of tail.
    std::mt19937_64 random(13);
    std::exponential_distribution<float> noise(1.0f);
    std::uniform_int_distribution<int> exponent(-40, 40);
    constexpr int ROWS = 5;
    const okrelt::ColumnSums paths[] = {okrelt::column_sums, okrelt::avx2_column_sums(), okrelt::avx512_column_sums()};
    for (int bins : {1, 31, 64, 100, 200}) {
        std::vector<float> cells(static_cast<size_t>(ROWS * bins));
        for (float& cell : cells) cell = std::ldexp(noise(random), exponent(random));
        std::vector<double> want(static_cast<size_t>(bins), 0.0);
        for (size_t i = 0; i < cells.size(); ++i) want[i % want.size()] += static_cast<double>(cells[i]);
        for (const okrelt::ColumnSums sum : paths) {
            if (sum == nullptr) continue;
            std::vector<double> got(static_cast<size_t>(bins), -1.0);
            sum(cells.data(), ROWS, bins, got.data());
            EXPECT_EQ(got, want) << bins;
        }
    }
}

TEST(SearchTree, KeepsTheStrongestSignalsOnly) {
    // 400 steady lines 5 bins apart (few of the band's columns, so that the
    // noise statistics stand), growing stronger: the 256 strongest are the hits.
    okrelt::PowerSpectrogram s = synthetic_spectrogram(16384, 32, 3);
    for (int r = 0; r < s.rows; ++r) {
        for (int c = 0; c < s.bins; ++c) s.row(r)[c] = 1.0f + 0.001f * static_cast<float>(c % 7);
    }
    for (int line = 0; line < 400; ++line) {
        for (int r = 0; r < s.rows; ++r) s.row(r)[5 * line] += 2.0f + 0.05f * static_cast<float>(line);
    }
    okrelt::SearchOptions options;
    options.max_drift_hz_s = 0.0;
    okrelt::SearchResult result;
    ASSERT_EQ(okrelt::search_spectrogram(s, options, &result), 0);
    ASSERT_EQ(result.hits.size(), static_cast<size_t>(okrelt::SEARCH_MAX_HITS));
    for (const okrelt::Hit& hit : result.hits) EXPECT_GE(hit.start_bin, 5 * (400 - okrelt::SEARCH_MAX_HITS)) << hit.start_bin;
}

TEST(Search, FindsDriftingTonesWhereAndAsFastAsTheyDrift) {
    const okrelt::SearchOptions options = short_options();
    for (int bits : {2, 4}) {
        for (double drift : {-8.0, -2.5, 0.0, 3.0, 8.0}) {
            double last_snr = 0.0;
            for (double amplitude : {0.12, 0.3}) {
                const Tone tone{-1234.5 + 100.0 * drift, drift, amplitude};
                const Searched s = search(tone_samples(SHORT_UNIT, 11u + static_cast<uint64_t>(bits), {tone}, bits),
                                          options, bits);
                ASSERT_EQ(s.status, 0);
                const okrelt::Hit* hit = hit_near(s.result, tone.hz);
                ASSERT_NE(hit, nullptr) << bits << " bits, " << drift << " Hz/s, amplitude " << amplitude;
                EXPECT_EQ(hit, &s.result.hits[0]);
                EXPECT_LE(std::fabs(hit->offset_hz - tone.hz), 2.0 * s.result.bin_hz) << bits << " bits, " << drift;
                EXPECT_LE(std::fabs(hit->drift_hz_s - drift), 2.0 * s.result.drift_step_hz_s) << bits << " bits, " << drift;
                EXPECT_GT(hit->snr, last_snr) << bits << " bits, " << drift << " Hz/s, amplitude " << amplitude;
                last_snr = hit->snr;
            }
        }
    }
}

TEST(Search, NoiseAloneMakesNoHits) {
    for (int bits : {2, 4}) {
        for (uint64_t seed : {1u, 2u, 3u}) {
            const Searched s = search(tone_samples(SHORT_UNIT, seed, {}, bits), short_options(), bits);
            ASSERT_EQ(s.status, 0);
            EXPECT_TRUE(s.result.hits.empty()) << bits << " bits, seed " << seed << ": SNR " << s.result.hits[0].snr;
        }
    }
    // A whole unit at the usual transform size.
    const Searched s = search(tone_samples(1048576, 4, {}, 2), okrelt::SearchOptions());
    ASSERT_EQ(s.status, 0);
    EXPECT_EQ(s.result.rows, 128);
    EXPECT_TRUE(s.result.hits.empty()) << s.result.hits[0].snr;
}

TEST(Search, AWeakDriftingToneCrossingAStrongSteadyOneIsASecondHit) {
    // The weak tone drifts across the strong one a third of the way through.
    const std::vector<Tone> tones = {{1500.0, 0.0, 0.8}, {1480.0, 2.5, 0.15}};
    const okrelt::SampleVectors samples = tone_samples(SHORT_UNIT, 5, tones, 2);
    okrelt::SearchOptions options = short_options();
    options.max_drift_hz_s = 3.0;
    const Searched narrow = search(samples, options);
    options.max_drift_hz_s = 10.0;
    const Searched wide = search(samples, options);
    for (const Searched* s : {&narrow, &wide}) {
        ASSERT_EQ(s->status, 0);
        const okrelt::Hit* steady = hit_near(s->result, 1500.0);
        const okrelt::Hit* drifting = hit_near(s->result, 1480.0);
        ASSERT_NE(steady, nullptr);
        ASSERT_NE(drifting, nullptr);
        ASSERT_NE(steady, drifting);
        EXPECT_LE(std::fabs(drifting->offset_hz - 1480.0), 2.0 * s->result.bin_hz);
        EXPECT_LE(std::fabs(drifting->drift_hz_s - 2.5), 2.0 * s->result.drift_step_hz_s);
        EXPECT_LE(std::fabs(steady->drift_hz_s), 2.0 * s->result.drift_step_hz_s);
    }
    // Searching further than the signals drift changes nothing.
    ASSERT_EQ(narrow.result.hits.size(), wide.result.hits.size());
    for (size_t i = 0; i < narrow.result.hits.size(); ++i) {
        EXPECT_EQ(narrow.result.hits[i].start_bin, wide.result.hits[i].start_bin);
        EXPECT_EQ(narrow.result.hits[i].drift_index, wide.result.hits[i].drift_index);
    }
}

TEST(Search, AVeryStrongToneHidesNoWeakOne) {
    // Every path that crosses the strong tone reaches the threshold, and its
    // maxima are more than the candidates kept: the weak tone, far from it,
    // is found all the same.
    const std::vector<Tone> tones = {{500.0, 0.0, 1.0}, {-1234.5, 2.0, 0.05}};
    const Searched s = search(tone_samples(1048576, 3, tones, 2), okrelt::SearchOptions{});
    ASSERT_EQ(s.status, 0);
    ASSERT_GT(s.result.candidates, okrelt::SEARCH_MAX_CANDIDATES);
    const okrelt::Hit* steady = hit_near(s.result, 500.0);
    const okrelt::Hit* weak = hit_near(s.result, -1234.5);
    ASSERT_NE(steady, nullptr);
    ASSERT_NE(weak, nullptr);
    EXPECT_LE(std::fabs(weak->offset_hz + 1234.5), 2.0 * s.result.bin_hz);
    EXPECT_LE(std::fabs(weak->drift_hz_s - 2.0), 2.0 * s.result.drift_step_hz_s);
}

TEST(Search, AStrongFastToneIsOneHit) {
    // -6 Hz/s at the default resolution: 4.2 bins a row, over which the
    // tone's power spreads; the paths beside its own pick that up and must
    // not be hits of their own.
    constexpr int32_t WHOLE_UNIT = 1048576;
    for (const int bits : {2, 4}) {
        const Searched s = search(tone_samples(WHOLE_UNIT, 8, {{-800.0, -6.0, 0.6}}, bits), okrelt::SearchOptions{}, bits);
        ASSERT_EQ(s.status, 0);
        ASSERT_EQ(s.result.hits.size(), 1u) << bits << "-bit: " << s.result.hits[1].offset_hz << " Hz";
        EXPECT_LE(std::fabs(s.result.hits[0].offset_hz + 800.0), 2.0 * s.result.bin_hz);
    }
}

TEST(Search, TheConstantAndSilenceMakeNoHits) {
    // A strong constant: a tone at 0 Hz.
    const Searched constant = search(tone_samples(SHORT_UNIT, 6, {{0.0, 0.0, 0.6}}, 2), short_options());
    ASSERT_EQ(constant.status, 0);
    EXPECT_TRUE(constant.result.hits.empty()) << constant.result.hits[0].offset_hz;
    // A constant alone: what the transform's rounding leaves of it is no
    // noise to measure against.
    okrelt::SampleVectors flat;
    flat.in_phase.assign(static_cast<size_t>(SHORT_UNIT), 1);
    flat.quadrature.assign(static_cast<size_t>(SHORT_UNIT), -1);
    const Searched alone = search(flat, short_options());
    ASSERT_EQ(alone.status, 0);
    EXPECT_TRUE(alone.result.hits.empty()) << alone.result.hits.size() << " hits";
    EXPECT_EQ(alone.result.sensitivity, 0.0);
    // The last 23 % of the data missing, played as silence: the search stops
    // before it, and a tone is measured over the rows that hold it.
    const int dropped_groups = 5000;   // 2-bit: 12 samples a group, 60000 samples
    const Searched silent = search(tone_samples(SHORT_UNIT, 7, {{800.0, 1.0, 0.3}}, 2), short_options(), 2,
                                   dropped_groups);
    ASSERT_EQ(silent.status, 0);
    ASSERT_GT(silent.info.silent_samples, 0);
    EXPECT_EQ(silent.result.rows, silent.info.first_silent_sample / SHORT_FFT);
    ASSERT_EQ(silent.result.hits.size(), 1u);
    EXPECT_EQ(silent.result.hits[0].last_row, silent.result.rows - 1);
    EXPECT_NEAR(silent.result.hits[0].amplitude, 0.3 * QUANTISED_AMPLITUDE, 0.2 * 0.3 * QUANTISED_AMPLITUDE);
}

TEST(Search, SensitivityIsTheAmplitudeThatReachesTheThreshold) {
    // Steady tones at a bin's centre, a little above the predicted weakest:
    // the amplitude their SNR says would reach the threshold exactly (SNR
    // goes with the square of the amplitude) lies within 20 % of it.
    const okrelt::SearchOptions options = short_options();
    const Searched noise = search(tone_samples(SHORT_UNIT, 8, {}, 2), options);
    ASSERT_EQ(noise.status, 0);
    const double predicted = noise.result.sensitivity;
    ASSERT_GT(predicted, 0.0);
    EXPECT_NEAR(noise.result.sensitivity_db, 20.0 * std::log10(predicted), 1e-9);
    double measured = 0.0;
    const int seeds = 4;
    for (int seed = 0; seed < seeds; ++seed) {
        const double amplitude = 2.0 * predicted;   // as recorded
        const Tone tone{-300.0 * noise.result.bin_hz, 0.0, amplitude / QUANTISED_AMPLITUDE};
        const Searched s = search(tone_samples(SHORT_UNIT, 20u + static_cast<uint64_t>(seed), {tone}, 2), options);
        const okrelt::Hit* hit = hit_near(s.result, tone.hz);
        ASSERT_NE(hit, nullptr);
        measured += amplitude * std::sqrt(options.snr_threshold / hit->snr) / seeds;
        EXPECT_NEAR(hit->amplitude, amplitude, 0.2 * amplitude);
    }
    EXPECT_NEAR(measured, predicted, 0.2 * predicted);
}

okrelt_test::RunResult run(const TempDir& dir, const char* program, const std::vector<std::string>& args) {
    okrelt_test::RunOptions options;
    options.program = program;
    options.args = args;
    return okrelt_test::run_program(dir.path(), options);
}

std::vector<std::string> lines_of(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream stream(text);
    for (std::string line; std::getline(stream, line);) lines.push_back(line);
    return lines;
}

std::vector<std::string> fields_of(const std::string& line) {
    std::vector<std::string> fields;
    std::istringstream stream(line);
    for (std::string field; std::getline(stream, field, '\t');) fields.push_back(field);
    return fields;
}

TEST(SearchProgram, WritesTheHitFileTheTableAndTheCsv) {
    TempDir dir;
    // okrelt-make-wu's drifting tone, in a later unit (sky frequency known)
    // and a classic one (offsets from the centre only).
    for (const char* format : {"later", "classic"}) {
        ASSERT_EQ(run(dir, OKRELT_MAKE_WU_BINARY, {"--format", format, "--samples", "262144", "--tone", "1000",
                                                   "--drift", "-2.5", "--amplitude", "0.3", "-o",
                                                   std::string(format) + ".wu"}).exit_status, 0);
    }
    ASSERT_EQ(run(dir, OKRELT_MAKE_WU_BINARY, {"--samples", "262144", "-o", "example.sah"}).exit_status, 0);
    okrelt::WorkUnitInfo info;
    {
        std::vector<okrelt::KeptMessage> kept;
        okrelt::MessageSink sink = okrelt::keeping_sink(&kept);
        const okrelt::ScopedMessageSink quiet(&sink);
        okrelt::SampleStreams streams;
        ASSERT_EQ(okrelt::load_work_unit(dir.file("later.wu").c_str(), &streams, &info), 0);
        ASSERT_TRUE(info.center_hz);
    }
    std::filesystem::create_directory(dir.file("hits"));
    const okrelt_test::RunResult r = run(dir, OKRELT_SEARCH_BINARY, {"--fft", "2048", "-o", "hits", "--csv", "all.csv",
                                                                     "later.wu", "classic.wu"});
    ASSERT_EQ(r.exit_status, 0) << r.out << r.err;
    EXPECT_NE(r.out.find("Sensitivity: a steady tone of amplitude"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find(" rank    offset Hz        sky MHz  drift Hz/s"), std::string::npos) << r.out;

    const double bin_mhz = RATE / 2048 / 1e6;
    for (const char* format : {"later", "classic"}) {
        const std::vector<std::string> dat = lines_of(okrelt_test::read_file(dir.file(std::string("hits/") + format + ".dat")));
        ASSERT_GE(dat.size(), 10u) << format;
        EXPECT_EQ(dat[1], std::string("# File ID: ") + format + ".wu");
        EXPECT_EQ(dat[3], "# Source: okrelt_example.0");
        EXPECT_EQ(dat[4].rfind("# MJD: ", 0), 0u);
        EXPECT_NE(dat[4].find("\tRA: "), std::string::npos);
        EXPECT_NE(dat[4].find("\tDEC: "), std::string::npos);
        EXPECT_EQ(dat[5].rfind("# DELTAT:   0.209715\tDELTAF(Hz):   4.768372\tmax_drift_rate:  10.000000\tobs_length:", 0), 0u)
            << dat[5];
        const bool classic = std::string(format) == "classic";
        const size_t names = classic ? 9 : 8;   // after the frequencies' and the correction's lines
        EXPECT_EQ(dat[6] == "# Frequencies: MHz from the sub-band's centre; the unit gives no sky frequency", classic);
        EXPECT_EQ(fields_of(dat[names]).size(), 12u) << dat[names];
        EXPECT_EQ(fields_of(dat[names])[3], "Uncorrected_Frequency ");
        const std::vector<std::string> top = fields_of(dat[names + 2]);
        ASSERT_EQ(top.size(), 12u) << dat[names + 2];
        EXPECT_EQ(top[0], "001");
        EXPECT_NEAR(std::stod(top[1]), -2.5, 2 * 0.179);
        EXPECT_GT(std::stod(top[2]), 10.0);
        const double expected_mhz = ((classic ? 0.0 : *info.center_hz) + 1000.0) / 1e6;
        EXPECT_NEAR(std::stod(top[3]), expected_mhz, 2 * bin_mhz) << format;
        EXPECT_EQ(dat[names - 2].rfind("# Corrected_Frequency: not corrected", 0), 0u) << dat[names - 2];
        EXPECT_EQ(top[3], top[4]);   // the made-up units give no time or place to correct with
        EXPECT_EQ(top[3], top[6]);
        EXPECT_NEAR(std::stod(top[7]) - std::stod(top[6]), -2.5 * 262144 / 2048 * 2048 / RATE / 1e6, 2 * bin_mhz);
    }
    const std::vector<std::string> csv = lines_of(okrelt_test::read_file(dir.file("all.csv")));
    ASSERT_GE(csv.size(), 3u);
    EXPECT_EQ(csv[0], "unit,rank,offset_hz,sky_mhz,drift_hz_s,snr,amplitude,corrected_mhz,corrected_drift_hz_s");
    EXPECT_EQ(csv[1].rfind("later.wu,1,", 0), 0u) << csv[1];
    EXPECT_EQ(csv.back().rfind("classic.wu,", 0), 0u) << csv.back();

    // -q: a line a unit; a unit that fails does not stop the others.
    const okrelt_test::RunResult q = run(dir, OKRELT_SEARCH_BINARY, {"-q", "--fft", "2048", "missing.wu", "example.sah"});
    EXPECT_EQ(q.exit_status, 1);
    EXPECT_EQ(q.err.rfind("missing.wu: ", 0), 0u) << q.err;
    // The example's faint tone, at 976.6 Hz, in its first quarter.
    EXPECT_EQ(q.out.rfind("example.sah: 1 hit, strongest 97", 0), 0u) << q.out;
    EXPECT_TRUE(okrelt_test::file_exists(dir.file("example.dat")));
    // One file named twice is searched once; two units that would write one
    // hit file stop the run.
    okrelt_test::write_file(dir.file("list"), "example.sah\n./example.sah\n");
    const okrelt_test::RunResult twice = run(dir, OKRELT_SEARCH_BINARY, {"-q", "--fft", "2048", "-T", "list"});
    EXPECT_EQ(twice.exit_status, 0);
    EXPECT_NE(twice.err.find("./example.sah is the same file as example.sah; searched once"), std::string::npos) << twice.err;
    okrelt_test::write_file(dir.file("later.sah"), okrelt_test::read_file(dir.file("later.wu")));
    const okrelt_test::RunResult clash = run(dir, OKRELT_SEARCH_BINARY, {"later.wu", "-o", "hits", "--", "later.sah"});
    EXPECT_EQ(clash.exit_status, 1);
    EXPECT_NE(clash.err.find("hits/later.dat (for later.sah) is the same file as hits/later.dat (for later.wu); nothing written"), std::string::npos) << clash.err;
    // A CSV that cannot be written fails the run before any unit is searched.
    for (const char* unwritable : {"no/such/folder.csv", "hits"}) {
        const okrelt_test::RunResult bad =
            run(dir, OKRELT_SEARCH_BINARY, {"-q", "-o", "hits", "--csv", unwritable, "example.sah"});
        EXPECT_EQ(bad.exit_status, 1) << unwritable;
        EXPECT_EQ(bad.out, "") << unwritable;
        EXPECT_EQ(bad.err.rfind(std::string("okrelt-search: Error writing ") + unwritable + ": ", 0), 0u) << bad.err;
        EXPECT_FALSE(okrelt_test::file_exists(dir.file("hits/example.dat"))) << unwritable;
    }
    // So does a folder for the hit files that is missing, or is a file.
    EXPECT_EQ(run(dir, OKRELT_SEARCH_BINARY, {"-q", "-o", "none", "example.sah"}).err,
              "okrelt-search: none: No such file or directory\n");
    EXPECT_EQ(run(dir, OKRELT_SEARCH_BINARY, {"-q", "-o", "list", "example.sah"}).err,
              "okrelt-search: list is not a folder\n");
    // A line break in a unit's name stays within its header line.
    okrelt_test::write_file(dir.file("two\nlines.sah"), okrelt_test::read_file(dir.file("example.sah")));
    ASSERT_EQ(run(dir, OKRELT_SEARCH_BINARY, {"-q", "--fft", "2048", "two\nlines.sah"}).exit_status, 0);
    const std::vector<std::string> header = lines_of(okrelt_test::read_file(dir.file("two\nlines.dat")));
    ASSERT_GE(header.size(), 4u);
    EXPECT_EQ(header[1], "# File ID: two\\012lines.sah");
    for (size_t l = 0; l < 6; ++l) EXPECT_EQ(header[l][0], '#') << l;
    EXPECT_EQ(run(dir, OKRELT_SEARCH_BINARY, {"--fft", "1000", "example.sah"}).exit_status, 2);
    EXPECT_EQ(run(dir, OKRELT_SEARCH_BINARY, {"--max-drift", "-1", "example.sah"}).exit_status, 2);
    EXPECT_EQ(run(dir, OKRELT_SEARCH_BINARY, {}).exit_status, 2);
    EXPECT_EQ(run(dir, OKRELT_SEARCH_BINARY, {"--help"}).exit_status, 0);
}

}  // namespace

namespace {

// A hit seen at Arecibo on 2005-03-15 06:00 UTC toward RA 5.5 h, Dec +20:
// astropy (tools/barycentric_reference.py, UT1 taken as UTC) puts the
// observer at -30270.507698 m/s toward the source, so the barycentre sees
// the tone at f / (1 + v/c). Where the header lacks the place, nothing is
// corrected and the reason is kept.
TEST(BarycentricHits, CorrectedAsAstropyHasTheObserverMove) {
    okrelt::WorkUnitInfo info;
    info.time_recorded_jd = 2453444.75;
    info.geolocation = okrelt::Geolocation{-66.7528, 18.3464, 497.0};
    info.start_ra_hours = 5.5;
    info.start_dec_degrees = 20.0;
    info.center_hz = 1420.0e6;
    okrelt::SearchResult result;
    result.hits.resize(1);
    result.hits[0].offset_hz = 1000.0;
    result.hits[0].drift_hz_s = 0.5;
    ASSERT_EQ(okrelt::correct_hits_to_barycentre(info, &result), 0);
    const double beta = -30270.507698 / 299792458.0;
    ASSERT_TRUE(result.hits[0].barycentric_mhz.has_value());
    EXPECT_NEAR(*result.hits[0].barycentric_mhz, 1420.001 / (1.0 + beta), 1e-7);   // 0.1 Hz
    // The Earth's spin and orbit change the line-of-sight speed by at most a few cm/s^2: the drift barely moves.
    ASSERT_TRUE(result.hits[0].barycentric_drift_hz_s.has_value());
    EXPECT_NEAR(*result.hits[0].barycentric_drift_hz_s, 0.5, 0.2);
    EXPECT_NE(*result.hits[0].barycentric_drift_hz_s, 0.5);
    EXPECT_EQ(result.uncorrected_because, "");

    info.geolocation.reset();
    okrelt::SearchResult placeless;
    placeless.hits.resize(1);
    EXPECT_EQ(okrelt::correct_hits_to_barycentre(info, &placeless), 1);
    EXPECT_FALSE(placeless.hits[0].barycentric_mhz.has_value());
    EXPECT_EQ(placeless.uncorrected_because, "the telescope's place");
}

}  // namespace
