#include "common/utf8.h"

#include <cstddef>

namespace okrelt {

namespace {

constexpr unsigned char CONTINUATION_MASK = 0xc0;
constexpr unsigned char CONTINUATION_BITS = 0x80;

bool continuation(unsigned char byte) { return (byte & CONTINUATION_MASK) == CONTINUATION_BITS; }

// The length of the valid UTF-8 sequence starting at text[at], or 0 if none
// starts there (RFC 3629's table of well-formed byte sequences).
size_t sequence_length(const std::string& text, size_t at) {
    const auto byte = [&](size_t i) { return static_cast<unsigned char>(text[at + i]); };
    const size_t left = text.size() - at;
    const unsigned char lead = byte(0);
    if (lead < 0x80) return 1;
    size_t length = 0;
    unsigned char second_low = 0x80;    // the second byte's range, narrowed for some leads
    unsigned char second_high = 0xbf;
    if (lead >= 0xc2 && lead <= 0xdf) {
        length = 2;
    } else if (lead >= 0xe0 && lead <= 0xef) {
        length = 3;
        if (lead == 0xe0) second_low = 0xa0;    // no overlong form
        if (lead == 0xed) second_high = 0x9f;   // no surrogate
    } else if (lead >= 0xf0 && lead <= 0xf4) {
        length = 4;
        if (lead == 0xf0) second_low = 0x90;    // no overlong form
        if (lead == 0xf4) second_high = 0x8f;   // nothing above U+10FFFF
    } else {
        return 0;
    }
    if (left < length || byte(1) < second_low || byte(1) > second_high) return 0;
    for (size_t i = 2; i < length; ++i) {
        if (!continuation(byte(i))) return 0;
    }
    return length;
}

}  // namespace

bool valid_utf8(const std::string& text) {
    for (size_t at = 0; at < text.size();) {
        const size_t length = sequence_length(text, at);
        if (length == 0) return false;
        at += length;
    }
    return true;
}

std::string replacing_invalid_utf8(const std::string& text) {
    if (valid_utf8(text)) return text;
    std::string shown;
    for (size_t at = 0; at < text.size();) {
        const size_t length = sequence_length(text, at);
        if (length == 0) {
            shown += REPLACEMENT_CHARACTER;
            ++at;
        } else {
            shown.append(text, at, length);
            at += length;
        }
    }
    return shown;
}

}  // namespace okrelt
