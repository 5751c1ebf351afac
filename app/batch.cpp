// The batch driver: asks for the strips and the output folder, decides from each name whether
// it is a strip, hands the strips to the conversion and shows the four counts.
#include "app/batch.h"

#include "app/convert.h"
#include "app/strip_name.h"
#include "runtime/dialogs/dialogs.h"
#include "runtime/strings/strings.h"

#include <algorithm>
#include <cstring>

int32_t FilesSelected;
int32_t FilesSkipped;
int32_t FilesConverted;
int32_t FilesErrors;

namespace {

constexpr char FilePattern[] =
    "PNG Image (*.png)|*.png|BMP Image (*.bmp)|*.bmp|JPG Image (*.jpg)|*.jpg|All Files (*.*)|*.*";
constexpr int32_t MultipleSelection = 1;
constexpr int32_t PlainMessage = 0;
constexpr char NotAStripName[] = "skipped: not a strip's name";
// Not a reason: the strip's sheet is still being written, or its frames wait for the atlas.
constexpr char NotYet[] = "not yet";

// The next name of the files given on the command line; null when the file dialog delivers them.
const char *GivenFile;

// Where the lines of the files not converted go (null: nowhere), and whether one was a failure.
BatchReportRoutine Report;
bool AnyFailed;

// What the runs show while they go; null for nothing.
const BatchProgress *Progress;

// The next file to examine, by the area's result protocol; empty when none is left.
void NextFile(int32_t position) {
    if (!GivenFile) {
        DialogNextFile(position);
        return;
    }
    // The list lies outside the area, so a move of the area does not disturb it.
    int32_t length = int32_t(strlen(GivenFile));
    memcpy(TempReserve(length, position), GivenFile, size_t(length) + 1);
    if (length) GivenFile += length + 1;
}

// Why a strip was not converted, in a few words; null when it was.
const char *Reason(ConvertOutcome outcome) {
    switch (outcome) {
    case ConvertOutcome::Converted:
        return nullptr;
    case ConvertOutcome::NotAPicture:
        return "not a picture";
    case ConvertOutcome::Unreadable:
        return "could not be read";
    case ConvertOutcome::Damaged:
        return "damaged";
    case ConvertOutcome::TooManyFrames:
        return "more frames than pixels";
    case ConvertOutcome::TooLarge:
        return "too large";
    case ConvertOutcome::NotWritten:
        return "could not be written";
    case ConvertOutcome::ReadOnly:
        return "read-only";
    case ConvertOutcome::SameName:
        return "same name";
    case ConvertOutcome::Saving:
    case ConvertOutcome::InAtlas:
        return NotYet;
    }
    return "not converted";
}

// Returns why the file was not converted, or null when it was.
const char *ExamineFile(const char *currentFile, const char *outputDirectory) {
    FilesSelected += 1;
    const char *name = PathLastPart(currentFile);
    StripName strip;
    if (!StripNameParse(name, StringLength(name), &strip)) {
        FilesSkipped += 1;
        return NotAStripName;
    }
    StringValue prefix = nullptr;
    int32_t start = TempString.end;
    StringLeft(name, strip.prefixLength, start);
    StringAssignTemp(&prefix, start);
    const char direction[] = {strip.direction, '\0'};
    const char *why = Reason(ConvertStrip(currentFile, prefix, strip.extension, direction,
                                          strip.count, outputDirectory, true));
    StringFree(prefix);
    return why;
}

// `*name` becomes the file after `before`, or "" once the list has ended (asking no further).
void NameAfter(const char *before, StringValue *name) {
    if (StringEqual(before, "")) {
        StringAssign(name, "");
        return;
    }
    int32_t start = TempString.end;
    NextFile(start);
    StringAssignTemp(name, start);
}

// Names a later file to the conversion when it is named as a strip: it is read (and its sheet
// made) while the current one is converted.
void ReadAhead(const char *file, const char *outputDirectory) {
    const char *name = file ? PathLastPart(file) : "";
    StripName strip;
    if (!file || !*file || !StripNameParse(name, StringLength(name), &strip)) return;
    StringValue prefix = nullptr;
    int32_t start = TempString.end;
    StringLeft(name, strip.prefixLength, start);
    StringAssignTemp(&prefix, start);
    const char direction[] = {strip.direction, '\0'};
    ConvertStripAhead(file, prefix, strip.extension, direction, strip.count, outputDirectory);
    StringFree(prefix);
}

// Adds the file's line to the reasons piled up in the area, when it was not converted.
void Note(const char *file, const char *why) {
    if (why && Report) {
        StringConcat(file);
        StringConcat(": ");
        StringConcat(why);
        StringConcat("\r\n");
    }
    if (why && why != NotAStripName) AnyFailed = true;
}

void FinishOldestSave() {
    const char *file = nullptr;
    ConvertOutcome outcome = ConvertStripFinish(&file);
    Note(file, Reason(outcome));
}

// The lines come in the order the files were given: every save still under way is finished
// before a later file's line is added.
void FinishSaves() {
    while (ConvertStripsSaving() > 0)
        FinishOldestSave();
}

// A line of the report about the run's atlas.
void NoteLine(const char *line) {
    if (!Report) return;
    StringConcat(line);
    StringConcat("\r\n");
}

// What the end of the batch tells of the atlas: its strips that failed, and its own lines.
constexpr ConvertEndReport EndReport = {
    [](const char *file, ConvertOutcome outcome) { Note(file, Reason(outcome)); }, NoteLine};

// How many names the list given on the command line holds.
int32_t GivenCount(const char *files) {
    int32_t count = 0;
    for (const char *name = files; *name; name += strlen(name) + 1)
        count += 1;
    return count;
}

// The line of a stopped run, behind the summary: how many of the files were not examined.
void ConcatStopped(int32_t left, int32_t total, bool dialogs) {
    StringConcat(dialogs ? "Stopped before " : "stopped: ");
    StringFromInteger(left, TempString.end);
    if (dialogs) {
        StringConcat(" of ");
        StringFromInteger(total, TempString.end);
        StringConcat(" files.\r\n");
    } else {
        StringConcat(" files not examined\r\n");
    }
}

} // namespace

void BatchProgressSet(const BatchProgress *progress) {
    Progress = progress;
}

int32_t TextIsNumber(const char *text, int32_t minusAllowed, int32_t dotAllowed) {
    int32_t result = 1;
    int32_t length = StringLength(text);
    for (int32_t i = 1; i <= length; i++) {
        int32_t start = TempString.end;
        StringMid(text, i, 1, start);
        int32_t code = StringCharCode(TempAddress(start));
        TempString.end = start;
        if (code >= '0' && code <= '9') continue;
        if ((code == '-' && minusAllowed == 1) || (code == '.' && dotAllowed == 1)) continue;
        result = 0;
    }
    return result;
}

int32_t BatchConvert(const char *files, const char *outputFolder, BatchReportRoutine report) {
    StringValue pattern = nullptr;
    StringValue initialPath = nullptr;
    StringValue outputDirectory = nullptr;
    StringValue currentFile = nullptr;
    StringValue summary = nullptr;
    StringValue reasons = nullptr;
    Report = report;
    AnyFailed = false;
    bool stopped = false;
    StringAssign(&pattern, FilePattern);
    StringAssign(&initialPath, "C:\\");
    GivenFile = files;

    int32_t start = TempString.end;
    if (files)
        NextFile(start);
    else
        DialogOpenFile("Select File(s)", "", pattern, 0, MultipleSelection, start);
    StringAssignTemp(&currentFile, start);

    if (!StringEqual(currentFile, "")) {
        start = TempString.end;
        if (outputFolder)
            StringConcat(outputFolder);
        else
            DialogChooseFolder("Select Output Directory", initialPath, start);
        StringAssignTemp(&outputDirectory, start);
    }

    if (!StringEqual(outputDirectory, "")) {
        // The reason lines pile up at the area's start position; everything the loop builds
        // goes behind them and is taken back before the next line is added.
        int32_t reasonsStart = TempString.end;
        int32_t total = files ? GivenCount(files) : DialogFileCount(), examined = 0;
        if (Progress) Progress->Begin(total);
        // Every strip is named ahead, the first too: while one is converted, the ones after it are
        // read (and their sheets made) on whichever core is free. `coming[0]` is the one converted
        // now.
        ConvertBatchBegin();
        constexpr int32_t Last = ConvertStripsAhead - 1;
        StringValue coming[ConvertStripsAhead] = {};
        StringAssign(&coming[0], currentFile);
        for (int32_t k = 1; k <= Last; k++)
            NameAfter(coming[k - 1], &coming[k]);
        for (int32_t k = 0; k < Last; k++)
            ReadAhead(coming[k], outputDirectory);
        while (!StringEqual(coming[0], "")) {
            if (Progress && Progress->Step(examined + 1, coming[0])) {
                stopped = true;
                break;
            }
            examined += 1;
            if (ConvertStripsSaving() == ConvertSavesAtOnce) FinishOldestSave();
            ReadAhead(coming[Last], outputDirectory);
            const char *why = ExamineFile(coming[0], outputDirectory);
            // A strip whose sheet is being written, or whose frames wait for the atlas, has its
            // line (if any) later.
            if (why != NotYet) {
                FinishSaves();
                Note(coming[0], why);
            }
            std::rotate(coming, coming + 1, coming + ConvertStripsAhead);
            NameAfter(coming[Last - 1], &coming[Last]);
        }
        for (StringValue &name : coming)
            StringFree(name);
        FinishSaves();
        ConvertStripAhead(nullptr);
        if (stopped && report) ConcatStopped(total - examined, total, false);
        ConvertBatchEnd(stopped, outputDirectory, EndReport);
        if (Progress) Progress->End();
        StringAssignTemp(&reasons, reasonsStart);

        start = TempString.end;
        StringConcat("Files Selected: ");
        StringFromInteger(FilesSelected, TempString.end);
        StringConcat("\r\n");
        StringConcat("Files Converted: ");
        StringFromInteger(FilesConverted, TempString.end);
        StringConcat("\r\n");
        StringConcat("Files Skipped: ");
        StringFromInteger(FilesSkipped, TempString.end);
        StringConcat("\r\n");
        StringConcat("Files Errors: ");
        StringFromInteger(FilesErrors, TempString.end);
        StringConcat("\r\n");
        if (stopped && !report) ConcatStopped(total - examined, total, true);
        StringAssignTemp(&summary, start);

        if (report) {
            start = TempString.end;
            StringConcat(summary);
            StringConcat(reasons);
            report(TempAddress(start));
            TempString.end = start;
        } else {
            DialogMessage("Conversion Completed", summary, PlainMessage);
        }
    }

    GivenFile = nullptr;
    Report = nullptr;
    StringFree(pattern);
    StringFree(initialPath);
    StringFree(outputDirectory);
    StringFree(currentFile);
    StringFree(summary);
    StringFree(reasons);
    if (report && stopped) return BatchStoppedExit;
    return report && AnyFailed ? 1 : 0;
}
