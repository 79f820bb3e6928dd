#include "common/command_line.h"

#include <getopt.h>

#include <cstdio>
#include <cstring>
#include <string>

namespace okrelt {

int parse_command_line(const char* program, int argc, char** argv, const std::vector<OptionSpec>& known,
                       ParsedCommandLine* parsed) {
    // getopt_long's table: the short letters (':' after one that takes a
    // value; a leading ':' so that a missing value is told from an unknown
    // option) and the long names, each returning its index past the letters.
    constexpr int LONG_INDEX = 256;
    std::string letters = ":";
    std::vector<option> names;
    for (size_t i = 0; i < known.size(); ++i) {
        const OptionSpec& entry = known[i];
        if (entry.short_name != 0) {
            letters += entry.short_name;
            if (entry.values > 0) letters += ':';
        }
        names.push_back({entry.long_name, entry.values > 0 ? required_argument : no_argument, nullptr,
                         LONG_INDEX + static_cast<int>(i)});
    }
    names.push_back({nullptr, 0, nullptr, 0});
    opterr = 0;    // the messages below, through the usage-error convention
    optind = 0;    // a fresh scan, whatever parsed a command line before
    int found = 0;
    while ((found = getopt_long(argc, argv, letters.c_str(), names.data(), nullptr)) != -1) {
        const OptionSpec* entry = nullptr;
        if (found >= LONG_INDEX) {
            entry = &known[static_cast<size_t>(found - LONG_INDEX)];
        } else {
            for (const OptionSpec& candidate : known) {
                if (candidate.short_name != 0 && candidate.short_name == found) entry = &candidate;
            }
        }
        const char* word = argv[optind - 1];
        if (found == ':') return usage_error(program, "option needs a value", word);
        if (entry == nullptr) {
            if (optopt != 0 && optopt < LONG_INDEX) {
                const char letter[] = {'-', static_cast<char>(optopt), '\0'};
                return usage_error(program, "unknown option", letter);
            }
            // An unknown or ambiguous long option, or one given a value it does not take.
            return usage_error(program, "unknown option", word);
        }
        OptionUse use{};
        use.id = entry->id;
        use.value[0] = optarg;
        // A second value is the next word, whatever it starts with.
        if (entry->values > 1) {
            if (optind >= argc) {
                return usage_error(program, "option needs two values", (std::string("--") + entry->long_name).c_str());
            }
            use.value[1] = argv[optind++];
        }
        parsed->options.push_back(use);
    }
    for (int a = optind; a < argc; ++a) parsed->operands.emplace_back(argv[a]);
    return 0;
}

int usage_error(const char* program, const char* what, const char* value) {
    std::fflush(stdout);
    std::fprintf(stderr, "%s: %s%s%s\nTry '%s --help'.\n", program, what, value ? ": " : "", value ? value : "",
                 program);
    return EXIT_USAGE;
}


}  // namespace okrelt
