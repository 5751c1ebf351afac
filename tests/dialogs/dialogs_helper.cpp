// Shows dialogs (or a plain window) in a process of its own, for the tests that drive them from
// another process:
//   dialogs_helper window <caption>         a window that takes the foreground until closed
//   dialogs_helper message <title> <text>   a message box; the exit code is its result
//   dialogs_helper batch                    the batch's file dialog and folder browser, then a
//                                           message "Results" listing what they returned
//   dialogs_helper com                      two folder browsers on a thread without COM, then
//                                           "Results" with their answers and how often COM was
//                                           initialised for the thread
#include "runtime/dialogs/dialogs.h"
#include "runtime/memory/memory.h"
#include "runtime/strings/strings.h"

#include <objbase.h>

#include <cstring>
#include <string>

namespace {

const char *const Pattern =
    "PNG Image (*.png)|*.png|BMP Image (*.bmp)|*.bmp|JPG Image (*.jpg)|*.jpg|All Files (*.*)|*.*";

int ShowWindowUntilClosed(const char *caption) {
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

// Takes a dialog's result out of the temporary area.
std::string Take(int32_t position) {
    std::string text = TempAddress(position);
    TempString.end = position;
    return text;
}

std::string ChooseFolder() {
    int32_t position = TempString.end;
    DialogChooseFolder("Select Output Directory", "C:\\", position);
    return Take(position);
}

int Batch() {
    std::string lines;
    int32_t position = TempString.end;
    DialogOpenFile("Select File(s)", "", Pattern, 0, 1, position);
    for (std::string file = Take(position); !file.empty(); file = Take(position)) {
        lines += file + "\r\n";
        DialogNextFile(position);
    }
    lines += ChooseFolder();
    return DialogMessage("Results", lines.c_str(), 0);
}

int Com() {
    std::string lines = "first: " + ChooseFolder() + "\r\n";
    lines += "second: " + ChooseFolder() + "\r\n";
    // Initialised once: one more CoInitialize finds it done, and two releases undo it all.
    HRESULT again = CoInitialize(nullptr);
    CoUninitialize();
    CoUninitialize();
    HRESULT fresh = CoInitialize(nullptr);
    CoUninitialize();
    lines += again == S_FALSE && fresh == S_OK ? "COM: once" : "COM: not once";
    return DialogMessage("Results", lines.c_str(), 0);
}

} // namespace

int main(int argc, char **argv) {
    if (argc == 3 && strcmp(argv[1], "window") == 0) return ShowWindowUntilClosed(argv[2]);
    MainHeapInit();
    TempStringInit();
    ObjectHeapInit();
    if (argc == 2 && strcmp(argv[1], "com") == 0) return Com();
    DialogInit();
    if (argc == 4 && strcmp(argv[1], "message") == 0) return DialogMessage(argv[2], argv[3], 0);
    if (argc == 2 && strcmp(argv[1], "batch") == 0) return Batch();
    return 100;
}
