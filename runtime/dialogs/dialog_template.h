// A dialog template written in memory, for the dialogs the library builds in code rather than
// from resources: the progress window, and the file dialog's options area from the controls the
// program hands over. Private to the dialogs library.
//
// It is the extended form, with DS_SHELLFONT and "MS Shell Dlg": the system's dialog font, the
// one the standard dialogs use, and measured in dialog units, so that the dialog scales with that
// font and the display's DPI. Its layout holds no pointer: the same words serve 32- and 64-bit
// programs.
#pragma once

#include <windows.h>

#include <cstdint>

// The predefined control classes, by atom.
constexpr WORD DialogButtonClass = 0x0080;
constexpr WORD DialogEditClass = 0x0081;
constexpr WORD DialogStaticClass = 0x0082;

struct DialogTemplate {
    // DWORD-aligned, as the system reads it.
    alignas(4) WORD words[4096];
    int32_t at = 0;
    int32_t countAt = 0; // where the header's number of controls lies
    bool full = false;   // a text or control did not fit: the template is not to be used

    // The header: the dialog's style (DS_SHELLFONT is added), size in dialog units and title.
    void Begin(DWORD style, short cx, short cy, const char *title);
    // A control (WS_CHILD and WS_VISIBLE are added) of a predefined class (`classAtom`) or of
    // the class named `className`. The texts are in the process's code page; `more`, when given,
    // follows `text`.
    void Item(DWORD style, short x, short y, short cx, short cy, WORD id, WORD classAtom,
              const char *text, const char *more = nullptr, const wchar_t *className = nullptr);
    // The size in bytes written so far.
    size_t Bytes() const { return size_t(at) * sizeof(WORD); }

  private:
    void Word(WORD value);
    void Long(DWORD value);
    void Text(const char *text, const char *more = nullptr);
    void WideText(const wchar_t *text);
    void Align();
};
