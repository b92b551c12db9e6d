// BuildStrips over arbitrary PackedDib blocks, then a frame over what it built, on
// the recording stand-in device: every read stays inside the block, the counts
// describe the buffer, and the frame never draws past a row.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "qrv.h"
#include "recording_device.h"
#include "view/relief_view.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    static qrv::testing::RecordingSession session;
    static QrvWindow window{nullptr,
                            [](void *, int32_t *w, int32_t *h) {
                                *w = 64;
                                *h = 64;
                            },
                            [](void *, const uint32_t *, int32_t, int32_t, int32_t) {}};
    static qrv::ReliefView *view = [] {
        session.recorder->maxBufferBytes = 1u << 20; // the harness's memory, not a rule
        return new qrv::ReliefView(&window);
    }();

    // The first byte steers the pop-up percent and the tear level; the rest is the
    // block, exactly as long as the input.
    if (size < 1) return 0;
    view->popupPercent = static_cast<int8_t>(data[0]);
    view->SetThreshold(data[0] % 64);
    HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, size - 1);
    if (!block) return 0;
    if (size > 1) {
        std::memcpy(GlobalLock(block), data + 1, size - 1);
        GlobalUnlock(block);
    }
    view->BuildStrips(block, nullptr);
    GlobalFree(block);

    if (view->stripBuffer) {
        D3DVERTEXBUFFER_DESC desc{};
        view->stripBuffer->GetDesc(&desc);
        const uint64_t expected = uint64_t{static_cast<uint32_t>(view->vertsPerStrip)} *
                                  static_cast<uint32_t>(view->stripCount) * 24u;
        if (view->vertsPerStrip <= 0 || view->stripCount <= 0 || desc.Size != expected)
            __builtin_trap();
    } else if (view->vertsPerStrip != 0 || view->stripCount != 0) {
        __builtin_trap();
    }
    // The frame logs every row's lock; keep the walk to reliefs of modest height.
    if (view->stripCount <= 512) {
        session.recorder->calls.clear();
        view->Render();
        session.recorder->calls.clear();
    }
    return 0;
}
