// WAV output header: the fixed 44-byte RIFF/WAVE header of an 8-bit mono PCM
// file, at OUTPUT_RATE samples per second unless the work unit says otherwise.
#pragma once

#include <cstdint>
#include <cstdio>

namespace okrelt {

constexpr uint32_t OUTPUT_RATE = 19531;   // twice the classic sub-band rate of 9765.625 Hz
constexpr int WAV_HEADER_BYTES = 44;

// Makes the header for data_bytes sample bytes to follow at rate samples
// per second, little-endian whatever the host: RIFF head, "WAVE", fmt
// chunk, data head.
void make_wav_header(uint8_t header[WAV_HEADER_BYTES], uint32_t data_bytes, uint32_t rate = OUTPUT_RATE);

// The same header for any PCM layout: channels interleaved, each sample
// bits_per_sample wide (a multiple of 8).
void make_pcm_wav_header(uint8_t header[WAV_HEADER_BYTES], uint32_t data_bytes, uint32_t rate, uint16_t channels,
                         uint16_t bits_per_sample);

// Writes make_wav_header's header to the stream. Results of the write are
// left to the caller's check of the stream.
void write_wav_header(std::FILE* file, uint32_t data_bytes, uint32_t rate = OUTPUT_RATE);

// Writes make_pcm_wav_header's header to the stream, likewise.
void write_pcm_wav_header(std::FILE* file, uint32_t data_bytes, uint32_t rate, uint16_t channels,
                          uint16_t bits_per_sample);

}  // namespace okrelt
