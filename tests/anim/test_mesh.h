// A mesh held in plain memory that records how it is locked, for the vertex effects. Vertices are
// laid out by the given format; guard bytes after the last vertex catch writes past the end.
#pragma once

#include <cstring>
#include <functional>
#include <vector>

#include "gfx/d3dx/d3dx9.h"

class TestMesh : public ID3DXMesh {
public:
    static constexpr size_t guardBytes = 64;
    static constexpr BYTE guardValue = 0xA5;

    TestMesh(DWORD fvf, DWORD stride, DWORD vertexCount)
        : fvf(fvf),
          stride(stride),
          vertexCount(vertexCount),
          bytes(size_t(stride) * vertexCount + guardBytes, 0) {
        std::memset(bytes.data() + size_t(stride) * vertexCount, guardValue, guardBytes);
    }

    float* vertex(DWORD i) { return reinterpret_cast<float*>(bytes.data() + size_t(i) * stride); }
    void setPosition(DWORD i, float x, float y, float z) {
        float p[3] = {x, y, z};
        std::memcpy(vertex(i), p, sizeof p);
    }
    bool guardIntact() const {
        for (size_t i = size_t(stride) * vertexCount; i < bytes.size(); ++i)
            if (bytes[i] != guardValue) return false;
        return true;
    }

    // Recorded use of the locks.
    std::vector<DWORD> lockFlags;
    int openLocks = 0;
    bool failLocks = false;
    std::function<void(DWORD)> onDrawSubset;
    // Handed out by GetVertexBuffer with a reference; the test owns it.
    IDirect3DVertexBuffer9* deviceBuffer = nullptr;

    HRESULT QueryInterface(REFIID, void**) override { return E_NOINTERFACE; }
    ULONG AddRef() override { return 1; }
    ULONG Release() override { return 1; }
    HRESULT DrawSubset(DWORD attributeId) override {
        if (onDrawSubset) onDrawSubset(attributeId);
        return D3D_OK;
    }
    DWORD GetNumFaces() override { return 0; }
    DWORD GetNumVertices() override { return vertexCount; }
    DWORD GetFVF() override { return fvf; }
    DWORD GetNumBytesPerVertex() override { return stride; }
    DWORD GetOptions() override { return D3DXMESH_MANAGED; }
    HRESULT GetDevice(IDirect3DDevice9**) override { return E_NOTIMPL; }
    HRESULT CloneMeshFVF(DWORD, DWORD, IDirect3DDevice9*, ID3DXMesh**) override { return E_NOTIMPL; }
    HRESULT GetVertexBuffer(IDirect3DVertexBuffer9** buffer) override {
        *buffer = deviceBuffer;
        if (!deviceBuffer) return D3DERR_INVALIDCALL;
        deviceBuffer->AddRef();
        return D3D_OK;
    }
    HRESULT GetIndexBuffer(IDirect3DIndexBuffer9**) override { return E_NOTIMPL; }
    HRESULT LockVertexBuffer(DWORD flags, void** data) override {
        lockFlags.push_back(flags);
        if (failLocks) {
            *data = nullptr;
            return D3DERR_INVALIDCALL;
        }
        ++openLocks;
        *data = bytes.data();
        return D3D_OK;
    }
    HRESULT UnlockVertexBuffer() override {
        --openLocks;
        return D3D_OK;
    }
    HRESULT LockIndexBuffer(DWORD, void**) override { return E_NOTIMPL; }
    HRESULT UnlockIndexBuffer() override { return E_NOTIMPL; }
    HRESULT LockAttributeBuffer(DWORD, DWORD**) override { return E_NOTIMPL; }
    HRESULT UnlockAttributeBuffer() override { return E_NOTIMPL; }

    DWORD fvf;
    DWORD stride;
    DWORD vertexCount;
    std::vector<BYTE> bytes;
};
