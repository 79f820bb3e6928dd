// Output files and the plan that guards them: file modes under the umask
// from many threads, outputs that would replace an input or each other or
// write through a link, a unit's files landing together, and names as long
// as a file system allows.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <climits>
#include <thread>
#include <vector>

#include "common/output_file.h"
#include "tests/support/test_support.h"
#include "tests/support/work_units.h"

namespace {

using okrelt_test::RunResult;
using okrelt_test::TempDir;

RunResult run_in(const TempDir& dir, const std::string& program, const std::vector<std::string>& args) {
    return okrelt_test::run_in(dir.path(), program, args);
}

void write_unit(const TempDir& dir, const std::string& name, uint64_t seed = 3) {
    okrelt_test::write_work_unit_file(dir.file(name), okrelt::make_example_samples(131072, seed));
}

mode_t mode_of(const std::string& path) {
    struct stat status {};
    return stat(path.c_str(), &status) == 0 ? status.st_mode & 07777 : 0;
}

// Outputs made from several threads at once get exactly what the user's
// umask allows, and the umask is as it was.
TEST(OutputFiles, ModesFollowTheUmaskFromManyThreadsAtOnce) {
    constexpr int THREADS = 8;
    constexpr int FILES = 150;
    for (const mode_t mask : {mode_t{077}, mode_t{022}}) {
        const mode_t before = umask(mask);
        TempDir dir;
        std::vector<std::thread> threads;
        for (int t = 0; t < THREADS; ++t) {
            threads.emplace_back([&dir, t] {
                for (int i = 0; i < FILES; ++i) {
                    okrelt::OutputFile out;
                    const std::string path = dir.file("f" + std::to_string(t) + "_" + std::to_string(i));
                    if (okrelt::open_output(path, &out) != 0) return;
                    std::fputc('x', out.file.get());
                    (void)okrelt::commit_output(&out);
                }
            });
        }
        for (std::thread& thread : threads) thread.join();
        const std::vector<std::string> files = okrelt_test::folder_entries(dir.path());
        ASSERT_EQ(files.size(), static_cast<size_t>(THREADS * FILES));
        size_t wrong = 0;
        for (const std::string& name : files) wrong += mode_of(dir.file(name)) != (0666 & ~mask);
        EXPECT_EQ(wrong, 0u) << "umask " << std::oct << mask;
        EXPECT_EQ(umask(before), mask);
    }
}

// A name as long as NAME_MAX allows converts; one that would be longer is
// refused naming it, and nothing is left behind.
TEST(OutputFiles, EveryLegalNameWorks) {
    TempDir dir;
    const std::string longest(NAME_MAX - 4, 'n');   // + ".wav": 255 bytes
    write_unit(dir, longest + ".wu");
    const RunResult fits = run_in(dir, OKRELT_BINARY, {"-q", longest + ".wu"});
    EXPECT_EQ(fits.exit_status, 0) << fits.err;
    EXPECT_TRUE(okrelt_test::file_exists(dir.file(longest + ".wav")));
    const std::string too_long(NAME_MAX, 'x');   // + ".wav": over the limit
    write_unit(dir, too_long);
    const RunResult refused = run_in(dir, OKRELT_BINARY, {"-q", too_long});
    EXPECT_EQ(refused.exit_status, 1);
    EXPECT_NE(refused.err.find(too_long + ".wav: File name too long"), std::string::npos) << refused.err;
    EXPECT_EQ(okrelt_test::folder_entries(dir.path()).size(), 3u);
}

// An output is refused, and nothing written, where it would replace an input
// (named, reached through a soft link, or the I/Q WAV's header-made name) or
// write through a symbolic link to a file outside the run.
TEST(OutputPlan, NoOutputReplacesAnInputOrWritesThroughALink) {
    TempDir dir;
    write_unit(dir, "a.wu");
    write_unit(dir, "b.wu", 4);
    const std::string b = okrelt_test::read_file(dir.file("b.wu"));
    ASSERT_EQ(mkdir(dir.file("out").c_str(), 0755), 0);
    ASSERT_EQ(symlink("../b.wu", dir.file("out/a.wav").c_str()), 0);
    const RunResult link = run_in(dir, OKRELT_BINARY, {"-q", "-o", "out", "a.wu"});
    EXPECT_EQ(link.exit_status, 1);
    EXPECT_EQ(link.err, "okrelt: out/a.wav (for a.wu) is a symbolic link to ../b.wu; nothing written\n");
    EXPECT_EQ(okrelt_test::read_file(dir.file("b.wu")), b);

    // s names the unit s.wav, whose sound file would be s.wav itself.
    write_unit(dir, "s.wav", 5);
    const std::string s = okrelt_test::read_file(dir.file("s.wav"));
    okrelt_test::write_file(dir.file("s"), "<soft_link>s.wav</soft_link>\n");
    const RunResult soft = run_in(dir, OKRELT_BINARY, {"-q", "s"});
    EXPECT_EQ(soft.exit_status, 1);
    EXPECT_EQ(soft.err, "okrelt: s.wav (for s) would overwrite s.wav, an input of this run; nothing written\n");
    EXPECT_EQ(okrelt_test::read_file(dir.file("s.wav")), s);

    const std::vector<std::string> make = {"--format", "later", "--samples", "131072", "-o"};
    std::vector<std::string> args = make;
    args.push_back("c.wu");
    ASSERT_EQ(run_in(dir, OKRELT_MAKE_WU_BINARY, args).exit_status, 0);
    args.back() = "c_1420000000Hz_IQ.wav";
    ASSERT_EQ(run_in(dir, OKRELT_MAKE_WU_BINARY, args).exit_status, 0);
    const std::string iq_input = okrelt_test::read_file(dir.file("c_1420000000Hz_IQ.wav"));
    const RunResult iq = run_in(dir, OKRELT_BINARY, {"-q", "--iq-wav", "--no-sound", "c.wu", "c_1420000000Hz_IQ.wav"});
    EXPECT_EQ(iq.exit_status, 1);
    EXPECT_NE(iq.err.find("c_1420000000Hz_IQ.wav (for c.wu) would overwrite c_1420000000Hz_IQ.wav, an input"),
              std::string::npos)
        << iq.err;
    EXPECT_EQ(okrelt_test::read_file(dir.file("c_1420000000Hz_IQ.wav")), iq_input);

    // okrelt-make-wu spares a file a link at its output points to.
    ASSERT_EQ(symlink("b.wu", dir.file("link.wu").c_str()), 0);
    EXPECT_EQ(run_in(dir, OKRELT_MAKE_WU_BINARY, {"--samples", "131072", "-o", "link.wu"}).exit_status, 1);
    EXPECT_EQ(okrelt_test::read_file(dir.file("b.wu")), b);
}

// When one file of a unit cannot be finished, none of its files replaces an
// older one, and the message says which failed.
TEST(OutputPlan, AUnitsFilesLandTogetherOrNotAtAll) {
    TempDir dir;
    okrelt_test::RunOptions make;
    make.program = OKRELT_MAKE_WU_BINARY;
    make.args = {"--format", "later", "--samples", "131072", "-o", "a.wu"};
    ASSERT_EQ(okrelt_test::run_program(dir.path(), make).exit_status, 0);
    okrelt_test::write_file(dir.file("a.wav"), "older sound");
    okrelt_test::write_file(dir.file("a_1420000000Hz_IQ.wav"), "older I/Q");
    ASSERT_EQ(mkdir(dir.file("a.sigmf-meta").c_str(), 0755), 0);
    const std::vector<std::string> before = okrelt_test::folder_entries(dir.path());
    const RunResult run = run_in(dir, OKRELT_BINARY, {"-q", "--sigmf", "--iq-wav", "a.wu"});
    EXPECT_EQ(run.exit_status, 1);
    EXPECT_EQ(run.err, "a.wu: Error writing a.sigmf-meta: Is a directory\n");
    EXPECT_EQ(okrelt_test::read_file(dir.file("a.wav")), "older sound");
    EXPECT_EQ(okrelt_test::read_file(dir.file("a_1420000000Hz_IQ.wav")), "older I/Q");
    EXPECT_EQ(okrelt_test::folder_entries(dir.path()), before);

    // A name the sound file's fits but the I/Q WAV's does not: the older
    // sound file stays as well.
    const std::string name(NAME_MAX - 8, 'n');   // + ".wav" fits, + "_1420000000Hz_IQ.wav" does not
    make.args.back() = name + ".wu";
    ASSERT_EQ(okrelt_test::run_program(dir.path(), make).exit_status, 0);
    okrelt_test::write_file(dir.file(name + ".wav"), "older sound");
    const std::vector<std::string> with_long = okrelt_test::folder_entries(dir.path());
    const RunResult long_iq = run_in(dir, OKRELT_BINARY, {"-q", "--iq-wav", name + ".wu"});
    EXPECT_EQ(long_iq.exit_status, 1);
    EXPECT_NE(long_iq.err.find("_IQ.wav: File name too long"), std::string::npos) << long_iq.err;
    EXPECT_EQ(okrelt_test::read_file(dir.file(name + ".wav")), "older sound");
    EXPECT_EQ(okrelt_test::folder_entries(dir.path()), with_long);
}

#ifdef OKRELT_WATERFALL_BINARY
// The waterfall's tables never replace the unit it reads, its picture or
// each other, however the names are spelt.
TEST(OutputPlan, TheWaterfallsFilesNeverReplaceItsUnitOrEachOther) {
    TempDir dir;
    write_unit(dir, "work_unit.sah");
    write_unit(dir, "unit.txt");
    const std::string unit = okrelt_test::read_file(dir.file("unit.txt"));
    const std::vector<std::vector<std::string>> clashes = {
        {"--csv", "unit.txt", "unit.txt"},
        {"--csv", "x.png", "-o", "./x.png"},
        {"--csv", "t.csv", "--peaks-csv", "t.csv"},
    };
    for (const std::vector<std::string>& args : clashes) {
        const RunResult run = run_in(dir, OKRELT_WATERFALL_BINARY, args);
        EXPECT_EQ(run.exit_status, 1) << args[1];
        EXPECT_EQ(run.out, "") << args[1];
        EXPECT_NE(run.err.find("; nothing written\n"), std::string::npos) << run.err;
        EXPECT_EQ(okrelt_test::folder_entries(dir.path()), (std::vector<std::string>{"unit.txt", "work_unit.sah"}))
            << args[1];
    }
    EXPECT_EQ(okrelt_test::read_file(dir.file("unit.txt")), unit);
    // A unit's name where a table's was forgotten: refused before anything.
    write_unit(dir, "a.wu");
    const std::string a = okrelt_test::read_file(dir.file("a.wu"));
    for (const char* table : {"--csv", "--peaks-csv"}) {
        EXPECT_EQ(run_in(dir, OKRELT_WATERFALL_BINARY, {table, "a.wu", "work_unit.sah"}).exit_status, 2);
        EXPECT_EQ(run_in(dir, OKRELT_WATERFALL_BINARY, {table, "work_unit.sah"}).exit_status, 2);
    }
    EXPECT_EQ(okrelt_test::read_file(dir.file("a.wu")), a);
}
#endif

}  // namespace

namespace {

size_t open_descriptors() { return okrelt_test::folder_entries("/proc/self/fd").size(); }

// Files replaced while a release thread runs (more than it may hold at once)
// are replaced as usual, and every one of them is closed by the thread's end.
TEST(OutputFiles, AReleaseThreadClosesEveryFileReplacedMeanwhile) {
    TempDir dir;
    const std::string path = dir.file("unit.wav");
    okrelt_test::write_file(path, "older");
    const size_t before = open_descriptors();
    {
        const okrelt::ReleaseThreadPtr releasing = okrelt::start_release_thread();
        ASSERT_NE(releasing, nullptr);
        for (int i = 0; i < 40; ++i) {
            okrelt::OutputFile output;
            ASSERT_EQ(okrelt::open_output(path, &output), 0);
            const std::string bytes = "newer " + std::to_string(i);
            okrelt::append_output_pair(&output, bytes.data(), bytes.size(), nullptr, 0);
            ASSERT_EQ(okrelt::finish_output(&output), 0);
            okrelt::OutputFile* const one[] = {&output};
            ASSERT_EQ(okrelt::publish_outputs(one, 1, releasing.get()), 0);
            ASSERT_EQ(okrelt_test::read_file(path), bytes);
        }
    }
    EXPECT_EQ(open_descriptors(), before);
    EXPECT_EQ(okrelt_test::folder_entries(dir.path()), std::vector<std::string>{"unit.wav"});
}

// I/O errors at the last moment: a close that loses data fails the unit
// and replaces nothing; a read error at the end of a unit is reported as
// one, not taken for its end.
TEST(OutputFiles, LateIoErrorsAreReportedNotTakenForSuccess) {
    TempDir dir;
    write_unit(dir, "a.wu");
    okrelt_test::write_file(dir.file("a.wav"), "older");
    const std::string preload = std::string("LD_PRELOAD=") + OKRELT_FAILING_IO;
    okrelt_test::RunOptions options;
    options.args = {"-q", "a.wu"};
    options.environment = {preload, "OKRELT_FAIL=close", "ASAN_OPTIONS=verify_asan_link_order=0"};
    const RunResult close = okrelt_test::run_program(dir.path(), options);
    EXPECT_EQ(close.exit_status, 1);
    EXPECT_EQ(close.err, "a.wu: Error writing a.wav: Input/output error\n");
    EXPECT_EQ(okrelt_test::read_file(dir.file("a.wav")), "older");
    options.environment[1] = "OKRELT_FAIL=read-end";
    const RunResult read = okrelt_test::run_program(dir.path(), options);
    EXPECT_EQ(read.exit_status, 1);
    EXPECT_EQ(read.err, "a.wu: Error reading a.wu: Input/output error\n");
    EXPECT_EQ(okrelt_test::folder_entries(dir.path()), (std::vector<std::string>{"a.wav", "a.wu"}));
}

}  // namespace
