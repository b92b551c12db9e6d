// A ReliefView made through the exports on the recording stand-in device, with
// access to what it holds.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "QRV3D.h"
#include "fixtures.h"
#include "qrv.h"
#include "recording_device.h"
#include "view/relief_view.h"

namespace qrv::testing {

// A window of a fixed client size that counts the frames it is shown.
struct TestWindow {
    int32_t width = 426;
    int32_t height = 426;
    int framesShown = 0;
    QrvWindow window{this,
                     [](void *self, int32_t *w, int32_t *h) {
                         *w = static_cast<TestWindow *>(self)->width;
                         *h = static_cast<TestWindow *>(self)->height;
                     },
                     [](void *self, const uint32_t *, int32_t, int32_t, int32_t) {
                         ++static_cast<TestWindow *>(self)->framesShown;
                     }};
};

class ViewTest : public ::testing::Test {
protected:
    void SetUp() override {
        handle = _QRV3DInit(&window.window, nullptr, nullptr);
        ASSERT_NE(handle, 0);
        view = FindView(handle);
        ASSERT_NE(view, nullptr);
    }
    void TearDown() override {
        _QRV3DTerm(handle);
        EXPECT_EQ(session.recorder->liveObjects, 0) << "objects left alive after _QRV3DTerm";
    }

    Recorder &recorder() { return *session.recorder; }
    RecordingDevice *device() { return dynamic_cast<RecordingDevice *>(view->device); }

    // The strip buffer's vertices (empty without a buffer).
    std::vector<StripVertex> Vertices() const {
        std::vector<StripVertex> out;
        auto *buffer = dynamic_cast<RecordingVertexBuffer *>(view->stripBuffer);
        if (!buffer) return out;
        out.resize(buffer->bytes.size() / sizeof(StripVertex));
        std::memcpy(out.data(), buffer->bytes.data(), out.size() * sizeof(StripVertex));
        return out;
    }

    // The z of picture column c, picture row pr (0 at the top), checked to be the
    // same in both strips that hold the row.
    float ZAt(const std::vector<StripVertex> &v, int c, int pr) const {
        const int V = view->vertsPerStrip;
        const int strips = view->stripCount;
        float z = 0.0f;
        bool seen = false;
        if (pr < strips) {
            z = v[static_cast<size_t>(pr * V + 2 * c)].z;
            seen = true;
        }
        if (pr >= 1) {
            const float lower = v[static_cast<size_t>((pr - 1) * V + 2 * c + 1)].z;
            if (seen) {
                EXPECT_EQ(lower, z) << "column " << c << " row " << pr;
            }
            z = lower;
        }
        return z;
    }

    HRESULT Build(const std::vector<uint8_t> &dib, const std::string &photo) {
        Block block(dib);
        return _QRV3DGet3DImage(handle, block.get(), nullptr, photo.c_str());
    }

    RecordingSession session;
    TestWindow window;
    TempDir dir;
    ViewHandle handle = 0;
    ReliefView *view = nullptr;
};

// z of a grey level at full pop-up: bright comes near.
inline float ZOfGrey(int grey) { return static_cast<float>((255 - grey) - 128) / 128.0f; }

} // namespace qrv::testing
