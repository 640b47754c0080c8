#include "anim/quads.h"

#include <iterator>

namespace {

DWORD packComponent(float c) {
    if (c >= 1.0f) return 255;
    if (!(c > 0.0f)) return 0;  // also NaN
    return static_cast<DWORD>(c * 255.0 + 0.5);
}

// Both quads share the corner layout; x + width and y + height are computed once for the two
// vertices that use each.
template <typename Vertex>
void placeCorners(Vertex (&v)[4], DWORD color, float z, float x, float y, float width, float height) {
    for (Vertex& corner : v) {
        corner.z = z;
        corner.diffuse = color;
    }
    const float right = x + width;
    const float bottom = y + height;
    v[0].x = x;
    v[0].y = bottom;
    v[1].x = x;
    v[1].y = y;
    v[2].x = right;
    v[2].y = bottom;
    v[3].x = right;
    v[3].y = y;
}

}  // namespace

DWORD packColor(const D3DCOLORVALUE& color) {
    return packComponent(color.a) << 24 | packComponent(color.r) << 16 | packComponent(color.g) << 8 |
           packComponent(color.b);
}

ScreenQuad::ScreenQuad() {
    for (QuadVertex& v : vertices) v = {0, 0, 0, 1.0f, 0};
}

void ScreenQuad::draw(const D3DCOLORVALUE* color, float z, float x, float y, float width, float height) {
    placeCorners(vertices, packColor(*color), z, x, y, width, height);
    device->SetTexture(0, nullptr);
    device->SetFVF(fvf);
    device->DrawPrimitiveUP(D3DPT_TRIANGLESTRIP, 2, vertices, sizeof(QuadVertex));
}

TexturedScreenQuad::TexturedScreenQuad() {
    const float corners[4][2] = {{0, 1}, {0, 0}, {1, 1}, {1, 0}};
    for (int i = 0; i < 4; ++i) vertices[i] = {0, 0, 0, 1.0f, 0, corners[i][0], corners[i][1]};
}

void TexturedScreenQuad::draw(const D3DCOLORVALUE* color, float z, float x, float y, float width,
                              float height) {
    placeCorners(vertices, packColor(*color), z, x, y, width, height);
    device->SetFVF(fvf);
    device->DrawPrimitiveUP(D3DPT_TRIANGLESTRIP, 2, vertices, sizeof(TexturedQuadVertex));
}

void setStencilState(DWORD passOp, DWORD func, DWORD ref, DWORD mask) {
    device->SetRenderState(D3DRS_STENCILPASS, passOp);
    device->SetRenderState(D3DRS_STENCILFUNC, func);
    device->SetRenderState(D3DRS_STENCILREF, ref);
    device->SetRenderState(D3DRS_STENCILMASK, mask);
    device->SetRenderState(D3DRS_STENCILWRITEMASK, mask);
}

void setBlendMode(unsigned mode) {
    struct Row {
        DWORD op, source, destination;
    };
    // One row per BlendMode value, in value order.
    static constexpr Row rows[] = {
        {D3DBLENDOP_ADD, D3DBLEND_SRCALPHA, D3DBLEND_INVSRCALPHA},
        {D3DBLENDOP_ADD, D3DBLEND_SRCALPHA, D3DBLEND_ONE},
        {D3DBLENDOP_SUBTRACT, D3DBLEND_INVSRCALPHA, D3DBLEND_ONE},
        {D3DBLENDOP_REVSUBTRACT, D3DBLEND_ONE, D3DBLEND_INVSRCALPHA},
        {D3DBLENDOP_MIN, D3DBLEND_SRCALPHA, D3DBLEND_ONE},
        {D3DBLENDOP_MAX, D3DBLEND_SRCALPHA, D3DBLEND_ONE},
    };
    if (mode >= std::size(rows)) return;
    device->SetRenderState(D3DRS_BLENDOP, rows[mode].op);
    device->SetRenderState(D3DRS_SRCBLEND, rows[mode].source);
    device->SetRenderState(D3DRS_DESTBLEND, rows[mode].destination);
}

void initPointLight(D3DLIGHT9* light, const D3DCOLORVALUE* color, const D3DVECTOR* position, float range) {
    *light = {};
    light->Type = D3DLIGHT_POINT;
    light->Diffuse = *color;
    light->Specular = *color;
    light->Ambient = {0, 0, 0, 0};
    light->Position = *position;
    light->Direction = {0, 0, 1};
    light->Range = range;
    light->Falloff = 0;
    light->Attenuation0 = 1;
    light->Attenuation1 = 0;
    light->Attenuation2 = 0;
    light->Theta = 0;
    light->Phi = 0;
}

void initMaterial(D3DMATERIAL9* material, const D3DCOLORVALUE* diffuse, const D3DCOLORVALUE* ambient,
                  const D3DCOLORVALUE* specular, const D3DCOLORVALUE* emissive, float power) {
    material->Diffuse = *diffuse;
    material->Ambient = *ambient;
    material->Specular = *specular;
    material->Emissive = *emissive;
    material->Power = power;
}

void drawMeshScaled(ID3DXMesh* mesh, float scale) {
    if (!mesh) return;
    D3DXMATRIX scaling;
    D3DXMatrixScaling(&scaling, scale, scale, scale);
    D3DXMATRIX world;
    device->GetTransform(D3DTS_WORLD, &world);
    // The scale acts first, in the mesh's own space.
    D3DXMatrixMultiply(&world, &scaling, &world);
    device->SetTransform(D3DTS_WORLD, &world);
    device->SetRenderState(D3DRS_ZWRITEENABLE, FALSE);
    mesh->DrawSubset(0);
    device->SetRenderState(D3DRS_ZWRITEENABLE, TRUE);
}

MeshPointCloud::~MeshPointCloud() {
    if (vertexBuffer) vertexBuffer->Release();
}

void MeshPointCloud::attach(ID3DXMesh* mesh) {
    if (vertexBuffer) vertexBuffer->Release();
    vertexBuffer = nullptr;
    fvf = vertexCount = stride = 0;
    if (!mesh) return;
    mesh->GetVertexBuffer(&vertexBuffer);
    if (!vertexBuffer) return;
    fvf = mesh->GetFVF();
    vertexCount = mesh->GetNumVertices();
    stride = mesh->GetNumBytesPerVertex();
}

void MeshPointCloud::drawPoints() {
    if (!vertexBuffer) return;
    device->SetRenderState(D3DRS_ZWRITEENABLE, FALSE);
    device->SetRenderState(D3DRS_SPECULARENABLE, FALSE);
    device->SetRenderState(D3DRS_BLENDOP, D3DBLENDOP_ADD);
    device->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_SRCALPHA);
    device->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_ONE);

    device->SetStreamSource(0, vertexBuffer, 0, stride);
    device->SetFVF(fvf);
    device->DrawPrimitive(D3DPT_POINTLIST, 0, vertexCount);

    device->SetRenderState(D3DRS_BLENDOP, D3DBLENDOP_ADD);
    device->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_SRCALPHA);
    device->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_INVSRCALPHA);
    device->SetRenderState(D3DRS_SPECULARENABLE, TRUE);
    device->SetRenderState(D3DRS_ZWRITEENABLE, TRUE);
}
