#include "waterfall/panels.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "common/numbers.h"
#include "common/sky.h"
#include "common/spectrum_axis.h"
#include "waterfall/axes.h"
#include "waterfall/colour_map.h"
#include "waterfall/fonts.h"
#include "waterfall/picture.h"

namespace okrelt {

namespace {

constexpr double BAR_LEFT = STRIP_LEFT + STRIP_WIDTH + 24.0;   // the colour bar, right of the strip
constexpr double BAR_WIDTH = 18.0;
constexpr double TITLE_TOP = 12.0;
constexpr double CONTEXT_TOP = 40.0;       // the title's lines of context
constexpr double LINE_SPACING = 17.0;
constexpr double PANEL_PAD = 0.06;         // of a panel's value span, either way
constexpr double PANEL_DEEPEST_DB = 40.0;  // lower values (silence) sit on a panel's edge
constexpr double PANEL_LINE_RGB[3] = {0.08, 0.18, 0.55};
constexpr double MARK_RGB[3] = {0.75, 0.05, 0.05};
constexpr double GUIDE_GREY = 0.75;
constexpr int SPECTRUM_TICKS_WANTED = 5;
constexpr int STRIP_TICKS_WANTED = 2;   // the narrow strip has room for few labels

// The title's lines of context, each left out where the header lacks it.
std::vector<std::string> context_lines(const WorkUnitInfo& info, const Spectrogram& spectrogram) {
    std::vector<std::string> lines;
    std::string when;
    if (info.time_recorded_jd) when = utc_text_of_julian_date(*info.time_recorded_jd);
    if (when.empty()) when = info.time_recorded;
    std::string line = when.empty() ? "" : "Recorded " + when;
    if (!info.receiver.empty()) line += (line.empty() ? "" : "    ") + std::string("Telescope: ") + info.receiver;
    if (!line.empty()) lines.push_back(line);

    char text[200];
    line.clear();
    const std::optional<double>& ra = info.start_ra_hours;
    const std::optional<double>& dec = info.start_dec_degrees;
    if (ra && dec) {
        const GalacticPosition galactic = galactic_of_equatorial(*ra, *dec);
        std::snprintf(text, sizeof text, "RA %.4f h, Dec %+.4f\u00b0 (J2000); galactic l %.2f\u00b0, b %+.2f\u00b0", *ra,
                      *dec, galactic.longitude_degrees, galactic.latitude_degrees);
        line = text;
    } else if (ra) {
        std::snprintf(text, sizeof text, "RA %.4f h, Dec ? (J2000)", *ra);
        line = text;
    } else if (dec) {
        std::snprintf(text, sizeof text, "RA ? h, Dec %+.4f\u00b0 (J2000)", *dec);
        line = text;
    }
    if (info.center_hz && near_hydrogen_line(*info.center_hz)) {
        std::snprintf(text, sizeof text, "%sradial velocity %+.2f km/s from the hydrogen line (radio, topocentric)",
                      line.empty() ? "" : "    ", hydrogen_radio_velocity_km_s(*info.center_hz));
        line += text;
    }
    if (!line.empty()) lines.push_back(line);

    std::snprintf(text, sizeof text, "%d bits per sample, %.10g samples per second, %d-point transforms, Hann window",
                  info.bits_per_sample, info.subband_rate, spectrogram.fft_size);
    line = text;
    if (spectrogram.average > 1) line += ", " + std::to_string(spectrogram.average) + " averaged to a row";
    lines.push_back(line);
    return lines;
}

// A value range padded a little either way, never narrower than MIN_DB_RANGE.
void padded_range(const std::vector<double>& values, double lowest, double* low, double* high) {
    *low = 0.0;
    *high = 0.0;
    for (const double v : values) {
        *low = std::min(*low, std::max(v, lowest));
        *high = std::max(*high, v);
    }
    const double pad = std::max((*high - *low) * PANEL_PAD, (MIN_DB_RANGE - (*high - *low)) / 2);
    *low -= pad;
    *high += pad;
}

}  // namespace

void draw_title(cairo_t* cr, const WorkUnitInfo& info, const Spectrogram& spectrogram) {
    cairo_set_source_rgb(cr, 0, 0, 0);
    select_font(cr, CAIRO_FONT_WEIGHT_BOLD);
    cairo_set_font_size(cr, TITLE_SIZE);
    draw_text(cr, PLOT_LEFT, TITLE_TOP, info.name, 0.0, 0.0);
    select_font(cr, CAIRO_FONT_WEIGHT_NORMAL);
    cairo_set_font_size(cr, TEXT_SIZE);
    double y = CONTEXT_TOP;
    for (const std::string& line : context_lines(info, spectrogram)) {
        draw_text(cr, PLOT_LEFT, y, line, 0.0, 0.0);
        y += LINE_SPACING;
    }
}

void draw_spectrum_panel(cairo_t* cr, const Spectrogram& spectrogram, const WorkUnitInfo& info) {
    const std::vector<double> db = integrated_spectrum_db(spectrogram);
    if (db.empty()) return;
    double low = 0.0;
    double high = 0.0;
    padded_range(db, -PANEL_DEEPEST_DB, &low, &high);
    const auto y_of = [&](double value) {
        return SPECTRUM_TOP + SPECTRUM_HEIGHT - (std::max(value, low) - low) / (high - low) * SPECTRUM_HEIGHT;
    };
    const long bins = static_cast<long>(db.size());
    cairo_set_line_width(cr, 1.0);
    cairo_set_source_rgb(cr, PANEL_LINE_RGB[0], PANEL_LINE_RGB[1], PANEL_LINE_RGB[2]);
    for (int x = 0; x < PLOT_WIDTH; ++x) {
        const long first = static_cast<long>(x) * bins / PLOT_WIDTH;
        const long last = std::max(first + 1, static_cast<long>(x + 1) * bins / PLOT_WIDTH);
        const double value = *std::max_element(db.begin() + first, db.begin() + last);
        if (x == 0) {
            cairo_move_to(cr, PLOT_LEFT + x + 0.5, y_of(value));
        } else {
            cairo_line_to(cr, PLOT_LEFT + x + 0.5, y_of(value));
        }
    }
    cairo_stroke(cr);

    cairo_set_source_rgb(cr, 0, 0, 0);
    cairo_rectangle(cr, PLOT_LEFT - 0.5, SPECTRUM_TOP - 0.5, PLOT_WIDTH + 1, SPECTRUM_HEIGHT + 1);
    draw_db_ticks(cr, PLOT_LEFT, -1.0, low, high, SPECTRUM_TOP + SPECTRUM_HEIGHT, SPECTRUM_TOP, SPECTRUM_TICKS_WANTED);
    cairo_stroke(cr);
    cairo_save(cr);
    cairo_translate(cr, 18, SPECTRUM_TOP + SPECTRUM_HEIGHT / 2.0);
    cairo_rotate(cr, -M_PI / 2);
    draw_text(cr, 0, 0, "dB above floor", 0.5, 0.0);
    cairo_restore(cr);

    // The features, named by their frequency.
    cairo_set_source_rgb(cr, MARK_RGB[0], MARK_RGB[1], MARK_RGB[2]);
    for (const SpectrumFeature& feature : spectrum_features(db, SPECTRUM_FEATURES)) {
        const double hz = sky_order_bin_hz(feature.index, spectrogram.fft_size, info.subband_rate);
        const double x = PLOT_LEFT + (static_cast<double>(feature.index) + 0.5) * PLOT_WIDTH / static_cast<double>(bins);
        const double y = y_of(feature.db);
        cairo_move_to(cr, x, y - 3);
        cairo_line_to(cr, x - 5, y - 11);
        cairo_line_to(cr, x + 5, y - 11);
        cairo_close_path(cr);
        cairo_fill(cr);
        char label[80];
        if (info.center_hz) {
            std::snprintf(label, sizeof label, "%+.1f Hz, %.6f MHz, %.2f dB", hz, sky_mhz(*info.center_hz, hz),
                          feature.db);
        } else {
            std::snprintf(label, sizeof label, "%+.1f Hz, %.2f dB", hz, feature.db);
        }
        const bool left_side = x > PLOT_LEFT + PLOT_WIDTH * 0.75;
        draw_text(cr, left_side ? x - 8 : x + 8, std::max(y - 7, SPECTRUM_TOP + 8.0), label, left_side ? 1.0 : 0.0, 0.5);
    }
}

void draw_power_strip(cairo_t* cr, const Spectrogram& spectrogram) {
    const std::vector<double> db = row_power_db(spectrogram);
    if (db.empty()) return;
    double low = 0.0;
    double high = 0.0;
    padded_range(db, -PANEL_DEEPEST_DB, &low, &high);
    const auto x_of = [&](double value) { return STRIP_LEFT + (std::max(value, low) - low) / (high - low) * STRIP_WIDTH; };
    const double zero_x = std::round(x_of(0.0)) + 0.5;
    cairo_set_line_width(cr, 1.0);
    cairo_set_source_rgb(cr, GUIDE_GREY, GUIDE_GREY, GUIDE_GREY);
    cairo_move_to(cr, zero_x, PLOT_TOP);
    cairo_line_to(cr, zero_x, PLOT_TOP + PLOT_HEIGHT);
    cairo_stroke(cr);
    cairo_set_source_rgb(cr, PANEL_LINE_RGB[0], PANEL_LINE_RGB[1], PANEL_LINE_RGB[2]);
    const long rows = static_cast<long>(db.size());
    for (long row = 0; row < rows; ++row) {
        const double top = PLOT_TOP + static_cast<double>(row) * PLOT_HEIGHT / static_cast<double>(rows);
        const double bottom = PLOT_TOP + static_cast<double>(row + 1) * PLOT_HEIGHT / static_cast<double>(rows);
        const double x = x_of(db[static_cast<size_t>(row)]);
        if (row == 0) {
            cairo_move_to(cr, x, top);
        } else {
            cairo_line_to(cr, x, top);
        }
        cairo_line_to(cr, x, bottom);
    }
    cairo_stroke(cr);

    cairo_set_source_rgb(cr, 0, 0, 0);
    cairo_rectangle(cr, STRIP_LEFT - 0.5, PLOT_TOP - 0.5, STRIP_WIDTH + 1, PLOT_HEIGHT + 1);
    const double step = tick_step(high - low, STRIP_TICKS_WANTED);
    char label[32];
    for (double value = std::ceil(low / step) * step; value <= high; value += step) {
        const double x = std::round(x_of(value)) + 0.5;
        cairo_move_to(cr, x, PLOT_TOP + PLOT_HEIGHT);
        cairo_line_to(cr, x, PLOT_TOP + PLOT_HEIGHT + TICK_LENGTH);
        std::snprintf(label, sizeof label, "%.*f", decimals_of(step), std::fabs(value) < step / 2 ? 0.0 : value);
        draw_text(cr, x, PLOT_TOP + PLOT_HEIGHT + TICK_LENGTH + 4, label, 0.5, 0.0);
    }
    cairo_stroke(cr);
    draw_text(cr, STRIP_LEFT + STRIP_WIDTH / 2.0, PICTURE_HEIGHT - 14, "Row power (dB)", 0.5, 1.0);
}

void paint_colour_bar(cairo_surface_t* picture) {
    cairo_surface_flush(picture);
    unsigned char* data = cairo_image_surface_get_data(picture);
    const int stride = cairo_image_surface_get_stride(picture);
    const int left = static_cast<int>(BAR_LEFT);
    for (int y = 0; y < PLOT_HEIGHT; ++y) {
        const double fraction = 1.0 - static_cast<double>(y) / (PLOT_HEIGHT - 1);
        const int index = std::clamp(static_cast<int>(fraction * (COLOUR_MAP_SIZE - 1) + 0.5), 0, COLOUR_MAP_SIZE - 1);
        auto* line = reinterpret_cast<uint32_t*>(data + static_cast<long>(PLOT_TOP + y) * stride);
        for (int x = left; x < left + static_cast<int>(BAR_WIDTH); ++x) line[x] = map_colour(index);
    }
    cairo_surface_mark_dirty(picture);
}

void draw_colour_bar(cairo_t* cr, double low_db, double high_db) {
    const double left = BAR_LEFT;
    cairo_set_source_rgb(cr, 0, 0, 0);
    cairo_set_line_width(cr, 1.0);
    cairo_rectangle(cr, left - 0.5, PLOT_TOP - 0.5, BAR_WIDTH + 1, PLOT_HEIGHT + 1);
    draw_db_ticks(cr, left + BAR_WIDTH, 1.0, low_db, high_db, PLOT_TOP + PLOT_HEIGHT, PLOT_TOP, TICKS_WANTED);
    cairo_stroke(cr);
    cairo_save(cr);
    cairo_translate(cr, PICTURE_WIDTH - 4, PLOT_TOP + PLOT_HEIGHT / 2.0);
    cairo_rotate(cr, -M_PI / 2);
    draw_text(cr, 0, 0, "dB above the noise floor (median power)", 0.5, 1.0);
    cairo_restore(cr);
    cairo_new_path(cr);
}

}  // namespace okrelt
