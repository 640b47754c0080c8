// A small built-in bitmap font (5x7 cells, scaled by the requested height) drawn as pre-transformed
// quads, enough for the frame-rate line: digits, capitals and the punctuation of that line.
#include <cctype>
#include <cstring>
#include <vector>

#include "gfx/d3dx/d3dx9.h"
#include "platform/win32.h"

namespace {

struct Glyph {
    char c;
    unsigned char rows[7];  // five bits a row, leftmost pixel in bit 4
};

constexpr Glyph glyphs[] = {
    {'0', {0x0E, 0x11, 0x13, 0x15, 0x19, 0x11, 0x0E}}, {'1', {0x04, 0x0C, 0x04, 0x04, 0x04, 0x04, 0x0E}},
    {'2', {0x0E, 0x11, 0x01, 0x02, 0x04, 0x08, 0x1F}}, {'3', {0x1F, 0x02, 0x04, 0x02, 0x01, 0x11, 0x0E}},
    {'4', {0x02, 0x06, 0x0A, 0x12, 0x1F, 0x02, 0x02}}, {'5', {0x1F, 0x10, 0x1E, 0x01, 0x01, 0x11, 0x0E}},
    {'6', {0x06, 0x08, 0x10, 0x1E, 0x11, 0x11, 0x0E}}, {'7', {0x1F, 0x01, 0x02, 0x04, 0x08, 0x08, 0x08}},
    {'8', {0x0E, 0x11, 0x11, 0x0E, 0x11, 0x11, 0x0E}}, {'9', {0x0E, 0x11, 0x11, 0x0F, 0x01, 0x02, 0x0C}},
    {'A', {0x0E, 0x11, 0x11, 0x1F, 0x11, 0x11, 0x11}}, {'E', {0x1F, 0x10, 0x10, 0x1E, 0x10, 0x10, 0x1F}},
    {'F', {0x1F, 0x10, 0x10, 0x1E, 0x10, 0x10, 0x10}}, {'I', {0x0E, 0x04, 0x04, 0x04, 0x04, 0x04, 0x0E}},
    {'M', {0x11, 0x1B, 0x15, 0x15, 0x11, 0x11, 0x11}}, {'P', {0x1E, 0x11, 0x11, 0x1E, 0x10, 0x10, 0x10}},
    {'S', {0x0F, 0x10, 0x10, 0x0E, 0x01, 0x01, 0x1E}}, {'T', {0x1F, 0x04, 0x04, 0x04, 0x04, 0x04, 0x04}},
    {'[', {0x0E, 0x08, 0x08, 0x08, 0x08, 0x08, 0x0E}}, {']', {0x0E, 0x02, 0x02, 0x02, 0x02, 0x02, 0x0E}},
    {':', {0x00, 0x0C, 0x0C, 0x00, 0x0C, 0x0C, 0x00}}, {'.', {0x00, 0x00, 0x00, 0x00, 0x00, 0x0C, 0x0C}},
    {'-', {0x00, 0x00, 0x00, 0x1F, 0x00, 0x00, 0x00}},
};

const Glyph* findGlyph(char c) {
    c = char(std::toupper(static_cast<unsigned char>(c)));
    for (const Glyph& g : glyphs)
        if (g.c == c) return &g;
    return nullptr;
}

struct QuadVertex {
    float x, y, z, rhw;
    D3DCOLOR color;
};

class Font final : public ID3DXFont {
public:
    Font(IDirect3DDevice9* d, int height) : device(d), scale(height >= 14 ? 2 : 1) { device->AddRef(); }
    ~Font() { device->Release(); }

    HRESULT QueryInterface(REFIID, void** object) override {
        if (object) *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG AddRef() override { return ++references; }
    ULONG Release() override {
        ULONG left = --references;
        if (!left) delete this;
        return left;
    }

    INT DrawTextA(LPCSTR text, INT count, RECT* rect, DWORD, D3DCOLOR color) override {
        if (!text || !rect) return 0;
        size_t length = count < 0 ? std::strlen(text) : size_t(count);
        const float cell = float(scale);
        const int advance = 6 * scale;
        const int lineHeight = 9 * scale;
        vertices.clear();
        int penX = rect->left, penY = rect->top;
        for (size_t i = 0; i < length; ++i) {
            if (text[i] == '\n') {
                penX = rect->left;
                penY += lineHeight;
                continue;
            }
            const Glyph* glyph = findGlyph(text[i]);
            for (int row = 0; glyph && row < 7; ++row)
                for (int column = 0; column < 5; ++column) {
                    if (!(glyph->rows[row] & (0x10 >> column))) continue;
                    float x = float(penX + column * scale) - 0.5f, y = float(penY + row * scale) - 0.5f;
                    // Clipped to the rectangle, as the layout flags ask.
                    if (x + 0.5f + cell > float(rect->right) || y + 0.5f + cell > float(rect->bottom)) continue;
                    QuadVertex quad[6] = {{x, y, 0, 1, color},        {x + cell, y, 0, 1, color},
                                          {x, y + cell, 0, 1, color}, {x + cell, y, 0, 1, color},
                                          {x + cell, y + cell, 0, 1, color}, {x, y + cell, 0, 1, color}};
                    vertices.insert(vertices.end(), quad, quad + 6);
                }
            penX += advance;
        }
        if (!vertices.empty()) {
            IDirect3DBaseTexture9* boundTexture = nullptr;
            DWORD boundFvf = 0, cull = 0;
            device->GetTexture(0, &boundTexture);
            device->GetFVF(&boundFvf);
            device->GetRenderState(D3DRS_CULLMODE, &cull);
            device->SetTexture(0, nullptr);
            device->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
            device->SetFVF(D3DFVF_XYZRHW | D3DFVF_DIFFUSE);
            device->DrawPrimitiveUP(D3DPT_TRIANGLELIST, UINT(vertices.size() / 3), vertices.data(),
                                    sizeof(QuadVertex));
            // The font leaves the device as it found it.
            device->SetTexture(0, boundTexture);
            device->SetFVF(boundFvf);
            device->SetRenderState(D3DRS_CULLMODE, cull);
            if (boundTexture) boundTexture->Release();
        }
        return (penY - rect->top) + lineHeight;
    }

private:
    IDirect3DDevice9* device;
    int scale;
    ULONG references = 1;
    std::vector<QuadVertex> vertices;
};

}  // namespace

HRESULT D3DXCreateFont(IDirect3DDevice9* device, HFONT fontHandle, ID3DXFont** out) {
    LOGFONTA description{};
    if (GetObjectA(fontHandle, sizeof description, &description) != int(sizeof description)) return D3DERR_INVALIDCALL;
    if (!device || !out) return D3DERR_INVALIDCALL;
    *out = new Font(device, description.lfHeight < 0 ? -description.lfHeight : description.lfHeight);
    return D3D_OK;
}
