// The pieces of the strip builder that other parts of the engine share.
#pragma once

#include <cstdint>

namespace qrv {

// The depth value of one pixel of an 8-bit depth image: the average of blue, green
// and red of its colour-table entry, scaled by percent (below 100 only), then turned
// round so that bright comes near: 0 is nearest, 255 farthest. pixels may be null
// (no depth image: 0). row counts memory rows, bottom-up. The caller guarantees
// that the pixel and the 256-entry table lie inside its block.
int SampleDepth(const uint8_t *pixels, const uint8_t *colourTable, int row, int column,
                int rowStride, int percent);

// The depth value of a grey level at percent, as SampleDepth computes it.
int DepthOfGrey(int grey, int percent);

struct PhotoSize {
    int32_t width = 0;
    int32_t height = 0;
};

// The width and height from a photo file's header: a BMP's info header (the height
// as it stands, negative for a top-down file) or a JPEG's baseline start-of-frame.
// Anything else, a missing file or a JPEG without a baseline frame gives 0 x 0.
PhotoSize ReadPhotoSize(const char *photoPath);

} // namespace qrv
