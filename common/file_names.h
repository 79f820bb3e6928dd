// File names: the names of files made from a work unit's, folders joined to
// names, and names quoted for messages and the lines scripts read.
#pragma once

#include <string>

namespace okrelt {

// The last component of path (everything after its last '/').
std::string base_name(const std::string& path);

// The file name made from a work unit's path: its last component with ".sah"
// or ".wu" replaced by suffix, or suffix appended (BOINC names such as
// "01ja08aa.12345.6789.10.20.123" hold dots of their own).
std::string output_name(const std::string& unit_path, const char* suffix);

// name inside folder: "." adds nothing, and a folder's trailing slashes are
// not doubled ("out/" and "out" give "out/name").
std::string in_folder(const std::string& folder, const std::string& name);

// name as a shell would read it back: unchanged where it holds only letters,
// digits and "-_.,:/+=@%"; otherwise in single quotes, a quote written as
// '\'' and a control byte as $'\ooo' between quoted runs.
std::string quoted(const std::string& name);

// text with each control byte (a line break among them) written as \ooo, so
// that a message naming an odd file stays on its one line.
std::string one_line(const std::string& text);

}  // namespace okrelt
