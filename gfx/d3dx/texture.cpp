// The texture loader: a PNG or JPEG file into a managed texture, sized up to powers of two, with
// its mip chain.
#include <cstdio>
#include <cstring>

#include "gfx/d3dx/d3dx9.h"
#include "gfx/d3dx/image.h"
#include "platform/control.h"

namespace {

constexpr size_t maxImageFileBytes = size_t(64) << 20;
constexpr HRESULT invalidData = static_cast<HRESULT>(0x88760B59u);

uint32_t powerOfTwo(uint32_t size) {
    uint32_t p = 1;
    while (p < size) p *= 2;
    return p;
}

}  // namespace

HRESULT D3DXCreateTextureFromFileExA(IDirect3DDevice9* device, LPCSTR path, UINT width, UINT height,
                                     UINT mipLevels, DWORD usage, D3DFORMAT format, D3DPOOL pool, DWORD, DWORD,
                                     D3DCOLOR, D3DXIMAGE_INFO*, PALETTEENTRY*, IDirect3DTexture9** texture) {
    if (!device || !path || !texture) return D3DERR_INVALIDCALL;
    *texture = nullptr;
    std::string hostPath = platform::hostPath(path);
    FILE* file = std::fopen(hostPath.c_str(), "rb");
    if (!file) return static_cast<HRESULT>(0x80070002u);
    std::vector<uint8_t> bytes;
    uint8_t chunk[65536];
    size_t got;
    while ((got = std::fread(chunk, 1, sizeof chunk, file)) > 0) {
        if (bytes.size() + got > maxImageFileBytes) {
            std::fclose(file);
            return E_OUTOFMEMORY;
        }
        bytes.insert(bytes.end(), chunk, chunk + got);
    }
    std::fclose(file);

    image::Rgba picture;
    std::string error;
    if (!image::decode(bytes, picture, error)) return invalidData;

    if (width == 0 || width == D3DX_DEFAULT) width = powerOfTwo(picture.width);
    if (height == 0 || height == D3DX_DEFAULT) height = powerOfTwo(picture.height);
    if (width > image::maxDimension || height > image::maxDimension) return D3DERR_INVALIDCALL;
    // PNG keeps its alpha; a JPEG is opaque.
    if (format == D3DFMT_UNKNOWN) format = picture.hasAlpha ? D3DFMT_A8R8G8B8 : D3DFMT_X8R8G8B8;
    if (format != D3DFMT_A8R8G8B8 && format != D3DFMT_X8R8G8B8) return D3DERR_INVALIDCALL;
    if (mipLevels == D3DX_DEFAULT) mipLevels = 0;

    IDirect3DTexture9* result = nullptr;
    HRESULT hr = device->CreateTexture(width, height, mipLevels, usage, format, pool, &result, nullptr);
    if (FAILED(hr)) return hr;
    image::Rgba level = image::resizeTriangle(picture, width, height);
    const DWORD levels = result->GetLevelCount();
    for (DWORD i = 0; i < levels; ++i) {
        if (i > 0) level = image::halveBox(level);
        D3DLOCKED_RECT locked;
        if (FAILED(result->LockRect(i, &locked, nullptr, 0))) {
            result->Release();
            return D3DERR_INVALIDCALL;
        }
        for (uint32_t y = 0; y < level.height; ++y) {
            auto* row = reinterpret_cast<uint32_t*>(static_cast<uint8_t*>(locked.pBits) + size_t(y) * size_t(locked.Pitch));
            for (uint32_t x = 0; x < level.width; ++x) {
                const uint8_t* p = &level.pixels[(size_t(y) * level.width + x) * 4];
                uint32_t alpha = format == D3DFMT_X8R8G8B8 ? 0xFF : p[3];
                row[x] = (alpha << 24) | (uint32_t(p[0]) << 16) | (uint32_t(p[1]) << 8) | p[2];
            }
        }
        result->UnlockRect(i);
    }
    *texture = result;
    return D3D_OK;
}

HRESULT D3DXCreateTextureFromFileA(IDirect3DDevice9* device, LPCSTR path, IDirect3DTexture9** texture) {
    return D3DXCreateTextureFromFileExA(device, path, D3DX_DEFAULT, D3DX_DEFAULT, D3DX_DEFAULT, 0, D3DFMT_UNKNOWN,
                                        D3DPOOL_MANAGED, D3DX_DEFAULT, D3DX_DEFAULT, 0, nullptr, nullptr, texture);
}
