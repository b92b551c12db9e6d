// The three decoders behind picture.h. Each checks its own signature; the
// dispatcher in picture.cpp has already picked the format by its first bytes.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/d3dx9/picture.h"

namespace qrv::d3dx9::codecs {

HRESULT ReadBmpInfo(const uint8_t *bytes, size_t size, PictureInfo *info);
HRESULT DecodeBmp(const uint8_t *bytes, size_t size, uint8_t *dest, size_t pitch);

HRESULT ReadJpegInfo(const uint8_t *bytes, size_t size, PictureInfo *info);
// width x height is the picture's own size or one of the decoder's reduced sizes
// (JpegReducedSize).
HRESULT DecodeJpeg(const uint8_t *bytes, size_t size, uint32_t width, uint32_t height,
                   uint8_t *dest, size_t pitch);
// The smallest size the decoder can reduce the picture to that is still at least
// minWidth x minHeight.
void JpegReducedSize(uint32_t width, uint32_t height, uint32_t minWidth, uint32_t minHeight,
                     uint32_t *reducedWidth, uint32_t *reducedHeight);

HRESULT ReadPngInfo(const uint8_t *bytes, size_t size, PictureInfo *info);
HRESULT DecodePng(const uint8_t *bytes, size_t size, uint8_t *dest, size_t pitch);

} // namespace qrv::d3dx9::codecs
