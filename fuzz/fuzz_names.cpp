// The batch driver's name rules over a selection made from the fuzzer's bytes (one name a line),
// with dialogs that hand out that selection and a conversion that checks what it is given: every
// strip it receives must be named prefix_<H or V><digits>.<png, bmp or jpg>, in any case, with
// the digits' value as its count, and the counts in the summary must add up.
#include "app/batch.h"
#include "app/convert.h"
#include "runtime/dialogs/dialogs.h"
#include "runtime/memory/memory.h"
#include "runtime/strings/strings.h"

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

std::vector<std::string> selection;
size_t next;
int32_t conversions;

void Deliver(const std::string &text, int32_t position) {
    constexpr int32_t PathRoom = 260;
    memcpy(TempReserve(PathRoom, position), text.c_str(), text.size() + 1);
    TempGiveBack(PathRoom - int32_t(text.size()));
}

std::string Lower(std::string text) {
    for (char &c : text)
        c = char(tolower(static_cast<unsigned char>(c)));
    return text;
}

void Check(bool holds) {
    if (!holds) abort();
}

} // namespace

void DialogOpenFile(const char *, const char *, const char *, int32_t, int32_t, int32_t position) {
    next = 0;
    Deliver(selection.empty() ? "" : selection[next++], position);
}

void DialogNextFile(int32_t position) {
    Deliver(next < selection.size() ? selection[next++] : "", position);
}

int32_t DialogFileCount() {
    return int32_t(selection.size());
}

void DialogChooseFolder(const char *, const char *, int32_t position) {
    Deliver("D:\\Out\\", position);
}

int32_t DialogMessage(const char *title, const char *text, int32_t) {
    std::string want = "Files Selected: " + std::to_string(FilesSelected) +
                       "\r\nFiles Converted: " + std::to_string(FilesConverted) +
                       "\r\nFiles Skipped: " + std::to_string(FilesSkipped) +
                       "\r\nFiles Errors: " + std::to_string(FilesErrors) + "\r\n";
    Check(strcmp(title, "Conversion Completed") == 0 && want == text);
    return IDOK;
}

ConvertOutcome ConvertStrip(const char *stripPath, const char *prefix, const char *extension,
                            const char *direction, int32_t count, const char *outputDirectory,
                            bool) {
    conversions++;
    Check(strcmp(outputDirectory, "D:\\Out\\") == 0);
    std::string ext = extension;
    Check(ext == "png" || ext == "bmp" || ext == "jpg");
    Check(strcmp(direction, "H") == 0 || strcmp(direction, "V") == 0);
    Check(count >= 1);
    // The path ends in prefix + "_" + direction + digits + "." + extension, ignoring case.
    std::string path = Lower(stripPath);
    std::string tail = "." + ext;
    Check(path.size() > tail.size() &&
          path.compare(path.size() - tail.size(), tail.size(), tail) == 0);
    size_t end = path.size() - tail.size(), digits = end;
    while (digits > 0 && isdigit(static_cast<unsigned char>(path[digits - 1])))
        digits--;
    Check(digits < end && digits >= 2);
    Check(strtoll(path.c_str() + digits, nullptr, 10) == count);
    Check(path[digits - 1] == Lower(direction)[0] && path[digits - 2] == '_');
    std::string front = Lower(prefix);
    Check(digits - 2 >= front.size() &&
          path.compare(digits - 2 - front.size(), front.size(), front) == 0);
    FilesConverted++;
    return ConvertOutcome::Converted;
}

// Every conversion above ends at once: the driver has no save to wait for.
ConvertOutcome ConvertStripFinish() {
    Check(false);
    return ConvertOutcome::NotWritten;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (!StringHeap) TempStringInit();
    selection.clear();
    std::string name;
    for (size_t i = 0; i <= size; i++) {
        if (i == size || data[i] == '\n') {
            if (!name.empty() && name.size() < 250) selection.push_back(name);
            name.clear();
        } else if (data[i] != 0 && data[i] != '"') {
            // A file name holds no double quote (the path functions end an extension there).
            name += char(data[i]);
        }
    }
    FilesSelected = FilesSkipped = FilesConverted = FilesErrors = 0;
    conversions = 0;
    TempString.end = 0;
    BatchConvert();
    Check(FilesSelected == int32_t(selection.size()));
    Check(FilesSkipped + conversions == FilesSelected);
    Check(TempString.end == 0);
    return 0;
}
