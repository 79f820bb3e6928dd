// okrelt-make-wu: writes a work unit in either format okrelt reads.
//
//   okrelt-make-wu [-o FILE] [--samples N] [--seed S] [--crlf] [--constant I Q]
//                  [--format classic|later] [--bits 2|4] [--rate HZ] [--tone HZ]
//
// By default it writes the 1048576-sample example (receiver noise with a faint
// drifting tone) to "work_unit.sah". --constant fills every sample with I + iQ
// (each +1 or -1) instead; --tone writes noise with a steady tone at HZ from
// the sub-band's centre (negative below it).
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "common/stdio_file.h"
#include "workunit/writer.h"

namespace {

void usage() {
    std::fprintf(stderr,
                 "usage: okrelt-make-wu [-o FILE] [--samples N] [--seed S] [--crlf] [--constant I Q]\n"
                 "                      [--format classic|later] [--bits 2|4] [--rate HZ] [--tone HZ]\n");
}

bool parse_long(const char* text, long* value) {
    char* end = nullptr;
    *value = std::strtol(text, &end, 0);
    return end != text && *end == '\0';
}

bool parse_double(const char* text, double* value) {
    char* end = nullptr;
    *value = std::strtod(text, &end);
    return end != text && *end == '\0';
}

}  // namespace

int main(int argc, char** argv) {
    const char* path = "work_unit.sah";
    long samples = okrelt::EXAMPLE_SAMPLES;
    long seed = static_cast<long>(okrelt::EXAMPLE_SEED);
    bool constant = false;
    long constant_i = 0;
    long constant_q = 0;
    bool tone = false;
    double tone_hz = 0.0;
    long bits = 2;
    okrelt::WriterOptions options;
    for (int a = 1; a < argc; ++a) {
        const bool has_value = a + 1 < argc;
        const char* value = has_value ? argv[a + 1] : "";
        if (std::strcmp(argv[a], "-o") == 0 && has_value) {
            path = argv[++a];
        } else if (std::strcmp(argv[a], "--samples") == 0 && has_value && parse_long(value, &samples) &&
                   samples >= 0 && samples <= INT32_MAX) {
            ++a;
        } else if (std::strcmp(argv[a], "--seed") == 0 && has_value && parse_long(value, &seed)) {
            ++a;
        } else if (std::strcmp(argv[a], "--crlf") == 0) {
            options.line_end = "\r\n";
        } else if (std::strcmp(argv[a], "--constant") == 0 && a + 2 < argc &&
                   parse_long(argv[a + 1], &constant_i) && parse_long(argv[a + 2], &constant_q)) {
            constant = true;
            a += 2;
        } else if (std::strcmp(argv[a], "--format") == 0 && has_value &&
                   (std::strcmp(value, "classic") == 0 || std::strcmp(value, "later") == 0)) {
            options.later_format = std::strcmp(value, "later") == 0;
            ++a;
        } else if (std::strcmp(argv[a], "--bits") == 0 && has_value && parse_long(value, &bits) &&
                   (bits == 2 || bits == 4)) {
            ++a;
        } else if (std::strcmp(argv[a], "--rate") == 0 && has_value && parse_double(value, &options.subband_rate) &&
                   options.subband_rate > 0.0) {
            ++a;
        } else if (std::strcmp(argv[a], "--tone") == 0 && has_value && parse_double(value, &tone_hz)) {
            tone = true;
            ++a;
        } else {
            usage();
            return 1;
        }
    }
    if (bits == 4 && !options.later_format) {
        std::fprintf(stderr, "okrelt-make-wu: --bits 4 needs --format later\n");
        return 1;
    }
    options.bits_per_sample = static_cast<int>(bits);

    okrelt::SampleVectors vectors;
    if (constant) {
        const int8_t high = bits == 4 ? 2 : 1;   // the largest level of the depth
        vectors.in_phase.assign(static_cast<size_t>(samples), constant_i > 0 ? high : -high);
        vectors.quadrature.assign(static_cast<size_t>(samples), constant_q > 0 ? high : -high);
    } else if (tone) {
        vectors = okrelt::make_tone_samples(static_cast<int32_t>(samples), static_cast<uint64_t>(seed),
                                            tone_hz / options.subband_rate, options.bits_per_sample);
    } else {
        vectors = okrelt::make_example_samples(static_cast<int32_t>(samples), static_cast<uint64_t>(seed));
        if (bits == 4) {
            // Signs as the outer 4-bit levels.
            for (int8_t& v : vectors.in_phase) v = static_cast<int8_t>(2 * v);
            for (int8_t& v : vectors.quadrature) v = static_cast<int8_t>(2 * v);
        }
    }

    okrelt::FileHandle out(std::fopen(path, "wb"));
    if (!out) {
        okrelt::report_system_error(path);
        return 1;
    }
    if (okrelt::write_work_unit(out.get(), vectors, options) != 0 || std::fclose(out.release()) != 0) {
        okrelt::report_system_error(path);
        return 1;
    }
    return 0;
}
