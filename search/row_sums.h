// The search's passes over rows of floats, on the widest instructions the
// processor has (AVX-512 or AVX2 where there is, chosen at run time). Each
// result is made by the same additions in the same order on every path, or
// is a comparison (a maximum is exact in any order), so every path gives
// the same bits.
#pragma once

namespace okrelt {

// out[f] = a[f] + b[f] for f below n; out may be a or b.
void add_rows(const float* a, const float* b, float* out, int n);

// best[f] = max(best[f], sums[f]) for f below n; true if any sums[f] is
// threshold or more.
bool raise_best(const float* sums, float* best, int n, float threshold);

// The largest of row[f] for f below n; minus infinity for none.
float largest(const float* row, int n);

// sums[f] = the sum of cells[r * bins + f] for r from 0 to rows - 1, added
// in that order as doubles to 0.0, for f below bins.
void column_sums(const float* cells, int rows, int bins, double* sums);

// Two levels of a tree at once, from four rows of the level below them,
// each pointer at the cell column 0 of the result takes: the level between
// adds a and b, and c and d (once as c[0] and d[0], once as c[1] and d[1],
// a column further on or back), and the result adds those sums.
struct QuarterRows {
    const float* a;
    const float* b;
    const float* c[2];
    const float* d[2];
};

// out[k][f] = (rows.a[f] + rows.b[f]) + (rows.c[k][f] + rows.d[k][f]) for
// k 0 and 1 and f below n; out[0] and out[1] may be the same row.
void add_quarter_rows(const QuarterRows& rows, float* const out[2], int n);

// The same five on AVX2 and on AVX-512: null pointers where the processor
// lacks it.
using AddRows = void (*)(const float* a, const float* b, float* out, int n);
using RaiseBest = bool (*)(const float* sums, float* best, int n, float threshold);
using Largest = float (*)(const float* row, int n);
using AddQuarterRows = void (*)(const QuarterRows& rows, float* const out[2], int n);
using ColumnSums = void (*)(const float* cells, int rows, int bins, double* sums);
AddRows avx2_add_rows();
RaiseBest avx2_raise_best();
Largest avx2_largest();
AddQuarterRows avx2_add_quarter_rows();
ColumnSums avx2_column_sums();
AddRows avx512_add_rows();
RaiseBest avx512_raise_best();
Largest avx512_largest();
AddQuarterRows avx512_add_quarter_rows();
ColumnSums avx512_column_sums();

}  // namespace okrelt
