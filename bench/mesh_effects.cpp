// The per-vertex effects on a 10 000-vertex mesh, as the scenes run them every frame. The
// "allocations" counter is the number of heap allocations per call; it must stay 0.
#include <benchmark/benchmark.h>

#include <atomic>
#include <cmath>
#include <cstdlib>
#include <new>
#include <vector>

#include "anim/noise.h"

namespace {

std::atomic<long> allocations{0};

// Kept out of line so the compiler does not pair malloc with the replaced delete and warn.
[[gnu::noinline]] void* heapAllocate(std::size_t size) {
    return std::malloc(size ? size : 1);
}
[[gnu::noinline]] void heapFree(void* p) {
    std::free(p);
}

}  // namespace

void* operator new(std::size_t size) {
    allocations.fetch_add(1, std::memory_order_relaxed);
    if (void* p = heapAllocate(size)) return p;
    throw std::bad_alloc();
}
void operator delete(void* p) noexcept {
    heapFree(p);
}
void operator delete(void* p, std::size_t) noexcept {
    heapFree(p);
}

namespace {

// Vertices in plain memory: position, normal, uv.
class MemoryMesh : public ID3DXMesh {
public:
    static constexpr DWORD stride = 32;

    explicit MemoryMesh(DWORD count) : count(count), bytes(size_t(count) * stride / sizeof(float)) {
        // A 100 x 100 sheet, bent so that every axis varies.
        for (DWORD i = 0; i < count; ++i) {
            float* v = bytes.data() + size_t(i) * stride / sizeof(float);
            const float u = float(i % 100) / 10 - 5, w = float(i / 100) / 10 - 5;
            v[0] = u;
            v[1] = w;
            v[2] = std::sin(u) * std::cos(w);
            v[3] = v[4] = 0;
            v[5] = 1;
        }
    }

    HRESULT QueryInterface(REFIID, void**) override { return E_NOINTERFACE; }
    ULONG AddRef() override { return 1; }
    ULONG Release() override { return 1; }
    HRESULT DrawSubset(DWORD) override { return D3D_OK; }
    DWORD GetNumFaces() override { return 0; }
    DWORD GetNumVertices() override { return count; }
    DWORD GetFVF() override { return D3DFVF_XYZ | D3DFVF_NORMAL | D3DFVF_TEX1; }
    DWORD GetNumBytesPerVertex() override { return stride; }
    DWORD GetOptions() override { return D3DXMESH_MANAGED; }
    HRESULT GetDevice(IDirect3DDevice9**) override { return E_NOTIMPL; }
    HRESULT CloneMeshFVF(DWORD, DWORD, IDirect3DDevice9*, ID3DXMesh**) override { return E_NOTIMPL; }
    HRESULT GetVertexBuffer(IDirect3DVertexBuffer9**) override { return E_NOTIMPL; }
    HRESULT GetIndexBuffer(IDirect3DIndexBuffer9**) override { return E_NOTIMPL; }
    HRESULT LockVertexBuffer(DWORD, void** data) override {
        *data = bytes.data();
        return D3D_OK;
    }
    HRESULT UnlockVertexBuffer() override { return D3D_OK; }
    HRESULT LockIndexBuffer(DWORD, void**) override { return E_NOTIMPL; }
    HRESULT UnlockIndexBuffer() override { return E_NOTIMPL; }
    HRESULT LockAttributeBuffer(DWORD, DWORD**) override { return E_NOTIMPL; }
    HRESULT UnlockAttributeBuffer() override { return E_NOTIMPL; }

private:
    DWORD count;
    std::vector<float> bytes;
};

constexpr DWORD vertexCount = 10000;

template <typename Effect>
void runEffect(benchmark::State& state, Effect effect) {
    fillNoiseTable();
    MemoryMesh source(vertexCount), target(vertexCount);
    float phase = 0;
    const long before = allocations.load();
    for (auto _ : state) {
        effect(&source, &target, phase);
        phase += 0.01f;  // a new frame each time, as in the show
        benchmark::ClobberMemory();
    }
    state.counters["allocations"] =
        benchmark::Counter(double(allocations.load() - before), benchmark::Counter::kAvgIterations);
    state.SetItemsProcessed(int64_t(state.iterations()) * vertexCount);
}

void deformSeparate(benchmark::State& state) {
    runEffect(state,
              [](ID3DXMesh* s, ID3DXMesh* t, float p) { deformMesh(s, t, 1.0f, p, 1.0f, 1.0f, 1.0f); });
}
void deformInPlace(benchmark::State& state) {
    // In place the mesh drifts a little further each frame, as only the show's working copy would.
    runEffect(state, [](ID3DXMesh*, ID3DXMesh* t, float p) { deformMesh(t, t, 2.0f, p, 0.5f, 0.5f, 0.0f); });
}
void twist(benchmark::State& state) {
    runEffect(state, [](ID3DXMesh* s, ID3DXMesh* t, float p) { twistMesh(s, t, 0.3f + p); });
}
void wave(benchmark::State& state) {
    runEffect(state, [](ID3DXMesh* s, ID3DXMesh* t, float p) { waveMeshX(s, t, 10.0f, p, 0.2f); });
}
void ripple(benchmark::State& state) {
    runEffect(state, [](ID3DXMesh* s, ID3DXMesh* t, float p) { rippleMeshZ(s, t, 1.0f, p, 2.0f); });
}

}  // namespace

BENCHMARK(deformSeparate)->Unit(benchmark::kMicrosecond);
BENCHMARK(deformInPlace)->Unit(benchmark::kMicrosecond);
BENCHMARK(twist)->Unit(benchmark::kMicrosecond);
BENCHMARK(wave)->Unit(benchmark::kMicrosecond);
BENCHMARK(ripple)->Unit(benchmark::kMicrosecond);

BENCHMARK_MAIN();
