// The row length of a device-independent bitmap, for the drawing layer, the image library and
// the bitmap file check alike. No system header: the check is also built and fuzzed off Windows.
#pragma once

#include <cstdint>

// Bytes of one row of pixels of that bit count, rounded up to whole 32-bit words: how sections,
// GetDIBits and bitmap files lay out their rows (24 bits: 3 a pixel and up to 3 of padding).
constexpr int64_t BitmapRowBytes(int64_t width, int32_t bitsPerPixel) {
    return (width * bitsPerPixel + 31) / 32 * 4;
}
