// The Taylor tree inside the search: power summed along every path of the
// drift grid, a block of drifts at a time. The grid itself (padded_rows_of,
// drift_step_hz_s, path_column, declared in search/search.h),
// tree_offset and the direct sums brute_force_best_snr are in
// search/drift_grid.cpp.
#pragma once

#include "common/team.h"
#include "search/hits.h"
#include "search/search.h"

namespace okrelt {

// column taken round the band into 0 .. bins - 1.
inline int wrapped(long column, int bins) {
    const long r = column % bins;
    return static_cast<int>(r < 0 ? r + bins : r);
}

// The offset in bins, at row r of a group of size rows, of the tree's path of
// drift d (0 .. size - 1 bins over the group): the lower half follows drift
// d / 2, the upper half starts d / 2 + d % 2 further on.
long tree_offset(int d, int r, int size);

// Every drift row of the search, in the order of the signed drift (-max ..
// max steps), into scan: the tree of each block of drifts (block k: k bins a
// row plus 0 .. padded - 2 steps) for each direction.
// With a team, its second thread makes a share of each block. The tree's
// levels are made in scratch where that is given.
// 0, or 1 after a message when there is no memory for the tree.
[[nodiscard]] int tree_search(const PowerSpectrogram& spectrogram, int max_drift_index, MaximaScan* scan,
                              Team* team = nullptr, ScratchMemory* scratch = nullptr);

}  // namespace okrelt
