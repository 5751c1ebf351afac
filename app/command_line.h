// The command line: strips given as arguments (dropped onto the program, sent to it, or typed),
// and an output folder for a run without dialogs.
//
//     StripSheet.exe                          both dialogs, as always
//     StripSheet.exe FILE...                  the files instead of the file dialog, then the folder
//     browser StripSheet.exe /out:FOLDER FILE...      no dialog; the summary goes to the console
//     StripSheet.exe /?                       the usage
// Sheet options (/columns:N, /alpha, ...) may come before or among the files, in any kind of run.
#pragma once

#include "app/sheet_options.h"
#include "runtime/strings/strings.h"

#include <cstdint>

enum class CommandKind {
    Dialogs,   // no arguments
    Files,     // files, then the folder browser
    NoDialogs, // files and an output folder
    Usage,     // "/?"
    Refused,   // an unknown option, a bad folder, a missing file or no file: nothing is converted
};

struct CommandRequest {
    CommandKind kind = CommandKind::Dialogs;
    // The files in the order given, wildcards expanded: each name ends in a NUL and an empty name
    // closes the list. A MainHeap block, null when no file was given.
    char *files = nullptr;
    StringValue outputFolder = nullptr; // NoDialogs: the folder, ending in a backslash
    StringValue error = nullptr;        // Refused: one line saying why
    SheetOptions options;               // how the sheets are laid out, for every kind of run
};

// Appends the usage text to the temporary area.
void CommandUsageConcat();

// Reads a whole command line as GetCommandLineW gives it, the program's own name first. Each
// argument is taken in the process's code page only when that holds every character of it.
void CommandLineRead(const wchar_t *commandLine, CommandRequest *request);
void CommandLineFree(CommandRequest *request);
