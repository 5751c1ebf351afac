// Reading strips ahead: a thread of the library's own opens, reads and decodes the files a batch
// will load next while the batch's thread cuts the last one and hands its sheet over. The queue
// (names, order, taking and dropping) is kept by the batch's thread; the reading thread runs
// LoadPictureFile only, on the entry it claimed, and changes nothing else.
#include "runtime/image/load_job.h"
#include "runtime/memory/memory.h"

#include <process.h>

#include <cstring>

namespace {

// A file named to be read: waiting for the thread, being read, or read (its job holds the
// bitmap, or why there is none).
enum class AheadState { Waiting, Reading, Done };

struct AheadEntry {
    char *fileName; // the entry's own copy
    AheadState state;
    LoadJob job;
};

// The file the batch loads next and the one after it, oldest first, in a ring: an entry never
// moves while it is read. The thread reads the next one as soon as it is free, without waiting
// for the batch to take the last. One thread: two reading at once measured no faster (JPEG strips
// 1.33 to 1.43 times the two-core floor either way) and held one strip more.
constexpr int32_t AheadSize = 2;
constexpr int32_t ReadingThreads = 1;
AheadEntry Queue[AheadSize];
int32_t QueueFirst;
int32_t QueueCount;

// The entries' `state`, the queue's first and count and the spare change only under the lock; the
// waits stay within the process (a condition variable, no call to Wine's server).
SRWLOCK QueueLock = SRWLOCK_INIT;
CONDITION_VARIABLE QueueChanged = CONDITION_VARIABLE_INIT;
HANDLE Threads[ReadingThreads];
// The section the batch's number let go of when it took a picture: the next reading fills it again
// when the sizes agree.
SpareSection Spare;
// The blocks the reading thread reads files into, freed once the queue is empty.
FileBlock Blocks[ReadingThreads];

AheadEntry &Entry(int32_t i) {
    return Queue[(QueueFirst + i) % AheadSize];
}

// The oldest entry waiting for a thread, or null; under the lock.
AheadEntry *OldestWaiting() {
    for (int32_t i = 0; i < QueueCount; i++)
        if (Entry(i).state == AheadState::Waiting) return &Entry(i);
    return nullptr;
}

unsigned __stdcall AheadThread(void *argument) {
    FileBlock *block = static_cast<FileBlock *>(argument);
    AcquireSRWLockExclusive(&QueueLock);
    for (;;) {
        AheadEntry *entry;
        while (!(entry = OldestWaiting()))
            SleepConditionVariableSRW(&QueueChanged, &QueueLock, INFINITE, 0);
        // The batch's thread leaves an entry alone while it is being read.
        entry->state = AheadState::Reading;
        LoadJob *job = &entry->job;
        job->block = block;
        job->spare = Spare;
        Spare = SpareSection{};
        ReleaseSRWLockExclusive(&QueueLock);
        LoadPictureFile(job);
        AcquireSRWLockExclusive(&QueueLock);
        entry->state = AheadState::Done;
        WakeAllConditionVariable(&QueueChanged);
    }
}

// Waits, under the lock, until the oldest entry (or, with `all`, every entry) is not being read.
void WaitWhileReading(bool all) {
    for (int32_t i = 0; i < (all ? QueueCount : 1) && i < QueueCount;) {
        if (Entry(i).state == AheadState::Reading) {
            SleepConditionVariableSRW(&QueueChanged, &QueueLock, INFINITE, 0);
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

bool ThreadsReady() {
    for (int32_t i = 0; i < ReadingThreads; i++)
        if (!Threads[i])
            Threads[i] = reinterpret_cast<HANDLE>(
                _beginthreadex(nullptr, 0, AheadThread, &Blocks[i], 0, nullptr));
    return Threads[0] != nullptr;
}

} // namespace

void ImageLoadAhead(const char *fileName) {
    AcquireSRWLockExclusive(&QueueLock);
    if (!fileName) {
        WaitWhileReading(true);
        while (QueueCount > 0)
            DropOldest();
        SpareSectionDrop(&Spare);
        for (FileBlock &block : Blocks)
            FileBlockRelease(&block);
        ReleaseSRWLockExclusive(&QueueLock);
        return;
    }
    // A full queue holds a file that was never loaded: it makes room.
    if (QueueCount == AheadSize) {
        WaitWhileReading(false);
        DropOldest();
    }
    size_t size = strlen(fileName) + 1;
    auto *copy = static_cast<char *>(MemoryAlloc(size));
    if (copy && ThreadsReady()) {
        memcpy(copy, fileName, size);
        AheadEntry &entry = Entry(QueueCount);
        entry = AheadEntry{};
        entry.fileName = copy;
        entry.state = AheadState::Waiting;
        entry.job.fileName = copy;
        QueueCount += 1;
        WakeAllConditionVariable(&QueueChanged);
    } else {
        MemoryFree(copy);
    }
    ReleaseSRWLockExclusive(&QueueLock);
}

bool TakeLoadedAhead(const char *fileName, int32_t flags, LoadJob *job, SpareSection *spare) {
    AcquireSRWLockExclusive(&QueueLock);
    if (flags != 0 || QueueCount == 0 || strcmp(Entry(0).fileName, fileName) != 0) {
        ReleaseSRWLockExclusive(&QueueLock);
        return false;
    }
    while (Entry(0).state != AheadState::Done)
        SleepConditionVariableSRW(&QueueChanged, &QueueLock, INFINITE, 0);
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
    SpareSection dropped[2] = {};
    if (taken) {
        dropped[0] = Spare;
        Spare = *spare;
        *spare = SpareSection{};
        if (QueueCount == 0) {
            dropped[1] = Spare;
            Spare = SpareSection{};
        }
    }
    ReleaseSRWLockExclusive(&QueueLock);
    for (SpareSection &section : dropped)
        SpareSectionDrop(&section);
    return taken;
}
