// Pixel tests of the OpenGL device: frames drawn through the Direct3D 9-shaped
// calls land where Direct3D 9 puts them.
#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <vector>

#include "d3d9_test_support.h"

namespace qrv::d3d9::testing {
namespace {

constexpr uint32_t kBlue = 0xFF0000FFu, kRed = 0xFFFF0000u, kGreen = 0xFF00FF00u,
                   kWhite = 0xFFFFFFFFu, kBlack = 0xFF000000u;

class DrawTest : public ::testing::Test {
protected:
    void Open(D3DDEVTYPE type = D3DDEVTYPE_HAL, D3DFORMAT depth = D3DFMT_D16) {
        if (device_) device_->Release();
        if (d3d_) d3d_->Release();
        device_.p = nullptr;
        d3d_.p = Direct3DCreate9(D3D_SDK_VERSION);
        ASSERT_TRUE(d3d_);
        D3DPRESENT_PARAMETERS params = WindowedParams(depth);
        ASSERT_EQ(d3d_->CreateDevice(D3DADAPTER_DEFAULT, type, &window_.window,
                                     D3DCREATE_SOFTWARE_VERTEXPROCESSING, &params, &device_),
                  D3D_OK);
        device_->SetRenderState(D3DRS_LIGHTING, FALSE);
        device_->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
    }

    // Clears, draws the vertices as one primitive of type, presents.
    void Frame(const std::vector<Vertex> &vertices, D3DPRIMITIVETYPE type = D3DPT_TRIANGLESTRIP,
               uint32_t clear = kBlue) {
        ASSERT_EQ(device_->Clear(0, nullptr, D3DCLEAR_TARGET | (hasDepth_ ? D3DCLEAR_ZBUFFER : 0),
                                 clear, 1.0f, 0),
                  D3D_OK);
        ASSERT_EQ(device_->BeginScene(), D3D_OK);
        Draw(vertices, type);
        ASSERT_EQ(device_->EndScene(), D3D_OK);
        ASSERT_EQ(device_->Present(nullptr, nullptr, nullptr, nullptr), D3D_OK);
    }

    void Draw(const std::vector<Vertex> &vertices, D3DPRIMITIVETYPE type = D3DPT_TRIANGLESTRIP) {
        Ref<IDirect3DVertexBuffer9> buffer(MakeBuffer(device_.get(), vertices));
        ASSERT_TRUE(buffer);
        ASSERT_EQ(device_->SetStreamSource(0, buffer.get(), 0, sizeof(Vertex)), D3D_OK);
        ASSERT_EQ(device_->SetFVF(kFvf), D3D_OK);
        const UINT count = type == D3DPT_TRIANGLELIST ? static_cast<UINT>(vertices.size() / 3)
                                                      : static_cast<UINT>(vertices.size() - 2);
        ASSERT_EQ(device_->DrawPrimitive(type, 0, count), D3D_OK);
    }

    // A quad from (x0, y0) to (x1, y1) in screen pixels, as a strip.
    std::vector<Vertex> Quad(float x0, float y0, float x1, float y1, float z, uint32_t color) const {
        const int w = window_.width, h = window_.height;
        return {ScreenVertex(x0, y0, z, color, w, h, 0, 0), ScreenVertex(x1, y0, z, color, w, h, 1, 0),
                ScreenVertex(x0, y1, z, color, w, h, 0, 1), ScreenVertex(x1, y1, z, color, w, h, 1, 1)};
    }

    RecordingWindow window_{16, 16};
    Ref<IDirect3D9> d3d_;
    Ref<IDirect3DDevice9> device_;
    bool hasDepth_ = true;
};

TEST_F(DrawTest, TexturedQuadLandsTexelForTexel) {
    Open();
    // An 8 x 8 texture whose every texel differs, in Direct3D's B, G, R, A order.
    Ref<IDirect3DTexture9> texture;
    ASSERT_EQ(device_->CreateTexture(8, 8, 1, 0, D3DFMT_X8R8G8B8, D3DPOOL_MANAGED, &texture, nullptr),
              D3D_OK);
    D3DLOCKED_RECT locked{};
    ASSERT_EQ(texture->LockRect(0, &locked, nullptr, 0), D3D_OK);
    auto texel = [](int x, int y) {
        return 0xFF000000u | (static_cast<uint32_t>(x * 30 + 10) << 16) |
               (static_cast<uint32_t>(y * 30 + 10) << 8) | static_cast<uint32_t>((x ^ y) * 16);
    };
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 8; ++x) {
            const uint32_t c = texel(x, y) & 0x00FFFFFFu; // X8: the unused byte reads as opaque
            std::memcpy(static_cast<uint8_t *>(locked.pBits) + y * locked.Pitch + x * 4, &c, 4);
        }
    ASSERT_EQ(texture->UnlockRect(0), D3D_OK);
    ASSERT_EQ(device_->SetTexture(0, texture.get()), D3D_OK);
    device_->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_MODULATE);
    device_->SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_TEXTURE);
    device_->SetTextureStageState(0, D3DTSS_COLORARG2, D3DTA_DIFFUSE);

    // Direct3D 9 maps texels to pixels exactly when the quad's edges lie half a
    // pixel before the first pixel centre.
    Frame(Quad(3.5f, 5.5f, 11.5f, 13.5f, 0.5f, kWhite));
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 16; ++x) {
            const bool inside = x >= 4 && x < 12 && y >= 6 && y < 14;
            EXPECT_EQ(window_.At(x, y), inside ? texel(x - 4, y - 6) : kBlue) << x << "," << y;
        }
}

TEST_F(DrawTest, EdgesOnPixelCentresFollowTheTopLeftRule) {
    Open();
    // Edges through pixel centres: the left and top ones are in, the right and
    // bottom ones out, so the quad covers exactly 4..7 x 2..9.
    Frame(Quad(4.0f, 2.0f, 8.0f, 10.0f, 0.5f, kRed));
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 16; ++x) {
            const bool inside = x >= 4 && x < 8 && y >= 2 && y < 10;
            EXPECT_EQ(window_.At(x, y), inside ? kRed : kBlue) << x << "," << y;
        }
}

TEST_F(DrawTest, PresentGivesTheTopRowFirstAndOpaque) {
    window_.width = 8;
    window_.height = 6;
    Open();
    // A texture with alpha 0, selected for colour and alpha alike.
    Ref<IDirect3DTexture9> texture;
    ASSERT_EQ(device_->CreateTexture(1, 1, 0, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &texture, nullptr),
              D3D_OK);
    D3DLOCKED_RECT locked{};
    ASSERT_EQ(texture->LockRect(0, &locked, nullptr, 0), D3D_OK);
    const uint8_t bgra[4] = {0x00, 0x00, 0xFF, 0x00}; // red, transparent
    std::memcpy(locked.pBits, bgra, 4);
    texture->UnlockRect(0);
    device_->SetTexture(0, texture.get());
    device_->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_SELECTARG1);
    device_->SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_SELECTARG1);
    Frame(Quad(-0.5f, -0.5f, 7.5f, 1.5f, 0.5f, kWhite)); // the top two rows
    EXPECT_EQ(window_.frameWidth, 8);
    EXPECT_EQ(window_.frameHeight, 6);
    EXPECT_EQ(window_.presents, 1);
    for (int x = 0; x < 8; ++x) {
        EXPECT_EQ(window_.At(x, 0), kRed);
        EXPECT_EQ(window_.At(x, 1), kRed);
        EXPECT_EQ(window_.At(x, 2), kBlue);
        EXPECT_EQ(window_.At(x, 5), kBlue);
    }
}

TEST_F(DrawTest, DepthTestKeepsTheNearerSurfaceOnlyWhenEnabled) {
    struct Case {
        DWORD zenable;
        uint32_t expected;
    };
    for (const Case c : {Case{D3DZB_TRUE, kGreen}, Case{D3DZB_FALSE, kRed}}) {
        Open();
        device_->SetRenderState(D3DRS_ZENABLE, c.zenable);
        ASSERT_EQ(device_->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, kBlue, 1.0f, 0), D3D_OK);
        ASSERT_EQ(device_->BeginScene(), D3D_OK);
        Draw(Quad(0, 0, 16, 16, 0.25f, kGreen)); // near
        Draw(Quad(0, 0, 16, 16, 0.75f, kRed));   // far, drawn after
        ASSERT_EQ(device_->EndScene(), D3D_OK);
        ASSERT_EQ(device_->Present(nullptr, nullptr, nullptr, nullptr), D3D_OK);
        EXPECT_EQ(window_.At(8, 8), c.expected) << "ZENABLE " << c.zenable;
    }
}

TEST_F(DrawTest, DepthIsOnByDefaultOnlyWithADepthBuffer) {
    Open();
    DWORD value = 99;
    ASSERT_EQ(device_->GetRenderState(D3DRS_ZENABLE, &value), D3D_OK);
    EXPECT_EQ(value, static_cast<DWORD>(D3DZB_TRUE));
    hasDepth_ = false;
    Open(D3DDEVTYPE_HAL, D3DFMT_UNKNOWN);
    ASSERT_EQ(device_->GetRenderState(D3DRS_ZENABLE, &value), D3D_OK);
    EXPECT_EQ(value, static_cast<DWORD>(D3DZB_FALSE));
    // Clearing a depth buffer that is not there is refused.
    EXPECT_EQ(device_->Clear(0, nullptr, D3DCLEAR_ZBUFFER, 0, 1.0f, 0), D3DERR_INVALIDCALL);
}

TEST_F(DrawTest, CullModesFollowDirect3DWinding) {
    // Left: clockwise on screen (y down); right: counter-clockwise.
    const int w = 16, h = 16;
    const std::vector<Vertex> triangles = {
        ScreenVertex(1, 2, 0.5f, kRed, w, h), ScreenVertex(7, 2, 0.5f, kRed, w, h),
        ScreenVertex(1, 14, 0.5f, kRed, w, h),
        ScreenVertex(9, 2, 0.5f, kGreen, w, h), ScreenVertex(9, 14, 0.5f, kGreen, w, h),
        ScreenVertex(15, 2, 0.5f, kGreen, w, h)};
    struct Case {
        DWORD cull;
        bool clockwiseShown, counterShown;
    };
    const Case cases[] = {{D3DCULL_NONE, true, true}, {D3DCULL_CW, false, true}, {D3DCULL_CCW, true, false}};
    Open();
    for (const Case &c : cases) {
        device_->SetRenderState(D3DRS_CULLMODE, c.cull);
        Frame(triangles, D3DPT_TRIANGLELIST);
        EXPECT_EQ(window_.At(2, 4), c.clockwiseShown ? kRed : kBlue) << "cull " << c.cull;
        EXPECT_EQ(window_.At(10, 4), c.counterShown ? kGreen : kBlue) << "cull " << c.cull;
    }
}

TEST_F(DrawTest, StripTrianglesAlternateWindingAsInDirect3D) {
    Open();
    device_->SetRenderState(D3DRS_CULLMODE, D3DCULL_CCW);
    // A strip whose first triangle is clockwise on screen: both of its triangles
    // are front faces, so CULL_CCW keeps the whole quad.
    Frame(Quad(0, 0, 16, 16, 0.5f, kRed));
    EXPECT_EQ(window_.At(2, 2), kRed);
    EXPECT_EQ(window_.At(13, 13), kRed);
}

TEST_F(DrawTest, FlatShadingTakesTheFirstVertexColour) {
    const int w = 16, h = 16;
    // A strip of two triangles: flat shading colours the first with vertex 0's
    // colour and the second with vertex 1's.
    const std::vector<Vertex> strip = {
        ScreenVertex(0, 0, 0.5f, kRed, w, h), ScreenVertex(16, 0, 0.5f, kGreen, w, h),
        ScreenVertex(0, 16, 0.5f, kWhite, w, h), ScreenVertex(16, 16, 0.5f, kBlack, w, h)};
    Open();
    device_->SetRenderState(D3DRS_SHADEMODE, D3DSHADE_FLAT);
    Frame(strip);
    EXPECT_EQ(window_.At(2, 2), kRed);    // in triangle (0, 1, 2)
    EXPECT_EQ(window_.At(13, 13), kGreen); // in triangle (1, 2, 3)
    device_->SetRenderState(D3DRS_SHADEMODE, D3DSHADE_GOURAUD);
    Frame(strip);
    const uint32_t blended = window_.At(2, 2);
    EXPECT_NE(blended, kRed);
    // Mostly red near vertex 0, with some green and white mixed in.
    EXPECT_GT((blended >> 16) & 0xFF, 0xC0u);
    EXPECT_GT((blended >> 8) & 0xFF, 0x10u);
}

TEST_F(DrawTest, WireFrameDrawsEdgesOnly) {
    Open();
    device_->SetRenderState(D3DRS_FILLMODE, D3DFILL_WIREFRAME);
    Frame(Quad(2, 2, 14, 14, 0.5f, kWhite));
    int edge = 0;
    for (int x = 2; x < 14; ++x) edge += window_.At(x, 2) == kWhite;
    EXPECT_GE(edge, 10);                    // the top edge is drawn
    EXPECT_EQ(window_.At(5, 10), kBlue);    // away from every edge
    EXPECT_EQ(window_.At(0, 0), kBlue);
    device_->SetRenderState(D3DRS_FILLMODE, D3DFILL_SOLID);
    Frame(Quad(2, 2, 14, 14, 0.5f, kWhite));
    EXPECT_EQ(window_.At(5, 10), kWhite);
}

TEST_F(DrawTest, WireFrameStripsLookTheSameWhicheverWayTheyAreDrawn) {
    // A strip row of a relief: upper and lower vertex per column, colours and
    // depths varying. Without culling the device draws its edges as lines; with
    // culling that removes nothing, as polygon outlines. Both must match.
    window_.width = window_.height = 48;
    Open();
    std::vector<Vertex> strip;
    for (int c = 0; c < 10; ++c) {
        const float x = 2.0f + static_cast<float>(c) * 4.7f;
        const uint32_t color = 0xFF000000u | static_cast<uint32_t>(c * 25) << 16 | 0x40u;
        strip.push_back(ScreenVertex(x, 5.0f + static_cast<float>(c % 3), 0.2f + 0.05f * static_cast<float>(c), color, 48, 48));
        strip.push_back(ScreenVertex(x + 1.3f, 40.0f - static_cast<float>(c % 4), 0.5f, ~color | 0xFF000000u, 48, 48));
    }
    device_->SetRenderState(D3DRS_FILLMODE, D3DFILL_WIREFRAME);
    device_->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
    Frame(strip);
    const std::vector<uint32_t> lines = window_.frame;
    device_->SetRenderState(D3DRS_CULLMODE, D3DCULL_CW); // the strip's faces run counter-clockwise
    Frame(strip);
    int drawn = 0, different = 0, outlined = 0;
    for (size_t i = 0; i < lines.size(); ++i) {
        drawn += lines[i] != kBlue;
        outlined += window_.frame[i] != kBlue;
        different += !Near(lines[i], window_.frame[i], 3);
    }
    EXPECT_GT(drawn, 300);
    // Lines drawn the other way round may differ in an end pixel, no more.
    EXPECT_NEAR(outlined, drawn, drawn / 50);
    EXPECT_LE(different, drawn / 50) << "of " << drawn;
}

TEST_F(DrawTest, DrawPrimitiveStartAndCountPickTheVertices) {
    Open();
    // Three quads side by side, four vertices each.
    std::vector<Vertex> vertices;
    const uint32_t colors[3] = {kRed, kGreen, kWhite};
    for (int i = 0; i < 3; ++i) {
        auto q = Quad(static_cast<float>(i * 5), 0, static_cast<float>(i * 5 + 5), 16, 0.5f, colors[i]);
        vertices.insert(vertices.end(), q.begin(), q.end());
    }
    Ref<IDirect3DVertexBuffer9> buffer(MakeBuffer(device_.get(), vertices));
    ASSERT_TRUE(buffer);
    device_->Clear(0, nullptr, D3DCLEAR_TARGET, kBlue, 1.0f, 0);
    device_->BeginScene();
    device_->SetStreamSource(0, buffer.get(), 0, sizeof(Vertex));
    device_->SetFVF(kFvf);
    EXPECT_EQ(device_->DrawPrimitive(D3DPT_TRIANGLESTRIP, 4, 2), D3D_OK); // the middle quad
    EXPECT_EQ(device_->DrawPrimitive(D3DPT_TRIANGLESTRIP, 8, 1), D3D_OK); // half of the last
    // One vertex too many is refused and draws nothing.
    EXPECT_EQ(device_->DrawPrimitive(D3DPT_TRIANGLESTRIP, 10, 1), D3DERR_INVALIDCALL);
    device_->EndScene();
    device_->Present(nullptr, nullptr, nullptr, nullptr);
    EXPECT_EQ(window_.At(2, 8), kBlue);
    EXPECT_EQ(window_.At(7, 8), kGreen);
    EXPECT_EQ(window_.At(11, 2), kWhite);  // upper-left triangle of the last quad
    EXPECT_EQ(window_.At(14, 14), kBlue);  // its other triangle was not drawn
}

TEST_F(DrawTest, ClearHonoursFlagsRectanglesAndViewport) {
    Open();
    // Depth cleared to 0.3, then only the target: a quad at 0.5 stays hidden.
    device_->Clear(0, nullptr, D3DCLEAR_ZBUFFER, 0, 0.3f, 0);
    device_->Clear(0, nullptr, D3DCLEAR_TARGET, kBlue, 1.0f, 0);
    device_->BeginScene();
    Draw(Quad(0, 0, 16, 16, 0.5f, kRed));
    Draw(Quad(0, 0, 16, 16, 0.2f, kGreen));
    device_->EndScene();
    device_->Present(nullptr, nullptr, nullptr, nullptr);
    EXPECT_EQ(window_.At(8, 8), kGreen);

    // A rectangle limits the clear; so does the viewport.
    device_->Clear(0, nullptr, D3DCLEAR_TARGET, kBlue, 1.0f, 0);
    const RECT rect{2, 3, 6, 5};
    EXPECT_EQ(device_->Clear(1, &rect, D3DCLEAR_TARGET, kRed, 1.0f, 0), D3D_OK);
    const D3DVIEWPORT9 viewport{10, 10, 4, 4, 0.0f, 1.0f};
    ASSERT_EQ(device_->SetViewport(&viewport), D3D_OK);
    device_->Clear(0, nullptr, D3DCLEAR_TARGET, kWhite, 1.0f, 0);
    device_->Present(nullptr, nullptr, nullptr, nullptr);
    EXPECT_EQ(window_.At(2, 3), kRed);
    EXPECT_EQ(window_.At(5, 4), kRed);
    EXPECT_EQ(window_.At(6, 4), kBlue);
    EXPECT_EQ(window_.At(2, 5), kBlue);
    EXPECT_EQ(window_.At(10, 10), kWhite);
    EXPECT_EQ(window_.At(13, 13), kWhite);
    EXPECT_EQ(window_.At(14, 13), kBlue);
    EXPECT_EQ(window_.At(9, 10), kBlue);
}

TEST_F(DrawTest, ViewportPlacesTheDrawing) {
    Open();
    device_->Clear(0, nullptr, D3DCLEAR_TARGET, kBlue, 1.0f, 0);
    const D3DVIEWPORT9 viewport{8, 0, 8, 8, 0.0f, 1.0f}; // the top right quarter
    ASSERT_EQ(device_->SetViewport(&viewport), D3D_OK);
    device_->BeginScene();
    // Clip space -1..1 fills the viewport.
    Draw({Vertex{-1, 1, 0.5f, kRed, 0, 0}, Vertex{1, 1, 0.5f, kRed, 0, 0},
          Vertex{-1, -1, 0.5f, kRed, 0, 0}, Vertex{1, -1, 0.5f, kRed, 0, 0}});
    device_->EndScene();
    device_->Present(nullptr, nullptr, nullptr, nullptr);
    EXPECT_EQ(window_.At(8, 0), kRed);
    EXPECT_EQ(window_.At(15, 7), kRed);
    EXPECT_EQ(window_.At(7, 0), kBlue);
    EXPECT_EQ(window_.At(8, 8), kBlue);
}

TEST_F(DrawTest, LightingWithoutLightsIsBlack) {
    Open();
    device_->SetRenderState(D3DRS_LIGHTING, TRUE); // the default
    Frame(Quad(0, 0, 16, 16, 0.5f, kWhite));
    EXPECT_EQ(window_.At(8, 8), kBlack);
}

TEST_F(DrawTest, TextureStageOperations) {
    Open();
    Ref<IDirect3DTexture9> texture;
    ASSERT_EQ(device_->CreateTexture(2, 2, 1, 0, D3DFMT_X8R8G8B8, D3DPOOL_MANAGED, &texture, nullptr),
              D3D_OK);
    D3DLOCKED_RECT locked{};
    texture->LockRect(0, &locked, nullptr, 0);
    for (int i = 0; i < 4; ++i) {
        const uint32_t c = 0x00C86432u; // (200, 100, 50)
        std::memcpy(static_cast<uint8_t *>(locked.pBits) + i * 4, &c, 4);
    }
    texture->UnlockRect(0);
    const uint32_t diffuse = 0xFF80FF40u; // (128, 255, 64)
    struct Case {
        DWORD op, arg1, arg2;
        uint32_t expected;
    };
    const Case cases[] = {
        {D3DTOP_SELECTARG1, D3DTA_TEXTURE, D3DTA_DIFFUSE, 0xFFC86432u},
        {D3DTOP_SELECTARG2, D3DTA_TEXTURE, D3DTA_DIFFUSE, diffuse},
        {D3DTOP_MODULATE, D3DTA_TEXTURE, D3DTA_DIFFUSE, 0xFF64640Du},
        {D3DTOP_MODULATE, D3DTA_TEXTURE, D3DTA_CURRENT, 0xFF64640Du}, // stage 0: current = diffuse
        {D3DTOP_DISABLE, D3DTA_TEXTURE, D3DTA_DIFFUSE, diffuse},
    };
    for (const Case &c : cases) {
        device_->SetTexture(0, texture.get());
        device_->SetTextureStageState(0, D3DTSS_COLOROP, c.op);
        device_->SetTextureStageState(0, D3DTSS_COLORARG1, c.arg1);
        device_->SetTextureStageState(0, D3DTSS_COLORARG2, c.arg2);
        Frame(Quad(0, 0, 16, 16, 0.5f, diffuse));
        EXPECT_TRUE(Near(window_.At(8, 8), c.expected))
            << std::hex << window_.At(8, 8) << " op " << c.op;
    }
    // With no texture a stage that selects one is off: the vertex colour shows.
    device_->SetTexture(0, nullptr);
    device_->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_MODULATE);
    device_->SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_TEXTURE);
    Frame(Quad(0, 0, 16, 16, 0.5f, diffuse));
    EXPECT_EQ(window_.At(8, 8), diffuse);
}

TEST_F(DrawTest, CameraSpaceTextureCoordinatesThroughTheTextureMatrix) {
    Open();
    // Two texels: left red, right green.
    Ref<IDirect3DTexture9> texture;
    ASSERT_EQ(device_->CreateTexture(2, 1, 1, 0, D3DFMT_X8R8G8B8, D3DPOOL_MANAGED, &texture, nullptr),
              D3D_OK);
    D3DLOCKED_RECT locked{};
    texture->LockRect(0, &locked, nullptr, 0);
    const uint32_t texels[2] = {0x00FF0000u, 0x0000FF00u};
    std::memcpy(locked.pBits, texels, 8);
    texture->UnlockRect(0);
    device_->SetTexture(0, texture.get());
    device_->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_SELECTARG1);
    // u = 0.25 x + 0.5, v = -0.25 y + 0.5 of the camera-space position.
    const D3DMATRIX t = {{{0.25f, 0, 0, 0}, {0, -0.25f, 0, 0}, {0, 0, 1, 0}, {0.5f, 0.5f, 0, 1}}};
    device_->SetTransform(D3DTS_TEXTURE0, &t);
    device_->SetTextureStageState(0, D3DTSS_TEXTURETRANSFORMFLAGS, D3DTTFF_COUNT2);
    device_->SetTextureStageState(0, D3DTSS_TEXCOORDINDEX, D3DTSS_TCI_CAMERASPACEPOSITION);
    // Positions from -1.6 to 1.6 give u from 0.1 to 0.9; the vertex u, v are 0.
    Frame({Vertex{-1.6f, 1, 0.5f, kWhite, 0, 0}, Vertex{1.6f, 1, 0.5f, kWhite, 0, 0},
           Vertex{-1.6f, -1, 0.5f, kWhite, 0, 0}, Vertex{1.6f, -1, 0.5f, kWhite, 0, 0}});
    EXPECT_EQ(window_.At(1, 8), kRed);
    EXPECT_EQ(window_.At(14, 8), kGreen);
}

TEST_F(DrawTest, ReferenceDeviceDrawsLikeTheHardwareDevice) {
    auto draw = [this](D3DDEVTYPE type) {
        Open(type);
        device_->SetRenderState(D3DRS_SHADEMODE, D3DSHADE_GOURAUD);
        const int w = 16, h = 16;
        Frame({ScreenVertex(0, 0, 0.5f, kRed, w, h), ScreenVertex(16, 0, 0.5f, kGreen, w, h),
               ScreenVertex(0, 16, 0.5f, kWhite, w, h), ScreenVertex(16, 16, 0.5f, kBlack, w, h)});
        return window_.frame;
    };
    const std::vector<uint32_t> hal = draw(D3DDEVTYPE_HAL);
    const std::vector<uint32_t> ref = draw(D3DDEVTYPE_REF);
    ASSERT_EQ(hal.size(), ref.size());
    for (size_t i = 0; i < hal.size(); ++i) EXPECT_TRUE(Near(hal[i], ref[i])) << i;
}

TEST_F(DrawTest, TwoDevicesOnOneThreadKeepTheirOwnFrames) {
    Open();
    RecordingWindow otherWindow(8, 8);
    Ref<IDirect3DDevice9> other;
    D3DPRESENT_PARAMETERS params = WindowedParams();
    ASSERT_EQ(d3d_->CreateDevice(D3DADAPTER_DEFAULT, D3DDEVTYPE_HAL, &otherWindow.window,
                                 D3DCREATE_HARDWARE_VERTEXPROCESSING, &params, &other),
              D3D_OK);
    EXPECT_EQ(params.BackBufferWidth, 8u); // the client size, written back
    for (int round = 0; round < 2; ++round) {
        other->Clear(0, nullptr, D3DCLEAR_TARGET, kGreen, 1.0f, 0);
        Frame(Quad(0, 0, 8, 16, 0.5f, kRed)); // interleaved with the other device
        other->Present(nullptr, nullptr, nullptr, nullptr);
        EXPECT_EQ(window_.At(2, 2), kRed);
        EXPECT_EQ(window_.At(12, 2), kBlue);
        EXPECT_EQ(otherWindow.At(4, 4), kGreen);
    }
}

TEST_F(DrawTest, WritingLockReachesTheNextDrawReadOnlyLockKeepsData) {
    Open();
    auto quad = Quad(0, 0, 16, 16, 0.5f, kRed);
    Ref<IDirect3DVertexBuffer9> buffer(MakeBuffer(device_.get(), quad));
    auto frame = [&] {
        device_->Clear(0, nullptr, D3DCLEAR_TARGET, kBlue, 1.0f, 0);
        device_->BeginScene();
        device_->SetStreamSource(0, buffer.get(), 0, sizeof(Vertex));
        device_->SetFVF(kFvf);
        device_->DrawPrimitive(D3DPT_TRIANGLESTRIP, 0, 2);
        device_->EndScene();
        device_->Present(nullptr, nullptr, nullptr, nullptr);
    };
    frame();
    EXPECT_EQ(window_.At(8, 8), kRed);
    // Read-only locks see the data and change nothing.
    void *data = nullptr;
    ASSERT_EQ(buffer->Lock(0, 0, &data, D3DLOCK_READONLY), D3D_OK);
    EXPECT_EQ(static_cast<Vertex *>(data)[3].color, kRed);
    buffer->Unlock();
    frame();
    EXPECT_EQ(window_.At(8, 8), kRed);
    // A lock of part of the buffer: the colours of vertices 1 to 3 change.
    ASSERT_EQ(buffer->Lock(sizeof(Vertex), 3 * sizeof(Vertex), &data, 0), D3D_OK);
    for (int i = 0; i < 3; ++i) static_cast<Vertex *>(data)[i].color = kGreen;
    buffer->Unlock();
    device_->SetRenderState(D3DRS_SHADEMODE, D3DSHADE_FLAT);
    frame();
    EXPECT_EQ(window_.At(2, 2), kRed);    // triangle (0, 1, 2): vertex 0
    EXPECT_EQ(window_.At(13, 13), kGreen); // triangle (1, 2, 3): vertex 1
}

TEST_F(DrawTest, MultisampledEdgesAreResolvedForPresent) {
    d3d_.p = Direct3DCreate9(D3D_SDK_VERSION);
    ASSERT_TRUE(d3d_);
    D3DPRESENT_PARAMETERS params = WindowedParams();
    params.MultiSampleType = D3DMULTISAMPLE_4_SAMPLES;
    ASSERT_EQ(d3d_->CreateDevice(D3DADAPTER_DEFAULT, D3DDEVTYPE_HAL, &window_.window,
                                 D3DCREATE_SOFTWARE_VERTEXPROCESSING, &params, &device_),
              D3D_OK);
    device_->SetRenderState(D3DRS_LIGHTING, FALSE);
    device_->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
    // A triangle whose long edge runs diagonally across the frame.
    const std::vector<Vertex> triangle = {ScreenVertex(0, 0, 0.5f, kWhite, 16, 16),
                                          ScreenVertex(16, 0, 0.5f, kWhite, 16, 16),
                                          ScreenVertex(0, 16, 0.5f, kWhite, 16, 16)};
    auto partial = [this] {
        int count = 0;
        for (uint32_t p : window_.frame) count += p != kWhite && p != kBlack;
        return count;
    };
    Frame(triangle, D3DPT_TRIANGLELIST, kBlack);
    EXPECT_EQ(window_.At(2, 2), kWhite);
    EXPECT_EQ(window_.At(13, 13), kBlack);
    EXPECT_GT(partial(), 8); // grey along the edge
    device_->SetRenderState(D3DRS_MULTISAMPLEANTIALIAS, FALSE);
    Frame(triangle, D3DPT_TRIANGLELIST, kBlack);
    EXPECT_EQ(partial(), 0);
}

TEST_F(DrawTest, SixteenBitBackBufferQuantisesColours) {
    d3d_.p = Direct3DCreate9(D3D_SDK_VERSION);
    ASSERT_TRUE(d3d_);
    D3DPRESENT_PARAMETERS params = WindowedParams();
    params.BackBufferFormat = D3DFMT_R5G6B5;
    ASSERT_EQ(d3d_->CreateDevice(D3DADAPTER_DEFAULT, D3DDEVTYPE_HAL, &window_.window,
                                 D3DCREATE_SOFTWARE_VERTEXPROCESSING, &params, &device_),
              D3D_OK);
    device_->Clear(0, nullptr, D3DCLEAR_TARGET, 0xFF123456u, 1.0f, 0);
    device_->Present(nullptr, nullptr, nullptr, nullptr);
    const uint32_t c = window_.At(0, 0);
    EXPECT_TRUE(Near(c, 0xFF123456u, 8)) << std::hex << c;
    EXPECT_NE(c, 0xFF123456u); // 5 and 6 bits cannot hold it exactly
}

} // namespace
} // namespace qrv::d3d9::testing
