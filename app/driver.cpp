#include "app/driver.h"

#include <sched.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <exception>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

#include "audio/converter.h"
#include "audio/fft.h"
#include "common/background.h"
#include "common/command_line.h"
#include "common/messages.h"
#include "common/output_file.h"
#include "common/stdio_file.h"
#include "common/version.h"
#include "export/recording.h"
#include "report/rfi.h"
#include "workunit/reader.h"

namespace okrelt {

namespace {

constexpr int EXIT_OK = 0;
constexpr int EXIT_FAILED = 1;
constexpr const char* PROGRAM = "okrelt";
constexpr size_t MAX_BATCH_THREADS = 8;
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
    std::printf("OKRELT Version " OKRELT_VERSION "W\nby Quorvane\n");
    std::printf("\nUse it at your own risk. \n\n");
    std::printf("The SETI@home client can very well analyze the workunit data,\n");
    std::printf("so don't email SETI@home with anything you think you've found.\n");
    std::printf("If what you think you've found really is something, then the\n");
    std::printf("SETI@home client will find it and report it back.\n");
    std::printf("\n");
    print_web_sites();
    std::printf("--------------------------------------------------------------\n");
}

// A unit of the batch and the files it gets: FOLDER/NAME.wav and the exports
// beside it, NAME being the unit's name without .sah or .wu.
struct PlannedUnit {
    std::string path;
    std::string base;    // FOLDER/NAME
    std::string sound;   // FOLDER/NAME.wav
};

// A file's identity, for telling whether two names are one file.
struct FileKey {
    dev_t device;
    ino_t inode;
    bool operator==(const FileKey& other) const { return device == other.device && inode == other.inode; }
};

struct FileKeyHash {
    size_t operator()(const FileKey& key) const {
        return std::hash<uint64_t>()(static_cast<uint64_t>(key.device) * 0x9E3779B97F4A7C15ULL ^ key.inode);
    }
};

// A batch once planned: its units, their input files and every output
// named before any header is read, against which the one output named
// from the header (the I/Q WAV, by its centre frequency) is checked.
struct BatchPlan {
    std::vector<PlannedUnit> units;
    std::unordered_map<FileKey, size_t, FileKeyHash> inputs;   // each input file, and its unit
    std::unordered_set<std::string> outputs;
    std::mutex outputs_lock;                                    // units are converted side by side
};

// What a unit is turned into besides (or instead of) its sound file.
struct ExportRequest {
    bool sigmf = false;
    bool iq_wav = false;
    std::string base;          // folder and name without ending
    std::string unit_name;     // the unit's file name, for the metadata
    std::vector<std::string>* written = nullptr;   // receives each export's path
    BatchPlan* plan = nullptr;                      // the batch whose files the exports must spare
};

// True, after saying so, if path is an output or an input of the batch;
// otherwise path joins its outputs.
bool clashes_with_batch(BatchPlan* plan, const std::string& path) {
    if (plan == nullptr) return false;
    const std::lock_guard<std::mutex> hold(plan->outputs_lock);
    struct stat status {};
    const bool input = stat(path.c_str(), &status) == 0 && plan->inputs.count(FileKey{status.st_dev, status.st_ino}) != 0;
    if (!input && plan->outputs.insert(path).second) return false;
    tell(MESSAGE_ERROR, "%s: %s would overwrite another file of this run; nothing written\n", PROGRAM, path.c_str());
    return true;
}

// One work unit into one sound file (and the exports asked for): reading,
// the count check and the conversion, with the usual report through the
// current message sink. *info receives what the header says, *count the
// samples converted. Returns the exit status.
int convert_unit(const char* unit_path, const SoundFormat& sound, const ExportRequest& exports, WorkUnitInfo* info,
                 int32_t* count) {
    // The factor is each unit's own, however many a run converts.
    reset_peak();
    SampleStreams streams;
    if (load_work_unit(unit_path, &streams, info) != 0) return EXIT_FAILED;
    tell(MESSAGE_NOTE, "Samples decoded: %d\n", streams.count);
    if (streams.count < MIN_CONVERT_SAMPLES) {
        tell(MESSAGE_PROBLEM, "Quite few samples decoded. I wont bother converting those.\n");
        return EXIT_FAILED;
    }
    tell(MESSAGE_NOTE, "Converting...\n");
    SoundFormat format = sound;
    format.rate = info->sound_rate;
    // The exports' writer would take the processor the team counts on.
    format.team = sound.team && !exports.sigmf && !exports.iq_wav;
    format.levels = streams.levels;
    Recording recording;
    if (exports.sigmf) recording.sigmf_base = exports.base;
    if (exports.iq_wav) recording.iq_wav_path = iq_wav_name(exports.base, *info);
    if (exports.iq_wav && clashes_with_batch(exports.plan, recording.iq_wav_path)) return EXIT_FAILED;
    open_recording(&recording);
    // The exports' samples and hash cost about as much as the sound: they
    // are written beside it rather than after it.
    std::unique_ptr<Background> writing;
    if (exports.sigmf || exports.iq_wav) {
        writing = std::make_unique<Background>([&] { write_recording_samples(streams, *info, &recording); });
    }
    const int status = convert_to_sound_file(streams.in_phase, streams.quadrature, streams.count, format);
    writing.reset();
    const RecordingFindings findings{static_cast<int32_t>(peak_magnitude()), peak_place()};
    if (status != 0 || finish_recording(&recording, streams.count, *info, exports.unit_name, findings) != 0) {
        tell(MESSAGE_NOTE, "Conversion failed.\n");
        return EXIT_FAILED;
    }
    if (exports.sigmf) {
        exports.written->push_back(exports.base + SIGMF_DATA_SUFFIX);
        exports.written->push_back(exports.base + SIGMF_META_SUFFIX);
    }
    if (exports.iq_wav) exports.written->push_back(recording.iq_wav_path);
    *count = streams.count;
    return EXIT_OK;
}

// convert_unit, anything it throws failing this unit alone, with a message:
// the batch goes on, and the unit's temporary files go with its objects.
int convert_unit_alone(const char* unit_path, const SoundFormat& sound, const ExportRequest& exports,
                       WorkUnitInfo* info, int32_t* count) {
    try {
        return convert_unit(unit_path, sound, exports, info, count);
    } catch (const std::exception& error) {
        tell(MESSAGE_PROBLEM, "Conversion failed: %s\n", error.what());
    }
    return EXIT_FAILED;
}

struct UnitOptions {
    bool quiet = false;
    bool sound = true;
    bool sigmf = false;
    bool iq_wav = false;
    SoundOrder order = SOUND_BIN_ORDER;
    std::string folder = ".";
    std::vector<std::string> units;
};


// Reads the units a list names, one path per line ("-": standard input).
// 0, or 1 after saying why.
int read_unit_list(const std::string& list, std::vector<std::string>* units) {
    FileHandle opened(list == "-" ? nullptr : std::fopen(list.c_str(), "r"));
    std::FILE* file = list == "-" ? stdin : opened.get();
    if (file == nullptr) {
        tell_system_error((std::string(PROGRAM) + ": " + list).c_str());
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
        tell_system_error((std::string(PROGRAM) + ": " + list).c_str());
        return EXIT_FAILED;
    }
    return EXIT_OK;
}

// The sound file of each unit, in time proportional to the number of units:
// one stat of each unit and of each sound file. The same file named twice is
// converted once; names that collide, or a sound file that would overwrite
// an input, stop the run before anything is written. 0, or 1 after saying why.
int plan_sound_files(const UnitOptions& options, BatchPlan* batch) {
    struct stat folder {};
    if (stat(options.folder.c_str(), &folder) != 0) {
        tell(MESSAGE_ERROR, "%s: %s does not exist\n", PROGRAM, options.folder.c_str());
        return EXIT_FAILED;
    }
    if (!S_ISDIR(folder.st_mode)) {
        tell(MESSAGE_ERROR, "%s: %s is not a folder\n", PROGRAM, options.folder.c_str());
        return EXIT_FAILED;
    }
    std::vector<PlannedUnit>* plan = &batch->units;
    auto& inputs = batch->inputs;
    std::unordered_map<std::string, size_t> sounds;   // each unit's base, and its unit
    for (const std::string& unit : options.units) {
        struct stat status {};
        if (stat(unit.c_str(), &status) == 0) {
            const auto [earlier, fresh] = inputs.emplace(FileKey{status.st_dev, status.st_ino}, plan->size());
            if (!fresh) {
                tell(MESSAGE_ERROR, "%s: %s is the same file as %s; converted once\n", PROGRAM, unit.c_str(),
                     (*plan)[earlier->second].path.c_str());
                continue;
            }
        }
        const std::string name = output_name(unit, "");
        const std::string base = options.folder == "." ? name : options.folder + "/" + name;
        // Every output of a unit starts with its base: one clash check covers
        // them all, but for the I/Q WAV's, whose name the header completes.
        const auto [clash, fresh] = sounds.emplace(base, plan->size());
        if (!fresh) {
            tell(MESSAGE_ERROR, "%s: %s would write the same sound file as %s; nothing converted\n", PROGRAM,
                 unit.c_str(), (*plan)[clash->second].path.c_str());
            return EXIT_FAILED;
        }
        plan->push_back({unit, base, base + ".wav"});
    }
    for (const PlannedUnit& unit : *plan) {
        std::vector<std::string> outputs;
        if (options.sound) outputs.push_back(unit.sound);
        if (options.sigmf) outputs.insert(outputs.end(), {unit.base + SIGMF_DATA_SUFFIX, unit.base + SIGMF_META_SUFFIX});
        for (const std::string& output : outputs) {
            struct stat status {};
            if (stat(output.c_str(), &status) == 0 && inputs.count(FileKey{status.st_dev, status.st_ino}) != 0) {
                tell(MESSAGE_ERROR, "%s: %s would overwrite %s; nothing converted\n", PROGRAM, unit.path.c_str(),
                     output.c_str());
                return EXIT_FAILED;
            }
            batch->outputs.insert(output);
        }
    }
    return EXIT_OK;
}

// What converting one unit of a batch gave: its -q line's parts, or every
// message of its full report, kept until the units before it are printed.
struct UnitOutcome {
    int status = EXIT_FAILED;
    WorkUnitInfo info;
    int32_t count = 0;
    int32_t factor = 0;
    std::vector<std::string> written;
    std::string reason;                 // -q: the last problem of a failed unit
    std::vector<KeptMessage> report;    // without -q: everything the conversion said
};

// The -q line of a unit: what was converted, on standard output, or why it
// failed, on standard error; both start with the unit's path.
void print_unit_line(const PlannedUnit& unit, const UnitOutcome& outcome) {
    if (outcome.status != EXIT_OK) {
        std::fflush(stdout);
        std::fprintf(stderr, "%s: %s\n", unit.path.c_str(), outcome.reason.empty() ? "failed" : outcome.reason.c_str());
        return;
    }
    std::printf("%s: %d samples, RFI %d %s ->", unit.path.c_str(), outcome.count, outcome.factor,
                rfi_grade(outcome.factor));
    for (size_t i = 0; i < outcome.written.size(); ++i) {
        std::printf("%s %s", i == 0 ? "" : ",", outcome.written[i].c_str());
    }
    if (outcome.info.silent_samples > 0) {
        std::printf("; %d samples missing from the data played as silence", outcome.info.silent_samples);
    }
    std::printf("\n");
}

// Whether a conversion that runs alone has a processor to spare for a team:
// counted among those this process may run on, so that a run confined to
// one (taskset) does not share it with a spinning thread.
bool spare_processor() {
    cpu_set_t allowed;
    CPU_ZERO(&allowed);
    return sched_getaffinity(0, sizeof allowed, &allowed) == 0 && CPU_COUNT(&allowed) > 1;
}

// Converts one unit of the batch, keeping what it says in *outcome; alone
// when no other unit is converted meanwhile.
void convert_planned_unit(const UnitOptions& options, BatchPlan* plan, const PlannedUnit& unit, bool alone,
                          UnitOutcome* outcome) {
    SoundFormat sound;
    sound.team = alone && spare_processor();
    sound.path = options.sound ? unit.sound.c_str() : nullptr;
    sound.label = unit.sound.c_str();
    sound.order = options.order;
    if (options.sound) outcome->written.push_back(unit.sound);
    const ExportRequest exports{options.sigmf, options.iq_wav, unit.base, output_name(unit.path, ""),
                                &outcome->written, plan};
    MessageSink kept = options.quiet ? last_problem_sink(&outcome->reason) : keeping_sink(&outcome->report);
    const ScopedMessageSink keeping(&kept);
    outcome->status = convert_unit_alone(unit.path.c_str(), sound, exports, &outcome->info, &outcome->count);
    outcome->factor = static_cast<int32_t>(peak_magnitude());
}

// Units handed out to the converting threads, and their outcomes, printed in
// the batch's order as they complete. An outcome lives only from its unit's
// end to its printing, so an archive's batch holds a pointer a unit.
struct BatchWork {
    const UnitOptions* options;
    BatchPlan* plan;
    std::vector<std::unique_ptr<UnitOutcome>> outcomes;
    bool alone = false;   // one unit converted at a time
    size_t next = 0;
    std::mutex lock;
    std::condition_variable finished;
};

// A converting thread: takes the next unit until none is left.
void convert_batch_units(BatchWork* work) {
    for (;;) {
        size_t index = 0;
        {
            const std::lock_guard<std::mutex> hold(work->lock);
            if (work->next == work->plan->units.size()) return;
            index = work->next++;
        }
        auto outcome = std::make_unique<UnitOutcome>();
        convert_planned_unit(*work->options, work->plan, work->plan->units[index], work->alone, outcome.get());
        const std::lock_guard<std::mutex> hold(work->lock);
        work->outcomes[index] = std::move(outcome);
        work->finished.notify_all();
    }
}

// How many units are converted side by side: one for each processor, within
// limits, since each holds about 10 MiB.
size_t batch_threads(size_t units) {
    const long processors = sysconf(_SC_NPROCESSORS_ONLN);
    const size_t wanted = processors < 1 ? 1 : static_cast<size_t>(processors);
    return std::min({wanted, MAX_BATCH_THREADS, units});
}

// Converts every unit named, carrying on past failures, several at a time;
// prints each unit's line or report in the order named. Returns 0 if all
// converted, 1 otherwise.
int run_units(const UnitOptions& options) {
    BatchPlan plan;
    if (plan_sound_files(options, &plan) != EXIT_OK) return EXIT_FAILED;
    if (!options.quiet) print_banner();
    const size_t thread_count = batch_threads(plan.units.size());
    // Declared before the converting threads, so that it ends after them.
    const ReleaseThreadPtr releasing = plan.units.size() > 1 ? start_release_thread() : nullptr;
    BatchWork work{&options, &plan, std::vector<std::unique_ptr<UnitOutcome>>(plan.units.size()), thread_count == 1,
                   0, {}, {}};
    std::vector<std::unique_ptr<Background>> threads;
    if (thread_count == 1) {
        convert_batch_units(&work);   // one unit, or one processor: no thread to wait for
    } else {
        for (size_t t = 0; t < thread_count; ++t) {
            threads.push_back(std::make_unique<Background>([&work] { convert_batch_units(&work); }));
        }
    }
    size_t converted = 0;
    for (size_t index = 0; index < plan.units.size(); ++index) {
        std::unique_ptr<UnitOutcome> done;
        {
            std::unique_lock<std::mutex> hold(work.lock);
            work.finished.wait(hold, [&] { return work.outcomes[index] != nullptr; });
            done = std::move(work.outcomes[index]);
        }
        const UnitOutcome& outcome = *done;
        const PlannedUnit& unit = plan.units[index];
        if (options.quiet) {
            print_unit_line(unit, outcome);
        } else {
            std::printf("\n%s -> %s\n", unit.path.c_str(), options.sound ? unit.sound.c_str() : unit.base.c_str());
            pass_messages(outcome.report);
        }
        converted += outcome.status == EXIT_OK;
    }
    if (!options.quiet) std::printf("\nConverted %zu of %zu work units.\n", converted, plan.units.size());
    return converted == plan.units.size() ? EXIT_OK : EXIT_FAILED;
}

void print_usage() {
    std::printf(
        "Usage: okrelt [-q] [-o FOLDER] [--files-from LIST] [--sigmf] [--iq-wav] [--no-sound]\n"
        "              [--sky-order] [WORK_UNIT...]\n"
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
        "      --sigmf             also a SigMF recording: NAME.sigmf-data (complex\n"
        "                          32-bit floats, the client's own levels) and\n"
        "                          NAME.sigmf-meta (rate, frequency, time, place)\n"
        "      --iq-wav            also an I/Q WAV for SDR programs (16-bit stereo,\n"
        "                          I left, Q right): NAME_<centre>Hz_IQ.wav\n"
        "      --no-sound          no sound file\n"
        "      --sky-order         pitch rises with sky frequency: the sub-band's\n"
        "                          lowest frequency at 0 Hz, its centre at a quarter\n"
        "                          of the sound's rate (default: bin order, the\n"
        "                          upper half from 0 Hz, the lower half above it)\n"
        "  -h, --help              this text\n"
        "  -V, --version           the version and the transform's code path here\n"
        "\n"
        "Exit status: 0 if everything converted, 1 if anything failed, 2 for a bad\n"
        "command line.\n");
}

enum OkreltOption {
    OPTION_HELP, OPTION_VERSION, OPTION_QUIET, OPTION_OUTPUT, OPTION_FILES_FROM, OPTION_SIGMF, OPTION_IQ_WAV,
    OPTION_NO_SOUND, OPTION_SKY_ORDER
};

const std::vector<OptionSpec> OKRELT_OPTIONS = {
    {OPTION_HELP, 'h', "help", 0},       {OPTION_VERSION, 'V', "version", 0},
    {OPTION_QUIET, 'q', "quiet", 0},     {OPTION_OUTPUT, 'o', "output", 1},
    {OPTION_FILES_FROM, 'T', "files-from", 1}, {OPTION_SIGMF, 0, "sigmf", 0},
    {OPTION_IQ_WAV, 0, "iq-wav", 0},     {OPTION_NO_SOUND, 0, "no-sound", 0},
    {OPTION_SKY_ORDER, 0, "sky-order", 0},
};

// The run the options ask for, before standard output is checked.
int run_options(int argc, char** argv) {
    ParsedCommandLine line;
    if (parse_command_line(PROGRAM, argc, argv, OKRELT_OPTIONS, &line) != 0) return EXIT_USAGE;
    UnitOptions options;
    options.units = line.operands;
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
                options.folder = use.value[0];
                break;
            case OPTION_FILES_FROM:
                if (read_unit_list(use.value[0], &options.units) != EXIT_OK) return EXIT_FAILED;
                break;
            case OPTION_SIGMF:
                options.sigmf = true;
                break;
            case OPTION_IQ_WAV:
                options.iq_wav = true;
                break;
            case OPTION_NO_SOUND:
                options.sound = false;
                break;
            case OPTION_SKY_ORDER:
                options.order = SOUND_SKY_ORDER;
                break;
        }
    }
    if (options.units.empty()) return usage_error(PROGRAM, "no work unit named");
    return run_units(options);
}

}  // namespace

int run_program() {
    print_banner();
    int32_t count = 0;
    WorkUnitInfo info;
    SoundFormat sound;
    sound.team = spare_processor();
    if (convert_unit_alone(WORK_UNIT_FILE_NAME, sound, ExportRequest{}, &info, &count) != EXIT_OK) return EXIT_FAILED;
    std::printf("Press Enter (the biggest key ;-) to quit.\n\n");
    print_web_sites();
    std::fflush(stdout);
    std::getchar();
    return EXIT_OK;
}

int run_command_line(int argc, char** argv) {
    exit_on_out_of_memory(PROGRAM);
    const int status = argc <= 1 ? run_program() : run_options(argc, argv);
    // Output that could not be written is a failure, whatever else went well.
    return check_standard_output(PROGRAM) != 0 ? EXIT_FAILED : status;
}

}  // namespace okrelt
