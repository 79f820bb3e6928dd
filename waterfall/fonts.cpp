#include "waterfall/fonts.h"

#include <cairo-ft.h>
#include <ft2build.h>
#include FT_FREETYPE_H
#include <unistd.h>

#include <cstddef>

#include "common/utf8.h"

namespace okrelt {

namespace {

constexpr const char* FONT = "DejaVu Sans";   // through fontconfig, where the files below are missing
// The package depends on fonts-dejavu-core, whose files are loaded directly:
// fontconfig's start-up is slow, and it crashes when memory runs out.
constexpr const char* FONT_FILES[] = {"/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf",
                                      "/usr/share/fonts/truetype/dejavu/DejaVuSans-Bold.ttf"};

// The two faces loaded from FONT_FILES, null where they could not be.
cairo_font_face_t* font_faces[2] = {nullptr, nullptr};

}  // namespace

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

void select_font(cairo_t* cr, cairo_font_weight_t weight) {
    cairo_font_face_t* face = font_faces[weight == CAIRO_FONT_WEIGHT_BOLD ? 1 : 0];
    if (face != nullptr) {
        cairo_set_font_face(cr, face);
    } else {
        cairo_select_font_face(cr, FONT, CAIRO_FONT_SLANT_NORMAL, weight);
    }
}

void draw_text(cairo_t* cr, double x, double y, const std::string& text, double align_x, double align_y) {
    const std::string shown = replacing_invalid_utf8(text);
    cairo_text_extents_t extents;
    cairo_text_extents(cr, shown.c_str(), &extents);
    cairo_move_to(cr, x - extents.x_bearing - align_x * extents.width, y - extents.y_bearing - align_y * extents.height);
    cairo_show_text(cr, shown.c_str());
}

}  // namespace okrelt
