// The photo's size from its file header.
#include <gtest/gtest.h>
#include <turbojpeg.h>

#include "fixtures.h"
#include "view/strip_builder.h"

namespace qrv::testing {
namespace {

std::vector<uint8_t> Bytes(std::initializer_list<int> values) {
    std::vector<uint8_t> out;
    for (int v : values) out.push_back(static_cast<uint8_t>(v));
    return out;
}

std::vector<uint8_t> operator+(std::vector<uint8_t> a, const std::vector<uint8_t> &b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// A marker segment: FF, code, big-endian length (counting itself), body.
std::vector<uint8_t> Segment(int code, size_t bodyBytes, int fill = 0) {
    const size_t length = bodyBytes + 2;
    return Bytes({0xFF, code, static_cast<int>(length >> 8), static_cast<int>(length & 0xFF)}) +
           std::vector<uint8_t>(bodyBytes, static_cast<uint8_t>(fill));
}

// A start-of-frame segment of the given kind for width x height, three components.
std::vector<uint8_t> Frame(int code, int width, int height) {
    return Bytes({0xFF, code, 0, 17, 8, height >> 8, height & 0xFF, width >> 8, width & 0xFF, 3}) +
           std::vector<uint8_t>(9, 0x11);
}

std::vector<uint8_t> Cut(std::vector<uint8_t> bytes, size_t size) {
    bytes.resize(size);
    return bytes;
}

std::vector<uint8_t> BmpHeader(int32_t width, int32_t height) {
    std::vector<uint8_t> file(54);
    file[0] = 'B';
    file[1] = 'M';
    Put32(file, 14, 40);
    Put32(file, 18, static_cast<uint32_t>(width));
    Put32(file, 22, static_cast<uint32_t>(height));
    return file;
}

std::vector<uint8_t> RealJpeg(int width, int height, int flags) {
    std::vector<uint8_t> rgb(static_cast<size_t>(width) * height * 3, 128);
    tjhandle tj = tjInitCompress();
    unsigned char *out = nullptr;
    unsigned long size = 0;
    tjCompress2(tj, rgb.data(), width, 0, height, TJPF_RGB, &out, &size, TJSAMP_444, 90, flags);
    std::vector<uint8_t> bytes(out, out + size);
    tjFree(out);
    tjDestroy(tj);
    return bytes;
}

TEST(ReadPhotoSize, HeadersOfEveryKind) {
    const auto soi = Bytes({0xFF, 0xD8});
    const auto scan = Segment(0xDA, 10) + Bytes({0x12, 0x34, 0x56, 0x78, 0xFF, 0xD9});
    struct Case {
        const char *name;
        std::vector<uint8_t> bytes;
        int32_t width, height;
    };
    const Case cases[] = {
        {"BMP", BmpHeader(640, 480), 640, 480},
        {"top-down BMP keeps its negative height", BmpHeader(64, -48), 64, -48},
        {"BMP cut inside its header", Cut(BmpHeader(64, 48), 30), 0, 0},
        {"JPEG with APP0 and APP1 before SOF0",
         soi + Segment(0xE0, 14) + Segment(0xE1, 3000, 0xFF) + Segment(0xDB, 65) +
             Frame(0xC0, 640, 480) + Segment(0xC4, 30) + scan,
         640, 480},
        {"progressive JPEG", soi + Segment(0xE0, 14) + Frame(0xC2, 640, 480) + scan, 0, 0},
        {"extended JPEG", soi + Frame(0xC1, 640, 480) + scan, 0, 0},
        {"the last of two frames", soi + Frame(0xC0, 10, 20) + Frame(0xC0, 30, 40) + scan, 30, 40},
        {"large sizes are big-endian", soi + Frame(0xC0, 0x1234, 0xABCD) + scan, 0x1234, 0xABCD},
        {"segment length 0 does not stall the walk",
         soi + Bytes({0xFF, 0xE0, 0, 0}) + Frame(0xC0, 7, 9) + scan, 7, 9},
        {"segment length 1", soi + Bytes({0xFF, 0xE0, 0, 1}) + Frame(0xC0, 7, 9) + scan, 7, 9},
        {"frame cut short", soi + Bytes({0xFF, 0xC0, 0, 17, 8, 1}), 0, 0},
        {"segment running past the end", soi + Bytes({0xFF, 0xE0, 0xFF, 0xFF, 1, 2}), 0, 0},
        {"walk ends at data that is no marker",
         soi + Bytes({0x00, 0xC0, 0, 17}) + Frame(0xC0, 7, 9), 0, 0},
        {"only the start of image", soi, 0, 0},
        {"GIF", Bytes({'G', 'I', 'F', '8', '9', 'a', 1, 0, 1, 0}), 0, 0},
        {"empty file", {}, 0, 0},
        {"one byte", Bytes({0xFF}), 0, 0},
    };
    TempDir dir;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const PhotoSize size = ReadPhotoSize(dir.Write("photo", c.bytes).c_str());
        EXPECT_EQ(size.width, c.width);
        EXPECT_EQ(size.height, c.height);
    }
}

TEST(ReadPhotoSize, RealJpegsAndMissingFiles) {
    TempDir dir;
    PhotoSize size = ReadPhotoSize(dir.Write("a.jpg", RealJpeg(64, 48, 0)).c_str());
    EXPECT_EQ(size.width, 64);
    EXPECT_EQ(size.height, 48);
    size = ReadPhotoSize(dir.Write("b.jpg", RealJpeg(64, 48, TJFLAG_PROGRESSIVE)).c_str());
    EXPECT_EQ(size.width, 0);
    EXPECT_EQ(size.height, 0);
    size = ReadPhotoSize(dir.Path("missing.jpg").c_str());
    EXPECT_EQ(size.width, 0);
    size = ReadPhotoSize(nullptr);
    EXPECT_EQ(size.width, 0);
    size = ReadPhotoSize(dir.Path("").c_str()); // a folder
    EXPECT_EQ(size.width, 0);
}

} // namespace
} // namespace qrv::testing
