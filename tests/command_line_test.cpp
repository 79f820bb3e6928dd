// The programs' command lines: help, version, usage errors, and okrelt
// converting many work units in one run.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <string>
#include <vector>

#include "common/version.h"
#include "tests/support/test_support.h"
#include "tests/support/work_units.h"

namespace {

using okrelt_test::RunResult;
using okrelt_test::TempDir;

RunResult run(const TempDir& dir, const std::string& program, const std::vector<std::string>& args) {
    okrelt_test::RunOptions options;
    options.program = program;
    options.args = args;
    return okrelt_test::run_program(dir.path(), options);
}

TEST(CommandLine, EveryProgramHelpsTellsItsVersionAndRefusesUnknownOptions) {
    TempDir dir;
    for (const std::string program : {OKRELT_BINARY, OKRELT_MAKE_WU_BINARY, OKRELT_WATERFALL_BINARY}) {
        const std::string name = program.substr(program.rfind('/') + 1);
        const RunResult help = run(dir, program, {"--help"});
        EXPECT_EQ(help.exit_status, 0) << name;
        EXPECT_EQ(help.out.rfind("Usage: " + name + " ", 0), 0u) << help.out;
        const RunResult version = run(dir, program, {"-V"});
        EXPECT_EQ(version.exit_status, 0) << name;
        EXPECT_EQ(version.out.rfind(name + " " OKRELT_VERSION "\n", 0), 0u) << version.out;
        const RunResult unknown = run(dir, program, {"--frobnicate"});
        EXPECT_EQ(unknown.exit_status, 2) << name;
        EXPECT_EQ(unknown.out, "") << name;
        EXPECT_EQ(unknown.err, name + ": unknown option: --frobnicate\nTry '" + name + " --help'.\n");
    }
    EXPECT_NE(run(dir, OKRELT_BINARY, {"--version"}).out.find("Transform code path on this processor: "),
              std::string::npos);
    EXPECT_EQ(run(dir, OKRELT_BINARY, {"-o"}).exit_status, 2);
    EXPECT_FALSE(okrelt_test::file_exists(dir.file("work_unit.wav")));
}

TEST(CommandLine, ManyUnitsConvertPastAFailureIntoTheFolder) {
    TempDir dir;
    okrelt_test::write_work_unit_file(dir.file("first.sah"), okrelt::make_example_samples(131072, 1));
    okrelt_test::write_file(dir.file("broken.wu"), "type=wu\nnsamples=500\n");
    okrelt::WriterOptions later;
    later.later_format = true;
    okrelt_test::write_work_unit_file(dir.file("01ja08aa.12345.6789.10.20.123"),
                                      okrelt_test::constant_samples(131072, 1, 1), later);
    ASSERT_EQ(mkdir(dir.file("sounds").c_str(), 0755), 0);
    const RunResult quiet =
        run(dir, OKRELT_BINARY, {"-q", "-o", "sounds", "01ja08aa.12345.6789.10.20.123", "broken.wu", "first.sah"});
    // Converted units on standard output, failed ones on standard error.
    EXPECT_EQ(quiet.exit_status, 1);
    EXPECT_EQ(quiet.err, "broken.wu: Unexpected end of WU while searching for end_seti_header\n");
    EXPECT_EQ(quiet.out.rfind("01ja08aa.12345.6789.10.20.123: 131072 samples, RFI 92681 WHOA -> "
                              "sounds/01ja08aa.12345.6789.10.20.123.wav\n"
                              "first.sah: 131072 samples, RFI ",
                              0),
              0u)
        << quiet.out;
    // The noise unit's factor is its own, not the constant unit's before it.
    EXPECT_EQ(quiet.out.find("first.sah: 131072 samples, RFI 92681"), std::string::npos) << quiet.out;
    EXPECT_EQ(quiet.out.substr(quiet.out.size() - 21), " -> sounds/first.wav\n") << quiet.out;
    for (const char* sound : {"sounds/first.wav", "sounds/01ja08aa.12345.6789.10.20.123.wav"}) {
        EXPECT_EQ(okrelt_test::read_file(dir.file(sound)).size(), 44u + 2u * 131072u) << sound;
    }

    // Without -q: the banner once, each unit's full report, and no wait.
    const RunResult full = run(dir, OKRELT_BINARY, {"first.sah", "01ja08aa.12345.6789.10.20.123"});
    EXPECT_EQ(full.exit_status, 0);
    EXPECT_EQ(full.out.rfind(okrelt_test::BANNER, 0), 0u);
    EXPECT_EQ(full.out.find(okrelt_test::BANNER, 1), std::string::npos);
    EXPECT_NE(full.out.find("\nfirst.sah -> first.wav\nnsamples=131072\nSamples decoded: 131072\nConverting...\n"),
              std::string::npos);
    EXPECT_EQ(full.out.find("Press Enter"), std::string::npos);
    EXPECT_TRUE(okrelt_test::file_exists(dir.file("01ja08aa.12345.6789.10.20.123.wav")));
}

TEST(CommandLine, HundredsOfUnitsNeedNoMoreOpenFilesThanOne) {
    TempDir dir;
    okrelt_test::RunOptions options;
    options.program = "/bin/sh";
    options.args = {"-c", "exec prlimit --nofile=24 \"$0\" -q \"$@\"", OKRELT_BINARY};
    for (int i = 0; i < 40; ++i) {
        const std::string unit = "u" + std::to_string(i) + ".wu";
        okrelt_test::write_file(dir.file(unit), "type=wu\n");
        options.args.push_back(unit);
    }
    const RunResult run = okrelt_test::run_program(dir.path(), options);
    EXPECT_EQ(run.exit_status, 1);
    EXPECT_NE(run.err.find("u39.wu: Unexpected end of WU while searching for end_seti_header\n"), std::string::npos)
        << run.out << run.err;
}

TEST(CommandLine, UnitsThatWouldShareASoundFileAreRefusedBeforeAnyConversion) {
    TempDir dir;
    ASSERT_EQ(mkdir(dir.file("other").c_str(), 0755), 0);
    for (const char* unit : {"a.sah", "other/a.wu", "b.wav.sah"}) {
        okrelt_test::write_work_unit_file(dir.file(unit), okrelt::make_example_samples(131072, 4));
    }
    const RunResult same = run(dir, OKRELT_BINARY, {"a.sah", "other/a.wu"});
    EXPECT_EQ(same.exit_status, 1);
    EXPECT_EQ(same.err, "okrelt: other/a.wu would write the same sound file as a.sah; nothing converted\n");
    EXPECT_FALSE(okrelt_test::file_exists(dir.file("a.wav")));
    // b.wav.sah's sound file would be the input b.wav: never overwritten.
    okrelt_test::write_file(dir.file("b.wav"), "an input");
    const RunResult input = run(dir, OKRELT_BINARY, {"b.wav", "b.wav.sah"});
    EXPECT_EQ(input.exit_status, 1);
    EXPECT_EQ(okrelt_test::read_file(dir.file("b.wav")), "an input");
}

}  // namespace
