#include "runtime/system/system.h"

#include "runtime/strings/strings.h"

#include <cstring>

namespace {

bool SearchRestricted; // to the system folder, for every library the process loads

} // namespace

void LibrarySearchInit() {
    // Windows 7 without KB2533623 lacks it: there SystemLibraryLoad's full paths still hold.
    using SetDefaultDllDirectoriesRoutine = BOOL(WINAPI *)(DWORD);
    auto restrictSearch =
        reinterpret_cast<SetDefaultDllDirectoriesRoutine>(reinterpret_cast<void *>(
            GetProcAddress(GetModuleHandleA("kernel32.dll"), "SetDefaultDllDirectories")));
    SearchRestricted = restrictSearch && restrictSearch(LOAD_LIBRARY_SEARCH_SYSTEM32);
}

HMODULE SystemLibraryLoad(const char *name) {
    char path[MAX_PATH];
    UINT folder = GetSystemDirectoryA(path, MAX_PATH);
    size_t nameLength = strlen(name);
    if (folder == 0 || uint64_t(folder) + 1 + nameLength >= MAX_PATH) return nullptr;
    if (PathNeedsSeparator(path)) path[folder++] = '\\';
    memcpy(path + folder, name, nameLength + 1);
    // Without the restricted search the library's own imports would be looked for beside the
    // program first; the altered search starts in the library's folder.
    return LoadLibraryExA(path, nullptr, SearchRestricted ? 0 : LOAD_WITH_ALTERED_SEARCH_PATH);
}
