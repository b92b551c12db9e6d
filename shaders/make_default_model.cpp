// Makes "default.q3d", the model the StandaloneEngine reads at set-up: a small
// relief of rings of waves on a dome, written through libqrv.so's own model writer from a depth
// image and a colour image made here. The file it made is kept in this folder;
// run it again only to change it:
//   build/shaders/qrv-make-default-model shaders
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "qrv.h"

namespace {

// The depth image's size; the model's grid is four times as fine.
constexpr int kWidth = 32;
constexpr int kHeight = 24;

// The height at (x, y), both 0..1 from the top-left, in 0..1: a round dome with
// rings of waves running out from its top and dying away toward the edge.
double Height(double x, double y) {
    const double pi = 3.14159265358979;
    const double dx = (x - 0.5) * 4.0 / 3.0, dy = y - 0.5; // the picture is 4:3
    const double r = std::sqrt(dx * dx + dy * dy) / 0.5;   // 1 at the top and bottom edges
    if (r >= 1.0) return 0.0;
    const double dome = std::cos(r * pi / 2);
    const double waves = std::sin(5.0 * pi * r) * (1.0 - r);
    return 0.04 + 0.5 * dome * dome + 0.12 * waves;
}

// Colour by height in bands, like the contour lines of a map, in colours that
// stand out from the frame's blue: red, orange, yellow and green over and over,
// lighter toward the top.
uint32_t Colour(double h) {
    h = std::clamp(h, 0.0, 1.0);
    const double band = std::fmod(h * 12.0, 4.0); // four hues a cycle
    static const double hues[5][3] = {
        {200, 40, 40}, {240, 140, 30}, {240, 220, 60}, {60, 170, 70}, {200, 40, 40}};
    const int i = static_cast<int>(band);
    const double t = band - i;
    const double light = 0.8 + 0.2 * h / 0.6;
    uint32_t rgb = 0;
    for (int k = 0; k < 3; ++k) {
        const double v = (hues[i][k] + (hues[i + 1][k] - hues[i][k]) * t) * light;
        rgb = rgb << 8 | static_cast<uint32_t>(std::clamp(std::lround(v), 0L, 255L));
    }
    return rgb;
}

void Put32(uint8_t *at, uint32_t v) {
    std::memcpy(at, &v, 4);
}

// A PackedDib block: a 40-byte header, the table, then bottom-up rows.
HGLOBAL PackedDib(int width, int height, int bits, const std::vector<uint32_t> &table,
                  const std::vector<uint8_t> &rowsBottomUp) {
    const size_t bytes = 40 + 4 * table.size() + rowsBottomUp.size();
    HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, bytes);
    auto *p = static_cast<uint8_t *>(GlobalLock(block));
    Put32(p, 40);
    Put32(p + 4, static_cast<uint32_t>(width));
    Put32(p + 8, static_cast<uint32_t>(height));
    p[12] = 1;
    p[14] = static_cast<uint8_t>(bits);
    for (size_t i = 0; i < table.size(); ++i) Put32(p + 40 + 4 * i, table[i]);
    std::memcpy(p + 40 + 4 * table.size(), rowsBottomUp.data(), rowsBottomUp.size());
    GlobalUnlock(block);
    return block;
}

} // namespace

int main(int argc, char **argv) {
    const std::string folder = argc > 1 ? argv[1] : ".";
    const std::string path = folder + "/default.q3d";

    // Depth: grey ramp table, the height sampled at each pixel's lower-left
    // corner, where the grid takes the pixel's value as it stands.
    std::vector<uint32_t> ramp(256);
    for (uint32_t i = 0; i < 256; ++i) ramp[i] = i * 0x010101u;
    const size_t depthStride = (kWidth + 3) / 4 * 4;
    std::vector<uint8_t> depthRows(depthStride * kHeight);
    for (int r = 0; r < kHeight; ++r)
        for (int c = 0; c < kWidth; ++c) {
            const double y = 1.0 - static_cast<double>(r) / kHeight; // r is bottom-up
            depthRows[static_cast<size_t>(r) * depthStride + static_cast<size_t>(c)] =
                static_cast<uint8_t>(std::lround(255 * Height(static_cast<double>(c) / kWidth, y)));
        }

    // Colour: one pixel per grid point (four times the depth image's size), so
    // that every vertex gets the colour of its own height: the grid's blend of
    // the depth pixels, four points a pixel, each moving toward the pixel on its
    // right and the pixel row below, and toward 0 past the right and bottom edges.
    const auto red = [&](int r, int c) {
        if (r < 0 || c >= kWidth) return 0;
        return static_cast<int>(depthRows[static_cast<size_t>(r) * depthStride + static_cast<size_t>(c)]);
    };
    const int cw = 4 * kWidth, ch = 4 * kHeight;
    const size_t colourStride = (static_cast<size_t>(cw) * 3 + 3) / 4 * 4;
    std::vector<uint8_t> colourRows(colourStride * ch);
    for (int m = 0; m < ch; ++m)
        for (int o = 0; o < cw; ++o) {
            const int r0 = m / 4, c0 = o / 4, fx = o % 4, fy = m % 4;
            const int upper = ((4 - fx) * red(r0, c0) + fx * red(r0, c0 + 1)) / 4;
            const int lower = ((4 - fx) * red(r0 - 1, c0) + fx * red(r0 - 1, c0 + 1)) / 4;
            const int value = ((4 - fy) * upper + fy * lower) / 4;
            const uint32_t rgb = Colour(value / 255.0);
            uint8_t *p = colourRows.data() + static_cast<size_t>(m) * colourStride + 3 * static_cast<size_t>(o);
            p[0] = static_cast<uint8_t>(rgb);
            p[1] = static_cast<uint8_t>(rgb >> 8);
            p[2] = static_cast<uint8_t>(rgb >> 16);
        }

    HGLOBAL depth = PackedDib(kWidth, kHeight, 8, ramp, depthRows);
    HGLOBAL colour = PackedDib(cw, ch, 24, {}, colourRows);
    // The writer keeps entries it does not replace: start from no file.
    std::remove(path.c_str());
    const HRESULT hr = _QRV3DWriteQ3DFile(1, depth, colour, path.c_str());
    GlobalFree(depth);
    GlobalFree(colour);
    std::FILE *check = std::fopen(path.c_str(), "rb");
    if (FAILED(hr) || !check) {
        std::fprintf(stderr, "qrv-make-default-model: could not write %s\n", path.c_str());
        return 1;
    }
    std::fclose(check);
    std::printf("wrote %s\n", path.c_str());
    return 0;
}
