// The whole job end to end: okrelt converting work units made by the writer
// in a scratch folder, its printed text, the sound file and the failures.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "audio/converter.h"
#include "common/output_file.h"
#include "tests/support/test_support.h"
#include "tests/support/work_units.h"

namespace {

using okrelt_test::BANNER;
using okrelt_test::RunResult;
using okrelt_test::TempDir;

const char* const WEB_SITES =
    "SETI@home website: https://setiathome.berkeley.edu/\n"
    "OKRELT website:    https://okrelt.quorvane.net/\n";
const std::string CLOSING = std::string("Press Enter (the biggest key ;-) to quit.\n\n") + WEB_SITES;
const char* const DISCLAIMER = okrelt_test::RFI_DISCLAIMER;

std::string head_of_run(int32_t count) {
    const std::string n = std::to_string(count);
    return std::string(BANNER) + "nsamples=" + n + "\nSamples decoded: " + n + "\nConverting...\n";
}

RunResult convert(const TempDir& dir, const okrelt::SampleVectors& samples) {
    okrelt_test::write_work_unit_file(dir.file("work_unit.sah"), samples);
    return okrelt_test::run_okrelt(dir.path());
}

std::string sound_samples(const TempDir& dir) {
    const std::string wav = okrelt_test::read_file(dir.file("work_unit.wav"));
    return wav.size() >= 44 ? wav.substr(44) : std::string();
}

TEST(Quantise, GainOffsetTruncationAndClipping) {
    testing::internal::CaptureStdout();
    EXPECT_EQ(okrelt::quantise_sample(8.0), 255);
    EXPECT_EQ(okrelt::quantise_sample(-8.5), 0);
    EXPECT_EQ(okrelt::quantise_sample(0.062499), 128);
    EXPECT_EQ(okrelt::quantise_sample(-0.062499), 128);
    EXPECT_EQ(okrelt::quantise_sample(1.0), 144);
    EXPECT_EQ(okrelt::quantise_sample(-0.99999), 113);
    EXPECT_EQ(okrelt::quantise_sample(7.99), 255);
    // Exactly 0 and 255 fit: nothing to report.
    EXPECT_EQ(okrelt::quantise_sample(-8.0), 0);
    EXPECT_EQ(okrelt::quantise_sample(-8.06), 0);
    EXPECT_EQ(okrelt::quantise_sample(7.999), 255);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Overflow! 256\nOverflow! -8\n");
}

TEST(Conversion, TwoBlocksOfNoise) {
    TempDir dir;
    const okrelt::SampleVectors samples = okrelt::make_example_samples(131072, 21);
    const RunResult run = convert(dir, samples);
    EXPECT_EQ(run.exit_status, 0);
    EXPECT_EQ(run.err, "");
    const std::string head = head_of_run(131072) + "50.00 %\n100.00 %\n--RFI Factor-------\n**";
    EXPECT_EQ(run.out.substr(0, head.size()), head);
    EXPECT_NE(run.out.find(DISCLAIMER + CLOSING), std::string::npos);
    EXPECT_EQ(run.out.substr(run.out.size() - CLOSING.size()), CLOSING);
    EXPECT_EQ(okrelt_test::read_file(dir.file("work_unit.wav")).size(), 44u + 2u * 131072u);

    // Even output sample 2t is in-phase sample t, times 16, plus 128; rounding
    // may leave it just short of the boundary.
    const std::string bytes = sound_samples(dir);
    ASSERT_EQ(bytes.size(), 2u * 131072u);
    for (size_t t = 0; t < 131072; ++t) {
        const int byte = static_cast<unsigned char>(bytes[2 * t]);
        if (samples.in_phase[t] > 0) {
            ASSERT_TRUE(byte == 144 || byte == 143) << t << ": " << byte;
        } else {
            ASSERT_TRUE(byte == 112 || byte == 113) << t << ": " << byte;
        }
    }
}

TEST(Conversion, ThreeBlocksShowThirds) {
    TempDir dir;
    const RunResult run = convert(dir, okrelt::make_example_samples(3 * 65536, 4));
    EXPECT_EQ(run.exit_status, 0);
    const std::string head = head_of_run(3 * 65536) + "33.33 %\n66.67 %\n100.00 %\n--RFI Factor-------\n";
    EXPECT_EQ(run.out.substr(0, head.size()), head);
}

TEST(Conversion, ACountThatIsNoMultipleOfTheBlockIsRefusedBeforeAnyFile) {
    TempDir dir;
    const RunResult run = convert(dir, okrelt::make_example_samples(3 * 65536 + 1, 4));
    EXPECT_EQ(run.exit_status, 1);
    EXPECT_EQ(run.out, head_of_run(3 * 65536 + 1) + "Strange number of samples, will not convert.\nConversion failed.\n");
    EXPECT_FALSE(okrelt_test::file_exists(dir.file("work_unit.wav")));
}

TEST(Conversion, ConstantBlocksAreExact) {
    struct Case {
        int8_t value;
        char byte;
    };
    for (const Case c : {Case{-1, 112}, Case{1, static_cast<char>(144)}}) {
        TempDir dir;
        const RunResult run = convert(dir, okrelt_test::constant_samples(131072, c.value, c.value));
        EXPECT_EQ(run.exit_status, 0);
        EXPECT_NE(run.out.find("100.00 %\n--RFI Factor-------\n**WHOA**  (92681)\n"), std::string::npos);
        EXPECT_EQ(sound_samples(dir), std::string(2 * 131072, c.byte));
    }
}

TEST(Conversion, AnIndependentReaderAcceptsTheSoundFile) {
    TempDir dir;
    const RunResult run = convert(dir, okrelt::make_example_samples(131072, 8));
    ASSERT_EQ(run.exit_status, 0);
    const std::string script = dir.file("check.py");
    okrelt_test::write_file(script,
                            "import sys, wave\n"
                            "w = wave.open(sys.argv[1], 'rb')\n"
                            "print(w.getnchannels(), w.getsampwidth(), w.getframerate(), w.getnframes())\n");
    const std::string report = dir.file("wave.txt");
    if (std::system("python3 -c '' 2>/dev/null") != 0) GTEST_SKIP() << "python3 is not installed";
    const std::string command = "python3 " + script + " " + dir.file("work_unit.wav") + " > " + report;
    ASSERT_EQ(std::system(command.c_str()), 0);
    EXPECT_EQ(okrelt_test::read_file(report), "1 1 19531 262144\n");
}

TEST(Conversion, SamplesBeyondEightBitsAreReportedAndClipped) {
    // A square wave in the quadrature stream rings past full scale at its
    // edges once it is shifted by half a sample.
    okrelt::SampleVectors samples = okrelt_test::constant_samples(131072, 1, 1);
    for (size_t k = 0; k < samples.quadrature.size(); ++k) samples.quadrature[k] = (k % 65536) < 32768 ? 1 : -1;
    TempDir dir;
    const RunResult run = convert(dir, samples);
    EXPECT_EQ(run.exit_status, 0);
    const size_t first_progress = run.out.find("50.00 %\n");
    const size_t first_overflow = run.out.find("Overflow! ");
    ASSERT_NE(first_overflow, std::string::npos);
    EXPECT_LT(first_overflow, first_progress);
    EXPECT_NE(run.out.find("Overflow! ", first_progress), std::string::npos);

    int overflow_lines = 0;
    for (size_t at = run.out.find("Overflow! "); at != std::string::npos; at = run.out.find("Overflow! ", at + 1)) {
        const int value = std::atoi(run.out.c_str() + at + 10);
        EXPECT_TRUE(value > 255 || value < 0) << value;
        ++overflow_lines;
    }
    const std::string bytes = sound_samples(dir);
    int clipped = 0;
    for (const char b : bytes) clipped += static_cast<unsigned char>(b) == 255 || b == 0;
    EXPECT_GE(clipped, overflow_lines);
}

TEST(Conversion, OutputThatCannotBeCreatedFails) {
    TempDir dir;
    ASSERT_EQ(mkdir(dir.file("work_unit.wav").c_str(), 0755), 0);
    const RunResult run = convert(dir, okrelt::make_example_samples(131072, 2));
    EXPECT_EQ(run.exit_status, 1);
    EXPECT_EQ(run.out, head_of_run(131072) + "Conversion failed.\n");
    EXPECT_EQ(run.err, "Error opening outfile: Is a directory\n");
}

// Where no thread can be started, the sound file is written block by block
// on the converting thread instead, and comes out the same.
TEST(Conversion, WithoutThreadsTheSoundFileIsTheSame) {
    TempDir threads;
    TempDir none;
    const okrelt::SampleVectors samples = okrelt::make_example_samples(196608, 3);
    const RunResult usual = convert(threads, samples);
    okrelt_test::write_work_unit_file(none.file("work_unit.sah"), samples);
    const RunResult alone = okrelt_test::run_okrelt(
        none.path(), {std::string("LD_PRELOAD=") + OKRELT_NO_THREADS, "ASAN_OPTIONS=verify_asan_link_order=0"});
    EXPECT_EQ(alone.exit_status, 0);
    EXPECT_EQ(alone.out, usual.out);
    EXPECT_EQ(sound_samples(none), sound_samples(threads));
    EXPECT_EQ(sound_samples(none).size(), 2u * 196608u);
}

// A conversion that fails leaves no partial file and keeps the older sound
// file byte for byte: when memory runs out, when a write fails (the
// file-size limit stops the last block's bytes one short), and when the
// name stands for a device.
TEST(Conversion, AFailedConversionKeepsTheOlderSoundFileAndLeavesNothingElse) {
    TempDir dir;
    okrelt_test::write_work_unit_file(dir.file("work_unit.sah"), okrelt::make_example_samples(131072, 2));
    const std::string older = "RIFF an older sound file";
    okrelt_test::write_file(dir.file("work_unit.wav"), older);
    const std::vector<std::string> before = okrelt_test::folder_entries(dir.path());

    // A sanitizer runtime wants to come first; the preloaded library only
    // refuses the program's own big mappings, which the sanitizers leave alone.
    const RunResult memory = okrelt_test::run_okrelt(
        dir.path(), {std::string("LD_PRELOAD=") + OKRELT_NO_BIG_MAPPINGS, "ASAN_OPTIONS=verify_asan_link_order=0"});
    EXPECT_EQ(memory.exit_status, 1);
    EXPECT_EQ(memory.out, head_of_run(131072) + "Memory allocation for fft's failed.Conversion failed.\n");
    EXPECT_EQ(okrelt_test::read_file(dir.file("work_unit.wav")), older);
    EXPECT_EQ(okrelt_test::folder_entries(dir.path()), before);

    okrelt_test::RunOptions options;
    options.program = "/bin/sh";
    options.args = {"-c", "trap '' XFSZ; exec prlimit --fsize=262187 \"$0\"", OKRELT_BINARY};
    const RunResult flush = okrelt_test::run_program(dir.path(), options);
    EXPECT_EQ(flush.exit_status, 1);
    EXPECT_EQ(flush.err, "Error writing outfile: File too large\n");
    const std::string tail = std::string(DISCLAIMER) + "Conversion failed.\n";
    EXPECT_EQ(flush.out.substr(flush.out.size() - tail.size()), tail);
    EXPECT_EQ(okrelt_test::read_file(dir.file("work_unit.wav")), older);
    EXPECT_EQ(okrelt_test::folder_entries(dir.path()), before);

    ASSERT_EQ(unlink(dir.file("work_unit.wav").c_str()), 0);
    ASSERT_EQ(mkfifo(dir.file("work_unit.wav").c_str(), 0644), 0);
    const RunResult device = okrelt_test::run_okrelt(dir.path());
    EXPECT_EQ(device.exit_status, 1);
    EXPECT_EQ(device.err, "Error opening outfile: Not a regular file\n");
    EXPECT_EQ(device.out, head_of_run(131072) + "Conversion failed.\n");
}

}  // namespace
