// The process entry: brings the runtime up, runs the batch, shuts down.
#include "runtime/memory/memory.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    ModuleHandle = GetModuleHandleA(nullptr);
    MainHeapInit();
    ObjectHeapInit();
    HeapDestroy(MainHeap);
    ExitProcess(0);
}
