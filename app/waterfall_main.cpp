// okrelt-waterfall: draws a work unit's waterfall picture and prints the
// strongest peaks of its block spectra, the first being the RFI factor's.
//
//   okrelt-waterfall [WORK_UNIT] [-o PICTURE.png] [--fft N] [--peaks K]
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "common/command_line.h"
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

// Work on a thread of its own, waited for at the latest when the object goes.
class Background {
public:
    template <class Work>
    explicit Background(Work work) : thread_(work) {}
    ~Background() { wait(); }
    Background(const Background&) = delete;
    Background& operator=(const Background&) = delete;
    void wait() const {
        if (thread_.joinable()) thread_.join();
    }

private:
    mutable std::thread thread_;
};

bool parse_long(const char* text, long* value) {
    char* end = nullptr;
    *value = std::strtol(text, &end, 10);
    return end != text && *end == '\0';
}

}  // namespace

int main(int argc, char** argv) {
    std::string unit = okrelt::WORK_UNIT_FILE_NAME;
    std::string picture;
    long fft_size = okrelt::WATERFALL_DEFAULT_FFT;
    long wanted = okrelt::WATERFALL_DEFAULT_PEAKS;
    bool unit_given = false;
    for (int a = 1; a < argc; ++a) {
        const char* arg = argv[a];
        const bool takes_value = std::strcmp(arg, "-o") == 0 || std::strcmp(arg, "--fft") == 0 || std::strcmp(arg, "--peaks") == 0;
        if (takes_value && a + 1 >= argc) return okrelt::usage_error(PROGRAM, "option needs a value", arg);
        if (okrelt::is_option(arg, "-h", "--help")) {
            print_usage();
            return EXIT_OK;
        } else if (okrelt::is_option(arg, "-V", "--version")) {
            std::printf("okrelt-waterfall %s\n", OKRELT_VERSION);
            return EXIT_OK;
        } else if (std::strcmp(arg, "-o") == 0) {
            picture = argv[++a];
        } else if (std::strcmp(arg, "--fft") == 0) {
            if (!parse_long(argv[++a], &fft_size) || !okrelt::valid_waterfall_fft(fft_size)) {
                return okrelt::usage_error(PROGRAM, "--fft takes a power of two from 64 to 65536", argv[a]);
            }
        } else if (std::strcmp(arg, "--peaks") == 0) {
            if (!parse_long(argv[++a], &wanted) || wanted < 1 || wanted > okrelt::WATERFALL_MAX_PEAKS) {
                return okrelt::usage_error(PROGRAM, "--peaks takes a number from 1 to 1000", argv[a]);
            }
        } else if (arg[0] == '-' && arg[1] != '\0') {
            return okrelt::usage_error(PROGRAM, "unknown option", arg);
        } else if (unit_given) {
            return okrelt::usage_error(PROGRAM, "only one work unit at a time", arg);
        } else {
            unit = arg;
            unit_given = true;
        }
    }
    if (picture.empty()) picture = okrelt::output_name(unit, ".png");

    // The blank picture and its fonts are made while the unit is read, and
    // the block spectra's peaks are searched while the spectrogram is made
    // and drawn: on a machine with two cores or more the picture takes a
    // third less time.
    okrelt::Canvas canvas;
    const Background preparation([&canvas] { canvas = okrelt::prepare_canvas(); });
    okrelt::SampleStreams streams;
    okrelt::WorkUnitInfo info;
    if (okrelt::load_work_unit(unit.c_str(), &streams, &info) != 0) return EXIT_FAILED;
    if (streams.count < fft_size) {
        std::printf("Too few samples for a picture: %d decoded, %ld needed.\n", streams.count, fft_size);
        return EXIT_FAILED;
    }
    if (info.name.empty()) info.name = unit.substr(unit.find_last_of('/') + 1);

    std::vector<okrelt::BlockPeak> peaks;
    okrelt::Spectrogram spectrogram;
    {
        const Background peak_search([&] { peaks = okrelt::find_block_peaks(streams, static_cast<int>(wanted)); });
        spectrogram = okrelt::make_spectrogram(streams, static_cast<int>(fft_size), okrelt::PLOT_WIDTH,
                                               okrelt::PLOT_HEIGHT);
        preparation.wait();
        okrelt::draw_spectrogram(&canvas, spectrogram, info);
    }
    if (okrelt::finish_waterfall(&canvas, spectrogram, peaks, info, picture.c_str()) != 0) return EXIT_FAILED;
    std::printf("Picture: %s\n", picture.c_str());
    if (!peaks.empty()) okrelt::print_peak_table(peaks, info);
    return EXIT_OK;
}
