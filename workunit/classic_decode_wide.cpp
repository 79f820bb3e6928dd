// The classic format's characters decoded 16 at a time with SSSE3's byte
// shuffle, built with -mssse3 and used only after a run-time check: a
// character at a time, through a table, decoding took 0.7 ms of a 12 ms run.
#include <cstdint>

#include "workunit/format.h"
#include "workunit/reader_internal.h"

#if defined(__x86_64__)
#include <immintrin.h>

namespace okrelt {

namespace {

constexpr int VECTOR_BYTES = 16;
static_assert(WIDE_DECODE_CHARS == VECTOR_BYTES, "one vector of characters at a time");
constexpr int WIDE_SAMPLES = WIDE_DECODE_CHARS * SAMPLES_PER_CHAR;   // per stream: three vectors

// Sample j of the 48 that 16 characters make comes from character j / 3,
// its in-phase bit being bit 2 (j % 3) of the code, the quadrature bit the
// one above.
struct SampleLanes {
    int8_t character[WIDE_SAMPLES];
    uint8_t in_phase_bit[WIDE_SAMPLES];
};

constexpr SampleLanes make_sample_lanes() {
    SampleLanes lanes{};
    for (int j = 0; j < WIDE_SAMPLES; ++j) {
        lanes.character[j] = static_cast<int8_t>(j / SAMPLES_PER_CHAR);
        lanes.in_phase_bit[j] = static_cast<uint8_t>(1 << (2 * (j % SAMPLES_PER_CHAR)));
    }
    return lanes;
}

constexpr SampleLanes SAMPLE_LANES = make_sample_lanes();

__m128i load(const void* from) { return _mm_loadu_si128(static_cast<const __m128i*>(from)); }

// +1 where the lane's bit is set, -1 where it is clear: equal to zero gives
// all ones (-1), which OR 1 leaves as it is, and 0 becomes 1.
__m128i samples_of(__m128i codes, __m128i bit) {
    return _mm_or_si128(_mm_cmpeq_epi8(_mm_and_si128(codes, bit), _mm_setzero_si128()), _mm_set1_epi8(1));
}

}  // namespace

int decode_chars_wide(const char* text, int chars, int8_t* in_phase, int8_t* quadrature) {
    if (!__builtin_cpu_supports("ssse3")) return 0;
    // Only a code's low six bits are ever tested, so subtracting the offset
    // byte by byte needs no mask.
    const __m128i offset = _mm_set1_epi8(static_cast<char>(CODE_OFFSET));
    int done = 0;
    for (; done + WIDE_DECODE_CHARS <= chars; done += WIDE_DECODE_CHARS) {
        const __m128i codes = _mm_sub_epi8(load(text + done), offset);
        int8_t* const to_in_phase = in_phase + SAMPLES_PER_CHAR * done;
        int8_t* const to_quadrature = quadrature + SAMPLES_PER_CHAR * done;
        for (int v = 0; v < SAMPLES_PER_CHAR; ++v) {
            const __m128i spread = _mm_shuffle_epi8(codes, load(SAMPLE_LANES.character + VECTOR_BYTES * v));
            const __m128i in_phase_bit = load(SAMPLE_LANES.in_phase_bit + VECTOR_BYTES * v);
            const __m128i quadrature_bit = _mm_add_epi8(in_phase_bit, in_phase_bit);
            _mm_storeu_si128(reinterpret_cast<__m128i*>(to_in_phase + VECTOR_BYTES * v), samples_of(spread, in_phase_bit));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(to_quadrature + VECTOR_BYTES * v),
                             samples_of(spread, quadrature_bit));
        }
    }
    return done;
}

}  // namespace okrelt
#else
namespace okrelt {
int decode_chars_wide(const char*, int, int8_t*, int8_t*) { return 0; }
}  // namespace okrelt
#endif
