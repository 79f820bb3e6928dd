// The picture's scales: where a frequency and a time fall on the waterfall,
// round tick steps, and the waterfall's own axes (seconds down the left,
// Hz from the centre along the bottom, sky MHz along the top).
#pragma once

#include <cairo.h>

#include "waterfall/waterfall.h"
#include "workunit/reader.h"

namespace okrelt {

constexpr double TICK_LENGTH = 6.0;
constexpr int TICKS_WANTED = 8;

constexpr double MIN_DB_RANGE = 1.0;         // a flat picture still gets a scale

// The waterfall's frequency and time spans.
struct Axes {
    double rate;          // sub-band samples per second
    double seconds;       // the time the rows cover
};

// The spans of a spectrogram of the unit.
Axes axes_of(const Spectrogram& spectrogram, const WorkUnitInfo& info);

// The picture's x of a frequency from the centre, and y of a time from the start.
double x_of_hz(const Axes& axes, double hz);
double y_of_seconds(const Axes& axes, double seconds);

// A round step near span / wanted: 1, 2 or 5 times a power of ten.
double tick_step(double span, int wanted = TICKS_WANTED);

// The decimals a label needs to show multiples of step.
int decimals_of(double step);

// The waterfall's frame, its time and frequency ticks and their names.
void draw_axes(cairo_t* cr, const Axes& axes, const WorkUnitInfo& info);

// Ticks and labels along a vertical dB axis at x, left of it (side -1) or
// right (side +1), for values low..high mapped to y_low..y_high.
void draw_db_ticks(cairo_t* cr, double x, double side, double low, double high, double y_low, double y_high,
                   int wanted);

}  // namespace okrelt
