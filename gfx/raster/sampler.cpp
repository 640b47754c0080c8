// Texture sampling: addressing, point and bilinear filters, mip level choice.
#include <algorithm>
#include <cmath>

#include "gfx/raster/internal.h"

namespace raster {

namespace {

bool outside(int i, int n, Address mode) { return mode == Address::Border && (i < 0 || i >= n); }

void texel(const TextureLevel& level, const Sampler& sampler, bool opaque, int x, int y, float out[4]) {
    uint32_t c;
    if (outside(x, level.width, sampler.addressU) || outside(y, level.height, sampler.addressV)) {
        c = sampler.borderColor;
    } else {
        c = level.texels[size_t(addressTexel(y, level.height, sampler.addressV)) * size_t(level.width) +
                         size_t(addressTexel(x, level.width, sampler.addressU))];
    }
    constexpr float scale = 1.0f / 255.0f;
    out[0] = float((c >> 16) & 0xFF) * scale;
    out[1] = float((c >> 8) & 0xFF) * scale;
    out[2] = float(c & 0xFF) * scale;
    out[3] = opaque ? 1.0f : float(c >> 24) * scale;
}

inline int wrapIndex(int i, int n, Address mode) {
    if (mode == Address::Wrap) {
        // Power-of-two sizes, the usual case, wrap with a mask.
        if ((n & (n - 1)) == 0) return i & (n - 1);
        int m = i % n;
        return m < 0 ? m + n : m;
    }
    return addressTexel(i, n, mode);
}

inline void unpackTexel(uint32_t c, bool opaque, float out[4]) {
    constexpr float scale = 1.0f / 255.0f;
    out[0] = float((c >> 16) & 0xFF) * scale;
    out[1] = float((c >> 8) & 0xFF) * scale;
    out[2] = float(c & 0xFF) * scale;
    out[3] = opaque ? 1.0f : float(c >> 24) * scale;
}

void sampleLevel(const TextureLevel& level, const Sampler& sampler, bool opaque, Filter filter, float u, float v,
                 float out[4]) {
    // Bound the coordinates so huge values cannot overflow the integer texel index.
    u = std::clamp(u, -1.0e6f, 1.0e6f);
    v = std::clamp(v, -1.0e6f, 1.0e6f);
    if (std::isnan(u)) u = 0;
    if (std::isnan(v)) v = 0;
    const float s = u * float(level.width);
    const float t = v * float(level.height);
    const bool border = sampler.addressU == Address::Border || sampler.addressV == Address::Border;
    if (filter != Filter::Linear) {
        if (border) {
            texel(level, sampler, opaque, int(std::floor(s)), int(std::floor(t)), out);
            return;
        }
        int x = wrapIndex(int(std::floor(s)), level.width, sampler.addressU);
        int y = wrapIndex(int(std::floor(t)), level.height, sampler.addressV);
        unpackTexel(level.texels[size_t(y) * size_t(level.width) + size_t(x)], opaque, out);
        return;
    }
    const float sx = s - 0.5f, ty = t - 0.5f;
    const float fx = std::floor(sx), fy = std::floor(ty);
    const int x0 = int(fx), y0 = int(fy);
    const float wx = sx - fx, wy = ty - fy;
    float c00[4], c10[4], c01[4], c11[4];
    if (border) {
        texel(level, sampler, opaque, x0, y0, c00);
        texel(level, sampler, opaque, x0 + 1, y0, c10);
        texel(level, sampler, opaque, x0, y0 + 1, c01);
        texel(level, sampler, opaque, x0 + 1, y0 + 1, c11);
    } else {
        const int ax = wrapIndex(x0, level.width, sampler.addressU), bx = wrapIndex(x0 + 1, level.width, sampler.addressU);
        const uint32_t* rowA = level.texels + size_t(wrapIndex(y0, level.height, sampler.addressV)) * size_t(level.width);
        const uint32_t* rowB =
            level.texels + size_t(wrapIndex(y0 + 1, level.height, sampler.addressV)) * size_t(level.width);
        unpackTexel(rowA[ax], opaque, c00);
        unpackTexel(rowA[bx], opaque, c10);
        unpackTexel(rowB[ax], opaque, c01);
        unpackTexel(rowB[bx], opaque, c11);
    }
    for (int k = 0; k < 4; ++k) {
        float top = c00[k] + (c10[k] - c00[k]) * wx;
        float bottom = c01[k] + (c11[k] - c01[k]) * wx;
        out[k] = top + (bottom - top) * wy;
    }
}

}  // namespace

void sampleTexture(const Texture& texture, const Sampler& sampler, float u, float v, float lod, float out[4]) {
    if (texture.levelCount <= 0) {
        out[0] = out[1] = out[2] = 0;
        out[3] = 1;
        return;
    }
    if (lod <= 0.0f || sampler.mip == Filter::None || texture.levelCount == 1) {
        sampleLevel(texture.levels[0], sampler, texture.opaque, lod <= 0.0f ? sampler.mag : sampler.min, u, v, out);
        return;
    }
    const float maxLevel = float(texture.levelCount - 1);
    if (sampler.mip == Filter::Point) {
        int level = int(std::min(std::floor(lod + 0.5f), maxLevel));
        sampleLevel(texture.levels[level], sampler, texture.opaque, sampler.min, u, v, out);
        return;
    }
    float clamped = std::min(lod, maxLevel);
    int level = int(std::floor(clamped));
    float weight = clamped - float(level);
    sampleLevel(texture.levels[level], sampler, texture.opaque, sampler.min, u, v, out);
    if (weight > 0.0f && level + 1 < texture.levelCount) {
        float next[4];
        sampleLevel(texture.levels[level + 1], sampler, texture.opaque, sampler.min, u, v, next);
        for (int k = 0; k < 4; ++k) out[k] += (next[k] - out[k]) * weight;
    }
}

}  // namespace raster
