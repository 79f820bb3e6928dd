// search/row_sums.h's loops on AVX-512 (sixteen floats a vector), chosen at
// run time: each lane one float addition, maximum or comparison, as the
// plain loops do them.
#include "search/row_sums.h"

#if defined(__x86_64__)
#include <immintrin.h>

namespace okrelt {
namespace {

constexpr int LANES = 16;

__attribute__((target("avx512f"))) void add_rows_avx512(const float* a, const float* b, float* out, int n) {
    int f = 0;
    for (; f + 2 * LANES <= n; f += 2 * LANES) {
        const __m512 low = _mm512_add_ps(_mm512_loadu_ps(a + f), _mm512_loadu_ps(b + f));
        const __m512 high = _mm512_add_ps(_mm512_loadu_ps(a + f + LANES), _mm512_loadu_ps(b + f + LANES));
        _mm512_storeu_ps(out + f, low);
        _mm512_storeu_ps(out + f + LANES, high);
    }
    for (; f < n; ++f) out[f] = a[f] + b[f];
}

// vmaxps(s, b) is s > b ? s : b: b kept on ties and NaNs, as best < s ? s : best.
// Masked with every lane set: gcc 12 takes the unmasked form's undefined
// pass-through for an uninitialised value.
__attribute__((target("avx512f"))) __m512 max_of(__m512 a, __m512 b) { return _mm512_maskz_max_ps(0xffff, a, b); }

__attribute__((target("avx512f"))) bool raise_best_avx512(const float* sums, float* best, int n, float threshold) {
    __m512 top = _mm512_set1_ps(-__builtin_inff());
    int f = 0;
    for (; f + 2 * LANES <= n; f += 2 * LANES) {
        const __m512 low = _mm512_loadu_ps(sums + f);
        const __m512 high = _mm512_loadu_ps(sums + f + LANES);
        _mm512_storeu_ps(best + f, max_of(low, _mm512_loadu_ps(best + f)));
        _mm512_storeu_ps(best + f + LANES, max_of(high, _mm512_loadu_ps(best + f + LANES)));
        top = max_of(low, max_of(high, top));
    }
    const bool wide_above = _mm512_cmp_ps_mask(top, _mm512_set1_ps(threshold), _CMP_GE_OQ) != 0;
    bool above = false;
    for (; f < n; ++f) {
        best[f] = best[f] < sums[f] ? sums[f] : best[f];
        above = above || sums[f] >= threshold;
    }
    return wide_above || above;
}

}  // namespace

AddRows avx512_add_rows() { return __builtin_cpu_supports("avx512f") ? add_rows_avx512 : nullptr; }
RaiseBest avx512_raise_best() { return __builtin_cpu_supports("avx512f") ? raise_best_avx512 : nullptr; }

}  // namespace okrelt
#else
namespace okrelt {
AddRows avx512_add_rows() { return nullptr; }
RaiseBest avx512_raise_best() { return nullptr; }
}  // namespace okrelt
#endif
