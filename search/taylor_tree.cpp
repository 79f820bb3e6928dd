#include "search/taylor_tree.h"

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <vector>

#include "audio/fft.h"
#include "common/memory.h"
#include "common/messages.h"
#include "common/team.h"
#include "search/row_sums.h"

namespace okrelt {

namespace {

constexpr int TREE_STRIPE_BINS = 512;    // start bins of a tree's piece: with 128 rows, two buffers of 320 KiB
constexpr int LINE_FLOATS = static_cast<int>(CACHE_LINE_BYTES / sizeof(float));   // a stripe's rows start on a cache line
constexpr int TREE_GROUP_BLOCKS = 4;     // blocks of drifts made stripe by stripe: 16 MiB of held rows at most for a usual unit

// column rounded down, or up, to a cache line's first column.
int line_below(int column) { return column / LINE_FLOATS * LINE_FLOATS; }
int line_above(int column) { return line_below(column + LINE_FLOATS - 1); }

size_t index_of(int row, int bins) { return static_cast<size_t>(row) * static_cast<size_t>(bins); }

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

// The Taylor tree on rows g .. g + size - 1 of the whole band: level L of
// the tree (groups of 2^L rows) is in buffers[L % 2], row g + d of a group
// holding the sums of its drift d from every start bin, direction +1
// (rising) or -1, for the group's drifts 0 .. drifts - 1 (those of the
// level above need half as many). Depth first, so that small groups are
// combined while they are still in the cache.
void taylor_tree(float* const buffers[2], int g, int level, int drifts, int bins, int direction) {
    if (level == 0) return;
    const int half = 1 << (level - 1);
    taylor_tree(buffers, g, level - 1, (drifts + 1) / 2, bins, direction);
    taylor_tree(buffers, g + half, level - 1, (drifts + 1) / 2, bins, direction);
    const float* source = buffers[(level - 1) % 2];
    float* target = buffers[level % 2];
    for (int d = 0; d < drifts; ++d) {
        const int j = d / 2;
        const float* lower = source + index_of(g + j, bins);
        const float* upper = source + index_of(g + half + j, bins);
        const int shift = wrapped(static_cast<long>(direction) * (j + d % 2), bins);
        float* out = target + index_of(g + d, bins);
        add_rows(lower, upper + shift, out, bins - shift);
        add_rows(lower + bins - shift, upper, out + bins - shift, shift);
    }
}

// Where the block's paths run through each level of the tree: for level L
// and row g + d of its groups (group rows g .., drift d), the least and the
// greatest offset at row g of the block's drifts that the group's drift d
// carries (those from d << (top - L) on; offsets grow with the drift). A
// served start bin b meets that row's sums at b + offset rising, b - offset
// falling, and no others.
struct PathOffsets {
    int padded;
    std::vector<int> least;   // [L * padded + row]
    std::vector<int> most;
};

PathOffsets path_offsets(int padded, int top) {
    const size_t cells = static_cast<size_t>(top + 1) * static_cast<size_t>(padded);
    PathOffsets offsets{padded, std::vector<int>(cells), std::vector<int>(cells)};
    for (int level = 1; level <= top; ++level) {
        const int size = 1 << level;
        const int carried = top - level;
        for (int g = 0; g < padded; g += size) {
            for (int d = 0; d < size; ++d) {
                const size_t at = static_cast<size_t>(level) * static_cast<size_t>(padded) + static_cast<size_t>(g + d);
                offsets.least[at] = static_cast<int>(tree_offset(d << carried, g, padded));
                offsets.most[at] = static_cast<int>(tree_offset(((d + 1) << carried) - 1, g, padded));
            }
        }
    }
    return offsets;
}

// A stripe of the band: `width` columns, the paths' reach (reach columns)
// beyond the TREE_STRIPE_BINS start bins it serves, on their right for
// rising drifts, on their left for falling ones, and on their right any
// columns that round its rows to whole cache lines. Only the sums on the
// served start bins' paths are made: the other cells keep whatever they held.
struct Stripe {
    int width;
    int reach;
    int direction;
    const PowerSpectrogram* cells;   // level 0: row r from column first + skew r on (round the band), zero past the rows
    int first;
    long skew;
    const PathOffsets* offsets;
};

// The columns of row `row` of level `level` on the served start bins' paths.
struct Columns {
    int first;
    int count;
};

Columns served_columns(const Stripe& stripe, int level, int row) {
    const PathOffsets& o = *stripe.offsets;
    const size_t at = static_cast<size_t>(level) * static_cast<size_t>(o.padded) + static_cast<size_t>(row);
    const int count = TREE_STRIPE_BINS + o.most[at] - o.least[at];
    return Columns{stripe.direction > 0 ? o.least[at] : stripe.reach - o.most[at], count};
}

// out[j] = a[(first_a + j) mod bins] + b[(first_b + j) mod bins] for j
// below count: runs of consecutive cells.
void add_shifted_runs(const float* a, int first_a, const float* b, int first_b, int bins, int count, float* out) {
    for (int j = 0; j < count;) {
        const int run = std::min({count - j, bins - first_a, bins - first_b});
        add_rows(a + first_a, b + first_b, out + j, run);
        j += run;
        first_a = first_a + run == bins ? 0 : first_a + run;
        first_b = first_b + run == bins ? 0 : first_b + run;
    }
}

// Level 1 of a stripe's tree straight from the spectrogram: drift d (0 or 1)
// of rows g and g + 1, as the level-0 rows would give it.
void stripe_pair(const Stripe& stripe, int g, int d, float* out) {
    const PowerSpectrogram& s = *stripe.cells;
    const int bins = s.bins;
    const int width = stripe.width;
    if (g >= s.rows) {
        std::fill(out, out + width, 0.0f);
        return;
    }
    const int lower = wrapped(stripe.first + stripe.skew * g, bins);
    if (g + 1 >= s.rows) {
        copy_shifted_run(s.row(g), lower, bins, width, out);
        return;
    }
    const int upper = wrapped(stripe.first + stripe.skew * (g + 1), bins);
    const Columns served = served_columns(stripe, 1, g + d);
    const int step = stripe.direction > 0 ? d : -d;
    add_shifted_runs(s.row(g), wrapped(lower + served.first, bins), s.row(g + 1),
                     wrapped(upper + served.first + step, bins), bins, served.count, out + served.first);
}

// The drifts of each block that the search needs: the last block may need
// few of its drifts (and those few of each level's); drift 0 is the rising
// side's.
struct BlockDrifts {
    int per_block;
    int max_drift_index;
    int made(int block) const { return std::min(per_block, max_drift_index - block * per_block + 1); }
    int first_raised(int block, int direction) const { return direction < 0 && block == 0 ? 1 : 0; }
};

// Where a stripe's top level puts the served start bins' sums, piece i (the
// stripe's) of each drift row: made in scratch, raising the scan's best sums
// (drifts from first_raised on), and copied into result (rows of bins, from
// column x on) only where a sum reaches the threshold: the scan looks at no
// other, all of whose sums lie below. flags[d * stripes + i] is then
// PIECE_HELD.
struct TopRows {
    float* result;
    int bins;
    int x;
    int first_raised;
    MaximaScan* scan;
    float* scratch;
    char* flags;
    int stripes;
    int i;
};

// The columns of a stripe's row that are made, from the served ones: widened
// to whole cache lines where the reads, up to reach columns on in the
// stripe's direction, stay within the stripe.
Columns made_columns(const Stripe& stripe, Columns served, int reach) {
    const bool rising = stripe.direction > 0;
    const int first = std::max(rising ? 0 : reach, line_below(served.first));
    const int end = std::min(rising ? stripe.width - reach : stripe.width, line_above(served.first + served.count));
    return Columns{first, end - first};
}

// Row g + d of level `level` (2 or more) of a stripe's tree into
// buffers[out], from the level below in the other buffer: the sums on the
// served start bins' paths.
void stripe_row(float* const buffers[2], int out, int level, int g, int d, const Stripe& stripe) {
    const int width = stripe.width;
    const int half = 1 << (level - 1);
    const float* source = buffers[1 - out];
    const int j = d / 2;
    const float* lower = source + index_of(g + j, width);
    const float* upper = source + index_of(g + half + j, width);
    const int shift = j + d % 2;
    const Columns made = made_columns(stripe, served_columns(stripe, level, g + d), shift);
    const int step = stripe.direction > 0 ? shift : -shift;
    add_rows(lower + made.first, upper + made.first + step, buffers[out] + index_of(g + d, width) + made.first,
             made.count);
}

// Rows g + 2j and, where pair is true, g + 2j + 1 of level `level` (3 or
// more) into buffers[out], from the level two below in the other buffer,
// the level between never written: its rows j of the group's halves add
// rows j / 2 of their quarters, and the two rows add those.
void stripe_row_pair(float* const buffers[2], int out, int level, int g, int j, bool pair, const Stripe& stripe) {
    const int width = stripe.width;
    const int half = 1 << (level - 1);
    const int quarter = half / 2;
    const float* source = buffers[1 - out];
    const int sign = stripe.direction > 0 ? 1 : -1;
    const int between = j / 2 + j % 2;   // the shift of the level between
    const float* a = source + index_of(g + j / 2, width);
    const float* b = source + index_of(g + quarter + j / 2, width) + sign * between;
    const float* c = source + index_of(g + half + j / 2, width);
    const float* d = source + index_of(g + half + quarter + j / 2, width);
    float* const rows[2] = {buffers[out] + index_of(g + 2 * j, width), buffers[out] + index_of(g + 2 * j + 1, width)};
    Columns made[2];
    for (int k = 0; k < 2; ++k) made[k] = made_columns(stripe, served_columns(stripe, level, g + 2 * j + k), j + k + between);
    if (!pair) made[1] = Columns{made[0].first, 0};
    // Both rows where both are made, then each alone on the rest of its columns.
    const int both_first = std::max(made[0].first, made[1].first);
    const int both_end = std::min(made[0].first + made[0].count, made[1].first + made[1].count);
    const auto add = [&](int k0, int k1, int first, int end) {
        if (end <= first) return;
        const QuarterRows quarters{a + first,
                                   b + first,
                                   {c + first + sign * (j + k0), c + first + sign * (j + k1)},
                                   {d + first + sign * (j + k0 + between), d + first + sign * (j + k1 + between)}};
        float* const targets[2] = {rows[k0] + first, rows[k1] + first};
        add_quarter_rows(quarters, targets, end - first);
    };
    if (both_end <= both_first) {
        for (int k = 0; k < 2; ++k) add(k, k, made[k].first, made[k].first + made[k].count);
        return;
    }
    add(0, 1, both_first, both_end);
    for (int k = 0; k < 2; ++k) {
        add(k, k, made[k].first, std::min(both_first, made[k].first + made[k].count));
        add(k, k, std::max(both_end, made[k].first), made[k].first + made[k].count);
    }
}

// Level `level` of group g of a stripe's tree below its top, drifts 0 ..
// drifts - 1, into buffers[out]: level 1 from the spectrogram, level 2 from
// level 1, and higher levels two at a time from the level two below (its
// rows are read again while still in the first-level cache, and the level
// between is never written). Each level's source lies in the other buffer.
// Depth first.
void stripe_tree(float* const buffers[2], int out, int g, int level, int drifts, const Stripe& stripe) {
    const int width = stripe.width;
    if (level == 0) return;
    if (level == 1) {
        for (int d = 0; d < drifts; ++d) stripe_pair(stripe, g, d, buffers[out] + index_of(g + d, width));
        return;
    }
    if (level == 2) {
        stripe_tree(buffers, 1 - out, g, 1, (drifts + 1) / 2, stripe);
        stripe_tree(buffers, 1 - out, g + 2, 1, (drifts + 1) / 2, stripe);
        for (int d = 0; d < drifts; ++d) stripe_row(buffers, out, 2, g, d, stripe);
        return;
    }
    const int quarter = 1 << (level - 2);
    const int half_drifts = (drifts + 1) / 2;
    for (int q = 0; q < 4; ++q) stripe_tree(buffers, 1 - out, g + q * quarter, level - 2, (half_drifts + 1) / 2, stripe);
    for (int j = 0; j < half_drifts; ++j) stripe_row_pair(buffers, out, level, g, j, 2 * j + 1 < drifts, stripe);
}

// Top-level drifts first .. last - 1 (first even) of the stripe, from the
// level below in source, as top says.
void stripe_top_rows(const float* source, int first_drift, int last_drift, int top, const Stripe& stripe,
                     const TopRows& rows) {
    const int half = 1 << (top - 1);
    const int width = stripe.width;
    const bool rising = stripe.direction > 0;
    // Served start bins: 0 .. TREE_STRIPE_BINS - 1 of the stripe rising,
    // reach .. reach + TREE_STRIPE_BINS - 1 falling.
    const int first = rising ? 0 : stripe.reach;
    float bound = 0.0f;   // no sum of drifts 2j and 2j + 1 exceeds it
    for (int d = first_drift; d < last_drift; ++d) {
        const int j = d / 2;
        const float* lower = source + index_of(j, width);
        const float* upper = source + index_of(half + j, width);
        const int shift = j + d % 2;
        const int step = rising ? shift : -shift;
        // Drifts 2j and 2j + 1 add the same lower half to cells of their
        // upper half one apart: no sum exceeds the largest cells of the
        // two added (rounding keeps order). Below the threshold, they
        // hold no maximum and need not be made.
        if (!rows.scan->every_best()) {
            if (d % 2 == 0) {
                bound = largest(lower + first, TREE_STRIPE_BINS) +
                        largest(upper + (rising ? first + j : first - j - 1), TREE_STRIPE_BINS + 1);
            }
            if (bound < rows.scan->threshold()) continue;
        }
        add_rows(lower + first, upper + first + step, rows.scratch, TREE_STRIPE_BINS);
        if (d >= rows.first_raised && rows.scan->raise(rows.scratch, rows.x, TREE_STRIPE_BINS)) {
            std::copy(rows.scratch, rows.scratch + TREE_STRIPE_BINS, rows.result + index_of(d, rows.bins) + rows.x);
            rows.flags[index_of(d, rows.stripes) + static_cast<size_t>(rows.i)] = PIECE_HELD;
        }
    }
}

// A stripe's whole tree, drifts 0 .. drifts - 1, its top level written as
// top says (with one level, the spectrogram's rows are in buffers[0]).
// Where only sums at the threshold matter, the levels below the top are
// made in quarters first: each top-level drift 4i .. 4i + 3 adds row i of
// the four quarters, so no sum of theirs exceeds the four rows' largest
// served cells added as the tree adds them (rounding keeps order); below
// the threshold, those drifts and the rows of the level below that only
// they read are not made.
void stripe_whole_tree(float* const buffers[2], int drifts, int top, const Stripe& stripe, const TopRows& rows) {
    const int half = 1 << (top - 1);
    const int half_drifts = (drifts + 1) / 2;
    // Every best needs every row; below three levels there are no quarters.
    if (top < 3 || rows.scan->every_best()) {
        stripe_tree(buffers, 0, 0, top - 1, half_drifts, stripe);
        stripe_tree(buffers, 0, half, top - 1, half_drifts, stripe);
        stripe_top_rows(buffers[0], 0, drifts, top, stripe, rows);
        return;
    }
    const int quarter = half / 2;
    const int quarter_drifts = (half_drifts + 1) / 2;
    for (int q = 0; q < 4; ++q) stripe_tree(buffers, 1, q * quarter, top - 2, quarter_drifts, stripe);
    for (int i = 0; i < quarter_drifts; ++i) {
        float most[4];
        for (int q = 0; q < 4; ++q) {
            const Columns served = served_columns(stripe, top - 2, q * quarter + i);
            most[q] = largest(buffers[1] + index_of(q * quarter + i, stripe.width) + served.first, served.count);
        }
        if ((most[0] + most[1]) + (most[2] + most[3]) < rows.scan->threshold()) continue;
        for (int j = 2 * i; j < std::min(2 * i + 2, half_drifts); ++j) {
            stripe_row(buffers, 0, top - 1, 0, j, stripe);
            stripe_row(buffers, 0, top - 1, half, j, stripe);
        }
        stripe_top_rows(buffers[0], 4 * i, std::min(4 * i + 4, drifts), top, stripe, rows);
    }
}

// The sums of a group of blocks of drifts (block k: k bins a row plus 0 ..
// padded - 1 steps) in one direction. In stripes of TREE_STRIPE_BINS start
// bins where the band is wide enough beside the paths' reach: a stripe's two
// levels stay in the processor's second-level cache, and so do most of the
// spectrogram's cells that the group's blocks read for it, one block after
// the other. A team's two threads claim the stripes in turn (the sums are
// the same bits whoever makes them).
class BlockTree {
public:
    BlockTree(const PowerSpectrogram& spectrogram, int last_block, Team* team, ScratchMemory* memory)
        : s_(spectrogram), padded_(padded_rows_of(spectrogram.rows)), level_(log2_of(padded_)),
          striped_(padded_ - 1 <= TREE_STRIPE_BINS && spectrogram.bins >= 2 * TREE_STRIPE_BINS),
          width_(striped_ ? line_above(TREE_STRIPE_BINS + padded_ - 1) : spectrogram.bins),
          team_(striped_ ? team : nullptr), threads_(team_ != nullptr ? 2 : 1),
          group_(striped_ ? std::min(TREE_GROUP_BLOCKS, last_block + 1) : 1),
          stripes_(striped_ ? spectrogram.bins / TREE_STRIPE_BINS : 0),
          storage_(static_cast<float*>(zeroed_scratch(
              memory, (2 * static_cast<size_t>(threads_) * index_of(padded_, width_) +
                       static_cast<size_t>(TREE_STRIPE_BINS * threads_)) * sizeof(float)))),
          result_(float_array(striped_ ? static_cast<size_t>(group_) * index_of(padded_, spectrogram.bins) : 0)),
          flags_(static_cast<size_t>(group_) * index_of(padded_, stripes_)),
          above_(static_cast<size_t>(group_) * static_cast<size_t>(padded_)), offsets_(path_offsets(padded_, level_)) {
        if (storage_ == nullptr) return;
        for (int b = 0; b < 2 * threads_; ++b) buffers_[b] = storage_ + static_cast<size_t>(b) * index_of(padded_, width_);
        scratch_ = buffers_[0] + 2 * static_cast<size_t>(threads_) * index_of(padded_, width_);
    }

    // False if there was no memory for it.
    bool ready() const { return storage_ != nullptr && result_.data != nullptr; }

    // Blocks made at once, at most.
    int group() const { return group_; }

    // Which pieces of drift d's row of the group's block b hold sums (the
    // whole row where the band is not striped).
    HeldPieces held(int b, int d) const {
        if (!striped_) return HeldPieces{};
        return HeldPieces{flags_.data() + index_of(b * padded_ + d, stripes_), TREE_STRIPE_BINS};
    }

    // Row d of the group's block b holds the sums of drift d from every start bin.
    const float* sums(int b, int d) const {
        return striped_ ? result_.data + index_of(b * padded_ + d, s_.bins) : buffers_[level_ % 2] + index_of(d, s_.bins);
    }

    // True if a sum of drift d of the group's block b reached the scan's threshold in the last run.
    bool above(int b, int d) const { return above_[static_cast<size_t>(b * padded_ + d)] != 0; }

    // Blocks first .. first + count - 1 (group() at most), each of its
    // drifts 0 .. drifts.made(block) - 1, raising scan's best sums by those
    // from drifts.first_raised(block, direction) on.
    void run(int direction, int first, int count, const BlockDrifts& drifts, MaximaScan* scan) {
        std::fill(above_.begin(), above_.end(), 0);
        if (!striped_) {
            fill(buffers_[0], 0, s_.bins, static_cast<long>(direction) * first);
            taylor_tree(buffers_, 0, level_, drifts.made(first), s_.bins, direction);
            for (int d = drifts.first_raised(first, direction); d < drifts.made(first); ++d) {
                above_[static_cast<size_t>(d)] = scan->raise(sums(0, d), 0, s_.bins);
            }
            return;
        }
        std::fill(flags_.begin(), flags_.end(), 0);
        job_ = Job{direction, first, count, &drifts, scan};
        next_stripe_.store(0, std::memory_order_relaxed);
        Share own{this, 0};
        Share partner{this, 1};
        if (team_ != nullptr) offer_work(team_, work_on_stripes, &partner);
        work_on_stripes(&own);
        if (team_ != nullptr) settle_team(team_);
        for (size_t row = 0; row < above_.size(); ++row) {
            const char* pieces = flags_.data() + row * static_cast<size_t>(stripes_);
            above_[row] = std::any_of(pieces, pieces + stripes_, [](char f) { return f == PIECE_HELD; });
        }
    }

private:
    static constexpr int MAX_THREADS = 2;

    // The group being made.
    struct Job {
        int direction;
        int first;
        int count;
        const BlockDrifts* drifts;
        MaximaScan* scan;
    };

    // A thread's share of the group: the stripes it claims, in its own buffers.
    struct Share {
        BlockTree* tree;
        int thread;
    };

    // Rows of the spectrogram from column x on, each skewed by `skew` bins a
    // row more than the one before, `width` columns; padding rows zero.
    void fill(float* piece, int x, int width, long skew) const {
        for (int r = 0; r < s_.rows; ++r) {
            copy_shifted_run(s_.row(r), wrapped(x + skew * r, s_.bins), s_.bins, width, piece + index_of(r, width));
        }
        std::fill(piece + index_of(s_.rows, width), piece + index_of(padded_, width), 0.0f);
    }

    // Claims stripes and makes each for every block of the group, until
    // none is left; each thread flags the pieces of its own stripes.
    static void work_on_stripes(void* context) {
        const Share& share = *static_cast<const Share*>(context);
        BlockTree& tree = *share.tree;
        const Job& job = tree.job_;
        float* const buffers[2] = {tree.buffers_[2 * share.thread], tree.buffers_[2 * share.thread + 1]};
        float* const scratch = tree.scratch_ + static_cast<size_t>(TREE_STRIPE_BINS * share.thread);
        const int reach = tree.padded_ - 1;
        for (;;) {
            const int i = tree.next_stripe_.fetch_add(1, std::memory_order_relaxed);
            if (i >= tree.stripes_) return;
            const int x = i * TREE_STRIPE_BINS;
            for (int b = 0; b < job.count; ++b) {
                const int block = job.first + b;
                const Stripe piece{tree.width_, reach, job.direction, &tree.s_,
                                   job.direction > 0 ? x : x - reach, static_cast<long>(job.direction) * block,
                                   &tree.offsets_};
                // With two levels or more, level 1 reads the spectrogram itself.
                if (tree.level_ == 1) tree.fill(buffers[0], piece.first, tree.width_, piece.skew);
                const size_t row = static_cast<size_t>(b * tree.padded_);
                const TopRows rows{tree.result_.data + row * static_cast<size_t>(tree.s_.bins),
                                   tree.s_.bins,
                                   x,
                                   job.drifts->first_raised(block, job.direction),
                                   job.scan,
                                   scratch,
                                   tree.flags_.data() + row * static_cast<size_t>(tree.stripes_),
                                   tree.stripes_,
                                   i};
                stripe_whole_tree(buffers, job.drifts->made(block), tree.level_, piece, rows);
            }
        }
    }

    const PowerSpectrogram& s_;
    int padded_;
    int level_;
    bool striped_;
    int width_;
    Team* team_;                  // null: this thread alone
    int threads_;
    int group_;
    int stripes_;
    float* storage_;              // in scratch memory, two buffers a thread, then a piece a thread:
    float* buffers_[2 * MAX_THREADS] = {nullptr, nullptr, nullptr, nullptr};
    float* scratch_ = nullptr;
    FloatArray result_;           // the held pieces of the group's rows, block after block
    std::vector<char> flags_;     // each row's pieces: PIECE_HELD where a sum reaches the threshold
    std::vector<char> above_;     // each row: a sum reaches the threshold
    PathOffsets offsets_;
    Job job_{};
    std::atomic<int> next_stripe_{0};
};

}  // namespace

int tree_search(const PowerSpectrogram& spectrogram, int max_drift_index, MaximaScan* scan, Team* team,
                ScratchMemory* scratch) {
    const BlockDrifts drifts{padded_rows_of(spectrogram.rows) - 1, max_drift_index};
    const int last_block = max_drift_index / drifts.per_block;
    ScratchMemory own;
    BlockTree tree(spectrogram, last_block, team, scratch != nullptr ? scratch : &own);
    if (!tree.ready()) {
        tell(MessageKind::PROBLEM, "Not enough memory for the search.\n");
        return 1;
    }
    const int groups = last_block / tree.group() + 1;
    for (int direction : {-1, 1}) {
        // Rows go to the scan in the order of the signed drift.
        for (int step = 0; step < groups; ++step) {
            const int first = (direction < 0 ? groups - 1 - step : step) * tree.group();
            const int count = std::min(tree.group(), last_block + 1 - first);
            scan->keep_rows();
            tree.run(direction, first, count, drifts, scan);
            for (int k = 0; k < count * drifts.per_block; ++k) {
                const int b = direction < 0 ? count - 1 - k / drifts.per_block : k / drifts.per_block;
                const int d = direction < 0 ? drifts.per_block - 1 - k % drifts.per_block : k % drifts.per_block;
                const int block = first + b;
                if (d >= drifts.made(block) || d < drifts.first_raised(block, direction)) continue;
                scan->add(tree.sums(b, d), direction * (block * drifts.per_block + d), tree.above(b, d), tree.held(b, d));
            }
        }
    }
    scan->finish();
    return 0;
}

}  // namespace okrelt
