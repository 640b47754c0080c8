// A small texture the show can render into instead of the back buffer, with its own depth surface.
#pragma once

#include "gfx/d3d9/d3d9.h"

class OffscreenTarget {
public:
    OffscreenTarget(UINT width, UINT height, UINT levels, D3DFORMAT format, D3DFORMAT depthFormat);

    // Makes the target current for the following draws; the engine's restoreRenderTarget undoes it.
    void bind();

    // The owner releases these three (colour, depth, texture) before freeing the object.
    IDirect3DSurface9* colorSurface = nullptr;
    IDirect3DSurface9* depthSurface = nullptr;
    IDirect3DTexture9* texture = nullptr;
    UINT width = 0;
    UINT height = 0;
};

extern OffscreenTarget* offscreenTarget;
