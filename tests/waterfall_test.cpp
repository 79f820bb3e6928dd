// okrelt-waterfall end to end: where a tone shows in the picture and the peak
// table, the table's first row against okrelt's RFI factor and the rules of
// its other rows, averaged rows, features of the integrated spectrum, the
// PNG read by an independent parser, the options' limits and its failures;
// the de-Doppler search's hits in the table and drawn beside their signals.
#include <gtest/gtest.h>

#include <cairo.h>

#include <locale.h>
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <sstream>
#include <string>

#include "common/block_sizes.h"
#include "common/sky.h"
#include "waterfall/colour_map.h"
#include "tests/support/test_support.h"
#include "tests/support/work_units.h"
#include "waterfall/hits_overlay.h"
#include "waterfall/picture.h"
#include "waterfall/waterfall.h"
#include "workunit/reader_internal.h"

namespace {

using okrelt_test::RunResult;
using okrelt_test::TempDir;

RunResult waterfall(const TempDir& dir, const std::vector<std::string>& args) {
    okrelt_test::RunOptions options;
    options.program = OKRELT_WATERFALL_BINARY;
    options.args = args;
    return okrelt_test::run_program(dir.path(), options);
}

// The first row of the peak table: block, offset in Hz and magnitude.
struct FirstPeak {
    int block = -1;
    double offset_hz = 0.0;
    long magnitude = -1;
};

FirstPeak first_peak(const std::string& out) {
    FirstPeak peak;
    const size_t row = out.find("\n    1 ");
    if (row == std::string::npos) return peak;
    std::istringstream line(out.substr(row + 1));
    int rank = 0;
    double time = 0.0;
    std::string sky;
    line >> rank >> peak.block >> time >> peak.offset_hz >> sky >> peak.magnitude;
    return peak;
}

TEST(Waterfall, AToneShowsWhereAndWhenItIs) {
    // Four blocks of noise with a tone at +1500 Hz during the second only.
    const int32_t count = 4 * okrelt::BLOCK_SAMPLES;
    const double rate = 9765.625;
    const double hz = 1500.0;
    std::mt19937 random(3);
    std::normal_distribution<double> noise(0.0, 1.0);
    okrelt::SampleVectors samples;
    for (int32_t k = 0; k < count; ++k) {
        const bool on = k / okrelt::BLOCK_SAMPLES == 1;
        const double phase = 2.0 * M_PI * std::fmod(hz / rate * k, 1.0);
        samples.in_phase.push_back(noise(random) + (on ? std::cos(phase) : 0.0) >= 0.0 ? 1 : -1);
        samples.quadrature.push_back(noise(random) + (on ? std::sin(phase) : 0.0) >= 0.0 ? 1 : -1);
    }
    TempDir dir;
    okrelt::WriterOptions options;
    options.later_format = true;
    okrelt_test::write_work_unit_file(dir.file("tone.wu"), samples, options);
    const RunResult run = waterfall(dir, {"tone.wu"});
    ASSERT_EQ(run.exit_status, 0) << run.out << run.err;
    EXPECT_NE(run.out.find("Picture: tone.png\n"), std::string::npos);

    const FirstPeak peak = first_peak(run.out);
    EXPECT_EQ(peak.block, 1);
    EXPECT_NEAR(peak.offset_hz, hz, rate / okrelt::BLOCK_SAMPLES);

    // The brightest colour of the map lies only on the tone: its column
    // (1024-point transforms, 0 Hz at the plot's middle) and the rows of the
    // second quarter of the time.
    cairo_surface_t* picture = cairo_image_surface_create_from_png(dir.file("tone.png").c_str());
    ASSERT_EQ(cairo_surface_status(picture), CAIRO_STATUS_SUCCESS);
    const unsigned char* data = cairo_image_surface_get_data(picture);
    const int stride = cairo_image_surface_get_stride(picture);
    const double tone_x = okrelt::PLOT_LEFT + okrelt::PLOT_WIDTH * (0.5 + hz / rate);
    int bright = 0;
    for (int y = okrelt::PLOT_TOP; y < okrelt::PLOT_TOP + okrelt::PLOT_HEIGHT; ++y) {
        for (int x = okrelt::PLOT_LEFT; x < okrelt::PLOT_LEFT + okrelt::PLOT_WIDTH; ++x) {
            const uint32_t pixel = reinterpret_cast<const uint32_t*>(data + static_cast<long>(y) * stride)[x];
            const int r = pixel >> 16 & 0xff;
            const int g = pixel >> 8 & 0xff;
            const int b = pixel & 0xff;
            if (r < 200 || g < 200 || b > 100) continue;   // the map's yellow top only
            ++bright;
            EXPECT_LE(std::fabs(x - tone_x), 2.0) << x << "," << y;
            EXPECT_GE(y, okrelt::PLOT_TOP + okrelt::PLOT_HEIGHT / 4 - 1) << x << "," << y;
            EXPECT_LE(y, okrelt::PLOT_TOP + okrelt::PLOT_HEIGHT / 2 + 1) << x << "," << y;
        }
    }
    EXPECT_GT(bright, okrelt::PLOT_HEIGHT / 8);
    cairo_surface_destroy(picture);
}

// A tone far too weak for any one row (amplitude 0.035 of the noise's)
// stands out of the integrated spectrum, read back from --csv, at its
// frequency and sign.
TEST(Waterfall, TheIntegratedSpectrumShowsAToneNoRowShows) {
    const int32_t count = 2 * 1048576;
    const double rate = 9765.625;
    const double hz = -160 * rate / 1024;   // on a bin of the 1024-point transforms
    std::mt19937 random(11);
    std::normal_distribution<double> noise(0.0, 1.0);
    okrelt::SampleVectors samples;
    for (int32_t k = 0; k < count; ++k) {
        const double phase = 2.0 * M_PI * std::fmod(hz / rate * k, 1.0);
        samples.in_phase.push_back(noise(random) + 0.035 * std::cos(phase) >= 0.0 ? 1 : -1);
        samples.quadrature.push_back(noise(random) + 0.035 * std::sin(phase) >= 0.0 ? 1 : -1);
    }
    TempDir dir;
    okrelt::WriterOptions options;
    options.later_format = true;
    okrelt_test::write_work_unit_file(dir.file("weak.wu"), samples, options);
    const RunResult run = waterfall(dir, {"weak.wu", "--csv", "spectrum.csv"});
    ASSERT_EQ(run.exit_status, 0) << run.out << run.err;

    std::istringstream csv(okrelt_test::read_file(dir.file("spectrum.csv")));
    std::string line;
    std::getline(csv, line);
    EXPECT_EQ(line, "offset_hz,sky_mhz,power_db_above_floor");
    std::vector<double> offsets;
    std::vector<double> db;
    while (std::getline(csv, line)) {
        offsets.push_back(std::atof(line.c_str()));
        db.push_back(std::atof(line.c_str() + line.rfind(',') + 1));
    }
    ASSERT_EQ(db.size(), 1024u);
    const size_t top = static_cast<size_t>(std::max_element(db.begin(), db.end()) - db.begin());
    EXPECT_NEAR(offsets[top], hz, 1e-6);
    // The noise bins: all but the tone's and its window's neighbours.
    std::vector<double> rest;
    for (size_t i = 0; i < db.size(); ++i) {
        if (i + 2 < top || i > top + 2) rest.push_back(db[i]);
    }
    std::nth_element(rest.begin(), rest.begin() + static_cast<long>(rest.size() / 2), rest.end());
    const double median = rest[rest.size() / 2];
    double mean = 0.0;
    for (const double v : rest) mean += v / static_cast<double>(rest.size());
    double variance = 0.0;
    for (const double v : rest) variance += (v - mean) * (v - mean) / static_cast<double>(rest.size());
    EXPECT_GE(db[top] - median, 10.0 * std::sqrt(variance)) << db[top] << " dB over scatter " << std::sqrt(variance);
}

// A burst of outer 4-bit levels in four transforms shows in its row's power,
// with four transforms averaged into each row.
TEST(Waterfall, ABurstShowsInTheRowPowerOfItsAveragedRow) {
    okrelt::SampleStreams streams;
    const int32_t count = 64 * 1024;
    ASSERT_EQ(okrelt::reserve_streams(&streams, count), 0);
    std::mt19937 random(5);
    for (int32_t k = 0; k < count; ++k) {
        const int8_t size = k / 1024 >= 20 && k / 1024 < 24 ? 2 : 1;   // codes 2 and -2: the outer levels
        streams.in_phase[k] = static_cast<int8_t>(random() & 1 ? size : -size);
        streams.quadrature[k] = static_cast<int8_t>(random() & 1 ? size : -size);
    }
    streams.count = count;
    streams.levels = okrelt::FOUR_BIT_LEVELS;
    const okrelt::Spectrogram spectrogram = okrelt::make_spectrogram(streams, 1024, 4, okrelt::PLOT_WIDTH, okrelt::PLOT_HEIGHT);
    ASSERT_EQ(spectrogram.rows, 16);
    const std::vector<double> power = okrelt::row_power_db(spectrogram);
    const double outer_over_inner = 20.0 * std::log10(okrelt::FOUR_BIT_LEVELS[2] / okrelt::FOUR_BIT_LEVELS[1]);
    for (int row = 0; row < 16; ++row) EXPECT_NEAR(power[row], row == 5 ? outer_over_inner : 0.0, 1e-9) << row;
}

// --range places the colours: a range wholly above every cell paints the map's
// lowest colour, one wholly below its highest (looked at clear of the ring).
TEST(Waterfall, TheColourRangeIsHonoured) {
    TempDir dir;
    okrelt_test::write_file(dir.file("work_unit.sah"), okrelt_test::read_file(OKRELT_REFERENCE_WORK_UNIT));
    const std::pair<const char*, int> ranges[] = {{"100:200", 0}, {"-200:-100", okrelt::COLOUR_MAP_SIZE - 1}};
    for (const auto& [range, entry] : ranges) {
        ASSERT_EQ(waterfall(dir, {"--range", range, "-o", "ranged.png"}).exit_status, 0) << range;
        cairo_surface_t* picture = cairo_image_surface_create_from_png(dir.file("ranged.png").c_str());
        ASSERT_EQ(cairo_surface_status(picture), CAIRO_STATUS_SUCCESS);
        const unsigned char* data = cairo_image_surface_get_data(picture);
        const int stride = cairo_image_surface_get_stride(picture);
        const auto channel = [entry = entry](int c) { return static_cast<uint32_t>(okrelt::VIRIDIS[entry][c] * 255.0f + 0.5f); };
        const uint32_t colour = channel(0) << 16 | channel(1) << 8 | channel(2);
        int other = 0;
        for (int y = okrelt::PLOT_TOP + 40; y < okrelt::PLOT_TOP + okrelt::PLOT_HEIGHT; y += 7) {
            for (int x = okrelt::PLOT_LEFT + okrelt::PLOT_WIDTH * 3 / 4; x < okrelt::PLOT_LEFT + okrelt::PLOT_WIDTH; x += 5) {
                other += (reinterpret_cast<const uint32_t*>(data + static_cast<long>(y) * stride)[x] & 0xffffff) != colour;
            }
        }
        EXPECT_EQ(other, 0) << range;
        cairo_surface_destroy(picture);
    }
}

TEST(Waterfall, TheFirstPeakIsOkreltsRfiFactor) {
    for (const char* unit : {OKRELT_EXAMPLE_WORK_UNIT, OKRELT_REFERENCE_WORK_UNIT}) {
        TempDir dir;
        okrelt_test::write_file(dir.file("work_unit.sah"), okrelt_test::read_file(unit));
        const RunResult converted = okrelt_test::run_okrelt(dir.path());
        const size_t box = converted.out.find("--RFI Factor-------\n**");
        ASSERT_NE(box, std::string::npos) << unit;
        const long factor = std::atol(converted.out.c_str() + converted.out.find("(", box) + 1);
        const RunResult drawn = waterfall(dir, {});
        ASSERT_EQ(drawn.exit_status, 0) << drawn.out << drawn.err;
        EXPECT_EQ(first_peak(drawn.out).magnitude, factor) << unit;
        EXPECT_TRUE(okrelt_test::file_exists(dir.file("work_unit.png")));
    }
}

TEST(Waterfall, AnIndependentParserAcceptsThePng) {
    if (std::system("python3 -c '' 2>/dev/null") != 0) GTEST_SKIP() << "python3 is not installed";
    TempDir dir;
    okrelt_test::write_file(dir.file("work_unit.sah"), okrelt_test::read_file(OKRELT_REFERENCE_WORK_UNIT));
    ASSERT_EQ(waterfall(dir, {"-o", "picture.png"}).exit_status, 0);
    okrelt_test::write_file(dir.file("png.py"),
                            "import struct, sys, zlib\n"
                            "data = open(sys.argv[1], 'rb').read()\n"
                            "assert data[:8] == b'\\x89PNG\\r\\n\\x1a\\n'\n"
                            "at, chunks = 8, []\n"
                            "while at < len(data):\n"
                            "    length, kind = struct.unpack('>I4s', data[at:at + 8])\n"
                            "    body = data[at + 8:at + 8 + length]\n"
                            "    crc, = struct.unpack('>I', data[at + 8 + length:at + 12 + length])\n"
                            "    assert zlib.crc32(kind + body) == crc, kind\n"
                            "    chunks.append((kind, body))\n"
                            "    at += 12 + length\n"
                            "assert chunks[0][0] == b'IHDR' and chunks[-1][0] == b'IEND'\n"
                            "width, height = struct.unpack('>II', chunks[0][1][:8])\n"
                            "zlib.decompress(b''.join(b for k, b in chunks if k == b'IDAT'))\n"
                            "print(width, height)\n");
    const std::string command = "python3 " + dir.file("png.py") + " " + dir.file("picture.png") + " > " + dir.file("size");
    ASSERT_EQ(std::system(command.c_str()), 0);
    EXPECT_EQ(okrelt_test::read_file(dir.file("size")),
              std::to_string(okrelt::PICTURE_WIDTH) + " " + std::to_string(okrelt::PICTURE_HEIGHT) + "\n");
}

TEST(Waterfall, FailuresSayWhyAndLeaveNoPicture) {
    TempDir dir;
    const RunResult missing = waterfall(dir, {"nothing.sah"});
    EXPECT_EQ(missing.exit_status, 1);
    EXPECT_EQ(missing.err, "Error opening nothing.sah: No such file or directory\n");

    okrelt_test::write_file(dir.file("work_unit.sah"), okrelt_test::read_file(OKRELT_REFERENCE_WORK_UNIT));
    ASSERT_TRUE(std::filesystem::create_directory(dir.file("taken.png")));
    for (const char* target : {"no/such/folder/x.png", "taken.png"}) {
        const RunResult unwritable = waterfall(dir, {"-o", target});
        EXPECT_EQ(unwritable.exit_status, 1) << target;
        EXPECT_EQ(unwritable.err.rfind(std::string("okrelt-waterfall: cannot write ") + target + ": ", 0), 0u)
            << unwritable.err;
    }
    for (const auto& entry : std::filesystem::directory_iterator(dir.path())) {
        EXPECT_EQ(entry.path().filename().string().find(".png."), std::string::npos) << entry.path();
    }

    const std::vector<std::vector<std::string>> refused = {
        {"--average", "0"}, {"--range", "5:1"}, {"--range", "5"}, {"--range", "0:300"}, {"-o", "x.jpg"}};
    for (const std::vector<std::string>& args : refused) {
        const RunResult bad = waterfall(dir, args);
        EXPECT_EQ(bad.exit_status, 2) << args[1];
        EXPECT_NE(bad.err.find("Try 'okrelt-waterfall --help'."), std::string::npos) << bad.err;
    }
    for (const char* fft : {"1000", "32", "131072", "x"}) {
        const RunResult bad = waterfall(dir, {"--fft", fft});
        EXPECT_EQ(bad.exit_status, 2) << fft;
        EXPECT_NE(bad.err.find("--fft takes a power of two from 64 to 65536"), std::string::npos) << bad.err;
        EXPECT_NE(bad.err.find("Try 'okrelt-waterfall --help'."), std::string::npos);
    }
}

// The peak table comes from where the running peak rose, however many
// units a process has measured before, and however large their peaks were.
TEST(Waterfall, ASecondUnitGetsItsOwnTable) {
    okrelt::SampleStreams strong;
    okrelt::SampleStreams noise;
    for (okrelt::SampleStreams* streams : {&strong, &noise}) {
        const okrelt::SampleVectors samples = streams == &strong ? okrelt_test::constant_samples(131072, 1, 1)
                                                                 : okrelt::make_example_samples(131072, 7);
        ASSERT_EQ(okrelt::reserve_streams(streams, 131072), 0);
        std::copy(samples.in_phase.begin(), samples.in_phase.end(), streams->in_phase);
        std::copy(samples.quadrature.begin(), samples.quadrature.end(), streams->quadrature);
        streams->count = 131072;
    }
    const std::vector<okrelt::BlockPeak> first = okrelt::find_block_peaks(strong, 3);
    ASSERT_FALSE(first.empty());
    EXPECT_EQ(static_cast<long>(first[0].magnitude), 92681);
    const std::vector<okrelt::BlockPeak> second = okrelt::find_block_peaks(noise, 3);
    ASSERT_EQ(second.size(), 3u);
    EXPECT_LT(second[0].magnitude, 5000.0);
    EXPECT_GE(second[0].magnitude, second[1].magnitude);
}

#if !defined(__SANITIZE_ADDRESS__)
// Whatever the address-space limit, the picture is drawn or refused with a
// message: never an abort or a crash.
TEST(Waterfall, RunningOutOfMemoryIsAMessage) {
    TempDir dir;
    okrelt_test::write_file(dir.file("work_unit.sah"), okrelt_test::read_file(OKRELT_EXAMPLE_WORK_UNIT));
    for (int mib = 16; mib <= 96; mib += 8) {
        okrelt_test::RunOptions options;
        options.program = "/bin/sh";
        options.args = {"-c", "exec prlimit --as=" + std::to_string(mib << 20) + " \"$0\"", OKRELT_WATERFALL_BINARY};
        const RunResult run = okrelt_test::run_program(dir.path(), options);
        const bool could_not_start = run.exit_status == 127 && run.err.find("error while loading") != std::string::npos;
        EXPECT_TRUE(run.exit_status == 0 || run.exit_status == 1 || could_not_start) << mib << " MiB: " << run.exit_status;
        if (run.exit_status == 1) {
            EXPECT_FALSE(run.out.empty() && run.err.empty()) << mib << " MiB";
        }
    }
}
#endif

// Numbers read and written are the same whatever locale the user has.
TEST(Waterfall, AGermanLocaleChangesNoOutput) {
    if (locale_t german = newlocale(LC_ALL_MASK, "de_DE.UTF-8", nullptr)) {
        freelocale(german);
    } else {
        GTEST_SKIP() << "the de_DE.UTF-8 locale is not generated here";
    }
    std::string outputs[2];
    for (int i = 0; i < 2; ++i) {
        TempDir dir;
        okrelt_test::write_file(dir.file("unit.wu"), okrelt_test::read_file(OKRELT_REFERENCE_WORK_UNIT));
        okrelt_test::RunOptions options;
        options.environment = {i == 0 ? "LC_ALL=C" : "LC_ALL=de_DE.UTF-8"};
        options.args = {"-q", "unit.wu"};
        const RunResult sound = okrelt_test::run_program(dir.path(), options);
        options.program = OKRELT_WATERFALL_BINARY;
        options.args = {"unit.wu"};
        const RunResult picture = okrelt_test::run_program(dir.path(), options);
        EXPECT_EQ(picture.exit_status, 0);
        outputs[i] = sound.out + picture.out + okrelt_test::read_file(dir.file("unit.wav")) +
                     okrelt_test::read_file(dir.file("unit.png"));
    }
    EXPECT_EQ(outputs[0].size(), outputs[1].size());
    EXPECT_TRUE(outputs[0] == outputs[1]);
}

// A row of the printed peak table, its fields as text in the CSV's order.
struct PeakTableRow {
    int rank = 0;
    int block = 0;
    double offset_hz = 0.0;
    std::string sky;
    long magnitude = 0;
    std::vector<std::string> fields;   // rank, block, time, offset, sky, magnitude, grade
};

std::vector<PeakTableRow> peak_table(const std::string& out) {
    std::vector<PeakTableRow> rows;
    const size_t head = out.find(" rank  block");
    if (head == std::string::npos) return rows;
    std::istringstream lines(out.substr(out.find('\n', head) + 1));
    std::string line;
    while (std::getline(lines, line)) {
        std::istringstream fields(line);
        PeakTableRow row;
        std::string field;
        while (fields >> field) row.fields.push_back(field);
        if (row.fields.size() != 7 || std::atoi(row.fields[0].c_str()) != static_cast<int>(rows.size()) + 1) break;
        row.rank = std::atoi(row.fields[0].c_str());
        row.block = std::atoi(row.fields[1].c_str());
        row.offset_hz = std::atof(row.fields[3].c_str());
        row.sky = row.fields[4];
        row.magnitude = std::atol(row.fields[5].c_str());
        rows.push_back(row);
    }
    return rows;
}

// Rows 2 to K: strongest first, at most one per block and neighbourhood
// (so none repeats row 1), as many as asked, the sky frequency rising with
// the offset, and the CSV the same rows in its stated column order.
TEST(PeakTable, TheRowsAfterTheFirstKeepTheirRules) {
    TempDir dir;
    // A tone between two bins, alone: its sidelobes, strongest next to it,
    // fill each block's spectrum, so the neighbourhood rule decides the rows.
    okrelt::SampleVectors samples;
    for (int32_t k = 0; k < 2 * okrelt::BLOCK_SAMPLES; ++k) {
        const double phase = 2.0 * M_PI * std::fmod(1000.5 / okrelt::BLOCK_SAMPLES * k, 1.0);
        samples.in_phase.push_back(std::cos(phase) >= 0.0 ? 1 : -1);
        samples.quadrature.push_back(std::sin(phase) >= 0.0 ? 1 : -1);
    }
    okrelt::WriterOptions options;
    options.later_format = true;   // its centre gives sky frequencies
    okrelt_test::write_work_unit_file(dir.file("tone.wu"), samples, options);
    const double hz_per_bin = 9765.625 / okrelt::BLOCK_SAMPLES;
    for (const int wanted : {3, 40}) {
        const RunResult run = waterfall(dir, {"tone.wu", "--peaks", std::to_string(wanted), "--peaks-csv", "peaks.csv"});
        ASSERT_EQ(run.exit_status, 0) << run.err;
        const std::vector<PeakTableRow> rows = peak_table(run.out);
        ASSERT_EQ(rows.size(), static_cast<size_t>(wanted));
        for (size_t i = 1; i < rows.size(); ++i) EXPECT_LE(rows[i].magnitude, rows[i - 1].magnitude) << i;
        for (size_t i = 0; i < rows.size(); ++i) {
            for (size_t j = i + 1; j < rows.size(); ++j) {
                if (rows[i].block != rows[j].block) continue;
                const double bins = std::fabs(rows[i].offset_hz - rows[j].offset_hz) / hz_per_bin;
                EXPECT_GT(std::min(bins, okrelt::BLOCK_SAMPLES - bins), okrelt::PEAK_NEIGHBOURHOOD_BINS)
                    << "rows " << i + 1 << " and " << j + 1;
            }
        }
        std::vector<PeakTableRow> by_offset = rows;
        std::sort(by_offset.begin(), by_offset.end(),
                  [](const PeakTableRow& a, const PeakTableRow& b) { return a.offset_hz < b.offset_hz; });
        for (size_t i = 0; i < by_offset.size(); ++i) {
            EXPECT_NEAR(std::atof(by_offset[i].sky.c_str()), 1420.0 + by_offset[i].offset_hz / 1e6, 1e-7);
            if (i > 0 && by_offset[i].offset_hz > by_offset[i - 1].offset_hz) {
                EXPECT_GT(std::atof(by_offset[i].sky.c_str()), std::atof(by_offset[i - 1].sky.c_str()));
            }
        }
        std::istringstream csv(okrelt_test::read_file(dir.file("peaks.csv")));
        std::string line;
        std::getline(csv, line);
        EXPECT_EQ(line, "rank,block,time_s,offset_hz,sky_mhz,magnitude,grade");
        for (const PeakTableRow& row : rows) {
            ASSERT_TRUE(std::getline(csv, line));
            std::string joined;
            for (const std::string& field : row.fields) joined += (joined.empty() ? "" : ",") + field;
            EXPECT_EQ(line, joined);
        }
        EXPECT_FALSE(std::getline(csv, line)) << line;
    }
}

// A constant unit's block spectra hold power in one bin each: those are
// its peaks, and the table says there are no more rather than list empty bins.
TEST(PeakTable, EmptyBinsAreNoPeaks) {
    TempDir dir;
    okrelt_test::write_work_unit_file(dir.file("dc.sah"), okrelt_test::constant_samples(131072, 1, -1));
    const RunResult run = waterfall(dir, {"dc.sah", "--peaks", "5"});
    ASSERT_EQ(run.exit_status, 0) << run.err;
    const std::vector<PeakTableRow> rows = peak_table(run.out);
    ASSERT_EQ(rows.size(), 2u) << run.out;
    for (const PeakTableRow& row : rows) {
        EXPECT_EQ(row.magnitude, 92681);
        EXPECT_EQ(row.offset_hz, 0.0);
    }
    EXPECT_NE(run.out.find("No further peaks: every other bin is empty or near a stronger one of its block.\n"),
              std::string::npos) << run.out;
}

// --average 4 makes each row the mean power of four transforms (the cells'
// levels being the base-2 logarithms of the powers).
TEST(Waterfall, AveragingMakesEachRowTheMeanOfItsTransforms) {
    okrelt::SampleStreams streams;
    const int32_t count = 64 * 1024;
    ASSERT_EQ(okrelt::reserve_streams(&streams, count), 0);
    std::mt19937 random(9);
    for (int32_t k = 0; k < count; ++k) {
        streams.in_phase[k] = random() & 1 ? 1 : -1;
        streams.quadrature[k] = random() & 1 ? 1 : -1;
    }
    streams.count = count;
    const okrelt::Spectrogram single = okrelt::make_spectrogram(streams, 1024, 1, okrelt::PLOT_WIDTH, okrelt::PLOT_HEIGHT);
    const okrelt::Spectrogram averaged = okrelt::make_spectrogram(streams, 1024, 4, okrelt::PLOT_WIDTH, okrelt::PLOT_HEIGHT);
    ASSERT_EQ(single.rows, 64);
    ASSERT_EQ(averaged.rows, 16);
    ASSERT_EQ(averaged.columns, 1024);
    double largest_error = 0.0;
    for (int row = 0; row < averaged.rows; ++row) {
        for (int column = 0; column < averaged.columns; ++column) {
            double mean = 0.0;
            for (int t = 0; t < 4; ++t) mean += std::exp2(single.level[static_cast<size_t>((4 * row + t) * 1024 + column)]) / 4;
            const double got = std::exp2(averaged.level[static_cast<size_t>(row * 1024 + column)]);
            largest_error = std::max(largest_error, std::fabs(got - mean) / mean);
        }
    }
    EXPECT_LT(largest_error, 1e-5);
}

// Noise alone has no feature in its integrated spectrum, whatever its seed;
// a weak steady tone added to it is the strongest feature.
TEST(Waterfall, TheIntegratedSpectrumMarksNoNoiseBin) {
    const int32_t count = 1048576;
    for (const double amplitude : {0.0, 0.05}) {
        for (unsigned seed = 1; seed <= 4; ++seed) {
            okrelt::SampleStreams streams;
            ASSERT_EQ(okrelt::reserve_streams(&streams, count), 0);
            std::mt19937 random(seed);
            std::normal_distribution<double> noise(0.0, 1.0);
            for (int32_t k = 0; k < count; ++k) {
                const double phase = 2.0 * M_PI * std::fmod(100.0 / 1024 * k, 1.0);   // bin +100
                streams.in_phase[k] = noise(random) + amplitude * std::cos(phase) >= 0.0 ? 1 : -1;
                streams.quadrature[k] = noise(random) + amplitude * std::sin(phase) >= 0.0 ? 1 : -1;
            }
            streams.count = count;
            const okrelt::Spectrogram spectrogram =
                okrelt::make_spectrogram(streams, 1024, 1, okrelt::PLOT_WIDTH, okrelt::PLOT_HEIGHT);
            const std::vector<okrelt::SpectrumFeature> features =
                okrelt::spectrum_features(okrelt::integrated_spectrum_db(spectrogram), okrelt::SPECTRUM_FEATURES);
            if (amplitude == 0.0) {
                EXPECT_TRUE(features.empty()) << "seed " << seed << ": " << features[0].index << ", " << features[0].db << " dB";
            } else {
                ASSERT_FALSE(features.empty()) << seed;
                EXPECT_EQ(features[0].index, 512 + 100) << seed;
            }
        }
    }
}

// --range is checked at both ends and for its width; -o takes .png in any case.
TEST(Waterfall, TheRangeIsCheckedAtBothEndsAndThePictureInAnyCase) {
    TempDir dir;
    okrelt_test::write_file(dir.file("work_unit.sah"), okrelt_test::read_file(OKRELT_REFERENCE_WORK_UNIT));
    for (const char* range : {"-200.5:0", "0:200.5", "-300:-250", "0:0.99", "0:1e-20", "3:3"}) {
        const RunResult bad = waterfall(dir, {"--range", range});
        EXPECT_EQ(bad.exit_status, 2) << range;
        EXPECT_NE(bad.err.find("--range takes LOW:HIGH in dB, from -200 to 200, HIGH at least 1 dB above LOW"),
                  std::string::npos) << bad.err;
    }
    for (const char* range : {"-200:-199", "199:200", "0:1"}) {
        EXPECT_EQ(waterfall(dir, {"--range", range, "-o", "r.png"}).exit_status, 0) << range;
    }
    for (const char* name : {"upper.PNG", "mixed.Png"}) {
        const RunResult run = waterfall(dir, {"-o", name});
        EXPECT_EQ(run.exit_status, 0) << name << run.err;
        EXPECT_TRUE(okrelt_test::file_exists(dir.file(name))) << name;
    }
    EXPECT_EQ(waterfall(dir, {"-o", "x.pngs"}).exit_status, 2);
}

// Why a unit cannot be drawn goes to standard error, as okrelt's failures do.
TEST(Waterfall, ReasonsForFailingGoToStandardError) {
    TempDir dir;
    okrelt_test::write_work_unit_file(dir.file("few.sah"), okrelt_test::constant_samples(1000, 1, 1));
    okrelt_test::write_file(dir.file("bad.wu"), "<workunit>\n<workunit_header>\n</workunit_header>\n</workunit>\n");
    const std::pair<const char*, const char*> cases[] = {
        {"few.sah", "Too few samples for a picture: 1000 decoded, 1024 needed.\n"},
        {"bad.wu", "Corrupt work unit: no <data> tag.\n"},
    };
    for (const auto& [unit, reason] : cases) {
        const RunResult run = waterfall(dir, {unit});
        EXPECT_EQ(run.exit_status, 1) << unit;
        EXPECT_NE(run.err.find(reason), std::string::npos) << run.err;
        EXPECT_EQ(run.out.find(reason), std::string::npos) << run.out;
    }
}

// The de-Doppler search's hits: a made-up unit with a tone from +1000 Hz
// drifting by +0.7 Hz/s, far stronger than the threshold.
constexpr double DRIFT_TONE_HZ = 1000.0;
constexpr double DRIFT_HZ_S = 0.7;

void make_drifting_unit(const TempDir& dir) {
    okrelt_test::RunOptions options;
    options.program = OKRELT_MAKE_WU_BINARY;
    options.args = {"--tone", "1000", "--drift", "0.7", "--amplitude", "0.1", "--samples", "1048576", "-o", "drift.sah"};
    ASSERT_EQ(okrelt_test::run_program(dir.path(), options).exit_status, 0);
}

// A picture's pixels, its size and colours as read back.
struct Pixels {
    cairo_surface_t* surface = nullptr;
    explicit Pixels(const std::string& path) : surface(cairo_image_surface_create_from_png(path.c_str())) {}
    ~Pixels() { cairo_surface_destroy(surface); }
    Pixels(const Pixels&) = delete;
    Pixels& operator=(const Pixels&) = delete;
    bool ok() const { return cairo_surface_status(surface) == CAIRO_STATUS_SUCCESS; }
    int height() const { return cairo_image_surface_get_height(surface); }
    uint32_t at(int x, int y) const {
        const unsigned char* data = cairo_image_surface_get_data(surface);
        return reinterpret_cast<const uint32_t*>(data + static_cast<long>(y) * cairo_image_surface_get_stride(surface))[x] &
               0xffffff;
    }
};

// The table lists the tone as hit 1, at its frequency and drift; --no-hits
// prints no search.
TEST(WaterfallHits, TheTableListsTheDriftingTone) {
    TempDir dir;
    make_drifting_unit(dir);
    const RunResult run = waterfall(dir, {"drift.sah"});
    ASSERT_EQ(run.exit_status, 0) << run.err;
    const size_t heading = run.out.find("De-Doppler search: 8192-point transforms");
    ASSERT_NE(heading, std::string::npos) << run.out;
    ASSERT_GT(heading, run.out.find(" rank  block")) << "the hits follow the peak table";
    const size_t row = run.out.find("\n    1 ", heading);
    ASSERT_NE(row, std::string::npos) << run.out;
    std::istringstream line(run.out.substr(row + 1));
    int rank = 0;
    double offset_hz = 0.0;
    double drift = 0.0;
    line >> rank >> offset_hz >> drift;
    EXPECT_NEAR(offset_hz, DRIFT_TONE_HZ, 1.2);
    EXPECT_NEAR(drift, DRIFT_HZ_S, 0.012);
    EXPECT_EQ(run.out.find("\n    2 ", row + 1), std::string::npos) << run.out;

    const RunResult plain = waterfall(dir, {"drift.sah", "--no-hits", "-o", "plain.png"});
    ASSERT_EQ(plain.exit_status, 0) << plain.err;
    EXPECT_EQ(plain.out.find("De-Doppler"), std::string::npos) << plain.out;
}

// Hits change the picture and add the cut-outs' band below it; with no hits
// (the reference unit) the picture is --no-hits' byte for byte.
TEST(WaterfallHits, OnlyHitsChangeThePicture) {
    TempDir dir;
    make_drifting_unit(dir);
    okrelt_test::write_file(dir.file("reference.sah"), okrelt_test::read_file(OKRELT_REFERENCE_WORK_UNIT));
    for (const char* unit : {"drift", "reference"}) {
        const std::string name = unit;
        ASSERT_EQ(waterfall(dir, {name + ".sah", "-o", name + "-hits.png"}).exit_status, 0);
        ASSERT_EQ(waterfall(dir, {name + ".sah", "--no-hits", "-o", name + "-plain.png"}).exit_status, 0);
    }
    EXPECT_NE(okrelt_test::read_file(dir.file("drift-hits.png")), okrelt_test::read_file(dir.file("drift-plain.png")));
    EXPECT_TRUE(okrelt_test::read_file(dir.file("reference-hits.png")) ==
                okrelt_test::read_file(dir.file("reference-plain.png")));
    const Pixels hits(dir.file("drift-hits.png"));
    const Pixels plain(dir.file("drift-plain.png"));
    ASSERT_TRUE(hits.ok() && plain.ok());
    ASSERT_EQ(hits.height(), okrelt::PICTURE_HEIGHT + okrelt::HIT_BAND_HEIGHT);
    EXPECT_EQ(plain.height(), okrelt::PICTURE_HEIGHT);
    // Changed within today's picture, and the band below holds the cut-out.
    int changed = 0;
    int coloured = 0;
    for (int y = 0; y < hits.height(); ++y) {
        for (int x = 0; x < okrelt::PICTURE_WIDTH; ++x) {
            if (y < okrelt::PICTURE_HEIGHT) {
                changed += hits.at(x, y) != plain.at(x, y);
            } else {
                coloured += hits.at(x, y) != 0xffffff;
            }
        }
    }
    EXPECT_GT(changed, okrelt::PLOT_HEIGHT);
    EXPECT_GT(coloured, 200 * 200);
}

// The path's line runs beside the tone, not on it: along the tone every
// pixel is --no-hits' own, while HIT_PATH_OFFSET columns to its left they
// are the line's.
TEST(WaterfallHits, ThePathRunsBesideTheTone) {
    TempDir dir;
    make_drifting_unit(dir);
    ASSERT_EQ(waterfall(dir, {"drift.sah", "-o", "hits.png"}).exit_status, 0);
    ASSERT_EQ(waterfall(dir, {"drift.sah", "--no-hits", "-o", "plain.png"}).exit_status, 0);
    const Pixels hits(dir.file("hits.png"));
    const Pixels plain(dir.file("plain.png"));
    ASSERT_TRUE(hits.ok() && plain.ok());
    const double rate = 9765.625;
    const double seconds = 1048576 / rate;
    int on_tone_changed = 0;
    int beside_changed = 0;
    for (int y = okrelt::PLOT_TOP; y < okrelt::PLOT_TOP + okrelt::PLOT_HEIGHT; ++y) {
        const double t = (y - okrelt::PLOT_TOP + 0.5) / okrelt::PLOT_HEIGHT * seconds;
        const double x = okrelt::PLOT_LEFT + okrelt::PLOT_WIDTH * (0.5 + (DRIFT_TONE_HZ + DRIFT_HZ_S * t) / rate);
        for (int dx = -2; dx <= 2; ++dx) {
            const int column = static_cast<int>(std::lround(x)) + dx;
            on_tone_changed += hits.at(column, y) != plain.at(column, y);
        }
        const int beside = static_cast<int>(std::lround(x - okrelt::HIT_PATH_OFFSET));
        beside_changed += hits.at(beside, y) != plain.at(beside, y);
    }
    EXPECT_EQ(on_tone_changed, 0);
    EXPECT_GE(beside_changed, okrelt::PLOT_HEIGHT * 9 / 10);
}

// --snr and --max-drift are checked as okrelt-search checks them, and --snr
// is the search's: a threshold above the tone's SNR leaves no hit.
TEST(WaterfallHits, TheSearchOptionsAreCheckedAndUsed) {
    TempDir dir;
    make_drifting_unit(dir);
    const std::pair<std::vector<std::string>, const char*> refused[] = {
        {{"--snr", "0"}, "--snr takes a number above 0, up to 1000000"},
        {{"--snr", "1e7"}, "--snr takes a number above 0, up to 1000000"},
        {{"--snr", "x"}, "--snr takes a number above 0, up to 1000000"},
        {{"--max-drift", "-1"}, "--max-drift takes Hz/s from 0 to 1000"},
        {{"--max-drift", "1000.5"}, "--max-drift takes Hz/s from 0 to 1000"},
    };
    for (const auto& [args, reason] : refused) {
        std::vector<std::string> line = {"drift.sah"};
        line.insert(line.end(), args.begin(), args.end());
        const RunResult bad = waterfall(dir, line);
        EXPECT_EQ(bad.exit_status, 2) << args[0] << " " << args[1];
        EXPECT_NE(bad.err.find(reason), std::string::npos) << bad.err;
    }
    const RunResult strict = waterfall(dir, {"drift.sah", "--snr", "1000", "--max-drift", "2", "-o", "strict.png"});
    ASSERT_EQ(strict.exit_status, 0) << strict.err;
    EXPECT_NE(strict.out.find("drifts to +-1.992 Hz/s"), std::string::npos) << strict.out;
    EXPECT_NE(strict.out.find("No hits.\n"), std::string::npos) << strict.out;
    const Pixels picture(dir.file("strict.png"));
    EXPECT_EQ(picture.height(), okrelt::PICTURE_HEIGHT);
}

}  // namespace
