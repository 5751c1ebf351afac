// Reading strips ahead: the library's workers (image_workers.h) open, read and decode the files a
// batch will load next while the batch's thread cuts the last one and hands its sheet over, and
// when the batch asks, cut the strip into its sheet and write it under a temporary name too. The
// queue (names, order, taking and dropping) is kept by the batch's thread; a worker runs
// LoadPictureFile and MakeSheet only, on the entry it claimed, and changes nothing else. A batch's
// thread that would wait for its file does the work waiting meanwhile, as a worker would.
#include "runtime/image/image_workers.h"
#include "runtime/image/load_job.h"
#include "runtime/image/sheet_rows.h"
#include "runtime/memory/memory.h"

#include <cstring>
#include <utility>

namespace {

// A file named to be read: waiting for a thread, being read, or read (its job holds the bitmap,
// or why there is none).
enum class AheadState { Waiting, Reading, Done };

struct AheadEntry {
    char *fileName; // the entry's own copy
    AheadState state;
    LoadJob job;
    // The sheet asked for (none when `sheet.Size` is null), its name the entry's own copy; once
    // made, its file is open under a temporary name, or `sheetResult` says why not.
    ImageAheadSheet sheet;
    char *sheetName;
    bool sheetMade;
    ImageSaveFailure sheetResult;
    TemporaryFile temporary;
    int32_t large = -1; // which of LargeBlocks holds the sheet's rows, or -1
};

// The files the batch loads next, oldest first, in a ring: an entry never moves while it is read.
// A worker reads the next one as soon as it is free, without waiting for the batch to take the
// last, and the batch's thread reads one while it would wait: decoding is most of a JPEG strip's
// work, and two files read at once keep both cores busy where one thread alone set the pace. With
// sheets made ahead the batch's thread only renames a strip's sheet, and a small strip's sheet is
// made in less time than a worker takes to wake: with three entries a worker ran out of files and
// slept 12 to 17 times a batch of 40 small strips, waiting for the batch to name the next; with
// six, about 3 (at the batch's start and end). Pictures stay limited below, so the large strips
// hold no more memory than with three.
constexpr int32_t AheadSize = ImageFilesAhead;
AheadEntry Queue[AheadSize];
// Each place's blocks for a sheet made ahead, its rows (after room for a bitmap file's headers)
// and its file gathered: kept from one sheet to the next as the saving slots keep theirs.
KeptBlock SheetBlocks[AheadSize];
KeptBlock GatherBlocks[AheadSize];

// A sheet larger than this is left to the batch's thread, whose saves of large sheets share the
// cores better; the places keep at most this much each.
constexpr size_t AheadSheetBytes = size_t(4) << 20;
// A bitmap sheet has no encoding to share out: up to this size it is made whole where its strip
// is read, as the floor's threads make it (the large bitmap rows took 0.86 to 1.14 of the
// two-core floor's time with three threads handing each strip on, using two thirds of the
// processor time the floor used). Its rows go into one of two blocks kept apart, and an entry
// holding one counts as a picture, so no more large blocks are ever held than pictures were.
constexpr size_t AheadBitmapBytes = size_t(sizeof(void *) == 8 ? 32 : 4) << 20;
constexpr int32_t LargeRoom = 2;
KeptBlock LargeBlocks[LargeRoom];
bool LargeTaken[LargeRoom]; // under WorkLock
int32_t QueueFirst;
int32_t QueueCount;

// The entries' `state`, the queue's first and count and the spares change only under WorkLock.
// The sections the batch's number let go of when it took its pictures, the latest last: the next
// readings fill them again when the sizes agree. One for each of the two files that may be read at
// once, so that neither reads into fresh memory.
constexpr int32_t SpareRoom = 2;
SpareSection Spares[SpareRoom];
int32_t SpareCount;

AheadEntry &Entry(int32_t i) {
    return Queue[(QueueFirst + i) % AheadSize];
}

// At most this many pictures are held or being read at once, the one the batch took last counted
// until it names the next file: so it was when only two entries were kept, and three large strips
// read ahead took a third section of fresh memory beside the saving threads' work (the large noisy
// PNG strips took 1.09 of the two-core floor against 1.04 before). A strip whose sheet was made
// holds no picture.
constexpr int32_t PicturesAhead = 2;
bool BatchHoldsPicture; // the batch's thread took a picture and has not named a file since

// The oldest entry waiting for a thread, or null when none is or it would be a picture too many;
// under the lock.
AheadEntry *OldestWaiting() {
    int32_t pictures = BatchHoldsPicture ? 1 : 0;
    for (int32_t i = 0; i < QueueCount; i++) {
        AheadEntry &entry = Entry(i);
        if (entry.state == AheadState::Waiting) return pictures < PicturesAhead ? &entry : nullptr;
        if (entry.state == AheadState::Reading || entry.job.handle || entry.large >= 0)
            pictures += 1;
    }
    return nullptr;
}

// Waits, under the lock, until the oldest entry (or, with `all`, every entry) is not being read.
void WaitWhileReading(bool all) {
    for (int32_t i = 0; i < (all ? QueueCount : 1) && i < QueueCount;) {
        if (Entry(i).state == AheadState::Reading) {
            SleepConditionVariableSRW(&WorkChanged, &WorkLock, INFINITE, 0);
            i = 0;
        } else {
            i++;
        }
    }
}

// Removes the oldest entry, which is not being read, with whatever it made; under the lock.
void DropOldest() {
    AheadEntry &oldest = Entry(0);
    if (oldest.state == AheadState::Done && oldest.job.handle)
        DeleteObject(oldest.job.handle); // always a section: icons are left to the batch
    SpareSectionDrop(&oldest.job.spare);
    DropTemporary(&oldest.temporary);
    MemoryFree(oldest.fileName);
    MemoryFree(oldest.sheetName);
    if (oldest.large >= 0) LargeTaken[oldest.large] = false;
    oldest = AheadEntry{};
    QueueFirst = (QueueFirst + 1) % AheadSize;
    QueueCount -= 1;
}

// Under the lock: adds the section to the spares, emptying `spare`; returns the oldest spare when
// every place was taken, for the caller to delete once the lock is let go.
SpareSection PushSpare(SpareSection *spare) {
    SpareSection out{};
    if (!spare->bitmap) return out;
    if (SpareCount == SpareRoom) {
        out = Spares[0];
        for (int32_t i = 1; i < SpareCount; i++)
            Spares[i - 1] = Spares[i];
        SpareCount -= 1;
    }
    Spares[SpareCount++] = *spare;
    *spare = SpareSection{};
    return out;
}

// Under the lock: deletes the spare sections (DeleteObject, which makes no wait).
void DropSpares() {
    while (SpareCount > 0)
        SpareSectionDrop(&Spares[--SpareCount]);
}

// One of the large blocks for the entry's sheet, or null when both are held; off the lock.
KeptBlock *TakeLargeBlock(AheadEntry *entry) {
    AcquireSRWLockExclusive(&WorkLock);
    for (int32_t i = 0; i < LargeRoom && entry->large < 0; i++)
        if (!LargeTaken[i]) {
            LargeTaken[i] = true;
            entry->large = i;
        }
    ReleaseSRWLockExclusive(&WorkLock);
    return entry->large >= 0 ? &LargeBlocks[entry->large] : nullptr;
}

// Cuts the strip the entry's job made into its sheet, as the entry's routines lay it out, and
// writes the sheet under a temporary name; `used` then gets the strip's section, which is a spare
// from then on. Nothing when the picture is not a 24-bit section an image can hold, or the sheet
// is not to be made here: the batch's thread then takes the picture as before. Off the lock, on
// the thread that read the file.
void MakeSheet(AheadEntry *entry, SpareSection *used) {
    const LoadJob &job = entry->job;
    const ImageAheadSheet &plan = entry->sheet;
    DIBSECTION section{};
    if (!job.madeSection || GetObjectType(job.handle) != OBJ_BITMAP ||
        GetObjectA(job.handle, sizeof section, &section) != sizeof section)
        return;
    const BITMAPINFOHEADER &h = section.dsBmih;
    int32_t stripWidth = h.biWidth;
    int32_t stripHeight = h.biHeight < 0 ? -h.biHeight : h.biHeight;
    int32_t width = 0, height = 0;
    SheetRows sheet{};
    if (!section.dsBm.bmBits || h.biBitCount != 24 || h.biCompression != BI_RGB ||
        !ImageSizeFits(stripWidth, stripHeight) ||
        !plan.Size(plan.how, stripWidth, stripHeight, &width, &height) ||
        !SheetRowsDescribe(width, height, plan.formatId, plan.quality, 24, &sheet))
        return;
    auto slot = size_t(entry - Queue);
    KeptBlock *kept = &SheetBlocks[slot];
    if (sheet.header.biSizeImage > AheadSheetBytes) {
        if (plan.formatId != ImageFormatBmp || sheet.header.biSizeImage > AheadBitmapBytes ||
            !(kept = TakeLargeBlock(entry)))
            return;
    }
    uint8_t *block = KeptBlockOf(kept, SheetHeadRoom + sheet.header.biSizeImage);
    if (!block) return;

    uint8_t *rows = block + SheetHeadRoom;
    int64_t stride = sheet.stride;
    int64_t stripStride = section.dsBm.bmWidthBytes;
    auto *stripBits = static_cast<const uint8_t *>(section.dsBm.bmBits);
    bool topDown = job.madeSection == LoadedTopDown;
    plan.Draw(plan.how, topDown ? stripBits : stripBits + (stripHeight - 1) * stripStride,
              topDown ? stripStride : -stripStride, stripWidth, stripHeight,
              rows + (height - 1) * stride, -stride, width, height);
    ClearRowEnds(rows, width, height, stride, 24);
    sheet.rows = rows;
    sheet.headRoom = plan.formatId == ImageFormatBmp ? block : nullptr;
    sheet.gather = &GatherBlocks[slot];
    sheet.fileName = entry->sheetName;
    entry->sheetResult = WriteSheetTemporary(sheet, &entry->temporary);
    entry->sheetMade = true;
    *used = SpareSection{static_cast<HBITMAP>(job.handle),
                         section.dsBm.bmBits,
                         stripWidth,
                         stripHeight,
                         24,
                         job.madeSection};
    entry->job.handle = nullptr;
}

// Reads the entry's file into its job, with the latest spare section and `block`, and makes its
// sheet when one is asked for: called and returning under the lock, which is let go meanwhile.
// The batch's thread leaves an entry alone while it is being read.
void ReadEntry(AheadEntry *entry, KeptBlock *block) {
    entry->state = AheadState::Reading;
    LoadJob *job = &entry->job;
    job->block = block;
    job->onBatchThread = false;
    job->spare = SpareSection{};
    if (SpareCount > 0) std::swap(job->spare, Spares[--SpareCount]);
    ReleaseSRWLockExclusive(&WorkLock);
    LoadPictureFile(job);
    SpareSection used{};
    if (entry->sheet.Size && job->handle) MakeSheet(entry, &used);
    AcquireSRWLockExclusive(&WorkLock);
    SpareSection dropped = PushSpare(&used);
    SpareSectionDrop(&dropped);
    entry->state = AheadState::Done;
    WakeAllConditionVariable(&WorkChanged);
}

// Under the lock: drops the entries named before the file's, which the batch passed over (they
// would otherwise keep every file after them from being taken); false when it was not named.
bool ComeTo(const char *fileName) {
    int32_t at = 0;
    while (at < QueueCount && strcmp(Entry(at).fileName, fileName) != 0)
        at++;
    if (at == QueueCount) return false;
    for (; at > 0; at--) {
        WaitWhileReading(false);
        DropOldest();
    }
    return true;
}

// Under the lock, until the oldest entry is read. Rather than wait, the batch's thread does the
// work no worker has started: a file still waiting (one after it, while a worker reads this one),
// read with `block`, or a sheet.
void WaitForOldest(KeptBlock *block) {
    while (Entry(0).state != AheadState::Done)
        if (!RunWaitingWork(block)) SleepConditionVariableSRW(&WorkChanged, &WorkLock, INFINITE, 0);
}

// Drops the oldest entry, which the batch has taken, and lets go of the lock. The spares are kept
// only while a reading may still come, so that nothing stays behind a batch's last strip.
void DropOldestTaken() {
    DropOldest();
    WakeAllConditionVariable(&WorkChanged); // a file that waited for room may be read now
    SpareSection left[SpareRoom] = {};
    int32_t leftCount = 0;
    if (QueueCount == 0)
        while (SpareCount > 0)
            left[leftCount++] = Spares[--SpareCount];
    ReleaseSRWLockExclusive(&WorkLock);
    for (int32_t i = 0; i < leftCount; i++)
        SpareSectionDrop(&left[i]);
}

} // namespace

bool ReadWaitingFile(KeptBlock *block) {
    AheadEntry *waiting = OldestWaiting();
    if (waiting) ReadEntry(waiting, block);
    return waiting != nullptr;
}

void ImageLoadAhead(const char *fileName, const ImageAheadSheet *sheet) {
    AcquireSRWLockExclusive(&WorkLock);
    BatchHoldsPicture = false;
    if (!fileName) {
        WaitWhileReading(true);
        while (QueueCount > 0)
            DropOldest();
        DropSpares();
        ReleaseSRWLockExclusive(&WorkLock);
        return;
    }
    // A full queue holds a file that was never loaded: it makes room.
    if (QueueCount == AheadSize) {
        WaitWhileReading(false);
        DropOldest();
    }
    char *copy = MemoryTextCopy(fileName);
    // Without memory for the sheet's name the strip is still read ahead.
    char *sheetName = sheet && sheet->fileName ? MemoryTextCopy(sheet->fileName) : nullptr;
    if (copy && WorkersReady()) {
        AheadEntry &entry = Entry(QueueCount);
        entry = AheadEntry{};
        entry.fileName = copy;
        entry.state = AheadState::Waiting;
        entry.job.fileName = copy;
        if (sheetName) {
            entry.sheet = *sheet;
            entry.sheetName = sheetName;
            sheetName = nullptr;
        }
        QueueCount += 1;
        WakeAllConditionVariable(&WorkChanged);
    } else {
        MemoryFree(copy);
    }
    MemoryFree(sheetName);
    ReleaseSRWLockExclusive(&WorkLock);
}

bool TakeLoadedAhead(const char *fileName, int32_t flags, LoadJob *job, SpareSection *spare) {
    AcquireSRWLockExclusive(&WorkLock);
    if (flags != 0 || !ComeTo(fileName)) {
        ReleaseSRWLockExclusive(&WorkLock);
        return false;
    }
    // The number's section is a spare from now on: a thread that starts on the next file while this
    // one is waited for fills it.
    SpareSection dropped = PushSpare(spare);
    WaitForOldest(job->block);
    // A file no thread could make a picture of is loaded again by the batch's thread, which gives
    // the reason as it always has.
    LoadJob &made = Entry(0).job;
    bool taken = made.handle != nullptr;
    if (taken) {
        job->handle = made.handle;
        job->madeSection = made.madeSection;
        made.handle = nullptr;
        BatchHoldsPicture = true;
    }
    DropOldestTaken();
    SpareSectionDrop(&dropped);
    return taken;
}

int32_t ImageSheetAheadTake(ObjectId strip, const char *fileName, const char *sheetName) {
    AcquireSRWLockExclusive(&WorkLock);
    if (!ComeTo(fileName)) {
        ReleaseSRWLockExclusive(&WorkLock);
        return -1;
    }
    // As ImageLoad does, the number's section is a spare from now on, for a file read meanwhile.
    // Only the batch's thread drops entries: the file's stays first while the lock is let go.
    ReleaseSRWLockExclusive(&WorkLock);
    SpareSection spare = TakeSpare(strip);
    AcquireSRWLockExclusive(&WorkLock);
    SpareSection dropped = PushSpare(&spare);
    WaitForOldest(BatchBlock());
    AheadEntry &made = Entry(0);
    ReleaseSRWLockExclusive(&WorkLock);
    SpareSectionDrop(&dropped);
    // The picture, when no sheet was made of it, stays for ImageLoad; a sheet of another name
    // than the one now asked for is deleted with the entry.
    if (!made.sheetMade || strcmp(made.sheetName, sheetName) != 0) return -1;
    // A finished entry is the batch's thread's alone: its file is renamed off the lock, once the
    // saves of that name handed over before it are done.
    ImageSaveFailure result = made.sheetResult;
    if (result == ImageSaveFailure::None) {
        WaitForQueuedSaves(made.sheetName);
        result = RenameTemporary(&made.temporary, made.sheetName);
    }
    AcquireSRWLockExclusive(&WorkLock);
    DropOldestTaken();
    return SaveResult(result);
}

void LoadAheadEnd() {
    ImageLoadAhead(nullptr);
    AcquireSRWLockExclusive(&WorkLock);
    WorkersTrimBlocks();
    for (int32_t slot = 0; slot < AheadSize; slot++) {
        KeptBlockTrim(&SheetBlocks[slot]);
        KeptBlockTrim(&GatherBlocks[slot]);
    }
    for (KeptBlock &block : LargeBlocks)
        KeptBlockTrim(&block);
    ReleaseSRWLockExclusive(&WorkLock);
    BatchBlockRelease();
}
