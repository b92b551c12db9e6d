// The StandaloneEngine's q3d reader and writer.
#include "model/standalone_model.h"

#include <algorithm>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "QRV3D.h"
#include "model/q3d_text.h"
#include "platform/win32/profile.h"
#include "standalone/mesh.h"
#include "standalone/packed_dib.h"
#include "standalone/standalone_engine.h"

namespace qrv::standalone {

namespace {

using model::DataKey;
using win32::ProfileFile;

constexpr uint32_t kOpaque = 0xFF000000u;

int32_t ReadInt(const ProfileFile &file, const char *section, const char *key) {
    return static_cast<int32_t>(file.GetInt(section, key, 0));
}

std::string_view Entry(const ProfileFile &file, const char *section, const DataKey &key) {
    return file.Find(section, key.view()).value_or(std::string_view{});
}

uint32_t Rgb(int64_t r, int64_t g, int64_t b) {
    // Only the low 8 bits of each component count.
    return kOpaque | (static_cast<uint32_t>(r) & 0xFFu) << 16 |
           (static_cast<uint32_t>(g) & 0xFFu) << 8 | (static_cast<uint32_t>(b) & 0xFFu);
}

// The colour of a grid value without colours in the file: red the value, green
// three times it (at most 255), blue a third of what is left to 255; black for
// points on the picture plane.
uint32_t GridValueColour(int64_t v) {
    if (v == 0) return kOpaque;
    return Rgb(v, std::min<int64_t>(3 * v, 255), (255 - v) / 3);
}

// A counted value as the engine keeps it: 0 when it does not fit.
uint32_t CountOf(int64_t n) {
    return n >= 0 && n <= int64_t{UINT32_MAX} ? static_cast<uint32_t>(n) : 0;
}

// One locked buffer, unlocked when released or at the end of its scope.
template <typename Buffer> class Locked {
public:
    Locked() = default;
    ~Locked() { Unlock(); }
    Locked(const Locked &) = delete;
    Locked &operator=(const Locked &) = delete;

    HRESULT Lock(Buffer *buffer) {
        void *data = nullptr;
        HRESULT hr = buffer->Lock(0, 0, &data, 0);
        if (SUCCEEDED(hr) && !data) hr = E_FAIL;
        if (SUCCEEDED(hr)) {
            buffer_ = buffer;
            data_ = data;
        }
        return hr;
    }
    void Unlock() {
        if (buffer_) buffer_->Unlock();
        buffer_ = nullptr;
        data_ = nullptr;
    }
    bool locked() const { return buffer_ != nullptr; }
    template <typename T> T *As() const { return static_cast<T *>(data_); }

private:
    Buffer *buffer_ = nullptr;
    void *data_ = nullptr;
};

struct GridSize {
    int32_t width;
    int32_t height;
};

// Positions and colours of a grid model, rows from the top. Without colours of
// its own the model takes them from its values, the reds of a shallow relief
// stretched to the full range.
void ReadGridPoints(const ProfileFile &file, GridSize grid, float *positions, uint32_t *colours) {
    const int64_t W = grid.width, H = grid.height;
    const int64_t halfW = W / 2, halfH = H / 2;
    const double scale = static_cast<double>(std::max(halfW, halfH));

    std::vector<float> xs(static_cast<size_t>(W));
    for (int64_t k = 0; k < W; ++k)
        xs[static_cast<size_t>(k)] = static_cast<float>(static_cast<double>(k - halfW) / scale);
    float zOfValue[256];
    uint32_t colourOfValue[256];
    for (int v = 0; v < 256; ++v) {
        zOfValue[v] = static_cast<float>(-v / 255.0);
        colourOfValue[v] = GridValueColour(v);
    }

    int64_t maxV = 0;
    float *p = positions;
    uint32_t *c = colours;
    for (int64_t o = 0; o < H; ++o) {
        model::RowCursor row(Entry(file, model::kPhoto, DataKey(static_cast<uint64_t>(o))));
        const auto y = static_cast<float>(static_cast<double>(halfH - o) / scale);
        for (int64_t k = 0; k < W; ++k) {
            const int32_t v = row.NextValue();
            *p++ = xs[static_cast<size_t>(k)];
            *p++ = y;
            if (v >= 0 && v < 256) {
                *p++ = zOfValue[v];
                *c++ = colourOfValue[v];
            } else {
                *p++ = static_cast<float>(-v / 255.0);
                *c++ = GridValueColour(v);
            }
            if (v != 0 && v > maxV) maxV = v;
        }
    }

    const uint64_t points = static_cast<uint64_t>(W) * static_cast<uint64_t>(H);
    if (uint64_t{file.GetInt(model::kVertexColor, model::kCount, 0)} == points) {
        // The file's own colours, row by row as the grid.
        c = colours;
        for (int64_t o = 0; o < H; ++o) {
            model::RowCursor row(
                Entry(file, model::kVertexColor, DataKey(static_cast<uint64_t>(o))));
            for (int64_t l = 0; l < W; ++l) {
                int32_t rgb[3];
                row.NextColour(rgb);
                *c++ = Rgb(rgb[0], rgb[1], rgb[2]);
            }
        }
    } else if (maxV > 0 && maxV < 240) {
        for (uint64_t n = 0; n < points; ++n) {
            const uint32_t red = colours[n] >> 16 & 0xFFu;
            if (red != 0)
                colours[n] = (colours[n] & 0xFF00FFFFu) |
                             (static_cast<uint32_t>(red * 240 / maxV) & 0xFFu) << 16;
        }
    }
}

// The texture coordinate of a vertex: the picture spread over -1..1 in x and y.
void PlanarTexCoords(const float *positions, uint64_t count, float *texCoords) {
    for (uint64_t n = 0; n < count; ++n) {
        texCoords[2 * n] = positions[3 * n] / 2 + 0.5f;
        texCoords[2 * n + 1] = 0.5f - positions[3 * n + 1] / 2;
    }
}

void ReadMeshVertices(const ProfileFile &file, uint32_t count, float *positions,
                      uint32_t *colours) {
    for (uint32_t n = 0; n < count; ++n) {
        const DataKey key(n);
        // A missing or unreadable entry puts the vertex (or what is missing of
        // it) at the origin.
        float xyz[3] = {0.0f, 0.0f, 0.0f};
        if (const auto entry = file.Find(model::kVertex, key.view()))
            model::ScanFloats(*entry, xyz, 3);
        positions[3 * n] = xyz[0];
        positions[3 * n + 1] = xyz[1];
        positions[3 * n + 2] = xyz[2];

        int32_t rgb[3] = {0, 0, 0};
        if (const auto entry = file.Find(model::kVertexColor, key.view()))
            model::ScanInts(*entry, rgb, 3);
        colours[n] = Rgb(rgb[0], rgb[1], rgb[2]);
    }
}

template <typename Index>
void ReadMeshTriangles(const ProfileFile &file, uint32_t triangles, uint32_t vertices,
                       Index *indices) {
    for (uint32_t t = 0; t < triangles; ++t) {
        int32_t abc[3] = {0, 0, 0};
        if (const auto entry = file.Find(model::kIndex, DataKey(t).view()))
            model::ScanInts(*entry, abc, 3);
        // A vertex number the mesh does not have would draw from outside it.
        for (const int32_t i : abc) {
            if (i < 0 || static_cast<uint32_t>(i) >= vertices) {
                abc[0] = abc[1] = abc[2] = 0;
                break;
            }
        }
        indices[3 * t] = static_cast<Index>(abc[0]);
        indices[3 * t + 1] = static_cast<Index>(abc[1]);
        indices[3 * t + 2] = static_cast<Index>(abc[2]);
    }
}

HRESULT CreateStream(uint64_t bytes, IDirect3DVertexBuffer9 **buffer) {
    const HRESULT hr = engine.device->CreateVertexBuffer(static_cast<UINT>(bytes), 0, 0,
                                                         D3DPOOL_MANAGED, buffer, nullptr);
    if (FAILED(hr) || !*buffer) {
        *buffer = nullptr;
        return ReportFailure("InitDXGraphics CreateVertexBuffer", FAILED(hr) ? hr : E_FAIL);
    }
    return S_OK;
}

// Writes the [Photo] grid of a depth image: Width, Height and one row per grid
// row, top row first. Returns the grid's size, 0 x 0 without a readable image.
GridSize WriteDepthGrid(ProfileFile &file, HGLOBAL depthDib) {
    std::optional<DepthReds> reds;
    {
        const PackedDib depth(depthDib);
        if (!depth.valid()) return {0, 0};
        reds.emplace(depth);
    }
    const int64_t gridW = 4 * int64_t{reds->width()};
    const int64_t gridH = 4 * int64_t{reds->height()};
    if (gridW > INT32_MAX || gridH > INT32_MAX) return {0, 0};

    file.Set(model::kPhoto, model::kWidth, std::to_string(gridW));
    file.Set(model::kPhoto, model::kHeight, std::to_string(gridH));
    const model::SmallValueText values;
    std::string row;
    uint64_t t = 0;
    for (int64_t m = gridH - 1; m >= 0; --m, ++t) {
        row.clear();
        row.reserve(static_cast<size_t>(gridW) * 4);
        for (int64_t o = 0; o < gridW; ++o) {
            const int v = GridDepth(*reds, static_cast<int32_t>(m), static_cast<int32_t>(o));
            values.Append(row, static_cast<unsigned>(v) & 0xFFu);
        }
        file.Set(model::kPhoto, DataKey(t).view(), row);
    }
    return {static_cast<int32_t>(gridW), static_cast<int32_t>(gridH)};
}

// Writes the [VertexColor] grid: the colour image stretched or shrunk over the
// grid (the depth image's, or the colour image's own size without one).
void WriteColourGrid(ProfileFile &file, HGLOBAL colourDib, GridSize grid) {
    const PackedDib colour(colourDib);
    if (!colour.valid()) return;
    const int64_t cw = colour.width(), ch = colour.height();
    const int64_t gridW = grid.width > 0 ? grid.width : cw;
    const int64_t gridH = grid.height > 0 ? grid.height : ch;

    file.Set(model::kVertexColor, model::kCount, std::to_string(gridW * gridH));
    const model::SmallValueText values;
    std::vector<int32_t> columns(static_cast<size_t>(gridW));
    for (int64_t o = 0; o < gridW; ++o)
        columns[static_cast<size_t>(o)] = static_cast<int32_t>(cw * o / gridW);
    std::string row;
    uint64_t t = 0;
    for (int64_t m = gridH - 1; m >= 0; --m, ++t) {
        const auto source = static_cast<int32_t>(ch * m / gridH);
        row.clear();
        row.reserve(static_cast<size_t>(gridW) * 12);
        for (const int32_t column : columns) {
            const uint32_t rgb = colour.Rgb(source, column);
            values.Append(row, rgb >> 16 & 0xFFu);
            values.Append(row, rgb >> 8 & 0xFFu);
            values.Append(row, rgb & 0xFFu);
        }
        file.Set(model::kVertexColor, DataKey(t).view(), row);
    }
}

} // namespace

HRESULT ReadQ3DFile(const char *path) {
    ReleaseAndClear(engine.indexBuffer);
    ReleaseAndClear(engine.texCoordBuffer);
    ReleaseAndClear(engine.colorBuffer);
    ReleaseAndClear(engine.positionBuffer);
    ResetEye();

    ProfileFile file;
    if (path) file.Load(path); // a file that cannot be read has no model in it

    const int32_t W = ReadInt(file, model::kPhoto, model::kWidth);
    const int32_t H = ReadInt(file, model::kPhoto, model::kHeight);
    const bool grid = W != 0 && H != 0;
    int64_t vertices = 0, triangles = 0;
    if (grid) {
        // A negative size describes no grid.
        if (W > 0 && H > 0) {
            vertices = int64_t{W} * H;
            triangles = (int64_t{W} - 1) * (int64_t{H} - 1) * 2;
        }
    } else {
        vertices = ReadInt(file, model::kVertex, model::kCount);
        triangles = ReadInt(file, model::kIndex, model::kCount);
    }
    engine.vertexCount = CountOf(vertices);
    engine.triangleCount = CountOf(triangles);
    if (vertices < 3 || triangles <= 0) return S_OK;

    // From here on the counts are set again only once the buffers hold them.
    engine.vertexCount = 0;
    engine.triangleCount = 0;
    const D3DFORMAT indexFormat = GridIndexFormat(static_cast<uint64_t>(vertices));
    const uint64_t indexBytes =
        static_cast<uint64_t>(triangles) * 3 * (indexFormat == D3DFMT_INDEX32 ? 4 : 2);
    // Buffer lengths are 32-bit: a larger model fails as its buffer would.
    if (static_cast<uint64_t>(vertices) * 12 > UINT32_MAX)
        return ReportFailure("InitDXGraphics CreateVertexBuffer", E_OUTOFMEMORY);
    if (indexBytes > UINT32_MAX)
        return ReportFailure("InitDXGraphics CreateIndexBuffer", E_OUTOFMEMORY);
    if (!engine.device) return D3DERR_INVALIDCALL;

    const auto V = static_cast<uint64_t>(vertices);
    HRESULT hr = CreateStream(V * 12, &engine.positionBuffer);
    if (SUCCEEDED(hr)) hr = CreateStream(V * 4, &engine.colorBuffer);
    // A grid has no texture coordinates, as the mesh built from images has none:
    // the frame reads the missing stream as a constant.
    if (SUCCEEDED(hr) && !grid) hr = CreateStream(V * 8, &engine.texCoordBuffer);
    if (FAILED(hr)) return hr;
    hr = engine.device->CreateIndexBuffer(static_cast<UINT>(indexBytes), 0, indexFormat,
                                          D3DPOOL_MANAGED, &engine.indexBuffer, nullptr);
    if (FAILED(hr) || !engine.indexBuffer) {
        engine.indexBuffer = nullptr;
        return ReportFailure("InitDXGraphics CreateIndexBuffer", FAILED(hr) ? hr : E_FAIL);
    }

    // Whatever fails below, no buffer stays locked.
    Locked<IDirect3DVertexBuffer9> positions, colours, texCoords;
    Locked<IDirect3DIndexBuffer9> indices;
    hr = positions.Lock(engine.positionBuffer);
    if (SUCCEEDED(hr)) hr = colours.Lock(engine.colorBuffer);
    if (FAILED(hr)) return ReportFailure("InitDXGraphics Lock", hr);

    float *xyz = positions.As<float>();
    if (grid) {
        ReadGridPoints(file, {W, H}, xyz, colours.As<uint32_t>());
    } else {
        ReadMeshVertices(file, static_cast<uint32_t>(V), xyz, colours.As<uint32_t>());
        // Texture coordinates where the buffer can be had; a mesh draws without.
        if (SUCCEEDED(texCoords.Lock(engine.texCoordBuffer))) {
            PlanarTexCoords(xyz, V, texCoords.As<float>());
            texCoords.Unlock();
        }
    }

    hr = indices.Lock(engine.indexBuffer);
    if (FAILED(hr)) return ReportFailure("InitDXGraphics Lock", hr);
    engine.triangleCount = static_cast<uint32_t>(triangles);
    if (grid) {
        // Drops the triangles that lie on the picture plane, lowering the count.
        const auto w = static_cast<uint32_t>(W), h = static_cast<uint32_t>(H);
        if (indexFormat == D3DFMT_INDEX32)
            BuildGridTriangles(xyz, w, h, indices.As<uint32_t>());
        else
            BuildGridTriangles(xyz, w, h, indices.As<uint16_t>());
    } else if (indexFormat == D3DFMT_INDEX32) {
        ReadMeshTriangles(file, engine.triangleCount, static_cast<uint32_t>(V),
                          indices.As<uint32_t>());
    } else {
        ReadMeshTriangles(file, engine.triangleCount, static_cast<uint32_t>(V),
                          indices.As<uint16_t>());
    }
    engine.vertexCount = static_cast<uint32_t>(V);
    indices.Unlock();
    colours.Unlock();
    positions.Unlock();
    return S_OK;
}

HRESULT WriteQ3DFile(HGLOBAL depthDib, HGLOBAL colourDib, const char *path) {
    const std::string target = model::ReplaceLastThree(path, "q3d");
    if (target.empty()) return S_OK;
    ProfileFile file;
    if (!file.Load(target)) return S_OK; // a file that cannot be read is not replaced
    const GridSize grid = WriteDepthGrid(file, depthDib);
    WriteColourGrid(file, colourDib, grid);
    file.Save(); // writers report nothing
    return S_OK;
}

} // namespace qrv::standalone
