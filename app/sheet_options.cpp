// The table of sheet options and the reading of one option's text.
#include "app/sheet_options.h"

#include "runtime/image/image_codec.h"
#include "runtime/memory/memory.h"
#include "runtime/strings/strings.h"

#include <cstring>
#include <cwchar>
#include <initializer_list>

// The values a sheet can hold: a cell of a 1-pixel frame, its extrusion and the margins must fit
// an image's 32767 pixels, and so must two cells of 1 pixel and the space between them.
const OptionRow SheetOptionRows[] = {
    {"/columns", OptionKind::Number, nullptr, &SheetOptions::columns, 1, ImageMaxSize, "N",
     "N frames a row (1 to 32767) instead of 8", "&Columns:", nullptr, nullptr},
    {"/spacing", OptionKind::Number, nullptr, &SheetOptions::spacing, 0, ImageMaxSize - 2, "N",
     "N pixels between neighbouring frames, across and down", "&Spacing:", nullptr, nullptr},
    {"/margin", OptionKind::Number, nullptr, &SheetOptions::margin, 0, (ImageMaxSize - 1) / 2, "N",
     "N pixels around the whole sheet", "&Margin:", nullptr, nullptr},
    {"/extrude", OptionKind::Number, nullptr, &SheetOptions::extrude, 0, (ImageMaxSize - 1) / 2,
     "N", "each frame's edge pixels repeated N pixels outward, against filtering bleed",
     "E&xtrude:", nullptr, nullptr},
    {"/alpha", OptionKind::Switch, &SheetOptions::alpha, nullptr, 0, 0, nullptr,
     "PNG sheets keep the strips' transparency (RGBA, transparent background)",
     "Keep &transparency (PNG)", nullptr, nullptr},
    {"/json", OptionKind::Switch, &SheetOptions::json, nullptr, 0, 0, nullptr,
     "a frame data file beside each sheet (walk_B8.json), for game engines",
     "Frame &data file (.json)", nullptr, nullptr},
    {"/atlas", OptionKind::Name, nullptr, nullptr, 0, 0, "NAME",
     "every strip packed into one PNG atlas, NAME.png (NAME-0.png, ... past /maxsize)",
     "One &atlas:", &SheetOptions::atlas, nullptr},
    {"/maxsize", OptionKind::Number, nullptr, &SheetOptions::maxSize, 16, ImageMaxSize, "N",
     "no sheet or atlas page wider or higher than N (packed ones: 4096 unless given)",
     "Lar&gest side:", nullptr, nullptr},
    {"/pot", OptionKind::Switch, &SheetOptions::pot, nullptr, 0, 0, nullptr,
     "the sides of sheets and atlas pages are powers of two", "&Power-of-two sides", nullptr,
     nullptr},
    {"/trim", OptionKind::Switch, &SheetOptions::trim, nullptr, 0, 0, nullptr,
     "each frame cut to the box of its visible pixels, then packed (keeps transparency)",
     "T&rim transparent edges", nullptr, nullptr},
    {"/dedupe", OptionKind::Switch, &SheetOptions::dedupe, nullptr, 0, 0, nullptr,
     "frames with the same pixels stored once, then packed", "Merge &identical frames", nullptr,
     nullptr},
    {"/pivot", OptionKind::Point, nullptr, nullptr, 0, 0, "X,Y",
     "each frame's pivot and anchor in its data file, 0 to 1 across and down (0.5,1)",
     "Pi&vot (x,y):", nullptr, &SheetOptions::pivot},
    {"/scale", OptionKind::Number, nullptr, &SheetOptions::scale, 1, 16, "N",
     "every frame enlarged N times (1 to 16) by repeating its pixels, for pixel art",
     "Sca&le:", nullptr, nullptr},
};
const int32_t SheetOptionCount = sizeof SheetOptionRows / sizeof SheetOptionRows[0];
static_assert(sizeof SheetOptionRows / sizeof SheetOptionRows[0] <= 32, "one bit of `given` a row");

namespace {

// The column the usage's descriptions start at.
constexpr int32_t UsageColumn = 15;

constexpr char PointForm[] = "X,Y, two decimals from 0 to 1 (0.5,1)";

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

// A name Windows can give a file: not empty, no folder, no wildcard, none of the characters
// \ / : * ? " < > | or below a blank, not ending in a dot or a blank, and not a device's name
// (CON, PRN, AUX, NUL, COM1 to COM9, LPT1 to LPT9, with or without an extension), which Wine
// would take and Windows refuses. Read as wide characters: a trail byte of a double-byte code
// page may be a backslash's.
bool FileNameFits(const char *text) {
    int32_t length = 0;
    wchar_t *wide =
        *text && strlen(text) < size_t(AtlasNameSize) ? TextToWide(text, &length) : nullptr;
    bool fits = wide && length > 0 && wide[length - 1] != L'.' && wide[length - 1] != L' ';
    for (int32_t i = 0; fits && i < length; i++)
        fits = wide[i] >= 0x20 && !wcschr(L"\\/:*?\"<>|", wide[i]);
    if (fits) {
        size_t stem = wcscspn(wide, L".");
        while (stem > 0 && wide[stem - 1] == L' ')
            stem--;
        wchar_t device[5] = {};
        if (stem <= 4) wcsncpy(device, wide, stem);
        for (const wchar_t *name : {L"CON", L"PRN", L"AUX", L"NUL"})
            fits = fits && _wcsicmp(device, name) != 0;
        bool numbered = stem == 4 && device[3] >= L'1' && device[3] <= L'9' &&
                        (_wcsnicmp(device, L"COM", 3) == 0 || _wcsnicmp(device, L"LPT", 3) == 0);
        fits = fits && !numbered;
    }
    MemoryFree(wide);
    return fits;
}

// A decimal from 0 to 1 of at most six places ("0", "1", "0.5", ".25", "1.000") in millionths;
// `end` is where it stops. False for anything else.
bool ReadFraction(const char *text, const char **end, int32_t *millionths) {
    const char *p = text;
    int32_t whole = 0, fraction = 0, places = 0;
    bool digits = false;
    for (; *p >= '0' && *p <= '9'; p++, digits = true) {
        whole = whole * 10 + (*p - '0');
        if (whole > 1) return false;
    }
    if (*p == '.') {
        for (p++; *p >= '0' && *p <= '9'; p++, digits = true) {
            if (++places > 6) return false;
            fraction = fraction * 10 + (*p - '0');
        }
    }
    for (int32_t k = places; k < 6; k++)
        fraction *= 10;
    int32_t value = whole * PivotOne + fraction;
    if (!digits || value > PivotOne) return false;
    *end = p;
    *millionths = value;
    return true;
}

bool ReadPoint(const char *text, PivotPoint *point) {
    const char *p = text;
    PivotPoint read;
    read.given = ReadFraction(p, &p, &read.x) && *p++ == ',' && ReadFraction(p, &p, &read.y) && !*p;
    if (read.given) *point = read;
    return read.given;
}

// Why the row refuses the value, in the temporary area at `start`.
void ConcatRefusal(const OptionRow &row, const char *value, int32_t start) {
    TempString.end = start;
    StringConcat(row.name);
    if (row.kind == OptionKind::Switch) {
        StringConcat(" takes no value");
        return;
    }
    if (row.kind == OptionKind::Name) {
        StringConcat(*value ? ": takes a file name without folder or wildcard, not "
                            : ": needs a name");
        StringConcat(value);
        return;
    }
    if (row.kind == OptionKind::Point) {
        StringConcat(*value ? ": takes " : ": needs ");
        StringConcat(PointForm);
        if (*value) {
            StringConcat(", not ");
            StringConcat(value);
        }
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

// The row's index by its name.
int32_t RowIndex(const char *name) {
    for (int32_t i = 0; i < SheetOptionCount; i++)
        if (strcmp(SheetOptionRows[i].name, name) == 0) return i;
    return -1;
}

} // namespace

bool SheetOptionsPacked(const SheetOptions &options) {
    return options.atlas[0] || options.trim || options.dedupe;
}

bool SheetOptionSet(const OptionRow &row, const char *value, SheetOptions *options) {
    switch (row.kind) {
    case OptionKind::Switch:
        if (*value) return false;
        options->*row.flag = true;
        return true;
    case OptionKind::Number:
        return ReadNumber(value, row.least, row.most, &(options->*row.number));
    case OptionKind::Name:
        if (!FileNameFits(value)) return false;
        strcpy(options->*row.text, value);
        return true;
    case OptionKind::Point:
        return ReadPoint(value, &(options->*row.point));
    }
    return false;
}

bool SheetOptionsCheck(SheetOptions *options, uint32_t given, int32_t start) {
    // Columns lay out a grid; packed frames have none.
    if (given & (1u << RowIndex("/columns"))) {
        for (const char *packing : {"/atlas", "/trim", "/dedupe"}) {
            if (!(given & (1u << RowIndex(packing)))) continue;
            TempString.end = start;
            StringConcat("/columns cannot go with ");
            StringConcat(packing);
            return false;
        }
    }
    // Trimming cuts away transparent pixels: they must stay transparent, not turn black.
    if (options->trim) options->alpha = true;
    return true;
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
