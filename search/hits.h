// From the Taylor tree's drift rows to hits: local maxima over the threshold
// are candidates, the candidates made hits one a signal, and the unit's
// sensitivity.
#pragma once

#include <memory>
#include <queue>
#include <vector>

#include "search/search.h"

namespace okrelt {

// A local maximum of the search's sums.
struct Candidate {
    int start_bin;
    int drift_index;
    float sum;
};

// Stronger first; ties in the order of the search grid.
bool stronger(const Candidate& a, const Candidate& b);

// A drift row's pieces that hold sums: a row may be made in pieces of
// piece_bins start bins and hold only those with a sum at the threshold;
// every sum of a piece left out is below it. flags[i] is PIECE_HELD for
// piece i. Null flags: the whole row is held.
constexpr char PIECE_HELD = 1;
struct HeldPieces {
    const char* flags = nullptr;
    int piece_bins = 0;
};

// Drift rows in the order of the signed drift, with the local maxima over
// the threshold among them: a cell greater than its neighbours before it
// (the row before, the bin before) and not less than those after it, a
// neighbour in a piece not held counting as below the threshold. Rows are
// looked at where they lie until keep_rows() is called, before the memory
// is used again. Each start bin's best sum is raised by the one who makes a
// row, piece by piece while the piece is fresh in the cache. Unless every
// best is asked for, a piece whose sums cannot reach the threshold need not
// be made at all: it holds no maximum.
class MaximaScan {
public:
    MaximaScan(int bins, float threshold_sum, bool every_best);
    float threshold() const { return threshold_; }
    // True if each start bin's best sum over every drift is wanted.
    bool every_best() const { return every_best_; }
    // Raises the best sums of start bins first .. first + count - 1 by a
    // row's piece sums (count floats); true if any reaches the threshold.
    // Threads may raise pieces that do not overlap at once.
    bool raise(const float* sums, int first, int count);
    // The next drift row, drift_index being one more than the last one's,
    // already raised; above: whether any of its sums reaches the threshold.
    void add(const float* sums, int drift_index, bool above, HeldPieces held = {});
    // Copies the rows still to be looked at, whose memory is about to be reused.
    void keep_rows();
    // Examines the last row added.
    void finish();
    // The strongest SEARCH_MAX_CANDIDATES maxima, strongest first.
    std::vector<Candidate> take_candidates();
    // Local maxima over the threshold, all of them.
    int counted() const { return counted_; }
    // Each start bin's largest sum over the drifts added (over those made,
    // unless every best was asked for).
    const std::vector<float>& best() const { return best_; }

private:
    int slot_back(int age) const;
    int piece_bins_of(int slot) const;   // the start bins of a piece of the row in slot (all where not in pieces)
    bool piece_held(int slot, int column) const;
    float at(int slot, int column) const;
    void examine(int drift_index, bool has_before, bool has_after);

    int bins_;
    float threshold_;
    bool every_best_;
    std::unique_ptr<float[]> kept_[3];   // the rows kept, their held pieces only
    std::vector<std::vector<char>> kept_flags_;
    std::vector<float> best_;
    const float* rows_[3] = {nullptr, nullptr, nullptr};
    HeldPieces held_pieces_[3];
    bool above_[3] = {false, false, false};
    int held_ = 0;
    int last_index_ = 0;
    int counted_ = 0;
    std::priority_queue<Candidate, std::vector<Candidate>, decltype(&stronger)> heap_{stronger};   // weakest on top
};

// Bins either side of a hit's path, drift_index its drift, within which
// another path meets it: SAME_SIGNAL_BINS, and the bins its tone crosses in
// a row besides (its power spreads over them).
int meeting_reach(int drift_index, int padded_rows);

// The candidates made hits, strongest first: one a signal. A path meets a
// hit's in a row where it passes within the hit's meeting_reach. A candidate whose path meets a stronger hit's for half the rows or
// more is that signal; otherwise it is a hit of its own if its path still
// reaches the threshold with the rows where it meets a hit taken as noise
// (so that crossing a strong tone does not make a path a hit). Start bins
// and drifts set, frequencies left to the caller.
std::vector<Hit> make_hits(const PowerSpectrogram& spectrogram, const std::vector<Candidate>& candidates,
                           const NoiseStatistics& noise, float threshold_sum);

// The amplitude of the weakest steady tone at a bin's centre whose path
// reaches snr_threshold, relative to the noise's parts.
double sensitivity(const PowerSpectrogram& spectrogram, const NoiseStatistics& noise, double snr_threshold);

}  // namespace okrelt
