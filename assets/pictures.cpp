// The 28 pictures. Sizes are powers of two, so the loader keeps them texel for texel; the full-screen
// pictures are composed for their top-left 640 x 480 (kaldoback, seeya) or for the whole picture stretched
// over 640 x 480 (plupoback). Surface textures and environment maps tile in both directions, because the
// scenes address them with wrapping coordinates from camera-space normals.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <functional>
#include <string>

#include "assets/event.h"
#include "assets/generator.h"
#include "assets/image.h"
#include "assets/text.h"

namespace gen {

namespace {

constexpr float pi = 3.14159265358979f;
constexpr float twoPi = 2.0f * pi;

Image tileable(int size, const std::function<Rgba(float, float)>& f) {
    Image img(size, size);
    for (int y = 0; y < size; ++y)
        for (int x = 0; x < size; ++x) img.at(x, y) = f(float(x) / float(size), float(y) / float(size));
    return img;
}

// Ridged noise, bright along the zero crossings of the fractal sum.
float ridged(float u, float v, int period, int octaves, uint32_t seed) {
    float n = tileFbm(u, v, period, octaves, 0.5f, seed);
    return 1.0f - std::fabs(2.0f * n - 1.0f);
}

// Shrinks the font size until the text fits `maxWidth`.
TextStyle fit(TextStyle s, const std::string& text, int maxWidth) {
    while (s.pixelSize > 8 && textWidth(s, text) > maxWidth) --s.pixelSize;
    return s;
}

// ---------------------------------------------------------------------------------------------------
// Word plates: one word, white, soft glow, transparent elsewhere; centred on its ink in 512 x 128.

Image wordPlate(const std::string& word, const TextStyle& style, const Rgba& glowColor) {
    Image img(512, 128, {glowColor.r, glowColor.g, glowColor.b, 0.0f});
    TextStyle s = fit(style, word, 440);
    Mask m = textMask(s, word, 0);
    int x0 = m.width, x1 = -1, y0 = m.height, y1 = -1;
    for (int y = 0; y < m.height; ++y)
        for (int x = 0; x < m.width; ++x)
            if (m.at(x, y) > 0.02f)
                x0 = std::min(x0, x), x1 = std::max(x1, x), y0 = std::min(y0, y), y1 = std::max(y1, y);
    int ox = (512 - (x1 - x0 + 1)) / 2 - x0, oy = (128 - (y1 - y0 + 1)) / 2 - y0;
    Mask placed(512, 128);
    for (int y = 0; y < m.height; ++y)
        for (int x = 0; x < m.width; ++x) {
            int tx = x + ox, ty = y + oy;
            if (tx >= 0 && ty >= 0 && tx < 512 && ty < 128) placed.at(tx, ty) = m.at(x, y);
        }
    // The wide glow's faint tail is cut, so the plate is transparent (alpha 0) away from the word.
    Mask wide = blurred(placed, 14);
    for (float& v : wide.v) v = std::max(0.0f, v - 0.015f);
    paintMask(img, wide, 0, 0, glowColor, 0.9f);
    paintMask(img, blurred(placed, 4), 0, 0, mix(glowColor, rgb(0xFFFFFF), 0.5f), 1.1f);
    paintMask(img, placed, 0, 0, rgb(0xFFFFFF), 1.0f);
    return img;
}

// ---------------------------------------------------------------------------------------------------
// Box intro background: warm brown, a lit centre behind the box, a measuring ring, faint lettering.

Image kaldoback() {
    Image img(1024, 512, rgb(0x000000));
    Ramp sky{{{0.0f, rgb(0x120904)}, {0.45f, rgb(0x4a2a12)}, {0.62f, rgb(0x2a1608)}, {1.0f, rgb(0x0a0502)}}};
    for (int y = 0; y < 480; ++y)
        for (int x = 0; x < 640; ++x) {
            float u = float(x) / 640.0f, v = float(y) / 480.0f;
            Rgba c = sky(v);
            float clouds = tileFbm(u * 0.8f, v * 0.6f, 4, 6, 0.55f, 11);
            float streak = tileNoise2(u, v, 3, 90, 12);
            c = mix(c, rgb(0x8a4e22), smoothstep(0.45f, 0.8f, clouds) * 0.45f);
            c = mix(c, rgb(0x000000), streak * 0.18f);
            float dx = float(x) - 320.0f, dy = float(y) - 240.0f, d = std::sqrt(dx * dx + dy * dy);
            float glow = std::exp(-d * d / (2.0f * 170.0f * 170.0f));
            c = mix(c, rgb(0xffa24a), glow * 0.55f);
            // Perspective floor lines below the horizon at y = 330.
            if (y > 330) {
                float depth = 60.0f / float(y - 330 + 6);
                float lineZ = std::fabs(std::fmod(depth * 4.0f, 1.0f) - 0.5f);
                float lineX = std::fabs(std::fmod((dx * depth * 0.05f) + 100.5f, 1.0f) - 0.5f);
                float floor = (smoothstep(0.45f, 0.5f, lineZ) + smoothstep(0.46f, 0.5f, lineX)) *
                              smoothstep(330.0f, 420.0f, float(y));
                c = mix(c, rgb(0xd07a30), clamp01(floor) * 0.35f);
            }
            // Drawn at half brightness by the scene: lift it, darken the corners.
            float vig = 1.75f * (1.0f - 0.7f * smoothstep(250.0f, 480.0f,
                                                          std::sqrt(dx * dx * 0.8f + dy * dy * 1.4f)));
            // A soft shoulder on the brightest channel instead of clipping, so the lit centre keeps its
            // clouds and its hue.
            c.r *= vig, c.g *= vig, c.b *= vig;
            float peak = std::max(c.r, std::max(c.g, c.b));
            if (peak > 0.85f) {
                float k = (0.85f + 0.15f * (1.0f - std::exp(-(peak - 0.85f) / 0.15f))) / peak;
                c.r *= k, c.g *= k, c.b *= k;
            }
            img.at(x, y) = c;
        }
    // A measuring ring around the box, with ticks every 6 degrees and longer ones every 30.
    Rgba ring = rgb(0xffc080, 0.5f);
    for (int k = 0; k < 720; ++k) {
        float a0 = float(k) / 720.0f * twoPi, a1 = float(k + 1) / 720.0f * twoPi;
        softLine(img, 320 + 212 * std::cos(a0), 240 + 212 * std::sin(a0), 320 + 212 * std::cos(a1),
                 240 + 212 * std::sin(a1), 1.2f, ring);
        if (k % 4 == 0 && (k / 4) % 6 != 5) {
            softLine(img, 320 + 150 * std::cos(a0), 240 + 150 * std::sin(a0), 320 + 150 * std::cos(a1),
                     240 + 150 * std::sin(a1), 1.0f, rgb(0xffc080, 0.18f));
        }
    }
    for (int k = 0; k < 60; ++k) {
        float a = float(k) / 60.0f * twoPi;
        float inner = (k % 5 == 0) ? 196.0f : 204.0f;
        softLine(img, 320 + inner * std::cos(a), 240 + inner * std::sin(a), 320 + 220 * std::cos(a),
                 240 + 220 * std::sin(a), k % 5 == 0 ? 2.0f : 1.2f, ring);
    }
    TextStyle mono{Face::Mono, 12, 1.0f};
    Rgba amber = rgb(0xffb060, 0.8f);
    drawText(img, mono, "TOVIRA // KALDRA", 20, 30, Align::Left, amber);
    drawText(img, mono, "invitation 2027", 20, 46, Align::Left, rgb(0xffb060, 0.5f));
    drawText(img, mono, std::string(event::name) + " " + event::year, 620, 446, Align::Right, amber);
    drawText(img, mono, std::string(event::dates) + ", " + event::town, 620, 462, Align::Right,
             rgb(0xffb060, 0.5f));
    return img;
}

// ---------------------------------------------------------------------------------------------------
// Closing picture: a dusk over the fjord with the event's name and date.

Image seeya() {
    Image img(1024, 512, rgb(0x000000));
    const float horizon = 330.0f, sunX = 320.0f, sunY = 330.0f, sunR = 100.0f;
    Ramp sky{{{0.0f, rgb(0x07051a)},
              {0.35f, rgb(0x2a1248)},
              {0.62f, rgb(0x7a2460)},
              {0.85f, rgb(0xd8566a)},
              {1.0f, rgb(0xffa860)}}};
    Ramp sun{{{0.0f, rgb(0xfff3a0)}, {0.5f, rgb(0xffb050)}, {1.0f, rgb(0xff4f7a)}}};
    for (int y = 0; y < 480; ++y)
        for (int x = 0; x < 640; ++x) {
            float u = float(x) / 640.0f;
            Rgba c;
            if (float(y) < horizon) {
                c = sky(float(y) / horizon);
                float haze = tileFbm(u * 1.5f, float(y) / 480.0f * 3.0f, 3, 5, 0.5f, 21);
                c = mix(c, rgb(0xff8a70), smoothstep(0.5f, 0.8f, haze) * 0.25f * (float(y) / horizon));
                float dx = float(x) - sunX, dy = float(y) - sunY, d = std::sqrt(dx * dx + dy * dy);
                float halo = std::exp(-d / 120.0f);
                c = mix(c, rgb(0xffb070), halo * 0.5f);
                float stripe = (sunY - float(y)) / sunR;  // 0 at the horizon, 1 at the top of the sun
                bool gap = stripe < 0.55f && std::fmod((sunY - float(y)) * (0.9f + 2.0f * stripe), 14.0f) <
                                                 4.5f * (1.0f - stripe / 0.55f);
                float disc = 1.0f - smoothstep(sunR - 1.0f, sunR + 1.0f, d);
                if (!gap && disc > 0) c = mix(c, sun(clamp01(1.0f - stripe)), disc);
                // Stars, thinning towards the horizon.
                uint32_t h = hash32(uint32_t(y) * 4099u + uint32_t(x) * 7u + 5u);
                if ((h & 1023u) < 3u && float(y) < horizon - 100) {
                    float b = float((h >> 10) & 255u) / 255.0f * (1.0f - float(y) / (horizon - 100));
                    c = mix(c, rgb(0xffffff), b);
                }
            } else {
                float depth = (float(y) - horizon) / (480.0f - horizon);
                c = mix(rgb(0x3a1840), rgb(0x0a0614), depth);
                // The sun's reflection: broken horizontal glints, wider and sparser towards the viewer.
                float dy = float(y) - horizon;
                uint32_t row = hash32(uint32_t(y) * 2654435761u + 17u);
                float r1 = float(row & 0xFFFF) / 65535.0f, r2 = float(row >> 16) / 65535.0f;
                float bands = std::sin(std::pow(dy, 0.72f) * 2.4f);
                float halfWidth = sunR * (0.3f + 0.7f * r1) * (0.8f + depth * 0.6f);
                float off = std::fabs(float(x) - sunX - (r2 - 0.5f) * 24.0f);
                float glitter = smoothstep(0.1f, 0.5f, bands) *
                                (1.0f - smoothstep(halfWidth - 8.0f, halfWidth + 8.0f, off));
                c = mix(c, rgb(0xffb060), glitter * (0.9f - depth * 0.7f));
                float wave = tileNoise2(u, dy / 150.0f, 40, 48, 31);
                float ripple = 0.5f + 0.5f * std::sin(float(y) * 1.3f + wave * 6.0f);
                c = mix(c, rgb(0x6a2a70), ripple * 0.15f * (1.0f - depth));
            }
            float dx = float(x) - 320.0f, dy = float(y) - 240.0f;
            float vig = 1.0f - 0.45f * smoothstep(300.0f, 500.0f, std::sqrt(dx * dx + dy * dy * 1.3f));
            c.r *= vig, c.g *= vig, c.b *= vig;
            img.at(x, y) = c;
        }
    Glow pink{rgb(0xff5a9a), 10, 1.2f};
    drawText(img, {Face::Sans, 26, 8.0f}, "see you at", 320, 112, Align::Centre, rgb(0xffe0ec),
             {rgb(0xff5a9a), 5, 0.8f});
    drawText(img, fit({Face::SansBold, 86, 10.0f}, event::name, 560), event::name, 320, 196, Align::Centre,
             rgb(0xffffff), pink);
    std::string line = std::string(event::dates) + "  \u00b7  " + event::town;
    drawText(img, fit({Face::Sans, 24, 2.0f}, line, 560), line, 320, 240, Align::Centre, rgb(0xfff0d0),
             {rgb(0x7a2460), 4, 1.0f});
    drawText(img, {Face::Sans, 13, 3.0f}, "an invitation by TOVIRA", 320, 444, Align::Centre,
             rgb(0xd8a0c0, 0.8f));
    return img;
}

// ---------------------------------------------------------------------------------------------------
// Plupo background, stretched from 1024 x 512 over 640 x 480: designed in screen coordinates so that
// its circles come out round on screen.

Image plupoback() {
    Image img(1024, 512);
    Rng rng(77);
    struct Bokeh {
        float x, y, r;
        Rgba c;
    };
    std::vector<Bokeh> bokeh;
    const Rgba tints[3] = {rgb(0xff6ab0), rgb(0xffc060), rgb(0x70d0ff)};
    for (int i = 0; i < 46; ++i) {
        Bokeh b{rng.range(0, 640), rng.range(0, 480), rng.range(6, 34), tints[rng.next() % 3]};
        b.c.a = rng.range(0.06f, 0.22f);
        bokeh.push_back(b);
    }
    for (int y = 0; y < 512; ++y)
        for (int x = 0; x < 1024; ++x) {
            float sx = (float(x) + 0.5f) * 640.0f / 1024.0f, sy = (float(y) + 0.5f) * 480.0f / 512.0f;
            float dx = sx - 320.0f, dy = sy - 240.0f, d = std::sqrt(dx * dx + dy * dy);
            float a = std::atan2(dy, dx);
            Rgba c = mix(rgb(0x4a0f56), rgb(0x07030f), smoothstep(0.0f, 420.0f, d));
            float rays = std::pow(0.5f + 0.5f * std::cos(12.0f * a + d * 0.004f), 6.0f);
            float rays2 = std::pow(0.5f + 0.5f * std::cos(7.0f * a - 1.3f), 10.0f);
            float fall = smoothstep(40.0f, 160.0f, d) * (1.0f - smoothstep(160.0f, 460.0f, d));
            c = mix(c, rgb(0xff4f9a), rays * fall * 0.28f);
            c = mix(c, rgb(0xffb347), rays2 * fall * 0.18f);
            float mist = tileFbm(sx / 640.0f, sy / 480.0f, 3, 5, 0.55f, 41);
            c = mix(c, rgb(0x9a3aa0), smoothstep(0.45f, 0.85f, mist) * 0.3f);
            for (const Bokeh& b : bokeh) {
                float bd = std::sqrt((sx - b.x) * (sx - b.x) + (sy - b.y) * (sy - b.y));
                if (bd < b.r + 1.5f) {
                    float cov = (1.0f - smoothstep(b.r - 1.5f, b.r + 1.0f, bd)) *
                                (0.6f + 0.4f * smoothstep(0, b.r, bd));
                    c = mix(c, b.c, cov * b.c.a * 2.0f);
                }
            }
            c.a = 1;
            img.at(x, y) = c;
        }
    return img;
}

// ---------------------------------------------------------------------------------------------------
// Information panels: a translucent rounded plate, legible at 1:1.

float roundedRect(float x, float y, float x0, float y0, float x1, float y1, float r) {
    float cx = std::fmax(x0 + r, std::fmin(x, x1 - r)), cy = std::fmax(y0 + r, std::fmin(y, y1 - r));
    float d = std::sqrt((x - cx) * (x - cx) + (y - cy) * (y - cy)) - r;
    return 1.0f - smoothstep(-0.75f, 0.75f, d);
}

Image infoPanel(const char* title, const char* const lines[3], const Rgba& accent) {
    const Rgba plate = rgb(0x0d0618);
    Image img(256, 128, {plate.r, plate.g, plate.b, 0.0f});
    for (int y = 0; y < 128; ++y)
        for (int x = 0; x < 256; ++x) {
            float fx = float(x) + 0.5f, fy = float(y) + 0.5f;
            // The scene puts the panel at x 390, so its last 6 columns fall off the 640-pixel screen:
            // the plate ends 12 columns short of the picture's right edge.
            float cov = roundedRect(fx, fy, 3, 3, 244, 125, 10);
            Rgba c = mix(rgb(0x1c0c30), plate, fy / 128.0f);
            c.a = 0.72f;
            img.blend(x, y, c, cov);
            float edge = cov * (1.0f - roundedRect(fx, fy, 4.2f, 4.2f, 242.8f, 123.8f, 9));
            img.blend(x, y, {accent.r, accent.g, accent.b, 0.8f}, edge);
        }
    for (int x = 16; x < 120; ++x)
        for (int y = 38; y < 40; ++y) img.blend(x, y, accent, 1.0f - float(x - 16) / 104.0f);
    drawText(img, fit({Face::SansBold, 17, 3.0f}, title, 214), title, 16, 31, Align::Left, accent,
             {accent, 3, 0.45f});
    for (int i = 0; i < 3; ++i) {
        TextStyle s = fit({i == 0 ? Face::SansBold : Face::Sans, 15, 0.3f}, lines[i], 216);
        drawText(img, s, lines[i], 16, 64 + i * 22, Align::Left, rgb(0xffffff, i == 0 ? 1.0f : 0.92f));
    }
    return img;
}

// ---------------------------------------------------------------------------------------------------
// Credits line: three role / handle pairs across 1024 x 128.

Image creditz() {
    const Rgba glow = rgb(0x3fd8c8);
    Image img(1024, 128, {glow.r, glow.g, glow.b, 0.0f});
    for (int i = 0; i < 3; ++i) {
        float cx = 171.0f + 341.0f * float(i);
        drawText(img, {Face::Sans, 22, 6.0f}, event::credits[i][0], cx, 36, Align::Centre, rgb(0xa8fff0),
                 {glow, 3, 0.6f});
        drawText(img, {Face::SansBold, 56, 4.0f}, event::credits[i][1], cx, 90, Align::Centre, rgb(0xffffff),
                 {glow, 7, 1.1f});
        if (i < 2) softDisc(img, cx + 170.5f, 68, 4.5f, 1.0f, rgb(0xa8fff0, 0.9f));
    }
    return img;
}

// ---------------------------------------------------------------------------------------------------
// Greetings: a tall list; the second picture is the same layout lit up.

Image greetz(bool lit) {
    const Rgba glow = lit ? rgb(0xffa040) : rgb(0x3060c0);
    Image img(256, 2048, {glow.r, glow.g, glow.b, 0.0f});
    TextStyle head{Face::SansBold, 30, 5.0f};
    drawText(img, head, "greetings", 128, 62, Align::Centre, lit ? rgb(0xffffff) : rgb(0xc8dcff),
             {glow, lit ? 8 : 5, lit ? 1.3f : 0.7f});
    for (int x = 40; x < 216; ++x) {
        float w = 1.0f - std::fabs(float(x) - 128.0f) / 88.0f;
        img.blend(x, 78, lit ? rgb(0xffd080) : rgb(0x6a8ac0), w);
        img.blend(x, 79, lit ? rgb(0xffd080) : rgb(0x6a8ac0), w * 0.5f);
    }
    int n = int(sizeof(event::greetings) / sizeof(event::greetings[0]));
    for (int i = 0; i < n; ++i) {
        int baseline = 140 + i * 56;
        TextStyle s = fit({Face::Sans, 23, 1.0f}, event::greetings[i], 236);
        if (lit) {
            for (int y = baseline - 24; y < baseline + 10; ++y)
                for (int x = 6; x < 250; ++x) {
                    float cov = roundedRect(float(x) + 0.5f, float(y) + 0.5f, 8, float(baseline - 24), 248,
                                            float(baseline + 10), 12);
                    float fade = 1.0f - std::fabs(float(x) - 128.0f) / 122.0f;
                    img.blend(x, y, rgb(0xff7a20, 0.38f * fade), cov);
                }
        }
        drawText(img, s, event::greetings[i], 128, baseline, Align::Centre,
                 lit ? rgb(0xffffff) : rgb(0xc8dcff), {glow, lit ? 6 : 3, lit ? 1.2f : 0.6f});
    }
    return img;
}

// ---------------------------------------------------------------------------------------------------
// The blue flare: a radial glow with a faint cross, black at the border (drawn additively).

Image flareblue() {
    Image img(64, 64);
    for (int y = 0; y < 64; ++y)
        for (int x = 0; x < 64; ++x) {
            float dx = (float(x) + 0.5f - 32.0f) / 32.0f, dy = (float(y) + 0.5f - 32.0f) / 32.0f;
            float r = std::sqrt(dx * dx + dy * dy);
            float window = 1.0f - smoothstep(0.7f, 0.98f, r);
            float core = std::exp(-r * r / 0.012f);
            float halo = std::exp(-r * r / 0.12f);
            float cross =
                (std::exp(-std::fabs(dy) * 40.0f) + std::exp(-std::fabs(dx) * 40.0f)) * std::exp(-r * 3.0f);
            float b = window * (halo * 0.75f + cross * 0.35f);
            float w = window * core;
            img.at(x, y) = {b * 0.25f + w, b * 0.55f + w, b * 1.0f + w * 0.9f, 1.0f};
        }
    return img;
}

// ---------------------------------------------------------------------------------------------------
// Tileable surfaces and environment maps.

Image kaldobrown() {
    Ramp metal{{{0.0f, rgb(0x1e1008)},
                {0.35f, rgb(0x5a3418)},
                {0.6f, rgb(0x9a5c2a)},
                {0.82f, rgb(0xd69a5a)},
                {1.0f, rgb(0xfff0c8)}}};
    return tileable(512, [&](float u, float v) {
        float tarnish = tileFbm(u, v, 4, 6, 0.55f, 101);
        float brush = tileNoise2(u, v, 4, 256, 102) * 0.6f + tileNoise2(u, v, 8, 512, 103) * 0.4f;
        // Faces turned to the camera reflect near (0, 0), which stays dark brown (the box is lit by a white
        // ambient, so it shows the texture as it is); the bright bands at v = 1/8 and 5/8 sweep over the
        // faces as the box turns.
        float bands = std::pow(0.5f + 0.5f * std::sin(twoPi * (2.0f * v + 0.15f * (tarnish - 0.5f))), 8.0f);
        float spots = std::pow(tileFbm(u, v, 2, 3, 0.5f, 104), 3.0f) * 1.6f;
        float level = 0.12f + 0.36f * tarnish + 0.16f * (brush - 0.5f) + 0.5f * bands + 0.2f * spots;
        float f1, f2;
        tileCells(u, v, 16, 105, f1, f2);
        float seam = 1.0f - smoothstep(0.0f, 0.05f, f2 - f1);  // faint hammered facets
        return mix(metal(clamp01(level)), rgb(0x140a04), seam * 0.35f);
    });
}

Image bioplasma() {
    Ramp plasma{{{0.0f, rgb(0x02100f)},
                 {0.3f, rgb(0x06443c)},
                 {0.5f, rgb(0x1a9a72)},
                 {0.66f, rgb(0x5b2a86)},
                 {0.82f, rgb(0xb04ab0)},
                 {1.0f, rgb(0xe8ffb0)}}};
    return tileable(512, [&](float u, float v) {
        float qx = tileFbm(u, v, 3, 5, 0.5f, 201), qy = tileFbm(u, v, 3, 5, 0.5f, 202);
        float rx = tileFbm(u + 0.6f * qx, v + 0.6f * qy, 3, 5, 0.5f, 203);
        float ry = tileFbm(u + 0.6f * qx + 0.3f, v + 0.6f * qy, 3, 5, 0.5f, 204);
        float n = tileFbm(u + 0.8f * rx, v + 0.8f * ry, 4, 6, 0.55f, 205);
        float veins = ridged(u + 0.3f * rx, v + 0.3f * ry, 6, 4, 206);
        Rgba c = plasma(clamp01((n - 0.3f) * 2.2f));
        c = mix(c, rgb(0xd8ffe0), std::pow(veins, 10.0f) * 0.6f);
        // The grid behind the creature is lit by a white ambient and shows this as it is: kept at about
        // 60 % so the creature, its glow and the words stand out.
        c.r *= 0.6f, c.g *= 0.6f, c.b *= 0.6f;
        return c;
    });
}

Image bioplasmaenv() {
    Ramp env{{{0.0f, rgb(0x12031c)},
              {0.4f, rgb(0x5a1060)},
              {0.65f, rgb(0xe0407a)},
              {0.85f, rgb(0xffa860)},
              {1.0f, rgb(0xfffff0)}}};
    return tileable(256, [&](float u, float v) {
        float w = tileFbm(u, v, 2, 4, 0.5f, 301);
        float n = tileFbm(u + 0.5f * w, v + 0.5f * w, 3, 5, 0.55f, 302);
        float veins = ridged(u + 0.4f * w, v, 4, 4, 303);
        float glint = std::pow(0.5f + 0.5f * std::cos(twoPi * (u + v + w)), 12.0f);
        return env(clamp01((n - 0.25f) * 1.8f + std::pow(veins, 6.0f) * 0.35f + glint * 0.3f));
    });
}

Image corrosea() {
    Ramp water{{{0.0f, rgb(0x041a20)}, {0.5f, rgb(0x0f4a52)}, {1.0f, rgb(0x2a8a84)}}};
    Ramp rust{{{0.0f, rgb(0x3a1606)}, {0.5f, rgb(0x8a3c12)}, {1.0f, rgb(0xd2782e)}}};
    return tileable(512, [&](float u, float v) {
        float warp = tileFbm(u, v, 4, 4, 0.5f, 401);
        float f1, f2;
        tileCells(u + 0.05f * warp, v + 0.05f * warp, 10, 402, f1, f2);
        float caustic = 1.0f - smoothstep(0.0f, 0.12f, f2 - f1);
        float depth = tileFbm(u, v, 3, 5, 0.5f, 403);
        Rgba c = water(depth);
        c = mix(c, rgb(0x9af0d8), caustic * 0.45f);
        float corrosion = tileFbm(u + 0.2f * warp, v, 4, 6, 0.6f, 404);
        float patch = smoothstep(0.52f, 0.62f, corrosion);
        c = mix(c, rust(tileFbm(u, v, 16, 3, 0.5f, 405)), patch * 0.85f);
        float verdigris = smoothstep(0.5f, 0.53f, corrosion) * (1.0f - smoothstep(0.55f, 0.6f, corrosion));
        return mix(c, rgb(0x5cc8a4), verdigris * 0.7f);
    });
}

Image corrosky() {
    Ramp sky{{{0.0f, rgb(0x140a26)},
              {0.35f, rgb(0x3a1e52)},
              {0.55f, rgb(0x7a3a6a)},
              {0.72f, rgb(0xd0705a)},
              {0.88f, rgb(0xffc08a)},
              {1.0f, rgb(0xfff2d8)}}};
    return tileable(512, [&](float u, float v) {
        float w = tileFbm(u, v, 2, 4, 0.5f, 501);
        float clouds = tileFbm(u + 0.4f * w, v + 0.2f * w, 3, 7, 0.55f, 502);
        float wisps = tileNoise2(u + 0.3f * w, v, 2, 24, 503);
        return sky(clamp01((clouds - 0.28f) * 2.0f + (wisps - 0.5f) * 0.2f));
    });
}

Image flipcube() {
    // Chrome: a bright sky over a skyline on the horizon and a dark ground with a grid, twice per tile
    // so it repeats cleanly under the scaled normal lookup.
    return tileable(256, [&](float u, float v) {
        // A face turned to the camera looks up (0, 0), where the tile's corners meet: the horizon and
        // the sun sit there, so the flat faces flash as they turn through it.
        float phase = std::fmod(v * 2.0f + 0.44f, 1.0f);
        Rgba c;
        if (phase < 0.5f) {
            float t = phase / 0.5f;  // 0 at the top of the sky, 1 at the horizon
            c = mix(rgb(0x16305a), rgb(0xf0f8ff), std::pow(t, 2.4f));
            float clouds = tileFbm(u, v, 4, 5, 0.5f, 611);
            c = mix(c, rgb(0xffffff), smoothstep(0.55f, 0.75f, clouds) * 0.35f * (1.0f - t));
            int column = int(std::floor(u * 32.0f));
            uint32_t h = hash32(uint32_t(column) * 977u + 613u);
            float height = 0.06f + 0.2f * float(h & 255u) / 255.0f;
            if (t > 1.0f - height) {
                c = rgb(0x1c2230);
                int wx = int(std::floor(u * 32.0f * 4.0f)), wy = int(std::floor(t * 90.0f));
                if (hash32(uint32_t(wx) * 131u + uint32_t(wy) * 7919u) % 3u == 0u && (wx % 4) != 0)
                    c = rgb(0xffe8b0);
            }
        } else {
            float t = (phase - 0.5f) / 0.5f;  // 0 at the horizon
            c = mix(rgb(0x3a3430), rgb(0x050505), std::pow(t, 0.45f));
            float depth = 1.0f / (t + 0.06f);
            float lineZ = std::fabs(std::fmod(depth, 1.0f) - 0.5f);
            float lineX = std::fabs(std::fmod(u * 32.0f, 1.0f) - 0.5f);
            float grid =
                std::max(smoothstep(0.44f, 0.5f, lineZ), smoothstep(0.45f, 0.5f, lineX)) * (1.0f - t * 0.6f);
            c = mix(c, rgb(0x8ab0d0), grid * 0.45f);
        }
        float du = u - std::floor(u + 0.5f);  // distance to the nearest tile edge, wrapping
        float sun = std::exp(-(du * du + (phase - 0.4f) * (phase - 0.4f)) / 0.004f);
        return mix(c, rgb(0xffffff), clamp01(sun));
    });
}

Image bluetooth() {
    // Blue enamel in wire-bounded cells.
    Ramp enamel{
        {{0.0f, rgb(0x081a5a)}, {0.5f, rgb(0x1f56c8)}, {0.85f, rgb(0x5a9cff)}, {1.0f, rgb(0xc0e0ff)}}};
    return tileable(256, [&](float u, float v) {
        float f1, f2;
        float w = tileFbm(u, v, 4, 3, 0.5f, 701);
        tileCells(u + 0.03f * w, v + 0.03f * w, 6, 702, f1, f2);
        float edge = f2 - f1;
        float glaze = tileFbm(u, v, 8, 4, 0.5f, 703);
        Rgba c = enamel(clamp01(0.35f + 0.5f * smoothstep(0.0f, 0.6f, edge) + (glaze - 0.5f) * 0.4f));
        float wire = 1.0f - smoothstep(0.03f, 0.06f, edge);
        return mix(c, rgb(0xe8d8a0), wire);
    });
}

Image bluetoothenv() {
    // Added to the enamel (add-smooth): dark, with soft highlights and one bright horizon streak.
    return tileable(256, [&](float u, float v) {
        float n = tileFbm(u, v, 3, 4, 0.5f, 801);
        float spots = std::pow(n, 5.0f) * 3.0f;
        float streak = std::exp(-std::pow((std::fmod(v + 0.1f * n, 0.5f) - 0.25f) / 0.03f, 2.0f));
        float b = clamp01(spots * 0.6f + streak * 0.8f);
        return Rgba{0.02f + b * 0.35f, 0.04f + b * 0.65f, 0.1f + b * 0.95f, 1.0f};  // highlights keep the blue
    });
}

Image plupoTexture() {
    // Along u one petal (the ring repeats it eight times, centred on u = 0); along v round the petal's
    // tube, the outer rim at v = 0.
    Ramp petal{{{0.0f, rgb(0x4a0830)},
                {0.3f, rgb(0xc0206a)},
                {0.6f, rgb(0xff7a7a)},
                {0.85f, rgb(0xffc060)},
                {1.0f, rgb(0xfff4d0)}}};
    return tileable(512, [&](float u, float v) {
        float across = 0.5f + 0.5f * std::cos(twoPi * u);  // 1 in a petal's middle (u = 0), 0 between petals
        float warp = tileFbm(u, v, 4, 4, 0.5f, 901);
        float veins = std::pow(std::fabs(std::sin(pi * (v * 12.0f + warp * 1.5f))), 0.35f);
        float rim = 0.5f + 0.5f * std::cos(twoPi * v);
        float level = 0.25f + 0.5f * across + 0.25f * rim + (tileFbm(u, v, 8, 4, 0.5f, 902) - 0.5f) * 0.3f;
        Rgba c = petal(clamp01(level));
        return mix(rgb(0x3a0420), c, 0.55f + 0.45f * veins);
    });
}

bool save(const Image& img, const std::string& dir, const char* name) {
    std::string path = dir + "/" + name;
    size_t len = path.size();
    bool ok =
        (len > 4 && path.compare(len - 4, 4, ".png") == 0) ? writePng(img, path) : writeJpeg(img, path, 92);
    if (!ok) std::fprintf(stderr, "kaldra-assets: cannot write %s\n", path.c_str());
    return ok;
}

}  // namespace

bool writePictures(const std::string& dir) {
    if (!openFonts()) return false;
    bool ok = true;
    const Rgba warm = rgb(0xffa050), cool = rgb(0x50d8ff);
    const TextStyle title{Face::SansBold, 92, 14.0f}, word{Face::Sans, 80, 3.0f};
    ok = ok && save(wordPlate("TOVIRA", title, warm), dir, "text-tovira.png");
    ok = ok && save(wordPlate("KALDRA", title, warm), dir, "text-kaldra.png");
    ok = ok && save(wordPlate("presents", word, warm), dir, "text-presents.png");
    ok = ok && save(wordPlate("invitation", word, warm), dir, "text-invitation.png");
    ok = ok && save(kaldobrown(), dir, "kaldobrown.jpg");
    ok = ok && save(kaldoback(), dir, "kaldoback.jpg");
    ok = ok && save(flareblue(), dir, "flareblue.jpg");
    ok = ok && save(bioplasma(), dir, "bioplasma.jpg");
    ok = ok && save(bioplasmaenv(), dir, "bioplasmaenv.jpg");
    ok = ok && save(wordPlate("party", word, cool), dir, "text-party.png");
    ok = ok && save(wordPlate("company", word, cool), dir, "text-company.png");
    ok = ok && save(wordPlate("friends", word, cool), dir, "text-friends.png");
    ok = ok && save(wordPlate("harmony", word, cool), dir, "text-harmony.png");
    ok = ok && save(plupoTexture(), dir, "plupo.jpg");
    ok = ok && save(plupoback(), dir, "plupoback.jpg");
    const Rgba accent = rgb(0xffb347);
    const std::string when = event::dates;
    const char* what[3] = {"QUARZELL 2027", "a demoparty by the fjord", "three days, one big screen"};
    const char* whenLines[3] = {when.c_str(), "doors open Friday 16:00", "prizegiving Sunday 14:00"};
    const char* where[3] = {event::place, "Varnholm, on the north fjord", "sleeping hall on site"};
    const char* compos[3] = {"demo \u00b7 64k \u00b7 4k intro", "pixel graphics \u00b7 music",
                             "wild \u00b7 photo \u00b7 fast code"};
    ok = ok && save(infoPanel("WHAT", what, accent), dir, "info-1.png");
    ok = ok && save(infoPanel("WHEN", whenLines, rgb(0xff6aa8)), dir, "info-2.png");
    ok = ok && save(infoPanel("WHERE", where, rgb(0x70d0ff)), dir, "info-3.png");
    ok = ok && save(infoPanel("COMPETITIONS", compos, rgb(0xb8ff70)), dir, "info-4.png");
    ok = ok && save(corrosea(), dir, "corrosea.jpg");
    ok = ok && save(corrosky(), dir, "corrosky.jpg");
    ok = ok && save(creditz(), dir, "creditz.png");
    ok = ok && save(flipcube(), dir, "flipcube.jpg");
    ok = ok && save(bluetooth(), dir, "bluetooth.jpg");
    ok = ok && save(bluetoothenv(), dir, "bluetoothenv.jpg");
    ok = ok && save(greetz(false), dir, "greetz.png");
    ok = ok && save(greetz(true), dir, "greetzover.png");
    ok = ok && save(seeya(), dir, "seeya.jpg");
    closeFonts();
    return ok;
}

}  // namespace gen
