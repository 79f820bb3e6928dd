// The waterfall: a work unit's spectrogram (power over time and frequency,
// from the complex samples themselves), its integrated spectrum, and the
// tables of both and of the block spectra's peaks (block_peaks.h).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "common/output_file.h"
#include "waterfall/block_peaks.h"
#include "workunit/reader.h"

namespace okrelt {

constexpr int WATERFALL_DEFAULT_FFT = 1024;
constexpr int WATERFALL_MIN_FFT = 64;
constexpr int WATERFALL_MAX_FFT = 65536;
constexpr int WATERFALL_DEFAULT_PEAKS = 10;
constexpr int WATERFALL_MAX_PEAKS = 1000;
constexpr int WATERFALL_MAX_AVERAGE = 65536;     // transforms averaged into one row, at most
constexpr double WATERFALL_MAX_RANGE_DB = 200.0; // colour ranges lie within this either side of the floor
constexpr double WATERFALL_MIN_RANGE_DB = 1.0;   // and span this at least
constexpr int SPECTRUM_FEATURES = 3;             // features of the integrated spectrum named in the picture

// Power of consecutive Hann-windowed transforms of fft_size samples, on a
// grid of at most the columns and rows asked for. A row is the mean of the
// transforms it covers (incoherent integration: the noise's scatter shrinks,
// a steady tone stays); a cell keeps the strongest bin of its row that it
// covers, so that narrow signals survive, as its base-2 logarithm (its level).
// Time runs down the rows; frequency across the columns from the most
// negative to the most positive, 0 Hz at the middle.
struct Spectrogram {
    int fft_size = 0;
    int transforms = 0;         // whole transforms in the unit
    int average = 1;            // consecutive transforms averaged on purpose
    int columns = 0;            // min(fft_size, columns asked for)
    int rows = 0;               // min(transforms / average rounded up, rows asked for)
    std::unique_ptr<float[]> level;   // rows * columns cells, row by row
    float floor_level = 0.0f;   // the noise floor: the median cell's level
    float top_level = 0.0f;     // the strongest cell's level
    std::vector<double> mean_power;   // the integrated spectrum: each bin's mean over all transforms, columns' order
    std::vector<double> row_power;    // each row's mean total power

    size_t cells() const { return static_cast<size_t>(rows) * static_cast<size_t>(columns); }
};

// True for a power of two from WATERFALL_MIN_FFT to WATERFALL_MAX_FFT.
bool valid_waterfall_fft(long fft_size);

// The spectrogram of all whole transforms' worth of samples, average
// transforms (1 or more) to a row, on a grid of at most max_columns x
// max_rows; no rows (and no cells) when there is not one transform.
Spectrogram make_spectrogram(const SampleStreams& streams, int fft_size, int average, int max_columns, int max_rows);

// The integrated spectrum in dB above its median bin, bin for bin as mean_power.
std::vector<double> integrated_spectrum_db(const Spectrogram& spectrogram);

// The rows' power in dB relative to the median row's.
std::vector<double> row_power_db(const Spectrogram& spectrogram);

// A bin of the integrated spectrum that stands out: its index in mean_power
// and its dB above the floor.
struct SpectrumFeature {
    long index = 0;
    double db = 0.0;
};

// Up to `wanted` local maxima of the integrated spectrum (in dB) standing far
// above the noise bins' scatter, strongest first, each clear of the others.
std::vector<SpectrumFeature> spectrum_features(const std::vector<double>& db, int wanted);

// Writes the integrated spectrum as CSV for path into *out, finished but not
// yet published: offset Hz, sky MHz where the header gives the centre, dB
// above the floor; a bin a line. 0, or 1 after a message.
[[nodiscard]] int write_spectrum_csv(const char* path, const Spectrogram& spectrogram, const WorkUnitInfo& info,
                                     OutputFile* out);

// Writes the peak table's rows as CSV for path into *out, finished but not
// yet published: the same values as printed. 0, or 1 after a message.
[[nodiscard]] int write_peaks_csv(const char* path, const std::vector<BlockPeak>& peaks, const WorkUnitInfo& info,
                                  OutputFile* out);

// Prints the peak table, one line per peak, with sky frequencies where the
// header gives the centre, and says so where it holds fewer than wanted.
void print_peak_table(const std::vector<BlockPeak>& peaks, int wanted, const WorkUnitInfo& info);

}  // namespace okrelt
