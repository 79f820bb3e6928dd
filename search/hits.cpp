#include "search/hits.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdlib>
#include <limits>
#include <vector>

#include "search/row_sums.h"
#include "search/taylor_tree.h"

namespace okrelt {

namespace {

// Circular distance of two columns.
int column_distance(int a, int b, int bins) {
    const int d = std::abs(a - b);
    return std::min(d, bins - d);
}

}  // namespace

// Stronger first; ties in the order of the search grid.
bool stronger(const Candidate& a, const Candidate& b) {
    if (a.sum != b.sum) return a.sum > b.sum;
    if (a.drift_index != b.drift_index) return a.drift_index < b.drift_index;
    return a.start_bin < b.start_bin;
}

MaximaScan::MaximaScan(int bins, float threshold_sum, bool every_best)
    : bins_(bins), threshold_(threshold_sum), every_best_(every_best),
      kept_flags_(3),
      best_(static_cast<size_t>(bins), -std::numeric_limits<float>::infinity()) {
    // Left uninitialised: only held pieces are copied in, and no other is read.
    for (std::unique_ptr<float[]>& kept : kept_) kept.reset(new float[static_cast<size_t>(bins)]);
}

bool MaximaScan::raise(const float* sums, int first, int count) {
    return raise_best(sums, best_.data() + first, count, threshold_);
}

void MaximaScan::add(const float* sums, int drift_index, bool above, HeldPieces held) {
    held_pieces_[held_ % 3] = held;
    rows_[held_ % 3] = sums;
    above_[held_ % 3] = above;
    ++held_;
    if (held_ >= 2) examine(drift_index - 1, held_ >= 3, true);
    last_index_ = drift_index;
}

void MaximaScan::keep_rows() {
    for (int slot = 0; slot < 3; ++slot) {
        float* const kept = kept_[slot].get();
        if (rows_[slot] == nullptr || rows_[slot] == kept) continue;
        HeldPieces& pieces = held_pieces_[slot];
        const int piece_bins = piece_bins_of(slot);
        for (int first = 0; first < bins_; first += piece_bins) {
            const int end = std::min(first + piece_bins, bins_);
            if (piece_held(slot, first)) std::copy(rows_[slot] + first, rows_[slot] + end, kept + first);
        }
        rows_[slot] = kept;
        if (pieces.flags != nullptr) {
            std::vector<char>& flags = kept_flags_[static_cast<size_t>(slot)];
            flags.assign(pieces.flags, pieces.flags + (bins_ + pieces.piece_bins - 1) / pieces.piece_bins);
            pieces.flags = flags.data();
        }
    }
}

void MaximaScan::finish() {
    if (held_ >= 1) examine(last_index_, held_ >= 2, false);
}

std::vector<Candidate> MaximaScan::take_candidates() {
    std::vector<Candidate> kept;
    while (!heap_.empty()) {
        kept.push_back(heap_.top());
        heap_.pop();
    }
    std::sort(kept.begin(), kept.end(), stronger);
    return kept;
}

int MaximaScan::slot_back(int age) const { return (held_ - 1 - age) % 3; }

int MaximaScan::piece_bins_of(int slot) const {
    return held_pieces_[slot].flags != nullptr ? held_pieces_[slot].piece_bins : bins_;
}

bool MaximaScan::piece_held(int slot, int column) const {
    const HeldPieces& pieces = held_pieces_[slot];
    return pieces.flags == nullptr || (pieces.flags[column / pieces.piece_bins] & PIECE_HELD) != 0;
}

// A piece not held holds sums below the threshold only: against a cell at
// the threshold or above, it compares as minus infinity does.
float MaximaScan::at(int slot, int column) const {
    return piece_held(slot, column) ? rows_[slot][column] : -std::numeric_limits<float>::infinity();
}

void MaximaScan::examine(int drift_index, bool has_before, bool has_after) {
    const int age = has_after ? 1 : 0;
    const int here = slot_back(age);
    if (!above_[here]) return;
    const int before = has_before ? slot_back(age + 1) : -1;
    const int after = has_after ? slot_back(0) : -1;
    // Piece by piece: those not held have no sum at the threshold.
    const int piece_bins = piece_bins_of(here);
    for (int first = 0; first < bins_; first += piece_bins) {
        if (!piece_held(here, first)) continue;
        const int end = std::min(first + piece_bins, bins_);
        for (int f = first; f < end; ++f) {
            const float v = rows_[here][f];
            if (!(v >= threshold_)) continue;
            const int left = wrapped(f - 1, bins_);
            const int right = wrapped(f + 1, bins_);
            if (!(v > at(here, left) && v >= at(here, right))) continue;
            if (before >= 0 && !(v > at(before, left) && v > at(before, f) && v > at(before, right))) continue;
            if (after >= 0 && !(v >= at(after, left) && v >= at(after, f) && v >= at(after, right))) continue;
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
}

double sensitivity(const PowerSpectrogram& spectrogram, const NoiseStatistics& noise, double snr_threshold) {
    return std::sqrt(spectrogram.tone_gain * snr_threshold * noise.deviation / (spectrogram.rows * noise.cell_mean));
}

int meeting_reach(int drift_index, int padded_rows) {
    const double bins_a_row = std::fabs(static_cast<double>(drift_index)) / (padded_rows - 1);
    return SAME_SIGNAL_BINS + static_cast<int>(std::ceil(bins_a_row));
}

std::vector<Hit> make_hits(const PowerSpectrogram& spectrogram, const std::vector<Candidate>& candidates,
                           const NoiseStatistics& noise, float threshold_sum) {
    const int bins = spectrogram.bins;
    const int rows = spectrogram.rows;
    const int padded = padded_rows_of(rows);
    std::vector<std::vector<int>> hit_columns;
    std::vector<int> hit_reach;
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
        for (size_t h = 0; h < hit_columns.size(); ++h) {
            const std::vector<int>& other = hit_columns[h];
            int close = 0;
            for (size_t r = 0; r < columns.size(); ++r) {
                if (column_distance(columns[r], other[r], bins) <= hit_reach[h]) {
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
        hit_reach.push_back(meeting_reach(c.drift_index, padded));
    }
    return hits;
}

}  // namespace okrelt
