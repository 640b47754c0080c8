#include "scenes/plupo_scene.h"

#include <cmath>
#include <cstring>

#include "anim/noise.h"
#include "engine/demo_engine.h"
#include "engine/resources.h"
#include "scenes/key_table.h"

namespace {

constexpr DWORD sceneStart = 50000;
constexpr DWORD sceneEnd = 82000;

// time ms, value, mode
const KeyRow swirlKeys[] = {{50000, 100, Hermite},  {52500, -100, Hermite}, {54000, 100, Hermite},
                            {56500, -200, Hermite}, {58000, 100, Hermite},  {60500, -100, Hermite},
                            {62000, 100, Hermite},  {64500, -100, Hermite}, {66000, 200, Hermite},
                            {68500, -100, Hermite}, {70000, 100, Hermite},  {72500, -100, Hermite},
                            {74000, 200, Hermite},  {76500, -100, Hermite}, {78000, 100, Hermite},
                            {80500, -100, Hermite}, {82000, 250, Hermite}};

// Each pose held for 6 s, then a 2 s swing to the next (-130, 45, -90, 100, -30 degrees).
const KeyRow pitchKeys[] = {{50000, -2.2689280f, Hermite}, {56000, -2.2689280f, Hermite},
                            {58000, 0.7853982f, Hermite},  {64000, 0.7853982f, Hermite},
                            {66000, -1.5707964f, Hermite}, {72000, -1.5707964f, Hermite},
                            {74000, 1.7453293f, Hermite},  {80000, 1.7453293f, Hermite},
                            {82000, -0.5235988f, Hermite}};

const KeyRow flashKeys[] = {{50000, 1, Hermite}, {50100, 1, Hermite}, {50150, 0, Hermite}, {57950, 0, Hermite},
                            {58000, 1, Hermite}, {58100, 1, Hermite}, {58150, 0, Hermite}, {65950, 0, Hermite},
                            {66000, 1, Hermite}, {66100, 1, Hermite}, {66150, 0, Hermite}, {73950, 0, Hermite},
                            {74000, 1, Hermite}, {74100, 1, Hermite}, {74150, 0, Hermite}, {80000, 0, Hermite},
                            {82000, 1, Hermite}};

const KeyRow infoAlphaKeys[] = {{50000, 0, Linear}, {52000, 1, Linear}, {55000, 1, Linear}, {58000, 0, Linear},
                                {60000, 1, Linear}, {63000, 1, Linear}, {66000, 0, Linear}, {68000, 1, Linear},
                                {71000, 1, Linear}, {74000, 0, Linear}, {76000, 1, Linear}, {79000, 1, Linear},
                                {82000, 0, Linear}};

D3DXMATRIX& asX(D3DMATRIX& m) { return static_cast<D3DXMATRIX&>(m); }

}  // namespace

PlupoScene::PlupoScene() {
    plupoTexture = static_cast<IDirect3DTexture9*>(getResource("plupo.jpg"));
    backTexture = static_cast<IDirect3DTexture9*>(getResource("plupoback.jpg"));
    plupoMesh = static_cast<ID3DXMesh*>(getResource("plupo.x"));
    plupoMesh->CloneMeshFVF(D3DXMESH_MANAGED, plupoMesh->GetFVF(), device, &plupoWork);
    infoTextures[0] = static_cast<IDirect3DTexture9*>(getResource("info-1.png"));
    infoTextures[1] = static_cast<IDirect3DTexture9*>(getResource("info-2.png"));
    infoTextures[2] = static_cast<IDirect3DTexture9*>(getResource("info-3.png"));
    infoTextures[3] = static_cast<IDirect3DTexture9*>(getResource("info-4.png"));

    swirlWeights = computeRadialWeights(plupoMesh);

    D3DXMatrixPerspectiveFovLH(&asX(projection), 1.0471976f, float(screenWidth) / float(screenHeight), 1.0f,
                               100000.0f);
    D3DXVECTOR3 eye(0, 0, -30), at(0, 0, 0), up(0, 1, 0);
    D3DXMatrixLookAtLH(&asX(view), &eye, &at, &up);
    world = D3DXMATRIX();
    const D3DCOLORVALUE white{1, 1, 1, 1}, opaqueBlack{0, 0, 0, 1}, grey{0.7f, 0.7f, 0.7f, 1};
    initMaterial(&plupoMaterial, &white, &white, &white, &opaqueBlack, 8);
    plupoMaterial.Power = 16;
    const D3DVECTOR lightPosition{-10, 15, -30};
    initPointLight(&light, &grey, &lightPosition, 1000);

    addKeys(swirl, swirlKeys);
    addKeys(pitch, pitchKeys);
    addKeys(flash, flashKeys);
    addKeys(infoAlpha, infoAlphaKeys);
}

PlupoScene::~PlupoScene() {
    if (plupoWork) plupoWork->Release();
    delete[] swirlWeights;
}

void PlupoScene::swirlMesh(ID3DXMesh* source, ID3DXMesh* target, float amount) {
    BYTE* from = nullptr;
    BYTE* to = nullptr;
    source->LockVertexBuffer(D3DLOCK_READONLY, reinterpret_cast<void**>(&from));
    target->LockVertexBuffer(0, reinterpret_cast<void**>(&to));
    const DWORD fromStride = source->GetNumBytesPerVertex();
    const DWORD toStride = target->GetNumBytesPerVertex();
    const DWORD count = source->GetNumVertices();
    if (from && to) {
        for (DWORD i = 0; i < count; ++i) {
            float p[3];
            std::memcpy(p, from + size_t(i) * fromStride, sizeof p);
            if (amount != 0.0f) {
                const float a = amount * (swirlWeights ? swirlWeights[i] : 0.0f);
                // A vertex on the axis has no finite weight; it stays where it is rather than
                // turning into NaN.
                if (std::isfinite(a)) {
                    const float c = std::cos(a), s = std::sin(a);
                    const float x = p[0], y = p[1];
                    p[0] = c * x - s * y;
                    p[1] = s * x + c * y;
                }
            }
            std::memcpy(to + size_t(i) * toStride, p, sizeof p);
        }
    }
    source->UnlockVertexBuffer();
    target->UnlockVertexBuffer();
}

void PlupoScene::prepare() {
    prepared = true;
    device->SetTransform(D3DTS_PROJECTION, &projection);
    device->SetTransform(D3DTS_VIEW, &view);
    device->SetLight(0, &light);
    device->SetRenderState(D3DRS_AMBIENT, 0xFF0A0A0A);
    device->LightEnable(0, TRUE);
    device->SetRenderState(D3DRS_SPECULARENABLE, TRUE);
    device->SetRenderState(D3DRS_ZENABLE, TRUE);
}

void PlupoScene::render(DWORD timeMs) {
    if (timeMs < sceneStart || timeMs >= sceneEnd) {
        prepared = false;
        return;
    }
    if (!prepared) prepare();
    const float f = float(timeMs);

    device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER | D3DCLEAR_STENCIL, 0x00000000, 1.0f, 0);

    const D3DCOLORVALUE black{0, 0, 0, 1};
    barQuad.draw(&black, 0, 0, 0, 640, 64);
    barQuad.draw(&black, 0, 0, 416, 640, 64);

    swirlMesh(plupoMesh, plupoWork, swirl.evaluate(f) * 0.06f);
    D3DXComputeNormals(plupoWork, nullptr);

    // Spin about z first, then the tilt about x.
    D3DXMATRIX spin, tilt;
    D3DXMatrixRotationYawPitchRoll(&spin, 0, 0, f * 0.0005f);
    D3DXMatrixRotationYawPitchRoll(&tilt, 0, pitch.evaluate(f), 0);
    D3DXMatrixMultiply(&asX(world), &spin, &tilt);
    device->SetTransform(D3DTS_WORLD, &world);

    device->SetTexture(0, plupoTexture);
    device->SetMaterial(&plupoMaterial);
    plupoWork->DrawSubset(0);

    // At the far depth the background fills only what the mesh and the bars left empty.
    device->SetTexture(0, backTexture);
    const D3DCOLORVALUE white{1, 1, 1, 1};
    pictureQuad.draw(&white, 1.0f, -0.5f, -0.5f, float(screenWidth), float(screenHeight));

    const int section = timeMs < 58000 ? 0 : timeMs < 66000 ? 1 : timeMs < 74000 ? 2 : 3;
    device->SetTexture(0, infoTextures[section]);
    const D3DCOLORVALUE panel{1, 1, 1, infoAlpha.evaluate(f)};
    pictureQuad.draw(&panel, 0.1f, 390, 64, 256, 128);

    const float c = timeMs < 80000 ? 1.0f : 0.0f;
    const D3DCOLORVALUE cover{c, c, c, flash.evaluate(f)};
    barQuad.draw(&cover, 0, -0.5f, -0.5f, float(screenWidth), float(screenHeight));
}
