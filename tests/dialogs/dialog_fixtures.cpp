#include "tests/dialogs/dialog_fixtures.h"

#include "runtime/dialogs/dialogs.h"
#include "runtime/memory/memory.h"
#include "runtime/strings/strings.h"

void DialogTestRuntime() {
    static bool ready;
    if (ready) return;
    ready = true;
    MainHeapInit();
    TempStringInit();
    ObjectHeapInit();
    DialogInit();
}

std::string TakeDialogResult(int32_t position) {
    std::string text = TempAddress(position);
    EXPECT_EQ(TempString.end, position + static_cast<int32_t>(text.size()))
        << "the area's end must lie just behind the result \"" << text << "\"";
    TempString.end = position;
    return text;
}

HWND MakeTestWindow(const char *caption, bool visible) {
    static ATOM windowClass;
    WNDCLASSA description = {};
    description.lpfnWndProc = DefWindowProcA;
    description.hInstance = GetModuleHandleA(nullptr);
    description.lpszClassName = "DialogTestWindow";
    if (!windowClass) windowClass = RegisterClassA(&description);
    HWND window = CreateWindowExA(0, "DialogTestWindow", caption, WS_OVERLAPPEDWINDOW, 20, 20, 200,
                                  120, nullptr, nullptr, description.hInstance, nullptr);
    if (window && visible) ShowWindow(window, SW_SHOWNA);
    PumpMessages();
    return window;
}

void PumpMessages() {
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
}

bool PumpUntil(HANDLE object, DWORD timeoutMs) {
    for (DWORD start = GetTickCount(); GetTickCount() - start < timeoutMs; PumpMessages())
        if (MsgWaitForMultipleObjects(1, &object, FALSE, 20, QS_ALLINPUT) == WAIT_OBJECT_0)
            return true;
    return false;
}

bool StartHelper(PROCESS_INFORMATION &helper, const std::string &arguments) {
    char path[MAX_PATH];
    DWORD n = GetModuleFileNameA(nullptr, path, sizeof path);
    if (n == 0 || n >= sizeof path) return false;
    std::string program(path, n);
    program = program.substr(0, program.find_last_of('\\') + 1) + "dialogs_helper.exe";
    std::string command = "\"" + program + "\" " + arguments;
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    return CreateProcessA(program.c_str(), &command[0], nullptr, nullptr, FALSE, 0, nullptr,
                          nullptr, &startup, &helper) != 0;
}

int WaitHelper(PROCESS_INFORMATION &helper, DWORD timeoutMs) {
    if (!helper.hProcess) return -1;
    DWORD code = static_cast<DWORD>(-1);
    if (WaitForSingleObject(helper.hProcess, timeoutMs) == WAIT_OBJECT_0)
        GetExitCodeProcess(helper.hProcess, &code);
    else
        TerminateProcess(helper.hProcess, static_cast<UINT>(-1));
    CloseHandle(helper.hProcess);
    CloseHandle(helper.hThread);
    helper = PROCESS_INFORMATION();
    return static_cast<int>(code);
}
