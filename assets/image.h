// Pictures of the asset generator: float RGBA canvases, tileable noise, colour ramps, soft shapes and the
// two file writers. Channels are straight (not premultiplied) alpha, nominally 0..1, in sRGB display
// values; the writers round each channel once, explicitly, to 8 bits.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace gen {

struct Rgba {
    float r = 0, g = 0, b = 0, a = 1;
};

Rgba mix(const Rgba& a, const Rgba& b, float t);
Rgba rgb(uint32_t hex, float alpha = 1.0f);  // 0xRRGGBB
float clamp01(float v);
float smoothstep(float e0, float e1, float x);

struct Image {
    int width = 0, height = 0;
    std::vector<Rgba> px;
    Image(int w, int h, Rgba fill = {0, 0, 0, 1});
    Rgba& at(int x, int y) { return px[size_t(y) * size_t(width) + size_t(x)]; }
    const Rgba& at(int x, int y) const { return px[size_t(y) * size_t(width) + size_t(x)]; }
    // "over" compositing of a straight-alpha colour onto the pixel, with an extra coverage factor.
    void blend(int x, int y, const Rgba& c, float coverage);
    void add(int x, int y, float r, float g, float b);
};

// A coverage mask (0..1), as lettering or shapes are rendered into before they are coloured.
struct Mask {
    int width = 0, height = 0;
    std::vector<float> v;
    Mask(int w, int h) : width(w), height(h), v(size_t(w) * size_t(h), 0.0f) {}
    float& at(int x, int y) { return v[size_t(y) * size_t(width) + size_t(x)]; }
    float at(int x, int y) const { return v[size_t(y) * size_t(width) + size_t(x)]; }
    float sample(int x, int y) const {  // zero outside
        return (x < 0 || y < 0 || x >= width || y >= height) ? 0.0f : at(x, y);
    }
};

// Gaussian-like blur: three box passes of the given radius in each direction (edges read as zero).
Mask blurred(const Mask& m, int radius);

// Paints `color` through the mask onto the image at (ox, oy), coverage scaled by `strength`.
void paintMask(Image& img, const Mask& m, int ox, int oy, const Rgba& color, float strength = 1.0f);

// Tileable value noise: lattice of `period` cells per unit of the domain [0,1), quintic fade; 0..1.
float tileNoise(float u, float v, int period, uint32_t seed);
// The same with separate lattice periods along u and v (streaks).
float tileNoise2(float u, float v, int periodU, int periodV, uint32_t seed);
// Fractal sum of tileNoise, octave k at period base*2^k with weight gain^k; normalised to about 0..1.
float tileFbm(float u, float v, int basePeriod, int octaves, float gain, uint32_t seed);
// Tileable cellular noise: distances to the nearest and second-nearest feature point (in cell units).
void tileCells(float u, float v, int period, uint32_t seed, float& f1, float& f2);

// Deterministic integer hash and a small sequential generator.
uint32_t hash32(uint32_t x);
struct Rng {
    uint32_t s;
    explicit Rng(uint32_t seed) : s(seed * 2654435761u + 1u) {}
    uint32_t next() {
        s ^= s << 13;
        s ^= s >> 17;
        s ^= s << 5;
        return s;
    }
    float uniform() { return float(next() >> 8) * (1.0f / 16777216.0f); }  // [0,1)
    float range(float a, float b) { return a + (b - a) * uniform(); }
};

// Colour ramp through stops (position 0..1, colour); positions ascending.
struct Ramp {
    std::vector<std::pair<float, Rgba>> stops;
    Rgba operator()(float t) const;
};

// Soft disc (coverage falls off over `soft` pixels at the edge), and a soft horizontal/any-angle line.
void softDisc(Image& img, float cx, float cy, float radius, float soft, const Rgba& c);
void softLine(Image& img, float x0, float y0, float x1, float y1, float width, const Rgba& c);

// 8-bit conversion: round(v * 255) with halves away from zero, after clamping to 0..1.
uint8_t to8(float v);

bool writePng(const Image& img, const std::string& path);                // RGBA, 8 bits per channel
bool writeJpeg(const Image& img, const std::string& path, int quality);  // RGB, alpha ignored

}  // namespace gen
