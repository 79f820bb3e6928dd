// The de-Doppler search: narrowband tones whose frequency drifts linearly
// with time, as a transmitter on a rotating, orbiting planet would show.
// The unit's samples become a power spectrogram (rows of consecutive
// transforms); power is summed along every straight path of the drift grid
// by a Taylor tree; paths standing far above the noise become hits, one a
// signal. Frequencies run in sky order: column c of a row is c - fft_size/2
// bins from the sub-band's centre, and the band wraps round (complex
// samples: a tone past the top edge comes back at the bottom).
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "search/spectrogram.h"
#include "workunit/reader.h"

namespace okrelt {

constexpr double SEARCH_DEFAULT_SNR = 10.0;
constexpr double SEARCH_MAX_SNR = 1.0e6;         // the largest --snr taken
constexpr double SEARCH_DEFAULT_MAX_DRIFT = 10.0;   // Hz/s, either sign
constexpr double SEARCH_MAX_MAX_DRIFT = 1000.0;     // Hz/s: the largest --max-drift taken
constexpr int SAME_SIGNAL_BINS = 2;              // paths this close (and a drifting hit's row-spread) for half the rows are one signal
constexpr int SEARCH_MAX_CANDIDATES = 4096;      // strongest local maxima looked at for hits
constexpr int SEARCH_MAX_HITS = 256;             // the strongest signals of a unit kept, at most
constexpr int SEARCH_MASK_ROUNDS = 3;            // searches again with the hits masked, where maxima were dropped

struct SearchOptions {
    int fft_size = SEARCH_DEFAULT_FFT;
    double max_drift_hz_s = SEARCH_DEFAULT_MAX_DRIFT;
    double snr_threshold = SEARCH_DEFAULT_SNR;
    SearchWindow window = SEARCH_DEFAULT_WINDOW;
    bool best_snr_of_each_bin = false;   // SearchResult::best_snr wanted: the tree then makes every sum
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
    std::vector<float> best_snr;  // each start bin's best SNR over all drifts, where the options ask for it
    std::string uncorrected_because;   // what the header lacks for the barycentric correction; empty: corrected
};

// The spectrogram and its noise: search/spectrogram.h.

// The drift grid (search/drift_grid.cpp) and its Taylor tree (search/taylor_tree.cpp).

// The rows rounded up to a power of two: the drift grid's and the tree's.
int padded_rows_of(int rows);

// The drift grid's step in Hz/s for a spectrogram: rows padded to a power of two.
double drift_step_hz_s(const PowerSpectrogram& spectrogram);

// The column a search path (start bin, signed drift index) is at in row r:
// exactly the cells the Taylor tree sums.
int path_column(int start_bin, int drift_index, int row, int bins, int padded_rows);

// The reference the tree is checked against: each start bin's best SNR over
// the same drifts, each path summed directly along the straight line
// (column start + round(slope * row)). Slow: rows times the tree's work.
std::vector<float> brute_force_best_snr(const PowerSpectrogram& spectrogram, const SearchOptions& options,
                                        const NoiseStatistics& noise);

// The search (search/search.cpp).

// The Taylor-tree search of a spectrogram of SEARCH_MIN_ROWS rows or more:
// every start bin and drift within options.max_drift_hz_s, SNR, hits over
// options.snr_threshold, sensitivity. Sky frequencies are left empty. With
// a team, its second thread shares the tree's work (the same result); its
// working memory comes from scratch where that is given.
// 0, or 1 after a message when there is no memory for the tree.
[[nodiscard]] int search_spectrogram(const PowerSpectrogram& spectrogram, const SearchOptions& options,
                                     SearchResult* result, Team* team = nullptr, ScratchMemory* scratch = nullptr);

// The whole search of a unit: spectrogram, tree, hits with sky frequencies
// where the header gives the centre, corrected to the barycentre where it
// gives the time, place and direction (search/correction.h); the spectrogram
// searched is left in *searched where that is given. A second thread shares
// the work where there is a processor for it. 0, or 1 after a message.
[[nodiscard]] int search_work_unit(const SampleStreams& streams, const WorkUnitInfo& info,
                                   const SearchOptions& options, SearchResult* result,
                                   PowerSpectrogram* searched = nullptr);

// The options --snr and --max-drift as program's command line gives them,
// into *options: 0, or EXIT_USAGE after the usage error for text that is no
// number in their range.
[[nodiscard]] int take_search_snr(const char* program, const char* text, SearchOptions* options);
[[nodiscard]] int take_search_max_drift(const char* program, const char* text, SearchOptions* options);

}  // namespace okrelt
