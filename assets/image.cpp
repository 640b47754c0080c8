#include "assets/image.h"

#include <png.h>

#include <algorithm>
#include <cmath>
#include <csetjmp>
#include <cstdio>

#include <jpeglib.h>

namespace gen {

float clamp01(float v) {
    return v < 0.0f ? 0.0f : (v > 1.0f ? 1.0f : v);
}

float smoothstep(float e0, float e1, float x) {
    float t = clamp01((x - e0) / (e1 - e0));
    return t * t * (3.0f - 2.0f * t);
}

Rgba mix(const Rgba& a, const Rgba& b, float t) {
    return {a.r + (b.r - a.r) * t, a.g + (b.g - a.g) * t, a.b + (b.b - a.b) * t, a.a + (b.a - a.a) * t};
}

Rgba rgb(uint32_t hex, float alpha) {
    return {float((hex >> 16) & 255) / 255.0f, float((hex >> 8) & 255) / 255.0f, float(hex & 255) / 255.0f,
            alpha};
}

Image::Image(int w, int h, Rgba fill) : width(w), height(h), px(size_t(w) * size_t(h), fill) {}

void Image::blend(int x, int y, const Rgba& c, float coverage) {
    if (x < 0 || y < 0 || x >= width || y >= height) return;
    float sa = clamp01(c.a * coverage);
    if (sa <= 0.0f) return;
    Rgba& d = at(x, y);
    float oa = sa + d.a * (1.0f - sa);
    if (oa <= 0.0f) {
        d = {c.r, c.g, c.b, 0.0f};
        return;
    }
    float k = d.a * (1.0f - sa);
    d.r = (c.r * sa + d.r * k) / oa;
    d.g = (c.g * sa + d.g * k) / oa;
    d.b = (c.b * sa + d.b * k) / oa;
    d.a = oa;
}

void Image::add(int x, int y, float r, float g, float b) {
    if (x < 0 || y < 0 || x >= width || y >= height) return;
    Rgba& d = at(x, y);
    d.r += r;
    d.g += g;
    d.b += b;
}

static void boxPass(const std::vector<float>& src, std::vector<float>& dst, int n, int stride, int count,
                    int lineStride, int radius) {
    // One running-sum box filter along `count` lines of `n` samples.
    float inv = 1.0f / float(2 * radius + 1);
    for (int line = 0; line < count; ++line) {
        size_t base = size_t(line) * size_t(lineStride);
        float sum = 0.0f;
        for (int i = -radius; i <= radius; ++i)
            if (i >= 0 && i < n) sum += src[base + size_t(i) * size_t(stride)];
        for (int i = 0; i < n; ++i) {
            dst[base + size_t(i) * size_t(stride)] = sum * inv;
            int out = i - radius, in = i + radius + 1;
            if (out >= 0) sum -= src[base + size_t(out) * size_t(stride)];
            if (in < n) sum += src[base + size_t(in) * size_t(stride)];
        }
    }
}

Mask blurred(const Mask& m, int radius) {
    Mask out(m.width, m.height);
    if (radius <= 0) return m;
    std::vector<float> a = m.v, b(a.size());
    for (int pass = 0; pass < 3; ++pass) {
        boxPass(a, b, m.width, 1, m.height, m.width, radius);
        boxPass(b, a, m.height, m.width, m.width, 1, radius);
    }
    out.v = std::move(a);
    return out;
}

void paintMask(Image& img, const Mask& m, int ox, int oy, const Rgba& color, float strength) {
    for (int y = 0; y < m.height; ++y)
        for (int x = 0; x < m.width; ++x) {
            float c = m.at(x, y) * strength;
            if (c > 0.0f) img.blend(ox + x, oy + y, color, c);
        }
}

uint32_t hash32(uint32_t x) {
    x ^= x >> 16;
    x *= 0x7feb352du;
    x ^= x >> 15;
    x *= 0x846ca68bu;
    x ^= x >> 16;
    return x;
}

static float lattice(int ix, int iy, int px, int py, uint32_t seed) {
    ix = ((ix % px) + px) % px;
    iy = ((iy % py) + py) % py;
    uint32_t h = hash32(uint32_t(ix) * 73856093u ^ hash32(uint32_t(iy) * 19349663u ^ seed));
    return float(h >> 8) * (1.0f / 16777215.0f);
}

static float fade(float t) {
    return t * t * t * (t * (t * 6.0f - 15.0f) + 10.0f);
}

float tileNoise(float u, float v, int period, uint32_t seed) {
    return tileNoise2(u, v, period, period, seed);
}

float tileNoise2(float u, float v, int px, int py, uint32_t seed) {
    float x = u * float(px), y = v * float(py);
    float fx = std::floor(x), fy = std::floor(y);
    int ix = int(fx), iy = int(fy);
    float tx = fade(x - fx), ty = fade(y - fy);
    float a = lattice(ix, iy, px, py, seed), b = lattice(ix + 1, iy, px, py, seed);
    float c = lattice(ix, iy + 1, px, py, seed), d = lattice(ix + 1, iy + 1, px, py, seed);
    float top = a + (b - a) * tx, bottom = c + (d - c) * tx;
    return top + (bottom - top) * ty;
}

float tileFbm(float u, float v, int basePeriod, int octaves, float gain, uint32_t seed) {
    float sum = 0.0f, weight = 1.0f, total = 0.0f;
    int period = basePeriod;
    for (int k = 0; k < octaves; ++k) {
        sum += tileNoise(u, v, period, seed + uint32_t(k) * 1013u) * weight;
        total += weight;
        weight *= gain;
        period *= 2;
    }
    return sum / total;
}

void tileCells(float u, float v, int period, uint32_t seed, float& f1, float& f2) {
    float x = u * float(period), y = v * float(period);
    int ix = int(std::floor(x)), iy = int(std::floor(y));
    f1 = f2 = 9.0f;
    for (int dy = -1; dy <= 1; ++dy)
        for (int dx = -1; dx <= 1; ++dx) {
            int cx = ix + dx, cy = iy + dy;
            int wx = ((cx % period) + period) % period, wy = ((cy % period) + period) % period;
            uint32_t h = hash32(uint32_t(wx) * 2246822519u ^ hash32(uint32_t(wy) * 3266489917u ^ seed));
            // Points stay off the cell borders, so neighbours never nearly coincide.
            float px = float(cx) + 0.15f + 0.7f * float(h & 0xFFFF) / 65535.0f;
            float py = float(cy) + 0.15f + 0.7f * float(h >> 16) / 65535.0f;
            float d = std::sqrt((px - x) * (px - x) + (py - y) * (py - y));
            if (d < f1) {
                f2 = f1;
                f1 = d;
            } else if (d < f2) {
                f2 = d;
            }
        }
}

Rgba Ramp::operator()(float t) const {
    if (t <= stops.front().first) return stops.front().second;
    for (size_t i = 1; i < stops.size(); ++i)
        if (t <= stops[i].first) {
            float span = stops[i].first - stops[i - 1].first;
            return mix(stops[i - 1].second, stops[i].second,
                       span > 0 ? (t - stops[i - 1].first) / span : 1.0f);
        }
    return stops.back().second;
}

void softDisc(Image& img, float cx, float cy, float radius, float soft, const Rgba& c) {
    int x0 = std::max(0, int(cx - radius - soft) - 1),
        x1 = std::min(img.width - 1, int(cx + radius + soft) + 1);
    int y0 = std::max(0, int(cy - radius - soft) - 1),
        y1 = std::min(img.height - 1, int(cy + radius + soft) + 1);
    for (int y = y0; y <= y1; ++y)
        for (int x = x0; x <= x1; ++x) {
            float d = std::sqrt((float(x) - cx) * (float(x) - cx) + (float(y) - cy) * (float(y) - cy));
            float cov = 1.0f - smoothstep(radius - soft, radius + soft, d);
            if (cov > 0.0f) img.blend(x, y, c, cov);
        }
}

void softLine(Image& img, float x0, float y0, float x1, float y1, float width, const Rgba& c) {
    float dx = x1 - x0, dy = y1 - y0, len2 = dx * dx + dy * dy;
    int bx0 = std::max(0, int(std::min(x0, x1) - width) - 1);
    int bx1 = std::min(img.width - 1, int(std::max(x0, x1) + width) + 1);
    int by0 = std::max(0, int(std::min(y0, y1) - width) - 1);
    int by1 = std::min(img.height - 1, int(std::max(y0, y1) + width) + 1);
    for (int y = by0; y <= by1; ++y)
        for (int x = bx0; x <= bx1; ++x) {
            float t = len2 > 0 ? ((float(x) - x0) * dx + (float(y) - y0) * dy) / len2 : 0.0f;
            t = clamp01(t);
            float px = x0 + dx * t - float(x), py = y0 + dy * t - float(y);
            float d = std::sqrt(px * px + py * py);
            float cov = 1.0f - smoothstep(width * 0.5f - 0.5f, width * 0.5f + 0.5f, d);
            if (cov > 0.0f) img.blend(x, y, c, cov);
        }
}

uint8_t to8(float v) {
    float c = clamp01(v) * 255.0f;
    return uint8_t(int(std::floor(c + 0.5f)));
}

bool writePng(const Image& img, const std::string& path) {
    std::vector<uint8_t> bytes(size_t(img.width) * size_t(img.height) * 4);
    for (size_t i = 0; i < img.px.size(); ++i) {
        bytes[i * 4 + 0] = to8(img.px[i].r);
        bytes[i * 4 + 1] = to8(img.px[i].g);
        bytes[i * 4 + 2] = to8(img.px[i].b);
        bytes[i * 4 + 3] = to8(img.px[i].a);
    }
    png_image pi{};
    pi.version = PNG_IMAGE_VERSION;
    pi.width = png_uint_32(img.width);
    pi.height = png_uint_32(img.height);
    pi.format = PNG_FORMAT_RGBA;
    int ok = png_image_write_to_file(&pi, path.c_str(), 0, bytes.data(), 0, nullptr);
    png_image_free(&pi);
    return ok != 0;
}

namespace {
struct JpegError {
    jpeg_error_mgr pub;
    jmp_buf jump;
};
void onJpegError(j_common_ptr c) {
    longjmp(reinterpret_cast<JpegError*>(c->err)->jump, 1);
}
}  // namespace

bool writeJpeg(const Image& img, const std::string& path, int quality) {
    std::vector<uint8_t> rgbBytes(size_t(img.width) * size_t(img.height) * 3);
    for (size_t i = 0; i < img.px.size(); ++i) {
        rgbBytes[i * 3 + 0] = to8(img.px[i].r);
        rgbBytes[i * 3 + 1] = to8(img.px[i].g);
        rgbBytes[i * 3 + 2] = to8(img.px[i].b);
    }
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return false;
    jpeg_compress_struct c;
    JpegError err;
    c.err = jpeg_std_error(&err.pub);
    err.pub.error_exit = onJpegError;
    if (setjmp(err.jump)) {
        jpeg_destroy_compress(&c);
        std::fclose(f);
        return false;
    }
    jpeg_create_compress(&c);
    jpeg_stdio_dest(&c, f);
    c.image_width = JDIMENSION(img.width);
    c.image_height = JDIMENSION(img.height);
    c.input_components = 3;
    c.in_color_space = JCS_RGB;
    jpeg_set_defaults(&c);
    c.dct_method = JDCT_ISLOW;  // the exact integer transform: same bytes on every machine
    jpeg_set_quality(&c, quality, TRUE);
    for (int i = 0; i < c.num_components; ++i) {  // 4:4:4, so thin lettering keeps its colour
        c.comp_info[i].h_samp_factor = 1;
        c.comp_info[i].v_samp_factor = 1;
    }
    jpeg_start_compress(&c, TRUE);
    while (c.next_scanline < c.image_height) {
        JSAMPROW row = rgbBytes.data() + size_t(c.next_scanline) * size_t(img.width) * 3;
        jpeg_write_scanlines(&c, &row, 1);
    }
    jpeg_finish_compress(&c);
    jpeg_destroy_compress(&c);
    return std::fclose(f) == 0;
}

}  // namespace gen
