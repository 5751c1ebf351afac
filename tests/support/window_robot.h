// A window robot for the desktop tests: it finds the platform's dialogs by their texts, reads
// their texts, types into them and presses their buttons, from another thread of the process that
// shows them or from another process.
//
// Every wait and every message sent is bounded by robot.timeoutMs. A step that fails returns null,
// false or an empty text and appends a sentence saying what it was doing to robot.failure, so a
// test can end with EXPECT_EQ(robot.failure, "").
//
// Messages in the WM_USER range (the folder browser's and the file dialog's own) carry pointers
// that the system does not copy between processes; the robot places their data in the target
// process. It assumes the target has the robot's own bitness.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

struct WindowRobot {
    DWORD processId = 0;    // the process whose windows are driven; 0 = this process
    DWORD threadId = 0;     // when non-zero, only windows of this thread
    DWORD timeoutMs = 5000; // bound of every wait and of every message sent
    HANDLE abort = nullptr; // an event that, once set, ends every wait at once
    std::string failure;    // what went wrong; empty while all is well
};

// Appends a sentence to robot.failure; returns false for `return RobotFail(...)`.
bool RobotFail(WindowRobot &robot, const std::string &what);

// A visible top-level dialog of the target whose caption is `caption` (any dialog of the target
// for null), or null after the bound.
HWND RobotWaitDialog(WindowRobot &robot, const char *caption);
// A visible top-level dialog of the target holding a control whose text is `label` (the folder
// browser shows the title it was given inside, under a caption of its own).
HWND RobotWaitDialogWithLabel(WindowRobot &robot, const char *label);
// True once the window is gone.
bool RobotWaitClosed(WindowRobot &robot, HWND window);

// The window's text as WM_GETTEXT gives it (CR LF kept).
std::string RobotText(WindowRobot &robot, HWND window);
bool RobotSetText(WindowRobot &robot, HWND window, const char *text);
// The first control below `dialog`, at any depth, with this id (and this class, if given).
HWND RobotControl(HWND dialog, int id, const char *className = nullptr);
// The visible controls below `dialog` of a class, in the platform's order.
std::vector<HWND> RobotControls(HWND dialog, const char *className);
// Presses a button of the dialog as a click would: WM_COMMAND with BN_CLICKED, posted so that a
// dialog that opens another one does not block the robot.
bool RobotPress(WindowRobot &robot, HWND dialog, int buttonId);
// The top-level window that owns `window` (null for none).
HWND RobotOwner(HWND window);

// The open-file dialog.
bool RobotTypeFileName(WindowRobot &robot, HWND dialog, const char *text);
std::string RobotFileName(WindowRobot &robot, HWND dialog);
// The folder the dialog is showing, without a trailing backslash except for a drive root.
std::string RobotFileDialogFolder(WindowRobot &robot, HWND dialog);
// The text of the selected entry of "Files of type".
std::string RobotSelectedFilter(WindowRobot &robot, HWND dialog);
// Navigates to `folder` and waits until the dialog shows it.
bool RobotOpenFolder(WindowRobot &robot, HWND dialog, const std::string &folder);
// Navigates to `folder`, types the names (each in double quotes) and presses Open.
bool RobotChooseFiles(WindowRobot &robot, HWND dialog, const std::string &folder,
                      const std::vector<std::string> &names);

// The folder browser.
// The texts of the tree items from the top down to the selected one ("Desktop", ..., " (C:)", ...).
std::vector<std::string> RobotFolderSelection(WindowRobot &robot, HWND browser);
// True when the selection is the folder at `path` (a drive root "C:\" or "C:\a\b").
bool RobotFolderSelected(WindowRobot &robot, HWND browser, const std::string &path);
// Selects `path` with the browser's own select-path message, repeated until the browser follows
// it. The browser reads each folder once: create the folders before it opens, since one made
// later under a folder it has already read stays out of reach.
bool RobotSelectFolder(WindowRobot &robot, HWND browser, const std::string &path);

// Cancels every visible dialog of the target; returns their captions. The safety net that keeps
// a failed test from leaving a dialog open.
std::vector<std::string> RobotCloseDialogs(WindowRobot &robot);

// A robot running on its own thread against the dialogs of the thread that starts it: start it,
// call the dialog, then finish it. If the dialog call has not returned a few seconds after the
// script ended, the robot cancels whatever dialogs are left and says so in the failure.
struct RobotRun {
    WindowRobot robot;
    std::function<void(WindowRobot &)> script;
    HANDLE thread = nullptr;
    HANDLE finished = nullptr; // set by RobotFinish: the dialog call has returned
};
// False (and nothing started) when no thread can be had: do not open the dialog then.
bool RobotStart(RobotRun &run, std::function<void(WindowRobot &)> script);
// Waits (bounded) for the robot thread and returns robot.failure.
std::string RobotFinish(RobotRun &run);
