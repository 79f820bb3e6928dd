#include "common/unit_list.h"

#include <cstdio>

#include "common/file_names.h"
#include "common/messages.h"
#include "common/stdio_file.h"

namespace okrelt {

namespace {

constexpr const char* BYTE_ORDER_MARK = "\xEF\xBB\xBF";

void refuse_list(const std::string& list, const char* why, long line) {
    tell(MessageKind::ERROR, "%s: %s, line %ld: %s\n", program_name(), quoted(list).c_str(), line, why);
}

}  // namespace

int read_unit_list(const std::string& list, ListSeparator separator, std::vector<std::string>* units) {
    FileHandle opened(list == "-" ? nullptr : std::fopen(list.c_str(), "r"));
    std::FILE* file = list == "-" ? stdin : opened.get();
    if (file == nullptr) {
        tell_system_error((std::string(program_name()) + ": " + quoted(list)).c_str());
        return 1;
    }
    const char end = separator == ListSeparator::NUL ? '\0' : '\n';
    std::string entry;
    long line = 1;
    bool first = true;
    auto take = [&]() {
        if (separator == ListSeparator::LINE && !entry.empty() && entry.back() == '\r') entry.pop_back();
        if (first && entry.compare(0, 3, BYTE_ORDER_MARK) == 0) entry.erase(0, 3);
        first = false;
        if (!entry.empty()) units->push_back(entry);
        entry.clear();
    };
    int c = 0;
    while ((c = std::getc(file)) != EOF) {
        if (c == end) {
            take();
            ++line;
            continue;
        }
        if (separator == ListSeparator::LINE && c == '\0') {
            refuse_list(list, "a NUL byte; for a list of NUL-separated names (find -print0), give --null", line);
            return 1;
        }
        if (separator == ListSeparator::LINE && !entry.empty() && entry.back() == '\r') {
            refuse_list(list, "a carriage return inside a line; lines must end with LF or CR LF", line);
            return 1;
        }
        entry += static_cast<char>(c);
    }
    if (std::ferror(file)) {
        tell_system_error((std::string(program_name()) + ": " + quoted(list)).c_str());
        return 1;
    }
    if (!entry.empty()) take();
    return 0;
}

}  // namespace okrelt
