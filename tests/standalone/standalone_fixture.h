// The StandaloneEngine through the exports on the recording stand-in: a Direct3D
// object whose caps, desktop mode and display modes a test chooses, the tracer's
// messages captured in order, shader files and a current directory of the
// test's own.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include <unistd.h>

#include "QRV3D.h"
#include "fixtures.h"
#include "platform/d3dx9/assembler.h"
#include "platform/trace/trace.h"
#include "qrv.h"
#include "recording_device.h"
#include "standalone/standalone_engine.h"
#include "standalone/standalone_testing.h"
#include "view_fixture.h"

namespace qrv::testing {

// The tracer's reports as (message, code) pairs, in order; every box is answered No.
struct MessageSink : trace::Sink {
    MessageSink() { trace::SetSink(this); }
    ~MessageSink() override { trace::SetSink(nullptr); }
    MessageSink(const MessageSink &) = delete;
    MessageSink &operator=(const MessageSink &) = delete;

    void DebugOutput(const std::string &text) override {
        // Three pieces a report: "<file>(<line>): ", the message, " (hr=<name> (0x<code>))".
        if (piece_ == 1) messages.push_back(text);
        if (piece_ == 2) {
            const size_t at = text.rfind("(0x");
            codes.push_back(at == std::string::npos
                                ? 0
                                : static_cast<HRESULT>(std::strtoul(text.c_str() + at + 3,
                                                                    nullptr, 16)));
        }
        piece_ = (piece_ + 1) % 3;
    }
    bool AskYesNo(const std::string &, const std::string &) override {
        ++boxes;
        return false;
    }
    void Clear() {
        messages.clear();
        codes.clear();
        boxes = 0;
    }

    std::vector<std::string> messages;
    std::vector<HRESULT> codes;
    int boxes = 0;

private:
    int piece_ = 0;
};

struct StandaloneSession;

// The recording Direct3D object with the caps, desktop mode and display modes of
// its session.
class SelectionDirect3D : public RecordingDirect3D {
public:
    SelectionDirect3D(std::shared_ptr<Recorder> recorder, StandaloneSession *session);
    HRESULT GetDeviceCaps(UINT adapter, D3DDEVTYPE type, D3DCAPS9 *caps) override;
    HRESULT GetAdapterDisplayMode(UINT adapter, D3DDISPLAYMODE *mode) override;

private:
    StandaloneSession *session_;
};

// Installs SelectionDirect3D as what Direct3DCreate9 returns, for the session's
// lifetime.
struct StandaloneSession {
    StandaloneSession() : recorder(std::make_shared<Recorder>()) {
        current() = this;
        d3d9::SetDirect3DFactory(&Make);
    }
    ~StandaloneSession() {
        d3d9::SetDirect3DFactory(nullptr);
        current() = nullptr;
    }
    StandaloneSession(const StandaloneSession &) = delete;
    StandaloneSession &operator=(const StandaloneSession &) = delete;

    RecordingDevice *lastDevice() const {
        for (auto it = direct3ds.rbegin(); it != direct3ds.rend(); ++it)
            if (!(*it)->devices.empty()) return (*it)->devices.back();
        return nullptr;
    }

    std::shared_ptr<Recorder> recorder;
    std::vector<SelectionDirect3D *> direct3ds; // not owned
    // Changes the caps a device type reports (after the stand-in's own values).
    std::function<void(D3DDEVTYPE, D3DCAPS9 &)> editCaps;
    D3DDISPLAYMODE desktop{1024, 768, 60, D3DFMT_X8R8G8B8};
    std::vector<D3DDISPLAYMODE> modes{{800, 600, 60, D3DFMT_X8R8G8B8},
                                      {1024, 768, 60, D3DFMT_X8R8G8B8}};

private:
    static StandaloneSession *&current() {
        static StandaloneSession *session = nullptr;
        return session;
    }
    static IDirect3D9 *Make(UINT sdkVersion) {
        StandaloneSession *s = current();
        if (!s || sdkVersion != D3D_SDK_VERSION || !s->recorder->direct3dAvailable) return nullptr;
        s->recorder->Log(detail::Call("Direct3DCreate9", sdkVersion));
        auto *d3d = new SelectionDirect3D(s->recorder, s);
        d3d->modes = s->modes;
        s->direct3ds.push_back(d3d);
        return d3d;
    }
};

inline SelectionDirect3D::SelectionDirect3D(std::shared_ptr<Recorder> recorder,
                                            StandaloneSession *session)
    : RecordingDirect3D(std::move(recorder)), session_(session) {}

inline HRESULT SelectionDirect3D::GetDeviceCaps(UINT adapter, D3DDEVTYPE type, D3DCAPS9 *caps) {
    const HRESULT hr = RecordingDirect3D::GetDeviceCaps(adapter, type, caps);
    if (SUCCEEDED(hr) && session_->editCaps) session_->editCaps(type, *caps);
    return hr;
}

inline HRESULT SelectionDirect3D::GetAdapterDisplayMode(UINT adapter, D3DDISPLAYMODE *mode) {
    const HRESULT hr = RecordingDirect3D::GetAdapterDisplayMode(adapter, mode);
    if (SUCCEEDED(hr)) *mode = session_->desktop;
    return hr;
}

// A vertex shader that fits the engine: the four dot products of the position with
// c0 to c3, the colour and the texture coordinate passed on.
inline const char *kVertexShaderText = "vs_1_1\n"
                                       "dcl_position v0\n"
                                       "dcl_color v1\n"
                                       "dcl_texcoord v2\n"
                                       "dp4 oPos.x, v0, c0\n"
                                       "dp4 oPos.y, v0, c1\n"
                                       "dp4 oPos.z, v0, c2\n"
                                       "dp4 oPos.w, v0, c3\n"
                                       "mov oD0, v1\n"
                                       "mov oT0.xy, v2\n";
// The vertex colour.
inline const char *kPixelShaderText = "ps_1_1\n"
                                      "mov r0, v0\n";
// The texture modulated by the colour.
inline const char *kTexturePixelShaderText = "ps_1_1\n"
                                             "tex t0\n"
                                             "mul r0, t0, v0\n";

inline std::vector<uint8_t> Text(const char *text) {
    return std::vector<uint8_t>(text, text + std::strlen(text));
}

// The tokens of shader assembly text; none where it does not assemble.
inline std::vector<DWORD> Assembled(const char *text) {
    ID3DXBuffer *code = nullptr;
    std::vector<DWORD> tokens;
    if (SUCCEEDED(d3dx9::AssembleShaderText(text, "test", &code, nullptr)) && code) {
        const auto *p = static_cast<const DWORD *>(code->GetBufferPointer());
        tokens.assign(p, p + code->GetBufferSize() / sizeof(DWORD));
        code->Release();
    }
    return tokens;
}

// The record back to its values at load, all objects released.
inline void ResetEngine() {
    standalone::ReleaseDXGraphics();
    standalone::engine = standalone::StandaloneEngine{};
    standalone::SetTickSource(nullptr);
    standalone::SetTextureShaderFolder(nullptr);
}

// A StandaloneEngine test on the recording stand-in, run in a folder of its own
// (no "default.q3d") with the two shader files in it.
class StandaloneTest : public ::testing::Test {
protected:
    void SetUp() override {
        ResetEngine();
        char *cwd = getcwd(nullptr, 0);
        previousDir = cwd ? cwd : "";
        std::free(cwd);
        ASSERT_EQ(chdir(dir.Path(".").c_str()), 0);
        vertexShader = dir.Write("relief.vsh", Text(kVertexShaderText));
        pixelShader = dir.Write("relief.psh", Text(kPixelShaderText));
    }
    void TearDown() override {
        _QRV3DTerm(1);
        EXPECT_EQ(recorder().liveObjects, 0) << "objects left alive after _QRV3DTerm(1)";
        ResetEngine();
        if (!previousDir.empty()) {
            EXPECT_EQ(chdir(previousDir.c_str()), 0);
        }
    }

    ViewHandle Init() { return _QRV3DInit(&window.window, vertexShader.c_str(), pixelShader.c_str()); }

    Recorder &recorder() { return *session.recorder; }
    RecordingDevice *device() { return session.lastDevice(); }

    // The bytes the engine wrote into its buffers, as the values they hold.
    template <typename T> static std::vector<T> Contents(IDirect3DVertexBuffer9 *buffer) {
        return Values<T>(dynamic_cast<RecordingVertexBuffer *>(buffer));
    }
    template <typename T> static std::vector<T> Contents(IDirect3DIndexBuffer9 *buffer) {
        return Values<T>(dynamic_cast<RecordingIndexBuffer *>(buffer));
    }
    template <typename T, typename Buffer> static std::vector<T> Values(Buffer *buffer) {
        std::vector<T> out;
        if (!buffer) return out;
        out.resize(buffer->bytes.size() / sizeof(T));
        std::memcpy(out.data(), buffer->bytes.data(), out.size() * sizeof(T));
        return out;
    }

    StandaloneSession session;
    MessageSink sink;
    TestWindow window;
    TempDir dir;
    std::string previousDir;
    std::string vertexShader;
    std::string pixelShader;
};

} // namespace qrv::testing
