// The library's exports: each routes its ViewHandle to the StandaloneEngine
// (handle 1) or to a ReliefView, and nothing thrown inside crosses back to the
// host.
#include "QRV3D.h"

#include <new>
#include <unordered_set>

#include "model/standalone_model.h"
#include "platform/trace/trace.h"
#include "standalone/mesh.h"
#include "standalone/standalone_engine.h"
#include "view/eye.h"
#include "view/relief_view.h"

namespace qrv {

namespace {

constexpr ViewHandle kNoView = 0;
constexpr ViewHandle kStandalone = 1;

// The views _QRV3DInit made and _QRV3DTerm has not ended. A handle outside this
// set is never dereferenced.
std::unordered_set<ReliefView *> &LiveViews() {
    static std::unordered_set<ReliefView *> views;
    return views;
}

// Runs an export's work; an exception becomes the export's failure value.
template <typename Result, typename Work>
Result Guarded(Result onFailure, Result onNoMemory, Work work) {
    try {
        return work();
    } catch (const std::bad_alloc &) {
        return onNoMemory;
    } catch (...) {
        return onFailure;
    }
}

} // namespace

HRESULT ReportFailure(const char *message, HRESULT hr) {
    // Every report names the engine's source file and the same line.
    trace::DXTrace(".\\QRV3D.cpp", 25, hr, message, TRUE);
    return hr;
}

ReliefView *FindView(ViewHandle view) {
    if (view == kNoView || view == kStandalone) return nullptr;
    auto *candidate = reinterpret_cast<ReliefView *>(view);
    return LiveViews().count(candidate) ? candidate : nullptr;
}

} // namespace qrv

using qrv::FindView;
using qrv::ReliefView;
namespace standalone = qrv::standalone;

// ---- Ordinals 1 and 2: C++ linkage -----------------------------------------------

bool MoveTest(float x, float y) { return qrv::EyeMoveTest(standalone::engine.eyeDistance, x, y); }

HRESULT _QRV3DRestoreDevice(bool *ok) { return standalone::RestoreDevice(ok); }

// ---- The C exports -----------------------------------------------------------------

extern "C" {

bool _IsWindowMode(void) { return standalone::engine.windowMode; }

int32_t _IsWindowed(void) { return standalone::engine.presentParams.Windowed; }

HRESULT _QRV3DChangeWindowSize(ViewHandle, int32_t width, int32_t height, bool reset) {
    // The StandaloneEngine's back buffer, whatever the handle.
    return standalone::ChangeWindowSize(width, height, reset);
}

void _QRV3DEffect(ViewHandle view, int32_t type, int32_t value) {
    if (view == 1) {
        standalone::engine.rotating = !standalone::engine.rotating; // type and value unused
        return;
    }
    if (ReliefView *v = FindView(view)) {
        if (type == 1) {
            v->rotating = value != 0;
        } else if (type == 2) {
            // Not clamped: 130 gives -30 and -20 gives 120. Wraps like the 32-bit
            // arithmetic it always was instead of overflowing.
            v->popupPercent =
                static_cast<int32_t>(static_cast<uint32_t>(100) - static_cast<uint32_t>(value));
        }
    }
}

void _QRV3DFillMode(ViewHandle view) {
    if (view == 1) {
        standalone::engine.solidFill = !standalone::engine.solidFill;
        return;
    }
    if (ReliefView *v = FindView(view)) v->ToggleFill();
}

HRESULT _QRV3DGet3DImage(ViewHandle view, HGLOBAL depthDib, HGLOBAL colourDib,
                         const char *photoPath) {
    if (view == 1) {
        return qrv::Guarded<HRESULT>(E_FAIL, E_OUTOFMEMORY, [&] {
            return standalone::BuildMeshFromImages(depthDib, colourDib);
        });
    }
    ReliefView *v = FindView(view);
    if (!v) return E_INVALIDARG;
    return qrv::Guarded<HRESULT>(E_FAIL, E_OUTOFMEMORY,
                                 [&] { return v->BuildStrips(depthDib, photoPath); });
}

ViewHandle _QRV3DInit(HWND window, const char *vertexShaderFile, const char *pixelShaderFile) {
    return qrv::Guarded<ViewHandle>(0, 0, [&]() -> ViewHandle {
        if (!vertexShaderFile && !pixelShaderFile) {
            auto *view = new ReliefView(window);
            try {
                qrv::LiveViews().insert(view);
            } catch (...) {
                delete view;
                throw;
            }
            return reinterpret_cast<ViewHandle>(view);
        }
        const HRESULT hr = standalone::InitDXGraphics(window, vertexShaderFile, pixelShaderFile);
        if (FAILED(hr)) {
            qrv::ReportFailure("WinMain InitDXGraphics", hr);
            return 0;
        }
        standalone::InitD3DObject();
        return 1;
    });
}

HRESULT _QRV3DLoadMesh(void) { return S_OK; }

void _QRV3DMoveEye(ViewHandle view, float dx, float dy, float dz) {
    if (view == 1) {
        qrv::StepEye(standalone::engine.eye, standalone::engine.eyeDistance, dx, dy, dz);
        return;
    }
    if (ReliefView *v = FindView(view)) v->MoveEye(dx, dy, dz);
}

HRESULT _QRV3DReadQ3DFile(ViewHandle view, const char *path) {
    if (view == 1) {
        return qrv::Guarded<HRESULT>(E_FAIL, E_OUTOFMEMORY,
                                     [&] { return standalone::ReadQ3DFile(path); });
    }
    ReliefView *v = FindView(view);
    if (!v) return E_INVALIDARG;
    return qrv::Guarded<HRESULT>(E_FAIL, E_OUTOFMEMORY, [&] {
        v->ReadModel(path);
        return S_OK;
    });
}

bool _QRV3DRender(ViewHandle view) {
    if (view == 1) return qrv::Guarded<bool>(false, false, [] { return standalone::Render(); });
    ReliefView *v = FindView(view);
    if (!v) return false;
    return qrv::Guarded<bool>(false, false, [&] {
        const HRESULT hr = v->Render();
        if (SUCCEEDED(hr)) return true;
        // A lost device gets one recovery attempt per failed frame; the host simply
        // draws again later.
        if (hr == D3DERR_DEVICELOST) v->RecoverDevice();
        return false;
    });
}

HRESULT _QRV3DSetTexture(ViewHandle view, const char *path) {
    if (view == 1) {
        return qrv::Guarded<HRESULT>(E_FAIL, E_OUTOFMEMORY,
                                     [&] { return standalone::SetTexture(path); });
    }
    ReliefView *v = FindView(view);
    if (!v) return E_INVALIDARG;
    return qrv::Guarded<HRESULT>(E_FAIL, E_OUTOFMEMORY, [&] {
        v->LoadPhotoTexture(path); // the view keeps no texture when this fails
        return S_OK;
    });
}

void _QRV3DSetThreshold(ViewHandle view, int32_t level) {
    if (ReliefView *v = FindView(view)) v->SetThreshold(level);
}

void _QRV3DShadeMode(ViewHandle, int32_t mode) {
    // Acts on the StandaloneEngine's device whatever the handle; a ReliefView's
    // drawing never changes through it.
    standalone::SetShadeMode(mode);
}

void _QRV3DTerm(ViewHandle view) {
    if (view == 1) {
        standalone::ReleaseDXGraphics();
        return;
    }
    if (ReliefView *v = FindView(view)) {
        qrv::LiveViews().erase(v);
        delete v;
    }
}

HRESULT _QRV3DWriteQ3DFile(ViewHandle view, HGLOBAL depthDib, HGLOBAL colourDib,
                           const char *path) {
    if (view == 1) {
        return qrv::Guarded<HRESULT>(E_FAIL, E_OUTOFMEMORY, [&] {
            return standalone::WriteQ3DFile(depthDib, colourDib, path);
        });
    }
    ReliefView *v = FindView(view);
    if (!v) return E_INVALIDARG;
    return qrv::Guarded<HRESULT>(E_FAIL, E_OUTOFMEMORY, [&] {
        v->WriteModel(depthDib, path); // the colour image is not used on this road
        return S_OK;
    });
}

#ifdef QRV_MIDI_PENDING
// Until the MIDI player is linked in, its exports make and play nothing.
int32_t _QRVMidiGetPos(MidiHandle) { return 0; }
MidiHandle _QRVMidiInit(HWND, const char *) { return 0; }
void _QRVMidiPlay(MidiHandle, int32_t) {}
void _QRVMidiTempoChange(MidiHandle, float) {}
void _QRVMidiTerm(MidiHandle) {}
#endif

// ---- The ordinal table ------------------------------------------------------------

#define QRV_EXPORT(ordinal, name, function)                                                        \
    { ordinal, name, reinterpret_cast<const void *>(&function) }

const QrvExport qrvExportTable[QRV_EXPORT_COUNT] = {
    QRV_EXPORT(1, "_Z8MoveTestff", MoveTest),
    QRV_EXPORT(2, "_Z19_QRV3DRestoreDevicePb", _QRV3DRestoreDevice),
    QRV_EXPORT(3, "_IsWindowMode", _IsWindowMode),
    QRV_EXPORT(4, "_IsWindowed", _IsWindowed),
    QRV_EXPORT(5, "_QRV3DChangeWindowSize", _QRV3DChangeWindowSize),
    QRV_EXPORT(6, "_QRV3DEffect", _QRV3DEffect),
    QRV_EXPORT(7, "_QRV3DFillMode", _QRV3DFillMode),
    QRV_EXPORT(8, "_QRV3DGet3DImage", _QRV3DGet3DImage),
    QRV_EXPORT(9, "_QRV3DInit", _QRV3DInit),
    QRV_EXPORT(10, "_QRV3DLoadMesh", _QRV3DLoadMesh),
    QRV_EXPORT(11, "_QRV3DMoveEye", _QRV3DMoveEye),
    QRV_EXPORT(12, "_QRV3DReadQ3DFile", _QRV3DReadQ3DFile),
    QRV_EXPORT(13, "_QRV3DRender", _QRV3DRender),
    QRV_EXPORT(14, "_QRV3DSetTexture", _QRV3DSetTexture),
    QRV_EXPORT(15, "_QRV3DSetThreshold", _QRV3DSetThreshold),
    QRV_EXPORT(16, "_QRV3DShadeMode", _QRV3DShadeMode),
    QRV_EXPORT(17, "_QRV3DTerm", _QRV3DTerm),
    QRV_EXPORT(18, "_QRV3DWriteQ3DFile", _QRV3DWriteQ3DFile),
    QRV_EXPORT(19, "_QRVMidiGetPos", _QRVMidiGetPos),
    QRV_EXPORT(20, "_QRVMidiInit", _QRVMidiInit),
    QRV_EXPORT(21, "_QRVMidiPlay", _QRVMidiPlay),
    QRV_EXPORT(22, "_QRVMidiTempoChange", _QRVMidiTempoChange),
    QRV_EXPORT(23, "_QRVMidiTerm", _QRVMidiTerm),
};

} // extern "C"
