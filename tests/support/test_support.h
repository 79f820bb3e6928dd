// Helpers shared by the test programs: scratch folders, files, and running
// the built okrelt the way a user would.
#pragma once

#include <string>
#include <vector>

namespace okrelt_test {

// A fresh folder under the system's temporary folder, removed with its
// contents when the object goes out of scope.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& path() const { return path_; }
    std::string file(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

// Writes bytes to path, replacing it; fails the calling test on error.
void write_file(const std::string& path, const std::string& bytes);

// The whole content of a file, or an empty string if it can't be read.
std::string read_file(const std::string& path);

bool file_exists(const std::string& path);

struct RunResult {
    int exit_status = -1;   // -1 if the program did not exit normally
    std::string out;        // standard output
    std::string err;        // standard error
    long peak_kib = 0;      // peak resident memory of the run
};

// Runs the built okrelt in folder with standard input at its end, with
// extra "NAME=value" entries added to its environment.
RunResult run_okrelt(const std::string& folder, const std::vector<std::string>& extra_environment = {});

}  // namespace okrelt_test
