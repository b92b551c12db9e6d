// A recording stand-in device for the texture loader: textures live in memory,
// every CreateTexture and lock is written down, and any of them can be made to fail.
// Everything the loader has no business calling answers D3DERR_INVALIDCALL.
#pragma once

#include <string>
#include <vector>

#include "platform/d3d9/d3d9.h"

namespace qrv::testing {

class FakeDevice;

class FakeTexture final : public IDirect3DTexture9 {
public:
    FakeTexture(FakeDevice *device, UINT width, UINT height, D3DFORMAT format, UINT pitch);

    ULONG AddRef() override { return ++references_; }
    ULONG Release() override;
    HRESULT GetDevice(IDirect3DDevice9 **device) override;
    DWORD GetLevelCount() override { return 1; }
    HRESULT GetLevelDesc(UINT level, D3DSURFACE_DESC *desc) override;
    HRESULT LockRect(UINT level, D3DLOCKED_RECT *locked, const RECT *rect, DWORD flags) override;
    HRESULT UnlockRect(UINT level) override;

    UINT width, height, pitch;
    D3DFORMAT format;
    std::vector<uint8_t> memory;
    bool locked = false;
    int locks = 0;
    int unlocks = 0;

    // B,G,R,A of one texel.
    const uint8_t *Texel(UINT x, UINT y) const { return &memory[y * pitch + x * 4]; }

private:
    ~FakeTexture() override = default;
    FakeDevice *device_;
    ULONG references_ = 1;
};

class FakeDevice final : public IDirect3DDevice9 {
public:
    // Row padding of every texture, so that a loader ignoring the pitch shows.
    static constexpr UINT kPitchPadding = 12;

    UINT maxTextureWidth = 4096;
    UINT maxTextureHeight = 4096;
    HRESULT capsResult = D3D_OK;
    HRESULT createResult = D3D_OK;
    HRESULT lockResult = D3D_OK;

    std::vector<std::string> calls;
    int liveTextures = 0;
    FakeTexture *lastTexture = nullptr;

    ULONG AddRef() override { return 2; }
    ULONG Release() override { return 1; }

    HRESULT GetDeviceCaps(D3DCAPS9 *caps) override
    {
        calls.push_back("GetDeviceCaps");
        if (FAILED(capsResult)) {
            return capsResult;
        }
        *caps = {};
        caps->DeviceType = D3DDEVTYPE_HAL;
        caps->MaxTextureWidth = maxTextureWidth;
        caps->MaxTextureHeight = maxTextureHeight;
        return D3D_OK;
    }

    HRESULT CreateTexture(UINT width, UINT height, UINT levels, DWORD usage, D3DFORMAT format,
                          D3DPOOL pool, IDirect3DTexture9 **texture, HANDLE *shared) override
    {
        calls.push_back("CreateTexture " + std::to_string(width) + "x" + std::to_string(height) +
                        " levels " + std::to_string(levels) + " usage " + std::to_string(usage) +
                        " format " + std::to_string(format) + " pool " + std::to_string(pool) +
                        (shared == nullptr ? "" : " shared"));
        if (FAILED(createResult)) {
            return createResult;
        }
        lastTexture = new FakeTexture(this, width, height, format, width * 4 + kPitchPadding);
        ++liveTextures;
        *texture = lastTexture;
        return D3D_OK;
    }

    // Not used by the texture loader.
    HRESULT TestCooperativeLevel() override { return D3DERR_INVALIDCALL; }
    HRESULT Reset(D3DPRESENT_PARAMETERS *) override { return D3DERR_INVALIDCALL; }
    HRESULT Present(const RECT *, const RECT *, HWND, const void *) override
    {
        return D3DERR_INVALIDCALL;
    }
    HRESULT CreateVertexBuffer(UINT, DWORD, DWORD, D3DPOOL, IDirect3DVertexBuffer9 **,
                               HANDLE *) override
    {
        return D3DERR_INVALIDCALL;
    }
    HRESULT CreateIndexBuffer(UINT, DWORD, D3DFORMAT, D3DPOOL, IDirect3DIndexBuffer9 **,
                              HANDLE *) override
    {
        return D3DERR_INVALIDCALL;
    }
    HRESULT CreateVertexDeclaration(const D3DVERTEXELEMENT9 *,
                                    IDirect3DVertexDeclaration9 **) override
    {
        return D3DERR_INVALIDCALL;
    }
    HRESULT CreateVertexShader(const DWORD *, IDirect3DVertexShader9 **) override
    {
        return D3DERR_INVALIDCALL;
    }
    HRESULT CreatePixelShader(const DWORD *, IDirect3DPixelShader9 **) override
    {
        return D3DERR_INVALIDCALL;
    }
    HRESULT SetViewport(const D3DVIEWPORT9 *) override { return D3DERR_INVALIDCALL; }
    HRESULT GetViewport(D3DVIEWPORT9 *) override { return D3DERR_INVALIDCALL; }
    HRESULT SetRenderState(D3DRENDERSTATETYPE, DWORD) override { return D3DERR_INVALIDCALL; }
    HRESULT GetRenderState(D3DRENDERSTATETYPE, DWORD *) override { return D3DERR_INVALIDCALL; }
    HRESULT SetTransform(D3DTRANSFORMSTATETYPE, const D3DMATRIX *) override
    {
        return D3DERR_INVALIDCALL;
    }
    HRESULT GetTransform(D3DTRANSFORMSTATETYPE, D3DMATRIX *) override
    {
        return D3DERR_INVALIDCALL;
    }
    HRESULT SetTextureStageState(DWORD, D3DTEXTURESTAGESTATETYPE, DWORD) override
    {
        return D3DERR_INVALIDCALL;
    }
    HRESULT SetTexture(DWORD, IDirect3DBaseTexture9 *) override { return D3DERR_INVALIDCALL; }
    HRESULT SetStreamSource(UINT, IDirect3DVertexBuffer9 *, UINT, UINT) override
    {
        return D3DERR_INVALIDCALL;
    }
    HRESULT SetIndices(IDirect3DIndexBuffer9 *) override { return D3DERR_INVALIDCALL; }
    HRESULT SetFVF(DWORD) override { return D3DERR_INVALIDCALL; }
    HRESULT SetVertexDeclaration(IDirect3DVertexDeclaration9 *) override
    {
        return D3DERR_INVALIDCALL;
    }
    HRESULT SetVertexShader(IDirect3DVertexShader9 *) override { return D3DERR_INVALIDCALL; }
    HRESULT SetPixelShader(IDirect3DPixelShader9 *) override { return D3DERR_INVALIDCALL; }
    HRESULT SetVertexShaderConstantF(UINT, const float *, UINT) override
    {
        return D3DERR_INVALIDCALL;
    }
    HRESULT SetPixelShaderConstantF(UINT, const float *, UINT) override
    {
        return D3DERR_INVALIDCALL;
    }
    HRESULT Clear(DWORD, const void *, DWORD, D3DCOLOR, float, DWORD) override
    {
        return D3DERR_INVALIDCALL;
    }
    HRESULT BeginScene() override { return D3DERR_INVALIDCALL; }
    HRESULT EndScene() override { return D3DERR_INVALIDCALL; }
    HRESULT DrawPrimitive(D3DPRIMITIVETYPE, UINT, UINT) override { return D3DERR_INVALIDCALL; }
    HRESULT DrawIndexedPrimitive(D3DPRIMITIVETYPE, INT, UINT, UINT, UINT, UINT) override
    {
        return D3DERR_INVALIDCALL;
    }
};

inline FakeTexture::FakeTexture(FakeDevice *device, UINT w, UINT h, D3DFORMAT f, UINT p)
    : width(w), height(h), pitch(p), format(f), memory(size_t{p} * h, 0xCD), device_(device)
{
}

inline ULONG FakeTexture::Release()
{
    const ULONG left = --references_;
    if (left == 0) {
        --device_->liveTextures;
        if (device_->lastTexture == this) {
            device_->lastTexture = nullptr;
        }
        device_->calls.push_back("Release texture");
        delete this;
    }
    return left;
}

inline HRESULT FakeTexture::GetDevice(IDirect3DDevice9 **device)
{
    *device = device_;
    return D3D_OK;
}

inline HRESULT FakeTexture::GetLevelDesc(UINT level, D3DSURFACE_DESC *desc)
{
    if (level != 0) {
        return D3DERR_INVALIDCALL;
    }
    *desc = {};
    desc->Format = format;
    desc->Type = D3DRTYPE_TEXTURE;
    desc->Pool = D3DPOOL_MANAGED;
    desc->Width = width;
    desc->Height = height;
    return D3D_OK;
}

inline HRESULT FakeTexture::LockRect(UINT level, D3DLOCKED_RECT *rect, const RECT *area,
                                     DWORD flags)
{
    device_->calls.push_back("LockRect " + std::to_string(level) +
                             (area == nullptr ? " whole" : " part") + " flags " +
                             std::to_string(flags));
    if (FAILED(device_->lockResult)) {
        return device_->lockResult;
    }
    if (level != 0 || locked) {
        return D3DERR_INVALIDCALL;
    }
    locked = true;
    ++locks;
    rect->pBits = memory.data();
    rect->Pitch = static_cast<INT>(pitch);
    return D3D_OK;
}

inline HRESULT FakeTexture::UnlockRect(UINT level)
{
    device_->calls.push_back("UnlockRect " + std::to_string(level));
    if (level != 0 || !locked) {
        return D3DERR_INVALIDCALL;
    }
    locked = false;
    ++unlocks;
    return D3D_OK;
}

} // namespace qrv::testing
