// Small pictures made in code: PackedDib blocks of depth images, and photo files.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include <unistd.h>

#include "qrv.h"

namespace qrv::testing {

inline void Put16(std::vector<uint8_t> &out, size_t at, uint16_t v) {
    out[at] = static_cast<uint8_t>(v);
    out[at + 1] = static_cast<uint8_t>(v >> 8);
}
inline void Put32(std::vector<uint8_t> &out, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i)
        out[at + static_cast<size_t>(i)] = static_cast<uint8_t>(v >> (8 * i));
}

// The bytes of a BMP file's info header, colour table and rows (a PackedDib's
// contents). pixel(column, pictureRow) gives the stored value: a table index for
// 1, 4 and 8 bits, a grey level (written as B = G = R) for 24 and 32 bits.
// pictureRow 0 is the top of the picture. Rows are stored bottom-up unless
// topDown; table is the colour table (BGRX per entry), written as given.
struct DibSpec {
    int32_t width = 1;
    int32_t height = 1;
    uint16_t bitCount = 8;
    std::vector<uint32_t> table; // 0x00RRGGBB per entry
    std::function<unsigned(int, int)> pixel = [](int, int) { return 0u; };
    bool topDown = false;
    uint32_t headerSize = 40;
    uint32_t colorsUsed = 0;
    uint32_t compression = 0;
};

// A grey ramp: entry i is (i, i, i), as the viewer's template has it.
inline std::vector<uint32_t> GreyRamp(int entries = 256) {
    std::vector<uint32_t> table;
    for (int i = 0; i < entries; ++i) table.push_back(static_cast<uint32_t>(i) * 0x010101u);
    return table;
}

inline std::vector<uint8_t> DibBytes(const DibSpec &spec) {
    const size_t stride = (static_cast<size_t>(spec.width) * spec.bitCount + 31) / 32 * 4;
    const size_t tableBytes = spec.table.size() * 4;
    std::vector<uint8_t> out(spec.headerSize + tableBytes +
                             stride * static_cast<size_t>(spec.height));
    Put32(out, 0, spec.headerSize);
    Put32(out, 4, static_cast<uint32_t>(spec.width));
    Put32(out, 8, static_cast<uint32_t>(spec.topDown ? -spec.height : spec.height));
    Put16(out, 12, 1);
    Put16(out, 14, spec.bitCount);
    Put32(out, 16, spec.compression);
    Put32(out, 32, spec.colorsUsed);
    for (size_t i = 0; i < spec.table.size(); ++i)
        Put32(out, spec.headerSize + 4 * i, spec.table[i]);
    uint8_t *pixels = out.data() + spec.headerSize + tableBytes;
    for (int pr = 0; pr < spec.height; ++pr) {
        const int fileRow = spec.topDown ? pr : spec.height - 1 - pr;
        uint8_t *row = pixels + stride * static_cast<size_t>(fileRow);
        for (int c = 0; c < spec.width; ++c) {
            const unsigned v = spec.pixel(c, pr);
            switch (spec.bitCount) {
            case 1:
                row[c / 8] |= static_cast<uint8_t>((v & 1u) << (7 - c % 8));
                break;
            case 4:
                row[c / 2] |= static_cast<uint8_t>((v & 15u) << ((c % 2) ? 0 : 4));
                break;
            case 8:
                row[c] = static_cast<uint8_t>(v);
                break;
            default: {
                uint8_t *p = row + static_cast<size_t>(c) * (spec.bitCount / 8);
                p[0] = p[1] = p[2] = static_cast<uint8_t>(v);
                break;
            }
            }
        }
    }
    return out;
}

// A movable block holding bytes, freed with the object.
class Block {
public:
    explicit Block(const std::vector<uint8_t> &bytes) {
        handle_ = GlobalAlloc(GMEM_MOVEABLE, bytes.size());
        if (handle_ && !bytes.empty()) {
            void *p = GlobalLock(handle_);
            std::memcpy(p, bytes.data(), bytes.size());
            GlobalUnlock(handle_);
        }
    }
    ~Block() {
        if (handle_) GlobalFree(handle_);
    }
    Block(const Block &) = delete;
    Block &operator=(const Block &) = delete;
    HGLOBAL get() const { return handle_; }

private:
    HGLOBAL handle_ = nullptr;
};

// An 8-bit depth image with a grey-ramp table whose pixel is grey(column, row).
inline std::vector<uint8_t> GreyDib(int width, int height, std::function<unsigned(int, int)> grey) {
    DibSpec spec;
    spec.width = width;
    spec.height = height;
    spec.table = GreyRamp();
    spec.pixel = std::move(grey);
    return DibBytes(spec);
}

// A whole BMP file of a PackedDib's bytes: the file header, with the offset of
// the pixels as given (0 leaves it unset), then the bytes.
inline std::vector<uint8_t> BmpFile(const std::vector<uint8_t> &dib, uint32_t pixelOffset = 0) {
    std::vector<uint8_t> file(14 + dib.size());
    file[0] = 'B';
    file[1] = 'M';
    Put32(file, 2, static_cast<uint32_t>(file.size()));
    Put32(file, 10, pixelOffset);
    std::memcpy(file.data() + 14, dib.data(), dib.size());
    return file;
}

// The PackedDib bytes (24 bits) of a picture given as 0xRRGGBB per pixel;
// pictureRow 0 is the top of the picture.
inline std::vector<uint8_t> Rgb24Dib(int width, int height, const std::function<uint32_t(int, int)> &rgb) {
    DibSpec spec;
    spec.width = width;
    spec.height = height;
    spec.bitCount = 24;
    std::vector<uint8_t> dib = DibBytes(spec);
    const size_t stride = (static_cast<size_t>(width) * 24 + 31) / 32 * 4;
    for (int pr = 0; pr < height; ++pr)
        for (int c = 0; c < width; ++c) {
            uint8_t *p = dib.data() + 40 + stride * static_cast<size_t>(height - 1 - pr) +
                         static_cast<size_t>(c) * 3;
            const uint32_t v = rgb(c, pr);
            p[0] = static_cast<uint8_t>(v);
            p[1] = static_cast<uint8_t>(v >> 8);
            p[2] = static_cast<uint8_t>(v >> 16);
        }
    return dib;
}

// A whole BMP file (24 bits) of a picture given as 0xRRGGBB per pixel.
inline std::vector<uint8_t> Bmp24File(int width, int height,
                                      const std::function<uint32_t(int, int)> &rgb) {
    return BmpFile(Rgb24Dib(width, height, rgb), 54);
}

// A folder of its own under the system's temporary folder, removed with the object.
class TempDir {
public:
    TempDir() {
        std::string pattern = (std::filesystem::temp_directory_path() / "qrv-view-XXXXXX").string();
        if (mkdtemp(pattern.data())) path_ = pattern;
    }
    ~TempDir() {
        std::error_code ignored;
        if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
    }
    TempDir(const TempDir &) = delete;
    TempDir &operator=(const TempDir &) = delete;

    std::string Write(const std::string &name, const std::vector<uint8_t> &bytes) const {
        const std::string path = (std::filesystem::path(path_) / name).string();
        if (FILE *f = std::fopen(path.c_str(), "wb")) {
            if (!bytes.empty()) std::fwrite(bytes.data(), 1, bytes.size(), f);
            std::fclose(f);
        }
        return path;
    }
    std::string Path(const std::string &name) const {
        return (std::filesystem::path(path_) / name).string();
    }

private:
    std::string path_;
};

} // namespace qrv::testing
