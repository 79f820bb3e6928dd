// A search's results as people and radio-SETI tools read them: the printed
// hit table and sensitivity line, the hit file (NAME.dat, the tab-separated
// layout of the de-Doppler tools' hit files) and CSV rows. Every text is
// returned whole, for the caller to print or write.
#pragma once

#include <string>

#include "search/search.h"
#include "workunit/reader.h"

namespace okrelt {

constexpr const char* HIT_FILE_SUFFIX = ".dat";

// The hit table: a heading naming the grid, then rank, offset Hz, sky MHz,
// drift Hz/s, SNR, amplitude, and the barycentric MHz and Hz/s (blank where
// not known), a hit a line; "No hits." when there is none.
std::string hit_table_text(const SearchResult& result, const SearchOptions& options);

// "Sensitivity: ..." the amplitude (and dB) of the weakest steady tone at a
// bin's centre that reaches the threshold, one line.
std::string sensitivity_text(const SearchResult& result, const SearchOptions& options);

// The hit file: '#' header lines (File ID, Source, MJD RA DEC, DELTAT
// DELTAF(Hz) max_drift_rate obs_length, the column names), then a line a hit
// of tab-separated Top_Hit_#, Drift_Rate, SNR, Uncorrected_Frequency,
// Corrected_Frequency, Index, freq_start, freq_end, SEFD, SEFD_freq,
// Coarse_Channel_Number, Full_number_of_hits. Frequencies in MHz at the
// unit's start: sky frequencies, or offsets from the centre (the header
// says which). Corrected_Frequency is the uncorrected one until a barycentric
// frequency is known.
std::string hit_file_text(const SearchResult& result, const WorkUnitInfo& info, const std::string& file_id,
                          const SearchOptions& options);

// The CSV heading: unit, then the hit table's columns.
std::string hit_csv_heading();

// A CSV line a hit of unit (quoted where it needs to be).
std::string hit_csv_rows(const std::string& unit, const SearchResult& result);

}  // namespace okrelt
