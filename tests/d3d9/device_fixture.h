// A headless device on a small back buffer, with helpers to draw pre-transformed and transformed
// geometry and read pixels back.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "gfx/d3d9/d3d9.h"
#include "gfx/d3d9/d3d9debug.h"

struct ScreenVertex {
    float x, y, z, rhw;
    D3DCOLOR color;
};
struct TexturedScreenVertex {
    float x, y, z, rhw;
    D3DCOLOR color;
    float u, v;
};
struct MeshVertex {
    float x, y, z;
    float nx, ny, nz;
};
constexpr DWORD screenFvf = D3DFVF_XYZRHW | D3DFVF_DIFFUSE;
constexpr DWORD texturedScreenFvf = D3DFVF_XYZRHW | D3DFVF_DIFFUSE | D3DFVF_TEX1;
constexpr DWORD meshFvf = D3DFVF_XYZ | D3DFVF_NORMAL;

class DeviceTest : public ::testing::Test {
protected:
    void SetUp() override { create(16, 16); }
    void TearDown() override {
        release();
        EXPECT_EQ(d3d9debug::liveObjectCount(), 0) << "objects left alive";
        d3d9debug::setFailures({});
    }
    void create(UINT width, UINT height) {
        d3d = Direct3DCreate9(31);
        ASSERT_NE(d3d, nullptr);
        D3DPRESENT_PARAMETERS params{};
        params.BackBufferWidth = width;
        params.BackBufferHeight = height;
        params.BackBufferFormat = D3DFMT_A8R8G8B8;
        params.BackBufferCount = 1;
        params.SwapEffect = D3DSWAPEFFECT_DISCARD;
        params.Windowed = TRUE;
        params.EnableAutoDepthStencil = TRUE;
        params.AutoDepthStencilFormat = D3DFMT_D24S8;
        params.PresentationInterval = D3DPRESENT_INTERVAL_IMMEDIATE;
        ASSERT_EQ(d3d->CreateDevice(0, D3DDEVTYPE_HAL, nullptr, D3DCREATE_HARDWARE_VERTEXPROCESSING, &params, &device),
                  D3D_OK);
    }
    void release() {
        if (device) device->Release();
        if (d3d) d3d->Release();
        device = nullptr;
        d3d = nullptr;
    }
    std::vector<uint32_t> pixels() {
        std::vector<uint32_t> out;
        UINT w, h;
        d3d9debug::readBackBuffer(device, out, w, h);
        width = w;
        return out;
    }
    uint32_t pixel(int x, int y) { return pixels()[size_t(y) * width + size_t(x)]; }
    int countPixels(uint32_t color) {
        int n = 0;
        for (uint32_t p : pixels()) n += p == color;
        return n;
    }
    std::vector<uint32_t> depthWords() {
        IDirect3DSurface9* depth = nullptr;
        device->GetDepthStencilSurface(&depth);
        std::vector<uint32_t> out;
        UINT w, h;
        d3d9debug::readSurface(depth, out, w, h);
        depth->Release();
        return out;
    }
    void drawScreen(D3DPRIMITIVETYPE type, const std::vector<ScreenVertex>& v, UINT count) {
        device->SetFVF(screenFvf);
        device->DrawPrimitiveUP(type, count, v.data(), sizeof(ScreenVertex));
    }
    // A pixel-aligned rectangle covering [x0, x1) x [y0, y1).
    void fillRect(float x0, float y0, float x1, float y1, D3DCOLOR color, float z = 0.5f) {
        std::vector<ScreenVertex> v = {{x0 - 0.5f, y1 - 0.5f, z, 1, color},
                                       {x0 - 0.5f, y0 - 0.5f, z, 1, color},
                                       {x1 - 0.5f, y1 - 0.5f, z, 1, color},
                                       {x1 - 0.5f, y0 - 0.5f, z, 1, color}};
        drawScreen(D3DPT_TRIANGLESTRIP, v, 2);
    }
    IDirect3DTexture9* makeTexture(UINT w, UINT h, const std::vector<uint32_t>& texels, UINT levels = 1) {
        IDirect3DTexture9* texture = nullptr;
        EXPECT_EQ(device->CreateTexture(w, h, levels, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &texture, nullptr), D3D_OK);
        D3DLOCKED_RECT locked;
        texture->LockRect(0, &locked, nullptr, 0);
        for (UINT y = 0; y < h; ++y)
            std::memcpy(static_cast<char*>(locked.pBits) + y * UINT(locked.Pitch), texels.data() + y * w, w * 4);
        texture->UnlockRect(0);
        return texture;
    }

    IDirect3D9* d3d = nullptr;
    IDirect3DDevice9* device = nullptr;
    size_t width = 16;
};
