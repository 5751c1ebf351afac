// The open-file dialog, its options area, and the delivery of a multiple selection one file at a
// time.
#include "runtime/dialogs/dialogs.h"

#include "runtime/dialogs/dialog_template.h"
#include "runtime/memory/memory.h"
#include "runtime/strings/strings.h"

#include <commdlg.h>

#include <cstddef>
#include <cstring>
#include <initializer_list>

namespace {

// A path of 260 characters; in a multibyte code page (UTF-8) a character takes up to 3 bytes.
int32_t SingleSelectionSize() {
    return StringMultibyteCodePage ? 260 * 3 : 260;
}
constexpr int32_t MultipleSelectionSize = 512000;
// The request record in the form that predates the Windows 2000 fields: 76 bytes in 32-bit
// programs.
constexpr DWORD RequestSize = offsetof(OPENFILENAMEA, lpTemplateName) + sizeof(LPCSTR);
static_assert(sizeof(void *) != 4 || RequestSize == 76, "request record");
constexpr DWORD OpenFlags = OFN_EXPLORER | OFN_PATHMUSTEXIST | OFN_NOCHANGEDIR | OFN_HIDEREADONLY;

// The selection the dialog wrote, owned across DialogOpenFile and DialogNextFile. A multiple
// selection starts with its directory; the names follow it, each ending in a NUL.
char *Selection;
int32_t NextName;        // offset in Selection of the next name to deliver; 0 = none pending
int32_t DirectoryLength; // length of the directory at the start of Selection
int32_t FilesChosen;     // how many files the dialog returned

// The options area of the dialogs.
DialogPane *Pane;

// The options area's layout, in dialog units: a frame about as wide as the dialog's standard
// controls, check boxes on the left, labels and edit boxes on the right, a row each.
constexpr short PaneWidth = 300;
constexpr short RowHeight = 14;
constexpr short FirstRow = 12;
constexpr short CheckX = 14, CheckWidth = 136;
constexpr short LabelX = 156, LabelWidth = 84;
constexpr short EditWidth = 44, EditX = PaneWidth - 14 - EditWidth;
constexpr WORD FirstControlId = 0x1000; // clear of the standard controls' 0x400 to 0x4FF
constexpr WORD NoId = 0xFFFF;
constexpr int EditCharacters = 255;
static_assert(sizeof(DialogPaneControl::text) >= EditCharacters * 4, "a character takes 4 bytes");

// The options area's template, in memory that the system can take as a handle or as an address
// (GMEM_FIXED: the handle is the address); null when it cannot be made.
HGLOBAL PaneTemplate() {
    int32_t rows[2] = {0, 0}; // check boxes, edit boxes
    for (int32_t i = 0; i < Pane->count; i++)
        rows[Pane->controls[i].kind == DialogPaneKind::Edit] += 1;
    short height = short(FirstRow + RowHeight * (rows[0] > rows[1] ? rows[0] : rows[1]));
    DialogTemplate t;
    t.Begin(WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS | DS_3DLOOK | DS_CONTROL, PaneWidth,
            short(height + 8), "");
    t.Item(BS_GROUPBOX, 6, 0, PaneWidth - 12, short(height + 4), NoId, DialogButtonClass,
           Pane->caption);
    // The template's order is the Tab key's: down the check boxes, then down the edit boxes, each
    // behind its label, which passes the label's access key on to it.
    for (DialogPaneKind kind : {DialogPaneKind::Check, DialogPaneKind::Edit}) {
        short y = FirstRow;
        for (int32_t i = 0; i < Pane->count; i++) {
            const DialogPaneControl &control = Pane->controls[i];
            if (control.kind != kind) continue;
            DWORD greyed = control.note ? WS_DISABLED : 0;
            WORD id = WORD(FirstControlId + i);
            if (kind == DialogPaneKind::Check) {
                t.Item(BS_AUTOCHECKBOX | WS_TABSTOP | greyed, CheckX, y, CheckWidth, 10, id,
                       DialogButtonClass, control.label, control.note);
            } else {
                t.Item(SS_LEFT | greyed, LabelX, short(y + 2), LabelWidth, 8, NoId,
                       DialogStaticClass, control.label, control.note);
                t.Item(ES_AUTOHSCROLL | WS_BORDER | WS_TABSTOP | greyed, EditX, y, EditWidth, 12,
                       id, DialogEditClass, "");
            }
            y += RowHeight;
        }
    }
    HGLOBAL memory = t.full ? nullptr : GlobalAlloc(GMEM_FIXED, t.Bytes());
    if (memory) memcpy(memory, t.words, t.Bytes());
    return memory;
}

void ShowPaneValues(HWND pane) {
    for (int32_t i = 0; i < Pane->count; i++) {
        const DialogPaneControl &control = Pane->controls[i];
        int id = FirstControlId + i;
        if (control.kind == DialogPaneKind::Check) {
            CheckDlgButton(pane, id, control.checked ? BST_CHECKED : BST_UNCHECKED);
        } else {
            SendDlgItemMessageA(pane, id, EM_LIMITTEXT, EditCharacters, 0);
            SetDlgItemTextA(pane, id, control.text);
        }
    }
}

void ReadPaneValues(HWND pane) {
    for (int32_t i = 0; i < Pane->count; i++) {
        DialogPaneControl &control = Pane->controls[i];
        int id = FirstControlId + i;
        if (control.kind == DialogPaneKind::Check)
            control.checked = IsDlgButtonChecked(pane, id) == BST_CHECKED;
        else if (!GetDlgItemTextA(pane, id, control.text, sizeof control.text))
            control.text[0] = '\0';
    }
}

// The options area's dialog procedure. Open is refused as Windows documents it, by a non-zero
// result both set as the message's result and returned (some versions of Wine read only one).
UINT_PTR CALLBACK PaneHook(HWND pane, UINT message, WPARAM, LPARAM lParam) {
    // The focus stays where the dialog puts it, in the file name.
    if (message == WM_INITDIALOG) {
        ShowPaneValues(pane);
        return FALSE;
    }
    if (message != WM_NOTIFY || reinterpret_cast<const NMHDR *>(lParam)->code != CDN_FILEOK)
        return FALSE;
    ReadPaneValues(pane);
    int32_t start = TempString.end;
    int32_t fault = Pane->accept(Pane->controls, Pane->count, start);
    if (fault >= 0) {
        HWND dialog = GetParent(pane);
        MessageBoxA(dialog, TempAddress(start), Pane->caption, MB_OK | MB_ICONEXCLAMATION);
        // Posted, to come once the dialog is done with Open; it selects an edit box's text, as the
        // Tab key does.
        PostMessageA(dialog, WM_NEXTDLGCTL,
                     reinterpret_cast<WPARAM>(GetDlgItem(pane, FirstControlId + fault)), TRUE);
    }
    TempString.end = start;
    SetWindowLongPtrA(pane, DWLP_MSGRESULT, fault >= 0);
    return fault >= 0;
}

void DropSelection() {
    MemoryFree(Selection);
    Selection = nullptr;
    NextName = 0;
}

// A zero-filled copy of `text` (null counts as empty) two bytes longer than the text, so that a
// list made by turning separators into NULs ends in two NULs.
char *CopyWithRoom(const char *text) {
    size_t length = text ? strlen(text) : 0;
    auto *copy = static_cast<char *>(MemoryAlloc(length + 2));
    if (copy && length) memcpy(copy, text, length);
    return copy;
}

bool AcceptableName(const char *name) {
    if (!*name) return false;
    for (const char *c = name; *c; c++) {
        auto byte = static_cast<unsigned char>(*c);
        if (byte < 0x20 || strchr("\"*/:<>?\\|", byte)) return false;
    }
    return true;
}

// Splits the default file into the initial directory (returned, a block to free) and the
// proposed name (put into the selection buffer, unless it is unacceptable or does not fit).
char *SplitDefaultFile(const char *defaultFile, int32_t selectionSize) {
    char *directory = CopyWithRoom(defaultFile);
    if (!directory) return nullptr;
    // Split behind the last separator, unless that is the text's first character.
    const char *last = PathLastPart(directory);
    size_t folder = size_t(last - directory);
    bool split = folder > 1;
    const char *name = split ? last : directory;
    if (AcceptableName(name) && strlen(name) < static_cast<size_t>(selectionSize))
        strcpy(Selection, name);
    // The folder keeps a drive's ":" ("C:" is that drive's folder), not a last "\" or "/".
    if (split && directory[folder - 1] != ':') folder--;
    directory[split ? folder : 0] = '\0';
    return directory;
}

// The result: the multiple selection's directory in front of `name` when `prefixed`.
void Deliver(bool prefixed, const char *name, int32_t position) {
    DialogDeliverPath(Selection, prefixed ? DirectoryLength : 0, name, position);
}

// Shows the dialog over the selection buffer; true when the user chose something.
bool ShowOpenDialog(const char *title, const char *defaultFile, const char *pattern,
                    int32_t patternPosition, bool multiple, int32_t selectionSize) {
    char *filters = CopyWithRoom(pattern);
    if (!filters) return false;
    for (char *c = filters; *c; c++)
        if (*c == '|') *c = '\0';
    char *directory = nullptr;
    if (defaultFile) {
        directory = SplitDefaultFile(defaultFile, selectionSize);
        if (!directory) {
            MemoryFree(filters);
            return false;
        }
    }

    OPENFILENAMEA request = {};
    request.lStructSize = RequestSize;
    request.hwndOwner = DialogOwnerWindow();
    request.lpstrFilter = filters;
    request.nFilterIndex = static_cast<DWORD>(patternPosition + 1);
    request.lpstrFile = Selection;
    request.nMaxFile = static_cast<DWORD>(selectionSize);
    request.lpstrInitialDir = directory;
    request.lpstrTitle = title;
    request.Flags = OpenFlags | (multiple ? OFN_ALLOWMULTISELECT : 0);
    // The options area is a child dialog below the standard controls. Windows then shows its
    // older dialog, which without the whole request record leaves out its bar of places, and
    // which a hook or a template keeps from being resized unless that is asked for.
    HGLOBAL pane = Pane && Pane->count > 0 ? PaneTemplate() : nullptr;
    if (pane) {
        request.lStructSize = sizeof request;
        request.Flags |= OFN_ENABLEHOOK | OFN_ENABLETEMPLATEHANDLE | OFN_ENABLESIZING;
        request.hInstance = static_cast<HINSTANCE>(pane);
        request.lpfnHook = PaneHook;
    }

    DialogModalWindows(1);
    BOOL chosen = GetOpenFileNameA(&request);
    DialogModalWindows(0);

    if (pane) GlobalFree(pane);
    MemoryFree(filters);
    MemoryFree(directory);
    return chosen != 0;
}

} // namespace

void DialogOpenFile(const char *title, const char *defaultFile, const char *pattern,
                    int32_t patternPosition, int32_t flags, int32_t position) {
    bool multiple = (flags & 1) != 0;
    int32_t selectionSize = multiple ? MultipleSelectionSize : SingleSelectionSize();
    DropSelection();
    FilesChosen = 0;
    Selection = static_cast<char *>(MemoryAlloc(selectionSize));
    bool chosen = Selection && ShowOpenDialog(title, defaultFile, pattern, patternPosition,
                                              multiple, selectionSize);
    if (!chosen) {
        Deliver(false, "", position);
    } else if (!multiple) {
        Deliver(false, Selection, position);
        FilesChosen = 1;
    } else {
        int32_t first = static_cast<int32_t>(strlen(Selection));
        if (first + 1 >= selectionSize || Selection[first + 1] == '\0') {
            // One file: the dialog wrote its full path alone.
            Deliver(false, Selection, position);
            Selection[0] = '\0';
            FilesChosen = 1;
        } else {
            // The directory, then the names.
            DirectoryLength = first;
            const char *name = Selection + first + 1;
            Deliver(true, name, position);
            NextName = first + 1 + static_cast<int32_t>(strlen(name)) + 1;
            // The list ends in an empty name, within the buffer when the dialog succeeded.
            const char *end = Selection + selectionSize;
            for (const char *p = name; p < end && *p; p += strnlen(p, size_t(end - p)) + 1)
                FilesChosen += 1;
        }
    }
    if (!multiple) DropSelection();
}

void DialogOpenFilePane(DialogPane *pane) {
    Pane = pane;
}

int32_t DialogFileCount() {
    return FilesChosen;
}

void DialogNextFile(int32_t position) {
    if (NextName == 0) {
        Deliver(false, "", position);
        return;
    }
    const char *name = Selection + NextName;
    if (*name == '\0') {
        DropSelection();
        Deliver(false, "", position);
        return;
    }
    Deliver(true, name, position);
    NextName += static_cast<int32_t>(strlen(name)) + 1;
}
