#include "engine/offscreen_target.h"

#include "engine/demo_engine.h"
#include "engine/resources.h"

OffscreenTarget* offscreenTarget = nullptr;

OffscreenTarget::OffscreenTarget(UINT targetWidth, UINT targetHeight, UINT levels, D3DFORMAT format,
                                 D3DFORMAT depthFormat) {
    if (FAILED(device->CreateTexture(targetWidth, targetHeight, levels, D3DUSAGE_RENDERTARGET, format,
                                     D3DPOOL_DEFAULT, &texture, nullptr)))
        fatalError("Can't create render target on A8R8G8B8 surface!");
    if (FAILED(device->CreateDepthStencilSurface(targetWidth, targetHeight, depthFormat, D3DMULTISAMPLE_NONE, 0,
                                                 FALSE, &depthSurface, nullptr)))
        fatalError("Can't create depth/stencil surface for render target!");
    texture->GetSurfaceLevel(0, &colorSurface);
    width = targetWidth;
    height = targetHeight;
}

void OffscreenTarget::bind() {
    D3DVIEWPORT9 viewport{0, 0, width, height, 0.0f, 1.0f};
    device->SetRenderTarget(0, colorSurface);
    device->SetDepthStencilSurface(depthSurface);
    device->SetViewport(&viewport);
}
