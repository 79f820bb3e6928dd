// search/row_sums.h's loops on AVX2 (eight floats a vector), chosen at run
// time: each lane one float addition, maximum or comparison, as the plain
// loops do them.
#include "search/row_sums.h"

#if defined(__x86_64__)
#include <immintrin.h>

namespace okrelt {
namespace {

constexpr int LANES = 8;

__attribute__((target("avx2"))) void add_rows_avx2(const float* a, const float* b, float* out, int n) {
    int f = 0;
    for (; f + 2 * LANES <= n; f += 2 * LANES) {
        const __m256 low = _mm256_add_ps(_mm256_loadu_ps(a + f), _mm256_loadu_ps(b + f));
        const __m256 high = _mm256_add_ps(_mm256_loadu_ps(a + f + LANES), _mm256_loadu_ps(b + f + LANES));
        _mm256_storeu_ps(out + f, low);
        _mm256_storeu_ps(out + f + LANES, high);
    }
    for (; f < n; ++f) out[f] = a[f] + b[f];
}

// vmaxps(s, b) is s > b ? s : b: b kept on ties and NaNs, as best < s ? s : best.
__attribute__((target("avx2"))) bool raise_best_avx2(const float* sums, float* best, int n, float threshold) {
    __m256 top = _mm256_set1_ps(-__builtin_inff());
    int f = 0;
    for (; f + 2 * LANES <= n; f += 2 * LANES) {
        const __m256 low = _mm256_loadu_ps(sums + f);
        const __m256 high = _mm256_loadu_ps(sums + f + LANES);
        _mm256_storeu_ps(best + f, _mm256_max_ps(low, _mm256_loadu_ps(best + f)));
        _mm256_storeu_ps(best + f + LANES, _mm256_max_ps(high, _mm256_loadu_ps(best + f + LANES)));
        top = _mm256_max_ps(low, _mm256_max_ps(high, top));
    }
    const bool wide_above = _mm256_movemask_ps(_mm256_cmp_ps(top, _mm256_set1_ps(threshold), _CMP_GE_OQ)) != 0;
    bool above = false;
    for (; f < n; ++f) {
        best[f] = best[f] < sums[f] ? sums[f] : best[f];
        above = above || sums[f] >= threshold;
    }
    return wide_above || above;
}

}  // namespace

AddRows avx2_add_rows() { return __builtin_cpu_supports("avx2") ? add_rows_avx2 : nullptr; }
RaiseBest avx2_raise_best() { return __builtin_cpu_supports("avx2") ? raise_best_avx2 : nullptr; }

}  // namespace okrelt
#else
namespace okrelt {
AddRows avx2_add_rows() { return nullptr; }
RaiseBest avx2_raise_best() { return nullptr; }
}  // namespace okrelt
#endif
