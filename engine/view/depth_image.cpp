#include "view/depth_image.h"

namespace qrv {

DepthImage::DepthImage(HGLOBAL block) : dib_(block, DibRows::MayBeCut) {
    if (!dib_.valid()) return;
    if (dib_.bitCount() <= 8) {
        const uint8_t *table = dib_.table();
        for (uint32_t i = 0; i < dib_.tableEntries(); ++i) {
            const uint8_t *entry = table + 4 * i;
            greyOfIndex_[i] = static_cast<uint8_t>((entry[0] + entry[1] + entry[2]) / 3);
        }
    }
    const uint64_t pixelBytes = uint64_t{dib_.stride()} * static_cast<uint64_t>(dib_.height());
    plain8Bit_ = dib_.bitCount() == 8 && dib_.headerSize() == 40 && dib_.tableEntries() == 256 &&
                 !dib_.topDown() && pixelBytes <= dib_.size() - dib_.pixelOffset();
}

void DepthImage::GreyRow(int32_t memoryRow, uint8_t *grey) const {
    if (!dib_.valid() || memoryRow < 0 || memoryRow >= dib_.height()) return;
    const uint64_t size = dib_.size();
    const uint64_t start = dib_.RowOffset(memoryRow);
    const uint64_t available = start < size ? size - start : 0;
    const uint8_t *row = dib_.data() + (start < size ? start : size);
    // Reads one byte of the row, zero past the block's end.
    auto at = [&](uint64_t offset) -> unsigned { return offset < available ? row[offset] : 0u; };

    const int32_t w = dib_.width();
    switch (dib_.bitCount()) {
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
        const uint64_t step = dib_.bitCount() / 8u;
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
    if (!dib_.valid() || memoryRow < 0 || memoryRow >= dib_.height()) return;
    const int32_t width = dib_.width();
    if (dib_.bitCount() == 8) {
        const uint64_t size = dib_.size();
        const uint64_t start = dib_.RowOffset(memoryRow);
        if (start <= size && size - start >= static_cast<uint64_t>(width)) {
            if (mappedTable_ != valueOfGrey) {
                for (int i = 0; i < 256; ++i) valueOfIndex_[i] = valueOfGrey[greyOfIndex_[i]];
                mappedTable_ = valueOfGrey;
            }
            const uint8_t *row = dib_.data() + start;
            for (int32_t c = 0; c < width; ++c) out[c] = valueOfIndex_[row[c]];
            return;
        }
    }
    // Other depths, and rows cut off by the block's end.
    scratch_.resize(static_cast<size_t>(width));
    GreyRow(memoryRow, scratch_.data());
    for (int32_t c = 0; c < width; ++c) out[c] = valueOfGrey[scratch_[static_cast<size_t>(c)]];
}

} // namespace qrv
