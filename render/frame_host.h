// What both of qrv-render's roads are as a host of libqrv.so: the exports taken
// from the ordinal table, the window the library draws into with the last frame
// it presented, movable blocks, the library's clock, and failing with a message.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "qrv.h"

namespace qrv::render {

// Exit statuses: a bad command line or unreadable input, and a frame that could
// not be drawn or written.
constexpr int kBadInput = 2;
constexpr int kFailed = 1;

// Prints "qrv-render: message" to stderr and returns code.
int Fail(int code, const std::string &message);

// An HRESULT as "0x%08x".
std::string HResultText(HRESULT hr);

// Takes an export from the ordinal table, as a host imports it.
template <typename F> void Import(int ordinal, F &function) {
    function = reinterpret_cast<F>(const_cast<void *>(qrvExportTable[ordinal - 1].function));
}

// The exports qrv-render's roads use, taken from the ordinal table.
struct Exports {
    void (*effect)(ViewHandle, int32_t, int32_t);
    void (*fillMode)(ViewHandle);
    HRESULT (*get3DImage)(ViewHandle, HGLOBAL, HGLOBAL, const char *);
    ViewHandle (*init)(HWND, const char *, const char *);
    void (*moveEye)(ViewHandle, float, float, float);
    HRESULT (*readQ3DFile)(ViewHandle, const char *);
    bool (*render)(ViewHandle);
    HRESULT (*setTexture)(ViewHandle, const char *);
    void (*setThreshold)(ViewHandle, int32_t);
    void (*shadeMode)(ViewHandle, int32_t);
    void (*term)(ViewHandle);
};
Exports ImportExports();

// The window the library draws into: a fixed client size, and the last frame
// presented.
struct FrameWindow {
    FrameWindow(int32_t clientWidth, int32_t clientHeight);
    FrameWindow(const FrameWindow &) = delete;
    FrameWindow &operator=(const FrameWindow &) = delete;

    int32_t width = 0;
    int32_t height = 0;
    std::vector<uint32_t> pixels; // frameWidth x frameHeight, top row first
    int32_t frameWidth = 0;
    int32_t frameHeight = 0;
    QrvWindow window{};
};

// Draws one frame of view through render into window and writes it to path as
// a PNG file. Returns 0, or kFailed after saying why.
int DrawAndWrite(FrameWindow &window, bool (*render)(ViewHandle), ViewHandle view,
                 const std::string &path);

// Moves the eye by steps of 0.1 along x, y and z, one moveEye call a step.
void MoveEyeBySteps(void (*moveEye)(ViewHandle, float, float, float), ViewHandle view,
                    const int (&steps)[3]);

// A movable block freed with the object.
class GlobalBlock {
public:
    GlobalBlock() = default;
    ~GlobalBlock() { Reset(nullptr); }
    GlobalBlock(const GlobalBlock &) = delete;
    GlobalBlock &operator=(const GlobalBlock &) = delete;
    void Reset(HGLOBAL block) {
        if (handle_) GlobalFree(handle_);
        handle_ = block;
    }
    HGLOBAL get() const { return handle_; }

private:
    HGLOBAL handle_ = nullptr;
};

// The library's tick clock: the monotonic clock in milliseconds, 32 bits wide.
uint32_t TickCount();

} // namespace qrv::render
