// Lists of work units (--files-from): one path per line, or NUL-separated as
// find -print0 writes them.
#pragma once

#include <string>
#include <vector>

namespace okrelt {

enum class ListSeparator { LINE, NUL };

// Appends the units list names ("-": standard input) to *units. Lines end
// with LF or CR LF; a byte-order mark at the start is skipped; empty entries
// are skipped. A NUL byte in a line-separated list, or a list whose lines end
// with CR alone, is refused naming the list and the line. 0, or 1 after the
// message.
[[nodiscard]] int read_unit_list(const std::string& list, ListSeparator separator, std::vector<std::string>* units);

}  // namespace okrelt
