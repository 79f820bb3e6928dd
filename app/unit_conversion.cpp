#include "app/unit_conversion.h"

#include <algorithm>
#include <exception>
#include <memory>

#include "audio/converter.h"
#include "common/background.h"
#include "common/messages.h"
#include "common/output_file.h"
#include "export/recording.h"
#include "search/search.h"

namespace okrelt {

static_assert(DEFAULT_SOUND_RATE == OUTPUT_RATE, "a classic unit plays at the sound file's usual rate");

namespace {

// The search's hits as the metadata marks them: the samples of the rows each
// path covers, and the frequencies it sweeps there, half a bin either side.
std::vector<HitMark> hit_marks(const SearchResult& search) {
    std::vector<HitMark> marks;
    int rank = 0;
    for (const Hit& hit : search.hits) {
        HitMark mark;
        mark.rank = ++rank;
        mark.sample_start = static_cast<int64_t>(hit.first_row) * search.bins;
        mark.sample_count = static_cast<int64_t>(hit.last_row - hit.first_row + 1) * search.bins;
        const double start_s = hit.first_row * search.row_seconds;
        const double end_s = (hit.last_row + 1) * search.row_seconds;
        const double first_hz = hit.offset_hz + hit.drift_hz_s * start_s;
        const double last_hz = hit.offset_hz + hit.drift_hz_s * end_s;
        mark.lower_offset_hz = std::min(first_hz, last_hz) - search.bin_hz / 2.0;
        mark.upper_offset_hz = std::max(first_hz, last_hz) + search.bin_hz / 2.0;
        mark.snr = hit.snr;
        mark.drift_hz_s = hit.drift_hz_s;
        marks.push_back(mark);
    }
    return marks;
}

int convert_unit_steps(const char* unit_path, const UnitRequest& request, UnitWorkspace* workspace,
                       UnitResult* result) {
    SampleStreams& streams = workspace->streams;
    WorkUnitInfo* info = &result->info;
    if (load_work_unit(unit_path, &streams, info) != 0) return 1;
    tell(MessageKind::NOTE, "Samples decoded: %d\n", streams.count);
    if (streams.count < MIN_CONVERT_SAMPLES) {
        tell(MessageKind::PROBLEM, "Quite few samples decoded. I wont bother converting those.\n");
        return 1;
    }
    tell(MessageKind::NOTE, "Converting...\n");
    const bool exporting = !request.sigmf_base.empty() || !request.iq_wav.empty();
    result->finished = std::make_unique<FinishedFiles>();
    OutputFile& sound_file = result->finished->sound;
    SoundFormat format;
    format.path = request.sound.empty() ? nullptr : request.sound.c_str();
    format.label = request.sound_label.c_str();
    format.rate = info->sound_rate;
    // The exports' writer would take the processor the team counts on.
    format.team = request.team && !exporting;
    format.levels = streams.levels;
    format.order = request.order;
    format.finished = &sound_file;
    format.arrays = &workspace->sound_arrays;
    Recording& recording = result->finished->recording;
    recording.sigmf_base = request.sigmf_base;
    recording.iq_wav_path = request.iq_wav;
    open_recording(&recording);
    // The exports' samples and hash cost about as much as the sound: they
    // are written beside it rather than after it.
    std::unique_ptr<Background> writing;
    if (exporting) {
        writing = std::make_unique<Background>([&] { write_recording_samples(streams, *info, &recording); },
                                               Background::Placement::BESIDE_CALLER);
    }
    SoundResult sound;
    const int status = convert_to_sound_file(streams.in_phase, streams.quadrature, streams.count, format, &sound);
    writing.reset();
    result->factor = sound.rfi_factor;
    RecordingFindings findings{result->factor, sound.place, {}};
    if (status == 0 && request.hits && !request.sigmf_base.empty()) {
        SearchResult search;
        if (search_work_unit(streams, *info, SearchOptions{}, &search) != 0) {
            tell(MessageKind::NOTE, "Conversion failed.\n");
            return 1;
        }
        findings.hits = hit_marks(search);
    }
    if (status != 0 || finish_recording(&recording, streams.count, *info, request.unit_name, findings) != 0) {
        tell(MessageKind::NOTE, "Conversion failed.\n");
        return 1;
    }
    result->count = streams.count;
    return 0;
}

}  // namespace

int convert_unit(const char* unit_path, const UnitRequest& request, UnitWorkspace* workspace, UnitResult* result) {
    // Anything thrown fails this unit alone, with a message; its temporary
    // files go with their owners.
    try {
        return convert_unit_steps(unit_path, request, workspace, result);
    } catch (const std::exception& error) {
        tell(MessageKind::PROBLEM, "Conversion failed: %s\n", error.what());
    }
    return 1;
}

int publish_unit(UnitResult* result, ReleaseThread* releasing) {
    FinishedFiles* files = result->finished.get();
    std::vector<OutputFile*> outputs;
    if (files->sound.finished) outputs.push_back(&files->sound);
    recording_outputs(&files->recording, &outputs);
    const OutputFile* failed = nullptr;
    const int error = publish_outputs(outputs.data(), outputs.size(), releasing, &failed);
    if (error != 0) {
        tell(MessageKind::ERROR, "Error writing %s: %s\n", failed->path.c_str(), describe_output_error(error));
        tell(MessageKind::NOTE, "Conversion failed.\n");
        result->finished.reset();
        return 1;
    }
    for (const OutputFile* output : outputs) result->written.push_back(output->path);
    result->finished.reset();
    return 0;
}

}  // namespace okrelt
