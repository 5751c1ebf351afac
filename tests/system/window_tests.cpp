#define DIRECTINPUT_VERSION 0x0700

#include "runtime/memory/memory.h"
#include "runtime/system/system.h"
#include "tests/system/import_patch.h"

#include <gtest/gtest.h>

#include <dinput.h>

namespace {

class RuntimeEnvironment : public ::testing::Environment {
  public:
    void SetUp() override {
        ModuleHandle = GetModuleHandleA(nullptr);
        MainHeapInit();
        ObjectHeapInit();
    }
};

const ::testing::Environment *const runtimeEnvironment =
    ::testing::AddGlobalTestEnvironment(new RuntimeEnvironment);

// Replaces this program's import of DefWindowProcA, so that a test sees whether the window
// procedure handed a message on, and with what result it came back.
constexpr LRESULT DefaultResult = 0x5EED;
int defaultCalls;
UINT defaultMessage;

LRESULT WINAPI RecordingDefWindowProc(HWND, UINT message, WPARAM, LPARAM) {
    defaultCalls++;
    defaultMessage = message;
    return DefaultResult;
}

HWND MadeWindow() {
    EXPECT_EQ(RuntimeWindowInit(), 1);
    return RuntimeWindow;
}

TEST(RuntimeWindow, TwoInitsMakeOneHiddenOnePixelPopup) {
    ASSERT_EQ(RuntimeWindowInit(), 1);
    HWND first = RuntimeWindow;
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(RuntimeWindowInit(), 1);
    EXPECT_EQ(RuntimeWindow, first);
    EXPECT_EQ(RuntimeWindowCreated, 1);

    EXPECT_EQ(FindWindowA("RadorizezuZadi Class", nullptr), first);
    EXPECT_FALSE(IsWindowVisible(first));
    LONG style = GetWindowLongA(first, GWL_STYLE);
    EXPECT_TRUE(style & WS_POPUP);
    EXPECT_FALSE(style & (WS_CAPTION | WS_CHILD));
    RECT bounds;
    ASSERT_TRUE(GetWindowRect(first, &bounds));
    EXPECT_EQ(bounds.left, 0);
    EXPECT_EQ(bounds.top, 0);
    EXPECT_EQ(bounds.right - bounds.left, 1);
    EXPECT_EQ(bounds.bottom - bounds.top, 1);
    char title[16] = "x";
    EXPECT_EQ(GetWindowTextA(first, title, sizeof title), 0);
    EXPECT_EQ(GetParent(first), nullptr);
    EXPECT_EQ(reinterpret_cast<HINSTANCE>(GetWindowLongPtrA(first, GWLP_HINSTANCE)), ModuleHandle);
}

TEST(RuntimeWindow, ClassCarriesTheProgramIconAndBlackBackground) {
    MadeWindow();
    WNDCLASSEXA windowClass = {};
    windowClass.cbSize = sizeof windowClass;
    ASSERT_TRUE(GetClassInfoExA(ModuleHandle, "RadorizezuZadi Class", &windowClass));
    EXPECT_EQ(windowClass.style, static_cast<UINT>(CS_DBLCLKS));
    EXPECT_EQ(windowClass.lpfnWndProc, RuntimeWindowProc);
    EXPECT_EQ(windowClass.hbrBackground, GetStockObject(BLACK_BRUSH));
    EXPECT_EQ(windowClass.hCursor, nullptr);
    EXPECT_EQ(windowClass.cbClsExtra, 0);
    EXPECT_EQ(windowClass.cbWndExtra, 0);
    EXPECT_EQ(windowClass.lpszMenuName, nullptr);
    // This program links the resources: the class must have picked up icon 1.
    ASSERT_NE(windowClass.hIcon, nullptr);
    ICONINFO info = {};
    ASSERT_TRUE(GetIconInfo(windowClass.hIcon, &info));
    EXPECT_TRUE(info.fIcon);
    if (info.hbmColor) DeleteObject(info.hbmColor);
    if (info.hbmMask) DeleteObject(info.hbmMask);
}

TEST(RuntimeWindow, CloseRequestLeavesTheWindowInPlace) {
    HWND window = MadeWindow();
    EXPECT_EQ(SendMessageA(window, WM_CLOSE, 0, 0), 0);
    EXPECT_TRUE(IsWindow(window));
    EXPECT_EQ(RuntimeWindowInit(), 1);
    EXPECT_EQ(RuntimeWindow, window);
}

TEST(RuntimeWindow, MessageTableSwallowsOrHandsOn) {
    HWND window = MadeWindow();
    ImportPatch patch("user32.dll", "DefWindowProcA",
                      reinterpret_cast<void *>(RecordingDefWindowProc));
    ASSERT_TRUE(patch.Active());

    struct Handled {
        UINT message;
        WPARAM wParam;
        LRESULT result;
    };
    const Handled handled[] = {
        {WM_ACTIVATE, WA_ACTIVE, 0},
        {WM_ACTIVATE, WA_INACTIVE, 0},
        {WM_PAINT, 0, 1},
        {WM_CLOSE, 0, 0},
        {WM_ERASEBKGND, 0, 1},
        {WM_KEYUP, VK_F10, 0},
        {WM_KEYUP, 'A', 0},
        {WM_SYSKEYUP, VK_MENU, 0},
        {WM_SYSKEYUP, VK_F4, 0},
        {WM_LBUTTONDOWN, MK_LBUTTON, 0},
        {WM_LBUTTONUP, 0, 0},
        {WM_RBUTTONDOWN, MK_RBUTTON, 0},
        {WM_RBUTTONUP, 0, 0},
    };
    for (const Handled &h : handled) {
        SCOPED_TRACE(testing::Message() << "message 0x" << std::hex << h.message);
        defaultCalls = 0;
        EXPECT_EQ(RuntimeWindowProc(window, h.message, h.wParam, 0), h.result);
        EXPECT_EQ(defaultCalls, 0);
    }

    // Neighbours of the table's messages go to the default procedure, and its result comes back.
    const UINT handedOn[] = {WM_MOUSEMOVE,  WM_LBUTTONDBLCLK, WM_RBUTTONDBLCLK, WM_KEYDOWN,
                             WM_SYSKEYDOWN, WM_CHAR,          WM_SETFOCUS,      WM_ACTIVATEAPP,
                             WM_NCACTIVATE, WM_MBUTTONDOWN,   WM_SETCURSOR,     WM_USER};
    for (UINT message : handedOn) {
        SCOPED_TRACE(testing::Message() << "message 0x" << std::hex << message);
        defaultCalls = 0;
        defaultMessage = 0;
        EXPECT_EQ(RuntimeWindowProc(window, message, 0, 0), DefaultResult);
        EXPECT_EQ(defaultCalls, 1);
        EXPECT_EQ(defaultMessage, message);
    }
}

TEST(RuntimeWindow, PaintValidatesWithoutDrawing) {
    MadeWindow();
    // A hidden window has nothing to paint: a visible window of the same class shows the handling.
    HWND shown = CreateWindowExA(0, "RadorizezuZadi Class", "", WS_POPUP | WS_VISIBLE, 10, 10, 20,
                                 20, nullptr, nullptr, ModuleHandle, nullptr);
    ASSERT_NE(shown, nullptr);
    ValidateRect(shown, nullptr);
    InvalidateRect(shown, nullptr, TRUE);
    EXPECT_TRUE(GetUpdateRect(shown, nullptr, FALSE));
    EXPECT_EQ(SendMessageA(shown, WM_PAINT, 0, 0), 1);
    EXPECT_FALSE(GetUpdateRect(shown, nullptr, FALSE));
    DestroyWindow(shown);
}

// Unacquiring a device that is not acquired has no effect; that tells whether it was.
bool StillAcquired(IDirectInputDevice7A *device) {
    return device->Unacquire() == DI_OK;
}

TEST(RuntimeWindow, DeactivationUnacquiresTheMouse) {
    HWND window = MadeWindow();
    ASSERT_EQ(MouseInit(), 1);
    IDirectInputDevice7A *mouse = Mouse.device;
    ASSERT_NE(mouse, nullptr);
    ASSERT_EQ(mouse->SetCooperativeLevel(window, DISCL_NONEXCLUSIVE | DISCL_BACKGROUND), DI_OK);

    ASSERT_EQ(mouse->Acquire(), DI_OK);
    EXPECT_EQ(SendMessageA(window, WM_ACTIVATE, WA_ACTIVE, 0), 0);
    EXPECT_TRUE(StillAcquired(mouse));

    ASSERT_EQ(mouse->Acquire(), DI_OK);
    EXPECT_EQ(SendMessageA(window, WM_ACTIVATE, WA_CLICKACTIVE, 0), 0);
    EXPECT_TRUE(StillAcquired(mouse));

    ASSERT_EQ(mouse->Acquire(), DI_OK);
    EXPECT_EQ(SendMessageA(window, WM_ACTIVATE, WA_INACTIVE, 0), 0);
    EXPECT_FALSE(StillAcquired(mouse));

    // A minimised window losing activation: only the low word says "inactive".
    ASSERT_EQ(mouse->Acquire(), DI_OK);
    EXPECT_EQ(SendMessageA(window, WM_ACTIVATE, MAKEWPARAM(WA_INACTIVE, 1), 0), 0);
    EXPECT_FALSE(StillAcquired(mouse));

    // Once the mouse is freed, deactivation has nothing to unacquire.
    MouseFree();
    EXPECT_EQ(Mouse.device, nullptr);
    EXPECT_EQ(SendMessageA(window, WM_ACTIVATE, WA_INACTIVE, 0), 0);
}

} // namespace
