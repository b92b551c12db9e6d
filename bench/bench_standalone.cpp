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
#include "raw_gl.h"
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
    RawMesh() : grid_(Grid()) {
        // The context is current: cull back faces as the engine does.
        glClipControl(GL_LOWER_LEFT, GL_ZERO_TO_ONE);
        glEnable(GL_CULL_FACE);
        glCullFace(GL_BACK);
        glFrontFace(GL_CW); // front faces run clockwise as seen, as in Direct3D

        // The frame's matrix: the eye at (0, 3, -4) looking at the origin, a vertical
        // field of view of 3.1415 / 3, a square frame, near 2 and far 10; transposed.
        D3DXMATRIX view, projection, m;
        const D3DXVECTOR3 eye{0, 3, -4}, at{0, 0, 0}, up{0, 1, 0};
        D3DXMatrixLookAtLH(&view, &eye, &at, &up);
        D3DXMatrixPerspectiveFovLH(&projection, 3.1415f / 3.0f, 1.0f, 2.0f, 10.0f);
        D3DXMatrixMultiply(&m, &view, &projection);
        D3DXMatrixTranspose(&m, &m);
        std::memcpy(constants_, &m.m[0][0], sizeof constants_);
    }

    void Frame() { grid_->Frame(constants_); }
    size_t MeshPixels() {
        Frame();
        size_t n = 0;
        for (uint32_t p : grid_->pixels()) n += (p & 0xFFFFFFu) != 0x0000FFu;
        return n;
    }

private:
    // The engine's buffers, copied into a grid of their own.
    static std::unique_ptr<rawgl::StreamGrid> Grid() {
        const standalone::StandaloneEngine &e = standalone::engine;
        const auto positions = Contents<float>(e.positionBuffer, size_t{e.vertexCount} * 3);
        const auto colours = Contents<uint32_t>(e.colorBuffer, e.vertexCount);
        const auto indices = Contents<uint16_t>(e.indexBuffer, size_t{e.triangleCount} * 3);
        const std::vector<float> uvs(size_t{e.vertexCount} * 2, 0.0f);
        return std::make_unique<rawgl::StreamGrid>(kFrameSize, positions, colours, uvs, indices);
    }

    std::unique_ptr<rawgl::StreamGrid> grid_;
    float constants_[16] = {};
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
