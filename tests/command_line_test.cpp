// The programs' command lines: help, version, usage errors, and okrelt
// converting many work units in one run.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "common/version.h"
#include "tests/support/test_support.h"
#include "tests/support/work_units.h"

namespace {

using okrelt_test::RunResult;
using okrelt_test::TempDir;

RunResult run(const TempDir& dir, const std::string& program, const std::vector<std::string>& args) {
    return okrelt_test::run_in(dir.path(), program, args);
}

TEST(CommandLine, EveryProgramHelpsTellsItsVersionAndRefusesUnknownOptions) {
    TempDir dir;
    std::vector<std::string> programs = {OKRELT_BINARY, OKRELT_MAKE_WU_BINARY, OKRELT_SEARCH_BINARY};
#ifdef OKRELT_WATERFALL_BINARY
    programs.push_back(OKRELT_WATERFALL_BINARY);
#endif
    for (const std::string& program : programs) {
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

// Units converted side by side report as if converted one after another:
// the first, four times longer, finishes last, yet is printed first.
TEST(CommandLine, ABatchReportsInTheOrderNamed) {
    TempDir dir;
    std::vector<std::string> units = {"long.sah"};
    okrelt_test::write_work_unit_file(dir.file("long.sah"), okrelt::make_example_samples(524288, 9));
    for (int seed = 1; seed <= 4; ++seed) {
        units.push_back("u" + std::to_string(seed) + ".sah");
        okrelt_test::write_work_unit_file(dir.file(units.back()), okrelt::make_example_samples(131072, seed));
    }
    units.push_back("broken.wu");
    okrelt_test::write_file(dir.file("broken.wu"), "type=wu\nnsamples=500\n");
    for (const bool quiet : {false, true}) {
        std::string out = quiet ? "" : okrelt_test::BANNER;
        std::string err;
        size_t converted = 0;
        for (const std::string& unit : units) {
            const RunResult alone = run(dir, OKRELT_BINARY, quiet ? std::vector<std::string>{"-q", unit} : std::vector<std::string>{unit});
            converted += alone.exit_status == 0;
            const size_t start = quiet ? 0 : std::string(okrelt_test::BANNER).size();
            const size_t end = quiet ? alone.out.size() : alone.out.rfind("\nConverted ");
            out += alone.out.substr(start, end - start);
            err += alone.err;
        }
        if (!quiet) out += "\nConverted " + std::to_string(converted) + " of 6 work units.\n";
        // The sound files too: a converting thread reuses its working arrays from unit to unit.
        std::vector<std::string> sounds;
        for (size_t u = 0; u + 1 < units.size(); ++u) {
            sounds.push_back(okrelt_test::read_file(dir.file(units[u].substr(0, units[u].size() - 4) + ".wav")));
        }
        std::vector<std::string> args = units;
        if (quiet) args.insert(args.begin(), "-q");
        const RunResult batch = run(dir, OKRELT_BINARY, args);
        EXPECT_EQ(batch.exit_status, 1);
        EXPECT_EQ(batch.out, out) << (quiet ? "-q" : "full reports");
        EXPECT_EQ(batch.err, err) << (quiet ? "-q" : "full reports");
        for (size_t u = 0; u + 1 < units.size(); ++u) {
            const std::string sound = okrelt_test::read_file(dir.file(units[u].substr(0, units[u].size() - 4) + ".wav"));
            EXPECT_TRUE(sound == sounds[u] && sound.size() > 44) << units[u];
        }
    }
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
    EXPECT_EQ(same.err, "okrelt: a.wav (for other/a.wu) is the same file as a.wav (for a.sah); nothing written\n");
    EXPECT_FALSE(okrelt_test::file_exists(dir.file("a.wav")));
    // b.wav.sah's sound file would be the input b.wav: never overwritten.
    okrelt_test::write_file(dir.file("b.wav"), "an input");
    const RunResult input = run(dir, OKRELT_BINARY, {"b.wav", "b.wav.sah"});
    EXPECT_EQ(input.exit_status, 1);
    EXPECT_EQ(okrelt_test::read_file(dir.file("b.wav")), "an input");
}

// Each unit's own reason, on its line on standard error: a device, a pipe,
// a missing file, a sound file that cannot be written; links however they
// are written and wherever they stand; the same unit named twice converted
// once; a second run over the folder converting again; the list read from
// standard input; long and bundled spellings.
TEST(CommandLine, EveryUnitGetsItsOwnLineAndReason) {
    TempDir dir;
    ASSERT_EQ(mkdir(dir.file("slot").c_str(), 0755), 0);
    ASSERT_EQ(mkdir(dir.file("out").c_str(), 0755), 0);
    ASSERT_EQ(mkdir(dir.file("out/blocked.wav").c_str(), 0755), 0);
    okrelt_test::write_work_unit_file(dir.file("slot/u.wu"), okrelt_test::constant_samples(131072, 1, -1));
    okrelt_test::write_work_unit_file(dir.file("blocked.wu"), okrelt_test::constant_samples(131072, 1, -1));
    okrelt_test::write_file(dir.file("slot/work_unit.sah"), "\n<soft_link>u.wu</soft_link>\n");
    okrelt_test::write_file(dir.file("split.wu"), "<soft_link>\n  slot/u.wu\n</soft_link>\n");
    ASSERT_EQ(symlink("/dev/zero", dir.file("zero.wu").c_str()), 0);
    ASSERT_EQ(mkfifo(dir.file("pipe.wu").c_str(), 0644), 0);
    okrelt_test::write_file(dir.file("list"), "zero.wu\npipe.wu\nmissing.wu\nblocked.wu\nslot/work_unit.sah\n"
                                              "split.wu\nslot/u.wu\n./slot/u.wu\n");
    okrelt_test::RunOptions options;
    options.program = "/bin/sh";
    options.args = {"-c", "exec \"$0\" -qo out --files-from=- < list", OKRELT_BINARY};
    for (int round = 0; round < 2; ++round) {
        const RunResult run = okrelt_test::run_program(dir.path(), options);
        EXPECT_EQ(run.exit_status, 1);
        EXPECT_EQ(run.err,
                  "okrelt: ./slot/u.wu is the same file as slot/u.wu; converted once\n"
                  "zero.wu: Work unit refused: zero.wu is not a regular file.\n"
                  "pipe.wu: Work unit refused: pipe.wu is not a regular file.\n"
                  "missing.wu: Error opening missing.wu: No such file or directory\n"
                  "blocked.wu: Error opening out/blocked.wav: Is a directory\n")
            << "round " << round;
        EXPECT_EQ(run.out,
                  "slot/work_unit.sah: 131072 samples, RFI 92681 WHOA -> out/work_unit.wav\n"
                  "split.wu: 131072 samples, RFI 92681 WHOA -> out/split.wav\n"
                  "slot/u.wu: 131072 samples, RFI 92681 WHOA -> out/u.wav\n")
            << "round " << round;
    }
    const RunResult long_names = run(dir, OKRELT_BINARY, {"--quiet", "--output", "out", "slot/u.wu"});
    EXPECT_EQ(long_names.exit_status, 0);
    EXPECT_EQ(long_names.out, "slot/u.wu: 131072 samples, RFI 92681 WHOA -> out/u.wav\n");
    const RunResult missing_folder = run(dir, OKRELT_BINARY, {"-q", "-o", "nowhere", "slot/u.wu"});
    EXPECT_EQ(missing_folder.err, "okrelt: nowhere: No such file or directory\n");
    // The summary of a full report counts the unit that failed.
    const RunResult full = run(dir, OKRELT_BINARY, {"-o", "out", "slot/u.wu", "missing.wu"});
    EXPECT_EQ(full.exit_status, 1);
    EXPECT_NE(full.out.find("\nConverted 1 of 2 work units.\n"), std::string::npos) << full.out;
}

// okrelt-make-wu as a user runs it: the format and depth it is asked for, a
// tone on its side of the centre, a constant as given, and refusals of what
// it cannot honour.
TEST(CommandLine, MakeWuWritesWhatItIsAskedAndRefusesWhatItCannot) {
    TempDir dir;
    EXPECT_EQ(run(dir, OKRELT_MAKE_WU_BINARY, {"--format", "later", "--bits", "4", "--samples", "131072", "--tone",
                                               "-2000", "-o", "tone.wu"}).exit_status, 0);
    EXPECT_EQ(okrelt_test::read_file(dir.file("tone.wu")).rfind("<workunit>", 0), 0u);
    const RunResult tone = run(dir, OKRELT_SEARCH_BINARY, {"tone.wu"});
    EXPECT_NE(tone.out.find(" -2000.3"), std::string::npos) << tone.out;
    EXPECT_EQ(run(dir, OKRELT_MAKE_WU_BINARY, {"--samples", "131072", "--constant", "+1", "-1", "-o", "c.sah"}).exit_status, 0);
    EXPECT_EQ(okrelt_test::read_file(dir.file("c.sah")).rfind("<workunit_header>", 0), 0u);
    const RunResult constant = run(dir, OKRELT_BINARY, {"-q", "c.sah"});
    EXPECT_EQ(constant.out, "c.sah: 131072 samples, RFI 92681 WHOA -> c.wav\n");
    // In-phase +1 and quadrature -1: every block's whole power in bin 0, real part +1.
    const std::string sound = okrelt_test::read_file(dir.file("c.wav"));
    ASSERT_EQ(sound.size(), 44u + 262144u);
    EXPECT_EQ(static_cast<unsigned char>(sound[44]), 128 + 16);
    for (const std::vector<std::string>& refused :
         {std::vector<std::string>{"--rate", "5000"}, {"--bits", "4"}, {"--format", "later", "--tone", "4882.8125"},
          {"--constant", "1", "0"}, {"--samples", "0x10"}, {"--constant", "1", "1", "--tone", "5"}}) {
        const RunResult result = run(dir, OKRELT_MAKE_WU_BINARY, refused);
        EXPECT_EQ(result.exit_status, 2) << refused[0] << " " << refused[1];
        EXPECT_NE(result.err.find("okrelt-make-wu: "), std::string::npos) << result.err;
    }
    ASSERT_EQ(mkdir(dir.file("taken.sah").c_str(), 0755), 0);
    EXPECT_EQ(run(dir, OKRELT_MAKE_WU_BINARY, {"--samples", "8", "-o", "taken.sah"}).exit_status, 1);
}

}  // namespace

namespace {

// Lists as find and editors write them: LF or CR LF lines with a byte-order
// mark, NUL-separated with --null; a NUL byte or a lone CR in a line list is
// refused by line, and a list naming nothing is no error. Odd names come out
// quoted on the -q lines, plain ones as they are.
TEST(CommandLine, UnitListsAsToolsWriteThem) {
    TempDir dir;
    for (const char* unit : {"a.wu", "b.wu", "sp ace.wu"}) {
        okrelt_test::write_work_unit_file(dir.file(unit), okrelt::make_example_samples(131072, 4));
    }
    const std::string converted = "a.wu: 131072 samples, RFI 1976 Nah -> a.wav\n"
                                  "'sp ace.wu': 131072 samples, RFI 1976 Nah -> 'sp ace.wav'\n";
    okrelt_test::write_file(dir.file("crlf"), "\xEF\xBB\xBF" "a.wu\r\nsp ace.wu\r\n");
    okrelt_test::write_file(dir.file("nul"), std::string("./a.wu\0sp ace.wu\0", 17));
    const RunResult crlf = run(dir, OKRELT_BINARY, {"-q", "-T", "crlf"});
    EXPECT_EQ(crlf.exit_status, 0) << crlf.err;
    EXPECT_EQ(crlf.out, converted);
    const RunResult nul = run(dir, OKRELT_BINARY, {"-q", "--null", "-T", "nul"});
    EXPECT_EQ(nul.exit_status, 0) << nul.err;
    EXPECT_EQ(nul.out, "./a.wu: 131072 samples, RFI 1976 Nah -> a.wav\n"
                       "'sp ace.wu': 131072 samples, RFI 1976 Nah -> 'sp ace.wav'\n");

    okrelt_test::write_file(dir.file("lone-cr"), "a.wu\nb.wu\rsp ace.wu\n");
    const RunResult nul_in_lines = run(dir, OKRELT_BINARY, {"-q", "-T", "nul"});
    EXPECT_EQ(nul_in_lines.exit_status, 1);
    EXPECT_EQ(nul_in_lines.err.rfind("okrelt: nul, line 1: a NUL byte", 0), 0u) << nul_in_lines.err;
    const RunResult lone_cr = run(dir, OKRELT_BINARY, {"-q", "-T", "lone-cr"});
    EXPECT_EQ(lone_cr.exit_status, 1);
    EXPECT_EQ(lone_cr.err.rfind("okrelt: lone-cr, line 2: a carriage return", 0), 0u) << lone_cr.err;
    EXPECT_EQ(lone_cr.out, "");

    // A failed unit's line stays one line, however its name is made.
    const RunResult odd = run(dir, OKRELT_BINARY, {"-q", "no\nsuch.wu"});
    EXPECT_EQ(odd.err, "'no'$'\\012''such.wu': Error opening no\\012such.wu: No such file or directory\n");

    okrelt_test::write_file(dir.file("empty"), "\n");
    const RunResult empty = run(dir, OKRELT_BINARY, {"-q", "-T", "empty"});
    EXPECT_EQ(empty.exit_status, 0);
    EXPECT_EQ(empty.err, "okrelt: the lists name no work unit; nothing to do\n");
}

// -- ends the options in every program: a name starting with "-" after it
// is an operand.
TEST(CommandLine, DoubleDashEndsTheOptionsEverywhere) {
    TempDir dir;
    okrelt_test::write_work_unit_file(dir.file("-a.wu"), okrelt::make_example_samples(131072, 4));
    const RunResult okrelt = run(dir, OKRELT_BINARY, {"-q", "--", "-a.wu"});
    EXPECT_EQ(okrelt.exit_status, 0) << okrelt.err;
    EXPECT_TRUE(okrelt_test::file_exists(dir.file("-a.wav")));
    const RunResult search = run(dir, OKRELT_SEARCH_BINARY, {"--", "-a.wu"});
    EXPECT_EQ(search.exit_status, 0) << search.err;
    EXPECT_TRUE(okrelt_test::file_exists(dir.file("-a.dat")));
#ifdef OKRELT_WATERFALL_BINARY
    const RunResult waterfall = run(dir, OKRELT_WATERFALL_BINARY, {"--", "-a.wu"});
    EXPECT_EQ(waterfall.exit_status, 0) << waterfall.err;
    EXPECT_TRUE(okrelt_test::file_exists(dir.file("-a.png")));
#endif
    const RunResult make = run(dir, OKRELT_MAKE_WU_BINARY, {"--samples", "131072", "-o", "-b.wu", "--"});
    EXPECT_EQ(make.exit_status, 0) << make.err;
    EXPECT_TRUE(okrelt_test::file_exists(dir.file("-b.wu")));
}

}  // namespace
