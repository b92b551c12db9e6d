// The StandaloneEngine's mesh from a depth image and a colour image: an indexed
// triangle list over a grid of four points per depth pixel in each direction,
// heights blended between neighbouring pixels, with every triangle dropped whose
// three corners lie on the picture plane. The model file road uses the grid
// blend and the triangle rule as well.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/d3d9/d3d9.h"
#include "qrv.h"
#include "standalone/packed_dib.h"

namespace qrv::standalone {

// The red byte of each depth pixel (of its colour-table entry for a paletted
// picture), read once; memory row 0 is the bottom of the picture.
class DepthReds {
public:
    explicit DepthReds(const PackedDib &depth);
    int32_t width() const { return width_; }
    int32_t height() const { return height_; }
    int Red(int32_t row, int32_t column) const {
        return reds_[static_cast<size_t>(row) * static_cast<size_t>(width_) +
                     static_cast<size_t>(column)];
    }

private:
    int32_t width_;
    int32_t height_;
    std::vector<uint8_t> reds_;
};

// The blended value 0..255 of grid point (m, o): grid row m counted from the
// bottom, column o from the left, four grid points per depth pixel. The lower-left
// point of each pixel carries its red exactly; the others move toward the pixel
// to the right with o and toward the pixel row below with m, and the right-most
// column and the bottom row blend toward 0. Integer arithmetic throughout.
int GridDepth(const DepthReds &reds, int32_t m, int32_t o);

// Fills a locked index buffer with the triangle list of a W x H grid whose
// vertices run row by row from the top (positions: x, y, z per vertex). Each cell
// gives (w, w + 1, w + W + 1) and (w, w + W + 1, w + W), w its top-left vertex; a
// triangle whose three corners all have z == 0 is dropped, and each drop lowers
// engine.triangleCount by one. Kept triangles are packed at the front. Returns
// how many were kept.
uint32_t BuildGridTriangles(const float *positions, uint32_t W, uint32_t H, uint16_t *indices);
uint32_t BuildGridTriangles(const float *positions, uint32_t W, uint32_t H, uint32_t *indices);

// The index format for a mesh of vertexCount vertices: 16 bits while every vertex
// number fits them, else 32 bits.
D3DFORMAT GridIndexFormat(uint64_t vertexCount);

// _QRV3DGet3DImage(1, depthDib, colourDib, ...): replaces the whole model (the
// texture-coordinate buffer stays empty) and resets the eye. Without a usable
// depth image the engine is left with no mesh buffers and the colour image is not
// read. Vertex colours come from the colour image stretched over the grid, or are
// opaque white without one. The build goes on past a failed buffer creation or
// lock with what exists; the counts then promise only what was written, and the
// result is the last failure's code (S_OK when every step succeeded).
HRESULT BuildMeshFromImages(HGLOBAL depthDib, HGLOBAL colourDib);

} // namespace qrv::standalone
