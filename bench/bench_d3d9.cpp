// The graphics layer against raw OpenGL on the same machine, in the same run:
//   ReliefFrame     a 640 x 480 relief frame (479 strips) into 426 x 426, solid
//   ReliefWireFrame the same frame as a wire frame
//   StripBuffer     re-creating the relief's 14.7 MB managed buffer, filling it and
//                   drawing from it, against filling one buffer that is kept
// Compare the Layer and RawGL rows of each; run with --benchmark_repetitions and
// read the medians. The Interleaved rows draw the two one after the other in each
// iteration and report both times and their ratio, so that a load that comes and
// goes on the machine weighs on both alike.
// On a shared machine, LP_NUM_THREADS=0 makes llvmpipe rasterise on the calling
// thread, so that the CPU column holds all the work and a neighbour's load does
// not blur the comparison.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <vector>

#define GL_GLEXT_PROTOTYPES 1
#include <GL/glcorearb.h>

#include "platform/d3d9/d3d9.h"
#include "platform/d3d9/egl_context.h"
#include "raw_gl.h"
#include "relief_scene.h"

namespace qrv::bench {
namespace {

constexpr UINT kStripBytes = kVertsPerStrip * kStripCount * sizeof(StripVertex);
constexpr DWORD kFvf = D3DFVF_XYZ | D3DFVF_DIFFUSE | D3DFVF_TEX1;

// ---- Through the layer ---------------------------------------------------------------
class LayerScene {
public:
    LayerScene() {
        window_.context = this;
        window_.clientSize = [](void *, int32_t *w, int32_t *h) { *w = *h = kFrameSize; };
        window_.present = [](void *context, const uint32_t *pixels, int32_t, int32_t, int32_t) {
            static_cast<LayerScene *>(context)->checksum_ += pixels[0];
        };
        d3d_ = Direct3DCreate9(D3D_SDK_VERSION);
        if (!d3d_) throw std::runtime_error("no Direct3D");
        D3DPRESENT_PARAMETERS params{};
        params.SwapEffect = D3DSWAPEFFECT_DISCARD;
        params.Windowed = TRUE;
        params.EnableAutoDepthStencil = TRUE;
        params.AutoDepthStencilFormat = D3DFMT_D16;
        if (FAILED(d3d_->CreateDevice(D3DADAPTER_DEFAULT, D3DDEVTYPE_HAL, &window_,
                                      D3DCREATE_SOFTWARE_VERTEXPROCESSING, &params, &device_)))
            throw std::runtime_error("no device");
        // The relief view's device states.
        device_->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
        device_->SetRenderState(D3DRS_LIGHTING, FALSE);
        device_->SetRenderState(D3DRS_ZENABLE, D3DZB_TRUE);
        strips_ = MakeStrips();
        device_->CreateTexture(kReliefWidth, kReliefHeight, 1, 0, D3DFMT_X8R8G8B8, D3DPOOL_MANAGED,
                               &photo_, nullptr);
        D3DLOCKED_RECT locked{};
        photo_->LockRect(0, &locked, nullptr, 0);
        const std::vector<uint32_t> texels = Photo();
        std::memcpy(locked.pBits, texels.data(), texels.size() * 4);
        photo_->UnlockRect(0);
    }
    ~LayerScene() {
        if (strips_) strips_->Release();
        photo_->Release();
        device_->Release();
        d3d_->Release();
    }

    IDirect3DVertexBuffer9 *MakeStrips(UINT bytes = kStripBytes) {
        IDirect3DVertexBuffer9 *buffer = nullptr;
        if (FAILED(device_->CreateVertexBuffer(bytes, 0, kFvf, D3DPOOL_MANAGED, &buffer, nullptr)))
            throw std::runtime_error("no buffer");
        Fill(buffer);
        return buffer;
    }

    static void Fill(IDirect3DVertexBuffer9 *buffer) {
        void *data = nullptr;
        buffer->Lock(0, 0, &data, 0);
        FillStrips(static_cast<StripVertex *>(data));
        buffer->Unlock();
    }

    // One frame as the relief renderer draws it: one read-only lock and one draw
    // per strip row.
    void Frame(bool solid, int rows = kStripCount) {
        device_->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF0000FFu, 1.0f, 0);
        device_->BeginScene();
        const Matrix world{{{1, 0, 0, 0}, {0, 1, 0, 0}, {0, 0, 1, 0}, {0, 0, 0, 1}}};
        const Matrix view = ReliefView(), projection = ReliefProjection();
        device_->SetTransform(D3DTS_WORLD, reinterpret_cast<const D3DMATRIX *>(&world));
        device_->SetTransform(D3DTS_VIEW, reinterpret_cast<const D3DMATRIX *>(&view));
        device_->SetTransform(D3DTS_PROJECTION, reinterpret_cast<const D3DMATRIX *>(&projection));
        if (solid) {
            device_->SetRenderState(D3DRS_FILLMODE, D3DFILL_SOLID);
            device_->SetTexture(0, photo_);
            device_->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_MODULATE);
            device_->SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_TEXTURE);
            device_->SetTextureStageState(0, D3DTSS_COLORARG2, D3DTA_DIFFUSE);
            device_->SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_DISABLE);
        } else {
            device_->SetRenderState(D3DRS_FILLMODE, D3DFILL_WIREFRAME);
        }
        device_->SetStreamSource(0, strips_, 0, sizeof(StripVertex));
        device_->SetFVF(kFvf);
        for (int r = 0; r < rows; ++r) {
            void *data = nullptr;
            if (FAILED(strips_->Lock(0, 0, &data, D3DLOCK_READONLY))) continue;
            checksum_ += static_cast<const StripVertex *>(data)[r * kVertsPerStrip].z > 0;
            device_->DrawPrimitive(D3DPT_TRIANGLESTRIP, static_cast<UINT>(r * kVertsPerStrip),
                                   kVertsPerStrip - 2);
            strips_->Unlock();
        }
        device_->EndScene();
        device_->Present(nullptr, nullptr, nullptr, nullptr);
    }

    IDirect3DDevice9 *device() { return device_; }
    IDirect3DVertexBuffer9 *&strips() { return strips_; }
    uint64_t checksum() const { return checksum_; }

private:
    QrvWindow window_{};
    IDirect3D9 *d3d_ = nullptr;
    IDirect3DDevice9 *device_ = nullptr;
    IDirect3DVertexBuffer9 *strips_ = nullptr;
    IDirect3DTexture9 *photo_ = nullptr;
    uint64_t checksum_ = 0;
};

// ---- Raw OpenGL --------------------------------------------------------------------
class RawScene {
public:
    RawScene() : context_(d3d9::EglContext::Create(D3DDEVTYPE_HAL)) {
        if (!context_) throw std::runtime_error("no GL");
        target_ = rawgl::BindTarget(kFrameSize, GL_DEPTH_COMPONENT16, GL_DEPTH_ATTACHMENT);
        glEnable(GL_DEPTH_TEST);
        glDepthFunc(GL_LEQUAL);

        std::vector<StripVertex> vertices(static_cast<size_t>(kVertsPerStrip) * kStripCount);
        FillStrips(vertices.data());
        glCreateBuffers(1, &buffer_);
        glNamedBufferData(buffer_, kStripBytes, vertices.data(), GL_STATIC_DRAW);
        vertexArray_ = rawgl::BindStripVertexArray(buffer_, sizeof(StripVertex));

        const std::vector<uint32_t> texels = Photo();
        texture_ = rawgl::BindTexture(kReliefWidth, kReliefHeight, texels);

        program_ = rawgl::UseProgram("#version 330 core\n"
                                     "layout(location = 0) in vec3 position;\n"
                                     "layout(location = 1) in vec4 color;\n"
                                     "layout(location = 2) in vec2 uv;\n"
                                     "uniform mat4 mvp;\n"
                                     "uniform vec2 offset;\n"
                                     "out vec4 vColor;\n"
                                     "out vec2 vUv;\n"
                                     "void main() {\n"
                                     "  gl_Position = mvp * vec4(position, 1.0);\n"
                                     "  gl_Position.xy += offset * gl_Position.w;\n"
                                     "  vColor = color; vUv = uv;\n"
                                     "}\n",
                                     rawgl::kPhotoFragmentShader);
        const Matrix mvp = Multiply(ReliefView(), ReliefProjection());
        glUniformMatrix4fv(glGetUniformLocation(program_, "mvp"), 1, GL_FALSE, &mvp.m[0][0]);
        glUniform2f(glGetUniformLocation(program_, "offset"), 1.0f / kFrameSize, -1.0f / kFrameSize);
        glUniform1i(glGetUniformLocation(program_, "photo"), 0);
        pixels_.resize(static_cast<size_t>(kFrameSize) * kFrameSize);
    }

    void Frame(bool solid) {
        context_->MakeCurrent();
        glClearColor(0, 0, 1, 1);
        glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
        glPolygonMode(GL_FRONT_AND_BACK, solid ? GL_FILL : GL_LINE);
        for (int r = 0; r < kStripCount; ++r) glDrawArrays(GL_TRIANGLE_STRIP, r * kVertsPerStrip, kVertsPerStrip);
        glReadPixels(0, 0, kFrameSize, kFrameSize, GL_BGRA, GL_UNSIGNED_INT_8_8_8_8_REV, pixels_.data());
        benchmark::DoNotOptimize(pixels_.data());
    }

private:
    std::unique_ptr<d3d9::EglContext> context_;
    rawgl::Target target_;
    GLuint buffer_ = 0, vertexArray_ = 0, texture_ = 0, program_ = 0;
    std::vector<uint32_t> pixels_;
};

LayerScene &Layer() {
    static LayerScene scene;
    return scene;
}
RawScene &Raw() {
    static RawScene scene;
    return scene;
}

void ReliefFrame_Layer(benchmark::State &state) {
    LayerScene &scene = Layer();
    scene.Frame(true);
    for (auto _ : state) scene.Frame(true);
}
void ReliefFrame_RawGL(benchmark::State &state) {
    RawScene &scene = Raw();
    scene.Frame(true);
    for (auto _ : state) scene.Frame(true);
}
void ReliefWireFrame_Layer(benchmark::State &state) {
    LayerScene &scene = Layer();
    scene.Frame(false);
    for (auto _ : state) scene.Frame(false);
}
void ReliefWireFrame_RawGL(benchmark::State &state) {
    RawScene &scene = Raw();
    scene.Frame(false);
    for (auto _ : state) scene.Frame(false);
}

// Each rebuild of a relief: a new managed buffer of the same size, filled, then
// drawn from (one strip, so that the upload happens) and shown.
void StripBuffer_Recreate(benchmark::State &state) {
    LayerScene &scene = Layer();
    for (auto _ : state) {
        scene.strips()->Release();
        scene.strips() = scene.MakeStrips();
        scene.Frame(true, 1);
    }
}
// The same with a size never seen before each time: fresh memory, as without the
// device's recycling.
void StripBuffer_RecreateFresh(benchmark::State &state) {
    LayerScene &scene = Layer();
    UINT extra = 0;
    for (auto _ : state) {
        scene.strips()->Release();
        extra = (extra + 1) % 64;
        scene.strips() = scene.MakeStrips(kStripBytes + 24 * (extra + 1));
        scene.Frame(true, 1);
    }
    scene.strips()->Release();
    scene.strips() = scene.MakeStrips();
}
// The baseline: the buffer is kept and filled again.
void StripBuffer_Reuse(benchmark::State &state) {
    LayerScene &scene = Layer();
    for (auto _ : state) {
        LayerScene::Fill(scene.strips());
        scene.Frame(true, 1);
    }
}

// Times a and b alternately; counters give each one's mean and a / b.
template <class A, class B>
void Interleave(benchmark::State &state, A a, B b) {
    using Clock = std::chrono::steady_clock;
    double aTotal = 0, bTotal = 0;
    for (auto _ : state) {
        const auto t0 = Clock::now();
        a();
        const auto t1 = Clock::now();
        b();
        const auto t2 = Clock::now();
        aTotal += std::chrono::duration<double, std::milli>(t1 - t0).count();
        bTotal += std::chrono::duration<double, std::milli>(t2 - t1).count();
    }
    const double n = static_cast<double>(state.iterations());
    state.counters["layer_ms"] = aTotal / n;
    state.counters["baseline_ms"] = bTotal / n;
    state.counters["ratio"] = bTotal > 0 ? aTotal / bTotal : 0;
}

void ReliefFrame_Interleaved(benchmark::State &state) {
    Interleave(state, [] { Layer().Frame(true); }, [] { Raw().Frame(true); });
}
void ReliefWireFrame_Interleaved(benchmark::State &state) {
    Interleave(state, [] { Layer().Frame(false); }, [] { Raw().Frame(false); });
}
// Wire frame against solid, both through the layer.
void WireAgainstSolid_Interleaved(benchmark::State &state) {
    Interleave(state, [] { Layer().Frame(false); }, [] { Layer().Frame(true); });
}
void StripBuffer_Interleaved(benchmark::State &state) {
    LayerScene &scene = Layer();
    Interleave(
        state,
        [&] {
            scene.strips()->Release();
            scene.strips() = scene.MakeStrips();
            scene.Frame(true, 1);
        },
        [&] {
            LayerScene::Fill(scene.strips());
            scene.Frame(true, 1);
        });
}

BENCHMARK(ReliefFrame_Interleaved)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(ReliefWireFrame_Interleaved)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(WireAgainstSolid_Interleaved)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(StripBuffer_Interleaved)->Unit(benchmark::kMillisecond)->MinTime(1.0);
BENCHMARK(ReliefFrame_Layer)->Unit(benchmark::kMillisecond)->MinTime(1.0);
BENCHMARK(ReliefFrame_RawGL)->Unit(benchmark::kMillisecond)->MinTime(1.0);
BENCHMARK(ReliefWireFrame_Layer)->Unit(benchmark::kMillisecond)->MinTime(1.0);
BENCHMARK(ReliefWireFrame_RawGL)->Unit(benchmark::kMillisecond)->MinTime(1.0);
BENCHMARK(StripBuffer_Recreate)->Unit(benchmark::kMillisecond)->MinTime(1.0);
BENCHMARK(StripBuffer_Reuse)->Unit(benchmark::kMillisecond)->MinTime(1.0);
BENCHMARK(StripBuffer_RecreateFresh)->Unit(benchmark::kMillisecond)->MinTime(1.0);

} // namespace
} // namespace qrv::bench

BENCHMARK_MAIN();
