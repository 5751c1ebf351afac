// Fixtures shared by the dialog tests: plain top-level windows, a runtime brought up once, the
// robot run around a dialog call, and the helper program that shows dialogs (or a window) in
// another process.
#pragma once

#include "tests/support/window_robot.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <cstdint>
#include <string>

// Brings up the heaps, the temporary string area and the dialogs once per test program.
void DialogTestRuntime();

// Takes a dialog's text result from the temporary area, checking that it was delivered by the
// area's rules (written at `position`, the area's end just behind it), and sets the end back.
std::string TakeDialogResult(int32_t position);

// Calls `show`, which opens a dialog on this thread, while a robot thread runs `script`; the test
// fails with the robot's account when a step of it failed.
template <typename Show>
auto DriveDialog(const std::function<void(WindowRobot &)> &script, Show show) {
    decltype(show()) result{};
    EXPECT_EQ(RobotWhile(script, [&] { result = show(); }), "");
    return result;
}

// A plain top-level window of the calling thread; shown without being activated when `visible`.
HWND MakeTestWindow(const char *caption, bool visible);
// Handles the calling thread's pending messages; PumpUntil goes on until `object` is signalled,
// false when it was not within the bound.
void PumpMessages();
bool PumpUntil(HANDLE object, DWORD timeoutMs);

// The helper program next to the test program, started with the given arguments.
bool StartHelper(PROCESS_INFORMATION &helper, const std::string &arguments);
// Its exit code, or -1 after ending it because it had not finished within the bound.
int WaitHelper(PROCESS_INFORMATION &helper, DWORD timeoutMs);
