// okrelt-floor-probe: the arithmetic floor of a conversion. A unit of B
// blocks needs, per block, the forward transform's 16 stages of 32768
// butterflies and the inverse's 17 stages of 65536, less the inverse's first
// two stages, which over the cleared upper half are copies. The probe does
// as many butterflies, with the transform's own arithmetic and vectors as
// wide as the machine's best path, on data that never leaves the L1 cache:
// no memory traffic, no shuffles, no input or output.
//
//   okrelt-floor-probe WORK_UNIT
//
// prints the floor in ms for the unit's whole blocks (the median of several
// timings), the butterflies counted and the path.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <vector>

#include "audio/fft.h"
#include "common/block_sizes.h"
#include "workunit/reader.h"

namespace {

constexpr int TIMINGS = 15;
constexpr int PAIRS_BYTES = 4096;   // of each of the four arrays: 16 KiB in all
constexpr int PASSES_PER_RESCALE = 64;
constexpr double RESCALE = 0x1p-32;  // exact; keeps the growing values far from overflow

long butterflies_per_block() {
    const long forward = static_cast<long>(okrelt::BLOCK_LOG2) * (okrelt::BLOCK_SAMPLES / 2);
    const long inverse = static_cast<long>(okrelt::SPECTRUM_LOG2 - 2) * (okrelt::SPECTRUM_SIZE / 2);
    return forward + inverse;
}

// passes over `vectors` butterflies of W lanes each, every one exactly the
// transform's: t1 = ur br - ui bi; t2 = ur bi + ui br; b = a - t; a += t.
#define OKRELT_PROBE(NAME, TARGET, LANES)                                                                    \
    __attribute__((target(TARGET))) void NAME(double* ar, double* ai, double* br, double* bi, long passes) { \
        typedef double V __attribute__((vector_size(LANES * sizeof(double))));                               \
        V* a_re = reinterpret_cast<V*>(ar);                                                                  \
        V* a_im = reinterpret_cast<V*>(ai);                                                                  \
        V* b_re = reinterpret_cast<V*>(br);                                                                  \
        V* b_im = reinterpret_cast<V*>(bi);                                                                  \
        const long vectors = PAIRS_BYTES / static_cast<long>(sizeof(V));                                     \
        const V ur = V{} + 0.6;                                                                              \
        const V ui = V{} - 0.8;                                                                              \
        for (long pass = 0; pass < passes; ++pass) {                                                         \
            for (long v = 0; v < vectors; ++v) {                                                             \
                const V t1 = ur * b_re[v] - ui * b_im[v];                                                    \
                const V t2 = ur * b_im[v] + ui * b_re[v];                                                    \
                b_re[v] = a_re[v] - t1;                                                                      \
                b_im[v] = a_im[v] - t2;                                                                      \
                a_re[v] = a_re[v] + t1;                                                                      \
                a_im[v] = a_im[v] + t2;                                                                      \
            }                                                                                                \
            if (pass % PASSES_PER_RESCALE == 0) {                                                            \
                for (long v = 0; v < vectors; ++v) {                                                         \
                    a_re[v] *= RESCALE;                                                                      \
                    a_im[v] *= RESCALE;                                                                      \
                    b_re[v] *= RESCALE;                                                                      \
                    b_im[v] *= RESCALE;                                                                      \
                }                                                                                            \
            }                                                                                                \
        }                                                                                                    \
    }

OKRELT_PROBE(butterflies_sse2, "sse2", 2)
OKRELT_PROBE(butterflies_avx2, "avx2", 4)
OKRELT_PROBE(butterflies_avx512, "avx512f", 8)

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: okrelt-floor-probe WORK_UNIT\n");
        return 2;
    }
    okrelt::SampleStreams streams;
    okrelt::WorkUnitInfo info;
    if (okrelt::load_work_unit(argv[1], &streams, &info) != 0) return 1;
    const long butterflies = streams.count / okrelt::BLOCK_SAMPLES * butterflies_per_block();
    const okrelt::FftIsa isa = okrelt::fft_best_isa();
    const int lanes = isa == okrelt::FftIsa::AVX512 ? 8 : isa == okrelt::FftIsa::AVX2 ? 4 : 2;
    auto* probe = isa == okrelt::FftIsa::AVX512 ? butterflies_avx512
                  : isa == okrelt::FftIsa::AVX2 ? butterflies_avx2
                                                 : butterflies_sse2;
    const long per_pass = PAIRS_BYTES / static_cast<long>(sizeof(double)) / lanes * lanes;
    const long passes = (butterflies + per_pass - 1) / per_pass;
    constexpr size_t DOUBLES = PAIRS_BYTES / sizeof(double);
    alignas(64) static double ar[DOUBLES], ai[DOUBLES], br[DOUBLES], bi[DOUBLES];
    std::fill(ar, ar + DOUBLES, 0.5);
    std::fill(ai, ai + DOUBLES, -0.25);
    std::fill(br, br + DOUBLES, 0.125);
    std::fill(bi, bi + DOUBLES, 0.75);
    std::vector<double> timings;
    for (int timing = 0; timing < TIMINGS; ++timing) {
        const auto start = std::chrono::steady_clock::now();
        probe(ar, ai, br, bi, passes);
        const std::chrono::duration<double, std::milli> elapsed = std::chrono::steady_clock::now() - start;
        timings.push_back(elapsed.count());
    }
    std::sort(timings.begin(), timings.end());
    std::printf("%.3f %ld %s\n", timings[TIMINGS / 2], butterflies, okrelt::fft_isa_name(isa));
    return 0;
}
