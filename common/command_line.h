// What the programs' command lines share: one parser, glibc's getopt_long
// (short and long names, long names abbreviated to any unambiguous prefix,
// bundled short options such as -qo DIR, --name=value, options and operands
// in any order, -- ending the options), and the usage-error convention.
#pragma once

#include <string>
#include <vector>

#include "common/exit_status.h"

namespace okrelt {

constexpr int MAX_OPTION_VALUES = 2;

// An option a program takes: its id, short letter (0 for none), long name
// without the dashes, and how many values follow it.
struct OptionSpec {
    int id;
    char short_name;
    const char* long_name;
    int values;
};

// One option as given, with its values.
struct OptionUse {
    int id;
    const char* value[MAX_OPTION_VALUES];
};

struct ParsedCommandLine {
    std::vector<OptionUse> options;     // in the order given
    std::vector<std::string> operands;  // everything else ("-" included)
};

// Splits argv (which it may reorder) into the known options and operands. A
// value follows its option as the next word (even one starting with "-"), or
// after "=" (--name=value), or the rest of a bundle (-oDIR); a second value is
// always the next word. 0, or EXIT_USAGE after the usage error.
[[nodiscard]] int parse_command_line(const char* program, int argc, char** argv, const std::vector<OptionSpec>& known,
                                     ParsedCommandLine* parsed);

// Prints "<program>: <what>[: <value>]" and "Try '<program> --help'." on
// standard error; returns EXIT_USAGE.
int usage_error(const char* program, const char* what, const char* value = nullptr);


}  // namespace okrelt
