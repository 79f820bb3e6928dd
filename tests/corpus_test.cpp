// okrelt on every seed of the fuzz corpus and every kept fuzz finding: each
// run ends with status 0 or 1 and the program's own messages, never a crash
// (under the sanitizer build, never a memory error either).
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/test_support.h"
#include "tests/support/work_units.h"

namespace {

std::vector<std::filesystem::path> inputs() {
    std::vector<std::filesystem::path> files;
    for (const char* folder : {OKRELT_FUZZ_CORPUS, OKRELT_FUZZ_REGRESSIONS}) {
        for (const auto& entry : std::filesystem::directory_iterator(folder)) {
            if (entry.is_regular_file() && entry.path().extension() != ".md") files.push_back(entry.path());
        }
    }
    return files;
}

TEST(Corpus, EveryInputEndsWithAStatusAndAMessage) {
    const std::vector<std::filesystem::path> files = inputs();
    ASSERT_GE(files.size(), 10u);
    for (const auto& path : files) {
        okrelt_test::TempDir dir;
        okrelt_test::write_file(dir.file("work_unit.sah"), okrelt_test::read_file(path.string()));
        const okrelt_test::RunResult run = okrelt_test::run_okrelt(dir.path());
        EXPECT_TRUE(run.exit_status == 0 || run.exit_status == 1) << path << ": " << run.exit_status;
        EXPECT_EQ(run.out.rfind(okrelt_test::BANNER, 0), 0u) << path;
        const bool converted = run.out.find("Press Enter (the biggest key ;-) to quit.") != std::string::npos;
        EXPECT_EQ(converted, run.exit_status == 0) << path;
    }
}

}  // namespace
