// The third scene: a swirling, tilting flower over its background picture, one information panel
// per section, a flash at each section start and a fade to black.
#pragma once

#include "anim/curve.h"
#include "anim/quads.h"
#include "gfx/d3dx/d3dx9.h"
#include "scenes/scene.h"

class PlupoScene : public Scene {
public:
    PlupoScene();
    ~PlupoScene() override;
    void render(DWORD timeMs) override;

    // Turns each vertex about the Z axis by amount x its swirl weight; positions only.
    void swirlMesh(ID3DXMesh* source, ID3DXMesh* target, float amount);

private:
    void prepare();

    D3DMATRIX projection;
    D3DMATRIX view;
    D3DMATRIX world;
    D3DMATERIAL9 plupoMaterial;
    D3DLIGHT9 light;
    ID3DXMesh* plupoMesh;
    ID3DXMesh* plupoWork = nullptr;
    IDirect3DTexture9* plupoTexture;
    IDirect3DTexture9* backTexture;
    IDirect3DTexture9* infoTextures[4];
    ScreenQuad barQuad;
    TexturedScreenQuad pictureQuad;
    Curve swirl, pitch, flash, infoAlpha;
    float* swirlWeights = nullptr;
};
