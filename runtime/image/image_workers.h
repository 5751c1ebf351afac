// The library's background threads, inside the image library only: they read the strips a batch
// names ahead (image_load_ahead.cpp) and write the sheets it hands over (image_save_queue.cpp).
// Both kinds of work share one lock and one set of threads, one fewer than the processors, so
// that a thread free of one kind takes the other and the batch's thread, with the workers, keeps
// every core busy without more threads than cores: on two cores a reading thread and three saving
// threads of their own left the thread the batch waited for queued behind the others. Only a large
// sheet of a heavy encoder still has a thread of its own (image_save_queue.cpp).
//
// Threads: a worker, and the batch's thread while it would wait, run LoadPictureFile on an entry
// named ahead and make its sheet when one was asked for (load_job.h says what they may use there),
// and WriteSheetFile on a sheet's copied rows (the file system, the encoders, the C runtime and
// MainHeap), and nothing else. Everything else of the queues is kept by the batch's thread, as
// each half says.
#pragma once

#include "runtime/memory/memory.h"

#include <windows.h>

// The queues' shared state changes only under the lock; the waits stay within the process (a
// condition variable: under Wine an event costs a round trip through its server).
extern SRWLOCK WorkLock;
extern CONDITION_VARIABLE WorkChanged;

// Starts the workers when first asked; false when not one could be started.
bool WorkersReady();

// Under the lock: does one piece of waiting work on this thread, letting go of the lock meanwhile,
// a file named ahead first (read into `block`), else the oldest sheet handed over to the workers.
// False when nothing waits.
bool RunWaitingWork(KeptBlock *block);

// Frees the blocks the workers keep for the files they read; under the lock, no file being read.
void WorkersTrimBlocks();

// One half's piece of RunWaitingWork, under the lock: false when that half has nothing waiting.
bool ReadWaitingFile(KeptBlock *block); // image_load_ahead.cpp
bool WriteWaitingSheet();               // image_save_queue.cpp
