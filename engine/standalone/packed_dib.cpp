#include "standalone/packed_dib.h"

namespace qrv::standalone {

PackedDib::PackedDib(HGLOBAL block) : dib_(block, DibRows::MustFit) {
    if (!dib_.valid() || dib_.bitCount() > 8) return;
    const uint8_t *entries = dib_.table();
    for (uint32_t i = 0; i < dib_.tableEntries(); ++i) {
        const uint8_t *e = entries + 4 * i;
        table_[i] = uint32_t{e[2]} << 16 | uint32_t{e[1]} << 8 | e[0];
    }
}

uint32_t PackedDib::Rgb(int32_t row, int32_t column) const {
    const uint8_t *line = dib_.data() + dib_.RowOffset(row);
    const auto c = static_cast<size_t>(column);
    switch (dib_.bitCount()) {
    case 8:
        return table_[line[c]];
    case 4:
        return table_[(c & 1) ? (line[c / 2] & 0x0Fu) : (line[c / 2] >> 4)];
    case 1:
        return table_[(line[c / 8] >> (7 - (c & 7))) & 1u];
    default: {
        const uint8_t *p = line + c * (dib_.bitCount() / 8u);
        return uint32_t{p[2]} << 16 | uint32_t{p[1]} << 8 | p[0];
    }
    }
}

} // namespace qrv::standalone
