#include "waterfall/png_writer.h"

#include <png.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <vector>

#include "common/messages.h"

namespace okrelt {

namespace {

constexpr int PNG_COMPRESSION_LEVEL = 1;     // zlib's fastest: noise hardly compresses anyway

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

}  // namespace

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

void report_write_error(const char* path, int error) {
    tell(MessageKind::ERROR, "%s: cannot write %s: %s\n", program_name(), path, describe_output_error(error));
}

}  // namespace okrelt
