// Composing the pixels of a sheet or an atlas page: frames copied from a strip's rows or from the
// stored frames into a section, enlarged and extruded as the options say, or (for a sheet without
// options) blitted by GDI as the program always drew them.
#pragma once

#include "runtime/memory/registry.h"

#include <cstdint>

// Rows of pixels to copy frames from or into: `bits` is the top row, `stride` the step from a
// row to the one below it (negative for rows stored bottom row first).
struct PixelRows {
    uint8_t *bits = nullptr;
    int64_t stride = 0;
    int32_t bytesPerPixel = 0; // 3 (blue, green, red) or 4 (alpha last)
    bool alpha = false;        // the fourth byte is the picture's alpha, not padding
};

// The pixels of the strip in image `id`: its own section's rows, or a copy at 32 bits (opaque)
// for any other bitmap. Owns the copy.
struct StripPixels {
    PixelRows rows;
    uint8_t *block = nullptr;

    StripPixels() = default;
    StripPixels(const StripPixels &) = delete;
    StripPixels &operator=(const StripPixels &) = delete;
    ~StripPixels();
};

// False when the image is an icon, or there is no memory for a copy of its pixels.
bool StripPixelsRead(ObjectId id, StripPixels *strip);

// Copies `width` pixels from one row into another, each repeated `scale` times; an opaque source
// gets alpha 255 in a row of 4 bytes a pixel.
void PixelRowCopy(uint8_t *to, int32_t toBytes, const uint8_t *from, int32_t fromBytes, bool alpha,
                  int32_t width, int32_t scale);

// Makes image `id` a section of that size and depth (24, or 32 with alpha), all black or wholly
// transparent, keeping the section it holds when that one fits; `page` gets its rows. False when
// no section can be made.
bool PageBegin(ObjectId id, int32_t width, int32_t height, int32_t depth, PixelRows *page);

// Draws the `width` x `height` pixels of `from` at (fromX, fromY) onto the page with their top
// left at (x, y), each pixel `scale` x `scale`, the outermost pixels repeated `extrude` pixels
// outward and the corner pixels into the corners.
void PageDrawFrame(const PixelRows &page, const PixelRows &from, int32_t fromX, int32_t fromY,
                   int32_t width, int32_t height, int32_t x, int32_t y, int32_t scale,
                   int32_t extrude);

// The sheet of a run without options, drawn by GDI into image `sheet` (a black 24-bit section of
// `sheetWidth` x `sheetHeight`): the `count` frames of `frameWidth` x `frameHeight` of the strip
// in image `strip`, eight a row. False when a frame could not be drawn.
bool DrawPlainSheet(ObjectId sheet, ObjectId strip, bool horizontal, int32_t count,
                    int32_t frameWidth, int32_t frameHeight, int32_t sheetWidth,
                    int32_t sheetHeight);

// The same sheet as DrawPlainSheet draws, copied without GDI from rows of 3 bytes a pixel into a
// sheet's rows of that depth, every pixel of the sheet written (black where no frame falls): for a
// thread that has no image numbers and no drawing of its own.
void CopyPlainSheet(const PixelRows &sheet, int32_t sheetWidth, int32_t sheetHeight,
                    const PixelRows &strip, bool horizontal, int32_t count, int32_t frameWidth,
                    int32_t frameHeight);
