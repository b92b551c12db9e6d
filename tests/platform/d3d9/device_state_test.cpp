// The OpenGL device's life cycle and its answers to bad calls: creation, device
// loss and Reset, refused arguments, capability answers.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "d3d9_test_support.h"
#include "platform/d3d9/d3d9_testing.h"

namespace qrv::d3d9::testing {
namespace {

constexpr uint32_t kBlue = 0xFF0000FFu, kRed = 0xFFFF0000u;

class DeviceTest : public ::testing::Test {
protected:
    void SetUp() override {
        d3d_.p = Direct3DCreate9(D3D_SDK_VERSION);
        ASSERT_TRUE(d3d_);
        params_ = WindowedParams();
        ASSERT_EQ(d3d_->CreateDevice(D3DADAPTER_DEFAULT, D3DDEVTYPE_HAL, &window_.window,
                                     D3DCREATE_SOFTWARE_VERTEXPROCESSING, &params_, &device_),
                  D3D_OK);
    }

    // A red textured quad over the whole 16 x 16 frame from a managed buffer and
    // texture; returns the centre pixel.
    uint32_t DrawTextured(IDirect3DVertexBuffer9 *buffer, IDirect3DTexture9 *texture,
                          bool bind = true) {
        device_->SetRenderState(D3DRS_LIGHTING, FALSE);
        device_->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
        device_->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, kBlue, 1.0f, 0);
        device_->BeginScene();
        if (bind) device_->SetTexture(0, texture);
        device_->SetStreamSource(0, buffer, 0, sizeof(Vertex));
        device_->SetFVF(kFvf);
        EXPECT_EQ(device_->DrawPrimitive(D3DPT_TRIANGLESTRIP, 0, 2), D3D_OK);
        device_->EndScene();
        EXPECT_EQ(device_->Present(nullptr, nullptr, nullptr, nullptr), D3D_OK);
        return window_.At(8, 8);
    }

    IDirect3DTexture9 *RedTexture() {
        IDirect3DTexture9 *texture = nullptr;
        EXPECT_EQ(device_->CreateTexture(4, 4, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &texture, nullptr),
                  D3D_OK);
        D3DLOCKED_RECT locked{};
        texture->LockRect(0, &locked, nullptr, 0);
        for (int i = 0; i < 16; ++i) std::memcpy(static_cast<uint8_t *>(locked.pBits) + i * 4, &kRed, 4);
        texture->UnlockRect(0);
        return texture;
    }

    std::vector<Vertex> FullQuad() const {
        return {ScreenVertex(0, 0, 0.5f, 0xFFFFFFFFu, 16, 16), ScreenVertex(16, 0, 0.5f, 0xFFFFFFFFu, 16, 16),
                ScreenVertex(0, 16, 0.5f, 0xFFFFFFFFu, 16, 16), ScreenVertex(16, 16, 0.5f, 0xFFFFFFFFu, 16, 16)};
    }

    RecordingWindow window_{16, 16};
    D3DPRESENT_PARAMETERS params_{};
    Ref<IDirect3D9> d3d_;
    Ref<IDirect3DDevice9> device_;
};

TEST(Direct3DCreate, OnlySdkVersion31) {
    EXPECT_EQ(Direct3DCreate9(30), nullptr);
    EXPECT_EQ(Direct3DCreate9(32), nullptr);
    Ref<IDirect3D9> d3d(Direct3DCreate9(31));
    EXPECT_TRUE(d3d);
}

TEST(Direct3DCreate, FactoryReplacesTheObject) {
    static int calls = 0;
    SetDirect3DFactory([](UINT) -> IDirect3D9 * {
        ++calls;
        return nullptr;
    });
    EXPECT_EQ(Direct3DCreate9(31), nullptr);
    EXPECT_EQ(calls, 1);
    SetDirect3DFactory(nullptr);
    Ref<IDirect3D9> d3d(Direct3DCreate9(31));
    EXPECT_TRUE(d3d);
}

TEST_F(DeviceTest, WindowedZeroSizesComeBackAsTheClientSize) {
    EXPECT_EQ(params_.BackBufferWidth, 16u);
    EXPECT_EQ(params_.BackBufferHeight, 16u);
    EXPECT_EQ(params_.BackBufferFormat, D3DFMT_X8R8G8B8);
    RecordingWindow wide(40, 10);
    D3DPRESENT_PARAMETERS params = WindowedParams(D3DFMT_D24S8);
    params.BackBufferWidth = 20; // a given size is kept
    Ref<IDirect3DDevice9> device;
    ASSERT_EQ(d3d_->CreateDevice(D3DADAPTER_DEFAULT, D3DDEVTYPE_REF, &wide.window,
                                 D3DCREATE_HARDWARE_VERTEXPROCESSING, &params, &device),
              D3D_OK);
    EXPECT_EQ(params.BackBufferWidth, 20u);
    EXPECT_EQ(params.BackBufferHeight, 10u);
    device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER | D3DCLEAR_STENCIL, kRed, 1.0f, 0);
    EXPECT_EQ(device->Present(nullptr, nullptr, nullptr, nullptr), D3D_OK);
    EXPECT_EQ(wide.frameWidth, 20);
    EXPECT_EQ(wide.frameHeight, 10);
}

TEST_F(DeviceTest, FullScreenParametersRenderOffscreenAtTheModeSize) {
    RecordingWindow window(30, 30);
    D3DPRESENT_PARAMETERS params = WindowedParams(D3DFMT_D24S8);
    params.Windowed = FALSE;
    params.BackBufferFormat = D3DFMT_X8R8G8B8;
    Ref<IDirect3DDevice9> device;
    // Full screen needs its size.
    EXPECT_EQ(d3d_->CreateDevice(D3DADAPTER_DEFAULT, D3DDEVTYPE_HAL, &window.window,
                                 D3DCREATE_HARDWARE_VERTEXPROCESSING, &params, &device),
              D3DERR_INVALIDCALL);
    EXPECT_FALSE(device);
    params.BackBufferWidth = 64;
    params.BackBufferHeight = 48;
    ASSERT_EQ(d3d_->CreateDevice(D3DADAPTER_DEFAULT, D3DDEVTYPE_HAL, &window.window,
                                 D3DCREATE_HARDWARE_VERTEXPROCESSING, &params, &device),
              D3D_OK);
    device->Clear(0, nullptr, D3DCLEAR_TARGET, kRed, 1.0f, 0);
    device->Present(nullptr, nullptr, nullptr, nullptr);
    EXPECT_EQ(window.frameWidth, 64);
    EXPECT_EQ(window.frameHeight, 48);
}

TEST_F(DeviceTest, ResetAfterLossKeepsManagedResourcesAndRestoresDefaults) {
    Ref<IDirect3DVertexBuffer9> buffer(MakeBuffer(device_.get(), FullQuad()));
    Ref<IDirect3DTexture9> texture(RedTexture());
    ASSERT_EQ(DrawTextured(buffer.get(), texture.get()), kRed);

    EXPECT_FALSE(InjectDeviceLoss(nullptr)); // only devices of this implementation
    ASSERT_TRUE(InjectDeviceLoss(device_.get()));
    EXPECT_EQ(device_->Present(nullptr, nullptr, nullptr, nullptr), D3DERR_DEVICELOST);
    EXPECT_EQ(device_->TestCooperativeLevel(), D3DERR_DEVICELOST);
    EXPECT_EQ(device_->Reset(&params_), D3DERR_DEVICELOST);
    // While lost, drawing and locking still answer as Direct3D does.
    EXPECT_EQ(device_->BeginScene(), D3D_OK);
    EXPECT_EQ(device_->DrawPrimitive(D3DPT_TRIANGLESTRIP, 0, 2), D3D_OK);
    EXPECT_EQ(device_->EndScene(), D3D_OK);
    void *data = nullptr;
    ASSERT_EQ(buffer->Lock(0, 0, &data, D3DLOCK_READONLY), D3D_OK);
    buffer->Unlock();

    ASSERT_TRUE(SetDeviceResettable(device_.get(), true));
    EXPECT_EQ(device_->TestCooperativeLevel(), D3DERR_DEVICENOTRESET);
    ASSERT_EQ(device_->Reset(&params_), D3D_OK);
    EXPECT_EQ(device_->TestCooperativeLevel(), D3D_OK);
    // Render states are back at Direct3D's defaults.
    DWORD lighting = 0, cull = 0, fill = 0;
    device_->GetRenderState(D3DRS_LIGHTING, &lighting);
    device_->GetRenderState(D3DRS_CULLMODE, &cull);
    device_->GetRenderState(D3DRS_FILLMODE, &fill);
    EXPECT_EQ(lighting, static_cast<DWORD>(TRUE));
    EXPECT_EQ(cull, static_cast<DWORD>(D3DCULL_CCW));
    EXPECT_EQ(fill, static_cast<DWORD>(D3DFILL_SOLID));
    // The same buffer and texture draw the same frame on the new context.
    EXPECT_EQ(DrawTextured(buffer.get(), texture.get()), kRed);
}

TEST_F(DeviceTest, AMinimisedWindowLosesTheDeviceUntilReset) {
    window_.width = window_.height = 0;
    EXPECT_EQ(device_->Present(nullptr, nullptr, nullptr, nullptr), D3DERR_DEVICELOST);
    EXPECT_EQ(window_.presents, 0);
    EXPECT_EQ(device_->TestCooperativeLevel(), D3DERR_DEVICELOST);
    window_.width = 24;
    window_.height = 12;
    EXPECT_EQ(device_->TestCooperativeLevel(), D3DERR_DEVICENOTRESET);
    D3DPRESENT_PARAMETERS params = WindowedParams();
    ASSERT_EQ(device_->Reset(&params), D3D_OK);
    // Zero sizes take the client size at the reset.
    EXPECT_EQ(params.BackBufferWidth, 24u);
    EXPECT_EQ(params.BackBufferHeight, 12u);
    EXPECT_EQ(device_->Present(nullptr, nullptr, nullptr, nullptr), D3D_OK);
    EXPECT_EQ(window_.frameWidth, 24);
}

TEST_F(DeviceTest, ResourcesKeepTheDeviceAliveAndBoundOnesSurviveTheirRelease) {
    Ref<IDirect3DVertexBuffer9> buffer(MakeBuffer(device_.get(), FullQuad()));
    IDirect3DTexture9 *texture = RedTexture();
    device_->SetTexture(0, texture);
    // Released while bound: it still draws, as in Direct3D, until it is unbound.
    EXPECT_EQ(texture->Release(), 0u);
    EXPECT_EQ(DrawTextured(buffer.get(), nullptr, false), kRed);
    EXPECT_EQ(DrawTextured(buffer.get(), nullptr), 0xFFFFFFFFu); // no texture: the white vertices
    // The device counts the buffer's reference.
    device_->AddRef();
    EXPECT_GT(device_->Release(), 1u);
    IDirect3DDevice9 *owner = nullptr;
    ASSERT_EQ(buffer->GetDevice(&owner), D3D_OK);
    EXPECT_EQ(owner, device_.get());
    owner->Release();
}

TEST_F(DeviceTest, BadCallsAreRefused) {
    Ref<IDirect3DVertexBuffer9> buffer(MakeBuffer(device_.get(), FullQuad()));
    void *data = nullptr;
    D3DLOCKED_RECT locked{};
    Ref<IDirect3DTexture9> texture(RedTexture());
    Ref<IDirect3DVertexBuffer9> none;
    Ref<IDirect3DTexture9> noTexture;
    Ref<IDirect3DIndexBuffer9> noIndices;
    const RECT rect{0, 0, 1, 1};

    // Outside a scene.
    EXPECT_EQ(device_->SetStreamSource(0, buffer.get(), 0, sizeof(Vertex)), D3D_OK);
    EXPECT_EQ(device_->SetFVF(kFvf), D3D_OK);
    EXPECT_EQ(device_->DrawPrimitive(D3DPT_TRIANGLESTRIP, 0, 2), D3DERR_INVALIDCALL);
    EXPECT_EQ(device_->EndScene(), D3DERR_INVALIDCALL);
    ASSERT_EQ(device_->BeginScene(), D3D_OK);
    EXPECT_EQ(device_->BeginScene(), D3DERR_INVALIDCALL);
    // Past the end of the buffer, or a type that does not exist.
    EXPECT_EQ(device_->DrawPrimitive(D3DPT_TRIANGLESTRIP, 1, 2), D3DERR_INVALIDCALL);
    EXPECT_EQ(device_->DrawPrimitive(D3DPT_TRIANGLELIST, 0, 2), D3DERR_INVALIDCALL);
    EXPECT_EQ(device_->DrawPrimitive(D3DPT_TRIANGLESTRIP, 0xFFFFFFF0u, 20), D3DERR_INVALIDCALL);
    EXPECT_EQ(device_->DrawPrimitive(static_cast<D3DPRIMITIVETYPE>(9), 0, 1), D3DERR_INVALIDCALL);
    EXPECT_EQ(device_->DrawIndexedPrimitive(D3DPT_TRIANGLELIST, 0, 0, 4, 0, 1), D3DERR_INVALIDCALL);
    EXPECT_EQ(device_->DrawPrimitive(D3DPT_TRIANGLESTRIP, 0, 2), D3D_OK);
    // A stride that makes the buffer too short.
    device_->SetStreamSource(0, buffer.get(), 0, 2 * sizeof(Vertex));
    EXPECT_EQ(device_->DrawPrimitive(D3DPT_TRIANGLESTRIP, 0, 1), D3DERR_INVALIDCALL);
    EXPECT_EQ(device_->EndScene(), D3D_OK);

    // Locks.
    EXPECT_EQ(buffer->Lock(0, 0, nullptr, 0), D3DERR_INVALIDCALL);
    EXPECT_EQ(buffer->Lock(0, 4 * sizeof(Vertex) + 1, &data, 0), D3DERR_INVALIDCALL);
    EXPECT_EQ(buffer->Lock(4 * sizeof(Vertex) + 1, 0, &data, 0), D3DERR_INVALIDCALL);
    EXPECT_EQ(buffer->Unlock(), D3DERR_INVALIDCALL);
    ASSERT_EQ(buffer->Lock(0, 0, &data, 0), D3D_OK);
    EXPECT_EQ(buffer->Lock(0, 0, &data, 0), D3DERR_INVALIDCALL);
    EXPECT_EQ(data, nullptr);
    EXPECT_EQ(buffer->Unlock(), D3D_OK);
    EXPECT_EQ(texture->LockRect(1, &locked, nullptr, 0), D3DERR_INVALIDCALL);
    EXPECT_EQ(texture->LockRect(0, nullptr, nullptr, 0), D3DERR_INVALIDCALL);
    const RECT outside{2, 2, 5, 3};
    EXPECT_EQ(texture->LockRect(0, &locked, &outside, 0), D3DERR_INVALIDCALL);
    ASSERT_EQ(texture->LockRect(0, &locked, nullptr, 0), D3D_OK);
    EXPECT_EQ(texture->LockRect(0, &locked, nullptr, 0), D3DERR_INVALIDCALL);
    EXPECT_EQ(texture->UnlockRect(0), D3D_OK);
    EXPECT_EQ(texture->UnlockRect(0), D3DERR_INVALIDCALL);

    // Creation and state arguments.
    EXPECT_EQ(device_->CreateVertexBuffer(0, 0, kFvf, D3DPOOL_MANAGED, &none, nullptr), D3DERR_INVALIDCALL);
    EXPECT_EQ(device_->CreateVertexBuffer(24, 0, kFvf, D3DPOOL_MANAGED, nullptr, nullptr), D3DERR_INVALIDCALL);
    EXPECT_EQ(device_->CreateIndexBuffer(6, 0, D3DFMT_X8R8G8B8, D3DPOOL_MANAGED, &noIndices, nullptr),
              D3DERR_INVALIDCALL);
    EXPECT_EQ(device_->CreateTexture(0, 4, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &noTexture, nullptr),
              D3DERR_INVALIDCALL);
    EXPECT_EQ(device_->CreateTexture(1u << 20, 4, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &noTexture, nullptr),
              D3DERR_INVALIDCALL);
    EXPECT_EQ(device_->CreateTexture(4, 4, 1, 0, D3DFMT_D16, D3DPOOL_MANAGED, &noTexture, nullptr),
              D3DERR_INVALIDCALL);
    EXPECT_EQ(device_->SetTexture(99, texture.get()), D3DERR_INVALIDCALL);
    EXPECT_EQ(device_->SetTextureStageState(8, D3DTSS_COLOROP, D3DTOP_DISABLE), D3DERR_INVALIDCALL);
    EXPECT_EQ(device_->SetStreamSource(16, buffer.get(), 0, 24), D3DERR_INVALIDCALL);
    EXPECT_EQ(device_->SetRenderState(static_cast<D3DRENDERSTATETYPE>(300), 1), D3DERR_INVALIDCALL);
    EXPECT_EQ(device_->SetTransform(static_cast<D3DTRANSFORMSTATETYPE>(99), nullptr), D3DERR_INVALIDCALL);
    EXPECT_EQ(device_->SetTransform(D3DTS_WORLD, nullptr), D3DERR_INVALIDCALL);
    EXPECT_EQ(device_->SetFVF(D3DFVF_XYZRHW | D3DFVF_DIFFUSE), D3DERR_INVALIDCALL);
    EXPECT_EQ(device_->SetVertexShaderConstantF(250, nullptr, 10), D3DERR_INVALIDCALL);
    const D3DVIEWPORT9 tooBig{8, 8, 16, 16, 0, 1};
    EXPECT_EQ(device_->SetViewport(&tooBig), D3DERR_INVALIDCALL);
    EXPECT_EQ(device_->SetViewport(nullptr), D3DERR_INVALIDCALL);
    EXPECT_EQ(device_->Clear(0, &rect, D3DCLEAR_TARGET, 0, 1, 0), D3DERR_INVALIDCALL);
    EXPECT_EQ(device_->Clear(1, nullptr, D3DCLEAR_TARGET, 0, 1, 0), D3DERR_INVALIDCALL);
    EXPECT_EQ(device_->Clear(0, nullptr, D3DCLEAR_STENCIL, 0, 1, 0), D3DERR_INVALIDCALL); // D16
    EXPECT_EQ(device_->Present(&rect, nullptr, nullptr, nullptr), D3DERR_INVALIDCALL);
    EXPECT_EQ(device_->Reset(nullptr), D3DERR_INVALIDCALL);
    EXPECT_EQ(device_->GetDeviceCaps(nullptr), D3DERR_INVALIDCALL);

    // Creating a device.
    D3DPRESENT_PARAMETERS params = WindowedParams();
    Ref<IDirect3DDevice9> other;
    EXPECT_EQ(d3d_->CreateDevice(D3DADAPTER_DEFAULT, D3DDEVTYPE_HAL, nullptr,
                                 D3DCREATE_SOFTWARE_VERTEXPROCESSING, &params, &other),
              D3DERR_INVALIDCALL);
    EXPECT_EQ(d3d_->CreateDevice(1, D3DDEVTYPE_HAL, &window_.window,
                                 D3DCREATE_SOFTWARE_VERTEXPROCESSING, &params, &other),
              D3DERR_INVALIDCALL);
    EXPECT_EQ(d3d_->CreateDevice(D3DADAPTER_DEFAULT, D3DDEVTYPE_HAL, &window_.window, 0, &params, &other),
              D3DERR_INVALIDCALL);
    params.AutoDepthStencilFormat = D3DFMT_X8R8G8B8;
    EXPECT_EQ(d3d_->CreateDevice(D3DADAPTER_DEFAULT, D3DDEVTYPE_HAL, &window_.window,
                                 D3DCREATE_SOFTWARE_VERTEXPROCESSING, &params, &other),
              D3DERR_INVALIDCALL);
    EXPECT_FALSE(other);
}

TEST_F(DeviceTest, CapabilitiesAnswerWithTheDriversLimits) {
    D3DCAPS9 hal{}, ref{}, device{};
    ASSERT_EQ(d3d_->GetDeviceCaps(D3DADAPTER_DEFAULT, D3DDEVTYPE_HAL, &hal), D3D_OK);
    ASSERT_EQ(d3d_->GetDeviceCaps(D3DADAPTER_DEFAULT, D3DDEVTYPE_REF, &ref), D3D_OK);
    ASSERT_EQ(device_->GetDeviceCaps(&device), D3D_OK);
    EXPECT_EQ(hal.DeviceType, D3DDEVTYPE_HAL);
    EXPECT_EQ(ref.DeviceType, D3DDEVTYPE_REF);
    EXPECT_EQ(device.MaxTextureWidth, hal.MaxTextureWidth);
    EXPECT_GE(hal.MaxStreams, 3u);
    EXPECT_GE(hal.MaxPrimitiveCount, 0xFFFFu);
    EXPECT_GE(hal.MaxTextureWidth, 2048u);
    EXPECT_GE(hal.VertexShaderVersion, D3DVS_VERSION(2, 0));
    EXPECT_GE(hal.PixelShaderVersion, D3DPS_VERSION(2, 0));
    // The largest texture it names can be made; one texel more cannot.
    Ref<IDirect3DTexture9> largest, tooLarge;
    EXPECT_EQ(device_->CreateTexture(hal.MaxTextureWidth, 1, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED,
                                     &largest, nullptr),
              D3D_OK);
    EXPECT_EQ(device_->CreateTexture(hal.MaxTextureWidth + 1, 1, 1, 0, D3DFMT_A8R8G8B8,
                                     D3DPOOL_MANAGED, &tooLarge, nullptr),
              D3DERR_INVALIDCALL);
}

TEST(ErrorName, KnownAndUnknownCodes) {
    EXPECT_STREQ(D3DErrorName(D3DERR_DEVICELOST), "D3DERR_DEVICELOST");
    EXPECT_STREQ(D3DErrorName(D3DERR_INVALIDCALL), "D3DERR_INVALIDCALL");
    EXPECT_STREQ(D3DErrorName(E_FAIL), "E_FAIL");
    EXPECT_STREQ(D3DErrorName(static_cast<HRESULT>(0x80001234)), "Unknown");
}

} // namespace
} // namespace qrv::d3d9::testing
