// The runtime's private heaps and the process-wide values every library may read.
#pragma once

#include <windows.h>
#include <cstddef>
#include <cstdint>

// Set once at start-up and never changed afterwards.
extern HANDLE MainHeap;        // tables, records and buffers
extern HANDLE ObjectHeap;      // object-list nodes
extern HANDLE StringHeap;      // string values and the temporary string area (created by TempStringInit)
extern HINSTANCE ModuleHandle; // the program's own module

using MemoryInitialiser = void (*)(void *block);

// MainHeap = HeapCreate(0, 4096, 0): the first runtime step of the process.
void MainHeapInit();
void ObjectHeapInit();

// A zero-filled block from MainHeap, handed to the initialiser (if any) before it is returned.
// Null when the heap cannot supply it.
void *MemoryAlloc(size_t size, MemoryInitialiser initialiser = nullptr);
void MemoryFree(void *block);
