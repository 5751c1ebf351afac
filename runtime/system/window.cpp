#define DIRECTINPUT_VERSION 0x0700

#include "runtime/system/system.h"

#include "runtime/memory/memory.h"

#include <dinput.h>

HWND RuntimeWindow;
int32_t RuntimeWindowCreated;

namespace {

constexpr char RuntimeWindowClass[] = "RadorizezuZadi Class";

// A window creation that fails after the class was registered must not make every later attempt
// fail on the class that already exists.
bool ClassRegistered;

bool RegisterRuntimeWindowClass() {
    WNDCLASSEXA windowClass = {};
    windowClass.cbSize = sizeof windowClass;
    windowClass.style = CS_DBLCLKS;
    windowClass.lpfnWndProc = RuntimeWindowProc;
    windowClass.hInstance = ModuleHandle;
    windowClass.hIcon =
        LoadIconA(ModuleHandle, MAKEINTRESOURCEA(1)); // none: the class goes without
    windowClass.hbrBackground = static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH));
    windowClass.lpszClassName = RuntimeWindowClass;
    return RegisterClassExA(&windowClass) != 0;
}

} // namespace

int32_t RuntimeWindowInit() {
    if (RuntimeWindowCreated || RuntimeWindow) return RuntimeWindowCreated;
    if (!ClassRegistered) {
        if (!RegisterRuntimeWindowClass()) return 0;
        ClassRegistered = true;
    }
    RuntimeWindow = CreateWindowExA(0, RuntimeWindowClass, "", WS_POPUP, 0, 0, 1, 1, nullptr,
                                    nullptr, ModuleHandle, nullptr);
    if (RuntimeWindow) RuntimeWindowCreated = 1;
    return RuntimeWindowCreated;
}

LRESULT CALLBACK RuntimeWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_ACTIVATE:
        // Losing activation gives the mouse back to the system.
        if (LOWORD(wParam) == WA_INACTIVE && Mouse.device) Mouse.device->Unacquire();
        return 0;
    case WM_PAINT: {
        PAINTSTRUCT paint;
        BeginPaint(window, &paint);
        EndPaint(window, &paint);
        return 1;
    }
    case WM_CLOSE:
        return 0; // the window lives as long as the process
    case WM_ERASEBKGND:
        return 1;
    case WM_KEYUP:
    case WM_SYSKEYUP:
    case WM_LBUTTONDOWN:
    case WM_LBUTTONUP:
    case WM_RBUTTONDOWN:
    case WM_RBUTTONUP:
        return 0;
    default:
        return DefWindowProcA(window, message, wParam, lParam);
    }
}
