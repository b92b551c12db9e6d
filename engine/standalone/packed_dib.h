// The pictures the StandaloneEngine builds its mesh from, handed over as
// PackedDibs (a BMP file's bytes after the 14-byte file header, in a movable
// memory block). Every read stays inside the block.
#pragma once

#include <cstddef>
#include <cstdint>

#include "packed_dib_reader.h"
#include "qrv.h"

namespace qrv::standalone {

// A locked PackedDib, read pixel by pixel as colours. Uncompressed pictures of
// 1, 4, 8, 24 and 32 bits per pixel are read, bottom-up or top-down: paletted
// pixels through their colour-table entry (an index past the table reads as
// black), the others from their own blue, green and red bytes. Anything else, a
// block too short for its header, colour table or pixel rows, or a block that
// cannot be locked leaves valid() false: the picture counts as not given.
class PackedDib {
public:
    explicit PackedDib(HGLOBAL block);
    PackedDib(const PackedDib &) = delete;
    PackedDib &operator=(const PackedDib &) = delete;

    bool valid() const { return dib_.valid(); }
    int32_t width() const { return dib_.width(); }   // > 0 when valid
    int32_t height() const { return dib_.height(); } // > 0 when valid
    uint16_t bitCount() const { return dib_.bitCount(); }

    // 0xRRGGBB of the pixel at memory row `row` (0 is the bottom of the picture)
    // and column `column`, both inside the picture.
    uint32_t Rgb(int32_t row, int32_t column) const;

private:
    PackedDibReader dib_; // every row inside the block
    uint32_t table_[256] = {}; // 0xRRGGBB of each colour-table entry
};

} // namespace qrv::standalone
