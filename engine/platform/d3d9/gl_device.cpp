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
constexpr DWORD kMaxPrimitiveCount = 0xFFFFFF;
// A fraction of a pixel, coarser than the rasteriser's sub-pixel grid (8 bits).
constexpr float kTieBreak = 1.0f / 128.0f;
constexpr size_t kPoolMaxEntries = 4;
constexpr size_t kPoolMaxBytes = size_t{512} << 20;

// D3D render state numbers the device acts on beyond those named in d3d9.h.
constexpr DWORD kRsSrcBlend = 19, kRsDestBlend = 20, kRsColorWriteEnable = 168;

D3DMATRIX Multiply(const D3DMATRIX &a, const D3DMATRIX &b) {
    D3DMATRIX r;
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j)
            r.m[i][j] = a.m[i][0] * b.m[0][j] + a.m[i][1] * b.m[1][j] + a.m[i][2] * b.m[2][j] +
                        a.m[i][3] * b.m[3][j];
    return r;
}

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

// Vertices that count primitives of a type take; 0 for an unknown type.
uint64_t VertexCount(D3DPRIMITIVETYPE type, UINT count) {
    switch (type) {
    case D3DPT_POINTLIST: return count;
    case D3DPT_LINELIST: return uint64_t{count} * 2;
    case D3DPT_LINESTRIP: return uint64_t{count} + 1;
    case D3DPT_TRIANGLELIST: return uint64_t{count} * 3;
    case D3DPT_TRIANGLESTRIP:
    case D3DPT_TRIANGLEFAN: return uint64_t{count} + 2;
    default: return 0;
    }
}

GLenum PrimitiveMode(D3DPRIMITIVETYPE type) {
    switch (type) {
    case D3DPT_POINTLIST: return GL_POINTS;
    case D3DPT_LINELIST: return GL_LINES;
    case D3DPT_LINESTRIP: return GL_LINE_STRIP;
    case D3DPT_TRIANGLELIST: return GL_TRIANGLES;
    case D3DPT_TRIANGLESTRIP: return GL_TRIANGLE_STRIP;
    default: return GL_TRIANGLE_FAN;
    }
}

GLenum CompareFunction(DWORD f) {
    static constexpr GLenum kFunctions[] = {GL_NEVER,   GL_LESS,     GL_EQUAL,  GL_LEQUAL,
                                            GL_GREATER, GL_NOTEQUAL, GL_GEQUAL, GL_ALWAYS};
    return f >= 1 && f <= 8 ? kFunctions[f - 1] : GL_LEQUAL;
}

GLenum BlendFactor(DWORD f) {
    switch (f) {
    case 1: return GL_ZERO;
    case 2: return GL_ONE;
    case 3: return GL_SRC_COLOR;
    case 4: return GL_ONE_MINUS_SRC_COLOR;
    case 5: return GL_SRC_ALPHA;
    case 6: return GL_ONE_MINUS_SRC_ALPHA;
    case 7: return GL_DST_ALPHA;
    case 8: return GL_ONE_MINUS_DST_ALPHA;
    case 9: return GL_DST_COLOR;
    case 10: return GL_ONE_MINUS_DST_COLOR;
    case 11: return GL_SRC_ALPHA_SATURATE;
    default: return GL_ONE;
    }
}

// How a declaration type reaches a GL attribute.
struct AttribFormat {
    GLint size;
    GLenum type;
    GLboolean normalized;
};
AttribFormat AttributeFormat(BYTE type) {
    switch (type) {
    case D3DDECLTYPE_FLOAT1: return {1, GL_FLOAT, GL_FALSE};
    case D3DDECLTYPE_FLOAT2: return {2, GL_FLOAT, GL_FALSE};
    case D3DDECLTYPE_FLOAT3: return {3, GL_FLOAT, GL_FALSE};
    case D3DDECLTYPE_FLOAT4: return {4, GL_FLOAT, GL_FALSE};
    // 0xAARRGGBB little-endian is B, G, R, A in memory: GL_BGRA reorders it to rgba.
    case D3DDECLTYPE_D3DCOLOR: return {GL_BGRA, GL_UNSIGNED_BYTE, GL_TRUE};
    case D3DDECLTYPE_UBYTE4: return {4, GL_UNSIGNED_BYTE, GL_FALSE};
    case D3DDECLTYPE_UBYTE4N: return {4, GL_UNSIGNED_BYTE, GL_TRUE};
    case D3DDECLTYPE_SHORT2: return {2, GL_SHORT, GL_FALSE};
    case D3DDECLTYPE_SHORT4: return {4, GL_SHORT, GL_FALSE};
    case D3DDECLTYPE_SHORT2N: return {2, GL_SHORT, GL_TRUE};
    case D3DDECLTYPE_SHORT4N: return {4, GL_SHORT, GL_TRUE};
    case D3DDECLTYPE_USHORT2N: return {2, GL_UNSIGNED_SHORT, GL_TRUE};
    case D3DDECLTYPE_USHORT4N: return {4, GL_UNSIGNED_SHORT, GL_TRUE};
    case D3DDECLTYPE_FLOAT16_2: return {2, GL_HALF_FLOAT, GL_FALSE};
    case D3DDECLTYPE_FLOAT16_4: return {4, GL_HALF_FLOAT, GL_FALSE};
    default: return {4, GL_FLOAT, GL_FALSE};
    }
}

// The components a texture coordinate element carries.
uint8_t Dimensions(BYTE type) {
    switch (type) {
    case D3DDECLTYPE_FLOAT1: return 1;
    case D3DDECLTYPE_FLOAT2:
    case D3DDECLTYPE_SHORT2:
    case D3DDECLTYPE_SHORT2N:
    case D3DDECLTYPE_USHORT2N:
    case D3DDECLTYPE_FLOAT16_2: return 2;
    case D3DDECLTYPE_FLOAT3: return 3;
    default: return 4;
    }
}

GLuintT CompileShader(GLenum stage, const std::string &source) {
    GLuint shader = glCreateShader(stage);
    const char *text = source.c_str();
    glShaderSource(shader, 1, &text, nullptr);
    glCompileShader(shader);
    GLint ok = GL_FALSE;
    glGetShaderiv(shader, GL_COMPILE_STATUS, &ok);
    if (!ok) {
        char log[1024] = {};
        glGetShaderInfoLog(shader, sizeof log, nullptr, log);
        std::fprintf(stderr, "d3d9: GLSL compile failed: %s\n", log);
        glDeleteShader(shader);
        return 0;
    }
    return shader;
}

// The GL shader object of a translated shader for the colour interpolation asked.
GLuintT ShaderObject(ShaderVariants &variants, bool flat, GLenum stage) {
    const int i = flat ? 1 : 0;
    if (!variants.tried[i]) {
        variants.tried[i] = true;
        if (variants.translated[i].glsl.empty()) {
            std::string error;
            if (!TranslateShader(variants.tokens.data(), variants.tokens.size(), flat,
                                 &variants.translated[i], &error)) {
                std::fprintf(stderr, "d3d9: shader translation failed: %s\n", error.c_str());
                return 0;
            }
        }
        variants.gl[i] = CompileShader(stage, variants.translated[i].glsl);
    }
    return variants.gl[i];
}

} // namespace

struct GlDevice::Program {
    GLuint program = 0;
    bool failed = false;
    bool fixedVertex = true, fixedPixel = true;
    uint64_t vertexShaderId = 0, pixelShaderId = 0;
    uint32_t samplers = 0;
    GLint worldViewProj = -1, worldView = -1, texMatrix = -1, pixelOffset = -1,
          vertexConstants = -1, pixelConstants = -1;
    uint64_t transformVersion = 0, viewportVersion = 0, vertexConstantVersion = 0,
             pixelConstantVersion = 0;
    const TranslatedShader *vertexTranslation = nullptr;
};

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
    glGetError();
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
    renderStates_[kRsSrcBlend] = 2; // ONE
    renderStates_[kRsDestBlend] = 1; // ZERO
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
    renderStates_[kRsColorWriteEnable] = 0xF;
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
    vertexArray_ = blackTexture_ = 0;
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

bool GlDevice::PrepareInputs() {
    const VertexLayout &layout = declaration_ ? declaration_->layout() : fvfLayout_;
    struct Wanted {
        const D3DVERTEXELEMENT9 *element = nullptr;
        float fallback[4] = {0, 0, 0, 1};
    } wanted[16];

    if (vertexShader_) {
        const TranslatedShader &shader = vertexShader_->variants().translated[0];
        for (const ShaderInput &input : shader.inputs) {
            if (input.reg >= 16) continue;
            for (const D3DVERTEXELEMENT9 &e : layout.elements)
                if (e.Usage == input.usage && e.UsageIndex == input.usageIndex)
                    wanted[input.reg].element = &e;
        }
    } else {
        for (const D3DVERTEXELEMENT9 &e : layout.elements) {
            int location = -1;
            if (e.Usage == D3DDECLUSAGE_POSITION && e.UsageIndex == 0) location = kAttributePosition;
            else if (e.Usage == D3DDECLUSAGE_NORMAL && e.UsageIndex == 0) location = kAttributeNormal;
            else if (e.Usage == D3DDECLUSAGE_COLOR && e.UsageIndex < 2)
                location = kAttributeDiffuse + e.UsageIndex;
            else if (e.Usage == D3DDECLUSAGE_TEXCOORD && e.UsageIndex < kMaxTextureStages)
                location = kAttributeTexCoord0 + e.UsageIndex;
            if (location >= 0) wanted[location].element = &e;
        }
        // Without a diffuse colour a vertex is opaque white; without a specular, zero.
        std::fill(std::begin(wanted[kAttributeDiffuse].fallback),
                  std::end(wanted[kAttributeDiffuse].fallback), 1.0f);
        std::fill(std::begin(wanted[kAttributeSpecular].fallback),
                  std::end(wanted[kAttributeSpecular].fallback), 0.0f);
    }

    std::fill(std::begin(streamElementEnd_), std::end(streamElementEnd_), 0u);
    for (GLuint location = 0; location < 16; ++location) {
        AttributeState &state = attributes_[location];
        const D3DVERTEXELEMENT9 *e = wanted[location].element;
        // An element whose stream has no buffer reads as a constant, never from memory.
        if (e && !streams_[e->Stream].buffer) {
            e = nullptr;
            const float zero[4] = {0, 0, 0, 1};
            std::copy(std::begin(zero), std::end(zero), wanted[location].fallback);
        }
        if (e) {
            streamElementEnd_[e->Stream] =
                std::max(streamElementEnd_[e->Stream], e->Offset + DeclTypeSize(e->Type));
            if (!state.enabled || state.stream != e->Stream || state.type != e->Type ||
                state.offset != e->Offset) {
                const AttribFormat f = AttributeFormat(e->Type);
                glVertexArrayAttribFormat(vertexArray_, location, f.size, f.type, f.normalized,
                                          e->Offset);
                glVertexArrayAttribBinding(vertexArray_, location, e->Stream);
                if (!state.enabled) glEnableVertexArrayAttrib(vertexArray_, location);
                state.enabled = true;
                state.stream = e->Stream;
                state.type = e->Type;
                state.offset = e->Offset;
            }
        } else {
            if (state.enabled) glDisableVertexArrayAttrib(vertexArray_, location);
            state.enabled = false;
            state.stream = -1;
            const float *v = wanted[location].fallback;
            glVertexAttrib4f(location, v[0], v[1], v[2], v[3]);
        }
    }
    inputsDirty_ = false;
    return true;
}

GlDevice::Program *GlDevice::FindProgram() {
    const VertexLayout &layout = declaration_ ? declaration_->layout() : fvfLayout_;
    const bool flat = renderStates_[D3DRS_SHADEMODE] == D3DSHADE_FLAT;
    std::string key;
    key.push_back(flat ? 'F' : 'G');
    FixedVertexKey vertexKey;
    FixedPixelKey pixelKey;
    uint32_t samplers = 0;
    if (vertexShader_) {
        key += 'V' + std::to_string(vertexShader_->variants().id);
    } else {
        vertexKey.lighting = renderStates_[D3DRS_LIGHTING] != 0;
        vertexKey.flat = flat;
        uint8_t dimensions[kMaxTextureStages] = {};
        for (const D3DVERTEXELEMENT9 &e : layout.elements) {
            if (e.Usage == D3DDECLUSAGE_COLOR && e.UsageIndex == 0) vertexKey.hasDiffuse = 1;
            if (e.Usage == D3DDECLUSAGE_TEXCOORD && e.UsageIndex < kMaxTextureStages)
                dimensions[e.UsageIndex] = Dimensions(e.Type);
        }
        for (int i = 0; i < kMaxTextureStages; ++i) {
            const StageState &s = stages_[i];
            FixedVertexKey::Coord &c = vertexKey.coords[i];
            const DWORD mode = s.texCoordIndex & 0xFFFF0000u;
            c.set = static_cast<uint8_t>(s.texCoordIndex & 7);
            c.source = mode == D3DTSS_TCI_CAMERASPACEPOSITION ? 1
                       : mode == D3DTSS_TCI_CAMERASPACENORMAL ? 2
                       : mode != 0                            ? 1
                                                              : 0;
            c.dimensions = c.source == 0 ? dimensions[c.set] : 4;
            const DWORD count = s.transformFlags & 0xFF;
            c.count = static_cast<uint8_t>(count <= 4 ? count : 0);
        }
        key += 'v';
        key.append(reinterpret_cast<const char *>(&vertexKey), sizeof vertexKey);
    }
    if (pixelShader_) {
        key += 'P' + std::to_string(pixelShader_->variants().id);
    } else {
        pixelKey.flat = flat;
        for (int i = 0; i < kMaxTextureStages; ++i) {
            const StageState &s = stages_[i];
            if (s.colorOp == D3DTOP_DISABLE) break;
            // A stage that selects a texture it does not have is switched off, and
            // the stages after it with it.
            if (!textures_[i] && (s.colorArg1 & 0x0F) == D3DTA_TEXTURE) break;
            FixedPixelKey::Stage &k = pixelKey.stages[i];
            k.colorOp = static_cast<uint8_t>(s.colorOp);
            k.colorArg1 = static_cast<uint8_t>(s.colorArg1);
            k.colorArg2 = static_cast<uint8_t>(s.colorArg2);
            k.alphaOp = static_cast<uint8_t>(s.alphaOp);
            k.alphaArg1 = static_cast<uint8_t>(s.alphaArg1);
            k.alphaArg2 = static_cast<uint8_t>(s.alphaArg2);
            const DWORD count = s.transformFlags & 0xFF;
            if ((s.transformFlags & D3DTTFF_PROJECTED) && count >= 2 && count <= 4)
                k.projectedComponent = static_cast<uint8_t>(count);
            const bool alphaOn = s.alphaOp != D3DTOP_DISABLE;
            if ((s.colorArg1 & 0x0F) == D3DTA_TEXTURE || (s.colorArg2 & 0x0F) == D3DTA_TEXTURE ||
                (alphaOn && ((s.alphaArg1 & 0x0F) == D3DTA_TEXTURE ||
                             (s.alphaArg2 & 0x0F) == D3DTA_TEXTURE)))
                samplers |= 1u << i;
            pixelKey.stageCount = static_cast<uint8_t>(i + 1);
        }
        key += 'p';
        key.append(reinterpret_cast<const char *>(&pixelKey), sizeof pixelKey);
    }

    std::unique_ptr<Program> &slot = programs_[key];
    if (slot) return slot->failed ? nullptr : slot.get();
    slot = std::make_unique<Program>();
    Program &p = *slot;
    p.failed = true;
    GLuint vs = 0, fs = 0;
    bool ownVs = false, ownFs = false;
    if (vertexShader_) {
        p.fixedVertex = false;
        p.vertexShaderId = vertexShader_->variants().id;
        vs = ShaderObject(vertexShader_->variants(), flat, GL_VERTEX_SHADER);
    } else {
        vs = CompileShader(GL_VERTEX_SHADER, FixedVertexProgram(vertexKey));
        ownVs = true;
    }
    if (pixelShader_) {
        p.fixedPixel = false;
        p.pixelShaderId = pixelShader_->variants().id;
        fs = ShaderObject(pixelShader_->variants(), flat, GL_FRAGMENT_SHADER);
        const TranslatedShader &t = pixelShader_->variants().translated[flat ? 1 : 0];
        samplers = t.samplerMask;
    } else {
        fs = CompileShader(GL_FRAGMENT_SHADER, FixedPixelProgram(pixelKey));
        ownFs = true;
    }
    p.samplers = samplers;
    if (vs && fs) {
        p.program = glCreateProgram();
        glAttachShader(p.program, vs);
        glAttachShader(p.program, fs);
        glLinkProgram(p.program);
        glDetachShader(p.program, vs);
        glDetachShader(p.program, fs);
        GLint ok = GL_FALSE;
        glGetProgramiv(p.program, GL_LINK_STATUS, &ok);
        if (ok) {
            p.failed = false;
        } else {
            char log[1024] = {};
            glGetProgramInfoLog(p.program, sizeof log, nullptr, log);
            std::fprintf(stderr, "d3d9: GLSL link failed: %s\n", log);
            glDeleteProgram(p.program);
            p.program = 0;
        }
    }
    if (ownVs && vs) glDeleteShader(vs);
    if (ownFs && fs) glDeleteShader(fs);
    if (p.failed) return nullptr;

    for (int i = 0; i < 16; ++i) {
        const std::string name = "qrv_s" + std::to_string(i);
        const GLint location = glGetUniformLocation(p.program, name.c_str());
        if (location >= 0) glProgramUniform1i(p.program, location, i);
    }
    p.worldViewProj = glGetUniformLocation(p.program, "qrv_worldViewProj");
    p.worldView = glGetUniformLocation(p.program, "qrv_worldView");
    p.texMatrix = glGetUniformLocation(p.program, "qrv_texMatrix");
    p.pixelOffset = glGetUniformLocation(p.program, "qrv_pixelOffset");
    p.vertexConstants = glGetUniformLocation(p.program, "qrv_c");
    p.pixelConstants = glGetUniformLocation(p.program, "qrv_pc");
    return &p;
}

void GlDevice::UploadUniforms(Program &p) {
    if (p.fixedVertex && p.transformVersion != transformVersion_) {
        const D3DMATRIX worldView = Multiply(world_, view_);
        const D3DMATRIX worldViewProj = Multiply(worldView, projection_);
        // Row-major Direct3D matrices read as column-major GL ones are their
        // transposes, so `M * v` in GLSL gives Direct3D's v x M.
        if (p.worldViewProj >= 0)
            glProgramUniformMatrix4fv(p.program, p.worldViewProj, 1, GL_FALSE, &worldViewProj.m[0][0]);
        if (p.worldView >= 0)
            glProgramUniformMatrix4fv(p.program, p.worldView, 1, GL_FALSE, &worldView.m[0][0]);
        if (p.texMatrix >= 0)
            glProgramUniformMatrix4fv(p.program, p.texMatrix, kMaxTextureStages, GL_FALSE,
                                      &textureMatrix_[0].m[0][0]);
        p.transformVersion = transformVersion_;
    }
    if (p.viewportVersion != viewportVersion_) {
        // Direct3D 9 samples pixels at integer positions, GL at half-integers: move
        // the geometry half a pixel right and down. A hair less than half, so that
        // an edge through a pixel centre falls just before it, whichever way the
        // rasteriser breaks ties: left and top edges then take their pixels, right
        // and bottom ones do not, which is Direct3D's rule.
        const float shift = 2.0f * (0.5f - kTieBreak);
        if (p.pixelOffset >= 0)
            glProgramUniform2f(p.program, p.pixelOffset, shift / static_cast<float>(viewport_.Width),
                               -shift / static_cast<float>(viewport_.Height));
        p.viewportVersion = viewportVersion_;
    }
    if (!p.fixedVertex && p.vertexConstantVersion != vertexConstantVersion_) {
        if (p.vertexConstants >= 0)
            glProgramUniform4fv(p.program, p.vertexConstants, 256, &vertexConstants_[0][0]);
        p.vertexConstantVersion = vertexConstantVersion_;
    }
    if (!p.fixedPixel && p.pixelConstantVersion != pixelConstantVersion_) {
        if (p.pixelConstants >= 0)
            glProgramUniform4fv(p.program, p.pixelConstants, 32, &pixelConstants_[0][0]);
        p.pixelConstantVersion = pixelConstantVersion_;
    }
}

void GlDevice::PrepareRasterState() {
    const DWORD *rs = renderStates_;
    glBindFramebuffer(GL_DRAW_FRAMEBUFFER, framebuffer_);
    glViewport(static_cast<GLint>(viewport_.X), static_cast<GLint>(viewport_.Y),
               static_cast<GLsizei>(viewport_.Width), static_cast<GLsizei>(viewport_.Height));
    glDepthRangef(viewport_.MinZ, viewport_.MaxZ);
    if (hasDepth_ && rs[D3DRS_ZENABLE] != D3DZB_FALSE) {
        glEnable(GL_DEPTH_TEST);
        glDepthFunc(CompareFunction(rs[D3DRS_ZFUNC]));
        glDepthMask(rs[D3DRS_ZWRITEENABLE] ? GL_TRUE : GL_FALSE);
    } else {
        glDisable(GL_DEPTH_TEST);
    }
    // Direct3D culls by the winding on screen (y down). With the upper-left origin,
    // GL's winding is measured on the flipped rows too, so clockwise on screen is
    // clockwise for GL.
    switch (rs[D3DRS_CULLMODE]) {
    case D3DCULL_CW:
        glEnable(GL_CULL_FACE);
        glFrontFace(GL_CCW);
        glCullFace(GL_BACK);
        break;
    case D3DCULL_CCW:
        glEnable(GL_CULL_FACE);
        glFrontFace(GL_CW);
        glCullFace(GL_BACK);
        break;
    default: glDisable(GL_CULL_FACE); break;
    }
    switch (rs[D3DRS_FILLMODE]) {
    case D3DFILL_POINT: glPolygonMode(GL_FRONT_AND_BACK, GL_POINT); break;
    case D3DFILL_WIREFRAME: glPolygonMode(GL_FRONT_AND_BACK, GL_LINE); break;
    default: glPolygonMode(GL_FRONT_AND_BACK, GL_FILL); break;
    }
    if (rs[D3DRS_MULTISAMPLEANTIALIAS])
        glEnable(GL_MULTISAMPLE);
    else
        glDisable(GL_MULTISAMPLE);
    if (rs[D3DRS_ALPHABLENDENABLE]) {
        glEnable(GL_BLEND);
        glBlendFunc(BlendFactor(rs[kRsSrcBlend]), BlendFactor(rs[kRsDestBlend]));
    } else {
        glDisable(GL_BLEND);
    }
    const DWORD write = rs[kRsColorWriteEnable];
    glColorMask(write & 1 ? GL_TRUE : GL_FALSE, write & 2 ? GL_TRUE : GL_FALSE,
                write & 4 ? GL_TRUE : GL_FALSE, GL_FALSE);
    rasterDirty_ = false;
}

bool GlDevice::PrepareTextures() {
    for (uint32_t i = 0; i < 16; ++i) {
        if (!(samplersUsed_ & (1u << i))) continue;
        GLuint name = blackTexture_;
        if (textures_[i]) {
            name = textures_[i]->Prepare();
            if (!name) return false;
        }
        if (boundTextures_[i] != name) {
            glBindTextureUnit(i, name);
            boundTextures_[i] = name;
        }
    }
    return true;
}

HRESULT GlDevice::PrepareDraw(UINT *availableVertices) {
    if (!MakeCurrent()) return D3DERR_INVALIDCALL;
    if (inputsDirty_ && !PrepareInputs()) return D3DERR_INVALIDCALL;
    if (programDirty_ || !program_) {
        Program *p = FindProgram();
        if (!p) return D3DERR_INVALIDCALL;
        if (p != program_) glUseProgram(p->program);
        program_ = p;
        samplersUsed_ = p->samplers;
        programDirty_ = false;
    }
    UploadUniforms(*program_);
    if (rasterDirty_) PrepareRasterState();
    if (!PrepareTextures()) return D3DERR_INVALIDCALL;

    // Bring every stream the draw reads up to date, and count the vertices that
    // all of them can give.
    uint64_t available = std::numeric_limits<UINT>::max();
    for (UINT s = 0; s < kMaxStreams; ++s) {
        const UINT need = streamElementEnd_[s];
        if (!need) continue;
        Stream &stream = streams_[s];
        BufferStore &store = stream.buffer->store();
        const GLuint name = store.Prepare();
        if (!name) return D3DERR_INVALIDCALL;
        BindingState &b = bindings_[s];
        if (b.buffer != name || b.offset != stream.offset || b.stride != stream.stride) {
            glVertexArrayVertexBuffer(vertexArray_, s, name, stream.offset,
                                      static_cast<GLsizei>(stream.stride));
            b.buffer = name;
            b.offset = stream.offset;
            b.stride = stream.stride;
        }
        const uint64_t size = store.size();
        const uint64_t first = uint64_t{stream.offset} + need;
        uint64_t count = 0;
        if (size >= first)
            count = stream.stride ? (size - first) / stream.stride + 1 : std::numeric_limits<UINT>::max();
        available = std::min(available, count);
    }
    *availableVertices = static_cast<UINT>(available);
    return D3D_OK;
}

HRESULT GlDevice::DrawPrimitive(D3DPRIMITIVETYPE type, UINT startVertex, UINT primitiveCount) {
    if (!inScene_) return D3DERR_INVALIDCALL;
    const uint64_t vertices = VertexCount(type, primitiveCount);
    if (type < D3DPT_POINTLIST || type > D3DPT_TRIANGLEFAN) return D3DERR_INVALIDCALL;
    if (primitiveCount > kMaxPrimitiveCount) return D3DERR_INVALIDCALL;
    if (primitiveCount == 0) return D3D_OK;
    if (lost_) return D3D_OK; // a lost device draws nothing and says nothing
    UINT available = 0;
    const HRESULT hr = PrepareDraw(&available);
    if (FAILED(hr)) return hr;
    if (uint64_t{startVertex} + vertices > available) return D3DERR_INVALIDCALL;
    glDrawArrays(PrimitiveMode(type), static_cast<GLint>(startVertex),
                 static_cast<GLsizei>(vertices));
    return D3D_OK;
}

HRESULT GlDevice::DrawIndexedPrimitive(D3DPRIMITIVETYPE type, INT baseVertexIndex,
                                       UINT minVertexIndex, UINT numVertices, UINT startIndex,
                                       UINT primitiveCount) {
    (void)minVertexIndex; // the indices themselves are checked against the streams
    (void)numVertices;
    if (!inScene_ || !indices_) return D3DERR_INVALIDCALL;
    if (type < D3DPT_POINTLIST || type > D3DPT_TRIANGLEFAN) return D3DERR_INVALIDCALL;
    if (primitiveCount > kMaxPrimitiveCount) return D3DERR_INVALIDCALL;
    if (primitiveCount == 0) return D3D_OK;
    const uint64_t indexCount = VertexCount(type, primitiveCount);
    const UINT indexSize = indices_->indexSize();
    if (uint64_t{startIndex} + indexCount > indices_->store().size() / indexSize)
        return D3DERR_INVALIDCALL;
    if (lost_) return D3D_OK;
    UINT available = 0;
    const HRESULT hr = PrepareDraw(&available);
    if (FAILED(hr)) return hr;
    uint32_t low = 0, high = 0;
    indices_->IndexRange(startIndex, static_cast<UINT>(indexCount), &low, &high);
    if (int64_t{baseVertexIndex} + low < 0 || int64_t{baseVertexIndex} + high >= int64_t{available})
        return D3DERR_INVALIDCALL;
    const GLuint name = indices_->store().Prepare();
    if (!name) return D3DERR_INVALIDCALL;
    if (boundIndexBuffer_ != name) {
        glVertexArrayElementBuffer(vertexArray_, name);
        boundIndexBuffer_ = name;
    }
    glDrawElementsBaseVertex(PrimitiveMode(type), static_cast<GLsizei>(indexCount),
                             indexSize == 4 ? GL_UNSIGNED_INT : GL_UNSIGNED_SHORT,
                             reinterpret_cast<const void *>(uintptr_t{startIndex} * indexSize),
                             baseVertexIndex);
    return D3D_OK;
}

} // namespace qrv::d3d9
