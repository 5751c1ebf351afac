// StripSheet.exe is a windowed program, so it has a standard output only when its starter handed
// one over (a redirection, or Wine, which passes its own on); from a console window it attaches
// to the console of the shell that started it. StripSheet.com, the console twin, has its console
// from the start (a redirection replaces it as its standard output).
#include "app/console.h"

#include "runtime/memory/memory.h"

#include <windows.h>

#include <cstring>

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
    int n = MultiByteToWideChar(CP_ACP, 0, text, -1, nullptr, 0);
    if (n <= 1) return n == 1;
    auto *wide = static_cast<wchar_t *>(MemoryAlloc(size_t(n) * sizeof(wchar_t)));
    bool ok = false;
    if (wide && MultiByteToWideChar(CP_ACP, 0, text, -1, wide, n) == n) {
        // Older consoles refuse a single write of more than about 64 KB.
        ok = true;
        for (int done = 0; ok && done < n - 1;) {
            DWORD chunk = DWORD(n - 1 - done > 8192 ? 8192 : n - 1 - done), written = 0;
            ok = WriteConsoleW(out, wide + done, chunk, &written, nullptr) && written;
            done += int(written);
        }
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
