// Drawing on the OpenGL device: vertex inputs from declarations and streams, the
// program for the current shaders or fixed-function state, raster state, and the
// checked draw calls.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <limits>

#define GL_GLEXT_PROTOTYPES 1
#include <GL/glcorearb.h>

#include "gl_device.h"

namespace qrv::d3d9 {
namespace {

constexpr DWORD kMaxPrimitiveCount = 0xFFFFFF;
// Linked programs kept per device.
constexpr size_t kMaxPrograms = 256;
// Longest strip drawn as an edge list in wire frame (4 indices a vertex).
constexpr uint64_t kMaxStripEdgeVertices = 1u << 20;
// A fraction of a pixel, coarser than the rasteriser's sub-pixel grid (8 bits).
constexpr float kTieBreak = 1.0f / 128.0f;

D3DMATRIX Multiply(const D3DMATRIX &a, const D3DMATRIX &b) {
    D3DMATRIX r;
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j)
            r.m[i][j] = a.m[i][0] * b.m[0][j] + a.m[i][1] * b.m[1][j] + a.m[i][2] * b.m[2][j] +
                        a.m[i][3] * b.m[3][j];
    return r;
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

} // namespace

GLuintT CompileShader(unsigned stage, const std::string &source) {
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
GLuintT ShaderObject(ShaderVariants &variants, bool flat, unsigned stage) {
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

    if (programs_.size() >= kMaxPrograms && !programs_.count(key)) {
        // Far more state combinations than any scene uses: start the cache afresh
        // rather than let it grow without bound.
        for (auto &entry : programs_)
            if (entry.second->program) glDeleteProgram(entry.second->program);
        programs_.clear();
        program_ = nullptr;
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
        glBlendFunc(BlendFactor(rs[D3DRS_SRCBLEND]), BlendFactor(rs[D3DRS_DESTBLEND]));
    } else {
        glDisable(GL_BLEND);
    }
    const DWORD write = rs[D3DRS_COLORWRITEENABLE];
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
    // A wire-frame strip whose faces need no culling and whose edges take their
    // own vertices' colours draws as its distinct edges: two lines a vertex
    // instead of three a triangle, the same pixels.
    if (type == D3DPT_TRIANGLESTRIP && renderStates_[D3DRS_FILLMODE] == D3DFILL_WIREFRAME &&
        renderStates_[D3DRS_CULLMODE] == D3DCULL_NONE &&
        renderStates_[D3DRS_SHADEMODE] != D3DSHADE_FLAT && DrawStripEdges(startVertex, vertices))
        return D3D_OK;
    glDrawArrays(PrimitiveMode(type), static_cast<GLint>(startVertex),
                 static_cast<GLsizei>(vertices));
    return D3D_OK;
}

bool GlDevice::DrawStripEdges(UINT startVertex, uint64_t vertices) {
    if (vertices > kMaxStripEdgeVertices || startVertex > static_cast<UINT>(INT32_MAX)) return false;
    if (vertices > edgeVertices_) {
        // Edges (k, k + 1) and (k, k + 2) in vertex order: the list for a shorter
        // strip is a prefix of the list for a longer one.
        const auto count = static_cast<uint32_t>(std::max<uint64_t>(vertices, 2 * uint64_t{edgeVertices_}));
        std::vector<uint32_t> edges;
        edges.reserve(4 * static_cast<size_t>(count));
        for (uint32_t k = 0; k + 1 < count; ++k) {
            edges.insert(edges.end(), {k, k + 1});
            if (k + 2 < count) edges.insert(edges.end(), {k, k + 2});
        }
        if (edgeBuffer_) {
            ForgetGlBuffer(edgeBuffer_);
            glDeleteBuffers(1, &edgeBuffer_);
        }
        glCreateBuffers(1, &edgeBuffer_);
        glNamedBufferData(edgeBuffer_, static_cast<GLsizeiptr>(edges.size() * 4), edges.data(),
                          GL_STATIC_DRAW);
        edgeVertices_ = count;
    }
    if (boundIndexBuffer_ != edgeBuffer_) {
        glVertexArrayElementBuffer(vertexArray_, edgeBuffer_);
        boundIndexBuffer_ = edgeBuffer_;
    }
    const auto lines = static_cast<GLsizei>(2 * (vertices - 2) + 1);
    glDrawElementsBaseVertex(GL_LINES, 2 * lines, GL_UNSIGNED_INT, nullptr,
                             static_cast<GLint>(startVertex));
    return true;
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
