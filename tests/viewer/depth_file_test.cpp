// The depth image's name, the block the engine gets, and the BMP writer.
#include <QImageReader>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cstring>

#include "depth_file.h"
#include "fixtures.h"

namespace tovelle {
namespace {

using testing::Le32;
using testing::ReadFile;
using testing::WriteFile;

TEST(DepthPathFor, ReplacesTheLastFourCharactersWithUnderscoreBmp) {
    const struct {
        const char *photo;
        const char *depth;
    } cases[] = {
        {"/pics/cat.jpg", "/pics/cat_.bmp"},
        {"/pics/cat.bmp", "/pics/cat_.bmp"},
        {"/pics/cat.BMP", "/pics/cat_.bmp"},
        {"/pics/cat.jpeg", "/pics/cat._.bmp"}, // four characters, whatever the extension
        {"/pics/cat_.bmp", "/pics/cat__.bmp"},
        {"/pics/a.b", "/pics/_.bmp"},          // a name shorter than four stops at the folder
        {"/写真/ねこ.jpg", "/写真/ねこ_.bmp"},
        {"/pics/ねこ.写真", "/pics/ね_.bmp"},    // characters are counted, not bytes
    };
    for (const auto &c : cases) {
        EXPECT_EQ(DepthPathFor(c.photo), c.depth) << c.photo;
    }
}

TEST(DepthPathFor, TakesPathsOfAnyLength) {
    const std::string folder = "/" + std::string(300, 'd');
    const std::string photo = folder + "/photo.jpg";
    const std::string depth = DepthPathFor(photo);
    EXPECT_EQ(depth, folder + "/photo_.bmp");
    EXPECT_EQ(depth.size(), photo.size() + 1);
}

// A BMP-like file: "BM", bfSize, reserved, bfOffBits, then body bytes.
QByteArray FileWithSize(uint32_t bfSize, int totalBytes) {
    QByteArray bytes(totalBytes, '\0');
    for (int i = 0; i < totalBytes; ++i) bytes[i] = static_cast<char>(i * 7 + 1);
    bytes[0] = 'B';
    bytes[1] = 'M';
    for (int i = 0; i < 4 && 2 + i < totalBytes; ++i) bytes[2 + i] = static_cast<char>(bfSize >> (8 * i));
    return bytes;
}

TEST(ReadPackedDib, HandsOverTheFileAfterItsHeader) {
    QTemporaryDir dir;
    const struct {
        const char *name;
        uint32_t bfSize;
        int fileBytes;   // -1: no file at all
        size_t expected; // block size; 0 for a null block
    } cases[] = {
        {"whole file", 1078 + 16, 1078 + 16, 1078 + 2},
        {"file longer than bfSize", 100, 400, 86},
        {"file shorter than bfSize", 1000, 500, 986},
        {"bfSize of the header alone", 14, 200, 0},
        {"bfSize below the header", 3, 200, 0},
        {"too short for bfSize", 0, 4, 0},
        {"missing file", 0, -1, 0},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        const QString path = dir.filePath(QString::fromUtf8(c.name) + ".bmp");
        QByteArray bytes;
        if (c.fileBytes >= 0) {
            bytes = FileWithSize(c.bfSize, c.fileBytes);
            ASSERT_TRUE(WriteFile(path, bytes));
        }
        HGLOBAL block = ReadPackedDib(path.toStdString());
        ASSERT_EQ(GlobalSize(block), c.expected);
        if (!block) continue;
        const auto *data = static_cast<const char *>(GlobalLock(block));
        ASSERT_NE(data, nullptr);
        const size_t fromFile = std::min<size_t>(c.expected, static_cast<size_t>(bytes.size() - 14));
        EXPECT_EQ(std::memcmp(data, bytes.constData() + 14, fromFile), 0);
        for (size_t i = fromFile; i < c.expected; ++i) ASSERT_EQ(data[i], 0) << "at " << i;
        GlobalUnlock(block);
        EXPECT_EQ(GlobalFree(block), nullptr);
    }
}

TEST(ReadPackedDib, GivesNullForAFolder) {
    QTemporaryDir dir;
    EXPECT_EQ(ReadPackedDib(dir.path().toStdString()), nullptr);
}

TEST(EncodeBmp8, WritesAFileThatQtReadsBackPixelForPixel) {
    // Odd widths exercise the row padding.
    for (int width : {1, 3, 4, 7}) {
        QImage picture(width, 5, QImage::Format_Indexed8);
        QList<QRgb> table;
        for (int i = 0; i < 256; ++i) table << qRgb(i, 255 - i, i / 2);
        picture.setColorTable(table);
        for (int y = 0; y < 5; ++y) {
            for (int x = 0; x < width; ++x) picture.scanLine(y)[x] = static_cast<uchar>(x * 40 + y * 3);
        }
        const QByteArray bytes = EncodeBmp8(picture);
        const int stride = (width + 3) / 4 * 4;
        EXPECT_EQ(bytes.size(), 1078 + stride * 5);
        EXPECT_EQ(Le32(bytes, 2), static_cast<uint32_t>(bytes.size()));
        EXPECT_EQ(Le32(bytes, 10), 1078u);

        QTemporaryDir dir;
        const QString path = dir.filePath("p.bmp");
        ASSERT_TRUE(WriteFile(path, bytes));
        QImageReader reader(path, "bmp");
        const QImage back = reader.read();
        ASSERT_FALSE(back.isNull()) << reader.errorString().toStdString();
        ASSERT_EQ(back.size(), picture.size());
        for (int y = 0; y < 5; ++y) {
            for (int x = 0; x < width; ++x) {
                ASSERT_EQ(back.pixel(x, y), picture.pixel(x, y)) << width << ": " << x << "," << y;
            }
        }
    }
}

TEST(ConvertTo8Bit, OrdersTheColourTableFromDarkToBright) {
    QImage picture = testing::MakePhoto(64, 48);
    const QImage indexed = ConvertTo8Bit(picture);
    ASSERT_EQ(indexed.format(), QImage::Format_Indexed8);
    ASSERT_EQ(indexed.colorCount(), 256);
    ASSERT_EQ(indexed.size(), picture.size());
    // Brighter source pixels never get lower indices than darker ones by much:
    // the index follows the brightness of the colour it stands for.
    int lastGrey = -1;
    for (int i = 0; i < 256; ++i) {
        const QRgb colour = indexed.color(i);
        if (colour == qRgb(0, 0, 0) && i > 0) continue; // unused slot
        EXPECT_GE(qGray(colour), lastGrey) << "entry " << i;
        lastGrey = qGray(colour);
    }
    // Each pixel's entry is a colour close to the photo's.
    for (int y = 0; y < 48; y += 7) {
        for (int x = 0; x < 64; x += 5) {
            const QRgb want = picture.pixel(x, y), got = indexed.pixel(x, y);
            EXPECT_LE(std::abs(qRed(want) - qRed(got)) + std::abs(qGreen(want) - qGreen(got)) +
                          std::abs(qBlue(want) - qBlue(got)),
                      3 * 30)
                << x << "," << y;
        }
    }
}

} // namespace
} // namespace tovelle
