// Work-unit writer: encodes sample streams as a work-unit text file in either
// format, for the example, the tests and the fuzz corpus.
#pragma once

#include <cstdint>
#include <cstdio>
#include <vector>

namespace okrelt {

constexpr int WRITER_CHARS_PER_LINE = 64;
constexpr int32_t EXAMPLE_SAMPLES = 1048576;
constexpr uint64_t EXAMPLE_SEED = 0x5e71a7e5ULL;
constexpr double STEADY_TONE_AMPLITUDE = 0.25;   // make_tone_samples' tone, relative to the noise's parts

// Samples to encode: in_phase[k] + i * quadrature[k], each +1 or -1, or for
// 4-bit units the codes -2, -1, 1, 2 of FOUR_BIT_LEVELS.
struct SampleVectors {
    std::vector<int8_t> in_phase;
    std::vector<int8_t> quadrature;
};

struct WriterOptions {
    const char* name = "okrelt_example.0";
    const char* line_end = "\n";   // "\r\n" writes a work unit with CR LF ends
    int chars_per_line = WRITER_CHARS_PER_LINE;
    bool declare_count = true;     // false leaves the sample count out
    bool later_format = false;     // the XML-wrapped format instead of the classic one
    int bits_per_sample = 2;       // later format: 2 or 4
    double subband_rate = 9765.625;   // later format: complex samples per second
    int dropped_groups = 0;        // later format: groups of 4 characters (3 bytes) left off the end
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

// Receiver noise with a steady complex tone of cycles_per_sample (negative
// below the centre), quantised for a unit of bits_per_sample (2: signs, 4:
// the codes of FOUR_BIT_LEVELS); the same seed always gives the same samples.
SampleVectors make_tone_samples(int32_t count, uint64_t seed, double cycles_per_sample, int bits_per_sample);

// The same with the tone's amplitude relative to the noise's parts (each of
// standard deviation 1; make_tone_samples' is STEADY_TONE_AMPLITUDE) and its
// frequency moving linearly, by drift_cycles_per_sample2 each sample, from
// cycles_per_sample at sample 0. A drift of 0 gives make_tone_samples' samples.
SampleVectors make_drifting_tone_samples(int32_t count, uint64_t seed, double cycles_per_sample,
                                         double drift_cycles_per_sample2, double amplitude, int bits_per_sample);

}  // namespace okrelt
