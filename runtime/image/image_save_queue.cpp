// The background saves: the library's workers (image_workers.h) write the sheets handed over, the
// oldest first, and the batch's thread writes its own while it would wait for it; a large sheet of
// a heavy encoder is written on its slot's own thread. They run WriteSheetFile only, on rows copied
// for the job; the queue itself (its first job and count, each job's name and block) is kept by the
// batch's thread alone.
#include "runtime/image/image_save.h"

#include "runtime/image/image_workers.h"
#include "runtime/image/load_job.h"
#include "runtime/image/sheet_rows.h"
#include "runtime/memory/memory.h"

#include <process.h>

#include <cstdint>
#include <cstring>

namespace {

// A save handed over to the workers, or to the slot's own thread.
struct SaveJob {
    SheetRows sheet;
    // The slot's copy of the rows, kept for the next sheet up to KeptCopyBytes: under Wine fresh
    // memory costs a page fault for every 4 KB, and copying a 12 MB sheet into a fresh block took
    // 6 to 11 ms against 1.8 to 3.5 into a used one. The sheet's own block when it has one
    // (`sheet.block`) is freed as before.
    KeptBlock copy;
    KeptBlock gather; // the slot's, kept as `copy` is
    char *fileName;   // the job's own copy
    intptr_t tag;     // the caller's
    uint64_t order;   // when it was handed over: the oldest waiting is written first
    ImageSaveFailure result;
    bool ready;    // handed over, not yet taken up by a thread
    bool running;  // the file is not yet written or given up
    bool large;    // written on the slot's own thread
    HANDLE thread; // the slot's own, started when it first has a large sheet
    // What the slot's thread waits on, with WorkLock: woken only for its own sheet, so that idle
    // slots' threads are not woken by every change of the workers' queues.
    CONDITION_VARIABLE handed;
};

// A sheet of a heavy encoder (ImageEncoder::Heavy) over 4 MB is written on its slot's own thread.
// Compressing it takes many times as long as reading and cutting a strip. Written by the workers
// and the batch's thread, one whole sheet each, a core stood idle while the batch's thread cut the
// next strip and at a batch's end; on three threads of their own the sheets share the cores until
// the last is done. A large PNG sheet is the case; a small one, or a large JPEG sheet, is quicker
// to write than the strip is to read, and those were slower on threads of their own.
constexpr size_t OwnThreadBytes = size_t(4) << 20;

// Kept copies beyond this size are freed once their sheet is written: a 32-bit program keeps its
// address space for the largest strips.
constexpr size_t KeptCopyBytes = size_t(sizeof(void *) == 8 ? 32 : 4) << 20;

SaveJob Jobs[ImageSaveSlots];
int32_t JobFirst; // the oldest queued job
int32_t JobCount;
// The jobs' `order`, `ready`, `running` and `result` change only under WorkLock.
uint64_t HandedOver;

// Writes the job's sheet on this thread: called and returning under the lock, which is let go
// meanwhile.
void WriteJob(SaveJob &job) {
    job.ready = false;
    ReleaseSRWLockExclusive(&WorkLock);
    ImageSaveFailure result = WriteSheetFile(job.sheet);
    AcquireSRWLockExclusive(&WorkLock);
    job.result = result;
    job.running = false;
    WakeAllConditionVariable(&WorkChanged);
}

unsigned __stdcall SlotThread(void *argument) {
    auto &job = *static_cast<SaveJob *>(argument);
    AcquireSRWLockExclusive(&WorkLock);
    for (;;)
        if (job.ready && job.large)
            WriteJob(job);
        else
            SleepConditionVariableSRW(&job.handed, &WorkLock, INFINITE, 0);
}

bool SlotReady(SaveJob &job) {
    if (!job.thread)
        job.thread =
            reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, SlotThread, &job, 0, nullptr));
    return job.thread != nullptr;
}

void (*WhileWaiting)();
constexpr DWORD WaitingEveryMs = 50;

// Rather than wait, the batch's thread writes the job itself when no worker has taken it up, or
// does other work waiting. With a routine to call meanwhile, the wait wakes up every 50 ms; the
// wait itself stays within the process (no server call under Wine), so a sheet that is ready at
// once costs nothing more. Returns the job's result, read under the lock.
ImageSaveFailure WaitForJob(SaveJob &job) {
    AcquireSRWLockExclusive(&WorkLock);
    while (job.running) {
        if (job.ready && !job.large) {
            WriteJob(job);
            continue;
        }
        if (RunWaitingWork(BatchBlock())) continue;
        DWORD bound = WhileWaiting ? WaitingEveryMs : INFINITE;
        if (SleepConditionVariableSRW(&WorkChanged, &WorkLock, bound, 0) || !WhileWaiting) continue;
        ReleaseSRWLockExclusive(&WorkLock);
        WhileWaiting();
        AcquireSRWLockExclusive(&WorkLock);
    }
    ImageSaveFailure result = job.result;
    ReleaseSRWLockExclusive(&WorkLock);
    return result;
}

} // namespace

bool WriteWaitingSheet() {
    SaveJob *oldest = nullptr;
    for (SaveJob &job : Jobs)
        if (job.ready && !job.large && (!oldest || job.order < oldest->order)) oldest = &job;
    if (oldest) WriteJob(*oldest);
    return oldest != nullptr;
}

void WaitForQueuedSaves(const char *fileName) {
    for (int32_t i = 0; i < JobCount; i++) {
        SaveJob &job = Jobs[(JobFirst + i) % ImageSaveSlots];
        if (lstrcmpiA(job.fileName, fileName) == 0) WaitForJob(job);
    }
}

int32_t ImageSaveStart(ObjectId id, const char *fileName, int32_t formatId, int32_t quality,
                       intptr_t tag) {
    SaveResult(ImageSaveFailure::NotWritten);
    if (JobCount == ImageSaveSlots) return 0;
    SheetRows sheet{};
    if (!TakeSheetRows(id, fileName, formatId, quality, &sheet)) return 0;
    SaveJob &job = Jobs[(JobFirst + JobCount) % ImageSaveSlots];
    job.fileName = MemoryTextCopy(fileName);
    if (!job.fileName) {
        MemoryFree(sheet.block);
        return 0;
    }
    WaitForQueuedSaves(fileName);
    sheet.fileName = job.fileName;

    // The image may change as soon as this returns: the job writes its own copy of the rows.
    // A sheet too large to copy twice over is written here and now instead.
    size_t bytes = sheet.header.biSizeImage;
    bool copied = sheet.block != nullptr;
    // A bitmap file's headers go right before its rows, so that it is written from the copy.
    size_t room = formatId == ImageFormatBmp ? SheetHeadRoom : 0;
    uint8_t *copy = !copied && int64_t(bytes) <= ImageSaveCopyBytes
                        ? KeptBlockOf(&job.copy, room + bytes, 1)
                        : nullptr;
    if (copy) {
        sheet.rows = static_cast<uint8_t *>(memcpy(copy + room, sheet.rows, bytes));
        sheet.headRoom = room ? copy : nullptr;
        copied = true;
    }
    if (copied) sheet.gather = &job.gather; // written on whichever thread takes the job
    job.sheet = sheet;
    job.tag = tag;
    JobCount += 1;
    job.large = sheet.heavy && bytes > OwnThreadBytes;
    bool queued = copied && (job.large ? SlotReady(job) : WorkersReady());
    // Written here, the result still goes in under the lock, as every change of it does.
    ImageSaveFailure result = queued ? ImageSaveFailure::None : WriteSheetFile(sheet);
    AcquireSRWLockExclusive(&WorkLock);
    if (queued) {
        job.running = true;
        job.ready = true;
        job.order = ++HandedOver;
        if (job.large)
            WakeConditionVariable(&job.handed);
        else
            WakeAllConditionVariable(&WorkChanged);
    } else {
        job.result = result;
    }
    ReleaseSRWLockExclusive(&WorkLock);
    return SaveResult(ImageSaveFailure::None);
}

void ImageSaveWhileWaiting(void (*routine)()) {
    WhileWaiting = routine;
}

int32_t ImageSavesQueued() {
    return JobCount;
}

int32_t ImageSaveFinish(intptr_t *tag) {
    if (tag) *tag = 0;
    if (JobCount == 0) return SaveResult(ImageSaveFailure::NotWritten);
    SaveJob &job = Jobs[JobFirst];
    ImageSaveFailure result = WaitForJob(job);
    if (tag) *tag = job.tag;
    MemoryFree(job.sheet.block);
    KeptBlockTrim(&job.copy, KeptCopyBytes);
    MemoryFree(job.fileName);
    job.sheet = SheetRows{};
    job.fileName = nullptr;
    job.tag = 0;
    JobFirst = (JobFirst + 1) % ImageSaveSlots;
    JobCount -= 1;
    return SaveResult(result);
}

void ImageSaveFinishAll() {
    while (JobCount > 0)
        ImageSaveFinish();
    for (SaveJob &job : Jobs) {
        KeptBlockTrim(&job.copy);
        KeptBlockTrim(&job.gather);
    }
    BatchGatherRelease();
}
