// Shared pieces of the renderer's stages: the vertex after the vertex stage, and the per-draw setup
// the pixel stage runs from.
#pragma once

#include <cstdint>

#include "gfx/raster/raster.h"

namespace raster {

// Attributes carried from the vertex stage to the pixels: diffuse, specular, and (u, v) per stage.
constexpr int attributeCount = 8 + 2 * maxTextureStages;

struct ClipVertex {
    float x, y, z, w;  // clip space, or screen space for pre-transformed input
    float attributes[attributeCount];
};

struct ScreenVertex {
    float x, y, z;  // pixel coordinates and depth in [0, 1]
    float q;        // 1/w, for perspective-correct attributes
    float attributes[attributeCount];
};

// How one draw's pixels are shaded, resolved once from the state.
struct PixelSetup {
    const State* state;
    const Target* target;
    int activeStages;        // stages that run before the first disabled one
    int attributes;          // attributes in use: 8 colour + 2 per active stage
    bool flatShade;
    int clipX0, clipY0, clipX1, clipY1;  // inclusive-exclusive pixel rectangle (viewport and targets)
    int rowCount = 1;                    // rows are shared out among this many workers
    int rowIndex = 0;                    // this worker's rows: y % rowCount == rowIndex
};

// Vertex stage: fills `out` for `count` vertices of the draw, taken through `index`.
void processVertices(const State& state, const Geometry& geometry, const uint32_t* vertexIndices, int count,
                     int activeStages, ClipVertex* out);

// Whether the draw is pre-transformed (screen-space vertices).
inline bool isPretransformed(uint32_t fvf) { return (fvf & 0x400E) == 0x004; }

int countActiveStages(const State& state);

void rasterizeTriangle(const PixelSetup& setup, const ScreenVertex& a, const ScreenVertex& b,
                       const ScreenVertex& c, bool cull);

void sampleTexture(const Texture& texture, const Sampler& sampler, float u, float v, float lod, float out[4]);

// A texel index i on an axis of n texels, brought inside by the addressing mode (border as clamp;
// whether a border texel is meant is the caller's question).
inline int addressTexel(int i, int n, Address mode) {
    switch (mode) {
        case Address::Clamp:
        case Address::Border:
            return i < 0 ? 0 : (i >= n ? n - 1 : i);
        case Address::Mirror:
        case Address::MirrorOnce: {
            int period = 2 * n;
            int m = ((i % period) + period) % period;
            return m < n ? m : period - 1 - m;
        }
        default: {
            int m = i % n;
            return m < 0 ? m + n : m;
        }
    }
}

}  // namespace raster
