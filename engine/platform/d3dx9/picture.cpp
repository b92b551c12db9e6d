// Picks the decoder by the file's first bytes, and scales pictures down.
#include "platform/d3dx9/picture.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "platform/d3dx9/picture_codecs.h"

namespace qrv::d3dx9 {
namespace {

bool StartsWith(const uint8_t *bytes, size_t size, const uint8_t *magic, size_t length)
{
    return size >= length && std::memcmp(bytes, magic, length) == 0;
}

HRESULT DetectFormat(const uint8_t *bytes, size_t size, PictureFormat *format)
{
    static const uint8_t kBmp[] = {'B', 'M'};
    static const uint8_t kJpeg[] = {0xFF, 0xD8, 0xFF};
    static const uint8_t kPng[] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    if (StartsWith(bytes, size, kBmp, sizeof kBmp)) {
        *format = PictureFormat::Bmp;
    } else if (StartsWith(bytes, size, kJpeg, sizeof kJpeg)) {
        *format = PictureFormat::Jpeg;
    } else if (StartsWith(bytes, size, kPng, sizeof kPng)) {
        *format = PictureFormat::Png;
    } else {
        return D3DXERR_INVALIDDATA;
    }
    return S_OK;
}

HRESULT Allocate(Picture *picture, uint32_t width, uint32_t height, bool hasAlpha)
{
    if (uint64_t{width} * height > kMaxPicturePixels) {
        return E_OUTOFMEMORY;
    }
    try {
        picture->pixels.resize(size_t{width} * height * 4);
    } catch (const std::bad_alloc &) {
        return E_OUTOFMEMORY;
    }
    picture->width = width;
    picture->height = height;
    picture->hasAlpha = hasAlpha;
    return S_OK;
}

// For one axis of a box scale from src to dst samples: destination sample d covers
// source positions [d x src, (d + 1) x src) in units of 1 / dst source sample, so
// every destination sample gathers a total weight of src.
struct Taps {
    std::vector<uint32_t> first;  // first source sample of each destination sample
    std::vector<uint32_t> offset; // where its weights start in weights; one extra at the end
    std::vector<uint32_t> weights;
};

Taps MakeTaps(uint32_t src, uint32_t dst)
{
    Taps taps;
    taps.first.resize(dst);
    taps.offset.resize(size_t{dst} + 1);
    taps.weights.reserve(size_t{src} + dst);
    for (uint32_t d = 0; d < dst; ++d) {
        const uint64_t start = uint64_t{d} * src;
        const uint64_t end = start + src;
        const auto i0 = static_cast<uint32_t>(start / dst);
        const auto i1 = static_cast<uint32_t>((end - 1) / dst);
        taps.first[d] = i0;
        taps.offset[d] = static_cast<uint32_t>(taps.weights.size());
        for (uint32_t i = i0; i <= i1; ++i) {
            const uint64_t lo = std::max(start, uint64_t{i} * dst);
            const uint64_t hi = std::min(end, (uint64_t{i} + 1) * dst);
            taps.weights.push_back(static_cast<uint32_t>(hi - lo));
        }
    }
    taps.offset[dst] = static_cast<uint32_t>(taps.weights.size());
    return taps;
}

} // namespace

HRESULT ReadPictureInfo(const void *bytes, size_t size, PictureInfo *info)
{
    if ((bytes == nullptr && size != 0) || info == nullptr) {
        return E_INVALIDARG;
    }
    const auto *b = static_cast<const uint8_t *>(bytes);
    PictureFormat format;
    HRESULT hr = DetectFormat(b, size, &format);
    if (FAILED(hr)) {
        return hr;
    }
    PictureInfo read;
    switch (format) {
    case PictureFormat::Bmp:
        hr = codecs::ReadBmpInfo(b, size, &read);
        break;
    case PictureFormat::Jpeg:
        hr = codecs::ReadJpegInfo(b, size, &read);
        break;
    case PictureFormat::Png:
        hr = codecs::ReadPngInfo(b, size, &read);
        break;
    }
    if (FAILED(hr)) {
        return hr;
    }
    *info = read;
    return S_OK;
}

HRESULT DecodePictureInto(const void *bytes, size_t size, const PictureInfo &info, uint8_t *dest,
                          size_t pitch)
{
    if (bytes == nullptr || dest == nullptr || pitch / 4 < info.width) {
        return E_INVALIDARG;
    }
    const auto *b = static_cast<const uint8_t *>(bytes);
    PictureFormat format;
    const HRESULT hr = DetectFormat(b, size, &format);
    if (FAILED(hr)) {
        return hr;
    }
    if (format != info.format) {
        return E_INVALIDARG;
    }
    if (format == PictureFormat::Jpeg) {
        // The decoder itself checks that the size is one it can make.
        return codecs::DecodeJpeg(b, size, info.width, info.height, dest, pitch);
    }
    // The other decoders write the picture's own size: info must say the same, or
    // dest may be too small for it.
    PictureInfo own;
    const HRESULT read = format == PictureFormat::Bmp ? codecs::ReadBmpInfo(b, size, &own)
                                                      : codecs::ReadPngInfo(b, size, &own);
    if (FAILED(read)) {
        return read;
    }
    if (own.width != info.width || own.height != info.height) {
        return E_INVALIDARG;
    }
    return format == PictureFormat::Bmp ? codecs::DecodeBmp(b, size, dest, pitch)
                                        : codecs::DecodePng(b, size, dest, pitch);
}

HRESULT DecodePicture(const void *bytes, size_t size, Picture *picture)
{
    return DecodePictureAtLeast(bytes, size, UINT32_MAX, UINT32_MAX, picture);
}

HRESULT DecodePictureAtLeast(const void *bytes, size_t size, uint32_t minWidth,
                             uint32_t minHeight, Picture *picture)
{
    if (picture == nullptr) {
        return E_INVALIDARG;
    }
    PictureInfo info;
    HRESULT hr = ReadPictureInfo(bytes, size, &info);
    if (FAILED(hr)) {
        return hr;
    }
    if (info.format == PictureFormat::Jpeg) {
        codecs::JpegReducedSize(info.width, info.height, minWidth, minHeight, &info.width,
                                &info.height);
    }
    Picture decoded;
    hr = Allocate(&decoded, info.width, info.height, info.hasAlpha);
    if (FAILED(hr)) {
        return hr;
    }
    hr = DecodePictureInto(bytes, size, info, decoded.pixels.data(), size_t{info.width} * 4);
    if (FAILED(hr)) {
        return hr;
    }
    *picture = std::move(decoded);
    return S_OK;
}

void FitPictureSize(uint32_t width, uint32_t height, uint32_t maxWidth, uint32_t maxHeight,
                    uint32_t *fitWidth, uint32_t *fitHeight)
{
    if (width <= maxWidth && height <= maxHeight) {
        *fitWidth = width;
        *fitHeight = height;
        return;
    }
    // The tighter of the two limits decides: width / height against maxWidth / maxHeight.
    if (uint64_t{width} * maxHeight >= uint64_t{height} * maxWidth) {
        *fitWidth = maxWidth;
        *fitHeight = static_cast<uint32_t>(
            std::max<uint64_t>(1, uint64_t{height} * maxWidth / width));
    } else {
        *fitHeight = maxHeight;
        *fitWidth = static_cast<uint32_t>(
            std::max<uint64_t>(1, uint64_t{width} * maxHeight / height));
    }
}

void BoxScalePicture(const uint8_t *src, uint32_t srcWidth, uint32_t srcHeight, size_t srcPitch,
                     uint8_t *dst, uint32_t dstWidth, uint32_t dstHeight, size_t dstPitch)
{
    const Taps columns = MakeTaps(srcWidth, dstWidth);
    const Taps rows = MakeTaps(srcHeight, dstHeight);
    // Per destination row: B,G,R,A sums of weight srcWidth x srcHeight each.
    std::vector<uint64_t> sum(size_t{dstWidth} * 4);
    const uint64_t total = uint64_t{srcWidth} * srcHeight;

    for (uint32_t y = 0; y < dstHeight; ++y) {
        std::fill(sum.begin(), sum.end(), 0);
        for (uint32_t t = rows.offset[y]; t < rows.offset[y + 1]; ++t) {
            const uint32_t sy = rows.first[y] + (t - rows.offset[y]);
            const uint64_t wy = rows.weights[t];
            const uint8_t *line = src + sy * srcPitch;
            for (uint32_t x = 0; x < dstWidth; ++x) {
                uint64_t b = 0, g = 0, r = 0, a = 0;
                const uint8_t *p = line + size_t{columns.first[x]} * 4;
                for (uint32_t k = columns.offset[x]; k < columns.offset[x + 1]; ++k, p += 4) {
                    const uint64_t wx = columns.weights[k];
                    b += p[0] * wx;
                    g += p[1] * wx;
                    r += p[2] * wx;
                    a += p[3] * wx;
                }
                uint64_t *s = &sum[size_t{x} * 4];
                s[0] += b * wy;
                s[1] += g * wy;
                s[2] += r * wy;
                s[3] += a * wy;
            }
        }
        uint8_t *out = dst + y * dstPitch;
        for (size_t i = 0; i < sum.size(); ++i) {
            out[i] = static_cast<uint8_t>((sum[i] + total / 2) / total);
        }
    }
}

} // namespace qrv::d3dx9
