// The strip builder: turns a depth image and a photo into the rows of triangle
// strips a ReliefView draws, and loads the photo as their texture.
#include "view/strip_builder.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <memory>
#include <vector>

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

// Writes the strips of a width x height relief into vertices. zOfGrey maps a grey
// level to its z; without an image every z is that of depth 0.
void WriteStrips(StripVertex *out, int32_t width, int32_t height, const DepthImage *image,
                 const float (&zOfGrey)[256], float zFlat) {
    const int32_t halfW = width / 2;
    const int32_t halfH = height / 2;
    const float scale = static_cast<float>(std::max(halfW, halfH));

    std::vector<float> xs(static_cast<size_t>(width)), us(static_cast<size_t>(width));
    for (int32_t c = 0; c < width; ++c) {
        xs[static_cast<size_t>(c)] = static_cast<float>(c - halfW) / scale;
        us[static_cast<size_t>(c)] = static_cast<float>(c) / static_cast<float>(width);
    }

    std::vector<uint8_t> grey(static_cast<size_t>(width));
    std::vector<float> upperZ(static_cast<size_t>(width), zFlat);
    std::vector<float> lowerZ(static_cast<size_t>(width), zFlat);
    auto fillZ = [&](int32_t memoryRow, std::vector<float> &z) {
        if (!image) return;
        image->GreyRow(memoryRow, grey.data());
        for (int32_t c = 0; c < width; ++c)
            z[static_cast<size_t>(c)] = zOfGrey[grey[static_cast<size_t>(c)]];
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
        const float *zu = upperZ.data();
        const float *zl = lowerZ.data();
        for (int32_t c = 0; c < width; ++c) {
            const float x = xs[static_cast<size_t>(c)];
            const float u = us[static_cast<size_t>(c)];
            out[0] = StripVertex{x, yUpper, zu[c], 0xFFFFFFFFu, u, vUpper};
            out[1] = StripVertex{x, yLower, zl[c], 0xFFFFFFFFu, u, vLower};
            out += 2;
        }
        upperZ.swap(lowerZ);
    }
}

} // namespace

HRESULT ReliefView::BuildStrips(HGLOBAL depthDib, const char *photoPath) {
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
        MakeStripBuffer(width, height, image.valid() ? &image : nullptr, percent);
    }
    return LoadPhotoTexture(photoPath);
}

void ReliefView::MakeStripBuffer(int64_t width, int64_t height, const DepthImage *image,
                                 int32_t percent) {
    const int64_t verts = 2 * width;
    const int64_t strips = height - 1;
    const int64_t length = verts * strips * static_cast<int64_t>(sizeof(StripVertex));
    // Without a strip buffer the counts stay 0, so nothing ever draws from an empty
    // buffer: a view without a device, an image one pixel high, or a size too
    // large for one buffer.
    if (!device || width <= 0 || strips <= 0 || verts > INT32_MAX || length > UINT32_MAX) return;

    IDirect3DVertexBuffer9 *buffer = nullptr;
    if (FAILED(device->CreateVertexBuffer(static_cast<UINT>(length), 0, kStripFvf, D3DPOOL_MANAGED,
                                          &buffer, nullptr)) ||
        !buffer)
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
