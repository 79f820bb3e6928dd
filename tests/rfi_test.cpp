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

// The tests of this program share one process-wide peak, so they run in an
// order that only raises it.
TEST(MeasureBlockPeak, KeepsTheLargestMagnitudeOfAllBlocks) {
    std::vector<double> re(okrelt::BLOCK_SAMPLES, 0.0);
    std::vector<double> im(okrelt::BLOCK_SAMPLES, 0.0);

    // A magnitude between 1499 and 1500 truncates to 1499.
    re[17] = 1499.75 / okrelt::PEAK_SCALE;
    EXPECT_EQ(okrelt::measure_block_peak(re.data(), im.data()), 1499);

    // 3 and 4 give 5 in the last bin too: every bin is looked at.
    re[17] = 0.0;
    re[okrelt::BLOCK_SAMPLES - 1] = 3000.0 / okrelt::PEAK_SCALE;
    im[okrelt::BLOCK_SAMPLES - 1] = -4000.0 / okrelt::PEAK_SCALE;
    EXPECT_EQ(okrelt::measure_block_peak(re.data(), im.data()), 5000);
    EXPECT_EQ(okrelt::peak_magnitude, 5000.0);

    // A later, smaller block does not lower it.
    std::fill(re.begin(), re.end(), 0.001);
    std::fill(im.begin(), im.end(), 0.0);
    EXPECT_EQ(okrelt::measure_block_peak(re.data(), im.data()), 5000);

    // A block of constant (+1, +1) samples puts 1 + i in bin 0: 65536 sqrt(2).
    std::fill(re.begin(), re.end(), 0.0);
    re[0] = 1.0;
    im[0] = 1.0;
    EXPECT_EQ(okrelt::measure_block_peak(re.data(), im.data()), 92681);
    EXPECT_EQ(okrelt::peak_magnitude, std::hypot(65536.0, 65536.0));
}

TEST(MeasureBlockPeak, NearTiesAreSettledByHypot) {
    // Two bins whose squares round alike: the peak must be hypot's larger one.
    std::vector<double> re(okrelt::BLOCK_SAMPLES, 0.0);
    std::vector<double> im(okrelt::BLOCK_SAMPLES, 0.0);
    const double a = 1.5;
    const double b = std::nextafter(1.5, 2.0);
    re[100] = a;
    im[100] = b;
    re[200] = b;
    im[200] = std::nextafter(b, 2.0);
    okrelt::measure_block_peak(re.data(), im.data());
    const double expected = std::max(std::hypot(okrelt::PEAK_SCALE * a, okrelt::PEAK_SCALE * b),
                                     std::hypot(okrelt::PEAK_SCALE * b, okrelt::PEAK_SCALE * im[200]));
    EXPECT_EQ(okrelt::peak_magnitude, expected);
}

}  // namespace
