// Rendering into a texture and reading it back on the screen: the offscreen pass the show makes
// before its full-screen quads, and the depth buffer swapped in with the target.
#include "device_fixture.h"

namespace {

constexpr uint32_t black = 0xFF000000, red = 0xFFFF0000, green = 0xFF00FF00;

TEST_F(DeviceTest, WhatIsDrawnIntoATextureTargetComesBackThroughTheTexture) {
    IDirect3DTexture9* offscreen = nullptr;
    ASSERT_EQ(device->CreateTexture(8, 8, 1, D3DUSAGE_RENDERTARGET, D3DFMT_A8R8G8B8, D3DPOOL_DEFAULT,
                                    &offscreen, nullptr),
              D3D_OK);
    IDirect3DSurface9* offscreenDepth = nullptr;
    ASSERT_EQ(device->CreateDepthStencilSurface(8, 8, D3DFMT_D24S8, D3DMULTISAMPLE_NONE, 0, TRUE,
                                                &offscreenDepth, nullptr),
              D3D_OK);
    IDirect3DSurface9 *savedTarget = nullptr, *savedDepth = nullptr, *level = nullptr;
    device->GetRenderTarget(0, &savedTarget);
    device->GetDepthStencilSurface(&savedDepth);
    offscreen->GetSurfaceLevel(0, &level);
    device->SetRenderState(D3DRS_LIGHTING, FALSE);

    // Screen: a red square at depth 0.2 in the top-left corner.
    device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, black, 1.0f, 0);
    fillRect(0, 0, 4, 4, red, 0.2f);

    // Offscreen: green left half over a cleared depth of its own; the screen's depth must not reject it.
    device->SetRenderTarget(0, level);
    device->SetDepthStencilSurface(offscreenDepth);
    D3DVIEWPORT9 viewport{};
    device->GetViewport(&viewport);
    EXPECT_EQ(viewport.Width, 8u);
    EXPECT_EQ(viewport.Height, 8u);
    device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, black, 1.0f, 0);
    fillRect(0, 0, 4, 8, green, 0.5f);

    // Back on screen, the texture stretched over the whole 16 x 16 target, one texel per 2 x 2 pixels.
    device->SetRenderTarget(0, savedTarget);
    device->SetDepthStencilSurface(savedDepth);
    device->SetRenderState(D3DRS_ZENABLE, FALSE);
    device->SetTexture(0, offscreen);
    device->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_SELECTARG1);
    device->SetFVF(texturedScreenFvf);
    const std::vector<TexturedScreenVertex> quad = {{-0.5f, 15.5f, 0.5f, 1, 0xFFFFFFFF, 0, 1},
                                                    {-0.5f, -0.5f, 0.5f, 1, 0xFFFFFFFF, 0, 0},
                                                    {15.5f, 15.5f, 0.5f, 1, 0xFFFFFFFF, 1, 1},
                                                    {15.5f, -0.5f, 0.5f, 1, 0xFFFFFFFF, 1, 0}};
    device->DrawPrimitiveUP(D3DPT_TRIANGLESTRIP, 2, quad.data(), sizeof(TexturedScreenVertex));
    device->SetTexture(0, nullptr);
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 16; ++x) EXPECT_EQ(pixel(x, y), x < 8 ? green : black) << x << "," << y;

    // The screen's depth was untouched by the offscreen pass.
    EXPECT_EQ(depthWords()[0] >> 8, uint32_t(0.2 * 0xFFFFFF + 0.5));
    EXPECT_EQ(depthWords()[15] >> 8, 0xFFFFFFu);

    level->Release();
    savedTarget->Release();
    savedDepth->Release();
    offscreenDepth->Release();
    offscreen->Release();
}

}  // namespace
