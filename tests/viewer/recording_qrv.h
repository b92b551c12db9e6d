// Engine imports that record every call before passing it on to the library's
// own functions, so a test drives the real engine and still sees the sequence.
#pragma once

#include <string>
#include <vector>

#include "qrv_imports.h"

namespace tovelle::testing {

struct EngineCall {
    std::string name;          // the export, without its "_QRV3D" prefix
    std::vector<double> args;  // the arguments after the view
    size_t depthBytes = 0;     // Get3DImage: GlobalSize of the depth block (0: null)
    std::string photoPath;     // Get3DImage: the photo path
};

// Starts a fresh record; the returned imports forward to the library.
QrvImports RecordingImports();
std::vector<EngineCall> &RecordedCalls();
// The recorded calls named name, in order.
std::vector<EngineCall> CallsNamed(const std::string &name);

} // namespace tovelle::testing
