#include "scenes/box_intro_scene.h"

#include "anim/noise.h"
#include "scenes/key_table.h"
#include "engine/demo_engine.h"
#include "engine/resources.h"

namespace {

constexpr DWORD sceneEnd = 18000;

// time ms, value, mode
const KeyRow fadeKeys[] = {{0, 1, Hermite},     {500, 0, Hermite},   {15950, 0, Hermite}, {16000, 1, Hermite},
                           {16100, 1, Hermite}, {16150, 0, Hermite}, {16200, 0, Hermite}, {18000, 1, Hermite}};

const KeyRow textScaleKeys[] = {{0, 1, Hold},       {2000, 1, Hermite},  {3999.9f, 20, Hold},  {4000, 1, Hold},
                                {6000, 1, Hermite}, {7999.9f, 20, Hold}, {8000, 1, Hold},      {10000, 1, Hermite},
                                {11999.9f, 20, Hold}, {12000, 1, Hold}, {14000, 1, Hermite}, {15999.9f, 20, Hold}};

const KeyRow textAlphaKeys[] = {{0, 1, Hold},      {2000, 1, Linear},  {3900, 0, Hold},   {4000, 1, Hold},
                                {6000, 1, Linear}, {7900, 0, Hold},    {8000, 1, Hold},   {10000, 1, Linear},
                                {11900, 0, Hold},  {12000, 1, Hold},   {14000, 1, Linear}, {15900, 0, Hold},
                                {16000, 0, Hold}};

const KeyRow spinYawKeys[] = {{0, 0, Linear},     {4000, 1, Linear},  {4500, 2, Linear},  {8000, 3, Linear},
                              {8500, 4, Linear},  {12000, 5, Linear}, {12500, 6, Linear}, {16000, 7, Linear},
                              {16500, 8, Linear}, {20000, 9, Linear}};

const KeyRow wobbleFrequencyKeys[] = {{0, 0.75f, Hold}};

const KeyRow wobblePhaseKeys[] = {{0, 0, Linear}, {18000, 100, Linear}};

// A jolt every two seconds: full at the bar, gone half a second later.
const KeyRow wobbleAmplitudeKeys[] = {
    {0, 5, Linear},     {500, 0, Linear},   {1950, 0, Linear},  {2000, 5, Linear},  {2500, 0, Linear},
    {3950, 0, Linear},  {4000, 5, Linear},  {4500, 0, Linear},  {5950, 0, Linear},  {6000, 5, Linear},
    {6500, 0, Linear},  {7950, 0, Linear},  {8000, 5, Linear},  {8500, 0, Linear},  {9950, 0, Linear},
    {10000, 5, Linear}, {10500, 0, Linear}, {11950, 0, Linear}, {12000, 5, Linear}, {12500, 0, Linear},
    {13950, 0, Linear}, {14000, 5, Linear}, {14500, 0, Linear}, {15950, 0, Linear}, {16000, 8, Linear},
    {18000, 0, Linear}};

const KeyRow outlineScaleKeys[] = {
    {0, 1.3f, Linear},     {500, 1.1f, Linear},   {1950, 1.1f, Linear},  {2000, 1.3f, Linear},
    {2500, 1.1f, Linear},  {3950, 1.1f, Linear},  {4000, 1.3f, Linear},  {4500, 1.1f, Linear},
    {5950, 1.1f, Linear},  {6000, 1.3f, Linear},  {6500, 1.1f, Linear},  {7950, 1.1f, Linear},
    {8000, 1.3f, Linear},  {8500, 1.1f, Linear},  {9950, 1.1f, Linear},  {10000, 1.3f, Linear},
    {10500, 1.1f, Linear}, {11950, 1.1f, Linear}, {12000, 1.3f, Linear}, {12500, 1.1f, Linear},
    {13950, 1.1f, Linear}, {14000, 1.3f, Linear}, {14500, 1.1f, Linear}, {15950, 1.1f, Linear},
    {16000, 1.5f, Linear}, {18000, 1.1f, Linear}};

const KeyRow outlineAlphaKeys[] = {
    {0, 1, Linear},      {500, 0, Linear},      {1950, 0, Linear},     {2000, 1, Linear},  {2500, 0, Linear},
    {3950, 0, Linear},   {4000, 1, Linear},     {4500, 0, Linear},     {5950, 0, Linear},  {6000, 1, Linear},
    {6500, 0, Linear},   {7950, 0, Linear},     {8000, 1, Linear},     {8500, 0, Linear},  {9950, 0, Linear},
    {10000, 1, Linear},  {10500, 0, Linear},    {11950, 0, Linear},    {12000, 1, Linear}, {12500, 0, Linear},
    {13950, 0, Linear},  {14000, 1, Linear},    {14500, 0.1f, Linear}, {15950, 0.2f, Linear},
    {16000, 1, Linear},  {18000, 0, Linear}};

}  // namespace

BoxIntroScene::BoxIntroScene() {
    D3DXMatrixPerspectiveFovLH(static_cast<D3DXMATRIX*>(&projection), 1.0471976f,
                               float(screenWidth) / float(screenHeight), 1.0f, 100000.0f);
    D3DXVECTOR3 eye(0, 0, -25), at(0, 0, 0), up(0, 1, 0);
    D3DXMatrixLookAtLH(static_cast<D3DXMATRIX*>(&view), &eye, &at, &up);
    world = D3DXMATRIX();

    groupText = static_cast<IDirect3DTexture9*>(getResource("text-tovira.png"));
    titleText = static_cast<IDirect3DTexture9*>(getResource("text-kaldra.png"));
    presentsText = static_cast<IDirect3DTexture9*>(getResource("text-presents.png"));
    invitationText = static_cast<IDirect3DTexture9*>(getResource("text-invitation.png"));
    boxTexture = static_cast<IDirect3DTexture9*>(getResource("kaldobrown.jpg"));
    backgroundTexture = static_cast<IDirect3DTexture9*>(getResource("kaldoback.jpg"));
    planeMesh = static_cast<ID3DXMesh*>(getResource("planarbox41.x"));
    boxMesh = static_cast<ID3DXMesh*>(getResource("kaldobox.x"));

    boxMesh->CloneMeshFVF(D3DXMESH_MANAGED, boxMesh->GetFVF(), device, &wobbleMesh);

    const D3DCOLORVALUE white{1, 1, 1, 1}, opaqueBlack{0, 0, 0, 1}, boxDiffuse{1, 1, 1, 0.9f},
        outlineAmbient{0.3f, 0.5f, 0, 1};
    initMaterial(&textMaterial, &white, &white, &white, &opaqueBlack, 8);
    initMaterial(&boxMaterial, &boxDiffuse, &white, &white, &opaqueBlack, 8);
    initMaterial(&outlineMaterial, &opaqueBlack, &outlineAmbient, &opaqueBlack, &opaqueBlack, 1);

    const D3DVECTOR lightPosition{-20, 0, -25};
    initPointLight(&light, &white, &lightPosition, 1000);

    addKeys(fade, fadeKeys);
    addKeys(textScaleX, textScaleKeys);
    addKeys(textScaleY, textScaleKeys);
    addKeys(textAlpha, textAlphaKeys);
    addKeys(spinYaw, spinYawKeys);
    addKeys(wobbleFrequency, wobbleFrequencyKeys);
    addKeys(wobblePhase, wobblePhaseKeys);
    addKeys(wobbleAmplitude, wobbleAmplitudeKeys);
    addKeys(outlineScale, outlineScaleKeys);
    addKeys(outlineAlpha, outlineAlphaKeys);
}

BoxIntroScene::~BoxIntroScene() {
    if (wobbleMesh) wobbleMesh->Release();
}

void BoxIntroScene::prepare() {
    prepared = true;
    device->SetTransform(D3DTS_PROJECTION, &projection);
    device->SetTransform(D3DTS_VIEW, &view);
    device->SetLight(0, &light);
    device->SetRenderState(D3DRS_STENCILENABLE, TRUE);
    D3DXMatrixIdentity(static_cast<D3DXMATRIX*>(&world));
    device->SetTransform(D3DTS_TEXTURE0, &world);
    device->SetTextureStageState(0, D3DTSS_TEXTURETRANSFORMFLAGS, D3DTTFF_DISABLE);
    device->SetTextureStageState(0, D3DTSS_TEXCOORDINDEX, 0);
}

void BoxIntroScene::render(DWORD timeMs) {
    if (timeMs >= sceneEnd) {
        prepared = false;
        return;
    }
    if (!prepared) prepare();
    const float t = float(timeMs);

    device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER | D3DCLEAR_STENCIL, 0x00000000, 1.0f, 0);

    // The background is drawn texel for texel and runs past the right and bottom edges.
    device->SetTexture(0, backgroundTexture);
    device->SetSamplerState(0, D3DSAMP_MAGFILTER, D3DTEXF_POINT);
    device->SetSamplerState(0, D3DSAMP_MINFILTER, D3DTEXF_POINT);
    device->SetSamplerState(0, D3DSAMP_MIPFILTER, D3DTEXF_NONE);
    const D3DCOLORVALUE halfWhite{1, 1, 1, 0.5f};
    backgroundQuad.draw(&halfWhite, 1.0f, 0, 0, 1024, 512);
    device->SetSamplerState(0, D3DSAMP_MAGFILTER, D3DTEXF_LINEAR);
    device->SetSamplerState(0, D3DSAMP_MINFILTER, D3DTEXF_LINEAR);
    device->SetSamplerState(0, D3DSAMP_MIPFILTER, D3DTEXF_LINEAR);

    const float amplitude = wobbleAmplitude.evaluate(t);
    deformMesh(boxMesh, wobbleMesh, wobbleFrequency.evaluate(t), wobblePhase.evaluate(t), amplitude, amplitude,
               amplitude);
    D3DXComputeNormals(wobbleMesh, nullptr);

    D3DXMATRIX scaling, rotation;
    D3DXMatrixScaling(&scaling, 1.3f, 1.3f, 1.3f);
    D3DXMatrixRotationYawPitchRoll(&rotation, spinYaw.evaluate(t), 0, 0.2617994f);
    D3DXMatrixMultiply(static_cast<D3DXMATRIX*>(&world), &scaling, &rotation);
    device->SetTransform(D3DTS_WORLD, &world);

    // The box marks its pixels with stencil 1.
    device->SetMaterial(&boxMaterial);
    device->SetTexture(0, boxTexture);
    device->LightEnable(0, TRUE);
    device->SetRenderState(D3DRS_SPECULARENABLE, TRUE);
    device->SetRenderState(D3DRS_AMBIENT, 0xFFFFFFFF);
    setStencilState(D3DSTENCILOP_REPLACE, D3DCMP_ALWAYS, 1, 1);
    device->SetTextureStageState(0, D3DTSS_TEXCOORDINDEX, D3DTSS_TCI_CAMERASPACEREFLECTIONVECTOR);
    wobbleMesh->DrawSubset(0);

    // The shell shows only outside the box and marks what it draws, so each outline pixel blends once.
    device->LightEnable(0, FALSE);
    device->SetRenderState(D3DRS_SPECULARENABLE, FALSE);
    device->SetRenderState(D3DRS_AMBIENT, 0xFFFFFFFF);
    device->SetTextureStageState(0, D3DTSS_TEXCOORDINDEX, 0);
    device->SetRenderState(D3DRS_ZWRITEENABLE, FALSE);
    setStencilState(D3DSTENCILOP_REPLACE, D3DCMP_NOTEQUAL, 1, 1);
    device->SetTexture(0, nullptr);
    outlineMaterial.Diffuse.a = outlineAlpha.evaluate(t);
    device->SetMaterial(&outlineMaterial);
    drawMeshScaled(wobbleMesh, outlineScale.evaluate(t));

    setStencilState(D3DSTENCILOP_KEEP, D3DCMP_ALWAYS, 0, 0xFFFFFFFF);
    device->SetRenderState(D3DRS_ZWRITEENABLE, TRUE);

    IDirect3DTexture9* word = t < 4000 ? groupText : t < 8000 ? presentsText : t < 12000 ? titleText : invitationText;
    device->SetTexture(0, word);
    textMaterial.Diffuse.a = textAlpha.evaluate(t);
    device->SetMaterial(&textMaterial);
    // Flattened to depth 0 and placed three units in front of the eye.
    D3DXMATRIX translation;
    D3DXMatrixScaling(&scaling, textScaleX.evaluate(t), textScaleY.evaluate(t), 0);
    D3DXMatrixTranslation(&translation, 0, 0, -22);
    D3DXMatrixMultiply(static_cast<D3DXMATRIX*>(&world), &scaling, &translation);
    device->SetTransform(D3DTS_WORLD, &world);
    planeMesh->DrawSubset(0);

    const bool flash = t >= 15950 && t < 16200;
    const D3DCOLORVALUE fadeColor{flash ? 1.0f : 0.0f, flash ? 1.0f : 0.0f, flash ? 1.0f : 0.0f, fade.evaluate(t)};
    fadeQuad.draw(&fadeColor, 0, -0.5f, -0.5f, float(screenWidth), float(screenHeight));
}
