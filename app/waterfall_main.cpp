// okrelt-waterfall: draws a work unit's waterfall picture and prints the
// strongest peaks of its block spectra, the first being the RFI factor's.
//
//   okrelt-waterfall [WORK_UNIT] [-o PICTURE.png] [--fft N] [--peaks K]
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "common/background.h"
#include "common/command_line.h"
#include "common/messages.h"
#include "common/numbers.h"
#include "common/version.h"
#include "waterfall/picture.h"
#include "waterfall/waterfall.h"
#include "workunit/reader.h"

namespace {

constexpr int EXIT_OK = 0;
constexpr int EXIT_FAILED = 1;
constexpr const char* PROGRAM = "okrelt-waterfall";

void print_usage() {
    std::printf(
        "Usage: okrelt-waterfall [WORK_UNIT] [-o PICTURE.png] [--fft N] [--peaks K]\n"
        "Draws the waterfall (spectrogram) of a SETI@home work unit, classic or later\n"
        "format, as a PNG picture, and prints the strongest peaks of its 65536-point\n"
        "block spectra; the first is the one okrelt reports as the RFI factor.\n"
        "\n"
        "  WORK_UNIT        the work unit (default: work_unit.sah)\n"
        "  -o PICTURE.png   the picture (default: the unit's name with .png for\n"
        "                   .sah or .wu, in the current folder)\n"
        "  --fft N          points per transform, a power of two from 64 to 65536\n"
        "                   (default 1024): finer frequency, coarser time\n"
        "  --peaks K        how many peaks to list (default 10)\n"
        "  -h, --help       this text\n"
        "  -V, --version    the version\n");
}

enum WaterfallOption { OPTION_HELP, OPTION_VERSION, OPTION_PICTURE, OPTION_FFT, OPTION_PEAKS };

const std::vector<okrelt::OptionSpec> WATERFALL_OPTIONS = {
    {OPTION_HELP, 'h', "help", 0},     {OPTION_VERSION, 'V', "version", 0}, {OPTION_PICTURE, 'o', "output", 1},
    {OPTION_FFT, 0, "fft", 1},         {OPTION_PEAKS, 0, "peaks", 1},
};

// The picture and the peak table, once the command line is read.
int draw(const std::string& unit, std::string picture, int fft_size, int wanted) {
    if (picture.empty()) picture = okrelt::output_name(unit, ".png");

    // The blank picture and its fonts are made while the unit is read, and
    // the block spectra's peaks are searched while the spectrogram is made
    // and drawn: on a machine with two cores or more the picture takes a
    // third less time.
    okrelt::Canvas canvas;
    okrelt::Background preparation([&canvas] { canvas = okrelt::prepare_canvas(); });
    okrelt::SampleStreams streams;
    okrelt::WorkUnitInfo info;
    if (okrelt::load_work_unit(unit.c_str(), &streams, &info) != 0) return EXIT_FAILED;
    if (streams.count < fft_size) {
        std::printf("Too few samples for a picture: %d decoded, %d needed.\n", streams.count, fft_size);
        return EXIT_FAILED;
    }
    if (info.name.empty()) info.name = unit.substr(unit.find_last_of('/') + 1);

    std::vector<okrelt::BlockPeak> peaks;
    okrelt::Spectrogram spectrogram;
    {
        okrelt::Background peak_search([&] { peaks = okrelt::find_block_peaks(streams, wanted); });
        spectrogram = okrelt::make_spectrogram(streams, fft_size, okrelt::PLOT_WIDTH, okrelt::PLOT_HEIGHT);
        preparation.wait();
        okrelt::draw_spectrogram(&canvas, spectrogram, info);
    }
    if (okrelt::finish_waterfall(&canvas, spectrogram, peaks, info, picture.c_str()) != 0) return EXIT_FAILED;
    std::printf("Picture: %s\n", picture.c_str());
    if (!peaks.empty()) okrelt::print_peak_table(peaks, info);
    return EXIT_OK;
}

// The run the command line asks for, before standard output is checked.
int run(int argc, char** argv) {
    okrelt::ParsedCommandLine line;
    if (okrelt::parse_command_line(PROGRAM, argc, argv, WATERFALL_OPTIONS, &line) != 0) return okrelt::EXIT_USAGE;
    std::string picture;
    int64_t fft_size = okrelt::WATERFALL_DEFAULT_FFT;
    int64_t wanted = okrelt::WATERFALL_DEFAULT_PEAKS;
    for (const okrelt::OptionUse& use : line.options) {
        switch (use.id) {
            case OPTION_HELP:
                print_usage();
                return EXIT_OK;
            case OPTION_VERSION:
                std::printf("okrelt-waterfall %s\n", OKRELT_VERSION);
                return EXIT_OK;
            case OPTION_PICTURE:
                picture = use.value[0];
                break;
            case OPTION_FFT:
                if (!okrelt::parse_integer(use.value[0], okrelt::WATERFALL_MIN_FFT, okrelt::WATERFALL_MAX_FFT,
                                           &fft_size) ||
                    !okrelt::valid_waterfall_fft(static_cast<long>(fft_size))) {
                    return okrelt::usage_error(PROGRAM, "--fft takes a power of two from 64 to 65536", use.value[0]);
                }
                break;
            case OPTION_PEAKS:
                if (!okrelt::parse_integer(use.value[0], 1, okrelt::WATERFALL_MAX_PEAKS, &wanted)) {
                    return okrelt::usage_error(PROGRAM, "--peaks takes a number from 1 to 1000", use.value[0]);
                }
                break;
        }
    }
    if (line.operands.size() > 1) return okrelt::usage_error(PROGRAM, "only one work unit at a time", line.operands[1].c_str());
    const std::string unit = line.operands.empty() ? okrelt::WORK_UNIT_FILE_NAME : line.operands[0];
    return draw(unit, picture, static_cast<int>(fft_size), static_cast<int>(wanted));
}

}  // namespace

int main(int argc, char** argv) {
    okrelt::exit_on_out_of_memory(PROGRAM);
    const int status = run(argc, argv);
    return okrelt::check_standard_output(PROGRAM) != 0 ? EXIT_FAILED : status;
}
