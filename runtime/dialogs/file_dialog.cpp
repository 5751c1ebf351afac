// The open-file dialog and the delivery of a multiple selection one file at a time.
#include "runtime/dialogs/dialogs.h"

#include "runtime/memory/memory.h"
#include "runtime/strings/strings.h"

#include <commdlg.h>

#include <cstddef>
#include <cstring>

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

    DialogModalWindows(1);
    BOOL chosen = GetOpenFileNameA(&request);
    DialogModalWindows(0);

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
