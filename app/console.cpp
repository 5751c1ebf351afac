// StripSheet.exe is a windowed program, so it has a standard output only when its starter handed
// one over (a redirection, or Wine, which passes its own on); from a console window it attaches
// to the console of the shell that started it. StripSheet.com, the console twin, has its console
// from the start (a redirection replaces it as its standard output).
#include "app/console.h"

#include "runtime/memory/memory.h"
#include "runtime/strings/strings.h"

#include <windows.h>

#include <cstring>
#include <cwchar>

namespace {

HANDLE Output;
bool OutputLooked;

HANDLE FindOutput() {
    HANDLE given = GetStdHandle(STD_OUTPUT_HANDLE);
    if (given && given != INVALID_HANDLE_VALUE && GetFileType(given) != FILE_TYPE_UNKNOWN)
        return given;
    // A process that has a console already is refused another: it writes to its own.
    if (!AttachConsole(ATTACH_PARENT_PROCESS) && GetLastError() != ERROR_ACCESS_DENIED)
        return nullptr;
    HANDLE console =
        CreateFileA("CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                    nullptr, OPEN_EXISTING, 0, nullptr);
    return console == INVALID_HANDLE_VALUE ? nullptr : console;
}

bool WriteBytes(HANDLE out, const char *text, size_t length) {
    while (length) {
        DWORD chunk = length > 65536 ? 65536 : DWORD(length), written = 0;
        if (!WriteFile(out, text, chunk, &written, nullptr) || written == 0) return false;
        text += written;
        length -= written;
    }
    return true;
}

// A console shows UTF-16 text; its own code page need not be the program's.
bool WriteToConsole(HANDLE out, const char *text) {
    int32_t n = 0;
    wchar_t *wide = TextToWide(text, &n);
    // Older consoles refuse a single write of more than about 64 KB.
    bool ok = wide != nullptr;
    for (int32_t done = 0; ok && done < n;) {
        DWORD chunk = DWORD(n - done > 8192 ? 8192 : n - done), written = 0;
        ok = WriteConsoleW(out, wide + done, chunk, &written, nullptr) && written;
        done += int32_t(written);
    }
    MemoryFree(wide);
    return ok;
}

} // namespace

bool ConsoleWrite(const char *text) {
    if (!OutputLooked) {
        OutputLooked = true;
        Output = FindOutput();
    }
    if (!Output) return false;
    DWORD mode = 0;
    if (GetConsoleMode(Output, &mode)) return WriteToConsole(Output, text);
    return WriteBytes(Output, text, strlen(text));
}

namespace {

constexpr DWORD LineEveryMs = 50;
constexpr int ProgressLineRoom = 512; // characters

HANDLE ProgressConsole; // null: the standard error is no console, nothing is shown
int32_t ProgressTotal;
int ProgressShown; // characters of the line on the console now
DWORD LastLine;
bool LineWritten;
volatile LONG StopAsked;

// The console's control events stop the batch before its next strip. The system ends the process
// once this returns from a closing console, so then it waits: the batch finishes the sheets under
// way and the process ends on its own (Windows gives it 5 seconds).
BOOL WINAPI StopHandler(DWORD event) {
    InterlockedExchange(&StopAsked, 1);
    if (event == CTRL_CLOSE_EVENT || event == CTRL_LOGOFF_EVENT || event == CTRL_SHUTDOWN_EVENT)
        Sleep(INFINITE);
    return TRUE;
}

// The standard error when it is a console; without one, the console the report will go to.
HANDLE FindProgressConsole() {
    DWORD mode = 0;
    HANDLE given = GetStdHandle(STD_ERROR_HANDLE);
    if (given && given != INVALID_HANDLE_VALUE && GetFileType(given) != FILE_TYPE_UNKNOWN)
        return GetConsoleMode(given, &mode) ? given : nullptr;
    ConsoleWrite(""); // finds the output, attaching to the starter's console when there is one
    return Output && GetConsoleMode(Output, &mode) ? Output : nullptr;
}

// Puts `line` (`length` characters) over the line shown, clearing what is left of a longer one.
void ShowLine(const wchar_t *line, int length) {
    wchar_t text[ProgressLineRoom + 2];
    int at = 0;
    text[at++] = L'\r';
    for (int i = 0; i < length; i++)
        text[at++] = line[i];
    for (int i = length; i < ProgressShown; i++)
        text[at++] = L' ';
    if (ProgressShown > length) text[at++] = L'\r';
    DWORD written = 0;
    WriteConsoleW(ProgressConsole, text, DWORD(at), &written, nullptr);
    ProgressShown = length;
}

} // namespace

void ConsoleProgressBegin(int32_t total) {
    ProgressTotal = total;
    ProgressShown = 0;
    LineWritten = false;
    InterlockedExchange(&StopAsked, 0);
    SetConsoleCtrlHandler(StopHandler, TRUE);
    ProgressConsole = FindProgressConsole();
}

int32_t ConsoleProgressStep(int32_t number, const char *file) {
    if (!ProgressConsole) return StopAsked;
    DWORD now = GetTickCount();
    if (LineWritten && now - LastLine < LineEveryMs) return StopAsked;
    LineWritten = true;
    LastLine = now;
    // The line stays within the console's width: a line that wraps cannot be written over.
    CONSOLE_SCREEN_BUFFER_INFO info{};
    int width = ProgressLineRoom;
    if (GetConsoleScreenBufferInfo(ProgressConsole, &info) && info.dwSize.X - 1 < width)
        width = info.dwSize.X - 1;
    wchar_t line[ProgressLineRoom + 1];
    int length = swprintf(line, ProgressLineRoom, L"%d/%d ", int(number), int(ProgressTotal));
    if (length < 0) length = 0;
    // A name longer than the room left keeps its start.
    int32_t named = 0;
    wchar_t *name = TextToWide(PathLastPart(file), &named);
    if (named > ProgressLineRoom - length) named = ProgressLineRoom - length;
    if (name) wmemcpy(line + length, name, size_t(named));
    MemoryFree(name);
    length += named;
    ShowLine(line, length < width ? length : width > 0 ? width : 0);
    return StopAsked;
}

void ConsoleProgressEnd() {
    if (ProgressConsole && ProgressShown) ShowLine(L"", 0);
    ProgressConsole = nullptr;
    SetConsoleCtrlHandler(StopHandler, FALSE);
}
