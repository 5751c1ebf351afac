#include "runtime/memory/memory.h"

HANDLE MainHeap;
HANDLE ObjectHeap;
HANDLE StringHeap;
HINSTANCE ModuleHandle;

void MainHeapInit() {
    MainHeap = HeapCreate(0, 4096, 0);
}

void ObjectHeapInit() {
    ObjectHeap = HeapCreate(0, 1024, 0);
}

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

uint8_t *KeptBlockOf(KeptBlock *block, size_t size, size_t extra) {
    if (block->capacity >= size && block->data) return block->data;
    KeptBlockTrim(block);
    block->data = static_cast<uint8_t *>(MemoryAlloc(size + extra));
    block->capacity = block->data ? size + extra : 0;
    return block->data;
}

void KeptBlockTrim(KeptBlock *block, size_t kept) {
    if (block->capacity <= kept && block->data) return;
    MemoryFree(block->data);
    *block = KeptBlock{};
}
