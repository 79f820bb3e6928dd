#include "workunit/writer.h"

#include <cmath>
#include <string>
#include <utility>

#include "common/numbers.h"
#include "workunit/format.h"

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

// A 4-bit code for a value of noise whose parts have a standard deviation of
// 1: the thresholds -1, 0, 1 split it into the codes -2, -1, 1, 2.
int8_t four_bit_code_of(double value) { return value < -1.0 ? -2 : value < 0.0 ? -1 : value < 1.0 ? 1 : 2; }

// One Gaussian pair of noise (Box-Muller), parts of standard deviation 1.
void next_noise(uint64_t* state, double* re, double* im) {
    const double radius = std::sqrt(-2.0 * std::log(next_uniform(state)));
    const double angle = TWO_PI * next_uniform(state);
    *re = radius * std::cos(angle);
    *im = radius * std::sin(angle);
}

}  // namespace

char encode_samples(const int8_t* in_phase, const int8_t* quadrature, int samples) {
    int code = 0;
    for (int pair = 0; pair < samples && pair < SAMPLES_PER_CHAR; ++pair) {
        if (in_phase[pair] > 0) code |= 1 << (2 * pair);
        if (quadrature[pair] > 0) code |= 1 << (2 * pair + 1);
    }
    return static_cast<char>(code + CODE_OFFSET);
}

namespace {

// The sample bytes of a later-format unit: 4 samples of 2 bits or 2 of 4
// bits a byte, the first in the lowest bits, the real part above.
std::vector<uint8_t> pack_samples(const SampleVectors& samples, int bits_per_sample) {
    const size_t per_byte = static_cast<size_t>(8 / bits_per_sample);
    const size_t count = samples.in_phase.size();
    std::vector<uint8_t> bytes((count + per_byte - 1) / per_byte);
    const int half = bits_per_sample / 2;
    for (size_t k = 0; k < count; ++k) {
        // 2 bits: sign +1 is 1; 4 bits: codes -2, -1, 1, 2 are 0, 1, 2, 3.
        const auto part_bits = [half](int8_t value) { return half == 1 ? (value > 0 ? 1 : 0) : value + (value < 0 ? 2 : 1); };
        const int sample = part_bits(samples.in_phase[k]) << half | part_bits(samples.quadrature[k]);
        const int shift = bits_per_sample * static_cast<int>(k % per_byte);
        bytes[k / per_byte] = static_cast<uint8_t>(bytes[k / per_byte] | sample << shift);
    }
    return bytes;
}

int write_later_work_unit(std::FILE* file, const SampleVectors& samples, const WriterOptions& options) {
    std::vector<uint8_t> bytes = pack_samples(samples, options.bits_per_sample);
    // The recorder wrote 16-bit words high byte first: swap in pairs.
    if (bytes.size() % 2 != 0) bytes.push_back(0);
    for (size_t i = 0; i < bytes.size(); i += 2) std::swap(bytes[i], bytes[i + 1]);
    while (bytes.size() % BYTES_PER_GROUP != 0) bytes.push_back(0);
    const size_t dropped = static_cast<size_t>(options.dropped_groups) * BYTES_PER_GROUP;
    bytes.resize(dropped < bytes.size() ? bytes.size() - dropped : 0);

    std::string data;
    int on_line = 0;
    for (size_t i = 0; i < bytes.size(); i += BYTES_PER_GROUP) {
        const int b0 = bytes[i];
        const int b1 = bytes[i + 1];
        const int b2 = bytes[i + 2];
        const int values[CHARS_PER_GROUP] = {b0 & CODE_MASK, (b0 >> 6 | b1 << 2) & CODE_MASK,
                                             (b1 >> 4 | b2 << 4) & CODE_MASK, b2 >> 2};
        for (const int value : values) data += static_cast<char>(value + LOWEST_DATA_CHAR);
        on_line += CHARS_PER_GROUP;
        if (on_line >= options.chars_per_line) {
            data += options.line_end;
            on_line = 0;
        }
    }
    if (on_line != 0) data += options.line_end;

    const char* end = options.line_end;
    std::fprintf(file, "<workunit>%s<workunit_header>%s<name>%s</name>%s", end, end, options.name, end);
    std::fprintf(file, "<group_info>%s  <data_desc>%s", end, end);
    if (options.declare_count) std::fprintf(file, "    <nsamples>%zu</nsamples>%s", samples.in_phase.size(), end);
    std::fprintf(file, "  </data_desc>%s  <recorder_cfg>%s    <sample_rate>2500000.0</sample_rate>%s", end, end, end);
    std::fprintf(file, "  </recorder_cfg>%s  <splitter_cfg>%s    <data_type>encoded</data_type>%s", end, end, end);
    std::fprintf(file, "    <wu_bits_per_sample>%d</wu_bits_per_sample>%s", options.bits_per_sample, end);
    std::fprintf(file, "  </splitter_cfg>%s</group_info>%s<subband_desc>%s", end, end, end);
    // The rate as the shortest text that reads back exactly (11444.091796875).
    std::fprintf(file, "  <center>1420000000</center>%s  <sample_rate>%s</sample_rate>%s", end,
                 real_text(options.subband_rate).c_str(), end);
    std::fprintf(file, "</subband_desc>%s</workunit_header>%s", end, end);
    std::fprintf(file, "<data length=%zu encoding=\"%s\">%s", data.size(), DATA_ENCODING, end);
    std::fputs(data.c_str(), file);
    std::fprintf(file, "%s%s</workunit>%s", DATA_END_TAG, end, end);
    std::fflush(file);
    return std::ferror(file) ? 1 : 0;
}

int write_classic_work_unit(std::FILE* file, const SampleVectors& samples, const WriterOptions& options) {
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

}  // namespace

int write_work_unit(std::FILE* file, const SampleVectors& samples, const WriterOptions& options) {
    return options.later_format ? write_later_work_unit(file, samples, options)
                                : write_classic_work_unit(file, samples, options);
}

SampleVectors make_example_samples(int32_t count, uint64_t seed) {
    SampleVectors samples;
    const size_t n = count > 0 ? static_cast<size_t>(count) : 0;
    samples.in_phase.resize(n);
    samples.quadrature.resize(n);
    uint64_t state = seed;
    double phase = 0.0;
    for (size_t k = 0; k < n; ++k) {
        double noise_re = 0.0;
        double noise_im = 0.0;
        next_noise(&state, &noise_re, &noise_im);
        const double frequency = TONE_START_FREQUENCY + TONE_DRIFT_PER_SAMPLE * static_cast<double>(k);
        phase += TWO_PI * frequency;
        if (phase > TWO_PI) phase -= TWO_PI;
        samples.in_phase[k] = sign_of(noise_re + TONE_AMPLITUDE * std::cos(phase));
        samples.quadrature[k] = sign_of(noise_im + TONE_AMPLITUDE * std::sin(phase));
    }
    return samples;
}

SampleVectors make_tone_samples(int32_t count, uint64_t seed, double cycles_per_sample, int bits_per_sample) {
    return make_drifting_tone_samples(count, seed, cycles_per_sample, 0.0, STEADY_TONE_AMPLITUDE, bits_per_sample);
}

SampleVectors make_drifting_tone_samples(int32_t count, uint64_t seed, double cycles_per_sample,
                                         double drift_cycles_per_sample2, double amplitude, int bits_per_sample) {
    SampleVectors samples;
    const size_t n = count > 0 ? static_cast<size_t>(count) : 0;
    samples.in_phase.resize(n);
    samples.quadrature.resize(n);
    uint64_t state = seed;
    for (size_t k = 0; k < n; ++k) {
        double noise_re = 0.0;
        double noise_im = 0.0;
        next_noise(&state, &noise_re, &noise_im);
        // The phase from k directly, so that it does not drift by rounding:
        // the frequency f0 + a k integrates to f0 k + a k^2 / 2 cycles.
        const double t = static_cast<double>(k);
        const double cycles = cycles_per_sample * t + 0.5 * drift_cycles_per_sample2 * t * t;
        const double phase = TWO_PI * std::fmod(cycles, 1.0);
        const double re = noise_re + amplitude * std::cos(phase);
        const double im = noise_im + amplitude * std::sin(phase);
        samples.in_phase[k] = bits_per_sample == 4 ? four_bit_code_of(re) : sign_of(re);
        samples.quadrature[k] = bits_per_sample == 4 ? four_bit_code_of(im) : sign_of(im);
    }
    return samples;
}

}  // namespace okrelt
