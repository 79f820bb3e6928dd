#include "search/search.h"

#include <sched.h>

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <queue>
#include <utility>
#include <vector>

#include "audio/fft.h"
#include "common/background.h"
#include "common/memory.h"
#include "common/messages.h"
#include "search/correction.h"

namespace okrelt {

namespace {

constexpr double TWO_PI = 6.283185307179586476925286766559;
constexpr int CENTRE_BESIDE_BINS = 2;   // bins each side of the blanked centre whose mean replaces it
constexpr double DB_PER_DECADE_OF_AMPLITUDE = 20.0;
constexpr int TREE_STRIPE_BINS = 1024;   // columns of a tree's piece: with 128 rows, 2 x 590 KiB

// Zero-filled floats in a big array's mapping (huge pages where the kernel
// gives them): page faults one by one cost more than the search's
// arithmetic. Null when there is no memory.
struct FloatArray {
    MappedMemory storage;
    float* data = nullptr;
};

FloatArray float_array(size_t n) {
    FloatArray array;
    const size_t bytes = std::max<size_t>(n, 1) * sizeof(float);
    array.storage = map_big_array(bytes);
    if (array.storage == nullptr) return array;
    array.data = static_cast<float*>(array.storage.get());
    return array;
}

size_t index_of(int row, int bins) { return static_cast<size_t>(row) * static_cast<size_t>(bins); }

int log2_of(long n) {
    int m = 0;
    while ((1L << m) < n) ++m;
    return m;
}

long reversed_bits(long value, int bits) {
    long reversed = 0;
    for (int b = 0; b < bits; ++b) reversed |= ((value >> b) & 1L) << (bits - 1 - b);
    return reversed;
}

// The value of sample k of one stream, as the transform takes it.
double value_of(const SampleStreams& streams, const int8_t* stream, long k) {
    return streams.levels == nullptr ? stream[k] : streams.levels[stream[k] & LEVEL_INDEX_MASK];
}

// shift taken round the band into 0 .. bins - 1.
int wrapped(long shift, int bins) {
    const long r = shift % bins;
    return static_cast<int>(r < 0 ? r + bins : r);
}

// out[f] = a[f] + b[(f + shift) mod bins], shift in 0 .. bins - 1: two runs
// the compiler vectorises.
void add_shifted(const float* a, const float* b, int shift, int bins, float* out) {
    const int split = bins - shift;
    for (int f = 0; f < split; ++f) out[f] = a[f] + b[f + shift];
    for (int f = split; f < bins; ++f) out[f] = a[f] + b[f - split];
}

// out[j] = cells[(first + j) mod bins] for j below count: runs of
// consecutive cells.
void copy_shifted_run(const float* cells, int first, int bins, int count, float* out) {
    int column = first;
    for (int j = 0; j < count;) {
        const int run = std::min(count - j, bins - column);
        std::copy(cells + column, cells + column + run, out + j);
        j += run;
        column = 0;
    }
}

// The offset in bins, at row r of a group of size rows, of the tree's path of
// drift d (0 .. size - 1 bins over the group): the lower half follows drift
// d / 2, the upper half starts d / 2 + d % 2 further on.
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

// The Taylor tree on rows g .. g + size - 1 of the whole band: level L of
// the tree (groups of 2^L rows) is in buffers[L % 2], row g + d of a group
// holding the sums of its drift d from every start bin, direction +1
// (rising) or -1. Depth first, so that small groups are combined while they
// are still in the cache.
void taylor_tree(float* const buffers[2], int g, int level, int bins, int direction) {
    if (level == 0) return;
    const int size = 1 << level;
    const int half = size / 2;
    taylor_tree(buffers, g, level - 1, bins, direction);
    taylor_tree(buffers, g + half, level - 1, bins, direction);
    const float* source = buffers[(level - 1) % 2];
    float* target = buffers[level % 2];
    for (int j = 0; j < half; ++j) {
        const float* lower = source + index_of(g + j, bins);
        const float* upper = source + index_of(g + half + j, bins);
        for (int odd = 0; odd < 2; ++odd) {
            add_shifted(lower, upper, wrapped(static_cast<long>(direction) * (j + odd), bins), bins,
                        target + index_of(g + 2 * j + odd, bins));
        }
    }
}

// A stripe of the band: `width` columns, the paths' reach (reach columns)
// beyond the TREE_STRIPE_BINS start bins it serves, on their right for
// rising drifts, on their left for falling ones. Sums that would leave the
// stripe stop at its edge: only the start bins served are whole.
struct Stripe {
    int width;
    int reach;
    int direction;
};

// The Taylor tree of a stripe as taylor_tree's of the band, but that the top
// level writes the served start bins' sums straight into result (rows of
// bins, from column x on).
void stripe_tree(float* const buffers[2], int g, int level, int top, const Stripe& stripe, float* result, int bins,
                 int x) {
    if (level == 0) return;
    const int size = 1 << level;
    const int half = size / 2;
    stripe_tree(buffers, g, level - 1, top, stripe, result, bins, x);
    stripe_tree(buffers, g + half, level - 1, top, stripe, result, bins, x);
    const float* source = buffers[(level - 1) % 2];
    const int width = stripe.width;
    const bool rising = stripe.direction > 0;
    for (int j = 0; j < half; ++j) {
        const float* lower = source + index_of(g + j, width);
        const float* upper = source + index_of(g + half + j, width);
        for (int odd = 0; odd < 2; ++odd) {
            const int shift = j + odd;
            if (level == top) {
                // Served start bins: 0 .. TREE_STRIPE_BINS - 1 of the stripe
                // rising, reach .. reach + TREE_STRIPE_BINS - 1 falling.
                float* out = result + index_of(g + 2 * j + odd, bins) + x;
                const int first = rising ? 0 : stripe.reach;
                const int step = rising ? shift : -shift;
                for (int f = 0; f < TREE_STRIPE_BINS; ++f) out[f] = lower[first + f] + upper[first + f + step];
                continue;
            }
            float* out = buffers[level % 2] + index_of(g + 2 * j + odd, width);
            if (rising) {
                const int split = width - shift;
                for (int f = 0; f < split; ++f) out[f] = lower[f] + upper[f + shift];
                std::copy(lower + split, lower + width, out + split);
            } else {
                std::copy(lower, lower + shift, out);
                for (int f = shift; f < width; ++f) out[f] = lower[f] + upper[f - shift];
            }
        }
    }
}

struct Candidate {
    int start_bin;
    int drift_index;
    float sum;
};

// Stronger first; ties in the order of the search grid.
bool stronger(const Candidate& a, const Candidate& b) {
    if (a.sum != b.sum) return a.sum > b.sum;
    if (a.drift_index != b.drift_index) return a.drift_index < b.drift_index;
    return a.start_bin < b.start_bin;
}

// Drift rows in the order of the signed drift, with the local maxima over
// the threshold among them: a cell greater than its neighbours before it
// (the row before, the bin before) and not less than those after it. Rows
// are looked at where they lie until keep_rows() is called, before the
// memory is used again.
class MaximaScan {
public:
    MaximaScan(int bins, float threshold_sum)
        : bins_(bins), threshold_(threshold_sum), kept_(3, std::vector<float>(static_cast<size_t>(bins))),
          best_(static_cast<size_t>(bins), -std::numeric_limits<float>::infinity()) {}

    // The next drift row, drift_index being one more than the last one's.
    void add(const float* sums, int drift_index) {
        int above = 0;
        float* best = best_.data();
        for (int f = 0; f < bins_; ++f) {
            best[f] = std::max(best[f], sums[f]);
            above += sums[f] >= threshold_;
        }
        rows_[held_ % 3] = sums;
        above_[held_ % 3] = above;
        ++held_;
        if (held_ >= 2) examine(drift_index - 1, held_ >= 3, true);
        last_index_ = drift_index;
    }

    // Copies the rows still to be looked at, whose memory is about to be reused.
    void keep_rows() {
        for (int slot = 0; slot < 3; ++slot) {
            if (rows_[slot] == nullptr) continue;
            std::vector<float>& kept = kept_[static_cast<size_t>(slot)];
            std::copy(rows_[slot], rows_[slot] + bins_, kept.begin());
            rows_[slot] = kept.data();
        }
    }

    // Examines the last row added.
    void finish() {
        if (held_ >= 1) examine(last_index_, held_ >= 2, false);
    }

    std::vector<Candidate> take_candidates() {
        std::vector<Candidate> kept;
        while (!heap_.empty()) {
            kept.push_back(heap_.top());
            heap_.pop();
        }
        std::sort(kept.begin(), kept.end(), stronger);
        return kept;
    }
    int counted() const { return counted_; }
    const std::vector<float>& best() const { return best_; }

private:
    int slot_back(int age) const { return (held_ - 1 - age) % 3; }

    void examine(int drift_index, bool has_before, bool has_after) {
        const int age = has_after ? 1 : 0;
        if (above_[slot_back(age)] == 0) return;
        const float* row = rows_[slot_back(age)];
        const float* before = has_before ? rows_[slot_back(age + 1)] : nullptr;
        const float* after = has_after ? rows_[slot_back(0)] : nullptr;
        for (int f = 0; f < bins_; ++f) {
            const float v = row[f];
            if (!(v >= threshold_)) continue;
            const int left = wrapped(f - 1, bins_);
            const int right = wrapped(f + 1, bins_);
            if (!(v > row[left] && v >= row[right])) continue;
            if (before != nullptr && !(v > before[left] && v > before[f] && v > before[right])) continue;
            if (after != nullptr && !(v >= after[left] && v >= after[f] && v >= after[right])) continue;
            ++counted_;
            const Candidate c{f, drift_index, v};
            if (heap_.size() < static_cast<size_t>(SEARCH_MAX_CANDIDATES)) {
                heap_.push(c);
            } else if (stronger(c, heap_.top())) {
                heap_.pop();
                heap_.push(c);
            }
        }
    }

    int bins_;
    float threshold_;
    std::vector<std::vector<float>> kept_;
    std::vector<float> best_;
    const float* rows_[3] = {nullptr, nullptr, nullptr};
    int above_[3] = {0, 0, 0};
    int held_ = 0;
    int last_index_ = 0;
    int counted_ = 0;
    std::priority_queue<Candidate, std::vector<Candidate>, decltype(&stronger)> heap_{stronger};   // weakest on top
};

// Whether this process may run on more than one processor (taskset).
bool spare_processor() {
    cpu_set_t allowed;
    CPU_ZERO(&allowed);
    return sched_getaffinity(0, sizeof allowed, &allowed) == 0 && CPU_COUNT(&allowed) > 1;
}

// The sums of one block of drifts (k bins a row plus 0 .. padded - 1 steps)
// in one direction. In stripes of TREE_STRIPE_BINS start bins where the band
// is wide enough beside the paths' reach: a stripe's two levels stay in the
// processor's second-level cache, and with a spare processor a second thread
// does half the stripes (the sums are the same bits either way).
class BlockTree {
public:
    explicit BlockTree(const PowerSpectrogram& spectrogram)
        : s_(spectrogram), padded_(padded_rows_of(spectrogram.rows)), level_(log2_of(padded_)),
          striped_(padded_ - 1 <= TREE_STRIPE_BINS && spectrogram.bins >= 2 * TREE_STRIPE_BINS),
          width_(striped_ ? TREE_STRIPE_BINS + padded_ - 1 : spectrogram.bins),
          teams_(striped_ && spare_processor() ? 2 : 1),
          storage_(float_array(2 * static_cast<size_t>(teams_) * index_of(padded_, width_))),
          result_(float_array(striped_ ? index_of(padded_, spectrogram.bins) : 0)) {
        if (storage_.data == nullptr) return;
        for (int b = 0; b < 2 * teams_; ++b) buffers_[b] = storage_.data + static_cast<size_t>(b) * index_of(padded_, width_);
    }

    // False if there was no memory for it.
    bool ready() const { return storage_.data != nullptr && result_.data != nullptr; }

    // Row d of the block's result holds the sums of drift d from every start bin.
    const float* sums(int d) const {
        return (striped_ ? result_.data : buffers_[level_ % 2]) + index_of(d, s_.bins);
    }

    void run(int block, int direction) {
        const int bins = s_.bins;
        // Row r skewed by the block's whole bins a row, from column x on; padding rows zero.
        const auto fill = [&](float* piece, int x, int width) {
            for (int r = 0; r < s_.rows; ++r) {
                copy_shifted_run(s_.row(r), wrapped(x + static_cast<long>(direction) * block * r, bins), bins, width,
                                 piece + index_of(r, width));
            }
            std::fill(piece + index_of(s_.rows, width), piece + index_of(padded_, width), 0.0f);
        };
        if (!striped_) {
            fill(buffers_[0], 0, bins);
            taylor_tree(buffers_, 0, level_, bins, direction);
            return;
        }
        const Stripe stripe{width_, padded_ - 1, direction};
        const int stripes = bins / TREE_STRIPE_BINS;
        const auto run_stripes = [&](int team, int first, int last) {
            float* const buffers[2] = {buffers_[2 * team], buffers_[2 * team + 1]};
            for (int i = first; i < last; ++i) {
                const int x = i * TREE_STRIPE_BINS;
                fill(buffers[0], direction > 0 ? x : x - stripe.reach, width_);
                stripe_tree(buffers, 0, level_, level_, stripe, result_.data, bins, x);
            }
        };
        if (teams_ == 1) {
            run_stripes(0, 0, stripes);
            return;
        }
        Background other([&] { run_stripes(1, stripes / 2, stripes); });
        run_stripes(0, 0, stripes / 2);
    }

private:
    static constexpr int MAX_TEAMS = 2;
    const PowerSpectrogram& s_;
    int padded_;
    int level_;
    bool striped_;
    int width_;
    int teams_;
    FloatArray storage_;
    FloatArray result_;
    float* buffers_[2 * MAX_TEAMS] = {nullptr, nullptr, nullptr, nullptr};
};

// Every drift row of the search, in the order of the signed drift, to scan:
// the tree of each block of drifts (block k: k bins a row plus 0 .. padded
// - 2 steps) for each direction.
// 0, or 1 after a message when there is no memory for the tree.
int tree_search(const PowerSpectrogram& spectrogram, int max_drift_index, MaximaScan* scan) {
    const int per_block = padded_rows_of(spectrogram.rows) - 1;
    const int last_block = max_drift_index / per_block;
    BlockTree tree(spectrogram);
    if (!tree.ready()) {
        tell(MESSAGE_PROBLEM, "Not enough memory for the search.\n");
        return 1;
    }
    for (int direction : {-1, 1}) {
        for (int step = 0; step <= last_block; ++step) {
            const int block = direction < 0 ? last_block - step : step;
            scan->keep_rows();
            tree.run(block, direction);
            for (int k = 0; k < per_block; ++k) {
                const int d = direction < 0 ? per_block - 1 - k : k;
                const int magnitude = block * per_block + d;
                if (magnitude > max_drift_index || (direction < 0 && magnitude == 0)) continue;
                scan->add(tree.sums(d), direction * magnitude);
            }
        }
    }
    scan->finish();
    return 0;
}

// Circular distance of two columns.
int column_distance(int a, int b, int bins) {
    const int d = std::abs(a - b);
    return std::min(d, bins - d);
}

// The candidates made hits, strongest first: one a signal. A candidate whose
// path stays within SAME_SIGNAL_BINS of a stronger hit's for half the rows
// or more is that signal; otherwise it is a hit of its own if its path still
// reaches the threshold with the rows where it meets a hit taken as noise
// (so that crossing a strong tone does not make a path a hit).
std::vector<Hit> make_hits(const PowerSpectrogram& spectrogram, const std::vector<Candidate>& candidates,
                           const NoiseStatistics& noise, float threshold_sum) {
    const int bins = spectrogram.bins;
    const int rows = spectrogram.rows;
    const int padded = padded_rows_of(rows);
    std::vector<std::vector<int>> hit_columns;
    std::vector<Hit> hits;
    std::vector<int> columns(static_cast<size_t>(rows));
    std::vector<char> near(static_cast<size_t>(rows));
    for (const Candidate& c : candidates) {
        // A unit swamped by interference stops here, its work bounded.
        if (hits.size() == static_cast<size_t>(SEARCH_MAX_HITS)) break;
        for (int r = 0; r < rows; ++r) {
            columns[static_cast<size_t>(r)] = path_column(c.start_bin, c.drift_index, r, bins, padded);
        }
        std::fill(near.begin(), near.end(), 0);
        bool same = false;
        for (const std::vector<int>& other : hit_columns) {
            int close = 0;
            for (size_t r = 0; r < columns.size(); ++r) {
                if (column_distance(columns[r], other[r], bins) <= SAME_SIGNAL_BINS) {
                    ++close;
                    near[r] = 1;
                }
            }
            if (2 * close >= rows) {
                same = true;
                break;
            }
        }
        if (same) continue;
        double cleaned = 0.0;
        for (int r = 0; r < rows; ++r) {
            const size_t rr = static_cast<size_t>(r);
            cleaned += near[rr] != 0 ? noise.cell_mean : static_cast<double>(spectrogram.row(r)[columns[rr]]);
        }
        if (cleaned < static_cast<double>(threshold_sum)) continue;
        Hit hit;
        hit.start_bin = c.start_bin;
        hit.drift_index = c.drift_index;
        hit.snr = (static_cast<double>(c.sum) - noise.median) / noise.deviation;
        hit.first_row = 0;
        hit.last_row = rows - 1;
        const double excess_per_cell = (static_cast<double>(c.sum) - noise.median) / rows;
        hit.amplitude = std::sqrt(std::max(0.0, spectrogram.tone_gain * excess_per_cell / noise.cell_mean));
        hits.push_back(hit);
        hit_columns.push_back(columns);
    }
    return hits;
}

}  // namespace

bool valid_search_fft(long fft_size) {
    return fft_size >= SEARCH_MIN_FFT && fft_size <= SEARCH_MAX_FFT && (fft_size & (fft_size - 1)) == 0;
}

int allocate_spectrogram(int bins, int rows, PowerSpectrogram* spectrogram) {
    FloatArray cells = float_array(index_of(rows, bins));
    if (cells.data == nullptr) {
        tell(MESSAGE_PROBLEM, "Not enough memory for a spectrogram of %d by %d.\n", rows, bins);
        return 1;
    }
    spectrogram->bins = bins;
    spectrogram->rows = rows;
    spectrogram->storage = std::move(cells.storage);
    spectrogram->power = cells.data;
    return 0;
}

int make_power_spectrogram(const SampleStreams& streams, const WorkUnitInfo& info, int fft_size, SearchWindow window,
                           PowerSpectrogram* spectrogram) {
    const int32_t usable = info.silent_samples > 0 && info.first_silent_sample >= 0
                               ? std::min(streams.count, info.first_silent_sample)
                               : streams.count;
    const int rows = usable / fft_size;
    if (rows < SEARCH_MIN_ROWS) {
        tell(MESSAGE_PROBLEM, "Too few samples for a search: %d before any silence, %d needed.\n", usable,
             SEARCH_MIN_ROWS * fft_size);
        return 1;
    }
    if (allocate_spectrogram(fft_size, rows, spectrogram) != 0) return 1;
    PowerSpectrogram& s = *spectrogram;
    s.bin_hz = info.subband_rate / fft_size;
    s.row_seconds = fft_size / info.subband_rate;
    const size_t n = static_cast<size_t>(fft_size);
    std::vector<double> w(n, 1.0);
    if (window == SearchWindow::HANN) {
        for (size_t j = 0; j < n; ++j) w[j] = 0.5 - 0.5 * std::cos(TWO_PI * static_cast<double>(j) / fft_size);
    }
    double sum = 0.0;
    double sum_squares = 0.0;
    for (double x : w) {
        sum += x;
        sum_squares += x * x;
    }
    s.tone_gain = 2.0 * sum_squares / (sum * sum);
    const int m = log2_of(fft_size);
    std::vector<int> column_of(n);
    for (size_t position = 0; position < n; ++position) {
        column_of[position] = static_cast<int>((reversed_bits(static_cast<long>(position), m) + fft_size / 2) % fft_size);
    }
    std::vector<double> re(n);
    std::vector<double> im(n);
    for (int r = 0; r < rows; ++r) {
        const long first = static_cast<long>(r) * fft_size;
        for (size_t j = 0; j < n; ++j) {
            re[j] = w[j] * value_of(streams, streams.in_phase, first + static_cast<long>(j));
            im[j] = w[j] * value_of(streams, streams.quadrature, first + static_cast<long>(j));
        }
        (void)fft_forward_bit_reversed(m, re.data(), im.data());
        float* cells = s.row(r);
        for (size_t k = 0; k < n; ++k) cells[column_of[k]] = static_cast<float>(re[k] * re[k] + im[k] * im[k]);
        // A constant lies in the centre bin, and with a window in its neighbours.
        const int centre = fft_size / 2;
        const int reach = window == SearchWindow::HANN ? 1 : 0;
        float beside = 0.0f;
        for (int b = 1; b <= CENTRE_BESIDE_BINS; ++b) beside += cells[centre - reach - b] + cells[centre + reach + b];
        beside /= static_cast<float>(2 * CENTRE_BESIDE_BINS);
        for (int c = centre - reach; c <= centre + reach; ++c) cells[c] = beside;
    }
    return 0;
}

NoiseStatistics noise_statistics(const PowerSpectrogram& spectrogram) {
    std::vector<double> sums(static_cast<size_t>(spectrogram.bins), 0.0);
    for (int r = 0; r < spectrogram.rows; ++r) {
        const float* cells = spectrogram.row(r);
        for (size_t f = 0; f < sums.size(); ++f) sums[f] += static_cast<double>(cells[f]);
    }
    std::sort(sums.begin(), sums.end());
    const size_t n = sums.size();
    NoiseStatistics noise;
    noise.median = n % 2 == 1 ? sums[n / 2] : 0.5 * (sums[n / 2 - 1] + sums[n / 2]);
    const size_t low = static_cast<size_t>(TRIM_LOW * static_cast<double>(n));
    const size_t high = static_cast<size_t>(std::ceil(TRIM_HIGH * static_cast<double>(n)));
    double mean = 0.0;
    for (size_t i = low; i < high; ++i) mean += sums[i];
    mean /= static_cast<double>(high - low);
    double variance = 0.0;
    for (size_t i = low; i < high; ++i) variance += (sums[i] - mean) * (sums[i] - mean);
    noise.deviation = std::sqrt(variance / static_cast<double>(high - low));
    noise.cell_mean = noise.median / spectrogram.rows;
    return noise;
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

int search_spectrogram(const PowerSpectrogram& spectrogram, const SearchOptions& options, SearchResult* found) {
    SearchResult& result = *found;
    result = SearchResult();
    result.bins = spectrogram.bins;
    result.rows = spectrogram.rows;
    result.bin_hz = spectrogram.bin_hz;
    result.row_seconds = spectrogram.row_seconds;
    result.drift_step_hz_s = drift_step_hz_s(spectrogram);
    result.max_drift_index = static_cast<int>(std::floor(options.max_drift_hz_s / result.drift_step_hz_s + 1e-9));
    result.noise = noise_statistics(spectrogram);
    const NoiseStatistics& noise = result.noise;
    // A unit with no scatter (silence, a constant) has no noise to stand above.
    const bool noisy = noise.deviation > 0.0 && noise.cell_mean > 0.0;
    const float threshold_sum = noisy ? static_cast<float>(noise.median + options.snr_threshold * noise.deviation)
                                      : std::numeric_limits<float>::infinity();
    MaximaScan scan(spectrogram.bins, threshold_sum);
    if (tree_search(spectrogram, result.max_drift_index, &scan) != 0) return 1;
    result.candidates = scan.counted();
    result.best_snr.resize(static_cast<size_t>(spectrogram.bins));
    for (size_t f = 0; f < result.best_snr.size(); ++f) {
        result.best_snr[f] = noisy ? static_cast<float>((scan.best()[f] - noise.median) / noise.deviation) : 0.0f;
    }
    if (!noisy) return 0;
    result.sensitivity = std::sqrt(spectrogram.tone_gain * options.snr_threshold * noise.deviation /
                                   (spectrogram.rows * noise.cell_mean));
    result.sensitivity_db = DB_PER_DECADE_OF_AMPLITUDE * std::log10(result.sensitivity);
    result.hits = make_hits(spectrogram, scan.take_candidates(), noise, threshold_sum);
    for (Hit& hit : result.hits) {
        hit.drift_hz_s = hit.drift_index * result.drift_step_hz_s;
        // The path starts at row 0's middle: half a row after the first sample.
        hit.offset_hz = (hit.start_bin - spectrogram.bins / 2) * spectrogram.bin_hz -
                        hit.drift_hz_s * spectrogram.row_seconds / 2.0;
    }
    return 0;
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

int search_work_unit(const SampleStreams& streams, const WorkUnitInfo& info, const SearchOptions& options,
                     SearchResult* result) {
    PowerSpectrogram spectrogram;
    if (make_power_spectrogram(streams, info, options.fft_size, options.window, &spectrogram) != 0) return 1;
    if (search_spectrogram(spectrogram, options, result) != 0) return 1;
    if (info.center_known) {
        constexpr double HZ_PER_MHZ = 1.0e6;
        for (Hit& hit : result->hits) hit.sky_mhz = (info.center_hz + hit.offset_hz) / HZ_PER_MHZ;
    }
    (void)correct_hits_to_barycentre(info, result);   // where the header lacks what it takes, it says so
    return 0;
}

}  // namespace okrelt
