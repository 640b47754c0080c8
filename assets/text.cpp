#include "assets/text.h"

#include <ft2build.h>
#include FT_FREETYPE_H

#include <cmath>
#include <cstdio>
#include <vector>

namespace gen {

namespace {

const char* const fontDir = "/usr/share/fonts/truetype/dejavu/";
const char* const fontFiles[] = {"DejaVuSans.ttf", "DejaVuSans-Bold.ttf", "DejaVuSerif.ttf",
                                 "DejaVuSerif-Bold.ttf", "DejaVuSansMono.ttf"};

FT_Library library = nullptr;
FT_Face faces[5] = {};

std::vector<uint32_t> decodeUtf8(const std::string& s) {
    std::vector<uint32_t> out;
    for (size_t i = 0; i < s.size();) {
        unsigned char c = static_cast<unsigned char>(s[i]);
        uint32_t cp = c;
        int extra = 0;
        if (c >= 0xF0) {
            cp = c & 0x07;
            extra = 3;
        } else if (c >= 0xE0) {
            cp = c & 0x0F;
            extra = 2;
        } else if (c >= 0xC0) {
            cp = c & 0x1F;
            extra = 1;
        }
        ++i;
        for (int k = 0; k < extra && i < s.size(); ++k, ++i)
            cp = (cp << 6) | (static_cast<unsigned char>(s[i]) & 0x3F);
        out.push_back(cp);
    }
    return out;
}

FT_Face use(const TextStyle& style) {
    FT_Face f = faces[int(style.face)];
    FT_Set_Pixel_Sizes(f, 0, FT_UInt(style.pixelSize));
    return f;
}

// Walks the glyphs; calls visit(glyphSlot, penX in 26.6) after loading each rendered glyph.
template <class Visit>
long layout(const TextStyle& style, const std::string& text, bool render, Visit visit) {
    FT_Face f = use(style);
    long pen = 0;
    FT_UInt prev = 0;
    long trackingFixed = std::lround(style.tracking * 64.0f);
    for (uint32_t cp : decodeUtf8(text)) {
        FT_UInt gi = FT_Get_Char_Index(f, cp);
        if (FT_HAS_KERNING(f) && prev && gi) {
            FT_Vector k;
            FT_Get_Kerning(f, prev, gi, FT_KERNING_DEFAULT, &k);
            pen += k.x;
        }
        FT_Load_Glyph(f, gi, render ? FT_LOAD_RENDER : FT_LOAD_DEFAULT);
        visit(f->glyph, pen);
        pen += f->glyph->advance.x + trackingFixed;
        prev = gi;
    }
    return pen - (text.empty() ? 0 : trackingFixed);
}

}  // namespace

bool openFonts() {
    if (FT_Init_FreeType(&library)) {
        std::fprintf(stderr, "kaldra-assets: FreeType failed to start\n");
        return false;
    }
    for (int i = 0; i < 5; ++i) {
        std::string path = std::string(fontDir) + fontFiles[i];
        if (FT_New_Face(library, path.c_str(), 0, &faces[i])) {
            std::fprintf(stderr, "kaldra-assets: cannot open font %s (package fonts-dejavu-core)\n",
                         path.c_str());
            return false;
        }
    }
    return true;
}

void closeFonts() {
    for (FT_Face& f : faces)
        if (f) FT_Done_Face(f), f = nullptr;
    if (library) FT_Done_FreeType(library), library = nullptr;
}

int ascender(const TextStyle& style) {
    return int(use(style)->size->metrics.ascender >> 6);
}

int textWidth(const TextStyle& style, const std::string& text) {
    long w = layout(style, text, false, [](FT_GlyphSlot, long) {});
    return int((w + 63) >> 6);
}

Mask textMask(const TextStyle& style, const std::string& text, int pad) {
    FT_Face f = use(style);
    int asc = int(f->size->metrics.ascender >> 6), desc = int(-(f->size->metrics.descender >> 6));
    int w = textWidth(style, text) + 2 * pad + 4, h = asc + desc + 2 * pad;
    Mask m(w, h);
    int baseline = pad + asc;
    layout(style, text, true, [&](FT_GlyphSlot g, long pen) {
        int x0 = pad + int(pen >> 6) + g->bitmap_left, y0 = baseline - g->bitmap_top;
        for (unsigned r = 0; r < g->bitmap.rows; ++r)
            for (unsigned c = 0; c < g->bitmap.width; ++c) {
                int x = x0 + int(c), y = y0 + int(r);
                if (x < 0 || y < 0 || x >= w || y >= h) continue;
                float v = float(g->bitmap.buffer[long(r) * g->bitmap.pitch + long(c)]) / 255.0f;
                if (v > m.at(x, y)) m.at(x, y) = v;
            }
    });
    return m;
}

void drawText(Image& img, const TextStyle& style, const std::string& text, float x, int baselineY,
              Align align, const Rgba& color, const Glow& glow) {
    int pad = glow.radius * 3 + 2;
    Mask m = textMask(style, text, pad);
    int width = textWidth(style, text);
    float left = x;
    if (align == Align::Centre) left = x - float(width) * 0.5f;
    if (align == Align::Right) left = x - float(width);
    int ox = int(std::floor(left + 0.5f)) - pad, oy = baselineY - pad - ascender(style);
    if (glow.radius > 0 && glow.strength > 0.0f)
        paintMask(img, blurred(m, glow.radius), ox, oy, glow.color, glow.strength);
    paintMask(img, m, ox, oy, color);
}

}  // namespace gen
