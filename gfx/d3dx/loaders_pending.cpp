#include "gfx/d3dx/d3dx9.h"

HRESULT D3DXLoadMeshFromXA(LPCSTR, DWORD, IDirect3DDevice9*, ID3DXBuffer**, ID3DXBuffer**, ID3DXBuffer**, DWORD*,
                           ID3DXMesh**) {
    return E_NOTIMPL;
}
HRESULT D3DXCreateTextureFromFileExA(IDirect3DDevice9*, LPCSTR, UINT, UINT, UINT, DWORD, D3DFORMAT, D3DPOOL, DWORD,
                                     DWORD, D3DCOLOR, D3DXIMAGE_INFO*, PALETTEENTRY*, IDirect3DTexture9**) {
    return E_NOTIMPL;
}
