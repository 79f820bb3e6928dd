// Work units for the end-to-end tests, written with the project's writer.
#pragma once

#include <cstdint>
#include <string>

#include "workunit/writer.h"

namespace okrelt_test {

// The banner okrelt prints before anything else.
extern const char* const BANNER;

// The RFI box's closing rule and disclaimer, after the factor's line.
extern const char* const RFI_DISCLAIMER;

// Writes samples as a work unit at path.
void write_work_unit_file(const std::string& path, const okrelt::SampleVectors& samples,
                          const okrelt::WriterOptions& options = {});

// count samples, all equal to in_phase + i * quadrature.
okrelt::SampleVectors constant_samples(int32_t count, int8_t in_phase, int8_t quadrature);

}  // namespace okrelt_test
