// The message box and the modal bracket, on real windows.
#include "runtime/dialogs/dialogs.h"
#include "runtime/memory/memory.h"
#include "tests/dialogs/dialog_fixtures.h"

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
    HWND Window(const char *caption, bool visible = true) {
        windows.push_back(MakeTestWindow(caption, visible));
        return windows.back();
    }
    // Brings `window` to the foreground, which the bracket's cases need.
    static bool Front(HWND window) {
        SetForegroundWindow(window);
        PumpMessages();
        return GetForegroundWindow() == window;
    }
    // Shows a message box while the robot runs `look` on it and then presses `press`.
    int32_t Show(const char *title, const char *text, int32_t flags, int press,
                 const std::function<void(WindowRobot &, HWND)> &look) {
        return DriveDialog(
            [&](WindowRobot &robot) {
                HWND box = RobotWaitDialog(robot, title);
                if (!box) return;
                look(robot, box);
                RobotPress(robot, box, press);
                RobotWaitClosed(robot, box);
            },
            [&] { return DialogMessage(title, text, flags); });
    }
    std::vector<HWND> windows;
};

TEST_F(MessageDialog, ShowsTitleTextAndButtonsAndReturnsThePressedOne) {
    struct Case {
        const char *title, *text;
        int32_t flags;
        int press;
        size_t buttons;
    } const cases[] = {
        {"Error", "Can't initialize system", 0, IDOK, 1},
        {"Conversion Completed",
         "Files Selected: 2\r\nFiles Converted: 1\r\nFiles Skipped: 1\r\nFiles Errors: 0\r\n", 0,
         IDOK, 1},
        {"Question", "Go on?", MB_YESNO, IDNO, 2},
    };
    for (const Case &c : cases) {
        std::string text;
        std::vector<std::string> buttons;
        int32_t answer = Show(c.title, c.text, c.flags, c.press, [&](WindowRobot &robot, HWND box) {
            for (HWND control : RobotControls(box, "Static"))
                text += RobotText(robot, control);
            for (HWND button : RobotControls(box, "Button"))
                buttons.push_back(RobotText(robot, button));
        });
        EXPECT_EQ(answer, c.press) << c.title;
        EXPECT_EQ(text, c.text) << "line breaks kept";
        EXPECT_EQ(buttons.size(), c.buttons) << c.title;
        if (c.flags == 0) {
            EXPECT_EQ(buttons, std::vector<std::string>{"OK"});
        }
    }
}

TEST_F(MessageDialog, DisablesTheThreadsOtherWindowsWhileOpen) {
    HWND front = Window("front"), other = Window("other"), hidden = Window("hidden", false);
    HWND disabled = Window("disabled");
    EnableWindow(disabled, FALSE);
    ASSERT_TRUE(Front(front)) << "the test needs its window in the foreground";
    ASSERT_EQ(DialogOwnerWindow(), front);

    std::vector<bool> seen;
    HWND owner = nullptr;
    EXPECT_EQ(Show("Modal", "Other windows are disabled now.", 0, IDOK,
                   [&](WindowRobot &, HWND box) {
                       owner = GetWindow(box, GW_OWNER);
                       for (HWND window : {other, hidden, disabled})
                           seen.push_back(IsWindowEnabled(window) != 0);
                   }),
              IDOK);
    // The box disables its owner, the foreground window, by itself while it is open. A hidden
    // window is left alone, and one disabled before stays disabled.
    EXPECT_EQ(owner, front);
    EXPECT_EQ(seen, (std::vector<bool>{false, true, false}));
    for (HWND window : {front, other, hidden})
        EXPECT_TRUE(IsWindowEnabled(window));
    EXPECT_FALSE(IsWindowEnabled(disabled));

    // Nothing is left recorded: a window disabled now is not enabled by a re-enable pass.
    EnableWindow(other, FALSE);
    DialogModalWindows(0);
    EXPECT_FALSE(IsWindowEnabled(other));
}

TEST_F(MessageDialog, WithAnotherProgramInFrontTheBoxHasNoOwner) {
    HWND mine = Window("mine");
    Front(mine);
    PROCESS_INFORMATION helper = {};
    ASSERT_TRUE(StartHelper(helper, "front \"Another program\""));
    WindowRobot robot;
    robot.processId = helper.dwProcessId;
    HWND foreign = RobotWaitDialog(robot, "Another program");
    for (DWORD start = GetTickCount();
         foreign && GetForegroundWindow() != foreign && GetTickCount() - start < 5000;
         PumpMessages())
        Sleep(20);
    bool inFront = foreign && GetForegroundWindow() == foreign;
    bool mineEnabled = true;
    HWND owner = mine;
    int32_t answer = 0;
    if (inFront)
        answer = Show("Alone", "No owner.", 0, IDOK, [&](WindowRobot &, HWND box) {
            mineEnabled = IsWindowEnabled(mine) != 0;
            owner = GetWindow(box, GW_OWNER);
        });
    if (foreign) RobotPress(robot, foreign, IDOK);
    EXPECT_EQ(WaitHelper(helper, 5000), IDOK);
    ASSERT_TRUE(inFront) << "the other program did not come to the foreground; " << robot.failure;
    EXPECT_EQ(answer, IDOK);
    EXPECT_EQ(owner, nullptr);
    EXPECT_FALSE(mineEnabled) << "with no window of ours in front, every one is disabled";
    EXPECT_TRUE(IsWindowEnabled(mine));
}

// A thread that disables its window through the bracket and re-enables it when told to.
struct OtherThread {
    HANDLE disabled = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    HANDLE go = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    HWND window = nullptr, front = nullptr;
};

DWORD WINAPI OtherThreadMain(void *context) {
    auto *other = static_cast<OtherThread *>(context);
    other->window = MakeTestWindow("other thread", true);
    SetForegroundWindow(other->front); // the main thread's window stays in front
    DialogModalWindows(1);
    SetEvent(other->disabled);
    PumpUntil(other->go, 10000);
    DialogModalWindows(0);
    bool enabled = IsWindowEnabled(other->window) != 0;
    DestroyWindow(other->window);
    return enabled ? 0 : 1;
}

TEST_F(MessageDialog, EachThreadReEnablesOnlyWhatItDisabled) {
    HWND front = Window("front"), first = Window("first");
    ASSERT_TRUE(Front(front)) << "the test needs its window in the foreground";
    OtherThread other;
    other.front = front;
    HANDLE thread = CreateThread(nullptr, 0, OtherThreadMain, &other, 0, nullptr);
    ASSERT_NE(thread, nullptr);
    EXPECT_TRUE(PumpUntil(other.disabled, 5000)); // no early return: the thread uses `other`
    EXPECT_FALSE(IsWindowEnabled(other.window));
    EXPECT_TRUE(IsWindowEnabled(first)) << "another thread's pass leaves our windows alone";

    // Two passes of ours, one re-enable pass: both our windows come back, the other thread's stays
    // disabled until that thread re-enables it. The foreground window is never disabled.
    DialogModalWindows(1);
    HWND second = Window("second");
    DialogModalWindows(1);
    EXPECT_TRUE(IsWindowEnabled(front));
    EXPECT_FALSE(IsWindowEnabled(first) || IsWindowEnabled(second));
    DialogModalWindows(0);
    EXPECT_TRUE(IsWindowEnabled(first) && IsWindowEnabled(second));
    EXPECT_FALSE(IsWindowEnabled(other.window));
    SetEvent(other.go);
    DWORD code = 2;
    EXPECT_TRUE(PumpUntil(thread, 15000) && GetExitCodeThread(thread, &code) && code == 0)
        << "the other thread's window came back enabled";
    CloseHandle(thread);
    CloseHandle(other.disabled);
    CloseHandle(other.go);
}

TEST_F(MessageDialog, AWindowThatCannotBeRecordedIsNotDisabled) {
    HWND other = Window("other");
    ASSERT_TRUE(Front(Window("front"))) << "the test needs its window in the foreground";
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
}

} // namespace
