// Set-up and tear-down through _QRV3DInit and _QRV3DTerm(1), the message chains
// of failed set-ups, device recovery and window-size changes, on the recording
// stand-in.
#include <gtest/gtest.h>

#include <array>

#include "standalone_fixture.h"

namespace qrv::testing {
namespace {

using standalone::engine;

using SetUpTest = StandaloneTest;

TEST_F(SetUpTest, MakesDeviceViewportDeclarationAndShaders) {
    EXPECT_EQ(_IsWindowed(), 0) << "before set-up";
    ASSERT_EQ(Init(), 1);
    EXPECT_TRUE(sink.messages.empty());
    EXPECT_EQ(recorder().Only({"Direct3DCreate9", "CreateDevice", "SetViewport", "Create",
                               "SetRenderState"}),
              (std::vector<std::string>{
                  "Direct3DCreate9(31)",
                  "CreateDevice(0, 1, 64)",
                  "SetViewport(0, 0, 426, 426, 0, 1)",
                  "CreateVertexDeclaration()",
                  "CreateVertexShader()",
                  "CreatePixelShader()",
                  // Depth test on, no multisampling, Gouraud, counter-clockwise culling.
                  "SetRenderState(7, 1)",
                  "SetRenderState(161, 0)",
                  "SetRenderState(9, 2)",
                  "SetRenderState(22, 3)",
              }));

    // The windowed set, with the client size the device wrote back.
    const D3DPRESENT_PARAMETERS &p = engine.presentParams;
    EXPECT_EQ(p.Windowed, TRUE);
    EXPECT_EQ(p.BackBufferWidth, 426u);
    EXPECT_EQ(p.BackBufferHeight, 426u);
    EXPECT_EQ(p.BackBufferFormat, engine.windowParams.BackBufferFormat);
    EXPECT_EQ(p.EnableAutoDepthStencil, TRUE);
    EXPECT_EQ(p.AutoDepthStencilFormat, D3DFMT_D24S8);
    EXPECT_EQ(p.hDeviceWindow, &window.window);
    EXPECT_EQ(device()->window, &window.window);
    EXPECT_EQ(_IsWindowed(), 1);
    EXPECT_TRUE(_IsWindowMode());

    auto *declaration = dynamic_cast<RecordingVertexDeclaration *>(engine.vertexDeclaration);
    ASSERT_NE(declaration, nullptr);
    ASSERT_EQ(declaration->elements.size(), 4u);
    EXPECT_EQ(std::memcmp(declaration->elements.data(), engine.vertexElements,
                          sizeof engine.vertexElements),
              0);
    auto *vs = dynamic_cast<RecordingShader<IDirect3DVertexShader9> *>(engine.vertexShader);
    auto *ps = dynamic_cast<RecordingShader<IDirect3DPixelShader9> *>(engine.pixelShader);
    ASSERT_NE(vs, nullptr);
    ASSERT_NE(ps, nullptr);
    EXPECT_EQ(vs->tokens, Assembled(kVertexShaderText));
    EXPECT_EQ(ps->tokens, Assembled(kPixelShaderText));

    // No "default.q3d" here: no mesh, and a frame draws none.
    EXPECT_EQ(engine.positionBuffer, nullptr);
    EXPECT_EQ(engine.indexBuffer, nullptr);
    EXPECT_EQ(engine.texture, nullptr);
    recorder().calls.clear();
    EXPECT_TRUE(_QRV3DRender(1));
    EXPECT_EQ(recorder().Count("DrawIndexedPrimitive"), 0u);
}

TEST_F(SetUpTest, DefaultModelOfTheCurrentDirectory) {
    // A model written from a 1 x 1 depth image, as "default.q3d" here.
    ASSERT_EQ(Init(), 1);
    Block depth(GreyDib(1, 1, [](int, int) { return 255u; }));
    ASSERT_EQ(_QRV3DWriteQ3DFile(1, depth.get(), nullptr, dir.Path("default.bmp").c_str()), S_OK);
    _QRV3DTerm(1);

    ASSERT_EQ(Init(), 1);
    EXPECT_NE(engine.positionBuffer, nullptr);
    EXPECT_NE(engine.indexBuffer, nullptr);
    EXPECT_EQ(engine.vertexCount, 16u);
    EXPECT_EQ(engine.triangleCount, 18u);
    EXPECT_TRUE(sink.messages.empty());
    recorder().calls.clear();
    EXPECT_TRUE(_QRV3DRender(1));
    EXPECT_EQ(recorder().Count("DrawIndexedPrimitive(4, 0, 0, 16, 0, 18)"), 1u);
}

TEST_F(SetUpTest, SoftwareVertexProcessingWhenHardwareIsRefused) {
    recorder().Script("CreateDevice", {D3DERR_NOTAVAILABLE});
    ASSERT_EQ(Init(), 1);
    EXPECT_EQ(recorder().Only({"CreateDevice"}),
              (std::vector<std::string>{"CreateDevice(0, 1, 64)", "CreateDevice(0, 1, 32)"}));
    EXPECT_TRUE(sink.messages.empty()) << "the first try is not reported";
}

TEST_F(SetUpTest, FailedSetUpsReportTheirChainAndKeepTheirObjectsUntilTerm) {
    const std::string badShader = dir.Write("bad.vsh", Text("vs_1_1\nfrobnicate r0, v0\n"));
    struct Case {
        const char *name;
        std::function<void(StandaloneSession &)> arrange;
        const char *vertexShader; // "" for the good file
        const char *pixelShader;  // "" for the good file, null for none
        std::vector<std::string> messages;
        HRESULT code;
        // d3d, device, vertexDeclaration, vertexShader, pixelShader held after it.
        std::array<bool, 5> held;
    };
    const char *assemble = "InitDXGraphics D3DXAssembleShaderFromFile ";
    const Case cases[] = {
        {"no Direct3D",
         [](StandaloneSession &s) { s.recorder->direct3dAvailable = false; }, "", "",
         {"InitDXGraphics Direct3DCreate9"}, E_FAIL, {false, false, false, false, false}},
        {"device selection",
         [](StandaloneSession &s) { s.modes.clear(); }, "", "",
         {"SelectDisplayMode EnumAdapterModes", "SelectD3DDevice SelectDisplayMode",
          "InitDXGraphics SelectD3DDevice"},
         E_FAIL, {true, false, false, false, false}},
        {"both device creations",
         [](StandaloneSession &s) {
             s.recorder->Script("CreateDevice", {D3DERR_NOTAVAILABLE, D3DERR_INVALIDCALL});
         },
         "", "", {"InitDXGraphics CreateDevice"}, D3DERR_INVALIDCALL,
         {true, false, false, false, false}},
        {"viewport",
         [](StandaloneSession &s) { s.recorder->Script("SetViewport", {D3DERR_INVALIDCALL}); },
         "", "", {"InitDXGraphics SetViewport"}, D3DERR_INVALIDCALL,
         {true, true, false, false, false}},
        {"vertex declaration",
         [](StandaloneSession &s) {
             s.recorder->Script("CreateVertexDeclaration", {E_OUTOFMEMORY});
         },
         "", "", {"InitDXGraphics CreateVertexDeclaration"}, E_OUTOFMEMORY,
         {true, true, false, false, false}},
        {"vertex shader file missing", [](StandaloneSession &) {}, "missing.vsh", "",
         {assemble}, D3DXERR_INVALIDDATA, {true, true, true, false, false}},
        {"vertex shader does not assemble", [](StandaloneSession &) {}, badShader.c_str(), "",
         {assemble}, D3DXERR_INVALIDDATA, {true, true, true, false, false}},
        {"vertex shader refused",
         [](StandaloneSession &s) {
             s.recorder->Script("CreateVertexShader", {D3DERR_INVALIDCALL});
         },
         "", "", {"InitDXGraphics CreateVertexShader"}, D3DERR_INVALIDCALL,
         {true, true, true, false, false}},
        {"no pixel shader named", [](StandaloneSession &) {}, "", nullptr, {assemble},
         D3DERR_INVALIDCALL, {true, true, true, true, false}},
        {"pixel shader refused",
         [](StandaloneSession &s) {
             s.recorder->Script("CreatePixelShader", {D3DERR_INVALIDCALL});
         },
         "", "", {"InitDXGraphics CreatePixelShader"}, D3DERR_INVALIDCALL,
         {true, true, true, true, false}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        recorder().results.clear();
        recorder().direct3dAvailable = true;
        session.modes = {{1024, 768, 60, D3DFMT_X8R8G8B8}};
        sink.Clear();
        c.arrange(session);
        const std::string vs = *c.vertexShader ? c.vertexShader : vertexShader;
        const char *ps = !c.pixelShader ? nullptr : *c.pixelShader ? c.pixelShader : pixelShader.c_str();

        EXPECT_EQ(_QRV3DInit(&window.window, vs.c_str(), ps), 0);
        std::vector<std::string> messages = c.messages;
        messages.push_back("WinMain InitDXGraphics");
        EXPECT_EQ(sink.messages, messages);
        EXPECT_EQ(sink.codes, std::vector<HRESULT>(messages.size(), c.code));
        EXPECT_EQ(sink.boxes, static_cast<int>(messages.size()));
        EXPECT_EQ(engine.d3d != nullptr, c.held[0]);
        EXPECT_EQ(engine.device != nullptr, c.held[1]);
        EXPECT_EQ(engine.vertexDeclaration != nullptr, c.held[2]);
        EXPECT_EQ(engine.vertexShader != nullptr, c.held[3]);
        EXPECT_EQ(engine.pixelShader != nullptr, c.held[4]);

        _QRV3DTerm(1);
        EXPECT_EQ(recorder().liveObjects, 0);
    }
}

TEST_F(SetUpTest, SecondSetUpReleasesTheFirst) {
    ASSERT_EQ(Init(), 1);
    const int afterFirst = recorder().liveObjects;
    Block depth(GreyDib(2, 2, [](int, int) { return 9u; }));
    ASSERT_EQ(_QRV3DGet3DImage(1, depth.get(), nullptr, nullptr), S_OK);
    const std::string first = detail::NameOf(engine.device);

    ASSERT_EQ(Init(), 1);
    EXPECT_NE(detail::NameOf(engine.device), first);
    EXPECT_EQ(recorder().liveObjects, afterFirst) << "the first set-up's objects were released";
    EXPECT_EQ(engine.positionBuffer, nullptr);
    EXPECT_TRUE(sink.messages.empty());
}

TEST_F(SetUpTest, TermTwiceFindsNothingTheSecondTime) {
    ASSERT_EQ(Init(), 1);
    Block depth(GreyDib(2, 2, [](int, int) { return 9u; }));
    ASSERT_EQ(_QRV3DGet3DImage(1, depth.get(), nullptr, nullptr), S_OK);
    _QRV3DEffect(1, 0, 0);
    _QRV3DFillMode(1);

    _QRV3DTerm(1);
    EXPECT_EQ(recorder().liveObjects, 0);
    const standalone::StandaloneEngine &e = engine;
    for (const void *held : {static_cast<const void *>(e.d3d), static_cast<const void *>(e.device),
                             static_cast<const void *>(e.vertexDeclaration),
                             static_cast<const void *>(e.vertexShader),
                             static_cast<const void *>(e.pixelShader),
                             static_cast<const void *>(e.positionBuffer),
                             static_cast<const void *>(e.colorBuffer),
                             static_cast<const void *>(e.indexBuffer)})
        EXPECT_EQ(held, nullptr);
    // Flags, counts and eye keep their values.
    EXPECT_TRUE(e.rotating);
    EXPECT_FALSE(e.solidFill);
    EXPECT_EQ(e.vertexCount, 64u);

    const size_t calls = recorder().calls.size();
    _QRV3DTerm(1);
    EXPECT_EQ(recorder().calls.size(), calls);
    EXPECT_FALSE(_QRV3DRender(1)) << "no device: no frame";
}

TEST_F(SetUpTest, RestoreDevice) {
    ASSERT_EQ(Init(), 1);
    recorder().calls.clear();
    bool ok = false;
    EXPECT_EQ(_QRV3DRestoreDevice(&ok), S_OK);
    EXPECT_TRUE(ok);
    EXPECT_TRUE(recorder().calls.empty()) << "no loss: nothing is asked of the device";

    const struct {
        const char *name;
        std::vector<HRESULT> cooperativeLevel;
        std::vector<HRESULT> reset;
        HRESULT result;
        bool ok;
        bool stillLost;
        size_t resets;
        std::vector<std::string> messages;
    } cases[] = {
        {"device back", {S_OK}, {}, S_OK, true, false, 0, {}},
        {"still lost", {D3DERR_DEVICELOST}, {}, D3DERR_DEVICELOST, true, true, 0, {}},
        {"other failure", {D3DERR_DRIVERINTERNALERROR}, {}, D3DERR_DRIVERINTERNALERROR, false,
         true, 0, {}},
        {"reset", {D3DERR_DEVICENOTRESET}, {S_OK}, S_OK, true, false, 1, {}},
        {"lost again during the reset", {D3DERR_DEVICENOTRESET}, {D3DERR_DEVICELOST},
         D3DERR_DEVICELOST, true, true, 1, {}},
        {"reset refused", {D3DERR_DEVICENOTRESET}, {D3DERR_INVALIDCALL}, D3DERR_INVALIDCALL,
         false, true, 1, {"AppIdle Reset"}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        recorder().results.clear();
        recorder().Script("TestCooperativeLevel", c.cooperativeLevel);
        recorder().Script("Reset", c.reset);
        recorder().calls.clear();
        sink.Clear();
        engine.deviceLost = true;
        ok = !c.ok;
        EXPECT_EQ(_QRV3DRestoreDevice(&ok), c.result);
        EXPECT_EQ(ok, c.ok);
        EXPECT_EQ(engine.deviceLost, c.stillLost);
        EXPECT_EQ(recorder().Count("TestCooperativeLevel"), 1u);
        EXPECT_EQ(recorder().Count("Reset"), c.resets);
        EXPECT_EQ(sink.messages, c.messages);
        // A successful reset sets the fixed render states again; nothing else does.
        EXPECT_EQ(recorder().Count("SetRenderState"), c.result == S_OK && c.resets ? 4u : 0u);
    }
}

TEST_F(SetUpTest, RenderRecoversFromAnInjectedDeviceLoss) {
    ASSERT_EQ(Init(), 1);
    Block depth(GreyDib(2, 2, [](int, int) { return 200u; }));
    ASSERT_EQ(_QRV3DGet3DImage(1, depth.get(), nullptr, nullptr), S_OK);
    const std::string positions = detail::NameOf(engine.positionBuffer);

    recorder().Script("Present", {D3DERR_DEVICELOST});
    EXPECT_TRUE(_QRV3DRender(1)) << "a lost Present counts as a frame";
    EXPECT_TRUE(engine.deviceLost);

    // Still lost: no frame, but the host is told to keep drawing.
    recorder().Script("TestCooperativeLevel", {D3DERR_DEVICELOST});
    recorder().calls.clear();
    EXPECT_TRUE(_QRV3DRender(1));
    EXPECT_EQ(recorder().Count("Clear"), 0u);
    EXPECT_TRUE(engine.deviceLost);

    // Resettable: reset, the render states again, and a frame of the same mesh.
    recorder().Script("TestCooperativeLevel", {D3DERR_DEVICENOTRESET});
    recorder().calls.clear();
    EXPECT_TRUE(_QRV3DRender(1));
    EXPECT_FALSE(engine.deviceLost);
    const std::vector<std::string> calls = recorder().Only(
        {"TestCooperativeLevel", "Reset", "SetRenderState(22", "SetStreamSource(0", "Present"});
    EXPECT_EQ(calls, (std::vector<std::string>{"TestCooperativeLevel()", "Reset()",
                                               "SetRenderState(22, 3)",
                                               "SetStreamSource(0, " + positions + ", 0, 12)",
                                               "Present()"}));

    // A device that cannot come back: no frame and false.
    engine.deviceLost = true;
    recorder().Script("TestCooperativeLevel", {D3DERR_DRIVERINTERNALERROR});
    EXPECT_FALSE(_QRV3DRender(1));
}

TEST_F(SetUpTest, WindowSizeChange) {
    EXPECT_EQ(_QRV3DChangeWindowSize(0, 800, 600, true), S_OK) << "not set up: nothing";
    EXPECT_EQ(engine.presentParams.BackBufferWidth, 0u);

    ASSERT_EQ(Init(), 1);
    recorder().calls.clear();
    // Recorded without a reset; a later recovery resets to it.
    EXPECT_EQ(_QRV3DChangeWindowSize(0, 800, 600, false), S_OK);
    EXPECT_EQ(engine.presentParams.BackBufferWidth, 800u);
    EXPECT_EQ(engine.presentParams.BackBufferHeight, 600u);
    EXPECT_EQ(recorder().Count("Reset"), 0u);
    engine.deviceLost = true;
    recorder().Script("TestCooperativeLevel", {D3DERR_DEVICENOTRESET});
    bool ok = false;
    EXPECT_EQ(_QRV3DRestoreDevice(&ok), S_OK);
    EXPECT_EQ(device()->params.BackBufferWidth, 800u);
    EXPECT_EQ(device()->params.BackBufferHeight, 600u);

    // With a reset, whatever the handle: the render states and the viewport follow.
    recorder().calls.clear();
    EXPECT_EQ(_QRV3DChangeWindowSize(12345, 640, 480, true), S_OK);
    EXPECT_EQ(recorder().calls,
              (std::vector<std::string>{"Reset()", "SetRenderState(7, 1)", "SetRenderState(161, 0)",
                                        "SetRenderState(9, 2)", "SetRenderState(22, 3)",
                                        "SetViewport(0, 0, 640, 480, 0, 1)"}));
    EXPECT_EQ(device()->params.BackBufferWidth, 640u);

    // Lost during the reset: reported, remembered, and success.
    recorder().Script("Reset", {D3DERR_DEVICELOST});
    sink.Clear();
    EXPECT_EQ(_QRV3DChangeWindowSize(0, 700, 500, true), S_OK);
    EXPECT_TRUE(engine.deviceLost);
    EXPECT_EQ(sink.messages, std::vector<std::string>{"ChangeWindowSize Reset"});
    EXPECT_EQ(sink.codes, std::vector<HRESULT>{D3DERR_DEVICELOST});
    // While lost a change only records its size.
    recorder().calls.clear();
    EXPECT_EQ(_QRV3DChangeWindowSize(0, 1024, 768, true), S_OK);
    EXPECT_TRUE(recorder().calls.empty());
    EXPECT_EQ(engine.presentParams.BackBufferWidth, 1024u);
    engine.deviceLost = false;

    // Other failures are returned.
    recorder().Script("Reset", {D3DERR_INVALIDCALL});
    sink.Clear();
    EXPECT_EQ(_QRV3DChangeWindowSize(0, 320, 240, true), D3DERR_INVALIDCALL);
    EXPECT_EQ(sink.messages, std::vector<std::string>{"ChangeWindowSize Reset"});
    recorder().Script("SetViewport", {D3DERR_INVALIDCALL});
    sink.Clear();
    EXPECT_EQ(_QRV3DChangeWindowSize(0, 320, 240, true), D3DERR_INVALIDCALL);
    EXPECT_EQ(sink.messages, std::vector<std::string>{"ChangeWindowSize SetViewport"});

    // A negative size is refused and changes nothing.
    EXPECT_EQ(_QRV3DChangeWindowSize(0, -1, 240, true), E_INVALIDARG);
    EXPECT_EQ(engine.presentParams.BackBufferWidth, 320u);
}

} // namespace
} // namespace qrv::testing
