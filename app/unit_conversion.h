// One work unit into its files: reading, the count check, the conversion
// into a sound file and the exports beside it, all published together once
// every one of them is finished, or none.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "audio/block_transform.h"
#include "common/memory.h"
#include "common/output_file.h"
#include "export/recording.h"
#include "workunit/reader.h"

namespace okrelt {

constexpr int32_t MIN_CONVERT_SAMPLES = 2 * BLOCK_SAMPLES;   // fewer are not worth a sound file

// The files a unit is turned into.
struct UnitRequest {
    std::string sound;         // the sound file; empty: none
    std::string sound_label;   // the sound file as messages name it
    std::string sigmf_base;    // FOLDER/NAME of a SigMF pair; empty: none
    std::string iq_wav;        // the I/Q WAV; empty: none
    std::string unit_name;     // the unit's file name, for the metadata
    SoundOrder order = SoundOrder::BIN;
    bool team = false;         // a second thread may share each block
    bool hits = false;         // the SigMF metadata marks the search's hits
};

// A converted unit's files, finished but not yet in place.
struct FinishedFiles {
    OutputFile sound;
    Recording recording;
};

// A converting thread's working arrays, kept from one unit to its next so
// that a batch sets them up once a thread rather than once a unit.
struct UnitWorkspace {
    SampleStreams streams;
    MappedMemory sound_arrays;
};

// What converting a unit gave.
struct UnitResult {
    WorkUnitInfo info;
    int32_t count = 0;                          // samples converted
    int32_t factor = 0;                         // the RFI factor
    std::unique_ptr<FinishedFiles> finished;    // from convert_unit until publish_unit
    std::vector<std::string> written;           // every file put in place, in the request's order
};

// Converts the unit at unit_path as request says, in workspace's arrays, with
// the usual report through the current message sink, and leaves its files
// finished in result->finished, none in place yet. 0, or 1 after saying why.
[[nodiscard]] int convert_unit(const char* unit_path, const UnitRequest& request, UnitWorkspace* workspace,
                               UnitResult* result);

// Puts a converted unit's files in place, together, the files they replace
// going to releasing where it is not null. 0, or 1 after saying which failed
// and why.
[[nodiscard]] int publish_unit(UnitResult* result, ReleaseThread* releasing);

}  // namespace okrelt
