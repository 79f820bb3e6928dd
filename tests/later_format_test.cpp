// The later, XML-wrapped format: bytes decoded by hand, writer-reader round
// trips, a tone's direction, the SETI@home client's reference unit, soft
// links and refusals.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cmath>
#include <cstdlib>
#include <complex>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "audio/fft.h"
#include "common/block_sizes.h"
#include "tests/support/test_support.h"
#include "tests/support/work_units.h"
#include "workunit/reader.h"
#include "workunit/reader_internal.h"
#include "workunit/writer.h"

namespace {

using okrelt_test::TempDir;

struct Loaded {
    int status = -1;
    std::string out;
    okrelt::WorkUnitInfo info;
    std::vector<int8_t> in_phase;
    std::vector<int8_t> quadrature;
    const double* levels = nullptr;
};

// Reads path into streams, as a thread converting unit after unit does.
Loaded load(const std::string& path, okrelt::SampleStreams* streams) {
    Loaded loaded;
    testing::internal::CaptureStdout();
    loaded.status = okrelt::load_work_unit(path.c_str(), streams, &loaded.info);
    loaded.out = testing::internal::GetCapturedStdout();
    if (loaded.status == 0) {
        loaded.in_phase.assign(streams->in_phase, streams->in_phase + streams->count);
        loaded.quadrature.assign(streams->quadrature, streams->quadrature + streams->count);
        loaded.levels = streams->levels;
    }
    return loaded;
}

Loaded load(const std::string& path) {
    okrelt::SampleStreams streams;
    return load(path, &streams);
}

// Streams an earlier unit has filled with samples that are never silence.
okrelt::SampleStreams used_streams() {
    okrelt::SampleStreams streams;
    EXPECT_EQ(okrelt::reserve_streams(&streams, 4096), 0);
    std::memset(streams.in_phase, 1, 4096 + okrelt::SPARE_SAMPLES);
    std::memset(streams.quadrature, 1, 4096 + okrelt::SPARE_SAMPLES);
    streams.count = 4096;
    return streams;
}

std::string later_unit(const std::string& header_fields, const std::string& data_tag, const std::string& data) {
    return "<workunit>\n<workunit_header>\n<name>hand.wu</name>\n" + header_fields + "</workunit_header>\n" +
           data_tag + "\n" + data + "</data>\n</workunit>\n";
}

const std::string DATA_TAG = "<data length=5 encoding=\"x-setiathome\">";

TEST(LaterFormat, BytesSwapInPairsWithTheRealPartAboveAndTheFirstSampleLowest) {
    TempDir dir;
    // "!   " carries the raw bytes 1, 0, 0: sample byte 0 is raw byte 1 (0),
    // sample byte 1 is raw byte 0 (1: its first sample has only the
    // imaginary bit set), sample byte 2 has no partner (silence), sample
    // byte 3 is raw byte 2.
    okrelt_test::write_file(dir.file("two.wu"), later_unit("<nsamples>16</nsamples>\n", DATA_TAG, "!   \n"));
    okrelt::SampleStreams used = used_streams();
    const Loaded two = load(dir.file("two.wu"), &used);
    ASSERT_EQ(two.status, 0) << two.out;
    EXPECT_EQ(two.levels, nullptr);
    EXPECT_EQ(two.in_phase, (std::vector<int8_t>{-1, -1, -1, -1, -1, -1, -1, -1, 0, 0, 0, 0, -1, -1, -1, -1}));
    EXPECT_EQ(two.quadrature, (std::vector<int8_t>{-1, -1, -1, -1, 1, -1, -1, -1, 0, 0, 0, 0, -1, -1, -1, -1}));
    EXPECT_NE(two.out.find("\n4 samples missing from the data are played as silence.\n"), std::string::npos);

    // "(" is 8: sample byte 1's low nibble 10|00 is real code 2 (+0.5),
    // imaginary code 0 (-1.6679375).
    okrelt_test::write_file(dir.file("four.wu"),
                            later_unit("<nsamples>4</nsamples>\n<splitter_cfg><wu_bits_per_sample>4</wu_bits_per_sample>"
                                       "</splitter_cfg>\n",
                                       DATA_TAG, "(   \n"));
    const Loaded four = load(dir.file("four.wu"));
    ASSERT_EQ(four.status, 0) << four.out;
    ASSERT_NE(four.levels, nullptr);
    EXPECT_EQ(four.out, "Work unit hand.wu: 4 bits per sample, 9765.625 Hz\nnsamples=4\n");
    const auto level = [&four](int8_t code) { return four.levels[code & okrelt::LEVEL_INDEX_MASK]; };
    EXPECT_EQ(level(four.in_phase[2]), 0.5);
    EXPECT_EQ(level(four.quadrature[2]), -1.6679375);
    EXPECT_EQ(level(four.in_phase[0]), -1.6679375);
    EXPECT_EQ(level(0), 0.0);
}

TEST(LaterFormat, WriterAndReaderRoundTrip) {
    struct Case {
        int bits;
        const char* line_end;
        int dropped_groups;
    };
    const int32_t count = 1003;   // not a multiple of 8: a partly used last byte
    okrelt::SampleStreams used = used_streams();   // each case reads into what the one before left
    for (const Case c : {Case{2, "\n", 0}, Case{4, "\r\n", 0}, Case{2, "\r\n", 1}, Case{4, "\n", 2}}) {
        TempDir dir;
        okrelt::WriterOptions options;
        options.later_format = true;
        options.bits_per_sample = c.bits;
        options.line_end = c.line_end;
        options.dropped_groups = c.dropped_groups;
        const okrelt::SampleVectors samples = okrelt::make_tone_samples(count, 5, 0.1, c.bits);
        okrelt_test::write_work_unit_file(dir.file("unit.wu"), samples, options);
        const Loaded loaded = load(dir.file("unit.wu"), &used);
        ASSERT_EQ(loaded.status, 0) << loaded.out;
        ASSERT_EQ(loaded.in_phase.size(), static_cast<size_t>(count));

        // Sample byte i is data while its partner i ^ 1 was written.
        const int per_byte = 8 / c.bits;
        const int64_t sample_bytes = (count + per_byte - 1) / per_byte;
        const int64_t raw_bytes = (sample_bytes + sample_bytes % 2 + 2) / 3 * 3 - 3 * c.dropped_groups;
        int missing = 0;
        for (int32_t k = 0; k < count; ++k) {
            const bool silent = ((k / per_byte) ^ 1) >= raw_bytes;
            missing += silent;
            ASSERT_EQ(loaded.in_phase[k], silent ? 0 : samples.in_phase[k]) << "sample " << k << ", " << c.bits;
            ASSERT_EQ(loaded.quadrature[k], silent ? 0 : samples.quadrature[k]) << "sample " << k << ", " << c.bits;
        }
        EXPECT_EQ(missing > 0, c.dropped_groups > 0);
        EXPECT_EQ(loaded.out.find("played as silence") != std::string::npos, missing > 0) << loaded.out;
    }
}

// Spellings XML allows give the same unit: a byte-order mark, a declaration
// and a comment before <workunit>, attributes and blanks in tags, a data tag
// over two lines, </data> right after the last data characters, and integers
// with a sign or leading zeros.
TEST(LaterFormat, WhatXmlAllowsReadsAsThePlainUnit) {
    TempDir dir;
    okrelt::WriterOptions options;
    options.later_format = true;
    options.bits_per_sample = 4;
    options.subband_rate = 5000.0;
    okrelt_test::write_work_unit_file(dir.file("plain.wu"), okrelt::make_tone_samples(1003, 5, 0.1, 4), options);
    const std::string plain = okrelt_test::read_file(dir.file("plain.wu"));
    const Loaded expected = load(dir.file("plain.wu"));
    ASSERT_EQ(expected.status, 0) << expected.out;
    const auto replaced = [](std::string text, const std::string& from, const std::string& to) {
        const size_t at = text.find(from);
        EXPECT_NE(at, std::string::npos) << from;
        return at == std::string::npos ? text : text.replace(at, from.size(), to);
    };
    for (const char* bits : {"+4", "04"}) {
        std::string text = "\xEF\xBB\xBF<?xml version=\"1.0\"?>\n<!-- <workunit_header> -->\n" + plain;
        text = replaced(text, "<wu_bits_per_sample>4</wu_bits_per_sample>",
                        std::string("<wu_bits_per_sample >") + bits + "</wu_bits_per_sample >");
        text = replaced(text, "  <sample_rate>5000</sample_rate>", "  <sample_rate unit=\"Hz\">5000</sample_rate>");
        text = replaced(text, " encoding=", "\n    encoding=");
        // The tag's name alone on its line, the attributes on the next ones.
        text = replaced(text, "<data ", "<data\n    ");
        text = replaced(text, "\n</data>", "</data>");
        okrelt_test::write_file(dir.file("spelled.wu"), text);
        const Loaded spelled = load(dir.file("spelled.wu"));
        ASSERT_EQ(spelled.status, 0) << spelled.out;
        EXPECT_EQ(spelled.info.bits_per_sample, 4) << bits;
        EXPECT_EQ(spelled.info.sound_rate, 10000u);
        EXPECT_EQ(spelled.in_phase, expected.in_phase);
        EXPECT_EQ(spelled.quadrature, expected.quadrature);
    }
    for (const char* zero : {"00", "-0"}) {
        okrelt_test::write_file(dir.file("zero.wu"), replaced(plain, "<wu_bits_per_sample>4<",
                                                              std::string("<wu_bits_per_sample>") + zero + "<"));
        EXPECT_EQ(load(dir.file("zero.wu")).info.bits_per_sample, 2) << zero;
    }
}

// Up to 65535 samples missing from the data play as silence; one more is corrupt.
TEST(LaterFormat, SixtyFiveThousandFiveHundredThirtyFiveMissingSamplesAreTheMost) {
    TempDir dir;
    okrelt::WriterOptions options;
    options.later_format = true;
    okrelt_test::write_work_unit_file(dir.file("unit.wu"), okrelt::make_example_samples(131072, 3), options);
    // 32768 sample bytes go out as 32769 raw bytes (whole groups of 3): 131076 samples.
    const int32_t available = 131076;
    std::string text = okrelt_test::read_file(dir.file("unit.wu"));
    const size_t count_at = text.find("131072</nsamples>");
    ASSERT_NE(count_at, std::string::npos);
    for (const int32_t missing : {65535, 65536}) {
        okrelt_test::write_file(dir.file("short.wu"),
                                std::string(text).replace(count_at, 6, std::to_string(available + missing)));
        const Loaded loaded = load(dir.file("short.wu"));
        EXPECT_EQ(loaded.status, missing == 65535 ? 0 : 1) << loaded.out;
        if (missing == 65535) {
            EXPECT_EQ(loaded.info.silent_samples, missing);
            // The odd last raw byte's missing partner is the first silence.
            EXPECT_EQ(loaded.info.first_silent_sample, 131072);
        }
    }
}

// The bin of the strongest component of the first block of a unit.
long strongest_bin(const Loaded& loaded) {
    std::vector<double> re(okrelt::BLOCK_SAMPLES);
    std::vector<double> im(okrelt::BLOCK_SAMPLES);
    for (size_t k = 0; k < re.size(); ++k) {
        re[k] = loaded.levels ? loaded.levels[loaded.in_phase[k] & okrelt::LEVEL_INDEX_MASK] : loaded.in_phase[k];
        im[k] = loaded.levels ? loaded.levels[loaded.quadrature[k] & okrelt::LEVEL_INDEX_MASK] : loaded.quadrature[k];
    }
    (void)okrelt::fft(okrelt::FFT_FORWARD, okrelt::BLOCK_LOG2, re.data(), im.data());
    long best = 0;
    for (size_t k = 1; k < re.size(); ++k) {
        if (std::hypot(re[k], im[k]) > std::hypot(re[best], im[best])) best = static_cast<long>(k);
    }
    return best;
}

TEST(LaterFormat, ATonesFrequencyKeepsItsSign) {
    // A swapped I/Q, a missing byte swap or a wrong nibble order moves or
    // mirrors a tone; noise alone would not show it.
    for (const double hz : {745.0, -1234.5}) {
        const int bits = hz > 0 ? 2 : 4;
        TempDir dir;
        okrelt::WriterOptions options;
        options.later_format = true;
        options.bits_per_sample = bits;
        const double rate = 9765.625;
        okrelt_test::write_work_unit_file(
            dir.file("tone.wu"), okrelt::make_tone_samples(okrelt::BLOCK_SAMPLES, 9, hz / rate, bits), options);
        const Loaded loaded = load(dir.file("tone.wu"));
        ASSERT_EQ(loaded.status, 0) << loaded.out;
        const long want = std::lround(hz / rate * okrelt::BLOCK_SAMPLES + (hz < 0 ? okrelt::BLOCK_SAMPLES : 0));
        EXPECT_LE(std::labs(strongest_bin(loaded) - want), 1) << hz << " Hz, " << bits << " bits";
    }
}

TEST(LaterFormat, TheClientsReferenceUnitConverts) {
    TempDir dir;
    okrelt_test::write_file(dir.file("work_unit.sah"), okrelt_test::read_file(OKRELT_REFERENCE_WORK_UNIT));
    const okrelt_test::RunResult run = okrelt_test::run_okrelt(dir.path());
    ASSERT_EQ(run.exit_status, 0) << run.out << run.err;
    EXPECT_NE(run.out.find("Work unit reference.wu: 2 bits per sample, 9765.62 Hz\nnsamples=1048576\n"
                           "Samples decoded: 1048576\n"),
              std::string::npos);
    EXPECT_NE(run.out.find("--RFI Factor-------\n**Nope**  (1396)\n"), std::string::npos);
    const std::string wav = okrelt_test::read_file(dir.file("work_unit.wav"));
    ASSERT_EQ(wav.size(), 44u + 2u * 1048576u);
    EXPECT_EQ(wav.substr(24, 8), std::string("\x4b\x4c\x00\x00\x4b\x4c\x00\x00", 8));   // 19531, twice
}

TEST(LaterFormat, SoftLinksAreFollowedOnce) {
    TempDir dir;
    okrelt::WriterOptions options;
    options.later_format = true;
    options.subband_rate = 11444.091796875;   // Green Bank's: sound at 22888 Hz
    okrelt_test::write_work_unit_file(dir.file("unit.wu"), okrelt::make_tone_samples(2 * okrelt::BLOCK_SAMPLES, 1, 0.2, 2),
                                      options);
    okrelt_test::write_file(dir.file("work_unit.sah"), "<soft_link>unit.wu</soft_link>\n");
    const okrelt_test::RunResult run = okrelt_test::run_okrelt(dir.path());
    ASSERT_EQ(run.exit_status, 0) << run.out << run.err;
    EXPECT_EQ(okrelt_test::read_file(dir.file("work_unit.wav")).substr(24, 4), std::string("\x68\x59\x00\x00", 4));

    okrelt_test::write_file(dir.file("link.wu"), "<soft_link>unit.wu</soft_link>\n");
    okrelt_test::write_file(dir.file("work_unit.sah"), "  <soft_link> link.wu </soft_link>\n");
    const okrelt_test::RunResult twice = okrelt_test::run_okrelt(dir.path());
    EXPECT_EQ(twice.exit_status, 1);
    EXPECT_NE(twice.out.find("Corrupt work unit: work_unit.sah links to link.wu, which is a soft link itself.\n"),
              std::string::npos)
        << twice.out;
}

TEST(LaterFormat, RefusedUnitsSayWhyAndLeaveNoSoundFile) {
    const std::string rate = "<subband_desc><sample_rate>9765.625</sample_rate></subband_desc>\n";
    const std::string count = "<nsamples>131072</nsamples>\n";
    const std::string line(64, '_');
    struct Case {
        std::string unit;
        std::string says;
    };
    const Case cases[] = {
        {later_unit(count + "<splitter_cfg><wu_bits_per_sample>8</wu_bits_per_sample></splitter_cfg>\n", DATA_TAG,
                    line + "\n"),
         "Work unit refused: <wu_bits_per_sample> is \"8\"; okrelt reads 2 or 4 bits per sample.\n"},
        {later_unit(count, "<data length=5 encoding=\"binary\">", line + "\n"),
         "Work unit refused: its data is encoded as \"binary\"; okrelt reads \"x-setiathome\" only.\n"},
        {later_unit(count + "<subband_desc><sample_rate>100</sample_rate></subband_desc>\n", DATA_TAG, line + "\n"),
         "Work unit refused: sub-band <sample_rate> \"100\" does not give a sound rate of 1000 to 384000 Hz.\n"},
        {later_unit(count + rate, DATA_TAG, line + "\n" + line.substr(0, 20) + "a" + line.substr(21) + "\n"),
         "Corrupt work unit: data on line 9 holds character 97, outside \" \" to \"_\".\n"},
        {later_unit(count, DATA_TAG, line + "\n" + line.substr(0, 30) + "\n"),
         "Corrupt work unit: data on line 8 has 30 characters, not a multiple of 4.\n"},
        {later_unit("<nsamples>2147483647</nsamples>\n", DATA_TAG, line + "\n"),
         "Corrupt work unit: its data holds 192 samples, far fewer than the 2147483647 declared.\n"},
        // One line on the count, and the refusal says the count was assumed.
        {later_unit("<nsamples>0</nsamples>\n", DATA_TAG, line + "\n"),
         "Hz\nnsamples=0 declares no samples, assuming default of 1048576 samples.\n"
         "Corrupt work unit: its data holds 192 samples, far fewer than the 1048576 assumed.\n"},
        {"<soft_link>missing.wu</soft_link>\n", "Error opening missing.wu: No such file or directory\n"},
        {"<soft_link>pipe</soft_link>\n", "Corrupt work unit: work_unit.sah links to pipe, which is not a regular file.\n"},
    };
    // Within 1 GiB of address space: a hostile count is refused, not
    // allocated. (AddressSanitizer's shadow memory needs far more.)
    okrelt_test::RunOptions limited;
#if !defined(__SANITIZE_ADDRESS__)
    limited.program = "/bin/sh";
    limited.args = {"-c", "exec prlimit --as=1073741824 \"$0\" < /dev/null", OKRELT_BINARY};
#endif
    for (const Case& c : cases) {
        TempDir dir;
        ASSERT_EQ(mkfifo(dir.file("pipe").c_str(), 0644), 0);
        okrelt_test::write_file(dir.file("work_unit.sah"), c.unit);
        const okrelt_test::RunResult run = okrelt_test::run_program(dir.path(), limited);
        EXPECT_EQ(run.exit_status, 1) << c.says;
        EXPECT_NE((run.out + run.err).find(c.says), std::string::npos) << run.out << run.err;
        EXPECT_EQ(run.out.find("Samples decoded"), std::string::npos) << c.says;
        EXPECT_FALSE(okrelt_test::file_exists(dir.file("work_unit.wav"))) << c.says;
    }
}

}  // namespace
