#include "gfx/d3dx/image.h"

#include <jpeglib.h>
#include <png.h>

#include <algorithm>
#include <cmath>
#include <csetjmp>
#include <cstdio>
#include <cstring>

namespace image {

namespace {

struct PngSource {
    const std::vector<uint8_t>* file;
    size_t offset;
};

void pngRead(png_structp png, png_bytep out, png_size_t length) {
    auto* source = static_cast<PngSource*>(png_get_io_ptr(png));
    if (source->file->size() - source->offset < length) png_error(png, "file ends early");
    std::memcpy(out, source->file->data() + source->offset, length);
    source->offset += length;
}

void pngError(png_structp png, png_const_charp message) {
    auto* error = static_cast<std::string*>(png_get_error_ptr(png));
    *error = message;
    png_longjmp(png, 1);
}

void pngWarning(png_structp, png_const_charp) {}

bool decodePng(const std::vector<uint8_t>& file, Rgba& out, std::string& error) {
    PngSource source{&file, 8};
    std::vector<png_bytep> rows;
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &error, pngError, pngWarning);
    if (!png) return false;
    png_infop info = png_create_info_struct(png);
    if (!info || setjmp(png_jmpbuf(png))) {
        png_destroy_read_struct(&png, &info, nullptr);
        out = Rgba{};
        if (error.empty()) error = "bad PNG";
        return false;
    }
    png_set_read_fn(png, &source, pngRead);
    png_set_sig_bytes(png, 8);
    png_set_user_limits(png, maxDimension, maxDimension);
    png_read_info(png, info);
    png_uint_32 width, height;
    int depth, colorType, interlace;
    png_get_IHDR(png, info, &width, &height, &depth, &colorType, &interlace, nullptr, nullptr);
    out.hasAlpha = (colorType & PNG_COLOR_MASK_ALPHA) || png_get_valid(png, info, PNG_INFO_tRNS);
    if (colorType == PNG_COLOR_TYPE_PALETTE) png_set_palette_to_rgb(png);
    if (colorType == PNG_COLOR_TYPE_GRAY && depth < 8) png_set_expand_gray_1_2_4_to_8(png);
    if (png_get_valid(png, info, PNG_INFO_tRNS)) png_set_tRNS_to_alpha(png);
    if (depth == 16) png_set_scale_16(png);
    if (colorType == PNG_COLOR_TYPE_GRAY || colorType == PNG_COLOR_TYPE_GRAY_ALPHA) png_set_gray_to_rgb(png);
    png_set_filler(png, 0xFF, PNG_FILLER_AFTER);
    png_set_interlace_handling(png);
    png_read_update_info(png, info);
    if (png_get_rowbytes(png, info) != size_t(width) * 4) png_error(png, "unexpected PNG row layout");
    out.width = width;
    out.height = height;
    out.pixels.resize(size_t(width) * height * 4);
    rows.resize(height);
    for (png_uint_32 y = 0; y < height; ++y) rows[y] = out.pixels.data() + size_t(y) * width * 4;
    png_read_image(png, rows.data());
    png_read_end(png, nullptr);
    png_destroy_read_struct(&png, &info, nullptr);
    return true;
}

struct JpegError {
    jpeg_error_mgr manager;
    jmp_buf jump;
    char message[JMSG_LENGTH_MAX];
};

void jpegExit(j_common_ptr c) {
    auto* e = reinterpret_cast<JpegError*>(c->err);
    (*c->err->format_message)(c, e->message);
    longjmp(e->jump, 1);
}

void jpegMessage(j_common_ptr c, int level) {
    if (level < 0) c->err->num_warnings++;
}

void jpegProgress(j_common_ptr c) {
    auto* d = reinterpret_cast<j_decompress_ptr>(c);
    if (d->input_scan_number <= maxJpegScans) return;
    auto* e = reinterpret_cast<JpegError*>(c->err);
    std::snprintf(e->message, sizeof e->message, "JPEG has more than %d scans", maxJpegScans);
    longjmp(e->jump, 1);
}

bool decodeJpeg(const std::vector<uint8_t>& file, Rgba& out, std::string& error) {
    jpeg_decompress_struct c;
    JpegError e{};
    c.err = jpeg_std_error(&e.manager);
    e.manager.error_exit = jpegExit;
    e.manager.emit_message = jpegMessage;
    jpeg_progress_mgr progress{};
    progress.progress_monitor = jpegProgress;
    if (setjmp(e.jump)) {
        jpeg_destroy_decompress(&c);
        error = e.message;
        out = Rgba{};
        return false;
    }
    jpeg_create_decompress(&c);
    c.mem->max_memory_to_use = 256L << 20;
    c.progress = &progress;
    jpeg_mem_src(&c, file.data(), static_cast<unsigned long>(file.size()));
    jpeg_read_header(&c, TRUE);
    if (c.image_width == 0 || c.image_height == 0 || c.image_width > maxDimension || c.image_height > maxDimension) {
        jpeg_destroy_decompress(&c);
        error = "JPEG dimensions out of range";
        return false;
    }
    c.out_color_space = JCS_EXT_RGBA;
    jpeg_start_decompress(&c);
    out.width = c.output_width;
    out.height = c.output_height;
    out.hasAlpha = false;
    out.pixels.resize(size_t(out.width) * out.height * 4);
    while (c.output_scanline < c.output_height) {
        JSAMPROW row = out.pixels.data() + size_t(c.output_scanline) * out.width * 4;
        jpeg_read_scanlines(&c, &row, 1);
    }
    jpeg_finish_decompress(&c);
    // A truncated file decodes with grey rows; it is a broken file, not a picture.
    bool truncated = e.manager.num_warnings > 0;
    jpeg_destroy_decompress(&c);
    if (truncated) {
        error = "JPEG data is damaged or incomplete";
        out = Rgba{};
        return false;
    }
    return true;
}

// Weights of the source pixels that feed each destination pixel along one axis.
struct Tap {
    int first;
    std::vector<float> weights;
};

std::vector<Tap> taps(uint32_t source, uint32_t destination) {
    std::vector<Tap> result(destination);
    const double scale = double(source) / double(destination);
    const double radius = std::max(1.0, scale);
    for (uint32_t d = 0; d < destination; ++d) {
        const double centre = (d + 0.5) * scale - 0.5;
        int first = int(std::floor(centre - radius)) + 1;
        int last = int(std::ceil(centre + radius)) - 1;
        Tap& tap = result[d];
        tap.first = first;
        double total = 0;
        for (int s = first; s <= last; ++s) {
            double w = 1.0 - std::fabs(double(s) - centre) / radius;
            if (w < 0) w = 0;
            tap.weights.push_back(float(w));
            total += w;
        }
        for (float& w : tap.weights) w = float(w / (total > 0 ? total : 1));
    }
    return result;
}

}  // namespace

bool decode(const std::vector<uint8_t>& file, Rgba& out, std::string& error) {
    out = Rgba{};
    if (file.size() >= 8 && png_sig_cmp(file.data(), 0, 8) == 0) return decodePng(file, out, error);
    if (file.size() >= 3 && file[0] == 0xFF && file[1] == 0xD8 && file[2] == 0xFF) return decodeJpeg(file, out, error);
    error = "neither PNG nor JPEG";
    return false;
}

Rgba resizeTriangle(const Rgba& source, uint32_t width, uint32_t height) {
    if (source.width == width && source.height == height) return source;
    // Edges clamp: the pictures are not tiles, and wrapping would bleed one side into the other.
    const std::vector<Tap> across = taps(source.width, width), down = taps(source.height, height);
    // The horizontal pass is kept only for the source rows the current output row needs: they form
    // a contiguous run no longer than the widest vertical tap, so a ring of that many rows holds them
    // (a whole intermediate picture in floats would be four times the texture).
    size_t ringRows = 1;
    for (const Tap& tap : down) ringRows = std::max(ringRows, tap.weights.size());
    std::vector<float> ring(ringRows * width * 4);
    std::vector<int> ringSource(ringRows, -1);
    auto horizontalRow = [&](int sy) -> const float* {
        const size_t slot = size_t(sy) % ringRows;
        float* row = &ring[slot * width * 4];
        if (ringSource[slot] == sy) return row;
        ringSource[slot] = sy;
        for (uint32_t x = 0; x < width; ++x) {
            float sum[4] = {0, 0, 0, 0};
            const Tap& tap = across[x];
            for (size_t k = 0; k < tap.weights.size(); ++k) {
                int sx = std::clamp(tap.first + int(k), 0, int(source.width) - 1);
                const uint8_t* p = &source.pixels[(size_t(sy) * source.width + size_t(sx)) * 4];
                // Colour weighted by alpha, so transparent texels lend no colour to their neighbours.
                float a = p[3];
                sum[0] += tap.weights[k] * p[0] * a;
                sum[1] += tap.weights[k] * p[1] * a;
                sum[2] += tap.weights[k] * p[2] * a;
                sum[3] += tap.weights[k] * a;
            }
            std::memcpy(&row[size_t(x) * 4], sum, sizeof sum);
        }
        return row;
    };
    Rgba out;
    out.width = width;
    out.height = height;
    out.hasAlpha = source.hasAlpha;
    out.pixels.resize(size_t(width) * height * 4);
    std::vector<float> sums(size_t(width) * 4);
    for (uint32_t y = 0; y < height; ++y) {
        std::fill(sums.begin(), sums.end(), 0.0f);
        const Tap& tap = down[y];
        for (size_t k = 0; k < tap.weights.size(); ++k) {
            const float* row = horizontalRow(std::clamp(tap.first + int(k), 0, int(source.height) - 1));
            const float w = tap.weights[k];
            for (size_t i = 0; i < sums.size(); ++i) sums[i] += w * row[i];
        }
        for (uint32_t x = 0; x < width; ++x) {
            const float* sum = &sums[size_t(x) * 4];
            uint8_t* o = &out.pixels[(size_t(y) * width + x) * 4];
            float alpha = sum[3];
            for (int c = 0; c < 3; ++c)
                o[c] = uint8_t(std::clamp(alpha > 0 ? sum[c] / alpha : 0.0f, 0.0f, 255.0f) + 0.5f);
            o[3] = uint8_t(std::clamp(alpha, 0.0f, 255.0f) + 0.5f);
        }
    }
    return out;
}

Rgba halveBox(const Rgba& source) {
    Rgba out;
    out.width = std::max(1u, source.width / 2);
    out.height = std::max(1u, source.height / 2);
    out.hasAlpha = source.hasAlpha;
    out.pixels.resize(size_t(out.width) * out.height * 4);
    const uint32_t stepX = source.width > 1 ? 2 : 1, stepY = source.height > 1 ? 2 : 1;
    for (uint32_t y = 0; y < out.height; ++y)
        for (uint32_t x = 0; x < out.width; ++x) {
            uint32_t sum[4] = {0, 0, 0, 0};
            uint32_t count = 0;
            for (uint32_t dy = 0; dy < stepY; ++dy)
                for (uint32_t dx = 0; dx < stepX; ++dx) {
                    const uint8_t* p = &source.pixels[(size_t(y * stepY + dy) * source.width + x * stepX + dx) * 4];
                    for (int c = 0; c < 4; ++c) sum[c] += p[c];
                    ++count;
                }
            uint8_t* o = &out.pixels[(size_t(y) * out.width + x) * 4];
            for (int c = 0; c < 4; ++c) o[c] = uint8_t((sum[c] + count / 2) / count);
        }
    return out;
}

}  // namespace image
