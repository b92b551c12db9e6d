// ReliefView lifecycle: creation of its device, state resets, release and recovery
// after a lost device.
#include "view/relief_view.h"

#include <cmath>
#include <cstring>

#include "platform/win32/win32.h"

namespace qrv {

namespace {

template <typename T> void ReleaseAndClear(T *&object) {
    if (object) {
        object->Release();
        object = nullptr;
    }
}

} // namespace

ReliefView::ReliefView(HWND window)
    : rotating(false), popupPercent(100), d3d(nullptr), device(nullptr), presentParams{},
      stripBuffer(nullptr), photoTexture(nullptr), eye{0.0f, 0.0f, -2.5f}, eyeDistance(2.5f),
      solidFill(true), vertsPerStrip(0), stripCount(0), tearThreshold(1.0f), modelPath{} {
    ResetState(true);

    d3d = Direct3DCreate9(D3D_SDK_VERSION);
    if (!d3d) return; // a view without Direct3D builds nothing visible but stays a view

    std::memset(&presentParams, 0, sizeof presentParams);
    presentParams.SwapEffect = D3DSWAPEFFECT_DISCARD;
    presentParams.BackBufferFormat = D3DFMT_UNKNOWN;
    presentParams.Windowed = TRUE;
    presentParams.EnableAutoDepthStencil = TRUE;
    presentParams.AutoDepthStencilFormat = D3DFMT_D16;

    if (FAILED(d3d->CreateDevice(D3DADAPTER_DEFAULT, D3DDEVTYPE_HAL, window,
                                 D3DCREATE_SOFTWARE_VERTEXPROCESSING, &presentParams, &device))) {
        device = nullptr;
        return;
    }
    SetRenderStates();
}

ReliefView::~ReliefView() {
    ReleaseResources();
    ReleaseAndClear(device);
    ReleaseAndClear(d3d);
}

void ReliefView::ResetState(bool all) {
    if (all) {
        eye = D3DXVECTOR3{0.0f, 0.0f, -2.5f};
        eyeDistance = std::sqrt(eye.x * eye.x + eye.y * eye.y + eye.z * eye.z);
        rotating = false;
        solidFill = true;
        tearThreshold = 1.0f;
    }
    vertsPerStrip = 0;
    stripCount = 0;
}

void ReliefView::ReleaseResources() {
    ReleaseAndClear(photoTexture);
    ReleaseAndClear(stripBuffer);
}

HRESULT ReliefView::RecoverDevice() {
    if (!device) return D3DERR_INVALIDCALL;
    Sleep(100);
    HRESULT hr = device->TestCooperativeLevel();
    if (hr == D3DERR_DEVICELOST) return hr; // not yet; the next failed frame tries again
    if (hr != D3DERR_DEVICENOTRESET) return hr;
    // The strip buffer and the texture live in the managed pool and survive the
    // reset; every other state is set again by each frame.
    hr = device->Reset(&presentParams);
    if (FAILED(hr)) return hr;
    SetRenderStates();
    return S_OK;
}

void ReliefView::SetRenderStates() {
    device->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
    device->SetRenderState(D3DRS_LIGHTING, FALSE);
    device->SetRenderState(D3DRS_ZENABLE, D3DZB_TRUE);
}

} // namespace qrv
