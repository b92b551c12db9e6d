// Device selection: the device type, the back-buffer and depth formats, the
// multisample type and the full-screen display mode, settled before the device
// is created. Each step reports its own failure, then SelectD3DDevice reports
// which step failed, with the same code.
#include <cstdint>
#include <cstdlib>

#include "QRV3D.h"
#include "standalone/standalone_engine.h"

namespace qrv::standalone {

namespace {

// The present-parameter set both modes start from.
D3DPRESENT_PARAMETERS BaseParams(HWND window, BOOL windowed) {
    D3DPRESENT_PARAMETERS p{};
    p.BackBufferCount = 1;
    p.SwapEffect = D3DSWAPEFFECT_DISCARD;
    p.hDeviceWindow = window;
    p.Windowed = windowed;
    p.PresentationInterval = engine.presentInterval;
    return p;
}

// Reads the caps of one device type and checks them; false when either fails.
bool DeviceTypeFits(UINT adapter, D3DDEVTYPE deviceType) {
    D3DCAPS9 caps{};
    if (FAILED(engine.d3d->GetDeviceCaps(adapter, deviceType, &caps))) return false;
    return SUCCEEDED(CheckDeviceCaps(caps));
}

// The first multisample type that the back buffer (and the depth buffer, when
// there is one) accepts in the given mode, stored in params.
void PickMultiSampleType(UINT adapter, D3DDEVTYPE deviceType, D3DPRESENT_PARAMETERS &params) {
    for (D3DMULTISAMPLE_TYPE type : engine.multiSampleTypes) {
        if (FAILED(engine.d3d->CheckDeviceMultiSampleType(adapter, deviceType,
                                                          params.BackBufferFormat,
                                                          params.Windowed, type, nullptr)))
            continue;
        if (params.EnableAutoDepthStencil &&
            FAILED(engine.d3d->CheckDeviceMultiSampleType(adapter, deviceType,
                                                          params.AutoDepthStencilFormat,
                                                          params.Windowed, type, nullptr)))
            continue;
        params.MultiSampleType = type;
        params.MultiSampleQuality = 0;
        return;
    }
}

// The first render-target texture format usable over displayFormat; S_OK, or the
// last failing call's code.
HRESULT FindRenderTextureFormat(UINT adapter, D3DDEVTYPE deviceType, D3DFORMAT displayFormat) {
    HRESULT last = E_FAIL;
    for (D3DFORMAT format : engine.renderTextureFormats) {
        HRESULT hr = engine.d3d->CheckDeviceFormat(adapter, deviceType, displayFormat,
                                                   D3DUSAGE_RENDERTARGET, D3DRTYPE_TEXTURE,
                                                   format);
        if (SUCCEEDED(hr))
            hr = engine.d3d->CheckDepthStencilMatch(adapter, deviceType, displayFormat, format,
                                                    engine.depthStencilFormat);
        if (SUCCEEDED(hr)) return S_OK;
        last = hr;
    }
    return last;
}

} // namespace

HRESULT CheckDeviceCaps(const D3DCAPS9 &caps) {
    // The vertex declaration reads three streams.
    if (caps.MaxStreams < 3) return ReportFailure("CheckDeviceCaps MaxStreams < 3", E_FAIL);
    if (caps.MaxPrimitiveCount < 0xFFFF)
        return ReportFailure("CheckDeviceCaps MaxPrimitiveCount < 0xFFFF", E_FAIL);
    return S_OK;
}

HRESULT SelectAdapterFormat(HWND window, UINT adapter, D3DDEVTYPE deviceType,
                            D3DDISPLAYMODE displayMode) {
    engine.windowParams = BaseParams(window, TRUE);
    HRESULT hr = E_FAIL;
    bool found = false;
    for (D3DFORMAT format : engine.adapterFormats) {
        hr = engine.d3d->CheckDeviceType(adapter, deviceType, displayMode.Format, format, TRUE);
        if (SUCCEEDED(hr)) {
            engine.windowParams.BackBufferFormat = format;
            found = true;
            break;
        }
    }
    if (!found) return ReportFailure("SelectAdapterFormat CheckDeviceType Window", hr);

    // Full screen: each format serves as display format and back-buffer format.
    engine.fullScreenParams = BaseParams(window, FALSE);
    found = false;
    for (D3DFORMAT format : engine.adapterFormats) {
        hr = engine.d3d->CheckDeviceType(adapter, deviceType, format, format, FALSE);
        if (SUCCEEDED(hr)) {
            engine.fullScreenParams.BackBufferFormat = format;
            found = true;
            break;
        }
    }
    if (!found) return ReportFailure("SelectAdapterFormat CheckDeviceType Full", hr);
    return S_OK;
}

HRESULT SelectDepthStencilFormat(UINT adapter, D3DDEVTYPE deviceType, D3DDISPLAYMODE displayMode) {
    IDirect3D9 *d3d = engine.d3d;
    const D3DFORMAT depth = engine.depthStencilFormat;
    HRESULT hr = d3d->CheckDeviceFormat(adapter, deviceType, displayMode.Format,
                                        D3DUSAGE_DEPTHSTENCIL, D3DRTYPE_SURFACE, depth);
    if (FAILED(hr)) return ReportFailure("SelectDepthStencilFormat CheckDeviceFormat DS Window", hr);
    hr = d3d->CheckDepthStencilMatch(adapter, deviceType, displayMode.Format,
                                     engine.windowParams.BackBufferFormat, depth);
    if (FAILED(hr))
        return ReportFailure("SelectDepthStencilFormat CheckDepthStencilMatch DS Window", hr);
    engine.windowParams.EnableAutoDepthStencil = TRUE;
    engine.windowParams.AutoDepthStencilFormat = depth;

    const D3DFORMAT full = engine.fullScreenParams.BackBufferFormat;
    hr = d3d->CheckDeviceFormat(adapter, deviceType, full, D3DUSAGE_DEPTHSTENCIL,
                                D3DRTYPE_SURFACE, depth);
    if (FAILED(hr)) return ReportFailure("SelectDepthStencilFormat CheckDeviceFormat DS Full", hr);
    hr = d3d->CheckDepthStencilMatch(adapter, deviceType, full, full, depth);
    if (FAILED(hr))
        return ReportFailure("SelectDepthStencilFormat CheckDepthStencilMatch DS Full", hr);
    engine.fullScreenParams.EnableAutoDepthStencil = TRUE;
    engine.fullScreenParams.AutoDepthStencilFormat = depth;
    return S_OK;
}

HRESULT SelectRenderTexterFormat(UINT adapter, D3DDEVTYPE deviceType, D3DDISPLAYMODE displayMode) {
    HRESULT hr = FindRenderTextureFormat(adapter, deviceType, displayMode.Format);
    if (FAILED(hr)) return ReportFailure("SelectRenderTexterFormat Window", hr);
    hr = FindRenderTextureFormat(adapter, deviceType, engine.fullScreenParams.BackBufferFormat);
    if (FAILED(hr)) return ReportFailure("SelectRenderTexterFormat Full", hr);
    return S_OK;
}

HRESULT SelectMultiSampleType(UINT adapter, D3DDEVTYPE deviceType) {
    // Without a passing entry each set keeps D3DMULTISAMPLE_NONE.
    PickMultiSampleType(adapter, deviceType, engine.windowParams);
    PickMultiSampleType(adapter, deviceType, engine.fullScreenParams);
    return S_OK;
}

HRESULT SelectDisplayMode(UINT adapter) {
    D3DDISPLAYMODE best{};
    int64_t bestScore = 1000000;
    const D3DFORMAT format = engine.fullScreenParams.BackBufferFormat;
    const UINT count = engine.d3d->GetAdapterModeCount(adapter, format);
    for (UINT i = 0; i < count; ++i) {
        D3DDISPLAYMODE mode{};
        if (FAILED(engine.d3d->EnumAdapterModes(adapter, format, i, &mode))) continue;
        // Distance from the wanted size; the first of equal scores stays.
        const int64_t score =
            std::llabs(int64_t{engine.displayModeWidth} - int64_t{mode.Width}) +
            std::llabs(int64_t{engine.displayModeHeight} - int64_t{mode.Height});
        if (score < bestScore) {
            best = mode;
            bestScore = score;
        }
    }
    if (best.Format == D3DFMT_UNKNOWN)
        return ReportFailure("SelectDisplayMode EnumAdapterModes", E_FAIL);
    engine.fullScreenParams.BackBufferWidth = best.Width;
    engine.fullScreenParams.BackBufferHeight = best.Height;
    return S_OK;
}

HRESULT SelectD3DDevice(HWND window, UINT *adapter, D3DDEVTYPE *deviceType) {
    *adapter = D3DADAPTER_DEFAULT;
    *deviceType = D3DDEVTYPE_HAL;
    if (!DeviceTypeFits(*adapter, *deviceType)) {
        ReportFailure("SelectD3DDevice CheckDeviceCaps HAL", E_FAIL);
        *deviceType = D3DDEVTYPE_REF;
        if (!DeviceTypeFits(*adapter, *deviceType))
            return ReportFailure("SelectD3DDevice CheckDeviceCaps REF", E_FAIL);
    }
    // From here on the device type stays, whatever fails.
    D3DDISPLAYMODE displayMode{};
    HRESULT hr = engine.d3d->GetAdapterDisplayMode(D3DADAPTER_DEFAULT, &displayMode);
    if (FAILED(hr)) return ReportFailure("SelectD3DDevice GetAdapterDisplayMode", hr);

    hr = SelectAdapterFormat(window, *adapter, *deviceType, displayMode);
    if (FAILED(hr)) return ReportFailure("SelectD3DDevice SelectAdapterFormat", hr);
    if (engine.depthStencilFormat != D3DFMT_UNKNOWN) {
        hr = SelectDepthStencilFormat(*adapter, *deviceType, displayMode);
        if (FAILED(hr)) return ReportFailure("SelectD3DDevice SelectDepthStencilFormat", hr);
    }
    hr = SelectRenderTexterFormat(*adapter, *deviceType, displayMode);
    if (FAILED(hr)) return ReportFailure("SelectD3DDevice SelectRenderTexterFormat", hr);
    SelectMultiSampleType(*adapter, *deviceType);
    hr = SelectDisplayMode(*adapter);
    if (FAILED(hr)) return ReportFailure("SelectD3DDevice SelectDisplayMode", hr);
    return S_OK;
}

} // namespace qrv::standalone
