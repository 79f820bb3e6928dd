#include "app/driver.h"

#include <cstdio>
#include <string>
#include <vector>

#include "app/banner.h"
#include "app/batch.h"
#include "common/unit_list.h"
#include "audio/fft.h"
#include "common/command_line.h"
#include "common/file_names.h"
#include "common/messages.h"
#include "common/output_file.h"
#include "common/version.h"

namespace okrelt {

namespace {

constexpr const char* PROGRAM = "okrelt";

void print_usage() {
    std::printf(
        "Usage: okrelt [-q] [-o FOLDER] [--files-from LIST [--null]] [--sigmf [--hits]]\n"
        "              [--iq-wav] [--no-sound] [--sky-order] [WORK_UNIT...]\n"
        "Converts SETI@home work units (classic or later format) into sound files and\n"
        "prints their RFI factor, the strongest spectral peak, graded from Nope to WHOA.\n"
        "\n"
        "Without a work unit, converts work_unit.sah in the current folder into\n"
        "work_unit.wav and waits for Enter, as it always has. With work units, converts\n"
        "each into the folder, naming the sound file after it (.sah or .wu replaced by\n"
        ".wav, or .wav appended), and goes on past units that fail.\n"
        "\n"
        "  -o, --output FOLDER     where the sound files go (default: the current folder)\n"
        "  -q, --quiet             one line per work unit instead of the full report:\n"
        "                          converted units on standard output, failed ones on\n"
        "                          standard error\n"
        "  -T, --files-from LIST   also the work units LIST names, one path per line\n"
        "                          (- for standard input)\n"
        "  -0, --null              LIST's names end with NUL bytes, as find -print0\n"
        "                          writes them\n"
        "      --sigmf             also a SigMF recording: NAME.sigmf-data (complex\n"
        "                          32-bit floats, the client's own levels) and\n"
        "                          NAME.sigmf-meta (rate, frequency, time, place)\n"
        "      --hits              also search for drifting tones (as okrelt-search does)\n"
        "                          and mark each hit in the SigMF metadata\n"
        "      --iq-wav            also an I/Q WAV for SDR programs (16-bit stereo,\n"
        "                          I left, Q right): NAME_<centre>Hz_IQ.wav\n"
        "      --no-sound          no sound file (with --sigmf or --iq-wav)\n"
        "      --sky-order         pitch rises with sky frequency: the sub-band's\n"
        "                          lowest frequency at 0 Hz, its centre at a quarter\n"
        "                          of the sound's rate (default: bin order, the\n"
        "                          upper half from 0 Hz, the lower half above it)\n"
        "  -h, --help              this text\n"
        "  -V, --version           the version and the transform's code path here\n"
        "\n"
        "Nothing is written if any file to be written is a work unit named, is named\n"
        "twice, or is a symbolic link. Each unit's files appear together once all\n"
        "are complete, or none of them.\n"
        "\n"
        "Exit status: 0 if everything converted, 1 if anything failed, 2 for a bad\n"
        "command line.\n");
}

enum OkreltOption {
    OPTION_HELP, OPTION_VERSION, OPTION_QUIET, OPTION_OUTPUT, OPTION_FILES_FROM, OPTION_NULL, OPTION_SIGMF,
    OPTION_HITS, OPTION_IQ_WAV, OPTION_NO_SOUND, OPTION_SKY_ORDER
};

const std::vector<OptionSpec> OKRELT_OPTIONS = {
    {OPTION_HELP, 'h', "help", 0},       {OPTION_VERSION, 'V', "version", 0},
    {OPTION_QUIET, 'q', "quiet", 0},     {OPTION_OUTPUT, 'o', "output", 1},
    {OPTION_FILES_FROM, 'T', "files-from", 1}, {OPTION_NULL, '0', "null", 0},
    {OPTION_SIGMF, 0, "sigmf", 0},       {OPTION_HITS, 0, "hits", 0},
    {OPTION_IQ_WAV, 0, "iq-wav", 0},
    {OPTION_NO_SOUND, 0, "no-sound", 0}, {OPTION_SKY_ORDER, 0, "sky-order", 0},
};

// The run the options ask for, before standard output is checked.
int run_options(int argc, char** argv) {
    ParsedCommandLine line;
    if (parse_command_line(PROGRAM, argc, argv, OKRELT_OPTIONS, &line) != 0) return EXIT_USAGE;
    BatchOptions options;
    options.units = line.operands;
    std::vector<std::string> lists;
    ListSeparator separator = ListSeparator::LINE;
    for (const OptionUse& use : line.options) {
        switch (use.id) {
            case OPTION_HELP:
                print_usage();
                return EXIT_OK;
            case OPTION_VERSION:
                std::printf("okrelt %s\nTransform code path on this processor: %s\n", OKRELT_VERSION,
                            fft_isa_name(fft_best_isa()));
                return EXIT_OK;
            case OPTION_QUIET:
                options.quiet = true;
                break;
            case OPTION_OUTPUT:
                if (use.value[0][0] == '\0') return usage_error(PROGRAM, "-o needs a folder's name");
                options.folder = use.value[0];
                break;
            case OPTION_FILES_FROM:
                lists.push_back(use.value[0]);
                break;
            case OPTION_NULL:
                separator = ListSeparator::NUL;
                break;
            case OPTION_SIGMF:
                options.sigmf = true;
                break;
            case OPTION_HITS:
                options.hits = true;
                break;
            case OPTION_IQ_WAV:
                options.iq_wav = true;
                break;
            case OPTION_NO_SOUND:
                options.sound = false;
                break;
            case OPTION_SKY_ORDER:
                options.order = SoundOrder::SKY;
                break;
        }
    }
    if (options.hits && !options.sigmf) return usage_error(PROGRAM, "--hits marks the hits in a SigMF recording: add --sigmf");
    if (!options.sound && !options.sigmf && !options.iq_wav) {
        return usage_error(PROGRAM, "--no-sound leaves nothing to write; add --sigmf or --iq-wav");
    }
    for (const std::string& list : lists) {
        if (read_unit_list(list, separator, &options.units) != 0) return EXIT_FAILED;
    }
    if (options.units.empty()) {
        if (lists.empty()) return usage_error(PROGRAM, "no work unit named");
        // An empty list, as find gives when nothing matched, is no error.
        std::fprintf(stderr, "%s: the lists name no work unit; nothing to do\n", PROGRAM);
        return EXIT_OK;
    }
    return run_batch(options);
}

}  // namespace

int run_program() {
    print_banner();
    if (convert_classic_unit() != 0) return EXIT_FAILED;
    std::printf("Press Enter (the biggest key ;-) to quit.\n\n");
    print_web_sites();
    std::fflush(stdout);
    std::getchar();
    return EXIT_OK;
}

int run_command_line(int argc, char** argv) {
    set_program_name(PROGRAM);
    exit_on_out_of_memory(PROGRAM);
    clean_up_on_interrupt();
    const int status = argc <= 1 ? run_program() : run_options(argc, argv);
    // Output that could not be written is a failure, whatever else went well.
    return check_standard_output(PROGRAM) != 0 ? EXIT_FAILED : status;
}

}  // namespace okrelt
