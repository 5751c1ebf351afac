// Reading strips ahead: the library's workers (image_workers.h) open, read and decode the files a
// batch will load next while the batch's thread cuts the last one and hands its sheet over. The
// queue (names, order, taking and dropping) is kept by the batch's thread; a worker runs
// LoadPictureFile only, on the entry it claimed, and changes nothing else. A batch's thread that
// would wait for its file does the work waiting meanwhile, as a worker would.
#include "runtime/image/image_workers.h"
#include "runtime/image/load_job.h"
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
};

// The file the batch loads next and the one after it, oldest first, in a ring: an entry never
// moves while it is read. A worker reads the next one as soon as it is free, without waiting for
// the batch to take the last, and the batch's thread reads one while it would wait: decoding is
// most of a JPEG strip's work, and two files read at once keep both cores busy where one thread
// alone set the pace.
constexpr int32_t AheadSize = 2;
AheadEntry Queue[AheadSize];
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

// The oldest entry waiting for a thread, or null; under the lock.
AheadEntry *OldestWaiting() {
    for (int32_t i = 0; i < QueueCount; i++)
        if (Entry(i).state == AheadState::Waiting) return &Entry(i);
    return nullptr;
}

// Reads the entry's file into its job, with the latest spare section and `block`: called and
// returning under the lock, which is let go meanwhile. The batch's thread leaves an entry alone
// while it is being read.
void ReadEntry(AheadEntry *entry, KeptBlock *block) {
    entry->state = AheadState::Reading;
    LoadJob *job = &entry->job;
    job->block = block;
    job->onBatchThread = false;
    job->spare = SpareSection{};
    if (SpareCount > 0) std::swap(job->spare, Spares[--SpareCount]);
    ReleaseSRWLockExclusive(&WorkLock);
    LoadPictureFile(job);
    AcquireSRWLockExclusive(&WorkLock);
    entry->state = AheadState::Done;
    WakeAllConditionVariable(&WorkChanged);
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
    MemoryFree(oldest.fileName);
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

} // namespace

bool ReadWaitingFile(KeptBlock *block) {
    AheadEntry *waiting = OldestWaiting();
    if (waiting) ReadEntry(waiting, block);
    return waiting != nullptr;
}

void ImageLoadAhead(const char *fileName) {
    AcquireSRWLockExclusive(&WorkLock);
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
    size_t size = strlen(fileName) + 1;
    auto *copy = static_cast<char *>(MemoryAlloc(size));
    if (copy && WorkersReady()) {
        memcpy(copy, fileName, size);
        AheadEntry &entry = Entry(QueueCount);
        entry = AheadEntry{};
        entry.fileName = copy;
        entry.state = AheadState::Waiting;
        entry.job.fileName = copy;
        QueueCount += 1;
        WakeAllConditionVariable(&WorkChanged);
    } else {
        MemoryFree(copy);
    }
    ReleaseSRWLockExclusive(&WorkLock);
}

bool TakeLoadedAhead(const char *fileName, int32_t flags, LoadJob *job, SpareSection *spare) {
    AcquireSRWLockExclusive(&WorkLock);
    int32_t at = 0;
    while (at < QueueCount && strcmp(Entry(at).fileName, fileName) != 0)
        at++;
    if (flags != 0 || at == QueueCount) {
        ReleaseSRWLockExclusive(&WorkLock);
        return false;
    }
    // Files are loaded in the order they were named: those named before this one and not loaded
    // were passed over, and would otherwise keep every file after them from being taken.
    for (; at > 0; at--) {
        WaitWhileReading(false);
        DropOldest();
    }
    // The number's section is a spare from now on: a thread that starts on the next file while this
    // one is waited for fills it.
    SpareSection dropped = PushSpare(spare);
    // Rather than wait, the batch's thread does the work no worker has started: a file still
    // waiting (the one after it, while a worker reads this one), read with its own block, or a
    // sheet.
    while (Entry(0).state != AheadState::Done)
        if (!RunWaitingWork(job->block))
            SleepConditionVariableSRW(&WorkChanged, &WorkLock, INFINITE, 0);
    // A file no thread could make a picture of is loaded again by the batch's thread, which gives
    // the reason as it always has.
    LoadJob &made = Entry(0).job;
    bool taken = made.handle != nullptr;
    if (taken) {
        job->handle = made.handle;
        job->madeSection = made.madeSection;
        made.handle = nullptr;
    }
    DropOldest();
    // Kept only while a reading may still come, so that nothing stays behind a batch's last strip.
    SpareSection left[SpareRoom] = {};
    int32_t leftCount = 0;
    if (QueueCount == 0)
        while (SpareCount > 0)
            left[leftCount++] = Spares[--SpareCount];
    ReleaseSRWLockExclusive(&WorkLock);
    SpareSectionDrop(&dropped);
    for (int32_t i = 0; i < leftCount; i++)
        SpareSectionDrop(&left[i]);
    return taken;
}

void LoadAheadEnd() {
    ImageLoadAhead(nullptr);
    AcquireSRWLockExclusive(&WorkLock);
    WorkersTrimBlocks();
    ReleaseSRWLockExclusive(&WorkLock);
    BatchBlockRelease();
}
