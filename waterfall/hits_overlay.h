// The de-Doppler search's hits on the waterfall picture: each hit's path as
// a line beside its signal (never on it, so the signal stays in view),
// numbered as in the hit table (1 the strongest); a numbered tick under the
// integrated spectrum at the hit's mean frequency; and, in a band below the
// plot, cut-outs of the strongest hits at the search's own resolution (its
// spectrogram's cells around the path, every row), the path bracketed, as
// radio-SETI plotters show an event.
#pragma once

#include "search/search.h"
#include "waterfall/picture.h"
#include "waterfall/waterfall.h"
#include "workunit/reader.h"

namespace okrelt {

constexpr int HIT_CUTOUTS = 3;              // the strongest hits cut out, at most
constexpr int CUTOUT_HALF_BINS = 32;        // bins either side of the path in a cut-out
constexpr int HIT_BAND_HEIGHT = 380;        // the cut-outs' band below the picture
constexpr double HIT_PATH_OFFSET = 6.0;     // pixels left of the signal the path's line runs

// The picture's height: PICTURE_HEIGHT, and the cut-outs' band below it
// where the search has hits.
int picture_height(const SearchResult& result);

// Draws the hits of result, searched on cells (the search's spectrogram of
// the unit), on a canvas drawn by draw_spectrogram with picture_height(result)
// rows: paths, ticks and cut-outs. Nothing where there are no hits.
void draw_hits(Canvas* canvas, const Spectrogram& spectrogram, const WorkUnitInfo& info, const SearchResult& result,
               const PowerSpectrogram& cells);

}  // namespace okrelt
