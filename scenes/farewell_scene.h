// The last scene: the bars leave, the closing picture fades to black, and the show stops itself
// once the clock passes 136 s.
#pragma once

#include "anim/curve.h"
#include "anim/quads.h"
#include "gfx/d3dx/d3dx9.h"
#include "scenes/scene.h"

class FarewellScene : public Scene {
public:
    FarewellScene();
    ~FarewellScene() override = default;
    void render(DWORD timeMs) override;

private:
    void prepare();

    D3DXMATRIX projection;
    D3DXMATRIX view;
    IDirect3DTexture9* pictureTexture;
    ScreenQuad barQuad;
    TexturedScreenQuad pictureQuad;
    Curve barHeight, fade;
};
