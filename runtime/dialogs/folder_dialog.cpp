// The folder browser. The shell library is loaded by name on every call and released before the
// call returns, so the program does not depend on it being present.
#include "runtime/dialogs/dialogs.h"

#include "runtime/strings/strings.h"

#include <objbase.h>
#include <shlobj.h>

#include <cstring>

namespace {

constexpr int32_t ResultReserve = MAX_PATH;

static_assert(sizeof(void *) != 4 || sizeof(BROWSEINFOA) == 32, "browser request record");

using BrowseForFolderRoutine = LPITEMIDLIST(WINAPI *)(LPBROWSEINFOA);
using PathFromItemListRoutine = BOOL(WINAPI *)(LPCITEMIDLIST, LPSTR);

bool ComInitialised; // by the folder browser, for the thread that first called it

// Selects the initial path as soon as the browser is up.
int CALLBACK BrowseCallback(HWND browser, UINT message, LPARAM, LPARAM data) {
    if (message == BFFM_INITIALIZED && data) SendMessageA(browser, BFFM_SETSELECTIONA, TRUE, data);
    return 0;
}

void DeliverEmpty(int32_t position) {
    *TempReserve(0, position) = '\0';
}

} // namespace

void DialogChooseFolder(const char *title, const char *initialPath, int32_t position) {
    if (!ComInitialised) {
        ComInitialised = true;
        CoInitialize(nullptr);
    }
    HMODULE shell = LoadLibraryA("SHELL32.DLL");
    if (!shell) {
        DeliverEmpty(position);
        return;
    }
    char initial[MAX_PATH];
    lstrcpynA(initial, initialPath ? initialPath : "", sizeof initial);
    // The browser wants a folder without a trailing backslash; a drive root keeps its own.
    size_t length = strlen(initial);
    if (length > 3 && initial[length - 1] == '\\') initial[length - 1] = '\0';

    auto browse = reinterpret_cast<BrowseForFolderRoutine>(
        reinterpret_cast<void *>(GetProcAddress(shell, "SHBrowseForFolder")));
    LPITEMIDLIST chosen = nullptr;
    if (browse) {
        BROWSEINFOA request = {};
        request.hwndOwner = DialogOwnerWindow();
        request.lpszTitle = title;
        request.ulFlags = BIF_NEWDIALOGSTYLE;
        request.lpfn = BrowseCallback;
        request.lParam = reinterpret_cast<LPARAM>(initial);
        DialogModalWindows(1);
        chosen = browse(&request);
        DialogModalWindows(0);
    }
    auto pathFromItemList =
        chosen ? reinterpret_cast<PathFromItemListRoutine>(
                     reinterpret_cast<void *>(GetProcAddress(shell, "SHGetPathFromIDList")))
               : nullptr;
    if (!pathFromItemList) {
        CoTaskMemFree(chosen);
        FreeLibrary(shell);
        DeliverEmpty(position);
        return;
    }
    // Room for the longest path the shell writes and the backslash appended to it.
    char *result = TempReserve(ResultReserve, position);
    result[0] = '\0';
    pathFromItemList(chosen, result);
    CoTaskMemFree(chosen);
    FreeLibrary(shell);
    int32_t written = static_cast<int32_t>(strnlen(result, ResultReserve - 1));
    result[written] = '\0';
    if (written > 0 && result[written - 1] != '\\') {
        result[written++] = '\\';
        result[written] = '\0';
    }
    TempGiveBack(ResultReserve - written);
}
