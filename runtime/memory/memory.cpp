#include "runtime/memory/memory.h"

HANDLE MainHeap;
HANDLE ObjectHeap;
HANDLE StringHeap;
HINSTANCE ModuleHandle;

void MainHeapInit() { MainHeap = HeapCreate(0, 4096, 0); }

void ObjectHeapInit() { ObjectHeap = HeapCreate(0, 1024, 0); }

void *MemoryAlloc(size_t size, MemoryInitialiser initialiser) {
    void *block = HeapAlloc(MainHeap, HEAP_ZERO_MEMORY, size);
    if (block && initialiser) initialiser(block);
    return block;
}

void MemoryFree(void *block) {
    if (block) HeapFree(MainHeap, 0, block);
}

char *MemoryTextCopy(const char *text) {
    size_t size = strlen(text) + 1;
    auto *copy = static_cast<char *>(MemoryAlloc(size));
    if (copy) memcpy(copy, text, size);
    return copy;
}
