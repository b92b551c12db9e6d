// The strip builder: turns a depth image and a photo into the rows of triangle
// strips a ReliefView draws, and loads the photo as their texture.
#include "view/strip_builder.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <memory>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "platform/win32/win32.h"
#include "view/depth_image.h"
#include "view/relief_view.h"

namespace qrv {

int DepthOfGrey(int grey, int percent) {
    int64_t d = grey;
    if (percent < 100) d = d * percent / 100; // truncates toward zero
    d = 255 - d;
    if (d < 0) return 0;
    // No upper clamp as such: a negative percent pushes the depth past 255. Only
    // the range of int bounds it.
    return d > INT_MAX ? INT_MAX : static_cast<int>(d);
}

int SampleDepth(const uint8_t *pixels, const uint8_t *colourTable, int row, int column,
                int rowStride, int percent) {
    if (!pixels) return 0;
    const unsigned index =
        pixels[static_cast<ptrdiff_t>(row) * rowStride + static_cast<ptrdiff_t>(column)];
    const uint8_t *entry = colourTable + 4 * index;
    return DepthOfGrey((entry[0] + entry[1] + entry[2]) / 3, percent);
}

namespace {

// A file opened with CreateFileA, closed when it goes out of scope.
class FileReader {
public:
    explicit FileReader(const char *path)
        : handle_(CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr)) {}
    ~FileReader() {
        if (open()) CloseHandle(handle_);
    }
    FileReader(const FileReader &) = delete;
    FileReader &operator=(const FileReader &) = delete;

    bool open() const { return handle_ != INVALID_HANDLE_VALUE && handle_ != nullptr; }
    // The number of bytes read; fewer than asked at the end of the file.
    DWORD Read(void *buffer, DWORD bytes) {
        DWORD got = 0;
        if (!ReadFile(handle_, buffer, bytes, &got, nullptr)) return 0;
        return got;
    }
    // Moves forward by reading; the files are photo headers, so the segments
    // skipped are short.
    void Skip(DWORD bytes) {
        uint8_t scratch[4096];
        while (bytes > 0) {
            const DWORD chunk = std::min<DWORD>(bytes, sizeof scratch);
            if (Read(scratch, chunk) != chunk) return;
            bytes -= chunk;
        }
    }

private:
    HANDLE handle_;
};

int32_t LittleEndian32(const uint8_t *p) {
    return static_cast<int32_t>(uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 |
                                uint32_t{p[3]} << 24);
}

} // namespace

PhotoSize ReadPhotoSize(const char *photoPath) {
    PhotoSize size;
    if (!photoPath) return size;
    FileReader file(photoPath);
    if (!file.open()) return size;

    uint8_t magic[2];
    if (file.Read(magic, 2) != 2) return size;

    if (magic[0] == 'B' && magic[1] == 'M') {
        uint8_t rest[12];
        uint8_t info[40];
        if (file.Read(rest, 12) != 12 || file.Read(info, 40) != 40) return size;
        size.width = LittleEndian32(info + 4);
        size.height = LittleEndian32(info + 8);
        return size;
    }

    if (magic[0] == 0xFF && magic[1] == 0xD8) {
        // Walk the marker segments: prefix, code, big-endian length counting itself.
        for (;;) {
            uint8_t marker[4];
            if (file.Read(marker, 4) != 4 || marker[0] != 0xFF) break;
            const DWORD length = DWORD{marker[2]} << 8 | marker[3];
            DWORD bodyRead = 0;
            if (marker[1] == 0xC0) { // baseline start of frame
                uint8_t precision;
                uint8_t dims[4];
                bodyRead += file.Read(&precision, 1);
                const DWORD got = file.Read(dims, 4);
                bodyRead += got;
                if (got == 4) {
                    size.height = dims[0] * 256 + dims[1];
                    size.width = dims[2] * 256 + dims[3];
                }
            }
            // Skip to the segment's end. A length shorter than what was read never
            // moves backwards, so the walk always ends.
            const DWORD body = length >= 2 ? length - 2 : 0;
            if (body > bodyRead) file.Skip(body - bodyRead);
        }
    }
    return size;
}

HRESULT ReliefView::LoadPhotoTexture(const char *path) {
    if (photoTexture) {
        photoTexture->Release();
        photoTexture = nullptr;
    }
    if (!device || !path) return D3DERR_INVALIDCALL;
    IDirect3DTexture9 *texture = nullptr;
    const HRESULT hr = D3DXCreateTextureFromFileA(device, path, &texture);
    if (SUCCEEDED(hr)) photoTexture = texture;
    return hr;
}

namespace {

// Writes one strip: for each column its upper and its lower vertex.
void WriteStripRow(StripVertex *out, int32_t width, const float *xs, const float *us,
                   const float *upperZ, const float *lowerZ, float yUpper, float yLower,
                   float vUpper, float vLower, bool stream) {
    int32_t c = 0;
#if defined(__SSE2__)
    // A column's two vertices are 48 bytes, three 16-byte blocks. A buffer far
    // larger than the cache is streamed past it, so that whole lines are written
    // without first being read; a smaller one stays in the cache, where the
    // device reads it again to upload it.
    if ((reinterpret_cast<uintptr_t>(out) & 15u) == 0) {
        const __m128 white = _mm_castsi128_ps(_mm_set1_epi32(-1)); // diffuse 0xFFFFFFFF
        float *o = reinterpret_cast<float *>(out);
        auto put = [stream](float *at, __m128 v) {
            if (stream)
                _mm_stream_ps(at, v);
            else
                _mm_store_ps(at, v);
        };
        for (; c < width; ++c, o += 12) {
            const __m128 x = _mm_set1_ps(xs[c]);
            const __m128 u = _mm_set1_ps(us[c]);
            // (x, yUpper, zUpper, diffuse)
            const __m128 xy = _mm_unpacklo_ps(x, _mm_set_ss(yUpper));        // x yU x 0
            const __m128 zd = _mm_unpacklo_ps(_mm_set_ss(upperZ[c]), white); // zU D 0 D
            put(o, _mm_movelh_ps(xy, zd));
            // (u, vUpper, x, yLower)
            const __m128 uv = _mm_unpacklo_ps(u, _mm_set_ss(vUpper));  // u vU u 0
            const __m128 xyl = _mm_unpacklo_ps(x, _mm_set_ss(yLower)); // x yL x 0
            put(o + 4, _mm_movelh_ps(uv, xyl));
            // (zLower, diffuse, u, vLower)
            const __m128 zdl = _mm_unpacklo_ps(_mm_set_ss(lowerZ[c]), white); // zL D 0 D
            const __m128 uvl = _mm_unpacklo_ps(u, _mm_set_ss(vLower));        // u vL u 0
            put(o + 8, _mm_movelh_ps(zdl, uvl));
        }
        if (stream) _mm_sfence();
        return;
    }
#endif
    for (; c < width; ++c) {
        out[2 * c] = StripVertex{xs[c], yUpper, upperZ[c], 0xFFFFFFFFu, us[c], vUpper};
        out[2 * c + 1] = StripVertex{xs[c], yLower, lowerZ[c], 0xFFFFFFFFu, us[c], vLower};
    }
}

// Writes the strips of a width x height relief into vertices. zOfGrey maps a grey
// level to its z; without an image every z is that of depth 0.
void WriteStrips(StripVertex *out, int32_t width, int32_t height, const DepthImage *image,
                 const float (&zOfGrey)[256], float zFlat) {
    constexpr int64_t kStreamAbove = int64_t{64} << 20; // bytes
    const bool stream =
        int64_t{2} * width * (height - 1) * static_cast<int64_t>(sizeof(StripVertex)) >
        kStreamAbove;
    const int32_t halfW = width / 2;
    const int32_t halfH = height / 2;
    const float scale = static_cast<float>(std::max(halfW, halfH));

    std::vector<float> xs(static_cast<size_t>(width)), us(static_cast<size_t>(width));
    for (int32_t c = 0; c < width; ++c) {
        xs[static_cast<size_t>(c)] = static_cast<float>(c - halfW) / scale;
        us[static_cast<size_t>(c)] = static_cast<float>(c) / static_cast<float>(width);
    }

    std::vector<float> upperZ(static_cast<size_t>(width), zFlat);
    std::vector<float> lowerZ(static_cast<size_t>(width), zFlat);
    auto fillZ = [&](int32_t memoryRow, std::vector<float> &z) {
        if (image) image->MapRow(memoryRow, zOfGrey, z.data());
    };

    const float h = static_cast<float>(height);
    fillZ(height - 1, upperZ);
    // Memory row r is picture row height - 1 - r: the first strip is the top of the
    // picture. Each inner row is the lower row of one strip and the upper row of
    // the next, so its depths are looked up once.
    for (int32_t r = height - 1; r >= 1; --r) {
        fillZ(r - 1, lowerZ);
        const float yUpper = static_cast<float>(r - halfH) / scale;
        const float yLower = static_cast<float>(r - 1 - halfH) / scale;
        const float vUpper = static_cast<float>(height - r - 1) / h;
        const float vLower = static_cast<float>(height - r) / h;
        WriteStripRow(out, width, xs.data(), us.data(), upperZ.data(), lowerZ.data(), yUpper,
                      yLower, vUpper, vLower, stream);
        out += 2 * static_cast<size_t>(width);
        upperZ.swap(lowerZ);
    }
}

} // namespace

HRESULT ReliefView::BuildStrips(HGLOBAL depthDib, const char *photoPath) {
    // The old strips are dropped with the texture. Their buffer is only set
    // aside: a rebuild of the same size (every step of the pop-up animation)
    // writes the new strips into it instead of making a buffer of hundreds of
    // megabytes afresh.
    IDirect3DVertexBuffer9 *previous = stripBuffer;
    stripBuffer = nullptr;
    ReleaseResources();
    ResetState(false);
    const int32_t percent = popupPercent;

    const PhotoSize photo = ReadPhotoSize(photoPath);
    {
        const DepthImage image(depthDib); // locked until the strips are written
        // A top-down BMP photo is as tall as its height's magnitude.
        const int64_t width = image.valid() ? image.width() : photo.width;
        const int64_t height = image.valid()      ? image.height()
                               : photo.height < 0 ? -int64_t{photo.height}
                                                  : int64_t{photo.height};
        MakeStripBuffer(width, height, image.valid() ? &image : nullptr, percent, previous);
    }
    return LoadPhotoTexture(photoPath);
}

void ReliefView::MakeStripBuffer(int64_t width, int64_t height, const DepthImage *image,
                                 int32_t percent, IDirect3DVertexBuffer9 *previous) {
    const int64_t verts = 2 * width;
    const int64_t strips = height - 1;
    // The buffer's length in bytes, or -1 when there is nothing to build or more
    // than one buffer can hold (its length is 32 bits).
    int64_t length = -1;
    if (verts > 0 && strips > 0 && verts <= INT32_MAX && strips <= INT32_MAX &&
        verts * strips <= int64_t{UINT32_MAX} / static_cast<int64_t>(sizeof(StripVertex)))
        length = verts * strips * static_cast<int64_t>(sizeof(StripVertex));

    // The previous buffer serves again when it has exactly the length needed.
    IDirect3DVertexBuffer9 *buffer = nullptr;
    if (previous) {
        D3DVERTEXBUFFER_DESC desc{};
        if (length > 0 && SUCCEEDED(previous->GetDesc(&desc)) &&
            static_cast<int64_t>(desc.Size) == length && desc.FVF == kStripFvf)
            buffer = previous;
        else
            previous->Release();
    }

    // Without a strip buffer the counts stay 0, so nothing ever draws from an empty
    // buffer: a view without a device, an image one pixel high, or a size too
    // large for one buffer.
    if (!device || length <= 0) {
        if (buffer) buffer->Release();
        return;
    }
    if (!buffer && (FAILED(device->CreateVertexBuffer(static_cast<UINT>(length), 0, kStripFvf,
                                                      D3DPOOL_MANAGED, &buffer, nullptr)) ||
                    !buffer))
        return;
    void *data = nullptr;
    if (FAILED(buffer->Lock(0, 0, &data, 0)) || !data) {
        buffer->Release();
        return;
    }

    // The z of every grey level at this build's percent; without a depth image
    // every depth is 0, the plane nearest the eye.
    float zOfGrey[256];
    for (int grey = 0; grey < 256; ++grey)
        zOfGrey[grey] =
            static_cast<float>((static_cast<double>(DepthOfGrey(grey, percent)) - 128.0) / 128.0);
    const float zFlat = -1.0f;

    WriteStrips(static_cast<StripVertex *>(data), static_cast<int32_t>(width),
                static_cast<int32_t>(height), image, zOfGrey, zFlat);
    buffer->Unlock();
    stripBuffer = buffer;
    vertsPerStrip = static_cast<int32_t>(verts);
    stripCount = static_cast<int32_t>(strips);
}

} // namespace qrv
