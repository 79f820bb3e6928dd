#include "common/command_line.h"

#include <cstdio>
#include <cstring>

namespace okrelt {

namespace {

const OptionSpec* find_short(const std::vector<OptionSpec>& known, char name) {
    for (const OptionSpec& option : known) {
        if (option.short_name != 0 && option.short_name == name) return &option;
    }
    return nullptr;
}

const OptionSpec* find_long(const std::vector<OptionSpec>& known, const std::string& name) {
    for (const OptionSpec& option : known) {
        if (name == option.long_name) return &option;
    }
    return nullptr;
}

}  // namespace

int parse_command_line(const char* program, int argc, char** argv, const std::vector<OptionSpec>& known,
                       ParsedCommandLine* parsed) {
    bool options_ended = false;
    for (int a = 1; a < argc; ++a) {
        const char* arg = argv[a];
        if (options_ended || arg[0] != '-' || arg[1] == '\0') {
            parsed->operands.emplace_back(arg);
            continue;
        }
        if (std::strcmp(arg, "--") == 0) {
            options_ended = true;
            continue;
        }
        OptionUse use{};
        const OptionSpec* option = nullptr;
        const char* attached = nullptr;   // a value given in the same word
        if (arg[1] == '-') {
            const char* equals = std::strchr(arg, '=');
            const std::string name = equals ? std::string(arg + 2, equals) : std::string(arg + 2);
            option = find_long(known, name);
            if (option == nullptr) return usage_error(program, "unknown option", arg);
            if (equals != nullptr) {
                if (option->values != 1) return usage_error(program, "option takes no single value", arg);
                attached = equals + 1;
            }
        } else {
            // A bundle: letters without values, up to one that takes a value.
            for (const char* letter = arg + 1; *letter != '\0'; ++letter) {
                option = find_short(known, *letter);
                if (option == nullptr) {
                    const char unknown[] = {'-', *letter, '\0'};
                    return usage_error(program, "unknown option", unknown);
                }
                if (option->values > 0) {
                    if (letter[1] != '\0') attached = letter + 1;
                    break;
                }
                if (letter[1] != '\0') parsed->options.push_back({option->id, {nullptr, nullptr}});
            }
        }
        use.id = option->id;
        int given = 0;
        if (attached != nullptr) use.value[given++] = attached;
        while (given < option->values) {
            if (a + 1 >= argc) return usage_error(program, "option needs a value", arg);
            use.value[given++] = argv[++a];
        }
        parsed->options.push_back(use);
    }
    return 0;
}

int usage_error(const char* program, const char* what, const char* value) {
    std::fflush(stdout);
    std::fprintf(stderr, "%s: %s%s%s\nTry '%s --help'.\n", program, what, value ? ": " : "", value ? value : "",
                 program);
    return EXIT_USAGE;
}


}  // namespace okrelt
