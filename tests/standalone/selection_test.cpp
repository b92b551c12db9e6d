// Device selection against the recording Direct3D object: the queries and the
// present parameters they settle, every failure with its messages in order, the
// fall-back to the reference device, and the display-mode choice.
#include <gtest/gtest.h>

#include "standalone_fixture.h"

namespace qrv::testing {
namespace {

using standalone::engine;

constexpr HRESULT kNotAvailable = D3DERR_NOTAVAILABLE;
constexpr HRESULT kInvalidCall = D3DERR_INVALIDCALL;
constexpr HRESULT kInternal = D3DERR_DRIVERINTERNALERROR;

class SelectionTest : public StandaloneTest {
protected:
    // Runs SelectD3DDevice on a fresh Direct3D object, logging only its queries.
    HRESULT Select() {
        engine.d3d = Direct3DCreate9(D3D_SDK_VERSION);
        EXPECT_NE(engine.d3d, nullptr);
        recorder().calls.clear();
        sink.Clear();
        adapter = 99;
        return standalone::SelectD3DDevice(&window.window, &adapter, &deviceType);
    }
    UINT adapter = 99;
    D3DDEVTYPE deviceType = D3DDEVTYPE_SW;
};

TEST_F(SelectionTest, HardwareDeviceFillsBothParameterSets) {
    session.modes = {{640, 480, 60, D3DFMT_X8R8G8B8}, {1280, 720, 60, D3DFMT_X8R8G8B8}};
    ASSERT_EQ(Select(), S_OK);
    EXPECT_EQ(adapter, 0u);
    EXPECT_EQ(deviceType, D3DDEVTYPE_HAL);
    EXPECT_TRUE(sink.messages.empty());
    EXPECT_EQ(recorder().calls,
              (std::vector<std::string>{
                  "D3D::GetDeviceCaps(1)",
                  "D3D::GetAdapterDisplayMode()",
                  "D3D::CheckDeviceType(1, 22, 22, 1)",
                  "D3D::CheckDeviceType(1, 22, 22, 0)",
                  "D3D::CheckDeviceFormat(1, 22, 2, 1, 75)",
                  "D3D::CheckDepthStencilMatch(1, 22, 22, 75)",
                  "D3D::CheckDeviceFormat(1, 22, 2, 1, 75)",
                  "D3D::CheckDepthStencilMatch(1, 22, 22, 75)",
                  "D3D::CheckDeviceFormat(1, 22, 1, 3, 22)",
                  "D3D::CheckDepthStencilMatch(1, 22, 22, 75)",
                  "D3D::CheckDeviceFormat(1, 22, 1, 3, 22)",
                  "D3D::CheckDepthStencilMatch(1, 22, 22, 75)",
                  "D3D::CheckDeviceMultiSampleType(1, 22, 1, 0)",
                  "D3D::CheckDeviceMultiSampleType(1, 75, 1, 0)",
                  "D3D::CheckDeviceMultiSampleType(1, 22, 0, 0)",
                  "D3D::CheckDeviceMultiSampleType(1, 75, 0, 0)",
                  "D3D::GetAdapterModeCount(22)",
                  "D3D::EnumAdapterModes(22, 0)",
                  "D3D::EnumAdapterModes(22, 1)",
              }));

    const D3DPRESENT_PARAMETERS &w = engine.windowParams;
    EXPECT_EQ(w.BackBufferWidth, 0u);
    EXPECT_EQ(w.BackBufferHeight, 0u);
    EXPECT_EQ(w.BackBufferFormat, D3DFMT_X8R8G8B8);
    EXPECT_EQ(w.BackBufferCount, 1u);
    EXPECT_EQ(w.MultiSampleType, D3DMULTISAMPLE_NONE);
    EXPECT_EQ(w.MultiSampleQuality, 0u);
    EXPECT_EQ(w.SwapEffect, D3DSWAPEFFECT_DISCARD);
    EXPECT_EQ(w.hDeviceWindow, &window.window);
    EXPECT_EQ(w.Windowed, TRUE);
    EXPECT_EQ(w.EnableAutoDepthStencil, TRUE);
    EXPECT_EQ(w.AutoDepthStencilFormat, D3DFMT_D24S8);
    EXPECT_EQ(w.Flags, 0u);
    EXPECT_EQ(w.FullScreen_RefreshRateInHz, 0u);
    EXPECT_EQ(w.PresentationInterval, D3DPRESENT_INTERVAL_IMMEDIATE);

    const D3DPRESENT_PARAMETERS &f = engine.fullScreenParams;
    EXPECT_EQ(f.BackBufferWidth, 1280u) << "|1024-1280| + |768-720| = 304 beats 672";
    EXPECT_EQ(f.BackBufferHeight, 720u);
    EXPECT_EQ(f.BackBufferFormat, D3DFMT_X8R8G8B8);
    EXPECT_EQ(f.BackBufferCount, 1u);
    EXPECT_EQ(f.SwapEffect, D3DSWAPEFFECT_DISCARD);
    EXPECT_EQ(f.hDeviceWindow, &window.window);
    EXPECT_EQ(f.Windowed, FALSE);
    EXPECT_EQ(f.EnableAutoDepthStencil, TRUE);
    EXPECT_EQ(f.AutoDepthStencilFormat, D3DFMT_D24S8);
    EXPECT_EQ(f.FullScreen_RefreshRateInHz, 0u);
    EXPECT_EQ(f.PresentationInterval, D3DPRESENT_INTERVAL_IMMEDIATE);
}

TEST_F(SelectionTest, FirstPassingFormatsOnASixteenBitDesktop) {
    // The windowed check still tries X8R8G8B8 first, over the desktop's format;
    // the full-screen check takes each format as its own display format.
    session.desktop = {1024, 768, 60, D3DFMT_R5G6B5};
    recorder().Script("D3D::CheckDeviceType", {kNotAvailable, S_OK, kNotAvailable, kNotAvailable});
    ASSERT_EQ(Select(), S_OK);
    EXPECT_EQ(recorder().Only({"D3D::CheckDeviceType"}),
              (std::vector<std::string>{
                  "D3D::CheckDeviceType(1, 23, 22, 1)",
                  "D3D::CheckDeviceType(1, 23, 24, 1)",
                  "D3D::CheckDeviceType(1, 22, 22, 0)",
                  "D3D::CheckDeviceType(1, 24, 24, 0)",
                  "D3D::CheckDeviceType(1, 23, 23, 0)",
              }));
    EXPECT_EQ(engine.windowParams.BackBufferFormat, D3DFMT_X1R5G5B5);
    EXPECT_EQ(engine.fullScreenParams.BackBufferFormat, D3DFMT_R5G6B5);
    // The full-screen depth checks and the mode list follow the chosen format.
    EXPECT_EQ(recorder().Only({"D3D::CheckDepthStencilMatch"})[1],
              "D3D::CheckDepthStencilMatch(1, 23, 23, 75)");
    EXPECT_EQ(recorder().Count("D3D::GetAdapterModeCount(23)"), 1u);
}

TEST_F(SelectionTest, MultisampleTypeIsTheFirstThatBothBuffersTake) {
    engine.multiSampleTypes[0] = D3DMULTISAMPLE_4_SAMPLES;
    // Windowed: back buffer and depth buffer pass. Full screen: the depth buffer
    // refuses, so the set keeps no multisampling, and selection still succeeds.
    recorder().Script("D3D::CheckDeviceMultiSampleType", {S_OK, S_OK, S_OK, kNotAvailable});
    ASSERT_EQ(Select(), S_OK);
    EXPECT_EQ(engine.windowParams.MultiSampleType, D3DMULTISAMPLE_4_SAMPLES);
    EXPECT_EQ(engine.windowParams.MultiSampleQuality, 0u);
    EXPECT_EQ(engine.fullScreenParams.MultiSampleType, D3DMULTISAMPLE_NONE);
    EXPECT_TRUE(sink.messages.empty());
}

TEST_F(SelectionTest, DisplayModeNearestTheWantedSize) {
    const struct {
        std::vector<D3DDISPLAYMODE> modes;
        UINT width, height;
    } cases[] = {
        // 392 against 512.
        {{{800, 600, 60, D3DFMT_X8R8G8B8}, {1280, 1024, 60, D3DFMT_X8R8G8B8}}, 800, 600},
        // 224 against 392.
        {{{1152, 864, 60, D3DFMT_X8R8G8B8}, {800, 600, 60, D3DFMT_X8R8G8B8}}, 1152, 864},
        // Equal scores of 24: the mode enumerated first wins, either way round.
        {{{1000, 768, 60, D3DFMT_X8R8G8B8}, {1048, 768, 60, D3DFMT_X8R8G8B8}}, 1000, 768},
        {{{1048, 768, 75, D3DFMT_X8R8G8B8}, {1000, 768, 60, D3DFMT_X8R8G8B8}}, 1048, 768},
        // The exact size, whatever the refresh rate and wherever it stands.
        {{{640, 480, 60, D3DFMT_X8R8G8B8},
          {1024, 768, 85, D3DFMT_X8R8G8B8},
          {1024, 768, 60, D3DFMT_X8R8G8B8}},
         1024,
         768},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.width) + "x" + ::testing::PrintToString(c.height));
        session.modes = c.modes;
        standalone::ReleaseAndClear(engine.d3d);
        ASSERT_EQ(Select(), S_OK);
        EXPECT_EQ(engine.fullScreenParams.BackBufferWidth, c.width);
        EXPECT_EQ(engine.fullScreenParams.BackBufferHeight, c.height);
        EXPECT_EQ(engine.fullScreenParams.FullScreen_RefreshRateInHz, 0u);
        EXPECT_EQ(engine.windowParams.BackBufferWidth, 0u);
    }
}

TEST_F(SelectionTest, FailuresReportEachStepInOrder) {
    const std::vector<std::string> kDsWindowFormat = {
        "SelectDepthStencilFormat CheckDeviceFormat DS Window",
        "SelectD3DDevice SelectDepthStencilFormat"};
    struct Case {
        const char *name;
        std::function<void(StandaloneSession &)> arrange;
        HRESULT result;
        D3DDEVTYPE deviceType;
        std::vector<std::string> messages;
        std::vector<HRESULT> codes;
    };
    auto caps = [](D3DDEVTYPE type, DWORD streams, DWORD primitives) {
        return [=](StandaloneSession &s) {
            s.editCaps = [=](D3DDEVTYPE t, D3DCAPS9 &c) {
                if (t != type) return;
                c.MaxStreams = streams;
                c.MaxPrimitiveCount = primitives;
            };
        };
    };
    // The codes are copied: an initializer_list's array dies with the full expression.
    auto script = [](const char *call, std::initializer_list<HRESULT> codes) {
        return [call, list = std::vector<HRESULT>(codes)](StandaloneSession &s) {
            s.recorder->Script(call, list);
        };
    };
    const Case cases[] = {
        {"limits exactly met", caps(D3DDEVTYPE_HAL, 3, 0xFFFF), S_OK, D3DDEVTYPE_HAL, {}, {}},
        {"two-stream hardware falls back to REF",
         caps(D3DDEVTYPE_HAL, 2, 0xFFFFFF),
         S_OK,
         D3DDEVTYPE_REF,
         {"CheckDeviceCaps MaxStreams < 3", "SelectD3DDevice CheckDeviceCaps HAL"},
         {E_FAIL, E_FAIL}},
        {"hardware primitive count 0xFFFE falls back to REF",
         caps(D3DDEVTYPE_HAL, 16, 0xFFFE),
         S_OK,
         D3DDEVTYPE_REF,
         {"CheckDeviceCaps MaxPrimitiveCount < 0xFFFF", "SelectD3DDevice CheckDeviceCaps HAL"},
         {E_FAIL, E_FAIL}},
        {"hardware caps unreadable",
         script("D3D::GetDeviceCaps", {kNotAvailable}),
         S_OK,
         D3DDEVTYPE_REF,
         {"SelectD3DDevice CheckDeviceCaps HAL"},
         {E_FAIL}},
        {"REF too small as well",
         [](StandaloneSession &s) {
             s.editCaps = [](D3DDEVTYPE t, D3DCAPS9 &c) {
                 if (t == D3DDEVTYPE_HAL) c.MaxStreams = 2;
                 else c.MaxPrimitiveCount = 0xFFFE;
             };
         },
         E_FAIL,
         D3DDEVTYPE_REF,
         {"CheckDeviceCaps MaxStreams < 3", "SelectD3DDevice CheckDeviceCaps HAL",
          "CheckDeviceCaps MaxPrimitiveCount < 0xFFFF", "SelectD3DDevice CheckDeviceCaps REF"},
         {E_FAIL, E_FAIL, E_FAIL, E_FAIL}},
        {"current display mode unreadable",
         script("D3D::GetAdapterDisplayMode", {kNotAvailable}),
         kNotAvailable,
         D3DDEVTYPE_HAL,
         {"SelectD3DDevice GetAdapterDisplayMode"},
         {kNotAvailable}},
        {"no windowed back-buffer format: the last code",
         script("D3D::CheckDeviceType", {kNotAvailable, kNotAvailable, kInvalidCall}),
         kInvalidCall,
         D3DDEVTYPE_HAL,
         {"SelectAdapterFormat CheckDeviceType Window", "SelectD3DDevice SelectAdapterFormat"},
         {kInvalidCall, kInvalidCall}},
        {"no full-screen format",
         script("D3D::CheckDeviceType", {S_OK, kInvalidCall, kInvalidCall, kNotAvailable}),
         kNotAvailable,
         D3DDEVTYPE_HAL,
         {"SelectAdapterFormat CheckDeviceType Full", "SelectD3DDevice SelectAdapterFormat"},
         {kNotAvailable, kNotAvailable}},
        {"depth format refused in a window",
         script("D3D::CheckDeviceFormat", {kNotAvailable}),
         kNotAvailable,
         D3DDEVTYPE_HAL,
         kDsWindowFormat,
         {kNotAvailable, kNotAvailable}},
        {"depth format does not match the windowed back buffer",
         script("D3D::CheckDepthStencilMatch", {kNotAvailable}),
         kNotAvailable,
         D3DDEVTYPE_HAL,
         {"SelectDepthStencilFormat CheckDepthStencilMatch DS Window",
          "SelectD3DDevice SelectDepthStencilFormat"},
         {kNotAvailable, kNotAvailable}},
        {"depth format refused full screen",
         script("D3D::CheckDeviceFormat", {S_OK, kInternal}),
         kInternal,
         D3DDEVTYPE_HAL,
         {"SelectDepthStencilFormat CheckDeviceFormat DS Full",
          "SelectD3DDevice SelectDepthStencilFormat"},
         {kInternal, kInternal}},
        {"depth format does not match full screen",
         script("D3D::CheckDepthStencilMatch", {S_OK, kInternal}),
         kInternal,
         D3DDEVTYPE_HAL,
         {"SelectDepthStencilFormat CheckDepthStencilMatch DS Full",
          "SelectD3DDevice SelectDepthStencilFormat"},
         {kInternal, kInternal}},
        {"no render-target texture format in a window: the last failing call's code",
         [](StandaloneSession &s) {
             // After the two depth checks: X8R8G8B8 refused as a target, X1R5G5B5
             // refused by its depth match, R5G6B5 refused by its depth match.
             s.recorder->Script("D3D::CheckDeviceFormat", {S_OK, S_OK, kNotAvailable, S_OK, S_OK});
             s.recorder->Script("D3D::CheckDepthStencilMatch", {S_OK, S_OK, kInvalidCall, kInternal});
         },
         kInternal,
         D3DDEVTYPE_HAL,
         {"SelectRenderTexterFormat Window", "SelectD3DDevice SelectRenderTexterFormat"},
         {kInternal, kInternal}},
        {"no render-target texture format full screen",
         script("D3D::CheckDeviceFormat", {S_OK, S_OK, S_OK, kNotAvailable, kNotAvailable, kInvalidCall}),
         kInvalidCall,
         D3DDEVTYPE_HAL,
         {"SelectRenderTexterFormat Full", "SelectD3DDevice SelectRenderTexterFormat"},
         {kInvalidCall, kInvalidCall}},
        {"no display mode, even for a windowed engine",
         [](StandaloneSession &s) { s.modes.clear(); },
         E_FAIL,
         D3DDEVTYPE_HAL,
         {"SelectDisplayMode EnumAdapterModes", "SelectD3DDevice SelectDisplayMode"},
         {E_FAIL, E_FAIL}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        standalone::ReleaseAndClear(engine.d3d);
        recorder().results.clear();
        session.editCaps = nullptr;
        session.modes = {{1024, 768, 60, D3DFMT_X8R8G8B8}};
        c.arrange(session);
        EXPECT_EQ(Select(), c.result);
        EXPECT_EQ(deviceType, c.deviceType);
        EXPECT_EQ(sink.messages, c.messages);
        EXPECT_EQ(sink.codes, c.codes);
        EXPECT_EQ(sink.boxes, static_cast<int>(c.messages.size()));
        // A device type that passed its caps check is never given up for REF.
        const size_t capsReads = recorder().Count("D3D::GetDeviceCaps");
        EXPECT_EQ(capsReads, c.deviceType == D3DDEVTYPE_HAL ? 1u : 2u);
    }
}

} // namespace
} // namespace qrv::testing
