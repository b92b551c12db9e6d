#include "qrv_imports.h"

#include <stdexcept>
#include <string>

namespace tovelle {

namespace {

// The table is in ordinal order; the entry's own ordinal is checked as well, so a
// library built with a shifted table is refused instead of called wrongly.
template <typename Function>
void Import(Function &slot, int ordinal) {
    const QrvExport &entry = qrvExportTable[ordinal - 1];
    if (entry.ordinal != ordinal || entry.function == nullptr) {
        throw std::runtime_error("libqrv.so has no export at ordinal " + std::to_string(ordinal));
    }
    // The table stores every function as const void *; POSIX guarantees that a
    // data pointer converts back to the function pointer it came from.
    slot = reinterpret_cast<Function>(const_cast<void *>(entry.function));
}

} // namespace

QrvImports QrvImports::ByOrdinal() {
    QrvImports imports{};
    Import(imports._QRV3DEffect, 6);
    Import(imports._QRV3DFillMode, 7);
    Import(imports._QRV3DGet3DImage, 8);
    Import(imports._QRV3DInit, 9);
    Import(imports._QRV3DMoveEye, 11);
    Import(imports._QRV3DRender, 13);
    Import(imports._QRV3DShadeMode, 16);
    Import(imports._QRV3DTerm, 17);
    return imports;
}

} // namespace tovelle
