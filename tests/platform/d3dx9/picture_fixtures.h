// Small picture files made in code for the decoder and texture tests: BMP bytes
// written field by field, JPEGs from libjpeg-turbo's compressor, PNGs from libpng.
#pragma once

#include <png.h>
#include <turbojpeg.h>

#include <array>
#include <csetjmp>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

namespace qrv::testing {

using Bytes = std::vector<uint8_t>;
using Bgra = std::array<uint8_t, 4>;

inline void PutU16(Bytes &b, size_t at, uint32_t v)
{
    b[at] = static_cast<uint8_t>(v);
    b[at + 1] = static_cast<uint8_t>(v >> 8);
}

inline void PutU32(Bytes &b, size_t at, uint32_t v)
{
    for (int i = 0; i < 4; ++i) {
        b[at + i] = static_cast<uint8_t>(v >> (8 * i));
    }
}

// Rows of pixel bytes as a BMP stores them: each padded to a multiple of 4 bytes.
inline Bytes PadRows(const std::vector<Bytes> &rows)
{
    Bytes out;
    for (const Bytes &row : rows) {
        out.insert(out.end(), row.begin(), row.end());
        out.resize((out.size() + 3) / 4 * 4, 0);
    }
    return out;
}

struct BmpSpec {
    uint32_t headerSize = 40; // 12, 40, 52, 56, 108 or 124
    int32_t width = 1;
    int32_t height = 1; // negative: top-down
    uint16_t bitCount = 24;
    uint32_t compression = 0;
    uint32_t colorsUsed = 0;
    uint32_t sizeImage = 0;
    std::vector<Bgra> palette; // 3 bytes an entry under a 12-byte header
    std::vector<uint32_t> masks; // after a 40-byte header, else inside the header
    Bytes pixels;                // exactly as stored
    std::optional<uint32_t> offBits;
};

inline Bytes MakeBmp(const BmpSpec &s)
{
    const size_t entry = s.headerSize == 12 ? 3 : 4;
    const size_t masksAfter = s.headerSize == 40 ? s.masks.size() * 4 : 0;
    const size_t dataOffset = 14 + s.headerSize + masksAfter + s.palette.size() * entry;
    Bytes b(dataOffset, 0);
    b[0] = 'B';
    b[1] = 'M';
    PutU32(b, 2, static_cast<uint32_t>(dataOffset + s.pixels.size()));
    PutU32(b, 10, s.offBits.value_or(static_cast<uint32_t>(dataOffset)));
    PutU32(b, 14, s.headerSize);
    if (s.headerSize == 12) {
        PutU16(b, 18, static_cast<uint32_t>(s.width));
        PutU16(b, 20, static_cast<uint32_t>(s.height));
        PutU16(b, 22, 1);
        PutU16(b, 24, s.bitCount);
    } else {
        PutU32(b, 18, static_cast<uint32_t>(s.width));
        PutU32(b, 22, static_cast<uint32_t>(s.height));
        PutU16(b, 26, 1);
        PutU16(b, 28, s.bitCount);
        PutU32(b, 30, s.compression);
        PutU32(b, 34, s.sizeImage);
        PutU32(b, 46, s.colorsUsed);
        for (size_t i = 0; i < s.masks.size(); ++i) {
            PutU32(b, 14 + 40 + 4 * i, s.masks[i]);
        }
    }
    size_t at = 14 + s.headerSize + masksAfter;
    for (const Bgra &e : s.palette) {
        std::memcpy(&b[at], e.data(), entry);
        at += entry;
    }
    b.insert(b.end(), s.pixels.begin(), s.pixels.end());
    return b;
}

// A JPEG of B,G,R,X pixels. subsampling is a TJSAMP_ value; flags may hold
// TJFLAG_PROGRESSIVE.
inline Bytes MakeJpeg(const Bytes &bgrx, int width, int height, int subsampling, int quality,
                      int flags = 0)
{
    tjhandle handle = tjInitCompress();
    unsigned char *jpeg = nullptr;
    unsigned long size = 0;
    const int rc = tjCompress2(handle, bgrx.data(), width, 0, height, TJPF_BGRX, &jpeg, &size,
                               subsampling, quality, flags | TJFLAG_ACCURATEDCT);
    Bytes out;
    if (rc == 0) {
        out.assign(jpeg, jpeg + size);
    }
    tjFree(jpeg);
    tjDestroy(handle);
    return out;
}

struct PngSpec {
    uint32_t width = 1;
    uint32_t height = 1;
    int colorType = PNG_COLOR_TYPE_RGB;
    int bitDepth = 8;
    bool interlaced = false;
    std::vector<Bytes> rows; // packed as the PNG stores them (16-bit big-endian)
    std::vector<png_color> palette;
    Bytes transparency; // tRNS alpha per palette entry
};

namespace detail {
inline void AppendPng(png_structp png, png_bytep data, png_size_t length)
{
    auto *out = static_cast<Bytes *>(png_get_io_ptr(png));
    out->insert(out->end(), data, data + length);
}
inline void FlushPng(png_structp) {}
} // namespace detail

// Written with libpng's full interface, which (unlike its simplified one) can make
// every bit depth and colour type.
inline Bytes MakePng(const PngSpec &s)
{
    Bytes out;
    std::vector<png_bytep> rowPointers;
    for (const Bytes &row : s.rows) {
        rowPointers.push_back(const_cast<png_bytep>(row.data()));
    }
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        out.clear();
        return out;
    }
    png_set_write_fn(png, &out, detail::AppendPng, detail::FlushPng);
    png_set_IHDR(png, info, s.width, s.height, s.bitDepth, s.colorType,
                 s.interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    if (!s.palette.empty()) {
        png_set_PLTE(png, info, s.palette.data(), static_cast<int>(s.palette.size()));
    }
    if (!s.transparency.empty()) {
        png_set_tRNS(png, info, s.transparency.data(), static_cast<int>(s.transparency.size()),
                     nullptr);
    }
    png_write_info(png, info);
    png_write_image(png, rowPointers.data());
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return out;
}

inline void WriteFile(const std::string &path, const Bytes &bytes)
{
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(reinterpret_cast<const char *>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
}

} // namespace qrv::testing
