// What frames the waterfall: the title with the recording's context, the
// integrated spectrum above it, each row's power beside it and the colour
// bar at the right.
#pragma once

#include <cairo.h>

#include "waterfall/waterfall.h"
#include "workunit/reader.h"

namespace okrelt {

// The unit's name, then its time, telescope, sky position, velocity and
// the transforms' settings, each line left out where the header lacks it.
void draw_title(cairo_t* cr, const WorkUnitInfo& info, const Spectrogram& spectrogram);

// The integrated spectrum above the plot, sharing its frequency axis: where
// bins outnumber pixels a pixel shows the strongest, so narrow lines stay;
// its strongest features marked and named.
void draw_spectrum_panel(cairo_t* cr, const Spectrogram& spectrogram, const WorkUnitInfo& info);

// Each row's power beside the plot, sharing its time axis: bursts rise,
// blanked stretches and silence fall.
void draw_power_strip(cairo_t* cr, const Spectrogram& spectrogram);

// The colour bar's colours, written into the picture's pixels like the plot's.
void paint_colour_bar(cairo_surface_t* picture);

// The colour bar's frame, its dB ticks from low_db to high_db and its name.
void draw_colour_bar(cairo_t* cr, double low_db, double high_db);

}  // namespace okrelt
