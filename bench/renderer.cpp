// The software device on the kinds of draw the show makes most: full-screen blended quads, a lit
// textured mesh of a few thousand triangles, and point sprites.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "gfx/d3d9/d3d9.h"
#include "gfx/d3dx/d3dx9.h"
#include "gfx/raster/raster.h"
#include "tests/support/headless_device.h"

namespace {

struct Fixture {
    Fixture() {
        device->CreateTexture(256, 256, 0, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &texture, nullptr);
        for (DWORD level = 0; level < texture->GetLevelCount(); ++level) {
            D3DLOCKED_RECT r;
            D3DSURFACE_DESC d;
            texture->GetLevelDesc(level, &d);
            texture->LockRect(level, &r, nullptr, 0);
            for (UINT y = 0; y < d.Height; ++y)
                for (UINT x = 0; x < d.Width; ++x)
                    static_cast<uint32_t*>(r.pBits)[y * d.Width + x] = 0xFF000000u | ((x * 7) & 0xFF) << 16 | ((y * 5) & 0xFF) << 8;
            texture->UnlockRect(level);
        }
        for (DWORD s = 0; s < 2; ++s) {
            device->SetSamplerState(s, D3DSAMP_MAGFILTER, D3DTEXF_LINEAR);
            device->SetSamplerState(s, D3DSAMP_MINFILTER, D3DTEXF_LINEAR);
            device->SetSamplerState(s, D3DSAMP_MIPFILTER, D3DTEXF_LINEAR);
        }
        device->SetRenderState(D3DRS_ALPHABLENDENABLE, TRUE);
        device->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_SRCALPHA);
        device->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_INVSRCALPHA);
        device->SetRenderState(D3DRS_ALPHATESTENABLE, TRUE);
        device->SetRenderState(D3DRS_ALPHAFUNC, D3DCMP_GREATER);
        device->SetTextureStageState(0, D3DTSS_COLORARG2, D3DTA_DIFFUSE);
        device->SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_MODULATE);
        device->SetTextureStageState(0, D3DTSS_ALPHAARG2, D3DTA_DIFFUSE);
    }
    ~Fixture() { texture->Release(); }
    HeadlessDevice headless{640, 480};
    IDirect3DDevice9* device = headless.device;
    IDirect3DTexture9* texture = nullptr;
};

struct TexturedVertex {
    float x, y, z, rhw;
    D3DCOLOR color;
    float u, v;
};

void FullScreenTexturedBlendedQuad(benchmark::State& state) {
    raster::setWorkerThreads(int(state.range(0)));
    Fixture f;
    f.device->SetRenderState(D3DRS_LIGHTING, FALSE);
    f.device->SetRenderState(D3DRS_ZENABLE, FALSE);
    f.device->SetTexture(0, f.texture);
    f.device->SetFVF(D3DFVF_XYZRHW | D3DFVF_DIFFUSE | D3DFVF_TEX1);
    const TexturedVertex quad[4] = {{-0.5f, 479.5f, 0.5f, 1, 0x80FFFFFF, 0, 1},
                                    {-0.5f, -0.5f, 0.5f, 1, 0x80FFFFFF, 0, 0},
                                    {639.5f, 479.5f, 0.5f, 1, 0x80FFFFFF, 1, 1},
                                    {639.5f, -0.5f, 0.5f, 1, 0x80FFFFFF, 1, 0}};
    for (auto _ : state) f.device->DrawPrimitiveUP(D3DPT_TRIANGLESTRIP, 2, quad, sizeof(TexturedVertex));
    state.SetItemsProcessed(state.iterations() * 640 * 480);
}
BENCHMARK(FullScreenTexturedBlendedQuad)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond);

void LitTexturedSphere(benchmark::State& state) {
    raster::setWorkerThreads(int(state.range(0)));
    Fixture f;
    ID3DXMesh* mesh = nullptr;
    const int rings = 50, segments = 50;  // 2 500 vertices, 4 900 triangles
    D3DXCreateMeshFVF((rings - 1) * (segments - 1) * 2, rings * segments, D3DXMESH_MANAGED,
                      D3DFVF_XYZ | D3DFVF_NORMAL | D3DFVF_TEX1, f.device, &mesh);
    float* v = nullptr;
    mesh->LockVertexBuffer(0, reinterpret_cast<void**>(&v));
    for (int r = 0; r < rings; ++r)
        for (int s = 0; s < segments; ++s) {
            float th = D3DX_PI * r / (rings - 1), ph = 2 * D3DX_PI * s / (segments - 1);
            float n[3] = {std::sin(th) * std::cos(ph), std::cos(th), std::sin(th) * std::sin(ph)};
            float* p = v + (r * segments + s) * 8;
            p[0] = 4 * n[0];
            p[1] = 4 * n[1];
            p[2] = 4 * n[2];
            std::memcpy(p + 3, n, 12);
            p[6] = float(s) / segments;
            p[7] = float(r) / rings;
        }
    mesh->UnlockVertexBuffer();
    uint16_t* idx = nullptr;
    mesh->LockIndexBuffer(0, reinterpret_cast<void**>(&idx));
    for (int r = 0; r < rings - 1; ++r)
        for (int s = 0; s < segments - 1; ++s) {
            uint16_t a = uint16_t(r * segments + s), b = uint16_t(a + segments);
            const uint16_t tri[6] = {a, uint16_t(a + 1), b, uint16_t(a + 1), uint16_t(b + 1), b};
            std::memcpy(idx, tri, sizeof tri);
            idx += 6;
        }
    mesh->UnlockIndexBuffer();
    D3DXMATRIX projection, view;
    D3DXVECTOR3 eye(0, 0, -10), at(0, 0, 0), up(0, 1, 0);
    D3DXMatrixPerspectiveFovLH(&projection, D3DX_PI / 3, 4.0f / 3.0f, 1, 100000);
    D3DXMatrixLookAtLH(&view, &eye, &at, &up);
    f.device->SetTransform(D3DTS_PROJECTION, &projection);
    f.device->SetTransform(D3DTS_VIEW, &view);
    D3DMATERIAL9 m{};
    m.Diffuse = m.Ambient = m.Specular = {1, 1, 1, 1};
    m.Power = 16;
    f.device->SetMaterial(&m);
    D3DLIGHT9 l{};
    l.Type = D3DLIGHT_POINT;
    l.Diffuse = l.Specular = {1, 1, 1, 1};
    l.Position = {-10, 5, -10};
    l.Range = 1000;
    l.Attenuation0 = 1;
    f.device->SetLight(0, &l);
    f.device->LightEnable(0, TRUE);
    f.device->SetRenderState(D3DRS_SPECULARENABLE, TRUE);
    f.device->SetTexture(0, f.texture);
    for (auto _ : state) {
        f.device->Clear(0, nullptr, D3DCLEAR_ZBUFFER, 0, 1.0f, 0);
        mesh->DrawSubset(0);
    }
    mesh->Release();
}
BENCHMARK(LitTexturedSphere)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond);

void PointSprites(benchmark::State& state) {
    raster::setWorkerThreads(1);
    Fixture f;
    struct Point {
        float x, y, z;
    };
    std::vector<Point> points;
    for (int i = 0; i < 3000; ++i)
        points.push_back({std::sin(i * 0.37f) * 5, std::cos(i * 0.11f) * 4, std::sin(i * 0.05f) * 3});
    D3DXMATRIX projection, view;
    D3DXVECTOR3 eye(0, 0, -10), at(0, 0, 0), up(0, 1, 0);
    D3DXMatrixPerspectiveFovLH(&projection, D3DX_PI / 3, 4.0f / 3.0f, 1, 100000);
    D3DXMatrixLookAtLH(&view, &eye, &at, &up);
    f.device->SetTransform(D3DTS_PROJECTION, &projection);
    f.device->SetTransform(D3DTS_VIEW, &view);
    D3DVIEWPORT9 small{0, 0, 160, 120, 0, 1};
    f.device->SetViewport(&small);
    f.device->SetRenderState(D3DRS_LIGHTING, FALSE);
    f.device->SetRenderState(D3DRS_POINTSPRITEENABLE, TRUE);
    f.device->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_ONE);
    float size = 8;
    DWORD bits;
    std::memcpy(&bits, &size, 4);
    f.device->SetRenderState(D3DRS_POINTSIZE, bits);
    f.device->SetTexture(0, f.texture);
    f.device->SetFVF(D3DFVF_XYZ);
    for (auto _ : state) f.device->DrawPrimitiveUP(D3DPT_POINTLIST, UINT(points.size()), points.data(), sizeof(Point));
}
BENCHMARK(PointSprites)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
