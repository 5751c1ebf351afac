// The packed layout's strips, their frames' rectangles, and the pages they are packed into.
#include "app/atlas.h"

#include "app/frame_store.h"
#include "runtime/memory/memory.h"

#include <cstring>

namespace {

struct AtlasStrip {
    char *path;
    char *prefix;
    int32_t frameWidth, frameHeight;
};

SheetOptions Options;
bool Alpha;
AtlasStrip *Strips;
PackStrip *Runs; // each strip's frames in Frames
int32_t StripCount, StripRoom;
int32_t *Frames; // the rectangle of each frame
int32_t FrameCount, FrameRoom;
// The layout, once made.
FramePlace *Places;
int32_t *StripPages;
PageSize *Pages;
int32_t PageCount;
int32_t *DrawnOn; // the last page each rectangle was drawn on

void LayoutFree() {
    MemoryFree(Places);
    MemoryFree(StripPages);
    MemoryFree(Pages);
    MemoryFree(DrawnOn);
    Places = nullptr;
    StripPages = nullptr;
    Pages = nullptr;
    DrawnOn = nullptr;
    PageCount = 0;
}

} // namespace

void AtlasStart(const SheetOptions &options, bool alpha) {
    AtlasEnd();
    Options = options;
    Alpha = alpha;
    FrameStoreStart(alpha ? 4 : 3);
}

void AtlasEnd() {
    for (int32_t s = 0; s < StripCount; s++) {
        MemoryFree(Strips[s].path);
        MemoryFree(Strips[s].prefix);
    }
    MemoryFree(Strips);
    MemoryFree(Runs);
    MemoryFree(Frames);
    Strips = nullptr;
    Runs = nullptr;
    Frames = nullptr;
    StripCount = StripRoom = FrameCount = FrameRoom = 0;
    LayoutFree();
    FrameStoreEnd();
}

AtlasAdd AtlasAddStrip(const char *stripPath, const char *prefix, const PixelRows &strip,
                       bool horizontal, int32_t count, int32_t frameWidth, int32_t frameHeight) {
    int32_t frameRoom = FrameRoom, stripRoom = StripRoom, runRoom = StripRoom;
    if (!MemoryReserve(&Frames, FrameCount, &frameRoom, FrameCount + count))
        return AtlasAdd::NoMemory;
    FrameRoom = frameRoom;
    if (!MemoryReserve(&Strips, StripCount, &stripRoom, StripCount + 1) ||
        !MemoryReserve(&Runs, StripCount, &runRoom, StripCount + 1))
        return AtlasAdd::NoMemory;
    StripRoom = stripRoom < runRoom ? stripRoom : runRoom;
    int32_t stored = FrameStoreCount();
    int32_t *ids = Frames + FrameCount;
    AtlasAdd added = AtlasAdd::Added;
    for (int32_t i = 0; i < count && added == AtlasAdd::Added; i++) {
        ids[i] =
            FrameStoreAdd(strip, horizontal ? frameWidth * i : 0, horizontal ? 0 : frameHeight * i,
                          frameWidth, frameHeight, Options.trim, Options.dedupe);
        if (ids[i] < 0) added = AtlasAdd::NoMemory;
    }
    if (added == AtlasAdd::Added && !PackFitsOnePage(Options, FrameStoreRects(), ids, count))
        added = AtlasAdd::TooLarge;
    AtlasStrip record = {added == AtlasAdd::Added ? MemoryTextCopy(stripPath) : nullptr,
                         added == AtlasAdd::Added ? MemoryTextCopy(prefix) : nullptr, frameWidth,
                         frameHeight};
    if (added == AtlasAdd::Added && (!record.path || !record.prefix)) added = AtlasAdd::NoMemory;
    if (added != AtlasAdd::Added) {
        MemoryFree(record.path);
        MemoryFree(record.prefix);
        FrameStoreDropFrom(stored);
        return added;
    }
    Strips[StripCount] = record;
    Runs[StripCount] = {FrameCount, count};
    StripCount += 1;
    FrameCount += count;
    return added;
}

int32_t AtlasStripCount() {
    return StripCount;
}

const char *AtlasStripPath(int32_t strip) {
    return Strips[strip].path;
}

int32_t AtlasStripPage(int32_t strip) {
    return StripPages[strip];
}

int32_t AtlasLayout() {
    LayoutFree();
    int32_t rects = FrameStoreCount();
    Places = static_cast<FramePlace *>(MemoryAlloc(sizeof(FramePlace) * size_t(FrameCount) + 1));
    StripPages = static_cast<int32_t *>(MemoryAlloc(sizeof(int32_t) * size_t(StripCount) + 1));
    DrawnOn = static_cast<int32_t *>(MemoryAlloc(sizeof(int32_t) * size_t(rects) + 1));
    if (!Places || !StripPages || !DrawnOn) return 0;
    memset(DrawnOn, 0xFF, sizeof(int32_t) * size_t(rects));
    PageCount = PackLayoutMake(Options, FrameStoreRects(), rects, Frames, Runs, StripCount, Places,
                               StripPages, &Pages);
    return PageCount;
}

PageSize AtlasPageSize(int32_t page) {
    return Pages[page];
}

bool AtlasDrawPage(int32_t page, ObjectId id) {
    PixelRows rows;
    if (!PageBegin(id, Pages[page].width, Pages[page].height, Alpha ? 32 : 24, &rows)) return false;
    for (int32_t s = 0; s < StripCount; s++) {
        if (StripPages[s] != page) continue;
        for (int32_t i = Runs[s].first; i < Runs[s].first + Runs[s].count; i++) {
            int32_t rect = Frames[i];
            if (DrawnOn[rect] == page) continue; // a frame shown before on this page
            DrawnOn[rect] = page;
            const PackRect &stored = FrameStoreRects()[rect];
            PageDrawFrame(rows, FrameStorePixels(rect), 0, 0, stored.w, stored.h, Places[i].x,
                          Places[i].y, Options.scale, Options.extrude);
        }
    }
    return true;
}

void AtlasPixelsFree() {
    FrameStoreEnd();
}

void AtlasPutData(int32_t page, const char *imageName, const char *related, int32_t relatedCount,
                  Text *text) {
    int32_t count = 0;
    for (int32_t s = 0; s < StripCount; s++)
        count += StripPages[s] == page;
    auto *strips = static_cast<DataStrip *>(MemoryAlloc(sizeof(DataStrip) * size_t(count) + 1));
    if (!strips) {
        text->failed = true;
        return;
    }
    count = 0;
    for (int32_t s = 0; s < StripCount; s++) {
        if (StripPages[s] != page) continue;
        strips[count++] = {Strips[s].prefix, Runs[s].count, Strips[s].frameWidth * Options.scale,
                           Strips[s].frameHeight * Options.scale, Places + Runs[s].first};
    }
    DataPage about = {imageName, Pages[page], Alpha, nullptr, related, relatedCount};
    FrameDataPut(text, Options, about, strips, count);
    MemoryFree(strips);
}
