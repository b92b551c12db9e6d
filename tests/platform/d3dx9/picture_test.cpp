// The picture decoders: every BMP layout, JPEG and PNG variants, damaged files,
// and the box filter used to fit pictures into textures.
#include "platform/d3dx9/picture.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "picture_fixtures.h"

namespace {

using qrv::d3dx9::DecodePicture;
using qrv::d3dx9::DecodePictureAtLeast;
using qrv::d3dx9::DecodePictureInto;
using qrv::d3dx9::Picture;
using qrv::d3dx9::PictureFormat;
using qrv::d3dx9::PictureInfo;
using qrv::d3dx9::ReadPictureInfo;
using qrv::testing::Bgra;
using qrv::testing::BmpSpec;
using qrv::testing::Bytes;
using qrv::testing::MakeBmp;
using qrv::testing::MakeJpeg;
using qrv::testing::MakePng;
using qrv::testing::PadRows;
using qrv::testing::PngSpec;
using qrv::testing::PutU32;

// B,G,R,A
constexpr Bgra kBlack{0, 0, 0, 255};
constexpr Bgra kWhite{255, 255, 255, 255};
constexpr Bgra kRed{0, 0, 255, 255};
constexpr Bgra kGreen{0, 255, 0, 255};
constexpr Bgra kBlue{255, 0, 0, 255};
// Colour-table entries as a BMP stores them: B,G,R,reserved.
constexpr Bgra kTableBlack{0, 0, 0, 0};
constexpr Bgra kTableWhite{255, 255, 255, 0};
constexpr Bgra kTableRed{0, 0, 255, 0};
constexpr Bgra kTableGreen{0, 255, 0, 0};
constexpr Bgra kTableBlue{255, 0, 0, 0};

Bgra PixelAt(const Picture &p, uint32_t x, uint32_t y)
{
    const uint8_t *px = &p.pixels[(size_t{y} * p.width + x) * 4];
    return {px[0], px[1], px[2], px[3]};
}

std::vector<Bgra> AllPixels(const Picture &p)
{
    std::vector<Bgra> out;
    for (uint32_t y = 0; y < p.height; ++y) {
        for (uint32_t x = 0; x < p.width; ++x) {
            out.push_back(PixelAt(p, x, y));
        }
    }
    return out;
}

std::string Show(const std::vector<Bgra> &pixels)
{
    std::string s;
    for (const Bgra &p : pixels) {
        s += "(" + std::to_string(p[0]) + "," + std::to_string(p[1]) + "," +
             std::to_string(p[2]) + "," + std::to_string(p[3]) + ")";
    }
    return s;
}

// ---- BMP: good files ------------------------------------------------------------

struct GoodBmp {
    const char *name;
    BmpSpec spec;
    uint32_t width, height;
    bool hasAlpha;
    std::vector<Bgra> expected; // top row first
};

std::vector<GoodBmp> GoodBmps()
{
    std::vector<GoodBmp> cases;
    {
        // Picture rows: top 1010101010, bottom 0000011111; stored bottom row first.
        BmpSpec s;
        s.width = 10;
        s.height = 2;
        s.bitCount = 1;
        s.palette = {kTableBlack, kTableWhite};
        s.pixels = PadRows({{0x07, 0xC0}, {0xAA, 0x80}});
        std::vector<Bgra> e;
        for (int x = 0; x < 10; ++x) e.push_back(x % 2 == 0 ? kWhite : kBlack);
        for (int x = 0; x < 10; ++x) e.push_back(x >= 5 ? kWhite : kBlack);
        cases.push_back({"1 bit, padded rows, bottom-up", s, 10, 2, false, e});
    }
    {
        // A colour table of 3 entries (biClrUsed) and rows stored top row first.
        BmpSpec s;
        s.width = 3;
        s.height = -2;
        s.bitCount = 4;
        s.colorsUsed = 3;
        s.palette = {kTableRed, kTableGreen, kTableBlue};
        s.pixels = PadRows({{0x01, 0x20}, {0x22, 0x10}});
        cases.push_back({"4 bit, short table, top-down", s, 3, 2, false,
                         {kRed, kGreen, kBlue, kBlue, kBlue, kGreen}});
    }
    {
        // Index 5 lies past a 2-entry table: black.
        BmpSpec s;
        s.width = 3;
        s.height = 1;
        s.bitCount = 8;
        s.colorsUsed = 2;
        s.palette = {kTableRed, kTableGreen};
        s.pixels = PadRows({{1, 0, 5}});
        cases.push_back({"8 bit, index past the table", s, 3, 1, false, {kGreen, kRed, kBlack}});
    }
    {
        BmpSpec s;
        s.width = 3;
        s.height = 2;
        s.bitCount = 24;
        s.pixels = PadRows({{255, 0, 0, 0, 255, 0, 0, 0, 255},       // bottom: blue green red
                            {1, 2, 3, 255, 255, 255, 0, 0, 0}});     // top
        cases.push_back({"24 bit, padded rows, bottom-up", s, 3, 2, false,
                         {{1, 2, 3, 255}, kWhite, kBlack, kBlue, kGreen, kRed}});
    }
    {
        BmpSpec s;
        s.width = 1;
        s.height = -2;
        s.bitCount = 24;
        s.pixels = PadRows({{0, 0, 255}, {0, 255, 0}});
        cases.push_back({"24 bit, top-down", s, 1, 2, false, {kRed, kGreen}});
    }
    {
        // The fourth byte of a plain 32-bit pixel is unused, not alpha.
        BmpSpec s;
        s.width = 2;
        s.height = 1;
        s.bitCount = 32;
        s.pixels = {10, 20, 30, 0x12, 40, 50, 60, 0};
        cases.push_back({"32 bit, plain", s, 2, 1, false, {{10, 20, 30, 255}, {40, 50, 60, 255}}});
    }
    {
        BmpSpec s;
        s.headerSize = 124;
        s.width = 2;
        s.height = 1;
        s.bitCount = 32;
        s.compression = 3;
        s.masks = {0x00FF0000, 0x0000FF00, 0x000000FF, 0xFF000000};
        s.pixels = {10, 20, 30, 0x80, 40, 50, 60, 0};
        cases.push_back({"32 bit, alpha mask in a 124-byte header", s, 2, 1, true,
                         {{10, 20, 30, 0x80}, {40, 50, 60, 0}}});
    }
    {
        // An alpha mask with every alpha 0: meant opaque.
        BmpSpec s;
        s.headerSize = 108;
        s.width = 2;
        s.height = 1;
        s.bitCount = 32;
        s.compression = 3;
        s.masks = {0x00FF0000, 0x0000FF00, 0x000000FF, 0xFF000000};
        s.pixels = {10, 20, 30, 0, 40, 50, 60, 0};
        cases.push_back({"32 bit, alpha mask but no alpha", s, 2, 1, true,
                         {{10, 20, 30, 255}, {40, 50, 60, 255}}});
    }
    {
        // Red in the low byte, blue in the third: masks decide, not byte order.
        BmpSpec s;
        s.width = 1;
        s.height = 1;
        s.bitCount = 32;
        s.compression = 3;
        s.masks = {0x000000FF, 0x0000FF00, 0x00FF0000};
        s.pixels = {11, 22, 33, 44};
        cases.push_back({"32 bit, masks after a 40-byte header", s, 1, 1, false, {{33, 22, 11, 255}}});
    }
    {
        // 555: 0x7C00 red, 0x03E0 green, 0x0010 blue 16/31.
        BmpSpec s;
        s.width = 3;
        s.height = 1;
        s.bitCount = 16;
        s.pixels = PadRows({{0x00, 0x7C, 0xE0, 0x03, 0x10, 0x00}});
        cases.push_back({"16 bit, 555", s, 3, 1, false, {kRed, kGreen, {132, 0, 0, 255}}});
    }
    {
        // 565 through masks: 0xF800 red, 0x0400 green 32/63, 0x001F blue.
        BmpSpec s;
        s.width = 3;
        s.height = 1;
        s.bitCount = 16;
        s.compression = 3;
        s.masks = {0xF800, 0x07E0, 0x001F};
        s.pixels = PadRows({{0x00, 0xF8, 0x00, 0x04, 0x1F, 0x00}});
        cases.push_back({"16 bit, 565 masks", s, 3, 1, false, {kRed, {0, 130, 0, 255}, kBlue}});
    }
    {
        // The 12-byte core header: 16-bit sizes and 3-byte table entries.
        BmpSpec s;
        s.headerSize = 12;
        s.width = 2;
        s.height = 2;
        s.bitCount = 8;
        s.palette = {kTableRed, kTableBlue};
        s.pixels = PadRows({{0, 1}, {1, 1}});
        cases.push_back({"core header, 8 bit", s, 2, 2, false, {kBlue, kBlue, kRed, kBlue}});
    }
    {
        // RLE8 over 4 x 3, bottom row first:
        //   row 0: a run of four 1s, end of line
        //   row 1: a literal run 2,3,2 (padded), end of line (x = 3 keeps entry 0)
        //   row 2: move right 2, a run of two 3s, end of picture (x = 0, 1 keep entry 0)
        BmpSpec s;
        s.width = 4;
        s.height = 3;
        s.bitCount = 8;
        s.compression = 1;
        s.palette = {kTableBlack, kTableRed, kTableGreen, kTableBlue};
        s.pixels = {4, 1, 0, 0, 0, 3, 2, 3, 2, 0, 0, 0, 0, 2, 2, 0, 2, 3, 0, 1};
        cases.push_back({"RLE8 runs, literals, moves", s, 4, 3, false,
                         {kBlack, kBlack, kBlue, kBlue, kGreen, kBlue, kGreen, kBlack, kRed, kRed,
                          kRed, kRed}});
    }
    {
        //   row 0: a run of five alternating 1,2; end of line
        //   row 1: a literal run of three nibbles 1,2,3 (two bytes), end of picture
        BmpSpec s;
        s.width = 5;
        s.height = 2;
        s.bitCount = 4;
        s.compression = 2;
        s.palette = {kTableBlack, kTableRed, kTableGreen, kTableBlue};
        s.pixels = {5, 0x12, 0, 0, 0, 3, 0x12, 0x30, 0, 1};
        cases.push_back({"RLE4 runs and literals", s, 5, 2, false,
                         {kRed, kGreen, kBlue, kBlack, kBlack, kRed, kGreen, kRed, kGreen, kRed}});
    }
    return cases;
}

TEST(BmpDecode, ReadsEveryLayout)
{
    for (const GoodBmp &c : GoodBmps()) {
        SCOPED_TRACE(c.name);
        const Bytes file = MakeBmp(c.spec);
        PictureInfo info;
        ASSERT_EQ(ReadPictureInfo(file.data(), file.size(), &info), S_OK);
        EXPECT_EQ(info.format, PictureFormat::Bmp);
        EXPECT_EQ(info.width, c.width);
        EXPECT_EQ(info.height, c.height);
        EXPECT_EQ(info.hasAlpha, c.hasAlpha);
        Picture picture;
        ASSERT_EQ(DecodePicture(file.data(), file.size(), &picture), S_OK);
        EXPECT_EQ(Show(AllPixels(picture)), Show(c.expected));
    }
}

// ---- BMP: damaged files ---------------------------------------------------------

struct BadBmp {
    const char *name;
    std::function<Bytes()> make;
};

BmpSpec Plain24()
{
    BmpSpec s;
    s.width = 2;
    s.height = 2;
    s.bitCount = 24;
    s.pixels = PadRows({{1, 2, 3, 4, 5, 6}, {7, 8, 9, 10, 11, 12}});
    return s;
}

Bytes Plain24With(const std::function<void(Bytes &)> &change)
{
    Bytes b = MakeBmp(Plain24());
    change(b);
    return b;
}

BmpSpec Rle8(Bytes stream, int32_t height = 2)
{
    BmpSpec s;
    s.width = 4;
    s.height = height;
    s.bitCount = 8;
    s.compression = 1;
    s.palette = {kTableBlack, kTableRed};
    s.pixels = std::move(stream);
    return s;
}

std::vector<BadBmp> BadBmps()
{
    return {
        {"cut inside the last row", [] { return Plain24With([](Bytes &b) { b.pop_back(); }); }},
        {"cut inside the header", [] { return Plain24With([](Bytes &b) { b.resize(30); }); }},
        {"only the signature", [] { return Bytes{'B', 'M'}; }},
        {"header size 41", [] { return Plain24With([](Bytes &b) { PutU32(b, 14, 41); }); }},
        {"header past the end", [] { return Plain24With([](Bytes &b) { PutU32(b, 14, 4000); }); }},
        {"width 0", [] { return Plain24With([](Bytes &b) { PutU32(b, 18, 0); }); }},
        {"width negative", [] { return Plain24With([](Bytes &b) { PutU32(b, 18, uint32_t(-3)); }); }},
        {"height 0", [] { return Plain24With([](Bytes &b) { PutU32(b, 22, 0); }); }},
        {"height INT_MIN", [] { return Plain24With([](Bytes &b) { PutU32(b, 22, 0x80000000u); }); }},
        {"huge size, tiny file",
         [] {
             return Plain24With([](Bytes &b) {
                 PutU32(b, 18, 100000);
                 PutU32(b, 22, 100000);
             });
         }},
        {"7 bits a pixel", [] { return Plain24With([](Bytes &b) { b[28] = 7; }); }},
        {"JPEG inside BMP", [] { return Plain24With([](Bytes &b) { PutU32(b, 30, 4); }); }},
        {"RLE8 at 24 bits", [] { return Plain24With([](Bytes &b) { PutU32(b, 30, 1); }); }},
        {"bit fields at 24 bits", [] { return Plain24With([](Bytes &b) { PutU32(b, 30, 3); }); }},
        {"pixels past the end", [] { return Plain24With([](Bytes &b) { PutU32(b, 10, 5000); }); }},
        {"pixels inside the header", [] { return Plain24With([](Bytes &b) { PutU32(b, 10, 20); }); }},
        {"not a BMP", [] { return Plain24With([](Bytes &b) { b[0] = 'X'; }); }},
        {"colour table cut",
         [] {
             BmpSpec s;
             s.width = 1;
             s.height = 1;
             s.bitCount = 8;
             s.palette.assign(256, kTableRed);
             s.pixels = {0, 0, 0, 0};
             Bytes b = MakeBmp(s);
             b.resize(14 + 40 + 100);
             return b;
         }},
        {"masks cut",
         [] {
             BmpSpec s;
             s.bitCount = 16;
             s.compression = 3;
             s.masks = {0xF800, 0x07E0, 0x001F};
             Bytes b = MakeBmp(s);
             b.resize(14 + 40 + 6);
             return b;
         }},
        {"mask with a gap",
         [] {
             BmpSpec s;
             s.bitCount = 16;
             s.compression = 3;
             s.masks = {0xF0F0, 0x0F00, 0x000F};
             s.pixels = {0, 0, 0, 0};
             return MakeBmp(s);
         }},
        {"RLE8 ends before its last row", [] { return MakeBmp(Rle8({4, 1, 0, 0})); }},
        {"RLE8 literal run past the end", [] { return MakeBmp(Rle8({0, 5, 1, 1})); }},
        {"RLE8 move cut", [] { return MakeBmp(Rle8({0, 2, 1})); }},
        {"RLE8 top-down", [] { return MakeBmp(Rle8({0, 1}, -2)); }},
        {"RLE8 stream cut by its size field",
         [] {
             BmpSpec s = Rle8({4, 1, 0, 0, 4, 1, 0, 1});
             s.sizeImage = 4;
             return MakeBmp(s);
         }},
    };
}

TEST(BmpDecode, RefusesDamagedFiles)
{
    for (const BadBmp &c : BadBmps()) {
        SCOPED_TRACE(c.name);
        const Bytes file = c.make();
        Picture picture;
        EXPECT_EQ(DecodePicture(file.data(), file.size(), &picture), D3DXERR_INVALIDDATA);
        EXPECT_TRUE(picture.pixels.empty());
    }
}

TEST(BmpDecode, EveryShorterPrefixFails)
{
    for (const GoodBmp &c : GoodBmps()) {
        SCOPED_TRACE(c.name);
        const Bytes file = MakeBmp(c.spec);
        for (size_t n = 0; n < file.size(); ++n) {
            Picture picture;
            ASSERT_TRUE(FAILED(DecodePicture(file.data(), n, &picture))) << "prefix " << n;
        }
    }
}

TEST(BmpDecode, CompressedPictureTooLargeToHold)
{
    // RLE says nothing about size in bytes, so only the pixel limit stops this.
    BmpSpec s = Rle8({0, 1});
    s.width = 30000;
    s.height = 30000;
    const Bytes file = MakeBmp(s);
    PictureInfo info;
    ASSERT_EQ(ReadPictureInfo(file.data(), file.size(), &info), S_OK);
    Picture picture;
    EXPECT_EQ(DecodePicture(file.data(), file.size(), &picture), E_OUTOFMEMORY);
}

TEST(PictureDecode, WritesRowsAtThePitchAndNothingBetween)
{
    BmpSpec s;
    s.width = 2;
    s.height = 2;
    s.bitCount = 24;
    s.pixels = PadRows({{1, 2, 3, 4, 5, 6}, {7, 8, 9, 10, 11, 12}});
    const Bytes file = MakeBmp(s);
    PictureInfo info;
    ASSERT_EQ(ReadPictureInfo(file.data(), file.size(), &info), S_OK);
    const size_t pitch = 12;
    std::vector<uint8_t> dest(pitch * 2, 0xEE);
    ASSERT_EQ(DecodePictureInto(file.data(), file.size(), info, dest.data(), pitch), S_OK);
    const std::vector<uint8_t> expected = {7, 8,    9,    255,  10,   11,   12,   255,
                                           0xEE, 0xEE, 0xEE, 0xEE, 1,    2,    3,    255,
                                           4,    5,    6,    255,  0xEE, 0xEE, 0xEE, 0xEE};
    EXPECT_EQ(dest, expected);
    EXPECT_EQ(DecodePictureInto(file.data(), file.size(), info, dest.data(), 7), E_INVALIDARG);
    // A size that is not the picture's own would not fit what the decoder writes.
    PictureInfo smaller = info;
    smaller.height = 1;
    EXPECT_EQ(DecodePictureInto(file.data(), file.size(), smaller, dest.data(), pitch),
              E_INVALIDARG);
    const Bytes jpeg = MakeJpeg(Bytes(64 * 64 * 4, 0x40), 64, 64, TJSAMP_420, 90);
    PictureInfo odd;
    ASSERT_EQ(ReadPictureInfo(jpeg.data(), jpeg.size(), &odd), S_OK);
    odd.width = 41; // the decoder makes 64 x k / 8 only
    odd.height = 41;
    std::vector<uint8_t> jpegDest(64 * 64 * 4);
    EXPECT_EQ(DecodePictureInto(jpeg.data(), jpeg.size(), odd, jpegDest.data(), 64 * 4),
              E_INVALIDARG);
}

TEST(PictureDecode, UnknownOrEmptyInput)
{
    const Bytes gif = {'G', 'I', 'F', '8', '9', 'a', 1, 0, 1, 0};
    Picture picture;
    EXPECT_EQ(DecodePicture(gif.data(), gif.size(), &picture), D3DXERR_INVALIDDATA);
    EXPECT_EQ(DecodePicture(gif.data(), 0, &picture), D3DXERR_INVALIDDATA);
    EXPECT_EQ(DecodePicture(nullptr, 10, &picture), E_INVALIDARG);
    EXPECT_EQ(DecodePicture(gif.data(), gif.size(), nullptr), E_INVALIDARG);
}

// ---- JPEG -----------------------------------------------------------------------

// 16 x 16 in four flat 8 x 8 quadrants: red, green / blue, white.
Bytes Quadrants(bool grey)
{
    Bytes bgrx(16 * 16 * 4);
    for (int y = 0; y < 16; ++y) {
        for (int x = 0; x < 16; ++x) {
            const int q = (y / 8) * 2 + x / 8;
            Bgra c = q == 0 ? kRed : q == 1 ? kGreen : q == 2 ? kBlue : kWhite;
            if (grey) {
                const uint8_t level = static_cast<uint8_t>(40 + 60 * q);
                c = {level, level, level, 255};
            }
            std::copy(c.begin(), c.end(), bgrx.begin() + (y * 16 + x) * 4);
        }
    }
    return bgrx;
}

void ExpectNear(const Picture &p, const Bytes &bgrx, int tolerance)
{
    // Quadrant interiors only: chroma subsampling blends across the edges.
    for (uint32_t y = 0; y < 16; ++y) {
        for (uint32_t x = 0; x < 16; ++x) {
            if (x % 8 < 2 || x % 8 > 5 || y % 8 < 2 || y % 8 > 5) {
                continue;
            }
            const Bgra got = PixelAt(p, x, y);
            for (int k = 0; k < 3; ++k) {
                ASSERT_NEAR(got[k], bgrx[(y * 16 + x) * 4 + k], tolerance)
                    << "pixel " << x << "," << y << " channel " << k;
            }
            ASSERT_EQ(got[3], 255);
        }
    }
}

TEST(JpegDecode, BaselineProgressiveAndGrey)
{
    struct Case {
        const char *name;
        int subsampling;
        int flags;
    } cases[] = {
        {"baseline 4:4:4", TJSAMP_444, 0},
        {"baseline 4:2:0", TJSAMP_420, 0},
        {"progressive 4:2:0", TJSAMP_420, TJFLAG_PROGRESSIVE},
        {"grey", TJSAMP_GRAY, 0},
        {"progressive grey", TJSAMP_GRAY, TJFLAG_PROGRESSIVE},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const bool grey = c.subsampling == TJSAMP_GRAY;
        const Bytes bgrx = Quadrants(grey);
        const Bytes file = MakeJpeg(bgrx, 16, 16, c.subsampling, 95, c.flags);
        ASSERT_FALSE(file.empty());
        PictureInfo info;
        ASSERT_EQ(ReadPictureInfo(file.data(), file.size(), &info), S_OK);
        EXPECT_EQ(info.format, PictureFormat::Jpeg);
        EXPECT_EQ(info.width, 16u);
        EXPECT_EQ(info.height, 16u);
        EXPECT_FALSE(info.hasAlpha);
        Picture picture;
        ASSERT_EQ(DecodePicture(file.data(), file.size(), &picture), S_OK);
        ExpectNear(picture, bgrx, 8);
    }
}

TEST(JpegDecode, AdobeCmykBecomesRgb)
{
    // Inverted inks as Adobe stores them: C 255 (none), M 0 (full), Y 255, K 255
    // is magenta; K 0 is black whatever the rest.
    Bytes cmyk(8 * 8 * 4);
    for (int i = 0; i < 64; ++i) {
        const bool black = i >= 32;
        cmyk[i * 4 + 0] = 255;
        cmyk[i * 4 + 1] = 0;
        cmyk[i * 4 + 2] = 255;
        cmyk[i * 4 + 3] = black ? 0 : 255;
    }
    tjhandle handle = tjInitCompress();
    unsigned char *jpeg = nullptr;
    unsigned long size = 0;
    ASSERT_EQ(tjCompress2(handle, cmyk.data(), 8, 0, 8, TJPF_CMYK, &jpeg, &size, TJSAMP_444, 100,
                          0),
              0);
    const Bytes file(jpeg, jpeg + size);
    tjFree(jpeg);
    tjDestroy(handle);

    Picture picture;
    ASSERT_EQ(DecodePicture(file.data(), file.size(), &picture), S_OK);
    const Bgra top = PixelAt(picture, 3, 1);
    EXPECT_NEAR(top[0], 255, 4);
    EXPECT_NEAR(top[1], 0, 4);
    EXPECT_NEAR(top[2], 255, 4);
    const Bgra bottom = PixelAt(picture, 3, 6);
    EXPECT_NEAR(bottom[0], 0, 4);
    EXPECT_NEAR(bottom[1], 0, 4);
    EXPECT_NEAR(bottom[2], 0, 4);
}

TEST(JpegDecode, TruncatedOrDamagedFilesFail)
{
    for (int flags : {0, TJFLAG_PROGRESSIVE}) {
        SCOPED_TRACE(flags);
        const Bytes file = MakeJpeg(Quadrants(false), 16, 16, TJSAMP_420, 90, flags);
        ASSERT_FALSE(file.empty());
        for (size_t n = 0; n < file.size(); ++n) {
            Picture picture;
            ASSERT_TRUE(FAILED(DecodePicture(file.data(), n, &picture))) << "prefix " << n;
        }
    }
    const Bytes junk = {0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x02, 0x12, 0x34, 0x56};
    Picture picture;
    EXPECT_EQ(DecodePicture(junk.data(), junk.size(), &picture), D3DXERR_INVALIDDATA);
}

TEST(JpegDecode, ReducedDecodeStaysAtLeastTheAskedSize)
{
    Bytes bgrx(64 * 64 * 4, 0x80);
    const Bytes file = MakeJpeg(bgrx, 64, 64, TJSAMP_420, 90);
    struct Case {
        uint32_t minWidth, minHeight, width, height;
    } cases[] = {{16, 16, 16, 16}, {17, 8, 32, 32}, {8, 8, 8, 8}, {1, 1, 8, 8}, {64, 1, 64, 64}};
    for (const Case &c : cases) {
        Picture picture;
        ASSERT_EQ(DecodePictureAtLeast(file.data(), file.size(), c.minWidth, c.minHeight,
                                       &picture),
                  S_OK);
        EXPECT_EQ(picture.width, c.width) << c.minWidth << "x" << c.minHeight;
        EXPECT_EQ(picture.height, c.height) << c.minWidth << "x" << c.minHeight;
        EXPECT_NEAR(PixelAt(picture, 0, 0)[1], 0x80, 2);
    }
}

// ---- PNG ------------------------------------------------------------------------

struct GoodPng {
    const char *name;
    PngSpec spec;
    bool hasAlpha;
    std::vector<Bgra> expected;
    int tolerance;
};

std::vector<GoodPng> GoodPngs()
{
    std::vector<GoodPng> cases;
    auto spec = [](uint32_t w, uint32_t h, int type, int depth, std::vector<Bytes> rows) {
        PngSpec s;
        s.width = w;
        s.height = h;
        s.colorType = type;
        s.bitDepth = depth;
        s.rows = std::move(rows);
        return s;
    };
    cases.push_back({"RGB 8 bit", spec(2, 1, PNG_COLOR_TYPE_RGB, 8, {{255, 0, 0, 10, 20, 30}}),
                     false, {kRed, {30, 20, 10, 255}}, 0});
    cases.push_back({"RGBA 8 bit",
                     spec(2, 1, PNG_COLOR_TYPE_RGBA, 8, {{255, 0, 0, 0x40, 10, 20, 30, 255}}),
                     true, {{0, 0, 255, 0x40}, {30, 20, 10, 255}}, 0});
    {
        PngSpec s = spec(4, 1, PNG_COLOR_TYPE_PALETTE, 2, {{0x1B}});
        s.palette = {{255, 0, 0}, {0, 255, 0}, {0, 0, 255}, {255, 255, 255}};
        cases.push_back({"palette 2 bit", s, false, {kRed, kGreen, kBlue, kWhite}, 0});
    }
    {
        PngSpec s = spec(2, 1, PNG_COLOR_TYPE_PALETTE, 8, {{0, 1}});
        s.palette = {{255, 0, 0}, {0, 255, 0}};
        s.transparency = {255, 0};
        cases.push_back({"palette with tRNS", s, true, {kRed, {0, 255, 0, 0}}, 0});
    }
    cases.push_back({"grey 8 bit", spec(2, 1, PNG_COLOR_TYPE_GRAY, 8, {{0, 0x80}}), false,
                     {kBlack, {0x80, 0x80, 0x80, 255}}, 0});
    cases.push_back({"grey 1 bit", spec(3, 1, PNG_COLOR_TYPE_GRAY, 1, {{0xA0}}), false,
                     {kWhite, kBlack, kWhite}, 0});
    cases.push_back({"grey and alpha", spec(1, 1, PNG_COLOR_TYPE_GRAY_ALPHA, 8, {{0x80, 0x40}}),
                     true, {{0x80, 0x80, 0x80, 0x40}}, 0});
    cases.push_back({"RGB 16 bit",
                     spec(1, 1, PNG_COLOR_TYPE_RGB, 16, {{0x12, 0x34, 0xAB, 0xCD, 0xFF, 0xFF}}),
                     false, {{0xFF, 0xAB, 0x12, 255}}, 1});
    cases.push_back({"RGBA 16 bit, not premultiplied",
                     spec(1, 1, PNG_COLOR_TYPE_RGBA, 16,
                          {{0xC0, 0x00, 0x40, 0x00, 0x80, 0x00, 0x80, 0x00}}),
                     true, {{0x80, 0x40, 0xC0, 0x80}}, 1});
    {
        std::vector<Bytes> rows;
        std::vector<Bgra> expected;
        for (uint8_t y = 0; y < 5; ++y) {
            Bytes row;
            for (uint8_t x = 0; x < 5; ++x) {
                const uint8_t r = static_cast<uint8_t>(x * 50);
                const uint8_t g = static_cast<uint8_t>(y * 50);
                row.insert(row.end(), {r, g, 7});
                expected.push_back({7, g, r, 255});
            }
            rows.push_back(row);
        }
        PngSpec s = spec(5, 5, PNG_COLOR_TYPE_RGB, 8, rows);
        s.interlaced = true;
        cases.push_back({"interlaced", s, false, expected, 0});
    }
    return cases;
}

TEST(PngDecode, ExpandsEveryColourType)
{
    for (const GoodPng &c : GoodPngs()) {
        SCOPED_TRACE(c.name);
        const Bytes file = MakePng(c.spec);
        ASSERT_FALSE(file.empty());
        PictureInfo info;
        ASSERT_EQ(ReadPictureInfo(file.data(), file.size(), &info), S_OK);
        EXPECT_EQ(info.format, PictureFormat::Png);
        EXPECT_EQ(info.width, c.spec.width);
        EXPECT_EQ(info.height, c.spec.height);
        EXPECT_EQ(info.hasAlpha, c.hasAlpha);
        Picture picture;
        ASSERT_EQ(DecodePicture(file.data(), file.size(), &picture), S_OK);
        const std::vector<Bgra> got = AllPixels(picture);
        ASSERT_EQ(got.size(), c.expected.size());
        for (size_t i = 0; i < got.size(); ++i) {
            for (int k = 0; k < 4; ++k) {
                EXPECT_NEAR(got[i][k], c.expected[i][k], c.tolerance)
                    << "pixel " << i << " channel " << k << ": " << Show(got);
            }
        }
    }
}

TEST(PngDecode, TruncatedOrCorruptFilesFail)
{
    std::vector<Bytes> rows(6, Bytes(6 * 3, 0x55));
    PngSpec s;
    s.width = 6;
    s.height = 6;
    s.rows = rows;
    const Bytes file = MakePng(s);
    ASSERT_FALSE(file.empty());
    // Every cut up to the end of the image data's checksum fails. Only the closing
    // 12-byte IEND chunk may be missing: the pixels are complete without it.
    const size_t withoutEnd = file.size() - 12;
    for (size_t n = 0; n < withoutEnd; ++n) {
        Picture picture;
        ASSERT_TRUE(FAILED(DecodePicture(file.data(), n, &picture))) << "prefix " << n;
    }
    Picture whole;
    EXPECT_EQ(DecodePicture(file.data(), withoutEnd, &whole), S_OK);
    // A changed byte inside the image data breaks its chunk's checksum.
    Bytes corrupt = file;
    const size_t idat = std::string(corrupt.begin(), corrupt.end()).find("IDAT");
    ASSERT_NE(idat, std::string::npos);
    corrupt[idat + 6] ^= 0x01;
    Picture picture;
    EXPECT_EQ(DecodePicture(corrupt.data(), corrupt.size(), &picture), D3DXERR_INVALIDDATA);
}

// ---- Fitting and scaling --------------------------------------------------------

TEST(PictureScale, FitKeepsTheAspectRatio)
{
    struct Case {
        uint32_t w, h, maxW, maxH, fitW, fitH;
    } cases[] = {
        {640, 480, 4096, 4096, 640, 480},    // fits
        {4096, 4096, 4096, 4096, 4096, 4096}, // exactly
        {8000, 6000, 4096, 4096, 4096, 3072},
        {6000, 8000, 4096, 4096, 3072, 4096},
        {4097, 10, 4096, 4096, 4096, 9},
        {100000, 1, 4096, 4096, 4096, 1},    // never below 1
        {300, 200, 100, 200, 100, 66},
        {300, 200, 300, 100, 150, 100},
    };
    for (const Case &c : cases) {
        uint32_t w = 0, h = 0;
        qrv::d3dx9::FitPictureSize(c.w, c.h, c.maxW, c.maxH, &w, &h);
        EXPECT_EQ(w, c.fitW) << c.w << "x" << c.h;
        EXPECT_EQ(h, c.fitH) << c.w << "x" << c.h;
    }
}

TEST(PictureScale, BoxFilterWeighsByArea)
{
    // 3 x 1 to 2 x 1: the middle source pixel is split evenly between the two.
    // Blue 0, 90, 180 -> (0 x 2 + 90) / 3 = 30 and (90 + 180 x 2) / 3 = 150.
    const uint8_t row[] = {0, 0, 0, 255, 90, 0, 0, 255, 180, 0, 0, 255};
    uint8_t out[8] = {};
    qrv::d3dx9::BoxScalePicture(row, 3, 1, 12, out, 2, 1, 8);
    EXPECT_EQ(out[0], 30);
    EXPECT_EQ(out[4], 150);
    EXPECT_EQ(out[3], 255);

    // 4 x 4 to 2 x 2: plain 2 x 2 means, rounded to nearest; pitches honoured.
    std::vector<uint8_t> src(4 * 20, 0);
    for (int y = 0; y < 4; ++y) {
        for (int x = 0; x < 4; ++x) {
            uint8_t *p = &src[y * 20 + x * 4];
            p[0] = static_cast<uint8_t>(10 * (y * 4 + x));
            p[1] = static_cast<uint8_t>(x == 0 && y == 0 ? 1 : 0);
            p[2] = 200;
            p[3] = static_cast<uint8_t>(y < 2 ? 255 : 0);
        }
    }
    std::vector<uint8_t> dst(2 * 12, 0xEE);
    qrv::d3dx9::BoxScalePicture(src.data(), 4, 4, 20, dst.data(), 2, 2, 12);
    // Blue: top-left (0 + 10 + 40 + 50) / 4 = 25; bottom-right (100+110+140+150)/4 = 125.
    EXPECT_EQ(dst[0], 25);
    EXPECT_EQ(dst[12 + 4], 125);
    EXPECT_EQ(dst[1], 0); // 1/4 rounds to 0
    EXPECT_EQ(dst[2], 200);
    EXPECT_EQ(dst[3], 255);
    EXPECT_EQ(dst[12 + 3], 0);
    EXPECT_EQ(dst[8], 0xEE); // padding between rows untouched
}

TEST(PictureScale, FlatPicturesStayFlatAtAnyRatio)
{
    const uint32_t sizes[][4] = {{7, 5, 3, 2}, {101, 37, 100, 36}, {64, 64, 1, 1}, {9, 1, 4, 1}};
    for (const auto &s : sizes) {
        std::vector<uint8_t> src(size_t{s[0]} * s[1] * 4);
        for (size_t i = 0; i < src.size(); i += 4) {
            src[i] = 17;
            src[i + 1] = 99;
            src[i + 2] = 254;
            src[i + 3] = 255;
        }
        std::vector<uint8_t> dst(size_t{s[2]} * s[3] * 4);
        qrv::d3dx9::BoxScalePicture(src.data(), s[0], s[1], s[0] * 4, dst.data(), s[2], s[3],
                                    s[2] * 4);
        for (size_t i = 0; i < dst.size(); i += 4) {
            ASSERT_EQ(dst[i], 17);
            ASSERT_EQ(dst[i + 1], 99);
            ASSERT_EQ(dst[i + 2], 254);
            ASSERT_EQ(dst[i + 3], 255);
        }
    }
}

} // namespace
