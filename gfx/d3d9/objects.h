// The concrete objects behind the interfaces: reference counting, storage of surfaces, textures and
// buffers. Private to the device layer.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "gfx/d3d9/d3d9.h"
#include "gfx/d3d9/d3d9debug.h"
#include "gfx/raster/raster.h"

namespace d3d9impl {

extern std::atomic<long> liveObjects;
extern d3d9debug::Failures failures;
extern std::vector<std::string>* callTrace;

template <typename Interface>
class Counted : public Interface {
public:
    Counted() { ++liveObjects; }
    Counted(const Counted&) = delete;
    Counted& operator=(const Counted&) = delete;
    virtual ~Counted() { --liveObjects; }

    HRESULT QueryInterface(REFIID, void** object) override {
        if (object) *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG AddRef() override { return ++references; }
    ULONG Release() override {
        ULONG left = --references;
        if (left == 0) delete this;
        return left;
    }

protected:
    std::atomic<ULONG> references{1};
};

class Device;
class Texture;

bool isColorFormat(D3DFORMAT format);
bool isDepthFormat(D3DFORMAT format);

class Surface final : public Counted<IDirect3DSurface9> {
public:
    Surface(Device* device, UINT width, UINT height, D3DFORMAT format, DWORD usage, D3DPOOL pool,
            Texture* container);

    // A texture level lives as long as its texture: its count is the texture's.
    ULONG AddRef() override;
    ULONG Release() override;

    HRESULT GetDevice(IDirect3DDevice9** device) override;
    D3DRESOURCETYPE GetType() override { return D3DRTYPE_SURFACE; }
    HRESULT GetDesc(D3DSURFACE_DESC* desc) override;
    HRESULT LockRect(D3DLOCKED_RECT* locked, const RECT* rect, DWORD flags) override;
    HRESULT UnlockRect() override;

    Device* device;
    UINT width, height;
    D3DFORMAT format;
    DWORD usage;
    D3DPOOL pool;
    Texture* container;
    bool locked = false;
    std::vector<uint32_t> pixels;
};

class Texture final : public Counted<IDirect3DTexture9> {
public:
    Texture(Device* device, UINT width, UINT height, UINT levels, DWORD usage, D3DFORMAT format, D3DPOOL pool);
    ~Texture() override;

    HRESULT GetDevice(IDirect3DDevice9** device) override;
    D3DRESOURCETYPE GetType() override { return D3DRTYPE_TEXTURE; }
    DWORD GetLevelCount() override { return DWORD(levels.size()); }
    HRESULT GetLevelDesc(UINT level, D3DSURFACE_DESC* desc) override;
    HRESULT GetSurfaceLevel(UINT level, IDirect3DSurface9** surface) override;
    HRESULT LockRect(UINT level, D3DLOCKED_RECT* locked, const RECT* rect, DWORD flags) override;
    HRESULT UnlockRect(UINT level) override;

    // The sampler's view of the levels.
    const raster::Texture& view();

    Device* device;
    D3DFORMAT format;
    std::vector<Surface*> levels;

private:
    raster::Texture rasterView;
};

class VertexBuffer final : public Counted<IDirect3DVertexBuffer9> {
public:
    VertexBuffer(Device* device, UINT length, DWORD usage, DWORD fvf, D3DPOOL pool);
    HRESULT GetDevice(IDirect3DDevice9** device) override;
    D3DRESOURCETYPE GetType() override { return D3DRTYPE_VERTEXBUFFER; }
    HRESULT Lock(UINT offset, UINT size, void** data, DWORD flags) override;
    HRESULT Unlock() override { return D3D_OK; }
    HRESULT GetDesc(D3DVERTEXBUFFER_DESC* desc) override;

    Device* device;
    DWORD usage, fvf;
    D3DPOOL pool;
    std::vector<uint8_t> bytes;
};

class IndexBuffer final : public Counted<IDirect3DIndexBuffer9> {
public:
    IndexBuffer(Device* device, UINT length, DWORD usage, D3DFORMAT format, D3DPOOL pool);
    HRESULT GetDevice(IDirect3DDevice9** device) override;
    D3DRESOURCETYPE GetType() override { return D3DRTYPE_INDEXBUFFER; }
    HRESULT Lock(UINT offset, UINT size, void** data, DWORD flags) override;
    HRESULT Unlock() override { return D3D_OK; }
    HRESULT GetDesc(D3DINDEXBUFFER_DESC* desc) override;

    Device* device;
    DWORD usage;
    D3DFORMAT format;
    D3DPOOL pool;
    std::vector<uint8_t> bytes;
};

}  // namespace d3d9impl
