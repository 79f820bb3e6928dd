// Work-unit reader: decodes a SETI@home work unit into two sample streams.
// Two formats exist: the classic one (key=value header lines ending with
// "end_seti_header", three 1-bit complex samples per character) and the later,
// XML-wrapped one (<workunit> ... <data encoding="x-setiathome">, 2 or 4 bits
// per complex sample, 3 bytes per 4 characters). BOINC slot folders may hold a
// one-line <soft_link> file instead of the unit itself.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>

#include "common/memory.h"
#include "common/sample_levels.h"
#include "common/stdio_file.h"

namespace okrelt {

constexpr const char* WORK_UNIT_FILE_NAME = "work_unit.sah";
constexpr int32_t DEFAULT_NSAMPLES = 1048576;
constexpr int SPARE_SAMPLES = 8;                 // room past the capacity for the decoders' whole copies
constexpr double DEFAULT_SUBBAND_RATE = 9765.625;   // complex samples per second of a classic unit
constexpr uint32_t DEFAULT_SOUND_RATE = 19531;   // twice that, rounded: two sound samples per sample
constexpr uint32_t MIN_SOUND_RATE = 1000;        // sound rates a later unit may ask for
constexpr uint32_t MAX_SOUND_RATE = 384000;

// Levels of the later format's 4-bit codes, indexed as common/sample_levels.h
// says: codes -2, -1, 1, 2 and 0 for silence.
extern const double FOUR_BIT_LEVELS[LEVEL_TABLE_SIZE];

// The decoded work unit: sample k is in_phase[k] + i * quadrature[k], each
// stored byte being the value itself (+1, -1, 0 for silence) or, with levels,
// a code that stands for levels[code & LEVEL_INDEX_MASK]. Both arrays lie in
// one mapping, quadrature a cache line after in_phase's spare bytes, so that
// a usual unit's two fill one huge page.
struct SampleStreams {
    MappedMemory storage;
    int8_t* in_phase = nullptr;
    int8_t* quadrature = nullptr;
    int32_t count = 0;                 // samples decoded
    int32_t capacity = 0;              // samples each array can hold beyond the spare bytes
    const double* levels = nullptr;
};

// A receiver's place on the Earth.
struct Geolocation {
    double longitude = 0.0;           // degrees east
    double latitude = 0.0;            // degrees north
    std::optional<double> altitude;   // metres
};

// What the header says about the recording, each value checked as it is
// read: a field the header lacks, or gives out of range, is empty.
struct WorkUnitInfo {
    bool later_format = false;
    int bits_per_sample = 2;                 // per complex sample
    double subband_rate = DEFAULT_SUBBAND_RATE;
    bool subband_rate_known = false;         // false: the default above
    uint32_t sound_rate = DEFAULT_SOUND_RATE;   // twice the sub-band rate, rounded
    std::string name;
    std::string time_recorded;                  // as the header writes it
    std::optional<double> time_recorded_jd;     // Julian date of the first sample
    std::optional<double> center_hz;            // sky frequency of the sub-band's centre
    std::optional<double> start_ra_hours;       // where the telescope pointed (J2000), at the start
    std::optional<double> start_dec_degrees;
    std::optional<double> end_ra_hours;         // and at the end
    std::optional<double> end_dec_degrees;
    std::string receiver;                       // <receiver_cfg><name>, e.g. "ao_1420"
    std::optional<Geolocation> geolocation;     // the receiver's place
    std::string tape_name;                      // <tape_info><name>
    int32_t silent_samples = 0;              // samples missing from the data, played as silence
    int32_t first_silent_sample = -1;        // the first of them; all silent ones lie from here to the end
};

// Reads a classic work unit from an open text stream at its start. Prints the
// header echo and any message itself; 0 with streams filled, 1 on failure.
[[nodiscard]] int read_work_unit(std::FILE* file, SampleStreams* streams);

// Reads a work unit of either format, or the unit a soft-link file names, from
// an open stream at its start; path names it in messages and anchors a link's
// relative path. Prints what it found and any message itself; 0 with streams
// and info filled, 1 on failure. Null streams: the header alone is read. The
// streams' arrays are reused where they are big enough, so one set serves a
// thread's units one after another.
[[nodiscard]] int read_any_work_unit(std::FILE* file, const char* path, SampleStreams* streams,
                                     WorkUnitInfo* info);

// Opens path (reporting "Error opening <path>" on failure) and reads it as
// read_any_work_unit does. 0 on success, 1 on failure.
[[nodiscard]] int load_work_unit(const char* path, SampleStreams* streams, WorkUnitInfo* info);

// Where path is a BOINC soft-link file, sets *target to the unit it names
// (relative to the link's folder) and returns true; false otherwise, with
// nothing printed.
bool linked_unit_path(const char* path, std::string* target);

}  // namespace okrelt
