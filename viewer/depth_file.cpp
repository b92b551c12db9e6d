#include "depth_file.h"

#include <QFile>
#include <QImageReader>
#include <QSaveFile>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <memory>
#include <numeric>
#include <stdexcept>
#include <vector>

namespace tovelle {

namespace {

constexpr size_t kFileHeaderSize = 14;
constexpr size_t kInfoHeaderSize = 40;
constexpr size_t kTableEntries = 256;
constexpr size_t kPixelOffset = kFileHeaderSize + kInfoHeaderSize + 4 * kTableEntries; // 1078

struct FileCloser {
    void operator()(std::FILE *file) const { std::fclose(file); }
};

void PutLe16(QByteArray &out, size_t at, uint16_t value) {
    out[static_cast<qsizetype>(at)] = static_cast<char>(value & 0xFF);
    out[static_cast<qsizetype>(at + 1)] = static_cast<char>(value >> 8);
}

void PutLe32(QByteArray &out, size_t at, uint32_t value) {
    for (size_t i = 0; i < 4; ++i) {
        out[static_cast<qsizetype>(at + i)] = static_cast<char>((value >> (8 * i)) & 0xFF);
    }
}

bool IsUtf8Continuation(char byte) { return (static_cast<unsigned char>(byte) & 0xC0) == 0x80; }

} // namespace

std::string DepthPathFor(const std::string &photoPath) {
    const size_t slash = photoPath.rfind('/');
    const size_t nameStart = slash == std::string::npos ? 0 : slash + 1;
    size_t cut = photoPath.size();
    for (int characters = 0; characters < 4 && cut > nameStart; ++characters) {
        --cut;
        while (cut > nameStart && IsUtf8Continuation(photoPath[cut])) --cut;
    }
    return photoPath.substr(0, cut) + "_.bmp";
}

HGLOBAL ReadPackedDib(const std::string &depthPath) {
    std::unique_ptr<std::FILE, FileCloser> file(std::fopen(depthPath.c_str(), "rb"));
    if (!file) return nullptr;
    // bfSize, the reserved words and bfOffBits; only bfSize is used.
    unsigned char header[12];
    if (std::fseek(file.get(), 2, SEEK_SET) != 0) return nullptr;
    if (std::fread(header, 1, sizeof header, file.get()) < 4) return nullptr;
    const uint32_t bfSize = uint32_t{header[0]} | uint32_t{header[1]} << 8 |
                            uint32_t{header[2]} << 16 | uint32_t{header[3]} << 24;
    if (bfSize <= kFileHeaderSize) return nullptr;
    const size_t bytes = bfSize - kFileHeaderSize;

    // Zero-filled, so a file shorter than its header says leaves zeros behind
    // instead of whatever the memory held before.
    HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, bytes);
    if (!block) return nullptr;
    void *data = GlobalLock(block);
    if (!data) {
        GlobalFree(block);
        return nullptr;
    }
    if (std::fseek(file.get(), static_cast<long>(kFileHeaderSize), SEEK_SET) == 0) {
        (void)std::fread(data, 1, bytes, file.get());
    }
    GlobalUnlock(block);
    return block;
}

QImage LoadPhoto(const std::string &photoPath) {
    const QString path = QFile::decodeName(QByteArray::fromStdString(photoPath));
    // The extension runs from the last dot of the file name, dot included.
    const size_t slash = photoPath.rfind('/');
    const size_t dot = photoPath.rfind('.');
    QByteArray extension;
    if (dot != std::string::npos && (slash == std::string::npos || dot > slash)) {
        extension = QByteArray::fromStdString(photoPath.substr(dot));
    }
    const bool bitmap = QString::fromUtf8(extension).toLower() == QLatin1String(".bmp");

    QImageReader reader(path, bitmap ? QByteArray("bmp") : QByteArray("jpeg"));
    reader.setAutoDetectImageFormat(false); // the extension alone decides
    reader.setDecideFormatFromContent(false);
    reader.setAutoTransform(false); // the relief is built in the file's own orientation
    QImage picture = reader.read();
    if (picture.isNull()) {
        throw std::runtime_error("Cannot read the photo \"" + photoPath + "\" as " +
                                 (bitmap ? "a bitmap" : "a JPEG") + ": " +
                                 reader.errorString().toStdString());
    }
    return picture;
}

QImage ConvertTo8Bit(const QImage &picture) {
    // Nearest colours without error diffusion: a dithered template would be a
    // speckled, bumpy relief.
    const QImage rgb = picture.convertToFormat(QImage::Format_RGB32);
    const QImage indexed = rgb.convertToFormat(
        QImage::Format_Indexed8, Qt::ColorOnly | Qt::ThresholdDither | Qt::AvoidDither);
    if (indexed.isNull()) throw std::runtime_error("Not enough memory to convert the photo");

    const QList<QRgb> table = indexed.colorTable();
    const int used = static_cast<int>(table.size());
    std::vector<int> order(static_cast<size_t>(used));
    std::iota(order.begin(), order.end(), 0);
    std::stable_sort(order.begin(), order.end(),
                     [&](int a, int b) { return qGray(table[a]) < qGray(table[b]); });

    // Darkest at 0, brightest at 255, the rest spread evenly in between.
    std::array<uchar, 256> newIndex{};
    QList<QRgb> newTable(static_cast<qsizetype>(kTableEntries), qRgb(0, 0, 0));
    for (int rank = 0; rank < used; ++rank) {
        const int slot = used > 1 ? rank * 255 / (used - 1) : 0;
        newIndex[static_cast<size_t>(order[static_cast<size_t>(rank)])] = static_cast<uchar>(slot);
        newTable[slot] = table[order[static_cast<size_t>(rank)]];
    }

    QImage result(indexed.size(), QImage::Format_Indexed8);
    if (result.isNull()) throw std::runtime_error("Not enough memory to convert the photo");
    result.setColorTable(newTable);
    for (int y = 0; y < indexed.height(); ++y) {
        const uchar *from = indexed.constScanLine(y);
        uchar *to = result.scanLine(y);
        for (int x = 0; x < indexed.width(); ++x) to[x] = newIndex[from[x]];
    }
    return result;
}

QByteArray EncodeBmp8(const QImage &indexed8) {
    if (indexed8.format() != QImage::Format_Indexed8 || indexed8.isNull()) {
        throw std::invalid_argument("EncodeBmp8 needs an 8-bit picture");
    }
    const uint64_t width = static_cast<uint64_t>(indexed8.width());
    const uint64_t height = static_cast<uint64_t>(indexed8.height());
    const uint64_t stride = (width + 3) & ~uint64_t{3};
    const uint64_t fileSize = kPixelOffset + stride * height;
    if (fileSize > UINT32_MAX) throw std::runtime_error("The picture is too large for a BMP file");

    QByteArray out(static_cast<qsizetype>(fileSize), '\0');
    out[0] = 'B';
    out[1] = 'M';
    PutLe32(out, 2, static_cast<uint32_t>(fileSize));
    PutLe32(out, 10, kPixelOffset);
    PutLe32(out, 14, kInfoHeaderSize);
    PutLe32(out, 18, static_cast<uint32_t>(width));
    PutLe32(out, 22, static_cast<uint32_t>(height)); // positive: rows bottom-up
    PutLe16(out, 26, 1);                              // planes
    PutLe16(out, 28, 8);                              // bits per pixel
    PutLe32(out, 30, 0);                              // BI_RGB
    PutLe32(out, 34, static_cast<uint32_t>(stride * height));
    PutLe32(out, 38, 3780); // 96 dots per inch
    PutLe32(out, 42, 3780);
    PutLe32(out, 46, kTableEntries);
    PutLe32(out, 50, 0);

    const QList<QRgb> table = indexed8.colorTable();
    for (size_t i = 0; i < kTableEntries; ++i) {
        const QRgb colour = i < static_cast<size_t>(table.size()) ? table[static_cast<qsizetype>(i)] : 0;
        const size_t at = kFileHeaderSize + kInfoHeaderSize + 4 * i;
        out[static_cast<qsizetype>(at)] = static_cast<char>(qBlue(colour));
        out[static_cast<qsizetype>(at + 1)] = static_cast<char>(qGreen(colour));
        out[static_cast<qsizetype>(at + 2)] = static_cast<char>(qRed(colour));
    }
    char *pixels = out.data() + kPixelOffset;
    for (uint64_t row = 0; row < height; ++row) {
        const int y = static_cast<int>(height - 1 - row);
        std::memcpy(pixels + row * stride, indexed8.constScanLine(y), static_cast<size_t>(width));
    }
    return out;
}

bool PatchGreyRamp(QIODevice &file) {
    if (!file.seek(46)) return false;
    const char zeros[8] = {};
    if (file.write(zeros, sizeof zeros) != sizeof zeros) return false;
    char ramp[4 * kTableEntries];
    for (size_t i = 0; i < kTableEntries; ++i) {
        ramp[4 * i] = ramp[4 * i + 1] = ramp[4 * i + 2] = static_cast<char>(i);
        ramp[4 * i + 3] = 0;
    }
    return file.write(ramp, sizeof ramp) == sizeof ramp;
}

void WriteDepthTemplate(const QImage &indexed8, const std::string &depthPath) {
    const QByteArray bytes = EncodeBmp8(indexed8);
    QSaveFile file(QFile::decodeName(QByteArray::fromStdString(depthPath)));
    auto fail = [&](const QString &why) {
        throw std::runtime_error("Cannot save the depth image \"" + depthPath + "\": " + why.toStdString());
    };
    if (!file.open(QIODevice::WriteOnly)) fail(file.errorString());
    if (file.write(bytes) != bytes.size()) fail(file.errorString());
    // The colour table becomes the grey ramp in the same temporary file, so the
    // file that appears under depthPath is always the finished template.
    if (!PatchGreyRamp(file)) fail(file.errorString());
    if (!file.commit()) fail(file.errorString());
}

} // namespace tovelle
