#include "tests/app/scripted_dialogs.h"

#include "runtime/dialogs/dialogs.h"
#include "runtime/strings/strings.h"

#include <cstring>

DialogScript Dialogs;

// Delivers a text by the area's result protocol, reserving room for a whole path first as the
// real dialogs do.
static void Deliver(const std::string &text, int32_t position) {
    constexpr int32_t PathRoom = 260;
    memcpy(TempReserve(PathRoom, position), text.c_str(), text.size() + 1);
    TempGiveBack(PathRoom - int32_t(text.size()));
}

void DialogOpenFile(const char *title, const char *defaultFile, const char *pattern,
                    int32_t patternPosition, int32_t flags, int32_t position) {
    Dialogs.calls.push_back("open");
    Dialogs.openArguments = {title, defaultFile, pattern, std::to_string(patternPosition),
                             std::to_string(flags)};
    Dialogs.next = 0;
    Deliver(Dialogs.files.empty() ? "" : Dialogs.files[Dialogs.next++], position);
}

void DialogNextFile(int32_t position) {
    Dialogs.calls.push_back("next");
    Deliver(Dialogs.next < Dialogs.files.size() ? Dialogs.files[Dialogs.next++] : "", position);
}

void DialogChooseFolder(const char *title, const char *initialPath, int32_t position) {
    Dialogs.calls.push_back("folder");
    Dialogs.folderArguments = {title, initialPath};
    Deliver(Dialogs.folder, position);
}

int32_t DialogMessage(const char *title, const char *text, int32_t flags) {
    Dialogs.calls.push_back("message");
    Dialogs.messages.insert(Dialogs.messages.end(), {title, text, std::to_string(flags)});
    return IDOK;
}

int32_t DialogFileCount() {
    return int32_t(Dialogs.files.size());
}

// A scripted dialog has no window: the progress window, when linked, goes without an owner.
HWND DialogOwnerWindow() {
    return nullptr;
}

void DialogModalWindows(int32_t) {}
