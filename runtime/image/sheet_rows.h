// What the two halves of saving share, inside the image library only: image_save.cpp takes an
// image's rows and writes them to their file, image_save_queue.cpp hands that writing to threads.
#pragma once

#include "runtime/image/image_save.h"
#include "runtime/memory/memory.h"

#include <windows.h>
#include <cstdint>
#include <cstdio>

// A sheet's rows ready to be written, and what to write them as.
struct SheetRows {
    BITMAPINFOHEADER header; // the file's header: bottom-up, 24 bits (32 with alpha), plain fields
    const uint8_t *rows;     // `header.biHeight` rows of `stride` bytes, bottom row first
    uint8_t *block;          // the rows' MainHeap block when it belongs to the save, else null
    // Null, or the SheetHeadRoom bytes right before `rows`, free for a bitmap file's headers: the
    // file is then written from there with one call and no copy.
    uint8_t *headRoom;
    // The block the file is gathered in before it is written, the writing thread's: each saving
    // slot has one, and the batch's thread one of its own.
    KeptBlock *gather;
    const char *fileName;
    int32_t formatId;
    int32_t quality;
    int32_t stride;
    bool heavy; // the encoder's ImageEncoder::Heavy
};

// A bitmap file's headers: 14 bytes, then 40.
constexpr size_t SheetHeadRoom = 54;

// Fills the sheet's header, row length, format and quality for rows of that size as `formatId`'s
// writer takes them (24 bits, 32 for an encoder that takes alpha; with `bits` not 0, only when it
// takes that many); the rows, their block and the gathering block are left to the caller. False
// when there is no such writer or the rows would be too large to write.
bool SheetRowsDescribe(int32_t width, int32_t height, int32_t formatId, int32_t quality,
                       int32_t bits, SheetRows *sheet);

// Clears the padding at the end of each of the rows, so that a file written from them holds zeros
// there.
void ClearRowEnds(uint8_t *rows, int32_t width, int32_t height, int64_t stride, int32_t bits);

// Reads image `id` as 24-bit rows (32-bit for an encoder that takes alpha) for writing: the
// section's own rows when it is a bottom-up section of that depth, else a block of its own
// (`sheet->block`, the caller's to free), gathered in the batch's thread's block. False when there
// is nothing to write.
bool TakeSheetRows(ObjectId id, const char *fileName, int32_t formatId, int32_t quality,
                   SheetRows *sheet);

// Writes the rows to a temporary file beside `sheet.fileName` and renames it over that name once
// complete. Run on the saving threads too: besides its arguments and the file system it reads
// the encoder table, which is complete before the first save starts, and takes MainHeap blocks
// (`sheet.gather`'s and one for the rename).
ImageSaveFailure WriteSheetFile(const SheetRows &sheet);

// A complete file written under a temporary name beside its final one, still open.
struct TemporaryFile {
    FILE *stream;
    char name[MAX_PATH];
};

// WriteSheetFile's first half: the file is written under a temporary name and left open (its
// gathering block with it), or nothing is left and the result says why. Any thread, as
// WriteSheetFile.
ImageSaveFailure WriteSheetTemporary(const SheetRows &sheet, TemporaryFile *made);
// The second half: the temporary file replaces `fileName` and is closed (or is deleted when it
// cannot).
ImageSaveFailure RenameTemporary(TemporaryFile *file, const char *fileName);
// Closes and deletes a temporary file that is not to be renamed; nothing when none is open.
void DropTemporary(TemporaryFile *file);

// Frees the batch's thread's gathering block; for ImageSaveFinishAll.
void BatchGatherRelease();

// Keeps the result for ImageLastSaveFailure; 1 for None, else 0. The batch's thread only.
int32_t SaveResult(ImageSaveFailure result);

// Waits for every queued save of that file name (compared without regard to case), so that
// saves of one file reach it in the order they were asked for.
void WaitForQueuedSaves(const char *fileName);
