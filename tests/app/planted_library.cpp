// A library planted beside the program under a system library's name, as a game folder's wrapper
// or a download would be. Loaded, it leaves an empty file of its own name followed by ".loaded";
// it offers none of the routines the program looks up.
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE self, DWORD reason, void *) {
    char marker[MAX_PATH + 8];
    DWORD length = GetModuleFileNameA(self, marker, MAX_PATH);
    if (reason == DLL_PROCESS_ATTACH && length && length < MAX_PATH) {
        lstrcatA(marker, ".loaded");
        CloseHandle(CreateFileA(marker, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    }
    return TRUE;
}
