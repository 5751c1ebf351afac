#include "tests/support/window_robot.h"

#include <commctrl.h>
#include <commdlg.h>
#include <shlobj.h>

#include <algorithm>
#include <cstring>

namespace {

constexpr DWORD PollMs = 20;
constexpr DWORD GraceMs = 3000; // how long a dialog call may take to return after the script
constexpr DWORD SweepMs = 15000;
constexpr int FileNameId = 0x47C;     // cmb13: the file-name box of the open-file dialog
constexpr int FileNameEditId = 0x480; // edt1: its plain-edit form
constexpr int FileTypeId = 0x470;     // cmb1: "Files of type"

// Appends a sentence to robot.failure; returns false for `return Fail(...)`.
bool Fail(WindowRobot &robot, const std::string &what) {
    robot.failure += (robot.failure.empty() ? "" : "; ") + what;
    return false;
}

std::string Within(const WindowRobot &robot) {
    return " within " + std::to_string(robot.timeoutMs) + " ms";
}

// Polls `done` until it holds, the bound passes or the robot is aborted.
template <typename Test> bool WaitFor(WindowRobot &robot, Test done) {
    for (DWORD start = GetTickCount();; Sleep(PollMs)) {
        if (done()) return true;
        if ((robot.abort && WaitForSingleObject(robot.abort, 0) == WAIT_OBJECT_0) ||
            GetTickCount() - start >= robot.timeoutMs)
            return false;
    }
}

bool Send(WindowRobot &robot, HWND window, UINT message, WPARAM wParam, LPARAM lParam,
          DWORD_PTR *result = nullptr) {
    DWORD_PTR ignored;
    return SendMessageTimeoutA(window, message, wParam, lParam, SMTO_NORMAL, robot.timeoutMs,
                               result ? result : &ignored) != 0;
}

bool ReadText(HWND window, DWORD timeoutMs, std::string &text) {
    DWORD_PTR length = 0;
    if (!window ||
        !SendMessageTimeoutA(window, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, timeoutMs, &length))
        return false;
    // Room for the text as long as the window says it is (hundreds of file names, say).
    std::vector<char> buffer(length + 1, 0);
    if (!SendMessageTimeoutA(window, WM_GETTEXT, buffer.size(),
                             reinterpret_cast<LPARAM>(buffer.data()), SMTO_ABORTIFHUNG, timeoutMs,
                             &length))
        return false;
    text.assign(buffer.data(), length < buffer.size() ? length : buffer.size() - 1);
    return true;
}

// A text read with a short bound: a window of a thread that is not pumping messages must not
// stall the search.
std::string QuickText(HWND window) {
    std::string text;
    ReadText(window, 200, text);
    return text;
}

bool IsClass(HWND window, const char *className) {
    char name[64] = "";
    GetClassNameA(window, name, sizeof name);
    return lstrcmpiA(name, className) == 0;
}

BOOL CALLBACK Collect(HWND window, LPARAM list) {
    reinterpret_cast<std::vector<HWND> *>(list)->push_back(window);
    return TRUE;
}

// The top-level windows (for null) or the windows below `parent` at any depth.
std::vector<HWND> Windows(HWND parent) {
    std::vector<HWND> found;
    if (parent)
        EnumChildWindows(parent, Collect, reinterpret_cast<LPARAM>(&found));
    else
        EnumWindows(Collect, reinterpret_cast<LPARAM>(&found));
    return found;
}

// The first control below `dialog` of this class (null: any) and id (-1: any).
HWND Control(HWND dialog, const char *className, int id) {
    for (HWND control : Windows(dialog))
        if ((!className || IsClass(control, className)) &&
            (id == -1 || GetDlgCtrlID(control) == id))
            return control;
    return nullptr;
}

HWND FindDialog(const WindowRobot &robot, const char *caption, const char *label) {
    for (HWND window : Windows(nullptr)) {
        DWORD pid = 0, tid = GetWindowThreadProcessId(window, &pid);
        if (pid != (robot.processId ? robot.processId : GetCurrentProcessId()) ||
            (robot.threadId && tid != robot.threadId) || !IsWindowVisible(window) ||
            !IsClass(window, "#32770") || (caption && QuickText(window) != caption))
            continue;
        bool labelled = !label;
        for (HWND control : Windows(window))
            labelled = labelled || QuickText(control) == label;
        if (labelled) return window;
    }
    return nullptr;
}

HWND WaitDialog(WindowRobot &robot, const char *caption, const char *label,
                const std::string &what) {
    HWND found = nullptr;
    if (WaitFor(robot, [&] { return (found = FindDialog(robot, caption, label)) != nullptr; }))
        return found;
    Fail(robot, "no " + what + " appeared" + Within(robot));
    return nullptr;
}

// Memory in the target process for the messages whose pointers the system does not copy; the
// system hands it out zero-filled.
struct Remote {
    HANDLE process = nullptr;
    char *address = nullptr;
    Remote(WindowRobot &robot, size_t size) {
        DWORD pid = robot.processId ? robot.processId : GetCurrentProcessId();
        process = pid == GetCurrentProcessId()
                      ? GetCurrentProcess()
                      : OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE,
                                    FALSE, pid);
        if (process)
            address = static_cast<char *>(
                VirtualAllocEx(process, nullptr, size, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
        if (!address) Fail(robot, "cannot place memory in process " + std::to_string(pid));
    }
    ~Remote() {
        if (address) VirtualFreeEx(process, address, 0, MEM_RELEASE);
        if (process && process != GetCurrentProcess()) CloseHandle(process);
    }
    LPARAM At(size_t offset) const { return reinterpret_cast<LPARAM>(address + offset); }
    bool Write(size_t offset, const void *data, size_t size) {
        SIZE_T done = 0;
        return address && WriteProcessMemory(process, address + offset, data, size, &done) &&
               done == size;
    }
    std::string Text(size_t offset, size_t capacity) {
        std::string text(capacity, '\0');
        SIZE_T done = 0;
        if (!address || !ReadProcessMemory(process, address + offset, &text[0], capacity, &done) ||
            done != capacity)
            return std::string();
        text.resize(strnlen(text.c_str(), capacity));
        return text;
    }
};

// Folder paths compared in any case, without trailing backslashes beyond a drive root.
bool SameFolder(std::string a, std::string b) {
    for (std::string *path : {&a, &b})
        while (path->size() > 3 && path->back() == '\\')
            path->pop_back();
    return lstrcmpiA(a.c_str(), b.c_str()) == 0;
}

HWND FileNameEdit(HWND dialog) {
    HWND box = Control(dialog, nullptr, FileNameId);
    if (!box) return Control(dialog, "Edit", FileNameEditId);
    // A combo box (plain or extended) keeps its edit field as a descendant.
    HWND edit = IsClass(box, "Edit") ? box : Control(box, "Edit", -1);
    return edit ? edit : box;
}

bool TypeFileName(WindowRobot &robot, HWND dialog, const std::string &text) {
    if (!FileNameEdit(dialog)) return Fail(robot, "the dialog has no file-name field");
    // A dialog still settling in the folder it just opened may not answer at once: type again
    // until the field holds the text.
    WindowRobot quiet = robot;
    if (WaitFor(robot, [&] {
            quiet.failure.clear();
            HWND edit = FileNameEdit(dialog);
            DWORD_PTR done = 0;
            return edit &&
                   Send(quiet, edit, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()),
                        &done) &&
                   done && RobotText(quiet, edit) == text;
        }))
        return true;
    return Fail(robot, "the file-name field did not take \"" + text + "\"" + Within(robot) +
                           (quiet.failure.empty() ? "" : " (" + quiet.failure + ")"));
}

// The options area's controls in their order, each with its label: a check box's own text, or the
// text of the label in front of an edit box.
std::vector<std::pair<std::string, HWND>> OptionControls(WindowRobot &robot, HWND dialog) {
    std::vector<std::pair<std::string, HWND>> found;
    HWND area = nullptr;
    for (HWND child : Windows(dialog))
        if (!area && IsClass(child, "#32770") && GetParent(child) == dialog) area = child;
    if (!area) Fail(robot, "the file dialog has no options area");
    std::string label;
    for (HWND control = area ? GetWindow(area, GW_CHILD) : nullptr; control;
         control = GetWindow(control, GW_HWNDNEXT)) {
        std::string text = RobotText(robot, control);
        text.erase(std::remove(text.begin(), text.end(), '&'), text.end());
        LONG style = GetWindowLongA(control, GWL_STYLE);
        if (IsClass(control, "Button") && (style & BS_TYPEMASK) == BS_AUTOCHECKBOX)
            found.emplace_back(text, control);
        else if (IsClass(control, "Edit"))
            found.emplace_back(label, control);
        label = text;
    }
    return found;
}

constexpr size_t ItemRoom = 1024; // bytes in the browser's process for one tree item's text

// The text of a tree item, read through `block` (ItemRoom bytes) in the browser's process.
std::string ItemText(WindowRobot &robot, HWND tree, DWORD_PTR item, Remote &block) {
    TVITEMA request = {};
    request.mask = TVIF_TEXT;
    request.hItem = reinterpret_cast<HTREEITEM>(item);
    request.pszText = block.address + sizeof request;
    request.cchTextMax = static_cast<int>(ItemRoom - sizeof request);
    if (block.Write(0, &request, sizeof request) && Send(robot, tree, TVM_GETITEMA, 0, block.At(0)))
        return block.Text(sizeof request, ItemRoom - sizeof request);
    return std::string();
}

// The browser's selection as a path ("C:\a\b"), read up its tree to the drive item, which shows
// as "<label> (C:)". A selection off the drives gives the items' texts ("Desktop\...").
std::string SelectedPath(WindowRobot &robot, HWND browser) {
    HWND tree = Control(browser, WC_TREEVIEWA, -1);
    if (!tree) Fail(robot, "the folder browser has no tree");
    Remote block(robot, ItemRoom);
    std::string path;
    UINT which = TVGN_CARET;
    for (DWORD_PTR item = 0;
         tree && block.address && Send(robot, tree, TVM_GETNEXTITEM, which, item, &item) && item;
         which = TVGN_PARENT) {
        std::string text = ItemText(robot, tree, item, block);
        size_t n = text.size();
        if (n >= 4 && text.compare(n - 2, 2, ":)") == 0 && text[n - 4] == '(')
            return text.substr(n - 3, 2) + "\\" + path;
        path = path.empty() ? text : text + "\\" + path;
    }
    return path;
}

// Opens `item` (null: the tree's top) and gives its child whose text `matches`, or null. A folder
// listed while other programs add and remove its entries can come out short, and the browser
// never lists an opened folder again: with `relist`, a folder that lacks the child is closed and
// its list dropped, so that the next opening reads it anew.
DWORD_PTR OpenTo(WindowRobot &robot, HWND tree, DWORD_PTR item, Remote &block, bool relist,
                 const std::function<bool(const std::string &)> &matches) {
    if (item) Send(robot, tree, TVM_EXPAND, TVE_EXPAND, item);
    DWORD_PTR child = 0;
    UINT which = item ? TVGN_CHILD : TVGN_ROOT;
    for (DWORD_PTR at = item; Send(robot, tree, TVM_GETNEXTITEM, which, at, &child) && child;
         at = child, which = TVGN_NEXT)
        if (matches(ItemText(robot, tree, child, block))) return child;
    if (item && relist) Send(robot, tree, TVM_EXPAND, TVE_COLLAPSE | TVE_COLLAPSERESET, item);
    return 0;
}

// Walks the browser's tree down to `path` as a user clicks through it: the drive two levels
// down (Desktop, then My Computer), then one folder a level. Null when a level lacks its folder.
DWORD_PTR PathItem(WindowRobot &robot, HWND tree, const std::string &path, Remote &block) {
    const std::string drive = "(" + path.substr(0, 2) + ")";
    auto isDrive = [&](const std::string &text) {
        return text.size() >= drive.size() &&
               lstrcmpiA(text.c_str() + text.size() - drive.size(), drive.c_str()) == 0;
    };
    DWORD_PTR item = 0;
    auto any = [](const std::string &) { return true; };
    DWORD_PTR top = OpenTo(robot, tree, 0, block, false, any);
    for (DWORD_PTR level = OpenTo(robot, tree, top, block, false, any); level && !item;
         Send(robot, tree, TVM_GETNEXTITEM, TVGN_NEXT, level, &level) || (level = 0))
        item = isDrive(ItemText(robot, tree, level, block))
                   ? level
                   : OpenTo(robot, tree, level, block, false, isDrive);
    for (size_t at = 3; item && at < path.size();) {
        size_t end = path.find('\\', at);
        if (end == std::string::npos) end = path.size();
        const std::string name = path.substr(at, end - at);
        at = end + 1;
        if (name.empty()) continue;
        item = OpenTo(robot, tree, item, block, true, [&](const std::string &text) {
            return lstrcmpiA(text.c_str(), name.c_str()) == 0;
        });
    }
    return item;
}

struct Run {
    WindowRobot robot;
    const std::function<void(WindowRobot &)> *script;
    HANDLE returned; // set once the dialog call has returned
};

DWORD WINAPI RunScript(void *context) {
    Run &run = *static_cast<Run *>(context);
    (*run.script)(run.robot);
    if (WaitForSingleObject(run.returned, GraceMs) == WAIT_OBJECT_0) return 0;
    // The dialog call has not returned: cancel what is left until it does.
    WindowRobot sweeper = run.robot;
    sweeper.abort = nullptr;
    std::string closed;
    for (DWORD start = GetTickCount(); WaitForSingleObject(run.returned, 100) != WAIT_OBJECT_0 &&
                                       GetTickCount() - start < SweepMs;)
        for (const std::string &caption : RobotCloseDialogs(sweeper))
            closed += " \"" + caption + "\"";
    Fail(run.robot, "the dialog call had not returned " + std::to_string(GraceMs / 1000) +
                        " s after the robot's last step; the robot cancelled" +
                        (closed.empty() ? " nothing (no dialog was open)" : closed));
    return 0;
}

} // namespace

HWND RobotWaitDialog(WindowRobot &robot, const char *caption) {
    return WaitDialog(robot, caption, nullptr,
                      caption ? "dialog titled \"" + std::string(caption) + "\"" : "dialog");
}

HWND RobotWaitDialogWithLabel(WindowRobot &robot, const char *label) {
    return WaitDialog(robot, nullptr, label, "dialog showing \"" + std::string(label) + "\"");
}

bool RobotWaitClosed(WindowRobot &robot, HWND window) {
    if (WaitFor(robot, [&] { return !IsWindow(window); })) return true;
    return Fail(robot, "the dialog \"" + QuickText(window) + "\" was still open after " +
                           std::to_string(robot.timeoutMs) + " ms");
}

std::string RobotText(WindowRobot &robot, HWND window) {
    std::string text;
    if (!ReadText(window, robot.timeoutMs, text)) Fail(robot, "cannot read the text of a window");
    return text;
}

std::vector<HWND> RobotControls(HWND dialog, const char *className) {
    std::vector<HWND> found;
    for (HWND control : Windows(dialog))
        if (IsClass(control, className) && IsWindowVisible(control)) found.push_back(control);
    return found;
}

bool RobotPress(WindowRobot &robot, HWND dialog, int buttonId) {
    if (PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(buttonId, BN_CLICKED),
                     reinterpret_cast<LPARAM>(GetDlgItem(dialog, buttonId))))
        return true;
    return Fail(robot, "cannot press button " + std::to_string(buttonId));
}

std::string RobotFileName(WindowRobot &robot, HWND dialog) {
    return RobotText(robot, FileNameEdit(dialog));
}

std::string RobotFileDialogFolder(WindowRobot &robot, HWND dialog) {
    constexpr size_t Size = 4096;
    Remote block(robot, Size);
    DWORD_PTR length = 0;
    if (block.address && Send(robot, dialog, CDM_GETFOLDERPATH, Size, block.At(0), &length) &&
        static_cast<LONG_PTR>(length) > 0)
        return block.Text(0, Size);
    Fail(robot, "cannot read the folder the file dialog shows");
    return std::string();
}

std::string RobotSelectedFilter(WindowRobot &robot, HWND dialog) {
    // A drop-down list gives its selected entry as its text.
    return RobotText(robot, Control(dialog, nullptr, FileTypeId));
}

bool RobotChooseFiles(WindowRobot &robot, HWND dialog, const std::string &folder,
                      const std::vector<std::string> &names) {
    // Open on a folder only opens it, so the press is sent and not posted: a posted one could wait
    // in the queue until the names below are typed, when the dialog already shows the folder, and
    // then take them, so that the second press arrives while the first one's answer is showing.
    if (!TypeFileName(robot, dialog, folder)) return false;
    if (!Send(robot, dialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED),
              reinterpret_cast<LPARAM>(GetDlgItem(dialog, IDOK))))
        return Fail(robot, "the file dialog did not open the folder " + folder + Within(robot));
    std::string shown;
    WindowRobot quiet = robot;
    if (!WaitFor(robot, [&] {
            quiet.failure.clear();
            shown = RobotFileDialogFolder(quiet, dialog);
            return SameFolder(shown, folder);
        }))
        return Fail(robot, "the file dialog showed \"" + shown + "\" instead of \"" + folder +
                               "\"" + Within(robot));
    std::string typed;
    for (const std::string &name : names)
        typed += (typed.empty() ? "\"" : " \"") + name + "\"";
    return TypeFileName(robot, dialog, typed) && RobotPress(robot, dialog, IDOK);
}

std::map<std::string, std::string> RobotOptions(WindowRobot &robot, HWND dialog) {
    std::map<std::string, std::string> values;
    for (const auto &[label, control] : OptionControls(robot, dialog)) {
        DWORD_PTR checked = 0;
        std::string value = IsClass(control, "Edit") ? RobotText(robot, control)
                            : Send(robot, control, BM_GETCHECK, 0, 0, &checked)
                                ? std::to_string(checked)
                                : "?";
        values[label] = (IsWindowEnabled(control) ? "" : "greyed ") + value;
    }
    return values;
}

HWND RobotSetOption(WindowRobot &robot, HWND dialog, const std::string &label,
                    const std::string &value) {
    for (const auto &[name, control] : OptionControls(robot, dialog)) {
        if (name != label) continue;
        DWORD_PTR done = 0;
        bool edit = IsClass(control, "Edit");
        if (edit ? Send(robot, control, WM_SETTEXT, 0, LPARAM(value.c_str()), &done) && done &&
                       RobotText(robot, control) == value
                 : Send(robot, control, BM_SETCHECK, value == "1" ? BST_CHECKED : BST_UNCHECKED, 0))
            return control;
        Fail(robot, "\"" + label + "\" did not take \"" + value + "\"");
        return nullptr;
    }
    Fail(robot, "the options area has no control \"" + label + "\"");
    return nullptr;
}

bool RobotWaitFocus(WindowRobot &robot, HWND control) {
    GUITHREADINFO info = {};
    info.cbSize = sizeof info;
    DWORD thread = GetWindowThreadProcessId(control, nullptr);
    // A dialog whose program has no active window keeps its focus for when it is active again:
    // bring it forward, as a click on it would. (Under Xvfb without a window manager the focus
    // was once found on no window, or one without text, after a message box had closed.)
    if (WaitFor(robot, [&] {
            if (!GetGUIThreadInfo(thread, &info)) return false;
            if (!info.hwndActive) SetForegroundWindow(GetAncestor(control, GA_ROOT));
            return info.hwndFocus == control;
        }))
        return true;
    char name[64] = "";
    GetClassNameA(info.hwndFocus, name, sizeof name);
    return Fail(robot, std::string("the focus is on a ") + (info.hwndFocus ? name : "no") +
                           " window \"" + QuickText(info.hwndFocus) + "\" in \"" +
                           QuickText(info.hwndActive) + "\", not on \"" + QuickText(control) +
                           "\"" + Within(robot));
}

bool RobotFolderSelected(WindowRobot &robot, HWND browser, const std::string &path) {
    return SameFolder(SelectedPath(robot, browser), path);
}

bool RobotSelectFolder(WindowRobot &robot, HWND browser, const std::string &path) {
    if (path.size() < 3 || path[1] != ':' || path[2] != '\\')
        return Fail(robot, "\"" + path + "\" is not a path from a drive");
    HWND tree = Control(browser, WC_TREEVIEWA, -1);
    Remote block(robot, ItemRoom);
    WindowRobot quiet = robot;
    std::string shown;
    if (tree && block.address && WaitFor(robot, [&] {
            quiet.failure.clear();
            DWORD_PTR item = PathItem(quiet, tree, path, block);
            return item && Send(quiet, tree, TVM_SELECTITEM, TVGN_CARET, item) &&
                   SameFolder(shown = SelectedPath(quiet, browser), path);
        }))
        return true;
    return Fail(robot, "the folder browser would not select \"" + path + "\" (it shows \"" + shown +
                           "\")" + Within(robot));
}

std::vector<std::string> RobotCloseDialogs(WindowRobot &robot) {
    std::vector<std::string> closed;
    for (int round = 0; round < 16; round++) {
        HWND dialog = FindDialog(robot, nullptr, nullptr);
        if (!dialog) break;
        closed.push_back(QuickText(dialog));
        PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
        PostMessageA(dialog, WM_CLOSE, 0, 0);
        if (!WaitFor(robot, [&] { return !IsWindow(dialog) || !IsWindowVisible(dialog); })) break;
    }
    return closed;
}

std::string RobotWhile(const std::function<void(WindowRobot &)> &script,
                       const std::function<void()> &call) {
    Run run{{}, &script, CreateEventA(nullptr, TRUE, FALSE, nullptr)};
    run.robot.processId = GetCurrentProcessId();
    run.robot.threadId = GetCurrentThreadId();
    run.robot.abort = run.returned;
    HANDLE thread = run.returned ? CreateThread(nullptr, 0, RunScript, &run, 0, nullptr) : nullptr;
    if (thread) {
        call();
        SetEvent(run.returned);
        if (WaitForSingleObject(thread, run.robot.timeoutMs + GraceMs + SweepMs) != WAIT_OBJECT_0) {
            // The script is stuck: it must not go on touching the test's variables.
            TerminateThread(thread, 1);
            Fail(run.robot, "the robot thread did not end");
        }
        CloseHandle(thread);
    } else {
        Fail(run.robot, "cannot start the robot thread");
    }
    if (run.returned) CloseHandle(run.returned);
    return run.robot.failure;
}
