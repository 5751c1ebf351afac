// String values and the temporary string area.
#include "runtime/strings/strings.h"

#include "runtime/memory/memory.h"

#include <cstring>

TempStringArea TempString;
bool StringMultibyteCodePage;

namespace {

constexpr int32_t AreaStartCapacity = 16;
constexpr int32_t AreaGrowStep = 16384;
constexpr int32_t BlockSpare = 5; // one NUL plus room for a last 4-byte word

// The string heap is never serialised: string values and the temporary area belong to the batch's
// thread alone. The background saving threads use neither, and the two text routines they call
// keep off this heap: PathLastPart takes no memory, and TextToWide's block comes from MainHeap,
// which is serialised. The thread that reads strips ahead calls no text routine.
constexpr DWORD StringHeapFlags = HEAP_NO_SERIALIZE;

// A string block or the area cannot be had: nothing sensible can continue without the text, so
// end the process instead of writing through a null pointer.
[[noreturn]] void StringMemoryExhausted() {
    ExitProcess(1);
}

char *ResizeBlock(char *block, size_t size) {
    void *resized = block ? HeapReAlloc(StringHeap, StringHeapFlags, block, size)
                          : HeapAlloc(StringHeap, StringHeapFlags, size);
    if (!resized) StringMemoryExhausted();
    return static_cast<char *>(resized);
}

// Gives the variable a block of n + 5 bytes holding the n bytes at source and a NUL.
// The source may lie inside the variable's own block: then a fresh block is taken first.
void StoreText(StringValue *variable, const char *source, int32_t n) {
    char *old = *variable;
    bool inOwnBlock =
        old && source >= old && source < old + HeapSize(StringHeap, StringHeapFlags, old);
    if (inOwnBlock) {
        char *fresh = ResizeBlock(nullptr, size_t(n) + BlockSpare);
        TextCopyWords(fresh, source, n);
        HeapFree(StringHeap, StringHeapFlags, old);
        *variable = fresh;
        return;
    }
    *variable = ResizeBlock(old, size_t(n) + BlockSpare);
    TextCopyWords(*variable, source, n);
}

} // namespace

void TempStringInit() {
    StringHeap = HeapCreate(HEAP_NO_SERIALIZE, 4096, 0);
    TempString.end = 0;
    TempString.capacity = AreaStartCapacity;
    TempString.base = ResizeBlock(nullptr, AreaStartCapacity);
    CPINFO codePage;
    StringMultibyteCodePage = GetCPInfo(CP_ACP, &codePage) && codePage.MaxCharSize > 1;
}

void StringCopyNew(StringValue *variable, const char *text) {
    if (!text) return;
    int32_t n = StringLength(text);
    *variable = ResizeBlock(nullptr, size_t(n) + BlockSpare);
    TextCopyWords(*variable, text, n);
}

void StringAssign(StringValue *variable, const char *text) {
    if (!text) {
        StringFree(*variable);
        *variable = nullptr;
        return;
    }
    StoreText(variable, text, StringLength(text));
}

void StringAssignTemp(StringValue *variable, int32_t position) {
    int32_t n = TempString.end - position;
    if (n < 0) n = 0;
    StoreText(variable, TempString.base + position, n);
    TempString.end = position;
}

void StringFree(const char *text) {
    if (text) HeapFree(StringHeap, StringHeapFlags, const_cast<char *>(text));
}

int32_t StringEqual(const char *a, const char *b) {
    return std::strcmp(a ? a : "", b ? b : "") == 0 ? 1 : 0;
}

void StringConcat(const char *text) {
    if (!text) {
        TempString.base[TempString.end] = 0;
        return;
    }
    int32_t n = StringLength(text);
    // The text may be an earlier piece of the area, which can move when it grows.
    uintptr_t offset = TempOffsetOf(text);
    char *destination = TempReserve(n, TempString.end);
    if (offset) text = TempAddressOf(offset);
    TextCopyWords(destination, text, n);
}

char *TempReserve(int32_t n, int32_t position) {
    // Computed wide so that an absurd n cannot wrap past the capacity test; such a need cannot be
    // met and ends the process like any other exhausted string memory.
    int64_t need = int64_t(TempString.end) + n;
    if (need >= int64_t(TempString.capacity) - 4) {
        if (need > INT32_MAX - AreaGrowStep - BlockSpare) StringMemoryExhausted();
        TempString.capacity = int32_t(need) + AreaGrowStep;
        TempString.base = ResizeBlock(TempString.base, size_t(TempString.capacity) + BlockSpare);
    }
    TempString.end = position + n;
    return TempString.base + position;
}

void TempGiveBack(int32_t n) {
    TempString.end -= n;
}

uintptr_t TempOffsetOf(const char *address) {
    auto at = reinterpret_cast<uintptr_t>(address);
    auto base = reinterpret_cast<uintptr_t>(TempString.base);
    if (at >= base && at <= base + uintptr_t(TempString.end)) return at - base + 1;
    return 0;
}

char *TempAddressOf(uintptr_t offset) {
    return TempString.base + offset - 1;
}

char *TempAddress(int32_t position) {
    return TempString.base + position;
}

// A plain forward move rather than whole words: the source may be a caller's buffer that ends
// right after its NUL, and the destination may overlap the source's tail (results written in
// place over their argument).
void TextCopyWords(char *destination, const char *source, int32_t n) {
    if (n > 0) std::memmove(destination, source, size_t(n));
    destination[n > 0 ? n : 0] = 0;
}
