// Frames of the StandaloneEngine on the OpenGL device (Mesa llvmpipe here) through
// the shipped shaders: the mesh in its vertex colours, turning, wire frame, flat
// shading, a texture through "texture.ps", and a window-size change.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <array>
#include <optional>
#include <set>

#include "standalone_fixture.h"

namespace qrv::testing {
namespace {

using standalone::engine;

constexpr uint32_t kBlue = 0x0000FFu;
DWORD g_ticks = 0;
DWORD FakeTicks() { return g_ticks; }

// A window that keeps the last frame shown.
struct FrameWindow {
    int32_t width = 96, height = 96;
    int32_t frameWidth = 0, frameHeight = 0;
    std::vector<uint32_t> pixels; // 0xRRGGBB, top row first
    QrvWindow window{this,
                     [](void *self, int32_t *w, int32_t *h) {
                         *w = static_cast<FrameWindow *>(self)->width;
                         *h = static_cast<FrameWindow *>(self)->height;
                     },
                     [](void *self, const uint32_t *p, int32_t w, int32_t h, int32_t stride) {
                         auto *f = static_cast<FrameWindow *>(self);
                         f->frameWidth = w;
                         f->frameHeight = h;
                         f->pixels.resize(static_cast<size_t>(w) * static_cast<size_t>(h));
                         for (int32_t y = 0; y < h; ++y)
                             for (int32_t x = 0; x < w; ++x)
                                 f->pixels[static_cast<size_t>(y * w + x)] =
                                     reinterpret_cast<const uint32_t *>(
                                         reinterpret_cast<const uint8_t *>(p) + y * stride)[x] &
                                     0xFFFFFFu;
                     }};
    uint32_t At(int x, int y) const { return pixels[static_cast<size_t>(y * frameWidth + x)]; }
    size_t Count(const std::function<bool(uint32_t)> &test) const {
        size_t n = 0;
        for (uint32_t p : pixels) n += test(p) ? 1 : 0;
        return n;
    }
};

bool Near(uint32_t a, uint32_t b, int tolerance = 3) {
    for (int shift = 0; shift <= 16; shift += 8) {
        const int d = static_cast<int>((a >> shift) & 0xFF) - static_cast<int>((b >> shift) & 0xFF);
        if (std::abs(d) > tolerance) return false;
    }
    return true;
}

class GlFrameTest : public ::testing::Test {
protected:
    void SetUp() override {
        ResetEngine();
        char *cwd = getcwd(nullptr, 0);
        previousDir_ = cwd ? cwd : "";
        std::free(cwd);
        ASSERT_EQ(chdir(dir_.Path(".").c_str()), 0); // no default model here
        const std::string shaders = QRV_SHADER_DIR;
        ASSERT_EQ(_QRV3DInit(&window.window, (shaders + "/relief.vsh").c_str(),
                             (shaders + "/relief.psh").c_str()),
                  1);
        standalone::SetTickSource(&FakeTicks);
        g_ticks = 0;
    }
    void TearDown() override {
        _QRV3DTerm(1);
        ResetEngine();
        EXPECT_TRUE(sink.messages.empty()) << sink.messages.front();
        if (!previousDir_.empty()) {
            EXPECT_EQ(chdir(previousDir_.c_str()), 0);
        }
    }

    // A 4 x 4 depth image at full height (a plane at z = -1 inside a rim that
    // slopes to the picture plane) coloured by a colour image.
    void Build(const std::vector<uint8_t> *colour) {
        Block depth(GreyDib(4, 4, [](int, int) { return 255u; }));
        std::optional<Block> c;
        if (colour) c.emplace(*colour);
        ASSERT_EQ(_QRV3DGet3DImage(1, depth.get(), c ? c->get() : nullptr, nullptr), S_OK);
    }
    void Frame() { ASSERT_TRUE(_QRV3DRender(1)); }

    // Where a point of the mesh lands in the frame, the mesh turned by angle.
    std::pair<int, int> PixelOf(float x, float y, float z, float angle = 0.0f) {
        D3DXMATRIX world, view, projection, m;
        D3DXMatrixRotationY(&world, angle);
        const D3DXVECTOR3 at{0, 0, 0}, up{0, 1, 0};
        D3DXMatrixLookAtLH(&view, &engine.eye, &at, &up);
        D3DXMatrixPerspectiveFovLH(&projection, 3.1415f / 3.0f,
                                   static_cast<float>(window.frameWidth) / static_cast<float>(window.frameHeight),
                                   2.0f, 10.0f);
        D3DXMatrixMultiply(&m, &world, &view);
        D3DXMatrixMultiply(&m, &m, &projection);
        float clip[4];
        for (int c = 0; c < 4; ++c) clip[c] = x * m.m[0][c] + y * m.m[1][c] + z * m.m[2][c] + m.m[3][c];
        const float nx = clip[0] / clip[3], ny = clip[1] / clip[3];
        return {static_cast<int>((nx + 1) / 2 * static_cast<float>(window.frameWidth)),
                static_cast<int>((1 - ny) / 2 * static_cast<float>(window.frameHeight))};
    }
    uint32_t ColourOf(float x, float y, float z, float angle = 0.0f) {
        const auto [px, py] = PixelOf(x, y, z, angle);
        return window.At(px, py);
    }

    MessageSink sink;
    FrameWindow window;

private:
    TempDir dir_;
    std::string previousDir_;
};

// Left half red, right half green, as seen from the front.
uint32_t Halves(int c, int) { return c < 8 ? 0xC81E1Eu : 0x1EC81Eu; }

TEST_F(GlFrameTest, MeshInItsVertexColours) {
    const auto colour = Rgb24Dib(16, 16, Halves);
    Build(&colour);
    Frame();
    ASSERT_EQ(window.frameWidth, 96);
    EXPECT_EQ(window.At(0, 0), kBlue) << "the background";
    EXPECT_EQ(window.At(95, 95), kBlue);
    EXPECT_TRUE(Near(ColourOf(-0.5f, 0.0f, -1.0f), 0xC81E1Eu)) << std::hex << ColourOf(-0.5f, 0.0f, -1.0f);
    EXPECT_TRUE(Near(ColourOf(0.5f, 0.0f, -1.0f), 0x1EC81Eu)) << std::hex << ColourOf(0.5f, 0.0f, -1.0f);
    EXPECT_TRUE(Near(ColourOf(-0.5f, 0.3f, -1.0f), 0xC81E1Eu));
    // Nothing but the background and the two colours or blends of them: no
    // lighting darkens the mesh.
    EXPECT_EQ(window.Count([](uint32_t p) {
                  const int r = p >> 16, g = (p >> 8) & 0xFF, b = p & 0xFF;
                  return p != kBlue && (std::abs(b - 0x1E) > 2 || std::abs(r + g - 0xE6) > 4);
              }),
              0u);
    EXPECT_GT(window.Count([](uint32_t p) { return p != kBlue; }), 96u * 96u / 16);
}

TEST_F(GlFrameTest, TurnsAQuarterAboutYIn500Milliseconds) {
    const auto colour = Rgb24Dib(16, 16, Halves);
    Build(&colour);
    _QRV3DEffect(1, 0, 0);
    // From an eighth of a turn one way to an eighth the other in 500 ms, across
    // the start of a new turn: 1750 ms is 0.875 of a turn, 2250 ms 0.125.
    for (const auto &[ticks, angle] : {std::pair{DWORD{1750}, 0.875f * 6.283f},
                                       std::pair{DWORD{2250}, 0.125f * 6.283f}}) {
        SCOPED_TRACE(ticks);
        g_ticks = ticks;
        Frame();
        EXPECT_TRUE(Near(ColourOf(-0.5f, 0.0f, -1.0f, angle), 0xC81E1Eu))
            << std::hex << ColourOf(-0.5f, 0.0f, -1.0f, angle);
        EXPECT_TRUE(Near(ColourOf(0.5f, 0.0f, -1.0f, angle), 0x1EC81Eu))
            << std::hex << ColourOf(0.5f, 0.0f, -1.0f, angle);
    }
    // The spot where the left half stood at 1750 ms shows something else at
    // 2250 ms, where the last frame stands.
    const auto [x, y] = PixelOf(-0.5f, 0.0f, -1.0f, 0.875f * 6.283f);
    EXPECT_FALSE(Near(window.At(x, y), 0xC81E1Eu, 40)) << std::hex << window.At(x, y);
}

TEST_F(GlFrameTest, WireFrameAndFlatShading) {
    // A colour ramp across the grid, one step per grid column.
    const auto ramp = Rgb24Dib(16, 16, [](int c, int) { return static_cast<uint32_t>(c * 16) << 16 | 0x4040u; });
    Build(&ramp);
    Frame();
    auto mesh = [](uint32_t p) { return p != kBlue; };
    const size_t solid = window.Count(mesh);
    std::set<uint32_t> gouraud(window.pixels.begin(), window.pixels.end());

    _QRV3DFillMode(1);
    Frame();
    const size_t wire = window.Count(mesh);
    EXPECT_GT(wire, 0u);
    EXPECT_LT(wire, solid) << "only the edges of the triangles";
    _QRV3DFillMode(1);

    // Flat: each triangle in one vertex's colour, so only the ramp's own colours
    // appear; Gouraud blends between them.
    _QRV3DShadeMode(0, 1);
    Frame();
    std::set<uint32_t> flat(window.pixels.begin(), window.pixels.end());
    for (uint32_t p : flat) {
        if (p == kBlue) continue;
        EXPECT_EQ((p & 0xFFFFu), 0x4040u) << std::hex << p;
        EXPECT_EQ(((p >> 16) & 0xFF) % 16, 0u) << std::hex << p;
    }
    EXPECT_GT(gouraud.size(), flat.size());
    EXPECT_EQ(window.Count(mesh), solid) << "the same surface, shaded otherwise";
}

TEST_F(GlFrameTest, TextureThroughTexturePs) {
    // "texture.ps" lies beside this program. The mesh of an image has no texture
    // coordinates: the missing stream reads as (0, 0), the photo's top-left texel.
    TempDir photos;
    const std::string photo = photos.Write("photo.bmp", Bmp24File(2, 2, [](int c, int r) {
        return c == 0 && r == 0 ? 0x20C040u : 0xFFFFFFu;
    }));
    const auto grey = Rgb24Dib(1, 1, [](int, int) { return 0x808080u; });
    Build(&grey);
    Frame();
    const uint32_t untextured = ColourOf(0.0f, 0.0f, -1.0f);
    EXPECT_TRUE(Near(untextured, 0x808080u)) << std::hex << untextured;

    ASSERT_EQ(_QRV3DSetTexture(1, photo.c_str()), S_OK);
    Frame();
    // The texel modulated by the vertex colour: about half of (0x20, 0xC0, 0x40).
    const uint32_t textured = ColourOf(0.0f, 0.0f, -1.0f);
    EXPECT_TRUE(Near(textured, 0x106020u, 2)) << std::hex << textured;
    EXPECT_EQ(window.At(0, 0), kBlue);
}

TEST_F(GlFrameTest, WindowSizeChangeChangesTheAspectRatio) {
    const auto colour = Rgb24Dib(1, 1, [](int, int) { return 0xFFFF00u; });
    Build(&colour);
    Frame();
    auto box = [&] {
        int left = window.frameWidth, right = -1, top = window.frameHeight, bottom = -1;
        for (int y = 0; y < window.frameHeight; ++y)
            for (int x = 0; x < window.frameWidth; ++x)
                if (window.At(x, y) != kBlue) {
                    left = std::min(left, x);
                    right = std::max(right, x);
                    top = std::min(top, y);
                    bottom = std::max(bottom, y);
                }
        return std::array<int, 4>{left, right, top, bottom};
    };
    const auto square = box();

    ASSERT_EQ(_QRV3DChangeWindowSize(1, 192, 96, true), S_OK);
    Frame();
    ASSERT_EQ(window.frameWidth, 192);
    ASSERT_EQ(window.frameHeight, 96);
    const auto wide = box();
    // Twice as wide a frame at twice the aspect ratio: the mesh keeps its size in
    // pixels and its height, centred in the wider frame.
    EXPECT_NEAR(wide[1] - wide[0], square[1] - square[0], 2);
    EXPECT_NEAR(wide[3] - wide[2], square[3] - square[2], 1);
    EXPECT_NEAR(wide[0], square[0] + 48, 2);
    EXPECT_NEAR(wide[2], square[2], 1);
}

} // namespace
} // namespace qrv::testing
