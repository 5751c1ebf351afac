#include "tests/support/window_robot.h"

#include <commctrl.h>
#include <commdlg.h>
#include <shlobj.h>

#include <cstring>

namespace {

constexpr DWORD PollMs = 20;
constexpr DWORD GraceMs = 3000; // how long a dialog call may take to return after the script
constexpr DWORD SweepMs = 15000;
constexpr int FileNameId = 0x47C;     // cmb13: the file-name box of the open-file dialog
constexpr int FileNameEditId = 0x480; // edt1: its plain-edit form
constexpr int FileTypeId = 0x470;     // cmb1: "Files of type"
constexpr int BrowserTreeId = 0x3741;

DWORD TargetProcess(const WindowRobot &robot) {
    return robot.processId ? robot.processId : GetCurrentProcessId();
}

bool Aborted(const WindowRobot &robot) {
    return robot.abort && WaitForSingleObject(robot.abort, 0) == WAIT_OBJECT_0;
}

// Polls `done` until it holds, the bound passes or the robot is aborted.
template <typename Test> bool WaitFor(WindowRobot &robot, Test done) {
    DWORD start = GetTickCount();
    for (;;) {
        if (done()) return true;
        if (Aborted(robot) || GetTickCount() - start >= robot.timeoutMs) return false;
        Sleep(PollMs);
    }
}

std::string Describe(const char *text) {
    return text ? std::string("\"") + text + "\"" : "(none)";
}

bool Send(WindowRobot &robot, HWND window, UINT message, WPARAM wParam, LPARAM lParam,
          DWORD_PTR *result = nullptr) {
    DWORD_PTR value = 0;
    LRESULT sent =
        SendMessageTimeoutA(window, message, wParam, lParam, SMTO_NORMAL, robot.timeoutMs, &value);
    if (result) *result = value;
    return sent != 0;
}

bool IsTarget(const WindowRobot &robot, HWND window) {
    DWORD pid = 0;
    DWORD tid = GetWindowThreadProcessId(window, &pid);
    if (pid != TargetProcess(robot)) return false;
    return robot.threadId == 0 || tid == robot.threadId;
}

bool IsDialog(HWND window) {
    char name[16] = "";
    GetClassNameA(window, name, sizeof name);
    return strcmp(name, "#32770") == 0;
}

// A text read with a short bound: a window of a thread that is not pumping messages must not
// stall the search.
std::string QuickText(HWND window) {
    char text[1024] = "";
    DWORD_PTR length = 0;
    if (!SendMessageTimeoutA(window, WM_GETTEXT, sizeof text, reinterpret_cast<LPARAM>(text),
                             SMTO_ABORTIFHUNG, 200, &length))
        return std::string();
    return std::string(text, length < sizeof text ? length : sizeof text - 1);
}

struct Search {
    const WindowRobot *robot;
    const char *caption;
    const char *label;
    HWND found;
};

BOOL CALLBACK HasLabel(HWND control, LPARAM context) {
    auto *search = reinterpret_cast<Search *>(context);
    if (QuickText(control) != search->label) return TRUE;
    search->found = control;
    return FALSE;
}

BOOL CALLBACK MatchDialog(HWND window, LPARAM context) {
    auto *search = reinterpret_cast<Search *>(context);
    if (!IsTarget(*search->robot, window) || !IsWindowVisible(window) || !IsDialog(window))
        return TRUE;
    if (!search->caption && !search->label) {
        search->found = window;
        return FALSE;
    }
    if (search->caption) {
        if (QuickText(window) != search->caption) return TRUE;
        search->found = window;
        return FALSE;
    }
    Search inner = *search;
    inner.found = nullptr;
    EnumChildWindows(window, HasLabel, reinterpret_cast<LPARAM>(&inner));
    if (!inner.found) return TRUE;
    search->found = window;
    return FALSE;
}

HWND FindDialog(const WindowRobot &robot, const char *caption, const char *label) {
    Search search{&robot, caption, label, nullptr};
    EnumWindows(MatchDialog, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

struct ControlSearch {
    int id;
    const char *className;
    std::vector<HWND> found;
    bool visibleOnly;
};

BOOL CALLBACK MatchControl(HWND control, LPARAM context) {
    auto *search = reinterpret_cast<ControlSearch *>(context);
    if (search->className) {
        char name[64] = "";
        GetClassNameA(control, name, sizeof name);
        if (lstrcmpiA(name, search->className) != 0) return TRUE;
    }
    if (search->id != -1 && GetDlgCtrlID(control) != search->id) return TRUE;
    if (search->visibleOnly && !IsWindowVisible(control)) return TRUE;
    search->found.push_back(control);
    return TRUE;
}

// Memory in the target process for the messages whose pointers the system does not copy.
struct RemoteBlock {
    HANDLE process = nullptr;
    char *address = nullptr;
    size_t size = 0;
};

bool RemoteOpen(WindowRobot &robot, RemoteBlock &block, size_t size) {
    DWORD pid = TargetProcess(robot);
    block.process =
        pid == GetCurrentProcessId()
            ? GetCurrentProcess()
            : OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, pid);
    if (!block.process) return RobotFail(robot, "cannot open process " + std::to_string(pid));
    block.address = static_cast<char *>(
        VirtualAllocEx(block.process, nullptr, size, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
    block.size = size;
    if (!block.address) return RobotFail(robot, "cannot place memory in the target process");
    return true;
}

void RemoteClose(RemoteBlock &block) {
    if (block.address) VirtualFreeEx(block.process, block.address, 0, MEM_RELEASE);
    if (block.process && block.process != GetCurrentProcess()) CloseHandle(block.process);
    block = RemoteBlock();
}

bool RemoteWrite(RemoteBlock &block, size_t offset, const void *data, size_t size) {
    SIZE_T done = 0;
    return WriteProcessMemory(block.process, block.address + offset, data, size, &done) &&
           done == size;
}

bool RemoteRead(RemoteBlock &block, size_t offset, void *data, size_t size) {
    SIZE_T done = 0;
    return ReadProcessMemory(block.process, block.address + offset, data, size, &done) &&
           done == size;
}

std::string RemoteText(RemoteBlock &block, size_t offset, size_t capacity) {
    std::string text(capacity, '\0');
    if (!RemoteRead(block, offset, &text[0], capacity)) return std::string();
    text.resize(strnlen(text.c_str(), capacity));
    return text;
}

bool SameFolder(std::string a, std::string b) {
    while (a.size() > 3 && a.back() == '\\')
        a.pop_back();
    while (b.size() > 3 && b.back() == '\\')
        b.pop_back();
    return lstrcmpiA(a.c_str(), b.c_str()) == 0;
}

HWND FileNameEdit(HWND dialog) {
    HWND box = RobotControl(dialog, FileNameId);
    if (!box) return RobotControl(dialog, FileNameEditId, "Edit");
    char name[64] = "";
    GetClassNameA(box, name, sizeof name);
    if (lstrcmpiA(name, "Edit") == 0) return box;
    // A combo box (plain or extended) keeps its edit field as a descendant.
    std::vector<HWND> edits = RobotControls(box, "Edit");
    return edits.empty() ? box : edits.front();
}

// "C:\a\b" -> "C:", "a", "b"; "C:\" -> "C:".
std::vector<std::string> PathParts(const std::string &path) {
    std::vector<std::string> parts;
    std::string part;
    for (char c : path) {
        if (c == '\\') {
            if (!part.empty()) parts.push_back(part);
            part.clear();
        } else {
            part += c;
        }
    }
    if (!part.empty()) parts.push_back(part);
    return parts;
}

// The browser shows a drive as "<label> (C:)".
bool IsDriveItem(const std::string &text, const std::string &drive) {
    std::string mark = "(" + drive + ")";
    if (text.size() < mark.size()) return false;
    return lstrcmpiA(text.c_str() + text.size() - mark.size(), mark.c_str()) == 0;
}

HTREEITEM TreeNext(WindowRobot &robot, HWND tree, UINT which, HTREEITEM item) {
    DWORD_PTR next = 0;
    Send(robot, tree, TVM_GETNEXTITEM, which, reinterpret_cast<LPARAM>(item), &next);
    return reinterpret_cast<HTREEITEM>(next);
}

std::string TreeItemText(WindowRobot &robot, HWND tree, HTREEITEM item, RemoteBlock &block) {
    TVITEMA request = {};
    request.mask = TVIF_TEXT;
    request.hItem = item;
    request.pszText = block.address + sizeof request;
    request.cchTextMax = static_cast<int>(block.size - sizeof request);
    char none = 0;
    if (!RemoteWrite(block, sizeof request, &none, 1) ||
        !RemoteWrite(block, 0, &request, sizeof request) ||
        !Send(robot, tree, TVM_GETITEMA, 0, reinterpret_cast<LPARAM>(block.address)))
        return std::string();
    return RemoteText(block, sizeof request, block.size - sizeof request);
}

DWORD WINAPI RunScript(void *context) {
    RobotRun &run = *static_cast<RobotRun *>(context);
    run.script(run.robot);
    if (WaitForSingleObject(run.finished, GraceMs) == WAIT_OBJECT_0) return 0;
    // The dialog call has not returned: cancel what is left until it does.
    WindowRobot sweeper = run.robot;
    sweeper.abort = nullptr;
    std::vector<std::string> closed;
    DWORD start = GetTickCount();
    while (WaitForSingleObject(run.finished, 100) != WAIT_OBJECT_0 &&
           GetTickCount() - start < SweepMs) {
        for (const std::string &caption : RobotCloseDialogs(sweeper))
            closed.push_back(caption);
    }
    std::string what = "the dialog call had not returned " + std::to_string(GraceMs / 1000) +
                       " s after the robot's last step; the robot cancelled";
    if (closed.empty()) what += " nothing (no dialog was open)";
    for (const std::string &caption : closed)
        what += " \"" + caption + "\"";
    RobotFail(run.robot, what);
    return 0;
}

} // namespace

bool RobotFail(WindowRobot &robot, const std::string &what) {
    if (!robot.failure.empty()) robot.failure += "; ";
    robot.failure += what;
    return false;
}

HWND RobotWaitDialog(WindowRobot &robot, const char *caption) {
    HWND found = nullptr;
    if (WaitFor(robot, [&] { return (found = FindDialog(robot, caption, nullptr)) != nullptr; }))
        return found;
    RobotFail(robot,
              (caption ? "no dialog titled " + Describe(caption) : std::string("no dialog")) +
                  " appeared within " + std::to_string(robot.timeoutMs) + " ms");
    return nullptr;
}

HWND RobotWaitDialogWithLabel(WindowRobot &robot, const char *label) {
    HWND found = nullptr;
    if (WaitFor(robot, [&] { return (found = FindDialog(robot, nullptr, label)) != nullptr; }))
        return found;
    RobotFail(robot, "no dialog showing " + Describe(label) + " appeared within " +
                         std::to_string(robot.timeoutMs) + " ms");
    return nullptr;
}

bool RobotWaitClosed(WindowRobot &robot, HWND window) {
    if (WaitFor(robot, [&] { return !IsWindow(window); })) return true;
    return RobotFail(robot, "the dialog \"" + QuickText(window) + "\" was still open after " +
                                std::to_string(robot.timeoutMs) + " ms");
}

std::string RobotText(WindowRobot &robot, HWND window) {
    DWORD_PTR length = 0;
    if (!window || !Send(robot, window, WM_GETTEXTLENGTH, 0, 0, &length)) {
        RobotFail(robot, "cannot read the text of a window");
        return std::string();
    }
    std::string text(length + 1, '\0');
    DWORD_PTR copied = 0;
    if (!Send(robot, window, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(&text[0]),
              &copied)) {
        RobotFail(robot, "cannot read the text of a window");
        return std::string();
    }
    text.resize(copied < length ? copied : length);
    return text;
}

bool RobotSetText(WindowRobot &robot, HWND window, const char *text) {
    DWORD_PTR done = 0;
    if (window && Send(robot, window, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text), &done) && done)
        return true;
    return RobotFail(robot, "cannot type " + Describe(text));
}

HWND RobotControl(HWND dialog, int id, const char *className) {
    ControlSearch search{id, className, {}, false};
    EnumChildWindows(dialog, MatchControl, reinterpret_cast<LPARAM>(&search));
    return search.found.empty() ? nullptr : search.found.front();
}

std::vector<HWND> RobotControls(HWND dialog, const char *className) {
    ControlSearch search{-1, className, {}, true};
    EnumChildWindows(dialog, MatchControl, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

bool RobotPress(WindowRobot &robot, HWND dialog, int buttonId) {
    HWND button = GetDlgItem(dialog, buttonId);
    if (PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(buttonId, BN_CLICKED),
                     reinterpret_cast<LPARAM>(button)))
        return true;
    return RobotFail(robot, "cannot press button " + std::to_string(buttonId));
}

HWND RobotOwner(HWND window) {
    return GetWindow(window, GW_OWNER);
}

bool RobotTypeFileName(WindowRobot &robot, HWND dialog, const char *text) {
    HWND edit = FileNameEdit(dialog);
    if (!edit) return RobotFail(robot, "the dialog has no file-name field");
    if (!RobotSetText(robot, edit, text)) return false;
    if (RobotText(robot, edit) == text) return true;
    return RobotFail(robot, "the file-name field did not take " + Describe(text));
}

std::string RobotFileName(WindowRobot &robot, HWND dialog) {
    HWND edit = FileNameEdit(dialog);
    if (!edit) {
        RobotFail(robot, "the dialog has no file-name field");
        return std::string();
    }
    return RobotText(robot, edit);
}

std::string RobotFileDialogFolder(WindowRobot &robot, HWND dialog) {
    RemoteBlock block;
    std::string folder;
    if (!RemoteOpen(robot, block, 4096)) return folder;
    DWORD_PTR length = 0;
    char none = 0;
    if (RemoteWrite(block, 0, &none, 1) &&
        Send(robot, dialog, CDM_GETFOLDERPATH, block.size, reinterpret_cast<LPARAM>(block.address),
             &length) &&
        static_cast<LONG_PTR>(length) > 0)
        folder = RemoteText(block, 0, block.size);
    else
        RobotFail(robot, "cannot read the folder the file dialog shows");
    RemoteClose(block);
    return folder;
}

std::string RobotSelectedFilter(WindowRobot &robot, HWND dialog) {
    HWND combo = RobotControl(dialog, FileTypeId);
    DWORD_PTR index = 0, length = 0;
    if (!combo || !Send(robot, combo, CB_GETCURSEL, 0, 0, &index) ||
        static_cast<LONG_PTR>(index) < 0 ||
        !Send(robot, combo, CB_GETLBTEXTLEN, index, 0, &length) ||
        static_cast<LONG_PTR>(length) < 0) {
        RobotFail(robot, "cannot read the selected file type");
        return std::string();
    }
    std::string text(length + 1, '\0');
    if (!Send(robot, combo, CB_GETLBTEXT, index, reinterpret_cast<LPARAM>(&text[0]))) {
        RobotFail(robot, "cannot read the selected file type");
        return std::string();
    }
    text.resize(length);
    return text;
}

bool RobotOpenFolder(WindowRobot &robot, HWND dialog, const std::string &folder) {
    if (!RobotTypeFileName(robot, dialog, folder.c_str()) || !RobotPress(robot, dialog, IDOK))
        return false;
    std::string shown;
    WindowRobot quiet = robot;
    if (WaitFor(robot, [&] {
            quiet.failure.clear();
            shown = RobotFileDialogFolder(quiet, dialog);
            return SameFolder(shown, folder);
        }))
        return true;
    return RobotFail(robot, "the file dialog showed \"" + shown + "\" instead of \"" + folder +
                                "\" after " + std::to_string(robot.timeoutMs) + " ms");
}

bool RobotChooseFiles(WindowRobot &robot, HWND dialog, const std::string &folder,
                      const std::vector<std::string> &names) {
    if (!RobotOpenFolder(robot, dialog, folder)) return false;
    std::string typed;
    for (const std::string &name : names)
        typed += (typed.empty() ? "\"" : " \"") + name + "\"";
    return RobotTypeFileName(robot, dialog, typed.c_str()) && RobotPress(robot, dialog, IDOK);
}

std::vector<std::string> RobotFolderSelection(WindowRobot &robot, HWND browser) {
    std::vector<std::string> texts;
    HWND tree = RobotControl(browser, BrowserTreeId, WC_TREEVIEWA);
    if (!tree) tree = RobotControl(browser, -1, WC_TREEVIEWA);
    RemoteBlock block;
    if (!tree) {
        RobotFail(robot, "the folder browser has no tree");
        return texts;
    }
    if (!RemoteOpen(robot, block, 1024)) return texts;
    for (HTREEITEM item = TreeNext(robot, tree, TVGN_CARET, nullptr); item;
         item = TreeNext(robot, tree, TVGN_PARENT, item))
        texts.insert(texts.begin(), TreeItemText(robot, tree, item, block));
    RemoteClose(block);
    return texts;
}

bool RobotFolderSelected(WindowRobot &robot, HWND browser, const std::string &path) {
    std::vector<std::string> parts = PathParts(path);
    std::vector<std::string> shown = RobotFolderSelection(robot, browser);
    if (parts.empty() || shown.size() < parts.size()) return false;
    size_t first = shown.size() - parts.size();
    if (!IsDriveItem(shown[first], parts[0])) return false;
    for (size_t i = 1; i < parts.size(); i++)
        if (lstrcmpiA(shown[first + i].c_str(), parts[i].c_str()) != 0) return false;
    return true;
}

bool RobotSelectFolder(WindowRobot &robot, HWND browser, const std::string &path) {
    std::vector<std::string> parts = PathParts(path);
    if (parts.empty() || parts[0].size() != 2 || parts[0][1] != ':')
        return RobotFail(robot, "\"" + path + "\" is not a path from a drive");
    RemoteBlock block;
    if (!RemoteOpen(robot, block, path.size() + 1)) return false;
    // The browser often ignores the message for a folder its tree has not read yet, and reads
    // it on the way: ask again until the selection is there.
    WindowRobot quiet = robot;
    bool done = RemoteWrite(block, 0, path.c_str(), path.size() + 1) && WaitFor(robot, [&] {
                    return Send(quiet, browser, BFFM_SETSELECTIONA, TRUE,
                                reinterpret_cast<LPARAM>(block.address)) &&
                           RobotFolderSelected(quiet, browser, path);
                });
    RemoteClose(block);
    if (done) return true;
    std::string shown;
    for (const std::string &text : RobotFolderSelection(robot, browser))
        shown += "/" + text;
    return RobotFail(robot, "the folder browser would not select \"" + path + "\" (it shows \"" +
                                shown + "\") within " + std::to_string(robot.timeoutMs) + " ms");
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

bool RobotStart(RobotRun &run, std::function<void(WindowRobot &)> script) {
    run.script = std::move(script);
    run.finished = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    run.robot.processId = GetCurrentProcessId();
    run.robot.threadId = GetCurrentThreadId();
    run.robot.abort = run.finished;
    run.thread = CreateThread(nullptr, 0, RunScript, &run, 0, nullptr);
    if (run.thread) return true;
    return RobotFail(run.robot, "cannot start the robot thread");
}

std::string RobotFinish(RobotRun &run) {
    if (run.thread) {
        SetEvent(run.finished);
        if (WaitForSingleObject(run.thread, run.robot.timeoutMs + GraceMs + SweepMs) !=
            WAIT_OBJECT_0) {
            // The script is stuck: it must not go on touching the test's variables.
            TerminateThread(run.thread, 1);
            RobotFail(run.robot, "the robot thread did not end");
        }
        CloseHandle(run.thread);
        run.thread = nullptr;
    }
    if (run.finished) CloseHandle(run.finished);
    run.finished = nullptr;
    run.robot.abort = nullptr;
    return run.robot.failure;
}
