// UTF-8 text: file names and header text come as bytes, which JSON and
// cairo take only as valid UTF-8. Invalid bytes (a Latin-1 "café.wu") are
// shown as U+FFFD, the replacement character, rather than refused.
#pragma once

#include <string>

namespace okrelt {

constexpr const char* REPLACEMENT_CHARACTER = "\xef\xbf\xbd";   // U+FFFD in UTF-8

// True if text is valid UTF-8: no stray continuation byte, no overlong form,
// no surrogate, nothing above U+10FFFF.
bool valid_utf8(const std::string& text);

// text with every byte that starts no valid UTF-8 sequence replaced by
// U+FFFD; valid text comes back unchanged.
std::string replacing_invalid_utf8(const std::string& text);

}  // namespace okrelt
