#include "tests/system/import_patch.h"

#include <windows.h>

#include <cstdint>
#include <cstring>

namespace {

void **ImportSlot(const char *dll, const char *function) {
    auto *base = reinterpret_cast<uint8_t *>(GetModuleHandleA(nullptr));
    auto *dos = reinterpret_cast<IMAGE_DOS_HEADER *>(base);
    auto *nt = reinterpret_cast<IMAGE_NT_HEADERS *>(base + dos->e_lfanew);
    const IMAGE_DATA_DIRECTORY &imports =
        nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    if (!imports.VirtualAddress) return nullptr;
    for (auto *d = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR *>(base + imports.VirtualAddress);
         d->Name; d++) {
        if (_stricmp(reinterpret_cast<char *>(base + d->Name), dll) != 0) continue;
        auto *names = reinterpret_cast<IMAGE_THUNK_DATA *>(base + d->OriginalFirstThunk);
        auto *slots = reinterpret_cast<IMAGE_THUNK_DATA *>(base + d->FirstThunk);
        for (; names->u1.AddressOfData; names++, slots++) {
            if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal)) continue;
            auto *byName = reinterpret_cast<IMAGE_IMPORT_BY_NAME *>(base + names->u1.AddressOfData);
            if (strcmp(reinterpret_cast<char *>(byName->Name), function) == 0) {
                return reinterpret_cast<void **>(&slots->u1.Function);
            }
        }
    }
    return nullptr;
}

void WriteSlot(void **slot, void *value) {
    DWORD protection;
    VirtualProtect(slot, sizeof *slot, PAGE_READWRITE, &protection);
    *slot = value;
    VirtualProtect(slot, sizeof *slot, protection, &protection);
}

} // namespace

ImportPatch::ImportPatch(const char *dll, const char *function, void *replacement)
    : slot(ImportSlot(dll, function)) {
    if (!slot) return;
    original = *slot;
    WriteSlot(slot, replacement);
}

ImportPatch::~ImportPatch() {
    if (slot) WriteSlot(slot, original);
}
