// The Direct3D object of the OpenGL implementation: adapter queries, capability
// answers and device creation, plus the test seams of d3d9_testing.h.
#include <algorithm>
#include <mutex>

#define GL_GLEXT_PROTOTYPES 1
#include <GL/glcorearb.h>

#include "d3d9_testing.h"
#include "gl_device.h"
#include "shader_code.h"

namespace qrv::d3d9 {

const GlLimits &LimitsFor(D3DDEVTYPE type) {
    static std::once_flag once[2];
    static GlLimits limits[2];
    static const GlLimits none;
    if (type != D3DDEVTYPE_HAL && type != D3DDEVTYPE_REF) return none;
    const int i = type == D3DDEVTYPE_HAL ? 0 : 1;
    std::call_once(once[i], [&] {
        std::unique_ptr<EglContext> probe = EglContext::Create(type);
        if (!probe) return;
        GlLimits &l = limits[i];
        glGetIntegerv(GL_MAX_TEXTURE_SIZE, &l.maxTextureSize);
        GLint renderbuffer = 0;
        glGetIntegerv(GL_MAX_RENDERBUFFER_SIZE, &renderbuffer);
        l.maxTextureSize = std::min(l.maxTextureSize, renderbuffer);
        glGetIntegerv(GL_MAX_SAMPLES, &l.maxSamples);
        glGetIntegerv(GL_MAX_VERTEX_ATTRIBS, &l.maxVertexAttribs);
        glGetIntegerv(GL_MAX_VERTEX_ATTRIB_STRIDE, &l.maxAttribStride);
        glGetIntegerv(GL_MAX_VERTEX_ATTRIB_RELATIVE_OFFSET, &l.maxAttribRelativeOffset);
        glGetIntegerv(GL_MAX_COMBINED_TEXTURE_IMAGE_UNITS, &l.maxTextureUnits);
        // The layer needs clip control and direct state access (GL 4.5).
        GLint major = 0, minor = 0;
        glGetIntegerv(GL_MAJOR_VERSION, &major);
        glGetIntegerv(GL_MINOR_VERSION, &minor);
        l.available = (major > 4 || (major == 4 && minor >= 5)) && l.maxTextureSize > 0 &&
                      l.maxVertexAttribs >= 16;
    });
    return limits[i];
}

void FillCaps(D3DDEVTYPE type, const GlLimits &limits, D3DCAPS9 *caps) {
    *caps = D3DCAPS9{};
    caps->DeviceType = type;
    caps->AdapterOrdinal = D3DADAPTER_DEFAULT;
    caps->MaxTextureWidth = caps->MaxTextureHeight = static_cast<DWORD>(limits.maxTextureSize);
    caps->MaxTextureRepeat = 8192;
    caps->MaxTextureAspectRatio = static_cast<DWORD>(limits.maxTextureSize);
    caps->MaxTextureBlendStages = 8;
    caps->MaxSimultaneousTextures = 8;
    caps->MaxPrimitiveCount = 0xFFFFFF;
    caps->MaxVertexIndex = 0xFFFFFF;
    caps->MaxStreams = static_cast<DWORD>(std::min(limits.maxVertexAttribs, 16));
    caps->MaxStreamStride = static_cast<DWORD>(limits.maxAttribStride);
    caps->VertexShaderVersion = D3DVS_VERSION(2, 0);
    caps->MaxVertexShaderConst = 256;
    caps->PixelShaderVersion = D3DPS_VERSION(2, 0);
    caps->PixelShader1xMaxValue = qrv::d3d9::kPixelShader1xMaxValue;
    caps->NumSimultaneousRTs = 1;
}

namespace {

Direct3DFactory factory = nullptr;

bool IsDisplayFormat(D3DFORMAT f) {
    return f == D3DFMT_X8R8G8B8 || f == D3DFMT_R5G6B5 || f == D3DFMT_X1R5G5B5;
}

bool IsRenderTargetFormat(D3DFORMAT f) {
    return f == D3DFMT_X8R8G8B8 || f == D3DFMT_A8R8G8B8 || f == D3DFMT_R5G6B5 ||
           f == D3DFMT_X1R5G5B5 || f == D3DFMT_A1R5G5B5;
}

bool IsDepthFormat(D3DFORMAT f) {
    return f == D3DFMT_D16 || f == D3DFMT_D24S8 || f == D3DFMT_D24X8 || f == D3DFMT_D32;
}

// The modes offered where no display is known: the usual desktop sizes at 60 Hz.
constexpr struct {
    UINT width, height;
} kModes[] = {{640, 480},   {800, 600},   {1024, 768},  {1152, 864}, {1280, 720},
              {1280, 1024}, {1600, 1200}, {1920, 1080}};

class Direct3D9Gl final : public IDirect3D9 {
public:
    ULONG AddRef() override { return ++refs_; }
    ULONG Release() override {
        if (refs_ == 0) return 0;
        if (--refs_ > 0) return refs_;
        delete this;
        return 0;
    }

    UINT GetAdapterCount() override { return 1; }

    HRESULT GetDeviceCaps(UINT adapter, D3DDEVTYPE type, D3DCAPS9 *caps) override {
        if (adapter != D3DADAPTER_DEFAULT || !caps) return D3DERR_INVALIDCALL;
        if (type != D3DDEVTYPE_HAL && type != D3DDEVTYPE_REF) return D3DERR_INVALIDCALL;
        const GlLimits &limits = LimitsFor(type);
        if (!limits.available) return D3DERR_NOTAVAILABLE;
        FillCaps(type, limits, caps);
        return D3D_OK;
    }

    HRESULT GetAdapterDisplayMode(UINT adapter, D3DDISPLAYMODE *mode) override {
        if (adapter != D3DADAPTER_DEFAULT || !mode) return D3DERR_INVALIDCALL;
        // Frames go to a host window, not to a display of our own: answer with a
        // common desktop mode.
        *mode = D3DDISPLAYMODE{1024, 768, 60, D3DFMT_X8R8G8B8};
        return D3D_OK;
    }

    HRESULT CheckDeviceType(UINT adapter, D3DDEVTYPE type, D3DFORMAT displayFormat,
                            D3DFORMAT backBufferFormat, BOOL windowed) override {
        HRESULT hr = CheckAdapter(adapter, type);
        if (FAILED(hr)) return hr;
        if (!IsDisplayFormat(displayFormat)) return D3DERR_NOTAVAILABLE;
        if (backBufferFormat == D3DFMT_UNKNOWN && windowed) return D3D_OK;
        if (!IsRenderTargetFormat(backBufferFormat)) return D3DERR_NOTAVAILABLE;
        // Full screen shows the back buffer as it is: same format, alpha aside.
        if (!windowed && backBufferFormat != displayFormat &&
            !(displayFormat == D3DFMT_X8R8G8B8 && backBufferFormat == D3DFMT_A8R8G8B8) &&
            !(displayFormat == D3DFMT_X1R5G5B5 && backBufferFormat == D3DFMT_A1R5G5B5))
            return D3DERR_NOTAVAILABLE;
        return D3D_OK;
    }

    HRESULT CheckDeviceFormat(UINT adapter, D3DDEVTYPE type, D3DFORMAT adapterFormat, DWORD usage,
                              D3DRESOURCETYPE resourceType, D3DFORMAT checkFormat) override {
        HRESULT hr = CheckAdapter(adapter, type);
        if (FAILED(hr)) return hr;
        if (!IsDisplayFormat(adapterFormat)) return D3DERR_INVALIDCALL;
        switch (resourceType) {
        case D3DRTYPE_SURFACE:
            if (usage & D3DUSAGE_DEPTHSTENCIL)
                return IsDepthFormat(checkFormat) && !(usage & D3DUSAGE_RENDERTARGET)
                           ? D3D_OK
                           : D3DERR_NOTAVAILABLE;
            if (usage & D3DUSAGE_RENDERTARGET)
                return IsRenderTargetFormat(checkFormat) ? D3D_OK : D3DERR_NOTAVAILABLE;
            return TextureFormat(checkFormat) ? D3D_OK : D3DERR_NOTAVAILABLE;
        case D3DRTYPE_TEXTURE:
            if (usage & D3DUSAGE_DEPTHSTENCIL) return D3DERR_NOTAVAILABLE;
            if (usage & D3DUSAGE_RENDERTARGET)
                return IsRenderTargetFormat(checkFormat) && TextureFormat(checkFormat)
                           ? D3D_OK
                           : D3DERR_NOTAVAILABLE;
            return TextureFormat(checkFormat) ? D3D_OK : D3DERR_NOTAVAILABLE;
        case D3DRTYPE_VERTEXBUFFER:
            return checkFormat == D3DFMT_VERTEXDATA ? D3D_OK : D3DERR_NOTAVAILABLE;
        case D3DRTYPE_INDEXBUFFER:
            return checkFormat == D3DFMT_INDEX16 || checkFormat == D3DFMT_INDEX32
                       ? D3D_OK
                       : D3DERR_NOTAVAILABLE;
        default: return D3DERR_NOTAVAILABLE;
        }
    }

    HRESULT CheckDepthStencilMatch(UINT adapter, D3DDEVTYPE type, D3DFORMAT adapterFormat,
                                   D3DFORMAT renderTargetFormat,
                                   D3DFORMAT depthStencilFormat) override {
        HRESULT hr = CheckAdapter(adapter, type);
        if (FAILED(hr)) return hr;
        if (!IsDisplayFormat(adapterFormat)) return D3DERR_INVALIDCALL;
        // Renderbuffers of any colour and depth format combine in one framebuffer.
        return IsRenderTargetFormat(renderTargetFormat) && IsDepthFormat(depthStencilFormat)
                   ? D3D_OK
                   : D3DERR_NOTAVAILABLE;
    }

    HRESULT CheckDeviceMultiSampleType(UINT adapter, D3DDEVTYPE type, D3DFORMAT surfaceFormat,
                                       BOOL windowed, D3DMULTISAMPLE_TYPE multiSample,
                                       DWORD *qualityLevels) override {
        (void)windowed;
        if (qualityLevels) *qualityLevels = 0;
        HRESULT hr = CheckAdapter(adapter, type);
        if (FAILED(hr)) return hr;
        if (!IsRenderTargetFormat(surfaceFormat) && !IsDepthFormat(surfaceFormat))
            return D3DERR_NOTAVAILABLE;
        const int maxSamples = LimitsFor(type).maxSamples;
        DWORD levels = 0;
        if (multiSample == D3DMULTISAMPLE_NONE) {
            levels = 1;
        } else if (multiSample == D3DMULTISAMPLE_NONMASKABLE) {
            for (int n = 2; n <= maxSamples; n *= 2) ++levels; // one level per GL sample count
        } else if (multiSample >= 2 && multiSample <= 16 &&
                   static_cast<int>(multiSample) <= maxSamples &&
                   (multiSample & (multiSample - 1)) == 0) {
            levels = 1;
        }
        if (levels == 0) return D3DERR_NOTAVAILABLE;
        if (qualityLevels) *qualityLevels = levels;
        return D3D_OK;
    }

    UINT GetAdapterModeCount(UINT adapter, D3DFORMAT format) override {
        if (adapter != D3DADAPTER_DEFAULT || !IsDisplayFormat(format)) return 0;
        return static_cast<UINT>(std::size(kModes));
    }

    HRESULT EnumAdapterModes(UINT adapter, D3DFORMAT format, UINT mode,
                             D3DDISPLAYMODE *displayMode) override {
        if (adapter != D3DADAPTER_DEFAULT || !displayMode) return D3DERR_INVALIDCALL;
        if (!IsDisplayFormat(format)) return D3DERR_NOTAVAILABLE;
        if (mode >= std::size(kModes)) return D3DERR_INVALIDCALL;
        *displayMode = D3DDISPLAYMODE{kModes[mode].width, kModes[mode].height, 60, format};
        return D3D_OK;
    }

    HRESULT CreateDevice(UINT adapter, D3DDEVTYPE type, HWND focusWindow, DWORD behaviorFlags,
                         D3DPRESENT_PARAMETERS *params, IDirect3DDevice9 **device) override {
        if (!device) return D3DERR_INVALIDCALL;
        *device = nullptr;
        if (!params || adapter != D3DADAPTER_DEFAULT) return D3DERR_INVALIDCALL;
        if (type != D3DDEVTYPE_HAL && type != D3DDEVTYPE_REF) return D3DERR_INVALIDCALL;
        // Exactly one way of processing vertices; every one of them is GL's.
        const DWORD processing = behaviorFlags & (D3DCREATE_SOFTWARE_VERTEXPROCESSING |
                                                  D3DCREATE_HARDWARE_VERTEXPROCESSING |
                                                  D3DCREATE_MIXED_VERTEXPROCESSING);
        if (processing != D3DCREATE_SOFTWARE_VERTEXPROCESSING &&
            processing != D3DCREATE_HARDWARE_VERTEXPROCESSING &&
            processing != D3DCREATE_MIXED_VERTEXPROCESSING)
            return D3DERR_INVALIDCALL;
        GlDevice *result = nullptr;
        const HRESULT hr = GlDevice::Create(type, focusWindow, params, &result);
        if (SUCCEEDED(hr)) *device = result;
        return hr;
    }

private:
    static HRESULT CheckAdapter(UINT adapter, D3DDEVTYPE type) {
        if (adapter != D3DADAPTER_DEFAULT) return D3DERR_INVALIDCALL;
        if (type != D3DDEVTYPE_HAL && type != D3DDEVTYPE_REF) return D3DERR_INVALIDCALL;
        return LimitsFor(type).available ? D3D_OK : D3DERR_NOTAVAILABLE;
    }

    ULONG refs_ = 1;
};

} // namespace

void SetDirect3DFactory(Direct3DFactory f) { factory = f; }

bool InjectDeviceLoss(IDirect3DDevice9 *device) {
    auto *gl = dynamic_cast<GlDevice *>(device);
    if (!gl) return false;
    gl->InjectLoss();
    return true;
}

bool SetDeviceResettable(IDirect3DDevice9 *device, bool resettable) {
    auto *gl = dynamic_cast<GlDevice *>(device);
    if (!gl) return false;
    gl->SetResettable(resettable);
    return true;
}

} // namespace qrv::d3d9

IDirect3D9 *Direct3DCreate9(UINT sdkVersion) {
    using namespace qrv::d3d9;
    if (factory) return factory(sdkVersion);
    if (sdkVersion != D3D_SDK_VERSION) return nullptr;
    if (!LimitsFor(D3DDEVTYPE_HAL).available && !LimitsFor(D3DDEVTYPE_REF).available)
        return nullptr;
    return new Direct3D9Gl();
}
