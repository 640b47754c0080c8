// The fourth scene: a rippled sea below, a turning sky above, the credits sliding across.
#pragma once

#include "anim/curve.h"
#include "anim/quads.h"
#include "gfx/d3dx/d3dx9.h"
#include "scenes/scene.h"

class CorrosionScene : public Scene {
public:
    CorrosionScene();
    ~CorrosionScene() override;
    void render(DWORD timeMs) override;

    // The twin of waveMeshX on the other axis: y moves by amplitude x sin(frequency x + phase).
    void waveMeshY(ID3DXMesh* source, ID3DXMesh* target, float frequency, float phase, float amplitude);

    // Where the credits strip stands at a show time, in world units.
    float scrollAt(float timeMs) { return scrollX.evaluate(timeMs); }

private:
    void prepare();

    D3DMATRIX projection;
    D3DMATRIX view;
    D3DMATRIX world;
    D3DMATRIX texScale;
    ID3DXMesh* gridMesh;
    ID3DXMesh* gridWork = nullptr;
    IDirect3DTexture9* seaTexture;
    IDirect3DTexture9* skyTexture;
    IDirect3DTexture9* creditsTexture;
    D3DMATERIAL9 seaMaterial;
    D3DMATERIAL9 skyMaterial;
    D3DMATERIAL9 creditsMaterial;
    D3DLIGHT9 light;
    ScreenQuad barQuad;
    Curve fade, scrollX;
};
