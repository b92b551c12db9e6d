// JPEG files through libjpeg-turbo's TurboJPEG API: baseline and progressive,
// grey, colour and (Adobe) CMYK, decoded straight into the caller's rows.
#include <turbojpeg.h>

#include <cstdint>
#include <memory>
#include <new>
#include <vector>

#include "platform/d3dx9/picture_codecs.h"

namespace qrv::d3dx9::codecs {
namespace {

struct TjDeleter {
    void operator()(void *handle) const { tjDestroy(handle); }
};
using TjHandle = std::unique_ptr<void, TjDeleter>;

// Every decode refuses files with absurd numbers of progressive scans (which
// would take minutes) and treats warnings as failures: a truncated or damaged
// file would otherwise come back "decoded" with grey or smeared blocks.
constexpr int kDecodeFlags = TJFLAG_LIMITSCANS | TJFLAG_STOPONWARNING | TJFLAG_ACCURATEDCT;

struct JpegHeader {
    int width = 0;
    int height = 0;
    int subsampling = 0;
    int colorspace = 0;
};

bool ReadHeader(tjhandle handle, const uint8_t *bytes, size_t size, JpegHeader *header)
{
    if constexpr (sizeof(size_t) > sizeof(unsigned long)) {
        if (size > static_cast<size_t>(static_cast<unsigned long>(-1))) {
            return false;
        }
    }
    return tjDecompressHeader3(handle, bytes, static_cast<unsigned long>(size), &header->width,
                               &header->height, &header->subsampling, &header->colorspace) == 0 &&
           header->width > 0 && header->height > 0;
}

} // namespace

HRESULT ReadJpegInfo(const uint8_t *bytes, size_t size, PictureInfo *info)
{
    TjHandle handle(tjInitDecompress());
    if (!handle) {
        return E_OUTOFMEMORY;
    }
    JpegHeader header;
    if (!ReadHeader(handle.get(), bytes, size, &header)) {
        return D3DXERR_INVALIDDATA;
    }
    info->format = PictureFormat::Jpeg;
    info->width = static_cast<uint32_t>(header.width);
    info->height = static_cast<uint32_t>(header.height);
    info->hasAlpha = false;
    return S_OK;
}

void JpegReducedSize(uint32_t width, uint32_t height, uint32_t minWidth, uint32_t minHeight,
                     uint32_t *reducedWidth, uint32_t *reducedHeight)
{
    *reducedWidth = width;
    *reducedHeight = height;
    int count = 0;
    const tjscalingfactor *factors = tjGetScalingFactors(&count);
    for (int i = 0; factors != nullptr && i < count; ++i) {
        // Only reductions by whole powers of two: they average blocks evenly.
        const tjscalingfactor f = factors[i];
        if (f.num != 1 || f.denom <= 1 || (f.denom & (f.denom - 1)) != 0) {
            continue;
        }
        const uint32_t w = static_cast<uint32_t>(TJSCALED(static_cast<int>(width), f));
        const uint32_t h = static_cast<uint32_t>(TJSCALED(static_cast<int>(height), f));
        if (w >= minWidth && h >= minHeight && uint64_t{w} * h < uint64_t{*reducedWidth} * *reducedHeight) {
            *reducedWidth = w;
            *reducedHeight = h;
        }
    }
}

HRESULT DecodeJpeg(const uint8_t *bytes, size_t size, uint32_t width, uint32_t height,
                   uint8_t *dest, size_t pitch)
{
    TjHandle handle(tjInitDecompress());
    if (!handle) {
        return E_OUTOFMEMORY;
    }
    JpegHeader header;
    if (!ReadHeader(handle.get(), bytes, size, &header)) {
        return D3DXERR_INVALIDDATA;
    }
    if (pitch > static_cast<size_t>(INT32_MAX)) {
        return E_INVALIDARG;
    }
    // Only the picture's own size or one of its reductions: for any other size the
    // decoder would fill less than width x height and leave the rest unwritten.
    bool madeSize = width == static_cast<uint32_t>(header.width) &&
                    height == static_cast<uint32_t>(header.height);
    int count = 0;
    const tjscalingfactor *factors = tjGetScalingFactors(&count);
    for (int i = 0; !madeSize && factors != nullptr && i < count; ++i) {
        madeSize = width == static_cast<uint32_t>(TJSCALED(header.width, factors[i])) &&
                   height == static_cast<uint32_t>(TJSCALED(header.height, factors[i]));
    }
    if (!madeSize) {
        return E_INVALIDARG;
    }
    const auto length = static_cast<unsigned long>(size);
    const int w = static_cast<int>(width);
    const int h = static_cast<int>(height);
    if (header.colorspace != TJCS_CMYK && header.colorspace != TJCS_YCCK) {
        if (tjDecompress2(handle.get(), bytes, length, dest, w, static_cast<int>(pitch), h,
                          TJPF_BGRX, kDecodeFlags) != 0) {
            return D3DXERR_INVALIDDATA;
        }
        // The padding byte of BGRX is written as 0xFF, the opaque alpha.
        return S_OK;
    }
    // CMYK cannot be turned into RGB by the decoder itself. Adobe writes the inks
    // inverted (255 = no ink), so the colour is simply c x k, m x k, y x k.
    std::vector<uint8_t> cmyk;
    try {
        cmyk.resize(size_t{width} * height * 4);
    } catch (const std::bad_alloc &) {
        return E_OUTOFMEMORY;
    }
    if (tjDecompress2(handle.get(), bytes, length, cmyk.data(), w, 0, h, TJPF_CMYK,
                      kDecodeFlags) != 0) {
        return D3DXERR_INVALIDDATA;
    }
    for (uint32_t y = 0; y < height; ++y) {
        const uint8_t *src = cmyk.data() + size_t{y} * width * 4;
        uint8_t *out = dest + y * pitch;
        for (uint32_t x = 0; x < width; ++x) {
            const unsigned k = src[4 * x + 3];
            out[4 * x + 0] = static_cast<uint8_t>((src[4 * x + 2] * k + 127) / 255);
            out[4 * x + 1] = static_cast<uint8_t>((src[4 * x + 1] * k + 127) / 255);
            out[4 * x + 2] = static_cast<uint8_t>((src[4 * x + 0] * k + 127) / 255);
            out[4 * x + 3] = 0xFF;
        }
    }
    return S_OK;
}

} // namespace qrv::d3dx9::codecs
