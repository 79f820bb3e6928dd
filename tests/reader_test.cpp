// The work-unit reader on files made by the writer and by hand: header
// variants, line ends, read limits, NUL characters and the declared-count stop.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "tests/support/test_support.h"
#include "workunit/header_values.h"
#include "workunit/reader.h"
#include "workunit/reader_internal.h"
#include "workunit/writer.h"

namespace {

using okrelt::SampleStreams;
using okrelt_test::TempDir;

struct ReadOutcome {
    int status = -1;
    std::string out;
    SampleStreams streams;
    std::vector<int8_t> in_phase;   // the first count samples
    std::vector<int8_t> quadrature;
};

ReadOutcome read_bytes(const std::string& bytes) {
    TempDir dir;
    const std::string path = dir.file("work_unit.sah");
    okrelt_test::write_file(path, bytes);
    ReadOutcome outcome;
    okrelt::FileHandle file(std::fopen(path.c_str(), "r"));
    if (!file) {
        ADD_FAILURE() << "cannot open " << path;
        return outcome;
    }
    testing::internal::CaptureStdout();
    outcome.status = okrelt::read_work_unit(file.get(), &outcome.streams);
    outcome.out = testing::internal::GetCapturedStdout();
    if (outcome.status == 0) {
        const int8_t* i = outcome.streams.in_phase;
        const int8_t* q = outcome.streams.quadrature;
        outcome.in_phase.assign(i, i + outcome.streams.count);
        outcome.quadrature.assign(q, q + outcome.streams.count);
    }
    return outcome;
}

std::string with_header(const std::string& header_lines, const std::string& data) {
    return "type=wu\n" + header_lines + "end_seti_header\n" + data;
}

okrelt::SampleVectors random_samples(size_t count, unsigned seed) {
    std::mt19937 random(seed);
    okrelt::SampleVectors samples;
    for (size_t k = 0; k < count; ++k) {
        samples.in_phase.push_back(random() & 1 ? 1 : -1);
        samples.quadrature.push_back(random() & 1 ? 1 : -1);
    }
    return samples;
}

std::string written(const okrelt::SampleVectors& samples, const okrelt::WriterOptions& options) {
    TempDir dir;
    const std::string path = dir.file("written.sah");
    okrelt::FileHandle file(std::fopen(path.c_str(), "wb"));
    EXPECT_EQ(okrelt::write_work_unit(file.get(), samples, options), 0);
    file.reset();
    return okrelt_test::read_file(path);
}

const char* const NOT_FOUND = "nsamples= header not found, assuming default of 1048576 samples.\n";
const char* const PARSE_FAILED = "Failed to parse nsamples= header, assuming default of 1048576 samples.\n";
const char* const UNEXPECTED_END = "Unexpected end of WU while searching for end_seti_header\n";

TEST(WriterRoundTrip, DecodesTheSamplesItEncoded) {
    for (size_t count : {size_t{0}, size_t{1}, size_t{2}, size_t{3}, size_t{1000}, size_t{65537}}) {
        const okrelt::SampleVectors samples = random_samples(count, 7);
        const ReadOutcome outcome = read_bytes(written(samples, {}));
        ASSERT_EQ(outcome.status, 0);
        if (count == 0) {
            // A declared count of 0 is no count at all: the default applies.
            EXPECT_EQ(outcome.out, "nsamples=0\n" + std::string(NOT_FOUND));
        } else {
            EXPECT_EQ(outcome.out, "nsamples=" + std::to_string(count) + "\n");
        }
        EXPECT_EQ(outcome.in_phase, samples.in_phase) << count;
        EXPECT_EQ(outcome.quadrature, samples.quadrature) << count;
    }
}

TEST(Writer, ItsDefaultIsTheBundledExampleByteForByte) {
    const okrelt::SampleVectors samples = okrelt::make_example_samples(okrelt::EXAMPLE_SAMPLES, okrelt::EXAMPLE_SEED);
    EXPECT_TRUE(written(samples, {}) == okrelt_test::read_file(OKRELT_EXAMPLE_WORK_UNIT));
}

TEST(Writer, AFullDiskIsReported) {
    okrelt::FileHandle full(std::fopen("/dev/full", "wb"));
    ASSERT_TRUE(full);
    for (const bool later : {false, true}) {
        okrelt::WriterOptions options;
        options.later_format = later;
        EXPECT_EQ(okrelt::write_work_unit(full.get(), random_samples(300, 1), options), 1) << later;
        std::clearerr(full.get());
    }
}

TEST(LineEnds, CrLfDecodesExactlyLikeLf) {
    const okrelt::SampleVectors samples = random_samples(20000, 11);
    okrelt::WriterOptions crlf;
    crlf.line_end = "\r\n";
    for (int chars : {64, 98, 99, 150}) {
        okrelt::WriterOptions lf;
        lf.chars_per_line = chars;
        crlf.chars_per_line = chars;
        const ReadOutcome from_lf = read_bytes(written(samples, lf));
        const ReadOutcome from_crlf = read_bytes(written(samples, crlf));
        ASSERT_EQ(from_lf.status, 0);
        ASSERT_EQ(from_crlf.status, 0);
        EXPECT_EQ(from_crlf.out, from_lf.out);
        EXPECT_EQ(from_crlf.streams.count, from_lf.streams.count) << chars;
        EXPECT_EQ(from_crlf.in_phase, from_lf.in_phase) << chars;
        EXPECT_EQ(from_crlf.quadrature, from_lf.quadrature) << chars;
    }
}

TEST(LineEnds, ReadLimitsCountAFoldedPairAsOneCharacter) {
    // 98 characters and CR LF fold to 99: one piece, its last (the newline)
    // undecoded. Unfolded, the CR would be decoded as a 99th character.
    const std::string line(98, '_');
    const ReadOutcome outcome = read_bytes("nsamples=1000\r\nend_seti_header\r\n" + line + "\r\n");
    ASSERT_EQ(outcome.status, 0);
    EXPECT_EQ(outcome.streams.count, 98 * 3);

    // A header line of 64 characters and CR LF is one piece of 65, so the
    // next line is read as a line of its own.
    const std::string padded = "x" + std::string(63, 'y');
    const ReadOutcome header = read_bytes(padded + "\r\nnsamples=9\r\nend_seti_header\r\n!!!!\r\n");
    ASSERT_EQ(header.status, 0);
    EXPECT_EQ(header.out, "nsamples=9\n");
    EXPECT_EQ(header.streams.count, 9);
}

TEST(LineEnds, ALoneCarriageReturnIsData) {
    // CR (13) decodes by its low six bits like any other byte, (13 - 32) & 63
    // = 45, and the character after it still counts.
    const ReadOutcome outcome = read_bytes(with_header("nsamples=6\n", "\r_\n"));
    ASSERT_EQ(outcome.status, 0);
    ASSERT_EQ(outcome.streams.count, 6);
    EXPECT_EQ(outcome.in_phase, (std::vector<int8_t>{1, 1, -1, 1, 1, 1}));    // bits 0, 2, 4 of 45, then "_"
    EXPECT_EQ(outcome.quadrature, (std::vector<int8_t>{-1, 1, 1, 1, 1, 1}));  // bits 1, 3, 5
}

TEST(Header, CountVariants) {
    struct Case {
        const char* lines;
        std::string out;
        int32_t declared;
    };
    const std::vector<Case> cases = {
        {"", NOT_FOUND, 1048576},
        {"nsamples=0\n", std::string("nsamples=0\n") + NOT_FOUND, 1048576},
        {"nsamples=abc\n", std::string(PARSE_FAILED) + "nsamples=1048576\n", 1048576},
        {"nsamplesX=5\n", std::string(PARSE_FAILED) + "nsamples=1048576\n", 1048576},
        {"nsamples=\n", std::string(PARSE_FAILED) + "nsamples=1048576\n", 1048576},
        {"nsamples=-\n", std::string(PARSE_FAILED) + "nsamples=1048576\n", 1048576},
        {"nsamples=  42\n", "nsamples=42\n", 42},
        {"nsamples=\t+42xyz\n", "nsamples=42\n", 42},
        {"nsamples=-3\n", std::string("nsamples=-3\n") + NOT_FOUND, 1048576},
        {"nsamples=-2147483648\n", std::string("nsamples=-2147483648\n") + NOT_FOUND, 1048576},
        {"nsamples=99999999999\n", std::string(PARSE_FAILED) + "nsamples=1048576\n", 1048576},
        {"nsamples=2147483648\n", std::string(PARSE_FAILED) + "nsamples=1048576\n", 1048576},
        {"nsamples=5\nnsamples=7\n", "nsamples=5\nnsamples=7\n", 7},
        {"nsamples=5\nnsamples=0\n", std::string("nsamples=5\nnsamples=0\n") + NOT_FOUND, 1048576},
        {" nsamples=5\n", NOT_FOUND, 1048576},
    };
    for (const Case& c : cases) {
        const ReadOutcome outcome = read_bytes(with_header(c.lines, ""));
        ASSERT_EQ(outcome.status, 0) << c.lines;
        EXPECT_EQ(outcome.out, c.out) << c.lines;
        EXPECT_EQ(outcome.streams.capacity, c.declared) << c.lines;
        EXPECT_EQ(outcome.streams.count, 0) << c.lines;
    }
}

TEST(Header, EndMarkerRules) {
    // Not recognised after a blank: the file ends inside the header.
    EXPECT_EQ(read_bytes(" end_seti_header\n!!!\n").status, 1);
    EXPECT_EQ(read_bytes(" end_seti_header\n!!!\n").out, UNEXPECTED_END);
    // Recognised with more text after it.
    const ReadOutcome longer = read_bytes("nsamples=3\nend_seti_header_and_more\n!!\n");
    ASSERT_EQ(longer.status, 0);
    EXPECT_EQ(longer.streams.count, 3);
    // A marker without a newline at the end of the file meets the end first.
    const ReadOutcome unterminated = read_bytes("nsamples=3\nend_seti_header");
    EXPECT_EQ(unterminated.status, 1);
    EXPECT_EQ(unterminated.out, "nsamples=3\n" + std::string(UNEXPECTED_END));
    EXPECT_EQ(read_bytes("").out, UNEXPECTED_END);
    // A file that ends right after the marker decodes nothing.
    const ReadOutcome empty = read_bytes(with_header("nsamples=10\n", ""));
    ASSERT_EQ(empty.status, 0);
    EXPECT_EQ(empty.streams.count, 0);
}

TEST(Header, LongLinesAreReadInPiecesOf65) {
    // The second piece of this line begins with "nsamples" and is parsed.
    const ReadOutcome split = read_bytes(std::string(65, 'x') + "nsamples=12\nend_seti_header\n_____\n");
    ASSERT_EQ(split.status, 0);
    EXPECT_EQ(split.out, "nsamples=12\n");
    EXPECT_EQ(split.streams.count, 12);

    // An end-marker line of 65 or more characters: the rest of the line from
    // its 66th character is the first data piece, and is decoded.
    const std::string marker = "end_seti_header" + std::string(50, 'z');
    const ReadOutcome rest = read_bytes("nsamples=30\n" + marker + "_____\n");
    ASSERT_EQ(rest.status, 0);
    EXPECT_EQ(rest.streams.count, 15);
    EXPECT_EQ(rest.in_phase, std::vector<int8_t>(15, 1));
}

// What the header says about the recording, read from bytes of either
// format, with everything printed meanwhile.
okrelt::WorkUnitInfo header_info(const std::string& bytes, std::string* out) {
    TempDir dir;
    okrelt_test::write_file(dir.file("unit.wu"), bytes);
    SampleStreams streams;
    okrelt::WorkUnitInfo info;
    testing::internal::CaptureStdout();
    EXPECT_EQ(okrelt::load_work_unit(dir.file("unit.wu").c_str(), &streams, &info), 0);
    *out = testing::internal::GetCapturedStdout();
    return info;
}

std::string classic_header_with(const std::string& rate, const std::string& centre, const std::string& jd) {
    return "type=wu\nreceiver=ao_1420\nsubband_sample_rate=" + rate + "\nsubband_center=" + centre +
           "\ntime_recorded=" + jd + " (Fri Mar  3 08:36:01 2000)\nnsamples=3\nend_seti_header\n!\n";
}

std::string later_header_with(const std::string& centre, const std::string& jd) {
    return "<workunit>\n<workunit_header>\n<name>x</name>\n<subband_desc><center>" + centre +
           "</center></subband_desc>\n<time_recorded_jd>" + jd +
           "</time_recorded_jd>\n<nsamples>4</nsamples>\n</workunit_header>\n"
           "<data encoding=\"x-setiathome\">\n!!!!\n</data>\n</workunit>\n";
}

size_t count_of(const std::string& text, const std::string& part) {
    size_t n = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
    return n;
}

// Header values out of range are left out with a note, alike in both
// formats (a later unit's rate out of range is refused, see the later
// format's tests); values in range are kept.
TEST(HeaderValues, OutOfRangeValuesAreLeftOutWithANote) {
    for (const std::string value : {"1e300", "1e12", "0", "-1", "nan", "inf"}) {
        const bool a_number = value != "nan" && value != "inf";   // others are no value at all: no note
        std::string out;
        const okrelt::WorkUnitInfo classic = header_info(classic_header_with(value, value, value), &out);
        EXPECT_FALSE(classic.subband_rate_known) << value;
        EXPECT_EQ(classic.subband_rate, okrelt::DEFAULT_SUBBAND_RATE) << value;
        EXPECT_FALSE(classic.center_hz) << value;
        EXPECT_FALSE(classic.time_recorded_jd) << value;
        // A classic time is its Julian date, then the calendar date: gone with it.
        EXPECT_EQ(classic.time_recorded.empty(), a_number) << value;
        EXPECT_EQ(count_of(out, " lies outside "), a_number ? 3u : 0u) << out;
        const okrelt::WorkUnitInfo later = header_info(later_header_with(value, value), &out);
        EXPECT_FALSE(later.center_hz) << value;
        EXPECT_FALSE(later.time_recorded_jd) << value;
        EXPECT_EQ(count_of(out, " lies outside "), a_number ? 2u : 0u) << out;
    }
    std::string out;
    const okrelt::WorkUnitInfo classic =
        header_info(classic_header_with("9765.625", "1418920288.09", "2451606.85836"), &out);
    EXPECT_TRUE(classic.subband_rate_known);
    EXPECT_EQ(classic.center_hz, 1418920288.09);
    EXPECT_EQ(classic.time_recorded_jd, 2451606.85836);
    EXPECT_EQ(classic.receiver, "ao_1420");
    EXPECT_EQ(out.find(" lies outside "), std::string::npos) << out;
    const okrelt::WorkUnitInfo later = header_info(later_header_with("1418920288.09", "2451606.85836"), &out);
    EXPECT_EQ(later.center_hz, 1418920288.09);
    EXPECT_EQ(later.time_recorded_jd, 2451606.85836);
}

// The pointing and the telescope's place are numbers within their ranges,
// or absent: a value out of range is left out with a note.
TEST(HeaderValues, PointingAndPlaceAreCheckedWhereRead) {
    const auto unit = [](const std::string& fields) {
        return "<workunit>\n<workunit_header>\n<name>x</name>\n" + fields +
               "<nsamples>4</nsamples>\n</workunit_header>\n<data encoding=\"x-setiathome\">\n!!!!\n</data>\n</workunit>\n";
    };
    std::string out;
    okrelt::WorkUnitInfo info = header_info(
        unit("<start_ra>24</start_ra><start_dec>-90.5</start_dec><end_ra>23.99</end_ra><end_dec>90</end_dec>\n"
             "<receiver_cfg><glon>400</glon><glat>10</glat></receiver_cfg>\n"),
        &out);
    EXPECT_FALSE(info.start_ra_hours);
    EXPECT_FALSE(info.start_dec_degrees);
    EXPECT_EQ(info.end_ra_hours, 23.99);
    EXPECT_EQ(info.end_dec_degrees, 90.0);
    EXPECT_FALSE(info.geolocation);
    EXPECT_EQ(count_of(out, " lies outside "), 2u) << out;
    EXPECT_EQ(count_of(out, " lies off the Earth"), 1u) << out;

    info = header_info(unit("<start_ra>5.5 h</start_ra><receiver_cfg><glon>-66.75</glon><glat>18.34</glat>"
                            "<galt>2e5</galt></receiver_cfg>\n"),
                       &out);
    EXPECT_FALSE(info.start_ra_hours);   // not a number: no value, no note
    ASSERT_TRUE(info.geolocation);
    EXPECT_EQ(info.geolocation->longitude, -66.75);
    EXPECT_FALSE(info.geolocation->altitude);
    EXPECT_EQ(count_of(out, " lies outside "), 1u) << out;
}

TEST(HeaderValues, TheRangesEnds) {
    EXPECT_TRUE(okrelt::plausible_subband_rate(500.0));       // a sound rate of 1000 Hz
    EXPECT_FALSE(okrelt::plausible_subband_rate(499.7));
    EXPECT_TRUE(okrelt::plausible_subband_rate(192000.0));    // 384000 Hz
    EXPECT_FALSE(okrelt::plausible_subband_rate(192000.3));
    EXPECT_TRUE(okrelt::plausible_center_hz(1e-3));
    EXPECT_FALSE(okrelt::plausible_center_hz(0.0));
    EXPECT_TRUE(okrelt::plausible_center_hz(999999999999.0));
    EXPECT_FALSE(okrelt::plausible_center_hz(okrelt::MAX_CENTER_HZ));
    EXPECT_TRUE(okrelt::plausible_julian_date(2429629.5));    // 1940-01-01 00:00 UTC
    EXPECT_FALSE(okrelt::plausible_julian_date(2429629.49));
    EXPECT_TRUE(okrelt::plausible_julian_date(2488069.5));    // 2100-01-01 00:00 UTC
    EXPECT_FALSE(okrelt::plausible_julian_date(2488069.51));
    for (const double not_a_number : {std::nan(""), HUGE_VAL, -HUGE_VAL}) {
        EXPECT_FALSE(okrelt::plausible_subband_rate(not_a_number));
        EXPECT_FALSE(okrelt::plausible_center_hz(not_a_number));
        EXPECT_FALSE(okrelt::plausible_julian_date(not_a_number));
    }
}

TEST(Data, ReadLimitsAndTheEndOfFile) {
    const std::string header = "nsamples=100000\nend_seti_header\n";
    // 99 characters and a newline: the 99th is lost, the newline piece decodes nothing.
    EXPECT_EQ(read_bytes(header + std::string(99, '_') + "\n").streams.count, 98 * 3);
    // 150 characters: pieces of 99 (98 decoded) and 51 plus the newline (51 decoded).
    EXPECT_EQ(read_bytes(header + std::string(150, '_') + "\n").streams.count, (98 + 51) * 3);
    // A last line without a newline, shorter than 99, is never decoded.
    EXPECT_EQ(read_bytes(header + "____\n" + "_____").streams.count, 4 * 3);
    // A last piece of exactly 99 characters has not met the end yet.
    EXPECT_EQ(read_bytes(header + std::string(99, '_')).streams.count, 98 * 3);
    // A line holding only a newline decodes nothing.
    EXPECT_EQ(read_bytes(header + "\n\n\n__\n").streams.count, 2 * 3);
}

TEST(Data, NulEndsTheTextOfAPiece) {
    const std::string header = "nsamples=100\nend_seti_header\n";
    // "AB\0CD\n": only the text before the NUL counts, less its last character.
    const ReadOutcome partial = read_bytes(header + std::string("_ \0__\n", 6));
    ASSERT_EQ(partial.status, 0);
    EXPECT_EQ(partial.in_phase, std::vector<int8_t>(3, 1));
    EXPECT_EQ(read_bytes(header + std::string("\0___\n", 5)).streams.count, 0);
}

// Pieces as both formats read them: a carriage return that meets the limit
// still folds with the newline after it (or leaves the next character to the
// next piece), and a NUL inside a piece does not shorten it.
TEST(Pieces, TheLimitNulsAndTheEndOfTheFile) {
    const std::string text("abc\r\nab\rX\nde\0f\ngh\r", 18);
    okrelt::FileHandle file(std::tmpfile());
    ASSERT_TRUE(file);
    ASSERT_EQ(std::fwrite(text.data(), 1, text.size(), file.get()), text.size());
    std::rewind(file.get());
    okrelt::PieceSource source(file.get());
    using okrelt::PieceStatus;
    struct Piece {
        int limit;
        PieceStatus status;
        std::string text;
    };
    for (const Piece& want : {Piece{5, PieceStatus::READ, "abc\n"}, Piece{4, PieceStatus::READ, "ab\r"},
                              Piece{4, PieceStatus::READ, "X\n"}, Piece{100, PieceStatus::READ, std::string("de\0f\n", 5)},
                              Piece{3, PieceStatus::READ, "gh"}, Piece{3, PieceStatus::AT_END, "\r"}}) {
        char buffer[100];
        int length = -1;
        EXPECT_TRUE(okrelt::read_piece(&source, buffer, want.limit, &length) == want.status) << want.text;
        EXPECT_EQ(std::string(buffer, static_cast<size_t>(length)), want.text);
        EXPECT_EQ(buffer[length], '\0') << want.text;
    }

    // A carriage return that ends one read from the file folds with the
    // newline that starts the next.
    const std::string line(okrelt::PIECE_SOURCE_BYTES - 1, '_');
    okrelt::FileHandle split(std::tmpfile());
    ASSERT_TRUE(split);
    std::fputs((line + "\r\nx\r\n").c_str(), split.get());
    std::rewind(split.get());
    okrelt::PieceSource from_split(split.get());
    std::string pieces;
    std::vector<char> buffer(okrelt::PIECE_SOURCE_BYTES);
    int length = 0;
    while (okrelt::read_piece(&from_split, buffer.data(), 4097, &length) == okrelt::PieceStatus::READ) {
        pieces.append(buffer.data(), static_cast<size_t>(length));
    }
    EXPECT_EQ(pieces, line + "\nx\n");
}

TEST(Data, StopsAtTheDeclaredCountInsideACharacter) {
    const ReadOutcome outcome = read_bytes(with_header("nsamples=4\n", "5_\n____\n"));
    ASSERT_EQ(outcome.status, 0);
    EXPECT_EQ(outcome.streams.count, 4);
    EXPECT_EQ(outcome.in_phase, (std::vector<int8_t>{1, 1, 1, 1}));
    EXPECT_EQ(outcome.quadrature, (std::vector<int8_t>{-1, -1, -1, 1}));
}

// Both streams lie in one mapping that starts on a huge page's boundary,
// each followed by its spare bytes, all zero.
TEST(Data, EachStreamHasItsSpareBytesAndNothingIsWrittenThere) {
    const int32_t count = 60;
    const ReadOutcome outcome = read_bytes(with_header("nsamples=60\n", std::string(24, '_') + "\n"));
    ASSERT_EQ(outcome.status, 0);
    ASSERT_EQ(outcome.streams.count, count);
    const int8_t* const base = static_cast<const int8_t*>(outcome.streams.storage.get());
    const size_t mapped = outcome.streams.storage.get_deleter().bytes;
    EXPECT_EQ(reinterpret_cast<uintptr_t>(base) % okrelt::HUGE_PAGE_BYTES, 0u);
    EXPECT_GE(outcome.streams.quadrature - outcome.streams.in_phase, count + okrelt::SPARE_SAMPLES);
    for (const int8_t* stream : {outcome.streams.in_phase, outcome.streams.quadrature}) {
        ASSERT_GE(stream, base);
        ASSERT_LE(static_cast<size_t>(stream - base) + count + okrelt::SPARE_SAMPLES, mapped);
        for (int32_t k = count; k < count + okrelt::SPARE_SAMPLES; ++k) EXPECT_EQ(stream[k], 0) << k;
    }
}

TEST(Data, EveryByteDecodesByItsLowSixBits) {
    // Grave accent (96) is code 0 like the blank; 0xFF is code 31; "!" is code 1.
    const ReadOutcome outcome = read_bytes(with_header("nsamples=9\n", "`\xff!\n"));
    ASSERT_EQ(outcome.status, 0);
    EXPECT_EQ(outcome.in_phase, (std::vector<int8_t>{-1, -1, -1, 1, 1, 1, 1, -1, -1}));
    EXPECT_EQ(outcome.quadrature, (std::vector<int8_t>{-1, -1, -1, 1, 1, -1, -1, -1, -1}));
}

// Sixteen characters at a time decode as the format defines them one by
// one: every byte value in every lane, and nothing written beyond.
TEST(Data, WideDecodingMatchesTheDefinitionForEveryByteInEveryLane) {
    constexpr int ROUNDS = okrelt::WIDE_DECODE_CHARS;
    std::string text;
    for (int k = 0; k < 256 * ROUNDS + 5; ++k) text += static_cast<char>((k + k / 256) % 256);
    const int chars = static_cast<int>(text.size());
    const int8_t untouched = 0x55;
    std::vector<int8_t> in_phase(3 * text.size(), untouched);
    std::vector<int8_t> quadrature(3 * text.size(), untouched);
    const int done = okrelt::decode_chars_wide(text.data(), chars, in_phase.data(), quadrature.data());
#if defined(__x86_64__)
    if (__builtin_cpu_supports("ssse3")) {
        EXPECT_EQ(done, 256 * ROUNDS);
    }
#endif
    ASSERT_EQ(done % okrelt::WIDE_DECODE_CHARS, 0);
    for (int p = 0; p < chars; ++p) {
        const int code = (static_cast<unsigned char>(text[static_cast<size_t>(p)]) - 32) & 63;
        for (int pair = 0; pair < 3; ++pair) {
            const size_t at = static_cast<size_t>(3 * p + pair);
            const int8_t want_i = p < done ? ((code >> (2 * pair)) & 1 ? 1 : -1) : untouched;
            const int8_t want_q = p < done ? ((code >> (2 * pair + 1)) & 1 ? 1 : -1) : untouched;
            ASSERT_EQ(in_phase[at], want_i) << p << " " << pair;
            ASSERT_EQ(quadrature[at], want_q) << p << " " << pair;
        }
    }
}

// The later format's data many at a time, against its definition: every
// data character and every raw byte in every lane, nothing written beyond,
// and the run holding a character outside " " to "_" not taken.
TEST(Data, WideLaterDecodingMatchesTheDefinition) {
#if defined(__x86_64__)
    const bool wide = __builtin_cpu_supports("ssse3");
#else
    const bool wide = false;
#endif
    std::string text;
    for (int k = 0; k < 64 * 16 + 4; ++k) text += static_cast<char>(' ' + (k + k / 64) % 64);
    const int chars = static_cast<int>(text.size());
    EXPECT_EQ(okrelt::data_chars_wide(text.data(), chars), wide ? 64 * 16 : 0);
    for (const char outside : {'\x1f', '`', '\0', '\xff'}) {
        std::string spoilt = text;
        spoilt[37] = outside;
        EXPECT_EQ(okrelt::data_chars_wide(spoilt.data(), chars), wide ? 32 : 0) << int{outside};
    }

    const uint8_t untouched = 0x55;
    std::vector<uint8_t> raw(text.size(), untouched);
    const int grouped = okrelt::decode_groups_wide(text.data(), chars, raw.data());
    EXPECT_EQ(grouped, wide ? 64 * 16 : 0);
    for (size_t g = 0; g < text.size() / 4; ++g) {
        const auto v = [&text, g](int c) { return static_cast<uint32_t>(text[4 * g + static_cast<size_t>(c)] - ' '); };
        const uint32_t bits = v(0) | v(1) << 6 | v(2) << 12 | v(3) << 18;
        for (size_t b = 0; b < 3; ++b) {
            const uint8_t want = 4 * g < static_cast<size_t>(grouped) ? static_cast<uint8_t>(bits >> (8 * b)) : untouched;
            ASSERT_EQ(raw[3 * g + b], want) << g << " " << b;
        }
    }

    std::vector<uint8_t> bytes;
    for (int k = 0; k < 256 * 16 + 2; ++k) bytes.push_back(static_cast<uint8_t>(k + k / 256));
    const int pairs = static_cast<int>(bytes.size() / 2);
    std::vector<int8_t> in_phase(4 * bytes.size(), static_cast<int8_t>(untouched));
    std::vector<int8_t> quadrature(4 * bytes.size(), static_cast<int8_t>(untouched));
    const int done = okrelt::two_bit_pairs_wide(bytes.data(), pairs, in_phase.data(), quadrature.data());
    EXPECT_EQ(done, wide ? 256 * 8 : 0);
    for (size_t k = 0; k < in_phase.size(); ++k) {
        // Sample byte k / 4 is raw byte (k / 4) ^ 1; sample k % 4 of it has
        // its real part in the upper bit of its pair.
        const int sample = bytes[(k / 4) ^ 1] >> (2 * (k % 4));
        const bool taken = k / 8 < static_cast<size_t>(done);
        ASSERT_EQ(in_phase[k], taken ? (sample & 2 ? 1 : -1) : static_cast<int8_t>(untouched)) << k;
        ASSERT_EQ(quadrature[k], taken ? (sample & 1 ? 1 : -1) : static_cast<int8_t>(untouched)) << k;
    }
}

}  // namespace
