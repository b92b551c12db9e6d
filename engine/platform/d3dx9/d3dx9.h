// The D3DX 9 utilities the engine uses: matrices, textures from picture files and
// the shader assembler.
#pragma once

#include "platform/d3d9/d3d9.h"

#define D3DX_DEFAULT 0xFFFFFFFFu
#define D3DXERR_INVALIDDATA MAKE_D3DHRESULT(2905)

struct D3DXVECTOR3 {
    float x, y, z;
};

struct D3DXMATRIX : D3DMATRIX {};

// The results of the D3DX 9 documentation (left-handed, row vectors); each
// returns out.
D3DXMATRIX *D3DXMatrixIdentity(D3DXMATRIX *out);
D3DXMATRIX *D3DXMatrixLookAtLH(D3DXMATRIX *out, const D3DXVECTOR3 *eye, const D3DXVECTOR3 *at,
                               const D3DXVECTOR3 *up);
D3DXMATRIX *D3DXMatrixPerspectiveFovLH(D3DXMATRIX *out, float fovY, float aspect, float zNear,
                                       float zFar);
D3DXMATRIX *D3DXMatrixRotationX(D3DXMATRIX *out, float angle);
D3DXMATRIX *D3DXMatrixRotationY(D3DXMATRIX *out, float angle);
// out = m1 x m2; out may alias either argument.
D3DXMATRIX *D3DXMatrixMultiply(D3DXMATRIX *out, const D3DXMATRIX *m1, const D3DXMATRIX *m2);
D3DXMATRIX *D3DXMatrixTranspose(D3DXMATRIX *out, const D3DXMATRIX *m);

// A whole picture file (BMP, JPEG or PNG) as a managed-pool texture of one level,
// scaled down when it is larger than the device's largest texture.
HRESULT D3DXCreateTextureFromFileA(IDirect3DDevice9 *device, const char *path,
                                   IDirect3DTexture9 **texture);

// A block of bytes, reference counted.
class ID3DXBuffer : public IUnknown {
public:
    virtual void *GetBufferPointer() = 0;
    virtual DWORD GetBufferSize() = 0;
};

// Assembles Direct3D shader assembly text into shader tokens. The engine passes no
// defines, no include handler and flags 0. errors, when not null, receives the
// messages as text; they go to stderr as well.
HRESULT D3DXAssembleShaderFromFileA(const char *path, const void *defines, void *include,
                                    DWORD flags, ID3DXBuffer **shader, ID3DXBuffer **errors);
