// The second scene: a rippled plasma grid far behind a tumbling, twisted organic shape whose
// vertices glow as sprites through the small offscreen target, one word plate per section.
#pragma once

#include "anim/curve.h"
#include "anim/quads.h"
#include "gfx/d3dx/d3dx9.h"
#include "scenes/scene.h"

class BiogenScene : public Scene {
public:
    BiogenScene();
    ~BiogenScene() override;
    void render(DWORD timeMs) override;

private:
    void prepare();

    D3DMATRIX projection;
    D3DMATRIX view;
    D3DMATRIX world;
    D3DMATRIX texScale;
    D3DMATERIAL9 gridMaterial;
    D3DMATERIAL9 textMaterial;
    D3DMATERIAL9 biogenMaterial;
    D3DLIGHT9 light;
    IDirect3DTexture9* plasmaTexture;
    IDirect3DTexture9* plasmaEnvTexture;
    IDirect3DTexture9* textTextures[4];
    IDirect3DTexture9* flareTexture;
    ID3DXMesh* gridMesh;
    ID3DXMesh* gridWork = nullptr;
    ID3DXMesh* planeMesh;
    ID3DXMesh* biogenMesh;
    ID3DXMesh* biogenWork = nullptr;
    ScreenQuad barQuad;
    TexturedScreenQuad glowQuad;
    MeshPointCloud sparks;
    Curve envScale, gridShake, barHeight, textAlpha, whiteFade, glowAlpha, spriteSize, specPower;
    ColorCurve biogenColor;
    Curve twistRate;
};
