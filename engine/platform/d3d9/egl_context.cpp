#include "egl_context.h"

#include <EGL/egl.h>
#include <EGL/eglext.h>
#define GL_GLEXT_PROTOTYPES 1
#include <GL/glcorearb.h>

#include <cstring>
#include <mutex>

namespace qrv::d3d9 {
namespace {

bool HasExtension(const char *list, const char *name) {
    if (!list) return false;
    const size_t length = std::strlen(name);
    for (const char *p = list; (p = std::strstr(p, name)) != nullptr; p += length) {
        const bool startOk = p == list || p[-1] == ' ';
        const bool endOk = p[length] == '\0' || p[length] == ' ';
        if (startOk && endOk) return true;
    }
    return false;
}

EGLDisplay OpenDisplay(D3DDEVTYPE type) {
    const char *clientExtensions = eglQueryString(EGL_NO_DISPLAY, EGL_EXTENSIONS);
    auto getPlatformDisplay = reinterpret_cast<PFNEGLGETPLATFORMDISPLAYEXTPROC>(
        eglGetProcAddress("eglGetPlatformDisplayEXT"));
    if (!getPlatformDisplay) return EGL_NO_DISPLAY;

    if (type == D3DDEVTYPE_HAL) {
        if (!HasExtension(clientExtensions, "EGL_MESA_platform_surfaceless")) return EGL_NO_DISPLAY;
        return getPlatformDisplay(EGL_PLATFORM_SURFACELESS_MESA, EGL_DEFAULT_DISPLAY, nullptr);
    }
    // The reference device: Mesa's software rasteriser as an EGL device.
    if (!HasExtension(clientExtensions, "EGL_EXT_device_enumeration") ||
        !HasExtension(clientExtensions, "EGL_EXT_platform_device"))
        return EGL_NO_DISPLAY;
    auto queryDevices =
        reinterpret_cast<PFNEGLQUERYDEVICESEXTPROC>(eglGetProcAddress("eglQueryDevicesEXT"));
    auto queryDeviceString = reinterpret_cast<PFNEGLQUERYDEVICESTRINGEXTPROC>(
        eglGetProcAddress("eglQueryDeviceStringEXT"));
    if (!queryDevices || !queryDeviceString) return EGL_NO_DISPLAY;
    EGLDeviceEXT devices[16];
    EGLint count = 0;
    if (!queryDevices(16, devices, &count)) return EGL_NO_DISPLAY;
    for (EGLint i = 0; i < count; ++i) {
        if (HasExtension(queryDeviceString(devices[i], EGL_EXTENSIONS), "EGL_MESA_device_software"))
            return getPlatformDisplay(EGL_PLATFORM_DEVICE_EXT, devices[i], nullptr);
    }
    return EGL_NO_DISPLAY;
}

struct DisplaySlot {
    bool tried = false;
    EGLDisplay display = EGL_NO_DISPLAY;
};

std::mutex displayMutex;
DisplaySlot displaySlots[2];

// The initialised display for the device type, opened on first use.
EGLDisplay DisplayFor(D3DDEVTYPE type) {
    if (type != D3DDEVTYPE_HAL && type != D3DDEVTYPE_REF) return EGL_NO_DISPLAY;
    std::lock_guard<std::mutex> lock(displayMutex);
    DisplaySlot &slot = displaySlots[type == D3DDEVTYPE_HAL ? 0 : 1];
    if (!slot.tried) {
        slot.tried = true;
        EGLDisplay display = OpenDisplay(type);
        EGLint major = 0, minor = 0;
        if (display != EGL_NO_DISPLAY && eglInitialize(display, &major, &minor) &&
            (major > 1 || minor >= 5 ||
             HasExtension(eglQueryString(display, EGL_EXTENSIONS), "EGL_KHR_create_context")))
            slot.display = display;
    }
    return slot.display;
}

EGLContext CreateContext(EGLDisplay display, bool robust) {
    if (!eglBindAPI(EGL_OPENGL_API)) return EGL_NO_CONTEXT;
    EGLint attributes[16];
    int n = 0;
    attributes[n++] = EGL_CONTEXT_MAJOR_VERSION;
    attributes[n++] = 4;
    attributes[n++] = EGL_CONTEXT_MINOR_VERSION;
    attributes[n++] = 5;
    attributes[n++] = EGL_CONTEXT_OPENGL_PROFILE_MASK;
    attributes[n++] = EGL_CONTEXT_OPENGL_CORE_PROFILE_BIT;
    if (robust) {
        // Out-of-range fetches read zero instead of crashing, and a GPU reset
        // is reported (as a lost device) instead of going unnoticed.
        attributes[n++] = EGL_CONTEXT_OPENGL_ROBUST_ACCESS;
        attributes[n++] = EGL_TRUE;
        attributes[n++] = EGL_CONTEXT_OPENGL_RESET_NOTIFICATION_STRATEGY;
        attributes[n++] = EGL_LOSE_CONTEXT_ON_RESET;
    }
    attributes[n++] = EGL_NONE;
    return eglCreateContext(display, EGL_NO_CONFIG_KHR, EGL_NO_CONTEXT, attributes);
}

} // namespace

std::unique_ptr<EglContext> EglContext::Create(D3DDEVTYPE type) {
    EGLDisplay display = DisplayFor(type);
    if (display == EGL_NO_DISPLAY) return nullptr;
    const char *extensions = eglQueryString(display, EGL_EXTENSIONS);
    if (!HasExtension(extensions, "EGL_KHR_surfaceless_context") ||
        !(HasExtension(extensions, "EGL_KHR_no_config_context") ||
          HasExtension(extensions, "EGL_MESA_configless_context")))
        return nullptr;
    bool robust = HasExtension(extensions, "EGL_EXT_create_context_robustness");
    EGLContext context = CreateContext(display, robust);
    if (context == EGL_NO_CONTEXT && robust) {
        robust = false;
        context = CreateContext(display, false);
    }
    if (context == EGL_NO_CONTEXT) return nullptr;
    std::unique_ptr<EglContext> result(new EglContext(display, context, robust));
    if (!result->MakeCurrent()) return nullptr;
    return result;
}

EglContext::~EglContext() {
    if (eglGetCurrentContext() == static_cast<EGLContext>(context_))
        eglMakeCurrent(static_cast<EGLDisplay>(display_), EGL_NO_SURFACE, EGL_NO_SURFACE,
                       EGL_NO_CONTEXT);
    eglDestroyContext(static_cast<EGLDisplay>(display_), static_cast<EGLContext>(context_));
}

bool EglContext::MakeCurrent() {
    if (eglGetCurrentContext() == static_cast<EGLContext>(context_)) return true;
    return eglMakeCurrent(static_cast<EGLDisplay>(display_), EGL_NO_SURFACE, EGL_NO_SURFACE,
                          static_cast<EGLContext>(context_)) == EGL_TRUE;
}

bool EglContext::IsLost() const {
    return robust_ && glGetGraphicsResetStatus() != GL_NO_ERROR;
}

} // namespace qrv::d3d9
