// WAV output header: the fixed 44-byte RIFF/WAVE header of an 8-bit mono PCM
// file, at OUTPUT_RATE samples per second unless the work unit says otherwise.
// Its sizes are 32-bit fields: a header that cannot hold its sizes is
// refused, never wrapped.
#pragma once

#include <cstdint>
#include <cstdio>

namespace okrelt {

constexpr uint32_t OUTPUT_RATE = 19531;   // twice the classic sub-band rate of 9765.625 Hz
constexpr int WAV_HEADER_BYTES = 44;
// The RIFF size counts the data and 36 header bytes in 32 bits.
constexpr uint64_t WAV_MAX_DATA_BYTES = UINT32_MAX - (WAV_HEADER_BYTES - 8);

// Makes the header for data_bytes sample bytes to follow at rate samples
// per second, little-endian whatever the host: RIFF head, "WAVE", fmt
// chunk, data head. 0, or EFBIG (nothing made) above WAV_MAX_DATA_BYTES.
[[nodiscard]] int make_wav_header(uint8_t header[WAV_HEADER_BYTES], uint64_t data_bytes, uint32_t rate = OUTPUT_RATE);

// The same header for any PCM layout: channels interleaved, each sample
// bits_per_sample wide (a multiple of 8). 0, or EFBIG above
// WAV_MAX_DATA_BYTES, or EOVERFLOW where the bytes per second pass 32 bits.
[[nodiscard]] int make_pcm_wav_header(uint8_t header[WAV_HEADER_BYTES], uint64_t data_bytes, uint32_t rate,
                                      uint16_t channels, uint16_t bits_per_sample);

// Writes make_wav_header's header to the stream: its error, or 0 with the
// write's result left to the caller's check of the stream.
[[nodiscard]] int write_wav_header(std::FILE* file, uint64_t data_bytes, uint32_t rate = OUTPUT_RATE);

// Writes make_pcm_wav_header's header to the stream, likewise.
[[nodiscard]] int write_pcm_wav_header(std::FILE* file, uint64_t data_bytes, uint32_t rate, uint16_t channels,
                                       uint16_t bits_per_sample);

}  // namespace okrelt
