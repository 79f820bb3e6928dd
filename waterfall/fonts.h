// The picture's lettering: DejaVu Sans, loaded straight from its files
// (fontconfig only where they are missing), and text placed by its edges.
#pragma once

#include <cairo.h>

#include <memory>
#include <string>

namespace okrelt {

constexpr double TITLE_SIZE = 20.0;   // points
constexpr double TEXT_SIZE = 13.0;

// A cairo font face, let go of when it goes.
struct FontFaceCloser {
    void operator()(cairo_font_face_t* face) const { cairo_font_face_destroy(face); }
};
using FontFace = std::unique_ptr<cairo_font_face_t, FontFaceCloser>;

// The regular and the bold face, each null where its file is missing.
struct Fonts {
    FontFace regular;
    FontFace bold;
};

// Loads both faces from their files. False if a font file is there but could
// not be loaded (memory ran out): fontconfig, the fallback, must not run then.
bool load_font_files(Fonts* fonts);

// Lets text drawn on surface use fonts, which must outlive the surface.
void attach_fonts(cairo_surface_t* surface, const Fonts* fonts);

// Selects the regular or the bold face: the one attached to cr's surface, or
// fontconfig's DejaVu Sans where none is.
void select_font(cairo_t* cr, cairo_font_weight_t weight);

// Text at (x, y); align_x 0 puts its left edge there, 0.5 its centre, 1 its
// right edge; align_y likewise from its top to its bottom. Bytes that are no
// UTF-8 (a Latin-1 name) show as U+FFFD: cairo refuses such text outright.
void draw_text(cairo_t* cr, double x, double y, const std::string& text, double align_x, double align_y);

}  // namespace okrelt
