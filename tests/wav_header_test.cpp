// The 44 header bytes, exactly.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <string>

#include "audio/wav_header.h"
#include "tests/support/test_support.h"

namespace {

std::string header_bytes(uint32_t data_bytes) {
    okrelt_test::TempDir dir;
    const std::string path = dir.file("header.wav");
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) return {};
    if (okrelt::write_wav_header(file, data_bytes) != 0) ADD_FAILURE() << "refused " << data_bytes;
    std::fclose(file);
    return okrelt_test::read_file(path);
}

TEST(WavHeader, BytesForTwoMegabytesOfSamples) {
    const unsigned char expected[] = {
        'R', 'I', 'F', 'F', 0x24, 0x00, 0x20, 0x00,  // RIFF size 2097152 + 36
        'W', 'A', 'V', 'E',
        'f', 'm', 't', ' ', 16, 0, 0, 0,             // fmt chunk of 16 bytes
        1, 0,                                        // PCM
        1, 0,                                        // one channel
        0x4b, 0x4c, 0x00, 0x00,                      // 19531 samples per second
        0x4b, 0x4c, 0x00, 0x00,                      // 19531 bytes per second
        1, 0,                                        // one byte per frame
        8, 0,                                        // eight bits per sample
        'd', 'a', 't', 'a', 0x00, 0x00, 0x20, 0x00,  // 2097152 data bytes
    };
    EXPECT_EQ(header_bytes(2u * 1048576u), std::string(reinterpret_cast<const char*>(expected), sizeof expected));
}

TEST(WavHeader, SizesOfTheLargestConvertibleCount) {
    // 2 * (2^31 - 65536) bytes: the RIFF size still fits 32 bits.
    const std::string bytes = header_bytes(4294836224u);
    ASSERT_EQ(bytes.size(), 44u);
    EXPECT_EQ(bytes.substr(4, 4), std::string("\x24\x00\xfe\xff", 4));
    EXPECT_EQ(bytes.substr(40, 4), std::string("\x00\x00\xfe\xff", 4));
}

// Sizes the 32-bit fields cannot hold are refused, never wrapped: an I/Q
// WAV of 2^30 frames of 4 bytes would have written a data size of 0.
TEST(WavHeader, SizesBeyondThirtyTwoBitsAreRefused) {
    uint8_t header[okrelt::WAV_HEADER_BYTES];
    EXPECT_EQ(okrelt::make_pcm_wav_header(header, okrelt::WAV_MAX_DATA_BYTES, 9766, 2, 16), 0);
    EXPECT_EQ(header[4] | header[5] << 8 | header[6] << 16 | static_cast<uint32_t>(header[7]) << 24, UINT32_MAX);
    EXPECT_EQ(okrelt::make_pcm_wav_header(header, okrelt::WAV_MAX_DATA_BYTES + 1, 9766, 2, 16), EFBIG);
    EXPECT_EQ(okrelt::make_pcm_wav_header(header, uint64_t{4} << 30, 9766, 2, 16), EFBIG);
    EXPECT_EQ(okrelt::make_wav_header(header, uint64_t{1} << 32), EFBIG);
    // Bytes per second: rate times 4 bytes a frame.
    EXPECT_EQ(okrelt::make_pcm_wav_header(header, 4, UINT32_MAX / 4 + 1, 2, 16), EOVERFLOW);
}

}  // namespace
