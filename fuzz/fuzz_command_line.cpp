// The command line's quoting rules over the fuzzer's bytes as a whole command line in UTF-16
// (little-endian, two bytes a character, up to the first NUL). Every argument must be read within
// its text and be no longer than it, an unquoted one must be its text as it stands, and the
// arguments read, quoted again the way programs and batch files write command lines, must read
// back the same.
#include "app/command_arguments.h"

#include <cstdint>
#include <cstdlib>
#include <cwchar>
#include <string>
#include <vector>

namespace {

using Arguments = std::vector<std::wstring>;

void Check(bool holds) {
    if (!holds) abort();
}

bool Blank(wchar_t c) {
    return c == L' ' || c == L'\t';
}

// The arguments of the line, checking each as it is read.
Arguments Read(const std::wstring &text) {
    const wchar_t *line = text.c_str(), *end = line + text.size();
    const wchar_t *p = CommandLineSkipProgram(line);
    Check(p >= line && p <= end);
    Arguments arguments;
    while (true) {
        // Exactly the room the caller gives, the rest of the line: a write past it is caught.
        std::vector<wchar_t> argument(wcslen(p) + 1);
        const wchar_t *next = CommandLineNextArgument(p, argument.data());
        if (!next) {
            while (Blank(*p))
                p++;
            Check(p == end);
            return arguments;
        }
        Check(next > p && next <= end && (!*next || Blank(*next)));
        std::wstring read(argument.data());
        Check(read.size() <= size_t(next - p));
        std::wstring source(p, next);
        source.erase(0, source.find_first_not_of(L" \t"));
        if (source.find(L'"') == std::wstring::npos) Check(read == source);
        arguments.push_back(read);
        p = next;
    }
}

// The argument as programs quote one: in quotes when it holds a blank or a quote or is empty,
// the backslashes in front of a quote or of the closing quote doubled, and each quote escaped.
std::wstring Quote(const std::wstring &argument) {
    if (!argument.empty() && argument.find_first_of(L" \t\"") == std::wstring::npos)
        return argument;
    std::wstring quoted = L"\"";
    size_t backslashes = 0;
    for (wchar_t c : argument) {
        if (c == L'\\') {
            backslashes++;
            continue;
        }
        quoted.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
        quoted += c;
        backslashes = 0;
    }
    quoted.append(backslashes * 2, L'\\');
    return quoted + L"\"";
}

bool OutOption(const std::wstring &argument) {
    std::wstring head = argument.substr(0, 5);
    for (wchar_t &c : head)
        if (c >= L'A' && c <= L'Z') c = wchar_t(c - L'A' + L'a');
    return head == L"/out:";
}

// The one argument that does not read back: /out: with a quote before a blank, where the rule for
// a folder quoted with its trailing backslash takes the escaped quote as the closing one.
bool ReadsBack(const std::wstring &argument) {
    return !OutOption(argument) || (argument.find(L"\" ") == std::wstring::npos &&
                                    argument.find(L"\"\t") == std::wstring::npos);
}

// A folder that ends in one backslash, quoted as batch files write /out:"%~dp0"; empty for any
// other argument.
std::wstring QuoteAsBatchFiles(const std::wstring &argument) {
    size_t n = argument.size();
    bool folder = OutOption(argument) && argument.find(L'"') == std::wstring::npos && n > 5 &&
                  argument[n - 1] == L'\\' && argument[n - 2] != L'\\';
    return folder ? argument.substr(0, 5) + L"\"" + argument.substr(5) + L"\"" : L"";
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size > 8192) return 0;
    std::wstring text;
    for (size_t i = 0; i + 1 < size; i += 2) {
        wchar_t c = wchar_t(data[i] | data[i + 1] << 8);
        if (!c) break;
        text += c;
    }
    Arguments arguments = Read(text);
    std::wstring again = L"StripSheet.exe";
    for (const std::wstring &argument : arguments) {
        if (!ReadsBack(argument)) return 0;
        std::wstring batch = QuoteAsBatchFiles(argument);
        again += L" " + (batch.empty() ? Quote(argument) : batch);
    }
    Check(Read(again) == arguments);
    return 0;
}
