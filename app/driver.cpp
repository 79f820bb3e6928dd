#include "app/driver.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "audio/converter.h"
#include "audio/fft.h"
#include "common/command_line.h"
#include "common/stdio_file.h"
#include "report/rfi.h"
#include "workunit/reader.h"

namespace okrelt {

namespace {

constexpr int EXIT_OK = 0;
constexpr int EXIT_FAILED = 1;
constexpr const char* PROGRAM = "okrelt";
constexpr int32_t MIN_CONVERT_SAMPLES = 2 * BLOCK_SAMPLES;   // fewer are not worth a sound file
constexpr const char* SETI_WEB_SITE = "https://setiathome.berkeley.edu/";
constexpr const char* OKRELT_WEB_SITE = "https://okrelt.quorvane.net/";

static_assert(DEFAULT_SOUND_RATE == OUTPUT_RATE, "a classic unit plays at the sound file's usual rate");

// Prints the two web-site lines, for the banner and the closing prompt.
void print_web_sites() {
    std::printf("SETI@home website: %s\n", SETI_WEB_SITE);
    std::printf("OKRELT website:    %s\n", OKRELT_WEB_SITE);
}

// Prints the start-up banner, web-site lines included.
void print_banner() {
    std::printf("OKRELT Version 0.5.7W\nby Quorvane\n");
    std::printf("\nUse it at your own risk. \n\n");
    std::printf("The SETI@home client can very well analyze the workunit data,\n");
    std::printf("so don't email SETI@home with anything you think you've found.\n");
    std::printf("If what you think you've found really is something, then the\n");
    std::printf("SETI@home client will find it and report it back.\n");
    std::printf("\n");
    print_web_sites();
    std::printf("--------------------------------------------------------------\n");
}

// One work unit into one sound file: reading, the count check and the
// conversion, with the usual report. *count receives the samples converted.
// Returns the exit status.
int convert_unit(const char* unit_path, const char* sound_path, int32_t* count) {
    // The factor is each unit's own, however many a run converts.
    peak_magnitude = 0.0;
    SampleStreams streams;
    WorkUnitInfo info;
    if (load_work_unit(unit_path, &streams, &info) != 0) return EXIT_FAILED;
    std::printf("Samples decoded: %d\n", streams.count);
    if (streams.count < MIN_CONVERT_SAMPLES) {
        std::printf("Quite few samples decoded. I wont bother converting those.\n");
        return EXIT_FAILED;
    }
    std::printf("Converting...\n");
    SoundFormat format;
    format.path = sound_path;
    format.rate = info.sound_rate;
    format.levels = streams.levels;
    if (convert_to_sound_file(streams.in_phase.get(), streams.quadrature.get(), streams.count, format) != 0) {
        std::printf("Conversion failed.\n");
        return EXIT_FAILED;
    }
    *count = streams.count;
    return EXIT_OK;
}

// The text a call prints on standard output and error, kept from the
// console: both descriptors go to a temporary file meanwhile.
class CapturedOutput {
public:
    CapturedOutput() : file_(std::tmpfile()) {
        std::fflush(stdout);
        std::fflush(stderr);
        saved_out_ = dup(STDOUT_FILENO);
        saved_err_ = dup(STDERR_FILENO);
        if (file_ && saved_out_ >= 0 && saved_err_ >= 0) {
            capturing_ = dup2(fileno(file_.get()), STDOUT_FILENO) >= 0 && dup2(fileno(file_.get()), STDERR_FILENO) >= 0;
        }
    }
    ~CapturedOutput() {
        (void)finish();
        if (saved_out_ >= 0) close(saved_out_);
        if (saved_err_ >= 0) close(saved_err_);
    }
    CapturedOutput(const CapturedOutput&) = delete;
    CapturedOutput& operator=(const CapturedOutput&) = delete;

    // Restores the console; returns what was printed.
    std::string finish() {
        std::string text;
        if (!capturing_) return text;
        std::fflush(stdout);
        std::fflush(stderr);
        dup2(saved_out_, STDOUT_FILENO);
        dup2(saved_err_, STDERR_FILENO);
        capturing_ = false;
        std::rewind(file_.get());
        char buffer[4096];
        size_t got = 0;
        while ((got = std::fread(buffer, 1, sizeof buffer, file_.get())) > 0) text.append(buffer, got);
        return text;
    }

private:
    FileHandle file_;
    int saved_out_ = -1;
    int saved_err_ = -1;
    bool capturing_ = false;
};

// Why a unit failed, from its report: the last line that says more than
// "Conversion failed.".
std::string failure_reason(const std::string& report) {
    std::string reason = "failed";
    size_t start = 0;
    while (start < report.size()) {
        size_t end = report.find('\n', start);
        if (end == std::string::npos) end = report.size();
        std::string line = report.substr(start, end - start);
        const size_t tail = line.rfind("Conversion failed.");
        if (tail != std::string::npos) line.erase(tail);
        if (!line.empty()) reason = line;
        start = end + 1;
    }
    return reason;
}

struct UnitOptions {
    bool quiet = false;
    std::string folder = ".";
    std::vector<std::string> units;
};

// The sound file of each unit, refusing names that collide or that would
// overwrite an input. 0, or 1 after saying why.
int plan_sound_files(const UnitOptions& options, std::vector<std::string>* sounds) {
    struct stat folder {};
    if (stat(options.folder.c_str(), &folder) != 0 || !S_ISDIR(folder.st_mode)) {
        std::fflush(stdout);
        std::fprintf(stderr, "okrelt: %s is not a folder\n", options.folder.c_str());
        return EXIT_FAILED;
    }
    for (const std::string& unit : options.units) {
        const std::string name = output_name(unit, ".wav");
        sounds->push_back(options.folder == "." ? name : options.folder + "/" + name);
    }
    for (size_t i = 0; i < sounds->size(); ++i) {
        for (size_t j = 0; j < options.units.size(); ++j) {
            const bool same_sound = j < i && (*sounds)[j] == (*sounds)[i];
            struct stat sound {};
            struct stat unit {};
            const bool overwrites = stat((*sounds)[i].c_str(), &sound) == 0 && stat(options.units[j].c_str(), &unit) == 0 &&
                                    sound.st_dev == unit.st_dev && sound.st_ino == unit.st_ino;
            if (same_sound || overwrites) {
                std::fflush(stdout);
                std::fprintf(stderr, "okrelt: %s would %s %s; nothing converted\n", options.units[i].c_str(),
                             same_sound ? "write the same sound file as" : "overwrite", 
                             same_sound ? options.units[j].c_str() : (*sounds)[i].c_str());
                return EXIT_FAILED;
            }
        }
    }
    return EXIT_OK;
}

// Converts every unit named, carrying on past failures. Returns 0 if all
// converted, 1 otherwise.
int run_units(const UnitOptions& options) {
    std::vector<std::string> sounds;
    if (plan_sound_files(options, &sounds) != EXIT_OK) return EXIT_FAILED;
    if (!options.quiet) print_banner();
    size_t converted = 0;
    for (size_t i = 0; i < options.units.size(); ++i) {
        const char* unit = options.units[i].c_str();
        int32_t count = 0;
        int status = EXIT_FAILED;
        if (options.quiet) {
            CapturedOutput captured;
            status = convert_unit(unit, sounds[i].c_str(), &count);
            const std::string report = captured.finish();
            if (status == EXIT_OK) {
                const int32_t factor = static_cast<int32_t>(peak_magnitude);
                std::printf("%s: %d samples, RFI %d %s -> %s\n", unit, count, factor, rfi_grade(factor), sounds[i].c_str());
            } else {
                std::printf("%s: %s\n", unit, failure_reason(report).c_str());
            }
        } else {
            std::printf("\n%s -> %s\n", unit, sounds[i].c_str());
            status = convert_unit(unit, sounds[i].c_str(), &count);
        }
        converted += status == EXIT_OK;
    }
    if (!options.quiet) std::printf("\nConverted %zu of %zu work units.\n", converted, options.units.size());
    return converted == options.units.size() ? EXIT_OK : EXIT_FAILED;
}

void print_usage() {
    std::printf(
        "Usage: okrelt [-q] [-o FOLDER] [WORK_UNIT...]\n"
        "Converts SETI@home work units (classic or later format) into sound files and\n"
        "prints their RFI factor, the strongest spectral peak, graded from Nope to WHOA.\n"
        "\n"
        "Without a work unit, converts work_unit.sah in the current folder into\n"
        "work_unit.wav and waits for Enter, as it always has. With work units, converts\n"
        "each into the folder, naming the sound file after it (.sah or .wu replaced by\n"
        ".wav, or .wav appended), and goes on past units that fail.\n"
        "\n"
        "  -o, --output FOLDER   where the sound files go (default: the current folder)\n"
        "  -q, --quiet           one line per work unit instead of the full report\n"
        "  -h, --help            this text\n"
        "  -V, --version         the version and the transform's code path here\n"
        "\n"
        "Exit status: 0 if everything converted, 1 if anything failed, 2 for a bad\n"
        "command line.\n");
}

}  // namespace

int run_program() {
    print_banner();
    int32_t count = 0;
    if (convert_unit(WORK_UNIT_FILE_NAME, SOUND_FILE_NAME, &count) != EXIT_OK) return EXIT_FAILED;
    std::printf("Press Enter (the biggest key ;-) to quit.\n\n");
    print_web_sites();
    std::fflush(stdout);
    std::getchar();
    return EXIT_OK;
}

int run_command_line(int argc, char** argv) {
    if (argc <= 1) return run_program();
    UnitOptions options;
    bool options_end = false;
    for (int a = 1; a < argc; ++a) {
        const char* arg = argv[a];
        if (options_end || arg[0] != '-' || arg[1] == '\0') {
            options.units.push_back(arg);
        } else if (std::strcmp(arg, "--") == 0) {
            options_end = true;
        } else if (is_option(arg, "-h", "--help")) {
            print_usage();
            return EXIT_OK;
        } else if (is_option(arg, "-V", "--version")) {
            std::printf("okrelt %s\nTransform code path on this processor: %s\n", OKRELT_VERSION,
                        fft_isa_name(fft_best_isa()));
            return EXIT_OK;
        } else if (is_option(arg, "-q", "--quiet")) {
            options.quiet = true;
        } else if (is_option(arg, "-o", "--output")) {
            if (a + 1 >= argc) return usage_error(PROGRAM, "option needs a folder", arg);
            options.folder = argv[++a];
        } else {
            return usage_error(PROGRAM, "unknown option", arg);
        }
    }
    if (options.units.empty()) return usage_error(PROGRAM, "no work unit named");
    return run_units(options);
}

}  // namespace okrelt
