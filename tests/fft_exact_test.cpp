// The fast transform and the fused block against the plain transcription,
// bit for bit, on each code path; a path this processor lacks is skipped
// with its name.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <future>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "audio/block_transform.h"
#include "audio/converter.h"
#include "audio/fft.h"
#include "audio/fft_internal.h"
#include "common/sample_levels.h"
#include "report/rfi.h"
#include "tests/support/reference_fft.h"

namespace {

using okrelt::FftIsa;

std::vector<double> random_values(size_t n, std::mt19937_64* random) {
    std::uniform_real_distribution<double> value(-1.0, 1.0);
    std::vector<double> values(n);
    for (double& v : values) v = value(*random);
    return values;
}

bool same_bits(const std::vector<double>& a, const std::vector<double>& b) {
    return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(double)) == 0;
}

struct AlignedFree {
    void operator()(double* p) const { std::free(p); }
};
using Doubles = std::unique_ptr<double[], AlignedFree>;

Doubles aligned_doubles() {
    void* memory = std::aligned_alloc(64, okrelt::WORKING_POINTS * sizeof(double));
    std::memset(memory, 0, okrelt::WORKING_POINTS * sizeof(double));
    return Doubles(static_cast<double*>(memory));
}

// Samples of a block as the reader stores them.
struct BlockSamples {
    std::string kind;
    std::vector<int8_t> in_phase;
    std::vector<int8_t> quadrature;
    const double* levels = nullptr;
};

const double FOUR_BIT_LEVELS[okrelt::LEVEL_TABLE_SIZE] = {0.0, 0.5, 1.6679375, 0.0, 0.0, 0.0, -1.6679375, -0.5};

// Random signs, signs ending in silence (zeros), 4-bit codes ending in
// silence, strong tones over noise whose peak bin lands at the edges of
// the vectors and parts the fast path searches (bin k sits at position
// rev16(k), so 57344 is lane 7 of the first vector, 65520 the last point of
// part 0, 8 the first of part 1), and a lone sample, whose bins all tie.
std::vector<BlockSamples> block_sample_kinds() {
    const size_t n = okrelt::BLOCK_SAMPLES;
    std::mt19937 random(77);
    std::vector<BlockSamples> kinds;
    const int8_t four_bit_codes[] = {-2, -1, 1, 2};
    for (const int kind : {0, 1, 2}) {
        BlockSamples samples{kind == 0 ? "signs" : kind == 1 ? "signs and silence" : "4-bit levels and silence", {}, {},
                             kind == 2 ? FOUR_BIT_LEVELS : nullptr};
        for (std::vector<int8_t>* stream : {&samples.in_phase, &samples.quadrature}) {
            stream->resize(n);
            for (int8_t& sample : *stream) sample = kind == 2 ? four_bit_codes[random() & 3] : random() & 1 ? 1 : -1;
            if (kind != 0) std::fill(stream->end() - 1000, stream->end(), int8_t{0});
        }
        kinds.push_back(samples);
    }
    std::normal_distribution<double> noise(0.0, 1.0);
    for (const long bin : {57344L, 65520L, 8L, 65535L, 0L}) {
        BlockSamples tone{"tone at bin " + std::to_string(bin), std::vector<int8_t>(n), std::vector<int8_t>(n), nullptr};
        for (size_t j = 0; j < n; ++j) {
            const double phase = 2.0 * M_PI * static_cast<double>((static_cast<long>(j) * bin) % 65536) / 65536.0;
            tone.in_phase[j] = noise(random) + 0.5 * std::cos(phase) >= 0.0 ? 1 : -1;
            tone.quadrature[j] = noise(random) + 0.5 * std::sin(phase) >= 0.0 ? 1 : -1;
        }
        kinds.push_back(tone);
    }
    // A lone sample gives every bin the same magnitude: the peak is bin 0's.
    BlockSamples lone{"a lone sample", std::vector<int8_t>(n), std::vector<int8_t>(n), nullptr};
    lone.in_phase[0] = 1;
    kinds.push_back(lone);
    return kinds;
}

struct ReferenceBlock {
    BlockSamples samples;
    okrelt::SoundOrder order;
    int32_t factor;
    double peak;
    okrelt::PeakPlace place;
    std::vector<double> re;
};

// The plain steps' results, computed once for all paths.
const std::vector<ReferenceBlock>& reference_blocks() {
    static const std::vector<ReferenceBlock> blocks = [] {
        std::vector<ReferenceBlock> made;
        for (const BlockSamples& samples : block_sample_kinds()) {
            for (const okrelt::SoundOrder order : {okrelt::SoundOrder::BIN, okrelt::SoundOrder::SKY}) {
                okrelt::RunningPeak peak;
                Doubles re = aligned_doubles();
                Doubles im = aligned_doubles();
                std::vector<uint8_t> bytes(okrelt::SPECTRUM_SIZE);
                const int32_t factor =
                    okrelt_test::reference_convert_block(samples.in_phase.data(), samples.quadrature.data(),
                                                         samples.levels, order, re.get(), im.get(), &peak,
                                                         bytes.data(), nullptr, {});
                made.push_back({samples, order, factor, peak.magnitude, peak.place,
                                std::vector<double>(re.get(), re.get() + okrelt::SPECTRUM_SIZE)});
            }
        }
        return made;
    }();
    return blocks;
}

class EveryPath : public testing::TestWithParam<FftIsa> {
protected:
    void SetUp() override {
        if (!okrelt::fft_isa_available(GetParam())) {
            GTEST_SKIP() << "this processor or build has no " << okrelt::fft_isa_name(GetParam()) << " path";
        }
    }
};

TEST_P(EveryPath, TransformMatchesTheTranscriptionEverySizeBothDirections) {
    std::mt19937_64 random(2024);
    for (int m = 0; m <= okrelt::FFT_MAX_LOG2; ++m) {
        const size_t n = size_t{1} << m;
        for (const int16_t direction : {okrelt::FFT_FORWARD, okrelt::FFT_INVERSE}) {
            const std::vector<double> re = random_values(n, &random);
            const std::vector<double> im = random_values(n, &random);
            std::vector<double> want_re = re;
            std::vector<double> want_im = im;
            okrelt_test::reference_fft(direction, m, want_re.data(), want_im.data());
            std::vector<double> got_re = re;
            std::vector<double> got_im = im;
            okrelt::fft_using(GetParam(), direction, m, got_re.data(), got_im.data());
            EXPECT_TRUE(same_bits(got_re, want_re) && same_bits(got_im, want_im))
                << "m=" << m << " direction=" << direction;
        }
    }
}

// Where a path writes the sound bytes itself, they are the quantised real
// parts. Each block also runs with a team, whose thread may take any task.
TEST_P(EveryPath, FusedBlockMatchesTheStepsOneByOne) {
    const okrelt::TeamPtr team = okrelt::start_team();
    ASSERT_TRUE(team);
    for (size_t turn = 0; turn < 2 * reference_blocks().size(); ++turn) {
        const ReferenceBlock& want = reference_blocks()[turn / 2];
        okrelt::Team* helping = turn % 2 == 0 ? nullptr : team.get();
        okrelt::RunningPeak peak;
        Doubles re = aligned_doubles();
        Doubles im = aligned_doubles();
        std::vector<uint8_t> sound(okrelt::SPECTRUM_SIZE);
        okrelt::BlockBytes bytes;
        bytes.out = sound.data();
        bytes.gain = okrelt::OUTPUT_GAIN;
        bytes.zero = okrelt::OUTPUT_ZERO_LEVEL;
        const int32_t factor = okrelt::transform_block_using(GetParam(), want.samples.in_phase.data(),
                                                             want.samples.quadrature.data(), want.samples.levels,
                                                             want.order, re.get(), im.get(), &peak, &bytes,
                                                             helping);
        const std::string kind = want.samples.kind + (want.order == okrelt::SoundOrder::SKY ? ", sky order" : "") +
                                 (helping != nullptr ? ", team" : "");
        EXPECT_EQ(factor, want.factor) << kind;
        EXPECT_EQ(peak.magnitude, want.peak) << kind;
        EXPECT_EQ(peak.place.bin, want.place.bin) << kind;
        size_t differing = 0;
        size_t wrong_bytes = 0;
        bool fits = true;
        for (size_t l = 0; l < okrelt::SPECTRUM_SIZE; ++l) {
            // Equal as numbers: only a zero's sign may differ, see expand_spectrum.
            differing += re[okrelt::working_place(static_cast<int32_t>(l))] != want.re[l];
            const int value = static_cast<int>(okrelt::OUTPUT_GAIN * want.re[l]) + okrelt::OUTPUT_ZERO_LEVEL;
            fits = fits && value >= okrelt::OUTPUT_MIN && value <= okrelt::OUTPUT_MAX;
            wrong_bytes += sound[l] != static_cast<uint8_t>(value);
        }
        EXPECT_EQ(differing, 0u) << kind;
        if (bytes.written) {
            EXPECT_EQ(bytes.fits, fits) << kind;
            EXPECT_EQ(fits ? wrong_bytes : 0u, 0u) << kind;
        }
    }
}

// Blocks whose strongest bin lies in each lane of an eight-lane vector, in
// each vector and lane of a 16-point group of four-lane ones, and in each
// piece of its part (parts of 4096 forward points, pieces of 1024): a
// complex square wave at the bin, its harmonics a third as strong at most.
// Bin k lies at forward position rev16(k).
struct PeakBlock {
    BlockSamples samples;
    int32_t bin;
    double peak;
};

const std::vector<PeakBlock>& peak_blocks() {
    static const std::vector<PeakBlock> blocks = [] {
        std::vector<PeakBlock> made;
        const int32_t in_sixteen[] = {0, 5, 10, 15, 3, 6, 9, 12};
        for (int32_t i = 0; i < 8; ++i) {
            const int32_t position = (5 * i % 16) * 4096 + i % 4 * 1024 + 16 * 37 + in_sixteen[i];
            int32_t bin = 0;
            for (int b = 0; b < okrelt::BLOCK_LOG2; ++b) bin |= ((position >> b) & 1) << (okrelt::BLOCK_LOG2 - 1 - b);
            PeakBlock block{{"position " + std::to_string(position),
                             std::vector<int8_t>(okrelt::BLOCK_SAMPLES), std::vector<int8_t>(okrelt::BLOCK_SAMPLES),
                             nullptr},
                            bin, 0.0};
            for (long j = 0; j < okrelt::BLOCK_SAMPLES; ++j) {
                const double phase = 2.0 * M_PI * static_cast<double>(j * bin % okrelt::BLOCK_SAMPLES) /
                                     static_cast<double>(okrelt::BLOCK_SAMPLES);
                block.samples.in_phase[static_cast<size_t>(j)] = std::cos(phase) >= 0.0 ? 1 : -1;
                block.samples.quadrature[static_cast<size_t>(j)] = std::sin(phase) >= 0.0 ? 1 : -1;
            }
            okrelt::RunningPeak peak;
            Doubles re = aligned_doubles();
            Doubles im = aligned_doubles();
            std::vector<uint8_t> bytes(okrelt::SPECTRUM_SIZE);
            okrelt_test::reference_convert_block(block.samples.in_phase.data(), block.samples.quadrature.data(),
                                                 nullptr, okrelt::SoundOrder::BIN, re.get(), im.get(), &peak,
                                                 bytes.data(), nullptr, {});
            block.peak = peak.magnitude;
            if (peak.place.bin != bin) block.bin = -1;   // no such block: the test says so
            made.push_back(block);
        }
        return made;
    }();
    return blocks;
}

// A part whose largest square cannot reach the running peak is not looked
// at, so that square must take in every lane of every vector and every
// piece of the part. Each block starts from a running peak between its
// strongest bin and every other, and must raise it to that bin.
TEST_P(EveryPath, ABlockRaisesTheRunningPeakFromEveryLaneAndPiece) {
    for (const PeakBlock& want : peak_blocks()) {
        ASSERT_GE(want.bin, 0) << want.samples.kind << ": the square wave's bin is not the strongest";
        okrelt::RunningPeak peak;
        okrelt::raise_peak(&peak, {0.9 * want.peak, 0});
        Doubles re = aligned_doubles();
        Doubles im = aligned_doubles();
        const int32_t factor =
            okrelt::transform_block_using(GetParam(), want.samples.in_phase.data(), want.samples.quadrature.data(),
                                          nullptr, okrelt::SoundOrder::BIN, re.get(), im.get(), &peak);
        EXPECT_EQ(peak.magnitude, want.peak) << want.samples.kind;
        EXPECT_EQ(peak.place.bin, want.bin) << want.samples.kind;
        EXPECT_EQ(factor, static_cast<int32_t>(want.peak)) << want.samples.kind;
    }
}

// A caller held up elsewhere (its aside sleeping) leaves its team's thread to
// do each block alone and then sleep until the next is offered: every block
// still comes out right, and the team still stops. A lost wake-up would hang,
// so a watchdog fails the test instead.
TEST(FftExact, ATeamWhoseCallerIsHeldUpSleepsAndWakesForEachBlock) {
    const ReferenceBlock& want = reference_blocks().front();
    std::future<void> finished = std::async(std::launch::async, [&want] {
        const okrelt::BlockAside held_up{[](void*) { std::this_thread::sleep_for(std::chrono::milliseconds(5)); },
                                         nullptr};
        const okrelt::TeamPtr team = okrelt::start_team();
        EXPECT_TRUE(team);
        for (int block = 0; block < 4; ++block) {
            okrelt::RunningPeak peak;
            Doubles re = aligned_doubles();
            Doubles im = aligned_doubles();
            (void)okrelt::transform_block(want.samples.in_phase.data(), want.samples.quadrature.data(),
                                          want.samples.levels, want.order, re.get(), im.get(), &peak, nullptr,
                                          team.get(), held_up);
            size_t differing = 0;
            for (size_t l = 0; l < okrelt::SPECTRUM_SIZE; ++l) {
                differing += re[okrelt::working_place(static_cast<int32_t>(l))] != want.re[l];
            }
            EXPECT_EQ(differing, 0u) << "block " << block;
        }
    });
    if (finished.wait_for(std::chrono::seconds(30)) == std::future_status::timeout) {
        std::fprintf(stderr, "a team's thread was never woken\n");
        std::_Exit(EXIT_FAILURE);
    }
}

// The bounds of a byte, against the quantiser's own integer arithmetic.
TEST(FftExact, ScaledValuesFitABytePreciselyWhenTheirQuantisedValuesDo) {
    for (const double y : {-129.0, std::nextafter(-129.0, 0.0), -128.5, -128.0, 0.0, 127.5,
                           std::nextafter(128.0, 0.0), 128.0, 1e10}) {
        const double x = y / okrelt::OUTPUT_GAIN;
        const int value = y > 1e9 ? okrelt::OUTPUT_MAX + 1
                                  : static_cast<int>(okrelt::OUTPUT_GAIN * x) + okrelt::OUTPUT_ZERO_LEVEL;
        const bool fits = value >= okrelt::OUTPUT_MIN && value <= okrelt::OUTPUT_MAX;
        EXPECT_EQ(okrelt::scaled_values_fit(y, y, okrelt::OUTPUT_ZERO_LEVEL), fits) << y;
    }
}

// okrelt-waterfall computes the tables at start, with the library's code: the
// same bits as the tables the build wrote with its own program.
TEST(FftExact, TablesComputedAtStartEqualTheBuilds) {
    const auto computed = std::make_unique<okrelt::TwiddleTables>();
    okrelt::compute_twiddle_tables(computed.get());
    EXPECT_EQ(std::memcmp(computed.get(), okrelt::twiddle_tables(), sizeof(okrelt::TwiddleTables)), 0);
}

TEST(FftExact, TheBitReversedForwardTransformOnlyLeavesOutThePermutation) {
    std::mt19937_64 random(5);
    for (const int m : {0, 1, 3, 10, 16, okrelt::FFT_MAX_LOG2}) {
        const size_t n = size_t{1} << m;
        const std::vector<double> re = random_values(n, &random);
        const std::vector<double> im = random_values(n, &random);
        std::vector<double> want_re = re;
        std::vector<double> want_im = im;
        okrelt::fft(okrelt::FFT_FORWARD, m, want_re.data(), want_im.data());
        std::vector<double> got_re = re;
        std::vector<double> got_im = im;
        okrelt::fft_forward_bit_reversed(m, got_re.data(), got_im.data());
        std::vector<double> placed_re(n);
        std::vector<double> placed_im(n);
        for (size_t k = 0; k < n; ++k) {
            size_t reversed = 0;
            for (int b = 0; b < m; ++b) reversed |= ((k >> b) & 1u) << (m - 1 - b);
            placed_re[k] = got_re[reversed];
            placed_im[k] = got_im[reversed];
        }
        EXPECT_TRUE(same_bits(placed_re, want_re) && same_bits(placed_im, want_im)) << "m=" << m;
    }
}

INSTANTIATE_TEST_SUITE_P(Paths, EveryPath,
                         testing::ValuesIn(okrelt::FFT_ISAS),
                         [](const testing::TestParamInfo<FftIsa>& path) { return okrelt::fft_isa_name(path.param); });

}  // namespace
