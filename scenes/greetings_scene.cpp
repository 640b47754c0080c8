#include "scenes/greetings_scene.h"

#include "engine/demo_engine.h"
#include "engine/resources.h"
#include "scenes/key_table.h"

namespace {

constexpr DWORD sceneStart = 98000;
constexpr DWORD sceneEnd = 130000;

// time ms, value, mode
const KeyRow envScaleKeys[] = {{98000, 1.0f, Hermite},  {102000, 0.5f, Hermite}, {106000, 1.0f, Hermite},
                               {110000, 0.2f, Hermite}, {114000, 2.0f, Hermite}, {118000, 0.1f, Hermite},
                               {122000, 3.0f, Hermite}, {126000, 0.6f, Hermite}, {130000, 1.0f, Hermite}};

const KeyRow spinPitchKeys[] = {{96000, 0, Hermite}, {130000, 100, Hermite}};

const KeyRow spinYawKeys[] = {{96000, 0, Hermite}, {130000, 50, Hermite}};

const KeyRow scrollKeys[] = {{98000, 300, Linear}, {130000, -1900, Linear}};

// Keys of one beat at T: rows of (ms after T, value, mode).
const KeyRow flashKeysPerBeat[] = {{-50, 0, Hermite}, {0, 1, Hermite}, {100, 1, Hermite}, {150, 0, Hermite}};

const KeyRow highlightKeysPerBeat[] = {{100, 0, Linear}, {150, 1, Linear}, {1500, 0, Linear}};

// How far behind the object its ghost copies run, oldest first.
constexpr float trailDelays[3] = {1000, 500, 250};

}  // namespace

// Must match the greetings accents of the music (assets/music.cpp). Each block repeats the first 8 s later.
const float beatTimes[48] = {
    98000,  98500,  99125,  99500,  100500, 101125, 101500, 101750, 102500, 103125, 103500, 104500,
    106000, 106500, 107125, 107500, 108500, 109125, 109500, 109750, 110500, 111125, 111500, 112500,
    114000, 114500, 115125, 115500, 116500, 117125, 117500, 117750, 118500, 119125, 119500, 120500,
    122000, 122500, 123125, 123500, 124500, 125125, 125500, 125750, 126500, 127125, 127500, 128500,
};

GreetingsScene::GreetingsScene() {
    const D3DCOLORVALUE white{1, 1, 1, 1}, opaqueBlack{0, 0, 0, 1};
    cubeMesh = static_cast<ID3DXMesh*>(getResource("flipcube.x"));
    cubeTexture = static_cast<IDirect3DTexture9*>(getResource("flipcube.jpg"));
    initMaterial(&cubeMaterial, &white, &white, &white, &opaqueBlack, 8);
    blueMesh = static_cast<ID3DXMesh*>(getResource("bluetooth.x"));
    blueTexture = static_cast<IDirect3DTexture9*>(getResource("bluetooth.jpg"));
    blueEnvTexture = static_cast<IDirect3DTexture9*>(getResource("bluetoothenv.jpg"));
    initMaterial(&blueMaterial, &white, &white, &white, &opaqueBlack, 8);
    blueMaterial.Power = 32;
    greetzTexture = static_cast<IDirect3DTexture9*>(getResource("greetz.png"));
    greetzOverTexture = static_cast<IDirect3DTexture9*>(getResource("greetzover.png"));
    const D3DVECTOR lightPosition{-10, 2, -20};
    initPointLight(&light, &white, &lightPosition, 1000);

    D3DXMatrixPerspectiveFovLH(&projection, 2.0943952f, float(screenWidth) / float(screenHeight), 1.0f,
                               100000.0f);
    D3DXVECTOR3 eye(10, 0, -15), at(10, 0, 0), up(0, 1, 0);
    D3DXMatrixLookAtLH(&view, &eye, &at, &up);

    addKeys(envScale, envScaleKeys);
    addKeys(spinPitch, spinPitchKeys);
    addKeys(spinYaw, spinYawKeys);
    for (float beat : beatTimes) addFlashKeys(beat);
    flash.computeTangents();
    addKeys(scroll, scrollKeys);
    for (float beat : beatTimes) addHighlightKeys(beat);
    highlight.computeTangents();
}

// Keys of neighbouring beats interleave and all of them stay, so one beat's keys can cut short the
// decay of another.
void GreetingsScene::addFlashKeys(float beatMs) {
    for (const KeyRow& row : flashKeysPerBeat) flash.addKey(row.mode, beatMs + row.timeMs, row.value);
}

void GreetingsScene::addHighlightKeys(float beatMs) {
    for (const KeyRow& row : highlightKeysPerBeat) highlight.addKey(row.mode, beatMs + row.timeMs, row.value);
}

void GreetingsScene::prepare() {
    prepared = true;
    device->SetTransform(D3DTS_PROJECTION, &projection);
    device->SetTransform(D3DTS_VIEW, &view);
    device->SetRenderState(D3DRS_LIGHTING, TRUE);
    device->SetRenderState(D3DRS_SPECULARENABLE, TRUE);
    device->LightEnable(0, TRUE);
    device->SetLight(0, &light);
}

// The object itself is the last step at the full alpha, so copies run from 1/steps up to (steps-1)/steps.
void GreetingsScene::drawTrail(ID3DXMesh* mesh, const D3DXMATRIX* matrices, unsigned steps) {
    const float step = 1.0f / float(steps);
    D3DMATERIAL9 material;
    device->GetMaterial(&material);
    const float baseAlpha = material.Diffuse.a;
    device->SetRenderState(D3DRS_ZWRITEENABLE, FALSE);
    float factor = step;
    for (unsigned k = 1; k < steps; ++k, factor += step) {
        device->GetMaterial(&material);
        material.Diffuse.a = baseAlpha * factor;
        device->SetMaterial(&material);
        device->SetTransform(D3DTS_WORLD, &matrices[k - 1]);
        mesh->DrawSubset(0);
    }
    device->SetRenderState(D3DRS_ZWRITEENABLE, TRUE);
    device->GetMaterial(&material);
    material.Diffuse.a = baseAlpha;
    device->SetMaterial(&material);
}

void GreetingsScene::render(DWORD timeMs) {
    if (timeMs < sceneStart || timeMs >= sceneEnd) {
        prepared = false;
        return;
    }
    if (!prepared) prepare();
    const float t = float(timeMs);

    device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER | D3DCLEAR_STENCIL, 0x00000000, 1.0f, 0);
    device->SetRenderState(D3DRS_AMBIENT, 0);

    const D3DCOLORVALUE black{0, 0, 0, 1};
    barQuad.draw(&black, 0, 0, 0, 640, 64);
    barQuad.draw(&black, 0, 0, 416, 640, 64);

    // The cube, environment mapped from its camera-space normals at a pulsing scale.
    D3DXMatrixRotationYawPitchRoll(&world, 0.0011f * t, 0.0005f * t, 0);
    device->SetTransform(D3DTS_WORLD, &world);
    device->SetTexture(0, cubeTexture);
    device->SetMaterial(&cubeMaterial);
    device->SetTextureStageState(0, D3DTSS_TEXCOORDINDEX, D3DTSS_TCI_CAMERASPACENORMAL);
    const float s = envScale.evaluate(t);
    D3DXMatrixScaling(&texScale, s, s, 1);
    device->SetTransform(D3DTS_TEXTURE0, &texScale);
    device->SetTextureStageState(0, D3DTSS_TEXTURETRANSFORMFLAGS, D3DTTFF_COUNT2);
    device->SetRenderState(D3DRS_SPECULARENABLE, FALSE);
    cubeMesh->DrawSubset(0);
    device->SetRenderState(D3DRS_SPECULARENABLE, TRUE);

    // The second object marks its pixels so the trail never covers it.
    D3DXMatrixRotationYawPitchRoll(&world, spinYaw.evaluate(t), spinPitch.evaluate(t), 0);
    device->SetTransform(D3DTS_WORLD, &world);
    device->SetTextureStageState(0, D3DTSS_TEXCOORDINDEX, 0);
    device->SetTextureStageState(0, D3DTSS_TEXTURETRANSFORMFLAGS, D3DTTFF_DISABLE);
    device->SetTexture(0, blueTexture);
    device->SetTextureStageState(1, D3DTSS_TEXCOORDINDEX, D3DTSS_TCI_CAMERASPACENORMAL);
    device->SetTexture(1, blueEnvTexture);
    device->SetTextureStageState(1, D3DTSS_COLOROP, D3DTOP_ADDSMOOTH);
    device->SetTextureStageState(1, D3DTSS_COLORARG1, D3DTA_TEXTURE);
    device->SetTextureStageState(1, D3DTSS_COLORARG2, D3DTA_CURRENT);
    device->SetMaterial(&blueMaterial);
    device->SetRenderState(D3DRS_STENCILENABLE, TRUE);
    setStencilState(D3DSTENCILOP_REPLACE, D3DCMP_ALWAYS, 1, 1);
    blueMesh->DrawSubset(0);

    for (int i = 0; i < 3; ++i) {
        const float past = t - trailDelays[i];
        D3DXMatrixRotationYawPitchRoll(&trail[i], spinYaw.evaluate(past), spinPitch.evaluate(past), 0);
    }
    device->SetRenderState(D3DRS_BLENDOP, D3DBLENDOP_ADD);
    device->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_SRCALPHA);
    device->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_ONE);
    setStencilState(D3DSTENCILOP_KEEP, D3DCMP_NOTEQUAL, 1, 1);
    drawTrail(blueMesh, trail, 4);
    setStencilState(D3DSTENCILOP_KEEP, D3DCMP_ALWAYS, 0, 0xFFFFFFFF);
    device->SetRenderState(D3DRS_BLENDOP, D3DBLENDOP_ADD);
    device->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_SRCALPHA);
    device->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_INVSRCALPHA);
    device->SetTextureStageState(1, D3DTSS_COLOROP, D3DTOP_DISABLE);
    device->SetTextureStageState(1, D3DTSS_COLORARG1, D3DTA_TEXTURE);
    device->SetTextureStageState(1, D3DTSS_COLORARG2, D3DTA_CURRENT);
    device->SetTexture(1, nullptr);

    // The greetings cross-fade to their highlighted twin on each beat.
    const float h = highlight.evaluate(t);
    const float y = scroll.evaluate(t);
    device->SetRenderState(D3DRS_ZWRITEENABLE, FALSE);
    device->SetTexture(0, greetzTexture);
    const D3DCOLORVALUE plain{1, 1, 1, 1 - h}, lit{1, 1, 1, h};
    greetzQuad.draw(&plain, 0.1f, 384, y, 256, 2048);
    device->SetTexture(0, greetzOverTexture);
    greetzQuad.draw(&lit, 0.1f, 384, y, 256, 2048);
    device->SetRenderState(D3DRS_ZWRITEENABLE, TRUE);

    const D3DCOLORVALUE white{1, 1, 1, flash.evaluate(t)};
    barQuad.draw(&white, 0, -0.5f, -0.5f, float(screenWidth), float(screenHeight));
}
