// The simulator's photos: real JPEG files drawn with a small bitmap font and
// compressed by libjpeg, showing a card number and a time.
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>

// libjpeg expects size_t and FILE to be declared before it.
#include <jpeglib.h>

#include "doorsim/records_state.h"

namespace doorsim {
namespace {

// 5 x 7 glyphs, one row per byte, the five low bits from left to right.
struct Glyph {
    char c;
    uint8_t rows[7];
};
constexpr Glyph kFont[] = {
    {'0', {0x0E, 0x11, 0x13, 0x15, 0x19, 0x11, 0x0E}}, {'1', {0x04, 0x0C, 0x04, 0x04, 0x04, 0x04, 0x0E}},
    {'2', {0x0E, 0x11, 0x01, 0x02, 0x04, 0x08, 0x1F}}, {'3', {0x1F, 0x02, 0x04, 0x02, 0x01, 0x11, 0x0E}},
    {'4', {0x02, 0x06, 0x0A, 0x12, 0x1F, 0x02, 0x02}}, {'5', {0x1F, 0x10, 0x1E, 0x01, 0x01, 0x11, 0x0E}},
    {'6', {0x06, 0x08, 0x10, 0x1E, 0x11, 0x11, 0x0E}}, {'7', {0x1F, 0x01, 0x02, 0x04, 0x08, 0x08, 0x08}},
    {'8', {0x0E, 0x11, 0x11, 0x0E, 0x11, 0x11, 0x0E}}, {'9', {0x0E, 0x11, 0x11, 0x0F, 0x01, 0x02, 0x0C}},
    {'-', {0x00, 0x00, 0x00, 0x1F, 0x00, 0x00, 0x00}}, {':', {0x00, 0x0C, 0x0C, 0x00, 0x0C, 0x0C, 0x00}},
};

const uint8_t* glyph(char c) {
    for (const Glyph& g : kFont) {
        if (g.c == c) return g.rows;
    }
    return nullptr;  // blank
}

struct Canvas {
    int width, height;
    std::vector<uint8_t> rgb;
    Canvas(int w, int h) : width(w), height(h), rgb(static_cast<size_t>(w * h * 3)) {}
    void set(int x, int y, uint8_t r, uint8_t g, uint8_t b) {
        if (x < 0 || y < 0 || x >= width || y >= height) return;
        uint8_t* p = &rgb[(static_cast<size_t>(y) * width + x) * 3];
        p[0] = r;
        p[1] = g;
        p[2] = b;
    }
    // Text centred horizontally with its top at y, each font dot scale x scale.
    void text(const std::string& s, int y, int scale) {
        const int advance = 6 * scale;
        int x = (width - static_cast<int>(s.size()) * advance + scale) / 2;
        for (char c : s) {
            if (const uint8_t* rows = glyph(c)) {
                for (int row = 0; row < 7; ++row) {
                    for (int col = 0; col < 5; ++col) {
                        if (!(rows[row] & (0x10 >> col))) continue;
                        for (int dy = 0; dy < scale; ++dy) {
                            for (int dx = 0; dx < scale; ++dx) {
                                set(x + col * scale + dx, y + row * scale + dy, 250, 250, 240);
                            }
                        }
                    }
                }
            }
            x += advance;
        }
    }
};

Bytes compress(const Canvas& canvas, int quality, const std::string& comment) {
    jpeg_compress_struct info{};
    jpeg_error_mgr errors{};
    info.err = jpeg_std_error(&errors);
    errors.error_exit = [](j_common_ptr) { throw std::runtime_error("jpeg compression failed"); };
    jpeg_create_compress(&info);
    unsigned char* out = nullptr;
    unsigned long size = 0;
    Bytes result;
    try {
        jpeg_mem_dest(&info, &out, &size);
        info.image_width = static_cast<JDIMENSION>(canvas.width);
        info.image_height = static_cast<JDIMENSION>(canvas.height);
        info.input_components = 3;
        info.in_color_space = JCS_RGB;
        jpeg_set_defaults(&info);
        jpeg_set_quality(&info, quality, TRUE);
        jpeg_start_compress(&info, TRUE);
        jpeg_write_marker(&info, JPEG_COM, reinterpret_cast<const JOCTET*>(comment.data()),
                          static_cast<unsigned>(comment.size()));
        while (info.next_scanline < info.image_height) {
            JSAMPROW row = const_cast<JSAMPROW>(
                &canvas.rgb[static_cast<size_t>(info.next_scanline) * static_cast<size_t>(canvas.width) * 3]);
            jpeg_write_scanlines(&info, &row, 1);
        }
        jpeg_finish_compress(&info);
        result.assign(out, out + size);
    } catch (...) {
        jpeg_destroy_compress(&info);
        std::free(out);
        throw;
    }
    jpeg_destroy_compress(&info);
    std::free(out);
    return result;
}

}  // namespace

Bytes make_photo(const std::string& top, const std::string& bottom, int width, int height, int quality) {
    if (width < 16) width = 16;
    if (height < 16) height = 16;
    Canvas canvas(width, height);
    // A gradient background, so that photos differ and compress like photos.
    unsigned seed = 0;
    for (char c : top + bottom) seed = seed * 31 + static_cast<unsigned char>(c);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            canvas.set(x, y, static_cast<uint8_t>(40 + (x * 90) / width),
                       static_cast<uint8_t>(30 + (y * 80) / height + seed % 40),
                       static_cast<uint8_t>(90 + ((x + y) * 3 + seed) % 60));
        }
    }
    int scale = width / 60 > 1 ? width / 60 : 1;
    canvas.text(top, height / 4, scale);
    canvas.text(bottom, height / 4 + 10 * scale, scale > 1 ? scale - 1 : 1);
    std::string comment = "doorsim photo";
    for (;;) {
        Bytes jpeg = compress(canvas, quality, comment);
        if (jpeg.size() % 1024 != 0) return jpeg;
        comment += ' ';
    }
}

}  // namespace doorsim

namespace doorsim {

bool decode_photo(const Bytes& jpeg, int& width, int& height) {
    if (jpeg.size() < 4) return false;
    jpeg_decompress_struct info{};
    jpeg_error_mgr errors{};
    info.err = jpeg_std_error(&errors);
    errors.error_exit = [](j_common_ptr) { throw std::runtime_error("jpeg decoding failed"); };
    errors.output_message = [](j_common_ptr) {};
    jpeg_create_decompress(&info);
    bool ok = false;
    try {
        jpeg_mem_src(&info, jpeg.data(), static_cast<unsigned long>(jpeg.size()));
        if (jpeg_read_header(&info, TRUE) == JPEG_HEADER_OK) {
            jpeg_start_decompress(&info);
            std::vector<uint8_t> row(static_cast<size_t>(info.output_width) *
                                     static_cast<size_t>(info.output_components));
            while (info.output_scanline < info.output_height) {
                JSAMPROW rows[1] = {row.data()};
                jpeg_read_scanlines(&info, rows, 1);
            }
            jpeg_finish_decompress(&info);
            width = static_cast<int>(info.output_width);
            height = static_cast<int>(info.output_height);
            ok = errors.num_warnings == 0;
        }
    } catch (...) {
        ok = false;
    }
    jpeg_destroy_decompress(&info);
    return ok;
}

}  // namespace doorsim
