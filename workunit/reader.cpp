// The classic format's reader, and the piece reading both formats use.
#include "workunit/reader.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>

#include "common/memory.h"
#include "common/messages.h"
#include "common/numbers.h"
#include "workunit/format.h"
#include "workunit/header_values.h"
#include "workunit/reader_internal.h"

namespace okrelt {

namespace {

constexpr int LINE_BUFFER_SIZE = 100;   // a header line's or a data read's text, at most, and its end
constexpr int HEADER_READ_LIMIT = 66;   // at most 65 characters of text per header read
constexpr int DATA_READ_LIMIT = 100;    // at most 99 characters of text per data read

constexpr int32_t LARGEST_COUNT = INT32_MAX;
constexpr int64_t LARGEST_MAGNITUDE = int64_t{INT32_MAX} + 1;  // -2147483648 still fits
constexpr int DECIMAL_BASE = 10;

// Reads the next stretch of the file into the source's text, which must all
// have been taken. False at the end of the file or on an error.
bool refill(PieceSource* source) {
    source->at = 0;
    errno = 0;   // read by the report of a failed read
    source->end = std::fread(source->text, 1, sizeof source->text, source->file);
    return source->end != 0;
}

// The first newline or carriage return among the size characters at text,
// or null.
const char* line_end_within(const char* text, size_t size) {
    const void* newline = std::memchr(text, '\n', size);
    const size_t before = newline != nullptr ? static_cast<size_t>(static_cast<const char*>(newline) - text) : size;
    const void* carriage_return = std::memchr(text, '\r', before);
    return static_cast<const char*>(carriage_return != nullptr ? carriage_return : newline);
}

// Reads the decimal number after "nsamples": "=", white space, an optional
// sign, then digits up to the first other character. A number outside the
// 32-bit signed range cannot be read. Returns 0 with *value set, 1 otherwise.
int parse_declared_count(const char* text, int32_t* value) {
    if (*text != '=') return 1;
    ++text;
    while (is_blank(*text)) ++text;
    bool negative = false;
    if (*text == '+' || *text == '-') {
        negative = *text == '-';
        ++text;
    }
    if (!is_digit(*text)) return 1;
    int64_t magnitude = 0;
    while (is_digit(*text)) {
        magnitude = magnitude * DECIMAL_BASE + (*text - '0');
        if (magnitude > LARGEST_MAGNITUDE) return 1;
        ++text;
    }
    if (negative) {
        *value = static_cast<int32_t>(-magnitude);
    } else {
        if (magnitude > LARGEST_COUNT) return 1;
        *value = static_cast<int32_t>(magnitude);
    }
    return 0;
}

// The text after "key=" at the start of a header piece, without its line
// end and surrounding blanks. False if the piece holds another key.
bool header_value(const char* piece, const char* key, std::string* value) {
    const size_t length = std::strlen(key);
    if (std::strncmp(piece, key, length) != 0 || piece[length] != '=') return false;
    const std::string text(piece + length + 1);
    *value = trimmed(text, 0, text.size());
    return true;
}

// Keeps what a classic header says about the recording; the conversion uses
// none of it (a classic unit always plays at the usual rate).
void note_header_field(const char* piece, WorkUnitInfo* info) {
    std::string text;
    if (header_value(piece, "name", &text)) info->name = text;
    if (header_value(piece, "receiver", &text)) info->receiver = text;
    if (header_value(piece, "time_recorded", &text)) {
        info->time_recorded = text;
        // Classic units give the Julian date first, the calendar date after it.
        info->time_recorded_jd = real_value(text.substr(0, text.find_first_of(" \t(")));
    }
    if (header_value(piece, "start_ra", &text)) info->start_ra_hours = real_value(text);
    if (header_value(piece, "start_dec", &text)) info->start_dec_degrees = real_value(text);
    if (header_value(piece, "subband_center", &text)) info->center_hz = real_value(text);
    // Values out of range are left out once the header is read.
    double rate = 0.0;
    if (header_value(piece, "subband_sample_rate", &text) && parse_real(text, &rate)) {
        info->subband_rate = rate;
        info->subband_rate_known = true;
    }
}

// Scans header pieces until the end marker. 0 with *declared_count set.
int scan_header(PieceSource* source, const char* path, int32_t* declared_count, WorkUnitInfo* info) {
    const size_t key_length = std::strlen(NSAMPLES_KEY);
    const size_t mark_length = std::strlen(END_OF_HEADER_MARK);
    char line_buffer[LINE_BUFFER_SIZE];
    *declared_count = 0;
    for (;;) {
        int length = 0;
        const PieceStatus status = read_piece(source, line_buffer, HEADER_READ_LIMIT, &length);
        if (status == PieceStatus::ERROR) {
            report_read_error(path);
            return 1;
        }
        // A last line without a newline counts as the end of the file, even
        // when it is the end marker itself.
        if (status == PieceStatus::AT_END) {
            tell(MessageKind::PROBLEM, "Unexpected end of WU while searching for end_seti_header\n");
            return 1;
        }
        if (info != nullptr) note_header_field(line_buffer, info);
        if (std::strncmp(line_buffer, NSAMPLES_KEY, key_length) == 0) {
            if (parse_declared_count(line_buffer + key_length, declared_count) != 0) {
                tell(MessageKind::NOTE, "Failed to parse nsamples= header, assuming default of 1048576 samples.\n");
                *declared_count = DEFAULT_NSAMPLES;
            }
            tell(MessageKind::NOTE, "nsamples=%d\n", *declared_count);
        }
        if (std::strncmp(line_buffer, END_OF_HEADER_MARK, mark_length) == 0) break;
    }
    if (info != nullptr) leave_out_implausible_values(info);
    // A count of 0 or below cannot size the streams: treat it as missing.
    if (*declared_count <= 0) {
        tell(MessageKind::NOTE, "nsamples= header not found, assuming default of 1048576 samples.\n");
        *declared_count = DEFAULT_NSAMPLES;
    }
    return 0;
}

// +1 for a non-zero masked bit of a code, -1 for zero.
int8_t decode_bit(int masked_value) { return masked_value != 0 ? 1 : -1; }

// The three samples of every code, so that whole pieces decode without a
// branch per sample, and a zero after them: a whole character is one
// four-byte copy per stream, its zero landing where the next character's
// samples go (or, after the last, on the stream's zeros).
constexpr int CODE_SAMPLES_COPIED = SAMPLES_PER_CHAR + 1;
struct CodeSamples {
    int8_t in_phase[CODE_SAMPLES_COPIED];
    int8_t quadrature[CODE_SAMPLES_COPIED];
};

struct CodeTable {
    CodeSamples codes[CODE_MASK + 1];
};

CodeTable make_code_table() {
    CodeTable table{};
    for (int code = 0; code <= CODE_MASK; ++code) {
        for (int pair = 0; pair < SAMPLES_PER_CHAR; ++pair) {
            const int in_phase_bit = 1 << (2 * pair);
            const int quadrature_bit = in_phase_bit << 1;
            table.codes[code].in_phase[pair] = decode_bit(code & in_phase_bit);
            table.codes[code].quadrature[pair] = decode_bit(code & quadrature_bit);
        }
    }
    return table;
}

const CodeTable code_table = make_code_table();

inline int code_of(char character) {
    return (static_cast<unsigned char>(character) - CODE_OFFSET) & CODE_MASK;
}

// Decodes every character of the piece but its last, stopping the moment
// count reaches declared_count, even inside a character.
void decode_piece(const char* text, int length, int32_t declared_count, SampleStreams* streams) {
    int8_t* in_phase = streams->in_phase;
    int8_t* quadrature = streams->quadrature;
    const int chars = length - 1;
    // Whole characters while they stay below the declared count, so that the
    // sample that reaches it is always met in the checked loop below (and the
    // zero copied after a whole character stays inside the stream): as many
    // as the processor can 16 at a time, the rest one by one.
    const int64_t room = (int64_t{declared_count} - streams->count - 1) / SAMPLES_PER_CHAR;
    const int whole = chars < room ? chars : static_cast<int>(room);
    int32_t count = streams->count;
    int p = decode_chars_wide(text, whole, in_phase + count, quadrature + count);
    count += SAMPLES_PER_CHAR * p;
    for (; p < whole; ++p) {
        const CodeSamples& samples = code_table.codes[code_of(text[p])];
        std::memcpy(in_phase + count, samples.in_phase, CODE_SAMPLES_COPIED);
        std::memcpy(quadrature + count, samples.quadrature, CODE_SAMPLES_COPIED);
        count += SAMPLES_PER_CHAR;
    }
    for (; p < chars; ++p) {
        const CodeSamples& samples = code_table.codes[code_of(text[p])];
        for (int pair = 0; pair < SAMPLES_PER_CHAR; ++pair) {
            in_phase[count] = samples.in_phase[pair];
            quadrature[count] = samples.quadrature[pair];
            ++count;
            if (count == declared_count) {
                streams->count = count;
                return;
            }
        }
    }
    streams->count = count;
}

}  // namespace

PieceStatus read_piece(PieceSource* source, char* buffer, int limit, int* length) {
    int n = 0;
    PieceStatus status = PieceStatus::READ;
    while (n < limit - 1) {
        if (source->at == source->end && !refill(source)) {
            status = std::ferror(source->file) ? PieceStatus::ERROR : PieceStatus::AT_END;
            break;
        }
        const char* from = source->text + source->at;
        const size_t room = std::min(source->end - source->at, static_cast<size_t>(limit - 1 - n));
        const char* stop = line_end_within(from, room);
        const size_t taken = stop != nullptr ? static_cast<size_t>(stop - from) : room;
        std::memcpy(buffer + n, from, taken);
        n += static_cast<int>(taken);
        source->at += taken;
        if (stop == nullptr) continue;
        ++source->at;
        if (*stop == '\n') {
            buffer[n++] = '\n';
            break;
        }
        // A carriage return, folded into a newline right after it, which
        // may start the next stretch of the file.
        if (source->at == source->end && !refill(source) && std::ferror(source->file)) {
            status = PieceStatus::ERROR;
            break;
        }
        if (source->at < source->end && source->text[source->at] == '\n') {
            ++source->at;
            buffer[n++] = '\n';
            break;
        }
        buffer[n++] = '\r';
    }
    buffer[n] = '\0';
    *length = n;
    return status;
}

int reserve_streams(SampleStreams* streams, int32_t capacity) {
    if (streams->in_phase != nullptr && capacity <= streams->capacity) return 0;
    // Computed in size_t: the largest count plus the spare bytes overflows int.
    const size_t bytes = static_cast<size_t>(capacity) + SPARE_SAMPLES;
    const size_t stride = (bytes + CACHE_LINE_BYTES - 1) / CACHE_LINE_BYTES * CACHE_LINE_BYTES;
    MappedMemory storage = map_big_array(2 * stride);
    if (!storage) {
        tell(MessageKind::PROBLEM, "Memory allocation failed.\n");
        return 1;
    }
    int8_t* const in_phase = static_cast<int8_t*>(storage.get());
    int8_t* const quadrature = in_phase + stride;
    if (streams->count > 0) {
        std::memcpy(in_phase, streams->in_phase, static_cast<size_t>(streams->count));
        std::memcpy(quadrature, streams->quadrature, static_cast<size_t>(streams->count));
    }
    streams->storage = std::move(storage);
    streams->in_phase = in_phase;
    streams->quadrature = quadrature;
    streams->capacity = capacity;
    return 0;
}

void report_read_error(const char* path) {
    std::string text = "Error reading ";
    text += path;
    tell_system_error(text.c_str(), errno != 0 ? errno : EIO);
}

int read_work_unit(std::FILE* file, SampleStreams* streams) {
    return read_classic_work_unit(file, WORK_UNIT_FILE_NAME, streams, nullptr);
}

int read_classic_work_unit(std::FILE* file, const char* path, SampleStreams* streams, WorkUnitInfo* info) {
    PieceSource source(file);
    int32_t declared_count = 0;
    if (scan_header(&source, path, &declared_count, info) != 0) return 1;
    if (streams == nullptr) return 0;

    streams->count = 0;
    if (reserve_streams(streams, declared_count) != 0) return 1;
    streams->levels = nullptr;   // every stored byte is its sample's value, whatever a unit before was

    char line_buffer[LINE_BUFFER_SIZE];
    int length = 0;
    PieceStatus status = read_piece(&source, line_buffer, DATA_READ_LIMIT, &length);
    // The text of the read that meets the end of the file is never decoded.
    while (status == PieceStatus::READ) {
        const int text_length = static_cast<int>(strnlen(line_buffer, static_cast<size_t>(length)));
        decode_piece(line_buffer, text_length, declared_count, streams);
        status = read_piece(&source, line_buffer, DATA_READ_LIMIT, &length);
        if (streams->count == declared_count) break;
    }
    if (status == PieceStatus::ERROR) {
        report_read_error(path);
        return 1;
    }
    return 0;
}

}  // namespace okrelt
