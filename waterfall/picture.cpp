#include "waterfall/picture.h"

#include <cairo-ft.h>
#include <cairo.h>
#include <ft2build.h>
#include FT_FREETYPE_H
#include <png.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "common/block_sizes.h"
#include "common/memory.h"
#include "common/messages.h"
#include "common/output_file.h"
#include "common/numbers.h"
#include "common/sky.h"
#include "common/stdio_file.h"
#include "common/utf8.h"
#include "report/rfi.h"
#include "waterfall/colour_map.h"

namespace okrelt {

namespace {

constexpr const char* FONT = "DejaVu Sans";   // through fontconfig, where the files below are missing
// The package depends on fonts-dejavu-core, whose files are loaded directly:
// fontconfig's start-up is slow, and it crashes when memory runs out.
constexpr const char* FONT_FILES[] = {"/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf",
                                      "/usr/share/fonts/truetype/dejavu/DejaVuSans-Bold.ttf"};
constexpr double TITLE_SIZE = 20.0;
constexpr double TEXT_SIZE = 13.0;
constexpr double TICK_LENGTH = 6.0;
constexpr int TICKS_WANTED = 8;
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
constexpr double RING_RADIUS = 16.0;
constexpr double HZ_PER_MHZ = 1.0e6;
constexpr double DB_PER_OCTAVE = 3.0102999566398120;   // 10 log10(2)
constexpr int WHITE_BYTE = 0xff;             // every channel full: white
constexpr double MIN_DB_RANGE = 1.0;         // a flat picture still gets a scale
constexpr int PNG_COMPRESSION_LEVEL = 1;     // zlib's fastest: noise hardly compresses anyway

struct SurfaceCloser {
    void operator()(cairo_surface_t* surface) const { cairo_surface_destroy(surface); }
};
struct ContextCloser {
    void operator()(cairo_t* cr) const { cairo_destroy(cr); }
};
using Surface = std::unique_ptr<cairo_surface_t, SurfaceCloser>;
using Context = std::unique_ptr<cairo_t, ContextCloser>;

// The two faces loaded from FONT_FILES, null where they could not be.
cairo_font_face_t* font_faces[2] = {nullptr, nullptr};

// False if a font file is there but could not be loaded (memory ran out):
// fontconfig, the fallback, must not run then.
bool load_font_files() {
    static FT_Library library = nullptr;
    bool files_there = false;
    for (const char* file : FONT_FILES) files_there = files_there || access(file, R_OK) == 0;
    if (library == nullptr && FT_Init_FreeType(&library) != 0) {
        library = nullptr;
        return !files_there;
    }
    static const cairo_user_data_key_t face_key{};
    for (size_t weight = 0; weight < 2; ++weight) {
        if (font_faces[weight] != nullptr) continue;
        FT_Face face = nullptr;
        if (FT_New_Face(library, FONT_FILES[weight], 0, &face) != 0) continue;
        cairo_font_face_t* cairo_face = cairo_ft_font_face_create_for_ft_face(face, 0);
        // cairo owns the FreeType face from here and lets it go with its own.
        if (cairo_font_face_set_user_data(cairo_face, &face_key, face,
                                          [](void* done) { FT_Done_Face(static_cast<FT_Face>(done)); }) != CAIRO_STATUS_SUCCESS) {
            cairo_font_face_destroy(cairo_face);
            FT_Done_Face(face);
            continue;
        }
        font_faces[weight] = cairo_face;
    }
    return !files_there || (font_faces[0] != nullptr && font_faces[1] != nullptr);
}

// Selects the regular or the bold face.
void select_font(cairo_t* cr, cairo_font_weight_t weight) {
    cairo_font_face_t* face = font_faces[weight == CAIRO_FONT_WEIGHT_BOLD ? 1 : 0];
    if (face != nullptr) {
        cairo_set_font_face(cr, face);
    } else {
        cairo_select_font_face(cr, FONT, CAIRO_FONT_SLANT_NORMAL, weight);
    }
}

// A round step near span / wanted: 1, 2 or 5 times a power of ten.
double tick_step(double span, int wanted = TICKS_WANTED) {
    const double raw = span / wanted;
    const double magnitude = std::pow(10.0, std::floor(std::log10(raw)));
    const double norm = raw / magnitude;
    return (norm < 1.5 ? 1.0 : norm < 3.5 ? 2.0 : norm < 7.5 ? 5.0 : 10.0) * magnitude;
}

int decimals_of(double step) { return std::max(0, static_cast<int>(-std::floor(std::log10(step) + 1e-9))); }

// Text at (x, y); align_x 0 puts its left edge there, 0.5 its centre, 1 its
// right edge; align_y likewise from its top to its bottom. Bytes that are no
// UTF-8 (a Latin-1 name) show as U+FFFD: cairo refuses such text outright.
void draw_text(cairo_t* cr, double x, double y, const std::string& text, double align_x, double align_y) {
    const std::string shown = replacing_invalid_utf8(text);
    cairo_text_extents_t extents;
    cairo_text_extents(cr, shown.c_str(), &extents);
    cairo_move_to(cr, x - extents.x_bearing - align_x * extents.width, y - extents.y_bearing - align_y * extents.height);
    cairo_show_text(cr, shown.c_str());
}

// Entry index of the colour map as a pixel of an RGB24 surface.
uint32_t map_colour(int index) {
    const auto channel = [index](int c) { return static_cast<uint32_t>(VIRIDIS[index][c] * 255.0f + 0.5f); };
    return channel(0) << 16 | channel(1) << 8 | channel(2);
}

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

struct Axes {
    double rate;          // sub-band samples per second
    double seconds;       // the time the rows cover
};

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

    if (info.center_known) {
        const double low = (info.center_hz - axes.rate / 2) / HZ_PER_MHZ;
        const double high = (info.center_hz + axes.rate / 2) / HZ_PER_MHZ;
        const double mhz_step = tick_step(high - low);
        for (double mhz = std::ceil(low / mhz_step) * mhz_step; mhz <= high; mhz += mhz_step) {
            const double x = std::round(x_of_hz(axes, mhz * HZ_PER_MHZ - info.center_hz)) + 0.5;
            cairo_move_to(cr, x, SPECTRUM_TOP - TICK_LENGTH);
            cairo_line_to(cr, x, SPECTRUM_TOP);
            std::snprintf(label, sizeof label, "%.*f", decimals_of(mhz_step), mhz);
            draw_text(cr, x, SPECTRUM_TOP - TICK_LENGTH - 4, label, 0.5, 1.0);
        }
        draw_text(cr, PLOT_LEFT + PLOT_WIDTH / 2.0, SPECTRUM_TOP - 30, "Sky frequency (MHz)", 0.5, 1.0);
    }
    cairo_stroke(cr);
}

// The title's lines of context, each left out where the header lacks it.
std::vector<std::string> context_lines(const WorkUnitInfo& info, const Spectrogram& spectrogram) {
    std::vector<std::string> lines;
    std::string when;
    if (info.time_recorded_jd_known) when = utc_text_of_julian_date(info.time_recorded_jd);
    if (when.empty()) when = info.time_recorded;
    std::string line = when.empty() ? "" : "Recorded " + when;
    if (!info.receiver.empty()) line += (line.empty() ? "" : "    ") + std::string("Telescope: ") + info.receiver;
    if (!line.empty()) lines.push_back(line);

    char text[200];
    line.clear();
    double ra = 0.0;
    double dec = 0.0;
    if (parse_real(info.start_ra, &ra) && parse_real(info.start_dec, &dec)) {
        const GalacticPosition galactic = galactic_of_equatorial(ra, dec);
        std::snprintf(text, sizeof text, "RA %.4f h, Dec %+.4f\u00b0 (J2000); galactic l %.2f\u00b0, b %+.2f\u00b0", ra,
                      dec, galactic.longitude_degrees, galactic.latitude_degrees);
        line = text;
    } else if (!info.start_ra.empty() || !info.start_dec.empty()) {
        line = "RA " + (info.start_ra.empty() ? std::string("?") : info.start_ra) + " h, Dec " +
               (info.start_dec.empty() ? std::string("?") : info.start_dec) + "\u00b0";
    }
    if (info.center_known && near_hydrogen_line(info.center_hz)) {
        std::snprintf(text, sizeof text, "%sradial velocity %+.2f km/s from the hydrogen line (radio, topocentric)",
                      line.empty() ? "" : "    ", hydrogen_radio_velocity_km_s(info.center_hz));
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

// Ticks and labels along a vertical dB axis at x, left of it (side -1) or
// right (side +1), for values low..high mapped to y_low..y_high.
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

// The integrated spectrum above the plot, sharing its frequency axis: where
// bins outnumber pixels a pixel shows the strongest, so narrow lines stay.
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
        const double hz = integrated_bin_hz(feature.index, spectrogram.fft_size, info.subband_rate);
        const double x = PLOT_LEFT + (static_cast<double>(feature.index) + 0.5) * PLOT_WIDTH / static_cast<double>(bins);
        const double y = y_of(feature.db);
        cairo_move_to(cr, x, y - 3);
        cairo_line_to(cr, x - 5, y - 11);
        cairo_line_to(cr, x + 5, y - 11);
        cairo_close_path(cr);
        cairo_fill(cr);
        char label[80];
        if (info.center_known) {
            std::snprintf(label, sizeof label, "%+.1f Hz, %.6f MHz, %.2f dB", hz, (info.center_hz + hz) / HZ_PER_MHZ,
                          feature.db);
        } else {
            std::snprintf(label, sizeof label, "%+.1f Hz, %.2f dB", hz, feature.db);
        }
        const bool left_side = x > PLOT_LEFT + PLOT_WIDTH * 0.75;
        draw_text(cr, left_side ? x - 8 : x + 8, std::max(y - 7, SPECTRUM_TOP + 8.0), label, left_side ? 1.0 : 0.0, 0.5);
    }
}

// Each row's power beside the plot, sharing its time axis: bursts rise,
// blanked stretches and silence fall.
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

// The colour bar's colours, written into the picture's pixels like the plot's.
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

void draw_ring(cairo_t* cr, const Axes& axes, const BlockPeak& peak) {
    const double x = x_of_hz(axes, bin_frequency_hz(peak.bin, BLOCK_SAMPLES, axes.rate));
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

void report_write_error(const char* path, int error) {
    tell(MESSAGE_ERROR, "%s: cannot write %s: %s\n", program_name(), path, describe_output_error(error));
}

void report_draw_error(cairo_status_t status) {
    tell(MESSAGE_ERROR, "%s: cannot draw: %s\n", program_name(), cairo_status_to_string(status));
}

// libpng reports errors by jumping back to png_setjmp's caller; warnings are
// of no use to the user.
void on_png_warning(png_structp, png_const_charp) {}

// Encodes the surface's pixels as an 8-bit RGB PNG into file. The picture is
// mostly noise: no row filter and the fastest deflate make it four times as
// fast as libpng's defaults, and smaller. Holds no object with a destructor,
// so that libpng's error jump skips nothing. 0 on success, 1 on failure.
int encode_png(cairo_surface_t* surface, std::FILE* file, unsigned char* row) {
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, on_png_warning);
    png_infop info = png == nullptr ? nullptr : png_create_info_struct(png);
    if (info == nullptr || setjmp(png_jmpbuf(png)) != 0) {
        png_destroy_write_struct(&png, &info);
        return 1;
    }
    png_init_io(png, file);
    const int width = cairo_image_surface_get_width(surface);
    const int height = cairo_image_surface_get_height(surface);
    png_set_IHDR(png, info, static_cast<png_uint_32>(width), static_cast<png_uint_32>(height), 8, PNG_COLOR_TYPE_RGB,
                 PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_set_filter(png, PNG_FILTER_TYPE_BASE, PNG_FILTER_NONE);
    png_set_compression_level(png, PNG_COMPRESSION_LEVEL);
    png_write_info(png, info);
    const unsigned char* data = cairo_image_surface_get_data(surface);
    const int stride = cairo_image_surface_get_stride(surface);
    for (int y = 0; y < height; ++y) {
        const auto* pixels = reinterpret_cast<const uint32_t*>(data + static_cast<long>(y) * stride);
        for (int x = 0; x < width; ++x) {
            row[3 * x] = static_cast<unsigned char>(pixels[x] >> 16);
            row[3 * x + 1] = static_cast<unsigned char>(pixels[x] >> 8);
            row[3 * x + 2] = static_cast<unsigned char>(pixels[x]);
        }
        png_write_row(png, row);
    }
    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
    return 0;
}

// Writes the surface as PNG into a finished temporary file for path.
int write_png(cairo_surface_t* surface, const char* path, OutputFile* out) {
    int error = open_output(path, out);
    if (error == 0) {
        std::vector<unsigned char> row(static_cast<size_t>(3 * cairo_image_surface_get_width(surface)));
        errno = 0;
        if (encode_png(surface, out->file.get(), row.data()) != 0) error = errno != 0 ? errno : EIO;
    }
    if (error == 0) error = finish_output(out);
    if (error != 0) {
        report_write_error(path, error);
        return 1;
    }
    return 0;
}

// The colour scale: as asked, or from the floor to the top, at least MIN_DB_RANGE.
ColourRange range_of(const Spectrogram& spectrogram, const ColourRange& asked) {
    if (asked.set) return asked;
    const double top = DB_PER_OCTAVE * static_cast<double>(spectrogram.top_level - spectrogram.floor_level);
    return ColourRange{true, 0.0, std::max(top, MIN_DB_RANGE)};
}

Axes axes_of(const Spectrogram& spectrogram, const WorkUnitInfo& info) {
    return Axes{info.subband_rate, static_cast<double>(spectrogram.transforms) * spectrogram.fft_size / info.subband_rate};
}

}  // namespace

Canvas prepare_canvas() {
    Canvas canvas;
    canvas.stride = cairo_format_stride_for_width(CAIRO_FORMAT_RGB24, PICTURE_WIDTH);
    const size_t bytes = static_cast<size_t>(canvas.stride) * PICTURE_HEIGHT;
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
    if (!load_font_files()) {
        canvas.status = CAIRO_STATUS_NO_MEMORY;
        return canvas;
    }
    Surface scratch(cairo_image_surface_create(CAIRO_FORMAT_RGB24, 1, 1));
    Context cr(cairo_create(scratch.get()));
    for (const cairo_font_weight_t weight : {CAIRO_FONT_WEIGHT_NORMAL, CAIRO_FONT_WEIGHT_BOLD}) {
        select_font(cr.get(), weight);
        cairo_set_font_size(cr.get(), TEXT_SIZE);
        cairo_text_extents_t extents;
        cairo_text_extents(cr.get(), "0123456789 dB Hz", &extents);
    }
    return canvas;
}

void draw_spectrogram(Canvas* canvas, const Spectrogram& spectrogram, const WorkUnitInfo& info,
                      const ColourRange& asked) {
    if (!canvas->pixels || canvas->status != CAIRO_STATUS_SUCCESS) return;
    unsigned char* const pixels = static_cast<unsigned char*>(canvas->pixels.get());
    Surface picture(
        cairo_image_surface_create_for_data(pixels, CAIRO_FORMAT_RGB24, PICTURE_WIDTH, PICTURE_HEIGHT, canvas->stride));
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
    unsigned char* const pixels = static_cast<unsigned char*>(canvas->pixels.get());
    Surface picture(
        cairo_image_surface_create_for_data(pixels, CAIRO_FORMAT_RGB24, PICTURE_WIDTH, PICTURE_HEIGHT, canvas->stride));
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
