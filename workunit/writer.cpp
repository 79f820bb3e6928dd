#include "workunit/writer.h"

#include <cmath>

#include "workunit/reader.h"

namespace okrelt {

namespace {

// Tone parameters of the example: amplitude relative to the noise, start
// frequency and drift in cycles per sample.
constexpr double TONE_AMPLITUDE = 0.045;
constexpr double TONE_START_FREQUENCY = 0.1;
constexpr double TONE_DRIFT_PER_SAMPLE = 2.0e-10;
constexpr double TWO_PI = 6.283185307179586476925286766559;

// splitmix64: small, fast and the same on every platform.
uint64_t next_random(uint64_t* state) {
    uint64_t z = (*state += 0x9e3779b97f4a7c15ULL);
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
    return z ^ (z >> 31);
}

// Uniform in (0, 1).
double next_uniform(uint64_t* state) {
    constexpr int MANTISSA_BITS = 53;
    return (static_cast<double>(next_random(state) >> (64 - MANTISSA_BITS)) + 0.5) /
           static_cast<double>(uint64_t{1} << MANTISSA_BITS);
}

int8_t sign_of(double value) { return value >= 0.0 ? 1 : -1; }

}  // namespace

char encode_samples(const int8_t* in_phase, const int8_t* quadrature, int samples) {
    int code = 0;
    for (int pair = 0; pair < samples && pair < SAMPLES_PER_CHAR; ++pair) {
        if (in_phase[pair] > 0) code |= 1 << (2 * pair);
        if (quadrature[pair] > 0) code |= 1 << (2 * pair + 1);
    }
    return static_cast<char>(code + CODE_OFFSET);
}

int write_work_unit(std::FILE* file, const SampleVectors& samples, const WriterOptions& options) {
    const size_t count = samples.in_phase.size();
    const char* end = options.line_end;
    std::fprintf(file, "<workunit_header>%s", end);
    std::fprintf(file, "type=wu%s", end);
    std::fprintf(file, "name=%s%s", options.name, end);
    std::fprintf(file, "group_info=okrelt_test_data%s", end);
    std::fprintf(file, "receiver=ao_1420%s", end);
    std::fprintf(file, "subband_base=1420507812.5%s", end);
    std::fprintf(file, "subband_sample_rate=9765.625%s", end);
    std::fprintf(file, "fft_len=2048%s", end);
    if (options.declare_count) std::fprintf(file, "nsamples=%zu%s", count, end);
    std::fprintf(file, "bits_per_sample=2%s", end);
    std::fprintf(file, "data_type=encoded%s", end);
    std::fprintf(file, "%s%s", END_OF_HEADER_MARK, end);

    int on_line = 0;
    for (size_t k = 0; k < count; k += SAMPLES_PER_CHAR) {
        const size_t left = count - k;
        const int take = left < SAMPLES_PER_CHAR ? static_cast<int>(left) : SAMPLES_PER_CHAR;
        std::fputc(encode_samples(&samples.in_phase[k], &samples.quadrature[k], take), file);
        if (++on_line == options.chars_per_line) {
            std::fputs(end, file);
            on_line = 0;
        }
    }
    if (on_line != 0) std::fputs(end, file);
    std::fflush(file);
    return std::ferror(file) ? 1 : 0;
}

SampleVectors make_example_samples(int32_t count, uint64_t seed) {
    SampleVectors samples;
    const size_t n = count > 0 ? static_cast<size_t>(count) : 0;
    samples.in_phase.resize(n);
    samples.quadrature.resize(n);
    uint64_t state = seed;
    double phase = 0.0;
    for (size_t k = 0; k < n; ++k) {
        // Box-Muller: two independent Gaussian noise components.
        const double radius = std::sqrt(-2.0 * std::log(next_uniform(&state)));
        const double angle = TWO_PI * next_uniform(&state);
        const double frequency = TONE_START_FREQUENCY + TONE_DRIFT_PER_SAMPLE * static_cast<double>(k);
        phase += TWO_PI * frequency;
        if (phase > TWO_PI) phase -= TWO_PI;
        samples.in_phase[k] = sign_of(radius * std::cos(angle) + TONE_AMPLITUDE * std::cos(phase));
        samples.quadrature[k] = sign_of(radius * std::sin(angle) + TONE_AMPLITUDE * std::sin(phase));
    }
    return samples;
}

}  // namespace okrelt
