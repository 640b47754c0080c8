#include "scenes/farewell_scene.h"

#include "engine/demo_engine.h"
#include "engine/resources.h"
#include "scenes/key_table.h"

namespace {

constexpr DWORD sceneStart = 130000;
constexpr DWORD stopAfter = 136000;

// time ms, value, mode
const KeyRow barHeightKeys[] = {{130000, 64, Linear}, {132000, 0, Linear}};

const KeyRow fadeKeys[] = {{132000, 0, Hermite}, {134000, 0.3f, Hermite}, {136000, 1.0f, Hermite}};

}  // namespace

FarewellScene::FarewellScene() {
    pictureTexture = static_cast<IDirect3DTexture9*>(getResource("seeya.jpg"));
    D3DXMatrixPerspectiveFovLH(&projection, 1.0471976f, float(screenWidth) / float(screenHeight), 1.0f,
                               100000.0f);
    D3DXVECTOR3 eye(0, 0, -10), at(0, 0, 0), up(0, 1, 0);
    D3DXMatrixLookAtLH(&view, &eye, &at, &up);
    addKeys(barHeight, barHeightKeys);
    addKeys(fade, fadeKeys);
}

void FarewellScene::prepare() {
    prepared = true;
    device->SetTransform(D3DTS_PROJECTION, &projection);
    device->SetTransform(D3DTS_VIEW, &view);
    device->SetRenderState(D3DRS_LIGHTING, FALSE);
    device->SetRenderState(D3DRS_SPECULARENABLE, FALSE);
    device->SetRenderState(D3DRS_AMBIENT, 0xFFFFFFFF);
    device->LightEnable(0, FALSE);
    device->SetTextureStageState(0, D3DTSS_TEXCOORDINDEX, 0);
    device->SetTextureStageState(0, D3DTSS_TEXTURETRANSFORMFLAGS, D3DTTFF_DISABLE);
}

void FarewellScene::render(DWORD timeMs) {
    if (timeMs < sceneStart) {
        prepared = false;
        return;
    }
    // The frame is still drawn and presented; the loop ends after it.
    if (timeMs > stopAfter) engine->stop();
    if (!prepared) prepare();
    const float t = float(timeMs);

    device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER | D3DCLEAR_STENCIL, 0xFFFF0000, 1.0f, 0);

    // The top bar shrinks away; the bottom one keeps its height and slides out of the frame.
    const float b = barHeight.evaluate(t);
    const D3DCOLORVALUE black{0, 0, 0, 1};
    barQuad.draw(&black, 0, 0, 0, 640, b);
    barQuad.draw(&black, 0, 0, 480 - b, 640, 64);

    // Texel for texel; only the top-left 640x480 of the picture is on screen.
    device->SetTexture(0, pictureTexture);
    device->SetSamplerState(0, D3DSAMP_MAGFILTER, D3DTEXF_POINT);
    device->SetSamplerState(0, D3DSAMP_MINFILTER, D3DTEXF_POINT);
    device->SetSamplerState(0, D3DSAMP_MIPFILTER, D3DTEXF_NONE);
    const D3DCOLORVALUE white{1, 1, 1, 1};
    pictureQuad.draw(&white, 1.0f, 0, 0, 1024, 512);
    device->SetSamplerState(0, D3DSAMP_MAGFILTER, D3DTEXF_LINEAR);
    device->SetSamplerState(0, D3DSAMP_MINFILTER, D3DTEXF_LINEAR);
    device->SetSamplerState(0, D3DSAMP_MIPFILTER, D3DTEXF_LINEAR);

    const D3DCOLORVALUE cover{0, 0, 0, fade.evaluate(t)};
    barQuad.draw(&cover, 0, -0.5f, -0.5f, float(screenWidth), float(screenHeight));
}
