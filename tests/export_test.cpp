// The exports for radio software: the reference unit's samples against a
// hand decoding, the metadata against the header, the hash against
// sha512sum, a 4-bit unit's levels in the I/Q WAV, its header read back,
// a failed export, header values out of range and names that are no UTF-8.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "common/sky.h"
#include "common/utf8.h"
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

RunResult make_unit(const TempDir& dir, std::vector<std::string> args) {
    okrelt_test::RunOptions make;
    make.program = OKRELT_MAKE_WU_BINARY;
    make.args = std::move(args);
    return okrelt_test::run_program(dir.path(), make);
}

// Values no header should hold give no name and no date, never a wrapped number.
TEST(Export, NamesAndDatesOfValuesOutOfRange) {
    okrelt::WorkUnitInfo info;
    for (const double value : {1e300, 1e12, 0.0, -1.0, std::nan(""), HUGE_VAL}) {
        info.center_hz = value;
        EXPECT_EQ(okrelt::iq_wav_name("unit", info), "unit_IQ.wav") << value;
        EXPECT_EQ(okrelt::rfc3339_of_julian_date(value), "") << value;
        EXPECT_EQ(okrelt::utc_text_of_julian_date(value), "") << value;
    }
    info.center_hz = 1418920288.09;
    EXPECT_EQ(okrelt::iq_wav_name("unit", info), "unit_1418920288Hz_IQ.wav");
    EXPECT_EQ(okrelt::rfc3339_of_julian_date(1721059.5), "0000-01-01T00:00:00.000Z");
    EXPECT_EQ(okrelt::rfc3339_of_julian_date(1721059.4), "");
}

// A classic header's rate, centre and time out of range leave the metadata
// and the I/Q WAV valid: the usual rate, no frequency, no time; its
// receiver is the hardware.
TEST(Export, AClassicHeaderOutOfRangeGivesValidMetadata) {
    for (const char* rate : {"0.3", "1e15"}) {
        TempDir dir;
        ASSERT_EQ(make_unit(dir, {"--samples", "131072", "-o", "c.sah"}).exit_status, 0);
        std::string unit = okrelt_test::read_file(dir.file("c.sah"));
        const size_t rate_line = unit.find("subband_sample_rate=9765.625\n");
        ASSERT_NE(rate_line, std::string::npos);
        unit.replace(rate_line, std::strlen("subband_sample_rate=9765.625\n"),
                     std::string("subband_sample_rate=") + rate + "\nsubband_center=1e300\ntime_recorded=1e12\n");
        okrelt_test::write_file(dir.file("c.sah"), unit);
        const RunResult run = okrelt_in(dir, {"-q", "--sigmf", "--iq-wav", "--no-sound", "c.sah"});
        ASSERT_EQ(run.exit_status, 0) << run.err;
        EXPECT_EQ(run.out, "c.sah: 131072 samples, RFI 2585 YEP -> c.sigmf-data, c.sigmf-meta, c_IQ.wav\n");
        const nlohmann::json meta = nlohmann::json::parse(okrelt_test::read_file(dir.file("c.sigmf-meta")));
        EXPECT_EQ(meta["global"]["core:sample_rate"], 9765.625) << rate;
        EXPECT_EQ(meta["global"]["core:hw"], "ao_1420");
        EXPECT_FALSE(meta["captures"][0].contains("core:frequency"));
        EXPECT_FALSE(meta["captures"][0].contains("core:datetime"));
        EXPECT_FALSE(meta["global"].contains("okrelt:time_recorded_jd"));
        const std::string wav = okrelt_test::read_file(dir.file("c_IQ.wav"));
        ASSERT_GT(wav.size(), 28u);
        EXPECT_EQ(static_cast<unsigned char>(wav[24]) | static_cast<unsigned char>(wav[25]) << 8 |
                      static_cast<unsigned char>(wav[26]) << 16 | static_cast<unsigned char>(wav[27]) << 24,
                  9766) << rate;
    }
}

uint32_t u32_at(const std::string& bytes, size_t offset) {
    uint32_t value = 0;
    for (int b = 3; b >= 0; --b) value = value << 8 | static_cast<unsigned char>(bytes[offset + static_cast<size_t>(b)]);
    return value;
}

// The I/Q WAV's sizes are what was written: read back by Python's own WAV
// reader, and the RIFF size against the file's.
TEST(Export, TheIqWavsSizesAreWhatWasWritten) {
    if (std::system("python3 -c 'import wave' 2>/dev/null") != 0) GTEST_SKIP() << "python3 is not installed";
    TempDir dir;
    ASSERT_EQ(make_unit(dir, {"--format", "later", "--samples", "196608", "-o", "u.wu"}).exit_status, 0);
    ASSERT_EQ(okrelt_in(dir, {"-q", "--iq-wav", "--no-sound", "u.wu"}).exit_status, 0);
    const std::string wav = okrelt_test::read_file(dir.file("u_1420000000Hz_IQ.wav"));
    ASSERT_EQ(wav.size(), 44u + 4u * 196608u);
    EXPECT_EQ(u32_at(wav, 4), wav.size() - 8);
    EXPECT_EQ(u32_at(wav, 40), wav.size() - 44);
    okrelt_test::write_file(dir.file("wav.py"),
                            "import sys, wave\n"
                            "w = wave.open(sys.argv[1])\n"
                            "frames = w.readframes(w.getnframes())\n"
                            "print(w.getnchannels(), w.getsampwidth(), w.getframerate(), w.getnframes(), len(frames))\n");
    okrelt_test::RunOptions parse;
    parse.program = "/bin/sh";
    parse.args = {"-c", "python3 wav.py u_1420000000Hz_IQ.wav"};
    const RunResult read_back = okrelt_test::run_program(dir.path(), parse);
    EXPECT_EQ(read_back.out, "2 2 9766 196608 786432\n") << read_back.err;
}

// The RFI peak's annotation of a tone 1000 Hz below the centre: its bin's
// edges, one bin apart, below the centre and around the tone.
TEST(Export, APeakBelowTheCentreIsAnnotatedBetweenItsBinsEdges) {
    TempDir dir;
    ASSERT_EQ(make_unit(dir, {"--format", "later", "--tone", "-1000", "--samples", "131072", "-o", "b.wu"}).exit_status, 0);
    ASSERT_EQ(okrelt_in(dir, {"-q", "--sigmf", "--no-sound", "b.wu"}).exit_status, 0);
    const nlohmann::json meta = nlohmann::json::parse(okrelt_test::read_file(dir.file("b.sigmf-meta")));
    const nlohmann::json& peak = meta["annotations"][0];
    const double lower = peak["core:freq_lower_edge"];
    const double upper = peak["core:freq_upper_edge"];
    const double tone = 1420000000.0 - 1000.0;
    EXPECT_NEAR(upper - lower, 9765.625 / 65536, 1e-6);
    EXPECT_LE(lower, tone);
    EXPECT_GE(upper, tone);
    EXPECT_EQ(peak["core:sample_count"], 65536);
}

// Each byte that starts no valid UTF-8 sequence becomes U+FFFD; valid text,
// up to U+10FFFF, stays as it is.
TEST(Export, BytesThatAreNoUtf8BecomeReplacementCharacters) {
    const std::string r = okrelt::REPLACEMENT_CHARACTER;
    const std::pair<std::string, std::string> cases[] = {
        {"caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x93\xa1 \xf4\x8f\xbf\xbf", "caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x93\xa1 \xf4\x8f\xbf\xbf"},
        {"caf\xe9", "caf" + r},                        // Latin-1
        {"\xc0\xaf", r + r},                           // an overlong "/"
        {"\xed\xa0\x80", r + r + r},                   // a surrogate
        {"\xf4\x90\x80\x80", r + r + r + r},           // above U+10FFFF
        {"\xe2\x82", r + r},                           // cut short
        {"\x80x", r + "x"},                            // a stray continuation byte
    };
    for (const auto& [text, shown] : cases) {
        EXPECT_EQ(okrelt::replacing_invalid_utf8(text), shown) << text;
        EXPECT_EQ(okrelt::valid_utf8(text), text == shown) << text;
    }
}

// A Latin-1 file name and <name> ("café.wu", "näme"): every program takes
// them whole, and JSON and the picture show the bad bytes as U+FFFD.
TEST(Export, Latin1NamesGoThroughEveryProgram) {
    TempDir dir;
    const std::string unit = "caf\xe9.wu";
    const RunResult made = make_unit(dir, {"--format", "later", "--samples", "131072", "-o", unit});
    ASSERT_EQ(made.exit_status, 0) << made.err;
    std::string text = okrelt_test::read_file(dir.file(unit));
    const size_t name = text.find("<name>okrelt_example.0</name>");
    ASSERT_NE(name, std::string::npos);
    text.replace(name, std::strlen("<name>okrelt_example.0</name>"), "<name>n\xe4me</name>");
    okrelt_test::write_file(dir.file(unit), text);

    const RunResult run = okrelt_in(dir, {"-q", "--sigmf", "--iq-wav", unit});
    ASSERT_EQ(run.exit_status, 0) << run.err;
    EXPECT_EQ(run.err, "");
    const nlohmann::json meta = nlohmann::json::parse(okrelt_test::read_file(dir.file("caf\xe9.sigmf-meta")));
    EXPECT_EQ(meta["global"]["okrelt:workunit_name"], "n\xef\xbf\xbdme");
    EXPECT_NE(meta["global"]["core:description"].get<std::string>().find("caf\xef\xbf\xbd"), std::string::npos);

    std::vector<std::string> files = {"caf\xe9.sigmf-data", "caf\xe9.sigmf-meta", "caf\xe9.wav", unit,
                                      "caf\xe9_1420000000Hz_IQ.wav"};
#ifdef OKRELT_WATERFALL_BINARY
    okrelt_test::RunOptions picture;
    picture.program = OKRELT_WATERFALL_BINARY;
    picture.args = {unit};
    const RunResult drawn = okrelt_test::run_program(dir.path(), picture);
    EXPECT_EQ(drawn.exit_status, 0) << drawn.err;
    EXPECT_EQ(drawn.err, "");
    files.insert(files.begin(), "caf\xe9.png");
#endif
    // Every file whole, no temporary one left.
    EXPECT_EQ(okrelt_test::folder_entries(dir.path()), files);
}

}  // namespace

namespace {

// --hits marks each drifting tone the search finds: the samples its path
// covers, the frequencies it sweeps (here from 500 Hz below the centre up at
// +0.7 Hz/s), its SNR and drift; in the order of the annotations' samples.
TEST(Export, HitsAreAnnotatedOverTheirPaths) {
    TempDir dir;
    okrelt_test::RunOptions make;
    make.program = OKRELT_MAKE_WU_BINARY;
    make.args = {"--format", "later", "--samples", "1048576", "--tone", "-500", "--drift", "0.7",
                 "--amplitude", "0.05", "-o", "d.wu"};
    ASSERT_EQ(okrelt_test::run_program(dir.path(), make).exit_status, 0);
    EXPECT_EQ(okrelt_in(dir, {"--hits", "d.wu"}).exit_status, 2) << "--hits without --sigmf";
    const RunResult run = okrelt_in(dir, {"-q", "--sigmf", "--hits", "--no-sound", "d.wu"});
    ASSERT_EQ(run.exit_status, 0) << run.err;
    const nlohmann::json meta = nlohmann::json::parse(okrelt_test::read_file(dir.file("d.sigmf-meta")));
    const nlohmann::json& hit = meta["annotations"][0];
    ASSERT_EQ(hit["core:label"].get<std::string>().rfind("hit 1: SNR ", 0), 0u) << hit;
    EXPECT_EQ(hit["core:sample_start"], 0);
    EXPECT_EQ(hit["core:sample_count"], 1048576);
    const double centre = 1420.0e6;
    const double sweep = 0.7 * 1048576 / 9765.625;
    EXPECT_NEAR(hit["core:freq_lower_edge"].get<double>() - centre, -500.0, 2.5);
    EXPECT_NEAR(hit["core:freq_upper_edge"].get<double>() - centre, -500.0 + sweep, 2.5);
    EXPECT_NEAR(hit["okrelt:drift_hz_s"].get<double>(), 0.7, 0.03);
    EXPECT_GT(hit["okrelt:snr"].get<double>(), 10.0);
    int64_t previous = 0;
    for (const nlohmann::json& annotation : meta["annotations"]) {
        EXPECT_GE(annotation["core:sample_start"].get<int64_t>(), previous);
        previous = annotation["core:sample_start"].get<int64_t>();
    }
}

}  // namespace
