#include "waterfall/hits_overlay.h"

#include <cairo.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "waterfall/axes.h"
#include "waterfall/colour_map.h"
#include "waterfall/fonts.h"

namespace okrelt {

namespace {

constexpr double HIT_RGB[3] = {1.0, 0.55, 0.0};   // orange: apart from viridis's colours and the ring's red
constexpr double HIT_LINE_WIDTH = 2.0;
constexpr double OUTLINE_WIDTH = 3.0;             // black round lines and numbers: readable on any cell
constexpr double SPECTRUM_TICK = 8.0;             // the tick's height under the integrated spectrum
constexpr double NUMBER_GAP = 4.0;                // between a path's line and its number
constexpr int CUTOUT_WIDTH = 260;                 // a cut-out's pixels
constexpr int CUTOUT_HEIGHT = 256;
constexpr int CUTOUT_GAP = 110;                   // between cut-outs, room for the time labels
constexpr double BAND_TOP = PICTURE_HEIGHT + 8.0;
constexpr double CUTOUT_TITLE_TOP = BAND_TOP + 30.0;
constexpr double CUTOUT_TOP = BAND_TOP + 56.0;
constexpr double CUTOUT_BRACKET = 8.0;            // pixels either side of the path in a cut-out
constexpr double BRACKET_DASH[2] = {4.0, 3.0};
constexpr int CUTOUT_TICKS_WANTED = 5;
constexpr double DB_PER_DECADE = 10.0;

// The column of the hit's path in row: exactly the cells the search summed.
int column_at(const SearchResult& result, const Hit& hit, int row) {
    return path_column(hit.start_bin, hit.drift_index, row, result.bins, padded_rows_of(result.rows));
}

// From column from to column to, the short way round the band.
int column_step(int from, int to, int bins) {
    int step = to - from;
    if (step > bins / 2) step -= bins;
    if (step < -bins / 2) step += bins;
    return step;
}

// A column's frequency from the sub-band's centre.
double hz_of_column(const SearchResult& result, int column) { return (column - result.bins / 2) * result.bin_hz; }

void set_hit_colour(cairo_t* cr) { cairo_set_source_rgb(cr, HIT_RGB[0], HIT_RGB[1], HIT_RGB[2]); }

// Strokes the current path in the hits' colour over a black edge.
void outlined_stroke(cairo_t* cr) {
    cairo_set_source_rgb(cr, 0, 0, 0);
    cairo_set_line_width(cr, HIT_LINE_WIDTH + 2.0);
    cairo_stroke_preserve(cr);
    set_hit_colour(cr);
    cairo_set_line_width(cr, HIT_LINE_WIDTH);
    cairo_stroke(cr);
}

// Text placed as draw_text places it, in the hits' colour outlined in black.
void outlined_text(cairo_t* cr, double x, double y, const std::string& text, double align_x, double align_y) {
    cairo_text_extents_t extents;
    cairo_text_extents(cr, text.c_str(), &extents);
    cairo_move_to(cr, x - extents.x_bearing - align_x * extents.width, y - extents.y_bearing - align_y * extents.height);
    cairo_text_path(cr, text.c_str());
    cairo_set_source_rgb(cr, 0, 0, 0);
    cairo_set_line_width(cr, OUTLINE_WIDTH);
    cairo_stroke_preserve(cr);
    set_hit_colour(cr);
    cairo_fill(cr);
}

// The hit's path on the waterfall, HIT_PATH_OFFSET pixels left of the cells
// it sums (broken where it wraps round the band), its number at its start.
void draw_path(cairo_t* cr, const Axes& axes, const SearchResult& result, const Hit& hit, int number) {
    cairo_save(cr);
    cairo_rectangle(cr, PLOT_LEFT, PLOT_TOP, PLOT_WIDTH, PLOT_HEIGHT);
    cairo_clip(cr);
    cairo_new_path(cr);
    const auto x_of_column = [&](int column) { return x_of_hz(axes, hz_of_column(result, column)) - HIT_PATH_OFFSET; };
    int previous = column_at(result, hit, hit.first_row);
    for (int row = hit.first_row; row <= hit.last_row; ++row) {
        const int column = column_at(result, hit, row);
        const double x = x_of_column(column);
        const double middle = y_of_seconds(axes, (row + 0.5) * result.row_seconds);
        if (row == hit.first_row) {
            cairo_move_to(cr, x, y_of_seconds(axes, row * result.row_seconds));
            cairo_line_to(cr, x, middle);
        } else if (std::abs(column - previous) > result.bins / 2) {
            cairo_move_to(cr, x, middle);
        } else {
            cairo_line_to(cr, x, middle);
        }
        if (row == hit.last_row) cairo_line_to(cr, x, y_of_seconds(axes, (row + 1) * result.row_seconds));
        previous = column;
    }
    outlined_stroke(cr);
    const double start_x = x_of_column(column_at(result, hit, hit.first_row));
    outlined_text(cr, start_x - NUMBER_GAP, y_of_seconds(axes, hit.first_row * result.row_seconds) + 2.0,
                  std::to_string(number), 1.0, 0.0);
    cairo_restore(cr);
}

// A numbered tick under the integrated spectrum at the path's middle frequency.
void draw_spectrum_tick(cairo_t* cr, const Axes& axes, const SearchResult& result, const Hit& hit, int number) {
    const double x = x_of_hz(axes, hz_of_column(result, column_at(result, hit, (hit.first_row + hit.last_row) / 2)));
    const double tip = SPECTRUM_TOP + SPECTRUM_HEIGHT + 1.0;
    cairo_new_path(cr);
    cairo_move_to(cr, x, tip);
    cairo_line_to(cr, x - SPECTRUM_TICK / 2, tip + SPECTRUM_TICK);
    cairo_line_to(cr, x + SPECTRUM_TICK / 2, tip + SPECTRUM_TICK);
    cairo_close_path(cr);
    set_hit_colour(cr);
    cairo_fill_preserve(cr);
    cairo_set_source_rgb(cr, 0, 0, 0);
    cairo_set_line_width(cr, 1.0);
    cairo_stroke(cr);
    draw_text(cr, x + SPECTRUM_TICK / 2 + 2.0, tip + SPECTRUM_TICK / 2, std::to_string(number), 0.0, 0.5);
}

// The band of columns a cut-out shows: CUTOUT_HALF_BINS either side of
// the path's reach, centred on its middle row's column.
struct CutoutWindow {
    int centre = 0;          // the middle row's column
    int first = 0;           // the leftmost column shown
    int width = 0;           // columns shown
};

CutoutWindow window_of(const SearchResult& result, const Hit& hit) {
    CutoutWindow window;
    window.centre = column_at(result, hit, (hit.first_row + hit.last_row) / 2);
    const int reach = std::abs(column_step(column_at(result, hit, hit.first_row), column_at(result, hit, hit.last_row),
                                           result.bins));
    window.width = std::min(result.bins, 2 * CUTOUT_HALF_BINS + 1 + reach);
    window.first = (window.centre - window.width / 2 + result.bins) % result.bins;
    return window;
}

// The cut-out's cells into the picture's pixels at left, CUTOUT_TOP: a pixel
// keeps the strongest of its columns; colours in dB from the cut-out's
// median cell to its strongest.
void paint_cutout(cairo_surface_t* picture, const PowerSpectrogram& cells, const CutoutWindow& window, int left) {
    const auto cell = [&](int row, int k) {
        return cells.row(row)[static_cast<size_t>((window.first + k) % cells.bins)];
    };
    std::vector<float> values;
    values.reserve(static_cast<size_t>(cells.rows) * static_cast<size_t>(window.width));
    for (int row = 0; row < cells.rows; ++row) {
        for (int k = 0; k < window.width; ++k) values.push_back(cell(row, k));
    }
    const float top = *std::max_element(values.begin(), values.end());
    std::nth_element(values.begin(), values.begin() + static_cast<long>(values.size() / 2), values.end());
    const double median = values[values.size() / 2];
    const double high_db = median > 0.0 ? std::max(DB_PER_DECADE * std::log10(top / median), MIN_DB_RANGE) : MIN_DB_RANGE;
    cairo_surface_flush(picture);
    unsigned char* data = cairo_image_surface_get_data(picture);
    const int stride = cairo_image_surface_get_stride(picture);
    for (int y = 0; y < CUTOUT_HEIGHT; ++y) {
        const int row = static_cast<int>(static_cast<long>(y) * cells.rows / CUTOUT_HEIGHT);
        auto* line = reinterpret_cast<uint32_t*>(data + static_cast<long>(CUTOUT_TOP + y) * stride) + left;
        for (int x = 0; x < CUTOUT_WIDTH; ++x) {
            const int k0 = static_cast<int>(static_cast<long>(x) * window.width / CUTOUT_WIDTH);
            const int k1 = std::max(k0 + 1, static_cast<int>(static_cast<long>(x + 1) * window.width / CUTOUT_WIDTH));
            float power = 0.0f;
            for (int k = k0; k < k1; ++k) power = std::max(power, cell(row, k));
            const double db = power > 0.0f && median > 0.0 ? DB_PER_DECADE * std::log10(power / median) : 0.0;
            const double index = std::clamp(db / high_db, 0.0, 1.0) * (COLOUR_MAP_SIZE - 1);
            line[x] = map_colour(static_cast<int>(index + 0.5));
        }
    }
    cairo_surface_mark_dirty(picture);
}

// One cut-out at left: its heading, cells, frame, the path bracketed by
// dashed lines, Hz from the middle row's column across and seconds down.
void draw_cutout(cairo_t* cr, cairo_surface_t* picture, const SearchResult& result, const PowerSpectrogram& cells,
                 const Hit& hit, int number, int left) {
    const CutoutWindow window = window_of(result, hit);
    paint_cutout(picture, cells, window, left);
    const double column_width = static_cast<double>(CUTOUT_WIDTH) / window.width;
    const double row_height = static_cast<double>(CUTOUT_HEIGHT) / result.rows;
    char text[160];
    std::snprintf(text, sizeof text, "%d: %+.3f Hz, %+.4f Hz/s, SNR %.1f", number, hit.offset_hz, hit.drift_hz_s,
                  hit.snr);
    cairo_set_source_rgb(cr, 0, 0, 0);
    select_font(cr, CAIRO_FONT_WEIGHT_BOLD);
    draw_text(cr, left, CUTOUT_TITLE_TOP, text, 0.0, 0.0);
    select_font(cr, CAIRO_FONT_WEIGHT_NORMAL);

    cairo_set_line_width(cr, 1.0);
    cairo_rectangle(cr, left - 0.5, CUTOUT_TOP - 0.5, CUTOUT_WIDTH + 1, CUTOUT_HEIGHT + 1);
    const double span_hz = window.width * result.bin_hz;
    const double hz_step = tick_step(span_hz, CUTOUT_TICKS_WANTED);
    const double centre_x = left + (window.width / 2 + 0.5) * column_width;
    for (double hz = std::ceil(-span_hz / 2 / hz_step) * hz_step; hz <= span_hz / 2; hz += hz_step) {
        const double x = std::round(centre_x + hz / result.bin_hz * column_width) + 0.5;
        if (x < left || x > left + CUTOUT_WIDTH) continue;
        cairo_move_to(cr, x, CUTOUT_TOP + CUTOUT_HEIGHT);
        cairo_line_to(cr, x, CUTOUT_TOP + CUTOUT_HEIGHT + TICK_LENGTH);
        std::snprintf(text, sizeof text, "%.*f", decimals_of(hz_step), std::fabs(hz) < hz_step / 2 ? 0.0 : hz);
        draw_text(cr, x, CUTOUT_TOP + CUTOUT_HEIGHT + TICK_LENGTH + 4, text, 0.5, 0.0);
    }
    const double seconds = result.rows * result.row_seconds;
    const double s_step = tick_step(seconds, CUTOUT_TICKS_WANTED);
    for (double s = 0.0; s <= seconds; s += s_step) {
        const double y = std::round(CUTOUT_TOP + s / seconds * CUTOUT_HEIGHT) + 0.5;
        cairo_move_to(cr, left - TICK_LENGTH, y);
        cairo_line_to(cr, left, y);
        std::snprintf(text, sizeof text, "%.*f", decimals_of(s_step), s);
        draw_text(cr, left - TICK_LENGTH - 3, y, text, 1.0, 0.5);
    }
    cairo_set_source_rgb(cr, 0, 0, 0);
    cairo_stroke(cr);
    std::snprintf(text, sizeof text, "Hz from %+.3f Hz; time (s) down", hz_of_column(result, window.centre));
    draw_text(cr, left + CUTOUT_WIDTH / 2.0, CUTOUT_TOP + CUTOUT_HEIGHT + 28, text, 0.5, 0.0);

    // The path between two dashed lines, clear of its cells.
    cairo_save(cr);
    cairo_rectangle(cr, left, CUTOUT_TOP, CUTOUT_WIDTH, CUTOUT_HEIGHT);
    cairo_clip(cr);
    for (const double side : {-CUTOUT_BRACKET, CUTOUT_BRACKET}) {
        cairo_new_path(cr);
        int previous = column_at(result, hit, hit.first_row);
        for (int row = hit.first_row; row <= hit.last_row; ++row) {
            const int column = column_at(result, hit, row);
            const double x = left + (column_step(window.first, column, result.bins) + 0.5) * column_width + side;
            const double y = CUTOUT_TOP + (row + 0.5) * row_height;
            if (row == hit.first_row || std::abs(column - previous) > result.bins / 2) {
                cairo_move_to(cr, x, y);
            } else {
                cairo_line_to(cr, x, y);
            }
            previous = column;
        }
        cairo_set_dash(cr, BRACKET_DASH, 2, 0.0);
        set_hit_colour(cr);
        cairo_set_line_width(cr, HIT_LINE_WIDTH);
        cairo_stroke(cr);
    }
    cairo_restore(cr);
}

}  // namespace

int picture_height(const SearchResult& result) {
    return result.hits.empty() ? PICTURE_HEIGHT : PICTURE_HEIGHT + HIT_BAND_HEIGHT;
}

void draw_hits(Canvas* canvas, const Spectrogram& spectrogram, const WorkUnitInfo& info, const SearchResult& result,
               const PowerSpectrogram& cells) {
    if (result.hits.empty() || !canvas->pixels || canvas->status != CAIRO_STATUS_SUCCESS) return;
    Surface picture = canvas_surface(canvas);
    Context cr(cairo_create(picture.get()));
    const Axes axes = axes_of(spectrogram, info);
    select_font(cr.get(), CAIRO_FONT_WEIGHT_BOLD);
    cairo_set_font_size(cr.get(), TEXT_SIZE);
    // The weakest first: the strongest's line and number end on top.
    for (size_t i = result.hits.size(); i-- > 0;) {
        const int number = static_cast<int>(i) + 1;
        draw_path(cr.get(), axes, result, result.hits[i], number);
        draw_spectrum_tick(cr.get(), axes, result, result.hits[i], number);
    }
    const bool room = canvas->height >= PICTURE_HEIGHT + HIT_BAND_HEIGHT;
    if (room && cells.bins == result.bins && cells.rows == result.rows) {
        char heading[200];
        std::snprintf(heading, sizeof heading,
                      "The strongest hits at the search's resolution: %d-point transforms, %.3f Hz by %.3f s; "
                      "colour from each cut-out's median cell to its strongest",
                      result.bins, result.bin_hz, result.row_seconds);
        cairo_set_source_rgb(cr.get(), 0, 0, 0);
        draw_text(cr.get(), PLOT_LEFT, BAND_TOP, heading, 0.0, 0.0);
        const size_t shown = std::min(result.hits.size(), static_cast<size_t>(HIT_CUTOUTS));
        for (size_t i = 0; i < shown; ++i) {
            const int left = PLOT_LEFT + static_cast<int>(i) * (CUTOUT_WIDTH + CUTOUT_GAP);
            draw_cutout(cr.get(), picture.get(), result, cells, result.hits[i], static_cast<int>(i) + 1, left);
        }
    }
    cairo_surface_flush(picture.get());
    canvas->status = cairo_status(cr.get());
}

}  // namespace okrelt
