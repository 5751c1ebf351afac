// The folder browser. The shell library is loaded by name on every call and released before the
// call returns, so the program does not depend on it being present.
#include "runtime/dialogs/dialogs.h"

#include "runtime/strings/strings.h"
#include "runtime/system/system.h"

#include <objbase.h>
#include <shlobj.h>

#include <cstring>

namespace {

// Bytes for a path of MAX_PATH characters in any code page: a UTF-8 character of the basic
// plane takes up to three.
constexpr int32_t PathBytes = MAX_PATH * 3;

static_assert(sizeof(void *) != 4 || sizeof(BROWSEINFOA) == 32, "browser request record");

using BrowseForFolderRoutine = LPITEMIDLIST(WINAPI *)(LPBROWSEINFOA);
using PathFromItemListRoutine = BOOL(WINAPI *)(LPCITEMIDLIST, LPWSTR);

bool ComInitialised; // by the folder browser, for the thread that first called it

// Selects the initial path as soon as the browser is up.
int CALLBACK BrowseCallback(HWND browser, UINT message, LPARAM, LPARAM data) {
    if (message == BFFM_INITIALIZED && data) SendMessageA(browser, BFFM_SETSELECTIONA, TRUE, data);
    return 0;
}

void DeliverEmpty(int32_t position) {
    DialogDeliverPath("", 0, "", position);
}

} // namespace

void DialogChooseFolder(const char *title, const char *initialPath, int32_t position) {
    if (!ComInitialised) {
        ComInitialised = true;
        CoInitialize(nullptr);
    }
    HMODULE shell = SystemLibraryLoad("SHELL32.DLL");
    if (!shell) {
        DeliverEmpty(position);
        return;
    }
    char initial[PathBytes];
    lstrcpynA(initial, initialPath ? initialPath : "", sizeof initial);
    // The browser wants a folder without a trailing separator; a drive root keeps its own.
    size_t length = strlen(initial);
    if (length > 3 && !*PathLastPart(initial) && initial[length - 1] != ':')
        initial[length - 1] = '\0';

    auto browse = reinterpret_cast<BrowseForFolderRoutine>(
        reinterpret_cast<void *>(GetProcAddress(shell, "SHBrowseForFolder")));
    auto pathFromItemList = reinterpret_cast<PathFromItemListRoutine>(
        reinterpret_cast<void *>(GetProcAddress(shell, "SHGetPathFromIDListW")));
    // The shell's 8-bit entry cuts a path at MAX_PATH bytes, which a UTF-8 path may exceed: take
    // the path in UTF-16 and turn it into the process's code page here.
    wchar_t wide[MAX_PATH] = {};
    bool chosen = false;
    // OK is offered on folders with a path only (not on This PC, Libraries or Network). A folder
    // chosen whose path cannot be had all the same (one too long) is no cancel: ask again.
    while (browse && pathFromItemList && !chosen) {
        BROWSEINFOA request = {};
        request.hwndOwner = DialogOwnerWindow();
        request.lpszTitle = title;
        request.ulFlags = BIF_RETURNONLYFSDIRS | BIF_NEWDIALOGSTYLE;
        request.lpfn = BrowseCallback;
        request.lParam = reinterpret_cast<LPARAM>(initial);
        DialogModalWindows(1);
        LPITEMIDLIST item = browse(&request);
        DialogModalWindows(0);
        if (!item) break;
        chosen = pathFromItemList(item, wide) && wide[0];
        CoTaskMemFree(item);
    }
    FreeLibrary(shell);
    if (!chosen) {
        DeliverEmpty(position);
        return;
    }
    wide[MAX_PATH - 1] = L'\0';
    char path[PathBytes];
    int bytes = WideCharToMultiByte(CP_ACP, 0, wide, -1, path, sizeof path, nullptr, nullptr);
    DialogDeliverPath(path, bytes > 1 ? bytes - 1 : 0, "", position);
}
