#include "scenes/corrosion_scene.h"

#include <cmath>
#include <cstring>

#include "anim/noise.h"
#include "engine/demo_engine.h"
#include "engine/resources.h"
#include "scenes/key_table.h"

namespace {

constexpr DWORD sceneStart = 82000;
constexpr DWORD sceneEnd = 98000;

// time ms, value, mode
const KeyRow fadeKeys[] = {{82000, 1, Linear}, {84000, 0, Linear}, {97500, 0, Linear}, {98000, 1, Linear}};

const KeyRow scrollXKeys[] = {{82000, 16, Linear}, {98000, -16, Linear}};

D3DXMATRIX& asX(D3DMATRIX& m) { return static_cast<D3DXMATRIX&>(m); }

}  // namespace

CorrosionScene::CorrosionScene() {
    seaTexture = static_cast<IDirect3DTexture9*>(getResource("corrosea.jpg"));
    skyTexture = static_cast<IDirect3DTexture9*>(getResource("corrosky.jpg"));
    creditsTexture = static_cast<IDirect3DTexture9*>(getResource("creditz.png"));
    gridMesh = static_cast<ID3DXMesh*>(getResource("grid.x"));
    gridMesh->CloneMeshFVF(D3DXMESH_MANAGED, gridMesh->GetFVF(), device, &gridWork);

    const D3DCOLORVALUE white{1, 1, 1, 1}, opaqueBlack{0, 0, 0, 1};
    initMaterial(&seaMaterial, &white, &white, &white, &opaqueBlack, 8);
    initMaterial(&skyMaterial, &white, &white, &white, &opaqueBlack, 8);
    initMaterial(&creditsMaterial, &white, &white, &white, &opaqueBlack, 8);
    seaMaterial.Power = 32;
    creditsMaterial.Diffuse.a = 0.75f;
    const D3DVECTOR lightPosition{0, 0, -10};
    initPointLight(&light, &white, &lightPosition, 1000);

    D3DXMatrixPerspectiveFovLH(&asX(projection), 1.0471976f, float(screenWidth) / float(screenHeight), 1.0f,
                               100000.0f);
    D3DXVECTOR3 eye(0, 0, -10), at(0, 0, 0), up(0, 1, 0);
    D3DXMatrixLookAtLH(&asX(view), &eye, &at, &up);
    world = D3DXMATRIX();
    texScale = D3DXMATRIX();

    addKeys(fade, fadeKeys);
    addKeys(scrollX, scrollXKeys);
}

CorrosionScene::~CorrosionScene() {
    if (gridWork) gridWork->Release();
}

void CorrosionScene::waveMeshY(ID3DXMesh* source, ID3DXMesh* target, float frequency, float phase, float amplitude) {
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
            if (amplitude != 0.0f) p[1] += amplitude * std::sin(frequency * p[0] + phase);
            std::memcpy(to + size_t(i) * toStride, p, sizeof p);
        }
    }
    source->UnlockVertexBuffer();
    target->UnlockVertexBuffer();
}

void CorrosionScene::prepare() {
    prepared = true;
    device->SetTransform(D3DTS_PROJECTION, &projection);
    device->SetTransform(D3DTS_VIEW, &view);
    device->SetRenderState(D3DRS_LIGHTING, TRUE);
    device->SetRenderState(D3DRS_SPECULARENABLE, TRUE);
    device->SetRenderState(D3DRS_AMBIENT, 0);
    device->LightEnable(0, TRUE);
    device->SetLight(0, &light);
}

void CorrosionScene::render(DWORD timeMs) {
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

    // The sea: circles rippling out from the grid's centre, tilted away below the eye.
    const float p = f * 0.002f;
    rippleMeshZ(gridMesh, gridWork, 4.0f, p, 0.25f);
    D3DXComputeNormals(gridWork, nullptr);
    D3DXMATRIX scaling, rotation, translation;
    D3DXMatrixScaling(&scaling, 2, 2, 1);
    D3DXMatrixRotationYawPitchRoll(&rotation, 0, 1.3089969f, 0);
    D3DXMatrixMultiply(&asX(world), &scaling, &rotation);
    device->SetTransform(D3DTS_WORLD, &world);
    D3DXMatrixIdentity(&asX(texScale));
    device->SetTransform(D3DTS_TEXTURE0, &texScale);
    device->SetTextureStageState(0, D3DTSS_TEXTURETRANSFORMFLAGS, D3DTTFF_COUNT2);
    device->SetTexture(0, seaTexture);
    device->SetMaterial(&seaMaterial);
    gridWork->DrawSubset(0);

    // The sky: the untouched grid above, its picture turning slowly.
    D3DXMatrixRotationYawPitchRoll(&rotation, 0, -1.3089969f, 0);
    D3DXMatrixMultiply(&asX(world), &scaling, &rotation);
    device->SetTransform(D3DTS_WORLD, &world);
    D3DXMatrixRotationYawPitchRoll(&asX(texScale), 0, 0, f * 0.00003f);
    device->SetTransform(D3DTS_TEXTURE0, &texScale);
    device->SetTextureStageState(0, D3DTSS_TEXTURETRANSFORMFLAGS, D3DTTFF_COUNT2);
    device->SetTextureStageState(0, D3DTSS_TEXCOORDINDEX, 0);
    device->SetTexture(0, skyTexture);
    device->SetMaterial(&skyMaterial);
    gridMesh->DrawSubset(0);

    // The credits, over everything including the bars; lit white by the full ambient.
    D3DXMatrixIdentity(&asX(texScale));
    device->SetTransform(D3DTS_TEXTURE0, &texScale);
    device->SetTexture(0, creditsTexture);
    device->SetMaterial(&creditsMaterial);
    D3DXMATRIX stretch, shrink;
    D3DXMatrixScaling(&stretch, 8, 1, 1);
    D3DXMatrixScaling(&shrink, 0.25f, 0.25f, 1);
    D3DXMatrixTranslation(&translation, scrollX.evaluate(f), 0, -2);
    D3DXMatrixMultiply(&asX(world), &stretch, &shrink);
    D3DXMatrixMultiply(&asX(world), &asX(world), &translation);
    device->SetTransform(D3DTS_WORLD, &world);
    device->SetRenderState(D3DRS_ZENABLE, FALSE);
    device->SetRenderState(D3DRS_SPECULARENABLE, FALSE);
    device->SetRenderState(D3DRS_AMBIENT, 0xFFFFFFFF);
    waveMeshY(gridMesh, gridWork, 4.0f, f * 0.005f, 1.0f);
    deformMesh(gridWork, gridWork, 2.0f, p, 0.5f, 0.5f, 0.0f);
    gridWork->DrawSubset(0);
    device->SetRenderState(D3DRS_ZENABLE, TRUE);
    device->SetRenderState(D3DRS_SPECULARENABLE, TRUE);
    device->SetRenderState(D3DRS_AMBIENT, 0);

    const float c = timeMs < 86000 ? 0.0f : 1.0f;
    const D3DCOLORVALUE cover{c, c, c, fade.evaluate(f)};
    barQuad.draw(&cover, 0, -0.5f, -0.5f, float(screenWidth), float(screenHeight));
}
