// The conversion pipeline on FFTW, as a speed yardstick: the same reading,
// blocks, peak search, interpolation and quantisation as okrelt, but FFTW's
// transforms (plans made with FFTW_ESTIMATE) and squared magnitudes for the
// peak. Its rounding differs from okrelt's, so its bytes differ too.
#include <fftw3.h>

#include <cmath>
#include <cstdio>
#include <vector>

#include "audio/converter.h"
#include "audio/wav_header.h"
#include "bench/bench_input.h"
#include "common/stdio_file.h"
#include "report/rfi.h"
#include "workunit/reader.h"

int main() {
    using namespace okrelt;
    SampleStreams streams;
    WorkUnitInfo info;
    FileHandle out;
    if (okrelt_bench::start_conversion(&streams, &info, &out) != 0) return 1;

    fftw_complex* block = fftw_alloc_complex(BLOCK_SAMPLES);
    fftw_complex* spectrum = fftw_alloc_complex(SPECTRUM_SIZE);
    const fftw_plan forward = fftw_plan_dft_1d(BLOCK_SAMPLES, block, block, FFTW_FORWARD, FFTW_ESTIMATE);
    const fftw_plan inverse = fftw_plan_dft_1d(SPECTRUM_SIZE, spectrum, spectrum, FFTW_BACKWARD, FFTW_ESTIMATE);
    std::vector<uint8_t> bytes(SPECTRUM_SIZE);
    double largest_square = 0.0;
    const int32_t blocks = streams.count / BLOCK_SAMPLES;
    for (int32_t b = 0; b < blocks; ++b) {
        okrelt_bench::fill_block(streams, b, block);
        fftw_execute(forward);
        for (int32_t k = 0; k < BLOCK_SAMPLES; ++k) {
            const double square = block[k][0] * block[k][0] + block[k][1] * block[k][1];
            if (square > largest_square) largest_square = square;
            spectrum[k][0] = block[k][0] / BLOCK_SAMPLES;
            spectrum[k][1] = block[k][1] / BLOCK_SAMPLES;
        }
        for (int32_t k = BLOCK_SAMPLES; k < SPECTRUM_SIZE; ++k) spectrum[k][0] = spectrum[k][1] = 0.0;
        fftw_execute(inverse);
        for (int32_t l = 0; l < SPECTRUM_SIZE; ++l) bytes[static_cast<size_t>(l)] = quantise_sample(spectrum[l][0]);
        std::fwrite(bytes.data(), 1, bytes.size(), out.get());
        std::printf("%02.2f %%\n", 100.0 * (b + 1) / blocks);
    }
    print_rfi_report(static_cast<int32_t>(std::sqrt(largest_square)));
    fftw_destroy_plan(forward);
    fftw_destroy_plan(inverse);
    fftw_free(block);
    fftw_free(spectrum);
    return std::fclose(out.release()) == 0 ? 0 : 1;
}
