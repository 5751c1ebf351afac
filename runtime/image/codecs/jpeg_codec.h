// The JPEG codec: a decoder that reads the whole file into memory and delivers 24-bit
// blue-green-red rows, and an encoder that compresses the library's 24-bit pixel block at a
// quality from 0 to 10.
#pragma once

#include "runtime/image/image_codec.h"

#include <cstddef>

struct jpeg_decompress_struct;

extern const ImageDecoder JpegDecoder;
extern const ImageEncoder JpegEncoder;

// Each hands its record to the image library once; later calls do nothing.
void JpegDecoderRegister();
void JpegEncoderRegister();

// Installs a data source over one memory block on the decompressor, or re-points the one it has.
// When the block runs out the source warns and supplies an end-of-image marker.
void JpegMemorySourceSet(jpeg_decompress_struct *decompressor, const unsigned char *data,
                         size_t size);
