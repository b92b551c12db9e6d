// Model-file tests: a folder of their own as the current directory, the
// StandaloneEngine set up on the system's OpenGL device with the shipped shaders,
// and what the engine's buffers hold, read back through Lock.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <unistd.h>

#include "QRV3D.h"
#include "fixtures.h"
#include "platform/trace/trace.h"
#include "qrv.h"
#include "standalone/standalone_engine.h"
#include "view/relief_view.h"

namespace qrv::testing {

inline std::string ReadText(const std::string &path) {
    std::ifstream file(path, std::ios::binary);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

inline std::string WriteText(const TempDir &dir, const std::string &name, const std::string &text) {
    return dir.Write(name, std::vector<uint8_t>(text.begin(), text.end()));
}

// What a vertex or index buffer holds, as values of T; empty without a buffer.
template <typename T, typename Buffer> std::vector<T> Contents(Buffer *buffer) {
    std::vector<T> out;
    if (!buffer) return out;
    typename std::conditional_t<std::is_same_v<Buffer, IDirect3DIndexBuffer9>, D3DINDEXBUFFER_DESC,
                                D3DVERTEXBUFFER_DESC>
        desc{};
    if (FAILED(buffer->GetDesc(&desc))) return out;
    void *data = nullptr;
    if (FAILED(buffer->Lock(0, 0, &data, D3DLOCK_READONLY)) || !data) return out;
    out.resize(desc.Size / sizeof(T));
    std::memcpy(out.data(), data, out.size() * sizeof(T));
    buffer->Unlock();
    return out;
}

// The tracer's reports as messages, in order; every box is answered No.
struct Reports : trace::Sink {
    Reports() { trace::SetSink(this); }
    ~Reports() override { trace::SetSink(nullptr); }
    Reports(const Reports &) = delete;
    Reports &operator=(const Reports &) = delete;
    void DebugOutput(const std::string &text) override {
        // Three pieces a report: "<file>(<line>): ", the message, " (hr=...)".
        if (piece_ == 1) messages.push_back(text);
        piece_ = (piece_ + 1) % 3;
    }
    bool AskYesNo(const std::string &, const std::string &) override { return false; }
    std::vector<std::string> messages;

private:
    int piece_ = 0;
};

// A window of a fixed client size that keeps the last frame shown.
struct FrameWindow {
    int32_t width = 128;
    int32_t height = 96;
    std::vector<uint32_t> frame;
    QrvWindow window{this,
                     [](void *self, int32_t *w, int32_t *h) {
                         *w = static_cast<FrameWindow *>(self)->width;
                         *h = static_cast<FrameWindow *>(self)->height;
                     },
                     [](void *self, const uint32_t *pixels, int32_t w, int32_t h, int32_t stride) {
                         auto *me = static_cast<FrameWindow *>(self);
                         me->frame.resize(static_cast<size_t>(w) * static_cast<size_t>(h));
                         for (int32_t y = 0; y < h; ++y)
                             std::memcpy(me->frame.data() + static_cast<size_t>(y) * w,
                                         reinterpret_cast<const uint8_t *>(pixels) +
                                             static_cast<size_t>(y) * stride,
                                         static_cast<size_t>(w) * 4);
                     }};
};

// A test run in a folder of its own as the current directory.
class InFolderTest : public ::testing::Test {
protected:
    void SetUp() override {
        char *cwd = getcwd(nullptr, 0);
        previousDir_ = cwd ? cwd : "";
        std::free(cwd);
        ASSERT_EQ(chdir(dir.Path(".").c_str()), 0);
    }
    void TearDown() override {
        if (!previousDir_.empty()) {
            EXPECT_EQ(chdir(previousDir_.c_str()), 0);
        }
    }

    TempDir dir;

private:
    std::string previousDir_;
};

// The StandaloneEngine set up for a window through _QRV3DInit with the shipped
// shaders, in a folder without "default.q3d".
class StandaloneModelTest : public InFolderTest {
protected:
    void SetUp() override {
        InFolderTest::SetUp();
        standalone::engine = standalone::StandaloneEngine{};
        ASSERT_EQ(_QRV3DInit(&window.window, QRV_SHADER_DIR "/relief.vsh",
                             QRV_SHADER_DIR "/relief.psh"),
                  1)
            << "no OpenGL device for the StandaloneEngine";
    }
    void TearDown() override {
        _QRV3DTerm(1);
        standalone::engine = standalone::StandaloneEngine{};
        InFolderTest::TearDown();
    }

    standalone::StandaloneEngine &engine() { return standalone::engine; }
    std::vector<float> Positions() { return Contents<float>(engine().positionBuffer); }
    std::vector<uint32_t> Colours() { return Contents<uint32_t>(engine().colorBuffer); }
    std::vector<float> TexCoords() { return Contents<float>(engine().texCoordBuffer); }
    // The kept triangles' indices, whatever the index size.
    std::vector<uint32_t> Indices() {
        std::vector<uint32_t> out;
        IDirect3DIndexBuffer9 *buffer = engine().indexBuffer;
        if (!buffer) return out;
        D3DINDEXBUFFER_DESC desc{};
        buffer->GetDesc(&desc);
        if (desc.Format == D3DFMT_INDEX32) {
            out = Contents<uint32_t>(buffer);
        } else {
            for (uint16_t i : Contents<uint16_t>(buffer)) out.push_back(i);
        }
        out.resize(std::min<size_t>(out.size(), size_t{engine().triangleCount} * 3));
        return out;
    }

    FrameWindow window;
};

// A ReliefView made through _QRV3DInit on the system's OpenGL device.
class ReliefModelTest : public InFolderTest {
protected:
    void SetUp() override {
        InFolderTest::SetUp();
        handle = _QRV3DInit(&window.window, nullptr, nullptr);
        ASSERT_NE(handle, 0);
        view = FindView(handle);
        ASSERT_NE(view, nullptr);
        ASSERT_NE(view->device, nullptr) << "no OpenGL device for the view";
    }
    void TearDown() override {
        _QRV3DTerm(handle);
        InFolderTest::TearDown();
    }

    std::vector<StripVertex> Strips() { return Contents<StripVertex>(view->stripBuffer); }

    FrameWindow window;
    ViewHandle handle = 0;
    ReliefView *view = nullptr;
};

} // namespace qrv::testing
