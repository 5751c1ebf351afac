// The remembered sheet options: read and written through the registry's 8-bit calls, which give
// and take text in the process's code page, as every text of the program is.
#include "app/remembered_options.h"

#include "runtime/strings/strings.h"

#include <windows.h>

#include <cstdio>

namespace {

constexpr char KeyPath[] = "Software\\StripSheet";
constexpr DWORD TextRoom = 1024; // a longer text is not a value any row takes

bool KeptAsDword(const OptionRow &row) {
    return row.kind == OptionKind::Switch || row.kind == OptionKind::Number;
}

const char *ValueName(const OptionRow &row) {
    return row.name + 1; // without the "/"
}

bool IsSkipped(uint32_t skip, int32_t i) {
    return (skip >> i) & 1;
}

// True when the row's value was read and taken.
bool ReadValue(HKEY key, const OptionRow &row, SheetOptions *options) {
    DWORD type = 0, number = 0, size = sizeof number;
    char text[TextRoom + 1] = {};
    if (KeptAsDword(row)) {
        if (RegQueryValueExA(key, ValueName(row), nullptr, &type, reinterpret_cast<BYTE *>(&number),
                             &size) != ERROR_SUCCESS ||
            type != REG_DWORD || size != sizeof number)
            return false;
        if (row.kind == OptionKind::Switch) {
            if (number <= 1) options->*row.flag = number == 1;
            return number <= 1;
        }
        // The number goes through the row's own check, as the command line's text does.
        snprintf(text, sizeof text, "%ld", long(int32_t(number)));
    } else {
        size = TextRoom;
        if (RegQueryValueExA(key, ValueName(row), nullptr, &type, reinterpret_cast<BYTE *>(text),
                             &size) != ERROR_SUCCESS ||
            type != REG_SZ)
            return false;
        text[size < TextRoom ? size : TextRoom] = '\0'; // a text kept without its NUL ends here
    }
    return SheetOptionSet(row, text, options);
}

void WriteValue(HKEY key, const OptionRow &row, const SheetOptions &options) {
    if (SheetOptionIsDefault(row, options)) {
        RegDeleteValueA(key, ValueName(row));
    } else if (KeptAsDword(row)) {
        DWORD number = row.kind == OptionKind::Switch ? 1 : DWORD(options.*row.number);
        RegSetValueExA(key, ValueName(row), 0, REG_DWORD, reinterpret_cast<const BYTE *>(&number),
                       sizeof number);
    } else {
        int32_t start = TempString.end;
        SheetOptionValueConcat(row, options);
        RegSetValueExA(key, ValueName(row), 0, REG_SZ,
                       reinterpret_cast<const BYTE *>(TempAddress(start)),
                       DWORD(TempString.end - start + 1));
        TempString.end = start;
    }
}

} // namespace

uint32_t RememberedOptionsRead(SheetOptions *options, uint32_t skip) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, KeyPath, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
        return 0;
    SheetOptions read = *options;
    uint32_t taken = 0;
    for (int32_t i = 0; i < SheetOptionCount; i++)
        if (!IsSkipped(skip, i) && ReadValue(key, SheetOptionRows[i], &read)) taken |= 1u << i;
    RegCloseKey(key);
    // Values that cannot go with the options given (an atlas remembered, /columns given) are
    // all left out. What one option implies for another is the run's, not kept here.
    SheetOptions settled = read;
    int32_t start = TempString.end;
    bool fit = SheetOptionsCheck(&settled, skip | taken, start);
    TempString.end = start;
    if (!fit) return 0;
    *options = read;
    return taken;
}

void RememberedOptionsWrite(const SheetOptions &options, uint32_t skip) {
    // The key is made only for a value to keep: a user who changed nothing leaves no trace.
    bool keep = false;
    for (int32_t i = 0; i < SheetOptionCount; i++)
        keep = keep || (!IsSkipped(skip, i) && !SheetOptionIsDefault(SheetOptionRows[i], options));
    HKEY key = nullptr;
    LONG opened = keep ? RegCreateKeyExA(HKEY_CURRENT_USER, KeyPath, 0, nullptr, 0, KEY_SET_VALUE,
                                         nullptr, &key, nullptr)
                       : RegOpenKeyExA(HKEY_CURRENT_USER, KeyPath, 0, KEY_SET_VALUE, &key);
    if (opened != ERROR_SUCCESS) return;
    for (int32_t i = 0; i < SheetOptionCount; i++)
        if (!IsSkipped(skip, i)) WriteValue(key, SheetOptionRows[i], options);
    RegCloseKey(key);
}
