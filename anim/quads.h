// Small drawing and set-up helpers the scenes share: pre-transformed screen quads, a colour packer,
// stencil and blend set-ups, light and material initialisers, a scaled mesh draw and a mesh point
// cloud. They draw through the process-wide device and keep no state besides their own fields.
#pragma once

#include "gfx/d3d9/d3d9.h"
#include "gfx/d3dx/d3dx9.h"

// The rendering device of the show; defined with the engine.
extern IDirect3DDevice9* device;

// A8R8G8B8; each component is clamped to [0, 1] and rounded half up. NaN packs as 0.
DWORD packColor(const D3DCOLORVALUE& color);

struct QuadVertex {
    float x, y, z;
    float rhw;
    DWORD diffuse;
};
static_assert(sizeof(QuadVertex) == 20);

struct TexturedQuadVertex {
    float x, y, z;
    float rhw;
    DWORD diffuse;
    float u, v;
};
static_assert(sizeof(TexturedQuadVertex) == 28);

// Corners in strip order: bottom left, top left, bottom right, top right (clockwise on screen, so
// the default culling keeps them). Full-screen quads go at (-0.5, -0.5) so pixel and texel centres
// meet. Neither quad touches render states.
class ScreenQuad {
public:
    static constexpr DWORD fvf = D3DFVF_XYZRHW | D3DFVF_DIFFUSE;

    ScreenQuad();
    // Always untextured: unbinds stage 0 before drawing.
    void draw(const D3DCOLORVALUE* color, float z, float x, float y, float width, float height);

    QuadVertex vertices[4];
};

class TexturedScreenQuad {
public:
    static constexpr DWORD fvf = D3DFVF_XYZRHW | D3DFVF_DIFFUSE | D3DFVF_TEX1;

    TexturedScreenQuad();
    // Uses whatever texture the caller bound to stage 0; maps the whole texture onto the quad.
    void draw(const D3DCOLORVALUE* color, float z, float x, float y, float width, float height);

    TexturedQuadVertex vertices[4];
};

// Sets the pass operation, function, reference and both masks; stenciling itself and the fail
// operations are left alone.
void setStencilState(DWORD passOp, DWORD func, DWORD ref, DWORD mask);

enum BlendMode : unsigned {
    Alpha = 0,
    Additive = 1,
    Subtract = 2,
    ReverseSubtract = 3,
    Min = 4,
    Max = 5,
};

// Sets blend operation, source and destination factors for one of the BlendMode values; any other
// value changes nothing. Alpha blending is not switched on or off.
void setBlendMode(unsigned mode);

// A point light of the given colour (diffuse and specular), no ambient, attenuation 1, 0, 0.
void initPointLight(D3DLIGHT9* light, const D3DCOLORVALUE* color, const D3DVECTOR* position, float range);

// Sets the four colours and the power; note the order diffuse, ambient, specular, emissive.
void initMaterial(D3DMATERIAL9* material, const D3DCOLORVALUE* diffuse, const D3DCOLORVALUE* ambient,
                  const D3DCOLORVALUE* specular, const D3DCOLORVALUE* emissive, float power);

// Draws subset 0 scaled in the mesh's own space, without depth writes. The scaled world transform
// stays set afterwards and depth writes end up on.
void drawMeshScaled(ID3DXMesh* mesh, float scale);

// Draws the vertices of a mesh as additive points. Holds one reference to the vertex buffer of the
// mesh it was last attached to.
class MeshPointCloud {
public:
    MeshPointCloud() = default;
    ~MeshPointCloud();
    MeshPointCloud(const MeshPointCloud&) = delete;
    MeshPointCloud& operator=(const MeshPointCloud&) = delete;

    // Drops the buffer held so far; a null mesh leaves the cloud empty.
    void attach(ID3DXMesh* mesh);
    // Nothing at all, not even a state change, while empty. Leaves ordinary alpha blending, specular
    // and depth writes on.
    void drawPoints();

    IDirect3DVertexBuffer9* vertexBuffer = nullptr;
    DWORD fvf = 0;
    DWORD vertexCount = 0;
    DWORD stride = 0;
};
