#include "search/row_sums.h"

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

AddRows chosen_add_rows() {
    if (const AddRows widest = avx512_add_rows()) return widest;
    if (const AddRows wide = avx2_add_rows()) return wide;
    return add_rows_on;
}

RaiseBest chosen_raise_best() {
    if (const RaiseBest widest = avx512_raise_best()) return widest;
    if (const RaiseBest wide = avx2_raise_best()) return wide;
    return raise_best_on;
}

Largest chosen_largest() {
    if (const Largest widest = avx512_largest()) return widest;
    if (const Largest wide = avx2_largest()) return wide;
    return largest_on;
}

AddQuarterRows chosen_add_quarter_rows() {
    if (const AddQuarterRows widest = avx512_add_quarter_rows()) return widest;
    if (const AddQuarterRows wide = avx2_add_quarter_rows()) return wide;
    return add_quarter_rows_on;
}

}  // namespace

void add_rows(const float* a, const float* b, float* out, int n) {
    static const AddRows add = chosen_add_rows();
    add(a, b, out, n);
}

bool raise_best(const float* sums, float* best, int n, float threshold) {
    static const RaiseBest raise = chosen_raise_best();
    return raise(sums, best, n, threshold);
}

float largest(const float* row, int n) {
    static const Largest find = chosen_largest();
    return find(row, n);
}

void add_quarter_rows(const QuarterRows& rows, float* const out[2], int n) {
    static const AddQuarterRows add = chosen_add_quarter_rows();
    add(rows, out, n);
}

}  // namespace okrelt
