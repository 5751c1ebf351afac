// The quoting rules of the command line.
#include "app/command_arguments.h"

#include <cstddef>
#include <cwchar>

namespace {

constexpr wchar_t OutOption[] = L"/out:";
constexpr ptrdiff_t OutOptionLength = sizeof OutOption / sizeof OutOption[0] - 1;

bool Blank(wchar_t c) {
    return c == L' ' || c == L'\t';
}

// True while the argument read so far is the /out: option, in any letter case (no character but
// the ASCII ones has a lower case among "/out:").
bool ReadingOutOption(const wchar_t *argument, const wchar_t *end) {
    if (end - argument < OutOptionLength) return false;
    for (ptrdiff_t i = 0; i < OutOptionLength; i++) {
        wchar_t c = argument[i];
        if (c >= L'A' && c <= L'Z') c = wchar_t(c - L'A' + L'a');
        if (c != OutOption[i]) return false;
    }
    return true;
}

} // namespace

const wchar_t *CommandLineSkipProgram(const wchar_t *line) {
    const wchar_t *p = line;
    if (*p == L'"') {
        const wchar_t *close = wcschr(p + 1, L'"');
        return close ? close + 1 : p + wcslen(p);
    }
    while (*p && !Blank(*p))
        p++;
    return p;
}

const wchar_t *CommandLineNextArgument(const wchar_t *p, wchar_t *argument) {
    while (Blank(*p))
        p++;
    if (!*p) return nullptr;
    bool quoted = false;
    wchar_t *out = argument;
    while (*p && (quoted || !Blank(*p))) {
        size_t backslashes = 0;
        while (*p == L'\\') {
            backslashes++;
            p++;
        }
        if (*p == L'"') {
            bool folderEnd = quoted && backslashes % 2 && (!p[1] || Blank(p[1])) &&
                             ReadingOutOption(argument, out);
            for (size_t i = 0; i < backslashes / 2 + (folderEnd ? 1 : 0); i++)
                *out++ = L'\\';
            if (folderEnd) {
                quoted = false;
            } else if (backslashes % 2) {
                *out++ = L'"';
            } else if (quoted && p[1] == L'"') {
                *out++ = L'"'; // "" inside quotes is one literal quote
                p++;
            } else {
                quoted = !quoted;
            }
            p++;
        } else {
            for (size_t i = 0; i < backslashes; i++)
                *out++ = L'\\';
            if (*p && (quoted || !Blank(*p))) *out++ = *p++;
        }
    }
    *out = L'\0';
    return p;
}
