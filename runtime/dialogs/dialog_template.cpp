// The dialog template writer shared by the progress window and the file dialog's options area.
#include "runtime/dialogs/dialog_template.h"

#include <cstring>
#include <initializer_list>

namespace {

constexpr int32_t Capacity = sizeof(DialogTemplate::words) / sizeof(WORD);
constexpr WORD FontPoints = 8;

} // namespace

void DialogTemplate::Word(WORD value) {
    if (at < Capacity)
        words[at++] = value;
    else
        full = true;
}

void DialogTemplate::Long(DWORD value) {
    Word(LOWORD(value));
    Word(HIWORD(value));
}

void DialogTemplate::WideText(const wchar_t *text) {
    do
        Word(WORD(*text));
    while (*text++);
}

// Each piece is converted from the code page straight into the words; one NUL closes the text.
void DialogTemplate::Text(const char *text, const char *more) {
    for (const char *piece : {text, more}) {
        if (!piece || !*piece || full) continue;
        int room = Capacity - at - 1;
        int n = room > 0 ? MultiByteToWideChar(CP_ACP, 0, piece, -1,
                                               reinterpret_cast<wchar_t *>(words + at), room)
                         : 0;
        if (n <= 0) {
            full = true;
            return;
        }
        at += n - 1; // the next piece goes over the NUL
    }
    Word(0);
}

void DialogTemplate::Align() {
    if (at % 2) Word(0);
}

void DialogTemplate::Begin(DWORD style, short cx, short cy, const char *title) {
    at = 0;
    full = false;
    Word(1);      // the extended template's version
    Word(0xFFFF); // and signature
    Long(0);      // help id
    Long(0);      // extended style
    Long(style | DS_SHELLFONT);
    countAt = at;
    Word(0);
    Word(0); // x and y: where the system puts the dialog
    Word(0);
    Word(WORD(cx));
    Word(WORD(cy));
    Word(0); // no menu
    Word(0); // the dialog class
    Text(title);
    Word(FontPoints);
    Word(FW_NORMAL);
    Word(MAKEWORD(FALSE, DEFAULT_CHARSET)); // not italic; the character set
    WideText(L"MS Shell Dlg");
}

void DialogTemplate::Item(DWORD style, short x, short y, short cx, short cy, WORD id,
                          WORD classAtom, const char *text, const char *more,
                          const wchar_t *className) {
    Align();
    Long(0); // help id
    Long(0); // extended style
    Long(style | WS_CHILD | WS_VISIBLE);
    Word(WORD(x));
    Word(WORD(y));
    Word(WORD(cx));
    Word(WORD(cy));
    Long(id);
    if (className) {
        WideText(className);
    } else {
        Word(0xFFFF);
        Word(classAtom);
    }
    Text(text, more);
    Word(0); // no creation data
    if (!full) words[countAt] += 1;
}
