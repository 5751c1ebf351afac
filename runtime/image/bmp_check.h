// The headers of a Windows bitmap file, checked against the file's size before the system's
// bitmap loader sees the file: that loader trusts the headers and reads wherever they point.
// Plain bytes in, no system calls, so that it can be tried on any input.
#pragma once

#include <cstddef>
#include <cstdint>

enum class BmpCheck {
    Valid,      // every byte the headers point at lies inside the file
    NotABitmap, // the headers are not those of a bitmap the loader takes
    CutShort,   // valid headers, but the colour table or pixel data end beyond the file
};

// What a valid file holds; the bit count is the file's own (1, 4, 8, 16, 24 or 32).
struct BmpLayout {
    int32_t width;
    int32_t height; // positive; `topDown` says the rows are stored top row first
    int32_t bitsPerPixel;
    bool topDown;
    uint32_t headerSize;  // of the info header: 12 for a core header, 40 or more otherwise
    uint32_t compression; // 0 plain rows, 1 and 2 run-length, 3 bit fields
    uint32_t colorsUsed;  // as the header gives it (0 for a core header)
    uint64_t dataStart;   // where the pixel data starts; its end lies inside the file
    // The colour table (8 bits or less): where it starts in the file and how many entries it has
    // there, 4 bytes each (3 for a core header), all of them inside the head.
    uint32_t tableStart;
    uint32_t tableEntries;
    // Red, green and blue, for bit fields: each a run of set bits within the pixel, none sharing
    // a bit with another.
    uint32_t masks[3];
};

// Enough of the start of a file for every header, bit masks and a full colour table.
constexpr size_t BmpHeadBytes = 14 + 124 + 12 + 256 * 4;

// `head` holds the first `headSize` bytes of a file of `fileSize` bytes (all of it when shorter
// than BmpHeadBytes). `layout` is filled for a valid file.
BmpCheck BmpCheckFile(const uint8_t *head, size_t headSize, uint64_t fileSize, BmpLayout *layout);
