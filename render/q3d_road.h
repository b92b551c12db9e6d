// qrv-render reading and writing q3d model files through the library's
// _QRV3DReadQ3DFile and _QRV3DWriteQ3DFile (see q3d_options.h for the options).
#pragma once

#include <string>

#include "q3d_options.h"
#include "qrv.h"

namespace qrv::render {

// Reads the model file into the view through _QRV3DReadQ3DFile. Returns an error
// message, empty when the model was read.
std::string ReadModelFile(ViewHandle view, const std::string &model);

// Writes the model of depthDib (and colourDib on the StandaloneEngine road, view
// 1) through _QRV3DWriteQ3DFile into ModelFileFor(name): a new file, which
// replaces an existing one only once it is whole (the library itself would keep
// the old file's other entries). Prints the file's name on success; returns an
// error message, empty on success.
std::string WriteModelFile(ViewHandle view, HGLOBAL depthDib, HGLOBAL colourDib,
                           const std::string &name);

} // namespace qrv::render
