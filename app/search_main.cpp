// okrelt-search: the de-Doppler search of work units for narrowband tones
// that drift, with a hit file for each.
//
//   okrelt-search [-q] [-o FOLDER] [--files-from LIST] [--snr S] [--max-drift HZ_PER_S]
//                 [--fft N] [--csv FILE] [--] UNIT...
#include <sys/stat.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <map>
#include <string>
#include <unordered_set>
#include <utility>
#include <vector>

#include "common/command_line.h"
#include "common/messages.h"
#include "common/numbers.h"
#include "common/output_file.h"
#include "common/stdio_file.h"
#include "common/version.h"
#include "search/hit_table.h"
#include "search/search.h"
#include "workunit/reader.h"

namespace {

constexpr int EXIT_OK = 0;
constexpr int EXIT_FAILED = 1;
constexpr const char* PROGRAM = "okrelt-search";
constexpr double MAX_SNR = 1.0e6;

void print_usage() {
    std::printf(
        "Usage: okrelt-search [-q] [-o FOLDER] [--files-from LIST] [--snr S]\n"
        "                     [--max-drift HZ_PER_S] [--fft N] [--csv FILE] [--] UNIT...\n"
        "Searches SETI@home work units (classic or later format) for narrowband tones\n"
        "whose frequency drifts linearly, as a transmitter on a turning planet's\n"
        "surface would show: a de-Doppler search by Taylor tree over every start\n"
        "frequency and drift rate. Prints each unit's hits and sensitivity and writes\n"
        "its hits as NAME.dat, the hit-file layout radio-SETI tools read.\n"
        "\n"
        "  -o, --output FOLDER       where the hit files go (default: the current folder)\n"
        "  -q, --quiet               one line per unit: hits, strongest hit, sensitivity\n"
        "                            (failed units on standard error)\n"
        "  -T, --files-from LIST     also the units LIST names, one path per line\n"
        "                            (- for standard input)\n"
        "      --snr S               the SNR a hit reaches at least, above 0 (default 10)\n"
        "      --max-drift HZ_PER_S  the largest drift searched, either sign, 0 to 1000\n"
        "                            (default 10)\n"
        "      --fft N               points per transform, a power of two from 256 to\n"
        "                            65536 (default 8192: 1.19 Hz by 0.84 s)\n"
        "      --csv FILE            also every hit of every unit as CSV\n"
        "  -h, --help                this text\n"
        "  -V, --version             the version\n"
        "\n"
        "Exit status: 0 if every unit was searched, 1 if any failed, 2 for a bad\n"
        "command line.\n");
}

enum SearchOption {
    OPTION_HELP, OPTION_VERSION, OPTION_QUIET, OPTION_OUTPUT, OPTION_FILES_FROM, OPTION_SNR, OPTION_MAX_DRIFT,
    OPTION_FFT, OPTION_CSV
};

const std::vector<okrelt::OptionSpec> SEARCH_OPTIONS = {
    {OPTION_HELP, 'h', "help", 0},           {OPTION_VERSION, 'V', "version", 0},
    {OPTION_QUIET, 'q', "quiet", 0},         {OPTION_OUTPUT, 'o', "output", 1},
    {OPTION_FILES_FROM, 'T', "files-from", 1}, {OPTION_SNR, 0, "snr", 1},
    {OPTION_MAX_DRIFT, 0, "max-drift", 1},   {OPTION_FFT, 0, "fft", 1},
    {OPTION_CSV, 0, "csv", 1},
};

struct SearchRequest {
    bool quiet = false;
    std::string folder = ".";
    std::string csv;   // empty: none
    okrelt::SearchOptions options;
    std::vector<std::string> units;
};

// Every file the program writes goes through here: whole or not at all.
// 0, or 1 after a message.
int write_text_file(const std::string& path, const std::string& text) {
    okrelt::OutputFile output;
    int error = okrelt::open_output(path, &output);
    if (error == 0 && std::fwrite(text.data(), 1, text.size(), output.file.get()) != text.size()) {
        error = errno != 0 ? errno : EIO;
    }
    if (error == 0) error = okrelt::commit_output(&output);
    if (error != 0) {
        okrelt::tell(okrelt::MESSAGE_ERROR, "%s: %s: %s\n", PROGRAM, path.c_str(), okrelt::describe_output_error(error));
        return EXIT_FAILED;
    }
    return EXIT_OK;
}

// Reads the units a list names, one path per line ("-": standard input).
// 0, or 1 after saying why.
int read_unit_list(const std::string& list, std::vector<std::string>* units) {
    okrelt::FileHandle opened(list == "-" ? nullptr : std::fopen(list.c_str(), "r"));
    std::FILE* file = list == "-" ? stdin : opened.get();
    if (file == nullptr) {
        okrelt::tell_system_error((std::string(PROGRAM) + ": " + list).c_str());
        return EXIT_FAILED;
    }
    std::string line;
    int c = 0;
    while ((c = std::getc(file)) != EOF) {
        if (c != '\n') {
            line += static_cast<char>(c);
            continue;
        }
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (!line.empty()) units->push_back(line);
        line.clear();
    }
    if (!line.empty()) units->push_back(line);
    if (std::ferror(file)) {
        okrelt::tell_system_error((std::string(PROGRAM) + ": " + list).c_str());
        return EXIT_FAILED;
    }
    return EXIT_OK;
}

std::string hit_file_path(const SearchRequest& request, const std::string& unit) {
    const std::string name = okrelt::output_name(unit, okrelt::HIT_FILE_SUFFIX);
    return request.folder == "." ? name : request.folder + "/" + name;
}

// The folder exists, each file is searched once (a note for one named
// again), no two units write one hit file, and no hit file would replace a
// unit. 0, or 1 after saying why.
int plan_units(SearchRequest* request) {
    struct stat folder {};
    if (stat(request->folder.c_str(), &folder) != 0 || !S_ISDIR(folder.st_mode)) {
        okrelt::tell(okrelt::MESSAGE_ERROR, "%s: %s is not a folder\n", PROGRAM, request->folder.c_str());
        return EXIT_FAILED;
    }
    std::map<std::pair<dev_t, ino_t>, std::string> inputs;
    std::vector<std::string> units;
    for (const std::string& unit : request->units) {
        struct stat status {};
        if (stat(unit.c_str(), &status) == 0) {
            const auto [earlier, fresh] = inputs.emplace(std::make_pair(status.st_dev, status.st_ino), unit);
            if (!fresh) {
                okrelt::tell(okrelt::MESSAGE_ERROR, "%s: %s is the same file as %s; searched once\n", PROGRAM,
                             unit.c_str(), earlier->second.c_str());
                continue;
            }
        }
        units.push_back(unit);
    }
    std::unordered_set<std::string> outputs;
    for (const std::string& unit : units) {
        const std::string path = hit_file_path(*request, unit);
        struct stat status {};
        const bool replaces_a_unit =
            stat(path.c_str(), &status) == 0 && inputs.count(std::make_pair(status.st_dev, status.st_ino)) != 0;
        if (!outputs.insert(path).second || replaces_a_unit) {
            okrelt::tell(okrelt::MESSAGE_ERROR, "%s: %s would overwrite %s; nothing searched\n", PROGRAM, unit.c_str(),
                         path.c_str());
            return EXIT_FAILED;
        }
    }
    request->units = units;
    return EXIT_OK;
}

// One unit: read, searched, reported and its hit file written. 0, or 1.
int search_unit(const SearchRequest& request, const std::string& unit, std::string* csv_rows) {
    std::string reason;
    okrelt::MessageSink last = okrelt::last_problem_sink(&reason);
    okrelt::SampleStreams streams;
    okrelt::WorkUnitInfo info;
    okrelt::SearchResult result;
    const std::string path = hit_file_path(request, unit);
    int status = EXIT_OK;
    {
        const okrelt::ScopedMessageSink quiet(request.quiet ? &last : nullptr);
        if (!request.quiet) std::printf("\n%s -> %s\n", unit.c_str(), path.c_str());
        status = okrelt::load_work_unit(unit.c_str(), &streams, &info);
        if (status == EXIT_OK) {
            if (info.name.empty()) info.name = okrelt::output_name(unit, "");
            status = okrelt::search_work_unit(streams, info, request.options, &result);
        }
        const std::string file_id = unit.substr(unit.find_last_of('/') + 1);
        if (status == EXIT_OK) {
            status = write_text_file(path, okrelt::hit_file_text(result, info, file_id, request.options));
        }
    }
    if (status != EXIT_OK) {
        if (request.quiet) {
            std::fflush(stdout);
            std::fprintf(stderr, "%s: %s\n", unit.c_str(), reason.empty() ? "failed" : reason.c_str());
        }
        return EXIT_FAILED;
    }
    *csv_rows += okrelt::hit_csv_rows(unit, result);
    if (!request.quiet) {
        std::fputs(okrelt::hit_table_text(result, request.options).c_str(), stdout);
        std::fputs(okrelt::sensitivity_text(result, request.options).c_str(), stdout);
        return EXIT_OK;
    }
    std::printf("%s: %zu hit%s", unit.c_str(), result.hits.size(), result.hits.size() == 1 ? "" : "s");
    if (!result.hits.empty()) {
        const okrelt::Hit& top = result.hits[0];
        std::printf(", strongest %.3f Hz %.4f Hz/s SNR %.1f", top.offset_hz, top.drift_hz_s, top.snr);
    }
    std::printf("; sensitivity %.4f (%.1f dB) -> %s\n", result.sensitivity, result.sensitivity_db, path.c_str());
    return EXIT_OK;
}

// Every unit in the order named, carrying on past failures; then the CSV.
int run_search(SearchRequest request) {
    if (plan_units(&request) != EXIT_OK) return EXIT_FAILED;
    std::string csv_rows;
    size_t searched = 0;
    for (const std::string& unit : request.units) searched += search_unit(request, unit, &csv_rows) == EXIT_OK;
    if (!request.quiet) std::printf("\nSearched %zu of %zu work units.\n", searched, request.units.size());
    int status = searched == request.units.size() ? EXIT_OK : EXIT_FAILED;
    if (!request.csv.empty() && write_text_file(request.csv, okrelt::hit_csv_heading() + csv_rows) != EXIT_OK) {
        status = EXIT_FAILED;
    }
    return status;
}

// The run the command line asks for, before standard output is checked.
int run(int argc, char** argv) {
    okrelt::ParsedCommandLine line;
    if (okrelt::parse_command_line(PROGRAM, argc, argv, SEARCH_OPTIONS, &line) != 0) return okrelt::EXIT_USAGE;
    SearchRequest request;
    request.units = line.operands;
    for (const okrelt::OptionUse& use : line.options) {
        int64_t number = 0;
        switch (use.id) {
            case OPTION_HELP:
                print_usage();
                return EXIT_OK;
            case OPTION_VERSION:
                std::printf("okrelt-search %s\n", OKRELT_VERSION);
                return EXIT_OK;
            case OPTION_QUIET:
                request.quiet = true;
                break;
            case OPTION_OUTPUT:
                request.folder = use.value[0];
                break;
            case OPTION_FILES_FROM:
                if (read_unit_list(use.value[0], &request.units) != EXIT_OK) return EXIT_FAILED;
                break;
            case OPTION_SNR:
                if (!okrelt::parse_real(use.value[0], &request.options.snr_threshold) ||
                    !(request.options.snr_threshold > 0.0 && request.options.snr_threshold <= MAX_SNR)) {
                    return okrelt::usage_error(PROGRAM, "--snr takes a number above 0", use.value[0]);
                }
                break;
            case OPTION_MAX_DRIFT:
                if (!okrelt::parse_real(use.value[0], &request.options.max_drift_hz_s) ||
                    !(request.options.max_drift_hz_s >= 0.0 &&
                      request.options.max_drift_hz_s <= okrelt::SEARCH_MAX_MAX_DRIFT)) {
                    return okrelt::usage_error(PROGRAM, "--max-drift takes Hz/s from 0 to 1000", use.value[0]);
                }
                break;
            case OPTION_FFT:
                if (!okrelt::parse_integer(use.value[0], okrelt::SEARCH_MIN_FFT, okrelt::SEARCH_MAX_FFT, &number) ||
                    !okrelt::valid_search_fft(static_cast<long>(number))) {
                    return okrelt::usage_error(PROGRAM, "--fft takes a power of two from 256 to 65536", use.value[0]);
                }
                request.options.fft_size = static_cast<int>(number);
                break;
            case OPTION_CSV:
                request.csv = use.value[0];
                break;
        }
    }
    if (request.units.empty()) return okrelt::usage_error(PROGRAM, "no work unit named");
    return run_search(request);
}

}  // namespace

int main(int argc, char** argv) {
    okrelt::exit_on_out_of_memory(PROGRAM);
    const int status = run(argc, argv);
    return okrelt::check_standard_output(PROGRAM) != 0 ? EXIT_FAILED : status;
}
