// Loading a 4000 x 3000 JPEG photo as a texture on the OpenGL device, against
// decoding the same file with libjpeg-turbo alone into a buffer reused from run to
// run. The loader decodes straight into the texture's memory, so the two should be
// close: reading the file, making the texture and releasing it are all it adds.
//
//   bench_texture --benchmark_repetitions=5 --benchmark_report_aggregates_only=true
#include <benchmark/benchmark.h>
#include <turbojpeg.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "platform/d3d9/d3d9.h"
#include "platform/d3dx9/d3dx9.h"

namespace {

constexpr int kWidth = 4000;
constexpr int kHeight = 3000;

// A photo-like picture: smooth gradients with fine grain, so that the JPEG has
// the size and entropy of a real photo rather than of a flat test card.
std::vector<uint8_t> PhotoLikePixels()
{
    std::vector<uint8_t> bgrx(size_t{kWidth} * kHeight * 4);
    uint32_t seed = 12345;
    for (int y = 0; y < kHeight; ++y) {
        for (int x = 0; x < kWidth; ++x) {
            seed = seed * 1664525u + 1013904223u;
            const int grain = static_cast<int>(seed >> 28) - 8;
            uint8_t *p = &bgrx[(size_t{static_cast<size_t>(y)} * kWidth + x) * 4];
            p[0] = static_cast<uint8_t>(std::clamp(x * 255 / kWidth + grain, 0, 255));
            p[1] = static_cast<uint8_t>(std::clamp(y * 255 / kHeight + grain, 0, 255));
            p[2] = static_cast<uint8_t>(std::clamp(((x + y) / 16) % 256 + grain, 0, 255));
            p[3] = 255;
        }
    }
    return bgrx;
}

struct Photo {
    std::string path;
    std::vector<uint8_t> jpeg;

    Photo()
    {
        const std::vector<uint8_t> pixels = PhotoLikePixels();
        tjhandle handle = tjInitCompress();
        unsigned char *data = nullptr;
        unsigned long size = 0;
        if (tjCompress2(handle, pixels.data(), kWidth, 0, kHeight, TJPF_BGRX, &data, &size,
                        TJSAMP_420, 90, 0) != 0) {
            std::fprintf(stderr, "bench_texture: %s\n", tjGetErrorStr2(handle));
            std::abort();
        }
        jpeg.assign(data, data + size);
        tjFree(data);
        tjDestroy(handle);
        char name[] = "/tmp/qrv-bench-photo-XXXXXX";
        const int fd = mkstemp(name);
        if (fd < 0) {
            std::abort();
        }
        close(fd);
        path = name;
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char *>(jpeg.data()), static_cast<std::streamsize>(size));
    }
    ~Photo() { std::remove(path.c_str()); }
};

const Photo &ThePhoto()
{
    static const Photo photo;
    return photo;
}

void DecodeIntoReusedBuffer(benchmark::State &state)
{
    const Photo &photo = ThePhoto();
    std::vector<uint8_t> buffer(size_t{kWidth} * kHeight * 4);
    tjhandle handle = tjInitDecompress();
    for (auto _ : state) {
        if (tjDecompress2(handle, photo.jpeg.data(), photo.jpeg.size(), buffer.data(), kWidth, 0,
                          kHeight, TJPF_BGRX, 0) != 0) {
            state.SkipWithError(tjGetErrorStr2(handle));
            break;
        }
        benchmark::DoNotOptimize(buffer.data());
        benchmark::ClobberMemory();
    }
    tjDestroy(handle);
    state.SetLabel(std::to_string(photo.jpeg.size() / 1024) + " KiB JPEG");
}
BENCHMARK(DecodeIntoReusedBuffer)->Unit(benchmark::kMillisecond)->UseRealTime();

struct Window {
    QrvWindow window{};
    Window()
    {
        window.clientSize = [](void *, int32_t *w, int32_t *h) {
            *w = 64;
            *h = 64;
        };
        window.present = [](void *, const uint32_t *, int32_t, int32_t, int32_t) {};
    }
};

// A windowed HAL device on a Window, released when it goes; `device` stays null,
// and the benchmark is skipped, where none can be made.
struct WindowedDevice {
    explicit WindowedDevice(benchmark::State &state)
    {
        d3d = Direct3DCreate9(D3D_SDK_VERSION);
        if (d3d == nullptr) {
            state.SkipWithError("no Direct3D object (no OpenGL)");
            return;
        }
        D3DPRESENT_PARAMETERS params{};
        params.Windowed = TRUE;
        params.SwapEffect = D3DSWAPEFFECT_DISCARD;
        if (FAILED(d3d->CreateDevice(D3DADAPTER_DEFAULT, D3DDEVTYPE_HAL, &window.window,
                                     D3DCREATE_SOFTWARE_VERTEXPROCESSING, &params, &device))) {
            device = nullptr;
            state.SkipWithError("no device");
        }
    }
    ~WindowedDevice()
    {
        if (device) device->Release();
        if (d3d) d3d->Release();
    }
    WindowedDevice(const WindowedDevice &) = delete;
    WindowedDevice &operator=(const WindowedDevice &) = delete;

    Window window;
    IDirect3D9 *d3d = nullptr;
    IDirect3DDevice9 *device = nullptr;
};

void LoadAsTexture(benchmark::State &state)
{
    const Photo &photo = ThePhoto();
    WindowedDevice windowed(state);
    IDirect3DDevice9 *device = windowed.device;
    if (device == nullptr) return;
    for (auto _ : state) {
        IDirect3DTexture9 *texture = nullptr;
        const HRESULT hr = D3DXCreateTextureFromFileA(device, photo.path.c_str(), &texture);
        if (FAILED(hr)) {
            state.SkipWithError("D3DXCreateTextureFromFileA failed");
            break;
        }
        texture->Release();
    }
}
BENCHMARK(LoadAsTexture)->Unit(benchmark::kMillisecond)->UseRealTime();

// The device's part of LoadAsTexture alone: a texture of the photo's size made,
// locked, written over once (as the decoder writes it), unlocked and released.
void DeviceTextureAlone(benchmark::State &state)
{
    WindowedDevice windowed(state);
    IDirect3DDevice9 *device = windowed.device;
    if (device == nullptr) return;
    for (auto _ : state) {
        IDirect3DTexture9 *texture = nullptr;
        D3DLOCKED_RECT locked{};
        if (FAILED(device->CreateTexture(kWidth, kHeight, 1, 0, D3DFMT_X8R8G8B8, D3DPOOL_MANAGED,
                                         &texture, nullptr)) ||
            FAILED(texture->LockRect(0, &locked, nullptr, 0))) {
            state.SkipWithError("texture");
            break;
        }
        for (int y = 0; y < kHeight; ++y) {
            std::memset(static_cast<uint8_t *>(locked.pBits) + size_t{static_cast<size_t>(y)} *
                                                                  static_cast<size_t>(locked.Pitch),
                        0x7F, size_t{kWidth} * 4);
        }
        benchmark::ClobberMemory();
        texture->UnlockRect(0);
        texture->Release();
    }
}
BENCHMARK(DeviceTextureAlone)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

BENCHMARK_MAIN();
