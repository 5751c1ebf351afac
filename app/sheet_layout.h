// Where frames go: on a grid, in the order of the strip, or packed into pages as small as they
// can be. Both give one record per frame, which the pixels and the data file are made from.
#pragma once

#include "app/sheet_options.h"

#include <cstdint>

// One frame on its page: the rectangle of its pixels (enlarged, without the extrusion), and where
// that rectangle lies within the whole frame (non-zero only when the frame was trimmed).
struct FramePlace {
    int32_t page;
    int32_t x, y, w, h;
    int32_t trimX, trimY;
};

struct PageSize {
    int32_t width, height;
};

enum class LayoutFit {
    Fits,
    NoFrames, // the count does not leave frames of at least one pixel
    TooLarge, // larger than a page or an image can be
};

// The size of each of `count` frames of a strip `stripWidth` x `stripHeight`, side by side or
// stacked; pixels left over at the end are not used.
LayoutFit StripFrameSize(int32_t stripWidth, int32_t stripHeight, bool horizontal, int32_t count,
                         int32_t *frameWidth, int32_t *frameHeight);

// A grid of cells, `columns` a row: the frames in the strip's order, each cell a frame and its
// extrusion, `spacing` between cells and `margin` around them all.
struct GridLayout {
    int32_t frameWidth, frameHeight; // enlarged
    int32_t cellWidth, cellHeight;
    int32_t columns, rows;
    PageSize page;
};

// The grid of `count` frames as the options lay it out (the page's sides powers of two with /pot);
// TooLarge when it is larger than /maxsize or an image allows.
LayoutFit GridLayoutMake(const SheetOptions &options, int32_t frameWidth, int32_t frameHeight,
                         int32_t count, GridLayout *grid);

// Frame i of the grid.
FramePlace GridPlace(const SheetOptions &options, const GridLayout &grid, int32_t i);

// A rectangle to pack: the part of a frame that is stored (trimmed or whole), not yet enlarged,
// and where it lies within its frame.
struct PackRect {
    int32_t w, h;
    int32_t trimX, trimY;
};

// The largest side of a packed page.
int32_t PackedPageLimit(const SheetOptions &options);

// True when the rectangles `ids` (of `rects`) fit one page of the largest size, with the spacing,
// margin, extrusion and enlargement the options give.
bool PackFitsOnePage(const SheetOptions &options, const PackRect *rects, const int32_t *ids,
                     int32_t count);

// A strip of a packed layout: its frames are `frames[first]` to `frames[first + count - 1]`, each
// the id of its rectangle in `rects`.
struct PackStrip {
    int32_t first;
    int32_t count;
};

// The packed pages: the strips, in order, onto as few pages as the first that holds each one
// allows (a strip is never split, and must fit one page alone, PackFitsOnePage), each page then
// made as small in area as the packer finds. `places` gets one record per frame, `stripPages` the
// page of each strip, `pages` a MainHeap block of the pages' sizes (the caller frees it); returns
// the number of pages, or 0 when memory runs out.
int32_t PackLayoutMake(const SheetOptions &options, const PackRect *rects, int32_t rectCount,
                       const int32_t *frames, const PackStrip *strips, int32_t stripCount,
                       FramePlace *places, int32_t *stripPages, PageSize **pages);
