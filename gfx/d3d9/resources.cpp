#include <algorithm>
#include <cstring>

#include "gfx/d3d9/device.h"
#include "gfx/d3d9/objects.h"

namespace d3d9impl {

std::atomic<long> liveObjects{0};

bool isColorFormat(D3DFORMAT format) { return format == D3DFMT_A8R8G8B8 || format == D3DFMT_X8R8G8B8; }
bool isDepthFormat(D3DFORMAT format) { return format == D3DFMT_D24S8 || format == D3DFMT_D24X8; }

namespace {

HRESULT handOutDevice(Device* device, IDirect3DDevice9** out) {
    if (!out) return D3DERR_INVALIDCALL;
    *out = device;
    if (device) device->AddRef();
    return device ? D3D_OK : D3DERR_INVALIDCALL;
}

}  // namespace

Surface::Surface(Device* owner, UINT w, UINT h, D3DFORMAT f, DWORD u, D3DPOOL p, Texture* c)
    : device(owner), width(w), height(h), format(f), usage(u), pool(p), container(c),
      pixels(size_t(w) * h, 0) {}

ULONG Surface::AddRef() { return container ? container->AddRef() : Counted::AddRef(); }
ULONG Surface::Release() { return container ? container->Release() : Counted::Release(); }

HRESULT Surface::GetDevice(IDirect3DDevice9** out) { return handOutDevice(device, out); }

HRESULT Surface::GetDesc(D3DSURFACE_DESC* desc) {
    if (!desc) return D3DERR_INVALIDCALL;
    *desc = D3DSURFACE_DESC{format, D3DRTYPE_SURFACE, usage, pool, D3DMULTISAMPLE_NONE, 0, width, height};
    return D3D_OK;
}

HRESULT Surface::LockRect(D3DLOCKED_RECT* out, const RECT* rect, DWORD) {
    if (!out || locked) return D3DERR_INVALIDCALL;
    LONG left = 0, top = 0;
    if (rect) {
        if (rect->left < 0 || rect->top < 0 || rect->right > LONG(width) || rect->bottom > LONG(height) ||
            rect->left >= rect->right || rect->top >= rect->bottom)
            return D3DERR_INVALIDCALL;
        left = rect->left;
        top = rect->top;
    }
    out->Pitch = INT(width * 4);
    out->pBits = pixels.data() + size_t(top) * width + left;
    locked = true;
    return D3D_OK;
}

HRESULT Surface::UnlockRect() {
    if (!locked) return D3DERR_INVALIDCALL;
    locked = false;
    return D3D_OK;
}

Texture::Texture(Device* owner, UINT width, UINT height, UINT levelCount, DWORD usage, D3DFORMAT f, D3DPOOL pool)
    : device(owner), format(f) {
    UINT full = 1;
    for (UINT w = width, h = height; w > 1 || h > 1; w = std::max(1u, w / 2), h = std::max(1u, h / 2)) ++full;
    if (levelCount == 0 || levelCount > full) levelCount = full;
    for (UINT i = 0; i < levelCount; ++i) {
        auto* level = new Surface(owner, std::max(1u, width >> i), std::max(1u, height >> i), f, usage, pool, this);
        // Levels are counted with their texture, not as objects of their own.
        --liveObjects;
        levels.push_back(level);
    }
}

Texture::~Texture() {
    for (Surface* level : levels) {
        ++liveObjects;
        level->container = nullptr;
        delete level;
    }
}

HRESULT Texture::GetDevice(IDirect3DDevice9** out) { return handOutDevice(device, out); }

HRESULT Texture::GetLevelDesc(UINT level, D3DSURFACE_DESC* desc) {
    if (level >= levels.size()) return D3DERR_INVALIDCALL;
    return levels[level]->GetDesc(desc);
}

HRESULT Texture::GetSurfaceLevel(UINT level, IDirect3DSurface9** surface) {
    if (!surface || level >= levels.size()) return D3DERR_INVALIDCALL;
    *surface = levels[level];
    AddRef();
    return D3D_OK;
}

HRESULT Texture::LockRect(UINT level, D3DLOCKED_RECT* locked, const RECT* rect, DWORD flags) {
    if (level >= levels.size()) return D3DERR_INVALIDCALL;
    return levels[level]->LockRect(locked, rect, flags);
}

HRESULT Texture::UnlockRect(UINT level) {
    if (level >= levels.size()) return D3DERR_INVALIDCALL;
    return levels[level]->UnlockRect();
}

const raster::Texture& Texture::view() {
    rasterView.levelCount = int(std::min<size_t>(levels.size(), raster::maxMipLevels));
    rasterView.opaque = format == D3DFMT_X8R8G8B8;
    for (int i = 0; i < rasterView.levelCount; ++i)
        rasterView.levels[i] = {levels[i]->pixels.data(), int(levels[i]->width), int(levels[i]->height)};
    return rasterView;
}

VertexBuffer::VertexBuffer(Device* owner, UINT length, DWORD u, DWORD f, D3DPOOL p)
    : device(owner), usage(u), fvf(f), pool(p), bytes(length, 0) {}

HRESULT VertexBuffer::GetDevice(IDirect3DDevice9** out) { return handOutDevice(device, out); }

HRESULT VertexBuffer::Lock(UINT offset, UINT size, void** data, DWORD) {
    if (!data || offset > bytes.size() || size > bytes.size() - offset) return D3DERR_INVALIDCALL;
    *data = bytes.data() + offset;
    return D3D_OK;
}

HRESULT VertexBuffer::GetDesc(D3DVERTEXBUFFER_DESC* desc) {
    if (!desc) return D3DERR_INVALIDCALL;
    *desc = D3DVERTEXBUFFER_DESC{D3DFMT_VERTEXDATA, D3DRTYPE_VERTEXBUFFER, usage, pool, UINT(bytes.size()), fvf};
    return D3D_OK;
}

IndexBuffer::IndexBuffer(Device* owner, UINT length, DWORD u, D3DFORMAT f, D3DPOOL p)
    : device(owner), usage(u), format(f), pool(p), bytes(length, 0) {}

HRESULT IndexBuffer::GetDevice(IDirect3DDevice9** out) { return handOutDevice(device, out); }

HRESULT IndexBuffer::Lock(UINT offset, UINT size, void** data, DWORD) {
    if (!data || offset > bytes.size() || size > bytes.size() - offset) return D3DERR_INVALIDCALL;
    *data = bytes.data() + offset;
    return D3D_OK;
}

HRESULT IndexBuffer::GetDesc(D3DINDEXBUFFER_DESC* desc) {
    if (!desc) return D3DERR_INVALIDCALL;
    *desc = D3DINDEXBUFFER_DESC{format, D3DRTYPE_INDEXBUFFER, usage, pool, UINT(bytes.size())};
    return D3D_OK;
}

}  // namespace d3d9impl
