// Building the strips of a relief from depth images and photos.
#include <gtest/gtest.h>
#include <turbojpeg.h>

#include "view/strip_builder.h"
#include "view_fixture.h"

namespace qrv::testing {
namespace {

std::vector<uint8_t> Jpeg(int width, int height, bool progressive) {
    std::vector<uint8_t> rgb(static_cast<size_t>(width) * height * 3);
    for (size_t i = 0; i < rgb.size(); ++i) rgb[i] = static_cast<uint8_t>(i * 7);
    tjhandle tj = tjInitCompress();
    unsigned char *out = nullptr;
    unsigned long size = 0;
    const int rc = tjCompress2(tj, rgb.data(), width, 0, height, TJPF_RGB, &out, &size, TJSAMP_420,
                               80, progressive ? TJFLAG_PROGRESSIVE : 0);
    std::vector<uint8_t> bytes;
    if (rc == 0) bytes.assign(out, out + size);
    tjFree(out);
    tjDestroy(tj);
    return bytes;
}

using StripBuilderTest = ViewTest;

struct Layout {
    int width, height;
    float firstX, lastX; // x of the first and last column
    float topY, bottomY; // y of the first strip's upper row, the last strip's lower row
    float firstLowerY;   // y of the first strip's lower row
    float firstLowerV;   // v of the first strip's lower row
};

TEST_F(StripBuilderTest, StripLayoutOfDepthImages) {
    const Layout cases[] = {
        {3, 2, -1.0f, 1.0f, 0.0f, -1.0f, -1.0f, 0.5f},
        {4, 4, -1.0f, 0.5f, 0.5f, -1.0f, 0.0f, 0.25f},
        {100, 50, -1.0f, 0.98f, 0.48f, -0.5f, 0.46f, 1.0f / 50},
    };
    const std::string photo =
        dir.Write("photo.bmp", Bmp24File(8, 8, [](int, int) { return 0x808080u; }));
    for (const Layout &c : cases) {
        SCOPED_TRACE(std::to_string(c.width) + " x " + std::to_string(c.height));
        EXPECT_EQ(Build(GreyDib(c.width, c.height, [](int, int) { return 0u; }), photo), S_OK);
        const int V = 2 * c.width;
        ASSERT_EQ(view->vertsPerStrip, V);
        ASSERT_EQ(view->stripCount, c.height - 1);
        D3DVERTEXBUFFER_DESC desc{};
        ASSERT_EQ(view->stripBuffer->GetDesc(&desc), S_OK);
        EXPECT_EQ(desc.Size, static_cast<UINT>(V * (c.height - 1) * 24));
        EXPECT_EQ(desc.FVF, 0x142u);
        EXPECT_EQ(desc.Pool, D3DPOOL_MANAGED);

        const auto v = Vertices();
        const size_t last = v.size() - 1;
        EXPECT_FLOAT_EQ(v[0].x, c.firstX);
        EXPECT_FLOAT_EQ(v[static_cast<size_t>(V - 2)].x, c.lastX);
        EXPECT_FLOAT_EQ(v[0].y, c.topY);
        EXPECT_FLOAT_EQ(v[1].y, c.firstLowerY);
        EXPECT_FLOAT_EQ(v[last].y, c.bottomY);
        EXPECT_FLOAT_EQ(v[0].v, 0.0f);
        EXPECT_FLOAT_EQ(v[1].v, c.firstLowerV);
        EXPECT_FLOAT_EQ(v[last].v, static_cast<float>(c.height - 1) / c.height);
        for (int col = 0; col < c.width; ++col) {
            // Upper and lower vertex of a column share x and u; u is column / width.
            EXPECT_FLOAT_EQ(v[static_cast<size_t>(2 * col)].u, static_cast<float>(col) / c.width);
            EXPECT_EQ(v[static_cast<size_t>(2 * col)].x, v[static_cast<size_t>(2 * col + 1)].x);
            EXPECT_EQ(v[static_cast<size_t>(2 * col)].u, v[static_cast<size_t>(2 * col + 1)].u);
        }
        for (size_t i = 0; i < v.size(); ++i) ASSERT_EQ(v[i].diffuse, 0xFFFFFFFFu);
        // The lower row of each strip is the upper row of the next one.
        for (int s = 0; s + 1 < view->stripCount; ++s)
            for (int col = 0; col < c.width; ++col) {
                const StripVertex &lower = v[static_cast<size_t>(s * V + 2 * col + 1)];
                const StripVertex &upper = v[static_cast<size_t>((s + 1) * V + 2 * col)];
                ASSERT_EQ(std::memcmp(&lower, &upper, sizeof lower), 0) << "strip " << s;
            }
    }
}

TEST_F(StripBuilderTest, DepthOfAColourTableEntryAtPopUpPercents) {
    // Entry 5 is blue 10, green 20, red 40: its average is 70 / 3 = 23.
    DibSpec spec;
    spec.width = 2;
    spec.height = 2;
    spec.table = GreyRamp();
    spec.table[5] = 0x28140Au;
    spec.pixel = [](int, int) { return 5u; };
    const auto dib = DibBytes(spec);
    const std::string photo = dir.Path("missing.jpg");

    struct Case {
        int percent, depth;
    } cases[] = {{100, 232}, {50, 244}, {0, 255}, {130, 232}, {-30, 261}};
    for (const Case &c : cases) {
        SCOPED_TRACE("percent " + std::to_string(c.percent));
        _QRV3DEffect(handle, 2, 100 - c.percent);
        EXPECT_EQ(view->popupPercent, c.percent);
        const std::vector<uint8_t> table(dib.begin() + 40, dib.begin() + 40 + 1024);
        const uint8_t index = 5;
        EXPECT_EQ(SampleDepth(&index, table.data(), 0, 0, 4, c.percent), c.depth);
        Build(dib, photo);
        const auto v = Vertices();
        ASSERT_EQ(v.size(), 4u);
        for (const StripVertex &vertex : v)
            EXPECT_FLOAT_EQ(vertex.z, static_cast<float>(c.depth - 128) / 128.0f);
    }
    // The worked values: depth 232 is z 0.8125, 255 is the back plane.
    EXPECT_FLOAT_EQ((232 - 128) / 128.0f, 0.8125f);
    EXPECT_EQ(SampleDepth(nullptr, nullptr, 3, 3, 4, 100), 0);
}

TEST_F(StripBuilderTest, WithoutDepthImageThePhotoGivesAFlatNearPlane) {
    const std::string photo =
        dir.Write("garden.bmp",
                  Bmp24File(640, 480, [](int c, int r) { return static_cast<uint32_t>(c ^ r); }));
    EXPECT_EQ(_QRV3DGet3DImage(handle, nullptr, nullptr, photo.c_str()), S_OK);
    EXPECT_EQ(view->vertsPerStrip, 1280);
    EXPECT_EQ(view->stripCount, 479);
    const auto v = Vertices();
    ASSERT_EQ(v.size(), 1280u * 479u);
    for (const StripVertex &vertex : v) ASSERT_EQ(vertex.z, -1.0f);
    auto *texture = dynamic_cast<RecordingTexture *>(view->photoTexture);
    ASSERT_NE(texture, nullptr);
    EXPECT_EQ(texture->width, 640u);
    EXPECT_EQ(texture->height, 480u);
}

TEST_F(StripBuilderTest, ProgressiveJpegWithoutDepthImageMakesNoStripsButLoadsTheTexture) {
    const auto jpeg = Jpeg(64, 48, true);
    ASSERT_FALSE(jpeg.empty());
    const std::string photo = dir.Write("photo.jpg", jpeg);
    EXPECT_EQ(_QRV3DGet3DImage(handle, nullptr, nullptr, photo.c_str()), S_OK);
    EXPECT_EQ(view->stripBuffer, nullptr);
    EXPECT_EQ(view->vertsPerStrip, 0);
    EXPECT_EQ(view->stripCount, 0);
    EXPECT_EQ(recorder().Count("CreateVertexBuffer"), 0u);
    ASSERT_NE(view->photoTexture, nullptr);

    // With a depth image the relief takes the depth image's size.
    EXPECT_EQ(Build(GreyDib(5, 3, [](int, int) { return 0u; }), photo), S_OK);
    EXPECT_EQ(view->vertsPerStrip, 10);
    EXPECT_EQ(view->stripCount, 2);
}

TEST_F(StripBuilderTest, ThinImages) {
    const std::string photo = dir.Write("photo.jpg", Jpeg(16, 16, false));
    // One pixel wide: strips of two vertices.
    EXPECT_EQ(Build(GreyDib(1, 3, [](int, int) { return 0u; }), photo), S_OK);
    EXPECT_EQ(view->vertsPerStrip, 2);
    EXPECT_EQ(view->stripCount, 2);
    EXPECT_EQ(Vertices().size(), 4u);
    // One pixel high: no strips and no buffer, but the texture.
    EXPECT_EQ(Build(GreyDib(7, 1, [](int, int) { return 0u; }), photo), S_OK);
    EXPECT_EQ(view->stripCount, 0);
    EXPECT_EQ(view->vertsPerStrip, 0);
    EXPECT_EQ(view->stripBuffer, nullptr);
    EXPECT_NE(view->photoTexture, nullptr);
}

TEST_F(StripBuilderTest, RebuildingKeepsOneBufferAndOneTexture) {
    const std::string photo = dir.Write("photo.jpg", Jpeg(16, 16, false));
    const auto dib = GreyDib(6, 4, [](int c, int r) { return static_cast<unsigned>(c * 40 + r); });
    const int before = recorder().liveObjects; // the Direct3D object and the device
    Build(dib, photo);
    const auto first = Vertices();
    Build(dib, photo);
    _QRV3DEffect(handle, 2, 50);
    Build(dib, photo);
    EXPECT_EQ(recorder().liveObjects, before + 2);
    // Rebuilds of the same size write into the same buffer, all of it anew.
    EXPECT_EQ(recorder().Count("CreateVertexBuffer"), 1u);
    EXPECT_EQ(recorder().Count("Texture::LockRect"), 3u);
    const auto half = Vertices();
    ASSERT_EQ(half.size(), first.size());
    for (size_t i = 0; i < half.size(); ++i) {
        EXPECT_EQ(half[i].x, first[i].x);
        EXPECT_EQ(half[i].v, first[i].v);
    }
    EXPECT_NE(half[2].z, first[2].z); // column 1, grey 40, now at half depth

    // Another size: the old buffer goes before the new one is made.
    recorder().calls.clear();
    Build(GreyDib(5, 4, [](int, int) { return 1u; }), photo);
    EXPECT_EQ(recorder().liveObjects, before + 2);
    EXPECT_EQ(recorder().Count("CreateVertexBuffer"), 1u);
    EXPECT_EQ(view->vertsPerStrip, 10);
    // Nothing to build: no buffer is kept.
    Build(GreyDib(5, 1, [](int, int) { return 1u; }), photo);
    EXPECT_EQ(view->stripBuffer, nullptr);
    EXPECT_EQ(recorder().liveObjects, before + 1);
    Build(dib, photo);
    // Rebuilding keeps the eye, turning, fill mode and threshold.
    _QRV3DMoveEye(handle, 0.1f, 0.0f, 0.0f);
    _QRV3DEffect(handle, 1, 1);
    _QRV3DFillMode(handle);
    _QRV3DSetThreshold(handle, 10);
    const D3DXVECTOR3 eye = view->eye;
    Build(dib, photo);
    EXPECT_EQ(view->eye.x, eye.x);
    EXPECT_EQ(view->eye.z, eye.z);
    EXPECT_TRUE(view->rotating);
    EXPECT_FALSE(view->solidFill);
    EXPECT_FLOAT_EQ(view->tearThreshold, 10 / 255.0f);
    EXPECT_EQ(view->popupPercent, 50);
}

TEST_F(StripBuilderTest, FailuresOfBufferAndTexture) {
    const std::string photo = dir.Write("photo.jpg", Jpeg(16, 16, false));
    const auto dib = GreyDib(4, 4, [](int, int) { return 200u; });

    // A buffer that cannot be made leaves no counts; the texture still loads.
    recorder().Script("CreateVertexBuffer", {E_OUTOFMEMORY});
    EXPECT_EQ(Build(dib, photo), S_OK);
    EXPECT_EQ(view->stripBuffer, nullptr);
    EXPECT_EQ(view->vertsPerStrip, 0);
    EXPECT_EQ(view->stripCount, 0);
    EXPECT_NE(view->photoTexture, nullptr);

    // A buffer that cannot be locked is dropped.
    const int before = recorder().liveObjects;
    recorder().Script("VertexBuffer::Lock", {D3DERR_INVALIDCALL});
    EXPECT_EQ(Build(dib, photo), S_OK);
    EXPECT_EQ(view->stripBuffer, nullptr);
    EXPECT_EQ(view->stripCount, 0);
    EXPECT_EQ(recorder().liveObjects, before);

    // A photo that cannot be read gives the loader's failure; the strips stay.
    const HRESULT hr = Build(dib, dir.Path("missing.jpg"));
    EXPECT_TRUE(FAILED(hr));
    EXPECT_EQ(view->photoTexture, nullptr);
    EXPECT_EQ(view->stripCount, 3);
    EXPECT_NE(view->stripBuffer, nullptr);

    // Sizes beyond what one buffer holds build nothing (and never overflow).
    for (const auto &[w, h] : {std::pair{INT32_MAX, INT32_MAX}, std::pair{70000, 70000},
                               std::pair{INT32_MAX, 2}, std::pair{2, INT32_MAX}}) {
        auto huge = GreyDib(4, 2, [](int, int) { return 0u; });
        Put32(huge, 4, static_cast<uint32_t>(w));
        Put32(huge, 8, static_cast<uint32_t>(h));
        EXPECT_EQ(Build(huge, photo), S_OK);
        EXPECT_EQ(view->stripBuffer, nullptr) << w << " x " << h;
        EXPECT_EQ(view->stripCount, 0);
        EXPECT_EQ(view->vertsPerStrip, 0);
    }
    Build(dib, dir.Path("missing.jpg"));
    ASSERT_NE(view->stripBuffer, nullptr);

    // A kept buffer that cannot be locked for the new strips is not kept with the
    // old ones in it.
    const int withBuffer = recorder().liveObjects;
    recorder().Script("VertexBuffer::Lock", {D3DERR_INVALIDCALL});
    EXPECT_TRUE(FAILED(Build(dib, dir.Path("missing.jpg"))));
    EXPECT_EQ(view->stripBuffer, nullptr);
    EXPECT_EQ(view->stripCount, 0);
    EXPECT_EQ(recorder().liveObjects, withBuffer - 1);
}

// Depth images of every kind the builder reads, each of 4 x 3 pixels whose grey
// level is known; and blocks it must not read.
TEST_F(StripBuilderTest, DepthImageKinds) {
    auto grey = [](int c, int r) { return static_cast<unsigned>(c * 60 + r * 17); };
    struct Case {
        const char *name;
        DibSpec spec;
    };
    std::vector<Case> cases;
    {
        DibSpec s;
        s.width = 4, s.height = 3, s.table = GreyRamp(), s.pixel = grey;
        cases.push_back({"8-bit grey ramp", s});
        s.topDown = true;
        cases.push_back({"8-bit top-down", s});
        s.topDown = false;
        s.headerSize = 124;
        cases.push_back({"8-bit with a V5 header", s});
        s.headerSize = 40;
        // Only the entries used, named in biClrUsed: index i is grey 17 i.
        s.table = {};
        for (int i = 0; i < 16; ++i) s.table.push_back(static_cast<uint32_t>(i * 17) * 0x010101u);
        s.colorsUsed = 16;
        s.pixel = [&](int c, int r) { return grey(c, r) / 17; };
        cases.push_back({"8-bit with 16 colours used", s});
    }
    {
        DibSpec s;
        s.width = 4, s.height = 3, s.bitCount = 4;
        for (int i = 0; i < 16; ++i) s.table.push_back(static_cast<uint32_t>(i * 17) * 0x010101u);
        s.pixel = [&](int c, int r) { return grey(c, r) / 17; };
        cases.push_back({"4-bit", s});
    }
    {
        DibSpec s;
        s.width = 4, s.height = 3, s.bitCount = 1, s.table = {0x000000u, 0xFFFFFFu};
        s.pixel = [](int c, int r) { return static_cast<unsigned>((c + r) & 1); };
        cases.push_back({"1-bit", s});
    }
    for (uint16_t bits : {uint16_t{24}, uint16_t{32}}) {
        DibSpec s;
        s.width = 4, s.height = 3, s.bitCount = bits, s.pixel = grey;
        cases.push_back({bits == 24 ? "24-bit" : "32-bit", s});
    }
    const std::string photo = dir.Path("none.jpg");
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        Build(DibBytes(c.spec), photo);
        ASSERT_EQ(view->vertsPerStrip, 8);
        ASSERT_EQ(view->stripCount, 2);
        const auto v = Vertices();
        for (int r = 0; r < 3; ++r)
            for (int col = 0; col < 4; ++col) {
                unsigned expected = c.spec.pixel(col, r);
                if (c.spec.bitCount <= 8) expected = c.spec.table[expected] & 0xFFu;
                EXPECT_EQ(ZAt(v, col, r), ZOfGrey(static_cast<int>(expected)))
                    << "column " << col << " row " << r;
            }
    }
}

TEST_F(StripBuilderTest, BlocksThatAreNoDepthImageGiveTheFlatPhoto) {
    const std::string photo = dir.Write("photo.bmp", Bmp24File(5, 4, [](int, int) { return 0u; }));
    const auto good = GreyDib(4, 3, [](int, int) { return 9u; });
    auto patched = [&](size_t at, uint32_t value) {
        auto bytes = good;
        Put32(bytes, at, value);
        return bytes;
    };
    const std::vector<std::pair<const char *, std::vector<uint8_t>>> cases = {
        {"shorter than a header", std::vector<uint8_t>(good.begin(), good.begin() + 39)},
        {"colour table cut", std::vector<uint8_t>(good.begin(), good.begin() + 40 + 1000)},
        {"core header", patched(0, 12)},
        {"header longer than the block", patched(0, 5000)},
        {"run-length compressed", patched(16, 1)},
        {"16 bits per pixel",
         [&] {
             auto b = good;
             Put16(b, 14, 16);
             return b;
         }()},
        {"zero width", patched(4, 0)},
        {"negative width", patched(4, static_cast<uint32_t>(-4))},
        {"zero height", patched(8, 0)},
        {"empty block", {}},
    };
    for (const auto &[name, bytes] : cases) {
        SCOPED_TRACE(name);
        Block block(bytes);
        _QRV3DGet3DImage(handle, block.get(), nullptr, photo.c_str());
        EXPECT_EQ(view->vertsPerStrip, 10);
        EXPECT_EQ(view->stripCount, 3);
        for (const StripVertex &vertex : Vertices()) ASSERT_EQ(vertex.z, -1.0f);
    }
    // A freed handle is no block either.
    HGLOBAL freed = GlobalAlloc(GMEM_MOVEABLE, good.size());
    GlobalFree(freed);
    _QRV3DGet3DImage(handle, freed, nullptr, photo.c_str());
    EXPECT_EQ(view->stripCount, 3);
}

TEST_F(StripBuilderTest, PixelRowsPastTheBlockReadAsZero) {
    // Header, table, the bottom row and half the middle one: what is missing
    // reads as index 0, grey 0, the back plane.
    const auto whole = GreyDib(4, 3, [](int, int) { return 255u; });
    const std::vector<uint8_t> cut(whole.begin(), whole.begin() + 40 + 1024 + 4 + 2);
    Build(cut, dir.Path("none.jpg"));
    ASSERT_EQ(view->stripCount, 2);
    const auto v = Vertices();
    for (int c = 0; c < 4; ++c) {
        EXPECT_EQ(ZAt(v, c, 2), ZOfGrey(255));             // the bottom row is whole
        EXPECT_EQ(ZAt(v, c, 1), ZOfGrey(c < 2 ? 255 : 0)); // cut inside the row
        EXPECT_EQ(ZAt(v, c, 0), ZOfGrey(0));
    }
}

TEST_F(StripBuilderTest, DepthsMatchSampleDepthForEveryPixel) {
    // A plain 8-bit image with a scrambled table, at several pop-up percents: the
    // builder's row lookup must give what SampleDepth gives pixel by pixel.
    DibSpec spec;
    spec.width = 13; // rows padded to 16 bytes
    spec.height = 7;
    for (uint32_t i = 0; i < 256; ++i) spec.table.push_back((i * 2654435761u) & 0xFFFFFFu);
    spec.pixel = [](int c, int r) { return static_cast<unsigned>((c * 31 + r * 97) & 0xFF); };
    const auto dib = DibBytes(spec);
    const uint8_t *table = dib.data() + 40;
    const uint8_t *pixels = dib.data() + 40 + 1024;
    for (int percent : {100, 77, 1, 0, -5, 250}) {
        SCOPED_TRACE(percent);
        _QRV3DEffect(handle, 2, 100 - percent);
        Build(dib, dir.Path("none.jpg"));
        const auto v = Vertices();
        for (int r = 0; r < spec.height; ++r)
            for (int c = 0; c < spec.width; ++c) {
                const int d = SampleDepth(pixels, table, spec.height - 1 - r, c, 16, percent);
                ASSERT_FLOAT_EQ(ZAt(v, c, r), static_cast<float>(d - 128) / 128.0f);
            }
    }
}

TEST_F(StripBuilderTest, UnalignedBufferGetsTheSameStrips) {
    const auto dib =
        GreyDib(9, 5, [](int c, int r) { return static_cast<unsigned>(c * 29 + r * 3); });
    Build(dib, dir.Path("none.jpg"));
    const auto aligned = Vertices();
    _QRV3DGet3DImage(handle, nullptr, nullptr, nullptr); // drop the buffer
    recorder().misalignLocks = true;
    Build(dib, dir.Path("none.jpg"));
    const auto unaligned = Vertices();
    ASSERT_EQ(unaligned.size(), aligned.size());
    EXPECT_EQ(std::memcmp(unaligned.data(), aligned.data(), aligned.size() * sizeof(StripVertex)),
              0);
}

} // namespace
} // namespace qrv::testing
