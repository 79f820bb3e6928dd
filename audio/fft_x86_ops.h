// Vector operations of the x86-64 instruction sets, for fft_kernels.inc.
// Included only inside the unnamed namespace of one fft_<isa>.cpp, so every
// file gets its own copy compiled for its own instructions.
#if defined(OKRELT_USE_SSE2) && !defined(OKRELT_SSE2_OPS)
#define OKRELT_SSE2_OPS
struct Sse2Ops {
    using V = __m128d;
    static constexpr long W = 2;
    static V load(const double* p) { return _mm_loadu_pd(p); }
    static void store(double* p, V v) { _mm_storeu_pd(p, v); }
    static V set1(double x) { return _mm_set1_pd(x); }
    static V add(V a, V b) { return _mm_add_pd(a, b); }
    static V sub(V a, V b) { return _mm_sub_pd(a, b); }
    static V mul(V a, V b) { return _mm_mul_pd(a, b); }
    static V max(V a, V b) { return _mm_max_pd(a, b); }
    static V from_samples(const int8_t* p) { return _mm_cvtepi32_pd(_mm_setr_epi32(p[0], p[1], 0, 0)); }
};
#endif

#if defined(OKRELT_USE_AVX2) && !defined(OKRELT_AVX2_OPS)
#define OKRELT_AVX2_OPS
struct Avx2Ops {
    using V = __m256d;
    static constexpr long W = 4;
    static V load(const double* p) { return _mm256_loadu_pd(p); }
    static void store(double* p, V v) { _mm256_storeu_pd(p, v); }
    static V set1(double x) { return _mm256_set1_pd(x); }
    static V add(V a, V b) { return _mm256_add_pd(a, b); }
    static V sub(V a, V b) { return _mm256_sub_pd(a, b); }
    static V mul(V a, V b) { return _mm256_mul_pd(a, b); }
    static V max(V a, V b) { return _mm256_max_pd(a, b); }
    static V from_samples(const int8_t* p) {
        int32_t four = 0;
        __builtin_memcpy(&four, p, sizeof four);
        return _mm256_cvtepi32_pd(_mm_cvtepi8_epi32(_mm_cvtsi32_si128(four)));
    }
};
#endif

#if defined(OKRELT_USE_AVX512) && !defined(OKRELT_AVX512_OPS)
#define OKRELT_AVX512_OPS
struct Avx512Ops {
    using V = __m512d;
    static constexpr long W = 8;
    static V load(const double* p) { return _mm512_loadu_pd(p); }
    static void store(double* p, V v) { _mm512_storeu_pd(p, v); }
    static V set1(double x) { return _mm512_set1_pd(x); }
    static V add(V a, V b) { return _mm512_add_pd(a, b); }
    static V sub(V a, V b) { return _mm512_sub_pd(a, b); }
    static V mul(V a, V b) { return _mm512_mul_pd(a, b); }
    static V max(V a, V b) { return _mm512_maskz_max_pd(0xff, a, b); }
    static V from_samples(const int8_t* p) {
        // The zero-masked conversion: the plain one trips GCC 12's
        // uninitialised-value warning inside its own header.
        const __m256i words = _mm256_cvtepi8_epi32(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(p)));
        return _mm512_maskz_cvtepi32_pd(0xff, words);
    }
};
#endif
