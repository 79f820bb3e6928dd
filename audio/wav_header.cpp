#include "audio/wav_header.h"

#include <cerrno>
#include <cstring>

namespace okrelt {

namespace {

constexpr uint32_t FMT_CHUNK_BYTES = 16;   // PCM format chunk body
constexpr uint16_t FORMAT_PCM = 1;
constexpr uint16_t MONO = 1;
constexpr uint16_t SOUND_BITS = 8;
constexpr int BITS_PER_BYTE = 8;
// Everything after the RIFF size field but the samples: "WAVE" (4),
// the fmt chunk head (8) and body (16), the data chunk head (8).
constexpr uint32_t RIFF_OVERHEAD = 4 + 8 + FMT_CHUNK_BYTES + 8;
constexpr int CHUNK_ID_BYTES = 4;
constexpr int RIFF_HEAD_BYTES = 8;
constexpr int FMT_CHUNK_HEAD_AND_BODY = 8 + FMT_CHUNK_BYTES;
constexpr int DATA_HEAD_BYTES = 8;
static_assert(RIFF_HEAD_BYTES + CHUNK_ID_BYTES + FMT_CHUNK_HEAD_AND_BODY + DATA_HEAD_BYTES == WAV_HEADER_BYTES,
              "the four parts make the whole header");

uint8_t* put_id(uint8_t* out, const char* id) {
    std::memcpy(out, id, CHUNK_ID_BYTES);
    return out + CHUNK_ID_BYTES;
}

uint8_t* put_u16_le(uint8_t* out, uint16_t value) {
    out[0] = static_cast<uint8_t>(value & 0xffu);
    out[1] = static_cast<uint8_t>(value >> 8);
    return out + 2;
}

uint8_t* put_u32_le(uint8_t* out, uint32_t value) {
    out[0] = static_cast<uint8_t>(value & 0xffu);
    out[1] = static_cast<uint8_t>((value >> 8) & 0xffu);
    out[2] = static_cast<uint8_t>((value >> 16) & 0xffu);
    out[3] = static_cast<uint8_t>(value >> 24);
    return out + 4;
}

}  // namespace

int make_wav_header(uint8_t header[WAV_HEADER_BYTES], uint64_t data_bytes, uint32_t rate) {
    return make_pcm_wav_header(header, data_bytes, rate, MONO, SOUND_BITS);
}

int make_pcm_wav_header(uint8_t header[WAV_HEADER_BYTES], uint64_t data_bytes, uint32_t rate, uint16_t channels,
                        uint16_t bits_per_sample) {
    static_assert(WAV_MAX_DATA_BYTES + RIFF_OVERHEAD == UINT32_MAX, "the largest data fills the RIFF size");
    if (data_bytes > WAV_MAX_DATA_BYTES) return EFBIG;
    const auto block_align = static_cast<uint16_t>(channels * bits_per_sample / BITS_PER_BYTE);
    if (uint64_t{rate} * block_align > UINT32_MAX) return EOVERFLOW;
    const auto data_size = static_cast<uint32_t>(data_bytes);
    uint8_t* out = put_u32_le(put_id(header, "RIFF"), data_size + RIFF_OVERHEAD);
    out = put_id(out, "WAVE");
    out = put_id(out, "fmt ");
    out = put_u32_le(out, FMT_CHUNK_BYTES);
    out = put_u16_le(out, FORMAT_PCM);
    out = put_u16_le(out, channels);
    out = put_u32_le(out, rate);
    out = put_u32_le(out, rate * block_align);   // bytes per second
    out = put_u16_le(out, block_align);          // bytes per frame: one sample of every channel
    out = put_u16_le(out, bits_per_sample);
    put_u32_le(put_id(out, "data"), data_size);
    return 0;
}

int write_wav_header(std::FILE* file, uint64_t data_bytes, uint32_t rate) {
    return write_pcm_wav_header(file, data_bytes, rate, MONO, SOUND_BITS);
}

int write_pcm_wav_header(std::FILE* file, uint64_t data_bytes, uint32_t rate, uint16_t channels,
                         uint16_t bits_per_sample) {
    uint8_t header[WAV_HEADER_BYTES];
    const int error = make_pcm_wav_header(header, data_bytes, rate, channels, bits_per_sample);
    if (error == 0) std::fwrite(header, 1, sizeof header, file);
    return error;
}

}  // namespace okrelt
