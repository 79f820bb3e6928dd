// The built okrelt, run in a scratch folder up to the count check: banner,
// missing or unreadable work unit, refused counts, exit statuses.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <string>

#include "tests/support/test_support.h"
#include "tests/support/work_units.h"

namespace {

using okrelt_test::BANNER;
using okrelt_test::RunResult;
using okrelt_test::TempDir;

const char* const TOO_FEW = "Quite few samples decoded. I wont bother converting those.\n";

TEST(Driver, MissingWorkUnitPrintsBannerThenTheErrorOnStandardError) {
    TempDir dir;
    const RunResult run = okrelt_test::run_okrelt(dir.path());
    EXPECT_EQ(run.exit_status, 1);
    EXPECT_EQ(run.out, BANNER);
    EXPECT_EQ(run.err, "Error opening work_unit.sah: No such file or directory\n");
}

TEST(Driver, TheBannerComesBeforeTheErrorWhenBothShareOneFile) {
    TempDir dir;
    okrelt_test::RunOptions options;
    options.errors_into_output = true;
    const RunResult run = okrelt_test::run_program(dir.path(), options);
    EXPECT_EQ(run.exit_status, 1);
    EXPECT_EQ(run.out, std::string(BANNER) + "Error opening work_unit.sah: No such file or directory\n");
}

TEST(Driver, TheClosingPromptShowsWhileItWaitsForEnter) {
    TempDir dir;
    okrelt_test::write_work_unit_file(dir.file("work_unit.sah"), okrelt::make_example_samples(131072, 3));
    const std::string prompt =
        "Press Enter (the biggest key ;-) to quit.\n\n"
        "SETI@home website: https://setiathome.berkeley.edu/\nOKRELT website:    https://okrelt.quorvane.net/\n";
    const okrelt_test::HeldInputRun run = okrelt_test::run_okrelt_holding_input(dir.path(), prompt);
    EXPECT_TRUE(run.running);
    EXPECT_EQ(run.out.substr(0, std::string(BANNER).size()), BANNER);
    EXPECT_EQ(run.out.size() - run.out.rfind(prompt), prompt.size()) << run.out;
    EXPECT_EQ(run.exit_status, 0);
}

TEST(Driver, RefusesFewerThan131072Samples) {
    TempDir dir;
    okrelt_test::write_work_unit_file(dir.file("work_unit.sah"), okrelt::make_example_samples(131071, 3));
    const RunResult run = okrelt_test::run_okrelt(dir.path());
    EXPECT_EQ(run.exit_status, 1);
    EXPECT_EQ(run.out, std::string(BANNER) + "nsamples=131071\nSamples decoded: 131071\n" + TOO_FEW);
    EXPECT_EQ(run.err, "");
    EXPECT_FALSE(okrelt_test::file_exists(dir.file("work_unit.wav")));
}

TEST(Driver, ZeroSamplesDecodedIsRefused) {
    TempDir dir;
    okrelt_test::write_file(dir.file("work_unit.sah"), "type=wu\nnsamples=500\nend_seti_header\n");
    const RunResult run = okrelt_test::run_okrelt(dir.path());
    EXPECT_EQ(run.exit_status, 1);
    EXPECT_EQ(run.out, std::string(BANNER) + "nsamples=500\nSamples decoded: 0\n" + TOO_FEW);
}

TEST(Driver, EndOfFileInTheHeaderFails) {
    TempDir dir;
    okrelt_test::write_file(dir.file("work_unit.sah"), "type=wu\nnsamples=500\n");
    const RunResult run = okrelt_test::run_okrelt(dir.path());
    EXPECT_EQ(run.exit_status, 1);
    EXPECT_EQ(run.out, std::string(BANNER) + "nsamples=500\n" +
                           "Unexpected end of WU while searching for end_seti_header\n");
}

TEST(Driver, DirectoryInPlaceOfTheWorkUnitIsRefused) {
    TempDir dir;
    ASSERT_EQ(mkdir(dir.file("work_unit.sah").c_str(), 0755), 0);
    const RunResult run = okrelt_test::run_okrelt(dir.path());
    EXPECT_EQ(run.exit_status, 1);
    EXPECT_EQ(run.out, BANNER);
    EXPECT_EQ(run.err, "Error opening work_unit.sah: Is a directory\n");
}

TEST(Driver, CrLfWorkUnitDecodesTheSameCount) {
    TempDir dir;
    okrelt::WriterOptions crlf;
    crlf.line_end = "\r\n";
    okrelt_test::write_work_unit_file(dir.file("work_unit.sah"), okrelt::make_example_samples(1000, 5), crlf);
    const RunResult run = okrelt_test::run_okrelt(dir.path());
    EXPECT_EQ(run.exit_status, 1);
    EXPECT_EQ(run.out, std::string(BANNER) + "nsamples=1000\nSamples decoded: 1000\n" + TOO_FEW);
}

}  // namespace
