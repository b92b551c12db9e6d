// The D3DX matrix helpers: left-handed, row vectors (p' = p x M), m[row][column].
#include <cmath>

#include "platform/d3dx9/d3dx9.h"

namespace {

D3DXVECTOR3 Subtract(const D3DXVECTOR3 &a, const D3DXVECTOR3 &b)
{
    return {a.x - b.x, a.y - b.y, a.z - b.z};
}

D3DXVECTOR3 Cross(const D3DXVECTOR3 &a, const D3DXVECTOR3 &b)
{
    return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}

float Dot(const D3DXVECTOR3 &a, const D3DXVECTOR3 &b)
{
    return a.x * b.x + a.y * b.y + a.z * b.z;
}

// A zero vector stays zero instead of turning into NaNs, so a degenerate
// look-at (eye on the target, or up along the line of sight) gives a finite matrix.
D3DXVECTOR3 Normalize(const D3DXVECTOR3 &v)
{
    const float length = std::sqrt(Dot(v, v));
    if (length == 0.0f) {
        return {0.0f, 0.0f, 0.0f};
    }
    return {v.x / length, v.y / length, v.z / length};
}

void SetRows(D3DXMATRIX *out, const float (&values)[16])
{
    for (int r = 0; r < 4; ++r) {
        for (int c = 0; c < 4; ++c) {
            out->m[r][c] = values[r * 4 + c];
        }
    }
}

} // namespace

D3DXMATRIX *D3DXMatrixIdentity(D3DXMATRIX *out)
{
    SetRows(out, {1, 0, 0, 0, //
                  0, 1, 0, 0, //
                  0, 0, 1, 0, //
                  0, 0, 0, 1});
    return out;
}

D3DXMATRIX *D3DXMatrixLookAtLH(D3DXMATRIX *out, const D3DXVECTOR3 *eye, const D3DXVECTOR3 *at,
                               const D3DXVECTOR3 *up)
{
    const D3DXVECTOR3 zAxis = Normalize(Subtract(*at, *eye));
    const D3DXVECTOR3 xAxis = Normalize(Cross(*up, zAxis));
    const D3DXVECTOR3 yAxis = Cross(zAxis, xAxis);
    SetRows(out, {xAxis.x, yAxis.x, zAxis.x, 0, //
                  xAxis.y, yAxis.y, zAxis.y, 0, //
                  xAxis.z, yAxis.z, zAxis.z, 0, //
                  -Dot(xAxis, *eye), -Dot(yAxis, *eye), -Dot(zAxis, *eye), 1});
    return out;
}

D3DXMATRIX *D3DXMatrixPerspectiveFovLH(D3DXMATRIX *out, float fovY, float aspect, float zNear,
                                       float zFar)
{
    const float yScale = 1.0f / std::tan(fovY / 2.0f);
    const float xScale = yScale / aspect;
    const float depth = zFar / (zFar - zNear);
    SetRows(out, {xScale, 0, 0, 0, //
                  0, yScale, 0, 0, //
                  0, 0, depth, 1,  //
                  0, 0, -zNear * depth, 0});
    return out;
}

D3DXMATRIX *D3DXMatrixRotationX(D3DXMATRIX *out, float angle)
{
    const float c = std::cos(angle);
    const float s = std::sin(angle);
    SetRows(out, {1, 0, 0, 0,  //
                  0, c, s, 0,  //
                  0, -s, c, 0, //
                  0, 0, 0, 1});
    return out;
}

D3DXMATRIX *D3DXMatrixRotationY(D3DXMATRIX *out, float angle)
{
    const float c = std::cos(angle);
    const float s = std::sin(angle);
    SetRows(out, {c, 0, -s, 0, //
                  0, 1, 0, 0,  //
                  s, 0, c, 0,  //
                  0, 0, 0, 1});
    return out;
}

D3DXMATRIX *D3DXMatrixMultiply(D3DXMATRIX *out, const D3DXMATRIX *m1, const D3DXMATRIX *m2)
{
    // Computed into a local first: out may be m1 or m2.
    D3DXMATRIX product;
    for (int r = 0; r < 4; ++r) {
        for (int c = 0; c < 4; ++c) {
            product.m[r][c] = m1->m[r][0] * m2->m[0][c] + m1->m[r][1] * m2->m[1][c] +
                              m1->m[r][2] * m2->m[2][c] + m1->m[r][3] * m2->m[3][c];
        }
    }
    *out = product;
    return out;
}

D3DXMATRIX *D3DXMatrixTranspose(D3DXMATRIX *out, const D3DXMATRIX *m)
{
    D3DXMATRIX transposed;
    for (int r = 0; r < 4; ++r) {
        for (int c = 0; c < 4; ++c) {
            transposed.m[r][c] = m->m[c][r];
        }
    }
    *out = transposed;
    return out;
}
