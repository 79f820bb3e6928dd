// The fast transform and the fused block against the plain transcription,
// bit for bit, on every code path this machine can run.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <random>
#include <vector>

#include "audio/block_transform.h"
#include "audio/converter.h"
#include "audio/fft.h"
#include "common/sample_levels.h"
#include "report/rfi.h"
#include "tests/support/reference_fft.h"

namespace {

using okrelt::FftIsa;

std::vector<FftIsa> available_isas() {
    std::vector<FftIsa> isas;
    for (int isa = 0; isa < okrelt::FFT_ISA_COUNT; ++isa) {
        if (okrelt::fft_isa_available(static_cast<FftIsa>(isa))) isas.push_back(static_cast<FftIsa>(isa));
    }
    return isas;
}

std::vector<double> random_values(size_t n, std::mt19937_64* random) {
    std::uniform_real_distribution<double> value(-1.0, 1.0);
    std::vector<double> values(n);
    for (double& v : values) v = value(*random);
    return values;
}

bool same_bits(const std::vector<double>& a, const std::vector<double>& b) {
    return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(double)) == 0;
}

TEST(FftExact, GenericPathIsAlwaysThere) {
    EXPECT_TRUE(okrelt::fft_isa_available(okrelt::FFT_ISA_GENERIC));
    EXPECT_TRUE(okrelt::fft_isa_available(okrelt::fft_best_isa()));
}

TEST(FftExact, EveryPathEverySizeBothDirectionsMatchesTheTranscription) {
    std::mt19937_64 random(2024);
    for (const FftIsa isa : available_isas()) {
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
                okrelt::fft_using(isa, direction, m, got_re.data(), got_im.data());
                EXPECT_TRUE(same_bits(got_re, want_re) && same_bits(got_im, want_im))
                    << okrelt::fft_isa_name(isa) << " m=" << m << " direction=" << direction;
            }
        }
    }
}

struct AlignedFree {
    void operator()(double* p) const { std::free(p); }
};
using Doubles = std::unique_ptr<double[], AlignedFree>;

Doubles aligned_doubles() {
    void* memory = std::aligned_alloc(64, okrelt::SPECTRUM_SIZE * sizeof(double));
    std::memset(memory, 0, okrelt::SPECTRUM_SIZE * sizeof(double));
    return Doubles(static_cast<double*>(memory));
}

// Random samples of a block as the reader stores them: signs, signs with a
// stretch of silence (zeros), or 4-bit codes with silence indexing a table.
struct BlockSamples {
    const char* kind;
    std::vector<int8_t> in_phase;
    std::vector<int8_t> quadrature;
    const double* levels;
};

std::vector<BlockSamples> block_sample_kinds() {
    static const double four_bit_levels[okrelt::LEVEL_TABLE_SIZE] = {0.0, 0.5, 1.6679375, 0.0, 0.0, 0.0, -1.6679375, -0.5};
    std::mt19937 random(77);
    const size_t n = okrelt::BLOCK_SAMPLES;
    std::vector<BlockSamples> kinds = {{"signs", {}, {}, nullptr},
                                       {"signs and silence", {}, {}, nullptr},
                                       {"4-bit levels and silence", {}, {}, four_bit_levels}};
    const int8_t four_bit_codes[] = {-2, -1, 1, 2};
    for (BlockSamples& kind : kinds) {
        for (std::vector<int8_t>* stream : {&kind.in_phase, &kind.quadrature}) {
            stream->resize(n);
            for (int8_t& sample : *stream) {
                sample = kind.levels != nullptr ? four_bit_codes[random() & 3] : random() & 1 ? 1 : -1;
            }
            // The last samples of a short unit are played as silence.
            if (&kind != &kinds[0]) std::fill(stream->end() - 1000, stream->end(), int8_t{0});
        }
    }
    return kinds;
}

TEST(FftExact, FusedBlockMatchesTheStepsOneByOne) {
    for (const BlockSamples& samples : block_sample_kinds()) {
        okrelt::peak_magnitude = 0.0;
        Doubles re = aligned_doubles();
        Doubles im = aligned_doubles();
        std::vector<uint8_t> bytes(okrelt::SPECTRUM_SIZE);
        const int32_t want_factor = okrelt_test::reference_convert_block(
            samples.in_phase.data(), samples.quadrature.data(), samples.levels, re.get(), im.get(), bytes.data());
        const std::vector<double> want_re(re.get(), re.get() + okrelt::SPECTRUM_SIZE);
        const double want_peak = okrelt::peak_magnitude;

        for (const FftIsa isa : available_isas()) {
            okrelt::peak_magnitude = 0.0;
            Doubles fast_re = aligned_doubles();
            Doubles fast_im = aligned_doubles();
            const int32_t factor = okrelt::transform_block_using(isa, samples.in_phase.data(), samples.quadrature.data(),
                                                                 samples.levels, fast_re.get(), fast_im.get());
            EXPECT_EQ(factor, want_factor) << okrelt::fft_isa_name(isa) << ", " << samples.kind;
            EXPECT_EQ(okrelt::peak_magnitude, want_peak) << okrelt::fft_isa_name(isa) << ", " << samples.kind;
            size_t differing = 0;
            for (size_t l = 0; l < okrelt::SPECTRUM_SIZE; ++l) {
                // Equal as numbers: only a zero's sign may differ, see expand_spectrum.
                differing += fast_re[l] != want_re[l];
            }
            EXPECT_EQ(differing, 0u) << okrelt::fft_isa_name(isa) << ", " << samples.kind;
        }
    }
}

}  // namespace
