// The de-Doppler search: narrowband tones whose frequency drifts linearly
// with time, as a transmitter on a rotating, orbiting planet would show.
// The unit's samples become a power spectrogram (rows of consecutive
// transforms); power is summed along every straight path of the drift grid
// by a Taylor tree; paths standing far above the noise become hits, one a
// signal. Frequencies run in sky order: column c of a row is c - fft_size/2
// bins from the sub-band's centre, and the band wraps round (complex
// samples: a tone past the top edge comes back at the bottom).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "common/memory.h"
#include "workunit/reader.h"

namespace okrelt {

constexpr int SEARCH_DEFAULT_FFT = 8192;         // 1.19 Hz by 0.84 s at 9765.625 samples/s
constexpr int SEARCH_MIN_FFT = 256;
constexpr int SEARCH_MAX_FFT = 65536;
constexpr double SEARCH_DEFAULT_SNR = 10.0;
constexpr double SEARCH_MAX_SNR = 1.0e6;         // the largest --snr taken
constexpr double SEARCH_DEFAULT_MAX_DRIFT = 10.0;   // Hz/s, either sign
constexpr double SEARCH_MAX_MAX_DRIFT = 1000.0;     // Hz/s: the largest --max-drift taken
constexpr int SEARCH_MIN_ROWS = 2;               // a drift needs two rows at least
constexpr int SAME_SIGNAL_BINS = 2;              // paths this close for half the rows are one signal
constexpr int SEARCH_MAX_CANDIDATES = 4096;      // strongest local maxima looked at for hits
constexpr int SEARCH_MAX_HITS = 256;             // the strongest signals of a unit kept, at most
constexpr double TRIM_LOW = 0.05;                // the noise deviation is that of the column sums
constexpr double TRIM_HIGH = 0.95;               // between these quantiles

// Hann: sidelobes fall fast, so a strong tone stays in its bins, and drifting
// tones are found about as well as with no window (docs/search.md).
enum class SearchWindow { RECTANGULAR, HANN };
constexpr SearchWindow SEARCH_DEFAULT_WINDOW = SearchWindow::HANN;

struct SearchOptions {
    int fft_size = SEARCH_DEFAULT_FFT;
    double max_drift_hz_s = SEARCH_DEFAULT_MAX_DRIFT;
    double snr_threshold = SEARCH_DEFAULT_SNR;
    SearchWindow window = SEARCH_DEFAULT_WINDOW;
};

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

// One signal: its strongest path. Frequencies are at the unit's first sample.
struct Hit {
    int start_bin = 0;            // the path's column at row 0
    int drift_index = 0;          // signed, in drift-grid steps
    double offset_hz = 0.0;       // from the sub-band's centre
    std::optional<double> sky_mhz;              // where the unit gives its centre
    double drift_hz_s = 0.0;      // positive: frequency rising with time
    double snr = 0.0;
    int first_row = 0;            // the rows the path covers
    int last_row = 0;
    double amplitude = 0.0;       // relative to the noise's parts, from the path's power
    std::optional<double> barycentric_mhz;      // filled by whoever corrects for the Earth's motion
    std::optional<double> barycentric_drift_hz_s;
};

struct SearchResult {
    int bins = 0;
    int rows = 0;
    double bin_hz = 0.0;
    double row_seconds = 0.0;
    double drift_step_hz_s = 0.0; // the drift grid: bin_hz / ((padded rows - 1) row_seconds)
    int max_drift_index = 0;      // drifts searched: -max .. max steps
    NoiseStatistics noise;
    double sensitivity = 0.0;     // amplitude of the weakest steady tone at a bin centre that reaches the threshold
    double sensitivity_db = 0.0;  // the same in dB (20 log10)
    int candidates = 0;           // local maxima over the threshold, before they were made hits
    std::vector<Hit> hits;        // strongest first, SEARCH_MAX_HITS at most
    std::vector<float> best_snr;  // each start bin's best SNR over all drifts
    std::string uncorrected_because;   // what the header lacks for the barycentric correction; empty: corrected
};

// True for a power of two from SEARCH_MIN_FFT to SEARCH_MAX_FFT.
bool valid_search_fft(long fft_size);

// Sets the size and makes room for the cells (zero), in memory whose pages
// come in a few steps. 0, or 1 after a message when there is no memory.
[[nodiscard]] int allocate_spectrogram(int bins, int rows, PowerSpectrogram* spectrogram);

// The spectrogram of the unit's whole transforms before its first silent
// sample; the centre bin (and the window's neighbours of it) replaced by
// the mean of the bins beside them, so that a constant does not show.
// 0, or 1 after a message when fewer than SEARCH_MIN_ROWS rows fit.
[[nodiscard]] int make_power_spectrogram(const SampleStreams& streams, const WorkUnitInfo& info, int fft_size,
                                         SearchWindow window, PowerSpectrogram* spectrogram);

// The noise statistics of the zero-drift column sums.
NoiseStatistics noise_statistics(const PowerSpectrogram& spectrogram);

// The rows rounded up to a power of two: the drift grid's and the tree's.
int padded_rows_of(int rows);

// The drift grid's step in Hz/s for a spectrogram: rows padded to a power of two.
double drift_step_hz_s(const PowerSpectrogram& spectrogram);

// The column a search path (start bin, signed drift index) is at in row r:
// exactly the cells the Taylor tree sums.
int path_column(int start_bin, int drift_index, int row, int bins, int padded_rows);

// The Taylor-tree search of a spectrogram of SEARCH_MIN_ROWS rows or more:
// every start bin and drift within options.max_drift_hz_s, SNR, hits over
// options.snr_threshold, sensitivity. Sky frequencies are left empty.
// 0, or 1 after a message when there is no memory for the tree.
[[nodiscard]] int search_spectrogram(const PowerSpectrogram& spectrogram, const SearchOptions& options,
                                     SearchResult* result);

// The reference the tree is checked against: each start bin's best SNR over
// the same drifts, each path summed directly along the straight line
// (column start + round(slope * row)). Slow: rows times the tree's work.
std::vector<float> brute_force_best_snr(const PowerSpectrogram& spectrogram, const SearchOptions& options,
                                        const NoiseStatistics& noise);

// The whole search of a unit: spectrogram, tree, hits with sky frequencies
// where the header gives the centre, corrected to the barycentre where it
// gives the time, place and direction (search/correction.h). 0, or 1 after
// a message.
[[nodiscard]] int search_work_unit(const SampleStreams& streams, const WorkUnitInfo& info,
                                   const SearchOptions& options, SearchResult* result);

}  // namespace okrelt
