// Packing rectangles into a bin by maximal free rectangles: the free space is kept as every
// largest empty rectangle, and each new rectangle goes where its top edge stays highest (its
// bottom lowest in the bin), then furthest left. Deterministic: the same rectangles in the same
// order give the same places.
#pragma once

#include <cstdint>

struct PackFree {
    int32_t x, y, w, h;
};

// A bin being filled: its free rectangles, or its skyline. Its list is a MainHeap block.
struct PackBin {
    int32_t width = 0, height = 0;
    PackFree *free = nullptr;
    int32_t freeCount = 0, freeRoom = 0;
    int32_t usedWidth = 0, usedHeight = 0; // the box of what was placed, from the top left
    bool failed = false;                   // memory ran out
};

void PackBinStart(PackBin *bin, int32_t width, int32_t height);
void PackBinEnd(PackBin *bin);

// Places a `w` x `h` rectangle; false when there is no room for it (or no memory).
bool PackBinPlace(PackBin *bin, int32_t w, int32_t h, int32_t *x, int32_t *y);

// Places a rectangle as PackBinPlace does, but keeps only the skyline (the top of what was placed,
// as `free` rectangles of no height, left to right): quicker on large bins, at the cost of the
// holes below the skyline. A bin is filled by one of the two only.
bool PackBinPlaceOnSkyline(PackBin *bin, int32_t w, int32_t h, int32_t *x, int32_t *y);

// Makes `to` a copy of `from` (whose free list it does not share); false when memory runs out.
bool PackBinCopy(PackBin *to, const PackBin &from);

// A rectangle to pack, and where it went.
struct PackItem {
    int32_t w, h;
    int32_t x, y;
};

// Packs every item into the bin of least area within `maxWidth` x `maxHeight`, the area counted
// with `border` added to each side's length (a page's margins, less the spacing that packing
// leaves after the last rectangle); with `pot` the sides with the border are powers of two.
// Sets the bin's sides (without the border) and every item's place; false when they do not fit
// or memory runs out.
bool PackSmallest(PackItem *items, int32_t count, int32_t maxWidth, int32_t maxHeight,
                  int32_t border, bool pot, int32_t *width, int32_t *height);

// The least power of two at or above `n` (1 for n below 1).
int32_t PowerOfTwoAbove(int32_t n);
