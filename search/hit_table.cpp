#include "search/hit_table.h"

#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <string>

#include "common/file_names.h"
#include "common/numbers.h"
#include "common/spectrum_axis.h"

namespace okrelt {

namespace {

constexpr double MJD_OF_JD = 2400000.5;
constexpr double MINUTES_PER_UNIT = 60.0;
constexpr double SEFD_UNKNOWN = 0.0;
constexpr int COARSE_CHANNEL = 0;            // a unit is one sub-band: one coarse channel

// printf into a string.
std::string format(const char* pattern, ...) __attribute__((format(printf, 1, 2)));
std::string format(const char* pattern, ...) {
    char buffer[512];
    va_list arguments;
    va_start(arguments, pattern);
    const int length = std::vsnprintf(buffer, sizeof buffer, pattern, arguments);
    va_end(arguments);
    return length < 0 ? std::string() : std::string(buffer, std::min(static_cast<size_t>(length), sizeof buffer - 1));
}

// "17h10m03.984s" of hours, "+12d10m58.80s" of degrees; "" for a text that is no number.
std::string sexagesimal(const std::optional<double>& angle, char unit, bool sign) {
    if (!angle) return "";
    const double value = *angle;
    const char* prefix = value < 0.0 ? "-" : sign ? "+" : "";
    double rest = std::fabs(value);
    const double whole = std::floor(rest);
    rest = (rest - whole) * MINUTES_PER_UNIT;
    const double minutes = std::floor(rest);
    const double seconds = (rest - minutes) * MINUTES_PER_UNIT;
    return format("%s%02.0f%c%02.0fm%06.3fs", prefix, whole, unit, minutes, seconds);
}

// A hit's frequency at the unit's start in MHz: sky, or from the centre.
double start_mhz(const Hit& hit) { return hit.sky_mhz ? *hit.sky_mhz : hit.offset_hz / HZ_PER_MHZ; }

std::string optional_text(const std::optional<double>& value, const char* pattern) {
    return value ? format(pattern, *value) : std::string();
}

std::string csv_field(const std::string& text) {
    if (text.find_first_of(",\"\n") == std::string::npos) return text;
    std::string quoted = "\"";
    for (char c : text) {
        if (c == '"') quoted += '"';
        quoted += c;
    }
    return quoted + "\"";
}

}  // namespace

std::string hit_table_text(const SearchResult& result, const SearchOptions& options) {
    std::string text = format("De-Doppler search: %d-point transforms, %d rows of %.3f s, %.4f Hz bins, drifts "
                              "to +-%.3f Hz/s in steps of %.5f Hz/s, SNR %.1f or more.\n",
                              result.bins, result.rows, result.row_seconds, result.bin_hz,
                              result.max_drift_index * result.drift_step_hz_s, result.drift_step_hz_s,
                              options.snr_threshold);
    if (result.hits.empty()) return text + "No hits.\n";
    text += " rank    offset Hz        sky MHz  drift Hz/s       SNR  amplitude  corrected MHz  corrected Hz/s\n";
    int rank = 0;
    for (const Hit& hit : result.hits) {
        std::string line = format("%5d %12.3f %14s %11.4f %9.2f %10.4f %14s %15s", ++rank, hit.offset_hz,
                                  optional_text(hit.sky_mhz, "%.6f").c_str(), hit.drift_hz_s, hit.snr, hit.amplitude,
                                  optional_text(hit.barycentric_mhz, "%.6f").c_str(),
                                  optional_text(hit.barycentric_drift_hz_s, "%.4f").c_str());
        line.erase(line.find_last_not_of(' ') + 1);   // the blank columns at the end
        text += line + "\n";
    }
    if (!result.uncorrected_because.empty()) {
        text += "Not corrected to the barycentre: the header lacks " + result.uncorrected_because + ".\n";
    }
    return text;
}

std::string sensitivity_text(const SearchResult& result, const SearchOptions& options) {
    if (!(result.sensitivity > 0.0)) return "Sensitivity: unknown, the unit holds no noise.\n";
    return format("Sensitivity: a steady tone of amplitude %.4f (%.1f dB) relative to the noise reaches SNR %.1f.\n",
                  result.sensitivity, result.sensitivity_db, options.snr_threshold);
}

std::string hit_file_text(const SearchResult& result, const WorkUnitInfo& info, const std::string& file_id,
                          const SearchOptions& options) {
    const std::string rule = "# -------------------------- o --------------------------\n";
    // A name's control bytes (a line break among them) escaped: each header line stays one line.
    std::string text = rule + "# File ID: " + one_line(file_id) + "\n" + rule;
    text += "# Source: " + one_line(info.name) + "\n";
    const std::string mjd = info.time_recorded_jd ? format("%.9f", *info.time_recorded_jd - MJD_OF_JD) : "";
    text += "# MJD: " + mjd + "\tRA: " + sexagesimal(info.start_ra_hours, 'h', false) +
            "\tDEC: " + sexagesimal(info.start_dec_degrees, 'd', true) + "\n";
    text += format("# DELTAT: %10.6f\tDELTAF(Hz): %10.6f\tmax_drift_rate: %10.6f\tobs_length: %10.6f\n",
                   result.row_seconds, result.bin_hz, options.max_drift_hz_s, result.rows * result.row_seconds);
    if (!info.center_hz) {
        text += "# Frequencies: MHz from the sub-band's centre; the unit gives no sky frequency\n";
    }
    if (!result.uncorrected_because.empty()) {
        text += "# Corrected_Frequency: not corrected, the same as Uncorrected_Frequency; the header lacks " +
                result.uncorrected_because + "\n";
    } else {
        text += "# Corrected_Frequency: at the solar-system barycentre (ERFA)\n";
    }
    text += "# --------------------------\n";
    text += "# Top_Hit_# \tDrift_Rate \tSNR \tUncorrected_Frequency \tCorrected_Frequency \tIndex \tfreq_start "
            "\tfreq_end \tSEFD \tSEFD_freq \tCoarse_Channel_Number \tFull_number_of_hits \t\n";
    text += "# --------------------------\n";
    const double obs_length = result.rows * result.row_seconds;
    int rank = 0;
    for (const Hit& hit : result.hits) {
        const double start = start_mhz(hit);
        const double end = start + hit.drift_hz_s * obs_length / HZ_PER_MHZ;
        const double corrected = hit.barycentric_mhz ? *hit.barycentric_mhz : start;
        text += format("%03d\t%10.6f\t%10.6f\t%16.9f\t%16.9f\t%d\t%16.9f\t%16.9f\t%.1f\t%10.6f\t%d\t%d\t\n", ++rank,
                       hit.drift_hz_s, hit.snr, start, corrected, hit.start_bin, start, end, SEFD_UNKNOWN, 0.0,
                       COARSE_CHANNEL, result.candidates);
    }
    return text;
}

std::string hit_csv_heading() {
    return "unit,rank,offset_hz,sky_mhz,drift_hz_s,snr,amplitude,corrected_mhz,corrected_drift_hz_s\n";
}

std::string hit_csv_rows(const std::string& unit, const SearchResult& result) {
    std::string text;
    int rank = 0;
    for (const Hit& hit : result.hits) {
        text += csv_field(unit) + format(",%d,%.4f,%s,%.5f,%.3f,%.5f,%s,%s\n", ++rank, hit.offset_hz,
                                         optional_text(hit.sky_mhz, "%.9f").c_str(), hit.drift_hz_s, hit.snr,
                                         hit.amplitude, optional_text(hit.barycentric_mhz, "%.9f").c_str(),
                                         optional_text(hit.barycentric_drift_hz_s, "%.5f").c_str());
    }
    return text;
}

}  // namespace okrelt
