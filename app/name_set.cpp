// The names in a hash table of MainHeap copies.
#include "app/name_set.h"

#include "runtime/memory/memory.h"
#include "runtime/strings/strings.h"

#include <windows.h>

#include <cstring>

namespace {

char **Names; // a table of 2^k slots, each null or a copy
int32_t SlotCount, NameCount;

uint32_t Hash(const char *text) {
    uint32_t hash = 2166136261u;
    for (; *text; text++)
        hash = (hash ^ static_cast<unsigned char>(*text)) * 16777619u;
    return hash;
}

// The slot that holds the key, or the empty one where it would go.
char **SlotOf(char **table, int32_t slots, const char *key) {
    uint32_t i = Hash(key) & uint32_t(slots - 1);
    while (table[i] && strcmp(table[i], key) != 0)
        i = (i + 1) & uint32_t(slots - 1);
    return &table[i];
}

bool Grow() {
    if (2 * (NameCount + 1) <= SlotCount) return true;
    int32_t slots = SlotCount ? SlotCount * 2 : 256;
    auto **table = static_cast<char **>(MemoryAlloc(sizeof(char *) * size_t(slots)));
    if (!table) return false;
    for (int32_t i = 0; i < SlotCount; i++)
        if (Names[i]) *SlotOf(table, slots, Names[i]) = Names[i];
    MemoryFree(Names);
    Names = table;
    SlotCount = slots;
    return true;
}

// The name as it is kept: a MainHeap copy, in capitals with `anyCase` (the system's own upper
// case of the code page, as it compares file names). Null when memory runs out.
char *KeyOf(const char *name, bool anyCase) {
    size_t size = strlen(name) + 1;
    auto *key = static_cast<char *>(MemoryAlloc(size));
    if (!key) return nullptr;
    memcpy(key, name, size);
    if (anyCase) CharUpperBuffA(key, DWORD(size - 1));
    return key;
}

} // namespace

void NameSetClear() {
    for (int32_t i = 0; i < SlotCount; i++)
        MemoryFree(Names[i]);
    MemoryFree(Names);
    Names = nullptr;
    SlotCount = NameCount = 0;
}

bool NameSetHas(const char *name, bool anyCase) {
    char *key = NameCount ? KeyOf(name, anyCase) : nullptr;
    bool has = key && *SlotOf(Names, SlotCount, key) != nullptr;
    MemoryFree(key);
    return has;
}

bool NameSetAdd(const char *name, bool anyCase) {
    char *key = Grow() ? KeyOf(name, anyCase) : nullptr;
    if (!key) return false;
    char **slot = SlotOf(Names, SlotCount, key);
    if (*slot) {
        MemoryFree(key);
        return false;
    }
    *slot = key;
    NameCount += 1;
    return true;
}
