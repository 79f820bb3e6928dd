// The search's passes over rows of floats, on the widest instructions the
// processor has (AVX-512 or AVX2 where there is, chosen at run time). Each result is
// one float addition or comparison of its own, so every path gives the
// same bits.
#pragma once

namespace okrelt {

// out[f] = a[f] + b[f] for f below n; out may be a or b.
void add_rows(const float* a, const float* b, float* out, int n);

// best[f] = max(best[f], sums[f]) for f below n; true if any sums[f] is
// threshold or more.
bool raise_best(const float* sums, float* best, int n, float threshold);

// add_rows, each sum also raising best as raise_best does, in one pass; out
// is written past the caches where it lies on a vector's boundary, for rows
// read again only seldom. True if any sum is threshold or more.
bool add_and_raise(const float* a, const float* b, float* out, float* best, int n, float threshold);

// The same three on AVX2 and on AVX-512: null pointers where the processor
// lacks it.
using AddRows = void (*)(const float* a, const float* b, float* out, int n);
using RaiseBest = bool (*)(const float* sums, float* best, int n, float threshold);
using AddAndRaise = bool (*)(const float* a, const float* b, float* out, float* best, int n, float threshold);
struct RowPasses {
    AddRows add;
    RaiseBest raise;
    AddAndRaise add_and_raise;
};
RowPasses avx2_row_passes();
RowPasses avx512_row_passes();

}  // namespace okrelt
