// The rows of an uncompressed bitmap file, read here rather than by the system's bitmap loader:
// that loader is slow (most of a small strip's conversion under Wine), and Wine's leaves the
// pixels of a top-down file black. The file's headers were checked first (bmp_check.h).
#pragma once

#include "runtime/image/bmp_check.h"

#include <windows.h>
#include <cstdint>

// True for rows read here: uncompressed or bit fields, after an info header of 40 bytes or more.
// Run-length files and those with a 12-byte core header are the system loader's.
bool BmpRowsReadHere(const BmpLayout &layout);

// The file's own pixel format for its section: a bottom-up header with the colour table or the
// bit masks. Null for rows a plain section of their bit count holds as they are (16 bits 5-5-5,
// 24 and 32 bits), which need no format of their own.
struct BmpSectionFormat {
    BITMAPINFOHEADER header;
    RGBQUAD colors[256];
};
const BITMAPINFO *BmpFileFormat(const BmpLayout &layout, const uint8_t *head,
                                BmpSectionFormat *format);

// Copies every row into `rows`, a bottom-up section's memory of the file's depth, bottom row
// first whatever the file's order, every byte as the file holds it (the fourth byte of a 32-bit
// pixel and the row padding too). The rows come from `whole`, the whole file, when given, else
// from `file` at the data's start. False when the file ends before its last row.
bool BmpReadRows(const BmpLayout &layout, const uint8_t *whole, HANDLE file, uint8_t *rows);
