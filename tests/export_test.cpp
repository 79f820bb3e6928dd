// The exports for radio software: the reference unit's samples against a
// hand decoding, the metadata against the header, the hash against
// sha512sum, a 4-bit unit's levels in the I/Q WAV, and a failed export.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "common/sky.h"
#include "export/recording.h"
#include "tests/support/test_support.h"

namespace {

using okrelt_test::RunResult;
using okrelt_test::TempDir;

RunResult okrelt_in(const TempDir& dir, const std::vector<std::string>& args) {
    okrelt_test::RunOptions options;
    options.args = args;
    return okrelt_test::run_program(dir.path(), options);
}

float f32_at(const std::string& bytes, size_t index) {
    uint32_t bits = 0;
    for (int b = 3; b >= 0; --b) bits = bits << 8 | static_cast<unsigned char>(bytes[4 * index + b]);
    float value = 0.0f;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

int16_t i16_at(const std::string& bytes, size_t offset) {
    return static_cast<int16_t>(static_cast<unsigned char>(bytes[offset]) | static_cast<unsigned char>(bytes[offset + 1]) << 8);
}

TEST(Export, TheReferenceUnitsSamplesAndMetadata) {
    TempDir dir;
    okrelt_test::write_file(dir.file("ref.wu"), okrelt_test::read_file(OKRELT_REFERENCE_WORK_UNIT));
    const RunResult run = okrelt_in(dir, {"-q", "--sigmf", "--no-sound", "ref.wu"});
    ASSERT_EQ(run.exit_status, 0) << run.err;
    EXPECT_EQ(run.out, "ref.wu: 1048576 samples, RFI 1396 Nope -> ref.sigmf-data, ref.sigmf-meta\n");
    EXPECT_FALSE(okrelt_test::file_exists(dir.file("ref.wav")));
    const std::string data = okrelt_test::read_file(dir.file("ref.sigmf-data"));
    ASSERT_EQ(data.size(), 8u * 1048576u);
    // The first data characters "DJJ3" carry raw bytes 164, 170, 78. Sample
    // byte 0 is raw byte 1 (170 = 10 10 10 10: four samples of real bit 1,
    // imaginary bit 0), sample byte 1 is raw byte 0 (164 = 10 10 01 00, the
    // first sample lowest: 00, 01, 10, 10).
    const float expected[8][2] = {{1, -1}, {1, -1}, {1, -1}, {1, -1}, {-1, -1}, {-1, 1}, {1, -1}, {1, -1}};
    for (size_t k = 0; k < 8; ++k) {
        EXPECT_EQ(f32_at(data, 2 * k), expected[k][0]) << "I of sample " << k;
        EXPECT_EQ(f32_at(data, 2 * k + 1), expected[k][1]) << "Q of sample " << k;
    }
    for (size_t v = 0; v < data.size() / 4; v += 997) ASSERT_EQ(std::abs(f32_at(data, v)), 1.0f) << v;

    const nlohmann::json meta = nlohmann::json::parse(okrelt_test::read_file(dir.file("ref.sigmf-meta")));
    EXPECT_EQ(meta["global"]["core:datatype"], "cf32_le");
    EXPECT_EQ(meta["global"]["core:sample_rate"], 9765.62);
    EXPECT_EQ(meta["global"]["core:hw"], "ao_1420");
    EXPECT_EQ(meta["captures"][0]["core:frequency"], 1418920288.09);
    EXPECT_EQ(meta["captures"][0]["core:geolocation"]["coordinates"][0], -66.7552222);
    EXPECT_EQ(meta["annotations"][0]["core:label"], "RFI 1396 Nope");
    okrelt_test::RunOptions hash;
    hash.program = "/bin/sh";
    hash.args = {"-c", "sha512sum ref.sigmf-data | cut -c1-128"};
    EXPECT_EQ(okrelt_test::run_program(dir.path(), hash).out, meta["global"]["core:sha512"].get<std::string>() + "\n");
}

// A Green Bank unit counts its <longitude> west: <glon> holds the place.
TEST(Export, AFourBitGreenBankUnitsLevelsPlaceAndTime) {
    TempDir dir;
    okrelt_test::RunOptions make;
    make.program = OKRELT_MAKE_WU_BINARY;
    make.args = {"--format", "later", "--bits", "4", "--samples", "131072", "--constant", "+1", "-1", "--rate",
                 "11444.091796875", "-o", "plain.wu"};
    ASSERT_EQ(okrelt_test::run_program(dir.path(), make).exit_status, 0);
    std::string unit = okrelt_test::read_file(dir.file("plain.wu"));
    const size_t header_end = unit.find("</workunit_header>");
    ASSERT_NE(header_end, std::string::npos);
    unit.insert(header_end,
                "<time_recorded_jd>2457976.6100402</time_recorded_jd>\n<receiver_cfg>\n"
                "<name>Green Bank Telescope, Rcvr4_6, Pol 1</name>\n<longitude>79.839835</longitude>\n"
                "<latitude>38.4331</latitude>\n<glon>-79.83984</glon>\n<glat>38.43312</glat>\n</receiver_cfg>\n");
    okrelt_test::write_file(dir.file("gbt.wu"), unit);
    const RunResult run = okrelt_in(dir, {"-q", "--sigmf", "--iq-wav", "gbt.wu"});
    ASSERT_EQ(run.exit_status, 0) << run.err;
    // okrelt's own levels for the sound: 65536 sqrt(2) 1.6679375 in bin 0.
    EXPECT_EQ(run.out, "gbt.wu: 131072 samples, RFI 154587 WHOA -> gbt.wav, gbt.sigmf-data, gbt.sigmf-meta, "
                       "gbt_1420000000Hz_IQ.wav\n");
    const nlohmann::json meta = nlohmann::json::parse(okrelt_test::read_file(dir.file("gbt.sigmf-meta")));
    EXPECT_EQ(meta["global"]["core:sample_rate"], 11444.091796875);
    EXPECT_EQ(meta["global"]["core:hw"], "Green Bank Telescope, Rcvr4_6, Pol 1");
    EXPECT_EQ(meta["captures"][0]["core:datetime"], "2017-08-11T02:38:27.473Z");
    EXPECT_EQ(meta["captures"][0]["core:geolocation"]["coordinates"], nlohmann::json({-79.83984, 38.43312}));
    const std::string data = okrelt_test::read_file(dir.file("gbt.sigmf-data"));
    EXPECT_EQ(f32_at(data, 0), 3.335875f);
    EXPECT_EQ(f32_at(data, 1), -3.335875f);

    // 16-bit stereo at the rate in whole hertz, I left and Q right, times 8192.
    const std::string wav = okrelt_test::read_file(dir.file("gbt_1420000000Hz_IQ.wav"));
    ASSERT_EQ(wav.size(), 44u + 4u * 131072u);
    EXPECT_EQ(i16_at(wav, 22), 2);
    EXPECT_EQ(static_cast<unsigned char>(wav[24]) | static_cast<unsigned char>(wav[25]) << 8, 11444);
    EXPECT_EQ(i16_at(wav, 34), 16);
    EXPECT_EQ(i16_at(wav, 44), 27327);
    EXPECT_EQ(i16_at(wav, 46), -27327);
}

// An export that cannot be finished leaves no file and keeps an older one.
TEST(Export, AFailedExportKeepsTheOlderFiles) {
    TempDir dir;
    okrelt_test::write_file(dir.file("ref.wu"), okrelt_test::read_file(OKRELT_REFERENCE_WORK_UNIT));
    okrelt_test::write_file(dir.file("ref.sigmf-meta"), "older");
    const std::vector<std::string> before = okrelt_test::folder_entries(dir.path());
    okrelt_test::RunOptions options;
    options.program = "/bin/sh";
    options.args = {"-c", "trap '' XFSZ; exec prlimit --fsize=1000000 \"$0\" -q --sigmf --no-sound ref.wu",
                    OKRELT_BINARY};
    const RunResult run = okrelt_test::run_program(dir.path(), options);
    EXPECT_EQ(run.exit_status, 1);
    EXPECT_EQ(run.err, "ref.wu: Error writing ref.sigmf-data: File too large\n");
    EXPECT_EQ(okrelt_test::read_file(dir.file("ref.sigmf-meta")), "older");
    EXPECT_EQ(okrelt_test::folder_entries(dir.path()), before);
}

// A constant 1 + i is all at the centre: in bin order a steady level, in sky
// order a quarter-rate cosine, 16 (cos - sin) of a quarter turn per sample.
TEST(Export, SkyOrderPutsTheCentreAtAQuarterOfTheRate) {
    TempDir dir;
    okrelt_test::RunOptions make;
    make.program = OKRELT_MAKE_WU_BINARY;
    make.args = {"--samples", "131072", "--constant", "+1", "+1", "-o", "dc.sah"};
    ASSERT_EQ(okrelt_test::run_program(dir.path(), make).exit_status, 0);
    ASSERT_EQ(okrelt_in(dir, {"-q", "--sky-order", "dc.sah"}).exit_status, 0);
    const std::string wav = okrelt_test::read_file(dir.file("dc.wav"));
    ASSERT_EQ(wav.size(), 44u + 2u * 131072u);
    const unsigned char quarter_turns[4] = {144, 112, 112, 144};
    size_t differing = 0;
    for (size_t l = 0; l + 44 < wav.size(); ++l) differing += static_cast<unsigned char>(wav[44 + l]) != quarter_turns[l % 4];
    EXPECT_EQ(differing, 0u);
}

// The I/Q WAV's name is known only from the header: it must still spare the
// batch's other files, refused before anything is written, whatever the timing.
TEST(Export, AnIqWavThatWouldReplaceAnotherUnitsSoundIsRefused) {
    TempDir dir;
    okrelt_test::RunOptions make;
    make.program = OKRELT_MAKE_WU_BINARY;
    make.args = {"--format", "later", "--samples", "131072", "-o", "a.wu"};
    ASSERT_EQ(okrelt_test::run_program(dir.path(), make).exit_status, 0);
    make.args.back() = "a_1420000000Hz_IQ.wu";
    ASSERT_EQ(okrelt_test::run_program(dir.path(), make).exit_status, 0);
    const RunResult run = okrelt_in(dir, {"-q", "--iq-wav", "a.wu", "a_1420000000Hz_IQ.wu"});
    EXPECT_EQ(run.exit_status, 1);
    EXPECT_EQ(run.err, "okrelt: a_1420000000Hz_IQ.wav (for a_1420000000Hz_IQ.wu) is the same file as "
                       "a_1420000000Hz_IQ.wav (for a.wu); nothing written\n");
    EXPECT_FALSE(okrelt_test::file_exists(dir.file("a_1420000000Hz_IQ.wav")));
    EXPECT_FALSE(okrelt_test::file_exists(dir.file("a.wav")));
}

TEST(Export, JulianDatesAsUtc) {
    EXPECT_EQ(okrelt::rfc3339_of_julian_date(2457976.6100402), "2017-08-11T02:38:27.473Z");
    EXPECT_EQ(okrelt::rfc3339_of_julian_date(2440587.5), "1970-01-01T00:00:00.000Z");
    EXPECT_EQ(okrelt::rfc3339_of_julian_date(2451544.5), "2000-01-01T00:00:00.000Z");
}

}  // namespace
