// The command line: splits it into arguments by the system's quoting rules, expands wildcards and
// checks the files and the output folder before anything is converted.
#include "app/command_line.h"

#include "runtime/image/image_codec.h"
#include "runtime/memory/memory.h"

#include <windows.h>

#include <cstdlib>
#include <cstring>

const char CommandUsage[] =
    "Usage: StripSheet [/out:FOLDER] FILE...\r\n"
    "Turns sprite strips (walk_H8.png, Hero_V12.bmp, ...) into sheets eight frames wide.\r\n"
    "  FILE...      the strips, in this order; wildcards are expanded (art\\*_H8.png)\r\n"
    "  /out:FOLDER  write the sheets into FOLDER without any dialog and report here; exit code\r\n"
    "               0 when no file failed, 1 when one did, 2 when nothing was done\r\n"
    "  /columns:N   N frames a row (1 to 32767) instead of 8\r\n"
    "  /spacing:N   N pixels between neighbouring frames, across and down\r\n"
    "  /margin:N    N pixels around the whole sheet\r\n"
    "  /extrude:N   each frame's edge pixels repeated N pixels outward, against filtering bleed\r\n"
    "  /alpha       PNG sheets keep the strips' transparency (RGBA, transparent background)\r\n"
    "  /json        a frame data file beside each sheet (walk_B8.json), for game engines\r\n"
    "  /?, /h       show this text\r\n"
    "Without /out: StripSheet asks for the output folder; without files it asks for them too.\r\n"
    "The sheet options, given before or among the files, apply to dialog runs too.\r\n";

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

// Copies the next argument into `argument` (room for the rest of the line) and returns the
// position after it, or null when none is left. 2n backslashes before a quote give n and the
// quote opens or closes a quoted part; 2n + 1 give n and a literal quote; other backslashes stay.
const char *NextArgument(const char *p, char *argument) {
    while (*p == ' ' || *p == '\t')
        p++;
    if (!*p) return nullptr;
    bool quoted = false;
    char *out = argument;
    while (*p && (quoted || (*p != ' ' && *p != '\t'))) {
        size_t backslashes = 0;
        while (*p == '\\') {
            backslashes++;
            p++;
        }
        if (*p == '"') {
            for (size_t i = 0; i < backslashes / 2; i++)
                *out++ = '\\';
            if (backslashes % 2) {
                *out++ = '"';
            } else if (quoted && p[1] == '"') {
                *out++ = '"'; // "" inside quotes is one literal quote
                p++;
            } else {
                quoted = !quoted;
            }
            p++;
        } else {
            for (size_t i = 0; i < backslashes; i++)
                *out++ = '\\';
            if (*p && (quoted || (*p != ' ' && *p != '\t'))) *out++ = *p++;
        }
    }
    *out = '\0';
    return p;
}

// The program's own name follows simpler rules: up to the closing quote, or to the first blank.
const char *SkipProgramName(const char *p) {
    if (*p == '"') {
        const char *close = strchr(p + 1, '"');
        return close ? close + 1 : p + strlen(p);
    }
    while (*p && *p != ' ' && *p != '\t')
        p++;
    return p;
}

// A text of the process's code page as UTF-16 in a new block, so that long names and names in
// any script survive the file search; null when it cannot be had.
wchar_t *Wide(const char *text) {
    int n = MultiByteToWideChar(CP_ACP, 0, text, -1, nullptr, 0);
    if (n <= 0) return nullptr;
    auto *wide = static_cast<wchar_t *>(MemoryAlloc(size_t(n) * sizeof(wchar_t)));
    if (wide && MultiByteToWideChar(CP_ACP, 0, text, -1, wide, n) != n) {
        MemoryFree(wide);
        wide = nullptr;
    }
    return wide;
}

char *Narrow(const wchar_t *text) {
    int n = WideCharToMultiByte(CP_ACP, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (n <= 0) return nullptr;
    auto *narrow = static_cast<char *>(MemoryAlloc(size_t(n)));
    if (narrow && WideCharToMultiByte(CP_ACP, 0, text, -1, narrow, n, nullptr, nullptr) != n) {
        MemoryFree(narrow);
        narrow = nullptr;
    }
    return narrow;
}

int CompareNames(const void *a, const void *b) {
    return lstrcmpiA(*static_cast<char *const *>(a), *static_cast<char *const *>(b));
}

// Adds the files that match `pattern`, sorted by name, each with the pattern's folder part in
// front. False when memory runs out; a pattern that matches nothing adds nothing.
bool Expand(const char *pattern, NameList *files) {
    size_t folderLength = 0;
    for (size_t i = 0; pattern[i]; i++)
        if (pattern[i] == '\\' || pattern[i] == '/' || pattern[i] == ':') folderLength = i + 1;

    NameList found;
    bool ok = true;
    wchar_t *widePattern = Wide(pattern);
    if (!widePattern) return false;
    WIN32_FIND_DATAW entry;
    HANDLE search = FindFirstFileW(widePattern, &entry);
    MemoryFree(widePattern);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
            char *name = Narrow(entry.cFileName);
            ok = name && Append(&found, "", 0, name);
            MemoryFree(name);
        } while (ok && FindNextFileW(search, &entry));
        FindClose(search);
    }

    auto **names = static_cast<char **>(MemoryAlloc(sizeof(char *) * size_t(found.count + 1)));
    ok = ok && names;
    if (ok) {
        char *name = found.block;
        for (int32_t i = 0; i < found.count; i++, name += strlen(name) + 1)
            names[i] = name;
        qsort(names, size_t(found.count), sizeof(char *), CompareNames);
        for (int32_t i = 0; ok && i < found.count; i++)
            ok = Append(files, pattern, folderLength, names[i]);
    }
    MemoryFree(names);
    MemoryFree(found.block);
    return ok;
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

// "/?", "/h", "-h" and "--help" all ask for the usage.
bool IsHelp(const char *argument) {
    return strcmp(argument, "/?") == 0 || _stricmp(argument, "/h") == 0 ||
           _stricmp(argument, "-h") == 0 || _stricmp(argument, "--help") == 0;
}

// The sheet options that take a number, and the values a sheet can hold: a cell of a 1-pixel
// frame, its extrusion and the margins must fit an image's 32767 pixels, and so must two cells of
// 1 pixel and the space between them.
struct NumberOption {
    const char *name;
    int32_t SheetOptions::*field;
    int32_t least;
    int32_t most;
};
constexpr NumberOption NumberOptions[] = {
    {"/columns", &SheetOptions::columns, 1, ImageMaxSize},
    {"/spacing", &SheetOptions::spacing, 0, ImageMaxSize - 2},
    {"/margin", &SheetOptions::margin, 0, (ImageMaxSize - 1) / 2},
    {"/extrude", &SheetOptions::extrude, 0, (ImageMaxSize - 1) / 2},
};
constexpr int32_t NumberOptionCount = sizeof NumberOptions / sizeof NumberOptions[0];

struct SwitchOption {
    const char *name;
    bool SheetOptions::*field;
};
constexpr SwitchOption SwitchOptions[] = {
    {"/alpha", &SheetOptions::alpha},
    {"/json", &SheetOptions::json},
};
constexpr int32_t SwitchOptionCount = sizeof SwitchOptions / sizeof SwitchOptions[0];

// The argument's value when it is `name` (in any letter case) followed by ":" and the value or by
// nothing (an empty value); null when it is another argument.
const char *OptionValue(const char *argument, const char *name) {
    size_t length = strlen(name);
    if (_strnicmp(argument, name, length) != 0) return nullptr;
    if (argument[length] == '\0') return argument + length;
    return argument[length] == ':' ? argument + length + 1 : nullptr;
}

// A decimal number from `least` to `most`, digits only; false for anything else.
bool ReadNumber(const char *text, int32_t least, int32_t most, int32_t *value) {
    int64_t number = 0;
    if (!*text) return false;
    for (const char *p = text; *p; p++) {
        if (*p < '0' || *p > '9') return false;
        number = number * 10 + (*p - '0');
        if (number > most) return false;
    }
    if (number < least) return false;
    *value = int32_t(number);
    return true;
}

void RefuseNumber(CommandRequest *request, const NumberOption &option, const char *value) {
    int32_t start = TempString.end;
    StringConcat(*value ? ": takes a whole number from " : ": needs a whole number from ");
    StringFromInteger(option.least, TempString.end);
    StringConcat(" to ");
    StringFromInteger(option.most, TempString.end);
    if (*value) {
        StringConcat(", not ");
        StringConcat(value);
    }
    StringValue why = nullptr;
    StringAssignTemp(&why, start);
    Refuse(request, option.name, why);
    StringFree(why);
}

// Takes the argument when it is a sheet option: true, with the option set or the command line
// refused; false for any other argument. `given` has a bit for each option already given.
bool ReadSheetOption(const char *argument, uint32_t *given, CommandRequest *request) {
    for (int32_t i = 0; i < NumberOptionCount + SwitchOptionCount; i++) {
        bool number = i < NumberOptionCount;
        const char *name =
            number ? NumberOptions[i].name : SwitchOptions[i - NumberOptionCount].name;
        const char *value = OptionValue(argument, name);
        if (!value) continue;
        if (*given & (1u << i)) {
            Refuse(request, name, " is given twice");
        } else if (!number) {
            if (*value || argument[strlen(name)] == ':')
                Refuse(request, name, " takes no value");
            else
                request->options.*SwitchOptions[i - NumberOptionCount].field = true;
        } else if (!ReadNumber(value, NumberOptions[i].least, NumberOptions[i].most,
                               &(request->options.*NumberOptions[i].field))) {
            RefuseNumber(request, NumberOptions[i], value);
        }
        *given |= 1u << i;
        return true;
    }
    return false;
}

} // namespace

void CommandLineRead(const char *commandLine, CommandRequest *request) {
    *request = CommandRequest();
    if (!commandLine) return;
    const char *p = SkipProgramName(commandLine);
    auto *argument = static_cast<char *>(MemoryAlloc(strlen(p) + 1));
    if (!argument) return Refuse(request, "not enough memory for the command line");

    NameList files;
    bool anyFile = false;
    bool usage = false;
    uint32_t optionsGiven = 0;
    while (request->kind != CommandKind::Refused && (p = NextArgument(p, argument))) {
        if (IsHelp(argument)) {
            usage = true;
        } else if (ReadSheetOption(argument, &optionsGiven, request)) {
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
                char last = folder[strlen(folder) - 1];
                int32_t start = TempString.end;
                StringConcat(folder);
                if (last != '\\' && last != '/' && last != ':') StringConcat("\\");
                StringAssignTemp(&request->outputFolder, start);
            }
        } else if (IsOption(argument)) {
            Refuse(request, "unknown option ", argument, " (StripSheet /? shows the usage)");
        } else if (strpbrk(argument, "*?")) {
            anyFile = true;
            int32_t before = files.count;
            if (!Expand(argument, &files))
                Refuse(request, "not enough memory for the files of ", argument);
            else if (files.count == before)
                Refuse(request, "no file matches ", argument);
        } else {
            anyFile = true;
            if (!IsFile(argument))
                Refuse(request, "no such file: ", argument);
            else if (!Append(&files, "", 0, argument))
                Refuse(request, "not enough memory for the file ", argument);
        }
    }
    MemoryFree(argument);

    if (request->kind == CommandKind::Refused) {
        MemoryFree(files.block);
        return;
    }
    if (usage) {
        request->kind = CommandKind::Usage;
    } else if (request->outputFolder && !anyFile) {
        Refuse(request, "no files given");
    } else if (anyFile) {
        request->kind = request->outputFolder ? CommandKind::NoDialogs : CommandKind::Files;
        request->files = files.block;
        return;
    }
    MemoryFree(files.block);
}

void CommandLineFree(CommandRequest *request) {
    MemoryFree(request->files);
    StringFree(request->outputFolder);
    StringFree(request->error);
    *request = CommandRequest();
}
