#include "frame_host.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "png_writer.h"

namespace qrv::render {

int Fail(int code, const std::string &message) {
    std::fprintf(stderr, "qrv-render: %s\n", message.c_str());
    return code;
}

std::string HResultText(HRESULT hr) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08x", static_cast<unsigned>(hr));
    return text;
}

Exports ImportExports() {
    Exports e{};
    Import(6, e.effect);
    Import(7, e.fillMode);
    Import(8, e.get3DImage);
    Import(9, e.init);
    Import(11, e.moveEye);
    Import(12, e.readQ3DFile);
    Import(13, e.render);
    Import(14, e.setTexture);
    Import(15, e.setThreshold);
    Import(16, e.shadeMode);
    Import(17, e.term);
    return e;
}

FrameWindow::FrameWindow(int32_t clientWidth, int32_t clientHeight)
    : width(clientWidth), height(clientHeight) {
    window.context = this;
    window.clientSize = [](void *self, int32_t *w, int32_t *h) {
        const auto *me = static_cast<FrameWindow *>(self);
        *w = me->width;
        *h = me->height;
    };
    window.present = [](void *self, const uint32_t *frame, int32_t w, int32_t h,
                        int32_t stride) {
        auto *me = static_cast<FrameWindow *>(self);
        me->frameWidth = w;
        me->frameHeight = h;
        me->pixels.resize(static_cast<size_t>(w) * static_cast<size_t>(h));
        for (int32_t y = 0; y < h; ++y)
            std::memcpy(me->pixels.data() + static_cast<size_t>(y) * static_cast<size_t>(w),
                        reinterpret_cast<const uint8_t *>(frame) +
                            static_cast<size_t>(y) * static_cast<size_t>(stride),
                        static_cast<size_t>(w) * 4);
    };
}

int DrawAndWrite(FrameWindow &window, bool (*render)(ViewHandle), ViewHandle view,
                 const std::string &path) {
    window.pixels.clear();
    if (!render(view) || window.pixels.empty())
        return Fail(kFailed, "the frame could not be drawn (no OpenGL device?)");
    std::string error;
    if (!WritePng(path, window.pixels.data(), window.frameWidth, window.frameHeight,
                  window.frameWidth * 4, error))
        return Fail(kFailed, error);
    return 0;
}

void MoveEyeBySteps(void (*moveEye)(ViewHandle, float, float, float), ViewHandle view,
                    const int (&steps)[3]) {
    for (int axis = 0; axis < 3; ++axis) {
        const int n = steps[axis];
        const float step = n < 0 ? -0.1f : 0.1f;
        for (int i = 0; i < std::abs(n); ++i)
            moveEye(view, axis == 0 ? step : 0, axis == 1 ? step : 0, axis == 2 ? step : 0);
    }
}

uint32_t TickCount() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<uint32_t>(static_cast<uint64_t>(now.tv_sec) * 1000u +
                                 static_cast<uint64_t>(now.tv_nsec) / 1000000u);
}

} // namespace qrv::render
