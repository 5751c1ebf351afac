// The grid and the packed layouts.
#include "app/sheet_layout.h"

#include "app/rect_pack.h"
#include "runtime/image/image_codec.h"
#include "runtime/memory/memory.h"

#include <algorithm>
#include <cstring>

namespace {

// The largest power of two at or below n.
int32_t PowerOfTwoBelow(int32_t n) {
    int32_t p = 1;
    while (p <= n / 2)
        p *= 2;
    return p;
}

// What packing needs to know of the options: a rectangle's room with its extrusion and the
// spacing after it, and the bin's side within a page of the largest size.
struct Packing {
    int32_t scale, extrude, spacing, margin, border, inner;
    bool pot;
};

Packing PackingOf(const SheetOptions &options) {
    Packing p;
    p.scale = options.scale;
    p.extrude = options.extrude;
    p.spacing = options.spacing;
    p.margin = options.margin;
    // Packing leaves the spacing after the last rectangle across and down: the page's margins
    // less that spacing surround what was packed.
    p.border = 2 * options.margin - options.spacing;
    p.inner = PackedPageLimit(options) - p.border;
    p.pot = options.pot;
    return p;
}

PackItem ItemOf(const Packing &p, const PackRect &rect) {
    PackItem item{};
    item.w = int32_t(
        std::min<int64_t>(int64_t(rect.w) * p.scale + 2 * p.extrude + p.spacing, INT32_MAX / 2));
    item.h = int32_t(
        std::min<int64_t>(int64_t(rect.h) * p.scale + 2 * p.extrude + p.spacing, INT32_MAX / 2));
    return item;
}

void SortTallestFirst(const PackItem *items, int32_t *ids, int32_t count) {
    std::sort(ids, ids + count, [items](int32_t a, int32_t b) {
        if (items[a].h != items[b].h) return items[a].h > items[b].h;
        if (items[a].w != items[b].w) return items[a].w > items[b].w;
        return a < b;
    });
}

// Places the rectangles `ids` (tallest first) on the bin's skyline; false, with the bin as it was,
// when one does not fit. `scratch` is a bin to keep the earlier state in.
bool PlaceAll(PackBin *bin, PackBin *scratch, PackItem *items, int32_t *ids, int32_t count) {
    SortTallestFirst(items, ids, count);
    if (!PackBinCopy(scratch, *bin)) return false;
    for (int32_t k = 0; k < count; k++) {
        PackItem &item = items[ids[k]];
        if (!PackBinPlaceOnSkyline(bin, item.w, item.h, &item.x, &item.y)) {
            PackBinCopy(bin, *scratch);
            return false;
        }
    }
    return true;
}

// Frames on page `page` of the strips from `firstStrip` to `endStrip`, from the rectangles' places.
void PlaceFrames(const Packing &p, const PackRect *rects, const PackItem *items,
                 const int32_t *frames, const PackStrip *strips, int32_t firstStrip,
                 int32_t endStrip, int32_t page, FramePlace *places, int32_t *stripPages) {
    for (int32_t s = firstStrip; s < endStrip; s++) {
        stripPages[s] = page;
        for (int32_t i = strips[s].first; i < strips[s].first + strips[s].count; i++) {
            const PackRect &rect = rects[frames[i]];
            const PackItem &item = items[frames[i]];
            places[i] = {page,
                         p.margin + item.x + p.extrude,
                         p.margin + item.y + p.extrude,
                         rect.w * p.scale,
                         rect.h * p.scale,
                         rect.trimX * p.scale,
                         rect.trimY * p.scale};
        }
    }
}

// Packs the page's rectangles into the smallest page, or else keeps the places they were given;
// the page's size either way.
PageSize FinishPage(const Packing &p, PackItem *items, const int32_t *ids, int32_t count,
                    bool search, const PackBin &assigned) {
    PageSize size = {assigned.usedWidth + p.border, assigned.usedHeight + p.border};
    auto *page =
        search ? static_cast<PackItem *>(MemoryAlloc(sizeof(PackItem) * size_t(count))) : nullptr;
    if (page) {
        for (int32_t k = 0; k < count; k++)
            page[k] = items[ids[k]];
        int32_t width = 0, height = 0;
        if (PackSmallest(page, count, p.inner, p.inner, p.border, p.pot, &width, &height)) {
            for (int32_t k = 0; k < count; k++)
                items[ids[k]] = page[k];
            size = {width + p.border, height + p.border};
            MemoryFree(page);
            return size;
        }
    }
    MemoryFree(page);
    if (p.pot) size = {PowerOfTwoAbove(size.width), PowerOfTwoAbove(size.height)};
    return size;
}

} // namespace

LayoutFit StripFrameSize(int32_t stripWidth, int32_t stripHeight, bool horizontal, int32_t count,
                         int32_t *frameWidth, int32_t *frameHeight) {
    if (count < 1) return LayoutFit::NoFrames;
    *frameWidth = horizontal ? stripWidth / count : stripWidth;
    *frameHeight = horizontal ? stripHeight : stripHeight / count;
    return *frameWidth < 1 || *frameHeight < 1 ? LayoutFit::NoFrames : LayoutFit::Fits;
}

LayoutFit GridLayoutMake(const SheetOptions &options, int32_t frameWidth, int32_t frameHeight,
                         int32_t count, GridLayout *grid) {
    int64_t perRow = options.columns;
    int64_t columns = count < perRow ? count : perRow;
    int64_t rows = (int64_t(count) + perRow - 1) / perRow;
    int64_t cellWidth = int64_t(frameWidth) * options.scale + 2 * int64_t(options.extrude);
    int64_t cellHeight = int64_t(frameHeight) * options.scale + 2 * int64_t(options.extrude);
    int64_t width =
        2 * int64_t(options.margin) + columns * cellWidth + (columns - 1) * options.spacing;
    int64_t height = 2 * int64_t(options.margin) + rows * cellHeight + (rows - 1) * options.spacing;
    int64_t limit = options.maxSize ? options.maxSize : ImageMaxSize;
    if (options.pot && width <= limit && height <= limit) {
        width = PowerOfTwoAbove(int32_t(width));
        height = PowerOfTwoAbove(int32_t(height));
    }
    // The sheet is a section of 24 bits a pixel (32 with alpha); either is held to its size at 32.
    if (width > limit || height > limit || !ImageBytesFit(int32_t(width), int32_t(height), 32))
        return LayoutFit::TooLarge;
    grid->frameWidth = int32_t(frameWidth * options.scale);
    grid->frameHeight = int32_t(frameHeight * options.scale);
    grid->cellWidth = int32_t(cellWidth);
    grid->cellHeight = int32_t(cellHeight);
    grid->columns = int32_t(columns);
    grid->rows = int32_t(rows);
    grid->page = {int32_t(width), int32_t(height)};
    return LayoutFit::Fits;
}

FramePlace GridPlace(const SheetOptions &options, const GridLayout &grid, int32_t i) {
    FramePlace place{};
    place.x = options.margin + (i % options.columns) * (grid.cellWidth + options.spacing) +
              options.extrude;
    place.y = options.margin + (i / options.columns) * (grid.cellHeight + options.spacing) +
              options.extrude;
    place.w = grid.frameWidth;
    place.h = grid.frameHeight;
    return place;
}

int32_t PackedPageLimit(const SheetOptions &options) {
    int32_t limit = options.maxSize ? options.maxSize : PackedPageSize;
    return options.pot ? PowerOfTwoBelow(limit) : limit;
}

bool PackFitsOnePage(const SheetOptions &options, const PackRect *rects, const int32_t *ids,
                     int32_t count) {
    Packing p = PackingOf(options);
    auto *items = static_cast<PackItem *>(MemoryAlloc(sizeof(PackItem) * size_t(count) + 1));
    auto *order = static_cast<int32_t *>(MemoryAlloc(sizeof(int32_t) * size_t(count) + 1));
    // Each rectangle once, however many frames show it.
    int32_t unique = 0;
    if (items && order) {
        memcpy(order, ids, sizeof(int32_t) * size_t(count));
        std::sort(order, order + count);
        unique = int32_t(std::unique(order, order + count) - order);
        for (int32_t k = 0; k < unique; k++) {
            items[k] = ItemOf(p, rects[order[k]]);
            order[k] = k;
        }
    }
    PackBin bin, scratch;
    PackBinStart(&bin, p.inner, p.inner);
    bool fits = items && order && PlaceAll(&bin, &scratch, items, order, unique);
    PackBinEnd(&bin);
    PackBinEnd(&scratch);
    MemoryFree(items);
    MemoryFree(order);
    return fits;
}

int32_t PackLayoutMake(const SheetOptions &options, const PackRect *rects, int32_t rectCount,
                       const int32_t *frames, const PackStrip *strips, int32_t stripCount,
                       FramePlace *places, int32_t *stripPages, PageSize **pages) {
    Packing p = PackingOf(options);
    int32_t frameCount =
        stripCount ? strips[stripCount - 1].first + strips[stripCount - 1].count : 0;
    auto *items = static_cast<PackItem *>(MemoryAlloc(sizeof(PackItem) * size_t(rectCount) + 1));
    auto *onPage = static_cast<int32_t *>(MemoryAlloc(sizeof(int32_t) * size_t(rectCount) + 1));
    // The rectangles of each page, one page after another.
    auto *ids = static_cast<int32_t *>(MemoryAlloc(sizeof(int32_t) * size_t(frameCount) + 1));
    int32_t pageRoom = 4, pageCount = 0;
    *pages = static_cast<PageSize *>(MemoryAlloc(sizeof(PageSize) * size_t(pageRoom)));
    PackBin bin, scratch;
    PackBinStart(&bin, p.inner, p.inner);
    bool ok = items && onPage && ids && *pages && !bin.failed;
    for (int32_t r = 0; ok && r < rectCount; r++) {
        items[r] = ItemOf(p, rects[r]);
        onPage[r] = -1;
    }

    // Strip by strip, onto the page being filled, or the next when it has no room left.
    int32_t pageStart = 0, used = 0, firstStrip = 0;
    auto closePage = [&](int32_t endStrip, bool last) {
        if (pageCount == pageRoom) {
            auto *grown =
                static_cast<PageSize *>(MemoryAlloc(sizeof(PageSize) * size_t(pageRoom * 2)));
            if (!grown) return false;
            memcpy(grown, *pages, sizeof(PageSize) * size_t(pageCount));
            MemoryFree(*pages);
            *pages = grown;
            pageRoom *= 2;
        }
        // Full pages keep the places they were given; the last is made as small as it can be.
        (*pages)[pageCount] = FinishPage(p, items, ids + pageStart, used - pageStart, last, bin);
        PlaceFrames(p, rects, items, frames, strips, firstStrip, endStrip, pageCount, places,
                    stripPages);
        pageCount += 1;
        pageStart = used;
        firstStrip = endStrip;
        PackBinEnd(&bin);
        PackBinStart(&bin, p.inner, p.inner);
        return !bin.failed;
    };
    // The strip's rectangles not yet on the page being filled go behind the page's others.
    auto collect = [&](int32_t s) {
        for (int32_t i = strips[s].first; i < strips[s].first + strips[s].count; i++) {
            if (onPage[frames[i]] == pageCount) continue;
            onPage[frames[i]] = pageCount;
            ids[used++] = frames[i];
        }
    };
    // When everything fits one page, all rectangles are packed together: no page is filled first.
    int64_t area = 0;
    for (int32_t r = 0; ok && r < rectCount; r++)
        area += int64_t(items[r].w) * items[r].h;
    if (ok && area <= int64_t(p.inner) * p.inner) {
        auto *all = static_cast<PackItem *>(MemoryAlloc(sizeof(PackItem) * size_t(rectCount) + 1));
        int32_t width = 0, height = 0;
        if (all) memcpy(all, items, sizeof(PackItem) * size_t(rectCount));
        bool one =
            all && PackSmallest(all, rectCount, p.inner, p.inner, p.border, p.pot, &width, &height);
        if (one) {
            (*pages)[0] = {width + p.border, height + p.border};
            PlaceFrames(p, rects, all, frames, strips, 0, stripCount, 0, places, stripPages);
            pageCount = 1;
            stripCount = 0; // nothing left to place
        }
        MemoryFree(all);
    }
    for (int32_t s = 0; ok && s < stripCount; s++) {
        int32_t begin = used;
        collect(s);
        if (PlaceAll(&bin, &scratch, items, ids + begin, used - begin)) continue;
        ok = !bin.failed && !scratch.failed;
        // This strip starts the next page, with every rectangle it shows.
        used = begin;
        ok = ok && closePage(s, false);
        collect(s);
        ok = ok && PlaceAll(&bin, &scratch, items, ids + begin, used - begin);
    }
    if (ok && stripCount) ok = closePage(stripCount, true);
    PackBinEnd(&bin);
    PackBinEnd(&scratch);
    MemoryFree(items);
    MemoryFree(onPage);
    MemoryFree(ids);
    if (ok) return pageCount;
    MemoryFree(*pages);
    *pages = nullptr;
    return 0;
}
