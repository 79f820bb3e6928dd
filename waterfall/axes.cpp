#include "waterfall/axes.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "common/spectrum_axis.h"
#include "waterfall/fonts.h"
#include "waterfall/picture.h"

namespace okrelt {

Axes axes_of(const Spectrogram& spectrogram, const WorkUnitInfo& info) {
    return Axes{info.subband_rate, static_cast<double>(spectrogram.transforms) * spectrogram.fft_size / info.subband_rate};
}

double x_of_hz(const Axes& axes, double hz) { return PLOT_LEFT + (hz / axes.rate + 0.5) * PLOT_WIDTH; }
double y_of_seconds(const Axes& axes, double seconds) { return PLOT_TOP + seconds / axes.seconds * PLOT_HEIGHT; }

void draw_axes(cairo_t* cr, const Axes& axes, const WorkUnitInfo& info) {
    cairo_set_source_rgb(cr, 0, 0, 0);
    cairo_set_line_width(cr, 1.0);
    cairo_rectangle(cr, PLOT_LEFT - 0.5, PLOT_TOP - 0.5, PLOT_WIDTH + 1, PLOT_HEIGHT + 1);
    cairo_stroke(cr);
    cairo_set_font_size(cr, TEXT_SIZE);
    char label[64];

    const double hz_step = tick_step(axes.rate);
    for (double hz = std::ceil(-axes.rate / 2 / hz_step) * hz_step; hz <= axes.rate / 2; hz += hz_step) {
        const double x = std::round(x_of_hz(axes, hz)) + 0.5;
        cairo_move_to(cr, x, PLOT_TOP + PLOT_HEIGHT);
        cairo_line_to(cr, x, PLOT_TOP + PLOT_HEIGHT + TICK_LENGTH);
        std::snprintf(label, sizeof label, "%.*f", decimals_of(hz_step), std::fabs(hz) < hz_step / 2 ? 0.0 : hz);
        draw_text(cr, x, PLOT_TOP + PLOT_HEIGHT + TICK_LENGTH + 4, label, 0.5, 0.0);
    }
    draw_text(cr, PLOT_LEFT + PLOT_WIDTH / 2.0, PICTURE_HEIGHT - 14, "Frequency from the sub-band centre (Hz)", 0.5, 1.0);

    const double s_step = tick_step(axes.seconds);
    for (double s = 0.0; s <= axes.seconds; s += s_step) {
        const double y = std::round(y_of_seconds(axes, s)) + 0.5;
        cairo_move_to(cr, PLOT_LEFT - TICK_LENGTH, y);
        cairo_line_to(cr, PLOT_LEFT, y);
        std::snprintf(label, sizeof label, "%.*f", decimals_of(s_step), s);
        draw_text(cr, PLOT_LEFT - TICK_LENGTH - 4, y, label, 1.0, 0.5);
    }
    cairo_save(cr);
    cairo_translate(cr, 18, PLOT_TOP + PLOT_HEIGHT / 2.0);
    cairo_rotate(cr, -M_PI / 2);
    draw_text(cr, 0, 0, "Time (s)", 0.5, 0.0);
    cairo_restore(cr);

    if (info.center_hz) {
        const double low = sky_mhz(*info.center_hz, -axes.rate / 2);
        const double high = sky_mhz(*info.center_hz, axes.rate / 2);
        const double mhz_step = tick_step(high - low);
        for (double mhz = std::ceil(low / mhz_step) * mhz_step; mhz <= high; mhz += mhz_step) {
            const double x = std::round(x_of_hz(axes, mhz * HZ_PER_MHZ - *info.center_hz)) + 0.5;
            cairo_move_to(cr, x, SPECTRUM_TOP - TICK_LENGTH);
            cairo_line_to(cr, x, SPECTRUM_TOP);
            std::snprintf(label, sizeof label, "%.*f", decimals_of(mhz_step), mhz);
            draw_text(cr, x, SPECTRUM_TOP - TICK_LENGTH - 4, label, 0.5, 1.0);
        }
        draw_text(cr, PLOT_LEFT + PLOT_WIDTH / 2.0, SPECTRUM_TOP - 30, "Sky frequency (MHz)", 0.5, 1.0);
    }
    cairo_stroke(cr);
}

void draw_db_ticks(cairo_t* cr, double x, double side, double low, double high, double y_low, double y_high,
                   int wanted) {
    const double step = tick_step(high - low, wanted);
    char label[32];
    for (double db = std::ceil(low / step) * step; db <= high; db += step) {
        const double y = std::round(y_low + (db - low) / (high - low) * (y_high - y_low)) + 0.5;
        cairo_move_to(cr, x, y);
        cairo_line_to(cr, x + side * TICK_LENGTH / 2, y);
        std::snprintf(label, sizeof label, "%.*f", decimals_of(step), std::fabs(db) < step / 2 ? 0.0 : db);
        draw_text(cr, x + side * (TICK_LENGTH / 2 + 3), y, label, side < 0 ? 1.0 : 0.0, 0.5);
    }
}

double tick_step(double span, int wanted) {
    const double raw = span / wanted;
    const double magnitude = std::pow(10.0, std::floor(std::log10(raw)));
    const double norm = raw / magnitude;
    return (norm < 1.5 ? 1.0 : norm < 3.5 ? 2.0 : norm < 7.5 ? 5.0 : 10.0) * magnitude;
}

int decimals_of(double step) { return std::max(0, static_cast<int>(-std::floor(std::log10(step) + 1e-9))); }

}  // namespace okrelt
