#include "search/spectrogram.h"


#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

#include "audio/fft.h"
#include "common/messages.h"
#include "common/spectrum_axis.h"
#include "search/row_sums.h"

namespace okrelt {

namespace {

constexpr double TWO_PI = 6.283185307179586476925286766559;
constexpr int CENTRE_BESIDE_BINS = 2;   // bins each side of the blanked centre whose mean replaces it
constexpr int SPECTROGRAM_TASK_ROWS = 4;   // rows a thread claims at a time

// The value of sample k of one stream, as the transform takes it.
double value_of(const SampleStreams& streams, const int8_t* stream, long k) {
    return stored_value(stream[k], streams.levels);
}

// The transforms of a spectrogram, rows claimed in turn by a team's threads.
struct RowWork {
    const SampleStreams* streams;
    PowerSpectrogram* spectrogram;
    SearchWindow window;
    int m;                        // log2 of the transform's size
    const double* w;              // the window
    const int* column_of;         // a transformed point's column
    std::atomic<int> next_task{0};
};

// A thread's share, with its own arrays for the transform.
struct RowShare {
    RowWork* work;
    double* re;
    double* im;
};

// The window, the columns and each thread's two arrays for a transform of
// n points, in scratch memory: from the heap, their small pages came one
// fault at a time, and those faults cost more than the transforms of a
// unit. Null arrays where there is no memory.
struct TransformArrays {
    double* window = nullptr;
    double* re[2] = {nullptr, nullptr};
    double* im[2] = {nullptr, nullptr};
    int* column_of = nullptr;
};

TransformArrays transform_arrays(size_t n, ScratchMemory* scratch) {
    constexpr size_t DOUBLE_ARRAYS = 5;   // the window, then re and im of each thread
    TransformArrays arrays;
    double* const doubles =
        static_cast<double*>(zeroed_scratch(scratch, DOUBLE_ARRAYS * n * sizeof(double) + n * sizeof(int)));
    if (doubles == nullptr) return arrays;
    arrays.window = doubles;
    for (size_t t = 0; t < 2; ++t) {
        arrays.re[t] = doubles + (1 + 2 * t) * n;
        arrays.im[t] = doubles + (2 + 2 * t) * n;
    }
    arrays.column_of = reinterpret_cast<int*>(doubles + DOUBLE_ARRAYS * n);
    return arrays;
}

// Touches each page of a spectrogram's cells, so that the kernel provides
// them (zeros) before the rows are written.
void touch_cells(void* context) {
    PowerSpectrogram& s = *static_cast<PowerSpectrogram*>(context);
    volatile float* const cells = s.power;
    const size_t step = SMALL_PAGE_BYTES / sizeof(float);
    for (size_t c = 0; c < s.cells(); c += step) cells[c] = 0.0f;
}

// Claims rows and transforms them until none is left; each row's bits are
// the same on either thread.
void transform_rows(void* context) {
    RowShare& share = *static_cast<RowShare*>(context);
    RowWork& work = *share.work;
    const SampleStreams& streams = *work.streams;
    PowerSpectrogram& s = *work.spectrogram;
    const int fft_size = s.bins;
    const size_t n = static_cast<size_t>(fft_size);
    double* const re = share.re;
    double* const im = share.im;
    for (;;) {
        const int first_row = work.next_task.fetch_add(1, std::memory_order_relaxed) * SPECTROGRAM_TASK_ROWS;
        if (first_row >= s.rows) return;
        for (int r = first_row; r < std::min(first_row + SPECTROGRAM_TASK_ROWS, s.rows); ++r) {
            const long first = static_cast<long>(r) * fft_size;
            for (size_t j = 0; j < n; ++j) {
                re[j] = work.w[j] * value_of(streams, streams.in_phase, first + static_cast<long>(j));
                im[j] = work.w[j] * value_of(streams, streams.quadrature, first + static_cast<long>(j));
            }
            (void)fft_forward_bit_reversed(work.m, re, im);
            float* cells = s.row(r);
            for (size_t k = 0; k < n; ++k) cells[work.column_of[k]] = static_cast<float>(re[k] * re[k] + im[k] * im[k]);
            // A constant lies in the centre bin, and with a window in its neighbours.
            const int centre = fft_size / 2;
            const int reach = work.window == SearchWindow::HANN ? 1 : 0;
            float beside = 0.0f;
            for (int b = 1; b <= CENTRE_BESIDE_BINS; ++b) beside += cells[centre - reach - b] + cells[centre + reach + b];
            beside /= static_cast<float>(2 * CENTRE_BESIDE_BINS);
            for (int c = centre - reach; c <= centre + reach; ++c) cells[c] = beside;
        }
    }
}

}  // namespace

FloatArray float_array(size_t n) {
    FloatArray array;
    const size_t bytes = std::max<size_t>(n, 1) * sizeof(float);
    array.storage = map_big_array(bytes);
    if (array.storage == nullptr) return array;
    array.data = static_cast<float*>(array.storage.get());
    return array;
}

bool valid_search_fft(long fft_size) {
    return fft_size >= SEARCH_MIN_FFT && fft_size <= SEARCH_MAX_FFT && (fft_size & (fft_size - 1)) == 0;
}

int allocate_spectrogram(int bins, int rows, PowerSpectrogram* spectrogram) {
    FloatArray cells = float_array(static_cast<size_t>(rows) * static_cast<size_t>(bins));
    if (cells.data == nullptr) {
        tell(MessageKind::PROBLEM, "Not enough memory for a spectrogram of %d by %d.\n", rows, bins);
        return 1;
    }
    spectrogram->bins = bins;
    spectrogram->rows = rows;
    spectrogram->storage = std::move(cells.storage);
    spectrogram->power = cells.data;
    return 0;
}

int make_power_spectrogram(const SampleStreams& streams, const WorkUnitInfo& info, int fft_size, SearchWindow window,
                           PowerSpectrogram* spectrogram, Team* team, ScratchMemory* scratch) {
    const int32_t usable = info.silent_samples > 0 && info.first_silent_sample >= 0
                               ? std::min(streams.count, info.first_silent_sample)
                               : streams.count;
    const int rows = usable / fft_size;
    if (rows < SEARCH_MIN_ROWS) {
        tell(MessageKind::PROBLEM, "Too few samples for a search: %d before any silence, %d needed.\n", usable,
             SEARCH_MIN_ROWS * fft_size);
        return 1;
    }
    if (allocate_spectrogram(fft_size, rows, spectrogram) != 0) return 1;
    PowerSpectrogram& s = *spectrogram;
    // While this thread prepares the transforms, the team's thread has the
    // cells' pages provided; where it has not begun when they are ready,
    // the rows' first writes have them provided instead.
    if (team != nullptr) offer_work(team, touch_cells, &s);
    s.bin_hz = bin_width_hz(info.subband_rate, fft_size);
    s.row_seconds = fft_size / info.subband_rate;
    const size_t n = static_cast<size_t>(fft_size);
    ScratchMemory own_scratch;
    TransformArrays arrays = transform_arrays(n, scratch != nullptr ? scratch : &own_scratch);
    if (arrays.window == nullptr) {
        if (team != nullptr) settle_team(team);
        tell(MessageKind::PROBLEM, "Not enough memory for a spectrogram of %d by %d.\n", rows, fft_size);
        return 1;
    }
    double* const w = arrays.window;
    for (size_t j = 0; j < n; ++j) {
        w[j] = window == SearchWindow::HANN ? 0.5 - 0.5 * std::cos(TWO_PI * static_cast<double>(j) / fft_size) : 1.0;
    }
    double sum = 0.0;
    double sum_squares = 0.0;
    for (size_t j = 0; j < n; ++j) {
        sum += w[j];
        sum_squares += w[j] * w[j];
    }
    s.tone_gain = 2.0 * sum_squares / (sum * sum);
    s.white_cell_power = sum_squares / (static_cast<double>(fft_size) * static_cast<double>(fft_size));
    const int m = log2_of(fft_size);
    for (size_t position = 0; position < n; ++position) {
        arrays.column_of[position] =
            static_cast<int>((reversed_bits(static_cast<long>(position), m) + fft_size / 2) % fft_size);
    }
    if (team != nullptr) settle_team(team);
    RowWork work{&streams, &s, window, m, w, arrays.column_of};
    RowShare own{&work, arrays.re[0], arrays.im[0]};
    RowShare partner{&work, arrays.re[1], arrays.im[1]};
    if (team != nullptr) offer_work(team, transform_rows, &partner);
    transform_rows(&own);
    if (team != nullptr) settle_team(team);
    return 0;
}

NoiseStatistics noise_statistics(const PowerSpectrogram& spectrogram, ScratchMemory* scratch) {
    // The sums in scratch memory where there is some, or else on the heap.
    const size_t n = static_cast<size_t>(spectrogram.bins);
    std::vector<double> heap;
    double* sums = scratch != nullptr ? static_cast<double*>(zeroed_scratch(scratch, n * sizeof(double))) : nullptr;
    if (sums == nullptr) {
        heap.resize(n);
        sums = heap.data();
    }
    column_sums(spectrogram.power, spectrogram.rows, spectrogram.bins, sums);
    // The median and the trimmed range by selection: the ranks below n / 2,
    // then those below TRIM_LOW and from TRIM_HIGH on, are set apart.
    double* const middle = sums + n / 2;
    std::nth_element(sums, middle, sums + n);
    NoiseStatistics noise;
    noise.median = n % 2 == 1 ? *middle : 0.5 * (*std::max_element(sums, middle) + *middle);
    const size_t low = static_cast<size_t>(TRIM_LOW * static_cast<double>(n));
    const size_t high = static_cast<size_t>(std::ceil(TRIM_HIGH * static_cast<double>(n)));
    std::nth_element(sums, sums + low, middle);
    std::nth_element(middle, sums + high, sums + n);
    double mean = 0.0;
    for (size_t i = low; i < high; ++i) mean += sums[i];
    mean /= static_cast<double>(high - low);
    double variance = 0.0;
    for (size_t i = low; i < high; ++i) variance += (sums[i] - mean) * (sums[i] - mean);
    noise.deviation = std::sqrt(variance / static_cast<double>(high - low));
    noise.cell_mean = noise.median / spectrogram.rows;
    return noise;
}
}  // namespace okrelt
