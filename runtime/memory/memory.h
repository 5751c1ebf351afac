// The runtime's private heaps and the process-wide values every library may read.
//
// Threads: the batch runs on one thread, the background saves (image_save.h) on threads of their
// own, and the reading of the next strips (ImageLoadAhead, image_load.h) on one more. MainHeap and
// ObjectHeap are serialised: MemoryAlloc and MemoryFree may be called on any thread, and the
// saving and reading threads take their blocks from MainHeap (the decoders also from the C
// runtime's heap). StringHeap is not: string values and the temporary string area belong to the
// batch's thread alone.
#pragma once

#include <windows.h>
#include <cstddef>
#include <cstdint>

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
