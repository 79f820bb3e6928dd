#include "waterfall/fonts.h"

#include <cairo-ft.h>
#include <ft2build.h>
#include FT_FREETYPE_H
#include <unistd.h>

#include <cstddef>
#include <memory>

#include "common/utf8.h"

namespace okrelt {

namespace {

constexpr const char* FONT = "DejaVu Sans";   // through fontconfig, where the files below are missing
// The package depends on fonts-dejavu-core, whose files are loaded directly:
// fontconfig's start-up is slow, and it crashes when memory runs out.
constexpr const char* FONT_FILES[] = {"/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf",
                                      "/usr/share/fonts/truetype/dejavu/DejaVuSans-Bold.ttf"};

// Where a surface keeps its fonts.
const cairo_user_data_key_t FONTS_KEY{};

// The face in file, with a FreeType library of its own that goes with it:
// cairo may keep a face after its last user lets go. Null if it can't load.
FontFace load_face(const char* file) {
    static const cairo_user_data_key_t loaded_key{};
    struct Loaded {
        FT_Library library = nullptr;
        FT_Face face = nullptr;
        ~Loaded() {
            if (face != nullptr) FT_Done_Face(face);
            if (library != nullptr) FT_Done_FreeType(library);
        }
    };
    auto loaded = std::make_unique<Loaded>();
    if (FT_Init_FreeType(&loaded->library) != 0) {
        loaded->library = nullptr;
        return FontFace();
    }
    if (FT_New_Face(loaded->library, file, 0, &loaded->face) != 0) {
        loaded->face = nullptr;
        return FontFace();
    }
    FontFace face(cairo_ft_font_face_create_for_ft_face(loaded->face, 0));
    if (cairo_font_face_set_user_data(face.get(), &loaded_key, loaded.get(),
                                      [](void* done) { delete static_cast<Loaded*>(done); }) != CAIRO_STATUS_SUCCESS) {
        return FontFace();
    }
    loaded.release();   // the face's now
    return face;
}

}  // namespace

bool load_font_files(Fonts* fonts) {
    bool files_there = false;
    for (const char* file : FONT_FILES) files_there = files_there || access(file, R_OK) == 0;
    if (!fonts->regular) fonts->regular = load_face(FONT_FILES[0]);
    if (!fonts->bold) fonts->bold = load_face(FONT_FILES[1]);
    return !files_there || (fonts->regular && fonts->bold);
}

void attach_fonts(cairo_surface_t* surface, const Fonts* fonts) {
    (void)cairo_surface_set_user_data(surface, &FONTS_KEY, const_cast<Fonts*>(fonts), nullptr);
}

void select_font(cairo_t* cr, cairo_font_weight_t weight) {
    const auto* fonts = static_cast<const Fonts*>(cairo_surface_get_user_data(cairo_get_target(cr), &FONTS_KEY));
    cairo_font_face_t* face = nullptr;
    if (fonts != nullptr) face = (weight == CAIRO_FONT_WEIGHT_BOLD ? fonts->bold : fonts->regular).get();
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
