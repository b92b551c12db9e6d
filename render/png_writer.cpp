#include "png_writer.h"

#include <cerrno>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <png.h>

namespace qrv::render {

namespace {

struct PngState {
    std::string message;
};

void OnError(png_structp png, png_const_charp message) {
    static_cast<PngState *>(png_get_error_ptr(png))->message = message;
    png_longjmp(png, 1);
}

void OnWarning(png_structp, png_const_charp) {}

// Runs libpng's writer; kept apart so that nothing with a destructor lives in the
// frame that longjmp leaves.
bool WriteRows(FILE *file, const uint32_t *pixels, int width, int height, int strideBytes,
               PngState &state) {
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, &state, OnError, OnWarning);
    if (!png) {
        state.message = "out of memory";
        return false;
    }
    png_infop info = png_create_info_struct(png);
    if (!info) {
        png_destroy_write_struct(&png, nullptr);
        state.message = "out of memory";
        return false;
    }
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        return false;
    }
    png_init_io(png, file);
    png_set_compression_level(png, 6);
    png_set_IHDR(png, info, static_cast<png_uint_32>(width), static_cast<png_uint_32>(height), 8,
                 PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    // Each pixel is B, G, R, A in memory on little-endian machines: take the
    // colour in RGB order and drop the fourth byte.
    png_set_bgr(png);
    png_set_filler(png, 0, PNG_FILLER_AFTER);
    const auto *bytes = reinterpret_cast<const uint8_t *>(pixels);
    for (int y = 0; y < height; ++y)
        png_write_row(png, const_cast<png_bytep>(bytes + static_cast<size_t>(y) * strideBytes));
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return true;
}

} // namespace

bool WritePng(const std::string &path, const uint32_t *pixels, int width, int height,
              int strideBytes, std::string &error) {
    if (!pixels || width <= 0 || height <= 0 || strideBytes < width * 4) {
        error = "no frame to write";
        return false;
    }
    FILE *file = std::fopen(path.c_str(), "wb");
    if (!file) {
        error = "cannot write '" + path + "': " + std::strerror(errno);
        return false;
    }
    PngState state;
    bool ok = WriteRows(file, pixels, width, height, strideBytes, state);
    if (std::fclose(file) != 0 && ok) {
        ok = false;
        state.message = std::strerror(errno);
    }
    if (!ok) {
        std::remove(path.c_str());
        error = "cannot write '" + path + "': " + state.message;
    }
    return ok;
}

} // namespace qrv::render
