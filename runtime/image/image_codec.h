// The records through which codecs plug into the image library: decoders tried in registration
// order when a file is loaded, and encoders chosen by format id when an image is saved.
#pragma once

#include <cstdint>
#include <cstdio>

constexpr int32_t ImageFormatBmp = 0;
constexpr int32_t ImageFormatPng = 0x00474E50;  // "PNG\0" little-endian
constexpr int32_t ImageFormatJpeg = 0x4745504A; // "JPEG" little-endian

// Open returns 0 (not this format, or the header is unreadable; nothing left open), 1 (3 bytes a
// pixel: blue, green, red) or 2 (4 bytes a pixel, alpha last). File mode: stream set, memory null,
// nameOrSize the file name. Memory mode: stream null, memory the whole file, nameOrSize its size.
// Decode writes Height rows top row first at pixels + row * stride and releases the codec's state.
struct ImageDecoder {
    int32_t (*Open)(FILE *stream, const void *memory, intptr_t nameOrSize);
    int32_t (*Decode)(uint8_t *pixels, int32_t stride);
    int32_t (*Width)();
    int32_t (*Height)();
};

// Encode writes `height` rows of blue-green-red pixels, bottom row first in memory, to the file.
struct ImageEncoder {
    int32_t FormatId;
    int32_t (*Encode)(const char *fileName, const uint8_t *pixels, int32_t width, int32_t height,
                      int32_t stride, int32_t quality);
};

void ImageDecoderListReset();
void ImageDecoderRegister(const ImageDecoder *decoder);
void ImageEncoderRegister(const ImageEncoder *encoder);
