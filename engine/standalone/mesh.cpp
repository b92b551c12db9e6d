#include "standalone/mesh.h"

#include <cstdint>
#include <optional>

#include "QRV3D.h"
#include "standalone/standalone_engine.h"

namespace qrv::standalone {

namespace {

constexpr uint32_t kOpaqueWhite = 0xFFFFFFFFu;

template <typename Index>
uint32_t BuildTriangles(const float *positions, uint32_t W, uint32_t H, Index *indices) {
    auto onPlane = [positions](uint64_t v) { return positions[3 * v + 2] == 0.0f; };
    uint64_t j = 0;
    uint32_t kept = 0;
    auto put = [&](uint64_t a, uint64_t b, uint64_t c) {
        if (onPlane(a) && onPlane(b) && onPlane(c)) {
            --engine.triangleCount;
            return;
        }
        indices[j++] = static_cast<Index>(a);
        indices[j++] = static_cast<Index>(b);
        indices[j++] = static_cast<Index>(c);
        ++kept;
    };
    for (uint64_t k = 0; k + 1 < H; ++k) {
        for (uint64_t l = 0; l + 1 < W; ++l) {
            const uint64_t w = k * W + l;
            put(w, w + 1, w + W + 1);
            put(w, w + W + 1, w + W);
        }
    }
    return kept;
}

// Creates one managed vertex buffer; a failure is reported and leaves it null.
HRESULT CreateStream(UINT bytes, IDirect3DVertexBuffer9 **buffer) {
    const HRESULT hr =
        engine.device->CreateVertexBuffer(bytes, 0, 0, D3DPOOL_MANAGED, buffer, nullptr);
    if (FAILED(hr)) {
        *buffer = nullptr;
        ReportFailure("InitDXGraphics CreateVertexBuffer", hr);
    }
    return hr;
}

} // namespace

DepthReds::DepthReds(const PackedDib &depth) : width_(depth.width()), height_(depth.height()) {
    reds_.resize(static_cast<size_t>(width_) * static_cast<size_t>(height_));
    uint8_t *out = reds_.data();
    for (int32_t r = 0; r < height_; ++r)
        for (int32_t c = 0; c < width_; ++c) *out++ = static_cast<uint8_t>(depth.Rgb(r, c) >> 16);
}

int GridDepth(const DepthReds &reds, int32_t m, int32_t o) {
    const int32_t r0 = m / 4, c0 = o / 4;
    const int fx = o % 4, fy = m % 4;
    const bool rightEdge = c0 == reds.width() - 1;
    const bool bottomRow = r0 == 0;
    const int a = reds.Red(r0, c0);
    const int b = rightEdge ? 0 : reds.Red(r0, c0 + 1);
    // The vertical partner is the pixel row below.
    const int c = bottomRow ? 0 : reds.Red(r0 - 1, c0);
    const int d = (bottomRow || rightEdge) ? 0 : reds.Red(r0 - 1, c0 + 1);
    const int upper = ((4 - fx) * a + fx * b) / 4;
    const int lower = ((4 - fx) * c + fx * d) / 4;
    return ((4 - fy) * upper + fy * lower) / 4;
}

uint32_t BuildGridTriangles(const float *positions, uint32_t W, uint32_t H, uint16_t *indices) {
    return BuildTriangles(positions, W, H, indices);
}

uint32_t BuildGridTriangles(const float *positions, uint32_t W, uint32_t H, uint32_t *indices) {
    return BuildTriangles(positions, W, H, indices);
}

D3DFORMAT GridIndexFormat(uint64_t vertexCount) {
    return vertexCount > 0x10000u ? D3DFMT_INDEX32 : D3DFMT_INDEX16;
}

HRESULT BuildMeshFromImages(HGLOBAL depthDib, HGLOBAL colourDib) {
    ReleaseAndClear(engine.indexBuffer);
    ReleaseAndClear(engine.texCoordBuffer);
    ReleaseAndClear(engine.colorBuffer);
    ReleaseAndClear(engine.positionBuffer);
    ResetEye();

    std::optional<DepthReds> reds;
    {
        const PackedDib depth(depthDib);
        if (!depth.valid()) return S_OK; // no grid: the colour image is not read either
        reds.emplace(depth);
    }
    if (!engine.device) return D3DERR_INVALIDCALL;

    const uint64_t gridW = 4 * uint64_t(reds->width());
    const uint64_t gridH = 4 * uint64_t(reds->height());
    const uint64_t vertices = gridW * gridH;
    const uint64_t triangles = (gridW - 1) * (gridH - 1) * 2;
    const D3DFORMAT indexFormat = GridIndexFormat(vertices);
    const uint64_t indexBytes = triangles * 3 * (indexFormat == D3DFMT_INDEX32 ? 4 : 2);
    // Buffer sizes are 32-bit; a grid beyond them fails as its buffer would.
    if (vertices * 12 > UINT32_MAX || indexBytes > UINT32_MAX) {
        engine.vertexCount = 0;
        engine.triangleCount = 0;
        return ReportFailure("InitDXGraphics CreateVertexBuffer", E_OUTOFMEMORY);
    }
    engine.vertexCount = static_cast<uint32_t>(vertices);
    engine.triangleCount = static_cast<uint32_t>(triangles);

    // The build goes on past a failed step with what exists, and its result is
    // the last failure, so that a mesh missing a part never looks complete.
    HRESULT result = S_OK;
    auto note = [&result](HRESULT hr) {
        if (FAILED(hr)) result = hr;
        return hr;
    };
    note(CreateStream(static_cast<UINT>(vertices * 12), &engine.positionBuffer));
    note(CreateStream(static_cast<UINT>(vertices * 4), &engine.colorBuffer));
    if (FAILED(note(engine.device->CreateIndexBuffer(static_cast<UINT>(indexBytes), 0, indexFormat,
                                                     D3DPOOL_MANAGED, &engine.indexBuffer,
                                                     nullptr)))) {
        engine.indexBuffer = nullptr;
        ReportFailure("InitDXGraphics CreateIndexBuffer", result);
    }

    bool positionsWritten = false, trianglesWritten = false;
    if (engine.positionBuffer) {
        void *locked = nullptr;
        if (FAILED(note(engine.positionBuffer->Lock(0, 0, &locked, 0)))) {
            ReportFailure("InitDXGraphics Lock", result);
        } else {
            auto *p = static_cast<float *>(locked);
            const int64_t halfW = int64_t(gridW / 2), halfH = int64_t(gridH / 2);
            const double scale = static_cast<double>(halfW > halfH ? halfW : halfH);
            for (int64_t m = int64_t(gridH) - 1; m >= 0; --m) {
                const auto y = static_cast<float>(static_cast<double>(m - halfH) / scale);
                for (int64_t o = 0; o < int64_t(gridW); ++o) {
                    *p++ = static_cast<float>(static_cast<double>(o - halfW) / scale);
                    *p++ = y;
                    *p++ = static_cast<float>(
                        -GridDepth(*reds, static_cast<int32_t>(m), static_cast<int32_t>(o)) /
                        255.0);
                }
            }
            // The triangle pass reads the z values back while the positions are
            // still locked.
            if (engine.indexBuffer) {
                void *indices = nullptr;
                if (FAILED(note(engine.indexBuffer->Lock(0, 0, &indices, 0)))) {
                    ReportFailure("InitDXGraphics Lock", result);
                } else {
                    const auto *positions = static_cast<const float *>(locked);
                    const auto W = static_cast<uint32_t>(gridW), H = static_cast<uint32_t>(gridH);
                    if (indexFormat == D3DFMT_INDEX32)
                        BuildGridTriangles(positions, W, H, static_cast<uint32_t *>(indices));
                    else
                        BuildGridTriangles(positions, W, H, static_cast<uint16_t *>(indices));
                    engine.indexBuffer->Unlock();
                    trianglesWritten = true;
                }
            }
            engine.positionBuffer->Unlock();
            positionsWritten = true;
        }
    }
    // The counts promise only what was written.
    if (!positionsWritten) engine.vertexCount = 0;
    if (!positionsWritten || !trianglesWritten) engine.triangleCount = 0;

    if (engine.colorBuffer) {
        const PackedDib colour(colourDib);
        void *locked = nullptr;
        if (FAILED(note(engine.colorBuffer->Lock(0, 0, &locked, 0)))) {
            ReportFailure("InitDXGraphics Lock", result);
        } else {
            auto *out = static_cast<uint32_t *>(locked);
            if (colour.valid()) {
                // The colour image stretched or shrunk over the grid, taking the
                // pixel at or before each point.
                const int64_t cw = colour.width(), ch = colour.height();
                for (int64_t m = int64_t(gridH) - 1; m >= 0; --m) {
                    const auto row = static_cast<int32_t>(ch * m / int64_t(gridH));
                    for (int64_t o = 0; o < int64_t(gridW); ++o) {
                        const auto column = static_cast<int32_t>(cw * o / int64_t(gridW));
                        *out++ = 0xFF000000u | colour.Rgb(row, column);
                    }
                }
            } else {
                for (uint64_t v = 0; v < vertices; ++v) out[v] = kOpaqueWhite;
            }
            engine.colorBuffer->Unlock();
        }
    }
    return result;
}

} // namespace qrv::standalone
