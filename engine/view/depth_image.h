// A depth image handed over as a PackedDib: a movable memory block holding a BMP
// file's bytes after its 14-byte file header (BITMAPINFOHEADER, colour table,
// pixel rows). Every read is bounded by the block's size.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "packed_dib_reader.h"
#include "qrv.h"

namespace qrv {

class DepthImage {
public:
    // Locks the block for the lifetime of this object. A null or unlockable block,
    // one too short for its header and colour table, and a kind of image that is
    // not read (compressed, 16 bits per pixel, an unknown header) leave valid()
    // false: the caller then builds as if no depth image had been given.
    explicit DepthImage(HGLOBAL block);
    DepthImage(const DepthImage &) = delete;
    DepthImage &operator=(const DepthImage &) = delete;

    bool valid() const { return dib_.valid(); }
    int32_t width() const { return dib_.width(); }   // > 0 when valid
    int32_t height() const { return dib_.height(); } // > 0 when valid; top-down images too

    // The grey level 0..255 of every pixel of one row into grey[0 .. width()).
    // memoryRow 0 is the bottom row of the picture whatever the file's row order.
    // Paletted images take the average of blue, green and red of the pixel's
    // colour-table entry (an index past the table reads as black), 24- and 32-bit
    // images the average of the pixel's own blue, green and red. Bytes past the end
    // of the block read as zero.
    void GreyRow(int32_t memoryRow, uint8_t *grey) const;

    // The same row with each grey level mapped through valueOfGrey, into
    // out[0 .. width()): one table lookup a pixel for 8-bit images.
    void MapRow(int32_t memoryRow, const float (&valueOfGrey)[256], float *out) const;

    // The 8-bit layout the engine has always read directly: 8 bits per pixel, a
    // 40-byte header, a full 256-entry table and bottom-up rows. Then pixels(),
    // colourTable() and rowStride() may be used with SampleDepth.
    bool isPlain8Bit() const { return plain8Bit_; }
    const uint8_t *pixels() const { return dib_.pixels(); }
    const uint8_t *colourTable() const { return dib_.table(); }
    int32_t rowStride() const { return static_cast<int32_t>(dib_.stride()); }

private:
    PackedDibReader dib_; // rows may run past the block's end
    bool plain8Bit_ = false;
    uint8_t greyOfIndex_[256] = {};
    // valueOfGrey through the colour table, for the last table MapRow was given.
    mutable const float *mappedTable_ = nullptr;
    mutable float valueOfIndex_[256] = {};
    mutable std::vector<uint8_t> scratch_;
};

} // namespace qrv
