// Picture files (BMP, JPEG, PNG) decoded to 32-bit B,G,R,A pixels, top row first,
// without a device: the texture loader builds on these, and tests and the fuzzer
// call them directly.
//
//   PictureInfo info;
//   if (SUCCEEDED(ReadPictureInfo(bytes, size, &info)))  // format, size, alpha
//       DecodePictureInto(bytes, size, info, dest, pitch); // straight into memory
//
// or DecodePicture(bytes, size, &picture) for a buffer of its own. The format is
// told by the first bytes, never by a file name. Failures:
//   D3DXERR_INVALIDDATA  not a picture this layer reads, or a damaged or truncated one
//   E_OUTOFMEMORY        the decoded picture would exceed kMaxPicturePixels
//   E_INVALIDARG         a null pointer, or a destination too small for the picture
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "platform/d3dx9/d3dx9.h"

namespace qrv::d3dx9 {

enum class PictureFormat { Bmp, Jpeg, Png };

// The largest picture decoded in one piece: 2^28 pixels, 1 GiB of B,G,R,A.
inline constexpr uint64_t kMaxPicturePixels = uint64_t{1} << 28;

struct PictureInfo {
    PictureFormat format = PictureFormat::Bmp;
    uint32_t width = 0;
    uint32_t height = 0;
    // True when the file carries transparency (a PNG alpha channel or tRNS chunk,
    // a BMP alpha mask); the pixels' fourth byte is 255 otherwise.
    bool hasAlpha = false;
};

struct Picture {
    uint32_t width = 0;
    uint32_t height = 0;
    bool hasAlpha = false;
    std::vector<uint8_t> pixels; // width x 4 bytes a row, height rows, top row first
};

// Format, size and alpha from the file's header, without decoding the pixels.
HRESULT ReadPictureInfo(const void *bytes, size_t size, PictureInfo *info);

// Decodes the whole picture into dest: info.height rows, pitch bytes apart, each
// info.width x 4 bytes of B,G,R,A. info must be what ReadPictureInfo gave for the
// same bytes. On failure dest may be partly written.
HRESULT DecodePictureInto(const void *bytes, size_t size, const PictureInfo &info,
                          uint8_t *dest, size_t pitch);

// ReadPictureInfo and DecodePictureInto into picture->pixels.
HRESULT DecodePicture(const void *bytes, size_t size, Picture *picture);

// Like DecodePicture, but a JPEG may come out reduced (by its decoder's scaling, a
// power of two) as long as it stays at least minWidth x minHeight. Other formats
// come out whole. Used when the picture is to be scaled down anyway.
HRESULT DecodePictureAtLeast(const void *bytes, size_t size, uint32_t minWidth,
                             uint32_t minHeight, Picture *picture);

// The largest size within maxWidth x maxHeight with the picture's aspect ratio
// (each side rounded down, at least 1); the picture's own size when it fits.
void FitPictureSize(uint32_t width, uint32_t height, uint32_t maxWidth, uint32_t maxHeight,
                    uint32_t *fitWidth, uint32_t *fitHeight);

// Scales B,G,R,A pixels down with a box filter in integer arithmetic: each
// destination pixel is the area-weighted mean of the source pixels it covers,
// rounded to nearest. dstWidth <= srcWidth and dstHeight <= srcHeight.
void BoxScalePicture(const uint8_t *src, uint32_t srcWidth, uint32_t srcHeight, size_t srcPitch,
                     uint8_t *dst, uint32_t dstWidth, uint32_t dstHeight, size_t dstPitch);

} // namespace qrv::d3dx9
