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
#include <string>

#include "common/command_line.h"
#include "common/stdio_file.h"
#include "workunit/writer.h"

namespace {

constexpr const char* PROGRAM = "okrelt-make-wu";

void print_usage() {
    std::printf(
        "Usage: okrelt-make-wu [-o FILE] [--samples N] [--seed S] [--crlf] [--constant I Q]\n"
        "                      [--format classic|later] [--bits 2|4] [--rate HZ] [--tone HZ]\n"
        "Writes a work unit that okrelt reads: by default the 1048576-sample example\n"
        "(receiver noise with a faint drifting tone) as work_unit.sah, classic format.\n"
        "\n"
        "  -o FILE                  where to write it (default: work_unit.sah)\n"
        "  --samples N              how many samples (0 to 2147483647)\n"
        "  --seed S                 the noise's seed\n"
        "  --crlf                   CR LF line ends\n"
        "  --constant I Q           every sample I + iQ, each +1 or -1\n"
        "  --tone HZ                noise with a steady tone HZ from the centre (negative below)\n"
        "  --format classic|later   the work-unit format\n"
        "  --bits 2|4               bits per sample of a later-format unit\n"
        "  --rate HZ                the sub-band's sample rate (default 9765.625)\n"
        "  -h, --help               this text\n"
        "  -V, --version            the version\n");
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

// How many values an option takes; -1 for an unknown one.
int values_of(const char* option) {
    for (const char* one : {"-o", "--samples", "--seed", "--format", "--bits", "--rate", "--tone"}) {
        if (std::strcmp(option, one) == 0) return 1;
    }
    if (std::strcmp(option, "--constant") == 0) return 2;
    for (const char* none : {"--crlf", "-h", "--help", "-V", "--version"}) {
        if (std::strcmp(option, none) == 0) return 0;
    }
    return -1;
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
        const char* arg = argv[a];
        const int values = values_of(arg);
        if (values < 0) return okrelt::usage_error(PROGRAM, "unknown option", arg);
        if (a + values >= argc) return okrelt::usage_error(PROGRAM, "option needs a value", arg);
        const char* value = values > 0 ? argv[a + 1] : "";
        bool valid = true;
        if (okrelt::is_option(arg, "-h", "--help")) {
            print_usage();
            return 0;
        } else if (okrelt::is_option(arg, "-V", "--version")) {
            std::printf("okrelt-make-wu %s\n", OKRELT_VERSION);
            return 0;
        } else if (std::strcmp(arg, "-o") == 0) {
            path = value;
        } else if (std::strcmp(arg, "--samples") == 0) {
            valid = parse_long(value, &samples) && samples >= 0 && samples <= INT32_MAX;
        } else if (std::strcmp(arg, "--seed") == 0) {
            valid = parse_long(value, &seed);
        } else if (std::strcmp(arg, "--crlf") == 0) {
            options.line_end = "\r\n";
        } else if (std::strcmp(arg, "--constant") == 0) {
            valid = parse_long(argv[a + 1], &constant_i) && parse_long(argv[a + 2], &constant_q);
            constant = true;
        } else if (std::strcmp(arg, "--format") == 0) {
            valid = std::strcmp(value, "classic") == 0 || std::strcmp(value, "later") == 0;
            options.later_format = std::strcmp(value, "later") == 0;
        } else if (std::strcmp(arg, "--bits") == 0) {
            valid = parse_long(value, &bits) && (bits == 2 || bits == 4);
        } else if (std::strcmp(arg, "--rate") == 0) {
            valid = parse_double(value, &options.subband_rate) && options.subband_rate > 0.0;
        } else if (std::strcmp(arg, "--tone") == 0) {
            valid = parse_double(value, &tone_hz);
            tone = true;
        }
        if (!valid) return okrelt::usage_error(PROGRAM, (std::string("invalid value for ") + arg).c_str(), value);
        a += values;
    }
    if (bits == 4 && !options.later_format) {
        return okrelt::usage_error(PROGRAM, "--bits 4 needs --format later");
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
