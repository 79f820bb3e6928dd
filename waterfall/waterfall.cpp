#include "waterfall/waterfall.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "audio/fft.h"
#include "common/block_sizes.h"
#include "common/messages.h"
#include "common/output_file.h"
#include "common/spectrum_axis.h"
#include "report/rfi.h"

namespace okrelt {

namespace {

constexpr double TWO_PI = 6.283185307179586476925286766559;
constexpr float SMALLEST_POWER = 1.0e-30f;   // keeps the logarithm of silence finite
constexpr double DB_PER_BEL = 10.0;
constexpr double MAD_TO_STANDARD_DEVIATION = 1.4826;   // for normally distributed values
constexpr double FEATURE_MIN_SCATTERS = 6.0;  // a feature stands this many noise deviations above the floor
constexpr double FEATURE_MIN_DB = 0.05;       // and at least this much, should the noise be flat
constexpr long FEATURE_CLEARANCE_DIVISOR = 64; // features lie a 64th of the band apart at least

// The transform's input value of sample k of one stream.
double value_of(const SampleStreams& streams, const int8_t* stream, long k) {
    return stored_value(stream[k], streams.levels);
}

// The median of the cells' powers, to within a 128th of an octave: the bit
// patterns of positive floats sort as their values, so a histogram of their
// top 16 bits finds the median in one pass.
float median_power(const float* power, size_t count) {
    constexpr int BUCKET_SHIFT = 16;
    std::vector<uint32_t> histogram(size_t{1} << (32 - BUCKET_SHIFT), 0);
    for (size_t i = 0; i < count; ++i) {
        uint32_t bits = 0;
        std::memcpy(&bits, &power[i], sizeof bits);
        ++histogram[bits >> BUCKET_SHIFT];
    }
    size_t seen = 0;
    for (size_t bucket = 0; bucket < histogram.size(); ++bucket) {
        seen += histogram[bucket];
        if (seen * 2 >= count) {
            const uint32_t bits = static_cast<uint32_t>(bucket) << BUCKET_SHIFT | (uint32_t{1} << (BUCKET_SHIFT - 1));
            float value = 0.0f;
            std::memcpy(&value, &bits, sizeof value);
            return value;
        }
    }
    return 0.0f;
}

// Turns the cells' powers into levels, and finds the floor and the top.
void set_levels(Spectrogram* spectrogram) {
    float* cells = spectrogram->level.get();
    const size_t count = spectrogram->cells();
    const float floor_power = std::max(median_power(cells, count), SMALLEST_POWER);
    const float top_power = std::max(*std::max_element(cells, cells + count), floor_power);
    for (size_t i = 0; i < count; ++i) cells[i] = std::log2(std::max(cells[i], SMALLEST_POWER));
    spectrogram->floor_level = std::log2(floor_power);
    spectrogram->top_level = std::log2(top_power);
}


double median_of(std::vector<double> values) {
    if (values.empty()) return 0.0;
    const auto middle = values.begin() + static_cast<long>(values.size() / 2);
    std::nth_element(values.begin(), middle, values.end());
    return *middle;
}

// Each value in dB above the values' median; zero powers (silence) come out
// very low rather than infinite.
std::vector<double> decibels_above_median(const std::vector<double>& power) {
    const double floor_power = std::max(median_of(power), static_cast<double>(SMALLEST_POWER));
    std::vector<double> db(power.size());
    for (size_t i = 0; i < power.size(); ++i) {
        db[i] = DB_PER_BEL * std::log10(std::max(power[i], static_cast<double>(SMALLEST_POWER)) / floor_power);
    }
    return db;
}

// A sky frequency in MHz as the tables write it, or "" without a centre.
std::string sky_mhz_text(const WorkUnitInfo& info, double offset_hz) {
    if (!info.center_hz) return "";
    char text[32];
    std::snprintf(text, sizeof text, "%.7f", sky_mhz(*info.center_hz, offset_hz));
    return text;
}

// A peak's values as the table shows them.
struct PeakRow {
    double time = 0.0;     // seconds from the start to the block's start
    double offset = 0.0;   // Hz from the sub-band's centre
    int32_t factor = 0;
};

PeakRow peak_row(const BlockPeak& peak, const WorkUnitInfo& info) {
    return {static_cast<double>(peak.block) * BLOCK_SAMPLES / info.subband_rate,
            transform_bin_hz(peak.bin, BLOCK_SAMPLES, info.subband_rate), static_cast<int32_t>(peak.magnitude)};
}

int report_csv_error(const char* path, int error) {
    if (error == 0) return 0;
    tell(MessageKind::ERROR, "%s: cannot write %s: %s\n", program_name(), path, describe_output_error(error));
    return 1;
}

}  // namespace

bool valid_waterfall_fft(long fft_size) {
    return fft_size >= WATERFALL_MIN_FFT && fft_size <= WATERFALL_MAX_FFT && (fft_size & (fft_size - 1)) == 0;
}

Spectrogram make_spectrogram(const SampleStreams& streams, int fft_size, int average, int max_columns, int max_rows) {
    Spectrogram spectrogram;
    spectrogram.fft_size = fft_size;
    spectrogram.transforms = streams.count / fft_size;
    spectrogram.average = average;
    spectrogram.columns = std::min(fft_size, max_columns);
    const int averaged_rows = (spectrogram.transforms + average - 1) / average;
    spectrogram.rows = std::min(averaged_rows, max_rows);
    if (spectrogram.rows <= 0 || spectrogram.columns <= 0) return spectrogram;   // not one whole transform
    // Every cell is written when its row is complete: no zero fill.
    spectrogram.level.reset(new float[spectrogram.cells()]);
    spectrogram.mean_power.assign(static_cast<size_t>(fft_size), 0.0);
    spectrogram.row_power.assign(static_cast<size_t>(spectrogram.rows), 0.0);
    const int m = log2_of(fft_size);
    std::vector<double> window(static_cast<size_t>(fft_size));
    for (size_t j = 0; j < window.size(); ++j) {
        window[j] = 0.5 - 0.5 * std::cos(TWO_PI * static_cast<int>(j) / fft_size);
    }
    // Where the bin at each position of a transform left in bit-reversed
    // order goes: negative frequencies (the upper half of the bins) first.
    std::vector<int> index_of(static_cast<size_t>(fft_size));
    for (size_t position = 0; position < index_of.size(); ++position) {
        const long bin = reversed_bits(static_cast<long>(position), m);
        index_of[position] = static_cast<int>((bin + fft_size / 2) % fft_size);
    }
    std::vector<double> re(static_cast<size_t>(fft_size));
    std::vector<double> im(static_cast<size_t>(fft_size));
    std::vector<double> row_sum(static_cast<size_t>(fft_size), 0.0);
    int row_transforms = 0;
    for (int transform = 0; transform < spectrogram.transforms; ++transform) {
        const long first = static_cast<long>(transform) * fft_size;
        for (size_t j = 0; j < re.size(); ++j) {
            const long k = first + static_cast<long>(j);
            re[j] = window[j] * value_of(streams, streams.in_phase, k);
            im[j] = window[j] * value_of(streams, streams.quadrature, k);
        }
        (void)fft_forward_bit_reversed(m, re.data(), im.data());
        for (size_t k = 0; k < re.size(); ++k) {
            row_sum[static_cast<size_t>(index_of[k])] += re[k] * re[k] + im[k] * im[k];
        }
        ++row_transforms;
        const long row = static_cast<long>(transform / average) * spectrogram.rows / averaged_rows;
        const bool last = transform + 1 == spectrogram.transforms ||
                          static_cast<long>((transform + 1) / average) * spectrogram.rows / averaged_rows != row;
        if (!last) continue;
        // The row is complete: its mean, into cells, row power and the integrated spectrum.
        float* cells = &spectrogram.level[static_cast<size_t>(row) * static_cast<size_t>(spectrogram.columns)];
        std::fill(cells, cells + spectrogram.columns, 0.0f);
        double total = 0.0;
        for (size_t bin = 0; bin < row_sum.size(); ++bin) {
            const double mean = row_sum[bin] / row_transforms;
            float& cell = cells[static_cast<long>(bin) * spectrogram.columns / fft_size];
            cell = std::max(cell, static_cast<float>(mean));
            total += mean;
            spectrogram.mean_power[bin] += row_sum[bin];
        }
        spectrogram.row_power[static_cast<size_t>(row)] = total;
        std::fill(row_sum.begin(), row_sum.end(), 0.0);
        row_transforms = 0;
    }
    for (double& power : spectrogram.mean_power) power /= spectrogram.transforms;
    set_levels(&spectrogram);
    return spectrogram;
}

std::vector<double> integrated_spectrum_db(const Spectrogram& spectrogram) {
    return decibels_above_median(spectrogram.mean_power);
}

std::vector<double> row_power_db(const Spectrogram& spectrogram) { return decibels_above_median(spectrogram.row_power); }

std::vector<SpectrumFeature> spectrum_features(const std::vector<double>& db, int wanted) {
    std::vector<SpectrumFeature> features;
    const long n = static_cast<long>(db.size());
    if (n < 3) return features;
    // The noise bins' scatter, robustly: the median absolute deviation from
    // the median (0 dB), as a normal distribution's standard deviation.
    std::vector<double> deviation(db.size());
    for (size_t i = 0; i < db.size(); ++i) deviation[i] = std::fabs(db[i]);
    const double scatter = MAD_TO_STANDARD_DEVIATION * median_of(deviation);
    const double threshold = std::max(FEATURE_MIN_SCATTERS * scatter, FEATURE_MIN_DB);
    std::vector<SpectrumFeature> maxima;
    for (long i = 0; i < n; ++i) {
        const double left = db[static_cast<size_t>((i + n - 1) % n)];
        const double right = db[static_cast<size_t>((i + 1) % n)];
        const double here = db[static_cast<size_t>(i)];
        if (here > threshold && here >= left && here > right) maxima.push_back({i, here});
    }
    std::sort(maxima.begin(), maxima.end(), [](const SpectrumFeature& a, const SpectrumFeature& b) { return a.db > b.db; });
    const long clearance = std::max(1L, n / FEATURE_CLEARANCE_DIVISOR);
    for (const SpectrumFeature& candidate : maxima) {
        if (static_cast<int>(features.size()) >= wanted) break;
        const bool clear = std::none_of(features.begin(), features.end(), [&](const SpectrumFeature& taken) {
            const long distance = std::labs(taken.index - candidate.index);
            return std::min(distance, n - distance) < clearance;
        });
        if (clear) features.push_back(candidate);
    }
    return features;
}

int write_spectrum_csv(const char* path, const Spectrogram& spectrogram, const WorkUnitInfo& info,
                       OutputFile* out) {
    int error = open_output(path, out);
    if (error == 0) {
        std::FILE* file = out->file.get();
        std::fprintf(file, "offset_hz,sky_mhz,power_db_above_floor\n");
        const std::vector<double> db = integrated_spectrum_db(spectrogram);
        for (size_t index = 0; index < db.size(); ++index) {
            const double hz = sky_order_bin_hz(static_cast<long>(index), spectrogram.fft_size, info.subband_rate);
            std::fprintf(file, "%.6f,%s,%.6f\n", hz, sky_mhz_text(info, hz).c_str(), db[index]);
        }
        error = finish_output(out);
    }
    return report_csv_error(path, error);
}

int write_peaks_csv(const char* path, const std::vector<BlockPeak>& peaks, const WorkUnitInfo& info,
                    OutputFile* out) {
    int error = open_output(path, out);
    if (error == 0) {
        std::FILE* file = out->file.get();
        std::fprintf(file, "rank,block,time_s,offset_hz,sky_mhz,magnitude,grade\n");
        int rank = 0;
        for (const BlockPeak& peak : peaks) {
            const PeakRow row = peak_row(peak, info);
            std::fprintf(file, "%d,%d,%.3f,%.3f,%s,%d,%s\n", ++rank, peak.block, row.time, row.offset,
                         sky_mhz_text(info, row.offset).c_str(), row.factor, rfi_grade(row.factor));
        }
        error = finish_output(out);
    }
    return report_csv_error(path, error);
}

void print_peak_table(const std::vector<BlockPeak>& peaks, int wanted, const WorkUnitInfo& info) {
    const double hz_per_bin = bin_width_hz(info.subband_rate, BLOCK_SAMPLES);
    std::printf("Strongest peaks of the %d-point block spectra (at most one per block and %.0f Hz):\n",
                BLOCK_SAMPLES, PEAK_NEIGHBOURHOOD_BINS * hz_per_bin);
    std::printf("%5s %6s %9s %12s %14s %10s\n", "rank", "block", "time s", "offset Hz", "sky MHz", "magnitude");
    int rank = 0;
    for (const BlockPeak& peak : peaks) {
        const PeakRow row = peak_row(peak, info);
        const std::string sky = info.center_hz ? sky_mhz_text(info, row.offset) : "-";
        std::printf("%5d %6d %9.3f %12.3f %14s %10d %s\n", ++rank, peak.block, row.time, row.offset, sky.c_str(),
                    row.factor, rfi_grade(row.factor));
    }
    if (rank < wanted) {
        std::printf("No further peaks: every other bin is empty or near a stronger one of its block.\n");
    }
}

}  // namespace okrelt
