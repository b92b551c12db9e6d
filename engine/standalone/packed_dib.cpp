#include "standalone/packed_dib.h"

#include <cstring>

namespace qrv::standalone {

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

PackedDib::PackedDib(HGLOBAL block) : block_(block) {
    if (!block) return;
    void *locked = GlobalLock(block);
    if (!locked) return;
    locked_ = true;
    const auto *data = static_cast<const uint8_t *>(locked);
    const size_t size = GlobalSize(block);
    if (size < kInfoHeaderSize) return;

    const uint32_t headerSize = U32(data);
    const int32_t width = I32(data + 4);
    const int32_t height = I32(data + 8);
    const uint16_t bitCount = U16(data + 14);
    const uint32_t compression = U32(data + 16);
    const uint32_t colorsUsed = U32(data + 32);

    // Windows info headers (40 bytes, or the longer V4 and V5 ones), uncompressed.
    if (headerSize < kInfoHeaderSize || headerSize > size) return;
    if (compression != kBiRgb) return;
    if (bitCount != 1 && bitCount != 4 && bitCount != 8 && bitCount != 24 && bitCount != 32)
        return;
    if (width <= 0 || height == 0 || height == INT32_MIN) return;

    // The table follows the header: 1 << bitCount entries unless the header names
    // fewer; pictures of more bits may carry an optional table the pixels follow.
    uint64_t entries = colorsUsed;
    if (bitCount <= 8) {
        const uint32_t full = 1u << bitCount;
        entries = (colorsUsed != 0 && colorsUsed < full) ? colorsUsed : full;
    }
    const uint64_t pixelOffset = uint64_t{headerSize} + 4 * entries;
    const uint64_t stride = (uint64_t{static_cast<uint32_t>(width)} * bitCount + 31) / 32 * 4;
    const uint64_t rows = height < 0 ? -static_cast<int64_t>(height) : height;
    if (pixelOffset > size || stride * rows > size - pixelOffset) return;

    if (bitCount <= 8) {
        for (uint64_t i = 0; i < entries; ++i) {
            const uint8_t *e = data + headerSize + 4 * i;
            table_[i] = uint32_t{e[2]} << 16 | uint32_t{e[1]} << 8 | e[0];
        }
    }
    width_ = width;
    height_ = static_cast<int32_t>(rows);
    topDown_ = height < 0;
    bitCount_ = bitCount;
    pixels_ = data + pixelOffset;
    stride_ = static_cast<size_t>(stride);
    valid_ = true;
}

PackedDib::~PackedDib() {
    if (locked_) GlobalUnlock(block_);
}

uint32_t PackedDib::Rgb(int32_t row, int32_t column) const {
    const int32_t fileRow = topDown_ ? height_ - 1 - row : row;
    const uint8_t *line = pixels_ + stride_ * static_cast<size_t>(fileRow);
    const auto c = static_cast<size_t>(column);
    switch (bitCount_) {
    case 8:
        return table_[line[c]];
    case 4:
        return table_[(c & 1) ? (line[c / 2] & 0x0Fu) : (line[c / 2] >> 4)];
    case 1:
        return table_[(line[c / 8] >> (7 - (c & 7))) & 1u];
    default: {
        const uint8_t *p = line + c * (bitCount_ / 8u);
        return uint32_t{p[2]} << 16 | uint32_t{p[1]} << 8 | p[0];
    }
    }
}

} // namespace qrv::standalone
