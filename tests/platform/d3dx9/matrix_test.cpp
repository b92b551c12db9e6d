// The D3DX matrices against worked values of the left-handed, row-vector forms.
#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

#include "platform/d3dx9/d3dx9.h"

namespace {

constexpr float kTolerance = 1e-5f;

struct Vec4 {
    float x, y, z, w;
};

// p x M with p = (x, y, z, 1).
Vec4 Transform(const D3DXMATRIX &m, float x, float y, float z)
{
    const float p[4] = {x, y, z, 1.0f};
    float r[4] = {};
    for (int c = 0; c < 4; ++c) {
        for (int k = 0; k < 4; ++k) {
            r[c] += p[k] * m.m[k][c];
        }
    }
    return {r[0], r[1], r[2], r[3]};
}

void ExpectMatrix(const D3DXMATRIX &m, const float (&expected)[4][4])
{
    for (int r = 0; r < 4; ++r) {
        for (int c = 0; c < 4; ++c) {
            EXPECT_NEAR(m.m[r][c], expected[r][c], kTolerance) << "m[" << r << "][" << c << "]";
        }
    }
}

D3DXMATRIX Counting(float start)
{
    D3DXMATRIX m;
    for (int r = 0; r < 4; ++r) {
        for (int c = 0; c < 4; ++c) {
            m.m[r][c] = start + static_cast<float>(r * 4 + c);
        }
    }
    return m;
}

TEST(D3DXMatrix, IdentityAndReturnValue)
{
    D3DXMATRIX m = Counting(5);
    EXPECT_EQ(D3DXMatrixIdentity(&m), &m);
    ExpectMatrix(m, {{1, 0, 0, 0}, {0, 1, 0, 0}, {0, 0, 1, 0}, {0, 0, 0, 1}});
}

TEST(D3DXMatrix, LookAtFromInFrontOfTheOrigin)
{
    // The viewer's starting eye: 2.5 in front of the picture, looking at its centre.
    const D3DXVECTOR3 eye{0, 0, -2.5f}, at{0, 0, 0}, up{0, 1, 0};
    D3DXMATRIX m;
    EXPECT_EQ(D3DXMatrixLookAtLH(&m, &eye, &at, &up), &m);
    ExpectMatrix(m, {{1, 0, 0, 0}, {0, 1, 0, 0}, {0, 0, 1, 0}, {0, 0, 2.5f, 1}});
}

TEST(D3DXMatrix, LookAtFromTheSide)
{
    // From +x toward the origin: the view's z runs along -x, its x along +z.
    const D3DXVECTOR3 eye{1, 0, 0}, at{0, 0, 0}, up{0, 1, 0};
    D3DXMATRIX m;
    D3DXMatrixLookAtLH(&m, &eye, &at, &up);
    ExpectMatrix(m, {{0, 0, -1, 0}, {0, 1, 0, 0}, {1, 0, 0, 0}, {0, 0, 1, 1}});
}

TEST(D3DXMatrix, LookAtPutsTheEyeAtTheOriginAndTheTargetAhead)
{
    const D3DXVECTOR3 eye{1, 2, -3}, at{0.5f, -1, 2}, up{0, 1, 0};
    D3DXMATRIX m;
    D3DXMatrixLookAtLH(&m, &eye, &at, &up);
    const Vec4 e = Transform(m, eye.x, eye.y, eye.z);
    EXPECT_NEAR(e.x, 0, kTolerance);
    EXPECT_NEAR(e.y, 0, kTolerance);
    EXPECT_NEAR(e.z, 0, kTolerance);
    const Vec4 a = Transform(m, at.x, at.y, at.z);
    const float distance = std::sqrt(0.25f + 9.0f + 25.0f);
    EXPECT_NEAR(a.x, 0, 1e-4f);
    EXPECT_NEAR(a.y, 0, 1e-4f);
    EXPECT_NEAR(a.z, distance, 1e-4f);
    // A point above the eye is above in the view, and one to its right is right.
    EXPECT_GT(Transform(m, eye.x, eye.y + 1, eye.z).y, 0);
}

TEST(D3DXMatrix, LookAtDegenerateStaysFinite)
{
    const D3DXVECTOR3 eye{1, 1, 1}, up{0, 1, 0};
    const D3DXVECTOR3 straightUp{1, 5, 1};
    D3DXMATRIX onTarget, alongUp;
    D3DXMatrixLookAtLH(&onTarget, &eye, &eye, &up);
    D3DXMatrixLookAtLH(&alongUp, &eye, &straightUp, &up);
    for (int r = 0; r < 4; ++r) {
        for (int c = 0; c < 4; ++c) {
            EXPECT_TRUE(std::isfinite(onTarget.m[r][c]));
            EXPECT_TRUE(std::isfinite(alongUp.m[r][c]));
        }
    }
}

TEST(D3DXMatrix, PerspectiveFovQuarterPi)
{
    D3DXMATRIX m;
    EXPECT_EQ(D3DXMatrixPerspectiveFovLH(&m, std::numbers::pi_v<float> / 4, 1.0f, 1.0f, 100.0f),
              &m);
    const float cotEighthPi = 2.41421356f; // 1 / tan(pi / 8)
    const float q = 100.0f / 99.0f;
    ExpectMatrix(m, {{cotEighthPi, 0, 0, 0}, {0, cotEighthPi, 0, 0}, {0, 0, q, 1}, {0, 0, -q, 0}});
    // The near plane lands at depth 0, the far plane at 1.
    const Vec4 nearPoint = Transform(m, 0, 0, 1);
    const Vec4 farPoint = Transform(m, 0, 0, 100);
    EXPECT_NEAR(nearPoint.z / nearPoint.w, 0.0f, kTolerance);
    EXPECT_NEAR(farPoint.z / farPoint.w, 1.0f, kTolerance);
}

TEST(D3DXMatrix, PerspectiveFovAspectScalesX)
{
    D3DXMATRIX m;
    D3DXMatrixPerspectiveFovLH(&m, std::numbers::pi_v<float> / 2, 2.0f, 0.5f, 10.0f);
    EXPECT_NEAR(m.m[0][0], 0.5f, kTolerance); // cot(pi/4) / 2
    EXPECT_NEAR(m.m[1][1], 1.0f, kTolerance);
    EXPECT_NEAR(m.m[2][2], 10.0f / 9.5f, kTolerance);
    EXPECT_NEAR(m.m[3][2], -0.5f * 10.0f / 9.5f, kTolerance);
}

TEST(D3DXMatrix, Rotations)
{
    const float pi = std::numbers::pi_v<float>;
    struct Case {
        const char *name;
        bool aboutX;
        float angle;
        float expected[4][4];
    } cases[] = {
        {"x, quarter turn", true, pi / 2, {{1, 0, 0, 0}, {0, 0, 1, 0}, {0, -1, 0, 0}, {0, 0, 0, 1}}},
        {"x, pi/6", true, pi / 6,
         {{1, 0, 0, 0}, {0, 0.8660254f, 0.5f, 0}, {0, -0.5f, 0.8660254f, 0}, {0, 0, 0, 1}}},
        {"y, quarter turn", false, pi / 2, {{0, 0, -1, 0}, {0, 1, 0, 0}, {1, 0, 0, 0}, {0, 0, 0, 1}}},
        {"y, -pi/3", false, -pi / 3,
         {{0.5f, 0, 0.8660254f, 0}, {0, 1, 0, 0}, {-0.8660254f, 0, 0.5f, 0}, {0, 0, 0, 1}}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        D3DXMATRIX m;
        EXPECT_EQ(c.aboutX ? D3DXMatrixRotationX(&m, c.angle) : D3DXMatrixRotationY(&m, c.angle),
                  &m);
        ExpectMatrix(m, c.expected);
    }
    // Left-handed: a quarter turn about x takes +y to +z, about y takes +x to -z.
    D3DXMATRIX rx, ry;
    D3DXMatrixRotationX(&rx, pi / 2);
    D3DXMatrixRotationY(&ry, pi / 2);
    const Vec4 y = Transform(rx, 0, 1, 0);
    EXPECT_NEAR(y.z, 1, kTolerance);
    const Vec4 x = Transform(ry, 1, 0, 0);
    EXPECT_NEAR(x.z, -1, kTolerance);
}

TEST(D3DXMatrix, MultiplyOrderAndAliasing)
{
    const D3DXMATRIX a = Counting(1);  // 1..16
    const D3DXMATRIX b = Counting(17); // 17..32
    D3DXMATRIX ab, ba;
    EXPECT_EQ(D3DXMatrixMultiply(&ab, &a, &b), &ab);
    D3DXMatrixMultiply(&ba, &b, &a);
    // Row 0 of a times the columns of b, and the other way round.
    EXPECT_FLOAT_EQ(ab.m[0][0], 250);
    EXPECT_FLOAT_EQ(ab.m[0][3], 280);
    EXPECT_FLOAT_EQ(ab.m[3][0], 1354);
    EXPECT_FLOAT_EQ(ba.m[0][0], 538);

    D3DXMATRIX left = a;
    D3DXMatrixMultiply(&left, &left, &b);
    D3DXMATRIX right = b;
    D3DXMatrixMultiply(&right, &a, &right);
    D3DXMATRIX square = a;
    D3DXMatrixMultiply(&square, &square, &square);
    D3DXMATRIX aa;
    D3DXMatrixMultiply(&aa, &a, &a);
    for (int r = 0; r < 4; ++r) {
        for (int c = 0; c < 4; ++c) {
            EXPECT_FLOAT_EQ(left.m[r][c], ab.m[r][c]);
            EXPECT_FLOAT_EQ(right.m[r][c], ab.m[r][c]);
            EXPECT_FLOAT_EQ(square.m[r][c], aa.m[r][c]);
        }
    }

    // m1 x m2 applies m1 first: turn about x, then about y.
    D3DXMATRIX rx, ry, both;
    D3DXMatrixRotationX(&rx, std::numbers::pi_v<float> / 2);
    D3DXMatrixRotationY(&ry, std::numbers::pi_v<float> / 2);
    D3DXMatrixMultiply(&both, &rx, &ry);
    const Vec4 p = Transform(both, 0, 1, 0); // +y -> +z -> +x
    EXPECT_NEAR(p.x, 1, kTolerance);
    EXPECT_NEAR(p.y, 0, kTolerance);
    EXPECT_NEAR(p.z, 0, kTolerance);
}

TEST(D3DXMatrix, TransposeInPlaceAndApart)
{
    const D3DXMATRIX a = Counting(1);
    D3DXMATRIX t;
    EXPECT_EQ(D3DXMatrixTranspose(&t, &a), &t);
    D3DXMATRIX self = a;
    D3DXMatrixTranspose(&self, &self);
    for (int r = 0; r < 4; ++r) {
        for (int c = 0; c < 4; ++c) {
            EXPECT_EQ(t.m[r][c], a.m[c][r]);
            EXPECT_EQ(self.m[r][c], a.m[c][r]);
        }
    }
}

} // namespace
