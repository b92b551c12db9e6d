// Arbitrary call sequences on the real OpenGL device: buffers, declarations,
// textures, states and draws with arguments taken from the input. Whatever the
// sequence, a call either does its work or refuses it; nothing reads or writes
// outside the objects it was given. Sizes are bounded to keep each run short.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "platform/d3d9/d3d9.h"
#include "platform/d3d9/d3d9_testing.h"

namespace {

class Input {
public:
    Input(const uint8_t *data, size_t size) : data_(data), size_(size) {}
    bool empty() const { return at_ >= size_; }
    uint8_t Byte() { return at_ < size_ ? data_[at_++] : 0; }
    uint32_t Word() {
        uint32_t v = 0;
        for (int i = 0; i < 4; ++i) v = v << 8 | Byte();
        return v;
    }
    // Mostly small numbers, sometimes any 32-bit value.
    uint32_t Number(uint32_t small) {
        const uint8_t b = Byte();
        return (b & 0xE0) == 0xE0 ? Word() : b % (small + 1);
    }
    float Float() {
        static const float kValues[] = {0.0f, 1.0f, -1.0f, 0.5f, -0.5f, 2.0f, 1e30f, -1e30f};
        const uint8_t b = Byte();
        return b < 200 ? kValues[b % 8] : static_cast<float>(static_cast<int8_t>(Byte())) / 16.0f;
    }

private:
    const uint8_t *data_;
    size_t size_;
    size_t at_ = 0;
};

struct Session {
    QrvWindow window{nullptr, [](void *, int32_t *w, int32_t *h) { *w = *h = 16; },
                     [](void *, const uint32_t *, int32_t, int32_t, int32_t) {}};
    IDirect3D9 *d3d = Direct3DCreate9(D3D_SDK_VERSION);
    IDirect3DDevice9 *device = nullptr;
    D3DPRESENT_PARAMETERS params{};

    Session() {
        params.SwapEffect = D3DSWAPEFFECT_DISCARD;
        params.Windowed = TRUE;
        params.EnableAutoDepthStencil = TRUE;
        params.AutoDepthStencilFormat = D3DFMT_D24S8;
        if (d3d)
            d3d->CreateDevice(D3DADAPTER_DEFAULT, D3DDEVTYPE_HAL, &window,
                              D3DCREATE_SOFTWARE_VERTEXPROCESSING, &params, &device);
    }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    static Session session;
    IDirect3DDevice9 *device = session.device;
    if (!device) return 0;
    // Every run starts from a device in its default state.
    D3DPRESENT_PARAMETERS params = session.params;
    qrv::d3d9::SetDeviceResettable(device, true);
    if (FAILED(device->Reset(&params))) return 0;

    std::vector<IDirect3DVertexBuffer9 *> buffers;
    std::vector<IDirect3DIndexBuffer9 *> indexBuffers;
    std::vector<IDirect3DTexture9 *> textures;
    std::vector<IDirect3DVertexDeclaration9 *> declarations;
    auto pick = [](auto &list, uint8_t b) { return list.empty() ? nullptr : list[b % list.size()]; };

    Input in(data, size);
    for (int step = 0; step < 64 && !in.empty(); ++step) {
        switch (in.Byte() % 20) {
        case 0: {
            IDirect3DVertexBuffer9 *b = nullptr;
            if (SUCCEEDED(device->CreateVertexBuffer(in.Number(4096) % 65536, 0, 0x142, D3DPOOL_MANAGED, &b, nullptr)))
                buffers.push_back(b);
            break;
        }
        case 1: {
            IDirect3DIndexBuffer9 *b = nullptr;
            const D3DFORMAT f = in.Byte() & 1 ? D3DFMT_INDEX32 : D3DFMT_INDEX16;
            if (SUCCEEDED(device->CreateIndexBuffer(in.Number(4096) % 65536, 0, f, D3DPOOL_MANAGED, &b, nullptr)))
                indexBuffers.push_back(b);
            break;
        }
        case 2: { // write into a vertex buffer
            IDirect3DVertexBuffer9 *b = pick(buffers, in.Byte());
            void *p = nullptr;
            const UINT offset = in.Number(256), length = in.Number(256);
            if (b && SUCCEEDED(b->Lock(offset, length, &p, in.Byte() & 1 ? D3DLOCK_READONLY : 0))) {
                D3DVERTEXBUFFER_DESC desc{};
                b->GetDesc(&desc);
                const UINT n = length ? length : desc.Size - offset;
                for (UINT i = 0; i + 4 <= n; i += 4) {
                    const float f = in.Float();
                    std::memcpy(static_cast<uint8_t *>(p) + i, &f, 4);
                }
                b->Unlock();
            }
            break;
        }
        case 3: { // write indices
            IDirect3DIndexBuffer9 *b = pick(indexBuffers, in.Byte());
            void *p = nullptr;
            if (b && SUCCEEDED(b->Lock(0, 0, &p, 0))) {
                D3DINDEXBUFFER_DESC desc{};
                b->GetDesc(&desc);
                for (UINT i = 0; i < desc.Size; ++i) static_cast<uint8_t *>(p)[i] = in.Byte() % 8;
                b->Unlock();
            }
            break;
        }
        case 4:
            device->SetStreamSource(in.Number(17), pick(buffers, in.Byte()), in.Number(64), in.Number(64));
            break;
        case 5: device->SetIndices(pick(indexBuffers, in.Byte())); break;
        case 6: device->SetFVF(in.Byte() & 1 ? 0x142 : in.Word()); break;
        case 7: {
            D3DVERTEXELEMENT9 elements[9];
            const int n = in.Byte() % 9;
            for (int i = 0; i < n; ++i)
                elements[i] = D3DVERTEXELEMENT9{static_cast<WORD>(in.Number(3)), static_cast<WORD>(in.Number(8) * 4),
                                                static_cast<BYTE>(in.Number(18)), 0,
                                                static_cast<BYTE>(in.Number(13)), static_cast<BYTE>(in.Number(2))};
            elements[n] = D3DVERTEXELEMENT9 D3DDECL_END();
            IDirect3DVertexDeclaration9 *d = nullptr;
            if (SUCCEEDED(device->CreateVertexDeclaration(elements, &d))) declarations.push_back(d);
            break;
        }
        case 8: device->SetVertexDeclaration(pick(declarations, in.Byte())); break;
        case 9: {
            IDirect3DTexture9 *t = nullptr;
            static const D3DFORMAT kFormats[] = {D3DFMT_A8R8G8B8, D3DFMT_X8R8G8B8, D3DFMT_R5G6B5,
                                                 D3DFMT_A4R4G4B4, D3DFMT_D16};
            if (SUCCEEDED(device->CreateTexture(in.Number(64), in.Number(64), in.Byte(), 0,
                                                kFormats[in.Byte() % 5], D3DPOOL_MANAGED, &t, nullptr)))
                textures.push_back(t);
            break;
        }
        case 10: { // write texels
            IDirect3DTexture9 *t = pick(textures, in.Byte());
            D3DLOCKED_RECT locked{};
            const RECT rect{static_cast<LONG>(in.Number(8)), static_cast<LONG>(in.Number(8)),
                            static_cast<LONG>(in.Number(70)), static_cast<LONG>(in.Number(70))};
            if (t && SUCCEEDED(t->LockRect(0, &locked, in.Byte() & 1 ? &rect : nullptr, 0))) {
                static_cast<uint8_t *>(locked.pBits)[0] = in.Byte();
                t->UnlockRect(0);
            }
            break;
        }
        case 11: device->SetTexture(in.Number(17), pick(textures, in.Byte())); break;
        case 12: {
            static const D3DRENDERSTATETYPE kStates[] = {D3DRS_ZENABLE, D3DRS_FILLMODE, D3DRS_SHADEMODE,
                                                         D3DRS_ZWRITEENABLE, D3DRS_CULLMODE, D3DRS_ZFUNC,
                                                         D3DRS_ALPHABLENDENABLE, D3DRS_LIGHTING,
                                                         D3DRS_MULTISAMPLEANTIALIAS, D3DRS_SRCBLEND,
                                                         D3DRS_DESTBLEND, D3DRS_COLORWRITEENABLE};
            device->SetRenderState(kStates[in.Byte() % 12], in.Number(12));
            break;
        }
        case 13: {
            static const D3DTEXTURESTAGESTATETYPE kTypes[] = {D3DTSS_COLOROP, D3DTSS_COLORARG1,
                                                              D3DTSS_COLORARG2, D3DTSS_ALPHAOP,
                                                              D3DTSS_TEXCOORDINDEX,
                                                              D3DTSS_TEXTURETRANSFORMFLAGS};
            const D3DTEXTURESTAGESTATETYPE type = kTypes[in.Byte() % 6];
            DWORD value = in.Number(40);
            if (type == D3DTSS_TEXCOORDINDEX) value = (value % 4) | (in.Byte() % 4) << 16;
            if (type == D3DTSS_TEXTURETRANSFORMFLAGS && (in.Byte() & 1)) value |= D3DTTFF_PROJECTED;
            device->SetTextureStageState(in.Number(8), type, value);
            break;
        }
        case 14: {
            const D3DVIEWPORT9 v{in.Number(16), in.Number(16), in.Number(16), in.Number(16), in.Float(), in.Float()};
            device->SetViewport(&v);
            break;
        }
        case 15: {
            const RECT rects[2] = {{static_cast<LONG>(in.Word()), static_cast<LONG>(in.Word()),
                                    static_cast<LONG>(in.Number(20)), static_cast<LONG>(in.Number(20))},
                                   {-5, -5, 40, 40}};
            const DWORD count = in.Byte() % 3;
            device->Clear(count, count ? rects : nullptr, in.Byte() % 8, in.Word(), in.Float(), in.Byte());
            break;
        }
        case 16: in.Byte() & 1 ? device->BeginScene() : device->EndScene(); break;
        case 17:
            device->DrawPrimitive(static_cast<D3DPRIMITIVETYPE>(in.Number(7)), in.Number(64), in.Number(600));
            break;
        case 18:
            device->DrawIndexedPrimitive(static_cast<D3DPRIMITIVETYPE>(in.Number(7)),
                                         static_cast<INT>(in.Number(8)) - 4, 0, 0, in.Number(64), in.Number(600));
            break;
        case 19: {
            const D3DMATRIX m = {{{in.Float(), in.Float(), 0, 0}, {0, in.Float(), 0, 0}, {0, 0, in.Float(), 0},
                                  {in.Float(), in.Float(), in.Float(), 1}}};
            static const D3DTRANSFORMSTATETYPE kSlots[] = {D3DTS_WORLD, D3DTS_VIEW, D3DTS_PROJECTION,
                                                           D3DTS_TEXTURE0};
            device->SetTransform(kSlots[in.Byte() % 4], &m);
            if (in.Byte() % 8 == 0) device->Present(nullptr, nullptr, nullptr, nullptr);
            if (in.Byte() % 16 == 0) qrv::d3d9::InjectDeviceLoss(device);
            break;
        }
        }
    }
    device->EndScene();
    device->Present(nullptr, nullptr, nullptr, nullptr);
    for (auto *o : buffers) o->Release();
    for (auto *o : indexBuffers) o->Release();
    for (auto *o : textures) o->Release();
    for (auto *o : declarations) o->Release();
    return 0;
}
