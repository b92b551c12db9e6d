// The programmable road against raw OpenGL, same run: a 256 x 256 grid (65,536
// vertices, 16-bit indices) drawn as one indexed triangle list over three streams
// (position, colour, texture coordinate) through assembled shaders, against the
// same buffers drawn by raw OpenGL with hand-written GLSL.
// On a shared machine, LP_NUM_THREADS=0 makes llvmpipe rasterise on the calling
// thread, so that the CPU column holds all the work and a neighbour's load does
// not blur the comparison.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cmath>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#define GL_GLEXT_PROTOTYPES 1
#include <GL/glcorearb.h>

#include "platform/d3d9/d3d9.h"
#include "platform/d3d9/egl_context.h"
#include "platform/d3dx9/assembler.h"
#include "raw_gl.h"
#include "relief_scene.h"

namespace qrv::bench {
namespace {

constexpr int kGrid = 256;
constexpr int kVertices = kGrid * kGrid;
constexpr int kTriangles = (kGrid - 1) * (kGrid - 1) * 2;

struct Mesh {
    std::vector<float> positions, uvs;
    std::vector<uint32_t> colours;
    std::vector<uint16_t> indices;
};

Mesh MakeMesh() {
    Mesh m;
    for (int y = 0; y < kGrid; ++y)
        for (int x = 0; x < kGrid; ++x) {
            const float fx = static_cast<float>(x) / (kGrid - 1), fy = static_cast<float>(y) / (kGrid - 1);
            m.positions.insert(m.positions.end(),
                               {fx * 2 - 1, 1 - fy * 2, 0.3f * std::sin(fx * 9) * std::cos(fy * 7)});
            m.colours.push_back(0xFF000000u | static_cast<uint32_t>(fx * 255) << 16 |
                                static_cast<uint32_t>(fy * 255) << 8 | 0x80u);
            m.uvs.insert(m.uvs.end(), {fx, fy});
        }
    for (int y = 0; y + 1 < kGrid; ++y)
        for (int x = 0; x + 1 < kGrid; ++x) {
            const auto i = static_cast<uint16_t>(y * kGrid + x);
            m.indices.insert(m.indices.end(), {i, static_cast<uint16_t>(i + 1), static_cast<uint16_t>(i + kGrid),
                                               static_cast<uint16_t>(i + kGrid), static_cast<uint16_t>(i + 1),
                                               static_cast<uint16_t>(i + kGrid + 1)});
        }
    return m;
}

// The transposed world x view x projection, four registers.
std::vector<float> Constants() {
    const Matrix mvp = Multiply(ReliefView(), ReliefProjection());
    std::vector<float> c(16);
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j) c[static_cast<size_t>(i * 4 + j)] = mvp.m[j][i];
    return c;
}

std::vector<DWORD> Assemble(const char *text) {
    std::vector<DWORD> tokens;
    std::string messages;
    if (!qrv::d3dx9::AssembleShader(text, "bench", &tokens, &messages)) throw std::runtime_error(messages);
    return tokens;
}

class LayerGrid {
public:
    LayerGrid() {
        window_.clientSize = [](void *, int32_t *w, int32_t *h) { *w = *h = kFrameSize; };
        window_.present = [](void *, const uint32_t *, int32_t, int32_t, int32_t) {};
        d3d_ = Direct3DCreate9(D3D_SDK_VERSION);
        D3DPRESENT_PARAMETERS params{};
        params.SwapEffect = D3DSWAPEFFECT_DISCARD;
        params.Windowed = TRUE;
        params.EnableAutoDepthStencil = TRUE;
        params.AutoDepthStencilFormat = D3DFMT_D24S8;
        if (!d3d_ || FAILED(d3d_->CreateDevice(D3DADAPTER_DEFAULT, D3DDEVTYPE_HAL, &window_,
                                               D3DCREATE_HARDWARE_VERTEXPROCESSING, &params, &device_)))
            throw std::runtime_error("no device");
        const Mesh mesh = MakeMesh();
        positions_ = Buffer(mesh.positions.data(), mesh.positions.size() * 4);
        colours_ = Buffer(mesh.colours.data(), mesh.colours.size() * 4);
        uvs_ = Buffer(mesh.uvs.data(), mesh.uvs.size() * 4);
        device_->CreateIndexBuffer(static_cast<UINT>(mesh.indices.size() * 2), 0, D3DFMT_INDEX16,
                                   D3DPOOL_MANAGED, &indices_, nullptr);
        void *data = nullptr;
        indices_->Lock(0, 0, &data, 0);
        std::memcpy(data, mesh.indices.data(), mesh.indices.size() * 2);
        indices_->Unlock();
        const D3DVERTEXELEMENT9 elements[] = {
            {0, 0, D3DDECLTYPE_FLOAT3, D3DDECLMETHOD_DEFAULT, D3DDECLUSAGE_POSITION, 0},
            {1, 0, D3DDECLTYPE_D3DCOLOR, D3DDECLMETHOD_DEFAULT, D3DDECLUSAGE_COLOR, 0},
            {2, 0, D3DDECLTYPE_FLOAT2, D3DDECLMETHOD_DEFAULT, D3DDECLUSAGE_TEXCOORD, 0},
            D3DDECL_END()};
        device_->CreateVertexDeclaration(elements, &declaration_);
        const std::vector<DWORD> vs = Assemble("vs_1_1\ndcl_position v0\ndcl_color v1\ndcl_texcoord v2\n"
                                               "dp4 oPos.x, v0, c0\ndp4 oPos.y, v0, c1\n"
                                               "dp4 oPos.z, v0, c2\ndp4 oPos.w, v0, c3\n"
                                               "mov oD0, v1\nmov oT0, v2\n");
        const std::vector<DWORD> ps = Assemble("ps_1_1\nmov r0, v0\n");
        if (FAILED(device_->CreateVertexShader(vs.data(), &vertexShader_)) ||
            FAILED(device_->CreatePixelShader(ps.data(), &pixelShader_)))
            throw std::runtime_error("shaders refused");
        device_->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
    }
    ~LayerGrid() {
        for (IUnknown *o : std::initializer_list<IUnknown *>{positions_, colours_, uvs_, indices_, declaration_,
                                                            vertexShader_, pixelShader_, device_, d3d_})
            o->Release();
    }

    // One frame as the StandaloneEngine draws it.
    void Frame() {
        device_->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER | D3DCLEAR_STENCIL, 0xFF0000FFu, 1.0f, 0);
        device_->BeginScene();
        device_->SetRenderState(D3DRS_FILLMODE, D3DFILL_SOLID);
        device_->SetVertexShaderConstantF(0, constants_.data(), 4);
        device_->SetVertexDeclaration(declaration_);
        device_->SetStreamSource(0, positions_, 0, 12);
        device_->SetStreamSource(1, colours_, 0, 4);
        device_->SetStreamSource(2, uvs_, 0, 8);
        device_->SetIndices(indices_);
        device_->SetVertexShader(vertexShader_);
        device_->SetPixelShader(pixelShader_);
        device_->DrawIndexedPrimitive(D3DPT_TRIANGLELIST, 0, 0, kVertices, 0, kTriangles);
        device_->EndScene();
        device_->Present(nullptr, nullptr, nullptr, nullptr);
    }

private:
    IDirect3DVertexBuffer9 *Buffer(const void *data, size_t bytes) {
        IDirect3DVertexBuffer9 *buffer = nullptr;
        device_->CreateVertexBuffer(static_cast<UINT>(bytes), 0, 0, D3DPOOL_MANAGED, &buffer, nullptr);
        void *p = nullptr;
        buffer->Lock(0, 0, &p, 0);
        std::memcpy(p, data, bytes);
        buffer->Unlock();
        return buffer;
    }

    QrvWindow window_{};
    IDirect3D9 *d3d_ = nullptr;
    IDirect3DDevice9 *device_ = nullptr;
    IDirect3DVertexBuffer9 *positions_ = nullptr, *colours_ = nullptr, *uvs_ = nullptr;
    IDirect3DIndexBuffer9 *indices_ = nullptr;
    IDirect3DVertexDeclaration9 *declaration_ = nullptr;
    IDirect3DVertexShader9 *vertexShader_ = nullptr;
    IDirect3DPixelShader9 *pixelShader_ = nullptr;
    std::vector<float> constants_ = Constants();
};

// The same buffers drawn by raw OpenGL.
class RawGrid {
public:
    RawGrid() : grid_(kFrameSize, mesh_.positions, mesh_.colours, mesh_.uvs, mesh_.indices) {}

    void Frame() { grid_.Frame(constants_.data()); }

private:
    Mesh mesh_ = MakeMesh();
    rawgl::StreamGrid grid_;
    std::vector<float> constants_ = Constants();
};

void ShaderGrid_Layer(benchmark::State &state) {
    static LayerGrid grid;
    grid.Frame();
    for (auto _ : state) grid.Frame();
}
void ShaderGrid_RawGL(benchmark::State &state) {
    static RawGrid grid;
    grid.Frame();
    for (auto _ : state) grid.Frame();
}

// The two drawn one after the other in each iteration: counters give both times
// and their ratio, under the same load.
void ShaderGrid_Interleaved(benchmark::State &state) {
    static LayerGrid layer;
    static RawGrid raw;
    using Clock = std::chrono::steady_clock;
    double layerTotal = 0, rawTotal = 0;
    for (auto _ : state) {
        const auto t0 = Clock::now();
        layer.Frame();
        const auto t1 = Clock::now();
        raw.Frame();
        const auto t2 = Clock::now();
        layerTotal += std::chrono::duration<double, std::milli>(t1 - t0).count();
        rawTotal += std::chrono::duration<double, std::milli>(t2 - t1).count();
    }
    const double n = static_cast<double>(state.iterations());
    state.counters["layer_ms"] = layerTotal / n;
    state.counters["baseline_ms"] = rawTotal / n;
    state.counters["ratio"] = rawTotal > 0 ? layerTotal / rawTotal : 0;
}

BENCHMARK(ShaderGrid_Interleaved)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(ShaderGrid_Layer)->Unit(benchmark::kMillisecond)->MinTime(1.0);
BENCHMARK(ShaderGrid_RawGL)->Unit(benchmark::kMillisecond)->MinTime(1.0);

} // namespace
} // namespace qrv::bench

BENCHMARK_MAIN();
