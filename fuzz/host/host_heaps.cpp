// Heap blocks from the C allocator, each with its size in front (for HeapSize), so that the
// sanitizers see every block the runtime takes.
#include "windows.h"

#include <cstdlib>
#include <cstring>

namespace {
int heapTag;
constexpr size_t Front = 16;

size_t &SizeOf(void *block) {
    return *reinterpret_cast<size_t *>(static_cast<char *>(block) - Front);
}
} // namespace

HANDLE HeapCreate(DWORD, SIZE_T, SIZE_T) {
    return &heapTag;
}

LPVOID HeapAlloc(HANDLE, DWORD flags, SIZE_T size) {
    char *raw = static_cast<char *>(malloc(size + Front));
    if (!raw) return nullptr;
    if (flags & HEAP_ZERO_MEMORY) memset(raw + Front, 0, size);
    *reinterpret_cast<size_t *>(raw) = size;
    return raw + Front;
}

LPVOID HeapReAlloc(HANDLE heap, DWORD flags, LPVOID block, SIZE_T size) {
    void *moved = HeapAlloc(heap, flags, size);
    if (!moved) return nullptr;
    size_t old = SizeOf(block);
    memcpy(moved, block, old < size ? old : size);
    HeapFree(heap, flags, block);
    return moved;
}

SIZE_T HeapSize(HANDLE, DWORD, const void *block) {
    return SizeOf(const_cast<void *>(block));
}

BOOL HeapFree(HANDLE, DWORD, LPVOID block) {
    if (block) free(static_cast<char *>(block) - Front);
    return 1;
}

void ExitProcess(unsigned code) {
    exit(int(code));
}

BOOL GetCPInfo(unsigned, CPINFO *info) {
    *info = CPINFO{};
    info->MaxCharSize = 4;
    return 1;
}

BOOL IsDBCSLeadByte(unsigned char) {
    return 0;
}
