// Shader programs assembled from text, run through the OpenGL device the way the
// StandaloneEngine draws (three streams, an indexed triangle list, c0..c3 holding
// the transposed transform), and checked by the pixels of the presented frame.
#include <gtest/gtest.h>

#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "d3d9_test_support.h"
#include "platform/d3dx9/assembler.h"

namespace qrv::d3d9::testing {
namespace {

constexpr int kSize = 16;
constexpr uint32_t kClear = 0xFF000000u;

std::string ShaderFile(const char *name) { return std::string(QRV_SHADER_DIR) + "/" + name; }

// Assembles a file through the D3DX entry, or text through the assembler.
std::vector<DWORD> Tokens(const std::string &source) {
    std::vector<DWORD> tokens;
    if (source.rfind(QRV_SHADER_DIR, 0) == 0) {
        ID3DXBuffer *buffer = nullptr;
        EXPECT_EQ(D3DXAssembleShaderFromFileA(source.c_str(), nullptr, nullptr, 0, &buffer, nullptr), S_OK);
        if (!buffer) return tokens;
        const DWORD *p = static_cast<const DWORD *>(buffer->GetBufferPointer());
        tokens.assign(p, p + buffer->GetBufferSize() / sizeof(DWORD));
        buffer->Release();
        return tokens;
    }
    std::string messages;
    EXPECT_TRUE(qrv::d3dx9::AssembleShader(source, "test", &tokens, &messages)) << messages << source;
    return tokens;
}

// c0..c3 for a transform given in Direct3D's row-vector form (p x M): its transpose.
std::vector<float> Transposed(const float m[16]) {
    std::vector<float> t(16);
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 4; ++c) t[static_cast<size_t>(c * 4 + r)] = m[r * 4 + c];
    return t;
}

const float kIdentity[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};

struct Probe {
    int x, y;
    uint32_t colour; // 0xFFRRGGBB
};

struct Program {
    const char *name;
    std::string vertex;
    std::string pixel;
    std::vector<float> vertexConstants; // from c0; empty: the identity in c0..c3
    std::vector<float> pixelConstants;  // from c0
    std::array<uint32_t, 4> colours;    // corners: top left, top right, bottom left, bottom right
    bool textured;
    std::vector<Probe> probes;
};

// 2 x 2 texels: top left, top right / bottom left, bottom right.
constexpr uint32_t kTexels[4] = {0xFFFF0000u, 0xFF00FF00u, 0xFF0000FFu, 0xFFFFFFFFu};

class ShaderDeviceTest : public ThreeStreamDeviceTest {
protected:
    ShaderDeviceTest() : ThreeStreamDeviceTest(kSize) {}

    void SetUp() override {
        ThreeStreamDeviceTest::SetUp();
        if (HasFatalFailure()) return;
        const float positions[] = {-1, 1, 0.5f, 1, 1, 0.5f, -1, -1, 0.5f, 1, -1, 0.5f};
        const float texcoords[] = {0, 0, 1, 0, 0, 1, 1, 1};
        const uint16_t indices[] = {0, 1, 2, 2, 1, 3};
        positions_.p = Buffer(positions, sizeof positions);
        texcoords_.p = Buffer(texcoords, sizeof texcoords);
        ASSERT_EQ(device_->CreateIndexBuffer(sizeof indices, 0, D3DFMT_INDEX16, D3DPOOL_MANAGED, &indices_, nullptr),
                  D3D_OK);
        void *data = nullptr;
        ASSERT_EQ(indices_->Lock(0, 0, &data, 0), D3D_OK);
        std::memcpy(data, indices, sizeof indices);
        indices_->Unlock();

        ASSERT_EQ(device_->CreateTexture(2, 2, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &texture_, nullptr), D3D_OK);
        D3DLOCKED_RECT locked{};
        ASSERT_EQ(texture_->LockRect(0, &locked, nullptr, 0), D3D_OK);
        for (int y = 0; y < 2; ++y)
            std::memcpy(static_cast<uint8_t *>(locked.pBits) + y * locked.Pitch, &kTexels[y * 2], 8);
        texture_->UnlockRect(0);
    }

    IDirect3DVertexBuffer9 *Buffer(const void *bytes, UINT size) {
        IDirect3DVertexBuffer9 *buffer = nullptr;
        EXPECT_EQ(device_->CreateVertexBuffer(size, 0, 0, D3DPOOL_MANAGED, &buffer, nullptr), D3D_OK);
        void *data = nullptr;
        if (buffer && SUCCEEDED(buffer->Lock(0, 0, &data, 0))) {
            std::memcpy(data, bytes, size);
            buffer->Unlock();
        }
        return buffer;
    }

    // Draws the quad through the program's shaders; false when the device refuses them.
    bool Draw(const Program &program) {
        Ref<IDirect3DVertexShader9> vs;
        Ref<IDirect3DPixelShader9> ps;
        std::vector<DWORD> vt = Tokens(program.vertex), pt = Tokens(program.pixel);
        if (vt.empty() || pt.empty()) return false;
        if (device_->CreateVertexShader(vt.data(), &vs) != D3D_OK) return false;
        if (device_->CreatePixelShader(pt.data(), &ps) != D3D_OK) return false;
        Ref<IDirect3DVertexBuffer9> colours(Buffer(program.colours.data(), sizeof program.colours));

        device_->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, kClear, 1.0f, 0);
        EXPECT_EQ(device_->BeginScene(), D3D_OK);
        std::vector<float> vc = program.vertexConstants.empty() ? Transposed(kIdentity) : program.vertexConstants;
        device_->SetVertexShaderConstantF(0, vc.data(), static_cast<UINT>(vc.size() / 4));
        if (!program.pixelConstants.empty()) {
            device_->SetPixelShaderConstantF(0, program.pixelConstants.data(),
                                             static_cast<UINT>(program.pixelConstants.size() / 4));
        }
        device_->SetVertexDeclaration(declaration_.get());
        device_->SetStreamSource(0, positions_.get(), 0, 12);
        device_->SetStreamSource(1, colours.get(), 0, 4);
        device_->SetStreamSource(2, texcoords_.get(), 0, 8);
        device_->SetIndices(indices_.get());
        device_->SetVertexShader(vs.get());
        device_->SetPixelShader(ps.get());
        device_->SetTexture(0, program.textured ? texture_.get() : nullptr);
        EXPECT_EQ(device_->DrawIndexedPrimitive(D3DPT_TRIANGLELIST, 0, 0, 4, 0, 2), D3D_OK);
        device_->EndScene();
        device_->SetVertexShader(nullptr);
        device_->SetPixelShader(nullptr);
        device_->SetTexture(0, nullptr);
        return device_->Present(nullptr, nullptr, nullptr, nullptr) == D3D_OK;
    }

    void Check(const Program &program) {
        SCOPED_TRACE(program.name);
        ASSERT_TRUE(Draw(program));
        for (const Probe &p : program.probes) {
            uint32_t got = window_.At(p.x, p.y);
            EXPECT_TRUE(Near(got, p.colour, 3)) << "at (" << p.x << ", " << p.y << ") got " << std::hex << got
                                                << " wanted " << p.colour;
        }
    }

    Ref<IDirect3DVertexBuffer9> positions_, texcoords_;
    Ref<IDirect3DIndexBuffer9> indices_;
    Ref<IDirect3DTexture9> texture_;
};

std::vector<Probe> Quadrants(uint32_t topLeft, uint32_t topRight, uint32_t bottomLeft, uint32_t bottomRight) {
    return {{4, 4, topLeft}, {11, 4, topRight}, {4, 11, bottomLeft}, {11, 11, bottomRight}};
}

std::vector<Probe> Everywhere(uint32_t colour) { return Quadrants(colour, colour, colour, colour); }

const std::array<uint32_t, 4> kRed = {0xFFFF0000u, 0xFFFF0000u, 0xFFFF0000u, 0xFFFF0000u};

TEST_F(ShaderDeviceTest, TheStandaloneEngineShadersDrawWhereTheTransformPutsThem) {
    // Half size, moved right by half the view: x from 0 to 1, y from -0.5 to 0.5.
    const float moved[16] = {0.5f, 0, 0, 0, 0, 0.5f, 0, 0, 0, 0, 1, 0, 0.5f, 0, 0, 1};
    Check({"relief.vsh and relief.psh: vertex colour inside the moved quad only",
           ShaderFile("relief.vsh"),
           ShaderFile("relief.psh"),
           Transposed(moved),
           {},
           kRed,
           false,
           {{12, 8, 0xFFFF0000u}, {9, 5, 0xFFFF0000u}, {4, 8, kClear}, {12, 2, kClear}, {12, 13, kClear}}});
    // The same with m4x4 in vs_2_0: the four dp4 in one instruction.
    Check({"m4x4 in vs_2_0 places it the same",
           "vs_2_0\ndcl_position v0\ndcl_color v1\nm4x4 oPos, v0, c0\nmov oD0, v1\n",
           ShaderFile("relief.psh"),
           Transposed(moved),
           {},
           kRed,
           false,
           {{12, 8, 0xFFFF0000u}, {9, 5, 0xFFFF0000u}, {4, 8, kClear}, {12, 2, kClear}}});
    // Colours interpolate across the quad (Gouraud), pixel centres where Direct3D 9
    // puts them: pixel (0, 0) sits on the top left corner itself.
    Check({"colours of the corners",
           ShaderFile("relief.vsh"),
           ShaderFile("relief.psh"),
           {},
           {},
           {0xFFFF0000u, 0xFF00FF00u, 0xFF0000FFu, 0xFFFFFFFFu},
           false,
           {{0, 0, 0xFFFF0000u}, {15, 15, 0xFFDFEFEFu}, {8, 8, 0xFF008080u}}});
}

TEST_F(ShaderDeviceTest, TexturePsModulatesTheTextureByTheColour) {
    const std::array<uint32_t, 4> half = {0xFF808080u, 0xFF808080u, 0xFF808080u, 0xFF808080u};
    Check({"texture.ps", ShaderFile("relief.vsh"), ShaderFile("texture.ps"), {}, {}, half, true,
           Quadrants(0xFF800000u, 0xFF008000u, 0xFF000080u, 0xFF808080u)});
    Check({"the same in ps_2_0", ShaderFile("relief.vsh"),
           "ps_2_0\ndcl_2d s0\ndcl t0.xy\ndcl v0\ntexld r0, t0, s0\nmul r0, r0, v0\nmov oC0, r0\n", {}, {}, half,
           true, Quadrants(0xFF800000u, 0xFF008000u, 0xFF000080u, 0xFF808080u)});
    Check({"the texture alone", ShaderFile("relief.vsh"), "ps_1_4\ntexld r0, t0\n", {}, {}, half, true,
           Quadrants(kTexels[0], kTexels[1], kTexels[2], kTexels[3])});
}

TEST_F(ShaderDeviceTest, SwizzlesMasksAndSaturation) {
    const std::array<uint32_t, 4> orange = {0xFFFF8000u, 0xFFFF8000u, 0xFFFF8000u, 0xFFFF8000u};
    const std::string vs = ShaderFile("relief.vsh");
    // Vertex side: oD0 = c4, then x and z from the colour's z and x.
    Check({"vertex swizzle and mask",
           "vs_1_1\ndcl_position v0\ndcl_color v1\nmov oPos, v0\nmov oD0, c4\nmov oD0.xz, v1.zyxw\n",
           ShaderFile("relief.psh"),
           {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0.2f, 0.4f, 0.6f, 1},
           {},
           orange,
           false,
           Everywhere(0xFF0066FFu)});
    // Pixel side: (1, 0.75, 0.5, 0.25), then green from red's constant.
    Check({"pixel swizzle and mask", vs,
           "ps_2_0\ndef c0, 0.25, 0.5, 0.75, 1\nmov r0, c0.wzyx\nmov r0.g, c0.r\nmov oC0, r0\n", {}, {}, orange,
           false, Everywhere(0xFFFF4080u)});
    // _sat clamps before the product; without it the sum 1.25 halves to 0.625.
    Check({"_sat", vs, "ps_2_0\nadd_sat r0, c0, c1\nmul r0, r0, c2\nmov oC0, r0\n", {},
           {0.75f, 0.25f, 0, 1, 0.5f, 0, 0, 0, 0.5f, 0.5f, 0.5f, 1}, orange, false, Everywhere(0xFF802000u)});
    Check({"no _sat", vs, "ps_2_0\nadd r0, c0, c1\nmul r0, r0, c2\nmov oC0, r0\n", {},
           {0.75f, 0.25f, 0, 1, 0.5f, 0, 0, 0, 0.5f, 0.5f, 0.5f, 1}, orange, false, Everywhere(0xFFA02000u)});
}

TEST_F(ShaderDeviceTest, Ps1xAgainstPs20) {
    const std::string vs = ShaderFile("relief.vsh");
    // The same product: ps_1_1 reads constants within [-1, 1], ps_2_0 as they are.
    const std::vector<float> constants = {4, 0.5f, 2, 1, 0.25f, 1, 0.25f, 1};
    Check({"ps_1_1 clamps its constants", vs, "ps_1_1\nmul r0, c0, c1\n", {}, constants, kRed, false,
           Everywhere(0xFF408040u)});
    Check({"ps_2_0 does not", vs, "ps_2_0\nmul r0, c0, c1\nmov oC0, r0\n", {}, constants, kRed, false,
           Everywhere(0xFFFF8080u)});
    // Sources with the ps_1_x modifiers give what ps_2_0 spells out.
    const std::array<uint32_t, 4> colour = {0xFFC04020u, 0xFFC04020u, 0xFFC04020u, 0xFFC04020u};
    ASSERT_TRUE(Draw({"ps_1_1 _bx2", vs, "ps_1_1\nmul_sat r0, v0_bx2, c0\n", {}, {1, 1, 1, 1}, colour, false, {}}));
    const uint32_t ps11 = window_.At(8, 8);
    ASSERT_TRUE(Draw({"ps_2_0 spelled out", vs, "ps_2_0\ndcl v0\ndef c1, 2, 2, 2, 2\ndef c2, -1, -1, -1, -1\n"
                                                "mad_sat r0, v0, c1, c2\nmov oC0, r0\n",
                      {}, {}, colour, false, {}}));
    EXPECT_TRUE(Near(window_.At(8, 8), ps11, 3)) << std::hex << window_.At(8, 8) << " " << ps11;
    EXPECT_TRUE(Near(ps11, 0xFF800000u, 3)) << std::hex << ps11;
}

TEST_F(ShaderDeviceTest, RelativeConstantsInAVertexShader) {
    std::vector<float> constants(4 * 12, 0.0f);
    const float identity[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
    std::copy(identity, identity + 16, constants.begin());
    constants[8 * 4] = 2.0f;                                        // c8.x: the index
    const float c11[4] = {0, 1, 0, 1};                              // c[a0.x + 9] = c11: green
    std::copy(c11, c11 + 4, constants.begin() + 11 * 4);
    Check({"c[a0.x + 9]", "vs_1_1\ndcl_position v0\nmov oPos, v0\nmov a0.x, c8.x\nmov oD0, c[a0.x + 9]\n",
           ShaderFile("relief.psh"), constants, {}, kRed, false, Everywhere(0xFF00FF00u)});
}

TEST_F(ShaderDeviceTest, TheDeviceRefusesWhatTheTranslatorRefuses) {
    Ref<IDirect3DPixelShader9> ps;
    // Valid Direct3D, but a cube map: this layer samples 2D textures only.
    std::vector<DWORD> cube = Tokens("ps_2_0\ndcl_cube s0\ndcl t0\ntexld r0, t0, s0\nmov oC0, r0\n");
    EXPECT_EQ(device_->CreatePixelShader(cube.data(), &ps), D3DERR_INVALIDCALL);
    EXPECT_EQ(ps.get(), nullptr);
    // A vertex shader's tokens given as a pixel shader.
    std::vector<DWORD> vs = Tokens(ShaderFile("relief.vsh"));
    EXPECT_EQ(device_->CreatePixelShader(vs.data(), &ps), D3DERR_INVALIDCALL);
}

} // namespace
} // namespace qrv::d3d9::testing
