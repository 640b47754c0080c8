#include <gtest/gtest.h>

#include <cmath>

#include "gfx/d3dx/d3dx9.h"

namespace {

void expectMatrixNear(const D3DXMATRIX& a, const D3DXMATRIX& b, float tolerance = 1e-6f) {
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j) EXPECT_NEAR(a.m[i][j], b.m[i][j], tolerance) << "element " << i + 1 << j + 1;
}

D3DXVECTOR3 transformPoint(const D3DXVECTOR3& p, const D3DXMATRIX& m) {
    return D3DXVECTOR3(p.x * m._11 + p.y * m._21 + p.z * m._31 + m._41, p.x * m._12 + p.y * m._22 + p.z * m._32 + m._42,
                       p.x * m._13 + p.y * m._23 + p.z * m._33 + m._43);
}

TEST(Math, MultiplyAllowsTheOutputToBeEitherInput) {
    D3DXMATRIX a, b, separate;
    for (int i = 0; i < 16; ++i) {
        a.m[i / 4][i % 4] = float(i + 1);
        b.m[i / 4][i % 4] = float((i * 7) % 5 - 2);
    }
    D3DXMatrixMultiply(&separate, &a, &b);
    D3DXMATRIX left = a, right = b;
    D3DXMatrixMultiply(&left, &left, &b);
    D3DXMatrixMultiply(&right, &a, &right);
    expectMatrixNear(left, separate);
    expectMatrixNear(right, separate);
    EXPECT_FLOAT_EQ(separate._11, 1 * b._11 + 2 * b._21 + 3 * b._31 + 4 * b._41);
}

TEST(Math, YawPitchRollOrderAndSigns) {
    D3DXMATRIX m, identity;
    D3DXMatrixIdentity(&identity);
    expectMatrixNear(*D3DXMatrixRotationYawPitchRoll(&m, 0, 0, 0), identity);
    D3DXMatrixRotationYawPitchRoll(&m, D3DX_PI / 2, 0, 0);
    D3DXVECTOR3 p = transformPoint(D3DXVECTOR3(1, 0, 0), m);
    EXPECT_NEAR(p.x, 0, 1e-6);
    EXPECT_NEAR(p.y, 0, 1e-6);
    EXPECT_NEAR(p.z, -1, 1e-6);
    // Roll, then pitch, then yaw.
    const float yaw = 0.3f, pitch = -0.7f, roll = 1.1f;
    D3DXMATRIX rz, rx, ry, product;
    D3DXMatrixRotationYawPitchRoll(&rz, 0, 0, roll);
    D3DXMatrixRotationYawPitchRoll(&rx, 0, pitch, 0);
    D3DXMatrixRotationYawPitchRoll(&ry, yaw, 0, 0);
    D3DXMatrixMultiply(&product, &rz, &rx);
    D3DXMatrixMultiply(&product, &product, &ry);
    expectMatrixNear(*D3DXMatrixRotationYawPitchRoll(&m, yaw, pitch, roll), product);
}

TEST(Math, PerspectiveMapsTheNearAndFarPlanes) {
    D3DXMATRIX m;
    D3DXMatrixPerspectiveFovLH(&m, 2 * D3DX_PI / 3, 4.0f / 3.0f, 1, 100000);
    EXPECT_NEAR(m._22, 0.5773503f, 1e-6);
    EXPECT_NEAR(m._11, 0.4330127f, 1e-6);
    EXPECT_EQ(m._34, 1.0f);
    EXPECT_EQ(m._44, 0.0f);
    for (float depth : {1.0f, 100000.0f}) {
        float z = depth * m._33 + m._43, w = depth * m._34;
        EXPECT_NEAR(z / w, depth == 1.0f ? 0.0f : 1.0f, 1e-6);
    }
}

TEST(Math, LookAtAlongZIsATranslation) {
    D3DXVECTOR3 eye(10, 0, -15), at(10, 0, 0), up(0, 1, 0);
    D3DXMATRIX m, expected;
    D3DXMatrixLookAtLH(&m, &eye, &at, &up);
    D3DXMatrixTranslation(&expected, -10, 0, 15);
    expectMatrixNear(m, expected);
}

TEST(Math, NormalizeRules) {
    struct Case {
        D3DXVECTOR3 in, out;
    };
    const Case cases[] = {{D3DXVECTOR3(3, 0, 4), D3DXVECTOR3(0.6f, 0, 0.8f)},
                          {D3DXVECTOR3(0, 0, 0), D3DXVECTOR3(0, 0, 0)},
                          {D3DXVECTOR3(1e-20f, 0, 0), D3DXVECTOR3(0, 0, 0)},
                          {D3DXVECTOR3(1.00000005f, 0, 0), D3DXVECTOR3(1.00000005f, 0, 0)}};
    for (const Case& c : cases) {
        D3DXVECTOR3 out;
        D3DXVec3Normalize(&out, &c.in);
        EXPECT_FLOAT_EQ(out.x, c.out.x);
        EXPECT_FLOAT_EQ(out.z, c.out.z);
    }
}

TEST(Math, ScalingAndTranslation) {
    D3DXMATRIX s, t;
    D3DXMatrixScaling(&s, 2, 3, 4);
    D3DXMatrixTranslation(&t, 5, 6, 7);
    D3DXVECTOR3 p = transformPoint(D3DXVECTOR3(1, 1, 1), s);
    EXPECT_EQ(p.x, 2);
    EXPECT_EQ(p.z, 4);
    EXPECT_EQ(s._44, 1);
    EXPECT_EQ(s._41, 0);
    p = transformPoint(D3DXVECTOR3(1, 1, 1), t);
    EXPECT_EQ(p.y, 7);
}

}  // namespace
