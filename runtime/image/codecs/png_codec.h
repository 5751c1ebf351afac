// The PNG codec: a decoder that delivers any PNG picture as 24- or 32-bit blue-green-red rows, and
// an encoder that writes the library's 24-bit pixel block as an 8-bit RGB PNG file.
#pragma once

#include "runtime/image/image_codec.h"

extern const ImageDecoder PngDecoder;
extern const ImageEncoder PngEncoder;

// Each hands its record to the image library once; later calls do nothing.
void PngDecoderRegister();
void PngEncoderRegister();
