// D3DXCreateTextureFromFileA: a whole picture file as one managed-pool texture.
//
// Results:
//   S_OK                    *texture holds the picture (one reference, the caller's)
//   D3DERR_INVALIDCALL      a null argument
//   E_FAIL                  the file cannot be opened or read
//   D3DXERR_INVALIDDATA     not a BMP, JPEG or PNG, or a damaged or truncated one
//   E_OUTOFMEMORY           the picture or the file is too large to hold
//   D3DERR_NOTAVAILABLE     the device reports no usable texture size
//   anything the device's GetDeviceCaps, CreateTexture or LockRect returns
// On failure *texture is null and nothing is left allocated.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <new>
#include <vector>

#include "platform/d3dx9/d3dx9.h"
#include "platform/d3dx9/picture.h"

namespace {

using qrv::d3dx9::Picture;
using qrv::d3dx9::PictureInfo;

constexpr size_t kMaxFileBytes = size_t{1} << 31;

class FileDescriptor {
public:
    explicit FileDescriptor(int fd) : fd_(fd) {}
    ~FileDescriptor()
    {
        if (fd_ >= 0) {
            close(fd_);
        }
    }
    FileDescriptor(const FileDescriptor &) = delete;
    FileDescriptor &operator=(const FileDescriptor &) = delete;
    int Get() const { return fd_; }

private:
    int fd_;
};

HRESULT ReadWholeFile(const char *path, std::vector<uint8_t> *bytes)
{
    const FileDescriptor file(open(path, O_RDONLY | O_CLOEXEC));
    if (file.Get() < 0) {
        return E_FAIL;
    }
    struct stat status {};
    if (fstat(file.Get(), &status) != 0 || !S_ISREG(status.st_mode)) {
        return E_FAIL;
    }
    if (static_cast<uint64_t>(status.st_size) > kMaxFileBytes) {
        return E_OUTOFMEMORY;
    }
    bytes->resize(static_cast<size_t>(status.st_size));
    size_t done = 0;
    while (done < bytes->size()) {
        const ssize_t got = read(file.Get(), bytes->data() + done, bytes->size() - done);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            break; // the file shrank while we read it: decode what is there
        }
        done += static_cast<size_t>(got);
    }
    bytes->resize(done);
    return S_OK;
}

// The texture under construction: released unless handed over.
class TextureHolder {
public:
    ~TextureHolder()
    {
        if (locked_) {
            texture_->UnlockRect(0);
        }
        if (texture_ != nullptr) {
            texture_->Release();
        }
    }
    IDirect3DTexture9 **Receive() { return &texture_; }
    IDirect3DTexture9 *Get() const { return texture_; }

    HRESULT Lock(D3DLOCKED_RECT *rect)
    {
        const HRESULT hr = texture_->LockRect(0, rect, nullptr, 0);
        locked_ = SUCCEEDED(hr);
        return hr;
    }
    HRESULT Unlock()
    {
        locked_ = false;
        return texture_->UnlockRect(0);
    }
    IDirect3DTexture9 *Detach()
    {
        IDirect3DTexture9 *texture = texture_;
        texture_ = nullptr;
        return texture;
    }

private:
    IDirect3DTexture9 *texture_ = nullptr;
    bool locked_ = false;
};

HRESULT CreateTexture(IDirect3DDevice9 *device, const char *path, IDirect3DTexture9 **texture)
{
    std::vector<uint8_t> bytes;
    HRESULT hr = ReadWholeFile(path, &bytes);
    if (FAILED(hr)) {
        return hr;
    }
    PictureInfo info;
    hr = qrv::d3dx9::ReadPictureInfo(bytes.data(), bytes.size(), &info);
    if (FAILED(hr)) {
        return hr;
    }

    D3DCAPS9 caps{};
    hr = device->GetDeviceCaps(&caps);
    if (FAILED(hr)) {
        return hr;
    }
    if (caps.MaxTextureWidth == 0 || caps.MaxTextureHeight == 0) {
        return D3DERR_NOTAVAILABLE;
    }
    uint32_t width = 0;
    uint32_t height = 0;
    qrv::d3dx9::FitPictureSize(info.width, info.height, caps.MaxTextureWidth,
                               caps.MaxTextureHeight, &width, &height);
    const bool scaled = width != info.width || height != info.height;

    // A picture to be scaled is decoded before the texture is made, so a damaged
    // file costs no texture.
    Picture picture;
    if (scaled) {
        hr = qrv::d3dx9::DecodePictureAtLeast(bytes.data(), bytes.size(), width, height, &picture);
        if (FAILED(hr)) {
            return hr;
        }
    }

    TextureHolder holder;
    hr = device->CreateTexture(width, height, 1, 0,
                               info.hasAlpha ? D3DFMT_A8R8G8B8 : D3DFMT_X8R8G8B8,
                               D3DPOOL_MANAGED, holder.Receive(), nullptr);
    if (FAILED(hr)) {
        return hr;
    }
    if (holder.Get() == nullptr) {
        return E_FAIL;
    }
    D3DLOCKED_RECT locked{};
    hr = holder.Lock(&locked);
    if (FAILED(hr)) {
        return hr;
    }
    if (locked.pBits == nullptr || locked.Pitch < 0 ||
        static_cast<uint64_t>(locked.Pitch) < uint64_t{width} * 4) {
        return E_FAIL;
    }
    auto *bits = static_cast<uint8_t *>(locked.pBits);
    const auto pitch = static_cast<size_t>(locked.Pitch);
    if (scaled) {
        qrv::d3dx9::BoxScalePicture(picture.pixels.data(), picture.width, picture.height,
                                    size_t{picture.width} * 4, bits, width, height, pitch);
    } else {
        // Straight into the texture's memory: no copy of the picture on the way.
        hr = qrv::d3dx9::DecodePictureInto(bytes.data(), bytes.size(), info, bits, pitch);
        if (FAILED(hr)) {
            return hr;
        }
    }
    hr = holder.Unlock();
    if (FAILED(hr)) {
        return hr;
    }
    *texture = holder.Detach();
    return S_OK;
}

} // namespace

HRESULT D3DXCreateTextureFromFileA(IDirect3DDevice9 *device, const char *path,
                                   IDirect3DTexture9 **texture)
{
    if (texture != nullptr) {
        *texture = nullptr;
    }
    if (device == nullptr || path == nullptr || texture == nullptr) {
        return D3DERR_INVALIDCALL;
    }
    try {
        return CreateTexture(device, path, texture);
    } catch (const std::bad_alloc &) {
        return E_OUTOFMEMORY;
    }
}
