#include "tests/support/test_support.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
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

namespace {

// argv and environment arrays for posix_spawn; the strings stay owned here.
struct SpawnArguments {
    std::vector<std::string> strings;
    std::vector<char*> argv;
    std::vector<char*> environment;
};

void make_spawn_arguments(const RunOptions& options, SpawnArguments* spawn) {
    spawn->strings.push_back(options.program.empty() ? OKRELT_BINARY : options.program);
    for (const std::string& arg : options.args) spawn->strings.push_back(arg);
    for (std::string& arg : spawn->strings) spawn->argv.push_back(arg.data());
    spawn->argv.push_back(nullptr);
    for (char** entry = environ; *entry != nullptr; ++entry) spawn->environment.push_back(*entry);
    for (const std::string& entry : options.environment) spawn->environment.push_back(const_cast<char*>(entry.c_str()));
    spawn->environment.push_back(nullptr);
}

}  // namespace

RunResult run_program(const std::string& folder, const RunOptions& options) {
    RunResult result;
    const std::string out_path = folder + "/.stdout";
    const std::string err_path = folder + "/.stderr";
    // posix_spawn starts the program without a copy of this process's memory,
    // so the peak resident size is the program's own.
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addchdir_np(&actions, folder.c_str());
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (options.errors_into_output) {
        posix_spawn_file_actions_adddup2(&actions, 1, 2);
    } else {
        posix_spawn_file_actions_addopen(&actions, 2, err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    }
    SpawnArguments spawn;
    make_spawn_arguments(options, &spawn);
    pid_t child = 0;
    const int spawned = posix_spawn(&child, spawn.argv[0], &actions, nullptr, spawn.argv.data(), spawn.environment.data());
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) {
        ADD_FAILURE() << "cannot start " << spawn.argv[0];
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

RunResult run_okrelt(const std::string& folder, const std::vector<std::string>& extra_environment) {
    RunOptions options;
    options.environment = extra_environment;
    return run_program(folder, options);
}

HeldInputRun run_okrelt_holding_input(const std::string& folder, const std::string& until) {
    constexpr int TIMEOUT_MS = 10000;
    HeldInputRun result;
    int input[2];
    int output[2];
    if (pipe(input) != 0 || pipe(output) != 0) {
        ADD_FAILURE() << "pipe failed";
        return result;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addchdir_np(&actions, folder.c_str());
    posix_spawn_file_actions_adddup2(&actions, input[0], 0);
    posix_spawn_file_actions_adddup2(&actions, output[1], 1);
    posix_spawn_file_actions_addclose(&actions, input[1]);
    posix_spawn_file_actions_addclose(&actions, output[0]);
    SpawnArguments spawn;
    make_spawn_arguments(RunOptions{}, &spawn);
    pid_t child = 0;
    const int spawned = posix_spawn(&child, spawn.argv[0], &actions, nullptr, spawn.argv.data(), spawn.environment.data());
    posix_spawn_file_actions_destroy(&actions);
    close(input[0]);
    close(output[1]);
    if (spawned != 0) {
        ADD_FAILURE() << "cannot start " << spawn.argv[0];
        return result;
    }
    char buffer[4096];
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(TIMEOUT_MS);
    while (result.out.find(until) == std::string::npos) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        struct pollfd ready {output[0], POLLIN, 0};
        if (left.count() <= 0 || poll(&ready, 1, static_cast<int>(left.count())) <= 0) break;
        const ssize_t got = read(output[0], buffer, sizeof buffer);
        if (got <= 0) break;
        result.out.append(buffer, static_cast<size_t>(got));
    }
    int status = 0;
    result.running = waitpid(child, &status, WNOHANG) == 0;
    close(input[1]);
    while (read(output[0], buffer, sizeof buffer) > 0) {
    }
    close(output[0]);
    if (result.running && waitpid(child, &status, 0) != child) return result;
    if (WIFEXITED(status)) result.exit_status = WEXITSTATUS(status);
    return result;
}

std::vector<std::string> folder_entries(const std::string& folder) {
    std::vector<std::string> names;
    if (DIR* listing = opendir(folder.c_str())) {
        while (const dirent* entry = readdir(listing)) {
            const std::string name = entry->d_name;
            if (name != "." && name != "..") names.push_back(name);
        }
        closedir(listing);
    }
    std::sort(names.begin(), names.end());
    return names;
}

RunResult run_in(const std::string& folder, const std::string& program, const std::vector<std::string>& args) {
    RunOptions options;
    options.program = program;
    options.args = args;
    return run_program(folder, options);
}

}  // namespace okrelt_test
