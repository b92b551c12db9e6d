// The StandaloneEngine's frame on the recording stand-in: the calls of one frame,
// the matrix the vertex shader receives (turning, aspect ratio), clear flags,
// fill mode, failed scenes and presents, and the texture with "texture.ps".
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>

#include "standalone_fixture.h"

namespace qrv::testing {
namespace {

using standalone::engine;

DWORD g_ticks = 0;
DWORD FakeTicks() { return g_ticks; }

struct Clip {
    float x, y, z, w;
};

class FrameTest : public StandaloneTest {
protected:
    void SetUp() override {
        StandaloneTest::SetUp();
        ASSERT_EQ(Init(), 1);
        Block depth(GreyDib(1, 1, [](int, int) { return 255u; }));
        ASSERT_EQ(_QRV3DGet3DImage(1, depth.get(), nullptr, nullptr), S_OK);
        standalone::SetTickSource(&FakeTicks);
        recorder().calls.clear();
    }

    // Where the vertex shader puts a point: its four dot products with c0 to c3.
    Clip Transform(float x, float y, float z) {
        auto &c = device()->vertexConstants;
        auto dot = [&](UINT r) {
            return x * c[4 * r] + y * c[4 * r + 1] + z * c[4 * r + 2] + c[4 * r + 3];
        };
        return Clip{dot(0), dot(1), dot(2), dot(3)};
    }
    Clip FrameAt(DWORD ticks, float x, float y, float z) {
        g_ticks = ticks;
        EXPECT_TRUE(_QRV3DRender(1));
        return Transform(x, y, z);
    }
    static void ExpectNear(const Clip &a, const Clip &b) {
        EXPECT_NEAR(a.x, b.x, 1e-4f);
        EXPECT_NEAR(a.y, b.y, 1e-4f);
        EXPECT_NEAR(a.z, b.z, 1e-4f);
        EXPECT_NEAR(a.w, b.w, 1e-4f);
    }
};

TEST_F(FrameTest, OneFrameSetsEveryStateAndDrawsTheIndexedList) {
    ASSERT_TRUE(_QRV3DRender(1));
    using detail::NameOf;
    EXPECT_EQ(recorder().calls,
              (std::vector<std::string>{
                  "Clear(0, null, 7, 0xff0000ff, 1, 0)",
                  "BeginScene()",
                  "SetRenderState(8, 3)",
                  "SetVertexShaderConstantF(0, 4)",
                  "SetVertexDeclaration(" + NameOf(engine.vertexDeclaration) + ")",
                  "SetStreamSource(0, " + NameOf(engine.positionBuffer) + ", 0, 12)",
                  "SetStreamSource(1, " + NameOf(engine.colorBuffer) + ", 0, 4)",
                  "SetStreamSource(2, null, 0, 8)",
                  "SetIndices(" + NameOf(engine.indexBuffer) + ")",
                  "SetVertexShader(" + NameOf(engine.vertexShader) + ")",
                  "SetPixelShader(" + NameOf(engine.pixelShader) + ")",
                  "DrawIndexedPrimitive(4, 0, 0, 16, 0, 18)",
                  "EndScene()",
                  "Present()",
              }));
    // Nothing is kept between frames: the next one sets it all again.
    recorder().calls.clear();
    ASSERT_TRUE(_QRV3DRender(1));
    EXPECT_EQ(recorder().calls.size(), 14u);
}

TEST_F(FrameTest, LooksFromTheEyeAtTheOrigin) {
    ASSERT_TRUE(_QRV3DRender(1));
    EXPECT_EQ(engine.rotationTicks, 0) << "not turning";
    // The origin lies straight ahead at the eye's distance, 5.
    const Clip origin = Transform(0, 0, 0);
    EXPECT_NEAR(origin.x, 0.0f, 1e-5f);
    EXPECT_NEAR(origin.y, 0.0f, 1e-5f);
    EXPECT_NEAR(origin.w, 5.0f, 1e-5f);
    // Near plane 2 and far plane 10 map to clip depths 0 and 1.
    engine.eye = D3DXVECTOR3{0, 0, -4};
    ASSERT_TRUE(_QRV3DRender(1));
    const Clip nearPoint = Transform(0, 0, -2), farPoint = Transform(0, 0, 6);
    EXPECT_NEAR(nearPoint.z / nearPoint.w, 0.0f, 1e-5f);
    EXPECT_NEAR(farPoint.z / farPoint.w, 1.0f, 1e-5f);
    // A vertical field of view of 3.1415 / 3: a point at the edge of the view.
    const Clip top = Transform(0, static_cast<float>(std::tan(3.1415 / 6) * 4), 0);
    EXPECT_NEAR(top.y / top.w, 1.0f, 1e-5f);
}

TEST_F(FrameTest, TurnsAQuarterAboutYEvery500Milliseconds) {
    _QRV3DEffect(1, 0, 0);
    ASSERT_TRUE(engine.rotating);
    const float quarter = 0.25f * 6.283f;
    // The point (1, 0, 0) 500 ms later stands where (cos q, 0, -sin q) stood.
    const Clip earlier = FrameAt(1000, std::cos(quarter), 0, -std::sin(quarter));
    EXPECT_EQ(engine.rotationTicks, 1000);
    const Clip later = FrameAt(1500, 1, 0, 0);
    ExpectNear(later, earlier);

    // Each multiple of 2000 ms starts again from no turn.
    engine.rotating = false;
    const Clip still = FrameAt(2000, 0.3f, 0.2f, -0.1f);
    engine.rotating = true;
    ExpectNear(FrameAt(4000, 0.3f, 0.2f, -0.1f), still);
    EXPECT_EQ(engine.rotationTicks, 4000);
    // A tick count past 2^31 counts as negative: it turns the other way.
    const Clip back = FrameAt(0xFFFFFE0Cu, 1, 0, 0); // -500
    EXPECT_EQ(engine.rotationTicks, -500);
    engine.rotating = false;
    ExpectNear(back, FrameAt(0, std::cos(quarter), 0, std::sin(quarter)));
    EXPECT_EQ(engine.rotationTicks, 0);
}

TEST_F(FrameTest, AspectRatioFollowsTheWindowSize) {
    engine.eye = D3DXVECTOR3{0, 0, -4};
    auto ratio = [&] {
        EXPECT_TRUE(_QRV3DRender(1));
        return Transform(0, 1, 0).y / Transform(1, 0, 0).x;
    };
    EXPECT_NEAR(ratio(), 1.0f, 1e-6f);
    ASSERT_EQ(_QRV3DChangeWindowSize(1, 800, 600, true), S_OK);
    EXPECT_NEAR(ratio(), 1.3333334f, 1e-6f);
    ASSERT_EQ(_QRV3DChangeWindowSize(1, 300, 600, false), S_OK);
    EXPECT_NEAR(ratio(), 0.5f, 1e-6f) << "the recorded size counts from the next frame on";
}

TEST_F(FrameTest, ClearFillAndFailures) {
    engine.presentParams.EnableAutoDepthStencil = 0;
    _QRV3DFillMode(1);
    ASSERT_TRUE(_QRV3DRender(1));
    EXPECT_EQ(recorder().calls[0], "Clear(0, null, 1, 0xff0000ff, 1, 0)") << "no depth buffer";
    EXPECT_EQ(recorder().Count("SetRenderState(8, 2)"), 1u) << "wire frame";

    // A scene that does not begin draws nothing, and the frame is still presented.
    recorder().calls.clear();
    recorder().Script("BeginScene", {D3DERR_INVALIDCALL});
    EXPECT_TRUE(_QRV3DRender(1));
    EXPECT_EQ(recorder().calls, (std::vector<std::string>{"Clear(0, null, 1, 0xff0000ff, 1, 0)",
                                                          "BeginScene()", "Present()"}));

    // Present: a lost device is success remembered; anything else is failure.
    recorder().Script("Present", {D3DERR_DEVICELOST, D3DERR_INVALIDCALL});
    EXPECT_EQ(standalone::RenderDXGraphics(), S_OK);
    EXPECT_TRUE(engine.deviceLost);
    engine.deviceLost = false;
    EXPECT_FALSE(_QRV3DRender(1));
    EXPECT_FALSE(engine.deviceLost);
    EXPECT_TRUE(sink.messages.empty()) << "frames report nothing";
}

class TextureTest : public FrameTest {
protected:
    void SetUp() override {
        FrameTest::SetUp();
        photo = dir.Write("photo.bmp", Bmp24File(2, 2, [](int, int) { return 0x336699u; }));
        shaders.Write("texture.ps", Text(kTexturePixelShaderText));
        standalone::SetTextureShaderFolder(shaders.Path(".").c_str());
    }
    std::string photo;
    TempDir shaders;
};

TEST_F(TextureTest, TextureShaderAndStagesInEveryFrame) {
    IDirect3DPixelShader9 *setUpShader = engine.pixelShader;
    ASSERT_EQ(_QRV3DSetTexture(1, photo.c_str()), S_OK);
    ASSERT_NE(engine.texture, nullptr);
    ASSERT_NE(engine.pixelShader, setUpShader);
    auto *ps = dynamic_cast<RecordingShader<IDirect3DPixelShader9> *>(engine.pixelShader);
    ASSERT_NE(ps, nullptr);
    EXPECT_EQ(ps->tokens, Assembled(kTexturePixelShaderText));

    recorder().calls.clear();
    ASSERT_TRUE(_QRV3DRender(1));
    const std::vector<std::string> calls = recorder().Only(
        {"SetPixelShader", "SetTexture", "SetTextureStageState", "SetTransform", "DrawIndexed"});
    EXPECT_EQ(calls, (std::vector<std::string>{
                         "SetPixelShader(" + detail::NameOf(engine.pixelShader) + ")",
                         "SetTexture(0, " + detail::NameOf(engine.texture) + ")",
                         "SetTextureStageState(0, 1, 4)",
                         "SetTextureStageState(0, 2, 2)",
                         "SetTextureStageState(0, 3, 0)",
                         "SetTextureStageState(0, 4, 1)",
                         "SetTransform(16)",
                         "SetTextureStageState(0, 24, 2)",
                         "SetTextureStageState(0, 11, 131072)",
                         "DrawIndexedPrimitive(4, 0, 0, 16, 0, 18)",
                     }));
    const D3DMATRIX &t = device()->transforms.at(D3DTS_TEXTURE0);
    const float expected[4][4] = {{0.25f, 0, 0, 0}, {0, -0.25f, 0, 0}, {0, 0, 1, 0}, {0.5f, 0.5f, 0, 1}};
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 4; ++c) EXPECT_EQ(t.m[r][c], expected[r][c]) << r << "," << c;
}

TEST_F(TextureTest, MissingOrBrokenShaderKeepsTheOneInUse) {
    IDirect3DPixelShader9 *setUpShader = engine.pixelShader;
    TempDir empty;
    standalone::SetTextureShaderFolder(empty.Path(".").c_str());
    EXPECT_EQ(_QRV3DSetTexture(1, photo.c_str()), S_OK);
    EXPECT_EQ(engine.pixelShader, setUpShader);
    EXPECT_NE(engine.texture, nullptr);

    empty.Write("texture.ps", Text("ps_1_1\nnot an instruction\n"));
    EXPECT_EQ(_QRV3DSetTexture(1, photo.c_str()), S_OK);
    EXPECT_EQ(engine.pixelShader, setUpShader);

    recorder().Script("CreatePixelShader", {D3DERR_INVALIDCALL});
    standalone::SetTextureShaderFolder(shaders.Path(".").c_str());
    EXPECT_EQ(_QRV3DSetTexture(1, photo.c_str()), S_OK);
    EXPECT_EQ(engine.pixelShader, setUpShader);
    EXPECT_TRUE(sink.messages.empty());
}

TEST_F(TextureTest, FailedLoadLeavesNoTexture) {
    ASSERT_EQ(_QRV3DSetTexture(1, photo.c_str()), S_OK);
    const HRESULT hr = _QRV3DSetTexture(1, dir.Path("no-such-photo.bmp").c_str());
    EXPECT_TRUE(FAILED(hr));
    EXPECT_EQ(engine.texture, nullptr);
    recorder().calls.clear();
    ASSERT_TRUE(_QRV3DRender(1));
    EXPECT_EQ(recorder().Count("SetTexture"), 0u) << "no texture: the stages are left alone";
    EXPECT_EQ(recorder().Count("SetTransform"), 0u);
    EXPECT_TRUE(sink.messages.empty());

    _QRV3DTerm(1);
    EXPECT_EQ(_QRV3DSetTexture(1, photo.c_str()), D3DERR_INVALIDCALL) << "no device";
    EXPECT_EQ(engine.texture, nullptr);
}

TEST_F(TextureTest, ShaderBesideTheHostProgramWhateverItsName) {
    // The build puts texture.ps beside this test program, whose file name is not
    // 13 characters long.
    standalone::SetTextureShaderFolder(nullptr);
    const std::filesystem::path beside =
        std::filesystem::read_symlink("/proc/self/exe").parent_path() / "texture.ps";
    ASSERT_TRUE(std::filesystem::exists(beside)) << beside;
    std::string text;
    if (FILE *f = std::fopen(beside.c_str(), "rb")) {
        char chunk[4096];
        size_t n;
        while ((n = std::fread(chunk, 1, sizeof chunk, f)) > 0) text.append(chunk, n);
        std::fclose(f);
    }
    ASSERT_EQ(_QRV3DSetTexture(1, photo.c_str()), S_OK);
    auto *ps = dynamic_cast<RecordingShader<IDirect3DPixelShader9> *>(engine.pixelShader);
    ASSERT_NE(ps, nullptr);
    EXPECT_EQ(ps->tokens, Assembled(text.c_str()));
}

} // namespace
} // namespace qrv::testing
