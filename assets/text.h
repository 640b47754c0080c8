// Lettering with FreeType and the DejaVu fonts of Debian's fonts-dejavu-core.
#pragma once

#include <string>

#include "assets/image.h"

namespace gen {

enum class Face { Sans, SansBold, Serif, SerifBold, Mono };

enum class Align { Left, Centre, Right };

struct TextStyle {
    Face face = Face::Sans;
    int pixelSize = 16;
    float tracking = 0.0f;  // extra pixels after every glyph
};

// Opens FreeType and the font files once; false (with a message on stderr) when a font is missing.
bool openFonts();
void closeFonts();

// Width in pixels of the string's advance (UTF-8), including tracking between glyphs.
int textWidth(const TextStyle& style, const std::string& text);
// Coverage mask of the text; the pen starts at (pad, pad + ascender).
Mask textMask(const TextStyle& style, const std::string& text, int pad);
int ascender(const TextStyle& style);

struct Glow {
    Rgba color{1, 1, 1, 1};
    int radius = 0;         // blur radius in pixels (0 = no glow)
    float strength = 0.0f;  // coverage factor of the glow
};

// Draws text with its baseline at y; x is the left edge, centre or right edge per `align`.
// The glow (if any) is painted first, then the letters in `color`.
void drawText(Image& img, const TextStyle& style, const std::string& text, float x, int baselineY,
              Align align, const Rgba& color, const Glow& glow = {});

}  // namespace gen
