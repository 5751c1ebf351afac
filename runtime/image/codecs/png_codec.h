// The PNG codec: a decoder that delivers any PNG picture as 24- or 32-bit blue-green-red rows, an
// encoder that writes the library's 24-bit pixel block as an 8-bit RGB PNG file, and one that
// writes a 32-bit block (ImageFormatPngAlpha) as an 8-bit RGBA PNG file. The encoders read the
// quality as how hard to compress: zlib's level quality + 2, from 1 to 9, so ImageDefaultQuality
// and above give level 9, the smallest file, and each step down a quicker one.
#pragma once

#include "runtime/image/image_codec.h"

extern const ImageDecoder PngDecoder;
extern const ImageEncoder PngEncoder;
extern const ImageEncoder PngAlphaEncoder;

// With `keep`, a picture with a transparency chunk (palette, gray or RGB) is delivered with alpha
// (32-bit rows) rather than as its plain colours. Off at start.
void PngDecoderKeepTransparency(bool keep);

// Each hands its records to the image library once; later calls do nothing.
void PngDecoderRegister();
void PngEncoderRegister();
