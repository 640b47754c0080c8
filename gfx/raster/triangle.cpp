// Triangle setup and rasterisation (fixed-point edge functions, top-left fill rule, pixel centres on
// integer coordinates), and the per-pixel pipeline: texture stages, specular add, alpha test,
// stencil and depth, blending and the colour write mask.
#include <algorithm>
#include <cmath>
#include <cstdint>

#include "gfx/raster/internal.h"

namespace raster {

namespace {

constexpr float subpixel = float(1 << subpixelBits);

inline float clamp01(float v) { return v < 0.0f ? 0.0f : (v > 1.0f ? 1.0f : v); }

inline uint32_t toByte(float v) { return uint32_t(clamp01(v) * 255.0f + 0.5f); }

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

void blendFactor(uint32_t factor, const float src[4], const float dst[4], uint32_t blendConstant, float out[4]) {
    switch (factor) {
        case 1: out[0] = out[1] = out[2] = out[3] = 0; return;
        case 3: for (int k = 0; k < 4; ++k) out[k] = src[k]; return;
        case 4: for (int k = 0; k < 4; ++k) out[k] = 1 - src[k]; return;
        case 5: out[0] = out[1] = out[2] = out[3] = src[3]; return;
        case 6: out[0] = out[1] = out[2] = out[3] = 1 - src[3]; return;
        case 7: out[0] = out[1] = out[2] = out[3] = dst[3]; return;
        case 8: out[0] = out[1] = out[2] = out[3] = 1 - dst[3]; return;
        case 9: for (int k = 0; k < 4; ++k) out[k] = dst[k]; return;
        case 10: for (int k = 0; k < 4; ++k) out[k] = 1 - dst[k]; return;
        case 11: {
            float f = std::min(src[3], 1 - dst[3]);
            out[0] = out[1] = out[2] = f;
            out[3] = 1;
            return;
        }
        case 14: unpack(blendConstant, out); return;
        case 15:
            unpack(blendConstant, out);
            for (int k = 0; k < 4; ++k) out[k] = 1 - out[k];
            return;
        default: out[0] = out[1] = out[2] = out[3] = 1; return;
    }
}

struct StageInputs {
    const float* diffuse;
    const float* specular;
    const float* current;
    const float* texture;
    const float* factor;
    const float* temp;
};

inline void argument(uint32_t arg, const StageInputs& in, float out[4]) {
    const float* source;
    switch (arg & 0xF) {
        case 0: source = in.diffuse; break;
        case 2: source = in.texture; break;
        case 3: source = in.factor; break;
        case 4: source = in.specular; break;
        case 5: source = in.temp; break;
        default: source = in.current; break;
    }
    for (int k = 0; k < 4; ++k) out[k] = source[k];
    if (arg & 0x10)
        for (int k = 0; k < 4; ++k) out[k] = 1 - out[k];
    if (arg & 0x20) out[0] = out[1] = out[2] = out[3];
}

// One texture operation on one channel group; `a1`, `a2`, `a0` are the arguments.
inline float operate(uint32_t op, float a1, float a2, float a0, const StageInputs& in, int k) {
    switch (op) {
        case 2: return a1;
        case 3: return a2;
        case 4: return a1 * a2;
        case 5: return a1 * a2 * 2;
        case 6: return a1 * a2 * 4;
        case 7: return a1 + a2;
        case 8: return a1 + a2 - 0.5f;
        case 9: return (a1 + a2 - 0.5f) * 2;
        case 10: return a1 - a2;
        case 11: return a1 + a2 - a1 * a2;
        case 12: return a1 * in.diffuse[3] + a2 * (1 - in.diffuse[3]);
        case 13: return a1 * in.texture[3] + a2 * (1 - in.texture[3]);
        case 14: return a1 * in.factor[3] + a2 * (1 - in.factor[3]);
        case 15: return a1 + a2 * (1 - in.texture[3]);
        case 16: return a1 * in.current[3] + a2 * (1 - in.current[3]);
        case 25: return a0 + a1 * a2;
        case 26: return a0 * a1 + (1 - a0) * a2;
        default: (void)k; return a1;
    }
}

struct Plane {
    float c, dx, dy;
    float at(float x, float y) const { return c + dx * x + dy * y; }
};

}  // namespace

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

    // Edge i runs from vertex i to vertex i+1; inside is where every edge function is positive.
    int64_t edgeA[3], edgeB[3], bias[3], rowStart[3];
    for (int i = 0; i < 3; ++i) {
        int j = (i + 1) % 3;
        int64_t dx = X[j] - X[i], dy = Y[j] - Y[i];
        edgeA[i] = -dy;  // change per unit of x
        edgeB[i] = dx;   // change per unit of y
        bool topLeft = (dy == 0 && dx > 0) || dy < 0;
        bias[i] = topLeft ? 0 : -1;
        int64_t px = int64_t(x0) * one, py = int64_t(y0) * one;
        rowStart[i] = dx * (py - Y[i]) - dy * (px - X[i]) + bias[i];
    }
    const int64_t stepX[3] = {edgeA[0] * one, edgeA[1] * one, edgeA[2] * one};
    const int64_t stepY[3] = {edgeB[0] * one, edgeB[1] * one, edgeB[2] * one};

    // Attribute planes over the pixel grid: z linear, everything else divided by w.
    const float fx0 = float(X[0]) / subpixel, fy0 = float(Y[0]) / subpixel;
    const float ex1 = float(X[1] - X[0]) / subpixel, ey1 = float(Y[1] - Y[0]) / subpixel;
    const float ex2 = float(X[2] - X[0]) / subpixel, ey2 = float(Y[2] - Y[0]) / subpixel;
    const float areaF = ex1 * ey2 - ex2 * ey1;
    auto plane = [&](float a0, float a1, float a2) {
        Plane p;
        p.dx = ((a1 - a0) * ey2 - (a2 - a0) * ey1) / areaF;
        p.dy = ((a2 - a0) * ex1 - (a1 - a0) * ex2) / areaF;
        p.c = a0 - p.dx * fx0 - p.dy * fy0;
        return p;
    };
    const Plane zPlane = plane(v[0]->z, v[1]->z, v[2]->z);
    const Plane qPlane = plane(v[0]->q, v[1]->q, v[2]->q);
    const int attributeTotal = setup.attributes;
    Plane planes[attributeCount];
    for (int a = 0; a < attributeTotal; ++a) {
        if (setup.flatShade && a < 8) {
            planes[a] = Plane{flatSource->attributes[a], 0, 0};
        } else {
            planes[a] = plane(v[0]->attributes[a] * v[0]->q, v[1]->attributes[a] * v[1]->q,
                              v[2]->attributes[a] * v[2]->q);
        }
    }
    const bool flat = setup.flatShade;

    const int stages = setup.activeStages;
    float factor[4];
    unpack(state.textureFactor, factor);
    const float zero[4] = {0, 0, 0, 0};
    const bool depthTest = state.zEnable != 0 && target.depthStencil;
    const bool stencilTest = state.stencilEnable && target.depthStencil;
    // A pixel that fails the depth or stencil test without a stencil update to make can be dropped
    // before it is shaded: its colour would be thrown away.
    const bool earlyReject = !stencilTest || (state.stencilFail == 1 && state.stencilZFail == 1);
    float rowAttributes[attributeCount];
    // The usual stage, texture times the incoming colour in all four channels, runs without the
    // general argument machinery.
    bool modulates[maxTextureStages] = {};
    for (int st = 0; st < stages; ++st) {
        const Stage& stage = state.stages[st];
        const uint32_t arg2 = stage.colorArg2;
        modulates[st] = stage.colorOp == 4 && stage.alphaOp == 4 && stage.colorArg1 == 2 && stage.alphaArg1 == 2 &&
                        arg2 == stage.alphaArg2 && (arg2 == 1 || (arg2 == 0 && st == 0)) && (stage.resultArg & 0xF) != 5;
    }

    for (int y = y0; y <= y1; ++y) {
        int64_t e0 = rowStart[0], e1 = rowStart[1], e2 = rowStart[2];
        rowStart[0] += stepY[0];
        rowStart[1] += stepY[1];
        rowStart[2] += stepY[2];
        // Each worker owns every n-th row, so every pixel sees the triangles in draw order.
        if (setup.rowCount > 1 && (y % setup.rowCount) != setup.rowIndex) continue;
        uint32_t* colorRow = target.color + size_t(y) * size_t(target.colorPitch);
        uint32_t* depthRow = target.depthStencil && y < target.depthHeight
                                 ? target.depthStencil + size_t(y) * size_t(target.depthPitch)
                                 : nullptr;
        const float fy = float(y);
        for (int a = 0; a < attributeTotal; ++a) rowAttributes[a] = planes[a].at(float(x0), fy);
        float rowQ = qPlane.at(float(x0), fy);
        for (int x = x0; x <= x1; ++x, e0 += stepX[0], e1 += stepX[1], e2 += stepX[2]) {
            if (x > x0) {
                for (int a = 0; a < attributeTotal; ++a) rowAttributes[a] += planes[a].dx;
                rowQ += qPlane.dx;
            }
            if ((e0 | e1 | e2) < 0) continue;
            const float fx = float(x);
            uint32_t* earlyWord = depthRow && x < target.depthWidth ? depthRow + x : nullptr;
            if (earlyReject && earlyWord && (depthTest || stencilTest)) {
                const uint32_t stored = *earlyWord;
                if (stencilTest && !compare(state.stencilFunc, state.stencilRef & state.stencilMask & 0xFF,
                                            stored & 0xFF & state.stencilMask))
                    continue;
                if (depthTest) {
                    uint32_t depth = uint32_t(double(clamp01(zPlane.at(fx, fy))) * 16777215.0 + 0.5);
                    if (!compare(state.zFunc, depth, stored >> 8)) continue;
                }
            }
            const float q = rowQ;
            const float w = q != 0.0f ? 1.0f / q : 0.0f;
            float attributes[attributeCount];
            for (int a = 0; a < attributeTotal; ++a) attributes[a] = (flat && a < 8) ? planes[a].c : rowAttributes[a] * w;

            // Texture stages.
            float current[4] = {attributes[0], attributes[1], attributes[2], attributes[3]};
            float temp[4] = {0, 0, 0, 0};
            const float* diffuse = attributes;
            const float* specular = attributes + 4;
            for (int s = 0; s < stages; ++s) {
                const Stage& stage = state.stages[s];
                float texel[4] = {0, 0, 0, 1};
                if (stage.texture) {
                    const float u = attributes[8 + 2 * s], vv = attributes[9 + 2 * s];
                    float lod = 0.0f;
                    const TextureLevel& top = stage.texture->levels[0];
                    if (stage.sampler.min != stage.sampler.mag || (stage.sampler.mip != Filter::None &&
                                                                   stage.texture->levelCount > 1)) {
                        // Screen-space derivatives of the perspective-correct coordinates.
                        const Plane& pu = planes[8 + 2 * s];
                        const Plane& pv = planes[9 + 2 * s];
                        float dudx = (pu.dx - u * qPlane.dx) * w * float(top.width);
                        float dvdx = (pv.dx - vv * qPlane.dx) * w * float(top.height);
                        float dudy = (pu.dy - u * qPlane.dy) * w * float(top.width);
                        float dvdy = (pv.dy - vv * qPlane.dy) * w * float(top.height);
                        float rho = std::max(dudx * dudx + dvdx * dvdx, dudy * dudy + dvdy * dvdy);
                        lod = rho > 0.0f ? 0.5f * std::log2(rho) : -16.0f;
                    }
                    sampleTexture(*stage.texture, stage.sampler, u, vv, lod, texel);
                }
                if (modulates[s]) {
                    for (int k = 0; k < 4; ++k) current[k] *= texel[k];
                    continue;
                }
                StageInputs in{diffuse, stage.texture || s > 0 ? specular : specular, s == 0 ? diffuse : current,
                               texel, factor, temp};
                (void)zero;
                float a1[4], a2[4], a0[4], result[4];
                argument(stage.colorArg1, in, a1);
                argument(stage.colorArg2, in, a2);
                argument(stage.colorArg0, in, a0);
                for (int k = 0; k < 3; ++k) result[k] = clamp01(operate(stage.colorOp, a1[k], a2[k], a0[k], in, k));
                if (stage.colorOp == 24) {  // dot product, replicated into every channel
                    float d = 4 * ((a1[0] - 0.5f) * (a2[0] - 0.5f) + (a1[1] - 0.5f) * (a2[1] - 0.5f) +
                                   (a1[2] - 0.5f) * (a2[2] - 0.5f));
                    result[0] = result[1] = result[2] = result[3] = clamp01(d);
                } else {
                    uint32_t alphaOp = stage.alphaOp == 1 ? 2 : stage.alphaOp;
                    argument(stage.alphaArg1, in, a1);
                    argument(stage.alphaArg2, in, a2);
                    argument(stage.alphaArg0, in, a0);
                    result[3] = clamp01(operate(alphaOp, a1[3], a2[3], a0[3], in, 3));
                }
                float* destination = (stage.resultArg & 0xF) == 5 ? temp : current;
                for (int k = 0; k < 4; ++k) destination[k] = result[k];
            }
            if (state.specularEnable)
                for (int k = 0; k < 3; ++k) current[k] = clamp01(current[k] + specular[k]);

            if (state.alphaTestEnable &&
                !compare(state.alphaFunc, toByte(current[3]), state.alphaRef))
                continue;

            uint32_t* depthWord = depthRow && x < target.depthWidth ? depthRow + x : nullptr;
            if (depthWord) {
                uint32_t stored = *depthWord;
                uint32_t stencil = stored & 0xFF;
                bool stencilPass = true;
                if (stencilTest) {
                    stencilPass = compare(state.stencilFunc, state.stencilRef & state.stencilMask & 0xFF,
                                          stencil & state.stencilMask);
                }
                bool depthPass = true;
                float z = zPlane.at(fx, fy);
                // In double: a float cannot hold 2^24 - 1 + 0.5, and 1.0 would round past the largest depth.
                uint32_t depth = uint32_t(double(clamp01(z)) * 16777215.0 + 0.5);
                if (depthTest && stencilPass) depthPass = compare(state.zFunc, depth, stored >> 8);
                if (stencilTest) {
                    uint32_t op = !stencilPass ? state.stencilFail : (!depthPass ? state.stencilZFail : state.stencilPass);
                    uint32_t updated = stencilOp(op, stencil, state.stencilRef);
                    uint32_t mask = state.stencilWriteMask & 0xFF;
                    stencil = (stencil & ~mask) | (updated & mask);
                }
                uint32_t newWord = (stored & 0xFFFFFF00u) | stencil;
                if (stencilPass && depthPass && depthTest && state.zWriteEnable) newWord = (depth << 8) | stencil;
                *depthWord = newWord;
                if (!stencilPass || !depthPass) continue;
            }

            uint32_t& pixel = colorRow[x];
            float out[4];
            if (state.alphaBlendEnable) {
                float dst[4];
                unpack(pixel, dst);
                if (state.blendOp == 1 && state.srcBlend == 5 && state.destBlend == 6) {
                    const float a = current[3];
                    for (int k = 0; k < 4; ++k) out[k] = current[k] * a + dst[k] * (1 - a);
                } else if (state.blendOp == 1 && state.srcBlend == 5 && state.destBlend == 2) {
                    const float a = current[3];
                    for (int k = 0; k < 4; ++k) out[k] = current[k] * a + dst[k];
                } else if (state.blendOp == 4 || state.blendOp == 5) {
                    for (int k = 0; k < 4; ++k)
                        out[k] = state.blendOp == 4 ? std::min(current[k], dst[k]) : std::max(current[k], dst[k]);
                } else {
                    float sf[4], df[4];
                    blendFactor(state.srcBlend, current, dst, 0xFFFFFFFF, sf);
                    blendFactor(state.destBlend, current, dst, 0xFFFFFFFF, df);
                    for (int k = 0; k < 4; ++k) {
                        float s = current[k] * sf[k], d = dst[k] * df[k];
                        out[k] = state.blendOp == 2 ? s - d : (state.blendOp == 3 ? d - s : s + d);
                    }
                }
            } else {
                for (int k = 0; k < 4; ++k) out[k] = current[k];
            }
            uint32_t color = (toByte(out[3]) << 24) | (toByte(out[0]) << 16) | (toByte(out[1]) << 8) | toByte(out[2]);
            uint32_t mask = 0;
            if (state.colorWriteEnable & 1) mask |= 0x00FF0000u;
            if (state.colorWriteEnable & 2) mask |= 0x0000FF00u;
            if (state.colorWriteEnable & 4) mask |= 0x000000FFu;
            if (state.colorWriteEnable & 8) mask |= 0xFF000000u;
            pixel = (pixel & ~mask) | (color & mask);
        }
    }
}

}  // namespace raster
