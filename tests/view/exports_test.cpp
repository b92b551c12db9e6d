// The exports' dispatch: handles, the ordinal table, the steering exports, the
// views' creation and independence, and the failure reporter.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "platform/trace/trace.h"
#include "standalone/standalone_engine.h"
#include "view_fixture.h"

namespace qrv::testing {
namespace {

// Captures the tracer's output and boxes; answers No.
struct CapturingSink : trace::Sink {
    CapturingSink() { trace::SetSink(this); }
    ~CapturingSink() override { trace::SetSink(nullptr); }
    void DebugOutput(const std::string &text) override { output += text; }
    bool AskYesNo(const std::string &caption, const std::string &text) override {
        boxes.push_back(caption + "|" + text);
        return false;
    }
    std::string output;
    std::vector<std::string> boxes;
};

class ExportsTest : public ViewTest {
protected:
    void TearDown() override {
        standalone::ReleaseDXGraphics();
        standalone::engine = standalone::StandaloneEngine{};
        ViewTest::TearDown();
    }
    CapturingSink sink;
};

TEST_F(ExportsTest, OrdinalTable) {
    const struct {
        const char *name;
        const void *function;
    } expected[QRV_EXPORT_COUNT] = {
        {"_Z8MoveTestff", reinterpret_cast<const void *>(&MoveTest)},
        {"_Z19_QRV3DRestoreDevicePb", reinterpret_cast<const void *>(&_QRV3DRestoreDevice)},
        {"_IsWindowMode", reinterpret_cast<const void *>(&_IsWindowMode)},
        {"_IsWindowed", reinterpret_cast<const void *>(&_IsWindowed)},
        {"_QRV3DChangeWindowSize", reinterpret_cast<const void *>(&_QRV3DChangeWindowSize)},
        {"_QRV3DEffect", reinterpret_cast<const void *>(&_QRV3DEffect)},
        {"_QRV3DFillMode", reinterpret_cast<const void *>(&_QRV3DFillMode)},
        {"_QRV3DGet3DImage", reinterpret_cast<const void *>(&_QRV3DGet3DImage)},
        {"_QRV3DInit", reinterpret_cast<const void *>(&_QRV3DInit)},
        {"_QRV3DLoadMesh", reinterpret_cast<const void *>(&_QRV3DLoadMesh)},
        {"_QRV3DMoveEye", reinterpret_cast<const void *>(&_QRV3DMoveEye)},
        {"_QRV3DReadQ3DFile", reinterpret_cast<const void *>(&_QRV3DReadQ3DFile)},
        {"_QRV3DRender", reinterpret_cast<const void *>(&_QRV3DRender)},
        {"_QRV3DSetTexture", reinterpret_cast<const void *>(&_QRV3DSetTexture)},
        {"_QRV3DSetThreshold", reinterpret_cast<const void *>(&_QRV3DSetThreshold)},
        {"_QRV3DShadeMode", reinterpret_cast<const void *>(&_QRV3DShadeMode)},
        {"_QRV3DTerm", reinterpret_cast<const void *>(&_QRV3DTerm)},
        {"_QRV3DWriteQ3DFile", reinterpret_cast<const void *>(&_QRV3DWriteQ3DFile)},
        {"_QRVMidiGetPos", reinterpret_cast<const void *>(&_QRVMidiGetPos)},
        {"_QRVMidiInit", reinterpret_cast<const void *>(&_QRVMidiInit)},
        {"_QRVMidiPlay", reinterpret_cast<const void *>(&_QRVMidiPlay)},
        {"_QRVMidiTempoChange", reinterpret_cast<const void *>(&_QRVMidiTempoChange)},
        {"_QRVMidiTerm", reinterpret_cast<const void *>(&_QRVMidiTerm)},
    };
    for (int i = 0; i < QRV_EXPORT_COUNT; ++i) {
        SCOPED_TRACE(expected[i].name);
        EXPECT_EQ(qrvExportTable[i].ordinal, i + 1);
        EXPECT_STREQ(qrvExportTable[i].name, expected[i].name);
        EXPECT_EQ(qrvExportTable[i].function, expected[i].function);
    }
    // The viewer's eight imports, called through the table as it calls them.
    using Render = bool (*)(ViewHandle);
    auto render = reinterpret_cast<Render>(const_cast<void *>(qrvExportTable[13 - 1].function));
    EXPECT_TRUE(render(handle));
}

TEST_F(ExportsTest, ViewCreation) {
    // One Direct3D object and one HAL device with software vertex processing,
    // windowed with a 16-bit depth buffer, then three render states in order.
    EXPECT_EQ(recorder().calls,
              (std::vector<std::string>{"Direct3DCreate9(31)", "CreateDevice(0, 1, 32)",
                                        "SetRenderState(22, 1)", "SetRenderState(137, 0)",
                                        "SetRenderState(7, 1)"}));
    const D3DPRESENT_PARAMETERS &p = device()->params;
    EXPECT_EQ(p.SwapEffect, D3DSWAPEFFECT_DISCARD);
    EXPECT_EQ(p.BackBufferFormat, D3DFMT_UNKNOWN);
    EXPECT_EQ(p.BackBufferCount, 0u);
    EXPECT_EQ(p.Windowed, TRUE);
    EXPECT_EQ(p.EnableAutoDepthStencil, TRUE);
    EXPECT_EQ(p.AutoDepthStencilFormat, D3DFMT_D16);
    EXPECT_EQ(p.PresentationInterval, 0u);
    EXPECT_EQ(p.BackBufferWidth, 426u); // the client size, written back at creation
    EXPECT_EQ(device()->window, &window.window);
    // The fields of a new view.
    EXPECT_FALSE(view->rotating);
    EXPECT_EQ(view->popupPercent, 100);
    EXPECT_TRUE(view->solidFill);
    EXPECT_EQ(view->tearThreshold, 1.0f);
    EXPECT_EQ(view->eyeDistance, 2.5f);
    EXPECT_EQ(view->stripBuffer, nullptr);
    EXPECT_EQ(view->photoTexture, nullptr);
}

TEST_F(ExportsTest, ViewsWithoutDirect3DOrDeviceAreHandlesThatDrawNothing) {
    const std::string photo = dir.Write("p.bmp", Bmp24File(4, 4, [](int, int) { return 0u; }));
    for (bool direct3d : {false, true}) {
        SCOPED_TRACE(direct3d ? "device refused" : "no Direct3D");
        recorder().direct3dAvailable = direct3d;
        if (direct3d) recorder().Script("CreateDevice", {D3DERR_NOTAVAILABLE});
        recorder().calls.clear();
        const ViewHandle lame = _QRV3DInit(&window.window, nullptr, nullptr);
        ASSERT_NE(lame, 0);
        EXPECT_EQ(recorder().Count("SetRenderState"), 0u);
        ReliefView *v = FindView(lame);
        EXPECT_EQ(v->device, nullptr);
        EXPECT_TRUE(FAILED(_QRV3DGet3DImage(lame, nullptr, nullptr, photo.c_str())));
        EXPECT_EQ(v->stripCount, 0);
        EXPECT_EQ(_QRV3DSetTexture(lame, photo.c_str()), S_OK);
        EXPECT_FALSE(_QRV3DRender(lame));
        _QRV3DMoveEye(lame, 0.1f, 0, 0);
        EXPECT_FLOAT_EQ(v->eye.x, 0.1f);
        _QRV3DTerm(lame);
    }
    EXPECT_TRUE(sink.output.empty()) << "nothing on this road is reported";
}

TEST_F(ExportsTest, EffectThresholdAndFill) {
    struct Case {
        int type, value;
        int percent;
        bool rotating;
    };
    const Case cases[] = {
        {2, 98, 2, false},    {2, 0, 100, false},
        {3, 5, 100, false},   {2, 130, -30, false},
        {2, -20, 120, false}, {1, 5, 120, true},
        {1, 0, 120, false},   {0, 1, 120, false},
        {-1, 1, 120, false},  {2, INT32_MIN, static_cast<int32_t>(0x80000064u), false}};
    for (const Case &c : cases) {
        _QRV3DEffect(handle, c.type, c.value);
        EXPECT_EQ(view->popupPercent, c.percent) << c.type << ", " << c.value;
        EXPECT_EQ(view->rotating, c.rotating) << c.type << ", " << c.value;
    }
    _QRV3DSetThreshold(handle, 255);
    EXPECT_EQ(view->tearThreshold, 1.0f);
    _QRV3DSetThreshold(handle, 0);
    EXPECT_EQ(view->tearThreshold, 0.0f);
    _QRV3DSetThreshold(handle, 51);
    EXPECT_EQ(view->tearThreshold, static_cast<float>(51 / 255.0));
    _QRV3DSetThreshold(handle, -300);
    EXPECT_EQ(view->tearThreshold, static_cast<float>(-300 / 255.0));
    _QRV3DSetThreshold(1, 100); // the StandaloneEngine has no threshold
    EXPECT_EQ(view->tearThreshold, static_cast<float>(-300 / 255.0));

    // Handle 1 toggles the StandaloneEngine whatever the type and value.
    _QRV3DEffect(1, 2, 98);
    EXPECT_TRUE(standalone::engine.rotating);
    _QRV3DEffect(1, 2, 98);
    EXPECT_FALSE(standalone::engine.rotating);
    _QRV3DFillMode(1);
    EXPECT_FALSE(standalone::engine.solidFill);
    _QRV3DFillMode(1);
    EXPECT_TRUE(standalone::engine.solidFill);
    EXPECT_EQ(view->popupPercent, static_cast<int32_t>(0x80000064u));
}

TEST_F(ExportsTest, ShadeModeActsOnlyOnTheStandaloneDevice) {
    recorder().calls.clear();
    _QRV3DShadeMode(handle, 1);
    _QRV3DShadeMode(0, 2);
    EXPECT_TRUE(recorder().calls.empty()) << "no StandaloneEngine device: nothing happens";

    // With a StandaloneEngine device, whatever the handle.
    IDirect3D9 *d3d = Direct3DCreate9(D3D_SDK_VERSION);
    D3DPRESENT_PARAMETERS params{};
    params.Windowed = TRUE;
    ASSERT_EQ(d3d->CreateDevice(0, D3DDEVTYPE_HAL, &window.window, 0x40, &params,
                                &standalone::engine.device),
              S_OK);
    standalone::engine.d3d = d3d;
    recorder().calls.clear();
    _QRV3DShadeMode(handle, 1);
    _QRV3DShadeMode(0, 2);
    _QRV3DShadeMode(1, 3);
    EXPECT_EQ(recorder().calls,
              (std::vector<std::string>{"SetRenderState(9, 1)", "SetRenderState(9, 2)"}));
    EXPECT_EQ(device()->renderStates.count(D3DRS_SHADEMODE), 0u);

    // _QRV3DTerm(1) releases whatever the StandaloneEngine holds, twice safely.
    _QRV3DTerm(1);
    EXPECT_EQ(standalone::engine.device, nullptr);
    EXPECT_EQ(standalone::engine.d3d, nullptr);
    _QRV3DTerm(1);
}

TEST_F(ExportsTest, StandaloneRecordAtLoad) {
    const standalone::StandaloneEngine &e = standalone::engine;
    EXPECT_TRUE(_IsWindowMode());
    EXPECT_EQ(_IsWindowed(), 0);
    EXPECT_EQ(_QRV3DLoadMesh(), S_OK);
    EXPECT_EQ(e.vertexCount, 8u);
    EXPECT_EQ(e.triangleCount, 12u);
    EXPECT_FALSE(e.deviceLost);
    EXPECT_FALSE(e.rotating);
    EXPECT_TRUE(e.solidFill);
    EXPECT_EQ(e.rotationTicks, 0);
    EXPECT_EQ(e.eye.y, 3.0f);
    EXPECT_EQ(e.eye.z, -4.0f);
    EXPECT_EQ(e.eyeDistance, 5.0f);
    EXPECT_EQ(e.adapterFormats[0], D3DFMT_X8R8G8B8);
    EXPECT_EQ(e.adapterFormats[1], D3DFMT_X1R5G5B5);
    EXPECT_EQ(e.adapterFormats[2], D3DFMT_R5G6B5);
    EXPECT_EQ(e.depthStencilFormat, D3DFMT_D24S8);
    EXPECT_EQ(e.presentInterval, 0x80000000u);
    EXPECT_EQ(e.displayModeWidth, 1024);
    EXPECT_EQ(e.displayModeHeight, 768);
    const D3DVERTEXELEMENT9 elements[4] = {
        {0, 0, 2, 0, 0, 0}, {1, 0, 4, 0, 10, 0}, {2, 0, 1, 0, 5, 0}, {0xFF, 0, 17, 0, 0, 0}};
    EXPECT_EQ(std::memcmp(e.vertexElements, elements, sizeof elements), 0);
    EXPECT_EQ(e.device, nullptr);
    EXPECT_EQ(e.presentParams.Windowed, 0);
}

TEST_F(ExportsTest, HandlesThatAreNoLiveView) {
    const std::string photo = dir.Write("p.bmp", Bmp24File(4, 4, [](int, int) { return 0u; }));
    const ViewHandle ended = _QRV3DInit(&window.window, nullptr, nullptr);
    _QRV3DTerm(ended);
    const int live = recorder().liveObjects;
    int local = 0;
    for (ViewHandle h :
         {ViewHandle{0}, ViewHandle{2}, ended, reinterpret_cast<ViewHandle>(&local)}) {
        SCOPED_TRACE(h);
        EXPECT_EQ(_QRV3DGet3DImage(h, nullptr, nullptr, photo.c_str()), E_INVALIDARG);
        EXPECT_EQ(_QRV3DSetTexture(h, photo.c_str()), E_INVALIDARG);
        EXPECT_EQ(_QRV3DReadQ3DFile(h, "model.q3d"), E_INVALIDARG);
        EXPECT_EQ(_QRV3DWriteQ3DFile(h, nullptr, nullptr, "model.q3d"), E_INVALIDARG);
        EXPECT_FALSE(_QRV3DRender(h));
        _QRV3DEffect(h, 1, 1);
        _QRV3DFillMode(h);
        _QRV3DMoveEye(h, 0.1f, 0.1f, 0.1f);
        _QRV3DSetThreshold(h, 3);
        _QRV3DTerm(h); // a second end of the same view is harmless
        EXPECT_EQ(local, 0);
    }
    EXPECT_EQ(recorder().liveObjects, live);
    EXPECT_FALSE(standalone::engine.rotating);
    EXPECT_TRUE(standalone::engine.solidFill);
}

TEST_F(ExportsTest, ReportFailureTracesFromTheEngineSource) {
    EXPECT_EQ(ReportFailure("ChangeWindowSize Reset", D3DERR_DEVICELOST), D3DERR_DEVICELOST);
    // Every report names the same file and line, then the message and the code.
    EXPECT_EQ(sink.output,
              ".\\QRV3D.cpp(25): ChangeWindowSize Reset (hr=D3DERR_DEVICELOST (0x88760868))");
    ASSERT_EQ(sink.boxes.size(), 1u);
    EXPECT_NE(sink.boxes[0].find("Calling: ChangeWindowSize Reset"), std::string::npos);
}

TEST_F(ExportsTest, TwoViewsShareNothing) {
    const std::string photo = dir.Write("p.bmp", Bmp24File(4, 4, [](int, int) { return 0u; }));
    TestWindow otherWindow;
    otherWindow.width = 300;
    const ViewHandle other = _QRV3DInit(&otherWindow.window, nullptr, nullptr);
    ASSERT_NE(other, 0);
    ASSERT_NE(other, handle);
    ReliefView *v2 = FindView(other);
    EXPECT_NE(v2->d3d, view->d3d);
    EXPECT_NE(v2->device, view->device);
    EXPECT_EQ(dynamic_cast<RecordingDevice *>(v2->device)->params.BackBufferWidth, 300u);

    Block dib(GreyDib(4, 3, [](int, int) { return 0u; }));
    ASSERT_EQ(_QRV3DGet3DImage(other, dib.get(), nullptr, photo.c_str()), S_OK);
    _QRV3DEffect(other, 2, 40);
    _QRV3DSetThreshold(other, 9);
    _QRV3DMoveEye(other, 0.2f, 0, 0);
    _QRV3DFillMode(other);
    EXPECT_EQ(view->stripBuffer, nullptr);
    EXPECT_EQ(view->popupPercent, 100);
    EXPECT_EQ(view->tearThreshold, 1.0f);
    EXPECT_EQ(view->eye.x, 0.0f);
    EXPECT_TRUE(view->solidFill);

    const int live = recorder().liveObjects;
    _QRV3DTerm(other); // its Direct3D object, device, buffer and texture
    EXPECT_EQ(recorder().liveObjects, live - 4);
    EXPECT_TRUE(_QRV3DRender(handle));
}

} // namespace
} // namespace qrv::testing
