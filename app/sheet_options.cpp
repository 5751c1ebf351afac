// The table of sheet options and the reading of one option's text.
#include "app/sheet_options.h"

#include "runtime/image/image_codec.h"
#include "runtime/strings/strings.h"

#include <cstring>

// The values a sheet can hold: a cell of a 1-pixel frame, its extrusion and the margins must fit
// an image's 32767 pixels, and so must two cells of 1 pixel and the space between them.
const OptionRow SheetOptionRows[] = {
    {"/columns", OptionKind::Number, nullptr, &SheetOptions::columns, 1, ImageMaxSize, "N",
     "N frames a row (1 to 32767) instead of 8", "&Columns:"},
    {"/spacing", OptionKind::Number, nullptr, &SheetOptions::spacing, 0, ImageMaxSize - 2, "N",
     "N pixels between neighbouring frames, across and down", "&Spacing:"},
    {"/margin", OptionKind::Number, nullptr, &SheetOptions::margin, 0, (ImageMaxSize - 1) / 2, "N",
     "N pixels around the whole sheet", "&Margin:"},
    {"/extrude", OptionKind::Number, nullptr, &SheetOptions::extrude, 0, (ImageMaxSize - 1) / 2,
     "N", "each frame's edge pixels repeated N pixels outward, against filtering bleed",
     "E&xtrude:"},
    {"/alpha", OptionKind::Switch, &SheetOptions::alpha, nullptr, 0, 0, nullptr,
     "PNG sheets keep the strips' transparency (RGBA, transparent background)",
     "Keep &transparency (PNG)"},
    {"/json", OptionKind::Switch, &SheetOptions::json, nullptr, 0, 0, nullptr,
     "a frame data file beside each sheet (walk_B8.json), for game engines",
     "Frame &data file (.json)"},
};
const int32_t SheetOptionCount = sizeof SheetOptionRows / sizeof SheetOptionRows[0];
static_assert(sizeof SheetOptionRows / sizeof SheetOptionRows[0] <= 32, "one bit of `given` a row");

namespace {

// The column the usage's descriptions start at.
constexpr int32_t UsageColumn = 15;

// The argument's value when it is `name` (in any letter case) followed by ":" and the value or by
// nothing (an empty value); null when it is another argument.
const char *ValueOf(const char *argument, const char *name) {
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

// Why the row refuses the value, in the temporary area at `start`.
void ConcatRefusal(const OptionRow &row, const char *value, int32_t start) {
    TempString.end = start;
    StringConcat(row.name);
    if (row.kind == OptionKind::Switch) {
        StringConcat(" takes no value");
        return;
    }
    StringConcat(*value ? ": takes a whole number from " : ": needs a whole number from ");
    StringFromInteger(row.least, TempString.end);
    StringConcat(" to ");
    StringFromInteger(row.most, TempString.end);
    if (*value) {
        StringConcat(", not ");
        StringConcat(value);
    }
}

} // namespace

bool SheetOptionSet(const OptionRow &row, const char *value, SheetOptions *options) {
    if (row.kind == OptionKind::Switch) {
        if (*value) return false;
        options->*row.flag = true;
        return true;
    }
    return ReadNumber(value, row.least, row.most, &(options->*row.number));
}

OptionRead SheetOptionRead(const char *argument, uint32_t *given, SheetOptions *options,
                           int32_t start) {
    for (int32_t i = 0; i < SheetOptionCount; i++) {
        const OptionRow &row = SheetOptionRows[i];
        const char *value = ValueOf(argument, row.name);
        if (!value) continue;
        bool twice = (*given & (1u << i)) != 0;
        *given |= 1u << i;
        if (twice) {
            TempString.end = start;
            StringConcat(row.name);
            StringConcat(" is given twice");
            return OptionRead::Refused;
        }
        // "/alpha:" is refused as "/alpha:on" is: a switch takes no value, not even an empty one.
        bool emptyValue = row.kind == OptionKind::Switch && argument[strlen(row.name)] == ':';
        if (!emptyValue && SheetOptionSet(row, value, options)) return OptionRead::Taken;
        ConcatRefusal(row, value, start);
        return OptionRead::Refused;
    }
    return OptionRead::NotAnOption;
}

void SheetOptionUsageConcat() {
    for (int32_t i = 0; i < SheetOptionCount; i++) {
        const OptionRow &row = SheetOptionRows[i];
        int32_t lineStart = TempString.end;
        StringConcat("  ");
        StringConcat(row.name);
        if (row.valueName) {
            StringConcat(":");
            StringConcat(row.valueName);
        }
        while (TempString.end - lineStart < UsageColumn)
            StringConcat(" ");
        StringConcat(row.usage);
        StringConcat("\r\n");
    }
}
