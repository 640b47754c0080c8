// Triangle setup and rasterisation (fixed-point edge functions, top-left fill rule, pixel centres on
// integer coordinates), and the per-pixel pipeline: texture stages, specular add, alpha test,
// stencil and depth, blending and the colour write mask.
//
// Each row of a triangle is cut to its exact span, and the span is shaded a chunk of pixels at a
// time, one pipeline step over the whole chunk before the next: the state is looked at once per
// chunk instead of once per pixel, and the steps are plain loops over arrays that the compiler turns
// into vector code. The hot entry is built twice, for AVX2 and for any x86-64, with the same
// operations in the same order (no fused multiply-add), so both give the same bytes.
//
// Textured runs without depth or stencil, the bulk of the show's pixels, take a hand-written AVX2
// span instead where the machine has it (see texturedSpanAvx2).
#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdint>
#include <cstring>

#if defined(__x86_64__) && defined(__GNUC__)
#include <immintrin.h>
#endif

#include "gfx/raster/internal.h"

#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__) && !defined(__SANITIZE_ADDRESS__)
#define RASTER_CLONES __attribute__((target_clones("avx2", "default")))
#else
#define RASTER_CLONES
#endif
// Everything a chunk runs is inlined into it, so each build of the chunk is vector code throughout.
#define RASTER_INLINE [[gnu::always_inline]] inline

namespace raster {

namespace {

constexpr float subpixel = float(1 << subpixelBits);
constexpr int chunk = 64;

// NaN becomes 0, so a broken attribute can never turn into a wild byte.
// Written as a max then a min, which map straight onto the vector instructions.
inline float clamp01(float v) {
    const float low = v > 0.0f ? v : 0.0f;
    return low < 1.0f ? low : 1.0f;
}

inline uint32_t toByte(float v) { return uint32_t(int32_t(clamp01(v) * 255.0f + 0.5f)); }

// In double: a float cannot hold 2^24 - 1 + 0.5, and 1.0 would round past the largest depth.
inline uint32_t toDepth(float z) { return uint32_t(int32_t(double(clamp01(z)) * 16777215.0 + 0.5)); }

inline void unpack(uint32_t c, float out[4]) {
    constexpr float scale = 1.0f / 255.0f;
    out[0] = float((c >> 16) & 0xFF) * scale;
    out[1] = float((c >> 8) & 0xFF) * scale;
    out[2] = float(c & 0xFF) * scale;
    out[3] = float(c >> 24) * scale;
}

inline bool compare(uint32_t func, uint32_t a, uint32_t b) {
    switch (func) {
        case 1: return false;
        case 2: return a < b;
        case 3: return a == b;
        case 4: return a <= b;
        case 5: return a > b;
        case 6: return a != b;
        case 7: return a >= b;
        default: return true;
    }
}

inline uint32_t stencilOp(uint32_t op, uint32_t value, uint32_t ref) {
    switch (op) {
        case 2: return 0;
        case 3: return ref & 0xFF;
        case 4: return value < 255 ? value + 1 : 255;
        case 5: return value > 0 ? value - 1 : 0;
        case 6: return ~value & 0xFF;
        case 7: return (value + 1) & 0xFF;
        case 8: return (value - 1) & 0xFF;
        default: return value;
    }
}

struct Plane {
    float c, dx, dy;
};

std::atomic<bool> specialisedSpans{true};

// Where the pixels of a chunk stand in the pipeline: their attributes, colours and survival.
struct Lanes {
    // Where the pixels are: a chunk gathers covered pixels of a triangle row after row, so small
    // triangles fill it as well as large ones do.
    int n;
    bool contiguous;       // one run of a row: the target is read and written in place
    uint32_t* colorBase;   // the target's colour words, indexed by colorIndex
    uint32_t* depthBase;   // the depth words, indexed by depthIndex; null where the surface does not reach
    int32_t colorIndex[chunk];
    int32_t depthIndex[chunk];
    float fx[chunk];
    float fy[chunk];
    uint32_t stored[chunk];  // depth and stencil words as read, updated in place
    uint32_t pixel[chunk];   // colour words as read
    float w[chunk];
    float attributes[attributeCount][chunk];
    float current[4][chunk];
    float temp[4][chunk];
    float texel[4][chunk];
    float lod[chunk];
    float levels[4][4][chunk];  // samples of the mip levels a chunk spans
    float args[3][4][chunk];
    float result[4][chunk];
    float dst[4][chunk];
    uint32_t depth[chunk];
    int32_t alive[chunk];
};

#if defined(__x86_64__) && defined(__GNUC__)
#define RASTER_AVX2_SPANS 1

struct SpanLevel {
    const uint32_t* texels;
    int width, height;
    bool maskU, maskV;  // wrap on a power-of-two size; otherwise clamp
    int rowShift;       // log2 of a power-of-two width, or -1
};

struct TexturedSpan {
    bool textured;         // false: the diffuse colour alone
    SpanLevel levels[2];   // the mip level sampled, and the next one when two are blended
    float levelWeight;     // weight of the second level; 0 for one level
    bool linear;           // bilinear, or nearest texel
    bool opaque;
    bool alphaTest;
    uint32_t alphaRef;
    int blend;             // 0 none, 1 source alpha over, 2 source alpha added, 3 added
    uint32_t writeMask;
    bool depthWrite;       // the test itself is on when the run is given depth words
    uint32_t depthFunc;
    float uRow, uDx, vRow, vDx;      // texture coordinates over x, perspective already divided
    bool saneCoordinates;            // finite and well inside the sampler's bounds along the run
    float colorRow[4], colorDx[4];   // diffuse over x (alpha, red, green, blue order as in the word)
    float zC, zDx, zRow;             // depth: (zC + zDx * x) + zRow, as the general path sums it
};

#endif

// What a triangle's pixels need, resolved once per triangle.
struct Shader {
    const State* state;
    int stages;
    bool flat;
    bool affine;  // 1/w is the same everywhere: pre-transformed or parallel to the screen
    bool used[attributeCount];
    Plane z, q;
    Plane planes[attributeCount];
    float factor[4];
    bool modulates[maxTextureStages];
    bool needsLod[maxTextureStages];
    bool depthTest, stencilTest, earlyReject;
    int blend;  // 0 none, 1 source alpha over, 2 source alpha added, 3 anything else
    bool fused;  // whether the one-pass textured span can draw the triangle's runs
#ifdef RASTER_AVX2_SPANS
    TexturedSpan span;  // its settings but for the row terms
#endif
    uint32_t writeMask;
};

// --- texture sampling over a chunk -------------------------------------------------------------

// Wrap on a power-of-two size is a mask; clamp is a min/max; both vectorise.
struct Axis {
    int n;
    Address mode;
    int kind;  // 0 mask, 1 clamp, 2 general
    int mask;
    Axis(int size, Address m) : n(size), mode(m) {
        if (m == Address::Wrap && (n & (n - 1)) == 0) {
            kind = 0;
            mask = n - 1;
        } else if (m == Address::Clamp) {
            kind = 1;
            mask = 0;
        } else {
            kind = 2;
            mask = 0;
        }
    }
};

RASTER_INLINE void resolveAxis(const Axis& axis, const int* in, int* out, int n) {
    if (axis.kind == 0) {
        for (int i = 0; i < n; ++i) out[i] = in[i] & axis.mask;
    } else if (axis.kind == 1) {
        const int last = axis.n - 1;
        for (int i = 0; i < n; ++i) out[i] = in[i] < 0 ? 0 : (in[i] > last ? last : in[i]);
    } else {
        for (int i = 0; i < n; ++i) out[i] = addressTexel(in[i], axis.n, axis.mode);
    }
}

inline float sanitize(float u) {
    // Bound the coordinates so huge values cannot overflow the integer texel index.
    const float number = u == u ? u : 0.0f;
    const float low = number > -1.0e6f ? number : -1.0e6f;
    return low < 1.0e6f ? low : 1.0e6f;
}

template <bool Opaque>
RASTER_INLINE void fetchBilinear(const uint32_t* texels, const int* a, const int* b, const int* c, const int* d, const float* wx,
                   const float* wy, int n, float (*out)[chunk]) {
    constexpr float scale = 1.0f / 255.0f;
    for (int i = 0; i < n; ++i) {
        const uint32_t t00 = texels[a[i]], t10 = texels[b[i]], t01 = texels[c[i]], t11 = texels[d[i]];
        for (int k = 0; k < 4; ++k) {
            const int shift = k == 3 ? 24 : 16 - 8 * k;
            float c00, c10, c01, c11;
            if (Opaque && k == 3) {
                c00 = c10 = c01 = c11 = 1.0f;
            } else {
                c00 = float(int32_t((t00 >> shift) & 0xFF)) * scale;
                c10 = float(int32_t((t10 >> shift) & 0xFF)) * scale;
                c01 = float(int32_t((t01 >> shift) & 0xFF)) * scale;
                c11 = float(int32_t((t11 >> shift) & 0xFF)) * scale;
            }
            const float top = c00 + (c10 - c00) * wx[i];
            const float bottom = c01 + (c11 - c01) * wx[i];
            out[k][i] = top + (bottom - top) * wy[i];
        }
    }
}

template <bool Opaque>
RASTER_INLINE void fetchPoint(const uint32_t* texels, const int* a, int n, float (*out)[chunk]) {
    constexpr float scale = 1.0f / 255.0f;
    for (int i = 0; i < n; ++i) {
        const uint32_t c = texels[a[i]];
        out[0][i] = float(int32_t((c >> 16) & 0xFF)) * scale;
        out[1][i] = float(int32_t((c >> 8) & 0xFF)) * scale;
        out[2][i] = float(int32_t(c & 0xFF)) * scale;
        out[3][i] = Opaque ? 1.0f : float(int32_t(c >> 24)) * scale;
    }
}

// One level, one filter, every lane of the chunk; border addressing goes through the per-pixel sampler.
RASTER_INLINE void sampleLevelLanes(const TextureLevel& level, const Sampler& sampler, bool opaque, Filter filter,
                             const float* u, const float* v, int n, float (*out)[chunk]) {
    const Axis ax(level.width, sampler.addressU), ay(level.height, sampler.addressV);
    const float width = float(level.width), height = float(level.height);
    int x0[chunk], y0[chunk], xa[chunk], xb[chunk], ya[chunk], yb[chunk];
    if (filter != Filter::Linear) {
        for (int i = 0; i < n; ++i) {
            x0[i] = int(std::floor(sanitize(u[i]) * width));
            y0[i] = int(std::floor(sanitize(v[i]) * height));
        }
        resolveAxis(ax, x0, xa, n);
        resolveAxis(ay, y0, ya, n);
        for (int i = 0; i < n; ++i) xa[i] += ya[i] * level.width;
        if (opaque)
            fetchPoint<true>(level.texels, xa, n, out);
        else
            fetchPoint<false>(level.texels, xa, n, out);
        return;
    }
    float wx[chunk], wy[chunk];
    for (int i = 0; i < n; ++i) {
        const float sx = sanitize(u[i]) * width - 0.5f, ty = sanitize(v[i]) * height - 0.5f;
        const float fx = std::floor(sx), fy = std::floor(ty);
        x0[i] = int(fx);
        y0[i] = int(fy);
        wx[i] = sx - fx;
        wy[i] = ty - fy;
    }
    resolveAxis(ax, x0, xa, n);
    resolveAxis(ay, y0, ya, n);
    for (int i = 0; i < n; ++i) x0[i] += 1;
    for (int i = 0; i < n; ++i) y0[i] += 1;
    resolveAxis(ax, x0, xb, n);
    resolveAxis(ay, y0, yb, n);
    int a[chunk], b[chunk], c[chunk], d[chunk];
    for (int i = 0; i < n; ++i) {
        const int rowA = ya[i] * level.width, rowB = yb[i] * level.width;
        a[i] = rowA + xa[i];
        b[i] = rowA + xb[i];
        c[i] = rowB + xa[i];
        d[i] = rowB + xb[i];
    }
    if (opaque)
        fetchBilinear<true>(level.texels, a, b, c, d, wx, wy, n, out);
    else
        fetchBilinear<false>(level.texels, a, b, c, d, wx, wy, n, out);
}

// Every lane picks its own mip level (or two, to blend); a chunk usually spans one or two levels, so
// each level in use is sampled for the whole chunk and every lane takes what it needs from them.
RASTER_INLINE void sampleLanes(const Texture& texture, const Sampler& sampler, const float* u, const float* v,
                               const float* lod, int n, float (*out)[chunk], float (*scratch)[4][chunk]) {
    const bool border = sampler.addressU == Address::Border || sampler.addressV == Address::Border;
    if (!lod && texture.levelCount > 0 && !border) {
        sampleLevelLanes(texture.levels[0], sampler, texture.opaque, sampler.mag, u, v, n, out);
        return;
    }
    if (texture.levelCount > 0 && !border) {
        int level[chunk];
        float weight[chunk];
        int32_t magnified[chunk];
        const float maxLevel = float(texture.levelCount - 1);
        const bool mipmapped = sampler.mip != Filter::None && texture.levelCount > 1;
        for (int i = 0; i < n; ++i) {
            const float l = lod ? lod[i] : 0.0f;
            magnified[i] = l <= 0.0f;
            int chosen = 0;
            float blend = 0.0f;
            if (!magnified[i] && mipmapped) {
                if (sampler.mip == Filter::Point) {
                    const float rounded = std::floor(l + 0.5f);
                    chosen = int(rounded < maxLevel ? rounded : maxLevel);
                } else {
                    const float clamped = l < maxLevel ? l : maxLevel;
                    chosen = int(std::floor(clamped));
                    blend = chosen + 1 < texture.levelCount ? clamped - float(chosen) : 0.0f;
                }
            }
            level[i] = chosen;
            weight[i] = blend;
        }
        // Where both filters are the same, a magnified lane is just a lane on level 0.
        const bool separateMag = sampler.mag != sampler.min;
        int low = texture.levelCount, high = -1;
        bool anyMag = false;
        for (int i = 0; i < n; ++i) {
            if (separateMag && magnified[i]) {
                anyMag = true;
                continue;
            }
            low = std::min(low, level[i]);
            high = std::max(high, level[i] + (weight[i] > 0.0f ? 1 : 0));
        }
        const int levels = high >= low ? high - low + 1 : 0;
        if (levels + (anyMag ? 1 : 0) <= 4) {
            for (int j = 0; j < levels; ++j)
                sampleLevelLanes(texture.levels[low + j], sampler, texture.opaque, sampler.min, u, v, n, scratch[j]);
            if (anyMag)
                sampleLevelLanes(texture.levels[0], sampler, texture.opaque, sampler.mag, u, v, n, scratch[levels]);
            if (levels == 1 && !anyMag) {
                for (int k = 0; k < 4; ++k)
                    for (int i = 0; i < n; ++i) out[k][i] = scratch[0][k][i];
                return;
            }
            if (levels == 0) {
                for (int k = 0; k < 4; ++k)
                    for (int i = 0; i < n; ++i) out[k][i] = scratch[0][k][i];
                return;
            }
            for (int i = 0; i < n; ++i) {
                if (separateMag && magnified[i]) {
                    for (int k = 0; k < 4; ++k) out[k][i] = scratch[levels][k][i];
                    continue;
                }
                const float(*first)[chunk] = scratch[level[i] - low];
                if (weight[i] > 0.0f) {
                    const float(*second)[chunk] = scratch[level[i] + 1 - low];
                    for (int k = 0; k < 4; ++k) out[k][i] = first[k][i] + (second[k][i] - first[k][i]) * weight[i];
                } else {
                    for (int k = 0; k < 4; ++k) out[k][i] = first[k][i];
                }
            }
            return;
        }
    }
    float texel[4];
    for (int i = 0; i < n; ++i) {
        sampleTexture(texture, sampler, u[i], v[i], lod ? lod[i] : 0.0f, texel);
        for (int k = 0; k < 4; ++k) out[k][i] = texel[k];
    }
}

// --- texture stages -------------------------------------------------------------------------------

struct StageSources {
    const float (*diffuse)[chunk];
    const float (*specular)[chunk];
    const float (*current)[chunk];
    const float (*texture)[chunk];
    const float (*temp)[chunk];
    const float* factor;
};

RASTER_INLINE void argumentLanes(uint32_t arg, const StageSources& in, int n, float (*out)[chunk]) {
    const float(*source)[chunk] = nullptr;
    switch (arg & 0xF) {
        case 0: source = in.diffuse; break;
        case 2: source = in.texture; break;
        case 3: break;
        case 4: source = in.specular; break;
        case 5: source = in.temp; break;
        default: source = in.current; break;
    }
    for (int k = 0; k < 4; ++k) {
        const int from = (arg & 0x20) ? 3 : k;
        if (source) {
            for (int i = 0; i < n; ++i) out[k][i] = source[from][i];
        } else {
            for (int i = 0; i < n; ++i) out[k][i] = in.factor[from];
        }
        if (arg & 0x10)
            for (int i = 0; i < n; ++i) out[k][i] = 1 - out[k][i];
    }
}

// One texture operation on one channel of every lane.
RASTER_INLINE void operateLanes(uint32_t op, const float* a1, const float* a2, const float* a0, const StageSources& in,
                  int n, float* out) {
    const float* diffuseAlpha = in.diffuse[3];
    const float* textureAlpha = in.texture[3];
    const float* currentAlpha = in.current[3];
    const float factorAlpha = in.factor[3];
    switch (op) {
        case 2: for (int i = 0; i < n; ++i) out[i] = a1[i]; break;
        case 3: for (int i = 0; i < n; ++i) out[i] = a2[i]; break;
        case 4: for (int i = 0; i < n; ++i) out[i] = a1[i] * a2[i]; break;
        case 5: for (int i = 0; i < n; ++i) out[i] = a1[i] * a2[i] * 2; break;
        case 6: for (int i = 0; i < n; ++i) out[i] = a1[i] * a2[i] * 4; break;
        case 7: for (int i = 0; i < n; ++i) out[i] = a1[i] + a2[i]; break;
        case 8: for (int i = 0; i < n; ++i) out[i] = a1[i] + a2[i] - 0.5f; break;
        case 9: for (int i = 0; i < n; ++i) out[i] = (a1[i] + a2[i] - 0.5f) * 2; break;
        case 10: for (int i = 0; i < n; ++i) out[i] = a1[i] - a2[i]; break;
        case 11: for (int i = 0; i < n; ++i) out[i] = a1[i] + a2[i] - a1[i] * a2[i]; break;
        case 12:
            for (int i = 0; i < n; ++i) out[i] = a1[i] * diffuseAlpha[i] + a2[i] * (1 - diffuseAlpha[i]);
            break;
        case 13:
            for (int i = 0; i < n; ++i) out[i] = a1[i] * textureAlpha[i] + a2[i] * (1 - textureAlpha[i]);
            break;
        case 14: for (int i = 0; i < n; ++i) out[i] = a1[i] * factorAlpha + a2[i] * (1 - factorAlpha); break;
        case 15: for (int i = 0; i < n; ++i) out[i] = a1[i] + a2[i] * (1 - textureAlpha[i]); break;
        case 16:
            for (int i = 0; i < n; ++i) out[i] = a1[i] * currentAlpha[i] + a2[i] * (1 - currentAlpha[i]);
            break;
        case 25: for (int i = 0; i < n; ++i) out[i] = a0[i] + a1[i] * a2[i]; break;
        case 26: for (int i = 0; i < n; ++i) out[i] = a0[i] * a1[i] + (1 - a0[i]) * a2[i]; break;
        default: for (int i = 0; i < n; ++i) out[i] = a1[i]; break;
    }
    for (int i = 0; i < n; ++i) out[i] = clamp01(out[i]);
}

RASTER_INLINE void runStage(const Shader& sh, int s, Lanes& L, int n) {
    const Stage& stage = sh.state->stages[s];
    if (stage.texture) {
        const float* u = L.attributes[8 + 2 * s];
        const float* v = L.attributes[9 + 2 * s];
        const float* lod = nullptr;
        if (sh.needsLod[s]) {
            // Screen-space derivatives of the perspective-correct coordinates.
            const Plane& pu = sh.planes[8 + 2 * s];
            const Plane& pv = sh.planes[9 + 2 * s];
            const float width = float(stage.texture->levels[0].width), height = float(stage.texture->levels[0].height);
            for (int i = 0; i < n; ++i) {
                const float w = L.w[i];
                const float dudx = (pu.dx - u[i] * sh.q.dx) * w * width;
                const float dvdx = (pv.dx - v[i] * sh.q.dx) * w * height;
                const float dudy = (pu.dy - u[i] * sh.q.dy) * w * width;
                const float dvdy = (pv.dy - v[i] * sh.q.dy) * w * height;
                const float x = dudx * dudx + dvdx * dvdx, y = dudy * dudy + dvdy * dvdy;
                L.lod[i] = x > y ? x : y;  // rho; the logarithm is only taken where it matters
            }
            // Only a positive level of detail changes the sample; rho <= 1 means magnification.
            for (int i = 0; i < n; ++i) L.lod[i] = L.lod[i] > 1.0f ? 0.5f * std::log2(L.lod[i]) : 0.0f;
            lod = L.lod;
        }
        sampleLanes(*stage.texture, stage.sampler, u, v, lod, n, L.texel, L.levels);
    } else {
        for (int i = 0; i < n; ++i) L.texel[0][i] = L.texel[1][i] = L.texel[2][i] = 0.0f;
        for (int i = 0; i < n; ++i) L.texel[3][i] = 1.0f;
    }
    if (sh.modulates[s]) {
        for (int k = 0; k < 4; ++k)
            for (int i = 0; i < n; ++i) L.current[k][i] *= L.texel[k][i];
        return;
    }
    const float(*diffuse)[chunk] = L.attributes;
    StageSources in{diffuse, L.attributes + 4, s == 0 ? diffuse : L.current, L.texel, L.temp, sh.factor};
    float(*a1)[chunk] = L.args[0];
    float(*a2)[chunk] = L.args[1];
    float(*a0)[chunk] = L.args[2];
    argumentLanes(stage.colorArg1, in, n, a1);
    argumentLanes(stage.colorArg2, in, n, a2);
    argumentLanes(stage.colorArg0, in, n, a0);
    if (stage.colorOp == 24) {  // dot product, replicated into every channel
        for (int i = 0; i < n; ++i) {
            const float d = 4 * ((a1[0][i] - 0.5f) * (a2[0][i] - 0.5f) + (a1[1][i] - 0.5f) * (a2[1][i] - 0.5f) +
                                 (a1[2][i] - 0.5f) * (a2[2][i] - 0.5f));
            L.result[0][i] = L.result[1][i] = L.result[2][i] = L.result[3][i] = clamp01(d);
        }
    } else {
        for (int k = 0; k < 3; ++k) operateLanes(stage.colorOp, a1[k], a2[k], a0[k], in, n, L.result[k]);
        const uint32_t alphaOp = stage.alphaOp == 1 ? 2 : stage.alphaOp;
        argumentLanes(stage.alphaArg1, in, n, a1);
        argumentLanes(stage.alphaArg2, in, n, a2);
        argumentLanes(stage.alphaArg0, in, n, a0);
        operateLanes(alphaOp, a1[3], a2[3], a0[3], in, n, L.result[3]);
    }
    float(*destination)[chunk] = (stage.resultArg & 0xF) == 5 ? L.temp : L.current;
    for (int k = 0; k < 4; ++k)
        for (int i = 0; i < n; ++i) destination[k][i] = L.result[k][i];
}

// --- blending ---------------------------------------------------------------------------------------

RASTER_INLINE void blendFactorLanes(uint32_t factor, const Lanes& L, int n, float (*out)[chunk]) {
    const float(*src)[chunk] = L.current;
    const float(*dst)[chunk] = L.dst;
    for (int k = 0; k < 4; ++k) {
        float* o = out[k];
        switch (factor) {
            case 1: for (int i = 0; i < n; ++i) o[i] = 0; break;
            case 3: for (int i = 0; i < n; ++i) o[i] = src[k][i]; break;
            case 4: for (int i = 0; i < n; ++i) o[i] = 1 - src[k][i]; break;
            case 5: for (int i = 0; i < n; ++i) o[i] = src[3][i]; break;
            case 6: for (int i = 0; i < n; ++i) o[i] = 1 - src[3][i]; break;
            case 7: for (int i = 0; i < n; ++i) o[i] = dst[3][i]; break;
            case 8: for (int i = 0; i < n; ++i) o[i] = 1 - dst[3][i]; break;
            case 9: for (int i = 0; i < n; ++i) o[i] = dst[k][i]; break;
            case 10: for (int i = 0; i < n; ++i) o[i] = 1 - dst[k][i]; break;
            case 11:
                for (int i = 0; i < n; ++i) o[i] = k == 3 ? 1.0f : std::min(src[3][i], 1 - dst[3][i]);
                break;
            case 15: for (int i = 0; i < n; ++i) o[i] = 0; break;  // 1 - the blend constant, white
            default: for (int i = 0; i < n; ++i) o[i] = 1; break;
        }
    }
}

RASTER_INLINE void blendLanes(const Shader& sh, Lanes& L, int n) {
    const State& state = *sh.state;
    float(*cur)[chunk] = L.current;
    const float(*dst)[chunk] = L.dst;
    if (sh.blend == 1) {
        for (int k = 0; k < 4; ++k)
            for (int i = 0; i < n; ++i) {
                const float a = cur[3][i];
                L.result[k][i] = cur[k][i] * a + dst[k][i] * (1 - a);
            }
    } else if (sh.blend == 2) {
        for (int k = 0; k < 4; ++k)
            for (int i = 0; i < n; ++i) L.result[k][i] = cur[k][i] * cur[3][i] + dst[k][i];
    } else if (state.blendOp == 4 || state.blendOp == 5) {
        for (int k = 0; k < 4; ++k)
            for (int i = 0; i < n; ++i)
                L.result[k][i] = state.blendOp == 4 ? std::min(cur[k][i], dst[k][i]) : std::max(cur[k][i], dst[k][i]);
    } else {
        float(*sf)[chunk] = L.args[0];
        float(*df)[chunk] = L.args[1];
        blendFactorLanes(state.srcBlend, L, n, sf);
        blendFactorLanes(state.destBlend, L, n, df);
        for (int k = 0; k < 4; ++k)
            for (int i = 0; i < n; ++i) {
                const float s = cur[k][i] * sf[k][i], d = dst[k][i] * df[k][i];
                L.result[k][i] = state.blendOp == 2 ? s - d : (state.blendOp == 3 ? d - s : s + d);
            }
    }
    for (int k = 0; k < 4; ++k)
        for (int i = 0; i < n; ++i) cur[k][i] = L.result[k][i];
}

// --- the common textured span in one pass ---------------------------------------------------------

// A textured, modulated, optionally alpha-tested and blended span without depth or stencil (full-screen
// pictures, fades over pictures, sprites drawn without depth) is the bulk of many frames. On AVX2
// machines eight pixels at a time run the whole pipeline in registers: coordinates in float as in the
// general path, colours as bytes in 16-bit lanes as fixed-function hardware blends them. A colour may
// differ from the general path's by one step of 255 where the two round differently.
#ifdef RASTER_AVX2_SPANS
// x / 255 rounded to nearest, exact for every product of two bytes: (y + (y >> 8)) >> 8 with
// y = x + 128 is the high half of y * 257.
__attribute__((target("avx2"))) static inline __m256i divide255(__m256i x) {
    return _mm256_mulhi_epu16(_mm256_add_epi16(x, _mm256_set1_epi16(128)), _mm256_set1_epi16(257));
}

// a + (b - a) * w / 128, rounded, with w in [0, 127] held as w << 8 in 16-bit lanes.
__attribute__((target("avx2"))) static inline __m256i lerp128(__m256i a, __m256i b, __m256i w) {
    return _mm256_add_epi16(a, _mm256_mulhrs_epi16(_mm256_sub_epi16(b, a), w));
}

__attribute__((target("avx2"))) static inline __m256i wrapIndex(__m256i i, bool useMask, int size) {
    if (useMask) return _mm256_and_si256(i, _mm256_set1_epi32(size - 1));
    return _mm256_min_epi32(_mm256_max_epi32(i, _mm256_setzero_si256()), _mm256_set1_epi32(size - 1));
}

// Eight texels by index. Separate loads beat the gather instruction on the machines measured.
__attribute__((target("avx2"))) static inline __m256i fetch(const uint32_t* texels, __m256i index) {
    alignas(32) int32_t at[8];
    _mm256_store_si256(reinterpret_cast<__m256i*>(at), index);
    return _mm256_setr_epi32(int(texels[at[0]]), int(texels[at[1]]), int(texels[at[2]]), int(texels[at[3]]),
                             int(texels[at[4]]), int(texels[at[5]]), int(texels[at[6]]), int(texels[at[7]]));
}

// The texels at `index` and one to the right of each, for eight pixels, in two vectors: one 64-bit
// load per pixel instead of two 32-bit ones. Only where no pixel's right neighbour wraps.
__attribute__((target("avx2"))) static inline void fetchPairs(const uint32_t* texels, __m256i index, __m256i& left,
                                                               __m256i& right) {
    // Shuffles work within 128-bit halves, so pixels 0, 1, 4, 5 are fetched first and 2, 3, 6, 7 second:
    // splitting the pairs then leaves every pixel in its place.
    const __m256i order = _mm256_permutevar8x32_epi32(index, _mm256_setr_epi32(0, 1, 4, 5, 2, 3, 6, 7));
    const long long* base = reinterpret_cast<const long long*>(texels);
    const __m256 first = _mm256_castsi256_ps(_mm256_i32gather_epi64(base, _mm256_castsi256_si128(order), 4));
    const __m256 second = _mm256_castsi256_ps(_mm256_i32gather_epi64(base, _mm256_extracti128_si256(order, 1), 4));
    left = _mm256_castps_si256(_mm256_shuffle_ps(first, second, 0x88));
    right = _mm256_castps_si256(_mm256_shuffle_ps(first, second, 0xDD));
}

__attribute__((target("avx2"))) static inline __m256i rowStart(__m256i row, __m256i stride, int shift) {
    if (shift >= 0) return _mm256_sll_epi32(row, _mm_cvtsi32_si128(shift));
    return _mm256_mullo_epi32(row, stride);
}

__attribute__((target("avx2"))) static inline __m256 sanitize(__m256 u) {
    u = _mm256_and_ps(u, _mm256_cmp_ps(u, u, _CMP_ORD_Q));  // NaN becomes 0
    return _mm256_min_ps(_mm256_max_ps(u, _mm256_set1_ps(-1.0e6f)), _mm256_set1_ps(1.0e6f));
}

// Bytes of a float colour in [0, 1], rounded as the general path rounds them.
__attribute__((target("avx2"))) static inline __m256i toBytes(__m256 v) {
    v = _mm256_min_ps(_mm256_max_ps(v, _mm256_setzero_ps()), _mm256_set1_ps(1.0f));
    return _mm256_cvttps_epi32(_mm256_add_ps(_mm256_mul_ps(v, _mm256_set1_ps(255.0f)), _mm256_set1_ps(0.5f)));
}

// One level's texels for eight pixels, as 16-bit channels: `lo` holds pixels 0, 1 and 4, 5, `hi`
// pixels 2, 3 and 6, 7.
__attribute__((target("avx2"))) static inline void sampleLevel8(const SpanLevel& level, bool linear, bool sane,
                                                                 __m256 u, __m256 v, __m256i& lo, __m256i& hi) {
    // Coordinates known to be finite and far inside the bounds need no sanitising.
    if (!sane) {
        u = sanitize(u);
        v = sanitize(v);
    }
    const __m256 width = _mm256_set1_ps(float(level.width)), height = _mm256_set1_ps(float(level.height));
    const __m256i rowStride = _mm256_set1_epi32(level.width);
    const __m256i one = _mm256_set1_epi32(1);
    const __m256i zero = _mm256_setzero_si256();
    if (!linear) {
        const __m256i xi = _mm256_cvttps_epi32(_mm256_floor_ps(_mm256_mul_ps(u, width)));
        const __m256i yi = _mm256_cvttps_epi32(_mm256_floor_ps(_mm256_mul_ps(v, height)));
        const __m256i index = _mm256_add_epi32(rowStart(wrapIndex(yi, level.maskV, level.height), rowStride, level.rowShift),
                                               wrapIndex(xi, level.maskU, level.width));
        const __m256i t = fetch(level.texels, index);
        lo = _mm256_unpacklo_epi8(t, zero);
        hi = _mm256_unpackhi_epi8(t, zero);
        return;
    }
    const __m256i maxWeight = _mm256_set1_epi32(127);
    const __m256 sx = _mm256_sub_ps(_mm256_mul_ps(u, width), _mm256_set1_ps(0.5f));
    const __m256 ty = _mm256_sub_ps(_mm256_mul_ps(v, height), _mm256_set1_ps(0.5f));
    const __m256 fx0 = _mm256_floor_ps(sx), fy0 = _mm256_floor_ps(ty);
    const __m256i xi = _mm256_cvttps_epi32(fx0), yi = _mm256_cvttps_epi32(fy0);
    // Weights in 1/128ths, as 16-bit fixed point for the rounding multiply.
    const __m256i wx = _mm256_slli_epi32(_mm256_min_epi32(_mm256_cvttps_epi32(_mm256_add_ps(
        _mm256_mul_ps(_mm256_sub_ps(sx, fx0), _mm256_set1_ps(128.0f)), _mm256_set1_ps(0.5f))), maxWeight), 8);
    const __m256i wy = _mm256_slli_epi32(_mm256_min_epi32(_mm256_cvttps_epi32(_mm256_add_ps(
        _mm256_mul_ps(_mm256_sub_ps(ty, fy0), _mm256_set1_ps(128.0f)), _mm256_set1_ps(0.5f))), maxWeight), 8);
    const __m256i xa = wrapIndex(xi, level.maskU, level.width);
    const __m256i xb = wrapIndex(_mm256_add_epi32(xi, one), level.maskU, level.width);
    const __m256i ya = rowStart(wrapIndex(yi, level.maskV, level.height), rowStride, level.rowShift);
    const __m256i yb = rowStart(wrapIndex(_mm256_add_epi32(yi, one), level.maskV, level.height), rowStride, level.rowShift);
    __m256i t00, t10, t01, t11;
    const __m256i adjacent = _mm256_cmpeq_epi32(xb, _mm256_add_epi32(xa, one));
    if (_mm256_movemask_epi8(adjacent) == -1) {
        fetchPairs(level.texels, _mm256_add_epi32(ya, xa), t00, t10);
        fetchPairs(level.texels, _mm256_add_epi32(yb, xa), t01, t11);
    } else {
        t00 = fetch(level.texels, _mm256_add_epi32(ya, xa));
        t10 = fetch(level.texels, _mm256_add_epi32(ya, xb));
        t01 = fetch(level.texels, _mm256_add_epi32(yb, xa));
        t11 = fetch(level.texels, _mm256_add_epi32(yb, xb));
    }
    // Each pixel's weight in all four of its 16-bit channels.
    const __m256i wx2 = _mm256_or_si256(wx, _mm256_slli_epi32(wx, 16));
    const __m256i wy2 = _mm256_or_si256(wy, _mm256_slli_epi32(wy, 16));
    const __m256i wxLo = _mm256_unpacklo_epi32(wx2, wx2), wxHi = _mm256_unpackhi_epi32(wx2, wx2);
    const __m256i wyLo = _mm256_unpacklo_epi32(wy2, wy2), wyHi = _mm256_unpackhi_epi32(wy2, wy2);
    const __m256i topLo = lerp128(_mm256_unpacklo_epi8(t00, zero), _mm256_unpacklo_epi8(t10, zero), wxLo);
    const __m256i topHi = lerp128(_mm256_unpackhi_epi8(t00, zero), _mm256_unpackhi_epi8(t10, zero), wxHi);
    const __m256i bottomLo = lerp128(_mm256_unpacklo_epi8(t01, zero), _mm256_unpacklo_epi8(t11, zero), wxLo);
    const __m256i bottomHi = lerp128(_mm256_unpackhi_epi8(t01, zero), _mm256_unpackhi_epi8(t11, zero), wxHi);
    lo = lerp128(topLo, bottomLo, wyLo);
    hi = lerp128(topHi, bottomHi, wyHi);
}

// Eight depths as the general path computes them: the plane in float, clamped, scaled in double.
__attribute__((target("avx2"))) static inline __m256i depth8(const TexturedSpan& s, __m256 fx) {
    __m256 z = _mm256_add_ps(_mm256_add_ps(_mm256_set1_ps(s.zC), _mm256_mul_ps(_mm256_set1_ps(s.zDx), fx)),
                             _mm256_set1_ps(s.zRow));
    z = _mm256_min_ps(_mm256_max_ps(z, _mm256_setzero_ps()), _mm256_set1_ps(1.0f));  // NaN becomes 0
    const __m256d scale = _mm256_set1_pd(16777215.0), half = _mm256_set1_pd(0.5);
    const __m128i low = _mm256_cvttpd_epi32(_mm256_add_pd(_mm256_mul_pd(_mm256_cvtps_pd(_mm256_castps256_ps128(z)), scale), half));
    const __m128i high = _mm256_cvttpd_epi32(_mm256_add_pd(_mm256_mul_pd(_mm256_cvtps_pd(_mm256_extractf128_ps(z, 1)), scale), half));
    return _mm256_inserti128_si256(_mm256_castsi128_si256(low), high, 1);
}

// Where `a func b` holds, for depths below 2^24 (signed compares suffice).
__attribute__((target("avx2"))) static inline __m256i compare8(uint32_t func, __m256i a, __m256i b) {
    const __m256i all = _mm256_set1_epi32(-1);
    switch (func) {
        case 1: return _mm256_setzero_si256();
        case 2: return _mm256_cmpgt_epi32(b, a);
        case 3: return _mm256_cmpeq_epi32(a, b);
        case 4: return _mm256_xor_si256(_mm256_cmpgt_epi32(a, b), all);
        case 5: return _mm256_cmpgt_epi32(a, b);
        case 6: return _mm256_xor_si256(_mm256_cmpeq_epi32(a, b), all);
        case 7: return _mm256_xor_si256(_mm256_cmpgt_epi32(b, a), all);
        default: return all;
    }
}

// Pixels x0 + 0 .. x0 + n - 1 of one row; `pixels` and `depths` (null without a depth test) point at
// the first. Built once per combination of the choices that shape the loop, so each build keeps
// only what it uses in registers.
template <bool Textured, bool Linear, bool TwoLevels, bool Depth, int Blend>
__attribute__((target("avx2"))) void spanAvx2(const TexturedSpan& s, float x0, int n, uint32_t* pixels,
                                               uint32_t* depths) {
    const __m256 steps = _mm256_setr_ps(0, 1, 2, 3, 4, 5, 6, 7);
    const __m256i zero = _mm256_setzero_si256();
    const __m256i alphaRef = _mm256_set1_epi16(int16_t(std::min<uint32_t>(s.alphaRef, 0x7FFF)));
    const __m256i writeMask = _mm256_set1_epi32(int32_t(s.writeMask));
    const __m256i levelWeight =
        _mm256_set1_epi16(int16_t(std::min(int(s.levelWeight * 128.0f + 0.5f), 127) << 8));
    // Which colours vary along the span; a constant colour is packed once.
    bool colorVaries = false;
    for (int k = 0; k < 4; ++k) colorVaries |= s.colorDx[k] != 0.0f;
    __m256i constantColor = zero;
    if (!colorVaries) {
        const __m256i a = toBytes(_mm256_set1_ps(s.colorRow[0])), r = toBytes(_mm256_set1_ps(s.colorRow[1]));
        const __m256i g = toBytes(_mm256_set1_ps(s.colorRow[2])), b = toBytes(_mm256_set1_ps(s.colorRow[3]));
        constantColor = _mm256_or_si256(_mm256_or_si256(_mm256_slli_epi32(a, 24), _mm256_slli_epi32(r, 16)),
                                        _mm256_or_si256(_mm256_slli_epi32(g, 8), b));
    }
    uint32_t tail[8] = {}, depthTail[8] = {};
    for (int i = 0; i < n; i += 8) {
        const int count = std::min(8, n - i);
        uint32_t* out = pixels + i;
        uint32_t* depthOut = Depth ? depths + i : nullptr;
        if (count < 8) {
            std::memcpy(tail, out, sizeof(uint32_t) * size_t(count));
            out = tail;
            if constexpr (Depth) {
                std::memcpy(depthTail, depthOut, sizeof(uint32_t) * size_t(count));
                depthOut = depthTail;
            }
        }
        const __m256 fx = _mm256_add_ps(_mm256_set1_ps(x0 + float(i)), steps);
        __m256i pass = _mm256_set1_epi32(-1);
        __m256i depth = zero, stored = zero;
        if constexpr (Depth) {
            depth = depth8(s, fx);
            stored = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(depthOut));
            pass = compare8(s.depthFunc, depth, _mm256_srli_epi32(stored, 8));
            if (_mm256_movemask_epi8(pass) == 0) {
                if (count < 8) std::memcpy(pixels + i, tail, sizeof(uint32_t) * size_t(count));
                continue;  // hidden: nothing to shade, nothing to write
            }
        }

        __m256i color = constantColor;
        if (colorVaries) {
            __m256i bytes[4];
            for (int k = 0; k < 4; ++k)
                bytes[k] = toBytes(_mm256_add_ps(_mm256_set1_ps(s.colorRow[k]), _mm256_mul_ps(_mm256_set1_ps(s.colorDx[k]), fx)));
            color = _mm256_or_si256(_mm256_or_si256(_mm256_slli_epi32(bytes[0], 24), _mm256_slli_epi32(bytes[1], 16)),
                                    _mm256_or_si256(_mm256_slli_epi32(bytes[2], 8), bytes[3]));
        }
        __m256i srcLo = _mm256_unpacklo_epi8(color, zero), srcHi = _mm256_unpackhi_epi8(color, zero);
        if constexpr (Textured) {
            const __m256 u = _mm256_add_ps(_mm256_set1_ps(s.uRow), _mm256_mul_ps(_mm256_set1_ps(s.uDx), fx));
            const __m256 v = _mm256_add_ps(_mm256_set1_ps(s.vRow), _mm256_mul_ps(_mm256_set1_ps(s.vDx), fx));
            __m256i texLo, texHi;
            sampleLevel8(s.levels[0], Linear, s.saneCoordinates, u, v, texLo, texHi);
            if constexpr (TwoLevels) {
                __m256i nextLo, nextHi;
                sampleLevel8(s.levels[1], Linear, s.saneCoordinates, u, v, nextLo, nextHi);
                texLo = lerp128(texLo, nextLo, levelWeight);
                texHi = lerp128(texHi, nextHi, levelWeight);
            }
            if (s.opaque) {
                const __m256i alphaOne = _mm256_set1_epi64x(int64_t(0x00FF000000000000));
                texLo = _mm256_or_si256(texLo, alphaOne);
                texHi = _mm256_or_si256(texHi, alphaOne);
            }
            srcLo = divide255(_mm256_mullo_epi16(texLo, srcLo));
            srcHi = divide255(_mm256_mullo_epi16(texHi, srcHi));
        }
        // Each pixel's alpha in all four of its channels.
        const __m256i alphaLo = _mm256_shufflehi_epi16(_mm256_shufflelo_epi16(srcLo, 0xFF), 0xFF);
        const __m256i alphaHi = _mm256_shufflehi_epi16(_mm256_shufflelo_epi16(srcHi, 0xFF), 0xFF);
        if (s.alphaTest) {
            // The test looks at the alpha before blending; a pixel it drops writes no depth either.
            const __m256i passLo = _mm256_cmpgt_epi16(alphaLo, alphaRef);
            const __m256i passHi = _mm256_cmpgt_epi16(alphaHi, alphaRef);
            // A pixel's four words agree, so packing them to bytes leaves one 32-bit mask per pixel.
            pass = _mm256_and_si256(pass, _mm256_packs_epi16(passLo, passHi));
        }

        const __m256i old = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(out));
        const __m256i dstLo = _mm256_unpacklo_epi8(old, zero), dstHi = _mm256_unpackhi_epi8(old, zero);
        __m256i resultLo = srcLo, resultHi = srcHi;
        if constexpr (Blend == 1) {
            const __m256i inverseLo = _mm256_sub_epi16(_mm256_set1_epi16(255), alphaLo);
            const __m256i inverseHi = _mm256_sub_epi16(_mm256_set1_epi16(255), alphaHi);
            resultLo = divide255(_mm256_add_epi16(_mm256_mullo_epi16(srcLo, alphaLo), _mm256_mullo_epi16(dstLo, inverseLo)));
            resultHi = divide255(_mm256_add_epi16(_mm256_mullo_epi16(srcHi, alphaHi), _mm256_mullo_epi16(dstHi, inverseHi)));
        } else if constexpr (Blend == 2) {
            resultLo = _mm256_add_epi16(divide255(_mm256_mullo_epi16(srcLo, alphaLo)), dstLo);
            resultHi = _mm256_add_epi16(divide255(_mm256_mullo_epi16(srcHi, alphaHi)), dstHi);
        } else if constexpr (Blend == 3) {
            resultLo = _mm256_add_epi16(srcLo, dstLo);
            resultHi = _mm256_add_epi16(srcHi, dstHi);
        }
        __m256i written = _mm256_packus_epi16(resultLo, resultHi);  // saturates an added colour at 255
        written = _mm256_or_si256(_mm256_andnot_si256(writeMask, old), _mm256_and_si256(written, writeMask));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out), _mm256_blendv_epi8(old, written, pass));
        if (Depth && s.depthWrite) {
            const __m256i word = _mm256_or_si256(_mm256_slli_epi32(depth, 8), _mm256_and_si256(stored, _mm256_set1_epi32(0xFF)));
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(depthOut), _mm256_blendv_epi8(stored, word, pass));
        }
        if (count < 8) {
            std::memcpy(pixels + i, tail, sizeof(uint32_t) * size_t(count));
            if constexpr (Depth) std::memcpy(depths + i, depthTail, sizeof(uint32_t) * size_t(count));
        }
    }
}

using SpanFunction = void (*)(const TexturedSpan&, float, int, uint32_t*, uint32_t*);

template <bool Textured, bool Linear, bool TwoLevels>
SpanFunction spanFor(bool depth, int blend) {
    static const SpanFunction table[2][4] = {
        {spanAvx2<Textured, Linear, TwoLevels, false, 0>, spanAvx2<Textured, Linear, TwoLevels, false, 1>,
         spanAvx2<Textured, Linear, TwoLevels, false, 2>, spanAvx2<Textured, Linear, TwoLevels, false, 3>},
        {spanAvx2<Textured, Linear, TwoLevels, true, 0>, spanAvx2<Textured, Linear, TwoLevels, true, 1>,
         spanAvx2<Textured, Linear, TwoLevels, true, 2>, spanAvx2<Textured, Linear, TwoLevels, true, 3>}};
    return table[depth ? 1 : 0][blend];
}

void texturedSpanAvx2(const TexturedSpan& s, float x0, int n, uint32_t* pixels, uint32_t* depths) {
    SpanFunction f;
    const bool two = s.levelWeight > 0.0f, depth = depths != nullptr;
    if (!s.textured)
        f = spanFor<false, false, false>(depth, s.blend);
    else if (s.linear)
        f = two ? spanFor<true, true, true>(depth, s.blend) : spanFor<true, true, false>(depth, s.blend);
    else
        f = two ? spanFor<true, false, true>(depth, s.blend) : spanFor<true, false, false>(depth, s.blend);
    f(s, x0, n, pixels, depths);
}

bool haveAvx2() {
    static const bool available = __builtin_cpu_supports("avx2");
    return available;
}
#endif

// --- one chunk of a span ----------------------------------------------------------------------------

// The pixels the chunk in `L` describes.
RASTER_CLONES void shadeChunk(const Shader& sh, Lanes& L) {
    const State& state = *sh.state;
    const int n = L.n;
    for (int i = 0; i < n; ++i) L.alive[i] = 1;

    const bool depthStencil = L.depthBase && (sh.depthTest || sh.stencilTest);
    if (depthStencil) {
        if (L.contiguous) {
            const uint32_t* words = L.depthBase + L.depthIndex[0];
            for (int i = 0; i < n; ++i) L.stored[i] = words[i];
        } else {
            for (int i = 0; i < n; ++i) L.stored[i] = L.depthBase[L.depthIndex[i]];
        }
        for (int i = 0; i < n; ++i) L.depth[i] = toDepth(sh.z.c + sh.z.dx * L.fx[i] + sh.z.dy * L.fy[i]);
        // A pixel that fails the depth or stencil test without a stencil update to make can be dropped
        // before it is shaded: its colour would be thrown away.
        if (sh.earlyReject) {
            const uint32_t* stored = L.stored;
            if (sh.stencilTest) {
                const uint32_t ref = state.stencilRef & state.stencilMask & 0xFF, mask = state.stencilMask;
                for (int i = 0; i < n; ++i)
                    if (!compare(state.stencilFunc, ref, stored[i] & 0xFF & mask)) L.alive[i] = 0;
            }
            if (sh.depthTest) {
                if (state.zFunc == 4) {
                    for (int i = 0; i < n; ++i) L.alive[i] &= int32_t(L.depth[i] <= (stored[i] >> 8));
                } else {
                    for (int i = 0; i < n; ++i)
                        if (!compare(state.zFunc, L.depth[i], stored[i] >> 8)) L.alive[i] = 0;
                }
            }
            int any = 0;
            for (int i = 0; i < n; ++i) any |= L.alive[i];
            if (!any) return;
        }
    }

    if (sh.affine) {
        const float q = sh.q.c;
        const float w = q != 0.0f ? 1.0f / q : 0.0f;
        for (int i = 0; i < n; ++i) L.w[i] = w;
    } else {
        for (int i = 0; i < n; ++i) {
            const float q = sh.q.c + sh.q.dx * L.fx[i] + sh.q.dy * L.fy[i];
            L.w[i] = q != 0.0f ? 1.0f / q : 0.0f;
        }
    }
    for (int a = 0; a < attributeCount; ++a) {
        if (!sh.used[a]) continue;
        const Plane& p = sh.planes[a];
        float* out = L.attributes[a];
        if (sh.flat && a < 8) {
            for (int i = 0; i < n; ++i) out[i] = p.c;
        } else {
            for (int i = 0; i < n; ++i) out[i] = (p.c + p.dx * L.fx[i] + p.dy * L.fy[i]) * L.w[i];
        }
    }

    for (int k = 0; k < 4; ++k)
        for (int i = 0; i < n; ++i) L.current[k][i] = L.attributes[k][i];
    if (sh.stages > 1)
        for (int k = 0; k < 4; ++k)
            for (int i = 0; i < n; ++i) L.temp[k][i] = 0.0f;
    for (int s = 0; s < sh.stages; ++s) runStage(sh, s, L, n);

    if (state.specularEnable)
        for (int k = 0; k < 3; ++k)
            for (int i = 0; i < n; ++i) L.current[k][i] = clamp01(L.current[k][i] + L.attributes[4 + k][i]);

    if (state.alphaTestEnable) {
        const uint32_t ref = state.alphaRef;
        if (state.alphaFunc == 5) {
            for (int i = 0; i < n; ++i) L.alive[i] &= int32_t(toByte(L.current[3][i]) > ref);
        } else {
            for (int i = 0; i < n; ++i)
                if (!compare(state.alphaFunc, toByte(L.current[3][i]), ref)) L.alive[i] = 0;
        }
    }

    if (depthStencil) {
        uint32_t* words = L.stored;
        for (int i = 0; i < n; ++i) {
            if (!L.alive[i]) continue;
            const uint32_t stored = words[i];
            uint32_t stencil = stored & 0xFF;
            bool stencilPass = true;
            if (sh.stencilTest)
                stencilPass = compare(state.stencilFunc, state.stencilRef & state.stencilMask & 0xFF,
                                      stencil & state.stencilMask);
            bool depthPass = true;
            const uint32_t depth = L.depth[i];
            if (sh.depthTest && stencilPass) depthPass = compare(state.zFunc, depth, stored >> 8);
            if (sh.stencilTest) {
                const uint32_t op =
                    !stencilPass ? state.stencilFail : (!depthPass ? state.stencilZFail : state.stencilPass);
                const uint32_t updated = stencilOp(op, stencil, state.stencilRef);
                const uint32_t mask = state.stencilWriteMask & 0xFF;
                stencil = (stencil & ~mask) | (updated & mask);
            }
            uint32_t newWord = (stored & 0xFFFFFF00u) | stencil;
            if (stencilPass && depthPass && sh.depthTest && state.zWriteEnable) newWord = (depth << 8) | stencil;
            words[i] = newWord;
            if (!stencilPass || !depthPass) L.alive[i] = 0;
        }
        if (L.contiguous) {
            uint32_t* target = L.depthBase + L.depthIndex[0];
            for (int i = 0; i < n; ++i) target[i] = words[i];
        } else {
            for (int i = 0; i < n; ++i) L.depthBase[L.depthIndex[i]] = words[i];
        }
    }

    uint32_t* pixels = L.pixel;
    if (L.contiguous) {
        const uint32_t* source = L.colorBase + L.colorIndex[0];
        for (int i = 0; i < n; ++i) pixels[i] = source[i];
    } else {
        for (int i = 0; i < n; ++i) pixels[i] = L.colorBase[L.colorIndex[i]];
    }
    if (sh.blend) {
        constexpr float scale = 1.0f / 255.0f;
        for (int i = 0; i < n; ++i) {
            const uint32_t c = pixels[i];
            L.dst[0][i] = float(int32_t((c >> 16) & 0xFF)) * scale;
            L.dst[1][i] = float(int32_t((c >> 8) & 0xFF)) * scale;
            L.dst[2][i] = float(int32_t(c & 0xFF)) * scale;
            L.dst[3][i] = float(int32_t(c >> 24)) * scale;
        }
        blendLanes(sh, L, n);
    }
    const uint32_t mask = sh.writeMask;
    for (int i = 0; i < n; ++i) {
        const uint32_t color = (toByte(L.current[3][i]) << 24) | (toByte(L.current[0][i]) << 16) |
                               (toByte(L.current[1][i]) << 8) | toByte(L.current[2][i]);
        const uint32_t old = pixels[i];
        const uint32_t written = (old & ~mask) | (color & mask);
        pixels[i] = L.alive[i] ? written : old;
    }
    if (L.contiguous) {
        uint32_t* target = L.colorBase + L.colorIndex[0];
        for (int i = 0; i < n; ++i) target[i] = pixels[i];
    } else {
        for (int i = 0; i < n; ++i)
            if (L.alive[i]) L.colorBase[L.colorIndex[i]] = pixels[i];
    }
}

#ifdef RASTER_AVX2_SPANS
// Pixels x .. x + count - 1 of row y through the one-pass textured span; `depths` null without a
// depth test.
void texturedRun(const Shader& sh, int y, int x, int count, uint32_t* pixels, uint32_t* depths) {
    TexturedSpan span = sh.span;
    const float fy = float(y);
    const float w = sh.q.c != 0.0f ? 1.0f / sh.q.c : 0.0f;
    span.uRow = (sh.planes[8].c + sh.planes[8].dy * fy) * w;
    span.uDx = sh.planes[8].dx * w;
    span.vRow = (sh.planes[9].c + sh.planes[9].dy * fy) * w;
    span.vDx = sh.planes[9].dx * w;
    for (int k = 0; k < 4; ++k) {
        const Plane& p = sh.planes[k == 0 ? 3 : k - 1];  // alpha, red, green, blue
        span.colorRow[k] = sh.flat ? p.c : (p.c + p.dy * fy) * w;
        span.colorDx[k] = sh.flat ? 0.0f : p.dx * w;
    }
    auto sane = [&](float row, float dx) {
        const float first = row + dx * float(x), last = row + dx * float(x + count - 1);
        return std::fabs(first) < 1.0e5f && std::fabs(last) < 1.0e5f;  // false for NaN and infinity
    };
    span.saneCoordinates = sane(span.uRow, span.uDx) && sane(span.vRow, span.vDx);
    span.zC = sh.z.c;
    span.zDx = sh.z.dx;
    span.zRow = sh.z.dy * fy;
    texturedSpanAvx2(span, float(x), count, pixels, depths);
}
#endif

#ifdef RASTER_AVX2_SPANS
// Whether the triangle's runs can go through the one-pass span, and its settings if so: the diffuse
// colour alone or modulated by one texture, one or two mip levels fixed for the whole triangle (its
// texture coordinates are affine), blending over or adding, an alpha test against a reference,
// depth tested with any function; no stencil, no specular colour.
bool prepareSpan(Shader& sh, const State& state) {
    // One plus one, plain addition, is the fourth blend the span knows.
    const bool added = sh.blend == 3 && state.blendOp == 1 && state.srcBlend == 2 && state.destBlend == 2;
    if (!sh.affine || (sh.blend == 3 && !added) || sh.stencilTest) return false;
    if (state.alphaTestEnable && state.alphaFunc != 5) return false;
    if (state.specularEnable)
        for (int a = 4; a < 8; ++a)
            if (sh.planes[a].c != 0.0f || sh.planes[a].dx != 0.0f || sh.planes[a].dy != 0.0f) return false;
    TexturedSpan& span = sh.span;
    span = TexturedSpan{};
    span.alphaTest = state.alphaTestEnable;
    span.alphaRef = state.alphaRef;
    span.blend = added ? 3 : sh.blend;
    span.writeMask = sh.writeMask;
    span.depthWrite = sh.depthTest && state.zWriteEnable;
    span.depthFunc = state.zFunc;
    if (sh.stages == 0) return true;
    if (sh.stages != 1 || !sh.modulates[0]) return false;
    const Stage& stage = state.stages[0];
    const Texture* texture = stage.texture;
    if (!texture || texture->levelCount <= 0) return false;
    if (stage.sampler.addressU == Address::Border || stage.sampler.addressV == Address::Border) return false;
    span.textured = true;
    span.opaque = texture->opaque;
    // With affine coordinates the level of detail is the same for every pixel: the general path's
    // derivatives with the 1/w plane flat.
    float lod = 0.0f;
    if (sh.needsLod[0]) {
        const float w = sh.q.c != 0.0f ? 1.0f / sh.q.c : 0.0f;
        const float width = float(texture->levels[0].width), height = float(texture->levels[0].height);
        const float dudx = sh.planes[8].dx * w * width, dvdx = sh.planes[9].dx * w * height;
        const float dudy = sh.planes[8].dy * w * width, dvdy = sh.planes[9].dy * w * height;
        const float x = dudx * dudx + dvdx * dvdx, y = dudy * dudy + dvdy * dvdy;
        const float rho = x > y ? x : y;
        lod = rho > 1.0f ? 0.5f * std::log2(rho) : 0.0f;
    }
    const bool magnified = lod <= 0.0f;
    const Filter filter = magnified ? stage.sampler.mag : stage.sampler.min;
    span.linear = filter == Filter::Linear;
    int level = 0;
    float weight = 0.0f;
    if (!magnified && stage.sampler.mip != Filter::None && texture->levelCount > 1) {
        const float maxLevel = float(texture->levelCount - 1);
        if (stage.sampler.mip == Filter::Point) {
            const float rounded = std::floor(lod + 0.5f);
            level = int(rounded < maxLevel ? rounded : maxLevel);
        } else {
            const float clamped = lod < maxLevel ? lod : maxLevel;
            level = int(std::floor(clamped));
            weight = level + 1 < texture->levelCount ? clamped - float(level) : 0.0f;
        }
    }
    span.levelWeight = weight;
    for (int j = 0; j < (weight > 0.0f ? 2 : 1); ++j) {
        const TextureLevel& source = texture->levels[level + j];
        const Axis ax(source.width, stage.sampler.addressU), ay(source.height, stage.sampler.addressV);
        if (ax.kind == 2 || ay.kind == 2 || !source.texels) return false;
        SpanLevel& target = span.levels[j];
        target.texels = source.texels;
        target.width = source.width;
        target.height = source.height;
        target.maskU = ax.kind == 0;
        target.maskV = ay.kind == 0;
        target.rowShift = (source.width & (source.width - 1)) == 0 ? __builtin_ctz(unsigned(source.width)) : -1;
    }
    return true;
}
#endif

}  // namespace

void setSpecialisedSpans(bool enabled) { specialisedSpans = enabled; }

void rasterizeTriangle(const PixelSetup& setup, const ScreenVertex& first, const ScreenVertex& second,
                       const ScreenVertex& third, bool cull) {
    const State& state = *setup.state;
    const Target& target = *setup.target;
    const ScreenVertex* v[3] = {&first, &second, &third};

    int64_t X[3], Y[3];
    for (int i = 0; i < 3; ++i) {
        if (!std::isfinite(v[i]->x) || !std::isfinite(v[i]->y)) return;
        // Coordinates far outside any target cannot be snapped safely; such triangles are degenerate.
        if (std::fabs(v[i]->x) > 1.0e7f || std::fabs(v[i]->y) > 1.0e7f) return;
        X[i] = std::llround(double(v[i]->x) * subpixel);
        Y[i] = std::llround(double(v[i]->y) * subpixel);
    }
    int64_t area = (X[1] - X[0]) * (Y[2] - Y[0]) - (X[2] - X[0]) * (Y[1] - Y[0]);
    if (area == 0) return;
    // Clockwise on screen (y down) is front facing and has a positive area.
    if (cull) {
        if (state.cullMode == 3 && area < 0) return;
        if (state.cullMode == 2 && area > 0) return;
    }
    const ScreenVertex* flatSource = v[0];
    // Untextured and fully transparent under an alpha test that rejects zero: nothing can show.
    if (setup.activeStages == 0 && state.alphaTestEnable && state.alphaFunc == 5 /*GREATER*/ && state.alphaRef == 0) {
        const float limit = 0.5f / 255.0f;
        bool transparent = setup.flatShade ? flatSource->attributes[3] < limit
                                           : (v[0]->attributes[3] < limit && v[1]->attributes[3] < limit &&
                                              v[2]->attributes[3] < limit);
        if (transparent) return;
    }
    if (area < 0) {
        std::swap(v[1], v[2]);
        std::swap(X[1], X[2]);
        std::swap(Y[1], Y[2]);
        area = -area;
    }

    int64_t minX = std::min({X[0], X[1], X[2]}), maxX = std::max({X[0], X[1], X[2]});
    int64_t minY = std::min({Y[0], Y[1], Y[2]}), maxY = std::max({Y[0], Y[1], Y[2]});
    const int64_t one = 1 << subpixelBits;
    int x0 = int(std::max<int64_t>(setup.clipX0, (minX + one - 1) >> subpixelBits));
    int x1 = int(std::min<int64_t>(setup.clipX1 - 1, maxX >> subpixelBits));
    int y0 = int(std::max<int64_t>(setup.clipY0, (minY + one - 1) >> subpixelBits));
    int y1 = int(std::min<int64_t>(setup.clipY1 - 1, maxY >> subpixelBits));
    if (x0 > x1 || y0 > y1) return;

    // Edge i runs from vertex i to vertex i+1; inside is where every edge function is non-negative
    // (the bias moves pixels exactly on a right or bottom edge outside).
    int64_t rowStart[3], stepX[3], stepY[3];
    for (int i = 0; i < 3; ++i) {
        int j = (i + 1) % 3;
        int64_t dx = X[j] - X[i], dy = Y[j] - Y[i];
        bool topLeft = (dy == 0 && dx > 0) || dy < 0;
        int64_t px = int64_t(x0) * one, py = int64_t(y0) * one;
        rowStart[i] = dx * (py - Y[i]) - dy * (px - X[i]) + (topLeft ? 0 : -1);
        stepX[i] = -dy * one;
        stepY[i] = dx * one;
    }

    Shader sh;
    sh.state = &state;
    sh.stages = setup.activeStages;
    sh.flat = setup.flatShade;

    // Attribute planes over the pixel grid: z linear, everything else divided by w.
    const float fx0 = float(X[0]) / subpixel, fy0 = float(Y[0]) / subpixel;
    const float ex1 = float(X[1] - X[0]) / subpixel, ey1 = float(Y[1] - Y[0]) / subpixel;
    const float ex2 = float(X[2] - X[0]) / subpixel, ey2 = float(Y[2] - Y[0]) / subpixel;
    const float areaF = ex1 * ey2 - ex2 * ey1;
    const float inverseArea = 1.0f / areaF;  // one division per triangle, not two per attribute
    auto plane = [&](float a0, float a1, float a2) {
        Plane p;
        p.dx = ((a1 - a0) * ey2 - (a2 - a0) * ey1) * inverseArea;
        p.dy = ((a2 - a0) * ex1 - (a1 - a0) * ex2) * inverseArea;
        p.c = a0 - p.dx * fx0 - p.dy * fy0;
        return p;
    };
    sh.z = plane(v[0]->z, v[1]->z, v[2]->z);
    sh.q = plane(v[0]->q, v[1]->q, v[2]->q);
    sh.affine = v[0]->q == v[1]->q && v[0]->q == v[2]->q;
    if (sh.affine) sh.q = Plane{v[0]->q, 0.0f, 0.0f};

    // Only the attributes something reads are interpolated.
    for (int a = 0; a < attributeCount; ++a) sh.used[a] = a < 4;
    bool specularRead = state.specularEnable;
    for (int s = 0; s < sh.stages; ++s) {
        const Stage& st = state.stages[s];
        for (uint32_t arg : {st.colorArg0, st.colorArg1, st.colorArg2, st.alphaArg0, st.alphaArg1, st.alphaArg2})
            specularRead |= (arg & 0xF) == 4;
        if (st.texture) sh.used[8 + 2 * s] = sh.used[9 + 2 * s] = true;
    }
    for (int a = 4; a < 8; ++a) sh.used[a] = specularRead;
    for (int a = 0; a < setup.attributes; ++a) {
        if (!sh.used[a]) continue;
        if (sh.flat && a < 8) {
            sh.planes[a] = Plane{flatSource->attributes[a], 0, 0};
        } else {
            sh.planes[a] = plane(v[0]->attributes[a] * v[0]->q, v[1]->attributes[a] * v[1]->q,
                                 v[2]->attributes[a] * v[2]->q);
        }
    }
    for (int a = setup.attributes; a < attributeCount; ++a) sh.used[a] = false;

    unpack(state.textureFactor, sh.factor);
    sh.depthTest = state.zEnable != 0 && target.depthStencil;
    // Always passing and keeping everything, the stencil test changes nothing and is left out.
    sh.stencilTest = state.stencilEnable && target.depthStencil &&
                     !(state.stencilFunc == 8 && state.stencilFail == 1 && state.stencilZFail == 1 &&
                       state.stencilPass == 1);
    sh.earlyReject = !sh.stencilTest || (state.stencilFail == 1 && state.stencilZFail == 1);
    for (int s = 0; s < sh.stages; ++s) {
        // The usual stage, texture times the incoming colour in all four channels, runs without the
        // general argument machinery.
        const Stage& stage = state.stages[s];
        const uint32_t arg2 = stage.colorArg2;
        sh.modulates[s] = stage.colorOp == 4 && stage.alphaOp == 4 && stage.colorArg1 == 2 && stage.alphaArg1 == 2 &&
                          arg2 == stage.alphaArg2 && (arg2 == 1 || (arg2 == 0 && s == 0)) &&
                          (stage.resultArg & 0xF) != 5;
        sh.needsLod[s] = stage.texture && stage.texture->levelCount > 0 &&
                         (stage.sampler.min != stage.sampler.mag ||
                          (stage.sampler.mip != Filter::None && stage.texture->levelCount > 1));
    }
    if (!state.alphaBlendEnable)
        sh.blend = 0;
    else if (state.blendOp == 1 && state.srcBlend == 5 && state.destBlend == 6)
        sh.blend = 1;
    else if (state.blendOp == 1 && state.srcBlend == 5 && state.destBlend == 2)
        sh.blend = 2;
    else
        sh.blend = 3;
    sh.writeMask = ((state.colorWriteEnable & 1) ? 0x00FF0000u : 0) | ((state.colorWriteEnable & 2) ? 0x0000FF00u : 0) |
                   ((state.colorWriteEnable & 4) ? 0x000000FFu : 0) | ((state.colorWriteEnable & 8) ? 0xFF000000u : 0);

    sh.fused = false;
#ifdef RASTER_AVX2_SPANS
    if (specialisedSpans && haveAvx2()) sh.fused = prepareSpan(sh, state);
#endif

    thread_local Lanes lanes;
    lanes.n = 0;
    lanes.colorBase = target.color;
    // Each worker owns every n-th row, so every pixel sees the triangles in draw order: start at this
    // worker's first row and step over the others.
    const int rows = std::max(1, setup.rowCount);
    const int skip = ((setup.rowIndex - y0) % rows + rows) % rows;
    for (int i = 0; i < 3; ++i) {
        rowStart[i] += stepY[i] * skip;
        stepY[i] *= rows;
    }
    for (int y = y0 + skip; y <= y1; y += rows) {
        int64_t e[3] = {rowStart[0], rowStart[1], rowStart[2]};
        rowStart[0] += stepY[0];
        rowStart[1] += stepY[1];
        rowStart[2] += stepY[2];
        // The span where all three edge functions are non-negative, found edge by edge.
        int64_t first = 0, last = x1 - x0;
        for (int i = 0; i < 3 && first <= last; ++i) {
            if (stepX[i] > 0) {
                if (e[i] < 0) first = std::max(first, (-e[i] + stepX[i] - 1) / stepX[i]);
            } else if (stepX[i] < 0) {
                if (e[i] < 0)
                    last = -1;
                else
                    last = std::min(last, e[i] / -stepX[i]);
            } else if (e[i] < 0) {
                last = -1;
            }
        }
        if (first > last) continue;
        const int xs = x0 + int(first), xe = x0 + int(last);
        const int32_t colorRow = y * target.colorPitch;
        const bool depthRow = target.depthStencil && y < target.depthHeight;
        const int32_t depthRowStart = depthRow ? y * target.depthPitch : 0;
#ifdef RASTER_AVX2_SPANS
        if (sh.fused && !sh.stencilTest && (!sh.depthTest || !depthRow || xe < target.depthWidth)) {
            const bool depth = sh.depthTest && depthRow;
            texturedRun(sh, y, xs, xe - xs + 1, target.color + colorRow + xs,
                        depth ? target.depthStencil + depthRowStart + xs : nullptr);
            continue;
        }
#endif
        const int depthEnd = depthRow ? std::min(xe + 1, target.depthWidth) : xs;
        for (int x = xs; x <= xe;) {
            // A chunk either has depth words for all its pixels or for none.
            const bool withDepth = x < depthEnd;
            if (lanes.n > 0 && (withDepth != (lanes.depthBase != nullptr) || lanes.n == chunk)) {
                shadeChunk(sh, lanes);
                lanes.n = 0;
            }
            if (lanes.n == 0) {
                lanes.contiguous = true;
                lanes.depthBase = withDepth ? target.depthStencil : nullptr;
            } else {
                lanes.contiguous = false;
            }
            const int end = withDepth ? depthEnd : xe + 1;
            const int count = std::min(chunk - lanes.n, end - x);
            const int at = lanes.n;
            const float fy = float(y);
            for (int i = 0; i < count; ++i) {
                lanes.fx[at + i] = float(x + i);
                lanes.fy[at + i] = fy;
                lanes.colorIndex[at + i] = colorRow + x + i;
                lanes.depthIndex[at + i] = depthRowStart + x + i;
            }
            lanes.n += count;
            x += count;
        }
    }
    if (lanes.n > 0) shadeChunk(sh, lanes);
    lanes.n = 0;
}

}  // namespace raster
