// okrelt-waterfall: draws a work unit's waterfall picture and prints the
// strongest peaks of its block spectra, the first being the RFI factor's,
// and the de-Doppler search's hits, drawn beside their signals.
//
//   okrelt-waterfall [WORK_UNIT] [-o PICTURE.png] [--fft N] [--average N]
//                    [--range LOW:HIGH] [--peaks K] [--csv FILE] [--peaks-csv FILE]
//                    [--snr S] [--max-drift HZ_PER_S] [--no-hits]
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <exception>
#include <string>
#include <vector>

#include "common/command_line.h"
#include "common/file_names.h"
#include "common/messages.h"
#include "common/numbers.h"
#include "common/output_file.h"
#include "common/output_plan.h"
#include "common/version.h"
#include "search/hit_table.h"
#include "search/search.h"
#include "waterfall/hits_overlay.h"
#include "waterfall/picture.h"
#include "waterfall/waterfall.h"
#include "workunit/reader.h"

namespace {

using okrelt::EXIT_FAILED;
using okrelt::EXIT_OK;

constexpr const char* PROGRAM = "okrelt-waterfall";

void print_usage() {
    std::printf(
        "Usage: okrelt-waterfall [WORK_UNIT] [-o PICTURE.png] [--fft N] [--average N]\n"
        "                        [--range LOW:HIGH] [--peaks K] [--csv FILE]\n"
        "                        [--peaks-csv FILE] [--snr S] [--max-drift HZ_PER_S]\n"
        "                        [--no-hits]\n"
        "Draws the waterfall (spectrogram) of a SETI@home work unit, classic or later\n"
        "format, as a PNG picture, with the integrated spectrum above it (the mean\n"
        "power of each frequency over the whole unit, where steady signals show) and\n"
        "each row's power beside it, and prints the strongest peaks of its 65536-point\n"
        "block spectra; the first is the one okrelt reports as the RFI factor.\n"
        "It also runs okrelt-search's de-Doppler search: each hit's path is drawn\n"
        "beside its signal and numbered as in the printed hit table, and the\n"
        "strongest three are cut out below at the search's resolution.\n"
        "\n"
        "  WORK_UNIT          the work unit (default: work_unit.sah)\n"
        "  -o PICTURE.png     the picture, a name ending in .png in any case (default:\n"
        "                     the unit's name with .png for .sah or .wu, in the current\n"
        "                     folder)\n"
        "  --fft N            points per transform, a power of two from 64 to 65536\n"
        "                     (default 1024): finer frequency, coarser time\n"
        "  --average N        transforms averaged into one row, 1 to 65536 (default 1;\n"
        "                     rows beyond the picture's height are averaged anyway)\n"
        "  --range LOW:HIGH   the colours' range in dB above the noise floor, each\n"
        "                     from -200 to 200, HIGH at least 1 dB above LOW\n"
        "                     (default: from the floor to the strongest cell)\n"
        "  --peaks K          how many peaks to list, 1 to 1000 (default 10)\n"
        "  --csv FILE         also the integrated spectrum as CSV: offset Hz, sky MHz,\n"
        "                     dB above the floor\n"
        "  --peaks-csv FILE   also the peak table as CSV\n"
        "  --snr S            the SNR a hit reaches at least, above 0, up to 1e6 (default 10)\n"
        "  --max-drift HZ_PER_S  the largest drift searched, either sign, 0 to 1000\n"
        "                     (default 10)\n"
        "  --no-hits          no search: the picture and table without hits\n"
        "  -h, --help         this text\n"
        "  -V, --version      the version\n");
}

enum WaterfallOption {
    OPTION_HELP, OPTION_VERSION, OPTION_PICTURE, OPTION_FFT, OPTION_PEAKS, OPTION_AVERAGE, OPTION_RANGE, OPTION_CSV,
    OPTION_PEAKS_CSV, OPTION_SNR, OPTION_MAX_DRIFT, OPTION_NO_HITS
};

const std::vector<okrelt::OptionSpec> WATERFALL_OPTIONS = {
    {OPTION_HELP, 'h', "help", 0},       {OPTION_VERSION, 'V', "version", 0}, {OPTION_PICTURE, 'o', "output", 1},
    {OPTION_FFT, 0, "fft", 1},           {OPTION_PEAKS, 0, "peaks", 1},       {OPTION_AVERAGE, 0, "average", 1},
    {OPTION_RANGE, 0, "range", 1},       {OPTION_CSV, 0, "csv", 1},           {OPTION_PEAKS_CSV, 0, "peaks-csv", 1},
    {OPTION_SNR, 0, "snr", 1},           {OPTION_MAX_DRIFT, 0, "max-drift", 1}, {OPTION_NO_HITS, 0, "no-hits", 0},
};

constexpr const char* PICTURE_ENDING = ".png";

// What the command line asks for.
struct WaterfallRequest {
    std::string unit = okrelt::WORK_UNIT_FILE_NAME;
    std::string picture;     // empty: named after the unit
    int fft_size = okrelt::WATERFALL_DEFAULT_FFT;
    int average = 1;
    int wanted = okrelt::WATERFALL_DEFAULT_PEAKS;
    okrelt::ColourRange range;
    std::string spectrum_csv;   // empty: none
    std::string peaks_csv;
    bool hits = true;                // search and draw the hits
    okrelt::SearchOptions search;    // its defaults but for --snr and --max-drift
};

// The search's hits and the cells they were found on. A unit the search
// cannot take (too short) is still drawn: why goes to *reason, and there
// are no hits.
struct Hits {
    bool searched = false;
    std::string reason;
    okrelt::SearchResult result;
    okrelt::PowerSpectrogram cells;
};

void search_hits(const WaterfallRequest& request, const okrelt::SampleStreams& streams, const okrelt::WorkUnitInfo& info,
                 Hits* hits) {
    okrelt::MessageSink last = okrelt::last_problem_sink(&hits->reason);
    const okrelt::ScopedMessageSink quiet(&last);
    // The cut-outs show the cells the hits were found on.
    hits->searched = okrelt::search_work_unit(streams, info, request.search, &hits->result, &hits->cells) == 0;
    if (!hits->searched) {
        hits->result = okrelt::SearchResult();
        hits->cells = okrelt::PowerSpectrogram();
    }
}

// The files the request reads and writes, checked against each other before
// anything is written. 0, or 1 after saying why.
int plan_files(const WaterfallRequest& request) {
    okrelt::OutputPlan plan;
    okrelt::plan_input(&plan, request.unit);
    std::string target;
    if (okrelt::linked_unit_path(request.unit.c_str(), &target)) okrelt::plan_input(&plan, target);
    if (okrelt::plan_output(&plan, request.picture, "the picture") != 0) return EXIT_FAILED;
    if (!request.spectrum_csv.empty() && okrelt::plan_output(&plan, request.spectrum_csv, "--csv") != 0) {
        return EXIT_FAILED;
    }
    if (!request.peaks_csv.empty() && okrelt::plan_output(&plan, request.peaks_csv, "--peaks-csv") != 0) {
        return EXIT_FAILED;
    }
    return EXIT_OK;
}

// The picture, the peak table and the tables asked for.
int draw(WaterfallRequest request) {
    if (request.picture.empty()) request.picture = okrelt::output_name(request.unit, PICTURE_ENDING);
    if (plan_files(request) != EXIT_OK) return EXIT_FAILED;

    okrelt::SampleStreams streams;
    okrelt::WorkUnitInfo info;
    if (okrelt::load_work_unit(request.unit.c_str(), &streams, &info) != 0) return EXIT_FAILED;
    if (streams.count < request.fft_size) {
        okrelt::tell(okrelt::MessageKind::PROBLEM, "Too few samples for a picture: %d decoded, %d needed.\n", streams.count,
                     request.fft_size);
        return EXIT_FAILED;
    }
    if (info.name.empty()) info.name = request.unit.substr(request.unit.find_last_of('/') + 1);

    const std::vector<okrelt::BlockPeak> peaks = okrelt::find_block_peaks(streams, request.wanted);
    const okrelt::Spectrogram spectrogram = okrelt::make_spectrogram(streams, request.fft_size, request.average,
                                                                     okrelt::PLOT_WIDTH, okrelt::PLOT_HEIGHT);
    Hits hits;
    if (request.hits) search_hits(request, streams, info, &hits);
    okrelt::Canvas canvas = okrelt::prepare_canvas(okrelt::picture_height(hits.result));
    okrelt::draw_spectrogram(&canvas, spectrogram, info, request.range);
    okrelt::draw_hits(&canvas, spectrogram, info, hits.result, hits.cells);
    // Every file is finished before any is put in place: all of them, or none.
    okrelt::OutputFile picture;
    okrelt::OutputFile spectrum_csv;
    okrelt::OutputFile peaks_csv;
    std::vector<okrelt::OutputFile*> outputs = {&picture};
    if (okrelt::finish_waterfall(&canvas, spectrogram, peaks, info, request.picture.c_str(), &picture) != 0) {
        return EXIT_FAILED;
    }
    if (!request.spectrum_csv.empty()) {
        if (okrelt::write_spectrum_csv(request.spectrum_csv.c_str(), spectrogram, info, &spectrum_csv) != 0) {
            return EXIT_FAILED;
        }
        outputs.push_back(&spectrum_csv);
    }
    if (!request.peaks_csv.empty()) {
        if (okrelt::write_peaks_csv(request.peaks_csv.c_str(), peaks, info, &peaks_csv) != 0) return EXIT_FAILED;
        outputs.push_back(&peaks_csv);
    }
    const okrelt::OutputFile* failed = nullptr;
    const int error = okrelt::publish_outputs(outputs.data(), outputs.size(), nullptr, &failed);
    if (error != 0) {
        okrelt::tell(okrelt::MessageKind::ERROR, "%s: cannot write %s: %s\n", PROGRAM, failed->path.c_str(),
                     okrelt::describe_output_error(error));
        return EXIT_FAILED;
    }
    std::printf("Picture: %s\n", request.picture.c_str());
    if (!request.spectrum_csv.empty()) std::printf("Integrated spectrum: %s\n", request.spectrum_csv.c_str());
    if (!request.peaks_csv.empty()) std::printf("Peak table: %s\n", request.peaks_csv.c_str());
    if (!peaks.empty()) okrelt::print_peak_table(peaks, request.wanted, info);
    if (hits.searched) {
        std::printf("\n");
        std::fputs(okrelt::hit_table_text(hits.result, request.search).c_str(), stdout);
        std::fputs(okrelt::sensitivity_text(hits.result, request.search).c_str(), stdout);
    } else if (request.hits) {
        std::string reason = hits.reason.empty() ? "it failed." : hits.reason;
        if (reason.back() == '\n') reason.pop_back();
        std::printf("\nNo de-Doppler search: %s\n", reason.c_str());
    }
    return EXIT_OK;
}

// "LOW:HIGH" in dB, each within WATERFALL_MAX_RANGE_DB either way, HIGH at
// least WATERFALL_MIN_RANGE_DB above LOW: a narrower range has no colours
// between its ends, nor room for the colour bar's labels.
bool parse_range(const std::string& text, okrelt::ColourRange* range) {
    const size_t colon = text.find(':');
    if (colon == std::string::npos) return false;
    double low = 0.0;
    double high = 0.0;
    if (!okrelt::parse_real(text.substr(0, colon), &low) || !okrelt::parse_real(text.substr(colon + 1), &high)) {
        return false;
    }
    if (!(high - low >= okrelt::WATERFALL_MIN_RANGE_DB) || std::fabs(low) > okrelt::WATERFALL_MAX_RANGE_DB ||
        std::fabs(high) > okrelt::WATERFALL_MAX_RANGE_DB) {
        return false;
    }
    *range = okrelt::ColourRange{true, low, high};
    return true;
}

// True if text ends with ending (lower case), in any case: "x.PNG" is a PNG too.
bool ends_with_any_case(const std::string& text, const std::string& ending) {
    if (text.size() < ending.size()) return false;
    const size_t from = text.size() - ending.size();
    for (size_t i = 0; i < ending.size(); ++i) {
        const char c = text[from + i];
        const char lower = c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
        if (lower != ending[i]) return false;
    }
    return true;
}

// The run the command line asks for, before standard output is checked.
int run(int argc, char** argv) {
    okrelt::ParsedCommandLine line;
    if (okrelt::parse_command_line(PROGRAM, argc, argv, WATERFALL_OPTIONS, &line) != 0) return okrelt::EXIT_USAGE;
    WaterfallRequest request;
    for (const okrelt::OptionUse& use : line.options) {
        int64_t number = 0;
        switch (use.id) {
            case OPTION_HELP:
                print_usage();
                return EXIT_OK;
            case OPTION_VERSION:
                std::printf("okrelt-waterfall %s\n", OKRELT_VERSION);
                return EXIT_OK;
            case OPTION_PICTURE:
                // The picture is always PNG: another name would hide what it is.
                if (!ends_with_any_case(use.value[0], PICTURE_ENDING)) {
                    return okrelt::usage_error(PROGRAM, "the picture's name must end in .png", use.value[0]);
                }
                request.picture = use.value[0];
                break;
            case OPTION_FFT:
                if (!okrelt::parse_integer(use.value[0], okrelt::WATERFALL_MIN_FFT, okrelt::WATERFALL_MAX_FFT, &number) ||
                    !okrelt::valid_waterfall_fft(static_cast<long>(number))) {
                    return okrelt::usage_error(PROGRAM, "--fft takes a power of two from 64 to 65536", use.value[0]);
                }
                request.fft_size = static_cast<int>(number);
                break;
            case OPTION_PEAKS:
                if (!okrelt::parse_integer(use.value[0], 1, okrelt::WATERFALL_MAX_PEAKS, &number)) {
                    return okrelt::usage_error(PROGRAM, "--peaks takes a number from 1 to 1000", use.value[0]);
                }
                request.wanted = static_cast<int>(number);
                break;
            case OPTION_AVERAGE:
                if (!okrelt::parse_integer(use.value[0], 1, okrelt::WATERFALL_MAX_AVERAGE, &number)) {
                    return okrelt::usage_error(PROGRAM, "--average takes a number from 1 to 65536", use.value[0]);
                }
                request.average = static_cast<int>(number);
                break;
            case OPTION_RANGE:
                if (!parse_range(use.value[0], &request.range)) {
                    return okrelt::usage_error(PROGRAM,
                                               "--range takes LOW:HIGH in dB, from -200 to 200, HIGH at least 1 dB above LOW",
                                               use.value[0]);
                }
                break;
            case OPTION_SNR:
                if (okrelt::take_search_snr(PROGRAM, use.value[0], &request.search) != 0) return okrelt::EXIT_USAGE;
                break;
            case OPTION_MAX_DRIFT:
                if (okrelt::take_search_max_drift(PROGRAM, use.value[0], &request.search) != 0) return okrelt::EXIT_USAGE;
                break;
            case OPTION_NO_HITS:
                request.hits = false;
                break;
            case OPTION_CSV:
            case OPTION_PEAKS_CSV:
                if (use.value[0][0] == '\0') return okrelt::usage_error(PROGRAM, "a table needs a file's name");
                // A unit's name after --csv is a table's name forgotten, not a table to write.
                if (ends_with_any_case(use.value[0], ".sah") || ends_with_any_case(use.value[0], ".wu")) {
                    return okrelt::usage_error(PROGRAM, "a table's name must not end in .sah or .wu", use.value[0]);
                }
                (use.id == OPTION_CSV ? request.spectrum_csv : request.peaks_csv) = use.value[0];
                break;
        }
    }
    if (line.operands.size() > 1) return okrelt::usage_error(PROGRAM, "only one work unit at a time", line.operands[1].c_str());
    if (!line.operands.empty()) request.unit = line.operands[0];
    return draw(request);
}

}  // namespace

int main(int argc, char** argv) {
    okrelt::set_program_name(PROGRAM);
    okrelt::exit_on_out_of_memory(PROGRAM);
    okrelt::clean_up_on_interrupt();
    // Results on standard output, reasons for failing on standard error.
    okrelt::MessageSink sink = okrelt::problems_on_stderr_sink();
    const okrelt::ScopedMessageSink reasons(&sink);
    int status = EXIT_FAILED;
    // Nothing thrown ends the program without a word.
    try {
        status = run(argc, argv);
    } catch (const std::exception& error) {
        okrelt::tell(okrelt::MessageKind::ERROR, "%s: %s\n", PROGRAM, error.what());
    }
    return okrelt::check_standard_output(PROGRAM) != 0 ? EXIT_FAILED : status;
}
