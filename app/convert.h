// Cuts one sprite strip into its frames and saves them as a sheet eight frames wide (or as the
// options say), with a frame data file beside it when asked for.
#pragma once

#include "app/sheet_options.h"

#include <cstdint>

// What became of one strip. Everything but Converted and NotAPicture counts in FilesErrors.
enum class ConvertOutcome {
    Converted,     // the sheet was written
    NotAPicture,   // no loader accepts the file: counted nowhere
    Damaged,       // the picture is cut short or broken part way
    TooManyFrames, // the count does not leave a frame of at least one pixel
    TooLarge,      // the strip or its sheet is larger than an image can be
    NotWritten,    // the sheet could not be written
    Saving,        // the sheet is still being written: ConvertStripFinish tells the rest
    Unreadable,    // the file cannot be opened or read (another program holds it, no access)
    ReadOnly,      // a sheet of that name is marked read-only and stays as it is
};

// The runtime conversion runs on: the program's module, its heaps, drawing and the image library
// (no codec, no dialog). The program and the bench both start with it.
void ConvertRuntimeInit();

// The options every later ConvertStrip follows.
void ConvertSetOptions(const SheetOptions &options);

// How many strips may be Saving at once.
constexpr int32_t ConvertSavesAtOnce = 3;

// Counts the outcome in FilesConverted or FilesErrors (or neither when it is not a picture)
// and returns it, so that a caller can tell why a strip was not converted.
// With `background` the sheet may be written on a thread of its own while the caller goes on
// with the next strip: the outcome is then Saving, and nothing is counted yet. At most
// ConvertSavesAtOnce strips may be Saving; the caller must have finished the others first.
ConvertOutcome ConvertStrip(const char *stripPath, const char *prefix, const char *extension,
                            const char *direction, int32_t count, const char *outputDirectory,
                            bool background = false);

// Waits for the sheet of the oldest strip still Saving, writes its data file when one is asked for,
// counts its outcome as ConvertStrip does and returns it (Converted, NotWritten or ReadOnly).
ConvertOutcome ConvertStripFinish();

// Names the strip the batch converts after the next one (null: none left), so that its file is
// read and decoded on another thread while this one converts (ImageLoadAhead).
void ConvertStripAhead(const char *stripPath);
