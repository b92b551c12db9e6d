// A lost OpenGL device under a ReliefView: the frame that meets the loss gives
// false after the recovery's wait, and once the device can be reset the view
// draws the same picture again from the strips and texture it kept.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>

#include "QRV3D.h"
#include "fixtures.h"
#include "platform/d3d9/d3d9_testing.h"
#include "view/relief_view.h"

namespace qrv::testing {
namespace {

struct CapturingWindow {
    std::vector<uint32_t> frame;
    int frames = 0;
    QrvWindow window{this, [](void *, int32_t *w, int32_t *h) { *w = *h = 64; },
                     [](void *self, const uint32_t *pixels, int32_t w, int32_t h, int32_t stride) {
                         auto *me = static_cast<CapturingWindow *>(self);
                         me->frame.clear();
                         for (int32_t y = 0; y < h; ++y) {
                             const auto *row = reinterpret_cast<const uint32_t *>(
                                 reinterpret_cast<const uint8_t *>(pixels) + y * stride);
                             me->frame.insert(me->frame.end(), row, row + w);
                         }
                         ++me->frames;
                     }};
};

TEST(GlDeviceLoss, RenderGivesFalseThenDrawsTheSameStripsAgain) {
    CapturingWindow window;
    const ViewHandle handle = _QRV3DInit(&window.window, nullptr, nullptr);
    ASSERT_NE(handle, 0);
    ReliefView *view = FindView(handle);
    if (!view->device) {
        _QRV3DTerm(handle);
        GTEST_SKIP() << "no OpenGL device on this machine";
    }
    TempDir dir;
    const std::string photo = dir.Write(
        "p.bmp", Bmp24File(16, 16, [](int c, int r) { return c < 8 ? 0xFF8000u : r * 0x0F0F0Fu; }));
    Block depth(GreyDib(
        16, 16, [](int c, int r) { return static_cast<unsigned>((c * 13 + r * 7) % 256); }));
    ASSERT_EQ(_QRV3DGet3DImage(handle, depth.get(), nullptr, photo.c_str()), S_OK);
    _QRV3DMoveEye(handle, 0.5f, 0.3f, 0);
    ASSERT_TRUE(_QRV3DRender(handle));
    const std::vector<uint32_t> before = window.frame;
    ASSERT_EQ(before.size(), 64u * 64u);
    EXPECT_NE(std::count(before.begin(), before.end(), 0xFF0000FFu), 64 * 64) << "the relief shows";
    IDirect3DVertexBuffer9 *strips = view->stripBuffer;

    ASSERT_TRUE(d3d9::InjectDeviceLoss(view->device));
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(_QRV3DRender(handle));
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(100));
    EXPECT_FALSE(_QRV3DRender(handle)); // still lost: nothing can be reset yet

    ASSERT_TRUE(d3d9::SetDeviceResettable(view->device, true));
    // The next frames reset the device and draw again.
    bool drawn = false;
    for (int attempt = 0; attempt < 3 && !drawn; ++attempt) drawn = _QRV3DRender(handle);
    ASSERT_TRUE(drawn);
    EXPECT_EQ(view->stripBuffer, strips);
    EXPECT_EQ(window.frame, before);
    _QRV3DTerm(handle);
}

} // namespace
} // namespace qrv::testing
