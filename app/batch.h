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
// What a batch shows while it runs, and how it is stopped. Begin comes before the first file with
// the number of files given or chosen; Step before each file, numbered from 1, returns 1 to stop
// before that file; End comes after the last sheet was written, before the summary.
struct BatchProgress {
    void (*Begin)(int32_t total);
    int32_t (*Step)(int32_t number, const char *file);
    void (*End)();
};

// The progress of the runs that follow; null (the default) for none. A stopped run still finishes
// the sheets under way; its summary counts the files examined and then says how many were left:
// "Stopped before N of M files." in the message box, "stopped: N files not examined" in the text
// of a run without dialogs, which then returns BatchStoppedExit.
void BatchProgressSet(const BatchProgress *progress);
constexpr int32_t BatchStoppedExit = 3;

int32_t TextIsNumber(const char *text, int32_t minusAllowed, int32_t dotAllowed);
