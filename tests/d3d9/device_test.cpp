#include <cmath>

#include "device_fixture.h"

namespace {

TEST_F(DeviceTest, ObjectsAreCountedAndLevelSurfacesKeepTheirTextureAlive) {
    const long before = d3d9debug::liveObjectCount();
    IDirect3DTexture9* texture = nullptr;
    ASSERT_EQ(device->CreateTexture(8, 4, 0, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &texture, nullptr), D3D_OK);
    EXPECT_EQ(texture->GetLevelCount(), 4u);  // 8x4, 4x2, 2x1, 1x1
    EXPECT_EQ(d3d9debug::liveObjectCount(), before + 1);
    IDirect3DSurface9* level = nullptr;
    ASSERT_EQ(texture->GetSurfaceLevel(3, &level), D3D_OK);
    D3DSURFACE_DESC desc;
    level->GetDesc(&desc);
    EXPECT_EQ(desc.Width, 1u);
    EXPECT_EQ(texture->Release(), 1u);  // the level holds the texture
    EXPECT_EQ(d3d9debug::liveObjectCount(), before + 1);
    EXPECT_EQ(level->Release(), 0u);
    EXPECT_EQ(d3d9debug::liveObjectCount(), before);
    EXPECT_EQ(texture = nullptr, nullptr);
    EXPECT_EQ(device->CreateTexture(0, 4, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &texture, nullptr),
              D3DERR_INVALIDCALL);
}

TEST_F(DeviceTest, BoundObjectsAreHeldByTheDeviceUntilItGoes) {
    const long before = d3d9debug::liveObjectCount();
    IDirect3DTexture9* texture = makeTexture(1, 1, {0xFFFFFFFF});
    device->SetTexture(0, texture);
    EXPECT_EQ(texture->Release(), 1u);
    device->SetTexture(0, nullptr);
    EXPECT_EQ(d3d9debug::liveObjectCount(), before);
}

TEST_F(DeviceTest, ClearCoversTheViewportAndClipsRectanglesToIt) {
    device->Clear(0, nullptr, D3DCLEAR_TARGET, 0xFF000000, 1.0f, 0);
    D3DVIEWPORT9 viewport{4, 4, 8, 8, 0, 1};
    ASSERT_EQ(device->SetViewport(&viewport), D3D_OK);
    device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER | D3DCLEAR_STENCIL, 0xFF00FF00, 0.5f, 7);
    EXPECT_EQ(countPixels(0xFF00FF00), 64);
    EXPECT_EQ(pixel(3, 3), 0xFF000000u);
    D3DRECT rect{0, 0, 6, 6};
    device->Clear(1, &rect, D3DCLEAR_TARGET, 0xFFFF0000, 1.0f, 0);
    EXPECT_EQ(countPixels(0xFFFF0000), 4);
    auto depth = depthWords();
    EXPECT_EQ(depth[4 * 16 + 4], (uint32_t(std::lround(0.5 * 0xFFFFFF)) << 8) | 7u);
    D3DVIEWPORT9 tooBig{10, 10, 8, 8, 0, 1};
    EXPECT_EQ(device->SetViewport(&tooBig), D3DERR_INVALIDCALL);
}

TEST_F(DeviceTest, RenderTargetSwitchResetsTheViewportAndTheSavedTargetsComeBack) {
    IDirect3DTexture9* texture = nullptr;
    ASSERT_EQ(device->CreateTexture(4, 2, 1, D3DUSAGE_RENDERTARGET, D3DFMT_A8R8G8B8, D3DPOOL_DEFAULT, &texture, nullptr),
              D3D_OK);
    IDirect3DSurface9 *saved = nullptr, *level = nullptr;
    device->GetRenderTarget(0, &saved);
    texture->GetSurfaceLevel(0, &level);
    device->SetRenderTarget(0, level);
    D3DVIEWPORT9 viewport;
    device->GetViewport(&viewport);
    EXPECT_EQ(viewport.Width, 4u);
    EXPECT_EQ(viewport.Height, 2u);
    device->Clear(0, nullptr, D3DCLEAR_TARGET, 0xFF123456, 1.0f, 0);
    std::vector<uint32_t> texels;
    UINT w, h;
    d3d9debug::readSurface(level, texels, w, h);
    EXPECT_EQ(texels, std::vector<uint32_t>(8, 0xFF123456));
    device->SetRenderTarget(0, saved);
    device->GetViewport(&viewport);
    EXPECT_EQ(viewport.Width, 16u);
    level->Release();
    saved->Release();
    texture->Release();
}

TEST_F(DeviceTest, DefaultsOfStatesTheShowNeverSets) {
    struct Row {
        D3DRENDERSTATETYPE state;
        DWORD value;
    };
    for (const Row& r : {Row{D3DRS_CULLMODE, D3DCULL_CCW}, Row{D3DRS_ZFUNC, D3DCMP_LESSEQUAL}, Row{D3DRS_ZENABLE, 1},
                         Row{D3DRS_ZWRITEENABLE, 1}, Row{D3DRS_COLORVERTEX, 1}, Row{D3DRS_LOCALVIEWER, 1},
                         Row{D3DRS_STENCILMASK, 0xFFFFFFFF}, Row{D3DRS_COLORWRITEENABLE, 0xF},
                         Row{D3DRS_DIFFUSEMATERIALSOURCE, D3DMCS_COLOR1}, Row{D3DRS_SRCBLEND, D3DBLEND_ONE}}) {
        DWORD value = 0;
        device->GetRenderState(r.state, &value);
        EXPECT_EQ(value, r.value) << r.state;
    }
    DWORD value = 0;
    device->GetSamplerState(0, D3DSAMP_ADDRESSU, &value);
    EXPECT_EQ(value, DWORD(D3DTADDRESS_WRAP));
    device->GetTextureStageState(1, D3DTSS_TEXCOORDINDEX, &value);
    EXPECT_EQ(value, 1u);
    device->GetTextureStageState(1, D3DTSS_COLOROP, &value);
    EXPECT_EQ(value, DWORD(D3DTOP_DISABLE));
}

TEST_F(DeviceTest, SceneBracketsAndInjectedFailures) {
    EXPECT_EQ(device->BeginScene(), D3D_OK);
    EXPECT_EQ(device->BeginScene(), D3DERR_INVALIDCALL);
    EXPECT_EQ(device->EndScene(), D3D_OK);
    EXPECT_EQ(device->EndScene(), D3DERR_INVALIDCALL);
    d3d9debug::Failures failures;
    failures.beginScene = true;
    d3d9debug::setFailures(failures);
    EXPECT_NE(device->BeginScene(), D3D_OK);
    d3d9debug::setFailures({});
    unsigned before = d3d9debug::presentCount(device);
    device->Present(nullptr, nullptr, nullptr, nullptr);
    EXPECT_EQ(d3d9debug::presentCount(device), before + 1);
}

TEST_F(DeviceTest, CallTraceRecordsCallsInOrder) {
    std::vector<std::string> trace;
    d3d9debug::setCallTrace(&trace);
    device->SetRenderState(D3DRS_LIGHTING, FALSE);
    device->Clear(0, nullptr, D3DCLEAR_TARGET, 0, 1.0f, 0);
    d3d9debug::setCallTrace(nullptr);
    ASSERT_EQ(trace.size(), 2u);
    EXPECT_EQ(trace[0], "SetRenderState(137,0)");
    EXPECT_EQ(trace[1].rfind("Clear(", 0), 0u);
}

}  // namespace
