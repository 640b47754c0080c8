// Loading the show's data and recomputing normals of a 10 000-vertex mesh.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cmath>
#include <cstring>
#include <string>

#include "gfx/d3d9/d3d9.h"
#include "gfx/d3dx/d3dx9.h"
#include "tests/support/headless_device.h"

namespace {

void ComputeNormals10000(benchmark::State& state) {
    HeadlessDevice d;
    const int side = 100;  // 10 000 vertices
    ID3DXMesh* mesh = nullptr;
    D3DXCreateMeshFVF((side - 1) * (side - 1) * 2, side * side, D3DXMESH_MANAGED, D3DFVF_XYZ | D3DFVF_NORMAL, d.device, &mesh);
    float* v = nullptr;
    mesh->LockVertexBuffer(0, reinterpret_cast<void**>(&v));
    for (int i = 0; i < side * side; ++i) {
        v[i * 6] = float(i % side);
        v[i * 6 + 1] = float(i / side);
        v[i * 6 + 2] = std::sin(i * 0.1f);
    }
    mesh->UnlockVertexBuffer();
    uint16_t* idx = nullptr;
    mesh->LockIndexBuffer(0, reinterpret_cast<void**>(&idx));
    for (int y = 0; y < side - 1; ++y)
        for (int x = 0; x < side - 1; ++x) {
            uint16_t a = uint16_t(y * side + x), b = uint16_t(a + side);
            const uint16_t tri[6] = {a, b, uint16_t(a + 1), uint16_t(a + 1), b, uint16_t(b + 1)};
            std::memcpy(idx, tri, sizeof tri);
            idx += 6;
        }
    mesh->UnlockIndexBuffer();
    for (auto _ : state) D3DXComputeNormals(mesh, nullptr);
    mesh->Release();
}
BENCHMARK(ComputeNormals10000)->Unit(benchmark::kMicrosecond);

void LoadEveryShowFile(benchmark::State& state) {
    HeadlessDevice d;
    const std::string data = std::string(SHOW_DATA_DIR) + "/";
    const char* meshes[] = {"planarbox41.x", "kaldobox.x", "grid.x", "biogen.x", "plupo.x", "flipcube.x", "bluetooth.x"};
    const char* pictures[] = {"text-tovira.png", "text-kaldra.png", "text-presents.png", "text-invitation.png",
                              "kaldobrown.jpg", "kaldoback.jpg", "flareblue.jpg", "bioplasma.jpg", "bioplasmaenv.jpg",
                              "text-party.png", "text-company.png", "text-friends.png", "text-harmony.png", "plupo.jpg",
                              "plupoback.jpg", "info-1.png", "info-2.png", "info-3.png", "info-4.png", "corrosea.jpg",
                              "corrosky.jpg", "creditz.png", "flipcube.jpg", "bluetooth.jpg", "bluetoothenv.jpg",
                              "greetz.png", "greetzover.png", "seeya.jpg"};
    for (auto _ : state) {
        for (const char* name : meshes) {
            ID3DXMesh* mesh = nullptr;
            if (SUCCEEDED(D3DXLoadMeshFromXA((data + name).c_str(), D3DXMESH_MANAGED, d.device, nullptr, nullptr, nullptr,
                                             nullptr, &mesh)))
                mesh->Release();
        }
        for (const char* name : pictures) {
            IDirect3DTexture9* texture = nullptr;
            if (SUCCEEDED(D3DXCreateTextureFromFileExA(d.device, (data + name).c_str(), 0, 0, 0, 0, D3DFMT_UNKNOWN,
                                                       D3DPOOL_MANAGED, D3DX_DEFAULT, D3DX_DEFAULT, 0, nullptr, nullptr,
                                                       &texture)))
                texture->Release();
        }
    }
}
BENCHMARK(LoadEveryShowFile)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
