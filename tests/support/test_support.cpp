#include "tests/support/test_support.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include <gtest/gtest.h>

namespace okrelt_test {

TempDir::TempDir() {
    std::string pattern = std::filesystem::temp_directory_path().string() + "/okrelt-test-XXXXXX";
    char* made = mkdtemp(pattern.data());
    if (made == nullptr) {
        ADD_FAILURE() << "mkdtemp failed";
        return;
    }
    path_ = made;
}

TempDir::~TempDir() {
    if (path_.empty()) return;
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

void write_file(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    ASSERT_TRUE(out.good()) << "cannot write " << path;
}

std::string read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
}

bool file_exists(const std::string& path) {
    struct stat info {};
    return lstat(path.c_str(), &info) == 0;
}

RunResult run_okrelt(const std::string& folder, const std::vector<std::string>& extra_environment) {
    RunResult result;
    const std::string out_path = folder + "/.stdout";
    const std::string err_path = folder + "/.stderr";
    // posix_spawn starts okrelt without a copy of this process's memory, so
    // the peak resident size is okrelt's own.
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addchdir_np(&actions, folder.c_str());
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, 2, err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    char* const argv[] = {const_cast<char*>(OKRELT_BINARY), nullptr};
    std::vector<char*> environment;
    for (char** entry = environ; *entry != nullptr; ++entry) environment.push_back(*entry);
    for (const std::string& entry : extra_environment) environment.push_back(const_cast<char*>(entry.c_str()));
    environment.push_back(nullptr);
    pid_t child = 0;
    const int spawned = posix_spawn(&child, OKRELT_BINARY, &actions, nullptr, argv, environment.data());
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) {
        ADD_FAILURE() << "cannot start " << OKRELT_BINARY;
        return result;
    }
    int status = 0;
    struct rusage usage {};
    if (wait4(child, &status, 0, &usage) == child && WIFEXITED(status)) result.exit_status = WEXITSTATUS(status);
    result.peak_kib = usage.ru_maxrss;
    result.out = read_file(out_path);
    result.err = read_file(err_path);
    std::remove(out_path.c_str());
    std::remove(err_path.c_str());
    return result;
}

}  // namespace okrelt_test
