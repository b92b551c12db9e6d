// The error tracer: a failure's report on stderr, and a Yes/No box that offers to
// break into the debugger.
#pragma once

#include <string>

#include "platform/win32/wintypes.h"

namespace qrv::trace {

// Writes "<file>(<line>): <message> (hr=<name> (0x<code>))" to stderr, then, when
// popUp is set, asks the user the question of the box captioned
// "Unexpected error encountered". Answering Yes raises SIGTRAP only when a
// debugger is attached. Returns hr.
HRESULT DXTrace(const char *file, DWORD line, HRESULT hr, const char *message, BOOL popUp);

// Where the tracer's output and questions go; tests capture them here instead of
// seeing a dialog. A null sink restores stderr and the real box.
class Sink {
public:
    virtual ~Sink() = default;
    virtual void DebugOutput(const std::string &text) = 0;
    // Returns true for Yes.
    virtual bool AskYesNo(const std::string &caption, const std::string &text) = 0;
};
void SetSink(Sink *sink);

} // namespace qrv::trace
