// The mesh from a depth image and a colour image through _QRV3DGet3DImage(1, ...)
// on the recording stand-in: grid values, positions, the triangle rule, vertex
// colours, index formats, failed buffers and pictures of other kinds.
#include <gtest/gtest.h>

#include <optional>

#include "standalone/mesh.h"
#include "standalone_fixture.h"

namespace qrv::testing {
namespace {

using standalone::engine;

// An 8-bit depth image whose entry i has red i (green and blue other values, so
// that only red can count); red(column, pictureRow) picks each pixel.
std::vector<uint8_t> RedDib(int width, int height, std::function<unsigned(int, int)> red) {
    DibSpec spec;
    spec.width = width;
    spec.height = height;
    for (uint32_t i = 0; i < 256; ++i) spec.table.push_back(i << 16 | (255 - i) << 8 | 77u);
    spec.pixel = std::move(red);
    return DibBytes(spec);
}

// A colour image of bitCount 24 or 32 whose pixel (column, pictureRow) is
// rgb(column, pictureRow) = 0xRRGGBB.
std::vector<uint8_t> ColourDib(int width, int height, std::function<uint32_t(int, int)> rgb,
                               uint16_t bitCount = 24) {
    DibSpec spec;
    spec.width = width;
    spec.height = height;
    spec.bitCount = bitCount;
    std::vector<uint8_t> dib = DibBytes(spec);
    const size_t step = bitCount / 8u;
    const size_t stride = (static_cast<size_t>(width) * bitCount + 31) / 32 * 4;
    for (int pr = 0; pr < height; ++pr)
        for (int c = 0; c < width; ++c) {
            uint8_t *p = dib.data() + 40 + stride * static_cast<size_t>(height - 1 - pr) +
                         static_cast<size_t>(c) * step;
            const uint32_t v = rgb(c, pr);
            p[0] = static_cast<uint8_t>(v);
            p[1] = static_cast<uint8_t>(v >> 8);
            p[2] = static_cast<uint8_t>(v >> 16);
        }
    return dib;
}

struct Vec3 {
    float x, y, z;
};

class MeshTest : public StandaloneTest {
protected:
    void SetUp() override {
        StandaloneTest::SetUp();
        ASSERT_EQ(Init(), 1);
        recorder().calls.clear();
    }
    HRESULT Build(const std::vector<uint8_t> *depth, const std::vector<uint8_t> *colour = nullptr) {
        std::optional<Block> d, c;
        if (depth) d.emplace(*depth);
        if (colour) c.emplace(*colour);
        sink.Clear();
        return _QRV3DGet3DImage(1, d ? d->get() : nullptr, c ? c->get() : nullptr, "ignored.jpg");
    }
    std::vector<Vec3> Positions() { return Contents<Vec3>(engine.positionBuffer); }
    std::vector<uint32_t> Colours() { return Contents<uint32_t>(engine.colorBuffer); }
    std::vector<uint16_t> Indices16() { return Contents<uint16_t>(engine.indexBuffer); }
};

TEST_F(MeshTest, OneByOneGrid) {
    const auto depth = RedDib(1, 1, [](int, int) { return 255u; });
    ASSERT_EQ(Build(&depth), S_OK);
    EXPECT_TRUE(sink.messages.empty());
    EXPECT_EQ(recorder().Only({"Create"}),
              (std::vector<std::string>{"CreateVertexBuffer(192, 0, 0, 1, null)",
                                        "CreateVertexBuffer(64, 0, 0, 1, null)",
                                        "CreateIndexBuffer(108, 0, 101, 1, null)"}));
    EXPECT_EQ(engine.vertexCount, 16u);
    EXPECT_EQ(engine.triangleCount, 18u) << "no corner lies on the picture plane";
    EXPECT_EQ(engine.texCoordBuffer, nullptr);

    const int values[16] = {63, 47, 31, 15, 127, 95, 63, 31, 191, 143, 95, 47, 255, 191, 127, 63};
    const std::vector<Vec3> p = Positions();
    ASSERT_EQ(p.size(), 16u);
    for (int v = 0; v < 16; ++v) {
        SCOPED_TRACE(v);
        EXPECT_EQ(p[static_cast<size_t>(v)].z, static_cast<float>(-values[v] / 255.0));
        EXPECT_EQ(p[static_cast<size_t>(v)].x, (v % 4 - 2) / 2.0f);
        EXPECT_EQ(p[static_cast<size_t>(v)].y, (3 - v / 4 - 2) / 2.0f);
    }
    EXPECT_EQ(p[0].x, -1.0f);
    EXPECT_EQ(p[0].y, 0.5f);
    EXPECT_EQ(p[12].x, -1.0f);
    EXPECT_EQ(p[12].y, -1.0f);
    EXPECT_EQ(p[12].z, -1.0f);

    // Two clockwise triangles a cell, cell by cell from the top-left.
    const std::vector<uint16_t> i = Indices16();
    ASSERT_EQ(i.size(), 54u);
    EXPECT_EQ(std::vector<uint16_t>(i.begin(), i.begin() + 12),
              (std::vector<uint16_t>{0, 1, 5, 0, 5, 4, 1, 2, 6, 1, 6, 5}));
    EXPECT_EQ(std::vector<uint16_t>(i.end() - 6, i.end()),
              (std::vector<uint16_t>{10, 11, 15, 10, 15, 14}));
}

TEST_F(MeshTest, GridDepthBlendsTowardRightAndLowerNeighbours) {
    // Picture rows top first: (10, 20) over (30, 40); memory row 0 is (30, 40).
    const std::vector<uint8_t> dib = RedDib(2, 2, [](int c, int pr) { return 10u + 10u * c + 20u * pr; });
    Block block(dib);
    standalone::PackedDib picture(block.get());
    ASSERT_TRUE(picture.valid());
    const standalone::DepthReds reds(picture);
    EXPECT_EQ(standalone::GridDepth(reds, 0, 0), 30);
    EXPECT_EQ(standalone::GridDepth(reds, 0, 2), (2 * 30 + 2 * 40) / 4);
    EXPECT_EQ(standalone::GridDepth(reds, 4, 0), 10);
    // Upper row 10 -> 20, lower row (the pixel row below) 30 -> 40.
    EXPECT_EQ(standalone::GridDepth(reds, 5, 1), (3 * ((3 * 10 + 20) / 4) + ((3 * 30 + 40) / 4)) / 4);
    // The right-most column and the bottom row blend toward 0.
    EXPECT_EQ(standalone::GridDepth(reds, 0, 7), (1 * 40) / 4);
    EXPECT_EQ(standalone::GridDepth(reds, 3, 4), (1 * ((4 * 40) / 4)) / 4);
}

TEST_F(MeshTest, TrianglesOnThePicturePlaneAreDropped) {
    // Only the top-right pixel rises: the lower four grid rows stay flat.
    const auto depth = RedDib(2, 2, [](int c, int pr) { return c == 1 && pr == 0 ? 200u : 0u; });
    ASSERT_EQ(Build(&depth), S_OK);
    EXPECT_EQ(engine.vertexCount, 64u);
    EXPECT_EQ(engine.triangleCount, 55u) << "55 of 98 stay";
    const std::vector<Vec3> p = Positions();
    for (size_t v = 32; v < 64; ++v) EXPECT_EQ(p[v].z, 0.0f) << v;
    // The kept triangles come first, each with a corner off the plane.
    const std::vector<uint16_t> i = Indices16();
    for (size_t t = 0; t < 55; ++t) {
        const bool raised = p[i[3 * t]].z != 0 || p[i[3 * t + 1]].z != 0 || p[i[3 * t + 2]].z != 0;
        EXPECT_TRUE(raised) << "triangle " << t;
    }

    const auto flat = RedDib(3, 2, [](int, int) { return 0u; });
    ASSERT_EQ(Build(&flat), S_OK);
    EXPECT_EQ(engine.vertexCount, 96u);
    EXPECT_EQ(engine.triangleCount, 0u) << "all reds 0: every triangle dropped";
    recorder().calls.clear();
    EXPECT_TRUE(_QRV3DRender(1));
    EXPECT_EQ(recorder().Count("DrawIndexedPrimitive"), 0u);
}

TEST_F(MeshTest, VertexColoursFromTheColourImage) {
    const auto depth = RedDib(2, 2, [](int, int) { return 100u; });

    // One pixel colours every vertex, opaque.
    const auto one = ColourDib(1, 1, [](int, int) { return 0x1E140Au; }); // red 30, green 20, blue 10
    ASSERT_EQ(Build(&depth, &one), S_OK);
    EXPECT_EQ(Colours(), std::vector<uint32_t>(64, 0xFF1E140Au));

    // Four times the depth image's size: one colour pixel per grid point.
    auto rgb = [](int c, int pr) { return static_cast<uint32_t>(pr << 16 | c << 8 | (c + pr)); };
    const auto four = ColourDib(8, 8, rgb);
    ASSERT_EQ(Build(&depth, &four), S_OK);
    std::vector<uint32_t> colours = Colours();
    for (int v = 0; v < 64; ++v) EXPECT_EQ(colours[static_cast<size_t>(v)], 0xFF000000u | rgb(v % 8, v / 8)) << v;

    // Another size: the pixel at or before each point, rows counted from the bottom.
    const auto odd = ColourDib(3, 2, rgb);
    ASSERT_EQ(Build(&depth, &odd), S_OK);
    colours = Colours();
    for (int v = 0; v < 64; ++v) {
        const int m = 7 - v / 8, o = v % 8;
        const int memoryRow = 2 * m / 8, column = 3 * o / 8;
        EXPECT_EQ(colours[static_cast<size_t>(v)], 0xFF000000u | rgb(column, 1 - memoryRow)) << v;
    }

    // No colour image: opaque white rather than whatever the buffer held.
    ASSERT_EQ(Build(&depth), S_OK);
    EXPECT_EQ(Colours(), std::vector<uint32_t>(64, 0xFFFFFFFFu));
    // A colour image of a kind not read counts as not given.
    const auto sixteen = [] {
        DibSpec spec;
        spec.bitCount = 16;
        return DibBytes(spec);
    }();
    ASSERT_EQ(Build(&depth, &sixteen), S_OK);
    EXPECT_EQ(Colours(), std::vector<uint32_t>(64, 0xFFFFFFFFu));
    // 32-bit and paletted colour images are read as what they show.
    const auto wide = ColourDib(1, 1, [](int, int) { return 0x123456u; }, 32);
    ASSERT_EQ(Build(&depth, &wide), S_OK);
    EXPECT_EQ(Colours()[0], 0xFF123456u);
    DibSpec paletted;
    paletted.table = {0x00ABCDEFu, 0x00000000u};
    paletted.colorsUsed = 2;
    const auto palettedDib = DibBytes(paletted);
    ASSERT_EQ(Build(&depth, &palettedDib), S_OK);
    EXPECT_EQ(Colours()[63], 0xFFABCDEFu);
}

TEST_F(MeshTest, NoDepthImageLeavesNoMesh) {
    const auto depth = RedDib(1, 1, [](int, int) { return 255u; });
    ASSERT_EQ(Build(&depth), S_OK);
    _QRV3DMoveEye(1, 0.5f, 0.0f, 0.0f);
    recorder().calls.clear();
    const auto colour = ColourDib(1, 1, [](int, int) { return 0xFFu; });
    EXPECT_EQ(Build(nullptr, &colour), S_OK);
    EXPECT_EQ(engine.positionBuffer, nullptr);
    EXPECT_EQ(engine.colorBuffer, nullptr);
    EXPECT_EQ(engine.indexBuffer, nullptr);
    EXPECT_EQ(engine.vertexCount, 16u) << "the counts keep their values";
    EXPECT_EQ(engine.triangleCount, 18u);
    EXPECT_EQ(recorder().Count("VertexBuffer::Lock"), 0u);
    // The eye goes back to its start all the same.
    EXPECT_EQ(engine.eye.x, 0.0f);
    EXPECT_EQ(engine.eye.y, 3.0f);
    EXPECT_EQ(engine.eye.z, -4.0f);
    EXPECT_EQ(engine.eyeDistance, 5.0f);
    // And a frame draws nothing from the missing buffers.
    recorder().calls.clear();
    EXPECT_TRUE(_QRV3DRender(1));
    EXPECT_EQ(recorder().Count("DrawIndexedPrimitive"), 0u);
    EXPECT_EQ(recorder().Count("Present"), 1u);
}

TEST_F(MeshTest, IndexFormatFollowsTheVertexCount) {
    // 64 x 64 pixels: 65,536 grid points, still 16-bit.
    const auto fits = RedDib(64, 64, [](int, int) { return 9u; });
    ASSERT_EQ(Build(&fits), S_OK);
    EXPECT_EQ(recorder().Only({"CreateIndexBuffer"}).back(), "CreateIndexBuffer(780300, 0, 101, 1, null)");

    // 65 x 65 pixels: 67,600 points need 32-bit indices, which do not wrap.
    const auto large = RedDib(65, 65, [](int, int) { return 9u; });
    ASSERT_EQ(Build(&large), S_OK);
    EXPECT_EQ(recorder().Only({"CreateIndexBuffer"}).back(), "CreateIndexBuffer(1609944, 0, 102, 1, null)");
    EXPECT_EQ(engine.vertexCount, 67600u);
    EXPECT_EQ(engine.triangleCount, 134162u);
    const std::vector<uint32_t> i = Contents<uint32_t>(engine.indexBuffer);
    ASSERT_EQ(i.size(), 134162u * 3);
    EXPECT_EQ(std::vector<uint32_t>(i.end() - 6, i.end()),
              (std::vector<uint32_t>{67338, 67339, 67599, 67338, 67599, 67598}));
}

TEST_F(MeshTest, GridBeyondThirtyTwoBitBuffersFailsLikeItsBuffer) {
    // 3400 x 3400 one-bit pixels: some 370 million triangles of 12 index bytes.
    DibSpec spec;
    spec.width = spec.height = 3400;
    spec.bitCount = 1;
    spec.table = {0x000000u, 0xFFFFFFu};
    spec.pixel = [](int, int) { return 1u; };
    const auto huge = DibBytes(spec);
    EXPECT_EQ(Build(&huge), E_OUTOFMEMORY);
    EXPECT_EQ(sink.messages, std::vector<std::string>{"InitDXGraphics CreateVertexBuffer"});
    EXPECT_EQ(engine.vertexCount, 0u);
    EXPECT_EQ(engine.triangleCount, 0u);
    EXPECT_EQ(recorder().Count("Create"), 0u);
}

TEST_F(MeshTest, FailedBuffersAreReportedAndNeverPromised) {
    const struct {
        const char *name;
        const char *call;
        std::vector<HRESULT> script;
        const char *message;
        uint32_t vertices, triangles;
        bool positions, colours, indices;
    } cases[] = {
        {"position buffer not made", "CreateVertexBuffer", {E_OUTOFMEMORY},
         "InitDXGraphics CreateVertexBuffer", 0, 0, false, true, true},
        {"colour buffer not made", "CreateVertexBuffer", {S_OK, E_OUTOFMEMORY},
         "InitDXGraphics CreateVertexBuffer", 16, 18, true, false, true},
        {"index buffer not made", "CreateIndexBuffer", {E_OUTOFMEMORY},
         "InitDXGraphics CreateIndexBuffer", 16, 0, true, true, false},
        {"positions not locked", "VertexBuffer::Lock", {D3DERR_INVALIDCALL},
         "InitDXGraphics Lock", 0, 0, true, true, true},
        {"indices not locked", "IndexBuffer::Lock", {D3DERR_INVALIDCALL},
         "InitDXGraphics Lock", 16, 0, true, true, true},
        {"colours not locked", "VertexBuffer::Lock", {S_OK, D3DERR_INVALIDCALL},
         "InitDXGraphics Lock", 16, 18, true, true, true},
    };
    const auto depth = RedDib(1, 1, [](int, int) { return 255u; });
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        recorder().results.clear();
        recorder().Script(c.call, c.script);
        const HRESULT failure = *(c.script.end() - 1);
        // The build goes on past the failure and returns it.
        EXPECT_EQ(Build(&depth), failure);
        EXPECT_EQ(sink.messages, std::vector<std::string>{c.message});
        EXPECT_EQ(sink.codes, std::vector<HRESULT>{failure});
        EXPECT_EQ(engine.vertexCount, c.vertices);
        EXPECT_EQ(engine.triangleCount, c.triangles);
        EXPECT_EQ(engine.positionBuffer != nullptr, c.positions);
        EXPECT_EQ(engine.colorBuffer != nullptr, c.colours);
        EXPECT_EQ(engine.indexBuffer != nullptr, c.indices);
        // A frame draws only what was written, from buffers that exist.
        recorder().calls.clear();
        EXPECT_TRUE(_QRV3DRender(1));
        EXPECT_EQ(recorder().Count("DrawIndexedPrimitive"), c.triangles ? 1u : 0u);
        if (!c.colours) {
            EXPECT_EQ(recorder().Count("SetStreamSource(1, null, 0, 4)"), 1u);
        }
    }
}

TEST_F(MeshTest, DepthImagesOfOtherKinds) {
    const auto plain = RedDib(2, 3, [](int c, int pr) { return 40u * static_cast<unsigned>(c + 2 * pr) + 10u; });
    ASSERT_EQ(Build(&plain), S_OK);
    const std::vector<Vec3> expected = Positions();

    auto same = [&](const char *name, const std::vector<uint8_t> &dib) {
        SCOPED_TRACE(name);
        ASSERT_EQ(Build(&dib), S_OK);
        const std::vector<Vec3> p = Positions();
        ASSERT_EQ(p.size(), expected.size());
        for (size_t v = 0; v < p.size(); ++v) EXPECT_EQ(p[v].z, expected[v].z) << v;
    };
    auto red = [](int c, int pr) { return 40u * static_cast<unsigned>(c + 2 * pr) + 10u; };
    {
        DibSpec spec; // rows stored top-down
        spec.width = 2;
        spec.height = 3;
        spec.topDown = true;
        for (uint32_t i = 0; i < 256; ++i) spec.table.push_back(i << 16);
        spec.pixel = red;
        same("top-down", DibBytes(spec));
    }
    {
        DibSpec spec; // 24 bits: the pixel's own red
        spec.width = 2;
        spec.height = 3;
        spec.bitCount = 24;
        spec.pixel = red;
        same("24 bits", DibBytes(spec));
    }
    {
        DibSpec spec; // a short table named by biClrUsed, the pixels right after it
        spec.width = 2;
        spec.height = 3;
        spec.colorsUsed = 6;
        for (uint32_t i = 0; i < 6; ++i) spec.table.push_back((40 * i + 10) << 16);
        spec.pixel = [](int c, int pr) { return static_cast<unsigned>(c + 2 * pr); };
        same("short table", DibBytes(spec));
    }
    {
        DibSpec spec; // 4 bits with a 16-entry table
        spec.width = 2;
        spec.height = 3;
        spec.bitCount = 4;
        for (uint32_t i = 0; i < 16; ++i) spec.table.push_back((40 * i + 10) << 16);
        spec.pixel = [](int c, int pr) { return static_cast<unsigned>(c + 2 * pr); };
        same("4 bits", DibBytes(spec));
    }

    // Pictures that are not read count as not given: no mesh at all.
    std::vector<uint8_t> truncated = plain;
    truncated.resize(truncated.size() - 1);
    DibSpec spec;
    spec.table = GreyRamp();
    spec.compression = 1; // run-length encoded
    const std::vector<uint8_t> compressed = DibBytes(spec);
    spec.compression = 0;
    spec.width = 0;
    const std::vector<uint8_t> noWidth = DibBytes(spec);
    std::vector<uint8_t> shortHeader(30, 0);
    for (const auto &[name, dib] : {std::pair{"rows cut short", truncated},
                                    std::pair{"compressed", compressed},
                                    std::pair{"no width", noWidth},
                                    std::pair{"shorter than its header", shortHeader}}) {
        SCOPED_TRACE(name);
        EXPECT_EQ(Build(&dib), S_OK);
        EXPECT_EQ(engine.positionBuffer, nullptr);
        EXPECT_EQ(engine.indexBuffer, nullptr);
        EXPECT_TRUE(sink.messages.empty());
    }
}

} // namespace
} // namespace qrv::testing
