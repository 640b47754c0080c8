// The mesh object: one vertex buffer, one index buffer and an attribute id per face, drawn subset by
// subset through the device.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

#include "gfx/d3dx/d3dx9.h"
#include "gfx/d3dx/xfile.h"
#include "platform/control.h"

namespace {

UINT strideOf(DWORD fvf) {
    UINT size = 0;
    switch (fvf & D3DFVF_POSITION_MASK) {
        case D3DFVF_XYZ: size = 12; break;
        case D3DFVF_XYZRHW: size = 16; break;
        default: return 0;
    }
    if (fvf & D3DFVF_NORMAL) size += 12;
    if (fvf & D3DFVF_PSIZE) size += 4;
    if (fvf & D3DFVF_DIFFUSE) size += 4;
    if (fvf & D3DFVF_SPECULAR) size += 4;
    UINT sets = (fvf & D3DFVF_TEXCOUNT_MASK) >> D3DFVF_TEXCOUNT_SHIFT;
    size += 8 * sets;  // two-float sets only
    return size;
}

// Offsets of the fields a mesh can carry, or -1.
struct Fields {
    int normal = -1, diffuse = -1, tex = -1;
    explicit Fields(DWORD fvf) {
        int offset = 12;
        if (fvf & D3DFVF_NORMAL) {
            normal = offset;
            offset += 12;
        }
        if (fvf & D3DFVF_PSIZE) offset += 4;
        if (fvf & D3DFVF_DIFFUSE) {
            diffuse = offset;
            offset += 4;
        }
        if (fvf & D3DFVF_SPECULAR) offset += 4;
        if (fvf & D3DFVF_TEXCOUNT_MASK) tex = offset;
    }
};

class Mesh final : public ID3DXMesh {
public:
    Mesh(IDirect3DDevice9* d, DWORD faces, DWORD vertexCount, DWORD opts, DWORD format, IDirect3DVertexBuffer9* vb,
         IDirect3DIndexBuffer9* ib)
        : device(d), faceCount(faces), vertices(vertexCount), options(opts), fvf(format), stride(strideOf(format)),
          vertexBuffer(vb), indexBuffer(ib), attributes(faces, 0) {
        device->AddRef();
        rebuildRuns();
    }
    ~Mesh() {
        vertexBuffer->Release();
        indexBuffer->Release();
        device->Release();
    }

    HRESULT QueryInterface(REFIID, void** object) override {
        if (object) *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG AddRef() override { return ++references; }
    ULONG Release() override {
        ULONG left = --references;
        if (!left) delete this;
        return left;
    }

    HRESULT DrawSubset(DWORD attributeId) override {
        device->SetStreamSource(0, vertexBuffer, 0, stride);
        device->SetIndices(indexBuffer);
        device->SetFVF(fvf);
        for (const Run& run : runs)
            if (run.attribute == attributeId)
                device->DrawIndexedPrimitive(D3DPT_TRIANGLELIST, 0, 0, vertices, run.firstFace * 3, run.faces);
        return D3D_OK;
    }
    DWORD GetNumFaces() override { return faceCount; }
    DWORD GetNumVertices() override { return vertices; }
    DWORD GetFVF() override { return fvf; }
    DWORD GetNumBytesPerVertex() override { return stride; }
    DWORD GetOptions() override { return options; }
    HRESULT GetDevice(IDirect3DDevice9** out) override {
        if (!out) return D3DERR_INVALIDCALL;
        *out = device;
        device->AddRef();
        return D3D_OK;
    }
    HRESULT CloneMeshFVF(DWORD opts, DWORD format, IDirect3DDevice9* target, ID3DXMesh** clone) override;
    HRESULT GetVertexBuffer(IDirect3DVertexBuffer9** out) override {
        if (!out) return D3DERR_INVALIDCALL;
        *out = vertexBuffer;
        vertexBuffer->AddRef();
        return D3D_OK;
    }
    HRESULT GetIndexBuffer(IDirect3DIndexBuffer9** out) override {
        if (!out) return D3DERR_INVALIDCALL;
        *out = indexBuffer;
        indexBuffer->AddRef();
        return D3D_OK;
    }
    HRESULT LockVertexBuffer(DWORD flags, void** data) override { return vertexBuffer->Lock(0, 0, data, flags); }
    HRESULT UnlockVertexBuffer() override { return vertexBuffer->Unlock(); }
    HRESULT LockIndexBuffer(DWORD flags, void** data) override { return indexBuffer->Lock(0, 0, data, flags); }
    HRESULT UnlockIndexBuffer() override { return indexBuffer->Unlock(); }
    HRESULT LockAttributeBuffer(DWORD, DWORD** data) override {
        if (!data) return D3DERR_INVALIDCALL;
        *data = attributes.data();
        return D3D_OK;
    }
    HRESULT UnlockAttributeBuffer() override {
        rebuildRuns();
        return D3D_OK;
    }

private:
    struct Run {
        DWORD attribute, firstFace, faces;
    };
    void rebuildRuns() {
        runs.clear();
        for (DWORD f = 0; f < faceCount; ++f) {
            if (!runs.empty() && runs.back().attribute == attributes[f] && runs.back().firstFace + runs.back().faces == f)
                ++runs.back().faces;
            else
                runs.push_back({attributes[f], f, 1});
        }
    }

    IDirect3DDevice9* device;
    DWORD faceCount, vertices, options, fvf;
    UINT stride;
    IDirect3DVertexBuffer9* vertexBuffer;
    IDirect3DIndexBuffer9* indexBuffer;
    std::vector<DWORD> attributes;
    std::vector<Run> runs;
    ULONG references = 1;
};

D3DPOOL poolOf(DWORD options, DWORD systemBit, DWORD managedBit) {
    if (options & systemBit) return D3DPOOL_SYSTEMMEM;
    if (options & managedBit) return D3DPOOL_MANAGED;
    return D3DPOOL_DEFAULT;
}

HRESULT Mesh::CloneMeshFVF(DWORD opts, DWORD format, IDirect3DDevice9* target, ID3DXMesh** clone) {
    if (!clone || !target) return D3DERR_INVALIDCALL;
    *clone = nullptr;
    ID3DXMesh* copy = nullptr;
    HRESULT hr = D3DXCreateMeshFVF(faceCount, vertices, opts, format, target, &copy);
    if (FAILED(hr)) return hr;
    const Fields from(fvf), to(format);
    const UINT toStride = copy->GetNumBytesPerVertex();
    uint8_t *src = nullptr, *dst = nullptr;
    vertexBuffer->Lock(0, 0, reinterpret_cast<void**>(&src), D3DLOCK_READONLY);
    copy->LockVertexBuffer(0, reinterpret_cast<void**>(&dst));
    for (DWORD i = 0; i < vertices; ++i) {
        const uint8_t* s = src + size_t(i) * stride;
        uint8_t* d = dst + size_t(i) * toStride;
        std::memcpy(d, s, 12);
        if (to.normal >= 0 && from.normal >= 0) std::memcpy(d + to.normal, s + from.normal, 12);
        if (to.diffuse >= 0) {
            uint32_t white = 0xFFFFFFFF;
            std::memcpy(d + to.diffuse, from.diffuse >= 0 ? s + from.diffuse : reinterpret_cast<uint8_t*>(&white), 4);
        }
        if (to.tex >= 0 && from.tex >= 0) std::memcpy(d + to.tex, s + from.tex, 8);
    }
    copy->UnlockVertexBuffer();
    vertexBuffer->Unlock();
    void *srcIndices = nullptr, *dstIndices = nullptr;
    indexBuffer->Lock(0, 0, &srcIndices, D3DLOCK_READONLY);
    copy->LockIndexBuffer(0, &dstIndices);
    const bool wide = (options & D3DXMESH_32BIT) != 0, toWide = (opts & D3DXMESH_32BIT) != 0;
    for (size_t k = 0; k < size_t(faceCount) * 3; ++k) {
        uint32_t index = wide ? static_cast<uint32_t*>(srcIndices)[k] : static_cast<uint16_t*>(srcIndices)[k];
        if (toWide)
            static_cast<uint32_t*>(dstIndices)[k] = index;
        else
            static_cast<uint16_t*>(dstIndices)[k] = uint16_t(index);
    }
    copy->UnlockIndexBuffer();
    indexBuffer->Unlock();
    DWORD* attributeData = nullptr;
    copy->LockAttributeBuffer(0, &attributeData);
    std::copy(attributes.begin(), attributes.end(), attributeData);
    copy->UnlockAttributeBuffer();
    *clone = copy;
    return D3D_OK;
}

}  // namespace

HRESULT D3DXCreateMeshFVF(DWORD numFaces, DWORD numVertices, DWORD options, DWORD fvf, IDirect3DDevice9* device,
                          ID3DXMesh** mesh) {
    if (!mesh || !device || numFaces == 0 || numVertices == 0) return D3DERR_INVALIDCALL;
    *mesh = nullptr;
    const UINT stride = strideOf(fvf);
    if (stride == 0) return D3DERR_INVALIDCALL;
    const bool wide = (options & D3DXMESH_32BIT) != 0;
    if (!wide && numVertices > 65535) return D3DERR_INVALIDCALL;
    if (uint64_t(numVertices) * stride > (1u << 28) || uint64_t(numFaces) * 3 * 4 > (1u << 28))
        return E_OUTOFMEMORY;
    IDirect3DVertexBuffer9* vb = nullptr;
    IDirect3DIndexBuffer9* ib = nullptr;
    HRESULT hr = device->CreateVertexBuffer(numVertices * stride, 0, fvf,
                                            poolOf(options, D3DXMESH_VB_SYSTEMMEM, D3DXMESH_VB_MANAGED), &vb, nullptr);
    if (FAILED(hr)) return hr;
    hr = device->CreateIndexBuffer(numFaces * 3 * (wide ? 4 : 2), 0, wide ? D3DFMT_INDEX32 : D3DFMT_INDEX16,
                                   poolOf(options, D3DXMESH_IB_SYSTEMMEM, D3DXMESH_IB_MANAGED), &ib, nullptr);
    if (FAILED(hr)) {
        vb->Release();
        return hr;
    }
    *mesh = new Mesh(device, numFaces, numVertices, options, fvf, vb, ib);
    return D3D_OK;
}

HRESULT D3DXLoadMeshFromXA(LPCSTR path, DWORD options, IDirect3DDevice9* device, ID3DXBuffer** adjacency,
                           ID3DXBuffer** materials, ID3DXBuffer** effectInstances, DWORD* materialCount,
                           ID3DXMesh** mesh) {
    if (!path || !mesh || !device) return D3DERR_INVALIDCALL;
    *mesh = nullptr;
    if (adjacency) *adjacency = nullptr;
    if (materials) *materials = nullptr;
    if (effectInstances) *effectInstances = nullptr;
    if (materialCount) *materialCount = 0;

    std::string hostPath = platform::hostPath(path);
    FILE* file = std::fopen(hostPath.c_str(), "rb");
    if (!file) return static_cast<HRESULT>(0x80070002u);  // file not found
    std::vector<uint8_t> bytes;
    uint8_t chunk[65536];
    size_t got;
    bool tooBig = false;
    while ((got = std::fread(chunk, 1, sizeof chunk, file)) > 0) {
        if (bytes.size() + got > xfile::maxFileBytes) {
            tooBig = true;
            break;
        }
        bytes.insert(bytes.end(), chunk, chunk + got);
    }
    // A directory opens but reads nothing; it fails below as an empty file.
    bool readError = std::ferror(file) != 0;
    std::fclose(file);
    if (tooBig) return E_OUTOFMEMORY;
    if (readError && bytes.empty()) return static_cast<HRESULT>(0x80070005u);

    xfile::Mesh data;
    std::string error;
    HRESULT hr = xfile::parse(bytes.data(), bytes.size(), data, error);
    if (FAILED(hr)) return hr;

    DWORD fvf = D3DFVF_XYZ;
    if (data.hasNormals) fvf |= D3DFVF_NORMAL;
    if (data.hasColors) fvf |= D3DFVF_DIFFUSE;
    if (data.hasTexCoords) fvf |= D3DFVF_TEX1;
    ID3DXMesh* result = nullptr;
    const DWORD faces = DWORD(data.indices.size() / 3);
    hr = D3DXCreateMeshFVF(faces, DWORD(data.vertices.size()), options & ~D3DXMESH_32BIT, fvf, device, &result);
    if (FAILED(hr)) return hr;
    const Fields fields(fvf);
    const UINT stride = result->GetNumBytesPerVertex();
    uint8_t* vertices = nullptr;
    result->LockVertexBuffer(0, reinterpret_cast<void**>(&vertices));
    for (size_t i = 0; i < data.vertices.size(); ++i) {
        uint8_t* v = vertices + i * stride;
        const xfile::Vertex& s = data.vertices[i];
        std::memcpy(v, s.position, 12);
        if (fields.normal >= 0) std::memcpy(v + fields.normal, s.normal, 12);
        if (fields.diffuse >= 0) std::memcpy(v + fields.diffuse, &s.color, 4);
        if (fields.tex >= 0) std::memcpy(v + fields.tex, s.uv, 8);
    }
    result->UnlockVertexBuffer();
    uint16_t* indices = nullptr;
    result->LockIndexBuffer(0, reinterpret_cast<void**>(&indices));
    for (size_t k = 0; k < data.indices.size(); ++k) indices[k] = uint16_t(data.indices[k]);
    result->UnlockIndexBuffer();
    DWORD* attributes = nullptr;
    result->LockAttributeBuffer(0, &attributes);
    std::copy(data.attributes.begin(), data.attributes.end(), attributes);
    result->UnlockAttributeBuffer();
    *mesh = result;
    return D3D_OK;
}

HRESULT D3DXComputeNormals(ID3DXMesh* mesh, const DWORD*) {
    if (!mesh) return D3DERR_INVALIDCALL;
    const DWORD fvf = mesh->GetFVF();
    if (!(fvf & D3DFVF_NORMAL) || (fvf & D3DFVF_POSITION_MASK) != D3DFVF_XYZ) return D3DERR_INVALIDCALL;
    if (mesh->GetOptions() & D3DXMESH_WRITEONLY) return D3DERR_INVALIDCALL;
    const UINT stride = mesh->GetNumBytesPerVertex();
    const DWORD count = mesh->GetNumVertices();
    const int normalOffset = 12;
    uint8_t* vertices = nullptr;
    void* indexData = nullptr;
    if (FAILED(mesh->LockVertexBuffer(0, reinterpret_cast<void**>(&vertices)))) return D3DERR_INVALIDCALL;
    if (FAILED(mesh->LockIndexBuffer(D3DLOCK_READONLY, &indexData))) {
        mesh->UnlockVertexBuffer();
        return D3DERR_INVALIDCALL;
    }
    auto position = [&](DWORD i, float out[3]) { std::memcpy(out, vertices + size_t(i) * stride, 12); };
    auto normal = [&](DWORD i) { return reinterpret_cast<float*>(vertices + size_t(i) * stride + normalOffset); };
    for (DWORD i = 0; i < count; ++i) {
        float zero[3] = {0, 0, 0};
        std::memcpy(normal(i), zero, 12);
    }
    const bool wide = (mesh->GetOptions() & D3DXMESH_32BIT) != 0;
    const DWORD faces = mesh->GetNumFaces();
    for (DWORD f = 0; f < faces; ++f) {
        DWORD idx[3];
        for (int c = 0; c < 3; ++c)
            idx[c] = wide ? static_cast<uint32_t*>(indexData)[f * 3 + c] : static_cast<uint16_t*>(indexData)[f * 3 + c];
        if (idx[0] >= count || idx[1] >= count || idx[2] >= count) continue;
        float p0[3], p1[3], p2[3];
        position(idx[0], p0);
        position(idx[1], p1);
        position(idx[2], p2);
        float a[3] = {p1[0] - p0[0], p1[1] - p0[1], p1[2] - p0[2]};
        float b[3] = {p2[0] - p0[0], p2[1] - p0[1], p2[2] - p0[2]};
        // Not normalised: larger faces weigh more.
        float n[3] = {a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0]};
        for (int c = 0; c < 3; ++c) {
            float* target = normal(idx[c]);
            float sum[3];
            std::memcpy(sum, target, 12);
            for (int j = 0; j < 3; ++j) sum[j] += n[j];
            std::memcpy(target, sum, 12);
        }
    }
    for (DWORD i = 0; i < count; ++i) {
        float v[3];
        std::memcpy(v, normal(i), 12);
        D3DXVECTOR3 in(v[0], v[1], v[2]), out;
        D3DXVec3Normalize(&out, &in);
        float r[3] = {out.x, out.y, out.z};
        std::memcpy(normal(i), r, 12);
    }
    mesh->UnlockIndexBuffer();
    mesh->UnlockVertexBuffer();
    return D3D_OK;
}
