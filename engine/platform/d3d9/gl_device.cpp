// The Direct3D 9-shaped device on OpenGL: back buffer, state, drawing, Present and
// device loss.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>

#define GL_GLEXT_PROTOTYPES 1
#include <GL/glcorearb.h>

#include "gl_device.h"

namespace qrv::d3d9 {

void FillCaps(D3DDEVTYPE type, const GlLimits &limits, D3DCAPS9 *caps);

namespace {

constexpr D3DMATRIX kIdentity = {{{1, 0, 0, 0}, {0, 1, 0, 0}, {0, 0, 1, 0}, {0, 0, 0, 1}}};
constexpr size_t kPoolMaxEntries = 4;
constexpr size_t kPoolMaxBytes = size_t{512} << 20;

bool IsBackBufferFormat(D3DFORMAT f) {
    return f == D3DFMT_X8R8G8B8 || f == D3DFMT_A8R8G8B8 || f == D3DFMT_R5G6B5 ||
           f == D3DFMT_X1R5G5B5 || f == D3DFMT_A1R5G5B5;
}

GLenum ColorInternalFormat(D3DFORMAT f) {
    switch (f) {
    case D3DFMT_R5G6B5: return GL_RGB565;
    case D3DFMT_X1R5G5B5:
    case D3DFMT_A1R5G5B5: return GL_RGB5_A1;
    default: return GL_RGBA8;
    }
}

GLenum DepthInternalFormat(D3DFORMAT f) {
    switch (f) {
    case D3DFMT_D16:
    case D3DFMT_D16_LOCKABLE: return GL_DEPTH_COMPONENT16;
    case D3DFMT_D24S8: return GL_DEPTH24_STENCIL8;
    case D3DFMT_D24X8: return GL_DEPTH_COMPONENT24;
    case D3DFMT_D32: return GL_DEPTH_COMPONENT32;
    default: return 0;
    }
}


} // namespace

// ---- Creation and teardown -------------------------------------------------------
GlDevice::GlDevice(D3DDEVTYPE type, HWND window, std::unique_ptr<EglContext> context)
    : type_(type), window_(window), limits_(&LimitsFor(type)), context_(std::move(context)) {}

HRESULT GlDevice::Create(D3DDEVTYPE type, HWND focusWindow, D3DPRESENT_PARAMETERS *params,
                         GlDevice **device) {
    *device = nullptr;
    if (!LimitsFor(type).available) return D3DERR_NOTAVAILABLE;
    HWND window = params->hDeviceWindow ? params->hDeviceWindow : focusWindow;
    if (!window) return D3DERR_INVALIDCALL;
    std::unique_ptr<EglContext> context = EglContext::Create(type);
    if (!context) return D3DERR_NOTAVAILABLE;
    GlDevice *result = new GlDevice(type, window, std::move(context));
    D3DPRESENT_PARAMETERS completed = *params;
    HRESULT hr = result->CompleteParameters(&completed);
    if (SUCCEEDED(hr)) {
        result->InitContextState();
        if (!result->BuildFramebuffer(completed)) hr = D3DERR_OUTOFVIDEOMEMORY;
    }
    if (FAILED(hr)) {
        result->Release();
        return hr;
    }
    *params = completed;
    result->params_ = completed;
    result->ResetStates();
    *device = result;
    return D3D_OK;
}

GlDevice::~GlDevice() {
    MakeCurrent();
    DropBindings();
    for (auto &entry : programs_)
        if (entry.second->program) glDeleteProgram(entry.second->program);
    programs_.clear();
    for (Pooled &pooled : pool_)
        if (pooled.gl) glDeleteBuffers(1, &pooled.gl);
    pool_.clear();
    DestroyFramebuffer();
    if (vertexArray_) glDeleteVertexArrays(1, &vertexArray_);
    if (blackTexture_) glDeleteTextures(1, &blackTexture_);
    if (edgeBuffer_) glDeleteBuffers(1, &edgeBuffer_);
    context_.reset();
}

ULONG GlDevice::Release() {
    if (refs_ <= 0) return 0;
    if (--refs_ > 0) return static_cast<ULONG>(refs_);
    delete this;
    return 0;
}

bool GlDevice::MakeCurrent() { return context_ && context_->MakeCurrent(); }

HRESULT GlDevice::CompleteParameters(D3DPRESENT_PARAMETERS *p) const {
    if (p->BackBufferCount > 3) return D3DERR_INVALIDCALL;
    if (p->SwapEffect < D3DSWAPEFFECT_DISCARD || p->SwapEffect > D3DSWAPEFFECT_COPY)
        return D3DERR_INVALIDCALL;
    if (p->BackBufferCount == 0) p->BackBufferCount = 1;
    if (p->Windowed) {
        int32_t width = 0, height = 0;
        if (window_->clientSize) window_->clientSize(window_->context, &width, &height);
        if (p->BackBufferWidth == 0) p->BackBufferWidth = static_cast<UINT>(std::max(width, 1));
        if (p->BackBufferHeight == 0) p->BackBufferHeight = static_cast<UINT>(std::max(height, 1));
        if (p->BackBufferFormat == D3DFMT_UNKNOWN) p->BackBufferFormat = D3DFMT_X8R8G8B8;
    } else if (p->BackBufferWidth == 0 || p->BackBufferHeight == 0 ||
               p->BackBufferFormat == D3DFMT_UNKNOWN) {
        return D3DERR_INVALIDCALL;
    }
    if (!IsBackBufferFormat(p->BackBufferFormat)) return D3DERR_INVALIDCALL;
    const UINT maxSize = static_cast<UINT>(limits_->maxTextureSize);
    if (p->BackBufferWidth > maxSize || p->BackBufferHeight > maxSize) return D3DERR_INVALIDCALL;
    if (p->EnableAutoDepthStencil && !DepthInternalFormat(p->AutoDepthStencilFormat))
        return D3DERR_INVALIDCALL;
    if (p->MultiSampleType == D3DMULTISAMPLE_NONMASKABLE) {
        // One quality level per sample count GL offers.
        UINT levels = 0;
        for (int n = 2; n <= limits_->maxSamples; n *= 2) ++levels;
        if (p->MultiSampleQuality >= std::max(levels, 1u) ) return D3DERR_INVALIDCALL;
    } else if (p->MultiSampleType != D3DMULTISAMPLE_NONE) {
        if (p->MultiSampleType < 2 || p->MultiSampleType > 16 ||
            static_cast<int>(p->MultiSampleType) > limits_->maxSamples || p->MultiSampleQuality != 0)
            return D3DERR_INVALIDCALL;
    }
    return D3D_OK;
}

void GlDevice::InitContextState() {
    // Direct3D's window space: clip z in [0, 1]; rendering with the upper-left
    // origin puts the top row first in memory, so Present reads the frame in the
    // order the window wants it, without flipping rows.
    glClipControl(GL_UPPER_LEFT, GL_ZERO_TO_ONE);
    // Flat shading takes the first vertex's colour, as Direct3D does.
    glProvokingVertex(GL_FIRST_VERTEX_CONVENTION);
    glDisable(GL_DITHER);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    // The back buffer's alpha is not shown: keep it opaque for Present.
    glColorMask(GL_TRUE, GL_TRUE, GL_TRUE, GL_FALSE);
    glCreateVertexArrays(1, &vertexArray_);
    glBindVertexArray(vertexArray_);
    // What a sampler without a texture reads: opaque black.
    const uint32_t black = 0xFF000000u;
    glCreateTextures(GL_TEXTURE_2D, 1, &blackTexture_);
    glTextureStorage2D(blackTexture_, 1, GL_RGBA8, 1, 1);
    glTextureSubImage2D(blackTexture_, 0, 0, 0, 1, 1, GL_RGBA, GL_UNSIGNED_BYTE, &black);
    for (AttributeState &a : attributes_) a = AttributeState{};
    for (int i = 0; i < 16; ++i) glDisableVertexArrayAttrib(vertexArray_, static_cast<GLuint>(i));
    for (BindingState &b : bindings_) b = BindingState{};
    boundIndexBuffer_ = 0;
    for (GLuintT &t : boundTextures_) t = 0;
    program_ = nullptr;
    inputsDirty_ = programDirty_ = rasterDirty_ = true;
}

bool GlDevice::BuildFramebuffer(const D3DPRESENT_PARAMETERS &p) {
    samples_ = 0;
    if (p.MultiSampleType == D3DMULTISAMPLE_NONMASKABLE)
        samples_ = 2u << p.MultiSampleQuality;
    else if (p.MultiSampleType != D3DMULTISAMPLE_NONE)
        samples_ = p.MultiSampleType;
    const auto width = static_cast<GLsizei>(p.BackBufferWidth);
    const auto height = static_cast<GLsizei>(p.BackBufferHeight);
    for (int i = 0; i < 16 && glGetError() != GL_NO_ERROR; ++i) {
    }
    glCreateRenderbuffers(1, &colorBuffer_);
    glNamedRenderbufferStorageMultisample(colorBuffer_, static_cast<GLsizei>(samples_),
                                          ColorInternalFormat(p.BackBufferFormat), width, height);
    glCreateFramebuffers(1, &framebuffer_);
    glNamedFramebufferRenderbuffer(framebuffer_, GL_COLOR_ATTACHMENT0, GL_RENDERBUFFER, colorBuffer_);
    hasDepth_ = p.EnableAutoDepthStencil != 0;
    hasStencil_ = hasDepth_ && p.AutoDepthStencilFormat == D3DFMT_D24S8;
    if (hasDepth_) {
        glCreateRenderbuffers(1, &depthBuffer_);
        glNamedRenderbufferStorageMultisample(depthBuffer_, static_cast<GLsizei>(samples_),
                                              DepthInternalFormat(p.AutoDepthStencilFormat),
                                              width, height);
        glNamedFramebufferRenderbuffer(framebuffer_,
                                       hasStencil_ ? GL_DEPTH_STENCIL_ATTACHMENT : GL_DEPTH_ATTACHMENT,
                                       GL_RENDERBUFFER, depthBuffer_);
    }
    if (samples_) {
        glCreateRenderbuffers(1, &resolveColor_);
        glNamedRenderbufferStorage(resolveColor_, ColorInternalFormat(p.BackBufferFormat), width,
                                   height);
        glCreateFramebuffers(1, &resolveFramebuffer_);
        glNamedFramebufferRenderbuffer(resolveFramebuffer_, GL_COLOR_ATTACHMENT0, GL_RENDERBUFFER,
                                       resolveColor_);
    }
    if (glGetError() != GL_NO_ERROR ||
        glCheckNamedFramebufferStatus(framebuffer_, GL_FRAMEBUFFER) != GL_FRAMEBUFFER_COMPLETE ||
        (samples_ && glCheckNamedFramebufferStatus(resolveFramebuffer_, GL_FRAMEBUFFER) !=
                         GL_FRAMEBUFFER_COMPLETE)) {
        DestroyFramebuffer();
        return false;
    }
    glBindFramebuffer(GL_FRAMEBUFFER, framebuffer_);
    // A new back buffer starts black and opaque, its depth at the far plane.
    glColorMask(GL_TRUE, GL_TRUE, GL_TRUE, GL_TRUE);
    const GLfloat black[4] = {0, 0, 0, 1};
    const GLfloat far = 1.0f;
    glClearNamedFramebufferfv(framebuffer_, GL_COLOR, 0, black);
    if (hasDepth_) {
        glDepthMask(GL_TRUE);
        if (hasStencil_)
            glClearNamedFramebufferfi(framebuffer_, GL_DEPTH_STENCIL, 0, far, 0);
        else
            glClearNamedFramebufferfv(framebuffer_, GL_DEPTH, 0, &far);
    }
    glColorMask(GL_TRUE, GL_TRUE, GL_TRUE, GL_FALSE);
    frame_.assign(static_cast<size_t>(width) * static_cast<size_t>(height), 0);
    rasterDirty_ = true;
    return true;
}

void GlDevice::DestroyFramebuffer() {
    if (framebuffer_) glDeleteFramebuffers(1, &framebuffer_);
    if (colorBuffer_) glDeleteRenderbuffers(1, &colorBuffer_);
    if (depthBuffer_) glDeleteRenderbuffers(1, &depthBuffer_);
    if (resolveFramebuffer_) glDeleteFramebuffers(1, &resolveFramebuffer_);
    if (resolveColor_) glDeleteRenderbuffers(1, &resolveColor_);
    framebuffer_ = colorBuffer_ = depthBuffer_ = resolveFramebuffer_ = resolveColor_ = 0;
}

void GlDevice::ResetStates() {
    std::fill(std::begin(renderStates_), std::end(renderStates_), 0u);
    renderStates_[D3DRS_ZENABLE] = hasDepth_ ? D3DZB_TRUE : D3DZB_FALSE;
    renderStates_[D3DRS_FILLMODE] = D3DFILL_SOLID;
    renderStates_[D3DRS_SHADEMODE] = D3DSHADE_GOURAUD;
    renderStates_[D3DRS_ZWRITEENABLE] = TRUE;
    renderStates_[16] = TRUE; // LASTPIXEL
    renderStates_[D3DRS_SRCBLEND] = D3DBLEND_ONE;
    renderStates_[D3DRS_DESTBLEND] = D3DBLEND_ZERO;
    renderStates_[D3DRS_CULLMODE] = D3DCULL_CCW;
    renderStates_[D3DRS_ZFUNC] = 4; // LESSEQUAL
    renderStates_[25] = 8; // ALPHAFUNC ALWAYS
    renderStates_[60] = 0xFFFFFFFFu; // TEXTUREFACTOR
    renderStates_[D3DRS_LIGHTING] = TRUE;
    renderStates_[141] = TRUE; // COLORVERTEX
    renderStates_[145] = 1; // DIFFUSEMATERIALSOURCE COLOR1
    renderStates_[146] = 2; // SPECULARMATERIALSOURCE COLOR2
    renderStates_[D3DRS_MULTISAMPLEANTIALIAS] = TRUE;
    renderStates_[162] = 0xFFFFFFFFu; // MULTISAMPLEMASK
    renderStates_[D3DRS_COLORWRITEENABLE] = 0xF;
    for (int i = 0; i < kMaxTextureStages; ++i) {
        StageState &s = stages_[i];
        s.colorOp = i == 0 ? D3DTOP_MODULATE : D3DTOP_DISABLE;
        s.alphaOp = i == 0 ? D3DTOP_SELECTARG1 : D3DTOP_DISABLE;
        s.colorArg1 = s.alphaArg1 = D3DTA_TEXTURE;
        s.colorArg2 = s.alphaArg2 = D3DTA_CURRENT;
        s.texCoordIndex = static_cast<DWORD>(i);
        s.transformFlags = D3DTTFF_DISABLE;
        textureMatrix_[i] = kIdentity;
    }
    world_ = view_ = projection_ = kIdentity;
    viewport_ = D3DVIEWPORT9{0, 0, params_.BackBufferWidth, params_.BackBufferHeight, 0.0f, 1.0f};
    DropBindings();
    fvf_ = 0;
    fvfLayout_.elements.clear();
    std::memset(vertexConstants_, 0, sizeof vertexConstants_);
    std::memset(pixelConstants_, 0, sizeof pixelConstants_);
    inScene_ = false;
    inputsDirty_ = programDirty_ = rasterDirty_ = true;
    ++transformVersion_;
    ++viewportVersion_;
    ++vertexConstantVersion_;
    ++pixelConstantVersion_;
}

void GlDevice::DropBindings() {
    auto drop = [](auto *&object) {
        if (object) {
            auto *old = object;
            object = nullptr;
            old->UnbindRef();
        }
    };
    for (GlTexture *&t : textures_) drop(t);
    for (Stream &s : streams_) {
        drop(s.buffer);
        s.offset = s.stride = 0;
    }
    drop(indices_);
    drop(declaration_);
    drop(vertexShader_);
    drop(pixelShader_);
}

void GlDevice::DropAllGl() {
    // The old context is gone with every name in it: forget them all.
    for (GlChild *child : children_) child->DropGl();
    programs_.clear();
    program_ = nullptr;
    for (Pooled &pooled : pool_) pooled.gl = 0;
    framebuffer_ = colorBuffer_ = depthBuffer_ = resolveFramebuffer_ = resolveColor_ = 0;
    vertexArray_ = blackTexture_ = edgeBuffer_ = 0;
    edgeVertices_ = 0;
}

// ---- Recycled memory ---------------------------------------------------------------
Block GlDevice::TakeBlock(UINT size, GLuintT *gl) {
    for (auto it = pool_.rbegin(); it != pool_.rend(); ++it) {
        if (it->size == size) {
            Block block = std::move(it->block);
            *gl = it->gl;
            pool_.erase(std::next(it).base());
            return block;
        }
    }
    *gl = 0;
    // Fresh memory comes zeroed from the system without being touched here.
    return Block(static_cast<uint8_t *>(std::calloc(size ? size : 1, 1)));
}

void GlDevice::ReturnBlock(UINT size, Block block, GLuintT gl) {
    pool_.push_back(Pooled{size, std::move(block), gl});
    size_t bytes = 0;
    for (const Pooled &p : pool_) bytes += p.size;
    while (pool_.size() > kPoolMaxEntries || (bytes > kPoolMaxBytes && !pool_.empty())) {
        bytes -= pool_.front().size;
        if (pool_.front().gl && MakeCurrent()) {
            ForgetGlBuffer(pool_.front().gl);
            glDeleteBuffers(1, &pool_.front().gl);
        }
        pool_.erase(pool_.begin());
    }
}

void GlDevice::ForgetGlBuffer(GLuintT name) {
    // GL unbinds a deleted buffer; a new one may get the same name.
    for (BindingState &b : bindings_)
        if (b.buffer == name) b = BindingState{};
    if (boundIndexBuffer_ == name) boundIndexBuffer_ = 0;
}

void GlDevice::ForgetGlTexture(GLuintT name) {
    for (GLuintT &t : boundTextures_)
        if (t == name) t = 0;
}

void GlDevice::ForgetShader(uint64_t id) {
    MakeCurrent();
    for (auto it = programs_.begin(); it != programs_.end();) {
        Program &p = *it->second;
        if (p.vertexShaderId == id || p.pixelShaderId == id) {
            if (program_ == &p) {
                program_ = nullptr;
                programDirty_ = true;
            }
            if (p.program) glDeleteProgram(p.program);
            it = programs_.erase(it);
        } else {
            ++it;
        }
    }
}

// ---- Device loss ---------------------------------------------------------------------
bool GlDevice::WindowCanShow() const {
    if (!window_->clientSize) return true;
    int32_t width = 0, height = 0;
    window_->clientSize(window_->context, &width, &height);
    return width > 0 && height > 0;
}

void GlDevice::InjectLoss() {
    lost_ = injected_ = contextLost_ = true;
    resettable_ = false;
    inScene_ = false;
}

HRESULT GlDevice::TestCooperativeLevel() {
    if (!lost_) {
        if (MakeCurrent() && context_->IsLost())
            lost_ = contextLost_ = true;
        else if (!WindowCanShow())
            lost_ = true;
        else
            return D3D_OK;
    }
    if ((injected_ && !resettable_) || !WindowCanShow()) return D3DERR_DEVICELOST;
    return D3DERR_DEVICENOTRESET;
}

HRESULT GlDevice::Reset(D3DPRESENT_PARAMETERS *params) {
    if (!params) return D3DERR_INVALIDCALL;
    if (lost_ && ((injected_ && !resettable_) || !WindowCanShow())) return D3DERR_DEVICELOST;
    if (params->hDeviceWindow) window_ = params->hDeviceWindow;
    D3DPRESENT_PARAMETERS completed = *params;
    HRESULT hr = CompleteParameters(&completed);
    if (FAILED(hr)) {
        lost_ = true; // a failed reset leaves the device waiting for a good one
        return hr;
    }
    if (contextLost_) {
        std::unique_ptr<EglContext> context = EglContext::Create(type_);
        if (!context) return D3DERR_DEVICELOST;
        DropAllGl();
        context_ = std::move(context); // the old context is destroyed here
        InitContextState();
    } else {
        MakeCurrent();
        DestroyFramebuffer();
    }
    if (!BuildFramebuffer(completed)) {
        lost_ = true;
        return D3DERR_OUTOFVIDEOMEMORY;
    }
    *params = completed;
    params_ = completed;
    ResetStates();
    lost_ = injected_ = contextLost_ = resettable_ = false;
    return D3D_OK;
}

HRESULT GlDevice::Present(const RECT *source, const RECT *dest, HWND destWindow,
                          const void *dirtyRegion) {
    if (source || dest || destWindow || dirtyRegion) return D3DERR_INVALIDCALL;
    if (lost_) return D3DERR_DEVICELOST;
    if (!MakeCurrent() || context_->IsLost()) {
        lost_ = contextLost_ = true;
        return D3DERR_DEVICELOST;
    }
    if (!WindowCanShow()) {
        lost_ = true;
        return D3DERR_DEVICELOST;
    }
    const auto width = static_cast<GLsizei>(params_.BackBufferWidth);
    const auto height = static_cast<GLsizei>(params_.BackBufferHeight);
    GLuint source_framebuffer = framebuffer_;
    if (samples_) {
        glBlitNamedFramebuffer(framebuffer_, resolveFramebuffer_, 0, 0, width, height, 0, 0, width,
                               height, GL_COLOR_BUFFER_BIT, GL_NEAREST);
        source_framebuffer = resolveFramebuffer_;
    }
    glBindFramebuffer(GL_READ_FRAMEBUFFER, source_framebuffer);
    // BGRA with the reversed 8-bit packing gives 0xAARRGGBB words on any byte order.
    glReadPixels(0, 0, width, height, GL_BGRA, GL_UNSIGNED_INT_8_8_8_8_REV, frame_.data());
    glBindFramebuffer(GL_READ_FRAMEBUFFER, framebuffer_);
    if (window_->present)
        window_->present(window_->context, frame_.data(), width, height, width * 4);
    return D3D_OK;
}

HRESULT GlDevice::GetDeviceCaps(D3DCAPS9 *caps) {
    if (!caps) return D3DERR_INVALIDCALL;
    FillCaps(type_, *limits_, caps);
    return D3D_OK;
}

// ---- Resource creation ---------------------------------------------------------------
HRESULT GlDevice::CreateTexture(UINT width, UINT height, UINT levels, DWORD usage,
                                D3DFORMAT format, D3DPOOL pool, IDirect3DTexture9 **texture,
                                HANDLE *sharedHandle) {
    if (!texture) return D3DERR_INVALIDCALL;
    *texture = nullptr;
    if (sharedHandle) return D3DERR_INVALIDCALL;
    const TextureFormatInfo *info = TextureFormat(format);
    if (!info) return D3DERR_INVALIDCALL;
    const UINT maxSize = static_cast<UINT>(limits_->maxTextureSize);
    if (width == 0 || height == 0 || width > maxSize || height > maxSize) return D3DERR_INVALIDCALL;
    if (pool > D3DPOOL_SCRATCH) return D3DERR_INVALIDCALL;
    (void)levels; // one level is made whatever is asked: sampling never uses mip maps here
    auto *result = new GlTexture(this, width, height, usage, *info, pool);
    if (!result->valid()) {
        result->Release();
        return E_OUTOFMEMORY;
    }
    *texture = result;
    return D3D_OK;
}

HRESULT GlDevice::CreateVertexBuffer(UINT length, DWORD usage, DWORD fvf, D3DPOOL pool,
                                     IDirect3DVertexBuffer9 **buffer, HANDLE *sharedHandle) {
    if (!buffer) return D3DERR_INVALIDCALL;
    *buffer = nullptr;
    if (length == 0 || sharedHandle || pool > D3DPOOL_SCRATCH) return D3DERR_INVALIDCALL;
    auto *result = new GlVertexBuffer(this, length, usage, fvf, pool);
    if (!result->store().valid()) {
        result->Release();
        return E_OUTOFMEMORY;
    }
    *buffer = result;
    return D3D_OK;
}

HRESULT GlDevice::CreateIndexBuffer(UINT length, DWORD usage, D3DFORMAT format, D3DPOOL pool,
                                    IDirect3DIndexBuffer9 **buffer, HANDLE *sharedHandle) {
    if (!buffer) return D3DERR_INVALIDCALL;
    *buffer = nullptr;
    if (length == 0 || sharedHandle || pool > D3DPOOL_SCRATCH) return D3DERR_INVALIDCALL;
    if (format != D3DFMT_INDEX16 && format != D3DFMT_INDEX32) return D3DERR_INVALIDCALL;
    auto *result = new GlIndexBuffer(this, length, usage, format, pool);
    if (!result->store().valid()) {
        result->Release();
        return E_OUTOFMEMORY;
    }
    *buffer = result;
    return D3D_OK;
}

HRESULT GlDevice::CreateVertexDeclaration(const D3DVERTEXELEMENT9 *elements,
                                          IDirect3DVertexDeclaration9 **declaration) {
    if (!declaration) return D3DERR_INVALIDCALL;
    *declaration = nullptr;
    if (!elements) return D3DERR_INVALIDCALL;
    constexpr int kMaxElements = 64;
    VertexLayout layout;
    for (int i = 0;; ++i) {
        if (i >= kMaxElements) return D3DERR_INVALIDCALL; // no end marker in sight
        const D3DVERTEXELEMENT9 &e = elements[i];
        if (e.Stream == 0xFF && e.Type == D3DDECLTYPE_UNUSED) break;
        if (e.Stream >= kMaxStreams || DeclTypeSize(e.Type) == 0 || e.Method != 0 ||
            e.Usage > D3DDECLUSAGE_SAMPLE || e.UsageIndex > 15 ||
            e.Offset > static_cast<UINT>(limits_->maxAttribRelativeOffset) || (e.Offset & 3))
            return D3DERR_INVALIDCALL;
        for (const D3DVERTEXELEMENT9 &other : layout.elements)
            if (other.Usage == e.Usage && other.UsageIndex == e.UsageIndex)
                return D3DERR_INVALIDCALL; // each usage once
        layout.elements.push_back(e);
    }
    *declaration = new GlVertexDeclaration(this, std::move(layout));
    return D3D_OK;
}

namespace {

// Reads and checks a shader's tokens; false when the translator refuses them.
bool LoadShader(const DWORD *function, bool pixel, ShaderVariants *variants) {
    // The stream carries its own end token; the bound only stops a runaway read.
    constexpr size_t kMaxTokens = size_t{1} << 16;
    std::string error;
    TranslatedShader translated;
    if (!TranslateShader(function, kMaxTokens, false, &translated, &error)) {
        std::fprintf(stderr, "d3d9: shader refused: %s\n", error.c_str());
        return false;
    }
    if (translated.pixel != pixel) return false;
    variants->tokens.assign(function, function + translated.tokenCount);
    variants->translated[0] = std::move(translated);
    return true;
}

} // namespace

HRESULT GlDevice::CreateVertexShader(const DWORD *function, IDirect3DVertexShader9 **shader) {
    if (!shader) return D3DERR_INVALIDCALL;
    *shader = nullptr;
    if (!function) return D3DERR_INVALIDCALL;
    ShaderVariants variants;
    if (!LoadShader(function, false, &variants)) return D3DERR_INVALIDCALL;
    variants.id = NextShaderId();
    if (MakeCurrent() && !lost_ && !ShaderObject(variants, false, GL_VERTEX_SHADER))
        return D3DERR_INVALIDCALL;
    *shader = new GlVertexShader(this, std::move(variants));
    return D3D_OK;
}

HRESULT GlDevice::CreatePixelShader(const DWORD *function, IDirect3DPixelShader9 **shader) {
    if (!shader) return D3DERR_INVALIDCALL;
    *shader = nullptr;
    if (!function) return D3DERR_INVALIDCALL;
    ShaderVariants variants;
    if (!LoadShader(function, true, &variants)) return D3DERR_INVALIDCALL;
    variants.id = NextShaderId();
    if (MakeCurrent() && !lost_ && !ShaderObject(variants, false, GL_FRAGMENT_SHADER))
        return D3DERR_INVALIDCALL;
    *shader = new GlPixelShader(this, std::move(variants));
    return D3D_OK;
}

// ---- State -----------------------------------------------------------------------------
HRESULT GlDevice::SetViewport(const D3DVIEWPORT9 *viewport) {
    if (!viewport) return D3DERR_INVALIDCALL;
    const uint64_t right = uint64_t{viewport->X} + viewport->Width;
    const uint64_t bottom = uint64_t{viewport->Y} + viewport->Height;
    if (viewport->Width == 0 || viewport->Height == 0 || right > params_.BackBufferWidth ||
        bottom > params_.BackBufferHeight || !(viewport->MinZ >= 0.0f) ||
        !(viewport->MaxZ <= 1.0f) || viewport->MinZ > viewport->MaxZ)
        return D3DERR_INVALIDCALL;
    viewport_ = *viewport;
    ++viewportVersion_;
    rasterDirty_ = true;
    return D3D_OK;
}

HRESULT GlDevice::GetViewport(D3DVIEWPORT9 *viewport) {
    if (!viewport) return D3DERR_INVALIDCALL;
    *viewport = viewport_;
    return D3D_OK;
}

HRESULT GlDevice::SetRenderState(D3DRENDERSTATETYPE state, DWORD value) {
    if (state >= 256) return D3DERR_INVALIDCALL;
    if (renderStates_[state] == value) return D3D_OK;
    renderStates_[state] = value;
    switch (state) {
    case D3DRS_SHADEMODE:
    case D3DRS_LIGHTING: programDirty_ = true; break;
    default: rasterDirty_ = true; break;
    }
    return D3D_OK;
}

HRESULT GlDevice::GetRenderState(D3DRENDERSTATETYPE state, DWORD *value) {
    if (state >= 256 || !value) return D3DERR_INVALIDCALL;
    *value = renderStates_[state];
    return D3D_OK;
}

namespace {
D3DMATRIX *TransformSlot(D3DTRANSFORMSTATETYPE state, D3DMATRIX &world, D3DMATRIX &view,
                         D3DMATRIX &projection, D3DMATRIX *texture) {
    switch (state) {
    case D3DTS_WORLD: return &world;
    case D3DTS_VIEW: return &view;
    case D3DTS_PROJECTION: return &projection;
    default:
        if (state >= D3DTS_TEXTURE0 && state < D3DTS_TEXTURE0 + kMaxTextureStages)
            return &texture[state - D3DTS_TEXTURE0];
        return nullptr;
    }
}
} // namespace

HRESULT GlDevice::SetTransform(D3DTRANSFORMSTATETYPE state, const D3DMATRIX *matrix) {
    D3DMATRIX *slot = TransformSlot(state, world_, view_, projection_, textureMatrix_);
    if (!slot || !matrix) return D3DERR_INVALIDCALL;
    *slot = *matrix;
    ++transformVersion_;
    return D3D_OK;
}

HRESULT GlDevice::GetTransform(D3DTRANSFORMSTATETYPE state, D3DMATRIX *matrix) {
    D3DMATRIX *slot = TransformSlot(state, world_, view_, projection_, textureMatrix_);
    if (!slot || !matrix) return D3DERR_INVALIDCALL;
    *matrix = *slot;
    return D3D_OK;
}

HRESULT GlDevice::SetTextureStageState(DWORD stage, D3DTEXTURESTAGESTATETYPE type, DWORD value) {
    if (stage >= kMaxTextureStages) return D3DERR_INVALIDCALL;
    StageState &s = stages_[stage];
    DWORD *field = nullptr;
    switch (type) {
    case D3DTSS_COLOROP: field = &s.colorOp; break;
    case D3DTSS_COLORARG1: field = &s.colorArg1; break;
    case D3DTSS_COLORARG2: field = &s.colorArg2; break;
    case D3DTSS_ALPHAOP: field = &s.alphaOp; break;
    case D3DTSS_ALPHAARG1: field = &s.alphaArg1; break;
    case D3DTSS_ALPHAARG2: field = &s.alphaArg2; break;
    case D3DTSS_TEXCOORDINDEX: field = &s.texCoordIndex; break;
    case D3DTSS_TEXTURETRANSFORMFLAGS: field = &s.transformFlags; break;
    default: return D3D_OK; // states the emulation does not use are accepted and ignored
    }
    if (*field != value) {
        *field = value;
        programDirty_ = true;
    }
    return D3D_OK;
}

HRESULT GlDevice::SetTexture(DWORD stage, IDirect3DBaseTexture9 *texture) {
    if (stage >= 16) return D3DERR_INVALIDCALL;
    GlTexture *t = nullptr;
    if (texture) {
        t = dynamic_cast<GlTexture *>(texture);
        if (!t || t->device() != this) return D3DERR_INVALIDCALL;
    }
    GlTexture *old = textures_[stage];
    if (old == t) return D3D_OK;
    if (t) t->BindRef();
    textures_[stage] = t;
    if ((old == nullptr) != (t == nullptr)) programDirty_ = true;
    if (old) old->UnbindRef();
    return D3D_OK;
}

HRESULT GlDevice::SetStreamSource(UINT stream, IDirect3DVertexBuffer9 *buffer, UINT offset,
                                  UINT stride) {
    if (stream >= kMaxStreams) return D3DERR_INVALIDCALL;
    GlVertexBuffer *b = nullptr;
    if (buffer) {
        b = dynamic_cast<GlVertexBuffer *>(buffer);
        if (!b || b->device() != this) return D3DERR_INVALIDCALL;
        if (stride > static_cast<UINT>(limits_->maxAttribStride)) return D3DERR_INVALIDCALL;
    }
    Stream &s = streams_[stream];
    if (s.buffer == b && s.offset == offset && s.stride == stride) return D3D_OK;
    if (b) b->BindRef();
    GlVertexBuffer *old = s.buffer;
    s.buffer = b;
    s.offset = b ? offset : 0;
    s.stride = b ? stride : 0;
    inputsDirty_ = true;
    if (old) old->UnbindRef();
    return D3D_OK;
}

HRESULT GlDevice::SetIndices(IDirect3DIndexBuffer9 *indices) {
    GlIndexBuffer *b = nullptr;
    if (indices) {
        b = dynamic_cast<GlIndexBuffer *>(indices);
        if (!b || b->device() != this) return D3DERR_INVALIDCALL;
    }
    if (b == indices_) return D3D_OK;
    if (b) b->BindRef();
    GlIndexBuffer *old = indices_;
    indices_ = b;
    if (old) old->UnbindRef();
    return D3D_OK;
}

HRESULT GlDevice::SetFVF(DWORD fvf) {
    if (fvf == fvf_ && !declaration_) return D3D_OK;
    VertexLayout layout;
    if (fvf != 0) {
        auto found = fvfLayouts_.find(fvf);
        if (found == fvfLayouts_.end()) {
            if (!LayoutFromFvf(fvf, &layout)) return D3DERR_INVALIDCALL;
            found = fvfLayouts_.emplace(fvf, layout).first;
        }
        layout = found->second;
    }
    // A vertex format replaces the declaration, as in Direct3D.
    if (declaration_) {
        GlVertexDeclaration *old = declaration_;
        declaration_ = nullptr;
        old->UnbindRef();
    }
    fvf_ = fvf;
    fvfLayout_ = std::move(layout);
    inputsDirty_ = programDirty_ = true;
    return D3D_OK;
}

HRESULT GlDevice::SetVertexDeclaration(IDirect3DVertexDeclaration9 *declaration) {
    GlVertexDeclaration *d = nullptr;
    if (declaration) {
        d = dynamic_cast<GlVertexDeclaration *>(declaration);
        if (!d || d->device() != this) return D3DERR_INVALIDCALL;
    }
    if (d == declaration_ && fvf_ == 0) return D3D_OK;
    if (d) d->BindRef();
    GlVertexDeclaration *old = declaration_;
    declaration_ = d;
    fvf_ = 0;
    fvfLayout_.elements.clear();
    inputsDirty_ = programDirty_ = true;
    if (old) old->UnbindRef();
    return D3D_OK;
}

HRESULT GlDevice::SetVertexShader(IDirect3DVertexShader9 *shader) {
    GlVertexShader *s = nullptr;
    if (shader) {
        s = dynamic_cast<GlVertexShader *>(shader);
        if (!s || s->device() != this) return D3DERR_INVALIDCALL;
    }
    if (s == vertexShader_) return D3D_OK;
    if (s) s->BindRef();
    GlVertexShader *old = vertexShader_;
    vertexShader_ = s;
    inputsDirty_ = programDirty_ = true;
    if (old) old->UnbindRef();
    return D3D_OK;
}

HRESULT GlDevice::SetPixelShader(IDirect3DPixelShader9 *shader) {
    GlPixelShader *s = nullptr;
    if (shader) {
        s = dynamic_cast<GlPixelShader *>(shader);
        if (!s || s->device() != this) return D3DERR_INVALIDCALL;
    }
    if (s == pixelShader_) return D3D_OK;
    if (s) s->BindRef();
    GlPixelShader *old = pixelShader_;
    pixelShader_ = s;
    programDirty_ = true;
    if (old) old->UnbindRef();
    return D3D_OK;
}

HRESULT GlDevice::SetVertexShaderConstantF(UINT startRegister, const float *data, UINT count) {
    if (startRegister >= 256 || count > 256 - startRegister || (!data && count))
        return D3DERR_INVALIDCALL;
    if (count) std::memcpy(vertexConstants_[startRegister], data, count * 4 * sizeof(float));
    ++vertexConstantVersion_;
    return D3D_OK;
}

HRESULT GlDevice::SetPixelShaderConstantF(UINT startRegister, const float *data, UINT count) {
    if (startRegister >= 32 || count > 32 - startRegister || (!data && count))
        return D3DERR_INVALIDCALL;
    if (count) std::memcpy(pixelConstants_[startRegister], data, count * 4 * sizeof(float));
    ++pixelConstantVersion_;
    return D3D_OK;
}

// ---- Frame -----------------------------------------------------------------------------
HRESULT GlDevice::Clear(DWORD count, const void *rects, DWORD flags, D3DCOLOR color, float z,
                        DWORD stencil) {
    if ((count == 0) != (rects == nullptr)) return D3DERR_INVALIDCALL;
    if ((flags & ~(D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER | D3DCLEAR_STENCIL)) || flags == 0)
        return D3DERR_INVALIDCALL;
    if ((flags & D3DCLEAR_ZBUFFER) && !hasDepth_) return D3DERR_INVALIDCALL;
    if ((flags & D3DCLEAR_STENCIL) && !hasStencil_) return D3DERR_INVALIDCALL;
    if (lost_ || !MakeCurrent()) return D3D_OK;

    // Clear covers the viewport, cut further by the rectangles when given.
    const LONG vx0 = static_cast<LONG>(viewport_.X), vy0 = static_cast<LONG>(viewport_.Y);
    const LONG vx1 = vx0 + static_cast<LONG>(viewport_.Width);
    const LONG vy1 = vy0 + static_cast<LONG>(viewport_.Height);
    glBindFramebuffer(GL_DRAW_FRAMEBUFFER, framebuffer_);
    glEnable(GL_SCISSOR_TEST);
    glColorMask(GL_TRUE, GL_TRUE, GL_TRUE, GL_TRUE);
    glDepthMask(GL_TRUE);
    glStencilMask(0xFF);
    glClearColor(static_cast<float>((color >> 16) & 0xFF) / 255.0f,
                 static_cast<float>((color >> 8) & 0xFF) / 255.0f,
                 static_cast<float>(color & 0xFF) / 255.0f, 1.0f);
    glClearDepth(std::clamp(z, 0.0f, 1.0f));
    glClearStencil(static_cast<GLint>(stencil & 0xFF));
    GLbitfield mask = 0;
    if (flags & D3DCLEAR_TARGET) mask |= GL_COLOR_BUFFER_BIT;
    if (flags & D3DCLEAR_ZBUFFER) mask |= GL_DEPTH_BUFFER_BIT;
    if (flags & D3DCLEAR_STENCIL) mask |= GL_STENCIL_BUFFER_BIT;
    const auto *rectList = static_cast<const RECT *>(rects);
    for (DWORD i = 0; i < std::max<DWORD>(count, 1); ++i) {
        LONG x0 = vx0, y0 = vy0, x1 = vx1, y1 = vy1;
        if (count) {
            x0 = std::max(x0, rectList[i].left);
            y0 = std::max(y0, rectList[i].top);
            x1 = std::min(x1, rectList[i].right);
            y1 = std::min(y1, rectList[i].bottom);
        }
        if (x1 <= x0 || y1 <= y0) continue;
        // The framebuffer holds the top row first, so window rows count from the top.
        glScissor(x0, y0, x1 - x0, y1 - y0);
        glClear(mask);
    }
    glDisable(GL_SCISSOR_TEST);
    glColorMask(GL_TRUE, GL_TRUE, GL_TRUE, GL_FALSE);
    rasterDirty_ = true; // depth mask
    return D3D_OK;
}

HRESULT GlDevice::BeginScene() {
    if (inScene_) return D3DERR_INVALIDCALL;
    inScene_ = true;
    return D3D_OK;
}

HRESULT GlDevice::EndScene() {
    if (!inScene_) return D3DERR_INVALIDCALL;
    inScene_ = false;
    return D3D_OK;
}

} // namespace qrv::d3d9
