// Hostile and broken files end in a clear message and an exit status, never
// in a crash, a loop or unbounded memory.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <random>
#include <string>

#include "tests/support/test_support.h"
#include "tests/support/work_units.h"

namespace {

using okrelt_test::BANNER;
using okrelt_test::RunResult;
using okrelt_test::TempDir;

const char* const UNEXPECTED_END = "Unexpected end of WU while searching for end_seti_header\n";
const char* const TOO_FEW = "Quite few samples decoded. I wont bother converting those.\n";
const char* const NOT_FOUND = "nsamples= header not found, assuming default of 1048576 samples.\n";

std::string random_bytes(size_t count, unsigned seed) {
    std::mt19937 random(seed);
    std::string bytes(count, '\0');
    for (char& b : bytes) b = static_cast<char>(random() & 0xff);
    return bytes;
}

TEST(HostileInput, EmptyFileAndHeaderWithoutEndMarker) {
    for (const char* content : {"", "type=wu\nnsamples=131072\nname=no_marker\n"}) {
        TempDir dir;
        okrelt_test::write_file(dir.file("work_unit.sah"), content);
        const RunResult run = okrelt_test::run_okrelt(dir.path());
        EXPECT_EQ(run.exit_status, 1);
        EXPECT_EQ(run.out.substr(run.out.size() - std::string(UNEXPECTED_END).size()), UNEXPECTED_END);
        EXPECT_FALSE(okrelt_test::file_exists(dir.file("work_unit.wav")));
    }
}

TEST(HostileInput, FiftyMegabyteLineIsReadInPiecesWithBoundedMemory) {
    TempDir dir;
    {
        std::FILE* file = std::fopen(dir.file("work_unit.sah").c_str(), "wb");
        ASSERT_NE(file, nullptr);
        std::fputs("type=wu\nend_seti_header\n", file);
        const std::string chunk(1 << 20, '_');
        for (int mb = 0; mb < 50; ++mb) std::fwrite(chunk.data(), 1, chunk.size(), file);
        std::fclose(file);
    }
    const RunResult run = okrelt_test::run_okrelt(dir.path());
    // No count: the default of 1048576 stops the decoding long before the
    // line ends, and every sample is (+1, +1).
    EXPECT_EQ(run.exit_status, 0);
    EXPECT_NE(run.out.find(std::string(NOT_FOUND) + "Samples decoded: 1048576\n"), std::string::npos);
    EXPECT_NE(run.out.find("**WHOA**  (92681)"), std::string::npos);
    EXPECT_LT(run.peak_kib, 48 * 1024) << "the reader must not hold the line";
}

TEST(HostileInput, RandomBinaryBytes) {
    // Without a header: the end marker never comes.
    TempDir dir;
    okrelt_test::write_file(dir.file("work_unit.sah"), random_bytes(1 << 20, 1));
    const RunResult run = okrelt_test::run_okrelt(dir.path());
    EXPECT_EQ(run.exit_status, 1);
    EXPECT_EQ(run.out, std::string(BANNER) + UNEXPECTED_END);

    // Behind a header: every byte decodes by its low six bits, newlines and
    // NULs cut pieces, and the file converts.
    TempDir converted;
    okrelt_test::write_file(converted.file("work_unit.sah"),
                            "nsamples=131072\nend_seti_header\n" + random_bytes(1 << 20, 2));
    const RunResult decoded = okrelt_test::run_okrelt(converted.path());
    EXPECT_EQ(decoded.exit_status, 0);
    EXPECT_NE(decoded.out.find("Samples decoded: 131072\nConverting...\n50.00 %\n100.00 %\n"), std::string::npos);
    EXPECT_EQ(okrelt_test::read_file(converted.file("work_unit.wav")).size(), 44u + 2u * 131072u);
}

TEST(HostileInput, LargestDeclaredCountWithLittleData) {
    TempDir dir;
    okrelt_test::write_file(dir.file("work_unit.sah"), "nsamples=2147483647\nend_seti_header\n" + std::string(64, 'A') + "\n");
    const RunResult run = okrelt_test::run_okrelt(dir.path());
    EXPECT_EQ(run.exit_status, 1);
    EXPECT_EQ(run.out, std::string(BANNER) + "nsamples=2147483647\nSamples decoded: 192\n" + TOO_FEW);
}

TEST(HostileInput, NegativeCountFallsBackToTheDefault) {
    // Without a count the decoding runs to the end of the data: 65536
    // characters of three samples each, three whole blocks.
    TempDir dir;
    okrelt::SampleVectors samples = okrelt::make_example_samples(3 * 65536, 9);
    okrelt_test::write_work_unit_file(dir.file("work_unit.sah"), samples);
    std::string file = okrelt_test::read_file(dir.file("work_unit.sah"));
    const size_t at = file.find("nsamples=196608");
    ASSERT_NE(at, std::string::npos);
    file.replace(at, 15, "nsamples=-3");
    okrelt_test::write_file(dir.file("work_unit.sah"), file);
    const RunResult run = okrelt_test::run_okrelt(dir.path());
    EXPECT_EQ(run.exit_status, 0);
    EXPECT_NE(run.out.find(std::string("nsamples=-3\n") + NOT_FOUND + "Samples decoded: 196608\nConverting...\n"),
              std::string::npos);
}

TEST(HostileInput, WorkUnitThatCannotBeOpened) {
    // Running as root reads any file whatever its mode; a link loop still fails.
    TempDir dir;
    ASSERT_EQ(symlink("work_unit.sah", dir.file("work_unit.sah").c_str()), 0);
    const RunResult run = okrelt_test::run_okrelt(dir.path());
    EXPECT_EQ(run.exit_status, 1);
    EXPECT_EQ(run.out, BANNER);
    EXPECT_EQ(run.err, "Error opening work_unit.sah: Too many levels of symbolic links\n");
}

// A link at the sound file's name would write through to a file outside the
// run: refused before the unit is read, naming both.
TEST(HostileInput, SoundFileNameThatIsALink) {
    TempDir dir;
    okrelt_test::write_work_unit_file(dir.file("work_unit.sah"), okrelt::make_example_samples(131072, 2));
    ASSERT_EQ(symlink("missing/folder/x.wav", dir.file("work_unit.wav").c_str()), 0);
    const RunResult run = okrelt_test::run_okrelt(dir.path());
    EXPECT_EQ(run.exit_status, 1);
    EXPECT_EQ(run.err,
              "okrelt: work_unit.wav (for work_unit.sah) is a symbolic link to missing/folder/x.wav; nothing written\n");
    EXPECT_EQ(run.out, BANNER);
}

}  // namespace
