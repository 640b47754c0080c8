// The D3DX 9 utility operations the show calls: matrix construction, the mesh object and its .x
// loader, the texture loader, normal recomputation and the font.
#pragma once

#include "gfx/d3d9/d3d9.h"
#include "platform/wintypes.h"

constexpr float D3DX_PI = 3.14159265358979323846f;
constexpr DWORD D3DX_DEFAULT = 0xFFFFFFFFu;
constexpr DWORD D3DX_FILTER_NONE = 1;
constexpr DWORD D3DX_FILTER_POINT = 2;
constexpr DWORD D3DX_FILTER_LINEAR = 3;
constexpr DWORD D3DX_FILTER_TRIANGLE = 4;
constexpr DWORD D3DX_FILTER_BOX = 5;
constexpr DWORD D3DX_FILTER_DITHER = 0x80000;

constexpr DWORD D3DXMESH_32BIT = 0x001;
constexpr DWORD D3DXMESH_VB_SYSTEMMEM = 0x010;
constexpr DWORD D3DXMESH_VB_MANAGED = 0x020;
constexpr DWORD D3DXMESH_VB_WRITEONLY = 0x040;
constexpr DWORD D3DXMESH_IB_SYSTEMMEM = 0x100;
constexpr DWORD D3DXMESH_IB_MANAGED = 0x200;
constexpr DWORD D3DXMESH_IB_WRITEONLY = 0x400;
constexpr DWORD D3DXMESH_SYSTEMMEM = 0x110;
constexpr DWORD D3DXMESH_MANAGED = 0x220;
constexpr DWORD D3DXMESH_WRITEONLY = 0x440;

struct D3DXVECTOR3 : D3DVECTOR {
    D3DXVECTOR3() : D3DVECTOR{0, 0, 0} {}
    D3DXVECTOR3(float x, float y, float z) : D3DVECTOR{x, y, z} {}
};

struct D3DXMATRIX : D3DMATRIX {
    D3DXMATRIX() : D3DMATRIX{} {}
    float& operator()(int row, int column) { return m[row][column]; }
    float operator()(int row, int column) const { return m[row][column]; }
    // The sixteen elements row by row, m11 first.
    operator float*() { return &m[0][0]; }
    operator const float*() const { return &m[0][0]; }
};

D3DXMATRIX* D3DXMatrixIdentity(D3DXMATRIX* out);
D3DXMATRIX* D3DXMatrixMultiply(D3DXMATRIX* out, const D3DXMATRIX* a, const D3DXMATRIX* b);
D3DXMATRIX* D3DXMatrixScaling(D3DXMATRIX* out, float sx, float sy, float sz);
D3DXMATRIX* D3DXMatrixTranslation(D3DXMATRIX* out, float x, float y, float z);
D3DXMATRIX* D3DXMatrixRotationYawPitchRoll(D3DXMATRIX* out, float yaw, float pitch, float roll);
D3DXMATRIX* D3DXMatrixLookAtLH(D3DXMATRIX* out, const D3DXVECTOR3* eye, const D3DXVECTOR3* at,
                               const D3DXVECTOR3* up);
D3DXMATRIX* D3DXMatrixPerspectiveFovLH(D3DXMATRIX* out, float fovY, float aspect, float zn, float zf);
D3DXVECTOR3* D3DXVec3Normalize(D3DXVECTOR3* out, const D3DXVECTOR3* v);

struct D3DXMATERIAL;
struct ID3DXBuffer;

struct ID3DXMesh : IUnknown {
    virtual HRESULT DrawSubset(DWORD attributeId) = 0;
    virtual DWORD GetNumFaces() = 0;
    virtual DWORD GetNumVertices() = 0;
    virtual DWORD GetFVF() = 0;
    virtual DWORD GetNumBytesPerVertex() = 0;
    virtual DWORD GetOptions() = 0;
    virtual HRESULT GetDevice(IDirect3DDevice9** device) = 0;
    virtual HRESULT CloneMeshFVF(DWORD options, DWORD fvf, IDirect3DDevice9* device, ID3DXMesh** clone) = 0;
    virtual HRESULT GetVertexBuffer(IDirect3DVertexBuffer9** buffer) = 0;
    virtual HRESULT GetIndexBuffer(IDirect3DIndexBuffer9** buffer) = 0;
    virtual HRESULT LockVertexBuffer(DWORD flags, void** data) = 0;
    virtual HRESULT UnlockVertexBuffer() = 0;
    virtual HRESULT LockIndexBuffer(DWORD flags, void** data) = 0;
    virtual HRESULT UnlockIndexBuffer() = 0;
    virtual HRESULT LockAttributeBuffer(DWORD flags, DWORD** data) = 0;
    virtual HRESULT UnlockAttributeBuffer() = 0;
};

struct ID3DXFont : IUnknown {
    virtual INT DrawTextA(LPCSTR text, INT count, RECT* rect, DWORD format, D3DCOLOR color) = 0;
};

HRESULT D3DXCreateMeshFVF(DWORD numFaces, DWORD numVertices, DWORD options, DWORD fvf, IDirect3DDevice9* device,
                          ID3DXMesh** mesh);
HRESULT D3DXLoadMeshFromXA(LPCSTR path, DWORD options, IDirect3DDevice9* device, ID3DXBuffer** adjacency,
                           ID3DXBuffer** materials, ID3DXBuffer** effectInstances, DWORD* materialCount,
                           ID3DXMesh** mesh);
HRESULT D3DXComputeNormals(ID3DXMesh* mesh, const DWORD* adjacency);

struct D3DXIMAGE_INFO;
struct PALETTEENTRY;
HRESULT D3DXCreateTextureFromFileExA(IDirect3DDevice9* device, LPCSTR path, UINT width, UINT height,
                                     UINT mipLevels, DWORD usage, D3DFORMAT format, D3DPOOL pool, DWORD filter,
                                     DWORD mipFilter, D3DCOLOR colorKey, D3DXIMAGE_INFO* sourceInfo,
                                     PALETTEENTRY* palette, IDirect3DTexture9** texture);

// The whole file at its own size rounded up to powers of two, with the full mip chain, in the managed pool.
HRESULT D3DXCreateTextureFromFileA(IDirect3DDevice9* device, LPCSTR path, IDirect3DTexture9** texture);

HRESULT D3DXCreateFont(IDirect3DDevice9* device, HFONT font, ID3DXFont** out);
