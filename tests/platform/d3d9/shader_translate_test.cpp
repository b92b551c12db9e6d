// The shader token model and the tokens-to-GLSL translator: streams refused with
// their reasons, what a translation reports, and the GLSL itself run on the
// system's OpenGL, instruction by instruction, against Direct3D's results.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>

#include "glsl_runner.h"
#include "platform/d3d9/shader_code.h"
#include "platform/d3d9/shader_glsl.h"
#include "platform/d3dx9/assembler.h"

using namespace qrv::d3d9;
using qrv::testing::GlslRunner;
using qrv::testing::QuadSetup;
using qrv::testing::Vec4;

namespace {

constexpr float kInf = std::numeric_limits<float>::infinity();

std::vector<DWORD> Assemble(const std::string &text) {
    std::vector<DWORD> tokens;
    std::string messages;
    EXPECT_TRUE(qrv::d3dx9::AssembleShader(text, "test", &tokens, &messages)) << messages << text;
    return tokens;
}

DWORD Bits(float f) {
    DWORD bits;
    std::memcpy(&bits, &f, sizeof bits);
    return bits;
}

// ---- Streams refused -------------------------------------------------------------------------
struct BadStream {
    const char *name;
    std::vector<DWORD> tokens;
    size_t maxTokens; // 0: the whole vector
    const char *reason;
};

TEST(ShaderDecode, RefusesMalformedStreamsWithAReason) {
    const DWORD vs11 = 0xFFFE0101, vs20 = 0xFFFE0200, ps11 = 0xFFFF0101;
    const DWORD movPos = 0x00000001, oPos = 0xC00F0000, v0 = 0x90E40000, c0 = 0xA0E40000;
    const std::vector<BadStream> cases = {
        {"no tokens", {}, 0, "no shader tokens"},
        {"not a version", {0x12345678, 0x0000FFFF}, 0, "not a shader version"},
        {"no end token", {vs11, movPos, oPos, c0}, 0, "no end token"},
        {"end token past the bound", {vs11, movPos, oPos, c0, 0x0000FFFF}, 4, "no end token"},
        {"operand past the bound", {vs11, movPos, oPos, c0, 0x0000FFFF}, 3, "ends inside an instruction"},
        {"unknown opcode", {vs11, 0x00000070, 0x0000FFFF}, 0, "unknown opcode 112"},
        {"parameter where an instruction belongs", {vs11, c0, 0x0000FFFF}, 0, "expected an instruction token"},
        {"destination without bit 31", {vs11, movPos, 0x400F0000, c0, 0x0000FFFF}, 0, "destination parameter"},
        {"source without bit 31", {vs11, movPos, oPos, 0x20E40000, 0x0000FFFF}, 0, "source parameter"},
        {"length that does not match", {vs20, 0x03000001, oPos, c0, 0x0000FFFF}, 0, "claims 3 operand tokens"},
        {"length before 2_0", {vs11, 0x02000001, oPos, c0, 0x0000FFFF}, 0, "carries a length"},
        {"comment past the end", {vs11, 0x0005FFFE, 1, 2, 0x0000FFFF}, 0, "comment runs past"},
        {"predicated", {vs20, 0x12000001, oPos, c0, 0x0000FFFF}, 0, "predicated"},
        {"co-issue in a vertex shader", {vs11, 0x40000001, oPos, c0, 0x0000FFFF}, 0, "co-issue"},
        {"relative address token missing", {vs20, 0x02000001, oPos, c0 | kRelativeBit, 0x0000FFFF}, 0,
         "expected a relative-address token"},
        {"dcl token without bit 31", {vs11, 0x0000001F, 0x00000000, v0, 0x0000FFFF}, 0, "lacks bit 31"},
        {"definition cut short", {ps11, 0x00000051, 0xA00F0000, Bits(1.0f)}, 0, "inside a definition"},
    };
    for (const BadStream &c : cases) {
        SCOPED_TRACE(c.name);
        size_t max = c.maxTokens ? c.maxTokens : c.tokens.size();
        ShaderProgram program;
        std::string error;
        EXPECT_FALSE(Decode(c.tokens.empty() ? nullptr : c.tokens.data(), max, &program, &error));
        EXPECT_NE(error.find(c.reason), std::string::npos) << error;
        TranslatedShader out;
        std::string translateError;
        EXPECT_FALSE(TranslateShader(c.tokens.empty() ? nullptr : c.tokens.data(), max, false, &out, &translateError));
        EXPECT_EQ(translateError, error);
    }
}

TEST(ShaderDecode, EncodeGivesBackTheTokensDecodeRead) {
    // Hand-laid streams: every parameter form, comments, definitions, 2_0 lengths.
    const std::vector<std::vector<DWORD>> streams = {
        {0xFFFE0101, 0x0000001F, 0x80000000, 0x900F0000, 0x0001FFFE, 0x12345678, 0x00000009, 0xC0010000,
         0x90E40000, 0xA0E40000, 0x00000001, 0xB0010000, 0xA0000000, 0x00000001, 0xE0030000,
         0xA0E42005, 0x0000FFFF},
        {0xFFFE0200, 0x0200001F, 0x80000000, 0x900F0000, 0x0200002E, 0xB0010000, 0xA0000000, 0x03000001,
         0xC00F0000, 0xA0E42002, 0xB0000000, 0x0000FFFF},
        {0xFFFF0200, 0x0200001F, 0x90000000, 0xA00F0800, 0x0200001F, 0x80000000, 0xB0030000, 0x05000051,
         0xA00F0001, Bits(1.0f), Bits(-2.5f), 0, Bits(kInf), 0x03000042, 0x800F0000, 0xB0E40000,
         0xA0E40800, 0x02000001, 0x800F0800, 0x80E40000, 0x0000FFFF},
        {0xFFFF0101, 0x00000042, 0xB00F0000, 0x00000005, 0x80070000, 0xB0E40000, 0x90E40000, 0x40000001,
         0x80080000, 0x90FF0000, 0x0000FFFF},
    };
    for (const auto &tokens : streams) {
        ShaderProgram program;
        std::string error;
        ASSERT_TRUE(Decode(tokens.data(), tokens.size(), &program, &error)) << error;
        EXPECT_EQ(program.tokenCount, tokens.size());
        EXPECT_EQ(Encode(program), tokens);
    }
}

// ---- Programs refused --------------------------------------------------------------------------
struct Refusal {
    const char *name;
    std::vector<DWORD> tokens;
    const char *reason;
};

TEST(ShaderTranslate, RefusesProgramsTheLayerCannotRun) {
    const DWORD end = 0x0000FFFF;
    const std::vector<Refusal> cases = {
        {"vs_3_0", {0xFFFE0300, end}, "vs_3_0 is not supported"},
        {"ps_1_0", {0xFFFF0100, end}, "ps_1_0 is not supported"},
        {"vertex shader without oPos", {0xFFFE0101, 0x00000001, 0xD00F0000, 0xA0E40000, end}, "does not write oPos"},
        {"oPos partly written", {0xFFFE0101, 0x00000001, 0xC0070000, 0xA0E40000, end}, "every component of oPos"},
        {"input read without dcl", {0xFFFE0101, 0x00000001, 0xC00F0000, 0x90E40001, end}, "v1 is read but not declared"},
        {"constant out of range", {0xFFFE0101, 0x00000001, 0xC00F0000, 0xA0E4012C, end}, "c300 does not exist"},
        {"m4x4 past the last constant",
         {0xFFFE0101, 0x0000001F, 0x80000000, 0x900F0000, 0x00000014, 0xC00F0000, 0x90E40000, 0xA0E400FE, end},
         "c256 does not exist"},
        {"pixel shader without oC0", {0xFFFF0200, 0x02000001, 0x800F0000, 0xA0E40000, end}, "does not write oC0"},
        {"cube sampler", {0xFFFF0200, 0x0200001F, 0x98000000, 0xA00F0800, 0x0200001F, 0x80000000, 0xB00F0000,
                          0x03000042, 0x800F0000, 0xB0E40000, 0xA0E40800, 0x02000001, 0x800F0800, 0x80E40000, end},
         "only 2D textures"},
        {"texbem", {0xFFFF0101, 0x00000042, 0xB00F0000, 0x00000043, 0xB00F0001, 0xB0E40000, end}, "'texbem' is not supported"},
        {"rep in vs_2_0",
         {0xFFFE0200, 0x0200001F, 0x80000000, 0x900F0000, 0x01000026, 0xF0E40000, 0x02000001, 0xC00F0000,
          0x90E40000, 0x00000027, end},
         "i0 serves flow control"},
        {"an integer register read", {0xFFFE0200, 0x0200001F, 0x80000000, 0x900F0000, 0x02000001, 0xC00F0000,
                                      0x90E40000, 0x02000001, 0xD00F0000, 0xF0E40000, end},
         "i0 serves flow control"},
        {"tex in a vertex shader", {0xFFFE0101, 0x00000042, 0x800F0000, end}, "'tex' is not available in vs_1_1"},
        {"_sat in a vertex shader", {0xFFFE0101, 0x00000001, 0xC01F0000, 0xA0E40000, end}, "_sat is not available"},
        {"writing an input", {0xFFFF0101, 0x00000001, 0x900F0000, 0xA0E40000, end}, "v0 cannot be written"},
        {"co-issued definition", {0xFFFF0101, 0x40000051, 0xA00F0000, 0, 0, 0, 0, end}, "must pair"},
        {"declaration with an unknown modifier",
         {0xFFFF0200, 0x0200001F, 0x80000000, 0x90A20001, 0x02000001, 0x800F0800, 0xA0E40000, end},
         "takes no such modifier"},
        {"declaration with unknown bits", {0xFFFF0200, 0x0200001F, 0x80000005, 0xB00F0000, 0x02000001,
                                           0x800F0800, 0xA0E40000, end}, "unknown declaration bits"},
        {"ps_1_1 texture instruction after arithmetic",
         {0xFFFF0101, 0x00000001, 0x800F0000, 0xA0E40000, 0x00000042, 0xB00F0000, end}, "follows an arithmetic"},
    };
    for (const Refusal &c : cases) {
        SCOPED_TRACE(c.name);
        TranslatedShader out;
        out.glsl = "untouched";
        std::string error;
        EXPECT_FALSE(TranslateShader(c.tokens.data(), c.tokens.size(), false, &out, &error));
        EXPECT_NE(error.find(c.reason), std::string::npos) << error;
        EXPECT_EQ(out.glsl, "untouched");
    }
}

TEST(ShaderTranslate, ReportsInputsSamplersAndTheTokensItRead) {
    std::vector<DWORD> vs = Assemble("vs_1_1\n"
                                     "dcl_position v0\n"
                                     "dcl_color v3\n"
                                     "dcl_texcoord1 v5\n"
                                     "mov oPos, v0\n"
                                     "mov oD0, v3\n"
                                     "mov oT0, v5\n");
    size_t streamLength = vs.size();
    vs.push_back(0xDEADBEEF); // past the end token: never read
    TranslatedShader out;
    std::string error;
    ASSERT_TRUE(TranslateShader(vs.data(), vs.size(), false, &out, &error)) << error;
    EXPECT_FALSE(out.pixel);
    EXPECT_EQ(out.version, 0xFFFE0101u);
    EXPECT_EQ(out.tokenCount, streamLength);
    ASSERT_EQ(out.inputs.size(), 3u);
    EXPECT_EQ(out.inputs[0].reg, 0u);
    EXPECT_EQ(out.inputs[0].usage, D3DDECLUSAGE_POSITION);
    EXPECT_EQ(out.inputs[1].reg, 3u);
    EXPECT_EQ(out.inputs[1].usage, D3DDECLUSAGE_COLOR);
    EXPECT_EQ(out.inputs[2].reg, 5u);
    EXPECT_EQ(out.inputs[2].usage, D3DDECLUSAGE_TEXCOORD);
    EXPECT_EQ(out.inputs[2].usageIndex, 1u);
    EXPECT_NE(out.glsl.find("layout(location = 3) in vec4 qrv_v3;"), std::string::npos);
    EXPECT_NE(out.glsl.find("uniform vec4 qrv_c[256];"), std::string::npos);
    EXPECT_NE(out.glsl.find("gl_Position.xy += qrv_pixelOffset * gl_Position.w;"), std::string::npos);
    EXPECT_EQ(out.glsl.find("flat"), std::string::npos);

    ASSERT_TRUE(TranslateShader(vs.data(), vs.size(), true, &out, &error)) << error;
    EXPECT_NE(out.glsl.find("flat out vec4 qrv_d0;"), std::string::npos);
    EXPECT_NE(out.glsl.find("flat out vec4 qrv_d1;"), std::string::npos);

    std::vector<DWORD> ps = Assemble("ps_2_0\n"
                                     "dcl_2d s0\n"
                                     "dcl_2d s3\n"
                                     "dcl t0\n"
                                     "dcl v0\n"
                                     "texld r0, t0, s3\n"
                                     "mul r0, r0, v0\n"
                                     "mov oC0, r0\n");
    ASSERT_TRUE(TranslateShader(ps.data(), ps.size(), true, &out, &error)) << error;
    EXPECT_TRUE(out.pixel);
    EXPECT_EQ(out.samplerMask, 1u << 3); // s0 is declared but never read
    EXPECT_TRUE(out.inputs.empty());
    EXPECT_NE(out.glsl.find("uniform sampler2D qrv_s3;"), std::string::npos);
    EXPECT_NE(out.glsl.find("flat in vec4 qrv_d0;"), std::string::npos);
    EXPECT_NE(out.glsl.find("layout(location = 0) out vec4 qrv_color;"), std::string::npos);

    std::vector<DWORD> ps14 = Assemble("ps_1_4\ntexld r2, t0\ntexld r4, t1\nmul r0, r2, r4\n");
    ASSERT_TRUE(TranslateShader(ps14.data(), ps14.size(), false, &out, &error)) << error;
    EXPECT_EQ(out.samplerMask, (1u << 2) | (1u << 4)); // ps_1_4 samples the stage its destination names
}

// ---- The GLSL on OpenGL --------------------------------------------------------------------------
GlslRunner *Runner() {
    GlslRunner *runner = GlslRunner::Get();
    if (!runner) ADD_FAILURE() << "no OpenGL 3.3 core context through EGL";
    return runner;
}

std::string Translate(const std::string &text, bool flat = false) {
    std::vector<DWORD> tokens = Assemble(text);
    TranslatedShader out;
    std::string error;
    EXPECT_TRUE(TranslateShader(tokens.data(), tokens.size(), flat, &out, &error)) << error << "\n" << text;
    return out.glsl;
}

// A quad over the whole target from position input v0; corners of clip space.
std::array<Vec4, 4> QuadCorners() {
    return {Vec4{-1, -1, 0.5f, 1}, Vec4{1, -1, 0.5f, 1}, Vec4{-1, 1, 0.5f, 1}, Vec4{1, 1, 0.5f, 1}};
}

std::array<Vec4, 4> Same(const Vec4 &v) { return {v, v, v, v}; }

void ExpectVec(const Vec4 &got, const Vec4 &want, float tolerance = 1e-5f) {
    for (int i = 0; i < 4; ++i) {
        if (std::isinf(want[i])) {
            EXPECT_EQ(got[i], want[i]) << "component " << i;
        } else {
            EXPECT_NEAR(got[i], want[i], tolerance * std::fmax(1.0f, std::fabs(want[i]))) << "component " << i;
        }
    }
}

const char kPassT0[] = "ps_2_0\ndcl t0\nmov oC0, t0\n";

// What a vertex shader leaves in oT0: the shader is the version line, a position
// input v0 written to oPos, then body.
Vec4 VertexResult(const std::string &version, const std::string &body, const std::vector<Vec4> &constants) {
    GlslRunner *runner = Runner();
    if (!runner) return {};
    QuadSetup setup;
    setup.width = setup.height = 1;
    setup.flatTexcoords = true;
    setup.vertexConstants = constants;
    setup.attributes[0] = QuadCorners();
    std::string vs = Translate(version + "\ndcl_position v0\nmov oPos, v0\n" + body);
    std::vector<Vec4> pixels;
    std::string log;
    EXPECT_TRUE(runner->Draw(vs, Translate(kPassT0), setup, &pixels, &log)) << log << vs;
    return pixels.empty() ? Vec4{} : pixels[0];
}

struct VertexCase {
    const char *name;
    const char *version;
    const char *body;
    std::vector<Vec4> constants;
    Vec4 want;
};

TEST(ShaderGlsl, VertexInstructionsGiveDirect3DResults) {
    const std::vector<VertexCase> cases = {
        {"add sub mul mad", "vs_1_1", "add r0, c0, c1\nsub r1, r0, c2\nmul r1, r1, c1\nmad oT0, r1, c0, c2",
         {{1, 2, 3, 4}, {0.5f, 0.5f, 2, -1}, {1, 1, 1, 1}}, {1.25f, 2.5f, 25, -7}},
        {"dp3 dp4 into masks", "vs_1_1", "dp3 oT0.x, c0, c1\ndp4 oT0.yw, c0, c1",
         {{1, 2, 3, 4}, {2, 3, 4, 5}}, {20, 40, 0, 40}},
        {"min max slt sge", "vs_1_1", "min r0, c0, c1\nmax r1, c0, c1\nslt r2, c0, c1\nsge r3, c0, c1\n"
                                      "mov oT0.x, r0.x\nmov oT0.y, r1.x\nmov oT0.z, r2.y\nmov oT0.w, r3.z",
         {{1, 5, 3, 0}, {2, 4, 3, 0}}, {1, 2, 0, 1}},
        {"rcp of 0 is +infinity, of 4 a quarter", "vs_1_1", "rcp oT0.x, c0.x\nrcp oT0.y, c0.y\nrcp oT0.z, c0.z",
         {{0, 4, 1, 0}}, {kInf, 0.25f, 1, 0}},
        {"rsq takes the magnitude; rsq 0 is +infinity", "vs_1_1", "rsq oT0.x, c0.x\nrsq oT0.y, c0.y\nrsq oT0.z, c0.z",
         {{-4, 0, 1, 0}}, {0.5f, kInf, 1, 0}},
        {"scalar instructions read w without a replicate swizzle", "vs_1_1", "rcp oT0, c0", {{8, 8, 8, 2}},
         {0.5f, 0.5f, 0.5f, 0.5f}},
        {"log of 0 is -infinity; log takes the magnitude", "vs_1_1", "log oT0.x, c0.x\nlog oT0.y, c0.y\nexp oT0.z, c0.z",
         {{0, -8, 3, 0}}, {-kInf, 3, 8, 0}},
        {"expp in vs_1_1", "vs_1_1", "expp oT0, c0.x", {{2.5f, 0, 0, 0}}, {4, 0.5f, 5.656854f, 1}},
        {"logp in vs_1_1", "vs_1_1", "logp oT0, c0.x", {{-10, 0, 0, 0}}, {3, 1.25f, 3.321928f, 1}},
        {"expp and logp in vs_2_0 are scalars", "vs_2_0", "expp oT0.xy, c0.x\nlogp oT0.zw, c0.y",
         {{3, 4, 0, 0}}, {8, 8, 2, 2}},
        {"lit", "vs_1_1", "lit oT0, c0", {{0.5f, 0.25f, 0, 2}}, {1, 0.5f, 0.0625f, 1}},
        {"lit facing away", "vs_1_1", "lit oT0, c0", {{-0.5f, 0.25f, 0, 2}}, {1, 0, 0, 1}},
        {"dst", "vs_1_1", "dst oT0, c0, c1", {{9, 2, 3, 9}, {9, 5, 9, 7}}, {1, 10, 3, 7}},
        {"frc", "vs_1_1", "frc oT0, c0", {{-1.25f, 2.5f, 0, 7}}, {0.75f, 0.5f, 0, 0}},
        {"m4x4", "vs_1_1", "m4x4 oT0, c0, c1",
         {{1, 2, 3, 4}, {1, 0, 0, 0}, {0, 0, 1, 0}, {1, 1, 1, 1}, {0, 0, 0, 2}}, {1, 3, 10, 8}},
        {"m4x3 and m3x2 leave the other components", "vs_1_1", "mov oT0, c4\nm4x3 oT0, c0, c1",
         {{1, 2, 3, 4}, {1, 0, 0, 0}, {0, 1, 0, 0}, {1, 1, 1, 1}, {7, 7, 7, 7}}, {1, 2, 10, 7}},
        {"m3x3", "vs_1_1", "m3x3 r0, c0, c1\nmov oT0, r0",
         {{1, 2, 3, 4}, {1, 1, 1, 1}, {0, 0, 1, 0}, {2, 0, 0, 9}}, {6, 3, 2, 0}},
        {"m3x2", "vs_1_1", "m3x2 r0, c0, c1\nmov oT0, r0", {{1, 2, 3, 4}, {1, 1, 1, 1}, {0, 0, 1, 5}},
         {6, 3, 0, 0}},
        {"swizzles and masks", "vs_1_1", "mov r0.xz, c0.wzyx\nmov r0.y, c0.y\nmov oT0, r0.zyxw", {{1, 2, 3, 4}},
         {2, 2, 4, 0}},
        {"short swizzles repeat their last component", "vs_1_1", "mov oT0, c0.yx", {{1, 2, 3, 4}}, {2, 1, 1, 1}},
        {"negation", "vs_1_1", "add oT0, -c0, c0.x", {{1, 2, -3, 4}}, {0, -1, 4, -3}},
        {"temporaries start at 0", "vs_1_1", "add oT0, r5, c0", {{1, 2, 3, 4}}, {1, 2, 3, 4}},
        {"def takes the place of the constant", "vs_1_1", "def c1, 5, 6, 7, 8\nmov oT0, c1",
         {{0, 0, 0, 0}, {9, 9, 9, 9}}, {5, 6, 7, 8}},
        {"relative constants in vs_1_1 (mov a0 floors)", "vs_1_1", "mov a0.x, c0.x\nmov oT0, c[a0.x + 2]",
         {{1.7f, 0, 0, 0}, {1, 1, 1, 1}, {2, 2, 2, 2}, {3, 3, 3, 3}, {4, 4, 4, 4}}, {3, 3, 3, 3}},
        {"relative constants outside the file read 0", "vs_1_1", "mov a0.x, c0.x\nmov oT0, c[a0.x + 1]",
         {{400, 0, 0, 0}, {1, 1, 1, 1}}, {0, 0, 0, 0}},
        {"relative reads see def", "vs_1_1", "def c3, 6, 6, 6, 6\nmov a0.x, c0.y\nmov oT0, c[a0.x + 1]",
         {{0, 2, 0, 0}}, {6, 6, 6, 6}},
        {"mova rounds to nearest", "vs_2_0", "mova a0.xy, c0\nmov oT0.x, c[a0.x + 1].x\nmov oT0.y, c[a0.y + 1].x",
         {{1.5f, 1.4f, 0, 0}, {10, 0, 0, 0}, {20, 0, 0, 0}, {30, 0, 0, 0}}, {30, 20, 0, 0}},
        {"mova rounds halves away from zero", "vs_2_0", "mova a0.x, c0.x\nmov oT0, c[a0.x + 3]",
         {{-1.5f, 0, 0, 0}, {5, 5, 5, 5}, {6, 6, 6, 6}}, {5, 5, 5, 5}},
        {"lrp", "vs_2_0", "lrp oT0, c0, c1, c2", {{0, 1, 0.25f, 0.5f}, {4, 4, 4, 4}, {8, 8, 8, 8}}, {8, 4, 7, 6}},
        {"pow takes the magnitude of its base", "vs_2_0", "pow oT0, c0.x, c0.y", {{-2, 3, 0, 0}}, {8, 8, 8, 8}},
        {"abs sgn", "vs_2_0", "abs r0, c0\nsgn r1, c0, r2, r3\nmov oT0.xy, r0\nmov oT0.zw, r1.xyxy",
         {{-2, 3, 0, 0}}, {2, 3, -1, 1}},
        {"nrm crs", "vs_2_0", "nrm r0, c0\ncrs r1.xyz, c1, c2\nmov oT0.x, r0.x\nmov oT0.yzw, r1.xxyz",
         {{3, 0, 4, 0}, {1, 0, 0, 0}, {0, 1, 0, 0}}, {0.6f, 0, 0, 1}},
        {"sincos", "vs_2_0", "sincos r0.xy, c0.x, c1, c2\nmov oT0, r0.xyxy", {{0, 0, 0, 0}}, {1, 0, 1, 0}},
    };
    for (const VertexCase &c : cases) {
        SCOPED_TRACE(c.name);
        ExpectVec(VertexResult(c.version, c.body, c.constants), c.want);
    }
}

TEST(ShaderGlsl, UnwrittenVertexOutputsAndColourClamp) {
    GlslRunner *runner = Runner();
    if (!runner) return;
    QuadSetup setup;
    setup.width = setup.height = 1;
    setup.flatTexcoords = true;
    setup.attributes[0] = QuadCorners();
    setup.vertexConstants = {{2, -1, 0.5f, 1}};
    std::vector<Vec4> pixels;
    std::string log;
    // oD0 not written: white; oT1 not written: 0.
    std::string vs = Translate("vs_1_1\ndcl_position v0\nmov oPos, v0\n", true);
    ASSERT_TRUE(runner->Draw(vs, Translate("ps_2_0\ndcl v0\nmov oC0, v0\n", true), setup, &pixels, &log)) << log;
    ExpectVec(pixels[0], {1, 1, 1, 1});
    ASSERT_TRUE(runner->Draw(vs, Translate("ps_2_0\ndcl t1\nmov oC0, t1\n", true), setup, &pixels, &log)) << log;
    ExpectVec(pixels[0], {0, 0, 0, 0});
    // Colours leave the vertex shader within [0, 1].
    vs = Translate("vs_1_1\ndcl_position v0\nmov oPos, v0\nmov oD1, c0\n", true);
    ASSERT_TRUE(runner->Draw(vs, Translate("ps_2_0\ndcl v1\nmov oC0, v1\n", true), setup, &pixels, &log)) << log;
    ExpectVec(pixels[0], {1, 0, 0.5f, 1});
}

// ---- Pixel shaders -------------------------------------------------------------------------------
struct PixelInputs {
    Vec4 t0{0, 0, 0, 0};
    Vec4 t1{0, 0, 0, 0};
    Vec4 v0{0, 0, 0, 0};
    Vec4 v1{0, 0, 0, 0};
};

const char kPixelFeeder[] = "vs_1_1\n"
                            "dcl_position v0\ndcl_texcoord0 v1\ndcl_texcoord1 v2\ndcl_color0 v3\ndcl_color1 v4\n"
                            "mov oPos, v0\nmov oT0, v1\nmov oT1, v2\nmov oD0, v3\nmov oD1, v4\n";

// The pixel a pixel shader makes from fixed inputs, read from a float target.
Vec4 PixelResult(const std::string &text, const PixelInputs &in, const std::vector<Vec4> &constants,
                 const QuadSetup::Texture *texture = nullptr, unsigned stage = 0) {
    GlslRunner *runner = Runner();
    if (!runner) return {};
    QuadSetup setup;
    setup.width = setup.height = 1;
    setup.flatTexcoords = true;
    setup.pixelConstants = constants;
    setup.attributes[0] = QuadCorners();
    setup.attributes[1] = Same(in.t0);
    setup.attributes[2] = Same(in.t1);
    setup.attributes[3] = Same(in.v0);
    setup.attributes[4] = Same(in.v1);
    if (texture) setup.textures[stage] = *texture;
    std::vector<Vec4> pixels;
    std::string log;
    std::string ps = Translate(text, true);
    EXPECT_TRUE(runner->Draw(Translate(kPixelFeeder, true), ps, setup, &pixels, &log)) << log << ps;
    return pixels.empty() ? Vec4{} : pixels[0];
}

struct PixelCase {
    const char *name;
    const char *text;
    PixelInputs in;
    std::vector<Vec4> constants;
    Vec4 want;
};

TEST(ShaderGlsl, PixelInstructionsGiveDirect3DResults) {
    const std::vector<PixelCase> cases = {
        {"ps_1_1 constants read within [-1, 1]", "ps_1_1\ndef c1, 2, -3, 0.5, 0\nadd r0, c0, c1", {},
         {{4, 0.25f, 0, -5}}, {2, -0.75f, 0.5f, -1}},
        {"ps_1_1 results stay within [-8, 8]", "ps_1_1\nadd_x4 r1, c0, c0\nadd_x4 r1, r1, r1\nmul r0, r1, c1", {},
         {{1, 1, 1, 1}, {0.125f, 0.125f, 0.125f, 0.125f}}, {1, 1, 1, 1}},
        {"ps_1_1 keeps values above 1", "ps_1_1\nadd r1, c0, c0\nsub r0, r1, c1", {},
         {{0.75f, 0.75f, 0.75f, 0.75f}, {1, 1, 1, 1}}, {0.5f, 0.5f, 0.5f, 0.5f}},
        {"ps_2_0 constants are not clamped", "ps_2_0\nmov oC0, c0", {}, {{4, -3, 0.5f, 100}}, {4, -3, 0.5f, 100}},
        {"source modifiers", "ps_1_1\nmov r0.r, c0_bias\nmov r0.g, c0_bx2\nmov r0.b, 1-c0\nmov r0.a, -c0_bx2", {},
         {{0.75f, 0.75f, 0.75f, 0.75f}}, {0.25f, 0.5f, 0.25f, -0.5f}},
        {"ps_1_4 _x2 source and shifts", "ps_1_4\nmov_d2 r0.r, c0_x2\nmov_x4 r0.g, c0\nmov_d8 r0.b, c1\n"
                                         "mov_x8 r0.a, c0",
         {}, {{0.25f, 0.25f, 0.25f, 0.25f}, {1, 1, 1, 1}}, {0.25f, 1, 0.125f, 2}},
        {"_sat", "ps_1_1\nadd_sat r0, c0, c1", {}, {{0.75f, -0.5f, 0.25f, 0}, {0.5f, 0, 0.25f, -0.5f}},
         {1, 0, 0.5f, 0}},
        {"texcoord clamps to [0, 1] and sets w to 1", "ps_1_1\ntexcoord t0\nmov r0, t0",
         {{1.5f, -0.5f, 0.25f, 7}}, {}, {1, 0, 0.25f, 1}},
        {"colour inputs", "ps_1_1\nmad r0, v0, c0, v1", {.v0 = {0.5f, 1, 0, 1}, .v1 = {0.25f, 0, 0, 0}},
         {{0.5f, 0.5f, 0.5f, 0.5f}}, {0.5f, 0.5f, 0, 0.5f}},
        {"cnd in ps_1_1 tests r0.a", "ps_1_1\nmov r0, c0\ncnd r0, r0.a, c1, c2", {},
         {{0, 0, 0, 0.75f}, {0.25f, 0.25f, 0.25f, 0.25f}, {0.5f, 0.5f, 0.5f, 0.5f}}, {0.25f, 0.25f, 0.25f, 0.25f}},
        {"cnd in ps_1_4 tests each component", "ps_1_4\ncnd r0, c0, c1, c2", {},
         {{0.75f, 0.5f, 0.25f, 1}, {1, 1, 1, 1}, {-1, -1, -1, -1}}, {1, -1, -1, 1}},
        {"cmp", "ps_2_0\ncmp r0, c0, c1, c2\nmov oC0, r0", {},
         {{0, -0.5f, 2, -0.0f}, {1, 1, 1, 1}, {-1, -1, -1, -1}}, {1, -1, 1, 1}},
        {"lrp", "ps_1_1\nlrp r0, c0, c1, c2", {}, {{0, 1, 0.5f, 0.25f}, {1, 1, 1, 1}, {0, 0, 0, 0}},
         {0, 1, 0.5f, 0.25f}},
        {"dp3 dp4 in ps_1_x", "ps_1_2\ndp3 r0.rgb, c0, c1\ndp4 r0.a, c0, c1", {},
         {{0.5f, 0.5f, 0.5f, 0.5f}, {0.5f, 0.5f, 0.5f, 1}}, {0.75f, 0.75f, 0.75f, 1.25f}},
        {"co-issued instructions read before either writes", "ps_1_1\nmov r0.rgb, c0\n+mov r0.a, r0.b", {},
         {{0.5f, 0.5f, 0.5f, 0.5f}}, {0.5f, 0.5f, 0.5f, 0}},
        {"ps_1_4 texcrd keeps the coordinates", "ps_1_4\ntexcrd r0.rgb, t0\nmov r0.a, c0",
         {{1.5f, -0.5f, 0.25f, 7}}, {{0.5f, 0, 0, 0.5f}}, {1.5f, -0.5f, 0.25f, 0.5f}},
        {"ps_1_4 _dw divides by w", "ps_1_4\ntexcrd r0.rg, t0_dw.xyw\nmov r0.ba, c0", {{1, 3, 0, 2}}, {{0, 0, 0, 0}},
         {0.5f, 1.5f, 0, 0}},
        {"ps_2_0 arithmetic", "ps_2_0\ndcl t0\nrcp r0.x, t0.x\nrsq r0.y, t0.y\nlog r0.z, t0.z\nexp r0.w, t0.w\n"
                              "mov oC0, r0",
         {{4, 16, 8, 3}}, {}, {0.25f, 0.25f, 3, 8}},
        {"ps_2_0 dp2add frc nrm", "ps_2_0\ndp2add r0.x, c0, c1, c2.x\nfrc r0.y, c0.w\nmov r0.zw, c3\nmov oC0, r0", {},
         {{1, 2, 0, 2.75f}, {3, 4, 0, 0}, {0.5f, 0, 0, 0}, {0, 0, 1, 1}}, {11.5f, 0.75f, 1, 1}},
    };
    for (const PixelCase &c : cases) {
        SCOPED_TRACE(c.name);
        ExpectVec(PixelResult(c.text, c.in, c.constants), c.want);
    }
}

TEST(ShaderGlsl, TexturesAreSampledFromTheirStage) {
    // 2 x 2 texels, first row at v = 0.
    QuadSetup::Texture texture{2, 2, {0xFF0000FF, 0x80FF0000, 0xFF00FF00, 0x00FFFFFF}};
    auto colour = [](uint32_t argb) {
        return Vec4{((argb >> 16) & 0xFF) / 255.0f, ((argb >> 8) & 0xFF) / 255.0f, (argb & 0xFF) / 255.0f,
                    (argb >> 24) / 255.0f};
    };
    PixelInputs in;
    in.t0 = {0.75f, 0.25f, 0, 1}; // texel (1, 0)
    in.t1 = {0.25f, 0.75f, 0, 1}; // texel (0, 1)
    in.v0 = {0.5f, 0.5f, 0.5f, 1};
    Vec4 modulated = colour(0x80FF0000);
    for (float &c : modulated) c *= 0.5f;
    modulated[3] = colour(0x80FF0000)[3];
    ExpectVec(PixelResult("ps_1_1\ntex t0\nmul r0, t0, v0", in, {}, &texture, 0), modulated);
    // Stage 1 samples at texture coordinate set 1.
    ExpectVec(PixelResult("ps_1_1\ntex t1\nmov r0, t1", in, {}, &texture, 1), colour(0xFF00FF00));
    ExpectVec(PixelResult("ps_1_4\ntexld r1, t0\nmov r0, r1", in, {}, &texture, 1), colour(0x80FF0000));
    ExpectVec(PixelResult("ps_2_0\ndcl_2d s2\ndcl t1\ntexld r0, t1, s2\nmov oC0, r0", in, {}, &texture, 2),
              colour(0xFF00FF00));
    // texldp divides by w: (1.5, 0.5) / 2 is texel (1, 0).
    in.t0 = {1.5f, 0.5f, 0, 2};
    ExpectVec(PixelResult("ps_2_0\ndcl_2d s0\ndcl t0\ntexldp r0, t0, s0\nmov oC0, r0", in, {}, &texture, 0),
              colour(0x80FF0000));
    // ps_1_4 phase: a dependent read at coordinates computed in phase 1.
    ExpectVec(PixelResult("ps_1_4\ntexcrd r1.rgb, t1\nphase\ntexld r0, r1", in, {}, &texture, 0),
              colour(0xFF00FF00));
}

TEST(ShaderGlsl, TexkillDiscardsThePixel) {
    PixelInputs in;
    in.t0 = {0.5f, -0.25f, 0.5f, 1};
    Vec4 cleared{-7, -7, -7, -7}; // the runner's clear value
    ExpectVec(PixelResult("ps_1_1\ntexkill t0\nmov r0, c0", in, {{1, 1, 1, 1}}), cleared);
    ExpectVec(PixelResult("ps_2_0\ndcl t0\ntexkill t0\nmov oC0, c0", in, {{1, 1, 1, 1}}), cleared);
    // Only x, y and z count in ps_1_x; ps_2_0 tests the components its mask names.
    in.t0 = {0.5f, 0.25f, 0.5f, -1};
    ExpectVec(PixelResult("ps_1_1\ntexkill t0\nmov r0, c0", in, {{1, 1, 1, 1}}), {1, 1, 1, 1});
    ExpectVec(PixelResult("ps_2_0\ndcl t0\ntexkill t0.xyz\nmov oC0, c0", in, {{1, 1, 1, 1}}), {1, 1, 1, 1});
}

} // namespace
