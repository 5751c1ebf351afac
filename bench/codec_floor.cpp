// The least work that turns a strip into its sheet with the codecs StripSheet links: decode the
// file, copy each frame's rows into place, encode the sheet at StripSheet's settings (PNG: 8-bit
// RGB, or RGBA for /alpha, no row filter, compression level 9; JPEG: quality 70, integer DCT; BMP:
// 24-bit, bottom up, rows copied), and for /json write the frames' data file. No GDI and no
// runtime: the floor against which the program's own overhead is measured. The bench runs it in
// its own process, taking turns with StripSheet's conversion.
#include "bench/codec_floor.h"

#include "bench/bench_clock.h"

#include <windows.h>

#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include <jpeglib.h>
#include <png.h>

namespace {

enum class Format { Png, Bmp, Jpeg };

// Top-down rows of 3 bytes a pixel (4 with alpha), in the order the codec gives them (RGB, or BGR
// for BMP).
struct Picture {
    int width = 0;
    int height = 0;
    int channels = 3;
    std::vector<uint8_t> pixels;
};

std::vector<uint8_t> ReadFile(const char *path) {
    std::vector<uint8_t> bytes;
    FILE *f = fopen(path, "rb");
    if (!f) return bytes;
    fseek(f, 0, SEEK_END);
    long size = ftell(f);
    fseek(f, 0, SEEK_SET);
    if (size > 0) {
        bytes.resize(size_t(size));
        if (fread(bytes.data(), 1, bytes.size(), f) != bytes.size()) bytes.clear();
    }
    fclose(f);
    return bytes;
}

struct PngSource {
    const uint8_t *next;
    size_t left;
};

void PngRead(png_structp png, png_bytep out, size_t length) {
    auto *source = static_cast<PngSource *>(png_get_io_ptr(png));
    if (length > source->left) png_error(png, "short");
    memcpy(out, source->next, length);
    source->next += length;
    source->left -= length;
}

// With `alpha` the rows keep the file's alpha, or get an opaque one.
bool DecodePng(const std::vector<uint8_t> &file, Picture *p, bool alpha) {
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_read_struct(&png, &info, nullptr);
        return false;
    }
    PngSource source{file.data(), file.size()};
    png_set_read_fn(png, &source, PngRead);
    png_read_info(png, info);
    p->width = int(png_get_image_width(png, info));
    p->height = int(png_get_image_height(png, info));
    int type = png_get_color_type(png, info);
    if (type == PNG_COLOR_TYPE_PALETTE) png_set_palette_to_rgb(png);
    if (!alpha && (type & PNG_COLOR_MASK_ALPHA)) png_set_strip_alpha(png);
    if (alpha && !(type & PNG_COLOR_MASK_ALPHA)) png_set_filler(png, 0xFF, PNG_FILLER_AFTER);
    if (png_get_bit_depth(png, info) == 16) png_set_strip_16(png);
    png_read_update_info(png, info);
    p->channels = alpha ? 4 : 3;
    size_t stride = size_t(p->width) * size_t(p->channels);
    p->pixels.resize(stride * size_t(p->height));
    for (int y = 0; y < p->height; y++)
        png_read_row(png, p->pixels.data() + stride * size_t(y), nullptr);
    png_destroy_read_struct(&png, &info, nullptr);
    return true;
}

bool EncodePng(const char *path, const Picture &p) {
    FILE *f = fopen(path, "wb");
    if (!f) return false;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        fclose(f);
        return false;
    }
    png_init_io(png, f);
    png_set_filter(png, 0, PNG_FILTER_NONE);
    png_set_compression_level(png, 9);
    png_set_IHDR(png, info, png_uint_32(p.width), png_uint_32(p.height), 8,
                 p.channels == 4 ? PNG_COLOR_TYPE_RGB_ALPHA : PNG_COLOR_TYPE_RGB,
                 PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    size_t stride = size_t(p.width) * size_t(p.channels);
    for (int y = 0; y < p.height; y++)
        png_write_row(png, p.pixels.data() + stride * size_t(y));
    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
    return fclose(f) == 0;
}

struct JpegErrors {
    jpeg_error_mgr standard;
    jmp_buf recovery;
};

void JpegFail(j_common_ptr codec) {
    longjmp(reinterpret_cast<JpegErrors *>(codec->err)->recovery, 1);
}

bool DecodeJpeg(const std::vector<uint8_t> &file, Picture *p) {
    jpeg_decompress_struct d;
    JpegErrors errors;
    d.err = jpeg_std_error(&errors.standard);
    errors.standard.error_exit = JpegFail;
    if (setjmp(errors.recovery)) {
        jpeg_destroy_decompress(&d);
        return false;
    }
    jpeg_create_decompress(&d);
    jpeg_mem_src(&d, file.data(), static_cast<unsigned long>(file.size()));
    jpeg_read_header(&d, TRUE);
    d.dct_method = JDCT_ISLOW;
    d.out_color_space = JCS_RGB;
    jpeg_start_decompress(&d);
    p->width = int(d.output_width);
    p->height = int(d.output_height);
    size_t stride = size_t(p->width) * 3;
    p->pixels.resize(stride * size_t(p->height));
    while (d.output_scanline < d.output_height) {
        JSAMPROW row = p->pixels.data() + stride * d.output_scanline;
        jpeg_read_scanlines(&d, &row, 1);
    }
    jpeg_finish_decompress(&d);
    jpeg_destroy_decompress(&d);
    return true;
}

bool EncodeJpeg(const char *path, const Picture &p) {
    FILE *f = fopen(path, "wb");
    if (!f) return false;
    jpeg_compress_struct c;
    JpegErrors errors;
    c.err = jpeg_std_error(&errors.standard);
    errors.standard.error_exit = JpegFail;
    if (setjmp(errors.recovery)) {
        jpeg_destroy_compress(&c);
        fclose(f);
        return false;
    }
    jpeg_create_compress(&c);
    jpeg_stdio_dest(&c, f);
    c.image_width = JDIMENSION(p.width);
    c.image_height = JDIMENSION(p.height);
    c.input_components = 3;
    c.in_color_space = JCS_RGB;
    jpeg_set_defaults(&c);
    jpeg_set_quality(&c, 70, FALSE);
    jpeg_start_compress(&c, TRUE);
    size_t stride = size_t(p.width) * 3;
    while (c.next_scanline < c.image_height) {
        JSAMPROW row = const_cast<uint8_t *>(p.pixels.data()) + stride * c.next_scanline;
        jpeg_write_scanlines(&c, &row, 1);
    }
    jpeg_finish_compress(&c);
    jpeg_destroy_compress(&c);
    return fclose(f) == 0;
}

// 24-bit BI_RGB files only, which is what the bench writes; rows turned top-down.
bool DecodeBmp(const std::vector<uint8_t> &file, Picture *p) {
    if (file.size() < 54 || file[0] != 'B' || file[1] != 'M') return false;
    BITMAPFILEHEADER fh;
    BITMAPINFOHEADER ih;
    memcpy(&fh, file.data(), sizeof fh);
    memcpy(&ih, file.data() + sizeof fh, sizeof ih);
    if (ih.biBitCount != 24 || ih.biCompression != BI_RGB || ih.biHeight <= 0) return false;
    p->width = ih.biWidth;
    p->height = ih.biHeight;
    size_t fileStride = (size_t(p->width) * 3 + 3) & ~size_t(3);
    size_t stride = size_t(p->width) * 3;
    if (fh.bfOffBits + fileStride * size_t(p->height) > file.size()) return false;
    p->pixels.resize(stride * size_t(p->height));
    for (int y = 0; y < p->height; y++)
        memcpy(p->pixels.data() + stride * size_t(y),
               file.data() + fh.bfOffBits + fileStride * size_t(p->height - 1 - y), stride);
    return true;
}

bool EncodeBmp(const char *path, const Picture &p) {
    size_t stride = size_t(p.width) * 3;
    size_t fileStride = (stride + 3) & ~size_t(3);
    std::vector<uint8_t> bytes(54 + fileStride * size_t(p.height));
    BITMAPFILEHEADER fh{};
    fh.bfType = 0x4D42;
    fh.bfSize = DWORD(bytes.size());
    fh.bfOffBits = 54;
    BITMAPINFOHEADER ih{};
    ih.biSize = sizeof ih;
    ih.biWidth = p.width;
    ih.biHeight = p.height;
    ih.biPlanes = 1;
    ih.biBitCount = 24;
    ih.biSizeImage = DWORD(fileStride * size_t(p.height));
    memcpy(bytes.data(), &fh, sizeof fh);
    memcpy(bytes.data() + sizeof fh, &ih, sizeof ih);
    for (int y = 0; y < p.height; y++)
        memcpy(bytes.data() + 54 + fileStride * size_t(p.height - 1 - y),
               p.pixels.data() + stride * size_t(y), stride);
    FILE *f = fopen(path, "wb");
    if (!f) return false;
    // In pieces of 64 KB, as ours and PIL write: one call of several megabytes can take the system
    // many times as long.
    bool written = true;
    constexpr size_t Piece = size_t(64) << 10;
    for (size_t at = 0; written && at < bytes.size(); at += Piece) {
        size_t piece = bytes.size() - at < Piece ? bytes.size() - at : Piece;
        written = fwrite(bytes.data() + at, 1, piece, f) == piece;
    }
    return fclose(f) == 0 && written;
}

int FrameWidth(const Picture &strip, char direction, int count) {
    return direction == 'H' ? strip.width / count : strip.width;
}

int FrameHeight(const Picture &strip, char direction, int count) {
    return direction == 'V' ? strip.height / count : strip.height;
}

// Frame i of the strip at column i mod 8, row i div 8 of a black (or wholly transparent) sheet.
Picture Layout(const Picture &strip, char direction, int count) {
    int frameWidth = FrameWidth(strip, direction, count);
    int frameHeight = FrameHeight(strip, direction, count);
    Picture sheet;
    sheet.width = frameWidth * (count < 8 ? count : 8);
    sheet.height = frameHeight * ((count + 7) / 8);
    sheet.channels = strip.channels;
    size_t pixel = size_t(strip.channels);
    sheet.pixels.assign(size_t(sheet.width) * pixel * size_t(sheet.height), 0);
    size_t rowBytes = size_t(frameWidth) * pixel;
    for (int i = 0; i < count; i++) {
        int fromX = direction == 'H' ? i * frameWidth : 0;
        int fromY = direction == 'V' ? i * frameHeight : 0;
        int toX = i % 8 * frameWidth, toY = i / 8 * frameHeight;
        for (int y = 0; y < frameHeight; y++)
            memcpy(&sheet.pixels[(size_t(toY + y) * sheet.width + toX) * pixel],
                   &strip.pixels[(size_t(fromY + y) * strip.width + fromX) * pixel], rowBytes);
    }
    return sheet;
}

// The frames' data file: each frame's place and size on the sheet under "<prefix>_<i>", the
// animation of them all, and the sheet's name and size, as StripSheet's /json writes it.
bool WriteFrameData(const char *path, const std::string &prefix, const std::string &sheetName,
                    const Picture &sheet, int frameWidth, int frameHeight, int count) {
    std::string text = "{\n  \"frames\": {\n";
    std::string names;
    char line[512];
    for (int i = 0; i < count; i++) {
        std::string name = "\"" + prefix + "_" + std::to_string(i) + "\"";
        snprintf(line, sizeof line,
                 "    %s: {\"frame\": {\"x\": %d, \"y\": %d, \"w\": %d, \"h\": %d}, "
                 "\"rotated\": false, \"trimmed\": false, \"spriteSourceSize\": {\"x\": 0, "
                 "\"y\": 0, \"w\": %d, \"h\": %d}, \"sourceSize\": {\"w\": %d, \"h\": %d}}%s\n",
                 name.c_str(), i % 8 * frameWidth, i / 8 * frameHeight, frameWidth, frameHeight,
                 frameWidth, frameHeight, frameWidth, frameHeight, i + 1 < count ? "," : "");
        text += line;
        names += (i ? ", " : "") + name;
    }
    text += "  },\n  \"animations\": {\n    \"" + prefix + "\": [" + names +
            "]\n  },\n  \"meta\": {\"image\": \"" + sheetName + "\", \"format\": \"" +
            (sheet.channels == 4 ? "RGBA8888" : "RGB888") +
            "\", \"size\": {\"w\": " + std::to_string(sheet.width) +
            ", \"h\": " + std::to_string(sheet.height) + "}}\n}\n";
    FILE *f = fopen(path, "wb");
    if (!f) return false;
    bool written = fwrite(text.data(), 1, text.size(), f) == text.size();
    return fclose(f) == 0 && written;
}

// The strip's prefix (its name up to the last "_") and lower-case extension.
std::string StripPrefix(const std::string &path, std::string *extension) {
    size_t slash = path.find_last_of("\\/");
    std::string name = path.substr(slash == std::string::npos ? 0 : slash + 1);
    size_t dot = name.rfind('.');
    *extension = name.substr(dot + 1);
    for (char &c : *extension)
        c = char(tolower(c));
    std::string base = name.substr(0, dot);
    return base.substr(0, base.rfind('_'));
}

} // namespace

FloorTimes FloorConvert(const char *path, char direction, int count, const std::string &folder,
                        FloorSheet kind) {
    std::string extension;
    std::string prefix = StripPrefix(path, &extension);
    std::string sheetName = prefix + "_B" + std::to_string(count) + "." + extension;
    std::string out = folder + "\\" + sheetName;
    Format format = extension == "png"   ? Format::Png
                    : extension == "bmp" ? Format::Bmp
                                         : Format::Jpeg;

    int64_t start = Ticks();
    std::vector<uint8_t> file = ReadFile(path);
    Picture strip;
    bool ok = format == Format::Png   ? DecodePng(file, &strip, kind.alpha)
              : format == Format::Bmp ? DecodeBmp(file, &strip)
                                      : DecodeJpeg(file, &strip);
    int64_t decoded = Ticks();
    Picture sheet;
    if (ok) sheet = Layout(strip, direction, count);
    int64_t laidOut = Ticks();
    if (ok)
        ok = format == Format::Png   ? EncodePng(out.c_str(), sheet)
             : format == Format::Bmp ? EncodeBmp(out.c_str(), sheet)
                                     : EncodeJpeg(out.c_str(), sheet);
    if (ok && kind.frameData) {
        std::string data = folder + "\\" + prefix + "_B" + std::to_string(count) + ".json";
        ok = WriteFrameData(data.c_str(), prefix, sheetName, sheet,
                            FrameWidth(strip, direction, count),
                            FrameHeight(strip, direction, count), count);
    }
    int64_t end = Ticks();
    return {Microseconds(decoded - start), Microseconds(laidOut - decoded),
            Microseconds(end - laidOut), Microseconds(end - start), ok};
}
