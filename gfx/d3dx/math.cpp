#include <cmath>

#include "gfx/d3dx/d3dx9.h"

D3DXMATRIX* D3DXMatrixIdentity(D3DXMATRIX* out) {
    *out = D3DXMATRIX();
    out->_11 = out->_22 = out->_33 = out->_44 = 1.0f;
    return out;
}

D3DXMATRIX* D3DXMatrixMultiply(D3DXMATRIX* out, const D3DXMATRIX* a, const D3DXMATRIX* b) {
    // Formed apart from `out`, which may be `a` or `b`.
    D3DXMATRIX product;
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j)
            product.m[i][j] = a->m[i][0] * b->m[0][j] + a->m[i][1] * b->m[1][j] + a->m[i][2] * b->m[2][j] +
                              a->m[i][3] * b->m[3][j];
    *out = product;
    return out;
}

D3DXMATRIX* D3DXMatrixScaling(D3DXMATRIX* out, float sx, float sy, float sz) {
    *out = D3DXMATRIX();
    out->_11 = sx;
    out->_22 = sy;
    out->_33 = sz;
    out->_44 = 1.0f;
    return out;
}

D3DXMATRIX* D3DXMatrixTranslation(D3DXMATRIX* out, float x, float y, float z) {
    D3DXMatrixIdentity(out);
    out->_41 = x;
    out->_42 = y;
    out->_43 = z;
    return out;
}

D3DXMATRIX* D3DXMatrixRotationYawPitchRoll(D3DXMATRIX* out, float yaw, float pitch, float roll) {
    const float cy = std::cos(yaw), sy = std::sin(yaw);
    const float cp = std::cos(pitch), sp = std::sin(pitch);
    const float cr = std::cos(roll), sr = std::sin(roll);
    // Roll about z, then pitch about x, then yaw about y.
    *out = D3DXMATRIX();
    out->_11 = cr * cy + sr * sp * sy;
    out->_12 = sr * cp;
    out->_13 = sr * sp * cy - cr * sy;
    out->_21 = cr * sp * sy - sr * cy;
    out->_22 = cr * cp;
    out->_23 = sr * sy + cr * sp * cy;
    out->_31 = cp * sy;
    out->_32 = -sp;
    out->_33 = cp * cy;
    out->_44 = 1.0f;
    return out;
}

D3DXVECTOR3* D3DXVec3Normalize(D3DXVECTOR3* out, const D3DXVECTOR3* v) {
    const float s = v->x * v->x + v->y * v->y + v->z * v->z;
    if (std::fabs(s - 1.0f) <= 1.1920929e-7f) {
        *out = *v;
    } else if (s <= 1.1754944e-38f) {
        *out = D3DXVECTOR3(0, 0, 0);
    } else {
        const float length = std::sqrt(s);
        *out = D3DXVECTOR3(v->x / length, v->y / length, v->z / length);
    }
    return out;
}

namespace {
D3DXVECTOR3 cross(const D3DXVECTOR3& a, const D3DXVECTOR3& b) {
    return D3DXVECTOR3(a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x);
}
float dot(const D3DXVECTOR3& a, const D3DXVECTOR3& b) { return a.x * b.x + a.y * b.y + a.z * b.z; }
}  // namespace

D3DXMATRIX* D3DXMatrixLookAtLH(D3DXMATRIX* out, const D3DXVECTOR3* eye, const D3DXVECTOR3* at,
                               const D3DXVECTOR3* up) {
    D3DXVECTOR3 z(at->x - eye->x, at->y - eye->y, at->z - eye->z);
    D3DXVec3Normalize(&z, &z);
    D3DXVECTOR3 x = cross(*up, z);
    D3DXVec3Normalize(&x, &x);
    D3DXVECTOR3 y = cross(z, x);
    *out = D3DXMATRIX();
    out->_11 = x.x;
    out->_12 = y.x;
    out->_13 = z.x;
    out->_21 = x.y;
    out->_22 = y.y;
    out->_23 = z.y;
    out->_31 = x.z;
    out->_32 = y.z;
    out->_33 = z.z;
    out->_41 = -dot(x, *eye);
    out->_42 = -dot(y, *eye);
    out->_43 = -dot(z, *eye);
    out->_44 = 1.0f;
    return out;
}

D3DXMATRIX* D3DXMatrixPerspectiveFovLH(D3DXMATRIX* out, float fovY, float aspect, float zn, float zf) {
    const float ys = std::cos(fovY / 2) / std::sin(fovY / 2);
    const float xs = ys / aspect;
    *out = D3DXMATRIX();
    out->_11 = xs;
    out->_22 = ys;
    out->_33 = zf / (zf - zn);
    out->_34 = 1.0f;
    out->_43 = -zn * zf / (zf - zn);
    return out;
}
