// What the engine's exports share with the rest of the library.
#pragma once

#include "qrv.h"

namespace qrv {

class ReliefView;

// The library's one failure reporter: traces message and hr (with a box that
// offers to debug) and returns hr unchanged. message is the reporting routine's
// name, a blank and the operation that failed ("ChangeWindowSize Reset").
HRESULT ReportFailure(const char *message, HRESULT hr);

// The ReliefView a handle names, or null for 0, 1 and anything that is not a live
// view made by _QRV3DInit.
ReliefView *FindView(ViewHandle view);

} // namespace qrv
