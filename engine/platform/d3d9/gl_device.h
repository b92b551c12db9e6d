// The OpenGL implementation of the Direct3D 9-shaped device and its resources.
// Internal to the graphics layer: engine code sees only d3d9.h.
//
// Lifetimes. Every resource holds a reference on its device, so the device and its
// GL context outlive every resource made from it. A bound resource is also held
// by the device (a binding reference, apart from the public count), so that a
// resource released while still bound keeps working until it is unbound, as in
// Direct3D; the device drops its bindings when its last public reference goes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "d3d9.h"
#include "egl_context.h"
#include "fixed_function.h"
#include "shader_glsl.h"

namespace qrv::d3d9 {

using GLuintT = unsigned int;

class GlDevice;

// GL limits of one device type, read once from a probe context.
struct GlLimits {
    bool available = false;
    int maxTextureSize = 0;
    int maxSamples = 0;
    int maxVertexAttribs = 0;
    int maxAttribStride = 0;
    int maxAttribRelativeOffset = 0;
    int maxTextureUnits = 0;
};
const GlLimits &LimitsFor(D3DDEVTYPE type);

// Memory freed with std::free.
struct FreeDeleter {
    void operator()(void *p) const { std::free(p); }
};
using Block = std::unique_ptr<uint8_t, FreeDeleter>;

// The GL side of every device child: told when the context is replaced.
class GlChild {
public:
    // The context was replaced: GL names are gone, CPU copies stay; the next use
    // makes the GL object again from the CPU copy.
    virtual void DropGl() = 0;

protected:
    ~GlChild() = default;
};

// Reference counting shared by every object a device makes.
template <class Interface>
class DeviceChild : public Interface, public GlChild {
public:
    explicit DeviceChild(GlDevice *device);
    ULONG AddRef() override { return ++refs_; }
    ULONG Release() override;
    HRESULT GetDevice(IDirect3DDevice9 **device) override;

    void BindRef() { ++binds_; }
    void UnbindRef();
    GlDevice *device() const { return device_; }

protected:
    ~DeviceChild() override;
    GlDevice *device_;

private:
    ULONG refs_ = 1;
    ULONG binds_ = 0;
};

// ---- Vertex layouts --------------------------------------------------------------
struct VertexLayout {
    std::vector<D3DVERTEXELEMENT9> elements; // without the end marker
};
// Bytes an element of this type takes, 0 for an unknown type.
UINT DeclTypeSize(BYTE type);
// The layout of a flexible vertex format; false for formats this layer cannot draw.
bool LayoutFromFvf(DWORD fvf, VertexLayout *layout);

// ---- Buffers ---------------------------------------------------------------------
// The CPU copy and GL storage of a managed buffer, with the span that changed
// since the last upload.
class BufferStore {
public:
    BufferStore(GlDevice *device, UINT size);
    ~BufferStore();
    HRESULT Lock(UINT offset, UINT size, void **data, DWORD flags);
    HRESULT Unlock();
    // The GL buffer, made if need be, with every change uploaded. 0 on failure.
    GLuintT Prepare();
    void DropGl() { gl_ = 0; MarkAllDirty(); }
    const uint8_t *data() const { return memory_.get(); }
    UINT size() const { return size_; }
    bool locked() const { return locked_; }
    uint64_t version() const { return version_; }
    bool valid() const { return memory_ != nullptr; }

private:
    void MarkAllDirty() { dirtyBegin_ = 0; dirtyEnd_ = size_; }
    GlDevice *device_;
    UINT size_;
    Block memory_;
    GLuintT gl_ = 0;
    UINT dirtyBegin_ = 0, dirtyEnd_ = 0;
    bool locked_ = false;
    uint64_t version_ = 0; // counts writing locks
};

class GlVertexBuffer final : public DeviceChild<IDirect3DVertexBuffer9> {
public:
    GlVertexBuffer(GlDevice *device, UINT length, DWORD usage, DWORD fvf, D3DPOOL pool);
    HRESULT Lock(UINT offset, UINT size, void **data, DWORD flags) override {
        return store_.Lock(offset, size, data, flags);
    }
    HRESULT Unlock() override { return store_.Unlock(); }
    HRESULT GetDesc(D3DVERTEXBUFFER_DESC *desc) override;
    void DropGl() override { store_.DropGl(); }
    BufferStore &store() { return store_; }

private:
    BufferStore store_;
    DWORD usage_, fvf_;
    D3DPOOL pool_;
};

class GlIndexBuffer final : public DeviceChild<IDirect3DIndexBuffer9> {
public:
    GlIndexBuffer(GlDevice *device, UINT length, DWORD usage, D3DFORMAT format, D3DPOOL pool);
    HRESULT Lock(UINT offset, UINT size, void **data, DWORD flags) override {
        return store_.Lock(offset, size, data, flags);
    }
    HRESULT Unlock() override { return store_.Unlock(); }
    HRESULT GetDesc(D3DINDEXBUFFER_DESC *desc) override;
    void DropGl() override { store_.DropGl(); }
    BufferStore &store() { return store_; }
    UINT indexSize() const { return format_ == D3DFMT_INDEX32 ? 4 : 2; }
    // Smallest and largest index among count indices from start (cached for the
    // last range asked, until the buffer changes).
    void IndexRange(UINT start, UINT count, uint32_t *low, uint32_t *high);

private:
    BufferStore store_;
    DWORD usage_;
    D3DFORMAT format_;
    D3DPOOL pool_;
    struct {
        uint64_t version = ~0ull;
        UINT start = 0, count = 0;
        uint32_t low = 0, high = 0;
    } range_;
};

// ---- Textures --------------------------------------------------------------------
struct TextureFormatInfo {
    D3DFORMAT format;
    UINT bytesPerPixel;
    unsigned internalFormat, glFormat, glType;
    bool swapRedBlue; // bytes in B, G, R order: swizzle instead of a slow BGRA upload
    bool opaque;      // no alpha channel: alpha reads as 1
};
const TextureFormatInfo *TextureFormat(D3DFORMAT format);

class GlTexture final : public DeviceChild<IDirect3DTexture9> {
public:
    GlTexture(GlDevice *device, UINT width, UINT height, DWORD usage,
              const TextureFormatInfo &format, D3DPOOL pool);
    ~GlTexture() override;
    DWORD GetLevelCount() override { return 1; }
    HRESULT GetLevelDesc(UINT level, D3DSURFACE_DESC *desc) override;
    HRESULT LockRect(UINT level, D3DLOCKED_RECT *locked, const RECT *rect, DWORD flags) override;
    HRESULT UnlockRect(UINT level) override;
    void DropGl() override {
        gl_ = 0;
        pooledBuffer_ = 0;
        dirty_ = true;
    }
    GLuintT Prepare();
    bool valid() const { return memory_ != nullptr; }

private:
    size_t Bytes() const { return static_cast<size_t>(width_) * height_ * format_.bytesPerPixel; }

    UINT width_, height_;
    DWORD usage_;
    const TextureFormatInfo &format_;
    D3DPOOL pool_;
    Block memory_; // from the device's pool of recycled blocks, and back there at the end
    GLuintT pooledBuffer_ = 0; // a GL buffer that came with the recycled block
    GLuintT gl_ = 0;
    bool dirty_ = true;
    bool locked_ = false;
};

// ---- Declarations and shaders ------------------------------------------------------
class GlVertexDeclaration final : public DeviceChild<IDirect3DVertexDeclaration9> {
public:
    GlVertexDeclaration(GlDevice *device, VertexLayout layout)
        : DeviceChild(device), layout_(std::move(layout)) {}
    HRESULT GetDeclaration(D3DVERTEXELEMENT9 *elements, UINT *count) override;
    void DropGl() override {}
    const VertexLayout &layout() const { return layout_; }

private:
    VertexLayout layout_;
};

// The translated GLSL of a shader, per colour interpolation (smooth, flat).
struct ShaderVariants {
    std::vector<DWORD> tokens;
    TranslatedShader translated[2];
    GLuintT gl[2] = {0, 0};
    bool tried[2] = {false, false};
    uint64_t id = 0;
};

// A compiled GL shader stage, 0 when the source does not compile (logged).
GLuintT CompileShader(unsigned stage, const std::string &source);
// The GL shader object of a translated shader for the colour interpolation asked,
// translated and compiled on first use; 0 when either step fails.
GLuintT ShaderObject(ShaderVariants &variants, bool flat, unsigned stage);

class GlVertexShader final : public DeviceChild<IDirect3DVertexShader9> {
public:
    GlVertexShader(GlDevice *device, ShaderVariants variants);
    ~GlVertexShader() override;
    void DropGl() override;
    ShaderVariants &variants() { return variants_; }

private:
    ShaderVariants variants_;
};

class GlPixelShader final : public DeviceChild<IDirect3DPixelShader9> {
public:
    GlPixelShader(GlDevice *device, ShaderVariants variants);
    ~GlPixelShader() override;
    void DropGl() override;
    ShaderVariants &variants() { return variants_; }

private:
    ShaderVariants variants_;
};

// ---- The device ------------------------------------------------------------------
class GlDevice final : public IDirect3DDevice9 {
public:
    // A device drawing into an offscreen framebuffer for window; params are
    // completed (sizes from the window's client area) as Direct3D does.
    static HRESULT Create(D3DDEVTYPE type, HWND focusWindow, D3DPRESENT_PARAMETERS *params,
                          GlDevice **device);

    ULONG AddRef() override { return ++refs_; }
    ULONG Release() override;

    HRESULT TestCooperativeLevel() override;
    HRESULT GetDeviceCaps(D3DCAPS9 *caps) override;
    HRESULT Reset(D3DPRESENT_PARAMETERS *params) override;
    HRESULT Present(const RECT *source, const RECT *dest, HWND destWindow,
                    const void *dirtyRegion) override;

    HRESULT CreateTexture(UINT width, UINT height, UINT levels, DWORD usage, D3DFORMAT format,
                          D3DPOOL pool, IDirect3DTexture9 **texture, HANDLE *sharedHandle) override;
    HRESULT CreateVertexBuffer(UINT length, DWORD usage, DWORD fvf, D3DPOOL pool,
                               IDirect3DVertexBuffer9 **buffer, HANDLE *sharedHandle) override;
    HRESULT CreateIndexBuffer(UINT length, DWORD usage, D3DFORMAT format, D3DPOOL pool,
                              IDirect3DIndexBuffer9 **buffer, HANDLE *sharedHandle) override;
    HRESULT CreateVertexDeclaration(const D3DVERTEXELEMENT9 *elements,
                                    IDirect3DVertexDeclaration9 **declaration) override;
    HRESULT CreateVertexShader(const DWORD *function, IDirect3DVertexShader9 **shader) override;
    HRESULT CreatePixelShader(const DWORD *function, IDirect3DPixelShader9 **shader) override;

    HRESULT SetViewport(const D3DVIEWPORT9 *viewport) override;
    HRESULT GetViewport(D3DVIEWPORT9 *viewport) override;
    HRESULT SetRenderState(D3DRENDERSTATETYPE state, DWORD value) override;
    HRESULT GetRenderState(D3DRENDERSTATETYPE state, DWORD *value) override;
    HRESULT SetTransform(D3DTRANSFORMSTATETYPE state, const D3DMATRIX *matrix) override;
    HRESULT GetTransform(D3DTRANSFORMSTATETYPE state, D3DMATRIX *matrix) override;
    HRESULT SetTextureStageState(DWORD stage, D3DTEXTURESTAGESTATETYPE type, DWORD value) override;
    HRESULT SetTexture(DWORD stage, IDirect3DBaseTexture9 *texture) override;
    HRESULT SetStreamSource(UINT stream, IDirect3DVertexBuffer9 *buffer, UINT offset,
                            UINT stride) override;
    HRESULT SetIndices(IDirect3DIndexBuffer9 *indices) override;
    HRESULT SetFVF(DWORD fvf) override;
    HRESULT SetVertexDeclaration(IDirect3DVertexDeclaration9 *declaration) override;
    HRESULT SetVertexShader(IDirect3DVertexShader9 *shader) override;
    HRESULT SetPixelShader(IDirect3DPixelShader9 *shader) override;
    HRESULT SetVertexShaderConstantF(UINT startRegister, const float *data,
                                     UINT vector4fCount) override;
    HRESULT SetPixelShaderConstantF(UINT startRegister, const float *data,
                                    UINT vector4fCount) override;

    HRESULT Clear(DWORD count, const void *rects, DWORD flags, D3DCOLOR color, float z,
                  DWORD stencil) override;
    HRESULT BeginScene() override;
    HRESULT EndScene() override;
    HRESULT DrawPrimitive(D3DPRIMITIVETYPE type, UINT startVertex, UINT primitiveCount) override;
    HRESULT DrawIndexedPrimitive(D3DPRIMITIVETYPE type, INT baseVertexIndex, UINT minVertexIndex,
                                 UINT numVertices, UINT startIndex, UINT primitiveCount) override;

    // For the resources and the test seams.
    bool MakeCurrent();
    void Register(GlChild *child) { children_.insert(child); }
    void Unregister(GlChild *child) { children_.erase(child); }
    // Recycled CPU blocks and GL buffers, keyed by size.
    Block TakeBlock(UINT size, GLuintT *gl);
    void ReturnBlock(UINT size, Block block, GLuintT gl);
    void ForgetGlBuffer(GLuintT name);
    void ForgetGlTexture(GLuintT name);
    uint64_t NextShaderId() { return ++lastShaderId_; }
    void ForgetShader(uint64_t id);
    const GlLimits &limits() const { return *limits_; }
    D3DDEVTYPE type() const { return type_; }
    bool contextLost() const { return contextLost_; }
    void InjectLoss();
    void SetResettable(bool resettable) { resettable_ = resettable; }

private:
    GlDevice(D3DDEVTYPE type, HWND window, std::unique_ptr<EglContext> context);
    ~GlDevice();

    HRESULT CompleteParameters(D3DPRESENT_PARAMETERS *params) const;
    bool BuildFramebuffer(const D3DPRESENT_PARAMETERS &params);
    void DestroyFramebuffer();
    void InitContextState();
    void ResetStates();
    void DropBindings();
    void DropAllGl();
    bool WindowCanShow() const;

    // Drawing.
    HRESULT PrepareDraw(UINT *availableVertices);
    bool PrepareInputs();
    bool PrepareProgram();
    void PrepareRasterState();
    bool PrepareTextures();
    bool DrawStripEdges(UINT startVertex, uint64_t vertices);
    // A linked GL program with the uniform values it was last given.
    struct Program {
        GLuintT program = 0;
        bool failed = false;
        bool fixedVertex = true, fixedPixel = true;
        uint64_t vertexShaderId = 0, pixelShaderId = 0;
        uint32_t samplers = 0;
        int worldViewProj = -1, worldView = -1, texMatrix = -1, pixelOffset = -1,
            vertexConstants = -1, pixelConstants = -1;
        uint64_t transformVersion = 0, viewportVersion = 0, vertexConstantVersion = 0,
                 pixelConstantVersion = 0;
    };
    Program *FindProgram();
    void UploadUniforms(Program &program);

    int refs_ = 1;
    D3DDEVTYPE type_;
    HWND window_;
    const GlLimits *limits_;
    std::unique_ptr<EglContext> context_;
    std::unordered_set<GlChild *> children_;

    // Device loss.
    bool lost_ = false;
    bool injected_ = false;
    bool resettable_ = false;
    bool contextLost_ = false;

    // The back buffer.
    D3DPRESENT_PARAMETERS params_{};
    UINT samples_ = 0;
    GLuintT framebuffer_ = 0, colorBuffer_ = 0, depthBuffer_ = 0;
    GLuintT resolveFramebuffer_ = 0, resolveColor_ = 0;
    bool hasDepth_ = false, hasStencil_ = false;
    std::vector<uint32_t> frame_;

    // Pipeline state as Direct3D sees it.
    DWORD renderStates_[256];
    struct StageState {
        DWORD colorOp, colorArg1, colorArg2, alphaOp, alphaArg1, alphaArg2, texCoordIndex,
            transformFlags;
    } stages_[kMaxTextureStages];
    D3DMATRIX world_, view_, projection_, textureMatrix_[kMaxTextureStages];
    D3DVIEWPORT9 viewport_{};
    GlTexture *textures_[16] = {};
    static constexpr int kMaxStreams = 16;
    struct Stream {
        GlVertexBuffer *buffer = nullptr;
        UINT offset = 0, stride = 0;
    } streams_[kMaxStreams];
    GlIndexBuffer *indices_ = nullptr;
    DWORD fvf_ = 0;
    VertexLayout fvfLayout_;
    GlVertexDeclaration *declaration_ = nullptr;
    GlVertexShader *vertexShader_ = nullptr;
    GlPixelShader *pixelShader_ = nullptr;
    float vertexConstants_[256][4] = {};
    float pixelConstants_[32][4] = {};
    bool inScene_ = false;

    // What changed since the last draw.
    bool inputsDirty_ = true, programDirty_ = true, rasterDirty_ = true;
    uint64_t transformVersion_ = 1, viewportVersion_ = 1, vertexConstantVersion_ = 1,
             pixelConstantVersion_ = 1;

    // The GL side as last set.
    GLuintT vertexArray_ = 0;
    GLuintT blackTexture_ = 0;
    GLuintT edgeBuffer_ = 0; // wire-frame edges of a strip, see DrawStripEdges
    UINT edgeVertices_ = 0;
    struct AttributeState {
        bool enabled = false;
        int stream = -1;
        BYTE type = 0xFF;
        WORD offset = 0;
        float fallback[4] = {0, 0, 0, 1};
    } attributes_[16];
    struct BindingState {
        GLuintT buffer = 0;
        UINT offset = 0, stride = 0;
    } bindings_[kMaxStreams];
    UINT streamElementEnd_[kMaxStreams] = {}; // bytes read per vertex, 0 when unused
    GLuintT boundIndexBuffer_ = 0;
    GLuintT boundTextures_[16] = {};
    Program *program_ = nullptr;
    std::unordered_map<std::string, std::unique_ptr<Program>> programs_;
    std::unordered_map<DWORD, VertexLayout> fvfLayouts_;
    uint64_t lastShaderId_ = 0;
    uint32_t samplersUsed_ = 0; // units the current program samples

    // Recycled blocks.
    struct Pooled {
        UINT size;
        Block block;
        GLuintT gl;
    };
    std::vector<Pooled> pool_;
};

} // namespace qrv::d3d9
