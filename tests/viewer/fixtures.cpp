#include "fixtures.h"

#include <QFile>

namespace tovelle::testing {

QImage MakePhoto(int width, int height) {
    QImage image(width, height, QImage::Format_RGB32);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const bool right = x >= width / 2;
            const bool bottom = y >= height / 2;
            int r = right ? 230 : 40, g = bottom ? 200 : 60, b = (right != bottom) ? 50 : 180;
            const int shade = (x * 37 / width + y * 23 / height) - 30;
            image.setPixel(x, y, qRgb(qBound(0, r + shade, 255), qBound(0, g + shade, 255),
                                      qBound(0, b - shade, 255)));
        }
    }
    return image;
}

QImage MakeDepth(int width, int height, int (*depthAt)(int x, int y)) {
    QImage image(width, height, QImage::Format_Indexed8);
    QList<QRgb> ramp;
    for (int i = 0; i < 256; ++i) ramp << qRgb(i, i, i);
    image.setColorTable(ramp);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) image.scanLine(y)[x] = static_cast<uchar>(depthAt(x, y));
    }
    return image;
}

bool WriteFile(const QString &path, const QByteArray &bytes) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

QByteArray ReadFile(const QString &path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

uint32_t Le32(const QByteArray &bytes, int offset) {
    uint32_t value = 0;
    for (int i = 3; i >= 0; --i) value = value << 8 | static_cast<uchar>(bytes.at(offset + i));
    return value;
}

} // namespace tovelle::testing
