// The later, XML-wrapped format's reader. The header is not strict XML (an
// unquoted attribute, <name> and <sample_rate> more than once), so fields are
// found as the first element of their name inside the section that owns them;
// a start tag may carry attributes or blanks before its ">".
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
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "common/messages.h"
#include "common/numbers.h"
#include "workunit/format.h"
#include "workunit/header_values.h"
#include "workunit/reader.h"
#include "workunit/reader_internal.h"

namespace okrelt {

const double FOUR_BIT_LEVELS[LEVEL_TABLE_SIZE] = {
    0.0, FOUR_BIT_INNER_LEVEL, FOUR_BIT_OUTER_LEVEL, 0.0, 0.0, 0.0, -FOUR_BIT_OUTER_LEVEL, -FOUR_BIT_INNER_LEVEL};

namespace {

constexpr size_t MAX_HEADER_BYTES = size_t{1} << 20;   // real headers are below 16 KiB
constexpr int DATA_PIECE_LIMIT = 4097;    // 4096 characters a piece: whole groups of 4
constexpr int32_t INITIAL_CAPACITY = int32_t{1} << 20;   // grown as data arrives, never beyond nsamples
constexpr int32_t SHORT_DATA_ALLOWANCE = 65535;   // fewer missing samples play as silence
constexpr int MAX_SAMPLES_PER_BYTE = 4;
constexpr int BYTE_VALUES = 256;

// The first start tag <tag> (or <tag attributes>, <tag >, <tag/>) at or
// after from: *start is its "<", *content the first character after its ">".
// *empty for a self-closing tag. False if there is none.
bool find_start_tag(const std::string& text, size_t from, const char* tag, size_t* start, size_t* content,
                    bool* empty) {
    const std::string open = std::string("<") + tag;
    for (size_t at = text.find(open, from); at != std::string::npos; at = text.find(open, at + 1)) {
        const size_t after = at + open.size();
        if (after >= text.size() || !(text[after] == '>' || text[after] == '/' || is_blank(text[after]))) continue;
        const size_t close = text.find('>', after);
        if (close == std::string::npos) return false;
        *start = at;
        *content = close + 1;
        *empty = text[close - 1] == '/';
        return true;
    }
    return false;
}

// The first end tag </tag> (or </tag >) at or after from; npos if none.
size_t find_end_tag(const std::string& text, size_t from, const char* tag) {
    const std::string close = std::string("</") + tag;
    for (size_t at = text.find(close, from); at != std::string::npos; at = text.find(close, at + 1)) {
        size_t after = at + close.size();
        while (after < text.size() && is_blank(text[after])) ++after;
        if (after < text.size() && text[after] == '>') return at;
    }
    return std::string::npos;
}

// The text of the first <tag>...</tag> that starts inside [from, to),
// trimmed. False if there is none.
bool find_element(const std::string& header, size_t from, size_t to, const char* tag, std::string* value) {
    size_t start = 0;
    size_t content = 0;
    bool empty = false;
    if (!find_start_tag(header, from, tag, &start, &content, &empty) || start >= to) return false;
    if (empty) {
        value->clear();
        return true;
    }
    const size_t end = find_end_tag(header, content, tag);
    if (end == std::string::npos || end > to) return false;
    *value = trimmed(header, content, end);
    return true;
}

// The range of the first <tag>...</tag> section, or [0, 0) if there is none.
void find_section(const std::string& header, const char* tag, size_t* from, size_t* to) {
    *from = 0;
    *to = 0;
    size_t start = 0;
    size_t content = 0;
    bool empty = false;
    if (!find_start_tag(header, 0, tag, &start, &content, &empty) || empty) return;
    const size_t end = find_end_tag(header, content, tag);
    *from = content;
    *to = end == std::string::npos ? header.size() : end;
}

// The value of the encoding attribute of the data tag's line, quoted or not.
std::string encoding_of(const std::string& tag_line) {
    const size_t key = tag_line.find("encoding=");
    if (key == std::string::npos) return "";
    size_t at = key + std::strlen("encoding=");
    if (at < tag_line.size() && (tag_line[at] == '"' || tag_line[at] == '\'')) {
        const char quote = tag_line[at++];
        const size_t end = tag_line.find(quote, at);
        return end == std::string::npos ? "" : tag_line.substr(at, end - at);
    }
    size_t end = at;
    while (end < tag_line.size() && !is_blank(tag_line[end]) && tag_line[end] != '>') ++end;
    return tag_line.substr(at, end - at);
}

// True if the line, leading blanks skipped, starts with the tag; for "<data"
// the tag name must end there, at a ">", a blank or the line's end (the
// attributes may follow on the next lines).
bool line_starts_with_tag(const char* line, const char* tag) {
    while (*line == ' ' || *line == '\t') ++line;
    const size_t length = std::strlen(tag);
    if (std::strncmp(line, tag, length) != 0) return false;
    const char next = line[length];
    return tag[length - 1] == '>' || next == '>' || is_blank(next);
}

// Reads whole lines into header until the data tag's line, which goes to
// tag_line. *line_number counts the lines read. 0, or 1 after a message.
int read_header(PieceSource* source, const char* path, std::string* header, std::string* tag_line, long* line_number) {
    char piece[DATA_PIECE_LIMIT];
    std::string line;
    for (;;) {
        int length = 0;
        const int status = read_piece(source, piece, DATA_PIECE_LIMIT, &length);
        if (status == PIECE_ERROR) {
            report_read_error(path);
            return 1;
        }
        line.append(piece, static_cast<size_t>(length));
        const bool line_ended = length > 0 && piece[length - 1] == '\n';
        if (line_ended || status == PIECE_AT_END) {
            ++*line_number;
            // The data tag may run over several lines, up to its ">".
            if (!tag_line->empty() || line_starts_with_tag(line.c_str(), DATA_TAG)) {
                *tag_line += line;
                if (tag_line->find('>') != std::string::npos) return 0;
            } else {
                *header += line;
            }
            line.clear();
        }
        if (header->size() + tag_line->size() + line.size() > MAX_HEADER_BYTES) {
            tell(MESSAGE_PROBLEM, "Corrupt work unit: no <data> tag in its first %zu bytes.\n", MAX_HEADER_BYTES);
            return 1;
        }
        if (status == PIECE_AT_END) {
            tell(MESSAGE_PROBLEM, "Corrupt work unit: no <data> tag.\n");
            return 1;
        }
    }
}

// The receiver's name and place. <glon>, <glat>, <galt> count longitude
// east; where a unit lacks them, <longitude>, <latitude>, <elevation> are
// taken as they stand (Arecibo's counts east too; Green Bank's west, which is
// why its <glon> is preferred).
void read_receiver(const std::string& header, WorkUnitInfo* info) {
    size_t from = 0;
    size_t to = 0;
    find_section(header, "receiver_cfg", &from, &to);
    if (from >= to) return;
    (void)find_element(header, from, to, "name", &info->receiver);
    std::string lon;
    std::string lat;
    std::string alt;
    const bool global = find_element(header, from, to, "glon", &lon) && find_element(header, from, to, "glat", &lat);
    if (global) {
        (void)find_element(header, from, to, "galt", &alt);
    } else if (!(find_element(header, from, to, "longitude", &lon) && find_element(header, from, to, "latitude", &lat))) {
        return;
    } else {
        (void)find_element(header, from, to, "elevation", &alt);
    }
    info->geolocation_known = parse_real(lon, &info->longitude) && parse_real(lat, &info->latitude);
    info->altitude_known = info->geolocation_known && parse_real(alt, &info->altitude);
}

// Reads the fields the conversion needs into info and *declared_count
// (*assumed: the default, the header giving no usable count), printing the
// unit's line and the count. 0, or 1 after printing why the unit is refused.
int parse_header(const std::string& header, const std::string& tag_line, const char* path, WorkUnitInfo* info,
                 int32_t* declared_count, bool* assumed) {
    info->later_format = true;
    std::string text;
    const std::string encoding = encoding_of(tag_line);
    if (encoding != DATA_ENCODING) {
        tell(MESSAGE_PROBLEM, "Work unit refused: its data is encoded as \"%s\"; %s reads \"%s\" only.\n",
                    encoding.c_str(), program_name(), DATA_ENCODING);
        return 1;
    }

    size_t from = 0;
    size_t to = 0;
    find_section(header, "splitter_cfg", &from, &to);
    info->bits_per_sample = DEFAULT_BITS_PER_SAMPLE;
    if (find_element(header, from, to, "wu_bits_per_sample", &text)) {
        // 0 stands for the default depth.
        int64_t bits = 0;
        if (!parse_integer(text, 0, INT32_MAX, &bits) || !(bits == 0 || bits == 2 || bits == 4)) {
            tell(MESSAGE_PROBLEM, "Work unit refused: <wu_bits_per_sample> is \"%s\"; %s reads 2 or 4 bits per sample.\n",
                        text.c_str(), program_name());
            return 1;
        }
        if (bits != 0) info->bits_per_sample = static_cast<int>(bits);
    }

    find_section(header, "subband_desc", &from, &to);
    char default_rate[32];
    std::snprintf(default_rate, sizeof default_rate, "%.10g", DEFAULT_SUBBAND_RATE);
    std::string rate_text = default_rate;
    if (find_element(header, from, to, "sample_rate", &text)) {
        rate_text = text;
        double rate = 0.0;
        if (!parse_real(text, &rate) || !plausible_subband_rate(rate)) {
            tell(MESSAGE_PROBLEM, "Work unit refused: sub-band <sample_rate> \"%s\" does not give a sound rate of %u to %u Hz.\n",
                        text.c_str(), MIN_SOUND_RATE, MAX_SOUND_RATE);
            return 1;
        }
        info->subband_rate = rate;
        info->subband_rate_known = true;
        info->sound_rate = static_cast<uint32_t>(std::round(2.0 * rate));
    }
    if (find_element(header, from, to, "center", &text) && parse_real(text, &info->center_hz)) {
        info->center_known = true;
    }
    if (!find_element(header, 0, header.size(), "name", &info->name)) info->name.clear();
    (void)find_element(header, 0, header.size(), "time_recorded", &info->time_recorded);
    (void)find_element(header, 0, header.size(), "start_ra", &info->start_ra);
    (void)find_element(header, 0, header.size(), "start_dec", &info->start_dec);
    (void)find_element(header, 0, header.size(), "end_ra", &info->end_ra);
    (void)find_element(header, 0, header.size(), "end_dec", &info->end_dec);
    if (find_element(header, 0, header.size(), "time_recorded_jd", &text)) {
        info->time_recorded_jd_known = parse_real(text, &info->time_recorded_jd);
    }
    find_section(header, "tape_info", &from, &to);
    if (from < to) (void)find_element(header, from, to, "name", &info->tape_name);
    read_receiver(header, info);

    tell(MESSAGE_NOTE, "Work unit %s: %d bits per sample, %s Hz\n", info->name.empty() ? path : info->name.c_str(),
                info->bits_per_sample, rate_text.c_str());
    leave_out_implausible_values(info);
    // One line says which count is read: the header's, or the default where
    // the header has none, an unreadable one or one of 0 or below.
    *declared_count = DEFAULT_NSAMPLES;
    *assumed = true;
    int64_t count = 0;
    if (!find_element(header, 0, header.size(), "nsamples", &text)) {
        tell(MESSAGE_NOTE, "nsamples= header not found, assuming default of 1048576 samples.\n");
    } else if (!parse_integer(text, INT32_MIN, INT32_MAX, &count)) {
        tell(MESSAGE_NOTE, "Failed to parse nsamples= header, assuming default of 1048576 samples.\n");
    } else if (count <= 0) {
        tell(MESSAGE_NOTE, "nsamples=%d declares no samples, assuming default of 1048576 samples.\n",
             static_cast<int32_t>(count));
    } else {
        tell(MESSAGE_NOTE, "nsamples=%d\n", static_cast<int32_t>(count));
        *declared_count = static_cast<int32_t>(count);
        *assumed = false;
    }
    return 0;
}

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
    tell(MESSAGE_PROBLEM, "Corrupt work unit: data on line %ld holds character %d, outside \" \" to \"_\".\n",
         line_number, static_cast<unsigned char>(text[p]));
    return 1;
}

// Reads the data lines up to </data> or the end of the file, until the
// declared count is reached. 0, or 1 after a message.
int read_data(PieceSource* source, const char* path, long line_number, SampleSink* sink) {
    char piece[DATA_PIECE_LIMIT];
    long line_length = 0;   // characters of the current line so far
    int status = PIECE_READ;
    while (status == PIECE_READ && !sink_full(*sink)) {
        int length = 0;
        status = read_piece(source, piece, DATA_PIECE_LIMIT, &length);
        if (status == PIECE_ERROR) {
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
                tell(MESSAGE_PROBLEM, "Corrupt work unit: data on line %ld has %ld characters, not a multiple of 4.\n",
                     line_number + 1, line_length + data_length);
                return 1;
            }
            if (decode_groups(piece, data_length, sink) != 0) return 1;
            break;
        }
        if (!only_data && check_characters(piece, text_length, line_number + 1) != 0) return 1;
        line_length += text_length;
        if ((line_ended || status == PIECE_AT_END) && line_length % CHARS_PER_GROUP != 0) {
            tell(MESSAGE_PROBLEM, "Corrupt work unit: data on line %ld has %ld characters, not a multiple of 4.\n",
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
    std::string header;
    std::string tag_line;
    long line_number = 0;
    PieceSource source(file);
    if (read_header(&source, path, &header, &tag_line, &line_number) != 0) return 1;
    int32_t declared_count = 0;
    bool count_assumed = false;
    if (parse_header(header, tag_line, path, info, &declared_count, &count_assumed) != 0) return 1;
    if (streams == nullptr) return 0;
    header.clear();
    header.shrink_to_fit();

    const int32_t initial = declared_count < INITIAL_CAPACITY ? declared_count : INITIAL_CAPACITY;
    streams->count = 0;
    if (reserve_streams(streams, initial) != 0) return 1;
    streams->levels = info->bits_per_sample == 4 ? FOUR_BIT_LEVELS : nullptr;
    SampleSink sink{streams, info->bits_per_sample == 4 ? &four_bit_table : &two_bit_table,
                    8 / info->bits_per_sample, declared_count};
    if (read_data(&source, path, line_number, &sink) != 0) return 1;

    const int64_t available = sink.raw_bytes * sink.samples_per_byte;
    if (available < int64_t{declared_count} - SHORT_DATA_ALLOWANCE) {
        tell(MESSAGE_PROBLEM, "Corrupt work unit: its data holds %lld samples, far fewer than the %d %s.\n",
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
        tell(MESSAGE_NOTE, "%lld samples missing from the data are played as silence.\n", static_cast<long long>(missing));
    }
    return 0;
}

}  // namespace okrelt
