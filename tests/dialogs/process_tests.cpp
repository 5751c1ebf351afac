// The dialogs shown by another process and driven from this one, as an end-to-end test drives
// the program.
#include "tests/dialogs/dialog_fixtures.h"
#include "tests/support/test_support.h"
#include "tests/support/window_robot.h"

#include <gtest/gtest.h>

#include <string>

namespace {

class OtherProcess : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(StartHelper(helper, arguments())) << "no helper"; }
    virtual const char *arguments() = 0;
    void TearDown() override {
        // A failed step must not leave the helper's dialogs open: cancel them until it ends.
        bool failed = !robot.failure.empty();
        DWORD start = GetTickCount();
        while (failed && WaitForSingleObject(helper.info.hProcess, 100) == WAIT_TIMEOUT &&
               GetTickCount() - start < 10000)
            RobotCloseDialogs(robot);
        int code = WaitHelper(helper, 10000);
        if (!failed) EXPECT_EQ(code, IDOK) << "the helper's closing message ends it";
    }
    // Reads the closing message and confirms it.
    std::string Results() {
        HWND box = RobotWaitDialog(robot, "Results");
        if (!box) return std::string();
        std::string text;
        for (HWND control : RobotControls(box, "Static"))
            text += RobotText(robot, control);
        RobotPress(robot, box, IDOK);
        RobotWaitClosed(robot, box);
        return text;
    }
    HelperProcess helper;
    WindowRobot robot;
};

class Batch : public OtherProcess {
    const char *arguments() override { return "batch"; }
};

class Com : public OtherProcess {
    const char *arguments() override { return "com"; }
};

TEST_F(Batch, FilesAndFolderChosenFromAnotherProcess) {
    robot.processId = helper.info.dwProcessId;
    std::string folder = TestFolder("batch");
    ASSERT_TRUE(WriteWholeFile(folder + "walk_H8.png", "x", 1));
    ASSERT_TRUE(WriteWholeFile(folder + "notes.txt", "x", 1));
    std::string out = folder + "out";
    ASSERT_TRUE(CreateDirectoryA(out.c_str(), nullptr));

    HWND files = RobotWaitDialog(robot, "Select File(s)");
    ASSERT_TRUE(files && RobotChooseFiles(robot, files, folder, {"walk_H8.png", "notes.txt"}) &&
                RobotWaitClosed(robot, files))
        << robot.failure;
    HWND browser = RobotWaitDialogWithLabel(robot, "Select Output Directory");
    ASSERT_TRUE(browser) << robot.failure;
    EXPECT_TRUE(RobotFolderSelected(robot, browser, "C:\\"));
    ASSERT_TRUE(RobotSelectFolder(robot, browser, out) && RobotPress(robot, browser, IDOK) &&
                RobotWaitClosed(robot, browser))
        << robot.failure;
    EXPECT_EQ(Results(), folder + "walk_H8.png\r\n" + folder + "notes.txt\r\n" + out + "\\");
    EXPECT_EQ(robot.failure, "");
}

TEST_F(Com, TwoFolderBrowsersInitialiseComOnce) {
    robot.processId = helper.info.dwProcessId;
    for (int call = 0; call < 2; call++) {
        HWND browser = RobotWaitDialogWithLabel(robot, "Select Output Directory");
        ASSERT_TRUE(browser) << robot.failure;
        RobotPress(robot, browser, call == 0 ? IDOK : IDCANCEL);
        ASSERT_TRUE(RobotWaitClosed(robot, browser)) << robot.failure;
    }
    EXPECT_EQ(Results(), "first: C:\\\r\nsecond: \r\nCOM: once");
    EXPECT_EQ(robot.failure, "");
}

} // namespace
