// Inside the reader: what the classic reader, the later-format reader and the
// format detection share.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "workunit/reader.h"

namespace okrelt {

// Results of one piece read.
enum class PieceStatus { READ, AT_END, ERROR };

constexpr size_t PIECE_SOURCE_BYTES = 16384;   // read from the file at a time
constexpr int DATA_PIECE_LIMIT = 4097;          // the later format's pieces: 4096 characters, whole groups of 4

// A stream read piece by piece through a buffer of its own, so that a piece
// is found with memchr and copied whole rather than taken a character at a
// time. Reads ahead: once pieces are read from a stream, everything after
// them is read through its source.
struct PieceSource {
    explicit PieceSource(std::FILE* stream) : file(stream) {}
    std::FILE* file;
    size_t at = 0;    // the next character in text
    size_t end = 0;   // characters in text
    char text[PIECE_SOURCE_BYTES];
};

// Reads up to limit - 1 characters into buffer, stopping after a newline;
// a carriage return directly before a newline is folded into it. The buffer is
// NUL-terminated and *length holds the characters delivered. PieceStatus::AT_END
// means the end of the file came before a newline or the limit.
[[nodiscard]] PieceStatus read_piece(PieceSource* source, char* buffer, int limit, int* length);

// White space as the later format's header and a link's line may hold it.
inline bool is_blank(int c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f'; }

inline bool is_digit(int c) { return c >= '0' && c <= '9'; }

// text[from, to) without the white space around it.
inline std::string trimmed(const std::string& text, size_t from, size_t to) {
    while (from < to && is_blank(text[from])) ++from;
    while (to > from && is_blank(text[to - 1])) --to;
    return text.substr(from, to - from);
}

// Data decoded many at a time, where the processor has SSSE3 (elsewhere
// each function does nothing and returns 0): characters and raw bytes go
// in runs of WIDE_DECODE_CHARS, pairs of raw bytes in runs of
// WIDE_DECODE_PAIRS. Each returns how many it took, the rest being left to
// the caller, and writes nothing beyond what those make.
constexpr int WIDE_DECODE_CHARS = 16;
constexpr int WIDE_DECODE_PAIRS = 8;

// Classic: SAMPLES_PER_CHAR samples a stream for each of up to `chars`
// characters (see format.h).
int decode_chars_wide(const char* text, int chars, int8_t* in_phase, int8_t* quadrature);

// Later: how many of the first `chars` characters, in whole runs, are all
// data characters (" " to "_"); the run holding another is not counted.
int data_chars_wide(const char* text, int chars);

// Later: BYTES_PER_GROUP raw bytes for each group of CHARS_PER_GROUP of up
// to `chars` data characters, which must all be " " to "_".
int decode_groups_wide(const char* text, int chars, uint8_t* raw);

// Later, 2 bits a sample: for each of up to `pairs` pairs of raw bytes, the
// odd byte's four samples a stream, then the even one's.
int two_bit_pairs_wide(const uint8_t* raw, int pairs, int8_t* in_phase, int8_t* quadrature);

// Prints "Error reading <path>: <reason>" on standard error.
void report_read_error(const char* path);

// Makes each stream hold at least capacity samples plus SPARE_SAMPLES, keeping
// its first count samples; what lies past them is left as an earlier unit
// wrote it, so a reader writes every sample it counts. Prints "Memory
// allocation failed.\n" and returns 1 if it can't.
[[nodiscard]] int reserve_streams(SampleStreams* streams, int32_t capacity);

// The classic format, from an open stream at its start; info (if not null)
// receives what the header says about the recording.
[[nodiscard]] int read_classic_work_unit(std::FILE* file, const char* path, SampleStreams* streams,
                                         WorkUnitInfo* info);

// The later format's header, from source at the file's start through the
// data tag's line: the fields the conversion needs into info, the sample
// count into *declared_count (*assumed: the default, the header giving none
// usable), and in *line_number the lines read. Prints the unit's line and the
// count. 0, or 1 after printing why the unit is refused.
[[nodiscard]] int read_later_header(PieceSource* source, const char* path, WorkUnitInfo* info,
                                    int32_t* declared_count, bool* assumed, long* line_number);

// The later format, from an open stream at its start.
[[nodiscard]] int read_later_work_unit(std::FILE* file, const char* path, SampleStreams* streams,
                                       WorkUnitInfo* info);

}  // namespace okrelt
