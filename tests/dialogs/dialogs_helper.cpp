// Shows dialogs (or a plain window) in a process of its own, for the tests that drive them from
// another process:
//   dialogs_helper window <caption>         a window that takes the foreground until closed
//   dialogs_helper message <title> <text>   a message box; the exit code is its result
#include "runtime/dialogs/dialogs.h"
#include "runtime/memory/memory.h"

#include <cstring>

static int ShowWindowUntilClosed(const char *caption) {
    WNDCLASSA description = {};
    description.lpfnWndProc = [](HWND window, UINT message, WPARAM wParam,
                                 LPARAM lParam) -> LRESULT {
        if (message == WM_DESTROY) PostQuitMessage(0);
        return DefWindowProcA(window, message, wParam, lParam);
    };
    description.hInstance = GetModuleHandleA(nullptr);
    description.lpszClassName = "DialogHelperWindow";
    RegisterClassA(&description);
    HWND window =
        CreateWindowExA(0, "DialogHelperWindow", caption, WS_OVERLAPPEDWINDOW | WS_VISIBLE, 300,
                        300, 200, 120, nullptr, nullptr, description.hInstance, nullptr);
    if (!window) return 2;
    SetForegroundWindow(window);
    // Never outlive a test that forgot to close the window.
    SetTimer(window, 1, 30000, nullptr);
    MSG message;
    while (GetMessageA(&message, nullptr, 0, 0) > 0) {
        if (message.message == WM_TIMER) DestroyWindow(window);
        DispatchMessageA(&message);
    }
    return 0;
}

int main(int argc, char **argv) {
    if (argc == 3 && strcmp(argv[1], "window") == 0) return ShowWindowUntilClosed(argv[2]);
    MainHeapInit();
    ObjectHeapInit();
    DialogInit();
    if (argc == 4 && strcmp(argv[1], "message") == 0) return DialogMessage(argv[2], argv[3], 0);
    return 100;
}
