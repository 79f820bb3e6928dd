// The 44 header bytes, exactly.
#include <gtest/gtest.h>

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

}  // namespace
