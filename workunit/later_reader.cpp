// The later, XML-wrapped format's data (its header: later_header.cpp).
//
// The data's byte path, from the text to the samples:
//   4 characters " ".."_"  -> 6 bits each, the first character lowest
//   -> 3 raw bytes         (24 bits, low byte first)
//   -> pairs swapped       (sample byte i is raw byte i ^ 1: 16-bit words
//                           were written high byte first)
//   -> samples             (4 of 2 bits or 2 of 4 bits per byte, the first
//                           sample in the lowest bits; within a sample the
//                           real part is the upper half, the imaginary the lower)
#include <algorithm>
#include <cstdint>
#include <cstring>

#include "common/messages.h"
#include "workunit/format.h"
#include "workunit/reader.h"
#include "workunit/reader_internal.h"

namespace okrelt {

const double FOUR_BIT_LEVELS[LEVEL_TABLE_SIZE] = {
    0.0, FOUR_BIT_INNER_LEVEL, FOUR_BIT_OUTER_LEVEL, 0.0, 0.0, 0.0, -FOUR_BIT_OUTER_LEVEL, -FOUR_BIT_INNER_LEVEL};

namespace {

constexpr int32_t INITIAL_CAPACITY = int32_t{1} << 20;   // grown as data arrives, never beyond nsamples
constexpr int32_t SHORT_DATA_ALLOWANCE = 65535;   // fewer missing samples play as silence
constexpr int MAX_SAMPLES_PER_BYTE = 4;
constexpr int BYTE_VALUES = 256;

// The samples of each possible byte, for one depth: 4 samples of 2 bits or 2
// of 4 bits, the first in the lowest bits, the real part in a sample's upper
// half.
struct ByteSamples {
    int8_t in_phase[MAX_SAMPLES_PER_BYTE];
    int8_t quadrature[MAX_SAMPLES_PER_BYTE];
};

struct ByteTable {
    ByteSamples bytes[BYTE_VALUES];
};

ByteTable make_byte_table(int bits_per_sample) {
    // 2-bit parts are signs; 4-bit parts are the codes of FOUR_BIT_LEVELS.
    const int8_t one_bit[] = {-1, 1};
    const int8_t two_bits[] = {-2, -1, 1, 2};
    const int part_bits = bits_per_sample / 2;
    const int part_mask = (1 << part_bits) - 1;
    const int samples = 8 / bits_per_sample;
    ByteTable table{};
    for (int byte = 0; byte < BYTE_VALUES; ++byte) {
        for (int s = 0; s < samples; ++s) {
            const int sample = byte >> (s * bits_per_sample);
            const int real = (sample >> part_bits) & part_mask;
            const int imaginary = sample & part_mask;
            table.bytes[byte].in_phase[s] = part_bits == 1 ? one_bit[real] : two_bits[real];
            table.bytes[byte].quadrature[s] = part_bits == 1 ? one_bit[imaginary] : two_bits[imaginary];
        }
    }
    return table;
}

const ByteTable two_bit_table = make_byte_table(2);
const ByteTable four_bit_table = make_byte_table(4);

// Turns the raw bytes of the data, in order, into samples: sample byte i is
// raw byte i ^ 1. Stops taking samples at the declared count.
struct SampleSink {
    SampleStreams* streams;
    const ByteTable* table;
    int samples_per_byte;
    int32_t declared_count;
    int64_t raw_bytes = 0;        // data bytes seen
    int64_t real_samples = 0;     // samples that came from data, not silence
    int32_t first_silent = -1;    // the first sample played as silence, if any
    int pending = -1;             // the even raw byte waiting for its partner
};

bool sink_full(const SampleSink& sink) { return sink.streams->count == sink.declared_count; }

// Appends one sample byte's samples (or silence), as many as the count allows.
int put_sample_byte(SampleSink* sink, int byte, bool silent) {
    SampleStreams* streams = sink->streams;
    const int32_t left = sink->declared_count - streams->count;
    const int32_t take = left < sink->samples_per_byte ? left : sink->samples_per_byte;
    if (streams->count + take > streams->capacity) {
        const int32_t doubled = streams->capacity > sink->declared_count / 2 ? sink->declared_count
                                                                              : 2 * streams->capacity;
        if (reserve_streams(streams, doubled) != 0) return 1;
    }
    if (silent && sink->first_silent < 0) sink->first_silent = streams->count;
    if (silent) {
        std::memset(streams->in_phase + streams->count, 0, static_cast<size_t>(take));
        std::memset(streams->quadrature + streams->count, 0, static_cast<size_t>(take));
    } else {
        const ByteSamples& samples = sink->table->bytes[byte];
        std::memcpy(streams->in_phase + streams->count, samples.in_phase, static_cast<size_t>(take));
        std::memcpy(streams->quadrature + streams->count, samples.quadrature, static_cast<size_t>(take));
        sink->real_samples += take;
    }
    streams->count += take;
    return 0;
}

// Hands on whole pairs of raw bytes, each as its two sample bytes (the odd
// raw byte first), and keeps an odd last byte for the next piece.
int put_raw_bytes(SampleSink* sink, const uint8_t* raw, int n) {
    SampleStreams* streams = sink->streams;
    const int per_byte = sink->samples_per_byte;
    int i = 0;
    // While a pair cannot reach the count, whole pairs go straight from the
    // table into room made once for the piece. A 4-bit byte's table entry
    // ends in two zeros: copying all four writes silence where the next byte
    // goes, or where silence is anyway, within the spare bytes.
    const int64_t pair_samples = 2 * per_byte;
    const int64_t whole = std::min<int64_t>(n / 2, (sink->declared_count - streams->count) / pair_samples);
    if (whole > 0 && streams->count + whole * pair_samples > streams->capacity) {
        const int64_t needed = streams->count + whole * pair_samples;
        const int64_t doubled = std::max<int64_t>(needed, 2 * int64_t{streams->capacity});
        if (reserve_streams(streams, static_cast<int32_t>(std::min<int64_t>(doubled, sink->declared_count))) != 0) return 1;
    }
    int8_t* in_phase = streams->in_phase;
    int8_t* quadrature = streams->quadrature;
    int32_t count = streams->count;
    if (sink->table == &two_bit_table) {
        i = 2 * two_bit_pairs_wide(raw, static_cast<int>(whole), in_phase + count, quadrature + count);
        count += i * per_byte;
    }
    for (; i < 2 * whole; i += 2) {
        for (const uint8_t byte : {raw[i + 1], raw[i]}) {
            std::memcpy(in_phase + count, sink->table->bytes[byte].in_phase, MAX_SAMPLES_PER_BYTE);
            std::memcpy(quadrature + count, sink->table->bytes[byte].quadrature, MAX_SAMPLES_PER_BYTE);
            count += per_byte;
        }
    }
    streams->count = count;
    sink->real_samples += 2 * whole * per_byte;
    // The pair that reaches the count, byte by byte.
    for (; i + 1 < n && !sink_full(*sink); i += 2) {
        if (put_sample_byte(sink, raw[i + 1], false) != 0) return 1;
        if (!sink_full(*sink) && put_sample_byte(sink, raw[i], false) != 0) return 1;
    }
    if (i < n && !sink_full(*sink)) sink->pending = raw[i];
    return 0;
}

// Decodes whole groups of 4 characters, after any byte left from the last
// piece. 0, or 1 after a message.
int decode_groups(const char* text, int length, SampleSink* sink) {
    uint8_t raw[DATA_PIECE_LIMIT / CHARS_PER_GROUP * BYTES_PER_GROUP + 1];
    int n = 0;
    if (sink->pending >= 0) {
        raw[n++] = static_cast<uint8_t>(sink->pending);
        sink->pending = -1;
    }
    int p = decode_groups_wide(text, length, raw + n);
    n += p / CHARS_PER_GROUP * BYTES_PER_GROUP;
    sink->raw_bytes += p / CHARS_PER_GROUP * BYTES_PER_GROUP;
    for (; p + CHARS_PER_GROUP <= length; p += CHARS_PER_GROUP) {
        int v[CHARS_PER_GROUP];
        for (int c = 0; c < CHARS_PER_GROUP; ++c) v[c] = static_cast<unsigned char>(text[p + c]) - LOWEST_DATA_CHAR;
        raw[n++] = static_cast<uint8_t>(v[0] | v[1] << BITS_PER_CHAR);
        raw[n++] = static_cast<uint8_t>(v[1] >> 2 | v[2] << 4);
        raw[n++] = static_cast<uint8_t>(v[2] >> 4 | v[3] << 2);
        sink->raw_bytes += BYTES_PER_GROUP;
    }
    return put_raw_bytes(sink, raw, n);
}

bool is_data_character(int c) { return c >= LOWEST_DATA_CHAR && c <= HIGHEST_DATA_CHAR; }

// The first of length characters that is not " " to "_", or length.
int first_non_data_character(const char* text, int length) {
    int p = data_chars_wide(text, length);
    while (p < length && is_data_character(static_cast<unsigned char>(text[p]))) ++p;
    return p;
}

// Checks that every character of a data piece is " " to "_". 0, or 1 after
// a message.
int check_characters(const char* text, int length, long line_number) {
    const int p = first_non_data_character(text, length);
    if (p == length) return 0;
    tell(MessageKind::PROBLEM, "Corrupt work unit: data on line %ld holds character %d, outside \" \" to \"_\".\n",
         line_number, static_cast<unsigned char>(text[p]));
    return 1;
}

// Reads the data lines up to </data> or the end of the file, until the
// declared count is reached. 0, or 1 after a message.
int read_data(PieceSource* source, const char* path, long line_number, SampleSink* sink) {
    char piece[DATA_PIECE_LIMIT];
    long line_length = 0;   // characters of the current line so far
    PieceStatus status = PieceStatus::READ;
    while (status == PieceStatus::READ && !sink_full(*sink)) {
        int length = 0;
        status = read_piece(source, piece, DATA_PIECE_LIMIT, &length);
        if (status == PieceStatus::ERROR) {
            report_read_error(path);
            return 1;
        }
        const bool line_ended = length > 0 && piece[length - 1] == '\n';
        const int text_length = line_ended ? length - 1 : length;
        // </data> ends the data, on a line of its own or right after the
        // last data characters (it holds letters, which data never does, so
        // a piece of data characters alone needs no search).
        const bool only_data = first_non_data_character(piece, text_length) == text_length;
        const char* end_tag = only_data ? nullptr : std::strstr(piece, DATA_END_TAG);
        if (end_tag != nullptr) {
            const int before = static_cast<int>(end_tag - piece);
            const bool only_blanks = std::all_of(static_cast<const char*>(piece), end_tag, [](char c) { return c == ' ' || c == '\t'; });
            const int data_length = line_length == 0 && only_blanks ? 0 : before;
            if (check_characters(piece, data_length, line_number + 1) != 0) return 1;
            if ((line_length + data_length) % CHARS_PER_GROUP != 0) {
                tell(MessageKind::PROBLEM, "Corrupt work unit: data on line %ld has %ld characters, not a multiple of 4.\n",
                     line_number + 1, line_length + data_length);
                return 1;
            }
            if (decode_groups(piece, data_length, sink) != 0) return 1;
            break;
        }
        if (!only_data && check_characters(piece, text_length, line_number + 1) != 0) return 1;
        line_length += text_length;
        if ((line_ended || status == PieceStatus::AT_END) && line_length % CHARS_PER_GROUP != 0) {
            tell(MessageKind::PROBLEM, "Corrupt work unit: data on line %ld has %ld characters, not a multiple of 4.\n",
                        line_number + 1, line_length);
            return 1;
        }
        if (decode_groups(piece, text_length, sink) != 0) return 1;
        if (line_ended) {
            ++line_number;
            line_length = 0;
        }
    }
    // An odd last byte has no partner: its sample byte is silence, and the
    // sample byte after it is the last raw byte.
    if (sink->pending >= 0 && !sink_full(*sink)) {
        const int odd = sink->pending;
        if (put_sample_byte(sink, 0, true) != 0) return 1;
        if (!sink_full(*sink) && put_sample_byte(sink, odd, false) != 0) return 1;
    }
    return 0;
}

}  // namespace

int read_later_work_unit(std::FILE* file, const char* path, SampleStreams* streams, WorkUnitInfo* info) {
    PieceSource source(file);
    int32_t declared_count = 0;
    bool count_assumed = false;
    long line_number = 0;
    if (read_later_header(&source, path, info, &declared_count, &count_assumed, &line_number) != 0) return 1;
    if (streams == nullptr) return 0;

    const int32_t initial = declared_count < INITIAL_CAPACITY ? declared_count : INITIAL_CAPACITY;
    streams->count = 0;
    if (reserve_streams(streams, initial) != 0) return 1;
    streams->levels = info->bits_per_sample == 4 ? FOUR_BIT_LEVELS : nullptr;
    SampleSink sink{streams, info->bits_per_sample == 4 ? &four_bit_table : &two_bit_table,
                    8 / info->bits_per_sample, declared_count};
    if (read_data(&source, path, line_number, &sink) != 0) return 1;

    const int64_t available = sink.raw_bytes * sink.samples_per_byte;
    if (available < int64_t{declared_count} - SHORT_DATA_ALLOWANCE) {
        tell(MessageKind::PROBLEM, "Corrupt work unit: its data holds %lld samples, far fewer than the %d %s.\n",
             static_cast<long long>(available), declared_count, count_assumed ? "assumed" : "declared");
        return 1;
    }
    // The rest of a unit that ends a little early plays as silence: zero.
    if (streams->count < declared_count) {
        if (sink.first_silent < 0) sink.first_silent = streams->count;
        if (reserve_streams(streams, declared_count) != 0) return 1;
        const size_t rest = static_cast<size_t>(declared_count - streams->count);
        std::memset(streams->in_phase + streams->count, 0, rest);
        std::memset(streams->quadrature + streams->count, 0, rest);
    }
    streams->count = declared_count;
    const int64_t missing = declared_count - sink.real_samples;
    if (missing > 0) {
        info->silent_samples = static_cast<int32_t>(missing);
        info->first_silent_sample = sink.first_silent;
        tell(MessageKind::NOTE, "%lld samples missing from the data are played as silence.\n", static_cast<long long>(missing));
    }
    return 0;
}

}  // namespace okrelt
