// Any bytes through the picture decoders: header parsing, full decoding, the
// reduced JPEG decode and the box filter must never read or write out of bounds.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "platform/d3dx9/picture.h"

namespace {
// Large enough for every layout, small enough to keep each run fast.
constexpr uint64_t kMaxFuzzPixels = uint64_t{1} << 18;
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    using namespace qrv::d3dx9;
    PictureInfo info;
    if (FAILED(ReadPictureInfo(data, size, &info))) {
        return 0;
    }
    if (uint64_t{info.width} * info.height > kMaxFuzzPixels) {
        return 0;
    }
    Picture picture;
    if (FAILED(DecodePicture(data, size, &picture))) {
        return 0;
    }
    if (picture.pixels.size() != size_t{picture.width} * picture.height * 4) {
        __builtin_trap();
    }
    uint32_t w = 0;
    uint32_t h = 0;
    FitPictureSize(picture.width, picture.height, (picture.width + 2) / 3,
                   (picture.height + 1) / 2, &w, &h);
    std::vector<uint8_t> scaled(size_t{w} * h * 4);
    BoxScalePicture(picture.pixels.data(), picture.width, picture.height, size_t{picture.width} * 4,
                    scaled.data(), w, h, size_t{w} * 4);
    Picture reduced;
    (void)DecodePictureAtLeast(data, size, w, h, &reduced);
    return 0;
}
