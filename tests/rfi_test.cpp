// The running peak, the grading table and the verdict box.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "report/rfi.h"
#include "tests/support/work_units.h"

namespace {

std::string report_text(int32_t factor) {
    testing::internal::CaptureStdout();
    okrelt::print_rfi_report(factor);
    return testing::internal::GetCapturedStdout();
}

TEST(RfiGrade, ThresholdsAreInclusiveAtTheLowerEnd) {
    const std::vector<std::pair<int32_t, const char*>> cases = {
        {0, "Nope"},     {1499, "Nope"}, {1500, "Nah"},  {1999, "Nah"},  {2000, "Maybe"},
        {2499, "Maybe"}, {2500, "YEP"},  {2999, "YEP"},  {3000, "WHOA"}, {92681, "WHOA"},
    };
    for (const auto& [factor, word] : cases) {
        EXPECT_STREQ(okrelt::rfi_grade(factor), word) << factor;
        EXPECT_NE(report_text(factor).find(std::string("**") + word + "**  (" + std::to_string(factor) + ")\n"),
                  std::string::npos)
            << factor;
    }
}

TEST(RfiReport, ExactTextForAFactorOf1234) {
    EXPECT_EQ(report_text(1234),
              "--RFI Factor-------\n"
              "**Nope**  (1234)\n" +
                  std::string(okrelt_test::RFI_DISCLAIMER));
}

// The peak only grows: every test starts from a fresh unit's.
class MeasureBlockPeak : public testing::Test {
protected:
    okrelt::RunningPeak peak;
    std::vector<double> re = std::vector<double>(okrelt::BLOCK_SAMPLES, 0.0);
    std::vector<double> im = std::vector<double>(okrelt::BLOCK_SAMPLES, 0.0);
};

TEST_F(MeasureBlockPeak, KeepsTheLargestMagnitudeOfAllBlocks) {
    // A magnitude between 1499 and 1500 truncates to 1499.
    re[17] = 1499.75 / okrelt::PEAK_SCALE;
    EXPECT_EQ(okrelt::measure_block_peak(&peak, re.data(), im.data()), 1499);

    // 3 and 4 give 5 in the last bin too: every bin is looked at.
    re[17] = 0.0;
    re[okrelt::BLOCK_SAMPLES - 1] = 3000.0 / okrelt::PEAK_SCALE;
    im[okrelt::BLOCK_SAMPLES - 1] = -4000.0 / okrelt::PEAK_SCALE;
    peak.block = 4;
    EXPECT_EQ(okrelt::measure_block_peak(&peak, re.data(), im.data()), 5000);
    EXPECT_EQ(peak.magnitude, 5000.0);

    // Later, smaller blocks do not lower it nor move it: one far below, and
    // one so close below that its bins are looked at.
    peak.block = 5;
    std::fill(re.begin(), re.end(), 0.001);
    std::fill(im.begin(), im.end(), 0.0);
    EXPECT_EQ(okrelt::measure_block_peak(&peak, re.data(), im.data()), 5000);
    re[3] = std::nextafter(5000.0, 0.0) / okrelt::PEAK_SCALE;
    EXPECT_EQ(okrelt::measure_block_peak(&peak, re.data(), im.data()), 5000);
    EXPECT_EQ(peak.magnitude, 5000.0);
    EXPECT_EQ(peak.place.block, 4);
    EXPECT_EQ(peak.place.bin, okrelt::BLOCK_SAMPLES - 1);

    // A block of constant (+1, +1) samples puts 1 + i in bin 0: 65536 sqrt(2).
    std::fill(re.begin(), re.end(), 0.0);
    re[0] = 1.0;
    im[0] = 1.0;
    EXPECT_EQ(okrelt::measure_block_peak(&peak, re.data(), im.data()), 92681);
    EXPECT_EQ(peak.magnitude, std::hypot(65536.0, 65536.0));
}

TEST_F(MeasureBlockPeak, NearTiesAreSettledByHypot) {
    // Two bins whose squared magnitudes and hypot values rank in opposite
    // orders: the peak is the larger hypot, from the bin with the smaller square.
    re[100] = 0x1.8f573f2bfc85cp-1;
    im[100] = 0x1.6d9e14483c8bcp-1;
    re[200] = 0x1.8f573f2bfc85bp-1;
    im[200] = 0x1.6d9e14483c8bdp-1;
    const double square_100 = re[100] * re[100] + im[100] * im[100];
    const double square_200 = re[200] * re[200] + im[200] * im[200];
    const double hypot_100 = std::hypot(okrelt::PEAK_SCALE * re[100], okrelt::PEAK_SCALE * im[100]);
    const double hypot_200 = std::hypot(okrelt::PEAK_SCALE * re[200], okrelt::PEAK_SCALE * im[200]);
    ASSERT_GT(square_100, square_200);
    ASSERT_LT(hypot_100, hypot_200);
    okrelt::measure_block_peak(&peak, re.data(), im.data());
    EXPECT_EQ(peak.magnitude, hypot_200);
    EXPECT_EQ(peak.place.bin, 200);
}

}  // namespace
