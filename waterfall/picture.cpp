#include "waterfall/picture.h"

#include <cairo.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "common/block_sizes.h"
#include "common/memory.h"
#include "common/messages.h"
#include "common/output_file.h"
#include "common/spectrum_axis.h"
#include "report/rfi.h"
#include "waterfall/axes.h"
#include "waterfall/colour_map.h"
#include "waterfall/fonts.h"
#include "waterfall/panels.h"
#include "waterfall/png_writer.h"

namespace okrelt {

namespace {

constexpr double RING_RADIUS = 16.0;
constexpr double DB_PER_OCTAVE = 3.0102999566398120;   // 10 log10(2)
constexpr int WHITE_BYTE = 0xff;             // every channel full: white

// Paints the cells into the plot area of the picture's pixels, each pixel
// taking the cell under its centre, coloured from low_db above the floor (the
// map's lowest colour) to high_db above it (its highest).
void paint_cells(cairo_surface_t* picture, const Spectrogram& spectrogram, double low_db, double high_db) {
    cairo_surface_flush(picture);
    unsigned char* data = cairo_image_surface_get_data(picture);
    const int stride = cairo_image_surface_get_stride(picture);
    uint32_t colours[COLOUR_MAP_SIZE];
    for (int i = 0; i < COLOUR_MAP_SIZE; ++i) colours[i] = map_colour(i);
    // Levels are base-2 logarithms: the scale folds in the change to dB.
    const double span_db = high_db - low_db;
    const float scale = static_cast<float>((COLOUR_MAP_SIZE - 1) * DB_PER_OCTAVE / span_db);
    const float offset =
        spectrogram.floor_level * scale + static_cast<float>(low_db * (COLOUR_MAP_SIZE - 1) / span_db) - 0.5f;
    std::vector<size_t> cell_of_x(PLOT_WIDTH);
    for (size_t x = 0; x < cell_of_x.size(); ++x) {
        cell_of_x[x] = static_cast<size_t>(static_cast<long>(x) * spectrogram.columns / PLOT_WIDTH);
    }
    for (int y = 0; y < PLOT_HEIGHT; ++y) {
        const long row = static_cast<long>(y) * spectrogram.rows / PLOT_HEIGHT;
        const float* cells = &spectrogram.level[static_cast<size_t>(row) * static_cast<size_t>(spectrogram.columns)];
        auto* line = reinterpret_cast<uint32_t*>(data + static_cast<long>(PLOT_TOP + y) * stride) + PLOT_LEFT;
        for (int x = 0; x < PLOT_WIDTH; ++x) {
            const float index = cells[cell_of_x[static_cast<size_t>(x)]] * scale - offset;
            line[x] = colours[std::clamp(static_cast<int>(index), 0, COLOUR_MAP_SIZE - 1)];
        }
    }
    cairo_surface_mark_dirty(picture);
}

void draw_ring(cairo_t* cr, const Axes& axes, const BlockPeak& peak) {
    const double x = x_of_hz(axes, transform_bin_hz(peak.bin, BLOCK_SAMPLES, axes.rate));
    const double y = y_of_seconds(axes, (peak.block + 0.5) * BLOCK_SAMPLES / axes.rate);
    cairo_new_path(cr);
    cairo_set_line_width(cr, 2.5);
    cairo_set_source_rgb(cr, 1.0, 0.1, 0.1);
    cairo_arc(cr, x, y, RING_RADIUS, 0, 2 * M_PI);
    cairo_stroke(cr);
    const int32_t factor = static_cast<int32_t>(peak.magnitude);
    const std::string label = "RFI " + std::to_string(factor) + " " + rfi_grade(factor);
    select_font(cr, CAIRO_FONT_WEIGHT_BOLD);
    const bool left_side = x > PLOT_LEFT + PLOT_WIDTH * 0.75;
    const double text_x = left_side ? x - RING_RADIUS - 6 : x + RING_RADIUS + 6;
    // A dark outline keeps the label readable over bright pixels.
    cairo_text_extents_t extents;
    cairo_text_extents(cr, label.c_str(), &extents);
    cairo_move_to(cr, text_x - extents.x_bearing - (left_side ? extents.width : 0.0),
                  y - extents.y_bearing - extents.height / 2);
    cairo_text_path(cr, label.c_str());
    cairo_set_source_rgb(cr, 0, 0, 0);
    cairo_set_line_width(cr, 3.0);
    cairo_stroke_preserve(cr);
    cairo_set_source_rgb(cr, 1.0, 0.1, 0.1);
    cairo_fill(cr);
}

void report_draw_error(cairo_status_t status) {
    tell(MessageKind::ERROR, "%s: cannot draw: %s\n", program_name(), cairo_status_to_string(status));
}

// The colour scale: as asked, or from the floor to the top, at least MIN_DB_RANGE.
ColourRange range_of(const Spectrogram& spectrogram, const ColourRange& asked) {
    if (asked.set) return asked;
    const double top = DB_PER_OCTAVE * static_cast<double>(spectrogram.top_level - spectrogram.floor_level);
    return ColourRange{true, 0.0, std::max(top, MIN_DB_RANGE)};
}

}  // namespace

Canvas prepare_canvas(int height) {
    Canvas canvas;
    canvas.height = std::max(height, PICTURE_HEIGHT);
    canvas.stride = cairo_format_stride_for_width(CAIRO_FORMAT_RGB24, PICTURE_WIDTH);
    const size_t bytes = static_cast<size_t>(canvas.stride) * static_cast<size_t>(canvas.height);
    canvas.pixels = map_big_array(bytes);
    if (!canvas.pixels) return canvas;
    // White around the plot; the cells cover the plot itself.
    unsigned char* pixels = static_cast<unsigned char*>(canvas.pixels.get());
    const size_t stride = static_cast<size_t>(canvas.stride);
    std::memset(pixels, WHITE_BYTE, stride * PLOT_TOP);
    std::memset(pixels + stride * (PLOT_TOP + PLOT_HEIGHT), WHITE_BYTE, bytes - stride * (PLOT_TOP + PLOT_HEIGHT));
    for (size_t y = PLOT_TOP; y < PLOT_TOP + PLOT_HEIGHT; ++y) {
        std::memset(pixels + y * stride, WHITE_BYTE, PLOT_LEFT * sizeof(uint32_t));
        std::memset(pixels + y * stride + (PLOT_LEFT + PLOT_WIDTH) * sizeof(uint32_t), WHITE_BYTE,
                    stride - (PLOT_LEFT + PLOT_WIDTH) * sizeof(uint32_t));
    }
    // Loading the fonts: a good share of a picture's time.
    if (!load_font_files(&canvas.fonts)) {
        canvas.status = CAIRO_STATUS_NO_MEMORY;
        return canvas;
    }
    Surface scratch(cairo_image_surface_create(CAIRO_FORMAT_RGB24, 1, 1));
    attach_fonts(scratch.get(), &canvas.fonts);
    Context cr(cairo_create(scratch.get()));
    for (const cairo_font_weight_t weight : {CAIRO_FONT_WEIGHT_NORMAL, CAIRO_FONT_WEIGHT_BOLD}) {
        select_font(cr.get(), weight);
        cairo_set_font_size(cr.get(), TEXT_SIZE);
        cairo_text_extents_t extents;
        cairo_text_extents(cr.get(), "0123456789 dB Hz", &extents);
    }
    return canvas;
}

Surface canvas_surface(Canvas* canvas) {
    unsigned char* const pixels = static_cast<unsigned char*>(canvas->pixels.get());
    Surface surface(
        cairo_image_surface_create_for_data(pixels, CAIRO_FORMAT_RGB24, PICTURE_WIDTH, canvas->height, canvas->stride));
    attach_fonts(surface.get(), &canvas->fonts);
    return surface;
}

void draw_spectrogram(Canvas* canvas, const Spectrogram& spectrogram, const WorkUnitInfo& info,
                      const ColourRange& asked) {
    if (!canvas->pixels || canvas->status != CAIRO_STATUS_SUCCESS) return;
    Surface picture = canvas_surface(canvas);
    Context cr(cairo_create(picture.get()));
    const ColourRange range = range_of(spectrogram, asked);
    paint_cells(picture.get(), spectrogram, range.low_db, range.high_db);
    paint_colour_bar(picture.get());
    draw_title(cr.get(), info, spectrogram);
    select_font(cr.get(), CAIRO_FONT_WEIGHT_NORMAL);
    draw_axes(cr.get(), axes_of(spectrogram, info), info);
    draw_spectrum_panel(cr.get(), spectrogram, info);
    draw_power_strip(cr.get(), spectrogram);
    draw_colour_bar(cr.get(), range.low_db, range.high_db);
    cairo_surface_flush(picture.get());
    canvas->status = cairo_status(cr.get());
}

int finish_waterfall(Canvas* canvas, const Spectrogram& spectrogram, const std::vector<BlockPeak>& peaks,
                     const WorkUnitInfo& info, const char* path, OutputFile* out) {
    if (!canvas->pixels) {
        report_write_error(path, ENOMEM);
        return 1;
    }
    if (canvas->status != CAIRO_STATUS_SUCCESS) {
        report_draw_error(canvas->status);
        return 1;
    }
    Surface picture = canvas_surface(canvas);
    Context cr(cairo_create(picture.get()));
    if (!peaks.empty()) draw_ring(cr.get(), axes_of(spectrogram, info), peaks.front());
    cairo_surface_flush(picture.get());
    const cairo_status_t status = canvas->status != CAIRO_STATUS_SUCCESS ? canvas->status : cairo_status(cr.get());
    if (status != CAIRO_STATUS_SUCCESS) {
        report_draw_error(status);
        return 1;
    }
    return write_png(picture.get(), path, out);
}

}  // namespace okrelt
