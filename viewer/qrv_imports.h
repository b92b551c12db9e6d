// The eight engine functions Tovelle uses, taken from libqrv.so by ordinal.
#pragma once

#include "qrv.h"

namespace tovelle {

// One pointer per import, named after the export it holds. The form calls the
// engine only through such a record, so a test may hand it a record whose
// functions record each call before passing it on.
struct QrvImports {
    void (*_QRV3DEffect)(ViewHandle view, int32_t type, int32_t value);              // 6
    void (*_QRV3DFillMode)(ViewHandle view);                                         // 7
    HRESULT (*_QRV3DGet3DImage)(ViewHandle view, HGLOBAL depthDib, HGLOBAL colourDib,
                                const char *photoPath);                              // 8
    ViewHandle (*_QRV3DInit)(HWND window, const char *vertexShaderFile,
                             const char *pixelShaderFile);                           // 9
    void (*_QRV3DMoveEye)(ViewHandle view, float dx, float dy, float dz);            // 11
    bool (*_QRV3DRender)(ViewHandle view);                                           // 13
    void (*_QRV3DShadeMode)(ViewHandle view, int32_t mode);                          // 16
    void (*_QRV3DTerm)(ViewHandle view);                                             // 17

    // The library's own functions, looked up as qrvExportTable[ordinal - 1].
    // Throws std::runtime_error when an ordinal is missing from the table.
    static QrvImports ByOrdinal();
};

} // namespace tovelle
