// The fifth scene: an environment-mapped cube and a second object with a ghost trail turning about
// one centre, the greetings scrolling up, flashes and highlights on the beats.
#pragma once

#include "anim/curve.h"
#include "anim/quads.h"
#include "gfx/d3dx/d3dx9.h"
#include "scenes/scene.h"

class GreetingsScene : public Scene {
public:
    GreetingsScene();
    ~GreetingsScene() override = default;
    void render(DWORD timeMs) override;

    // Draws steps - 1 copies of the mesh at the given world matrices (oldest first), at growing
    // fractions of the current material's alpha, without depth writes.
    void drawTrail(ID3DXMesh* mesh, const D3DXMATRIX* matrices, unsigned steps);
    void addFlashKeys(float beatMs);
    void addHighlightKeys(float beatMs);

    // For tests: the tracks as the frame reads them.
    float flashAt(float timeMs) { return flash.evaluate(timeMs); }
    float highlightAt(float timeMs) { return highlight.evaluate(timeMs); }
    float scrollAt(float timeMs) { return scroll.evaluate(timeMs); }
    size_t flashKeyCount() const { return flash.keyCount(); }
    size_t highlightKeyCount() const { return highlight.keyCount(); }

private:
    void prepare();

    D3DXMATRIX projection;
    D3DXMATRIX view;
    D3DXMATRIX world;
    D3DXMATRIX texScale;
    ID3DXMesh* cubeMesh;
    IDirect3DTexture9* cubeTexture;
    D3DMATERIAL9 cubeMaterial;
    ID3DXMesh* blueMesh;
    IDirect3DTexture9* blueTexture;
    IDirect3DTexture9* blueEnvTexture;
    D3DMATERIAL9 blueMaterial;
    IDirect3DTexture9* greetzTexture;
    IDirect3DTexture9* greetzOverTexture;
    D3DLIGHT9 light;
    ScreenQuad barQuad;
    TexturedScreenQuad greetzQuad;
    D3DXMATRIX trail[3];  // oldest first
    Curve envScale, spinPitch, spinYaw, flash, scroll, highlight;
};

// The 48 beats the flashes and highlights fall on, in ms: four blocks of twelve, one block every 8 s.
extern const float beatTimes[48];
