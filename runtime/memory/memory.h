// The runtime's private heaps and the process-wide values every library may read.
//
// Threads: the batch runs on one thread, the background saves (image_save.h) and the reading of the
// next strips (ImageLoadAhead, image_load.h) on the image library's workers (a large PNG sheet on a
// thread of its own), and on the batch's thread while it would wait for them. MainHeap and
// ObjectHeap are serialised: MemoryAlloc and MemoryFree may be called on any thread, and the saving
// and reading take their blocks from MainHeap (the decoders also from the C runtime's heap).
// StringHeap is not: string values and the temporary string area belong to the batch's thread
// alone.
#pragma once

#include <windows.h>
#include <cstddef>
#include <cstdint>
#include <cstring>

// Set once at start-up and never changed afterwards.
extern HANDLE MainHeap;   // tables, records and buffers; serialised
extern HANDLE ObjectHeap; // object-list nodes; serialised
// String values and the temporary string area (created by TempStringInit); not serialised.
extern HANDLE StringHeap;
extern HINSTANCE ModuleHandle; // the program's own module

using MemoryInitialiser = void (*)(void *block);

// MainHeap = HeapCreate(0, 4096, 0): the first runtime step of the process.
void MainHeapInit();
void ObjectHeapInit();

// A zero-filled block from MainHeap, handed to the initialiser (if any) before it is returned.
// Null when the heap cannot supply it.
void *MemoryAlloc(size_t size, MemoryInitialiser initialiser = nullptr);
void MemoryFree(void *block);

// A MainHeap copy of the text, NUL included; null when the heap cannot supply it.
char *MemoryTextCopy(const char *text);

// A MainHeap block kept from one file or sheet to the next (a file read whole, a sheet's copy, a
// file gathered before it is written): under Wine fresh memory costs a page fault for every 4 KB.
struct KeptBlock {
    uint8_t *data;
    size_t capacity;
};

// The block, when it holds at least `size` bytes; else a new one of `size` + `extra` bytes in its
// place. Null when the heap cannot supply it.
uint8_t *KeptBlockOf(KeptBlock *block, size_t size, size_t extra = 0);
// Frees the block when it holds more than `kept` bytes (all of it with 0).
void KeptBlockTrim(KeptBlock *block, size_t kept = 0);

// Room for at least `least` elements in the MainHeap array `*array`, of which `used` are kept:
// a larger block (doubling from 64) when `*room` is less. False, the array as it was, when the
// heap cannot supply it.
template <typename T> bool MemoryReserve(T **array, int32_t used, int32_t *room, int32_t least) {
    if (least <= *room) return true;
    int64_t grown = *room ? *room : 64;
    while (grown < least)
        grown *= 2;
    if (grown > INT32_MAX) return false;
    auto *block = static_cast<T *>(MemoryAlloc(sizeof(T) * size_t(grown)));
    if (!block) return false;
    if (used) memcpy(static_cast<void *>(block), *array, sizeof(T) * size_t(used));
    MemoryFree(*array);
    *array = block;
    *room = int32_t(grown);
    return true;
}
