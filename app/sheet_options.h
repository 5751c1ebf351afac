// The sheet options: one table that the command line, its usage text and every other place that
// shows or keeps an option read. Adding an option is adding a row (and its field).
#pragma once

#include <cstdint>

// The longest atlas name, in bytes, and its NUL.
constexpr int32_t AtlasNameSize = 256;

// A point within a frame as fractions of its width and height, in millionths (0 to 1000000).
struct PivotPoint {
    bool given = false;
    int32_t x = 0;
    int32_t y = 0;
};
constexpr int32_t PivotOne = 1000000;

// How the sheets of a run are laid out and written. The defaults give the sheets of a run
// without options, byte for byte.
struct SheetOptions {
    int32_t columns = 8; // cells a row
    int32_t spacing = 0; // pixels between neighbouring cells, across and down
    int32_t margin = 0;  // pixels around the whole sheet
    int32_t extrude = 0; // each frame's outermost pixels repeated this far outward
    bool alpha = false;  // a PNG sheet is RGBA and keeps the strip's transparency
    bool json = false;   // a frame data file <prefix>_B<n>.json beside each sheet
    // Every strip in one atlas, NAME.png (or NAME-0.png, NAME-1.png, ...); empty for none.
    char atlas[AtlasNameSize] = {};
    int32_t maxSize = 0; // the largest side of a sheet or atlas page; 0 when not given
    bool pot = false;    // sides are powers of two
    bool trim = false;   // each frame cut to the box of its pixels that are not transparent
    bool dedupe = false; // frames with the same pixels stored once
    int32_t scale = 1;   // every frame enlarged this many times, pixels repeated
    PivotPoint pivot;    // each frame's pivot in its data file
};

// The largest side of a packed page when /maxsize is not given. A grid has no limit of its own.
constexpr int32_t PackedPageSize = 4096;

// True when the strips go into packed pages (an atlas, or a sheet packed from its one strip)
// rather than onto a grid.
bool SheetOptionsPacked(const SheetOptions &options);

enum class OptionKind : uint8_t {
    Switch, // on when given: "/alpha"
    Number, // a whole number within a range: "/columns:4"
    Name,   // a name for a file, without folder: "/atlas:hero"
    Point,  // two decimals from 0 to 1: "/pivot:0.5,1"
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
    char (SheetOptions::*text)[AtlasNameSize]; // Name: the field it sets
    PivotPoint SheetOptions::*point;           // Point: the field it sets
};

extern const OptionRow SheetOptionRows[];
extern const int32_t SheetOptionCount;

// What became of an argument handed to SheetOptionRead.
enum class OptionRead {
    NotAnOption, // no row names it
    Taken,       // the option's field is set
    Refused,     // a row names it, but the value is wrong or the option was given before
};

// Reads `argument` when a row names it. `given` holds a bit for each row already given (bit i for
// SheetOptionRows[i]). A refusal leaves its reason ("/columns: takes a whole number from 1 to
// 32767, not 0") in the temporary area at `start`, by the area's result protocol.
OptionRead SheetOptionRead(const char *argument, uint32_t *given, SheetOptions *options,
                           int32_t start);

// Sets the row's field from the text of its value (empty for a switch): false, and the field
// unchanged, when the text is not a value the row takes.
bool SheetOptionSet(const OptionRow &row, const char *value, SheetOptions *options);

// Checks the options against each other once all are read, `given` as for SheetOptionRead, and
// settles what one implies for another (/trim keeps transparency, so it turns /alpha on). False
// when two cannot go together, with the reason ("/columns cannot go with /atlas") in the temporary
// area at `start`.
bool SheetOptionsCheck(SheetOptions *options, uint32_t given, int32_t start);

// Appends a line for every row to the temporary area: "  /columns:N   N frames a row ...".
void SheetOptionUsageConcat();
