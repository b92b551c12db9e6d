// ReliefView: the per-window engine object. It owns a Direct3D object and device
// bound to the host's window, the strip rows built from a depth image and the photo
// draped over them, and the eye the relief is seen from.
#pragma once

#include <cstdint>

#include "platform/d3d9/d3d9.h"
#include "platform/d3dx9/d3dx9.h"

namespace qrv {

class DepthImage;

class ReliefView {
public:
    explicit ReliefView(HWND window);
    // The one virtual operation: releases everything the view holds.
    virtual ~ReliefView();

    ReliefView(const ReliefView &) = delete;
    ReliefView &operator=(const ReliefView &) = delete;

    // all: back to the eye, turning, fill mode and threshold of a new view. In
    // every case the strip counts return to 0; popupPercent is kept.
    void ResetState(bool all);
    // Drops the photo texture, then the strip buffer.
    void ReleaseResources();
    // One attempt to bring a lost device back: waits 100 ms, then resets the device
    // when it can be reset. Returns the cooperative level or the reset's result.
    HRESULT RecoverDevice();

    // ---- Strip builder (strip_builder.cpp) ---------------------------------------
    // Rebuilds the strips from a depth image (a PackedDib block, may be null) and
    // loads the photo file as the texture. Returns the texture's result.
    HRESULT BuildStrips(HGLOBAL depthDib, const char *photoPath);
    HRESULT LoadPhotoTexture(const char *path);

    // ---- Model files (engine/model/relief_model.cpp) -------------------------------
    // modelPath = path with its last three characters replaced by "q3d". A path
    // that is null, shorter than three characters or too long for modelPath
    // leaves modelPath empty and gives false.
    bool SetModelPath(const char *path);
    // Replaces the strips with the depth grid of the model file at path (its
    // [Photo] section, the same strip layout as BuildStrips) and loads the photo
    // texture from path with its last three characters replaced by "bmp".
    void ReadModel(const char *path);
    // Writes the depth values of a depth image at this view's popupPercent as the
    // [Photo] grid of the model file at path (ending in "q3d"), top row first.
    void WriteModel(HGLOBAL depthDib, const char *path);

    // ---- Renderer (renderer.cpp) ---------------------------------------------------
    // Draws one frame and presents it; the result is the Present's.
    HRESULT Render();
    void ToggleFill();
    void SetThreshold(int32_t level);

    // ---- Eye (eye.cpp) -------------------------------------------------------------
    void MoveEye(float dx, float dy, float dz);
    bool MoveTest(float x, float y) const;

    // The fields, in the order the engine has always kept them.
    bool rotating;
    int32_t popupPercent;
    IDirect3D9 *d3d;
    IDirect3DDevice9 *device;
    D3DPRESENT_PARAMETERS presentParams;
    IDirect3DVertexBuffer9 *stripBuffer;
    IDirect3DTexture9 *photoTexture;
    D3DXVECTOR3 eye;
    float eyeDistance;
    bool solidFill;
    int32_t vertsPerStrip;
    int32_t stripCount;
    float tearThreshold;
    char modelPath[260];

private:
    void SetRenderStates();
    void MakeStripBuffer(int64_t width, int64_t height, const DepthImage *image, int32_t percent,
                         IDirect3DVertexBuffer9 *previous);
};

// The vertex of the strip buffer: position, diffuse colour, texture coordinates.
struct StripVertex {
    float x, y, z;
    uint32_t diffuse;
    float u, v;
};
static_assert(sizeof(StripVertex) == 24);
inline constexpr DWORD kStripFvf = D3DFVF_XYZ | D3DFVF_DIFFUSE | D3DFVF_TEX1; // 0x142

} // namespace qrv
