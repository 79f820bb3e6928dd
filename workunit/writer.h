// Work-unit writer: encodes +1/-1 sample streams as a work-unit text file,
// for the example, the tests and the fuzz corpus.
#pragma once

#include <cstdint>
#include <cstdio>
#include <vector>

namespace okrelt {

constexpr int WRITER_CHARS_PER_LINE = 64;
constexpr int32_t EXAMPLE_SAMPLES = 1048576;
constexpr uint64_t EXAMPLE_SEED = 0x5e71a7e5ULL;

// Samples to encode: in_phase[k] + i * quadrature[k], each +1 or -1.
struct SampleVectors {
    std::vector<int8_t> in_phase;
    std::vector<int8_t> quadrature;
};

struct WriterOptions {
    const char* name = "okrelt_example.0";
    const char* line_end = "\n";   // "\r\n" writes a work unit with CR LF ends
    int chars_per_line = WRITER_CHARS_PER_LINE;
    bool declare_count = true;     // false leaves the "nsamples=" line out
};

// Encodes three samples into one printable character (" " to "_"); missing
// samples of a final character are taken as (-1, -1).
char encode_samples(const int8_t* in_phase, const int8_t* quadrature, int samples);

// Writes a header like a real work unit's (declaring the sample count), the
// end marker, then the data lines. 0 on success, 1 if a write failed.
[[nodiscard]] int write_work_unit(std::FILE* file, const SampleVectors& samples,
                                  const WriterOptions& options);

// Receiver noise with a faint tone drifting in frequency, quantised to one bit
// per component; the same seed always gives the same samples.
SampleVectors make_example_samples(int32_t count, uint64_t seed);

}  // namespace okrelt
