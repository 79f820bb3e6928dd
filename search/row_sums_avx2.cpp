// search/row_sums.h's loops on AVX2 (eight floats a vector), chosen at run
// time.
#include "search/row_sums.h"

#if defined(__x86_64__)
#include <immintrin.h>

#include "search/row_sums_wide.h"

namespace okrelt {
namespace {

struct Avx2Ops {
    using V = __m256;
    static constexpr int LANES = 8;
    static V load(const float* p) { return _mm256_loadu_ps(p); }
    static void store(float* p, V v) { _mm256_storeu_ps(p, v); }
    static V set1(float x) { return _mm256_set1_ps(x); }
    static V add(V a, V b) { return _mm256_add_ps(a, b); }
    static V max(V a, V b) { return _mm256_max_ps(a, b); }
    static bool any_at_least(V v, float x) {
        return _mm256_movemask_ps(_mm256_cmp_ps(v, _mm256_set1_ps(x), _CMP_GE_OQ)) != 0;
    }
    using D = __m256d;
    static constexpr int DOUBLE_LANES = 4;
    static D zero_doubles() { return _mm256_setzero_pd(); }
    static D widen(const float* p) { return _mm256_cvtps_pd(_mm_loadu_ps(p)); }
    static D add_doubles(D a, D b) { return _mm256_add_pd(a, b); }
    static void store_doubles(double* p, D v) { _mm256_storeu_pd(p, v); }
};

}  // namespace

AddRows avx2_add_rows() { return __builtin_cpu_supports("avx2") ? add_rows_wide<Avx2Ops> : nullptr; }
RaiseBest avx2_raise_best() { return __builtin_cpu_supports("avx2") ? raise_best_wide<Avx2Ops> : nullptr; }
Largest avx2_largest() { return __builtin_cpu_supports("avx2") ? largest_wide<Avx2Ops> : nullptr; }
AddQuarterRows avx2_add_quarter_rows() {
    return __builtin_cpu_supports("avx2") ? add_quarter_rows_wide<Avx2Ops> : nullptr;
}
ColumnSums avx2_column_sums() { return __builtin_cpu_supports("avx2") ? column_sums_wide<Avx2Ops> : nullptr; }

}  // namespace okrelt
#else
namespace okrelt {
AddRows avx2_add_rows() { return nullptr; }
RaiseBest avx2_raise_best() { return nullptr; }
Largest avx2_largest() { return nullptr; }
AddQuarterRows avx2_add_quarter_rows() { return nullptr; }
ColumnSums avx2_column_sums() { return nullptr; }
}  // namespace okrelt
#endif
