// The strip renderer: one frame of a ReliefView, with every strip row broken
// wherever the depths of two compared neighbours jump by more than the threshold.
#include <cmath>
#include <cstddef>
#include <cstring>

#include "platform/win32/win32.h"
#include "view/relief_view.h"

namespace qrv {

namespace {

constexpr D3DCOLOR kBackground = 0xFF0000FFu; // opaque blue
constexpr float kFieldOfView = 0.785398163f;  // pi / 4

float VertexZ(const uint8_t *vertices, int64_t index) {
    float z;
    std::memcpy(
        &z, vertices + index * static_cast<int64_t>(sizeof(StripVertex)) + offsetof(StripVertex, z),
        sizeof z);
    return z;
}

// Draws one row of V vertices starting at vertex base as the runs between its
// tears. A pair (k - 1, k) tears when half its depth difference exceeds the
// threshold; the last vertex is never compared with the one before it. Each run
// of three or more vertices is one triangle strip.
void DrawRow(IDirect3DDevice9 *device, const uint8_t *vertices, int64_t base, int32_t V,
             float threshold) {
    int32_t start = 0;
    for (int32_t k = 1; k < V; ++k) {
        if (k == V - 1) {
            if (V - start >= 3)
                device->DrawPrimitive(D3DPT_TRIANGLESTRIP, static_cast<UINT>(base + start),
                                      static_cast<UINT>(V - start - 2));
            return;
        }
        const float d =
            std::fabs((VertexZ(vertices, base + k) - VertexZ(vertices, base + k - 1)) / 2.0f);
        if (d > threshold) {
            if (k - start >= 3)
                device->DrawPrimitive(D3DPT_TRIANGLESTRIP, static_cast<UINT>(base + start),
                                      static_cast<UINT>(k - start - 2));
            start = k;
        }
    }
}

} // namespace

HRESULT ReliefView::Render() {
    if (!device) return D3DERR_INVALIDCALL; // nothing can be drawn or shown

    device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, kBackground, 1.0f, 0);
    if (SUCCEEDED(device->BeginScene())) {
        // One radian a second about x, following the clock, while turning.
        const DWORD ticks = rotating ? GetTickCount() : 0;
        const float angle = static_cast<float>(static_cast<double>(ticks) / 1000.0);
        D3DXMATRIX world;
        D3DXMatrixRotationX(&world, angle);
        device->SetTransform(D3DTS_WORLD, &world);

        const D3DXVECTOR3 at{0.0f, 0.0f, 0.0f};
        const D3DXVECTOR3 up{0.0f, 1.0f, 0.0f};
        D3DXMATRIX view;
        D3DXMatrixLookAtLH(&view, &eye, &at, &up);
        device->SetTransform(D3DTS_VIEW, &view);

        D3DXMATRIX projection;
        D3DXMatrixPerspectiveFovLH(&projection, kFieldOfView, 1.0f, 1.0f, 100.0f);
        device->SetTransform(D3DTS_PROJECTION, &projection);

        if (solidFill) {
            device->SetRenderState(D3DRS_FILLMODE, D3DFILL_SOLID);
            device->SetTexture(0, photoTexture);
            device->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_MODULATE);
            device->SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_TEXTURE);
            device->SetTextureStageState(0, D3DTSS_COLORARG2, D3DTA_DIFFUSE);
            device->SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_DISABLE);
        } else {
            // The texture and stage states of the last solid frame stay bound.
            device->SetRenderState(D3DRS_FILLMODE, D3DFILL_WIREFRAME);
        }

        device->SetStreamSource(0, stripBuffer, 0, sizeof(StripVertex));
        device->SetFVF(kStripFvf);

        if (stripBuffer) {
            for (int32_t r = 0; r < stripCount; ++r) {
                // The frame only reads the depths, so the lock never marks the
                // buffer for another upload.
                void *data = nullptr;
                if (FAILED(stripBuffer->Lock(0, 0, &data, D3DLOCK_READONLY))) continue;
                if (data)
                    DrawRow(device, static_cast<const uint8_t *>(data),
                            static_cast<int64_t>(r) * vertsPerStrip, vertsPerStrip, tearThreshold);
                stripBuffer->Unlock();
            }
        }
        device->EndScene();
    }
    return device->Present(nullptr, nullptr, nullptr, nullptr);
}

void ReliefView::ToggleFill() { solidFill = !solidFill; }

void ReliefView::SetThreshold(int32_t level) {
    tearThreshold = static_cast<float>(static_cast<double>(level) / 255.0);
}

} // namespace qrv
