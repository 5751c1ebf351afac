// The clock the benchmark times both ways with, so that their figures compare.
#pragma once

#include <windows.h>

#include <cstdint>

inline int64_t Ticks() {
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return now.QuadPart;
}

inline int64_t Microseconds(int64_t ticks) {
    static const int64_t frequency = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return f.QuadPart;
    }();
    return ticks * 1000000 / frequency;
}
