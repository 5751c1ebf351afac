// The options area's controls, built from the options table, and what Open does with them.
#include "app/options_pane.h"

#include "app/remembered_options.h"
#include "runtime/dialogs/dialogs.h"
#include "runtime/strings/strings.h"

#include <cctype>
#include <cstdio>
#include <cstring>

namespace {

constexpr char GivenNote[] = " (given)";

DialogPaneControl Controls[32]; // a control a row, in the table's order
SheetOptions Shown;
uint32_t Given;
OptionsUseRoutine Use;

bool IsGiven(int32_t i) {
    return (Given >> i) & 1;
}

// The row's value in `options` as text, as much of it as `room` holds (an edit box holds no more).
void ValueCopy(const OptionRow &row, const SheetOptions &options, char *to, size_t room) {
    int32_t start = TempString.end;
    SheetOptionValueConcat(row, options);
    snprintf(to, room, "%s", TempAddress(start));
    TempString.end = start;
}

// The label as a message names the box: without the access key's mark and the closing colon.
void NameConcat(const char *label) {
    for (const char *c = label; *c; c++) {
        if (*c == '&' && c[1] != '&') continue;
        if (*c == ':' && !c[1]) break;
        const char one[2] = {*c, '\0'};
        StringConcat(one);
    }
}

// The reason of the options that cannot go together, each named as its box is: "/columns cannot
// go with /atlas" says "Columns cannot go with One atlas." Returns the first of them the user
// can change (-1 for none).
int32_t ConcatClash(const char *reason) {
    int32_t first = -1;
    for (const char *c = reason; *c;) {
        int32_t named = -1;
        for (int32_t i = 0; *c == '/' && i < SheetOptionCount; i++) {
            size_t length = strlen(SheetOptionRows[i].name);
            if (strncmp(c, SheetOptionRows[i].name, length) == 0 && !isalnum(c[length])) named = i;
        }
        if (named < 0) {
            const char one[2] = {*c++, '\0'};
            StringConcat(one);
            continue;
        }
        NameConcat(SheetOptionRows[named].label);
        c += strlen(SheetOptionRows[named].name);
        if (first < 0 && !IsGiven(named)) first = named;
    }
    StringConcat(".");
    return first;
}

// "Columns takes a whole number from 1 to 32767, not 0."
void ConcatFault(const OptionRow &row, const char *text) {
    NameConcat(row.label);
    StringConcat(*text ? " takes " : " needs ");
    SheetOptionTakesConcat(row);
    if (*text) {
        StringConcat(", not ");
        StringConcat(text);
    }
    StringConcat(".");
}

int32_t Accept(const DialogPaneControl *controls, int32_t, int32_t position) {
    // Every row starts from a run without options: an edit box left at that value sets nothing,
    // so a row the user never touched stays as a run without it has it.
    SheetOptions chosen;
    char unset[sizeof Controls[0].text], given[sizeof Controls[0].text];
    for (int32_t i = 0; i < SheetOptionCount; i++) {
        const OptionRow &row = SheetOptionRows[i];
        const DialogPaneControl &control = controls[i];
        if (row.kind == OptionKind::Switch) {
            chosen.*row.flag = IsGiven(i) ? Shown.*row.flag : control.checked;
            continue;
        }
        const char *text = control.text;
        if (IsGiven(i)) {
            ValueCopy(row, Shown, given, sizeof given);
            text = given;
        }
        ValueCopy(row, SheetOptions(), unset, sizeof unset);
        if (strcmp(text, unset) != 0 && !SheetOptionSet(row, text, &chosen)) {
            TempString.end = position;
            ConcatFault(row, text);
            return i;
        }
    }
    // The options checked together, as the command line's are; the values kept are the ones
    // chosen, not what one implies for another.
    uint32_t set = Given;
    for (int32_t i = 0; i < SheetOptionCount; i++)
        if (!SheetOptionIsDefault(SheetOptionRows[i], chosen)) set |= 1u << i;
    SheetOptions settled = chosen;
    if (!SheetOptionsCheck(&settled, set, position)) {
        StringValue reason = nullptr;
        StringAssignTemp(&reason, position);
        int32_t first = ConcatClash(reason);
        StringFree(reason);
        return first < 0 ? 0 : first;
    }
    RememberedOptionsWrite(chosen, Given);
    Use(settled);
    return -1;
}

DialogPane Pane = {"Sheet options", Controls, 0, Accept};

} // namespace

void OptionsPaneShow(const SheetOptions &options, uint32_t given, OptionsUseRoutine use) {
    Shown = options;
    Given = given;
    Use = use;
    for (int32_t i = 0; i < SheetOptionCount; i++) {
        const OptionRow &row = SheetOptionRows[i];
        DialogPaneControl &control = Controls[i];
        bool check = row.kind == OptionKind::Switch;
        control.kind = check ? DialogPaneKind::Check : DialogPaneKind::Edit;
        control.label = row.label;
        control.note = IsGiven(i) ? GivenNote : nullptr;
        control.checked = check && options.*row.flag;
        ValueCopy(row, options, control.text, sizeof control.text);
    }
    Pane.count = SheetOptionCount;
    DialogOpenFilePane(&Pane);
}
