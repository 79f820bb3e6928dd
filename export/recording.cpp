#include "export/recording.h"

#include <nettle/sha2.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "audio/wav_header.h"
#include "common/block_sizes.h"
#include "common/messages.h"
#include "common/numbers.h"
#include "common/output_file.h"
#include "common/sky.h"
#include "common/spectrum_axis.h"
#include "common/version.h"
#include "workunit/header_values.h"

namespace okrelt {

namespace {

using Json = nlohmann::ordered_json;   // keys in the order written, as people read them

constexpr int32_t CHUNK_SAMPLES = 1 << 14;          // samples converted and written at a time
constexpr int IQ_CHANNELS = 2;
constexpr int IQ_BITS = 16;
constexpr int BYTES_PER_IQ_FRAME = IQ_CHANNELS * IQ_BITS / 8;
constexpr const char* EXTENSION_VERSION = "1.0.0";

// Little-endian bytes of a float, whatever the host.
void put_f32_le(unsigned char* out, float value) {
    uint32_t bits = 0;
    static_assert(sizeof bits == sizeof value, "a float is 32 bits");
    std::memcpy(&bits, &value, sizeof bits);
    for (int b = 0; b < 4; ++b) out[b] = static_cast<unsigned char>(bits >> (8 * b));
}

void put_i16_le(unsigned char* out, int16_t value) {
    const auto bits = static_cast<uint16_t>(value);
    out[0] = static_cast<unsigned char>(bits & 0xffu);
    out[1] = static_cast<unsigned char>(bits >> 8);
}

void report_output_error(const std::string& path, int error) {
    tell(MessageKind::ERROR, "Error writing %s: %s\n", path.c_str(), describe_output_error(error));
}

constexpr int STORED_VALUES = 256;   // every byte a stream can hold

// The bytes a stored sample is written as, for each of the 256 stored
// values: a stream byte is one of a few codes, so each sample's conversion,
// rounding and byte order is a lookup, not a computation per sample.
template <size_t BYTES>
struct SampleBytes {
    unsigned char of[STORED_VALUES][BYTES];
};

SampleBytes<sizeof(float)> f32_bytes(const double* levels) {
    SampleBytes<sizeof(float)> table{};
    for (int stored = 0; stored < STORED_VALUES; ++stored) {
        put_f32_le(table.of[stored], static_cast<float>(client_value(static_cast<int8_t>(stored), levels)));
    }
    return table;
}

SampleBytes<IQ_BITS / 8> i16_bytes(const double* levels) {
    SampleBytes<IQ_BITS / 8> table{};
    for (int stored = 0; stored < STORED_VALUES; ++stored) {
        const double value = IQ_WAV_SCALE * client_value(static_cast<int8_t>(stored), levels);
        put_i16_le(table.of[stored], static_cast<int16_t>(std::lround(value)));
    }
    return table;
}

// Puts samples first .. first + n - 1 into chunk, I then Q, each as its
// table's bytes; returns the bytes put.
template <size_t BYTES>
size_t fill_chunk(const SampleStreams& streams, const SampleBytes<BYTES>& bytes_of, int32_t first, int32_t n,
                  unsigned char* chunk) {
    for (int32_t k = 0; k < n; ++k) {
        const auto at = static_cast<size_t>(first + k);
        unsigned char* sample = chunk + static_cast<size_t>(k) * 2 * BYTES;
        std::memcpy(sample, bytes_of.of[static_cast<uint8_t>(streams.in_phase[at])], BYTES);
        std::memcpy(sample + BYTES, bytes_of.of[static_cast<uint8_t>(streams.quadrature[at])], BYTES);
    }
    return static_cast<size_t>(n) * 2 * BYTES;
}

// Writes the samples as cf32_le and hashes them with SHA-512 as they go.
// 0 with hex set, or the error number.
int write_data(const SampleStreams& streams, std::FILE* out, std::string* hex) {
    const SampleBytes<sizeof(float)> bytes_of = f32_bytes(streams.levels);
    sha512_ctx digest{};
    sha512_init(&digest);
    constexpr size_t BYTES_PER_SAMPLE = 2 * sizeof(float);
    std::vector<unsigned char> chunk(static_cast<size_t>(CHUNK_SAMPLES) * BYTES_PER_SAMPLE);
    for (int32_t first = 0; first < streams.count; first += CHUNK_SAMPLES) {
        const size_t bytes =
            fill_chunk(streams, bytes_of, first, std::min(CHUNK_SAMPLES, streams.count - first), chunk.data());
        sha512_update(&digest, bytes, chunk.data());
        errno = 0;   // the write's reason, if it fails
        if (std::fwrite(chunk.data(), 1, bytes, out) != bytes) return errno != 0 ? errno : EIO;
    }
    unsigned char sum[SHA512_DIGEST_SIZE];
    sha512_digest(&digest, sizeof sum, sum);
    static const char HEX[] = "0123456789abcdef";
    hex->clear();
    for (unsigned char byte : sum) {
        *hex += HEX[byte >> 4];
        *hex += HEX[byte & 0xf];
    }
    return 0;
}

// Writes the I/Q WAV's header and frames. 0, or the error number.
int write_iq_frames(const SampleStreams& streams, const WorkUnitInfo& info, std::FILE* out) {
    const auto rate = static_cast<uint32_t>(std::llround(info.subband_rate));
    // Sized in 64 bits: a crafted unit's count times 4 passes 32.
    const uint64_t data_bytes = uint64_t{static_cast<uint32_t>(streams.count)} * BYTES_PER_IQ_FRAME;
    const int header_error = write_pcm_wav_header(out, data_bytes, rate, IQ_CHANNELS, IQ_BITS);
    if (header_error != 0) return header_error;
    const SampleBytes<IQ_BITS / 8> bytes_of = i16_bytes(streams.levels);
    std::vector<unsigned char> chunk(static_cast<size_t>(CHUNK_SAMPLES) * BYTES_PER_IQ_FRAME);
    for (int32_t first = 0; first < streams.count; first += CHUNK_SAMPLES) {
        const size_t bytes =
            fill_chunk(streams, bytes_of, first, std::min(CHUNK_SAMPLES, streams.count - first), chunk.data());
        errno = 0;   // the write's reason, if it fails
        if (std::fwrite(chunk.data(), 1, bytes, out) != bytes) return errno != 0 ? errno : EIO;
    }
    return 0;
}

// A header text as a number, or nothing where it is missing or not one.
void put_number(Json* object, const char* key, const std::optional<double>& value) {
    if (value) (*object)[key] = *value;
}

Json metadata(const WorkUnitInfo& info, const std::string& unit_name, const RecordingFindings& findings,
              int32_t count, const std::string& sha512) {
    Json global;
    global["core:datatype"] = "cf32_le";
    global["core:version"] = SIGMF_VERSION;
    global["core:sample_rate"] = info.subband_rate;
    global["core:num_channels"] = 1;
    global["core:description"] = "SETI@home work unit " + unit_name + ": " + std::to_string(info.bits_per_sample) +
                                 "-bit complex samples of one sub-band, decoded by okrelt";
    global["core:recorder"] = std::string("okrelt ") + OKRELT_VERSION;
    if (!info.receiver.empty()) global["core:hw"] = info.receiver;
    global["core:sha512"] = sha512;
    global["core:extensions"] = Json::array({{{"name", SIGMF_NAMESPACE}, {"version", EXTENSION_VERSION}, {"optional", true}}});
    global["okrelt:workunit_name"] = info.name.empty() ? unit_name : info.name;
    global["okrelt:bits_per_sample"] = info.bits_per_sample;
    put_number(&global, "okrelt:start_ra_hours", info.start_ra_hours);
    put_number(&global, "okrelt:start_dec_degrees", info.start_dec_degrees);
    put_number(&global, "okrelt:end_ra_hours", info.end_ra_hours);
    put_number(&global, "okrelt:end_dec_degrees", info.end_dec_degrees);
    put_number(&global, "okrelt:time_recorded_jd", info.time_recorded_jd);
    if (!info.tape_name.empty()) global["okrelt:tape_name"] = info.tape_name;
    global["okrelt:rfi_factor"] = findings.rfi_factor;
    global["okrelt:rfi_grade"] = rfi_grade(findings.rfi_factor);

    Json capture;
    capture["core:sample_start"] = 0;
    put_number(&capture, "core:frequency", info.center_hz);
    if (info.time_recorded_jd) capture["core:datetime"] = rfc3339_of_julian_date(*info.time_recorded_jd);
    if (info.geolocation) {
        Json coordinates = Json::array({info.geolocation->longitude, info.geolocation->latitude});
        if (info.geolocation->altitude) coordinates.push_back(*info.geolocation->altitude);
        capture["core:geolocation"] = {{"type", "Point"}, {"coordinates", coordinates}};
    }

    Json annotations = Json::array();
    if (findings.peak.block >= 0) {
        Json peak;
        peak["core:sample_start"] = static_cast<int64_t>(findings.peak.block) * BLOCK_SAMPLES;
        peak["core:sample_count"] = BLOCK_SAMPLES;
        if (info.center_hz) {
            // The bin's edges: half a bin either side of its frequency.
            const double bin_width = bin_width_hz(info.subband_rate, BLOCK_SAMPLES);
            const double centre = *info.center_hz + transform_bin_hz(findings.peak.bin, BLOCK_SAMPLES, info.subband_rate);
            peak["core:freq_lower_edge"] = centre - bin_width / 2.0;
            peak["core:freq_upper_edge"] = centre + bin_width / 2.0;
        }
        peak["core:label"] = "RFI " + std::to_string(findings.rfi_factor) + " " + rfi_grade(findings.rfi_factor);
        peak["core:generator"] = "okrelt";
        annotations.push_back(peak);
    }
    for (const HitMark& hit : findings.hits) {
        Json mark;
        mark["core:sample_start"] = hit.sample_start;
        mark["core:sample_count"] = hit.sample_count;
        if (info.center_hz) {
            mark["core:freq_lower_edge"] = *info.center_hz + hit.lower_offset_hz;
            mark["core:freq_upper_edge"] = *info.center_hz + hit.upper_offset_hz;
        }
        char label[64];
        std::snprintf(label, sizeof label, "hit %d: SNR %.1f, %+.2f Hz/s", hit.rank, hit.snr, hit.drift_hz_s);
        mark["core:label"] = label;
        mark["core:generator"] = "okrelt";
        mark["okrelt:snr"] = hit.snr;
        mark["okrelt:drift_hz_s"] = hit.drift_hz_s;
        annotations.push_back(mark);
    }
    if (info.silent_samples > 0 && info.first_silent_sample >= 0) {
        Json silence;
        silence["core:sample_start"] = info.first_silent_sample;
        silence["core:sample_count"] = count - info.first_silent_sample;
        silence["core:label"] = "silence";
        silence["core:comment"] = std::to_string(info.silent_samples) +
                                  " samples missing from the work unit's data, played as silence (0)";
        silence["core:generator"] = "okrelt";
        annotations.push_back(silence);
    }
    // Readers expect annotations in the order of their first samples.
    std::stable_sort(annotations.begin(), annotations.end(), [](const Json& a, const Json& b) {
        return a["core:sample_start"].get<int64_t>() < b["core:sample_start"].get<int64_t>();
    });
    return Json{{"global", global}, {"captures", Json::array({capture})}, {"annotations", annotations}};
}

}  // namespace

std::string iq_wav_name(const std::string& base, const WorkUnitInfo& info) {
    // A frequency out of range is no name's: its whole hertz may not fit 64 bits.
    if (!info.center_hz || !plausible_center_hz(*info.center_hz)) return base + "_IQ.wav";
    return base + "_" + std::to_string(std::llround(*info.center_hz)) + "Hz_IQ.wav";
}

void open_recording(Recording* recording) {
    if (!recording->sigmf_base.empty()) {
        recording->data_error = open_output(recording->sigmf_base + SIGMF_DATA_SUFFIX, &recording->data);
    }
    if (!recording->iq_wav_path.empty()) recording->iq_wav_error = open_output(recording->iq_wav_path, &recording->iq_wav);
}

void write_recording_samples(const SampleStreams& streams, const WorkUnitInfo& info, Recording* recording) {
    if (recording->data.file && recording->data_error == 0) {
        recording->data_error = write_data(streams, recording->data.file.get(), &recording->sha512);
    }
    if (recording->iq_wav.file && recording->iq_wav_error == 0) {
        recording->iq_wav_error = write_iq_frames(streams, info, recording->iq_wav.file.get());
    }
}

int finish_recording(Recording* recording, int32_t count, const WorkUnitInfo& info, const std::string& unit_name,
                     const RecordingFindings& findings) {
    if (!recording->sigmf_base.empty()) {
        const std::string data_path = recording->sigmf_base + SIGMF_DATA_SUFFIX;
        const std::string meta_path = recording->sigmf_base + SIGMF_META_SUFFIX;
        int error = recording->data_error;
        if (error == 0) error = finish_output(&recording->data);
        if (error != 0) {
            report_output_error(data_path, error);
            return 1;
        }
        // Names and header text that are no UTF-8 go in with U+FFFD, rather than
        // make the dump throw.
        const std::string text =
            metadata(info, unit_name, findings, count, recording->sha512).dump(2, ' ', false, Json::error_handler_t::replace) +
            "\n";
        error = open_output(meta_path, &recording->meta);
        errno = 0;   // the write's reason, if it fails
        if (error == 0 && std::fwrite(text.data(), 1, text.size(), recording->meta.file.get()) != text.size()) {
            error = errno != 0 ? errno : EIO;
        }
        if (error == 0) error = finish_output(&recording->meta);
        if (error != 0) {
            report_output_error(meta_path, error);
            return 1;
        }
    }
    if (!recording->iq_wav_path.empty()) {
        int error = recording->iq_wav_error;
        if (error == 0) error = finish_output(&recording->iq_wav);
        if (error != 0) {
            report_output_error(recording->iq_wav_path, error);
            return 1;
        }
    }
    return 0;
}

void recording_outputs(Recording* recording, std::vector<OutputFile*>* outputs) {
    // The data before its metadata: whoever reads a new metadata file finds its data there.
    if (!recording->sigmf_base.empty()) outputs->insert(outputs->end(), {&recording->data, &recording->meta});
    if (!recording->iq_wav_path.empty()) outputs->push_back(&recording->iq_wav);
}

}  // namespace okrelt
