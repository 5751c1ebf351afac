// The records through which codecs plug into the image library: decoders tried in registration
// order when a file is loaded, and encoders chosen by format id when an image is saved.
//
// Threads: decoders run on the batch's thread and on the thread that reads strips ahead
// (image_load.h), one picture on each at once. A decoder keeps its state in the picture record
// it is handed, never in module storage, and uses only the C runtime, the stream or block it is
// given and MainHeap (memory.h); the settings it reads (PngDecoderKeepTransparency) are set
// before a batch begins. Encoders run on the background saving threads, several at once: Encode
// keeps its state per call or per thread and uses only the C runtime, the stream it is given and
// MainHeap. The threads read the decoder and encoder tables without a lock, so every codec is
// registered before the first load or save starts.
#pragma once

#include "runtime/drawing/bitmap_rows.h"

#include <cstdint>
#include <cstdio>

constexpr int32_t ImageFormatBmp = 0;
constexpr int32_t ImageFormatPng = 0x00474E50;  // "PNG\0" little-endian
constexpr int32_t ImageFormatJpeg = 0x4745504A; // "JPEG" little-endian
// A PNG file that keeps the picture's alpha: its encoder takes 32-bit rows.
constexpr int32_t ImageFormatPngAlpha = 0x41474E50; // "PNGA" little-endian

// Pictures larger than this in either direction do not fit an image record's 16-bit sizes.
constexpr int32_t ImageMaxSize = 32767;

// The most bytes one bitmap may take. Under Wine a 64-bit program can make larger sections, but
// copying from one fails once a row starts beyond 2^31 bytes, and a display-compatible bitmap
// of more than 2^31 - 1 bytes is refused. A 32-bit program runs out of address space first: it
// cannot hold a strip, its sheet and the sheet's copy for saving beyond about 512 MB each.
constexpr int64_t ImageMaxBytes = sizeof(void *) == 8 ? INT32_MAX : int64_t(512) << 20;

// True when a picture of that size and bit count fits an image: 1 to ImageMaxSize pixels both
// ways and, with rows rounded up to whole 32-bit words, at most ImageMaxBytes.
constexpr bool ImageBytesFit(int32_t width, int32_t height, int32_t bitsPerPixel) {
    return width >= 1 && width <= ImageMaxSize && height >= 1 && height <= ImageMaxSize &&
           bitsPerPixel >= 1 && bitsPerPixel <= 32 &&
           BitmapRowBytes(width, bitsPerPixel) * height <= ImageMaxBytes;
}

// One picture a decoder opened: its size, and the decoder's own record of it, made by Open and
// released by Decode or Drop. The caller holds the record; a zeroed one before Open.
struct ImagePicture {
    int32_t width;
    int32_t height;
    void *state;
};

// Open returns 0 (not this format, or the header is unreadable; nothing left open), 1 (3 bytes a
// pixel: blue, green, red) or 2 (4 bytes a pixel, alpha last), and fills the picture record. File
// mode: stream set, memory null, nameOrSize the file name. Memory mode: stream null, memory the
// whole file, nameOrSize its size. Decode writes the picture's height in rows, top row first, at
// pixels + row * stride and releases the decoder's state; Drop releases an opened picture that
// will not be decoded.
struct ImageDecoder {
    int32_t (*Open)(ImagePicture *picture, FILE *stream, const void *memory, intptr_t nameOrSize);
    int32_t (*Decode)(ImagePicture *picture, uint8_t *pixels, int32_t stride);
    void (*Drop)(ImagePicture *picture);
};

// Encode writes `height` rows of blue-green-red pixels (blue-green-red-alpha when BitsPerPixel is
// 32; 0 means 24), bottom row first in memory, to the stream, which the caller opened for writing
// and closes; 0 on failure, leaving what was written.
struct ImageEncoder {
    int32_t FormatId;
    int32_t (*Encode)(FILE *stream, const uint8_t *pixels, int32_t width, int32_t height,
                      int32_t stride, int32_t quality);
    int32_t BitsPerPixel;
    // Writing a picture takes many times as long as reading one (PNG's compression): a large sheet
    // is then written on a thread of its own (image_save_queue.cpp).
    bool Heavy;
};

void ImageDecoderListReset();
void ImageDecoderRegister(const ImageDecoder *decoder);
void ImageEncoderRegister(const ImageEncoder *encoder);
