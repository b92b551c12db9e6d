// BMP files: the 12-byte core header and the 40- to 124-byte info headers; 1, 4
// and 8 bits through a colour table, 16 and 32 bits through channel masks, 24 bits;
// rows bottom-up or top-down; RLE8 and RLE4. Every field is checked against the
// file's size before it is used: files come from anywhere.
#include <algorithm>
#include <bit>
#include <climits>
#include <cstring>

#include "platform/d3dx9/picture_codecs.h"

namespace qrv::d3dx9::codecs {
namespace {

constexpr size_t kFileHeaderSize = 14;
constexpr uint32_t kBiRgb = 0;
constexpr uint32_t kBiRle8 = 1;
constexpr uint32_t kBiRle4 = 2;
constexpr uint32_t kBiBitfields = 3;
constexpr uint32_t kBiAlphaBitfields = 6;

uint16_t U16(const uint8_t *p)
{
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}

uint32_t U32(const uint8_t *p)
{
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
           (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

// One colour channel of a 16- or 32-bit pixel, widened to 8 bits.
struct Channel {
    uint32_t mask = 0;
    int shift = 0;
    uint32_t max = 0; // largest value of the channel's bits; 0 when absent

    static bool Make(uint32_t mask, Channel *channel)
    {
        channel->mask = mask;
        if (mask == 0) {
            return true;
        }
        channel->shift = std::countr_zero(mask);
        const uint32_t bits = mask >> channel->shift;
        if ((bits & (bits + 1)) != 0) {
            return false; // not one run of bits
        }
        channel->max = bits;
        return true;
    }

    uint8_t Get(uint32_t pixel) const
    {
        if (max == 0) {
            return 0;
        }
        const uint64_t value = (pixel & mask) >> shift;
        return static_cast<uint8_t>((value * 255 + max / 2) / max);
    }
};

struct BmpLayout {
    uint32_t width = 0;
    uint32_t height = 0;
    bool topDown = false;
    uint32_t bitCount = 0;
    uint32_t compression = kBiRgb;
    Channel red, green, blue, alpha;
    uint8_t palette[256][4] = {}; // B,G,R,A; entries past the file's table are black
    size_t dataOffset = 0;
    size_t dataEnd = 0;
};

HRESULT ParseBmp(const uint8_t *b, size_t size, BmpLayout *layout)
{
    if (size < kFileHeaderSize + 12 || b[0] != 'B' || b[1] != 'M') {
        return D3DXERR_INVALIDDATA;
    }
    const uint32_t offBits = U32(b + 10);
    const uint32_t headerSize = U32(b + 14);
    if (headerSize > size - kFileHeaderSize) {
        return D3DXERR_INVALIDDATA;
    }
    const uint8_t *h = b + kFileHeaderSize;
    int64_t width = 0;
    int64_t height = 0;
    uint32_t colorsUsed = 0;
    uint32_t sizeImage = 0;
    size_t entrySize = 4;
    if (headerSize == 12) {
        width = U16(h + 4);
        height = U16(h + 6);
        layout->bitCount = U16(h + 10);
        entrySize = 3;
        if (layout->bitCount != 1 && layout->bitCount != 4 && layout->bitCount != 8 &&
            layout->bitCount != 24) {
            return D3DXERR_INVALIDDATA;
        }
    } else if (headerSize == 40 || headerSize == 52 || headerSize == 56 || headerSize == 64 ||
               headerSize == 108 || headerSize == 124) {
        width = static_cast<int32_t>(U32(h + 4));
        height = static_cast<int32_t>(U32(h + 8));
        layout->bitCount = U16(h + 14);
        layout->compression = U32(h + 16);
        sizeImage = U32(h + 20);
        colorsUsed = U32(h + 32);
        // The 64-byte header's codes 3 and 4 mean Huffman and RLE24, which are not read.
        if (headerSize == 64 && layout->compression > kBiRle4) {
            return D3DXERR_INVALIDDATA;
        }
    } else {
        return D3DXERR_INVALIDDATA;
    }
    if (width <= 0 || height == 0 || height == INT32_MIN) {
        return D3DXERR_INVALIDDATA;
    }
    layout->topDown = height < 0;
    layout->width = static_cast<uint32_t>(width);
    layout->height = static_cast<uint32_t>(height < 0 ? -height : height);

    const uint32_t bits = layout->bitCount;
    size_t tableStart = kFileHeaderSize + headerSize;
    uint32_t masks[4] = {0, 0, 0, 0};
    switch (layout->compression) {
    case kBiRgb:
        if (bits == 16) {
            masks[0] = 0x7C00;
            masks[1] = 0x03E0;
            masks[2] = 0x001F;
        } else if (bits == 32) {
            masks[0] = 0x00FF0000;
            masks[1] = 0x0000FF00;
            masks[2] = 0x000000FF;
        } else if (bits != 1 && bits != 4 && bits != 8 && bits != 24) {
            return D3DXERR_INVALIDDATA;
        }
        break;
    case kBiRle8:
    case kBiRle4:
        if (bits != (layout->compression == kBiRle8 ? 8u : 4u) || layout->topDown) {
            return D3DXERR_INVALIDDATA;
        }
        break;
    case kBiBitfields:
    case kBiAlphaBitfields: {
        if (bits != 16 && bits != 32) {
            return D3DXERR_INVALIDDATA;
        }
        if (headerSize == 40) {
            // The masks follow the header.
            const size_t count = layout->compression == kBiAlphaBitfields ? 4 : 3;
            if (count * 4 > size - tableStart) {
                return D3DXERR_INVALIDDATA;
            }
            for (size_t i = 0; i < count; ++i) {
                masks[i] = U32(b + tableStart + 4 * i);
            }
            tableStart += count * 4;
        } else if (headerSize >= 52) {
            for (size_t i = 0; i < 3; ++i) {
                masks[i] = U32(h + 40 + 4 * i);
            }
            if (headerSize >= 56) {
                masks[3] = U32(h + 52);
            }
        } else {
            return D3DXERR_INVALIDDATA;
        }
        break;
    }
    default:
        return D3DXERR_INVALIDDATA;
    }
    if (!Channel::Make(masks[0], &layout->red) || !Channel::Make(masks[1], &layout->green) ||
        !Channel::Make(masks[2], &layout->blue) || !Channel::Make(masks[3], &layout->alpha)) {
        return D3DXERR_INVALIDDATA;
    }

    size_t tableEnd = tableStart;
    for (auto &entry : layout->palette) {
        entry[3] = 0xFF;
    }
    if (bits <= 8) {
        const size_t maxEntries = size_t{1} << bits;
        size_t entries = colorsUsed != 0 ? std::min<size_t>(colorsUsed, maxEntries) : maxEntries;
        // Some writers store a shorter table than the bit count allows; the pixel
        // offset tells.
        if (offBits > tableStart) {
            const size_t room = (offBits - tableStart) / entrySize;
            if (room > 0 && room < entries) {
                entries = room;
            }
        }
        if (entries * entrySize > size - tableStart) {
            return D3DXERR_INVALIDDATA;
        }
        for (size_t i = 0; i < entries; ++i) {
            const uint8_t *e = b + tableStart + i * entrySize;
            layout->palette[i][0] = e[0];
            layout->palette[i][1] = e[1];
            layout->palette[i][2] = e[2];
        }
        tableEnd = tableStart + entries * entrySize;
    }

    layout->dataOffset = offBits != 0 ? offBits : tableEnd;
    if (layout->dataOffset < kFileHeaderSize + headerSize || layout->dataOffset > size) {
        return D3DXERR_INVALIDDATA;
    }
    layout->dataEnd = size;
    if (layout->compression == kBiRle8 || layout->compression == kBiRle4) {
        if (sizeImage != 0 && sizeImage < size - layout->dataOffset) {
            layout->dataEnd = layout->dataOffset + sizeImage;
        }
    } else {
        const uint64_t stride = (uint64_t{layout->width} * bits + 31) / 32 * 4;
        if (stride * layout->height > size - layout->dataOffset) {
            return D3DXERR_INVALIDDATA; // truncated
        }
    }
    return S_OK;
}

uint8_t *OutputRow(const BmpLayout &layout, uint8_t *dest, size_t pitch, uint32_t fileRow)
{
    const uint32_t row = layout.topDown ? fileRow : layout.height - 1 - fileRow;
    return dest + static_cast<size_t>(row) * pitch;
}

void DecodeRow(const BmpLayout &layout, const uint8_t *src, uint8_t *out)
{
    const uint32_t width = layout.width;
    switch (layout.bitCount) {
    case 1:
    case 4:
    case 8: {
        const uint32_t bits = layout.bitCount;
        const uint32_t perByte = 8 / bits;
        const uint32_t mask = (1u << bits) - 1;
        for (uint32_t x = 0; x < width; ++x) {
            const uint32_t shift = (perByte - 1 - x % perByte) * bits;
            const uint32_t index = (src[x / perByte] >> shift) & mask;
            std::memcpy(out + 4 * x, layout.palette[index], 4);
        }
        break;
    }
    case 24:
        for (uint32_t x = 0; x < width; ++x) {
            out[4 * x + 0] = src[3 * x + 0];
            out[4 * x + 1] = src[3 * x + 1];
            out[4 * x + 2] = src[3 * x + 2];
            out[4 * x + 3] = 0xFF;
        }
        break;
    case 16:
        for (uint32_t x = 0; x < width; ++x) {
            const uint32_t pixel = U16(src + 2 * x);
            out[4 * x + 0] = layout.blue.Get(pixel);
            out[4 * x + 1] = layout.green.Get(pixel);
            out[4 * x + 2] = layout.red.Get(pixel);
            out[4 * x + 3] = layout.alpha.max != 0 ? layout.alpha.Get(pixel) : 0xFF;
        }
        break;
    case 32:
        if (layout.red.mask == 0x00FF0000 && layout.green.mask == 0x0000FF00 &&
            layout.blue.mask == 0x000000FF &&
            (layout.alpha.mask == 0 || layout.alpha.mask == 0xFF000000)) {
            // The common layout is already B,G,R,A (or B,G,R,unused) in memory.
            std::memcpy(out, src, size_t{width} * 4);
            if (layout.alpha.mask == 0) {
                for (uint32_t x = 0; x < width; ++x) {
                    out[4 * x + 3] = 0xFF;
                }
            }
            break;
        }
        for (uint32_t x = 0; x < width; ++x) {
            const uint32_t pixel = U32(src + 4 * x);
            out[4 * x + 0] = layout.blue.Get(pixel);
            out[4 * x + 1] = layout.green.Get(pixel);
            out[4 * x + 2] = layout.red.Get(pixel);
            out[4 * x + 3] = layout.alpha.max != 0 ? layout.alpha.Get(pixel) : 0xFF;
        }
        break;
    default:
        break;
    }
}

// RLE8 and RLE4. Pixels the stream skips (by a delta or an early end of line or
// picture) keep colour-table entry 0. A stream that runs out before its end
// marker and before its last row is a truncated file.
HRESULT DecodeRle(const BmpLayout &layout, const uint8_t *b, uint8_t *dest, size_t pitch)
{
    const bool four = layout.compression == kBiRle4;
    for (uint32_t y = 0; y < layout.height; ++y) {
        uint8_t *row = dest + static_cast<size_t>(y) * pitch;
        for (uint32_t x = 0; x < layout.width; ++x) {
            std::memcpy(row + 4 * x, layout.palette[0], 4);
        }
    }
    const uint32_t width = layout.width;
    const uint32_t height = layout.height;
    uint32_t x = 0;
    uint32_t y = 0; // file rows, bottom first
    size_t pos = layout.dataOffset;
    const size_t end = layout.dataEnd;
    auto put = [&](uint32_t index) {
        if (x < width) {
            std::memcpy(OutputRow(layout, dest, pitch, y) + 4 * size_t{x}, layout.palette[index],
                        4);
            ++x;
        }
    };
    while (y < height) {
        if (end - pos < 2) {
            return D3DXERR_INVALIDDATA;
        }
        const uint8_t count = b[pos];
        const uint8_t value = b[pos + 1];
        pos += 2;
        if (count > 0) {
            for (uint32_t i = 0; i < count && x < width; ++i) {
                put(four ? ((i & 1) != 0 ? value & 0x0F : value >> 4) : value);
            }
            continue;
        }
        switch (value) {
        case 0: // end of line
            x = 0;
            ++y;
            break;
        case 1: // end of picture
            return S_OK;
        case 2: { // move right and up
            if (end - pos < 2) {
                return D3DXERR_INVALIDDATA;
            }
            x = std::min(width, x + b[pos]);
            y += b[pos + 1];
            pos += 2;
            break;
        }
        default: { // a literal run, padded to a 16-bit boundary
            const size_t bytes = four ? (value + 1u) / 2 : value;
            const size_t padded = (bytes + 1) & ~size_t{1};
            if (end - pos < bytes) {
                return D3DXERR_INVALIDDATA;
            }
            for (uint32_t i = 0; i < value && x < width; ++i) {
                const uint8_t byte = b[pos + (four ? i / 2 : i)];
                put(four ? ((i & 1) != 0 ? byte & 0x0F : byte >> 4) : byte);
            }
            pos += std::min(padded, end - pos);
            break;
        }
        }
    }
    return S_OK;
}

} // namespace

HRESULT ReadBmpInfo(const uint8_t *bytes, size_t size, PictureInfo *info)
{
    BmpLayout layout;
    const HRESULT hr = ParseBmp(bytes, size, &layout);
    if (FAILED(hr)) {
        return hr;
    }
    info->format = PictureFormat::Bmp;
    info->width = layout.width;
    info->height = layout.height;
    info->hasAlpha = layout.alpha.mask != 0;
    return S_OK;
}

HRESULT DecodeBmp(const uint8_t *bytes, size_t size, uint8_t *dest, size_t pitch)
{
    BmpLayout layout;
    HRESULT hr = ParseBmp(bytes, size, &layout);
    if (FAILED(hr)) {
        return hr;
    }
    if (layout.compression == kBiRle8 || layout.compression == kBiRle4) {
        hr = DecodeRle(layout, bytes, dest, pitch);
        if (FAILED(hr)) {
            return hr;
        }
    } else {
        const size_t stride = (size_t{layout.width} * layout.bitCount + 31) / 32 * 4;
        for (uint32_t r = 0; r < layout.height; ++r) {
            DecodeRow(layout, bytes + layout.dataOffset + r * stride,
                      OutputRow(layout, dest, pitch, r));
        }
    }
    if (layout.alpha.mask != 0) {
        // Many writers declare an alpha mask and leave every alpha at 0; such a
        // picture is meant to be opaque, not invisible.
        bool anyAlpha = false;
        for (uint32_t y = 0; y < layout.height && !anyAlpha; ++y) {
            const uint8_t *row = dest + static_cast<size_t>(y) * pitch;
            for (uint32_t x = 0; x < layout.width; ++x) {
                if (row[4 * x + 3] != 0) {
                    anyAlpha = true;
                    break;
                }
            }
        }
        if (!anyAlpha) {
            for (uint32_t y = 0; y < layout.height; ++y) {
                uint8_t *row = dest + static_cast<size_t>(y) * pitch;
                for (uint32_t x = 0; x < layout.width; ++x) {
                    row[4 * x + 3] = 0xFF;
                }
            }
        }
    }
    return S_OK;
}

} // namespace qrv::d3dx9::codecs
