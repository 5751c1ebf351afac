// The command line: splits it into arguments by the system's quoting rules, expands wildcards and
// checks the files and the output folder before anything is converted.
#include "app/command_line.h"

#include "app/command_arguments.h"
#include "runtime/image/image_codec.h"
#include "runtime/memory/memory.h"

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

void CommandUsageConcat() {
    StringConcat(
        "Usage: StripSheet [/out:FOLDER] FILE...\r\n"
        "Turns sprite strips (walk_H8.png, Hero_V12.bmp, ...) into sheets eight frames wide.\r\n"
        "  FILE...      the strips, in this order; wildcards are expanded (art\\*_H8.png)\r\n"
        "  /out:FOLDER  write the sheets into FOLDER without any dialog and report here; exit "
        "code\r\n"
        "               0 when no file failed, 1 when one did, 2 when nothing was done, 3 when\r\n"
        "               the run was stopped\r\n");
    SheetOptionUsageConcat();
    StringConcat(
        "  /?, /h       show this text\r\n"
        "Without /out: StripSheet asks for the output folder; without files it asks for them "
        "too.\r\n"
        "The sheet options, given before or among the files, apply to dialog runs too.\r\n");
}

namespace {

constexpr char OutOption[] = "/out:";
constexpr int32_t OutOptionLength = sizeof OutOption - 1;

// A growing block of names, each ending in a NUL.
struct NameList {
    char *block = nullptr;
    size_t used = 0;
    size_t capacity = 0;
    int32_t count = 0;
};

bool Append(NameList *list, const char *head, size_t headLength, const char *name) {
    size_t length = headLength + strlen(name);
    // Room for this name's NUL and the empty name that closes the list.
    if (list->used + length + 2 > list->capacity) {
        size_t capacity = list->capacity ? list->capacity : 1024;
        while (list->used + length + 2 > capacity)
            capacity *= 2;
        auto *grown = static_cast<char *>(MemoryAlloc(capacity));
        if (!grown) return false;
        if (list->block) memcpy(grown, list->block, list->used);
        MemoryFree(list->block);
        list->block = grown;
        list->capacity = capacity;
    }
    memcpy(list->block + list->used, head, headLength);
    strcpy(list->block + list->used + headLength, name);
    list->used += length + 1;
    list->block[list->used] = '\0';
    list->count += 1;
    return true;
}

// The text in the process's code page, in a new block, when the code page holds every one of its
// characters: one it lacks would come out as "?", a wildcard, or as a look-alike ("best fit") that
// names another file. Null when it does not (`lacking` is then set) or memory is short.
char *Narrow(const wchar_t *text, bool *lacking) {
    *lacking = false;
    // The UTF-8 code page takes no flag; the round trip below checks every code page alike.
    DWORD flags = WC_NO_BEST_FIT_CHARS;
    int n = WideCharToMultiByte(CP_ACP, flags, text, -1, nullptr, 0, nullptr, nullptr);
    if (n <= 0) {
        flags = 0;
        n = WideCharToMultiByte(CP_ACP, flags, text, -1, nullptr, 0, nullptr, nullptr);
    }
    auto *narrow = n > 0 ? static_cast<char *>(MemoryAlloc(size_t(n))) : nullptr;
    if (n > 0 && !narrow) return nullptr;
    wchar_t *back = nullptr;
    bool exact = narrow &&
                 WideCharToMultiByte(CP_ACP, flags, text, -1, narrow, n, nullptr, nullptr) == n &&
                 (back = TextToWide(narrow)) != nullptr && wcscmp(back, text) == 0;
    MemoryFree(back);
    if (exact) return narrow;
    MemoryFree(narrow);
    *lacking = true;
    return nullptr;
}

int CompareNames(const void *a, const void *b) {
    return lstrcmpiA(*static_cast<char *const *>(a), *static_cast<char *const *>(b));
}

// The program's own wildcard rule, over capitals: "*" any run of characters, "?" one character;
// a pattern that ends in ".*" also takes a name without a dot ("*.*" takes every name). The
// system's search also matches the short 8.3 names, so that *.png finds walk_H8.pngx.
bool Matches(const wchar_t *name, const wchar_t *pattern) {
    const wchar_t *star = nullptr, *resume = nullptr;
    while (*name) {
        if (*pattern == L'*') {
            star = ++pattern;
            resume = name;
        } else if (*pattern == L'?' || *pattern == *name) {
            bool pair = *pattern == L'?' && IS_HIGH_SURROGATE(name[0]) && IS_LOW_SURROGATE(name[1]);
            name += pair ? 2 : 1;
            pattern++;
        } else if (star) {
            pattern = star;
            name = ++resume;
        } else {
            return false;
        }
    }
    while (*pattern == L'*')
        pattern++;
    return !*pattern || wcscmp(pattern, L".*") == 0;
}

void Capitals(wchar_t *text) {
    CharUpperBuffW(text, DWORD(wcslen(text)));
}

uint32_t Hash(const char *text) {
    uint32_t hash = 2166136261u;
    for (; *text; text++)
        hash = (hash ^ static_cast<unsigned char>(*text)) * 16777619u;
    return hash;
}

// The files to convert, each once: a file named twice, or matched by two patterns, is taken the
// first time it is named. A file is known by its full path in capitals (in UTF-8, with short 8.3
// parts made long), and found by the path's hash.
struct KnownFile {
    uint32_t hash;
    size_t key; // where its key lies in the keys' block
};

struct FileList {
    NameList names;
    NameList keys;
    KnownFile *known = nullptr; // one for each key
    int32_t room = 0;           // records that fit
};

// The key of a file name, in a new block; null when memory runs out.
char *KeyOf(const char *name) {
    wchar_t *wide = TextToWide(name), *full = nullptr, *longer = nullptr;
    DWORD n = wide ? GetFullPathNameW(wide, 0, nullptr, nullptr) : 0;
    full = n ? static_cast<wchar_t *>(MemoryAlloc(n * sizeof(wchar_t))) : nullptr;
    char *key = nullptr;
    if (full && GetFullPathNameW(wide, n, full, nullptr) < n) {
        DWORD m = wcschr(full, L'~') ? GetLongPathNameW(full, nullptr, 0) : 0;
        longer = m ? static_cast<wchar_t *>(MemoryAlloc(m * sizeof(wchar_t))) : nullptr;
        wchar_t *path = longer && GetLongPathNameW(full, longer, m) < m ? longer : full;
        Capitals(path);
        int bytes = WideCharToMultiByte(CP_UTF8, 0, path, -1, nullptr, 0, nullptr, nullptr);
        key = bytes > 0 ? static_cast<char *>(MemoryAlloc(size_t(bytes))) : nullptr;
        if (key) WideCharToMultiByte(CP_UTF8, 0, path, -1, key, bytes, nullptr, nullptr);
    }
    MemoryFree(longer);
    MemoryFree(full);
    MemoryFree(wide);
    return key;
}

// Adds the file (`head` in front of `name`) unless it was taken before; false when memory runs out.
bool Take(FileList *list, const char *head, size_t headLength, const char *name) {
    int32_t start = TempString.end;
    TextCopyWords(TempReserve(int32_t(headLength), start), head, int32_t(headLength));
    StringConcat(name);
    char *key = KeyOf(TempAddress(start));
    TempString.end = start;
    if (!key) return false;
    uint32_t hash = Hash(key);
    for (int32_t i = 0; i < list->keys.count; i++) {
        if (list->known[i].hash == hash &&
            strcmp(list->keys.block + list->known[i].key, key) == 0) {
            MemoryFree(key);
            return true;
        }
    }
    if (list->keys.count == list->room) {
        int32_t room = list->room ? list->room * 2 : 256;
        auto *grown = static_cast<KnownFile *>(MemoryAlloc(sizeof(KnownFile) * size_t(room)));
        if (grown && list->known)
            memcpy(grown, list->known, sizeof(KnownFile) * size_t(list->room));
        if (grown) {
            MemoryFree(list->known);
            list->known = grown;
            list->room = room;
        }
    }
    KnownFile file = {hash, list->keys.used};
    bool taken = list->keys.count < list->room && Append(&list->keys, "", 0, key) &&
                 Append(&list->names, head, headLength, name);
    if (taken) list->known[list->keys.count - 1] = file;
    MemoryFree(key);
    return taken;
}

void Refuse(CommandRequest *request, const char *why, const char *what = "",
            const char *after = "") {
    request->kind = CommandKind::Refused;
    int32_t start = TempString.end;
    StringConcat("StripSheet: ");
    StringConcat(why);
    StringConcat(what);
    StringConcat(after);
    StringAssignTemp(&request->error, start);
}

// Refuses the request with the reason left in the temporary area at `start`.
void RefuseAt(CommandRequest *request, int32_t start) {
    StringValue why = nullptr;
    StringAssignTemp(&why, start);
    Refuse(request, why);
    StringFree(why);
}

// Refuses a name the code page cannot hold, naming it: `head` (of the code page) and `name`, whose
// characters the code page lacks are written as <U+52C7>.
void RefuseLacking(CommandRequest *request, const char *head, size_t headLength,
                   const wchar_t *name) {
    int32_t start = TempString.end;
    TextCopyWords(TempReserve(int32_t(headLength), start), head, int32_t(headLength));
    for (const wchar_t *c = name; *c;) {
        bool pair = IS_HIGH_SURROGATE(c[0]) && IS_LOW_SURROGATE(c[1]);
        wchar_t one[3] = {c[0], pair ? c[1] : L'\0', L'\0'};
        bool lacking = false;
        char *held = Narrow(one, &lacking);
        char code[16];
        uint32_t value = pair ? 0x10000 + ((uint32_t(c[0]) - 0xD800) << 10) + (c[1] - 0xDC00) : *c;
        snprintf(code, sizeof code, "<U+%04X>", unsigned(value));
        StringConcat(held ? held : code);
        MemoryFree(held);
        c += pair ? 2 : 1;
    }
    StringValue named = nullptr;
    StringAssignTemp(&named, start);
    Refuse(request, "the system's code page cannot hold the name ", named);
    StringFree(named);
}

// Adds the files whose long names match `pattern`, sorted by name, each with the pattern's folder
// part in front. Refuses the request when none matches, when memory runs out, or when the code
// page cannot hold a match's name.
void Expand(const char *pattern, FileList *files, CommandRequest *request) {
    size_t folderLength = size_t(PathLastPart(pattern) - pattern);
    wchar_t *widePattern = TextToWide(pattern);
    wchar_t *wanted = TextToWide(pattern + folderLength);
    bool ok = widePattern && wanted;
    if (ok) Capitals(wanted);
    NameList found;
    WIN32_FIND_DATAW entry;
    HANDLE search = ok ? FindFirstFileW(widePattern, &entry) : INVALID_HANDLE_VALUE;
    if (search != INVALID_HANDLE_VALUE) {
        do {
            if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
            wchar_t capitals[MAX_PATH];
            memcpy(capitals, entry.cFileName, sizeof capitals);
            capitals[MAX_PATH - 1] = L'\0';
            Capitals(capitals);
            if (!Matches(capitals, wanted)) continue;
            bool lacking = false;
            char *name = Narrow(entry.cFileName, &lacking);
            if (lacking) RefuseLacking(request, pattern, folderLength, entry.cFileName);
            ok = name && Append(&found, "", 0, name);
            MemoryFree(name);
        } while (ok && FindNextFileW(search, &entry));
        FindClose(search);
    }
    MemoryFree(widePattern);
    MemoryFree(wanted);

    auto **names = static_cast<char **>(MemoryAlloc(sizeof(char *) * size_t(found.count + 1)));
    if (request->kind == CommandKind::Refused) {
    } else if (!ok || !names) {
        Refuse(request, "not enough memory for the files of ", pattern);
    } else if (found.count == 0) {
        Refuse(request, "no file matches ", pattern);
    } else {
        char *name = found.block;
        for (int32_t i = 0; i < found.count; i++, name += strlen(name) + 1)
            names[i] = name;
        qsort(names, size_t(found.count), sizeof(char *), CompareNames);
        for (int32_t i = 0; ok && i < found.count; i++)
            ok = Take(files, pattern, folderLength, names[i]);
        if (!ok) Refuse(request, "not enough memory for the files of ", pattern);
    }
    MemoryFree(names);
    MemoryFree(found.block);
}

bool IsFolder(const char *path) {
    DWORD attributes = GetFileAttributesA(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool IsFile(const char *path) {
    DWORD attributes = GetFileAttributesA(path);
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// An argument that starts with "/" is an option, unless it goes on like a path ("/tmp/a_H4.png"
// typed under Wine).
bool IsOption(const char *argument) {
    return argument[0] == '/' && !strpbrk(argument + 1, "/\\");
}

// "/?", "/h", "-h" and "--help" all ask for the usage.
bool IsHelp(const char *argument) {
    return strcmp(argument, "/?") == 0 || _stricmp(argument, "/h") == 0 ||
           _stricmp(argument, "-h") == 0 || _stricmp(argument, "--help") == 0;
}

} // namespace

void CommandLineRead(const wchar_t *commandLine, CommandRequest *request) {
    *request = CommandRequest();
    if (!commandLine) return;
    const wchar_t *p = CommandLineSkipProgram(commandLine);
    auto *wideArgument = static_cast<wchar_t *>(MemoryAlloc((wcslen(p) + 1) * sizeof(wchar_t)));
    if (!wideArgument) return Refuse(request, "not enough memory for the command line");

    FileList files;
    bool anyFile = false;
    bool usage = false;
    uint32_t optionsGiven = 0;
    OptionRead read = OptionRead::NotAnOption;
    int32_t reason = 0;
    while (request->kind != CommandKind::Refused &&
           (p = CommandLineNextArgument(p, wideArgument))) {
        bool lacking = false;
        char *argument = Narrow(wideArgument, &lacking);
        if (!argument) {
            if (lacking)
                RefuseLacking(request, "", 0, wideArgument);
            else
                Refuse(request, "not enough memory for the command line");
        } else if (IsHelp(argument)) {
            usage = true;
        } else if ((read = SheetOptionRead(argument, &optionsGiven, &request->options,
                                           reason = TempString.end)) != OptionRead::NotAnOption) {
            if (read == OptionRead::Refused) RefuseAt(request, reason);
        } else if (_strnicmp(argument, OutOption, OutOptionLength) == 0) {
            const char *folder = argument + OutOptionLength;
            if (request->outputFolder) {
                Refuse(request, "/out: is given twice");
            } else if (!*folder) {
                Refuse(request, "no folder after /out:");
            } else if (!IsFolder(folder)) {
                Refuse(request, "no such folder: ", folder);
            } else {
                // The sheet's name is put right behind the folder.
                int32_t start = TempString.end;
                StringConcat(folder);
                if (PathNeedsSeparator(folder)) StringConcat("\\");
                StringAssignTemp(&request->outputFolder, start);
            }
        } else if (IsOption(argument)) {
            Refuse(request, "unknown option ", argument, " (StripSheet /? shows the usage)");
        } else if (strpbrk(argument, "*?")) {
            anyFile = true;
            Expand(argument, &files, request);
        } else {
            anyFile = true;
            if (!IsFile(argument))
                Refuse(request, "no such file: ", argument);
            else if (!Take(&files, "", 0, argument))
                Refuse(request, "not enough memory for the file ", argument);
        }
        MemoryFree(argument);
    }
    MemoryFree(wideArgument);
    MemoryFree(files.keys.block);
    MemoryFree(files.known);

    if (request->kind != CommandKind::Refused &&
        !SheetOptionsCheck(&request->options, optionsGiven, reason = TempString.end))
        RefuseAt(request, reason);
    if (request->kind == CommandKind::Refused) {
        MemoryFree(files.names.block);
        return;
    }
    if (usage) {
        request->kind = CommandKind::Usage;
    } else if (request->outputFolder && !anyFile) {
        Refuse(request, "no files given");
    } else if (anyFile) {
        request->kind = request->outputFolder ? CommandKind::NoDialogs : CommandKind::Files;
        request->files = files.names.block;
        return;
    }
    MemoryFree(files.names.block);
}

void CommandLineFree(CommandRequest *request) {
    MemoryFree(request->files);
    StringFree(request->outputFolder);
    StringFree(request->error);
    *request = CommandRequest();
}
