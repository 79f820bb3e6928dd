#include "app/batch.h"

#include <sys/stat.h>

#include <algorithm>
#include <condition_variable>
#include <cstdio>
#include <memory>
#include <mutex>
#include <unordered_map>
#include <utility>

#include "app/banner.h"
#include "app/unit_conversion.h"
#include "audio/converter.h"
#include "common/background.h"
#include "common/file_names.h"
#include "common/messages.h"
#include "common/output_file.h"
#include "common/release_thread.h"
#include "common/output_plan.h"
#include "export/recording.h"
#include "report/rfi.h"
#include "workunit/reader.h"

namespace okrelt {

namespace {

constexpr size_t MAX_BATCH_THREADS = 8;

// A unit of the batch and what it is turned into.
struct PlannedUnit {
    std::string path;
    std::string base;   // FOLDER/NAME, NAME being the unit's name without .sah or .wu
    UnitRequest request;
};

// The I/Q WAV's name, which the header completes: read here, before any unit
// is converted, so that which of two colliding names is refused never
// depends on timing. Empty where the unit cannot be read (it fails later).
std::string planned_iq_wav(const std::string& unit_path, const std::string& base) {
    std::string dropped;
    MessageSink quiet = last_problem_sink(&dropped);
    const ScopedMessageSink silence(&quiet);
    WorkUnitInfo info;
    if (load_work_unit(unit_path.c_str(), nullptr, &info) != 0) return std::string();
    return iq_wav_name(base, info);
}

// Adds the unit's file and, for a BOINC soft link, the unit it names to the inputs.
void plan_unit_input(OutputPlan* plan, const std::string& unit) {
    plan_input(plan, unit);
    std::string target;
    if (linked_unit_path(unit.c_str(), &target)) plan_input(plan, target);
}

// The files of every unit, checked against every input and output before
// anything is written. The same file named twice is converted once. 0, or 1
// after saying why.
int plan_batch(const BatchOptions& options, std::vector<PlannedUnit>* units) {
    const char* program = program_name();
    struct stat folder {};
    if (stat(options.folder.c_str(), &folder) != 0) {
        tell_system_error((std::string(program) + ": " + quoted(options.folder)).c_str());
        return 1;
    }
    if (!S_ISDIR(folder.st_mode)) {
        tell(MessageKind::ERROR, "%s: %s is not a folder\n", program, quoted(options.folder).c_str());
        return 1;
    }
    OutputPlan plan;
    std::unordered_map<FileIdentity, std::string, FileIdentityHash> named;   // each unit's file, as first named
    for (const std::string& unit : options.units) {
        FileIdentity identity;
        if (file_identity(unit, &identity)) {
            const auto [earlier, fresh] = named.emplace(identity, unit);
            if (!fresh) {
                tell(MessageKind::ERROR, "%s: %s is the same file as %s; converted once\n", program, quoted(unit).c_str(),
                     quoted(earlier->second).c_str());
                continue;
            }
        }
        plan_unit_input(&plan, unit);
        PlannedUnit planned;
        planned.path = unit;
        planned.base = in_folder(options.folder, output_name(unit, ""));
        planned.request.sound_label = planned.base + ".wav";
        if (options.sound) planned.request.sound = planned.base + ".wav";
        if (options.sigmf) planned.request.sigmf_base = planned.base;
        planned.request.unit_name = output_name(unit, "");
        planned.request.order = options.order;
        planned.request.hits = options.hits;
        units->push_back(std::move(planned));
    }
    for (PlannedUnit& unit : *units) {
        if (options.iq_wav) unit.request.iq_wav = planned_iq_wav(unit.path, unit.base);
        std::vector<std::string> outputs;
        if (options.sound) outputs.push_back(unit.request.sound);
        if (options.sigmf) outputs.insert(outputs.end(), {unit.base + SIGMF_DATA_SUFFIX, unit.base + SIGMF_META_SUFFIX});
        if (!unit.request.iq_wav.empty()) outputs.push_back(unit.request.iq_wav);
        for (const std::string& output : outputs) {
            if (plan_output(&plan, output, unit.path) != 0) return 1;
        }
    }
    return 0;
}

// What converting one unit of a batch gave: its -q line's parts, or every
// message of its full report, kept until the units before it are printed.
struct UnitOutcome {
    int status = 1;
    UnitResult result;
    std::string reason;                 // -q: the last problem of a failed unit
    std::vector<KeptMessage> report;    // without -q: everything the conversion said
};

// The -q line of a unit: what was converted, on standard output, or why it
// failed, on standard error; both start with the unit's path, quoted where
// a script could misread it. Flushed, so that an interrupt loses no line due.
void print_unit_line(const PlannedUnit& unit, const UnitOutcome& outcome) {
    if (outcome.status != 0) {
        std::fflush(stdout);
        std::fprintf(stderr, "%s: %s\n", quoted(unit.path).c_str(),
                     outcome.reason.empty() ? "failed" : one_line(outcome.reason).c_str());
        return;
    }
    const UnitResult& result = outcome.result;
    std::printf("%s: %d samples, RFI %d %s ->", quoted(unit.path).c_str(), result.count, result.factor,
                rfi_grade(result.factor));
    for (size_t i = 0; i < result.written.size(); ++i) {
        std::printf("%s %s", i == 0 ? "" : ",", quoted(result.written[i]).c_str());
    }
    if (result.info.silent_samples > 0) {
        std::printf("; %d samples missing from the data played as silence", result.info.silent_samples);
    }
    std::printf("\n");
    std::fflush(stdout);
}

// Prints a unit's line or report.
void print_outcome(const BatchOptions& options, const PlannedUnit& unit, const UnitOutcome& outcome) {
    if (options.quiet) {
        print_unit_line(unit, outcome);
        return;
    }
    std::printf("\n%s -> %s\n", unit.path.c_str(), options.sound ? unit.request.sound.c_str() : unit.base.c_str());
    pass_messages(outcome.report);
}

// Converts one unit of the batch in the thread's workspace, keeping what it
// says in *outcome; alone when no other unit is converted meanwhile.
void convert_planned_unit(const BatchOptions& options, const PlannedUnit& unit, bool alone, UnitWorkspace* workspace,
                          UnitOutcome* outcome) {
    UnitRequest request = unit.request;
    request.team = alone && usable_processors() > 1;
    MessageSink kept = options.quiet ? last_problem_sink(&outcome->reason) : keeping_sink(&outcome->report);
    const ScopedMessageSink keeping(&kept);
    outcome->status = convert_unit(unit.path.c_str(), request, workspace, &outcome->result);
}

// Puts a converted unit's files in place and prints its line or report, as
// one step an interrupt waits for: a unit whose files are in place has its
// line printed. Units are published in the order named; replaced files go
// to releasing, where it is not null.
void publish_and_print(const BatchOptions& options, const PlannedUnit& unit, ReleaseThread* releasing,
                       UnitOutcome* outcome) {
    const InterruptHold hold;
    if (outcome->status == 0) {
        MessageSink kept = options.quiet ? last_problem_sink(&outcome->reason) : keeping_sink(&outcome->report);
        const ScopedMessageSink keeping(&kept);
        outcome->status = publish_unit(&outcome->result, releasing);
    }
    print_outcome(options, unit, *outcome);
}

// Units handed out to the converting threads, and their outcomes, published
// and printed in the batch's order as they complete. An outcome lives only
// from its unit's end to its printing, so an archive's batch holds a pointer
// a unit; a thread takes a unit at most `ahead` places past the one printed
// next, so that finished files waiting for their turn stay few.
struct BatchWork {
    const BatchOptions* options;
    const std::vector<PlannedUnit>* units;
    std::vector<std::unique_ptr<UnitOutcome>> outcomes;
    size_t ahead = 0;
    size_t next = 0;
    size_t printed = 0;
    std::mutex lock;
    std::condition_variable finished;
    std::condition_variable room;
};

// A converting thread: takes the next unit until none is left. The printing
// thread alone waits for outcomes, and is woken once the lock is let go.
void convert_batch_units(BatchWork* work) {
    UnitWorkspace workspace;
    for (;;) {
        size_t index = 0;
        {
            std::unique_lock<std::mutex> hold(work->lock);
            work->room.wait(hold, [work] {
                return work->next == work->units->size() || work->next < work->printed + work->ahead;
            });
            if (work->next == work->units->size()) return;
            index = work->next++;
        }
        auto outcome = std::make_unique<UnitOutcome>();
        convert_planned_unit(*work->options, (*work->units)[index], false, &workspace, outcome.get());
        {
            const std::lock_guard<std::mutex> hold(work->lock);
            work->outcomes[index] = std::move(outcome);
        }
        work->finished.notify_one();
    }
}

}  // namespace

int run_batch(const BatchOptions& options) {
    std::vector<PlannedUnit> units;
    if (plan_batch(options, &units) != 0) return 1;
    if (!options.quiet) print_banner();
    // One for each processor, within limits, since each holds about 10 MiB.
    const size_t thread_count = std::min({usable_processors(), MAX_BATCH_THREADS, units.size()});
    size_t converted = 0;
    if (thread_count <= 1) {
        // One unit, or one processor: each is printed as soon as it is done.
        UnitWorkspace workspace;
        for (const PlannedUnit& unit : units) {
            UnitOutcome outcome;
            convert_planned_unit(options, unit, true, &workspace, &outcome);
            publish_and_print(options, unit, nullptr, &outcome);
            converted += outcome.status == 0;
        }
    } else {
        // Declared before the converting threads, so that it ends after them.
        const ReleaseThreadPtr releasing = start_release_thread();
        BatchWork work{&options, &units, std::vector<std::unique_ptr<UnitOutcome>>(units.size()), 2 * thread_count,
                       0, 0, {}, {}, {}};
        std::vector<std::unique_ptr<Background>> threads;
        for (size_t t = 0; t < thread_count; ++t) {
            threads.push_back(std::make_unique<Background>([&work] { convert_batch_units(&work); }));
        }
        for (size_t index = 0; index < units.size(); ++index) {
            std::unique_ptr<UnitOutcome> done;
            {
                std::unique_lock<std::mutex> hold(work.lock);
                work.finished.wait(hold, [&] { return work.outcomes[index] != nullptr; });
                done = std::move(work.outcomes[index]);
            }
            publish_and_print(options, units[index], releasing.get(), done.get());
            converted += done->status == 0;
            {
                const std::lock_guard<std::mutex> hold(work.lock);
                work.printed = index + 1;
            }
            work.room.notify_all();
        }
    }
    if (!options.quiet) std::printf("\nConverted %zu of %zu work units.\n", converted, units.size());
    return converted == units.size() ? 0 : 1;
}

int convert_classic_unit() {
    OutputPlan plan;
    plan_unit_input(&plan, WORK_UNIT_FILE_NAME);
    if (plan_output(&plan, SOUND_FILE_NAME, WORK_UNIT_FILE_NAME) != 0) return 1;
    UnitRequest request;
    request.sound = SOUND_FILE_NAME;
    request.sound_label = "outfile";
    request.team = usable_processors() > 1;
    UnitWorkspace workspace;
    UnitResult result;
    if (convert_unit(WORK_UNIT_FILE_NAME, request, &workspace, &result) != 0) return 1;
    return publish_unit(&result, nullptr);
}

}  // namespace okrelt
