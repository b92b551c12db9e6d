// The StandaloneEngine: the library's second, window-independent engine, reached
// with ViewHandle 1. Its whole state is one module-wide record with static
// initial values; its routines are free functions over that record.
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

// Releases every object the record holds, each reference set to null, so it may
// run twice. The flags, counts and eye keep their values. Returns true.
bool ReleaseDXGraphics();

// The eye back to (0, 3, -4) at distance 5.
void ResetEye();

// Sets the engine up for a window with a vertex and a pixel shader file. Not
// there yet: gives E_NOTIMPL and creates nothing.
HRESULT InitDXGraphics(HWND window, const char *vertexShaderFile, const char *pixelShaderFile);

} // namespace qrv::standalone
