// The background saves: each slot of the queue has a thread that writes one sheet at a time. The
// threads run WriteSheetFile only, on rows copied for them; the queue itself (its first job and
// count, each job's name and block) is kept by the batch's thread alone.
#include "runtime/image/image_save.h"

#include "runtime/image/sheet_rows.h"
#include "runtime/memory/memory.h"

#include <process.h>

#include <cstring>

namespace {

// A save under way on a thread of its own. Each slot has one thread, started when the slot is
// first used and kept: starting a thread costs as much as writing a small sheet under Wine.
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
    ImageSaveFailure result;
    bool ready;   // handed to the thread, not yet taken up
    bool running; // the file is not yet written or given up
    HANDLE thread;
};

// Kept copies beyond this size are freed once their sheet is written: a 32-bit program keeps its
// address space for the largest strips.
constexpr size_t KeptCopyBytes = size_t(sizeof(void *) == 8 ? 32 : 4) << 20;

SaveJob Jobs[ImageSaveSlots];
int32_t JobFirst; // the oldest queued job
int32_t JobCount;

// The jobs' `ready`, `running` and `result` change only under the lock. A condition variable
// waits within the process: under Wine an event costs a round trip through its server, about
// as long as writing a small sheet.
SRWLOCK JobLock = SRWLOCK_INIT;
CONDITION_VARIABLE JobChanged = CONDITION_VARIABLE_INIT;

unsigned __stdcall SaveThread(void *argument) {
    auto *job = static_cast<SaveJob *>(argument);
    AcquireSRWLockExclusive(&JobLock);
    for (;;) {
        while (!job->ready)
            SleepConditionVariableSRW(&JobChanged, &JobLock, INFINITE, 0);
        job->ready = false;
        ReleaseSRWLockExclusive(&JobLock);
        ImageSaveFailure result = WriteSheetFile(job->sheet);
        AcquireSRWLockExclusive(&JobLock);
        job->result = result;
        job->running = false;
        WakeAllConditionVariable(&JobChanged);
    }
}

bool SlotReady(SaveJob &job) {
    if (!job.thread)
        job.thread =
            reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, SaveThread, &job, 0, nullptr));
    return job.thread != nullptr;
}

void (*WhileWaiting)();
constexpr DWORD WaitingEveryMs = 50;

// With a routine to call meanwhile, the wait wakes up every 50 ms; the wait itself stays within
// the process (no server call under Wine), so a sheet that is ready at once costs nothing more.
// Returns the job's result, read under the lock.
ImageSaveFailure WaitForJob(SaveJob &job) {
    AcquireSRWLockExclusive(&JobLock);
    while (job.running) {
        DWORD bound = WhileWaiting ? WaitingEveryMs : INFINITE;
        if (SleepConditionVariableSRW(&JobChanged, &JobLock, bound, 0) || !WhileWaiting) continue;
        ReleaseSRWLockExclusive(&JobLock);
        WhileWaiting();
        AcquireSRWLockExclusive(&JobLock);
    }
    ImageSaveFailure result = job.result;
    ReleaseSRWLockExclusive(&JobLock);
    return result;
}

} // namespace

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
    if (copied) sheet.gather = &job.gather; // written on the slot's thread
    job.sheet = sheet;
    job.tag = tag;
    JobCount += 1;
    bool queued = copied && SlotReady(job);
    // Written here, the result still goes in under the lock, as every change of it does.
    ImageSaveFailure result = queued ? ImageSaveFailure::None : WriteSheetFile(sheet);
    AcquireSRWLockExclusive(&JobLock);
    if (queued) {
        job.running = true;
        job.ready = true;
        WakeAllConditionVariable(&JobChanged);
    } else {
        job.result = result;
    }
    ReleaseSRWLockExclusive(&JobLock);
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
