#include "tests/support/work_units.h"

#include <gtest/gtest.h>

#include "common/stdio_file.h"
#include "common/version.h"

namespace okrelt_test {

const char* const BANNER =
    "OKRELT Version " OKRELT_VERSION "W\nby Quorvane\n"
    "\nUse it at your own risk. \n\n"
    "The SETI@home client can very well analyze the workunit data,\n"
    "so don't email SETI@home with anything you think you've found.\n"
    "If what you think you've found really is something, then the\n"
    "SETI@home client will find it and report it back.\n"
    "\n"
    "SETI@home website: https://setiathome.berkeley.edu/\n"
    "OKRELT website:    https://okrelt.quorvane.net/\n"
    "--------------------------------------------------------------\n";

const char* const RFI_DISCLAIMER =
    "-------------------\n"
    "The RFI factor is provided for entertainment\n"
    "purposes only. No guarantees are given for the\n"
    "Correctness and accuracy of it. The SETI@home\n"
    "client is the best program for analyzing WU's,\n\n"
    "IN NO CASE WHATSOEVER SHALL YOU DELETE A WORKUNIT\n"
    "JUST BECAUSE THE RFI FACTOR IS HIGH!\n\n";

void write_work_unit_file(const std::string& path, const okrelt::SampleVectors& samples,
                          const okrelt::WriterOptions& options) {
    okrelt::FileHandle file(std::fopen(path.c_str(), "wb"));
    ASSERT_TRUE(file) << path;
    ASSERT_EQ(okrelt::write_work_unit(file.get(), samples, options), 0);
}

okrelt::SampleVectors constant_samples(int32_t count, int8_t in_phase, int8_t quadrature) {
    okrelt::SampleVectors samples;
    samples.in_phase.assign(static_cast<size_t>(count), in_phase);
    samples.quadrature.assign(static_cast<size_t>(count), quadrature);
    return samples;
}

}  // namespace okrelt_test
