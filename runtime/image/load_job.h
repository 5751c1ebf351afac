// What the two halves of loading share, inside the image library only: image_load.cpp reads a
// picture file into a bitmap, image_load_ahead.cpp has that done by the library's workers
// (image_workers.h) for the strips a batch converts next.
//
// Threads: LoadPictureFile runs on the batch's thread, and with `onBatchThread` false for a file
// named to be read ahead, on a worker or on the batch's thread while it would wait (for the file
// before it, or for a sheet). Then it uses only the file system, CreateDIBSection and DeleteObject
// on sections of its own, the decoders (image_codec.h), the C runtime and MainHeap; the system's
// bitmap and icon loaders, the display dc, the image registry and everything kept for
// ImageLastLoadFailure stay with the batch's own loads. A sheet made ahead of its picture
// (image_load_ahead.cpp) adds GetObject on that section, the caller's ImageAheadSheet routines and
// the writing of its file as the saving threads write theirs (sheet_rows.h).
#pragma once

#include "runtime/image/image_load.h"
#include "runtime/memory/memory.h"

#include <windows.h>
#include <cstdint>
#include <cstdio>

// A section an earlier load made, to be filled again by a picture of the same size, depth and row
// order: a batch loads strip after strip of one size, and under Wine a new section costs fresh
// memory (a page fault for every 4 KB, a third of a medium strip's load).
struct SpareSection {
    HBITMAP bitmap;
    void *bits;
    int32_t width;
    int32_t height;
    int32_t bitCount;
    uint8_t rows; // LoadedBottomUp or LoadedTopDown
};
void SpareSectionDrop(SpareSection *spare);
// The section image `id` holds, taken from it, when the library loaded it as a section and it is
// small enough to keep; else nothing, and the image stays. The batch's thread only.
SpareSection TakeSpare(ObjectId id);

// One load of a picture file: what it is asked, what it may use, and what it made.
struct LoadJob {
    const char *fileName;
    int32_t flags;      // ImageDisplayFormat, or 0
    bool onBatchThread; // may use the display dc and the system's loaders
    // Filled when the picture fits it, deleted at the end of the load otherwise.
    SpareSection spare;
    KeptBlock *block; // the file is read into it, kept for the next load up to a size
    // The decoder that took the file, and its picture, while the load is under way.
    const ImageDecoder *decoder;
    ImagePicture picture;
    FILE *stream; // the open file the decoder reads, when it was not read whole
    // What the load made: a bitmap or an icon, or null and why not.
    HANDLE handle;
    uint8_t
        madeSection; // the section's kind for the record (LoadedBottomUp or LoadedTopDown), or 0
    ImageLoadFailure why;
    // Off the batch's thread: the file needs what only the batch's thread may do (the system's
    // loaders), or its picture is larger than a second strip's worth of memory should be. Nothing
    // is made.
    bool leftToBatch;
};

// Drops the files named to be read ahead (ImageLoadAhead(nullptr)) and frees the blocks the
// workers and the batch's thread keep for their files: the library's end.
void LoadAheadEnd();
// Frees the batch's thread's block; for LoadAheadEnd.
void BatchBlockRelease();
// The block the batch's thread reads its files into, for a file named ahead that it reads while
// it waits for a sheet.
KeptBlock *BatchBlock();

// Reads the picture of `job->fileName` into `job->handle` as ImageLoad describes, or sets why it
// could not; the spare section is used or deleted, the file closed, the decoder's picture released.
void LoadPictureFile(LoadJob *job);

// Off the batch's thread, pictures of more bytes than this are left to the batch's thread: the
// reading ahead holds two more pictures, which a 32-bit program must keep small.
constexpr int64_t LoadAheadMaxBytes = int64_t(sizeof(void *) == 8 ? 256 : 16) << 20;

// Takes the picture read ahead of `fileName`, when that file was named and `flags` is 0, dropping
// the files named before it (the batch passed them over): while it is still being read, the batch's
// thread reads the file named after it, if no thread has started on that yet, or waits. The job
// then holds the bitmap and its section kind, and `spare` is kept for a later reading to fill
// again. False, with the job and `spare` unchanged, when that file was not named; false, with
// `spare` taken for the reading, when no picture was made of it. The batch's thread then loads the
// file itself, with `job->block`.
bool TakeLoadedAhead(const char *fileName, int32_t flags, LoadJob *job, SpareSection *spare);
