#include "runtime/image/codecs/png_codec.h"

#include <png.h>

#include <cstddef>
#include <cstdlib>
#include <cstring>

namespace {

// The picture between Open and Decode, in a block of its own that the caller's picture record
// points to. libpng long-jumps to the recovery point on any error: the routines reach the picture
// through a pointer that never changes after the point is set, never through locals changed
// after it.
struct PngPicture {
    png_structp read;
    png_infop info;
    png_uint_32 width;
    png_uint_32 height;
    int bitDepth;
    int colorType;
    const png_byte *memoryNext; // memory mode: the next byte libpng will get
    size_t memoryLeft;          // memory mode: bytes of the block after memoryNext
};

struct PngWriteJob {
    png_structp write;
    png_infop info;
};

// Set for runs whose sheets keep transparency: a transparency chunk then becomes alpha. Set before
// a batch begins; the decoding threads only read it.
bool KeepTransparency;
// Sheets may be written on several threads at once: each has its own write job.
thread_local PngWriteJob Job;
bool DecoderRegistered;
bool EncoderRegistered;

void PngPictureRelease(ImagePicture *picture) {
    auto *p = static_cast<PngPicture *>(picture->state);
    if (p && p->read) png_destroy_read_struct(&p->read, &p->info, nullptr);
    free(p);
    *picture = ImagePicture{};
}

// Bounded by the block's size: a truncated block ends in libpng's read error, never in a read
// past the block.
void PngMemoryRead(png_structp read, png_bytep out, size_t length) {
    auto *p = static_cast<PngPicture *>(png_get_io_ptr(read));
    if (length > p->memoryLeft) png_error(read, "Read Error");
    memcpy(out, p->memoryNext, length);
    p->memoryNext += length;
    p->memoryLeft -= length;
}

// True when the rows are delivered with alpha: an alpha channel, or a transparency chunk kept.
bool PngHasAlpha(const PngPicture *p) {
    return (p->colorType & PNG_COLOR_MASK_ALPHA) ||
           (KeepTransparency && png_get_valid(p->read, p->info, PNG_INFO_tRNS));
}

int32_t PngOpen(ImagePicture *picture, FILE *stream, const void *memory, intptr_t nameOrSize) {
    *picture = ImagePicture{};
    png_byte signature[8];
    if (memory) {
        if (nameOrSize < 8) return 0;
        memcpy(signature, memory, sizeof signature);
    } else {
        if (!stream || fread(signature, 1, sizeof signature, stream) != sizeof signature) return 0;
    }
    if (png_sig_cmp(signature, 0, sizeof signature) != 0) return 0;

    auto *const p = static_cast<PngPicture *>(calloc(1, sizeof(PngPicture)));
    if (!p) return 0;
    picture->state = p;
    p->read = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    if (!p->read) {
        PngPictureRelease(picture);
        return 0;
    }
    if (setjmp(png_jmpbuf(p->read))) {
        PngPictureRelease(picture);
        return 0;
    }
    // Ancillary chunks (text, colour profiles, gamma, ...) play no part in the pixels delivered:
    // libpng skips them unread. Otherwise a file of a few bytes that declares a 2 GB text chunk
    // makes libpng allocate and clear 2 GB before it finds out the data is not there.
    png_set_keep_unknown_chunks(p->read, PNG_HANDLE_CHUNK_NEVER, nullptr, -1);
    if (memory) {
        // libpng reads the signature again from the block.
        p->memoryNext = static_cast<const png_byte *>(memory);
        p->memoryLeft = static_cast<size_t>(nameOrSize);
        png_set_read_fn(p->read, p, PngMemoryRead);
    } else {
        png_init_io(p->read, stream);
        png_set_sig_bytes(p->read, sizeof signature);
    }
    p->info = png_create_info_struct(p->read);
    if (!p->info) png_error(p->read, "Insufficient memory");
    png_read_info(p->read, p->info);
    int interlace, compression, filter;
    png_get_IHDR(p->read, p->info, &p->width, &p->height, &p->bitDepth, &p->colorType, &interlace,
                 &compression, &filter);
    picture->width = static_cast<int32_t>(p->width);
    picture->height = static_cast<int32_t>(p->height);
    return PngHasAlpha(p) ? 2 : 1;
}

int32_t PngDecode(ImagePicture *picture, uint8_t *pixels, int32_t stride) {
    auto *const p = static_cast<PngPicture *>(picture->state);
    if (!p || !p->read || !p->info) {
        PngPictureRelease(picture);
        return 0;
    }
    if (setjmp(png_jmpbuf(p->read))) {
        PngPictureRelease(picture);
        return 0;
    }
    bool alpha = PngHasAlpha(p);
    switch (p->colorType) {
    case PNG_COLOR_TYPE_PALETTE:
        // Unless kept, palette transparency would become alpha: every pixel shows its colour.
        png_set_palette_to_rgb(p->read);
        if (!alpha) png_set_strip_alpha(p->read);
        break;
    case PNG_COLOR_TYPE_GRAY:
    case PNG_COLOR_TYPE_GRAY_ALPHA:
        // Expands the samples only; a transparency chunk becomes alpha only when kept.
        if (p->bitDepth < 8) png_set_expand_gray_1_2_4_to_8(p->read);
        png_set_gray_to_rgb(p->read);
        break;
    default:
        break;
    }
    if (alpha && !(p->colorType & PNG_COLOR_MASK_ALPHA)) png_set_tRNS_to_alpha(p->read);
    if (p->bitDepth == 16) png_set_strip_16(p->read);
    png_set_bgr(p->read);
    int passes = png_set_interlace_handling(p->read);
    // The rows must be as long as the caller was told they would be: 3 or 4 bytes a pixel.
    png_read_update_info(p->read, p->info);
    if (png_get_rowbytes(p->read, p->info) != size_t(p->width) * (alpha ? 4 : 3))
        png_error(p->read, "Unexpected row size");

    // Every pass walks all rows, so an interlaced picture fills in at full size pass by pass.
    for (int pass = 0; pass < passes; ++pass) {
        for (png_uint_32 y = 0; y < p->height; ++y) {
            png_bytep row = pixels + static_cast<ptrdiff_t>(y) * stride;
            png_read_rows(p->read, &row, nullptr, 1);
        }
    }
    PngPictureRelease(picture);
    return 1;
}

void PngWriteEnd() {
    if (Job.write) png_destroy_write_struct(&Job.write, &Job.info);
    Job.write = nullptr;
    Job.info = nullptr;
}

// Writes rows of blue-green-red (PNG_COLOR_TYPE_RGB) or blue-green-red-alpha pixels, compressed
// at zlib's level `quality` + 2, from 1 to 9.
int32_t PngWrite(FILE *stream, const uint8_t *pixels, int32_t width, int32_t height, int32_t stride,
                 int32_t quality, int colorType) {
    if (!stream) return 0;
    Job.write = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    if (!Job.write) return 0;
    if (setjmp(png_jmpbuf(Job.write))) {
        PngWriteEnd();
        return 0;
    }
    png_init_io(Job.write, stream);
    Job.info = png_create_info_struct(Job.write);
    if (!Job.info) png_error(Job.write, "Insufficient memory");
    png_set_filter(Job.write, 0, PNG_FILTER_NONE);
    png_set_compression_level(Job.write, quality < -1 ? 1 : quality > 7 ? 9 : quality + 2);
    // libpng checks the size here: zero, negative (seen as huge) or too large ends in an error.
    png_set_IHDR(Job.write, Job.info, static_cast<png_uint_32>(width),
                 static_cast<png_uint_32>(height), 8, colorType, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_set_bgr(Job.write);
    png_write_info(Job.write, Job.info);
    // The block is bottom-up: start from its last row to write the picture the right way up.
    for (int32_t i = 0; i < height; ++i)
        png_write_row(Job.write, pixels + static_cast<ptrdiff_t>(height - 1 - i) * stride);
    png_write_end(Job.write, Job.info);
    PngWriteEnd();
    return 1;
}

int32_t PngEncode(FILE *stream, const uint8_t *pixels, int32_t width, int32_t height,
                  int32_t stride, int32_t quality) {
    return PngWrite(stream, pixels, width, height, stride, quality, PNG_COLOR_TYPE_RGB);
}

int32_t PngEncodeAlpha(FILE *stream, const uint8_t *pixels, int32_t width, int32_t height,
                       int32_t stride, int32_t quality) {
    return PngWrite(stream, pixels, width, height, stride, quality, PNG_COLOR_TYPE_RGB_ALPHA);
}

} // namespace

const ImageDecoder PngDecoder = {PngOpen, PngDecode, PngPictureRelease};
const ImageEncoder PngEncoder = {ImageFormatPng, PngEncode, 24, true};
const ImageEncoder PngAlphaEncoder = {ImageFormatPngAlpha, PngEncodeAlpha, 32, true};

void PngDecoderKeepTransparency(bool keep) {
    KeepTransparency = keep;
}

void PngDecoderRegister() {
    if (DecoderRegistered) return;
    ImageDecoderRegister(&PngDecoder);
    DecoderRegistered = true;
}

void PngEncoderRegister() {
    if (EncoderRegistered) return;
    ImageEncoderRegister(&PngEncoder);
    ImageEncoderRegister(&PngAlphaEncoder);
    EncoderRegistered = true;
}
