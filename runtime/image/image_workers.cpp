// The workers the reading ahead and the background saves share.
#include "runtime/image/image_workers.h"

#include <process.h>

#include <cstdint>

SRWLOCK WorkLock = SRWLOCK_INIT;
CONDITION_VARIABLE WorkChanged = CONDITION_VARIABLE_INIT;

namespace {

// Two pictures read ahead and three sheets saved at most, beside the batch's thread: more workers
// than four would seldom find anything to do.
constexpr int32_t MostWorkers = 4;

struct Worker {
    HANDLE thread;
    // The block the worker reads files into, kept from one batch to the next up to a size as the
    // batch's thread keeps its own.
    KeptBlock block;
};

Worker Workers[MostWorkers];
int32_t WorkerCount; // started; changed on the batch's thread only

unsigned __stdcall WorkerThread(void *argument) {
    auto *worker = static_cast<Worker *>(argument);
    AcquireSRWLockExclusive(&WorkLock);
    for (;;)
        if (!RunWaitingWork(&worker->block))
            SleepConditionVariableSRW(&WorkChanged, &WorkLock, INFINITE, 0);
}

int32_t WorkersWanted() {
    SYSTEM_INFO info;
    GetSystemInfo(&info);
    int32_t others = int32_t(info.dwNumberOfProcessors) - 1;
    return others < 1 ? 1 : others > MostWorkers ? MostWorkers : others;
}

} // namespace

bool WorkersReady() {
    // A thread is started once and kept: under Wine starting one costs as much as writing a small
    // sheet.
    for (int32_t wanted = WorkersWanted(); WorkerCount < wanted; WorkerCount++) {
        Worker &worker = Workers[WorkerCount];
        worker.thread =
            reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, WorkerThread, &worker, 0, nullptr));
        if (!worker.thread) break;
    }
    return WorkerCount > 0;
}

bool RunWaitingWork(KeptBlock *block) {
    return ReadWaitingFile(block) || WriteWaitingSheet();
}

void WorkersTrimBlocks() {
    for (Worker &worker : Workers)
        KeptBlockTrim(&worker.block);
}
