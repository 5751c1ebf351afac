// Cuts one sprite strip into its frames and saves them as a sheet eight frames wide (or as the
// options say: a grid of other columns, a packed sheet, or a place in the run's one atlas), with a
// frame data file beside it when asked for.
#pragma once

#include "app/sheet_options.h"
#include "runtime/image/image_load.h"
#include "runtime/image/image_save.h"

#include <cstdint>

// What became of one strip. Everything but Converted, NotAPicture and the two still under way
// counts in FilesErrors.
enum class ConvertOutcome {
    Converted,     // the sheet was written
    NotAPicture,   // no loader accepts the file: counted nowhere
    Damaged,       // the picture is cut short or broken part way
    TooManyFrames, // the count does not leave a frame of at least one pixel
    TooLarge,      // the strip or its sheet is larger than an image (or a page) can be
    NotWritten,    // the sheet could not be written
    Saving,        // the sheet is still being written: ConvertStripFinish tells the rest
    Unreadable,    // the file cannot be opened or read (another program holds it, no access)
    ReadOnly,      // a sheet of that name is marked read-only and stays as it is
    SameName,      // an earlier strip of the run took its data file's name or its atlas name
    InAtlas,       // its frames wait for the atlas: ConvertBatchEnd tells the rest
};

// The runtime conversion runs on: the program's module, its heaps, drawing and the image library
// (no codec, no dialog). The program and the bench both start with it.
void ConvertRuntimeInit();

// The options every later ConvertStrip follows.
void ConvertSetOptions(const SheetOptions &options);

// How many strips may be Saving at once.
constexpr int32_t ConvertSavesAtOnce = ImageSaveSlots;

// Begins a batch: the names its strips take, and its atlas, start empty.
void ConvertBatchBegin();

// Counts the outcome in FilesConverted or FilesErrors (or neither when it is not a picture)
// and returns it, so that a caller can tell why a strip was not converted.
// With `background` the sheet may be written on a thread of its own while the caller goes on
// with the next strip: the outcome is then Saving, and nothing is counted yet. At most
// ConvertSavesAtOnce strips may be Saving; the caller must have finished the others first.
// With /atlas a strip that goes into the atlas is InAtlas, and is counted by ConvertBatchEnd.
ConvertOutcome ConvertStrip(const char *stripPath, const char *prefix, const char *extension,
                            const char *direction, int32_t count, const char *outputDirectory,
                            bool background = false);

// How many strips are Saving.
int32_t ConvertStripsSaving();

// Waits for the sheet of the oldest strip still Saving, writes its data file when one is asked for,
// counts its outcome as ConvertStrip does and returns it (Converted, NotWritten or ReadOnly);
// `stripPath` gets the strip's path, good until the next call of a routine here.
ConvertOutcome ConvertStripFinish(const char **stripPath);

// What the end of a batch tells: a strip of the atlas that did not make it (its path and why),
// and a line of its own ("written: D:\Out\hero.png").
struct ConvertEndReport {
    void (*Strip)(const char *stripPath, ConvertOutcome outcome);
    void (*Line)(const char *line);
};

// Ends a batch whose sheets are all finished: the atlas is written (not when `stopped`), its strips
// are counted, and `report` is told what became of it. Nothing happens without /atlas.
void ConvertBatchEnd(bool stopped, const char *outputDirectory, const ConvertEndReport &report);

// How many strips may be named ahead at once, the one converted now counted: a strip named more
// than that many before its turn is read again by ConvertStrip.
constexpr int32_t ConvertStripsAhead = ImageFilesAhead;

// Names a strip the batch converts after this one (null: none left), with what ConvertStrip will
// be given for it, so that its file is read and decoded on another thread while this one converts
// (ImageLoadAhead). A sheet without options is made there too, and written under a temporary name
// that ConvertStrip (in the background) replaces the sheet's file with; a stopped batch's null
// deletes it.
void ConvertStripAhead(const char *stripPath, const char *prefix = nullptr,
                       const char *extension = nullptr, const char *direction = nullptr,
                       int32_t count = 0, const char *outputDirectory = nullptr);
