// The StandaloneEngine reader when the device refuses a buffer or a lock, on the
// recording stand-in: the failure is reported and returned, no buffer stays
// locked, and the counts promise nothing that was not written.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "model_fixture.h"
#include "recording_device.h"

namespace qrv::testing {
namespace {

class StandaloneFaultTest : public InFolderTest {
protected:
    void SetUp() override {
        InFolderTest::SetUp();
        standalone::engine = standalone::StandaloneEngine{};
        IDirect3D9 *d3d = Direct3DCreate9(D3D_SDK_VERSION);
        ASSERT_NE(d3d, nullptr);
        D3DPRESENT_PARAMETERS params{};
        params.Windowed = TRUE;
        params.SwapEffect = D3DSWAPEFFECT_DISCARD;
        IDirect3DDevice9 *device = nullptr;
        ASSERT_EQ(d3d->CreateDevice(D3DADAPTER_DEFAULT, D3DDEVTYPE_HAL, &window.window,
                                    D3DCREATE_SOFTWARE_VERTEXPROCESSING, &params, &device),
                  S_OK);
        standalone::engine.d3d = d3d;
        standalone::engine.device = device;
        grid = WriteText(dir, "grid.q3d",
                         "[Photo]\nWidth=3\nHeight=2\nData0000=1,2,3,\nData0001=4,5,6,\n");
        mesh = WriteText(dir, "mesh.q3d",
                         "[Vertex]\nCount=3\nData0000=0,1,0\nData0001=1,0,0\nData0002=0,0,1\n"
                         "[Index]\nCount=1\nData0000=0,1,2\n");
    }
    void TearDown() override {
        standalone::ReleaseDXGraphics();
        standalone::engine = standalone::StandaloneEngine{};
        EXPECT_EQ(session.recorder->liveObjects, 0) << "objects left alive";
        InFolderTest::TearDown();
    }

    // Every buffer the engine holds is unlocked.
    void ExpectNothingLocked() {
        const standalone::StandaloneEngine &e = standalone::engine;
        for (IDirect3DVertexBuffer9 *b : {e.positionBuffer, e.colorBuffer, e.texCoordBuffer}) {
            if (auto *r = dynamic_cast<RecordingVertexBuffer *>(b)) {
                EXPECT_FALSE(r->locked);
            }
        }
        if (auto *r = dynamic_cast<RecordingIndexBuffer *>(e.indexBuffer)) {
            EXPECT_FALSE(r->locked);
        }
        // Each lock the reader took is matched by an unlock.
        EXPECT_EQ(session.recorder->Count("VertexBuffer::Unlock") +
                      session.recorder->Count("IndexBuffer::Unlock"),
                  Successful("VertexBuffer::Lock") + Successful("IndexBuffer::Lock"));
    }
    size_t Successful(const char *lock) {
        return session.recorder->Count(lock) - failedLocks[lock];
    }

    RecordingSession session;
    FrameWindow window;
    Reports reports;
    std::string grid, mesh;
    std::map<std::string, size_t> failedLocks;
};

TEST_F(StandaloneFaultTest, MakesAndFillsTheBuffersInOrder) {
    session.recorder->calls.clear();
    ASSERT_EQ(_QRV3DReadQ3DFile(1, mesh.c_str()), S_OK);
    EXPECT_EQ(session.recorder->Only({"Create", "VertexBuffer::", "IndexBuffer::"}),
              (std::vector<std::string>{
                  "CreateVertexBuffer(36, 0, 0, 1, null)", // positions, managed pool
                  "CreateVertexBuffer(12, 0, 0, 1, null)", // colours
                  "CreateVertexBuffer(24, 0, 0, 1, null)", // texture coordinates
                  "CreateIndexBuffer(6, 0, 101, 1, null)", // one triangle, 16-bit
                  "VertexBuffer::Lock(vb3, 0, 0, 0)",
                  "VertexBuffer::Lock(vb4, 0, 0, 0)",
                  "VertexBuffer::Lock(vb5, 0, 0, 0)",
                  "VertexBuffer::Unlock(vb5)",
                  "IndexBuffer::Lock(ib6, 0, 0, 0)",
                  "IndexBuffer::Unlock(ib6)",
                  "VertexBuffer::Unlock(vb4)",
                  "VertexBuffer::Unlock(vb3)",
              }));
    EXPECT_TRUE(reports.messages.empty());
}

TEST_F(StandaloneFaultTest, RefusedBuffersAndLocks) {
    struct Case {
        const char *name;
        const char *call;               // the call whose results are scripted
        std::vector<HRESULT> results;   // in order of those calls
        bool meshForm;
        HRESULT expected;
        std::vector<std::string> messages;
        bool counted; // the counts describe a whole model
    } cases[] = {
        {"position buffer not made", "CreateVertexBuffer", {E_OUTOFMEMORY}, false, E_OUTOFMEMORY,
         {"InitDXGraphics CreateVertexBuffer"}, false},
        {"colour buffer not made", "CreateVertexBuffer", {S_OK, E_OUTOFMEMORY}, false,
         E_OUTOFMEMORY, {"InitDXGraphics CreateVertexBuffer"}, false},
        {"index buffer not made", "CreateIndexBuffer", {D3DERR_INVALIDCALL}, false,
         D3DERR_INVALIDCALL, {"InitDXGraphics CreateIndexBuffer"}, false},
        {"positions not locked", "VertexBuffer::Lock", {D3DERR_INVALIDCALL}, false,
         D3DERR_INVALIDCALL, {"InitDXGraphics Lock"}, false},
        {"colours not locked after the positions were", "VertexBuffer::Lock",
         {S_OK, D3DERR_INVALIDCALL}, false, D3DERR_INVALIDCALL, {"InitDXGraphics Lock"}, false},
        {"indices not locked after the vertices were", "IndexBuffer::Lock", {D3DERR_INVALIDCALL},
         false, D3DERR_INVALIDCALL, {"InitDXGraphics Lock"}, false},
        {"mesh without its texture coordinates", "VertexBuffer::Lock",
         {S_OK, S_OK, D3DERR_INVALIDCALL}, true, S_OK, {}, true},
        {"mesh indices not locked", "IndexBuffer::Lock", {E_FAIL}, true, E_FAIL,
         {"InitDXGraphics Lock"}, false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        session.recorder->calls.clear();
        session.recorder->results.clear();
        reports.messages.clear();
        failedLocks.clear();
        for (HRESULT hr : c.results) {
            session.recorder->results[c.call].push_back(hr);
            if (FAILED(hr) && std::string(c.call).find("Lock") != std::string::npos)
                ++failedLocks[c.call];
        }
        EXPECT_EQ(_QRV3DReadQ3DFile(1, (c.meshForm ? mesh : grid).c_str()), c.expected);
        EXPECT_EQ(reports.messages, c.messages);
        ExpectNothingLocked();
        const standalone::StandaloneEngine &e = standalone::engine;
        if (c.counted) {
            EXPECT_EQ(e.vertexCount, 3u);
            EXPECT_EQ(e.triangleCount, c.meshForm ? 1u : 4u);
        } else {
            EXPECT_EQ(e.vertexCount, 0u);
            EXPECT_EQ(e.triangleCount, 0u);
        }
    }
}

TEST_F(StandaloneFaultTest, WithoutADeviceNothingIsMade) {
    IDirect3DDevice9 *device = standalone::engine.device;
    standalone::engine.device = nullptr;
    EXPECT_EQ(_QRV3DReadQ3DFile(1, grid.c_str()), D3DERR_INVALIDCALL);
    EXPECT_EQ(standalone::engine.positionBuffer, nullptr);
    EXPECT_EQ(standalone::engine.vertexCount, 0u);
    EXPECT_EQ(standalone::engine.triangleCount, 0u);
    standalone::engine.device = device;
}

} // namespace
} // namespace qrv::testing
