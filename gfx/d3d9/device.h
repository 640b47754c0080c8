// The device: keeps every state, owns the back buffer and the automatic depth surface, and hands each
// draw to the software renderer with a resolved state snapshot.
#pragma once

#include <array>

#include "gfx/d3d9/objects.h"

namespace d3d9impl {

class Direct3D;

class Device final : public Counted<IDirect3DDevice9> {
public:
    Device(Direct3D* parent, const D3DPRESENT_PARAMETERS& params, HWND focusWindow);
    ~Device() override;

    HRESULT BeginScene() override;
    HRESULT EndScene() override;
    HRESULT Present(const RECT*, const RECT*, HWND, const void*) override;
    HRESULT Clear(DWORD count, const D3DRECT* rects, DWORD flags, D3DCOLOR color, float z, DWORD stencil) override;

    HRESULT CreateTexture(UINT width, UINT height, UINT levels, DWORD usage, D3DFORMAT format, D3DPOOL pool,
                          IDirect3DTexture9** texture, HANDLE* shared) override;
    HRESULT CreateDepthStencilSurface(UINT width, UINT height, D3DFORMAT format, D3DMULTISAMPLE_TYPE multiSample,
                                      DWORD quality, BOOL discard, IDirect3DSurface9** surface,
                                      HANDLE* shared) override;
    HRESULT CreateVertexBuffer(UINT length, DWORD usage, DWORD fvf, D3DPOOL pool, IDirect3DVertexBuffer9** buffer,
                               HANDLE* shared) override;
    HRESULT CreateIndexBuffer(UINT length, DWORD usage, D3DFORMAT format, D3DPOOL pool,
                              IDirect3DIndexBuffer9** buffer, HANDLE* shared) override;

    HRESULT GetRenderTarget(DWORD index, IDirect3DSurface9** surface) override;
    HRESULT SetRenderTarget(DWORD index, IDirect3DSurface9* surface) override;
    HRESULT GetDepthStencilSurface(IDirect3DSurface9** surface) override;
    HRESULT SetDepthStencilSurface(IDirect3DSurface9* surface) override;
    HRESULT GetViewport(D3DVIEWPORT9* viewport) override;
    HRESULT SetViewport(const D3DVIEWPORT9* viewport) override;

    HRESULT SetRenderState(D3DRENDERSTATETYPE state, DWORD value) override;
    HRESULT GetRenderState(D3DRENDERSTATETYPE state, DWORD* value) override;
    HRESULT SetTextureStageState(DWORD stage, D3DTEXTURESTAGESTATETYPE type, DWORD value) override;
    HRESULT GetTextureStageState(DWORD stage, D3DTEXTURESTAGESTATETYPE type, DWORD* value) override;
    HRESULT SetSamplerState(DWORD sampler, D3DSAMPLERSTATETYPE type, DWORD value) override;
    HRESULT GetSamplerState(DWORD sampler, D3DSAMPLERSTATETYPE type, DWORD* value) override;
    HRESULT SetTransform(D3DTRANSFORMSTATETYPE state, const D3DMATRIX* matrix) override;
    HRESULT GetTransform(D3DTRANSFORMSTATETYPE state, D3DMATRIX* matrix) override;
    HRESULT SetMaterial(const D3DMATERIAL9* material) override;
    HRESULT GetMaterial(D3DMATERIAL9* material) override;
    HRESULT SetLight(DWORD index, const D3DLIGHT9* light) override;
    HRESULT GetLight(DWORD index, D3DLIGHT9* light) override;
    HRESULT LightEnable(DWORD index, BOOL enable) override;
    HRESULT GetLightEnable(DWORD index, BOOL* enable) override;
    HRESULT SetTexture(DWORD stage, IDirect3DBaseTexture9* texture) override;
    HRESULT GetTexture(DWORD stage, IDirect3DBaseTexture9** texture) override;

    HRESULT SetFVF(DWORD fvf) override;
    HRESULT GetFVF(DWORD* fvf) override;
    HRESULT SetStreamSource(UINT stream, IDirect3DVertexBuffer9* buffer, UINT offsetBytes, UINT stride) override;
    HRESULT SetIndices(IDirect3DIndexBuffer9* buffer) override;
    HRESULT DrawPrimitive(D3DPRIMITIVETYPE type, UINT startVertex, UINT primitiveCount) override;
    HRESULT DrawIndexedPrimitive(D3DPRIMITIVETYPE type, INT baseVertexIndex, UINT minIndex, UINT numVertices,
                                 UINT startIndex, UINT primitiveCount) override;
    HRESULT DrawPrimitiveUP(D3DPRIMITIVETYPE type, UINT primitiveCount, const void* vertexData,
                            UINT stride) override;

    Surface* backBuffer = nullptr;
    unsigned presents = 0;

private:
    void trace(const char* format, ...);
    void resolveState(raster::State& out);
    bool target(raster::Target& out);
    HRESULT drawGeometry(raster::Geometry& geometry);

    Direct3D* parent;
    D3DPRESENT_PARAMETERS params;
    HWND window;
    bool inScene = false;

    Surface* autoDepth = nullptr;
    Surface* renderTarget = nullptr;
    Surface* depthStencil = nullptr;
    D3DVIEWPORT9 viewport;

    std::array<DWORD, D3DRS_STATE_COUNT> renderStates{};
    std::array<std::array<DWORD, D3DTSS_STATE_COUNT>, D3DMAX_TEXTURE_STAGES> stageStates{};
    std::array<std::array<DWORD, D3DSAMP_STATE_COUNT>, D3DMAX_SAMPLERS> samplerStates{};
    D3DMATRIX world, view, projection;
    std::array<D3DMATRIX, D3DMAX_TEXTURE_STAGES> textureTransforms;
    D3DMATERIAL9 material{};
    std::array<D3DLIGHT9, raster::maxLights> lights{};
    std::array<bool, raster::maxLights> lightEnabled{};
    std::array<IDirect3DBaseTexture9*, D3DMAX_SAMPLERS> textures{};
    DWORD fvf = 0;
    VertexBuffer* stream = nullptr;
    UINT streamOffset = 0;
    UINT streamStride = 0;
    IndexBuffer* indices = nullptr;
};

class Direct3D final : public Counted<IDirect3D9> {
public:
    HRESULT CreateDevice(UINT adapter, D3DDEVTYPE type, HWND focusWindow, DWORD behaviorFlags,
                         D3DPRESENT_PARAMETERS* params, IDirect3DDevice9** device) override;
};

}  // namespace d3d9impl
