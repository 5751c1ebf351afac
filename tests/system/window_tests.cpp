#define DIRECTINPUT_VERSION 0x0700

#include "runtime/memory/memory.h"
#include "runtime/system/system.h"
#include "tests/system/import_patch.h"

#include <gtest/gtest.h>

#include <dinput.h>

namespace {

// Replaces this program's import of DefWindowProcA, so that a test sees whether the window
// procedure handed a message on, and with what result it came back.
constexpr LRESULT DefaultResult = 0x5EED;
int DefaultCalls;
UINT DefaultMessage;

LRESULT WINAPI RecordingDefWindowProc(HWND, UINT message, WPARAM, LPARAM) {
    DefaultCalls++;
    DefaultMessage = message;
    return DefaultResult;
}

HWND MadeWindow() {
    if (!MainHeap) {
        ModuleHandle = GetModuleHandleA(nullptr);
        MainHeapInit();
        ObjectHeapInit();
    }
    EXPECT_EQ(RuntimeWindowInit(), 1);
    return RuntimeWindow;
}

TEST(RuntimeWindow, TwoInitsMakeOneHiddenOnePixelPopupThatStays) {
    HWND first = MadeWindow();
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(MadeWindow(), first);
    EXPECT_EQ(FindWindowA("RadorizezuZadi Class", nullptr), first);
    EXPECT_FALSE(IsWindowVisible(first));
    LONG style = GetWindowLongA(first, GWL_STYLE);
    EXPECT_TRUE(style & WS_POPUP);
    EXPECT_FALSE(style & (WS_CAPTION | WS_CHILD));
    RECT bounds, onePixel = {0, 0, 1, 1};
    ASSERT_TRUE(GetWindowRect(first, &bounds));
    EXPECT_TRUE(EqualRect(&bounds, &onePixel));
    EXPECT_EQ(GetWindowTextLengthA(first), 0);
    EXPECT_EQ(GetParent(first), nullptr);

    // A close request leaves it in place.
    EXPECT_EQ(SendMessageA(first, WM_CLOSE, 0, 0), 0);
    EXPECT_TRUE(IsWindow(first));
    EXPECT_EQ(MadeWindow(), first);

    // The class carries the program's icon and a black background.
    WNDCLASSEXA windowClass = {};
    windowClass.cbSize = sizeof windowClass;
    ASSERT_TRUE(GetClassInfoExA(ModuleHandle, "RadorizezuZadi Class", &windowClass));
    EXPECT_EQ(windowClass.style, static_cast<UINT>(CS_DBLCLKS));
    EXPECT_EQ(windowClass.lpfnWndProc, RuntimeWindowProc);
    EXPECT_EQ(windowClass.hbrBackground, GetStockObject(BLACK_BRUSH));
    EXPECT_EQ(windowClass.hCursor, nullptr);
    // This program links the resources: the class must have picked up icon 1.
    ICONINFO info = {};
    ASSERT_TRUE(windowClass.hIcon && GetIconInfo(windowClass.hIcon, &info));
    EXPECT_TRUE(info.fIcon);
    DeleteObject(info.hbmColor);
    DeleteObject(info.hbmMask);
}

TEST(RuntimeWindow, MessageTableSwallowsOrHandsOn) {
    HWND window = MadeWindow();
    ImportPatch patch("user32.dll", "DefWindowProcA",
                      reinterpret_cast<void *>(RecordingDefWindowProc));
    ASSERT_TRUE(patch.Active());

    const struct {
        UINT message;
        WPARAM wParam;
        LRESULT result;
    } handled[] = {
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
    for (const auto &h : handled) {
        DefaultCalls = 0;
        EXPECT_EQ(RuntimeWindowProc(window, h.message, h.wParam, 0), h.result) << h.message;
        EXPECT_EQ(DefaultCalls, 0) << h.message;
    }

    // Neighbours of the table's messages go to the default procedure, and its result comes back.
    for (UINT message :
         {WM_MOUSEMOVE, WM_LBUTTONDBLCLK, WM_RBUTTONDBLCLK, WM_KEYDOWN, WM_SYSKEYDOWN, WM_CHAR,
          WM_SETFOCUS, WM_ACTIVATEAPP, WM_NCACTIVATE, WM_MBUTTONDOWN, WM_SETCURSOR, WM_USER}) {
        DefaultCalls = 0;
        EXPECT_EQ(RuntimeWindowProc(window, message, 0, 0), DefaultResult) << message;
        EXPECT_EQ(DefaultCalls, 1) << message;
        EXPECT_EQ(DefaultMessage, message);
    }
}

TEST(RuntimeWindow, PaintValidatesWithoutDrawing) {
    MadeWindow();
    // A hidden window has nothing to paint: a visible window of the same class shows the handling.
    HWND shown = CreateWindowExA(0, "RadorizezuZadi Class", "", WS_POPUP | WS_VISIBLE, 10, 10, 20,
                                 20, nullptr, nullptr, ModuleHandle, nullptr);
    ASSERT_NE(shown, nullptr);
    InvalidateRect(shown, nullptr, TRUE);
    EXPECT_TRUE(GetUpdateRect(shown, nullptr, FALSE));
    EXPECT_EQ(SendMessageA(shown, WM_PAINT, 0, 0), 1);
    EXPECT_FALSE(GetUpdateRect(shown, nullptr, FALSE));
    DestroyWindow(shown);
}

TEST(RuntimeWindow, DeactivationUnacquiresTheMouse) {
    HWND window = MadeWindow();
    ASSERT_EQ(MouseInit(), 1);
    IDirectInputDevice7A *mouse = Mouse.device;
    ASSERT_NE(mouse, nullptr);
    ASSERT_EQ(mouse->SetCooperativeLevel(window, DISCL_NONEXCLUSIVE | DISCL_BACKGROUND), DI_OK);
    // A minimised window losing activation: only the low word says "inactive".
    const struct {
        WPARAM state;
        bool staysAcquired;
    } cases[] = {{WA_ACTIVE, true},
                 {WA_CLICKACTIVE, true},
                 {WA_INACTIVE, false},
                 {MAKEWPARAM(WA_INACTIVE, 1), false}};
    for (const auto &c : cases) {
        ASSERT_EQ(mouse->Acquire(), DI_OK);
        EXPECT_EQ(SendMessageA(window, WM_ACTIVATE, c.state, 0), 0);
        // Unacquiring a device that is not acquired has no effect; that tells whether it was.
        EXPECT_EQ(mouse->Unacquire() == DI_OK, c.staysAcquired) << c.state;
    }
    // Once the mouse is freed, deactivation has nothing to unacquire.
    MouseFree();
    EXPECT_EQ(SendMessageA(window, WM_ACTIVATE, WA_INACTIVE, 0), 0);
}

} // namespace
