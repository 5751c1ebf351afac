// Fixtures shared by the dialog tests: plain top-level windows, a runtime brought up once, and
// the helper program that shows dialogs (or a window) in another process.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

// Brings up the heaps, the temporary string area and the dialogs once per test program.
void DialogTestRuntime();

// Takes a dialog's text result from the temporary area, checking that it was delivered by the
// area's rules (written at `position`, the area's end just behind it), and sets the end back.
std::string TakeDialogResult(int32_t position);

// A plain top-level window of the calling thread; shown without being activated when `visible`.
HWND MakeTestWindow(const char *caption, bool visible);
// Handles the calling thread's pending messages.
void PumpMessages();

// The helper program next to the test program, started with the given arguments.
struct HelperProcess {
    PROCESS_INFORMATION info = {};
};
bool StartHelper(HelperProcess &helper, const std::string &arguments);
// Its exit code, or -1 after ending it because it had not finished within the bound.
int WaitHelper(HelperProcess &helper, DWORD timeoutMs);
