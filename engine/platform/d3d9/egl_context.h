// All EGL set-up of the graphics layer: one OpenGL 4.5 core context per device,
// headless (no window surface; every device draws into framebuffer objects).
//
//   D3DDEVTYPE_HAL  the system's GL driver through the surfaceless Mesa platform
//   D3DDEVTYPE_REF  Mesa's software device, found by enumerating EGL devices
//
// Displays are process-wide and stay initialised for the life of the process:
// several devices share one display, each with a context of its own.
#pragma once

#include <memory>

#include "d3d9.h"

namespace qrv::d3d9 {

class EglContext {
public:
    // A new context for the device type, or null when that device type has no
    // usable EGL display or context on this machine.
    static std::unique_ptr<EglContext> Create(D3DDEVTYPE type);
    ~EglContext();
    EglContext(const EglContext &) = delete;
    EglContext &operator=(const EglContext &) = delete;

    // Makes this context current on the calling thread unless it already is.
    bool MakeCurrent();
    // True when the driver reports that this context was lost (a GPU reset);
    // the context must then be replaced. Must be current.
    bool IsLost() const;
    bool robust() const { return robust_; }

private:
    EglContext(void *display, void *context, bool robust)
        : display_(display), context_(context), robust_(robust) {}
    void *display_;
    void *context_;
    bool robust_;
};

} // namespace qrv::d3d9
