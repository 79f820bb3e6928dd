// The row passes of search/row_sums.h written once for any vector width:
// Ops gives the vector types and their loads, stores, additions and maxima
// (row_sums_avx2.cpp and row_sums_avx512.cpp, each compiled for its
// instructions). Each lane is one addition, maximum or comparison, as the
// plain loops do them.
#pragma once

#include <cstddef>

namespace okrelt {

template <class Ops>
void add_rows_wide(const float* a, const float* b, float* out, int n) {
    constexpr int LANES = Ops::LANES;
    int f = 0;
    for (; f + 2 * LANES <= n; f += 2 * LANES) {
        const typename Ops::V low = Ops::add(Ops::load(a + f), Ops::load(b + f));
        const typename Ops::V high = Ops::add(Ops::load(a + f + LANES), Ops::load(b + f + LANES));
        Ops::store(out + f, low);
        Ops::store(out + f + LANES, high);
    }
    for (; f < n; ++f) out[f] = a[f] + b[f];
}

// Ops::max(s, b) is s > b ? s : b (vmaxps): b kept on ties and NaNs, as
// best < s ? s : best.
template <class Ops>
bool raise_best_wide(const float* sums, float* best, int n, float threshold) {
    constexpr int LANES = Ops::LANES;
    typename Ops::V top = Ops::set1(-__builtin_inff());
    int f = 0;
    for (; f + 2 * LANES <= n; f += 2 * LANES) {
        const typename Ops::V low = Ops::load(sums + f);
        const typename Ops::V high = Ops::load(sums + f + LANES);
        Ops::store(best + f, Ops::max(low, Ops::load(best + f)));
        Ops::store(best + f + LANES, Ops::max(high, Ops::load(best + f + LANES)));
        top = Ops::max(low, Ops::max(high, top));
    }
    const bool wide_above = Ops::any_at_least(top, threshold);
    bool above = false;
    for (; f < n; ++f) {
        best[f] = best[f] < sums[f] ? sums[f] : best[f];
        above = above || sums[f] >= threshold;
    }
    return wide_above || above;
}

template <class Ops>
void add_quarter_rows_wide(const QuarterRows& rows, float* const out[2], int n) {
    constexpr int LANES = Ops::LANES;
    // In locals: the stores might otherwise be taken to change the pointers.
    const float* const a = rows.a;
    const float* const b = rows.b;
    const float* const c0 = rows.c[0];
    const float* const d0 = rows.d[0];
    const float* const c1 = rows.c[1];
    const float* const d1 = rows.d[1];
    float* const out0 = out[0];
    float* const out1 = out[1];
    int f = 0;
    for (; f + LANES <= n; f += LANES) {
        const typename Ops::V lower = Ops::add(Ops::load(a + f), Ops::load(b + f));
        const typename Ops::V upper0 = Ops::add(Ops::load(c0 + f), Ops::load(d0 + f));
        const typename Ops::V upper1 = Ops::add(Ops::load(c1 + f), Ops::load(d1 + f));
        Ops::store(out0 + f, Ops::add(lower, upper0));
        Ops::store(out1 + f, Ops::add(lower, upper1));
    }
    for (; f < n; ++f) {
        const float lower = a[f] + b[f];
        out0[f] = lower + (c0[f] + d0[f]);
        out1[f] = lower + (c1[f] + d1[f]);
    }
}

template <class Ops>
float largest_wide(const float* row, int n) {
    constexpr int LANES = Ops::LANES;
    typename Ops::V top = Ops::set1(-__builtin_inff());
    int f = 0;
    for (; f + LANES <= n; f += LANES) top = Ops::max(Ops::load(row + f), top);
    float lanes[LANES];
    Ops::store(lanes, top);
    float found = lanes[0];
    for (const float lane : lanes) found = lane > found ? lane : found;
    for (; f < n; ++f) found = row[f] > found ? row[f] : found;
    return found;
}

// A piece of columns at a time, its sums held in registers down all the
// rows: each row is read once and no sum goes through memory in between.
template <class Ops>
void column_sums_wide(const float* cells, int rows, int bins, double* sums) {
    constexpr int LANES = Ops::DOUBLE_LANES;
    constexpr int HELD = 8;   // vectors of sums held at once
    const size_t stride = static_cast<size_t>(bins);
    int f = 0;
    for (; f + HELD * LANES <= bins; f += HELD * LANES) {
        typename Ops::D held[HELD];
        for (typename Ops::D& h : held) h = Ops::zero_doubles();
        const float* row = cells + f;
        for (int r = 0; r < rows; ++r, row += stride) {
            for (int k = 0; k < HELD; ++k) held[k] = Ops::add_doubles(held[k], Ops::widen(row + k * LANES));
        }
        for (int k = 0; k < HELD; ++k) Ops::store_doubles(sums + f + k * LANES, held[k]);
    }
    for (; f < bins; ++f) {
        double sum = 0.0;
        for (int r = 0; r < rows; ++r) sum += static_cast<double>(cells[static_cast<size_t>(r) * stride + static_cast<size_t>(f)]);
        sums[f] = sum;
    }
}

}  // namespace okrelt
