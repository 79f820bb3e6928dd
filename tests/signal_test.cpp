// Interrupts: a batch stopped by a signal in mid-run (SIGINT, SIGTERM,
// SIGHUP, SIGQUIT, or SIGPIPE from a reader that went away) leaves no
// temporary file, prints the line of every unit whose files are in place,
// and ends by the signal; a file-size limit fails a unit as a full disk does.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/test_support.h"
#include "tests/support/work_units.h"

namespace {

using okrelt_test::TempDir;

constexpr int UNITS = 24;
constexpr size_t SOUND_BYTES = 44 + 2 * 1048576;

struct Interrupted {
    int signal_number = 0;   // the signal that ended the run, 0 if it exited
    std::string out;         // its standard output, to the end
};

// Runs okrelt -q over the units into out/ and, once the first line is out,
// sends signal_number and reads the rest of standard output, or for SIGPIPE
// stops reading, as `| head -1` does.
Interrupted interrupt_batch(const TempDir& dir, int signal_number) {
    int out_pipe[2];
    EXPECT_EQ(pipe(out_pipe), 0);
    const pid_t child = fork();
    if (child == 0) {
        dup2(out_pipe[1], STDOUT_FILENO);
        close(out_pipe[0]);
        close(out_pipe[1]);
        if (chdir(dir.path().c_str()) != 0) _exit(127);
        const rlimit no_core{0, 0};
        setrlimit(RLIMIT_CORE, &no_core);   // SIGQUIT would dump one
        std::vector<std::string> args = {OKRELT_BINARY, "-q", "-o", "out"};
        for (int u = 0; u < UNITS; ++u) args.push_back("u" + std::to_string(u) + ".wu");
        std::vector<char*> argv;
        for (std::string& arg : args) argv.push_back(arg.data());
        argv.push_back(nullptr);
        execv(OKRELT_BINARY, argv.data());
        _exit(127);
    }
    close(out_pipe[1]);
    Interrupted run;
    char buffer[4096];
    bool sent = false;
    ssize_t got = 0;
    while ((got = read(out_pipe[0], buffer, sizeof buffer)) > 0) {
        run.out.append(buffer, static_cast<size_t>(got));
        if (!sent && run.out.find('\n') != std::string::npos) {
            if (signal_number == SIGPIPE) break;
            kill(child, signal_number);
            sent = true;
        }
    }
    close(out_pipe[0]);
    int status = 0;
    waitpid(child, &status, 0);
    if (WIFSIGNALED(status)) run.signal_number = WTERMSIG(status);
    return run;
}

TEST(Interrupts, ABatchStoppedMidRunLeavesNoTemporaryFileAndKeepsItsLines) {
    TempDir dir;
    for (int u = 0; u < UNITS; ++u) {
        okrelt_test::write_work_unit_file(dir.file("u" + std::to_string(u) + ".wu"),
                                          okrelt::make_example_samples(1048576, static_cast<uint64_t>(u) + 1));
    }
    for (const int signal_number : {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGPIPE}) {
        std::filesystem::remove_all(dir.file("out"));
        std::filesystem::create_directory(dir.file("out"));
        const Interrupted run = interrupt_batch(dir, signal_number);
        EXPECT_EQ(run.signal_number, signal_number);
        size_t lines = 0;
        for (const char c : run.out) lines += c == '\n';
        EXPECT_GE(lines, 1u);
        const std::vector<std::string> files = okrelt_test::folder_entries(dir.file("out"));
        EXPECT_LT(files.size(), static_cast<size_t>(UNITS)) << "not interrupted in mid-run";
        // Only finished sound files, exactly those of the units whose lines
        // were printed: files are put in place and their line printed as one.
        // (With the pipe closed, lines printed after the first went unread.)
        if (signal_number != SIGPIPE) {
            EXPECT_EQ(run.out.back(), '\n') << "a line cut short";
            EXPECT_EQ(files.size(), lines);
        }
        for (const std::string& name : files) {
            EXPECT_EQ(name.substr(name.size() - 4), ".wav") << name;
            EXPECT_EQ(okrelt_test::read_file(dir.file("out/" + name)).size(), SOUND_BYTES) << name;
        }
    }
}

// Past a file-size limit (ulimit -f) the unit fails as on a full disk: a
// message, exit status 1, the older file kept and no temporary file left.
TEST(Interrupts, AFileSizeLimitFailsTheUnitAndLeavesNoTemporaryFile) {
    TempDir dir;
    okrelt_test::write_work_unit_file(dir.file("u.wu"), okrelt::make_example_samples(1048576, 1));
    std::filesystem::create_directory(dir.file("out"));
    okrelt_test::write_file(dir.file("out/u.wav"), "older");
    okrelt_test::RunOptions limited;
    limited.program = "/bin/sh";
    limited.args = {"-c", std::string("ulimit -f 100 && exec ") + OKRELT_BINARY + " -q -o out u.wu"};
    const okrelt_test::RunResult run = okrelt_test::run_program(dir.path(), limited);
    EXPECT_EQ(run.exit_status, 1) << run.err;
    EXPECT_NE(run.err.find("File too large"), std::string::npos) << run.err;
    EXPECT_EQ(okrelt_test::folder_entries(dir.file("out")), std::vector<std::string>{"u.wav"});
    EXPECT_EQ(okrelt_test::read_file(dir.file("out/u.wav")), "older");
}

}  // namespace
