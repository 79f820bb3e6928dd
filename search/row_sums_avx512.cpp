// search/row_sums.h's loops on AVX-512 (sixteen floats a vector), chosen at
// run time.
#include "search/row_sums.h"

#if defined(__x86_64__)
#include <immintrin.h>

#include "search/row_sums_wide.h"

namespace okrelt {
namespace {

// The maximum and the widening masked with every lane set: gcc 12 takes the
// unmasked forms' undefined pass-through for an uninitialised value (and so
// the maximum's reduction to one lane, which row_sums_wide.h leaves to a
// plain loop).
struct Avx512Ops {
    using V = __m512;
    static constexpr int LANES = 16;
    static V load(const float* p) { return _mm512_loadu_ps(p); }
    static void store(float* p, V v) { _mm512_storeu_ps(p, v); }
    static V set1(float x) { return _mm512_set1_ps(x); }
    static V add(V a, V b) { return _mm512_add_ps(a, b); }
    static V max(V a, V b) { return _mm512_maskz_max_ps(0xffff, a, b); }
    static bool any_at_least(V v, float x) { return _mm512_cmp_ps_mask(v, _mm512_set1_ps(x), _CMP_GE_OQ) != 0; }
    using D = __m512d;
    static constexpr int DOUBLE_LANES = 8;
    static D zero_doubles() { return _mm512_setzero_pd(); }
    static D widen(const float* p) { return _mm512_maskz_cvtps_pd(0xff, _mm256_loadu_ps(p)); }
    static D add_doubles(D a, D b) { return _mm512_add_pd(a, b); }
    static void store_doubles(double* p, D v) { _mm512_storeu_pd(p, v); }
};

}  // namespace

AddRows avx512_add_rows() { return __builtin_cpu_supports("avx512f") ? add_rows_wide<Avx512Ops> : nullptr; }
RaiseBest avx512_raise_best() { return __builtin_cpu_supports("avx512f") ? raise_best_wide<Avx512Ops> : nullptr; }
Largest avx512_largest() { return __builtin_cpu_supports("avx512f") ? largest_wide<Avx512Ops> : nullptr; }
AddQuarterRows avx512_add_quarter_rows() {
    return __builtin_cpu_supports("avx512f") ? add_quarter_rows_wide<Avx512Ops> : nullptr;
}
ColumnSums avx512_column_sums() { return __builtin_cpu_supports("avx512f") ? column_sums_wide<Avx512Ops> : nullptr; }

}  // namespace okrelt
#else
namespace okrelt {
AddRows avx512_add_rows() { return nullptr; }
RaiseBest avx512_raise_best() { return nullptr; }
Largest avx512_largest() { return nullptr; }
AddQuarterRows avx512_add_quarter_rows() { return nullptr; }
ColumnSums avx512_column_sums() { return nullptr; }
}  // namespace okrelt
#endif
