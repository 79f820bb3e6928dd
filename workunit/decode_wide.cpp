// Both formats' data decoded 16 characters or bytes at a time with SSSE3's
// byte shuffle, built with -mssse3 and used only after a run-time check.
// Nothing here calls an inline function shared with other files: the linker
// could hand another file this file's instructions.
#include <cstdint>

#include "workunit/format.h"
#include "workunit/reader_internal.h"

#if defined(__x86_64__)
#include <immintrin.h>

namespace okrelt {

namespace {

constexpr int VECTOR_BYTES = 16;
static_assert(WIDE_DECODE_CHARS == VECTOR_BYTES, "one vector of characters at a time");
static_assert(2 * WIDE_DECODE_PAIRS == VECTOR_BYTES, "one vector of raw bytes at a time");
constexpr int CLASSIC_SAMPLES = WIDE_DECODE_CHARS * SAMPLES_PER_CHAR;   // per stream: three vectors
constexpr int BYTES_PER_VECTOR = WIDE_DECODE_CHARS / CHARS_PER_GROUP * BYTES_PER_GROUP;   // 12 of the 16 lanes
constexpr int TWO_BIT_SAMPLES_PER_BYTE = 4;
constexpr int TWO_BIT_SAMPLES = VECTOR_BYTES * TWO_BIT_SAMPLES_PER_BYTE;   // per stream: four vectors
constexpr int NO_LANE = -1;   // the byte shuffle writes a zero where the index's top bit is set
constexpr int HIGH_BYTE_SHIFT = 8;    // a 16-bit lane's upper byte
constexpr int HIGH_WORD_SHIFT = 16;   // a 32-bit lane's upper 16 bits

// Where the samples of one vector of characters or raw bytes come from: for
// each sample, the lane that holds it and its in-phase and quadrature bits.
// Classic: sample j of 16 characters comes from character j / 3, its
// in-phase bit being bit 2 (j % 3) of the code, the quadrature bit the one
// above. Later, 2 bits a sample: sample j of 16 raw bytes comes from sample
// byte j / 4, which is raw byte (j / 4) ^ 1, its in-phase bit being bit
// 2 (j % 4) + 1, the quadrature bit the one below.
template <int SAMPLES>
struct SampleLanes {
    int8_t source[SAMPLES];
    uint8_t in_phase_bit[SAMPLES];
    uint8_t quadrature_bit[SAMPLES];
};

constexpr SampleLanes<CLASSIC_SAMPLES> make_classic_lanes() {
    SampleLanes<CLASSIC_SAMPLES> lanes{};
    for (int j = 0; j < CLASSIC_SAMPLES; ++j) {
        lanes.source[j] = static_cast<int8_t>(j / SAMPLES_PER_CHAR);
        lanes.in_phase_bit[j] = static_cast<uint8_t>(1 << (2 * (j % SAMPLES_PER_CHAR)));
        lanes.quadrature_bit[j] = static_cast<uint8_t>(lanes.in_phase_bit[j] << 1);
    }
    return lanes;
}

constexpr SampleLanes<TWO_BIT_SAMPLES> make_two_bit_lanes() {
    SampleLanes<TWO_BIT_SAMPLES> lanes{};
    for (int j = 0; j < TWO_BIT_SAMPLES; ++j) {
        lanes.source[j] = static_cast<int8_t>((j / TWO_BIT_SAMPLES_PER_BYTE) ^ 1);
        lanes.quadrature_bit[j] = static_cast<uint8_t>(1 << (2 * (j % TWO_BIT_SAMPLES_PER_BYTE)));
        lanes.in_phase_bit[j] = static_cast<uint8_t>(lanes.quadrature_bit[j] << 1);
    }
    return lanes;
}

// Bytes 0, 1 and 2 of each 32-bit lane, side by side, then zeros.
struct PackedBytes {
    int8_t source[VECTOR_BYTES];
};

constexpr PackedBytes make_packed_bytes() {
    PackedBytes packed{};
    for (int j = 0; j < VECTOR_BYTES; ++j) {
        packed.source[j] = static_cast<int8_t>(
            j < BYTES_PER_VECTOR ? j / BYTES_PER_GROUP * static_cast<int>(sizeof(int32_t)) + j % BYTES_PER_GROUP
                                 : NO_LANE);
    }
    return packed;
}

constexpr SampleLanes<CLASSIC_SAMPLES> CLASSIC_LANES = make_classic_lanes();
constexpr SampleLanes<TWO_BIT_SAMPLES> TWO_BIT_LANES = make_two_bit_lanes();
constexpr PackedBytes PACKED_BYTES = make_packed_bytes();

__m128i load(const void* from) { return _mm_loadu_si128(static_cast<const __m128i*>(from)); }

void store(void* to, __m128i value) { _mm_storeu_si128(static_cast<__m128i*>(to), value); }

// +1 where the lane's bit is set, -1 where it is clear: equal to zero gives
// all ones (-1), which OR 1 leaves as it is, and 0 becomes 1.
__m128i samples_of(__m128i spread, __m128i bit) {
    return _mm_or_si128(_mm_cmpeq_epi8(_mm_and_si128(spread, bit), _mm_setzero_si128()), _mm_set1_epi8(1));
}

// The samples of one vector of characters or raw bytes, as lanes say.
template <int SAMPLES>
void spread_samples(__m128i source, const SampleLanes<SAMPLES>& lanes, int8_t* in_phase, int8_t* quadrature) {
    for (int v = 0; v < SAMPLES / VECTOR_BYTES; ++v) {
        const __m128i spread = _mm_shuffle_epi8(source, load(lanes.source + VECTOR_BYTES * v));
        store(in_phase + VECTOR_BYTES * v, samples_of(spread, load(lanes.in_phase_bit + VECTOR_BYTES * v)));
        store(quadrature + VECTOR_BYTES * v, samples_of(spread, load(lanes.quadrature_bit + VECTOR_BYTES * v)));
    }
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
        spread_samples(codes, CLASSIC_LANES, in_phase + SAMPLES_PER_CHAR * done, quadrature + SAMPLES_PER_CHAR * done);
    }
    return done;
}

int data_chars_wide(const char* text, int chars) {
    if (!__builtin_cpu_supports("ssse3")) return 0;
    // A character lies in " ".."_" exactly when its distance above " ", as
    // an unsigned byte, is at most the span: when the larger of the two is
    // the span.
    const __m128i lowest = _mm_set1_epi8(static_cast<char>(LOWEST_DATA_CHAR));
    const __m128i span = _mm_set1_epi8(static_cast<char>(HIGHEST_DATA_CHAR - LOWEST_DATA_CHAR));
    constexpr int ALL_LANES = (1 << VECTOR_BYTES) - 1;
    int done = 0;
    for (; done + WIDE_DECODE_CHARS <= chars; done += WIDE_DECODE_CHARS) {
        const __m128i above = _mm_sub_epi8(load(text + done), lowest);
        if (_mm_movemask_epi8(_mm_cmpeq_epi8(_mm_max_epu8(above, span), span)) != ALL_LANES) break;
    }
    return done;
}

int decode_groups_wide(const char* text, int chars, uint8_t* raw) {
    if (!__builtin_cpu_supports("ssse3")) return 0;
    // A group's 6-bit values v0..v3 become its 24 bits, low byte first, as
    // v0 + 64 v1 and v2 + 64 v3 (bytes times 1 and 64, added in pairs), then
    // (v0 + 64 v1) + 4096 (v2 + 64 v3) (words times 1 and 4096, added in pairs).
    const __m128i lowest = _mm_set1_epi8(static_cast<char>(LOWEST_DATA_CHAR));
    const __m128i byte_weights = _mm_set1_epi16(static_cast<int16_t>(1 | 1 << BITS_PER_CHAR << HIGH_BYTE_SHIFT));
    const __m128i word_weights = _mm_set1_epi32(1 | 1 << 2 * BITS_PER_CHAR << HIGH_WORD_SHIFT);
    int done = 0;
    for (uint8_t* to = raw; done + WIDE_DECODE_CHARS <= chars; done += WIDE_DECODE_CHARS, to += BYTES_PER_VECTOR) {
        const __m128i values = _mm_sub_epi8(load(text + done), lowest);
        const __m128i groups = _mm_madd_epi16(_mm_maddubs_epi16(values, byte_weights), word_weights);
        const __m128i bytes = _mm_shuffle_epi8(groups, load(PACKED_BYTES.source));
        _mm_storel_epi64(reinterpret_cast<__m128i*>(to), bytes);
        _mm_storeu_si32(to + sizeof(int64_t), _mm_srli_si128(bytes, sizeof(int64_t)));
    }
    return done;
}

int two_bit_pairs_wide(const uint8_t* raw, int pairs, int8_t* in_phase, int8_t* quadrature) {
    if (!__builtin_cpu_supports("ssse3")) return 0;
    constexpr int SAMPLES_PER_PAIR = 2 * TWO_BIT_SAMPLES_PER_BYTE;
    int done = 0;
    for (; done + WIDE_DECODE_PAIRS <= pairs; done += WIDE_DECODE_PAIRS) {
        spread_samples(load(raw + 2 * done), TWO_BIT_LANES, in_phase + SAMPLES_PER_PAIR * done,
                       quadrature + SAMPLES_PER_PAIR * done);
    }
    return done;
}

}  // namespace okrelt
#else
namespace okrelt {
int decode_chars_wide(const char*, int, int8_t*, int8_t*) { return 0; }
int data_chars_wide(const char*, int) { return 0; }
int decode_groups_wide(const char*, int, uint8_t*) { return 0; }
int two_bit_pairs_wide(const uint8_t*, int, int8_t*, int8_t*) { return 0; }
}  // namespace okrelt
#endif
