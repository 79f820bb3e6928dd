// The waterfall picture, drawn with cairo and written by libpng: the
// spectrogram in a perceptually uniform colour map from the noise floor (the
// median cell) to the strongest cell, time down and frequency across (0 Hz,
// the sub-band's centre, in the middle); above it the integrated spectrum,
// its strongest features named; beside it each row's power; axes in seconds,
// Hz from the centre and, where the header gives the centre, MHz of sky
// frequency; a title with the recording's time, telescope, sky position and
// velocity; a colour bar in dB above the floor; a ring on the RFI factor's
// peak.
#pragma once

#include <cairo.h>

#include <cstdint>
#include <memory>
#include <vector>

#include "common/memory.h"
#include "common/output_file.h"
#include "waterfall/fonts.h"
#include "waterfall/waterfall.h"
#include "workunit/reader.h"

namespace okrelt {

constexpr int PICTURE_WIDTH = 1390;
constexpr int PICTURE_HEIGHT = 1330;
constexpr int PLOT_LEFT = 90;          // the spectrogram's area
constexpr int PLOT_TOP = 360;
constexpr int PLOT_WIDTH = 1024;
constexpr int PLOT_HEIGHT = 896;
constexpr int SPECTRUM_TOP = 150;      // the integrated spectrum's panel, as wide as the plot
constexpr int SPECTRUM_HEIGHT = 190;
constexpr int STRIP_LEFT = PLOT_LEFT + PLOT_WIDTH + 16;   // the rows' power, as high as the plot
constexpr int STRIP_WIDTH = 130;

// The colour scale in dB above the floor; unset, it runs from the floor to
// the strongest cell.
struct ColourRange {
    bool set = false;
    double low_db = 0.0;
    double high_db = 0.0;
};

// The picture's pixels (cairo's RGB24 layout), white around the plot.
struct Canvas {
    MappedMemory pixels;                            // null if memory ran out
    int stride = 0;                                 // bytes per row
    int height = PICTURE_HEIGHT;                    // rows: more where a band is added below
    cairo_status_t status = CAIRO_STATUS_SUCCESS;   // of the drawing so far
    Fonts fonts;                                    // what the lettering is drawn in
};

// cairo's objects, let go of when they go out of scope.
struct SurfaceCloser {
    void operator()(cairo_surface_t* surface) const { cairo_surface_destroy(surface); }
};
struct ContextCloser {
    void operator()(cairo_t* cr) const { cairo_destroy(cr); }
};
using Surface = std::unique_ptr<cairo_surface_t, SurfaceCloser>;
using Context = std::unique_ptr<cairo_t, ContextCloser>;

// Makes the blank picture, height rows high (PICTURE_HEIGHT or more; the
// rows below PICTURE_HEIGHT white), and has cairo load its fonts: both take
// a good share of a picture's time and can run beside the analysis, on
// another thread while nothing else draws.
Canvas prepare_canvas(int height = PICTURE_HEIGHT);

// A cairo surface drawing straight into the canvas's pixels, in its fonts.
Surface canvas_surface(Canvas* canvas);

// Draws everything but the RFI peak's ring on the canvas: the spectrogram,
// its panels, axes, title and colour bar. Needs no peaks, so it can run
// beside their search.
void draw_spectrogram(Canvas* canvas, const Spectrogram& spectrogram, const WorkUnitInfo& info,
                      const ColourRange& range);

// Rings the RFI factor's peak (the first of peaks) and writes the picture as
// PNG for path into *out, finished but not yet published (output_file.h):
// a failure leaves no partial picture. 0, or 1 after printing why.
[[nodiscard]] int finish_waterfall(Canvas* canvas, const Spectrogram& spectrogram, const std::vector<BlockPeak>& peaks,
                                   const WorkUnitInfo& info, const char* path, OutputFile* out);

}  // namespace okrelt
