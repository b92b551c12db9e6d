// Set-up and tear-down of the StandaloneEngine, and the two exports that reset
// its device: recovery after a lost frame and a change of the window's size.
#include <string>

#include "QRV3D.h"
#include "platform/win32/win32.h"
#include "qrv.h"
#include "standalone/standalone_engine.h"

namespace qrv::standalone {

namespace {

bool AnythingHeld() {
    const StandaloneEngine &e = engine;
    return e.d3d || e.device || e.vertexDeclaration || e.vertexShader || e.pixelShader ||
           e.texture || e.positionBuffer || e.colorBuffer || e.texCoordBuffer || e.indexBuffer;
}

// "<current directory>/default.q3d", or empty when the directory cannot be read.
std::string DefaultModelPath() {
    std::string dir(256, '\0');
    for (;;) {
        const DWORD n = GetCurrentDirectoryA(static_cast<DWORD>(dir.size()), dir.data());
        if (n == 0) return {};
        if (n < dir.size()) {
            dir.resize(n);
            break;
        }
        dir.resize(n); // too small: n is the size needed
    }
    if (dir.empty() || dir.back() != '/') dir += '/';
    return dir + "default.q3d";
}

// Assembles a shader file; on failure reports and returns the assembler's code.
HRESULT AssembleFile(const char *file, ID3DXBuffer **code) {
    *code = nullptr;
    HRESULT hr = D3DXAssembleShaderFromFileA(file, nullptr, nullptr, 0, code, nullptr);
    if (SUCCEEDED(hr) && !*code) hr = E_FAIL; // success without tokens is no shader
    if (FAILED(hr)) {
        ReleaseAndClear(*code);
        return ReportFailure("InitDXGraphics D3DXAssembleShaderFromFile ", hr);
    }
    return S_OK;
}

D3DVIEWPORT9 WholeViewport(DWORD width, DWORD height) {
    return D3DVIEWPORT9{0, 0, width, height, 0.0f, 1.0f};
}

} // namespace

HRESULT InitDXGraphics(HWND window, const char *vertexShaderFile, const char *pixelShaderFile) {
    // A second set-up replaces the first one: nothing of it may be left behind.
    if (AnythingHeld()) ReleaseDXGraphics();

    engine.d3d = Direct3DCreate9(D3D_SDK_VERSION);
    if (!engine.d3d) return ReportFailure("InitDXGraphics Direct3DCreate9", E_FAIL);

    UINT adapter = D3DADAPTER_DEFAULT;
    D3DDEVTYPE deviceType = D3DDEVTYPE_HAL;
    HRESULT hr = SelectD3DDevice(window, &adapter, &deviceType);
    if (FAILED(hr)) return ReportFailure("InitDXGraphics SelectD3DDevice", hr);

    engine.presentParams = engine.windowMode ? engine.windowParams : engine.fullScreenParams;
    hr = engine.d3d->CreateDevice(adapter, deviceType, window, D3DCREATE_HARDWARE_VERTEXPROCESSING,
                                  &engine.presentParams, &engine.device);
    if (FAILED(hr)) {
        engine.device = nullptr;
        hr = engine.d3d->CreateDevice(adapter, deviceType, window,
                                      D3DCREATE_SOFTWARE_VERTEXPROCESSING, &engine.presentParams,
                                      &engine.device);
        if (FAILED(hr)) {
            engine.device = nullptr;
            return ReportFailure("InitDXGraphics CreateDevice", hr);
        }
    }
    engine.deviceLost = false; // a new device is not lost, whatever the old one was

    // For a windowed set the sizes are the client size CreateDevice wrote back.
    const D3DVIEWPORT9 viewport = WholeViewport(engine.presentParams.BackBufferWidth,
                                                engine.presentParams.BackBufferHeight);
    hr = engine.device->SetViewport(&viewport);
    if (FAILED(hr)) return ReportFailure("InitDXGraphics SetViewport", hr);

    hr = engine.device->CreateVertexDeclaration(engine.vertexElements, &engine.vertexDeclaration);
    if (FAILED(hr)) {
        engine.vertexDeclaration = nullptr;
        return ReportFailure("InitDXGraphics CreateVertexDeclaration", hr);
    }

    // The default model; without a readable one the engine starts with no mesh.
    const std::string modelPath = DefaultModelPath();
    if (!modelPath.empty()) _QRV3DReadQ3DFile(1, modelPath.c_str());

    ID3DXBuffer *code = nullptr;
    hr = AssembleFile(vertexShaderFile, &code);
    if (FAILED(hr)) return hr;
    hr = engine.device->CreateVertexShader(static_cast<const DWORD *>(code->GetBufferPointer()),
                                           &engine.vertexShader);
    code->Release();
    if (FAILED(hr)) {
        engine.vertexShader = nullptr;
        return ReportFailure("InitDXGraphics CreateVertexShader", hr);
    }

    hr = AssembleFile(pixelShaderFile, &code);
    if (FAILED(hr)) return hr;
    hr = engine.device->CreatePixelShader(static_cast<const DWORD *>(code->GetBufferPointer()),
                                          &engine.pixelShader);
    code->Release();
    if (FAILED(hr)) {
        // Drawing without the pixel shader asked for would show something else.
        engine.pixelShader = nullptr;
        return ReportFailure("InitDXGraphics CreatePixelShader", hr);
    }
    return S_OK;
}

HRESULT InitD3DObject() {
    IDirect3DDevice9 *device = engine.device;
    if (!device) return S_OK;
    const D3DPRESENT_PARAMETERS &p = engine.presentParams;
    device->SetRenderState(D3DRS_ZENABLE, p.EnableAutoDepthStencil ? D3DZB_TRUE : D3DZB_FALSE);
    device->SetRenderState(D3DRS_MULTISAMPLEANTIALIAS,
                           p.MultiSampleType != D3DMULTISAMPLE_NONE ? TRUE : FALSE);
    device->SetRenderState(D3DRS_SHADEMODE, D3DSHADE_GOURAUD);
    device->SetRenderState(D3DRS_CULLMODE, D3DCULL_CCW);
    return S_OK;
}

HRESULT RestoreDevice(bool *ok) {
    bool okValue = true;
    bool &okOut = ok ? *ok : okValue;
    okOut = true;
    if (!engine.deviceLost) return S_OK;
    if (!engine.device) return S_OK; // released while lost: nothing to recover

    Sleep(100);
    HRESULT hr = engine.device->TestCooperativeLevel();
    if (SUCCEEDED(hr)) {
        engine.deviceLost = false;
        return S_OK;
    }
    if (hr == D3DERR_DEVICELOST) return hr; // not yet: the host keeps drawing
    if (hr != D3DERR_DEVICENOTRESET) {
        okOut = false;
        return hr;
    }
    // Managed-pool buffers and textures survive the reset; nothing is released.
    hr = engine.device->Reset(&engine.presentParams);
    if (hr == D3DERR_DEVICELOST) return hr;
    if (FAILED(hr)) {
        ReportFailure("AppIdle Reset", hr);
        okOut = false;
        return hr;
    }
    InitD3DObject();
    engine.deviceLost = false;
    return S_OK;
}

HRESULT ChangeWindowSize(int32_t width, int32_t height, bool reset) {
    if (engine.presentParams.Windowed == 0) return S_OK;
    if (!engine.device) return S_OK;
    // A negative size would become a back buffer of some four billion pixels.
    if (width < 0 || height < 0) return E_INVALIDARG;

    engine.presentParams.BackBufferWidth = static_cast<UINT>(width);
    engine.presentParams.BackBufferHeight = static_cast<UINT>(height);
    if (engine.deviceLost || !reset) return S_OK; // the next reset takes the new size

    HRESULT hr = engine.device->Reset(&engine.presentParams);
    if (FAILED(hr)) {
        ReportFailure("ChangeWindowSize Reset", hr);
        if (hr == D3DERR_DEVICELOST) {
            engine.deviceLost = true;
            return S_OK;
        }
        return hr;
    }
    InitD3DObject();
    // A size of 0 stands for the client size, which the reset wrote back.
    const D3DVIEWPORT9 viewport =
        WholeViewport(width ? static_cast<DWORD>(width) : engine.presentParams.BackBufferWidth,
                      height ? static_cast<DWORD>(height) : engine.presentParams.BackBufferHeight);
    hr = engine.device->SetViewport(&viewport);
    if (FAILED(hr)) ReportFailure("ChangeWindowSize SetViewport", hr);
    return hr;
}

} // namespace qrv::standalone
