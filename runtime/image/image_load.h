// Loading images from files: Windows bitmap files and icon files through the system's loader,
// everything else through the chain of decoders the codecs registered (image_codec.h).
#pragma once

#include "runtime/image/image.h"
#include "runtime/image/image_codec.h"

#include <windows.h>
#include <cstdint>

// Why the last ImageLoad failed, for callers that count the failures differently.
enum class ImageLoadFailure {
    None,       // the last load succeeded
    Unreadable, // the file cannot be opened or read (held by another program, a folder, no access)
    NotAnImage, // the loaders and the decoders all refused it, or its headers are broken
    TooLarge,   // a picture was read but does not fit an image (ImageBytesFit)
    NoBitmap,   // the picture fits, but the system could not give it a bitmap
    Damaged,    // the picture is cut short or broken part way
};

// A file up to this size is read whole with one read and decoded from memory: under Wine every
// call on a file costs a trip into its server or the system, and a decoder reading from the open
// file makes one for every 4 KB. A larger file (a strip that large is rare) is read through the
// open handle as the decoders ask for it, so that its bytes are never held twice.
constexpr uint64_t ImageWholeFileBytes = uint64_t(sizeof(void *) == 8 ? 64 : 16) << 20;

// Makes image `id` from a file. `flags` ImageDisplayFormat asks for a display-compatible bitmap.
// A file beginning with "BM" is loaded as a bitmap file only, once its headers are found to
// agree with its size: uncompressed rows (1 to 32 bits, either row order) are copied into a
// bottom-up section of the file's own depth, colour table and bit masks; run-length files and
// those with a core header go to the system bitmap loader. Otherwise the icon loader, then the
// decoders in registration order. The file is opened for reading by others too, not for writing.
// Returns the record address for AutoNumber, the handle for a number, 0 on failure; the number no
// longer holds its earlier image either way.
intptr_t ImageLoad(ObjectId id, const char *fileName, int32_t flags = 0);
ImageLoadFailure ImageLastLoadFailure();

// What a thread reading a strip ahead may make of it besides its picture: the strip's sheet, cut
// as the caller lays it out and written under a temporary name beside the sheet's file, so that a
// batch's strips are converted whole on every core. The routines run on that thread, on rows of 24
// bits (blue, green, red) only: they may use their arguments and nothing that changes meanwhile.
struct ImageAheadSheet {
    // The sheet's size for a strip of that size; false leaves the strip to the batch's thread.
    bool (*Size)(intptr_t how, int32_t stripWidth, int32_t stripHeight, int32_t *width,
                 int32_t *height);
    // Draws every pixel of the sheet from the strip's: `strip` and `sheet` are their top rows,
    // each stride the step from a row to the one below it.
    void (*Draw)(intptr_t how, const uint8_t *strip, int64_t stripStride, int32_t stripWidth,
                 int32_t stripHeight, uint8_t *sheet, int64_t sheetStride, int32_t width,
                 int32_t height);
    intptr_t how;         // the caller's, for both routines
    const char *fileName; // the sheet's (copied), written as ImageSave writes it
    int32_t formatId;
    int32_t quality;
};

// How many files named ahead are kept, the one the batch converts now counted.
constexpr int32_t ImageFilesAhead = 6;

// Names a file a later ImageLoad will ask for, the next strip of a batch: a thread of the library's
// own opens, reads and decodes it while the batch's thread goes on, and ImageLoad of that very name
// (flags 0) takes its picture instead of reading the file. With `sheet` that thread also makes the
// strip's sheet, for ImageSheetAheadTake. Files are read in the order named, each as soon as a
// thread is free; an ImageLoad that finds its file still being read does the work no thread has
// started on meanwhile (a file named after it, or a sheet to save). ImageFilesAhead may wait to
// be taken, one more named drops the oldest, and loading one drops those named before it.
// ImageLoad reads a file itself, as it always has, when no picture was made of it (it could not
// read it, it is for the system's bitmap or icon loader, or its picture takes more than 256 MB,
// 16 MB in the 32-bit program), so the failures and their reasons are those of ImageLoad. Null
// drops every file named, every picture not taken and every sheet not renamed (its temporary file
// deleted); ImageLibraryEnd does too. The batch's thread only.
void ImageLoadAhead(const char *fileName, const ImageAheadSheet *sheet = nullptr);

// Takes the sheet `sheetName` made of the strip `fileName` named ahead, dropping the files named
// before it, and waiting (doing the work waiting meanwhile) while it is read. When its sheet was
// made, the temporary file replaces the sheet's file (once every save of that name started earlier
// is done) and the result is ImageSave's: 1, or 0 with ImageLastSaveFailure telling why. -1 when
// no such sheet was made of it (it was not named with one, it was left to the batch's thread, or
// its picture is not a 24-bit section): its picture, if any, then waits for ImageLoad. Once the
// file is found named, image `strip` no longer holds its picture (its section is kept for a file
// read meanwhile, as ImageLoad of that number keeps it).
int32_t ImageSheetAheadTake(ObjectId strip, const char *fileName, const char *sheetName);

// The first decoder that accepts the data becomes the current one (the batch's thread's own);
// returns its Open result (1 or 2), or 0. With a null `memory` the first argument is a file
// name, which is opened and kept open until ImageBitmapFromDecoder; otherwise it is the size of
// the block at `memory`.
int32_t ImageDecoderFind(intptr_t nameOrSize, const void *memory);

// A bitmap holding the picture the current decoder opened: a top-down section of 24 bits (kind
// 1) or 32 bits (kind 2), or a display-compatible bitmap when `flags` has ImageDisplayFormat.
// Null when none can be made; the opened picture and its file are released in every case.
HBITMAP ImageBitmapFromDecoder(int32_t kind, int32_t flags);
