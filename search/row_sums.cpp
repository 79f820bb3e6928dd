#include "search/row_sums.h"

#include <algorithm>
#include <cstddef>

namespace okrelt {

namespace {

// The plain loops, for processors with neither AVX-512 nor AVX2.
void add_rows_on(const float* a, const float* b, float* out, int n) {
    for (int f = 0; f < n; ++f) out[f] = a[f] + b[f];
}

bool raise_best_on(const float* sums, float* best, int n, float threshold) {
    bool above = false;
    for (int f = 0; f < n; ++f) {
        best[f] = best[f] < sums[f] ? sums[f] : best[f];
        above = above || sums[f] >= threshold;
    }
    return above;
}

float largest_on(const float* row, int n) {
    float top = -__builtin_inff();
    for (int f = 0; f < n; ++f) top = row[f] > top ? row[f] : top;
    return top;
}

void add_quarter_rows_on(const QuarterRows& rows, float* const out[2], int n) {
    for (int f = 0; f < n; ++f) {
        const float lower = rows.a[f] + rows.b[f];
        out[0][f] = lower + (rows.c[0][f] + rows.d[0][f]);
        out[1][f] = lower + (rows.c[1][f] + rows.d[1][f]);
    }
}

void column_sums_on(const float* cells, int rows, int bins, double* sums) {
    std::fill(sums, sums + bins, 0.0);
    for (int r = 0; r < rows; ++r) {
        const float* row = cells + static_cast<size_t>(r) * static_cast<size_t>(bins);
        for (int f = 0; f < bins; ++f) sums[f] += static_cast<double>(row[f]);
    }
}

// The widest path the processor runs: AVX-512's, AVX2's, or the plain loop.
template <class Pass>
Pass widest(Pass avx512, Pass avx2, Pass plain) {
    return avx512 != nullptr ? avx512 : avx2 != nullptr ? avx2 : plain;
}

}  // namespace

void add_rows(const float* a, const float* b, float* out, int n) {
    static const AddRows add = widest(avx512_add_rows(), avx2_add_rows(), add_rows_on);
    add(a, b, out, n);
}

bool raise_best(const float* sums, float* best, int n, float threshold) {
    static const RaiseBest raise = widest(avx512_raise_best(), avx2_raise_best(), raise_best_on);
    return raise(sums, best, n, threshold);
}

float largest(const float* row, int n) {
    static const Largest find = widest(avx512_largest(), avx2_largest(), largest_on);
    return find(row, n);
}

void add_quarter_rows(const QuarterRows& rows, float* const out[2], int n) {
    static const AddQuarterRows add =
        widest(avx512_add_quarter_rows(), avx2_add_quarter_rows(), add_quarter_rows_on);
    add(rows, out, n);
}

void column_sums(const float* cells, int rows, int bins, double* sums) {
    static const ColumnSums sum = widest(avx512_column_sums(), avx2_column_sums(), column_sums_on);
    sum(cells, rows, bins, sums);
}

}  // namespace okrelt
