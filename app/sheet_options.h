// The sheet options: one table that the command line, its usage text and every other place that
// shows or keeps an option read. Adding an option is adding a row (and its field).
#pragma once

#include <cstdint>

// How the sheets of a run are laid out and written. The defaults give the sheets of a run
// without options, byte for byte.
struct SheetOptions {
    int32_t columns = 8; // cells a row
    int32_t spacing = 0; // pixels between neighbouring cells, across and down
    int32_t margin = 0;  // pixels around the whole sheet
    int32_t extrude = 0; // each frame's outermost pixels repeated this far outward
    bool alpha = false;  // a PNG sheet is RGBA and keeps the strip's transparency
    bool json = false;   // a frame data file <prefix>_B<n>.json beside each sheet
};

enum class OptionKind : uint8_t {
    Switch, // on when given: "/alpha"
    Number, // a whole number within a range: "/columns:4"
};

struct OptionRow {
    const char *name; // as typed, in any letter case: "/columns"
    OptionKind kind;
    bool SheetOptions::*flag;      // Switch: the field it turns on
    int32_t SheetOptions::*number; // Number: the field it sets
    int32_t least;                 // Number: the range
    int32_t most;
    const char *valueName; // the usage's name for the value ("N"); null for a switch
    const char *usage;     // what it does, as the usage says it
    const char *label;     // the label shown beside its control, its access key marked with "&"
};

extern const OptionRow SheetOptionRows[];
extern const int32_t SheetOptionCount;

// What became of an argument handed to SheetOptionRead.
enum class OptionRead {
    NotAnOption, // no row names it
    Taken,       // the option's field is set
    Refused,     // a row names it, but the value is wrong or the option was given before
};

// Reads `argument` when a row names it. `given` holds a bit for each row already given. A refusal
// leaves its reason ("/columns: takes a whole number from 1 to 32767, not 0") in the temporary
// area at `start`, by the area's result protocol.
OptionRead SheetOptionRead(const char *argument, uint32_t *given, SheetOptions *options,
                           int32_t start);

// Sets the row's field from the text of its value (empty for a switch): false, and the field
// unchanged, when the text is not a value the row takes.
bool SheetOptionSet(const OptionRow &row, const char *value, SheetOptions *options);

// Appends a line for every row to the temporary area: "  /columns:N   N frames a row ...".
void SheetOptionUsageConcat();
