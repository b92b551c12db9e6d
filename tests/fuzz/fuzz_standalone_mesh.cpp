// The StandaloneEngine's mesh from arbitrary depth and colour PackedDibs, then a
// frame of it, on the recording stand-in device: every read stays inside the
// blocks, the counts never promise more than the buffers hold, and every index
// names a vertex.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "platform/trace/trace.h"
#include "qrv.h"
#include "recording_device.h"
#include "standalone/mesh.h"
#include "standalone/standalone_engine.h"

namespace {

struct QuietSink : qrv::trace::Sink {
    void DebugOutput(const std::string &) override {}
    bool AskYesNo(const std::string &, const std::string &) override { return false; }
};

HGLOBAL Block(const uint8_t *data, size_t size) {
    HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, size);
    if (block && size) {
        std::memcpy(GlobalLock(block), data, size);
        GlobalUnlock(block);
    }
    return block;
}

template <typename Buffer> size_t BytesOf(Buffer *buffer) {
    if (!buffer) return 0;
    auto *recording = dynamic_cast<qrv::testing::RecordingBuffer<
        Buffer, std::conditional_t<std::is_same_v<Buffer, IDirect3DVertexBuffer9>, D3DVERTEXBUFFER_DESC,
                                   D3DINDEXBUFFER_DESC>> *>(buffer);
    return recording ? recording->bytes.size() : 0;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    using qrv::standalone::engine;
    static QuietSink sink;
    static qrv::testing::RecordingSession session;
    static QrvWindow window{nullptr,
                            [](void *, int32_t *w, int32_t *h) { *w = *h = 32; },
                            [](void *, const uint32_t *, int32_t, int32_t, int32_t) {}};
    static bool ready = [] {
        qrv::trace::SetSink(&sink);
        session.recorder->maxBufferBytes = 1u << 20; // the harness's memory, not a rule
        engine.d3d = Direct3DCreate9(D3D_SDK_VERSION);
        D3DPRESENT_PARAMETERS params{};
        params.Windowed = TRUE;
        engine.d3d->CreateDevice(0, D3DDEVTYPE_HAL, &window, D3DCREATE_HARDWARE_VERTEXPROCESSING,
                                 &params, &engine.device);
        engine.presentParams = params;
        return engine.device != nullptr;
    }();
    if (!ready || size < 2) return 0;

    // The first two bytes split the rest into the depth and the colour image.
    const size_t split = std::min<size_t>(size - 2, size_t{data[0]} << 8 | data[1]);
    HGLOBAL depth = Block(data + 2, split);
    HGLOBAL colour = split + 2 < size ? Block(data + 2 + split, size - 2 - split) : nullptr;
    qrv::standalone::BuildMeshFromImages(depth, colour);
    GlobalFree(depth);
    if (colour) GlobalFree(colour);

    // With both buffers the counts fit them and every index names a vertex; without
    // them (no depth image keeps the old counts) the frame must not draw.
    const uint64_t vertices = engine.vertexCount, triangles = engine.triangleCount;
    const bool mesh = engine.positionBuffer && engine.indexBuffer;
    if (mesh && triangles != 0) {
        if (vertices * 12 > BytesOf(engine.positionBuffer)) __builtin_trap();
        D3DINDEXBUFFER_DESC desc{};
        engine.indexBuffer->GetDesc(&desc);
        const size_t width = desc.Format == D3DFMT_INDEX32 ? 4 : 2;
        if (triangles * 3 * width > BytesOf(engine.indexBuffer)) __builtin_trap();
        void *p = nullptr;
        engine.indexBuffer->Lock(0, 0, &p, D3DLOCK_READONLY);
        for (uint64_t i = 0; i < triangles * 3; ++i) {
            const uint64_t index = width == 4 ? static_cast<const uint32_t *>(p)[i]
                                              : static_cast<const uint16_t *>(p)[i];
            if (index >= vertices) __builtin_trap();
        }
        engine.indexBuffer->Unlock();
    }
    session.recorder->calls.clear();
    qrv::standalone::RenderDXGraphics();
    if (!mesh && session.recorder->Count("DrawIndexedPrimitive") != 0) __builtin_trap();
    session.recorder->calls.clear();
    return 0;
}
