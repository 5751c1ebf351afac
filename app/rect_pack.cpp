// The rectangle packer and the search for the smallest bin.
#include "app/rect_pack.h"

#include "runtime/memory/memory.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

bool Grow(PackBin *bin, int32_t room) {
    if (room <= bin->freeRoom) return true;
    int32_t grown = bin->freeRoom ? bin->freeRoom : 64;
    while (grown < room)
        grown *= 2;
    auto *block = static_cast<PackFree *>(MemoryAlloc(sizeof(PackFree) * size_t(grown)));
    if (!block) {
        bin->failed = true;
        return false;
    }
    if (bin->freeCount) memcpy(block, bin->free, sizeof(PackFree) * size_t(bin->freeCount));
    MemoryFree(bin->free);
    bin->free = block;
    bin->freeRoom = grown;
    return true;
}

bool Contains(const PackFree &outer, const PackFree &inner) {
    return inner.x >= outer.x && inner.y >= outer.y && inner.x + inner.w <= outer.x + outer.w &&
           inner.y + inner.h <= outer.y + outer.h;
}

// The free rectangles left of `f` around the placed rectangle `r` (which overlaps it): the whole
// width above and below it, the whole height left and right of it. Each is a largest one.
int32_t Split(const PackFree &f, const PackFree &r, PackFree *parts) {
    int32_t n = 0;
    if (r.y > f.y) parts[n++] = {f.x, f.y, f.w, r.y - f.y};
    if (r.y + r.h < f.y + f.h) parts[n++] = {f.x, r.y + r.h, f.w, f.y + f.h - (r.y + r.h)};
    if (r.x > f.x) parts[n++] = {f.x, f.y, r.x - f.x, f.h};
    if (r.x + r.w < f.x + f.w) parts[n++] = {r.x + r.w, f.y, f.x + f.w - (r.x + r.w), f.h};
    return n;
}

// The order items are packed in: tallest first, then widest, then as given.
void SortTallestFirst(const PackItem *items, int32_t *order, int32_t count) {
    for (int32_t i = 0; i < count; i++)
        order[i] = i;
    std::sort(order, order + count, [items](int32_t a, int32_t b) {
        if (items[a].h != items[b].h) return items[a].h > items[b].h;
        if (items[a].w != items[b].w) return items[a].w > items[b].w;
        return a < b;
    });
}

// Packs the items in that order into a bin `width` x `height`, giving up once the page would
// be larger than `bound` (its area with the border, rounded as `pot` says). The page's area, or
// -1 when they do not fit (or no memory).
int64_t PackInto(PackItem *items, const int32_t *order, int32_t count, int32_t width,
                 int32_t height, int32_t border, bool pot, int64_t bound, int32_t *usedWidth,
                 int32_t *usedHeight) {
    PackBin bin;
    PackBinStart(&bin, width, height);
    int64_t area = -1;
    bool fits = !bin.failed;
    for (int32_t k = 0; fits && k < count; k++) {
        PackItem &item = items[order[k]];
        fits = PackBinPlace(&bin, item.w, item.h, &item.x, &item.y);
        int64_t side = pot ? PowerOfTwoAbove(bin.usedHeight + border) : bin.usedHeight + border;
        int64_t across = pot ? int64_t(width) + border : int64_t(bin.usedWidth) + border;
        if (fits && across * side > bound) fits = false;
    }
    if (fits) {
        int64_t w = bin.usedWidth + border, h = bin.usedHeight + border;
        if (pot) {
            w = int64_t(width) + border;
            h = PowerOfTwoAbove(int32_t(h));
        }
        area = w * h;
        *usedWidth = pot ? width : bin.usedWidth;
        *usedHeight = pot ? int32_t(h - border) : bin.usedHeight;
    }
    PackBinEnd(&bin);
    return area;
}

} // namespace

int32_t PowerOfTwoAbove(int32_t n) {
    int32_t p = 1;
    while (p < n && p < (1 << 30))
        p *= 2;
    return p;
}

void PackBinStart(PackBin *bin, int32_t width, int32_t height) {
    *bin = PackBin{};
    bin->width = width;
    bin->height = height;
    if (width < 1 || height < 1 || !Grow(bin, 1)) return;
    bin->free[0] = {0, 0, width, height};
    bin->freeCount = 1;
}

void PackBinEnd(PackBin *bin) {
    MemoryFree(bin->free);
    *bin = PackBin{};
}

bool PackBinCopy(PackBin *to, const PackBin &from) {
    if (to->freeRoom < from.freeCount) {
        PackBinEnd(to);
        if (!Grow(to, from.freeCount)) return false;
    }
    PackFree *free = to->free;
    int32_t room = to->freeRoom;
    *to = from;
    to->free = free;
    to->freeRoom = room;
    if (from.freeCount) memcpy(to->free, from.free, sizeof(PackFree) * size_t(from.freeCount));
    return true;
}

bool PackBinPlace(PackBin *bin, int32_t w, int32_t h, int32_t *x, int32_t *y) {
    if (bin->failed || w < 1 || h < 1) return false;
    // Where the rectangle's bottom edge is highest, then where it is furthest left.
    int32_t best = -1;
    int64_t bestBottom = INT64_MAX, bestLeft = INT64_MAX;
    for (int32_t i = 0; i < bin->freeCount; i++) {
        const PackFree &f = bin->free[i];
        if (f.w < w || f.h < h) continue;
        int64_t bottom = int64_t(f.y) + h;
        if (bottom < bestBottom || (bottom == bestBottom && f.x < bestLeft)) {
            best = i;
            bestBottom = bottom;
            bestLeft = f.x;
        }
    }
    if (best < 0) return false;
    PackFree placed = {bin->free[best].x, bin->free[best].y, w, h};

    // Every free rectangle the new one overlaps gives way to its parts around it; a part that lies
    // within another free rectangle is no largest one. The old ones lie within none another, nor
    // within a part (each part lies within the old one it came from).
    int32_t kept = bin->freeCount;
    for (int32_t i = 0; i < kept;) {
        const PackFree f = bin->free[i];
        if (placed.x >= f.x + f.w || placed.x + placed.w <= f.x || placed.y >= f.y + f.h ||
            placed.y + placed.h <= f.y) {
            i++;
            continue;
        }
        PackFree parts[4];
        int32_t n = Split(f, placed, parts);
        // The overlapped one leaves the kept part of the list; its parts go behind it.
        kept -= 1;
        bin->free[i] = bin->free[kept];
        if (!Grow(bin, bin->freeCount + n)) return false;
        bin->free[kept] = bin->free[bin->freeCount - 1];
        bin->freeCount -= 1;
        for (int32_t k = 0; k < n; k++)
            bin->free[bin->freeCount++] = parts[k];
    }
    // The parts (from `kept` on) against the kept ones and against each other.
    int32_t end = kept;
    for (int32_t i = kept; i < bin->freeCount; i++) {
        const PackFree &part = bin->free[i];
        bool within = false;
        for (int32_t j = 0; j < end && !within; j++)
            within = Contains(bin->free[j], part);
        for (int32_t j = i + 1; j < bin->freeCount && !within; j++)
            within = Contains(bin->free[j], part);
        if (!within) bin->free[end++] = part;
    }
    bin->freeCount = end;
    *x = placed.x;
    *y = placed.y;
    bin->usedWidth = std::max(bin->usedWidth, placed.x + w);
    bin->usedHeight = std::max(bin->usedHeight, placed.y + h);
    return true;
}

bool PackBinPlaceOnSkyline(PackBin *bin, int32_t w, int32_t h, int32_t *x, int32_t *y) {
    if (bin->failed || w < 1 || h < 1) return false;
    PackFree *line = bin->free;
    int32_t best = -1, bestY = 0;
    int64_t bestTop = INT64_MAX;
    for (int32_t i = 0; i < bin->freeCount && line[i].x + int64_t(w) <= bin->width; i++) {
        // The rectangle's left edge at this segment's: it rests on the highest segment below it.
        int32_t top = 0;
        int64_t covered = 0;
        for (int32_t j = i; covered < w; j++) {
            top = std::max(top, line[j].y);
            covered += line[j].w;
        }
        if (int64_t(top) + h > bin->height) continue;
        if (int64_t(top) + h < bestTop) {
            best = i;
            bestY = top;
            bestTop = int64_t(top) + h;
        }
    }
    if (best < 0) return false;
    int32_t left = line[best].x, right = left + w;
    // The segments under the rectangle give way to its top; one reaching past it keeps the rest.
    int32_t end = best;
    while (end < bin->freeCount && line[end].x + line[end].w <= right)
        end++;
    PackFree top = {left, bestY + h, w, 0};
    int32_t removed = end - best;
    if (end < bin->freeCount && line[end].x < right) {
        line[end].w -= right - line[end].x;
        line[end].x = right;
    }
    if (removed == 0) {
        if (!Grow(bin, bin->freeCount + 1)) return false;
        line = bin->free;
        memmove(line + best + 1, line + best, sizeof(PackFree) * size_t(bin->freeCount - best));
        bin->freeCount += 1;
    } else if (removed > 1) {
        memmove(line + best + 1, line + end, sizeof(PackFree) * size_t(bin->freeCount - end));
        bin->freeCount -= removed - 1;
    }
    line[best] = top;
    // Neighbours at the same height are one segment.
    if (best + 1 < bin->freeCount && line[best + 1].y == top.y) {
        line[best].w += line[best + 1].w;
        memmove(line + best + 1, line + best + 2,
                sizeof(PackFree) * size_t(bin->freeCount - best - 2));
        bin->freeCount -= 1;
    }
    if (best > 0 && line[best - 1].y == top.y) {
        line[best - 1].w += line[best].w;
        memmove(line + best, line + best + 1, sizeof(PackFree) * size_t(bin->freeCount - best - 1));
        bin->freeCount -= 1;
    }
    *x = left;
    *y = bestY;
    bin->usedWidth = std::max(bin->usedWidth, right);
    bin->usedHeight = std::max(bin->usedHeight, bestY + h);
    return true;
}

bool PackSmallest(PackItem *items, int32_t count, int32_t maxWidth, int32_t maxHeight,
                  int32_t border, bool pot, int32_t *width, int32_t *height) {
    if (count < 1) return false;
    auto *order = static_cast<int32_t *>(MemoryAlloc(sizeof(int32_t) * size_t(count)));
    if (!order) return false;
    SortTallestFirst(items, order, count);
    int64_t area = 0;
    int32_t widest = 0;
    for (int32_t i = 0; i < count; i++) {
        area += int64_t(items[i].w) * items[i].h;
        widest = std::max(widest, items[i].w);
    }
    // The widths to try: powers of two with their border, or from the widest item (or the width
    // at which the tallest page would do) to twice the side of a square of the items' area.
    int32_t candidates[64];
    int32_t n = 0;
    if (pot) {
        for (int64_t side = 1; side - border <= maxWidth && n < 64; side *= 2)
            if (side - border >= widest) candidates[n++] = int32_t(side - border);
    } else {
        int64_t least = std::max<int64_t>(widest, (area + maxHeight - 1) / maxHeight);
        int64_t most = std::min<int64_t>(
            maxWidth, std::max<int64_t>(least, 2 * std::sqrt(double(area)) + widest));
        int32_t steps = 24;
        for (int32_t k = 0; k <= steps && least <= most; k++) {
            int32_t w = int32_t(least + (most - least) * k / steps);
            if (n == 0 || candidates[n - 1] != w) candidates[n++] = w;
        }
    }
    int64_t best = INT64_MAX;
    int32_t bestWidth = -1;
    auto tryWidth = [&](int32_t w) {
        int32_t usedWidth = 0, usedHeight = 0;
        int64_t got =
            PackInto(items, order, count, w, maxHeight, border, pot, best, &usedWidth, &usedHeight);
        // Equal areas: the squarer page.
        if (got >= 0 && (got < best || (got == best && w < bestWidth))) {
            best = got;
            bestWidth = w;
        }
    };
    for (int32_t k = 0; k < n; k++)
        tryWidth(candidates[k]);
    // Between the best width and its neighbours, finer.
    if (!pot && bestWidth > 0 && n > 1) {
        int32_t step = std::max(1, (candidates[n - 1] - candidates[0]) / 24);
        for (int32_t w = std::max(widest, bestWidth - step + step / 8); w < bestWidth + step;
             w += std::max(1, step / 8))
            if (w != bestWidth && w <= maxWidth) tryWidth(w);
    }
    bool fits = false;
    if (bestWidth > 0) {
        int32_t usedWidth = 0, usedHeight = 0;
        fits = PackInto(items, order, count, bestWidth, maxHeight, border, pot, INT64_MAX,
                        &usedWidth, &usedHeight) >= 0;
        *width = usedWidth;
        *height = usedHeight;
    }
    MemoryFree(order);
    return fits;
}
