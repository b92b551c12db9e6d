// A Direct3D 9-shaped graphics interface: the operations, records and codes that
// the engine draws with, as abstract reference-counted classes. One implementation
// runs them on OpenGL 4.5 core through EGL, offscreen (d3d9_gl.cpp and the gl_*
// files beside it); tests may put a recording stand-in in place of any interface.
//
// Direct3D's conventions hold: left-handed coordinates, row vectors, clip z in
// [0, 1], Direct3D 9 pixel centres and fill rule, clockwise front faces, default
// sampler state (point filtering, wrap), managed-pool resources surviving Reset.
#pragma once

#include <cstdint>

#include "platform/win32/wintypes.h"

// ---- Result codes ----------------------------------------------------------------
#define MAKE_D3DHRESULT(code) static_cast<HRESULT>(0x88760000u | (code))
#define D3D_OK S_OK
#define D3DERR_WRONGTEXTUREFORMAT MAKE_D3DHRESULT(2072)
#define D3DERR_UNSUPPORTEDCOLOROPERATION MAKE_D3DHRESULT(2073)
#define D3DERR_TOOMANYOPERATIONS MAKE_D3DHRESULT(2077)
#define D3DERR_CONFLICTINGRENDERSTATE MAKE_D3DHRESULT(2081)
#define D3DERR_DRIVERINTERNALERROR MAKE_D3DHRESULT(2087)
#define D3DERR_NOTFOUND MAKE_D3DHRESULT(2150)
#define D3DERR_MOREDATA MAKE_D3DHRESULT(2151)
#define D3DERR_DEVICELOST MAKE_D3DHRESULT(2152)
#define D3DERR_DEVICENOTRESET MAKE_D3DHRESULT(2153)
#define D3DERR_NOTAVAILABLE MAKE_D3DHRESULT(2154)
#define D3DERR_OUTOFVIDEOMEMORY MAKE_D3DHRESULT(380)
#define D3DERR_INVALIDDEVICE MAKE_D3DHRESULT(2155)
#define D3DERR_INVALIDCALL MAKE_D3DHRESULT(2156)
#define D3DERR_WASSTILLDRAWING MAKE_D3DHRESULT(540)

#define D3D_SDK_VERSION 31u
#define D3DADAPTER_DEFAULT 0u

// ---- Enumerations ----------------------------------------------------------------
enum D3DDEVTYPE : uint32_t { D3DDEVTYPE_HAL = 1, D3DDEVTYPE_REF = 2, D3DDEVTYPE_SW = 3 };

enum D3DFORMAT : uint32_t {
    D3DFMT_UNKNOWN = 0,
    D3DFMT_R8G8B8 = 20,
    D3DFMT_A8R8G8B8 = 21,
    D3DFMT_X8R8G8B8 = 22,
    D3DFMT_R5G6B5 = 23,
    D3DFMT_X1R5G5B5 = 24,
    D3DFMT_A1R5G5B5 = 25,
    D3DFMT_A4R4G4B4 = 26,
    D3DFMT_A8B8G8R8 = 32,
    D3DFMT_X8B8G8R8 = 33,
    D3DFMT_D16_LOCKABLE = 70,
    D3DFMT_D32 = 71,
    D3DFMT_D24S8 = 75,
    D3DFMT_D24X8 = 77,
    D3DFMT_D16 = 80,
    D3DFMT_VERTEXDATA = 100,
    D3DFMT_INDEX16 = 101,
    D3DFMT_INDEX32 = 102,
};

enum D3DRESOURCETYPE : uint32_t {
    D3DRTYPE_SURFACE = 1,
    D3DRTYPE_VOLUME = 2,
    D3DRTYPE_TEXTURE = 3,
    D3DRTYPE_VOLUMETEXTURE = 4,
    D3DRTYPE_CUBETEXTURE = 5,
    D3DRTYPE_VERTEXBUFFER = 6,
    D3DRTYPE_INDEXBUFFER = 7,
};

enum D3DPOOL : uint32_t {
    D3DPOOL_DEFAULT = 0,
    D3DPOOL_MANAGED = 1,
    D3DPOOL_SYSTEMMEM = 2,
    D3DPOOL_SCRATCH = 3
};

enum D3DMULTISAMPLE_TYPE : uint32_t {
    D3DMULTISAMPLE_NONE = 0,
    D3DMULTISAMPLE_NONMASKABLE = 1,
    D3DMULTISAMPLE_2_SAMPLES = 2,
    D3DMULTISAMPLE_4_SAMPLES = 4,
    D3DMULTISAMPLE_8_SAMPLES = 8,
    D3DMULTISAMPLE_16_SAMPLES = 16,
};

enum D3DSWAPEFFECT : uint32_t {
    D3DSWAPEFFECT_DISCARD = 1,
    D3DSWAPEFFECT_FLIP = 2,
    D3DSWAPEFFECT_COPY = 3
};

enum D3DPRIMITIVETYPE : uint32_t {
    D3DPT_POINTLIST = 1,
    D3DPT_LINELIST = 2,
    D3DPT_LINESTRIP = 3,
    D3DPT_TRIANGLELIST = 4,
    D3DPT_TRIANGLESTRIP = 5,
    D3DPT_TRIANGLEFAN = 6,
};

enum D3DTRANSFORMSTATETYPE : uint32_t {
    D3DTS_VIEW = 2,
    D3DTS_PROJECTION = 3,
    D3DTS_TEXTURE0 = 16,
    D3DTS_TEXTURE1 = 17,
    D3DTS_WORLD = 256,
};

enum D3DRENDERSTATETYPE : uint32_t {
    D3DRS_ZENABLE = 7,
    D3DRS_FILLMODE = 8,
    D3DRS_SHADEMODE = 9,
    D3DRS_ZWRITEENABLE = 14,
    D3DRS_CULLMODE = 22,
    D3DRS_ZFUNC = 23,
    D3DRS_ALPHABLENDENABLE = 27,
    D3DRS_LIGHTING = 137,
    D3DRS_MULTISAMPLEANTIALIAS = 161,
    D3DRS_SRCBLEND = 19,
    D3DRS_DESTBLEND = 20,
    D3DRS_COLORWRITEENABLE = 168,
};

// Blend factors for D3DRS_SRCBLEND and D3DRS_DESTBLEND.
enum D3DBLEND : uint32_t {
    D3DBLEND_ZERO = 1,
    D3DBLEND_ONE = 2,
    D3DBLEND_SRCCOLOR = 3,
    D3DBLEND_INVSRCCOLOR = 4,
    D3DBLEND_SRCALPHA = 5,
    D3DBLEND_INVSRCALPHA = 6,
    D3DBLEND_DESTALPHA = 7,
    D3DBLEND_INVDESTALPHA = 8,
    D3DBLEND_DESTCOLOR = 9,
    D3DBLEND_INVDESTCOLOR = 10,
};

enum D3DZBUFFERTYPE : uint32_t { D3DZB_FALSE = 0, D3DZB_TRUE = 1, D3DZB_USEW = 2 };
enum D3DFILLMODE : uint32_t { D3DFILL_POINT = 1, D3DFILL_WIREFRAME = 2, D3DFILL_SOLID = 3 };
enum D3DSHADEMODE : uint32_t { D3DSHADE_FLAT = 1, D3DSHADE_GOURAUD = 2, D3DSHADE_PHONG = 3 };
enum D3DCULL : uint32_t { D3DCULL_NONE = 1, D3DCULL_CW = 2, D3DCULL_CCW = 3 };

enum D3DTEXTURESTAGESTATETYPE : uint32_t {
    D3DTSS_COLOROP = 1,
    D3DTSS_COLORARG1 = 2,
    D3DTSS_COLORARG2 = 3,
    D3DTSS_ALPHAOP = 4,
    D3DTSS_ALPHAARG1 = 5,
    D3DTSS_ALPHAARG2 = 6,
    D3DTSS_TEXCOORDINDEX = 11,
    D3DTSS_TEXTURETRANSFORMFLAGS = 24,
};

enum D3DTEXTUREOP : uint32_t {
    D3DTOP_DISABLE = 1,
    D3DTOP_SELECTARG1 = 2,
    D3DTOP_SELECTARG2 = 3,
    D3DTOP_MODULATE = 4,
    D3DTOP_MODULATE2X = 5,
    D3DTOP_MODULATE4X = 6,
    D3DTOP_ADD = 7,
    D3DTOP_ADDSIGNED = 8,
    D3DTOP_SUBTRACT = 10,
};

// Texture arguments (D3DTA_*).
#define D3DTA_DIFFUSE 0x00000000u
#define D3DTA_CURRENT 0x00000001u
#define D3DTA_TEXTURE 0x00000002u
#define D3DTA_TFACTOR 0x00000003u
#define D3DTA_SPECULAR 0x00000004u
#define D3DTA_COMPLEMENT 0x00000010u
#define D3DTA_ALPHAREPLICATE 0x00000020u

// D3DTSS_TEXCOORDINDEX flags, or-ed with the coordinate set index.
#define D3DTSS_TCI_PASSTHRU 0x00000000u
#define D3DTSS_TCI_CAMERASPACENORMAL 0x00010000u
#define D3DTSS_TCI_CAMERASPACEPOSITION 0x00020000u

enum D3DTEXTURETRANSFORMFLAGS : uint32_t {
    D3DTTFF_DISABLE = 0,
    D3DTTFF_COUNT1 = 1,
    D3DTTFF_COUNT2 = 2,
    D3DTTFF_COUNT3 = 3,
    D3DTTFF_COUNT4 = 4,
    D3DTTFF_PROJECTED = 256,
};

// Usage flags.
#define D3DUSAGE_RENDERTARGET 0x00000001u
#define D3DUSAGE_DEPTHSTENCIL 0x00000002u
#define D3DUSAGE_WRITEONLY 0x00000008u
#define D3DUSAGE_DYNAMIC 0x00000200u

// Lock flags.
#define D3DLOCK_READONLY 0x00000010u
#define D3DLOCK_DISCARD 0x00002000u
#define D3DLOCK_NOOVERWRITE 0x00001000u

// Clear flags.
#define D3DCLEAR_TARGET 0x00000001u
#define D3DCLEAR_ZBUFFER 0x00000002u
#define D3DCLEAR_STENCIL 0x00000004u

// CreateDevice behaviour flags.
#define D3DCREATE_FPU_PRESERVE 0x00000002u
#define D3DCREATE_MULTITHREADED 0x00000004u
#define D3DCREATE_PUREDEVICE 0x00000010u
#define D3DCREATE_SOFTWARE_VERTEXPROCESSING 0x00000020u
#define D3DCREATE_HARDWARE_VERTEXPROCESSING 0x00000040u
#define D3DCREATE_MIXED_VERTEXPROCESSING 0x00000080u

// Present intervals.
#define D3DPRESENT_INTERVAL_DEFAULT 0x00000000u
#define D3DPRESENT_INTERVAL_ONE 0x00000001u
#define D3DPRESENT_INTERVAL_IMMEDIATE 0x80000000u

// Flexible vertex format bits.
#define D3DFVF_XYZ 0x002u
#define D3DFVF_XYZRHW 0x004u
#define D3DFVF_NORMAL 0x010u
#define D3DFVF_DIFFUSE 0x040u
#define D3DFVF_SPECULAR 0x080u
#define D3DFVF_TEX1 0x100u

// Colour helpers: D3DCOLOR is 0xAARRGGBB.
using D3DCOLOR = DWORD;
#define D3DCOLOR_ARGB(a, r, g, b)                                                         \
    (static_cast<D3DCOLOR>((((a) & 0xffu) << 24) | (((r) & 0xffu) << 16) |                \
                           (((g) & 0xffu) << 8) | ((b) & 0xffu)))
#define D3DCOLOR_XRGB(r, g, b) D3DCOLOR_ARGB(0xffu, r, g, b)

// Shader version tokens as they appear in D3DCAPS9 and at the head of shader code.
#define D3DVS_VERSION(major, minor) (0xFFFE0000u | ((major) << 8) | (minor))
#define D3DPS_VERSION(major, minor) (0xFFFF0000u | ((major) << 8) | (minor))

// ---- Vertex declarations ---------------------------------------------------------
enum D3DDECLTYPE : BYTE {
    D3DDECLTYPE_FLOAT1 = 0,
    D3DDECLTYPE_FLOAT2 = 1,
    D3DDECLTYPE_FLOAT3 = 2,
    D3DDECLTYPE_FLOAT4 = 3,
    D3DDECLTYPE_D3DCOLOR = 4,
    D3DDECLTYPE_UBYTE4 = 5,
    D3DDECLTYPE_SHORT2 = 6,
    D3DDECLTYPE_SHORT4 = 7,
    D3DDECLTYPE_UBYTE4N = 8,
    D3DDECLTYPE_SHORT2N = 9,
    D3DDECLTYPE_SHORT4N = 10,
    D3DDECLTYPE_USHORT2N = 11,
    D3DDECLTYPE_USHORT4N = 12,
    D3DDECLTYPE_FLOAT16_2 = 15,
    D3DDECLTYPE_FLOAT16_4 = 16,
    D3DDECLTYPE_UNUSED = 17,
};

enum D3DDECLMETHOD : BYTE { D3DDECLMETHOD_DEFAULT = 0 };

enum D3DDECLUSAGE : BYTE {
    D3DDECLUSAGE_POSITION = 0,
    D3DDECLUSAGE_BLENDWEIGHT = 1,
    D3DDECLUSAGE_BLENDINDICES = 2,
    D3DDECLUSAGE_NORMAL = 3,
    D3DDECLUSAGE_PSIZE = 4,
    D3DDECLUSAGE_TEXCOORD = 5,
    D3DDECLUSAGE_TANGENT = 6,
    D3DDECLUSAGE_BINORMAL = 7,
    D3DDECLUSAGE_TESSFACTOR = 8,
    D3DDECLUSAGE_POSITIONT = 9,
    D3DDECLUSAGE_COLOR = 10,
    D3DDECLUSAGE_FOG = 11,
    D3DDECLUSAGE_DEPTH = 12,
    D3DDECLUSAGE_SAMPLE = 13,
};

struct D3DVERTEXELEMENT9 {
    WORD Stream;
    WORD Offset;
    BYTE Type;
    BYTE Method;
    BYTE Usage;
    BYTE UsageIndex;
};
static_assert(sizeof(D3DVERTEXELEMENT9) == 8);
#define D3DDECL_END() {0xFF, 0, D3DDECLTYPE_UNUSED, 0, 0, 0}

// ---- Records ---------------------------------------------------------------------
struct D3DMATRIX {
    float m[4][4]; // m[row][column]; a point p is transformed as p x M
};

struct D3DVIEWPORT9 {
    DWORD X, Y, Width, Height;
    float MinZ, MaxZ;
};

struct D3DPRESENT_PARAMETERS {
    UINT BackBufferWidth;
    UINT BackBufferHeight;
    D3DFORMAT BackBufferFormat;
    UINT BackBufferCount;
    D3DMULTISAMPLE_TYPE MultiSampleType;
    DWORD MultiSampleQuality;
    D3DSWAPEFFECT SwapEffect;
    HWND hDeviceWindow;
    BOOL Windowed;
    BOOL EnableAutoDepthStencil;
    D3DFORMAT AutoDepthStencilFormat;
    DWORD Flags;
    UINT FullScreen_RefreshRateInHz;
    UINT PresentationInterval;
};

struct D3DDISPLAYMODE {
    UINT Width;
    UINT Height;
    UINT RefreshRate;
    D3DFORMAT Format;
};

// The device capabilities the engine and the layer look at.
struct D3DCAPS9 {
    D3DDEVTYPE DeviceType;
    UINT AdapterOrdinal;
    DWORD MaxTextureWidth, MaxTextureHeight;
    DWORD MaxTextureRepeat;
    DWORD MaxTextureAspectRatio;
    DWORD MaxTextureBlendStages;
    DWORD MaxSimultaneousTextures;
    DWORD MaxPrimitiveCount;
    DWORD MaxVertexIndex;
    DWORD MaxStreams;
    DWORD MaxStreamStride;
    DWORD VertexShaderVersion;
    DWORD MaxVertexShaderConst;
    DWORD PixelShaderVersion;
    float PixelShader1xMaxValue;
    DWORD NumSimultaneousRTs;
};

struct D3DVERTEXBUFFER_DESC {
    D3DFORMAT Format;
    D3DRESOURCETYPE Type;
    DWORD Usage;
    D3DPOOL Pool;
    UINT Size;
    DWORD FVF;
};

struct D3DINDEXBUFFER_DESC {
    D3DFORMAT Format;
    D3DRESOURCETYPE Type;
    DWORD Usage;
    D3DPOOL Pool;
    UINT Size;
};

struct D3DSURFACE_DESC {
    D3DFORMAT Format;
    D3DRESOURCETYPE Type;
    DWORD Usage;
    D3DPOOL Pool;
    D3DMULTISAMPLE_TYPE MultiSampleType;
    DWORD MultiSampleQuality;
    UINT Width;
    UINT Height;
};

struct D3DLOCKED_RECT {
    INT Pitch;
    void *pBits;
};

// ---- Interfaces ------------------------------------------------------------------
// Every object starts with one reference; Release frees it with the last one.
class IUnknown {
public:
    virtual ULONG AddRef() = 0;
    virtual ULONG Release() = 0;

protected:
    virtual ~IUnknown() = default;
};

class IDirect3DDevice9;

class IDirect3DResource9 : public IUnknown {
public:
    virtual HRESULT GetDevice(IDirect3DDevice9 **device) = 0;
};

class IDirect3DVertexBuffer9 : public IDirect3DResource9 {
public:
    // offset 0 and size 0 lock the whole buffer (size 0: to the end). A lock with
    // D3DLOCK_READONLY costs nothing at the next draw; without it the locked range
    // counts as changed and is uploaded before the next draw that reads it. A
    // second lock before Unlock is refused (D3DERR_INVALIDCALL).
    virtual HRESULT Lock(UINT offsetToLock, UINT sizeToLock, void **data, DWORD flags) = 0;
    virtual HRESULT Unlock() = 0;
    virtual HRESULT GetDesc(D3DVERTEXBUFFER_DESC *desc) = 0;
};

class IDirect3DIndexBuffer9 : public IDirect3DResource9 {
public:
    virtual HRESULT Lock(UINT offsetToLock, UINT sizeToLock, void **data, DWORD flags) = 0;
    virtual HRESULT Unlock() = 0;
    virtual HRESULT GetDesc(D3DINDEXBUFFER_DESC *desc) = 0;
};

class IDirect3DBaseTexture9 : public IDirect3DResource9 {
public:
    virtual DWORD GetLevelCount() = 0;
};

class IDirect3DTexture9 : public IDirect3DBaseTexture9 {
public:
    virtual HRESULT GetLevelDesc(UINT level, D3DSURFACE_DESC *desc) = 0;
    // rect must be null (the whole level).
    virtual HRESULT LockRect(UINT level, D3DLOCKED_RECT *locked, const RECT *rect,
                             DWORD flags) = 0;
    virtual HRESULT UnlockRect(UINT level) = 0;
};

class IDirect3DVertexDeclaration9 : public IUnknown {
public:
    virtual HRESULT GetDevice(IDirect3DDevice9 **device) = 0;
    // elements null: *count receives the number of elements, D3DDECL_END included.
    virtual HRESULT GetDeclaration(D3DVERTEXELEMENT9 *elements, UINT *count) = 0;
};

class IDirect3DVertexShader9 : public IUnknown {
public:
    virtual HRESULT GetDevice(IDirect3DDevice9 **device) = 0;
};

class IDirect3DPixelShader9 : public IUnknown {
public:
    virtual HRESULT GetDevice(IDirect3DDevice9 **device) = 0;
};

class IDirect3DDevice9 : public IUnknown {
public:
    virtual HRESULT TestCooperativeLevel() = 0;
    virtual HRESULT GetDeviceCaps(D3DCAPS9 *caps) = 0;
    virtual HRESULT Reset(D3DPRESENT_PARAMETERS *params) = 0;
    // All four arguments must be null: the whole back buffer goes to the window.
    virtual HRESULT Present(const RECT *source, const RECT *dest, HWND destWindow,
                            const void *dirtyRegion) = 0;

    // Any level count is accepted; the texture has one level (sampling uses no
    // mip maps). Formats: A8R8G8B8, X8R8G8B8, A8B8G8R8, X8B8G8R8, R5G6B5,
    // X1R5G5B5, A1R5G5B5, A4R4G4B4, in Direct3D's byte order when locked.
    virtual HRESULT CreateTexture(UINT width, UINT height, UINT levels, DWORD usage,
                                  D3DFORMAT format, D3DPOOL pool, IDirect3DTexture9 **texture,
                                  HANDLE *sharedHandle) = 0;
    virtual HRESULT CreateVertexBuffer(UINT length, DWORD usage, DWORD fvf, D3DPOOL pool,
                                       IDirect3DVertexBuffer9 **buffer, HANDLE *sharedHandle) = 0;
    virtual HRESULT CreateIndexBuffer(UINT length, DWORD usage, D3DFORMAT format, D3DPOOL pool,
                                      IDirect3DIndexBuffer9 **buffer, HANDLE *sharedHandle) = 0;
    virtual HRESULT CreateVertexDeclaration(const D3DVERTEXELEMENT9 *elements,
                                            IDirect3DVertexDeclaration9 **declaration) = 0;
    virtual HRESULT CreateVertexShader(const DWORD *function, IDirect3DVertexShader9 **shader) = 0;
    virtual HRESULT CreatePixelShader(const DWORD *function, IDirect3DPixelShader9 **shader) = 0;

    virtual HRESULT SetViewport(const D3DVIEWPORT9 *viewport) = 0;
    virtual HRESULT GetViewport(D3DVIEWPORT9 *viewport) = 0;
    virtual HRESULT SetRenderState(D3DRENDERSTATETYPE state, DWORD value) = 0;
    virtual HRESULT GetRenderState(D3DRENDERSTATETYPE state, DWORD *value) = 0;
    virtual HRESULT SetTransform(D3DTRANSFORMSTATETYPE state, const D3DMATRIX *matrix) = 0;
    virtual HRESULT GetTransform(D3DTRANSFORMSTATETYPE state, D3DMATRIX *matrix) = 0;
    virtual HRESULT SetTextureStageState(DWORD stage, D3DTEXTURESTAGESTATETYPE type,
                                         DWORD value) = 0;
    virtual HRESULT SetTexture(DWORD stage, IDirect3DBaseTexture9 *texture) = 0;
    virtual HRESULT SetStreamSource(UINT stream, IDirect3DVertexBuffer9 *buffer, UINT offset,
                                    UINT stride) = 0;
    virtual HRESULT SetIndices(IDirect3DIndexBuffer9 *indices) = 0;
    virtual HRESULT SetFVF(DWORD fvf) = 0;
    virtual HRESULT SetVertexDeclaration(IDirect3DVertexDeclaration9 *declaration) = 0;
    virtual HRESULT SetVertexShader(IDirect3DVertexShader9 *shader) = 0;
    virtual HRESULT SetPixelShader(IDirect3DPixelShader9 *shader) = 0;
    virtual HRESULT SetVertexShaderConstantF(UINT startRegister, const float *data,
                                             UINT vector4fCount) = 0;
    virtual HRESULT SetPixelShaderConstantF(UINT startRegister, const float *data,
                                            UINT vector4fCount) = 0;

    // rects must be null when count is 0.
    virtual HRESULT Clear(DWORD count, const void *rects, DWORD flags, D3DCOLOR color, float z,
                          DWORD stencil) = 0;
    virtual HRESULT BeginScene() = 0;
    virtual HRESULT EndScene() = 0;
    virtual HRESULT DrawPrimitive(D3DPRIMITIVETYPE type, UINT startVertex,
                                  UINT primitiveCount) = 0;
    virtual HRESULT DrawIndexedPrimitive(D3DPRIMITIVETYPE type, INT baseVertexIndex,
                                         UINT minVertexIndex, UINT numVertices, UINT startIndex,
                                         UINT primitiveCount) = 0;
};

class IDirect3D9 : public IUnknown {
public:
    virtual UINT GetAdapterCount() = 0;
    virtual HRESULT GetDeviceCaps(UINT adapter, D3DDEVTYPE deviceType, D3DCAPS9 *caps) = 0;
    virtual HRESULT GetAdapterDisplayMode(UINT adapter, D3DDISPLAYMODE *mode) = 0;
    virtual HRESULT CheckDeviceType(UINT adapter, D3DDEVTYPE deviceType, D3DFORMAT displayFormat,
                                    D3DFORMAT backBufferFormat, BOOL windowed) = 0;
    virtual HRESULT CheckDeviceFormat(UINT adapter, D3DDEVTYPE deviceType,
                                      D3DFORMAT adapterFormat, DWORD usage,
                                      D3DRESOURCETYPE resourceType, D3DFORMAT checkFormat) = 0;
    virtual HRESULT CheckDepthStencilMatch(UINT adapter, D3DDEVTYPE deviceType,
                                           D3DFORMAT adapterFormat, D3DFORMAT renderTargetFormat,
                                           D3DFORMAT depthStencilFormat) = 0;
    virtual HRESULT CheckDeviceMultiSampleType(UINT adapter, D3DDEVTYPE deviceType,
                                               D3DFORMAT surfaceFormat, BOOL windowed,
                                               D3DMULTISAMPLE_TYPE type, DWORD *qualityLevels) = 0;
    virtual UINT GetAdapterModeCount(UINT adapter, D3DFORMAT format) = 0;
    virtual HRESULT EnumAdapterModes(UINT adapter, D3DFORMAT format, UINT mode,
                                     D3DDISPLAYMODE *displayMode) = 0;
    virtual HRESULT CreateDevice(UINT adapter, D3DDEVTYPE deviceType, HWND focusWindow,
                                 DWORD behaviorFlags, D3DPRESENT_PARAMETERS *params,
                                 IDirect3DDevice9 **device) = 0;
};

// The Direct3D object for SDK version 31 (D3D_SDK_VERSION); null for any other
// version, or where no OpenGL can be had.
IDirect3D9 *Direct3DCreate9(UINT sdkVersion);

// The symbolic name of a result code ("D3DERR_DEVICELOST", "E_FAIL", ...), or
// "Unknown" for codes this layer does not know.
const char *D3DErrorName(HRESULT hr);
