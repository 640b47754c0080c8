// The generated files load through the project's own loaders on a device without a window, the way
// the show loads them ("data\" + name from the show folder), and carry what their scenes need.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "gfx/d3dx/d3dx9.h"

namespace {

class AssetLoad : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_NE(getcwd(previousDir, sizeof previousDir), nullptr);
        ASSERT_EQ(chdir(SHOW_DIR), 0);
        direct3d = Direct3DCreate9(D3D_SDK_VERSION);
        ASSERT_NE(direct3d, nullptr);
        D3DPRESENT_PARAMETERS params{};
        params.BackBufferWidth = 640;
        params.BackBufferHeight = 480;
        params.BackBufferFormat = D3DFMT_A8R8G8B8;
        params.BackBufferCount = 1;
        params.SwapEffect = D3DSWAPEFFECT_DISCARD;
        params.Windowed = TRUE;
        params.EnableAutoDepthStencil = TRUE;
        params.AutoDepthStencilFormat = D3DFMT_D24S8;
        ASSERT_EQ(direct3d->CreateDevice(D3DADAPTER_DEFAULT, D3DDEVTYPE_HAL, nullptr,
                                         D3DCREATE_SOFTWARE_VERTEXPROCESSING, &params, &device),
                  D3D_OK);
    }
    void TearDown() override {
        if (device) device->Release();
        if (direct3d) direct3d->Release();
        if (chdir(previousDir) != 0) ADD_FAILURE() << "cannot return to " << previousDir;
    }

    HRESULT loadMesh(const std::string& name, ID3DXMesh** mesh) {
        return D3DXLoadMeshFromXA(("data\\" + name).c_str(), D3DXMESH_MANAGED, device, nullptr, nullptr,
                                  nullptr, nullptr, mesh);
    }
    HRESULT loadTexture(const std::string& name, UINT mipLevels, IDirect3DTexture9** texture) {
        return D3DXCreateTextureFromFileExA(device, ("data\\" + name).c_str(), 0, 0, mipLevels, 0,
                                            D3DFMT_UNKNOWN, D3DPOOL_MANAGED, D3DX_DEFAULT, D3DX_DEFAULT, 0,
                                            nullptr, nullptr, texture);
    }

    char previousDir[4096] = {};
    IDirect3D9* direct3d = nullptr;
    IDirect3DDevice9* device = nullptr;
};

struct MeshNeed {
    const char* file;
    bool textured;  // drawn with its own texture coordinates
    DWORD minVertices, maxVertices;
};

const MeshNeed meshNeeds[] = {{"planarbox41.x", true, 4, 2000}, {"kaldobox.x", false, 1000, 20000},
                              {"grid.x", true, 6400, 10000},    {"biogen.x", false, 2000, 6000},
                              {"plupo.x", true, 500, 20000},    {"flipcube.x", false, 500, 20000},
                              {"bluetooth.x", true, 500, 30000}};

TEST_F(AssetLoad, EveryMeshLoadsWithPositionsNormalsAndItsCoordinatesUnderMaterialZero) {
    for (const MeshNeed& need : meshNeeds) {
        ID3DXMesh* mesh = nullptr;
        HRESULT hr = loadMesh(need.file, &mesh);
        ASSERT_EQ(hr, D3D_OK) << need.file;
        ASSERT_NE(mesh, nullptr) << need.file;
        DWORD fvf = mesh->GetFVF();
        EXPECT_EQ(fvf & (D3DFVF_XYZ | D3DFVF_NORMAL), D3DFVF_XYZ | D3DFVF_NORMAL) << need.file;
        if (need.textured) {
            EXPECT_TRUE(fvf & D3DFVF_TEX1) << need.file;
        }
        EXPECT_GE(mesh->GetNumVertices(), need.minVertices) << need.file;
        EXPECT_LE(mesh->GetNumVertices(), need.maxVertices) << need.file;
        EXPECT_GT(mesh->GetNumFaces(), 0u) << need.file;
        DWORD* attributes = nullptr;
        if (mesh->LockAttributeBuffer(D3DLOCK_READONLY, &attributes) == D3D_OK && attributes) {
            DWORD notZero = 0;
            for (DWORD f = 0; f < mesh->GetNumFaces(); ++f) notZero += attributes[f] != 0;
            EXPECT_EQ(notZero, 0u) << need.file << ": the scenes draw subset 0 only";
            mesh->UnlockAttributeBuffer();
        }
        mesh->Release();
    }
}

TEST_F(AssetLoad, LoadedPlupoKeepsOffTheSwirlAxisAndBiogenHasItsNormalAfterThePosition) {
    ID3DXMesh* plupo = nullptr;
    HRESULT hr = loadMesh("plupo.x", &plupo);
    ASSERT_EQ(hr, D3D_OK);
    void* data = nullptr;
    ASSERT_EQ(plupo->LockVertexBuffer(D3DLOCK_READONLY, &data), D3D_OK);
    DWORD stride = plupo->GetNumBytesPerVertex();
    float nearest = 1e9f;
    for (DWORD i = 0; i < plupo->GetNumVertices(); ++i) {
        const float* p = reinterpret_cast<const float*>(static_cast<const char*>(data) + size_t(i) * stride);
        nearest = std::min(nearest, std::sqrt(p[0] * p[0] + p[1] * p[1]));
    }
    plupo->UnlockVertexBuffer();
    plupo->Release();
    EXPECT_GT(nearest, 1.0f);

    ID3DXMesh* biogen = nullptr;
    ASSERT_EQ(loadMesh("biogen.x", &biogen), D3D_OK);
    ASSERT_EQ(biogen->LockVertexBuffer(D3DLOCK_READONLY, &data), D3D_OK);
    stride = biogen->GetNumBytesPerVertex();
    for (DWORD i = 0; i < biogen->GetNumVertices(); ++i) {
        const float* v = reinterpret_cast<const float*>(static_cast<const char*>(data) + size_t(i) * stride);
        float length = std::sqrt(v[3] * v[3] + v[4] * v[4] + v[5] * v[5]);
        ASSERT_NEAR(length, 1.0f, 1e-3f) << "vertex " << i << ": a unit normal right after the position";
    }
    biogen->UnlockVertexBuffer();
    biogen->Release();
}

struct TextureNeed {
    const char* file;
    UINT mipLevels;  // as the show loads it
    UINT width, height;
};

const TextureNeed textureNeeds[] = {{"text-tovira.png", 0, 512, 128},   {"text-kaldra.png", 0, 512, 128},
                                    {"text-presents.png", 0, 512, 128}, {"text-invitation.png", 0, 512, 128},
                                    {"kaldobrown.jpg", 0, 512, 512},    {"kaldoback.jpg", 1, 1024, 512},
                                    {"flareblue.jpg", 0, 64, 64},       {"bioplasma.jpg", 0, 512, 512},
                                    {"bioplasmaenv.jpg", 0, 256, 256},  {"text-party.png", 0, 512, 128},
                                    {"text-company.png", 0, 512, 128},  {"text-friends.png", 0, 512, 128},
                                    {"text-harmony.png", 0, 512, 128},  {"plupo.jpg", 0, 512, 512},
                                    {"plupoback.jpg", 0, 1024, 512},    {"info-1.png", 0, 256, 128},
                                    {"info-2.png", 0, 256, 128},        {"info-3.png", 0, 256, 128},
                                    {"info-4.png", 0, 256, 128},        {"corrosea.jpg", 0, 512, 512},
                                    {"corrosky.jpg", 0, 512, 512},      {"creditz.png", 0, 1024, 128},
                                    {"flipcube.jpg", 0, 256, 256},      {"bluetooth.jpg", 0, 256, 256},
                                    {"bluetoothenv.jpg", 0, 256, 256},  {"greetz.png", 0, 256, 2048},
                                    {"greetzover.png", 0, 256, 2048},   {"seeya.jpg", 1, 1024, 512}};

UINT fullChain(UINT w, UINT h) {
    UINT levels = 1;
    while (w > 1 || h > 1) w = w > 1 ? w / 2 : 1, h = h > 1 ? h / 2 : 1, ++levels;
    return levels;
}

TEST_F(AssetLoad, EveryPictureLoadsTexelForTexelWithAlphaWhereItIsAPng) {
    for (const TextureNeed& need : textureNeeds) {
        IDirect3DTexture9* texture = nullptr;
        HRESULT hr = loadTexture(need.file, need.mipLevels, &texture);
        ASSERT_EQ(hr, D3D_OK) << need.file;
        D3DSURFACE_DESC desc{};
        ASSERT_EQ(texture->GetLevelDesc(0, &desc), D3D_OK) << need.file;
        EXPECT_EQ(desc.Width, need.width) << need.file << ": not scaled on loading";
        EXPECT_EQ(desc.Height, need.height) << need.file;
        EXPECT_EQ(texture->GetLevelCount(), need.mipLevels == 1 ? 1u : fullChain(need.width, need.height))
            << need.file;
        bool png = std::strstr(need.file, ".png") != nullptr;
        if (png) {
            EXPECT_EQ(desc.Format, D3DFMT_A8R8G8B8) << need.file;
        }
        if (desc.Format == D3DFMT_A8R8G8B8) {  // pictures are opaque, overlays keep their alpha
            D3DLOCKED_RECT locked{};
            ASSERT_EQ(texture->LockRect(0, &locked, nullptr, D3DLOCK_READONLY), D3D_OK) << need.file;
            size_t clear = 0, solid = 0;
            for (UINT y = 0; y < desc.Height; ++y) {
                const uint32_t* row = reinterpret_cast<const uint32_t*>(
                    static_cast<const char*>(locked.pBits) + size_t(y) * locked.Pitch);
                for (UINT x = 0; x < desc.Width; ++x) {
                    clear += (row[x] >> 24) == 0;
                    solid += (row[x] >> 24) >= 250;
                }
            }
            texture->UnlockRect(0);
            if (png) {
                EXPECT_GT(clear, 0u) << need.file << ": the alpha channel was not kept";
                EXPECT_GT(solid, 0u) << need.file;
            } else {
                EXPECT_EQ(solid, size_t(desc.Width) * desc.Height) << need.file << ": a JPEG is opaque";
            }
        }
        texture->Release();
    }
}

}  // namespace
