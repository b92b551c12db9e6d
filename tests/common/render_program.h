// Running qrv-render from a test and reading back what it leaves: its exit status,
// the text it wrote, and the PNG frames it drew.
#pragma once

#include <png.h>
#include <sys/wait.h>

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace qrv::testing {

// Runs a shell command line; the program's exit status, or -1 where it did not exit.
inline int RunCommand(const std::string &command) {
    const int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// The whole of a file, empty where it cannot be read.
inline std::string ReadFile(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

struct PngImage {
    int width = 0, height = 0;
    std::vector<uint32_t> rgb; // 0xRRGGBB, top row first
    uint32_t at(int x, int y) const {
        return rgb[static_cast<size_t>(y) * static_cast<size_t>(width) + static_cast<size_t>(x)];
    }
    size_t Count(uint32_t colour) const {
        size_t n = 0;
        for (uint32_t p : rgb) n += p == colour;
        return n;
    }
};

// A PNG file's pixels without alpha; an empty image where it cannot be read.
inline PngImage ReadPng(const std::string &path) {
    PngImage image;
    png_image png{};
    png.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&png, path.c_str())) return image;
    png.format = PNG_FORMAT_BGRA;
    std::vector<uint32_t> pixels(static_cast<size_t>(png.width) * png.height);
    if (!png_image_finish_read(&png, nullptr, pixels.data(), 0, nullptr)) return image;
    image.width = static_cast<int>(png.width);
    image.height = static_cast<int>(png.height);
    image.rgb.reserve(pixels.size());
    for (uint32_t p : pixels) image.rgb.push_back(p & 0xFFFFFFu);
    return image;
}

} // namespace qrv::testing
