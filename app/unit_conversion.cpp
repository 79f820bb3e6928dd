#include "app/unit_conversion.h"

#include <exception>
#include <memory>

#include "audio/converter.h"
#include "common/background.h"
#include "common/messages.h"
#include "common/output_file.h"
#include "export/recording.h"

namespace okrelt {

static_assert(DEFAULT_SOUND_RATE == OUTPUT_RATE, "a classic unit plays at the sound file's usual rate");

namespace {

int convert_unit_steps(const char* unit_path, const UnitRequest& request, UnitResult* result) {
    SampleStreams streams;
    WorkUnitInfo* info = &result->info;
    if (load_work_unit(unit_path, &streams, info) != 0) return 1;
    tell(MESSAGE_NOTE, "Samples decoded: %d\n", streams.count);
    if (streams.count < MIN_CONVERT_SAMPLES) {
        tell(MESSAGE_PROBLEM, "Quite few samples decoded. I wont bother converting those.\n");
        return 1;
    }
    tell(MESSAGE_NOTE, "Converting...\n");
    const bool exporting = !request.sigmf_base.empty() || !request.iq_wav.empty();
    OutputFile sound_file;
    SoundFormat format;
    format.path = request.sound.empty() ? nullptr : request.sound.c_str();
    format.label = request.sound_label.c_str();
    format.rate = info->sound_rate;
    // The exports' writer would take the processor the team counts on.
    format.team = request.team && !exporting;
    format.levels = streams.levels;
    format.order = request.order;
    format.finished = &sound_file;
    Recording recording;
    recording.sigmf_base = request.sigmf_base;
    recording.iq_wav_path = request.iq_wav;
    open_recording(&recording);
    // The exports' samples and hash cost about as much as the sound: they
    // are written beside it rather than after it.
    std::unique_ptr<Background> writing;
    if (exporting) writing = std::make_unique<Background>([&] { write_recording_samples(streams, *info, &recording); });
    SoundResult sound;
    const int status = convert_to_sound_file(streams.in_phase, streams.quadrature, streams.count, format, &sound);
    writing.reset();
    result->factor = sound.rfi_factor;
    const RecordingFindings findings{result->factor, sound.place};
    if (status != 0 || finish_recording(&recording, streams.count, *info, request.unit_name, findings) != 0) {
        tell(MESSAGE_NOTE, "Conversion failed.\n");
        return 1;
    }
    std::vector<OutputFile*> outputs;
    if (format.path != nullptr) outputs.push_back(&sound_file);
    recording_outputs(&recording, &outputs);
    const OutputFile* failed = nullptr;
    const int error = publish_outputs(outputs.data(), outputs.size(), &failed);
    if (error != 0) {
        tell(MESSAGE_ERROR, "Error writing %s: %s\n", failed->path.c_str(), describe_output_error(error));
        tell(MESSAGE_NOTE, "Conversion failed.\n");
        return 1;
    }
    for (const OutputFile* output : outputs) result->written.push_back(output->path);
    result->count = streams.count;
    return 0;
}

}  // namespace

int convert_unit(const char* unit_path, const UnitRequest& request, UnitResult* result) {
    // Anything thrown fails this unit alone, with a message; its temporary
    // files go with their owners.
    try {
        return convert_unit_steps(unit_path, request, result);
    } catch (const std::exception& error) {
        tell(MESSAGE_PROBLEM, "Conversion failed: %s\n", error.what());
    }
    return 1;
}

}  // namespace okrelt
