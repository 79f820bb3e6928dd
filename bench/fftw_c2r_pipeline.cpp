// The strongest conversion pipeline a user who knows FFTW would write, as a
// speed yardstick: plans made once with FFTW_PATIENT and loaded from a wisdom
// file (no planning at run time), and the inverse as a complex-to-real
// transform of the spectrum's Hermitian extension, since only the real part
// of the inverse is wanted. Its rounding differs from okrelt's, so its bytes
// differ too.
//
//   okrelt-fftw-c2r-pipeline WISDOM             converts work_unit.sah
//   okrelt-fftw-c2r-pipeline --make-wisdom WISDOM   plans once and saves them
#include <fftw3.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <vector>

#include "audio/converter.h"
#include "audio/wav_header.h"
#include "bench/bench_input.h"
#include "common/stdio_file.h"
#include "report/rfi.h"
#include "workunit/reader.h"

namespace {

struct Plans {
    fftw_complex* block;
    fftw_complex* half_spectrum;
    double* samples;
    fftw_plan forward;
    fftw_plan inverse;
};

// Plans with FFTW_PATIENT; with WISDOM_ONLY, only from imported wisdom.
bool make_plans(unsigned flags, Plans* plans) {
    using okrelt::BLOCK_SAMPLES;
    using okrelt::SPECTRUM_SIZE;
    plans->block = fftw_alloc_complex(BLOCK_SAMPLES);
    plans->half_spectrum = fftw_alloc_complex(SPECTRUM_SIZE / 2 + 1);
    plans->samples = fftw_alloc_real(SPECTRUM_SIZE);
    plans->forward = fftw_plan_dft_1d(BLOCK_SAMPLES, plans->block, plans->block, FFTW_FORWARD, FFTW_PATIENT | flags);
    plans->inverse = fftw_plan_dft_c2r_1d(SPECTRUM_SIZE, plans->half_spectrum, plans->samples, FFTW_PATIENT | flags);
    return plans->forward != nullptr && plans->inverse != nullptr;
}

}  // namespace

int main(int argc, char** argv) {
    using namespace okrelt;
    if (argc == 3 && std::strcmp(argv[1], "--make-wisdom") == 0) {
        Plans plans{};
        return make_plans(0, &plans) && fftw_export_wisdom_to_filename(argv[2]) ? 0 : 1;
    }
    if (argc != 2 || !fftw_import_wisdom_from_filename(argv[1])) {
        std::fprintf(stderr, "usage: okrelt-fftw-c2r-pipeline [--make-wisdom] WISDOM (made first)\n");
        return 2;
    }
    Plans plans{};
    if (!make_plans(FFTW_WISDOM_ONLY, &plans)) {
        std::fprintf(stderr, "the wisdom file holds no plans for these sizes\n");
        return 2;
    }
    SampleStreams streams;
    WorkUnitInfo info;
    FileHandle out;
    if (okrelt_bench::start_conversion(&streams, &info, &out) != 0) return 1;
    std::vector<uint8_t> bytes(SPECTRUM_SIZE);
    double largest_square = 0.0;
    const int32_t blocks = streams.count / BLOCK_SAMPLES;
    for (int32_t b = 0; b < blocks; ++b) {
        okrelt_bench::fill_block(streams, b, plans.block);
        fftw_execute(plans.forward);
        // The real part of the inverse of bins 0..65535 is the complex-to-real
        // inverse of bin 0's real part and the other bins halved; the forward
        // transform's 1/65536 is folded in.
        for (int32_t k = 0; k < BLOCK_SAMPLES; ++k) {
            const double re = plans.block[k][0];
            const double im = plans.block[k][1];
            const double square = re * re + im * im;
            if (square > largest_square) largest_square = square;
            const double scale = k == 0 ? 1.0 / BLOCK_SAMPLES : 0.5 / BLOCK_SAMPLES;
            plans.half_spectrum[k][0] = re * scale;
            plans.half_spectrum[k][1] = k == 0 ? 0.0 : im * scale;
        }
        plans.half_spectrum[BLOCK_SAMPLES][0] = 0.0;
        plans.half_spectrum[BLOCK_SAMPLES][1] = 0.0;
        fftw_execute(plans.inverse);
        for (int32_t l = 0; l < SPECTRUM_SIZE; ++l) bytes[static_cast<size_t>(l)] = quantise_sample(plans.samples[l]);
        std::fwrite(bytes.data(), 1, bytes.size(), out.get());
        std::printf("%02.2f %%\n", 100.0 * (b + 1) / blocks);
    }
    print_rfi_report(static_cast<int32_t>(std::sqrt(largest_square)));
    return std::fclose(out.release()) == 0 ? 0 : 1;
}
