// The frame store: a growing list of rectangles, their pixels in large blocks, and a hash table
// over the pixels to find equal frames.
#include "app/frame_store.h"

#include "runtime/memory/memory.h"

#include <algorithm>
#include <cstring>

namespace {

// Pixels go into blocks of this size (a frame larger than one gets a block of its own).
constexpr size_t ChunkBytes = size_t(8) << 20;

struct Record {
    uint8_t *pixels;
    uint64_t hash;
    int32_t next;  // the next record in its bucket, or -1
    int32_t chunk; // where its pixels begin: the block, and the bytes before them in it
    size_t offset;
};

struct Chunk {
    uint8_t *block;
    size_t size;
};

int32_t BytesPerPixel;
PackRect *Rects;
Record *Records;
int32_t Count, Room;
Chunk *Chunks;
int32_t ChunkCount, ChunkRoom;
size_t ChunkUsed; // in the last block
int32_t *Buckets; // the first record of each, or -1
int32_t BucketCount;

// Room for `size` bytes of pixels; null when memory runs out.
uint8_t *Take(size_t size, int32_t *chunk, size_t *offset) {
    if (ChunkCount == 0 || ChunkUsed + size > Chunks[ChunkCount - 1].size) {
        int32_t room = ChunkRoom;
        if (!MemoryReserve(&Chunks, ChunkCount, &room, ChunkCount + 1)) return nullptr;
        ChunkRoom = room;
        size_t blockSize = std::max(size, ChunkBytes);
        auto *block = static_cast<uint8_t *>(MemoryAlloc(blockSize));
        if (!block) return nullptr;
        Chunks[ChunkCount++] = {block, blockSize};
        ChunkUsed = 0;
    }
    *chunk = ChunkCount - 1;
    *offset = ChunkUsed;
    ChunkUsed += size;
    return Chunks[*chunk].block + *offset;
}

uint64_t Mix(uint64_t h, uint64_t v) {
    h ^= v;
    h *= 0x9E3779B97F4A7C15ull;
    return h ^ (h >> 29);
}

uint64_t HashOf(const PackRect &rect, const uint8_t *pixels, size_t size) {
    uint64_t h = Mix(Mix(0x5151, uint64_t(rect.w) << 32 | uint32_t(rect.h)),
                     uint64_t(rect.trimX) << 32 | uint32_t(rect.trimY));
    size_t i = 0;
    for (uint64_t word; i + 8 <= size; i += 8) {
        memcpy(&word, pixels + i, 8);
        h = Mix(h, word);
    }
    uint64_t tail = 0;
    memcpy(&tail, pixels + i, size - i);
    return Mix(h, tail);
}

size_t SizeOf(const PackRect &rect) {
    return size_t(rect.w) * size_t(rect.h) * size_t(BytesPerPixel);
}

// Twice as many buckets as records, rebuilt as the records grow.
bool Rehash() {
    if (Count < BucketCount / 2) return true;
    int32_t buckets = BucketCount ? BucketCount * 2 : 1024;
    auto *table = static_cast<int32_t *>(MemoryAlloc(sizeof(int32_t) * size_t(buckets)));
    if (!table) return false;
    memset(table, 0xFF, sizeof(int32_t) * size_t(buckets));
    for (int32_t id = 0; id < Count; id++) {
        int32_t &head = table[Records[id].hash & uint64_t(buckets - 1)];
        Records[id].next = head;
        head = id;
    }
    MemoryFree(Buckets);
    Buckets = table;
    BucketCount = buckets;
    return true;
}

// The box of the frame's pixels whose alpha is not 0.
PackRect VisibleBox(const PixelRows &strip, int32_t fromX, int32_t fromY, int32_t width,
                    int32_t height) {
    int32_t left = width, right = -1, top = height, bottom = -1;
    for (int32_t y = 0; y < height; y++) {
        const uint8_t *row = strip.bits + strip.stride * (fromY + y) + int64_t(fromX) * 4;
        int32_t first = 0;
        while (first < width && row[first * 4 + 3] == 0)
            first++;
        if (first == width) continue;
        int32_t last = width - 1;
        while (row[last * 4 + 3] == 0)
            last--;
        left = std::min(left, first);
        right = std::max(right, last);
        top = std::min(top, y);
        bottom = y;
    }
    if (right < 0) return {1, 1, 0, 0};
    return {right - left + 1, bottom - top + 1, left, top};
}

} // namespace

void FrameStoreStart(int32_t bytesPerPixel) {
    FrameStoreEnd();
    BytesPerPixel = bytesPerPixel;
}

void FrameStoreEnd() {
    for (int32_t i = 0; i < ChunkCount; i++)
        MemoryFree(Chunks[i].block);
    MemoryFree(Chunks);
    MemoryFree(Rects);
    MemoryFree(Records);
    MemoryFree(Buckets);
    Rects = nullptr;
    Records = nullptr;
    Chunks = nullptr;
    Buckets = nullptr;
    Count = Room = ChunkCount = ChunkRoom = BucketCount = 0;
    ChunkUsed = 0;
}

int32_t FrameStoreAdd(const PixelRows &strip, int32_t fromX, int32_t fromY, int32_t width,
                      int32_t height, bool trim, bool dedupe) {
    PackRect rect = {width, height, 0, 0};
    if (trim && strip.alpha) rect = VisibleBox(strip, fromX, fromY, width, height);
    int32_t rectRoom = Room, recordRoom = Room;
    if (!MemoryReserve(&Rects, Count, &rectRoom, Count + 1) ||
        !MemoryReserve(&Records, Count, &recordRoom, Count + 1))
        return -1;
    Room = std::min(rectRoom, recordRoom);
    Record record{};
    size_t size = SizeOf(rect);
    record.pixels = Take(size, &record.chunk, &record.offset);
    if (!record.pixels) return -1;
    size_t rowBytes = size_t(rect.w) * size_t(BytesPerPixel);
    for (int32_t y = 0; y < rect.h; y++)
        PixelRowCopy(record.pixels + rowBytes * size_t(y), BytesPerPixel,
                     strip.bits + strip.stride * (fromY + rect.trimY + y) +
                         int64_t(fromX + rect.trimX) * strip.bytesPerPixel,
                     strip.bytesPerPixel, strip.alpha, rect.w, 1);
    if (dedupe) {
        record.hash = HashOf(rect, record.pixels, size);
        if (!Rehash()) return -1;
        int32_t &head = Buckets[record.hash & uint64_t(BucketCount - 1)];
        for (int32_t id = head; id >= 0; id = Records[id].next) {
            const PackRect &other = Rects[id];
            if (Records[id].hash == record.hash && other.w == rect.w && other.h == rect.h &&
                other.trimX == rect.trimX && other.trimY == rect.trimY &&
                memcmp(Records[id].pixels, record.pixels, size) == 0) {
                ChunkUsed -= size; // the pixels just copied are not kept
                return id;
            }
        }
        record.next = head;
        head = Count;
    }
    Rects[Count] = rect;
    Records[Count] = record;
    return Count++;
}

int32_t FrameStoreCount() {
    return Count;
}

const PackRect *FrameStoreRects() {
    return Rects;
}

PixelRows FrameStorePixels(int32_t id) {
    PixelRows rows;
    rows.bits = Records[id].pixels;
    rows.stride = int64_t(Rects[id].w) * BytesPerPixel;
    rows.bytesPerPixel = BytesPerPixel;
    rows.alpha = BytesPerPixel == 4;
    return rows;
}

void FrameStoreDropFrom(int32_t id) {
    if (id >= Count) return;
    // Each record is unlinked from its bucket, the newest first.
    for (int32_t last = Count - 1; BucketCount && last >= id; last--) {
        int32_t *link = &Buckets[Records[last].hash & uint64_t(BucketCount - 1)];
        while (*link >= 0 && *link != last)
            link = &Records[*link].next;
        if (*link == last) *link = Records[last].next;
    }
    int32_t chunk = Records[id].chunk;
    for (int32_t i = chunk + 1; i < ChunkCount; i++)
        MemoryFree(Chunks[i].block);
    ChunkCount = chunk + 1;
    ChunkUsed = Records[id].offset;
    Count = id;
}
