// The two work-unit formats as text, shared by the reader and the writer.
#pragma once

#include <cstdint>

namespace okrelt {

// Classic: header lines, the end marker, then three complex 1-bit samples per
// character (bit pairs from the lowest: in-phase bit, quadrature bit).
constexpr const char* END_OF_HEADER_MARK = "end_seti_header";
constexpr const char* NSAMPLES_KEY = "nsamples";
constexpr int SAMPLES_PER_CHAR = 3;
constexpr int CODE_OFFSET = 32;          // " " is code 0
constexpr int CODE_MASK = 63;            // only the low six bits of a character count

// Later: an XML-like header, then <data encoding="x-setiathome"> lines in
// which every 4 characters (" " to "_", 6 bits each) carry 3 bytes, the
// bytes swapped in pairs (16-bit words written high byte first).
constexpr const char* WORK_UNIT_TAG = "<workunit";
constexpr const char* SOFT_LINK_TAG = "<soft_link>";
constexpr const char* SOFT_LINK_END_TAG = "</soft_link>";
constexpr const char* DATA_TAG = "<data";
constexpr const char* DATA_END_TAG = "</data>";
constexpr const char* DATA_ENCODING = "x-setiathome";
constexpr int CHARS_PER_GROUP = 4;
constexpr int BYTES_PER_GROUP = 3;
constexpr int BITS_PER_CHAR = 6;
constexpr int LOWEST_DATA_CHAR = ' ';
constexpr int HIGHEST_DATA_CHAR = '_';
constexpr int DEFAULT_BITS_PER_SAMPLE = 2;     // when the header names none, or 0

// 4-bit levels: the client's (-3.335875, -1, 1, 3.335875) halved, so that a
// 4-bit unit's noise has about the power of a 2-bit unit's.
constexpr double FOUR_BIT_OUTER_LEVEL = 1.6679375;
constexpr double FOUR_BIT_INNER_LEVEL = 0.5;

}  // namespace okrelt
