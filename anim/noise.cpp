#include "anim/noise.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <new>

float noiseTable[noiseTableSize];

void fillNoiseTable() {
    // The float nearest 1/65535; the table's values depend on this exact bit pattern.
    const float scale = std::bit_cast<float>(0x37800080u);
    uint32_t state = 0;
    for (int i = 0; i < noiseTableSize; ++i) {
        state = state * 214013u + 2531011u;
        const uint32_t draw = (state >> 16) & 0x7FFF;
        noiseTable[i] = static_cast<float>(draw) * scale;
    }
}

namespace {

// Beyond 2^24 every float is a whole number, so reducing by the table period changes nothing and
// keeps the index conversion below in range.
constexpr float wholeNumbersOnly = 16777216.0f;

inline float catmullRom(float x) {
    if (!(std::fabs(x) < wholeNumbersOnly)) {
        if (!std::isfinite(x)) return std::numeric_limits<float>::quiet_NaN();
        x = std::fmod(x, static_cast<float>(noiseTableSize));
    }
    // Truncation after subtracting 1 (not floor) for negatives: at a negative whole number this
    // picks the entry below with u = 1, which the continuous spline turns into the same value.
    const int i = x >= 0 ? static_cast<int>(x) : static_cast<int>(x - 1);
    const float u = x - static_cast<float>(i);
    const float p0 = noiseTable[(i - 1) & 0xFFFF];
    const float p1 = noiseTable[i & 0xFFFF];
    const float p2 = noiseTable[(i + 1) & 0xFFFF];
    const float p3 = noiseTable[(i + 2) & 0xFFFF];
    const float u2 = u * u;
    const float u3 = u2 * u;
    return (p2 - p0) * 0.5f * (u3 - 2 * u2 + u) + (p3 - p1) * 0.5f * (u3 - u2) + p1 * (2 * u3 - 3 * u2 + 1) +
           p2 * (3 * u2 - 2 * u3);
}

constexpr DWORD positionBytes = 3 * sizeof(float);
constexpr DWORD positionAndNormalBytes = 6 * sizeof(float);

// Both vertex buffers of one effect, locked for its whole run. A mesh used as its own target is
// locked once, for writing. Any failure leaves `ready` false and nothing locked.
class VertexLocks {
public:
    VertexLocks(ID3DXMesh* source, ID3DXMesh* target) : source(source), target(target) {
        if (!source || !target) return;
        sourceStride = source->GetNumBytesPerVertex();
        targetStride = target->GetNumBytesPerVertex();
        if (sourceStride < positionBytes || targetStride < positionBytes) return;
        // A target with fewer vertices than its source gets only the ones it has room for.
        count = std::min<DWORD>(source->GetNumVertices(), target->GetNumVertices());

        void* data = nullptr;
        if (source == target) {
            if (FAILED(target->LockVertexBuffer(0, &data)) || !data) return;
            sourceData = targetData = static_cast<BYTE*>(data);
            ready = true;
            return;
        }
        if (FAILED(source->LockVertexBuffer(D3DLOCK_READONLY, &data)) || !data) return;
        sourceData = static_cast<const BYTE*>(data);
        sourceLocked = true;
        data = nullptr;
        if (FAILED(target->LockVertexBuffer(0, &data)) || !data) return;
        targetData = static_cast<BYTE*>(data);
        ready = true;
    }

    ~VertexLocks() {
        if (source == target) {
            if (ready) target->UnlockVertexBuffer();
            return;
        }
        if (sourceLocked) source->UnlockVertexBuffer();
        if (ready) target->UnlockVertexBuffer();
    }

    VertexLocks(const VertexLocks&) = delete;
    VertexLocks& operator=(const VertexLocks&) = delete;

    // Calls move(position) for every vertex with the source position in p[0..2]; move writes the
    // new position back into p. The whole source position is read before anything is written, so
    // in place and separate targets give the same result.
    template <typename Move>
    void forEachPosition(Move move) {
        if (!ready) return;
        const BYTE* from = sourceData;
        BYTE* to = targetData;
        for (DWORD i = 0; i < count; ++i, from += sourceStride, to += targetStride) {
            float p[3];
            std::memcpy(p, from, positionBytes);
            move(p);
            std::memcpy(to, p, positionBytes);
        }
    }

    bool ready = false;
    DWORD count = 0;
    DWORD sourceStride = 0;
    DWORD targetStride = 0;
    const BYTE* sourceData = nullptr;
    BYTE* targetData = nullptr;

private:
    ID3DXMesh* source;
    ID3DXMesh* target;
    bool sourceLocked = false;
};

bool hasNormalAfterPosition(ID3DXMesh* mesh) {
    const DWORD fvf = mesh->GetFVF();
    return (fvf & D3DFVF_POSITION_MASK) == D3DFVF_XYZ && (fvf & D3DFVF_NORMAL) &&
           mesh->GetNumBytesPerVertex() >= positionAndNormalBytes;
}

}  // namespace

float smoothNoise(float x) {
    return catmullRom(x);
}

void deformMesh(ID3DXMesh* source, ID3DXMesh* target, float frequency, float phase, float amplitudeX,
                float amplitudeY, float amplitudeZ) {
    VertexLocks locks(source, target);
    const float amplitude[3] = {amplitudeX, amplitudeY, amplitudeZ};
    locks.forEachPosition([&](float* p) {
        for (int c = 0; c < 3; ++c) {
            // Exact zero test: a NaN amplitude counts as non-zero.
            if (amplitude[c] != 0.0f) p[c] = catmullRom(frequency * p[c] + phase) * amplitude[c] + p[c];
        }
    });
}

void twistMesh(ID3DXMesh* source, ID3DXMesh* target, float twist) {
    VertexLocks locks(source, target);
    if (!locks.ready) return;
    // Where the turn is zero the normal is still right, so it is copied with the position; that is
    // only safe when both meshes keep a normal right after the position.
    const bool copyNormals = hasNormalAfterPosition(source) && hasNormalAfterPosition(target);
    const BYTE* from = locks.sourceData;
    BYTE* to = locks.targetData;
    for (DWORD i = 0; i < locks.count; ++i, from += locks.sourceStride, to += locks.targetStride) {
        float p[3];
        std::memcpy(p, from, positionBytes);
        const float angle = twist * p[1];
        if (angle == 0.0f) {
            std::memmove(to, from, copyNormals ? positionAndNormalBytes : positionBytes);
            continue;
        }
        const float s = std::sin(angle);
        const float c = std::cos(angle);
        const float turned[3] = {s * p[2] + c * p[0], p[1], -s * p[0] + c * p[2]};
        std::memcpy(to, turned, positionBytes);
    }
}

void waveMeshX(ID3DXMesh* source, ID3DXMesh* target, float frequency, float phase, float amplitude) {
    VertexLocks locks(source, target);
    locks.forEachPosition([&](float* p) {
        if (amplitude != 0.0f) p[0] = std::sin(frequency * p[1] + phase) * amplitude + p[0];
    });
}

void rippleMeshZ(ID3DXMesh* source, ID3DXMesh* target, float frequency, float phase, float amplitude) {
    VertexLocks locks(source, target);
    locks.forEachPosition([&](float* p) {
        if (amplitude != 0.0f) {
            const float radius = std::sqrt(p[0] * p[0] + p[1] * p[1]);
            p[2] = std::sin(radius * frequency + phase) * amplitude + p[2];
        }
    });
}

float* computeRadialWeights(ID3DXMesh* mesh) {
    if (!mesh) return nullptr;
    const DWORD stride = mesh->GetNumBytesPerVertex();
    const DWORD count = mesh->GetNumVertices();
    if (stride < positionBytes) return nullptr;
    void* data = nullptr;
    if (FAILED(mesh->LockVertexBuffer(D3DLOCK_READONLY, &data)) || !data) return nullptr;
    float* weights = new (std::nothrow) float[count];
    if (weights) {
        const BYTE* vertex = static_cast<const BYTE*>(data);
        for (DWORD i = 0; i < count; ++i, vertex += stride) {
            float p[3];
            std::memcpy(p, vertex, positionBytes);
            const float squaredDistance = p[0] * p[0] + p[1] * p[1];
            weights[i] =
                squaredDistance == 0.0f ? 0.0f : static_cast<float>(1.0 / std::pow(squaredDistance, 0.25));
        }
    }
    mesh->UnlockVertexBuffer();
    return weights;
}
