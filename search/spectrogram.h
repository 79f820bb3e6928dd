// The power spectrogram a de-Doppler search runs on, and the noise it
// shows: rows of consecutive windowed transforms of a unit's samples,
// columns in sky order (column c is c - fft_size/2 bins from the
// sub-band's centre).
#pragma once

#include <cstddef>
#include <cstdint>

#include "common/memory.h"
#include "common/team.h"
#include "workunit/reader.h"

namespace okrelt {

constexpr int SEARCH_DEFAULT_FFT = 8192;         // 1.19 Hz by 0.84 s at 9765.625 samples/s
constexpr int SEARCH_MIN_FFT = 256;
constexpr int SEARCH_MAX_FFT = 65536;
constexpr int SEARCH_MIN_ROWS = 2;               // a drift needs two rows at least
constexpr double TRIM_LOW = 0.05;                // the noise deviation is that of the column sums
constexpr double TRIM_HIGH = 0.95;               // between these quantiles

// Hann: sidelobes fall fast, so a strong tone stays in its bins, and drifting
// tones are found about as well as with no window (docs/search.md).
enum class SearchWindow { RECTANGULAR, HANN };
constexpr SearchWindow SEARCH_DEFAULT_WINDOW = SearchWindow::HANN;

// Power of consecutive windowed transforms: rows x bins, row by row, bins in
// sky order. tone_gain turns a cell's excess power over the noise's mean
// into the tone's amplitude relative to the noise's parts: (A / sigma)^2 =
// tone_gain * excess / mean, for a steady tone at a bin's centre.
struct PowerSpectrogram {
    int bins = 0;                 // the transform's size
    int rows = 0;
    double bin_hz = 0.0;
    double row_seconds = 0.0;
    double tone_gain = 0.0;       // 2 sum(w^2) / (sum w)^2 of the window w
    double white_cell_power = 0.0;   // a cell's mean power for samples of power 1 that are white noise: sum(w^2) / n^2
    MappedMemory storage;         // the cells, rows * bins, row by row
    float* power = nullptr;

    size_t cells() const { return static_cast<size_t>(rows) * static_cast<size_t>(bins); }
    float* row(int r) { return power + static_cast<size_t>(r) * static_cast<size_t>(bins); }
    const float* row(int r) const { return power + static_cast<size_t>(r) * static_cast<size_t>(bins); }
};

// The noise as the zero-drift column sums show it.
struct NoiseStatistics {
    double median = 0.0;          // of the column sums
    double deviation = 0.0;       // standard deviation of the sums within the TRIM_LOW..TRIM_HIGH quantiles
    double cell_mean = 0.0;       // one cell's mean noise power: median / rows
};

// Zero-filled floats in a big array's mapping (huge pages where the kernel
// gives them): page faults one by one cost more than the search's
// arithmetic. data is null when there is no memory.
struct FloatArray {
    MappedMemory storage;
    float* data = nullptr;
};

// n zero floats (room for one at least).
FloatArray float_array(size_t n);

// True for a power of two from SEARCH_MIN_FFT to SEARCH_MAX_FFT.
bool valid_search_fft(long fft_size);

// Sets the size and makes room for the cells (zero), in memory whose pages
// come in a few steps. 0, or 1 after a message when there is no memory.
[[nodiscard]] int allocate_spectrogram(int bins, int rows, PowerSpectrogram* spectrogram);

// The spectrogram of the unit's whole transforms before its first silent
// sample; the centre bin (and the window's neighbours of it) replaced by
// the mean of the bins beside them, so that a constant does not show.
// With a team, its second thread makes a share of the rows (the same bits).
// The transforms' arrays are taken from scratch where that is given.
// 0, or 1 after a message when fewer than SEARCH_MIN_ROWS rows fit.
[[nodiscard]] int make_power_spectrogram(const SampleStreams& streams, const WorkUnitInfo& info, int fft_size,
                                         SearchWindow window, PowerSpectrogram* spectrogram, Team* team = nullptr,
                                         ScratchMemory* scratch = nullptr);

// The noise statistics of the zero-drift column sums, made in scratch where
// that is given.
NoiseStatistics noise_statistics(const PowerSpectrogram& spectrogram, ScratchMemory* scratch = nullptr);

}  // namespace okrelt
