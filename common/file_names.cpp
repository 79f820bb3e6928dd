#include "common/file_names.h"

#include <cstdio>
#include <cstring>

namespace okrelt {

namespace {

bool plain_byte(unsigned char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
           std::strchr("-_.,:/+=@%", c) != nullptr;
}

}  // namespace

std::string base_name(const std::string& path) { return path.substr(path.find_last_of('/') + 1); }

std::string output_name(const std::string& unit_path, const char* suffix) {
    std::string name = base_name(unit_path);
    for (const char* ending : {".sah", ".wu"}) {
        const size_t length = std::strlen(ending);
        if (name.size() > length && name.compare(name.size() - length, length, ending) == 0) {
            name.resize(name.size() - length);
            break;
        }
    }
    return name + suffix;
}

std::string in_folder(const std::string& folder, const std::string& name) {
    if (folder == ".") return name;
    std::string joined = folder;
    while (joined.size() > 1 && joined.back() == '/') joined.pop_back();
    if (joined != "/") joined += '/';
    return joined + name;
}

std::string quoted(const std::string& name) {
    bool plain = !name.empty();
    for (const char c : name) plain = plain && plain_byte(static_cast<unsigned char>(c));
    if (plain) return name;
    std::string text = "'";
    for (const char c : name) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '\'') {
            text += "'\\''";
        } else if (byte < 0x20 || byte == 0x7f) {
            char escaped[16];
            std::snprintf(escaped, sizeof escaped, "'$'\\%03o''", byte);
            text += escaped;
        } else {
            text += c;
        }
    }
    return text + "'";
}

std::string one_line(const std::string& text) {
    std::string line;
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte >= 0x20 && byte != 0x7f) {
            line += c;
            continue;
        }
        char escaped[8];
        std::snprintf(escaped, sizeof escaped, "\\%03o", byte);
        line += escaped;
    }
    return line;
}

}  // namespace okrelt
