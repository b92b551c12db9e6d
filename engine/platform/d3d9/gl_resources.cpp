// Buffers, textures, vertex declarations and shaders of the OpenGL device.
#include <algorithm>
#include <cstdio>
#include <cstring>

#define GL_GLEXT_PROTOTYPES 1
#include <GL/glcorearb.h>

#include "gl_device.h"

namespace qrv::d3d9 {
namespace {

// GL errors are sticky: drop older ones before a call whose own error matters.
void ClearGlErrors() {
    for (int i = 0; i < 16 && glGetError() != GL_NO_ERROR; ++i) {
    }
}

} // namespace

// ---- Reference counting ------------------------------------------------------------
template <class Interface>
DeviceChild<Interface>::DeviceChild(GlDevice *device) : device_(device) {
    device_->AddRef();
    device_->Register(this);
}

template <class Interface>
DeviceChild<Interface>::~DeviceChild() {
    device_->Unregister(this);
}

template <class Interface>
ULONG DeviceChild<Interface>::Release() {
    if (refs_ == 0) return 0; // released once too often: ignore rather than free twice
    if (--refs_ > 0) return refs_;
    GlDevice *device = device_;
    if (binds_ == 0) delete this;
    // A resource still bound stays alive for the device until it is unbound, but
    // no longer keeps the device alive.
    device->Release();
    return 0;
}

template <class Interface>
void DeviceChild<Interface>::UnbindRef() {
    if (binds_ > 0 && --binds_ == 0 && refs_ == 0) delete this;
}

template <class Interface>
HRESULT DeviceChild<Interface>::GetDevice(IDirect3DDevice9 **device) {
    if (!device) return D3DERR_INVALIDCALL;
    device_->AddRef();
    *device = device_;
    return D3D_OK;
}

template class DeviceChild<IDirect3DVertexBuffer9>;
template class DeviceChild<IDirect3DIndexBuffer9>;
template class DeviceChild<IDirect3DTexture9>;
template class DeviceChild<IDirect3DVertexDeclaration9>;
template class DeviceChild<IDirect3DVertexShader9>;
template class DeviceChild<IDirect3DPixelShader9>;

// ---- Vertex layouts --------------------------------------------------------------
UINT DeclTypeSize(BYTE type) {
    switch (type) {
    case D3DDECLTYPE_FLOAT1: return 4;
    case D3DDECLTYPE_FLOAT2: return 8;
    case D3DDECLTYPE_FLOAT3: return 12;
    case D3DDECLTYPE_FLOAT4: return 16;
    case D3DDECLTYPE_D3DCOLOR:
    case D3DDECLTYPE_UBYTE4:
    case D3DDECLTYPE_UBYTE4N:
    case D3DDECLTYPE_SHORT2:
    case D3DDECLTYPE_SHORT2N:
    case D3DDECLTYPE_USHORT2N:
    case D3DDECLTYPE_FLOAT16_2: return 4;
    case D3DDECLTYPE_SHORT4:
    case D3DDECLTYPE_SHORT4N:
    case D3DDECLTYPE_USHORT4N:
    case D3DDECLTYPE_FLOAT16_4: return 8;
    default: return 0;
    }
}

bool LayoutFromFvf(DWORD fvf, VertexLayout *layout) {
    constexpr DWORD kPositionMask = 0x400E;
    constexpr DWORD kKnownBits = kPositionMask | D3DFVF_NORMAL | 0x020 /*PSIZE*/ | D3DFVF_DIFFUSE |
                                 D3DFVF_SPECULAR | 0xF00 /*TEXCOUNT*/ | 0xFFFF0000u;
    if (fvf & ~kKnownBits) return false;
    // Positions already transformed, with blend weights or with w are not drawn here.
    if ((fvf & kPositionMask) != D3DFVF_XYZ) return false;
    const DWORD texCount = (fvf >> 8) & 0xF;
    if (texCount > 8) return false;
    // Size bits of coordinate sets that do not exist must be zero.
    if (texCount < 8 && (fvf >> (16 + 2 * texCount)) != 0) return false;

    layout->elements.clear();
    WORD offset = 0;
    auto add = [&](BYTE type, BYTE usage, BYTE index) {
        layout->elements.push_back(D3DVERTEXELEMENT9{0, offset, type, D3DDECLMETHOD_DEFAULT, usage, index});
        offset = static_cast<WORD>(offset + DeclTypeSize(type));
    };
    add(D3DDECLTYPE_FLOAT3, D3DDECLUSAGE_POSITION, 0);
    if (fvf & D3DFVF_NORMAL) add(D3DDECLTYPE_FLOAT3, D3DDECLUSAGE_NORMAL, 0);
    if (fvf & 0x020) add(D3DDECLTYPE_FLOAT1, D3DDECLUSAGE_PSIZE, 0);
    if (fvf & D3DFVF_DIFFUSE) add(D3DDECLTYPE_D3DCOLOR, D3DDECLUSAGE_COLOR, 0);
    if (fvf & D3DFVF_SPECULAR) add(D3DDECLTYPE_D3DCOLOR, D3DDECLUSAGE_COLOR, 1);
    for (DWORD i = 0; i < texCount; ++i) {
        // D3DFVF_TEXCOORDSIZEn: 0 two floats, 1 three, 2 four, 3 one.
        static constexpr BYTE kTypes[4] = {D3DDECLTYPE_FLOAT2, D3DDECLTYPE_FLOAT3,
                                           D3DDECLTYPE_FLOAT4, D3DDECLTYPE_FLOAT1};
        add(kTypes[(fvf >> (16 + 2 * i)) & 3], D3DDECLUSAGE_TEXCOORD, static_cast<BYTE>(i));
    }
    return true;
}

HRESULT GlVertexDeclaration::GetDeclaration(D3DVERTEXELEMENT9 *elements, UINT *count) {
    if (!count) return D3DERR_INVALIDCALL;
    const UINT n = static_cast<UINT>(layout_.elements.size());
    if (elements) {
        std::copy(layout_.elements.begin(), layout_.elements.end(), elements);
        elements[n] = D3DVERTEXELEMENT9 D3DDECL_END();
    }
    *count = n + 1;
    return D3D_OK;
}

// ---- Buffers ---------------------------------------------------------------------
BufferStore::BufferStore(GlDevice *device, UINT size) : device_(device), size_(size) {
    memory_ = device_->TakeBlock(size, &gl_);
    MarkAllDirty();
}

BufferStore::~BufferStore() {
    if (memory_) device_->ReturnBlock(size_, std::move(memory_), gl_);
}

HRESULT BufferStore::Lock(UINT offset, UINT size, void **data, DWORD flags) {
    if (!data) return D3DERR_INVALIDCALL;
    *data = nullptr;
    if (locked_ || offset > size_) return D3DERR_INVALIDCALL;
    if (size == 0) size = size_ - offset;
    if (size > size_ - offset) return D3DERR_INVALIDCALL;
    locked_ = true;
    if (!(flags & D3DLOCK_READONLY) && size > 0) {
        // A writing lock: the span goes to GL before the next draw that reads it.
        if (dirtyBegin_ >= dirtyEnd_) {
            dirtyBegin_ = offset;
            dirtyEnd_ = offset + size;
        } else {
            dirtyBegin_ = std::min(dirtyBegin_, offset);
            dirtyEnd_ = std::max(dirtyEnd_, offset + size);
        }
        ++version_;
    }
    *data = memory_.get() + offset;
    return D3D_OK;
}

HRESULT BufferStore::Unlock() {
    if (!locked_) return D3DERR_INVALIDCALL;
    locked_ = false;
    return D3D_OK;
}

GLuintT BufferStore::Prepare() {
    if (!gl_) {
        ClearGlErrors();
        glCreateBuffers(1, &gl_);
        glNamedBufferData(gl_, size_, nullptr, GL_STATIC_DRAW);
        if (glGetError() != GL_NO_ERROR) {
            glDeleteBuffers(1, &gl_);
            gl_ = 0;
            return 0;
        }
        MarkAllDirty();
    }
    if (dirtyBegin_ < dirtyEnd_) {
        glNamedBufferSubData(gl_, dirtyBegin_, dirtyEnd_ - dirtyBegin_, memory_.get() + dirtyBegin_);
        dirtyBegin_ = dirtyEnd_ = 0;
    }
    return gl_;
}

GlVertexBuffer::GlVertexBuffer(GlDevice *device, UINT length, DWORD usage, DWORD fvf, D3DPOOL pool)
    : DeviceChild(device), store_(device, length), usage_(usage), fvf_(fvf), pool_(pool) {}

HRESULT GlVertexBuffer::GetDesc(D3DVERTEXBUFFER_DESC *desc) {
    if (!desc) return D3DERR_INVALIDCALL;
    *desc = D3DVERTEXBUFFER_DESC{D3DFMT_VERTEXDATA, D3DRTYPE_VERTEXBUFFER, usage_, pool_,
                                 store_.size(), fvf_};
    return D3D_OK;
}

GlIndexBuffer::GlIndexBuffer(GlDevice *device, UINT length, DWORD usage, D3DFORMAT format,
                             D3DPOOL pool)
    : DeviceChild(device), store_(device, length), usage_(usage), format_(format), pool_(pool) {}

HRESULT GlIndexBuffer::GetDesc(D3DINDEXBUFFER_DESC *desc) {
    if (!desc) return D3DERR_INVALIDCALL;
    *desc = D3DINDEXBUFFER_DESC{format_, D3DRTYPE_INDEXBUFFER, usage_, pool_, store_.size()};
    return D3D_OK;
}

void GlIndexBuffer::IndexRange(UINT start, UINT count, uint32_t *low, uint32_t *high) {
    if (range_.version != store_.version() || range_.start != start || range_.count != count) {
        uint32_t lo = UINT32_MAX, hi = 0;
        if (format_ == D3DFMT_INDEX32) {
            const auto *p = reinterpret_cast<const uint32_t *>(store_.data()) + start;
            for (UINT i = 0; i < count; ++i) {
                lo = std::min(lo, p[i]);
                hi = std::max(hi, p[i]);
            }
        } else {
            const auto *p = reinterpret_cast<const uint16_t *>(store_.data()) + start;
            for (UINT i = 0; i < count; ++i) {
                lo = std::min<uint32_t>(lo, p[i]);
                hi = std::max<uint32_t>(hi, p[i]);
            }
        }
        range_.version = store_.version();
        range_.start = start;
        range_.count = count;
        range_.low = count ? lo : 0;
        range_.high = hi;
    }
    *low = range_.low;
    *high = range_.high;
}

// ---- Textures --------------------------------------------------------------------
const TextureFormatInfo *TextureFormat(D3DFORMAT format) {
    // Direct3D's byte order is B, G, R, A in memory for the 32-bit formats; they go
    // up as RGBA with red and blue swapped by the texture's swizzle.
    static const TextureFormatInfo kFormats[] = {
        {D3DFMT_A8R8G8B8, 4, GL_RGBA8, GL_RGBA, GL_UNSIGNED_BYTE, true, false},
        {D3DFMT_X8R8G8B8, 4, GL_RGBA8, GL_RGBA, GL_UNSIGNED_BYTE, true, true},
        {D3DFMT_A8B8G8R8, 4, GL_RGBA8, GL_RGBA, GL_UNSIGNED_BYTE, false, false},
        {D3DFMT_X8B8G8R8, 4, GL_RGBA8, GL_RGBA, GL_UNSIGNED_BYTE, false, true},
        {D3DFMT_R5G6B5, 2, GL_RGB565, GL_RGB, GL_UNSIGNED_SHORT_5_6_5, false, true},
        {D3DFMT_X1R5G5B5, 2, GL_RGB5_A1, GL_RGBA, GL_UNSIGNED_SHORT_1_5_5_5_REV, true, true},
        {D3DFMT_A1R5G5B5, 2, GL_RGB5_A1, GL_RGBA, GL_UNSIGNED_SHORT_1_5_5_5_REV, true, false},
        {D3DFMT_A4R4G4B4, 2, GL_RGBA4, GL_RGBA, GL_UNSIGNED_SHORT_4_4_4_4_REV, true, false},
    };
    for (const TextureFormatInfo &info : kFormats)
        if (info.format == format) return &info;
    return nullptr;
}

GlTexture::GlTexture(GlDevice *device, UINT width, UINT height, DWORD usage,
                     const TextureFormatInfo &format, D3DPOOL pool)
    : DeviceChild(device), width_(width), height_(height), usage_(usage), format_(format),
      pool_(pool) {
    // Photos are reloaded on every relief rebuild: recycled memory spares the page
    // faults of a fresh block each time.
    if (Bytes() <= UINT32_MAX)
        memory_ = device_->TakeBlock(static_cast<UINT>(Bytes()), &pooledBuffer_);
    else
        memory_.reset(static_cast<uint8_t *>(std::calloc(Bytes(), 1)));
}

GlTexture::~GlTexture() {
    if (gl_ && device_->MakeCurrent()) {
        device_->ForgetGlTexture(gl_);
        glDeleteTextures(1, &gl_);
    }
    if (memory_ && Bytes() <= UINT32_MAX)
        device_->ReturnBlock(static_cast<UINT>(Bytes()), std::move(memory_), pooledBuffer_);
}

HRESULT GlTexture::GetLevelDesc(UINT level, D3DSURFACE_DESC *desc) {
    if (level != 0 || !desc) return D3DERR_INVALIDCALL;
    *desc = D3DSURFACE_DESC{format_.format, D3DRTYPE_SURFACE, usage_, pool_, D3DMULTISAMPLE_NONE,
                            0, width_, height_};
    return D3D_OK;
}

HRESULT GlTexture::LockRect(UINT level, D3DLOCKED_RECT *locked, const RECT *rect, DWORD flags) {
    if (level != 0 || !locked || locked_) return D3DERR_INVALIDCALL;
    const size_t pitch = static_cast<size_t>(width_) * format_.bytesPerPixel;
    size_t offset = 0;
    if (rect) {
        if (rect->left < 0 || rect->top < 0 || rect->left >= rect->right ||
            rect->top >= rect->bottom || static_cast<UINT>(rect->right) > width_ ||
            static_cast<UINT>(rect->bottom) > height_)
            return D3DERR_INVALIDCALL;
        offset = static_cast<size_t>(rect->top) * pitch +
                 static_cast<size_t>(rect->left) * format_.bytesPerPixel;
    }
    locked_ = true;
    if (!(flags & D3DLOCK_READONLY)) dirty_ = true;
    locked->Pitch = static_cast<INT>(pitch);
    locked->pBits = memory_.get() + offset;
    return D3D_OK;
}

HRESULT GlTexture::UnlockRect(UINT level) {
    if (level != 0 || !locked_) return D3DERR_INVALIDCALL;
    locked_ = false;
    return D3D_OK;
}

GLuintT GlTexture::Prepare() {
    if (!gl_) {
        ClearGlErrors();
        glCreateTextures(GL_TEXTURE_2D, 1, &gl_);
        glTextureStorage2D(gl_, 1, format_.internalFormat, static_cast<GLsizei>(width_),
                           static_cast<GLsizei>(height_));
        if (glGetError() != GL_NO_ERROR) {
            glDeleteTextures(1, &gl_);
            gl_ = 0;
            return 0;
        }
        // Direct3D's default sampler: point filtering, no mip maps, wrapping.
        glTextureParameteri(gl_, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
        glTextureParameteri(gl_, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
        glTextureParameteri(gl_, GL_TEXTURE_WRAP_S, GL_REPEAT);
        glTextureParameteri(gl_, GL_TEXTURE_WRAP_T, GL_REPEAT);
        glTextureParameteri(gl_, GL_TEXTURE_MAX_LEVEL, 0);
        if (format_.swapRedBlue) {
            glTextureParameteri(gl_, GL_TEXTURE_SWIZZLE_R, GL_BLUE);
            glTextureParameteri(gl_, GL_TEXTURE_SWIZZLE_B, GL_RED);
        }
        if (format_.opaque) glTextureParameteri(gl_, GL_TEXTURE_SWIZZLE_A, GL_ONE);
        dirty_ = true;
    }
    if (dirty_) {
        glTextureSubImage2D(gl_, 0, 0, 0, static_cast<GLsizei>(width_),
                            static_cast<GLsizei>(height_), format_.glFormat, format_.glType,
                            memory_.get());
        dirty_ = false;
    }
    return gl_;
}

// ---- Shaders ---------------------------------------------------------------------
GlVertexShader::GlVertexShader(GlDevice *device, ShaderVariants variants)
    : DeviceChild(device), variants_(std::move(variants)) {}

GlVertexShader::~GlVertexShader() {
    device_->ForgetShader(variants_.id);
    if (device_->MakeCurrent())
        for (GLuintT &gl : variants_.gl)
            if (gl) glDeleteShader(gl);
}

void GlVertexShader::DropGl() {
    variants_.gl[0] = variants_.gl[1] = 0;
    variants_.tried[0] = variants_.tried[1] = false;
}

GlPixelShader::GlPixelShader(GlDevice *device, ShaderVariants variants)
    : DeviceChild(device), variants_(std::move(variants)) {}

GlPixelShader::~GlPixelShader() {
    device_->ForgetShader(variants_.id);
    if (device_->MakeCurrent())
        for (GLuintT &gl : variants_.gl)
            if (gl) glDeleteShader(gl);
}

void GlPixelShader::DropGl() {
    variants_.gl[0] = variants_.gl[1] = 0;
    variants_.tried[0] = variants_.tried[1] = false;
}

} // namespace qrv::d3d9
