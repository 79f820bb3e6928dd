// What the programs' command lines share: the usage-error convention and the
// names of files made from a work unit's name.
#pragma once

#include <cstdio>
#include <cstring>
#include <string>

namespace okrelt {

constexpr int EXIT_USAGE = 2;   // a command line that can't be followed

// Prints "<program>: <what>[: <value>]" and "Try '<program> --help'." on
// standard error; returns EXIT_USAGE.
inline int usage_error(const char* program, const char* what, const char* value = nullptr) {
    std::fflush(stdout);
    std::fprintf(stderr, "%s: %s%s%s\nTry '%s --help'.\n", program, what, value ? ": " : "", value ? value : "",
                 program);
    return EXIT_USAGE;
}

// The file name made from a work unit's path: its last component with ".sah"
// or ".wu" replaced by suffix, or suffix appended (BOINC names such as
// "01ja08aa.12345.6789.10.20.123" hold dots of their own).
inline std::string output_name(const std::string& unit_path, const char* suffix) {
    std::string name = unit_path.substr(unit_path.find_last_of('/') + 1);
    for (const char* ending : {".sah", ".wu"}) {
        const size_t length = std::strlen(ending);
        if (name.size() > length && name.compare(name.size() - length, length, ending) == 0) {
            name.resize(name.size() - length);
            break;
        }
    }
    return name + suffix;
}

// True if arg is the option, in either of its spellings.
inline bool is_option(const char* arg, const char* short_name, const char* long_name) {
    return (short_name != nullptr && std::strcmp(arg, short_name) == 0) || std::strcmp(arg, long_name) == 0;
}

}  // namespace okrelt
