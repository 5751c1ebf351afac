// The system dialogs: message box, open-file dialog, folder browser, and the modal bracket that
// disables the thread's other windows while one of them is open.
//
// The dialogs that return a text follow the temporary string area's result protocol: the last
// argument is the position at which the text is written.
#pragma once

#include <windows.h>
#include <cstdint>

void DialogInit();
HWND DialogOwnerWindow();
void DialogModalWindows(int32_t disable);
int32_t DialogMessage(const char *title, const char *text, int32_t flags);

void DialogOpenFile(const char *title, const char *defaultFile, const char *pattern,
                    int32_t patternPosition, int32_t flags, int32_t position);
void DialogNextFile(int32_t position);

void DialogChooseFolder(const char *title, const char *initialPath, int32_t position);

// How the file dialog and the folder browser hand a path back: writes `folder` (its first
// `folderLength` bytes), a backslash unless the folder is empty or ends in one, and `name` at
// `position` as the result. The reservation is a path's usual 260 bytes or the whole path when it
// is longer (a UTF-8 name takes up to three bytes a character): a cut path would name another file.
// Neither text may lie in the temporary area.
void DialogDeliverPath(const char *folder, int32_t folderLength, const char *name,
                       int32_t position);
