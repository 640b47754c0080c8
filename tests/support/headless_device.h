// A device on an offscreen back buffer with a D24S8 depth buffer, for tests and benchmarks that need
// the real device front without a window.
#pragma once

#include "gfx/d3d9/d3d9.h"

struct HeadlessDevice {
    explicit HeadlessDevice(UINT width = 64, UINT height = 64) {
        d3d = Direct3DCreate9(31);
        D3DPRESENT_PARAMETERS params{};
        params.BackBufferWidth = width;
        params.BackBufferHeight = height;
        params.BackBufferFormat = D3DFMT_A8R8G8B8;
        params.EnableAutoDepthStencil = TRUE;
        params.AutoDepthStencilFormat = D3DFMT_D24S8;
        params.Windowed = TRUE;
        d3d->CreateDevice(0, D3DDEVTYPE_HAL, nullptr, D3DCREATE_HARDWARE_VERTEXPROCESSING, &params, &device);
    }
    ~HeadlessDevice() {
        device->Release();
        d3d->Release();
    }
    HeadlessDevice(const HeadlessDevice&) = delete;
    HeadlessDevice& operator=(const HeadlessDevice&) = delete;

    IDirect3D9* d3d = nullptr;
    IDirect3DDevice9* device = nullptr;
};
