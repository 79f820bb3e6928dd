// Numbers as text, the same whatever the C locale says: header fields,
// option values and the numbers the programs write.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace okrelt {

// A whole text that is a decimal integer: an optional sign, then digits
// (leading zeros allowed), nothing else. False if it is not, or if the value
// lies outside [low, high].
[[nodiscard]] bool parse_integer(const std::string& text, int64_t low, int64_t high, int64_t* value);

// A whole text that is a finite decimal number (an optional sign, digits, a
// point, an exponent). False otherwise.
[[nodiscard]] bool parse_real(const std::string& text, double* value);

// The value of text as parse_real reads it, or none.
std::optional<double> real_value(const std::string& text);

// The shortest text that reads back as exactly value ("9765.625").
std::string real_text(double value);

}  // namespace okrelt
