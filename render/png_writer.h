// Writes a frame as an 8-bit RGB PNG file.
#pragma once

#include <cstdint>
#include <string>

namespace qrv::render {

// pixels are 0xFFRRGGBB, top row first, strideBytes apart. Returns false with a
// message in error when the file could not be written; no partial file is left.
bool WritePng(const std::string &path, const uint32_t *pixels, int width, int height,
              int strideBytes, std::string &error);

} // namespace qrv::render
