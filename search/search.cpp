#include "search/search.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <utility>
#include <vector>

#include "common/background.h"
#include "common/command_line.h"
#include "common/messages.h"
#include "common/numbers.h"
#include "common/spectrum_axis.h"
#include "common/team.h"
#include "search/correction.h"
#include "search/hits.h"
#include "search/taylor_tree.h"

namespace okrelt {

namespace {

constexpr double DB_PER_DECADE_OF_AMPLITUDE = 20.0;
// Below this power a sample, the cells hold only what the transform's
// rounding leaves of a constant: no noise to measure a signal against.
constexpr double MIN_NOISE_SAMPLE_POWER = 1e-9;

// A copy of the spectrogram with the cells within each hit's meeting reach
// replaced by the noise's mean: what is left of the unit beside its hits.
// 0, or 1 after a message when there is no memory.
int masked_copy(const PowerSpectrogram& spectrogram, const std::vector<Hit>& hits, float noise_cell,
                PowerSpectrogram* masked) {
    if (allocate_spectrogram(spectrogram.bins, spectrogram.rows, masked) != 0) return 1;
    masked->bin_hz = spectrogram.bin_hz;
    masked->row_seconds = spectrogram.row_seconds;
    masked->tone_gain = spectrogram.tone_gain;
    masked->white_cell_power = spectrogram.white_cell_power;
    std::copy(spectrogram.power, spectrogram.power + spectrogram.cells(), masked->power);
    const int padded = padded_rows_of(spectrogram.rows);
    for (const Hit& hit : hits) {
        const int reach = std::min(meeting_reach(hit.drift_index, padded), spectrogram.bins / 2);
        for (int r = 0; r < spectrogram.rows; ++r) {
            const int column = path_column(hit.start_bin, hit.drift_index, r, spectrogram.bins, padded);
            for (int c = -reach; c <= reach; ++c) masked->row(r)[wrapped(column + c, spectrogram.bins)] = noise_cell;
        }
    }
    return 0;
}

// The sum of the spectrogram's cells along a candidate's path, row by row.
float path_sum(const PowerSpectrogram& spectrogram, const Candidate& c) {
    const int padded = padded_rows_of(spectrogram.rows);
    float sum = 0.0f;
    for (int r = 0; r < spectrogram.rows; ++r) {
        sum += spectrogram.row(r)[path_column(c.start_bin, c.drift_index, r, spectrogram.bins, padded)];
    }
    return sum;
}

// Where the strongest maxima crowded weaker ones out of the candidates (a
// strong tone's power makes maxima of every path that crosses it), the
// spectrogram is searched again with the hits found masked, and the
// maxima found there, summed on the unmasked cells, join the candidates.
// 0, or 1 after a message.
int search_beside_hits(const PowerSpectrogram& spectrogram, const SearchResult& found, float threshold_sum,
                       bool dropped, std::vector<Candidate> candidates, Team* team, ScratchMemory* scratch,
                       std::vector<Hit>* hits) {
    for (int round = 0; round < SEARCH_MASK_ROUNDS && dropped && !hits->empty() &&
                        hits->size() < static_cast<size_t>(SEARCH_MAX_HITS);
         ++round) {
        PowerSpectrogram masked;
        if (masked_copy(spectrogram, *hits, static_cast<float>(found.noise.cell_mean), &masked) != 0) return 1;
        MaximaScan scan(spectrogram.bins, threshold_sum, false);
        if (tree_search(masked, found.max_drift_index, &scan, team, scratch) != 0) return 1;
        dropped = scan.counted() > SEARCH_MAX_CANDIDATES;
        for (Candidate c : scan.take_candidates()) {
            c.sum = path_sum(spectrogram, c);
            candidates.push_back(c);
        }
        std::stable_sort(candidates.begin(), candidates.end(), stronger);
        const size_t before = hits->size();
        *hits = make_hits(spectrogram, candidates, found.noise, threshold_sum);
        if (hits->size() <= before) break;
    }
    return 0;
}

}  // namespace

int search_spectrogram(const PowerSpectrogram& spectrogram, const SearchOptions& options, SearchResult* found,
                       Team* team, ScratchMemory* scratch) {
    SearchResult& result = *found;
    result = SearchResult();
    result.bins = spectrogram.bins;
    result.rows = spectrogram.rows;
    result.bin_hz = spectrogram.bin_hz;
    result.row_seconds = spectrogram.row_seconds;
    result.drift_step_hz_s = drift_step_hz_s(spectrogram);
    result.max_drift_index = static_cast<int>(std::floor(options.max_drift_hz_s / result.drift_step_hz_s + 1e-9));
    result.noise = noise_statistics(spectrogram, scratch);
    const NoiseStatistics& noise = result.noise;
    // A unit with no scatter (silence, a constant) has no noise to stand above.
    const bool noisy =
        noise.deviation > 0.0 && noise.cell_mean > MIN_NOISE_SAMPLE_POWER * spectrogram.white_cell_power;
    const float threshold_sum = noisy ? static_cast<float>(noise.median + options.snr_threshold * noise.deviation)
                                      : std::numeric_limits<float>::infinity();
    MaximaScan scan(spectrogram.bins, threshold_sum, options.best_snr_of_each_bin);
    if (tree_search(spectrogram, result.max_drift_index, &scan, team, scratch) != 0) return 1;
    result.candidates = scan.counted();
    if (options.best_snr_of_each_bin) {
        result.best_snr.resize(static_cast<size_t>(spectrogram.bins));
        for (size_t f = 0; f < result.best_snr.size(); ++f) {
            result.best_snr[f] = noisy ? static_cast<float>((scan.best()[f] - noise.median) / noise.deviation) : 0.0f;
        }
    }
    if (!noisy) return 0;
    result.sensitivity = sensitivity(spectrogram, noise, options.snr_threshold);
    result.sensitivity_db = DB_PER_DECADE_OF_AMPLITUDE * std::log10(result.sensitivity);
    std::vector<Candidate> candidates = scan.take_candidates();
    result.hits = make_hits(spectrogram, candidates, noise, threshold_sum);
    if (search_beside_hits(spectrogram, result, threshold_sum, result.candidates > SEARCH_MAX_CANDIDATES,
                           std::move(candidates), team, scratch, &result.hits) != 0) {
        return 1;
    }
    for (Hit& hit : result.hits) {
        hit.drift_hz_s = hit.drift_index * result.drift_step_hz_s;
        // The path starts at row 0's middle: half a row after the first sample.
        hit.offset_hz = (hit.start_bin - spectrogram.bins / 2) * spectrogram.bin_hz -
                        hit.drift_hz_s * spectrogram.row_seconds / 2.0;
    }
    return 0;
}

int search_work_unit(const SampleStreams& streams, const WorkUnitInfo& info, const SearchOptions& options,
                     SearchResult* result, PowerSpectrogram* searched) {
    PowerSpectrogram own;
    PowerSpectrogram& spectrogram = searched != nullptr ? *searched : own;
    const TeamPtr team = usable_processors() > 1 ? start_team() : nullptr;
    // The transforms, the noise's sums and the tree take the same memory in turn.
    ScratchMemory scratch;
    if (make_power_spectrogram(streams, info, options.fft_size, options.window, &spectrogram, team.get(), &scratch) !=
        0) {
        return 1;
    }
    if (search_spectrogram(spectrogram, options, result, team.get(), &scratch) != 0) return 1;
    if (info.center_hz) {
        for (Hit& hit : result->hits) hit.sky_mhz = sky_mhz(*info.center_hz, hit.offset_hz);
    }
    (void)correct_hits_to_barycentre(info, result);   // where the header lacks what it takes, it says so
    return 0;
}

int take_search_snr(const char* program, const char* text, SearchOptions* options) {
    double snr = 0.0;
    if (!parse_real(text, &snr) || !(snr > 0.0 && snr <= SEARCH_MAX_SNR)) {
        return usage_error(program, "--snr takes a number above 0, up to 1000000", text);
    }
    options->snr_threshold = snr;
    return 0;
}

int take_search_max_drift(const char* program, const char* text, SearchOptions* options) {
    double drift = 0.0;
    if (!parse_real(text, &drift) || !(drift >= 0.0 && drift <= SEARCH_MAX_MAX_DRIFT)) {
        return usage_error(program, "--max-drift takes Hz/s from 0 to 1000", text);
    }
    options->max_drift_hz_s = drift;
    return 0;
}

}  // namespace okrelt
