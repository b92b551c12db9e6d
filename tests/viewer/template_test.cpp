// Create image for 3D: the depth-image template beside the photo.
#include <QAction>
#include <QDir>
#include <QFileDialog>

#include "depth_file.h"
#include "fixtures.h"
#include "form_test.h"

namespace tovelle::testing {
namespace {

class TemplateTest : public FormTest {
protected:
    // Opens photo and runs Create image for 3D; the template's bytes.
    QByteArray MakeTemplate(const QString &photo) {
        nextChoice = photo;
        form->Open1->trigger();
        EXPECT_TRUE(form->N3DS1->isEnabled());
        form->N3DS1->trigger();
        return ReadFile(QString::fromStdString(form->depthPath));
    }
};

TEST_F(TemplateTest, TemplateOfA640x480PhotoIsAnEightBitBmpWithAGreyRamp) {
    for (const char *format : {"JPEG", "BMP"}) {
        SCOPED_TRACE(format);
        const QString photo = dir.filePath(QStringLiteral("photo.") + QString(format).toLower());
        ASSERT_TRUE(MakePhoto(640, 480).save(photo, format, 95));
        editorOpened.clear();
        const QByteArray bytes = MakeTemplate(photo);
        ASSERT_TRUE(exceptions.empty()) << exceptions.front().toStdString();

        const int stride = 640;
        ASSERT_EQ(bytes.size(), 1078 + stride * 480);
        EXPECT_EQ(bytes.left(2), "BM");
        EXPECT_EQ(Le32(bytes, 2), static_cast<uint32_t>(bytes.size())); // bfSize
        EXPECT_EQ(Le32(bytes, 10), 1078u);                              // bfOffBits
        EXPECT_EQ(Le32(bytes, 14), 40u);                                // biSize
        EXPECT_EQ(Le32(bytes, 18), 640u);
        EXPECT_EQ(Le32(bytes, 22), 480u);
        EXPECT_EQ(Le32(bytes, 26), 1u | 8u << 16); // one plane, 8 bits per pixel
        EXPECT_EQ(Le32(bytes, 30), 0u);            // uncompressed
        EXPECT_EQ(bytes.mid(46, 8), QByteArray(8, '\0'));
        for (int i = 0; i < 256; ++i) {
            const char entry[4] = {char(i), char(i), char(i), 0};
            ASSERT_EQ(bytes.mid(54 + 4 * i, 4), QByteArray(entry, 4)) << "entry " << i;
        }
        // Every pixel keeps the index the 8-bit conversion gave it.
        const QImage indexed = ConvertTo8Bit(LoadPhoto(photo.toStdString()));
        for (int row = 0; row < 480; ++row) {
            const QByteArray fileRow = bytes.mid(1078 + row * stride, 640);
            const QByteArray want(reinterpret_cast<const char *>(indexed.constScanLine(479 - row)), 640);
            ASSERT_EQ(fileRow, want) << "row " << row;
        }
        ASSERT_EQ(editorOpened.size(), 1u);
        EXPECT_EQ(editorOpened[0], QString::fromStdString(form->depthPath));
        EXPECT_EQ(form->depthPath, DepthPathFor(photo.toStdString()));
    }
}

TEST_F(TemplateTest, TemplateIsAGreyPictureOfThePhoto) {
    // Black on the left, white on the right: far and near in the template.
    QImage picture(40, 30, QImage::Format_RGB32);
    picture.fill(Qt::white);
    for (int y = 0; y < 30; ++y) {
        for (int x = 0; x < 20; ++x) picture.setPixel(x, y, qRgb(0, 0, 0));
    }
    const QString photo = dir.filePath("halves.bmp");
    ASSERT_TRUE(picture.save(photo, "BMP"));
    const QByteArray bytes = MakeTemplate(photo);
    ASSERT_EQ(bytes.size(), 1078 + 40 * 30);
    EXPECT_EQ(static_cast<uchar>(bytes[1078 + 5]), 0);
    EXPECT_EQ(static_cast<uchar>(bytes[1078 + 35]), 255);
    // The file is a picture any reader takes: the depth image the engine will get.
    const QImage back(QString::fromStdString(form->depthPath), "BMP");
    ASSERT_EQ(back.size(), QSize(40, 30));
    EXPECT_EQ(back.pixel(5, 5), qRgb(0, 0, 0));
    EXPECT_EQ(back.pixel(35, 5), qRgb(255, 255, 255));
}

TEST_F(TemplateTest, UpperCaseBmpIsReadAsABitmapAndOtherNamesAsJpeg) {
    const QImage picture = MakePhoto(32, 24);
    const struct {
        const char *name;
        const char *format;
        bool decodes;
    } cases[] = {
        {"SHOT.BMP", "BMP", true},
        {"shot.Bmp", "BMP", true},
        {"shot.jpeg", "JPEG", true},
        {"shot.JPG", "JPEG", true},
        {"jpeg-inside.bmp", "JPEG", false}, // a .bmp is read as a bitmap only
        {"bitmap-inside.jpg", "BMP", false}, // anything else as a JPEG only
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        const QString photo = dir.filePath(c.name);
        ASSERT_TRUE(picture.save(photo, c.format));
        exceptions.clear();
        editorOpened.clear();
        const QByteArray bytes = MakeTemplate(photo);
        if (c.decodes) {
            EXPECT_TRUE(exceptions.empty());
            EXPECT_EQ(bytes.size(), 1078 + 32 * 24);
            EXPECT_EQ(editorOpened.size(), 1u);
        } else {
            EXPECT_EQ(exceptions.size(), 1u);
            EXPECT_TRUE(bytes.isEmpty()); // nothing written
            EXPECT_TRUE(editorOpened.empty());
        }
    }
}

TEST_F(TemplateTest, APaintedDepthImageIsReplacedByAFreshTemplate) {
    const QString photo = dir.filePath("photo.jpg");
    ASSERT_TRUE(MakePhoto(32, 24).save(photo, "JPEG"));
    const QString depth = QString::fromStdString(DepthPathFor(photo.toStdString()));
    ASSERT_TRUE(WriteFile(depth, "painted"));
    const QByteArray bytes = MakeTemplate(photo);
    EXPECT_EQ(bytes.size(), 1078 + 32 * 24);
    EXPECT_TRUE(exceptions.empty());
}

TEST_F(TemplateTest, AFailedTemplateLeavesThePaintedDepthImageAlone) {
    const QString photo = dir.filePath("photo.jpg");
    ASSERT_TRUE(MakePhoto(32, 24).save(photo, "JPEG"));
    const QString depth = QString::fromStdString(DepthPathFor(photo.toStdString()));
    ASSERT_TRUE(WriteFile(depth, "painted"));
    // The photo is damaged after it was opened: nothing may be written.
    ASSERT_TRUE(WriteFile(photo, QByteArray("\xFF\xD8\xFF\xE0 not really a JPEG")));
    MakeTemplate(photo);
    EXPECT_EQ(exceptions.size(), 1u);
    EXPECT_EQ(ReadFile(depth), "painted");
    EXPECT_TRUE(editorOpened.empty());
}

TEST_F(TemplateTest, AFailedSaveIsReportedLeavesNoHalfFileAndStartsNoEditor) {
    const QString photo = dir.filePath("photo.jpg");
    ASSERT_TRUE(MakePhoto(32, 24).save(photo, "JPEG"));
    // Something that is not a file stands where the template should go.
    const QString depth = QString::fromStdString(DepthPathFor(photo.toStdString()));
    ASSERT_TRUE(QDir().mkpath(depth + "/kept"));
    const QStringList before = QDir(dir.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden);
    MakeTemplate(photo);
    ASSERT_EQ(exceptions.size(), 1u);
    EXPECT_TRUE(exceptions[0].contains("depth image")) << exceptions[0].toStdString();
    EXPECT_TRUE(editorOpened.empty());
    EXPECT_TRUE(QDir(depth + "/kept").exists());
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden), before);
}

} // namespace
} // namespace tovelle::testing
