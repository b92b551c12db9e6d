// Arbitrary bytes as a q3d model file, read on both roads against the recording
// stand-in device: whatever the file says, the buffers match the counts, every
// index names a vertex of the mesh, nothing stays locked, and the strips fill
// their buffer exactly.
#include <stdlib.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "qrv.h"
#include "model/standalone_model.h"
#include "platform/trace/trace.h"
#include "recording_device.h"
#include "standalone/standalone_engine.h"
#include "view/relief_view.h"

namespace {

using qrv::testing::RecordingIndexBuffer;
using qrv::testing::RecordingVertexBuffer;

// Reports go nowhere: the fuzzer makes thousands of them.
struct QuietSink : qrv::trace::Sink {
    void DebugOutput(const std::string &) override {}
    bool AskYesNo(const std::string &, const std::string &) override { return false; }
};

struct Harness {
    qrv::testing::RecordingSession session;
    QuietSink sink;
    QrvWindow window{nullptr,
                     [](void *, int32_t *w, int32_t *h) {
                         *w = 64;
                         *h = 64;
                     },
                     [](void *, const uint32_t *, int32_t, int32_t, int32_t) {}};
    qrv::ReliefView *view = nullptr;
    std::string path;

    Harness() {
        // The harness's memory, not a rule of the reader: larger buffers are
        // refused as a device short of memory refuses them.
        session.recorder->maxBufferBytes = 1u << 20;
        qrv::trace::SetSink(&sink);
        char folder[] = "/tmp/qrv-fuzz-q3d-XXXXXX";
        if (!mkdtemp(folder)) std::abort();
        path = std::string(folder) + "/model.q3d";

        view = new qrv::ReliefView(&window);
        IDirect3D9 *d3d = Direct3DCreate9(D3D_SDK_VERSION);
        D3DPRESENT_PARAMETERS params{};
        params.Windowed = TRUE;
        IDirect3DDevice9 *device = nullptr;
        if (!d3d || FAILED(d3d->CreateDevice(D3DADAPTER_DEFAULT, D3DDEVTYPE_HAL, &window,
                                             D3DCREATE_SOFTWARE_VERTEXPROCESSING, &params,
                                             &device)))
            std::abort();
        qrv::standalone::engine.d3d = d3d;
        qrv::standalone::engine.device = device;
    }
};

uint64_t SizeOf(IDirect3DVertexBuffer9 *buffer) {
    return buffer ? dynamic_cast<RecordingVertexBuffer *>(buffer)->bytes.size() : 0;
}

void CheckStandaloneEngine() {
    const qrv::standalone::StandaloneEngine &e = qrv::standalone::engine;
    for (IDirect3DVertexBuffer9 *b : {e.positionBuffer, e.colorBuffer, e.texCoordBuffer})
        if (b && dynamic_cast<RecordingVertexBuffer *>(b)->locked) __builtin_trap();
    if (e.indexBuffer && dynamic_cast<RecordingIndexBuffer *>(e.indexBuffer)->locked)
        __builtin_trap();
    if (!e.positionBuffer || !e.indexBuffer || e.triangleCount == 0) return;

    // A model that may be drawn: its buffers hold what the counts promise.
    const uint64_t vertices = e.vertexCount;
    if (SizeOf(e.positionBuffer) != vertices * 12 || SizeOf(e.colorBuffer) != vertices * 4)
        __builtin_trap();
    if (e.texCoordBuffer && SizeOf(e.texCoordBuffer) != vertices * 8) __builtin_trap();
    D3DINDEXBUFFER_DESC desc{};
    e.indexBuffer->GetDesc(&desc);
    const uint64_t indexSize = desc.Format == D3DFMT_INDEX32 ? 4 : 2;
    if (vertices > 0x10000 && indexSize != 4) __builtin_trap();
    const auto &bytes = dynamic_cast<RecordingIndexBuffer *>(e.indexBuffer)->bytes;
    if (bytes.size() < uint64_t{e.triangleCount} * 3 * indexSize) __builtin_trap();
    for (uint64_t i = 0; i < uint64_t{e.triangleCount} * 3; ++i) {
        uint32_t index = 0;
        std::memcpy(&index, bytes.data() + i * indexSize, indexSize);
        if (index >= vertices) __builtin_trap();
    }
}

void CheckView(const qrv::ReliefView &view) {
    if (!view.stripBuffer) {
        if (view.vertsPerStrip != 0 || view.stripCount != 0) __builtin_trap();
        return;
    }
    const auto *buffer = dynamic_cast<RecordingVertexBuffer *>(view.stripBuffer);
    if (buffer->locked || view.vertsPerStrip <= 0 || view.stripCount <= 0 ||
        buffer->bytes.size() != uint64_t{static_cast<uint32_t>(view.vertsPerStrip)} *
                                    static_cast<uint32_t>(view.stripCount) * 24)
        __builtin_trap();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    static Harness harness;
    std::FILE *file = std::fopen(harness.path.c_str(), "wb");
    if (!file) std::abort();
    if (size > 0 && std::fwrite(data, 1, size, file) != size) std::abort();
    std::fclose(file);

    qrv::standalone::ReadQ3DFile(harness.path.c_str());
    CheckStandaloneEngine();
    harness.view->ReadModel(harness.path.c_str());
    CheckView(*harness.view);
    harness.session.recorder->calls.clear();
    return 0;
}
