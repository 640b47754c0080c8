// The opening: a wobbling, outlined box over a half-lit background, the four title words, the flash
// at 16 s and the fade to black by 18 s.
#pragma once

#include "anim/curve.h"
#include "anim/quads.h"
#include "gfx/d3dx/d3dx9.h"
#include "scenes/scene.h"

class BoxIntroScene : public Scene {
public:
    BoxIntroScene();
    ~BoxIntroScene() override;
    void render(DWORD timeMs) override;

private:
    void prepare();

    D3DMATRIX projection;
    D3DMATRIX view;
    D3DMATRIX world;
    IDirect3DTexture9* groupText;
    IDirect3DTexture9* titleText;
    IDirect3DTexture9* presentsText;
    IDirect3DTexture9* invitationText;
    ID3DXMesh* planeMesh;
    ID3DXMesh* boxMesh;
    ID3DXMesh* wobbleMesh = nullptr;
    IDirect3DTexture9* boxTexture;
    IDirect3DTexture9* backgroundTexture;
    D3DMATERIAL9 textMaterial;
    D3DMATERIAL9 boxMaterial;
    D3DMATERIAL9 outlineMaterial;
    D3DLIGHT9 light;
    ScreenQuad fadeQuad;
    TexturedScreenQuad backgroundQuad;
    Curve fade, textScaleX, textScaleY, textAlpha, wobbleAmplitude, wobbleFrequency, wobblePhase, outlineScale,
        outlineAlpha, spinYaw;
};
