// Work-unit reader: scans the header of "work_unit.sah" for the sample count
// and decodes the character-encoded data into two streams of +1/-1 values.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>

#include "common/stdio_file.h"

namespace okrelt {

constexpr const char* WORK_UNIT_FILE_NAME = "work_unit.sah";
constexpr const char* END_OF_HEADER_MARK = "end_seti_header";
constexpr const char* NSAMPLES_KEY = "nsamples";
constexpr int32_t DEFAULT_NSAMPLES = 1048576;
constexpr int LINE_BUFFER_SIZE = 100;   // one buffer shared by header and data reads
constexpr int HEADER_READ_LIMIT = 66;   // at most 65 characters of text per header read
constexpr int DATA_READ_LIMIT = 100;    // at most 99 characters of text per data read
constexpr int SPARE_SAMPLES = 8;        // every stream holds declared count + this
constexpr int SAMPLES_PER_CHAR = 3;     // three (in-phase, quadrature) bit pairs per code
constexpr int CODE_OFFSET = 32;         // " " is code 0
constexpr int CODE_MASK = 63;           // only the low six bits of a character count

using SampleArray = std::unique_ptr<int8_t[], FreeDeleter>;

// The decoded work unit: sample k is in_phase[k] + i * quadrature[k].
struct SampleStreams {
    SampleArray in_phase;
    SampleArray quadrature;
    int32_t count = 0;        // samples decoded
    int32_t capacity = 0;     // samples each array can hold beyond the spare bytes
};

// Results of one piece read.
enum PieceStatus { PIECE_READ = 0, PIECE_AT_END = 1, PIECE_ERROR = 2 };

// Reads up to limit - 1 characters into buffer, stopping after a newline;
// a carriage return directly before a newline is folded into it. The buffer is
// NUL-terminated and *length holds the characters delivered. PIECE_AT_END
// means the end of the file came before a newline or the limit.
[[nodiscard]] int read_piece(std::FILE* file, char* buffer, int limit, int* length);

// +1 for a non-zero masked bit of a code, -1 for zero.
int8_t decode_bit(int masked_value);

// Reads a whole work unit from an open text stream at its start. Prints the
// header echo and any message itself; 0 with streams filled, 1 on failure.
[[nodiscard]] int read_work_unit(std::FILE* file, SampleStreams* streams);

}  // namespace okrelt
