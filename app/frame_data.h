// The frame data file of a sheet or an atlas page, written from the layout's records in the
// layout atlas loaders read (a hash of frames, the animations, and a meta object).
#pragma once

#include "app/sheet_layout.h"
#include "app/sheet_options.h"

#include <cstddef>
#include <cstdint>

// A growing text in a MainHeap block; `failed` once memory ran out.
struct Text {
    char *data = nullptr;
    size_t used = 0;
    size_t capacity = 0;
    bool failed = false;
};

void TextFree(Text *text);

// A strip on the page: its prefix names its animation and frames (`<prefix>_<i>`), `places` are
// its `count` frames, each of `frameWidth` x `frameHeight` (enlarged) before any trimming.
struct DataStrip {
    const char *prefix;
    int32_t count;
    int32_t frameWidth, frameHeight;
    const FramePlace *places;
};

// The page the data describe: its picture's file name, size and pixel format; the grid it is laid
// out on (null when packed); the other pages' data files (`relatedCount` names one after another,
// each ending in a NUL).
struct DataPage {
    const char *imageName;
    PageSize size;
    bool alpha;
    const GridLayout *grid;
    const char *related;
    int32_t relatedCount;
};

// Appends the data file of the page and its strips to `text`.
void FrameDataPut(Text *text, const SheetOptions &options, const DataPage &page,
                  const DataStrip *strips, int32_t stripCount);
