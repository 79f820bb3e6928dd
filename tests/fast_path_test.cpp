// The example work unit converted by the built okrelt equals, byte for byte
// and character for character, its conversion with the plain transcription,
// and what the example is known to give: its header's bytes and its factor.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <string>

#include "audio/converter.h"
#include "tests/support/reference_fft.h"
#include "tests/support/test_support.h"
#include "tests/support/work_units.h"
#include "workunit/reader.h"

namespace {

TEST(FastPath, ExampleSoundFileAndTextEqualTheReference) {
    okrelt_test::TempDir dir;
    const std::string example = okrelt_test::read_file(OKRELT_EXAMPLE_WORK_UNIT);
    ASSERT_FALSE(example.empty());
    okrelt_test::write_file(dir.file("work_unit.sah"), example);

    // The reference conversion, in this process.
    okrelt::SampleStreams streams;
    {
        okrelt::FileHandle input(std::fopen(dir.file("work_unit.sah").c_str(), "r"));
        ASSERT_TRUE(input);
        testing::internal::CaptureStdout();
        ASSERT_EQ(okrelt::read_work_unit(input.get(), &streams), 0);
        testing::internal::GetCapturedStdout();
    }
    char previous[4096];
    ASSERT_NE(getcwd(previous, sizeof previous), nullptr);
    ASSERT_EQ(chdir(dir.path().c_str()), 0);
    testing::internal::CaptureStdout();
    okrelt::SoundResult reference_result;
    const int status = okrelt::convert_to_wav_with(okrelt_test::reference_convert_block, streams.in_phase,
                                                   streams.quadrature, streams.count, {}, &reference_result);
    const std::string reference_text = testing::internal::GetCapturedStdout();
    ASSERT_EQ(chdir(previous), 0);
    ASSERT_EQ(status, 0);
    ASSERT_EQ(std::rename(dir.file("work_unit.wav").c_str(), dir.file("reference.wav").c_str()), 0);

    const okrelt_test::RunResult run = okrelt_test::run_okrelt(dir.path());
    ASSERT_EQ(run.exit_status, 0);
    const std::string reference = okrelt_test::read_file(dir.file("reference.wav"));
    const std::string fast = okrelt_test::read_file(dir.file("work_unit.wav"));
    ASSERT_EQ(reference.size(), 44u + 2u * 1048576u);
    ASSERT_EQ(fast.size(), reference.size());
    size_t differing = 0;
    for (size_t i = 0; i < fast.size(); ++i) differing += fast[i] != reference[i];
    EXPECT_EQ(differing, 0u);
    EXPECT_NE(run.out.find("Converting...\n" + reference_text), std::string::npos);

    // Independent of the project's own header writer and peak search.
    const std::string header("RIFF\x24\x00\x20\x00WAVEfmt \x10\x00\x00\x00\x01\x00\x01\x00"
                             "\x4b\x4c\x00\x00\x4b\x4c\x00\x00\x01\x00\x08\x00" "data\x00\x00\x20\x00",
                             44);
    EXPECT_EQ(fast.substr(0, 44), header);
    EXPECT_NE(run.out.find("100.00 %\n--RFI Factor-------\n**YEP**  (2585)\n" +
                           std::string(okrelt_test::RFI_DISCLAIMER)),
              std::string::npos);

    // What the conversions return: the factor printed, the peak it truncates
    // and where that lies (block 1, as okrelt-waterfall's table has it), the
    // fast path's with a team as the reference's.
    EXPECT_EQ(reference_result.rfi_factor, 2585);
    EXPECT_EQ(static_cast<int32_t>(reference_result.peak), 2585);
    EXPECT_EQ(reference_result.place.block, 1);
    okrelt::SoundFormat measuring;
    measuring.path = nullptr;
    measuring.team = true;
    okrelt::SoundResult fast_result;
    testing::internal::CaptureStdout();
    ASSERT_EQ(okrelt::convert_to_sound_file(streams.in_phase, streams.quadrature, streams.count, measuring,
                                            &fast_result),
              0);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), reference_text);
    EXPECT_EQ(fast_result.rfi_factor, reference_result.rfi_factor);
    EXPECT_EQ(fast_result.peak, reference_result.peak);
    EXPECT_EQ(fast_result.place.block, reference_result.place.block);
    EXPECT_EQ(fast_result.place.bin, reference_result.place.bin);
}

}  // namespace
