// The dialogs' start-up, the owner window, the modal bracket and the message box.
#include "runtime/dialogs/dialogs.h"

#include "runtime/memory/memory.h"
#include "runtime/memory/registry.h"
#include "runtime/strings/strings.h"

#include <commctrl.h>
#include <objbase.h>

#include <cstring>

namespace {

// A window disabled by a dialog, and the thread that must enable it again.
struct DisabledWindow {
    DWORD threadId;
    HWND window;
};

void *DisabledWindows; // newest first

BOOL CALLBACK DisableWindow(HWND window, LPARAM) {
    DWORD thread = GetCurrentThreadId();
    if (GetWindowThreadProcessId(window, nullptr) != thread || !IsWindowVisible(window) ||
        !IsWindowEnabled(window) || window == GetForegroundWindow())
        return TRUE;
    // The record comes first: a window without one would stay disabled for good, so a window
    // that cannot be recorded is left enabled.
    auto *record = static_cast<DisabledWindow *>(
        ListAdd(&DisabledWindows, ListLinkSize + sizeof(DisabledWindow)));
    if (!record) return TRUE;
    record->threadId = thread;
    record->window = window;
    EnableWindow(window, FALSE);
    return TRUE;
}

} // namespace

void DialogInit() {
    InitCommonControls();
    CoInitialize(nullptr);
}

HWND DialogOwnerWindow() {
    HWND foreground = GetForegroundWindow();
    if (!foreground) return nullptr;
    DWORD process = 0;
    GetWindowThreadProcessId(foreground, &process);
    return process == GetCurrentProcessId() ? foreground : nullptr;
}

void DialogModalWindows(int32_t disable) {
    if (disable) {
        EnumWindows(DisableWindow, 0);
        return;
    }
    DWORD thread = GetCurrentThreadId();
    void *node = DisabledWindows;
    while (node) {
        void *older = ListNext(node);
        auto *record = static_cast<DisabledWindow *>(node);
        if (record->threadId == thread) {
            EnableWindow(record->window, TRUE);
            ListRemove(&DisabledWindows, node);
        }
        node = older;
    }
}

int32_t DialogMessage(const char *title, const char *text, int32_t flags) {
    DialogModalWindows(1);
    int32_t button = MessageBoxA(DialogOwnerWindow(), text, title, static_cast<UINT>(flags));
    DialogModalWindows(0);
    return button;
}

void DialogDeliverPath(const char *folder, int32_t folderLength, const char *name,
                       int32_t position) {
    constexpr int32_t PathRoom = 260;
    // The folder ends at folderLength: its NUL, or the NUL between a selection's folder and names.
    bool separator = folderLength > 0 && PathNeedsSeparator(folder);
    int32_t head = folderLength + (separator ? 1 : 0);
    int32_t nameLength = static_cast<int32_t>(strlen(name));
    int32_t length = head + nameLength;
    int32_t reserve = length > PathRoom ? length : PathRoom;
    char *result = TempReserve(reserve, position);
    if (folderLength > 0) memcpy(result, folder, size_t(folderLength));
    if (separator) result[folderLength] = '\\';
    memcpy(result + head, name, size_t(nameLength));
    result[length] = '\0';
    TempGiveBack(reserve - length);
}
