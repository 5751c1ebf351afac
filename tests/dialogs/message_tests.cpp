// The message box and the modal bracket, on real windows.
#include "runtime/dialogs/dialogs.h"
#include "runtime/memory/memory.h"
#include "tests/dialogs/dialog_fixtures.h"
#include "tests/support/window_robot.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

class MessageDialog : public ::testing::Test {
  protected:
    void SetUp() override { DialogTestRuntime(); }
    void TearDown() override {
        for (HWND window : windows)
            DestroyWindow(window);
        PumpMessages();
    }
    HWND Window(const char *caption, bool visible) {
        HWND window = MakeTestWindow(caption, visible);
        windows.push_back(window);
        return window;
    }
    std::vector<HWND> windows;
};

struct BoxSeen {
    std::vector<std::string> statics;
    std::vector<std::string> buttons;
};

// Reads the box's texts and presses OK.
void ReadAndConfirm(WindowRobot &robot, const char *title, BoxSeen &seen) {
    HWND box = RobotWaitDialog(robot, title);
    if (!box) return;
    for (HWND control : RobotControls(box, "Static")) {
        std::string text = RobotText(robot, control);
        if (!text.empty()) seen.statics.push_back(text);
    }
    for (HWND button : RobotControls(box, "Button"))
        seen.buttons.push_back(RobotText(robot, button));
    RobotPress(robot, box, IDOK);
    RobotWaitClosed(robot, box);
}

TEST_F(MessageDialog, StartUpErrorShowsOneOkButtonAndReturnsOk) {
    RobotRun run;
    BoxSeen seen;
    ASSERT_TRUE(RobotStart(run, [&](WindowRobot &robot) { ReadAndConfirm(robot, "Error", seen); }));
    int32_t button = DialogMessage("Error", "Can't initialize system", 0);
    ASSERT_EQ(RobotFinish(run), "");
    EXPECT_EQ(button, IDOK);
    EXPECT_EQ(seen.statics, std::vector<std::string>{"Can't initialize system"});
    EXPECT_EQ(seen.buttons, std::vector<std::string>{"OK"});
}

TEST_F(MessageDialog, SummaryKeepsItsLineBreaks) {
    const char *summary = "Files Selected: 2\r\nFiles Converted: 1\r\nFiles Skipped: 1\r\n"
                          "Files Errors: 0\r\n";
    RobotRun run;
    BoxSeen seen;
    ASSERT_TRUE(RobotStart(
        run, [&](WindowRobot &robot) { ReadAndConfirm(robot, "Conversion Completed", seen); }));
    int32_t button = DialogMessage("Conversion Completed", summary, 0);
    ASSERT_EQ(RobotFinish(run), "");
    EXPECT_EQ(button, IDOK);
    ASSERT_EQ(seen.statics.size(), 1u);
    EXPECT_EQ(seen.statics[0], summary);
}

TEST_F(MessageDialog, FlagsReachTheBoxAndItsAnswerComesBack) {
    RobotRun run;
    std::vector<std::string> buttons;
    ASSERT_TRUE(RobotStart(run, [&](WindowRobot &robot) {
        HWND box = RobotWaitDialog(robot, "Question");
        if (!box) return;
        for (HWND button : RobotControls(box, "Button"))
            buttons.push_back(RobotText(robot, button));
        RobotPress(robot, box, IDNO);
        RobotWaitClosed(robot, box);
    }));
    int32_t button = DialogMessage("Question", "Go on?", MB_YESNO);
    ASSERT_EQ(RobotFinish(run), "");
    EXPECT_EQ(button, IDNO);
    EXPECT_EQ(buttons.size(), 2u);
}

TEST_F(MessageDialog, DisablesTheThreadsOtherWindowsWhileOpen) {
    HWND front = Window("front", true);
    HWND other = Window("other", true);
    HWND hidden = Window("hidden", false);
    HWND disabled = Window("disabled", true);
    EnableWindow(disabled, FALSE);
    SetForegroundWindow(front);
    PumpMessages();
    ASSERT_EQ(GetForegroundWindow(), front) << "the test needs its window in the foreground";
    ASSERT_EQ(DialogOwnerWindow(), front);

    struct Seen {
        bool other, hidden, disabled;
        HWND owner;
    } seen{};
    RobotRun run;
    ASSERT_TRUE(RobotStart(run, [&](WindowRobot &robot) {
        HWND box = RobotWaitDialog(robot, "Modal");
        if (!box) return;
        seen = {IsWindowEnabled(other) != 0, IsWindowEnabled(hidden) != 0,
                IsWindowEnabled(disabled) != 0, RobotOwner(box)};
        RobotPress(robot, box, IDOK);
        RobotWaitClosed(robot, box);
    }));
    int32_t button = DialogMessage("Modal", "Other windows are disabled now.", 0);
    ASSERT_EQ(RobotFinish(run), "");
    EXPECT_EQ(button, IDOK);

    // The box disables its owner, the foreground window, by itself while it is open.
    EXPECT_EQ(seen.owner, front);
    EXPECT_FALSE(seen.other);
    EXPECT_TRUE(seen.hidden) << "a hidden window is left alone";
    EXPECT_FALSE(seen.disabled);

    EXPECT_TRUE(IsWindowEnabled(front));
    EXPECT_TRUE(IsWindowEnabled(other));
    EXPECT_TRUE(IsWindowEnabled(hidden));
    EXPECT_FALSE(IsWindowVisible(hidden));
    EXPECT_FALSE(IsWindowEnabled(disabled)) << "a window disabled before stays disabled";

    // Nothing is left recorded: a window disabled now is not enabled by a re-enable pass.
    EnableWindow(other, FALSE);
    DialogModalWindows(0);
    EXPECT_FALSE(IsWindowEnabled(other));
}

TEST_F(MessageDialog, BracketLeavesTheForegroundWindowEnabled) {
    HWND front = Window("front", true);
    HWND other = Window("other", true);
    SetForegroundWindow(front);
    PumpMessages();
    ASSERT_EQ(GetForegroundWindow(), front) << "the test needs its window in the foreground";
    DialogModalWindows(1);
    EXPECT_TRUE(IsWindowEnabled(front));
    EXPECT_FALSE(IsWindowEnabled(other));
    DialogModalWindows(0);
    EXPECT_TRUE(IsWindowEnabled(front));
    EXPECT_TRUE(IsWindowEnabled(other));
}

TEST_F(MessageDialog, WithAnotherProgramInFrontTheBoxHasNoOwner) {
    HWND mine = Window("mine", true);
    SetForegroundWindow(mine);
    PumpMessages();
    HelperProcess helper;
    ASSERT_TRUE(StartHelper(helper, "window \"Another program\""));
    DWORD start = GetTickCount();
    HWND foreign = nullptr;
    while (GetTickCount() - start < 5000) {
        foreign = FindWindowA("DialogHelperWindow", "Another program");
        if (foreign && GetForegroundWindow() == foreign) break;
        Sleep(20);
        PumpMessages();
    }
    if (!foreign || GetForegroundWindow() != foreign) {
        PostMessageA(foreign, WM_CLOSE, 0, 0);
        WaitHelper(helper, 5000);
        FAIL() << "the other program's window did not come to the foreground";
    }
    EXPECT_EQ(DialogOwnerWindow(), nullptr);

    bool mineEnabled = true;
    HWND owner = mine;
    RobotRun run;
    ASSERT_TRUE(RobotStart(run, [&](WindowRobot &robot) {
        HWND box = RobotWaitDialog(robot, "Alone");
        if (!box) return;
        mineEnabled = IsWindowEnabled(mine) != 0;
        owner = RobotOwner(box);
        RobotPress(robot, box, IDOK);
        RobotWaitClosed(robot, box);
    }));
    int32_t button = DialogMessage("Alone", "No owner.", 0);
    std::string failure = RobotFinish(run);
    PostMessageA(foreign, WM_CLOSE, 0, 0);
    EXPECT_EQ(WaitHelper(helper, 5000), 0);
    ASSERT_EQ(failure, "");
    EXPECT_EQ(button, IDOK);
    EXPECT_EQ(owner, nullptr);
    EXPECT_FALSE(mineEnabled) << "with no window of ours in front, every one is disabled";
    EXPECT_TRUE(IsWindowEnabled(mine));
}

// A thread that disables its windows through the bracket and re-enables them when told to.
struct OtherThread {
    HANDLE disabled = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    HANDLE go = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    HWND window = nullptr;
    HWND front = nullptr;
};

DWORD WINAPI OtherThreadMain(void *context) {
    auto *other = static_cast<OtherThread *>(context);
    other->window = MakeTestWindow("other thread", true);
    // The window must not be in front; the main thread's is.
    SetForegroundWindow(other->front);
    DialogModalWindows(1);
    SetEvent(other->disabled);
    DWORD start = GetTickCount();
    while (GetTickCount() - start < 10000 &&
           MsgWaitForMultipleObjects(1, &other->go, FALSE, 100, QS_ALLINPUT) != WAIT_OBJECT_0)
        PumpMessages();
    DialogModalWindows(0);
    bool enabled = IsWindowEnabled(other->window) != 0;
    DestroyWindow(other->window);
    return enabled ? 0 : 1;
}

TEST_F(MessageDialog, EachThreadReEnablesOnlyWhatItDisabled) {
    HWND front = Window("front", true);
    HWND first = Window("first", true);
    SetForegroundWindow(front);
    PumpMessages();
    ASSERT_EQ(GetForegroundWindow(), front) << "the test needs its window in the foreground";

    OtherThread other;
    other.front = front;
    HANDLE thread = CreateThread(nullptr, 0, OtherThreadMain, &other, 0, nullptr);
    ASSERT_NE(thread, nullptr);
    DWORD waited = GetTickCount();
    while (WaitForSingleObject(other.disabled, 20) != WAIT_OBJECT_0 &&
           GetTickCount() - waited < 5000)
        PumpMessages();
    ASSERT_NE(other.window, nullptr);
    EXPECT_FALSE(IsWindowEnabled(other.window));
    EXPECT_TRUE(IsWindowEnabled(first)) << "another thread's pass leaves our windows alone";

    // Two passes of our own, one re-enable pass: both windows come back, the other thread's not.
    DialogModalWindows(1);
    HWND second = Window("second", true);
    DialogModalWindows(1);
    EXPECT_FALSE(IsWindowEnabled(first));
    EXPECT_FALSE(IsWindowEnabled(second));
    DialogModalWindows(0);
    EXPECT_TRUE(IsWindowEnabled(first));
    EXPECT_TRUE(IsWindowEnabled(second));
    EXPECT_FALSE(IsWindowEnabled(other.window));

    SetEvent(other.go);
    DWORD code = 2;
    waited = GetTickCount();
    while (WaitForSingleObject(thread, 20) != WAIT_OBJECT_0 && GetTickCount() - waited < 15000)
        PumpMessages();
    GetExitCodeThread(thread, &code);
    EXPECT_EQ(code, 0u) << "the other thread's window came back enabled";
    CloseHandle(thread);
    CloseHandle(other.disabled);
    CloseHandle(other.go);
}

TEST_F(MessageDialog, AWindowThatCannotBeRecordedIsNotDisabled) {
    HWND front = Window("front", true);
    HWND other = Window("other", true);
    SetForegroundWindow(front);
    PumpMessages();
    // A full heap that cannot grow stands in for the object heap.
    HANDLE full = HeapCreate(0, 0, 64 * 1024);
    ASSERT_NE(full, nullptr);
    for (size_t size = 4096; size; size /= 2)
        while (HeapAlloc(full, 0, size)) {
        }
    HANDLE objects = ObjectHeap;
    ObjectHeap = full;
    DialogModalWindows(1);
    bool enabled = IsWindowEnabled(other) != 0;
    ObjectHeap = objects;
    DialogModalWindows(0);
    HeapDestroy(full);
    EXPECT_TRUE(enabled);
    EXPECT_TRUE(IsWindowEnabled(other));
}

} // namespace
