#include "scenes/biogen_scene.h"

#include <cstring>

#include "anim/noise.h"
#include "engine/demo_engine.h"
#include "engine/offscreen_target.h"
#include "engine/resources.h"
#include "scenes/key_table.h"

namespace {

constexpr DWORD sceneStart = 18000;
constexpr DWORD sceneEnd = 50000;

// time ms, value, mode
const KeyRow barHeightKeys[] = {{18000, 0, Linear}, {20000, 64, Linear}};

const KeyRow envScaleKeys[] = {{18000, 2, Hermite},    {22000, 10, Hermite}, {26000, 0.7f, Hermite},
                               {30000, 4, Hermite},    {34000, 0.7f, Hermite}, {38000, -1, Hermite},
                               {42000, 10, Hermite},   {46000, 1, Hermite},  {50000, 5, Hermite}};

// A jump to 1 at each section start, gone within half a second.
const KeyRow gridShakeKeys[] = {{18000, 1, Linear}, {18500, 0, Hold}, {26000, 1, Linear}, {26500, 0, Hold},
                                {34000, 1, Linear}, {34500, 0, Hold}, {42000, 1, Linear}, {42500, 0, Hold}};

const KeyRow textAlphaKeys[] = {{18000, 0, Linear}, {18500, 1, Linear}, {22000, 1, Linear}, {24000, 0, Linear},
                                {26000, 0, Linear}, {26500, 1, Linear}, {30000, 1, Linear}, {32000, 0, Linear},
                                {34000, 0, Linear}, {34500, 1, Linear}, {38000, 1, Linear}, {40000, 0, Linear},
                                {42000, 0, Linear}, {42500, 1, Linear}, {46000, 1, Linear}, {48000, 0, Linear}};

const KeyRow whiteFadeKeys[] = {{49750, 0, Linear}, {50000, 1, Linear}};

const KeyRow glowAlphaKeys[] = {{18000, 1, Hermite}, {19000, 0, Hermite}, {25000, 0, Hermite}, {26000, 1, Hermite},
                                {27000, 0, Hermite}, {33000, 0, Hermite}, {34000, 1, Hermite}, {35000, 0, Hermite},
                                {41000, 0, Hermite}, {42000, 1, Hermite}, {43000, 0, Hermite}, {49000, 0, Hermite},
                                {50000, 1, Hermite}};

const KeyRow spriteSizeKeys[] = {{18000, 16, Hermite}, {19000, 1, Hermite}, {25000, 1, Hermite},
                                 {26000, 16, Hermite}, {27000, 1, Hermite}, {33000, 1, Hermite},
                                 {34000, 16, Hermite}, {35000, 1, Hermite}, {41000, 1, Hermite},
                                 {42000, 16, Hermite}, {43000, 1, Hermite}, {49000, 1, Hermite},
                                 {50000, 16, Hermite}};

const KeyRow specPowerKeys[] = {{18000, 16, Hermite}, {22000, 2, Hermite}, {26000, 32, Hermite},
                                {30000, 8, Hermite},  {34000, 16, Hermite}, {38000, 1, Hermite},
                                {42000, 16, Hermite}, {46000, 4, Hermite}, {50000, 32, Hermite}};

// time ms, r, g, b, a, mode
const ColorKeyRow biogenColorKeys[] = {
    {18000, 1, 1, 1, 0.6f, Hermite},    {22000, 0.5f, 1, 0.5f, 0.8f, Hermite}, {26000, 1, 1, 1, 0.6f, Hermite},
    {30000, 1, 1, 0, 0.4f, Hermite},    {34000, 1, 1, 1, 0.6f, Hermite},       {38000, 1, 0, 0.5f, 0.8f, Hermite},
    {42000, 1, 1, 1, 0.9f, Hermite},    {46000, 0, 1, 0.5f, 0.8f, Hermite},    {50000, 1, 1, 1, 0.6f, Hermite}};

const KeyRow twistRateKeys[] = {{18000, 0, Hermite}, {22000, 1, Hermite},     {26000, 0, Hermite},
                                {30000, -1, Hermite}, {34000, 0, Hermite},    {38000, 4, Hermite},
                                {42000, 0, Hermite}, {46000, -2.9f, Hermite}, {50000, 0, Hermite}};

DWORD floatBits(float f) {
    DWORD bits;
    std::memcpy(&bits, &f, sizeof bits);
    return bits;
}

D3DXMATRIX& asX(D3DMATRIX& m) { return static_cast<D3DXMATRIX&>(m); }

}  // namespace

BiogenScene::BiogenScene() {
    plasmaTexture = static_cast<IDirect3DTexture9*>(getResource("bioplasma.jpg"));
    plasmaEnvTexture = static_cast<IDirect3DTexture9*>(getResource("bioplasmaenv.jpg"));
    textTextures[0] = static_cast<IDirect3DTexture9*>(getResource("text-party.png"));
    textTextures[1] = static_cast<IDirect3DTexture9*>(getResource("text-company.png"));
    textTextures[2] = static_cast<IDirect3DTexture9*>(getResource("text-friends.png"));
    textTextures[3] = static_cast<IDirect3DTexture9*>(getResource("text-harmony.png"));
    flareTexture = static_cast<IDirect3DTexture9*>(getResource("flareblue.jpg"));
    gridMesh = static_cast<ID3DXMesh*>(getResource("grid.x"));
    gridMesh->CloneMeshFVF(D3DXMESH_MANAGED, gridMesh->GetFVF(), device, &gridWork);
    planeMesh = static_cast<ID3DXMesh*>(getResource("planarbox41.x"));
    biogenMesh = static_cast<ID3DXMesh*>(getResource("biogen.x"));
    biogenMesh->CloneMeshFVF(D3DXMESH_MANAGED, biogenMesh->GetFVF(), device, &biogenWork);

    // The sprites start on the source mesh; every frame moves them to the twisted copy.
    sparks.attach(biogenMesh);

    D3DXMatrixPerspectiveFovLH(&asX(projection), 1.0471976f, float(screenWidth) / float(screenHeight), 1.0f,
                               100000.0f);
    D3DXVECTOR3 eye(0, 0, -10), at(0, 0, 0), up(0, 1, 0);
    D3DXMatrixLookAtLH(&asX(view), &eye, &at, &up);
    world = D3DXMATRIX();
    texScale = D3DXMATRIX();

    const D3DCOLORVALUE white{1, 1, 1, 1}, opaqueBlack{0, 0, 0, 1};
    initMaterial(&gridMaterial, &white, &white, &white, &opaqueBlack, 8);
    initMaterial(&textMaterial, &white, &white, &white, &opaqueBlack, 8);
    initMaterial(&biogenMaterial, &white, &white, &white, &opaqueBlack, 8);
    biogenMaterial.Power = 16;
    const D3DVECTOR lightPosition{-10, 1, -10};
    initPointLight(&light, &white, &lightPosition, 1000);

    addKeys(barHeight, barHeightKeys);
    addKeys(envScale, envScaleKeys);
    addKeys(gridShake, gridShakeKeys);
    addKeys(textAlpha, textAlphaKeys);
    addKeys(whiteFade, whiteFadeKeys);
    addKeys(glowAlpha, glowAlphaKeys);
    addKeys(spriteSize, spriteSizeKeys);
    addKeys(specPower, specPowerKeys);
    addKeys(biogenColor, biogenColorKeys);
    addKeys(twistRate, twistRateKeys);
}

BiogenScene::~BiogenScene() {
    if (gridWork) gridWork->Release();
    if (biogenWork) biogenWork->Release();
}

void BiogenScene::prepare() {
    prepared = true;
    device->SetTransform(D3DTS_PROJECTION, &projection);
    device->SetTransform(D3DTS_VIEW, &view);
    device->SetRenderState(D3DRS_SPECULARENABLE, FALSE);
    device->SetRenderState(D3DRS_AMBIENT, 0xFFFFFFFF);
    device->SetLight(0, &light);
    device->LightEnable(0, FALSE);
}

void BiogenScene::render(DWORD timeMs) {
    if (timeMs < sceneStart || timeMs >= sceneEnd) {
        prepared = false;
        return;
    }
    if (!prepared) prepare();
    const float f = float(timeMs);

    device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER | D3DCLEAR_STENCIL, 0x00000000, 1.0f, 0);

    // The bars go first, at depth 0, so every later depth-tested draw stays behind them.
    const float h = barHeight.evaluate(f);
    const D3DCOLORVALUE black{0, 0, 0, 1};
    barQuad.draw(&black, 0, 0, 0, 640, h);
    barQuad.draw(&black, 0, 0, 480 - h, 640, h);

    // The grid, far behind, rippled, wobbled and shaken; its texture swims with its normals.
    D3DXMATRIX scaling, translation, rotation;
    D3DXMatrixScaling(&scaling, 25, 25, 1);
    D3DXMatrixTranslation(&translation, 0, 0, 100);
    D3DXMatrixMultiply(&asX(world), &scaling, &translation);
    device->SetTransform(D3DTS_WORLD, &world);
    device->SetTexture(0, plasmaTexture);
    gridMaterial.Diffuse.a = 1.0f;
    device->SetMaterial(&gridMaterial);
    const float p = f * 0.001f;
    rippleMeshZ(gridMesh, gridWork, 1.0f, p, 2.0f);
    deformMesh(gridWork, gridWork, 1.0f, p, 1.0f, 1.0f, 1.0f);
    waveMeshX(gridWork, gridWork, 10.0f, 0.0f, gridShake.evaluate(f));
    D3DXComputeNormals(gridWork, nullptr);
    const float e = envScale.evaluate(f);
    D3DXMatrixScaling(&scaling, e, e, 0);
    D3DXMatrixRotationYawPitchRoll(&rotation, 0, 0, p);
    D3DXMatrixMultiply(&asX(texScale), &scaling, &rotation);
    device->SetTransform(D3DTS_TEXTURE0, &texScale);
    device->SetTextureStageState(0, D3DTSS_TEXTURETRANSFORMFLAGS, D3DTTFF_COUNT2);
    device->SetTextureStageState(0, D3DTSS_TEXCOORDINDEX, D3DTSS_TCI_CAMERASPACENORMAL);
    gridWork->DrawSubset(0);

    // The tumbling, twisted object.
    D3DXMatrixScaling(&scaling, 0.25f, 0.25f, 0.25f);
    D3DXMatrixRotationYawPitchRoll(&rotation, f * 0.002f, f * 0.0005f, f * 0.00001f);
    D3DXMatrixMultiply(&asX(world), &scaling, &rotation);
    D3DXMatrixIdentity(&asX(texScale));
    device->SetTransform(D3DTS_TEXTURE0, &texScale);
    device->SetTextureStageState(0, D3DTSS_TEXTURETRANSFORMFLAGS, D3DTTFF_DISABLE);
    device->SetTextureStageState(0, D3DTSS_TEXCOORDINDEX, D3DTSS_TCI_CAMERASPACENORMAL);
    biogenMaterial.Power = specPower.evaluate(f);
    biogenMaterial.Diffuse = biogenColor.evaluate(f);
    device->SetMaterial(&biogenMaterial);
    device->SetRenderState(D3DRS_SPECULARENABLE, TRUE);
    device->LightEnable(0, TRUE);
    device->SetRenderState(D3DRS_AMBIENT, 0x22222222);
    device->SetTexture(0, plasmaEnvTexture);
    device->SetTransform(D3DTS_WORLD, &world);
    twistMesh(biogenMesh, biogenWork, twistRate.evaluate(f));
    D3DXComputeNormals(biogenWork, nullptr);
    biogenWork->DrawSubset(0);
    device->SetRenderState(D3DRS_SPECULARENABLE, FALSE);
    device->LightEnable(0, FALSE);
    device->SetRenderState(D3DRS_AMBIENT, 0xFFFFFFFF);

    // Its vertices as sprites into the small target, on the object's own transforms.
    device->SetRenderState(D3DRS_POINTSPRITEENABLE, TRUE);
    device->SetRenderState(D3DRS_POINTSCALEENABLE, FALSE);
    device->SetRenderState(D3DRS_POINTSIZE, floatBits(spriteSize.evaluate(f)));
    device->SetTextureStageState(0, D3DTSS_TEXTURETRANSFORMFLAGS, D3DTTFF_DISABLE);
    device->SetTextureStageState(0, D3DTSS_TEXCOORDINDEX, 0);
    device->SetTexture(0, flareTexture);
    offscreenTarget->bind();
    device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER | D3DCLEAR_STENCIL, 0x00000000, 1.0f, 0);
    sparks.attach(biogenWork);
    sparks.drawPoints();
    engine->restoreRenderTarget();
    device->SetRenderState(D3DRS_POINTSPRITEENABLE, FALSE);

    // The small picture stretched over the screen is the glow.
    device->SetTexture(0, offscreenTarget->texture);
    setBlendMode(Additive);
    device->SetRenderState(D3DRS_ZENABLE, FALSE);
    const D3DCOLORVALUE glow{1, 1, 1, glowAlpha.evaluate(f) * 0.5f};
    glowQuad.draw(&glow, 0.5f, -0.5f, -0.5f, float(screenWidth), float(screenHeight));
    setBlendMode(Alpha);

    D3DXMatrixIdentity(&asX(world));
    device->SetTransform(D3DTS_TEXTURE0, &world);
    device->SetTextureStageState(0, D3DTSS_TEXTURETRANSFORMFLAGS, D3DTTFF_DISABLE);
    device->SetTextureStageState(0, D3DTSS_TEXCOORDINDEX, 0);
    D3DXMatrixTranslation(&asX(world), 0, 0, -7);
    device->SetTransform(D3DTS_WORLD, &world);
    const int section = timeMs < 26000 ? 0 : timeMs < 34000 ? 1 : timeMs < 42000 ? 2 : 3;
    device->SetTexture(0, textTextures[section]);
    textMaterial.Diffuse.a = textAlpha.evaluate(f);
    device->SetMaterial(&textMaterial);
    planeMesh->DrawSubset(0);

    const D3DCOLORVALUE white{1, 1, 1, whiteFade.evaluate(f)};
    barQuad.draw(&white, 0, -0.5f, -0.5f, float(screenWidth), float(screenHeight));
    device->SetRenderState(D3DRS_ZENABLE, TRUE);
}
