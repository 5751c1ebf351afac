// Saving images to files, at once or on the library's threads: the image's 24-bit rows (32-bit for
// an encoder that takes alpha) are written by the built-in BMP writer (ImageFormatBmp) or by the
// encoder registered for the format id. A bottom-up section of that depth is written from its own
// rows; any other bitmap is read back into a block of rows first. The routines here are for the
// batch's thread, all but ImageEncode: the threads that save encode the rows copied for them, and
// none of the routines is called while reading strips ahead (image_load.h).
#pragma once

#include "runtime/image/image.h"
#include "runtime/image/image_codec.h"

#include <cstdint>

constexpr int32_t ImageDefaultQuality = 7;

// Writes image `id` to the file; 1 on success, 0 on failure. The picture is written to a
// temporary file in the same folder and moved over `fileName` only once it is complete, so a
// failed save leaves an existing file of that name as it was and no temporary file behind. An
// id that no encoder has touches no file, and neither does a save over a read-only file.
int32_t ImageSave(ObjectId id, const char *fileName, int32_t formatId,
                  int32_t quality = ImageDefaultQuality);

// Writes `size` bytes to the file the way ImageSave writes a picture: to a temporary file beside
// it, moved over `fileName` only once complete. 1 on success, 0 on failure.
int32_t ImageSaveBytes(const char *fileName, const void *data, size_t size);

// How many saves may be queued at once; the library's threads write them, the batch's thread too
// while it waits for one.
constexpr int32_t ImageSaveSlots = 3;
// Larger pictures are written by ImageSaveStart before it returns, rather than copied for a thread:
// the copies of all slots together stay within 480 MB, and within 48 MB in a 32-bit program, which
// keeps its address space for the strips and sheets that ImageMaxBytes allows.
constexpr int64_t ImageSaveCopyBytes =
    (int64_t(sizeof(void *) == 8 ? 480 : 48) << 20) / ImageSaveSlots;

// Starts saving image `id` as ImageSave does, on one of the library's threads, and returns at once:
// the image may be changed or freed straight away. 1 when the save is queued, 0 when it failed at
// once (no such image or encoder, no memory, or ImageSaveSlots saves already waiting for
// ImageSaveFinish). A later save of the same file name waits for the earlier one, so the last
// asked for is the one that stays. The queue keeps `tag` with the save and hands it back when
// the save is finished: what the caller needs to know then (whose sheet it was, what follows it).
int32_t ImageSaveStart(ObjectId id, const char *fileName, int32_t formatId,
                       int32_t quality = ImageDefaultQuality, intptr_t tag = 0);

// How many saves are queued and not yet finished.
int32_t ImageSavesQueued();

// Called again and again, at most every 50 ms, while a save is waited for (a window that must go
// on answering, say); null, the default, for none.
void ImageSaveWhileWaiting(void (*routine)());

// Waits for the oldest save ImageSaveStart queued and returns its result as ImageSave would, and
// its tag in `tag` when that is not null; 0 (and the tag 0) when none is queued.
int32_t ImageSaveFinish(intptr_t *tag = nullptr);

// Finishes every queued save as ImageSaveFinish does, dropping their results, and frees the
// blocks the slots keep for their copies of the rows. ImageLibraryEnd calls it, so that no thread
// is still writing a sheet when the program's heaps go.
void ImageSaveFinishAll();

// Why the last ImageSave, ImageSaveStart or ImageSaveFinish failed.
enum class ImageSaveFailure {
    None,       // it succeeded
    NotWritten, // nothing to write, or the file could not be written
    ReadOnly,   // a file of that name is marked read-only: it is left as it is
};
ImageSaveFailure ImageLastSaveFailure();

// Hands the block (`height` rows of blue-green-red, bottom row first, `stride` bytes apart) and
// the open stream to the first encoder registered for the format id; its result, or 0 when there
// is none.
int32_t ImageEncode(FILE *stream, const uint8_t *pixels, int32_t formatId, int32_t width,
                    int32_t height, int32_t stride, int32_t quality);
