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

bool add_and_raise_on(const float* a, const float* b, float* out, float* best, int n, float threshold) {
    add_rows_on(a, b, out, n);
    return raise_best_on(out, best, n, threshold);
}

// The widest passes the processor has.
RowPasses chosen_passes() {
    const RowPasses widest = avx512_row_passes();
    if (widest.add != nullptr) return widest;
    const RowPasses wide = avx2_row_passes();
    if (wide.add != nullptr) return wide;
    return RowPasses{add_rows_on, raise_best_on, add_and_raise_on};
}

const RowPasses& passes() {
    static const RowPasses chosen = chosen_passes();
    return chosen;
}

}  // namespace

void add_rows(const float* a, const float* b, float* out, int n) { passes().add(a, b, out, n); }

bool raise_best(const float* sums, float* best, int n, float threshold) {
    return passes().raise(sums, best, n, threshold);
}

bool add_and_raise(const float* a, const float* b, float* out, float* best, int n, float threshold) {
    return passes().add_and_raise(a, b, out, best, n, threshold);
}

}  // namespace okrelt
