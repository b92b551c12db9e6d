#include "view/depth_image.h"

#include <algorithm>
#include <cstring>

namespace qrv {

namespace {

uint32_t U32(const uint8_t *p) {
    uint32_t v;
    std::memcpy(&v, p, 4);
    return v; // little-endian hosts only, as the block's layout is
}
int32_t I32(const uint8_t *p) {
    int32_t v;
    std::memcpy(&v, p, 4);
    return v;
}
uint16_t U16(const uint8_t *p) {
    uint16_t v;
    std::memcpy(&v, p, 2);
    return v;
}

constexpr size_t kInfoHeaderSize = 40;
constexpr uint32_t kBiRgb = 0;

} // namespace

DepthImage::DepthImage(HGLOBAL block) : block_(block) {
    if (!block) return;
    void *locked = GlobalLock(block);
    if (!locked) return;
    locked_ = true;
    data_ = static_cast<const uint8_t *>(locked);
    size_ = GlobalSize(block);
    if (size_ < kInfoHeaderSize) return;

    const uint32_t headerSize = U32(data_);
    const int32_t width = I32(data_ + 4);
    const int32_t height = I32(data_ + 8);
    const uint16_t bitCount = U16(data_ + 14);
    const uint32_t compression = U32(data_ + 16);
    const uint32_t colorsUsed = U32(data_ + 32);

    // Only Windows info headers (40 bytes and the longer V4/V5 ones) describe the
    // layout read here; the colour table follows the header, whatever its length.
    if (headerSize < kInfoHeaderSize || headerSize > size_) return;
    if (compression != kBiRgb) return;
    if (bitCount != 1 && bitCount != 4 && bitCount != 8 && bitCount != 24 && bitCount != 32) return;
    if (width <= 0 || height == 0 || height == INT32_MIN) return;

    // A paletted image has 1 << bitCount entries unless the header names fewer; an
    // image of more bits may carry an optional table that the pixels follow.
    uint64_t entries;
    if (bitCount <= 8) {
        const uint32_t full = 1u << bitCount;
        entries = (colorsUsed != 0 && colorsUsed < full) ? colorsUsed : full;
    } else {
        entries = colorsUsed;
    }
    const uint64_t pixelOffset = uint64_t{headerSize} + 4 * entries;
    if (pixelOffset > size_) return; // too short for its header and colour table

    width_ = width;
    height_ = height < 0 ? -height : height;
    topDown_ = height < 0;
    bitCount_ = bitCount;
    table_ = data_ + headerSize;
    pixelOffset_ = static_cast<size_t>(pixelOffset);
    pixels_ = data_ + pixelOffset_;
    stride_ =
        static_cast<size_t>((uint64_t{static_cast<uint32_t>(width)} * bitCount + 31) / 32 * 4);

    if (bitCount <= 8) {
        for (uint64_t i = 0; i < entries; ++i) {
            const uint8_t *entry = table_ + 4 * i;
            greyOfIndex_[i] = static_cast<uint8_t>((entry[0] + entry[1] + entry[2]) / 3);
        }
    }
    const uint64_t pixelBytes = uint64_t{stride_} * static_cast<uint64_t>(height_);
    plain8Bit_ = bitCount == 8 && headerSize == kInfoHeaderSize && entries == 256 && !topDown_ &&
                 pixelBytes <= size_ - pixelOffset_;
    valid_ = true;
}

DepthImage::~DepthImage() {
    if (locked_) GlobalUnlock(block_);
}

void DepthImage::GreyRow(int32_t memoryRow, uint8_t *grey) const {
    if (!valid_ || memoryRow < 0 || memoryRow >= height_) return;
    const int32_t fileRow = topDown_ ? height_ - 1 - memoryRow : memoryRow;
    const uint64_t start = pixelOffset_ + uint64_t{stride_} * static_cast<uint64_t>(fileRow);
    const uint64_t available = start < size_ ? size_ - start : 0;
    const uint8_t *row = data_ + (start < size_ ? start : size_);
    // Reads one byte of the row, zero past the block's end.
    auto at = [&](uint64_t offset) -> unsigned { return offset < available ? row[offset] : 0u; };

    const int32_t w = width_;
    switch (bitCount_) {
    case 8:
        if (available >= static_cast<uint64_t>(w)) {
            for (int32_t c = 0; c < w; ++c) grey[c] = greyOfIndex_[row[c]];
        } else {
            for (int32_t c = 0; c < w; ++c) grey[c] = greyOfIndex_[at(static_cast<uint64_t>(c))];
        }
        break;
    case 4:
        for (int32_t c = 0; c < w; ++c) {
            const unsigned byte = at(static_cast<uint64_t>(c) / 2);
            grey[c] = greyOfIndex_[(c & 1) ? (byte & 0x0F) : (byte >> 4)];
        }
        break;
    case 1:
        for (int32_t c = 0; c < w; ++c) {
            const unsigned byte = at(static_cast<uint64_t>(c) / 8);
            grey[c] = greyOfIndex_[(byte >> (7 - (c & 7))) & 1u];
        }
        break;
    case 24:
    case 32: {
        const uint64_t step = bitCount_ / 8;
        if (available >= step * static_cast<uint64_t>(w)) {
            const uint8_t *p = row;
            for (int32_t c = 0; c < w; ++c, p += step)
                grey[c] = static_cast<uint8_t>((p[0] + p[1] + p[2]) / 3);
        } else {
            for (int32_t c = 0; c < w; ++c) {
                const uint64_t o = step * static_cast<uint64_t>(c);
                grey[c] = static_cast<uint8_t>((at(o) + at(o + 1) + at(o + 2)) / 3);
            }
        }
        break;
    }
    default:
        break;
    }
}

void DepthImage::MapRow(int32_t memoryRow, const float (&valueOfGrey)[256], float *out) const {
    if (!valid_ || memoryRow < 0 || memoryRow >= height_) return;
    if (bitCount_ == 8) {
        const int32_t fileRow = topDown_ ? height_ - 1 - memoryRow : memoryRow;
        const uint64_t start = pixelOffset_ + uint64_t{stride_} * static_cast<uint64_t>(fileRow);
        if (start <= size_ && size_ - start >= static_cast<uint64_t>(width_)) {
            if (mappedTable_ != valueOfGrey) {
                for (int i = 0; i < 256; ++i) valueOfIndex_[i] = valueOfGrey[greyOfIndex_[i]];
                mappedTable_ = valueOfGrey;
            }
            const uint8_t *row = data_ + start;
            for (int32_t c = 0; c < width_; ++c) out[c] = valueOfIndex_[row[c]];
            return;
        }
    }
    // Other depths, and rows cut off by the block's end.
    scratch_.resize(static_cast<size_t>(width_));
    GreyRow(memoryRow, scratch_.data());
    for (int32_t c = 0; c < width_; ++c) out[c] = valueOfGrey[scratch_[static_cast<size_t>(c)]];
}

} // namespace qrv
