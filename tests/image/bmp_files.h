// Windows bitmap files for the tests, made and read here byte by byte so that the library's own
// loader and writer are checked against an independent reading of the format.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

// A picture as COLORREF values, top row first.
struct Picture {
    int width = 0;
    int height = 0;
    std::vector<COLORREF> pixels;
    COLORREF At(int x, int y) const { return pixels[size_t(y) * width + x]; }
};

// The bytes of a bitmap file holding the picture with `bits` bits a pixel (1, 4, 8: a colour
// table of the picture's distinct colours; 16: 5-6-5 bit fields; 24; 32 with `alpha` in the
// fourth byte), rows bottom-up or top-down, no resolution. Empty when the picture has too many
// colours.
std::string MakeBmp(const Picture &picture, int bits, bool topDown, uint8_t alpha = 0);

// Reads a 24-bit BI_RGB bitmap file (the only kind the library writes). On failure returns
// false and says why in `why`.
bool ReadBmp24(const std::string &bytes, Picture *picture, std::string *why);

// Appends the bytes of a value (fields of a file header, little-endian).
template <typename T> void AppendBytes(std::string &out, const T &value) {
    out.append(reinterpret_cast<const char *>(&value), sizeof value);
}

// Little-endian fields of a byte string.
uint32_t Field32(const std::string &bytes, size_t offset);
uint16_t Field16(const std::string &bytes, size_t offset);
