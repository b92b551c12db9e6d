// D3DXCreateTextureFromFileA through a recording stand-in device: the calls it
// makes, the texels it writes at the texture's pitch, scaling to the device's
// largest texture, and that every failure leaves no texture behind.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "fake_device.h"
#include "picture_fixtures.h"
#include "platform/d3dx9/d3dx9.h"

namespace {

using qrv::testing::BmpSpec;
using qrv::testing::Bytes;
using qrv::testing::FakeDevice;
using qrv::testing::FakeTexture;
using qrv::testing::MakeBmp;
using qrv::testing::MakeJpeg;
using qrv::testing::MakePng;
using qrv::testing::PadRows;
using qrv::testing::PngSpec;
using qrv::testing::WriteFile;

class TextureFromFile : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::string pattern = (std::filesystem::temp_directory_path() / "qrv-texture-XXXXXX");
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        dir_ = pattern;
    }
    void TearDown() override { std::filesystem::remove_all(dir_); }

    std::string Write(const std::string &name, const Bytes &bytes)
    {
        const std::string path = (dir_ / name).string();
        WriteFile(path, bytes);
        return path;
    }

    std::filesystem::path dir_;
    FakeDevice device_;
};

// 3 x 2, 24 bits: top row blue green red, bottom row grey white black.
Bytes SmallBmp()
{
    BmpSpec s;
    s.width = 3;
    s.height = 2;
    s.bitCount = 24;
    s.pixels = PadRows({{9, 9, 9, 255, 255, 255, 0, 0, 0}, {255, 0, 0, 0, 255, 0, 0, 0, 255}});
    return MakeBmp(s);
}

TEST_F(TextureFromFile, BmpBecomesOneManagedLevelWrittenAtThePitch)
{
    const std::string path = Write("small.bmp", SmallBmp());
    IDirect3DTexture9 *texture = nullptr;
    ASSERT_EQ(D3DXCreateTextureFromFileA(&device_, path.c_str(), &texture), S_OK);
    ASSERT_NE(texture, nullptr);
    EXPECT_EQ(device_.calls,
              (std::vector<std::string>{"GetDeviceCaps",
                                        "CreateTexture 3x2 levels 1 usage 0 format 22 pool 1",
                                        "LockRect 0 whole flags 0", "UnlockRect 0"}));
    auto *fake = static_cast<FakeTexture *>(texture);
    const uint8_t expected[2][3][4] = {{{255, 0, 0, 255}, {0, 255, 0, 255}, {0, 0, 255, 255}},
                                       {{9, 9, 9, 255}, {255, 255, 255, 255}, {0, 0, 0, 255}}};
    for (UINT y = 0; y < 2; ++y) {
        for (UINT x = 0; x < 3; ++x) {
            for (int k = 0; k < 4; ++k) {
                EXPECT_EQ(fake->Texel(x, y)[k], expected[y][x][k]) << x << "," << y << "," << k;
            }
        }
        // The row padding is not the loader's to write.
        for (UINT i = 12; i < fake->pitch; ++i) {
            EXPECT_EQ(fake->memory[y * fake->pitch + i], 0xCD);
        }
    }
    EXPECT_FALSE(fake->locked);
    EXPECT_EQ(texture->Release(), 0u); // the caller holds the only reference
    EXPECT_EQ(device_.liveTextures, 0);
}

TEST_F(TextureFromFile, FormatFollowsAlphaAndContentNotTheName)
{
    PngSpec withAlpha;
    withAlpha.width = 2;
    withAlpha.height = 2;
    withAlpha.colorType = PNG_COLOR_TYPE_RGBA;
    withAlpha.rows = {{255, 0, 0, 128, 0, 0, 255, 255}, {1, 2, 3, 4, 5, 6, 7, 8}};
    PngSpec opaque = withAlpha;
    opaque.height = 1;
    opaque.colorType = PNG_COLOR_TYPE_RGB;
    opaque.rows = {{255, 0, 0, 0, 0, 255}};
    Bytes bgrx(8 * 8 * 4, 200);
    struct Case {
        const char *name;
        Bytes file;
        D3DFORMAT format;
    } cases[] = {
        {"png-with-alpha.bmp", MakePng(withAlpha), D3DFMT_A8R8G8B8},
        {"opaque.jpg", MakePng(opaque), D3DFMT_X8R8G8B8},
        {"photo.bmp", MakeJpeg(bgrx, 8, 8, TJSAMP_420, 90), D3DFMT_X8R8G8B8},
        {"noextension", SmallBmp(), D3DFMT_X8R8G8B8},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        IDirect3DTexture9 *texture = nullptr;
        ASSERT_EQ(D3DXCreateTextureFromFileA(&device_, Write(c.name, c.file).c_str(), &texture),
                  S_OK);
        auto *fake = static_cast<FakeTexture *>(texture);
        EXPECT_EQ(fake->format, c.format);
        if (c.format == D3DFMT_A8R8G8B8) {
            EXPECT_EQ(fake->Texel(0, 0)[2], 255);
            EXPECT_EQ(fake->Texel(0, 0)[3], 128);
            // The second row at the texture's pitch: B,G,R,A of (5, 6, 7, 8).
            EXPECT_EQ(fake->Texel(1, 1)[0], 7);
            EXPECT_EQ(fake->Texel(1, 1)[2], 5);
            EXPECT_EQ(fake->Texel(1, 1)[3], 8);
            EXPECT_EQ(fake->memory[fake->pitch + 8], 0xCD); // the padding after row 0
        }
        texture->Release();
    }
    EXPECT_EQ(device_.liveTextures, 0);
}

TEST_F(TextureFromFile, JpegDecodesStraightIntoTheTexture)
{
    // Left half red, right half blue, 16 x 8.
    Bytes bgrx(16 * 8 * 4);
    for (int y = 0; y < 8; ++y) {
        for (int x = 0; x < 16; ++x) {
            uint8_t *p = &bgrx[(y * 16 + x) * 4];
            p[0] = x < 8 ? 0 : 255;
            p[2] = x < 8 ? 255 : 0;
        }
    }
    const std::string path = Write("two.jpg", MakeJpeg(bgrx, 16, 8, TJSAMP_444, 95));
    IDirect3DTexture9 *texture = nullptr;
    ASSERT_EQ(D3DXCreateTextureFromFileA(&device_, path.c_str(), &texture), S_OK);
    auto *fake = static_cast<FakeTexture *>(texture);
    EXPECT_EQ(fake->width, 16u);
    EXPECT_EQ(fake->height, 8u);
    EXPECT_NEAR(fake->Texel(2, 4)[2], 255, 6);
    EXPECT_NEAR(fake->Texel(2, 4)[0], 0, 6);
    EXPECT_NEAR(fake->Texel(13, 4)[0], 255, 6);
    EXPECT_NEAR(fake->Texel(13, 4)[2], 0, 6);
    EXPECT_EQ(fake->Texel(13, 4)[3], 255);
    EXPECT_EQ(fake->memory[4 * fake->pitch + 16 * 4], 0xCD); // padding untouched
    texture->Release();
}

TEST_F(TextureFromFile, LargerThanTheDeviceAllowsIsScaledDown)
{
    // 8 x 6 of 2 x 2 blocks; each block's four pixels have blues 0, 40, 80, 120.
    BmpSpec s;
    s.width = 8;
    s.height = -6;
    s.bitCount = 32;
    for (int y = 0; y < 6; ++y) {
        for (int x = 0; x < 8; ++x) {
            const uint8_t blue = static_cast<uint8_t>(40 * ((y % 2) * 2 + x % 2));
            const uint8_t red = static_cast<uint8_t>(20 * (y / 2 * 4 + x / 2));
            s.pixels.insert(s.pixels.end(), {blue, 0, red, 0});
        }
    }
    device_.maxTextureWidth = 4;
    device_.maxTextureHeight = 4;
    IDirect3DTexture9 *texture = nullptr;
    ASSERT_EQ(D3DXCreateTextureFromFileA(&device_, Write("big.bmp", MakeBmp(s)).c_str(), &texture),
              S_OK);
    EXPECT_EQ(device_.calls[1], "CreateTexture 4x3 levels 1 usage 0 format 22 pool 1");
    auto *fake = static_cast<FakeTexture *>(texture);
    for (UINT y = 0; y < 3; ++y) {
        for (UINT x = 0; x < 4; ++x) {
            EXPECT_EQ(fake->Texel(x, y)[0], 60); // (0 + 40 + 80 + 120) / 4
            EXPECT_EQ(fake->Texel(x, y)[2], 20 * (y * 4 + x));
            EXPECT_EQ(fake->Texel(x, y)[3], 255);
        }
    }
    texture->Release();

    // A large JPEG is reduced by its decoder first, then box-filtered to fit.
    Bytes bgrx(300 * 100 * 4);
    for (size_t i = 0; i < bgrx.size(); i += 4) {
        bgrx[i] = 30;
        bgrx[i + 1] = 160;
        bgrx[i + 2] = 90;
    }
    device_.maxTextureWidth = 64;
    device_.maxTextureHeight = 64;
    device_.calls.clear();
    ASSERT_EQ(D3DXCreateTextureFromFileA(
                  &device_, Write("big.jpg", MakeJpeg(bgrx, 300, 100, TJSAMP_420, 90)).c_str(),
                  &texture),
              S_OK);
    EXPECT_EQ(device_.calls[1], "CreateTexture 64x21 levels 1 usage 0 format 22 pool 1");
    fake = static_cast<FakeTexture *>(texture);
    EXPECT_NEAR(fake->Texel(10, 10)[0], 30, 3);
    EXPECT_NEAR(fake->Texel(63, 20)[1], 160, 3);
    EXPECT_NEAR(fake->Texel(0, 0)[2], 90, 3);
    texture->Release();
    EXPECT_EQ(device_.liveTextures, 0);
}

TEST_F(TextureFromFile, FailuresLeaveNoTexture)
{
    const Bytes bmp = SmallBmp();
    Bytes noise(32 * 32 * 4);
    for (size_t i = 0; i < noise.size(); ++i) {
        noise[i] = static_cast<uint8_t>(i * 2654435761u >> 13);
    }
    const Bytes jpeg = MakeJpeg(noise, 32, 32, TJSAMP_420, 90);
    // The header stays whole; the scan loses its end.
    const Bytes cutJpeg(jpeg.begin(), jpeg.end() - 100);
    struct Case {
        const char *name;
        std::string path;
        HRESULT caps, create, lock;
        UINT maxSize;
        HRESULT expected;
        bool textureMade; // the failure came after CreateTexture
    } cases[] = {
        {"missing file", (dir_ / "nothing.bmp").string(), D3D_OK, D3D_OK, D3D_OK, 4096, E_FAIL,
         false},
        {"a folder", dir_.string(), D3D_OK, D3D_OK, D3D_OK, 4096, E_FAIL, false},
        {"empty file", Write("empty.bmp", {}), D3D_OK, D3D_OK, D3D_OK, 4096, D3DXERR_INVALIDDATA,
         false},
        {"not a picture", Write("text.bmp", {'h', 'e', 'l', 'l', 'o'}), D3D_OK, D3D_OK, D3D_OK,
         4096, D3DXERR_INVALIDDATA, false},
        {"BMP cut short", Write("cut.bmp", Bytes(bmp.begin(), bmp.end() - 1)), D3D_OK, D3D_OK,
         D3D_OK, 4096, D3DXERR_INVALIDDATA, false},
        {"JPEG cut after its header", Write("cut.jpg", cutJpeg), D3D_OK, D3D_OK, D3D_OK, 4096,
         D3DXERR_INVALIDDATA, true},
        {"JPEG cut, to be scaled", Write("cut2.jpg", cutJpeg), D3D_OK, D3D_OK, D3D_OK, 16,
         D3DXERR_INVALIDDATA, false},
        {"caps fail", Write("a.bmp", bmp), D3DERR_DEVICELOST, D3D_OK, D3D_OK, 4096,
         D3DERR_DEVICELOST, false},
        {"no texture size", Write("b.bmp", bmp), D3D_OK, D3D_OK, D3D_OK, 0, D3DERR_NOTAVAILABLE,
         false},
        {"create fails", Write("c.bmp", bmp), D3D_OK, D3DERR_OUTOFVIDEOMEMORY, D3D_OK, 4096,
         D3DERR_OUTOFVIDEOMEMORY, false},
        {"lock fails", Write("d.bmp", bmp), D3D_OK, D3D_OK, D3DERR_INVALIDCALL, 4096,
         D3DERR_INVALIDCALL, true},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        FakeDevice device;
        device.capsResult = c.caps;
        device.createResult = c.create;
        device.lockResult = c.lock;
        device.maxTextureWidth = device.maxTextureHeight = c.maxSize;
        IDirect3DTexture9 *texture = reinterpret_cast<IDirect3DTexture9 *>(&device);
        EXPECT_EQ(D3DXCreateTextureFromFileA(&device, c.path.c_str(), &texture), c.expected);
        EXPECT_EQ(texture, nullptr);
        EXPECT_EQ(device.liveTextures, 0);
        const bool made = std::count_if(device.calls.begin(), device.calls.end(), [](auto &s) {
                              return s.rfind("CreateTexture", 0) == 0;
                          }) > 0 &&
                          c.create == D3D_OK;
        EXPECT_EQ(made, c.textureMade);
        // Whatever was locked was unlocked before the release.
        const auto locks = std::count(device.calls.begin(), device.calls.end(),
                                      std::string("LockRect 0 whole flags 0"));
        const auto unlocks =
            std::count(device.calls.begin(), device.calls.end(), std::string("UnlockRect 0"));
        EXPECT_EQ(locks - (c.lock == D3D_OK ? 0 : 1), unlocks);
    }
}

TEST_F(TextureFromFile, NullArguments)
{
    const std::string path = Write("small.bmp", SmallBmp());
    IDirect3DTexture9 *texture = reinterpret_cast<IDirect3DTexture9 *>(&device_);
    EXPECT_EQ(D3DXCreateTextureFromFileA(nullptr, path.c_str(), &texture), D3DERR_INVALIDCALL);
    EXPECT_EQ(texture, nullptr);
    EXPECT_EQ(D3DXCreateTextureFromFileA(&device_, nullptr, &texture), D3DERR_INVALIDCALL);
    EXPECT_EQ(D3DXCreateTextureFromFileA(&device_, path.c_str(), nullptr), D3DERR_INVALIDCALL);
    EXPECT_TRUE(device_.calls.empty());
}

} // namespace
