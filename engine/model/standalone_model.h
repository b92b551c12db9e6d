// q3d model files on the StandaloneEngine road (ViewHandle 1).
//
// Reading replaces the engine's whole mesh. A file is in grid form when its
// [Photo] section has a non-zero Width and Height: one row entry of grid values
// (0 on the picture plane, 255 nearest) per grid row, top row first, with
// optional per-point colours in [VertexColor]. Otherwise it is in mesh form:
// [Vertex] positions, [VertexColor] colours and [Index] triangles, one entry
// each. Writing stores a depth image as a grid at four times its resolution, with
// the colours of a colour image.
//
// The file is parsed once and every entry is looked up in memory, so reading and
// writing cost time linear in the file's size; a write replaces the file in one
// step (the old one stays whole when it fails).
#pragma once

#include "qrv.h"

namespace qrv::standalone {

// _QRV3DReadQ3DFile(1, path): releases the mesh buffers, resets the eye and reads
// the model at path (unchanged) into new position, colour and index buffers, and
// for a mesh-form model texture coordinates (x / 2 + 0.5, 0.5 - y / 2). A file without a usable model (fewer than 3 vertices or no
// triangles, a missing file among them) leaves no buffers and returns 0. A failed
// buffer creation or lock is reported through ReportFailure ("InitDXGraphics
// CreateVertexBuffer", "... CreateIndexBuffer", "... Lock") and its code returned;
// then the counts are 0 and nothing stays locked.
HRESULT ReadQ3DFile(const char *path);

// _QRV3DWriteQ3DFile(1, depthDib, colourDib, path): writes the grid of the depth
// image (GridDepth at four times its resolution) to [Photo] and the colour image
// sampled over the same grid to [VertexColor], each only when its PackedDib is
// given and readable, into path with its last three characters replaced by
// "q3d". Other entries of an existing file are kept. Returns 0.
HRESULT WriteQ3DFile(HGLOBAL depthDib, HGLOBAL colourDib, const char *path);

} // namespace qrv::standalone
