// The folder browser, on the real browser driven by the window robot.
#include "runtime/dialogs/dialogs.h"
#include "runtime/strings/strings.h"
#include "tests/dialogs/dialog_fixtures.h"
#include "tests/support/test_support.h"

#include <shlobj.h>

#include <string>

namespace {

const char *const Title = "Select Output Directory";

// Shows the browser while the robot runs `script` on it; returns the chosen folder.
std::string Browse(const char *title, const char *initialPath,
                   const std::function<void(WindowRobot &, HWND)> &script) {
    DialogTestRuntime();
    return DriveDialog(
        [&](WindowRobot &robot) {
            HWND browser =
                title ? RobotWaitDialogWithLabel(robot, title) : RobotWaitDialog(robot, nullptr);
            if (browser) script(robot, browser);
            if (browser) RobotWaitClosed(robot, browser);
        },
        [&] {
            int32_t position = TempString.end;
            DialogChooseFolder(title, initialPath, position);
            return TakeDialogResult(position);
        });
}

TEST(FolderDialog, OpensAtTheDriveRootAndReturnsItWithOneBackslash) {
    bool atRoot = false;
    EXPECT_EQ(Browse(Title, "C:\\",
                     [&](WindowRobot &robot, HWND browser) {
                         atRoot = RobotFolderSelected(robot, browser, "C:\\");
                         RobotPress(robot, browser, IDOK);
                     }),
              "C:\\");
    EXPECT_TRUE(atRoot);
}

TEST(FolderDialog, AChosenFolderEndsInExactlyOneBackslash) {
    std::string folder = TestFolder("chosen") + "out";
    ASSERT_TRUE(CreateDirectoryA(folder.c_str(), nullptr));
    HWND other = MakeTestWindow("other", true);
    bool otherEnabled = true;
    EXPECT_EQ(Browse(Title, "C:\\",
                     [&](WindowRobot &robot, HWND browser) {
                         otherEnabled = IsWindowEnabled(other) != 0;
                         RobotPress(robot, browser,
                                    RobotSelectFolder(robot, browser, folder) ? IDOK : IDCANCEL);
                     }),
              folder + "\\");
    EXPECT_FALSE(otherEnabled) << "the thread's other windows are disabled while it is open";
    EXPECT_TRUE(IsWindowEnabled(other));
    DestroyWindow(other);
}

TEST(FolderDialog, AnInitialFolderWithATrailingBackslashIsSelected) {
    // The browser selects a folder reliably only once it has had time to exist; the system
    // folder always has.
    char windows[MAX_PATH];
    UINT n = GetWindowsDirectoryA(windows, sizeof windows);
    ASSERT_TRUE(n > 3 && n < sizeof windows);
    std::string folder(windows, n);
    bool selected = false;
    EXPECT_EQ(Browse(Title, (folder + "\\").c_str(),
                     [&](WindowRobot &robot, HWND browser) {
                         selected = RobotFolderSelected(robot, browser, folder);
                         RobotPress(robot, browser, IDOK);
                     }),
              folder + "\\");
    EXPECT_TRUE(selected);
}

// My Computer has no path on a drive: OK is disabled there. Should the browser hand such a folder
// back all the same (OK pressed by a message), it opens again rather than end as if cancelled.
TEST(FolderDialog, AFolderWithoutAPathIsNotTakenForCancel) {
    LPITEMIDLIST computer = nullptr;
    ASSERT_EQ(SHGetSpecialFolderLocation(nullptr, CSIDL_DRIVES, &computer), S_OK);
    bool okEnabled = true, again = false;
    EXPECT_EQ(Browse(Title, "C:\\",
                     [&](WindowRobot &robot, HWND browser) {
                         SendMessageTimeoutA(browser, BFFM_SETSELECTIONA, FALSE,
                                             reinterpret_cast<LPARAM>(computer), SMTO_BLOCK,
                                             robot.timeoutMs, nullptr);
                         okEnabled = IsWindowEnabled(GetDlgItem(browser, IDOK)) != 0;
                         RobotPress(robot, browser, IDOK);
                         RobotWaitClosed(robot, browser);
                         HWND second = RobotWaitDialogWithLabel(robot, Title);
                         again = second && RobotSelectFolder(robot, second, "C:\\") &&
                                 RobotPress(robot, second, IDOK);
                     }),
              "C:\\");
    CoTaskMemFree(computer);
    EXPECT_FALSE(okEnabled);
    EXPECT_TRUE(again);
}

TEST(FolderDialog, CancelGivesTheEmptyStringAlsoForAbsentOrEmptyTexts) {
    for (const char *initial : {static_cast<const char *>(nullptr), ""})
        EXPECT_EQ(
            Browse(initial ? Title : nullptr, initial,
                   [&](WindowRobot &robot, HWND browser) { RobotPress(robot, browser, IDCANCEL); }),
            "");
}

// COM is per thread and the browser's flag per process: the helper program shows two browsers
// on a thread of its own that nothing else initialised, and reports what it found.
TEST(FolderDialog, TwoBrowsersInitialiseComOnce) {
    PROCESS_INFORMATION helper = {};
    ASSERT_TRUE(StartHelper(helper, "com"));
    WindowRobot robot;
    robot.processId = helper.dwProcessId;
    for (int press : {IDOK, IDCANCEL}) {
        HWND browser = RobotWaitDialogWithLabel(robot, Title);
        if (browser && RobotPress(robot, browser, press)) RobotWaitClosed(robot, browser);
    }
    std::string results;
    if (HWND box = RobotWaitDialog(robot, "Results")) {
        for (HWND control : RobotControls(box, "Static"))
            results += RobotText(robot, control);
        RobotPress(robot, box, IDOK);
    }
    EXPECT_EQ(results, "first: C:\\\r\nsecond: \r\nCOM: once");
    EXPECT_EQ(robot.failure, "");
    // A failed step must not leave the helper's dialogs open: cancel them until it ends.
    for (DWORD start = GetTickCount(); WaitForSingleObject(helper.hProcess, 100) == WAIT_TIMEOUT &&
                                       GetTickCount() - start < 10000;)
        RobotCloseDialogs(robot);
    EXPECT_EQ(WaitHelper(helper, 0), IDOK) << "the helper's closing message ends it";
}

} // namespace
