// The shader assembler and disassembler: tokens checked against encodings worked
// out by hand from the token format, failures with their lines, round trips
// through the disassembler, and the D3DX file entry with its buffers.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>

#include <unistd.h>

#include "platform/d3d9/shader_code.h"
#include "platform/d3d9/shader_glsl.h"
#include "platform/d3dx9/assembler.h"

using qrv::d3dx9::AssembleShader;
using qrv::d3dx9::DisassembleShader;

namespace {

constexpr DWORD kEnd = 0x0000FFFF;

std::vector<DWORD> Assemble(const std::string &text) {
    std::vector<DWORD> tokens;
    std::string messages;
    EXPECT_TRUE(AssembleShader(text, "test", &tokens, &messages)) << messages << text;
    return tokens;
}

std::string Hex(const std::vector<DWORD> &tokens) {
    std::string text;
    for (DWORD t : tokens) {
        char word[16];
        std::snprintf(word, sizeof word, "%08X ", t);
        text += word;
    }
    return text;
}

// ---- Encodings ---------------------------------------------------------------------------------
struct Encoding {
    const char *name;
    const char *text;
    std::vector<DWORD> tokens;
};

TEST(Assembler, MakesTheTokensOfTheDirect3DFormat) {
    // Parameter tokens: bit 31, register type in bits 28-30 (and 11-12), number in
    // bits 0-10; destinations carry the write mask in 16-19, result modifiers in
    // 20-23 and the shift in 24-27; sources the swizzle in 16-23 and the modifier
    // in 24-27. From 2_0 on, bits 24-27 of an instruction count its operand tokens.
    const std::vector<Encoding> cases = {
        {"vs_1_1 declaration and move", "vs_1_1\ndcl_position v0\nmov oPos, v0",
         {0xFFFE0101, 0x0000001F, 0x80000000, 0x900F0000, 0x00000001, 0xC00F0000, 0x90E40000, kEnd}},
        {"vs_2_0 instructions carry their length", "vs_2_0\ndcl_position v0\nmov oPos, v0",
         {0xFFFE0200, 0x0200001F, 0x80000000, 0x900F0000, 0x02000001, 0xC00F0000, 0x90E40000, kEnd}},
        {"usages and indices", "vs_1_1\ndcl_position v0\ndcl_color v1\ndcl_texcoord1 v2\ndcl_normal v3\nmov oPos, v0",
         {0xFFFE0101, 0x0000001F, 0x80000000, 0x900F0000, 0x0000001F, 0x8000000A, 0x900F0001, 0x0000001F,
          0x80010005, 0x900F0002, 0x0000001F, 0x80000003, 0x900F0003, 0x00000001, 0xC00F0000, 0x90E40000, kEnd}},
        {"masks, swizzles and negation",
         "vs_1_1\ndcl_position v0\ndp4 oPos.x, v0, c0.yx\nmad oPos.yzw, v0, -c1.w, c2.xyz\nmov oD1.xw, c3",
         {0xFFFE0101, 0x0000001F, 0x80000000, 0x900F0000, 0x00000009, 0xC0010000, 0x90E40000, 0xA0010000,
          0x00000004, 0xC00E0000, 0x90E40000, 0xA1FF0001, 0xA0A40002, 0x00000001, 0xD0090001, 0xA0E40003, kEnd}},
        {"the output registers", "vs_1_1\ndcl_position v0\nmov oPos, v0\nmov oD0, v0\nmov oT7, v0\nmov oFog, v0.x\n"
                                 "mov oPts, v0.x",
         {0xFFFE0101, 0x0000001F, 0x80000000, 0x900F0000, 0x00000001, 0xC00F0000, 0x90E40000, 0x00000001,
          0xD00F0000, 0x90E40000, 0x00000001, 0xE00F0007, 0x90E40000, 0x00000001, 0xC00F0001, 0x90000000,
          0x00000001, 0xC00F0002, 0x90000000, kEnd}},
        {"relative constants in vs_1_1", "vs_1_1\ndcl_position v0\nmov a0.x, v0.x\nmov oPos, c[a0.x + 5]",
         {0xFFFE0101, 0x0000001F, 0x80000000, 0x900F0000, 0x00000001, 0xB0010000, 0x90000000, 0x00000001,
          0xC00F0000, 0xA0E42005, kEnd}},
        {"relative constants in vs_2_0 name their address register",
         "vs_2_0\ndcl_position v0\nmova a0.y, v0.x\nmov oPos, c3[a0.y]",
         {0xFFFE0200, 0x0200001F, 0x80000000, 0x900F0000, 0x0200002E, 0xB0020000, 0x90000000, 0x03000001,
          0xC00F0000, 0xA0E42003, 0xB0550000, kEnd}},
        {"ps_1_1 texture, modifiers and co-issue",
         "ps_1_1\ntex t0\nmul_x2_sat r0.rgb, t0_bx2, 1-v0\n+mov_d2 r0.a, -v1_bias.a",
         {0xFFFF0101, 0x00000042, 0xB00F0000, 0x00000005, 0x81170000, 0xB4E40000, 0x96E40000, 0x40000001,
          0x8F080000, 0x93FF0001, kEnd}},
        {"ps_1_4 texld, texcrd with _dw, phase", "ps_1_4\ntexcrd r1.rgb, t1_dw.xyw\nphase\ntexld r0, r1\n",
         {0xFFFF0104, 0x00000040, 0x80070001, 0xBAF40001, 0x0000FFFD, 0x00000042, 0x800F0000, 0x80E40001, kEnd}},
        {"ps_2_0 declarations, definitions and sampling",
         "ps_2_0\ndcl_2d s0\ndcl t0.xy\ndef c2, 1.0, -0.5, 0, 2\ntexldp r0, t0, s0\nmul_pp r0, r0, c2\nmov oC0, r0",
         {0xFFFF0200, 0x0200001F, 0x90000000, 0xA00F0800, 0x0200001F, 0x80000000, 0xB0030000, 0x05000051,
          0xA00F0002, 0x3F800000, 0xBF000000, 0x00000000, 0x40000000, 0x03010042, 0x800F0000, 0xB0E40000,
          0xA0E40800, 0x03000005, 0x802F0000, 0x80E40000, 0xA0E40002, 0x02000001, 0x800F0800, 0x80E40000,
          kEnd}},
        {"integer and boolean definitions", "vs_2_0\ndcl_position v0\ndefi i0, 1, -2, 3, 4\ndefb b1, true\n"
                                            "mov oPos, v0",
         {0xFFFE0200, 0x0200001F, 0x80000000, 0x900F0000, 0x05000030, 0xF00F0000, 1, 0xFFFFFFFE, 3, 4,
          0x0200002F, 0xE00F0801, 1, 0x02000001, 0xC00F0000, 0x90E40000, kEnd}},
        {"case, comments and the D3D8-style version",
         "VS.1.1 ; version\n  DCL_Position V0 // the position\n/* a block\n comment */ MOV oPOS, V0\n",
         {0xFFFE0101, 0x0000001F, 0x80000000, 0x900F0000, 0x00000001, 0xC00F0000, 0x90E40000, kEnd}},
    };
    for (const Encoding &c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<DWORD> tokens = Assemble(c.text);
        EXPECT_EQ(tokens, c.tokens) << "got    " << Hex(tokens) << "\nwanted " << Hex(c.tokens);
    }
}

// ---- Failures ----------------------------------------------------------------------------------
struct BadText {
    const char *text;
    int line;
    const char *what;
};

TEST(Assembler, NamesTheLineOfEachFailure) {
    const std::string pos = "vs_1_1\ndcl_position v0\n";
    const std::vector<BadText> cases = {
        {"", 1, "holds no shader"},
        {"\n\n; only a comment\n", 1, "holds no shader"},
        {"mov r0, v0", 1, "must start with its version"},
        {"vs_3_0", 1, "not supported"},
        {"ps_2_x", 1, "unknown shader version"},
        {"vs_1_1 mov", 1, "after the version"},
        {"vs_1_1\nvs_1_1", 2, "a second version"},
        {"#define X 1\nvs_1_1", 1, "must start with its version"},
        {"vs_1_1\n#include \"x\"", 2, "preprocessor"},
        {"vs_1_1\ndcl_position v0\n\nfoo oPos, v0", 4, "unknown instruction 'foo'"},
        {"vs_1_1\ndcl_position v0\nmov oPos, q0", 3, "unknown register 'q0'"},
        {"vs_1_1\ndcl_position v0\nmov oPos v0", 3, "takes 2 operands, not 1"},
        {"vs_1_1\ndcl_position v0\nmov oPos, v0,", 3, "missing operand"},
        {"vs_1_1\ndcl_position v0\nadd oPos, v0", 3, "takes 3 operands, not 2"},
        {"vs_1_1\ndcl_position v0\nmov oPos.zx, v0", 3, "bad write mask"},
        {"vs_1_1\ndcl_position v0\nmov oPos, v0.xyzwx", 3, "bad swizzle"},
        {"vs_1_1\ndcl_position v0\nmov oPos, v0.rgzw", 3, "bad swizzle"},
        {"vs_1_1\ndcl_position v0\nmov oPos, v0.x.y", 3, "two swizzles"},
        {"vs_1_1\ndcl_position v0\nmov oPos, v1", 3, "v1 is read but not declared"},
        {"vs_1_1\ndcl_position v0\nmov oPos, c256", 3, "c256 does not exist"},
        {"vs_1_1\ndcl_position v0\nmov oPos, c99999", 3, "register number too large"},
        {"vs_1_1\ndcl_position v0\nmov oPos, c[a0.x + 1000000]", 3, "bad offset"},
        {"vs_1_1\ndcl_position v0\nmov oPos, c[a0.y]", 3, "needs a0.x"},
        {"vs_1_1\ndcl_position v0\nmov oPos, v0[a0.x]", 3, "only constants take a relative address"},
        {"vs_1_1\ndcl_position v0\nmov_sat oPos, v0", 3, "_sat is not available"},
        {"vs_1_1\ndcl_position v0\nmova a0.x, v0\nmov oPos, v0", 3, "'mova' is not available in vs_1_1"},
        {"vs_2_0\ndcl_position v0\nmov a0.x, v0\nmov oPos, v0", 3, "a0 can only be written by mova"},
        {"vs_1_1\ndcl v0\nmov oPos, v0", 2, "needs a usage"},
        {"vs_1_1\ndcl_foo v0\nmov oPos, v0", 2, "unknown declaration"},
        {"vs_1_1\ndcl_position v0\ndcl_normal v0\nmov oPos, v0", 3, "v0 is declared twice"},
        {"vs_1_1\ndcl_position v0\nmov oPos.xyz, v0\n\n", 3, "every component of oPos"},
        {"vs_1_1\ndcl_position v0\nmov oD0, v0\n; end", 3, "does not write oPos"},
        {"ps_1_1\nmov r2, c0", 2, "r2 does not exist"},
        {"ps_1_1\nmov r0, c8", 2, "c8 does not exist"},
        {"ps_1_1\nmov_x3 r0, c0", 2, "instruction modifier '_x3'"},
        {"ps_1_1\nmov_x8 r0, c0", 2, "need ps_1_4"},
        {"ps_1_1\nmov r0, c0_foo", 2, "unknown source modifier '_foo'"},
        {"ps_1_1\nmov r0, -1-c0", 2, "cannot be combined"},
        {"ps_1_1\ndef c0, 1, 2, x, 4", 2, "bad number 'x'"},
        {"ps_1_1\ndef c0, 1, 2, 3", 2, "def takes a register and 4 values"},
        {"ps_1_1\nmov r0, c0\ntex t0", 3, "follows an arithmetic instruction"},
        {"ps_1_1\n+mov r0, c0", 2, "must pair with an arithmetic instruction"},
        {"ps_1_1\ntexld r0, t0", 2, "'texld' is not available in ps_1_1"},
        {"ps_1_4\nmov r0, t0", 2, "only texld and texcrd can read t0"},
        {"ps_1_4\ntexld r0, r1", 2, "after phase"},
        {"ps_2_0\nslt r0, c0, c1\nmov oC0, r0", 2, "'slt' is not available in ps_2_0"},
        {"ps_2_0\ntex r0\nmov oC0, r0", 2, "'tex' is not available in ps_2_0"},
        {"ps_2_0\ndcl t0\ntexld r0, t0, s0\nmov oC0, r0", 3, "s0 is read but not declared"},
        {"ps_2_0\ndcl s0\nmov oC0, c0", 2, "needs a texture type"},
        {"ps_2_0\ndcl_2d t0\nmov oC0, c0", 2, "only samplers take a texture type"},
        {"ps_2_0\nmov_sat oC0, c0", 2, "_sat cannot be used when writing oC0"},
        {"ps_2_0\nadd oC0, c0, c0", 2, "oC0 can only be written by mov"},
        {"ps_2_0\nmov oC0, c0.x", 2, "takes no swizzle"},
        {"ps_2_0\nmov r0, c0\n", 2, "does not write oC0"},
        {"ps_2_0\nmov oC0, c0\nmov oC0, c1", 3, "oC0 is written twice"},
        {"ps_2_0\nmov oC0, c0\nmov oC0.x\x01, c1", 3, "unexpected '\\x01"},
    };
    for (const BadText &c : cases) {
        SCOPED_TRACE(c.text);
        std::vector<DWORD> tokens = {1, 2, 3};
        std::string messages;
        EXPECT_FALSE(AssembleShader(c.text, "bad.vsh", &tokens, &messages));
        EXPECT_TRUE(tokens.empty());
        std::string where = "bad.vsh(" + std::to_string(c.line) + "): error: ";
        EXPECT_EQ(messages.rfind(where, 0), 0u) << messages;
        EXPECT_NE(messages.find(c.what), std::string::npos) << messages;
    }
}

TEST(Assembler, ReportsEveryBadLineAndSurvivesAnyBytes) {
    std::string messages;
    std::vector<DWORD> tokens;
    EXPECT_FALSE(AssembleShader("ps_1_1\nmov r9, c0\nmov r0, c0\nfoo\nmov r0, c0_bad\n", "x", &tokens, &messages));
    EXPECT_EQ(messages, "x(2): error: register r9 does not exist in ps_1_1\n"
                        "x(4): error: unknown instruction 'foo'\n"
                        "x(5): error: unknown source modifier '_bad'\n");
    // Many bad lines: the report stays bounded.
    std::string many = "ps_1_1\n";
    for (int i = 0; i < 500; ++i) many += "bad\n";
    EXPECT_FALSE(AssembleShader(many, "x", &tokens, &messages));
    EXPECT_LT(messages.size(), 4000u);
    EXPECT_NE(messages.find("450 more errors"), std::string::npos);
    // Bytes that are not text at all.
    std::string binary = "vs_1_1\n";
    for (int i = 0; i < 256; ++i) binary += static_cast<char>(i);
    binary += "\nmov oPos, c[a0.x+]\nmov oPos, c[\nmov oPos, c[+1]\n";
    EXPECT_FALSE(AssembleShader(binary, "x", &tokens, &messages));
    EXPECT_FALSE(AssembleShader(std::string_view("vs_1_1\0mov", 10), "x", &tokens, &messages));
}

// ---- Round trips ---------------------------------------------------------------------------------
TEST(Disassembler, RoundTripsThroughText) {
    const std::vector<std::string> programs = {
        "vs_1_1\ndcl_position v0\ndcl_color v1\ndcl_texcoord v2\ndp4 oPos.x, v0, c0\ndp4 oPos.y, v0, c1\n"
        "dp4 oPos.z, v0, c2\ndp4 oPos.w, v0, c3\nmov oD0, v1\nmov oT0, v2\n",
        "vs_1_1\ndcl_position v0\ndcl_normal v1\ndcl_blendweight2 v4\ndef c90, 0.5, -1e-07, 3.40282347e+38, 0\n"
        "m4x4 oPos, v0, c0\nm3x3 r0.xyz, v1, c4\ndp3 r1.x, r0, c[a0.x + 10]\nmov a0.x, v4.w\nrsq r1.y, r1.x\n"
        "lit r2, r1.yxzw\nexpp r3, r1.y\nlogp r3.w, -r1.x\nslt r4, r2, c7.xyzz\nsge r4.w, r2, -c7.y\n"
        "frc r5.xy, r4\nm4x3 oT1.xyz, r5, c8\nm3x2 oT2.xy, r5, c11\nm3x4 oT3, r5, c13\nmin oD0, r2, c1\n"
        "max oD1, r2, c2\nmov oFog, r3.z\nmov oPts, r3.w\nexp oT4.x, c3.x\nlog oT4.y, c3.y\ndst oT5, r1, r2\n"
        "nop\n",
        "vs_2_0\ndcl_position v0\ndcl_texcoord3 v7\ndefi i0, 3, 0, 1, 0\ndefb b2, false\nmova a0.xyzw, v7\n"
        "mov oPos, c[a0.w + 2]\npow r0, v7.x, v7.y\nabs r1, -r0\nnrm r2, r1\ncrs r3.xyz, r2, r1\n"
        "sgn r4, r3, r5, r6\nsincos r7.xy, r4.w, c0, c1\nlrp oT0, r7, r4, r3\nexpp oT1, r7.z\n",
        "ps_1_1\ndef c7, 1, 0.25, 0, -1\ntex t0\ntexcoord t1\ntexkill t2\nmul_x2 r0.rgb, t0_bx2, v0_bias\n"
        "+mad_sat r0.a, 1-t1.a, c7.b, -v1_bx2.a\ncnd_d2 r1, r0.a, c7, -c1\nlrp r0, v0, r1, c2\ndp3_x4 r1, r0, r1\n",
        "ps_1_3\ntex t0\ntexbem t1, t0\ntexm3x2pad t2, t0_bx2\ntexm3x2tex t3, t0_bx2\ncmp r0, t1, t2, t3\n"
        "dp4 r1, r0, t3\n",
        "ps_1_4\ndef c0, 0.5, 0.5, 0.5, 1\ntexld r0, t0\ntexcrd r1.rgb, t1_dz.xyz\nmul_x8 r2, r0_x2, -c0_x2\n"
        "bem r4.rg, r0, r1\nphase\ntexld r3, r1\ncnd_d8 r0, r2, r3, c0\n",
        "ps_2_0\ndcl_2d s0\ndcl_2d s15\ndcl t0.xy\ndcl v1.rgb\ndcl_pp t7\ndcl_centroid t3\ndef c31, 0, 1, 2, 3\n"
        "texld_pp r0, t0, s0\ntexldb r1, t7, s15\ntexldp r2, t3, s0\nrcp r3.x, r0.w\nmad_sat r4, r0, v1, c31\n"
        "dp2add r5, r4, r2, c31.x\ncmp r6, -r5, r4, r1\ntexkill r6\nsincos_pp r7.xy, r3.x, c0, c1\n"
        "m3x3 r8.xyz, r7, c4\nmov oC0, r8\nmov oC1, r2\nmov oDepth, r3.x\n",
    };
    for (const std::string &text : programs) {
        SCOPED_TRACE(text);
        std::vector<DWORD> tokens = Assemble(text);
        std::string again, error;
        ASSERT_TRUE(DisassembleShader(tokens.data(), tokens.size(), &again, &error)) << error;
        std::vector<DWORD> retokens = Assemble(again);
        EXPECT_EQ(retokens, tokens) << again;
        std::string third;
        ASSERT_TRUE(DisassembleShader(retokens.data(), retokens.size(), &third, &error)) << error;
        EXPECT_EQ(third, again);
    }
}

TEST(Disassembler, WritesTheUsualSpelling) {
    std::vector<DWORD> tokens = Assemble("ps_1_1\ntex t0\nmul_sat r0.rgb, t0, -v0_bx2.a\n+mov r0.a, 1-c0\n");
    std::string text, error;
    ASSERT_TRUE(DisassembleShader(tokens.data(), tokens.size(), &text, &error)) << error;
    EXPECT_EQ(text, "ps_1_1\ntex t0\nmul_sat r0.xyz, t0, -v0_bx2.w\n+mov r0.w, 1-c0\n");
    // A comment becomes a comment line; a stream Decode refuses gives its reason.
    const std::vector<DWORD> commented = {0xFFFF0101, 0x0002FFFE, 7, 8, 0x00000001, 0x800F0000, 0xA0E40000, kEnd};
    ASSERT_TRUE(DisassembleShader(commented.data(), commented.size(), &text, &error)) << error;
    EXPECT_EQ(text, "ps_1_1\n// comment of 2 tokens\nmov r0, c0\n");
    EXPECT_FALSE(DisassembleShader(commented.data(), 3, &text, &error));
    EXPECT_NE(error.find("comment runs past"), std::string::npos);
}

// ---- The D3DX entry and its buffers ---------------------------------------------------------------
class TempFile {
public:
    TempFile(const std::string &name, const std::string &text)
        : path_(std::filesystem::temp_directory_path() /
                ("qrv-asm-" + std::to_string(::getpid()) + "-" + name)) {
        std::ofstream(path_, std::ios::binary) << text;
    }
    ~TempFile() { std::filesystem::remove(path_); }
    std::string Path() const { return path_.string(); }

private:
    std::filesystem::path path_;
};

std::string BufferText(ID3DXBuffer *buffer) {
    const char *p = static_cast<const char *>(buffer->GetBufferPointer());
    DWORD size = buffer->GetBufferSize();
    EXPECT_GT(size, 0u);
    EXPECT_EQ(p[size - 1], '\0');
    return std::string(p, size ? size - 1 : 0);
}

TEST(D3DXAssembleShaderFromFile, GivesTheTokensInAReferenceCountedBuffer) {
    const std::string text = "vs_1_1\ndcl_position v0\nmov oPos, v0\n";
    TempFile file("good.vsh", text);
    ID3DXBuffer *shader = nullptr, *errors = reinterpret_cast<ID3DXBuffer *>(1);
    ASSERT_EQ(D3DXAssembleShaderFromFileA(file.Path().c_str(), nullptr, nullptr, 0, &shader, &errors), S_OK);
    EXPECT_EQ(errors, nullptr);
    ASSERT_NE(shader, nullptr);
    std::vector<DWORD> wanted = Assemble(text);
    ASSERT_EQ(shader->GetBufferSize(), wanted.size() * sizeof(DWORD));
    EXPECT_EQ(std::memcmp(shader->GetBufferPointer(), wanted.data(), shader->GetBufferSize()), 0);
    EXPECT_EQ(shader->AddRef(), 2u);
    EXPECT_EQ(shader->Release(), 1u);
    EXPECT_EQ(shader->Release(), 0u);
}

TEST(D3DXAssembleShaderFromFile, FailuresLeaveNoShaderAndSayWhy) {
    TempFile bad("bad.psh", "ps_1_1\n\nmov r0, q1\n");
    ID3DXBuffer *shader = reinterpret_cast<ID3DXBuffer *>(1), *errors = nullptr;
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(D3DXAssembleShaderFromFileA(bad.Path().c_str(), nullptr, nullptr, 0, &shader, &errors),
              D3DXERR_INVALIDDATA);
    std::string printed = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(shader, nullptr);
    ASSERT_NE(errors, nullptr);
    std::string message = BufferText(errors);
    EXPECT_EQ(message, bad.Path() + "(3): error: unknown register 'q1' in ps_1_1\n");
    EXPECT_EQ(printed, message);
    errors->Release();

    // No error buffer asked for: the message still reaches stderr.
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(D3DXAssembleShaderFromFileA(bad.Path().c_str(), nullptr, nullptr, 0, &shader, nullptr),
              D3DXERR_INVALIDDATA);
    EXPECT_NE(::testing::internal::GetCapturedStderr().find("(3): error:"), std::string::npos);

    // A missing file is invalid data too, with the file named.
    std::string missing = bad.Path() + ".missing";
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(D3DXAssembleShaderFromFileA(missing.c_str(), nullptr, nullptr, 0, &shader, &errors),
              D3DXERR_INVALIDDATA);
    ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(shader, nullptr);
    ASSERT_NE(errors, nullptr);
    EXPECT_EQ(BufferText(errors).rfind(missing + ": error: cannot open the file", 0), 0u);
    errors->Release();

    ::testing::internal::CaptureStderr();
    EXPECT_EQ(D3DXAssembleShaderFromFileA(nullptr, nullptr, nullptr, 0, &shader, nullptr), D3DERR_INVALIDCALL);
    EXPECT_EQ(D3DXAssembleShaderFromFileA(bad.Path().c_str(), nullptr, nullptr, 0, nullptr, nullptr),
              D3DERR_INVALIDCALL);
    int defines = 0;
    EXPECT_EQ(D3DXAssembleShaderFromFileA(bad.Path().c_str(), &defines, nullptr, 0, &shader, nullptr), E_NOTIMPL);
    ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(shader, nullptr);
}

TEST(D3DXCreateBuffer, IsZeroedAndCounted) {
    ID3DXBuffer *buffer = nullptr;
    ASSERT_EQ(D3DXCreateBuffer(16, &buffer), S_OK);
    ASSERT_EQ(buffer->GetBufferSize(), 16u);
    const unsigned char *bytes = static_cast<const unsigned char *>(buffer->GetBufferPointer());
    for (int i = 0; i < 16; ++i) EXPECT_EQ(bytes[i], 0);
    EXPECT_EQ(buffer->Release(), 0u);
    EXPECT_EQ(D3DXCreateBuffer(16, nullptr), D3DERR_INVALIDCALL);
}

// ---- The StandaloneEngine's shader files ------------------------------------------------------------
TEST(ShaderFiles, AssembleAndTranslate) {
    struct File {
        const char *name;
        bool pixel;
    };
    for (const File &f : {File{"relief.vsh", false}, File{"relief.psh", true}, File{"texture.ps", true}}) {
        SCOPED_TRACE(f.name);
        std::string path = std::string(QRV_SHADER_DIR) + "/" + f.name;
        ID3DXBuffer *shader = nullptr;
        ASSERT_EQ(D3DXAssembleShaderFromFileA(path.c_str(), nullptr, nullptr, 0, &shader, nullptr), S_OK);
        qrv::d3d9::TranslatedShader out;
        std::string error;
        EXPECT_TRUE(qrv::d3d9::TranslateShader(static_cast<const DWORD *>(shader->GetBufferPointer()),
                                               shader->GetBufferSize() / sizeof(DWORD), false, &out, &error))
            << error;
        EXPECT_EQ(out.pixel, f.pixel);
        shader->Release();
    }
}

} // namespace
