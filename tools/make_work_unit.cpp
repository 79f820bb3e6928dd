// okrelt-make-wu: writes a work unit in either format okrelt reads.
//
//   okrelt-make-wu [-o FILE] [--samples N] [--seed S] [--crlf] [--constant I Q]
//                  [--format classic|later] [--bits 2|4] [--rate HZ] [--tone HZ]
//                  [--drift HZ_PER_S] [--amplitude A]
//
// By default it writes the 1048576-sample example (receiver noise with a faint
// drifting tone) to "work_unit.sah". --constant fills every sample with I + iQ
// (each +1 or -1) instead; --tone writes noise with a steady tone at HZ from
// the sub-band's centre (negative below it), moving by --drift Hz a second
// and of --amplitude relative to the noise.
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <exception>
#include <string>
#include <vector>

#include "common/command_line.h"
#include "common/messages.h"
#include "common/numbers.h"
#include "common/output_file.h"
#include "common/output_plan.h"
#include "common/version.h"
#include "workunit/writer.h"

namespace {

constexpr const char* PROGRAM = "okrelt-make-wu";

void print_usage() {
    std::printf(
        "Usage: okrelt-make-wu [-o FILE] [--samples N] [--seed S] [--crlf] [--constant I Q]\n"
        "                      [--format classic|later] [--bits 2|4] [--rate HZ] [--tone HZ]\n"
        "                      [--drift HZ_PER_S] [--amplitude A]\n"
        "Writes a work unit that okrelt reads: by default the 1048576-sample example\n"
        "(receiver noise with a faint drifting tone) as work_unit.sah, classic format.\n"
        "\n"
        "  -o FILE                  where to write it (default: work_unit.sah)\n"
        "  --samples N              how many samples (0 to 2147483647)\n"
        "  --seed S                 the noise's seed, any 64-bit integer\n"
        "  --crlf                   CR LF line ends\n"
        "  --constant I Q           every sample I + iQ, each +1 or -1\n"
        "  --tone HZ                noise with a steady tone HZ from the centre (negative\n"
        "                           below), less than half the sub-band rate either way\n"
        "  --drift HZ_PER_S         the tone's frequency moves linearly from HZ by this\n"
        "                           much a second (negative: falling; default 0)\n"
        "  --amplitude A            the tone's amplitude relative to the noise's\n"
        "                           standard deviation in I and in Q, 0 to 100 (default\n"
        "                           0.25)\n"
        "  --format classic|later   the work-unit format\n"
        "  --bits 2|4               bits per sample (--format later only)\n"
        "  --rate HZ                the sub-band's sample rate, above 0 (default 9765.625;\n"
        "                           --format later only)\n"
        "  -h, --help               this text\n"
        "  -V, --version            the version\n");
}

enum MakeOption {
    OPTION_HELP, OPTION_VERSION, OPTION_OUTPUT, OPTION_SAMPLES, OPTION_SEED, OPTION_CRLF,
    OPTION_CONSTANT, OPTION_TONE, OPTION_FORMAT, OPTION_BITS, OPTION_RATE, OPTION_DRIFT, OPTION_AMPLITUDE
};

const std::vector<okrelt::OptionSpec> MAKE_OPTIONS = {
    {OPTION_HELP, 'h', "help", 0},        {OPTION_VERSION, 'V', "version", 0}, {OPTION_OUTPUT, 'o', "output", 1},
    {OPTION_SAMPLES, 0, "samples", 1},    {OPTION_SEED, 0, "seed", 1},         {OPTION_CRLF, 0, "crlf", 0},
    {OPTION_CONSTANT, 0, "constant", 2},  {OPTION_TONE, 0, "tone", 1},         {OPTION_FORMAT, 0, "format", 1},
    {OPTION_BITS, 0, "bits", 1},          {OPTION_RATE, 0, "rate", 1},         {OPTION_DRIFT, 0, "drift", 1},
    {OPTION_AMPLITUDE, 0, "amplitude", 1},
};

constexpr double MAX_AMPLITUDE = 100.0;

// +1 or -1, the only values a constant sample's parts take.
bool parse_sign(const char* text, int64_t* value) {
    return okrelt::parse_integer(text, -1, 1, value) && *value != 0;
}

// The run the command line asks for, before standard output is checked.
int run(int argc, char** argv) {
    okrelt::ParsedCommandLine line;
    if (okrelt::parse_command_line(PROGRAM, argc, argv, MAKE_OPTIONS, &line) != 0) return okrelt::EXIT_USAGE;
    if (!line.operands.empty()) return okrelt::usage_error(PROGRAM, "unexpected argument", line.operands[0].c_str());
    std::string path = "work_unit.sah";
    int64_t samples = okrelt::EXAMPLE_SAMPLES;
    int64_t seed = static_cast<int64_t>(okrelt::EXAMPLE_SEED);
    bool constant = false;
    int64_t constant_i = 0;
    int64_t constant_q = 0;
    bool tone = false;
    double tone_hz = 0.0;
    double drift_hz_s = 0.0;
    double amplitude = okrelt::STEADY_TONE_AMPLITUDE;
    bool drift_or_amplitude = false;
    int64_t bits = 2;
    bool bits_given = false;
    bool rate_given = false;
    okrelt::WriterOptions options;
    for (const okrelt::OptionUse& use : line.options) {
        const char* value = use.value[0];
        bool valid = true;
        switch (use.id) {
            case OPTION_HELP:
                print_usage();
                return 0;
            case OPTION_VERSION:
                std::printf("okrelt-make-wu %s\n", OKRELT_VERSION);
                return 0;
            case OPTION_OUTPUT:
                if (value[0] == '\0') return okrelt::usage_error(PROGRAM, "-o needs a file's name");
                path = value;
                break;
            case OPTION_SAMPLES:
                valid = okrelt::parse_integer(value, 0, INT32_MAX, &samples);
                break;
            case OPTION_SEED:
                valid = okrelt::parse_integer(value, INT64_MIN, INT64_MAX, &seed);
                break;
            case OPTION_CRLF:
                options.line_end = "\r\n";
                break;
            case OPTION_CONSTANT:
                valid = parse_sign(use.value[0], &constant_i) && parse_sign(use.value[1], &constant_q);
                if (!valid) value = parse_sign(use.value[0], &constant_i) ? use.value[1] : use.value[0];
                constant = true;
                break;
            case OPTION_FORMAT:
                valid = std::strcmp(value, "classic") == 0 || std::strcmp(value, "later") == 0;
                options.later_format = std::strcmp(value, "later") == 0;
                break;
            case OPTION_BITS:
                valid = okrelt::parse_integer(value, 2, 4, &bits) && bits != 3;
                bits_given = true;
                break;
            case OPTION_RATE:
                valid = okrelt::parse_real(value, &options.subband_rate) && options.subband_rate > 0.0;
                rate_given = true;
                break;
            case OPTION_TONE:
                valid = okrelt::parse_real(value, &tone_hz);
                tone = true;
                break;
            case OPTION_DRIFT:
                valid = okrelt::parse_real(value, &drift_hz_s);
                drift_or_amplitude = true;
                break;
            case OPTION_AMPLITUDE:
                valid = okrelt::parse_real(value, &amplitude) && amplitude >= 0.0 && amplitude <= MAX_AMPLITUDE;
                drift_or_amplitude = true;
                break;
        }
        if (!valid) {
            const std::string what = std::string("invalid value for --") + MAKE_OPTIONS[static_cast<size_t>(use.id)].long_name;
            return okrelt::usage_error(PROGRAM, what.c_str(), value);
        }
    }
    // What a choice cannot honour is refused, not quietly ignored.
    if ((bits_given || rate_given) && !options.later_format) {
        return okrelt::usage_error(PROGRAM, bits_given ? "--bits needs --format later" : "--rate needs --format later");
    }
    if (constant && tone) return okrelt::usage_error(PROGRAM, "--constant and --tone exclude each other");
    if (drift_or_amplitude && !tone) return okrelt::usage_error(PROGRAM, "--drift and --amplitude need --tone");
    if (tone && !(std::fabs(tone_hz) < options.subband_rate / 2.0)) {
        return okrelt::usage_error(PROGRAM, "--tone must lie below half the sub-band rate", okrelt::real_text(tone_hz).c_str());
    }
    options.bits_per_sample = static_cast<int>(bits);

    okrelt::SampleVectors vectors;
    if (constant) {
        const int8_t high = bits == 4 ? 2 : 1;   // the largest level of the depth
        vectors.in_phase.assign(static_cast<size_t>(samples), constant_i > 0 ? high : -high);
        vectors.quadrature.assign(static_cast<size_t>(samples), constant_q > 0 ? high : -high);
    } else if (tone) {
        const double rate = options.subband_rate;
        vectors = okrelt::make_drifting_tone_samples(static_cast<int32_t>(samples), static_cast<uint64_t>(seed),
                                                     tone_hz / rate, drift_hz_s / (rate * rate), amplitude,
                                                     options.bits_per_sample);
    } else {
        vectors = okrelt::make_example_samples(static_cast<int32_t>(samples), static_cast<uint64_t>(seed));
        if (bits == 4) {
            // Signs as the outer 4-bit levels.
            for (int8_t& v : vectors.in_phase) v = static_cast<int8_t>(2 * v);
            for (int8_t& v : vectors.quadrature) v = static_cast<int8_t>(2 * v);
        }
    }

    okrelt::OutputPlan plan;
    if (okrelt::plan_output(&plan, path, "the work unit") != 0) return 1;
    okrelt::OutputFile out;
    int error = okrelt::open_output(path, &out);
    if (error == 0) {
        errno = 0;
        if (okrelt::write_work_unit(out.file.get(), vectors, options) != 0) error = errno != 0 ? errno : EIO;
    }
    if (error == 0) error = okrelt::commit_output(&out);
    if (error != 0) {
        okrelt::tell(okrelt::MessageKind::ERROR, "%s: %s\n", path.c_str(), okrelt::describe_output_error(error));
        return 1;
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    okrelt::set_program_name(PROGRAM);
    okrelt::exit_on_out_of_memory(PROGRAM);
    okrelt::clean_up_on_interrupt();
    int status = 1;
    // Nothing thrown ends the program without a word.
    try {
        status = run(argc, argv);
    } catch (const std::exception& error) {
        okrelt::tell(okrelt::MessageKind::ERROR, "%s: %s\n", PROGRAM, error.what());
    }
    return okrelt::check_standard_output(PROGRAM) != 0 ? 1 : status;
}
