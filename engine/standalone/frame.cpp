// One frame of the StandaloneEngine: the indexed mesh through the vertex and
// pixel shaders, turning about y while the engine turns, with the transposed
// world x view x projection in vertex-shader constants c0 to c3. Also the
// texture with its "texture.ps" pixel shader, and the shade mode.
#include <string>

#include "QRV3D.h"
#include "platform/win32/win32.h"
#include "standalone/standalone_engine.h"
#include "standalone/standalone_testing.h"

namespace qrv::standalone {

namespace {

TickSource g_tickSource = nullptr;
std::string g_textureShaderFolder;
bool g_textureShaderFolderSet = false;

DWORD Ticks() { return g_tickSource ? g_tickSource() : GetTickCount(); }

// The folder of the host program's executable, with its final '/', or empty.
std::string HostProgramFolder() {
    std::string path(256, '\0');
    for (;;) {
        const DWORD n = GetModuleFileNameA(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (n == 0) return {};
        if (n < path.size() || path.size() >= (1u << 20)) {
            path.resize(n);
            break;
        }
        path.resize(path.size() * 2); // cut to size: try a larger buffer
    }
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

std::string TextureShaderPath() {
    std::string folder = g_textureShaderFolderSet ? g_textureShaderFolder : HostProgramFolder();
    if (!folder.empty() && folder.back() != '/') folder += '/';
    return folder + "texture.ps";
}

// The texture transform of the fixed stages: u = 0.25 x + 0.5, v = -0.25 y + 0.5
// of the camera-space position.
D3DMATRIX TextureTransform() {
    D3DMATRIX t{};
    t.m[0][0] = 0.25f;
    t.m[1][1] = -0.25f;
    t.m[2][2] = 1.0f;
    t.m[3][0] = 0.5f;
    t.m[3][1] = 0.5f;
    t.m[3][3] = 1.0f;
    return t;
}

} // namespace

void SetTickSource(TickSource source) { g_tickSource = source; }

void SetTextureShaderFolder(const char *folder) {
    g_textureShaderFolderSet = folder != nullptr;
    g_textureShaderFolder = folder ? folder : "";
}

HRESULT RenderDXGraphics() {
    IDirect3DDevice9 *device = engine.device;
    if (!device) return D3DERR_INVALIDCALL;
    const D3DPRESENT_PARAMETERS &params = engine.presentParams;

    const DWORD clearFlags = params.EnableAutoDepthStencil == 1
                                 ? D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER | D3DCLEAR_STENCIL
                                 : D3DCLEAR_TARGET;
    device->Clear(0, nullptr, clearFlags, 0xFF0000FFu, 1.0f, 0);

    if (SUCCEEDED(device->BeginScene())) {
        // One turn about y every two seconds while turning; the remainder keeps the
        // sign of the tick count taken as signed.
        engine.rotationTicks = engine.rotating ? static_cast<int32_t>(Ticks()) : 0;
        const int32_t r = engine.rotationTicks % 2000;
        const auto angle =
            static_cast<float>(static_cast<double>(r) / 2000.0 * static_cast<double>(6.283f));
        D3DXMATRIX world, view, projection, m;
        D3DXMatrixRotationY(&world, angle);
        const D3DXVECTOR3 at{0.0f, 0.0f, 0.0f}, up{0.0f, 1.0f, 0.0f};
        D3DXMatrixLookAtLH(&view, &engine.eye, &at, &up);
        const float aspect =
            params.BackBufferHeight == 0
                ? 1.0f
                : static_cast<float>(static_cast<double>(params.BackBufferWidth) /
                                     static_cast<double>(params.BackBufferHeight));
        D3DXMatrixPerspectiveFovLH(&projection, 3.1415f / 3.0f, aspect, 2.0f, 10.0f);
        D3DXMatrixMultiply(&m, &world, &view);
        D3DXMatrixMultiply(&m, &m, &projection);
        D3DXMatrixTranspose(&m, &m);

        device->SetRenderState(D3DRS_FILLMODE, engine.solidFill ? D3DFILL_SOLID : D3DFILL_WIREFRAME);
        device->SetVertexShaderConstantF(0, &m.m[0][0], 4);

        device->SetVertexDeclaration(engine.vertexDeclaration);
        device->SetStreamSource(0, engine.positionBuffer, 0, 12);
        device->SetStreamSource(1, engine.colorBuffer, 0, 4);
        device->SetStreamSource(2, engine.texCoordBuffer, 0, 8);
        device->SetIndices(engine.indexBuffer);
        device->SetVertexShader(engine.vertexShader);
        device->SetPixelShader(engine.pixelShader);

        if (engine.texture) {
            device->SetTexture(0, engine.texture);
            device->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_MODULATE);
            device->SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_TEXTURE);
            device->SetTextureStageState(0, D3DTSS_COLORARG2, D3DTA_DIFFUSE);
            device->SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_DISABLE);
            const D3DMATRIX t = TextureTransform();
            device->SetTransform(D3DTS_TEXTURE0, &t);
            device->SetTextureStageState(0, D3DTSS_TEXTURETRANSFORMFLAGS, D3DTTFF_COUNT2);
            device->SetTextureStageState(0, D3DTSS_TEXCOORDINDEX, D3DTSS_TCI_CAMERASPACEPOSITION);
        }

        // No positions or no index list (no mesh yet, or a buffer that could not
        // be made or filled): nothing to draw, and nothing read from a missing
        // buffer. A missing colour or texture-coordinate stream reads as a
        // constant.
        if (engine.positionBuffer && engine.indexBuffer && engine.vertexCount != 0 &&
            engine.triangleCount != 0)
            device->DrawIndexedPrimitive(D3DPT_TRIANGLELIST, 0, 0, engine.vertexCount, 0,
                                         engine.triangleCount);
        device->EndScene();
    }

    const HRESULT hr = device->Present(nullptr, nullptr, nullptr, nullptr);
    if (hr == D3DERR_DEVICELOST) {
        engine.deviceLost = true; // the next _QRV3DRender(1) recovers first
        return S_OK;
    }
    return hr;
}

bool Render() {
    bool ok = true;
    const HRESULT hr = RestoreDevice(&ok);
    if (FAILED(hr)) return ok;
    return SUCCEEDED(RenderDXGraphics());
}

HRESULT SetTexture(const char *path) {
    IDirect3DDevice9 *device = engine.device;
    if (!device) return D3DERR_INVALIDCALL;

    // The texture's pixel shader replaces the one in use only once it is made; a
    // missing or broken "texture.ps" leaves the frame with the shader it had.
    const std::string shaderPath = TextureShaderPath();
    ID3DXBuffer *code = nullptr;
    if (SUCCEEDED(D3DXAssembleShaderFromFileA(shaderPath.c_str(), nullptr, nullptr, 0, &code,
                                              nullptr)) &&
        code) {
        IDirect3DPixelShader9 *shader = nullptr;
        if (SUCCEEDED(device->CreatePixelShader(
                static_cast<const DWORD *>(code->GetBufferPointer()), &shader)) &&
            shader) {
            ReleaseAndClear(engine.pixelShader);
            engine.pixelShader = shader;
        }
    }
    ReleaseAndClear(code);

    // The old texture goes first, so a failed load leaves none.
    ReleaseAndClear(engine.texture);
    const HRESULT hr = D3DXCreateTextureFromFileA(device, path, &engine.texture);
    if (FAILED(hr)) engine.texture = nullptr;
    return hr;
}

void SetShadeMode(int32_t mode) {
    IDirect3DDevice9 *device = engine.device;
    if (!device) return;
    if (mode == 1)
        device->SetRenderState(D3DRS_SHADEMODE, D3DSHADE_FLAT);
    else if (mode == 2)
        device->SetRenderState(D3DRS_SHADEMODE, D3DSHADE_GOURAUD);
}

} // namespace qrv::standalone
