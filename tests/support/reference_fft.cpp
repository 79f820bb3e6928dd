#include "tests/support/reference_fft.h"

#include <cmath>
#include <utility>

#include "audio/converter.h"
#include "audio/fft.h"
#include "common/sample_levels.h"
#include "report/rfi.h"

namespace okrelt_test {

using okrelt::FFT_FORWARD;

int reference_fft(int16_t direction, int m, double* re, double* im) {
    const long n = 1L << m;
    const long half = n / 2;

    long j = 0;
    for (long i = 0; i < n - 1; ++i) {
        if (i < j) {
            double swap = re[i];
            re[i] = re[j];
            re[j] = swap;
            swap = im[i];
            im[i] = im[j];
            im[j] = swap;
        }
        long k = half;
        while (k <= j) {
            j -= k;
            k /= 2;
        }
        j += k;
    }

    double c1 = -1.0;
    double c2 = 0.0;
    long l2 = 1;
    for (int l = 0; l < m; ++l) {
        const long l1 = l2;
        l2 *= 2;
        double u1 = 1.0;
        double u2 = 0.0;
        for (long jj = 0; jj < l1; ++jj) {
            for (long i = jj; i < n; i += l2) {
                const long i1 = i + l1;
                const double t1 = u1 * re[i1] - u2 * im[i1];
                const double t2 = u1 * im[i1] + u2 * re[i1];
                re[i1] = re[i] - t1;
                im[i1] = im[i] - t2;
                re[i] += t1;
                im[i] += t2;
            }
            const double z = u1 * c1 - u2 * c2;
            u2 = u1 * c2 + u2 * c1;
            u1 = z;
        }
        c2 = std::sqrt((1.0 - c1) / 2.0);
        if (direction == FFT_FORWARD) c2 = -c2;
        c1 = std::sqrt((1.0 + c1) / 2.0);
    }

    if (direction == FFT_FORWARD) {
        for (long i = 0; i < n; ++i) {
            re[i] /= static_cast<double>(n);
            im[i] /= static_cast<double>(n);
        }
    }
    return 0;
}

int32_t reference_convert_block(const int8_t* in_phase, const int8_t* quadrature, const double* levels,
                                okrelt::SoundOrder order, double* re, double* im, okrelt::RunningPeak* peak,
                                uint8_t* out, okrelt::Team*, okrelt::BlockAside aside) {
    using namespace okrelt;
    if (aside.run != nullptr) aside.run(aside.context);
    for (int32_t j = 0; j < BLOCK_SAMPLES; ++j) {
        re[j] = levels == nullptr ? in_phase[j] : levels[in_phase[j] & LEVEL_INDEX_MASK];
        im[j] = levels == nullptr ? quadrature[j] : levels[quadrature[j] & LEVEL_INDEX_MASK];
    }
    reference_fft(FFT_FORWARD, BLOCK_LOG2, re, im);
    const int32_t rfi_factor = measure_block_peak(peak, re, im);
    if (order == SoundOrder::SKY) {
        for (int32_t k = 0; k < BLOCK_SAMPLES / 2; ++k) {
            std::swap(re[k], re[k + BLOCK_SAMPLES / 2]);
            std::swap(im[k], im[k + BLOCK_SAMPLES / 2]);
        }
    }
    for (int32_t k = BLOCK_SAMPLES; k < SPECTRUM_SIZE; ++k) {
        re[k] = 0.0;
        im[k] = 0.0;
    }
    reference_fft(FFT_INVERSE, SPECTRUM_LOG2, re, im);
    for (int32_t l = 0; l < SPECTRUM_SIZE; ++l) out[l] = quantise_sample(re[l]);
    return rfi_factor;
}

}  // namespace okrelt_test
