#include "packed_dib_reader.h"

#include <cstring>

namespace qrv {

namespace {

uint32_t U32(const uint8_t *p) {
    uint32_t v;
    std::memcpy(&v, p, 4);
    return v; // the block is little-endian, as the hosts are
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

PackedDibReader::PackedDibReader(HGLOBAL block, DibRows rowsRule) : block_(block) {
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

    // Only Windows info headers describe the layout read here; the colour table
    // follows the header, whatever its length.
    if (headerSize < kInfoHeaderSize || headerSize > size_) return;
    if (compression != kBiRgb) return;
    if (bitCount != 1 && bitCount != 4 && bitCount != 8 && bitCount != 24 && bitCount != 32)
        return;
    if (width <= 0 || height == 0 || height == INT32_MIN) return;

    uint32_t entries = colorsUsed;
    if (bitCount <= 8) {
        const uint32_t full = 1u << bitCount;
        entries = (colorsUsed != 0 && colorsUsed < full) ? colorsUsed : full;
    }
    const uint64_t pixelOffset = uint64_t{headerSize} + 4 * uint64_t{entries};
    if (pixelOffset > size_) return; // too short for its header and colour table
    const uint64_t stride = (uint64_t{static_cast<uint32_t>(width)} * bitCount + 31) / 32 * 4;
    const uint64_t rows = height < 0 ? -static_cast<int64_t>(height) : height;
    if (rowsRule == DibRows::MustFit && stride * rows > size_ - pixelOffset) return;

    width_ = width;
    height_ = static_cast<int32_t>(rows);
    topDown_ = height < 0;
    bitCount_ = bitCount;
    headerSize_ = headerSize;
    tableEntries_ = entries;
    pixelOffset_ = static_cast<size_t>(pixelOffset);
    stride_ = static_cast<size_t>(stride);
    valid_ = true;
}

PackedDibReader::~PackedDibReader() {
    if (locked_) GlobalUnlock(block_);
}

} // namespace qrv
