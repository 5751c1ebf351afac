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
// How many files the last DialogOpenFile chose (0 when none).
int32_t DialogFileCount();

// An options area of the file dialog, below its standard controls: check boxes in a column on the
// left and labelled edit boxes on the right, each column in the list's order, which is also the
// order of the Tab key. Labels mark their access key with "&".
enum class DialogPaneKind : uint8_t { Check, Edit };

struct DialogPaneControl {
    DialogPaneKind kind;
    const char *label;
    // When set, shown after the label, and the control is greyed: its value cannot be changed.
    const char *note;
    // The value, shown when the dialog opens and read back when Open is pressed.
    bool checked;
    char text[1024]; // an edit box's text, at most 255 characters
};

struct DialogPane {
    const char *caption; // of the frame around the controls, and of the messages about them
    DialogPaneControl *controls;
    int32_t count;
    // Called when Open is pressed, with the values read back into the controls: returns -1 to let
    // the dialog close, or the number of the control at fault with a message at `position` (by
    // the temporary area's result protocol); the dialog then stays open, shows the message and
    // puts the focus on that control.
    int32_t (*accept)(const DialogPaneControl *controls, int32_t count, int32_t position);
};

// The options area of the file dialogs that follow; null (the default) for none. The pane and its
// controls are the caller's and must outlive the dialogs.
void DialogOpenFilePane(DialogPane *pane);

void DialogChooseFolder(const char *title, const char *initialPath, int32_t position);

// How the file dialog and the folder browser hand a path back: writes `folder` (its first
// `folderLength` bytes), a backslash unless the folder is empty or ends in one, and `name` at
// `position` as the result. The reservation is a path's usual 260 bytes or the whole path when it
// is longer (a UTF-8 name takes up to three bytes a character): a cut path would name another file.
// Neither text may lie in the temporary area.
void DialogDeliverPath(const char *folder, int32_t folderLength, const char *name,
                       int32_t position);

// The progress window of a long batch, titled "StripSheet" and centred on the screen: it shows
// "Converting N of M: name", a bar and a Cancel button (Esc and the close box do the same), but
// only once the batch has run for half a second. Begin starts the clock for `total` files. Step,
// before file `number`, and Wait, while the batch waits for sheets being written, let the window
// answer (every 50 ms at most, so they cost nothing measurable a strip). Step returns 1 once the
// user asked to stop. End closes the window.
void DialogProgressBegin(int32_t total);
int32_t DialogProgressStep(int32_t number, const char *file);
void DialogProgressWait();
void DialogProgressEnd();
