// The progress window of a long batch: "Converting N of M: name", a bar and Cancel. It appears
// only once the batch has run for half a second, and the messages are looked at no more than
// every 50 ms: under Wine each look costs a call to its server, about as long as a small strip.
#include "runtime/dialogs/dialogs.h"

#include "runtime/dialogs/dialog_template.h"
#include "runtime/strings/strings.h"

#include <commctrl.h>

#include <cstdio>
#include <cstring>

namespace {

constexpr DWORD ShowAfterMs = 500;
constexpr DWORD PumpEveryMs = 50;
constexpr int TextId = 100;
constexpr int BarId = 101;

HWND Window;
bool WindowFailed; // no window could be made (no display): not tried again
bool Running;
volatile LONG Stop;
DWORD Started;
DWORD LastPump;
int32_t Total;

INT_PTR CALLBACK ProgressProc(HWND window, UINT message, WPARAM wParam, LPARAM) {
    if (message == WM_INITDIALOG) return TRUE;
    // Esc, the close box and the button all arrive as Cancel.
    if (message == WM_COMMAND && LOWORD(wParam) == IDCANCEL) {
        InterlockedExchange(&Stop, 1);
        EnableWindow(GetDlgItem(window, IDCANCEL), FALSE);
        return TRUE;
    }
    return FALSE;
}

void CreateProgressWindow() {
    DialogTemplate t;
    t.Begin(WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_CENTER, 240, 66, "StripSheet");
    t.Item(SS_LEFT | SS_ENDELLIPSIS | SS_NOPREFIX, 8, 8, 224, 10, TextId, DialogStaticClass, "");
    t.Item(0, 8, 22, 224, 12, BarId, 0, "", nullptr, PROGRESS_CLASSW);
    t.Item(BS_DEFPUSHBUTTON | WS_TABSTOP, 182, 42, 50, 14, IDCANCEL, DialogButtonClass, "Cancel");
    DialogModalWindows(1);
    Window = CreateDialogIndirectParamA(GetModuleHandleA(nullptr),
                                        reinterpret_cast<LPCDLGTEMPLATEA>(t.words),
                                        DialogOwnerWindow(), ProgressProc, 0);
    if (!Window) {
        DialogModalWindows(0);
        WindowFailed = true;
        return;
    }
    SendDlgItemMessageA(Window, BarId, PBM_SETRANGE32, 0, Total);
}

void PumpMessages() {
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
        if (message.message == WM_QUIT) {
            PostQuitMessage(int(message.wParam)); // for whoever runs a loop after the batch
            break;
        }
        if (Window && IsDialogMessageA(Window, &message)) continue;
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
}

} // namespace

void DialogProgressBegin(int32_t total) {
    Running = true;
    InterlockedExchange(&Stop, 0);
    Total = total;
    Started = LastPump = GetTickCount();
}

int32_t DialogProgressStep(int32_t number, const char *file) {
    if (!Running) return 0;
    DWORD now = GetTickCount();
    if (now - LastPump < PumpEveryMs) return Stop;
    LastPump = now;
    // A Cancel pressed while the window showed an earlier file stops before this one, which the
    // window never named.
    PumpMessages();
    if (Stop) return 1;
    bool created = false;
    if (!Window && !WindowFailed && now - Started >= ShowAfterMs) {
        CreateProgressWindow();
        created = Window != nullptr;
    }
    if (Window) {
        char line[1024];
        snprintf(line, sizeof line, "Converting %d of %d: %s", int(number), int(Total),
                 PathLastPart(file));
        SetDlgItemTextA(Window, TextId, line);
        SendDlgItemMessageA(Window, BarId, PBM_SETPOS, WPARAM(number - 1), 0);
        if (created) ShowWindow(Window, SW_SHOW); // with its first line already in place
    }
    return 0;
}

void DialogProgressWait() {
    if (!Running) return;
    DWORD now = GetTickCount();
    if (now - LastPump < PumpEveryMs) return;
    LastPump = now;
    PumpMessages();
}

void DialogProgressEnd() {
    if (Window) {
        DestroyWindow(Window);
        Window = nullptr;
        DialogModalWindows(0);
    }
    Running = false;
}
