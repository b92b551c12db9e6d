// Textures from files on the OpenGL device: what the loader writes is what a
// textured quad shows, texel for texel, with red and blue where they belong.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "../d3d9/d3d9_test_support.h"
#include "picture_fixtures.h"
#include "platform/d3dx9/d3dx9.h"

namespace {

using qrv::d3d9::testing::RecordingWindow;
using qrv::d3d9::testing::Ref;
using qrv::d3d9::testing::Vertex;
using qrv::testing::BmpSpec;
using qrv::testing::Bytes;
using qrv::testing::MakeBmp;
using qrv::testing::MakeJpeg;
using qrv::testing::MakePng;
using qrv::testing::PngSpec;
using qrv::testing::WriteFile;

// A texel colour as 0xAARRGGBB, every one different.
uint32_t Texel(int x, int y)
{
    return 0xFF000000u | static_cast<uint32_t>(x * 30 + 10) << 16 |
           static_cast<uint32_t>(y * 30 + 10) << 8 | static_cast<uint32_t>((x ^ y) * 16);
}

class TextureOnDevice : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "qrv-texture-device-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        dir_ = pattern;
        d3d_.p = Direct3DCreate9(D3D_SDK_VERSION);
        ASSERT_TRUE(d3d_);
        D3DPRESENT_PARAMETERS params = qrv::d3d9::testing::WindowedParams(D3DFMT_UNKNOWN);
        ASSERT_EQ(d3d_->CreateDevice(D3DADAPTER_DEFAULT, D3DDEVTYPE_HAL, &window_.window,
                                     D3DCREATE_SOFTWARE_VERTEXPROCESSING, &params, &device_),
                  D3D_OK);
    }
    void TearDown() override { std::filesystem::remove_all(dir_); }

    // Draws texture over the 8 x 8 pixels at the top left, one texel a pixel.
    void Show(IDirect3DTexture9 *texture)
    {
        device_->SetRenderState(D3DRS_LIGHTING, FALSE);
        device_->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
        device_->SetTexture(0, texture);
        device_->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_SELECTARG1);
        device_->SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_TEXTURE);
        const int w = window_.width, h = window_.height;
        const std::vector<Vertex> quad = {
            qrv::d3d9::testing::ScreenVertex(-0.5f, -0.5f, 0.5f, 0xFFFFFFFF, w, h, 0, 0),
            qrv::d3d9::testing::ScreenVertex(7.5f, -0.5f, 0.5f, 0xFFFFFFFF, w, h, 1, 0),
            qrv::d3d9::testing::ScreenVertex(-0.5f, 7.5f, 0.5f, 0xFFFFFFFF, w, h, 0, 1),
            qrv::d3d9::testing::ScreenVertex(7.5f, 7.5f, 0.5f, 0xFFFFFFFF, w, h, 1, 1)};
        Ref<IDirect3DVertexBuffer9> buffer(qrv::d3d9::testing::MakeBuffer(device_.get(), quad));
        ASSERT_TRUE(buffer);
        ASSERT_EQ(device_->Clear(0, nullptr, D3DCLEAR_TARGET, 0xFF000000u, 1.0f, 0), D3D_OK);
        ASSERT_EQ(device_->BeginScene(), D3D_OK);
        device_->SetStreamSource(0, buffer.get(), 0, sizeof(Vertex));
        device_->SetFVF(qrv::d3d9::testing::kFvf);
        ASSERT_EQ(device_->DrawPrimitive(D3DPT_TRIANGLESTRIP, 0, 2), D3D_OK);
        ASSERT_EQ(device_->EndScene(), D3D_OK);
        ASSERT_EQ(device_->Present(nullptr, nullptr, nullptr, nullptr), D3D_OK);
    }

    std::filesystem::path dir_;
    RecordingWindow window_{16, 16};
    Ref<IDirect3D9> d3d_;
    Ref<IDirect3DDevice9> device_;
};

TEST_F(TextureOnDevice, BmpShowsTexelForTexel)
{
    BmpSpec s;
    s.width = 8;
    s.height = 8; // bottom-up, as most BMPs
    s.bitCount = 24;
    for (int row = 7; row >= 0; --row) {
        for (int x = 0; x < 8; ++x) {
            const uint32_t c = Texel(x, row);
            s.pixels.insert(s.pixels.end(), {static_cast<uint8_t>(c), static_cast<uint8_t>(c >> 8),
                                             static_cast<uint8_t>(c >> 16)});
        }
    }
    const std::string path = (dir_ / "texels.bmp").string();
    WriteFile(path, MakeBmp(s));
    Ref<IDirect3DTexture9> texture;
    ASSERT_EQ(D3DXCreateTextureFromFileA(device_.get(), path.c_str(), &texture), S_OK);
    D3DSURFACE_DESC desc{};
    ASSERT_EQ(texture->GetLevelDesc(0, &desc), D3D_OK);
    EXPECT_EQ(desc.Width, 8u);
    EXPECT_EQ(desc.Height, 8u);
    EXPECT_EQ(desc.Format, D3DFMT_X8R8G8B8);
    EXPECT_EQ(desc.Pool, D3DPOOL_MANAGED);
    EXPECT_EQ(texture->GetLevelCount(), 1u);

    Show(texture.get());
    for (int y = 0; y < 8; ++y) {
        for (int x = 0; x < 8; ++x) {
            EXPECT_EQ(window_.At(x, y), Texel(x, y)) << x << "," << y;
        }
    }
}

TEST_F(TextureOnDevice, PngAlphaAndJpegColoursReachTheDevice)
{
    PngSpec png;
    png.width = 2;
    png.colorType = PNG_COLOR_TYPE_RGBA;
    png.rows = {{200, 100, 50, 77, 1, 2, 3, 255}};
    const std::string pngPath = (dir_ / "alpha.png").string();
    WriteFile(pngPath, MakePng(png));
    Ref<IDirect3DTexture9> alpha;
    ASSERT_EQ(D3DXCreateTextureFromFileA(device_.get(), pngPath.c_str(), &alpha), S_OK);
    D3DSURFACE_DESC desc{};
    alpha->GetLevelDesc(0, &desc);
    EXPECT_EQ(desc.Format, D3DFMT_A8R8G8B8);
    D3DLOCKED_RECT locked{};
    ASSERT_EQ(alpha->LockRect(0, &locked, nullptr, D3DLOCK_READONLY), D3D_OK);
    const auto *texels = static_cast<const uint8_t *>(locked.pBits);
    EXPECT_EQ(texels[0], 50);
    EXPECT_EQ(texels[1], 100);
    EXPECT_EQ(texels[2], 200);
    EXPECT_EQ(texels[3], 77);
    alpha->UnlockRect(0);

    // A flat orange JPEG fills the quad orange.
    Bytes bgrx(8 * 8 * 4);
    for (size_t i = 0; i < bgrx.size(); i += 4) {
        bgrx[i] = 0x20;
        bgrx[i + 1] = 0x90;
        bgrx[i + 2] = 0xF0;
    }
    const std::string jpegPath = (dir_ / "orange.jpg").string();
    WriteFile(jpegPath, MakeJpeg(bgrx, 8, 8, TJSAMP_444, 100));
    Ref<IDirect3DTexture9> orange;
    ASSERT_EQ(D3DXCreateTextureFromFileA(device_.get(), jpegPath.c_str(), &orange), S_OK);
    Show(orange.get());
    EXPECT_TRUE(qrv::d3d9::testing::Near(window_.At(3, 4), 0xFFF09020u, 3))
        << std::hex << window_.At(3, 4);
    EXPECT_EQ(window_.At(12, 12), 0xFF000000u); // outside the quad
}

} // namespace
