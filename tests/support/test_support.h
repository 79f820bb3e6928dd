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

// The names in a folder, "." and ".." left out, sorted.
std::vector<std::string> folder_entries(const std::string& folder);

struct RunResult {
    int exit_status = -1;   // -1 if the program did not exit normally
    std::string out;        // standard output
    std::string err;        // standard error
    long peak_kib = 0;      // peak resident memory of the run
};

struct RunOptions {
    std::vector<std::string> args;          // after the program's name
    std::vector<std::string> environment;   // "NAME=value" entries added to the test's own
    bool errors_into_output = false;        // standard error onto standard output, as "2>&1" does
    std::string program;                    // empty: the built okrelt
};

// Runs a built program in folder with standard input at its end.
RunResult run_program(const std::string& folder, const RunOptions& options);

// Runs the built program with args in folder, as run_program does.
RunResult run_in(const std::string& folder, const std::string& program, const std::vector<std::string>& args);

// Runs the built okrelt in folder with standard input at its end, with
// extra "NAME=value" entries added to its environment.
RunResult run_okrelt(const std::string& folder, const std::vector<std::string>& extra_environment = {});

struct HeldInputRun {
    std::string out;             // standard output until `until` appeared (or 10 s passed)
    bool running = false;        // still running then, waiting for its input
    int exit_status = -1;        // once its input was closed
};

// Runs the built okrelt in folder with standard input held open and standard
// output on a pipe, reads until the output holds `until`, then closes the
// input and waits for the exit.
HeldInputRun run_okrelt_holding_input(const std::string& folder, const std::string& until);

}  // namespace okrelt_test
