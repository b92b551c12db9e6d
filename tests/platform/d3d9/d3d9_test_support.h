// Shared pieces of the graphics layer's tests: a window that records presented
// frames, device creation, and vertices in screen pixels.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "platform/d3d9/d3d9.h"

namespace qrv::d3d9::testing {

// A host window that keeps the last frame it was given.
struct RecordingWindow {
    int32_t width = 16, height = 16;
    std::vector<uint32_t> frame;
    int32_t frameWidth = 0, frameHeight = 0;
    int presents = 0;
    QrvWindow window{};

    RecordingWindow(int32_t w = 16, int32_t h = 16) : width(w), height(h) {
        window.context = this;
        window.clientSize = [](void *context, int32_t *cw, int32_t *ch) {
            auto *self = static_cast<RecordingWindow *>(context);
            *cw = self->width;
            *ch = self->height;
        };
        window.present = [](void *context, const uint32_t *pixels, int32_t w, int32_t h,
                            int32_t stride) {
            auto *self = static_cast<RecordingWindow *>(context);
            self->frameWidth = w;
            self->frameHeight = h;
            self->frame.resize(static_cast<size_t>(w) * static_cast<size_t>(h));
            for (int32_t y = 0; y < h; ++y)
                std::memcpy(&self->frame[static_cast<size_t>(y) * static_cast<size_t>(w)],
                            reinterpret_cast<const uint8_t *>(pixels) + static_cast<ptrdiff_t>(y) * stride,
                            static_cast<size_t>(w) * 4);
            ++self->presents;
        };
    }
    RecordingWindow(const RecordingWindow &) = delete;
    RecordingWindow &operator=(const RecordingWindow &) = delete;

    uint32_t At(int x, int y) const {
        return frame.at(static_cast<size_t>(y) * static_cast<size_t>(frameWidth) +
                        static_cast<size_t>(x));
    }
};

// The StripVertex layout: D3DFVF_XYZ | D3DFVF_DIFFUSE | D3DFVF_TEX1.
struct Vertex {
    float x, y, z;
    uint32_t color;
    float u, v;
};
static_assert(sizeof(Vertex) == 24);
constexpr DWORD kFvf = D3DFVF_XYZ | D3DFVF_DIFFUSE | D3DFVF_TEX1;

// A vertex at screen position (px, py) of a width x height back buffer, for
// identity transforms.
inline Vertex ScreenVertex(float px, float py, float z, uint32_t color, int width, int height,
                           float u = 0, float v = 0) {
    return Vertex{2.0f * px / static_cast<float>(width) - 1.0f,
                  1.0f - 2.0f * py / static_cast<float>(height), z, color, u, v};
}

// Channels within tolerance, alpha included.
inline bool Near(uint32_t a, uint32_t b, int tolerance = 2) {
    for (int shift = 0; shift < 32; shift += 8) {
        const int ca = static_cast<int>((a >> shift) & 0xFF);
        const int cb = static_cast<int>((b >> shift) & 0xFF);
        if (ca - cb > tolerance || cb - ca > tolerance) return false;
    }
    return true;
}

// Releases a COM-style object at scope end.
template <class T>
struct Ref {
    T *p = nullptr;
    Ref() = default;
    explicit Ref(T *object) : p(object) {}
    ~Ref() {
        if (p) p->Release();
    }
    Ref(const Ref &) = delete;
    Ref &operator=(const Ref &) = delete;
    T **operator&() { return &p; }
    T *operator->() const { return p; }
    T *get() const { return p; }
    explicit operator bool() const { return p != nullptr; }
};

inline D3DPRESENT_PARAMETERS WindowedParams(D3DFORMAT depth = D3DFMT_D16) {
    D3DPRESENT_PARAMETERS p{};
    p.SwapEffect = D3DSWAPEFFECT_DISCARD;
    p.Windowed = TRUE;
    p.EnableAutoDepthStencil = depth != D3DFMT_UNKNOWN;
    p.AutoDepthStencilFormat = depth;
    return p;
}

// A vertex buffer holding vertices (managed pool).
inline IDirect3DVertexBuffer9 *MakeBuffer(IDirect3DDevice9 *device, const std::vector<Vertex> &vertices) {
    IDirect3DVertexBuffer9 *buffer = nullptr;
    const UINT bytes = static_cast<UINT>(vertices.size() * sizeof(Vertex));
    if (FAILED(device->CreateVertexBuffer(bytes, 0, kFvf, D3DPOOL_MANAGED, &buffer, nullptr)))
        return nullptr;
    void *data = nullptr;
    if (FAILED(buffer->Lock(0, 0, &data, 0))) {
        buffer->Release();
        return nullptr;
    }
    std::memcpy(data, vertices.data(), bytes);
    buffer->Unlock();
    return buffer;
}

// Position, D3DCOLOR colour and texture coordinate, each in a stream of its own.
inline const D3DVERTEXELEMENT9 kThreeStreams[] = {
    {0, 0, D3DDECLTYPE_FLOAT3, D3DDECLMETHOD_DEFAULT, D3DDECLUSAGE_POSITION, 0},
    {1, 0, D3DDECLTYPE_D3DCOLOR, D3DDECLMETHOD_DEFAULT, D3DDECLUSAGE_COLOR, 0},
    {2, 0, D3DDECLTYPE_FLOAT2, D3DDECLMETHOD_DEFAULT, D3DDECLUSAGE_TEXCOORD, 0},
    D3DDECL_END()};

// A HAL device for shaders: hardware vertex processing, a 24-bit depth and 8-bit
// stencil buffer, a window of its own, and the three-stream declaration made.
class ThreeStreamDeviceTest : public ::testing::Test {
protected:
    explicit ThreeStreamDeviceTest(int32_t size) : window_{size, size} {}

    void SetUp() override {
        d3d_.p = Direct3DCreate9(D3D_SDK_VERSION);
        ASSERT_TRUE(d3d_);
        D3DPRESENT_PARAMETERS params = WindowedParams(D3DFMT_D24S8);
        ASSERT_EQ(d3d_->CreateDevice(D3DADAPTER_DEFAULT, D3DDEVTYPE_HAL, &window_.window,
                                     D3DCREATE_HARDWARE_VERTEXPROCESSING, &params, &device_),
                  D3D_OK);
        ASSERT_EQ(device_->CreateVertexDeclaration(kThreeStreams, &declaration_), D3D_OK);
    }

    RecordingWindow window_;
    Ref<IDirect3D9> d3d_;
    Ref<IDirect3DDevice9> device_;
    Ref<IDirect3DVertexDeclaration9> declaration_;
};

} // namespace qrv::d3d9::testing
