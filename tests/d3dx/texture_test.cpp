// The texture loader on pictures written here with libpng and libjpeg.
#include <gtest/gtest.h>
#include <jpeglib.h>
#include <png.h>

#include <cstdio>
#include <string>
#include <vector>

#include "gfx/d3d9/d3d9debug.h"
#include "gfx/d3dx/d3dx9.h"
#include "tests/support/headless_device.h"

namespace {

std::string writePng(const std::string& name, uint32_t w, uint32_t h, const std::vector<uint8_t>& rgba) {
    std::string path = ::testing::TempDir() + name;
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    image.width = w;
    image.height = h;
    image.format = PNG_FORMAT_RGBA;
    png_image_write_to_file(&image, path.c_str(), 0, rgba.data(), 0, nullptr);
    return path;
}

std::string writeJpeg(const std::string& name, uint32_t w, uint32_t h, uint8_t r, uint8_t g, uint8_t b) {
    std::string path = ::testing::TempDir() + name;
    FILE* f = std::fopen(path.c_str(), "wb");
    jpeg_compress_struct c;
    jpeg_error_mgr err;
    c.err = jpeg_std_error(&err);
    jpeg_create_compress(&c);
    jpeg_stdio_dest(&c, f);
    c.image_width = w;
    c.image_height = h;
    c.input_components = 3;
    c.in_color_space = JCS_RGB;
    jpeg_set_defaults(&c);
    jpeg_set_quality(&c, 95, TRUE);
    jpeg_start_compress(&c, TRUE);
    std::vector<uint8_t> row(w * 3);
    for (uint32_t x = 0; x < w; ++x) {
        row[x * 3] = r;
        row[x * 3 + 1] = g;
        row[x * 3 + 2] = b;
    }
    while (c.next_scanline < h) {
        JSAMPROW p = row.data();
        jpeg_write_scanlines(&c, &p, 1);
    }
    jpeg_finish_compress(&c);
    jpeg_destroy_compress(&c);
    std::fclose(f);
    return path;
}

IDirect3DTexture9* load(IDirect3DDevice9* device, const std::string& path, UINT levels, HRESULT* result = nullptr) {
    IDirect3DTexture9* texture = nullptr;
    HRESULT hr = D3DXCreateTextureFromFileExA(device, path.c_str(), 0, 0, levels, 0, D3DFMT_UNKNOWN, D3DPOOL_MANAGED,
                                              D3DX_DEFAULT, D3DX_DEFAULT, 0, nullptr, nullptr, &texture);
    if (result) *result = hr;
    return texture;
}

TEST(TextureLoader, SizesRoundUpToPowersOfTwoEachOnItsOwn) {
    HeadlessDevice d;
    struct Case {
        uint32_t w, h, expectedW, expectedH;
    };
    for (const Case& c : {Case{300, 200, 512, 256}, Case{256, 256, 256, 256}, Case{640, 480, 1024, 512}, Case{1, 3, 1, 4}}) {
        std::string path = writePng("size.png", c.w, c.h, std::vector<uint8_t>(size_t(c.w) * c.h * 4, 200));
        IDirect3DTexture9* t = load(d.device, path, 1);
        ASSERT_NE(t, nullptr);
        D3DSURFACE_DESC desc;
        t->GetLevelDesc(0, &desc);
        EXPECT_EQ(desc.Width, c.expectedW);
        EXPECT_EQ(desc.Height, c.expectedH);
        EXPECT_EQ(t->GetLevelCount(), 1u);
        t->Release();
    }
}

TEST(TextureLoader, PngKeepsAlphaJpegIsOpaqueAndTheChainGoesDownToOnePixel) {
    HeadlessDevice d;
    std::vector<uint8_t> half(64 * 64 * 4);
    for (size_t i = 0; i < 64 * 64; ++i) {
        half[i * 4] = 255;
        half[i * 4 + 3] = (i % 64) < 32 ? 0 : 255;
    }
    IDirect3DTexture9* png = load(d.device, writePng("alpha.png", 64, 64, half), 0);
    ASSERT_NE(png, nullptr);
    EXPECT_EQ(png->GetLevelCount(), 7u);
    D3DSURFACE_DESC desc;
    png->GetLevelDesc(0, &desc);
    EXPECT_EQ(desc.Format, D3DFMT_A8R8G8B8);
    IDirect3DSurface9* level = nullptr;
    png->GetSurfaceLevel(0, &level);
    std::vector<uint32_t> texels;
    UINT w, h;
    d3d9debug::readSurface(level, texels, w, h);
    EXPECT_EQ(texels[0] >> 24, 0u);
    EXPECT_EQ(texels[63], 0xFFFF0000u);
    level->Release();
    png->GetSurfaceLevel(6, &level);
    d3d9debug::readSurface(level, texels, w, h);
    EXPECT_EQ(w, 1u);
    EXPECT_NEAR(double(texels[0] >> 24), 128, 2);  // the box chain averages half transparent, half opaque
    level->Release();
    png->Release();

    IDirect3DTexture9* jpeg = load(d.device, writeJpeg("plain.jpg", 16, 16, 20, 120, 220), 0);
    ASSERT_NE(jpeg, nullptr);
    jpeg->GetSurfaceLevel(0, &level);
    d3d9debug::readSurface(level, texels, w, h);
    EXPECT_EQ(texels[5] >> 24, 0xFFu);
    EXPECT_NEAR(double((texels[5] >> 8) & 0xFF), 120, 3);
    level->Release();
    jpeg->Release();
}

TEST(TextureLoader, BrokenOrMissingFilesFail) {
    HeadlessDevice d;
    HRESULT hr = S_OK;
    EXPECT_EQ(load(d.device, "no/such/picture.png", 0, &hr), nullptr);
    EXPECT_TRUE(FAILED(hr));
    std::string jpeg = writeJpeg("cut.jpg", 64, 64, 1, 2, 3);
    std::FILE* f = std::fopen(jpeg.c_str(), "rb");
    std::vector<uint8_t> bytes(100000);
    bytes.resize(std::fread(bytes.data(), 1, bytes.size(), f));
    std::fclose(f);
    for (size_t keep : {size_t(2), bytes.size() / 2}) {
        std::string path = ::testing::TempDir() + "cut-" + std::to_string(keep) + ".jpg";
        f = std::fopen(path.c_str(), "wb");
        std::fwrite(bytes.data(), 1, keep, f);
        std::fclose(f);
        EXPECT_EQ(load(d.device, path, 0, &hr), nullptr) << keep;
        EXPECT_TRUE(FAILED(hr));
    }
    EXPECT_EQ(load(d.device, ::testing::TempDir(), 0, &hr), nullptr);  // a directory
    EXPECT_TRUE(FAILED(hr));
}

}  // namespace

namespace {

// The PNG flavours a picture can come in: grey, grey with alpha, a palette, 16 bits per channel.
TEST(TextureLoader, EveryPngFlavourArrivesAsTheSameColours) {
    HeadlessDevice d;
    struct Case {
        const char* name;
        png_uint_32 format;
        std::vector<uint8_t> bytes;  // 2x1 pixels in that format
        uint32_t first, second;      // expected A8R8G8B8 texels
    };
    std::vector<uint16_t> wide = {0, 0xFFFF, 0, 0xFFFF, 0xFFFF, 0, 0, 0x8000};
    std::vector<uint8_t> wideBytes(reinterpret_cast<uint8_t*>(wide.data()), reinterpret_cast<uint8_t*>(wide.data()) + 16);
    const Case cases[] = {
        {"grey", PNG_FORMAT_GRAY, {0x00, 0xFF}, 0xFF000000, 0xFFFFFFFF},
        {"grey-alpha", PNG_FORMAT_GA, {0x80, 0x00, 0xFF, 0xFF}, 0x00000000, 0xFFFFFFFF},
        {"rgb", PNG_FORMAT_RGB, {0xFF, 0x00, 0x00, 0x00, 0x00, 0xFF}, 0xFFFF0000, 0xFF0000FF},
        // 16-bit linear light, written as sRGB-encoded 16-bit samples: extremes stay extremes.
        {"sixteen-bit", PNG_FORMAT_LINEAR_RGB_ALPHA, wideBytes, 0xFF00FF00, 0x80FF0000},
    };
    for (const Case& c : cases) {
        std::string path = ::testing::TempDir() + c.name + ".png";
        png_image image{};
        image.version = PNG_IMAGE_VERSION;
        image.width = 2;
        image.height = 1;
        image.format = c.format;
        ASSERT_TRUE(png_image_write_to_file(&image, path.c_str(), 0, c.bytes.data(), 0, nullptr)) << c.name;
        IDirect3DTexture9* texture = load(d.device, path, 1);
        ASSERT_NE(texture, nullptr) << c.name;
        IDirect3DSurface9* level = nullptr;
        texture->GetSurfaceLevel(0, &level);
        std::vector<uint32_t> texels;
        UINT w, h;
        d3d9debug::readSurface(level, texels, w, h);
        // Colour under zero alpha carries no meaning; compare it only where the texel shows.
        auto visible = [](uint32_t t) { return (t >> 24) ? t : 0u; };
        EXPECT_EQ(visible(texels[0]) >> 8, c.first >> 8) << c.name;
        EXPECT_EQ(visible(texels[1]) >> 8, c.second >> 8) << c.name;
        level->Release();
        texture->Release();
    }
}

// A palette with a transparency chunk, through the classic writer.
TEST(TextureLoader, PaletteWithTransparencyKeepsItsAlpha) {
    HeadlessDevice d;
    std::string path = ::testing::TempDir() + "palette.png";
    FILE* f = std::fopen(path.c_str(), "wb");
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    png_init_io(png, f);
    png_set_IHDR(png, info, 2, 2, 8, PNG_COLOR_TYPE_PALETTE, PNG_INTERLACE_ADAM7, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    png_color palette[2] = {{255, 0, 0}, {0, 0, 255}};
    png_set_PLTE(png, info, palette, 2);
    png_byte alpha[1] = {0};
    png_set_tRNS(png, info, alpha, 1, nullptr);
    png_write_info(png, info);
    png_byte rows[2][2] = {{0, 1}, {1, 0}};
    png_bytep pointers[2] = {rows[0], rows[1]};
    png_write_image(png, pointers);
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    std::fclose(f);
    IDirect3DTexture9* texture = load(d.device, path, 1);
    ASSERT_NE(texture, nullptr);
    IDirect3DSurface9* level = nullptr;
    texture->GetSurfaceLevel(0, &level);
    std::vector<uint32_t> texels;
    UINT w, h;
    d3d9debug::readSurface(level, texels, w, h);
    EXPECT_EQ(texels[0] >> 24, 0u);
    EXPECT_EQ(texels[1], 0xFF0000FFu);
    EXPECT_EQ(texels[2], 0xFF0000FFu);
    level->Release();
    texture->Release();
}

}  // namespace
