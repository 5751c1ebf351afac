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
#include <map>
#include <string>
#include <vector>

struct WindowRobot {
    DWORD processId = 0;    // the process whose windows are driven; 0 = this process
    DWORD threadId = 0;     // when non-zero, only windows of this thread
    DWORD timeoutMs = 5000; // bound of every wait and of every message sent
    HANDLE abort = nullptr; // an event that, once set, ends every wait at once
    std::string failure;    // what went wrong; empty while all is well
};

// A visible top-level dialog of the target whose caption is `caption` (any dialog of the target
// for null), or null after the bound.
HWND RobotWaitDialog(WindowRobot &robot, const char *caption);
// A visible top-level dialog of the target holding a control whose text is `label` (the folder
// browser shows the title it was given inside, under a caption of its own).
HWND RobotWaitDialogWithLabel(WindowRobot &robot, const char *label);
// True once the window is gone.
bool RobotWaitClosed(WindowRobot &robot, HWND window);

// The window's text as WM_GETTEXT gives it (CR LF kept), however long.
std::string RobotText(WindowRobot &robot, HWND window);
// The visible controls below `dialog` of a class, in the platform's order.
std::vector<HWND> RobotControls(HWND dialog, const char *className);
// Presses a button of the dialog as a click would: WM_COMMAND with BN_CLICKED, posted so that a
// dialog that opens another one does not block the robot.
bool RobotPress(WindowRobot &robot, HWND dialog, int buttonId);

// The open-file dialog: its file-name field, the folder it shows (without a trailing backslash
// except for a drive root) and the text of the selected entry of "Files of type".
std::string RobotFileName(WindowRobot &robot, HWND dialog);
std::string RobotFileDialogFolder(WindowRobot &robot, HWND dialog);
std::string RobotSelectedFilter(WindowRobot &robot, HWND dialog);
// Navigates to `folder`, waits until the dialog shows it, types the names (each in double quotes)
// and presses Open.
bool RobotChooseFiles(WindowRobot &robot, HWND dialog, const std::string &folder,
                      const std::vector<std::string> &names);

// The file dialog's options area, the child dialog below its standard controls: each control as
// its label (the access key's "&" left out) and its value, an edit box's text or a check box's
// "1" or "0", after "greyed " when the control cannot be changed.
std::map<std::string, std::string> RobotOptions(WindowRobot &robot, HWND dialog);
// Sets the control of the options area with that label, as RobotOptions names it, to `value`;
// returns the control, or null.
HWND RobotSetOption(WindowRobot &robot, HWND dialog, const std::string &label,
                    const std::string &value);
// True once `control` has the keyboard focus of its thread, once its dialog is active.
bool RobotWaitFocus(WindowRobot &robot, HWND control);

// The folder browser.
// True when the selection is the folder at `path` (a drive root "C:\" or "C:\a\b").
bool RobotFolderSelected(WindowRobot &robot, HWND browser, const std::string &path);
// Selects `path` with the browser's own select-path message, repeated until the browser follows
// it. The browser reads each folder once: create the folders before it opens, since one made
// later under a folder it has already read stays out of reach.
bool RobotSelectFolder(WindowRobot &robot, HWND browser, const std::string &path);

// Cancels every visible dialog of the target; returns their captions. The safety net that keeps
// a failed test from leaving a dialog open.
std::vector<std::string> RobotCloseDialogs(WindowRobot &robot);

// Runs `script` on a robot thread of its own against the dialogs of the calling thread while
// `call` shows them on the calling thread; returns robot.failure. `call` is not made when no
// thread can be had. If it has not returned a few seconds after the script ended, the robot
// cancels whatever dialogs are left and says so in the failure.
std::string RobotWhile(const std::function<void(WindowRobot &)> &script,
                       const std::function<void()> &call);
