// PNG files through libpng's simplified reading interface, which expands
// palettes, grey, 16-bit channels and tRNS transparency to 8-bit B,G,R,A.
#include <png.h>

#include <cstdint>

#include "platform/d3dx9/picture_codecs.h"

namespace qrv::d3dx9::codecs {
namespace {

// png_image with its libpng state freed on every path.
class PngImage {
public:
    PngImage()
    {
        image_ = {};
        image_.version = PNG_IMAGE_VERSION;
    }
    ~PngImage() { png_image_free(&image_); }
    PngImage(const PngImage &) = delete;
    PngImage &operator=(const PngImage &) = delete;

    bool Begin(const uint8_t *bytes, size_t size)
    {
        if (png_image_begin_read_from_memory(&image_, bytes, size) == 0) {
            return false;
        }
        // Without a gAMA or sRGB chunk, 16-bit channels are taken as sRGB like
        // 8-bit ones (libpng would assume linear light and darken them).
        image_.flags |= PNG_IMAGE_FLAG_16BIT_sRGB;
        return image_.width > 0 && image_.height > 0;
    }
    png_image &Get() { return image_; }

private:
    png_image image_;
};

} // namespace

HRESULT ReadPngInfo(const uint8_t *bytes, size_t size, PictureInfo *info)
{
    PngImage image;
    if (!image.Begin(bytes, size)) {
        return D3DXERR_INVALIDDATA;
    }
    info->format = PictureFormat::Png;
    info->width = image.Get().width;
    info->height = image.Get().height;
    info->hasAlpha = (image.Get().format & PNG_FORMAT_FLAG_ALPHA) != 0;
    return S_OK;
}

HRESULT DecodePng(const uint8_t *bytes, size_t size, uint8_t *dest, size_t pitch)
{
    PngImage image;
    if (!image.Begin(bytes, size)) {
        return D3DXERR_INVALIDDATA;
    }
    if (pitch > static_cast<size_t>(INT32_MAX)) {
        return E_INVALIDARG;
    }
    png_image &info = image.Get();
    // Without an alpha channel in the file, the fourth byte comes out 255.
    info.format = PNG_FORMAT_BGRA;
    // The stride counts components, which are bytes here.
    const auto stride = static_cast<png_int_32>(pitch);
    if (png_image_finish_read(&info, nullptr, dest, stride, nullptr) == 0) {
        return D3DXERR_INVALIDDATA;
    }
    return S_OK;
}

} // namespace qrv::d3dx9::codecs
