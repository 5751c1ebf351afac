// Reading strips ahead: a thread of the library's own opens, reads and decodes the file a batch
// will load next while the batch's thread cuts the last one and hands its sheet over. The queue
// (names, order, taking and dropping) is kept by the batch's thread; the thread runs
// LoadPictureFile only, on the oldest entry, and changes nothing else.
#include "runtime/image/load_job.h"
#include "runtime/memory/memory.h"

#include <process.h>

#include <cstring>

namespace {

// A file named to the thread: waiting for its turn, being read, or read (its job holds the
// bitmap, or why there is none).
enum class AheadState { Waiting, Reading, Done };

struct AheadEntry {
    char *fileName; // the entry's own copy
    AheadState state;
    LoadJob job;
};

// The file the batch loads next and the one after it, oldest first. Only the oldest is read: the
// next one waits until the batch has taken it, and then gets the section the batch's number let
// go of, which it fills again when the sizes agree.
constexpr int32_t AheadSize = 2;
AheadEntry Queue[AheadSize];
int32_t QueueCount;

// The entries' `state` and the count change only under the lock; the waits stay within the
// process (a condition variable, no call to Wine's server).
SRWLOCK QueueLock = SRWLOCK_INIT;
CONDITION_VARIABLE QueueChanged = CONDITION_VARIABLE_INIT;
HANDLE Thread;
// The block the thread reads files into: its own while it runs, freed once the queue is empty.
FileBlock ThreadBlock;

unsigned __stdcall AheadThread(void *) {
    AcquireSRWLockExclusive(&QueueLock);
    for (;;) {
        while (QueueCount == 0 || Queue[0].state != AheadState::Waiting)
            SleepConditionVariableSRW(&QueueChanged, &QueueLock, INFINITE, 0);
        // The batch's thread leaves an entry alone while it is being read.
        LoadJob *job = &Queue[0].job;
        Queue[0].state = AheadState::Reading;
        ReleaseSRWLockExclusive(&QueueLock);
        LoadPictureFile(job);
        AcquireSRWLockExclusive(&QueueLock);
        Queue[0].state = AheadState::Done;
        WakeAllConditionVariable(&QueueChanged);
    }
}

// Waits, under the lock, until the oldest entry is not being read.
void WaitWhileReading() {
    while (QueueCount > 0 && Queue[0].state == AheadState::Reading)
        SleepConditionVariableSRW(&QueueChanged, &QueueLock, INFINITE, 0);
}

// Removes the oldest entry, which is not being read, with whatever it made; under the lock.
void DropOldest() {
    AheadEntry &oldest = Queue[0];
    if (oldest.state == AheadState::Done && oldest.job.handle)
        DeleteObject(oldest.job.handle); // always a section: icons are left to the batch
    SpareSectionDrop(&oldest.job.spare);
    MemoryFree(oldest.fileName);
    for (int32_t i = 1; i < QueueCount; i++)
        Queue[i - 1] = Queue[i];
    QueueCount -= 1;
    Queue[QueueCount] = AheadEntry{};
}

bool ThreadReady() {
    if (!Thread)
        Thread =
            reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, AheadThread, nullptr, 0, nullptr));
    return Thread != nullptr;
}

} // namespace

void ImageLoadAhead(const char *fileName) {
    AcquireSRWLockExclusive(&QueueLock);
    if (!fileName) {
        WaitWhileReading();
        while (QueueCount > 0)
            DropOldest();
        FileBlockRelease(&ThreadBlock);
        ReleaseSRWLockExclusive(&QueueLock);
        return;
    }
    // A full queue holds a file that was never loaded: it makes room.
    if (QueueCount == AheadSize) {
        WaitWhileReading();
        DropOldest();
    }
    size_t size = strlen(fileName) + 1;
    auto *copy = static_cast<char *>(MemoryAlloc(size));
    if (copy && ThreadReady()) {
        memcpy(copy, fileName, size);
        AheadEntry &entry = Queue[QueueCount];
        entry = AheadEntry{};
        entry.fileName = copy;
        entry.state = AheadState::Waiting;
        entry.job.fileName = copy;
        entry.job.block = &ThreadBlock;
        QueueCount += 1;
        WakeAllConditionVariable(&QueueChanged);
    } else {
        MemoryFree(copy);
    }
    ReleaseSRWLockExclusive(&QueueLock);
}

bool TakeLoadedAhead(const char *fileName, int32_t flags, LoadJob *job, SpareSection *spare) {
    AcquireSRWLockExclusive(&QueueLock);
    if (flags != 0 || QueueCount == 0 || strcmp(Queue[0].fileName, fileName) != 0) {
        ReleaseSRWLockExclusive(&QueueLock);
        return false;
    }
    while (Queue[0].state != AheadState::Done)
        SleepConditionVariableSRW(&QueueChanged, &QueueLock, INFINITE, 0);
    // A file the thread could not make a picture of is loaded again by the batch's thread, which
    // gives the reason as it always has.
    LoadJob &made = Queue[0].job;
    bool taken = made.handle != nullptr;
    if (taken) {
        job->handle = made.handle;
        job->madeSection = made.madeSection;
        made.handle = nullptr;
    }
    DropOldest();
    if (taken && QueueCount > 0) {
        Queue[0].job.spare = *spare;
        *spare = SpareSection{};
    }
    WakeAllConditionVariable(&QueueChanged);
    ReleaseSRWLockExclusive(&QueueLock);
    if (taken) SpareSectionDrop(spare);
    return taken;
}
