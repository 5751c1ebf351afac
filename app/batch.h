// The batch driver: asks for strips and an output folder (or takes them from the command line),
// sorts the files by name, converts the ones that qualify and reports the four counts.
#pragma once

#include <cstdint>

// Process-wide counts of one run, zero at start.
extern int32_t FilesSelected;
extern int32_t FilesSkipped;
extern int32_t FilesConverted;
extern int32_t FilesErrors;

// Receives the text of a run without dialogs: the four counts, then a line for each file that was
// not converted, saying why.
using BatchReportRoutine = void (*)(const char *text);

// `files`: null = ask with the file dialog; otherwise the files to convert, each name ending in a
// NUL, an empty name closing the list. `outputFolder`: null = ask with the folder browser and show
// the counts in a message box; otherwise the folder (ending in a backslash) of a run without
// dialogs, whose text goes to `report`. Returns the exit code: 0, or 1 when a run without dialogs
// could not convert a file named as a strip.
int32_t BatchConvert(const char *files = nullptr, const char *outputFolder = nullptr,
                     BatchReportRoutine report = nullptr);
int32_t TextIsNumber(const char *text, int32_t minusAllowed, int32_t dotAllowed);
