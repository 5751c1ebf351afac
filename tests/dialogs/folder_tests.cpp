// The folder browser, on the real browser driven by the window robot.
#include "runtime/dialogs/dialogs.h"
#include "runtime/strings/strings.h"
#include "tests/dialogs/dialog_fixtures.h"
#include "tests/support/test_support.h"
#include "tests/support/window_robot.h"

#include <gtest/gtest.h>

#include <string>

namespace {

const char *const Title = "Select Output Directory";

class FolderDialog : public ::testing::Test {
  protected:
    void SetUp() override { DialogTestRuntime(); }
    // Shows the browser while the robot runs `script` on it; the test fails if the robot did.
    std::string Browse(const char *title, const char *initialPath,
                       std::function<void(WindowRobot &, HWND)> script) {
        RobotRun run;
        bool started = RobotStart(run, [&](WindowRobot &robot) {
            HWND browser =
                title ? RobotWaitDialogWithLabel(robot, title) : RobotWaitDialog(robot, nullptr);
            if (!browser) return;
            script(robot, browser);
            RobotWaitClosed(robot, browser);
        });
        if (!started) {
            ADD_FAILURE() << RobotFinish(run);
            return std::string();
        }
        int32_t position = TempString.end;
        DialogChooseFolder(title, initialPath, position);
        std::string result = TakeDialogResult(position);
        EXPECT_EQ(RobotFinish(run), "");
        return result;
    }
};

TEST_F(FolderDialog, OpensAtTheDriveRootAndCancelGivesTheEmptyString) {
    bool atRoot = false;
    std::string result = Browse(Title, "C:\\", [&](WindowRobot &robot, HWND browser) {
        atRoot = RobotFolderSelected(robot, browser, "C:\\");
        RobotPress(robot, browser, IDCANCEL);
    });
    EXPECT_TRUE(atRoot);
    EXPECT_EQ(result, "");
}

TEST_F(FolderDialog, ADriveRootComesBackWithOneBackslash) {
    std::string result = Browse(Title, "C:\\", [&](WindowRobot &robot, HWND browser) {
        if (RobotFolderSelected(robot, browser, "C:\\"))
            RobotPress(robot, browser, IDOK);
        else
            RobotPress(robot, browser, IDCANCEL);
    });
    EXPECT_EQ(result, "C:\\");
}

TEST_F(FolderDialog, AChosenFolderEndsInExactlyOneBackslash) {
    std::string folder = TestFolder("chosen") + "out";
    ASSERT_TRUE(CreateDirectoryA(folder.c_str(), nullptr));
    HWND other = MakeTestWindow("other", true);
    bool otherEnabled = true;
    std::string result = Browse(Title, "C:\\", [&](WindowRobot &robot, HWND browser) {
        otherEnabled = IsWindowEnabled(other) != 0;
        RobotPress(robot, browser, RobotSelectFolder(robot, browser, folder) ? IDOK : IDCANCEL);
    });
    EXPECT_FALSE(otherEnabled) << "the thread's other windows are disabled while it is open";
    EXPECT_TRUE(IsWindowEnabled(other));
    DestroyWindow(other);
    EXPECT_EQ(result, folder + "\\");
}

TEST_F(FolderDialog, AnInitialFolderWithATrailingBackslashIsSelected) {
    // The browser selects a folder reliably only once it has had time to exist; the system
    // folder always has.
    char windows[MAX_PATH];
    UINT n = GetWindowsDirectoryA(windows, sizeof windows);
    ASSERT_TRUE(n > 3 && n < sizeof windows);
    std::string folder(windows, n);
    bool selected = false;
    std::string result =
        Browse(Title, (folder + "\\").c_str(), [&](WindowRobot &robot, HWND browser) {
            selected = RobotFolderSelected(robot, browser, folder);
            RobotPress(robot, browser, IDOK);
        });
    EXPECT_TRUE(selected);
    EXPECT_EQ(result, folder + "\\");
}

TEST_F(FolderDialog, AbsentOrEmptyTextsStillShowTheBrowser) {
    for (const char *initial : {static_cast<const char *>(nullptr), ""}) {
        std::string result =
            Browse(initial ? Title : nullptr, initial,
                   [&](WindowRobot &robot, HWND browser) { RobotPress(robot, browser, IDCANCEL); });
        EXPECT_EQ(result, "");
    }
}

} // namespace
