// The picture's file: a cairo surface's pixels as an 8-bit RGB PNG through
// libpng, written whole or not at all (common/output_file.h).
#pragma once

#include <cairo.h>

#include "common/output_file.h"

namespace okrelt {

// Writes the surface as PNG into *out, a finished temporary file for path,
// not yet published. 0, or 1 after saying why.
[[nodiscard]] int write_png(cairo_surface_t* surface, const char* path, OutputFile* out);

// Says that path cannot be written, and why (error: an errno value).
void report_write_error(const char* path, int error);

}  // namespace okrelt
