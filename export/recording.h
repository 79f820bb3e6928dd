// Exports of a work unit's recording for radio software: a SigMF recording
// (NAME.sigmf-data, complex 32-bit floats, and NAME.sigmf-meta, its JSON
// metadata) and an I/Q WAV (16-bit stereo, I left, Q right) as SDR programs
// play back. The samples are the client's own levels: +-1 for classic and
// 2-bit units, +-1 and +-3.335875 for 4-bit ones, 0 where played as silence.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "common/output_file.h"
#include "report/rfi.h"
#include "workunit/reader.h"

namespace okrelt {

constexpr const char* SIGMF_DATA_SUFFIX = ".sigmf-data";
constexpr const char* SIGMF_META_SUFFIX = ".sigmf-meta";
constexpr const char* SIGMF_VERSION = "1.2.5";
constexpr const char* SIGMF_NAMESPACE = "okrelt";     // our own keys, declared in core:extensions
constexpr double IQ_WAV_SCALE = 8192.0;                // 4-bit outer levels stay far from 16-bit clipping
constexpr double CLIENT_LEVEL_SCALE = 2.0;             // okrelt halves the client's 4-bit levels

// A drifting tone the search found, as an annotation marks it: the samples
// its path covers and the frequencies it sweeps, as offsets from the centre.
struct HitMark {
    int rank = 0;                 // 1: the strongest
    int64_t sample_start = 0;
    int64_t sample_count = 0;
    double lower_offset_hz = 0.0;
    double upper_offset_hz = 0.0;
    double snr = 0.0;
    double drift_hz_s = 0.0;
};

// What the conversion (and the search, where asked) found, for the metadata.
struct RecordingFindings {
    int32_t rfi_factor = 0;
    PeakPlace peak;
    std::vector<HitMark> hits;
};

// The client's value of a stored sample byte (see SampleStreams).
inline double client_value(int8_t stored, const double* levels) {
    return levels == nullptr ? stored : CLIENT_LEVEL_SCALE * stored_value(stored, levels);
}

// The I/Q WAV's name in folder for a unit: its name, the centre frequency in
// whole hertz where known and in range, "_IQ.wav" (SDR programs find "<digits>Hz").
std::string iq_wav_name(const std::string& base, const WorkUnitInfo& info);

// A unit's exports on their way: the files asked for, open while the
// samples are written, and what went wrong where.
struct Recording {
    std::string sigmf_base;     // FOLDER/NAME of the SigMF pair; empty: none
    std::string iq_wav_path;    // the I/Q WAV; empty: none
    OutputFile data;            // the SigMF data
    OutputFile meta;            // its metadata, once written
    OutputFile iq_wav;
    std::string sha512;         // of the data, in hex, once written
    int data_error = 0;         // an error number, as open_output gives them
    int iq_wav_error = 0;
};

// Opens the temporary files of the exports asked for; errors are kept for
// finish_recording. Call on the thread that commits.
void open_recording(Recording* recording);

// Writes the samples into the open files and hashes the SigMF data. Prints
// nothing and touches no shared state, so it may run beside the conversion.
void write_recording_samples(const SampleStreams& streams, const WorkUnitInfo& info, Recording* recording);

// Writes the metadata and finishes every export (flushed, closed, checked)
// without putting any in place: the caller publishes them with the unit's
// other outputs. unit_name names the unit in the metadata. 0, or 1 after a
// message naming the file that failed.
[[nodiscard]] int finish_recording(Recording* recording, int32_t count, const WorkUnitInfo& info,
                                   const std::string& unit_name, const RecordingFindings& findings);

// The finished exports, in the order they are to be published (each SigMF
// data file before its metadata), appended to *outputs.
void recording_outputs(Recording* recording, std::vector<OutputFile*>* outputs);

}  // namespace okrelt
