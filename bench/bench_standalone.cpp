// The StandaloneEngine's frame against raw OpenGL, same run: _QRV3DRender(1) of
// the mesh of a 64 x 64 depth image (a 256 x 256 grid, 65,536 vertices, 16-bit
// indices) through the shipped shaders, against the same positions, colours and
// indices drawn by raw OpenGL with hand-written GLSL over three streams, read back
// the same way.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include <unistd.h>

#define GL_GLEXT_PROTOTYPES 1
#include <GL/glcorearb.h>

#include "platform/d3d9/egl_context.h"
#include "platform/d3dx9/d3dx9.h"
#include "qrv.h"
#include "standalone/standalone_engine.h"

namespace qrv::bench {
namespace {

constexpr int kFrameSize = 426;
constexpr int kDepthSize = 64;

// An 8-bit depth image with a grey-ramp table: rolling hills, nowhere flat, so
// that every triangle of the grid is kept.
std::vector<uint8_t> DepthDib() {
    const int stride = kDepthSize; // a multiple of 4
    std::vector<uint8_t> dib(40 + 1024 + static_cast<size_t>(stride) * kDepthSize);
    auto put32 = [&](size_t at, uint32_t v) { std::memcpy(dib.data() + at, &v, 4); };
    put32(0, 40);
    put32(4, kDepthSize);
    put32(8, kDepthSize);
    dib[12] = 1;
    dib[14] = 8;
    for (uint32_t i = 0; i < 256; ++i) put32(40 + 4 * i, i * 0x010101u);
    for (int r = 0; r < kDepthSize; ++r)
        for (int c = 0; c < kDepthSize; ++c)
            dib[40 + 1024 + static_cast<size_t>(r * stride + c)] =
                static_cast<uint8_t>(128 + 100 * std::sin(c * 0.2) * std::cos(r * 0.15));
    return dib;
}

// A 24-bit colour image of the same size.
std::vector<uint8_t> ColourDib() {
    const int stride = kDepthSize * 3;
    std::vector<uint8_t> dib(40 + static_cast<size_t>(stride) * kDepthSize);
    auto put32 = [&](size_t at, uint32_t v) { std::memcpy(dib.data() + at, &v, 4); };
    put32(0, 40);
    put32(4, kDepthSize);
    put32(8, kDepthSize);
    dib[12] = 1;
    dib[14] = 24;
    for (int r = 0; r < kDepthSize; ++r)
        for (int c = 0; c < kDepthSize; ++c) {
            uint8_t *p = dib.data() + 40 + static_cast<size_t>(r * stride + 3 * c);
            p[0] = static_cast<uint8_t>(c * 4);
            p[1] = static_cast<uint8_t>(r * 4);
            p[2] = static_cast<uint8_t>(255 - c * 2);
        }
    return dib;
}

HGLOBAL Block(const std::vector<uint8_t> &bytes) {
    HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, bytes.size());
    std::memcpy(GlobalLock(block), bytes.data(), bytes.size());
    GlobalUnlock(block);
    return block;
}

template <typename T, typename Buffer> std::vector<T> Contents(Buffer *buffer, size_t count) {
    std::vector<T> out(count);
    void *data = nullptr;
    if (!buffer || FAILED(buffer->Lock(0, 0, &data, D3DLOCK_READONLY)))
        throw std::runtime_error("mesh buffer missing");
    std::memcpy(out.data(), data, count * sizeof(T));
    buffer->Unlock();
    return out;
}

// The StandaloneEngine set up with the shipped shaders, its mesh built, drawing
// into a window that takes the frames and does nothing with them.
class Engine {
public:
    Engine() {
        window_.clientSize = [](void *, int32_t *w, int32_t *h) { *w = *h = kFrameSize; };
        window_.context = this;
        window_.present = [](void *self, const uint32_t *p, int32_t w, int32_t h, int32_t stride) {
            auto *me = static_cast<Engine *>(self);
            if (me->counted_) return;
            me->counted_ = true;
            for (int32_t y = 0; y < h; ++y)
                for (int32_t x = 0; x < w; ++x)
                    me->meshPixels_ += (reinterpret_cast<const uint32_t *>(
                                            reinterpret_cast<const uint8_t *>(p) + y * stride)[x] &
                                        0xFFFFFFu) != 0x0000FFu;
        };
        const std::string shaders = QRV_SHADER_DIR;
        // No default model: set up in a folder without one.
        char *cwd = getcwd(nullptr, 0);
        if (chdir("/") != 0) throw std::runtime_error("no root folder");
        const ViewHandle handle = _QRV3DInit(&window_, (shaders + "/relief.vsh").c_str(),
                                             (shaders + "/relief.psh").c_str());
        if (cwd) {
            if (chdir(cwd) != 0) throw std::runtime_error("cannot return to the folder");
            std::free(cwd);
        }
        if (handle != 1) throw std::runtime_error("StandaloneEngine set-up failed");
        HGLOBAL depth = Block(DepthDib()), colour = Block(ColourDib());
        const HRESULT hr = _QRV3DGet3DImage(1, depth, colour, nullptr);
        GlobalFree(depth);
        GlobalFree(colour);
        const standalone::StandaloneEngine &e = standalone::engine;
        if (FAILED(hr) || e.vertexCount != 65536 || e.triangleCount != 255 * 255 * 2)
            throw std::runtime_error("unexpected mesh");
    }
    ~Engine() { _QRV3DTerm(1); }
    void Frame() {
        if (!_QRV3DRender(1)) throw std::runtime_error("frame failed");
    }
    // Pixels of the first frame that are not background.
    size_t meshPixels() const { return meshPixels_; }

private:
    QrvWindow window_{};
    bool counted_ = false;
    size_t meshPixels_ = 0;
};

Engine &TheEngine() {
    static Engine engine;
    return engine;
}

// The same mesh and matrix drawn by raw OpenGL: three streams, 16-bit indices,
// depth test and back faces culled, read back as BGRA.
class RawMesh {
public:
    RawMesh() : context_(d3d9::EglContext::Create(D3DDEVTYPE_HAL)) {
        if (!context_) throw std::runtime_error("no GL");
        const standalone::StandaloneEngine &e = standalone::engine;
        const auto positions = Contents<float>(e.positionBuffer, size_t{e.vertexCount} * 3);
        const auto colours = Contents<uint32_t>(e.colorBuffer, e.vertexCount);
        const auto indices = Contents<uint16_t>(e.indexBuffer, size_t{e.triangleCount} * 3);
        const std::vector<float> uvs(size_t{e.vertexCount} * 2, 0.0f);
        triangles_ = static_cast<GLsizei>(e.triangleCount);

        context_->MakeCurrent();
        glCreateRenderbuffers(1, &color_);
        glNamedRenderbufferStorage(color_, GL_RGBA8, kFrameSize, kFrameSize);
        glCreateRenderbuffers(1, &depth_);
        glNamedRenderbufferStorage(depth_, GL_DEPTH24_STENCIL8, kFrameSize, kFrameSize);
        glCreateFramebuffers(1, &framebuffer_);
        glNamedFramebufferRenderbuffer(framebuffer_, GL_COLOR_ATTACHMENT0, GL_RENDERBUFFER, color_);
        glNamedFramebufferRenderbuffer(framebuffer_, GL_DEPTH_STENCIL_ATTACHMENT, GL_RENDERBUFFER, depth_);
        glBindFramebuffer(GL_FRAMEBUFFER, framebuffer_);
        glViewport(0, 0, kFrameSize, kFrameSize);
        glClipControl(GL_LOWER_LEFT, GL_ZERO_TO_ONE);
        glEnable(GL_DEPTH_TEST);
        glDepthFunc(GL_LEQUAL);
        glEnable(GL_CULL_FACE);
        glCullFace(GL_BACK);
        glFrontFace(GL_CW); // front faces run clockwise as seen, as in Direct3D

        GLuint buffers[4];
        glCreateBuffers(4, buffers);
        glNamedBufferData(buffers[0], static_cast<GLsizeiptr>(positions.size() * 4), positions.data(), GL_STATIC_DRAW);
        glNamedBufferData(buffers[1], static_cast<GLsizeiptr>(colours.size() * 4), colours.data(), GL_STATIC_DRAW);
        glNamedBufferData(buffers[2], static_cast<GLsizeiptr>(uvs.size() * 4), uvs.data(), GL_STATIC_DRAW);
        glNamedBufferData(buffers[3], static_cast<GLsizeiptr>(indices.size() * 2), indices.data(), GL_STATIC_DRAW);
        glCreateVertexArrays(1, &vertexArray_);
        glBindVertexArray(vertexArray_);
        glVertexArrayVertexBuffer(vertexArray_, 0, buffers[0], 0, 12);
        glVertexArrayVertexBuffer(vertexArray_, 1, buffers[1], 0, 4);
        glVertexArrayVertexBuffer(vertexArray_, 2, buffers[2], 0, 8);
        glVertexArrayElementBuffer(vertexArray_, buffers[3]);
        glVertexArrayAttribFormat(vertexArray_, 0, 3, GL_FLOAT, GL_FALSE, 0);
        glVertexArrayAttribFormat(vertexArray_, 1, GL_BGRA, GL_UNSIGNED_BYTE, GL_TRUE, 0);
        glVertexArrayAttribFormat(vertexArray_, 2, 2, GL_FLOAT, GL_FALSE, 0);
        for (GLuint a = 0; a < 3; ++a) {
            glVertexArrayAttribBinding(vertexArray_, a, a);
            glEnableVertexArrayAttrib(vertexArray_, a);
        }
        auto compile = [](GLenum stage, const char *source) {
            GLuint shader = glCreateShader(stage);
            glShaderSource(shader, 1, &source, nullptr);
            glCompileShader(shader);
            return shader;
        };
        program_ = glCreateProgram();
        glAttachShader(program_, compile(GL_VERTEX_SHADER,
                                         "#version 330 core\n"
                                         "layout(location = 0) in vec4 position;\n"
                                         "layout(location = 1) in vec4 color;\n"
                                         "layout(location = 2) in vec4 uv;\n"
                                         "uniform vec4 c[4];\n"
                                         "out vec4 vColor;\n"
                                         "out vec4 vUv;\n"
                                         "void main() {\n"
                                         "  gl_Position = vec4(dot(position, c[0]), dot(position, c[1]),\n"
                                         "                     dot(position, c[2]), dot(position, c[3]));\n"
                                         "  vColor = color; vUv = uv;\n"
                                         "}\n"));
        glAttachShader(program_, compile(GL_FRAGMENT_SHADER,
                                         "#version 330 core\n"
                                         "in vec4 vColor;\n"
                                         "layout(location = 0) out vec4 result;\n"
                                         "void main() { result = vColor; }\n"));
        glLinkProgram(program_);
        glUseProgram(program_);
        constantsLocation_ = glGetUniformLocation(program_, "c");

        // The frame's matrix: the eye at (0, 3, -4) looking at the origin, a vertical
        // field of view of 3.1415 / 3, a square frame, near 2 and far 10; transposed.
        D3DXMATRIX view, projection, m;
        const D3DXVECTOR3 eye{0, 3, -4}, at{0, 0, 0}, up{0, 1, 0};
        D3DXMatrixLookAtLH(&view, &eye, &at, &up);
        D3DXMatrixPerspectiveFovLH(&projection, 3.1415f / 3.0f, 1.0f, 2.0f, 10.0f);
        D3DXMatrixMultiply(&m, &view, &projection);
        D3DXMatrixTranspose(&m, &m);
        std::memcpy(constants_, &m.m[0][0], sizeof constants_);
        pixels_.resize(static_cast<size_t>(kFrameSize) * kFrameSize);
    }

    void Frame() {
        context_->MakeCurrent();
        glClearColor(0, 0, 1, 1);
        glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT | GL_STENCIL_BUFFER_BIT);
        glUniform4fv(constantsLocation_, 4, constants_);
        glDrawElements(GL_TRIANGLES, triangles_ * 3, GL_UNSIGNED_SHORT, nullptr);
        glReadPixels(0, 0, kFrameSize, kFrameSize, GL_BGRA, GL_UNSIGNED_INT_8_8_8_8_REV, pixels_.data());
        benchmark::DoNotOptimize(pixels_.data());
    }
    size_t MeshPixels() {
        Frame();
        size_t n = 0;
        for (uint32_t p : pixels_) n += (p & 0xFFFFFFu) != 0x0000FFu;
        return n;
    }

private:
    std::unique_ptr<d3d9::EglContext> context_;
    GLuint color_ = 0, depth_ = 0, framebuffer_ = 0, vertexArray_ = 0, program_ = 0;
    GLint constantsLocation_ = -1;
    GLsizei triangles_ = 0;
    float constants_[16] = {};
    std::vector<uint32_t> pixels_;
};

void StandaloneFrame_Render(benchmark::State &state) {
    Engine &engine = TheEngine();
    engine.Frame();
    for (auto _ : state) engine.Frame();
}

void StandaloneFrame_RawGL(benchmark::State &state) {
    Engine &engine = TheEngine(); // the mesh the engine built
    static RawMesh raw;
    engine.Frame();
    // Both draw the same picture: the same pixels covered.
    state.counters["engine_mesh_pixels"] = static_cast<double>(engine.meshPixels());
    state.counters["raw_mesh_pixels"] = static_cast<double>(raw.MeshPixels());
    for (auto _ : state) raw.Frame();
}

BENCHMARK(StandaloneFrame_Render)->Unit(benchmark::kMillisecond)->MinTime(1.0);
BENCHMARK(StandaloneFrame_RawGL)->Unit(benchmark::kMillisecond)->MinTime(1.0);

} // namespace
} // namespace qrv::bench

BENCHMARK_MAIN();
