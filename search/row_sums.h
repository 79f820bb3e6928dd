// The search's passes over rows of floats, on the widest instructions the
// processor has (AVX-512 or AVX2 where there is, chosen at run time). Each result is
// one float addition or comparison of its own (a maximum is exact in any
// order), so every path gives the same bits.
#pragma once

namespace okrelt {

// out[f] = a[f] + b[f] for f below n; out may be a or b.
void add_rows(const float* a, const float* b, float* out, int n);

// best[f] = max(best[f], sums[f]) for f below n; true if any sums[f] is
// threshold or more.
bool raise_best(const float* sums, float* best, int n, float threshold);

// The largest of row[f] for f below n; minus infinity for none.
float largest(const float* row, int n);

// The same three on AVX2 and on AVX-512: null pointers where the processor
// lacks it.
using AddRows = void (*)(const float* a, const float* b, float* out, int n);
using RaiseBest = bool (*)(const float* sums, float* best, int n, float threshold);
using Largest = float (*)(const float* row, int n);
AddRows avx2_add_rows();
RaiseBest avx2_raise_best();
Largest avx2_largest();
AddRows avx512_add_rows();
RaiseBest avx512_raise_best();
Largest avx512_largest();

}  // namespace okrelt
