// The layout of a PackedDib: a movable memory block holding a BMP file's bytes
// after its 14-byte file header (BITMAPINFOHEADER, colour table, pixel rows).
// Both engines read their pictures through this; every offset it hands out has
// been checked against the block's size.
#pragma once

#include <cstddef>
#include <cstdint>

#include "qrv.h"

namespace qrv {

// Whether a picture whose pixel rows run past the end of the block is read.
enum class DibRows {
    MustFit,   // such a picture is not valid: every row lies inside the block
    MayBeCut,  // it is valid; the reader must bound each row read by size()
};

// Locks the block for the lifetime of this object and reads its header.
// Uncompressed Windows info headers (40 bytes, or the longer V4 and V5 ones)
// of 1, 4, 8, 24 and 32 bits per pixel are read, bottom-up or top-down. A null
// or unlockable block, one too short for its header or colour table (or, with
// DibRows::MustFit, its pixel rows), and any other kind of picture leave
// valid() false.
class PackedDibReader {
public:
    PackedDibReader(HGLOBAL block, DibRows rows);
    ~PackedDibReader();
    PackedDibReader(const PackedDibReader &) = delete;
    PackedDibReader &operator=(const PackedDibReader &) = delete;

    bool valid() const { return valid_; }
    int32_t width() const { return width_; }   // > 0 when valid
    int32_t height() const { return height_; } // > 0 when valid; top-down pictures too
    bool topDown() const { return topDown_; }
    uint16_t bitCount() const { return bitCount_; }
    uint32_t headerSize() const { return headerSize_; }

    // The colour table: tableEntries() entries of blue, green, red and a spare
    // byte. Paletted pictures have 1 << bitCount entries unless the header names
    // fewer; pictures of more bits may carry an optional table the pixels follow.
    const uint8_t *table() const { return valid_ ? data_ + headerSize_ : nullptr; }
    uint32_t tableEntries() const { return tableEntries_; }

    // The whole block, and where the pixel rows start inside it.
    const uint8_t *data() const { return data_; }
    size_t size() const { return size_; }
    size_t pixelOffset() const { return pixelOffset_; }
    const uint8_t *pixels() const { return valid_ ? data_ + pixelOffset_ : nullptr; }
    size_t stride() const { return stride_; } // bytes a row, a multiple of 4

    // The offset in the block of memory row `memoryRow` (0 is the bottom of the
    // picture whatever the file's row order), 0 <= memoryRow < height(). With
    // DibRows::MayBeCut it may lie at or past size().
    uint64_t RowOffset(int32_t memoryRow) const {
        const int32_t fileRow = topDown_ ? height_ - 1 - memoryRow : memoryRow;
        return pixelOffset_ + uint64_t{stride_} * static_cast<uint64_t>(fileRow);
    }

private:
    HGLOBAL block_ = nullptr;
    const uint8_t *data_ = nullptr;
    size_t size_ = 0;
    bool locked_ = false;
    bool valid_ = false;
    bool topDown_ = false;
    int32_t width_ = 0;
    int32_t height_ = 0;
    uint16_t bitCount_ = 0;
    uint32_t headerSize_ = 0;
    uint32_t tableEntries_ = 0;
    size_t pixelOffset_ = 0;
    size_t stride_ = 0;
};

} // namespace qrv
