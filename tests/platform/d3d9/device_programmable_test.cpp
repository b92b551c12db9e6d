// The programmable side of the OpenGL device: vertex declarations over several
// streams, indexed drawing, shaders from tokens, and capability answers that hold
// when the device is then used.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "d3d9_test_support.h"
#include "platform/d3dx9/assembler.h"

namespace qrv::d3d9::testing {
namespace {

constexpr uint32_t kBlue = 0xFF0000FFu, kRed = 0xFFFF0000u, kGreen = 0xFF00FF00u,
                   kBlack = 0xFF000000u;

std::vector<DWORD> Assemble(const char *text) {
    std::vector<DWORD> tokens;
    std::string messages;
    EXPECT_TRUE(qrv::d3dx9::AssembleShader(text, "test", &tokens, &messages)) << messages;
    return tokens;
}

// The StandaloneEngine's vertex shader: c0..c3 hold the transposed transform.
constexpr const char *kVertexShader = "vs_1_1\n"
                                      "dcl_position v0\n"
                                      "dcl_color v1\n"
                                      "dcl_texcoord v2\n"
                                      "dp4 oPos.x, v0, c0\n"
                                      "dp4 oPos.y, v0, c1\n"
                                      "dp4 oPos.z, v0, c2\n"
                                      "dp4 oPos.w, v0, c3\n"
                                      "mov oD0, v1\n"
                                      "mov oT0, v2\n";
constexpr const char *kColourPixelShader = "ps_1_1\nmov r0, v0\n";

class ProgrammableTest : public ThreeStreamDeviceTest {
protected:
    ProgrammableTest() : ThreeStreamDeviceTest(16) {}

    void SetUp() override {
        ThreeStreamDeviceTest::SetUp();
        if (HasFatalFailure()) return;
        const std::vector<DWORD> vs = Assemble(kVertexShader);
        const std::vector<DWORD> ps = Assemble(kColourPixelShader);
        ASSERT_EQ(device_->CreateVertexShader(vs.data(), &vertexShader_), D3D_OK);
        ASSERT_EQ(device_->CreatePixelShader(ps.data(), &pixelShader_), D3D_OK);
        const float identity[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
        device_->SetVertexShaderConstantF(0, identity, 4);
    }

    template <class T>
    IDirect3DVertexBuffer9 *Stream(const std::vector<T> &values) {
        IDirect3DVertexBuffer9 *buffer = nullptr;
        const UINT bytes = static_cast<UINT>(values.size() * sizeof(T));
        EXPECT_EQ(device_->CreateVertexBuffer(bytes, 0, 0, D3DPOOL_MANAGED, &buffer, nullptr), D3D_OK);
        void *data = nullptr;
        buffer->Lock(0, 0, &data, 0);
        std::memcpy(data, values.data(), bytes);
        buffer->Unlock();
        return buffer;
    }

    template <class T>
    IDirect3DIndexBuffer9 *Indices(const std::vector<T> &values) {
        IDirect3DIndexBuffer9 *buffer = nullptr;
        const UINT bytes = static_cast<UINT>(values.size() * sizeof(T));
        EXPECT_EQ(device_->CreateIndexBuffer(bytes, 0, sizeof(T) == 4 ? D3DFMT_INDEX32 : D3DFMT_INDEX16,
                                             D3DPOOL_MANAGED, &buffer, nullptr),
                  D3D_OK);
        void *data = nullptr;
        buffer->Lock(0, 0, &data, 0);
        std::memcpy(data, values.data(), bytes);
        buffer->Unlock();
        return buffer;
    }

    void BeginFrame() {
        device_->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER | D3DCLEAR_STENCIL, kBlue, 1.0f, 0);
        device_->BeginScene();
        device_->SetVertexDeclaration(declaration_.get());
        device_->SetVertexShader(vertexShader_.get());
        device_->SetPixelShader(pixelShader_.get());
    }
    void EndFrame() {
        device_->EndScene();
        ASSERT_EQ(device_->Present(nullptr, nullptr, nullptr, nullptr), D3D_OK);
    }

    // Two quads in clip space, left and right halves: positions, colours.
    static std::vector<float> Positions(int leading = 0) {
        std::vector<float> p(static_cast<size_t>(leading) * 3, 9.0f);
        const float quads[] = {-1, 1, 0.5f, 0, 1, 0.5f, -1, -1, 0.5f, 0, -1, 0.5f,
                               0,  1, 0.5f, 1, 1, 0.5f, 0,  -1, 0.5f, 1, -1, 0.5f};
        p.insert(p.end(), std::begin(quads), std::end(quads));
        return p;
    }
    static std::vector<uint32_t> Colours(int leading = 0) {
        std::vector<uint32_t> c(static_cast<size_t>(leading), 0xFFFFFFFFu);
        for (int i = 0; i < 4; ++i) c.push_back(0xFF102030u);
        for (int i = 0; i < 4; ++i) c.push_back(kGreen);
        return c;
    }

    Ref<IDirect3DVertexShader9> vertexShader_;
    Ref<IDirect3DPixelShader9> pixelShader_;
};

TEST_F(ProgrammableTest, IndexedListOverThreeStreamsWithBaseVertexAndStartIndex) {
    // Two unused vertices lead every stream; the base vertex skips them.
    Ref<IDirect3DVertexBuffer9> positions(Stream(Positions(2)));
    Ref<IDirect3DVertexBuffer9> colours(Stream(Colours(2)));
    Ref<IDirect3DVertexBuffer9> uvs(Stream(std::vector<float>(20, 0.0f)));
    // Indices of the second quad come first, so start index 6 draws the first.
    Ref<IDirect3DIndexBuffer9> indices(Indices(std::vector<uint16_t>{4, 5, 6, 6, 5, 7, 0, 1, 2, 2, 1, 3}));
    BeginFrame();
    device_->SetStreamSource(0, positions.get(), 0, 12);
    device_->SetStreamSource(1, colours.get(), 0, 4);
    device_->SetStreamSource(2, uvs.get(), 0, 8);
    device_->SetIndices(indices.get());
    EXPECT_EQ(device_->DrawIndexedPrimitive(D3DPT_TRIANGLELIST, 2, 0, 8, 6, 2), D3D_OK);
    EndFrame();
    EXPECT_EQ(window_.At(3, 8), 0xFF102030u); // D3DCOLOR reaches the shader as r, g, b, a
    EXPECT_EQ(window_.At(12, 8), kBlue);       // the second quad was not drawn
    BeginFrame();
    EXPECT_EQ(device_->DrawIndexedPrimitive(D3DPT_TRIANGLELIST, 2, 0, 8, 0, 4), D3D_OK);
    EndFrame();
    EXPECT_EQ(window_.At(3, 8), 0xFF102030u);
    EXPECT_EQ(window_.At(12, 8), kGreen);
}

TEST_F(ProgrammableTest, ThirtyTwoBitIndicesAndStreamOffsets) {
    Ref<IDirect3DVertexBuffer9> positions(Stream(Positions(1)));
    Ref<IDirect3DVertexBuffer9> colours(Stream(Colours(1)));
    Ref<IDirect3DVertexBuffer9> uvs(Stream(std::vector<float>(18, 0.0f)));
    Ref<IDirect3DIndexBuffer9> indices(Indices(std::vector<uint32_t>{4, 5, 6, 6, 5, 7}));
    BeginFrame();
    // The offsets skip the leading vertex instead of a base vertex.
    device_->SetStreamSource(0, positions.get(), 12, 12);
    device_->SetStreamSource(1, colours.get(), 4, 4);
    device_->SetStreamSource(2, uvs.get(), 8, 8);
    device_->SetIndices(indices.get());
    EXPECT_EQ(device_->DrawIndexedPrimitive(D3DPT_TRIANGLELIST, 0, 4, 4, 0, 2), D3D_OK);
    EndFrame();
    EXPECT_EQ(window_.At(3, 8), kBlue);
    EXPECT_EQ(window_.At(12, 8), kGreen);
}

TEST_F(ProgrammableTest, AStreamWithoutABufferReadsZeroZeroZeroOne) {
    Ref<IDirect3DVertexBuffer9> positions(Stream(Positions()));
    Ref<IDirect3DIndexBuffer9> indices(Indices(std::vector<uint16_t>{0, 1, 2, 2, 1, 3}));
    BeginFrame();
    device_->SetStreamSource(0, positions.get(), 0, 12);
    device_->SetIndices(indices.get());
    EXPECT_EQ(device_->DrawIndexedPrimitive(D3DPT_TRIANGLELIST, 0, 0, 4, 0, 2), D3D_OK);
    EndFrame();
    EXPECT_EQ(window_.At(3, 8), kBlack); // colour (0, 0, 0, 1)
}

TEST_F(ProgrammableTest, DrawsPastTheEndOfAStreamOrTheIndicesAreRefused) {
    Ref<IDirect3DVertexBuffer9> positions(Stream(Positions()));       // 8 vertices
    Ref<IDirect3DVertexBuffer9> colours(Stream(Colours()));           // 8
    Ref<IDirect3DVertexBuffer9> shortUvs(Stream(std::vector<float>(14, 0.0f))); // 7
    Ref<IDirect3DIndexBuffer9> indices(Indices(std::vector<uint16_t>{0, 1, 2, 5, 6, 7}));
    BeginFrame();
    device_->SetStreamSource(0, positions.get(), 0, 12);
    device_->SetStreamSource(1, colours.get(), 0, 4);
    device_->SetStreamSource(2, shortUvs.get(), 0, 8);
    device_->SetIndices(indices.get());
    struct Case {
        INT base;
        UINT start, count;
        HRESULT expected;
    };
    const Case cases[] = {
        {0, 0, 1, D3D_OK},              // vertices 0..2
        {0, 3, 1, D3DERR_INVALIDCALL},  // vertex 7: past the texture coordinates
        {0, 0, 2, D3DERR_INVALIDCALL},
        {1, 0, 1, D3D_OK},              // vertices 1..3
        {-1, 0, 1, D3DERR_INVALIDCALL}, // vertex -1
        {0, 3, 2, D3DERR_INVALIDCALL},  // indices past the index buffer
        {0, 6, 1, D3DERR_INVALIDCALL},
    };
    for (const Case &c : cases)
        EXPECT_EQ(device_->DrawIndexedPrimitive(D3DPT_TRIANGLELIST, c.base, 0, 8, c.start, c.count),
                  c.expected)
            << "base " << c.base << " start " << c.start << " count " << c.count;
    // Once the short stream is no longer read, the same draw is fine.
    device_->SetStreamSource(2, nullptr, 0, 0);
    EXPECT_EQ(device_->DrawIndexedPrimitive(D3DPT_TRIANGLELIST, 0, 0, 8, 0, 2), D3D_OK);
    // A changed index reaches the check.
    void *data = nullptr;
    ASSERT_EQ(indices->Lock(0, 0, &data, 0), D3D_OK);
    static_cast<uint16_t *>(data)[1] = 8;
    indices->Unlock();
    EXPECT_EQ(device_->DrawIndexedPrimitive(D3DPT_TRIANGLELIST, 0, 0, 8, 0, 1), D3DERR_INVALIDCALL);
    EndFrame();
}

TEST_F(ProgrammableTest, FlatShadingReachesTranslatedShaders) {
    // One triangle whose vertices differ in colour: flat shading paints it with
    // the first vertex's colour through both shaders.
    Ref<IDirect3DVertexBuffer9> positions(Stream(std::vector<float>{-1, 1, 0.5f, 1, 1, 0.5f, -1, -1, 0.5f}));
    Ref<IDirect3DVertexBuffer9> colours(Stream(std::vector<uint32_t>{kGreen, kRed, kRed}));
    Ref<IDirect3DIndexBuffer9> indices(Indices(std::vector<uint16_t>{0, 1, 2}));
    for (DWORD shade : {D3DSHADE_FLAT, D3DSHADE_GOURAUD}) {
        device_->SetRenderState(D3DRS_SHADEMODE, shade);
        BeginFrame();
        device_->SetStreamSource(0, positions.get(), 0, 12);
        device_->SetStreamSource(1, colours.get(), 0, 4);
        device_->SetIndices(indices.get());
        EXPECT_EQ(device_->DrawIndexedPrimitive(D3DPT_TRIANGLELIST, 0, 0, 3, 0, 1), D3D_OK);
        EndFrame();
        if (shade == D3DSHADE_FLAT)
            EXPECT_EQ(window_.At(5, 5), kGreen);
        else
            EXPECT_TRUE(((window_.At(5, 5) >> 16) & 0xFF) > 0x20) << std::hex << window_.At(5, 5);
    }
}

TEST_F(ProgrammableTest, DeclarationTypesReachTheShaderAsDirect3DDefinesThem) {
    struct Case {
        BYTE type;
        std::vector<uint8_t> bytes;
        uint32_t expected;
    };
    auto shorts = [](std::initializer_list<int16_t> v) {
        std::vector<uint8_t> b(v.size() * 2);
        std::memcpy(b.data(), v.begin(), b.size());
        return b;
    };
    auto floats = [](std::initializer_list<float> v) {
        std::vector<uint8_t> b(v.size() * 4);
        std::memcpy(b.data(), v.begin(), b.size());
        return b;
    };
    const Case cases[] = {
        {D3DDECLTYPE_D3DCOLOR, {0x30, 0x20, 0x10, 0xFF}, 0xFF102030u}, // B, G, R, A in memory
        {D3DDECLTYPE_UBYTE4N, {0xFF, 0x80, 0x00, 0xFF}, 0xFFFF8000u},
        {D3DDECLTYPE_SHORT4N, shorts({32767, 0, -32767, 32767}), 0xFFFF0000u},
        {D3DDECLTYPE_USHORT4N, shorts({0, -1, 0, -1}), 0xFF00FF00u},
        {D3DDECLTYPE_FLOAT4, floats({0.0f, 0.0f, 1.0f, 1.0f}), 0xFF0000FFu},
        {D3DDECLTYPE_FLOAT3, floats({1.0f, 1.0f, 0.0f}), 0xFFFFFF00u}, // w fills in as 1
        {D3DDECLTYPE_SHORT2N, shorts({0, 32767}), 0xFF00FF00u},        // z 0, w 1
    };
    Ref<IDirect3DVertexBuffer9> positions(Stream(Positions()));
    Ref<IDirect3DIndexBuffer9> indices(Indices(std::vector<uint16_t>{0, 1, 2, 2, 1, 3}));
    for (const Case &c : cases) {
        const D3DVERTEXELEMENT9 elements[] = {
            {0, 0, D3DDECLTYPE_FLOAT3, D3DDECLMETHOD_DEFAULT, D3DDECLUSAGE_POSITION, 0},
            {1, 0, c.type, D3DDECLMETHOD_DEFAULT, D3DDECLUSAGE_COLOR, 0},
            D3DDECL_END()};
        Ref<IDirect3DVertexDeclaration9> declaration;
        ASSERT_EQ(device_->CreateVertexDeclaration(elements, &declaration), D3D_OK);
        std::vector<uint8_t> colour;
        for (int i = 0; i < 4; ++i) colour.insert(colour.end(), c.bytes.begin(), c.bytes.end());
        Ref<IDirect3DVertexBuffer9> colours(Stream(colour));
        BeginFrame();
        device_->SetVertexDeclaration(declaration.get());
        device_->SetStreamSource(0, positions.get(), 0, 12);
        device_->SetStreamSource(1, colours.get(), 0, static_cast<UINT>(c.bytes.size()));
        device_->SetIndices(indices.get());
        EXPECT_EQ(device_->DrawIndexedPrimitive(D3DPT_TRIANGLELIST, 0, 0, 4, 0, 2), D3D_OK);
        EndFrame();
        EXPECT_TRUE(Near(window_.At(3, 8), c.expected)) << std::hex << window_.At(3, 8) << " type "
                                                          << std::dec << int{c.type};
    }
}

TEST_F(ProgrammableTest, EitherSideMayStayFixedFunction) {
    // Strip vertices (FVF 0x142) through the shader vertex side, fixed texture stages.
    Ref<IDirect3DTexture9> texture;
    ASSERT_EQ(device_->CreateTexture(1, 1, 1, 0, D3DFMT_X8R8G8B8, D3DPOOL_MANAGED, &texture, nullptr), D3D_OK);
    D3DLOCKED_RECT locked{};
    texture->LockRect(0, &locked, nullptr, 0);
    const uint32_t red = 0x00FF0000u;
    std::memcpy(locked.pBits, &red, 4);
    texture->UnlockRect(0);
    const std::vector<Vertex> quad = {Vertex{-1, 1, 0.5f, 0xFFFFFFFFu, 0, 0}, Vertex{1, 1, 0.5f, 0xFFFFFFFFu, 1, 0},
                                      Vertex{-1, -1, 0.5f, 0xFFFFFFFFu, 0, 1}, Vertex{1, -1, 0.5f, 0xFFFFFFFFu, 1, 1}};
    Ref<IDirect3DVertexBuffer9> buffer(MakeBuffer(device_.get(), quad));
    // The fixed transforms no longer apply with a vertex shader: this one would
    // push everything out of view.
    const D3DMATRIX away = {{{1, 0, 0, 0}, {0, 1, 0, 0}, {0, 0, 1, 0}, {50, 0, 0, 1}}};
    device_->SetTransform(D3DTS_WORLD, &away);
    device_->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
    device_->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, kBlue, 1.0f, 0);
    device_->BeginScene();
    device_->SetFVF(kFvf);
    device_->SetVertexShader(vertexShader_.get());
    device_->SetPixelShader(nullptr);
    device_->SetTexture(0, texture.get());
    device_->SetStreamSource(0, buffer.get(), 0, sizeof(Vertex));
    EXPECT_EQ(device_->DrawPrimitive(D3DPT_TRIANGLESTRIP, 0, 2), D3D_OK);
    EndFrame();
    EXPECT_EQ(window_.At(8, 8), kRed);

    // Fixed vertex side, shader pixel side: the shader's colour wins over the
    // texture stages.
    const std::vector<DWORD> constant = Assemble("ps_2_0\nmov oC0, c2\n");
    Ref<IDirect3DPixelShader9> pixel;
    ASSERT_EQ(device_->CreatePixelShader(constant.data(), &pixel), D3D_OK);
    const float green[4] = {0, 1, 0, 1};
    device_->SetPixelShaderConstantF(2, green, 1);
    const D3DMATRIX identity = {{{1, 0, 0, 0}, {0, 1, 0, 0}, {0, 0, 1, 0}, {0, 0, 0, 1}}};
    device_->SetTransform(D3DTS_WORLD, &identity);
    device_->SetRenderState(D3DRS_LIGHTING, FALSE);
    device_->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, kBlue, 1.0f, 0);
    device_->BeginScene();
    device_->SetVertexShader(nullptr);
    device_->SetPixelShader(pixel.get());
    EXPECT_EQ(device_->DrawPrimitive(D3DPT_TRIANGLESTRIP, 0, 2), D3D_OK);
    EndFrame();
    EXPECT_EQ(window_.At(8, 8), kGreen);
}

TEST_F(ProgrammableTest, ShadersAndDeclarationsTheDeviceCannotRunAreRefused) {
    Ref<IDirect3DVertexShader9> vs;
    Ref<IDirect3DPixelShader9> ps;
    const std::vector<DWORD> pixelTokens = Assemble(kColourPixelShader);
    const std::vector<DWORD> vertexTokens = Assemble(kVertexShader);
    EXPECT_EQ(device_->CreateVertexShader(pixelTokens.data(), &vs), D3DERR_INVALIDCALL);
    EXPECT_EQ(device_->CreatePixelShader(vertexTokens.data(), &ps), D3DERR_INVALIDCALL);
    EXPECT_EQ(device_->CreateVertexShader(nullptr, &vs), D3DERR_INVALIDCALL);
    const DWORD garbage[] = {0xFFFE0101u, 0x12345678u, 0x0000FFFFu};
    EXPECT_EQ(device_->CreateVertexShader(garbage, &vs), D3DERR_INVALIDCALL);
    EXPECT_FALSE(vs);

    Ref<IDirect3DVertexDeclaration9> declaration;
    const D3DVERTEXELEMENT9 twice[] = {
        {0, 0, D3DDECLTYPE_FLOAT3, 0, D3DDECLUSAGE_POSITION, 0},
        {1, 0, D3DDECLTYPE_FLOAT3, 0, D3DDECLUSAGE_POSITION, 0}, D3DDECL_END()};
    const D3DVERTEXELEMENT9 badType[] = {{0, 0, 40, 0, D3DDECLUSAGE_POSITION, 0}, D3DDECL_END()};
    const D3DVERTEXELEMENT9 badStream[] = {{16, 0, D3DDECLTYPE_FLOAT3, 0, D3DDECLUSAGE_POSITION, 0},
                                           D3DDECL_END()};
    std::vector<D3DVERTEXELEMENT9> endless(100, D3DVERTEXELEMENT9{0, 0, D3DDECLTYPE_FLOAT1, 0,
                                                                  D3DDECLUSAGE_TEXCOORD, 0});
    for (size_t i = 0; i < endless.size(); ++i) endless[i].UsageIndex = static_cast<BYTE>(i % 16);
    EXPECT_EQ(device_->CreateVertexDeclaration(twice, &declaration), D3DERR_INVALIDCALL);
    EXPECT_EQ(device_->CreateVertexDeclaration(badType, &declaration), D3DERR_INVALIDCALL);
    EXPECT_EQ(device_->CreateVertexDeclaration(badStream, &declaration), D3DERR_INVALIDCALL);
    EXPECT_EQ(device_->CreateVertexDeclaration(endless.data(), &declaration), D3DERR_INVALIDCALL);
    EXPECT_FALSE(declaration);
    // The declaration comes back as it was given.
    UINT count = 0;
    ASSERT_EQ(declaration_->GetDeclaration(nullptr, &count), D3D_OK);
    ASSERT_EQ(count, 4u);
    D3DVERTEXELEMENT9 back[4];
    ASSERT_EQ(declaration_->GetDeclaration(back, &count), D3D_OK);
    EXPECT_EQ(std::memcmp(back, kThreeStreams, sizeof back), 0);
}

// Every answer the adapter gives can be acted on.
TEST(Capabilities, WhatTheAdapterAcceptsTheDeviceDoes) {
    Ref<IDirect3D9> d3d(Direct3DCreate9(D3D_SDK_VERSION));
    ASSERT_TRUE(d3d);
    D3DDISPLAYMODE desktop{};
    ASSERT_EQ(d3d->GetAdapterDisplayMode(D3DADAPTER_DEFAULT, &desktop), D3D_OK);
    EXPECT_GT(desktop.Width, 0u);
    bool has1024 = false;
    const UINT modes = d3d->GetAdapterModeCount(D3DADAPTER_DEFAULT, D3DFMT_X8R8G8B8);
    for (UINT i = 0; i < modes; ++i) {
        D3DDISPLAYMODE mode{};
        ASSERT_EQ(d3d->EnumAdapterModes(D3DADAPTER_DEFAULT, D3DFMT_X8R8G8B8, i, &mode), D3D_OK);
        has1024 = has1024 || (mode.Width == 1024 && mode.Height == 768);
    }
    EXPECT_TRUE(has1024);
    EXPECT_EQ(d3d->GetAdapterModeCount(D3DADAPTER_DEFAULT, D3DFMT_A8R8G8B8), 0u);

    const D3DFORMAT formats[] = {D3DFMT_X8R8G8B8, D3DFMT_X1R5G5B5, D3DFMT_R5G6B5, D3DFMT_A8R8G8B8,
                                 D3DFMT_A4R4G4B4, D3DFMT_D16, D3DFMT_D24S8, D3DFMT_R8G8B8};
    const D3DFORMAT depths[] = {D3DFMT_D16, D3DFMT_D24S8, D3DFMT_D32};
    const D3DMULTISAMPLE_TYPE samples[] = {D3DMULTISAMPLE_NONE, D3DMULTISAMPLE_2_SAMPLES,
                                           D3DMULTISAMPLE_4_SAMPLES, D3DMULTISAMPLE_16_SAMPLES};
    for (D3DDEVTYPE type : {D3DDEVTYPE_HAL, D3DDEVTYPE_REF}) {
        // Each format, depth format and sample count the adapter accepts, one at a
        // time beside accepted values of the others.
        struct Combination {
            D3DFORMAT backBuffer, depth;
            D3DMULTISAMPLE_TYPE samples;
        };
        std::vector<Combination> combinations;
        for (D3DFORMAT f : formats) combinations.push_back({f, D3DFMT_D16, D3DMULTISAMPLE_NONE});
        for (D3DFORMAT d : depths) combinations.push_back({D3DFMT_X8R8G8B8, d, D3DMULTISAMPLE_NONE});
        for (D3DMULTISAMPLE_TYPE m : samples) combinations.push_back({D3DFMT_X8R8G8B8, D3DFMT_D24S8, m});
        int devices = 0;
        for (const Combination &c : combinations) {
            if (FAILED(d3d->CheckDeviceType(D3DADAPTER_DEFAULT, type, desktop.Format, c.backBuffer, TRUE)) ||
                FAILED(d3d->CheckDepthStencilMatch(D3DADAPTER_DEFAULT, type, desktop.Format, c.backBuffer,
                                                   c.depth)) ||
                FAILED(d3d->CheckDeviceMultiSampleType(D3DADAPTER_DEFAULT, type, c.backBuffer, TRUE,
                                                       c.samples, nullptr)))
                continue;
            RecordingWindow window(8, 8);
            D3DPRESENT_PARAMETERS params = WindowedParams(c.depth);
            params.BackBufferFormat = c.backBuffer;
            params.MultiSampleType = c.samples;
            Ref<IDirect3DDevice9> device;
            ASSERT_EQ(d3d->CreateDevice(D3DADAPTER_DEFAULT, type, &window.window,
                                        D3DCREATE_SOFTWARE_VERTEXPROCESSING, &params, &device),
                      D3D_OK)
                << c.backBuffer << " " << c.depth << " " << c.samples;
            device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, kRed, 1.0f, 0);
            ASSERT_EQ(device->Present(nullptr, nullptr, nullptr, nullptr), D3D_OK);
            EXPECT_EQ(window.At(4, 4), kRed);
            ++devices;
        }
        EXPECT_GE(devices, 4 + 3 + 3); // 32- and 16-bit back buffers, depths, 2 and 4 samples
        // Texture formats: every one accepted can be made, locked and drawn.
        RecordingWindow window(4, 4);
        D3DPRESENT_PARAMETERS params = WindowedParams();
        Ref<IDirect3DDevice9> device;
        ASSERT_EQ(d3d->CreateDevice(D3DADAPTER_DEFAULT, type, &window.window,
                                    D3DCREATE_SOFTWARE_VERTEXPROCESSING, &params, &device),
                  D3D_OK);
        int textures = 0;
        for (D3DFORMAT format : formats) {
            for (DWORD usage : {0u, D3DUSAGE_RENDERTARGET}) {
                const bool accepted = SUCCEEDED(d3d->CheckDeviceFormat(
                    D3DADAPTER_DEFAULT, type, desktop.Format, usage, D3DRTYPE_TEXTURE, format));
                Ref<IDirect3DTexture9> texture;
                const HRESULT made = device->CreateTexture(2, 2, 1, usage, format, D3DPOOL_MANAGED,
                                                           &texture, nullptr);
                if (!accepted) continue;
                ASSERT_EQ(made, D3D_OK) << format;
                D3DLOCKED_RECT locked{};
                ASSERT_EQ(texture->LockRect(0, &locked, nullptr, 0), D3D_OK);
                std::memset(locked.pBits, 0xFF, static_cast<size_t>(locked.Pitch) * 2);
                texture->UnlockRect(0);
                device->SetRenderState(D3DRS_LIGHTING, FALSE);
                device->SetTexture(0, texture.get());
                device->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_SELECTARG1);
                const std::vector<Vertex> quad = {Vertex{-1, 1, 0.5f, 0, 0, 0}, Vertex{1, 1, 0.5f, 0, 1, 0},
                                                  Vertex{-1, -1, 0.5f, 0, 0, 1}, Vertex{1, -1, 0.5f, 0, 1, 1}};
                Ref<IDirect3DVertexBuffer9> buffer(MakeBuffer(device.get(), quad));
                device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, kBlue, 1.0f, 0);
                device->BeginScene();
                device->SetFVF(kFvf);
                device->SetStreamSource(0, buffer.get(), 0, sizeof(Vertex));
                device->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
                EXPECT_EQ(device->DrawPrimitive(D3DPT_TRIANGLESTRIP, 0, 2), D3D_OK);
                device->EndScene();
                device->Present(nullptr, nullptr, nullptr, nullptr);
                EXPECT_EQ(window.At(2, 2), 0xFFFFFFFFu) << format; // all bits set: white
                ++textures;
            }
        }
        EXPECT_GE(textures, 5);
    }
}

} // namespace
} // namespace qrv::d3d9::testing
