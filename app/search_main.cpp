// okrelt-search: the de-Doppler search of work units for narrowband tones
// that drift, with a hit file for each.
//
//   okrelt-search [-q] [-o FOLDER] [--files-from LIST [--null]] [--snr S] [--max-drift HZ_PER_S]
//                 [--fft N] [--csv FILE] [--] UNIT...
#include <sys/stat.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <exception>
#include <string>
#include <unordered_map>
#include <vector>

#include "common/command_line.h"
#include "common/file_names.h"
#include "common/messages.h"
#include "common/numbers.h"
#include "common/output_file.h"
#include "common/output_plan.h"
#include "common/unit_list.h"
#include "common/version.h"
#include "search/hit_table.h"
#include "search/search.h"
#include "workunit/reader.h"

namespace {

using okrelt::EXIT_FAILED;
using okrelt::EXIT_OK;

constexpr const char* PROGRAM = "okrelt-search";

void print_usage() {
    std::printf(
        "Usage: okrelt-search [-q] [-o FOLDER] [--files-from LIST [--null]] [--snr S]\n"
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
        "  -0, --null                LIST's names end with NUL bytes (find -print0)\n"
        "      --snr S               the SNR a hit reaches at least, above 0, up to 1e6\n"
        "                            (default 10)\n"
        "      --max-drift HZ_PER_S  the largest drift searched, either sign, 0 to 1000\n"
        "                            (default 10)\n"
        "      --fft N               points per transform, a power of two from 256 to\n"
        "                            65536 (default 8192: 1.19 Hz by 0.84 s)\n"
        "      --csv FILE            also every hit of every unit as CSV\n"
        "  -h, --help                this text\n"
        "  -V, --version             the version\n"
        "\n"
        "Nothing is written if any file to be written is a unit named, is named\n"
        "twice, or is a symbolic link.\n"
        "\n"
        "Exit status: 0 if every unit was searched, 1 if any failed, 2 for a bad\n"
        "command line.\n");
}

enum SearchOption {
    OPTION_HELP, OPTION_VERSION, OPTION_QUIET, OPTION_OUTPUT, OPTION_FILES_FROM, OPTION_NULL, OPTION_SNR,
    OPTION_MAX_DRIFT, OPTION_FFT, OPTION_CSV
};

const std::vector<okrelt::OptionSpec> SEARCH_OPTIONS = {
    {OPTION_HELP, 'h', "help", 0},           {OPTION_VERSION, 'V', "version", 0},
    {OPTION_QUIET, 'q', "quiet", 0},         {OPTION_OUTPUT, 'o', "output", 1},
    {OPTION_FILES_FROM, 'T', "files-from", 1}, {OPTION_NULL, '0', "null", 0},
    {OPTION_SNR, 0, "snr", 1},
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

// Every file the program writes is reported here, whole or not at all:
// EXIT_OK where error is 0, else EXIT_FAILED after saying which file failed
// and why: for the run's own file (the CSV) after the program's name, for a
// unit's file after the unit's, which goes before it.
enum class FileOf { UNIT, RUN };
int reported(const std::string& path, int error, FileOf owner = FileOf::UNIT) {
    if (error == 0) return EXIT_OK;
    okrelt::tell(okrelt::MessageKind::ERROR, "%s%sError writing %s: %s\n", owner == FileOf::RUN ? PROGRAM : "",
                 owner == FileOf::RUN ? ": " : "", okrelt::quoted(path).c_str(), okrelt::describe_output_error(error));
    return EXIT_FAILED;
}

// Writes text into output, opened for path, and gives it its name.
int write_opened_text(const std::string& path, okrelt::OutputFile* output, const std::string& text,
                      FileOf owner = FileOf::UNIT) {
    errno = 0;
    int error = 0;
    if (std::fwrite(text.data(), 1, text.size(), output->file.get()) != text.size()) error = errno != 0 ? errno : EIO;
    if (error == 0) error = okrelt::commit_output(output);
    return reported(path, error, owner);
}

int write_text_file(const std::string& path, const std::string& text) {
    okrelt::OutputFile output;
    const int error = okrelt::open_output(path, &output);
    return error != 0 ? reported(path, error) : write_opened_text(path, &output, text);
}

std::string hit_file_path(const SearchRequest& request, const std::string& unit) {
    return okrelt::in_folder(request.folder, okrelt::output_name(unit, okrelt::HIT_FILE_SUFFIX));
}

// The folder exists, each file is searched once (a note for one named
// again), and no file to be written is a unit, another file to be written
// or a link. 0, or 1 after saying why.
int plan_units(SearchRequest* request) {
    struct stat folder {};
    if (stat(request->folder.c_str(), &folder) != 0) {
        okrelt::tell(okrelt::MessageKind::ERROR, "%s: %s: %s\n", PROGRAM, okrelt::quoted(request->folder).c_str(),
                     std::strerror(errno));
        return EXIT_FAILED;
    }
    if (!S_ISDIR(folder.st_mode)) {
        okrelt::tell(okrelt::MessageKind::ERROR, "%s: %s is not a folder\n", PROGRAM, okrelt::quoted(request->folder).c_str());
        return EXIT_FAILED;
    }
    okrelt::OutputPlan plan;
    std::unordered_map<okrelt::FileIdentity, std::string, okrelt::FileIdentityHash> named;
    std::vector<std::string> units;
    for (const std::string& unit : request->units) {
        okrelt::FileIdentity identity;
        if (okrelt::file_identity(unit, &identity)) {
            const auto [earlier, fresh] = named.emplace(identity, unit);
            if (!fresh) {
                okrelt::tell(okrelt::MessageKind::ERROR, "%s: %s is the same file as %s; searched once\n", PROGRAM,
                             okrelt::quoted(unit).c_str(), okrelt::quoted(earlier->second).c_str());
                continue;
            }
        }
        okrelt::plan_input(&plan, unit);
        std::string target;
        if (okrelt::linked_unit_path(unit.c_str(), &target)) okrelt::plan_input(&plan, target);
        units.push_back(unit);
    }
    for (const std::string& unit : units) {
        if (okrelt::plan_output(&plan, hit_file_path(*request, unit), unit) != 0) return EXIT_FAILED;
    }
    if (!request->csv.empty() && okrelt::plan_output(&plan, request->csv, "--csv") != 0) return EXIT_FAILED;
    request->units = units;
    return EXIT_OK;
}

// One unit: read into streams (kept for the next unit), searched, reported
// and its hit file written. 0, or 1.
int search_unit(const SearchRequest& request, const std::string& unit, okrelt::SampleStreams* streams,
                std::string* csv_rows) {
    std::string reason;
    okrelt::MessageSink last = okrelt::last_problem_sink(&reason);
    okrelt::WorkUnitInfo info;
    okrelt::SearchResult result;
    const std::string path = hit_file_path(request, unit);
    int status = EXIT_OK;
    {
        const okrelt::ScopedMessageSink quiet(request.quiet ? &last : nullptr);
        if (!request.quiet) {
            std::printf("\n%s -> %s\n", unit.c_str(), path.c_str());
            std::fflush(stdout);   // a reader gone ends the run before this unit's file is written
        }
        status = okrelt::load_work_unit(unit.c_str(), streams, &info);
        if (status == EXIT_OK) {
            if (info.name.empty()) info.name = okrelt::output_name(unit, "");
            // Anything thrown fails this unit alone.
            try {
                status = okrelt::search_work_unit(*streams, info, request.options, &result);
            } catch (const std::exception& error) {
                okrelt::tell(okrelt::MessageKind::PROBLEM, "Search failed: %s\n", error.what());
                status = EXIT_FAILED;
            }
        }
        const std::string file_id = unit.substr(unit.find_last_of('/') + 1);
        if (status == EXIT_OK) {
            status = write_text_file(path, okrelt::hit_file_text(result, info, file_id, request.options));
        }
    }
    if (status != EXIT_OK) {
        if (request.quiet) {
            std::fflush(stdout);
            std::fprintf(stderr, "%s: %s\n", okrelt::quoted(unit).c_str(),
                         reason.empty() ? "failed" : okrelt::one_line(reason).c_str());
        }
        return EXIT_FAILED;
    }
    *csv_rows += okrelt::hit_csv_rows(unit, result);
    if (!request.quiet) {
        std::fputs(okrelt::hit_table_text(result, request.options).c_str(), stdout);
        std::fputs(okrelt::sensitivity_text(result, request.options).c_str(), stdout);
        std::fflush(stdout);   // each unit's table as soon as it is known, even through a pipe
        return EXIT_OK;
    }
    std::printf("%s: %zu hit%s", okrelt::quoted(unit).c_str(), result.hits.size(), result.hits.size() == 1 ? "" : "s");
    if (!result.hits.empty()) {
        const okrelt::Hit& top = result.hits[0];
        std::printf(", strongest %.3f Hz %.4f Hz/s SNR %.1f", top.offset_hz, top.drift_hz_s, top.snr);
    }
    if (result.sensitivity > 0.0) {
        std::printf("; sensitivity %.4f (%.1f dB) -> %s\n", result.sensitivity, result.sensitivity_db,
                    okrelt::quoted(path).c_str());
    } else {
        std::printf("; sensitivity unknown, no noise -> %s\n", okrelt::quoted(path).c_str());
    }
    std::fflush(stdout);   // an interrupt loses no line due
    return EXIT_OK;
}

// Every unit in the order named, carrying on past failures; then the CSV.
int run_search(SearchRequest request) {
    if (plan_units(&request) != EXIT_OK) return EXIT_FAILED;
    // The CSV's file is made first: a name it cannot take fails the run before any unit is searched.
    okrelt::OutputFile csv;
    if (!request.csv.empty() && reported(request.csv, okrelt::open_output(request.csv, &csv), FileOf::RUN) != EXIT_OK) {
        return EXIT_FAILED;
    }
    std::string csv_rows;
    size_t searched = 0;
    okrelt::SampleStreams streams;
    for (const std::string& unit : request.units) searched += search_unit(request, unit, &streams, &csv_rows) == EXIT_OK;
    if (!request.quiet) std::printf("\nSearched %zu of %zu work units.\n", searched, request.units.size());
    int status = searched == request.units.size() ? EXIT_OK : EXIT_FAILED;
    if (!request.csv.empty() && write_opened_text(request.csv, &csv, okrelt::hit_csv_heading() + csv_rows, FileOf::RUN) != EXIT_OK) {
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
    std::vector<std::string> lists;
    okrelt::ListSeparator separator = okrelt::ListSeparator::LINE;
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
                if (use.value[0][0] == '\0') return okrelt::usage_error(PROGRAM, "-o needs a folder's name");
                request.folder = use.value[0];
                break;
            case OPTION_FILES_FROM:
                lists.push_back(use.value[0]);
                break;
            case OPTION_NULL:
                separator = okrelt::ListSeparator::NUL;
                break;
            case OPTION_SNR:
                if (okrelt::take_search_snr(PROGRAM, use.value[0], &request.options) != 0) return okrelt::EXIT_USAGE;
                break;
            case OPTION_MAX_DRIFT:
                if (okrelt::take_search_max_drift(PROGRAM, use.value[0], &request.options) != 0) return okrelt::EXIT_USAGE;
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
    for (const std::string& list : lists) {
        if (okrelt::read_unit_list(list, separator, &request.units) != 0) return EXIT_FAILED;
    }
    if (request.units.empty()) {
        if (lists.empty()) return okrelt::usage_error(PROGRAM, "no work unit named");
        std::fprintf(stderr, "%s: the lists name no work unit; nothing to do\n", PROGRAM);
        return EXIT_OK;
    }
    return run_search(request);
}

}  // namespace

int main(int argc, char** argv) {
    okrelt::set_program_name(PROGRAM);
    okrelt::exit_on_out_of_memory(PROGRAM);
    okrelt::clean_up_on_interrupt();
    const int status = run(argc, argv);
    return okrelt::check_standard_output(PROGRAM) != 0 ? EXIT_FAILED : status;
}
