// The batch driver: asks for the strips and the output folder, decides from each name whether
// it is a strip, hands the strips to the conversion and shows the four counts.
#include "app/batch.h"

#include "app/convert.h"
#include "runtime/dialogs/dialogs.h"
#include "runtime/strings/strings.h"

int32_t FilesSelected;
int32_t FilesSkipped;
int32_t FilesConverted;
int32_t FilesErrors;

namespace {

constexpr char FilePattern[] =
    "PNG Image (*.png)|*.png|BMP Image (*.bmp)|*.bmp|JPG Image (*.jpg)|*.jpg|All Files (*.*)|*.*";
constexpr int32_t MultipleSelection = 1;
constexpr int32_t PlainMessage = 0;

// The pieces of one file's name, released after the file has been examined.
struct NameParts {
    StringValue extension = nullptr;
    StringValue baseName = nullptr;
    StringValue suffix = nullptr;
    StringValue prefix = nullptr;
    StringValue direction = nullptr;
    StringValue countText = nullptr;

    ~NameParts() {
        StringFree(extension);
        StringFree(baseName);
        StringFree(suffix);
        StringFree(prefix);
        StringFree(direction);
        StringFree(countText);
    }
};

// Steps past an intermediate result at position so that the next operation can take it as its
// argument (and write its own result over it).
const char *KeepIntermediate(int32_t position) {
    TempString.end += 1;
    return TempAddress(position);
}

// A frame count must be a positive 32-bit value: 0 or an empty count would divide the strip by
// zero, and a longer text would wrap around to some unrelated count. Leading zeros are fine.
bool CountInRange(const char *countText) {
    int64_t value = 0;
    for (const char *p = countText; *p; p++) {
        value = value * 10 + (*p - '0');
        if (value > INT32_MAX) return false;
    }
    return value > 0;
}

void ExamineFile(const char *currentFile, const char *outputDirectory) {
    NameParts name;
    int32_t accept = 1;
    FilesSelected += 1;

    int32_t start = TempString.end;
    PathExtension(currentFile, start);
    StringLower(KeepIntermediate(start), start);
    StringAssignTemp(&name.extension, start);

    start = TempString.end;
    PathFileName(currentFile, start);
    const char *filePart = KeepIntermediate(start);
    StringLeft(filePart, StringLength(filePart) - StringLength(name.extension) - 1, start);
    StringAssignTemp(&name.baseName, start);

    if (!StringEqual(name.extension, "png") && !StringEqual(name.extension, "bmp") &&
        !StringEqual(name.extension, "jpg"))
        accept = 0;

    int32_t fields = StringOccurrences(name.baseName, "_");
    if (fields == 0) {
        accept = 0;
    } else {
        start = TempString.end;
        StringNthField(name.baseName, fields + 1, "_", start);
        StringUpper(KeepIntermediate(start), start);
        StringAssignTemp(&name.suffix, start);

        start = TempString.end;
        StringLeft(name.baseName, StringLength(name.baseName) - StringLength(name.suffix) - 1,
                   start);
        StringAssignTemp(&name.prefix, start);

        start = TempString.end;
        StringLeft(name.suffix, 1, start);
        StringAssignTemp(&name.direction, start);

        if (!StringEqual(name.direction, "H") && !StringEqual(name.direction, "V")) accept = 0;

        start = TempString.end;
        StringRight(name.suffix, StringLength(name.suffix) - 1, start);
        StringAssignTemp(&name.countText, start);
    }

    int32_t count = 0;
    if (fields != 0 && TextIsNumber(name.countText, 0, 0) && CountInRange(name.countText))
        count = FloatToInteger(double(StringToInteger(name.countText)));
    else
        accept = 0;

    if (accept == 1)
        ConvertStrip(currentFile, name.prefix, name.extension, name.direction, count,
                     outputDirectory);
    else
        FilesSkipped += 1;
}

} // namespace

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

void BatchConvert() {
    StringValue pattern = nullptr;
    StringValue initialPath = nullptr;
    StringValue outputDirectory = nullptr;
    StringValue currentFile = nullptr;
    StringValue summary = nullptr;
    StringAssign(&pattern, FilePattern);
    StringAssign(&initialPath, "C:\\");

    int32_t start = TempString.end;
    DialogOpenFile("Select File(s)", "", pattern, 0, MultipleSelection, start);
    StringAssignTemp(&currentFile, start);

    if (!StringEqual(currentFile, "")) {
        start = TempString.end;
        DialogChooseFolder("Select Output Directory", initialPath, start);
        StringAssignTemp(&outputDirectory, start);
    }

    if (!StringEqual(outputDirectory, "")) {
        while (!StringEqual(currentFile, "")) {
            ExamineFile(currentFile, outputDirectory);
            start = TempString.end;
            DialogNextFile(start);
            StringAssignTemp(&currentFile, start);
        }

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
        StringAssignTemp(&summary, start);

        DialogMessage("Conversion Completed", summary, PlainMessage);
    }

    StringFree(pattern);
    StringFree(initialPath);
    StringFree(outputDirectory);
    StringFree(currentFile);
    StringFree(summary);
}
