#include "common/numbers.h"

#include <charconv>
#include <cmath>
#include <system_error>

namespace okrelt {

namespace {

// from_chars takes a minus but no plus: the plus is dropped here, and a
// second sign after it refused.
const char* skip_plus(const std::string& text) {
    const char* first = text.c_str();
    if (*first == '+' && first[1] != '-' && first[1] != '+') ++first;
    return first;
}

}  // namespace

bool parse_integer(const std::string& text, int64_t low, int64_t high, int64_t* value) {
    const char* first = skip_plus(text);
    const char* last = text.c_str() + text.size();
    int64_t parsed = 0;
    const auto [end, error] = std::from_chars(first, last, parsed, 10);
    if (error != std::errc() || end != last || parsed < low || parsed > high) return false;
    *value = parsed;
    return true;
}

bool parse_real(const std::string& text, double* value) {
    const char* first = skip_plus(text);
    const char* last = text.c_str() + text.size();
    double parsed = 0.0;
    const auto [end, error] = std::from_chars(first, last, parsed, std::chars_format::general);
    if (error != std::errc() || end != last || !std::isfinite(parsed)) return false;
    *value = parsed;
    return true;
}

std::optional<double> real_value(const std::string& text) {
    double value = 0.0;
    if (!parse_real(text, &value)) return std::nullopt;
    return value;
}

std::string real_text(double value) {
    char text[32];
    const auto [end, error] = std::to_chars(text, text + sizeof text, value);
    return error == std::errc() ? std::string(text, end) : std::string();
}

}  // namespace okrelt
