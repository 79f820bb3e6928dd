// Vector operations of the x86-64 instruction sets, for fft_kernels.inc.
// Included only inside the unnamed namespace of one fft_<isa>.cpp, which
// picks its own with OKRELT_USE_<ISA> and compiles it for its instructions.
#if defined(OKRELT_USE_SSE2)
struct Sse2Ops {
    using V = __m128d;
    static constexpr int W = 2;
    static_assert(sizeof(V) == W * sizeof(double), "a vector is W doubles");
    static V load(const double* p) { return _mm_loadu_pd(p); }
    static void store(double* p, V v) { _mm_storeu_pd(p, v); }
    static V set1(double x) { return _mm_set1_pd(x); }
    static V add(V a, V b) { return _mm_add_pd(a, b); }
    static V sub(V a, V b) { return _mm_sub_pd(a, b); }
    static V mul(V a, V b) { return _mm_mul_pd(a, b); }
    static V max(V a, V b) { return _mm_max_pd(a, b); }
    static constexpr bool WRITES_BYTES = false;   // the converter quantises afterwards
    static V from_samples(const int8_t* p) { return _mm_cvtepi32_pd(_mm_setr_epi32(p[0], p[1], 0, 0)); }
    static V from_levels(const int8_t* p, const double* levels) {
        return _mm_setr_pd(levels[p[0] & LEVEL_INDEX_MASK], levels[p[1] & LEVEL_INDEX_MASK]);
    }
    // Lane l and lane l ^ D trade places; the lane distance D is a power
    // of two below W, here only 1.
    template <int D> static V swap_lanes(V v) {
        static_assert(D == 1, "lane distance inside two lanes");
        return _mm_shuffle_pd(v, v, 1);
    }
    // Lanes whose index has bit D clear from a, the others from b.
    template <int D> static V select_lower_address(V a, V b) { return _mm_move_sd(b, a); }
    // Lane l holds p[l / (2 D)].
    template <int D> static V spread(const double* p) { return _mm_set1_pd(p[0]); }
    // Lane l holds p[l % D].
    template <int D> static V tile(const double* p) { return _mm_set1_pd(p[0]); }
};
#endif

#if defined(OKRELT_USE_AVX2)
struct Avx2Ops {
    using V = __m256d;
    static constexpr int W = 4;
    static_assert(sizeof(V) == W * sizeof(double), "a vector is W doubles");
    static V load(const double* p) { return _mm256_loadu_pd(p); }
    static void store(double* p, V v) { _mm256_storeu_pd(p, v); }
    static V set1(double x) { return _mm256_set1_pd(x); }
    static V add(V a, V b) { return _mm256_add_pd(a, b); }
    static V sub(V a, V b) { return _mm256_sub_pd(a, b); }
    static V mul(V a, V b) { return _mm256_mul_pd(a, b); }
    static V max(V a, V b) { return _mm256_max_pd(a, b); }
    static V min(V a, V b) { return _mm256_min_pd(a, b); }
    // The last inverse pass writes the sound bytes: trunc(y) + zero of each
    // lane, correct where it fits 0..255 (note_byte_range tells).
    static constexpr bool WRITES_BYTES = true;
    static void store_bytes(uint8_t* out, V y, int zero) {
        const __m128i words = _mm_add_epi32(_mm256_cvttpd_epi32(y), _mm_set1_epi32(zero));
        const __m128i halves = _mm_packs_epi32(words, words);
        const int32_t four = _mm_cvtsi128_si32(_mm_packus_epi16(halves, halves));
        __builtin_memcpy(out, &four, sizeof four);
    }
    static V from_samples(const int8_t* p) {
        int32_t four = 0;
        __builtin_memcpy(&four, p, sizeof four);
        return _mm256_cvtepi32_pd(_mm_cvtepi8_epi32(_mm_cvtsi32_si128(four)));
    }
    static V from_levels(const int8_t* p, const double* levels) {
        int32_t four = 0;
        __builtin_memcpy(&four, p, sizeof four);
        const __m128i codes = _mm_cvtepi8_epi32(_mm_cvtsi32_si128(four));
        // The masked gather with every lane set: the plain one trips GCC 12's
        // uninitialised-value warning inside its own header.
        const V all = _mm256_castsi256_pd(_mm256_set1_epi64x(-1));
        return _mm256_mask_i32gather_pd(_mm256_setzero_pd(), levels,
                                        _mm_and_si128(codes, _mm_set1_epi32(LEVEL_INDEX_MASK)), all, sizeof(double));
    }
    template <int D> static V swap_lanes(V v) {
        static_assert(D == 1 || D == 2, "lane distance inside four lanes");
        if constexpr (D == 1) return _mm256_permute_pd(v, 0x5);
        return _mm256_permute2f128_pd(v, v, 0x01);
    }
    template <int D> static V select_lower_address(V a, V b) {
        if constexpr (D == 1) return _mm256_blend_pd(b, a, 0x5);
        return _mm256_blend_pd(b, a, 0x3);
    }
    template <int D> static V spread(const double* p) {
        return _mm256_setr_pd(p[0], p[1 / (2 * D)], p[2 / (2 * D)], p[3 / (2 * D)]);
    }
    template <int D> static V tile(const double* p) { return _mm256_setr_pd(p[0], p[1 % D], p[2 % D], p[3 % D]); }
    // [a0 a1 b0 b1] and [a2 a3 b2 b3]: the lower and upper halves of two vectors.
    static V low_halves(V a, V b) { return _mm256_permute2f128_pd(a, b, 0x20); }
    static V high_halves(V a, V b) { return _mm256_permute2f128_pd(a, b, 0x31); }
    // [a0 b0 a2 b2] and [a1 b1 a3 b3].
    static V even_lanes(V a, V b) { return _mm256_unpacklo_pd(a, b); }
    static V odd_lanes(V a, V b) { return _mm256_unpackhi_pd(a, b); }
    // [p0 p0 p1 p1].
    static V pairs_spread(const double* p) {
        return _mm256_permute4x64_pd(_mm256_castpd128_pd256(_mm_loadu_pd(p)), 0x50);
    }
    // The spectrum expansion of fft_kernels.inc for W pairs of bins: from
    // fr/fi[0, 2W) into the W vectors of points 0 .. 4W, every load first.
    static void expand_pairs_into(const double* fr, const double* fi, V* out_r, V* out_i) {
        const V re_signs = _mm256_setr_pd(1.0, -1.0, -1.0, 1.0);
        const V im_signs = _mm256_setr_pd(1.0, 1.0, -1.0, -1.0);
        for (int g = 0; g < W; ++g) {
            const V qr = _mm256_set1_pd(fr[2 * g + 1]);
            const V qi = _mm256_set1_pd(fi[2 * g + 1]);
            const V xr = _mm256_mul_pd(_mm256_blend_pd(qr, qi, 0xa), re_signs);
            const V xi = _mm256_mul_pd(_mm256_blend_pd(qi, qr, 0xa), im_signs);
            out_r[g] = _mm256_add_pd(_mm256_set1_pd(fr[2 * g]), xr);
            out_i[g] = _mm256_add_pd(_mm256_set1_pd(fi[2 * g]), xi);
        }
    }
};
#endif

#if defined(OKRELT_USE_AVX512)
struct Avx512Ops {
    using V = __m512d;
    static constexpr int W = 8;
    static_assert(sizeof(V) == W * sizeof(double), "a vector is W doubles");
    static V load(const double* p) { return _mm512_loadu_pd(p); }
    static void store(double* p, V v) { _mm512_storeu_pd(p, v); }
    static V set1(double x) { return _mm512_set1_pd(x); }
    static V add(V a, V b) { return _mm512_add_pd(a, b); }
    static V sub(V a, V b) { return _mm512_sub_pd(a, b); }
    static V mul(V a, V b) { return _mm512_mul_pd(a, b); }
    static V max(V a, V b) { return _mm512_maskz_max_pd(0xff, a, b); }
    static V min(V a, V b) { return _mm512_maskz_min_pd(0xff, a, b); }
    // As on AVX2: trunc(y) + zero of each lane, correct where it fits 0..255
    // (zero-masked, for the GCC 12 warning that from_samples names).
    static constexpr bool WRITES_BYTES = true;
    static void store_bytes(uint8_t* out, V y, int zero) {
        const __m256i words = _mm256_add_epi32(_mm512_maskz_cvttpd_epi32(0xff, y), _mm256_set1_epi32(zero));
        const __m128i halves = _mm_packs_epi32(_mm256_castsi256_si128(words), _mm256_extracti128_si256(words, 1));
        _mm_storel_epi64(reinterpret_cast<__m128i*>(out), _mm_packus_epi16(halves, halves));
    }
    static V from_samples(const int8_t* p) {
        // The zero-masked conversion: the plain one trips GCC 12's
        // uninitialised-value warning inside its own header.
        const __m256i words = _mm256_cvtepi8_epi32(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(p)));
        return _mm512_maskz_cvtepi32_pd(0xff, words);
    }
    // The permutation reads only the low three bits of each code: exactly
    // the table's eight entries.
    static V from_levels(const int8_t* p, const double* levels) {
        static_assert(LEVEL_TABLE_SIZE == W, "one level per lane of the permuted table");
        const __m512i codes = _mm512_maskz_cvtepi8_epi64(0xff, _mm_loadl_epi64(reinterpret_cast<const __m128i*>(p)));
        return _mm512_maskz_permutexvar_pd(0xff, codes, _mm512_loadu_pd(levels));
    }
    template <int D> static V swap_lanes(V v) {
        static_assert(D == 1 || D == 2 || D == 4, "lane distance inside eight lanes");
        return _mm512_maskz_permutexvar_pd(0xff, _mm512_setr_epi64(0 ^ D, 1 ^ D, 2 ^ D, 3 ^ D, 4 ^ D, 5 ^ D, 6 ^ D, 7 ^ D), v);
    }
    template <int D> static V select_lower_address(V a, V b) {
        constexpr __mmask8 lower = D == 1 ? 0x55 : D == 2 ? 0x33 : 0x0f;
        return _mm512_mask_blend_pd(lower, b, a);
    }
    template <int D> static V spread(const double* p) {
        return _mm512_setr_pd(p[0], p[1 / (2 * D)], p[2 / (2 * D)], p[3 / (2 * D)], p[4 / (2 * D)], p[5 / (2 * D)],
                              p[6 / (2 * D)], p[7 / (2 * D)]);
    }
    template <int D> static V tile(const double* p) {
        return _mm512_setr_pd(p[0], p[1 % D], p[2 % D], p[3 % D], p[4 % D], p[5 % D], p[6 % D], p[7 % D]);
    }
    // [a0 a1 a2 a3 b0 b1 b2 b3] and [a4 a5 a6 a7 b4 b5 b6 b7]: the lower and
    // upper halves of two vectors (zero-masked here and below, for the GCC 12
    // warning that from_samples names).
    static V low_halves(V a, V b) { return _mm512_maskz_shuffle_f64x2(0xff, a, b, 0x44); }
    static V high_halves(V a, V b) { return _mm512_maskz_shuffle_f64x2(0xff, a, b, 0xee); }
    // [a0 a1 b0 b1 a4 a5 b4 b5] and [a2 a3 b2 b3 a6 a7 b6 b7]: the lower and
    // upper pairs of each half.
    static V low_pairs(V a, V b) { return _mm512_permutex2var_pd(a, _mm512_setr_epi64(0, 1, 8, 9, 4, 5, 12, 13), b); }
    static V high_pairs(V a, V b) {
        return _mm512_permutex2var_pd(a, _mm512_setr_epi64(2, 3, 10, 11, 6, 7, 14, 15), b);
    }
    // [a0 b0 a2 b2 a4 b4 a6 b6] and [a1 b1 a3 b3 a5 b5 a7 b7].
    static V even_lanes(V a, V b) { return _mm512_maskz_unpacklo_pd(0xff, a, b); }
    static V odd_lanes(V a, V b) { return _mm512_maskz_unpackhi_pd(0xff, a, b); }
    // Output vector v of expand_pairs_into: pairs 2v and 2v + 1, bins 4v .. 4v + 3,
    // which lie in half v / 2 of the loaded bins.
    template <int OUT>
    static void expand_vector(const V* halves_r, const V* halves_i, V* out_r, V* out_i) {
        constexpr int b = (4 * OUT) % W;
        const V re_signs = _mm512_setr_pd(1.0, -1.0, -1.0, 1.0, 1.0, -1.0, -1.0, 1.0);
        const V im_signs = _mm512_setr_pd(1.0, 1.0, -1.0, -1.0, 1.0, 1.0, -1.0, -1.0);
        const V hr = halves_r[OUT / 2];
        const V hi = halves_i[OUT / 2];
        const __m512i p = _mm512_setr_epi64(b, b, b, b, b + 2, b + 2, b + 2, b + 2);
        const __m512i q = _mm512_setr_epi64(b + 1, W + b + 1, b + 1, W + b + 1, b + 3, W + b + 3, b + 3, W + b + 3);
        out_r[OUT] = _mm512_add_pd(_mm512_maskz_permutexvar_pd(0xff, p, hr),
                                   _mm512_mul_pd(_mm512_permutex2var_pd(hr, q, hi), re_signs));
        out_i[OUT] = _mm512_add_pd(_mm512_maskz_permutexvar_pd(0xff, p, hi),
                                   _mm512_mul_pd(_mm512_permutex2var_pd(hi, q, hr), im_signs));
    }
    // The spectrum expansion of fft_kernels.inc for W pairs of bins: from
    // fr/fi[0, 2W) into the 4 vectors of points 0 .. 4W.
    static void expand_pairs_into(const double* fr, const double* fi, V* out_r, V* out_i) {
        const V halves_r[2] = {_mm512_loadu_pd(fr), _mm512_loadu_pd(fr + W)};
        const V halves_i[2] = {_mm512_loadu_pd(fi), _mm512_loadu_pd(fi + W)};
        expand_vector<0>(halves_r, halves_i, out_r, out_i);
        expand_vector<1>(halves_r, halves_i, out_r, out_i);
        expand_vector<2>(halves_r, halves_i, out_r, out_i);
        expand_vector<3>(halves_r, halves_i, out_r, out_i);
    }
};
#endif
