// The StandaloneEngine: the library's second, window-independent engine, reached
// with ViewHandle 1. Its whole state is one module-wide record with static
// initial values; its routines are free functions over that record, each
// returning an HRESULT and reporting its own failures through ReportFailure, so a
// failure shows a chain of messages, innermost first.
//
// The road: _QRV3DInit(window, vertexShaderFile, pixelShaderFile) runs
// InitDXGraphics (device selection, device, viewport, vertex declaration, the
// default model, the two shaders) and InitD3DObject; _QRV3DGet3DImage(1, ...)
// builds the mesh (mesh.h); _QRV3DRender(1) recovers a lost device and draws a
// frame through the shaders; _QRV3DTerm(1) releases everything.
#pragma once

#include <cstdint>

#include "platform/d3d9/d3d9.h"
#include "platform/d3dx9/d3dx9.h"

namespace qrv::standalone {

struct StandaloneEngine {
    // Device selection settings, fixed.
    D3DFORMAT adapterFormats[3] = {D3DFMT_X8R8G8B8, D3DFMT_X1R5G5B5, D3DFMT_R5G6B5};
    D3DFORMAT renderTextureFormats[3] = {D3DFMT_X8R8G8B8, D3DFMT_X1R5G5B5, D3DFMT_R5G6B5};
    D3DFORMAT depthStencilFormat = D3DFMT_D24S8;
    D3DMULTISAMPLE_TYPE multiSampleTypes[1] = {D3DMULTISAMPLE_NONE};
    uint32_t presentInterval = D3DPRESENT_INTERVAL_IMMEDIATE;
    int32_t displayModeWidth = 1024;
    int32_t displayModeHeight = 768;

    // The device is created windowed while this holds; nothing changes it.
    bool windowMode = true;
    // Positions, colours and texture coordinates, each from a stream of its own.
    D3DVERTEXELEMENT9 vertexElements[4] = {
        {0, 0, D3DDECLTYPE_FLOAT3, D3DDECLMETHOD_DEFAULT, D3DDECLUSAGE_POSITION, 0},
        {1, 0, D3DDECLTYPE_D3DCOLOR, D3DDECLMETHOD_DEFAULT, D3DDECLUSAGE_COLOR, 0},
        {2, 0, D3DDECLTYPE_FLOAT2, D3DDECLMETHOD_DEFAULT, D3DDECLUSAGE_TEXCOORD, 0},
        D3DDECL_END(),
    };

    // Filled by device selection; presentParams is the active copy.
    D3DPRESENT_PARAMETERS windowParams = {};
    D3DPRESENT_PARAMETERS fullScreenParams = {};
    D3DPRESENT_PARAMETERS presentParams = {};

    IDirect3D9 *d3d = nullptr;
    IDirect3DDevice9 *device = nullptr;
    IDirect3DVertexDeclaration9 *vertexDeclaration = nullptr;
    IDirect3DVertexShader9 *vertexShader = nullptr;
    IDirect3DPixelShader9 *pixelShader = nullptr;
    IDirect3DTexture9 *texture = nullptr;
    IDirect3DVertexBuffer9 *positionBuffer = nullptr;
    IDirect3DVertexBuffer9 *colorBuffer = nullptr;
    IDirect3DVertexBuffer9 *texCoordBuffer = nullptr;
    // 16-bit indices while the mesh has at most 65,536 vertices, else 32-bit.
    IDirect3DIndexBuffer9 *indexBuffer = nullptr;

    uint32_t vertexCount = 8;
    uint32_t triangleCount = 12;
    bool deviceLost = false;
    bool rotating = false;
    int32_t rotationTicks = 0;
    bool solidFill = true;
    D3DXVECTOR3 eye = {0.0f, 3.0f, -4.0f};
    float eyeDistance = 5.0f;
};

// The one record of the loaded library.
extern StandaloneEngine engine;

// Releases a reference the record holds and sets it to null; nothing when null.
template <typename T> void ReleaseAndClear(T *&object) {
    if (object) {
        object->Release();
        object = nullptr;
    }
}

// ---- Device selection (device_selection.cpp) ---------------------------------------

// Settles the device type (HAL, else REF), both present-parameter sets and the
// full-screen display mode, asking engine.d3d. adapter and deviceType receive
// what to create the device with.
HRESULT SelectD3DDevice(HWND window, UINT *adapter, D3DDEVTYPE *deviceType);
HRESULT CheckDeviceCaps(const D3DCAPS9 &caps);
HRESULT SelectAdapterFormat(HWND window, UINT adapter, D3DDEVTYPE deviceType,
                            D3DDISPLAYMODE displayMode);
HRESULT SelectDepthStencilFormat(UINT adapter, D3DDEVTYPE deviceType, D3DDISPLAYMODE displayMode);
HRESULT SelectRenderTexterFormat(UINT adapter, D3DDEVTYPE deviceType, D3DDISPLAYMODE displayMode);
HRESULT SelectMultiSampleType(UINT adapter, D3DDEVTYPE deviceType);
HRESULT SelectDisplayMode(UINT adapter);

// ---- Set-up and tear-down (setup.cpp) ------------------------------------------------

// Sets the engine up for a window: Direct3D object, device selection, device,
// viewport, vertex declaration, the default model "default.q3d" of the current
// directory (set-up goes on without it) and the two shaders. A set-up that is
// already there is released first. On failure the objects made so far stay
// until ReleaseDXGraphics.
HRESULT InitDXGraphics(HWND window, const char *vertexShaderFile, const char *pixelShaderFile);

// The fixed render states, after set-up and after every reset. Returns 0.
HRESULT InitD3DObject();

// Releases every object the record holds, each reference set to null, so it may
// run twice. The flags, counts and eye keep their values. Returns true.
bool ReleaseDXGraphics();

// _QRV3DRestoreDevice: after a lost frame, waits 100 ms and resets the device
// once it can be. *ok stays true while the device is only lost (the host keeps
// drawing) and turns false on any other failure.
HRESULT RestoreDevice(bool *ok);

// _QRV3DChangeWindowSize: records the back-buffer size of a windowed set-up and,
// when reset is set and the device is not lost, resets the device to it.
HRESULT ChangeWindowSize(int32_t width, int32_t height, bool reset);

// The eye back to (0, 3, -4) at distance 5.
void ResetEye();

// ---- Frames (frame.cpp) ----------------------------------------------------------------

// One frame of the mesh through the shaders, presented to the window. A lost
// device at Present sets deviceLost and counts as success.
HRESULT RenderDXGraphics();

// _QRV3DRender(1): recovery first, then a frame. True when a frame was drawn, or
// while the device is only lost.
bool Render();

// _QRV3DSetTexture(1, path): the pixel shader of "texture.ps" beside the host
// program (the one in use stays when that file is missing or does not assemble)
// and a texture from the picture file. Returns the texture load's result.
HRESULT SetTexture(const char *path);

// _QRV3DShadeMode: 1 flat, 2 Gouraud, on the engine's device when there is one.
void SetShadeMode(int32_t mode);

} // namespace qrv::standalone
