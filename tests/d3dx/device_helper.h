#pragma once

#include <gtest/gtest.h>

#include "gfx/d3d9/d3d9.h"

// A headless device for loader tests.
struct HeadlessDevice {
    HeadlessDevice() {
        d3d = Direct3DCreate9(31);
        D3DPRESENT_PARAMETERS params{};
        params.BackBufferWidth = 64;
        params.BackBufferHeight = 64;
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
    IDirect3D9* d3d = nullptr;
    IDirect3DDevice9* device = nullptr;
};
