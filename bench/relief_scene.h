// The relief scene the graphics benchmarks draw: a 640 x 480 depth relief as 479
// strip rows of 1,280 vertices (24 bytes each), a 640 x 480 photo texture and the
// relief renderer's transforms, as plain data both the layer and raw GL can use.
#pragma once

#include <cmath>
#include <cstdint>
#include <vector>

namespace qrv::bench {

struct StripVertex {
    float x, y, z;
    uint32_t diffuse;
    float u, v;
};
static_assert(sizeof(StripVertex) == 24);

constexpr int kReliefWidth = 640, kReliefHeight = 480;
constexpr int kVertsPerStrip = 2 * kReliefWidth;
constexpr int kStripCount = kReliefHeight - 1;
constexpr int kFrameSize = 426;

inline float Depth(int column, int row) {
    // A few hills and a step, so that depth varies across the picture.
    const float fx = static_cast<float>(column) / kReliefWidth, fy = static_cast<float>(row) / kReliefHeight;
    const float hills = 0.5f + 0.25f * std::sin(fx * 12.0f) * std::cos(fy * 9.0f);
    return (hills * 255.0f - 128.0f) / 128.0f * ((column > 320 && row > 240) ? 0.5f : 1.0f);
}

// Writes the strip rows as the relief builder lays them out.
inline void FillStrips(StripVertex *out) {
    const int halfW = kReliefWidth / 2, halfH = kReliefHeight / 2;
    const float scale = static_cast<float>(halfW > halfH ? halfW : halfH);
    size_t k = 0;
    for (int r = kReliefHeight - 1; r >= 1; --r) {
        for (int c = 0; c < kReliefWidth; ++c) {
            const float x = static_cast<float>(c - halfW) / scale;
            const float u = static_cast<float>(c) / kReliefWidth;
            out[k++] = {x, static_cast<float>(r - halfH) / scale, Depth(c, r), 0xFFFFFFFFu, u,
                        static_cast<float>(kReliefHeight - r - 1) / kReliefHeight};
            out[k++] = {x, static_cast<float>(r - 1 - halfH) / scale, Depth(c, r - 1), 0xFFFFFFFFu, u,
                        static_cast<float>(kReliefHeight - r) / kReliefHeight};
        }
    }
}

// A photo-like texture in Direct3D's B, G, R, A byte order.
inline std::vector<uint32_t> Photo() {
    std::vector<uint32_t> texels(static_cast<size_t>(kReliefWidth) * kReliefHeight);
    for (int y = 0; y < kReliefHeight; ++y)
        for (int x = 0; x < kReliefWidth; ++x)
            texels[static_cast<size_t>(y) * kReliefWidth + x] =
                0xFF000000u | static_cast<uint32_t>(x * 255 / kReliefWidth) << 16 |
                static_cast<uint32_t>(y * 255 / kReliefHeight) << 8 | static_cast<uint32_t>((x ^ y) & 0xFF);
    return texels;
}

// Row-major matrices, row vectors (p x M), left-handed: the relief's view from
// (0, 0, -2.5) and its 45 degree projection.
struct Matrix {
    float m[4][4];
};

inline Matrix Multiply(const Matrix &a, const Matrix &b) {
    Matrix r{};
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j)
            for (int k = 0; k < 4; ++k) r.m[i][j] += a.m[i][k] * b.m[k][j];
    return r;
}

inline Matrix ReliefView() {
    // Looking from (0, 0, -2.5) at the origin with y up.
    return Matrix{{{1, 0, 0, 0}, {0, 1, 0, 0}, {0, 0, 1, 0}, {0, 0, 2.5f, 1}}};
}

inline Matrix ReliefProjection() {
    const float yScale = 1.0f / std::tan(3.14159265f / 8.0f), zn = 1.0f, zf = 100.0f;
    return Matrix{{{yScale, 0, 0, 0}, {0, yScale, 0, 0}, {0, 0, zf / (zf - zn), 1}, {0, 0, -zn * zf / (zf - zn), 0}}};
}

} // namespace qrv::bench
