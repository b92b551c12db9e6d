// A recording stand-in for the Direct3D-shaped layer: a Direct3D object, its
// device and the resources the device makes, all kept in memory. Every call is
// written to a shared log as text ("DrawPrimitive(5, 0, 4)"), so a test can show
// the call sequence an engine issues; results can be scripted per call name to
// inject faults; live objects are counted so a test can show nothing is left.
//
// Use: `RecordingSession session;` installs the stand-in as what Direct3DCreate9
// returns (through SetDirect3DFactory) until the session ends.
#pragma once

#include <cstdint>
#include <cstring>
#include <deque>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "platform/d3d9/d3d9.h"
#include "platform/d3d9/d3d9_testing.h"

namespace qrv::testing {

// What every recording object shares.
struct Recorder {
    std::vector<std::string> calls;
    // Scripted results: the front entry for a call name ("Present",
    // "VertexBuffer::Lock", "CreateDevice") is used once, then dropped. Calls
    // without a scripted result succeed.
    std::map<std::string, std::deque<HRESULT>> results;
    int liveObjects = 0;
    int nextId = 1;
    // Direct3DCreate9 gives null while this is false.
    bool direct3dAvailable = true;
    // Texture size limit reported in the caps.
    DWORD maxTextureSize = 8192;
    // Buffers longer than this are refused with E_OUTOFMEMORY (0: no limit).
    UINT maxBufferBytes = 0;
    // Buffer locks hand out memory 4 bytes off 16-byte alignment (a copy that
    // Unlock writes back), for code that must not rely on aligned memory.
    bool misalignLocks = false;

    HRESULT Next(const std::string &name) {
        auto it = results.find(name);
        if (it == results.end() || it->second.empty()) return S_OK;
        const HRESULT hr = it->second.front();
        it->second.pop_front();
        return hr;
    }
    void Script(const std::string &name, std::initializer_list<HRESULT> codes) {
        Script(name, std::vector<HRESULT>(codes));
    }
    void Script(const std::string &name, const std::vector<HRESULT> &codes) {
        for (HRESULT hr : codes) results[name].push_back(hr);
    }
    void Log(const std::string &call) { calls.push_back(call); }
    // The logged calls whose text starts with one of the prefixes, in order.
    std::vector<std::string> Only(std::initializer_list<const char *> prefixes) const {
        std::vector<std::string> out;
        for (const auto &c : calls)
            for (const char *p : prefixes)
                if (c.rfind(p, 0) == 0) {
                    out.push_back(c);
                    break;
                }
        return out;
    }
    size_t Count(const char *prefix) const { return Only({prefix}).size(); }
};

namespace detail {

inline void Args(std::ostringstream &) {}
template <typename T, typename... Rest>
void Args(std::ostringstream &out, const T &first, const Rest &...rest) {
    if constexpr (std::is_pointer_v<T>)
        out << (first ? "ptr" : "null");
    else if constexpr (std::is_enum_v<T>)
        out << static_cast<int64_t>(first);
    else if constexpr (std::is_same_v<T, bool>)
        out << (first ? 1 : 0);
    else
        out << first;
    if constexpr (sizeof...(rest) > 0) out << ", ";
    Args(out, rest...);
}

template <typename... A> std::string Call(const char *name, const A &...args) {
    std::ostringstream out;
    out << name << "(";
    Args(out, args...);
    out << ")";
    return out.str();
}

// Reference counting and the live-object count.
template <typename Interface> class Counted : public Interface {
public:
    explicit Counted(std::shared_ptr<Recorder> recorder, const char *kind)
        : recorder_(std::move(recorder)) {
        ++recorder_->liveObjects;
        name_ = std::string(kind) + std::to_string(recorder_->nextId++);
    }
    ULONG AddRef() override { return ++refs_; }
    ULONG Release() override {
        const ULONG left = --refs_;
        if (left == 0) delete this;
        return left;
    }
    ULONG refs() const { return refs_; }
    // "vb3", "tex2", ...: how the log names this object.
    const std::string &name() const { return name_; }

protected:
    ~Counted() override { --recorder_->liveObjects; }
    std::shared_ptr<Recorder> recorder_;

private:
    ULONG refs_ = 1;
    std::string name_;
};

template <typename T> std::string NameOf(T *object) {
    if (!object) return "null";
    if (auto *named = dynamic_cast<Counted<T> *>(object)) return named->name();
    return "foreign";
}

} // namespace detail

class RecordingDevice;

template <typename Interface> class RecordingResource : public detail::Counted<Interface> {
public:
    RecordingResource(std::shared_ptr<Recorder> recorder, const char *kind,
                      IDirect3DDevice9 *device)
        : detail::Counted<Interface>(std::move(recorder), kind), device_(device) {}
    HRESULT GetDevice(IDirect3DDevice9 **device) override {
        if (!device) return D3DERR_INVALIDCALL;
        device_->AddRef();
        *device = device_;
        return S_OK;
    }

protected:
    IDirect3DDevice9 *device_; // not owned: a resource does not keep its device alive here
};

// A buffer of bytes in memory, shared by vertex and index buffers.
template <typename Interface, typename Desc> class RecordingBuffer
    : public RecordingResource<Interface> {
public:
    RecordingBuffer(std::shared_ptr<Recorder> recorder, const char *kind, IDirect3DDevice9 *device,
                    UINT length, Desc desc)
        : RecordingResource<Interface>(std::move(recorder), kind, device), bytes(length),
          desc_(desc) {}
    HRESULT Lock(UINT offset, UINT size, void **data, DWORD flags) override {
        const std::string kindName = std::is_same_v<Interface, IDirect3DVertexBuffer9>
                                         ? "VertexBuffer::Lock"
                                         : "IndexBuffer::Lock";
        this->recorder_->Log(detail::Call(kindName.c_str(), this->name(), offset, size, flags));
        const HRESULT hr = this->recorder_->Next(kindName);
        if (FAILED(hr)) return hr;
        if (!data || locked || offset > bytes.size() || (size != 0 && size > bytes.size() - offset))
            return D3DERR_INVALIDCALL;
        locked = true;
        lockFlags.push_back(flags);
        if (this->recorder_->misalignLocks) {
            // 16-byte aligned storage, handed out from its fifth byte.
            shadow_.assign(bytes.size() + 32, 0);
            uint8_t *base =
                shadow_.data() + (16 - reinterpret_cast<uintptr_t>(shadow_.data()) % 16);
            std::memcpy(base + 4, bytes.data(), bytes.size());
            shadowStart_ = base + 4;
            *data = shadowStart_ + offset;
        } else {
            *data = bytes.data() + offset;
        }
        return S_OK;
    }
    HRESULT Unlock() override {
        const std::string kindName = std::is_same_v<Interface, IDirect3DVertexBuffer9>
                                         ? "VertexBuffer::Unlock"
                                         : "IndexBuffer::Unlock";
        this->recorder_->Log(detail::Call(kindName.c_str(), this->name()));
        if (!locked) return D3DERR_INVALIDCALL;
        locked = false;
        if (shadowStart_) {
            std::memcpy(bytes.data(), shadowStart_, bytes.size());
            shadowStart_ = nullptr;
        }
        return S_OK;
    }
    HRESULT GetDesc(Desc *desc) override {
        if (!desc) return D3DERR_INVALIDCALL;
        *desc = desc_;
        return S_OK;
    }

    std::vector<uint8_t> bytes;
    bool locked = false;
    std::vector<DWORD> lockFlags;

private:
    Desc desc_;
    std::vector<uint8_t> shadow_;
    uint8_t *shadowStart_ = nullptr;
};

using RecordingVertexBuffer = RecordingBuffer<IDirect3DVertexBuffer9, D3DVERTEXBUFFER_DESC>;
using RecordingIndexBuffer = RecordingBuffer<IDirect3DIndexBuffer9, D3DINDEXBUFFER_DESC>;

class RecordingTexture : public RecordingResource<IDirect3DTexture9> {
public:
    RecordingTexture(std::shared_ptr<Recorder> recorder, IDirect3DDevice9 *device, UINT w, UINT h,
                     D3DFORMAT format, D3DPOOL pool)
        : RecordingResource(std::move(recorder), "tex", device), width(w), height(h),
          format(format), pool(pool), pixels(size_t{w} * h * 4) {}
    DWORD GetLevelCount() override { return 1; }
    HRESULT GetLevelDesc(UINT level, D3DSURFACE_DESC *desc) override {
        if (level != 0 || !desc) return D3DERR_INVALIDCALL;
        *desc = D3DSURFACE_DESC{format, D3DRTYPE_SURFACE, 0, pool, D3DMULTISAMPLE_NONE, 0, width,
                                height};
        return S_OK;
    }
    HRESULT LockRect(UINT level, D3DLOCKED_RECT *locked, const RECT *rect, DWORD) override {
        recorder_->Log(detail::Call("Texture::LockRect", name(), level));
        if (level != 0 || !locked || rect || isLocked) return D3DERR_INVALIDCALL;
        isLocked = true;
        locked->Pitch = static_cast<INT>(width * 4);
        locked->pBits = pixels.data();
        return S_OK;
    }
    HRESULT UnlockRect(UINT level) override {
        recorder_->Log(detail::Call("Texture::UnlockRect", name(), level));
        if (level != 0 || !isLocked) return D3DERR_INVALIDCALL;
        isLocked = false;
        return S_OK;
    }

    UINT width, height;
    D3DFORMAT format;
    D3DPOOL pool;
    std::vector<uint8_t> pixels; // B, G, R, A per texel, top row first
    bool isLocked = false;
};

class RecordingVertexDeclaration : public detail::Counted<IDirect3DVertexDeclaration9> {
public:
    RecordingVertexDeclaration(std::shared_ptr<Recorder> recorder, IDirect3DDevice9 *device,
                               const D3DVERTEXELEMENT9 *elements)
        : Counted(std::move(recorder), "decl"), device_(device) {
        for (;; ++elements) {
            this->elements.push_back(*elements);
            if (elements->Stream == 0xFF) break;
        }
    }
    HRESULT GetDevice(IDirect3DDevice9 **device) override {
        if (!device) return D3DERR_INVALIDCALL;
        device_->AddRef();
        *device = device_;
        return S_OK;
    }
    HRESULT GetDeclaration(D3DVERTEXELEMENT9 *out, UINT *count) override {
        if (!count) return D3DERR_INVALIDCALL;
        if (out) std::memcpy(out, elements.data(), elements.size() * sizeof *out);
        *count = static_cast<UINT>(elements.size());
        return S_OK;
    }
    std::vector<D3DVERTEXELEMENT9> elements;

private:
    IDirect3DDevice9 *device_;
};

template <typename Interface> class RecordingShader : public detail::Counted<Interface> {
public:
    RecordingShader(std::shared_ptr<Recorder> recorder, const char *kind, IDirect3DDevice9 *device,
                    const DWORD *function)
        : detail::Counted<Interface>(std::move(recorder), kind), device_(device) {
        // Tokens up to and including the end token 0x0000FFFF.
        for (;; ++function) {
            tokens.push_back(*function);
            if (*function == 0x0000FFFFu) break;
        }
    }
    HRESULT GetDevice(IDirect3DDevice9 **device) override {
        if (!device) return D3DERR_INVALIDCALL;
        device_->AddRef();
        *device = device_;
        return S_OK;
    }
    std::vector<DWORD> tokens;

private:
    IDirect3DDevice9 *device_;
};

class RecordingDevice : public detail::Counted<IDirect3DDevice9> {
public:
    RecordingDevice(std::shared_ptr<Recorder> recorder, HWND window,
                    const D3DPRESENT_PARAMETERS &params)
        : Counted(std::move(recorder), "device"), window(window), params(params) {}

    HRESULT TestCooperativeLevel() override {
        recorder_->Log("TestCooperativeLevel()");
        return recorder_->Next("TestCooperativeLevel");
    }
    HRESULT GetDeviceCaps(D3DCAPS9 *caps) override {
        if (!caps) return D3DERR_INVALIDCALL;
        *caps = D3DCAPS9{};
        caps->DeviceType = D3DDEVTYPE_HAL;
        caps->MaxTextureWidth = caps->MaxTextureHeight = recorder_->maxTextureSize;
        caps->MaxPrimitiveCount = 0xFFFFFF;
        caps->MaxVertexIndex = 0xFFFFFF;
        caps->MaxStreams = 16;
        caps->MaxStreamStride = 255;
        caps->MaxSimultaneousTextures = 8;
        caps->MaxTextureBlendStages = 8;
        caps->VertexShaderVersion = D3DVS_VERSION(2, 0);
        caps->PixelShaderVersion = D3DPS_VERSION(2, 0);
        return S_OK;
    }
    HRESULT Reset(D3DPRESENT_PARAMETERS *p) override {
        recorder_->Log("Reset()");
        const HRESULT hr = recorder_->Next("Reset");
        if (SUCCEEDED(hr) && p) {
            params = *p;
            renderStates.clear(); // a reset drops the render states
        }
        return hr;
    }
    HRESULT Present(const RECT *, const RECT *, HWND, const void *) override {
        recorder_->Log("Present()");
        const HRESULT hr = recorder_->Next("Present");
        if (SUCCEEDED(hr)) ++framesPresented;
        return hr;
    }

    HRESULT CreateTexture(UINT w, UINT h, UINT levels, DWORD usage, D3DFORMAT format, D3DPOOL pool,
                          IDirect3DTexture9 **texture, HANDLE *) override {
        recorder_->Log(detail::Call("CreateTexture", w, h, levels, usage, format, pool));
        const HRESULT hr = recorder_->Next("CreateTexture");
        if (FAILED(hr)) return hr;
        if (!texture || w == 0 || h == 0) return D3DERR_INVALIDCALL;
        *texture = new RecordingTexture(recorder_, this, w, h, format, pool);
        return S_OK;
    }
    HRESULT CreateVertexBuffer(UINT length, DWORD usage, DWORD fvf, D3DPOOL pool,
                               IDirect3DVertexBuffer9 **buffer, HANDLE *shared) override {
        recorder_->Log(detail::Call("CreateVertexBuffer", length, usage, fvf, pool, shared));
        const HRESULT hr = recorder_->Next("CreateVertexBuffer");
        if (FAILED(hr)) return hr;
        if (!buffer || length == 0) return D3DERR_INVALIDCALL;
        if (recorder_->maxBufferBytes && length > recorder_->maxBufferBytes) return E_OUTOFMEMORY;
        *buffer =
            new RecordingVertexBuffer(recorder_, "vb", this, length,
                                      D3DVERTEXBUFFER_DESC{D3DFMT_VERTEXDATA, D3DRTYPE_VERTEXBUFFER,
                                                           usage, pool, length, fvf});
        return S_OK;
    }
    HRESULT CreateIndexBuffer(UINT length, DWORD usage, D3DFORMAT format, D3DPOOL pool,
                              IDirect3DIndexBuffer9 **buffer, HANDLE *shared) override {
        recorder_->Log(detail::Call("CreateIndexBuffer", length, usage, format, pool, shared));
        const HRESULT hr = recorder_->Next("CreateIndexBuffer");
        if (FAILED(hr)) return hr;
        if (!buffer || length == 0) return D3DERR_INVALIDCALL;
        if (recorder_->maxBufferBytes && length > recorder_->maxBufferBytes) return E_OUTOFMEMORY;
        *buffer = new RecordingIndexBuffer(
            recorder_, "ib", this, length,
            D3DINDEXBUFFER_DESC{format, D3DRTYPE_INDEXBUFFER, usage, pool, length});
        return S_OK;
    }
    HRESULT CreateVertexDeclaration(const D3DVERTEXELEMENT9 *elements,
                                    IDirect3DVertexDeclaration9 **declaration) override {
        recorder_->Log("CreateVertexDeclaration()");
        const HRESULT hr = recorder_->Next("CreateVertexDeclaration");
        if (FAILED(hr)) return hr;
        if (!elements || !declaration) return D3DERR_INVALIDCALL;
        *declaration = new RecordingVertexDeclaration(recorder_, this, elements);
        return S_OK;
    }
    HRESULT CreateVertexShader(const DWORD *function, IDirect3DVertexShader9 **shader) override {
        recorder_->Log("CreateVertexShader()");
        const HRESULT hr = recorder_->Next("CreateVertexShader");
        if (FAILED(hr)) return hr;
        if (!function || !shader) return D3DERR_INVALIDCALL;
        *shader = new RecordingShader<IDirect3DVertexShader9>(recorder_, "vs", this, function);
        return S_OK;
    }
    HRESULT CreatePixelShader(const DWORD *function, IDirect3DPixelShader9 **shader) override {
        recorder_->Log("CreatePixelShader()");
        const HRESULT hr = recorder_->Next("CreatePixelShader");
        if (FAILED(hr)) return hr;
        if (!function || !shader) return D3DERR_INVALIDCALL;
        *shader = new RecordingShader<IDirect3DPixelShader9>(recorder_, "ps", this, function);
        return S_OK;
    }

    HRESULT SetViewport(const D3DVIEWPORT9 *v) override {
        if (!v) return D3DERR_INVALIDCALL;
        recorder_->Log(
            detail::Call("SetViewport", v->X, v->Y, v->Width, v->Height, v->MinZ, v->MaxZ));
        const HRESULT hr = recorder_->Next("SetViewport");
        if (SUCCEEDED(hr)) viewport = *v;
        return hr;
    }
    HRESULT GetViewport(D3DVIEWPORT9 *v) override {
        if (!v) return D3DERR_INVALIDCALL;
        *v = viewport;
        return S_OK;
    }
    HRESULT SetRenderState(D3DRENDERSTATETYPE state, DWORD value) override {
        recorder_->Log(detail::Call("SetRenderState", state, value));
        renderStates[state] = value;
        return recorder_->Next("SetRenderState");
    }
    HRESULT GetRenderState(D3DRENDERSTATETYPE state, DWORD *value) override {
        if (!value) return D3DERR_INVALIDCALL;
        auto it = renderStates.find(state);
        *value = it == renderStates.end() ? 0 : it->second;
        return S_OK;
    }
    HRESULT SetTransform(D3DTRANSFORMSTATETYPE state, const D3DMATRIX *matrix) override {
        recorder_->Log(detail::Call("SetTransform", state));
        if (!matrix) return D3DERR_INVALIDCALL;
        transforms[state] = *matrix;
        return recorder_->Next("SetTransform");
    }
    HRESULT GetTransform(D3DTRANSFORMSTATETYPE state, D3DMATRIX *matrix) override {
        if (!matrix) return D3DERR_INVALIDCALL;
        auto it = transforms.find(state);
        if (it == transforms.end()) return D3DERR_INVALIDCALL;
        *matrix = it->second;
        return S_OK;
    }
    HRESULT SetTextureStageState(DWORD stage, D3DTEXTURESTAGESTATETYPE type, DWORD value) override {
        recorder_->Log(detail::Call("SetTextureStageState", stage, type, value));
        return recorder_->Next("SetTextureStageState");
    }
    HRESULT SetTexture(DWORD stage, IDirect3DBaseTexture9 *texture) override {
        recorder_->Log(detail::Call(
            "SetTexture", stage,
            detail::NameOf<IDirect3DTexture9>(dynamic_cast<IDirect3DTexture9 *>(texture))));
        return recorder_->Next("SetTexture");
    }
    HRESULT SetStreamSource(UINT stream, IDirect3DVertexBuffer9 *buffer, UINT offset,
                            UINT stride) override {
        recorder_->Log(
            detail::Call("SetStreamSource", stream, detail::NameOf(buffer), offset, stride));
        return recorder_->Next("SetStreamSource");
    }
    HRESULT SetIndices(IDirect3DIndexBuffer9 *indices) override {
        recorder_->Log(detail::Call("SetIndices", detail::NameOf(indices)));
        return recorder_->Next("SetIndices");
    }
    HRESULT SetFVF(DWORD fvf) override {
        std::ostringstream out;
        out << "SetFVF(0x" << std::hex << fvf << ")";
        recorder_->Log(out.str());
        return recorder_->Next("SetFVF");
    }
    HRESULT SetVertexDeclaration(IDirect3DVertexDeclaration9 *declaration) override {
        recorder_->Log(detail::Call("SetVertexDeclaration", detail::NameOf(declaration)));
        return recorder_->Next("SetVertexDeclaration");
    }
    HRESULT SetVertexShader(IDirect3DVertexShader9 *shader) override {
        recorder_->Log(detail::Call("SetVertexShader", detail::NameOf(shader)));
        return recorder_->Next("SetVertexShader");
    }
    HRESULT SetPixelShader(IDirect3DPixelShader9 *shader) override {
        recorder_->Log(detail::Call("SetPixelShader", detail::NameOf(shader)));
        return recorder_->Next("SetPixelShader");
    }
    HRESULT SetVertexShaderConstantF(UINT start, const float *data, UINT count) override {
        recorder_->Log(detail::Call("SetVertexShaderConstantF", start, count));
        if (!data) return D3DERR_INVALIDCALL;
        for (UINT i = 0; i < count * 4; ++i) vertexConstants[start * 4 + i] = data[i];
        return recorder_->Next("SetVertexShaderConstantF");
    }
    HRESULT SetPixelShaderConstantF(UINT start, const float *data, UINT count) override {
        recorder_->Log(detail::Call("SetPixelShaderConstantF", start, count));
        if (!data) return D3DERR_INVALIDCALL;
        return recorder_->Next("SetPixelShaderConstantF");
    }

    HRESULT Clear(DWORD count, const void *rects, DWORD flags, D3DCOLOR color, float z,
                  DWORD stencil) override {
        std::ostringstream out;
        out << "Clear(" << count << ", " << (rects ? "ptr" : "null") << ", " << flags << ", 0x"
            << std::hex << color << std::dec << ", " << z << ", " << stencil << ")";
        recorder_->Log(out.str());
        return recorder_->Next("Clear");
    }
    HRESULT BeginScene() override {
        recorder_->Log("BeginScene()");
        return recorder_->Next("BeginScene");
    }
    HRESULT EndScene() override {
        recorder_->Log("EndScene()");
        return recorder_->Next("EndScene");
    }
    HRESULT DrawPrimitive(D3DPRIMITIVETYPE type, UINT start, UINT count) override {
        recorder_->Log(detail::Call("DrawPrimitive", type, start, count));
        return recorder_->Next("DrawPrimitive");
    }
    HRESULT DrawIndexedPrimitive(D3DPRIMITIVETYPE type, INT base, UINT minIndex, UINT vertices,
                                 UINT startIndex, UINT count) override {
        recorder_->Log(detail::Call("DrawIndexedPrimitive", type, base, minIndex, vertices,
                                    startIndex, count));
        return recorder_->Next("DrawIndexedPrimitive");
    }

    HWND window;
    D3DPRESENT_PARAMETERS params;
    D3DVIEWPORT9 viewport{};
    std::map<D3DRENDERSTATETYPE, DWORD> renderStates;
    std::map<D3DTRANSFORMSTATETYPE, D3DMATRIX> transforms;
    std::map<UINT, float> vertexConstants;
    int framesPresented = 0;
};

class RecordingDirect3D : public detail::Counted<IDirect3D9> {
public:
    explicit RecordingDirect3D(std::shared_ptr<Recorder> recorder)
        : Counted(std::move(recorder), "d3d") {}

    UINT GetAdapterCount() override { return 1; }
    HRESULT GetDeviceCaps(UINT, D3DDEVTYPE type, D3DCAPS9 *caps) override {
        recorder_->Log(detail::Call("D3D::GetDeviceCaps", type));
        const HRESULT hr = recorder_->Next("D3D::GetDeviceCaps");
        if (FAILED(hr)) return hr;
        if (!caps) return D3DERR_INVALIDCALL;
        *caps = D3DCAPS9{};
        caps->DeviceType = type;
        caps->MaxTextureWidth = caps->MaxTextureHeight = recorder_->maxTextureSize;
        caps->MaxPrimitiveCount = 0xFFFFFF;
        caps->MaxVertexIndex = 0xFFFFFF;
        caps->MaxStreams = 16;
        caps->MaxStreamStride = 255;
        caps->VertexShaderVersion = D3DVS_VERSION(2, 0);
        caps->PixelShaderVersion = D3DPS_VERSION(2, 0);
        return S_OK;
    }
    HRESULT GetAdapterDisplayMode(UINT, D3DDISPLAYMODE *mode) override {
        recorder_->Log("D3D::GetAdapterDisplayMode()");
        const HRESULT hr = recorder_->Next("D3D::GetAdapterDisplayMode");
        if (FAILED(hr)) return hr;
        if (!mode) return D3DERR_INVALIDCALL;
        *mode = D3DDISPLAYMODE{1024, 768, 60, D3DFMT_X8R8G8B8};
        return S_OK;
    }
    HRESULT CheckDeviceType(UINT, D3DDEVTYPE type, D3DFORMAT display, D3DFORMAT back,
                            BOOL windowed) override {
        recorder_->Log(detail::Call("D3D::CheckDeviceType", type, display, back, windowed));
        return recorder_->Next("D3D::CheckDeviceType");
    }
    HRESULT CheckDeviceFormat(UINT, D3DDEVTYPE type, D3DFORMAT adapterFormat, DWORD usage,
                              D3DRESOURCETYPE resource, D3DFORMAT format) override {
        recorder_->Log(
            detail::Call("D3D::CheckDeviceFormat", type, adapterFormat, usage, resource, format));
        return recorder_->Next("D3D::CheckDeviceFormat");
    }
    HRESULT CheckDepthStencilMatch(UINT, D3DDEVTYPE type, D3DFORMAT adapterFormat, D3DFORMAT target,
                                   D3DFORMAT depth) override {
        recorder_->Log(
            detail::Call("D3D::CheckDepthStencilMatch", type, adapterFormat, target, depth));
        return recorder_->Next("D3D::CheckDepthStencilMatch");
    }
    HRESULT CheckDeviceMultiSampleType(UINT, D3DDEVTYPE type, D3DFORMAT format, BOOL windowed,
                                       D3DMULTISAMPLE_TYPE samples, DWORD *quality) override {
        recorder_->Log(
            detail::Call("D3D::CheckDeviceMultiSampleType", type, format, windowed, samples));
        if (quality) *quality = 1;
        return recorder_->Next("D3D::CheckDeviceMultiSampleType");
    }
    UINT GetAdapterModeCount(UINT, D3DFORMAT format) override {
        recorder_->Log(detail::Call("D3D::GetAdapterModeCount", format));
        return static_cast<UINT>(modes.size());
    }
    HRESULT EnumAdapterModes(UINT, D3DFORMAT format, UINT mode, D3DDISPLAYMODE *out) override {
        recorder_->Log(detail::Call("D3D::EnumAdapterModes", format, mode));
        if (!out || mode >= modes.size()) return D3DERR_INVALIDCALL;
        *out = modes[mode];
        out->Format = format;
        return S_OK;
    }
    HRESULT CreateDevice(UINT adapter, D3DDEVTYPE type, HWND window, DWORD flags,
                         D3DPRESENT_PARAMETERS *params, IDirect3DDevice9 **device) override {
        recorder_->Log(detail::Call("CreateDevice", adapter, type, flags));
        const HRESULT hr = recorder_->Next("CreateDevice");
        if (FAILED(hr)) return hr;
        if (!params || !device) return D3DERR_INVALIDCALL;
        // A windowed set with zero sizes takes the window's client size, as
        // Direct3D writes it back.
        if (params->Windowed && window && window->clientSize &&
            (params->BackBufferWidth == 0 || params->BackBufferHeight == 0)) {
            int32_t w = 0, h = 0;
            window->clientSize(window->context, &w, &h);
            if (params->BackBufferWidth == 0) params->BackBufferWidth = static_cast<UINT>(w);
            if (params->BackBufferHeight == 0) params->BackBufferHeight = static_cast<UINT>(h);
        }
        auto *made = new RecordingDevice(recorder_, window, *params);
        devices.push_back(made);
        *device = made;
        return S_OK;
    }

    std::vector<D3DDISPLAYMODE> modes{{800, 600, 60, D3DFMT_X8R8G8B8},
                                      {1024, 768, 60, D3DFMT_X8R8G8B8}};
    std::vector<RecordingDevice *> devices; // every device made, not owned
};

// Installs the recording stand-in as the Direct3D object the engine creates, for
// the lifetime of the session.
class RecordingSession {
public:
    RecordingSession() : recorder(std::make_shared<Recorder>()) {
        current() = this;
        qrv::d3d9::SetDirect3DFactory(&Make);
    }
    ~RecordingSession() {
        qrv::d3d9::SetDirect3DFactory(nullptr);
        current() = nullptr;
    }
    RecordingSession(const RecordingSession &) = delete;
    RecordingSession &operator=(const RecordingSession &) = delete;

    // The Direct3D objects made during the session, in order (not owned).
    std::vector<RecordingDirect3D *> direct3ds;
    std::shared_ptr<Recorder> recorder;

    // The last device made, or null.
    RecordingDevice *lastDevice() const {
        for (auto it = direct3ds.rbegin(); it != direct3ds.rend(); ++it)
            if (!(*it)->devices.empty()) return (*it)->devices.back();
        return nullptr;
    }

private:
    static RecordingSession *&current() {
        static RecordingSession *session = nullptr;
        return session;
    }
    static IDirect3D9 *Make(UINT sdkVersion) {
        RecordingSession *s = current();
        if (!s || sdkVersion != D3D_SDK_VERSION || !s->recorder->direct3dAvailable) return nullptr;
        s->recorder->Log(detail::Call("Direct3DCreate9", sdkVersion));
        auto *d3d = new RecordingDirect3D(s->recorder);
        s->direct3ds.push_back(d3d);
        return d3d;
    }
};

} // namespace qrv::testing
