// One frame of a ReliefView as the calls a device receives: the tearing walk,
// the frame's states, its failures and the recovery of a lost device.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <numbers>
#include <set>

#include "platform/win32/win32.h"
#include "view_fixture.h"

namespace qrv::testing {
namespace {

class RendererTest : public ViewTest {
protected:
    void SetUp() override {
        ViewTest::SetUp();
        photo = dir.Write("photo.bmp", Bmp24File(4, 4, [](int, int) { return 0x336699u; }));
    }
    // Builds a relief whose vertex k of each strip row (2c upper, 2c + 1 lower) is
    // at z 0.5 when far(k, strip) holds, else at z 0.0.
    void BuildSixWide(int height, const std::set<std::pair<int, int>> &far) {
        // z 0.0 is depth 128 (grey 127), z 0.5 is depth 192 (grey 63).
        auto grey = [&](int c, int pr) {
            const bool asUpper = far.count({2 * c, pr}) > 0;
            const bool asLower = pr > 0 && far.count({2 * c + 1, pr - 1}) > 0;
            return (asUpper || asLower) ? 63u : 127u;
        };
        ASSERT_EQ(Build(GreyDib(6, height, grey), photo), S_OK);
    }
    std::vector<std::string> Draws() const { return session.recorder->Only({"DrawPrimitive"}); }
    std::vector<std::string> RenderAndTakeDraws() {
        recorder().calls.clear();
        EXPECT_TRUE(_QRV3DRender(handle));
        return Draws();
    }
    std::string BufferName() const {
        return dynamic_cast<RecordingVertexBuffer *>(view->stripBuffer)->name();
    }
    std::string photo;
};

TEST_F(RendererTest, TearingWalkOfTheWorkedExample) {
    struct Case {
        const char *name;
        std::set<int> far; // vertices of the row at z 0.5
        std::vector<std::string> draws;
    };
    const Case cases[] = {
        {"a step half way",
         {6, 7, 8, 9, 10, 11},
         {"DrawPrimitive(5, 0, 4)", "DrawPrimitive(5, 6, 4)"}},
        {"all equal", {}, {"DrawPrimitive(5, 0, 10)"}},
        {"one vertex up", {2}, {"DrawPrimitive(5, 3, 7)"}},
        {"the last column up", {10, 11}, {"DrawPrimitive(5, 0, 8)"}},
        {"the last vertex is never compared", {11}, {"DrawPrimitive(5, 0, 10)"}},
        {"a block in the middle",
         {4, 5, 6, 7},
         {"DrawPrimitive(5, 0, 2)", "DrawPrimitive(5, 4, 2)", "DrawPrimitive(5, 8, 2)"}},
        {"a jump before the last pair leaves it out",
         {0, 1, 2, 3, 4, 5, 6, 7, 8, 9},
         {"DrawPrimitive(5, 0, 8)"}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        std::set<std::pair<int, int>> far;
        for (int k : c.far) far.insert({k, 0});
        BuildSixWide(2, far);
        _QRV3DSetThreshold(handle, 51); // 0.2
        EXPECT_EQ(RenderAndTakeDraws(), c.draws);
    }
}

TEST_F(RendererTest, TheWholeFrameInOrder) {
    std::set<std::pair<int, int>> far;
    for (int k = 6; k < 12; ++k) far.insert({k, 0});
    BuildSixWide(2, far);
    _QRV3DSetThreshold(handle, 51);
    recorder().calls.clear();
    ASSERT_TRUE(_QRV3DRender(handle));
    const std::string vb = BufferName();
    const std::string tex = dynamic_cast<RecordingTexture *>(view->photoTexture)->name();
    const std::vector<std::string> expected = {
        "Clear(0, null, 3, 0xff0000ff, 1, 0)",
        "BeginScene()",
        "SetTransform(256)",
        "SetTransform(2)",
        "SetTransform(3)",
        "SetRenderState(8, 3)",
        "SetTexture(0, " + tex + ")",
        "SetTextureStageState(0, 1, 4)",
        "SetTextureStageState(0, 2, 2)",
        "SetTextureStageState(0, 3, 0)",
        "SetTextureStageState(0, 4, 1)",
        "SetStreamSource(0, " + vb + ", 0, 24)",
        "SetFVF(0x142)",
        "VertexBuffer::Lock(" + vb + ", 0, 0, 16)", // read-only: no re-upload
        "DrawPrimitive(5, 0, 4)",
        "DrawPrimitive(5, 6, 4)",
        "VertexBuffer::Unlock(" + vb + ")",
        "EndScene()",
        "Present()",
    };
    EXPECT_EQ(recorder().calls, expected);
}

TEST_F(RendererTest, RowsAreWalkedFromTheirOwnBase) {
    // Three picture rows: only vertex 9 of the second strip is far, so that strip
    // tears at 9 and 10, and its last two vertices make no triangle.
    BuildSixWide(3, {{9, 1}});
    _QRV3DSetThreshold(handle, 51);
    EXPECT_EQ(RenderAndTakeDraws(),
              (std::vector<std::string>{"DrawPrimitive(5, 0, 10)", "DrawPrimitive(5, 12, 7)"}));
    EXPECT_EQ(recorder().Count("VertexBuffer::Lock"), 2u);
}

TEST_F(RendererTest, ThresholdLevels) {
    // Alternating near and far columns: every compared pair differs by 254 levels.
    ASSERT_EQ(Build(GreyDib(6, 2, [](int c, int) { return c % 2 ? 255u : 1u; }), photo), S_OK);
    const std::vector<std::string> whole = {"DrawPrimitive(5, 0, 10)"};
    // The initial threshold (1.0) never tears; neither do 255 and above.
    EXPECT_EQ(RenderAndTakeDraws(), whole);
    for (int level : {255, 1000}) {
        _QRV3DSetThreshold(handle, level);
        EXPECT_EQ(RenderAndTakeDraws(), whole) << level;
    }
    // 253 tears where the depths differ by 254; 254 does not.
    _QRV3DSetThreshold(handle, 254);
    EXPECT_EQ(RenderAndTakeDraws(), whole);
    _QRV3DSetThreshold(handle, 253);
    EXPECT_TRUE(RenderAndTakeDraws().empty()); // runs of two vertices draw nothing
    // A negative level tears everywhere, even between equal depths.
    ASSERT_EQ(Build(GreyDib(6, 2, [](int, int) { return 9u; }), photo), S_OK);
    _QRV3DSetThreshold(handle, 0);
    EXPECT_EQ(RenderAndTakeDraws(), whole);
    _QRV3DSetThreshold(handle, -1);
    EXPECT_TRUE(RenderAndTakeDraws().empty());
}

TEST_F(RendererTest, EqualDifferenceAndThresholdDoesNotTear) {
    ASSERT_EQ(Build(GreyDib(6, 2, [](int, int) { return 0u; }), photo), S_OK);
    _QRV3DSetThreshold(handle, 51);
    // Put vertex 5 at twice the threshold above its neighbours: d equals it.
    auto *buffer = dynamic_cast<RecordingVertexBuffer *>(view->stripBuffer);
    for (int k = 0; k < 12; ++k) {
        const float z = k == 5 ? 2.0f * view->tearThreshold : 0.0f;
        std::memcpy(buffer->bytes.data() + k * 24 + 8, &z, 4);
    }
    EXPECT_EQ(RenderAndTakeDraws(), std::vector<std::string>{"DrawPrimitive(5, 0, 10)"});
    const float above = std::nextafter(2.0f * view->tearThreshold, 1.0f);
    std::memcpy(buffer->bytes.data() + 5 * 24 + 8, &above, 4);
    EXPECT_EQ(RenderAndTakeDraws(),
              (std::vector<std::string>{"DrawPrimitive(5, 0, 3)", "DrawPrimitive(5, 6, 4)"}));
}

TEST_F(RendererTest, ThinReliefsDrawNothing) {
    ASSERT_EQ(Build(GreyDib(1, 5, [](int, int) { return 0u; }), photo), S_OK);
    EXPECT_TRUE(RenderAndTakeDraws().empty());
    EXPECT_EQ(recorder().Count("VertexBuffer::Lock"), 4u);

    // No strips at all: the frame still clears and presents.
    ASSERT_EQ(Build(GreyDib(5, 1, [](int, int) { return 0u; }), photo), S_OK);
    recorder().calls.clear();
    EXPECT_TRUE(_QRV3DRender(handle));
    EXPECT_EQ(recorder().Only({"Clear", "SetStreamSource", "VertexBuffer", "Draw", "Present"}),
              (std::vector<std::string>{"Clear(0, null, 3, 0xff0000ff, 1, 0)",
                                        "SetStreamSource(0, null, 0, 24)", "Present()"}));
}

TEST_F(RendererTest, WireFrameKeepsTheLastSolidTextureState) {
    BuildSixWide(2, {});
    _QRV3DFillMode(handle);
    EXPECT_FALSE(view->solidFill);
    recorder().calls.clear();
    ASSERT_TRUE(_QRV3DRender(handle));
    EXPECT_EQ(recorder().Only({"SetRenderState", "SetTexture", "Draw"}),
              (std::vector<std::string>{"SetRenderState(8, 2)", "DrawPrimitive(5, 0, 10)"}));
    _QRV3DFillMode(handle);
    EXPECT_TRUE(view->solidFill);
}

TEST_F(RendererTest, FailuresWithinTheFrame) {
    BuildSixWide(4, {});
    // BeginScene fails: nothing drawn, no EndScene, the frame is still presented.
    recorder().Script("BeginScene", {D3DERR_INVALIDCALL});
    recorder().calls.clear();
    EXPECT_TRUE(_QRV3DRender(handle));
    EXPECT_EQ(recorder().calls, (std::vector<std::string>{"Clear(0, null, 3, 0xff0000ff, 1, 0)",
                                                          "BeginScene()", "Present()"}));

    // One row's lock fails: only that row is skipped (and not unlocked).
    recorder().Script("VertexBuffer::Lock", {S_OK, D3DERR_INVALIDCALL});
    EXPECT_EQ(RenderAndTakeDraws(),
              (std::vector<std::string>{"DrawPrimitive(5, 0, 10)", "DrawPrimitive(5, 24, 10)"}));
    EXPECT_EQ(recorder().Count("VertexBuffer::Unlock"), 2u);

    // Failed draws and states are ignored; a failed Present is the frame's
    // failure, and only a lost device starts a recovery.
    recorder().Script("DrawPrimitive", {E_FAIL, E_FAIL});
    recorder().Script("SetTransform", {E_FAIL});
    EXPECT_TRUE(_QRV3DRender(handle));
    recorder().Script("Present", {E_FAIL});
    recorder().calls.clear();
    EXPECT_FALSE(_QRV3DRender(handle));
    EXPECT_EQ(recorder().Count("TestCooperativeLevel"), 0u);
}

TEST_F(RendererTest, TransformsOfTheFrame) {
    BuildSixWide(2, {});
    ASSERT_TRUE(_QRV3DRender(handle));
    const auto &t = device()->transforms;
    // Not turning: the world is the identity.
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j)
            EXPECT_FLOAT_EQ(t.at(D3DTS_WORLD).m[i][j], i == j ? 1.0f : 0.0f);
    // From the eye (0, 0, -2.5) at the origin: a shift of 2.5 along z.
    EXPECT_FLOAT_EQ(t.at(D3DTS_VIEW).m[0][0], 1.0f);
    EXPECT_FLOAT_EQ(t.at(D3DTS_VIEW).m[3][2], 2.5f);
    // 45 degrees, aspect 1, near 1, far 100.
    const D3DMATRIX &p = t.at(D3DTS_PROJECTION);
    EXPECT_FLOAT_EQ(p.m[0][0], 2.4142137f);
    EXPECT_FLOAT_EQ(p.m[1][1], 2.4142137f);
    EXPECT_FLOAT_EQ(p.m[2][2], 100.0f / 99.0f);
    EXPECT_FLOAT_EQ(p.m[3][2], -100.0f / 99.0f);
    EXPECT_FLOAT_EQ(p.m[2][3], 1.0f);

    // Turning: one radian a second about x, by the tick count at the frame.
    _QRV3DEffect(handle, 1, 7);
    const DWORD before = GetTickCount();
    ASSERT_TRUE(_QRV3DRender(handle));
    const DWORD after = GetTickCount();
    const D3DMATRIX &w = t.at(D3DTS_WORLD);
    EXPECT_FLOAT_EQ(w.m[0][0], 1.0f);
    // The angle is the tick count in seconds rounded to single precision, which
    // may be coarse when the machine has been up for long.
    const double angle = std::atan2(static_cast<double>(w.m[1][2]), static_cast<double>(w.m[1][1]));
    const double first = static_cast<float>(before / 1000.0);
    const double last = static_cast<float>(after / 1000.0);
    const double offset = std::remainder(angle - first, 2 * std::numbers::pi);
    EXPECT_GE(offset, -1e-3);
    EXPECT_LE(offset, last - first + 1e-3);
    EXPECT_NEAR(w.m[1][1], w.m[2][2], 1e-6);
    EXPECT_NEAR(w.m[1][2], -w.m[2][1], 1e-6);
}

TEST_F(RendererTest, LostDeviceIsRecoveredAndDrawsTheSameStrips) {
    BuildSixWide(3, {{4, 0}});
    _QRV3DSetThreshold(handle, 51);
    const auto draws = RenderAndTakeDraws();
    const std::string vb = BufferName();

    // Present reports the loss; the device can be reset after the wait.
    recorder().Script("Present", {D3DERR_DEVICELOST});
    recorder().Script("TestCooperativeLevel", {D3DERR_DEVICENOTRESET});
    recorder().calls.clear();
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(_QRV3DRender(handle));
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(100));
    const std::vector<std::string> recovery = {"Present()",
                                               "TestCooperativeLevel()",
                                               "Reset()",
                                               "SetRenderState(22, 1)",
                                               "SetRenderState(137, 0)",
                                               "SetRenderState(7, 1)"};
    EXPECT_EQ(std::vector<std::string>(recorder().calls.end() - 6, recorder().calls.end()),
              recovery);
    EXPECT_EQ(device()->params.AutoDepthStencilFormat, D3DFMT_D16);
    EXPECT_EQ(device()->params.BackBufferWidth, 426u);

    // The next frame draws the same strips from the same buffer.
    EXPECT_EQ(RenderAndTakeDraws(), draws);
    EXPECT_EQ(BufferName(), vb);
}

TEST_F(RendererTest, StillLostDeviceIsNotReset) {
    BuildSixWide(2, {});
    for (HRESULT level : {D3DERR_DEVICELOST, S_OK, E_FAIL}) {
        recorder().Script("Present", {D3DERR_DEVICELOST});
        recorder().Script("TestCooperativeLevel", {level});
        recorder().calls.clear();
        EXPECT_FALSE(_QRV3DRender(handle));
        EXPECT_EQ(recorder().Count("TestCooperativeLevel"), 1u);
        EXPECT_EQ(recorder().Count("Reset"), 0u);
    }
    // A reset that fails sets no states.
    recorder().Script("Present", {D3DERR_DEVICELOST});
    recorder().Script("TestCooperativeLevel", {D3DERR_DEVICENOTRESET});
    recorder().Script("Reset", {D3DERR_INVALIDCALL});
    recorder().calls.clear();
    EXPECT_FALSE(_QRV3DRender(handle));
    EXPECT_EQ(recorder().calls.back(), "Reset()");
}

} // namespace
} // namespace qrv::testing
